// Pitch marks from a laryngograph signal: the sharpest falls of its
// derivative near the negative-going zero crossings of a voicing signal,
// described by three measures, split into two classes by two-means, then
// pruned to the expected pitch range.
//
// Callers rely on: the result is in samples, in time order; every setting
// that the analysis divides by or sizes a window from is checked, and a bad
// one throws VekError naming it. When a two-means class becomes empty the
// old centre is kept and the clustering stops (a mean of nothing has no
// value).
#pragma once

#include <string>
#include <vector>

struct VekPmarkSettings {
  double guess_F0 = 0;          // Hz, expected pitch
  double F0_range_factor = 0;   // the pitch may be this much above or below
  double dlx_search_factor = 0; // search half-width around a crossing, in periods
  double Vbias = 1;             // > 1 favours the "mark" class
  double xcorr_winsz_msec = -1; // half-width of the similarity window; < 0: 100 samples
  int xcorr_max_range = 3;      // neighbours compared on each side
  std::string lx_sign = "up_is_closed_glottis";
  std::vector<double> pre_num, pre_den;  // laryngograph pre-filter (forward-backward)
  std::vector<double> vuv_num, vuv_den;  // voicing filter (forward-backward)
  std::vector<double> diff;              // centred FIR differentiator
};

// Similarity of x around p and around q, triangular weights, half-width at
// most W (shrunk to fit the signal); 0 when less than one sample fits.
double xcorr_at(const std::vector<double> &x, long p, long q, long W);
// The index in [from, to) of the smallest x weighted by a ramp rising to 1 at
// mid and falling after it; from when nothing is below 32767.
long weighted_min_index(const std::vector<double> &x, long from, long mid, long to);
// One 0/1 class per row of features (columns scaled by their spread).
std::vector<int> class_2cluster(const std::vector<std::vector<double>> &features, double Vbias);
// Removes isolated marks and one of each pair closer than the shortest
// period; returns the number of marks found too close (0: nothing to do).
int pmark_prune_by_F0(std::vector<long> &marks, double rate, double guess_F0, double F0_range_factor);
// The marks of one laryngograph signal, in samples.
std::vector<long> pmark_analyse_lx(const std::vector<double> &lx, double rate, const VekPmarkSettings &s);
