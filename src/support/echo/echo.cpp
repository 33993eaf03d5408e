#include "echo.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "yastro.h"

namespace {

const char *kSource = "src/support/echo/echo";
const float kStep = 0.5f;

int16_t clip16(double v) {
    if (std::isnan(v)) return 0;
    v = std::lround(v);
    return (int16_t)(v > 32767 ? 32767 : v < -32768 ? -32768 : v);
}

EchoChannel *copyChannel(const EchoChannel *c) { return c ? Channel_Initialize(c->pulse, c->length) : nullptr; }

void loadTaps(Echo *e, bool fromPulse) {
    std::fill(e->taps, e->taps + e->npoints, 0.0f);
    if (fromPulse && e->pulse)
        std::copy(e->pulse->pulse, e->pulse->pulse + std::min(e->npoints, e->pulse->length), e->taps);
}

enum Method { LMS, PULSE, BOTH };

float dataAt(const Echo *e, long i) { return i >= 0 && i < e->data.length ? e->data.samples[i] : 0.0f; }

// Cancels echo samples up to (not including) end; adapt chooses NLMS.
WaveRecord *run(Echo *e, int32_t end, const float *taps, int ntaps, bool adapt) {
    int32_t from = e->echo.processed;
    if (end <= from) return nullptr;
    WaveRecord *w = Wave_New(end - from, e->echo.rate > 0 ? e->echo.rate : 8000.0f);
    for (int32_t j = from; j < end; j++) {
        long base = (long)j - e->delay;
        double est = 0, energy = 0;
        for (int k = 0; k < ntaps; k++) {
            float x = dataAt(e, base - k);
            est += taps[k] * x;
            energy += (double)x * x;
        }
        double err = e->echo.samples[j] - est;
        if (adapt) {
            float g = (float)(kStep * err / (energy + ntaps * 1.0));
            for (int k = 0; k < ntaps; k++) e->taps[k] += g * dataAt(e, base - k);
        }
        w->samples[j - from] = clip16(err);
    }
    e->echo.processed = end;
    e->state = ECHO_UPDATE;
    return w;
}

WaveRecord *cancel(Echo *e, const WaveRecord *data, const WaveRecord *echo, Method m) {
    Buffer_PutWave(&e->data, data);
    Buffer_PutWave(&e->echo, echo);
    if (m == BOTH && e->state == ECHO_INIT && e->echo.processed == 0) loadTaps(e, true);
    // Echo samples whose data sample has arrived.
    long ready = std::min<long>(e->echo.length, (long)e->data.length + e->delay);
    e->pulseOnly = m == PULSE;
    if (m == PULSE) {
        if (!e->pulse) return nullptr;
        return run(e, (int32_t)ready, e->pulse->pulse, e->pulse->length, false);
    }
    return run(e, (int32_t)ready, e->taps, e->npoints, true);
}

}  // namespace

