// The `urvane` and `fwave` commands: pitch pulses and marks, speech-gated
// log energy, per-frame periodicity and f0, and float waves.
#include <tcl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "cmds.h"
#include "container.h"
#include "feature.h"
#include "obj.h"
#include "pardel.h"
#include "seg.h"
#include "urvane.h"
#include "yastro.h"

namespace {

const char *kSource = "src/rezovad/pkgs/urvane/urvaneCmd";

struct FWaveRecord {
  float *samples;
  float *info;
  int32_t count;
  int32_t infoCount;
};

int fail(Tcl_Interp *interp, const std::string &message) {
  Tcl_SetResult(interp, (char *)message.c_str(), TCL_VOLATILE);
  return TCL_ERROR;
}

FWaveRecord *fwaveNew(int count, float rate) {
  FWaveRecord *f = static_cast<FWaveRecord *>(DB_Malloc(sizeof(FWaveRecord), kSource, __LINE__));
  f->count = std::max(count, 0);
  f->samples = static_cast<float *>(DB_Malloc((size_t)std::max(count, 1) * sizeof(float), kSource, __LINE__));
  std::fill(f->samples, f->samples + f->count, 0.0f);
  f->infoCount = 2;
  f->info = static_cast<float *>(DB_Malloc(2 * sizeof(float), kSource, __LINE__));
  f->info[0] = rate;
  f->info[1] = 0;
  return f;
}

void fwaveFree(void *r) {
  FWaveRecord *f = static_cast<FWaveRecord *>(r);
  DB_Free(f->samples, kSource, __LINE__);
  DB_Free(f->info, kSource, __LINE__);
  DB_Free(f, kSource, __LINE__);
}

void *fwaveClone(const void *r) {
  const FWaveRecord *f = static_cast<const FWaveRecord *>(r);
  FWaveRecord *c = fwaveNew(f->count, f->info[0]);
  std::copy(f->samples, f->samples + f->count, c->samples);
  return c;
}

void markerFree(void *r) { urvane_Nuke(static_cast<Urvane *>(r)); }

const CntrType kFwaveType = {"urvane/fwave", "fwave", nullptr, fwaveFree, fwaveClone, nullptr, nullptr, nullptr};
const CntrType kMarkerType = {"urvane/urvane", "urvane", nullptr, markerFree, nullptr, nullptr, nullptr, nullptr};

template <class T>
T *get(Tcl_Interp *interp, const char *type, const char *name) {
  return static_cast<T *>(Obj_GetData(interp, type, name));
}

float waveRate(const WaveRecord *w) { return w->infoCount > 0 && w->info ? w->info[0] : 8000.0f; }

// Registers f, releasing it on failure.
bool registerFwave(Tcl_Interp *interp, FWaveRecord *f) {
  if (Obj_Create(interp, "urvane/fwave", f) == TCL_OK) return true;
  fwaveFree(f);
  return false;
}

bool usableFeature(Tcl_Interp *interp, const FeatureRecord *fe) {
  if (fe->frameStep < 1 || fe->windowLength < 1 || !(fe->framesize > 0) || !(fe->samplerate > 0)) {
    fail(interp, "the front end's frame step, window and frame size must be positive");
    return false;
  }
  return true;
}

int InitCmd(ClientData, Tcl_Interp *interp, int, const char **) {
  UrvaneParams *p = urvane_Default();
  Urvane *u = urvane_Init(p);
  DB_Free(p, kSource, __LINE__);
  if (Obj_Create(interp, "urvane/urvane", u) != TCL_OK) {
    urvane_Nuke(u);
    return TCL_ERROR;
  }
  return TCL_OK;
}

int ResetCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *n = nullptr;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "urvaneob %s", &n)) return TCL_ERROR;
  Urvane *u = get<Urvane>(interp, "urvane/urvane", n);
  if (!u) return TCL_ERROR;
  urvane_Reset(u);
  return TCL_OK;
}

int PulseCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *un = nullptr, *wn = nullptr;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "urvaneob %s wave %s", &un, &wn)) return TCL_ERROR;
  Urvane *u = get<Urvane>(interp, "urvane/urvane", un);
  WaveRecord *w = u ? get<WaveRecord>(interp, "wave", wn) : nullptr;
  if (!w) return TCL_ERROR;
  FWaveRecord *out = fwaveNew(w->len, waveRate(w));
  if (!registerFwave(interp, out)) return TCL_ERROR;
  urvane_PulseTrain(u, w, out->samples);
  return TCL_OK;
}

int MarkCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *in = nullptr, *pn = nullptr;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "inwave %s urvane %s", &in, &pn)) return TCL_ERROR;
  FWaveRecord *x = get<FWaveRecord>(interp, "urvane/fwave", in);
  FWaveRecord *p = x ? get<FWaveRecord>(interp, "urvane/fwave", pn) : nullptr;
  if (!p) return TCL_ERROR;
  if (p->count != x->count) return fail(interp, "the signal and the pulse train differ in length");
  WaveRecord *w = urvane_Mark(x->samples, p->samples, x->count, x->info[0]);
  std::vector<float> marks;
  for (int i = 0; i < w->len; i++)
    if (w->samples[i] > 0) marks.push_back((float)i);
  if (Obj_Create(interp, "wave", w) != TCL_OK) {
    Wave_Free(w);
    return TCL_ERROR;
  }
  std::string wname = Tcl_GetStringResult(interp);
  MxMatrix *m = Mx_create();
  int code = TCL_ERROR;
  if (Mx_setReal(interp, nullptr, 1, (int)marks.size(), m) == 0) {
    std::copy(marks.begin(), marks.end(), m->real[0]);
    Tcl_Obj *l = Tcl_NewListObj(0, nullptr);
    Tcl_ListObjAppendElement(interp, l, Tcl_NewStringObj(wname.c_str(), -1));
    Tcl_ListObjAppendElement(interp, l, Tcl_GetObjResult(interp));
    Tcl_SetObjResult(interp, l);
    code = TCL_OK;
  }
  Mx_destroy(m);
  return code;
}

// urvane segment feature wave: log energy of the frames labelled speech.
int SegmentCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *fn = nullptr, *wn = nullptr;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "featureob %s wave %s", &fn, &wn)) return TCL_ERROR;
  FeatureRecord *fe = get<FeatureRecord>(interp, "feature/feature", fn);
  WaveRecord *w = fe ? get<WaveRecord>(interp, "wave", wn) : nullptr;
  if (!w || !usableFeature(interp, fe)) return TCL_ERROR;
  int step = fe->frameStep, W = fe->windowLength, n = w->len / step;
  std::vector<float> e;
  for (int start = 0; start < w->len; start += step) {
    double E = 0;
    int b = start - W / 2;
    for (int k = 0; k < W; k++)
      if (b + k >= 0 && b + k < w->len) {
        double v = w->samples[b + k] * fe->window[k];
        E += v * v;
      }
    e.push_back((float)std::log(std::max(E, 1.0) / W));
  }
  SegParams *p = segDefault();
  p->index = 0;
  p->framesz = (int)std::floor(1000.0 / fe->framesize);
  p->winsz = (int)std::floor(3000.0 / fe->framesize);
  p->speech = 0.0f;
  p->background = -3.0f;
  p->ceil = 100.0f;
  p->floor = 0.0f;
  GS_Result *r = GS_CreateResult();
  SegState *s = segInit(r, p);
  DB_Free(p, kSource, __LINE__);
  if (!s) {
    fail(interp, r->text ? r->text : "segInit failed");
    GS_DeleteResult(r);
    return TCL_ERROR;
  }
  int frames = (int)e.size();
  std::vector<float *> rows(frames);
  for (int i = 0; i < frames; i++) rows[i] = &e[i];
  std::vector<float> labels(std::max(frames, 1));
  float *lr = labels.data();
  segPipe(r, s, frames, 1, rows.data(), &lr);
  segNuke(s);
  GS_DeleteResult(r);
  FWaveRecord *out = fwaveNew(n + 1, (float)(1.0 / (fe->framesize * 0.001)));
  for (int i = 0; i < frames && i < n + 1; i++) out->samples[i] = labels[i] >= 1.0f ? e[i] : 0.0f;
  return registerFwave(interp, out) ? TCL_OK : TCL_ERROR;
}

int MedianCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *in = nullptr;
  int width = 5;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "input %s -median %i", &in, &width)) return TCL_ERROR;
  FWaveRecord *x = get<FWaveRecord>(interp, "urvane/fwave", in);
  if (!x) return TCL_ERROR;
  if (width < 1) return fail(interp, "the median width must be at least 1");
  FWaveRecord *out = fwaveNew(x->count, x->info[0]);
  if (!registerFwave(interp, out)) return TCL_ERROR;
  medianFilter(x->samples, out->samples, x->count, width);
  return TCL_OK;
}

