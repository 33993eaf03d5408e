// Package "OpenGL" 2.0: the class OpenGL, whose objects own an OpenGL
// rendering context: a Tk toplevel window with a double-buffered GLX context
// (depth and accumulation buffers), or an offscreen context for headless use.
//
// What deriving classes rely on: while any method of an object runs, its
// context is current (an execution trace on the object's command makes it
// current before every call); texture names 0 to 99 are left to them; the
// object's native-data words (OoInfo) are theirs: this class keeps its own
// state in a table of the interpreter and cleans up through a command-delete
// trace.
#include <GL/gl.h>
#include <GL/glx.h>
#include <tk.h>

#include <cctype>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "cmds.h"
#include "glcontext.h"
#include "glxvisual.h"
#include "obj.h"
#include "oo.h"

namespace {

struct GlObject {
    std::string id;  // key of the execution trace, stable across renames
    int width = 0, height = 0;
    GlContext *offscreen = nullptr;
    // on-screen
    Tk_Window tkwin = nullptr;
    Display *display = nullptr;
    GLXContext glx = nullptr;
    Colormap colormap = 0;
};

struct Registry {
    std::map<std::string, GlObject *> byId;
    std::map<Tcl_Command, GlObject *> byToken;
    int counter = 0;
};

const char *kAssoc = "OpenGL";

Registry *GetRegistry(Tcl_Interp *interp) {
    return static_cast<Registry *>(Tcl_GetAssocData(interp, kAssoc, nullptr));
}

// An EGL and a GLX context cannot both be current on one thread: release
// the other kind first.
void ReleaseGlx() {
    if (glXGetCurrentContext()) glXMakeCurrent(glXGetCurrentDisplay(), None, nullptr);
}

void MakeCurrent(GlObject *o) {
    if (o->offscreen) {
        ReleaseGlx();
        GlContext_MakeCurrent(o->offscreen);
    } else if (o->glx && o->tkwin) {
        GlContext_ReleaseCurrent();
        glXMakeCurrent(o->display, Tk_WindowId(o->tkwin), o->glx);
    }
}

// Tk may destroy the window first (its parent goes, or the application
// ends): forget it then.
void WindowEvent(ClientData cd, XEvent *ev) {
    GlObject *o = static_cast<GlObject *>(cd);
    if (ev->type == DestroyNotify) {
        if (o->glx && glXGetCurrentContext() == o->glx) glXMakeCurrent(o->display, None, nullptr);
        o->tkwin = nullptr;
    }
}

void Destroy(GlObject *o) {
    if (o->offscreen) GlContext_Destroy(o->offscreen);
    if (o->glx) {
        if (glXGetCurrentContext() == o->glx) glXMakeCurrent(o->display, None, nullptr);
        glXDestroyContext(o->display, o->glx);
    }
    if (o->tkwin) {
        Tk_DeleteEventHandler(o->tkwin, StructureNotifyMask, WindowEvent, o);
        Tk_DestroyWindow(o->tkwin);
    }
    delete o;
}

// The object of a method call, by its command; null with a message.
GlObject *Lookup(Tcl_Interp *interp, const char *name) {
    Registry *r = GetRegistry(interp);
    Tcl_Command token = Tcl_FindCommand(interp, name, nullptr, 0);
    if (r && token) {
        auto it = r->byToken.find(token);
        if (it != r->byToken.end()) return it->second;
    }
    Tcl_SetObjResult(interp, Tcl_ObjPrintf("\"%s\" has no OpenGL context", name));
    return nullptr;
}

// Runs when the object's command goes (after the deriving class's delete
// procedure has released its own data): the context goes with it.
void DeleteTrace(ClientData cd, Tcl_Interp *interp, const char *, const char *, int flags) {
    if (!(flags & (TCL_TRACE_DESTROYED | TCL_TRACE_DELETE))) return;
    GlObject *o = static_cast<GlObject *>(cd);
    Registry *r = GetRegistry(interp);
    if (!r) return;
    for (auto it = r->byToken.begin(); it != r->byToken.end(); ++it)
        if (it->second == o) {
            r->byToken.erase(it);
            break;
        }
    r->byId.erase(o->id);
    Destroy(o);
}

// ::OpenGL::enter ID ...: the execution trace that makes the object's
// context current before each of its methods.
int EnterCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    Registry *r = GetRegistry(interp);
    if (argc >= 2 && r) {
        auto it = r->byId.find(argv[1]);
        if (it != r->byId.end()) MakeCurrent(it->second);
    }
    return TCL_OK;
}

