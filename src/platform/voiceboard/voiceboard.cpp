// The virtual voice board: one board of four channels, each a worker thread that
// moves 20 ms of sound each way per tick, in real time (see voiceboard.h).
#include "voiceboard.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cmath>
#include <cstring>
#include <ctime>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "teledsp.h"
#include "wavefile.h"

using namespace teledsp;

namespace {

const int kChannels = 4;
const int kTick = 160;          // samples per tick (20 ms)
const unsigned kIoBlock = 1536; // bytes per read or write request
const int kRingGapMs = 1000;
const int kLcOffValue = 50;     // loop-current drop, 10 ms units

bool Virtual() {
    const char *v = getenv("TOVIK_TELEPHONY");
    return v && strcmp(v, "virtual") == 0;
}

struct Event {
    long type;
    int device;
    std::vector<unsigned char> data;
};

struct Channel;

struct Device {
    std::string name;
    Channel *channel;   // null for a board
    int lastError = 0;
    std::string errorText = "no error";
};

struct Channel {
    int index;                  // 1..4
    std::string name;
    std::mutex lock;
    std::condition_variable idle;
    std::thread worker;
    bool quit = false;
    bool ioBusy = false;        // a user I/O procedure is running
    std::vector<int> handles;   // open devices on this channel, oldest first
    // hook, parameters, gain
    bool offhook = false;
    std::map<unsigned long, long> parms;
    signed char gainTable[21] = {0};
    int gainStep = 0;
    unsigned eventMask = 0;
    // play
    bool playing = false, readEnded = false;
    int playDev = -1;
    std::deque<unsigned char> fifo;
    // record
    bool recording = false;
    int recDev = -1;
    std::vector<unsigned char> recBuf;
    // termination
    int termDigits = 0, digitsSeen = 0;
    long termMask = 0;
    // dialling and call progress
    std::deque<int16_t> dialQueue;
    bool dialing = false, cpaWanted = false, analysing = false;
    int dialDev = -1;
    std::unique_ptr<CallProgress> cpa;
    int cpaResult = 0, connType = 0;
    // detectors
    DtmfDetector dtmf;
    FrameAnalyzer frames;
    std::vector<ToneTracker> tones;
    // the far end
    std::deque<int16_t> farSend;
    std::vector<int16_t> answerSound;
    bool answerSet = false;
    std::vector<int16_t> heard;
    int ringsLeft = 0, ringsSeen = 0, ringTicks = 0;
    bool offered = false;
    std::string cidNumber, cidName, cidDate;
    int cidError = VB_ERR_CID_NOTSENT;

