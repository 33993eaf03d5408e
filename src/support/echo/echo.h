/* Line-echo cancellers and simulated echo paths.
 *
 * Contract and choices:
 *  - A channel is an impulse response h (its own copy). Channel_Simulate is
 *    causal convolution, as long as its input: out[i] = sum over k <= i of
 *    h[k] in[i - k].
 *  - A canceller holds two buffers: data (the far end, what was sent down
 *    the line) and echo (what the line returned). Echo sample j lines up
 *    with data sample j - delay, so the echo path seen is
 *    echo[j] = sum h[k] data[j - delay - k]; data before sample 0 is 0.
 *  - Cancelling runs over the echo samples not yet processed whose data
 *    sample has arrived, and answers their residuals (echo minus the
 *    estimate, clipped to 16 bits); null when none could be processed.
 *    Echo_Flush processes the rest as if the data were silent from its end,
 *    so the waves of the cancel calls and the flush together are as long
 *    as the echo.
 *  - The -pulse channel is the canceller's model of the echo path, copied
 *    into it: Echo_PulseCancel estimates with it alone; Echo_Cancel starts
 *    NLMS from it; Echo_LMSCancel adapts NLMS from zero taps (or from
 *    where the taps are). NLMS: npoints taps, step 0.5, regularised by
 *    npoints x 1.0 in the input-energy divisor.
 *  - Echo_Simulate passes the data through the pulse channel and adds the
 *    echo wave; Echo_PulseConv gives a wave through it and that signal's
 *    energy (sum of squares) per block of pulseBlock (80) samples.
 *  - States: ECHO_INIT until something is cancelled, ECHO_UPDATE after,
 *    ECHO_FLUSH after a flush; ECHO_OFF is never entered by the library.
 *  - Echo_Initialize copies what it needs; npoints below 1 or a negative
 *    delay give null. Waves made here have the echo's rate (8000 when no
 *    echo arrived).
 */
#ifndef TOVIK_ECHO_H
#define TOVIK_ECHO_H

#include <stdint.h>

#include "records.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct EchoChannel {
    float *pulse;
    int32_t length;
} EchoChannel;

typedef struct EchoBuffer {
    int16_t *samples;
    int32_t length;
    int32_t processed; /* echo: samples cancelled so far */
    float rate;
} EchoBuffer;

enum { ECHO_INIT = 0, ECHO_UPDATE = 1, ECHO_FLUSH = 2, ECHO_OFF = 3 };

typedef struct EchoParams {
    int32_t npoints;
    int32_t delay;
    EchoChannel *pulse; /* borrowed; the canceller copies it */
} EchoParams;

typedef struct Echo {
    EchoBuffer data;
    EchoBuffer echo;
    int32_t state;
    int32_t pulseBlock;
    int32_t npoints;
    int32_t delay;
    EchoChannel *pulse; /* owned copy, or null */
    float *taps;        /* npoints NLMS taps */
    int32_t pulseOnly;  /* the last cancel used the pulse channel alone */
} Echo;

EchoChannel *Channel_Initialize(const float *row, int n);
void Channel_Nuke(EchoChannel *c);
void Channel_Simulate(const EchoChannel *c, const float *in, float *out, int n);

EchoParams *Echo_Default(void);
Echo *Echo_Initialize(const EchoParams *p);
void Echo_Reset(Echo *e);
void Echo_Nuke(Echo *e);
void Buffer_PutWave(EchoBuffer *b, const WaveRecord *w);
WaveRecord *Echo_LMSCancel(Echo *e, const WaveRecord *data, const WaveRecord *echo);
WaveRecord *Echo_PulseCancel(Echo *e, const WaveRecord *data, const WaveRecord *echo);
WaveRecord *Echo_Cancel(Echo *e, const WaveRecord *data, const WaveRecord *echo);
WaveRecord *Echo_Flush(Echo *e);
/* Null when the canceller has no pulse channel or there is no data. */
WaveRecord *Echo_Simulate(Echo *e, const WaveRecord *data, const WaveRecord *echo);
/* out has wave->len values, energy wave->len / pulseBlock; 1 without a
 * pulse channel. */
int Echo_PulseConv(Echo *e, const WaveRecord *wave, float *out, float *energy);

#ifdef __cplusplus
}
#endif

#endif
