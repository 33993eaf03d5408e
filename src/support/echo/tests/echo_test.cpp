#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "echo.h"
#include "yastro.h"

namespace {

WaveRecord *wave(const std::vector<float> &v, int from, int to) {
    WaveRecord *w = Wave_New(to - from, 8000);
    for (int i = from; i < to; i++) w->samples[i - from] = (int16_t)std::lround(v[i]);
    return w;
}

double energy(const int16_t *s, int from, int to) {
    double e = 0;
    for (int i = from; i < to; i++) e += (double)s[i] * s[i];
    return e;
}

// A decaying random echo path of 64 taps.
std::vector<float> path(unsigned seed) {
    std::mt19937 gen(seed);
    std::normal_distribution<float> n(0, 1);
    std::vector<float> h(64);
    for (int k = 0; k < 64; k++) h[k] = 0.3f * n(gen) * std::exp(-k / 12.0f);
    return h;
}

struct Made {
    std::vector<float> far, near;
};

Made made(const std::vector<float> &h, int delay, int n) {
    std::mt19937 gen(11);
    std::normal_distribution<float> noise(0, 3000);
    Made m;
    m.far.resize(n);
    for (auto &x : m.far) x = std::round(std::max(-32768.0f, std::min(32767.0f, noise(gen))));
    EchoChannel *c = Channel_Initialize(h.data(), (int)h.size());
    std::vector<float> y(n);
    Channel_Simulate(c, m.far.data(), y.data(), n);
    Channel_Nuke(c);
    m.near.assign(n, 0.0f);
    for (int i = delay; i < n; i++) m.near[i] = y[i - delay];
    return m;
}

TEST(Channel, SimulateIsCausalConvolutionAsLongAsTheInput) {
    float h[] = {1, 0.5f, -0.25f};
    EchoChannel *c = Channel_Initialize(h, 3);
    float in[] = {2, 0, 0, 4};
    float out[4];
    Channel_Simulate(c, in, out, 4);
    EXPECT_EQ(std::vector<float>(out, out + 4), (std::vector<float>{2, 1, -0.5f, 4}));
    Channel_Nuke(c);
    EXPECT_EQ(Channel_Initialize(h, 0), nullptr);
}

// NLMS takes at least 25 dB off the echo of white noise once converged; the
// data and echo arrive in blocks, and cancel plus flush cover the echo.
TEST(Echo, NlmsRemovesWhiteNoiseEcho) {
    const int n = 32000, delay = 40;
    Made m = made(path(5), delay, n);
    EchoParams *p = Echo_Default();
    p->npoints = 128;
    p->delay = delay;
    Echo *e = Echo_Initialize(p);
    DB_Free(p, __FILE__, __LINE__);
    std::vector<int16_t> res;
    for (int b = 0; b < n; b += 800) {
        WaveRecord *d = wave(m.far, b, b + 800), *ec = wave(m.near, b, b + 800);
        WaveRecord *r = Echo_LMSCancel(e, d, ec);
        if (r) res.insert(res.end(), r->samples, r->samples + r->len);
        Wave_Free(d);
        Wave_Free(ec);
        Wave_Free(r);
    }
    WaveRecord *f = Echo_Flush(e);
    res.insert(res.end(), f->samples, f->samples + f->len);
    Wave_Free(f);
    ASSERT_EQ((int)res.size(), n);
    std::vector<int16_t> near(m.near.begin(), m.near.end());
    double erle = 10 * std::log10(energy(near.data(), n / 2, n) / std::max(1.0, energy(res.data(), n / 2, n)));
    EXPECT_GT(erle, 25.0);
    EXPECT_EQ(e->state, ECHO_FLUSH);
    Echo_Nuke(e);
}

// With the true path as its -pulse channel the canceller needs no
// adaptation; NLMS started from it stays there. The pulse is copied.
TEST(Echo, PulseChannelModelsThePath) {
    const int n = 8000;
    std::vector<float> h = path(9);
    Made m = made(h, 0, n);
    for (int method = 0; method < 2; method++) {
        EchoChannel *c = Channel_Initialize(h.data(), (int)h.size());
        EchoParams *p = Echo_Default();
        p->npoints = 64;
        p->pulse = c;
        Echo *e = Echo_Initialize(p);
        DB_Free(p, __FILE__, __LINE__);
        Channel_Nuke(c);
        WaveRecord *d = wave(m.far, 0, n), *ec = wave(m.near, 0, n);
        WaveRecord *r = method ? Echo_Cancel(e, d, ec) : Echo_PulseCancel(e, d, ec);
        ASSERT_NE(r, nullptr);
        std::vector<int16_t> near(m.near.begin(), m.near.end());
        double erle = 10 * std::log10(energy(near.data(), 0, n) / std::max(1.0, energy(r->samples, 0, n)));
        EXPECT_GT(erle, 35.0) << method;
        WaveRecord *f = Echo_Flush(e);
        EXPECT_EQ(f->len, 0);
        Wave_Free(f);
        Wave_Free(d);
        Wave_Free(ec);
        Wave_Free(r);
        Echo_Nuke(e);
    }
}

TEST(Echo, EdgeCases) {
    EchoParams *p = Echo_Default();
    p->npoints = 0;
    EXPECT_EQ(Echo_Initialize(p), nullptr);
    p->npoints = 4;
    p->delay = -1;
    EXPECT_EQ(Echo_Initialize(p), nullptr);
    p->delay = 2;
    Echo *e = Echo_Initialize(p);
    DB_Free(p, __FILE__, __LINE__);
    // No pulse channel: pulse cancelling, simulation and pulse conversion
    // have nothing to work with.
    std::vector<float> v = {100, 200, 300};
    WaveRecord *w = wave(v, 0, 3);
    EXPECT_EQ(Echo_PulseCancel(e, nullptr, w), nullptr);
    EXPECT_EQ(Echo_Simulate(e, w, nullptr), nullptr);
    float out[3], en[1];
    EXPECT_EQ(Echo_PulseConv(e, w, out, en), 1);
    // The echo went into its buffer all the same. With no data, the samples
    // within the delay line up with silence and pass; the flush takes the
    // rest.
    WaveRecord *r = Echo_LMSCancel(e, nullptr, nullptr);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(std::vector<int16_t>(r->samples, r->samples + r->len), (std::vector<int16_t>{100, 200}));
    EXPECT_EQ(Echo_LMSCancel(e, nullptr, nullptr), nullptr);
    WaveRecord *f = Echo_Flush(e);
    EXPECT_EQ(std::vector<int16_t>(f->samples, f->samples + f->len), (std::vector<int16_t>{300}));
    Wave_Free(f);
    Wave_Free(r);
    Wave_Free(w);
    Echo_Nuke(e);
}

}  // namespace
