#include "vek_pmark.h"

#include <algorithm>
#include <cmath>

#include "vek_filter.h"
#include "vek_lisp.h"

double xcorr_at(const std::vector<double> &x, long p, long q, long W) {
  long N = (long)x.size();
  long e = std::min({W, p, q, N - p - 1, N - q - 1});
  if (e < 1) return 0;
  double s = 0;
  for (long k = -e; k <= e; k++) s += double(e + 1 - labs(k)) / (e + 1) * x[p + k] * x[q + k];
  return s / (2 * e + 1);
}

long weighted_min_index(const std::vector<double> &x, long from, long mid, long to) {
  long best = from;
  double bestv = 32767;
  for (long i = from; i < to; i++) {
    double w = i <= mid ? (mid > from ? double(i - from) / (mid - from) : 1.0)
                        : double(to - i) / (to - mid);
    double v = w * x[i];
    if (v < bestv) {
      bestv = v;
      best = i;
    }
  }
  return best;
}

static double sqdist(const std::vector<double> &a, const std::vector<double> &b) {
  double s = 0;
  for (size_t i = 0; i < a.size(); i++) s += (a[i] - b[i]) * (a[i] - b[i]);
  return s;
}

std::vector<int> class_2cluster(const std::vector<std::vector<double>> &features, double Vbias) {
  size_t n = features.size();
  if (n < 2) Vek_fail("class_2cluster: %zu frames, two or more are needed", n);
  size_t d = features[0].size();
  std::vector<std::vector<double>> v = features;
  for (size_t c = 0; c < d; c++) {
    double m = 0, s = 0;
    for (auto &f : v) m += f[c];
    m /= n;
    for (auto &f : v) s += (f[c] - m) * (f[c] - m);
    s = sqrt(s / n);
    if (s > 0)
      for (auto &f : v) f[c] /= s;
  }
  size_t ia = 0, ib = 0;
  for (size_t i = 1; i < n; i++) {
    double l = sqdist(v[i], std::vector<double>(d, 0.0));
    if (l > sqdist(v[ia], std::vector<double>(d, 0.0))) ia = i;
    if (l < sqdist(v[ib], std::vector<double>(d, 0.0))) ib = i;
  }
  std::vector<double> A = v[ia], B = v[ib];
  std::vector<int> out(n, 0);
  for (int iter = 0; iter < 30; iter++) {
    for (size_t i = 0; i < n; i++) out[i] = sqdist(v[i], B) > Vbias * sqdist(v[i], A) ? 1 : 0;
    std::vector<double> nA(d, 0.0), nB(d, 0.0);
    size_t na = 0, nb = 0;
    for (size_t i = 0; i < n; i++) {
      auto &t = out[i] ? nA : nB;
      (out[i] ? na : nb)++;
      for (size_t c = 0; c < d; c++) t[c] += v[i][c];
    }
    if (na == 0 || nb == 0) break;  // keep the old centres
    for (auto &x : nA) x /= na;
    for (auto &x : nB) x /= nb;
    double change = sqdist(A, nA);
    A = nA;
    B = nB;
    if (change < 0.0001) break;
  }
  return out;
}

int pmark_prune_by_F0(std::vector<long> &marks, double rate, double guess_F0, double F0_range_factor) {
  long Pmax = (long)(rate * F0_range_factor / guess_F0);
  long Pmin = (long)(rate / (F0_range_factor * guess_F0));
  auto prev = [&](const std::vector<long> &m, size_t i) { return i ? m[i - 1] : -100000L; };
  auto next = [&](const std::vector<long> &m, size_t i) { return i + 1 < m.size() ? m[i + 1] : m.back() + 10000; };
  std::vector<long> kept;
  for (size_t i = 0; i < marks.size(); i++)
    if (!(marks[i] - prev(marks, i) > Pmax && next(marks, i) - marks[i] > Pmax)) kept.push_back(marks[i]);
  marks = kept;
  std::vector<size_t> close;
  for (size_t i = 0; i < marks.size(); i++)
    if (marks[i] - prev(marks, i) < Pmin || next(marks, i) - marks[i] < Pmin) close.push_back(i);
  std::vector<bool> drop(marks.size(), false);
  for (size_t k = 0; k < close.size(); k++) {
    size_t i = close[k];
    if (k + 1 < close.size() && close[k + 1] == i + 1 && marks[i + 1] - marks[i] < Pmin) {
      long before = i ? marks[i - 1] : marks.front() - Pmin;
      long after = i + 2 < marks.size() ? marks[i + 2] : marks.back() + Pmin;
      long c1 = labs(2 * marks[i] - before - after), c2 = labs(2 * marks[i + 1] - before - after);
      drop[c1 <= c2 ? i + 1 : i] = true;
      k++;
    }
  }
  kept.clear();
  for (size_t i = 0; i < marks.size(); i++)
    if (!drop[i]) kept.push_back(marks[i]);
  marks = kept;
  return (int)close.size();
}

