// Package "Brovana" 1.2.0: the talking face.  Class Brovana, derived from
// the OpenGL class, one object per face view; `load` attaches the face
// engine as the object's native data and every other method drives it.
//
// Methods other than `load` and `embed` need an attached engine ("no
// character loaded" otherwise); the drawing methods also need a loaded
// character.  A second `load` replaces the engine it attached before.
#include <GL/gl.h>
#include <tcl.h>

#include <cmath>
#include <cstring>
#include <string>

#include "cmds.h"
#include "engine.h"
#include "obj.h"
#include "oo.h"

using brovana::BrovanaEngine;

extern "C" void Brovana_DeleteEngine(ClientData engine) { delete static_cast<BrovanaEngine *>(engine); }

extern "C" BrovanaEngine *Brovana_GetEngine(Tcl_Interp *interp, const char *name) {
    OoInfo info;
    if (!Oo_GetInfo(interp, name, &info)) return nullptr;
    return static_cast<BrovanaEngine *>(info.clientData);
}

namespace {

// The engine of the called object; null with a message.
BrovanaEngine *Need(Tcl_Interp *interp, const char *name) {
    BrovanaEngine *e = Brovana_GetEngine(interp, name);
    if (!e) Tcl_SetObjResult(interp, Tcl_ObjPrintf("no character loaded: \"%s load\" comes first", name));
    return e;
}

BrovanaEngine *NeedLoaded(Tcl_Interp *interp, const char *name) {
    BrovanaEngine *e = Need(interp, name);
    if (e && !e->loaded()) {
        Tcl_SetObjResult(interp, Tcl_ObjPrintf("no character loaded in \"%s\"", name));
        return nullptr;
    }
    return e;
}

// The engine draws only while the object's context is current.
void AttachContext(BrovanaEngine *e) { e->setGlEnabled(glGetString(GL_VERSION) != nullptr); }

int LoadResult(Tcl_Interp *interp, BrovanaEngine *e, bool ok) {
    Tcl_ResetResult(interp);
    if (ok) return TCL_OK;
    // A model file that does not open fails without a message of its own;
    // a damaged file or an unknown type says what is wrong.
    if (!e->lastError().empty()) Tcl_SetObjResult(interp, Tcl_NewStringObj(e->lastError().c_str(), -1));
    return TCL_ERROR;
}

// obj load type currentdir
// Makes a new engine, attaches it to the object (replacing and deleting an
// engine a former load attached) and loads character type from currentdir.
// Refused in a safe interpreter: it reads files, and its messages would
// tell which paths exist.
int LoadCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    if (Cmds_RefuseInSafe(interp, argv[2], argv[3])) return TCL_ERROR;
    int type = 0;
    char *dir = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "type %i currentdir %s", &type, &dir)) return TCL_ERROR;
    OoInfo info;
    if (!Oo_GetInfo(interp, argv[2], &info)) {
        Tcl_SetObjResult(interp, Tcl_ObjPrintf("command \"%s\" does not exist", argv[2]));
        return TCL_ERROR;
    }
    if (info.clientData && info.deleteProc == Brovana_DeleteEngine) Brovana_DeleteEngine(info.deleteData);
    BrovanaEngine *e = new BrovanaEngine;
    info.clientData = e;
    info.deleteData = e;
    info.deleteProc = Brovana_DeleteEngine;
    Oo_SetInfo(interp, argv[2], &info);
    AttachContext(e);
    return LoadResult(interp, e, e->load(type, dir));
}

// obj reload type path
// Loads another character into the attached engine; refused in a safe
// interpreter, as load is.
int ReloadCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    if (Cmds_RefuseInSafe(interp, argv[2], argv[3])) return TCL_ERROR;
    int type = 0;
    char *dir = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "type %i path %s", &type, &dir)) return TCL_ERROR;
    BrovanaEngine *e = Need(interp, argv[2]);
    if (!e) return TCL_ERROR;
    AttachContext(e);
    return LoadResult(interp, e, e->load(type, dir));
}

// obj setViewport x0 y0 x1 y1
// x1 and y1 become the width and height of the drawing area.
int SetViewportCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    int x0, y0, x1, y1;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "x0 %i y0 %i x1 %i y1 %i", &x0, &y0, &x1, &y1))
        return TCL_ERROR;
    BrovanaEngine *e = Need(interp, argv[2]);
    if (!e) return TCL_ERROR;
    e->setViewport(x0, y0, x1, y1);
    return TCL_OK;
}

// obj displayMode mode
// 0 filled, 1 outlines, 2 front outlines and back filled; others: no change.
int DisplayModeCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    int mode;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "mode %i", &mode)) return TCL_ERROR;
    BrovanaEngine *e = Need(interp, argv[2]);
    if (!e) return TCL_ERROR;
    AttachContext(e);
    e->setDisplayMode(mode);
    return TCL_OK;
}

