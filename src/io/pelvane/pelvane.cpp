// The Pelvane package: the Winaudio class of sound devices and their mixers.
//
// Winaudio outdevs | indevs                          device lists
// Winaudio outopen | inopen devid rate channels ?cmd? device objects
// Winaudio write | event | pause | restart | volume  playing
// Winaudio start | stop                              recording
// Winaudio reset | duplex | post                     both directions, the window
// Winaudio mixer | mixerSwitch | mixerSelect | mixerVolume   the recording mixer
// TapiLine                                           telephone lines (tapiline.cpp)
#include <tcl.h>

#include <cstring>

#include "obj.h"
#include "oo.h"
#include "winaudio.h"

namespace {

struct Method {
    const char *name;
    Tcl_CmdProc *proc;
};

const Method kMethods[] = {
    {"post", Winaudio_PostCmd},
    {"outdevs", Winaudio_OutdevsCmd},
    {"outopen", Winaudio_OutopenCmd},
    {"write", Winaudio_WriteCmd},
    {"pause", Winaudio_PauseCmd},
    {"restart", Winaudio_RestartCmd},
    {"volume", Winaudio_VolumeCmd},
    {"event", Winaudio_EventCmd},
    {"indevs", Winaudio_IndevsCmd},
    {"inopen", Winaudio_InopenCmd},
    {"start", Winaudio_StartCmd},
    {"stop", Winaudio_StopCmd},
    {"reset", Winaudio_ResetCmd},
    {"duplex", Winaudio_DuplexCmd},
    {"mixer", Winaudio_MixerCmd},
    {"mixerSwitch", Winaudio_MixerSwitchCmd},
    {"mixerSelect", Winaudio_MixerSelectCmd},
    {"mixerVolume", Winaudio_MixerVolumeCmd},
};

}  // namespace

extern "C" {

static int Init(Tcl_Interp *interp, int safe) {
    int code = Tcl_PkgProvide(interp, "Pelvane", "1.0");
    if (code != TCL_OK) return code;
    Winaudio_RegisterTypes();
    Tapi_RegisterTypes();
    Oo_Create(interp, "Winaudio", nullptr, nullptr);
    if (Tcl_Eval(interp, "package unknown") == TCL_OK && strcmp(Tcl_GetStringResult(interp), "dummy") == 0) {
        Tcl_ResetResult(interp);
        return TCL_OK;
    }
    Tcl_ResetResult(interp);
    if (!Tcl_PkgRequire(interp, "Thing", "1.0", 0)) return TCL_ERROR;
    Oo_SetIsa(interp, "Winaudio", "Thing");
    for (const Method &m : kMethods) Oo_CreateMethod(interp, "Winaudio", m.name, m.proc, nullptr, nullptr);
    Tapi_Init(interp, safe);
    code = Obj_Init(interp);
    if (code != TCL_OK) return code;
    return Winaudio_Setup(interp);
}

int Pelvane_Init(Tcl_Interp *interp) { return Init(interp, 0); }

int Pelvane_SafeInit(Tcl_Interp *interp) { return Init(interp, 1); }

}  // extern "C"
