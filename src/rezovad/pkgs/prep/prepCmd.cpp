// The `prep` command: DC-removal ("dcrm") and FIR ("fir") filter objects
// that run over 16-bit waves and keep their state between waves.
#include <tcl.h>

#include <cstring>
#include <string>

#include "cmds.h"
#include "container.h"
#include "obj.h"
#include "prep.h"
#include "records.h"
#include "utils.h"
#include "yastro.h"

namespace {

void dcrmFree(void *r) { dcrmNuke(static_cast<DcrmFilter *>(r)); }
void firFree(void *r) { firNuke(static_cast<PrepFir *>(r)); }

const CntrType kDcrmType = {"dcrm", "dcrm", nullptr, dcrmFree, nullptr, nullptr, nullptr, nullptr};
const CntrType kFirType = {"fir", "fir", nullptr, firFree, nullptr, nullptr, nullptr, nullptr};

bool is(const char *a, const char *b) { return !std::strcmp(a, b); }

// Copies the input wave into the output wave (a new one, or outwave when it
// has the input's length), whose name is left as the result.
WaveRecord *outputWave(Tcl_Interp *interp, const WaveRecord *in, const char *outName) {
  WaveRecord *out = nullptr;
  const float rate = in->infoCount > 0 ? in->info[0] : 0.0f;
  if (maybeReuseWaveObject(outName, interp, in->len, rate, &out)) return nullptr;
  if (out != in && in->len > 0) std::memmove(out->samples, in->samples, sizeof(int16_t) * in->len);
  return out;
}

// prep !dc initialize ?-tau s? ?-rate hz?
// prep !dc reset dcrmob
// prep !dc info dcrmob ?-tau? ?-rate?
// prep !dc dcrmob wave ?outwave?
// A one-pole DC blocker; the run form answers the filtered wave's name.
int DcCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  if (argc == 2) {
    Tcl_AppendResult(interp, "wrong # args:should be !dc initialize || ", "reset || ", "info || ",
                     "dcrmob(string) wave(string) ?outwave(string)", (char *)nullptr);
    return TCL_ERROR;
  }
  const char *verb = argv[2];
  if (is(verb, "initialize")) {
    DcrmParams *p = dcrmDefault();
    if (Cmds_ParseArgs(interp, 3, argc, argv, "-tau %f -rate %f", &p->tau, &p->rate)) {
      DB_FREE(p);
      return TCL_ERROR;
    }
    DcrmFilter *h = dcrmInit(p);
    DB_FREE(p);
    if (!h) {
      Tcl_SetResult(interp, (char *)"-tau and -rate must be above 0", TCL_STATIC);
      return TCL_ERROR;
    }
    if (Obj_Create(interp, "dcrm", h) != TCL_OK) {
      dcrmNuke(h);
      return TCL_ERROR;
    }
    return TCL_OK;
  }
  if (is(verb, "reset") || is(verb, "info")) {
    const char *name = nullptr;
    int tau = 0, rate = 0;
    if (Cmds_ParseArgs(interp, 3, argc, argv, is(verb, "info") ? "dcrmob %s -tau %n -rate %n" : "dcrmob %s", &name,
                       &tau, &rate))
      return TCL_ERROR;
    auto *h = static_cast<DcrmFilter *>(Obj_GetData(interp, "dcrm", name));
    if (!h) return TCL_ERROR;
    if (is(verb, "reset")) {
      dcrmReset(h);
      Tcl_SetResult(interp, (char *)name, TCL_VOLATILE);
      return TCL_OK;
    }
    if (!tau && !rate) tau = rate = 1;
    Tcl_Obj *res = Tcl_NewListObj(0, nullptr);
    auto pair = [&](const char *opt, float v) {
      Tcl_Obj *p[2] = {Tcl_NewStringObj(opt, -1), Cmds_NewFloatObj(v)};
      Tcl_ListObjAppendElement(interp, res, Tcl_NewListObj(2, p));
    };
    if (tau) pair("-tau", h->tau);
    if (rate) pair("-rate", h->rate);
    Tcl_SetObjResult(interp, res);
    return TCL_OK;
  }
  const char *name = nullptr, *wn = nullptr, *outName = nullptr;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "dcrmob %s wave %s outwave ?s", &name, &wn, &outName)) return TCL_ERROR;
  auto *h = static_cast<DcrmFilter *>(Obj_GetData(interp, "dcrm", name));
  if (!h) return TCL_ERROR;
  auto *in = static_cast<WaveRecord *>(Obj_GetData(interp, "wave", wn));
  if (!in) return TCL_ERROR;
  WaveRecord *out = outputWave(interp, in, outName);
  if (!out) return TCL_ERROR;
  dcrm(out->samples, out->len, h);
  return TCL_OK;
}

