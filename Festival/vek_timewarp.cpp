#include "vek_timewarp.h"

#include <algorithm>
#include <cmath>

#include "vek_labels.h"
#include "vek_lisp.h"

void Vek_TimeWarp::append(float s, float t) {
  cached_ = -1;
  if (count_ > 0 && (t < tgt_[count_ - 1] || s < src_[count_ - 1]))
    Vek_fail("Vek_TimeWarp::append: inputs (%f,%f) are out of order (%f,%f) \n", s, t, src_[count_ - 1],
             tgt_[count_ - 1]);
  src_.push(s);
  tgt_.push(t);
  count_++;
}

void Vek_TimeWarp::append_labelled(float s, float t, const std::string &label) {
  append(s, t);
  labels_.push_back(label);
}

void Vek_TimeWarp::insert_before(int k, float s, float t) {
  cached_ = -1;
  if (k < 0 || k > count_) Vek_fail("Vek_TimeWarp::insert_before out of range");
  if (k > 0 && (t < tgt_[k - 1] || s < src_[k - 1]))
    Vek_fail("Vek_TimeWarp::insert_before: inputs (%f,%f) are out of order (%f,%f) \n", s, t, src_[k - 1],
             tgt_[k - 1]);
  // The pair must also not pass the one it goes before.
  if (k < count_ && (t > tgt_[k] || s > src_[k]))
    Vek_fail("Vek_TimeWarp::insert_before: inputs (%f,%f) are out of order (%f,%f) \n", s, t, src_[k], tgt_[k]);
  src_.insert(k, s);
  tgt_.insert(k, t);
  count_++;
  if (k < (int)labels_.size()) labels_.insert(labels_.begin() + k, labels_[k] + "_s");
}

void Vek_TimeWarp::nonuniform_stretch(int k, float factor, float bkpt, int mode) {
  if (k > count_ || k < 1) Vek_fail("Vek_TimeWarp::nonuniform_stretch requested illegal segment\n");
  if (!(factor >= 0.0001f)) Vek_fail("Vek_TimeWarp::nonuniform_stretch - illegal mod factor input\n");
  bkpt = std::min(std::max(bkpt, 0.0001f), 0.9999f);
  float s0 = k < 2 ? 0 : src_[k - 2], t0 = k < 2 ? 0 : tgt_[k - 2];
  float s1 = src_[k - 1], t1 = tgt_[k - 1];
  float u = (s1 - s0) * bkpt, s, t;
  if (mode == 2) {
    s = s1 - u;
    t = t1 - factor * u;
  } else {
    s = s0 + u;
    t = t0 + factor * u;
  }
  float margin = 0.0001f * (t1 - t0);
  t = std::min(std::max(t, t0 + margin), t1 - margin);
  insert_before(k - 1, s, t);
}

float Vek_TimeWarp::map(float x, float *index, const Vek_BuffFVect &from, const Vek_BuffFVect &to,
                        const char *fn) {
  float dummy;
  float &out = index ? *index : dummy;
  if (x < 0 || count_ == 0) {
    out = 0;
    if (x < 0) cached_ = 0;
    return 0;
  }
  if (x <= from[0]) {
    out = 0;
    cached_ = 0;
    return from[0] > 0 ? x / from[0] * to[0] : to[0];
  }
  int last = count_ - 1;
  if (x >= from[last]) {
    out = (float)last;
    return to[last];
  }
  int k = (cached_ >= 0 && cached_ < last && x >= from[cached_]) ? cached_ : 0;
  while (k < last - 1 && x >= from[k + 1]) k++;
  if (!(x >= from[k] && x <= from[k + 1]))
    Vek_fail("Vek_TimeWarp::%s() problem, Lindx=%d, x_in=%f", fn, k, x);
  cached_ = k;
  float span = from[k + 1] - from[k];
  float f = span > 0 ? (x - from[k]) / span : 0;
  out = k + f;
  return (1 - f) * to[k] + f * to[k + 1];
}

float Vek_TimeWarp::fwdmap(float s, float *index) { return map(s, index, src_, tgt_, "fwdmap"); }
float Vek_TimeWarp::invmap(float t, float *index) { return map(t, index, tgt_, src_, "invmap"); }

static bool save_side(const Vek_BuffFVect &v, int n, const std::vector<std::string> &labels,
                      const std::string &filename, std::string &why) {
  std::vector<float> ends;
  for (int i = 0; i < n; i++) ends.push_back(v[i]);
  return save_Vek_labels(ends, labels, filename, -99, why);
}

bool Vek_TimeWarp::save_src(const std::string &filename, std::string &why) const {
  return save_side(src_, count_, labels_, filename, why);
}
bool Vek_TimeWarp::save_targ(const std::string &filename, std::string &why) const {
  return save_side(tgt_, count_, labels_, filename, why);
}
