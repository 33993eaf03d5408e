#include "vek_lsf.h"

#include <cmath>
#include <cstdio>

#include "EST_Track.h"
#include "vek_lisp.h"

Vek_Complex complex_make(double re, double im) { return {re, im}; }
Vek_Complex complex_polar(double r, double a) { return {r * cos(a), r * sin(a)}; }
Vek_Complex complex_add(Vek_Complex a, Vek_Complex b) { return {a.re + b.re, a.im + b.im}; }
Vek_Complex complex_sub(Vek_Complex a, Vek_Complex b) { return {a.re - b.re, a.im - b.im}; }
Vek_Complex complex_mul(Vek_Complex a, Vek_Complex b) {
  return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re};
}
Vek_Complex complex_div(Vek_Complex a, Vek_Complex b) {
  double d = b.re * b.re + b.im * b.im;
  return {(a.re * b.re + a.im * b.im) / d, (a.im * b.re - a.re * b.im) / d};
}
Vek_Complex complex_scale(double s, Vek_Complex a) { return {s * a.re, s * a.im}; }
double complex_abs(Vek_Complex a) { return sqrt(a.re * a.re + a.im * a.im); }

double complex_arg(Vek_Complex a) {
  if (a.re == 0 && a.im == 0) return 0;  // never atan(0/0)
  if (a.re == 0) return a.im > 0 ? M_PI / 2 : -M_PI / 2;
  double t = atan(a.im / a.re);
  if (a.re > 0) return t;
  return a.im >= 0 ? t + M_PI : t - M_PI;
}

Vek_Complex complex_sqrt(Vek_Complex a) {
  double r = sqrt(complex_abs(a));
  if (a.re == 0) {
    double h = r / sqrt(2.0);
    return {h, a.im < 0 ? -h : h};
  }
  double t = atan(a.im / a.re) / 2;
  if (a.re > 0) return {r * cos(t), r * sin(t)};
  return {-r * sin(t), r * cos(t)};
}

int laguer(const Vek_Complex *a, int m, Vek_Complex &x) {
  static const double frac[] = {0.0, 0.5,  0.25, 0.75, 0.13, 0.29, 0.71,
                                0.87, 0.43, 0.05, 0.38, 0.62, 0.88, 1.0};
  const int MT = 50, MAXIT = 13 * MT;
  for (int iter = 1; iter <= MAXIT; iter++) {
    Vek_Complex b = a[m], d = {0, 0}, f = {0, 0};
    double err = complex_abs(b), abx = complex_abs(x);
    for (int j = m - 1; j >= 0; j--) {
      f = complex_add(complex_mul(x, f), d);
      d = complex_add(complex_mul(x, d), b);
      b = complex_add(complex_mul(x, b), a[j]);
      err = complex_abs(b) + abx * err;
    }
    if (complex_abs(b) <= 1e-15 * err) return 1;  // round-off bound of a double
    Vek_Complex g = complex_div(d, b);
    Vek_Complex g2 = complex_mul(g, g);
    Vek_Complex h = complex_sub(g2, complex_scale(2.0, complex_div(f, b)));
    Vek_Complex sq = complex_sqrt(
        complex_scale(m - 1, complex_sub(complex_scale(m, h), g2)));
    Vek_Complex gp = complex_add(g, sq), gm = complex_sub(g, sq);
    double abp = complex_abs(gp), abm = complex_abs(gm);
    if (abp < abm) gp = gm;
    Vek_Complex dx = (abp > 0 || abm > 0) ? complex_div(complex_make(m, 0), gp)
                                          : complex_polar(1 + abx, iter);
    Vek_Complex x1 = complex_sub(x, dx);
    if (x.re == x1.re && x.im == x1.im) return 1;
    if (iter % MT) x = x1;
    else x = complex_sub(x, complex_scale(frac[iter / MT], dx));
  }
  printf("Vek_Math warning: ");
  printf("too many iterations in laguer \n");
  return 0;
}

