#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>

#include "ltwod_peaks.h"

namespace {

// A matrix data[column][row] built from columns given bottom to top.
struct Matrix {
  std::vector<std::vector<float>> cols;
  std::vector<float *> ptrs;
  explicit Matrix(std::vector<std::vector<float>> c) : cols(std::move(c)) {
    for (auto &col : cols) ptrs.push_back(col.data());
  }
  float **data() { return ptrs.data(); }
  int columns() const { return (int)cols.size(); }
  int rows() const { return cols.empty() ? 0 : (int)cols[0].size(); }
};

}  // namespace

TEST(LtwodPeaks, lines_split_into_ranked_peaks) {
  struct Want {
    int first, last, topStart, topEnd;
    float top;
    int rank;
  };
  struct Case {
    std::vector<float> line;
    std::vector<Want> peaks;
    const char *why;
  } cases[] = {
      {{1, 3, 5, 4, 2, 3, 6, 1}, {{0, 4, 2, 3, 5, 1}, {5, 7, 6, 7, 6, 0}}, "a minimum belongs to the peak before it"},
      {{1, 4, 4, 4, 2}, {{0, 4, 1, 4, 4, 0}}, "a plateau top"},
      {{1, 2, 3, 4}, {{0, 3, 3, 4, 4, 0}}, "a line that never falls is one peak topped at its end"},
      {{1, 2, 1, 1, 2, 1}, {{0, 2, 1, 2, 2, 0}, {3, 5, 4, 5, 2, 1}}, "equal strength: the earlier ranks first"},
      {{2, 1, 3}, {{0, 1, 0, 1, 2, 1}, {2, 2, 2, 3, 3, 0}}, "a falling start"},
  };
  for (const Case &c : cases) {
    std::vector<LtwodPeak> p = LtwodPeaks::Split(0, c.line);
    ASSERT_EQ(p.size(), c.peaks.size()) << c.why;
    for (size_t i = 0; i < p.size(); i++) {
      EXPECT_EQ(p[i].sequence, (int)i + 1) << c.why;
      EXPECT_EQ(p[i].first, c.peaks[i].first) << c.why;
      EXPECT_EQ(p[i].last, c.peaks[i].last) << c.why;
      EXPECT_EQ(p[i].topStart, c.peaks[i].topStart) << c.why;
      EXPECT_EQ(p[i].topEnd, c.peaks[i].topEnd) << c.why;
      EXPECT_EQ(p[i].topValue, c.peaks[i].top) << c.why;
      EXPECT_EQ(p[i].rank, c.peaks[i].rank) << c.why;
    }
  }
  // Strength: a float sum of v^10 / 10.
  std::vector<LtwodPeak> p = LtwodPeaks::Split(0, {1, 2, 1});
  EXPECT_FLOAT_EQ(p[0].strength, 0.1f + 102.4f + 0.1f);
}

TEST(LtwodPeaks, positions_answer_the_peak_of_their_column_or_row) {
  Matrix m({{1, 3, 5, 4, 2, 3, 6, 1}, {1, 1, 1, 1, 1, 1, 1, 9}});
  LtwodPeaks cols;
  cols.Compute(m.data(), m.columns(), m.rows(), LtwodDirection::Columns);
  EXPECT_EQ(cols.Count(0), 2);
  EXPECT_EQ(cols.PeakNumber(0, 4), 1);
  EXPECT_EQ(cols.PeakNumber(0, 5), 2);
  EXPECT_EQ(cols.PeakNumber(1, 7), 1);
  EXPECT_EQ(cols.PeakNumber(2, 0), 0);  // outside
  EXPECT_EQ(cols.PeakNumber(0, -1), 0);
  ASSERT_NE(cols.FindByNumber(0, 2), nullptr);
  EXPECT_EQ(cols.FindByNumber(0, 2)->first, 5);
  EXPECT_EQ(cols.FindByNumber(0, 3), nullptr);
  LtwodPeaks rows;
  EXPECT_EQ(rows.PeakNumber(0, 0), 0);  // none computed
  rows.Compute(m.data(), m.columns(), m.rows(), LtwodDirection::Rows);
  EXPECT_EQ(rows.Count(7), 1);
  EXPECT_EQ(rows.Find(7, 1)->topStart, 1);  // row 7 is 1 9: rises to its end
  EXPECT_EQ(rows.PeakNumber(1, 7), 1);
}

