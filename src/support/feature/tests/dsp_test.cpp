// The signal-processing core against definitions written out directly.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "dsp.h"

namespace {

TEST(Dsp, power_spectrum_matches_a_direct_dft) {
  const int n = 16;
  std::vector<double> x = {1, -2, 3, 0.5, 0, 7, -1, 2, 4};  // zero-padded to 16
  dsp::RealFft fft(n);
  std::vector<double> p(n / 2 + 1);
  fft.Power(x.data(), (int)x.size(), p.data());
  for (int k = 0; k <= n / 2; k++) {
    double re = 0, im = 0;
    for (size_t t = 0; t < x.size(); t++) {
      re += x[t] * std::cos(2 * M_PI * k * t / n);
      im -= x[t] * std::sin(2 * M_PI * k * t / n);
    }
    EXPECT_NEAR(p[k], re * re + im * im, 1e-9) << "bin " << k;
  }
}

TEST(Dsp, durbin_recovers_a_known_ar_process_and_its_cepstrum) {
  // x[t] = 0.9 x[t-1] - 0.5 x[t-2] + e[t]: a = {1, -0.9, 0.5}.
  std::mt19937 g(7);
  std::normal_distribution<double> e(0, 1);
  std::vector<double> x(200000, 0.0);
  for (size_t t = 2; t < x.size(); t++) x[t] = 0.9 * x[t - 1] - 0.5 * x[t - 2] + e(g);
  double r[3], a[3];
  dsp::Autocorr(x.data(), (int)x.size(), r, 2);
  const double err = dsp::Durbin(r, 2, a);
  EXPECT_NEAR(a[1], -0.9, 0.01);
  EXPECT_NEAR(a[2], 0.5, 0.01);
  EXPECT_NEAR(err / x.size(), 1.0, 0.02);  // the innovation variance
  // The cepstrum of 1/A(z): c1 = -a1, c2 = -a2 + a1^2/2.
  double c[3];
  dsp::LpcToCepstrum(a, 2, 1.0, c, 3);
  EXPECT_NEAR(c[1], -a[1], 1e-12);
  EXPECT_NEAR(c[2], -a[2] + a[1] * a[1] / 2, 1e-12);
}

TEST(Dsp, durbin_of_silence_is_flat_not_nan) {
  double r[4] = {0, 0, 0, 0}, a[4];
  EXPECT_EQ(dsp::Durbin(r, 3, a), 0.0);
  EXPECT_EQ(a[0], 1.0);
  for (int i = 1; i < 4; i++) EXPECT_EQ(a[i], 0.0);
}

TEST(Dsp, line_spectral_frequencies_round_trip_and_interlace) {
  struct Case { std::vector<double> a; };
  const Case cases[] = {
      {{1, -0.9, 0.5}},                      // even order
      {{1, -1.2, 0.8, -0.3}},                // odd order
      {{1, -0.5, 0.3, -0.2, 0.1, 0.05}},     // odd order 5
  };
  for (const Case &c : cases) {
    const int p = (int)c.a.size() - 1;
    std::vector<double> lsp(p), back(p + 1);
    ASSERT_EQ(dsp::LpcToLsp(c.a.data(), p, lsp.data()), 0) << "order " << p;
    for (int i = 1; i < p; i++) EXPECT_LT(lsp[i - 1], lsp[i]);
    EXPECT_GT(lsp[0], 0);
    EXPECT_LT(lsp[p - 1], M_PI);
    dsp::LspToLpc(lsp.data(), p, back.data());
    for (int i = 0; i <= p; i++) EXPECT_NEAR(back[i], c.a[i], 1e-7) << "order " << p << " coefficient " << i;
  }
}

TEST(Dsp, filterbanks_cover_their_band_on_each_scale) {
  const dsp::Scale scales[] = {dsp::Scale::kLinear, dsp::Scale::kBark, dsp::Scale::kMel};
  for (dsp::Scale s : scales) {
    EXPECT_NEAR(dsp::ScaleToHz(s, dsp::HzToScale(s, 1234.5)), 1234.5, 1e-9);
    dsp::FilterBank bank(s, 20, 512, 16000, 100, 7000, false, true);
    std::vector<double> flat(257, 1.0), out(20);
    bank.Apply(flat.data(), out.data());
    for (int j = 0; j < 20; j++) {
      EXPECT_NEAR(out[j], 1.0, 1e-9) << "normalised filter " << j;  // weights sum to 1
      if (j) EXPECT_GT(bank.centreHz(j), bank.centreHz(j - 1));
    }
    EXPECT_GT(bank.centreHz(0), 100);
    EXPECT_LT(bank.centreHz(19), 7000);
  }
  // A tone lands in the filter whose centre is nearest.
  dsp::FilterBank mel(dsp::Scale::kMel, 24, 512, 16000, 0, 8000, false, false);
  std::vector<double> tone(257, 0.0), out(24);
  const int bin = 64;  // 2000 Hz
  tone[bin] = 1.0;
  mel.Apply(tone.data(), out.data());
  int best = 0;
  for (int j = 1; j < 24; j++)
    if (out[j] > out[best]) best = j;
  for (int j = 0; j < 24; j++)
    EXPECT_LE(std::fabs(mel.centreHz(best) - 2000), std::fabs(mel.centreHz(j) - 2000) + 1e-9);
}

TEST(Dsp, framer_gives_the_same_frames_for_any_blocks) {
  std::mt19937 g(3);
  std::uniform_int_distribution<int> sample(-30000, 30000);
  std::vector<int16_t> s(5000);
  for (auto &v : s) v = (int16_t)sample(g);
  struct Case { int length, step; };
  const Case cases[] = {{400, 160}, {160, 160}, {100, 250}, {7, 1}};  // overlap, none, gaps, tiny
  for (const Case &c : cases) {
    dsp::Framer whole(c.length, c.step);
    EXPECT_EQ(whole.Frames((int64_t)s.size()), (int64_t)s.size() < c.length ? 0
                                                   : 1 + ((int64_t)s.size() - c.length) / c.step);
    whole.Append(s.data(), (int64_t)s.size());
    std::vector<double> f(c.length), ref;
    std::vector<double> prevs;
    double prev;
    while (whole.Next(f.data(), &prev)) {
      ref.insert(ref.end(), f.begin(), f.end());
      prevs.push_back(prev);
    }
    for (int trial = 0; trial < 5; trial++) {
      dsp::Framer part(c.length, c.step);
      std::vector<double> got, gotPrev;
      std::uniform_int_distribution<int> block(0, 700);
      size_t at = 0;
      while (at < s.size()) {
        const size_t n = std::min<size_t>(block(g), s.size() - at);
        const int64_t due = part.Frames((int64_t)n);
        part.Append(s.data() + at, (int64_t)n);
        at += n;
        int64_t made = 0;
        while (part.Next(f.data(), &prev)) {
          got.insert(got.end(), f.begin(), f.end());
          gotPrev.push_back(prev);
          made++;
        }
        ASSERT_EQ(made, due);
      }
      EXPECT_EQ(got, ref) << "length " << c.length << " step " << c.step;
      EXPECT_EQ(gotPrev, prevs);
    }
    // Each frame's previous sample is the stream's sample before it.
    for (size_t i = 1; i < prevs.size(); i++) EXPECT_EQ(prevs[i], s[i * c.step - 1]);
    if (!prevs.empty()) EXPECT_EQ(prevs[0], 0.0);
  }
}

}  // namespace