int poly_roots(const Vek_Complex *poly, int m, Vek_Complex *roots, bool polish) {
  if (m < 1 || m > 99) Vek_fail("poly_roots: degree %d is outside 1 .. 99", m);
  std::vector<Vek_Complex> ad(poly, poly + m + 1);
  int ok = 1;
  for (int j = m; j >= 1; j--) {
    Vek_Complex x = {0, 0};
    ok = laguer(ad.data(), j, x);
    if (fabs(x.im) <= 4e-07 * fabs(x.re)) x.im = 0;
    roots[j] = x;
    Vek_Complex b = ad[j];
    for (int jj = j - 1; jj >= 0; jj--) {
      Vek_Complex c = ad[jj];
      ad[jj] = b;
      b = complex_add(complex_mul(x, b), c);
    }
  }
  if (polish) {
    for (int j = 1; j <= m; j++) {
      Vek_Complex x = roots[j];
      ok = laguer(poly, m, x);
      if (ok) roots[j] = x;
    }
  }
  return ok;
}

int roots_to_lsf(const double *poly, int degree, double *out) {
  std::vector<Vek_Complex> c(degree + 1), roots(degree + 1);
  for (int i = 0; i <= degree; i++) c[i] = {poly[i], 0};
  int ok = poly_roots(c.data(), degree, roots.data(), true);
  std::vector<double> ang(degree);
  for (int i = 0; i < degree; i++) ang[i] = fabs(complex_arg(roots[i + 1]));
  // Adjacent exchange, as the angles come nearly sorted from the deflation.
  for (bool swapped = true; swapped;) {
    swapped = false;
    for (int i = 0; i + 1 < degree; i++)
      if (ang[i] > ang[i + 1]) {
        std::swap(ang[i], ang[i + 1]);
        swapped = true;
      }
  }
  for (int j = 0; j < degree / 2; j++) out[j] = ang[2 * j + 1];
  return ok;
}

// ------------------------------------------------------------ LSF to LPC

Vek_LSF_to_LPC::Vek_LSF_to_LPC(int order) : p_(order), d_(order + 1), s_(order + 1) {
  if (order < 2 || order % 2) Vek_fail("LSF order %d is not a positive even number", order);
}

void Vek_LSF_to_LPC::poly_from_cosines(const double *w, int m, double *out) {
  out[0] = 1;
  for (int i = 1; i <= 2 * m; i++) out[i] = 0;
  for (int k = 0; k < m; k++) {
    double c = -2 * cos(w[k]);
    // Multiply the first 2k + 1 coefficients by (1 + c z^-1 + z^-2), from the top.
    for (int i = 2 * k + 2; i >= 0; i--) {
      double v = out[i];
      if (i >= 1) v += c * out[i - 1];
      if (i >= 2) v += out[i - 2];
      out[i] = v;
    }
  }
}

void Vek_LSF_to_LPC::lsf_to_lpc(const double *lsf, double *lpc) {
  int h = p_ / 2;
  std::vector<double> D(p_ + 1), S(p_ + 1);
  poly_from_cosines(lsf, h, D.data());
  poly_from_cosines(lsf + h, h, S.data());
  d_[0] = s_[0] = 1;
  for (int i = 1; i <= p_; i++) {
    d_[i] = D[i] - D[i - 1];
    s_[i] = S[i] + S[i - 1];
  }
  for (int i = 0; i <= p_; i++) lpc[i] = (s_[i] + d_[i]) / 2;
}

void Vek_LSF_to_LPC::convert(const std::vector<double> &lsfs, std::vector<double> &lpcs) {
  if ((int)lsfs.size() != p_) Vek_fail("Vek_LSF_to_LPC: %zu LSFs for order %d", lsfs.size(), p_);
  lpcs.resize(p_ + 1);
  lsf_to_lpc(lsfs.data(), lpcs.data());
}

void Vek_LSF_to_LPC::convert_float(const std::vector<float> &lsfs, std::vector<float> &lpcs) {
  std::vector<double> in(lsfs.begin(), lsfs.end()), out;
  convert(in, out);
  lpcs.assign(out.begin(), out.end());
}

// ------------------------------------------------------------ LPC to LSF

Vek_LPC_to_LSF::Vek_LPC_to_LSF(int order) : p_(order), c_(order + 2), ang_(order / 2) {
  if (order < 2 || order % 2 || order > 98)
    Vek_fail("LPC order %d is not an even number in 2 .. 98", order);
}

int Vek_LPC_to_LSF::lpc_to_lsf(const double *lpc, double *lsf) {
  int p = p_, h = p / 2, ok = 1;
  for (int sign = -1; sign <= 1; sign += 2) {
    c_[0] = 1;
    for (int i = 1; i <= p; i++) c_[i] = lpc[i] + sign * lpc[p + 1 - i];
    c_[p + 1] = sign;
    if (!roots_to_lsf(c_.data(), p + 1, ang_.data())) ok = 0;
    double *dst = lsf + (sign < 0 ? 0 : h);
    for (int j = 0; j < h; j++) dst[j] = ang_[h - 1 - j];
  }
  return ok;
}

