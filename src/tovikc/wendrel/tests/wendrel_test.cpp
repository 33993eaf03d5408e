// Log energy against a direct evaluation of its definition, and the record's
// defaults and refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "wendrel.h"

namespace {

// The definition, term by term, written independently of the library.
double reference(const std::vector<int16_t> &s, int N, long c) {
  int half = N / 2;
  double S = 0, E = 0;
  for (int i = 0; i < N; i++) S += 0.54 - 0.46 * std::cos(2 * M_PI * i / (N - 1));
  for (int k = 0; k < 2 * half; k++) {
    long idx = c - half + k;
    if (idx < 0 || idx >= (long)s.size()) continue;
    double a = 0.54 - 0.46 * std::cos(2 * M_PI * k / (N - 1));
    E += a * a * (double)s[idx] * s[idx];
  }
  return std::max(0.0, 10 * std::log10(std::max(1.0, E / S)));
}

std::vector<float> compute(WendrelRecord *w, const std::vector<int16_t> &s, int nframes, int step, int *code) {
  std::vector<float> out(nframes, -99.0f);
  std::vector<float *> rows(nframes);
  for (int i = 0; i < nframes; i++) rows[i] = &out[i];
  *code = Wendrel_compute(w, s.data(), (int)s.size(), rows.data(), nframes, step);
  return out;
}

}  // namespace

TEST(Wendrel, init_keeps_defaults_only_for_the_markers) {
  struct Case { float win, frame; int rate; float ewin, eframe; int erate; } cases[] = {
      {-1.0f, -1.0f, -1, 32.0f, 1.0f, 8000},
      {25.2f, 10.0f, 16000, 25.2f, 10.0f, 16000},
      {0.0f, 0.0f, 0, 0.0f, 0.0f, 0},          // zero is a value, not a marker
      {-2.0f, -1.0f, -5, -2.0f, 1.0f, -5},
  };
  for (const Case &c : cases) {
    WendrelRecord *w = Wendrel_init(c.win, c.frame, c.rate);
    EXPECT_EQ(c.ewin, w->winSize);
    EXPECT_EQ(c.eframe, w->frameSize);
    EXPECT_EQ(c.erate, w->sampFreq);
    Wendrel_reset(w);
    EXPECT_EQ(32.0f, w->winSize);
    Wendrel_nuke(w);
  }
}

TEST(Wendrel, energies_match_the_definition) {
  std::mt19937 g(1);
  std::uniform_int_distribution<int> u(-20000, 20000);
  std::vector<int16_t> s(8000);
  for (auto &v : s) v = (int16_t)u(g);
  struct Case { float win; int rate; int step; int N; } cases[] = {
      {32.0f, 8000, 8, 256},   // the defaults: N 256, half 128
      {25.2f, 8000, 80, 201},  // odd N: the last weight counts only in the sum
      {10.0f, 16000, 160, 160},
  };
  for (const Case &c : cases) {
    WendrelRecord *w = Wendrel_init(c.win, -1.0f, c.rate);
    ASSERT_EQ(c.N, Wendrel_windowSamples(w));
    int nframes = (int)s.size() / c.step;
    int code;
    std::vector<float> e = compute(w, s, nframes, c.step, &code);
    ASSERT_EQ(0, code);
    for (int i = 0; i < nframes; i++) ASSERT_NEAR(reference(s, c.N, (long)i * c.step), e[i], 1e-3) << "frame " << i;
    Wendrel_nuke(w);
  }
}

TEST(Wendrel, edges_of_the_wave_and_quiet_frames) {
  WendrelRecord *w = Wendrel_init(-1.0f, -1.0f, -1);
  int code;
  // Frame 0 sees only the second half of its window: a click just before
  // sample 0's centre is out of reach, one just after is seen.
  std::vector<int16_t> s(1000, 0);
  s[127] = 10000;
  std::vector<float> e = compute(w, s, 125, 8, &code);
  EXPECT_NEAR(reference(s, 256, 0), e[0], 1e-4);
  EXPECT_GT(e[0], 0.0f);
  // All zeros floor at 0 dB.
  std::vector<int16_t> z(800, 0);
  e = compute(w, z, 100, 8, &code);
  for (float v : e) EXPECT_EQ(0.0f, v);
  // Frames whose centre is past the wave are not written.
  e = compute(w, std::vector<int16_t>(10, 100), 4, 8, &code);
  EXPECT_EQ(0, code);
  EXPECT_NE(-99.0f, e[1]);
  EXPECT_EQ(-99.0f, e[2]);
  Wendrel_nuke(w);
}

TEST(Wendrel, refuses_windows_below_two_samples_and_steps_below_one) {
  struct Case { float win; int rate; int step; } cases[] = {
      {0.0f, 8000, 8}, {0.2f, 8000, 8}, {-5.0f, 8000, 8}, {32.0f, 8000, 0}, {32.0f, 8000, -3}, {NAN, 8000, 8},
  };
  std::vector<int16_t> s(100, 5);
  for (const Case &c : cases) {
    WendrelRecord *w = Wendrel_init(c.win, -1.0f, c.rate);
    int code;
    std::vector<float> e = compute(w, s, 3, c.step, &code);
    EXPECT_EQ(-1, code);
    EXPECT_EQ(-99.0f, e[0]);
    Wendrel_nuke(w);
  }
}
