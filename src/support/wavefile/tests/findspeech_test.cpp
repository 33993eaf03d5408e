// The speech finder on spoken words padded with silence and mixed with
// noise at known levels; found begin and end must lie within 100 ms of the
// padding.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "speech_fixture.h"
#include "wavefile.h"
#include "yastro.h"

namespace {

struct Found {
  int begin, end;
  float a, b;
};

Found find(const std::vector<int16_t> &s, int rate, int pipelined = 0, FindSpeechParams *override = nullptr) {
  FindSpeechParams *p = findSpeechDefault();
  if (override) *p = *override;
  p->samplerate = (float)rate;
  Found f{};
  findSpeech(s.data(), (int)s.size(), p, pipelined, &f.begin, &f.end, &f.a, &f.b);
  DB_Free(p, __FILE__, __LINE__);
  return f;
}

class FindSpeech : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!fixture::haveTool("espeak-ng") || !fixture::haveTool("sox")) return;
    std::string dir = fixture::tempDir();
    clean8k = new std::vector<int16_t>(fixture::speech(dir, "please call me back tomorrow morning", 8000));
    fixture::run("rm -rf " + dir);
  }
  static void TearDownTestSuite() { delete clean8k; clean8k = nullptr; }
  void SetUp() override {
    if (!clean8k || clean8k->empty()) GTEST_SKIP() << "espeak-ng or sox missing";
  }
  static std::vector<int16_t> *clean8k;
};
std::vector<int16_t> *FindSpeech::clean8k = nullptr;

TEST_F(FindSpeech, finds_padded_speech_in_noise_within_100_ms) {
  const int rate = 8000, tol = rate / 10;
  int b, e;
  fixture::speechBounds(*clean8k, b, e);
  struct Case {
    int beforeMs, afterMs;
    double snrDb;
    int dc;
  } cases[] = {
      {1000, 1500, NAN, 0}, {1000, 1500, 30, 0}, {700, 2000, 20, 0},
      {1500, 800, 15, 0},   {1000, 1000, 20, 1200},  // an offset is found and ignored
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << "snr " << c.snrDb << " dB, dc " << c.dc);
    std::vector<int16_t> s = fixture::padAndMix(*clean8k, c.beforeMs * 8, c.afterMs * 8, c.snrDb);
    for (auto &v : s) v = (int16_t)std::max(-32768, std::min(32767, v + c.dc));
    Found f = find(s, rate);
    EXPECT_NEAR(c.beforeMs * 8 + b, f.begin, tol);
    EXPECT_NEAR(c.beforeMs * 8 + e, f.end, tol);
    EXPECT_NEAR(c.dc, f.a, 200);
  }
}

TEST_F(FindSpeech, background_level_follows_the_noise) {
  std::vector<int16_t> s = fixture::padAndMix(*clean8k, 8000, 8000, 20);
  int b, e;
  fixture::speechBounds(*clean8k, b, e);
  double sigma = fixture::rms(*clean8k, b, e) / 10;  // 20 dB below the speech
  Found f = find(s, 8000);
  EXPECT_NEAR(sigma, f.b, sigma * 0.25);
}

TEST_F(FindSpeech, silence_noise_and_empty_blocks_have_no_speech) {
  std::vector<int16_t> zeros(8000, 0);
  std::vector<int16_t> noise = fixture::padAndMix(std::vector<int16_t>(8000, 0), 0, 0, NAN);
  std::mt19937 g(3);
  std::normal_distribution<double> nd(0, 300);
  for (auto &v : noise) v = (int16_t)std::lround(nd(g));
  for (const auto *s : {&zeros, &noise}) {
    Found f = find(*s, 8000);
    EXPECT_LE(f.end, f.begin);
  }
  Found f = find({}, 8000);
  EXPECT_EQ(0, f.begin);
  EXPECT_EQ(0, f.end);
}

TEST_F(FindSpeech, timeout_minspeech_and_pipelined_blocks) {
  // Speech starting after 1.5 s is not found with a 1 s timeout.
  std::vector<int16_t> late = fixture::padAndMix(*clean8k, 12000, 4000, 30);
  FindSpeechParams p;
  FindSpeechParams *d = findSpeechDefault();
  p = *d;
  DB_Free(d, __FILE__, __LINE__);
  p.timeout = 1000;
  Found f = find(late, 8000, 0, &p);
  EXPECT_LE(f.end, f.begin);
  p.timeout = 2000;
  f = find(late, 8000, 0, &p);
  EXPECT_GT(f.end, f.begin);
  // Durations far beyond the block mean the whole block.
  p.timeout = 1e30f;
  p.maxgap = 1e30f;
  Found all = find(late, 8000, 0, &p);
  EXPECT_EQ(f.begin, all.begin);
  EXPECT_GE(all.end, f.end);
  p.minspeech = 1e30f;
  all = find(late, 8000, 0, &p);
  EXPECT_LE(all.end, all.begin);

  // A 50 ms click is shorter than minspeech, unless it touches the end of a
  // pipelined block.
  std::vector<int16_t> click = fixture::padAndMix(std::vector<int16_t>(400, 0), 4000, 0, NAN);
  for (int i = 4000; i < 4400; i++) click[i] = (int16_t)(8000 * std::sin(i * 0.5));
  std::mt19937 g(5);
  std::normal_distribution<double> nd(0, 50);
  for (auto &v : click) v = (int16_t)(v + std::lround(nd(g)));
  EXPECT_LE(find(click, 8000, 0).end, find(click, 8000, 0).begin);
  Found pf = find(click, 8000, 1);
  EXPECT_EQ(4000, pf.begin);
  EXPECT_EQ(4400, pf.end);
}

TEST(EatZeroes, first_and_last_nonzero) {
  struct Case {
    std::vector<int16_t> s;
    int begin, end;
  } cases[] = {
      {{0, 0, 5, 0, 7, 0}, 2, 4},
      {{3}, 0, 0},           // one nonzero sample: begin == end
      {{0, 0, 0}, 0, -1},    // none
      {{}, 0, -1},
      {{1, 0, 0, 2}, 0, 3},
  };
  for (const Case &c : cases) {
    int b = 99, e = 99;
    eatZeroes(c.s.data(), (int)c.s.size(), &b, &e);
    EXPECT_EQ(c.begin, b);
    EXPECT_EQ(c.end, e);
  }
}

}  // namespace