    int EventDevice() const { return handles.empty() ? -1 : handles.front(); }
};

struct Board {
    std::mutex lock;   // devices, handles and templates; never taken inside a channel lock
    std::map<int, Device> devices;
    Channel *channels[kChannels] = {nullptr};
    VBReadProc *read = nullptr;
    VBWriteProc *write = nullptr;
    VBSeekProc *seek = nullptr;
    ToneTemplate lastBuilt;
    bool built = false;
    std::string buildError;
};

Board &B() {
    static Board *b = new Board;   // never destroyed: workers may still be stopping at exit
    return *b;
}

struct Events {
    std::mutex lock;
    std::deque<Event> queue;
    MsgWin *window = nullptr;
    unsigned message = 0;
    Event current;
};

Events &E() {
    static Events *e = new Events;
    return *e;
}

void Post(long type, int device, const void *data, size_t len) {
    Events &e = E();
    std::lock_guard<std::mutex> g(e.lock);
    if (!e.window || device < 0) return;
    Event ev{type, device, std::vector<unsigned char>((const unsigned char *)data, (const unsigned char *)data + len)};
    e.queue.push_back(std::move(ev));
    MsgWin_Post(e.window, e.message, 0, 0);
}

void PostCst(Channel *c, int type, int value) {
    VBCst cst = {(uint16_t)type, (uint16_t)value};
    Post(VB_EV_CST, c->EventDevice(), &cst, sizeof cst);
}

// The device of a handle; sets errno EBADF when there is none (caller holds the board lock).
Device *Dev(int h) {
    auto it = B().devices.find(h);
    if (it == B().devices.end()) {
        errno = EBADF;
        return nullptr;
    }
    return &it->second;
}

Channel *Chan(int h) {
    std::lock_guard<std::mutex> g(B().lock);
    Device *d = Dev(h);
    if (!d) return nullptr;
    if (!d->channel) {
        d->lastError = VB_ERR_SYSTEM;
        errno = ENOTTY;
        return nullptr;
    }
    return d->channel;
}

int Fail(int h, int code, const char *text) {
    std::lock_guard<std::mutex> g(B().lock);
    Device *d = Dev(h);
    if (d) {
        d->lastError = code;
        d->errorText = text;
    }
    return -1;
}

// Ends the play or record under way (caller holds the channel lock).
void EndPlay(Channel *c, long mask) {
    if (!c->playing) return;
    c->playing = false;
    c->fifo.clear();
    c->termMask = mask;
    Post(VB_EV_PLAY, c->playDev, nullptr, 0);
}

void EndRecord(Channel *c, long mask, std::vector<unsigned char> *rest) {
    if (!c->recording) return;
    c->recording = false;
    c->termMask = mask;
    if (rest) rest->swap(c->recBuf);
    c->recBuf.clear();
    Post(VB_EV_RECORD, c->recDev, nullptr, 0);
}

void EndDial(Channel *c, int cpaResult) {
    if (c->dialing) {
        c->dialing = false;
        c->dialQueue.clear();
        if (!c->cpaWanted) {
            Post(VB_EV_DIAL, c->dialDev, nullptr, 0);
            return;
        }
    }
    if (c->cpaWanted || c->analysing) {
        c->cpaWanted = c->analysing = false;
        c->cpa.reset();
        c->cpaResult = cpaResult;
        Post(VB_EV_CALLP, c->dialDev, nullptr, 0);
    }
}

void FarHangsUp(Channel *c) {
    c->farSend.clear();
    c->ringsLeft = 0;
    c->offered = false;
    if (c->offhook) {
        PostCst(c, VB_CST_LCOFF, kLcOffValue);
        EndPlay(c, VB_TM_LCOFF);
        if (c->recording) c->termMask = VB_TM_LCOFF;
    }
}

int CpaCode(CpaResult r) {
    switch (r) {
    case CPA_BUSY: return VB_CR_BUSY;
    case CPA_NO_ANSWER: return VB_CR_NOANS;
    case CPA_NO_RINGBACK: return VB_CR_NORB;
    case CPA_CONNECT: return VB_CR_CNCT;
    case CPA_INTERCEPT: return VB_CR_CEPT;
    case CPA_FAX: return VB_CR_FAXTONE;
    default: return VB_CR_ERROR;
    }
}

// The far end's side of one tick: touch tones, templates and call progress in what it
// sends (caller holds the channel lock).
void Listen(Channel *c, const int16_t *in) {
    bool digitEnd = false;
    c->dtmf.Feed(in, kTick, [&](char d, bool on, long long) {
        if (!on) return;
        PostCst(c, VB_CST_DIGIT, (unsigned char)d);
        if (c->termDigits && ++c->digitsSeen >= c->termDigits) digitEnd = true;
    });
    if (digitEnd) {
        EndPlay(c, VB_TM_MAXDTMF);
        if (c->recording) c->termMask = VB_TM_MAXDTMF;
    }
    if (!c->tones.empty())
        c->frames.Feed(in, kTick, [&](const Frame &f) {
            for (ToneTracker &t : c->tones) {
                int r = t.Step(f);
                if (r == 1 || r == 2) PostCst(c, VB_CST_TONEON, t.Template().id);
                if (r == -1 || r == 2) PostCst(c, VB_CST_TONEOFF, t.Template().id);
            }
        });
    if (c->analysing && c->cpa) {
        CpaResult r = c->cpa->Feed(in, kTick);
        if (r != CPA_NONE) {
            c->connType = c->cpa->ConnectType();
            EndDial(c, CpaCode(r));
        }
    }
}

// The far end of a call just dialled answers: what it sent before belonged to
// another call (caller holds the channel lock).
void Answer(Channel *c) {
    if (!c->answerSet) return;
    c->farSend.assign(c->answerSound.begin(), c->answerSound.end());
    c->answerSet = false;
    c->answerSound.clear();
}

void Tick(Channel *c, std::unique_lock<std::mutex> &g) {
    Board &b = B();
    int16_t out[kTick] = {0}, in[kTick] = {0};
    // Rings come a second apart; the event comes with the ring that reaches the count.
    if (c->ringsLeft > 0 && !c->offhook && --c->ringTicks <= 0) {
        c->ringsLeft--;
        c->ringTicks = kRingGapMs / 20;
        long want = c->parms.count(VB_PARM_RINGCOUNT) ? c->parms[VB_PARM_RINGCOUNT] : 1;
        if (++c->ringsSeen == std::max(1L, want)) PostCst(c, VB_CST_RINGS, 0);
    }
    // Toward the far end.
    if (c->dialing) {
        for (int i = 0; i < kTick && !c->dialQueue.empty(); i++) {
            out[i] = c->dialQueue.front();
            c->dialQueue.pop_front();
        }
        if (c->dialQueue.empty()) {
            c->dialing = false;
            if (c->cpaWanted) {
                c->analysing = true;
                Answer(c);
            } else {
                Answer(c);
                Post(VB_EV_DIAL, c->dialDev, nullptr, 0);
            }
        }
    } else if (c->playing) {
        if (c->fifo.size() < kIoBlock && !c->readEnded && b.read) {
            int dev = c->playDev;
            char buf[kIoBlock];
            c->ioBusy = true;
            g.unlock();
            int n = b.read(dev, buf, kIoBlock);
            g.lock();
            c->ioBusy = false;
            c->idle.notify_all();
            if (c->playing) {
                if (n < 0) EndPlay(c, VB_TM_ERROR);
                else {
                    c->fifo.insert(c->fifo.end(), buf, buf + n);
                    if ((unsigned)n < kIoBlock) c->readEnded = true;
                }
            }
        }
        if (c->playing) {
            int i = 0;
            double g10 = std::pow(10.0, c->gainTable[c->gainStep + 10] / 20.0);
            for (; i < kTick && !c->fifo.empty(); i++) {
                int v = (int)(ulaw2linear(c->fifo.front()) * g10);
                c->fifo.pop_front();
                out[i] = (int16_t)std::max(-32768, std::min(32767, v));
            }
            if (c->fifo.empty() && c->readEnded) EndPlay(c, VB_TM_EOD);
        }
    }
    if (c->offhook) c->heard.insert(c->heard.end(), out, out + kTick);
    // From the far end.
    if (!c->offhook) return;
    for (int i = 0; i < kTick && !c->farSend.empty(); i++) {
        in[i] = c->farSend.front();
        c->farSend.pop_front();
    }
    Listen(c, in);
    if (c->recording && !c->termMask) {
        for (int i = 0; i < kTick; i++) c->recBuf.push_back(linear2ulaw(in[i]));
        if (c->recBuf.size() >= kIoBlock && b.write) {
            std::vector<unsigned char> block(c->recBuf.begin(), c->recBuf.begin() + kIoBlock);
            c->recBuf.erase(c->recBuf.begin(), c->recBuf.begin() + kIoBlock);
            int dev = c->recDev;
            c->ioBusy = true;
            g.unlock();
            b.write(dev, (const char *)block.data(), kIoBlock);
            g.lock();
            c->ioBusy = false;
            c->idle.notify_all();
        }
    }
    if (c->recording && c->termMask) {
        // A recording that ended by itself hands over its last part first.
        std::vector<unsigned char> rest;
        int dev = c->recDev;
        long mask = c->termMask;
        c->termMask = 0;
        EndRecord(c, mask, &rest);
        if (!rest.empty() && b.write) {
            c->ioBusy = true;
            g.unlock();
            b.write(dev, (const char *)rest.data(), (unsigned)rest.size());
            g.lock();
            c->ioBusy = false;
            c->idle.notify_all();
        }
    }
}

void Run(Channel *c) {
    using Clock = std::chrono::steady_clock;
    Clock::time_point next = Clock::now();
    std::unique_lock<std::mutex> g(c->lock);
    while (!c->quit) {
        Tick(c, g);
        next += std::chrono::milliseconds(20);
        Clock::time_point now = Clock::now();
        if (next < now - std::chrono::milliseconds(200)) next = now;   // fell far behind: catch up
        g.unlock();
        std::this_thread::sleep_until(next);
        g.lock();
    }
}

Channel *StartChannel(int index) {
    Board &b = B();
    Channel *&c = b.channels[index - 1];
    if (!c) {
        c = new Channel;
        c->index = index;
        c->name = "dxxxB1C" + std::to_string(index);
        c->worker = std::thread(Run, c);
    }
    return c;
}

// The channel of a far-end target name, started when needed.
Channel *FarChannel(const char *name, char *err) {
    Board &b = B();
    std::lock_guard<std::mutex> g(b.lock);
    for (int i = 1; i <= kChannels && Virtual(); i++)
        if (name && "dxxxB1C" + std::to_string(i) == name) return StartChannel(i);
    snprintf(err, 200, "no virtual channel \"%s\"", name ? name : "");
    return nullptr;
}

void WaitIdle(Channel *c, std::unique_lock<std::mutex> &g) {
    c->idle.wait(g, [c] { return !c->ioBusy; });
}

int Start(int h, const VBIoTable *io, const VBTerm *term, bool play) {
    Channel *c = Chan(h);
    if (!c) return -1;
    if (!io || io->kind != VB_IO_USER) return Fail(h, VB_ERR_SYSTEM + 1, "only user I/O is supported");
    std::lock_guard<std::mutex> g(c->lock);
    if (c->playing || c->recording || c->dialing || c->analysing) return Fail(h, 2, "channel is busy");
    c->termMask = 0;
    c->digitsSeen = 0;
    c->termDigits = term && term->condition == VB_TERM_DIGITS ? term->count : 0;
    if (play) {
        c->playing = true;
        c->readEnded = false;
        c->playDev = h;
        c->fifo.clear();
    } else {
        c->recording = true;
        c->recDev = h;
        c->recBuf.clear();
    }
    return 0;
}

const char *const kEdgeWords[] = {"leading", "trailing"};

int Build(ToneTemplate t, const char *edge) {
    if (edge) {
        if (strcmp(edge, kEdgeWords[0]) == 0) t.edge = TONE_LEADING;
        else if (strcmp(edge, kEdgeWords[1]) == 0) t.edge = TONE_TRAILING;
        else return -1;
    }
    if (!t.Valid()) return -1;
    std::lock_guard<std::mutex> g(B().lock);
    B().lastBuilt = t;
    B().built = true;
    return 0;
}

}  // namespace

