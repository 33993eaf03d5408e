// ALSA mixers as line-model mixers: the card's simple elements that can capture become
// source lines (capture volume, capture switch as "mute"); an enumerated capture
// element ("Capture Source", "Input Source") becomes the destination's mux, else the
// capture switches together make a "mixer" list. Only the thread that opened it uses it.
#include <alsa/asoundlib.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "pcm_backend.h"

namespace {

// The control device of the card behind a PCM name: "hw:1,0", "plughw:CARD=x" and the
// like name their card; anything else uses ALSA's default control device.
std::string CardOf(const std::string &pcm) {
    size_t colon = pcm.find(':');
    if (colon == std::string::npos) return "default";
    std::string args = pcm.substr(colon + 1);
    size_t card = args.find("CARD=");
    std::string id = card != std::string::npos ? args.substr(card + 5) : args;
    id = id.substr(0, id.find_first_of(",:"));
    return id.empty() ? "default" : "hw:" + id;
}

enum Kind { kVolume, kMute, kMux, kSwitchList };

struct Ctl {
    MixControl info;
    Kind kind;
    snd_mixer_elem_t *elem;   // the element; none for the switch list
    unsigned channels;
};

struct Src {
    MixLine info;
    snd_mixer_elem_t *elem;
    std::vector<unsigned> controls;
};

class AlsaMixer : public MixerBackend {
public:
    explicit AlsaMixer(snd_mixer_t *m) : m_(m) {}
    ~AlsaMixer() override { snd_mixer_close(m_); }

    // Builds the line model from the card's elements; false when nothing can capture.
    bool Build() {
        snd_mixer_elem_t *mux = nullptr;
        for (snd_mixer_elem_t *e = snd_mixer_first_elem(m_); e; e = snd_mixer_elem_next(e)) {
            if (!snd_mixer_selem_is_active(e)) continue;
            if (snd_mixer_selem_is_enum_capture(e)) {
                if (!mux) mux = e;
                continue;
            }
            bool vol = snd_mixer_selem_has_capture_volume(e), sw = snd_mixer_selem_has_capture_switch(e);
            if (!vol && !sw) continue;
            Src s{};
            s.elem = e;
            s.info.source = (unsigned)src_.size();
            s.info.lineId = 0x10000u + s.info.source;
            s.info.componentType = MIX_COMPONENT_SRC_UNDEFINED;
            const char *n = snd_mixer_selem_get_name(e);
            if (strncmp(n, "Mic", 3) == 0) s.info.componentType = MIX_COMPONENT_SRC_MICROPHONE;
            else if (strncmp(n, "Line", 4) == 0) s.info.componentType = MIX_COMPONENT_SRC_LINE;
            else if (strncmp(n, "CD", 2) == 0) s.info.componentType = MIX_COMPONENT_SRC_COMPACTDISC;
            s.info.channels = snd_mixer_selem_is_capture_mono(e) ? 1 : 2;
            CopyText(s.info.name, sizeof s.info.name, n);
            CopyText(s.info.shortName, sizeof s.info.shortName, n);
            if (vol) {
                long lo = 0, hi = 0;
                snd_mixer_selem_get_capture_volume_range(e, &lo, &hi);
                s.controls.push_back(Add(kVolume, e, MIX_CTRL_VOLUME, 0, s.info.channels, "Volume",
                                         std::string(n) + " Volume", lo, hi, 0));
            }
            if (sw)
                s.controls.push_back(Add(kMute, e, MIX_CTRL_MUTE, MIX_CTRLF_UNIFORM, 1, "Mute",
                                         std::string(n) + " Mute", 0, 1, 0));
            s.info.controls = (unsigned)s.controls.size();
            src_.push_back(s);
        }
        dest_.lineId = 0;
        dest_.componentType = MIX_COMPONENT_DST_WAVEIN;
        dest_.channels = 2;
        dest_.connections = (unsigned)src_.size();
        CopyText(dest_.name, sizeof dest_.name, "Capture");
        CopyText(dest_.shortName, sizeof dest_.shortName, "Capture");
        if (mux) {
            int items = snd_mixer_selem_get_enum_items(mux);
            if (items > 0)
                destControls_.push_back(Add(kMux, mux, MIX_CTRL_MUX, MIX_CTRLF_UNIFORM | MIX_CTRLF_MULTIPLE, 1,
                                            "Source", snd_mixer_selem_get_name(mux), 0, 1, (unsigned)items));
        } else {
            unsigned switches = 0;
            for (const Src &s : src_) switches += snd_mixer_selem_has_capture_switch(s.elem) ? 1 : 0;
            if (switches == src_.size() && switches > 0)
                destControls_.push_back(Add(kSwitchList, nullptr, MIX_CTRL_MIXER,
                                            MIX_CTRLF_UNIFORM | MIX_CTRLF_MULTIPLE, 1, "Sources",
                                            "Capture Sources", 0, 1, switches));
        }
        dest_.controls = (unsigned)destControls_.size();
        return !src_.empty() || !destControls_.empty();
    }

