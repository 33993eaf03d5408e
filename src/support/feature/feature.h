/* The feature front-end library: waves or windows of samples become
 * feature frames; stream filters over feature frames (deltas, FIR over
 * time, delay, moving average), a whitening transform, and an HTK-style
 * MFCC front end.
 *
 * What callers rely on:
 *  - featureInit copies what it needs from the settings; the caller frees
 *    the settings (and their coefficient arrays) with DB_Free. It returns
 *    NULL with a message in the result for settings it cannot run.
 *  - Streaming: featureCompute keeps the samples that do not yet complete a
 *    frame, so a wave fed in blocks of any size gives the frames of one
 *    call. featureFrames(fe, n) is the number of rows the next
 *    featureCompute of n samples writes; with a NULL output the samples are
 *    only kept. featureReset starts a new stream.
 *  - Stream filters hold the frames their future context needs; Frames(f,
 *    rows, flush) is the number of rows the next call writes, and a flush
 *    releases every held frame and starts a new stream. Frames before the
 *    first and after the last frame of a stream read as copies of those.
 *  - Every function that fills an output writes exactly the rows its
 *    Frames call answered, never more.
 *
 * Numeric choices (the defaults of featureDefault):
 *  - samplerate 16000 Hz, windowsize 25 ms, framesize (the frame step)
 *    10 ms; windowLength and frameStep are the nearest whole samples. Frame
 *    i covers samples [i*frameStep, i*frameStep + windowLength).
 *  - preemphasis 0.97, over the stream (the sample before the first is 0):
 *    y[n] = x[n] - 0.97 x[n-1].
 *  - FFT length: the next power of two at or above windowLength (FFTW).
 *  - filters 24 between lfreq 0 Hz and ufreq 0 (0 means the Nyquist
 *    frequency), triangular; "trapesium" filters are flat over the middle
 *    half. mel = 1127 ln(1 + f/700); bark = 6 asinh(f/600).
 *  - order 12 (LPC order and autocorrelation lags), output 13 (cepstra,
 *    c0 included), emphasis 22 (cepstral lifter 1 + L/2 sin(pi k/L); 0 is
 *    none), exp 0.33 (PLP power law), rasta 0.94 (the pole of the RASTA
 *    band-pass 0.1 (2 + z^-1 - z^-3 - 2 z^-4) / (1 - 0.94 z^-1); -firinit
 *    replaces the numerator, -iirinit the whole denominator a0 a1 ...).
 *  - The pipeline runs in this order whatever the words' order: window;
 *    powerspec; filterbank; equalloud (Hermansky's curve) with the power
 *    law; logspec (ln, floor 1e-10); rasta (in the log domain: without
 *    logspec the bands are taken to logs and back); invlogspec (exp);
 *    invdct (DCT-II to `output` cepstra, liftered) or invdft (spectrum to
 *    `order`+1 autocorrelation lags); autocorr (of the windowed frame);
 *    durbin (AR coefficients: gain then a1..a_order); arcepstral
 *    (`output` cepstra of the AR model, c0 = ln gain); ar2lsp (line
 *    spectral frequencies, radians) and lsp2ar (back to AR); gexp
 *    (c0 = ln of the frame's windowed energy on the DCT path, ln of the
 *    prediction error on the AR path); wendrel appends the frame's log
 *    energy in dB (10 log10 max(1, sum (w x)^2 / sum w^2), unemphasised).
 *  - equalloud uses firstgood = 1 and lastfilt = filters - 2 and copies the
 *    end bands from their neighbours; other front ends use every band
 *    (firstgood 0, lastfilt filters - 1).
 *  - Deltas: d_t = sum_{k=1..order} k (x_{t+k} - x_{t-k}), divided by
 *    2 sum k^2 with -sigmaT2; order defaults to 2; the output has the
 *    input's width.
 *  - fir over frames: channel c in [firstgood, lastfilt) uses coefficient
 *    row c - firstgood (or the only row): causal y_t = sum_k h[k] x_{t-k},
 *    else centred with a delay of (taps - 1) / 2 frames; other channels
 *    pass through with the same delay.
 *  - pipedelay: frames come out unchanged, `delay` frames late.
 *  - avgfilter: framesize 10 ms, delay 50 ms: the mean over the frames
 *    within round(delay / framesize) frames either side.
 *  - whiten: out = (in . U) scaled column by column by the values of W
 *    (U is d x d, W holds d values).
 *  - hmfcc: window 250000, sample period 625, frame period 100000 (100 ns
 *    units: 25 ms, 16 kHz, 10 ms), 26 channels; frames: pre-emphasis 0.97
 *    within the frame, Hamming, mel bank from 0 Hz to Nyquist over the
 *    magnitude spectrum, ln, DCT, lifter 22; c1..c12 then the log energy
 *    of the raw frame, which MFCCNormEnergy scales as 1 - (max - E) * 0.1
 *    after flooring it 50 dB below the maximum. Only whole windows count.
 */
