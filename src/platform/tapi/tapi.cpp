// The line layer: the "none" provider, and the virtual provider with two lines whose
// far ends tests steer (see tapi.h).
#include "tapi.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "msgwin.h"
#include "pcm_backend.h"
#include "teledsp.h"
#include "wavefile.h"

using namespace teledsp;

namespace {

const int kLines = 2;
const int kTick = 160;               // samples per 20 ms tick
const size_t kOutHold = 800;         // 100 ms of sound ahead of the far end
const size_t kInKeep = 2 * kRate;    // what a recording device has not read yet is cut at 2 s
const uint32_t kApiVersion = 0x00010004;

bool Virtual() {
    const char *v = getenv("TOVIK_TELEPHONY");
    return v && strcmp(v, "virtual") == 0;
}

struct Message {
    HLINE line;
    uint32_t device, message;
    uintptr_t instance, p1, p2, p3;
};

struct App {
    HLINEAPP id;
    LINECALLBACK callback;
    std::string name;
    MsgWin *window = nullptr;
    std::deque<Message> pending;
};

struct Call {
    HCALL id;
    int line;
    uint32_t state = LINECALLSTATE_OFFERING, mode = LINEOFFERINGMODE_ACTIVE;
    uint32_t statesSeen = LINECALLSTATE_OFFERING;
    uint32_t monitorModes = 0;
    uint32_t callerFlags = LINECALLPARTYID_UNAVAIL;
    std::string callerNumber, callerName;
    std::deque<int16_t> farSend;
    std::vector<int16_t> heard;
    std::deque<int16_t> generate;   // touch tones being generated
    bool generating = false;
    bool deallocated = false;   // kept only for the far end's look at its sound
    DtmfDetector dtmf;
};

struct Line {
    HLINEAPP app = 0;   // 0: closed
    HLINE handle = 0;
    uintptr_t instance = 0;
    HCALL current = 0;  // the call whose sound the line carries
    // the line's sound devices
    std::deque<int16_t> out, in;
    bool outOpen = false, outPaused = false, inOpen = false, inRunning = false;
};

struct State {
    std::mutex lock;
    uint32_t nextId = 1;
    std::map<HLINEAPP, std::unique_ptr<App>> apps;
    std::map<HCALL, std::unique_ptr<Call>> calls;
    Line lines[kLines];
    bool workerStarted = false;
};

State &S() {
    static State *s = new State;   // never destroyed: the worker may run at exit
    return *s;
}

int32_t Err(uint32_t code) { return (int32_t)code; }

App *FindApp(HLINEAPP id) {
    auto it = S().apps.find(id);
    return it == S().apps.end() ? nullptr : it->second.get();
}

int LineOf(HLINE h) {
    for (int i = 0; i < kLines; i++)
        if (h && S().lines[i].app && S().lines[i].handle == h) return i;
    return -1;
}

Call *FindCall(HCALL h) {
    auto it = S().calls.find(h);
    return it == S().calls.end() ? nullptr : it->second.get();
}

intptr_t AppWindowProc(MsgWin *win, unsigned, uintptr_t p0, uintptr_t) {
    HLINEAPP id = (HLINEAPP)p0;
    for (;;) {
        Message m;
        LINECALLBACK cb;
        {
            std::lock_guard<std::mutex> g(S().lock);
            App *a = FindApp(id);
            if (!a || a->pending.empty()) return 0;
            m = a->pending.front();
            a->pending.pop_front();
            cb = a->callback;
            // A line closed after the message was queued gets nothing more.
            int l = LineOf(m.line);
            if (l < 0 || S().lines[l].app != id || S().lines[l].instance != m.instance) continue;
        }
        cb(m.device, m.message, m.instance, m.p1, m.p2, m.p3);
    }
}

// Queues a callback for the application of a line (caller holds the lock).
void Notify(int line, uint32_t device, uint32_t message, uintptr_t p1, uintptr_t p2, uintptr_t p3) {
    Line &l = S().lines[line];
    App *a = FindApp(l.app);
    if (!a) return;
    a->pending.push_back({l.handle, device, message, l.instance, p1, p2, p3});
    MsgWin_Post(a->window, 1, a->id, 0);
}

void SetState(Call *c, uint32_t state, uint32_t mode) {
    c->state = state;
    c->mode = mode;
    c->statesSeen |= state;
    Notify(c->line, c->id, LINE_CALLSTATE, state, mode, LINECALLPRIVILEGE_OWNER);
}

void EndGeneration(Call *c, uint32_t how) {
    if (!c->generating) return;
    c->generating = false;
    c->generate.clear();
    Notify(c->line, c->id, LINE_GENERATE, how, 0, 0);
}

void Tick() {
    State &s = S();
    std::lock_guard<std::mutex> g(s.lock);
    for (int i = 0; i < kLines; i++) {
        Line &l = s.lines[i];
        int16_t out[kTick] = {0}, in[kTick] = {0};
        for (int k = 0; k < kTick && !l.outPaused && !l.out.empty(); k++) {
            out[k] = l.out.front();
            l.out.pop_front();
        }
        Call *c = FindCall(l.current);
        bool connected = c && c->state == LINECALLSTATE_CONNECTED && l.app;
        if (c && c->generating) {
            for (int k = 0; k < kTick && !c->generate.empty(); k++) {
                int v = out[k] + c->generate.front();
                c->generate.pop_front();
                out[k] = (int16_t)(v > 32767 ? 32767 : v < -32768 ? -32768 : v);
            }
            if (c->generate.empty()) EndGeneration(c, LINEGENERATETERM_DONE);
        }
        if (connected) {
            c->heard.insert(c->heard.end(), out, out + kTick);
            for (int k = 0; k < kTick && !c->farSend.empty(); k++) {
                in[k] = c->farSend.front();
                c->farSend.pop_front();
            }
            if (c->monitorModes & (LINEDIGITMODE_DTMF | LINEDIGITMODE_DTMFEND))
                c->dtmf.Feed(in, kTick, [&](char d, bool on, long long) {
                    uint32_t mode = on ? LINEDIGITMODE_DTMF : LINEDIGITMODE_DTMFEND;
                    if (c->monitorModes & mode) Notify(i, c->id, LINE_MONITORDIGITS, (unsigned char)d, mode, 0);
                });
        }
        if (l.inRunning) {
            l.in.insert(l.in.end(), in, in + kTick);
            while (l.in.size() > kInKeep) l.in.pop_front();
        }
    }
}

void StartWorker() {
    State &s = S();
    if (s.workerStarted) return;
    s.workerStarted = true;
    std::thread([] {
        using Clock = std::chrono::steady_clock;
        Clock::time_point next = Clock::now();
        for (;;) {
            Tick();
            next += std::chrono::milliseconds(20);
            Clock::time_point now = Clock::now();
            if (next < now - std::chrono::milliseconds(200)) next = now;
            std::this_thread::sleep_until(next);
        }
    }).detach();
}

uint32_t NextId() { return S().nextId++; }

// Writes a text into a record's variable part; answers its offset (0 when it does not fit).
uint32_t PutText(void *rec, uint32_t *used, const std::string &text, uint32_t *size) {
    uint32_t total = *(uint32_t *)rec;
    uint32_t n = (uint32_t)text.size() + 1;
    if (text.empty() || *used + n > total) {
        *size = 0;
        return 0;
    }
    uint32_t off = *used;
    memcpy((char *)rec + off, text.c_str(), n);
    *used += n;
    *size = n;
    return off;
}

// ---- the lines' sound devices ----

class LineStream : public PcmStream {
public:
    LineStream(int line, bool output, const WaveFormat &f) : line_(line), output_(output), mulaw_(f.tag == WAVE_FORMAT_MULAW) {}
    ~LineStream() override {
        std::lock_guard<std::mutex> g(S().lock);
        Line &l = S().lines[line_];
        if (output_) {
            l.outOpen = false;
            l.out.clear();
        } else {
            l.inOpen = l.inRunning = false;
            l.in.clear();
        }
    }
    long write(const unsigned char *data, long frames) override {
        std::lock_guard<std::mutex> g(S().lock);
        Line &l = S().lines[line_];
        long room = (long)kOutHold - (long)l.out.size();
        long n = frames < room ? frames : room;
        for (long i = 0; i < n; i++) l.out.push_back(Sample(data, i));
        return n > 0 ? n : 0;
    }
    long delay() override {
        std::lock_guard<std::mutex> g(S().lock);
        return (long)S().lines[line_].out.size();
    }
    long read(unsigned char *data, long frames) override {
        std::lock_guard<std::mutex> g(S().lock);
        Line &l = S().lines[line_];
        long n = 0;
        for (; n < frames && !l.in.empty(); n++) {
            int16_t v = l.in.front();
            l.in.pop_front();
            if (mulaw_) data[n] = linear2ulaw(v);
            else memcpy(data + 2 * n, &v, 2);
        }
        return n;
    }
    int start() override {
        std::lock_guard<std::mutex> g(S().lock);
        S().lines[line_].inRunning = true;
        return 0;
    }
    void stop() override {
        std::lock_guard<std::mutex> g(S().lock);
        S().lines[line_].inRunning = false;
    }
    void pause(bool on) override {
        std::lock_guard<std::mutex> g(S().lock);
        S().lines[line_].outPaused = on;
    }
    void drop() override {
        std::lock_guard<std::mutex> g(S().lock);
        (output_ ? S().lines[line_].out : S().lines[line_].in).clear();
    }
    long waitHint(long frames) override { return (long)((double)frames / kRate * 1e6); }

private:
    int16_t Sample(const unsigned char *data, long i) const {
        if (mulaw_) return (int16_t)ulaw2linear(data[i]);
        int16_t v;
        memcpy(&v, data + 2 * i, 2);
        return v;
    }
    int line_;
    bool output_, mulaw_;
};

class LineBackend : public PcmBackend {
public:
    const char *name() override { return "telephone lines"; }
    unsigned count(bool) override { return Virtual() ? kLines : 0; }
    int caps(bool output, unsigned id, WaveCaps *c) override {
        memset(c, 0, sizeof *c);
        c->mid = 0xFFFF;
        c->pid = 0x40 + id;
        c->driverVersion = 0x0100;
        snprintf(c->name, sizeof c->name, "Telephone line %u %s", id, output ? "out" : "in");
        c->channels = 1;
        return WAVE_OK;
    }
    int open(bool output, unsigned id, const WaveFormat &f, std::unique_ptr<PcmStream> *out) override {
        if (f.rate != kRate || f.channels != 1) return WAVE_ERR_BADFORMAT;
        std::lock_guard<std::mutex> g(S().lock);
        Line &l = S().lines[id];
        bool &busy = output ? l.outOpen : l.inOpen;
        if (busy) return WAVE_ERR_ALLOCATED;
        busy = true;
        StartWorker();
        out->reset(new LineStream((int)id, output, f));
        return WAVE_OK;
    }
    int openMixer(unsigned, std::unique_ptr<MixerBackend> *) override { return WAVE_ERR_NOTSUPPORTED; }
};

LineBackend *Lines() {
    static LineBackend *b = new LineBackend;
    return b;
}

// The lines' devices are in the device layer's lists from the moment this library is loaded.
const bool kRegistered = (Pcm_AddExtraBackend(Lines()), true);

Call *FarCall(int line, char *err) {
    if (!Virtual() || line < 0 || line >= kLines) {
        snprintf(err, 200, "no virtual line %d", line);
        return nullptr;
    }
    Call *c = FindCall(S().lines[line].current);
    if (!c || c->state == LINECALLSTATE_IDLE) {
        snprintf(err, 200, "no call on line%d", line);
        return nullptr;
    }
    return c;
}

}  // namespace

