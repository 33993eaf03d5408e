// Image analysis over the 2-D display's matrix (data[column][row]): a box
// filter, an eight-direction edge operator, a joint histogram of value and
// edge strength, and a texture analysis with a fitted 2-D Gaussian. Results
// go into row-major arrays of the caller's shape (element a * d1 + b).
//
// What callers rely on: reads never leave the matrix (the outside counts as
// 0 in a convolution); the callers check the shapes the functions name; a
// constant matrix or magnitude array falls into bin or level 0; a texture
// whose covariance determinant is 0 gives a Gaussian of 0.
#pragma once

#include <string>
#include <vector>

struct LtwodMatrix {
  const float *const *data;
  int columns, rows;
  float dataMin, dataMax;
};

// Convolution of an s x s kernel (kernel[p * s + q] weights column i + p -
// s/2, row j + q - s/2) at column i, row j.
float LtwodConvolvePoint(const LtwodMatrix &m, const float *kernel, int s, int i, int j);
// Box filter of size 3, 5, 7, 9 for types 1..4 into out (d0 x d1).
void LtwodFilter(const LtwodMatrix &m, int type, float *out, int d0, int d1);
// Largest of the eight rotated Sobel answers and the kernel number; both
// arrays d0 x d1.
void LtwodEdge(const LtwodMatrix &m, float *magnitude, float *orientation, int d0, int d1);
// Adds the matrix's cells into hist (h0 x h1) by value and by magnitude
// (columns x rows, as LtwodEdge makes it).
void LtwodHistogram(const LtwodMatrix &m, const float *magnitude, float *hist, int h0, int h1);

struct LtwodTextureFeature {
  float level1, level2, height, red, green, blue;
};

struct LtwodTextureGrid {
  int columns = 0, rows = 0;
  std::vector<LtwodTextureFeature> cells;  // column after column
  const LtwodTextureFeature &At(int c, int r) const { return cells[(size_t)c * rows + r]; }
};

struct LtwodTextureRegion {
  int startX, startY, endX, endY;  // columns [startX, endX), rows [startY, endY)
  int dx, dy;
};

// The region must lie in the matrix and be non-empty; every array is L1 x
// L2. grid is filled when non-null.
void LtwodTextureFeatures(const LtwodMatrix &m, const LtwodTextureRegion &reg, int L1, int L2, float *intensity,
                          float *red, float *green, float *blue, float *gaussian, float *cluster,
                          LtwodTextureGrid *grid);
