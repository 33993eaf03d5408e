// The `wendrel` command: log-energy trackers as "wendrel" objects that turn
// a wave into a column of per-frame energies.
#include <tcl.h>

#include <cmath>
#include <cstring>

#include "cmds.h"
#include "container.h"
#include "obj.h"
#include "records.h"
#include "utils.h"
#include "wendrel.h"
#include "yastro.h"

namespace {

void trackerFree(void *record) { Wendrel_nuke(static_cast<WendrelRecord *>(record)); }

void *trackerClone(const void *record) {
  const WendrelRecord *w = static_cast<const WendrelRecord *>(record);
  return Wendrel_init(w->winSize, w->frameSize, w->sampFreq);
}

const CntrType kTrackerType = {"wendrel", "wendrel", nullptr, trackerFree, trackerClone, nullptr, nullptr, nullptr};

// wendrel init -win_size ms -frame_size ms -samp_freq hz
// A new tracker; options left out keep their defaults (32 ms, 1 ms, 8000 Hz).
int InitCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  float win = -1.0f, frame = -1.0f;
  int rate = -1;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "-win_size %f -frame_size %f \t\t-samp_freq %i", &win, &frame, &rate))
    return TCL_ERROR;
  WendrelRecord *w = Wendrel_init(win, frame, rate);
  if (Obj_Create(interp, "wendrel", w) != TCL_OK) {
    Wendrel_nuke(w);
    return TCL_ERROR;
  }
  return TCL_OK;
}

// wendrel reset wendrelob
// Back to the defaults.
int ResetCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *name = nullptr;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "wendrelob %s", &name)) return TCL_ERROR;
  WendrelRecord *w = static_cast<WendrelRecord *>(Obj_GetData(interp, "wendrel", name));
  if (!w) return TCL_ERROR;
  Wendrel_reset(w);
  Tcl_ResetResult(interp);
  return TCL_OK;
}

// wendrel compute wendrelob wave ?outvector?
// The log energy (dB) of every frame of the wave as an n x 1 arrayF, one
// frame per frame step; outvector is reused when it has that shape.
int ComputeCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *name = nullptr, *wn = nullptr, *out = nullptr;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "wendrelob %s wave %s outvector ?s", &name, &wn, &out)) return TCL_ERROR;
  WendrelRecord *w = static_cast<WendrelRecord *>(Obj_GetData(interp, "wendrel", name));
  if (!w) return TCL_ERROR;
  WaveRecord *wave = static_cast<WaveRecord *>(Obj_GetData(interp, "wave", wn));
  if (!wave) return TCL_ERROR;
  double step = std::trunc(w->sampFreq * (double)w->frameSize * 0.001 + 0.5);
  // A step below one sample would divide by zero, a window below two
  // samples has no shape: both are refused.
  if (!(step >= 1) || step > 2147483647.0) {
    Tcl_SetResult(interp, (char *)"frame step must be at least one sample", TCL_STATIC);
    return TCL_ERROR;
  }
  if (Wendrel_windowSamples(w) < 2) {
    Tcl_SetResult(interp, (char *)"analysis window must be at least two samples", TCL_STATIC);
    return TCL_ERROR;
  }
  int nframes = (int)std::trunc(wave->len / step);
  ArrayRecord *a = nullptr;
  if (maybeReuse2DObject(out, interp, nframes, 1, &a)) return TCL_ERROR;
  Wendrel_compute(w, wave->samples, wave->len, a->rows, nframes, (int)step);
  return TCL_OK;
}

const SubCmdEntry kTable[] = {{"init", InitCmd}, {"reset", ResetCmd}, {"compute", ComputeCmd}, {nullptr, nullptr}};

}  // namespace

extern "C" {

int Wendrel_Init(Tcl_Interp *interp) {
  int code = Tcl_PkgProvide(interp, "Wendrel", "1.0");
  if (code != TCL_OK) return code;
  Cntr_RegisterType(&kTrackerType);
  Cmds_CreateSwitchCmd(interp, "wendrel", nullptr, nullptr);
  for (const SubCmdEntry *e = kTable; e->name; e++)
    Cmds_CreateSubCmd(interp, "wendrel", e->name, e->proc, nullptr, nullptr);
  return Obj_Init(interp);
}

int Wendrel_SafeInit(Tcl_Interp *interp) { return Wendrel_Init(interp); }

}  // extern "C"
