// Script access to the asynchronous handlers: a key (a signal name or any
// word) bound to a script that runs at the next safe point once marked.
#include <tcl.h>

#include "asn.h"
#include "cmds.h"

namespace {

typedef int (*KeyCall)(Tcl_Interp *interp, const char *key, const char *script);

// Calls the library for each key of KEYLIST in order; the first failure
// stops, keeping what the keys before it did.
int eachKey(Tcl_Interp *interp, const char *keylist, KeyCall call, const char *script) {
    int count;
    const char **keys;
    if (Tcl_SplitList(interp, keylist, &count, &keys) != TCL_OK) return TCL_ERROR;
    int code = TCL_OK;
    for (int i = 0; i < count && code == TCL_OK; i++) code = call(interp, keys[i], script) ? TCL_ERROR : TCL_OK;
    Tcl_Free(reinterpret_cast<char *>(keys));  // Tcl allocated the split list
    return code;
}

int createKey(Tcl_Interp *interp, const char *key, const char *script) { return Asn_CreateCmd(interp, key, script); }
int deleteKey(Tcl_Interp *interp, const char *key, const char *) { return Asn_DeleteCmd(interp, key); }
int markKey(Tcl_Interp *interp, const char *key, const char *) { return Asn_MarkCmd(interp, key); }

// async create KEYLIST COMMAND
// Binds COMMAND to every key of the list.
int CreateCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *keys, *command;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "keylist %s command %s", &keys, &command)) return TCL_ERROR;
    return eachKey(interp, keys, createKey, command);
}

// async delete KEYLIST
int DeleteCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *keys;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "keylist %s", &keys)) return TCL_ERROR;
    return eachKey(interp, keys, deleteKey, nullptr);
}

// async mark KEYLIST
// The handlers of the keys run at the next safe point.
int MarkCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *keys;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "keylist %s", &keys)) return TCL_ERROR;
    return eachKey(interp, keys, markKey, nullptr);
}

// async list ?-all?
// The bound keys; with -all, {key script} pairs.
int ListCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    int all = 0;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "-all %n", &all)) return TCL_ERROR;
    return Asn_ListCmd(interp, all);
}

// async info KEY
// The script bound to KEY.
int InfoCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *key;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "key %s", &key)) return TCL_ERROR;
    return Asn_InfoCmd(interp, key);
}

// async signals
// The signal names that can be keys.
int SignalsCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    if (Cmds_ParseArgs(interp, 2, argc, argv, "")) return TCL_ERROR;
    return Asn_Signals(interp);
}

const SubCmdEntry kAsyncCmds[] = {
    {"create", CreateCmd}, {"delete", DeleteCmd}, {"mark", MarkCmd},
    {"list", ListCmd},     {"info", InfoCmd},     {"signals", SignalsCmd},
    {nullptr, nullptr},
};

}  // namespace

extern "C" {

int Async_Init(Tcl_Interp *interp) {
    int code = Tcl_PkgProvide(interp, "Async", "1.0");
    if (code != TCL_OK) return code;
    Asn_Init(interp);
    Cmds_CreateSwitchCmd(interp, "async", nullptr, nullptr);
    Cmds_CreateSubCmds(interp, "async", kAsyncCmds);
    return TCL_OK;
}

int Async_SafeInit(Tcl_Interp *interp) { return Async_Init(interp); }

}  // extern "C"
