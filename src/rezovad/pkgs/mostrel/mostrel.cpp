// Package entries of Mostrel: each step's code is checked, and the first
// failure stops the sequence.
#include "mostrel.h"

#include "obj.h"

namespace {

int init(Tcl_Interp *interp, int (*registerObjectCommands)(Tcl_Interp *)) {
    int code = Tcl_PkgProvide(interp, "Mostrel", "1.0.0");
    if (code != TCL_OK) return code;
    code = Obj_Init(interp);
    if (code != TCL_OK) return code;
    return registerObjectCommands(interp);
}

} // namespace

extern "C" {

int Mostrel_Init(Tcl_Interp *interp) { return init(interp, ObjRegisterCommands); }

int Mostrel_SafeInit(Tcl_Interp *interp) { return init(interp, ObjRegisterSafeCommands); }

} // extern "C"
