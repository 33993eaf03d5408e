// The Lyre package: the time-aligned display widgets lwave (waveform),
// lscale (time ruler) and llola (segment labels).
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
  return Obj_Init(interp);
}

// The widgets read and write no files: a safe interpreter gets them all.
extern "C" int Lyre_SafeInit(Tcl_Interp *interp) { return Lyre_Init(interp); }
