// Channels: opening and destroying, the play and record paths through the board's
// user I/O procedures, and the board's events as callback scripts.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "cmds.h"
#include "dialogic.h"
#include "msgwin.h"
#include "obj.h"
#include "wavefile.h"

namespace {

const char *const kChannelType = "dxxx/channel";

MsgWin *gComms = nullptr;
// DxxxHandles: device handle -> channel. Taken before a channel's own lock, never after.
std::mutex gHandlesLock;
std::unordered_map<int, DxxxChannel *> gHandles;

// The channel of a device with its lock held, or null (errno EBADF).
DxxxChannel *LockedChannel(int device, std::unique_lock<std::mutex> *g) {
    std::lock_guard<std::mutex> t(gHandlesLock);
    auto it = gHandles.find(device);
    if (it == gHandles.end()) {
        errno = EBADF;
        return nullptr;
    }
    *g = std::unique_lock<std::mutex>(*it->second->lock);
    return it->second;
}

// The channel of a device on the interpreter's thread (no lock: only this thread
// changes the table).
DxxxChannel *FindChannel(int device) {
    std::lock_guard<std::mutex> t(gHandlesLock);
    auto it = gHandles.find(device);
    return it == gHandles.end() ? nullptr : it->second;
}

void Append(DxxxEntry **head, DxxxEntry **tail, WaveRecord *w) {
    DxxxEntry *e = (DxxxEntry *)DXXX_ALLOC(sizeof(DxxxEntry));
    e->next = nullptr;
    e->wave = w;
    if (*tail) (*tail)->next = e;
    else *head = e;
    *tail = e;
}

WaveRecord *Pop(DxxxEntry **head, DxxxEntry **tail) {
    DxxxEntry *e = *head;
    if (!e) return nullptr;
    *head = e->next;
    if (!*head) *tail = nullptr;
    WaveRecord *w = e->wave;
    DXXX_FREE(e);
    return w;
}

void FreePlayBuffer(DxxxChannel *ch) {
    if (ch->playBuffer) DXXX_FREE(ch->playBuffer);
    ch->playBuffer = ch->cursor = nullptr;
    ch->remaining = 0;
}

void BackgroundError(Tcl_Interp *interp, const std::string &msg) {
    if (Tcl_InterpDeleted(interp)) return;
    Tcl_SetObjResult(interp, Tcl_NewStringObj(msg.c_str(), -1));
    Tcl_BackgroundError(interp);
    Tcl_ResetResult(interp);
}

void WriteStderr(Tcl_Interp *interp, const char *text) {
    Tcl_Channel err = Tcl_GetStdChannel(TCL_STDERR);
    if (err) {
        Tcl_WriteChars(err, text, -1);
        Tcl_Flush(err);
    }
}

// Evaluates an event script at global level; an error becomes a background error and
// whatever command the event loop interrupted keeps its result.
void Eval(Tcl_Interp *interp, const std::string &script) {
    if (Tcl_InterpDeleted(interp)) return;
    Tcl_Preserve(interp);
    Tcl_InterpState st = Tcl_SaveInterpState(interp, TCL_OK);
    if (Tcl_EvalEx(interp, script.c_str(), -1, TCL_EVAL_GLOBAL) != TCL_OK) Tcl_BackgroundError(interp);
    Tcl_RestoreInterpState(interp, st);
    Tcl_Release(interp);
}

// ---- the board's threads ----

// DxxxPlayRead: the next n bytes of mu-law for the board.
int PlayRead(int device, char *buffer, unsigned n) {
    std::unique_lock<std::mutex> g;
    DxxxChannel *ch = LockedChannel(device, &g);
    if (!ch) return -1;
    if (ch->endOfData) return 0;
    WaveRecord *copy = nullptr;
    if (ch->continuous) {
        copy = Wave_New((int32_t)n, (float)ch->rate);
        Append(&ch->cplayQueue, &ch->cplayTail, copy);
    }
    unsigned i = 0;
    bool marked = false;
    for (;;) {
        while (ch->remaining > 0 && i < n) {
            int16_t s = *ch->cursor++;
            ch->remaining--;
            if (copy) copy->samples[i] = s;
            buffer[i++] = (char)linear2ulaw(s);
        }
        if (i == n && ch->remaining > 0) break;
        FreePlayBuffer(ch);
        // The current wave is used up: the next one, announcing the marks on the way.
        WaveRecord *next = nullptr;
        bool found = false;
        while (ch->playQueue) {
            WaveRecord *w = Pop(&ch->playQueue, &ch->playTail);
            if (!w) {
                ch->markPositions->push_back((int32_t)i);
                marked = true;
                continue;
            }
            next = w;
            found = true;
            break;
        }
        if (!found) {
            if (!ch->continuous) {
                ch->endOfData = i != n;
                if (marked) Tcl_AsyncMark(ch->asyncToken);
                return (int)i;
            }
            for (unsigned k = i; k < n; k++) buffer[k] = (char)linear2ulaw(0);
            break;
        }
        ch->playBuffer = next->samples;
        ch->cursor = next->samples;
        ch->remaining = next->len;
        next->samples = nullptr;
        Wave_Free(next);
        if (i == n) break;
    }
    if (marked) Tcl_AsyncMark(ch->asyncToken);
    if (ch->continuous) MsgWin_Post(gComms, DXXX_MSG_CPLAY, (uintptr_t)device, 0);
    return (int)n;
}

// DxxxRecordWrite: a block recorded by the board.
int RecordWrite(int device, const char *buffer, unsigned n) {
    std::unique_lock<std::mutex> g;
    DxxxChannel *ch = LockedChannel(device, &g);
    if (!ch) return -1;
    if (!ch->callback) return (int)n;
    WaveRecord *w = Wave_New((int32_t)n, (float)ch->rate);
    for (unsigned k = 0; k < n; k++) w->samples[k] = (int16_t)ulaw2linear((unsigned char)buffer[k]);
    Append(&ch->recordQueue, &ch->recordTail, w);
    MsgWin_Post(gComms, DXXX_MSG_RECORD, (uintptr_t)device, 0);
    return (int)n;
}

long Seek(int device, long offset, int whence) { return offset; }

// ---- the interpreter's thread ----

// DxxxAsyncMark: announces the marks the player met, each at its own offset.
int AsyncMark(ClientData cd, Tcl_Interp *, int code) {
    DxxxChannel *ch = (DxxxChannel *)cd;
    Tcl_Interp *interp = ch->interp;
    std::deque<int32_t> marks;
    {
        std::lock_guard<std::mutex> g(*ch->lock);
        marks.swap(*ch->markPositions);
    }
    if (!ch->callback || Tcl_InterpDeleted(interp)) return code;
    Tcl_InterpState st = Tcl_SaveInterpState(interp, code);
    for (int32_t pos : marks) {
        std::string s = "after " + std::to_string((pos + 1536) / 8) + " {" + ch->callback + " mark " +
                        std::to_string(pos) + " }";
        Tcl_EvalEx(interp, s.c_str(), -1, TCL_EVAL_GLOBAL);
    }
    Tcl_RestoreInterpState(interp, st);
    return code;
}

// Hands a queued block to the script as a "wave" that lives for the script only.
void DeliverWave(DxxxChannel *ch, DxxxEntry **head, DxxxEntry **tail, const char *word, const char *empty) {
    WaveRecord *w;
    {
        std::lock_guard<std::mutex> g(*ch->lock);
        w = Pop(head, tail);
    }
    Tcl_Interp *interp = ch->interp;
    if (!w) {
        BackgroundError(interp, empty);
        return;
    }
    if (!ch->callback) {
        Wave_Free(w);
        return;
    }
    if (Obj_Create(interp, "wave", w) != TCL_OK) {
        Wave_Free(w);
        Tcl_BackgroundError(interp);
        return;
    }
    std::string name(Tcl_GetStringResult(interp), 0, 128);
    Tcl_ResetResult(interp);
    std::string cb = ch->callback;
    Eval(interp, cb + " " + word + " " + name);
    Obj_Destroy(interp, name.c_str());
    Tcl_ResetResult(interp);
}

const struct {
    const char *name;
    long bit;
} kTermNames[] = {{"maxdtmf", 0x1},   {"maxsil", 0x2}, {"maxnosil", 0x4},  {"lcoff", 0x8},
                  {"iddtime", 0x10},  {"maxtime", 0x20}, {"digit", 0x40},  {"pattern", 0x80},
                  {"usrstop", 0x100}, {"eod", 0x200},  {"tone", 0x2000},   {"error", 0x80000}};

// Takes one board event and runs its script in the channel's interpreter.
void HandleEvent() {
    if (VB_WaitEvent(0) < 0) return;
    long type = VB_EventType();
    int device = VB_EventDevice();
    DxxxChannel *ch = FindChannel(device);
    if (!ch) return;
    Tcl_Interp *interp = ch->interp;
    std::string cb = ch->callback ? ch->callback : "";
    switch (type) {
    case VB_EV_PLAY: {
        if (!ch->callback) return;
        long mask = VB_TermMask(device);
        Tcl_Obj *list = Tcl_NewListObj(0, nullptr);
        Tcl_IncrRefCount(list);
        if (mask == -1) Tcl_ListObjAppendElement(nullptr, list, Tcl_NewStringObj("ATDX_TERMMSK failed", -1));
        for (auto &t : kTermNames)
            if (mask & t.bit) Tcl_ListObjAppendElement(nullptr, list, Tcl_NewStringObj(t.name, -1));
        std::string script = cb + " play_done " + Tcl_GetString(list);
        Tcl_DecrRefCount(list);
        Eval(interp, script);
        return;
    }
    case VB_EV_RECORD:
        if (ch->callback) Eval(interp, cb + " record_done");
        return;
    case VB_EV_GETDIGIT:
    case 136:
    case 137:
    case 138:
    case 238:
        WriteStderr(interp, "Event not handled\n");
        return;
    case VB_EV_DIAL:
        if (ch->callback) Eval(interp, cb + " dtmf_done");
        return;
    case VB_EV_CALLP: {
        if (!ch->callback) return;
        std::string word;
        switch (VB_CpaResult(device)) {
        case VB_CR_BUSY: word = "busy"; break;
        case VB_CR_NOANS: word = "no_answer"; break;
        case VB_CR_NORB: word = "no_ringback"; break;
        case VB_CR_CNCT: {
            word = "connect";
            static const char *const kTypes[] = {"", " cadence", " current", " voice", " machine"};
            int t = VB_ConnType(device);
            if (t >= 1 && t <= 4) word += kTypes[t];
            break;
        }
        case VB_CR_CEPT: word = "intercept"; break;
        case 17: word = "no_dialtone"; break;
        case VB_CR_FAXTONE: word = "fax"; break;
        case VB_CR_ERROR: word = "error"; break;
        default: word = "stopped"; break;
        }
        Eval(interp, cb + " call " + word);
        return;
    }
    case VB_EV_CST: {
        if (!ch->callback || VB_EventLength() < (int)sizeof(VBCst)) return;
        VBCst cst;
        memcpy(&cst, VB_EventData(), sizeof cst);
        std::string v10 = std::to_string(cst.value * 10);
        std::string words;
        switch (cst.type) {
        case 1: words = " ring"; break;
        case 2: words = " silence_on " + v10; break;
        case 3: words = " silence_off " + v10; break;
        case 4: words = " lc_on " + v10; break;
        case 5: words = " lc_off " + v10; break;
        case 6: words = " wink"; break;
        case 7: words = " ring_stopped"; break;
        case 8: {
            // A digit that the parser would take apart is passed as one word.
            char d = (char)(cst.value & 0xFF);
            words = std::string(" dtmf ") + (strchr("#*", d) ? std::string("{") + d + "}" : std::string(1, d));
            break;
        }
        case 13: words = " lc_reverse " + v10; break;
        case 17: words = " tone_on " + std::to_string(cst.value); break;
        case 18: words = " tone_off " + std::to_string(cst.value); break;
        default:
            BackgroundError(interp, "unknown CST event type: " + std::to_string(cst.type) + "\n");
            return;
        }
        Eval(interp, cb + words);
        return;
    }
    case VB_EV_SETHOOK: {
        int32_t v = -1;
        if (VB_EventLength() >= (int)sizeof v) memcpy(&v, VB_EventData(), sizeof v);
        if (v != 0 && v != 1) {
            BackgroundError(interp, "unknown SETHOOK event type: " + std::to_string(v) + "\n");
            return;
        }
        if (ch->callback) Eval(interp, cb + (v ? " offhook" : " onhook"));
        return;
    }
    default:
        WriteStderr(interp, "Unknown event type\n");
        return;
    }
}

intptr_t WndProc(MsgWin *win, unsigned message, uintptr_t p0, uintptr_t p1) {
    if (message == DXXX_MSG_EVENT) {
        HandleEvent();
        return 0;
    }
    if (message == DXXX_MSG_RECORD || message == DXXX_MSG_CPLAY) {
        DxxxChannel *ch = FindChannel((int)p0);
        if (!ch) return 0;
        if (message == DXXX_MSG_RECORD)
            DeliverWave(ch, &ch->recordQueue, &ch->recordTail, "wave", "DXXX_RECORD with empty wave queue");
        else
            DeliverWave(ch, &ch->cplayQueue, &ch->cplayTail, "cplay", "DXXX_CPLAY with empty wave queue");
        return 0;
    }
    return MsgWin_DefaultProc(win, message, p0, p1);
}

void FreeChannel(void *rec) {
    DxxxChannel *ch = (DxxxChannel *)rec;
    if (!ch) return;
    Dxxx_FreeQueue(&ch->playQueue, &ch->playTail);
    Dxxx_FreeQueue(&ch->recordQueue, &ch->recordTail);
    Dxxx_FreeQueue(&ch->cplayQueue, &ch->cplayTail);
    FreePlayBuffer(ch);
    if (ch->callback) DXXX_FREE(ch->callback);
    delete ch->markPositions;
    delete ch->lock;
    DXXX_FREE(ch);
}

const CntrType kChannelCntr = {kChannelType, nullptr, nullptr, FreeChannel, nullptr, nullptr, nullptr, nullptr};

// Destroying a channel: the device stops, hangs up and closes, so that no board thread
// can reach the record after this.
void Nuke(ObjEntry *entry) {
    DxxxChannel *ch = (DxxxChannel *)entry->data;
    if (!ch) return;
    VB_Stop(ch->device, 0);
    VB_SetHook(ch->device, 0, 0);
    if (ch->device >= 0) VB_Close(ch->device);
    {
        std::lock_guard<std::mutex> t(gHandlesLock);
        auto it = gHandles.find(ch->device);
        if (it != gHandles.end() && it->second == ch) gHandles.erase(it);
    }
    if (ch->asyncToken) Tcl_AsyncDelete(ch->asyncToken);
    ch->asyncToken = nullptr;
    std::lock_guard<std::mutex> g(*ch->lock);
    Dxxx_FreeQueue(&ch->playQueue, &ch->playTail);
    Dxxx_FreeQueue(&ch->recordQueue, &ch->recordTail);
    Dxxx_FreeQueue(&ch->cplayQueue, &ch->cplayTail);
    ch->markPositions->clear();
}

void ExitHandler(ClientData) {
    // Channels still open at exit are stopped and closed, so that no board thread
    // calls into the package while the process ends.
    std::vector<int> devices;
    {
        std::lock_guard<std::mutex> t(gHandlesLock);
        for (auto &kv : gHandles) devices.push_back(kv.first);
    }
    for (int d : devices) {
        VB_Stop(d, 0);
        VB_SetHook(d, 0, 0);
        VB_Close(d);
    }
    {
        std::lock_guard<std::mutex> t(gHandlesLock);
        gHandles.clear();
    }
    VB_EnableWindow(nullptr, 0, 0);
    if (gComms) MsgWin_Destroy(gComms);
    gComms = nullptr;
}

}  // namespace

