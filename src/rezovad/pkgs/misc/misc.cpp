// Small utilities for scripts: command tracing and a console loop (cmd),
// the recursion limit, random numbers, time stamps, a look at a value's
// representation, and two window-system commands.
#include <tcl.h>
#include <time.h>

#include <cmath>
#include <cstdint>
#include <string>

#include "cmds.h"
#include "misc.h"
#include "winsys.h"

namespace {

// A 15-bit generator (0 to 32767), seedable, the same on every system.
uint32_t randomState = 1;

int random15() {
    randomState = randomState * 214013u + 2531011u;
    return static_cast<int>((randomState >> 16) & 0x7fff);
}

const double kUnset = -1.78021;

// random ?-seed N? ?-int? ?from? ?to?
// A number from FROM (0) to TO (1.0, or 2147483647 with -int), both ends
// included; -seed restarts the generator first.
int RandomCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    int seed = 0, isInt = 0;
    double from = kUnset, to = kUnset;
    if (Cmds_ParseArgs(interp, 1, argc, argv, "-seed %i -int %n from ?d to ?d", &seed, &isInt, &from, &to))
        return TCL_ERROR;
    if (seed != 0) randomState = static_cast<uint32_t>(seed);
    if (from == kUnset) from = 0;
    if (to == kUnset) to = isInt ? 2147483647.0 : 1.0;
    double r = random15() * (1.0 / 32767);
    double v = from + r * (to - from);
    if (isInt) {
        // Truncated toward zero, kept within 32 bits.
        double t = std::trunc(v);
        if (!(t >= -2147483648.0)) t = -2147483648.0;
        if (t > 2147483647.0) t = 2147483647.0;
        Tcl_SetObjResult(interp, Tcl_NewIntObj(static_cast<int>(t)));
    } else {
        Tcl_SetObjResult(interp, Tcl_NewDoubleObj(v));
    }
    return TCL_OK;
}

// recurlimit ?depth?
// Sets the nesting limit (values below 1 change nothing); answers DEPTH, or
// the current limit without one.
int RecurlimitCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    int depth = Tcl_SetRecursionLimit(interp, -1);
    if (Cmds_ParseArgs(interp, 1, argc, argv, "depth ?i", &depth)) return TCL_ERROR;
    Tcl_SetRecursionLimit(interp, depth);
    Tcl_SetObjResult(interp, Tcl_NewIntObj(depth));
    return TCL_OK;
}

// timestamp ?diff {s ms} {s ms}?
// The time now as seconds and milliseconds, or the milliseconds from the
// second stamp to the first.
int TimestampCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
    if (objc == 1) {
        struct timespec ts;
        clock_gettime(CLOCK_REALTIME, &ts);
        Tcl_Obj *l[2] = {Tcl_NewWideIntObj(ts.tv_sec), Tcl_NewIntObj(static_cast<int>(ts.tv_nsec / 1000000))};
        Tcl_SetObjResult(interp, Tcl_NewListObj(2, l));
        return TCL_OK;
    }
    int n1, n2;
    Tcl_Obj **e1, **e2;
    if (objc != 4 || std::string(Tcl_GetString(objv[1])) != "diff" ||
        Tcl_ListObjGetElements(nullptr, objv[2], &n1, &e1) != TCL_OK ||
        Tcl_ListObjGetElements(nullptr, objv[3], &n2, &e2) != TCL_OK || n1 < 2 || n2 < 2) {
        Tcl_WrongNumArgs(interp, 1, objv, "?diff {s ms} {s ms}?");
        return TCL_ERROR;
    }
    Tcl_WideInt s1, m1, s2, m2;
    if (Tcl_GetWideIntFromObj(interp, e1[0], &s1) || Tcl_GetWideIntFromObj(interp, e1[1], &m1) ||
        Tcl_GetWideIntFromObj(interp, e2[0], &s2) || Tcl_GetWideIntFromObj(interp, e2[1], &m2))
        return TCL_ERROR;
    Tcl_SetObjResult(interp, Tcl_NewWideIntObj((s1 - s2) * 1000 + m1 - m2));
    return TCL_OK;
}

// spec VALUE
// The value's internal type ("typeless" without one) and reference count.
int SpecCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
    if (objc != 2) {
        Tcl_WrongNumArgs(interp, 1, objv, "thing");
        return TCL_ERROR;
    }
    const Tcl_ObjType *t = objv[1]->typePtr;
    std::string r = std::string(t ? t->name : "typeless") + " " + std::to_string(objv[1]->refCount);
    Tcl_SetObjResult(interp, Tcl_NewStringObj(r.c_str(), -1));
    return TCL_OK;
}

// topmost WINDOW BOOLEAN
// Keeps the X window above the others or lets it go; answers 1 or 0.
int TopmostCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
    if (objc != 3) {
        Tcl_WrongNumArgs(interp, 1, objv, "hwnd boolean");
        return TCL_ERROR;
    }
    Tcl_WideInt window;
    int on;
    if (Tcl_GetWideIntFromObj(interp, objv[1], &window) != TCL_OK ||
        Tcl_GetBooleanFromObj(interp, objv[2], &on) != TCL_OK)
        return TCL_ERROR;
    if (window <= 0 || !Winsys_SetTopmost(static_cast<unsigned long>(window), on != 0)) {
        Tcl_SetResult(interp, (char *)"Could not change the window topmost setting.", TCL_STATIC);
        return TCL_ERROR;
    }
    Tcl_SetObjResult(interp, Tcl_NewIntObj(on ? 1 : 0));
    return TCL_OK;
}

// exitwindows
// Logs the user off.
int ExitwindowsCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
    if (objc != 1) {
        Tcl_WrongNumArgs(interp, 1, objv, nullptr);
        return TCL_ERROR;
    }
    Winsys_Logoff();
    return TCL_OK;
}

const SubCmdEntry kCmdCmds[] = {
    {"trace", Misc_TraceCmd},
    {"loop", Misc_LoopCmd},
    {nullptr, nullptr},
};

void MiscRegisterCommands(Tcl_Interp *interp) {
    Tcl_CreateCommand(interp, "random", RandomCmd, nullptr, nullptr);
    Tcl_CreateCommand(interp, "recurlimit", RecurlimitCmd, nullptr, nullptr);
    Cmds_CreateSwitchCmd(interp, "cmd", nullptr, nullptr);
    Cmds_CreateSubCmds(interp, "cmd", kCmdCmds);
    Tcl_CreateObjCommand(interp, "topmost", TopmostCmd, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, "exitwindows", ExitwindowsCmd, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, "timestamp", TimestampCmd, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, "spec", SpecCmd, nullptr, nullptr);
}

}  // namespace

extern "C" {

int Misc_Init(Tcl_Interp *interp) {
    int code = Tcl_PkgProvide(interp, "Misc", "1.0");
    if (code != TCL_OK) return code;
    MiscRegisterCommands(interp);
    return TCL_OK;
}

// Untrusted code may not log the user off or move other windows; a master
// can still reach them with `interp invokehidden`.
int Misc_SafeInit(Tcl_Interp *interp) {
    int code = Misc_Init(interp);
    if (code != TCL_OK) return code;
    Tcl_HideCommand(interp, "exitwindows", "exitwindows");
    Tcl_HideCommand(interp, "topmost", "topmost");
    return TCL_OK;
}

}  // extern "C"
