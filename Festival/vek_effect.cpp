// Module "Vekeffect": gains, reverb, echo and slapback on the synthesised
// wave, configured once with Vekeffect.init.
#include <cmath>
#include <memory>
#include <string>

#include "EST_wave_aux.h"
#include "siod.h"
#include "vek_effect_dsp.h"
#include "vek_lisp.h"

// Absent until the first Vekeffect.init; each init replaces it whole.
static std::unique_ptr<VekEffectSettings> g_settings;

static int tapInt(LISP v, const char *what) {
  double d = Vek_argNumber(v, "Vekeffect.init", what);
  if (!(d >= 0 && d <= 1e8)) Vek_fail("Vekeffect.init: %s must be a delay of 0 or more samples", what);
  return (int)d;
}

static void parseOrder(VekEffectSettings &s, LISP l) {
  for (; l != NIL; l = CDR(l)) {
    if (!CONSP(l)) Vek_fail("Vekeffect.init: effect_order must be a list");
    std::string name = Vek_argText(CAR(l), "Vekeffect.init", "effect name");
    if (name == "reverb")
      s.order.push_back(1);
    else if (name == "echo")
      s.order.push_back(2);
    else if (name == "slapback")
      s.order.push_back(3);
    else
      fprintf(stderr, "Vekeffect:  don't know effect \"%s\"  (skipping) \n", name.c_str());
  }
}

static void parseReverb(VekEffectSettings &s, LISP l) {
  for (; l != NIL; l = CDR(l)) {
    if (!CONSP(l)) Vek_fail("Vekeffect.init: reverb must be a list of taps");
    LISP tap = CAR(l);
    if (Vek_listLength(tap) != 3) Vek_fail("Vekeffect.init: a reverb tap must be (DELAY GAIN COEFFICIENT)");
    VekReverbTap t;
    t.delay = tapInt(CAR(tap), "reverb DELAY");
    t.gain = Vek_argNumber(CAR(CDR(tap)), "Vekeffect.init", "reverb GAIN");
    t.coef = Vek_argNumber(CAR(CDR(CDR(tap))), "Vekeffect.init", "reverb COEFFICIENT");
    s.taps.push_back(t);
  }
}

static void parseDelay(LISP params, int &dtime, float &feedback, const char *what) {
  double d = Vek_paramNumber(params, "dtime", 0, "Vekeffect.init");
  if (!(d >= 0 && d <= 1e8)) Vek_fail("Vekeffect.init: %s dtime must be 0 or more samples", what);
  dtime = (int)d;
  feedback = Vek_paramNumber(params, "feedback", 0, "Vekeffect.init");
}

// (Vekeffect.init PARAMS): replaces the effect settings by those in PARAMS:
// effect_order, reverb, echo, slapback, post_gain, pre_gain. Effects not
// named are off.
static LISP VekeffectInit(LISP params) {
  if (params != NIL && !CONSP(params)) Vek_fail("Vekeffect.init: PARAMS must be an association list");
  // Parse everything first, so a bad value leaves the old settings in force.
  auto s = std::make_unique<VekEffectSettings>();
  parseOrder(*s, Vek_paramLisp(params, "effect_order"));
  parseReverb(*s, Vek_paramLisp(params, "reverb"));
  parseDelay(Vek_paramLisp(params, "echo"), s->echo_dtime, s->echo_feedback, "echo");
  parseDelay(Vek_paramLisp(params, "slapback"), s->slap_dtime, s->slap_feedback, "slapback");
  s->post_gain = Vek_paramNumber(params, "post_gain", 1.0, "Vekeffect.init");
  s->pre_gain = Vek_paramNumber(params, "pre_gain", 1.0, "Vekeffect.init");
  g_settings = std::move(s);
  return NIL;
}

static std::vector<short> channelOf(const EST_Wave &w, int c) {
  std::vector<short> x(w.num_samples());
  for (int i = 0; i < w.num_samples(); ++i) x[i] = w.a_no_check(i, c);
  return x;
}

static void setChannel(EST_Wave &w, int c, const std::vector<short> &x) {
  for (int i = 0; i < w.num_samples(); ++i) w.a_no_check(i, c) = x[i];
}

// Grows w to n samples; the new samples are silence.
static void extendWave(EST_Wave &w, long n) {
  int old = w.num_samples();
  if (n > 0x7fffffffL) Vek_fail("Vekeffect: the effect tail would make the wave too long");
  if (n <= old) return;
  w.resize((int)n, EST_ALL, 1);
  for (int c = 0; c < w.num_channels(); ++c)
    for (int i = old; i < (int)n; ++i) w.a_no_check(i, c) = 0;
}

// Scales every sample, clipping to -32767..32767 like the effects themselves
// (the speech tools' own rescale stops at 32766).
static void rescale(EST_Wave &w, float gain) {
  if (gain == 1.0f) return;
  for (int c = 0; c < w.num_channels(); ++c)
    for (int i = 0; i < w.num_samples(); ++i) w.a_no_check(i, c) = Vek_clip16(gain * w.a_no_check(i, c));
}

static void Vekeffect_apply(EST_Wave &w) {
  if (!g_settings) return;
  const VekEffectSettings &s = *g_settings;
  rescale(w, s.pre_gain);
  extendWave(w, Vekeffect_extended_length(s, w.num_samples()));
  for (int c = 0; c < w.num_channels(); ++c) {
    std::vector<short> x = channelOf(w, c);
    for (int e : s.order) {
      if (e == 1)
        Vekeffect_reverb(s, x);
      else if (e == 2)
        Vekeffect_echo(s, x);
      else
        Vekeffect_slapback(s, x);
    }
    setChannel(w, c, x);
  }
  rescale(w, s.post_gain);
}

// (Vekeffect UTT): applies the configured effects to UTT's wave in place.
static LISP Vekeffect(LISP utt) {
  EST_Wave *w = Vek_uttWave(Vek_argUtt(utt, "Vekeffect"), "Vekeffect");
  Vekeffect_apply(*w);
  return utt;
}

// (Test.Utt UTT): makes UTT's wave five times as long, the rest silence.
static LISP TestUtt(LISP utt) {
  EST_Wave *w = Vek_uttWave(Vek_argUtt(utt, "Test.Utt"), "Test.Utt");
  long n = w->num_samples();
  printf("Test.Utt: wave of %ld samples at %d Hz\n", n, w->sample_rate());
  extendWave(*w, 5 * n);
  printf("Test.Utt: extended to %d samples\n", w->num_samples());
  fflush(stdout);
  return utt;
}

void Vekeffect_module_init() {
  proclaim_module("Vekeffect");
  init_subr_1("Test.Utt", Vek_wrap1<TestUtt>, "(Test.Utt UTT)");
  init_subr_1("Vekeffect", Vek_wrap1<Vekeffect>,
              "(Vekeffect UTT) \nRoutine for adding various effects like reverb, etc. to Wave output. \n"
              "Requires Wave relation.  Initialize with Vekeffect.init.");
  init_subr_1("Vekeffect.init", Vek_wrap1<VekeffectInit>,
              "(Vekeffect.init PARAMS)\n   Initialize effects. \n"
              "   PARAMS is an assoc list of parameter name and value.");
}
