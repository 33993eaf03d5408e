// The `filter` command: a first-order low-pass over a wave, and IIR filter
// objects ("iir") that keep their state between waves.
#include <tcl.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "cmds.h"
#include "container.h"
#include "helvo.h"
#include "obj.h"
#include "records.h"
#include "utils.h"

namespace {

void iirFree(void *r) { Filter_iirNuke(static_cast<HelvoIir *>(r)); }
const CntrType kIirType = {"iir", "iir", nullptr, iirFree, nullptr, nullptr, nullptr, nullptr};

bool is(const char *a, const char *b) { return !std::strcmp(a, b); }

// Reads a Tcl list of numbers; false with the interpreter's message.
bool numbers(Tcl_Interp *interp, const char *list, std::vector<float> &out) {
  int n;
  const char **words;
  if (Tcl_SplitList(interp, list, &n, &words) != TCL_OK) return false;
  for (int i = 0; i < n; i++) {
    double d;
    if (Tcl_GetDouble(interp, words[i], &d) != TCL_OK) {
      Tcl_Free((char *)words);
      return false;
    }
    out.push_back((float)d);
  }
  Tcl_Free((char *)words);
  return true;
}

// filter lowpass wave ?-alpha a?
// A new wave: y[0] = 0, y[i] = ((alpha - 1) y[i-1] + x[i-1]) / alpha, a
// one-pole smoother of unity gain (alpha > 1 smooths more), clipped to 16 bits.
int LowpassCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *wn = nullptr;
  float alpha = 10.0f;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "wave %s -alpha %f", &wn, &alpha)) return TCL_ERROR;
  auto *in = static_cast<WaveRecord *>(Obj_GetData(interp, "wave", wn));
  if (!in) return TCL_ERROR;
  if (!(alpha >= 1.0f)) {
    Tcl_SetResult(interp, (char *)"-alpha must be at least 1", TCL_STATIC);
    return TCL_ERROR;
  }
  WaveRecord *out = nullptr;
  if (createWave(interp, in->len, in->infoCount, in->info, nullptr, &out)) return TCL_ERROR;
  double y = 0;
  for (int i = 1; i < in->len; i++) {
    y = ((alpha - 1.0) * y + in->samples[i - 1]) / alpha;
    y = std::trunc(y);
    out->samples[i] = Utils_ToSample(y);
    y = out->samples[i];
  }
  return TCL_OK;
}

// filter iir initialize alist blist
// filter iir reset|info filterob
// filter iir filterob wave ?outwave?
// IIR filtering with feedback a and feed-forward b; info answers {a} {b}.
int IirCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  if (argc == 2) {
    Tcl_AppendResult(interp, "wrong # args:should be initialize || ", "reset || ", "info || ",
                     "filterob(string) wave(string) ?outwave(string)?", (char *)nullptr);
    return TCL_ERROR;
  }
  const char *verb = argv[2];
  if (is(verb, "initialize")) {
    const char *al = nullptr, *bl = nullptr;
    if (Cmds_ParseArgs(interp, 3, argc, argv, "iir %s fir %s", &al, &bl)) return TCL_ERROR;
    std::vector<float> a, b;
    if (!numbers(interp, al, a) || !numbers(interp, bl, b)) return TCL_ERROR;
    if (a.empty()) {
      Tcl_SetResult(interp, (char *)"empty a list, should have at least one value.", TCL_STATIC);
      return TCL_ERROR;
    }
    if (b.empty()) {
      Tcl_SetResult(interp, (char *)"empty b list, should have at least one value.", TCL_STATIC);
      return TCL_ERROR;
    }
    HelvoIir *h = Filter_iirInit(a.data(), (int)a.size(), b.data(), (int)b.size());
    if (!h) {
      Tcl_SetResult(interp, (char *)"the first a coefficient must not be 0", TCL_STATIC);
      return TCL_ERROR;
    }
    if (Obj_Create(interp, "iir", h) != TCL_OK) {
      Filter_iirNuke(h);
      return TCL_ERROR;
    }
    return TCL_OK;
  }
  if (is(verb, "reset") || is(verb, "info")) {
    const char *name = nullptr;
    if (Cmds_ParseArgs(interp, 3, argc, argv, "filterob %s", &name)) return TCL_ERROR;
    auto *h = static_cast<HelvoIir *>(Obj_GetData(interp, "iir", name));
    if (!h) return TCL_ERROR;
    if (is(verb, "reset")) {
      Filter_iirReset(h);
      Tcl_SetResult(interp, (char *)name, TCL_VOLATILE);
      return TCL_OK;
    }
    Tcl_Obj *res = Tcl_NewListObj(0, nullptr), *a = Tcl_NewListObj(0, nullptr), *b = Tcl_NewListObj(0, nullptr);
    for (int i = 0; i < h->count; i++) {
      Tcl_ListObjAppendElement(interp, a, Cmds_NewFloatObj(h->a[i]));
      Tcl_ListObjAppendElement(interp, b, Cmds_NewFloatObj(h->b[i]));
    }
    Tcl_ListObjAppendElement(interp, res, a);
    Tcl_ListObjAppendElement(interp, res, b);
    Tcl_SetObjResult(interp, res);
    return TCL_OK;
  }
  const char *name = nullptr, *wn = nullptr, *outName = nullptr;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "filterob %s wave %s outwave ?s", &name, &wn, &outName)) return TCL_ERROR;
  auto *h = static_cast<HelvoIir *>(Obj_GetData(interp, "iir", name));
  if (!h) return TCL_ERROR;
  auto *in = static_cast<WaveRecord *>(Obj_GetData(interp, "wave", wn));
  if (!in) return TCL_ERROR;
  WaveRecord *out = nullptr;
  if (maybeReuseWaveObject(outName, interp, in->len, in->infoCount > 0 ? in->info[0] : 0.0f, &out))
    return TCL_ERROR;
  Filter_iir(h, in->samples, out->samples, in->len);
  return TCL_OK;
}

}  // namespace

extern "C" {

int Filter_Init(Tcl_Interp *interp) {
  int code = Tcl_PkgProvide(interp, "Filter", "1.0");
  if (code != TCL_OK) return code;
  Cntr_RegisterType(&kIirType);
  Cmds_CreateSwitchCmd(interp, "filter", nullptr, nullptr);
  Cmds_CreateSubCmd(interp, "filter", "lowpass", LowpassCmd, nullptr, nullptr);
  Cmds_CreateSubCmd(interp, "filter", "iir", IirCmd, nullptr, nullptr);
  return Obj_Init(interp);
}

int Filter_SafeInit(Tcl_Interp *interp) { return Filter_Init(interp); }

}  // extern "C"
