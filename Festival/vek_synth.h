// Residual-excited LPC synthesis from a unit database: concatenation of the
// selected units, prosody modification onto target pitch marks, and the
// pitch-synchronous overlap-add loop.
//
// Callers rely on: every failure throws VekError (the Lisp wrappers turn it
// into a Lisp error) and leaves the utterance without a new wave; output
// samples are clipped to -32767 .. 32767; every mark step is at least one
// sample and target F0 is kept within 20 .. 1000 Hz, so no input makes the
// mark walk endless.
#pragma once

#include <string>
#include <vector>

#include "EST_Features.h"
#include "vek_timewarp.h"
#include "vek_track.h"
#include "vek_wavechunk.h"

class EST_Utterance;

struct VekresLPC_src {
  Vek_CachedTrack pm, lsf;
  Vek_WaveChunk store;
  std::vector<int> vstart, vend;
  float rate = 16000;
};

struct VekresLPC_targ {
  Vek_CachedTrack map;
  Vek_MapTrack f0;
  Vek_TimeWarp warp;
};

struct resLPC_outbuf {
  std::vector<short> samples;
  int incr = 1;
  int used = 0;
};

// The process-wide parameter set; made empty when there is none.
EST_Features &resLPC_params();
bool resLPC_params_exist();
void resLPC_new_params();

void resLPC_concat_units(EST_Utterance *utt, VekresLPC_src &src);
void resLPC_keep_prosody(EST_Utterance *utt, VekresLPC_src &src, VekresLPC_targ &targ);
void resLPC_modify_prosody(EST_Utterance *utt, VekresLPC_src &src, VekresLPC_targ &targ);
void resLPC_synthesize(VekresLPC_src &src, VekresLPC_targ &targ, resLPC_outbuf &out);
void resLPC_synthesize_exc(VekresLPC_src &src, VekresLPC_targ &targ, resLPC_outbuf &out);
// Appends with clipping; returns whether anything was clipped.
// Writes what the dump parameter names.
void resLPC_dump(EST_Utterance *utt, VekresLPC_src &src, VekresLPC_targ &targ, resLPC_outbuf &out);
// One recording as the whole source, re-spoken with the utterance's prosody.
// Answers the recording's sample rate.
float resLPC_resynth(EST_Utterance *utt, const std::string &wav, const std::string &pm, const std::string &lsf,
                     resLPC_outbuf &out);
bool resLPC_outbuf_add(resLPC_outbuf &out, const double *x, int count);
int resLPC_window_type(const std::string &name);
// Regular marks every step in the unvoiced stretches of a pitch-mark track
// with a "v/uv" channel; voiced runs into starts/ends.
void resLPC_voicing_by_T0(Vek_CachedTrack &pm, std::vector<int> &starts, std::vector<int> &ends, int total,
                          float rate, float thresh);
void resLPC_fill_unvoiced(Vek_CachedTrack &pm, std::vector<int> &starts, std::vector<int> &ends, int total,
                          float rate, float step, bool set_flag);
void resLPC_add_voicing_channels(EST_Track &pm);
