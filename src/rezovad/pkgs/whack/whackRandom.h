// Reproducible noise for whack: a minimal-standard generator (16807 mod
// 2^31 - 1, Schrage's step) behind a 32-entry shuffle table, polar
// Box-Muller on top of it, and the one-pole smoother of the noise colours.
//
// The shuffle table and the Gaussian cache are process-wide, shared by
// every interpreter; commands must not run in parallel. A state <= 0
// restarts the table (seed s and -s give the same sequence, 0 the same as
// 1); a negative state also clears the Gaussian cache.
#pragma once

#include <cstdint>

// One step of the minimal-standard generator, without overflow.
int32_t whackMinStdStep(int32_t state);
// Uniform in (0, 1), at most 0.99999988.
double whackUniform(int32_t *state);
// Standard normal.
double whackGauss(int32_t *state);
// Forgets a cached second Gaussian value.
void whackGaussClear(void);

struct WhackSmoother {
  double alpha;
  double y;
};
void whackSmoothInit(WhackSmoother *s, double alpha);
// y = (1 - alpha)·y + alpha·x; x is clipped to the signed 16-bit range
// first (loud noise values saturate rather than wrap to the other sign).
int whackSmooth(WhackSmoother *s, int x);
