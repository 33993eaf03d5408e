// Line-spectral frequencies and predictor coefficients, both ways.
//
// An LPC vector of order p (even) holds p + 1 values a[0..p], a[0] = 1, for
// A(z) = sum a[k] z^-k. An LSF vector holds p angles in radians: first the
// p/2 root angles of the difference polynomial A(z) - z^-(p+1) A(1/z), then
// the p/2 of the sum polynomial A(z) + z^-(p+1) A(1/z), each half in
// descending order. Unit databases and the voice-conversion map use this
// layout.
//
// LPC to LSF finds the polynomial roots by Laguerre's method with deflation
// and polishing; a root the search cannot reach in 650 steps makes the
// conversion report failure (and a warning goes to standard output).
// The stopping rule works to double precision (a float-sized tolerance
// leaves angles 1e-4 rad off on order-16 frames with close pairs).
// Orders above 98 are refused with VekError: the root finder's work arrays
// are sized for degree 99.
#pragma once

#include <string>
#include <vector>

class EST_Track;

struct Vek_Complex {
  double re, im;
};

Vek_Complex complex_make(double re, double im);
Vek_Complex complex_polar(double r, double a);
Vek_Complex complex_add(Vek_Complex a, Vek_Complex b);
Vek_Complex complex_sub(Vek_Complex a, Vek_Complex b);
Vek_Complex complex_mul(Vek_Complex a, Vek_Complex b);
Vek_Complex complex_div(Vek_Complex a, Vek_Complex b);
Vek_Complex complex_scale(double s, Vek_Complex a);
double complex_abs(Vek_Complex a);
// In (-pi, pi]; 0 for 0.
double complex_arg(Vek_Complex a);
// A square root: the principal one for re >= 0; for re < 0 the root with
// the positive imaginary part when im >= 0 and its negation when im < 0,
// so -4 - 1e-300i gives about +2i (Laguerre's step uses both signs).
Vek_Complex complex_sqrt(Vek_Complex a);

// One root of sum a[i] x^i (i = 0 .. m) from the start value x. Returns 1 on
// convergence, 0 after 650 iterations (with the warning).
int laguer(const Vek_Complex *a, int m, Vek_Complex &x);
// All m roots of poly (m + 1 coefficients) into roots[1 .. m]; throws when m
// is not in 1 .. 99. Returns the last root search's result.
int poly_roots(const Vek_Complex *poly, int m, Vek_Complex *roots, bool polish);
// Roots of a real polynomial, then every second of their sorted absolute
// angles: degree / 2 ascending angles into out.
int roots_to_lsf(const double *poly, int degree, double *out);

class Vek_LSF_to_LPC {
 public:
  explicit Vek_LSF_to_LPC(int order);
  int order() const { return p_; }
  // p LSFs to p + 1 LPC values.
  void lsf_to_lpc(const double *lsf, double *lpc);
  void convert(const std::vector<double> &lsfs, std::vector<double> &lpcs);
  void convert_float(const std::vector<float> &lsfs, std::vector<float> &lpcs);
  // out = product over k < m of (1 - 2 cos(w[k]) z^-1 + z^-2): 2m + 1 values.
  static void poly_from_cosines(const double *w, int m, double *out);

 private:
  int p_;
  std::vector<double> d_, s_;
};

class Vek_LPC_to_LSF {
 public:
  explicit Vek_LPC_to_LSF(int order);
  int order() const { return p_; }
  // a[0] is taken as 1 whatever it holds. Returns 1 when every root was found.
  int lpc_to_lsf(const double *lpc, double *lsf);
  // lsfs is resized to lpcs.size() - 1 (with a note on standard error) when
  // the two disagree.
  int convert(const std::vector<double> &lpcs, std::vector<double> &lsfs);
  int convert_float(const std::vector<float> &lpcs, std::vector<float> &lsfs);

 private:
  int p_;
  std::vector<double> c_, ang_;
};

// Bandwidth expansion: a[i] *= factor[i] for i >= 1.
class Vek_LPC_bwexp {
 public:
  // factor[k] = g^k for k = 0 .. order.
  Vek_LPC_bwexp(int order, double g);
  void expand(std::vector<double> &lpc) const;
  void expand_float(std::vector<float> &lpc) const;

 private:
  std::vector<double> factor_;
};

// Names channels first .. first+count-2 prefix0, prefix1, .. and channel
// first+count-1 prefix + "N". Returns first + count.
int set_LSF_channel_names(EST_Track &t, int count, const std::string &prefix, int first);
// An LSF track (p channels, optionally followed by "E") to an LPC track of
// p + 1 channels, channel 0 named "E" holding the input's energy.
void lsf_track_to_lpc(const EST_Track &lsf, EST_Track &lpc);
// An LPC track (energy, a1..ap) to an LSF track with an "E" channel. A frame
// whose roots are not found repeats the previous good frame (zeros first).
void lpc_track_to_lsf(const EST_Track &lpc, EST_Track &lsf);
