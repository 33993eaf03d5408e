// The `brenlow` command: a hypothesis word string aligned with its
// reference, errors in upper case.
#include <tcl.h>

#include <string>

#include "brenlow.h"

namespace {

// brenlow ref_sent hyp_sent
// Answers {reference-line hypothesis-line}.
int BrenlowCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    if (argc != 3) {
        Tcl_AppendResult(interp, "wrong # args: should be \"", argv[0], " ref_set hyp_sent\"", nullptr);
        return TCL_ERROR;
    }
    BrenlowCounts counts;
    std::string refLine, hypLine;
    GS_Result *r = GS_CreateResult();
    int bad = Brenlow_Align(r, Brenlow_Split(argv[1], " \n\t"), Brenlow_Split(argv[2], " \n\t"), counts, refLine,
                            hypLine);
    if (bad) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj(r->text, -1));
        GS_DeleteResult(r);
        return TCL_ERROR;
    }
    GS_DeleteResult(r);
    Tcl_Obj *lines[2] = {Tcl_NewStringObj(refLine.c_str(), -1), Tcl_NewStringObj(hypLine.c_str(), -1)};
    Tcl_SetObjResult(interp, Tcl_NewListObj(2, lines));
    return TCL_OK;
}

} // namespace

extern "C" {

int Brenlow_Init(Tcl_Interp *interp) {
    int code = Tcl_PkgProvide(interp, "Brenlow", "1.0.0");
    if (code != TCL_OK) return code;
    Tcl_CreateCommand(interp, "brenlow", BrenlowCmd, nullptr, nullptr);
    return TCL_OK;
}

int Brenlow_SafeInit(Tcl_Interp *interp) { return Brenlow_Init(interp); }

} // extern "C"