void Dxxx_FreeQueue(DxxxEntry **head, DxxxEntry **tail) {
    while (*head) {
        WaveRecord *w = Pop(head, tail);
        if (w) Wave_Free(w);
    }
}

DxxxChannel *Dxxx_Get(Tcl_Interp *interp, const char *name) {
    return (DxxxChannel *)Obj_GetData(interp, kChannelType, name);
}

int Dxxx_Error(Tcl_Interp *interp, int device, int reset) {
    if (reset) Tcl_ResetResult(interp);
    int code = VB_LastError(device);
    Tcl_AppendResult(interp, VB_Name(device), ": ", (char *)nullptr);
    if (code == 1 || code == 4) Tcl_AppendResult(interp, Tcl_PosixError(interp), (char *)nullptr);
    else Tcl_AppendResult(interp, VB_ErrorText(device), (char *)nullptr);
    return TCL_ERROR;
}

void Dxxx_RegisterTypes() { Cntr_RegisterType(&kChannelCntr); }

int Dxxx_Setup(Tcl_Interp *interp) {
    if (gComms) return TCL_OK;
    VB_SetUserIo(PlayRead, RecordWrite, Seek);
    VB_SetEventMode(5);
    int rc = MsgWin_Create("DialogicComms", WndProc, nullptr, &gComms);
    if (rc != MSGWIN_OK) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj(MsgWin_ErrorText(rc), -1));
        return TCL_ERROR;
    }
    Tcl_CreateExitHandler(ExitHandler, nullptr);
    VB_EnableWindow(gComms, DXXX_MSG_EVENT, 0);
    return TCL_OK;
}

