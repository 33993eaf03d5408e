/* Frame-synchronous word search over grammars of context-bound words.
 *
 * Contract:
 *  - createSearch compiles grammars (word positions) and word graphs
 *    (nodes bound to probability entries) into one network: every word
 *    position gets its own copy of the word's nodes. A word-final node has
 *    one exit group leading to the initial nodes of the positions that may
 *    follow (in the same grammar, or, after a grammar's final positions,
 *    the entries of the next grammar in the list). The first grammar is
 *    initial, the last final (a single grammar is both).
 *  - Penalties: a value v > 0 is a probability and counts as ln v; a value
 *    <= 0 is a log already (Search_Penalty).
 *  - updateSearch takes one frame of natural-log category scores and does
 *    one Viterbi step: every node may stay (self loop) or pass to its
 *    successors; a word-final node may leave through its exit group, which
 *    costs grammarscale * the group's score + shortpen + crossmodel and
 *    takes a backtrace record {flag 1, linkA previous record, linkB word
 *    index, value end frame} from the pool. The word entry at frame 0 costs
 *    grammarscale * entry score + shortpen. Then the node's category
 *    score is added, and longpen for a frame spent in a filler: a node
 *    whose entry's model name begins with "." (a pause or garbage model).
 *  - Pruning: with pruning p in (0, 1), nodes scoring below the frame's
 *    best + SEARCH_BEAM_SCALE * ln(p) are dropped; p <= 0 or p >= 1 keeps
 *    all.
 *  - When the pool has no free record, the search frees the records that
 *    no live hypothesis reaches (a pool serves one search between resets),
 *    then grows the pool; updateSearch answers 0 only when the pool cannot
 *    grow (message in the search's errorText).
 *  - findSearchBest traces the best hypothesis that ends a sentence: word
 *    segments [begin, end) in frames with the score each added. With no
 *    such hypothesis it gives no words and leaves *score as passed.
 *  - With phonemebt, leaving a node also takes a record {flag 1, linkA
 *    previous record, linkB -2 - category, value end frame}, and
 *    findSearchBest gives the phone segments as well.
 */
#ifndef TOVIK_SEARCH_H
#define TOVIK_SEARCH_H

#include <stdint.h>

#include "nevrin.h"
#include "result.h"
#include "word.h"

#ifdef __cplusplus
extern "C" {
#endif

#define SEARCH_BEAM_SCALE 100.0f

enum { GR_INIT = 2, GR_NORMAL = 3, GR_FINAL = 5, GR_INITFINAL = 6 };
enum { SN_INITIAL = 2, SN_NORMAL = 3, SN_FINAL = 4, SN_INITFINAL = 5 };

typedef struct SearchGroup {
    int32_t count;
    int32_t *targetGrammar;
    int32_t *targetNode;
    float *score;
} SearchGroup;

typedef struct SearchNode {
    int32_t number;
    int32_t nameIndex;     /* probability entry: the score column */
    int32_t position;      /* word position in the grammar */
    int32_t wordNode;      /* node of the word graph */
    int32_t numSuccessors;
    int32_t *successors;   /* ends with -1 */
    int32_t numExitGroups;
    int32_t *exitGroups;   /* ends with -1 */
    int32_t wordIndex;
    int32_t kind;
} SearchNode;

typedef struct SearchGrammar {
    char *name;
    int32_t kind;
    int32_t numNodes;
    SearchNode *nodes;
    int32_t numGroups;
    SearchGroup *groups;
    int32_t numEntries;
    int32_t *entries;   /* entry nodes, each with its score in entryScores */
    float *entryScores;
} SearchGrammar;

typedef struct SearchState SearchState;

typedef struct GrammarSearch {
    int32_t numGrammars;
    SearchGrammar *grammars;
    float pruning;
    float shortpen;
    float longpen;
    float framesize;
    int32_t phonemebt;
    int32_t numWords;
    char **wordNames;
    int32_t numNodeNames;
    char **nodeNames;
    float grammarscale;
    float crossmodel;
    int32_t numCategories;
    char errorText[128];
    SearchState *state;
} GrammarSearch;

typedef struct SearchSegment {
    const char *label; /* the search's own text */
    float score;
    int32_t begin;
    int32_t end;
    int32_t extra[2];
} SearchSegment;

GrammarSearch *createSearch(GS_Result *r, const ProbNames *names, WordGrammar **grammars, int numGrammars,
                            WordGraph **words, int numWords, float pruning, float shortpen, float longpen,
                            float framesize, int phonemebt);
int updateSearch(GrammarSearch *s, NevrinPool *pool, const float *logScores);
const char *findSearchBest(GrammarSearch *s, NevrinPool *pool, SearchSegment **words, int *numWords,
                           SearchSegment **phones, int *numPhones, float *score);
/* A penalty as a natural log: ln v for v > 0, v itself otherwise. */
float Search_Penalty(float v);
/* out[c] = ln(max(row[c], floor)); a NaN counts as the floor. */
void Search_LogRow(const float *row, int count, float floor, float *out);
void resetSearch(GrammarSearch *s);
void nukeSearch(GrammarSearch *s);

#ifdef __cplusplus
}
#endif

#endif
