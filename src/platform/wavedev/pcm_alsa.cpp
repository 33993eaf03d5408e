// ALSA back end: device 0 is the "default" PCM, then the PCMs ALSA's hints list for the
// direction. Streams are non-blocking; the device layer polls them.
#include <alsa/asoundlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "pcm_backend.h"

namespace {

std::vector<std::string> Names(bool output) {
    std::vector<std::string> v{"default"};
    void **hints = nullptr;
    if (snd_device_name_hint(-1, "pcm", &hints) != 0 || !hints) return v;
    for (void **h = hints; *h; h++) {
        char *name = snd_device_name_get_hint(*h, "NAME");
        char *ioid = snd_device_name_get_hint(*h, "IOID");
        if (name && (!ioid || strcmp(ioid, output ? "Output" : "Input") == 0)) {
            bool dup = false;
            for (const std::string &s : v) dup = dup || s == name;
            if (!dup) v.push_back(name);
        }
        free(name);
        free(ioid);
    }
    snd_device_name_free_hint(hints);
    return v;
}

class AlsaStream : public PcmStream {
public:
    AlsaStream(snd_pcm_t *pcm, bool output, int rate, bool canPause)
        : pcm_(pcm), output_(output), rate_(rate), canPause_(canPause) {}
    ~AlsaStream() override {
        snd_pcm_drop(pcm_);
        snd_pcm_close(pcm_);
    }
    long write(const unsigned char *data, long frames) override {
        snd_pcm_sframes_t r = snd_pcm_writei(pcm_, data, frames);
        if (r == -EPIPE || r == -ESTRPIPE) {   // an underrun: the sound so far was heard
            if (snd_pcm_recover(pcm_, (int)r, 1) < 0) return r;
            r = snd_pcm_writei(pcm_, data, frames);
        }
        if (r == -EAGAIN) return 0;
        return (long)r;
    }
    long delay() override {
        snd_pcm_state_t st = snd_pcm_state(pcm_);
        if (st != SND_PCM_STATE_RUNNING && st != SND_PCM_STATE_PAUSED && st != SND_PCM_STATE_DRAINING) return 0;
        snd_pcm_sframes_t d = 0;
        if (snd_pcm_delay(pcm_, &d) < 0 || d < 0) return 0;
        return (long)d;
    }
    long read(unsigned char *data, long frames) override {
        snd_pcm_sframes_t r = snd_pcm_readi(pcm_, data, frames);
        if (r == -EAGAIN) return 0;
        if (r == -EPIPE || r == -ESTRPIPE) {   // an overrun: go on recording
            if (snd_pcm_recover(pcm_, (int)r, 1) < 0) return r;
            snd_pcm_start(pcm_);
            return 0;
        }
        return (long)r;
    }
    int start() override {
        snd_pcm_state_t st = snd_pcm_state(pcm_);
        if (st == SND_PCM_STATE_RUNNING) return 0;
        if (st != SND_PCM_STATE_PREPARED) snd_pcm_prepare(pcm_);
        return snd_pcm_start(pcm_);
    }
    void stop() override {
        snd_pcm_drop(pcm_);
        snd_pcm_prepare(pcm_);
    }
    void pause(bool on) override {
        // Devices that cannot pause play out what they hold; the layer stops feeding them.
        snd_pcm_state_t st = snd_pcm_state(pcm_);
        if (canPause_ && (st == SND_PCM_STATE_RUNNING || st == SND_PCM_STATE_PAUSED)) snd_pcm_pause(pcm_, on);
    }
    void drop() override {
        snd_pcm_drop(pcm_);
        snd_pcm_prepare(pcm_);
    }
    long waitHint(long frames) override { return (long)((double)frames * 1e6 / rate_) + 1; }

private:
    snd_pcm_t *pcm_;
    bool output_;
    int rate_;
    bool canPause_;
};

int OpenCode(int err) {
    if (err == -EBUSY || err == -EAGAIN) return WAVE_ERR_ALLOCATED;
    if (err == -ENOMEM) return WAVE_ERR_NOMEM;
    return WAVE_ERR_NODRIVER;
}

class AlsaBackend : public PcmBackend {
public:
    const char *name() override { return "alsa"; }
    unsigned count(bool output) override { return (unsigned)Names(output).size(); }
    int caps(bool output, unsigned id, WaveCaps *c) override {
        std::vector<std::string> n = Names(output);
        if (id >= n.size()) return WAVE_ERR_BADDEVICEID;
        memset(c, 0, sizeof *c);
        c->driverVersion = (SND_LIB_MAJOR << 8) | SND_LIB_MINOR;
        CopyText(c->name, sizeof c->name, n[id].c_str());
        // ALSA's plug layer converts rates, channels and sample formats, so the standard
        // formats are all offered; what a device truly refuses shows at open.
        c->formats = (1u << WAVE_STDFORMAT_COUNT) - 1;
        c->channels = 2;
        c->support = output ? WAVE_SUPPORT_VOLUME | WAVE_SUPPORT_LRVOLUME | WAVE_SUPPORT_SAMPLEACCURATE : 0;
        return WAVE_OK;
    }
    int open(bool output, unsigned id, const WaveFormat &f, std::unique_ptr<PcmStream> *out) override {
        std::vector<std::string> n = Names(output);
        if (id >= n.size()) return WAVE_ERR_BADDEVICEID;
        snd_pcm_t *pcm = nullptr;
        int err = snd_pcm_open(&pcm, n[id].c_str(), output ? SND_PCM_STREAM_PLAYBACK : SND_PCM_STREAM_CAPTURE,
                               SND_PCM_NONBLOCK);
        if (err < 0) return OpenCode(err);
        snd_pcm_hw_params_t *hw;
        snd_pcm_hw_params_alloca(&hw);
        unsigned rate = (unsigned)f.rate;
        unsigned btime = output ? 200000 : 500000, ptime = 20000;
        bool ok = snd_pcm_hw_params_any(pcm, hw) >= 0 &&
                  snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED) >= 0 &&
                  snd_pcm_hw_params_set_format(pcm, hw, f.tag == WAVE_FORMAT_MULAW ? SND_PCM_FORMAT_MU_LAW
                                                                                : SND_PCM_FORMAT_S16_LE) >= 0 &&
                  snd_pcm_hw_params_set_channels(pcm, hw, (unsigned)f.channels) >= 0 &&
                  snd_pcm_hw_params_set_rate(pcm, hw, rate, 0) >= 0;
        if (ok) {
            snd_pcm_hw_params_set_buffer_time_near(pcm, hw, &btime, nullptr);
            snd_pcm_hw_params_set_period_time_near(pcm, hw, &ptime, nullptr);
            ok = snd_pcm_hw_params(pcm, hw) >= 0;
        }
        if (!ok) {
            snd_pcm_close(pcm);
            return WAVE_ERR_BADFORMAT;
        }
        bool canPause = snd_pcm_hw_params_can_pause(hw);
        snd_pcm_sw_params_t *sw;
        snd_pcm_sw_params_alloca(&sw);
        if (output && snd_pcm_sw_params_current(pcm, sw) >= 0) {
            // Start with the first frame: a short buffer must be heard, not wait for more.
            snd_pcm_sw_params_set_start_threshold(pcm, sw, 1);
            snd_pcm_sw_params(pcm, sw);
        }
        if (snd_pcm_prepare(pcm) < 0) {
            snd_pcm_close(pcm);
            return WAVE_ERR_NODRIVER;
        }
        out->reset(new AlsaStream(pcm, output, f.rate, canPause));
        return WAVE_OK;
    }
    int openMixer(unsigned inputId, std::unique_ptr<MixerBackend> *out) override {
        std::vector<std::string> n = Names(false);
        if (inputId >= n.size()) return MIX_ERR_NODRIVER;
        return AlsaMixer_Open(n[inputId], out);
    }
};

// ALSA would print its own complaints on stderr; the layer reports through its codes.
void Quiet(const char *, int, const char *, int, const char *, ...) {}

}  // namespace

PcmBackend *Pcm_AlsaBackend() {
    static AlsaBackend b;
    static bool quiet = (snd_lib_error_set_handler(Quiet), true);
    (void)quiet;
    return &b;
}
