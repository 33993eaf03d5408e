/* The frame-context library: stacks, for every frame of a feature stream,
 * the frames at a fixed set of offsets (past and future) into one vector,
 * holding back as many frames as the largest future offset needs.
 *
 * Contract:
 *  - contextInit copies the offset list; NULL with a message for an empty offset
 *    list, an offset beyond +-1000 frames, coeffs below 1 or a frame size
 *    that is not above 0.
 *  - delay = the largest positive offset (0 when none); held = frames
 *    taken in but not yet written (at most delay).
 *  - context(rows, n, out, c, flush) takes n more frames and writes
 *    (flush ? held + n : max(0, held + n - delay)) stacked frames to out,
 *    returning that count; with out NULL it only takes the frames in (and
 *    writes nothing, whatever is due). A flush starts a new stream.
 *  - An offset before the stream's first frame reads the first frame, one
 *    after the last (on a flush) the last; contextByFrame does the same
 *    within one block.
 *  - Output row: for each offset in order, that frame's coeffs values
 *    multiplied by the offset's value (an integer weight).
 */
#ifndef TOVIK_CONTEXT_H
#define TOVIK_CONTEXT_H

#include <stdint.h>

#include "result.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct ContextSpec {
    int32_t *offsets;
    int32_t *values;
    int32_t count;
    int32_t coeffs;
    float framesize;
} ContextSpec;

typedef struct ContextRecord {
    int32_t count;
    int32_t *offsets;
    int32_t *values;
    int32_t coeffs;
    int32_t delay;
    int32_t held;
    float framesize;
    void *priv;
} ContextRecord;

ContextRecord *contextInit(GS_Result *r, const ContextSpec *spec);
void contextReset(ContextRecord *c);
void contextNuke(ContextRecord *c);
void contextByFrame(float **rows, int nRows, float *out, int frame, const ContextRecord *c);
int context(float **rows, int n, float **out, ContextRecord *c, int flush);

#ifdef __cplusplus
}
#endif

#endif
