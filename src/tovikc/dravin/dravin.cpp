// Network records: allocation, copies, release, the one-frame forward pass.
#include "dravin.h"
#include "dravin_int.h"

#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "yastro.h"

void nnet_Err(GS_Result *r, const char *fmt, ...) {
  if (!r) return;
  char buf[512];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  GS_AppendResult(r, buf, (char *)NULL);
}

void *nnet_Calloc(GS_Result *r, int64_t count, int64_t size) {
  if (count < 0 || size <= 0 || count > (int64_t)(INT_MAX - 16) / size) {
    nnet_Err(r, "network too large (%lld elements)", (long long)count);
    return nullptr;
  }
  int bytes = (int)(count * size);
  void *p = DB_Malloc(bytes > 0 ? bytes : 1, __FILE__, __LINE__);
  if (!p) {
    nnet_Err(r, "out of memory allocating %d bytes", bytes);
    return nullptr;
  }
  memset(p, 0, bytes > 0 ? bytes : 1);
  return p;
}

void nnet_Free(void *p) {
  if (p) DB_Free(p, __FILE__, __LINE__);
}

template <typename T>
void nnet_FreeRep(NnetRepT<T> *rep) {
  if (!rep) return;
  if (rep->rows) {
    for (int j = 0; j < rep->numLayers - 1; j++) nnet_Free(rep->rows[j]);
    nnet_Free(rep->rows);
  }
  if (rep->units) {
    for (int j = 0; j < rep->numLayers; j++) nnet_Free(rep->units[j]);
    nnet_Free(rep->units);
  }
  nnet_Free(rep->weights);
  nnet_Free(rep->sizes);
  nnet_Free(rep->act);
  nnet_Free(rep);
}

int nnet_CountWeights(GS_Result *r, int numLayers, const int32_t *sizes, int64_t *weights) {
  if (numLayers < 2 || numLayers > NNET_MAX_LAYERS) {
    nnet_Err(r, "a network needs 2 to %d layers, not %d", NNET_MAX_LAYERS, numLayers);
    return 1;
  }
  int64_t w = 0;
  for (int j = 0; j < numLayers; j++) {
    if (sizes[j] < 1 || sizes[j] > NNET_MAX_UNITS) {
      nnet_Err(r, "layer %d has an impossible size %d", j, (int)sizes[j]);
      return 1;
    }
    if (j > 0) w += (int64_t)sizes[j - 1] * sizes[j];
  }
  if (w > NNET_MAX_WEIGHTS) {
    nnet_Err(r, "network has too many weights (%lld)", (long long)w);
    return 1;
  }
  *weights = w;
  return 0;
}

// A representation with stored sizes (bias units counted) and zero weights.
template <typename T>
NnetRepT<T> *nnet_MakeRep(GS_Result *r, int numLayers, const int32_t *sizes,
                          const unsigned char *act) {
  int64_t w;
  if (nnet_CountWeights(r, numLayers, sizes, &w)) return nullptr;
  auto *rep = (NnetRepT<T> *)nnet_Calloc(r, 1, sizeof(NnetRepT<T>));
  if (!rep) return nullptr;
  int maxUnits = 0;
  for (int j = 0; j < numLayers; j++) maxUnits = sizes[j] > maxUnits ? sizes[j] : maxUnits;
  rep->numLayers = rep->numLayers2 = numLayers;
  rep->numWeights = (int32_t)w;
  rep->maxUnits = maxUnits;
  rep->unitTotal = sizeof(T) == 2 ? 0 : numLayers * maxUnits;
  bool ok = (rep->sizes = (int32_t *)nnet_Calloc(r, numLayers, sizeof(int32_t))) &&
            (rep->act = (unsigned char *)nnet_Calloc(r, numLayers, 1)) &&
            (rep->weights = (T *)nnet_Calloc(r, w, sizeof(T))) &&
            (rep->rows = (T ***)nnet_Calloc(r, numLayers - 1, sizeof(T **))) &&
            (rep->units = (T **)nnet_Calloc(r, numLayers, sizeof(T *)));
  if (ok) {
    memcpy(rep->sizes, sizes, numLayers * sizeof(int32_t));
    if (act) memcpy(rep->act, act, numLayers);
    T *p = rep->weights;
    for (int j = 0; ok && j < numLayers - 1; j++) {
      ok = (rep->rows[j] = (T **)nnet_Calloc(r, sizes[j + 1], sizeof(T *))) != nullptr;
      for (int b = 0; ok && b < sizes[j + 1]; b++, p += sizes[j]) rep->rows[j][b] = p;
    }
    for (int j = 0; ok && j < numLayers; j++)
      ok = (rep->units[j] = (T *)nnet_Calloc(r, maxUnits, sizeof(T))) != nullptr;
  }
  if (!ok) {
    nnet_FreeRep(rep);
    return nullptr;
  }
  return rep;
}

