// The `whack` command: gain, speech energy, range, amplitude histogram,
// additive noise and smoothing of "wave" objects, for preparing test
// material.
#include <tcl.h>

#include <cmath>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "cmds.h"
#include "obj.h"
#include "records.h"
#include "wavefile.h"
#include "whackRandom.h"
#include "yastro.h"

namespace {

Tcl_Channel progress = nullptr;  // the interpreter's stdout, fetched at load

int16_t clip16(double v) {
  if (v >= 32767.0) return 32767;
  if (v <= -32768.0) return -32768;
  if (v != v) return 0;
  return (int16_t)v;
}

// Progress lines go to stdout; safe interpreters have none.
void say(Tcl_Interp *interp, const std::string &line) {
  if (!progress || Tcl_IsSafe(interp)) return;
  Tcl_WriteChars(progress, line.c_str(), -1);
  Tcl_Flush(progress);
}

int fail(Tcl_Interp *interp, const std::string &message) {
  Tcl_SetResult(interp, (char *)message.c_str(), TCL_VOLATILE);
  return TCL_ERROR;
}

// The wave to change: the named one with -inplace, else a copy of it. Its
// name is left as the result.
WaveRecord *target(Tcl_Interp *interp, const char *name, int inplace) {
  if (inplace) {
    WaveRecord *w = static_cast<WaveRecord *>(Obj_GetData(interp, "wave", name));
    if (w) Tcl_SetResult(interp, (char *)name, TCL_VOLATILE);
    return w;
  }
  if (!Obj_GetData(interp, "wave", name)) return nullptr;
  if (Obj_Clone(interp, name) != TCL_OK) return nullptr;
  std::string copy = Tcl_GetStringResult(interp);
  WaveRecord *w = static_cast<WaveRecord *>(Obj_GetData(interp, "wave", copy.c_str()));
  if (w) Tcl_SetResult(interp, (char *)copy.c_str(), TCL_VOLATILE);
  return w;
}

// whack scale waveobject gainfactor -db -inplace
// Multiplies every sample by the factor (a level in dB with -db), clipping
// at the 16-bit limits.
int ScaleCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *name = nullptr;
  double factor = 1;
  int db = 0, inplace = 0;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "waveobject %s gainfactor %d -db %n -inplace %n", &name, &factor, &db,
                     &inplace))
    return TCL_ERROR;
  say(interp, sspf(0, "handle = %s, factor = %f, dbf = %d, inplace = %d\n", name, factor, db, inplace));
  if (db) factor = std::pow(10.0, factor * 0.05);
  WaveRecord *w = target(interp, name, inplace);
  if (!w) return TCL_ERROR;
  for (int i = 0; i < w->len; i++) w->samples[i] = clip16(w->samples[i] * factor);
  return TCL_OK;
}

// whack energy waveobject -db
// Mean energy of the speech that findSpeech locates, full scale being 1;
// 0.0 when there is no speech (minus infinity with -db).
int EnergyCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *name = nullptr;
  int db = 0;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "waveobject %s -db %n", &name, &db)) return TCL_ERROR;
  WaveRecord *w = static_cast<WaveRecord *>(Obj_GetData(interp, "wave", name));
  if (!w) return TCL_ERROR;
  FindSpeechParams *p = findSpeechDefault();
  // The finder measures its frames in ms, so it needs the wave's own rate.
  if (w->infoCount > 0 && w->info[0] > 0) p->samplerate = w->info[0];
  int start = 0, end = 0;
  float a, b;
  findSpeech(w->samples, w->len, p, 0, &start, &end, &a, &b);
  DB_Free(p, __FILE__, __LINE__);
  double energy = 0;
  if (start < end) {
    for (int i = start; i < end; i++) energy += (double)w->samples[i] * w->samples[i] / (32767.0 * 32767.0);
    energy /= (end - start);
  }
  if (db) energy = std::log(energy) * 4.34294481903;
  Tcl_SetObjResult(interp, Tcl_NewDoubleObj(energy));
  return TCL_OK;
}

// whack range waveobject
// The least and the greatest sample ({32767 -32768} for an empty wave).
int RangeCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *name = nullptr;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "waveobject %s", &name)) return TCL_ERROR;
  WaveRecord *w = static_cast<WaveRecord *>(Obj_GetData(interp, "wave", name));
  if (!w) return TCL_ERROR;
  int lo = 32767, hi = -32768;
  for (int i = 0; i < w->len; i++) {
    lo = std::min(lo, (int)w->samples[i]);
    hi = std::max(hi, (int)w->samples[i]);
  }
  Tcl_SetObjResult(interp, Tcl_ObjPrintf("%d %d", lo, hi));
  return TCL_OK;
}

// whack histogram waveobject -bands n
// Counts of the samples in n equal bands of the 16-bit range, each divided
// by the largest count (all zeros for an empty wave).
int HistogramCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *name = nullptr;
  int bands = 128;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "waveobject %s -bands %i", &name, &bands)) return TCL_ERROR;
  WaveRecord *w = static_cast<WaveRecord *>(Obj_GetData(interp, "wave", name));
  if (!w) return TCL_ERROR;
  if (bands >= 1024) return fail(interp, "max number of bands is 1024");
  if (bands <= 0) return fail(interp, "number of bands must be positive");
  std::vector<double> count(bands, 0.0);
  for (int i = 0; i < w->len; i++) count[(int)((long)bands * (w->samples[i] + 32768) / 65536)]++;
  double top = 0;
  for (double c : count) top = std::max(top, c);
  Tcl_Obj *list = Tcl_NewListObj(0, nullptr);
  for (double c : count) Tcl_ListObjAppendElement(nullptr, list, Tcl_NewDoubleObj(top > 0 ? c / top : 0.0));
  Tcl_SetObjResult(interp, list);
  return TCL_OK;
}

