/* Frame segmenter: labels feature frames as speech, background or garbage
 * from one chosen feature column.
 *
 * Contract and choices:
 *  - Each frame's value x = column `index`, held within [floor, ceil].
 *  - Two-class clustering (2-means) of the last winsz values, started from
 *    the current class means (speech and background give the first means).
 *    It is re-estimated every framesz frames, and at every frame while
 *    fewer than framesz frames have been seen, so the first frames are not
 *    labelled by the preset means alone. A class left empty starts again
 *    from the data (speech from the window's largest value, background
 *    from its smallest). The speech class is the one with the higher mean.
 *  - Label: 0 (garbage) when the two means lie closer than eps, else 1
 *    (speech) or -1 (background) by the nearer mean; a tie is background.
 *  - speechCount and backgroundCount count the labels of the last segPipe.
 *  - segInit copies the parameters; unusable settings (framesz or winsz
 *    below 1, index below 0, floor above ceil, eps negative or any value
 *    not a number) give null with a message in r.
 *  - Row tables: rows[i] is frame i (cols floats); labels[0][i] is the
 *    label of frame i. Output row tables may be null when no row goes
 *    there.
 */
#ifndef TOVIK_SEG_H
#define TOVIK_SEG_H

#include <stdint.h>

#include "result.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct SegParams {
    int32_t index;
    int32_t framesz;
    int32_t winsz;
    float speech;
    float background;
    float ceil;
    float floor;
    float eps;
} SegParams;

typedef struct SegState {
    SegParams params;
    int32_t speechCount;
    int32_t backgroundCount;
    float speechMean;
    float backgroundMean;
    float *window; /* ring of winsz values */
    int32_t filled;
    int32_t next;
    int64_t seen;
} SegState;

enum { SEG_SPEECH = 1, SEG_BACKGROUND = -1, SEG_GARBAGE = 0 };

/* index 0, framesz 100, winsz 300, speech 0, background -3, ceil 1e30,
 * floor -1e30, eps 0.5; DB_Malloc memory, the caller frees it. */
SegParams *segDefault(void);
SegState *segInit(GS_Result *r, const SegParams *p);
void segReset(SegState *s);
void segNuke(SegState *s);
/* Labels frames; 1 with a message in r when index is past cols. */
int segPipe(GS_Result *r, SegState *s, int frames, int cols, float **rows, float **labels);
/* Splits rows by label into speech, background and garbage rows. */
void segCopy(int frames, int cols, float **rows, float **labels, float **speech, float **background,
             float **garbage);
/* The rows whose label is type, in order; returns their number. */
int segSelect(int frames, int cols, float **rows, float **labels, float **out, int type);
/* out row i = row i for speech frames, zeros for the others. */
void segMap(int frames, int cols, float **rows, float **labels, float **out);
/* The number of labels equal to type. */
int segCount(int frames, float **labels, int type);

#ifdef __cplusplus
}
#endif

#endif
