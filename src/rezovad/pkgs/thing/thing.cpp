// The Thing base class: object creation with init, script methods,
// introspection and object variables for every class built on the oo layer.
//
// A script method is a real procedure in the namespace ::_thing whose first
// three parameters are source, thing and method; the oo layer passes them in
// front of the caller's arguments. The procedure serves introspection; calls
// run the same arguments and body as a lambda in the namespace that was
// current when the method was made, so the body resolves names there.
#include <tcl.h>

#include <cstring>
#include <string>
#include <vector>

#include "cmds.h"
#include "oo.h"
#include "yastro.h"

namespace {

struct ScriptMethod {
    Tcl_Interp *interp;
    std::string proc;  // fully qualified procedure name
    Tcl_Obj *lambda;   // {params body namespace}, compiled on first call
};

unsigned long methodSerial = 0;

void setError(Tcl_Interp *interp, const std::string &msg) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj(msg.c_str(), -1));
}

// Runs a script method: the procedure with source, thing, method and the
// caller's arguments.
int runScriptMethod(ClientData cd, Tcl_Interp *interp, int argc, const char *argv[]) {
    ScriptMethod *sm = static_cast<ScriptMethod *>(cd);
    std::vector<Tcl_Obj *> objv;
    objv.reserve(argc + 1);
    objv.push_back(Tcl_NewStringObj("::apply", -1));
    objv.push_back(sm->lambda);
    for (int i = 1; i < argc; i++) objv.push_back(Tcl_NewStringObj(argv[i], -1));
    for (Tcl_Obj *o : objv) Tcl_IncrRefCount(o);
    int code = Tcl_EvalObjv(interp, static_cast<int>(objv.size()), objv.data(), 0);
    for (Tcl_Obj *o : objv) Tcl_DecrRefCount(o);
    if (code == TCL_ERROR) {
        // Show the usage as the caller writes it, without the hidden words.
        std::string msg = Tcl_GetStringResult(interp);
        std::string head = "wrong # args: should be \"::apply lambdaExpr source thing method";
        if (msg.compare(0, head.size(), head) == 0) {
            setError(interp, std::string("wrong # args: should be \"") + argv[2] + " " + argv[3] +
                                 msg.substr(head.size()));
        }
    }
    return code;
}

void deleteScriptMethod(ClientData cd) {
    ScriptMethod *sm = static_cast<ScriptMethod *>(cd);
    if (!Tcl_InterpDeleted(sm->interp)) Tcl_DeleteCommand(sm->interp, sm->proc.c_str());
    Tcl_DecrRefCount(sm->lambda);
    delete sm;
}

// name method NAME ARGS BODY
int MethodCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name, *args, *body;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "name %s args %s body %s", &name, &args, &body)) return TCL_ERROR;
    std::string proc = "::_thing::m" + std::to_string(++methodSerial);
    std::string params = std::string("source thing method ") + args;
    Tcl_Obj *cmd[4] = {Tcl_NewStringObj("proc", -1), Tcl_NewStringObj(proc.c_str(), -1),
                       Tcl_NewStringObj(params.c_str(), -1), Tcl_NewStringObj(body, -1)};
    for (Tcl_Obj *o : cmd) Tcl_IncrRefCount(o);
    int code = Tcl_EvalObjv(interp, 4, cmd, TCL_EVAL_GLOBAL);
    for (Tcl_Obj *o : cmd) Tcl_DecrRefCount(o);
    if (code != TCL_OK) return code;
    Tcl_Obj *lambda = Tcl_NewListObj(0, nullptr);
    Tcl_ListObjAppendElement(nullptr, lambda, Tcl_NewStringObj(params.c_str(), -1));
    Tcl_ListObjAppendElement(nullptr, lambda, Tcl_NewStringObj(body, -1));
    Tcl_ListObjAppendElement(nullptr, lambda, Tcl_NewStringObj(Tcl_GetCurrentNamespace(interp)->fullName, -1));
    Tcl_IncrRefCount(lambda);
    ScriptMethod *sm = new ScriptMethod{interp, proc, lambda};
    if (Oo_CreateMethod(interp, argv[2], name, runScriptMethod, sm, deleteScriptMethod) != TCL_OK) return TCL_ERROR;
    Tcl_ResetResult(interp);
    return TCL_OK;
}

// obj rename OLDNAME NEWNAME
int RenameCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *oldName, *newName;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "oldName %s newName %s", &oldName, &newName)) return TCL_ERROR;
    return Oo_RenameMethod(interp, argv[2], oldName, newName);
}

