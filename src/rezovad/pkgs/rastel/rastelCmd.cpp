// The `rastel` command: utterance detectors as "rastel" objects, run block
// by block over waves, with their calibrations, a process-wide amplitude
// histogram and a FIR filter for waves.
#include <tcl.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "cmds.h"
#include "container.h"
#include "obj.h"
#include "pardel.h"
#include "rastel.h"
#include "records.h"
#include "yastro.h"

namespace {

const char *kSource = "src/rezovad/pkgs/rastel/rastelCmd";
const int kBins = 656;

// One histogram for the whole process, shared by every detector and
// interpreter; commands run on the interpreter's thread.
uint32_t histogram[kBins];

int fail(Tcl_Interp *interp, const std::string &message) {
  Tcl_SetResult(interp, (char *)message.c_str(), TCL_VOLATILE);
  return TCL_ERROR;
}

RastelState *getDetector(Tcl_Interp *interp, const char *name) {
  return static_cast<RastelState *>(Obj_GetData(interp, "rastel", name));
}

WaveRecord *getWave(Tcl_Interp *interp, const char *name) {
  return static_cast<WaveRecord *>(Obj_GetData(interp, "wave", name));
}

std::string doubleText(double v) {
  char buf[TCL_DOUBLE_SPACE];
  return Cmds_DoubleString(v, buf);
}

// A whole count from a computed value, saturating at the 32-bit limits.
int toInt(double v) { return v > 2147483647.0 ? 2147483647 : v < -2147483648.0 ? (int)-2147483648LL : (int)v; }

std::string floatText(float v) {
  char buf[32];
  return Cmds_FloatString(v, buf);
}

// ---- the "rastel" object type ---------------------------------------------

void detectorFree(void *record) { rastelNuke(static_cast<RastelState *>(record)); }

void *detectorClone(const void *record) {
  const RastelState *s = static_cast<const RastelState *>(record);
  RastelState *c = static_cast<RastelState *>(DB_Malloc(sizeof(RastelState), kSource, __LINE__));
  *c = *s;
  c->ring = static_cast<int16_t *>(DB_Malloc((size_t)s->ringLength * sizeof(int16_t), kSource, __LINE__));
  memcpy(c->ring, s->ring, (size_t)s->ringLength * sizeof(int16_t));
  return c;
}

const CntrType kDetectorType = {"rastel", "rastel", nullptr, detectorFree, detectorClone, nullptr, nullptr, nullptr};

// ---- commands --------------------------------------------------------------

// rastel create -lsilence ms -tsilence ms -backoff ms -maxrec ms -samplerate hz
//               -level f -frac f -debug -stdev f -thi ms -lpfrac f
// A new detector; -stdev is -level and -frac is -lpfrac (the last given wins).
int CreateCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  RastelParams *p = rastelDefault();
  int code = Cmds_ParseArgs(interp, 2, argc, argv,
                            "-lsilence %i -tsilence %i -backoff %i -maxrec %i -samplerate %i -level %f -frac %f "
                            "-debug %n -stdev %f -thi %i -lpfrac %f",
                            &p->lsilence, &p->tsilence, &p->backoff, &p->maxrec, &p->samplerate, &p->level,
                            &p->lpfrac, &p->debug, &p->level, &p->thi, &p->lpfrac);
  if (code == TCL_OK && p->samplerate <= 0) code = fail(interp, "samplerate must be positive");
  if (code != TCL_OK) {
    DB_Free(p, kSource, __LINE__);
    return TCL_ERROR;
  }
  RastelState *s = rastelInit(p);
  DB_Free(p, kSource, __LINE__);
  if (Obj_Create(interp, "rastel", s) != TCL_OK) {
    rastelNuke(s);
    return TCL_ERROR;
  }
  return TCL_OK;
}

// rastel reset detector
// Back to quiet at sample 0; the settings stay.
int ResetCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *name = nullptr;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "detector %s", &name)) return TCL_ERROR;
  RastelState *s = getDetector(interp, name);
  if (!s) return TCL_ERROR;
  rastelReset(s);
  Tcl_ResetResult(interp);
  return TCL_OK;
}

// rastel calibrate rastelob waveob
// Sets the level from the envelope of a recording; answers it ("%f").
int CalibrateCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *dn = nullptr, *wn = nullptr;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "rastelob %s waveob %s", &dn, &wn)) return TCL_ERROR;
  RastelState *s = getDetector(interp, dn);
  WaveRecord *w = s ? getWave(interp, wn) : nullptr;
  if (!w) return TCL_ERROR;
  Tcl_SetResult(interp, sspf(0, "%f", rastelCalibrate(s, w)), TCL_VOLATILE);
  return TCL_OK;
}

