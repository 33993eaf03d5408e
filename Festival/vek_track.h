// Time-indexed tracks of the synthesis engine.
//
// Vek_CachedTrack is a speech-tools track whose time lookups resume where the
// last one ended, so a monotone sweep of lookups is linear overall; it also
// appends with an offset (overwriting from 1 ms before the new start),
// replaces stretches of frames, smooths and smooths across joins.
// Vek_MapTrack is filled frame by frame, growing in steps.
// Vek_BuffFVect is a growable float vector with a used count.
// Times are non-decreasing in every track.
#pragma once

#include <string>
#include <vector>

#include "EST_Track.h"

class Vek_BuffFVect {
 public:
  explicit Vek_BuffFVect(int step = 8) : step_(step > 0 ? step : 8) {}
  int count() const { return (int)v_.size(); }
  float &operator[](int i) { return v_[i]; }
  float operator[](int i) const { return v_[i]; }
  void push(float x) {
    if (v_.size() == v_.capacity()) v_.reserve(v_.size() + step_);
    v_.push_back(x);
  }
  void insert(int k, float x) { v_.insert(v_.begin() + k, x); }
  void clear() { v_.clear(); }
  // Throws VekError on an empty vector.
  float last() const;

 private:
  int step_;
  std::vector<float> v_;
};

class Vek_CachedTrack : public EST_Track {
 public:
  // The last frame with t[i] < t; -1 when t <= t[0] or there are no frames.
  int index_below(float t);
  int nearest_index(float t);
  float interp_value(float t, int c);
  // Returns the number of frames overwritten.
  int append(const EST_Track &other, float offset);
  // Frames between v's first and last times become frames at v's times, all
  // channels 0. Returns the first frame after them in the old numbering.
  int replace_times(const Vek_BuffFVect &v);
  void peak_pick(int c, float t_from, float t_to, float &time, float &value);
  void smooth(int first_frame, int last_frame, int first_channel, int count, int width);
  void smooth_join_match(int L, int J, int R, int first_channel, int count);
  void smooth_join_replace(int L, int J, int R, int first_channel, int count);
  // A pulse train: 10000 at each frame time, 0 elsewhere. False when the
  // file cannot be written.
  bool save_pulses(const std::string &filename, float rate) const;

  int fill_count = 0;

 private:
  bool setup_copied_ = false;
  int cached_ = -1;
};

class Vek_MapTrack : public Vek_CachedTrack {
 public:
  Vek_MapTrack() { resize(0, 1); }
  void extend(int k);
  // Appends (time, value) at the fill count; returns the new fill count.
  int add_frame(float time, float value);
  int fill() const { return fill_; }

 private:
  bool extended_ = false;
  int fill_ = 0;
};