// Finds the script method `method` of `object` for info args/body/default.
ScriptMethod *scriptMethod(Tcl_Interp *interp, const char *object, const char *method) {
    OoMethodInfo mi;
    if (!Oo_GetMethodInfo(interp, object, method, &mi, 1)) {
        setError(interp, std::string("method \"") + method + "\" does not exist");
        return nullptr;
    }
    if (mi.proc != runScriptMethod) {
        // A compiled method exists but has no arguments or body to show.
        setError(interp, "\" internal-thing \" isn't a procedure");
        return nullptr;
    }
    return static_cast<ScriptMethod *>(mi.clientData);
}

int evalWords(Tcl_Interp *interp, std::initializer_list<std::string> words) {
    std::vector<Tcl_Obj *> objv;
    for (const std::string &w : words) {
        objv.push_back(Tcl_NewStringObj(w.c_str(), -1));
        Tcl_IncrRefCount(objv.back());
    }
    int code = Tcl_EvalObjv(interp, static_cast<int>(objv.size()), objv.data(), 0);
    for (Tcl_Obj *o : objv) Tcl_DecrRefCount(o);
    return code;
}

// obj info OPTION ?arg ...?
// Introspection: args, body, default, isa, methods, procs, source, vars.
int InfoCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    if (argc < 5) {
        setError(interp, std::string("wrong # args: should be \"") + argv[2] + " " + argv[3] + " option ?arg ...?\"");
        return TCL_ERROR;
    }
    static const char *names[] = {"args", "body", "default", "isa", "methods", "procs", "source", "vars"};
    const char *opt = argv[4];
    const char *full = nullptr;
    size_t len = strlen(opt);
    for (const char *n : names)
        if (len > 0 && opt[0] == n[0] && strncmp(n, opt, len) == 0 && len <= strlen(n)) full = n;
    if (!full) {
        setError(interp, std::string("bad option \"") + opt + "\": should be " + "args, body, default, isa, methods, " +
                             "procs, source " + "or vars");
        return TCL_ERROR;
    }
    int n = argc - 2;
    const char **w = argv + 2;
    const char *o, *method, *arg, *var, *pattern = "*";
    int local = 0;
    std::string f(full);
    if (f == "args" || f == "body") {
        if (Cmds_ParseArgs(interp, 2, n, w, (f + " %s method %s").c_str(), &o, &method)) return TCL_ERROR;
        ScriptMethod *sm = scriptMethod(interp, argv[2], method);
        if (!sm) return TCL_ERROR;
        if (evalWords(interp, {"info", f, sm->proc}) != TCL_OK) return TCL_ERROR;
        if (f == "body") return TCL_OK;
        Tcl_Obj *all = Tcl_GetObjResult(interp);
        int count;
        Tcl_Obj **elems;
        if (Tcl_ListObjGetElements(interp, all, &count, &elems) != TCL_OK) return TCL_ERROR;
        Tcl_SetObjResult(interp, Tcl_NewListObj(count > 3 ? count - 3 : 0, elems + 3));
        return TCL_OK;
    }
    if (f == "default") {
        if (Cmds_ParseArgs(interp, 2, n, w, "default %s method %s arg %s varname %s", &o, &method, &arg, &var))
            return TCL_ERROR;
        ScriptMethod *sm = scriptMethod(interp, argv[2], method);
        if (!sm) return TCL_ERROR;
        int code = evalWords(interp, {"info", "default", sm->proc, arg, var});
        if (code == TCL_ERROR) {
            // The procedure behind a method is private: name it as the
            // temporary procedure the answer is read from.
            std::string msg = Tcl_GetStringResult(interp);
            std::string quoted = "\"" + sm->proc + "\"";
            size_t at = msg.find(quoted);
            if (at != std::string::npos) setError(interp, msg.replace(at, quoted.size(), "\" internal-thing \""));
        }
        return code;
    }
    if (f == "isa") {
        if (Cmds_ParseArgs(interp, 2, n, w, "isa %s", &o)) return TCL_ERROR;
        return Oo_InfoIsa(interp, argv[2]);
    }
    if (f == "methods" || f == "procs") {
        if (Cmds_ParseArgs(interp, 2, n, w, (f + " %s pattern ?s -local %n").c_str(), &o, &pattern, &local))
            return TCL_ERROR;
        if (f == "methods") return Oo_InfoMethods(interp, argv[2], pattern, !local);
        return Oo_InfoCommands(interp, argv[2], pattern, runScriptMethod, 1, !local);
    }
    if (f == "source") {
        if (Cmds_ParseArgs(interp, 2, n, w, "source %s", &o)) return TCL_ERROR;
        return Oo_InfoSource(interp, argv[2]);
    }
    if (Cmds_ParseArgs(interp, 2, n, w, "vars %s pattern ?s", &o, &pattern)) return TCL_ERROR;
    return Oo_InfoVars(interp, argv[2], pattern);
}

// obj isa THINGS: sets the parent list.
int IsaCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *things;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "things %s", &things)) return TCL_ERROR;
    return Oo_SetIsa(interp, argv[2], things);
}

