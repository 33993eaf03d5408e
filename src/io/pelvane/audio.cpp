// Winaudio: sound devices as "winaudio/out" and "winaudio/in" objects. Every device
// notification comes to the "AudioComms" window, which runs on the interpreter's thread.
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "cmds.h"
#include "obj.h"
#include "records.h"
#include "utils.h"
#include "wavefile.h"
#include "winaudio.h"

namespace {

const char *const kOutType = "winaudio/out";
const char *const kInType = "winaudio/in";

MsgWin *gComms = nullptr;
std::unordered_map<WaveOut *, WinaudioOut *> gOutHandles;   // WinaudioOutHandles
std::unordered_map<WaveIn *, WinaudioIn *> gInHandles;      // WinaudioInHandles
// Every buffer handed to a device and not yet freed (true: an input buffer), and every
// posted script not yet run. At exit the device layer still hands the buffers back, but
// to a window that is gone: these tables are how they get freed then.
std::unordered_map<WaveHeader *, bool> gBuffers;
std::unordered_set<WinaudioEvent *> gPosted;

void SetError(Tcl_Interp *interp, const std::string &msg) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj(msg.c_str(), -1));
}

void BackgroundError(Tcl_Interp *interp, const std::string &msg) {
    if (!interp || Tcl_InterpDeleted(interp)) return;
    SetError(interp, msg);
    Tcl_BackgroundError(interp);
    Tcl_ResetResult(interp);
}

// Evaluates a script at global level, its error a background error, unless the script
// deleted its own interpreter: that has no error handler left to report to.
void EvalReporting(Tcl_Interp *interp, const char *script) {
    if (Tcl_EvalEx(interp, script, -1, TCL_EVAL_GLOBAL) != TCL_OK && !Tcl_InterpDeleted(interp))
        Tcl_BackgroundError(interp);
}

// Evaluates a script from the event loop: at global level, errors as background
// errors, and the result of whatever command is waiting in the loop left alone.
void EvalFromLoop(Tcl_Interp *interp, const char *script) {
    if (!interp || Tcl_InterpDeleted(interp)) return;
    Tcl_Preserve(interp);
    Tcl_InterpState st = Tcl_SaveInterpState(interp, TCL_OK);
    EvalReporting(interp, script);
    Tcl_RestoreInterpState(interp, st);
    Tcl_Release(interp);
}

WinaudioEvent *NewEvent(Tcl_Interp *interp, const char *script, int32_t rate, int32_t format, int32_t buffer) {
    WinaudioEvent *e = (WinaudioEvent *)AUDIO_ALLOC(sizeof(WinaudioEvent));
    e->next = nullptr;
    e->interp = interp;
    e->script = Winaudio_StrDup(script);
    e->rate = rate;
    e->format = format;
    e->buffer = buffer;
    return e;
}

void BackgroundWaveError(Tcl_Interp *interp, int code) {
    char text[256];
    WaveDev_ErrorText(code, text, sizeof text);
    BackgroundError(interp, text);
}

// A zeroed device header for data (bytes long) carrying the caller's word user.
WaveHeader *NewHeader(char *data, size_t bytes, uintptr_t user) {
    WaveHeader *hdr = (WaveHeader *)AUDIO_ALLOC(sizeof(WaveHeader));
    memset(hdr, 0, sizeof *hdr);
    hdr->data = data;
    hdr->bufferLength = (uint32_t)bytes;
    hdr->user = user;
    return hdr;
}

void FreeEvent(WinaudioEvent *e) {
    AUDIO_FREE(e->script);
    AUDIO_FREE(e);
}

void FreeOutBuffer(WaveHeader *hdr) {
    gBuffers.erase(hdr);
    AUDIO_FREE(hdr->data);
    AUDIO_FREE(hdr);
}

// At exit an interpreter whose deletion waits on us stays as it is: releasing it would
// tear it down from inside the exit handler, its device objects naming closed devices.
void ReleaseInterp(Tcl_Interp *interp, bool exiting) {
    if (!exiting || !Tcl_InterpDeleted(interp)) Tcl_Release(interp);
}

// An input buffer carries its record, which holds its interpreter preserved.
void FreeInBuffer(WaveHeader *hdr, bool exiting = false) {
    WinaudioRecordBuffer *rb = (WinaudioRecordBuffer *)hdr->user;
    gBuffers.erase(hdr);
    ReleaseInterp(rb->interp, exiting);
    AUDIO_FREE(rb->command);
    AUDIO_FREE(rb);
    AUDIO_FREE(hdr->data);
    AUDIO_FREE(hdr);
}

// A destroyed object whose device still returns buffers lives on, detached from the
// registry. Its interpreter is preserved until then; when the interpreter itself is
// going, the record forgets it and its close script, and nothing of it runs any more.
template <class Rec>
void DetachRecord(Rec *rec, char *Rec::*command) {
    if (!Tcl_InterpDeleted(rec->interp)) {
        Tcl_Preserve(rec->interp);
        return;
    }
    AUDIO_FREE(rec->*command);
    rec->*command = nullptr;
    rec->interp = nullptr;
}

