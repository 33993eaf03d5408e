#include "urvane.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "yastro.h"

namespace {

const char *kSource = "src/support/urvane/urvane";

// Levinson-Durbin: predictor a[1..p] from autocorrelation r[0..p].
void levinson(const std::vector<double> &r, int p, std::vector<double> &a) {
    a.assign(p + 1, 0.0);
    a[0] = 1;
    double err = r[0];
    if (err <= 0) return;
    std::vector<double> tmp(p + 1);
    for (int i = 1; i <= p; i++) {
        double acc = r[i];
        for (int j = 1; j < i; j++) acc += a[j] * r[i - j];
        double k = -acc / err;
        tmp = a;
        for (int j = 1; j < i; j++) a[j] = tmp[j] + k * tmp[i - j];
        a[i] = k;
        err *= 1 - k * k;
        if (err <= 0) break;
    }
}

struct Frame {
    bool voiced;
    int period;
};

}  // namespace

extern "C" {

UrvaneParams *urvane_Default(void) {
    UrvaneParams *p = static_cast<UrvaneParams *>(DB_Malloc(sizeof(UrvaneParams), kSource, __LINE__));
    p->f0min = 60;
    p->f0max = 400;
    p->voicing = 0.3f;
    return p;
}

Urvane *urvane_Init(const UrvaneParams *p) {
    Urvane *u = static_cast<Urvane *>(DB_Malloc(sizeof(Urvane), kSource, __LINE__));
    u->params = *p;
    return u;
}

void urvane_Reset(Urvane *) {}

void urvane_Nuke(Urvane *u) { DB_Free(u, kSource, __LINE__); }

void urvane_PulseTrain(Urvane *, const WaveRecord *wave, float *out) {
    int n = wave->len;
    float rate = wave->infoCount > 0 && wave->info && wave->info[0] > 0 ? wave->info[0] : 8000.0f;
    int order = std::max(2, std::min(40, (int)(rate / 1000) + 2));
    int hop = std::max(1, (int)std::lround(rate * 0.01)), win = std::max(order + 1, (int)std::lround(rate * 0.03));
    std::vector<double> x(n), res(n, 0.0), w(win), r(order + 1), a;
    for (int i = 0; i < n; i++) x[i] = wave->samples[i];
    for (int i = 0; i < win; i++) w[i] = 0.54 - 0.46 * std::cos(2 * M_PI * i / std::max(1, win - 1));
    for (int f0 = 0; f0 < n; f0 += hop) {
        int start = f0 + hop / 2 - win / 2;
        for (int k = 0; k <= order; k++) {
            double s = 0;
            for (int i = k; i < win; i++) {
                int p = start + i, q = start + i - k;
                if (p >= 0 && p < n && q >= 0) s += x[p] * w[i] * x[q] * w[i - k];
            }
            r[k] = s;
        }
        r[0] *= 1.0 + 1e-9;
        levinson(r, order, a);
        for (int i = f0; i < std::min(n, f0 + hop); i++) {
            double e = x[i];
            for (int k = 1; k <= order && i - k >= 0; k++) e += a[k] * x[i - k];
            res[i] = e;
        }
    }
    for (int i = 0; i < n; i++) {
        double s = 0;
        for (int d = -1; d <= 1; d++)
            if (i + d >= 0 && i + d < n) s += res[i + d] * res[i + d] * (d == 0 ? 0.5 : 0.25);
        out[i] = (float)s;
    }
}

WaveRecord *urvane_Mark(const float *x, const float *pulse, int n, float rate) {
    WaveRecord *w = Wave_New(n, rate);
    if (n <= 0 || !(rate > 0)) return w;
    int hop = std::max(1, (int)std::lround(rate * 0.01)), span = std::max(2, (int)std::lround(rate * 0.04));
    int lagMin = std::max(1, (int)(rate / 400)), lagMax = std::max(lagMin + 1, (int)(rate / 60));
    double peak = 0;
    for (int i = 0; i < n; i++) peak = std::max(peak, (double)std::fabs(x[i]));
    std::vector<Frame> frames((n + hop - 1) / hop);
    for (size_t f = 0; f < frames.size(); f++) {
        int c = (int)f * hop + hop / 2, s0 = c - span / 2;
        double e = 0, best = -1;
        int bestLag = 0;
        for (int i = 0; i < span; i++)
            if (s0 + i >= 0 && s0 + i < n) e += (double)x[s0 + i] * x[s0 + i];
        if (e <= span * (peak * 0.01) * (peak * 0.01) || e == 0) {
            frames[f] = {false, 0};
            continue;
        }
        std::vector<double> cs(lagMax, -1.0);
        for (int k = lagMin; k < lagMax; k++) {
            double s = 0, e1 = 0, e2 = 0;
            for (int i = 0; i + k < span; i++) {
                int p = s0 + i, q = s0 + i + k;
                if (p < 0 || q >= n) continue;
                s += (double)x[p] * x[q];
                e1 += (double)x[p] * x[p];
                e2 += (double)x[q] * x[q];
            }
            double c2 = e1 > 0 && e2 > 0 ? s / std::sqrt(e1 * e2) : 0;
            cs[k] = c2;
            if (c2 > best) {
                best = c2;
                bestLag = k;
            }
        }
        // Against octave errors: the shortest lag at a local peak within
        // 90 % of the best.
        for (int k = lagMin + 1; k + 1 < lagMax; k++)
            if (cs[k] >= 0.9 * best && cs[k] >= cs[k - 1] && cs[k] >= cs[k + 1]) {
                bestLag = k;
                break;
            }
        frames[f] = {best > 0.3, bestLag};
    }
    int last = -1;
    int i = 0;
    while (i < n) {
        const Frame &fr = frames[i / hop];
        if (!fr.voiced) {
            last = -1;
            i = (i / hop + 1) * hop;
            continue;
        }
        int T = fr.period, from, to;
        if (last < 0 || i - last > 2 * T) {
            from = i;
            to = std::min(n, i + T);
        } else {
            from = last + (int)(0.7 * T);
            to = std::min(n, last + (int)(1.3 * T) + 1);
        }
        if (from >= n) break;
        int m = from;
        for (int k = from; k < to; k++)
            if (pulse[k] > pulse[m]) m = k;
        // A pulse well below its neighbours' is the lead-in or the ring of
        // the last pulse, not a closure.
        float ref = 0;
        for (int k = std::max(0, m - span / 2); k < std::min(n, m + span / 2); k++) ref = std::max(ref, pulse[k]);
        if (!(pulse[m] > 0.2f * ref)) {
            last = -1;
            i = std::max(to, i + 1);
            continue;
        }
        w->samples[m] = 1;
        last = m;
        i = m + 1;
        if (i < from + 1) i = from + 1;
    }
    return w;
}

void medianFilter(const float *in, float *out, int count, int width) {
    if (width < 1) width = 1;
    int half = width / 2;
    std::vector<float> buf;
    for (int i = 0; i < count; i++) {
        int a = std::max(0, i - half), b = std::min(count, i - half + width);
        buf.assign(in + a, in + b);
        std::nth_element(buf.begin(), buf.begin() + buf.size() / 2, buf.end());
        out[i] = buf[buf.size() / 2];
    }
}

}  // extern "C"
