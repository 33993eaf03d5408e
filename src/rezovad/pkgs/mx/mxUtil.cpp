// The utility commands of mx that work in memory: cutting and copying,
// printing, filled matrices, sizes, constants, joining, scaling, sorting,
// norms, Cholesky, FFT, covariance and correlation. Each handler gets its
// table row as client data. Every check comes before the output is bound,
// so that a refused command leaves its output as it was.
#include <cfloat>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cmds.h"
#include "mx.h"

using namespace mx;

namespace {

const UtilRow *rowOf(ClientData cd) { return static_cast<const UtilRow *>(cd); }

// A matrix of our own while a result is worked out before it is bound.
struct Temp {
    std::vector<float> data;
    std::vector<float *> rows;
    Temp(int r, int c) : data((size_t)r * c), rows(r) {
        for (int i = 0; i < r; i++) rows[i] = data.data() + (size_t)i * c;
    }
    void copyTo(float **out, int r, int c) const {
        for (int i = 0; i < r; i++) memcpy(out[i], rows[i], (size_t)c * sizeof(float));
    }
};

// Binds a real input that must hold at least one element.
int getReal(Tcl_Interp *interp, const char *sub, const char *text, Matrix &m) {
    if (Mx_getReal(interp, text, m.get())) return TCL_ERROR;
    return refuseEmpty(interp, sub, m.get(), text) ? TCL_ERROR : TCL_OK;
}

int getComplex(Tcl_Interp *interp, const char *sub, const char *text, Matrix &m) {
    if (Mx_getComplex(interp, text, m.get())) return TCL_ERROR;
    return refuseEmpty(interp, sub, m.get(), text) ? TCL_ERROR : TCL_OK;
}

std::string format(const char *fmt, double v) {
    int n = snprintf(nullptr, 0, fmt, v);
    std::string s(n > 0 ? n : 0, '\0');
    snprintf(&s[0], s.size() + 1, fmt, v);
    return s;
}

std::string formatInt(const char *fmt, int v) {
    char buf[64];
    snprintf(buf, sizeof buf, fmt, v);
    return buf;
}

// A float has no more than 112 significant digits; a precision far beyond
// that would only make the text huge.
int badPrecision(Tcl_Interp *interp, const char *sub, int precision) {
    if (precision < 0) return fail(interp, "mx %s: cannot use negative precision", sub);
    if (precision > 1000) return fail(interp, "mx %s: precision %d is too large", sub, precision);
    return TCL_OK;
}

// Number of elements of a range first:step:last; < 1 when it selects none.
long rangeCount(int first, int step, int last) {
    if (step == 0) return 0;
    return (long)std::floor((double)((long)last - first) / step + 1);
}

} // namespace

// mx cut indataobj range ?outdataobj?
// The elements that the range "a:b:c,d:e:f" selects, any non-zero step.
int MxCutCmd(ClientData cd, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *in = nullptr, *range = nullptr, *out = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "indataobj %s range %s outdataobj ?s", &in, &range, &out))
        return TCL_ERROR;
    Matrix a;
    if (getComplex(interp, rowOf(cd)->name, in, a)) return TCL_ERROR;
    int rf = 0, rs = 1, rl = a->rows - 1, cf = 0, cs = 1, cl = a->cols - 1;
    if (Mx_rangeSplit(interp, range, &rf, &rs, &rl, &cf, &cs, &cl)) return TCL_ERROR;
    long nr = rangeCount(rf, rs, rl), nc = rangeCount(cf, cs, cl);
    if (rf < 0 || rf > a->rows - 1 || rl < 0 || rl > a->rows - 1 || nr < 1)
        return fail(interp, "mx cut: out of range row index %d:%d:%d for vector %s -- should be in range 0:%d", rf, rs,
                    rl, in, a->rows - 1);
    if (cf < 0 || cf > a->cols - 1 || cl < 0 || cl > a->cols - 1 || nc < 1)
        return fail(interp, "mx cut: out of range column index %d:%d:%d for vector %s -- should be in range 0:%d", cf,
                    cs, cl, in, a->cols - 1);
    Matrix o;
    if (a->imag) {
        if (Mx_setComplex(interp, out, (int)nr, (int)nc, o.get())) return TCL_ERROR;
        mu_ccut(rf, rs, rl, cf, cs, cl, a->real, a->imag, o->real, o->imag);
    } else {
        if (Mx_setReal(interp, out, (int)nr, (int)nc, o.get())) return TCL_ERROR;
        mu_cut(rf, rs, rl, cf, cs, cl, a->real, o->real);
    }
    return TCL_OK;
}