// obj reset
// Forgets the phonemes of the last utterance.
int ResetCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "")) return TCL_ERROR;
    BrovanaEngine *e = Need(interp, argv[2]);
    if (!e) return TCL_ERROR;
    e->reset();
    return TCL_OK;
}

// obj show
// Draws one frame with the current state into the back buffer.
int ShowCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "")) return TCL_ERROR;
    BrovanaEngine *e = NeedLoaded(interp, argv[2]);
    if (!e) return TCL_ERROR;
    AttachContext(e);
    e->show();
    return TCL_OK;
}

// obj embed ?anything?
// Does nothing.
int EmbedCmd(ClientData, Tcl_Interp *, int, const char *[]) { return TCL_OK; }

// obj add phoneme duration stress f0 ?word? ?phrase? ?-mpra? ?-worldbet? ?-mspanish? ?-mportuguese?
// Appends one phoneme of duration seconds; only -mspanish has an effect.
int AddCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    char *phoneme = nullptr, *word = nullptr, *phrase = nullptr;
    const char *noWord = "";
    double duration = 0, f0 = 0;
    int stress = 0, mpra = 0, worldbet = 0, spanish = 0, portuguese = 0;
    word = const_cast<char *>(noWord);
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2,
                       "phoneme %s duration %d stress %i f0 %d word ?s phrase ?s -mpra %n -worldbet %n "
                       "-mspanish %n -mportuguese %n",
                       &phoneme, &duration, &stress, &f0, &word, &phrase, &mpra, &worldbet, &spanish, &portuguese))
        return TCL_ERROR;
    BrovanaEngine *e = Need(interp, argv[2]);
    if (!e) return TCL_ERROR;
    if (!(duration >= 0) || duration > 3600) {
        Tcl_SetObjResult(interp, Tcl_ObjPrintf("bad duration \"%s\": expected 0 to 3600 seconds", argv[5]));
        return TCL_ERROR;
    }
    e->addPhoneme(phoneme, (float)(duration * 1000.0), word, spanish != 0);
    return TCL_OK;
}

// obj prep
// Prepares the per-frame tracks of the phonemes added since the last reset.
int PrepCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "")) return TCL_ERROR;
    BrovanaEngine *e = Need(interp, argv[2]);
    if (!e) return TCL_ERROR;
    e->prep();
    return TCL_OK;
}

// obj getvars
// Answers {duration MS framerate FPS}: the utterance's length in ms ("%f")
// and the frame rate as Tcl prints a double.
int GetvarsCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "")) return TCL_ERROR;
    BrovanaEngine *e = Need(interp, argv[2]);
    if (!e) return TCL_ERROR;
    char rate[TCL_DOUBLE_SPACE];
    Tcl_AppendElement(interp, "duration");
    Tcl_AppendElement(interp, sspf(0, "%f", e->duration()));
    Tcl_PrintDouble(interp, (double)e->frameRate(), rate);
    Tcl_AppendElement(interp, "framerate");
    Tcl_AppendElement(interp, rate);
    return TCL_OK;
}

// obj showFrame ms
// Shows frame number ms of the prepared tracks; from the last frame on (and
// for a negative number) the mouth goes to rest and nothing is drawn.
int ShowFrameCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    int n;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "ms %i", &n)) return TCL_ERROR;
    BrovanaEngine *e = NeedLoaded(interp, argv[2]);
    if (!e) return TCL_ERROR;
    AttachContext(e);
    e->showFrame(n);
    return TCL_OK;
}

// obj setPerspective fovy aspect near far
// The projection; its aspect comes from the viewport, not from aspect.
int SetPerspectiveCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    float fovy, aspect, nearZ, farZ;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "fovy %f aspect %f near %f far %f", &fovy, &aspect, &nearZ,
                       &farZ))
        return TCL_ERROR;
    BrovanaEngine *e = Need(interp, argv[2]);
    if (!e) return TCL_ERROR;
    e->setPerspective(fovy, aspect, nearZ, farZ);
    return TCL_OK;
}

// obj viewpoint eyex eyey eyez centerx centery centerz
// Camera eye and centre, relative to the centroid of the face.
int ViewpointCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    double v[6];
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2,
                       "eyex %d eyey %d eyez %d centerx %d centery %d centerz %d", &v[0], &v[1], &v[2], &v[3],
                       &v[4], &v[5]))
        return TCL_ERROR;
    BrovanaEngine *e = Need(interp, argv[2]);
    if (!e) return TCL_ERROR;
    e->setViewpoint(v[0], v[1], v[2], v[3], v[4], v[5]);
    return TCL_OK;
}