// rastel calibrate2 rastelob waveob
// Sets the level from the amplitude histograms of the recording's speech
// and background; answers the level, the speech mean and the background mean.
int Calibrate2Cmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *dn = nullptr, *wn = nullptr;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "rastelob %s waveob %s", &dn, &wn)) return TCL_ERROR;
  RastelState *s = getDetector(interp, dn);
  WaveRecord *w = s ? getWave(interp, wn) : nullptr;
  if (!w) return TCL_ERROR;
  float sm = 0, bm = 0;
  float level = rastelCalibrate2(s, w, &sm, &bm);
  Tcl_SetResult(interp, sspf(0, "%f %f %f", level, sm, bm), TCL_VOLATILE);
  return TCL_OK;
}

// rastel configure detector -totaltime -lsilence ?ms? -tsilence ?ms? -backoff ?ms?
//                  -maxrec ?ms? -samplerate ?hz? -level ?f? -stdev ?f? -thi ?ms? -lpfrac ?f?
// Options named without a value are reported (all of them when none is
// named); those with a value are set. Durations are reported in ms.
int ConfigureCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *name = nullptr;
  int nTotal = 0, nLs = 0, nTs = 0, nBo = 0, nMr = 0, nSr = 0, nLv = 0, nSd = 0, nThi = 0, nLp = 0;
  int gLs = 0, gTs = 0, gBo = 0, gMr = 0, gSr = 0, gLv = 0, gSd = 0, gThi = 0, gLp = 0;
  int ls = 0, ts = 0, bo = 0, mr = 0, sr = 0, thi = 0;
  float lv = 0, sd = 0, lp = 0;
  if (Cmds_ParseArgs(interp, 2, argc, argv,
                     "detector %s -totaltime %n -lsilence %n !i -tsilence %n !i -backoff %n !i -maxrec %n !i "
                     "-samplerate %n !i -level %n !f -stdev %n !f -thi %n !i -lpfrac %n !f",
                     &name, &nTotal, &nLs, &ls, &gLs, &nTs, &ts, &gTs, &nBo, &bo, &gBo, &nMr, &mr, &gMr, &nSr, &sr,
                     &gSr, &nLv, &lv, &gLv, &nSd, &sd, &gSd, &nThi, &thi, &gThi, &nLp, &lp, &gLp))
    return TCL_ERROR;
  RastelState *s = getDetector(interp, name);
  if (!s) return TCL_ERROR;
  if (gSr && sr <= 0) return fail(interp, "samplerate must be positive");
  if (!(nTotal || nLs || nTs || nBo || nMr || nSr || nLv || nSd || nThi || nLp)) {
    nTotal = nLs = nTs = nBo = nMr = nSr = nLv = nThi = nLp = 1;
  }
  auto ms = [&](int samples) { return std::to_string(toInt(samples * 1000.0 / s->rate)); };
  std::string out;
  auto report = [&](bool named, bool given, const char *opt, const std::string &value) {
    if (named && !given) out += std::string(out.empty() ? "" : " ") + opt + " " + value;
  };
  report(nLs, gLs, "-lsilence", ms(s->lsilence));
  report(nTs, gTs, "-tsilence", ms(s->tsilence));
  report(nBo, gBo, "-backoff", ms(s->ringLength));
  report(nMr, gMr, "-maxrec", ms(s->maxrec));
  report(nTotal, false, "-totaltime", ms(s->total));
  report(nSr, gSr, "-samplerate", std::to_string(s->rate));
  report((nLv && !gLv) || (nSd && !gSd), false, "-level", sspf(0, "%f", s->level));
  report(nThi, gThi, "-thi", ms(s->thi));
  report(nLp, gLp, "-lpfrac", sspf(0, "%f", s->lpfrac));

  // A new rate applies to the durations set in this call; stored sample
  // counts keep the rate they were set with.
  if (gSr) s->rate = sr;
  auto samples = [&](int msValue) { return toInt(std::floor((double)s->rate * msValue * 0.001)); };
  if (gLs) s->lsilence = samples(ls);
  if (gTs) s->tsilence = samples(ts);
  if (gBo) rastelSetRing(s, toInt((double)((long long)(bo < 1 ? 1 : bo) * s->rate / 1000)));
  if (gMr) s->maxrec = samples(mr);
  if (gLv) s->level = lv;
  if (gSd) s->level = sd;
  if (gThi) s->thi = samples(thi);
  if (gLp) s->lpfrac = lp;
  Tcl_SetResult(interp, (char *)out.c_str(), TCL_VOLATILE);
  return TCL_OK;
}

