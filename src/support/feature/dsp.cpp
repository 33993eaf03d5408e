// The shared signal-processing core (see dsp.h).
#include "dsp.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace dsp {

namespace {
const double kPi = 3.14159265358979323846;
}

std::vector<double> MakeWindow(Window kind, int length) {
  std::vector<double> w(length > 0 ? length : 0, 1.0);
  if (length < 2) return w;
  const double d = length - 1;
  for (int i = 0; i < length; i++) {
    switch (kind) {
      case Window::kRectangle: w[i] = 1.0; break;
      case Window::kHamming: w[i] = 0.54 - 0.46 * std::cos(2 * kPi * i / d); break;
      case Window::kHanning: w[i] = 0.5 - 0.5 * std::cos(2 * kPi * i / d); break;
      case Window::kTriangle: w[i] = 1.0 - std::fabs((i - d / 2) / (d / 2)); break;
    }
  }
  return w;
}

int NextPow2(int n) {
  int p = 1;
  while (p < n) p <<= 1;
  return p;
}

// ---------------------------------------------------------------- FFT

struct RealFft::Impl {
  double *in = nullptr;
  fftw_complex *out = nullptr;
  fftw_plan plan = nullptr;
};

RealFft::RealFft(int n) : n_(n), impl_(new Impl) {
  impl_->in = fftw_alloc_real(n);
  impl_->out = fftw_alloc_complex(n / 2 + 1);
  impl_->plan = fftw_plan_dft_r2c_1d(n, impl_->in, impl_->out, FFTW_ESTIMATE);
}

RealFft::~RealFft() {
  fftw_destroy_plan(impl_->plan);
  fftw_free(impl_->in);
  fftw_free(impl_->out);
}

void RealFft::Power(const double *in, int len, double *out) {
  if (len > n_) len = n_;
  std::memcpy(impl_->in, in, sizeof(double) * len);
  std::memset(impl_->in + len, 0, sizeof(double) * (n_ - len));
  fftw_execute(impl_->plan);
  for (int k = 0; k <= n_ / 2; k++)
    out[k] = impl_->out[k][0] * impl_->out[k][0] + impl_->out[k][1] * impl_->out[k][1];
}

// --------------------------------------------------------- filterbanks

double HzToScale(Scale s, double hz) {
  switch (s) {
    case Scale::kMel: return 1127.0 * std::log(1.0 + hz / 700.0);
    case Scale::kBark: return 6.0 * std::asinh(hz / 600.0);
    default: return hz;
  }
}

double ScaleToHz(Scale s, double v) {
  switch (s) {
    case Scale::kMel: return 700.0 * (std::exp(v / 1127.0) - 1.0);
    case Scale::kBark: return 600.0 * std::sinh(v / 6.0);
    default: return v;
  }
}

FilterBank::FilterBank(Scale scale, int count, int nfft, double rate, double low, double high, bool trapezoid,
                       bool normalise) {
  const double lo = HzToScale(scale, low), hi = HzToScale(scale, high);
  const double spacing = (hi - lo) / (count + 1);
  const int bins = nfft / 2 + 1;
  for (int j = 0; j < count; j++) {
    const double left = lo + j * spacing, centre = left + spacing, right = centre + spacing;
    centres_.push_back(ScaleToHz(scale, centre));
    Band b;
    b.first = -1;
    for (int k = 0; k < bins; k++) {
      const double v = HzToScale(scale, k * rate / nfft);
      double w = 0;
      if (v > left && v < right) {
        if (trapezoid) {
          // Flat over the middle half of the span, sloping to the neighbours' centres.
          const double a = left + spacing / 2, z = right - spacing / 2;
          w = v < a ? (v - left) / (a - left) : v > z ? (right - v) / (right - z) : 1.0;
        } else {
          w = v <= centre ? (v - left) / spacing : (right - v) / spacing;
        }
      }
      if (w > 0) {
        if (b.first < 0) b.first = k;
        b.w.resize(k - b.first + 1, 0.0);
        b.w[k - b.first] = w;
      }
    }
    if (b.first < 0) b.first = 0;
    if (normalise) {
      double s = 0;
      for (double w : b.w) s += w;
      if (s > 0)
        for (double &w : b.w) w /= s;
    }
    bands_.push_back(std::move(b));
  }
}

void FilterBank::Apply(const double *power, double *out) const {
  for (size_t j = 0; j < bands_.size(); j++) {
    const Band &b = bands_[j];
    double s = 0;
    for (size_t i = 0; i < b.w.size(); i++) s += b.w[i] * power[b.first + i];
    out[j] = s;
  }
}

// ------------------------------------------------------------- cepstra

