// The detector's state machine at its exact thresholds, the lead-in ring,
// the calibrations, and a whole noisy recording run block by block.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "rastel.h"
#include "speech_fixture.h"
#include "yastro.h"

namespace {

struct Detector {
  RastelState *s;
  explicit Detector(void (*tweak)(RastelParams *) = nullptr) {
    RastelParams *p = rastelDefault();
    if (tweak) tweak(p);
    s = rastelInit(p);
    DB_Free(p, __FILE__, __LINE__);
  }
  ~Detector() { rastelNuke(s); }
  int run(const std::vector<int16_t> &x, std::vector<int16_t> *env = nullptr, std::vector<int16_t> *st = nullptr) {
    if (env) env->assign(x.size(), -1);
    if (st) st->assign(x.size(), -1);
    return rastelCompute(s, x.data(), (int)x.size(), env ? env->data() : nullptr, st ? st->data() : nullptr);
  }
};

// Alternating ±amp: after the input filter every sample differs by 2·amp.
std::vector<int16_t> buzz(int n, int amp = 5000) {
  std::vector<int16_t> x(n);
  for (int i = 0; i < n; i++) x[i] = (int16_t)(i % 2 ? -amp : amp);
  return x;
}

int firstIndexOf(const std::vector<int16_t> &v, int value) {
  for (size_t i = 0; i < v.size(); i++)
    if (v[i] == value) return (int)i;
  return -1;
}

WaveRecord wave(std::vector<int16_t> &s, float *info) { return WaveRecord{(int32_t)s.size(), s.data(), 2, info}; }

}  // namespace

TEST(Rastel, defaults_convert_to_samples) {
  Detector d;
  EXPECT_EQ(4320, d.s->ringLength);
  EXPECT_EQ(4000, d.s->tsilence);
  EXPECT_EQ(40000, d.s->lsilence);
  EXPECT_EQ(80000, d.s->maxrec);
  EXPECT_EQ(320, d.s->thi);
  EXPECT_NEAR(-6.011e-10, d.s->dcCoefficient, 0.001e-10);
  EXPECT_EQ(1.0f, (float)(1.0 - d.s->dcCoefficient));  // the filter is a plain difference

  // Durations too long for a 32-bit sample count saturate, never wrap.
  Detector far([](RastelParams *p) {
    p->samplerate = 100000;
    p->tsilence = 2000000000;
    p->maxrec = -2000000000;
  });
  EXPECT_EQ(2147483647, far.s->tsilence);
  EXPECT_EQ(-2147483647 - 1, far.s->maxrec);
}

TEST(Rastel, sound_is_confirmed_321_samples_after_the_start_candidate) {
  Detector d;
  std::vector<int16_t> env, st;
  EXPECT_EQ(RASTEL_SOUND, d.run(buzz(2000), &env, &st));
  int cand = firstIndexOf(st, 200), conf = firstIndexOf(st, 300);
  ASSERT_GE(cand, 0);
  EXPECT_GT(env[cand], 499);
  EXPECT_LE(env[cand - 1], 500);
  EXPECT_EQ(cand + 321, conf);
  EXPECT_EQ(conf, d.s->speechStart);
  EXPECT_EQ(conf, d.s->startOffset);
  for (int v : st) EXPECT_TRUE(v == 100 || v == 200 || v == 300) << v;
}

TEST(Rastel, utterance_ends_4001_samples_after_the_envelope_falls) {
  Detector d;
  std::vector<int16_t> x = buzz(3000);
  x.resize(12000, 0);
  std::vector<int16_t> env, st;
  EXPECT_EQ(RASTEL_DONE, d.run(x, &env, &st));
  int fall = firstIndexOf(st, 400);
  ASSERT_GT(fall, 3000);
  EXPECT_EQ(fall + 4001, d.s->speechEnd);
  EXPECT_EQ(fall + 4001, d.s->endOffset);
  EXPECT_EQ(-1, st[fall + 4001]);  // the stopping sample is not traced
  EXPECT_EQ(fall + 4001, d.s->total);
  // Later blocks answer "done" at once, until a reset.
  std::vector<int16_t> more = buzz(500);
  EXPECT_EQ(RASTEL_DONE, d.run(more));
  EXPECT_EQ(fall + 4001, d.s->total);
  rastelReset(d.s);
  EXPECT_EQ(RASTEL_SOUND, d.run(buzz(1000)));
}

