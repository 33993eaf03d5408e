// Test helper: `probrows ROWS` makes an arrayF object from a list of rows
// of numbers (bound through the matrix-argument library), so that scripts
// can hand the search a probability matrix.
#include <tcl.h>

#include <cstring>

#include "obj.h"
#include "pardel.h"
#include "utils.h"

static int ProbRowsCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    if (argc != 2) {
        Tcl_SetResult(interp, (char *)"wrong # args: should be \"probrows rows\"", TCL_STATIC);
        return TCL_ERROR;
    }
    MxMatrix *m = Mx_create();
    // A matrix word is one list item that holds the rows.
    char *word = Tcl_Merge(1, &argv[1]);
    int bad = Mx_getReal(interp, word, m);
    Tcl_Free(word);
    if (bad) {
        Mx_destroy(m);
        return TCL_ERROR;
    }
    ArrayRecord *a = nullptr;
    if (maybeReuse2DObject(nullptr, interp, m->rows, m->cols, &a)) {
        Mx_destroy(m);
        return TCL_ERROR;
    }
    for (int i = 0; i < m->rows; i++) memcpy(a->rows[i], m->real[i], m->cols * sizeof(float));
    Mx_destroy(m);
    return TCL_OK;
}

extern "C" int Probrows_Init(Tcl_Interp *interp) {
    if (Tcl_PkgProvide(interp, "ProbRows", "1.0") != TCL_OK) return TCL_ERROR;
    Tcl_CreateCommand(interp, "probrows", ProbRowsCmd, nullptr, nullptr);
    return Obj_Init(interp);
}
