#include "vek_wavechunk.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "EST_Wave.h"
#include "vek_effect_dsp.h"
#include "vek_labels.h"
#include "vek_lisp.h"

// ----------------------------------------------------------- period buffer

Vek_PitchSyncBuffer::Vek_PitchSyncBuffer(int nbuf) : samples_(std::max(nbuf, 0), 0.0) {}

void Vek_PitchSyncBuffer::set_end(int e) {
  if (e > Nbuf()) {
    fprintf(stderr, "Vek_PitchSyncBuffer: setting end=%d beyond Nbuf=%d\n", e, Nbuf());
    e = Nbuf();
  }
  end_ = std::max(e, 0);
}

void Vek_PitchSyncBuffer::clear() { std::fill(samples_.begin(), samples_.end(), 0.0); }

double ramp_weighted_energy(const double *x, int count, int direction) {
  double s = 0;
  for (int i = 0; i < count; i++) {
    double w = direction == 1 ? double(i) / count : 1.0 - double(i) / count;
    s += w * x[i] * x[i];
  }
  return s;
}

double sum_squares(const double *x, int count) {
  double s = 0;
  for (int i = 0; i < count; i++) s += x[i] * x[i];
  return s;
}

double Vek_PitchSyncBuffer::log_energy_tri() const {
  int m = std::min(std::max(mark, 0), end_);
  double E = ramp_weighted_energy(samples_.data(), m, 1) + ramp_weighted_energy(samples_.data() + m, end_ - m, -1);
  return (end_ > 0 && E >= end_) ? 0.5 * log(2 * E / end_) : 1.0;
}

double Vek_PitchSyncBuffer::log_energy_trap() const {
  int m = std::min(std::max(mark, 0), end_);
  int h = m / 2, d = (end_ - m) / 2;
  double a = ramp_weighted_energy(samples_.data() + m - h, h, 1);
  double b = sum_squares(samples_.data() + m, d);
  double c = ramp_weighted_energy(samples_.data() + m + d, end_ - m - d, -1);
  double E = 2 * a + b + 2 * c;
  int n = h + end_ - m;
  return (n > 0 && E >= end_) ? 0.5 * log(E / n) : 1.0;
}

bool Vek_PitchSyncBuffer::save_riff(const std::string &filename, int rate, double scale) const {
  EST_Wave w(end_, 1, rate);
  for (int i = 0; i < end_; i++) w.a_no_check(i) = Vek_clip16(scale * samples_[i]);
  return w.save(filename.c_str(), "riff") == write_ok;
}

// ---------------------------------------------------------- excitation store

Vek_WaveChunk::Vek_WaveChunk() {}

void Vek_WaveChunk::grow(int need) {
  if ((int)store_.size() < need) store_.resize(need + 8000, 0);
}

void Vek_WaveChunk::copy_samples(int back, const EST_Wave &w, int from) {
  int len = w.num_samples();
  if (from >= len) return;
  if (from < 0 || back > used_ || back < 0) Vek_fail("Vek_WaveChunk: copy from %d, %d back, outside the store", from, back);
  int at = used_ - back;
  grow(at + len - from);
  for (int i = from; i < len; i++) store_[at + i - from] = w.a_no_check(i);
  used_ = len + used_ - back - from;
}

void Vek_WaveChunk::append(const EST_Wave &w, int begin, int end, bool join) {
  if (begin < 0 || end < begin || end > w.num_samples())
    Vek_fail("Vek_WaveChunk: chunk %d..%d outside a wave of %d samples", begin, end, w.num_samples());
  if (w.num_channels() != 1) Vek_fail("Vek_WaveChunk: the wave has %d channels, not one", w.num_channels());
  if (join && !ce_.empty()) {
    copy_samples(used_ - ce_.back(), w, begin);
    ce_.back() += end - begin;
    ob_.back() += end - begin;
    wo_.back() = used_;
    return;
  }
  int off = wo_.back();
  cb_.push_back(off + begin);
  ce_.push_back(off + end);
  ob_.push_back(ob_.back() + end - begin);
  rate_ = w.sample_rate();
  copy_samples(0, w, 0);
  wo_.push_back(used_);
}