// ---- devices ----

extern "C" int VB_CountBoards(const char *kind) {
    return Virtual() && kind && strcmp(kind, "Voice") == 0 ? 1 : 0;
}

extern "C" int VB_Open(const char *name, int mode) {
    if (!Virtual() || !name) {
        errno = ENOENT;
        return -1;
    }
    int index = 0;
    if (strcmp(name, "dxxxB1") != 0) {
        char rest;
        if (sscanf(name, "dxxxB1C%d%c", &index, &rest) != 1 || index < 1 || index > kChannels ||
            std::string(name) != "dxxxB1C" + std::to_string(index)) {
            errno = ENOENT;
            return -1;
        }
    }
    Board &b = B();
    std::lock_guard<std::mutex> g(b.lock);
    int h = 1;
    while (b.devices.count(h)) h++;   // the lowest free handle, as for files
    Device &d = b.devices[h];
    d.name = name;
    d.channel = index ? StartChannel(index) : nullptr;
    if (d.channel) {
        std::lock_guard<std::mutex> cg(d.channel->lock);
        d.channel->handles.push_back(h);
    }
    return h;
}

extern "C" int VB_Close(int h) {
    Board &b = B();
    std::lock_guard<std::mutex> g(b.lock);
    Device *d = Dev(h);
    if (!d) return -1;
    if (Channel *c = d->channel) {
        std::unique_lock<std::mutex> cg(c->lock);
        WaitIdle(c, cg);
        c->handles.erase(std::remove(c->handles.begin(), c->handles.end(), h), c->handles.end());
        // Whatever the handle started ends with it, without events.
        if (c->playDev == h) c->playing = false, c->playDev = -1;
        if (c->recDev == h) c->recording = false, c->recDev = -1;
        if (c->dialDev == h) c->dialing = c->cpaWanted = c->analysing = false, c->dialDev = -1;
    }
    b.devices.erase(h);
    return 0;
}

