// The device layer: handles, buffer queues and one worker thread per open device.
#include "wavedev.h"
#include "wavefile.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "pcm_backend.h"

namespace {

// Waits of the workers stay within these bounds: long enough not to spin, short enough
// that a buffer's end is reported within a fraction of a millisecond of being heard.
const long kMinWaitUs = 100;
const long kMaxWaitUs = 20000;

long ClampWait(long us) {
    return us < kMinWaitUs ? kMinWaitUs : us > kMaxWaitUs ? kMaxWaitUs : us;
}

std::mutex gLiveLock;
std::set<WaveOut *> gOuts;
std::set<WaveIn *> gIns;
// A device keeps its volume from one open to the next, as a sound card does.
std::map<std::pair<PcmBackend *, unsigned>, uint32_t> gVolumes;

bool FormatIsSound(const WaveFormat *f) {
    if (!f || f->channels < 1 || f->rate < 1) return false;
    if ((int64_t)f->rate * f->blockAlign != f->avgBytesPerSec) return false;
    if (f->tag == WAVE_FORMAT_PCM) return f->bitsPerSample == 16 && f->blockAlign == 2 * (int64_t)f->channels;
    if (f->tag == WAVE_FORMAT_MULAW) return f->bitsPerSample == 8 && f->blockAlign == f->channels;
    return false;
}

void Finish(MsgWin *notify, unsigned msg, void *h, WaveHeader *hdr) {
    hdr->flags = (hdr->flags & ~WAVE_HDR_INQUEUE) | WAVE_HDR_DONE;
    MsgWin_Post(notify, msg, (uintptr_t)h, (uintptr_t)hdr);
}

}  // namespace

// What an open device of either direction holds; its worker runs until quit.
struct WaveDevice {
    PcmBackend *backend;
    unsigned id;
    WaveFormat fmt;
    MsgWin *notify;
    std::unique_ptr<PcmStream> stream;
    std::mutex lock;
    std::condition_variable wake;
    bool quit = false;
    std::thread worker;

    // The worker's wait: until woken, or at most us microseconds when us >= 0.
    void Sleep(std::unique_lock<std::mutex> &g, long us) {
        if (us < 0) wake.wait(g);
        else wake.wait_for(g, std::chrono::microseconds(us));
    }
};

struct WaveOut : WaveDevice {
    struct Entry {
        WaveHeader *hdr;
        uint32_t sent;       // bytes handed to the stream
        bool fullySent;
        long long endPos;    // frame count at which its last frame will have been heard
    };
    std::deque<Entry> queue;
    long long written = 0;
    bool paused = false;
    uint32_t volume = 0xFFFFFFFFu;
    std::vector<unsigned char> scratch;

    // Takes the volume this device had when last open (the caller holds gLiveLock).
    void Opened() {
        auto v = gVolumes.find({backend, id});
        if (v != gVolumes.end()) volume = v->second;
    }

    void Quit() { quit = true; }

    // Applies the volume to a copy of the frames when it is not full scale.
    const unsigned char *Scaled(const unsigned char *src, long frames) {
        if (volume == 0xFFFFFFFFu) return src;
        unsigned lv = volume & 0xFFFF, rv = volume >> 16;
        size_t bytes = (size_t)frames * fmt.blockAlign;
        scratch.resize(bytes);
        int ch = fmt.channels;
        long n = frames * ch;
        for (long i = 0; i < n; i++) {
            unsigned v = (ch >= 2 && (i % ch) == 1) ? rv : lv;
            if (fmt.tag == WAVE_FORMAT_PCM) {
                int16_t s;
                memcpy(&s, src + 2 * i, 2);
                s = (int16_t)((long)s * (long)v / 65535);
                memcpy(&scratch[2 * i], &s, 2);
            } else {
                scratch[i] = linear2ulaw(ulaw2linear(src[i]) * (long)v / 65535);
            }
        }
        return scratch.data();
    }

    // Hands queued frames to the stream until it is full.
    void Feed() {
        const long fb = fmt.blockAlign;
        for (Entry &e : queue) {
            if (e.fullySent) continue;
            while (e.sent + fb <= e.hdr->bufferLength) {
                long frames = (e.hdr->bufferLength - e.sent) / fb;
                if (frames > 4096) frames = 4096;
                long n = stream->write(Scaled((const unsigned char *)e.hdr->data + e.sent, frames), frames);
                if (n == 0) return;
                if (n < 0) {
                    // A device that fails cannot hold buffers back for ever: what it did
                    // not take counts as heard, so every buffer still comes back.
                    for (Entry &x : queue) if (!x.fullySent) { x.fullySent = true; x.endPos = written; }
                    return;
                }
                e.sent += n * fb;
                written += n;
            }
            e.fullySent = true;   // a trailing part frame is not sound: it is skipped
            e.endPos = written;
        }
    }