// obj var NAME ...: links object variables into the calling method's scope.
int VarCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    int count = 0;
    const char **names;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "name... %l", &count, &names)) return TCL_ERROR;
    OoHandle h = Oo_Get(interp, argv[2]);
    if (!h) return TCL_ERROR;
    if (count == 0) {
        setError(interp, std::string("wrong # args: should be \"") + argv[2] + " " + argv[3] + " name ?name ...?\"");
        return TCL_ERROR;
    }
    for (int i = 0; i < count; i++) {
        int code = Oo_UpVar(interp, h, names[i], names[i], 0);
        if (code != TCL_OK) return code;
    }
    return TCL_OK;
}

// obj upvar OTHERVAR LOCALVAR ...: links object variables under other names.
int UpvarCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    int count = 0;
    const char **names;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "names... %l", &count, &names)) return TCL_ERROR;
    if (count % 2 != 0) {
        setError(interp, std::string("wrong #args, should be: \"") + argv[2] + " " + argv[3] +
                             " otherVar localVar ?otherVar localVar...?\"");
        return TCL_ERROR;
    }
    OoHandle h = Oo_Get(interp, argv[2]);
    if (!h) return TCL_ERROR;
    for (int i = 0; i < count; i += 2) {
        int code = Oo_UpVar(interp, h, names[i], names[i + 1], 0);
        if (code != TCL_OK) return code;
    }
    return TCL_OK;
}

// class create NAME ?arg ...?: makes object NAME of this class and runs its
// init with the arguments; a failed init leaves no object behind.
int CreateCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    if (argc < 5) {
        setError(interp, std::string("wrong # args: should be \"") + argv[2] + " " + argv[3] + " name ?arg ...?\"");
        return TCL_ERROR;
    }
    const char *name = argv[4];
    std::string cls = argv[2];
    Tcl_Command token = Oo_Create(interp, name, nullptr, nullptr);
    char *isa = Tcl_Merge(1, &argv[2]);
    int isaCode = Oo_SetIsa(interp, name, isa);
    Tcl_Free(isa);
    if (isaCode != TCL_OK) {
        Tcl_DeleteCommandFromToken(interp, token);
        return TCL_ERROR;
    }
    OoHandle h = Oo_Get(interp, name);
    std::vector<const char *> words;
    words.push_back(name);
    words.push_back("init");
    for (int i = 5; i < argc; i++) words.push_back(argv[i]);
    Tcl_ResetResult(interp);
    int code = Oo_Invoke(h, interp, static_cast<int>(words.size()), words.data());
    if (code != TCL_OK && code != TCL_RETURN) {
        Tcl_Obj *err = Tcl_GetObjResult(interp);
        Tcl_IncrRefCount(err);
        Tcl_Obj *options = Tcl_GetReturnOptions(interp, code);
        Tcl_IncrRefCount(options);
        Tcl_DeleteCommandFromToken(interp, token);
        Tcl_SetReturnOptions(interp, options);
        Tcl_SetObjResult(interp, err);
        Tcl_DecrRefCount(options);
        Tcl_DecrRefCount(err);
        return code;
    }
    return TCL_OK;
}

const char *kAssocKey = "Thing";

}  // namespace

extern "C" {

int Thing_Init(Tcl_Interp *interp) {
    int code = Tcl_PkgProvide(interp, "Thing", "1.0.1");
    if (code != TCL_OK) return code;
    if (!Tcl_GetAssocData(interp, kAssocKey, nullptr)) {
        // Marks the interpreter as set up; script methods need no other state.
        Tcl_SetAssocData(interp, kAssocKey, nullptr, reinterpret_cast<ClientData>(1));
        if (!Tcl_CreateNamespace(interp, "::_thing", nullptr, nullptr)) return TCL_ERROR;
    }
    Oo_Create(interp, "Thing", nullptr, nullptr);
    Oo_CreateMethod(interp, "Thing", "method", MethodCmd, nullptr, nullptr);
    Oo_CreateMethod(interp, "Thing", "rename", RenameCmd, nullptr, nullptr);
    Oo_CreateMethod(interp, "Thing", "info", InfoCmd, nullptr, nullptr);
    Oo_CreateMethod(interp, "Thing", "isa", IsaCmd, nullptr, nullptr);
    Oo_CreateMethod(interp, "Thing", "var", VarCmd, nullptr, nullptr);
    Oo_CreateMethod(interp, "Thing", "upvar", UpvarCmd, nullptr, nullptr);
    Oo_CreateMethod(interp, "Thing", "create", CreateCmd, nullptr, nullptr);
    return Tcl_Eval(interp, "thingInit");
}

int Thing_SafeInit(Tcl_Interp *interp) { return Thing_Init(interp); }

}  // extern "C"
