/* Classes and objects as commands, with methods found along isa lists.
 *
 * Contract:
 *  - A class and an object are the same thing: a command made by Oo_Create,
 *    holding methods, a parent (isa) list, native data and variables.
 *  - `obj method ?arg ...?` looks the method up in obj, then depth-first in
 *    its parents, in isa order, and calls proc(clientData, interp, argc,
 *    argv) with argv[0] the object's command name, argv[1] the source (the
 *    class or object holding the method), argv[2] the object, argv[3] the
 *    method and the arguments from argv[4].
 *  - OoInfo is the command-information layout: clientData is the object's
 *    native data; deleteProc(deleteData) runs when the object's command is
 *    deleted.
 *  - Object variables live in a namespace of their own, removed with the
 *    object; Oo_UpVar links one into the current call frame.
 */
#ifndef TOVIK_OO_H
#define TOVIK_OO_H

#include <tcl.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef Tcl_CmdInfo OoInfo;
typedef struct OoObject *OoHandle;

typedef struct OoMethodInfo {
    Tcl_CmdProc *proc;
    ClientData clientData;
    Tcl_CmdDeleteProc *deleteProc;
    const char *source; /* name of the class or object holding it */
} OoMethodInfo;

Tcl_Command Oo_Create(Tcl_Interp *interp, const char *name, ClientData clientData, Tcl_CmdDeleteProc *deleteProc);
int Oo_SetIsa(Tcl_Interp *interp, const char *name, const char *isaList);
int Oo_CreateMethod(Tcl_Interp *interp, const char *name, const char *method, Tcl_CmdProc *proc,
                    ClientData clientData, Tcl_CmdDeleteProc *deleteProc);
int Oo_RenameMethod(Tcl_Interp *interp, const char *name, const char *oldName, const char *newName);
int Oo_GetInfo(Tcl_Interp *interp, const char *name, OoInfo *info);
int Oo_SetInfo(Tcl_Interp *interp, const char *name, const OoInfo *info);
OoHandle Oo_Get(Tcl_Interp *interp, const char *name);
int Oo_Invoke(OoHandle handle, Tcl_Interp *interp, int argc, const char **argv);
int Oo_UpVar(Tcl_Interp *interp, OoHandle handle, const char *otherVar, const char *localVar, int flags);
/* 1 with info filled when the method exists (inherited: also along isa). */
int Oo_GetMethodInfo(Tcl_Interp *interp, const char *name, const char *method, OoMethodInfo *info, int inherited);

int Oo_InfoIsa(Tcl_Interp *interp, const char *name);
int Oo_InfoMethods(Tcl_Interp *interp, const char *name, const char *pattern, int inherited);
/* Methods whose procedure is (match 1) or is not (match 0) proc. */
int Oo_InfoCommands(Tcl_Interp *interp, const char *name, const char *pattern, Tcl_CmdProc *proc, int match,
                    int inherited);
int Oo_InfoSource(Tcl_Interp *interp, const char *name);
int Oo_InfoVars(Tcl_Interp *interp, const char *name, const char *pattern);
/* The command name an object now has (it follows renames). */
const char *Oo_Name(OoHandle handle);

#ifdef __cplusplus
}
#endif

#endif
