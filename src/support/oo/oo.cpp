// A small class layer: every class and object is a string command whose
// client data is an OoObject.
#include "oo.h"

#include <map>
#include <set>
#include <string>
#include <vector>

struct OoMethod {
    Tcl_CmdProc *proc;
    ClientData clientData;
    Tcl_CmdDeleteProc *deleteProc;
};

struct OoObject {
    Tcl_Interp *interp;
    Tcl_Command token;
    std::string name;  // refreshed from the token before use
    std::string source;
    std::vector<std::string> isa;
    std::map<std::string, OoMethod> methods;
    ClientData clientData;          // Oo_Create's
    Tcl_CmdDeleteProc *deleteProc;  // Oo_Create's
    OoInfo info;                    // native data and its release
    std::string varNs;
};

namespace {

unsigned long serial = 0;

void setError(Tcl_Interp *interp, const std::string &msg) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj(msg.c_str(), -1));
}

int dispatch(ClientData cd, Tcl_Interp *interp, int argc, const char *argv[]);

OoObject *find(Tcl_Interp *interp, const char *name) {
    Tcl_CmdInfo ci;
    if (!name || !Tcl_GetCommandInfo(interp, name, &ci) || ci.proc != dispatch) return nullptr;
    return static_cast<OoObject *>(ci.clientData);
}

const std::string &currentName(OoObject *o) {
    o->name = Tcl_GetCommandName(o->interp, o->token);
    return o->name;
}

// Depth-first along isa; `seen` guards against cycles in parent lists.
OoObject *findMethod(Tcl_Interp *interp, OoObject *o, const std::string &method, bool inherited,
                     std::set<OoObject *> &seen, OoMethod **out) {
    if (!o || !seen.insert(o).second) return nullptr;
    auto it = o->methods.find(method);
    if (it != o->methods.end()) {
        *out = &it->second;
        return o;
    }
    if (!inherited) return nullptr;
    for (const std::string &p : o->isa) {
        OoObject *holder = findMethod(interp, find(interp, p.c_str()), method, true, seen, out);
        if (holder) return holder;
    }
    return nullptr;
}

void collectMethods(Tcl_Interp *interp, OoObject *o, bool inherited, std::set<OoObject *> &seen,
                    std::map<std::string, OoMethod *> &all) {
    if (!o || !seen.insert(o).second) return;
    for (auto &kv : o->methods) all.emplace(kv.first, &kv.second);
    if (!inherited) return;
    for (const std::string &p : o->isa) collectMethods(interp, find(interp, p.c_str()), true, seen, all);
}

int callMethod(Tcl_Interp *interp, OoObject *o, int argc, const char *argv[]) {
    // argv[0] object, argv[1] method, arguments after.
    std::set<OoObject *> seen;
    OoMethod *m = nullptr;
    OoObject *holder = findMethod(interp, o, argv[1], true, seen, &m);
    if (!holder) {
        setError(interp, std::string("unknown method \"") + argv[1] + "\" for \"" + argv[0] + "\"");
        return TCL_ERROR;
    }
    std::string holderName = currentName(holder);
    std::string objName = currentName(o);
    std::vector<const char *> words;
    words.reserve(argc + 2);
    words.push_back(objName.c_str());
    words.push_back(holderName.c_str());
    words.push_back(objName.c_str());
    for (int i = 1; i < argc; i++) words.push_back(argv[i]);
    words.push_back(nullptr);
    OoMethod call = *m;  // the method may be replaced while it runs
    Tcl_Preserve(holder);
    Tcl_Preserve(o);
    int code = call.proc(call.clientData, interp, argc + 2, words.data());
    Tcl_Release(o);
    Tcl_Release(holder);
    return code;
}

int dispatch(ClientData cd, Tcl_Interp *interp, int argc, const char *argv[]) {
    if (argc < 2) {
        setError(interp, std::string("wrong # args: should be \"") + argv[0] + " method ?arg ...?\"");
        return TCL_ERROR;
    }
    return callMethod(interp, static_cast<OoObject *>(cd), argc, argv);
}

void freeObject(char *block) { delete reinterpret_cast<OoObject *>(block); }

