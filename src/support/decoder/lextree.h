/* Word-loop search over a lexical prefix tree of the words'
 * pronunciations: any word may follow any word.
 *
 * Contract:
 *  - A pronunciation is a path through a word's graph from an initial node
 *    to a final node (nodes never entered left out); words whose paths
 *    begin with the same models share the tree's nodes, and the words
 *    ending at a node are known there only. A graph with a loop is refused.
 *  - A word's score (wordScore + ln shortPen) is added where it ends, so
 *    the scores of every word string are those of a word loop that adds
 *    them on entry; pruning sees them later, so a narrow beam may keep
 *    what such a loop would drop.
 *  - States score as Sevrin_ForwardProbs scores them; word ends go to the
 *    lattice as the word loop records them (begin, end, score).
 *  - The tree holds its models: destroying the list later leaves nothing
 *    dangling.
 */
#ifndef TOVIK_LEXTREE_H
#define TOVIK_LEXTREE_H

#include <string>
#include <vector>

#include "sevrin.h"

struct LexTree;

/* Builds the tree of the search's words over the list's models. */
LexTree *LexTree_Create(GS_Result *r, const SevrinSearch *s, const HmmList *list);
void LexTree_Nuke(LexTree *t);
void LexTree_Reset(LexTree *t);
int LexTree_Frames(const LexTree *t);
int LexTree_NumNodes(const LexTree *t);
struct LexTreeSettings {
    float beam, wordEndBeam, active, shortPen;
    std::vector<float> wordScores; /* one per word */
    float scale;             /* on ln(p / prior) */
    const float *priors;     /* one per pool mixture, or null */
};
/* Frames of probabilities, one column per pool mixture. */
int LexTree_Forward(GS_Result *r, LexTree *t, const LexTreeSettings &set, float *const *rows, int numRows, int cols,
                    SevrinLattice *lattice);
/* The best word string ending at the last frame, its words' segments with
 * the score each added; fails when none ends. */
HalbrinList *LexTree_Best(GS_Result *r, LexTree *t, const LexTreeSettings &set, float framesize);

#endif
