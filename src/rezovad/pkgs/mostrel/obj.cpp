// Generic object commands of the Mostrel package.
#include <string>

#include "cmds.h"
#include "mostrel.h"
#include "obj.h"

namespace {

// Tells whether a word can be taken by ObjNukeList without failing: it
// names an object, or it splits as a list.
bool nukeable(Tcl_Interp *interp, const char *word) {
    if (Obj_Get(interp, nullptr, word)) return true;
    int n = 0;
    const char **items = nullptr;
    if (Tcl_SplitList(interp, word, &n, &items) != TCL_OK) return false;
    Tcl_Free(reinterpret_cast<char *>(items));
    return true;
}

// Destroys the object named by word; a word that names none and splits
// into two or more elements has each element destroyed the same way, at
// any depth, their failures ignored. Fails only when such a word is not a
// well-formed list.
int ObjNukeList(Tcl_Interp *interp, const char *word) {
    if (Obj_Destroy(interp, word) == TCL_OK) return TCL_OK;
    int n = 0;
    const char **items = nullptr;
    if (Tcl_SplitList(interp, word, &n, &items) != TCL_OK) return TCL_ERROR;
    if (n > 1)
        for (int i = 0; i < n; i++) ObjNukeList(interp, items[i]);
    Tcl_Free(reinterpret_cast<char *>(items));
    return TCL_OK;
}

// nuke object...
// Destroys each named object; a word that names no object is read as a
// list of names (at any depth) and unknown names are skipped. Fails, with
// nothing destroyed, only when such a word is not a well-formed list.
int NukeCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    int count = 0;
    char **words = nullptr;
    if (Cmds_ParseArgs(interp, 1, argc, argv, "object... %l", &count, &words)) return TCL_ERROR;
    for (int i = 0; i < count; i++)
        if (!nukeable(interp, words[i])) return TCL_ERROR;
    for (int i = 0; i < count; i++)
        if (ObjNukeList(interp, words[i]) != TCL_OK) return TCL_ERROR;
    Tcl_ResetResult(interp);
    return TCL_OK;
}

} // namespace

int ObjRegisterCommands(Tcl_Interp *interp) {
    Tcl_CreateCommand(interp, "nuke", NukeCmd, nullptr, nullptr);
    return TCL_OK;
}

int ObjRegisterSafeCommands(Tcl_Interp *interp) {
    Tcl_CreateCommand(interp, "nuke", NukeCmd, nullptr, nullptr);
    return TCL_OK;
}