TEST(Rastel, quiet_stream_times_out_after_lsilence_and_long_speech_after_maxrec) {
  Detector d;
  std::vector<int16_t> quiet(1000, 0);
  int code = 0, blocks = 0;
  while ((code = d.run(quiet)) == RASTEL_QUIET) blocks++;
  EXPECT_EQ(RASTEL_SILENCE, code);
  EXPECT_EQ(40, blocks);            // samples 0..39999 are quiet
  EXPECT_EQ(40001, d.s->total);     // the timeout is at sample 40001
  EXPECT_EQ(RASTEL_SILENCE, d.run(quiet));

  Detector loud;
  std::vector<int16_t> x = buzz(10000);
  while ((code = loud.run(x)) == RASTEL_SOUND) {}
  EXPECT_EQ(RASTEL_MAXREC, code);
  EXPECT_EQ(80000, loud.s->speechEnd - loud.s->speechStart);
}

TEST(Rastel, an_envelope_equal_to_the_threshold_keeps_but_never_starts_a_candidate) {
  // lpfrac 1: the envelope is the filtered sample itself, exactly.
  Detector d([](RastelParams *p) { p->lpfrac = 1.0f; });
  std::vector<int16_t> equal(800);
  for (int i = 0; i < 800; i++) equal[i] = (int16_t)(i % 2 ? 500 : 0);
  std::vector<int16_t> st;
  EXPECT_EQ(RASTEL_QUIET, d.run(equal, nullptr, &st));
  EXPECT_EQ(-1, firstIndexOf(st, 200));

  Detector e([](RastelParams *p) { p->lpfrac = 1.0f; });
  std::vector<int16_t> x(800);
  x[0] = 0;
  for (int i = 1; i < 800; i++) x[i] = (int16_t)(i % 2 ? 600 : 100);  // 600 once, then steps of 500
  EXPECT_EQ(RASTEL_SOUND, e.run(x, nullptr, &st));
  EXPECT_EQ(1, firstIndexOf(st, 200));
  EXPECT_EQ(1 + 321, firstIndexOf(st, 300));
}

TEST(Rastel, speech_handed_out_is_the_stream_without_gaps_or_repeats) {
  struct Case {
    int quietBefore;
    int expectLead;
    const char *why;
  } cases[] = {
      {0, 0, "confirmation soon after the reset: only the samples seen so far"},
      {8000, 4320, "a full ring of lead-in"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.why);
    Detector d;
    std::vector<int16_t> stream(c.quietBefore, 0);
    for (int i = 0; i < c.quietBefore; i++) stream[i] = (int16_t)(i % 7);  // quiet but traceable
    std::vector<int16_t> loud = buzz(6000);
    for (int i = 0; i < 6000; i++) loud[i] = (int16_t)(loud[i] + i % 13);
    stream.insert(stream.end(), loud.begin(), loud.end());
    stream.resize(stream.size() + 6000, 3);
    std::vector<int16_t> got;
    float info[2] = {8000, 0};
    int code = 0;
    for (size_t at = 0; at < stream.size() && code != RASTEL_DONE; at += 1000) {
      std::vector<int16_t> block(stream.begin() + at, stream.begin() + std::min(stream.size(), at + 1000));
      WaveRecord in = wave(block, info);
      WaveRecord out{0, nullptr, 2, info};
      code = d.run(block);
      if (code == RASTEL_SOUND || code == RASTEL_DONE || code == RASTEL_MAXREC) {
        rastelBuffer(d.s, &in, &out);
        got.insert(got.end(), out.samples, out.samples + out.len);
        DB_Free(out.samples, __FILE__, __LINE__);
      }
    }
    ASSERT_EQ(RASTEL_DONE, code);
    int start = d.s->speechStart + 1 - (int)std::min<long>(d.s->ringLength, d.s->speechStart + 1);
    EXPECT_EQ(c.expectLead ? d.s->speechStart + 1 - c.expectLead : 0, start);
    ASSERT_EQ((size_t)(d.s->speechEnd - start), got.size());
    for (size_t k = 0; k < got.size(); k++) ASSERT_EQ(stream[start + k], got[k]) << "sample " << start + k;
  }
}

