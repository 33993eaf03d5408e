// Front ends: waves and windows of samples to feature frames (see feature.h).
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dsp.h"
#include "feature.h"
#include "yastro.h"

namespace {

const int kFbankFlags = FEAT_FBANKLINEAR | FEAT_FBANKBARK | FEAT_FBANKMEL;

struct FrontEnd {
  dsp::Framer framer;
  std::unique_ptr<dsp::RealFft> fft;
  std::unique_ptr<dsp::FilterBank> bank;
  std::unique_ptr<dsp::Dct> dct;
  std::vector<double> eqloud;             // equal-loudness weight per band
  std::vector<double> rastaB, rastaA;     // RASTA numerator and denominator (a0 = 1)
  std::vector<std::vector<double>> rastaZ;  // per band, transposed direct-form state
  std::vector<double> v, spec, bands, r, a, cep;
  double prev = 0;  // the sample before inputBuffer[0]
  FrontEnd(int len, int step) : framer(len, step) {}
};

FrontEnd *priv(FeatureRecord *fe) { return static_cast<FrontEnd *>(fe->priv); }

bool fail(GS_Result *r, const std::string &msg) {
  GS_AppendResult(r, msg.c_str(), (char *)nullptr);
  return false;
}

// The output size after each stage, and the settings each stage needs.
bool plan(GS_Result *r, FeatureRecord *fe, int nfft, int *outDim) {
  const int f = fe->flags;
  int dim = fe->windowLength;
  enum { kSamples, kSpectrum, kBands, kCepstra, kAutocorr, kAr } kind = kSamples;
  if (f & FEAT_POWERSPEC) {
    dim = nfft / 2 + 1;
    kind = kSpectrum;
  }
  if (f & kFbankFlags) {
    if (kind != kSpectrum) return fail(r, "a filterbank needs \"powerspec\"");
    if (fe->filters < 1) return fail(r, "-filters must be at least 1, not " + std::to_string(fe->filters));
    if (fe->filters > nfft / 2) return fail(r, "-filters " + std::to_string(fe->filters) + " is more than the " +
                                               std::to_string(nfft / 2) + " FFT bins of a window");
    dim = fe->filters;
    kind = kBands;
  }
  if (f & FEAT_EQUALLOUD) {
    if (kind != kBands) return fail(r, "\"equalloud\" needs a filterbank");
    if (fe->filters < 3) return fail(r, "\"equalloud\" needs at least 3 filters");
    if (!(fe->exp > 0)) return fail(r, "-exp must be above 0");
  }
  if (f & FEAT_RASTA) {
    if (kind != kBands) return fail(r, "\"rasta\" needs a filterbank");
    if (!(fe->rasta > -1 && fe->rasta < 1)) return fail(r, "-rasta must lie between -1 and 1");
  }
  if ((f & (FEAT_INVDCT | FEAT_INVDFT)) == (FEAT_INVDCT | FEAT_INVDFT))
    return fail(r, "\"invdct\" and \"invdft\" exclude each other");
  if (f & FEAT_INVDCT) {
    if (kind != kBands && kind != kSpectrum) return fail(r, "\"invdct\" needs a spectrum");
    if (fe->output < 1 || fe->output > dim)
      return fail(r, "-output must lie between 1 and " + std::to_string(dim) + ", not " + std::to_string(fe->output));
    dim = fe->output;
    kind = kCepstra;
  }
  const bool ar = f & (FEAT_INVDFT | FEAT_AUTOCORR | FEAT_DURBIN | FEAT_ARCEPSTRAL | FEAT_AR2LSP | FEAT_LSP2AR);
  if (ar && (fe->order < 1 || fe->order >= fe->windowLength))
    return fail(r, "-order must lie between 1 and " + std::to_string(fe->windowLength - 1) + ", not " +
                       std::to_string(fe->order));
  if (f & FEAT_INVDFT) {
    if (kind != kBands && kind != kSpectrum) return fail(r, "\"invdft\" needs a spectrum");
    if (dim < 2) return fail(r, "\"invdft\" needs at least 2 bands");
    dim = fe->order + 1;
    kind = kAutocorr;
  }
  if ((f & FEAT_AUTOCORR) && kind != kAutocorr) {
    if (kind != kSamples) return fail(r, "\"autocorr\" works on samples, not on a spectrum");
    dim = fe->order + 1;
    kind = kAutocorr;
  }
  if (f & FEAT_DURBIN) {
    if (kind != kAutocorr) return fail(r, "\"durbin\" needs \"autocorr\" or \"invdft\"");
    dim = fe->order + 1;
    kind = kAr;
  }
  if (f & FEAT_ARCEPSTRAL) {
    if (kind != kAr) return fail(r, "\"arcepstral\" needs \"durbin\"");
    if (fe->output < 1) return fail(r, "-output must be at least 1, not " + std::to_string(fe->output));
    dim = fe->output;
    kind = kCepstra;
  } else if (f & (FEAT_AR2LSP | FEAT_LSP2AR)) {
    if (kind != kAr) return fail(r, "\"ar2lsp\" and \"lsp2ar\" need \"durbin\"");
    dim = (f & FEAT_LSP2AR) ? fe->order + 1 : fe->order;
  }
  if ((f & FEAT_GEXP) && dim < 1) return fail(r, "\"gexp\" has no coefficient to replace");
  if (f & FEAT_WENDREL) dim++;
  *outDim = dim;
  return true;
}

void processFrame(FeatureRecord *fe) {
  FrontEnd *p = priv(fe);
  const int W = fe->windowLength, f = fe->flags;
  const double *x = fe->inputBuffer, *w = fe->window;
  double *v = p->v.data();

  double e = 0, s = 0;
  if (f & FEAT_WENDREL) {
    for (int i = 0; i < W; i++) {
      e += (w[i] * x[i]) * (w[i] * x[i]);
      s += w[i] * w[i];
    }
  }
  const double dB = 10.0 * std::log10(std::max(1.0, s > 0 ? e / s : 0.0));

  if (f & FEAT_PREEMPHASIS) {
    const double a = fe->preemphasis;
    v[0] = x[0] - a * p->prev;
    for (int i = 1; i < W; i++) v[i] = x[i] - a * x[i - 1];
  } else {
    std::memcpy(v, x, sizeof(double) * W);
  }
  double energy = 0;
  for (int i = 0; i < W; i++) {
    v[i] *= w[i];
    energy += v[i] * v[i];
  }
  double *cur = v;
  int dim = W;
  if (f & FEAT_POWERSPEC) {
    p->fft->Power(v, W, p->spec.data());
    cur = p->spec.data();
    dim = p->fft->bins();
  }
  if (p->bank) {
    p->bank->Apply(cur, p->bands.data());
    cur = p->bands.data();
    dim = p->bank->size();
  }
  if (f & FEAT_EQUALLOUD) {
    for (int j = 0; j < dim; j++) cur[j] = std::pow(cur[j] * p->eqloud[j], fe->exp);
    for (int j = 0; j < fe->firstgood; j++) cur[j] = cur[fe->firstgood];
    for (int j = fe->lastfilt + 1; j < dim; j++) cur[j] = cur[fe->lastfilt];
  }
  const bool inLog = (f & FEAT_LOGSPEC) || (f & FEAT_RASTA);
  if (inLog)
    for (int j = 0; j < dim; j++) cur[j] = std::log(std::max(cur[j], 1e-10));
  if (f & FEAT_RASTA) {
    const size_t nb = p->rastaB.size(), na = p->rastaA.size(), n = std::max(nb, na);
    for (int j = 0; j < dim; j++) {
      std::vector<double> &z = p->rastaZ[j];
      const double in = cur[j];
      const double out = p->rastaB[0] * in + z[0];
      for (size_t k = 1; k < n; k++) {
        const double bk = k < nb ? p->rastaB[k] : 0, ak = k < na ? p->rastaA[k] : 0;
        z[k - 1] = bk * in - ak * out + (k < n - 1 ? z[k] : 0.0);
      }
      cur[j] = out;
    }
  }
  if (((f & FEAT_RASTA) && !(f & FEAT_LOGSPEC)) || (f & FEAT_INVLOGSPEC))
    for (int j = 0; j < dim; j++) cur[j] = std::exp(cur[j]);
  double gain = 0;
  bool arPath = false;
  if (f & FEAT_INVDCT) {
    p->dct->Apply(cur, p->cep.data());
    cur = p->cep.data();
    dim = fe->output;
  }
  if (f & FEAT_INVDFT) {
    dsp::SpectrumToAutocorr(cur, dim, p->r.data(), fe->order);
    cur = p->r.data();
    dim = fe->order + 1;
  } else if (f & FEAT_AUTOCORR) {
    dsp::Autocorr(v, W, p->r.data(), fe->order);
    cur = p->r.data();
    dim = fe->order + 1;
  }
  if (f & FEAT_DURBIN) {
    arPath = true;
    gain = dsp::Durbin(p->r.data(), fe->order, p->a.data());
    double *a = p->a.data();
    if (f & FEAT_ARCEPSTRAL) {
      dsp::LpcToCepstrum(a, fe->order, gain, p->cep.data(), fe->output);
      dsp::Lifter(p->cep.data(), fe->output, fe->emphasis);
      cur = p->cep.data();
      dim = fe->output;
    } else if (f & (FEAT_AR2LSP | FEAT_LSP2AR)) {
      std::vector<double> lsp(fe->order);
      if (dsp::LpcToLsp(a, fe->order, lsp.data()) != 0) {
        // A filter too close to instability: evenly spread frequencies (flat spectrum).
        for (int i = 0; i < fe->order; i++) lsp[i] = M_PI * (i + 1) / (fe->order + 1);
      }
      if (f & FEAT_LSP2AR) {
        dsp::LspToLpc(lsp.data(), fe->order, a);
        a[0] = gain;
        cur = a;
        dim = fe->order + 1;
      } else {
        std::memcpy(p->cep.data(), lsp.data(), sizeof(double) * fe->order);
        cur = p->cep.data();
        dim = fe->order;
      }
    } else {
      a[0] = gain;  // gain in place of the implicit 1
      cur = a;
      dim = fe->order + 1;
    }
  }
  if (f & FEAT_GEXP) cur[0] = std::log(std::fmax(arPath ? gain : energy, 1e-10));
  std::memcpy(fe->outputBuffer, cur, sizeof(double) * dim);
  if (f & FEAT_WENDREL) fe->outputBuffer[dim] = dB;
}

// Hermansky's equal-loudness curve at a frequency in Hz.
double equalLoudness(double hz) {
  const double w2 = (2 * M_PI * hz) * (2 * M_PI * hz);
  return (w2 + 56.8e6) * w2 * w2 / ((w2 + 6.3e6) * (w2 + 6.3e6) * (w2 + 0.38e9));
}

}  // namespace