    // Returns the buffers that have been heard; answers how long to wait (-1: until woken).
    long Complete() {
        if (queue.empty()) return -1;
        long d = stream->delay();
        if (d < 0) d = 0;
        long long heard = written - d;
        while (!queue.empty() && queue.front().fullySent && queue.front().endPos <= heard) {
            WaveHeader *h = queue.front().hdr;
            queue.pop_front();
            Finish(notify, WAVE_MSG_OUT_DONE, this, h);
        }
        if (queue.empty()) return -1;
        if (paused) return kMaxWaitUs;
        const Entry &f = queue.front();
        long ahead = f.fullySent ? (long)(f.endPos - heard) : fmt.rate / 200 + 1;
        return ClampWait(stream->waitHint(ahead));
    }

    void Run() {
        std::unique_lock<std::mutex> g(lock);
        while (!quit) {
            if (!paused) Feed();
            long us = Complete();
            if (quit) break;
            Sleep(g, us);
        }
    }
};

struct WaveIn : WaveDevice {
    std::deque<WaveHeader *> queue;
    bool started = false;

    void Opened() {}

    void StopRecording() {
        if (started) {
            started = false;
            stream->stop();
        }
    }

    void Quit() {
        quit = true;
        StopRecording();
    }

    // Moves recorded frames into the queued buffers; full ones go back to the caller.
    void Fill() {
        const long fb = fmt.blockAlign;
        while (!queue.empty()) {
            WaveHeader *h = queue.front();
            long room = (long)(h->bufferLength - h->bytesRecorded) / fb;
            if (room > 0) {
                long n = stream->read((unsigned char *)h->data + h->bytesRecorded, room);
                if (n <= 0) return;
                h->bytesRecorded += n * fb;
                if (n < room) return;
            }
            queue.pop_front();
            Finish(notify, WAVE_MSG_IN_DATA, this, h);
        }
    }

    void Run() {
        std::unique_lock<std::mutex> g(lock);
        while (!quit) {
            long us = -1;
            if (started) {
                Fill();
                if (!queue.empty()) {
                    WaveHeader *h = queue.front();
                    long room = (long)(h->bufferLength - h->bytesRecorded) / fmt.blockAlign;
                    us = ClampWait(stream->waitHint(room));
                }
            }
            if (quit) break;
            Sleep(g, us);
        }
    }
};