template <class Rec>
void ReleaseDetached(Rec *rec) {
    if (rec->destroyed && rec->interp) Tcl_Release(rec->interp);
}

void FreeOut(WinaudioOut *o) {
    AUDIO_FREE(o->doneCommand);
    while (WinaudioEvent *e = o->events) {
        o->events = e->next;
        FreeEvent(e);
    }
    ReleaseDetached(o);
    AUDIO_FREE(o);
}

void FreeIn(WinaudioIn *in) {
    AUDIO_FREE(in->closeCommand);
    Winaudio_FreeMixer(in);
    ReleaseDetached(in);
    AUDIO_FREE(in);
}

void FormatFor(WaveFormat *f, int format, int channels, int rate) {
    WaveDev_MakeFormat(f, format == WA_FORMAT_MULAW ? WAVE_FORMAT_MULAW : WAVE_FORMAT_PCM, channels, rate);
}

std::unordered_map<WaveOut *, WinaudioOut *> &Handles(WaveOut *) { return gOutHandles; }
std::unordered_map<WaveIn *, WinaudioIn *> &Handles(WaveIn *) { return gInHandles; }

// Opens the object's device unless it is open, and files its handle in table. The
// device opens in the object's format; an undecided format tries 16-bit first, then
// mu-law, and keeps what opened.
template <class H, class Rec>
int OpenDevice(Tcl_Interp *interp, Rec *rec, int (*open)(H **, unsigned, const WaveFormat *, MsgWin *),
               const char *table) {
    if (rec->handle) return WAVE_OK;
    H *h = nullptr;
    auto tryOpen = [&](int format) {
        WaveFormat f;
        FormatFor(&f, format, rec->channels, rec->rate);
        int code = open(&h, (unsigned)rec->deviceId, &f, gComms);
        if (code == WAVE_OK) rec->format = format;
        return code;
    };
    int code;
    if (rec->format != WA_FORMAT_UNDECIDED) code = tryOpen(rec->format);
    else if ((code = tryOpen(WA_FORMAT_PCM)) != WAVE_OK) code = tryOpen(WA_FORMAT_MULAW);
    if (code != WAVE_OK) {
        if (interp) Winaudio_SetWaveError(interp, code);
        return code;
    }
    rec->handle = h;
    auto &handles = Handles(h);
    if (!handles.emplace(h, rec).second) {
        BackgroundError(rec->interp, std::string("dup entry in ") + table);
        handles[h] = rec;
    }
    return WAVE_OK;
}

int WinaudioOutOpen(Tcl_Interp *interp, WinaudioOut *o) {
    return OpenDevice(interp, o, WaveOut_Open, "WinaudioOutHandles");
}

int WinaudioInOpen(Tcl_Interp *interp, WinaudioIn *in) {
    if (in->handle) return WAVE_OK;
    int code = OpenDevice(interp, in, WaveIn_Open, "WinaudioInHandles");
    if (code != WAVE_OK) return code;
    if (in->mixerPending) {
        in->mixerPending = 0;
        Winaudio_ReadMixer(in);
    }
    return WAVE_OK;
}

// The interpreter of a posted script is preserved until the script has run.
void PostScript(Tcl_Interp *interp, unsigned msg, const char *script, int32_t rate, int32_t format) {
    WinaudioEvent *e = NewEvent(interp, script, rate, format, 0);
    Tcl_Preserve(interp);
    int rc = MsgWin_Post(gComms, msg, 0, (uintptr_t)e);
    if (rc == MSGWIN_OK) {
        gPosted.insert(e);
        return;
    }
    BackgroundError(interp, MsgWin_ErrorText(rc));
    Tcl_Release(interp);
    FreeEvent(e);
}

// Closes an output device; refused (non-zero) while buffers are still on their way,
// including those whose completion message has not been handled yet.
int WinaudioOutClose(WaveOut *h) {
    auto it = gOutHandles.find(h);
    if (it != gOutHandles.end() && it->second->queued > 0) return WAVE_ERR_STILLPLAYING;
    int code = WaveOut_Close(h);
    if (code != WAVE_OK) return code;
    if (it == gOutHandles.end()) return WAVE_OK;
    WinaudioOut *o = it->second;
    o->handle = nullptr;
    if (o->doneCommand) PostScript(o->interp, WA_MSG_OUT_SCRIPT, o->doneCommand, o->rate, o->format);
    gOutHandles.erase(it);
    if (o->destroyed) FreeOut(o);
    return WAVE_OK;
}

int WinaudioInClose(WaveIn *h) {
    auto it = gInHandles.find(h);
    if (it != gInHandles.end() && it->second->inDevice > 0) return WAVE_ERR_STILLPLAYING;
    int code = WaveIn_Close(h);
    if (code != WAVE_OK) return code;
    if (it == gInHandles.end()) return WAVE_OK;
    WinaudioIn *in = it->second;
    in->handle = nullptr;
    if (in->closeCommand) PostScript(in->interp, WA_MSG_IN_SCRIPT, in->closeCommand, in->rate, in->format);
    gInHandles.erase(it);
    if (in->destroyed) FreeIn(in);
    return WAVE_OK;
}

