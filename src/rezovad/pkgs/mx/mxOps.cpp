// The operator commands of mx: two-operand operators, one-operand
// operators and reductions. Each handler gets its table row as client data.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "asn.h"
#include "cmds.h"
#include "mx.h"

namespace mx {

bool refuseEmpty(Tcl_Interp *interp, const char *sub, const MxMatrix *m, const char *text) {
    if (m->rows > 0 && m->cols > 0) return false;
    fail(interp, "mx %s: %s is an empty matrix", sub, text);
    return true;
}

void fpStart() { Asn_FpClear(); }

int fpFinish(Tcl_Interp *interp) {
    Asn_FpCheck(interp, "SIGFPE");
    return TCL_OK;
}

int truncInt(double v) {
    if (!(v == v)) return 0;
    if (v >= 2147483647.0) return 2147483647;
    if (v <= -2147483648.0) return -2147483647 - 1;
    return (int)v;
}

} // namespace mx

using namespace mx;

namespace {

// A word that strtod reads to its end is a number.
bool readNumber(const char *word, float *value) {
    if (!*word) return false;
    char *end = nullptr;
    double v = strtod(word, &end);
    if (*end) return false;
    *value = (float)v;
    return true;
}

int bothNumbers(Tcl_Interp *interp, const BRow *row, float a, float b, const char *out) {
    float r = 0;
    if (row->code >= 10 || row->code < 0) return fail(interp, "invalid operator: #%d", row->code);
    fpStart();
    mu_scalar(row->code, a, b, &r);
    char buf[32];
    Cmds_FloatString(r, buf);
    if (out && !Tcl_SetVar(interp, out, buf, TCL_LEAVE_ERR_MSG)) return TCL_ERROR;
    Tcl_SetObjResult(interp, Tcl_NewStringObj(buf, -1));
    return fpFinish(interp);
}

// A number with a matrix, in either order.
int numberAndMatrix(Tcl_Interp *interp, const BRow *row, float x, const char *word, int matrixFirst,
                    const char *out) {
    if (row->mixing == 0) return fail(interp, "not a scalar operator");
    if (row->mixing != 1 && row->mixing != 2) return fail(interp, "invalid input type: #%d", row->mixing);
    Matrix m;
    if (Mx_getComplex(interp, word, m.get())) return TCL_ERROR;
    if (refuseEmpty(interp, row->name, m.get(), word)) return TCL_ERROR;
    Matrix o;
    if (m->imag) {
        if (!row->complex) return fail(interp, "mx %s: %s must be real", row->name, word);
        if (Mx_setComplex(interp, out, m->rows, m->cols, o.get())) return TCL_ERROR;
        fpStart();
        mu_rscm(row->code, matrixFirst, x, m->rows, m->cols, m->real, m->imag, o->real, o->imag);
    } else {
        if (Mx_setReal(interp, out, m->rows, m->cols, o.get())) return TCL_ERROR;
        fpStart();
        mu_rsrm(row->code, matrixFirst, x, m->rows, m->cols, m->real, o->real);
    }
    return fpFinish(interp);
}

int incompatible(Tcl_Interp *interp, const BRow *row, const char *wa, const MxMatrix *a, const char *wb,
                 const MxMatrix *b) {
    return fail(interp, "mx %s: %s (%d %d) and %s (%d %d) has incompatible dimensions", row->name, wa, a->rows,
                a->cols, wb, b->rows, b->cols);
}

int bothMatrices(Tcl_Interp *interp, const BRow *row, const char *wa, const char *wb, const char *out) {
    Matrix a, b;
    if (Mx_getComplex(interp, wa, a.get())) return TCL_ERROR;
    if (Mx_getComplex(interp, wb, b.get())) return TCL_ERROR;
    if (refuseEmpty(interp, row->name, a.get(), wa) || refuseEmpty(interp, row->name, b.get(), wb)) return TCL_ERROR;
    int rows = a->rows, cols = a->cols;
    if (row->size) {
        if (row->size(a->rows, a->cols, b->rows, b->cols, &rows, &cols) < 0)
            return incompatible(interp, row, wa, a.get(), wb, b.get());
    } else if (a->rows != b->rows || a->cols != b->cols) {
        return incompatible(interp, row, wa, a.get(), wb, b.get());
    }
    Matrix o;
    if (a->imag || b->imag) {
        if (!row->complex) return fail(interp, "mx %s: %s must be real", row->name, wa);
        if (Mx_setComplex(interp, out, rows, cols, o.get())) return TCL_ERROR;
        fpStart();
        row->complex(a->rows, a->cols, b->rows, b->cols, a->real, a->imag, b->real, b->imag, o->real, o->imag);
    } else {
        if (Mx_setReal(interp, out, rows, cols, o.get())) return TCL_ERROR;
        fpStart();
        mu_rmrm(row->code, a->rows, a->cols, b->rows, b->cols, a->real, b->real, o->real);
    }
    return fpFinish(interp);
}

// Result size of a one-operand operator.
void shapeSize(int shape, int r, int c, int colFlag, int *rows, int *cols) {
    switch (shape) {
    case SHAPE_TRANS: *rows = c, *cols = r; break;
    case SHAPE_DIAG:
        if (r < 2 || c < 2) *rows = *cols = r * c;
        else *rows = 1, *cols = r < c ? r : c;
        break;
    case SHAPE_UNWRAP: *rows = 1, *cols = r * c; break;
    case SHAPE_REDUCE:
        if (colFlag) *rows = 1, *cols = c;
        else *rows = r, *cols = 1;
        break;
    case SHAPE_1X1: *rows = *cols = 1; break;
    case SHAPE_1X2: *rows = 1, *cols = 2; break;
    default: *rows = r, *cols = c; break;
    }
}

// The common part of the one-operand handlers; colFlag < 0 for operators
// that are no reductions.
int unary(Tcl_Interp *interp, const URow *row, const char *word, const char *out, int colFlag) {
    Matrix a;
    if (Mx_getComplex(interp, word, a.get())) return TCL_ERROR;
    // The size of an empty matrix is a fair question; nothing else is.
    if (row->shape != SHAPE_1X2 && refuseEmpty(interp, row->name, a.get(), word)) return TCL_ERROR;
    int rows, cols;
    shapeSize(row->shape, a->rows, a->cols, colFlag, &rows, &cols);
    bool reduction = colFlag >= 0;
    Matrix o;
    if (!a->imag) {
        if (Mx_setReal(interp, out, rows, cols, o.get())) return TCL_ERROR;
        fpStart();
        if (reduction) row->realRed(row->func, a->rows, a->cols, a->real, o->real, colFlag);
        else row->real(row->func, a->rows, a->cols, a->real, o->real);
    } else if (reduction ? row->complexRed != nullptr : row->complex != nullptr) {
        if (Mx_setComplex(interp, out, rows, cols, o.get())) return TCL_ERROR;
        fpStart();
        if (reduction) row->complexRed(row->func, a->rows, a->cols, a->real, a->imag, o->real, o->imag, colFlag);
        else row->complex(row->func, a->rows, a->cols, a->real, a->imag, o->real, o->imag);
    } else if (!reduction && row->c2r) {
        if (Mx_setReal(interp, out, rows, cols, o.get())) return TCL_ERROR;
        fpStart();
        row->c2r(row->func, a->rows, a->cols, a->real, a->imag, o->real);
    } else {
        return fail(interp, "mx %s: %s must be real", row->name, word);
    }
    return fpFinish(interp);
}

} // namespace