// ---- applications and lines ----

extern "C" int32_t lineInitialize(HLINEAPP *app, void *, LINECALLBACK callback, const char *appName,
                                  uint32_t *numDevs) {
    if (!Virtual()) return Err(LINEERR_OPERATIONUNAVAIL);
    if (!app || !callback || !numDevs) return Err(LINEERR_INVALPOINTER);
    if (!appName) return Err(LINEERR_INVALAPPNAME);
    std::lock_guard<std::mutex> g(S().lock);
    std::unique_ptr<App> a(new App);
    a->id = NextId();
    a->callback = callback;
    a->name = appName;
    std::string wname = "TapiLineApp" + std::to_string(a->id);
    if (MsgWin_Create(wname.c_str(), AppWindowProc, nullptr, &a->window) != MSGWIN_OK)
        return Err(LINEERR_OPERATIONFAILED);
    *app = a->id;
    *numDevs = kLines;
    S().apps[a->id] = std::move(a);
    StartWorker();
    return 0;
}

extern "C" int32_t lineShutdown(HLINEAPP app) {
    if (!Virtual() && S().apps.empty()) return Err(LINEERR_OPERATIONUNAVAIL);
    std::lock_guard<std::mutex> g(S().lock);
    App *a = FindApp(app);
    if (!a) return Err(LINEERR_INVALAPPHANDLE);
    for (Line &l : S().lines)
        if (l.app == app) {
            for (auto it = S().calls.begin(); it != S().calls.end();)
                if (&S().lines[it->second->line] == &l) it = S().calls.erase(it);
                else ++it;
            l.app = 0;
            l.handle = 0;
            l.current = 0;
        }
    MsgWin_Destroy(a->window);
    S().apps.erase(app);
    return 0;
}