// Schedules, through `after`, every waiting script whose buffer number is at most n.
void WinaudioRunEvents(WinaudioOut *o, int32_t n) {
    while (o->events && o->events->buffer <= n) {
        WinaudioEvent *e = o->events;
        o->events = e->next;
        if (!Tcl_InterpDeleted(e->interp)) {
            Tcl_Obj *cmd = Tcl_NewListObj(0, nullptr);
            Tcl_ListObjAppendElement(nullptr, cmd, Tcl_NewStringObj("after", -1));
            Tcl_ListObjAppendElement(nullptr, cmd, Tcl_NewIntObj(1));
            Tcl_ListObjAppendElement(nullptr, cmd, Tcl_NewStringObj(e->script, -1));
            Tcl_IncrRefCount(cmd);
            Tcl_InterpState st = Tcl_SaveInterpState(e->interp, TCL_OK);
            Tcl_EvalObjEx(e->interp, cmd, TCL_EVAL_GLOBAL);
            Tcl_RestoreInterpState(e->interp, st);
            Tcl_DecrRefCount(cmd);
        }
        FreeEvent(e);
    }
}

void OutBufferDone(WaveOut *h, WaveHeader *hdr) {
    auto it = gOutHandles.find(h);
    WinaudioOut *o = it == gOutHandles.end() ? nullptr : it->second;
    int code = WaveOut_Unprepare(h, hdr);
    if (code != WAVE_OK && o) BackgroundError(o->interp, sspf(0, "waveOutUnprepareHeader: code %i", code));
    if (o) {
        o->queued--;
        int32_t number = (int32_t)hdr->user;
        WinaudioRunEvents(o, number);
        if (number == o->count) WinaudioOutClose(h);
    }
    FreeOutBuffer(hdr);
}

void InBufferFull(WaveIn *h, WaveHeader *hdr) {
    auto it = gInHandles.find(h);
    WinaudioIn *in = it == gInHandles.end() ? nullptr : it->second;
    WinaudioRecordBuffer *rb = (WinaudioRecordBuffer *)hdr->user;
    uint64_t serial = in ? in->serial : 0;
    if (in) in->inDevice--;
    int code = WaveIn_Unprepare(h, hdr);
    if (code != WAVE_OK) BackgroundError(rb->interp, sspf(0, "waveInUnprepareHeader: code %i", code));
    uint32_t b = hdr->bytesRecorded;
    int c = rb->channels;
    Tcl_Interp *interp = rb->interp;
    if (b > 0 && !Tcl_InterpDeleted(interp)) {
        std::string names[WA_MAX_CHANNELS];
        int32_t len = rb->format == WA_FORMAT_MULAW ? (int32_t)(b / c) : (int32_t)((b / c) / 2);
        const unsigned char *bytes = (const unsigned char *)hdr->data;
        Tcl_Preserve(interp);
        Tcl_InterpState st = Tcl_SaveInterpState(interp, TCL_OK);
        for (int i = 0; i < c && i < WA_MAX_CHANNELS; i++) {
            int16_t *samples = (int16_t *)AUDIO_ALLOC(len > 0 ? (size_t)len * sizeof(int16_t) : 1);
            for (int32_t j = 0; j < len; j++) {
                if (rb->format == WA_FORMAT_MULAW) samples[j] = (int16_t)ulaw2linear(bytes[j * c + i]);
                else memcpy(&samples[j], bytes + 2 * ((size_t)j * c + i), 2);
            }
            const float info[2] = {(float)rb->rate, 0.0f};   // rate, linear 16-bit
            WaveRecord *w = nullptr;
            if (createWave(interp, len, 2, info, samples, &w) != 0) {
                if (!Tcl_InterpDeleted(interp)) Tcl_BackgroundError(interp);
                continue;
            }
            names[i] = std::string(Tcl_GetStringResult(interp)).substr(0, 256);
        }
        Tcl_ResetResult(interp);
        std::string script = std::string(rb->command) + " " + names[0] + " " + names[1] + " " + names[2] + " " +
                             names[3];
        EvalReporting(interp, script.c_str());
        // The waves live only while the script runs; one it destroyed itself is gone already.
        for (const std::string &n : names)
            if (!n.empty() && Obj_Get(interp, nullptr, n.c_str())) Obj_Destroy(interp, n.c_str());
        Tcl_RestoreInterpState(interp, st);
        Tcl_Release(interp);
        // The script may have destroyed the object, closing and freeing it, and opened
        // another device in its place (at the same addresses, even): look again.
        it = gInHandles.find(h);
        in = it != gInHandles.end() && it->second->serial == serial ? it->second : nullptr;
    }
    // A recording whose interpreter is gone ends: the device hands back every buffer at
    // once, and once they are all back the interpreter can go.
    if (in && in->recording && in->handle == h && Tcl_InterpDeleted(rb->interp)) {
        in->recording = 0;
        WaveIn_Reset(h);
    }
    // A buffer of a recording that `stop` ended stays out, also when a new one has begun.
    if (in && in->recording && rb->session == in->session && in->handle == h) {
        hdr->bytesRecorded = 0;
        hdr->flags = 0;
        code = WaveIn_Prepare(h, hdr);
        if (code == WAVE_OK) code = WaveIn_AddBuffer(h, hdr);
        if (code == WAVE_OK) {
            in->inDevice++;
            return;
        }
        BackgroundWaveError(rb->interp, code);
        WaveIn_Unprepare(h, hdr);
    }
    if (in && in->inDevice == 0) WinaudioInClose(h);
    FreeInBuffer(hdr);
}

