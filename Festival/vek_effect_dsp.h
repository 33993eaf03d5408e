// Output effects on 16-bit samples: reverb taps, feedback echo, slapback and
// the tail that lets them ring out. Every sum is clipped to -32767..32767;
// nothing wraps around.
#pragma once

#include <vector>

struct VekReverbTap {
  int delay;    // samples
  float gain;
  float coef;   // low-pass coefficient of the tap's feedback
};

struct VekEffectSettings {
  float pre_gain = 1.0f;
  float post_gain = 1.0f;
  std::vector<VekReverbTap> taps;
  int echo_dtime = 0;
  float echo_feedback = 0.0f;
  int slap_dtime = 0;
  float slap_feedback = 0.0f;
  std::vector<int> order;  // 1 reverb, 2 echo, 3 slapback
};

// The length a wave of n samples is given before the effects run.
long Vekeffect_extended_length(const VekEffectSettings &s, long n);

// Each works in place on one channel. Returns whether any reverb sum
// exceeded the 16-bit range.
bool Vekeffect_reverb(const VekEffectSettings &s, std::vector<short> &x);
void Vekeffect_echo(const VekEffectSettings &s, std::vector<short> &x);
void Vekeffect_slapback(const VekEffectSettings &s, std::vector<short> &x);

// Clips to the range the synthesis modules write, then truncates toward 0.
inline short Vek_clip16(double y) {
  if (y >= 32767) return 32767;
  if (y <= -32767) return -32767;
  return (short)y;
}