#ifndef TOVIK_FEATURE_H
#define TOVIK_FEATURE_H

#include <stdint.h>

#include "records.h"
#include "result.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Feature flags. */
enum {
    FEAT_PREEMPHASIS = 0x1, FEAT_HAMMING = 0x2, FEAT_POWERSPEC = 0x4, FEAT_LOGSPEC = 0x8,
    FEAT_INVLOGSPEC = 0x10, FEAT_FBANKLINEAR = 0x20, FEAT_FBANKBARK = 0x40, FEAT_FBANKMEL = 0x80,
    FEAT_FBANKNORM = 0x100, FEAT_EQUALLOUD = 0x200, FEAT_RASTA = 0x400, FEAT_INVDCT = 0x800,
    FEAT_INVDFT = 0x1000, FEAT_AUTOCORR = 0x2000, FEAT_DURBIN = 0x4000, FEAT_ARCEPSTRAL = 0x8000,
    FEAT_GEXP = 0x10000, FEAT_WENDREL = 0x20000, FEAT_AR2LSP = 0x40000, FEAT_LSP2AR = 0x80000,
    FEAT_HANNING = 0x100000, FEAT_RECTANGLE = 0x200000, FEAT_TRIANGLE = 0x400000
};

typedef struct FeatureSettings {
    int32_t flags;
    int32_t scale; /* 0, or 0x20 linear, 0x40 bark, 0x80 mel: replaces the filterbank flag */
    int32_t order;
    int32_t output;
    int32_t filters;
    int32_t samplerate;
    float windowsize; /* ms */
    float framesize;  /* ms */
    float exp;
    float rasta;
    float *iir;
    float *fir;
    int32_t iirCount;
    int32_t firCount;
    float lfreq;
    float ufreq;
    float emphasis;
    float preemphasis;
    unsigned char filtershape; /* 0 default, 1 triangular, 2 trapesium */
} FeatureSettings;

typedef struct FeatureRecord {
    int32_t flags;
    int32_t filtershape;
    int32_t frameStep;
    int32_t windowLength;
    int32_t order;
    int32_t output;
    double exp;
    double preemphasis;
    double *window;
    double *inputBuffer;
    double *outputBuffer;
    int32_t inputDim;
    int32_t outputDim;
    double rasta;
    double lfreq;
    double ufreq;
    double emphasis;
    int32_t firstgood;
    int32_t lastfilt;
    int32_t filters;
    double framesize;
    double windowsize;
    double samplerate;
    void *priv; /* the library's own state */
} FeatureRecord;

FeatureSettings *featureDefault(void);
FeatureRecord *featureInit(GS_Result *result, const FeatureSettings *settings);
void featureReset(FeatureRecord *fe);
int featureFrames(FeatureRecord *fe, int samples);
/* Consumes the wave's samples; fills one output row per completed frame
 * when output is not NULL. Returns the rows written. */
int featureCompute(FeatureRecord *fe, const WaveRecord *wave, float **output);
/* The same over a block of samples (what featureCompute calls). */
int featureComputeSamples(FeatureRecord *fe, const int16_t *samples, int count, float **output);
void featureFrame(FeatureRecord *fe);
void featureNuke(FeatureRecord *fe);

