// The `dtw` command: time warping of a data matrix onto a template.
#include <tcl.h>

#include <string>

#include "cmds.h"
#include "dtw.h"
#include "obj.h"
#include "records.h"
#include "utils.h"

namespace {

float **rowsOf(ArrayRecord *a) { return a->ndims == 1 ? &a->data : a->rows; }

// dtw vecwarp templateob indataob ?-relax n?
// Answers a new array of the data warped onto the template's frames, the
// distance and the path length; pairs whose lengths differ threefold or
// more are not warped (distance 10000).
int VecwarpCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *tn = nullptr, *dn = nullptr;
  int relax = 0;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "templateob %s indataob %s -relax %i", &tn, &dn, &relax)) return TCL_ERROR;
  ArrayRecord *t = nullptr, *d = nullptr;
  if (get2DVecObject(tn, interp, &t) || get2DVecObject(dn, interp, &d)) return TCL_ERROR;
  const int n = Array_rows(t), k = Array_cols(t), m = Array_rows(d);
  if (Array_cols(d) != k) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj((std::string("vector object \"") + dn +
                                               "\" has incompatible dimensions!").c_str(), -1));
    return TCL_ERROR;
  }
  if (relax < 0) {
    Tcl_SetResult(interp, (char *)"-relax must not be negative", TCL_STATIC);
    return TCL_ERROR;
  }
  ArrayRecord *w = nullptr;
  if (maybeReuse2DObject(nullptr, interp, n, k, &w)) return TCL_ERROR;
  int count = 1;
  float distance = 10000.0f;
  if ((m < n && n < 3 * m) || (n < m && m / 3 < n) || n == m) distance = dtw(rowsOf(t), rowsOf(d), w->rows, n, m, relax, k, &count);
  Tcl_AppendResult(interp, sspf(0, " %g %g", (double)distance, (double)count), (char *)nullptr);
  return TCL_OK;
}

}  // namespace

extern "C" {

int Dtw_Init(Tcl_Interp *interp) {
  int code = Tcl_PkgProvide(interp, "Dtw", "1.0");
  if (code != TCL_OK) return code;
  Cmds_CreateSwitchCmd(interp, "dtw", nullptr, nullptr);
  Cmds_CreateSubCmd(interp, "dtw", "vecwarp", VecwarpCmd, nullptr, nullptr);
  // The array services need the registry even when no other package made it.
  return Obj_Init(interp);
}

int Dtw_SafeInit(Tcl_Interp *interp) { return Dtw_Init(interp); }

}  // extern "C"