template <typename T>
NnetRepT<T> *nnet_CloneRep(GS_Result *r, const NnetRepT<T> *src) {
  if (!src) return nullptr;
  NnetRepT<T> *rep = nnet_MakeRep<T>(r, src->numLayers, src->sizes, src->act);
  if (!rep) return nullptr;
  memcpy(rep->weights, src->weights, sizeof(T) * (size_t)src->numWeights);
  rep->bias = src->bias;
  return rep;
}

template DNnetRep *nnet_MakeRep<double>(GS_Result *, int, const int32_t *, const unsigned char *);
template FNnetRep *nnet_MakeRep<float>(GS_Result *, int, const int32_t *, const unsigned char *);
template SNnetRep *nnet_MakeRep<int16_t>(GS_Result *, int, const int32_t *, const unsigned char *);
template void nnet_FreeRep<double>(DNnetRep *);
template void nnet_FreeRep<float>(FNnetRep *);
template void nnet_FreeRep<int16_t>(SNnetRep *);

NnetSpec *nnet_Default(void) {
  auto *spec = (NnetSpec *)nnet_Calloc(nullptr, 1, sizeof(NnetSpec));
  if (!spec) return nullptr;
  spec->sizes = (int32_t *)nnet_Calloc(nullptr, 3, sizeof(int32_t));
  spec->act = (unsigned char *)nnet_Calloc(nullptr, 3, 1);
  if (!spec->sizes || !spec->act) {
    nnet_FreeSpec(spec);
    return nullptr;
  }
  spec->sizes[0] = 130;
  spec->sizes[1] = 200;
  spec->sizes[2] = 48;
  spec->act[0] = NNET_LINEAR;
  spec->act[1] = spec->act[2] = NNET_SIGMOID;
  spec->numLayers = 3;
  spec->hiddenBias = 0;
  spec->variant = NNET_FLOAT;
  return spec;
}

void nnet_FreeSpec(NnetSpec *spec) {
  if (!spec) return;
  nnet_Free(spec->sizes);
  nnet_Free(spec->act);
  nnet_Free(spec);
}

Nnet *nnet_Alloc(GS_Result *r, const NnetSpec *spec) {
  int n = spec->numLayers;
  if (n < 2 || n > NNET_MAX_LAYERS) {
    nnet_Err(r, "a network needs 2 to %d layers, not %d", NNET_MAX_LAYERS, n);
    return nullptr;
  }
  int32_t sizes[NNET_MAX_LAYERS];
  for (int j = 0; j < n; j++) {
    if (spec->sizes[j] < 1 || spec->sizes[j] >= NNET_MAX_UNITS) {
      nnet_Err(r, "layer %d has an impossible size %d", j, (int)spec->sizes[j]);
      return nullptr;
    }
    sizes[j] = spec->sizes[j];
  }
  // The caller's spec stays as it was: the bias units are added to a copy.
  sizes[0] += 1;
  if (spec->hiddenBias && n > 2)
    for (int j = 1; j < n - 1; j++) sizes[j] += 1;
  for (int j = 0; j < n; j++)
    if (spec->act[j] > NNET_SOFTMAX) {
      nnet_Err(r, "layer %d has an unknown activation code %d", j, spec->act[j]);
      return nullptr;
    }
  auto *net = (Nnet *)nnet_Calloc(r, 1, sizeof(Nnet));
  if (!net) return nullptr;
  switch (spec->variant) {
    case NNET_DOUBLE:
      net->isDouble = (net->dnet = nnet_MakeRep<double>(r, n, sizes, spec->act)) != nullptr;
      break;
    case NNET_FLOAT:
      net->isFloat = (net->fnet = nnet_MakeRep<float>(r, n, sizes, spec->act)) != nullptr;
      break;
    case NNET_SHORT:
      net->isShort = (net->snet = nnet_MakeRep<int16_t>(r, n, sizes, spec->act)) != nullptr;
      break;
    default:
      nnet_Err(r, "unknown network variant %d", (int)spec->variant);
      break;
  }
  if (!net->isDouble && !net->isFloat && !net->isShort) {
    nnet_Free(net);
    return nullptr;
  }
  return net;
}

int nnet_Nuke(GS_Result *r, Nnet *net) {
  if (!net) return 0;
  nnet_FreeRep(net->dnet);
  nnet_FreeRep(net->fnet);
  nnet_FreeRep(net->snet);
  nnet_Free(net);
  return 0;
}

