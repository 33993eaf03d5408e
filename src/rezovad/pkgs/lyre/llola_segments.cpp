#include "llola_segments.h"

int LlolaSegments::Find(double t) const {
  int i = -1;
  while (i + 1 < Count() && segs_[i + 1].start <= (float)t) i++;  // starts are floats
  return i;
}

int LlolaSegments::Nearest(double t) const {
  int s = Find(t);
  if (s < 0) return Count() ? 0 : -1;
  if (s + 1 >= Count() || t - segs_[s].start <= segs_[s + 1].start - t) return s;
  return s + 1;
}

bool LlolaSegments::Insert(double t, const std::string &label, int *at) {
  int s = Find(t);
  if (s >= 0 && segs_[s].start == (float)t) return false;
  segs_.insert(segs_.begin() + (s + 1), LlolaSegment{(float)t, label});
  if (active > s) active++;
  if (at) *at = s + 1;
  return true;
}

void LlolaSegments::Erase(int i) {
  segs_.erase(segs_.begin() + i);
  if (active == i) active = -1;
  else if (active > i) active--;
}

void LlolaSegments::Clear() {
  segs_.clear();
  active = -1;
}
