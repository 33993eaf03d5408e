// Helpers shared by the network, file and training code; not for packages.
#ifndef DRAVIN_INT_H
#define DRAVIN_INT_H

#include <stdint.h>
#include "dravin.h"

// Limits that keep every size read from a file or a script within what the
// allocator can be asked for.
enum { NNET_MAX_UNITS = 1 << 20 };
static const int64_t NNET_MAX_WEIGHTS = (int64_t)1 << 28;

void nnet_Err(GS_Result *r, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
void *nnet_Calloc(GS_Result *r, int64_t count, int64_t size);
void nnet_Free(void *p);
// 0, or 1 with a message when the layer count or a size is impossible;
// *weights gets the weight count.
int nnet_CountWeights(GS_Result *r, int numLayers, const int32_t *sizes, int64_t *weights);

template <typename T>
NnetRepT<T> *nnet_MakeRep(GS_Result *r, int numLayers, const int32_t *sizes,
                          const unsigned char *act);
template <typename T>
void nnet_FreeRep(NnetRepT<T> *rep);

// Net inputs are held to [-100, 100]; a NaN becomes -100.
static inline double nnet_Clamp(double x) {
  if (x > 100.0) return 100.0;
  if (!(x >= -100.0)) return -100.0;
  return x;
}

// exp for float, accurate to about 1 ulp, written so that loops over it
// vectorise; inputs below -87.3 give about 1e-38.
float nnet_ExpF(float x);
void nnet_ClampF(float *u, int n);
// Applies activation code to n values in place (softmax as exp(x - max) / sum).
void nnet_ActivateF(float *u, int n, int code);

#endif
