// The Dialogic package: voice-board channels as "dxxx/channel" objects of the class
// dxxx. Board events come to the "DialogicComms" window on the interpreter's thread
// and become callback scripts.
//
// dxxx open device | channels | callback handle ?command?      channels
// dxxx hookswitch | state | record | play | cplay | write | flush | queue | stop
// dxxx dtmf | call | playgain | rings | callid | addtone | deltones   signalling
// dxxx bldst | blddt | bldstcad | blddtcad                     tone templates
#include <tcl.h>

#include <cstring>

#include "dialogic.h"
#include "obj.h"
#include "oo.h"

namespace {

struct Method {
    const char *name;
    Tcl_CmdProc *proc;
};

const Method kMethods[] = {
    {"open", Dxxx_OpenCmd},         {"callback", Dxxx_CallbackCmd}, {"channels", Dxxx_ChannelsCmd},
    {"hookswitch", Dxxx_HookswitchCmd}, {"state", Dxxx_StateCmd},   {"record", Dxxx_RecordCmd},
    {"play", Dxxx_PlayCmd},         {"cplay", Dxxx_CplayCmd},       {"write", Dxxx_WriteCmd},
    {"flush", Dxxx_FlushCmd},       {"queue", Dxxx_QueueCmd},       {"stop", Dxxx_StopCmd},
    {"dtmf", Dxxx_DtmfCmd},         {"call", Dxxx_CallCmd},         {"playgain", Dxxx_PlaygainCmd},
    {"bldst", Dxxx_BldstCmd},       {"blddt", Dxxx_BlddtCmd},       {"bldstcad", Dxxx_BldstcadCmd},
    {"blddtcad", Dxxx_BlddtcadCmd}, {"addtone", Dxxx_AddtoneCmd},   {"deltones", Dxxx_DeltonesCmd},
    {"rings", Dxxx_RingsCmd},       {"callid", Dxxx_CallidCmd},
};

}  // namespace

extern "C" {

int Dialogic_Init(Tcl_Interp *interp) {
    int code = Tcl_PkgProvide(interp, "Dialogic", "1.0");
    if (code != TCL_OK) return code;
    Dxxx_RegisterTypes();
    Oo_Create(interp, "dxxx", nullptr, nullptr);
    if (Tcl_EvalEx(interp, "package unknown", -1, TCL_EVAL_GLOBAL) == TCL_OK &&
        strcmp(Tcl_GetStringResult(interp), "dummy") == 0) {
        Tcl_ResetResult(interp);
        return TCL_OK;
    }
    Tcl_ResetResult(interp);
    if (!Tcl_PkgRequire(interp, "Thing", "1.0", 0)) return TCL_ERROR;
    Oo_SetIsa(interp, "dxxx", "Thing");
    for (const Method &m : kMethods) Oo_CreateMethod(interp, "dxxx", m.name, m.proc, nullptr, nullptr);
    code = Obj_Init(interp);
    if (code != TCL_OK) return code;
    return Dxxx_Setup(interp);
}

int Dialogic_SafeInit(Tcl_Interp *interp) { return Dialogic_Init(interp); }

}  // extern "C"