void RunPostedScript(WinaudioEvent *e) {
    gPosted.erase(e);
    EvalFromLoop(e->interp, e->script);
    Tcl_Release(e->interp);
    FreeEvent(e);
}

intptr_t WinaudioWndProc(MsgWin *win, unsigned msg, uintptr_t p0, uintptr_t p1) {
    switch (msg) {
    case WAVE_MSG_OUT_OPEN:
    case WAVE_MSG_OUT_CLOSE:
    case WAVE_MSG_IN_OPEN:
    case WAVE_MSG_IN_CLOSE:
        return 0;
    case WAVE_MSG_OUT_DONE:
    case WAVE_MSG_IN_DATA: {
        // Handled in a second step, so that no buffer work happens inside the notification.
        bool out = msg == WAVE_MSG_OUT_DONE;
        int rc = MsgWin_Post(win, out ? WA_MSG_OUT_DONE : WA_MSG_IN_DATA, p0, p1);
        if (rc != MSGWIN_OK) {
            Tcl_Interp *interp = nullptr;
            if (out && gOutHandles.count((WaveOut *)p0)) interp = gOutHandles[(WaveOut *)p0]->interp;
            if (!out && gInHandles.count((WaveIn *)p0)) interp = gInHandles[(WaveIn *)p0]->interp;
            BackgroundError(interp, MsgWin_ErrorText(rc));
        }
        return 0;
    }
    case WA_MSG_OUT_DONE:
        OutBufferDone((WaveOut *)p0, (WaveHeader *)p1);
        return 0;
    case WA_MSG_OUT_SCRIPT:
    case WA_MSG_IN_SCRIPT:
        RunPostedScript((WinaudioEvent *)p1);
        return 0;
    case WA_MSG_IN_DATA:
        InBufferFull((WaveIn *)p0, (WaveHeader *)p1);
        return 0;
    default:
        return MsgWin_DefaultProc(win, msg, p0, p1);
    }
}

// ---- object types ----

void OutFree(void *rec) { FreeOut((WinaudioOut *)rec); }
void InFree(void *rec) { FreeIn((WinaudioIn *)rec); }

const CntrType kOutCntr = {kOutType, nullptr, nullptr, OutFree, nullptr, nullptr, nullptr, nullptr};
const CntrType kInCntr = {kInType, nullptr, nullptr, InFree, nullptr, nullptr, nullptr, nullptr};

// Destroying an output object resets its device; while buffers come back the record
// lives on, detached from the registry, and the last close frees it.
void OutNuke(ObjEntry *entry) {
    WinaudioOut *o = (WinaudioOut *)entry->data;
    if (!o || !o->handle) return;   // closed: the registry frees it by type
    o->destroyed = 1;
    int code = WaveOut_Reset(o->handle);
    if (code != WAVE_OK) BackgroundWaveError(o->interp, code);
    DetachRecord(o, &WinaudioOut::doneCommand);
    if (!o->interp) {   // its waiting scripts will never run
        while (WinaudioEvent *e = o->events) {
            o->events = e->next;
            FreeEvent(e);
        }
    }
    entry->data = nullptr;
    WinaudioOutClose(o->handle);   // frees the record at once when nothing is queued
}

void InNuke(ObjEntry *entry) {
    WinaudioIn *in = (WinaudioIn *)entry->data;
    if (!in || !in->handle) return;
    in->recording = 0;
    in->destroyed = 1;
    WaveIn_Reset(in->handle);
    DetachRecord(in, &WinaudioIn::closeCommand);
    entry->data = nullptr;
    WinaudioInClose(in->handle);
}

WinaudioOut *GetOut(Tcl_Interp *interp, const char *name) {
    return (WinaudioOut *)Obj_GetData(interp, kOutType, name);
}

bool CheckShape(Tcl_Interp *interp, int rate, int channels) {
    if (channels < 1 || channels > WA_MAX_CHANNELS) {
        SetError(interp, sspf(0, "channel count %d out of range: should be 1 to %d", channels, WA_MAX_CHANNELS));
        return false;
    }
    if (rate < 1) {
        SetError(interp, sspf(0, "sample rate %d out of range: should be positive", rate));
        return false;
    }
    return true;
}