// mx set indata ?outdataobj?
// A copy of the input (a list of rows, an object, a pair) as an object.
int MxSetCmd(ClientData cd, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *in = nullptr, *out = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "indata %s outdataobj ?s", &in, &out)) return TCL_ERROR;
    Matrix a;
    if (getComplex(interp, rowOf(cd)->name, in, a)) return TCL_ERROR;
    Matrix o;
    if (a->imag) {
        if (Mx_setComplex(interp, out, a->rows, a->cols, o.get())) return TCL_ERROR;
        mu_ccopy(nullptr, a->rows, a->cols, a->real, a->imag, o->real, o->imag);
    } else {
        if (Mx_setReal(interp, out, a->rows, a->cols, o.get())) return TCL_ERROR;
        mu_copy(nullptr, a->rows, a->cols, a->real, o->real);
    }
    return TCL_OK;
}

// mx puts indata ?-raw? ?-text? ?-nonewline? ?-int? ?-precision p?
// The matrix as a list {real ?imaginary?} of lists of rows, or with -raw as
// tab-separated text, one line a row.
int MxPutsCmd(ClientData cd, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *sub = rowOf(cd)->name;
    const char *in = nullptr;
    int raw = 0, text = 0, nonewline = 0, asInt = 0, precision = 6;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "indata %s -raw %n -text %n -nonewline %n -int %n -precision %i", &in,
                       &raw, &text, &nonewline, &asInt, &precision))
        return TCL_ERROR;
    if (badPrecision(interp, sub, precision)) return TCL_ERROR;
    Matrix a;
    if (getComplex(interp, sub, in, a)) return TCL_ERROR;
    float **parts[2] = {a->real, a->imag};
    int nparts = a->imag ? 2 : 1;
    if (raw) {
        std::string fmt = "%-#" + std::to_string(precision + 3) + "." + std::to_string(precision) + "g\t";
        std::string s = text ? "\"\n" : "";
        for (int p = 0; p < nparts; p++) {
            if (p > 0 && !nonewline) s += "\n";
            for (int i = 0; i < a->rows; i++) {
                for (int j = 0; j < a->cols; j++) {
                    float v = parts[p][i][j];
                    s += asInt ? formatInt("%-10i\t", truncInt(v)) : format(fmt.c_str(), v);
                }
                if (!nonewline) s += "\n";
            }
        }
        if (text) s += "\"";
        Tcl_SetObjResult(interp, Tcl_NewStringObj(s.c_str(), (int)s.size()));
        return TCL_OK;
    }
    Tcl_Obj *all = Tcl_NewListObj(0, nullptr);
    for (int p = 0; p < nparts; p++) {
        Tcl_Obj *part = Tcl_NewListObj(0, nullptr);
        for (int i = 0; i < a->rows; i++) {
            Tcl_Obj *row = Tcl_NewListObj(0, nullptr);
            for (int j = 0; j < a->cols; j++) {
                float v = parts[p][i][j];
                Tcl_ListObjAppendElement(nullptr, row, asInt ? Tcl_NewIntObj(truncInt(v)) : Cmds_NewFloatObj(v));
            }
            Tcl_ListObjAppendElement(nullptr, part, row);
        }
        Tcl_ListObjAppendElement(nullptr, all, part);
    }
    if (text) {
        std::string s = std::string("\"") + Tcl_GetString(all) + " \"";
        Tcl_DecrRefCount(all);
        Tcl_SetObjResult(interp, Tcl_NewStringObj(s.c_str(), (int)s.size()));
    } else {
        Tcl_SetObjResult(interp, all);
    }
    return TCL_OK;
}

