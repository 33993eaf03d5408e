// The Mx package: matrix arithmetic over "arrayF" objects through the one
// switch command `mx`, whose sub-commands come from three tables: the
// one-operand operators, the two-operand operators and the utilities.
#include <cmath>
#include <cstring>

#include "asn.h"
#include "cmds.h"
#include "mx.h"
#include "obj.h"

namespace {

using F = double (*)(double);

constexpr URow U(const char *name, F f, MuRealProc *real, MuComplexProc *cplx, MuC2RProc *c2r, int shape) {
    return URow{name, MX_UCmd, f, real, cplx, c2r, nullptr, nullptr, shape};
}
constexpr URow R(const char *name, MuRealRedProc *real, MuComplexRedProc *cplx) {
    return URow{name, MX_U1Cmd, nullptr, nullptr, nullptr, nullptr, real, cplx, SHAPE_REDUCE};
}
F fn(F f) { return f; }

const URow kUnary[] = {
    U("copy", nullptr, mu_copy, mu_ccopy, nullptr, SHAPE_SAME),
    U("size", nullptr, mu_size, nullptr, mu_csize, SHAPE_1X2),
    U("tr", nullptr, mu_tr, mu_ctr, nullptr, SHAPE_TRANS),
    U("diag", nullptr, mu_diag, mu_cdiag, nullptr, SHAPE_DIAG),
    U("trace", nullptr, mu_trace, mu_ctrace, nullptr, SHAPE_1X1),
    U("unwrap", nullptr, mu_unwrap, mu_cunwrap, nullptr, SHAPE_UNWRAP),
    U("flipud", nullptr, mu_flipud, mu_cflipud, nullptr, SHAPE_SAME),
    U("fliplr", nullptr, mu_fliplr, mu_cfliplr, nullptr, SHAPE_SAME),
    U("zero", nullptr, mu_zero, mu_czero, nullptr, SHAPE_SAME),
    U("one", nullptr, mu_one, mu_cone, nullptr, SHAPE_SAME),
    U("zerodiag", nullptr, mu_zerodiag, nullptr, nullptr, SHAPE_SAME),
    U("onediag", nullptr, mu_onediag, nullptr, nullptr, SHAPE_SAME),
    R("mean", mu_mean, mu_cmean),
    R("sum", mu_sum, mu_csum),
    R("min", mu_min, nullptr),
    R("max", mu_max, nullptr),
    R("qstd", mu_qstd, mu_cqstd),
    R("std", mu_qstd, mu_cqstd),
    U("zeromean", nullptr, mu_zeromean, mu_czeromean, nullptr, SHAPE_SAME),
    U("abs", fn(std::fabs), mu_uni, nullptr, mu_cabs, SHAPE_SAME),
    U("angle", nullptr, mu_angle, nullptr, mu_cangle, SHAPE_SAME),
    U("real", nullptr, mu_copy, nullptr, mu_creal, SHAPE_SAME),
    U("imag", nullptr, mu_zero, nullptr, mu_cimag, SHAPE_SAME),
    U("pabs", fn(std::fabs), mu_uni, nullptr, mu_pabs, SHAPE_SAME),
    U("pangle", nullptr, mu_zero, nullptr, mu_pangle, SHAPE_SAME),
    U("preal", nullptr, mu_copy, nullptr, mu_preal, SHAPE_SAME),
    U("pimag", nullptr, mu_zero, nullptr, mu_pimag, SHAPE_SAME),
    U("conj", nullptr, mu_copy, mu_cconj, nullptr, SHAPE_SAME),
    U("c2p", nullptr, mu_copy, mu_c2p, nullptr, SHAPE_SAME),
    U("p2c", nullptr, mu_copy, mu_p2c, nullptr, SHAPE_SAME),
    U("sqr", nullptr, mu_sqr, mu_csqr, nullptr, SHAPE_SAME),
    U("psqr", nullptr, mu_sqr, mu_psqr, nullptr, SHAPE_SAME),
    U("ceil", fn(std::ceil), mu_uni, mu_cuni, nullptr, SHAPE_SAME),
    U("floor", fn(std::floor), mu_uni, mu_cuni, nullptr, SHAPE_SAME),
    U("sign", nullptr, mu_sign, mu_csign, nullptr, SHAPE_SAME),
    U("sqrt", fn(std::sqrt), mu_uni, nullptr, nullptr, SHAPE_SAME),
    U("cos", fn(std::cos), mu_uni, nullptr, nullptr, SHAPE_SAME),
    U("sin", fn(std::sin), mu_uni, nullptr, nullptr, SHAPE_SAME),
    U("tan", fn(std::tan), mu_uni, nullptr, nullptr, SHAPE_SAME),
    U("acos", fn(std::acos), mu_uni, nullptr, nullptr, SHAPE_SAME),
    U("asin", fn(std::asin), mu_uni, nullptr, nullptr, SHAPE_SAME),
    U("atan", fn(std::atan), mu_uni, nullptr, nullptr, SHAPE_SAME),
    U("cosh", fn(std::cosh), mu_uni, nullptr, nullptr, SHAPE_SAME),
    U("sinh", fn(std::sinh), mu_uni, nullptr, nullptr, SHAPE_SAME),
    U("tanh", fn(std::tanh), mu_uni, nullptr, nullptr, SHAPE_SAME),
    U("exp", fn(std::exp), mu_uni, nullptr, nullptr, SHAPE_SAME),
    U("log", fn(std::log), mu_uni, nullptr, nullptr, SHAPE_SAME),
    U("log10", fn(std::log10), mu_uni, nullptr, nullptr, SHAPE_SAME),
};

const BRow kBinary[] = {
    {"prod", MX_BCmd, MU_PROD, mu_cprod, mu_prod_size, 2},
    {"mul", MX_BCmd, MU_MUL, mu_cmul, nullptr, 2},
    {"div", MX_BCmd, MU_DIV, mu_cdiv, nullptr, 1},
    {"rem", MX_BCmd, MU_REM, nullptr, nullptr, 0},
    {"add", MX_BCmd, MU_ADD, mu_cadd, nullptr, 2},
    {"subtr", MX_BCmd, MU_SUBTR, mu_csubtr, nullptr, 2},
    {"pmul", MX_BCmd, MU_PMUL, mu_pmul, nullptr, 2},
    {"pdiv", MX_BCmd, MU_PDIV, mu_pdiv, nullptr, 1},
    {"padd", MX_BCmd, MU_PADD, mu_padd, nullptr, 2},
    {"psubtr", MX_BCmd, MU_PSUBTR, mu_psubtr, nullptr, 2},
};

// Codes tell the sub-commands that share a handler apart.
const UtilRow kUtility[] = {
    {"cut", MxCutCmd, 0},        {"set", MxSetCmd, 1},          {"puts", MxPutsCmd, 2},
    {"value", MxValueCmd, 3},    {"fprintf", MxFprintfCmd, 4},  {"fscanf", MxFscanfCmd, 5},
    {"fwrite", MxFwriteCmd, 6},  {"fread", MxFreadCmd, 7},      {"ones", MxFillCmd, 8},
    {"zeros", MxFillCmd, 9},     {"eye", MxFillCmd, 10},        {"random", MxRandomCmd, 11},
    {"dim", MxDimCmd, 17},       {"load", MxLoadCmd, 12},       {"unload", MxLoadCmd, 13},
    {"join", MxJoinCmd, 14},     {"scale", MxScaleCmd, 15},     {"weigh", MxWeighCmd, 16},
    {"chol", MxCholCmd, 18},     {"cholinv", MxCholCmd, 20},    {"cholsolve", MxCholsolveCmd, 19},
    {"fft", MxFftCmd, 24},       {"ifft", MxFftCmd, 25},        {"find", MxFindCmd, 21},
    {"norm", MxNormCmd, 22},     {"normalize", MxNormCmd, 23},  {"qsort", MxQsortCmd, 26},
    {"cov", MxCovCmd, 27},       {"corr", MxCovCmd, 28},
};

// The utilities that read or write files, left out of safe interpreters.
bool touchesFiles(const UtilRow &row) { return row.code >= 4 && row.code <= 7; }

int init(Tcl_Interp *interp, bool safe) {
    int code = Tcl_PkgProvide(interp, "Mx", "1.0");
    if (code != TCL_OK) return code;
    Cmds_CreateSwitchCmd(interp, "mx", nullptr, nullptr);
    for (const URow &row : kUnary) Cmds_CreateSubCmd(interp, "mx", row.name, row.proc, (ClientData)&row, nullptr);
    for (const BRow &row : kBinary) Cmds_CreateSubCmd(interp, "mx", row.name, row.proc, (ClientData)&row, nullptr);
    for (const UtilRow &row : kUtility)
        if (!safe || !touchesFiles(row)) Cmds_CreateSubCmd(interp, "mx", row.name, row.proc, (ClientData)&row, nullptr);
    Asn_Init(interp);
    Asn_CreateCmd(interp, "SIGFPE", "return -code error -errorcode %k {%s}");
    return Obj_Init(interp);
}

} // namespace

extern "C" {

int Mx_Init(Tcl_Interp *interp) { return init(interp, false); }

int Mx_SafeInit(Tcl_Interp *interp) { return init(interp, true); }

} // extern "C"
