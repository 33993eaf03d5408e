// Module VekresLPC: the analysis that builds a residual-LPC voice from
// recordings, pitch marks from laryngograph signals and LPC frames with
// their residual at those marks. Each Lisp function is a thin wrapper: the
// work throws VekError and the wrapper hands the message to the Lisp error
// path.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "EST_Track.h"
#include "EST_Wave.h"
#include "festival.h"
#include "siod.h"
#include "vek_filter.h"
#include "vek_lisp.h"
#include "vek_lpcanl.h"
#include "vek_lsf.h"
#include "vek_pmark.h"

namespace {

// The recording's stem: backslashes count as "/", the base name up to its
// last dot. A name without a dot keeps its whole base name, so that
// outputs of such names do not all collide on the bare extension.
std::string stem_of(const std::string &name) {
  std::string n = name;
  std::replace(n.begin(), n.end(), '\\', '/');
  size_t slash = n.rfind('/');
  if (slash != std::string::npos) n = n.substr(slash + 1);
  size_t dot = n.rfind('.');
  return dot == std::string::npos ? n : n.substr(0, dot);
}

double required(LISP params, const char *name, const char *fn) {
  double v = Vek_paramNumber(params, name, NAN, fn);
  if (std::isnan(v)) Vek_fail("%s: parameter %s is missing", fn, name);
  return v;
}

void filter_param(LISP params, const char *name, std::vector<double> &num, std::vector<double> &den,
                  const char *fn) {
  LISP v = Vek_paramLisp(params, name);
  if (v == NIL) Vek_fail("%s: parameter %s (NUM DEN) is missing", fn, name);
  try {
    lisp_to_filter_coefs(v, num, den);
  } catch (const VekError &e) {
    Vek_fail("%s: parameter %s: %s", fn, name, e.what());
  }
}

std::vector<std::string> file_list(LISP params, const char *fn) {
  LISP l = Vek_paramLisp(params, "infile_list");
  if (l == NIL) Vek_fail("VekresLPC pmark analysis:  infile_list empty - no input files to process");
  if (Vek_listLength(l) < 0) Vek_fail("%s: infile_list is not a list", fn);
  std::vector<std::string> out;
  for (LISP p = l; p != NIL; p = cdr(p)) out.push_back(Vek_argText(car(p), fn, "infile_list"));
  return out;
}

bool load_wave(EST_Wave &w, const std::string &file, const char *what) {
  if (w.load(file.c_str(), 0, 0, 16000) != read_ok || w.num_samples() == 0) {
    printf("Could not load %s file %s  ... skipping.\n", what, file.c_str());
    return false;
  }
  if (w.num_channels() != 1) {
    printf("Could not load %s file %s (%d channels)  ... skipping.\n", what, file.c_str(), w.num_channels());
    return false;
  }
  return true;
}

std::vector<double> wave_doubles(const EST_Wave &w) {
  std::vector<double> x(w.num_samples());
  for (int i = 0; i < w.num_samples(); i++) x[i] = w.a_no_check(i);
  return x;
}

// Shifts the marks (seconds) by the delay that best lines them up with the
// speech's LPC residual.
void speech_shift(EST_Wave speech, std::vector<double> &marks, LISP params, const VekPmarkSettings &ps,
                  bool progress, bool print_shifts, const char *fn) {
  double R = speech.sample_rate(), len = double(speech.num_samples()) / R;
  if (marks.size() < 2) return;
  VekLpcAnlSettings ls;
  ls.lpc_order = (int)required(params, "lpc_order", fn);
  if (ls.lpc_order < 2 || ls.lpc_order % 2 || ls.lpc_order > 98)
    Vek_fail("%s: lpc_order %d is not an even number in 2 .. 98", fn, ls.lpc_order);
  ls.pre_emphasis = 0.96;
  ls.frame_len = 3.0;
  ls.window = 0;
  ls.T0_UV_thresh = ps.F0_range_factor / ps.guess_F0;
  ls.T0_UV_pm = 0.01;
  std::vector<double> filled = resLPC_set_voicing(marks, len, ls.T0_UV_thresh, ls.T0_UV_pm);
  while (!filled.empty() && filled.back() > len) filled.pop_back();
  EST_Track lpc;
  EST_Wave res;
  lpc_anl_frames(speech, filled, ls, lpc);
  lpc_anl_residual(speech, lpc, ls, res);
  int range = (int)required(params, "shift_search_range", fn);
  int guess = (int)required(params, "shift_guess", fn);
  if (range < 0) Vek_fail("%s: shift_search_range %d is negative", fn, range);
  int best = guess;
  double bestv = -1;
  for (int j = -range; j <= range; j++) {
    int s = j + guess;
    double sum = 0;
    for (double t : marks) {
      long pos = s + (long)(R * t);
      if (pos > 0 && pos < res.num_samples()) sum += res.a_no_check((int)pos);
    }
    if (fabs(sum) > bestv) {
      bestv = fabs(sum);
      best = s;
    }
  }
  if (progress) printf("\tbest shift = %d samples \n", best);
  if (print_shifts) printf("%d\n", best);
  std::vector<double> kept;
  for (double t : marks) {
    double u = t + best / R;
    long idx = (long)(u * R);
    if (idx >= 0 && idx <= speech.num_samples()) kept.push_back(u);
  }
  marks = kept;
}

void save_marks(const std::vector<double> &marks, const std::string &file, const char *fn) {
  EST_Track t;
  t.resize((int)marks.size(), 0);
  for (size_t i = 0; i < marks.size(); i++) t.t((int)i) = (float)marks[i];
  if (t.save(file.c_str(), "est") != write_ok) Vek_fail("%s: cannot write %s", fn, file.c_str());
}

// (VekresLPC.pmark_analysis PARAMS)
LISP pmarkAnalysis(LISP params) {
  const char *fn = "VekresLPC.pmark_analysis";
  std::vector<std::string> files = file_list(params, fn);
  std::string lx_path = Vek_paramText(params, "lx_path", ".", fn), sp_path = Vek_paramText(params, "sp_path", ".", fn),
              out_path = Vek_paramText(params, "out_path", ".", fn), lx_ext = Vek_paramText(params, "lx_ext", ".lar", fn),
              sp_ext = Vek_paramText(params, "sp_ext", ".wav", fn), out_ext = Vek_paramText(params, "out_ext", ".pmv", fn);
  VekPmarkSettings s;
  s.lx_sign = Vek_paramText(params, "lx_sign", "up_is_closed_glottis", fn);
  s.guess_F0 = required(params, "guess_F0", fn);
  s.F0_range_factor = required(params, "F0_range_factor", fn);
  s.dlx_search_factor = required(params, "dlx_search_factor", fn);
  s.Vbias = required(params, "Vbias", fn);
  s.xcorr_winsz_msec = Vek_paramNumber(params, "xcorr_winsz_msec", -1, fn);
  s.xcorr_max_range = (int)Vek_paramNumber(params, "xcorr_max_range", 3, fn);
  if (s.xcorr_max_range < 1) Vek_fail("%s: xcorr_max_range must be 1 or more", fn);
  if (!(s.guess_F0 > 0)) Vek_fail("%s: guess_F0 must be above 0, not %g", fn, s.guess_F0);
  std::vector<double> diff_den;
  filter_param(params, "pre_filt1", s.pre_num, s.pre_den, fn);
  filter_param(params, "vuv_filt", s.vuv_num, s.vuv_den, fn);
  filter_param(params, "diff_filt", s.diff, diff_den, fn);
  double down = Vek_paramNumber(params, "downsample_factor", 0, fn);
  bool progress = Vek_paramNumber(params, "run_quietly", 1, fn) == 0;
  bool print_shifts = Vek_paramNumber(params, "print_shifts", 0, fn) != 0;
  for (const std::string &name : files) {
    std::string st = stem_of(name);
    std::string lxf = lx_path + st + lx_ext, spf = sp_path + st + sp_ext, outf = out_path + st + out_ext;
    if (progress) printf(" loading %s --> output to %s\n", lxf.c_str(), outf.c_str());
    if (print_shifts) {
      size_t u = st.find('_');
      printf("%s\t", u == std::string::npos ? "" : st.substr(u + 1).c_str());
    }
    EST_Wave lx, sp;
    if (!load_wave(lx, lxf, "lx") || !load_wave(sp, spf, "speech")) continue;
    if (down > 0) lx.resample((int)(lx.sample_rate() / down));
    double R = lx.sample_rate();
    std::vector<long> idx = pmark_analyse_lx(wave_doubles(lx), R, s);
    std::vector<double> marks;
    for (long i : idx) marks.push_back(i / R);
    speech_shift(sp, marks, params, s, progress, print_shifts, fn);
    save_marks(marks, outf, fn);
  }
  return NIL;
}

// (VekresLPC.lpc_analysis PARAMS)
LISP lpcAnalysis(LISP params) {
  const char *fn = "VekresLPC.lpc_analysis";
  std::vector<std::string> files = file_list(params, fn);
  std::string pm_path = Vek_paramText(params, "pm_path", ".", fn), sp_path = Vek_paramText(params, "sp_path", ".", fn),
              out_path = Vek_paramText(params, "out_path", ".", fn), pm_ext = Vek_paramText(params, "pm_ext", ".pmv", fn),
              sp_ext = Vek_paramText(params, "sp_ext", ".wav", fn), res_ext = Vek_paramText(params, "res_ext", ".res", fn),
              lpc_ext = Vek_paramText(params, "lpc_ext", ".lpc", fn),
              res_format = Vek_paramText(params, "res_format", "nist", fn),
              lpc_format = Vek_paramText(params, "lpc_format", "lsf", fn),
              window = Vek_paramText(params, "ola_window_type", "trapezoid", fn);
  VekLpcAnlSettings s;
  s.lpc_order = (int)required(params, "lpc_order", fn);
  s.pre_emphasis = required(params, "pre_emphasis", fn);
  s.frame_len = required(params, "lpc_anl_frame_len", fn);
  s.T0_UV_thresh = required(params, "T0_UV_thresh", fn);
  s.T0_UV_pm = required(params, "T0_UV_pm", fn);
  if (!(s.T0_UV_pm > 0)) Vek_fail("%s: T0_UV_pm must be above 0, not %g", fn, s.T0_UV_pm);
  if (s.lpc_order < 2 || s.lpc_order % 2 || s.lpc_order > 98)
    Vek_fail("%s: lpc_order %d is not an even number in 2 .. 98", fn, s.lpc_order);
  if (!(s.frame_len > 0)) Vek_fail("%s: lpc_anl_frame_len must be above 0, not %g", fn, s.frame_len);
  bool progress = required(params, "run_quietly", fn) == 0;
  required(params, "dump_intermediate_files", fn);
  s.bw_expansion = Vek_paramNumber(params, "bw_expansion", 0, fn);
  s.deemph_residual = Vek_paramNumber(params, "deemph_residual", 0, fn) != 0;
  if (window == "triangle" || window.empty()) s.window = 1;
  else if (window == "trapezoid") s.window = 0;
  else Vek_fail("%s: unknown window type %s", fn, window.c_str());
  std::string lf = lpc_format;
  std::transform(lf.begin(), lf.end(), lf.begin(), ::tolower);
  for (const std::string &name : files) {
    std::string st = stem_of(name);
    std::string pmf = pm_path + st + pm_ext, spf = sp_path + st + sp_ext, resf = out_path + st + res_ext,
                lpcf = out_path + st + lpc_ext;
    if (progress) printf(" loading %s --> output to %s  %s\n", pmf.c_str(), resf.c_str(), lpcf.c_str());
    EST_Track pm;
    if (pm.load(pmf.c_str()) != read_ok) {
      printf("Could not load pm file %s  ... skipping.\n", pmf.c_str());
      continue;
    }
    EST_Wave sp;
    if (!load_wave(sp, spf, "speech")) continue;
    std::vector<double> marks;
    for (int i = 0; i < pm.num_frames(); i++) marks.push_back(pm.t(i));
    EST_Track lpc;
    EST_Wave res;
    lpc_analyse(sp, marks, s, lpc, res);
    if (res.save(resf.c_str(), res_format.c_str()) != write_ok) Vek_fail("%s: cannot write %s", fn, resf.c_str());
    EST_Track out;
    if (lf == "lsf") lpc_track_to_lsf(lpc, out);
    else out = lpc;
    if (out.save(lpcf.c_str(), "est") != write_ok) Vek_fail("%s: cannot write %s", fn, lpcf.c_str());
  }
  return NIL;
}

}  // namespace

void VekresLPC_register_synthesis();

void VekresLPC_module_init() {
  proclaim_module("VekresLPC");
  VekresLPC_register_synthesis();
  init_subr_1("VekresLPC.pmark_analysis", Vek_wrap1<pmarkAnalysis>,
              "(VekresLPC.pmark_analysis PARAMS)\n   Do urvane analysis on speech/laryngograph files to build an "
              "VekresLPC database. \n   PARAMS is an assoc list of parameter name and value.");
  init_subr_1("VekresLPC.lpc_analysis", Vek_wrap1<lpcAnalysis>,
              "(VekresLPC.lpc_analysis PARAMS)\n   Do LPC analysis on speech files to build an VekresLPC "
              "database. \n   PARAMS is an assoc list of parameter name and value.");
}
