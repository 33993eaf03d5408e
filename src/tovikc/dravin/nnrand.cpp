#include "nnrand.h"

#include <sys/time.h>
#include <time.h>

static const uint64_t kDefaultState = 0x9E3779B97F4A7C15ull;

void nnrand_Seed(NnRand *g, long seed) {
  if (seed < 0) seed = nnrand_TimeSeed();
  if (seed == 0) return;
  // splitmix64 of the seed, so that neighbouring seeds give unrelated streams.
  uint64_t z = (uint64_t)seed + kDefaultState;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  g->state = z ^ (z >> 31);
  if (g->state == 0) g->state = kDefaultState;
}

int nnrand_Next(NnRand *g) {
  if (g->state == 0) nnrand_Seed(g, 1);
  // xorshift64*: the top 15 bits of the product are well mixed.
  uint64_t x = g->state;
  x ^= x >> 12;
  x ^= x << 25;
  x ^= x >> 27;
  g->state = x;
  return (int)((x * 0x2545F4914F6CDD1Dull) >> 49);
}

double nnrand_Uniform(NnRand *g) { return 2.0 * nnrand_Next(g) / NNRAND_MAX - 1.0; }

long nnrand_TimeSeed(void) {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  long s = (long)tv.tv_sec * 1000003L + (long)tv.tv_usec + (long)clock();
  if (s < 0) s = -s;
  return s ? s : 1;
}
