// Eye rolls and tongue shapes from the markup's EYEM and TON tags, and the
// tongue placement the markup path draws.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "engine.h"

namespace brovana {

namespace {

int SideOf(char c) {
    switch (c) {
    case 'B': case 'b': return 0;
    case 'R': case 'r': return 1;
    case 'L': case 'l': return 2;
    default: return -1;
    }
}

// Rest-shape factors exist for the five characters with a tongue table of
// their own shape; the markup tongue is drawn for those only.
const float kRestF0[5] = {0.2f, 3.5f, 4.5f, 2.5f, 1.0f};
const float kRestF1[5] = {0.08f, 1.3f, 2.0f, 1.0f, 0.5f};
const float kRestF2[5] = {0.8f, 0.8f, 0.8f, 0.8f, 1.0f};

}  // namespace

void BrovanaEngine::fillEyemKeys(int R, float *w0, float *w1, int *t0, int *t1, int P, int r, bool reverse) const {
    const int up = slots_[15], right = slots_[18], down = slots_[16], left = slots_[17], neutral = slots_[6];
    int n = 0;
    auto put = [&](int a, int b, float x, float y) { t0[n] = a, t1[n] = b, w0[n] = x, w1[n] = y, n++; };
    auto ramp = [&] {
        for (int i = 0; i <= R; i++) put(neutral, up, 1 - (float)i / R, (float)i / R);
    };
    ramp();
    for (int rep = 0; rep < r; rep++)
        for (int i = 0; i < P; i++) {
            float a = (float)i / R, b;
            int x, y;
            if (a < 1.5707963f) x = up, y = right, b = a;
            else if (a <= 3.1415926f) x = right, y = down, b = a - 1.5707963f;
            else if (a <= 4.7123889f) x = down, y = left, b = a - 3.1415925f;
            else x = left, y = up, b = a - 4.712389f;
            put(x, y, std::cos(b) * std::cos(b), std::sin(b) * std::sin(b));
        }
    ramp();
    if (!reverse) return;
    for (int i = 0, j = n - 1; i < j; i++, j--) {
        std::swap(t0[i], t0[j]), std::swap(t1[i], t1[j]);
        std::swap(w0[i], w0[j]), std::swap(w1[i], w1[j]);
    }
}

void BrovanaEngine::buildEyemTrack() {
    const int first = leadingTag_ ? 1 : 0, count = (int)columns_.size();
    const float step = 1000.0f / fps_;
    struct Move {
        int start, revolutions, side;
        bool reverse;
    };
    std::vector<Move> moves;
    auto parse = [&](const std::string &v, int start) {
        int a = 0, r = 0;
        char mode = 0, side = 0;
        if (v.empty() || sscanf(v.c_str(), "%d,%d, %c,%c", &a, &r, &mode, &side) != 4 || r < 0) return;
        moves.push_back({start, r, SideOf(side), mode == 'C' || mode == 'c'});
    };
    if (leadingTag_ && count > 0) parse(columns_[0][2], 0);
    for (int e = first; e < count; e++) {
        float t = wordEndTime(e - first);
        int s = (int)(t / step);
        if (t - s * step > 0.001f) s++;
        parse(columns_[e][2], s);
    }
    secondOn_ = false;
    if (moves.empty() || F_ == 0) return;
    const int neutral = slots_[6];
    for (int k = 0; k < 2; k++) emTarget_[k].assign(F_, neutral), emWeight_[k].assign(F_, k == 0 ? 1.0f : 0.0f);
    emSide_.assign(F_, 0);
    const int R = 1, P = (int)(2 * 3.1415926f * 1 + 1);
    for (const Move &m : moves) {
        int L = m.revolutions * P + 2 * (R + 1);
        std::vector<float> w0(L), w1(L);
        std::vector<int> t0(L), t1(L);
        fillEyemKeys(R, w0.data(), w1.data(), t0.data(), t1.data(), P, m.revolutions, m.reverse);
        for (int i = 0; i < L && m.start + i < F_; i++) {
            int f = m.start + i;
            emTarget_[0][f] = t0[i], emTarget_[1][f] = t1[i];
            emWeight_[0][f] = w0[i], emWeight_[1][f] = w1[i];
            emSide_[f] = m.side;
        }
    }
    secondOn_ = true;
}

void BrovanaEngine::buildTonTrack() {
    const int first = leadingTag_ ? 1 : 0, count = (int)columns_.size();
    const float step = 1000.0f / fps_;
    struct Key {
        float t, h;
        int entry;
        bool shape;
    };
    auto entryOf = [&](const std::string &v, int *n) {
        size_t comma = v.find(',');
        *n = 0;
        if (comma != std::string::npos) sscanf(v.c_str() + comma + 1, "%d", n);
        return libraryIndex(tongueLib_, v.substr(0, comma));
    };
    std::vector<Key> keys;
    for (int e = first; e < count; e++) {
        const std::string &v = columns_[e][4];
        if (v.empty()) continue;
        int n;
        int entry = entryOf(v, &n);
        keys.push_back({wordEndTime(e - first), std::max(n, 0) * step, entry, true});
    }
    tongueTrack_ = false;
    if (keys.empty() || F_ == 0) return;
    if (count > first && columns_[count - 1][4].empty()) keys.push_back({wordEndTime(count - 1 - first), 0, -1, false});
    int lead = -1, n;
    if (leadingTag_ && !columns_[0][4].empty()) lead = entryOf(columns_[0][4], &n);
    std::vector<float> knot;
    std::vector<int> entry;
    auto add = [&](float t, int en) { knot.push_back(t), entry.push_back(en); };
    add(0, lead), add(0, lead);
    for (const Key &k : keys) {
        if (k.shape) {
            add(std::max(k.t - k.h, 0.0f), -1);
            add(k.t, k.entry);
            add(std::min(k.t + k.h, duration_), -1);
        } else {
            add(k.t, -1);
        }
    }
    add(knot.back(), entry.back());
    for (int k = 0; k < 2; k++) tonEntry_[k].assign(F_, -1), tonWeight_[k].assign(F_, k == 0 ? 1.0f : 0.0f);
    size_t j = 1;
    for (int f = 0; f < F_; f++) {
        float tau = f * step;
        while (j + 2 < knot.size() && tau >= knot[j + 1]) j++;
        if (!(knot[j] <= tau && tau < knot[j + 1])) continue;
        float span = knot[j + 1] - knot[j];
        tonEntry_[0][f] = entry[j], tonEntry_[1][f] = entry[j + 1];
        tonWeight_[0][f] = (knot[j + 1] - tau) / span, tonWeight_[1][f] = (tau - knot[j]) / span;
    }
    tongueTrack_ = true;
}

void BrovanaEngine::tongueBaseShape(const float S[18], float yOff[9], float zOff[9], float tip[3], float body[3],
                                    float tr[3]) const {
    for (int i = 0; i < 9; i++) yOff[i] = S[3 + i] - (kind_.adapted ? 5.0f : 0.0f), zOff[i] = 0;
    for (int k = 0; k < 3; k++) tip[k] = S[12 + k], body[k] = S[15 + k], tr[k] = S[k];
    if (kind_.adapted) body[2] *= 0.8f;
}

bool BrovanaEngine::tongueRestShape(int entry, float yOff[9], float zOff[9], float tip[3], float body[3],
                                    float tr[3]) const {
    // the library shape; no entry leaves the rest row as it is
    float LA[9] = {0}, LB[9] = {0}, LC[3] = {1, 1, 1}, LD[3] = {1, 1, 1};
    if (entry >= 0 && entry < (int)tongueLib_.size()) {
        const std::vector<int> &e = tongueLib_[entry].values;
        for (int i = 0; i < 9; i++) LA[i] = (e[i] - 100) * 0.01f, LB[i] = (e[9 + i] - 100) * 0.01f;
        for (int k = 0; k < 3; k++) LC[k] = (e[18 + k] - 100) * 0.01f + 1, LD[k] = (e[21 + k] - 100) * 0.02f + 1;
    }
    return tongueRestShapeFrom(LA, LB, LC, LD, yOff, zOff, tip, body, tr);
}

bool BrovanaEngine::tongueRestShapeFrom(const float LA[9], const float LB[9], const float LC[3], const float LD[3],
                                        float yOff[9], float zOff[9], float tip[3], float body[3],
                                        float tr[3]) const {
    if (ctype_ < 0 || ctype_ > 4) return false;
    const float *R = tongueRest_;
    float amp = std::fabs(R[2]);
    for (int i = 0; i < 9; i++) {
        yOff[i] = R[3 + i] - amp * kRestF1[ctype_] * LA[i];
        zOff[i] = -(amp * kRestF0[ctype_] * LB[i]);
    }
    for (int k = 0; k < 3; k++) {
        tip[k] = R[12 + k] * LC[k];
        body[k] = kRestF2[ctype_] * R[15 + k] * LD[k];
        tr[k] = R[k];
    }
    return true;
}

void BrovanaEngine::tongueDrawShape(float yOff[9], float zOff[9], float tip[3], float body[3], float tr[3]) const {
    float S[18];
    tongueShapeFromVisemes(curRows_, curTargets_, curTongue_, curW_, S);
    tongueBaseShape(S, yOff, zOff, tip, body, tr);
    if (!(markupTrack_ && tongueTrack_)) {
        // an edited tongue entry holds until the markup's tongue takes over
        if (tongueRestFlag_) tongueRestShapeFrom(restLA_, restLB_, restLC_, restLD_, yOff, zOff, tip, body, tr);
        return;
    }
    int e0 = curTon_[0], e1 = curTon_[1];
    if (e0 < 0 && e1 < 0) return;  // the window's own shape
    float ly[9], lz[9], lt[3], lb[3], lr[3];
    if (!tongueRestShape(e0 >= 0 ? e0 : e1, ly, lz, lt, lb, lr)) return;
    // the library shape holds its weight, the window's shape the other
    float wl = e0 >= 0 && e1 >= 0 ? 1.0f : e0 >= 0 ? curTonW_[0] : curTonW_[1];
    float wb = 1 - wl;
    for (int i = 0; i < 9; i++) yOff[i] = wb * yOff[i] + wl * ly[i], zOff[i] = wb * zOff[i] + wl * lz[i];
    for (int k = 0; k < 3; k++) {
        tip[k] = wb * tip[k] + wl * lt[k], body[k] = wb * body[k] + wl * lb[k], tr[k] = wb * tr[k] + wl * lr[k];
    }
}

}  // namespace brovana