extern "C" {

EchoChannel *Channel_Initialize(const float *row, int n) {
    if (n < 1 || !row) return nullptr;
    EchoChannel *c = static_cast<EchoChannel *>(DB_Malloc(sizeof(EchoChannel), kSource, __LINE__));
    c->length = n;
    c->pulse = static_cast<float *>(DB_Malloc((size_t)n * sizeof(float), kSource, __LINE__));
    memcpy(c->pulse, row, (size_t)n * sizeof(float));
    return c;
}

void Channel_Nuke(EchoChannel *c) {
    if (!c) return;
    DB_Free(c->pulse, kSource, __LINE__);
    DB_Free(c, kSource, __LINE__);
}

void Channel_Simulate(const EchoChannel *c, const float *in, float *out, int n) {
    for (int i = 0; i < n; i++) {
        double s = 0;
        int kmax = std::min(i, c->length - 1);
        for (int k = 0; k <= kmax; k++) s += (double)c->pulse[k] * in[i - k];
        out[i] = (float)s;
    }
}

EchoParams *Echo_Default(void) {
    EchoParams *p = static_cast<EchoParams *>(DB_Malloc(sizeof(EchoParams), kSource, __LINE__));
    p->npoints = 256;
    p->delay = 0;
    p->pulse = nullptr;
    return p;
}

Echo *Echo_Initialize(const EchoParams *p) {
    if (p->npoints < 1 || p->delay < 0) return nullptr;
    Echo *e = static_cast<Echo *>(DB_Malloc(sizeof(Echo), kSource, __LINE__));
    memset(e, 0, sizeof(Echo));
    e->npoints = p->npoints;
    e->delay = p->delay;
    e->pulseBlock = 80;
    e->pulse = copyChannel(p->pulse);
    e->taps = static_cast<float *>(DB_Malloc((size_t)p->npoints * sizeof(float), kSource, __LINE__));
    Echo_Reset(e);
    return e;
}

void Echo_Reset(Echo *e) {
    for (EchoBuffer *b : {&e->data, &e->echo}) {
        DB_Free(b->samples, kSource, __LINE__);
        b->samples = nullptr;
        b->length = b->processed = 0;
    }
    e->state = ECHO_INIT;
    e->pulseOnly = 0;
    loadTaps(e, false);
}

void Echo_Nuke(Echo *e) {
    if (!e) return;
    DB_Free(e->data.samples, kSource, __LINE__);
    DB_Free(e->echo.samples, kSource, __LINE__);
    Channel_Nuke(e->pulse);
    DB_Free(e->taps, kSource, __LINE__);
    DB_Free(e, kSource, __LINE__);
}

void Buffer_PutWave(EchoBuffer *b, const WaveRecord *w) {
    if (!w || w->len <= 0) return;
    b->samples = static_cast<int16_t *>(
        DB_Realloc(b->samples, ((size_t)b->length + w->len) * sizeof(int16_t), kSource, __LINE__));
    memcpy(b->samples + b->length, w->samples, (size_t)w->len * sizeof(int16_t));
    b->length += w->len;
    if (w->infoCount > 0 && w->info && w->info[0] > 0) b->rate = w->info[0];
}

WaveRecord *Echo_LMSCancel(Echo *e, const WaveRecord *data, const WaveRecord *echo) {
    return cancel(e, data, echo, LMS);
}

WaveRecord *Echo_PulseCancel(Echo *e, const WaveRecord *data, const WaveRecord *echo) {
    return cancel(e, data, echo, PULSE);
}

WaveRecord *Echo_Cancel(Echo *e, const WaveRecord *data, const WaveRecord *echo) {
    return cancel(e, data, echo, BOTH);
}

WaveRecord *Echo_Flush(Echo *e) {
    WaveRecord *w = nullptr;
    if (e->state == ECHO_INIT && e->pulse) loadTaps(e, true);
    if (e->pulseOnly && e->pulse) w = run(e, e->echo.length, e->pulse->pulse, e->pulse->length, false);
    else w = run(e, e->echo.length, e->taps, e->npoints, false);
    if (!w) w = Wave_New(0, e->echo.rate > 0 ? e->echo.rate : 8000.0f);
    e->state = ECHO_FLUSH;
    return w;
}

WaveRecord *Echo_Simulate(Echo *e, const WaveRecord *data, const WaveRecord *echo) {
    if (!e->pulse || !data || data->len <= 0) return nullptr;
    int n = data->len;
    float *in = static_cast<float *>(DB_Malloc((size_t)n * sizeof(float), kSource, __LINE__));
    float *out = static_cast<float *>(DB_Malloc((size_t)n * sizeof(float), kSource, __LINE__));
    for (int i = 0; i < n; i++) in[i] = data->samples[i];
    Channel_Simulate(e->pulse, in, out, n);
    int len = std::max(n, echo ? echo->len : 0);
    WaveRecord *w = Wave_New(len, data->infoCount > 0 && data->info ? data->info[0] : 8000.0f);
    for (int i = 0; i < len; i++)
        w->samples[i] = clip16((i < n ? out[i] : 0.0) + (echo && i < echo->len ? echo->samples[i] : 0));
    DB_Free(in, kSource, __LINE__);
    DB_Free(out, kSource, __LINE__);
    return w;
}

int Echo_PulseConv(Echo *e, const WaveRecord *wave, float *out, float *energy) {
    if (!e->pulse) return 1;
    int n = wave->len;
    float *in = static_cast<float *>(DB_Malloc((size_t)std::max(n, 1) * sizeof(float), kSource, __LINE__));
    for (int i = 0; i < n; i++) in[i] = wave->samples[i];
    Channel_Simulate(e->pulse, in, out, n);
    DB_Free(in, kSource, __LINE__);
    int blocks = n / e->pulseBlock;
    for (int b = 0; b < blocks; b++) {
        double s = 0;
        for (int i = 0; i < e->pulseBlock; i++) s += (double)out[b * e->pulseBlock + i] * out[b * e->pulseBlock + i];
        energy[b] = (float)s;
    }
    return 0;
}

}  // extern "C"