    int destination(unsigned componentType, MixLine *line) override {
        if (componentType != MIX_COMPONENT_DST_WAVEIN) return MIX_ERR_INVALLINE;
        *line = dest_;
        return MIX_OK;
    }
    int source(unsigned destination, unsigned source, MixLine *line) override {
        if (destination != 0 || source >= src_.size()) return MIX_ERR_INVALLINE;
        *line = src_[source].info;
        return MIX_OK;
    }
    int controls(unsigned lineId, std::vector<MixControl> *out) override {
        const std::vector<unsigned> *ids = nullptr;
        if (lineId == dest_.lineId) ids = &destControls_;
        for (const Src &s : src_)
            if (s.info.lineId == lineId) ids = &s.controls;
        if (!ids) return MIX_ERR_INVALLINE;
        out->clear();
        for (unsigned id : *ids) out->push_back(ctl_[id - 1].info);
        return MIX_OK;
    }
    int getValues(unsigned id, unsigned channels, unsigned items, long *v) override {
        Ctl *c = Find(id, channels, items);
        if (!c) return MIX_ERR_INVALCONTROL;
        snd_mixer_handle_events(m_);
        switch (c->kind) {
        case kVolume:
            for (unsigned ch = 0; ch < channels; ch++)
                if (snd_mixer_selem_get_capture_volume(c->elem, (snd_mixer_selem_channel_id_t)ch, &v[ch]) < 0)
                    snd_mixer_selem_get_capture_volume(c->elem, SND_MIXER_SCHN_FRONT_LEFT, &v[ch]);
            return MIX_OK;
        case kMute: {
            int on = 1;
            snd_mixer_selem_get_capture_switch(c->elem, SND_MIXER_SCHN_FRONT_LEFT, &on);
            v[0] = !on;
            return MIX_OK;
        }
        case kMux: {
            unsigned sel = 0;
            snd_mixer_selem_get_enum_item(c->elem, SND_MIXER_SCHN_FRONT_LEFT, &sel);
            for (unsigned k = 0; k < items; k++) v[k] = k == sel;
            return MIX_OK;
        }
        case kSwitchList:
            for (unsigned k = 0; k < items; k++) {
                int on = 0;
                snd_mixer_selem_get_capture_switch(src_[k].elem, SND_MIXER_SCHN_FRONT_LEFT, &on);
                v[k] = on != 0;
            }
            return MIX_OK;
        }
        return MIX_ERR_INVALCONTROL;
    }
    int setValues(unsigned id, unsigned channels, unsigned items, const long *v) override {
        Ctl *c = Find(id, channels, items);
        if (!c) return MIX_ERR_INVALCONTROL;
        switch (c->kind) {
        case kVolume:
            for (unsigned ch = 0; ch < channels; ch++)
                if (v[ch] < c->info.minimum || v[ch] > c->info.maximum) return MIX_ERR_INVALVALUE;
            if (channels == 1) return snd_mixer_selem_set_capture_volume_all(c->elem, v[0]) < 0 ? MIX_ERR_INVALVALUE : MIX_OK;
            for (unsigned ch = 0; ch < channels; ch++)
                snd_mixer_selem_set_capture_volume(c->elem, (snd_mixer_selem_channel_id_t)ch, v[ch]);
            return MIX_OK;
        case kMute:
            return snd_mixer_selem_set_capture_switch_all(c->elem, v[0] ? 0 : 1) < 0 ? MIX_ERR_INVALVALUE : MIX_OK;
        case kMux: {
            unsigned sel = items, on = 0;
            for (unsigned k = 0; k < items; k++)
                if (v[k]) { on++; if (sel == items) sel = k; }
            if (on != 1) return MIX_ERR_INVALVALUE;
            for (int ch = 0; ch <= SND_MIXER_SCHN_LAST; ch++)
                if (snd_mixer_selem_set_enum_item(c->elem, (snd_mixer_selem_channel_id_t)ch, sel) < 0 && ch > 0) break;
            return MIX_OK;
        }
        case kSwitchList:
            for (unsigned k = 0; k < items; k++) snd_mixer_selem_set_capture_switch_all(src_[k].elem, v[k] ? 1 : 0);
            return MIX_OK;
        }
        return MIX_ERR_INVALCONTROL;
    }
    int listText(unsigned id, unsigned channels, unsigned items, char (*t)[MIX_LONG_NAME]) override {
        Ctl *c = Find(id, channels, items);
        if (!c || (c->kind != kMux && c->kind != kSwitchList)) return MIX_ERR_INVALCONTROL;
        for (unsigned k = 0; k < items; k++) {
            if (c->kind == kMux) {
                char buf[MIX_LONG_NAME] = "";
                snd_mixer_selem_get_enum_item_name(c->elem, k, sizeof buf, buf);
                CopyText(t[k], MIX_LONG_NAME, buf);
            } else {
                CopyText(t[k], MIX_LONG_NAME, src_[k].info.name);
            }
        }
        return MIX_OK;
    }

private:
    unsigned Add(Kind kind, snd_mixer_elem_t *e, unsigned type, unsigned flags, unsigned channels,
                 const char *shortName, const std::string &name, long lo, long hi, unsigned items) {
        Ctl c{};
        c.info.controlId = (unsigned)ctl_.size() + 1;
        c.info.type = type;
        c.info.flags = flags;
        c.info.multipleItems = items;
        c.info.minimum = lo;
        c.info.maximum = hi;
        CopyText(c.info.shortName, sizeof c.info.shortName, shortName);
        CopyText(c.info.name, sizeof c.info.name, name.c_str());
        c.kind = kind;
        c.elem = e;
        c.channels = channels;
        ctl_.push_back(c);
        return c.info.controlId;
    }
    Ctl *Find(unsigned id, unsigned channels, unsigned items) {
        if (id < 1 || id > ctl_.size()) return nullptr;
        Ctl *c = &ctl_[id - 1];
        unsigned nitems = (c->info.flags & MIX_CTRLF_MULTIPLE) ? c->info.multipleItems : 1;
        if (items != nitems || (channels != 1 && channels != c->channels)) return nullptr;
        return c;
    }

    snd_mixer_t *m_;
    MixLine dest_{};
    std::vector<Src> src_;
    std::vector<Ctl> ctl_;
    std::vector<unsigned> destControls_;
};

}  // namespace

int AlsaMixer_Open(const std::string &pcmName, std::unique_ptr<MixerBackend> *out) {
    snd_mixer_t *m = nullptr;
    if (snd_mixer_open(&m, 0) < 0) return MIX_ERR_NODRIVER;
    if (snd_mixer_attach(m, CardOf(pcmName).c_str()) < 0 || snd_mixer_selem_register(m, nullptr, nullptr) < 0 ||
        snd_mixer_load(m) < 0) {
        snd_mixer_close(m);
        return MIX_ERR_NODRIVER;
    }
    AlsaMixer *a = new AlsaMixer(m);
    if (!a->Build()) {
        delete a;
        return MIX_ERR_NODRIVER;
    }
    out->reset(a);
    return MIX_OK;
}
