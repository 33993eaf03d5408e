/* Isolated-word search over a lexical prefix tree, with filler ("any")
 * models before and after the word.
 *
 * Contract:
 *  - buildTreeSearch merges every pronunciation of every context-bound
 *    word into one prefix tree over probability entries; a node lists the
 *    words whose pronunciation ends there. Names: the words, then the
 *    probability entries (a node's nameIndex points at its entry).
 *  - The utterance is any* word any*. An any model scores a frame with its
 *    entry's log score, or with the frame's best score for the name "*",
 *    plus its own score (a log offset); the best any model serves each
 *    frame.
 *  - Penalties: a stored value v > 0 is a probability and counts as ln v, a
 *    value <= 0 is a log already (so values stored as given and values
 *    stored as logs mean the same). shortpen is added at the word's entry,
 *    longpen for every frame spent in an any model.
 *  - Pruning p in (0, 1): tree nodes below the frame's best +
 *    TREE_BEAM_SCALE * ln p are dropped.
 *  - searchTreeNextBest answers distinct words by falling score (index
 *    into names), -1 when none is left; with a pool it gives the segments
 *    (leading any, word, trailing any; empty ones left out), each with the
 *    score it added, so that they sum to the hypothesis's score. The pool
 *    is not written to: begin and end frames travel with the hypotheses.
 */
#ifndef TOVIK_TREE_H
#define TOVIK_TREE_H

#include <stdint.h>

#include "nevrin.h"
#include "result.h"
#include "search.h"
#include "word.h"

#ifdef __cplusplus
extern "C" {
#endif

#define TREE_BEAM_SCALE 100.0f

typedef struct TreeAnyModel {
    float score;
    int16_t model; /* probability entry; -1 for "*" */
} TreeAnyModel;

typedef struct TreeAnyInput {
    const char *name;
    float score;
} TreeAnyInput;

typedef struct TreeHolder {
    int32_t *word, *score, *begin, *end, *leadEnd, *trailBegin; /* nbest entries each; score as float bits */
    int16_t size;
} TreeHolder;

typedef struct TreeNode {
    int32_t *successors;
    int32_t numSuccessors;
    int16_t category, depth, numWords, parent;
    int32_t number;
    int32_t nameIndex;
    int16_t firstWord; /* a word ending here, -1 for none */
} TreeNode;

typedef struct TreeSearchState TreeSearchState;

typedef struct TreeSearch {
    int32_t anyCount;
    int32_t holderCount;
    int32_t topCount;
    int32_t nodeCount;
    int32_t nbest;
    float longpen;
    float shortpen;
    float pruning;
    TreeAnyModel *anyModels;
    TreeHolder *holders;
    TreeNode *nodes;
    int32_t *bestWord, *bestScore, *bestRank; /* nbest entries each */
    int32_t nextBest;
    int32_t numNames;
    char **names;
    float framesize;
    int32_t numWords;
    int32_t numCategories;
    TreeSearchState *state;
} TreeSearch;

int buildTreeSearch(GS_Result *r, TreeSearch **search, WordGraph **words, int numWords, const TreeAnyInput *any,
                    int anyCount, int nbest, float framesize, const ProbNames *names);
void initTreeSearch(TreeSearch *s, float shortpen, float longpen, float pruning, int nbest);
int updateTreeSearch(TreeSearch *s, NevrinPool **pool, const float *logScores);
int searchTreeNextBest(TreeSearch *s, NevrinPool *pool, SearchSegment **segments, int *count, float *score);
void resetTreeSearch(TreeSearch *s);
/* Replaces every n-best array with one of nbest entries. */
void resizeTreeNbest(TreeSearch *s, int nbest);
void nukeTreeSearch(TreeSearch *s);

#ifdef __cplusplus
}
#endif

#endif