// mx value inob row ?col? ?-int? ?-precision p?
// One element as text (%#.6g); a vector needs only its index.
int MxValueCmd(ClientData cd, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *sub = rowOf(cd)->name;
    const char *in = nullptr;
    int row = 0, col = INT32_MIN, asInt = 0, precision = 6;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "inob %s row %i col ?i -int %n -precision %i", &in, &row, &col, &asInt,
                       &precision))
        return TCL_ERROR;
    if (badPrecision(interp, sub, precision)) return TCL_ERROR;
    Matrix a;
    if (getReal(interp, sub, in, a)) return TCL_ERROR;
    if (col == INT32_MIN) {
        if (a->rows == 1) {
            col = row;
            row = 0;
        } else if (a->cols == 1) {
            col = 0;
        } else {
            return fail(interp, "mx %s: specify row and col indices in range 0:%d 0:%d for vector %s", sub, a->rows - 1,
                        a->cols - 1, in);
        }
    }
    if (row < 0 || row > a->rows - 1)
        return fail(interp, "mx %s: out of range row index %d for vector %s -- should be in range 0:%d", sub, row, in,
                    a->rows - 1);
    if (col < 0 || col > a->cols - 1)
        return fail(interp, "mx %s: out of range column index %d for vector %s -- should be in range 0:%d", sub, col,
                    in, a->cols - 1);
    float v = a->real[row][col];
    std::string fmt = "%#." + std::to_string(precision) + "g";
    std::string s = asInt ? formatInt("%i", truncInt(v)) : format(fmt.c_str(), v);
    Tcl_SetObjResult(interp, Tcl_NewStringObj(s.c_str(), (int)s.size()));
    return TCL_OK;
}

// mx ones|zeros|eye dim1 dim2 ?outdataobj?
// A matrix of ones, of zeros, or with ones on the diagonal and zeros
// elsewhere; a reused output is overwritten everywhere.
int MxFillCmd(ClientData cd, Tcl_Interp *interp, int argc, const char *argv[]) {
    const UtilRow *r = rowOf(cd);
    int d1 = 0, d2 = 0;
    const char *out = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "dim1 %i dim2 %i outdataobj ?s", &d1, &d2, &out)) return TCL_ERROR;
    if (d1 <= 0 || d2 <= 0) return fail(interp, "mx %s: matrix cannot have negative or zero sizes", r->name);
    Matrix o;
    if (Mx_setReal(interp, out, d1, d2, o.get())) return TCL_ERROR;
    float fillValue = r->code == 8 ? 1.0f : 0.0f;
    for (int i = 0; i < d1; i++)
        for (int j = 0; j < d2; j++) o->real[i][j] = fillValue;
    if (r->code == 10)
        for (int k = 0; k < d1 && k < d2; k++) o->real[k][k] = 1.0f;
    return TCL_OK;
}

// mx random dim1 dim2 ?outdataobj? ?-seed n? ?-int? ?-range low high?
// Uniform numbers in [0, 1) or [low, high); whole numbers with -int.
int MxRandomCmd(ClientData cd, Tcl_Interp *interp, int argc, const char *argv[]) {
    const UtilRow *r = rowOf(cd);
    int d1 = 0, d2 = 0, seed = 0, asInt = 0;
    float low = 0, high = 0;
    const char *out = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "dim1 %i dim2 %i outdataobj ?s -seed %i -int %n -range %f %f", &d1, &d2,
                       &out, &seed, &asInt, &low, &high))
        return TCL_ERROR;
    if (d1 <= 0 || d2 <= 0) return fail(interp, "mx %s: matrix cannot have negative or zero sizes", r->name);
    if (!std::isfinite(low) || !std::isfinite(high)) return fail(interp, "mx %s: range must be finite", r->name);
    Matrix o;
    if (Mx_setReal(interp, out, d1, d2, o.get())) return TCL_ERROR;
    mu_random(o.get(), seed, asInt, low, high);
    return TCL_OK;
}