extern "C" {

// mx OP inobjA inobjB ?outobj?
// Combines two matrices, a matrix and a number, or two numbers (then the
// answer is the number, also stored in the variable outobj when given).
int MX_BCmd(ClientData cd, Tcl_Interp *interp, int argc, const char *argv[]) {
    const BRow *row = static_cast<const BRow *>(cd);
    if (argc != 4 && argc != 5)
        return fail(interp, "wrong # of args: should be \"mx %s inobjA inobjB ?outobj?\"", row->name);
    const char *out = argc == 5 ? argv[4] : nullptr;
    float a = 0, b = 0;
    bool na = readNumber(argv[2], &a), nb = readNumber(argv[3], &b);
    if (na && nb) return bothNumbers(interp, row, a, b, out);
    if (na) return numberAndMatrix(interp, row, a, argv[3], 0, out);
    if (nb) return numberAndMatrix(interp, row, b, argv[2], 1, out);
    return bothMatrices(interp, row, argv[2], argv[3], out);
}

// mx OP inobjA ?outobj?
int MX_UCmd(ClientData cd, Tcl_Interp *interp, int argc, const char *argv[]) {
    const URow *row = static_cast<const URow *>(cd);
    if (argc != 3 && argc != 4) return fail(interp, "wrong # of args: should be \"mx %s inobjA ?outobj?\"", row->name);
    return unary(interp, row, argv[2], argc == 4 ? argv[3] : nullptr, -1);
}

// mx OP row|col inobjA ?outobj?
// Reduces each row (an r x 1 result) or each column (1 x c).
int MX_U1Cmd(ClientData cd, Tcl_Interp *interp, int argc, const char *argv[]) {
    const URow *row = static_cast<const URow *>(cd);
    if (argc != 4 && argc != 5)
        return fail(interp,
                    "wrong # of args: should be \"mx %s row inobjA ?outobj?\" or  \"mx %s col inobjA ?outobj?\"",
                    row->name, row->name);
    int colFlag;
    if (strcmp(argv[2], "row") == 0) colFlag = 0;
    else if (strcmp(argv[2], "col") == 0) colFlag = 1;
    else
        return fail(interp, "invalid subcommand %s: should be \"mx %s row\" or \"mx %s col\"", argv[2], row->name,
                    row->name);
    return unary(interp, row, argv[3], argc == 5 ? argv[4] : nullptr, colFlag);
}

} // extern "C"
