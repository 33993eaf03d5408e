// The virtual input device's mixer: a fixed set of lines and controls whose settings
// live in the process (see mixer.h).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "pcm_backend.h"

namespace {

struct MCtrl {
    MixControl info;
    unsigned channels;                 // entries per item
    std::vector<long> values;          // item-major
    std::vector<std::string> items;
};

struct MLine {
    MixLine info;
    std::vector<unsigned> controls;    // control ids
};

struct Model {
    MLine dest;
    std::vector<MLine> sources;
    std::vector<MCtrl> controls;       // id = index + 1
};

std::mutex gLock;
Model *gModel = nullptr;

unsigned AddControl(Model &m, MLine &line, unsigned type, unsigned flags, const char *shortName,
                    const char *name, long lo, long hi, std::vector<long> values,
                    std::vector<std::string> items = {}) {
    MCtrl c{};
    c.info.controlId = (unsigned)m.controls.size() + 1;
    c.info.type = type;
    c.info.flags = flags;
    c.info.multipleItems = (flags & MIX_CTRLF_MULTIPLE) ? (unsigned)items.size() : 0;
    c.info.minimum = lo;
    c.info.maximum = hi;
    CopyText(c.info.shortName, sizeof c.info.shortName, shortName);
    CopyText(c.info.name, sizeof c.info.name, name);
    c.channels = (flags & MIX_CTRLF_UNIFORM) ? 1 : line.info.channels;
    unsigned nitems = items.empty() ? 1 : (unsigned)items.size();
    c.values.assign((size_t)c.channels * nitems, 0);
    for (size_t i = 0; i < values.size() && i < c.values.size(); i++) c.values[i] = values[i];
    c.items = std::move(items);
    m.controls.push_back(c);
    line.controls.push_back(c.info.controlId);
    line.info.controls = (unsigned)line.controls.size();
    return c.info.controlId;
}

MLine MakeLine(unsigned lineId, unsigned component, unsigned channels, const char *shortName, const char *name,
               unsigned source) {
    MLine l{};
    l.info.destination = 0;
    l.info.source = source;
    l.info.lineId = lineId;
    l.info.componentType = component;
    l.info.channels = channels;
    CopyText(l.info.shortName, sizeof l.info.shortName, shortName);
    CopyText(l.info.name, sizeof l.info.name, name);
    return l;
}

// TOVIK_AUDIO_MIXER=fader: a plainer card, whose destination has a recording volume but
// no source selector, and whose sources are "mic" (volume, mute) and "Microphone" (volume).
Model *BuildFader() {
    Model *m = new Model;
    m->dest = MakeLine(0, MIX_COMPONENT_DST_WAVEIN, 2, "Rec", "Recording Control", 0);
    MLine mic = MakeLine(0x10000u, MIX_COMPONENT_SRC_MICROPHONE, 1, "mic", "mic", 0);
    AddControl(*m, mic, MIX_CTRL_VOLUME, 0, "mic Vol", "mic Volume", 0, 65535, {65535});
    AddControl(*m, mic, MIX_CTRL_MUTE, MIX_CTRLF_UNIFORM, "Mute", "mic Mute", 0, 1, {0});
    m->sources.push_back(mic);
    MLine big = MakeLine(0x10001u, MIX_COMPONENT_SRC_MICROPHONE, 1, "Mic", "Microphone", 1);
    AddControl(*m, big, MIX_CTRL_VOLUME, 0, "Mic Vol", "Microphone Volume", 0, 65535, {16384});
    m->sources.push_back(big);
    m->dest.info.connections = (unsigned)m->sources.size();
    AddControl(*m, m->dest, MIX_CTRL_VOLUME, 0, "Rec Vol", "Recording Volume", 0, 65535, {65535, 65535});
    return m;
}

Model *Build() {
    const char *kind = getenv("TOVIK_AUDIO_MIXER");
    if (kind && strcmp(kind, "fader") == 0) return BuildFader();
    Model *m = new Model;
    m->dest = MakeLine(0, MIX_COMPONENT_DST_WAVEIN, 2, "Rec", "Recording Control", 0);
    struct Src { unsigned comp, ch; const char *sn, *n; long vol; bool controls, boost; };
    const Src srcs[] = {
        {MIX_COMPONENT_SRC_MICROPHONE, 1, "Mic", "Microphone", 49152, true, true},
        {MIX_COMPONENT_SRC_LINE, 2, "Line", "Line In", 32768, true, false},
        {MIX_COMPONENT_SRC_COMPACTDISC, 2, "CD", "CD Audio", 32768, true, false},
        {MIX_COMPONENT_SRC_TELEPHONE, 1, "Phone", "Phone Line", 0, false, false},
    };
    unsigned j = 0;
    for (const Src &s : srcs) {
        MLine l = MakeLine(0x10000u + j, s.comp, s.ch, s.sn, s.n, j);
        if (s.controls) {
            std::string n = s.n;
            AddControl(*m, l, MIX_CTRL_VOLUME, 0, (std::string(s.sn) + " Vol").c_str(), (n + " Volume").c_str(),
                       0, 65535, {s.vol, s.vol});
            AddControl(*m, l, MIX_CTRL_MUTE, MIX_CTRLF_UNIFORM, "Mute", (n + " Mute").c_str(), 0, 1, {0});
            if (s.boost)
                AddControl(*m, l, MIX_CTRL_ONOFF, MIX_CTRLF_UNIFORM, "Boost", (n + " Boost").c_str(), 0, 1, {0});
        }
        m->sources.push_back(l);
        j++;
    }
    m->dest.info.connections = (unsigned)m->sources.size();
    AddControl(*m, m->dest, MIX_CTRL_MUX, MIX_CTRLF_UNIFORM | MIX_CTRLF_MULTIPLE, "Source", "Recording Source",
               0, 1, {1, 0, 0}, {"Microphone", "Line In", "CD Audio"});
    AddControl(*m, m->dest, MIX_CTRL_VOLUME, 0, "Rec Vol", "Recording Volume", 0, 65535, {65535, 65535});
    return m;
}

Model &M() {
    if (!gModel) gModel = Build();
    return *gModel;
}

class VirtualMixer : public MixerBackend {
public:
    int destination(unsigned componentType, MixLine *line) override {
        std::lock_guard<std::mutex> g(gLock);
        if (componentType != MIX_COMPONENT_DST_WAVEIN) return MIX_ERR_INVALLINE;
        *line = M().dest.info;
        return MIX_OK;
    }
    int source(unsigned destination, unsigned source, MixLine *line) override {
        std::lock_guard<std::mutex> g(gLock);
        if (destination != 0 || source >= M().sources.size()) return MIX_ERR_INVALLINE;
        *line = M().sources[source].info;
        return MIX_OK;
    }
    int controls(unsigned lineId, std::vector<MixControl> *out) override {
        std::lock_guard<std::mutex> g(gLock);
        const MLine *l = Line(lineId);
        if (!l) return MIX_ERR_INVALLINE;
        out->clear();
        for (unsigned id : l->controls) out->push_back(M().controls[id - 1].info);
        return MIX_OK;
    }
    int getValues(unsigned id, unsigned channels, unsigned items, long *values) override {
        std::lock_guard<std::mutex> g(gLock);
        MCtrl *c = Ctrl(id, channels, items);
        if (!c) return MIX_ERR_INVALCONTROL;
        for (unsigned k = 0; k < items; k++)
            for (unsigned ch = 0; ch < channels; ch++) values[k * channels + ch] = c->values[k * c->channels + ch];
        return MIX_OK;
    }
    int setValues(unsigned id, unsigned channels, unsigned items, const long *values) override {
        std::lock_guard<std::mutex> g(gLock);
        MCtrl *c = Ctrl(id, channels, items);
        if (!c) return MIX_ERR_INVALCONTROL;
        bool list = c->info.type >= 0x70000000u;
        bool single = c->info.type == MIX_CTRL_MUX || c->info.type == MIX_CTRL_SINGLESELECT;
        unsigned on = 0;
        for (unsigned i = 0; i < channels * items; i++) {
            long v = values[i];
            if (list || c->info.type < 0x30000000u) v = v != 0;   // switches and lists hold 0 or 1
            else if (v < c->info.minimum || v > c->info.maximum) return MIX_ERR_INVALVALUE;
            on += v != 0;
        }
        if (single && on != channels) return MIX_ERR_INVALVALUE;   // exactly one item selected
        for (unsigned k = 0; k < items; k++)
            for (unsigned ch = 0; ch < c->channels; ch++) {
                long v = values[k * channels + (channels == 1 ? 0 : ch)];
                if (list || c->info.type < 0x30000000u) v = v != 0;
                c->values[k * c->channels + ch] = v;
            }
        return MIX_OK;
    }
    int listText(unsigned id, unsigned channels, unsigned items, char (*texts)[MIX_LONG_NAME]) override {
        std::lock_guard<std::mutex> g(gLock);
        MCtrl *c = Ctrl(id, channels, items);
        if (!c || c->items.empty()) return MIX_ERR_INVALCONTROL;
        for (unsigned k = 0; k < items; k++)
            for (unsigned ch = 0; ch < channels; ch++)
                CopyText(texts[k * channels + ch], MIX_LONG_NAME, c->items[k].c_str());
        return MIX_OK;
    }

private:
    const MLine *Line(unsigned lineId) {
        if (lineId == M().dest.info.lineId) return &M().dest;
        for (const MLine &l : M().sources)
            if (l.info.lineId == lineId) return &l;
        return nullptr;
    }
    // The control, when the shape asked for fits it: one channel or all, and all items.
    MCtrl *Ctrl(unsigned id, unsigned channels, unsigned items) {
        if (id < 1 || id > M().controls.size()) return nullptr;
        MCtrl *c = &M().controls[id - 1];
        unsigned nitems = c->items.empty() ? 1 : (unsigned)c->items.size();
        if (items != nitems || (channels != 1 && channels != c->channels)) return nullptr;
        return c;
    }
};

}  // namespace

int VirtualMixer_Open(unsigned inputId, std::unique_ptr<MixerBackend> *out) {
    if (inputId != 0) return MIX_ERR_NODRIVER;
    out->reset(new VirtualMixer);
    return MIX_OK;
}

void VirtualMixer_Reset() {
    std::lock_guard<std::mutex> g(gLock);
    delete gModel;
    gModel = nullptr;
}