extern "C" {

FeatureSettings *featureDefault(void) {
  auto *s = static_cast<FeatureSettings *>(DB_MALLOC(sizeof(FeatureSettings)));
  std::memset(s, 0, sizeof *s);
  s->order = 12;
  s->output = 13;
  s->filters = 24;
  s->samplerate = 16000;
  s->windowsize = 25.0f;
  s->framesize = 10.0f;
  s->exp = 0.33f;
  s->rasta = 0.94f;
  s->emphasis = 22.0f;
  s->preemphasis = 0.97f;
  return s;
}

FeatureRecord *featureInit(GS_Result *result, const FeatureSettings *s) {
  if (s->samplerate < 1 || s->samplerate > 384000) {
    GS_AppendResult(result, GS_Spf(0, "-samplerate must lie between 1 and 384000, not %d", s->samplerate),
                    (char *)nullptr);
    return nullptr;
  }
  const double win = std::round(s->windowsize * s->samplerate / 1000.0);
  const double step = std::round(s->framesize * s->samplerate / 1000.0);
  if (!(win >= 2 && win <= 1 << 20)) {
    GS_AppendResult(result, GS_Spf(0, "-windowsize %g ms gives %g samples: a window needs 2 to 1048576",
                                   (double)s->windowsize, win), (char *)nullptr);
    return nullptr;
  }
  if (!(step >= 1 && step <= 1 << 20)) {
    GS_AppendResult(result, GS_Spf(0, "-framesize %g ms gives %g samples: a frame step needs 1 to 1048576",
                                   (double)s->framesize, step), (char *)nullptr);
    return nullptr;
  }
  int flags = s->flags;
  if (s->scale) flags = (flags & ~kFbankFlags) | (s->scale & kFbankFlags);
  const int banks = flags & kFbankFlags;
  if (banks & (banks - 1)) {
    GS_AppendResult(result, "choose one filterbank scale: \"fbanklinear\", \"fbankbark\" or \"fbankmel\"",
                    (char *)nullptr);
    return nullptr;
  }
  const int windows = flags & (FEAT_HAMMING | FEAT_HANNING | FEAT_RECTANGLE | FEAT_TRIANGLE);
  if (windows & (windows - 1)) {
    GS_AppendResult(result, "choose one window: \"hamming\", \"hanning\", \"rectangle\" or \"triangle\"",
                    (char *)nullptr);
    return nullptr;
  }
  const double nyq = s->samplerate / 2.0;
  const double lo = s->lfreq, hi = s->ufreq > 0 ? s->ufreq : nyq;
  if (banks && !(lo >= 0 && hi <= nyq && lo < hi)) {
    GS_AppendResult(result, GS_Spf(0, "filterbank edges must satisfy 0 <= lfreq < ufreq <= %g Hz", nyq),
                    (char *)nullptr);
    return nullptr;
  }
  if ((flags & FEAT_PREEMPHASIS) && !(s->preemphasis >= 0 && s->preemphasis <= 1)) {
    GS_AppendResult(result, "-preemphasis must lie between 0 and 1", (char *)nullptr);
    return nullptr;
  }
  if (!(s->emphasis >= 0)) {
    GS_AppendResult(result, "-emphasis (the cepstral lifter) must not be negative", (char *)nullptr);
    return nullptr;
  }
  if ((flags & FEAT_RASTA) && s->iirCount > 0 && !(s->iir[0] != 0)) {
    GS_AppendResult(result, "-iirinit must start with a non-zero coefficient", (char *)nullptr);
    return nullptr;
  }

  auto *fe = static_cast<FeatureRecord *>(DB_MALLOC(sizeof(FeatureRecord)));
  std::memset(fe, 0, sizeof *fe);
  fe->flags = flags;
  fe->filtershape = s->filtershape;
  fe->windowLength = (int)win;
  fe->frameStep = (int)step;
  fe->order = s->order;
  fe->output = s->output;
  fe->exp = s->exp;
  fe->preemphasis = s->preemphasis;
  fe->rasta = s->rasta;
  fe->lfreq = lo;
  fe->ufreq = hi;
  fe->emphasis = s->emphasis;
  fe->filters = s->filters;
  fe->framesize = s->framesize;
  fe->windowsize = s->windowsize;
  fe->samplerate = s->samplerate;
  fe->firstgood = 0;
  fe->lastfilt = s->filters - 1;
  if (flags & FEAT_EQUALLOUD) {
    fe->firstgood = 1;
    fe->lastfilt = s->filters - 2;
  }
  const int nfft = dsp::NextPow2(fe->windowLength);
  int outDim = 0;
  if (!plan(result, fe, nfft, &outDim)) {
    DB_FREE(fe);
    return nullptr;
  }
  auto *p = new FrontEnd(fe->windowLength, fe->frameStep);
  fe->priv = p;
  dsp::Window kind = dsp::Window::kRectangle;
  if (flags & FEAT_HAMMING) kind = dsp::Window::kHamming;
  if (flags & FEAT_HANNING) kind = dsp::Window::kHanning;
  if (flags & FEAT_TRIANGLE) kind = dsp::Window::kTriangle;
  std::vector<double> w = dsp::MakeWindow(kind, fe->windowLength);
  fe->inputDim = fe->windowLength;
  fe->outputDim = outDim;
  fe->window = static_cast<double *>(DB_MALLOC(sizeof(double) * fe->windowLength));
  std::memcpy(fe->window, w.data(), sizeof(double) * fe->windowLength);
  fe->inputBuffer = static_cast<double *>(DB_MALLOC(sizeof(double) * fe->windowLength));
  std::memset(fe->inputBuffer, 0, sizeof(double) * fe->windowLength);
  // The output buffer holds the largest stage, so any stage can work in it.
  const int big = std::max({fe->windowLength, nfft / 2 + 1, fe->order + 2, fe->output + 1, outDim});
  fe->outputBuffer = static_cast<double *>(DB_MALLOC(sizeof(double) * big));
  std::memset(fe->outputBuffer, 0, sizeof(double) * big);
  p->v.assign(fe->windowLength, 0.0);
  p->spec.assign(nfft / 2 + 1, 0.0);
  p->bands.assign(std::max(1, fe->filters), 0.0);
  p->r.assign(fe->order + 2, 0.0);
  p->a.assign(fe->order + 2, 0.0);
  p->cep.assign(big, 0.0);
  if (flags & FEAT_POWERSPEC) p->fft.reset(new dsp::RealFft(nfft));
  if (banks) {
    dsp::Scale sc = banks == FEAT_FBANKMEL ? dsp::Scale::kMel : banks == FEAT_FBANKBARK ? dsp::Scale::kBark
                                                                                          : dsp::Scale::kLinear;
    p->bank.reset(new dsp::FilterBank(sc, fe->filters, nfft, fe->samplerate, lo, hi, fe->filtershape == 2,
                                      flags & FEAT_FBANKNORM));
    for (int j = 0; j < fe->filters; j++) p->eqloud.push_back(equalLoudness(p->bank->centreHz(j)));
  }
  if (flags & FEAT_INVDCT) {
    const int bands = banks ? fe->filters : nfft / 2 + 1;
    p->dct.reset(new dsp::Dct(bands, fe->output, fe->emphasis));
  }
  if (flags & FEAT_RASTA) {
    p->rastaB = s->firCount > 0 ? std::vector<double>(s->fir, s->fir + s->firCount)
                                : std::vector<double>{0.2, 0.1, 0.0, -0.1, -0.2};
    p->rastaA = s->iirCount > 0 ? std::vector<double>(s->iir, s->iir + s->iirCount)
                                : std::vector<double>{1.0, -s->rasta};
    const double a0 = p->rastaA[0];
    for (double &b : p->rastaB) b /= a0;
    for (double &a : p->rastaA) a /= a0;
    const size_t n = std::max(p->rastaB.size(), p->rastaA.size());
    p->rastaZ.assign(fe->filters, std::vector<double>(n, 0.0));
  }
  return fe;
}

void featureReset(FeatureRecord *fe) {
  FrontEnd *p = priv(fe);
  p->framer.Reset();
  p->prev = 0;
  for (auto &z : p->rastaZ) std::fill(z.begin(), z.end(), 0.0);
}

int featureFrames(FeatureRecord *fe, int samples) {
  const int64_t n = priv(fe)->framer.Frames(samples < 0 ? 0 : samples);
  return n > 0x7fffffff ? 0x7fffffff : (int)n;
}

int featureComputeSamples(FeatureRecord *fe, const int16_t *samples, int count, float **output) {
  FrontEnd *p = priv(fe);
  if (count > 0) p->framer.Append(samples, count);
  int rows = 0;
  while (output && p->framer.Next(fe->inputBuffer, &p->prev)) {
    processFrame(fe);
    for (int j = 0; j < fe->outputDim; j++) output[rows][j] = (float)fe->outputBuffer[j];
    rows++;
  }
  p->framer.Keep();  // the caller's samples go away after this call
  return rows;
}

int featureCompute(FeatureRecord *fe, const WaveRecord *wave, float **output) {
  return featureComputeSamples(fe, wave->samples, wave->len, output);
}

void featureFrame(FeatureRecord *fe) {
  // A window on its own: nothing came before it.
  priv(fe)->prev = 0;
  processFrame(fe);
}

void featureNuke(FeatureRecord *fe) {
  if (!fe) return;
  delete priv(fe);
  DB_FREE(fe->window);
  DB_FREE(fe->inputBuffer);
  DB_FREE(fe->outputBuffer);
  DB_FREE(fe);
}

}  // extern "C"