extern "C" int VB_ChannelCount(int h) {
    std::lock_guard<std::mutex> g(B().lock);
    Device *d = Dev(h);
    if (!d) return -1;
    return d->channel ? 1 : kChannels;
}

extern "C" const char *VB_Name(int h) {
    static thread_local std::string name;
    std::lock_guard<std::mutex> g(B().lock);
    Device *d = Dev(h);
    name = d ? d->name : "unknown device";
    return name.c_str();
}

extern "C" int VB_LastError(int h) {
    std::lock_guard<std::mutex> g(B().lock);
    Device *d = Dev(h);
    return d ? d->lastError : VB_ERR_SYSTEM;
}

extern "C" const char *VB_ErrorText(int h) {
    static thread_local std::string text;
    std::lock_guard<std::mutex> g(B().lock);
    Device *d = Dev(h);
    text = d ? d->errorText : "no such device";
    return text.c_str();
}

// ---- set-up ----

extern "C" int VB_SetUserIo(VBReadProc *read, VBWriteProc *write, VBSeekProc *seek) {
    std::lock_guard<std::mutex> g(B().lock);
    B().read = read;
    B().write = write;
    B().seek = seek;
    return 0;
}

extern "C" int VB_SetEventMode(int mode) { return mode >= 0 ? 0 : -1; }

