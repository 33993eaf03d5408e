#include "vek_filter.h"

#include <algorithm>

#include "EST_Track.h"
#include "EST_Wave.h"
#include "siod.h"
#include "vek_effect_dsp.h"
#include "vek_lisp.h"

void lpc_synth_filter(const double *x, const double *a, int n_coef, double *y, int len) {
  for (int i = 0; i < len; i++) {
    double s = x[i];
    int top = std::min(i, n_coef - 1);
    for (int k = 1; k <= top; k++) s -= a[k] * y[i - k];
    y[i] = s;
  }
}

void lpc_inverse_filter(const double *x, const double *a, int n_coef, double *y, int len) {
  for (int i = 0; i < len; i++) {
    double s = 0;
    int top = std::min(i, n_coef - 1);
    for (int k = 0; k <= top; k++) s += a[k] * x[i - k];
    y[i] = s;
  }
}

namespace {

// The filter as (b, a) of one length with a[0] = 1.
void normalise(const std::vector<double> &num, const std::vector<double> &den,
               std::vector<double> &b, std::vector<double> &a) {
  if (num.empty() || den.empty()) Vek_fail("IIR filter: empty coefficient list");
  if (den[0] == 0) Vek_fail("IIR filter: den[0] is 0");
  size_t n = std::max(num.size(), den.size());
  b.assign(n, 0.0);
  a.assign(n, 0.0);
  for (size_t i = 0; i < num.size(); i++) b[i] = num[i] / den[0];
  for (size_t i = 0; i < den.size(); i++) a[i] = den[i] / den[0];
}

template <typename Store>
void iir_run(const std::vector<double> &num, const std::vector<double> &den, size_t len,
             Store &&at) {
  std::vector<double> b, a;
  normalise(num, den, b, a);
  size_t n = b.size();
  std::vector<double> z(n, 0.0);
  for (size_t i = 0; i < len; i++) {
    double x = at(i, 0.0, false);
    if (n == 1) {
      at(i, x * b[0], true);
      continue;
    }
    z[0] = b[0] * x + z[1];
    for (size_t j = 1; j + 1 < n; j++) z[j] = b[j] * x + z[j + 1] - z[0] * a[j];
    z[n - 1] = b[n - 1] * x - z[0] * a[n - 1];
    at(i, z[0], true);
  }
}

template <typename Store>
void fir_run(const std::vector<double> &h, size_t len, Store &&at) {
  if (h.empty()) Vek_fail("FIR filter: empty coefficient list");
  size_t n = h.size(), d = n / 2;
  // Direct form over a copy: output m = sum_k h[k] x[m + d - k].
  std::vector<double> x(len);
  for (size_t i = 0; i < len; i++) x[i] = at(i, 0.0, false);
  for (size_t m = 0; m < len; m++) {
    double s = 0;
    for (size_t k = 0; k < n; k++) {
      long j = (long)m + (long)d - (long)k;
      if (j >= 0 && j < (long)len) s += h[k] * x[j];
    }
    at(m, s, true);
  }
}

auto dvec_access(std::vector<double> &v) {
  return [&v](size_t i, double y, bool store) {
    if (store) v[i] = y;
    return v[i];
  };
}

auto wave_access(EST_Wave &w) {
  return [&w](size_t i, double y, bool store) -> double {
    if (store) w.a_no_check(i) = Vek_clip16(y);
    return w.a_no_check(i);
  };
}

void check_wave(const EST_Wave &w, const char *fn) {
  if (w.num_channels() > 1) Vek_fail("%s: the wave has %d channels, not one", fn, w.num_channels());
}

}  // namespace

void iir_filter_dvector(const std::vector<double> &num, const std::vector<double> &den,
                        std::vector<double> &v) {
  iir_run(num, den, v.size(), dvec_access(v));
}

void iir_filter_wave(const std::vector<double> &num, const std::vector<double> &den, EST_Wave &w) {
  check_wave(w, "iir_filter_wave");
  iir_run(num, den, w.num_samples(), wave_access(w));
}

void reverse_dvector(std::vector<double> &v) { std::reverse(v.begin(), v.end()); }

static void reverse_wave(EST_Wave &w) {
  for (int i = 0, j = w.num_samples() - 1; i < j; i++, j--) std::swap(w.a_no_check(i), w.a_no_check(j));
}

void filtfilt_dvector(const std::vector<double> &num, const std::vector<double> &den,
                      std::vector<double> &v) {
  iir_filter_dvector(num, den, v);
  reverse_dvector(v);
  iir_filter_dvector(num, den, v);
  reverse_dvector(v);
}

void filtfilt_wave(const std::vector<double> &num, const std::vector<double> &den, EST_Wave &w) {
  iir_filter_wave(num, den, w);
  reverse_wave(w);
  iir_filter_wave(num, den, w);
  reverse_wave(w);
}

void fir_filter_dvector(const std::vector<double> &h, std::vector<double> &v) {
  fir_run(h, v.size(), dvec_access(v));
}

void fir_filter_wave(const std::vector<double> &h, EST_Wave &w) {
  check_wave(w, "fir_filter_wave");
  fir_run(h, w.num_samples(), wave_access(w));
}

void fir_filter_track(const std::vector<double> &h, EST_Track &t) {
  if (t.num_channels() < 1) Vek_fail("fir_filter_track: the track has no channels");
  fir_run(h, t.num_frames(), [&t](size_t i, double y, bool store) -> double {
    if (store) t.a_no_check(i, 0) = (float)y;
    return t.a_no_check(i, 0);
  });
}

static void number_list(LISP l, std::vector<double> &out) {
  if (Vek_listLength(l) < 0) Vek_fail("filter coefficients: not a list of numbers");
  out.clear();
  for (LISP p = l; p != NIL; p = cdr(p)) {
    if (!FLONUMP(car(p))) Vek_fail("filter coefficients: not a list of numbers");
    out.push_back(FLONM(car(p)));
  }
}

void lisp_to_filter_coefs(LISP expr, std::vector<double> &num, std::vector<double> &den) {
  if (Vek_listLength(expr) != 2) Vek_fail("filter coefficients: expected (NUM DEN)");
  number_list(car(expr), num);
  number_list(car(cdr(expr)), den);
  size_t n = std::max(num.size(), den.size());
  num.resize(n, 0.0);
  den.resize(n, 0.0);
}

void get_filter_coefs(const char *text, std::vector<double> &num, std::vector<double> &den) {
  // The reader raises on unbalanced text: pre-check the brackets so that the
  // error comes back as ours.
  int depth = 0;
  for (const char *p = text; *p; p++) {
    if (*p == '(') depth++;
    if (*p == ')' && --depth < 0) break;
  }
  if (depth != 0) Vek_fail("filter coefficients: unbalanced brackets in \"%s\"", text);
  lisp_to_filter_coefs(read_from_string(text), num, den);
}

void preemphasis_wave(EST_Wave &w, double k) {
  check_wave(w, "preemphasis_wave");
  double prev = 0;
  for (int i = 0; i < w.num_samples(); i++) {
    double x = w.a_no_check(i);
    w.a_no_check(i) = Vek_clip16(x / (1 + k) - prev * k / (1 + k));
    prev = x;
  }
}
