/* Viterbi search over a state network, driven by per-frame category
 * probabilities: frame-synchronous, log domain, with a beam, duration
 * models and traceback into word, phoneme and state segment lists.
 *
 * Contract:
 *  - Viterbi_init checks the network (a start and an end state; every unit
 *    has a category) and keeps a compiled view of it; the network must not
 *    change while the record searches it (Viterbi_search refuses a network
 *    whose state count changed). 0 success, nonzero with errorText.
 *  - Viterbi_search consumes frames; repeated calls continue the same
 *    utterance until Viterbi_reset. Scores are natural logs:
 *        emission  log(max(p[t][category], observationProbFloor))
 *        link      wordBoundaryPenalty when the link is a word boundary
 *                  + transProbFactor * log(max(trans[t][k], floor)) when
 *                  pair k of the index table is {to from} of the link
 *        duration  (frames counted in a state; its self link lets it stay
 *                  with no link cost; a self link that is also a word
 *                  boundary may instead be taken as the word again)
 *          minmax:      leaving after d < min frames adds
 *                       durationShortPenalty * (min - d); every frame beyond
 *                       max adds durationLongPenalty
 *          exponential: mean m = (min + max) / 2; staying adds
 *                       log(1 - 1/m), leaving log(1/m)
 *          gamma:       mean m = (min+max)/2, deviation (max-min)/4;
 *                       leaving after d frames adds log pdf(d) - log
 *                       pdf(mode)
 *        states with min and max -1 (never set) have no duration cost.
 *  - Tokens: under minmax a state with a self link and a minimum of m
 *    frames keeps m tokens (stays of 1 .. m-1 frames and of m or more, up
 *    to 64), which makes minimum durations exact; other states keep one,
 *    the best-scoring, whose duration cost is paid as it stays and leaves
 *    (maximum durations and the exponential and gamma models are thus
 *    applied to the best path into a state, not searched over all stays).
 *  - Beam: tokens below best + beam are dropped after each frame. beam
 *    starts at beamThreshold. With targetBeamSize > 0 it adapts: more than
 *    target + variance active states tighten it by -beamThresholdAdjust
 *    (never above maxBeamThreshold); fewer than target - variance widen it
 *    by -beamThresholdAdjust * beamRatio (never below beamThreshold).
 *  - Viterbi_answer: the best path that ends in the end state after the
 *    last frame; with allowWordCutoff and no such path, the best active
 *    state. Fills score, endFrame and three lists (labels owned, begin and
 *    end frames, each segment's score the sum of its log scores). Words
 *    are the deepest "word" class values of the states that do not begin
 *    with "$" (rule tokens such as "$grammar"; the state's name when none),
 *    a new word starting at every word-boundary link or change of value;
 *    phonemes likewise with the "phoneme" class.
 *  - msPerFrame is the network's frame size, 10 when it was never set.
 *  - blockSize is the growth step of the traceback store.
 */
#ifndef TOVIK_VITERBI_H
#define TOVIK_VITERBI_H

#include <stdint.h>

#include "gravlin.h"
#include "halbrin.h"

#ifdef __cplusplus
extern "C" {
#endif

enum { VITERBI_EXPONENTIAL = 0, VITERBI_GAMMA = 1, VITERBI_MINMAX = 2 };

typedef struct ViterbiSearch ViterbiSearch;

typedef struct ViterbiRecord {
    float msPerFrame;
    int32_t endFrame; /* frame at which the answer ends */
    float score;      /* score of the answer; -1e10 when there is none */
    HalbrinList *words;
    HalbrinList *phonemes;
    HalbrinList *states;
    /* parameters as given to Viterbi_init */
    int32_t blockSize;
    float beamThreshold, beamThresholdAdjust, maxBeamThreshold;
    int32_t targetBeamSize, targetBeamVariance;
    float beamRatio;
    int32_t durationModel;
    int32_t allowWordCutoff;
    float durationShortPenalty, durationLongPenalty, wordBoundaryPenalty, observationProbFloor, transProbFactor;
    float beam;            /* current beam */
    int32_t framesSearched;
    char errorText[512];   /* message of the last failure */
    ViterbiSearch *search; /* owned */
} ViterbiRecord;

int Viterbi_init(GravlinNet *net, ViterbiRecord *rec, int blockSize, float beamThreshold, float beamThresholdAdjust,
                 float maxBeamThreshold, int targetBeamSize, int targetBeamVariance, float beamRatio,
                 int durationModel, int allowWordCutoff, float durationShortPenalty, float durationLongPenalty,
                 float wordBoundaryPenalty, float observationProbFloor, float transProbFactor);
int Viterbi_search(ViterbiRecord *rec, GravlinNet *net, float **probs, int frames, int categories, float **trans,
                   int numPairs, int (*pairs)[2]);
int Viterbi_answer(ViterbiRecord *rec, GravlinNet *net);
int Viterbi_answerSoFar(ViterbiRecord *rec, GravlinNet *net);
int Viterbi_reset(ViterbiRecord *rec);
/* Releases what the record owns (not the record itself). */
void Viterbi_free(ViterbiRecord *rec);

#ifdef __cplusplus
}
#endif

#endif
