// Tracks with cached lookups, the time warp and the excitation buffers.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "EST_Wave.h"
#include "vek_lisp.h"
#include "vek_timewarp.h"
#include "vek_track.h"
#include "vek_wavechunk.h"

static Vek_CachedTrack track_of(const std::vector<float> &t, const std::vector<float> &v) {
  Vek_CachedTrack tr;
  tr.resize((int)t.size(), 1);
  for (size_t i = 0; i < t.size(); i++) {
    tr.t((int)i) = t[i];
    tr.a((int)i, 0) = v[i];
  }
  return tr;
}

// ------------------------------------------------------------------- tracks

TEST(CachedTrack, lookups_at_and_between_frames) {
  Vek_CachedTrack tr = track_of({0.1f, 0.2f, 0.4f}, {1, 2, 6});
  struct Case {
    float t;
    int below, nearest;
    float value;
  } cases[] = {
      {0.05f, -1, 0, 1}, {0.1f, -1, 0, 1},  {0.14f, 0, 0, 1.4f},  {0.16f, 0, 1, 1.6f},
      {0.2f, 0, 1, 2},   {0.35f, 1, 2, 5},  {0.4f, 1, 2, 6},      {0.9f, 2, 2, 6},
  };
  for (auto &c : cases) {
    EXPECT_EQ(tr.index_below(c.t), c.below) << c.t;
    EXPECT_EQ(tr.nearest_index(c.t), c.nearest) << c.t;
    EXPECT_NEAR(tr.interp_value(c.t, 0), c.value, 1e-5) << c.t;
  }
  // A monotone sweep that resumes from the cache agrees with a fresh search.
  std::vector<float> times;
  for (int i = 0; i < 300; i++) times.push_back(0.003f * i);
  Vek_CachedTrack big = track_of(times, std::vector<float>(300, 0));
  for (float q = -0.01f; q < 1.0f; q += 0.0007f) {
    int want = -1;
    for (int i = 0; i < 300; i++)
      if (times[i] < q) want = i;
    if (q <= times[0]) want = -1;
    ASSERT_EQ(big.index_below(q), want) << q;
  }
}

TEST(CachedTrack, append_overwrites_from_a_millisecond_before) {
  Vek_CachedTrack tr = track_of({0.01f, 0.02f, 0.03f}, {1, 2, 3});
  EST_Track more = track_of({0.0f, 0.01f}, {7, 8});
  // 0.0305 lies within 1 ms after the last frame: that frame is replaced.
  EXPECT_EQ(tr.append(more, 0.0305f), 1);
  ASSERT_EQ(tr.num_frames(), 4);
  EXPECT_FLOAT_EQ(tr.t(2), 0.0305f);
  EXPECT_EQ(tr.a(2, 0), 7);
  EXPECT_EQ(tr.append(more, 1.0f), 0);
  EXPECT_EQ(tr.num_frames(), 6);
}

TEST(CachedTrack, replace_smooth_and_joins) {
  Vek_CachedTrack tr = track_of({0.1f, 0.2f, 0.3f, 0.4f, 0.5f}, {1, 2, 3, 4, 5});
  Vek_BuffFVect v;
  v.push(0.22f);
  v.push(0.25f);
  EXPECT_EQ(tr.replace_times(v), 2);
  ASSERT_EQ(tr.num_frames(), 7);
  EXPECT_FLOAT_EQ(tr.t(2), 0.22f);
  EXPECT_EQ(tr.a(3, 0), 0);
  EXPECT_EQ(tr.a(4, 0), 3);

  // A straight line survives point-reflected smoothing unchanged.
  Vek_CachedTrack line = track_of({0, 1, 2, 3, 4, 5}, {0, 2, 4, 6, 8, 10});
  line.smooth(0, 5, 0, 1, 5);
  for (int i = 0; i < 6; i++) EXPECT_NEAR(line.a(i, 0), 2 * i, 1e-5);

  // Matching a step: both sides move toward the join, nearest frames most.
  Vek_CachedTrack step = track_of({0, 1, 2, 3}, {0, 0, 10, 10});
  step.smooth_join_match(0, 2, 3, 0, 1);
  EXPECT_LT(step.a(0, 0), step.a(1, 0));
  EXPECT_GT(step.a(2, 0), step.a(1, 0));
  EXPECT_LT(step.a(2, 0), 10);
  Vek_CachedTrack one = track_of({0, 1}, {3, 9});
  one.smooth_join_match(1, 1, 1, 0, 1);
  EXPECT_EQ(one.a(1, 0), 9);
  EXPECT_THROW(one.smooth(0, 1, 0, 2, 5), VekError);
  EXPECT_THROW(Vek_BuffFVect().last(), VekError);

  Vek_MapTrack m;
  for (int i = 0; i < 700; i++) EXPECT_EQ(m.add_frame(0.001f * i, i), i + 1);
  EXPECT_EQ(m.a(699, 0), 699);
}

// ---------------------------------------------------------------- time warp

