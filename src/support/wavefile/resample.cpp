// Polyphase windowed-sinc resampling at the exact rational ratio of the two
// rates.
//
// Output sample n sits at input time t = n·M/L (L/M = outRate/inRate in
// lowest terms). It is the sum of the input samples around t weighted by a
// Kaiser-windowed sinc whose cutoff lies in the middle of the transition band
// [0.85, 1.0] of the lower Nyquist rate; beta and length give about 80 dB in
// the stop band. The weights for each fractional position are precomputed
// (one row per phase); when the ratio has more than kMaxPhases phases, rows
// at kMaxPhases even steps are kept and the two neighbouring rows' results
// are interpolated linearly.
#include "wavefile.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include "bigbuffer.h"
#include "yastro.h"

namespace {

const double kPassEdge = 0.85;   // of the lower Nyquist rate
const double kStopEdge = 1.0;
const double kAttenuation = 80;  // dB
const int kMaxPhases = 1024;
// Longest kernel half (input samples), about a 1:60000 rate ratio: beyond
// it the filter table alone would take hundreds of megabytes.
const double kMaxHalfWidth = 1 << 21;

double besselI0(double x) {
  double sum = 1, term = 1, q = x * x / 4;
  for (int k = 1; k < 200; k++) {
    term *= q / ((double)k * k);
    sum += term;
    if (term < sum * 1e-17) break;
  }
  return sum;
}

// Dot product of two float rows of a multiple of kLanes elements. Many
// independent partial sums keep the adds from waiting on each other; the
// AVX2/FMA build is chosen at run time where the CPU has it, since this
// loop is nearly all of the work.
const int kLanes = 16;

typedef float V8 __attribute__((vector_size(32)));

__attribute__((always_inline)) inline V8 load8(const float *p) {
  V8 v;
  memcpy(&v, p, sizeof v);
  return v;
}

__attribute__((always_inline)) inline float dotLanes(const float *a, const float *b, int n) {
  V8 s0 = {}, s1 = {}, s2 = {}, s3 = {};
  int i = 0;
  for (; i + 32 <= n; i += 32) {
    s0 += load8(a + i) * load8(b + i);
    s1 += load8(a + i + 8) * load8(b + i + 8);
    s2 += load8(a + i + 16) * load8(b + i + 16);
    s3 += load8(a + i + 24) * load8(b + i + 24);
  }
  if (i < n) {  // n is a multiple of 16
    s0 += load8(a + i) * load8(b + i);
    s1 += load8(a + i + 8) * load8(b + i + 8);
  }
  V8 s = (s0 + s1) + (s2 + s3);
  return ((s[0] + s[4]) + (s[1] + s[5])) + ((s[2] + s[6]) + (s[3] + s[7]));
}

__attribute__((target("avx2,fma"))) float dotAvx2(const float *a, const float *b, int n) {
  return dotLanes(a, b, n);
}

float dotPlain(const float *a, const float *b, int n) { return dotLanes(a, b, n); }

// Four dot products of one row with four inputs `step` apart, sharing the
// row's loads: the case of every decimation by a whole factor.
__attribute__((always_inline)) inline void dot4Lanes(const float *a, const float *b, int step, int n, float *out) {
  V8 s0 = {}, s1 = {}, s2 = {}, s3 = {}, t0 = {}, t1 = {}, t2 = {}, t3 = {};
  const float *b1 = b + step, *b2 = b + 2 * step, *b3 = b + 3 * step;
  for (int i = 0; i < n; i += 16) {
    V8 c0 = load8(a + i), c1 = load8(a + i + 8);
    s0 += c0 * load8(b + i);
    t0 += c1 * load8(b + i + 8);
    s1 += c0 * load8(b1 + i);
    t1 += c1 * load8(b1 + i + 8);
    s2 += c0 * load8(b2 + i);
    t2 += c1 * load8(b2 + i + 8);
    s3 += c0 * load8(b3 + i);
    t3 += c1 * load8(b3 + i + 8);
  }
  V8 r[4] = {s0 + t0, s1 + t1, s2 + t2, s3 + t3};
  for (int k = 0; k < 4; k++)
    out[k] = ((r[k][0] + r[k][4]) + (r[k][1] + r[k][5])) + ((r[k][2] + r[k][6]) + (r[k][3] + r[k][7]));
}

__attribute__((target("avx2,fma"))) void dot4Avx2(const float *a, const float *b, int step, int n, float *out) {
  dot4Lanes(a, b, step, n, out);
}

void dot4Plain(const float *a, const float *b, int step, int n, float *out) { dot4Lanes(a, b, step, n, out); }

using DotFn = float (*)(const float *, const float *, int);
using Dot4Fn = void (*)(const float *, const float *, int, int, float *);

bool haveAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}

