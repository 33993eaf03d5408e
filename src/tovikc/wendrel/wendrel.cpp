// Short-time log energy with a Hamming window.
#include "wendrel.h"

#include <cmath>
#include <cstdio>
#include <new>
#include <vector>

#include "yastro.h"

static const char *kSource = "src/tovikc/wendrel/wendrel";

WendrelRecord *Wendrel_init(float winSize, float frameSize, int sampFreq) {
  WendrelRecord *w = (WendrelRecord *)DB_Malloc(sizeof(WendrelRecord), kSource, __LINE__);
  w->winSize = 0;
  w->frameSize = 0;
  w->sampFreq = 0;
  Wendrel_reset(w);
  if (winSize != -1.0f) w->winSize = winSize;
  if (frameSize != -1.0f) w->frameSize = frameSize;
  if (sampFreq != -1) w->sampFreq = sampFreq;
  return w;
}

WendrelRecord *Wendrel_reset(WendrelRecord *w) {
  w->winSize = 32.0f;
  w->frameSize = 1.0f;
  w->sampFreq = 8000;
  return w;
}

void Wendrel_nuke(WendrelRecord *w) { DB_Free(w, kSource, __LINE__); }

int Wendrel_windowSamples(const WendrelRecord *w) {
  double n = (double)w->sampFreq * w->winSize * 0.001;
  if (!(n > 0) || n > 1e9) return 0;  // not a number, negative or absurd
  return (int)n;
}

int Wendrel_compute(WendrelRecord *w, const int16_t samples[], int nsamples, float *rows[], int nframes,
                    int step) {
  int N = Wendrel_windowSamples(w);
  if (N < 2 || step < 1) return -1;
  int half = N / 2;
  std::vector<double> x2, a2;
  try {
    x2.resize(nsamples > 0 ? nsamples : 0);
  } catch (const std::bad_alloc &) {
    fprintf(stderr, "Not enough memory for %d double.\n", nsamples);
    return -1;
  }
  try {
    a2.resize(N);
  } catch (const std::bad_alloc &) {
    fprintf(stderr, "Not enough memory for %d double.\n", N);
    return -1;
  }
  for (int k = 0; k < nsamples; k++) x2[k] = (double)samples[k] * samples[k];
  double S = 0;
  for (int i = 0; i < N; i++) {
    double a = 0.54 - 0.46 * std::cos(2 * M_PI * i / (N - 1));
    a2[i] = a * a;
    S += a;
  }
  for (int i = 0; i < nframes; i++) {
    long c = (long)i * step;
    if (c >= nsamples) break;
    long first = c - half;
    int k0 = first < 0 ? (int)-first : 0;
    int k1 = 2 * half;
    if (first + k1 > nsamples) k1 = (int)(nsamples - first);
    double E = 0;
    for (int k = k0; k < k1; k++) E += a2[k] * x2[first + k];
    double v = E / S;
    if (v < 1.0) v = 1.0;
    rows[i][0] = (float)(10 * std::log10(v));
  }
  return 0;
}
