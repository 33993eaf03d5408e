// Utterance detection: input filter, envelope follower and the state
// machine, the lead-in ring and the two level calibrations.
#include "rastel.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "wavefile.h"
#include "yastro.h"

static const char *kSource = "src/tovikc/rastel/rastel";

namespace {

// Durations beyond the 32-bit sample count saturate instead of wrapping.
int msToSamples(int ms, int rate) {
  double v = std::floor((double)ms * rate * 0.001);
  return v > 2147483647.0 ? 2147483647 : v < -2147483648.0 ? (int)-2147483648LL : (int)v;
}

// The filter of rastelCompute's first step, from memory `state`.
void inputFilter(const int16_t *x, int n, float c, float &state, float *y) {
  float oneMinusC = (float)(1.0 - c);
  for (int j = 0; j < n; j++) {
    float xf = x[j];
    y[j] = xf - state;
    state = oneMinusC * xf + c * state;
  }
}

// Boundary between the background and the speech classes of positive frame
// values: two-means on their logarithms, the boundary being the geometric
// mean of the two class centres. Returns 0 when the values form one class.
float speechLevel(const float *v, int n) {
  std::vector<double> l;
  for (int i = 0; i < n; i++) l.push_back(std::log(std::max(v[i], 1e-3f)));
  if (l.size() < 2) return 0;
  std::vector<double> s(l);
  std::sort(s.begin(), s.end());
  double bg = s[s.size() / 10], sp = s[s.size() * 9 / 10];
  if (sp - bg < 0.7) return 0;  // less than 6 dB apart: no speech to tell
  for (int it = 0; it < 50; it++) {
    double cut = (bg + sp) / 2, sb = 0, ss = 0;
    int nb = 0, ns = 0;
    for (double x : l) {
      if (x < cut) { sb += x; nb++; }
      else { ss += x; ns++; }
    }
    if (!nb || !ns) break;
    double nbg = sb / nb, nsp = ss / ns;
    if (nbg == bg && nsp == sp) break;
    bg = nbg;
    sp = nsp;
  }
  if (sp - bg < 0.7) return 0;
  return (float)std::exp((bg + sp) / 2);
}

}  // namespace

RastelParams *rastelDefault(void) {
  RastelParams *p = (RastelParams *)DB_Malloc(sizeof(RastelParams), kSource, __LINE__);
  p->debug = 0;
  p->samplerate = 8000;
  p->tsilence = 500;
  p->lsilence = 5000;
  p->maxrec = 10000;
  p->backoff = 500;
  p->thi = 40;
  p->level = 0.5f;
  p->lpfrac = 0.05f;
  p->dcConstant = 300.0f;
  return p;
}

RastelState *rastelInit(const RastelParams *p) {
  RastelState *s = (RastelState *)DB_Malloc(sizeof(RastelState), kSource, __LINE__);
  memset(s, 0, sizeof *s);
  s->debug = p->debug;
  s->rate = p->samplerate;
  s->tsilence = msToSamples(p->tsilence, p->samplerate);
  s->lsilence = msToSamples(p->lsilence, p->samplerate);
  s->maxrec = msToSamples(p->maxrec, p->samplerate);
  s->thi = msToSamples(p->thi, p->samplerate);
  s->lpfrac = p->lpfrac;
  s->level = p->level;
  double denom = std::log(0.5) * (double)p->samplerate * p->dcConstant;
  // A zero rate or constant would divide by zero: the filter then passes the
  // samples unchanged (c = 0 keeps the plain difference of the default).
  s->dcCoefficient = denom != 0 ? (float)(0.001 / denom) : 0.0f;
  long long ring = (long long)msToSamples(p->backoff, p->samplerate) + msToSamples(p->thi, p->samplerate);
  rastelSetRing(s, (int)std::min<long long>(ring, 2147483647LL));
  return s;
}

