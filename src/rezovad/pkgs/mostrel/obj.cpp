// Generic object commands of the Mostrel package: nuke, object and obfile.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cmds.h"
#include "container_file.h"
#include "mostrel.h"
#include "obj.h"
#include "yastro.h"

namespace {

int fail(Tcl_Interp *interp, const std::string &s) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj(s.c_str(), -1));
    return TCL_ERROR;
}

// A container call's result buffer, released however the handler leaves.
struct Result {
    GS_Result *r = GS_CreateResult();
    ~Result() { GS_DeleteResult(r); }
    int toInterp(Tcl_Interp *interp, int code) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj(r->text, -1));
        return code;
    }
};

// Tells whether a word can be taken by ObjNukeList without failing: it
// names an object, or it splits as a list.
bool nukeable(Tcl_Interp *interp, const char *word) {
    if (Obj_Get(interp, nullptr, word)) return true;
    int n = 0;
    const char **items = nullptr;
    if (Tcl_SplitList(interp, word, &n, &items) != TCL_OK) return false;
    Tcl_Free(reinterpret_cast<char *>(items));
    return true;
}

// Destroys the object named by word; a word that names none and splits
// into two or more elements has each element destroyed the same way, at
// any depth, their failures ignored. Fails only when such a word is not a
// well-formed list.
int ObjNukeList(Tcl_Interp *interp, const char *word) {
    if (Obj_Destroy(interp, word) == TCL_OK) return TCL_OK;
    int n = 0;
    const char **items = nullptr;
    if (Tcl_SplitList(interp, word, &n, &items) != TCL_OK) return TCL_ERROR;
    if (n > 1)
        for (int i = 0; i < n; i++) ObjNukeList(interp, items[i]);
    Tcl_Free(reinterpret_cast<char *>(items));
    return TCL_OK;
}

// nuke object...
// Destroys each named object; a word that names no object is read as a
// list of names (at any depth) and unknown names are skipped. Fails, with
// nothing destroyed, only when such a word is not a well-formed list.
int NukeCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    int count = 0;
    char **words = nullptr;
    if (Cmds_ParseArgs(interp, 1, argc, argv, "object... %l", &count, &words)) return TCL_ERROR;
    for (int i = 0; i < count; i++)
        if (!nukeable(interp, words[i])) return TCL_ERROR;
    for (int i = 0; i < count; i++)
        if (ObjNukeList(interp, words[i]) != TCL_OK) return TCL_ERROR;
    Tcl_ResetResult(interp);
    return TCL_OK;
}

// ---- destroy scripts -----------------------------------------------------

// The script an object runs when it is destroyed, in the interpreter that
// holds the object (a transfer moves it along), so the interpreter lives as
// long as the script; one being deleted runs nothing.
struct NukeScript {
    Tcl_Interp *interp;
    std::string name;
    std::string script;
};

void freeNukeScript(NukeScript *s) { delete s; }

NukeScript *newNukeScript(Tcl_Interp *interp, const std::string &name, const std::string &script) {
    return new NukeScript{interp, name, script};
}

// Runs the script with the object's name appended, at global level; its
// errors are background errors and stop nothing. The registry frees the
// object's record afterwards by its type.
void ObjNukeScriptProc(ObjEntry *entry) {
    NukeScript *s = static_cast<NukeScript *>(entry->nukeData);
    entry->nukeData = nullptr;
    if (!s) return;
    Tcl_Interp *interp = s->interp;
    if (!Tcl_InterpDeleted(interp)) {
        Tcl_Preserve(interp);
        std::string cmd = s->script + " " + s->name;
        if (Tcl_GlobalEval(interp, cmd.c_str()) != TCL_OK) Tcl_BackgroundError(interp);
        Tcl_Release(interp);
    }
    freeNukeScript(s);
}

// ---- object files ----------------------------------------------------------

void ObjFileNukeProc(ObjEntry *entry) {
    if (entry->data) Cntr_ObjFClose(nullptr, static_cast<CntrFile *>(entry->data));
    entry->data = nullptr;
}

// ---- object ----------------------------------------------------------------

// object clone OBJECT
// A copy of OBJECT under a new name; a destroy script is copied with it.
int CloneCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "object %s", &name)) return TCL_ERROR;
    if (Obj_Clone(interp, name) != TCL_OK) return TCL_ERROR;
    std::string copy = Tcl_GetStringResult(interp);
    ObjEntry *e = Obj_Get(interp, nullptr, copy.c_str());
    if (e->nukeProc == ObjNukeScriptProc) {
        const NukeScript *from = static_cast<const NukeScript *>(e->nukeData);
        e->nukeData = newNukeScript(interp, copy, from->script);
    }
    Tcl_SetObjResult(interp, Tcl_NewStringObj(copy.c_str(), -1));
    return TCL_OK;
}

