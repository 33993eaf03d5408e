// Row kernels of the element-wise operators, built for several instruction
// sets and picked at load time, so that the common operators run at the
// machine's full vector width whatever the build's baseline.
#ifndef TOVIK_MU_SIMD_H
#define TOVIK_MU_SIMD_H

namespace mu_simd {

void add(int n, const float *x, const float *y, float *o);
void subtr(int n, const float *x, const float *y, float *o);
void mul(int n, const float *x, const float *y, float *o);
void div(int n, const float *x, const float *y, float *o);
// The same four writing around the caches, for outputs far larger than
// them; streamFence must follow the last call.
void addStream(int n, const float *x, const float *y, float *o);
void subStream(int n, const float *x, const float *y, float *o);
void mulStream(int n, const float *x, const float *y, float *o);
void divStream(int n, const float *x, const float *y, float *o);
void streamFence();
void sqrt(int n, const float *x, float *o);
void fabs(int n, const float *x, float *o);
void floor(int n, const float *x, float *o);
void ceil(int n, const float *x, float *o);

} // namespace mu_simd

#endif