TEST(TimeWarp, maps_both_ways_and_bends_segments) {
  Vek_TimeWarp w;
  EXPECT_EQ(w.fwdmap(0), 0);
  w.append_labelled(0.1f, 0.2f, "a");
  EXPECT_NEAR(w.fwdmap(0.05f), 0.1f, 1e-6);
  EXPECT_NEAR(w.fwdmap(5), 0.2f, 1e-6);  // constant after the last pair
  w.append_labelled(0.1f, 0.3f, "b");     // zero-length source segment
  w.append_labelled(0.3f, 0.5f, "c");
  float idx;
  EXPECT_NEAR(w.fwdmap(0.2f, &idx), 0.4f, 1e-6);
  EXPECT_NEAR(idx, 1.5f, 1e-6);
  std::mt19937 rng(2);
  std::uniform_real_distribution<float> u(0.1001f, 0.2999f);
  for (int i = 0; i < 100; i++) {
    float s = u(rng);
    EXPECT_NEAR(w.invmap(w.fwdmap(s)), s, 1e-5);
  }
  EXPECT_THROW(w.append(0.2f, 0.6f), VekError);
  EXPECT_EQ(w.count(), 3);

  // Factor 1, breakpoint 0.5: the midpoint of the last segment.
  w.nonuniform_stretch(3, 1, 0.5f, 1);
  ASSERT_EQ(w.count(), 4);
  EXPECT_NEAR(w.src(2), 0.2f, 1e-6);
  EXPECT_NEAR(w.targ(2), 0.4f, 1e-6);
  EXPECT_EQ(w.labels()[2], "c_s");
  // A stretch beyond the segment is pulled inside it.
  Vek_TimeWarp v;
  v.append(0.1f, 0.1f);
  v.nonuniform_stretch(1, 50, 0.5f, 1);
  EXPECT_NEAR(v.targ(0), 0.1f - 0.0001f * 0.1f, 1e-7);
  for (auto bad : {std::vector<float>{0, 1}, std::vector<float>{5, 1}, std::vector<float>{1, 0}, std::vector<float>{1, NAN}})
    EXPECT_THROW(v.nonuniform_stretch((int)bad[0], bad[1], 0.5f, 1), VekError);
}

// ------------------------------------------------------- excitation buffers

static EST_Wave ramp_wave(int n, int base) {
  EST_Wave w(n, 1, 16000);
  for (int i = 0; i < n; i++) w.a(i) = (short)(base + i);
  return w;
}

TEST(WaveChunk, periods_stay_inside_their_unit_wave) {
  Vek_WaveChunk c;
  c.append(ramp_wave(100, 1000), 20, 60, false);  // chunk 0: 40 samples
  c.append(ramp_wave(50, 5000), 10, 30, false);   // chunk 1: 20 samples
  EXPECT_EQ(c.output_begins(), (std::vector<int>{0, 40, 60}));
  struct Case {
    int p, chunk;
  } cases[] = {{-1, -1}, {0, 0}, {39, 0}, {40, 1}, {59, 1}, {60, -1}};
  for (auto &k : cases) EXPECT_EQ(c.find_chunk(k.p), k.chunk) << k.p;

  Vek_PitchSyncBuffer B(64);
  // Position 40 is store 110 = unit 1's sample 10: left may reach 10 back only.
  c.fill_buffer(40, 30, 15, 32, 15, B);
  EXPECT_EQ(B[21], 0);
  EXPECT_EQ(B[22], 5000);
  EXPECT_EQ(B[32], 5010);
  EXPECT_EQ(B[46], 5024);
  // Position 0 (unit 0's sample 20) may use unit 0's samples before its chunk.
  c.fill_buffer(0, 5, 5, 10, 5, B);
  EXPECT_EQ(B[5], 1015);
  c.fill_buffer(60, 5, 5, 10, 5, B);
  EXPECT_EQ(B[10], 0);
}

TEST(WaveChunk, joins_and_chunk_end_adjustments) {
  Vek_WaveChunk c;
  c.adjust_segE(0);  // nothing, even with no chunk
  c.append(ramp_wave(100, 0), 20, 60, false);
  c.append(ramp_wave(100, 1000), 30, 50, true);  // written right after sample 60
  EXPECT_EQ(c.chunk_ends(), (std::vector<int>{80}));
  EXPECT_EQ(c.store()[60], 1030);
  c.append(ramp_wave(10, 0), 0, 10, false);
  EXPECT_EQ(c.chunk_begins().size(), 2u);
  int used = c.used();
  c.adjust_segE(3);
  EXPECT_EQ(c.chunk_ends().back(), used + 3);
  EXPECT_EQ(c.output_begins().back(), 73);
  EXPECT_THROW(c.append(ramp_wave(10, 0), 5, 20, false), VekError);
  EXPECT_THROW(c.load("/nonexistent/x.wav"), VekError);
}

TEST(PitchSyncBuffer, end_is_clamped_and_energy_of_silence_is_one) {
  Vek_PitchSyncBuffer B(10);
  testing::internal::CaptureStderr();
  B.set_end(25);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("setting end=25 beyond Nbuf=10"), std::string::npos);
  EXPECT_EQ(B.end(), 10);
  B.mark = 5;
  EXPECT_EQ(B.log_energy_tri(), 1.0);
  EXPECT_EQ(B.log_energy_trap(), 1.0);
  for (int i = 0; i < 10; i++) B[i] = 100;
  // Triangle weights average 1/2 over each side: 2E/end is the mean square.
  EXPECT_NEAR(B.log_energy_tri(), 0.5 * log(2 * 100 * 100 * (2.0 + 3.0) / 10), 1e-9);
  EXPECT_GT(B.log_energy_trap(), 4.0);
  // Saved samples saturate instead of wrapping around.
  Vek_PitchSyncBuffer S(2000);
  S.set_end(2000);
  S[0] = 40000;
  S[1] = -50000;
  std::string p = std::string(testing::TempDir()) + "/psb.wav";
  ASSERT_TRUE(S.save_riff(p, 16000, 1.0));
  EST_Wave w;
  ASSERT_EQ(w.load(p.c_str()), read_ok);
  EXPECT_EQ(w.a(0), 32767);
  EXPECT_EQ(w.a(1), -32767);
}
