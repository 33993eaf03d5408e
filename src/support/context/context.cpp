// Frame stacking over a stream (see context.h).
#include "context.h"

#include <algorithm>
#include <cstring>

#include "dsp.h"
#include "yastro.h"

namespace {
const int kMaxOffset = 1000;

dsp::FrameHistory *history(ContextRecord *c) { return static_cast<dsp::FrameHistory *>(c->priv); }

}  // namespace

extern "C" {

ContextRecord *contextInit(GS_Result *r, const ContextSpec *s) {
  if (s->count < 1) {
    GS_AppendResult(r, "a context needs at least one frame offset", (char *)nullptr);
    return nullptr;
  }
  if (s->coeffs < 1 || s->coeffs > 1 << 20) {
    GS_AppendResult(r, GS_Spf(0, "-coeffs must be at least 1, not %d", s->coeffs), (char *)nullptr);
    return nullptr;
  }
  if (!(s->framesize > 0)) {
    GS_AppendResult(r, "-framesize must be above 0", (char *)nullptr);
    return nullptr;
  }
  int past = 0, future = 0;
  for (int i = 0; i < s->count; i++) {
    if (s->offsets[i] < -kMaxOffset || s->offsets[i] > kMaxOffset) {
      GS_AppendResult(r, GS_Spf(0, "frame offset %d lies beyond %d frames", s->offsets[i], kMaxOffset),
                      (char *)nullptr);
      return nullptr;
    }
    past = std::max(past, -s->offsets[i]);
    future = std::max(future, s->offsets[i]);
  }
  auto *c = static_cast<ContextRecord *>(DB_MALLOC(sizeof(ContextRecord)));
  c->count = s->count;
  c->offsets = static_cast<int32_t *>(DB_MALLOC(sizeof(int32_t) * s->count));
  c->values = static_cast<int32_t *>(DB_MALLOC(sizeof(int32_t) * s->count));
  std::memcpy(c->offsets, s->offsets, sizeof(int32_t) * s->count);
  std::memcpy(c->values, s->values, sizeof(int32_t) * s->count);
  c->coeffs = s->coeffs;
  c->delay = future;
  c->held = 0;
  c->framesize = s->framesize;
  c->priv = new dsp::FrameHistory(s->coeffs, past, future);
  return c;
}

void contextReset(ContextRecord *c) {
  history(c)->Reset();
  c->held = 0;
}

void contextNuke(ContextRecord *c) {
  if (!c) return;
  delete history(c);
  DB_FREE(c->offsets);
  DB_FREE(c->values);
  DB_FREE(c);
}

void contextByFrame(float **rows, int nRows, float *out, int frame, const ContextRecord *c) {
  for (int i = 0; i < c->count; i++) {
    const float *x = rows[std::min(std::max(frame + c->offsets[i], 0), nRows - 1)];
    for (int j = 0; j < c->coeffs; j++) out[i * c->coeffs + j] = x[j] * (float)c->values[i];
  }
}

int context(float **rows, int n, float **out, ContextRecord *c, int flush) {
  dsp::FrameHistory *h = history(c);
  for (int i = 0; i < n; i++) h->Push(rows[i]);
  int written = 0;
  if (out) {
    for (int64_t t = h->Due(0, flush); t > 0; t--, written++) {
      for (int i = 0; i < c->count; i++) {
        const double *f = h->At(c->offsets[i]);
        for (int j = 0; j < c->coeffs; j++) out[written][i * c->coeffs + j] = (float)(f[j] * c->values[i]);
      }
      h->Advance();
    }
    if (flush) h->Reset();
  }
  c->held = (int32_t)h->held();
  return written;
}

}  // extern "C"
