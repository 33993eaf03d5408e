/* Garbage (out-of-vocabulary) scores from frames of phone-classifier
 * outputs (rows frames, columns categories of a probability-name table).
 *
 * Contract:
 *  - N-best median: for each N the median of the frame's N largest values
 *    (N clamped to 1 .. the column count; an even N averages the two
 *    middle values), appended after a copy of the frame.
 *  - Max-of: each model's column is the probability-name entry of its name.
 *  - Accumulator: per frame the garbage score is
 *    ln(p[garbage]) - ln(max p) (values floored at 1e-30), so 0 where the
 *    garbage model is the best output. A query answers the mean over all
 *    frames seen and, given a segment list, a copy of it with each
 *    segment's mean over its frames (frames of the list's size mapped to
 *    the accumulator's).
 *  - Rank scorer: a frame's rank of a phone is the number of outputs above
 *    the phone's; the lookup table's row 0 maps rank r to a score (ranks
 *    beyond the table take its last value); a word scores the mean over the
 *    frames of its phones.
 *  - Failures append a message to r and answer null.
 */
#ifndef TOVIK_GARBAGE_H
#define TOVIK_GARBAGE_H

#include <string>
#include <vector>

#include "halbrin.h"
#include "result.h"
#include "word.h"

void multiNGarbage(float *const *rows, int cols, int numRows, const int *n, int count, float *const *out);
void multiNGarbageByFrame(const float *row, int cols, const int *n, int count, float *out);

struct Maxof {
    int32_t numModels;
    int32_t *columns;
    char **names;
    std::vector<int32_t> columnData;
    std::vector<std::string> nameData;
    std::vector<char *> namePtrs;
};
Maxof *allocMaxof(GS_Result *r, const ProbNames *names, const char *const *models, int count);
void nukeMaxof(Maxof *m);

struct GarbageAcc {
    int category;
    float framesize;
    std::vector<float> scores; /* per frame seen */
};
GarbageAcc *garbageInit(int category, float framesize);
void garbageReset(GarbageAcc *a);
void garbageUpdate(GarbageAcc *a, float *const *rows, int numRows, int cols);
HalbrinList *garbageQuery(GarbageAcc *a, const HalbrinList *list, float *score);
void garbageNuke(GarbageAcc *a);

struct RankScorer {
    std::vector<std::string> outputs;
    std::vector<float> table;
    float framesize;
};
RankScorer *rankInit(const ProbNames *names, float *const *rows, int numRows, int cols, float framesize);
HalbrinList *rankScore(GS_Result *r, const RankScorer *rank, const HalbrinList *words, const HalbrinList *phones,
                       float *const *rows, int numRows, int cols);

#endif