TEST(Rastel, calibrations_leave_the_level_alone_without_speech_or_background) {
  Detector d;
  std::vector<int16_t> zeros(8000, 0);
  float info[2] = {8000, 0};
  WaveRecord w = wave(zeros, info);
  float sm = -1, bm = -1;
  EXPECT_EQ(0.5f, rastelCalibrate2(d.s, &w, &sm, &bm));
  EXPECT_EQ(0.0f, sm);
  EXPECT_EQ(0.0f, bm);
  EXPECT_EQ(0.5f, rastelCalibrate(d.s, &w));
  WaveRecord empty{0, zeros.data(), 2, info};
  EXPECT_EQ(0.5f, rastelCalibrate(d.s, &empty));
  EXPECT_EQ(0.5f, rastelCalibrate2(d.s, &empty, &sm, &bm));
}

// The whole case: a noisy recording (speech 20 dB above white
// noise), the level calibrated on it, then the detector run over 250 ms
// blocks. Speech must be confirmed between 50 ms before and 150 ms after the
// true start, and the utterance must end tsilence after the true end,
// within 150 ms.
TEST(Rastel, finds_an_utterance_in_a_noisy_recording_block_by_block) {
  if (!fixture::haveTool("espeak-ng") || !fixture::haveTool("sox")) GTEST_SKIP() << "espeak-ng or sox missing";
  std::string dir = fixture::tempDir();
  std::vector<int16_t> clean = fixture::speech(dir, "please call me back tomorrow morning", 8000);
  fixture::run("rm -rf " + dir);
  ASSERT_FALSE(clean.empty());
  int b, e;
  fixture::speechBounds(clean, b, e);
  const int pad = 12000;
  for (int useCal2 = 0; useCal2 < 2; useCal2++) {
    SCOPED_TRACE(useCal2 ? "calibrate2" : "calibrate");
    std::vector<int16_t> rec = fixture::padAndMix(clean, pad, 16000, 20);
    float info[2] = {8000, 0};
    WaveRecord all = wave(rec, info);
    Detector d;
    float sm, bm;
    float level = useCal2 ? rastelCalibrate2(d.s, &all, &sm, &bm) : rastelCalibrate(d.s, &all);
    EXPECT_NE(0.5f, level);
    if (useCal2) {
      EXPECT_GT(sm, bm);
    }
    int code = 0;
    for (size_t at = 0; at < rec.size() && code != RASTEL_DONE; at += 2000) {
      std::vector<int16_t> block(rec.begin() + at, rec.begin() + std::min(rec.size(), at + 2000));
      code = d.run(block);
    }
    ASSERT_EQ(RASTEL_DONE, code);
    // Confirmation comes after the onset (thi and the envelope's rise), and
    // the lead-in handed out with the speech reaches back before it.
    EXPECT_GE(d.s->speechStart, pad + b - 400);
    EXPECT_LE(d.s->speechStart, pad + b + 1200);
    EXPECT_LE(d.s->speechStart + 1 - d.s->ringLength, pad + b);
    EXPECT_NEAR(pad + e + d.s->tsilence, d.s->speechEnd, 1200);
  }
}
