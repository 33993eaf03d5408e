// Unit databases of the residual-LPC voices: the unit dictionary, the unit
// data (residual, pitch marks, LSF frames per unit) and the named registry.
//
// Callers rely on: every failure throws VekError and leaves the registry and
// the active database as they were; databases live in the registry (no Lisp
// value refers to one), so replacing a database never leaves a dangling
// reference; group files are read through checked counts only.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "EST_Track.h"
#include "EST_Wave.h"
#include "festival.h"
#include "vek_file.h"

class VekdbUnits {
 public:
  int Nunits() const { return (int)names.size(); }
  // Reads a unitdic; times in ms become samples at rate.
  void load_unitdic(const std::string &file, float rate);
  int seg_bound(int u, int i) const { return i == 0 ? segB[u] : segends[u][i - 1]; }
  int seg_end(int u, int i) const { return segends[u][i]; }
  void resize(int n);
  void write(FILE *fp) const;
  void read(FILE *fp, bool swap);

  std::vector<std::string> names, files;
  std::vector<int32_t> Lindx, Rindx, segB;
  std::vector<uint8_t> Lbnd, Rbnd;
  std::vector<std::vector<std::string>> segnames;
  std::vector<std::vector<int32_t>> segends;
};

class Vekdbase;

class VekresLPC_db {
 public:
  explicit VekresLPC_db(int n);
  int load_dbUnit(int u, Vekdbase &db);
  bool loaded(int u) const { return exc_ok[u] && pm_ok[u] && lpc_ok[u]; }
  void free_unit(int u);
  void free_loaded_units();
  void load_gain_file(const std::string &file, const VekdbUnits &units);
  void load_separate(int u, Vekdbase &db);
  void apply_gain(int u);
  void trim_to_exc(int u, int left, int right, float rate);
  void write_unit(int u, FILE *fp, bool compressed);
  void read_unit(int u, FILE *fp, bool swap);
  // Throws the unloaded-unit error when u is out of range or not loaded.
  void check_loaded(int u, const char *what) const;

  std::vector<EST_Wave> exc;
  std::vector<int32_t> excB, excE, exc_off, pm_off, lpc_off;
  std::vector<EST_Track> pm, lpc;
  std::vector<uint8_t> exc_ok, pm_ok, lpc_ok;
  std::vector<float> gain0, gain1;
  std::vector<int> on_demand;
};

class Vekdbase {
 public:
  ~Vekdbase();
  enum { DIRECT = 0, DYNAMIC = 1, ONDEMAND = 2 };
  void set_params(LISP params, bool header_only);
  void build_from_files();
  // The header (items up to the data type), then the rest.
  void load_group(const std::string &file);
  void load_group_body();
  void save_group(const std::string &file);
  void build_hash();
  int unit_index(const std::string &name) const;
  std::string file_path(const char *dir, const char *ext, int u) const;

  std::string name = "db";
  int access_mode = DIRECT;
  bool swap = false, grouped = false, compressed = true;
  float samp_freq = 16000;
  VekOptions params, fparams;
  FILE *group = nullptr;
  VekdbUnits units;
  std::unordered_map<std::string, int> hash;
  std::unique_ptr<VekresLPC_db> udata;
  int data_type = 0;
};

// The active database, or null.
Vekdbase *Vekdbase_active();
bool Vekdbase_loaded();
// Index of a unit name in the active database; -1 when absent.
int Vekdbase_unit_index(const std::string &name);
