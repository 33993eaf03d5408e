#include "matarg.h"

#include <cstring>

#include "pardel.h"

int MatArg_GetReal(Tcl_Interp *interp, const char *text, MatArg *m) {
  MxMatrix *mx = Mx_create();
  m->impl = mx;
  if (Mx_getReal(interp, text, mx)) return TCL_ERROR;
  m->rows = mx->rows;
  m->cols = mx->cols;
  m->real = mx->real;
  return TCL_OK;
}

int MatArg_SetReal(Tcl_Interp *interp, const char *text, int rows, int cols, MatArg *m) {
  MxMatrix *mx = Mx_create();
  m->impl = mx;
  if (Mx_setReal(interp, text, rows, cols, mx)) return TCL_ERROR;
  m->rows = mx->rows;
  m->cols = mx->cols;
  m->real = mx->real;
  return TCL_OK;
}

void MatArg_Free(MatArg *m) {
  if (m->impl) Mx_destroy((MxMatrix *)m->impl);
  m->impl = nullptr;
}