extern "C" int32_t lineGetDevCaps(HLINEAPP app, uint32_t dev, uint32_t apiVersion, uint32_t, LINEDEVCAPS *caps) {
    std::lock_guard<std::mutex> g(S().lock);
    if (!FindApp(app)) return Err(Virtual() ? LINEERR_INVALAPPHANDLE : LINEERR_OPERATIONUNAVAIL);
    if (dev >= (uint32_t)kLines) return Err(LINEERR_BADDEVICEID);
    if (apiVersion != kApiVersion) return Err(LINEERR_INCOMPATIBLEAPIVERSION);
    if (!caps) return Err(LINEERR_INVALPOINTER);
    uint32_t total = caps->dwTotalSize;
    if (total < sizeof(LINEDEVCAPS)) return Err(LINEERR_STRUCTURETOOSMALL);
    memset(caps, 0, sizeof *caps);
    caps->dwTotalSize = total;
    uint32_t used = sizeof(LINEDEVCAPS);
    caps->dwProviderInfoOffset = PutText(caps, &used, "Virtual telephone lines", &caps->dwProviderInfoSize);
    caps->dwSwitchInfoOffset = PutText(caps, &used, "loop start", &caps->dwSwitchInfoSize);
    caps->dwPermanentLineID = 0x1000 + dev;
    caps->dwLineNameOffset = PutText(caps, &used, "line" + std::to_string(dev), &caps->dwLineNameSize);
    caps->dwStringFormat = 1;
    caps->dwAddressModes = 1;
    caps->dwNumAddresses = 1;
    caps->dwBearerModes = 0x1;
    caps->dwMaxRate = 3100;
    caps->dwMediaModes = 0x4 | 0x8;
    caps->dwGenerateDigitModes = LINEDIGITMODE_DTMF;
    caps->dwMonitorDigitModes = LINEDIGITMODE_DTMF | LINEDIGITMODE_DTMFEND;
    caps->dwDevCapFlags = 0x20;
    caps->dwMaxNumActiveCalls = 1;
    caps->dwAnswerMode = 2;
    caps->dwRingModes = 1;
    caps->dwLineStates = 0x2 | 0x8 | 0x200 | 0x400;
    caps->dwNeededSize = caps->dwUsedSize = used;
    return 0;
}

