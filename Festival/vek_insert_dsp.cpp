// Wave insertion, overwriting and background mixing.
#include "vek_insert_dsp.h"

#include <algorithm>

#include "vek_effect_dsp.h"

std::vector<short> Vekinsert_insert(const std::vector<short> &w, const std::vector<short> &f, long h) {
  long n = (long)w.size();
  std::vector<short> out;
  out.reserve(std::max(n, h) + f.size());
  out.insert(out.end(), w.begin(), w.begin() + std::min(n, h));
  if (h > n) out.resize(h, 0);
  out.insert(out.end(), f.begin(), f.end());
  if (h < n) out.insert(out.end(), w.begin() + h, w.end());
  return out;
}

std::vector<short> Vekinsert_overwrite(const std::vector<short> &w, const std::vector<short> &f, long h) {
  long n = (long)w.size();
  long l = (long)f.size();
  std::vector<short> out;
  out.reserve(std::max(n, h + l));
  out.insert(out.end(), w.begin(), w.begin() + std::min(n, h));
  if (h > n) out.resize(h, 0);
  out.insert(out.end(), f.begin(), f.end());
  if (h + l < n) out.insert(out.end(), w.begin() + h + l, w.end());
  return out;
}

std::vector<short> Vekinsert_loop(const std::vector<short> &f, long h, double endSample, bool range) {
  std::vector<short> b(f);
  if (!range || f.empty()) return b;  // an empty file would loop forever
  long l = (long)f.size();
  for (long k = 1; endSample > (double)h + (double)k * l; ++k) b.insert(b.end(), f.begin(), f.end());
  return b;
}

void Vekinsert_mix(std::vector<short> &w, const std::vector<short> &b, long h) {
  long need = h + (long)b.size();
  if ((long)w.size() < need) w.resize(need, 0);
  for (long j = 0; j < (long)b.size() && h + j < (long)w.size(); ++j) w[h + j] = Vek_clip16((double)w[h + j] + b[j]);
}
