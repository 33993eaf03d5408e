// A test helper: makes and reads "wave" objects, so that the device tests need no
// other package.
//   testwave make RATE SAMPLES   a new wave; answers its name
//   testwave samples NAME        the samples as a list
//   testwave rate NAME           the rate
//   testwave count               objects the interpreter holds
//   testwave destroy NAME        destroys any object
#include <tcl.h>

#include <cstring>

#include "obj.h"
#include "records.h"

namespace {

int TestwaveCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
    if (objc < 2) {
        Tcl_WrongNumArgs(interp, 1, objv, "make|samples|rate|count ...");
        return TCL_ERROR;
    }
    const char *sub = Tcl_GetString(objv[1]);
    if (strcmp(sub, "make") == 0 && objc == 4) {
        double rate;
        int n;
        Tcl_Obj **items;
        if (Tcl_GetDoubleFromObj(interp, objv[2], &rate) != TCL_OK ||
            Tcl_ListObjGetElements(interp, objv[3], &n, &items) != TCL_OK)
            return TCL_ERROR;
        WaveRecord *w = Wave_New(n, (float)rate);
        for (int i = 0; i < n; i++) {
            int v;
            if (Tcl_GetIntFromObj(interp, items[i], &v) != TCL_OK) {
                Wave_Free(w);
                return TCL_ERROR;
            }
            w->samples[i] = (int16_t)v;
        }
        if (Obj_Create(interp, "wave", w) != TCL_OK) {
            Wave_Free(w);
            return TCL_ERROR;
        }
        return TCL_OK;
    }
    if ((strcmp(sub, "samples") == 0 || strcmp(sub, "rate") == 0) && objc == 3) {
        WaveRecord *w = (WaveRecord *)Obj_GetData(interp, "wave", Tcl_GetString(objv[2]));
        if (!w) return TCL_ERROR;
        if (sub[0] == 'r') {
            Tcl_SetObjResult(interp, Tcl_NewDoubleObj(w->info[0]));
            return TCL_OK;
        }
        Tcl_Obj *list = Tcl_NewListObj(0, nullptr);
        for (int i = 0; i < w->len; i++) Tcl_ListObjAppendElement(nullptr, list, Tcl_NewIntObj(w->samples[i]));
        Tcl_SetObjResult(interp, list);
        return TCL_OK;
    }
    if (strcmp(sub, "destroy") == 0 && objc == 3) return Obj_Destroy(interp, Tcl_GetString(objv[2]));
    if (strcmp(sub, "count") == 0 && objc == 2) {
        Tcl_SetObjResult(interp, Tcl_NewIntObj(Obj_Count(interp)));
        return TCL_OK;
    }
    Tcl_SetObjResult(interp, Tcl_NewStringObj("usage: testwave make RATE SAMPLES | samples NAME | rate NAME | count | destroy NAME", -1));
    return TCL_ERROR;
}

}  // namespace

extern "C" int Testwave_Init(Tcl_Interp *interp) {
    int code = Tcl_PkgProvide(interp, "Testwave", "1.0");
    if (code != TCL_OK) return code;
    Tcl_CreateObjCommand(interp, "testwave", TestwaveCmd, nullptr, nullptr);
    return Obj_Init(interp);
}