Tcl_Interp *slave(Tcl_Interp *interp, const char *path) {
    Tcl_Interp *s = Tcl_GetSlave(interp, path);
    if (!s) fail(interp, std::string("interpreter \"") + path + "\" not found");
    return s;
}

// object transfer SOURCE OBJECT TARGET
// Moves OBJECT, keeping its name, between two interpreters given as slave
// paths of this one ("" is this one). Its destroy script moves along.
int TransferCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *source = nullptr, *name = nullptr, *target = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "source %s object %s target %s", &source, &name, &target))
        return TCL_ERROR;
    Tcl_Interp *from = slave(interp, source);
    if (!from) return TCL_ERROR;
    Tcl_Interp *to = slave(interp, target);
    if (!to) return TCL_ERROR;
    if (Obj_Transfer(interp, from, name, to) != TCL_OK) return TCL_ERROR;
    ObjEntry *e = Obj_Get(to, nullptr, name);
    if (e && e->nukeProc == ObjNukeScriptProc && to != from) {
        NukeScript *s = static_cast<NukeScript *>(e->nukeData);
        e->nukeData = newNukeScript(to, s->name, s->script);
        freeNukeScript(s);
    }
    return TCL_OK;
}

// object list
// Names of every object of this interpreter, oldest first.
int ListCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    if (Cmds_ParseArgs(interp, 2, argc, argv, "")) return TCL_ERROR;
    return Obj_List(interp);
}

// object container OBJECT
// The name of OBJECT's container type.
int ContainerCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "object %s", &name)) return TCL_ERROR;
    ObjEntry *e = Obj_Get(interp, nullptr, name);
    if (!e) return TCL_ERROR;
    Tcl_SetObjResult(interp, Tcl_NewStringObj(Cntr_Name(e->type), -1));
    return TCL_OK;
}

// What an object runs when destroyed: its script, an internal procedure,
// or nothing (empty).
std::string destroyInfo(const ObjEntry *e) {
    if (e->nukeProc == ObjNukeScriptProc) return static_cast<const NukeScript *>(e->nukeData)->script;
    if (e->nukeProc) return "internal C function";
    return "";
}

// object info OBJECT
// {container TYPE length PACKEDLENGTH nuke DESTROY}
int InfoCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "object %s", &name)) return TCL_ERROR;
    ObjEntry *e = Obj_Get(interp, nullptr, name);
    if (!e) return TCL_ERROR;
    Result res;
    CntrObj o = {e->data, nullptr, nullptr, e->type};
    int length = 0;
    if (Cntr_ObjLength(res.r, &o, &length)) return res.toInterp(interp, TCL_ERROR);
    Tcl_Obj *list = Tcl_NewListObj(0, nullptr);
    for (const std::string &s : {std::string("container"), std::string(Cntr_Name(e->type)), std::string("length"),
                                 std::to_string(length), std::string("nuke"), destroyInfo(e)})
        Tcl_ListObjAppendElement(nullptr, list, Tcl_NewStringObj(s.c_str(), -1));
    Tcl_SetObjResult(interp, list);
    return TCL_OK;
}

// object read CHANNEL
// A new object read from CHANNEL.
int ReadCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "channel %s", &name)) return TCL_ERROR;
    Tcl_Channel chan = MostrelChannel(interp, name, TCL_READABLE);
    if (!chan) return TCL_ERROR;
    return Obj_Read(interp, chan);
}

// object write CHANNEL ?OBJECT ...?
// Writes each OBJECT to CHANNEL, in order; the first failure stops.
int WriteCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr;
    int count = 0;
    const char **names = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "channel %s object... %l", &name, &count, &names)) return TCL_ERROR;
    Tcl_Channel chan = MostrelChannel(interp, name, TCL_WRITABLE);
    if (!chan) return TCL_ERROR;
    for (int i = 0; i < count; i++) {
        ObjEntry *e = Obj_Get(interp, nullptr, names[i]);
        if (!e || Obj_Write(interp, chan, e) != TCL_OK) return TCL_ERROR;
    }
    Tcl_ResetResult(interp);
    return TCL_OK;
}

