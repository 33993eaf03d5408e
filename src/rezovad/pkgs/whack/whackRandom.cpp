// Generators and smoother of the whack package.
#include "whackRandom.h"

#include <cmath>

namespace {
const int32_t kA = 16807, kM = 2147483647, kQ = 127773, kR = 2836;
const int kTable = 32;
const int32_t kDiv = 1 + (kM - 1) / kTable;  // 2^26
const double kScale = 1.0 / kM, kMax = 0.99999988;

int32_t table[kTable];
int32_t last = 0;
bool haveCached = false;
double cached = 0;
}  // namespace

int32_t whackMinStdStep(int32_t state) {
  int32_t k = state / kQ;
  state = kA * (state - k * kQ) - kR * k;
  if (state < 0) state += kM;
  return state;
}

double whackUniform(int32_t *state) {
  if (*state <= 0 || last == 0) {
    // Restart from -state, reduced into the generator's range 1 .. M-1 (a
    // multiple of M would make every later step 0; -INT32_MIN has no int).
    int64_t v = -(int64_t)*state % kM;
    *state = v < 1 ? 1 : (int32_t)v;
    for (int j = kTable + 7; j >= 0; j--) {
      *state = whackMinStdStep(*state);
      if (j < kTable) table[j] = *state;
    }
    last = table[0];
  }
  *state = whackMinStdStep(*state);
  int j = last / kDiv;
  last = table[j];
  table[j] = *state;
  double v = last * kScale;
  return v > kMax ? kMax : v;
}

double whackGauss(int32_t *state) {
  if (*state < 0) {
    haveCached = false;
  } else if (haveCached) {
    haveCached = false;
    return cached;
  }
  double p, q, r;
  do {
    p = 2 * whackUniform(state) - 1;
    q = 2 * whackUniform(state) - 1;
    r = p * p + q * q;
  } while (r >= 1 || r == 0);
  double f = std::sqrt(-2 * std::log(r) / r);
  cached = p * f;
  haveCached = true;
  return q * f;
}

void whackGaussClear(void) { haveCached = false; }

void whackSmoothInit(WhackSmoother *s, double alpha) {
  s->alpha = alpha;
  s->y = 0;
}

int whackSmooth(WhackSmoother *s, int x) {
  int v = x > 32767 ? 32767 : x < -32768 ? -32768 : x;
  s->y = (1 - s->alpha) * s->y + s->alpha * v;
  return (int)s->y;  // truncated toward zero
}