void rastelSetRing(RastelState *s, int length) {
  if (s->ring) DB_Free(s->ring, kSource, __LINE__);
  s->ringLength = std::max(1, length);
  s->ring = (int16_t *)DB_Malloc((size_t)s->ringLength * sizeof(int16_t), kSource, __LINE__);
  memset(s->ring, 0, (size_t)s->ringLength * sizeof(int16_t));
  s->ringWrite = 0;
  s->started = 0;
}

int rastelReset(RastelState *s) {
  s->state = 0;
  s->mark = 0;
  s->total = 0;
  s->speechStart = 0;
  s->speechEnd = 0;
  s->startOffset = 0;
  s->endOffset = 0;
  s->envelope = 0;
  s->dcState = 0;
  s->ringWrite = 0;
  s->started = 0;
  s->confirmedInBlock = 0;
  s->endedInBlock = 0;
  memset(s->ring, 0, (size_t)s->ringLength * sizeof(int16_t));
  return 0;
}

void rastelNuke(RastelState *s) {
  if (!s) return;
  DB_Free(s->ring, kSource, __LINE__);
  DB_Free(s, kSource, __LINE__);
}

int rastelCompute(RastelState *s, const int16_t *x, int n, int16_t *envOut, int16_t *stateOut) {
  std::vector<float> y(n > 0 ? n : 0);
  float dc = s->dcState;
  if (n > 0) inputFilter(x, n, s->dcCoefficient, dc, y.data());
  s->dcState = dc;

  float thr = s->level * 1000.0f;
  float keep = (float)(1.0 - s->lpfrac);
  float env = s->envelope;
  int state = s->state, total = s->total, mark = s->mark;
  s->startOffset = 0;
  s->confirmedInBlock = 0;
  s->endedInBlock = 0;
  for (int j = 0; j < n; j++) {
    int i = total;
    env = s->lpfrac * std::fabs(y[j]) + keep * env;
    if (envOut) envOut[j] = (int16_t)std::min(env, 32767.0f);  // the trace saturates
    bool stop = false;
    if ((state == 2 || state == 3) && i - s->speechStart >= s->maxrec) {
      s->endOffset = j;
      s->speechEnd = i;
      s->endedInBlock = 1;
      state = 7;
      break;
    }
    switch (state) {
      case 0:
      case 1:
        s->ring[s->ringWrite] = x[j];
        s->ringWrite = (s->ringWrite + 1) % s->ringLength;
        if (state == 0) {
          if (env > thr) {
            state = 1;
            mark = i;
          } else if (i > s->lsilence) {
            state = 5;
            stop = true;
          }
        } else if (env < thr) {
          state = 0;
        } else if (i - mark > s->thi) {
          state = 2;
          mark = i;
          s->speechStart = i;
          s->startOffset = j;
          s->confirmedInBlock = 1;
        }
        break;
      case 2:
        if (env < thr) {
          state = 3;
          mark = i;
        }
        break;
      case 3:
        if (env > thr) {
          state = 2;
        } else if (i - mark > s->tsilence) {
          s->endOffset = j;
          s->speechEnd = i;
          s->endedInBlock = 1;
          state = 8;
          stop = true;
        }
        break;
      default:
        stop = true;
    }
    if (stop) break;
    if (stateOut) stateOut[j] = (int16_t)(100 * (state + 1));
    total++;
  }
  s->envelope = env;
  s->state = state;
  s->total = total;
  s->mark = mark;
  if (state == 0 || state == 1) return RASTEL_QUIET;
  if (state == 2 || state == 3) return RASTEL_SOUND;
  return state;
}

