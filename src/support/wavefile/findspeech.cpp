// Zero trimming and an energy-based speech finder for one block of samples.
#include "wavefile.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "yastro.h"

void eatZeroes(const int16_t *samples, int count, int *begin, int *end) {
  int b = 0, e = count - 1;
  while (b < count && samples[b] == 0) b++;
  while (e > b && samples[e] == 0) e--;
  if (b >= count) {
    *begin = 0;
    *end = -1;
    return;
  }
  *begin = b;
  *end = e;
}

FindSpeechParams *findSpeechDefault(void) {
  FindSpeechParams *p = (FindSpeechParams *)DB_Malloc(sizeof(FindSpeechParams), __FILE__, __LINE__);
  p->threshold = 2.0f;
  p->maxgap = 300.0f;
  p->minspeech = 100.0f;
  p->timeout = 0.0f;
  p->filter = 0.0f;
  p->minstdv = 16.0f;
  p->maxstdv = 4000.0f;
  p->samplerate = 8000.0f;
  return p;
}

namespace {

// A parameter that is not a number, or below its floor, falls back.
float sane(float v, float floorValue, float fallback) {
  return (v == v && v >= floorValue && std::isfinite(v)) ? v : fallback;
}

struct Run {
  int from, to;  // frames, [from, to)
};

}  // namespace

void findSpeech(const int16_t *samples, int count, const FindSpeechParams *p, int pipelined,
                int *begin, int *end, float *a, float *b) {
  *begin = *end = 0;
  *a = *b = 0.0f;
  if (!samples || count <= 0 || !p) return;

  float rate = sane(p->samplerate, 1.0f, 8000.0f);
  float threshold = sane(p->threshold, 0.0f, 2.0f);
  float maxgap = sane(p->maxgap, 0.0f, 0.0f);
  float minspeech = sane(p->minspeech, 0.0f, 0.0f);
  float timeout = sane(p->timeout, 0.0f, 0.0f);
  float filter = std::min(sane(p->filter, 0.0f, 0.0f), 1.0f);
  float lo = sane(p->minstdv, 0.0f, 0.0f), hi = sane(p->maxstdv, 0.0f, 1e9f);
  if (hi < lo) std::swap(lo, hi);

  double sum = 0;
  for (int i = 0; i < count; i++) sum += samples[i];
  double offset = sum / count;
  *a = (float)offset;

  // Each frame is measured by its own standard deviation, which ignores the
  // offset and any drift slower than a frame without the lag a running DC
  // tracker would leave after loud parts.
  int frame = std::max(1, (int)std::lround(rate * 0.01));
  int nf = (count + frame - 1) / frame;
  std::vector<float> level(nf);
  double prev = offset;
  for (int f = 0; f < nf; f++) {
    int s0 = f * frame, s1 = std::min(count, s0 + frame);
    double sum1 = 0, sum2 = 0;
    for (int i = s0; i < s1; i++) {
      double y = samples[i] - filter * prev;
      prev = samples[i];
      sum1 += y;
      sum2 += y * y;
    }
    int m = s1 - s0;
    double var = sum2 / m - (sum1 / m) * (sum1 / m);
    level[f] = (float)std::sqrt(var > 0 ? var : 0);
  }

  std::vector<float> sorted(level);
  size_t k = sorted.size() / 10;
  std::nth_element(sorted.begin(), sorted.begin() + k, sorted.end());
  float bg = std::min(std::max(sorted[k], lo), hi);
  *b = bg;

  float seed = bg * (1 + threshold), grow = bg * (1 + threshold / 3);
  std::vector<Run> runs;
  for (int f = 0; f < nf;) {
    if (level[f] <= grow) { f++; continue; }
    int g = f;
    bool seeded = false;
    while (g < nf && level[g] > grow) seeded |= level[g++] > seed;
    if (seeded) runs.push_back({f, g});
    f = g;
  }
  if (runs.empty()) return;

  double msPerFrame = frame * 1000.0 / rate;
  // Durations in frames, held within the block (a huge value means "all").
  auto frames = [&](double v) { return (int)std::min<double>(v, nf + 1.0); };
  int gapFrames = frames(std::floor(maxgap / msPerFrame));
  std::vector<Run> joined;
  for (const Run &r : runs) {
    if (!joined.empty() && r.from - joined.back().to <= gapFrames) joined.back().to = r.to;
    else joined.push_back(r);
  }
  int minFrames = frames(std::ceil(minspeech / msPerFrame));
  int limit = timeout > 0 ? frames(std::ceil(timeout / msPerFrame)) : nf;
  std::vector<Run> kept;
  for (const Run &r : joined) {
    bool atEdge = pipelined && (r.from == 0 || r.to == nf);
    if (r.to - r.from < minFrames && !atEdge) continue;
    if (kept.empty() && r.from >= limit) break;
    kept.push_back(r);
  }
  if (kept.empty()) return;
  *begin = kept.front().from * frame;
  *end = std::min(count, kept.back().to * frame);
}