// dxxx open device
// Opens a channel ("dxxxB1C1") in its start state; answers the new object's name.
int Dxxx_OpenCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "device %s", &name)) return TCL_ERROR;
    int device = VB_Open(name, 0);
    if (device < 0) {
        Tcl_AppendResult(interp, "could not open \"", name, "\": ", Tcl_PosixError(interp), (char *)nullptr);
        return TCL_ERROR;
    }
    // A handle the table still holds belongs to a live channel: refused before the new
    // object exists, so that nothing of the other channel is touched.
    if (FindChannel(device)) {
        VB_Close(device);
        Tcl_SetObjResult(interp, Tcl_NewStringObj("duplicate entry in DxxxHandles", -1));
        return TCL_ERROR;
    }
    DxxxChannel *ch = (DxxxChannel *)DXXX_ALLOC(sizeof(DxxxChannel));
    memset(ch, 0, sizeof *ch);
    ch->interp = interp;
    ch->device = device;
    ch->rate = 8000;
    ch->markPositions = new std::deque<int32_t>;
    ch->lock = new std::mutex;
    ch->ioTable = {VB_IO_USER, device, nullptr, 0, -1};
    VB_PrepTerm(&ch->termTable, 1);
    ch->termTable.condition = 4;
    ch->termTable.count = 1;
    ch->termTable.flags = 11;
    ch->asyncToken = Tcl_AsyncCreate(AsyncMark, ch);
    if (Obj_Create(interp, kChannelType, ch) != TCL_OK) {
        Tcl_AsyncDelete(ch->asyncToken);
        ch->asyncToken = nullptr;
        FreeChannel(ch);
        VB_Close(device);
        return TCL_ERROR;
    }
    std::string objName = Tcl_GetStringResult(interp);
    ObjEntry *entry = Obj_Get(interp, kChannelType, objName.c_str());
    entry->nukeProc = Nuke;
    Tcl_ResetResult(interp);
    if (Dxxx_SetDefaults(interp, ch) != TCL_OK) {
        // The object goes and its device closes with it.
        Tcl_Obj *msg = Tcl_GetObjResult(interp);
        Tcl_IncrRefCount(msg);
        Obj_Destroy(interp, objName.c_str());
        Tcl_SetObjResult(interp, msg);
        Tcl_DecrRefCount(msg);
        return TCL_ERROR;
    }
    {
        std::lock_guard<std::mutex> t(gHandlesLock);
        gHandles[device] = ch;
    }
    Tcl_SetObjResult(interp, Tcl_NewStringObj(objName.c_str(), -1));
    return TCL_OK;
}

