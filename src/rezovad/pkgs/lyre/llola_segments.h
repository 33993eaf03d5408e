// The labelling that the segment-label widget edits: segments sorted by
// start time, each ending where the next begins (the last at the widget's
// length), with at most one active segment. Free of Tk for the tests.
#pragma once

#include <string>
#include <vector>

struct LlolaSegment {
  float start;  // ms
  std::string label;
};

class LlolaSegments {
 public:
  // Index of the last segment whose start is not after t; -1 before the first.
  int Find(double t) const;
  // The segment whose start is nearest to t (a tie goes to the earlier); -1 if none.
  int Nearest(double t) const;
  // Inserts a segment at t; false ("duplicate segment") when one starts there.
  bool Insert(double t, const std::string &label, int *at = nullptr);
  void Erase(int i);
  void Clear();

  int Count() const { return (int)segs_.size(); }
  LlolaSegment &At(int i) { return segs_[i]; }
  const LlolaSegment &At(int i) const { return segs_[i]; }
  // End of segment i: the next start, or the widget's length for the last.
  double End(int i, double length) const { return i + 1 < Count() ? segs_[i + 1].start : length; }

  int active = -1;

 private:
  std::vector<LlolaSegment> segs_;
};
