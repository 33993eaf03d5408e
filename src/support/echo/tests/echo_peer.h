// The NLMS canceller and libspeexdsp's on the same made echo of a far-end
// signal, block by block, with the same taps; shared by the check and the
// benchmark. Neither canceller is told the path's delay.
#pragma once

#include <speex/speex_echo.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "echo.h"
#include "yastro.h"

namespace echopeer {

// The far end through a decaying random path of 64 taps, delay samples late.
inline std::vector<int16_t> echoOf(const std::vector<int16_t> &far, int delay) {
    std::mt19937 gen(3);
    std::normal_distribution<float> n(0, 1);
    std::vector<float> h(64);
    for (int k = 0; k < 64; k++) h[k] = 0.3f * n(gen) * std::exp(-k / 12.0f);
    std::vector<int16_t> near(far.size(), 0);
    for (size_t i = delay; i < far.size(); i++) {
        float y = 0;
        for (int k = 0; k < 64 && k + delay <= (int)i; k++) y += h[k] * far[i - delay - k];
        near[i] = (int16_t)std::lround(std::max(-32768.0f, std::min(32767.0f, y)));
    }
    return near;
}

// Residuals of the NLMS canceller, cancel and flush together.
inline std::vector<int16_t> nlms(const std::vector<int16_t> &far, const std::vector<int16_t> &near, int taps,
                                 int frame) {
    EchoParams *p = Echo_Default();
    p->npoints = taps;
    p->delay = 0;
    Echo *e = Echo_Initialize(p);
    DB_Free(p, __FILE__, __LINE__);
    std::vector<int16_t> out;
    out.reserve(far.size());
    for (size_t b = 0; b < far.size(); b += frame) {
        int n = (int)std::min<size_t>(frame, far.size() - b);
        WaveRecord *d = Wave_New(n, 8000), *ec = Wave_New(n, 8000);
        std::copy(far.begin() + b, far.begin() + b + n, d->samples);
        std::copy(near.begin() + b, near.begin() + b + n, ec->samples);
        WaveRecord *r = Echo_LMSCancel(e, d, ec);
        if (r) out.insert(out.end(), r->samples, r->samples + r->len);
        Wave_Free(r);
        Wave_Free(d);
        Wave_Free(ec);
    }
    WaveRecord *f = Echo_Flush(e);
    out.insert(out.end(), f->samples, f->samples + f->len);
    Wave_Free(f);
    Echo_Nuke(e);
    return out;
}

// Residuals of libspeexdsp's canceller over the whole frames of the signal.
inline std::vector<int16_t> speex(const std::vector<int16_t> &far, const std::vector<int16_t> &near, int taps,
                                  int frame) {
    SpeexEchoState *st = speex_echo_state_init(frame, taps);
    int rate = 8000;
    speex_echo_ctl(st, SPEEX_ECHO_SET_SAMPLING_RATE, &rate);
    std::vector<int16_t> out(far.size() / frame * frame);
    for (size_t b = 0; b < out.size(); b += frame) speex_echo_cancellation(st, &near[b], &far[b], &out[b]);
    speex_echo_state_destroy(st);
    return out;
}

// Echo-return-loss enhancement over [from, to), in dB.
inline double erle(const std::vector<int16_t> &near, const std::vector<int16_t> &res, size_t from, size_t to) {
    double a = 0, b = 0;
    for (size_t i = from; i < to; i++) a += (double)near[i] * near[i], b += (double)res[i] * res[i];
    return 10 * std::log10(a / std::max(b, 1.0));
}

}  // namespace echopeer