const DotFn dot = haveAvx2() ? dotAvx2 : dotPlain;
const Dot4Fn dot4 = haveAvx2() ? dot4Avx2 : dot4Plain;

struct Filter {
  long L = 1, M = 1;
  int taps = 0;      // weights per row: 2H, padded with zeros to kLanes
  int H = 0;         // taps on each side of t
  long phases = 0;   // rows in the table, one per phase step
  bool interpolate = false;
  std::vector<float> table;  // (phases + 1) rows of taps

  // Half width of the kernel in input samples: it grows with the
  // downsampling ratio.
  static double halfWidth(long inRate, long outRate) {
    double ratio = std::min(1.0, (double)outRate / (double)inRate);
    double dfLower = 0.5 * (kStopEdge - kPassEdge);  // cycles per lower-rate sample
    double nLower = std::ceil((kAttenuation - 7.95) / (14.36 * dfLower));
    return (nLower / 2) / ratio;
  }

  void design(long inRate, long outRate) {
    long g = std::gcd(inRate, outRate);
    L = outRate / g;
    M = inRate / g;
    double ratio = std::min(1.0, (double)L / (double)M);
    double fc = 0.5 * ratio * (kPassEdge + kStopEdge) / 2;  // cycles per input sample
    double beta = 0.1102 * (kAttenuation - 8.7);
    double W = halfWidth(inRate, outRate);
    H = (int)std::ceil(W);
    taps = (2 * H + kLanes - 1) / kLanes * kLanes;
    interpolate = L > kMaxPhases;
    phases = interpolate ? kMaxPhases : L;
    table.assign((size_t)(phases + 1) * taps, 0.0f);
    double i0b = besselI0(beta);
    for (long q = 0; q <= phases; q++) {
      double frac = (double)q / (double)phases;
      float *row = &table[(size_t)q * taps];
      for (int j = 0; j < 2 * H; j++) {
        // Weight of input k0 - H + 1 + j for output time k0 + frac.
        double tau = frac + (H - 1) - j;
        double w = 0;
        if (std::fabs(tau) < W) {
          double u = tau / W;
          w = besselI0(beta * std::sqrt(1 - u * u)) / i0b;
        }
        double x = 2 * fc * tau;
        double sinc = x == 0 ? 1.0 : std::sin(M_PI * x) / (M_PI * x);
        row[j] = (float)(2 * fc * sinc * w);
      }
    }
  }
};

// Nearest 16-bit value (halves away from zero), clipped.
inline int16_t toSample(float v) {
  if (v >= 32767.f) return 32767;
  if (v <= -32768.f) return -32768;
  return (int16_t)(v >= 0 ? v + 0.5f : v - 0.5f);
}

}  // namespace

