// Switch commands whose sub-commands are procedures: after
// `tarsk option obj load`, `obj load a b` runs the procedure obj:load a b;
// the option "*" hands every other sub-command to obj:*.
#include <tcl.h>

#include <string>
#include <vector>

#include "cmds.h"

namespace {

// Runs the command NAME with the given words after it. The words are passed
// as they are (no second substitution), and going through Tcl_EvalObjv keeps
// traces and non-recursive procedure calls working.
int callNamed(Tcl_Interp *interp, const std::string &name, int argc, const char *argv[]) {
    Tcl_CmdInfo info;
    if (!Tcl_GetCommandInfo(interp, name.c_str(), &info)) return -1;
    std::vector<Tcl_Obj *> objv;
    objv.push_back(Tcl_NewStringObj(name.c_str(), -1));
    for (int i = 0; i < argc; i++) objv.push_back(Tcl_NewStringObj(argv[i], -1));
    for (Tcl_Obj *o : objv) Tcl_IncrRefCount(o);
    int code = Tcl_EvalObjv(interp, static_cast<int>(objv.size()), objv.data(), 0);
    for (Tcl_Obj *o : objv) Tcl_DecrRefCount(o);
    return code;
}

// obj SUB ?arg ...?: runs the procedure obj:SUB with the arguments.
int TarskOptionProc(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    std::string name = std::string(argv[0]) + ":" + argv[1];
    int code = callNamed(interp, name, argc - 2, argv + 2);
    if (code < 0) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj(("command \"" + name + "\" not found").c_str(), -1));
        return TCL_ERROR;
    }
    return code;
}

// obj ANYWORD ?arg ...?: runs obj:* with the sub-command word and the rest.
int TarskStarProc(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    std::string name = std::string(argv[0]) + ":*";
    int code = callNamed(interp, name, argc - 1, argv + 1);
    if (code < 0) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj(("command " + name + " not found").c_str(), -1));
        return TCL_ERROR;
    }
    return code;
}

// tarsk create PROCNAME
// Makes the switch command PROCNAME, with no sub-commands yet.
int CreateCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "procname %s", &name)) return TCL_ERROR;
    Cmds_CreateSwitchCmd(interp, name, nullptr, nullptr);
    return TCL_OK;
}

// tarsk option PROCNAME OPTION ?OPTION ...?
// Adds sub-commands backed by the procedures PROCNAME:OPTION; "*" catches
// every word that names no sub-command.
int OptionCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name;
    int count = 0;
    const char **options = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "procname %s option %l", &name, &count, &options)) return TCL_ERROR;
    for (int i = 0; i < count; i++) {
        bool star = std::string(options[i]) == "*";
        int code = Cmds_CreateSubCmd(interp, name, options[i], star ? TarskStarProc : TarskOptionProc, nullptr,
                                     nullptr);
        if (code != TCL_OK) return code;
    }
    return TCL_OK;
}

// tarsk rename PROCNAME OPT NEWOPT
// Renames a sub-command; it then runs PROCNAME:NEWOPT.
int RenameCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name, *opt, *newopt;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "procname %s opt %s newopt %s", &name, &opt, &newopt))
        return TCL_ERROR;
    return Cmds_RenameSubCmd(interp, name, opt, newopt);
}

const SubCmdEntry kTarskCmds[] = {
    {"create", CreateCmd},
    {"option", OptionCmd},
    {"rename", RenameCmd},
    {nullptr, nullptr},
};

}  // namespace

extern "C" {

int Tarsk_Init(Tcl_Interp *interp) {
    int code = Tcl_PkgProvide(interp, "Tarsk", "1.0");
    if (code != TCL_OK) return code;
    Cmds_CreateSwitchCmd(interp, "tarsk", nullptr, nullptr);
    Cmds_CreateSubCmds(interp, "tarsk", kTarskCmds);
    return TCL_OK;
}

int Tarsk_SafeInit(Tcl_Interp *interp) { return Tarsk_Init(interp); }

}  // extern "C"
