// Signalling on a channel: its start state, dialling with and without call-progress
// analysis, play gain, tone templates, the ring count and caller identification.
#include <cmath>
#include <cstring>
#include <string>

#include "cmds.h"
#include "dialogic.h"

namespace {

signed char gGainTable[21];
bool gGainReady = false;
VBCpaBlock gCpa;

// Appends the device's name and error text without resetting the result.
int AppendError(Tcl_Interp *interp, int device) { return Dxxx_Error(interp, device, 0); }

DxxxChannel *Channel(Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "handle %s", &name)) return nullptr;
    return Dxxx_Get(interp, name);
}

int CheckEdge(Tcl_Interp *interp, const char *mode) {
    if (strcmp(mode, "leading") == 0 || strcmp(mode, "trailing") == 0) return TCL_OK;
    Tcl_AppendResult(interp, "wrong edge mode value \"", mode, "\", should be: leading or trailing", (char *)nullptr);
    return TCL_ERROR;
}

int Built(Tcl_Interp *interp, int rc, const char *what) {
    if (rc != -1) return TCL_OK;
    Tcl_AppendResult(interp, "could not build ", what, " template", (char *)nullptr);
    return TCL_ERROR;
}

}  // namespace

int Dxxx_SetDefaults(Tcl_Interp *interp, DxxxChannel *ch) {
    if (!gGainReady) {
        for (int i = 0; i < 10; i++) gGainTable[i] = (signed char)(-30 + 3 * i);
        gGainTable[10] = 0;
        for (int i = 1; i <= 10; i++) gGainTable[10 + i] = (signed char)i;
        gGainReady = true;
    }
    int d = ch->device;
    {
        std::lock_guard<std::mutex> g(*ch->lock);
        ch->endOfData = 0;
    }
    if (VB_Stop(d, 0) == -1 || VB_SetHook(d, 0, 0) == -1 || VB_ClearDigits(d) == -1 || VB_DeleteTones(d) == -1 ||
        VB_ResetChannel(d) == -1 || VB_LoadGainTable(d, 2, gGainTable, 0) == -1 ||
        VB_SetParm(d, VB_PARM_PLAYRATE, 8000) == -1 || VB_SetParm(d, VB_PARM_RECRATE, 8000) == -1 ||
        VB_SetParm(d, VB_PARM_RINGCOUNT, 2) == -1)
        return AppendError(interp, d);
    VB_SetParm(d, VB_PARM_TONEPASS, 1);
    if (VB_SetGain(d, 2, 0, 0) == -1 || VB_SetEventMask(d, 209) == -1 ||
        VB_BuildDualToneCadence(101, 480, 5, 620, 5, 25, 6, 25, 6, 2) == -1 || VB_AddTone(d, 0, 0) == -1)
        return AppendError(interp, d);
    return TCL_OK;
}

// dxxx dtmf handle dialstring
// Dials touch tones; " dtmf_done" follows.
int Dxxx_DtmfCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr, *digits = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "handle %s dialstring %s", &name, &digits)) return TCL_ERROR;
    DxxxChannel *ch = Dxxx_Get(interp, name);
    if (!ch) return TCL_ERROR;
    if (VB_Dial(ch->device, digits, nullptr, VB_ASYNC) < 0) return Dxxx_Error(interp, ch->device, 1);
    return TCL_OK;
}

// dxxx call handle dialstring
// Dials and analyses the answer; " call RESULT" follows (busy, connect voice ...).
int Dxxx_CallCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr, *digits = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "handle %s dialstring %s", &name, &digits)) return TCL_ERROR;
    DxxxChannel *ch = Dxxx_Get(interp, name);
    if (!ch) return TCL_ERROR;
    VB_CpaDefaults(&gCpa);
    gCpa.bytes[42] = 8;
    gCpa.bytes[43] = 0;
    gCpa.bytes[106] = 1;
    if (VB_Dial(ch->device, digits, &gCpa, VB_ASYNC | VB_DIAL_CPA) < 0) return Dxxx_Error(interp, ch->device, 1);
    return TCL_OK;
}

// dxxx playgain handle ?dB?
// Sets the play gain (-30..10 dB, in the table's steps); answers the step in use.
int Dxxx_PlaygainCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr;
    int db = 0, given = 0;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "handle %s dB !i", &name, &db, &given)) return TCL_ERROR;
    DxxxChannel *ch = Dxxx_Get(interp, name);
    if (!ch) return TCL_ERROR;
    if (given) {
        double v = db < -30 ? -30 : db > 10 ? 10 : db;
        int step = v >= 0 ? (int)(v + 0.5) : (int)(v / 3 - 0.5);
        if (VB_SetGain(ch->device, 2, 0, step) < 0) return Dxxx_Error(interp, ch->device, 1);
    }
    int now = VB_GetGain(ch->device);
    if (now < -10) return Dxxx_Error(interp, ch->device, 1);
    Tcl_SetObjResult(interp, Tcl_NewIntObj(now));
    return TCL_OK;
}

// dxxx bldst tid f1 f1dev leading|trailing
// Builds a single-tone template (frequencies in Hz).
int Dxxx_BldstCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    int tid, f1, f1dev;
    const char *mode;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "tid %i f1 %i f1dev %i mode %s", &tid, &f1, &f1dev, &mode))
        return TCL_ERROR;
    if (CheckEdge(interp, mode) != TCL_OK) return TCL_ERROR;
    return Built(interp, VB_BuildSingleTone(tid, f1, f1dev, mode), "single tone");
}