// rastel state detector
// The detector's state word, the start and stop offsets within their block,
// the start and stop times since the reset (ms), the envelope and the
// sample count of the last candidate.
int StateCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *name = nullptr;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "detector %s ", &name)) return TCL_ERROR;
  RastelState *s = getDetector(interp, name);
  if (!s) return TCL_ERROR;
  const char *word = "quiet";
  switch (s->state) {
    case 2: case 3: word = "sound"; break;
    case 5: word = "silence"; break;
    case 7: word = "max"; break;
    case 8: word = "done"; break;
  }
  auto t = [&](int v) { return doubleText(v * 1000.0 / s->rate); };
  std::string out = std::string("state ") + word + " start " + t(s->startOffset) + " stop " + t(s->endOffset) +
                    " tstart " + t(s->speechStart) + " tstop " + t(s->speechEnd) + " envelope " +
                    floatText(s->envelope) + " entered " + std::to_string(s->mark);
  Tcl_SetResult(interp, (char *)out.c_str(), TCL_VOLATILE);
  return TCL_OK;
}

// rastel histo reset|pipe|plot|plotdiff|report|clipping detector ?wave?
// The process-wide histogram of sample distances from the detector's input
// filter memory, in bins of 50: "pipe" counts a wave's samples, "plot" and
// "plotdiff" give curves for a canvas 300 high, "report" the bins scaled to
// 1 % of the largest, "clipping" whether the top bins are crowded.
int HistoCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *cmd = nullptr, *name = nullptr, *wn = nullptr;
  int haveWave = 0;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "cmd %s detector %s wave !s", &cmd, &name, &wn, &haveWave))
    return TCL_ERROR;
  static const char *known[] = {"reset", "pipe", "plot", "plotdiff", "report", "clipping"};
  bool ok = false;
  for (const char *k : known) ok |= !strcmp(cmd, k);
  if (!ok) return fail(interp, std::string("Unknown histogram command \"") + cmd + "\"");
  RastelState *s = getDetector(interp, name);
  if (!s) return TCL_ERROR;
  uint32_t top = 0;
  int cval = -1, mval = -1;
  for (int i = 0; i < kBins; i++) top = std::max(top, histogram[i]);
  float f = top * 0.01f;
  for (int i = 0; i < kBins; i++) {
    if (histogram[i] > 0) cval = i;
    if (histogram[i] > f) mval = i;
  }
  // With an empty histogram every scale is 0: empty bins then plot at the
  // bottom (300), differences at the middle (150) and report 0.
  float scale = top * (1.0f / 300.0f);
  std::string out;
  auto element = [&](int a, long b) { out += (out.empty() ? "" : " ") + std::string("{") + std::to_string(a) + " " + std::to_string(b) + "}"; };
  if (!strcmp(cmd, "reset")) {
    memset(histogram, 0, sizeof histogram);
  } else if (!strcmp(cmd, "pipe")) {
    if (!haveWave) return fail(interp, "No wave object given");
    WaveRecord *w = getWave(interp, wn);
    if (!w) return TCL_ERROR;
    for (int i = 0; i < w->len; i++) {
      double d = std::floor(std::fabs(w->samples[i] - s->dcState) * 0.02);
      histogram[d >= kBins - 1 ? kBins - 1 : (int)d]++;
    }
  } else if (!strcmp(cmd, "plot")) {
    for (int i = 0; i < kBins; i++) element(i, 300 - (scale > 0 ? (long)std::floor(histogram[i] / scale + 0.5) : 0));
  } else if (!strcmp(cmd, "plotdiff")) {
    double prev = 0;
    for (int i = 0; i < kBins; i++) {
      double w = scale > 0 ? histogram[i] / scale : 0;
      element(i, (long)std::floor(w - prev + 0.5) + 150);
      prev = w;
    }
  } else if (!strcmp(cmd, "report")) {
    fprintf(stderr, "max=%f cval=%i mval=%i=>%i-%i (%i)\n", f, cval, mval, 50 * mval, 50 * mval + 49,
            mval >= 0 ? (int)histogram[mval] : 0);
    Tcl_Obj *list = Tcl_NewListObj(0, nullptr);
    for (int i = 0; i < kBins; i++)
      Tcl_ListObjAppendElement(nullptr, list, Tcl_NewStringObj(sspf(0, "%f", f > 0 ? histogram[i] / f : 0.0), -1));
    Tcl_SetObjResult(interp, list);
    return TCL_OK;
  } else {
    out = mval > (int)(cval * 0.9) ? "1" : "0";
  }
  Tcl_SetResult(interp, (char *)out.c_str(), TCL_VOLATILE);
  return TCL_OK;
}