int Vek_LPC_to_LSF::convert(const std::vector<double> &lpcs, std::vector<double> &lsfs) {
  if ((int)lpcs.size() != p_ + 1) Vek_fail("Vek_LPC_to_LSF: %zu LPC values for order %d", lpcs.size(), p_);
  if (lsfs.size() + 1 != lpcs.size()) {
    fprintf(stderr, "Vek_LPC_to_LSF::convert : lsfs.length()+1 %zu != lpcs.length() %zu\n",
            lsfs.size() + 1, lpcs.size());
    lsfs.resize(lpcs.size() - 1);
  }
  return lpc_to_lsf(lpcs.data(), lsfs.data());
}

int Vek_LPC_to_LSF::convert_float(const std::vector<float> &lpcs, std::vector<float> &lsfs) {
  std::vector<double> in(lpcs.begin(), lpcs.end()), out(lsfs.size());
  int ok = convert(in, out);
  lsfs.assign(out.begin(), out.end());
  return ok;
}

// ------------------------------------------------------- bandwidth expansion

Vek_LPC_bwexp::Vek_LPC_bwexp(int order, double g) : factor_(order + 1) {
  double f = 1;
  for (int k = 0; k <= order; k++, f *= g) factor_[k] = f;
}

void Vek_LPC_bwexp::expand(std::vector<double> &lpc) const {
  if (factor_.size() < lpc.size()) Vek_fail("Vek_LPC_bwexp::expand - order disagrees \n");
  for (size_t i = 1; i < lpc.size(); i++) lpc[i] *= factor_[i];
}

void Vek_LPC_bwexp::expand_float(std::vector<float> &lpc) const {
  if (factor_.size() < lpc.size()) Vek_fail("Vek_LPC_bwexp::expand - order disagrees \n");
  for (size_t i = 1; i < lpc.size(); i++) lpc[i] = (float)(lpc[i] * factor_[i]);
}

// ------------------------------------------------------------------ tracks

int set_LSF_channel_names(EST_Track &t, int count, const std::string &prefix, int first) {
  for (int i = 0; i + 1 < count; i++)
    t.set_channel_name(EST_String((prefix + std::to_string(i)).c_str()), first + i);
  if (count > 0) t.set_channel_name(EST_String((prefix + "N").c_str()), first + count - 1);
  return first + count;
}

void lsf_track_to_lpc(const EST_Track &lsf, EST_Track &lpc) {
  int e = lsf.has_channel("E") ? lsf.channel_position("E") : -1;
  int p = lsf.num_channels() - (e >= 0 ? 1 : 0);
  Vek_LSF_to_LPC conv(p);
  lpc.resize(lsf.num_frames(), p + 1);
  std::vector<double> in(p), out(p + 1);
  for (int i = 0; i < lsf.num_frames(); i++) {
    lpc.t(i) = lsf.t(i);
    for (int c = 0, k = 0; c < lsf.num_channels(); c++)
      if (c != e) in[k++] = lsf.a_no_check(i, c);
    conv.lsf_to_lpc(in.data(), out.data());
    lpc.a_no_check(i, 0) = e >= 0 ? lsf.a_no_check(i, e) : 0.0f;
    for (int k = 1; k <= p; k++) lpc.a_no_check(i, k) = (float)out[k];
  }
  lpc.set_channel_name("E", 0);
}

void lpc_track_to_lsf(const EST_Track &lpc, EST_Track &lsf) {
  int p = lpc.num_channels() - 1;
  Vek_LPC_to_LSF conv(p);
  lsf.resize(lpc.num_frames(), p + 1);
  std::vector<double> in(p + 1), out(p), last(p, 0.0);
  for (int i = 0; i < lpc.num_frames(); i++) {
    lsf.t(i) = lpc.t(i);
    for (int k = 0; k <= p; k++) in[k] = lpc.a_no_check(i, k);
    if (conv.lpc_to_lsf(in.data(), out.data())) last = out;
    for (int k = 0; k < p; k++) lsf.a_no_check(i, k) = (float)last[k];
    lsf.a_no_check(i, p) = lpc.a_no_check(i, 0);
  }
  set_LSF_channel_names(lsf, p, "LSF_", 0);
  lsf.set_channel_name("E", p);
}
