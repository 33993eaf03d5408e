#include "vek_track.h"

#include <algorithm>
#include <cmath>

#include "EST_Wave.h"
#include "vek_lisp.h"

float Vek_BuffFVect::last() const {
  if (v_.empty()) Vek_fail(" Vek_BuffFVect asked for last of 0 element vector\n");
  return v_.back();
}

int Vek_CachedTrack::index_below(float t) {
  int n = num_frames();
  if (n == 0) return cached_ = -1;
  if (n == 1) return cached_ = (t > this->t(0) ? 0 : -1);
  if (t <= this->t(0)) return cached_ = -1;
  if (t > this->t(n - 1)) return cached_ = n - 1;
  int g = (cached_ >= 0 && cached_ < n && t > this->t(cached_)) ? cached_ : 0;
  while (g < n - 1 && t > this->t(g)) g++;
  return cached_ = g - 1;
}

int Vek_CachedTrack::nearest_index(float t) {
  int k = index_below(t), n = num_frames();
  if (k < 0) return 0;
  if (k == n - 1) return k;
  return fabs(t - this->t(k + 1)) < fabs(t - this->t(k)) ? k + 1 : k;
}

float Vek_CachedTrack::interp_value(float t, int c) {
  int n = num_frames();
  if (n == 0) Vek_fail("interp_value: the track has no frames");
  if (c < 0 || c >= num_channels()) Vek_fail("interp_value: no channel %d", c);
  int k = index_below(t);
  double d = 0;
  if (k >= 0) {
    d = k;
    if (k < n - 1 && t > this->t(k)) d = k + (t - this->t(k)) / (this->t(k + 1) - this->t(k));
  }
  int e = (int)d;
  if (e < n - 1) return (float)((1 - (d - e)) * a_no_check(e, c) + (d - e) * a_no_check(e + 1, c));
  return a_no_check(e, c);
}

int Vek_CachedTrack::append(const EST_Track &other, float offset) {
  if (num_channels() != other.num_channels()) resize(num_frames(), other.num_channels());
  if (!setup_copied_) {
    for (int c = 0; c < other.num_channels(); c++) set_channel_name(other.channel_name(c), c);
    setup_copied_ = true;
  }
  int n = num_frames(), e = n;
  if (n >= 1 && other.num_frames() > 0 && offset + other.t(0) < this->t(n - 1) + 0.001f)
    e = index_below(offset + other.t(0) - 0.001f) + 1;
  resize(e + other.num_frames(), num_channels());
  for (int i = 0; i < other.num_frames(); i++) {
    this->t(e + i) = offset + other.t(i);
    for (int c = 0; c < num_channels(); c++) a_no_check(e + i, c) = other.a_no_check(i, c);
  }
  cached_ = -1;
  return n - e;
}

int Vek_CachedTrack::replace_times(const Vek_BuffFVect &v) {
  if (v.count() == 0) return 0;
  int n = num_frames(), ch = num_channels();
  int r = index_below(v[0]);
  int s = index_below(v.last()) + 1;
  std::vector<float> times, vals;
  for (int i = s; i < n; i++) {
    times.push_back(this->t(i));
    for (int c = 0; c < ch; c++) vals.push_back(a_no_check(i, c));
  }
  int m = v.count();
  resize(r + 1 + m + (n - s), ch);
  for (int i = 0; i < m; i++) {
    this->t(r + 1 + i) = v[i];
    for (int c = 0; c < ch; c++) a_no_check(r + 1 + i, c) = 0;
  }
  for (int i = 0; i < n - s; i++) {
    this->t(r + 1 + m + i) = times[i];
    for (int c = 0; c < ch; c++) a_no_check(r + 1 + m + i, c) = vals[(size_t)i * ch + c];
  }
  cached_ = -1;
  return s;
}

void Vek_CachedTrack::peak_pick(int c, float t_from, float t_to, float &time, float &value) {
  int n = num_frames();
  if (n == 0 || c < 0 || c >= num_channels()) Vek_fail("peak_pick: no frames or no channel %d", c);
  int i = 0;
  while (i < n && this->t(i) < t_from) i++;
  if (i == n) i = n - 1;
  int best = i;
  for (int j = i + 1; j < n && this->t(j) <= t_to; j++)
    if (a_no_check(j, c) > a_no_check(best, c)) best = j;
  time = this->t(best);
  value = a_no_check(best, c);
}

