// The Lyre package: the time-aligned display widgets lwave (waveform),
// lscale (time ruler), llola (segment labels) and ltwod (2-D data).
#include <tcl.h>
#include <tk.h>

#include "lyre.h"
#include "obj.h"

extern "C" int Lyre_Init(Tcl_Interp *interp) {
  // The widgets need Tk's main window.
  if (!Tk_MainWindow(interp)) {
    Tcl_SetResult(interp, (char *)"Lyre needs Tk: package require Tk first", TCL_STATIC);
    return TCL_ERROR;
  }
  int code = Tcl_PkgProvide(interp, "Lyre", "1.0");
  if (code != TCL_OK) return code;
  ClientData main = Tk_MainWindow(interp);
  Tcl_CreateCommand(interp, "lwave", LwaveCmd, main, nullptr);
  Tcl_CreateCommand(interp, "lscale", LscaleCmd, main, nullptr);
  Tcl_CreateCommand(interp, "llola", LlolaCmd, main, nullptr);
  Tcl_CreateCommand(interp, "ltwod", LtwodCmd, main, nullptr);
  return Obj_Init(interp);
}

// ltwod refuses its file sub-commands (label read and write, colormap) in a
// safe interpreter; everything else is the same there.
extern "C" int Lyre_SafeInit(Tcl_Interp *interp) { return Lyre_Init(interp); }
