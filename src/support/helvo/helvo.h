/* IIR filters of 16-bit samples: the difference equation
 *   a[0] y[n] = sum_k b[k] x[n-k] - sum_{k>=1} a[k] y[n-k]
 * in transposed direct form II, in double precision, with the state kept
 * between calls so that a wave fed in blocks gives the output of one call.
 *
 * Contract:
 *  - Filter_iirInit copies both coefficient arrays and pads the shorter
 *    with zeros, so that `count` serves both a and b; it gives NULL for an
 *    empty array or a[0] = 0.
 *  - Output samples are rounded to the nearest integer and clipped to
 *    -32768 .. 32767.
 */
#ifndef TOVIK_HELVO_H
#define TOVIK_HELVO_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct HelvoIir {
    float *a; /* feedback, as given (not normalised) */
    float *b; /* feed-forward */
    int count;
    double *state; /* count entries */
} HelvoIir;

HelvoIir *Filter_iirInit(const float *a, int na, const float *b, int nb);
void Filter_iirReset(HelvoIir *h);
void Filter_iir(HelvoIir *h, const int16_t *in, int16_t *out, int n);
void Filter_iirNuke(HelvoIir *h);

#ifdef __cplusplus
}
#endif

#endif