// mx dim inobjA ?outobjX? ?-row? ?-col? ?-last?
// "rows cols", or one of them; -last gives the largest indices instead.
int MxDimCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *in = nullptr, *out = nullptr;
    int row = 0, col = 0, last = 0;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "inobjA %s outobjX ?s -row ?n -col ?n -last %n", &in, &out, &row, &col,
                       &last))
        return TCL_ERROR;
    Matrix a;
    if (Mx_getComplex(interp, in, a.get())) return TCL_ERROR;
    int values[2], n = 0;
    if (row && !col) values[n++] = a->rows - last;
    else if (col && !row) values[n++] = a->cols - last;
    else {
        values[n++] = a->rows - last;
        values[n++] = a->cols - last;
    }
    std::string text = n == 1 ? std::to_string(values[0]) : std::to_string(values[0]) + " " + std::to_string(values[1]);
    if (out) {
        Matrix o;
        if (Mx_setReal(interp, out, 1, n, o.get())) return TCL_ERROR;
        for (int k = 0; k < n; k++) o->real[0][k] = (float)values[k];
    }
    Tcl_SetObjResult(interp, Tcl_NewStringObj(text.c_str(), -1));
    return TCL_OK;
}

// mx load|unload constants
// Makes (or destroys) the 1 x 1 objects mxpi, mxpi2, mxpi_2 and mxsqrt2
// and the variables of those names in the caller's scope.
int MxLoadCmd(ClientData cd, Tcl_Interp *interp, int argc, const char *argv[]) {
    const UtilRow *r = rowOf(cd);
    const char *utility = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "utility %s", &utility)) return TCL_ERROR;
    if (strcmp(utility, "constants") != 0)
        return fail(interp, "mx %s: must specify utility (one of \"constants\")", r->name);
    static const char *const kLoad[] = {
        "mx set 3.1415926535897932385 mxpi; puts mxpi",
        "mx set 6.3661977236758134308 mxpi2; puts mxpi2",
        "mx set 1.5707963267948966192 mxpi_2; puts mxpi_2",
        "mx set 1.4142135623730950488 mxsqrt2; puts mxsqrt2",
    };
    static const char *const kUnload[] = {
        "catch {nuke $mxpi}; catch {unset mxpi}",
        "catch {nuke $mxpi2}; catch {unset mxpi2}",
        "catch {nuke $mxpi_2}; catch {unset mxpi_2}",
        "catch {nuke $mxsqrt2}; catch {unset mxsqrt2}",
    };
    bool load = r->code == 12;
    // The objects go through nuke, which the Mostrel package provides.
    if (!load) Tcl_Eval(interp, "if {[info commands nuke] eq {}} {catch {package require Mostrel}}");
    for (const char *script : load ? kLoad : kUnload) Tcl_Eval(interp, script);
    Tcl_ResetResult(interp);
    return TCL_OK;
}

// mx join row|col inobjlistA ?outobj?
// The matrices of the list side by side (col) or one under the other (row).
int MxJoinCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    if (argc < 3 || (strcmp(argv[2], "row") != 0 && strcmp(argv[2], "col") != 0))
        return fail(interp, "mx join: specify join row or join col");
    int colFlag = strcmp(argv[2], "col") == 0;
    const char *list = nullptr, *out = nullptr;
    if (Cmds_ParseArgs(interp, 3, argc, argv, "inobjlistA %s outobj ?s", &list, &out)) return TCL_ERROR;
    int n = 0;
    const char **items = nullptr;
    if (Tcl_SplitList(interp, list, &n, &items) != TCL_OK) return TCL_ERROR;
    std::vector<std::string> words(items, items + n);
    Tcl_Free(reinterpret_cast<char *>(items));
    if (n == 0) return fail(interp, "mx join: cannot join 0 `things'");
    std::vector<std::unique_ptr<Matrix>> in;
    std::vector<MxMatrix *> descs;
    long rows = 0, cols = 0;
    for (int k = 0; k < n; k++) {
        in.emplace_back(new Matrix);
        Matrix &m = *in.back();
        descs.push_back(m.get());
        if (getReal(interp, "join", words[k].c_str(), m)) return TCL_ERROR;
        if (colFlag && m->rows != in[0]->get()->rows)
            return fail(interp, "mx join: input vectors must have same row dimension");
        if (!colFlag && m->cols != in[0]->get()->cols)
            return fail(interp, "mx join: input vectors must have same column dimension");
        rows = colFlag ? m->rows : rows + m->rows;
        cols = colFlag ? cols + m->cols : m->cols;
    }
    if (rows > INT32_MAX || cols > INT32_MAX) return fail(interp, "mx join: result too large");
    Matrix o;
    if (Mx_setReal(interp, out, (int)rows, (int)cols, o.get())) return TCL_ERROR;
    mu_join(descs.data(), o.get(), n, colFlag);
    return TCL_OK;
}

