// Test helper: `arrayvalues NAME` answers the rows of an arrayF or arrayD
// object as a list of lists, so that scripts can compare results.
#include <tcl.h>

#include "obj.h"

static int ArrayValuesCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  if (argc != 2) {
    Tcl_SetResult(interp, (char *)"wrong # args: should be \"arrayvalues name\"", TCL_STATIC);
    return TCL_ERROR;
  }
  ObjEntry *e = Obj_Get(interp, nullptr, argv[1]);
  if (!e) return TCL_ERROR;
  const bool isD = Cntr_Name(e->type)[5] == 'D';
  auto *a = (ArrayRecord *)e->data;
  Tcl_Obj *rows = Tcl_NewListObj(0, nullptr);
  for (int i = 0; i < Array_rows(a); i++) {
    Tcl_Obj *row = Tcl_NewListObj(0, nullptr);
    for (int j = 0; j < Array_cols(a); j++) {
      size_t k = (size_t)i * Array_cols(a) + j;
      double v = isD ? ArrayD_data(a)[k] : (double)a->data[k];
      Tcl_ListObjAppendElement(interp, row, Tcl_NewDoubleObj(v));
    }
    Tcl_ListObjAppendElement(interp, rows, row);
  }
  Tcl_SetObjResult(interp, rows);
  return TCL_OK;
}

extern "C" int Arrayvalues_Init(Tcl_Interp *interp) {
  if (Tcl_PkgProvide(interp, "ArrayValues", "1.0")) return TCL_ERROR;
  Tcl_CreateCommand(interp, "arrayvalues", ArrayValuesCmd, nullptr, nullptr);
  return Obj_Init(interp);
}
