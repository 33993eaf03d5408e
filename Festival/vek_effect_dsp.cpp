// Output effects on sample vectors.
#include "vek_effect_dsp.h"

#include <algorithm>
#include <cmath>

// How many delays it takes a feedback factor to decay to 1 %; 1 when the
// factor would never decay.
static double ringFactor(double g) {
  if (!(g > 0 && g < 1)) return 1;
  return std::max(1.0, std::log(0.01) / std::log(g) + 1);
}

long Vekeffect_extended_length(const VekEffectSettings &s, long n) {
  double base = n + s.slap_dtime + ringFactor(s.echo_feedback) * s.echo_dtime;
  long r = 0;
  if (!s.taps.empty()) {
    size_t k = 0;
    for (size_t j = 0; j < s.taps.size(); ++j)
      if (s.taps[j].delay > 0 && s.taps[j].delay > s.taps[k].delay) k = j;
    if (s.taps[k].delay <= 0) k = 0;
    r = (long)(ringFactor(s.taps[k].gain) * s.taps[k].delay);
  }
  return (long)base + r;
}

bool Vekeffect_reverb(const VekEffectSettings &s, std::vector<short> &x) {
  long n = (long)x.size();
  std::vector<float> state(s.taps.size(), 0.0f);
  bool over = false;
  for (long i = 0; i < n; ++i) {
    float sum = 0;
    for (size_t j = 0; j < s.taps.size(); ++j) {
      const VekReverbTap &t = s.taps[j];
      long k = i - t.delay;
      if (k >= 1 && k < n) {
        // x[k] is already processed, so the taps feed back.
        state[j] = t.gain * (1 - t.coef) * x[k] + t.coef * state[j];
        sum += state[j];
      }
    }
    if (std::fabs(sum) > 32767) over = true;
    x[i] = Vek_clip16(x[i] + sum);
  }
  return over;
}

void Vekeffect_echo(const VekEffectSettings &s, std::vector<short> &x) {
  long n = (long)x.size();
  for (long i = 0; i < n; ++i) {
    long k = i - s.echo_dtime;
    if (k >= 1 && k < n) x[i] = Vek_clip16((double)x[i] + std::trunc(s.echo_feedback * x[k]));
  }
}

void Vekeffect_slapback(const VekEffectSettings &s, std::vector<short> &x) {
  std::vector<short> dry(x);
  long n = (long)x.size();
  for (long i = 0; i < n; ++i) {
    long k = i - s.slap_dtime;
    if (k >= 1 && k < n) x[i] = Vek_clip16((double)x[i] + std::trunc(s.slap_feedback * dry[k]));
  }
}