extern "C" int32_t lineOpen(HLINEAPP app, uint32_t dev, HLINE *line, uint32_t apiVersion, uint32_t,
                            uintptr_t instance, uint32_t privileges, uint32_t, const void *) {
    std::lock_guard<std::mutex> g(S().lock);
    if (!FindApp(app)) return Err(Virtual() ? LINEERR_INVALAPPHANDLE : LINEERR_OPERATIONUNAVAIL);
    if (dev >= (uint32_t)kLines) return Err(LINEERR_BADDEVICEID);
    if (apiVersion != kApiVersion) return Err(LINEERR_INCOMPATIBLEAPIVERSION);
    if (!line) return Err(LINEERR_INVALPOINTER);
    if (!(privileges & (LINECALLPRIVILEGE_OWNER | LINECALLPRIVILEGE_MONITOR))) return Err(LINEERR_INVALPRIVSELECT);
    Line &l = S().lines[dev];
    if (l.app) return Err(LINEERR_ALLOCATED);
    l.app = app;
    l.handle = NextId();
    l.instance = instance;
    l.current = 0;
    *line = l.handle;
    return 0;
}

extern "C" int32_t lineClose(HLINE line) {
    std::lock_guard<std::mutex> g(S().lock);
    int i = LineOf(line);
    if (i < 0) return Err(S().apps.empty() && !Virtual() ? LINEERR_OPERATIONUNAVAIL : LINEERR_INVALLINEHANDLE);
    for (auto it = S().calls.begin(); it != S().calls.end();)
        if (it->second->line == i) it = S().calls.erase(it);
        else ++it;
    Line &l = S().lines[i];
    l.app = 0;
    l.handle = 0;
    l.current = 0;
    return 0;
}