// obj alpha alpha
// Opacity of the character; blending is on below 1.
int AlphaCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    float a;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "alpha %f", &a)) return TCL_ERROR;
    BrovanaEngine *e = Need(interp, argv[2]);
    if (!e) return TCL_ERROR;
    AttachContext(e);
    e->setAlpha(a);
    return TCL_OK;
}

// obj parameters sad angry smile fear disgust surprise
// The six emotion weights of the expression.
int ParametersCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    double p[6];
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "p1 %d p2 %d p3 %d p4 %d p5 %d p6 %d", &p[0], &p[1], &p[2],
                       &p[3], &p[4], &p[5]))
        return TCL_ERROR;
    BrovanaEngine *e = Need(interp, argv[2]);
    if (!e) return TCL_ERROR;
    e->setParameters(p[0], p[1], p[2], p[3], p[4], p[5]);
    return TCL_OK;
}

// The four switch methods share one shape: obj NAME mode
template <void (BrovanaEngine::*Set)(int)>
int SwitchCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    int mode;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "mode %i", &mode)) return TCL_ERROR;
    BrovanaEngine *e = Need(interp, argv[2]);
    if (!e) return TCL_ERROR;
    (e->*Set)(mode);
    return TCL_OK;
}

// obj headrotate mode
// Toggles the idle head rotation, whatever mode is.
int HeadrotateCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    int mode;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "mode %i", &mode)) return TCL_ERROR;
    BrovanaEngine *e = Need(interp, argv[2]);
    if (!e) return TCL_ERROR;
    e->toggleHeadRotate();
    return TCL_OK;
}

// obj setframerate fps
int SetFrameRateCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    int fps;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "fps %i", &fps)) return TCL_ERROR;
    BrovanaEngine *e = Need(interp, argv[2]);
    if (!e) return TCL_ERROR;
    e->setFrameRate(fps);
    return TCL_OK;
}

// obj idleanimate
// One idle step (blinks, brows, head), drawn; then drawn once more.
int IdleAnimateCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "")) return TCL_ERROR;
    BrovanaEngine *e = NeedLoaded(interp, argv[2]);
    if (!e) return TCL_ERROR;
    AttachContext(e);
    e->idleAnimate();
    e->show();
    return TCL_OK;
}

struct Method {
    const char *name;
    Tcl_CmdProc *proc;
};
const Method kMethods[] = {
    {"load", LoadCmd},
    {"reload", ReloadCmd},
    {"setViewport", SetViewportCmd},
    {"displayMode", DisplayModeCmd},
    {"reset", ResetCmd},
    {"show", ShowCmd},
    {"embed", EmbedCmd},
    {"add", AddCmd},
    {"prep", PrepCmd},
    {"getvars", GetvarsCmd},
    {"showFrame", ShowFrameCmd},
    {"setPerspective", SetPerspectiveCmd},
    {"viewpoint", ViewpointCmd},
    {"alpha", AlphaCmd},
    {"parameters", ParametersCmd},
    {"eyeblink", SwitchCmd<&BrovanaEngine::setEyeblink>},
    {"headrotate", HeadrotateCmd},
    {"pupil", SwitchCmd<&BrovanaEngine::setPupil>},
    {"expression", SwitchCmd<&BrovanaEngine::setExpression>},
    {"setframerate", SetFrameRateCmd},
    {"idleanimate", IdleAnimateCmd},
};

}  // namespace

extern "C" {

int Brovana_Init(Tcl_Interp *interp) {
    int code = Tcl_PkgProvide(interp, "Brovana", "1.2.0");
    if (code != TCL_OK) return code;
    if (!Tcl_PkgRequire(interp, "O", "1.0", 0)) return TCL_ERROR;
    Oo_Create(interp, "Brovana", nullptr, nullptr);
    if (Tcl_VarEval(interp, "package unknown", (char *)nullptr) != TCL_OK) return TCL_ERROR;
    // A package-index builder answers "dummy": the class is all it needs.
    if (strcmp(Tcl_GetStringResult(interp), "dummy") == 0) return TCL_OK;
    if (!Tcl_PkgRequire(interp, "OpenGL", "2.0", 0)) return TCL_ERROR;
    Oo_SetIsa(interp, "Brovana", "OpenGL");
    for (const Method &m : kMethods) Oo_CreateMethod(interp, "Brovana", m.name, m.proc, nullptr, nullptr);
    code = Obj_Init(interp);
    if (code != TCL_OK) return code;
    Tcl_ResetResult(interp);
    return TCL_OK;
}

int Brovana_SafeInit(Tcl_Interp *interp) { return Brovana_Init(interp); }

}  // extern "C"
