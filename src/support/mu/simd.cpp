// Row kernels for several instruction sets (see simd.h).
#include "simd.h"

#include <cmath>

#define MU_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))

namespace mu_simd {

#define MU_BINARY(name, expr)                                                                  \
    MU_CLONES void name(int n, const float *__restrict x, const float *__restrict y,           \
                        float *__restrict o) {                                                 \
        for (int j = 0; j < n; j++) o[j] = expr;                                               \
    }
#define MU_UNARY(name, expr)                                                                   \
    MU_CLONES void name(int n, const float *__restrict x, float *__restrict o) {               \
        for (int j = 0; j < n; j++) o[j] = expr;                                               \
    }

MU_BINARY(add, x[j] + y[j])
MU_BINARY(subtr, x[j] - y[j])
MU_BINARY(mul, x[j] * y[j])
MU_BINARY(div, x[j] / y[j])
MU_UNARY(sqrt, std::sqrt(x[j]))
MU_UNARY(fabs, std::fabs(x[j]))
MU_UNARY(floor, std::floor(x[j]))
MU_UNARY(ceil, std::ceil(x[j]))

} // namespace mu_simd

#include <immintrin.h>

#include <cstdint>

namespace mu_simd {

// Outputs far larger than the caches are written around them: the stores
// then need no read of the old contents first, which saves a third of the
// memory traffic of a two-input operator.
#define MU_STREAM(name, op)                                                                    \
    void name##Stream(int n, const float *x, const float *y, float *o) {                       \
        int j = 0;                                                                             \
        for (; j < n && ((uintptr_t)(o + j) & 15); j++) o[j] = x[j] op y[j];                   \
        for (; j + 4 <= n; j += 4) {                                                           \
            __m128 a = _mm_loadu_ps(x + j), b = _mm_loadu_ps(y + j);                           \
            _mm_stream_ps(o + j, _mm_##name##_ps(a, b));                                       \
        }                                                                                      \
        for (; j < n; j++) o[j] = x[j] op y[j];                                                \
    }

MU_STREAM(add, +)
MU_STREAM(sub, -)
MU_STREAM(mul, *)
MU_STREAM(div, /)

void streamFence() { _mm_sfence(); }

} // namespace mu_simd
