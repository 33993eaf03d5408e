/* wendrel: short-time log energy of 16-bit audio, one value per frame.
 *
 * Contract:
 *  - A frame centred on sample c weighs the squared samples
 *    c - half ... c + half - 1 (half = N / 2, N the window length in
 *    samples) by the squared weights of an N-point Hamming window, divides
 *    by the sum of the plain weights and gives 10·log10 of that, floored at
 *    0 dB. Samples outside the wave take no part.
 *  - Frame i is centred on sample i·step; the caller chooses step (the
 *    record's frameSize is the package's, not read here).
 *  - Windows of fewer than two samples and steps below one sample are
 *    refused (Wendrel_compute returns -1 and writes nothing).
 *  - Records come from the plain allocator; Wendrel_nuke frees them.
 */
#ifndef TOVIK_WENDREL_H
#define TOVIK_WENDREL_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct WendrelRecord {
    float winSize;   /* analysis window, ms; default 32.0 */
    float frameSize; /* frame step, ms; default 1.0 */
    int32_t sampFreq;/* Hz; default 8000 */
} WendrelRecord;

/* -1.0 (floats) and -1 (rate) keep the default; any other value is used. */
WendrelRecord *Wendrel_init(float winSize, float frameSize, int sampFreq);
WendrelRecord *Wendrel_reset(WendrelRecord *w);
void Wendrel_nuke(WendrelRecord *w);

/* The window length N in samples: truncate(sampFreq × winSize × 0.001). */
int Wendrel_windowSamples(const WendrelRecord *w);

/* Writes up to nframes energies, frame i into rows[i][0]. Returns 0, or -1
 * when the window or step is refused or a work buffer can't be had. */
int Wendrel_compute(WendrelRecord *w, const int16_t samples[], int nsamples,
                    float *rows[], int nframes, int step);

#ifdef __cplusplus
}
#endif

#endif