// dxxx callback handle ?command?
// Sets the command prefix of the channel's event scripts, or removes it.
int Dxxx_CallbackCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr, *command = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "handle %s command ?s", &name, &command)) return TCL_ERROR;
    DxxxChannel *ch = Dxxx_Get(interp, name);
    if (!ch) return TCL_ERROR;
    char *copy = nullptr;
    if (command) {
        copy = (char *)DXXX_ALLOC(strlen(command) + 1);
        strcpy(copy, command);
    }
    char *old;
    {
        std::lock_guard<std::mutex> g(*ch->lock);
        old = ch->callback;
        ch->callback = copy;
    }
    if (old) DXXX_FREE(old);
    return TCL_OK;
}

// dxxx channels
// Answers the names of every voice channel of every board.
int Dxxx_ChannelsCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "")) return TCL_ERROR;
    int boards = VB_CountBoards("Voice");
    for (int b = 1; b <= boards; b++) {
        char bname[32];
        snprintf(bname, sizeof bname, "dxxxB%d", b);
        int bdev = VB_Open(bname, 0);
        if (bdev < 0) break;
        int count = VB_ChannelCount(bdev);
        for (int c = 1; c <= count; c++) {
            char cname[48];
            snprintf(cname, sizeof cname, "dxxxB%dC%d", b, c);
            int cdev = VB_Open(cname, 0);
            if (cdev < 0) break;
            Tcl_AppendElement(interp, cname);
            VB_Close(cdev);
        }
        VB_Close(bdev);
    }
    return TCL_OK;
}