extern "C" int VB_EnableWindow(MsgWin *window, unsigned message, int flags) {
    Events &e = E();
    std::lock_guard<std::mutex> g(e.lock);
    e.window = window;
    e.message = message;
    if (!window) e.queue.clear();
    return 0;
}

extern "C" int VB_PrepTerm(VBTerm *table, int entries) {
    if (!table || entries < 1) return -1;
    for (int i = 0; i < entries; i++) table[i] = {(uint16_t)(i == entries - 1 ? 1 : 0), 0, 0, 0};
    return 0;
}

// ---- events ----

extern "C" int VB_WaitEvent(int timeout) {
    Events &e = E();
    std::lock_guard<std::mutex> g(e.lock);
    if (e.queue.empty()) return -1;
    e.current = std::move(e.queue.front());
    e.queue.pop_front();
    return 0;
}

extern "C" long VB_EventType(void) { return E().current.type; }
extern "C" int VB_EventDevice(void) { return E().current.device; }
extern "C" void *VB_EventData(void) { return E().current.data.empty() ? nullptr : E().current.data.data(); }
extern "C" int VB_EventLength(void) { return (int)E().current.data.size(); }

// ---- channels ----

extern "C" int VB_Play(int h, const VBIoTable *io, const VBTerm *term, unsigned mode) {
    return Start(h, io, term, true);
}

extern "C" int VB_Record(int h, const VBIoTable *io, const VBTerm *term, unsigned mode) {
    return Start(h, io, term, false);
}

extern "C" int VB_Stop(int h, unsigned mode) {
    Channel *c = Chan(h);
    if (!c) return -1;
    std::vector<unsigned char> rest;
    int recDev = -1;
    {
        std::unique_lock<std::mutex> g(c->lock);
        if (!(mode & VB_ASYNC)) WaitIdle(c, g);
        EndPlay(c, VB_TM_USRSTOP);
        if (c->recording) {
            recDev = c->recDev;
            EndRecord(c, VB_TM_USRSTOP, &rest);
        }
        if (c->dialing || c->cpaWanted || c->analysing) EndDial(c, VB_CR_STOPD);
    }
    VBWriteProc *write = B().write;
    if (!rest.empty() && write) write(recDev, (const char *)rest.data(), (unsigned)rest.size());
    return 0;
}

extern "C" int VB_SetHook(int h, int offhook, unsigned mode) {
    Channel *c = Chan(h);
    if (!c) return -1;
    std::lock_guard<std::mutex> g(c->lock);
    bool was = c->offhook;
    c->offhook = offhook != 0;
    if (c->offhook && !was) {
        c->heard.clear();   // the far end hears from the moment the channel answers
        c->ringsLeft = 0;
        c->dtmf.Reset();
    }
    if (!c->offhook && was) {
        c->offered = false;
        c->farSend.clear();
    }
    if (mode & VB_ASYNC) {
        int32_t v = c->offhook ? 1 : 0;
        Post(VB_EV_SETHOOK, h, &v, sizeof v);
    }
    return 0;
}

extern "C" int VB_HookState(int h) {
    Channel *c = Chan(h);
    if (!c) return -1;
    std::lock_guard<std::mutex> g(c->lock);
    return c->offhook ? 1 : 0;
}

