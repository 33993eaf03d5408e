// Vector quantisation (see vq.h).
#include "vq.h"

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

double dist2(const float *a, const float *b, int dim) {
  double s = 0;
  for (int j = 0; j < dim; j++) {
    const double d = (double)a[j] - b[j];
    s += d * d;
  }
  return s;
}

int nearest(const float *v, float **cb, int M, int dim, double *best) {
  int k = 0;
  double b = dist2(v, cb[0], dim);
  for (int i = 1; i < M; i++) {
    const double d = dist2(v, cb[i], dim);
    if (d < b) {
      b = d;
      k = i;
    }
  }
  if (best) *best = b;
  return k;
}

bool checkSizes(GS_Result *r, int M, int N, int dim) {
  if (M < 1 || N < 1 || dim < 1) {
    GS_AppendResult(r, GS_Spf(0, "need at least one cell, one vector and one dimension, not %d, %d and %d", M, N, dim),
                    (char *)nullptr);
    return false;
  }
  return true;
}

}  // namespace

extern "C" {

int VQ_GenerateRndVec(int *idx, int M, int N, int seed) {
  if (M > N || M < 0) return -1;
  std::mt19937 g((unsigned)seed);
  std::vector<int> all(N);
  for (int i = 0; i < N; i++) all[i] = i;
  for (int i = 0; i < M; i++) {
    const int j = i + (int)(g() % (unsigned)(N - i));
    std::swap(all[i], all[j]);
    idx[i] = all[i];
  }
  return 0;
}

int VQ_LBGCodebook(GS_Result *r, float **cb, float **data, int M, int N, int dim, int iters, int verbose) {
  if (!checkSizes(r, M, N, dim)) return -1;
  std::vector<int> cell(N);
  std::vector<double> d(N), sum((size_t)M * dim);
  std::vector<int> count(M);
  double last = -1;
  for (int it = 0; it < iters; it++) {
    double total = 0;
    for (int n = 0; n < N; n++) {
      cell[n] = nearest(data[n], cb, M, dim, &d[n]);
      total += d[n];
    }
    const double mean = total / N;
    if (verbose) std::fprintf(stderr, "lbg round %d: mean distortion %g\n", it + 1, mean / dim);
    if (last >= 0 && std::fabs(last - mean) <= 1e-6 * mean) break;
    last = mean;
    std::fill(sum.begin(), sum.end(), 0.0);
    std::fill(count.begin(), count.end(), 0);
    for (int n = 0; n < N; n++) {
      count[cell[n]]++;
      for (int j = 0; j < dim; j++) sum[(size_t)cell[n] * dim + j] += data[n][j];
    }
    for (int m = 0; m < M; m++) {
      if (count[m] > 0) {
        for (int j = 0; j < dim; j++) cb[m][j] = (float)(sum[(size_t)m * dim + j] / count[m]);
        continue;
      }
      // An empty cell takes over the worst-served vector.
      int far = 0;
      for (int n = 1; n < N; n++)
        if (d[n] > d[far]) far = n;
      for (int j = 0; j < dim; j++) cb[m][j] = data[far][j];
      d[far] = 0;
    }
  }
  return 0;
}

int VQ_LBGSplit(GS_Result *r, float **cb, float **nb, int M, float **data, int N, int dim, int verbose, int seed) {
  if (!checkSizes(r, M, N, dim)) return -1;
  std::mt19937 g((unsigned)seed);
  for (int m = 0; m < M; m++) {
    for (int j = 0; j < dim; j++) {
      const double u = (double)g() / 4294967295.0 * 2.0 - 1.0;
      nb[2 * m][j] = (float)(cb[m][j] * (1.0 + 0.01 * u));
      nb[2 * m + 1][j] = (float)(cb[m][j] * (1.0 - 0.01 * u));
    }
  }
  return VQ_LBGCodebook(r, nb, data, 2 * M, N, dim, 20, verbose);
}

int VQ_CellCount(GS_Result *r, float **cb, int M, float **data, int N, int dim) {
  if (!checkSizes(r, M, N, dim)) return -1;
  std::vector<int> count(M, 0);
  for (int n = 0; n < N; n++) count[nearest(data[n], cb, M, dim, nullptr)]++;
  std::string text;
  for (int m = 0; m < M; m++) text += (m ? " " : "") + std::to_string(count[m]);
  GS_AppendResult(r, text.c_str(), (char *)nullptr);
  return 0;
}

int VQ_wcell(float **data, float **cb, float *, int i, int M, int dim) {
  return nearest(data[i], cb, M, dim, nullptr);
}

float VQ_NBest(const float *v, float **cb, int M, int dim, int) {
  double b;
  nearest(v, cb, M, dim, &b);
  return (float)b;
}

}  // extern "C"
