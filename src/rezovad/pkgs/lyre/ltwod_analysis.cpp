#include "ltwod_analysis.h"

#include <cmath>

namespace {

// The eight 45-degree rotations of the Sobel operator, [p][q] = column
// i + p - 1, row j + q - 1.
const float kEdgeKernels[8][9] = {
    {-1, 0, 1, -2, 0, 2, -1, 0, 1},  {0, 1, 2, -1, 0, 1, -2, -1, 0},  {1, 2, 1, 0, 0, 0, -1, -2, -1},
    {2, 1, 0, 1, 0, -1, 0, -1, -2},  {1, 0, -1, 2, 0, -2, 1, 0, -1},  {0, -1, -2, 1, 0, -1, 2, 1, 0},
    {-1, -2, -1, 0, 0, 0, 1, 2, 1},  {-2, -1, 0, -1, 0, 1, 0, 1, 2}};

// Level of a value among n, 0 for a constant matrix.
int Quantize(const LtwodMatrix &m, float v, int n) {
  double range = (double)m.dataMax - m.dataMin;
  double x = range > 0 ? (v - m.dataMin) / range * n : 0.0;
  if (!(x >= 0)) return 0;
  if (x >= n - 1) return n - 1;
  return (int)x;
}

}  // namespace

float LtwodConvolvePoint(const LtwodMatrix &m, const float *kernel, int s, int i, int j) {
  int half = s / 2;
  float sum = 0;
  for (int p = -half; p <= half; p++) {
    int c = i + p;
    if (c < 0 || c >= m.columns) continue;
    for (int q = -half; q <= half; q++) {
      int r = j + q;
      if (r < 0 || r >= m.rows) continue;
      sum += kernel[(p + half) * s + q + half] * m.data[c][r];
    }
  }
  return sum;
}

void LtwodFilter(const LtwodMatrix &m, int type, float *out, int d0, int d1) {
  int s = 2 * type + 1;
  std::vector<float> ones((size_t)s * s, 1.0f);
  float div = (float)(s * s);
  for (int i = 0; i < d0; i++)
    for (int j = 0; j < d1; j++) out[(size_t)i * d1 + j] = LtwodConvolvePoint(m, ones.data(), s, i, j) / div;
}

void LtwodEdge(const LtwodMatrix &m, float *magnitude, float *orientation, int d0, int d1) {
  for (int i = 0; i < d0; i++)
    for (int j = 0; j < d1; j++) {
      float best = LtwodConvolvePoint(m, kEdgeKernels[0], 3, i, j);
      int which = 0;
      for (int k = 1; k < 8; k++) {
        float v = LtwodConvolvePoint(m, kEdgeKernels[k], 3, i, j);
        if (v > best) best = v, which = k;
      }
      magnitude[(size_t)i * d1 + j] = best;
      orientation[(size_t)i * d1 + j] = (float)which;
    }
}

void LtwodHistogram(const LtwodMatrix &m, const float *magnitude, float *hist, int h0, int h1) {
  size_t n = (size_t)m.columns * m.rows;
  if (n == 0) return;
  float magMin = magnitude[0], magMax = magnitude[0];
  for (size_t k = 1; k < n; k++) magMin = std::fmin(magMin, magnitude[k]), magMax = std::fmax(magMax, magnitude[k]);
  double magRange = (double)magMax - magMin;
  for (int i = 0; i < m.columns; i++)
    for (int j = 0; j < m.rows; j++) {
      int a = Quantize(m, m.data[i][j], h0);
      double x = magRange > 0 ? (magnitude[(size_t)i * m.rows + j] - magMin) / magRange * h1 : 0.0;
      int b = x >= 0 ? (int)x : 0;
      if (b >= h1) b = h1 - 1;
      hist[(size_t)a * h1 + b] += 1.0f;
    }
}

void LtwodTextureFeatures(const LtwodMatrix &m, const LtwodTextureRegion &reg, int L1, int L2, float *intensity,
                          float *red, float *green, float *blue, float *gaussian, float *cluster,
                          LtwodTextureGrid *grid) {
  int w = reg.endX - reg.startX, h = reg.endY - reg.startY;
  if (grid) {
    grid->columns = w, grid->rows = h;
    grid->cells.assign((size_t)w * h, LtwodTextureFeature{});
  }
  auto level2 = [&](int c, int r) {
    int c2 = c + reg.dx, r2 = r + reg.dy;
    float v = (c2 >= 0 && c2 < m.columns && r2 >= 0 && r2 < m.rows) ? m.data[c2][r2] : m.dataMin;
    return Quantize(m, v, L2);
  };
  double sumI = 0, sumJ = 0;
  long count = 0;
  float maxI = 0, maxR = 0, maxG = 0, maxB = 0;
  for (int c = reg.startX; c < reg.endX; c++) {
    double u = 3.0 * (c - reg.startX) / w;
    float rd = u < 1 ? 1 - u : (u > 2 ? u - 2 : 0);
    float gr = (u > 0 && u <= 1) ? u : ((u > 1 && u < 2) ? 2 - u : 0);
    float bl = (u > 1 && u <= 2) ? u - 1 : ((u > 2 && u < 3) ? 3 - u : 0);
    float height = (float)(c - reg.startX + 1) / (2.0f * (w + 1));
    for (int r = reg.startY; r < reg.endY; r++) {
      int i = Quantize(m, m.data[c][r], L1), j = level2(c, r);
      count++, sumI += i, sumJ += j;
      size_t k = (size_t)i * L2 + j;
      intensity[k] = height;
      red[k] += rd, green[k] += gr, blue[k] += bl;
      if (grid) grid->cells[(size_t)(c - reg.startX) * h + (r - reg.startY)] = {(float)i, (float)j, height, rd, gr, bl};
      maxI = std::fmax(maxI, intensity[k]);
      maxR = std::fmax(maxR, red[k]), maxG = std::fmax(maxG, green[k]), maxB = std::fmax(maxB, blue[k]);
    }
  }
  size_t n = (size_t)L1 * L2;
  float maxC = std::fmax(maxR, std::fmax(maxG, maxB));
  for (size_t k = 0; k < n; k++) {
    if (maxI > 0) intensity[k] /= maxI;
    if (maxC > 0) red[k] /= maxC, green[k] /= maxC, blue[k] /= maxC;
  }
  double mI = sumI / count, mJ = sumJ / count, sII = 0, sIJ = 0, sJJ = 0;
  for (int c = reg.startX; c < reg.endX; c++)
    for (int r = reg.startY; r < reg.endY; r++) {
      double di = Quantize(m, m.data[c][r], L1) - mI, dj = level2(c, r) - mJ;
      sII += di * di, sIJ += di * dj, sJJ += dj * dj;
    }
  sII /= count, sIJ /= count, sJJ /= count;
  double det = sII * sJJ - sIJ * sIJ;
  for (int a = 0; a < L1; a++)
    for (int b = 0; b < L2; b++) {
      size_t k = (size_t)a * L2 + b;
      if (det > 0) {
        double x = a - mI, y = b - mJ;
        double q = (x * x * sJJ - 2 * x * y * sIJ + y * y * sII) / det;
        gaussian[k] = (float)(std::exp(-0.5 * q) / (6.2831855 * std::sqrt(det)));
      } else {
        gaussian[k] = 0;
      }
      if (std::abs((int)mI - a) <= 1 && std::abs((int)mJ - b) <= 1) cluster[k] = 1.0f;
    }
}
