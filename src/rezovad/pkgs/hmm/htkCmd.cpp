// The `htk` command: feature matrices to and from HTK parameter files, and
// segment lists to HTK label files.
#include <tcl.h>

#include <cstring>
#include <string>
#include <vector>

#include "cmds.h"
#include "halbrin.h"
#include "hmmCmd.h"
#include "htkfile.h"
#include "obj.h"
#include "pardel.h"
#include "utils.h"

namespace {

// The native form of a script's file name, or null (with the message).
const char *nativeName(Tcl_Interp *interp, const char *name, Tcl_DString *ds) {
    return Tcl_TranslateFileName(interp, name, ds);
}

// Messages name the file as the script gave it.
int openFailure(Tcl_Interp *interp, GS_Result *r, const char *native, const char *given) {
    std::string text = r->text ? r->text : "";
    std::string prefix = std::string("Could not open file: ") + native;
    if (text == prefix) text = std::string("Could not open file: ") + given;
    Tcl_SetObjResult(interp, Tcl_NewStringObj(text.c_str(), -1));
    GS_DeleteResult(r);
    return TCL_ERROR;
}

// htk hcode-> filename ?-from N? ?-to N?
// Answers a new matrix of the file's frames from (first) up to to (last).
int ReadCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *file;
    int from = -1, to = -1;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "filename %s -from %i -to %i", &file, &from, &to)) return TCL_ERROR;
    if (from >= 0 && to >= 0 && to <= from) {
        Tcl_SetResult(interp, (char *)"Frame specification error. from >= to.", TCL_STATIC);
        return TCL_ERROR;
    }
    Tcl_DString ds;
    const char *native = nativeName(interp, file, &ds);
    if (!native) return TCL_ERROR;
    GS_Result *r = GS_CreateResult();
    int rows = 0, cols = 0;
    std::vector<float> data;
    int bad = Htk_ReadParams(r, native, from, to, &rows, &cols, &data);
    int code;
    if (bad) {
        code = openFailure(interp, r, native, file);
    } else {
        GS_DeleteResult(r);
        MxMatrix *m = Mx_create();
        code = TCL_ERROR;
        if (Mx_setReal(interp, nullptr, rows, cols, m) == 0) {
            for (int i = 0; i < rows; i++) memcpy(m->real[i], &data[(size_t)i * cols], sizeof(float) * cols);
            code = TCL_OK;
        }
        Mx_destroy(m);
    }
    Tcl_DStringFree(&ds);
    return code;
}

// htk ->hcode featureob filename
// Writes the matrix as an HTK parameter file.
int WriteCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *on, *file;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "featureob %s filename %s", &on, &file)) return TCL_ERROR;
    ArrayRecord *a = nullptr;
    if (get2DVecObject(on, interp, &a) != TCL_OK) return TCL_ERROR;
    Tcl_DString ds;
    const char *native = nativeName(interp, file, &ds);
    if (!native) return TCL_ERROR;
    GS_Result *r = GS_CreateResult();
    int bad = Htk_WriteParams(r, native, Array_rows(a), Array_cols(a), a->ndims == 1 ? &a->data : a->rows);
    int code = bad ? openFailure(interp, r, native, file) : TCL_OK;
    if (!bad) GS_DeleteResult(r);
    Tcl_DStringFree(&ds);
    return code;
}

// htk halbrin-> halbrinob filename
// Writes the segment list as an HTK label file.
int LabelsCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *hn, *file;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "halbrinob %s filename %s", &hn, &file)) return TCL_ERROR;
    HalbrinList *h = static_cast<HalbrinList *>(Obj_GetData(interp, "halbrin", hn));
    if (!h) return TCL_ERROR;
    Tcl_DString ds;
    const char *native = nativeName(interp, file, &ds);
    if (!native) return TCL_ERROR;
    GS_Result *r = GS_CreateResult();
    int bad = Htk_WriteLabels(r, native, h);
    int code = bad ? openFailure(interp, r, native, file) : TCL_OK;
    if (!bad) GS_DeleteResult(r);
    Tcl_DStringFree(&ds);
    return code;
}

const SubCmdEntry kHtk[] = {{"hcode->", ReadCmd}, {"->hcode", WriteCmd}, {"halbrin->", LabelsCmd}, {nullptr, nullptr}};

}  // namespace

const SubCmdEntry *Htk_Commands() { return kHtk; }