Tcl_Obj *DeviceList(bool output) {
    Tcl_Obj *list = Tcl_NewListObj(0, nullptr);
    unsigned n = output ? WaveOut_GetNumDevs() : WaveIn_GetNumDevs();
    for (unsigned id = 0; id < n; id++) {
        WaveCaps c;
        if ((output ? WaveOut_GetDevCaps(id, &c) : WaveIn_GetDevCaps(id, &c)) != WAVE_OK) continue;
        Tcl_Obj *d = Tcl_NewListObj(0, nullptr);
        auto add = [d](const char *k, Tcl_Obj *v) {
            Tcl_ListObjAppendElement(nullptr, d, Tcl_NewStringObj(k, -1));
            Tcl_ListObjAppendElement(nullptr, d, v);
        };
        add("devid", Tcl_NewIntObj((int)id));
        add("mid", Tcl_NewIntObj((int)c.mid));
        add("pid", Tcl_NewIntObj((int)c.pid));
        add("version", Tcl_NewStringObj(sspf(0, "%d.%d", c.driverVersion / 256, c.driverVersion & 0xFF), -1));
        add("name", Tcl_NewStringObj(c.name, -1));
        add("channels", Tcl_NewIntObj((int)c.channels));
        Tcl_Obj *formats = Tcl_NewListObj(0, nullptr);
        for (int b = 0; b < WAVE_STDFORMAT_COUNT; b++)
            if (c.formats & (1u << b))
                Tcl_ListObjAppendElement(nullptr, formats, Tcl_NewStringObj(WaveDev_StdFormatName(b), -1));
        add("formats", formats);
        if (output) {
            static const struct { uint32_t flag; const char *name; } kSupport[] = {
                {WAVE_SUPPORT_LRVOLUME, "lrvolume"}, {WAVE_SUPPORT_PLAYBACKRATE, "rate"},
                {WAVE_SUPPORT_PITCH, "pitch"},       {WAVE_SUPPORT_SYNC, "sync"},
                {WAVE_SUPPORT_VOLUME, "volume"},     {WAVE_SUPPORT_SAMPLEACCURATE, "sampleaccurate"}};
            Tcl_Obj *support = Tcl_NewListObj(0, nullptr);
            for (const auto &s : kSupport)
                if (c.support & s.flag) Tcl_ListObjAppendElement(nullptr, support, Tcl_NewStringObj(s.name, -1));
            add("support", support);
        }
        Tcl_ListObjAppendElement(nullptr, list, d);
    }
    return list;
}

void ExitHandler(ClientData) {
    // Devices still open are reset and closed so that no device thread outlives the
    // process's Tcl; what they post then goes nowhere.
    WaveDev_Shutdown();
    if (gComms) MsgWin_Destroy(gComms);
    gComms = nullptr;
    // The devices are closed and their threads joined: nothing else holds these now.
    while (!gBuffers.empty()) {
        auto it = gBuffers.begin();
        if (it->second) FreeInBuffer(it->first, true);
        else FreeOutBuffer(it->first);
    }
    for (WinaudioEvent *e : gPosted) {
        ReleaseInterp(e->interp, true);
        FreeEvent(e);
    }
    gPosted.clear();
}

}  // namespace

char *Winaudio_StrDup(const char *s) {
    if (!s) return nullptr;
    size_t n = strlen(s) + 1;
    char *d = (char *)AUDIO_ALLOC(n);
    memcpy(d, s, n);
    return d;
}

void Winaudio_SetWaveError(Tcl_Interp *interp, int code) {
    char text[256];
    WaveDev_ErrorText(code, text, sizeof text);
    SetError(interp, text);
}

WinaudioIn *Winaudio_GetIn(Tcl_Interp *interp, const char *name) {
    return (WinaudioIn *)Obj_GetData(interp, kInType, name);
}

void Winaudio_RegisterTypes() {
    Cntr_RegisterType(&kOutCntr);
    Cntr_RegisterType(&kInCntr);
}

int Winaudio_Setup(Tcl_Interp *interp) {
    if (gComms) return TCL_OK;
    int rc = MsgWin_Create("AudioComms", WinaudioWndProc, nullptr, &gComms);
    if (rc != MSGWIN_OK) {
        SetError(interp, MsgWin_ErrorText(rc));
        return TCL_ERROR;
    }
    Tcl_CreateExitHandler(ExitHandler, nullptr);
    return TCL_OK;
}

