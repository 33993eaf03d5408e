#include "ltwod_peaks.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace {

// Rank 0 to the strongest peak, ties to the earlier one: a stable sort by
// falling strength gives the order in which picking the strongest unranked
// peak again and again would rank them. NaN strengths have no such order,
// so a line holding one is ranked by the picking itself.
void Rank(std::vector<LtwodPeak> &peaks) {
  int n = (int)peaks.size();
  bool ordered = true;
  for (const LtwodPeak &p : peaks) ordered = ordered && !std::isnan(p.strength);
  if (ordered) {
    std::vector<int> order(n);
    for (int i = 0; i < n; i++) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return peaks[a].strength > peaks[b].strength; });
    for (int r = 0; r < n; r++) peaks[order[r]].rank = r;
    return;
  }
  for (int r = 0; r < n; r++) {
    int best = -1;
    for (int i = 0; i < n; i++)
      if (peaks[i].rank < 0 && (best < 0 || peaks[i].strength > peaks[best].strength)) best = i;
    peaks[best].rank = r;
  }
}

}  // namespace

std::vector<LtwodPeak> LtwodPeaks::Split(int line, const std::vector<float> &v) {
  std::vector<LtwodPeak> out;
  int n = (int)v.size();
  if (n == 0) return out;
  float prev = -1e6f;
  bool rising = true;
  int start = 0, k = 0;
  LtwodPeak top{line, 0, 0, 0, 0, 0.0f, 0.0f, 0, -1};
  auto setTop = [&](int end, float value) {
    top.topValue = value;
    top.topEnd = end;
    top.topStart = end - 1;
    while (top.topStart > 0 && v[top.topStart - 1] == value) top.topStart--;
  };
  auto append = [&](int first, int last, int seq) {
    LtwodPeak p = top;
    p.first = first;
    p.last = last;
    p.sequence = seq;
    p.rank = -1;
    float s = 0.0f;
    for (int i = first; i <= last; i++) s += (float)(std::pow((double)v[i], 10.0) * 0.1);
    p.strength = s;
    out.push_back(p);
  };
  for (int i = 0; i < n; i++) {
    float x = v[i];
    if (rising && x < prev) {
      rising = false;
      setTop(i, prev);
    } else if (!rising && x >= prev) {
      append(start, i - 1, ++k);
      start = i;
      rising = true;
    }
    prev = x;
  }
  // A last peak still rising has its top at the line's end.
  if (rising) setTop(n, v[n - 1]);
  append(start, n - 1, k + 1);
  Rank(out);
  return out;
}

void LtwodPeaks::Compute(const float *const *data, int columns, int rows, LtwodDirection dir) {
  dir_ = dir;
  data_ = data;
  columns_ = columns;
  rows_ = rows;
  int nLines = dir == LtwodDirection::Columns ? columns : rows;
  lines_.assign(nLines, {});
  split_.assign(nLines, false);
}

void LtwodPeaks::Clear() {
  data_ = nullptr;
  columns_ = rows_ = 0;
  lines_.clear();
  split_.clear();
  cells_.clear();
}

const std::vector<LtwodPeak> *LtwodPeaks::Ensure(int line) const {
  if (line < 0 || line >= (int)lines_.size()) return nullptr;
  if (!split_[line]) {
    bool byColumn = dir_ == LtwodDirection::Columns;
    int nCells = byColumn ? rows_ : columns_;
    cells_.resize(nCells);
    for (int i = 0; i < nCells; i++) cells_[i] = byColumn ? data_[line][i] : data_[i][line];
    lines_[line] = Split(line, cells_);
    split_[line] = true;
  }
  return &lines_[line];
}

const std::vector<LtwodPeak> &LtwodPeaks::Line(int line) const {
  const std::vector<LtwodPeak> *l = Ensure(line);
  if (!l) throw std::out_of_range("LtwodPeaks::Line");
  return *l;
}

int LtwodPeaks::Count(int line) const {
  const std::vector<LtwodPeak> *l = Ensure(line);
  return l ? (int)l->size() : 0;
}

const LtwodPeak *LtwodPeaks::Find(int line, int cell) const {
  const std::vector<LtwodPeak> *l = Ensure(line);
  if (!l) return nullptr;
  for (const LtwodPeak &p : *l)
    if (cell >= p.first && cell <= p.last) return &p;
  return nullptr;
}

const LtwodPeak *LtwodPeaks::FindByNumber(int line, int sequence) const {
  const std::vector<LtwodPeak> *l = Ensure(line);
  if (!l) return nullptr;
  for (const LtwodPeak &p : *l)
    if (p.sequence == sequence) return &p;
  return nullptr;
}

int LtwodPeaks::PeakNumber(int column, int row) const {
  if (column < 0 || column >= columns_ || row < 0 || row >= rows_) return 0;
  const LtwodPeak *p = dir_ == LtwodDirection::Columns ? Find(column, row) : Find(row, column);
  return p ? p->sequence : 0;
}

bool LtwodLocalMaxAlongRow(const float *const *data, int columns, int rows, int c, int r) {
  if (c < 0 || c >= columns || r < 0 || r >= rows) return false;
  float v = data[c][r];
  int i = c - 1;
  while (i >= 0 && data[i][r] == v) i--;
  if (i >= 0 && data[i][r] > v) return false;
  i = c + 1;
  while (i < columns && data[i][r] == v) i++;
  return !(i < columns && data[i][r] > v);
}

bool LtwodLocalMaxDiagonal(const float *const *data, int columns, int rows, int c, int r) {
  if (c < 0 || c >= columns || r < 0 || r >= rows) return false;
  float v = data[c][r];
  for (int dc : {-1, 1})
    for (int dr : {-1, 1}) {
      int cc = c + dc, rr = r + dr;
      if (cc >= 0 && cc < columns && rr >= 0 && rr < rows && data[cc][rr] > v) return false;
    }
  return true;
}

