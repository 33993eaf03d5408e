// Engine pieces that need no running synthesiser: label files, effects,
// insertion arithmetic and gain targets; plus the one error path that no
// Tcl command can reach (a Lisp error with no catcher armed).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <fstream>
#include <string>
#include <vector>

#include <tcl.h>

#include "festival.h"
#include "EST_error.h"
#include "siod.h"
#include "festival_binding.h"
#include "vek_common.h"
#include "vek_effect_dsp.h"
#include "vek_insert_dsp.h"
#include "vek_labels.h"
#include "vek_lisp.h"

static std::string tmpPath(const char *name) {
  return std::string(testing::TempDir()) + "/fest_" + name;
}

static std::string slurp(const std::string &p) {
  std::ifstream in(p);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

static void spit(const std::string &p, const std::string &text) { std::ofstream(p) << text; }

// ---------------------------------------------------------------- labels

TEST(Labels, writes_header_and_chained_begins) {
  std::string p = tmpPath("abc.lab"), why;
  ASSERT_TRUE(save_Vek_labels({0.1f, 0.25f, 0.4f}, {"a", "b", "c"}, p, -99, why));
  EXPECT_EQ(slurp(p),
            "MillisecondsPerFrame: 1.000000\nEND OF HEADER\n0.0 100.0 a\n100.0 250.0 b\n250.0 400.0 c\n");
}

TEST(Labels, names_that_run_out_are_NULL_and_count_limits) {
  std::string p = tmpPath("null.lab"), why;
  ASSERT_TRUE(save_Vek_labels({0.1f, 0.2f, 0.3f}, {"a"}, p, 2, why));
  EXPECT_EQ(slurp(p), "MillisecondsPerFrame: 1.000000\nEND OF HEADER\n0.0 100.0 a\n100.0 200.0 NULL\n");
}

TEST(Labels, unwritable_file_is_reported) {
  std::string why;
  EXPECT_FALSE(save_Vek_labels({0.1f}, {"a"}, "/nonexistent-dir/x.lab", -99, why));
  EXPECT_NE(why.find("/nonexistent-dir/x.lab"), std::string::npos);
}

TEST(Labels, round_trip_reads_names_and_ends_in_seconds) {
  std::string p = tmpPath("rt.lab"), why;
  ASSERT_TRUE(save_Vek_labels({0.1f, 0.25f, 0.4f}, {"a", "b", "c"}, p, -99, why));
  std::vector<VekLabel> l;
  ASSERT_EQ(Vek_readLabels(p, l, why), VekLabelRead::ok) << why;
  ASSERT_EQ(l.size(), 3u);
  EXPECT_EQ(l[1].name, "b");
  EXPECT_NEAR(l[1].begin, 0.1, 1e-9);
  EXPECT_NEAR(l[2].end, 0.4, 1e-9);
}

// The speech tools read the same header format with their own "ogi" label
// reader: our files must load there with the same names and ends.
TEST(Labels, speech_tools_reader_agrees) {
  std::string p = tmpPath("peer.lab"), why;
  ASSERT_TRUE(save_Vek_labels({0.1f, 0.25f, 0.4f}, {"a", "b", "c"}, p, -99, why));
  EST_Relation rel;
  ASSERT_EQ(rel.load(p.c_str(), "ogi"), read_ok);
  std::vector<std::pair<std::string, float>> got;
  for (EST_Item *it = rel.head(); it; it = inext(it)) got.push_back({(const char *)it->name(), it->F("end")});
  std::vector<std::pair<std::string, float>> want = {{"a", 0.1f}, {"b", 0.25f}, {"c", 0.4f}};
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(got[i].first, want[i].first);
    EXPECT_NEAR(got[i].second, want[i].second, 1e-6);
  }
}