void rastelBuffer(RastelState *s, const WaveRecord *in, WaveRecord *out) {
  if (s->state == 5 || s->state == 0 || s->state == 1) return;
  bool over = (s->state == 7 || s->state == 8) && !s->endedInBlock;
  int stop = s->endedInBlock ? s->endOffset : in->len;
  int from = s->startOffset + (s->confirmedInBlock ? 1 : 0);
  int lead = 0;
  if (!s->started) {
    s->started = 1;
    // Every sample up to the confirming one went through the ring.
    lead = (int)std::min<long>(s->ringLength, (long)s->speechStart + 1);
  }
  int body = over ? 0 : std::max(0, stop - from);
  if (!out) return;
  int n = lead + body;
  int16_t *o = (int16_t *)DB_Malloc((size_t)std::max(n, 1) * sizeof(int16_t), kSource, __LINE__);
  for (int k = 0; k < lead; k++)
    o[k] = s->ring[((long)s->ringWrite + s->ringLength - lead + k) % s->ringLength];
  if (body) memcpy(o + lead, in->samples + from, (size_t)body * sizeof(int16_t));
  if (out->samples) DB_Free(out->samples, kSource, __LINE__);
  out->samples = o;
  out->len = n;
}

float rastelCalibrate(RastelState *s, const WaveRecord *wave) {
  int step = s->rate / 100;
  int len = wave->len;
  if (step <= 0 || len <= 0) return s->level;
  std::vector<float> y(len);
  float dc = 0;
  inputFilter(wave->samples, len, s->dcCoefficient, dc, y.data());
  std::vector<float> frame(len / step + 1, 0.0f);
  float env = 0, keep = (float)(1.0 - s->lpfrac);
  double sum = 0;
  int k = 0;
  for (int i = 0; i < len; i++) {
    env = s->lpfrac * std::fabs(y[i]) + keep * env;
    sum += env;
    if (i % step == 0) {
      frame[k++] = (float)(sum / step);
      sum = 0;
    }
  }
  float estimate = speechLevel(frame.data(), k);
  if (estimate > 0) s->level = estimate * 0.001f;
  return s->level;
}

float rastelCalibrate2(RastelState *s, const WaveRecord *wave, float *speechMean, float *backgroundMean) {
  *speechMean = *backgroundMean = 0;
  int len = wave->len;
  if (len <= 0) return s->level;
  FindSpeechParams *p = findSpeechDefault();
  p->threshold = 1.0f;
  p->maxgap = 500.0f;
  p->minspeech = 60.0f;
  p->filter = 0.005f;
  p->samplerate = wave->infoCount > 0 ? wave->info[0] : (float)s->rate;
  int begin = 0, end = 0;
  float a = 0, b = 0;
  findSpeech(wave->samples, len, p, 0, &begin, &end, &a, &b);
  DB_Free(p, __FILE__, __LINE__);

  std::vector<double> A(1000, 0.0), B(1000, 0.0);
  auto bin = [&](int16_t x) { return (long)std::floor(std::fabs(x - a) * 1000.0 / 32768.0); };
  for (int i = 0; i < len; i++) {
    long k = bin(wave->samples[i]);
    if (k >= 1000) continue;
    if (i < begin || i >= end) A[k]++;
    else if (i > begin) B[k]++;
  }
  // Ten-bin sums, in place upwards, so each uses the upper bins unsummed.
  auto tenSums = [](std::vector<double> &h) {
    for (int k = 0; k < 990; k++)
      for (int j = 1; j < 10; j++) h[k] += h[k + j];
  };
  tenSums(A);
  for (int k = 1; k < 1000; k++)
    if (A[k] > A[k - 1]) A[k] = A[k - 1];
  tenSums(B);
  double ta = 0, tb = 0;
  for (int k = 0; k < 1000; k++) { ta += A[k]; tb += B[k]; }
  if (ta <= 0 || tb <= 0) return s->level;  // no background or no speech to compare
  for (int k = 0; k < 1000; k++) { A[k] /= ta; B[k] /= tb; }
  int m = 0;
  while (m < 1000 && !(0.6 * B[m] > A[m])) m++;
  s->level = (float)((int)(m * 32768.0 / 1000.0) * 0.001);
  double ms = 0, mb = 0;
  for (int k = 0; k < 1000; k++) { ms += k * B[k]; mb += k * A[k]; }
  *speechMean = (float)(ms * 32.768);
  *backgroundMean = (float)(mb * 32.768);
  return s->level;
}