Nnet *nnet_Clone(GS_Result *r, const Nnet *src) {
  auto *net = (Nnet *)nnet_Calloc(r, 1, sizeof(Nnet));
  if (!net) return nullptr;
  bool ok = true;
  if (src->dnet) ok = ok && (net->dnet = nnet_CloneRep(r, src->dnet)) != nullptr;
  if (src->fnet) ok = ok && (net->fnet = nnet_CloneRep(r, src->fnet)) != nullptr;
  if (src->snet) ok = ok && (net->snet = nnet_CloneRep(r, src->snet)) != nullptr;
  net->isDouble = src->isDouble;
  net->isFloat = src->isFloat;
  net->isShort = src->isShort;
  if (!ok) {
    nnet_Nuke(r, net);
    return nullptr;
  }
  return net;
}

template <typename T>
static int repInputs(const NnetRepT<T> *rep) { return rep->sizes[0] - 1; }
template <typename T>
static int repOutputs(const NnetRepT<T> *rep) { return rep->sizes[rep->numLayers - 1]; }

int nnet_NumInputs(const Nnet *net) {
  if (net->isDouble && net->dnet) return repInputs(net->dnet);
  if (net->isFloat && net->fnet) return repInputs(net->fnet);
  if (net->isShort && net->snet) return repInputs(net->snet);
  return 0;
}

int nnet_NumOutputs(const Nnet *net) {
  if (net->isDouble && net->dnet) return repOutputs(net->dnet);
  if (net->isFloat && net->fnet) return repOutputs(net->fnet);
  if (net->isShort && net->snet) return repOutputs(net->snet);
  return 0;
}

float *nnet_FloatWeights(Nnet *net, int *count) {
  if (!net->isFloat || !net->fnet) return nullptr;
  if (count) *count = net->fnet->numWeights;
  return net->fnet->weights;
}

// Dot products accumulate in double with four partial sums; the order is
// fixed so that a frame always gives the same result.
template <typename T>
static inline double dot(const T *a, const T *w, int n) {
  double s0 = 0, s1 = 0, s2 = 0, s3 = 0;
  int i = 0;
  for (; i + 4 <= n; i += 4) {
    s0 += (double)a[i] * w[i];
    s1 += (double)a[i + 1] * w[i + 1];
    s2 += (double)a[i + 2] * w[i + 2];
    s3 += (double)a[i + 3] * w[i + 3];
  }
  for (; i < n; i++) s0 += (double)a[i] * w[i];
  return (s0 + s1) + (s2 + s3);
}

static inline double sigmoidD(double x) { return 1.0 / (1.0 + std::exp(-x)); }

static void activateD(double *u, int n, int code) {
  if (code == NNET_SIGMOID) {
    for (int i = 0; i < n; i++) u[i] = sigmoidD(u[i]);
  } else if (code == NNET_SOFTMAX && n > 0) {
    double mx = u[0], sum = 0;
    for (int i = 1; i < n; i++) mx = u[i] > mx ? u[i] : mx;
    for (int i = 0; i < n; i++) sum += (u[i] = std::exp(u[i] - mx));
    for (int i = 0; i < n; i++) u[i] /= sum;
  }
}

template <typename T>
static void thinkRep(NnetRepT<T> *rep, const float *input, float *output) {
  const int L = rep->numLayers;
  const int nIn = rep->sizes[0] - 1;
  T *u0 = rep->units[0];
  for (int a = 0; a < nIn; a++) u0[a] = (T)input[a];
  u0[nIn] = 1;
  for (int j = 0; j < L - 1; j++) {
    const int lower = rep->sizes[j];
    const bool hidden = j + 1 < L - 1;
    const int n = rep->sizes[j + 1] - (rep->bias && hidden ? 1 : 0);
    T *in = rep->units[j], *out = rep->units[j + 1];
    T **rows = rep->rows[j];
    for (int b = 0; b < n; b++) out[b] = (T)nnet_Clamp(dot(in, rows[b], lower));
    if constexpr (sizeof(T) == sizeof(float))
      nnet_ActivateF(out, n, rep->act[j + 1]);
    else
      activateD(out, n, rep->act[j + 1]);
    if (rep->bias && hidden) out[n] = 1;
  }
  if (output) {
    const T *last = rep->units[L - 1];
    for (int k = 0; k < rep->sizes[L - 1]; k++) output[k] = (float)last[k];
  }
}

void nnet_Think(Nnet *net, const float *input, float *output) {
  if (net->isDouble && net->dnet)
    thinkRep(net->dnet, input, output);
  else if (net->isFloat && net->fnet)
    thinkRep(net->fnet, input, output);
  // The 16-bit form computes nothing.
}
