#include "lyre_axis.h"

#include <sys/mman.h>

#include <cmath>
#include <cstdio>

void LyreMergeDamage(int *start, int *extent, int x, int width) {
  if (*start < 0) return;  // already the whole window
  if (x < 0) {
    *start = -1;
    return;
  }
  if (*start > x) {
    *extent += *start - x;
    *start = x;
  }
  if (x + width > *start + *extent) *extent = x + width - *start;
}

void LyreScrollFractions(int first, int width, int total, double *lo, double *hi) {
  if (total <= 0) {
    *lo = 0.0;
    *hi = 1.0;
    return;
  }
  *lo = (double)first / total;
  if (*lo < 0) *lo = 0;
  *hi = (double)(first + width) / total;
  if (*hi > 1) *hi = 1;
}

int LyreClampFirst(int first, int width, int total) {
  if (first > total - width) first = total - width;
  if (first < 0) first = 0;
  return first;
}

bool LyreTicks(double m, double *major, double *minor) {
  if (!(m > 0) || !std::isfinite(m)) return false;
  double a = m * 50, b = m * 250;
  int k = 0;
  while (b < 1000) {
    b *= 10;
    a *= 10;
    k++;
  }
  while (b > 10000) {
    b *= 0.1;
    a *= 0.1;
    k--;
  }
  double t = 500;
  for (double c : {5000.0, 1000.0, 500.0}) {
    if (c >= a && c < b) {
      t = c;
      break;
    }
  }
  *major = t / std::pow(10.0, k);
  *minor = *major * 0.1;
  return true;
}

std::string LyreLabelFormat(double step) {
  int d = 0;
  // Bounded: a step below 1e-12 ms would not label anything readable.
  while (step > 0 && step < 1 && d < 12) {
    step *= 10;
    d++;
  }
  char buf[32];
  snprintf(buf, sizeof buf, "%%%d.%df", d + 4, d);
  return buf;
}

LyreColumnSpan LyreColumnSamples(double spp, int64_t p) {
  return {(int64_t)std::floor(spp * p), (int64_t)std::floor(spp * (p + 1) - 0.001)};
}

void LyreEnvelope(const int16_t *stored, int64_t count, double spp, int first, int cs, int x1, int minStored,
                  float k, std::vector<LyrePoint> *points) {
  points->clear();
  auto yOf = [&](int16_t s) { return (int)((s - minStored) * k); };
  // lo/hi over the samples of strip pixel p that exist; false when none do.
  auto range = [&](int64_t p, int *lo, int *hi) {
    LyreColumnSpan c = LyreColumnSamples(spp, p);
    int64_t a = c.s0 < 0 ? 0 : c.s0, b = c.s1 >= count ? count - 1 : c.s1;
    if (a > b) return false;
    // yOf is monotonic, so the extremes of the samples give the extremes of
    // the pixels; a plain min/max over int16 runs vectorised.
    int16_t smin = stored[a], smax = smin;
    for (int64_t i = a + 1; i <= b; i++) {
      int16_t v = stored[i];
      smin = v < smin ? v : smin;
      smax = v > smax ? v : smax;
    }
    int y0 = yOf(smin), y1 = yOf(smax);
    *lo = y0 < y1 ? y0 : y1;
    *hi = y0 < y1 ? y1 : y0;
    return true;
  };
  int prevMid = 0, lo = 0, hi = 0;
  if (cs + first > 0) {
    int64_t before = (int64_t)cs + first - 1;
    int64_t s1 = LyreColumnSamples(spp, before).s1;
    if (s1 >= 0 && s1 < count && range(before, &lo, &hi)) prevMid = (lo + hi) / 2;
  }
  for (int c = cs; c <= x1; c++) {
    int64_t p = (int64_t)c + first;
    LyreColumnSpan sp = LyreColumnSamples(spp, p);
    if (sp.s1 < 0) continue;
    if (sp.s0 >= count) break;
    range(p, &lo, &hi);  // a column without samples keeps the previous lo, hi
    int mid = (lo + hi) / 2;
    if (prevMid > mid) {
      points->push_back({(int16_t)c, (int16_t)hi});
      points->push_back({(int16_t)c, (int16_t)lo});
    } else {
      points->push_back({(int16_t)c, (int16_t)lo});
      points->push_back({(int16_t)c, (int16_t)hi});
    }
    prevMid = mid;
  }
}

void LyreAdviseHugePages(void *p, size_t bytes) {
  const uintptr_t huge = (uintptr_t)2 << 20;
  uintptr_t a = ((uintptr_t)p + huge - 1) & ~(huge - 1), b = ((uintptr_t)p + bytes) & ~(huge - 1);
  if (b > a) madvise((void *)a, b - a, MADV_HUGEPAGE);
}
