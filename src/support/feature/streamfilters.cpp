// Stream filters over feature frames and the whitening transform (see feature.h).
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "dsp.h"
#include "feature.h"
#include "yastro.h"

namespace {

int clampInt(int64_t n) { return n > 0x7fffffff ? 0x7fffffff : (int)n; }

// Runs one stream step over a history: pushes the rows, writes every due
// frame through emit, and starts a new stream after a flush.
template <class Emit>
int runStream(dsp::FrameHistory &h, float **in, int rows, float **out, int flush, Emit emit) {
  for (int i = 0; i < rows; i++) h.Push(in[i]);
  if (!out) return 0;
  const int64_t due = h.Due(0, flush);
  for (int64_t t = 0; t < due; t++) {
    emit(out[t]);
    h.Advance();
  }
  if (flush) h.Reset();
  return clampInt(due);
}

}  // namespace

struct DeltaFilter {
  int order, dim, sigmaT2;
  dsp::FrameHistory h;
  DeltaFilter(int o, int d, int s) : order(o), dim(d), sigmaT2(s), h(d, o, o) {}
};

struct FirFilter {
  std::vector<std::vector<double>> coeffs;
  int taps, firstgood, lastfilt, dim, causal, delay;
  dsp::FrameHistory h;
  FirFilter(int t, int d, int past, int future) : taps(t), dim(d), h(d, past, future) {}
};

struct PipeDelay {
  int delay, dim;
  dsp::FrameHistory h;
  PipeDelay(int dl, int d) : delay(dl), dim(d), h(d, 0, dl) {}
};

struct AvgFilter {
  float framesize, delayMs;
  int half, dim;
  dsp::FrameHistory h;
  AvgFilter(float fs, float dl, int hw, int d) : framesize(fs), delayMs(dl), half(hw), dim(d), h(d, hw, hw) {}
};

struct Whiten {
  int dim;
  std::vector<double> w;  // scale per column
  std::vector<double> u;  // dim x dim, row-major
};