extern "C" int VB_State(int h) {
    Channel *c = Chan(h);
    if (!c) return -1;
    std::lock_guard<std::mutex> g(c->lock);
    if (c->playing) return VB_CS_PLAY;
    if (c->recording) return VB_CS_RECD;
    if (c->dialing) return VB_CS_DIAL;
    if (c->cpaWanted || c->analysing) return VB_CS_CALL;
    return VB_CS_IDLE;
}

extern "C" long VB_TermMask(int h) {
    Channel *c = Chan(h);
    if (!c) return -1;
    std::lock_guard<std::mutex> g(c->lock);
    return c->termMask;
}

extern "C" int VB_ClearDigits(int h) {
    Channel *c = Chan(h);
    if (!c) return -1;
    std::lock_guard<std::mutex> g(c->lock);
    c->dtmf.Reset();
    return 0;
}

extern "C" int VB_ResetChannel(int h) {
    Channel *c = Chan(h);
    if (!c) return -1;
    std::lock_guard<std::mutex> g(c->lock);
    c->termMask = 0;
    c->cpaResult = c->connType = 0;
    return 0;
}

extern "C" int VB_SetEventMask(int h, unsigned mask) {
    Channel *c = Chan(h);
    if (!c) return -1;
    std::lock_guard<std::mutex> g(c->lock);
    c->eventMask = mask;
    return 0;
}

extern "C" int VB_SetParm(int h, unsigned long parm, long value) {
    Channel *c = Chan(h);
    if (!c) return -1;
    switch (parm) {
    case VB_PARM_PLAYRATE:
    case VB_PARM_RECRATE:
        if (value != 8000) return Fail(h, 2, "the channel runs at 8000 Hz only");
        break;
    case VB_PARM_TONEPASS:
        break;
    case VB_PARM_RINGCOUNT:
        if (value < 1 || value > 255) return Fail(h, 2, "ring count out of range 1..255");
        break;
    default:
        return Fail(h, 2, "unknown parameter");
    }
    std::lock_guard<std::mutex> g(c->lock);
    c->parms[parm] = value;
    return 0;
}

extern "C" int VB_GetParm(int h, unsigned long parm, long *value) {
    Channel *c = Chan(h);
    if (!c) return -1;
    std::lock_guard<std::mutex> g(c->lock);
    auto it = c->parms.find(parm);
    if (it == c->parms.end() || !value) {
        std::lock_guard<std::mutex> bg(B().lock);
        if (Device *d = Dev(h)) d->lastError = 2, d->errorText = "parameter not set";
        return -1;
    }
    *value = it->second;
    return 0;
}

// ---- signalling ----

extern "C" int VB_LoadGainTable(int h, int kind, const signed char *table, int flags) {
    Channel *c = Chan(h);
    if (!c) return -1;
    if (!table) return Fail(h, 2, "no gain table");
    std::lock_guard<std::mutex> g(c->lock);
    memcpy(c->gainTable, table, sizeof c->gainTable);
    return 0;
}

extern "C" int VB_SetGain(int h, int kind, int flags, int step) {
    Channel *c = Chan(h);
    if (!c) return -1;
    if (step < -10 || step > 10) return Fail(h, 2, "gain step out of range -10..10");
    std::lock_guard<std::mutex> g(c->lock);
    c->gainStep = step;
    return 0;
}

extern "C" int VB_GetGain(int h) {
    Channel *c = Chan(h);
    if (!c) return -1;
    std::lock_guard<std::mutex> g(c->lock);
    return c->gainStep;
}

extern "C" void VB_CpaDefaults(VBCpaBlock *block) {
    if (!block) return;
    memset(block, 0, sizeof *block);
    auto put16 = [block](int at, int v) {
        block->bytes[at] = (unsigned char)(v & 0xFF);
        block->bytes[at + 1] = (unsigned char)(v >> 8);
    };
    put16(VB_CPA_VOICE, kCpaDefaultVoiceTenths);
    put16(VB_CPA_SILENCE, kCpaDefaultSilenceTenths);
    put16(VB_CPA_RINGS, kCpaDefaultMaxRings);
    block->bytes[VB_CPA_TONES] = 0;
}

