// Dynamic time warping (see dtw.h).
#include "dtw.h"

#include <cmath>
#include <limits>
#include <vector>

extern "C" {

float dtw(float **T, float **D, float **W, int n, int m, int relax, int k, int *count) {
  if (n < 1 || m < 1) {
    *count = 0;
    return 0.0f;
  }
  if (relax < 0) relax = 0;
  if (relax > m - 1) relax = m - 1;
  const double inf = std::numeric_limits<double>::infinity();
  auto local = [&](int i, int j) {
    double s = 0;
    for (int c = 0; c < k; c++) {
      const double d = (double)T[i][c] - D[j][c];
      s += d * d;
    }
    return std::sqrt(s);
  };
  // cost[i][j]: the cheapest path to (i, j); from[i][j]: its last step (0 diagonal, 1 template, 2 data).
  std::vector<double> cost((size_t)n * m, inf);
  std::vector<unsigned char> from((size_t)n * m, 0);
  std::vector<int> start((size_t)n * m, 0);
  auto at = [m](int i, int j) { return (size_t)i * m + j; };
  for (int i = 0; i < n; i++) {
    for (int j = 0; j < m; j++) {
      const double d = local(i, j);
      if (i == 0 && j <= relax) {
        cost[at(i, j)] = d;
        start[at(i, j)] = j;
        continue;
      }
      double best = inf;
      if (i > 0 && j > 0 && cost[at(i - 1, j - 1)] + 2 * d < best) {
        best = cost[at(i - 1, j - 1)] + 2 * d;
        from[at(i, j)] = 0;
        start[at(i, j)] = start[at(i - 1, j - 1)];
      }
      if (i > 0 && cost[at(i - 1, j)] + d < best) {
        best = cost[at(i - 1, j)] + d;
        from[at(i, j)] = 1;
        start[at(i, j)] = start[at(i - 1, j)];
      }
      if (j > 0 && cost[at(i, j - 1)] + d < best) {
        best = cost[at(i, j - 1)] + d;
        from[at(i, j)] = 2;
        start[at(i, j)] = start[at(i, j - 1)];
      }
      cost[at(i, j)] = best;
    }
  }
  int endJ = m - 1;
  double bestNorm = inf;
  for (int j = m - 1 - relax; j < m; j++) {
    const double norm = cost[at(n - 1, j)] / (n + j - start[at(n - 1, j)] + 1);
    if (norm < bestNorm) {
      bestNorm = norm;
      endJ = j;
    }
  }
  std::vector<int> hits(n, 0);
  for (int i = 0; i < n; i++)
    for (int c = 0; c < k; c++) W[i][c] = 0;
  int i = n - 1, j = endJ, cells = 0;
  while (true) {
    for (int c = 0; c < k; c++) W[i][c] += D[j][c];
    hits[i]++;
    cells++;
    if (i == 0 && j <= relax) break;  // a start cell
    const unsigned char f = from[at(i, j)];
    if (f == 0) {
      i--;
      j--;
    } else if (f == 1) {
      i--;
    } else {
      j--;
    }
  }
  for (int r = 0; r < n; r++)
    for (int c = 0; c < k; c++) W[r][c] /= hits[r];
  *count = cells;
  return (float)bestNorm;
}

}  // extern "C"