// dxxx hookswitch handle ?onhook|offhook?
// Sets the hook (completion comes as an event), or answers where it is.
int Dxxx_HookswitchCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr, *state = nullptr;
    int given = 0;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "handle %s state !s", &name, &state, &given)) return TCL_ERROR;
    int value = 0;
    if (given) {
        if (strcmp(state, "offhook") == 0) value = 1;
        else if (strcmp(state, "onhook") == 0) value = 0;
        else {
            Tcl_AppendResult(interp, "Invalid state \"", state, "\": should be onhook or offhook", (char *)nullptr);
            return TCL_ERROR;
        }
    }
    DxxxChannel *ch = Dxxx_Get(interp, name);
    if (!ch) return TCL_ERROR;
    if (given) {
        VB_SetHook(ch->device, value, VB_ASYNC);
        return TCL_OK;
    }
    Tcl_SetResult(interp, (char *)(VB_HookState(ch->device) == 1 ? "offhook" : "onhook"), TCL_STATIC);
    return TCL_OK;
}

// dxxx state handle
// Answers what the channel is doing: idle, play, record, dial, call ...
int Dxxx_StateCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "handle %s", &name)) return TCL_ERROR;
    DxxxChannel *ch = Dxxx_Get(interp, name);
    if (!ch) return TCL_ERROR;
    const char *s;
    switch (VB_State(ch->device)) {
    case 1: s = "idle"; break;
    case 2: s = "play"; break;
    case 3: s = "record"; break;
    case 4: s = "dial"; break;
    case 5: s = "getdigit"; break;
    case 6: s = "tone"; break;
    case 7: s = "stopped"; break;
    case 11: s = "hook"; break;
    case 12: s = "wink"; break;
    case 13: s = "call"; break;
    default: s = "unknown"; break;
    }
    Tcl_SetResult(interp, (char *)s, TCL_STATIC);
    return TCL_OK;
}