bool CreateWindowContext(Tcl_Interp *interp, GlObject *o, const char *objName, const char *parent) {
    if (!Tcl_PkgRequire(interp, "Tk", "8.6", 0)) return false;
    Tk_Window main = Tk_MainWindow(interp);
    if (!main) return false;
    // The window is named after the object, with characters that a Tk path
    // cannot hold replaced; a child of the given parent, else a toplevel.
    std::string leaf = "opengl_";
    for (const char *c = objName; *c; c++) leaf += (isalnum((unsigned char)*c) || *c == '_') ? *c : '_';
    std::string path = (parent && *parent && strcmp(parent, ".") != 0) ? std::string(parent) + "." + leaf : "." + leaf;
    if (Tk_NameToWindow(interp, path.c_str(), main)) path += "_" + o->id;
    Tcl_ResetResult(interp);
    // A child of a given parent, else a toplevel of its own.
    o->tkwin = Tk_CreateWindowFromPath(interp, main, path.c_str(), parent && *parent ? nullptr : "");
    if (!o->tkwin) return false;
    Tk_CreateEventHandler(o->tkwin, StructureNotifyMask, WindowEvent, o);
    o->display = Tk_Display(o->tkwin);
    GlxVisualRequest req;
    req.accumulation = true;
    XVisualInfo *vi = GlxChooseVisual(o->display, Tk_ScreenNumber(o->tkwin), req);
    if (!vi) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj("no double-buffered RGB visual with depth", -1));
        return false;
    }
    o->colormap = XCreateColormap(o->display, RootWindow(o->display, vi->screen), vi->visual, AllocNone);
    Tk_SetWindowVisual(o->tkwin, vi->visual, vi->depth, o->colormap);
    Tk_GeometryRequest(o->tkwin, o->width, o->height);
    Tk_MakeWindowExist(o->tkwin);
    o->glx = glXCreateContext(o->display, vi, nullptr, True);
    XFree(vi);
    if (!o->glx) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj("cannot create a GLX context", -1));
        return false;
    }
    if (!parent || !*parent) Tk_MapWindow(o->tkwin);
    Tcl_Eval(interp, "update");
    Tcl_ResetResult(interp);
    MakeCurrent(o);
    return true;
}

// obj init ?-width W? ?-height H? ?-offscreen? ?-parent PATH?
// Makes the object's context, in a window of W x H pixels (default 640 x
// 480) or offscreen; offscreen also when no display can be opened.
int InitCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    int width = 640, height = 480, offscreen = 0;
    char *parent = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "-width %i -height %i -offscreen %n -parent %s", &width,
                       &height, &offscreen, &parent))
        return TCL_ERROR;
    if (width < 1 || height < 1 || width > 16384 || height > 16384) {
        Tcl_SetObjResult(interp, Tcl_ObjPrintf("bad size %d x %d: expected 1 to 16384 pixels", width, height));
        return TCL_ERROR;
    }
    Registry *r = GetRegistry(interp);
    GlObject *o = new GlObject;
    o->width = width, o->height = height;
    o->id = "gl" + std::to_string(++r->counter);
    const char *display = getenv("DISPLAY");
    bool ok = false;
    if (!offscreen && display && *display) ok = CreateWindowContext(interp, o, argv[2], parent);
    if (!ok && !offscreen && o->tkwin) {
        std::string msg = Tcl_GetStringResult(interp);
        Destroy(o);
        Tcl_SetObjResult(interp, Tcl_NewStringObj(msg.c_str(), -1));
        return TCL_ERROR;
    }
    if (!ok) {
        std::string err;
        ReleaseGlx();
        o->offscreen = GlContext_CreateOffscreen(width, height, &err);
        if (!o->offscreen) {
            Destroy(o);
            Tcl_SetObjResult(interp, Tcl_NewStringObj(err.c_str(), -1));
            return TCL_ERROR;
        }
    }
    Tcl_ResetResult(interp);
    r->byId[o->id] = o;
    r->byToken[Tcl_FindCommand(interp, argv[2], nullptr, 0)] = o;
    Tcl_TraceCommand(interp, argv[2], TCL_TRACE_DELETE, DeleteTrace, o);
    Tcl_Obj *script = Tcl_ObjPrintf("trace add execution {%s} enter {::OpenGL::enter %s}", argv[2], o->id.c_str());
    Tcl_IncrRefCount(script);
    int code = Tcl_EvalObjEx(interp, script, TCL_EVAL_GLOBAL);
    Tcl_DecrRefCount(script);
    if (code != TCL_OK) return code;
    MakeCurrent(o);
    Tcl_ResetResult(interp);
    return TCL_OK;
}

// obj swapbuffers
// Shows the frame drawn into the back buffer (offscreen: waits for it).
int SwapCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "")) return TCL_ERROR;
    GlObject *o = Lookup(interp, argv[2]);
    if (!o) return TCL_ERROR;
    MakeCurrent(o);
    if (o->glx)
        glXSwapBuffers(o->display, Tk_WindowId(o->tkwin));
    else
        glFinish();
    return TCL_OK;
}