extern "C" int32_t lineGetID(HLINE line, uint32_t, HCALL call, uint32_t select, VARSTRING *id, const char *cls) {
    std::lock_guard<std::mutex> g(S().lock);
    int i;
    if (select == LINECALLSELECT_LINE) {
        i = LineOf(line);
        if (i < 0) return Err(S().apps.empty() && !Virtual() ? LINEERR_OPERATIONUNAVAIL : LINEERR_INVALLINEHANDLE);
    } else if (select == LINECALLSELECT_CALL) {
        Call *c = FindCall(call);
        if (!c || c->deallocated)
            return Err(S().apps.empty() && !Virtual() ? LINEERR_OPERATIONUNAVAIL : LINEERR_INVALCALLHANDLE);
        i = c->line;
    } else
        return Err(LINEERR_INVALCALLSELECT);
    if (!id || !cls) return Err(LINEERR_INVALPOINTER);
    bool out;
    if (strcmp(cls, "wave/out") == 0) out = true;
    else if (strcmp(cls, "wave/in") == 0) out = false;
    else return Err(LINEERR_INVALDEVICECLASS);
    uint32_t total = id->dwTotalSize;
    if (total < sizeof(VARSTRING) + 4) return Err(LINEERR_STRUCTURETOOSMALL);
    memset(id, 0, sizeof *id);
    id->dwTotalSize = total;
    uint32_t dev = Pcm_ExtraBase(Lines(), out) + (uint32_t)i;
    id->dwStringFormat = 4;   // binary
    id->dwStringOffset = sizeof(VARSTRING);
    id->dwStringSize = 4;
    memcpy((char *)id + sizeof(VARSTRING), &dev, 4);
    id->dwNeededSize = id->dwUsedSize = sizeof(VARSTRING) + 4;
    return 0;
}

// ---- calls ----

#define CALL_OR_FAIL(c, h)                                                                   \
    Call *c = FindCall(h);                                                                   \
    if (c && c->deallocated) c = nullptr;                                                    \
    if (!c) return Err(S().apps.empty() && !Virtual() ? LINEERR_OPERATIONUNAVAIL : LINEERR_INVALCALLHANDLE)

extern "C" int32_t lineAnswer(HCALL call, const char *, uint32_t) {
    std::lock_guard<std::mutex> g(S().lock);
    CALL_OR_FAIL(c, call);
    if (c->state != LINECALLSTATE_OFFERING) return Err(LINEERR_INVALCALLSTATE);
    uint32_t req = NextId();
    Notify(c->line, c->id, LINE_REPLY, req, 0, 0);
    SetState(c, LINECALLSTATE_CONNECTED, LINECONNECTEDMODE_ACTIVE);
    S().lines[c->line].current = c->id;
    return (int32_t)req;
}

extern "C" int32_t lineDrop(HCALL call, const char *, uint32_t) {
    std::lock_guard<std::mutex> g(S().lock);
    CALL_OR_FAIL(c, call);
    uint32_t req = NextId();
    Notify(c->line, c->id, LINE_REPLY, req, 0, 0);
    EndGeneration(c, LINEGENERATETERM_CANCEL);
    if (c->state != LINECALLSTATE_IDLE) SetState(c, LINECALLSTATE_IDLE, 0);
    c->farSend.clear();
    return (int32_t)req;
}