// dxxx record handle ?-agc? ?-beep?
// Records from the line; blocks reach the callback as " wave NAME".
int Dxxx_RecordCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr;
    int agc = 0, beep = 0;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "handle %s -agc %n -beep %n", &name, &agc, &beep))
        return TCL_ERROR;
    DxxxChannel *ch = Dxxx_Get(interp, name);
    if (!ch) return TCL_ERROR;
    unsigned mode = 0x8100 | (agc ? 0 : VB_REC_NOAGC) | (beep ? VB_REC_BEEP : 0);
    if (VB_Record(ch->device, &ch->ioTable, &ch->termTable, mode) < 0) return Dxxx_Error(interp, ch->device, 1);
    return TCL_OK;
}

// dxxx play handle
// Plays the queue of waves and marks; " play_done" comes when it has run out.
int Dxxx_PlayCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "handle %s", &name)) return TCL_ERROR;
    DxxxChannel *ch = Dxxx_Get(interp, name);
    if (!ch) return TCL_ERROR;
    {
        // A play that ran dry before leaves the flag set: a new play starts afresh.
        std::lock_guard<std::mutex> g(*ch->lock);
        ch->endOfData = 0;
    }
    if (VB_Play(ch->device, &ch->ioTable, &ch->termTable, 0x8100) < 0) return Dxxx_Error(interp, ch->device, 1);
    return TCL_OK;
}

