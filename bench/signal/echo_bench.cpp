// The NLMS canceller against libspeexdsp's on the echo of half a minute of speech,
// in one run: the same made path, the same taps, the same 10 ms blocks. Prints both
// echo-return-loss enhancements and the ratio of their times.
#include <speex/speex_echo.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "echo.h"
#include "speech_fixture.h"
#include "yastro.h"

static double Seconds(std::chrono::steady_clock::time_point a) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - a).count();
}

static double Erle(const std::vector<int16_t> &near, const std::vector<int16_t> &res, size_t from, size_t to) {
    double a = 0, b = 0;
    for (size_t i = from; i < to; i++) a += (double)near[i] * near[i], b += (double)res[i] * res[i];
    return 10 * std::log10(a / std::max(b, 1.0));
}

int main() {
    const int taps = 256, frame = 80, delay = 40;
    std::string dir = fixture::tempDir();
    std::string text;
    for (int i = 0; i < 6; i++) text += "The rain in Spain stays mainly in the plain, said the old man to the children. ";
    std::vector<int16_t> far = fixture::speech(dir, text, 8000);
    fixture::run("rm -rf " + dir);
    if (far.size() < 8000) {
        fprintf(stderr, "echo_bench: espeak-ng or sox missing\n");
        return 1;
    }
    far.resize(far.size() / frame * frame);
    std::mt19937 gen(3);
    std::normal_distribution<float> nd(0, 1);
    std::vector<float> h(64);
    for (int k = 0; k < 64; k++) h[k] = 0.3f * nd(gen) * std::exp(-k / 12.0f);
    std::vector<int16_t> near(far.size(), 0);
    for (size_t i = delay; i < far.size(); i++) {
        float y = 0;
        for (int k = 0; k < 64 && k + delay <= (int)i; k++) y += h[k] * far[i - delay - k];
        near[i] = (int16_t)std::lround(std::max(-32768.0f, std::min(32767.0f, y)));
    }

    auto t0 = std::chrono::steady_clock::now();
    EchoParams *p = Echo_Default();
    p->npoints = taps;
    p->delay = 0;
    Echo *e = Echo_Initialize(p);
    DB_Free(p, __FILE__, __LINE__);
    std::vector<int16_t> ours;
    ours.reserve(far.size());
    WaveRecord *d = Wave_New(frame, 8000), *ec = Wave_New(frame, 8000);
    for (size_t b = 0; b < far.size(); b += frame) {
        std::copy(far.begin() + b, far.begin() + b + frame, d->samples);
        std::copy(near.begin() + b, near.begin() + b + frame, ec->samples);
        WaveRecord *r = Echo_LMSCancel(e, d, ec);
        if (r) ours.insert(ours.end(), r->samples, r->samples + r->len);
        Wave_Free(r);
    }
    Wave_Free(d);
    Wave_Free(ec);
    Echo_Nuke(e);
    double mine = Seconds(t0);

    t0 = std::chrono::steady_clock::now();
    SpeexEchoState *st = speex_echo_state_init(frame, taps);
    int rate = 8000;
    speex_echo_ctl(st, SPEEX_ECHO_SET_SAMPLING_RATE, &rate);
    std::vector<int16_t> peer(far.size());
    for (size_t b = 0; b < far.size(); b += frame) speex_echo_cancellation(st, &near[b], &far[b], &peer[b]);
    speex_echo_state_destroy(st);
    double theirs = Seconds(t0);

    double seconds = far.size() / 8000.0;
    size_t from = 8000, to = std::min(ours.size(), peer.size());
    printf("echo cancellation, %d taps, %.1f s of speech: NLMS %.3f s (ERLE %.1f dB), libspeexdsp %.3f s "
           "(ERLE %.1f dB), time ratio %.2f\n",
           taps, seconds, mine, Erle(near, ours, from, to), theirs, Erle(near, peer, from, to), mine / theirs);
    return 0;
}