// object pack ?OBJECT ...?
// A new raw holding every OBJECT packed, back to back.
int PackCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    int count = 0;
    const char **names = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "object... %l", &count, &names)) return TCL_ERROR;
    Result res;
    std::vector<CntrObj> objs;
    int64_t total = 0;
    for (int i = 0; i < count; i++) {
        ObjEntry *e = Obj_Get(interp, nullptr, names[i]);
        if (!e) return TCL_ERROR;
        objs.push_back({e->data, nullptr, nullptr, e->type});
        int length = 0;
        if (Cntr_ObjLength(res.r, &objs.back(), &length)) return res.toInterp(interp, TCL_ERROR);
        total += length;
    }
    if (total > 0x7ffffffe) return fail(interp, "objects too large to pack");
    unsigned char *data = static_cast<unsigned char *>(malloc(static_cast<size_t>(total) + 1));
    if (!data) return fail(interp, "not enough memory to pack " + std::to_string(total) + " bytes");
    int pos = 0;
    for (const CntrObj &o : objs) {
        if (Cntr_ObjPack(res.r, &o, reinterpret_cast<char *>(data), &pos)) {
            DB_FREE(data);
            return res.toInterp(interp, TCL_ERROR);
        }
    }
    data[total] = 0;
    RawBuffer *b = static_cast<RawBuffer *>(DB_MALLOC(sizeof(RawBuffer)));
    b->data = data;
    b->length = static_cast<int32_t>(total);
    if (Obj_Create(interp, "raw", b) == TCL_OK) return TCL_OK;
    DB_FREE(data);
    DB_FREE(b);
    return TCL_ERROR;
}

// object unpack RAW
// The objects packed in RAW as new objects, in order; a raw of 4 bytes or
// fewer holds none.
int UnpackCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "raw %s", &name)) return TCL_ERROR;
    RawBuffer *b = static_cast<RawBuffer *>(Obj_GetData(interp, "raw", name));
    if (!b) return TCL_ERROR;
    Result res;
    std::vector<CntrObj *> objs;
    // Every packed object is longer than 4 bytes, so stopping while 4 or
    // fewer remain loses none.
    for (int pos = 0; pos + 4 < b->length;) {
        CntrObj *o = Cntr_ObjUnpack(res.r, nullptr, reinterpret_cast<const char *>(b->data), &pos, b->length);
        if (!o) {
            for (CntrObj *done : objs) Cntr_ObjDestroy(nullptr, done);
            return res.toInterp(interp, TCL_ERROR);
        }
        objs.push_back(o);
    }
    Tcl_Obj *names = Tcl_NewListObj(0, nullptr);
    Tcl_IncrRefCount(names);
    for (size_t i = 0; i < objs.size(); i++) {
        if (Obj_Create(interp, Cntr_Name(objs[i]->type), objs[i]->data) != TCL_OK) {
            for (size_t k = i; k < objs.size(); k++) Cntr_ObjDestroy(nullptr, objs[k]);
            Tcl_DecrRefCount(names);
            return TCL_ERROR;
        }
        Tcl_ListObjAppendElement(nullptr, names, Tcl_GetObjResult(interp));
        DB_FREE(objs[i]);
    }
    Tcl_SetObjResult(interp, names);
    Tcl_DecrRefCount(names);
    return TCL_OK;
}

// object path ?PATH?
// Sets the container search path to the list PATH; answers it as a list.
int PathCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *path = nullptr;
    int havePath = 0;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "path !s", &path, &havePath)) return TCL_ERROR;
    if (havePath) {
        int n = 0;
        const char **items = nullptr;
        if (Tcl_SplitList(interp, path, &n, &items) != TCL_OK) return TCL_ERROR;
        std::string joined;
        for (int i = 0; i < n; i++) joined += (i ? ";" : "") + std::string(items[i]);
        Tcl_Free(reinterpret_cast<char *>(items));
        Cntr_PathSet(joined.c_str(), 0);
    }
    std::string now = Cntr_PathGet(1);
    for (char &c : now)
        if (c == ';') c = ' ';
    Tcl_SetObjResult(interp, Tcl_NewStringObj(now.c_str(), -1));
    return TCL_OK;
}