void deleteObject(ClientData cd) {
    OoObject *o = static_cast<OoObject *>(cd);
    if (o->info.deleteProc) o->info.deleteProc(o->info.deleteData);
    o->info.deleteProc = nullptr;
    for (auto &kv : o->methods)
        if (kv.second.deleteProc) kv.second.deleteProc(kv.second.clientData);
    o->methods.clear();
    if (!Tcl_InterpDeleted(o->interp)) {
        Tcl_Namespace *ns = Tcl_FindNamespace(o->interp, o->varNs.c_str(), nullptr, 0);
        if (ns) Tcl_DeleteNamespace(ns);
    }
    if (o->deleteProc) o->deleteProc(o->clientData);
    Tcl_EventuallyFree(o, freeObject);
}

OoObject *need(Tcl_Interp *interp, const char *name) {
    OoObject *o = find(interp, name);
    if (!o) setError(interp, std::string("command \"") + (name ? name : "") + "\" does not exist");
    return o;
}

}  // namespace

extern "C" {

Tcl_Command Oo_Create(Tcl_Interp *interp, const char *name, ClientData clientData, Tcl_CmdDeleteProc *deleteProc) {
    OoObject *o = new OoObject;
    o->interp = interp;
    o->name = name;
    o->clientData = clientData;
    o->deleteProc = deleteProc;
    o->info = OoInfo();
    o->varNs = "::_oo::o" + std::to_string(++serial);
    o->token = Tcl_CreateCommand(interp, name, dispatch, o, deleteObject);
    o->info.clientData = nullptr;
    return o->token;
}

int Oo_SetIsa(Tcl_Interp *interp, const char *name, const char *isaList) {
    OoObject *o = need(interp, name);
    if (!o) return TCL_ERROR;
    int n;
    const char **items;
    if (Tcl_SplitList(interp, isaList, &n, &items) != TCL_OK) return TCL_ERROR;
    o->isa.assign(items, items + n);
    Tcl_Free(reinterpret_cast<char *>(items));
    if (o->source.empty() && n > 0) o->source = o->isa[0];
    return TCL_OK;
}

int Oo_CreateMethod(Tcl_Interp *interp, const char *name, const char *method, Tcl_CmdProc *proc,
                    ClientData clientData, Tcl_CmdDeleteProc *deleteProc) {
    OoObject *o = need(interp, name);
    if (!o) {
        if (deleteProc) deleteProc(clientData);
        return TCL_ERROR;
    }
    auto it = o->methods.find(method);
    if (it != o->methods.end() && it->second.deleteProc) it->second.deleteProc(it->second.clientData);
    o->methods[method] = OoMethod{proc, clientData, deleteProc};
    return TCL_OK;
}

int Oo_RenameMethod(Tcl_Interp *interp, const char *name, const char *oldName, const char *newName) {
    OoObject *o = need(interp, name);
    if (!o) return TCL_ERROR;
    auto it = o->methods.find(oldName);
    if (it == o->methods.end()) {
        setError(interp, std::string("method \"") + oldName + "\" does not exist");
        return TCL_ERROR;
    }
    OoMethod m = it->second;
    o->methods.erase(it);
    if (newName[0] == '\0') {
        if (m.deleteProc) m.deleteProc(m.clientData);
        return TCL_OK;
    }
    auto old = o->methods.find(newName);
    if (old != o->methods.end() && old->second.deleteProc) old->second.deleteProc(old->second.clientData);
    o->methods[newName] = m;
    return TCL_OK;
}

int Oo_GetInfo(Tcl_Interp *interp, const char *name, OoInfo *info) {
    OoObject *o = find(interp, name);
    if (!o) return 0;
    *info = o->info;
    return 1;
}

int Oo_SetInfo(Tcl_Interp *interp, const char *name, const OoInfo *info) {
    OoObject *o = find(interp, name);
    if (!o) return 0;
    o->info = *info;
    return 1;
}

OoHandle Oo_Get(Tcl_Interp *interp, const char *name) { return need(interp, name); }

const char *Oo_Name(OoHandle handle) { return currentName(handle).c_str(); }

int Oo_Invoke(OoHandle handle, Tcl_Interp *interp, int argc, const char **argv) {
    if (!handle || argc < 2) {
        setError(interp, "Oo_Invoke needs an object and a method");
        return TCL_ERROR;
    }
    return callMethod(interp, handle, argc, argv);
}

int Oo_UpVar(Tcl_Interp *interp, OoHandle handle, const char *otherVar, const char *localVar, int flags) {
    if (!handle) return TCL_ERROR;
    if (!Tcl_FindNamespace(interp, handle->varNs.c_str(), nullptr, 0) &&
        !Tcl_CreateNamespace(interp, handle->varNs.c_str(), nullptr, nullptr))
        return TCL_ERROR;
    std::string full = handle->varNs + "::" + otherVar;
    return Tcl_UpVar(interp, "#0", full.c_str(), localVar, flags);
}

int Oo_GetMethodInfo(Tcl_Interp *interp, const char *name, const char *method, OoMethodInfo *info, int inherited) {
    OoObject *o = find(interp, name);
    if (!o) return 0;
    std::set<OoObject *> seen;
    OoMethod *m = nullptr;
    OoObject *holder = findMethod(interp, o, method, inherited != 0, seen, &m);
    if (!holder) return 0;
    info->proc = m->proc;
    info->clientData = m->clientData;
    info->deleteProc = m->deleteProc;
    info->source = currentName(holder).c_str();
    return 1;
}

int Oo_InfoIsa(Tcl_Interp *interp, const char *name) {
    OoObject *o = need(interp, name);
    if (!o) return TCL_ERROR;
    Tcl_Obj *list = Tcl_NewListObj(0, nullptr);
    for (const std::string &p : o->isa) Tcl_ListObjAppendElement(nullptr, list, Tcl_NewStringObj(p.c_str(), -1));
    Tcl_SetObjResult(interp, list);
    return TCL_OK;
}

static int listMethods(Tcl_Interp *interp, const char *name, const char *pattern, Tcl_CmdProc *proc, int match,
                       bool filter, int inherited) {
    OoObject *o = need(interp, name);
    if (!o) return TCL_ERROR;
    std::set<OoObject *> seen;
    std::map<std::string, OoMethod *> all;
    collectMethods(interp, o, inherited != 0, seen, all);
    Tcl_Obj *list = Tcl_NewListObj(0, nullptr);
    for (auto &kv : all) {
        if (pattern && !Tcl_StringMatch(kv.first.c_str(), pattern)) continue;
        if (filter && ((kv.second->proc == proc) != (match != 0))) continue;
        Tcl_ListObjAppendElement(nullptr, list, Tcl_NewStringObj(kv.first.c_str(), -1));
    }
    Tcl_SetObjResult(interp, list);
    return TCL_OK;
}

int Oo_InfoMethods(Tcl_Interp *interp, const char *name, const char *pattern, int inherited) {
    return listMethods(interp, name, pattern, nullptr, 0, false, inherited);
}

int Oo_InfoCommands(Tcl_Interp *interp, const char *name, const char *pattern, Tcl_CmdProc *proc, int match,
                    int inherited) {
    return listMethods(interp, name, pattern, proc, match, true, inherited);
}

int Oo_InfoSource(Tcl_Interp *interp, const char *name) {
    OoObject *o = need(interp, name);
    if (!o) return TCL_ERROR;
    Tcl_SetObjResult(interp, Tcl_NewStringObj(o->source.c_str(), -1));
    return TCL_OK;
}

int Oo_InfoVars(Tcl_Interp *interp, const char *name, const char *pattern) {
    OoObject *o = need(interp, name);
    if (!o) return TCL_ERROR;
    Tcl_Obj *cmd = Tcl_NewStringObj("info vars", -1);
    Tcl_IncrRefCount(cmd);
    Tcl_ListObjAppendElement(nullptr, cmd,
                             Tcl_NewStringObj((o->varNs + "::" + (pattern ? pattern : "*")).c_str(), -1));
    int code = Tcl_EvalObjEx(interp, cmd, TCL_EVAL_GLOBAL);
    Tcl_DecrRefCount(cmd);
    if (code != TCL_OK) return code;
    // Answer the plain variable names, not the namespace-qualified ones.
    Tcl_Obj *full = Tcl_GetObjResult(interp);
    int n;
    Tcl_Obj **elems;
    if (Tcl_ListObjGetElements(interp, full, &n, &elems) != TCL_OK) return TCL_ERROR;
    Tcl_Obj *list = Tcl_NewListObj(0, nullptr);
    size_t cut = o->varNs.size() + 2;
    for (int i = 0; i < n; i++) {
        std::string v = Tcl_GetString(elems[i]);
        if (v.size() > cut) v = v.substr(cut);
        Tcl_ListObjAppendElement(nullptr, list, Tcl_NewStringObj(v.c_str(), -1));
    }
    Tcl_SetObjResult(interp, list);
    return TCL_OK;
}

}  // extern "C"
