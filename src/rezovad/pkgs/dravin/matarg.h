// Matrix arguments of the network commands: an input word (an "arrayF"
// object or a list of rows) bound as rows of floats, and an output bound to
// an existing object of the right size or a new "arrayF". A thin layer over
// the frame's matrix-argument library.
#ifndef DRAVIN_MATARG_H
#define DRAVIN_MATARG_H

#include <tcl.h>

typedef struct MatArg {
  int rows, cols;
  float **real;   // row pointers
  void *impl;     // the binding behind them
} MatArg;

// TCL_OK with m bound, or TCL_ERROR with a message.
int MatArg_GetReal(Tcl_Interp *interp, const char *text, MatArg *m);
// Binds or creates the output (text may be NULL); its name is left as the
// interpreter result. TCL_OK or TCL_ERROR.
int MatArg_SetReal(Tcl_Interp *interp, const char *text, int rows, int cols, MatArg *m);
void MatArg_Free(MatArg *m);

#endif