double LifterWeight(int k, double L) { return (L > 0 && k > 0) ? 1.0 + L / 2.0 * std::sin(kPi * k / L) : 1.0; }

void Lifter(double *cep, int ncep, double L) {
  for (int k = 1; k < ncep; k++) cep[k] *= LifterWeight(k, L);
}

Dct::Dct(int n, int ncep, double lifter) : n_(n), ncep_(ncep), table_((size_t)n * ncep) {
  const double norm = std::sqrt(2.0 / n);
  for (int k = 0; k < ncep; k++) {
    const double lift = LifterWeight(k, lifter);
    for (int j = 0; j < n; j++) table_[(size_t)k * n + j] = lift * norm * std::cos(kPi * k * (j + 0.5) / n);
  }
}

void Dct::Apply(const double *in, double *out) const {
  for (int k = 0; k < ncep_; k++) {
    const double *row = table_.data() + (size_t)k * n_;
    double s = 0;
    for (int j = 0; j < n_; j++) s += in[j] * row[j];
    out[k] = s;
  }
}

// ----------------------------------------------------------------- LPC

void Autocorr(const double *x, int n, double *r, int order) {
  for (int k = 0; k <= order; k++) {
    double s = 0;
    for (int i = k; i < n; i++) s += x[i] * x[i - k];
    r[k] = s;
  }
}

double Durbin(const double *r, int order, double *a) {
  a[0] = 1.0;
  for (int i = 1; i <= order; i++) a[i] = 0.0;
  double err = r[0];
  if (!(err > 0)) return 0.0;
  std::vector<double> tmp(order + 1);
  for (int i = 1; i <= order; i++) {
    double acc = r[i];
    for (int j = 1; j < i; j++) acc += a[j] * r[i - j];
    const double k = -acc / err;
    for (int j = 1; j < i; j++) tmp[j] = a[j] + k * a[i - j];
    for (int j = 1; j < i; j++) a[j] = tmp[j];
    a[i] = k;
    err *= 1.0 - k * k;
    if (!(err > 0)) {
      err = 0;
      break;
    }
  }
  return err;
}

void LpcToCepstrum(const double *a, int order, double gain, double *c, int ncep) {
  if (ncep < 1) return;
  c[0] = std::log(gain > 1e-30 ? gain : 1e-30);
  for (int n = 1; n < ncep; n++) {
    double s = n <= order ? -a[n] : 0.0;
    for (int k = 1; k < n; k++)
      if (n - k <= order) s -= (double)k / n * c[k] * a[n - k];
    c[n] = s;
  }
}

namespace {

// The real-valued form of a symmetric (sign +1) or antisymmetric (-1)
// polynomial of degree m on the unit circle, up to a linear phase.
double SymEval(const std::vector<double> &p, int sign, double w) {
  const int m = (int)p.size() - 1;
  double s = 0;
  for (int k = 0; k <= m; k++) {
    const double arg = w * (m / 2.0 - k);
    s += p[k] * (sign > 0 ? std::cos(arg) : std::sin(arg));
  }
  return s;
}

void Roots(const std::vector<double> &p, int sign, std::vector<double> &roots) {
  // Fine enough to separate the roots of any stable filter of the orders used here.
  const int grid = 256 + 64 * (int)p.size();
  const double eps = 1e-9;
  double w0 = eps, f0 = SymEval(p, sign, w0);
  for (int g = 1; g <= grid; g++) {
    const double w1 = g == grid ? kPi - eps : kPi * g / grid;
    const double f1 = SymEval(p, sign, w1);
    if (f0 == 0) {
      roots.push_back(w0);
    } else if ((f0 < 0) != (f1 < 0) && f1 != 0) {
      double a = w0, b = w1, fa = f0;
      for (int it = 0; it < 60; it++) {
        const double c = 0.5 * (a + b), fc = SymEval(p, sign, c);
        if ((fc < 0) == (fa < 0)) {
          a = c;
          fa = fc;
        } else {
          b = c;
        }
      }
      roots.push_back(0.5 * (a + b));
    }
    w0 = w1;
    f0 = f1;
  }
}

std::vector<double> PolyMul(const std::vector<double> &x, const std::vector<double> &y) {
  std::vector<double> r(x.size() + y.size() - 1, 0.0);
  for (size_t i = 0; i < x.size(); i++)
    for (size_t j = 0; j < y.size(); j++) r[i + j] += x[i] * y[j];
  return r;
}

}  // namespace

int LpcToLsp(const double *a, int order, double *lsp) {
  std::vector<double> P(order + 2), Q(order + 2);
  for (int k = 0; k <= order + 1; k++) {
    const double ak = k <= order ? a[k] : 0.0, rk = k >= 1 ? a[order + 1 - k] : 0.0;
    P[k] = ak + rk;
    Q[k] = ak - rk;
  }
  std::vector<double> roots;
  Roots(P, +1, roots);
  Roots(Q, -1, roots);
  std::sort(roots.begin(), roots.end());
  if ((int)roots.size() != order) return -1;
  for (int i = 0; i < order; i++) lsp[i] = roots[i];
  return 0;
}

