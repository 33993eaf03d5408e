/* Training-data selection: pick blocks of frames or segments per file, from
 * label files or HTK master label files.
 *
 * Contract:
 *  - PickBlock, PickFile and CategoryStats cross libraries field by field;
 *    their order and widths are fixed. Every array and text is DB_Malloc
 *    memory that Pick_nukePickblock releases; a used count of 0 may leave
 *    its array null.
 *  - Label files: a segment-list file (Halbrin's, told apart by its
 *    "END OF HEADER" line) or an HTK label file ("start end label" per
 *    line, times in 100 ns). Master label files: "#!MLF!#", then per file
 *    a quoted pattern line (a path, or "*" then "/name.lab"), its label
 *    lines and ".".
 *    A label names a description entry (findEntry); unknown labels fail.
 *  - Frame picks: each segment's frames split evenly over its model's
 *    emitting states; the category is the state's mixture index. Segment
 *    picks: the category is the model's index in the list.
 *  - desired holds a count per description entry: 0, or a count at or
 *    above the items the labels hold, picks them all; a smaller count picks
 *    that many, spread evenly over the items in file order. A category's
 *    priorCount is its item count, pickCount what was picked; id is the
 *    category number.
 *  - Shuffling reorders the files (picks stay with their file) by a seeded
 *    generator of our own; splitting takes picks [i x size, (i+1) x size)
 *    in file order.
 *  - Failures append a message to r and answer nonzero (or null).
 */
#ifndef TOVIK_PICK_H
#define TOVIK_PICK_H

#include <stdint.h>

#include "hmm.h"

typedef struct PickFile {
    char *waveName;
    char *labelName;
    int32_t waveNameSize;
    int32_t labelNameSize;
    int32_t firstFrame;
    int32_t firstStart;
    int32_t firstEnd;
    int32_t firstCategory;
    int32_t numFilePicks;
} PickFile;

typedef struct CategoryStats {
    int32_t id;
    int32_t stat1;
    int32_t stat2;
    int32_t priorCount;
    int32_t stat4;
    int32_t pickCount;
    float amount;
} CategoryStats;

typedef struct PickBlock {
    PickFile *files;
    CategoryStats *catStats;
    int32_t *frames;
    int32_t *starts;
    int32_t *ends;
    int32_t *categories;
    float framesize;
    int32_t fileCount;
    int32_t catCount;
    int32_t tally1, tally2;
    int32_t numFrames, capFrames;
    int32_t numStarts, capStarts;
    int32_t numEnds, capEnds;
    int32_t numPicks, capPicks;
} PickBlock;

/* An empty block of files and categories, names copied. */
PickBlock *Pick_newBlock(int fileCount, int catCount, float framesize);
void Pick_setFile(PickBlock *b, int i, const char *wave, const char *label);
void Pick_nukePickblock(PickBlock *b);

PickBlock *Pick_MLFFrame(GS_Result *r, const char *mlf, const HmmDescription *d, const HmmList *list,
                         const int32_t *desired, float framesize);
PickBlock *Pick_MLFSegment(GS_Result *r, const char *mlf, const HmmDescription *d, const HmmList *list,
                           const int32_t *desired, float framesize);
int Pick_pickFrame(GS_Result *r, const HmmDescription *d, const HmmList *list, PickBlock *b, const int32_t *desired);
int Pick_pickSegment(GS_Result *r, const HmmDescription *d, const HmmList *list, PickBlock *b,
                     const int32_t *desired);
PickBlock *Pick_shuffle(GS_Result *r, const PickBlock *b);
PickBlock *Pick_split(GS_Result *r, const PickBlock *b, int blocksize, int index);
/* The two blocks one after the other (the callers check sizes and counts). */
PickBlock *Pick_concat(const PickBlock *a, const PickBlock *b);

#endif
