// The virtual sound devices: a clock of their own, output into memory or a file,
// input from memory or a file (see virtual_audio.h).
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "pcm_backend.h"
#include "virtual_audio.h"

namespace {

using Clock = std::chrono::steady_clock;

struct VDevice {
    const char *name;
    bool pcm;             // takes 16-bit linear as well as mu-law
    int maxChannels;
    int minRate, maxRate;
    int card;             // devices of one half-duplex card exclude each other
    bool halfDuplex;
    uint32_t formats;
    unsigned channelsCap;
    uint32_t support;
};

const uint32_t kAllStd = (1u << WAVE_STDFORMAT_COUNT) - 1;
const VDevice kOut[] = {
    {"Virtual Out", true, 4, 4000, 96000, 0, false, kAllStd, 2,
     WAVE_SUPPORT_VOLUME | WAVE_SUPPORT_LRVOLUME | WAVE_SUPPORT_SAMPLEACCURATE},
    {"Virtual Out (mu-law)", false, 1, 8000, 8000, 1, true, 0, 1, WAVE_SUPPORT_VOLUME},
};
const VDevice kIn[] = {
    {"Virtual In", true, 4, 4000, 96000, 0, false, kAllStd, 2, 0},
    {"Virtual In (half-duplex)", true, 2, 8000, 48000, 1, true, kAllStd, 2, 0},
};

struct State {
    std::mutex lock;
    double speed = -1;                               // < 0: from the environment
    bool capture = false;
    std::map<unsigned, std::vector<unsigned char>> captured;
    std::map<unsigned, std::vector<unsigned char>> inputs;
    int openOut[2] = {0, 0}, openIn[2] = {0, 0};     // per card
};

State &St() {
    static State *s = new State;
    return *s;
}

double Speed() {
    State &s = St();
    {
        std::lock_guard<std::mutex> g(s.lock);
        if (s.speed >= 0) return s.speed;
    }
    const char *v = getenv("TOVIK_AUDIO_SPEED");
    if (!v || !*v) return 1.0;
    if (strcmp(v, "fast") == 0) return 0.0;
    char *end;
    double d = strtod(v, &end);
    return (*end || !(d >= 0) || std::isinf(d)) ? 1.0 : d;
}

double Seconds(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

// Microseconds the device clock takes for frames at rate; 0 when it does not run in time.
long WaitUs(long frames, long rate, double speed) {
    if (speed == 0) return 0;
    return (long)std::ceil(frames / (rate * speed) * 1e6);
}

// Counts an open direction of a card; the last close frees it.
struct CardUse {
    int card;
    bool output;
    ~CardUse() {
        State &s = St();
        std::lock_guard<std::mutex> g(s.lock);
        (output ? s.openOut : s.openIn)[card]--;
    }
};

class VOut : public PcmStream {
public:
    VOut(unsigned id, const WaveFormat &f, double speed, FILE *sink)
        : id_(id), rate_(f.rate), fb_(f.blockAlign), speed_(speed), sink_(sink), last_(Clock::now()) {
        capacity_ = rate_ / 10 > 0 ? rate_ / 10 : 1;
    }
    ~VOut() override {
        if (sink_) fclose(sink_);
        delete use;
    }
    CardUse *use = nullptr;

    long write(const unsigned char *data, long frames) override {
        Update();
        long room = speed_ == 0 ? frames : capacity_ - (long)(written_ - heard_);
        long n = frames < room ? frames : room;
        if (n <= 0) return 0;
        pending_.insert(pending_.end(), data, data + (size_t)n * fb_);
        written_ += n;
        Update();
        return n;
    }
    long delay() override {
        Update();
        return (long)(written_ - heard_);
    }
    long read(unsigned char *, long) override { return -1; }
    int start() override { return 0; }
    void stop() override {}
    void pause(bool on) override {
        Update();
        paused_ = on;
    }
    void drop() override {
        Update();
        pending_.clear();
        written_ = heard_;
        heardF_ = (double)heard_;
    }
    long waitHint(long frames) override { return WaitUs(frames, rate_, speed_); }

private:
    // Advances the clock and hands what has been heard to the sinks.
    void Update() {
        Clock::time_point now = Clock::now();
        if (speed_ == 0) heardF_ = (double)written_;
        else if (!paused_) heardF_ += Seconds(last_, now) * rate_ * speed_;
        last_ = now;
        if (heardF_ > (double)written_) heardF_ = (double)written_;   // an underrun: the clock waits
        long long h = (long long)heardF_;
        if (h <= heard_) return;
        size_t bytes = (size_t)(h - heard_) * fb_;
        if (sink_) {
            fwrite(pending_.data(), 1, bytes, sink_);
            fflush(sink_);
        }
        State &s = St();
        {
            std::lock_guard<std::mutex> g(s.lock);
            if (s.capture) {
                auto &v = s.captured[id_];
                v.insert(v.end(), pending_.begin(), pending_.begin() + bytes);
            }
        }
        pending_.erase(pending_.begin(), pending_.begin() + bytes);
        heard_ = h;
    }

    unsigned id_;
    long rate_, fb_;
    double speed_;
    FILE *sink_;
    long capacity_;
    Clock::time_point last_;
    bool paused_ = false;
    long long written_ = 0, heard_ = 0;
    double heardF_ = 0;
    std::vector<unsigned char> pending_;
};

class VIn : public PcmStream {
public:
    VIn(const WaveFormat &f, double speed, std::vector<unsigned char> source)
        : rate_(f.rate), fb_(f.blockAlign), silence_(f.tag == WAVE_FORMAT_MULAW ? 0xFF : 0),
          speed_(speed), source_(std::move(source)), last_(Clock::now()) {}
    CardUse *use = nullptr;
    ~VIn() override { delete use; }

    long write(const unsigned char *, long) override { return -1; }
    long delay() override { return 0; }
    long read(unsigned char *data, long frames) override {
        Update();
        long avail = speed_ == 0 ? frames : (long)((long long)availF_ - consumed_);
        long n = frames < avail ? frames : avail;
        if (n <= 0) return 0;
        size_t off = (size_t)consumed_ * fb_, bytes = (size_t)n * fb_;
        for (size_t i = 0; i < bytes; i++)
            data[i] = off + i < source_.size() ? source_[off + i] : silence_;
        consumed_ += n;
        return n;
    }
    int start() override {
        Update();
        running_ = true;
        return 0;
    }
    void stop() override {
        Update();
        running_ = false;
    }
    void pause(bool) override {}
    void drop() override {
        Update();
        // Frames recorded but not read are lost, as on a device whose buffer is flushed.
        long long have = (long long)availF_;
        if (have > consumed_) consumed_ = have;
        availF_ = (double)consumed_;
    }
    long waitHint(long frames) override { return WaitUs(frames, rate_, speed_); }

private:
    void Update() {
        Clock::time_point now = Clock::now();
        if (running_ && speed_ > 0) availF_ += Seconds(last_, now) * rate_ * speed_;
        last_ = now;
    }
    long rate_, fb_;
    unsigned char silence_;
    double speed_;
    std::vector<unsigned char> source_;
    Clock::time_point last_;
    bool running_ = false;
    double availF_ = 0;
    long long consumed_ = 0;
};

class VirtualBackend : public PcmBackend {
public:
    const char *name() override { return "virtual"; }
    unsigned count(bool output) override { return 2; }
    int caps(bool output, unsigned id, WaveCaps *c) override {
        const VDevice &d = (output ? kOut : kIn)[id];
        memset(c, 0, sizeof *c);
        c->mid = 0xFFFF;
        c->pid = id + (output ? 1 : 0x11);
        c->driverVersion = 0x0100;
        CopyText(c->name, sizeof c->name, d.name);
        c->formats = d.formats;
        c->channels = d.channelsCap;
        c->support = d.support;
        return WAVE_OK;
    }
    int open(bool output, unsigned id, const WaveFormat &f, std::unique_ptr<PcmStream> *out) override {
        const VDevice &d = (output ? kOut : kIn)[id];
        if ((f.tag == WAVE_FORMAT_PCM && !d.pcm) || f.channels > d.maxChannels || f.rate < d.minRate ||
            f.rate > d.maxRate)
            return WAVE_ERR_BADFORMAT;
        double speed = Speed();
        State &s = St();
        {
            std::lock_guard<std::mutex> g(s.lock);
            int *other = output ? s.openIn : s.openOut;
            if (d.halfDuplex && other[d.card] > 0) return WAVE_ERR_ALLOCATED;
        }
        if (output) {
            FILE *sink = nullptr;
            const char *path = getenv("TOVIK_AUDIO_OUT");
            if (path && *path && !(sink = fopen(path, "ab"))) return WAVE_ERR_NOSINK;
            VOut *v = new VOut(id, f, speed, sink);
            out->reset(v);
        } else {
            std::vector<unsigned char> src;
            bool given = false;
            {
                std::lock_guard<std::mutex> g(s.lock);
                auto it = s.inputs.find(id);
                if (it != s.inputs.end()) { src = it->second; given = true; }
            }
            const char *path = getenv("TOVIK_AUDIO_IN");
            if (!given && path && *path) {
                FILE *fp = fopen(path, "rb");
                if (!fp) return WAVE_ERR_NOSOURCE;
                unsigned char buf[65536];
                size_t n;
                while ((n = fread(buf, 1, sizeof buf, fp)) > 0) src.insert(src.end(), buf, buf + n);
                fclose(fp);
            }
            VIn *v = new VIn(f, speed, std::move(src));
            out->reset(v);
        }
        std::lock_guard<std::mutex> g(s.lock);
        (output ? s.openOut : s.openIn)[d.card]++;
        CardUse *u = new CardUse{d.card, output};
        if (output) static_cast<VOut *>(out->get())->use = u;
        else static_cast<VIn *>(out->get())->use = u;
        return WAVE_OK;
    }
    int openMixer(unsigned inputId, std::unique_ptr<MixerBackend> *out) override {
        return VirtualMixer_Open(inputId, out);
    }
};

}  // namespace

PcmBackend *Pcm_VirtualBackend() {
    static VirtualBackend b;
    return &b;
}

extern "C" void VirtualAudio_Reset(void) {
    {
        State &s = St();
        std::lock_guard<std::mutex> g(s.lock);
        s.speed = -1;
        s.capture = false;
        s.captured.clear();
        s.inputs.clear();
    }
    VirtualMixer_Reset();
}

extern "C" void VirtualAudio_SetSpeed(double speed) {
    State &s = St();
    std::lock_guard<std::mutex> g(s.lock);
    s.speed = speed < 0 ? -1 : speed;
}

extern "C" void VirtualAudio_CaptureOutput(int on) {
    State &s = St();
    std::lock_guard<std::mutex> g(s.lock);
    s.capture = on != 0;
}

extern "C" size_t VirtualAudio_TakeOutput(unsigned id, unsigned char *buf, size_t max) {
    State &s = St();
    std::lock_guard<std::mutex> g(s.lock);
    auto &v = s.captured[id];
    if (!buf) return v.size();
    size_t n = v.size() < max ? v.size() : max;
    memcpy(buf, v.data(), n);
    v.erase(v.begin(), v.begin() + n);
    return n;
}

extern "C" void VirtualAudio_SetInput(unsigned id, const unsigned char *data, size_t len) {
    State &s = St();
    std::lock_guard<std::mutex> g(s.lock);
    s.inputs[id].assign(data, data + len);
}
