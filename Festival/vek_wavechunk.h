// The excitation store and the pitch-period buffer of the synthesis engine.
//
// Vek_WaveChunk keeps the residual waves of the selected units one after the
// other in one 16-bit store, with the stretch (chunk) of each that belongs to
// the concatenated excitation and where that chunk starts on the
// concatenated axis. A period cut around a concatenated position may use the
// unit's own samples outside its chunk but never a neighbour's.
//
// Vek_PitchSyncBuffer holds one period as doubles around a mark. Its end
// never passes its capacity: asking for more warns and clamps, so nothing is
// written beyond the samples it owns.
#pragma once

#include <string>
#include <vector>

class EST_Wave;

class Vek_PitchSyncBuffer {
 public:
  explicit Vek_PitchSyncBuffer(int nbuf);
  int Nbuf() const { return (int)samples_.size(); }
  int mark = 0;
  int end() const { return end_; }
  // Warns on standard error and clamps when e is beyond Nbuf (or below 0).
  void set_end(int e);
  void clear();
  double &operator[](int i) { return samples_[i]; }
  double operator[](int i) const { return samples_[i]; }
  double log_energy_tri() const;
  double log_energy_trap() const;
  // Samples 0 .. end-1 times scale, saturated to 16 bits. False when the
  // file cannot be written.
  bool save_riff(const std::string &filename, int rate, double scale) const;

 private:
  int end_ = 0;
  std::vector<double> samples_;
};

// Weights 0, 1/count, 2/count .. (direction 1) or 1, 1 - 1/count .. (-1).
double ramp_weighted_energy(const double *x, int count, int direction);
double sum_squares(const double *x, int count);

class Vek_WaveChunk {
 public:
  Vek_WaveChunk();
  int rate() const { return rate_; }
  int used() const { return used_; }
  const std::vector<short> &store() const { return store_; }
  const std::vector<int> &chunk_begins() const { return cb_; }
  const std::vector<int> &chunk_ends() const { return ce_; }
  const std::vector<int> &output_begins() const { return ob_; }
  const std::vector<int> &wave_offsets() const { return wo_; }

  // Adds samples begin .. end of a unit wave as a new chunk, or extends the
  // last chunk with them when join is set. Throws VekError when begin .. end
  // is not inside the wave.
  void append(const EST_Wave &w, int begin, int end, bool join);
  void copy_samples(int back, const EST_Wave &w, int from);
  void adjust_segE(int k);
  // The chunk holding concatenated position p, -1 outside.
  int find_chunk(int p) const;
  // One excitation period around concatenated position p, at most left
  // samples before and right from it, placed at mark in B.
  void fill_buffer(int p, int left, int right, int mark, int right_len, Vek_PitchSyncBuffer &B) const;
  // The whole wave as the only chunk; throws VekError when it cannot be read.
  void load(const std::string &filename);
  bool save_chunks(const std::string &filename, std::string &why) const;
  // The whole store (nist) and three labels per chunk: the unit wave before
  // the chunk, the chunk (named with its concatenated start in ms), the rest.
  bool save_debug(const std::string &filename, std::string &why) const;

 private:
  void grow(int need);
  int rate_ = 16000, used_ = 0;
  std::vector<short> store_;
  std::vector<int> cb_, ce_, ob_{0}, wo_{0};
};
