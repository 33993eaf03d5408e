// Front ends and stream filters: streaming exactness, settings refused
// with a message, and values worked out by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "feature.h"
#include "yastro.h"

namespace {

std::vector<int16_t> speechLike(int n, unsigned seed) {
  std::mt19937 g(seed);
  std::normal_distribution<double> e(0, 300);
  std::vector<int16_t> s(n);
  double y1 = 0, y2 = 0;
  for (int i = 0; i < n; i++) {
    const double y = 1.3 * y1 - 0.6 * y2 + e(g) + 2000 * std::sin(i * 0.05) * (i % 160 < 80);
    y2 = y1;
    y1 = y;
    s[i] = (int16_t)std::max(-32768.0, std::min(32767.0, y));
  }
  return s;
}

struct Matrix {
  std::vector<float> data;
  std::vector<float *> rows;
  Matrix(int r, int c) : data((size_t)r * c), rows(r) {
    for (int i = 0; i < r; i++) rows[i] = data.data() + (size_t)i * c;
  }
};

FeatureRecord *makeFrontEnd(int flags, std::function<void(FeatureSettings *)> tweak = nullptr, std::string *err = nullptr) {
  FeatureSettings *s = featureDefault();
  s->flags = flags;
  if (tweak) tweak(s);
  GS_Result *r = GS_CreateResult();
  FeatureRecord *fe = featureInit(r, s);
  if (err) *err = r->text;
  GS_DeleteResult(r);
  DB_FREE(s);
  return fe;
}

// Every frame of the wave fed in blocks, as one list of values.
std::vector<float> stream(FeatureRecord *fe, const std::vector<int16_t> &s, std::mt19937 *g) {
  std::vector<float> out;
  size_t at = 0;
  std::uniform_int_distribution<int> block(0, 1200);
  while (at < s.size()) {
    const int n = g ? (int)std::min<size_t>(block(*g), s.size() - at) : (int)s.size();
    const int due = featureFrames(fe, n);
    Matrix m(std::max(due, 1), fe->outputDim);
    EXPECT_EQ(featureComputeSamples(fe, s.data() + at, n, due ? m.rows.data() : nullptr), due);
    out.insert(out.end(), m.data.begin(), m.data.begin() + (size_t)due * fe->outputDim);
    at += n;
  }
  return out;
}

TEST(FrontEnd, blocks_of_any_size_give_the_frames_of_one_call) {
  const int mel = 0x1088f, lpc = 0x1e003, plp = 0x1d246;
  struct Case { const char *name; int flags; int dim; };
  const Case cases[] = {
      {"mel", mel, 13},
      {"mel+wendrel", mel | FEAT_WENDREL, 14},
      {"lpc", lpc, 13},
      {"rasta plp", plp | FEAT_RASTA, 13},
      {"lsp", FEAT_PREEMPHASIS | FEAT_HAMMING | FEAT_AUTOCORR | FEAT_DURBIN | FEAT_AR2LSP, 12},
      {"raw frames", 0, 400},
  };
  const std::vector<int16_t> s = speechLike(16000, 1);
  std::mt19937 g(11);
  for (const Case &c : cases) {
    FeatureRecord *whole = makeFrontEnd(c.flags);
    ASSERT_TRUE(whole) << c.name;
    EXPECT_EQ(whole->outputDim, c.dim) << c.name;
    const std::vector<float> ref = stream(whole, s, nullptr);
    EXPECT_EQ(ref.size(), (size_t)98 * c.dim) << c.name;  // 1 + (16000 - 400) / 160
    for (float v : ref) ASSERT_TRUE(std::isfinite(v)) << c.name;
    for (int trial = 0; trial < 3; trial++) {
      FeatureRecord *part = makeFrontEnd(c.flags);
      EXPECT_EQ(stream(part, s, &g), ref) << c.name;
      featureReset(part);
      EXPECT_EQ(stream(part, s, nullptr), ref) << c.name << " after reset";
      featureNuke(part);
    }
    featureNuke(whole);
  }
}

TEST(FrontEnd, a_window_row_gives_the_first_frame_of_the_stream) {
  const std::vector<int16_t> s = speechLike(400, 2);
  FeatureRecord *fe = makeFrontEnd(0x1088f);
  const std::vector<float> first = stream(fe, s, nullptr);
  for (int i = 0; i < fe->inputDim; i++) fe->inputBuffer[i] = s[i];
  featureFrame(fe);
  for (int j = 0; j < fe->outputDim; j++) EXPECT_FLOAT_EQ((float)fe->outputBuffer[j], first[j]);
  featureNuke(fe);
}

TEST(FrontEnd, lpc_cepstra_of_an_ar_signal_follow_its_coefficients) {
  // A long frame of x[t] = 0.9 x[t-1] - 0.5 x[t-2] + e: c1 ~ 0.9, c2 ~ -0.5 + 0.405.
  std::mt19937 g(5);
  std::normal_distribution<double> e(0, 1000);
  std::vector<int16_t> s(32000);
  double y1 = 0, y2 = 0;
  for (auto &v : s) {
    const double y = 0.9 * y1 - 0.5 * y2 + e(g);
    y2 = y1, y1 = y;
    v = (int16_t)y;
  }
  FeatureRecord *fe = makeFrontEnd(FEAT_RECTANGLE | FEAT_AUTOCORR | FEAT_DURBIN | FEAT_ARCEPSTRAL, [](FeatureSettings *st) {
    st->order = 2;
    st->output = 3;
    st->windowsize = 2000;  // 32000 samples
    st->emphasis = 0;
  });
  ASSERT_TRUE(fe);
  const std::vector<float> c = stream(fe, s, nullptr);
  ASSERT_EQ(c.size(), 3u);
  EXPECT_NEAR(c[1], 0.9, 0.02);
  EXPECT_NEAR(c[2], -0.5 + 0.405, 0.02);
  featureNuke(fe);
}

TEST(FrontEnd, settings_it_cannot_run_are_refused_with_a_message) {
  struct Case { const char *why; int flags; std::function<void(FeatureSettings *)> tweak; const char *msg; };
  const Case cases[] = {
      {"zero frame step", 0x1088f, [](FeatureSettings *s) { s->framesize = 0; }, "-framesize 0 ms gives 0 samples"},
      {"zero window", 0x1088f, [](FeatureSettings *s) { s->windowsize = 0; }, "-windowsize 0 ms"},
      {"negative rate", 0x1088f, [](FeatureSettings *s) { s->samplerate = -8000; }, "-samplerate must lie"},
      {"no filters", 0x1088f, [](FeatureSettings *s) { s->filters = 0; }, "-filters must be at least 1"},
      {"too many cepstra", 0x1088f, [](FeatureSettings *s) { s->output = 30; }, "-output must lie between 1 and 24"},
      {"order beyond the window", 0x1e003, [](FeatureSettings *s) { s->order = 400; }, "-order must lie between 1 and 399"},
      {"band above Nyquist", 0x1088f, [](FeatureSettings *s) { s->ufreq = 9000; }, "filterbank edges"},
      {"two scales", 0x1088f | FEAT_FBANKBARK, nullptr, "choose one filterbank scale"},
      {"two windows", 0x1088f | FEAT_HANNING, nullptr, "choose one window"},
      {"bank without spectrum", FEAT_FBANKMEL, nullptr, "a filterbank needs \"powerspec\""},
      {"durbin without autocorrelation", FEAT_DURBIN, nullptr, "\"durbin\" needs"},
      {"rasta pole", 0x1d246 | FEAT_RASTA, [](FeatureSettings *s) { s->rasta = 1.5f; }, "-rasta must lie"},
  };
  for (const Case &c : cases) {
    std::string err;
    FeatureRecord *fe = makeFrontEnd(c.flags, c.tweak, &err);
    EXPECT_EQ(fe, nullptr) << c.why;
    EXPECT_NE(err.find(c.msg), std::string::npos) << c.why << ": " << err;
    featureNuke(fe);
  }
}

// Feeds rows in blocks through a stream filter and flushes at the end.
template <class Frames, class Run>
std::vector<float> runFilter(const std::vector<std::vector<float>> &in, int dim, const std::vector<int> &blocks,
                             Frames frames, Run run) {
  std::vector<float> out;
  size_t at = 0;
  for (size_t b = 0; b <= blocks.size(); b++) {
    const bool last = b == blocks.size();
    const int n = last ? (int)(in.size() - at) : blocks[b];
    std::vector<float *> rows;
    for (int i = 0; i < n; i++) rows.push_back(const_cast<float *>(in[at + i].data()));
    const int due = frames(n, last);
    Matrix m(std::max(due, 1), dim);
    EXPECT_EQ(run(rows.data(), n, due ? m.rows.data() : nullptr, last), due);
    out.insert(out.end(), m.data.begin(), m.data.begin() + (size_t)due * dim);
    at += n;
  }
  return out;
}

TEST(StreamFilters, split_input_gives_the_output_of_one_block_with_edges_copied) {
  std::vector<std::vector<float>> ramp;  // row t = {t, t*t}
  for (int t = 0; t < 12; t++) ramp.push_back({(float)t, (float)(t * t)});
  const std::vector<int> splits[] = {{}, {1, 1, 1}, {5, 0, 3}, {11}};

  DeltaSettings *ds = deltaDefault();
  ds->basefeatdim = 2;
  ds->sigmaT2 = 1;
  FirFilter *unused = nullptr;
  (void)unused;
  for (const auto &split : splits) {
    DeltaFilter *d = deltaInit(ds);
    std::vector<float> out = runFilter(ramp, 2, split, [&](int n, bool fl) { return deltaBufferFrames(d, n, fl); },
                                       [&](float **in, int n, float **o, bool fl) { return deltaBufferCompute(d, in, n, o, fl); });
    ASSERT_EQ(out.size(), 24u);
    // Inside, the slope of t is 1 and of t^2 is 2t; at the edges the copied frames flatten it.
    EXPECT_FLOAT_EQ(out[2 * 5], 1.0f);
    EXPECT_FLOAT_EQ(out[2 * 5 + 1], 10.0f);
    EXPECT_FLOAT_EQ(out[0], (1 * (1 - 0) + 2 * (2 - 0)) / 10.0f);
    EXPECT_FLOAT_EQ(out[2 * 11], (1 * (11 - 10) + 2 * (11 - 9)) / 10.0f);
    deltaNuke(d);
  }
  DB_FREE(ds);

  // Centred 3-tap smoother on channel 1 only; channel 0 passes, delayed alike.
  float h[3] = {0.25f, 0.5f, 0.25f};
  float *hr[1] = {h};
  for (const auto &split : splits) {
    GS_Result *r = GS_CreateResult();
    FirFilter *f = filterInit(r, hr, 1, 3, 1, 2, 2, 0);
    GS_DeleteResult(r);
    ASSERT_TRUE(f);
    std::vector<float> out = runFilter(ramp, 2, split, [&](int n, bool fl) { return filterFrames(f, n, fl); },
                                       [&](float **in, int n, float **o, bool fl) { return filter(f, in, n, o, fl); });
    ASSERT_EQ(out.size(), 24u);
    for (int t = 0; t < 12; t++) EXPECT_FLOAT_EQ(out[2 * t], (float)t);
    EXPECT_FLOAT_EQ(out[2 * 4 + 1], 0.25f * 9 + 0.5f * 16 + 0.25f * 25);
    EXPECT_FLOAT_EQ(out[1], 0.75f * 0 + 0.25f * 1);
    filterNuke(f);
  }

  for (const auto &split : splits) {
    PipeDelay *p = pipedelayInit(3, 2);
    std::vector<float> out = runFilter(ramp, 2, split, [&](int n, bool fl) { return pipedelayFrames(p, n, fl); },
                                       [&](float **in, int n, float **o, bool fl) { return pipedelay(p, in, n, o, fl); });
    ASSERT_EQ(out.size(), 24u);
    for (int t = 0; t < 12; t++) EXPECT_FLOAT_EQ(out[2 * t + 1], (float)(t * t));
    pipedelayNuke(p);
  }
}

TEST(StreamFilters, a_short_block_is_held_until_the_flush) {
  DeltaSettings *ds = deltaDefault();
  ds->basefeatdim = 1;
  DeltaFilter *d = deltaInit(ds);
  DB_FREE(ds);
  float v[2] = {1, 2};
  float *rows[2] = {&v[0], &v[1]};
  EXPECT_EQ(deltaBufferFrames(d, 2, 0), 0);
  EXPECT_EQ(deltaBufferCompute(d, rows, 2, nullptr, 0), 0);
  EXPECT_EQ(deltaBufferFrames(d, 0, 1), 2);
  Matrix m(2, 1);
  EXPECT_EQ(deltaBufferCompute(d, nullptr, 0, m.rows.data(), 1), 2);
  EXPECT_EQ(deltaBufferFrames(d, 0, 1), 0);  // the flush started a new stream
  deltaNuke(d);
}

TEST(StreamFilters, whitening_projects_then_scales_and_checks_its_shapes) {
  float w[2] = {2, 10}, u0[2] = {0, 1}, u1[2] = {1, 0};
  float *wr[1] = {w}, *ur[2] = {u0, u1};
  GS_Result *r = GS_CreateResult();
  Whiten *t = whiten_Init(r, wr, 1, 2, ur, 2, 2);
  ASSERT_TRUE(t);
  float x[2] = {3, 4}, y[2];
  float *xr[1] = {x}, *yr[1] = {y};
  whiten(t, xr, 1, yr);
  EXPECT_FLOAT_EQ(y[0], 8);   // swapped, then scaled
  EXPECT_FLOAT_EQ(y[1], 30);
  whitenNuke(t);
  EXPECT_EQ(whiten_Init(r, wr, 1, 2, ur, 2, 1), nullptr);
  EXPECT_EQ(whiten_Init(r, wr, 1, 1, ur, 2, 2), nullptr);
  EXPECT_NE(std::string(r->text).find("the scale has 1 values"), std::string::npos);
  GS_DeleteResult(r);
}

TEST(Hmfcc, counts_whole_windows_and_normalises_energy_to_one) {
  MFCCSettings *s = MFCCDefault();
  GS_Result *r = GS_CreateResult();
  MFCCFrontEnd *fe = MFCCInitParam(r, s);
  DB_FREE(s);
  GS_DeleteResult(r);
  ASSERT_TRUE(fe);
  ASSERT_EQ(MFCCInitFBank(fe, 1.0), 0);
  EXPECT_EQ(MFCCFrameNum(fe, 399), 0);
  EXPECT_EQ(MFCCFrameNum(fe, 400), 1);
  EXPECT_EQ(MFCCFrameNum(fe, 559), 1);
  EXPECT_EQ(MFCCFrameNum(fe, 560), 2);
  // An exactly sized buffer: the last frame must not read past it (ASan).
  std::vector<int16_t> s16 = speechLike(560, 4);
  std::vector<int16_t> exact(s16);
  Matrix m(2, MFCCCepDim(fe));
  for (int f = 0; f < 2; f++) {
    const double e = MFCCApplyFFT(fe, exact.data() + f * MFCCFramePeriod(fe), MFCCWork(fe));
    MFCCFinal(fe, MFCCWork(fe), e, m.rows[f]);
  }
  MFCCNormEnergy(fe, m.rows.data(), 2);
  EXPECT_FLOAT_EQ(std::max(m.rows[0][12], m.rows[1][12]), 1.0f);
  MFCCNuke(fe);
}

}  // namespace
