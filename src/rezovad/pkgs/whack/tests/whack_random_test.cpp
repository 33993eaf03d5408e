// The generators behind whack's noise.
#include <gtest/gtest.h>

#include <cmath>

#include "whackRandom.h"

TEST(WhackRandom, minimal_standard_step_reaches_the_published_value) {
  // From seed 1, the 10,000th value of the 16807 / 2^31-1 generator.
  int32_t s = 1;
  for (int i = 0; i < 10000; i++) s = whackMinStdStep(s);
  EXPECT_EQ(1043618065, s);
}

TEST(WhackRandom, seeds_restart_the_sequence_and_sign_does_not_matter) {
  auto first = [](int32_t seed) {
    int32_t st = seed;
    std::vector<double> v;
    for (int i = 0; i < 50; i++) v.push_back(whackUniform(&st));
    return v;
  };
  EXPECT_EQ(first(-7), first(-7));
  EXPECT_EQ(first(-7), first(7 * -1));
  EXPECT_EQ(first(0), first(-1));  // 0 restarts as 1 does
  EXPECT_NE(first(-7), first(-8));
  for (int32_t seed : {-3, -2147483647}) {
    for (double u : first(seed)) {
      EXPECT_GT(u, 0.0) << seed;  // -M is M, 0 mod M: restarts as 1 does
      EXPECT_LE(u, 0.99999988);
    }
  }
  EXPECT_EQ(first(-1), first(-2147483647 - 1));  // 2^31 mod M is 1
}

TEST(WhackRandom, gaussian_values_have_unit_variance) {
  int32_t st = -42;
  double sum = 0, sq = 0;
  const int n = 200000;
  for (int i = 0; i < n; i++) {
    double g = whackGauss(&st);
    sum += g;
    sq += g * g;
  }
  EXPECT_NEAR(0.0, sum / n, 0.01);
  EXPECT_NEAR(1.0, sq / n, 0.01);
}

TEST(WhackRandom, smoother_follows_its_input_and_clips_wide_ints_to_16_bits) {
  WhackSmoother s;
  whackSmoothInit(&s, 0.5);
  EXPECT_EQ(50, whackSmooth(&s, 100));
  EXPECT_EQ(75, whackSmooth(&s, 100));
  // Loud noise values saturate; wrapping would flip their sign.
  whackSmoothInit(&s, 1.0);
  EXPECT_EQ(32767, whackSmooth(&s, 32768));
  EXPECT_EQ(32767, whackSmooth(&s, 40000));
  EXPECT_EQ(-32768, whackSmooth(&s, -40000));
}
