// IIR filtering of 16-bit samples (see helvo.h).
#include "helvo.h"

#include <cmath>
#include <cstring>

#include "dsp.h"
#include "yastro.h"

extern "C" {

HelvoIir *Filter_iirInit(const float *a, int na, const float *b, int nb) {
  if (na < 1 || nb < 1 || !(a[0] != 0)) return nullptr;
  const int n = na > nb ? na : nb;
  auto *h = static_cast<HelvoIir *>(DB_MALLOC(sizeof(HelvoIir)));
  h->count = n;
  h->a = static_cast<float *>(DB_MALLOC(sizeof(float) * n));
  h->b = static_cast<float *>(DB_MALLOC(sizeof(float) * n));
  h->state = static_cast<double *>(DB_MALLOC(sizeof(double) * n));
  for (int i = 0; i < n; i++) {
    h->a[i] = i < na ? a[i] : 0.0f;
    h->b[i] = i < nb ? b[i] : 0.0f;
  }
  Filter_iirReset(h);
  return h;
}

void Filter_iirReset(HelvoIir *h) { std::memset(h->state, 0, sizeof(double) * h->count); }

void Filter_iir(HelvoIir *h, const int16_t *in, int16_t *out, int n) {
  const int m = h->count;
  const double a0 = h->a[0];
  double *z = h->state;
  for (int i = 0; i < n; i++) {
    const double x = in[i];
    const double y = (h->b[0] / a0) * x + z[0];
    for (int k = 1; k < m; k++) z[k - 1] = (h->b[k] / a0) * x - (h->a[k] / a0) * y + (k < m - 1 ? z[k] : 0.0);
    out[i] = dsp::ToSample(y);
  }
}

void Filter_iirNuke(HelvoIir *h) {
  if (!h) return;
  DB_FREE(h->a);
  DB_FREE(h->b);
  DB_FREE(h->state);
  DB_FREE(h);
}

}  // extern "C"
