// nnrand: the project's seeded 15-bit random generator.
//
// Training code was written against a generator whose largest value is 32767;
// the C library's rand() is wider on this platform and differs between
// machines. This one gives the same sequence everywhere for a seed.
// Seeds: negative = time of day plus processor clock, positive = itself,
// 0 = leave the state as it is (the first use without a seed behaves as seed 1).
#ifndef NNRAND_H
#define NNRAND_H

#include <stdint.h>

enum { NNRAND_MAX = 32767 };

typedef struct NnRand {
  uint64_t state;
} NnRand;

void nnrand_Seed(NnRand *g, long seed);
// 0 .. NNRAND_MAX
int nnrand_Next(NnRand *g);
// 2 * next / NNRAND_MAX - 1, uniform in [-1, 1]
double nnrand_Uniform(NnRand *g);
// A seed from the time of day and the processor clock (always positive).
long nnrand_TimeSeed(void);

#endif
