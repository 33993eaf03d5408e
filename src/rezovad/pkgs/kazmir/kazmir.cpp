// The Kazmir package: before phone probabilities are aligned, the frames
// that a segment vector marks as outside speech (a negative value) have
// every category but the first scaled down, so the alignment prefers the
// first category there.
#include <tcl.h>

#include "cmds.h"
#include "obj.h"
#include "pardel.h"

namespace {

// nnmask PROBOB SEGVEC ?-scale F?
// Multiplies columns 1..end of each row i of PROBOB whose SEGVEC value i is
// below 0 by F (0.1). An "arrayF" name is changed in place; a list of rows
// is a temporary copy, so nothing visible changes. Answers nothing.
int NnmaskCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    MxMatrix *prob = Mx_create();
    MxMatrix *seg = Mx_create();
    float scale = 0.1f;
    int code = TCL_ERROR;
    if (Cmds_ParseArgs(interp, 1, argc, argv, "probob %s segvec %s -scale %f", &prob->text, &seg->text, &scale) ==
            0 &&
        Mx_getReal(interp, prob->text, prob) == 0 && Mx_getReal(interp, seg->text, seg) == 0) {
        const float *mask = seg->rows > 0 ? seg->real[0] : nullptr;
        for (int i = 0; mask && i < prob->rows && i < seg->cols; i++) {
            if (!(mask[i] < 0)) continue;
            float *row = prob->real[i];
            for (int j = 1; j < prob->cols; j++) row[j] *= scale;
        }
        Tcl_ResetResult(interp);
        code = TCL_OK;
    }
    Mx_destroy(prob);
    Mx_destroy(seg);
    return code;
}

const SubCmdEntry kNnmask[] = {{"*", NnmaskCmd}, {nullptr, nullptr}};

}  // namespace

extern "C" {

int Kazmir_CreateCommands(Tcl_Interp *interp) {
    Cmds_CreateSwitchCmd(interp, "nnmask", nullptr, nullptr);
    Cmds_CreateSubCmds(interp, "nnmask", kNnmask);
    return Obj_Init(interp);
}

int Kazmir_Init(Tcl_Interp *interp) {
    int code = Tcl_PkgProvide(interp, "Kazmir", "1.0");
    if (code != TCL_OK) return code;
    return Kazmir_CreateCommands(interp);
}

// Safe interpreters get the package but no command.
int Kazmir_SafeInit(Tcl_Interp *interp) {
    int code = Tcl_PkgProvide(interp, "Kazmir", "1.0");
    if (code != TCL_OK) return code;
    return Obj_Init(interp);
}
}