namespace {

// Ranks as first written: pick the strongest unranked peak again and again,
// the earlier of equals first.
std::vector<int> PickedRanks(std::vector<LtwodPeak> peaks) {
  for (LtwodPeak &p : peaks) p.rank = -1;
  for (int r = 0; r < (int)peaks.size(); r++) {
    int best = -1;
    for (int i = 0; i < (int)peaks.size(); i++)
      if (peaks[i].rank < 0 && (best < 0 || peaks[i].strength > peaks[best].strength)) best = i;
    peaks[best].rank = (int16_t)r;
  }
  std::vector<int> out;
  for (const LtwodPeak &p : peaks) out.push_back(p.rank);
  return out;
}

bool SamePeak(const LtwodPeak &a, const LtwodPeak &b) {
  auto same = [](float x, float y) { return x == y || (std::isnan(x) && std::isnan(y)); };
  return a.line == b.line && a.first == b.first && a.last == b.last && a.topStart == b.topStart &&
         a.topEnd == b.topEnd && same(a.topValue, b.topValue) && same(a.strength, b.strength) &&
         a.sequence == b.sequence && a.rank == b.rank;
}

}  // namespace

TEST(LtwodPeaks, lines_split_when_asked_equal_the_whole_matrix_split_at_once) {
  // Few distinct values make many peaks of equal strength; gaps, infinities
  // and NaN cells are there as a loaded spectrogram may hold them.
  std::mt19937 gen(11);
  std::uniform_int_distribution<int> level(0, 5), odd(0, 40);
  const int columns = 60, rows = 45;
  std::vector<std::vector<float>> cols(columns, std::vector<float>(rows));
  for (auto &col : cols)
    for (float &v : col) {
      int k = odd(gen);
      v = k == 0   ? -1e11f
          : k == 1 ? std::numeric_limits<float>::infinity()
          : k == 2 ? std::numeric_limits<float>::quiet_NaN()
                   : level(gen) * 0.5f;
    }
  Matrix m(cols);
  for (LtwodDirection dir : {LtwodDirection::Columns, LtwodDirection::Rows}) {
    bool byColumn = dir == LtwodDirection::Columns;
    int nLines = byColumn ? columns : rows, nCells = byColumn ? rows : columns;
    LtwodPeaks lazy;
    lazy.Compute(m.data(), columns, rows, dir);
    // Asked out of order, some lines through a cell, others whole.
    for (int k = 0; k < nLines; k++) {
      int l = (k * 37) % nLines;
      std::vector<float> cells(nCells);
      for (int i = 0; i < nCells; i++) cells[i] = byColumn ? cols[l][i] : cols[i][l];
      std::vector<LtwodPeak> want = LtwodPeaks::Split(l, cells);
      ASSERT_EQ(lazy.Count(l), (int)want.size()) << "line " << l;
      const std::vector<LtwodPeak> &got = lazy.Line(l);
      std::vector<int> ranks = PickedRanks(want);
      for (size_t i = 0; i < want.size(); i++) {
        EXPECT_TRUE(SamePeak(got[i], want[i])) << "line " << l << " peak " << i;
        EXPECT_EQ(got[i].rank, ranks[i]) << "line " << l << " peak " << i;
      }
      for (int c = 0; c < nCells; c++) {
        const LtwodPeak *p = lazy.Find(l, c);
        ASSERT_NE(p, nullptr);
        EXPECT_TRUE(c >= p->first && c <= p->last);
      }
    }
  }
  LtwodPeaks none;
  none.Compute(m.data(), columns, rows, LtwodDirection::Columns);
  EXPECT_EQ(none.Find(columns, 0), nullptr);
  EXPECT_THROW(none.Line(-1), std::out_of_range);
  none.Clear();
  EXPECT_TRUE(none.Empty());
  EXPECT_EQ(none.Count(0), 0);
}