extern "C" int VB_Dial(int h, const char *digits, const VBCpaBlock *cpa, unsigned mode) {
    Channel *c = Chan(h);
    if (!c) return -1;
    std::vector<int16_t> s;
    for (const char *p = digits ? digits : ""; *p; p++) {
        if (*p == ',') s.insert(s.end(), kDialPauseMs * kRate / 1000, 0);
        else if (!Dtmf_Append(s, *p)) return Fail(h, 2, "invalid character in the dial string");
    }
    std::lock_guard<std::mutex> g(c->lock);
    if (c->playing || c->recording || c->dialing || c->analysing) return Fail(h, 2, "channel is busy");
    c->dialQueue.assign(s.begin(), s.end());
    c->dialing = true;
    c->dialDev = h;
    c->cpaWanted = (mode & VB_DIAL_CPA) != 0;
    c->cpaResult = c->connType = 0;
    if (c->cpaWanted) {
        CpaOptions o;
        if (cpa) {
            auto get16 = [cpa](int at) { return cpa->bytes[at] | cpa->bytes[at + 1] << 8; };
            if (get16(VB_CPA_VOICE)) o.voiceTenths = get16(VB_CPA_VOICE);
            if (get16(VB_CPA_SILENCE)) o.silenceTenths = get16(VB_CPA_SILENCE);
            if (get16(VB_CPA_RINGS)) o.maxRings = get16(VB_CPA_RINGS);
            o.tones = cpa->bytes[VB_CPA_TONES] != 0;
        }
        c->cpa.reset(new CallProgress(o));
    }
    if (c->dialQueue.empty()) c->dialQueue.push_back(0);
    return 0;
}

extern "C" int VB_CpaResult(int h) {
    Channel *c = Chan(h);
    if (!c) return -1;
    std::lock_guard<std::mutex> g(c->lock);
    return c->cpaResult;
}

extern "C" int VB_ConnType(int h) {
    Channel *c = Chan(h);
    if (!c) return -1;
    std::lock_guard<std::mutex> g(c->lock);
    return c->connType;
}

extern "C" int VB_BuildSingleTone(int tid, int f1, int f1dev, const char *edge) {
    ToneTemplate t;
    t.id = tid, t.f1 = f1, t.f1dev = f1dev;
    return Build(t, edge);
}

extern "C" int VB_BuildDualTone(int tid, int f1, int f1dev, int f2, int f2dev, const char *edge) {
    ToneTemplate t;
    t.id = tid, t.f1 = f1, t.f1dev = f1dev, t.f2 = f2, t.f2dev = f2dev;
    if (f2 <= 0) return -1;
    return Build(t, edge);
}

extern "C" int VB_BuildSingleToneCadence(int tid, int f1, int f1dev, int ontime, int ontimedev, int offtime,
                                         int offtimedev, int repcount) {
    return VB_BuildDualToneCadence(tid, f1, f1dev, 0, 0, ontime, ontimedev, offtime, offtimedev, repcount);
}

extern "C" int VB_BuildDualToneCadence(int tid, int f1, int f1dev, int f2, int f2dev, int ontime, int ontimedev,
                                       int offtime, int offtimedev, int repcount) {
    ToneTemplate t;
    t.id = tid, t.f1 = f1, t.f1dev = f1dev, t.f2 = f2, t.f2dev = f2dev;
    t.cadence = true;
    t.ontime = ontime, t.ontimedev = ontimedev, t.offtime = offtime, t.offtimedev = offtimedev;
    t.repcount = repcount;
    return Build(t, nullptr);
}

extern "C" int VB_AddTone(int h, int flags, int unused) {
    Channel *c = Chan(h);
    if (!c) return -1;
    ToneTemplate t;
    {
        std::lock_guard<std::mutex> g(B().lock);
        if (!B().built) {
            Device *d = Dev(h);
            if (d) d->lastError = 2, d->errorText = "no tone template has been built";
            return -1;
        }
        t = B().lastBuilt;
    }
    std::lock_guard<std::mutex> g(c->lock);
    for (ToneTracker &x : c->tones)
        if (x.Template().id == t.id) {
            x = ToneTracker(t);   // the same id again replaces the template
            return 0;
        }
    c->tones.emplace_back(t);
    return 0;
}