namespace {

std::set<WaveOut *> &LiveSet(WaveOut *) { return gOuts; }
std::set<WaveIn *> &LiveSet(WaveIn *) { return gIns; }

template <class D>
bool Live(D *h) {
    std::lock_guard<std::mutex> g(gLiveLock);
    return h && LiveSet(h).count(h);
}

std::vector<PcmBackend *> &Extras() {
    static std::vector<PcmBackend *> *v = new std::vector<PcmBackend *>;
    return *v;
}

// The back end of a device number and the device's number within it; null when none.
PcmBackend *Resolve(bool output, unsigned *id) {
    PcmBackend *b = Pcm_CurrentBackend();
    if (*id < b->count(output)) return b;
    *id -= b->count(output);
    for (PcmBackend *x : Extras()) {
        if (*id < x->count(output)) return x;
        *id -= x->count(output);
    }
    return nullptr;
}

unsigned CountAll(bool output) {
    unsigned n = Pcm_CurrentBackend()->count(output);
    for (PcmBackend *x : Extras()) n += x->count(output);
    return n;
}

int GetDevCaps(bool output, unsigned id, WaveCaps *caps) {
    if (!caps) return WAVE_ERR_INVALPARAM;
    PcmBackend *b = Resolve(output, &id);
    if (!b) return WAVE_ERR_BADDEVICEID;
    return b->caps(output, id, caps);
}

template <class D>
int OpenDevice(bool output, D **h, unsigned id, const WaveFormat *fmt, MsgWin *notify, unsigned openMsg) {
    if (!h) return WAVE_ERR_INVALPARAM;
    PcmBackend *b = Resolve(output, &id);
    if (!b) return WAVE_ERR_BADDEVICEID;
    if (!FormatIsSound(fmt)) return WAVE_ERR_BADFORMAT;
    std::unique_ptr<PcmStream> s;
    int rc = b->open(output, id, *fmt, &s);
    if (rc != WAVE_OK) return rc;
    D *d = new D;
    d->backend = b;
    d->id = id;
    d->fmt = *fmt;
    d->notify = notify;
    d->stream = std::move(s);
    {
        std::lock_guard<std::mutex> g(gLiveLock);
        d->Opened();
        LiveSet(d).insert(d);
    }
    d->worker = std::thread([d] { d->Run(); });
    *h = d;
    MsgWin_Post(notify, openMsg, (uintptr_t)d, 0);
    return WAVE_OK;
}

template <class D>
int Prepare(D *h, WaveHeader *hdr) {
    if (!Live(h)) return WAVE_ERR_INVALHANDLE;
    if (!hdr || (!hdr->data && hdr->bufferLength)) return WAVE_ERR_INVALPARAM;
    std::lock_guard<std::mutex> g(h->lock);
    if (hdr->flags & WAVE_HDR_INQUEUE) return WAVE_ERR_STILLPLAYING;
    hdr->flags |= WAVE_HDR_PREPARED;
    return WAVE_OK;
}

template <class D>
int Unprepare(D *h, WaveHeader *hdr) {
    if (!Live(h)) return WAVE_ERR_INVALHANDLE;
    if (!hdr) return WAVE_ERR_INVALPARAM;
    std::lock_guard<std::mutex> g(h->lock);
    if (hdr->flags & WAVE_HDR_INQUEUE) return WAVE_ERR_STILLPLAYING;
    hdr->flags &= ~WAVE_HDR_PREPARED;
    return WAVE_OK;
}

// Marks a header queued when it may be (the caller holds the device lock).
int TakeHeader(WaveHeader *hdr) {
    if (!(hdr->flags & WAVE_HDR_PREPARED)) return WAVE_ERR_UNPREPARED;
    if (hdr->flags & WAVE_HDR_INQUEUE) return WAVE_ERR_STILLPLAYING;
    hdr->flags = (hdr->flags & ~WAVE_HDR_DONE) | WAVE_HDR_INQUEUE;
    return WAVE_OK;
}

template <class D>
int CloseDevice(D *h, unsigned closeMsg) {
    if (!Live(h)) return WAVE_ERR_INVALHANDLE;
    {
        std::lock_guard<std::mutex> g(h->lock);
        if (!h->queue.empty()) return WAVE_ERR_STILLPLAYING;
        h->Quit();
        h->wake.notify_one();
    }
    h->worker.join();
    {
        std::lock_guard<std::mutex> g(gLiveLock);
        LiveSet(h).erase(h);
    }
    h->stream.reset();
    MsgWin_Post(h->notify, closeMsg, (uintptr_t)h, 0);
    delete h;
    return WAVE_OK;
}

const char *const kStdFormats[WAVE_STDFORMAT_COUNT] = {
    "1m08", "1m16", "1s08", "1s16", "2m08", "2m16", "2s08", "2s16", "4m08", "4m16", "4s08", "4s16"};

}  // namespace

PcmBackend *Pcm_CurrentBackend() {
    const char *v = getenv("TOVIK_AUDIO");
    if (v && strcmp(v, "virtual") == 0) return Pcm_VirtualBackend();
    return Pcm_AlsaBackend();
}

void Pcm_AddExtraBackend(PcmBackend *b) {
    if (b && std::find(Extras().begin(), Extras().end(), b) == Extras().end()) Extras().push_back(b);
}

unsigned Pcm_ExtraBase(PcmBackend *b, bool output) {
    unsigned n = Pcm_CurrentBackend()->count(output);
    for (PcmBackend *x : Extras()) {
        if (x == b) break;
        n += x->count(output);
    }
    return n;
}

extern "C" const char *WaveDev_StdFormatName(int bit) {
    return bit >= 0 && bit < WAVE_STDFORMAT_COUNT ? kStdFormats[bit] : "";
}

extern "C" void WaveDev_MakeFormat(WaveFormat *f, int tag, int channels, int rate) {
    f->tag = tag;
    f->channels = channels;
    f->rate = rate;
    f->bitsPerSample = tag == WAVE_FORMAT_MULAW ? 8 : 16;
    // Byte counts of a rate or channel count that no device takes may not fit
    // an int: they become 0, a format that every open refuses.
    int64_t align = (int64_t)channels * f->bitsPerSample / 8;
    int64_t perSecond = (int64_t)rate * align;
    f->blockAlign = align > 0 && align <= INT_MAX ? (int)align : 0;
    f->avgBytesPerSec = f->blockAlign && perSecond > 0 && perSecond <= INT_MAX ? (int)perSecond : 0;
}

