// Peaks of the lines of a 2-D matrix (the 2-D display's columns and rows):
// runs of cells that rise to a top and fall to the next minimum, numbered
// along the line and ranked by strength; two local-maximum tests; and an
// agglomerative clustering of the positive cells with its debug log.
//
// What callers rely on: the matrix is data[column][row]; a minimum cell
// belongs to the peak before it; a line that never falls is one peak whose
// top is the plateau at its end (not values left from another line);
// strength is a float sum of pow(v, 10) * 0.1; rank 0 is the strongest,
// ties going to the smaller sequence number. The clustering stops when one
// root is left or a pass merges nothing (0 or 1 positive cells).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct LtwodPeak {
  int line;
  int first, last;         // cells along the line, inclusive
  int topStart, topEnd;    // plateau at the top, end exclusive
  float topValue;
  float strength;
  // 32 bits, not 16: a row of a long recording holds more than 32767 peaks.
  int32_t sequence;        // 1-based along the line
  int32_t rank;            // 0 = strongest; -1 before ranking
};

enum class LtwodDirection { Columns, Rows };

class LtwodPeaks {
 public:
  // Takes the matrix (columns x rows, data[column][row]); each line is split
  // when it is first asked for, so a long matrix loads at once. The matrix
  // must stay as it is until the next Compute or Clear.
  void Compute(const float *const *data, int columns, int rows, LtwodDirection dir);
  void Clear();
  bool Empty() const { return lines_.empty(); }

  int Count(int line) const;
  const LtwodPeak *Find(int line, int cell) const;          // null when no peak holds the cell
  const LtwodPeak *FindByNumber(int line, int sequence) const;
  const std::vector<LtwodPeak> &Line(int line) const;       // throws std::out_of_range outside
  // Sequence of the peak that holds (column, row); 0 outside or in none.
  int PeakNumber(int column, int row) const;

  // One line's peaks from its cells, ranked.
  static std::vector<LtwodPeak> Split(int line, const std::vector<float> &v);

 private:
  // The line's peaks, split now if not yet; null outside.
  const std::vector<LtwodPeak> *Ensure(int line) const;

  LtwodDirection dir_ = LtwodDirection::Columns;
  const float *const *data_ = nullptr;
  int columns_ = 0, rows_ = 0;
  mutable std::vector<std::vector<LtwodPeak>> lines_;
  mutable std::vector<bool> split_;
  mutable std::vector<float> cells_;  // one line's cells while it is split
};

bool LtwodLocalMaxAlongRow(const float *const *data, int columns, int rows, int c, int r);
bool LtwodLocalMaxDiagonal(const float *const *data, int columns, int rows, int c, int r);

// The result of a clustering: the roots left (normally one) and, per root,
// the bounds of the centres in its tree.
struct LtwodClusterBounds {
  int minRow, maxRow, minColumn, maxColumn;
  float mass;
  int points;
};
// Clusters the positive cells of data (changed in place, as the passes
// write masses into it). `log` is the debug log's path ("" for none).
std::vector<LtwodClusterBounds> LtwodClusterData(float **data, int columns, int rows, const std::string &log);

// Debug log: created on the first message of the process, appended after.
void LtwodDebugLog(const std::string &path, const std::string &text);
// "ARGS = " and each word followed by " /", then a newline.
std::string LtwodLogArgs(int argc, const char *const *argv);