TEST(LtwodPeaks, ranking_a_long_line_keeps_ties_in_line_order) {
  // Thousands of peaks of a handful of strengths: the order of ranks must
  // be the picking order exactly.
  std::vector<float> line;
  for (int i = 0; i < 6000; i++) line.push_back(i % 2 ? 0.0f : (float)((i * 7) % 5));
  std::vector<LtwodPeak> p = LtwodPeaks::Split(0, line);
  ASSERT_GT(p.size(), 1000u);
  std::vector<int> want = PickedRanks(p);
  for (size_t i = 0; i < p.size(); i++) ASSERT_EQ(p[i].rank, want[i]) << "peak " << i;
}

TEST(LtwodPeaks, a_row_of_more_than_32767_peaks_keeps_its_numbers) {
  // Eleven minutes at 100 frames a second: a row alternating up and down.
  std::vector<float> line;
  for (int i = 0; i < 70000; i++) line.push_back(i % 2 ? 0.0f : 1.0f + (float)(i % 7));
  std::vector<LtwodPeak> p = LtwodPeaks::Split(0, line);
  ASSERT_EQ(p.size(), 35000u);
  EXPECT_EQ(p.back().sequence, 35000);
  std::vector<bool> seen(p.size(), false);
  for (const LtwodPeak &q : p) {
    ASSERT_GE(q.rank, 0);
    ASSERT_LT(q.rank, (int)p.size());
    seen[q.rank] = true;
  }
  EXPECT_EQ(std::count(seen.begin(), seen.end(), true), (long)p.size());
}

TEST(LtwodPeaks, local_maximum_tests) {
  Matrix m({{0, 1, 0}, {2, 5, 2}, {2, 5, 9}, {0, 1, 0}});
  EXPECT_TRUE(LtwodLocalMaxAlongRow(m.data(), 4, 3, 1, 1));   // 5 5 plateau, then smaller
  EXPECT_FALSE(LtwodLocalMaxAlongRow(m.data(), 4, 3, 0, 2));  // 0 then 2
  EXPECT_TRUE(LtwodLocalMaxAlongRow(m.data(), 4, 3, 2, 2));   // 9 at the top edge of its row
  EXPECT_FALSE(LtwodLocalMaxDiagonal(m.data(), 4, 3, 1, 1));  // 9 on the diagonal
  EXPECT_TRUE(LtwodLocalMaxDiagonal(m.data(), 4, 3, 2, 2));
  EXPECT_FALSE(LtwodLocalMaxDiagonal(m.data(), 4, 3, 4, 0));  // outside
}

TEST(LtwodClusters, positive_cells_merge_into_one_tree) {
  Matrix m({{1, 0, 0, 0}, {1, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 2}});
  std::vector<LtwodClusterBounds> roots = LtwodClusterData(m.data(), m.columns(), m.rows(), "");
  ASSERT_EQ(roots.size(), 1u);
  EXPECT_EQ(roots[0].points, 3);
  EXPECT_FLOAT_EQ(roots[0].mass, 4.0f);
  EXPECT_EQ(roots[0].minColumn, 0);
  EXPECT_EQ(roots[0].maxColumn, 3);
  EXPECT_EQ(roots[0].minRow, 0);
  EXPECT_EQ(roots[0].maxRow, 3);
}

TEST(LtwodClusters, no_or_one_positive_cell_ends) {
  Matrix empty({{0, 0}, {-1, 0}});
  EXPECT_TRUE(LtwodClusterData(empty.data(), 2, 2, "").empty());
  Matrix one({{0, 0}, {0, 3}});
  std::vector<LtwodClusterBounds> roots = LtwodClusterData(one.data(), 2, 2, "");
  ASSERT_EQ(roots.size(), 1u);
  EXPECT_EQ(roots[0].points, 1);
}

TEST(LtwodClusters, debug_log_is_created_then_appended) {
  std::string path = testing::TempDir() + "ltwod_debug.out";
  std::remove(path.c_str());
  const char *args[] = {"w", "label", "new"};
  LtwodDebugLog(path, LtwodLogArgs(3, args));
  LtwodDebugLog(path, "second\n");
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  EXPECT_EQ(s.str(), "ARGS = w /label /new /\nsecond\n");
}
