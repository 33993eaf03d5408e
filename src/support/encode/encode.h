/* The MFCC-plus-delta encoder: 16-bit waves become frames of 130 values
 * for a frame classifier, streamed across calls.
 *
 * The frame, from the feature library's mel front end (one DSP core):
 *  - every 10 ms, a window of `windowsize` ms (default 25) at `rate` Hz
 *    (default 16000): pre-emphasis 0.97, Hamming, power spectrum, `nfilts`
 *    (default 24) mel filters from 0 Hz to Nyquist, ln, DCT to c0..c12,
 *    lifter 22, c0 replaced by the log energy of the window: 13 values;
 *  - their deltas over +-2 frames (sum k (x[t+k] - x[t-k]) / 10): 13;
 *  - those 26 values of frames t-2, t-1, t, t+1, t+2, in that order: 130.
 *  Frames before the first and after the last of a stream read as copies
 *  of those. The encoder thus holds back 4 frames (40 ms) besides the
 *  samples of an unfinished window.
 *
 * Contract:
 *  - mfccdeltaFrames(h, n, flush) is the number of frames the next
 *    mfccdeltaCompute of n samples writes; the compute returns that number.
 *    With a NULL features matrix nothing may be due (the samples are kept).
 *  - A flush releases every held frame (an unfinished window is dropped)
 *    and starts a new stream.
 *  - mfccdeltaInit gives NULL with a message for settings it cannot run.
 */
#ifndef TOVIK_ENCODE_H
#define TOVIK_ENCODE_H

#include <stdint.h>

#include "result.h"

#ifdef __cplusplus
extern "C" {
#endif

enum { MFCCDELTA_DIM = 130 };

typedef struct MfccDeltaParams {
    float windowsize; /* ms */
    int32_t rate;
    int32_t nfilts;
} MfccDeltaParams;

typedef struct MfccDelta MfccDelta;

MfccDeltaParams *mfccdeltaDefault(void);
MfccDelta *mfccdeltaInit(GS_Result *r, const MfccDeltaParams *p);
void mfccdeltaReset(MfccDelta *h);
int mfccdeltaFrames(MfccDelta *h, int samples, int flush);
int mfccdeltaCompute(MfccDelta *h, const int16_t *samples, int len, float **features, int flush);
void mfccdeltaNuke(MfccDelta *h);

#ifdef __cplusplus
}
#endif

#endif
