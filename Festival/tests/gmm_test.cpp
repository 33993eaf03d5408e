// Voice-conversion maps: the .gmm file, posteriors and the regression.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <string>
#include <vector>

#include "EST_Track.h"
#include "vek_gmm.h"
#include "vek_lisp.h"

namespace {

struct Comp {
  double prior;
  std::vector<double> mean, cov, weight, bias;  // row-major
};

void put32(FILE *f, int32_t v, bool swap) {
  if (swap) v = (int32_t)__builtin_bswap32((uint32_t)v);
  fwrite(&v, 4, 1, f);
}

void putm(FILE *f, int r, int c, const std::vector<double> &v, bool swap) {
  put32(f, r, swap);
  put32(f, c, swap);
  for (double x : v) {
    if (swap) {
      uint64_t u;
      memcpy(&u, &x, 8);
      u = __builtin_bswap64(u);
      memcpy(&x, &u, 8);
    }
    fwrite(&x, 8, 1, f);
  }
}

// Writes name.gmm; cut > 0 drops that many bytes from the end.
std::string write_gmm(const std::string &name, int d, const std::vector<Comp> &cs, bool swap = false, int cut = 0) {
  std::string path = testing::TempDir() + name;
  FILE *f = fopen((path + ".gmm").c_str(), "wb");
  put32(f, VEK_GMM_MAGIC, swap);
  put32(f, (int32_t)cs.size(), swap);
  put32(f, d, swap);
  std::vector<double> pr;
  for (auto &c : cs) pr.push_back(c.prior);
  putm(f, (int)cs.size(), 1, pr, swap);
  for (auto &c : cs) {
    putm(f, d, 1, c.mean, swap);
    putm(f, d, d, c.cov, swap);
    putm(f, (int)c.bias.size(), d, c.weight, swap);
    putm(f, (int)c.bias.size(), 1, c.bias, swap);
  }
  long n = ftell(f);
  fclose(f);
  if (cut) truncate((path + ".gmm").c_str(), n - cut);
  return path;
}

Comp comp(double prior, double m, double w, double b) {
  return {prior, {m, m}, {1, 0, 0, 1}, {w, 0, 0, w}, {b, b}};
}

}  // namespace

TEST(VoiceConversion, regression_through_the_posteriors) {
  Vek_GMM g;
  struct Case {
    const char *what;
    std::vector<Comp> cs;
    double x, y;  // both coordinates of a frame and of its image
  } cases[] = {
      {"identity", {comp(1, 0, 1, 0)}, 3.0, 3.0},
      {"affine", {comp(1, 0, 2, 0.5)}, 3.0, 6.5},
      // A component with prior 0 contributes nothing, however near it is.
      {"zero prior", {comp(0, 3, 5, 0), comp(1, 0, 1, 0)}, 3.0, 3.0},
      // Far from both components: the nearer one takes all the weight
      // (plain densities would both underflow to 0 and split it evenly).
      {"far frame", {comp(0.5, 0, 1, 0), comp(0.5, 100, 1, 10)}, 400.0, 410.0},
  };
  for (auto &c : cases) {
    ASSERT_TRUE(g.load(write_gmm("m", 2, c.cs))) << c.what;
    Vek_Matrix X(2, 1), Y;
    X(0, 0) = X(1, 0) = c.x;
    g.map(X, Y);
    EXPECT_NEAR(Y(0, 0), c.y, 1e-9) << c.what;
    EXPECT_NEAR(Y(1, 0), c.y, 1e-9) << c.what;
  }
}

TEST(VoiceConversion, files_of_either_byte_order_and_bad_files) {
  Vek_GMM g;
  ASSERT_TRUE(g.load(write_gmm("swapped", 2, {comp(1, 0, 2, 0.5)}, true)));
  Vek_Matrix X(2, 1), Y;
  X(0, 0) = X(1, 0) = 1;
  g.map(X, Y);
  EXPECT_NEAR(Y(0, 0), 2.5, 1e-12);
  // Each bad file leaves the loaded map as it was.
  std::vector<std::string> bad = {
      write_gmm("short", 2, {comp(1, 0, 1, 0)}, false, 9),
      testing::TempDir() + "nosuch",
  };
  Comp odd = comp(1, 0, 1, 0);
  odd.cov = {1, 0, 0};  // 2 x 2 promised, 3 values: the shapes do not fit
  bad.push_back(write_gmm("odd", 2, {odd}));
  for (auto &b : bad) {
    EXPECT_FALSE(g.load(b)) << b;
    g.map(X, Y);
    EXPECT_NEAR(Y(0, 0), 2.5, 1e-12) << b;
  }
}

TEST(VoiceConversion, lsf_tracks_on_the_warped_scale) {
  resLPC_vc_map() = Vek_GMM();
  EST_Track t;
  t.resize(3, 3);
  float v[3] = {0.0f, 0.5f, 2.9f};
  for (int i = 0; i < 3; i++)
    for (int c = 0; c < 3; c++) t.a(i, c) = c < 2 ? v[i] : 7.0f;
  EXPECT_THROW(resLPC_vc_map_lsf(t, 0, 2), VekError);  // no map yet
  resLPC_load_vc_map(write_gmm("id", 2, {comp(1, 0, 1, 0)}));
  resLPC_vc_map_lsf(t, 0, 2);
  for (int i = 0; i < 3; i++) {
    EXPECT_NEAR(t.a(i, 0), v[i], 1e-5) << i;
    EXPECT_EQ(t.a(i, 2), 7.0f);  // channels outside the range stay
  }
  EXPECT_THROW(resLPC_vc_map_lsf(t, 0, 3), VekError);  // a 2-dimensional map for 3 LSFs
  EXPECT_THROW(resLPC_load_vc_map(testing::TempDir() + "nosuch"), VekError);
}
