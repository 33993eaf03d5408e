// Matrix arguments without the frame's matrix-argument library: arrayF
// objects and lists of rows as inputs, arrayF objects (or new ones) as outputs.
#include <cstring>
#include <vector>

#include "matarg.h"
#include "obj.h"
#include "yastro.h"

namespace {
struct Tmp {
  std::vector<float> data;
  std::vector<float *> rows;
};
}  // namespace

int MatArg_GetReal(Tcl_Interp *interp, const char *text, MatArg *m) {
  m->impl = nullptr;
  if (text[0] == 'a') {
    auto *a = (ArrayRecord *)Obj_GetData(interp, "arrayF", text);
    if (!a) return TCL_ERROR;
    m->rows = Array_rows(a);
    m->cols = Array_cols(a);
    m->real = a->ndims == 1 ? &a->data : a->rows;
    return TCL_OK;
  }
  int nrows;
  const char **rowv;
  if (Tcl_SplitList(interp, text, &nrows, &rowv) != TCL_OK) return TCL_ERROR;
  auto *t = new Tmp();
  int cols = -1, code = TCL_OK;
  for (int i = 0; i < nrows && code == TCL_OK; i++) {
    int n;
    const char **v;
    if ((code = Tcl_SplitList(interp, rowv[i], &n, &v)) != TCL_OK) break;
    if (cols < 0) cols = n;
    if (n != cols) {
      Tcl_SetObjResult(interp, Tcl_ObjPrintf("row %d not a valid length", i));
      code = TCL_ERROR;
    }
    for (int k = 0; k < n && code == TCL_OK; k++) {
      double d;
      if ((code = Tcl_GetDouble(interp, v[k], &d)) == TCL_OK) t->data.push_back((float)d);
    }
    Tcl_Free((char *)v);
  }
  Tcl_Free((char *)rowv);
  if (code == TCL_OK && (nrows == 0 || cols <= 0)) {
    Tcl_SetObjResult(interp, Tcl_ObjPrintf("expecting a matrix, not \"%s\"", text));
    code = TCL_ERROR;
  }
  if (code != TCL_OK) {
    delete t;
    return TCL_ERROR;
  }
  for (int i = 0; i < nrows; i++) t->rows.push_back(t->data.data() + (size_t)i * cols);
  m->impl = t;
  m->rows = nrows;
  m->cols = cols;
  m->real = t->rows.data();
  return TCL_OK;
}

int MatArg_SetReal(Tcl_Interp *interp, const char *text, int rows, int cols, MatArg *m) {
  m->impl = nullptr;
  if (text) {
    ObjEntry *e = Obj_Get(interp, "arrayF", text);
    Tcl_ResetResult(interp);
    auto *a = e ? (ArrayRecord *)e->data : nullptr;
    if (a && a->ndims == 2 && a->dims[0] == rows && a->dims[1] == cols) {
      m->rows = rows;
      m->cols = cols;
      m->real = a->rows;
      Tcl_SetResult(interp, (char *)text, TCL_VOLATILE);
      return TCL_OK;
    }
    if (a) Obj_Destroy(interp, text);
    Tcl_ResetResult(interp);
  }
  ArrayRecord *a = Array_New(2, rows, cols);
  if (Obj_Create(interp, "arrayF", a) != TCL_OK) {
    Array_Free(a);
    return TCL_ERROR;
  }
  if (rows > 0 && cols > 0) memset(a->data, 0, sizeof(float) * (size_t)rows * cols);
  m->rows = rows;
  m->cols = cols;
  m->real = a->rows;
  return TCL_OK;
}

void MatArg_Free(MatArg *m) {
  delete (Tmp *)m->impl;
  m->impl = nullptr;
}