// Winaudio post message p0 p1
// Posts a message to "AudioComms". The device notifications and the private messages
// carry record addresses, so scripts may not post those.
int Winaudio_PostCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    int message = 0, p0 = 0, p1 = 0;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "message %i p0 %i p1 %i", &message, &p0, &p1)) return TCL_ERROR;
    if (message == WAVE_MSG_OUT_DONE || message == WAVE_MSG_IN_DATA ||
        (message >= WA_MSG_OUT_DONE && message <= WA_MSG_IN_SCRIPT)) {
        SetError(interp, sspf(0, "message %d is the device layer's own and cannot be posted", message));
        return TCL_ERROR;
    }
    int rc = MsgWin_Post(gComms, (unsigned)message, (uintptr_t)(intptr_t)p0, (uintptr_t)(intptr_t)p1);
    if (rc != MSGWIN_OK) {
        SetError(interp, MsgWin_ErrorText(rc));
        return TCL_ERROR;
    }
    return TCL_OK;
}

// Winaudio outdevs
// Lists the output devices: {devid N mid N pid N version M.m name S channels N
// formats {...} support {...}} per device that answers.
int Winaudio_OutdevsCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "")) return TCL_ERROR;
    Tcl_SetObjResult(interp, DeviceList(true));
    return TCL_OK;
}

// Winaudio indevs
// The same for input devices (without "support").
int Winaudio_IndevsCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "")) return TCL_ERROR;
    Tcl_SetObjResult(interp, DeviceList(false));
    return TCL_OK;
}

namespace {

// What differs between the output and the input device objects.
template <class Rec, class H>
struct DeviceKind {
    const char *type;
    int (*open)(Tcl_Interp *, Rec *);
    int (*close)(H *);
    void (*release)(Rec *);
    void (*nuke)(ObjEntry *);
    char *Rec::*closeCommand;   // runs each time the device closes
    void (*init)(Rec *);        // settings of a new record before its first open, or null
};

const DeviceKind<WinaudioOut, WaveOut> kOutKind = {kOutType, WinaudioOutOpen, WinaudioOutClose, FreeOut, OutNuke,
                                                   &WinaudioOut::doneCommand, nullptr};
const DeviceKind<WinaudioIn, WaveIn> kInKind = {kInType, WinaudioInOpen, WinaudioInClose, FreeIn, InNuke,
                                                &WinaudioIn::closeCommand,
                                                [](WinaudioIn *in) { in->mixerPending = 1; }};

// Parses "devid rate channels ?command?", opens the device once to settle the format
// and makes the object; answers its name.
template <class Rec, class H>
int NewDeviceObject(const DeviceKind<Rec, H> &kind, Tcl_Interp *interp, int argc, const char *argv[]) {
    int devid = 0, rate = 0, channels = 0;
    const char *command = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "devid %i rate %i channels %i command ?s", &devid, &rate, &channels,
                       &command))
        return TCL_ERROR;
    if (!CheckShape(interp, rate, channels)) return TCL_ERROR;
    static uint64_t serials = 0;
    Rec *rec = (Rec *)AUDIO_ALLOC(sizeof(Rec));
    memset(rec, 0, sizeof *rec);
    rec->serial = ++serials;
    // Not preserved: the registry destroys the object when the interpreter goes.
    rec->interp = interp;
    rec->deviceId = devid;
    rec->rate = rate;
    rec->channels = channels;
    if (kind.init) kind.init(rec);
    if (devid < 0 || kind.open(interp, rec) != WAVE_OK) {
        if (devid < 0) Winaudio_SetWaveError(interp, WAVE_ERR_BADDEVICEID);
        kind.release(rec);
        return TCL_ERROR;
    }
    kind.close(rec->handle);
    if (Obj_Create(interp, kind.type, rec) != TCL_OK) {
        kind.release(rec);
        return TCL_ERROR;
    }
    ObjEntry *e = Obj_Get(interp, kind.type, Tcl_GetStringResult(interp));
    if (e) e->nukeProc = kind.nuke;
    rec->*kind.closeCommand = Winaudio_StrDup(command);
    return TCL_OK;
}

}  // namespace

// Winaudio outopen devid rate channels ?command?
// Makes a "winaudio/out" object for a device after opening it once to settle the
// format; command runs each time the device closes. Answers the object's name.
int Winaudio_OutopenCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    return NewDeviceObject(kOutKind, interp, argc, argv);
}

// Winaudio inopen devid rate channels ?command?
// As outopen, for a "winaudio/in" object; command runs each time the device closes.
int Winaudio_InopenCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    return NewDeviceObject(kInKind, interp, argc, argv);
}

