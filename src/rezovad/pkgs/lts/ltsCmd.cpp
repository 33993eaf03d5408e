// The `lts` command: a pronunciation from spelling.
#include <tcl.h>

#include <string>
#include <vector>

#include "cmds.h"
#include "lts.h"

namespace {

// lts text
// The pronunciation of text; an empty text gives an empty one.
int LtsCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *text = nullptr;
    if (Cmds_ParseArgs(interp, 1, argc, argv, "text %s", &text)) return TCL_ERROR;
    // Ten bytes a letter, and one for the end of an empty text.
    std::vector<char> buf(10 * std::string(text).size() + 1);
    GS_Result *r = GS_CreateResult();
    int bad = lts_Generate(r, text, buf.data(), buf.size());
    Tcl_SetObjResult(interp, Tcl_NewStringObj(bad ? r->text : buf.data(), -1));
    GS_DeleteResult(r);
    return bad ? TCL_ERROR : TCL_OK;
}

} // namespace

extern "C" {

int Lts_Init(Tcl_Interp *interp) {
    int code = Tcl_PkgProvide(interp, "Lts", "1.0");
    if (code != TCL_OK) return code;
    Tcl_CreateCommand(interp, "lts", LtsCmd, nullptr, nullptr);
    return TCL_OK;
}

int Lts_SafeInit(Tcl_Interp *interp) { return Lts_Init(interp); }

} // extern "C"
