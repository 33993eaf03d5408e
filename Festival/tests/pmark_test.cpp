// Pitch marks from a synthetic laryngograph signal whose glottal closures we
// know exactly, and against the speech tools' own pitchmark program.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "EST_Track.h"
#include "EST_Wave.h"
#include "vek_lisp.h"
#include "vek_pmark.h"

namespace {

const double kRate = 16000;

// Closures with F0 gliding from 100 to 140 Hz between 0.1 and 0.9 s; the
// signal rises sharply at each closure (closed glottis up) and falls slowly,
// over a little noise and a slow drift. Silence elsewhere.
struct Lx {
  std::vector<double> x;
  std::vector<long> closures;
};

Lx make_lx() {
  Lx lx;
  lx.x.assign((size_t)kRate, 0.0);
  double t = 0.1;
  while (t < 0.9) {
    double f0 = 100 + 40 * (t - 0.1) / 0.8;
    long n0 = lround(t * kRate), P = lround(kRate / f0);
    lx.closures.push_back(n0);
    for (long n = 0; n < P; n++) {
      double v = n < 0.4 * P ? exp(-n / (0.25 * P)) : exp(-1.6) * (P - n) / (0.6 * P);
      lx.x[n0 + n] = 10000 * v;
    }
    t += 1 / f0;
  }
  std::mt19937 rng(1);
  std::normal_distribution<double> noise(0, 30);
  for (size_t i = 0; i < lx.x.size(); i++) lx.x[i] += noise(rng) + 300 * sin(2 * M_PI * 2 * i / kRate);
  return lx;
}

VekPmarkSettings settings() {
  VekPmarkSettings s;
  s.guess_F0 = 120;
  s.F0_range_factor = 2;
  s.dlx_search_factor = 0.2;
  s.Vbias = 1;
  s.pre_num = {1, -1};
  s.pre_den = {1, -0.99};
  s.vuv_num = {0.1};
  s.vuv_den = {1, -0.9};
  s.diff = {0.5, 0, -0.5};
  return s;
}

// The mark nearest each closure; returns the median distance and counts
// marks that are nobody's nearest (extras) inside the voiced stretch.
void match(const std::vector<long> &marks, const std::vector<long> &truth, double &median, int &missing,
           int &extra) {
  std::vector<double> d;
  missing = 0;
  for (long c : truth) {
    long best = 1 << 30;
    for (long m : marks) best = std::min(best, labs(m - c));
    if (best > 40) missing++;
    else d.push_back(best);
  }
  std::sort(d.begin(), d.end());
  median = d.empty() ? 1e9 : d[d.size() / 2];
  extra = 0;
  for (long m : marks) {
    long best = 1 << 30;
    for (long c : truth) best = std::min(best, labs(m - c));
    if (best > 40) extra++;
  }
}

}  // namespace

TEST(Pmark, finds_every_closure_of_a_gliding_voice) {
  Lx lx = make_lx();
  std::vector<long> marks = pmark_analyse_lx(lx.x, kRate, settings());
  double median;
  int missing, extra;
  match(marks, lx.closures, median, missing, extra);
  EXPECT_LE(median, 4) << "0.25 ms";
  EXPECT_EQ(missing, 0);
  EXPECT_EQ(extra, 0);
  EXPECT_TRUE(std::is_sorted(marks.begin(), marks.end()));
}

TEST(Pmark, agrees_with_the_speech_tools_pitchmark) {
  Lx lx = make_lx();
  std::string wav = std::string(testing::TempDir()) + "/pm_lx.wav",
              est = std::string(testing::TempDir()) + "/pm_lx.est";
  EST_Wave w((int)lx.x.size(), 1, (int)kRate);
  for (size_t i = 0; i < lx.x.size(); i++) w.a((int)i) = (short)lx.x[i];
  ASSERT_EQ(w.save(wav.c_str(), "riff"), write_ok);
  std::string cmd = "pitchmark " + wav + " -o " + est + " -otype est 2>/dev/null";
  ASSERT_EQ(system(cmd.c_str()), 0) << "the speech tools are needed: " << cmd;
  EST_Track peer;
  ASSERT_EQ(peer.load(est.c_str()), read_ok);
  std::vector<long> theirs;
  for (int i = 0; i < peer.num_frames(); i++)
    if (peer.t(i) > 0.1 && peer.t(i) < 0.9) theirs.push_back(lround(peer.t(i) * kRate));
  std::vector<long> ours = pmark_analyse_lx(lx.x, kRate, settings());
  // Same periods found; the peer's marks sit a constant offset away.
  EXPECT_NEAR((double)theirs.size(), (double)ours.size(), 3);
  double median;
  int missing, extra;
  match(theirs, ours, median, missing, extra);
  EXPECT_LE(missing, 3);
  EXPECT_LE(median, 20) << "the two agree within about a millisecond";
}

TEST(Pmark, prune_by_F0_table) {
  // guess_F0 100, factor 2, 16 kHz: Pmax 320, Pmin 80.
  struct Case {
    const char *what;
    std::vector<long> in, out;
    int close;
  } cases[] = {
      {"isolated mark removed", {1000, 1160, 1320, 1720, 2120, 2280}, {1000, 1160, 1320, 2120, 2280}, 0},
      {"pair keeps the one nearer the middle", {1000, 1160, 1320, 1370, 1480, 1640}, {1000, 1160, 1320, 1480, 1640}, 2},
      {"regular marks stay", {1000, 1160, 1320, 1480}, {1000, 1160, 1320, 1480}, 0},
  };
  for (auto &c : cases) {
    std::vector<long> m = c.in;
    EXPECT_EQ(pmark_prune_by_F0(m, 16000, 100, 2), c.close) << c.what;
    EXPECT_EQ(m, c.out) << c.what;
  }
}

TEST(Pmark, bad_settings_and_degenerate_input) {
  Lx lx = make_lx();
  struct Case {
    const char *what;
    void (*edit)(VekPmarkSettings &);
  } cases[] = {
      {"zero pitch", [](VekPmarkSettings &s) { s.guess_F0 = 0; }},
      {"negative pitch", [](VekPmarkSettings &s) { s.guess_F0 = -100; }},
      {"no range", [](VekPmarkSettings &s) { s.F0_range_factor = 0; }},
      {"unknown polarity", [](VekPmarkSettings &s) { s.lx_sign = "sideways"; }},
      {"no voicing filter", [](VekPmarkSettings &s) { s.vuv_num.clear(); }},
  };
  for (auto &c : cases) {
    VekPmarkSettings s = settings();
    c.edit(s);
    EXPECT_THROW(pmark_analyse_lx(lx.x, kRate, s), VekError) << c.what;
  }
  // Silence and an empty recording give no marks, and no crash.
  EXPECT_TRUE(pmark_analyse_lx(std::vector<double>(16000, 0.0), kRate, settings()).empty());
  EXPECT_TRUE(pmark_analyse_lx({}, kRate, settings()).empty());
  // Two-means with identical frames: one class empties, the centres stay.
  std::vector<int> cls = class_2cluster({{1, 1}, {1, 1}, {1, 1}}, 1);
  EXPECT_EQ(cls.size(), 3u);
}
