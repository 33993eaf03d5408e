// The `encode` command: MFCC-plus-delta encoders ("mfccdelta2") that turn
// streamed waves into 130-value frames for a frame classifier.
#include <tcl.h>

#include <cstring>

#include "cmds.h"
#include "container.h"
#include "encode.h"
#include "obj.h"
#include "pardel.h"
#include "records.h"
#include "streamcode.h"
#include "yastro.h"

namespace {

void encoderFree(void *r) { mfccdeltaNuke(static_cast<MfccDelta *>(r)); }
const CntrType kEncoderType = {"mfccdelta2", "mfccdelta", nullptr, encoderFree, nullptr, nullptr, nullptr, nullptr};

bool is(const char *a, const char *b) { return !std::strcmp(a, b); }

MfccDelta *getEncoder(Tcl_Interp *interp, const char *name) {
  return static_cast<MfccDelta *>(Obj_GetData(interp, "mfccdelta2", name));
}

// Runs the encoder over samples into features (bound or made) when frames
// are due; the result is the features' name, or empty when none were due.
// Answers the number of frames written, or -1 on a binding failure.
int encode(Tcl_Interp *interp, MfccDelta *h, const int16_t *samples, int len, const char *features, int flush) {
  const int n = mfccdeltaFrames(h, len, flush);
  if (n < 1) {
    mfccdeltaCompute(h, samples, len, nullptr, flush);
    Tcl_ResetResult(interp);
    return 0;
  }
  MxMatrix *m = Mx_create();
  if (Mx_setReal(interp, features, n, MFCCDELTA_DIM, m)) {
    Mx_destroy(m);
    return -1;
  }
  const int made = mfccdeltaCompute(h, samples, len, m->real, flush);
  Mx_destroy(m);
  return made;
}

// encode mfcc+delta initialize ?-rate hz? ?-windowsize ms? ?-nfilts n?
// encode mfcc+delta reset mfccdeltaob
// encode mfcc+delta flush mfccdeltaob ?features?
// encode mfcc+delta mfccdeltaob input ?features? ?-break? ?-continue? ?-return? ?-flush?
// The run form answers the features' name once frames are due; until then
// it ends with the chosen completion code, so a script loop can be driven.
int MfccDeltaCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *verb = argc > 2 ? argv[2] : "";
  if (is(verb, "initialize")) {
    MfccDeltaParams *p = mfccdeltaDefault();
    if (Cmds_ParseArgs(interp, 3, argc, argv, "-rate %i -windowsize %f -nfilts %i", &p->rate, &p->windowsize,
                       &p->nfilts)) {
      DB_FREE(p);
      return TCL_ERROR;
    }
    GS_Result *r = GS_CreateResult();
    MfccDelta *h = mfccdeltaInit(r, p);
    DB_FREE(p);
    if (!h) {
      Tcl_SetResult(interp, r->text, TCL_VOLATILE);
      GS_DeleteResult(r);
      return TCL_ERROR;
    }
    GS_DeleteResult(r);
    if (Obj_Create(interp, "mfccdelta2", h) != TCL_OK) {
      mfccdeltaNuke(h);
      return TCL_ERROR;
    }
    return TCL_OK;
  }
  if (is(verb, "reset")) {
    const char *name = nullptr;
    if (Cmds_ParseArgs(interp, 3, argc, argv, "mfccdeltaob %s", &name)) return TCL_ERROR;
    MfccDelta *h = getEncoder(interp, name);
    if (!h) return TCL_ERROR;
    mfccdeltaReset(h);
    Tcl_SetResult(interp, (char *)name, TCL_VOLATILE);
    return TCL_OK;
  }
  if (is(verb, "flush")) {
    const char *name = nullptr, *features = nullptr;
    if (Cmds_ParseArgs(interp, 3, argc, argv, "mfccdeltaob %s features ?s", &name, &features)) return TCL_ERROR;
    MfccDelta *h = getEncoder(interp, name);
    if (!h) return TCL_ERROR;
    const int made = encode(interp, h, nullptr, 0, features, 1);
    if (made < 0) return TCL_ERROR;
    if (made == 0) {
      Tcl_SetResult(interp, (char *)"recognizer hasn't seen enough data", TCL_STATIC);
      return TCL_ERROR;
    }
    return TCL_OK;
  }
  const char *name = nullptr, *input = nullptr, *features = nullptr;
  int brk = 0, cont = 0, ret = 0, flush = 0;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "mfccdeltaob %s input %s features ?s -break %n -continue %n -return %n -flush %n",
                     &name, &input, &features, &brk, &cont, &ret, &flush))
    return TCL_ERROR;
  MfccDelta *h = getEncoder(interp, name);
  if (!h) return TCL_ERROR;
  auto *w = static_cast<WaveRecord *>(Obj_GetData(interp, "wave", input));
  if (!w) return TCL_ERROR;
  const int made = encode(interp, h, w->samples, w->len, features, flush);
  if (made < 0) return TCL_ERROR;
  return made > 0 ? TCL_OK : Stream_Code(brk, cont, ret);
}

}  // namespace

extern "C" {

int Encode_Init(Tcl_Interp *interp) {
  int code = Tcl_PkgProvide(interp, "Encode", "2.0");
  if (code != TCL_OK) return code;
  Cntr_RegisterType(&kEncoderType);
  Cmds_CreateSwitchCmd(interp, "encode", nullptr, nullptr);
  Cmds_CreateSubCmd(interp, "encode", "mfcc+delta", MfccDeltaCmd, nullptr, nullptr);
  return Obj_Init(interp);
}

int Encode_SafeInit(Tcl_Interp *interp) { return Encode_Init(interp); }

}  // extern "C"