void LspToLpc(const double *lsp, int order, double *a) {
  std::vector<double> P{1.0}, Q{1.0};
  for (int i = 0; i < order; i++) {
    std::vector<double> f{1.0, -2.0 * std::cos(lsp[i]), 1.0};
    if (i % 2 == 0)
      P = PolyMul(P, f);
    else
      Q = PolyMul(Q, f);
  }
  if (order % 2 == 0) {
    P = PolyMul(P, {1.0, 1.0});
    Q = PolyMul(Q, {1.0, -1.0});
  } else {
    Q = PolyMul(Q, {1.0, 0.0, -1.0});
  }
  for (int k = 0; k <= order; k++) a[k] = 0.5 * (P[k] + Q[k]);
}

void SpectrumToAutocorr(const double *p, int n, double *r, int order) {
  const int m = n - 1;
  for (int k = 0; k <= order; k++) {
    double s = p[0] + (k % 2 ? -p[m] : p[m]);
    for (int j = 1; j < m; j++) s += 2.0 * p[j] * std::cos(kPi * k * j / m);
    r[k] = s / (2.0 * m);
  }
}

// -------------------------------------------------------------- framer

int64_t Framer::Frames(int64_t n) const {
  const int64_t rest = (int64_t)size() - (int64_t)pos_;  // negative: a step ran past the end
  const int64_t skip = skip_ + std::max<int64_t>(0, -rest);
  const int64_t avail = std::max<int64_t>(0, rest) + std::max<int64_t>(0, n - skip);
  if (avail < length_) return 0;
  return 1 + (avail - length_) / step_;
}

void Framer::Append(const int16_t *s, int64_t n) {
  Keep();
  if (skip_ > 0) {
    const int64_t d = std::min(skip_, n);
    if (d > 0) before_ = s[d - 1];
    skip_ -= d;
    s += d;
    n -= d;
  }
  if (n <= 0) return;
  block_ = s;
  blockLen_ = n;
}

void Framer::Keep() {
  // Only the samples from the next frame's start on are needed again.
  const size_t total = size();
  if (pos_ >= total) {
    if (total > 0) before_ = at(total - 1);
    skip_ += (int64_t)(pos_ - total);
    buf_.clear();
  } else {
    if (pos_ > 0) before_ = at(pos_ - 1);
    std::vector<int16_t> rest(total - pos_);
    for (size_t i = pos_; i < total; i++) rest[i - pos_] = at(i);
    buf_.swap(rest);
  }
  pos_ = 0;
  block_ = nullptr;
  blockLen_ = 0;
}

bool Framer::Next(double *frame, double *prev) {
  if (pos_ > size() || size() - pos_ < (size_t)length_) return false;
  if (pos_ >= buf_.size()) {
    const int16_t *src = block_ + (pos_ - buf_.size());
    for (int i = 0; i < length_; i++) frame[i] = src[i];
  } else {
    for (int i = 0; i < length_; i++) frame[i] = at(pos_ + i);
  }
  *prev = pos_ > 0 ? at(pos_ - 1) : before_;
  pos_ += step_;
  return true;
}

void Framer::Reset() {
  buf_.clear();
  block_ = nullptr;
  blockLen_ = 0;
  pos_ = 0;
  skip_ = 0;
  before_ = 0;
}

// ------------------------------------------------------- frame history

int64_t FrameHistory::Due(int64_t n, bool flush) const {
  const int64_t t = total_ + n;
  const int64_t ready = flush ? t : std::max<int64_t>(0, t - future_);
  return std::max<int64_t>(0, ready - emitted_);
}

void FrameHistory::Push(const float *row) {
  frames_.emplace_back(row, row + dim_);
  total_++;
}

void FrameHistory::PushDouble(const double *row) {
  frames_.emplace_back(row, row + dim_);
  total_++;
}

const double *FrameHistory::At(int64_t offset) const {
  int64_t i = emitted_ + offset;
  if (i < 0) i = 0;
  if (i >= total_) i = total_ - 1;
  if (i < base_) i = base_;
  return frames_[(size_t)(i - base_)].data();
}

void FrameHistory::Advance() {
  emitted_++;
  while (base_ < emitted_ - past_ && frames_.size() > 1) {
    frames_.pop_front();
    base_++;
  }
}

void FrameHistory::Reset() {
  frames_.clear();
  base_ = total_ = emitted_ = 0;
}

}  // namespace dsp
