// Pitch-synchronous LPC analysis of recordings: frames at the pitch marks,
// their energies, and the LPC residual that later excites the synthesis.
//
// Callers rely on: every length comes from the signal and the marks, so no
// buffer is sized from a setting; marks outside the recording or out of
// order, a non-positive order or frame length, and a recording shorter than
// two samples throw VekError. A silent residual is written as zeros.
#pragma once

#include <string>
#include <vector>

class EST_Wave;
class EST_Track;

struct VekLpcAnlSettings {
  int lpc_order = 16;
  double pre_emphasis = 0.96;
  double frame_len = 3.0;      // analysis window, in local pitch periods
  int window = 0;              // 0 trapezoid, 1 triangle
  double bw_expansion = 0;     // > 0: multiply coefficient k by this to the k
  bool deemph_residual = false;
  double T0_UV_thresh = 0.02;  // longest voiced period, seconds
  double T0_UV_pm = 0.01;      // mark spacing where unvoiced, seconds
};

// Overlap-add windows over a period buffer of `end` samples with its mark:
// 0 trapezoid, 1 triangle; throws on any other type.
std::vector<double> resLPC_make_window(int type, int mark, int end);

// Marks (seconds) with their unvoiced stretches filled every T0_UV_pm: a
// mark whose period reaches T0_UV_thresh ends a voiced run.
std::vector<double> resLPC_set_voicing(const std::vector<double> &marks, double total_seconds,
                                       double thresh, double step);

// LPC track at the marks: channel 0 the frame's log energy, 1..p the
// coefficients of A(z) = 1 + sum c_k z^-k. The speech is pre-emphasised in
// place.
void lpc_anl_frames(EST_Wave &speech, const std::vector<double> &marks, const VekLpcAnlSettings &s,
                    EST_Track &lpc);
// Log energies of the pitch periods around each mark.
std::vector<double> lpc_anl_energies(const EST_Wave &speech, const std::vector<double> &marks, int window);
// The residual up to the last mark, peaking at 32767.
void lpc_anl_residual(const EST_Wave &speech, const EST_Track &lpc, const VekLpcAnlSettings &s,
                      EST_Wave &residual);
// The whole analysis of one recording: frames (reconstructed through LSF)
// and residual.
void lpc_analyse(EST_Wave &speech, const std::vector<double> &marks, const VekLpcAnlSettings &s,
                 EST_Track &lpc, EST_Wave &residual);
