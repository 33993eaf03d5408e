/* Pitch marks: a pulse train peaking at glottal closures and marks picked
 * on it a period apart.
 *
 * Contract and choices:
 *  - urvane_PulseTrain: the LPC residual (autocorrelation method, order
 *    rate / 1000 + 2, Hamming window of 30 ms every 10 ms, inverse filtered
 *    sample by sample with the coefficients of the frame around it),
 *    squared and smoothed over 3 samples, so it peaks at the excitation
 *    pulses whatever their polarity. Written into an array as long as the
 *    wave; a silent wave gives zeros.
 *  - urvane_Mark: per 10 ms the period T is the lag of the greatest
 *    normalised autocorrelation of the signal over 40 ms, lags of f0max to
 *    f0min (the shortest lag at a local peak within 90 % of the best, against
 *    octave errors); a frame is voiced when that value exceeds 0.3 (and the frame is
 *    not silent). In voiced stretches the first mark is the largest pulse
 *    within one period; each next mark the largest pulse between 0.7 T and
 *    1.3 T after the last; a pulse below a fifth of the largest within 20 ms
 *    of it is no mark (lead-in, or the ring after the last pulse). The wave is 1 at marks, 0 elsewhere; its rate is
 *    the input's.
 *  - medianFilter: centred, width w (w below 1 taken as 1); at the edges
 *    the window is cut to the data. NaN-free input assumed.
 */
#ifndef TOVIK_URVANE_H
#define TOVIK_URVANE_H

#include <stdint.h>

#include "records.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct UrvaneParams {
    float f0min; /* Hz, 60 */
    float f0max; /* Hz, 400 */
    float voicing; /* 0.3 */
} UrvaneParams;

typedef struct Urvane {
    UrvaneParams params;
} Urvane;

UrvaneParams *urvane_Default(void);
Urvane *urvane_Init(const UrvaneParams *p);
void urvane_Reset(Urvane *u);
void urvane_Nuke(Urvane *u);
void urvane_PulseTrain(Urvane *u, const WaveRecord *wave, float *out);
/* signal and pulse have count samples at rate. */
WaveRecord *urvane_Mark(const float *signal, const float *pulse, int count, float rate);
void medianFilter(const float *in, float *out, int count, int width);

#ifdef __cplusplus
}
#endif

#endif