extern "C" int WaveDev_ErrorText(int code, char *buf, size_t len) {
    const char *t;
    switch (code) {
    case WAVE_OK: t = "no error"; break;
    case WAVE_ERR_BADDEVICEID: t = "no sound device with that number"; break;
    case WAVE_ERR_ALLOCATED: t = "the sound device is in use"; break;
    case WAVE_ERR_INVALHANDLE: t = "not an open sound device"; break;
    case WAVE_ERR_NODRIVER: t = "the sound device cannot be opened"; break;
    case WAVE_ERR_NOMEM: t = "not enough memory for the sound device"; break;
    case WAVE_ERR_NOTSUPPORTED: t = "the sound device cannot do that"; break;
    case WAVE_ERR_INVALPARAM: t = "invalid parameter"; break;
    case WAVE_ERR_BADFORMAT: t = "the sound device does not take that rate, channel count or sample format"; break;
    case WAVE_ERR_STILLPLAYING: t = "the sound device still has buffers queued"; break;
    case WAVE_ERR_UNPREPARED: t = "the buffer was not prepared for the sound device"; break;
    case WAVE_ERR_NOSOURCE: t = "the virtual sound device cannot read its input file (TOVIK_AUDIO_IN)"; break;
    case WAVE_ERR_NOSINK: t = "the virtual sound device cannot write its output file (TOVIK_AUDIO_OUT)"; break;
    default: t = "unknown sound device error"; break;
    }
    CopyText(buf, len, t);
    return WAVE_OK;
}

extern "C" const char *WaveDev_BackendName(void) { return Pcm_CurrentBackend()->name(); }

extern "C" void WaveDev_Shutdown(void) {
    std::vector<WaveOut *> outs;
    std::vector<WaveIn *> ins;
    {
        std::lock_guard<std::mutex> g(gLiveLock);
        outs.assign(gOuts.begin(), gOuts.end());
        ins.assign(gIns.begin(), gIns.end());
    }
    for (WaveOut *o : outs) { WaveOut_Reset(o); WaveOut_Close(o); }
    for (WaveIn *i : ins) { WaveIn_Reset(i); WaveIn_Close(i); }
}

// ---- output ----

extern "C" unsigned WaveOut_GetNumDevs(void) { return CountAll(true); }

extern "C" int WaveOut_GetDevCaps(unsigned id, WaveCaps *caps) { return GetDevCaps(true, id, caps); }

extern "C" int WaveOut_Open(WaveOut **h, unsigned id, const WaveFormat *fmt, MsgWin *notify) {
    return OpenDevice(true, h, id, fmt, notify, WAVE_MSG_OUT_OPEN);
}

extern "C" int WaveOut_Prepare(WaveOut *h, WaveHeader *hdr) { return Prepare(h, hdr); }

extern "C" int WaveOut_Unprepare(WaveOut *h, WaveHeader *hdr) { return Unprepare(h, hdr); }

extern "C" int WaveOut_Write(WaveOut *h, WaveHeader *hdr) {
    if (!Live(h)) return WAVE_ERR_INVALHANDLE;
    if (!hdr) return WAVE_ERR_INVALPARAM;
    std::lock_guard<std::mutex> g(h->lock);
    int rc = TakeHeader(hdr);
    if (rc != WAVE_OK) return rc;
    h->queue.push_back({hdr, 0, false, 0});
    h->wake.notify_one();
    return WAVE_OK;
}

extern "C" int WaveOut_Pause(WaveOut *h) {
    if (!Live(h)) return WAVE_ERR_INVALHANDLE;
    std::lock_guard<std::mutex> g(h->lock);
    if (!h->paused) {
        h->paused = true;
        h->stream->pause(true);
    }
    return WAVE_OK;
}

extern "C" int WaveOut_Restart(WaveOut *h) {
    if (!Live(h)) return WAVE_ERR_INVALHANDLE;
    std::lock_guard<std::mutex> g(h->lock);
    if (h->paused) {
        h->paused = false;
        h->stream->pause(false);
        h->wake.notify_one();
    }
    return WAVE_OK;
}

extern "C" int WaveOut_Reset(WaveOut *h) {
    if (!Live(h)) return WAVE_ERR_INVALHANDLE;
    std::lock_guard<std::mutex> g(h->lock);
    h->stream->drop();
    if (h->paused) {
        h->paused = false;
        h->stream->pause(false);
    }
    while (!h->queue.empty()) {
        WaveHeader *hdr = h->queue.front().hdr;
        h->queue.pop_front();
        Finish(h->notify, WAVE_MSG_OUT_DONE, h, hdr);
    }
    h->wake.notify_one();
    return WAVE_OK;
}

