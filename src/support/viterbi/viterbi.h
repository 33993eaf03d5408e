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
 *  - Tokens: a state keeps one token per stay length, so that the search
 *    weighs every stay, not only the best path into the state: under
 *    minmax one per stay of 1 .. max(min, max) - 1 frames and one for all
 *    longer stays (whose futures are alike), which is exact; under gamma
 *    one per stay up to max(max, mean + 4 deviations) + 1 frames, longer
 *    stays sharing the last; the exponential model is memoryless and one
 *    token is exact. No state tells apart more than 128 stays. A state
 *    without a self link stays one frame. Under minmax a token that has
 *    reached its minimum and scores no better than a shorter stay of the
 *    same state is dropped (it can do nothing the shorter cannot). Each
 *    state is left once a frame, by its best stay with its leaving cost;
 *    without transition probabilities, states with the same arcs are left
 *    once together, by the best of them. A segment's score holds its own
 *    leaving cost and the cost of the link into it.
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
/* A deep copy into a caller-allocated record: the search goes on from the
 * same point. */
int Viterbi_clone(ViterbiRecord *dst, const ViterbiRecord *src);
/* A search as bytes and back, with its settings, its compiled network, the
 * tokens of the frame it stopped at, its traces and its last answer.
 * Viterbi_pack writes exactly Viterbi_packedLength bytes; Viterbi_unpack
 * fills a caller-allocated record from exactly length bytes, or answers
 * nonzero with a message in r (nothing kept) for bytes that run short or
 * long or whose indices do not hold together. */
size_t Viterbi_packedLength(const ViterbiRecord *rec);
void Viterbi_pack(const ViterbiRecord *rec, unsigned char *buffer);
int Viterbi_unpack(GS_Result *r, ViterbiRecord *rec, const unsigned char *buffer, size_t length);

#ifdef __cplusplus
}
#endif

#endif