// urvane periodicity feature signal energy ?out? -voicing v
int PeriodicityCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *fn = nullptr, *sn = nullptr, *en = nullptr, *out = nullptr;
  float voicing = 0.3f;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "featureob %s fwave %s energy %s outvec ?s -voicing %f", &fn, &sn, &en,
                     &out, &voicing))
    return TCL_ERROR;
  FeatureRecord *fe = get<FeatureRecord>(interp, "feature/feature", fn);
  FWaveRecord *x = fe ? get<FWaveRecord>(interp, "urvane/fwave", sn) : nullptr;
  FWaveRecord *en_ = x ? get<FWaveRecord>(interp, "urvane/fwave", en) : nullptr;
  if (!en_ || !usableFeature(interp, fe)) return TCL_ERROR;
  int step = fe->frameStep, W = fe->windowLength, rows = x->count / step + 1;
  int lagMin = (int)std::floor(fe->samplerate * 0.003), lagMax = (int)std::floor(fe->samplerate * 0.02);
  lagMax = std::min(lagMax, W);
  MxMatrix *m = Mx_create();
  if (Mx_setReal(interp, out, rows, 3, m)) {
    Mx_destroy(m);
    return TCL_ERROR;
  }
  double *buf = fe->inputBuffer;
  for (int f = 0; f < rows; f++) {
    float *row = m->real[f];
    row[0] = row[1] = row[2] = 0;
    int start = f * step;
    // Frames past the energy contour count as closed.
    if (start >= x->count || f >= en_->count || !(en_->samples[f] >= 1.0f) || lagMax <= lagMin) continue;
    std::fill(buf, buf + W, 0.0);
    int b = start - W / 2;
    double S = 0;
    for (int k = 0; k < W; k++)
      if (b + k >= 0 && b + k < x->count) {
        buf[k] = x->samples[b + k];
        S += buf[k] * buf[k];
      }
    if (S <= 0) continue;  // a silent window is unvoiced
    double best = -1e10, T = 0;
    int bestLag = lagMin;
    for (int k = lagMin; k < lagMax; k++) {
      double c = 0;
      for (int l = 0; l < W - k; l++) c += buf[l + k] * buf[l];
      c /= S;
      if (c > best) {
        best = c;
        bestLag = k;
      }
      T += c * c;
    }
    row[0] = (float)best;
    row[1] = (float)std::sqrt(T / (lagMax - lagMin));
    row[2] = best > voicing ? (float)(fe->samplerate / bestLag) : 0.0f;
  }
  Mx_destroy(m);
  return TCL_OK;
}

double meanPositive(MxMatrix *m) {
  double s = 0;
  int n = 0;
  for (int i = 0; i < m->rows; i++)
    if (m->cols > 2 && m->real[i][2] > 0) {
      s += m->real[i][2];
      n++;
    }
  return n ? s / n : 0.0;  // nothing voiced: 0
}

bool getPeriodicity(Tcl_Interp *interp, MxMatrix *m) {
  if (Mx_getReal(interp, m->text, m)) return false;
  if (m->cols < 3) {
    fail(interp, std::string(m->text) + " needs three columns");
    return false;
  }
  return true;
}

// urvane f0 periodicity -rate fps (100 frames a second by default)
int F0Cmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  float rate = 100.0f;
  MxMatrix *m = Mx_create();
  if (Cmds_ParseArgs(interp, 2, argc, argv, "periodicity %s -rate %f", &m->text, &rate) || !getPeriodicity(interp, m)) {
    Mx_destroy(m);
    return TCL_ERROR;
  }
  double mean = meanPositive(m);
  std::vector<float> v(m->rows);
  for (int i = 0; i < m->rows; i++) v[i] = m->real[i][2] > 1.5 * mean ? (float)mean : m->real[i][2];
  FWaveRecord *out = fwaveNew(m->rows, rate);
  medianFilter(v.data(), out->samples, m->rows, 5);
  Mx_destroy(m);
  return registerFwave(interp, out) ? TCL_OK : TCL_ERROR;
}

int MeanF0Cmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  MxMatrix *m = Mx_create();
  if (Cmds_ParseArgs(interp, 2, argc, argv, "periodicity %s", &m->text) || !getPeriodicity(interp, m)) {
    Mx_destroy(m);
    return TCL_ERROR;
  }
  char buf[TCL_DOUBLE_SPACE];
  Tcl_PrintDouble(interp, meanPositive(m), buf);
  Mx_destroy(m);
  Tcl_SetResult(interp, buf, TCL_VOLATILE);
  return TCL_OK;
}

