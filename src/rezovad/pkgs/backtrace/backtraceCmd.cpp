// The `backtrace` command: pools of backtrace records ("btraceheap"
// objects) that the word searches share.
#include <tcl.h>

#include <string>

#include "cmds.h"
#include "container.h"
#include "nevrin.h"
#include "obj.h"

namespace {

const char *kType = "btraceheap";

void poolFree(void *record) { nevrinNuke(static_cast<NevrinPool *>(record)); }

const CntrType kPoolType = {kType, "btraceheap", nullptr, poolFree, nullptr, nullptr, nullptr, nullptr};

int fail(Tcl_Interp *interp, const std::string &text) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj(text.c_str(), -1));
    return TCL_ERROR;
}

// backtrace create size blocksize
// A new pool of size free records growing by blocksize; answers its name.
int CreateCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    int size = 0, block = 0;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "size %i blocksize %i", &size, &block)) return TCL_ERROR;
    if (size < 1 || block < 1) return fail(interp, "backtrace heap size and block size must be at least 1");
    NevrinPool *pool = nevrinInit(size, block);
    if (!pool) return fail(interp, "Could not allocate backtrace heap");
    if (Obj_Create(interp, kType, pool) != TCL_OK) {
        nevrinNuke(pool);
        return TCL_ERROR;
    }
    return TCL_OK;
}

// backtrace info nevrinob ?-size ?N?? ?-blocksize ?N??
// Answers {-size capacity} and/or {-blocksize step}, both when neither is
// named; a value grows the pool (never shrinks it) or sets the step.
int InfoCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr;
    int nSize = 0, size = 0, gSize = 0, nBlock = 0, block = 0, gBlock = 0;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "nevrinob %s -size %n !i -blocksize %n !i", &name, &nSize, &size,
                       &gSize, &nBlock, &block, &gBlock))
        return TCL_ERROR;
    ObjEntry *e = Obj_Get(interp, kType, name);
    if (!e) return TCL_ERROR;
    NevrinPool *pool = static_cast<NevrinPool *>(e->data);
    if (gBlock && block < 1) return fail(interp, "backtrace block size must be at least 1");
    if (gSize && size != pool->capacity) {
        if (size < pool->capacity)
            return fail(interp, "backtrace heap cannot shrink from " + std::to_string(pool->capacity) + " to " +
                                    std::to_string(size) + " records");
        // A failed growth leaves the pool as it was, still owned by the object.
        if (!nevrinResize(pool, size)) return fail(interp, "Could not grow backtrace heap");
    }
    if (gBlock) pool->blockSize = block;
    if (!nSize && !nBlock) nSize = nBlock = 1;
    Tcl_Obj *out = Tcl_NewListObj(0, nullptr);
    auto pair = [&](const char *opt, int v) {
        Tcl_Obj *p[2] = {Tcl_NewStringObj(opt, -1), Tcl_NewIntObj(v)};
        Tcl_ListObjAppendElement(nullptr, out, Tcl_NewListObj(2, p));
    };
    if (nSize) pair("-size", pool->capacity);
    if (nBlock) pair("-blocksize", pool->blockSize);
    Tcl_SetObjResult(interp, out);
    return TCL_OK;
}

// backtrace reset nevrinob
// Frees every record of the pool; answers the name.
int ResetCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "nevrinob %s", &name)) return TCL_ERROR;
    NevrinPool *pool = static_cast<NevrinPool *>(Obj_GetData(interp, kType, name));
    if (!pool) return TCL_ERROR;
    nevrinReset(pool);
    Tcl_SetObjResult(interp, Tcl_NewStringObj(name, -1));
    return TCL_OK;
}

const SubCmdEntry kTable[] = {{"create", CreateCmd}, {"info", InfoCmd}, {"reset", ResetCmd}, {nullptr, nullptr}};

} // namespace

extern "C" {

int Backtrace_Init(Tcl_Interp *interp) {
    int code = Tcl_PkgProvide(interp, "Backtrace", "1.0");
    if (code != TCL_OK) return code;
    Cntr_RegisterType(&kPoolType);
    Cmds_CreateSwitchCmd(interp, "backtrace", nullptr, nullptr);
    Cmds_CreateSubCmds(interp, "backtrace", kTable);
    return Obj_Init(interp);
}

int Backtrace_SafeInit(Tcl_Interp *interp) { return Backtrace_Init(interp); }

} // extern "C"
