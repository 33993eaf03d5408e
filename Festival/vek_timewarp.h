// The piecewise-linear map between source time (the concatenated units) and
// target time (the utterance's segments), anchored at (0, 0).
//
// Both breakpoint sequences stay non-decreasing: append and insert_before
// refuse pairs out of order with VekError. A lookup that meets breakpoints
// out of order (which the two guards make impossible) throws as well, naming
// the segment and the time; no files are written.
#pragma once

#include <string>
#include <vector>

#include "vek_track.h"

class Vek_TimeWarp {
 public:
  void append(float s, float t);
  void append_labelled(float s, float t, const std::string &label);
  void insert_before(int k, float s, float t);
  // Bends segment k (breakpoints k-2 .. k-1): mode 2 maps the last part of
  // the segment (bkpt of its source length) to factor times its length;
  // any other mode the first part.
  void nonuniform_stretch(int k, float factor, float bkpt, int mode);
  float fwdmap(float s, float *index = nullptr);
  float invmap(float t, float *index = nullptr);
  float targ_end() const { return count_ ? tgt_[count_ - 1] : 0.0f; }
  int count() const { return count_; }
  float src(int k) const { return src_[k]; }
  float targ(int k) const { return tgt_[k]; }
  const std::vector<std::string> &labels() const { return labels_; }
  // "vek" label files of one side; false with why when not written.
  bool save_src(const std::string &filename, std::string &why) const;
  bool save_targ(const std::string &filename, std::string &why) const;

 private:
  float map(float x, float *index, const Vek_BuffFVect &from, const Vek_BuffFVect &to, const char *fn);
  Vek_BuffFVect src_{8}, tgt_{8};
  int count_ = 0, cached_ = -1;
  std::vector<std::string> labels_;
};