extern "C" int32_t lineDeallocateCall(HCALL call) {
    std::lock_guard<std::mutex> g(S().lock);
    CALL_OR_FAIL(c, call);
    if (c->state != LINECALLSTATE_IDLE) return Err(LINEERR_INVALCALLSTATE);
    Line &l = S().lines[c->line];
    // The sound of the line's latest call stays for the far end to look at.
    if (l.current != call) S().calls.erase(call);
    else c->deallocated = true;
    return 0;
}

extern "C" int32_t lineGenerateDigits(HCALL call, uint32_t mode, const char *digits, uint32_t duration) {
    std::lock_guard<std::mutex> g(S().lock);
    CALL_OR_FAIL(c, call);
    if (mode != LINEDIGITMODE_DTMF && mode != LINEDIGITMODE_PULSE) return Err(LINEERR_INVALDIGITMODE);
    if (mode == LINEDIGITMODE_PULSE) return Err(LINEERR_INVALDIGITMODE);   // the lines have no dial pulses
    std::vector<int16_t> s;
    int ms = duration ? (int)duration : kDtmfToneMs;
    if (ms > 5000) ms = 5000;
    for (const char *p = digits ? digits : ""; *p; p++)
        if (!Dtmf_Append(s, *p, ms, ms)) return Err(LINEERR_INVALDIGITS);
    if (digits && c->state != LINECALLSTATE_CONNECTED) return Err(LINEERR_INVALCALLSTATE);
    EndGeneration(c, LINEGENERATETERM_CANCEL);
    if (!s.empty()) {
        c->generate.assign(s.begin(), s.end());
        c->generating = true;
    }
    return 0;
}

extern "C" int32_t lineMonitorDigits(HCALL call, uint32_t modes) {
    std::lock_guard<std::mutex> g(S().lock);
    CALL_OR_FAIL(c, call);
    if (modes & ~(uint32_t)(LINEDIGITMODE_PULSE | LINEDIGITMODE_DTMF | LINEDIGITMODE_DTMFEND))
        return Err(LINEERR_INVALDIGITMODE);
    if (c->state == LINECALLSTATE_IDLE) return Err(LINEERR_INVALCALLSTATE);
    c->monitorModes = modes;
    c->dtmf.Reset();
    return 0;
}

extern "C" int32_t lineGetCallInfo(HCALL call, LINECALLINFO *info) {
    std::lock_guard<std::mutex> g(S().lock);
    CALL_OR_FAIL(c, call);
    if (!info) return Err(LINEERR_INVALPOINTER);
    uint32_t total = info->dwTotalSize;
    if (total < sizeof(LINECALLINFO)) return Err(LINEERR_STRUCTURETOOSMALL);
    memset(info, 0, sizeof *info);
    info->dwTotalSize = total;
    uint32_t used = sizeof(LINECALLINFO);
    Line &l = S().lines[c->line];
    info->hLine = l.handle;
    info->dwLineDeviceID = c->line;
    info->dwBearerMode = 0x1;
    info->dwRate = 3100;
    info->dwMediaMode = LINEMEDIAMODE_AUTOMATEDVOICE;
    info->dwCallID = c->id;
    info->dwCallStates = c->statesSeen;
    info->dwMonitorDigitModes = c->monitorModes;
    info->dwOrigin = 0x4;   // external
    info->dwReason = 0x1;   // direct
    info->dwNumOwners = 1;
    info->dwCountryCode = 1;
    info->callerID.dwFlags = c->callerFlags;
    info->callerID.dwOffset = PutText(info, &used, c->callerNumber, &info->callerID.dwSize);
    info->callerID.dwNameOffset = PutText(info, &used, c->callerName, &info->callerID.dwNameSize);
    info->calledID.dwFlags = info->connectedID.dwFlags = info->redirectionID.dwFlags =
        info->redirectingID.dwFlags = LINECALLPARTYID_UNAVAIL;
    App *a = FindApp(l.app);
    info->dwAppNameOffset = PutText(info, &used, a ? a->name : "", &info->dwAppNameSize);
    info->dwDisplayableAddressOffset = PutText(info, &used, c->callerNumber, &info->dwDisplayableAddressSize);
    info->dwNeededSize = info->dwUsedSize = used;
    return 0;
}