int Wave_resample(GS_Result *r, const int16_t *in, int count, int inRate, int outRate,
                  int16_t **out, int *outCount) {
  *out = nullptr;
  *outCount = 0;
  if (inRate <= 0 || outRate <= 0) {
    GS_AppendResult(r, "sample rates must be positive", (char *)NULL);
    return -1;
  }
  if (count < 0 || (count > 0 && !in)) {
    GS_AppendResult(r, "no samples to resample", (char *)NULL);
    return -1;
  }
  long double exact = (long double)count * outRate / inRate;
  if (exact > 2147483647.0L) {
    GS_AppendResult(r, "resampled wave would be too long", (char *)NULL);
    return -1;
  }
  int n = (int)std::floor(exact + 0.5L);
  int16_t *o = (int16_t *)Wavefile_bigBuffer(n > 0 ? (size_t)n * 2 : 2, __FILE__, __LINE__);
  if (inRate != outRate && Filter::halfWidth(inRate, outRate) > kMaxHalfWidth) {
    DB_Free(o, __FILE__, __LINE__);
    GS_AppendResult(r, "sample rates too far apart: ", std::to_string(inRate).c_str(), " Hz to ",
                    std::to_string(outRate).c_str(), " Hz", (char *)NULL);
    return -1;
  }
  if (inRate == outRate || n == 0) {
    if (n) memcpy(o, in, (size_t)n * 2);
    *out = o;
    *outCount = n;
    return 0;
  }
  Filter F;
  F.design(inRate, outRate);

  // Outputs in blocks; each block converts the input it needs to floats with
  // zeros beyond both ends, so the inner loop has no bounds tests.
  // A block's input grows with the downsampling ratio: keep it to a few
  // million samples.
  const int block = (int)std::max<long>(1, std::min<long>(4096, (1L << 22) * F.L / F.M));
  std::vector<float> x;
  for (int n0 = 0; n0 < n; n0 += block) {
    int n1 = std::min(n, n0 + block);
    long long kFirst = (long long)n0 * F.M / F.L - F.H + 1;
    // Inclusive; rows reach taps - 2H zero weights past the window.
    long long kLast = (long long)(n1 - 1) * F.M / F.L - F.H + F.taps;
    size_t span = (size_t)(kLast - kFirst + 1);
    x.assign(span, 0.0f);
    long long a = std::max<long long>(kFirst, 0), b = std::min<long long>(kLast, (long long)count - 1);
    for (long long k = a; k <= b; k++) x[(size_t)(k - kFirst)] = in[k];
    int i = n0;
    if (F.L == 1) {
      // One phase: four outputs at a time share the weights.
      for (; i + 4 <= n1; i += 4) {
        float v[4];
        dot4(&F.table[0], &x[(size_t)((long long)i * F.M - F.H + 1 - kFirst)], (int)F.M, F.taps, v);
        for (int k = 0; k < 4; k++) o[i + k] = toSample(v[k]);
      }
    }
    for (; i < n1; i++) {
      long long pos = (long long)i * F.M;
      long long k0 = pos / F.L;
      long p = (long)(pos % F.L);
      const float *seg = &x[(size_t)(k0 - F.H + 1 - kFirst)];
      float v;
      if (!F.interpolate) {
        v = dot(&F.table[(size_t)p * F.taps], seg, F.taps);
      } else {
        double where = (double)p * F.phases / F.L;
        long q = (long)where;
        float w = (float)(where - q);
        float v0 = dot(&F.table[(size_t)q * F.taps], seg, F.taps);
        float v1 = dot(&F.table[(size_t)(q + 1) * F.taps], seg, F.taps);
        v = v0 + w * (v1 - v0);
      }
      o[i] = toSample(v);
    }
  }
  *out = o;
  *outCount = n;
  return 0;
}

WaveRecord *Wave_sampleConvert(GS_Result *r, WaveRecord *wave, int rate) {
  if (!wave) {
    GS_AppendResult(r, "no wave to convert", (char *)NULL);
    return nullptr;
  }
  if (wave->infoCount < 1 || !wave->info) {
    GS_AppendResult(r, "wave has no sample rate", (char *)NULL);
    return nullptr;
  }
  float from = wave->info[0];
  if (!(from >= 1) || from > 2147483647.f) {
    GS_AppendResult(r, "wave has a bad sample rate (", std::to_string(from).c_str(), ")", (char *)NULL);
    return nullptr;
  }
  if (rate <= 0) {
    GS_AppendResult(r, "target sample rate must be positive", (char *)NULL);
    return nullptr;
  }
  // Rates are whole numbers of Hz here; a fractional source rate is taken
  // to the nearest one.
  int16_t *s = nullptr;
  int n = 0;
  if (Wave_resample(r, wave->samples, wave->len, (int)std::lround(from), rate, &s, &n) != 0)
    return nullptr;
  WaveRecord *w = (WaveRecord *)DB_Malloc(sizeof(WaveRecord), __FILE__, __LINE__);
  w->len = n;
  w->samples = s;
  w->infoCount = wave->infoCount;
  w->info = (float *)DB_Malloc(sizeof(float) * (size_t)wave->infoCount, __FILE__, __LINE__);
  memcpy(w->info, wave->info, sizeof(float) * (size_t)wave->infoCount);
  w->info[0] = (float)rate;
  return w;
}