extern "C" {

// ------------------------------------------------------------- deltas

DeltaSettings *deltaDefault(void) {
  auto *s = static_cast<DeltaSettings *>(DB_MALLOC(sizeof(DeltaSettings)));
  s->order = 2;
  s->basefeatdim = 13;
  s->sigmaT2 = 0;
  return s;
}

DeltaFilter *deltaInit(const DeltaSettings *s) {
  if (s->order < 1 || s->order > 1000 || s->basefeatdim < 1 || s->basefeatdim > 1 << 20) return nullptr;
  return new DeltaFilter(s->order, s->basefeatdim, s->sigmaT2);
}

void deltaReset(DeltaFilter *f) { f->h.Reset(); }
int deltaDim(const DeltaFilter *f) { return f->dim; }
int deltaBufferFrames(DeltaFilter *f, int rows, int flush) { return clampInt(f->h.Due(rows, flush)); }

int deltaBufferCompute(DeltaFilter *f, float **in, int rows, float **out, int flush) {
  double norm = 1.0;
  if (f->sigmaT2) {
    norm = 0;
    for (int k = 1; k <= f->order; k++) norm += 2.0 * k * k;
  }
  return runStream(f->h, in, rows, out, flush, [&](float *row) {
    for (int j = 0; j < f->dim; j++) {
      double s = 0;
      for (int k = 1; k <= f->order; k++) s += k * (f->h.At(k)[j] - f->h.At(-k)[j]);
      row[j] = (float)(s / norm);
    }
  });
}

void deltaNuke(DeltaFilter *f) { delete f; }

// ------------------------------------------------------ FIR over frames

FirFilter *filterInit(GS_Result *r, float **coeffs, int rows, int taps, int firstgood, int lastfilt, int feature,
                      int causal) {
  if (rows < 1 || taps < 1) {
    GS_AppendResult(r, "the filter needs at least one coefficient", (char *)nullptr);
    return nullptr;
  }
  if (feature < 1 || feature > 1 << 20) {
    GS_AppendResult(r, GS_Spf(0, "-feature must be at least 1, not %d", feature), (char *)nullptr);
    return nullptr;
  }
  if (firstgood < 0 || lastfilt > feature || firstgood >= lastfilt) {
    GS_AppendResult(r, GS_Spf(0, "filtered channels %d to %d do not lie within the %d features", firstgood,
                              lastfilt - 1, feature), (char *)nullptr);
    return nullptr;
  }
  if (rows != 1 && rows != lastfilt - firstgood) {
    GS_AppendResult(r, GS_Spf(0, "%d coefficient rows for %d filtered channels: give one row or one per channel",
                              rows, lastfilt - firstgood), (char *)nullptr);
    return nullptr;
  }
  const int delay = causal ? 0 : (taps - 1) / 2;
  auto *f = new FirFilter(taps, feature, causal ? taps - 1 : taps - 1 - delay, delay);
  for (int i = 0; i < rows; i++) f->coeffs.emplace_back(coeffs[i], coeffs[i] + taps);
  f->firstgood = firstgood;
  f->lastfilt = lastfilt;
  f->causal = causal;
  f->delay = delay;
  return f;
}

void filterReset(FirFilter *f) { f->h.Reset(); }
int filterDim(const FirFilter *f) { return f->dim; }
int filterRows(const FirFilter *f) { return (int)f->coeffs.size(); }
int filterTaps(const FirFilter *f) { return f->taps; }
float filterCoeff(const FirFilter *f, int row, int tap) { return (float)f->coeffs[row][tap]; }
int filterFrames(FirFilter *f, int rows, int flush) { return clampInt(f->h.Due(rows, flush)); }

int filter(FirFilter *f, float **in, int rows, float **out, int flush) {
  return runStream(f->h, in, rows, out, flush, [&](float *row) {
    for (int c = 0; c < f->dim; c++) {
      if (c < f->firstgood || c >= f->lastfilt) {
        row[c] = (float)f->h.At(0)[c];
        continue;
      }
      const std::vector<double> &h = f->coeffs.size() == 1 ? f->coeffs[0] : f->coeffs[c - f->firstgood];
      double s = 0;
      for (int k = 0; k < f->taps; k++) s += h[k] * f->h.At(f->delay - k)[c];
      row[c] = (float)s;
    }
  });
}

int filterFlush(FirFilter *f, float **out, int) { return filter(f, nullptr, 0, out, 1); }
void filterNuke(FirFilter *f) { delete f; }

// ----------------------------------------------------------- pipe delay

PipeDelay *pipedelayInit(int delay, int feature) {
  if (delay < 0 || delay > 1 << 20 || feature < 1 || feature > 1 << 20) return nullptr;
  return new PipeDelay(delay, feature);
}

void pipedelayReset(PipeDelay *d) { d->h.Reset(); }
int pipedelayDelay(const PipeDelay *d) { return d->delay; }
int pipedelayDim(const PipeDelay *d) { return d->dim; }
int pipedelayFrames(PipeDelay *d, int rows, int flush) { return clampInt(d->h.Due(rows, flush)); }

int pipedelay(PipeDelay *d, float **in, int rows, float **out, int flush) {
  return runStream(d->h, in, rows, out, flush, [&](float *row) {
    const double *x = d->h.At(0);
    for (int j = 0; j < d->dim; j++) row[j] = (float)x[j];
  });
}

void pipedelayNuke(PipeDelay *d) { delete d; }

// ------------------------------------------------------- moving average

AvgSettings *avgfilterDefault(void) {
  auto *s = static_cast<AvgSettings *>(DB_MALLOC(sizeof(AvgSettings)));
  s->framesize = 10.0f;
  s->delay = 50.0f;
  s->feature = 21;
  return s;
}

AvgFilter *avgfilterInit(GS_Result *r, const AvgSettings *s) {
  if (!(s->framesize > 0) || !(s->delay >= 0) || s->delay / s->framesize > 100000) {
    GS_AppendResult(r, "-framesize must be above 0 and -delay at least 0, within 100000 frames", (char *)nullptr);
    return nullptr;
  }
  if (s->feature < 1 || s->feature > 1 << 20) {
    GS_AppendResult(r, GS_Spf(0, "-feature must be at least 1, not %d", s->feature), (char *)nullptr);
    return nullptr;
  }
  return new AvgFilter(s->framesize, s->delay, (int)std::lround(s->delay / s->framesize), s->feature);
}

void avgfilterReset(AvgFilter *a) { a->h.Reset(); }
float avgfilterFramesize(const AvgFilter *a) { return a->framesize; }
int avgfilterHalfWidth(const AvgFilter *a) { return a->half; }
int avgfilterDim(const AvgFilter *a) { return a->dim; }
int avgfilterFrames(AvgFilter *a, int rows, int flush) { return clampInt(a->h.Due(rows, flush)); }

int avgfilter(AvgFilter *a, float **in, int rows, float **out, int flush) {
  return runStream(a->h, in, rows, out, flush, [&](float *row) {
    for (int j = 0; j < a->dim; j++) {
      double s = 0;
      for (int k = -a->half; k <= a->half; k++) s += a->h.At(k)[j];
      row[j] = (float)(s / (2 * a->half + 1));
    }
  });
}

void avgfilterNuke(AvgFilter *a) { delete a; }

// ------------------------------------------------------------ whitening

Whiten *whiten_Init(GS_Result *r, float **w, int wRows, int wCols, float **u, int uRows, int uCols) {
  if (uRows < 1 || uRows != uCols) {
    GS_AppendResult(r, GS_Spf(0, "the projection must be square, not %d x %d", uRows, uCols), (char *)nullptr);
    return nullptr;
  }
  if (wRows * wCols != uRows) {
    GS_AppendResult(r, GS_Spf(0, "the scale has %d values, the %d x %d projection needs %d", wRows * wCols, uRows,
                              uCols, uRows), (char *)nullptr);
    return nullptr;
  }
  auto *t = new Whiten;
  t->dim = uRows;
  for (int i = 0; i < wRows; i++)
    for (int j = 0; j < wCols; j++) t->w.push_back(w[i][j]);
  for (int i = 0; i < uRows; i++)
    for (int j = 0; j < uCols; j++) t->u.push_back(u[i][j]);
  return t;
}

int whitenDim(const Whiten *t) { return t->dim; }

void whiten(const Whiten *t, float **in, int rows, float **out) {
  const int d = t->dim;
  std::vector<double> y(d);
  for (int r = 0; r < rows; r++) {
    for (int j = 0; j < d; j++) {
      double s = 0;
      for (int i = 0; i < d; i++) s += in[r][i] * t->u[(size_t)i * d + j];
      y[j] = s * t->w[j];
    }
    for (int j = 0; j < d; j++) out[r][j] = (float)y[j];
  }
}

void whitenNuke(Whiten *t) { delete t; }

}  // extern "C"