static void check_range(const EST_Track &t, int f0, int f1, int c0, int count, const char *fn) {
  if (f0 < 0 || f1 >= t.num_frames() || f0 > f1 || c0 < 0 || count < 0 || c0 + count > t.num_channels())
    Vek_fail("%s: frames %d..%d, channels %d+%d outside the track", fn, f0, f1, c0, count);
}

void Vek_CachedTrack::smooth(int first, int last, int c0, int count, int width) {
  check_range(*this, first, last, c0, count, "smooth");
  int d = std::min((width - 1) / 2, last - first - 1);
  if (d <= 0) return;
  std::vector<double> out(last - first + 1);
  for (int c = c0; c < c0 + count; c++) {
    auto at = [&](int k) -> double {
      if (k < first) return 2.0 * a_no_check(first, c) - a_no_check(std::min(2 * first - k, last), c);
      if (k > last) return 2.0 * a_no_check(last, c) - a_no_check(std::max(2 * last - k, first), c);
      return a_no_check(k, c);
    };
    for (int j = first; j <= last; j++) {
      double s = 0;
      for (int k = j - d; k <= j + d; k++) s += at(k);
      out[j - first] = s / (2 * d + 1);
    }
    for (int j = first; j <= last; j++) a_no_check(j, c) = (float)out[j - first];
  }
}

void Vek_CachedTrack::smooth_join_match(int L, int J, int R, int c0, int count) {
  if (R - L + 1 < 2) return;
  check_range(*this, L, R, c0, count, "smooth_join_match");
  if (J < 1 || J < L || J > R) Vek_fail("smooth_join_match: join %d outside %d..%d", J, L, R);
  for (int c = c0; c < c0 + count; c++) {
    double xl = a_no_check(J - 1, c), xr = a_no_check(J, c);
    double m = ((J - L) * xr + (R - J + 1) * xl) / (R - L + 1);
    double a = (m - xl) / (J - L + 0.5), b = (m - xr) / (R - J + 1.5);
    for (int i = L, k = 1; i <= J - 1; i++, k++) a_no_check(i, c) += (float)(k * a);
    for (int i = R, k = 1; i >= J; i--, k++) a_no_check(i, c) += (float)(k * b);
  }
}

void Vek_CachedTrack::smooth_join_replace(int L, int J, int R, int c0, int count) {
  check_range(*this, L, R, c0, count, "smooth_join_replace");
  if (J < 1 || J < L || J > R) Vek_fail("smooth_join_replace: join %d outside %d..%d", J, L, R);
  int n = num_frames();
  for (int c = c0; c < c0 + count; c++) {
    double xl = a_no_check(J - 1, c), xr = a_no_check(J, c);
    double m = (xl + xr) / 2;
    double a = (m - xl) / (J - L + 0.5), b = (m - xr) / (R - J + 1.5);
    double left0 = a_no_check(std::max(L - 1, 0), c), right0 = a_no_check(std::min(n - 1, R + 1), c);
    for (int i = L, k = 1; i <= J - 1; i++, k++) a_no_check(i, c) = (float)(left0 + k * a);
    for (int i = R, k = 1; i >= J; i--, k++) a_no_check(i, c) = (float)(right0 + k * b);
  }
}

bool Vek_CachedTrack::save_pulses(const std::string &filename, float rate) const {
  int n = num_frames();
  int len = n ? (int)(this->t(n - 1) * rate + 2) : 2;
  EST_Wave w(len, 1, (int)rate);
  for (int i = 0; i < len; i++) w.a_no_check(i) = 0;
  for (int i = 0; i < n; i++) {
    int s = (int)(rate * this->t(i) + 0.5);
    if (s >= 0 && s < len) w.a_no_check(s) = 10000;
  }
  return w.save(filename.c_str()) == write_ok;
}

void Vek_MapTrack::extend(int k) {
  fill_ = num_frames();
  resize(num_frames() + k, num_channels());
  extended_ = true;
}

int Vek_MapTrack::add_frame(float time, float value) {
  if (!extended_) {
    fill_ = num_frames();
    resize(2 * num_frames() + 300, num_channels());
    extended_ = true;
  }
  if (num_frames() < fill_ + 1) resize(num_frames() + 300, num_channels());
  t(fill_) = time;
  a_no_check(fill_, 0) = value;
  return ++fill_;
}
