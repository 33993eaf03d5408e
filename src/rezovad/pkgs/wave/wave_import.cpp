// wave import: copies the synthesiser's published wave into a wave object.
#include "wave_import.h"

#include <cerrno>
#include <cinttypes>
#include <cstdlib>
#include <cstring>

#include "cmds.h"
#include "obj.h"
#include "records.h"
#include "wave_handoff.h"

// The record the Festival package hangs on its `festival` command, or null.
static const TovikWaveHandoff *publishedWave(Tcl_Interp *interp) {
  Tcl_CmdInfo info;
  if (!Tcl_GetCommandInfo(interp, "festival", &info) || !info.isNativeObjectProc) return nullptr;
  const TovikWaveHandoff *h = (const TovikWaveHandoff *)info.objClientData;
  if (h == nullptr || h->magic != TOVIK_WAVE_HANDOFF_MAGIC) return nullptr;
  return h;
}

// wave import ADDRESS SAMPLES RATE
// Copies SAMPLES samples of the buffer that tovik.wave.info published at
// ADDRESS into a new wave of rate RATE and answers its name.
int Wave_ImportCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  if (argc != 5) {
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "wrong # args: should be \"", argv[0], " ", argv[1], " address samples rate\"",
                     (char *)NULL);
    return TCL_ERROR;
  }
  char *end;
  errno = 0;
  uintmax_t addr = strtoumax(argv[2], &end, 0);
  if (errno != 0 || end == argv[2] || *end != '\0') {
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "bad address \"", argv[2], "\"", (char *)NULL);
    return TCL_ERROR;
  }
  int samples, rate;
  if (Tcl_GetInt(interp, argv[3], &samples) != TCL_OK || Tcl_GetInt(interp, argv[4], &rate) != TCL_OK)
    return TCL_ERROR;

  const TovikWaveHandoff *h = publishedWave(interp);
  if (h == nullptr) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj("no synthesiser wave: run festivalInit and tovik.wave.info first", -1));
    return TCL_ERROR;
  }
  if (h->data == nullptr || addr != (uintmax_t)(uintptr_t)h->data) {
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "address ", argv[2], " is not the wave that tovik.wave.info published last",
                     (char *)NULL);
    return TCL_ERROR;
  }
  if (samples < 0 || samples > h->samples) {
    Tcl_SetObjResult(interp, Tcl_ObjPrintf("samples %d out of range: the published wave has %ld", samples,
                                           h->samples));
    return TCL_ERROR;
  }
  if (rate <= 0) {
    Tcl_SetObjResult(interp, Tcl_ObjPrintf("rate %d must be positive", rate));
    return TCL_ERROR;
  }
  WaveRecord *w = Wave_New(samples, (float)rate);
  if (w == nullptr) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj("out of memory for the imported wave", -1));
    return TCL_ERROR;
  }
  if (samples > 0) memcpy(w->samples, h->data, (size_t)samples * sizeof(int16_t));
  if (Obj_Create(interp, "wave", w) != TCL_OK) {
    Wave_Free(w);
    return TCL_ERROR;
  }
  return TCL_OK;
}

void Wave_AddImport(Tcl_Interp *interp) {
  Tcl_CmdInfo info;
  if (Tcl_GetCommandInfo(interp, "festival", &info))
    Cmds_CreateSubCmd(interp, "wave", "import", Wave_ImportCmd, nullptr, nullptr);
}
