// Nonlinear conjugate gradient (Polak-Ribiere+) with a strong-Wolfe line search.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "kelmortrain.h"

namespace {

const double kC1 = 1e-4, kC2 = 0.1;
const int kMaxEvals = 25;  // per line search

struct Search {
  CgrdProblem *p;
  CgrdErrfc *errfc;
  int status = 0;
  std::vector<double> x, d;   // current point and direction
  std::vector<float> trial;   // point handed to the callback
  std::vector<double> g;      // gradient at the last evaluation
  std::vector<float> best;
  double bestE = HUGE_VAL;

  // Error and directional derivative at x + a d; false when aborted.
  bool eval(double a, double *E, double *dphi) {
    for (int i = 0; i < p->n; i++) trial[i] = (float)(x[i] + a * d[i]);
    std::fill(g.begin(), g.end(), 0.0);
    double e = 0;
    status = errfc(p->clientData, trial.data(), g.data(), &e);
    if (status) return false;
    if (!std::isfinite(e)) e = HUGE_VAL;
    double s = 0;
    for (int i = 0; i < p->n; i++) s += g[i] * d[i];
    *E = e;
    *dphi = s;
    if (e < bestE) {
      bestE = e;
      best = trial;
    }
    return true;
  }
};

double cubicMin(double a0, double f0, double d0, double a1, double f1, double d1) {
  double d1s = d0 + d1 - 3 * (f0 - f1) / (a0 - a1);
  double r = d1s * d1s - d0 * d1;
  if (r < 0) return NAN;
  double d2 = std::copysign(std::sqrt(r), a1 - a0);
  return a1 - (a1 - a0) * (d1 + d2 - d1s) / (d1 - d0 + 2 * d2);
}

// Finds a step satisfying the strong Wolfe conditions along s.d from s.x,
// whose error is e0 and slope dphi0 < 0. Returns the step, or 0 when no lower
// point was found; *E, gradient in s.g are those of the returned step.
double lineSearch(Search &s, double e0, double dphi0, double a1, double *E, std::vector<double> &gOut) {
  double aPrev = 0, ePrev = e0, dPrev = dphi0;
  double bestA = 0, bestEa = e0;
  auto keep = [&](double a, double e) {
    if (e < bestEa) {
      bestA = a;
      bestEa = e;
      gOut = s.g;
    }
  };
  auto zoom = [&](double lo, double elo, double dlo, double hi, double ehi, double dhi, int evals) -> double {
    for (; evals < kMaxEvals; evals++) {
      double a = cubicMin(lo, elo, dlo, hi, ehi, dhi);
      double left = std::fmin(lo, hi), right = std::fmax(lo, hi), w = right - left;
      if (!std::isfinite(a) || a < left + 0.1 * w || a > right - 0.1 * w) a = 0.5 * (lo + hi);
      double e, da;
      if (!s.eval(a, &e, &da)) return 0;
      keep(a, e);
      if (e > e0 + kC1 * a * dphi0 || e >= elo) {
        hi = a, ehi = e, dhi = da;
      } else {
        if (std::fabs(da) <= -kC2 * dphi0) return a;
        if (da * (hi - lo) >= 0) hi = lo, ehi = elo, dhi = dlo;
        lo = a, elo = e, dlo = da;
      }
      if (std::fabs(hi - lo) < 1e-14 * std::fmax(1.0, std::fabs(lo))) break;
    }
    return bestA;
  };
  double a = a1;
  for (int evals = 0; evals < kMaxEvals; evals++) {
    double e, da;
    if (!s.eval(a, &e, &da)) return 0;
    keep(a, e);
    if (e > e0 + kC1 * a * dphi0 || (evals > 0 && e >= ePrev)) {
      zoom(aPrev, ePrev, dPrev, a, e, da, evals + 1);
      break;
    }
    if (std::fabs(da) <= -kC2 * dphi0) break;
    if (da >= 0) {
      zoom(a, e, da, aPrev, ePrev, dPrev, evals + 1);
      break;
    }
    aPrev = a, ePrev = e, dPrev = da;
    a *= 3;
  }
  if (s.status) return 0;
  // The step returned is always the lowest point met.
  *E = bestEa;
  return bestEa < e0 ? bestA : 0;
}

}  // namespace

double Cgrd(CgrdProblem *p, CgrdErrfc *errfc, CgrdSave *save, int iters, int display, double tol, int *status) {
  Search s;
  s.p = p;
  s.errfc = errfc;
  const int n = p->n;
  s.x.assign(p->x, p->x + n);
  s.d.assign(n, 0.0);
  s.trial.assign(n, 0.0f);
  s.g.assign(n, 0.0);
  *status = 0;
  double E, unused;
  if (!s.eval(0, &E, &unused)) {
    *status = s.status;
    return HUGE_VAL;
  }
  std::vector<double> g = s.g, gNew(n);
  for (int i = 0; i < n; i++) s.d[i] = -g[i];
  double lastStep = 0, lastSlope = 0;
  for (int it = 1; it <= iters;) {
    double gg = 0, dphi = 0;
    for (int i = 0; i < n; i++) {
      gg += g[i] * g[i];
      dphi += g[i] * s.d[i];
    }
    if (gg == 0) break;
    if (dphi >= 0) {  // not downhill: restart along the gradient
      for (int i = 0; i < n; i++) s.d[i] = -g[i];
      dphi = -gg;
    }
    double a1 = lastStep > 0 ? std::fmin(1.0, 1.01 * 2 * lastStep * lastSlope / dphi) : 1.0 / std::sqrt(gg);
    if (!(a1 > 0)) a1 = 1.0 / std::sqrt(gg);
    double Enew = E;
    double a = lineSearch(s, E, dphi, a1, &Enew, gNew);
    if (s.status) break;
    if (a == 0) {
      // No progress along this direction: one retry along the gradient.
      bool steepest = true;
      for (int i = 0; i < n && steepest; i++) steepest = s.d[i] == -g[i];
      if (steepest) break;
      for (int i = 0; i < n; i++) s.d[i] = -g[i];
      lastStep = 0;
      continue;
    }
    for (int i = 0; i < n; i++) s.x[i] += a * s.d[i];
    double num = 0;
    for (int i = 0; i < n; i++) num += gNew[i] * (gNew[i] - g[i]);
    double beta = std::fmax(0.0, num / gg);
    for (int i = 0; i < n; i++) s.d[i] = -gNew[i] + beta * s.d[i];
    lastStep = a;
    lastSlope = dphi;
    double drop = E - Enew;
    E = Enew;
    g = gNew;
    it++;
    if (display) {
      printf("cgrd iteration %d error %g step %g\n", it - 1, E, a);
      fflush(stdout);
    }
    if (save && (*status = save(p->clientData, it - 1)) != 0) break;
    if (drop < tol * std::fmax(1.0, std::fabs(E))) break;
  }
  if (!*status) *status = s.status;
  if (!s.best.empty()) memcpy(p->x, s.best.data(), sizeof(float) * n);
  return s.bestE;
}