// Winaudio write handle wave ?wave ...?
// Queues one buffer: one wave per channel, of one rate (the device's) and one length,
// interleaved in the device format. The device closes after its last buffer.
int Winaudio_WriteCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr;
    int nwaves = 0;
    const char **waves = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "handle %s wave %l", &name, &nwaves, &waves)) return TCL_ERROR;
    WinaudioOut *o = GetOut(interp, name);
    if (!o) return TCL_ERROR;
    if (nwaves != o->channels) {
        SetError(interp, sspf(0, "wrong # wave args: needs %d", o->channels));
        return TCL_ERROR;
    }
    WaveRecord *w[WA_MAX_CHANNELS];
    for (int i = 0; i < nwaves; i++) {
        w[i] = (WaveRecord *)Obj_GetData(interp, "wave", waves[i]);
        if (!w[i]) return TCL_ERROR;
        if (i > 0 && w[i]->info[0] != w[0]->info[0]) {
            SetError(interp, "wave sample rates must be the same");
            return TCL_ERROR;
        }
        if (i > 0 && w[i]->len != w[0]->len) {
            SetError(interp, "waves must be of the same length");
            return TCL_ERROR;
        }
    }
    // A wave of another rate would play at the wrong speed without a word.
    if (w[0]->info[0] != (float)o->rate) {
        char rate[32];
        SetError(interp, std::string("wave rate ") + Cmds_FloatString(w[0]->info[0], rate) +
                             " differs from the device rate " + std::to_string(o->rate));
        return TCL_ERROR;
    }
    if (WinaudioOutOpen(interp, o) != WAVE_OK) return TCL_ERROR;
    int32_t len = w[0]->len, c = o->channels;
    if (len == 0) return TCL_OK;
    bool mulaw = o->format == WA_FORMAT_MULAW;
    size_t bytes = (size_t)len * c * (mulaw ? 1 : 2);
    if (bytes > 0x7FFFFFFFu) {
        SetError(interp, "wave too long for one device buffer");
        return TCL_ERROR;
    }
    char *data = (char *)AUDIO_ALLOC(bytes);
    for (int i = 0; i < c; i++)
        for (int32_t j = 0; j < len; j++) {
            if (mulaw) data[(size_t)j * c + i] = (char)linear2ulaw(w[i]->samples[j]);
            else memcpy(data + 2 * ((size_t)j * c + i), &w[i]->samples[j], 2);
        }
    WaveHeader *hdr = NewHeader(data, bytes, (uintptr_t)(o->count + 1));
    int code = WaveOut_Prepare(o->handle, hdr);
    if (code == WAVE_OK) code = WaveOut_Write(o->handle, hdr);
    if (code != WAVE_OK) {
        WaveOut_Unprepare(o->handle, hdr);
        AUDIO_FREE(data);
        AUDIO_FREE(hdr);
        Winaudio_SetWaveError(interp, code);
        return TCL_ERROR;
    }
    gBuffers[hdr] = false;
    o->count++;
    o->queued++;
    return TCL_OK;
}

// Winaudio pause handle
// Holds the output device (opening it when closed).
int Winaudio_PauseCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "handle %s", &name)) return TCL_ERROR;
    WinaudioOut *o = GetOut(interp, name);
    if (!o) return TCL_ERROR;
    WinaudioOutOpen(nullptr, o);
    if (o->handle) WaveOut_Pause(o->handle);
    return TCL_OK;
}

// Winaudio restart handle
// Goes on after a pause; an idle device is closed.
int Winaudio_RestartCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "handle %s", &name)) return TCL_ERROR;
    WinaudioOut *o = GetOut(interp, name);
    if (!o) return TCL_ERROR;
    if (o->handle) {
        WaveOut_Restart(o->handle);
        WinaudioOutClose(o->handle);
    }
    return TCL_OK;
}

// Winaudio volume handle ?volume?
// Sets (0 to 1, the same for both channels) and answers the device's left volume.
int Winaudio_VolumeCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr;
    double value = 0;
    int given = 0;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "handle %s volume !d", &name, &value, &given)) return TCL_ERROR;
    WinaudioOut *o = GetOut(interp, name);
    if (!o) return TCL_ERROR;
    if (WinaudioOutOpen(interp, o) != WAVE_OK) return TCL_ERROR;
    if (given) {
        if (!(value >= 0.0 && value <= 1.0)) {
            WinaudioOutClose(o->handle);
            SetError(interp, "volume out of range: should be [0..1]");
            return TCL_ERROR;
        }
        uint32_t level = (uint32_t)(value * 65535.0);
        int code = WaveOut_SetVolume(o->handle, level * 65537u);
        if (code != WAVE_OK) {
            WinaudioOutClose(o->handle);
            Winaudio_SetWaveError(interp, code);
            return TCL_ERROR;
        }
    }
    uint32_t v = 0;
    int code = WaveOut_GetVolume(o->handle, &v);
    if (code != WAVE_OK) {
        WinaudioOutClose(o->handle);
        Winaudio_SetWaveError(interp, code);
        return TCL_ERROR;
    }
    Tcl_SetObjResult(interp, Tcl_NewDoubleObj((v & 0xFFFF) * (1.0 / 65535)));
    WinaudioOutClose(o->handle);
    return TCL_OK;
}

// Winaudio event handle script
// Runs script (through `after`) once the last buffer written so far has been heard;
// at once when the device is closed.
int Winaudio_EventCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr, *script = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "handle %s event %s", &name, &script)) return TCL_ERROR;
    WinaudioOut *o = GetOut(interp, name);
    if (!o) return TCL_ERROR;
    WinaudioEvent *e = NewEvent(o->interp, script, o->rate, o->format, o->count);
    WinaudioEvent **tail = &o->events;
    while (*tail) tail = &(*tail)->next;
    *tail = e;
    if (!o->handle) WinaudioRunEvents(o, o->count);
    Tcl_ResetResult(interp);
    return TCL_OK;
}

