/* The object registry: named, typed records per interpreter.
 *
 * Contract:
 *  - Names are the type's prefix and a process-wide counter ("wave3",
 *    "arrayF17"): unique across interpreters, never containing a dot, never
 *    reading as a number.
 *  - Obj_Create takes ownership of the record on TCL_OK only, leaving the new
 *    name as the interpreter result; the type must be registered
 *    (container.h). "arrayF"/"arrayD" records get count, data and rows.
 *  - Obj_Destroy removes the name, runs nukeProc(entry) when set (it frees
 *    what it owns and may set data to null), then frees by type whatever
 *    data is left. Objects left when an interpreter is deleted are destroyed
 *    the same way.
 *  - Obj_Clone deep-copies by type (refused for types without a clone); the
 *    copy starts with the source's nukeProc and nukeData.
 *  - Obj_Write writes one packed object (container.h) to a channel;
 *    Obj_Read reads one back as a new object (Obj_ReadLimited with a cap on
 *    the payload, for peers that are not trusted). Obj_Transfer moves an object,
 *    keeping its name, between two interpreters.
 *  - Lookup failures leave: no such object "x" / no such TYPE object "x" /
 *    object "x" is of type "T", not "U".
 */
#ifndef TOVIK_OBJ_H
#define TOVIK_OBJ_H

#include <tcl.h>

#include "container.h"
#include "records.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct ObjEntry ObjEntry;
typedef void(ObjNukeProc)(ObjEntry *entry);

struct ObjEntry {
    void *data;
    ClientData nukeData;
    ObjNukeProc *nukeProc;
    const CntrType *type;
    const char *name; /* owned by the registry */
};

int Obj_Init(Tcl_Interp *interp);
int Obj_Create(Tcl_Interp *interp, const char *type, void *data);
void *Obj_GetData(Tcl_Interp *interp, const char *type, const char *name);
ObjEntry *Obj_Get(Tcl_Interp *interp, const char *type, const char *name);
int Obj_Destroy(Tcl_Interp *interp, const char *name);
int Obj_Clone(Tcl_Interp *interp, const char *name);
int Obj_List(Tcl_Interp *interp);
int Obj_Write(Tcl_Interp *interp, Tcl_Channel channel, ObjEntry *entry);
int Obj_Read(Tcl_Interp *interp, Tcl_Channel channel);
/* Obj_Read refusing, from its header alone, an object whose payload is
 * over maxPayload bytes (before any of it is read). */
int Obj_ReadLimited(Tcl_Interp *interp, Tcl_Channel channel, size_t maxPayload);
int Obj_Transfer(Tcl_Interp *interp, Tcl_Interp *fromInterp, const char *name, Tcl_Interp *toInterp);

/* Number of objects an interpreter holds (for tests and benchmarks). */
int Obj_Count(Tcl_Interp *interp);

#ifdef __cplusplus
}

#include <vector>

/* The objects of one type that a Tcl list names, appended to out in list
 * order; false, with the list parser's or the registry's message, at the
 * first word that names no such object. */
template <class T>
bool Obj_GetDataList(Tcl_Interp *interp, const char *list, const char *type, std::vector<T *> &out) {
    int n;
    const char **v;
    if (Tcl_SplitList(interp, list, &n, &v) != TCL_OK) return false;
    bool ok = true;
    for (int i = 0; i < n && ok; i++) {
        T *p = static_cast<T *>(Obj_GetData(interp, type, v[i]));
        if (p)
            out.push_back(p);
        else
            ok = false;
    }
    Tcl_Free(reinterpret_cast<char *>(v));
    return ok;
}
#endif

#endif