// whack addnoise waveobject energylevel -seed n -type gauss|uniform
//                -unit dB|linear -color white|pink|speech -inplace
// Adds noise of the given energy (0 dB: variance of full scale); pink and
// speech colours are the white noise through four one-pole smoothers. The
// same seed gives the same noise.
int AddnoiseCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *name = nullptr, *type = "gauss", *unit = "dB", *color = "speech";
  double level = 0;
  int seed = (int)time(nullptr), inplace = 0;
  if (Cmds_ParseArgs(interp, 2, argc, argv,
                     "waveobject %s energylevel %d  -seed %i -type %s -unit %s -color %s -inplace %n", &name, &level,
                     &seed, &type, &unit, &color, &inplace))
    return TCL_ERROR;
  WaveRecord *w = target(interp, name, inplace);
  if (!w) return TCL_ERROR;
  bool filtered;
  if (!strcmp(color, "white")) filtered = false;
  else if (!strcmp(color, "pink") || !strcmp(color, "speech")) filtered = true;
  else return fail(interp, std::string("bad noise color \"") + color + "\", must be white, pink or speech");
  std::string result = Tcl_GetStringResult(interp);
  int32_t state = seed < 0 ? seed : -seed;
  // Every call starts from its seed alone; seed 0 would otherwise keep a
  // Gaussian value left over from an earlier call.
  whackGaussClear();
  double e = !strcmp(unit, "dB") ? std::pow(10.0, level * 0.1) : level;
  bool gauss = !strcmp(type, "gauss");
  double sd = std::sqrt(e), a = std::sqrt(3 * e);
  WhackSmoother sm[4];
  for (auto &s : sm) whackSmoothInit(&s, 0.1);
  for (int i = 0; i < w->len; i++) {
    double v = gauss ? whackGauss(&state) * sd * 32767.0 : (whackUniform(&state) - 0.5) * a * 65534.0;
    double t = std::trunc(v);
    int n = t > 2147483647.0 ? 2147483647 : t < -2147483648.0 ? (int)-2147483648LL : (int)t;
    if (filtered)
      for (auto &s : sm) n = whackSmooth(&s, n);
    w->samples[i] = clip16((double)w->samples[i] + n);
  }
  Tcl_SetResult(interp, (char *)result.c_str(), TCL_VOLATILE);
  return TCL_OK;
}

// whack lopass waveobject -order n -cutoff f -inplace
// Smooths the wave with four one-pole low-pass stages of coefficient f;
// the order must be odd and positive. A coefficient outside (0, 1] would
// make the stages diverge, so it is refused before any copy is made.
int LopassCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *name = nullptr;
  int order = 5, inplace = 0;
  double cutoff = 0.1;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "waveobject %s -order %i -cutoff %d -inplace %n", &name, &order, &cutoff,
                     &inplace))
    return TCL_ERROR;
  if (!(cutoff > 0.0 && cutoff <= 1.0)) {
    char text[TCL_DOUBLE_SPACE];
    return fail(interp, std::string("bad cutoff ") + Cmds_DoubleString(cutoff, text) + ": must be above 0 and at most 1");
  }
  WaveRecord *w = target(interp, name, inplace);
  if (!w) return TCL_ERROR;
  std::string result = Tcl_GetStringResult(interp);
  say(interp, "initializing filter\n");
  if (order <= 0 || order % 2 == 0) return fail(interp, "can't construct filter");
  say(interp, "filtering samples...\n");
  WhackSmoother sm[4];
  for (auto &s : sm) whackSmoothInit(&s, cutoff);
  for (int i = 0; i < w->len; i++) {
    int v = w->samples[i];
    for (auto &s : sm) v = whackSmooth(&s, v);
    w->samples[i] = clip16(v);
  }
  Tcl_SetResult(interp, (char *)result.c_str(), TCL_VOLATILE);
  return TCL_OK;
}

const SubCmdEntry kTable[] = {
    {"scale", ScaleCmd},         {"energy", EnergyCmd},     {"range", RangeCmd},
    {"histogram", HistogramCmd}, {"addnoise", AddnoiseCmd}, {"lopass", LopassCmd},
    {nullptr, nullptr},
};

int init(Tcl_Interp *interp, const char *pkg) {
  int code = Tcl_PkgProvide(interp, pkg, "0.1");
  if (code != TCL_OK) return code;
  Cmds_CreateSwitchCmd(interp, "whack", nullptr, nullptr);
  for (const SubCmdEntry *e = kTable; e->name; e++)
    Cmds_CreateSubCmd(interp, "whack", e->name, e->proc, nullptr, nullptr);
  return TCL_OK;
}

}  // namespace

extern "C" {

int Whack_Init(Tcl_Interp *interp) {
  int code = init(interp, "Whack");
  if (code == TCL_OK) progress = Tcl_GetChannel(interp, "stdout", nullptr);
  return code;
}

int Whack_SafeInit(Tcl_Interp *interp) { return init(interp, "whack"); }

}  // extern "C"
