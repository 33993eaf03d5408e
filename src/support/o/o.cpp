// Package "O" 1.0: the object layer as a package of its own.  Requiring it
// prepares the interpreter's object registry; it adds no command.
#include <tcl.h>

#include "obj.h"

extern "C" {

int O_Init(Tcl_Interp *interp) {
    int code = Tcl_PkgProvide(interp, "O", "1.0");
    if (code != TCL_OK) return code;
    return Obj_Init(interp);
}

int O_SafeInit(Tcl_Interp *interp) { return O_Init(interp); }

}  // extern "C"
