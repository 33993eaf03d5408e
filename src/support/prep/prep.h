/* Sample filters for 16-bit waves, filtering in place and keeping their
 * state between calls, so that a wave fed in blocks gives the output of
 * one call.
 *
 * Contract:
 *  - dcrm: the one-pole DC blocker y[n] = x[n] - x[n-1] + R y[n-1] with
 *    R = exp(-1 / (tau * rate)); tau in seconds (default 0.025), rate in Hz
 *    (default 16000). dcrmInit gives NULL for a tau or rate that is not
 *    above 0.
 *  - fir: y[n] = sum_k h[k] x[n-k] over the stream (history across calls),
 *    so streamed output lags its input by the group delay. A call with
 *    flush ends the stream: its output is aligned with its input,
 *    y[n] = sum_k h[k] x[n + groupdelay - k], with silence after the call's
 *    last sample (the samples still owed from earlier calls are dropped),
 *    and the filter starts afresh after it. firInit takes over the
 *    coefficient array (DB_Malloc memory) and gives NULL for a count below
 *    1 or a group delay outside 0 .. count - 1.
 *  - Output samples are rounded to the nearest integer and clipped to
 *    -32768 .. 32767.
 */
#ifndef TOVIK_PREP_H
#define TOVIK_PREP_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct DcrmParams {
    float tau;
    float rate;
} DcrmParams;

typedef struct DcrmFilter {
    float tau;
    float rate;
    double r, xPrev, yPrev;
} DcrmFilter;

typedef struct PrepFir {
    int count;
    float *coeffs;
    int groupdelay;
    double *history; /* the last count - 1 input samples, newest last */
} PrepFir;

DcrmParams *dcrmDefault(void);
DcrmFilter *dcrmInit(const DcrmParams *p);
void dcrmReset(DcrmFilter *h);
void dcrm(int16_t *samples, int len, DcrmFilter *h);
void dcrmNuke(DcrmFilter *h);

PrepFir *firInit(int count, float *coeffs, int groupdelay);
void firReset(PrepFir *h);
void fir(int16_t *samples, int len, PrepFir *h, int flush);
void firNuke(PrepFir *h);

#ifdef __cplusplus
}
#endif

#endif
