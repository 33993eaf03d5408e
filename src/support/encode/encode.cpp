// The MFCC-plus-delta encoder over the feature library (see encode.h).
#include "encode.h"

#include <algorithm>
#include <vector>

#include "dsp.h"
#include "feature.h"
#include "yastro.h"

namespace {
const int kCeps = 13, kSpan = 2, kStacked = 2 * kCeps;
}

struct MfccDelta {
  FeatureRecord *fe = nullptr;
  DeltaFilter *delta = nullptr;  // deltas of the cepstra ...
  PipeDelay *late = nullptr;     // ... and the cepstra held back to meet them
  dsp::FrameHistory stacked{kStacked, kSpan, kSpan};  // cepstra + deltas, for the context
  std::vector<float> scratch;
};

extern "C" {

MfccDeltaParams *mfccdeltaDefault(void) {
  auto *p = static_cast<MfccDeltaParams *>(DB_MALLOC(sizeof(MfccDeltaParams)));
  p->windowsize = 25.0f;
  p->rate = 16000;
  p->nfilts = 24;
  return p;
}

MfccDelta *mfccdeltaInit(GS_Result *r, const MfccDeltaParams *p) {
  FeatureSettings *s = featureDefault();
  s->flags = FEAT_PREEMPHASIS | FEAT_HAMMING | FEAT_POWERSPEC | FEAT_FBANKMEL | FEAT_LOGSPEC | FEAT_INVDCT | FEAT_GEXP;
  s->windowsize = p->windowsize;
  s->framesize = 10.0f;
  s->samplerate = p->rate;
  s->filters = p->nfilts;
  s->output = kCeps;
  FeatureRecord *fe = featureInit(r, s);
  DB_FREE(s);
  if (!fe) return nullptr;
  auto *h = new MfccDelta;
  h->fe = fe;
  DeltaSettings *d = deltaDefault();
  d->order = kSpan;
  d->basefeatdim = kCeps;
  d->sigmaT2 = 1;
  h->delta = deltaInit(d);
  DB_FREE(d);
  h->late = pipedelayInit(kSpan, kCeps);
  return h;
}

void mfccdeltaReset(MfccDelta *h) {
  featureReset(h->fe);
  deltaReset(h->delta);
  pipedelayReset(h->late);
  h->stacked.Reset();
}

int mfccdeltaFrames(MfccDelta *h, int samples, int flush) {
  const int64_t cep = featureFrames(h->fe, samples);
  const int64_t deltas = deltaBufferFrames(h->delta, (int)cep, flush);
  const int64_t out = h->stacked.Due(deltas, flush);
  return out > 0x7fffffff ? 0x7fffffff : (int)out;
}

int mfccdeltaCompute(MfccDelta *h, const int16_t *samples, int len, float **features, int flush) {
  const int due = mfccdeltaFrames(h, len, flush);
  if (due > 0 && !features) return 0;  // nothing may be dropped: keep everything for later
  const int n = featureFrames(h->fe, len);
  h->scratch.resize((size_t)std::max(n, 1) * kCeps);
  std::vector<float *> rows(std::max(n, 1));
  for (int i = 0; i < n; i++) rows[i] = h->scratch.data() + (size_t)i * kCeps;
  featureComputeSamples(h->fe, samples, len > 0 ? len : 0, rows.data());
  // Deltas and the held-back cepstra come out in step: both wait for kSpan frames.
  const int d = deltaBufferFrames(h->delta, n, flush);
  std::vector<float> cd((size_t)std::max(d, 1) * 2 * kCeps);
  std::vector<float *> cr(std::max(d, 1)), dr(std::max(d, 1));
  for (int i = 0; i < d; i++) {
    cr[i] = cd.data() + (size_t)i * kStacked;
    dr[i] = cr[i] + kCeps;
  }
  deltaBufferCompute(h->delta, rows.data(), n, dr.data(), flush);
  pipedelay(h->late, rows.data(), n, cr.data(), flush);
  for (int i = 0; i < d; i++) h->stacked.Push(cr[i]);
  int written = 0;
  for (int64_t t = h->stacked.Due(0, flush); t > 0; t--, written++) {
    for (int k = -kSpan; k <= kSpan; k++) {
      const double *x = h->stacked.At(k);
      std::copy(x, x + kStacked, features[written] + (k + kSpan) * kStacked);
    }
    h->stacked.Advance();
  }
  if (flush) mfccdeltaReset(h);
  return written;
}

void mfccdeltaNuke(MfccDelta *h) {
  if (!h) return;
  featureNuke(h->fe);
  deltaNuke(h->delta);
  pipedelayNuke(h->late);
  delete h;
}

}  // extern "C"