// urvane accentuate feature wave
int AccentuateCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *fn = nullptr, *wn = nullptr;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "featureob %s wname %s", &fn, &wn)) return TCL_ERROR;
  FeatureRecord *fe = get<FeatureRecord>(interp, "feature/feature", fn);
  WaveRecord *w = fe ? get<WaveRecord>(interp, "wave", wn) : nullptr;
  if (!w || !usableFeature(interp, fe)) return TCL_ERROR;
  int N = w->len, W = fe->windowLength;
  FWaveRecord *out = fwaveNew(N, waveRate(w));
  if (!registerFwave(interp, out)) return TCL_ERROR;
  if (N == 0) return TCL_OK;
  std::vector<float> d(N), s(N), A(N), B(N), g(N);
  for (int i = 0; i < N; i++) {
    s[i] = w->samples[i];
    float diff = i ? s[i] - s[i - 1] : s[0];
    d[i] = diff * diff;
  }
  medianFilter(d.data(), A.data(), N, 5);
  medianFilter(s.data(), B.data(), N, 5);
  // Sliding maximum of A over [i - W/2, i - W/2 + W) with a monotonic deque.
  std::deque<int> q;
  int h = W >> 1, next = 0;
  double G = 0;
  for (int i = 0; i < N; i++) {
    int lo = i - h, hi = std::min(N, i - h + W);
    for (; next < hi; next++) {
      while (!q.empty() && A[q.back()] <= A[next]) q.pop_back();
      q.push_back(next);
    }
    while (!q.empty() && q.front() < lo) q.pop_front();
    double M = q.empty() ? -1e10 : A[q.front()];
    g[i] = (float)((M - A[i]) * B[i]);
    G = std::max(G, (double)std::fabs(g[i]));
  }
  for (int i = 0; i < N; i++) out->samples[i] = G > 0 ? (float)(g[i] / G * 32767.0) : 0.0f;  // silence: 0
  return TCL_OK;
}

int ToWaveCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *n = nullptr;
  float scale = 1.0f;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "fwaveob %s -scale %f", &n, &scale)) return TCL_ERROR;
  FWaveRecord *f = get<FWaveRecord>(interp, "urvane/fwave", n);
  if (!f) return TCL_ERROR;
  WaveRecord *w = Wave_New(f->count, f->info[0]);
  for (int i = 0; i < f->count; i++) {
    double v = std::floor((double)scale * f->samples[i]);
    w->samples[i] = (int16_t)(std::isnan(v) ? 0 : v > 32767 ? 32767 : v < -32768 ? -32768 : v);  // clipped
  }
  printf("w->len:%d  w->rate:%f\n", w->len, w->info[0]);
  fflush(stdout);
  if (Obj_Create(interp, "wave", w) != TCL_OK) {
    Wave_Free(w);
    return TCL_ERROR;
  }
  return TCL_OK;
}

int FromWaveCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *n = nullptr;
  float scale = 1.0f;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "waveob %s -scale %f", &n, &scale)) return TCL_ERROR;
  WaveRecord *w = get<WaveRecord>(interp, "wave", n);
  if (!w) return TCL_ERROR;
  FWaveRecord *f = fwaveNew(w->len, waveRate(w));
  for (int i = 0; i < w->len; i++) f->samples[i] = w->samples[i] * scale;
  printf("w->len:%d  w->rate:%f\n", w->len, waveRate(w));
  fflush(stdout);
  return registerFwave(interp, f) ? TCL_OK : TCL_ERROR;
}

const SubCmdEntry kUrvane[] = {{"init", InitCmd},       {"reset", ResetCmd},   {"pulse", PulseCmd},
                               {"mark", MarkCmd},       {"segment", SegmentCmd}, {"median", MedianCmd},
                               {"periodicity", PeriodicityCmd}, {"f0", F0Cmd}, {"meanf0", MeanF0Cmd},
                               {"accentuate", AccentuateCmd}, {nullptr, nullptr}};
const SubCmdEntry kFwave[] = {{"towave", ToWaveCmd}, {"fromwave", FromWaveCmd}, {nullptr, nullptr}};

}  // namespace

extern "C" {

int Urvane_Init(Tcl_Interp *interp) {
  int code = Tcl_PkgProvide(interp, "Urvane", "1.0");
  if (code != TCL_OK) return code;
  Cntr_RegisterType(&kFwaveType);
  Cntr_RegisterType(&kMarkerType);
  Cmds_CreateSwitchCmd(interp, "urvane", nullptr, nullptr);
  Cmds_CreateSubCmds(interp, "urvane", kUrvane);
  Cmds_CreateSwitchCmd(interp, "fwave", nullptr, nullptr);
  Cmds_CreateSubCmds(interp, "fwave", kFwave);
  return Obj_Init(interp);
}

int Urvane_SafeInit(Tcl_Interp *interp) { return Urvane_Init(interp); }

}  // extern "C"