TEST(Labels, bad_files_are_classified) {
  struct Case {
    const char *text;
    VekLabelRead expect;
    const char *why;
  } cases[] = {
      {"MillisecondsPerFrame: 10\nEND OF HEADER\n0 10 a\n", VekLabelRead::ok, "frames of 10 ms"},
      {"MillisecondsPerFrame: 1.0\nEND OF HEADER\n", VekLabelRead::ok, "header only: no segments"},
      {"MillisecondsPerFrame: 1.0\nEND OF HEADER\n0.0 100.0 a\n100.0 250.0\n", VekLabelRead::malformed,
       "truncated last line"},
      {"MillisecondsPerFrame: 1.0\nEND OF HEADER\n0.0 1x0 a\n", VekLabelRead::malformed, "bad number"},
      {"MillisecondsPerFrame: 1.0\n0.0 100.0 a\n", VekLabelRead::notLabels, "header never ends"},
      {"END OF HEADER\n0 1 a\n", VekLabelRead::malformed, "no frame length"},
      {"RIFF\x10\0\0\0WAVEfmt ", VekLabelRead::notLabels, "a wave file"},
      {"", VekLabelRead::notLabels, "empty file"},
  };
  for (const Case &c : cases) {
    std::string p = tmpPath("bad.lab"), why;
    spit(p, c.text);
    std::vector<VekLabel> l;
    EXPECT_EQ(Vek_readLabels(p, l, why), c.expect) << c.why;
  }
  std::vector<VekLabel> l;
  std::string why;
  EXPECT_EQ(Vek_readLabels("/nonexistent-dir/none.lab", l, why), VekLabelRead::cannotOpen);
  spit(tmpPath("ten.lab"), "MillisecondsPerFrame: 10\nEND OF HEADER\n0 10 a\n");
  ASSERT_EQ(Vek_readLabels(tmpPath("ten.lab"), l, why), VekLabelRead::ok);
  EXPECT_NEAR(l[0].end, 0.1, 1e-12);
}

// --------------------------------------------------------------- effects

static std::vector<short> impulse(size_t n, size_t at, short v) {
  std::vector<short> x(n, 0);
  x[at] = v;
  return x;
}

TEST(Effects, echo_repeats_with_feedback_but_never_from_sample_0) {
  VekEffectSettings s;
  s.echo_dtime = 100;
  s.echo_feedback = 0.5f;
  std::vector<short> x = impulse(400, 1, 10000);
  Vekeffect_echo(s, x);
  EXPECT_EQ(x[101], 5000);
  EXPECT_EQ(x[201], 2500);
  EXPECT_EQ(x[301], 1250);
  std::vector<short> y = impulse(400, 0, 10000);
  Vekeffect_echo(s, y);
  EXPECT_EQ(y, impulse(400, 0, 10000));
}

TEST(Effects, slapback_echoes_the_dry_signal_once) {
  VekEffectSettings s;
  s.slap_dtime = 100;
  s.slap_feedback = 0.5f;
  std::vector<short> x = impulse(400, 1, 10000);
  Vekeffect_slapback(s, x);
  EXPECT_EQ(x[101], 5000);
  EXPECT_EQ(x[201], 0);
}

TEST(Effects, sums_clip_instead_of_wrapping) {
  VekEffectSettings s;
  s.echo_dtime = 10;
  s.echo_feedback = 1.0f;
  s.slap_dtime = 10;
  s.slap_feedback = 1.0f;
  std::vector<short> x(30, 0);
  x[1] = 30000;
  x[11] = 30000;
  x[2] = -30000;
  x[12] = -30000;
  std::vector<short> y = x;
  Vekeffect_echo(s, x);
  EXPECT_EQ(x[11], 32767);
  EXPECT_EQ(x[12], -32767);
  Vekeffect_slapback(s, y);
  EXPECT_EQ(y[11], 32767);
  EXPECT_EQ(y[12], -32767);
  EXPECT_EQ(Vek_clip16(-32768.0), -32767);
  EXPECT_EQ(Vek_clip16(32767.9), 32767);
  EXPECT_EQ(Vek_clip16(-1.9), -1);
}

TEST(Effects, reverb_taps_feed_back_and_report_overflow) {
  VekEffectSettings s;
  s.taps = {{10, 0.5f, 0.0f}};
  std::vector<short> x = impulse(40, 1, 10000);
  EXPECT_FALSE(Vekeffect_reverb(s, x));
  EXPECT_EQ(x[11], 5000);
  EXPECT_EQ(x[21], 2500);  // the tap reads processed samples
  s.taps = {{1, 4.0f, 0.0f}};
  std::vector<short> y = impulse(10, 1, 30000);
  EXPECT_TRUE(Vekeffect_reverb(s, y));
  EXPECT_EQ(y[2], 32767);
}

TEST(Effects, tail_length_covers_the_ringing) {
  struct Case {
    std::vector<VekReverbTap> taps;
    int echo, slap;
    float efb;
    long expect;
  } cases[] = {
      {{{1000, 0.5f, 0.0f}}, 0, 0, 0, 1000 + 7643},
      {{}, 100, 50, 0.5f, 1000 + 50 + 764},  // (ln .01 / ln .5 + 1) * 100
      {{}, 100, 0, 1.0f, 1000 + 100},         // feedback 1 never decays: factor 1
      {{{0, 0.5f, 0}, {200, 2.0f, 0}, {200, 0.1f, 0}}, 0, 0, 0, 1000 + 200},  // largest delay, first on ties
      {{}, 0, 0, 0, 1000},
  };
  for (const Case &c : cases) {
    VekEffectSettings s;
    s.taps = c.taps;
    s.echo_dtime = c.echo;
    s.echo_feedback = c.efb;
    s.slap_dtime = c.slap;
    EXPECT_EQ(Vekeffect_extended_length(s, 1000), c.expect);
  }
}