// mx scale row|col inobjA inobjB ?outobjX?
// Each row (col: each column) of A times the matching element of vector B.
int MxScaleCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    if (argc < 3 || (strcmp(argv[2], "row") != 0 && strcmp(argv[2], "col") != 0))
        return fail(interp, "mx scale: specify \"row\" or \"col\"");
    int rowFlag = strcmp(argv[2], "row") == 0;
    const char *wa = nullptr, *wb = nullptr, *out = nullptr;
    if (Cmds_ParseArgs(interp, 3, argc, argv, "inobjA %s inobjB %s outobjX ?s", &wa, &wb, &out)) return TCL_ERROR;
    Matrix a, b;
    if (getReal(interp, "scale", wa, a) || getReal(interp, "scale", wb, b)) return TCL_ERROR;
    if (b->rows != 1 && b->cols != 1)
        return fail(interp, "mx scale: scaling vector %s (%d x %d) must be 1-dimensional", wb, b->rows, b->cols);
    int len = b->rows * b->cols;
    if (rowFlag && len != a->rows)
        return fail(interp, "mx scale: scaling vector %s (%d) must be same length as number of rows of input %s (%d)",
                    wb, len, wa, a->rows);
    if (!rowFlag && len != a->cols)
        return fail(interp,
                    "mx scale: scaling vector %s (%d) must be same length as number of columns of input %s (%d)", wb,
                    len, wa, a->cols);
    Matrix o;
    if (Mx_setReal(interp, out, a->rows, a->cols, o.get())) return TCL_ERROR;
    fpStart();
    mu_scale(a.get(), b.get(), o.get(), rowFlag);
    return fpFinish(interp);
}

// mx weigh inobjA ?outobjX? ?-exp e?
// Each row (or the vector) times its L2 norm to the power -e.
int MxWeighCmd(ClientData cd, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *wa = nullptr, *out = nullptr;
    float exponent = 1.0f;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "inobjA %s outobjX ?s -exp %f", &wa, &out, &exponent)) return TCL_ERROR;
    Matrix a;
    if (getReal(interp, rowOf(cd)->name, wa, a)) return TCL_ERROR;
    Matrix o;
    if (Mx_setReal(interp, out, a->rows, a->cols, o.get())) return TCL_ERROR;
    fpStart();
    mu_weigh(a.get(), o.get(), exponent);
    return fpFinish(interp);
}

// mx chol|cholinv inobjA ?outobjX?
// The lower Cholesky factor L of A (A = L L'), or the inverse of A through it.
int MxCholCmd(ClientData cd, Tcl_Interp *interp, int argc, const char *argv[]) {
    const UtilRow *r = rowOf(cd);
    const char *wa = nullptr, *out = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "inobjA %s outobjX ?s", &wa, &out)) return TCL_ERROR;
    Matrix a;
    if (getReal(interp, r->name, wa, a)) return TCL_ERROR;
    if (a->rows != a->cols) return fail(interp, "mx chol: %s (%d x %d) must be square", wa, a->rows, a->cols);
    int n = a->rows;
    Temp t(n, n);
    fpStart();
    if (mu_choldecompose(n, a->real, t.rows.data()) <= 0) return fail(interp, "mx chol: %s must be positive definite", wa);
    if (r->code == 20 && mu_cholinv(n, t.rows.data(), t.rows.data()) <= 0)
        return fail(interp, "mx cholinv: %s cannot take inverse", wa);
    Matrix o;
    if (Mx_setReal(interp, out, n, n, o.get())) return TCL_ERROR;
    t.copyTo(o->real, n, n);
    return fpFinish(interp);
}

