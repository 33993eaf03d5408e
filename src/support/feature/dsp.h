/* The signal-processing core shared by the feature library, the MFCC
 * encoder and the sample filters: framing that carries leftover samples
 * across calls, windows, FFT power spectra, linear/bark/mel filterbanks,
 * DCT cepstra, LPC (autocorrelation, Levinson-Durbin, cepstra, line
 * spectral pairs), and a frame history for filters that look at past and
 * future frames.
 *
 * Contract:
 *  - Framer: frame i covers stream samples [i*step, i*step + length).
 *    Samples may arrive in blocks of any size (also 0); the frames that
 *    come out are the same as for one block. Frames(n) tells how many
 *    frames n more samples complete, before they are appended. Each frame
 *    also gives the sample before it (0 at the stream's start), so that
 *    pre-emphasis runs over the stream, not per frame.
 *  - FrameHistory: output frame t may read input frames t-past .. t+future;
 *    an index before the first frame reads the first frame, one past the
 *    last (only on a flush) reads the last. Due(n, flush) is the count of
 *    output frames that n more input frames release; a flush releases all.
 *  - RealFft: power spectrum |X(k)|^2, k = 0 .. n/2, of a block zero-padded
 *    to n (a power of two) through FFTW. Plans are made once per object.
 *  - FilterBank: `count` filters spaced evenly on the chosen scale between
 *    low and high Hz; triangular (peak 1 at the centre, zero at the
 *    neighbours' centres) or trapezoidal (flat over the middle half).
 *    Normalised filters have weights that sum to 1.
 *  - Dct: c[k] = sqrt(2/n) * sum_j x[j] cos(pi k (j + 0.5) / n), times the
 *    lifter 1 + L/2 sin(pi k / L) for k >= 1 when L > 0.
 *  - Durbin returns the prediction error and a[0..order] with a[0] = 1 and
 *    the predictor x[t] ~ -sum_{i>=1} a[i] x[t-i]; a zero-energy frame gives
 *    a[i] = 0 and error 0.
 */
#ifndef TOVIK_DSP_H
#define TOVIK_DSP_H

#include <stdint.h>

#include <deque>
#include <memory>
#include <vector>

namespace dsp {

/* The 16-bit sample nearest to v, clipped. */
inline int16_t ToSample(double v) {
  v = v < 0 ? v - 0.5 : v + 0.5;
  return (int16_t)(v >= 32767 ? 32767 : v <= -32768 ? -32768 : (int)v);
}

enum class Window { kRectangle, kHamming, kHanning, kTriangle };
std::vector<double> MakeWindow(Window kind, int length);

int NextPow2(int n);

class RealFft {
 public:
  explicit RealFft(int n);
  ~RealFft();
  RealFft(const RealFft &) = delete;
  RealFft &operator=(const RealFft &) = delete;
  int size() const { return n_; }
  int bins() const { return n_ / 2 + 1; }
  void Power(const double *in, int len, double *out);

 private:
  struct Impl;
  int n_;
  std::unique_ptr<Impl> impl_;
};

enum class Scale { kLinear, kBark, kMel };
double HzToScale(Scale s, double hz);
double ScaleToHz(Scale s, double v);

class FilterBank {
 public:
  FilterBank(Scale scale, int count, int nfft, double rate, double low, double high, bool trapezoid,
             bool normalise);
  int size() const { return (int)bands_.size(); }
  double centreHz(int j) const { return centres_[j]; }
  void Apply(const double *power, double *out) const;

 private:
  struct Band {
    int first;
    std::vector<double> w;
  };
  std::vector<Band> bands_;
  std::vector<double> centres_;
};

/* The cepstral lifter 1 + L/2 sin(pi k / L) for k >= 1 (1 for c0 or L <= 0). */
double LifterWeight(int k, double L);
void Lifter(double *cep, int ncep, double L);

/* DCT-II with its cosines and lifter weights worked out once. */
class Dct {
 public:
  Dct(int n, int ncep, double lifter);
  void Apply(const double *in, double *out) const;

 private:
  int n_, ncep_;
  std::vector<double> table_;  // ncep x n, lifter and norm folded in
};
void Autocorr(const double *x, int n, double *r, int order);
double Durbin(const double *r, int order, double *a);
void LpcToCepstrum(const double *a, int order, double gain, double *c, int ncep);
/* Line spectral frequencies (radians, ascending) of a[0..order]; 0 when
 * all order roots were found on the unit circle, else -1. */
int LpcToLsp(const double *a, int order, double *lsp);
void LspToLpc(const double *lsp, int order, double *a);
/* Autocorrelation r[0..order] of a power spectrum sampled evenly from 0 to
 * the Nyquist frequency at n points. */
void SpectrumToAutocorr(const double *p, int n, double *r, int order);

class Framer {
 public:
  Framer(int length, int step) : length_(length), step_(step) {}
  int length() const { return length_; }
  int step() const { return step_; }
  int64_t Frames(int64_t n) const;
  /* Frames are read from the block in place: it must stay valid until Keep
   * (or the next Append), which copies the samples still needed. */
  void Append(const int16_t *s, int64_t n);
  void Keep();
  /* Copies the next complete frame into frame[length] and the sample before
   * it into *prev; false when none is complete. */
  bool Next(double *frame, double *prev);
  void Reset();

 private:
  int16_t at(size_t i) const { return i < buf_.size() ? buf_[i] : block_[i - buf_.size()]; }
  size_t size() const { return buf_.size() + (size_t)blockLen_; }
  int length_, step_;
  std::vector<int16_t> buf_;        /* kept samples, then the block: one sequence */
  const int16_t *block_ = nullptr;
  int64_t blockLen_ = 0;
  size_t pos_ = 0;     /* start of the next frame in that sequence */
  int64_t skip_ = 0;   /* samples still to drop when step > length */
  double before_ = 0;  /* the sample before the sequence's first */
};

class FrameHistory {
 public:
  FrameHistory(int dim, int past, int future) : dim_(dim), past_(past), future_(future) {}
  int dim() const { return dim_; }
  int future() const { return future_; }
  int64_t held() const { return total_ - emitted_; }
  int64_t Due(int64_t n, bool flush) const;
  void Push(const float *row);
  void PushDouble(const double *row);
  /* Frame emitted + offset, clamped to the frames seen. */
  const double *At(int64_t offset) const;
  void Advance();
  void Reset();

 private:
  int dim_, past_, future_;
  std::deque<std::vector<double>> frames_;
  int64_t base_ = 0, total_ = 0, emitted_ = 0;
};

}  // namespace dsp

#endif