std::vector<long> pmark_analyse_lx(const std::vector<double> &lx0, double rate, const VekPmarkSettings &s) {
  if (!(s.guess_F0 > 0)) Vek_fail("pmark_analysis: guess_F0 must be above 0, not %g", s.guess_F0);
  if (!(s.F0_range_factor > 0)) Vek_fail("pmark_analysis: F0_range_factor must be above 0, not %g", s.F0_range_factor);
  if (!(rate > 0)) Vek_fail("pmark_analysis: sample rate must be above 0, not %g", rate);
  if (s.pre_num.empty() || s.vuv_num.empty() || s.diff.empty())
    Vek_fail("pmark_analysis: pre_filt1, vuv_filt and diff_filt are all needed");
  std::vector<double> lx = lx0;
  const std::string &sg = s.lx_sign;
  if (sg == "down_is_open_glottis" || sg == "up_is_closed_glottis") {
    for (auto &x : lx) x = -x;
  } else if (sg != "down_is_closed_glottis" && sg != "up_is_open_glottis") {
    Vek_fail("pmark_analysis:  don't understand your 'lx_sign setting...\n");
  }
  long N = (long)lx.size();
  filtfilt_dvector(s.pre_num, s.pre_den, lx);
  std::vector<double> dlx = lx, v = lx;
  fir_filter_dvector(s.diff, dlx);
  filtfilt_dvector(s.vuv_num, s.vuv_den, v);

  long w = (long)(s.dlx_search_factor / s.guess_F0 * rate);
  std::vector<long> cand;
  for (long z = 1; z < N; z++)
    if (v[z - 1] >= 0 && v[z] < 0) cand.push_back(weighted_min_index(dlx, std::max(z - w, 0L), z, std::min(z + w, N)));
  if (cand.size() < 2) return cand;

  long W = s.xcorr_winsz_msec < 0 ? 100 : lround(s.xcorr_winsz_msec * rate * 0.001);
  int K = s.xcorr_max_range;
  std::vector<std::vector<double>> feat(cand.size(), std::vector<double>(3));
  for (size_t i = 0; i < cand.size(); i++) {
    long p = cand[i];
    feat[i][0] = -dlx[p];
    double best = 0;
    bool any = false;
    for (int o = -K; o < K; o++) {
      long j = (long)i + o;
      double val = 0;
      if (o != 0 && j >= 0 && j < (long)cand.size()) {
        long q = cand[j];
        double den = xcorr_at(lx, q, q, W) + xcorr_at(lx, p, p, W);
        val = den != 0 ? 2 * xcorr_at(lx, p, q, W) / den : 0;
      }
      if (o != 0 && (!any || val > best)) {
        best = val;
        any = true;
      }
    }
    feat[i][1] = best;
    feat[i][2] = W > 0 ? sqrt(std::max(0.0, xcorr_at(v, p, p, W)) / W) : 0;
  }
  std::vector<int> cls = class_2cluster(feat, s.Vbias);
  std::vector<long> marks;
  for (size_t i = 0; i < cand.size(); i++)
    if (cls[i]) marks.push_back(cand[i]);
  for (int i = 0; i < 30 && !marks.empty(); i++)
    if (pmark_prune_by_F0(marks, rate, s.guess_F0, s.F0_range_factor) == 0) break;
  return marks;
}