extern "C" int VB_DeleteTones(int h) {
    Channel *c = Chan(h);
    if (!c) return -1;
    std::lock_guard<std::mutex> g(c->lock);
    c->tones.clear();
    return 0;
}

extern "C" int VB_CallerId(int h, char *buffer) { return VB_CallerIdField(h, 2, buffer); }

extern "C" int VB_CallerIdField(int h, int field, char *buffer) {
    Channel *c = Chan(h);
    if (!c) return -1;
    std::string value;
    int code = 0;
    {
        std::lock_guard<std::mutex> g(c->lock);
        if (!c->offered) {
            code = -1;
        } else {
            switch (field) {
            case 259: value = c->cidName.empty() ? "\x04" : "\x80"; break;
            case 1: value = c->cidDate; break;
            case 2:
                if (c->cidError) code = c->cidError;
                else value = c->cidNumber;
                break;
            case 7:
                if (c->cidName.empty()) code = VB_ERR_CID_NOTSENT;
                else value = c->cidName;
                break;
            default: code = VB_ERR_CID_NOTSENT; break;
            }
        }
    }
    if (code == -1) return Fail(h, 2, "no call is offered on the channel");
    if (code) {
        const char *t = code == VB_ERR_CID_BLOCKED ? "caller ID blocked"
                        : code == VB_ERR_CID_OUTOFAREA ? "caller ID out of area"
                                                       : "caller ID not sent";
        return Fail(h, code, t);
    }
    if (buffer) snprintf(buffer, 300, "%s", value.c_str());
    return 0;
}

// ---- the far end ----

extern "C" int VBFar_Ring(const char *name, int count, const char *callerId, const char *cname, char *err) {
    Channel *c = FarChannel(name, err);
    if (!c) return -1;
    if (count < 1) {
        snprintf(err, 200, "ring count must be at least 1");
        return -1;
    }
    std::lock_guard<std::mutex> g(c->lock);
    c->ringsLeft = count;
    c->ringsSeen = 0;
    c->ringTicks = 0;
    c->offered = true;
    c->cidNumber.clear();
    c->cidName = cname ? cname : "";
    c->cidError = VB_ERR_CID_NOTSENT;
    if (callerId) {
        if (strcmp(callerId, "blocked") == 0) c->cidError = VB_ERR_CID_BLOCKED;
        else if (strcmp(callerId, "outofarea") == 0) c->cidError = VB_ERR_CID_OUTOFAREA;
        else if (strcmp(callerId, "notsent") == 0) c->cidError = VB_ERR_CID_NOTSENT;
        else {
            c->cidNumber = callerId;
            c->cidError = 0;
        }
    }
    char date[16];
    time_t now = time(nullptr);
    struct tm tmv;
    localtime_r(&now, &tmv);
    strftime(date, sizeof date, "%m%d%H%M", &tmv);
    c->cidDate = date;
    return 0;
}

extern "C" int VBFar_Send(const char *name, const int16_t *samples, long n, char *err) {
    Channel *c = FarChannel(name, err);
    if (!c) return -1;
    std::lock_guard<std::mutex> g(c->lock);
    c->farSend.insert(c->farSend.end(), samples, samples + n);
    return 0;
}

extern "C" int VBFar_Answer(const char *name, const int16_t *samples, long n, char *err) {
    Channel *c = FarChannel(name, err);
    if (!c) return -1;
    std::lock_guard<std::mutex> g(c->lock);
    c->answerSound.assign(samples, samples + n);
    c->answerSet = true;
    return 0;
}

extern "C" int VBFar_Heard(const char *name, int16_t **samples, long *n, char *err) {
    Channel *c = FarChannel(name, err);
    if (!c) return -1;
    std::lock_guard<std::mutex> g(c->lock);
    *n = (long)c->heard.size();
    *samples = (int16_t *)malloc((c->heard.size() + 1) * sizeof(int16_t));
    if (!*samples) {
        snprintf(err, 200, "out of memory");
        return -1;
    }
    if (!c->heard.empty()) memcpy(*samples, c->heard.data(), c->heard.size() * sizeof(int16_t));
    return 0;
}

extern "C" int VBFar_Hangup(const char *name, char *err) {
    Channel *c = FarChannel(name, err);
    if (!c) return -1;
    std::lock_guard<std::mutex> g(c->lock);
    FarHangsUp(c);
    return 0;
}
