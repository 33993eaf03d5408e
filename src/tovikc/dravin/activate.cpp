// Activation functions in single precision.
#include <cstdint>
#include <cstring>

#include "dravin_int.h"

// Range reduction x = n ln2 + f with |f| <= ln2 / 2, a degree-6 polynomial for
// e^f and 2^n put together from its bits. Branch-free so that loops vectorise.
// Inputs below -87.3 give about 1e-38 instead of a denormal or 0.
static inline float expf_inline(float x) {
  const float lo = -87.33654f, hi = 88.72283f;
  x = x < lo ? lo : x;
  x = x > hi ? hi : x;
  // floor by truncating a positive number
  int32_t t = (int32_t)(x * 1.44269504088896341f + 0.5f + 256.0f) - 256;
  float n = (float)t;
  float f = x - n * 0.693359375f - n * -2.12194440e-4f;
  float y = 1.9875691500e-4f;
  y = y * f + 1.3981999507e-3f;
  y = y * f + 8.3334519073e-3f;
  y = y * f + 4.1665795894e-2f;
  y = y * f + 1.6666665459e-1f;
  y = y * f + 5.0000001201e-1f;
  y = y * f * f + f + 1.0f;
  // 2^n as two halves, so that both ends of the range stay normal floats.
  int32_t h = t >> 1;
  int32_t b1 = (h + 127) << 23, b2 = (t - h + 127) << 23;
  float p1, p2;
  memcpy(&p1, &b1, 4);
  memcpy(&p2, &b2, 4);
  return y * p1 * p2;
}

float nnet_ExpF(float x) { return expf_inline(x); }

// Logistic through exp(-|x|), which never overflows.
__attribute__((target_clones("avx2", "default")))
static void sigmoidLoop(float *u, int n) {
  for (int i = 0; i < n; i++) {
    float x = u[i];
    float ax = x < 0 ? -x : x;
    float e = expf_inline(-ax);
    float s = 1.0f / (1.0f + e);
    u[i] = x < 0 ? e * s : s;
  }
}

__attribute__((target_clones("avx2", "default")))
static float expShiftLoop(float *u, int n, float mx) {
  float sum = 0;
  for (int i = 0; i < n; i++) {
    u[i] = expf_inline(u[i] - mx);
    sum += u[i];
  }
  return sum;
}

// Net inputs held to [-100, 100], NaN to -100.
__attribute__((target_clones("avx2", "default")))
void nnet_ClampF(float *u, int n) {
  for (int i = 0; i < n; i++) {
    float x = u[i];
    x = x > 100.0f ? 100.0f : x;
    u[i] = x >= -100.0f ? x : -100.0f;
  }
}

void nnet_ActivateF(float *u, int n, int code) {
  if (n <= 0) return;
  if (code == NNET_SIGMOID) {
    sigmoidLoop(u, n);
  } else if (code == NNET_SOFTMAX) {
    float mx = u[0];
    for (int i = 1; i < n; i++) mx = u[i] > mx ? u[i] : mx;
    float sum = expShiftLoop(u, n, mx);
    float inv = 1.0f / sum;
    for (int i = 0; i < n; i++) u[i] *= inv;
  }
}