// Winaudio start handle command ?-blocksize ms? ?-buffers n?
// Records into n buffers of ms milliseconds (250 and 8 by default); each full buffer
// calls command with one fresh wave per channel, destroyed when it returns.
int Winaudio_StartCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr, *command = nullptr;
    int blocksize = 250, buffers = 8;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "handle %s command %s -blocksize %i -buffers %i", &name, &command,
                       &blocksize, &buffers))
        return TCL_ERROR;
    WinaudioIn *in = Winaudio_GetIn(interp, name);
    if (!in) return TCL_ERROR;
    long frames = (long)in->rate * blocksize / 1000;
    if (blocksize <= 0 || frames < 1) {
        SetError(interp, sspf(0, "blocksize %d ms holds no sample at %d Hz", blocksize, in->rate));
        return TCL_ERROR;
    }
    if ((double)frames * in->channels * 2 > 0x7FFFFFFF) {
        SetError(interp, sspf(0, "blocksize %d ms is too long for one device buffer", blocksize));
        return TCL_ERROR;
    }
    if (buffers < 1) {
        SetError(interp, sspf(0, "buffers %d out of range: should be at least 1", buffers));
        return TCL_ERROR;
    }
    if (WinaudioInOpen(interp, in) != WAVE_OK) return TCL_ERROR;
    // A block lasts blocksize milliseconds in either format.
    size_t bytes = (size_t)frames * in->channels * (in->format == WA_FORMAT_MULAW ? 1 : 2);
    for (int i = 0; i < buffers; i++) {
        WinaudioRecordBuffer *rb = (WinaudioRecordBuffer *)AUDIO_ALLOC(sizeof(WinaudioRecordBuffer));
        rb->interp = interp;
        Tcl_Preserve(interp);
        rb->command = Winaudio_StrDup(command);
        rb->rate = in->rate;
        rb->channels = in->channels;
        rb->format = in->format;
        rb->session = in->session;
        WaveHeader *hdr = NewHeader((char *)AUDIO_ALLOC(bytes), bytes, (uintptr_t)rb);
        int code = WaveIn_Prepare(in->handle, hdr);
        if (code == WAVE_OK) code = WaveIn_AddBuffer(in->handle, hdr);
        if (code != WAVE_OK) {
            WaveIn_Unprepare(in->handle, hdr);
            Tcl_Release(interp);
            AUDIO_FREE(rb->command);
            AUDIO_FREE(rb);
            AUDIO_FREE(hdr->data);
            AUDIO_FREE(hdr);
            Winaudio_SetWaveError(interp, code);
            return TCL_ERROR;
        }
        gBuffers[hdr] = true;
        in->inDevice++;
    }
    in->recording = 1;
    int code = WaveIn_Start(in->handle);
    if (code != WAVE_OK) {
        Winaudio_SetWaveError(interp, code);
        return TCL_ERROR;
    }
    return TCL_OK;
}

// Winaudio stop handle
// Ends recording: the buffer being filled comes to the command with what it holds,
// and the device closes when the last buffer is back.
int Winaudio_StopCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "handle %s", &name)) return TCL_ERROR;
    WinaudioIn *in = Winaudio_GetIn(interp, name);
    if (!in) return TCL_ERROR;
    in->recording = 0;
    in->session++;
    if (in->handle) {
        WaveIn_Stop(in->handle);
        WaveIn_Reset(in->handle);
    }
    return TCL_OK;
}

// Winaudio reset handle
// Returns every queued buffer of an output or input object at once.
int Winaudio_ResetCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "handle %s", &name)) return TCL_ERROR;
    if (WinaudioOut *o = GetOut(interp, name)) {
        if (o->handle) WaveOut_Reset(o->handle);
    } else {
        WinaudioIn *in = Winaudio_GetIn(interp, name);
        if (!in) return TCL_ERROR;
        if (in->handle) WaveIn_Reset(in->handle);
    }
    Tcl_ResetResult(interp);
    return TCL_OK;
}

// Winaudio duplex record play
// "full" when the input and the output device can be open together, else "half".
int Winaudio_DuplexCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *rname = nullptr, *pname = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "record %s play %s", &rname, &pname)) return TCL_ERROR;
    WinaudioIn *in = Winaudio_GetIn(interp, rname);
    if (!in) return TCL_ERROR;
    WinaudioOut *o = GetOut(interp, pname);
    if (!o) return TCL_ERROR;
    bool full = WinaudioInOpen(nullptr, in) == WAVE_OK && WinaudioOutOpen(nullptr, o) == WAVE_OK;
    if (in->handle) WinaudioInClose(in->handle);
    if (o->handle) WinaudioOutClose(o->handle);
    Tcl_SetObjResult(interp, Tcl_NewStringObj(full ? "full" : "half", -1));
    return TCL_OK;
}
