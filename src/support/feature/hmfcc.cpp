// HTK-style MFCC frames with a normalised log energy (see feature.h).
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "dsp.h"
#include "feature.h"
#include "yastro.h"

namespace {
const int kCeps = 12;
const double kLifter = 22.0, kPreemph = 0.97, kSilFloorDb = 50.0, kEScale = 0.1;
}  // namespace

struct MFCCFrontEnd {
  int window, step, channels, nfft;
  double rate;
  std::vector<double> hamming, frame, work;  // work: power spectrum, then bands
  std::unique_ptr<dsp::RealFft> fft;
  std::unique_ptr<dsp::FilterBank> bank;
  std::unique_ptr<dsp::Dct> dct;
};

extern "C" {

MFCCSettings *MFCCDefault(void) {
  auto *s = static_cast<MFCCSettings *>(DB_MALLOC(sizeof(MFCCSettings)));
  s->window = 250000;
  s->samplePeriod = 625;
  s->framePeriod = 100000;
  s->channels = 26;
  return s;
}

MFCCFrontEnd *MFCCInitParam(GS_Result *r, const MFCCSettings *s) {
  if (s->samplePeriod < 1 || s->window < 1 || s->framePeriod < 1) {
    GS_AppendResult(r, "-mfccWindow, -mfccSmpPeriod and -mfccFramePeriod must be above 0", (char *)nullptr);
    return nullptr;
  }
  const long window = std::lround((double)s->window / s->samplePeriod);
  const long step = std::lround((double)s->framePeriod / s->samplePeriod);
  if (window < 2 || window > 1 << 20 || step < 1) {
    GS_AppendResult(r, GS_Spf(0, "the window holds %ld samples and the frame period %ld: need 2 to 1048576 and 1",
                              window, step), (char *)nullptr);
    return nullptr;
  }
  const int nfft = dsp::NextPow2((int)window);
  if (s->channels < kCeps || s->channels > nfft / 2) {
    GS_AppendResult(r, GS_Spf(0, "-mfccChlNum must lie between %d and %d, not %d", kCeps, nfft / 2, s->channels),
                    (char *)nullptr);
    return nullptr;
  }
  auto *fe = new MFCCFrontEnd;
  fe->window = (int)window;
  fe->step = (int)step;
  fe->channels = s->channels;
  fe->nfft = nfft;
  fe->rate = 1e7 / s->samplePeriod;
  fe->hamming = dsp::MakeWindow(dsp::Window::kHamming, fe->window);
  fe->frame.assign(fe->window, 0.0);
  fe->work.assign(nfft / 2 + 1 + fe->channels, 0.0);
  fe->fft.reset(new dsp::RealFft(nfft));
  fe->dct.reset(new dsp::Dct(fe->channels, kCeps + 1, kLifter));
  return fe;
}

int MFCCInitFBank(MFCCFrontEnd *fe, double scale) {
  if (!(scale > 0)) return 1;
  fe->bank.reset(new dsp::FilterBank(dsp::Scale::kMel, fe->channels, fe->nfft, fe->rate * scale, 0.0,
                                     fe->rate / 2, false, false));
  return 0;
}

int MFCCFrameNum(const MFCCFrontEnd *fe, int samples) {
  return samples < fe->window ? 0 : 1 + (samples - fe->window) / fe->step;
}

int MFCCFramePeriod(const MFCCFrontEnd *fe) { return fe->step; }
double MFCCRate(const MFCCFrontEnd *fe) { return fe->rate; }
int MFCCCepDim(const MFCCFrontEnd *) { return kCeps + 1; }
double *MFCCWork(MFCCFrontEnd *fe) { return fe->work.data(); }

double MFCCApplyFFT(MFCCFrontEnd *fe, const int16_t *samples, double *work) {
  const int n = fe->window;
  double *x = fe->frame.data();
  double energy = 0;
  for (int i = 0; i < n; i++) {
    x[i] = samples[i];
    energy += x[i] * x[i];
  }
  for (int i = n - 1; i > 0; i--) x[i] -= kPreemph * x[i - 1];
  x[0] *= 1.0 - kPreemph;
  for (int i = 0; i < n; i++) x[i] *= fe->hamming[i];
  double *spec = work, *bands = work + fe->nfft / 2 + 1;
  fe->fft->Power(x, n, spec);
  for (int k = 0; k <= fe->nfft / 2; k++) spec[k] = std::sqrt(spec[k]);
  if (fe->bank) fe->bank->Apply(spec, bands);
  return std::log(std::max(energy, 1e-10));
}

void MFCCFinal(MFCCFrontEnd *fe, double *work, double energy, float *row) {
  const int nc = fe->channels;
  double *bands = work + fe->nfft / 2 + 1;
  for (int j = 0; j < nc; j++) bands[j] = std::log(std::max(bands[j], 1.0));
  double cep[kCeps + 1];
  fe->dct->Apply(bands, cep);
  for (int k = 1; k <= kCeps; k++) row[k - 1] = (float)cep[k];
  row[kCeps] = (float)energy;
}

void MFCCNormEnergy(MFCCFrontEnd *, float **rows, int n) {
  if (n < 1) return;
  float mx = rows[0][kCeps];
  for (int i = 1; i < n; i++) mx = std::max(mx, rows[i][kCeps]);
  const double floor = mx - kSilFloorDb * std::log(10.0) / 10.0;
  for (int i = 0; i < n; i++) {
    const double e = std::max((double)rows[i][kCeps], floor);
    rows[i][kCeps] = (float)(1.0 - (mx - e) * kEScale);
  }
}

void MFCCNuke(MFCCFrontEnd *fe) { delete fe; }

}  // extern "C"
