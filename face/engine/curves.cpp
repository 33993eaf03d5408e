// Animation curves: spline basis, eases, Hermite key segments and the key
// samplers that the idle motion and the tag tracks share.  Single precision
// throughout, as the key tables are.
#include <cmath>
#include <vector>

#include "engine.h"

namespace brovana {

float BrovanaEngine::safeDivide(float a, float b) {
    if (b != 0) return a / b;
    return a == 0 ? 0.0f : 1e30f;
}

float BrovanaEngine::splineBasis(int i, int k, float t, const float *knots) {
    if (k == 0) return (knots[i] <= t && t < knots[i + 1]) ? 1.0f : 0.0f;
    float left = safeDivide((t - knots[i]) * splineBasis(i, k - 1, t, knots), knots[i + k] - knots[i]);
    float right = safeDivide((knots[i + k + 1] - t) * splineBasis(i + 1, k - 1, t, knots),
                             knots[i + k + 1] - knots[i + 1]);
    return left + right;
}

void BrovanaEngine::splineWeights(int n, float t, const float *knots, float out[2]) {
    if (n > 0 && t >= 0) {
        out[0] = splineBasis(n - 1, 1, t, knots);
        out[1] = splineBasis(n, 1, t, knots);
    } else {
        out[0] = 1;
        out[1] = 0;
    }
}

float BrovanaEngine::sineEase(float t, float k1, float k2) {
    const float twoOverPi = 0.6366198f, halfPi = 1.5707963f;
    float f = k1 * twoOverPi, h = (1 - k2) * twoOverPi;
    float v;
    if (t < k1)
        v = f * (1 + std::sin(t / k1 * halfPi - halfPi));
    else if (t <= k2)
        v = f + t - k1;
    else
        v = f + (k2 - k1) + h * std::sin((t - k2) / (1 - k2) * halfPi);
    return v / (f + h + (k2 - k1));
}

float BrovanaEngine::parabolicEase(float t, float k1, float k2) {
    float vmax = 2 / (k2 + 1 - k1);
    if (t < k1) return vmax * t * t / (2 * k1);
    if (t < k2) return vmax * k1 / 2 + vmax * (t - k1);
    return vmax * k1 / 2 + vmax * (k2 - k1) + vmax * (t - t * t / 2 - k2 + k2 * k2 / 2) / (1 - k2);
}

void BrovanaEngine::hermiteBasis(float u, float out[4]) {
    float u2 = u * u, u3 = u2 * u;
    out[0] = 2 * u3 - 3 * u2 + 1;
    out[1] = 3 * u2 - 2 * u3;
    out[2] = u3 - 2 * u2 + u;
    out[3] = u3 - u2;
}

void BrovanaEngine::hermiteSegment(int j, const float *kt, const float *tension, const float *continuity,
                                   const float *bias, float t, float out[3], int smooth) {
    float b = j == 0 ? 0.0f : kt[j] - kt[j - 1];
    float d = kt[j + 1] - kt[j];
    float u = (t - kt[j]) / d;
    if ((smooth & 0xff) == 0) {
        out[0] = 0;
        out[1] = 1 - u;
        out[2] = u;
        return;
    }
    float s = b + d;
    float Tj = tension[j], Cj = continuity[j], Bj = bias[j];
    float Tn = tension[j + 1], Cn = continuity[j + 1], Bn = bias[j + 1];
    float P = (1 - Tj) * (1 - Cj) * (1 - Bj) * d / s;
    float Q = (1 - Tj) * (1 + Cj) * (1 + Bj) * d / s;
    float R = (1 - Tn) * (1 + Cn) * (1 - Bn) * b / s;
    float S = (1 - Tn) * (1 - Cn) * (1 + Bn) * b / s;
    float h[4];
    hermiteBasis(u, h);
    out[0] = -(h[3] * S + h[2] * Q);
    out[1] = (S - R) * h[3] + (Q - P) * h[2] + h[0];
    out[2] = R * h[3] + P * h[2] + h[1];
}

void BrovanaEngine::hermiteSegmentAt(int j, int slot, const float *kt, float t, float *const out[3], int smooth) {
    if (j < 0 || slot < 0) return;
    std::vector<float> zero(j + 2, 0.0f);  // segment j reads keys j and j + 1
    float w[3];
    hermiteSegment(j, kt, zero.data(), zero.data(), zero.data(), t, w, smooth);
    for (int k = 0; k < 3; k++) out[k][slot] = w[k];
}

namespace {

// The common walk of every sampler: for each frame find the segment that
// holds its time (never searching backwards) and hand the weight triple and
// the three key indices to emit.
template <typename TimeOf, typename Emit>
void Walk(int frames, const float *tension, const float *continuity, const float *bias, int keyCount,
          const float *keyTimes, int smooth, TimeOf timeOf, Emit emit) {
    if (keyCount < 2) return;
    int j = 0;
    for (int i = 0; i < frames; i++) {
        float t = timeOf(i);
        int found = -1;
        for (int s = j; s <= keyCount - 2; s++)
            if (keyTimes[s] <= t && t < keyTimes[s + 1]) {
                found = s;
                break;
            }
        if (found < 0) continue;
        j = found;
        float w[3];
        BrovanaEngine::hermiteSegment(j, keyTimes, tension, continuity, bias, t, w, smooth);
        emit(i, j == 0 ? 1 : j - 1, j, j + 1, w);
    }
}

}  // namespace

void BrovanaEngine::sampleIdleKeys(int frames, float step, const float *tension, const float *continuity,
                                   const float *bias, int keyCount, const float *keyTimes,
                                   const float *const *values, float **out, int valueCount, int smooth) {
    Walk(frames, tension, continuity, bias, keyCount, keyTimes, smooth, [&](int i) { return i * step; },
         [&](int i, int p, int c, int n, const float *w) {
             for (int k = 0; k < valueCount; k++)
                 out[k][i] = w[0] * values[p][k] + w[1] * values[c][k] + w[2] * values[n][k];
         });
}

void BrovanaEngine::sampleHeadKeys(int frames, float step, const float *tension, const float *continuity,
                                   const float *bias, int keyCount, const float *keyTimes,
                                   const int *const *values, float **out, int valueCount, int smooth) {
    Walk(frames, tension, continuity, bias, keyCount, keyTimes, smooth, [&](int i) { return i * step; },
         [&](int i, int p, int c, int n, const float *w) {
             for (int k = 0; k < valueCount; k++)
                 out[k][i] = w[0] * values[p][k] + w[1] * values[c][k] + w[2] * values[n][k];
         });
}

void BrovanaEngine::samplePoseKeys(int frames, int step, const float *tension, const float *continuity,
                                   const float *bias, int keyCount, const float *keyTimes,
                                   const float *const *values, float **out, int valueCount, int smooth) {
    int acc = 0, last = -1;
    Walk(frames, tension, continuity, bias, keyCount, keyTimes, smooth,
         [&](int i) {
             // the time is a running integer sum of steps
             while (last < i) {
                 if (last >= 0) acc += step;
                 last++;
             }
             return (float)acc;
         },
         [&](int i, int p, int c, int n, const float *w) {
             for (int k = 0; k < valueCount; k++)
                 out[k][i] = w[0] * values[p][k] + w[1] * values[c][k] + w[2] * values[n][k];
         });
}

void BrovanaEngine::sampleFetKeys(int frames, float step, const float *tension, const float *continuity,
                                  const float *bias, int keyCount, const float *keyTimes, const int *values,
                                  int *outKeys[3], float *outWeights[3], int smooth) {
    Walk(frames, tension, continuity, bias, keyCount, keyTimes, smooth, [&](int i) { return i * step; },
         [&](int i, int p, int c, int n, const float *w) {
             outKeys[0][i] = values[p], outKeys[1][i] = values[c], outKeys[2][i] = values[n];
             for (int k = 0; k < 3; k++) outWeights[k][i] = w[k];
         });
}

void BrovanaEngine::sampleKeys(int frames, int step, const float *tension, const float *continuity,
                               const float *bias, int keyCount, const float *keyTimes, const float *values,
                               float *out, int valueCount, int smooth) {
    float fstep = (float)step;
    if (valueCount > 3) valueCount = 3;
    Walk(frames, tension, continuity, bias, keyCount, keyTimes, smooth, [&](int i) { return i * fstep; },
         [&](int i, int p, int c, int n, const float *w) {
             for (int k = 0; k < valueCount; k++)
                 out[i * 3 + k] = w[0] * values[p * 3 + k] + w[1] * values[c * 3 + k] + w[2] * values[n * 3 + k];
         });
}

}  // namespace brovana
