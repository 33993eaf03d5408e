// The mx package: shared pieces of its command files.
#ifndef TOVIK_MX_H
#define TOVIK_MX_H

#include <tcl.h>

#include "mu.h"
#include "pardel.h"

// Result shapes of the one-operand operators.
enum { SHAPE_SAME = 0, SHAPE_TRANS = 1, SHAPE_DIAG = 2, SHAPE_UNWRAP = 3, SHAPE_REDUCE = 4, SHAPE_1X1 = 6,
       SHAPE_1X2 = 7 };

struct BRow {
    const char *name;
    Tcl_CmdProc *proc;
    int code;
    MuComplex2Proc *complex;
    MuSizeProc *size;
    int mixing;
};

struct URow {
    const char *name;
    Tcl_CmdProc *proc;
    MuFunc func;
    MuRealProc *real;
    MuComplexProc *complex;
    MuC2RProc *c2r;
    MuRealRedProc *realRed;
    MuComplexRedProc *complexRed;
    int shape;
};

struct UtilRow {
    const char *name;
    Tcl_CmdProc *proc;
    int code;
};

extern "C" {
int MX_BCmd(ClientData cd, Tcl_Interp *interp, int argc, const char *argv[]);
int MX_UCmd(ClientData cd, Tcl_Interp *interp, int argc, const char *argv[]);
int MX_U1Cmd(ClientData cd, Tcl_Interp *interp, int argc, const char *argv[]);
}

// Utility handlers, one per sub-command or family (see mxUtil.cpp and
// mxFile.cpp); their row is the client data.
int MxCutCmd(ClientData, Tcl_Interp *, int, const char *[]);
int MxSetCmd(ClientData, Tcl_Interp *, int, const char *[]);
int MxPutsCmd(ClientData, Tcl_Interp *, int, const char *[]);
int MxValueCmd(ClientData, Tcl_Interp *, int, const char *[]);
int MxFprintfCmd(ClientData, Tcl_Interp *, int, const char *[]);
int MxFscanfCmd(ClientData, Tcl_Interp *, int, const char *[]);
int MxFwriteCmd(ClientData, Tcl_Interp *, int, const char *[]);
int MxFreadCmd(ClientData, Tcl_Interp *, int, const char *[]);
int MxFillCmd(ClientData, Tcl_Interp *, int, const char *[]);
int MxRandomCmd(ClientData, Tcl_Interp *, int, const char *[]);
int MxDimCmd(ClientData, Tcl_Interp *, int, const char *[]);
int MxLoadCmd(ClientData, Tcl_Interp *, int, const char *[]);
int MxJoinCmd(ClientData, Tcl_Interp *, int, const char *[]);
int MxScaleCmd(ClientData, Tcl_Interp *, int, const char *[]);
int MxWeighCmd(ClientData, Tcl_Interp *, int, const char *[]);
int MxCholCmd(ClientData, Tcl_Interp *, int, const char *[]);
int MxCholsolveCmd(ClientData, Tcl_Interp *, int, const char *[]);
int MxFftCmd(ClientData, Tcl_Interp *, int, const char *[]);
int MxFindCmd(ClientData, Tcl_Interp *, int, const char *[]);
int MxNormCmd(ClientData, Tcl_Interp *, int, const char *[]);
int MxQsortCmd(ClientData, Tcl_Interp *, int, const char *[]);
int MxCovCmd(ClientData, Tcl_Interp *, int, const char *[]);

namespace mx {

// A descriptor that is destroyed with its scope. Declare inputs before the
// output: the output goes first, and writes back into an object that an
// input was reading only then.
class Matrix {
  public:
    Matrix() : m_(Mx_create()) {}
    ~Matrix() { Mx_destroy(m_); }
    Matrix(const Matrix &) = delete;
    Matrix &operator=(const Matrix &) = delete;
    MxMatrix *operator->() const { return m_; }
    MxMatrix *get() const { return m_; }

  private:
    MxMatrix *m_;
};

// Sets the result to a message formatted as by printf (%s %d %c); answers
// TCL_ERROR.
template <class... Args>
int fail(Tcl_Interp *interp, const char *format, Args... args) {
    Tcl_SetObjResult(interp, Tcl_ObjPrintf(format, args...));
    return TCL_ERROR;
}
// "mx SUB: TEXT is an empty matrix" when m has no element.
bool refuseEmpty(Tcl_Interp *interp, const char *sub, const MxMatrix *m, const char *text);
// Before the arithmetic of a command, and at its successful end: a
// floating-point fault in between fails the command through the SIGFPE
// handler. Answers TCL_OK.
void fpStart();
int fpFinish(Tcl_Interp *interp);
// The integer nearest below v's truncation, kept inside int (NaN: 0).
int truncInt(double v);

} // namespace mx

#endif