// dxxx blddt tid f1 f1dev f2 f2dev leading|trailing
// Builds a dual-tone template.
int Dxxx_BlddtCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    int tid, f1, f1dev, f2, f2dev;
    const char *mode;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "tid %i f1 %i f1dev %i f2 %i f2dev %i mode %s", &tid, &f1, &f1dev,
                       &f2, &f2dev, &mode))
        return TCL_ERROR;
    if (CheckEdge(interp, mode) != TCL_OK) return TCL_ERROR;
    return Built(interp, VB_BuildDualTone(tid, f1, f1dev, f2, f2dev, mode), "dual tone");
}

// dxxx bldstcad tid f1 f1dev ontime ontimedev offtime offtimedev repcount
// Builds a single-tone template with a cadence (times in 10 ms units).
int Dxxx_BldstcadCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    int v[8];
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2,
                       "tid %i f1 %i f1dev %i ontime %i ontimedev %i offtime %i offtimedev %i repcount %i", &v[0],
                       &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7]))
        return TCL_ERROR;
    return Built(interp, VB_BuildSingleToneCadence(v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]),
                 "single tone cadence");
}

// dxxx blddtcad tid f1 f1dev f2 f2dev ontime ontimedev offtime offtimedev repcount
// Builds a dual-tone template with a cadence.
int Dxxx_BlddtcadCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    int v[10];
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2,
                       "tid %i f1 %i f1dev %i f2 %i f2dev %i ontime %i ontimedev %i offtime %i offtimedev %i "
                       "repcount %i",
                       &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7], &v[8], &v[9]))
        return TCL_ERROR;
    return Built(interp, VB_BuildDualToneCadence(v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9]),
                 "dual tone cadence");
}

// dxxx addtone handle
// Adds the template built last; " tone_on ID" and " tone_off ID" follow.
int Dxxx_AddtoneCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    DxxxChannel *ch = Channel(interp, argc, argv);
    if (!ch) return TCL_ERROR;
    if (VB_AddTone(ch->device, 0, 0) == -1) return Dxxx_Error(interp, ch->device, 1);
    return TCL_OK;
}

// dxxx deltones handle
// Removes every template from the channel.
int Dxxx_DeltonesCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    DxxxChannel *ch = Channel(interp, argc, argv);
    if (!ch) return TCL_ERROR;
    if (VB_DeleteTones(ch->device) == -1) return Dxxx_Error(interp, ch->device, 1);
    return TCL_OK;
}

// dxxx rings handle ?count?
// Sets the rings that make a " ring" event, and answers the count in force.
int Dxxx_RingsCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr;
    int value = 0, given = 0;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "handle %s value !i", &name, &value, &given)) return TCL_ERROR;
    DxxxChannel *ch = Dxxx_Get(interp, name);
    if (!ch) return TCL_ERROR;
    long now = 0;
    if ((given && VB_SetParm(ch->device, VB_PARM_RINGCOUNT, value) == -1) ||
        VB_GetParm(ch->device, VB_PARM_RINGCOUNT, &now) == -1)
        return AppendError(interp, ch->device);
    Tcl_SetObjResult(interp, Tcl_NewIntObj((int)(now & 0xFFFF)));
    return TCL_OK;
}

// dxxx callid handle
// Answers the caller identification of the offered call: CallerID and the number or
// a reason word, then the fields of a multi-field frame.
int Dxxx_CallidCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    DxxxChannel *ch = Channel(interp, argc, argv);
    if (!ch) return TCL_ERROR;
    int d = ch->device;
    char buf[300];
    Tcl_Obj *list = Tcl_NewListObj(0, nullptr);
    Tcl_IncrRefCount(list);
    // A failed read answers its reason word, or fails with the library's text.
    auto add = [&](int rc) {
        if (rc != -1) {
            Tcl_ListObjAppendElement(nullptr, list, Tcl_NewStringObj(buf, -1));
            return true;
        }
        const char *why = nullptr;
        switch (VB_LastError(d)) {
        case VB_ERR_CID_NOTSENT: why = "notsent"; break;
        case VB_ERR_CID_BLOCKED: why = "blocked"; break;
        case VB_ERR_CID_OUTOFAREA: why = "outofarea"; break;
        }
        if (!why) {
            Tcl_SetObjResult(interp, Tcl_NewStringObj(VB_ErrorText(d), -1));
            return false;
        }
        Tcl_ListObjAppendElement(nullptr, list, Tcl_NewStringObj(why, -1));
        return true;
    };
    Tcl_ListObjAppendElement(nullptr, list, Tcl_NewStringObj("CallerID", -1));
    bool ok = add(VB_CallerId(d, buf));
    if (ok && VB_CallerIdField(d, 259, buf) != -1 && (unsigned char)buf[0] == 0x80) {
        static const struct {
            const char *key;
            int field;
        } kFields[] = {{"Date/Time", 1}, {"CallerName", 7},    {"DialedNumber", 3},
                       {"CallingLineDN", 2}, {"Redirect", 5}, {"Qualifier", 6}};
        for (auto &f : kFields) {
            Tcl_ListObjAppendElement(nullptr, list, Tcl_NewStringObj(f.key, -1));
            int rc = VB_CallerIdField(d, f.field, buf);
            if (rc != -1 && f.field == 5) {
                if (buf[0] == '0') strcpy(buf, "universal");
                else if (buf[0] == '1') strcpy(buf, "busy");
                else if (buf[0] == '2') strcpy(buf, "unanswered");
            }
            if (rc != -1 && f.field == 6) strcpy(buf, buf[0] == 'L' ? "longdistance" : "local");
            if (!(ok = add(rc))) break;
        }
    }
    if (ok) Tcl_SetObjResult(interp, list);
    Tcl_DecrRefCount(list);
    return ok ? TCL_OK : TCL_ERROR;
}