extern "C" int32_t lineGetCallStatus(HCALL call, LINECALLSTATUS *st) {
    std::lock_guard<std::mutex> g(S().lock);
    CALL_OR_FAIL(c, call);
    if (!st) return Err(LINEERR_INVALPOINTER);
    uint32_t total = st->dwTotalSize;
    if (total < sizeof(LINECALLSTATUS)) return Err(LINEERR_STRUCTURETOOSMALL);
    memset(st, 0, sizeof *st);
    st->dwTotalSize = total;
    st->dwCallState = c->state;
    st->dwCallStateMode = c->mode;
    st->dwCallPrivilege = LINECALLPRIVILEGE_OWNER;
    st->dwNeededSize = st->dwUsedSize = sizeof *st;
    return 0;
}

// ---- the far end ----

extern "C" int TapiFar_Ring(int line, const char *callerId, const char *name, char *err) {
    std::lock_guard<std::mutex> g(S().lock);
    if (!Virtual() || line < 0 || line >= kLines) {
        snprintf(err, 200, "no virtual line %d", line);
        return -1;
    }
    Line &l = S().lines[line];
    if (!l.app) {
        snprintf(err, 200, "line%d is not open", line);
        return -1;
    }
    std::unique_ptr<Call> c(new Call);
    c->id = NextId();
    c->line = line;
    if (callerId && strcmp(callerId, "blocked") == 0) c->callerFlags = LINECALLPARTYID_BLOCKED;
    else if (callerId && strcmp(callerId, "outofarea") == 0) c->callerFlags = LINECALLPARTYID_OUTOFAREA;
    else if (callerId && strcmp(callerId, "notsent") != 0) {
        c->callerNumber = callerId;
        c->callerFlags = LINECALLPARTYID_ADDRESS;
    }
    if (name && *name) {
        c->callerName = name;
        c->callerFlags = (c->callerFlags & ~(uint32_t)LINECALLPARTYID_UNAVAIL) | LINECALLPARTYID_NAME;
    }
    Call *raw = c.get();
    S().calls[c->id] = std::move(c);
    // The line carries the newest call that is not over.
    Call *cur = FindCall(l.current);
    if (!cur || cur->state == LINECALLSTATE_IDLE || cur->state == LINECALLSTATE_DISCONNECTED) l.current = raw->id;
    Notify(line, raw->id, LINE_CALLSTATE, LINECALLSTATE_OFFERING, LINEOFFERINGMODE_ACTIVE, LINECALLPRIVILEGE_OWNER);
    return 0;
}

extern "C" int TapiFar_Send(int line, const int16_t *samples, long n, char *err) {
    std::lock_guard<std::mutex> g(S().lock);
    Call *c = FarCall(line, err);
    if (!c) return -1;
    c->farSend.insert(c->farSend.end(), samples, samples + n);
    return 0;
}

extern "C" int TapiFar_Heard(int line, int16_t **samples, long *n, char *err) {
    std::lock_guard<std::mutex> g(S().lock);
    if (!Virtual() || line < 0 || line >= kLines) {
        snprintf(err, 200, "no virtual line %d", line);
        return -1;
    }
    Call *c = FindCall(S().lines[line].current);
    size_t count = c ? c->heard.size() : 0;
    *samples = (int16_t *)malloc((count + 1) * sizeof(int16_t));
    if (!*samples) {
        snprintf(err, 200, "out of memory");
        return -1;
    }
    if (count) memcpy(*samples, c->heard.data(), count * sizeof(int16_t));
    *n = (long)count;
    return 0;
}

extern "C" int TapiFar_Hangup(int line, char *err) {
    std::lock_guard<std::mutex> g(S().lock);
    Call *c = FarCall(line, err);
    if (!c) return -1;
    if (c->state == LINECALLSTATE_DISCONNECTED) return 0;
    EndGeneration(c, LINEGENERATETERM_CANCEL);
    c->farSend.clear();
    SetState(c, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL);
    return 0;
}