// obj makecurrent
int MakeCurrentCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "")) return TCL_ERROR;
    GlObject *o = Lookup(interp, argv[2]);
    if (!o) return TCL_ERROR;
    MakeCurrent(o);
    return TCL_OK;
}

// obj size
// Answers the drawing size: width height.
int SizeCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "")) return TCL_ERROR;
    GlObject *o = Lookup(interp, argv[2]);
    if (!o) return TCL_ERROR;
    Tcl_SetObjResult(interp, Tcl_ObjPrintf("%d %d", o->width, o->height));
    return TCL_OK;
}

// obj snapshot ?file?
// Reads the frame being drawn (the back buffer, before swapbuffers): writes
// it to file as a binary PPM, or answers its RGB bytes, top row first. A
// safe interpreter gets the bytes only.
int SnapshotCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    char *file = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "file ?s", &file)) return TCL_ERROR;
    if (file && Cmds_RefuseInSafe(interp, argv[2], argv[3])) return TCL_ERROR;
    GlObject *o = Lookup(interp, argv[2]);
    if (!o) return TCL_ERROR;
    MakeCurrent(o);
    std::vector<unsigned char> rgb;
    GlContext_ReadFrame(o->width, o->height, &rgb);
    if (file) {
        if (!GlContext_WritePpm(file, o->width, o->height, rgb)) {
            Tcl_SetObjResult(interp, Tcl_ObjPrintf("cannot write \"%s\"", file));
            return TCL_ERROR;
        }
        return TCL_OK;
    }
    Tcl_SetObjResult(interp, Tcl_NewByteArrayObj(rgb.data(), (int)rgb.size()));
    return TCL_OK;
}

// obj window
// Answers the Tk path of the object's window ("" offscreen), so that a
// script can pack a window made with -parent.
int WindowCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "")) return TCL_ERROR;
    GlObject *o = Lookup(interp, argv[2]);
    if (!o) return TCL_ERROR;
    Tcl_SetObjResult(interp, Tcl_NewStringObj(o->tkwin ? Tk_PathName(o->tkwin) : "", -1));
    return TCL_OK;
}

// obj offscreen
// Answers 1 for an offscreen context, 0 for a window.
int OffscreenCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "")) return TCL_ERROR;
    GlObject *o = Lookup(interp, argv[2]);
    if (!o) return TCL_ERROR;
    Tcl_SetObjResult(interp, Tcl_NewIntObj(o->offscreen ? 1 : 0));
    return TCL_OK;
}

void FreeRegistry(ClientData cd, Tcl_Interp *) {
    Registry *r = static_cast<Registry *>(cd);
    for (auto &kv : r->byId) Destroy(kv.second);  // contexts of objects still alive
    delete r;
}

}  // namespace

extern "C" {

int Opengl_Init(Tcl_Interp *interp) {
    int code = Tcl_PkgProvide(interp, "OpenGL", "2.0");
    if (code != TCL_OK) return code;
    if (!Tcl_PkgRequire(interp, "Thing", "1.0", 0)) return TCL_ERROR;
    if (!GetRegistry(interp)) {
        Tcl_SetAssocData(interp, kAssoc, FreeRegistry, new Registry);
        Tcl_CreateNamespace(interp, "::OpenGL", nullptr, nullptr);
        Tcl_CreateCommand(interp, "::OpenGL::enter", EnterCmd, nullptr, nullptr);
    }
    Oo_Create(interp, "OpenGL", nullptr, nullptr);
    Oo_SetIsa(interp, "OpenGL", "Thing");
    Oo_CreateMethod(interp, "OpenGL", "init", InitCmd, nullptr, nullptr);
    Oo_CreateMethod(interp, "OpenGL", "swapbuffers", SwapCmd, nullptr, nullptr);
    Oo_CreateMethod(interp, "OpenGL", "makecurrent", MakeCurrentCmd, nullptr, nullptr);
    Oo_CreateMethod(interp, "OpenGL", "size", SizeCmd, nullptr, nullptr);
    Oo_CreateMethod(interp, "OpenGL", "snapshot", SnapshotCmd, nullptr, nullptr);
    Oo_CreateMethod(interp, "OpenGL", "offscreen", OffscreenCmd, nullptr, nullptr);
    Oo_CreateMethod(interp, "OpenGL", "window", WindowCmd, nullptr, nullptr);
    return Obj_Init(interp);
}

int Opengl_SafeInit(Tcl_Interp *interp) { return Opengl_Init(interp); }

}  // extern "C"
