// The pitch-synchronous loop of the residual-LPC synthesis on small made-up
// states: clipping, windows, empty and degenerate sources, dithering.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "EST_Wave.h"
#include "festival.h"
#include "vek_lisp.h"
#include "vek_synth.h"

namespace {

void default_params(int dither = 1, const char *window = "triangle") {
  resLPC_new_params();
  EST_Features &p = resLPC_params();
  p.set("post_gain", 1.0f);
  p.set("uv_gain", 1.0f);
  p.set("deemphasis", 0.94f);
  p.set("window_type", window);
  p.set("uv_dither", dither);
  p.set("outbuf_incr", 300);
}

// A noise residual of 0.2 s with marks every 10 ms (or just one), two LSFs
// and a constant energy; a target of `marks` unvoiced marks 5 ms apart, all
// on source mark 2.
void make_state(VekresLPC_src &src, VekresLPC_targ &targ, int source_marks, int marks) {
  EST_Wave w(3200, 1, 16000);
  std::mt19937 rng(5);
  std::uniform_int_distribution<int> d(-3000, 3000);
  for (int i = 0; i < 3200; i++) w.a(i) = (short)d(rng);
  src.store.append(w, 0, 3200, false);
  src.rate = 16000;
  src.pm.resize(source_marks, 3);
  for (int i = 0; i < source_marks; i++) src.pm.t(i) = 0.01f * (i + 1);
  src.lsf.resize(20, 3);
  src.lsf.set_channel_name("LSF_0", 0);
  src.lsf.set_channel_name("LSF_N", 1);
  src.lsf.set_channel_name("E", 2);
  for (int i = 0; i < 20; i++) {
    src.lsf.t(i) = 0.01f * i;
    src.lsf.a(i, 0) = 0.5f;
    src.lsf.a(i, 1) = 1.5f;
    src.lsf.a(i, 2) = 6.0f;
  }
  targ.map.resize(marks, 3);
  targ.map.set_channel_name("lpc_map", 0);
  targ.map.set_channel_name("exc_map", 1);
  targ.map.set_channel_name("v/uv", 2);
  for (int i = 0; i < marks; i++) {
    targ.map.t(i) = 0.005f * i;
    targ.map.a(i, 0) = 3;
    targ.map.a(i, 1) = 2;
    targ.map.a(i, 2) = 0;
  }
  targ.warp.append(0.1f, 0.1f);
}

}  // namespace

TEST(SynthesisLoop, output_clipping) {
  struct Case {
    double x;
    short y;
    bool clipped;
  } cases[] = {{-32768.0, -32767, true}, {32767.9, 32767, true}, {40000, 32767, true}, {-32767, -32767, false},
               {-1.5, -1, false},        {100.7, 100, false}};
  for (auto &c : cases) {
    resLPC_outbuf out;
    EXPECT_EQ(resLPC_outbuf_add(out, &c.x, 1), c.clipped) << c.x;
    ASSERT_EQ(out.used, 1);
    EXPECT_EQ(out.samples[0], c.y) << c.x;
  }
}

TEST(SynthesisLoop, window_types) {
  EXPECT_EQ(resLPC_window_type(""), 1);
  EXPECT_EQ(resLPC_window_type("triangle"), 1);
  EXPECT_EQ(resLPC_window_type("trapezoid"), 0);
  EXPECT_THROW(resLPC_window_type("hann"), VekError);
}

TEST(SynthesisLoop, degenerate_states) {
  default_params();
  {
    // No target marks: nothing at all.
    VekresLPC_src src;
    VekresLPC_targ targ;
    make_state(src, targ, 5, 0);
    resLPC_outbuf out;
    resLPC_synthesize(src, targ, out);
    EXPECT_EQ(out.used, 0);
  }
  {
    // One source mark has no period: silence of the target's length.
    VekresLPC_src src;
    VekresLPC_targ targ;
    make_state(src, targ, 1, 20);
    resLPC_outbuf out;
    resLPC_synthesize(src, targ, out);
    EXPECT_EQ(out.used, 1600);
    int loud = 0;
    for (int i = 0; i < out.used; i++) loud += out.samples[i] != 0;
    EXPECT_EQ(loud, 0);
  }
  {
    // Missing channels are errors, not reads of absent data.
    VekresLPC_src src;
    VekresLPC_targ targ;
    make_state(src, targ, 5, 20);
    src.lsf.set_channel_name("X", 2);
    resLPC_outbuf out;
    EXPECT_THROW(resLPC_synthesize(src, targ, out), VekError);
    EXPECT_EQ(out.used, 0);
  }
}

TEST(SynthesisLoop, windows_and_dithering) {
  auto run = [](int dither, const char *window) {
    default_params(dither, window);
    VekresLPC_src src;
    VekresLPC_targ targ;
    make_state(src, targ, 10, 20);
    resLPC_outbuf out;
    resLPC_synthesize(src, targ, out);
    return std::vector<short>(out.samples.begin(), out.samples.begin() + out.used);
  };
  std::vector<short> tri = run(1, "triangle"), empty = run(1, ""), trap = run(1, "trapezoid");
  EXPECT_EQ(tri.size(), 1600u);
  EXPECT_EQ(tri, empty);
  EXPECT_NE(tri, trap);
  // Only the lowest bit of uv_dither counts: 2 is off like 0, 3 on like 1.
  EXPECT_EQ(run(2, "triangle"), run(0, "triangle"));
  EXPECT_EQ(run(3, "triangle"), tri);
  EXPECT_NE(run(0, "triangle"), tri);
}

TEST(SynthesisLoop, marks_at_the_same_time_do_not_stall_the_mark_walk) {
  resLPC_new_params();
  resLPC_params().set("T0_UV_thresh", 0.02f);
  resLPC_params().set("T0_UV_pm", 0.01f);
  EST_Utterance u;
  EST_Item *seg = u.create_relation("Segment")->append();
  seg->set_name("a");
  seg->set("end", 0.05f);
  EST_Item *ss = u.create_relation("SrcSeg")->append();
  ss->set_name("a");
  ss->set("dur", 0.05f);
  VekresLPC_src src;
  VekresLPC_targ targ;
  src.pm.resize(5, 0);
  float t[5] = {0.01f, 0.02f, 0.02f, 0.02f, 0.03f};
  for (int i = 0; i < 5; i++) src.pm.t(i) = t[i];
  // Zero periods: each step is one sample at least, so the walk ends.
  resLPC_keep_prosody(&u, src, targ);
  EXPECT_GT(targ.map.num_frames(), 0);
  EXPECT_LE(targ.map.num_frames(), 801);
}