// ------------------------------------------------------------- insertion

TEST(Insert, insert_pads_and_splits) {
  std::vector<short> w(10, 1), f(3, 7);
  std::vector<short> r = Vekinsert_insert(w, f, 4);
  EXPECT_EQ(r.size(), 13u);
  EXPECT_EQ(r[3], 1);
  EXPECT_EQ(r[4], 7);
  EXPECT_EQ(r[6], 7);
  EXPECT_EQ(r[7], 1);
  r = Vekinsert_insert(w, f, 15);
  EXPECT_EQ(r.size(), 18u);
  EXPECT_EQ(r[12], 0);
  EXPECT_EQ(r[15], 7);
}

TEST(Insert, overwrite_keeps_length_inside_and_grows_at_the_end) {
  std::vector<short> w(16000, 1), f(4000, 9);
  std::vector<short> r = Vekinsert_overwrite(w, f, 4000);
  ASSERT_EQ(r.size(), 16000u);
  EXPECT_EQ(r[3999], 1);
  EXPECT_EQ(r[4000], 9);
  EXPECT_EQ(r[7999], 9);
  EXPECT_EQ(r[8000], 1);
  EXPECT_EQ(Vekinsert_overwrite(w, f, 14000).size(), 18000u);
}

TEST(Insert, background_loops_whole_copies_and_saturates) {
  std::vector<short> f(3000, 10);
  std::vector<short> b = Vekinsert_loop(f, 1, 10000.0, true);
  EXPECT_EQ(b.size(), 12000u);
  EXPECT_EQ(Vekinsert_loop(f, 1, 0.0, false).size(), 3000u);
  std::vector<short> w(10000, 0);
  Vekinsert_mix(w, b, 1);
  EXPECT_EQ(w.size(), 12001u);
  std::vector<short> a = {30000, -30000, 5};
  Vekinsert_mix(a, {10000, -10000, 5}, 0);
  EXPECT_EQ(a, (std::vector<short>{32767, -32767, 10}));
}

// ---------------------------------------------------------- gain targets

static EST_Utterance *segmentsEndingAt(float end) {
  EST_Utterance *u = new EST_Utterance;
  EST_Relation *seg = u->create_relation("Segment");
  EST_Item *a = seg->append();
  a->set("end", end / 2);
  EST_Item *b = seg->append();
  b->set("end", end);
  return u;
}

static std::vector<std::pair<float, float>> gains(EST_Utterance *u) {
  std::vector<std::pair<float, float>> out;
  for (EST_Item *it = u->relation("Gain")->head(); it; it = inext(it))
    out.push_back({it->F("pos"), it->F("gain")});
  return out;
}

TEST(GainTargets, linear_ramp_keeps_the_two_ends) {
  std::unique_ptr<EST_Utterance> u(segmentsEndingAt(2.0f));
  add_gain_targets(u.get(), 0.5f, 0.75f, 1.0f, 0.0f, 0.125f, "linear");
  std::vector<std::pair<float, float>> want = {{0, 1}, {0.5f, 1}, {0.625f, 0.5f}, {2.0f, 1}};
  EXPECT_EQ(gains(u.get()), want);
  // Again over the same range: the old targets go first, nothing piles up.
  add_gain_targets(u.get(), 0.5f, 0.75f, 1.0f, 0.0f, 0.125f, "linear");
  EXPECT_EQ(gains(u.get()), want);
  // begin == end only sets up the relation.
  std::unique_ptr<EST_Utterance> v(segmentsEndingAt(2.0f));
  add_gain_targets(v.get(), 0.5f, 0.5f, 1.0f, 0.0f, 0.125f, "sin");
  EXPECT_EQ(gains(v.get()).size(), 2u);
}

TEST(GainTargets, each_method_shapes_the_ramp) {
  // Halfway through a ramp from 1 to 0 over 0.5 .. 0.75 s.
  struct Case {
    const char *method;
    float mid;
  } cases[] = {
      {"linear", 0.5f},
      {"sin", 1 - std::sin(3.1415927f / 4)},
      {"cos", std::cos(3.1415927f / 4)},
  };
  for (const Case &c : cases) {
    std::unique_ptr<EST_Utterance> u(segmentsEndingAt(2.0f));
    add_gain_targets(u.get(), 0.5f, 0.75f, 1.0f, 0.0f, 0.125f, c.method);
    std::vector<std::pair<float, float>> g = gains(u.get());
    ASSERT_EQ(g.size(), 4u) << c.method;
    EXPECT_FLOAT_EQ(g[1].second, 1.0f) << c.method;
    EXPECT_NEAR(g[2].second, c.mid, 1e-6) << c.method;
  }
}