// dxxx cplay handle ?0|1?
// Continuous play on or off, or whether it is on.
int Dxxx_CplayCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr;
    int value = 0, given = 0;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "handle %s state !i", &name, &value, &given)) return TCL_ERROR;
    DxxxChannel *ch = Dxxx_Get(interp, name);
    if (!ch) return TCL_ERROR;
    std::lock_guard<std::mutex> g(*ch->lock);
    if (given) ch->continuous = value;
    else Tcl_SetResult(interp, (char *)(ch->continuous ? "1" : "0"), TCL_STATIC);
    return TCL_OK;
}

// dxxx write handle wave|eof
// Queues a wave for playing (the object is taken over and goes), or a mark.
int Dxxx_WriteCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr, *wave = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "handle %s wave %s", &name, &wave)) return TCL_ERROR;
    DxxxChannel *ch = Dxxx_Get(interp, name);
    if (!ch) return TCL_ERROR;
    WaveRecord *w = nullptr;
    if (strcmp(wave, "eof") != 0) {
        ObjEntry *e = Obj_Get(interp, "wave", wave);
        if (!e) return TCL_ERROR;
        w = (WaveRecord *)e->data;
        e->data = nullptr;
        Obj_Destroy(interp, wave);
        Tcl_ResetResult(interp);
    }
    std::lock_guard<std::mutex> g(*ch->lock);
    Append(&ch->playQueue, &ch->playTail, w);
    return TCL_OK;
}

// dxxx flush handle ?-play? ?-record? ?-cplay?
// Empties the named queues (all three when none is named).
int Dxxx_FlushCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr;
    int play = 0, record = 0, cplay = 0;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "handle %s -play %n -record %n -cplay %n", &name, &play, &record,
                       &cplay))
        return TCL_ERROR;
    DxxxChannel *ch = Dxxx_Get(interp, name);
    if (!ch) return TCL_ERROR;
    if (!play && !record && !cplay) play = record = cplay = 1;
    std::lock_guard<std::mutex> g(*ch->lock);
    if (play) {
        Dxxx_FreeQueue(&ch->playQueue, &ch->playTail);
        FreePlayBuffer(ch);
    }
    if (record) Dxxx_FreeQueue(&ch->recordQueue, &ch->recordTail);
    if (cplay) Dxxx_FreeQueue(&ch->cplayQueue, &ch->cplayTail);
    return TCL_OK;
}

// dxxx queue handle
// 1 while anything waits to be played, else 0.
int Dxxx_QueueCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "handle %s", &name)) return TCL_ERROR;
    DxxxChannel *ch = Dxxx_Get(interp, name);
    if (!ch) return TCL_ERROR;
    std::lock_guard<std::mutex> g(*ch->lock);
    Tcl_SetResult(interp, (char *)(ch->playBuffer || ch->playQueue ? "1" : "0"), TCL_STATIC);
    return TCL_OK;
}

// dxxx stop handle ?-sync?
// Stops whatever the channel does; its completion event follows.
int Dxxx_StopCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr;
    int sync = 0;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "handle %s -sync %n", &name, &sync)) return TCL_ERROR;
    DxxxChannel *ch = Dxxx_Get(interp, name);
    if (!ch) return TCL_ERROR;
    if (VB_Stop(ch->device, sync ? 0 : VB_ASYNC) < 0) return Dxxx_Error(interp, ch->device, 1);
    std::lock_guard<std::mutex> g(*ch->lock);
    ch->endOfData = 0;
    return TCL_OK;
}