void LtwodDebugLog(const std::string &path, const std::string &text) {
  static bool opened = false;
  if (path.empty()) return;
  FILE *f = fopen(path.c_str(), opened ? "a" : "w");
  if (!f) return;
  opened = true;
  fputs(text.c_str(), f);
  fclose(f);
}

std::string LtwodLogArgs(int argc, const char *const *argv) {
  std::string s = "ARGS = ";
  for (int i = 0; i < argc; i++) s += std::string(argv[i]) + " /";
  return s + "\n";
}

namespace {

struct Cluster {
  int points;
  float cx, cy;  // centre column and row
  float mass;
  bool absorbed;
  int parent = -1, heavy = -1, light = -1;
};

struct Clustering {
  float **data;
  int columns, rows;
  std::string log;
  std::vector<Cluster> all;
  std::vector<int> active, merged;
  int remaining = 0;

  int Root(int i) const {
    while (all[i].parent >= 0) i = all[i].parent;
    return i;
  }

  int FindAt(int c, int r) {
    for (int i : active)
      if ((int)all[i].cx == c && (int)all[i].cy == r) return i;
    char buf[64];
    snprintf(buf, sizeof buf, "COULD NOT FIND CLUSTER %d/%d\n", r, c);
    LtwodDebugLog(log, buf);
    return -1;
  }

  void Merge(int a, int b) {
    a = Root(a);
    b = Root(b);
    if (a == b) return;
    Cluster p = all[a];
    bool aHeavier = all[a].mass >= all[b].mass;
    p.heavy = aHeavier ? a : b;
    p.light = aHeavier ? b : a;
    p.absorbed = true;
    p.parent = -1;
    p.mass = all[a].mass + all[b].mass;
    p.points = all[a].points + all[b].points;
    if (p.mass != 0) {
      p.cx = (all[a].cx * all[a].mass + all[b].cx * all[b].mass) / p.mass;
      p.cy = (all[a].cy * all[a].mass + all[b].cy * all[b].mass) / p.mass;
    }
    all.push_back(p);
    int id = (int)all.size() - 1;
    all[a].parent = all[b].parent = id;
    merged.push_back(id);
  }

  void Neighbour(int a, int c, int r) {
    if (c < 0 || c >= columns || r < 0 || r >= rows || !(data[c][r] > 0)) return;
    int b = FindAt(c, r);
    if (b < 0 || b == a) return;
    Merge(a, b);
    if (!all[b].absorbed) {
      all[b].absorbed = true;
      remaining--;
      data[c][r] = 0;
    }
    if (!all[a].absorbed) {
      all[a].absorbed = true;
      remaining--;
      data[(int)all[a].cx][(int)all[a].cy] = 0;
    }
  }

  void Ring(int a, int ring) {
    int c = (int)all[a].cx, r = (int)all[a].cy;
    for (int rr = r - ring; rr <= r + ring; rr++) {
      Neighbour(a, c - ring, rr);
      Neighbour(a, c + ring, rr);
    }
    for (int cc = c - ring + 1; cc <= c + ring - 1; cc++) {
      Neighbour(a, cc, r - ring);
      Neighbour(a, cc, r + ring);
    }
  }
};

}  // namespace

std::vector<LtwodClusterBounds> LtwodClusterData(float **data, int columns, int rows, const std::string &log) {
  Clustering k{data, columns, rows, log, {}, {}, {}, 0};
  for (int c = 0; c < columns; c++)
    for (int r = 0; r < rows; r++)
      if (data[c][r] > 0) {
        k.all.push_back(Cluster{1, (float)c, (float)r, data[c][r], false});
        k.active.push_back((int)k.all.size() - 1);
      }
  k.remaining = (int)k.active.size();
  // Passes go on while they merge something and more than one root is left.
  while (k.active.size() > 1) {
    int maxRing = std::max(columns, rows);
    for (int ring = 1; k.remaining > 0 && ring <= maxRing; ring++) {
      std::vector<int> round = k.active;
      for (int a : round) k.Ring(a, ring);
    }
    if (k.merged.empty()) break;
    // The next pass works on the roots: those made by merging and those that
    // found no partner in this one.
    std::vector<int> next;
    for (int id : k.merged)
      if (k.all[id].parent < 0) next.push_back(id);
    for (int a : k.active)
      if (k.all[a].parent < 0 && !k.all[a].absorbed) next.push_back(a);
    k.active.clear();
    k.merged.clear();
    for (int id : next) {
      Cluster &cl = k.all[id];
      cl.absorbed = false;
      data[(int)cl.cx][(int)cl.cy] = cl.mass;
      k.active.push_back(id);
    }
    k.remaining = (int)k.active.size();
  }
  std::vector<LtwodClusterBounds> out;
  for (int root : k.active) {
    LtwodClusterBounds b{1 << 30, -(1 << 30), 1 << 30, -(1 << 30), k.all[root].mass, k.all[root].points};
    std::vector<int> stack{root};
    while (!stack.empty()) {
      const Cluster &cl = k.all[stack.back()];
      stack.pop_back();
      b.minRow = std::min(b.minRow, (int)cl.cy);
      b.maxRow = std::max(b.maxRow, (int)cl.cy);
      b.minColumn = std::min(b.minColumn, (int)cl.cx);
      b.maxColumn = std::max(b.maxColumn, (int)cl.cx);
      if (cl.heavy >= 0) stack.push_back(cl.heavy);
      if (cl.light >= 0) stack.push_back(cl.light);
    }
    out.push_back(b);
  }
  return out;
}
