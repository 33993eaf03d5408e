// Package entries of Mostrel: each step's code is checked, and the first
// failure stops the sequence.
#include "mostrel.h"

#include "obj.h"

namespace {

int init(Tcl_Interp *interp, bool safe) {
    ObjRegisterTypes();
    NetRegisterTypes();
    int code = Tcl_PkgProvide(interp, "Mostrel", "1.0.0");
    if (code != TCL_OK) return code;
    code = Obj_Init(interp);
    if (code != TCL_OK) return code;
    code = safe ? ObjRegisterSafeCommands(interp) : ObjRegisterCommands(interp);
    if (code != TCL_OK) return code;
    // A safe interpreter may open no socket: it gets no context command.
    if (!safe) {
        code = NetInit(interp);
        if (code != TCL_OK) return code;
    }
    return RawInit(interp);
}

} // namespace

extern "C" {

int Mostrel_Init(Tcl_Interp *interp) { return init(interp, false); }

int Mostrel_SafeInit(Tcl_Interp *interp) { return init(interp, true); }

} // extern "C"