TEST(GainTargets, a_range_before_earlier_targets_goes_in_time_order) {
  std::unique_ptr<EST_Utterance> u(segmentsEndingAt(2.0f));
  add_gain_targets(u.get(), 1.0f, 1.25f, 1.0f, 0.5f, 0.125f, "linear");
  add_gain_targets(u.get(), 0.5f, 0.75f, 1.0f, 0.0f, 0.125f, "linear");
  std::vector<std::pair<float, float>> want = {{0, 1},         {0.5f, 1},  {0.625f, 0.5f}, {1.0f, 1},
                                               {1.125f, 0.75f}, {2.0f, 1}};
  EXPECT_EQ(gains(u.get()), want);
}

TEST(GainTargets, single_precision_steps_make_a_sixth_target) {
  std::unique_ptr<EST_Utterance> u(segmentsEndingAt(2.0f));
  add_gain_targets(u.get(), 0.5f, 0.6f, 1.0f, 0.0f, 0.02f, "cos");
  EXPECT_EQ(gains(u.get()).size(), 2u + 6u);
}

TEST(GainTargets, bad_method_or_step_is_an_error) {
  std::unique_ptr<EST_Utterance> u(segmentsEndingAt(2.0f));
  add_gain_targets(u.get(), 0.5f, 0.75f, 1.0f, 0.0f, 0.125f, "linear");
  EXPECT_THROW(add_gain_targets(u.get(), 0.5f, 0.75f, 1.0f, 0.0f, 0.1f, "cubic"), VekError);
  EXPECT_EQ(gains(u.get()).size(), 2u);  // removed before the method was checked
  EXPECT_THROW(add_gain_targets(u.get(), 0.5f, 0.75f, 1.0f, 0.0f, 0.0f, "sin"), VekError);
  EST_Utterance empty;
  EXPECT_THROW(add_gain_targets(&empty, 0, 1, 1, 1, 0.1f, "sin"), VekError);
}

TEST(GainTargets, gain_at_a_segment_takes_first_or_last_target_inside) {
  std::unique_ptr<EST_Utterance> u(segmentsEndingAt(2.0f));
  add_gain_targets(u.get(), 0.5f, 0.75f, 1.0f, 0.0f, 0.125f, "linear");
  EST_Relation *seg = u->relation("Segment");
  EST_Item *s = seg->head();  // 0 .. 1.0
  s->set("start", 0.4f);
  s->set("end", 0.7f);
  EXPECT_FLOAT_EQ(resLPC_gain_at(u.get(), s, 0), 1.0f);
  EXPECT_FLOAT_EQ(resLPC_gain_at(u.get(), s, 1), 0.5f);
  EXPECT_FLOAT_EQ(resLPC_gain_at(u.get(), nullptr, 1), 1.0f);
  EST_Utterance none;
  EXPECT_FLOAT_EQ(resLPC_gain_at(&none, s, 1), 1.0f);
}

TEST(Common, utt_set_wave_makes_a_fresh_wave_relation) {
  EST_Utterance u;
  EST_Relation *old = u.create_relation("Wave");
  old->append()->set("stale", 1);
  old->append();
  EST_Wave *w = new EST_Wave(10, 1, 16000);
  utt_set_wave(&u, w);
  EST_Relation *r = u.relation("Wave");
  ASSERT_NE(r->head(), nullptr);
  EXPECT_EQ(inext(r->head()), nullptr);
  EXPECT_FALSE(r->head()->f_present("stale"));
  EXPECT_EQ(wave(r->head()->f("wave")), w);
  EXPECT_EQ(Vek_uttWave(&u, "test"), w);
}

// ------------------------------------------------- Lisp without a catcher

TEST(Binding, tcl_eval_error_without_catcher_returns_instead_of_exiting) {
  Tcl_Interp *interp = Tcl_CreateInterp();
  set_tcl_interp(interp);
  festival_initialize(0, -1);
  jmp_buf *oldJmp = est_errjmp;
  long oldOk = errjmp_ok;
  est_errjmp = nullptr;
  errjmp_ok = 0;
  LISP r = leval(read_from_string("(tcl_eval \"error boom\")"), NIL);
  EXPECT_EQ(r, NIL);
  LISP ok = leval(read_from_string("(tcl_eval \"set x 5\")"), NIL);
  EXPECT_STREQ(get_c_string(ok), "5");
  est_errjmp = oldJmp;
  errjmp_ok = oldOk;
}