extern "C" int WaveOut_Close(WaveOut *h) { return CloseDevice(h, WAVE_MSG_OUT_CLOSE); }

extern "C" int WaveOut_SetVolume(WaveOut *h, uint32_t volume) {
    if (!Live(h)) return WAVE_ERR_INVALHANDLE;
    {
        std::lock_guard<std::mutex> g(gLiveLock);
        gVolumes[{h->backend, h->id}] = volume;
    }
    std::lock_guard<std::mutex> g(h->lock);
    h->volume = volume;
    return WAVE_OK;
}

extern "C" int WaveOut_GetVolume(WaveOut *h, uint32_t *volume) {
    if (!Live(h)) return WAVE_ERR_INVALHANDLE;
    if (!volume) return WAVE_ERR_INVALPARAM;
    std::lock_guard<std::mutex> g(h->lock);
    *volume = h->volume;
    return WAVE_OK;
}

// ---- input ----

extern "C" unsigned WaveIn_GetNumDevs(void) { return CountAll(false); }

extern "C" int WaveIn_GetDevCaps(unsigned id, WaveCaps *caps) { return GetDevCaps(false, id, caps); }

extern "C" int WaveIn_Open(WaveIn **h, unsigned id, const WaveFormat *fmt, MsgWin *notify) {
    return OpenDevice(false, h, id, fmt, notify, WAVE_MSG_IN_OPEN);
}

extern "C" int WaveIn_Prepare(WaveIn *h, WaveHeader *hdr) { return Prepare(h, hdr); }

extern "C" int WaveIn_Unprepare(WaveIn *h, WaveHeader *hdr) { return Unprepare(h, hdr); }

extern "C" int WaveIn_AddBuffer(WaveIn *h, WaveHeader *hdr) {
    if (!Live(h)) return WAVE_ERR_INVALHANDLE;
    if (!hdr) return WAVE_ERR_INVALPARAM;
    std::lock_guard<std::mutex> g(h->lock);
    int rc = TakeHeader(hdr);
    if (rc != WAVE_OK) return rc;
    hdr->bytesRecorded = 0;
    h->queue.push_back(hdr);
    h->wake.notify_one();
    return WAVE_OK;
}

extern "C" int WaveIn_Start(WaveIn *h) {
    if (!Live(h)) return WAVE_ERR_INVALHANDLE;
    std::lock_guard<std::mutex> g(h->lock);
    if (!h->started) {
        int rc = h->stream->start();
        if (rc < 0) return WAVE_ERR_ERROR;
        h->started = true;
        h->wake.notify_one();
    }
    return WAVE_OK;
}

extern "C" int WaveIn_Stop(WaveIn *h) {
    if (!Live(h)) return WAVE_ERR_INVALHANDLE;
    std::lock_guard<std::mutex> g(h->lock);
    if (h->started) {
        h->Fill();   // what the device holds belongs to the buffer being filled
        h->StopRecording();
        if (!h->queue.empty() && h->queue.front()->bytesRecorded > 0) {
            WaveHeader *hdr = h->queue.front();
            h->queue.pop_front();
            Finish(h->notify, WAVE_MSG_IN_DATA, h, hdr);
        }
    }
    return WAVE_OK;
}

extern "C" int WaveIn_Reset(WaveIn *h) {
    if (!Live(h)) return WAVE_ERR_INVALHANDLE;
    std::lock_guard<std::mutex> g(h->lock);
    h->StopRecording();
    h->stream->drop();
    while (!h->queue.empty()) {
        WaveHeader *hdr = h->queue.front();
        h->queue.pop_front();
        Finish(h->notify, WAVE_MSG_IN_DATA, h, hdr);
    }
    return WAVE_OK;
}

extern "C" int WaveIn_Close(WaveIn *h) { return CloseDevice(h, WAVE_MSG_IN_CLOSE); }

extern "C" int WaveIn_GetDeviceId(WaveIn *h, unsigned *id) {
    if (!Live(h)) return WAVE_ERR_INVALHANDLE;
    if (!id) return WAVE_ERR_INVALPARAM;
    *id = h->id;
    return WAVE_OK;
}

PcmBackend *WaveIn_Backend(WaveIn *h) { return Live(h) ? h->backend : nullptr; }
