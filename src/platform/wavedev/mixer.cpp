// Mixer handles: argument checks in front of the back end's mixer.
#include <cstring>
#include <mutex>
#include <set>

#include "pcm_backend.h"

struct Mixer {
    std::unique_ptr<MixerBackend> be;
};

namespace {

std::mutex gLock;
std::set<Mixer *> gMixers;

bool Live(Mixer *m) {
    std::lock_guard<std::mutex> g(gLock);
    return m && gMixers.count(m);
}

}  // namespace

extern "C" int Mixer_Open(Mixer **m, WaveIn *in) {
    if (!m) return MIX_ERR_INVALPARAM;
    unsigned id;
    PcmBackend *b = WaveIn_Backend(in);
    if (!b || WaveIn_GetDeviceId(in, &id) != WAVE_OK) return MIX_ERR_INVALHANDLE;
    std::unique_ptr<MixerBackend> be;
    int rc = b->openMixer(id, &be);
    if (rc != MIX_OK) return rc;
    Mixer *x = new Mixer{std::move(be)};
    std::lock_guard<std::mutex> g(gLock);
    gMixers.insert(x);
    *m = x;
    return MIX_OK;
}

extern "C" int Mixer_Close(Mixer *m) {
    if (!Live(m)) return MIX_ERR_INVALHANDLE;
    {
        std::lock_guard<std::mutex> g(gLock);
        gMixers.erase(m);
    }
    delete m;
    return MIX_OK;
}

extern "C" int Mixer_GetDestination(Mixer *m, unsigned componentType, MixLine *line) {
    if (!Live(m)) return MIX_ERR_INVALHANDLE;
    if (!line) return MIX_ERR_INVALPARAM;
    return m->be->destination(componentType, line);
}

extern "C" int Mixer_GetSource(Mixer *m, unsigned destination, unsigned source, MixLine *line) {
    if (!Live(m)) return MIX_ERR_INVALHANDLE;
    if (!line) return MIX_ERR_INVALPARAM;
    return m->be->source(destination, source, line);
}

extern "C" int Mixer_GetLineControls(Mixer *m, unsigned lineId, MixControl *controls, unsigned count,
                                     unsigned *got) {
    if (!Live(m)) return MIX_ERR_INVALHANDLE;
    if (count && !controls) return MIX_ERR_INVALPARAM;
    std::vector<MixControl> v;
    int rc = m->be->controls(lineId, &v);
    if (rc != MIX_OK) return rc;
    for (unsigned i = 0; i < count && i < v.size(); i++) controls[i] = v[i];
    if (got) *got = (unsigned)v.size();
    return MIX_OK;
}

extern "C" int Mixer_GetLineControlByType(Mixer *m, unsigned lineId, unsigned type, MixControl *control) {
    if (!Live(m)) return MIX_ERR_INVALHANDLE;
    if (!control) return MIX_ERR_INVALPARAM;
    std::vector<MixControl> v;
    int rc = m->be->controls(lineId, &v);
    if (rc != MIX_OK) return rc;
    for (const MixControl &c : v)
        if (c.type == type) {
            *control = c;
            return MIX_OK;
        }
    return MIX_ERR_INVALCONTROL;
}

extern "C" int Mixer_GetValues(Mixer *m, unsigned controlId, unsigned channels, unsigned items, long *values) {
    if (!Live(m)) return MIX_ERR_INVALHANDLE;
    if (!values || !channels || !items) return MIX_ERR_INVALPARAM;
    return m->be->getValues(controlId, channels, items, values);
}

extern "C" int Mixer_SetValues(Mixer *m, unsigned controlId, unsigned channels, unsigned items,
                               const long *values) {
    if (!Live(m)) return MIX_ERR_INVALHANDLE;
    if (!values || !channels || !items) return MIX_ERR_INVALPARAM;
    return m->be->setValues(controlId, channels, items, values);
}

extern "C" int Mixer_GetListText(Mixer *m, unsigned controlId, unsigned channels, unsigned items,
                                 char (*texts)[MIX_LONG_NAME]) {
    if (!Live(m)) return MIX_ERR_INVALHANDLE;
    if (!texts || !channels || !items) return MIX_ERR_INVALPARAM;
    return m->be->listText(controlId, channels, items, texts);
}

extern "C" int Mixer_ErrorText(int code, char *buf, size_t len) {
    const char *t;
    switch (code) {
    case MIX_OK: t = "no error"; break;
    case MIX_ERR_INVALHANDLE: t = "not an open mixer"; break;
    case MIX_ERR_NODRIVER: t = "the device has no mixer"; break;
    case MIX_ERR_INVALPARAM: t = "invalid parameter"; break;
    case MIX_ERR_INVALLINE: t = "no such mixer line"; break;
    case MIX_ERR_INVALCONTROL: t = "no such mixer control"; break;
    case MIX_ERR_INVALVALUE: t = "value out of range for the mixer control"; break;
    default: t = "unknown mixer error"; break;
    }
    CopyText(buf, len, t);
    return MIX_OK;
}