// rastel fir fircoeffs waveob
// A new wave: the input through a centred FIR filter of one column of
// coefficients, rounded and clipped to 16 bits.
int FirCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  MxMatrix *m = Mx_create();
  const char *wn = nullptr;
  int code = TCL_ERROR;
  WaveRecord *w = nullptr, *out = nullptr;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "fircoeffs %s waveob %s", &m->text, &wn) == TCL_OK &&
      Mx_getReal(interp, m->text, m) == 0 && (w = getWave(interp, wn)) != nullptr) {
    if (m->cols != 1) {
      fail(interp, std::string(m->text) + " has to be a 1 dimensional object.");
    } else {
      int n = m->rows, h = n / 2;
      out = static_cast<WaveRecord *>(DB_Malloc(sizeof(WaveRecord), kSource, __LINE__));
      out->len = w->len;
      out->infoCount = w->infoCount;
      out->info = static_cast<float *>(DB_Malloc(sizeof(float) * (w->infoCount > 0 ? w->infoCount : 1), kSource, __LINE__));
      memcpy(out->info, w->info, sizeof(float) * w->infoCount);
      out->samples = static_cast<int16_t *>(DB_Malloc(sizeof(int16_t) * (w->len > 0 ? w->len : 1), kSource, __LINE__));
      for (int f = 0; f < w->len; f++) {
        double acc = 0;
        int j0 = std::max(0, h - f), j1 = std::min(n, w->len - f + h);
        for (int j = j0; j < j1; j++) acc += m->real[j][0] * w->samples[f - h + j];
        double v = std::floor(acc + 0.5);
        out->samples[f] = (int16_t)(v > 32767 ? 32767 : v < -32768 ? -32768 : v);
      }
      if (Obj_Create(interp, "wave", out) == TCL_OK) code = TCL_OK;
      else Wave_Free(out);
    }
  }
  Mx_destroy(m);
  return code;
}

// rastel detector in ?out?
// Runs the detector over the block in and answers the code word (quiet,
// silence, sound, maxrec, done); with sound, the speech of this block (with
// the lead-in on the first) goes to out. A detector made with -debug also
// answers in and two new waves: the envelope and the state per sample.
int RunCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *dn = nullptr, *in = nullptr, *on = nullptr;
  int haveOut = 0;
  if (Cmds_ParseArgs(interp, 1, argc, argv, "detector %s in %s out !s", &dn, &in, &on, &haveOut)) return TCL_ERROR;
  RastelState *s = getDetector(interp, dn);
  if (!s) return TCL_ERROR;
  WaveRecord *w = getWave(interp, in);
  if (!w) return TCL_ERROR;
  WaveRecord *out = nullptr;
  if (haveOut && !(out = getWave(interp, on))) return TCL_ERROR;
  Tcl_Obj *list = Tcl_NewListObj(0, nullptr);
  Tcl_IncrRefCount(list);
  int code;
  if (s->debug) {
    WaveRecord *trace[2];
    Tcl_ListObjAppendElement(nullptr, list, Tcl_NewStringObj(in, -1));
    for (auto &t : trace) {
      if (Obj_Clone(interp, in) != TCL_OK) {
        Tcl_DecrRefCount(list);
        return TCL_ERROR;
      }
      Tcl_ListObjAppendElement(nullptr, list, Tcl_GetObjResult(interp));
      t = getWave(interp, Tcl_GetStringResult(interp));
      memset(t->samples, 0, sizeof(int16_t) * t->len);
    }
    code = rastelCompute(s, w->samples, w->len, trace[0]->samples, trace[1]->samples);
  } else {
    code = rastelCompute(s, w->samples, w->len, nullptr, nullptr);
  }
  static const char *words[] = {"", "", "", "", "quiet", "silence", "sound", "maxrec", "done"};
  Tcl_ListObjAppendElement(nullptr, list, Tcl_NewStringObj(words[code], -1));
  if (code == RASTEL_SOUND || code == RASTEL_MAXREC || code == RASTEL_DONE) rastelBuffer(s, w, out);
  Tcl_SetObjResult(interp, list);
  Tcl_DecrRefCount(list);
  return TCL_OK;
}

const SubCmdEntry kTable[] = {
    {"create", CreateCmd}, {"reset", ResetCmd}, {"calibrate", CalibrateCmd}, {"calibrate2", Calibrate2Cmd},
    {"configure", ConfigureCmd}, {"state", StateCmd}, {"histo", HistoCmd}, {"fir", FirCmd},
    {"*", RunCmd}, {nullptr, nullptr},
};

}  // namespace

extern "C" {

int Rastel_Init(Tcl_Interp *interp) {
  int code = Tcl_PkgProvide(interp, "Rastel", "1.0");
  if (code != TCL_OK) return code;
  Cntr_RegisterType(&kDetectorType);
  Cmds_CreateSwitchCmd(interp, "rastel", nullptr, nullptr);
  Cmds_CreateSubCmds(interp, "rastel", kTable);
  return Obj_Init(interp);
}

int Rastel_SafeInit(Tcl_Interp *interp) { return Rastel_Init(interp); }

}  // extern "C"