// mx cholsolve inobjA inobjB ?outobjX?
// X of A X = B for a positive definite A.
int MxCholsolveCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *wa = nullptr, *wb = nullptr, *out = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "inobjA %s inobjB %s outobjX ?s", &wa, &wb, &out)) return TCL_ERROR;
    Matrix a, b;
    if (getReal(interp, "cholsolve", wa, a) || getReal(interp, "cholsolve", wb, b)) return TCL_ERROR;
    if (b->rows != a->rows)
        return fail(interp, "mx cholsolve: %s (%d) and %s (%d) must have the same row dimension", wa, a->rows, wb,
                    b->rows);
    if (a->rows != a->cols) return fail(interp, "mx cholsolve: %s (%d x %d) must be square", wa, a->rows, a->cols);
    int n = a->rows;
    Temp factor(n, n);
    fpStart();
    if (mu_choldecompose(n, a->real, factor.rows.data()) <= 0)
        return fail(interp, "mx cholsolve: %s must be positive definite", wa);
    Matrix o;
    if (Mx_setReal(interp, out, n, b->cols, o.get())) return TCL_ERROR;
    if (mu_cholsolve(n, b->cols, factor.rows.data(), b->real, o->real) <= 0)
        return fail(interp, "mx cholsolve: undetermined error");
    return fpFinish(interp);
}

// mx fft|ifft inobj ?outobj?
// The transform of each row, zero-padded to a power of two; the output is
// a pair {real imaginary}.
int MxFftCmd(ClientData cd, Tcl_Interp *interp, int argc, const char *argv[]) {
    const UtilRow *r = rowOf(cd);
    const char *in = nullptr, *out = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "inobj %s outobj ?s", &in, &out)) return TCL_ERROR;
    Matrix a;
    if (getComplex(interp, r->name, in, a)) return TCL_ERROR;
    long n = 1;
    while (n < a->cols) n *= 2;
    if (n > INT32_MAX / 2) return fail(interp, "mx %s: %s is too long", r->name, in);
    Matrix o;
    if (Mx_setComplex(interp, out, a->rows, (int)n, o.get())) return TCL_ERROR;
    fpStart();
    if (mu_fft(a.get(), o.get(), r->code == 25) < 0) return fail(interp, "mx %s: undetermined error", r->name);
    return fpFinish(interp);
}

// mx find max|min inobjA ?outobjX?
// "row col value" of the first largest (smallest) element.
int MxFindCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    if (argc < 3 || (strcmp(argv[2], "max") != 0 && strcmp(argv[2], "min") != 0))
        return fail(interp, "mx find: specify \"max\" or \"min\"");
    int minFlag = strcmp(argv[2], "min") == 0;
    const char *wa = nullptr, *out = nullptr;
    if (Cmds_ParseArgs(interp, 3, argc, argv, "inobjA %s outobjX ?s", &wa, &out)) return TCL_ERROR;
    Matrix a;
    if (getReal(interp, "find", wa, a)) return TCL_ERROR;
    int row = 0, col = 0;
    float value = 0;
    if (mu_find(a.get(), minFlag, &row, &col, &value) < 0) return fail(interp, "mx find: undetermined error");
    if (out) {
        Matrix o;
        if (Mx_setReal(interp, out, 1, 3, o.get())) return TCL_ERROR;
        o->real[0][0] = (float)row;
        o->real[0][1] = (float)col;
        o->real[0][2] = value;
    }
    std::string s = std::to_string(row) + " " + std::to_string(col) + " " + format("%f", value);
    Tcl_SetObjResult(interp, Tcl_NewStringObj(s.c_str(), -1));
    return TCL_OK;
}

