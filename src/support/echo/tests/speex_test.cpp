// The NLMS canceller against libspeexdsp's on the echo of speech: the same
// spoken sentence, the same made echo path, the same taps for both. Neither
// is told the path's delay.
#include <gtest/gtest.h>
#include <speex/speex_echo.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "echo.h"
#include "speech_fixture.h"
#include "yastro.h"

namespace {

constexpr int kTaps = 256, kFrame = 80, kDelay = 40;

// A decaying random echo path of 64 taps, kDelay samples late.
std::vector<int16_t> echoOf(const std::vector<int16_t> &far) {
    std::mt19937 gen(3);
    std::normal_distribution<float> n(0, 1);
    std::vector<float> h(64);
    for (int k = 0; k < 64; k++) h[k] = 0.3f * n(gen) * std::exp(-k / 12.0f);
    std::vector<int16_t> near(far.size(), 0);
    for (size_t i = kDelay; i < far.size(); i++) {
        float y = 0;
        for (int k = 0; k < 64 && k + kDelay <= (int)i; k++) y += h[k] * far[i - kDelay - k];
        near[i] = (int16_t)std::lround(std::max(-32768.0f, std::min(32767.0f, y)));
    }
    return near;
}

std::vector<int16_t> ours(const std::vector<int16_t> &far, const std::vector<int16_t> &near) {
    EchoParams *p = Echo_Default();
    p->npoints = kTaps;
    p->delay = 0;
    Echo *e = Echo_Initialize(p);
    DB_Free(p, __FILE__, __LINE__);
    std::vector<int16_t> out;
    for (size_t b = 0; b < far.size(); b += kFrame) {
        int n = (int)std::min<size_t>(kFrame, far.size() - b);
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

std::vector<int16_t> speex(const std::vector<int16_t> &far, const std::vector<int16_t> &near) {
    SpeexEchoState *st = speex_echo_state_init(kFrame, kTaps);
    int rate = 8000;
    speex_echo_ctl(st, SPEEX_ECHO_SET_SAMPLING_RATE, &rate);
    std::vector<int16_t> out(far.size() / kFrame * kFrame);
    for (size_t b = 0; b < out.size(); b += kFrame) speex_echo_cancellation(st, &near[b], &far[b], &out[b]);
    speex_echo_state_destroy(st);
    return out;
}

// Echo-return-loss enhancement over [from, to), in dB.
double erle(const std::vector<int16_t> &near, const std::vector<int16_t> &res, size_t from, size_t to) {
    double a = 0, b = 0;
    for (size_t i = from; i < to; i++) a += (double)near[i] * near[i], b += (double)res[i] * res[i];
    return 10 * std::log10(a / std::max(b, 1.0));
}

TEST(EchoSpeech, NoWorseThanSpeexLessThreeDecibels) {
    if (!fixture::haveTool("espeak-ng") || !fixture::haveTool("sox")) GTEST_SKIP() << "espeak-ng or sox missing";
    std::string dir = fixture::tempDir();
    std::vector<int16_t> far = fixture::speech(
        dir, "The rain in Spain stays mainly in the plain, said the old man to the children by the sea.", 8000);
    fixture::run("rm -rf " + dir);
    ASSERT_GT(far.size(), 16000u);
    std::vector<int16_t> near = echoOf(far);
    std::vector<int16_t> a = ours(far, near), b = speex(far, near);
    ASSERT_EQ(a.size(), far.size());
    // After the first second, when both have had speech to learn from.
    size_t from = 8000, to = b.size();
    double mine = erle(near, a, from, to), peer = erle(near, b, from, to);
    RecordProperty("erle_nlms", std::to_string(mine));
    RecordProperty("erle_speex", std::to_string(peer));
    EXPECT_GE(mine, peer - 3.0) << "NLMS " << mine << " dB, speex " << peer << " dB";
    EXPECT_GT(mine, 15.0);
}

}  // namespace
