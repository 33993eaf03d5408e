// Voice conversion by a Gaussian mixture with one linear regression per
// component: y = sum_i p(i | x) (W_i x + b_i), on a warped frequency scale.
//
// Callers rely on: a load that fails for any reason (missing file, wrong
// magic, a file shorter than its counts, matrices whose shapes do not fit
// together) leaves the previous map in place; posteriors are computed in the
// log domain, so frames far from every component still get the weights of
// the nearest ones rather than equal weights.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "vek_matrix.h"

class EST_Track;

class Vek_GMM {
 public:
  int n() const { return n_; }
  int dimension() const { return dim_; }
  void init(int n);
  void clear();
  // name + ".gmm"; false (with the message on standard error) on failure.
  bool load(const std::string &name);
  // Throws VekError on a short or inconsistent file.
  void read(FILE *f, bool swap);
  void write(FILE *f) const;
  void print(FILE *f) const;
  void posteriors(const Vek_Matrix &X, Vek_Matrix &P) const;
  void map(const Vek_Matrix &X, Vek_Matrix &Y) const;

  Vek_Matrix prior;
  std::vector<Vek_Matrix> means, covs, weights, biases;

 private:
  int n_ = 0, dim_ = 0;
};

constexpr int32_t VEK_GMM_MAGIC = 0x416C7801;

// The process-wide map.
Vek_GMM &resLPC_vc_map();
// Loads the process-wide map; throws "could not load voice conversion
// mapping file NAME" on failure.
void resLPC_load_vc_map(const std::string &name);
// Every frame of an LSF track (its channels first .. first+count-1) through
// the map, in place; throws when the map does not fit count channels.
void resLPC_vc_map_lsf(EST_Track &t, int first, int count);