/* Deltas. */
typedef struct DeltaSettings {
    int32_t order;
    int32_t basefeatdim;
    int32_t sigmaT2;
} DeltaSettings;
typedef struct DeltaFilter DeltaFilter;
DeltaSettings *deltaDefault(void);
DeltaFilter *deltaInit(const DeltaSettings *settings);
void deltaReset(DeltaFilter *f);
int deltaDim(const DeltaFilter *f); /* the dimension it was made for */
int deltaBufferFrames(DeltaFilter *f, int rows, int flush);
int deltaBufferCompute(DeltaFilter *f, float **in, int rows, float **out, int flush);
void deltaNuke(DeltaFilter *f);

/* FIR over frames. */
typedef struct FirFilter FirFilter;
FirFilter *filterInit(GS_Result *result, float **coeffs, int rows, int taps, int firstgood, int lastfilt,
                      int feature, int causal);
void filterReset(FirFilter *f);
int filterDim(const FirFilter *f);
int filterRows(const FirFilter *f);
int filterTaps(const FirFilter *f);
float filterCoeff(const FirFilter *f, int row, int tap);
int filterFrames(FirFilter *f, int rows, int flush);
int filter(FirFilter *f, float **in, int rows, float **out, int flush);
int filterFlush(FirFilter *f, float **out, int unused);
void filterNuke(FirFilter *f);

/* Pipe delay. */
typedef struct PipeDelay PipeDelay;
PipeDelay *pipedelayInit(int delay, int feature);
void pipedelayReset(PipeDelay *d);
int pipedelayDelay(const PipeDelay *d);
int pipedelayDim(const PipeDelay *d);
int pipedelayFrames(PipeDelay *d, int rows, int flush);
int pipedelay(PipeDelay *d, float **in, int rows, float **out, int flush);
void pipedelayNuke(PipeDelay *d);

/* Moving average. */
typedef struct AvgSettings {
    float framesize;
    float delay;
    int32_t feature;
} AvgSettings;
typedef struct AvgFilter AvgFilter;
AvgSettings *avgfilterDefault(void);
AvgFilter *avgfilterInit(GS_Result *result, const AvgSettings *settings);
void avgfilterReset(AvgFilter *a);
float avgfilterFramesize(const AvgFilter *a);
int avgfilterHalfWidth(const AvgFilter *a);
int avgfilterDim(const AvgFilter *a);
int avgfilterFrames(AvgFilter *a, int rows, int flush);
int avgfilter(AvgFilter *a, float **in, int rows, float **out, int flush);
void avgfilterNuke(AvgFilter *a);

/* Whitening. */
typedef struct Whiten Whiten;
Whiten *whiten_Init(GS_Result *result, float **w, int wRows, int wCols, float **u, int uRows, int uCols);
int whitenDim(const Whiten *t);
void whiten(const Whiten *t, float **in, int rows, float **out);
void whitenNuke(Whiten *t);

/* HTK-style MFCC with energy. */
typedef struct MFCCSettings {
    int32_t window;      /* 100 ns units */
    int32_t samplePeriod;
    int32_t framePeriod;
    int32_t channels;
} MFCCSettings;
typedef struct MFCCFrontEnd MFCCFrontEnd;
MFCCSettings *MFCCDefault(void);
MFCCFrontEnd *MFCCInitParam(GS_Result *result, const MFCCSettings *settings);
int MFCCInitFBank(MFCCFrontEnd *fe, double scale);
int MFCCFrameNum(const MFCCFrontEnd *fe, int samples);
int MFCCFramePeriod(const MFCCFrontEnd *fe); /* samples */
double MFCCRate(const MFCCFrontEnd *fe);     /* Hz */
int MFCCCepDim(const MFCCFrontEnd *fe);
/* The front end's own work area, sized for its FFT. */
double *MFCCWork(MFCCFrontEnd *fe);
double MFCCApplyFFT(MFCCFrontEnd *fe, const int16_t *samples, double *work);
void MFCCFinal(MFCCFrontEnd *fe, double *work, double energy, float *row);
void MFCCNormEnergy(MFCCFrontEnd *fe, float **rows, int n);
void MFCCNuke(MFCCFrontEnd *fe);

#ifdef __cplusplus
}
#endif

#endif
