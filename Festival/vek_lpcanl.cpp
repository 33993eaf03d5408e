#include "vek_lpcanl.h"

#include <algorithm>
#include <cmath>

#include "EST_Track.h"
#include "EST_Wave.h"
#include "EST_Option.h"
#include "sigpr/EST_Window.h"
#include "sigpr/EST_filter.h"
#include "sigpr/EST_sigpr_utt.h"
#include "vek_effect_dsp.h"
#include "vek_filter.h"
#include "vek_lisp.h"
#include "vek_lsf.h"
#include "vek_wavechunk.h"

std::vector<double> resLPC_make_window(int type, int M, int E) {
  std::vector<double> G(std::max(E, 0), 0.0);
  if (type == 1) {
    for (int i = 0; i < M && i < E; i++) G[i] = double(i) / M;
    for (int i = std::max(M, 0); i < E; i++) G[i] = 1 - double(i - M) / (E - M);
  } else if (type == 0) {
    int h = M / 2;
    for (int k = 0; k < h; k++)
      if (M - h + k >= 0 && M - h + k < E) G[M - h + k] = double(k) / h;
    int r = (E - M) / 2;
    for (int i = std::max(M, 0); i < E - r; i++) G[i] = 1;
    for (int k = 0; k < r; k++) G[E - r + k] = 1 - double(k) / r;
  } else {
    Vek_fail("unknown window type\n");
  }
  return G;
}

std::vector<double> resLPC_set_voicing(const std::vector<double> &t, double total, double thr, double step) {
  if (!(step > 0)) Vek_fail("resLPC_set_voicing: T0_UV_pm must be above 0, not %g", step);
  int n = (int)t.size();
  double tol = 0.4 * step;
  std::vector<double> out;
  auto fill = [&](int a, int b) {
    double x = a < 0 ? 0 : t[a] + step, h = b < n ? t[b] - tol : total;
    for (int i = a + 1; i < b; i++) {
      while (t[i] - tol > x) {
        out.push_back(x);
        x += step;
      }
      out.push_back(t[i]);
      x = t[i] + step;
    }
    while (x < h) {
      out.push_back(x);
      x += step;
    }
  };
  // Voiced runs: a run ends at the first mark whose period is unvoiced.
  std::vector<std::pair<int, int>> runs;
  if (n >= 2) {
    bool open = false;
    int start = 0;
    for (int i = 0; i < n; i++) {
      double period = i + 1 < n ? t[i + 1] - t[i] : total - t[i];
      bool voiced = period < thr;
      if (voiced && !open) {
        start = i;
        open = true;
      } else if (!voiced && open) {
        runs.push_back({start, i});
        open = false;
      }
    }
    if (open) runs.push_back({start, n - 1});
  }
  if (runs.empty()) {
    fill(-1, 0);
    for (int i = 0; i < n; i++) out.push_back(t[i]);
    return out;
  }
  fill(-1, runs[0].first);
  for (size_t k = 0; k < runs.size(); k++) {
    for (int i = runs[k].first; i <= runs[k].second; i++) out.push_back(t[i]);
    fill(runs[k].second, k + 1 < runs.size() ? runs[k + 1].first : n);
  }
  return out;
}

static void check_marks(const std::vector<double> &marks, const EST_Wave &speech, const char *fn) {
  if (speech.num_samples() < 2) Vek_fail("%s: the recording is empty", fn);
  if (speech.num_channels() != 1) Vek_fail("%s: the recording has %d channels, not one", fn, speech.num_channels());
  if (marks.size() < 2) Vek_fail("%s: %zu pitch marks, two or more are needed", fn, marks.size());
  double len = double(speech.num_samples()) / speech.sample_rate();
  for (size_t i = 0; i < marks.size(); i++) {
    if (!(marks[i] >= 0 && marks[i] <= len)) Vek_fail("%s: pitch mark %g s lies outside the recording", fn, marks[i]);
    if (i && !(marks[i] > marks[i - 1])) Vek_fail("%s: pitch marks %g and %g are not increasing", fn, marks[i - 1], marks[i]);
  }
}

void lpc_anl_frames(EST_Wave &speech, const std::vector<double> &marks, const VekLpcAnlSettings &s,
                    EST_Track &lpc) {
  check_marks(marks, speech, "lpc_analysis");
  if (s.lpc_order < 2 || s.lpc_order % 2 || s.lpc_order > 98)
    Vek_fail("lpc_analysis: lpc_order %d is not an even number in 2 .. 98", s.lpc_order);
  if (!(s.frame_len > 0)) Vek_fail("lpc_analysis: lpc_anl_frame_len must be above 0, not %g", s.frame_len);
  pre_emphasis(speech, (float)s.pre_emphasis);
  lpc.resize((int)marks.size(), s.lpc_order + 1);
  for (size_t i = 0; i < marks.size(); i++) lpc.t((int)i) = (float)marks[i];
  sig2coef(speech, lpc, "lpc", (float)s.frame_len, EST_Window::creator("hamming"));
  for (int i = 0; i < lpc.num_frames(); i++) {
    lpc.a_no_check(i, 0) = 1;
    for (int k = 1; k <= s.lpc_order; k++) lpc.a_no_check(i, k) = -lpc.a_no_check(i, k);
  }
}