void Vek_WaveChunk::adjust_segE(int k) {
  if (k == 0) return;
  if (ce_.empty()) {
    fprintf(stderr, "Vek_WaveChunk: can't adjust segE before appending something !\n");
    return;
  }
  if (ce_.back() + k < cb_.back()) Vek_fail("Vek_WaveChunk: adjusting the chunk end by %d passes its start", k);
  if (ce_.back() + k > (int)store_.size()) {
    store_.resize(used_ + k + 8000, 0);
    used_ += k;
    wo_.back() = ce_.back() + k;
  }
  ce_.back() += k;
  ob_.back() += k;
}

int Vek_WaveChunk::find_chunk(int p) const {
  if (p < 0 || p >= ob_.back()) return -1;
  // output begins are non-decreasing: the last k with ob[k] <= p.
  auto it = std::upper_bound(ob_.begin(), ob_.end(), p);
  return (int)(it - ob_.begin()) - 1;
}

void Vek_WaveChunk::fill_buffer(int p, int left, int right, int mark, int right_len,
                                Vek_PitchSyncBuffer &B) const {
  B.clear();
  int k = find_chunk(p);
  if (k < 0) return;
  int q = p - ob_[k] + cb_[k];
  int ws = wo_[k], we = wo_[k + 1];
  int l = std::min(left, q - ws), r = std::min(right, we - q);
  B.mark = mark;
  B.set_end(mark + right_len);
  // Only the part that lands inside the buffer is copied.
  for (int i = 0; i < l + r; i++) {
    int dst = mark - l + i, src = q - l + i;
    if (dst >= 0 && dst < B.Nbuf() && src >= 0 && src < (int)store_.size()) B[dst] = store_[src];
  }
}

void Vek_WaveChunk::load(const std::string &filename) {
  EST_Wave w;
  if (w.load(filename.c_str(), 0, 0, 16000) != read_ok || w.num_channels() != 1)
    Vek_fail("error reading file %s", filename.c_str());
  store_.assign(w.num_samples(), 0);
  for (int i = 0; i < w.num_samples(); i++) store_[i] = w.a_no_check(i);
  rate_ = w.sample_rate();
  used_ = w.num_samples();
  cb_.push_back(wo_.back());
  ce_.push_back(wo_.back() + used_);
  ob_.push_back(ob_.back() - cb_.back() + ce_.back());
  wo_.push_back(used_);
}

bool Vek_WaveChunk::save_chunks(const std::string &filename, std::string &why) const {
  int total = 0;
  for (size_t k = 0; k < cb_.size(); k++) total += ce_[k] - cb_[k];
  EST_Wave w(total, 1, rate_);
  std::vector<float> ends;
  std::vector<std::string> names;
  int at = 0;
  for (size_t k = 0; k < cb_.size(); k++) {
    for (int i = cb_[k]; i < ce_[k]; i++) w.a_no_check(at++) = store_[i];
    ends.push_back(float(ob_[k] + ce_[k] - cb_[k]) / rate_);
    names.push_back("chunk" + std::to_string(k));
  }
  if (w.save((filename + ".wav").c_str(), "riff") != write_ok) {
    why = "cannot write " + filename + ".wav";
    return false;
  }
  return save_Vek_labels(ends, names, filename + ".phn", -99, why);
}

bool Vek_WaveChunk::save_debug(const std::string &filename, std::string &why) const {
  EST_Wave w(used_, 1, rate_);
  for (int i = 0; i < used_; i++) w.a_no_check(i) = store_[i];
  if (w.save((filename + ".wav").c_str(), "nist") != write_ok) {
    why = "cannot write " + filename + ".wav";
    return false;
  }
  std::vector<float> ends;
  std::vector<std::string> names;
  for (size_t k = 0; k < cb_.size(); k++) {
    char b[64];
    snprintf(b, sizeof b, "true_samp=%.1f", ob_[k] / (double)rate_ * 1000);
    ends.push_back(float(cb_[k]) / rate_);
    names.push_back("offset");
    ends.push_back(float(ce_[k]) / rate_);
    names.push_back(b);
    ends.push_back(float(wo_[k + 1]) / rate_);
    names.push_back("end");
  }
  return save_Vek_labels(ends, names, filename + ".phn", -99, why);
}