// mx norm inobjA ?inobjB? ?-l l?
// mx normalize inobjA ?outobjX? ?-l l?
// The l-norm of A (or of A - B) as "%f"; or A with each row (a vector as a
// whole) divided by its l-norm. l is a number above 0, "inf" or "mininf".
int MxNormCmd(ClientData cd, Tcl_Interp *interp, int argc, const char *argv[]) {
    const UtilRow *r = rowOf(cd);
    bool normalize = r->code == 23;
    const char *wa = nullptr, *second = nullptr, *lText = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, normalize ? "inobjA %s outobjX ?s -l %s" : "inobjA %s inobjB ?s -l %s",
                       &wa, &second, &lText))
        return TCL_ERROR;
    float l = 2.0f;
    if (lText && (strcmp(lText, "inf") == 0 || strcmp(lText, "mininf") == 0)) {
        l = FLT_MAX;
    } else if (lText) {
        double v;
        if (Tcl_GetDouble(interp, lText, &v) != TCL_OK) return TCL_ERROR;
        if (!(v > 0) || !std::isfinite((float)v)) return fail(interp, "mx %s: use l>0", r->name);
        l = (float)v;
    }
    Matrix a;
    if (getReal(interp, r->name, wa, a)) return TCL_ERROR;
    if (normalize) {
        Matrix o;
        if (Mx_setReal(interp, second, a->rows, a->cols, o.get())) return TCL_ERROR;
        fpStart();
        mu_normalize(a.get(), o.get(), l, lText);
        return fpFinish(interp);
    }
    Matrix b;
    if (second) {
        if (getReal(interp, r->name, second, b)) return TCL_ERROR;
        if (b->rows != a->rows || b->cols != a->cols) return fail(interp, "mx norm: incompatible dimensions.");
    }
    float value = 0;
    fpStart();
    mu_norm(a.get(), second ? b.get() : nullptr, l, lText, &value);
    Tcl_SetObjResult(interp, Tcl_NewStringObj(format("%f", value).c_str(), -1));
    return fpFinish(interp);
}

// mx qsort inobjA ?outobjX? ?-increasing? ?-decreasing?
// A row vector sorted along the row, anything else column by column.
int MxQsortCmd(ClientData cd, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *wa = nullptr, *out = nullptr;
    int inc = 0, dec = 0;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "inobjA %s outobjX ?s -increasing %n -decreasing %n", &wa, &out, &inc,
                       &dec))
        return TCL_ERROR;
    if (inc && dec) return fail(interp, "mx qsort: conflicting sorting options");
    Matrix a;
    if (getReal(interp, rowOf(cd)->name, wa, a)) return TCL_ERROR;
    Matrix o;
    if (Mx_setReal(interp, out, a->rows, a->cols, o.get())) return TCL_ERROR;
    mu_qsort(a.get(), o.get(), !dec);
    return TCL_OK;
}

// mx cov|corr inobjA ?outobjX?
// Covariance (corr: correlation) of the columns, the rows being
// observations; cov of a single row is the variance of its elements.
int MxCovCmd(ClientData cd, Tcl_Interp *interp, int argc, const char *argv[]) {
    const UtilRow *r = rowOf(cd);
    bool corr = r->code == 28;
    const char *wa = nullptr, *out = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "inobjA %s outobjX ?s", &wa, &out)) return TCL_ERROR;
    Matrix a;
    if (getReal(interp, r->name, wa, a)) return TCL_ERROR;
    int n = corr || a->rows > 1 ? a->cols : 1;
    Temp t(n, n);
    MxMatrix tm{};
    tm.rows = tm.cols = n;
    tm.real = t.rows.data();
    fpStart();
    if ((corr ? mu_corr(a.get(), &tm) : mu_cov(a.get(), &tm)) <= 0)
        return fail(interp, "mx %s: %s indeterminate error", r->name, wa);
    Matrix o;
    if (Mx_setReal(interp, out, n, n, o.get())) return TCL_ERROR;
    t.copyTo(o->real, n, n);
    return fpFinish(interp);
}