// prep fir initialize ?-groupdelay n? coeffs
// prep fir reset|info forob
// prep fir ?-flush? firob wave ?outwave?
// FIR filtering; streamed waves lag by the group delay, a flush ends the
// stream with output aligned to its input.
int FirCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *verb = argc > 2 ? argv[2] : "";
  if (argc > 2 && is(verb, "initialize")) {
    const char *list = nullptr;
    int gd = -123456;
    if (Cmds_ParseArgs(interp, 3, argc, argv, "-groupdelay %i coeffs %s", &gd, &list)) return TCL_ERROR;
    int n;
    const char **words;
    if (Tcl_SplitList(interp, list, &n, &words) != TCL_OK) return TCL_ERROR;
    float *c = static_cast<float *>(DB_MALLOC(sizeof(float) * (n > 0 ? n : 1)));
    for (int i = 0; i < n; i++) {
      double d;
      if (Tcl_GetDouble(interp, words[i], &d) != TCL_OK) {
        Tcl_Free((char *)words);
        DB_FREE(c);
        return TCL_ERROR;
      }
      c[i] = (float)d;
    }
    Tcl_Free((char *)words);
    if (gd == -123456) gd = n / 2;
    PrepFir *h = firInit(n, c, gd);
    if (!h) {
      DB_FREE(c);
      Tcl_SetObjResult(interp, Tcl_ObjPrintf("a filter needs at least one coefficient and a group delay from 0 to "
                                             "%d, not %d", n - 1, gd));
      return TCL_ERROR;
    }
    if (Obj_Create(interp, "fir", h) != TCL_OK) {
      firNuke(h);
      return TCL_ERROR;
    }
    return TCL_OK;
  }
  if (argc > 2 && (is(verb, "reset") || is(verb, "info"))) {
    const char *name = nullptr;
    if (Cmds_ParseArgs(interp, 3, argc, argv, "forob %s", &name)) return TCL_ERROR;
    auto *h = static_cast<PrepFir *>(Obj_GetData(interp, "fir", name));
    if (!h) return TCL_ERROR;
    if (is(verb, "reset")) {
      firReset(h);
      Tcl_SetResult(interp, (char *)name, TCL_VOLATILE);
      return TCL_OK;
    }
    Tcl_Obj *res = Tcl_NewListObj(0, nullptr);
    char buf[TCL_DOUBLE_SPACE];
    for (int i = 0; i < h->count; i++)
      Tcl_ListObjAppendElement(interp, res, Tcl_NewStringObj(Cmds_DoubleString(h->coeffs[i], buf), -1));
    Tcl_SetObjResult(interp, res);
    return TCL_OK;
  }
  const char *name = nullptr, *wn = nullptr, *outName = nullptr;
  int flush = 0;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "-flush %n firob %s wave %s outwave ?s", &flush, &name, &wn, &outName))
    return TCL_ERROR;
  auto *h = static_cast<PrepFir *>(Obj_GetData(interp, "fir", name));
  if (!h) return TCL_ERROR;
  auto *in = static_cast<WaveRecord *>(Obj_GetData(interp, "wave", wn));
  if (!in) return TCL_ERROR;
  WaveRecord *out = outputWave(interp, in, outName);
  if (!out) return TCL_ERROR;
  fir(out->samples, out->len, h, flush);
  return TCL_OK;
}

}  // namespace

extern "C" {

int Prep_Init(Tcl_Interp *interp) {
  int code = Tcl_PkgProvide(interp, "Prep", "1.0");
  if (code != TCL_OK) return code;
  Cntr_RegisterType(&kDcrmType);
  Cntr_RegisterType(&kFirType);
  Cmds_CreateSwitchCmd(interp, "prep", nullptr, nullptr);
  Cmds_CreateSubCmd(interp, "prep", "!dc", DcCmd, nullptr, nullptr);
  Cmds_CreateSubCmd(interp, "prep", "fir", FirCmd, nullptr, nullptr);
  return Obj_Init(interp);
}

int Prep_SafeInit(Tcl_Interp *interp) { return Prep_Init(interp); }

}  // extern "C"