// object nuke OBJECT ?PROC ...?
// Without PROC, the object's destroy script. With PROC words, they become
// the script (run with the object's name appended); a single empty word
// removes it. Objects with an internal release procedure refuse scripts.
int ObjNukeCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr;
    int count = 0;
    const char **words = nullptr;
    if (argc == 3) {
        if (Cmds_ParseArgs(interp, 2, argc, argv, "object %s", &name)) return TCL_ERROR;
    } else if (Cmds_ParseArgs(interp, 2, argc, argv, "object %s proc... %l", &name, &count, &words)) {
        return TCL_ERROR;
    }
    ObjEntry *e = Obj_Get(interp, nullptr, name);
    if (!e) return TCL_ERROR;
    const char *internal = "nuke procedure is an internal C function";
    if (argc == 3) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj(e->nukeProc == ObjNukeScriptProc ? destroyInfo(e).c_str()
                                                  : e->nukeProc                      ? internal
                                                                                     : "",
                                                  -1));
        return TCL_OK;
    }
    if (e->nukeProc && e->nukeProc != ObjNukeScriptProc) return fail(interp, internal);
    if (e->nukeProc == ObjNukeScriptProc) freeNukeScript(static_cast<NukeScript *>(e->nukeData));
    e->nukeProc = nullptr;
    e->nukeData = nullptr;
    Tcl_ResetResult(interp);
    if (count == 1 && words[0][0] == '\0') return TCL_OK;
    char *merged = Tcl_Merge(count, words);
    e->nukeData = newNukeScript(interp, name, merged);
    e->nukeProc = ObjNukeScriptProc;
    Tcl_Free(merged);
    return TCL_OK;
}

// ---- obfile ----------------------------------------------------------------

// obfile open FILENAME ?MODE?
// An object file opened for reading (no mode, or one beginning with r) or
// writing (beginning with w).
int FileOpenCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *file = nullptr, *mode = nullptr;
    int haveMode = 0;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "filename %s mode !s", &file, &mode, &haveMode)) return TCL_ERROR;
    int m = 0;
    if (haveMode && mode[0] == 'w') m = 1;
    else if (haveMode && mode[0] != 'r') return fail(interp, std::string("unknown file mode \"") + mode + "\"");
    Tcl_DString native;
    if (!Tcl_TranslateFileName(interp, file, &native)) return TCL_ERROR;
    Result res;
    CntrFile *f = Cntr_ObjFOpen(res.r, Tcl_DStringValue(&native), m);
    Tcl_DStringFree(&native);
    if (!f) return res.toInterp(interp, TCL_ERROR);
    if (Obj_Create(interp, "objfile", f) != TCL_OK) {
        Cntr_ObjFClose(nullptr, f);
        return TCL_ERROR;
    }
    ObjEntry *e = Obj_Get(interp, "objfile", Tcl_GetStringResult(interp));
    e->nukeProc = ObjFileNukeProc;
    e->nukeData = nullptr;
    return TCL_OK;
}

CntrFile *objFile(Tcl_Interp *interp, const char *name) {
    return static_cast<CntrFile *>(Obj_GetData(interp, "objfile", name));
}

// obfile close FILEHANDLE
int FileCloseCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *handle = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "filehandle %s", &handle)) return TCL_ERROR;
    if (!objFile(interp, handle)) return TCL_ERROR;
    return Obj_Destroy(interp, handle);
}

// obfile write FILEHANDLE FIELD OBJECT
// Stores OBJECT in FIELD of the file.
int FileWriteCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *handle = nullptr, *field = nullptr, *name = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "filehandle %s field %s object %s", &handle, &field, &name))
        return TCL_ERROR;
    CntrFile *f = objFile(interp, handle);
    if (!f) return TCL_ERROR;
    ObjEntry *e = Obj_Get(interp, nullptr, name);
    if (!e) return TCL_ERROR;
    Result res;
    CntrObj o = {e->data, nullptr, nullptr, e->type};
    if (Cntr_ObjFWrite(res.r, f, field, &o)) return res.toInterp(interp, TCL_ERROR);
    Tcl_ResetResult(interp);
    return TCL_OK;
}

// obfile read FILEHANDLE FIELD
// A new object with the contents of FIELD.
int FileReadCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *handle = nullptr, *field = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "filehandle %s field %s", &handle, &field)) return TCL_ERROR;
    CntrFile *f = objFile(interp, handle);
    if (!f) return TCL_ERROR;
    Result res;
    CntrObj *o = Cntr_ObjFRead(res.r, f, field);
    if (!o) return res.toInterp(interp, TCL_ERROR);
    int code = Obj_Create(interp, Cntr_Name(o->type), o->data);
    if (code != TCL_OK) o->type->free(o->data);
    DB_FREE(o);
    return code;
}

