#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "ltwod_analysis.h"

namespace {

// A matrix of columns x rows from a function of (column, row).
struct Fixture {
  std::vector<float> values;
  std::vector<const float *> rows;
  LtwodMatrix m;
  template <class F>
  Fixture(int columns, int nrows, F f) : values((size_t)columns * nrows), rows(columns) {
    for (int c = 0; c < columns; c++) {
      for (int r = 0; r < nrows; r++) values[(size_t)c * nrows + r] = f(c, r);
      rows[c] = values.data() + (size_t)c * nrows;
    }
    float lo = values[0], hi = values[0];
    for (float v : values) lo = std::fmin(lo, v), hi = std::fmax(hi, v);
    m = {rows.data(), columns, nrows, lo, hi};
  }
};

}  // namespace

TEST(LtwodAnalysis, box_filter_counts_the_outside_as_zero) {
  Fixture f(6, 5, [](int, int) { return 1.0f; });
  struct Case {
    int type, i, j;
    float want;
  } cases[] = {
      {1, 2, 2, 1.0f},         {1, 0, 0, 4.0f / 9},  {1, 0, 2, 6.0f / 9}, {2, 0, 0, 9.0f / 25},
      {4, 2, 2, 30.0f / 81},  // a 9 x 9 box over the whole 6 x 5 matrix
      {1, 7, 1, 0.0f},        // past the matrix
  };
  std::vector<float> out(8 * 5, -1);
  for (const Case &c : cases) {
    LtwodFilter(f.m, c.type, out.data(), 8, 5);
    EXPECT_NEAR(out[c.i * 5 + c.j], c.want, 1e-6) << "type " << c.type << " at " << c.i << "," << c.j;
  }
}

TEST(LtwodAnalysis, edges_take_the_strongest_rotation) {
  struct Case {
    const char *name;
    float (*value)(int, int);
    float magnitude, orientation;
  } cases[] = {
      {"rising rows", [](int, int r) { return (float)r; }, 8, 0},
      {"rising columns", [](int c, int) { return (float)c; }, 8, 6},
      {"falling rows", [](int, int r) { return (float)-r; }, 8, 4},
      {"flat", [](int, int) { return 3.0f; }, 0, 0},
  };
  for (const Case &c : cases) {
    Fixture f(6, 6, c.value);
    std::vector<float> mag(36), ori(36);
    LtwodEdge(f.m, mag.data(), ori.data(), 6, 6);
    EXPECT_EQ(mag[2 * 6 + 3], c.magnitude) << c.name;
    EXPECT_EQ(ori[2 * 6 + 3], c.orientation) << c.name;
  }
}

TEST(LtwodAnalysis, histogram_adds_and_puts_a_constant_magnitude_in_bin_zero) {
  Fixture f(4, 2, [](int c, int) { return (float)c; });
  std::vector<float> mag = {0, 1, 0, 1, 0, 1, 0, 1};
  std::vector<float> hist(4 * 2, 0);
  LtwodHistogram(f.m, mag.data(), hist.data(), 4, 2);
  LtwodHistogram(f.m, mag.data(), hist.data(), 4, 2);
  EXPECT_EQ(hist, (std::vector<float>{2, 2, 2, 2, 2, 2, 2, 2}));
  std::vector<float> flat(8, 5.0f), h2(8, 0);
  LtwodHistogram(f.m, flat.data(), h2.data(), 4, 2);
  EXPECT_EQ(h2, (std::vector<float>{2, 0, 2, 0, 2, 0, 2, 0}));
}

TEST(LtwodAnalysis, texture_of_one_column_is_red_at_a_quarter_height) {
  Fixture f(3, 4, [](int c, int r) { return (float)(c + r); });
  std::vector<float> in(16), red(16), green(16), blue(16), gauss(16), cluster(16);
  LtwodTextureGrid grid;
  LtwodTextureFeatures(f.m, {1, 0, 2, 4, 0, 0}, 4, 4, in.data(), red.data(), green.data(), blue.data(), gauss.data(),
                       cluster.data(), &grid);
  ASSERT_EQ(grid.columns, 1);
  ASSERT_EQ(grid.rows, 4);
  for (int r = 0; r < 4; r++) {
    const LtwodTextureFeature &t = grid.At(0, r);
    EXPECT_EQ(t.red, 1.0f);
    EXPECT_EQ(t.green, 0.0f);
    EXPECT_EQ(t.blue, 0.0f);
    EXPECT_EQ(t.height, 0.25f);
    EXPECT_EQ(t.level1, t.level2);  // no offset: both levels of one cell
  }
  // Level pairs lie on the diagonal: the covariance is singular, so the
  // Gaussian is 0 rather than a division by zero.
  for (float g : gauss) EXPECT_EQ(g, 0.0f);
  float sum = 0;
  for (float v : red) sum += v;
  EXPECT_GT(sum, 0);
}

TEST(LtwodAnalysis, texture_gaussian_peaks_at_the_mean_levels) {
  // Levels spread independently along columns and rows (offset one row).
  Fixture f(8, 8, [](int c, int r) { return (float)((c * 3 + r * 5) % 8); });
  const int L = 8;
  std::vector<float> in(L * L), red(L * L), green(L * L), blue(L * L), gauss(L * L), cluster(L * L);
  LtwodTextureFeatures(f.m, {0, 0, 8, 7, 0, 1}, L, L, in.data(), red.data(), green.data(), blue.data(), gauss.data(),
                       cluster.data(), nullptr);
  int best = 0;
  for (int k = 1; k < L * L; k++)
    if (gauss[k] > gauss[best]) best = k;
  EXPECT_TRUE(cluster[best] == 1.0f) << "Gaussian maximum at " << best;
  float mx = 0;
  for (float v : in) mx = std::fmax(mx, v);
  EXPECT_EQ(mx, 1.0f);
}
