// DC removal and FIR filtering of 16-bit samples (see prep.h).
#include "prep.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "dsp.h"
#include "yastro.h"

using dsp::ToSample;

extern "C" {

DcrmParams *dcrmDefault(void) {
  auto *p = static_cast<DcrmParams *>(DB_MALLOC(sizeof(DcrmParams)));
  p->tau = 0.025f;
  p->rate = 16000.0f;
  return p;
}

DcrmFilter *dcrmInit(const DcrmParams *p) {
  if (!(p->tau > 0) || !(p->rate > 0)) return nullptr;
  auto *h = static_cast<DcrmFilter *>(DB_MALLOC(sizeof(DcrmFilter)));
  h->tau = p->tau;
  h->rate = p->rate;
  h->r = std::exp(-1.0 / ((double)p->tau * p->rate));
  dcrmReset(h);
  return h;
}

void dcrmReset(DcrmFilter *h) { h->xPrev = h->yPrev = 0; }

void dcrm(int16_t *s, int len, DcrmFilter *h) {
  for (int i = 0; i < len; i++) {
    const double x = s[i];
    const double y = x - h->xPrev + h->r * h->yPrev;
    h->xPrev = x;
    h->yPrev = y;
    s[i] = ToSample(y);
  }
}

void dcrmNuke(DcrmFilter *h) { DB_FREE(h); }

PrepFir *firInit(int count, float *coeffs, int groupdelay) {
  if (count < 1 || !coeffs || groupdelay < 0 || groupdelay >= count) return nullptr;
  auto *h = static_cast<PrepFir *>(DB_MALLOC(sizeof(PrepFir)));
  h->count = count;
  h->coeffs = coeffs;
  h->groupdelay = groupdelay;
  h->history = static_cast<double *>(DB_MALLOC(sizeof(double) * (count > 1 ? count - 1 : 1)));
  firReset(h);
  return h;
}

void firReset(PrepFir *h) { std::memset(h->history, 0, sizeof(double) * (h->count > 1 ? h->count - 1 : 1)); }

void fir(int16_t *s, int len, PrepFir *h, int flush) {
  if (len < 0) len = 0;
  const int m = h->count - 1, shift = flush ? h->groupdelay : 0;
  // x holds the history, this call's samples and, on a flush, the silence after them.
  std::vector<double> x((size_t)m + len + shift, 0.0);
  std::memcpy(x.data(), h->history, sizeof(double) * m);
  for (int i = 0; i < len; i++) x[(size_t)m + i] = s[i];
  for (int i = 0; i < len; i++) {
    double acc = 0;
    const size_t at = (size_t)m + i + shift;  // the newest sample this output reads
    for (int k = 0; k <= m; k++) acc += h->coeffs[k] * x[at - k];
    s[i] = ToSample(acc);
  }
  if (flush) {
    firReset(h);
  } else if (m > 0) {
    std::memcpy(h->history, x.data() + len, sizeof(double) * m);
  }
}

void firNuke(PrepFir *h) {
  if (!h) return;
  DB_FREE(h->coeffs);
  DB_FREE(h->history);
  DB_FREE(h);
}

}  // extern "C"