// obfile fields FILEHANDLE
// The names of the file's fields.
int FileFieldsCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *handle = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "filehandle %s", &handle)) return TCL_ERROR;
    CntrFile *f = objFile(interp, handle);
    if (!f) return TCL_ERROR;
    Result res;
    if (Cntr_ObjFFields(res.r, f)) return res.toInterp(interp, TCL_ERROR);
    int n = 0;
    const char **items = nullptr;
    if (Tcl_SplitList(interp, res.r->text, &n, &items) != TCL_OK) return TCL_ERROR;
    Tcl_ResetResult(interp);
    for (int i = 0; i < n; i++) Tcl_AppendElement(interp, items[i]);
    Tcl_Free(reinterpret_cast<char *>(items));
    return TCL_OK;
}

// obfile info|nuke FILEHANDLE FIELD, obfile stat FILEHANDLE
// The container's text about a field or the file; nuke removes the field.
template <int (*Call)(GS_Result *, CntrFile *, const char *)>
int FileFieldTextCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *handle = nullptr, *field = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "filehandle %s field %s", &handle, &field)) return TCL_ERROR;
    CntrFile *f = objFile(interp, handle);
    if (!f) return TCL_ERROR;
    Result res;
    int bad = Call(res.r, f, field);
    return res.toInterp(interp, bad ? TCL_ERROR : TCL_OK);
}

int FileStatCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *handle = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "filehandle %s", &handle)) return TCL_ERROR;
    CntrFile *f = objFile(interp, handle);
    if (!f) return TCL_ERROR;
    Result res;
    int bad = Cntr_ObjFStat(res.r, f);
    return res.toInterp(interp, bad ? TCL_ERROR : TCL_OK);
}

const SubCmdEntry objectCommands[] = {
    {"clone", CloneCmd},   {"transfer", TransferCmd}, {"list", ListCmd},     {"container", ContainerCmd},
    {"info", InfoCmd},     {"read", ReadCmd},         {"write", WriteCmd},   {"pack", PackCmd},
    {"unpack", UnpackCmd}, {"path", PathCmd},         {"nuke", ObjNukeCmd},  {nullptr, nullptr},
};

// A safe interpreter gets no say over where type definitions are searched.
const SubCmdEntry safeObjectCommands[] = {
    {"clone", CloneCmd}, {"transfer", TransferCmd}, {"list", ListCmd},     {"container", ContainerCmd},
    {"info", InfoCmd},   {"read", ReadCmd},         {"write", WriteCmd},   {"pack", PackCmd},
    {"unpack", UnpackCmd}, {"nuke", ObjNukeCmd},    {nullptr, nullptr},
};

const SubCmdEntry obfileCommands[] = {
    {"open", FileOpenCmd},
    {"close", FileCloseCmd},
    {"write", FileWriteCmd},
    {"read", FileReadCmd},
    {"fields", FileFieldsCmd},
    {"info", FileFieldTextCmd<Cntr_ObjFInfo>},
    {"stat", FileStatCmd},
    {"nuke", FileFieldTextCmd<Cntr_ObjFDestroy>},
    {nullptr, nullptr},
};

void objfileFree(void *record) { Cntr_ObjFClose(nullptr, static_cast<CntrFile *>(record)); }

const CntrType objfileType = {"objfile", "objfile", nullptr, objfileFree, nullptr, nullptr, nullptr, nullptr};

} // namespace

Tcl_Channel MostrelChannel(Tcl_Interp *interp, const char *name, int want) {
    int mode = 0;
    Tcl_Channel chan = Tcl_GetChannel(interp, name, &mode);
    if (!chan) return nullptr;
    if (!(mode & want)) {
        fail(interp, std::string("\"") + name + "\" was not opened for " +
                         (want == TCL_READABLE ? "reading" : "writing"));
        return nullptr;
    }
    return chan;
}

void ObjRegisterTypes() { Cntr_RegisterType(&objfileType); }

int ObjRegisterCommands(Tcl_Interp *interp) {
    Tcl_CreateCommand(interp, "nuke", NukeCmd, nullptr, nullptr);
    Cmds_CreateSwitchCmd(interp, "object", nullptr, nullptr);
    Cmds_CreateSubCmds(interp, "object", objectCommands);
    Cmds_CreateSwitchCmd(interp, "obfile", nullptr, nullptr);
    return Cmds_CreateSubCmds(interp, "obfile", obfileCommands);
}

int ObjRegisterSafeCommands(Tcl_Interp *interp) {
    Tcl_CreateCommand(interp, "nuke", NukeCmd, nullptr, nullptr);
    Cmds_CreateSwitchCmd(interp, "object", nullptr, nullptr);
    return Cmds_CreateSubCmds(interp, "object", safeObjectCommands);
}