std::vector<double> lpc_anl_energies(const EST_Wave &speech, const std::vector<double> &marks, int window) {
  check_marks(marks, speech, "lpc_analysis");
  double R = speech.sample_rate();
  int N = speech.num_samples();
  double Tmax = 0;
  for (size_t i = 1; i < marks.size(); i++) Tmax = std::max(Tmax, marks[i] - marks[i - 1]);
  int nbuf = (int)(2 * R * Tmax + 1);
  Vek_WaveChunk store;
  store.append(speech, 0, N, false);
  Vek_PitchSyncBuffer B(nbuf);
  std::vector<double> E;
  int l = (int)lround(R * marks[0]), left = std::min(l, nbuf / 2);
  for (size_t i = 0; i < marks.size(); i++) {
    int m = i + 1 < marks.size() ? (int)lround(R * marks[i + 1]) : N;
    int right = std::min(m - l, nbuf - left);
    store.fill_buffer(l, left, right, left, right, B);
    E.push_back(window == 1 ? B.log_energy_tri() : B.log_energy_trap());
    left = std::min(m - l, nbuf / 2);
    l = m;
  }
  return E;
}

void lpc_anl_residual(const EST_Wave &speech, const EST_Track &lpc, const VekLpcAnlSettings &s,
                      EST_Wave &residual) {
  int n = lpc.num_frames(), N = speech.num_samples(), p = lpc.num_channels() - 1;
  double R = speech.sample_rate();
  if (n < 2 || p < 1) Vek_fail("lpc_analysis: %d frames of %d coefficients", n, p);
  std::vector<double> x(N);
  for (int i = 0; i < N; i++) x[i] = speech.a_no_check(i);
  std::vector<double> out, A, a(p + 1);
  double mem = 0, peak = 0;
  int K = (int)lround(R * lpc.t(0)), left = K;
  A.assign(K, 0.0);
  for (int j = 0; j < n; j++) {
    int e = j + 1 < n ? (int)lround(R * lpc.t(j + 1)) : N;
    int r = std::max(e - K, 0);
    a[0] = 1;
    for (int k = 1; k <= p; k++) a[k] = lpc.a_no_check(j, k);
    std::vector<double> D(left + r, 0.0), F(left + r);
    for (int i = 0; i < left + r; i++) {
      int src = K - left + i;
      if (src >= 0 && src < N) D[i] = x[src];
    }
    lpc_inverse_filter(D.data(), a.data(), p + 1, F.data(), left + r);
    std::vector<double> G = resLPC_make_window(s.window, left, left + r);
    for (int i = 0; i < left && i < (int)A.size(); i++) A[i] += F[i] * G[i];
    if (s.deemph_residual)
      for (double &v : A) v = mem = s.pre_emphasis * mem + (1 - s.pre_emphasis) * v;
    for (double v : A) {
      out.push_back(v);
      peak = std::max(peak, fabs(v));
    }
    A.assign(r, 0.0);
    for (int k = 0; k < r; k++) A[k] = F[left + k] * G[left + k];
    left = r;
    K = e;
  }
  // The residual ends at the last mark: drop what the last period added.
  int last = (int)lround(R * lpc.t(n - 1));
  if ((int)out.size() > last) out.resize(last);
  double scale = peak > 0 ? 32767 / peak : 0;  // a silent residual stays silent
  residual.resize((int)out.size(), 1);
  residual.set_sample_rate((int)R);
  for (size_t i = 0; i < out.size(); i++) residual.a_no_check((int)i) = Vek_clip16(scale * out[i]);
}

void lpc_analyse(EST_Wave &speech, const std::vector<double> &marks0, const VekLpcAnlSettings &s,
                 EST_Track &lpc, EST_Wave &residual) {
  check_marks(marks0, speech, "lpc_analysis");
  double total = double(speech.num_samples()) / speech.sample_rate();
  std::vector<double> marks = resLPC_set_voicing(marks0, total, s.T0_UV_thresh, s.T0_UV_pm);
  // The filled marks may reach the very end: keep those inside.
  while (!marks.empty() && marks.back() > total) marks.pop_back();
  std::vector<double> E = lpc_anl_energies(speech, marks, s.window);
  lpc_anl_frames(speech, marks, s, lpc);
  for (int i = 0; i < lpc.num_frames(); i++) lpc.a_no_check(i, 0) = (float)E[i];
  if (s.bw_expansion > 0) {
    Vek_LPC_bwexp bw(s.lpc_order, s.bw_expansion);
    std::vector<float> f(s.lpc_order + 1);
    for (int i = 0; i < lpc.num_frames(); i++) {
      for (int k = 0; k <= s.lpc_order; k++) f[k] = lpc.a_no_check(i, k);
      bw.expand_float(f);
      for (int k = 1; k <= s.lpc_order; k++) lpc.a_no_check(i, k) = f[k];
    }
  }
  EST_Track lsf;
  lpc_track_to_lsf(lpc, lsf);
  lsf_track_to_lpc(lsf, lpc);
  lpc_anl_residual(speech, lpc, s, residual);
}
