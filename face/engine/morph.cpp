// The morph-target face (target slots, mouth layer, per-frame update, rest
// mouth) and its expression layer (composed expressions, the expression mix,
// idle blinks, brow raises and head motion).
#include <cmath>
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "engine.h"
#include "tables.h"

namespace brovana {

namespace {
const int kBlinkSlot = 20, kBrowUpSlot = 7, kNeutralSlot = 6;
}

int BrovanaEngine::findVisemeTarget(int row) {
    if (ctype_ < 0) ctype_ = 0;
    if (row < 0) {
        fputs("Errro in Str", stdout);
        fflush(stdout);
        return -1;
    }
    if (row >= kPhonemeRows) return -1;
    std::string name = row == 0 ? CharacterPrefix[ctype_] : VisemePrefix[ctype_];
    if (ctype_ <= 9) name += PhonemeVisemeTable[row].viseme[ctype_];
    for (int i = 0; i < nObjects_; i++)
        if (objects_[i]->name == name) return i;
    return -1;
}

void BrovanaEngine::bindTargets() {
    static const int order[] = {7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 6, 20, 0, 1, 2, 3, 4, 5, 21};
    int col = ctype_ >= 8 ? 8 : ctype_;
    for (int s : order) {
        if (s == kNeutralSlot) {
            slots_[s] = findVisemeTarget(0);
            continue;
        }
        const char *name = SlotNames[s][col];
        for (int i = 0; i < nObjects_; i++)
            if (objects_[i]->name == name) {
                slots_[s] = i;
                break;
            }
    }
}

// A target index that names no model or work object counts as empty.
static bool Valid(int t, int count) { return t >= 0 && t < count; }

void BrovanaEngine::evalVisemeVertex(int W, const int *targets, int v, float *x, float *y, float *z) const {
    const MeshObject &o0 = *objects_[0];
    if (regionCode(v) == 0) {
        *x = o0.x[v], *y = o0.y[v], *z = o0.z[v];
        return;
    }
    float sx = 0, sy = 0, sz = 0;
    for (int s = 0; s <= W; s++) {
        int t = targets[s];
        if (!Valid(t, nObjects_)) continue;
        const MeshObject &o = *objects_[t];
        sx += curLip_[s] * o.x[v];
        sy += curLip_[s] * o.y[v];
        sz += curLip_[s] * o.z[v];
    }
    *x = sx, *y = sy, *z = sz;
}

void BrovanaEngine::evalBasisVertex(int v, float *x, float *y, float *z) const {
    const MeshObject &o0 = *objects_[0];
    *x = o0.x[v], *y = o0.y[v], *z = o0.z[v];
    if (regionCode(v) == 0 || o0.z[v] >= 38.0f) return;
    const std::vector<double> &basis = ctype_ == 8 ? basis15_ : basis38_;
    int blocks = ctype_ == 8 ? 15 : basisCount38_;
    const float *c = ctype_ == 8 ? coef15_ : coef38_.data();
    if (basis.empty()) return;
    long V = o0.V;
    double s[3] = {0, 0, 0};
    for (int k = 0; k < blocks; k++)
        for (int a = 0; a < 3; a++) s[a] += (double)c[k] * basis[(k * V + v) * 3 + a];
    if (kind_.adapted && adapt_.size() >= 9 * (size_t)(v + 1)) {
        // the adapted faces turn the displacement by the vertex's matrix
        const float *m = &adapt_[9 * (size_t)v];
        double a[3] = {m[0] * s[0] + m[1] * s[1] + m[2] * s[2], m[3] * s[0] + m[4] * s[1] + m[5] * s[2],
                       m[6] * s[0] + m[7] * s[1] + m[8] * s[2]};
        s[0] = a[0], s[1] = a[1], s[2] = a[2];
    }
    *x += (float)s[0], *y += (float)s[1], *z += (float)s[2];
}

void BrovanaEngine::updateFaceVertices(const int *targets, int W) {
    if (!modelLoaded_) return;
    int copy[kWindowRoom];
    if (W > kWindowRoom - 1) W = kWindowRoom - 1;
    memcpy(copy, targets, sizeof(int) * (W + 1));
    MeshObject &out = *objects_[evalIndex_];
    for (int v : faceVerts_) {
        float x, y, z, dx, dy, dz;
        if (ctype_ < 8)
            evalVisemeVertex(W, copy, v, &x, &y, &z);
        else
            evalBasisVertex(v, &x, &y, &z);
        expressionOffset(v, &dx, &dy, &dz);
        out.x[v] = x + dx, out.y[v] = y + dy, out.z[v] = z + dz;
    }
}

void BrovanaEngine::restMouth() {
    int W = curW_;
    if (W == 1) {
        for (int s = 0; s < 2; s++) {
            curTargets_[s] = slots_[kNeutralSlot];
            curRows_[s] = 0;
            curLip_[s] = curTongue_[s] = s == 0 ? 1.0f : 0.0f;
        }
    } else if (W + 1 > 0) {
        for (int s = 0; s <= W && s < kWindowRoom; s++) {
            curTargets_[s] = slots_[kNeutralSlot];
            curRows_[s] = 0;
            curLip_[s] = curTongue_[s] = 1.0f / (W + 1);
        }
    }
    mixT_[0] = mixT_[1] = mixT_[2] = slots_[kNeutralSlot];
    mixW_[0] = 1, mixW_[1] = mixW_[2] = 0;
    memset(coef15_, 0, sizeof coef15_);
    std::fill(coef38_.begin(), coef38_.end(), 0.0f);
}

void BrovanaEngine::resetFaceState() {
    mixW_[0] = 1, mixW_[1] = mixW_[2] = 0;
    memset(coef15_, 0, sizeof coef15_);
    std::fill(coef38_.begin(), coef38_.end(), 0.0f);
    mixT_[0] = mixT_[1] = mixT_[2] = slots_[kNeutralSlot];
    resetExpressionState();
}

// Unlike the drop of the markup at a preparation, this keeps the tag
// columns and tracks: only the switches that make frames follow them go off.
// The neck-matrix switch stays on so that the zeroed head shows at once.
bool BrovanaEngine::resetExpressionState() {
    exprTrack_ = hgtOn_ = eyeOn_ = secondOn_ = poseTrack_ = false;
    clearHeadOffsets();
    seqPlaying_ = false;
    mixSource_ = true;
    secondOdd_ = secondEven_ = true;
    return true;
}

void BrovanaEngine::lerpTargetShapes(int count, float a, int out, int target, int base) {
    int total = (int)objects_.size();
    if (!Valid(out, total) || !Valid(target, total) || !Valid(base, total)) return;
    MeshObject &o = *objects_[out];
    const MeshObject &t = *objects_[target], &b = *objects_[base];
    count = std::min({count, o.V, t.V, b.V});
    for (int v = 0; v < count; v++) {
        o.x[v] = b.x[v] + a * (t.x[v] - b.x[v]);
        o.y[v] = b.y[v] + a * (t.y[v] - b.y[v]);
        o.z[v] = b.z[v] + a * (t.z[v] - b.z[v]);
    }
}

void BrovanaEngine::measureNeutralTarget(float *span, int *low, int *high) {
    const char *name = nullptr;
    if (ctype_ == 0 || ctype_ == 4 || ctype_ == 8 || ctype_ == 9) name = "TAM_NEUT";
    if (ctype_ == 1) name = "OB_NEUTRAL";
    if (ctype_ == 3) name = "DU_NEUTRAL";
    int b = name ? findNode(name) : -1;
    *span = 0;
    if (b < 0 || nodes_[b].V == 0) return;
    const BodyNode &n = nodes_[b];
    int lo = 0, hi = 0;
    for (int i = 1; i < n.V; i++) {
        if (n.ry[i] < n.ry[lo]) *low = lo = i;
        if (n.ry[i] > n.ry[hi]) *high = hi = i;
    }
    *span = n.ry[hi] - n.ry[lo];
}

// ----------------------------------------------------------- expressions

void BrovanaEngine::setParameters(double p1, double p2, double p3, double p4, double p5, double p6) {
    memset(E_, 0, sizeof E_);
    // storage order: sad, surprise, smile, fear, disgust, angry
    emo_[0] = (float)(2.5 * p1);
    emo_[5] = (float)(2.5 * p2);
    emo_[2] = (float)(2.5 * p3);
    emo_[3] = (float)(2.5 * p4);
    emo_[4] = (float)(2.5 * p5);
    emo_[1] = (float)(2.5 * p6);
    for (int &g : gates_) g = 1;
    refreshExpression();
    useComposedExpression();
}

void BrovanaEngine::refreshExpression() {
    mixSource_ = true;
    composed_ = composeExpression(0);
    savedExpression_ = expression_;
    savedExpression2_ = expression2_;
    expression_ = expression2_ = true;
    restoreFlag_ = true;
}

int BrovanaEngine::composeExpression(int index) {
    if (!modelLoaded_) return 0;
    int outIndex = nObjects_ + index;
    if (!Valid(outIndex, (int)objects_.size())) return 0;
    MeshObject &out = *objects_[outIndex];
    const int N = slots_[kNeutralSlot];
    if (!Valid(N, nObjects_)) return outIndex;
    const MeshObject &n = *objects_[N];
    struct Member {
        float value;
        int slot;
        int codes[4];  // region codes where it acts; 0 ends the list
        float threshold;
    };
    const float th = 0.03f;
    const Member members[] = {
        {E_[0], 7, {1, 3, 5, 7}, th},   {E_[25], 7, {2, 4, 6, 8}, th},  {E_[1], 8, {1, 3, 5, 7}, th},
        {E_[26], 8, {2, 4, 6, 8}, th},  {E_[3], 9, {1, 3, 5, 7}, th},   {E_[27], 9, {2, 4, 6, 8}, th},
        {E_[2], 20, {1, 3, 5, 7}, 0},   {E_[24], 20, {2, 4, 6, 8}, 0},  {E_[4], 15, {1, 3, 5, 7}, th},
        {E_[28], 15, {2, 4, 6, 8}, th}, {E_[5], 18, {1, 3, 5, 7}, th},  {E_[29], 18, {2, 4, 6, 8}, th},
        {E_[6], 17, {1, 3, 5, 7}, th},  {E_[30], 17, {2, 4, 6, 8}, th}, {E_[7], 16, {1, 3, 5, 7}, th},
        {E_[31], 16, {2, 4, 6, 8}, th}, {E_[8], 11, {3, 5, 0, 0}, th},  {E_[9], 11, {4, 6, 0, 0}, th},
        {E_[10], 10, {3, 5, 0, 0}, th}, {E_[11], 10, {4, 6, 0, 0}, th}, {E_[12], 14, {5, 0, 0, 0}, th},
        {E_[13], 14, {6, 0, 0, 0}, th}, {E_[14], 14, {7, 0, 0, 0}, th}, {E_[15], 14, {8, 0, 0, 0}, th},
        {E_[20], 21, {5, 0, 0, 0}, th}, {E_[21], 21, {6, 0, 0, 0}, th}, {E_[22], 21, {7, 0, 0, 0}, th},
        {E_[23], 21, {8, 0, 0, 0}, th}, {E_[16], 12, {5, 7, 0, 0}, th}, {E_[17], 12, {6, 8, 0, 0}, th},
        {E_[18], 13, {5, 7, 0, 0}, th}, {E_[19], 13, {6, 8, 0, 0}, th},
    };
    // pair gates, once
    const bool pairActs[] = {
        E_[0] + E_[25] > th,  E_[1] + E_[26] > th, E_[3] + E_[27] > th,
        E_[2] > -1 || E_[24] > -1,
        E_[4] + E_[28] > th,  E_[5] + E_[29] > th, E_[6] + E_[30] > th, E_[7] + E_[31] > th,
        E_[8] + E_[9] > th,   E_[10] + E_[11] > th,
        E_[12] + E_[13] + E_[14] + E_[15] > th, E_[20] + E_[21] + E_[22] + E_[23] > th,
        E_[16] + E_[17] > th, E_[18] + E_[19] > th};
    const int pairOf[] = {0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 10, 10,
                          11, 11, 11, 11, 12, 12, 13, 13};
    // emotions in the order sad, angry, smile, fear, disgust, surprise (slots 0..5)
    const float emo[6] = {emo_[0], emo_[5], emo_[2], emo_[3], emo_[4], emo_[1]};
    const MeshObject &o0 = *objects_[0];
    for (int v = 0; v < o0.V; v++) {
        int r = regionCode(v);
        float d[3] = {0, 0, 0};
        auto add = [&](float w, int slot) {
            int t = slots_[slot];
            if (!Valid(t, nObjects_)) return;
            const MeshObject &o = *objects_[t];
            d[0] += w * (o.x[v] - n.x[v]);
            d[1] += w * (o.y[v] - n.y[v]);
            d[2] += w * (o.z[v] - n.z[v]);
        };
        if (r != 0) {
            for (size_t i = 0; i < sizeof members / sizeof members[0]; i++) {
                const Member &m = members[i];
                if (!pairActs[pairOf[i]] || !(m.value > m.threshold)) continue;
                bool here = false;
                for (int c : m.codes)
                    if (c != 0 && c == r) here = true;
                if (here) add(m.value, m.slot);
            }
            for (int e = 0; e < 6; e++) {
                if (!(emo[e] > th)) continue;
                bool gate = (gates_[0] && (r == 2 || r == 4)) || (gates_[1] && (r == 1 || r == 3)) ||
                            (gates_[2] && r == 8) || (gates_[3] && r == 6) || (gates_[4] && r == 7) ||
                            (gates_[5] && r == 5);
                if (gate) add(emo[e], e);
            }
        }
        out.x[v] = n.x[v] + d[0];
        out.y[v] = n.y[v] + d[1];
        out.z[v] = n.z[v] + d[2];
    }
    return outIndex;
}

void BrovanaEngine::useComposedExpression() {
    if (!expression_) return;
    mixT_[0] = mixT_[1] = mixT_[2] = composed_;
    mixW_[0] = 1, mixW_[1] = mixW_[2] = 0;
}

void BrovanaEngine::applyLibraryEntries(int entry, int row) {
    if (entry >= 0 && entry < (int)paraLib_.size()) {
        applyParaEntry(entry);
        refreshExpression();
        useComposedExpression();
    }
    headTrack_ = true;
    if (row >= 0 && row < (int)headLib_.size()) applyHeadEntry(row);
}

namespace {
const int kEyeUp = 15, kEyeDown = 16, kEyeLeft = 17, kEyeRight = 18;
const int kGazeFirst = 7, kGazeOut = 11;  // work objects n + 7 .. n + 11
// The older compositions' n + 0 .. n + 6 would overwrite the composed
// expression and the evaluated face (n, n + 2): they get n + 12 .. n + 18.
const int kOlderFirst = 12;
}  // namespace

// The load makes three work objects; the gaze's and the older compositions'
// own ones come at their first use, copies of object 0.
void BrovanaEngine::ensureWorkObjects(int count) {
    const MeshObject &o0 = *objects_[0];
    while ((int)objects_.size() < nObjects_ + count) {
        std::unique_ptr<MeshObject> w(new MeshObject);
        w->V = o0.V;
        w->x = o0.x, w->y = o0.y, w->z = o0.z;
        objects_.push_back(std::move(w));
    }
}

int BrovanaEngine::blendEyeTarget(int slot, float a) {
    if (!modelLoaded_ || slot < kEyeUp || slot > kEyeRight) return -1;
    ensureWorkObjects(kGazeOut + 1);
    int out = nObjects_ + kGazeFirst + (slot - kEyeUp);
    lerpTargetShapes(objects_[0]->V, a, out, slots_[slot], slots_[kNeutralSlot]);
    return out;
}

int BrovanaEngine::blendSlotTarget(int k, int slot, float a) {
    if (!modelLoaded_ || k < 0 || k > 5 || slot < 0 || slot >= kSlots) return -1;
    if (!Valid(slots_[slot], nObjects_) || !Valid(slots_[kNeutralSlot], nObjects_)) return -1;
    ensureWorkObjects(kOlderFirst + 7);
    int out = nObjects_ + kOlderFirst + k;
    lerpTargetShapes(objects_[0]->V, a, out, slots_[slot], slots_[kNeutralSlot]);
    return out;
}

int BrovanaEngine::composeSlotTargets(const int slots[6], const float w[6], bool teethRule) {
    if (!modelLoaded_) return -1;
    int N = slots_[kNeutralSlot];
    if (!Valid(N, nObjects_)) return -1;
    int work[6];
    for (int k = 0; k < 6; k++) work[k] = blendSlotTarget(k, slots[k], w[k]);
    int outIndex = nObjects_ + kOlderFirst + 6;
    MeshObject &out = *objects_[outIndex];
    const MeshObject &n = *objects_[N];
    int count = std::min(out.V, n.V);
    for (int v = 0; v < count; v++) {
        int r = regionCode(v);
        bool acts = teethRule ? r != 0 && r % 2 == 0 && !comps_[16].empty() && comps_[16][v] == 0 && comps_[17][v] == 0
                              : r >= 1;
        float p[3] = {n.x[v], n.y[v], n.z[v]};
        for (int k = 0; acts && k < 6; k++) {
            if (work[k] < 0) continue;
            const MeshObject &o = *objects_[work[k]];
            p[0] += o.x[v] - n.x[v], p[1] += o.y[v] - n.y[v], p[2] += o.z[v] - n.z[v];
        }
        out.x[v] = p[0], out.y[v] = p[1], out.z[v] = p[2];
    }
    return outIndex;
}

int BrovanaEngine::composeFaceTargets(const float w[6]) {
    static const int slots[6] = {12, 13, 14, 3, 5, 4};  // sneers, "w", fear, surprise, disgust
    return composeSlotTargets(slots, w, true);
}

int BrovanaEngine::composeEmotionTargets(const float w[6]) {
    static const int slots[6] = {0, 1, 2, 3, 4, 5};
    return composeSlotTargets(slots, w, false);
}

int BrovanaEngine::combineGaze(int firstSlot, int secondSlot, float amount, float radians) {
    int N = slots_[kNeutralSlot];
    int w1 = blendEyeTarget(firstSlot, amount * std::sin(radians));
    int w2 = blendEyeTarget(secondSlot, amount * std::cos(radians));
    if (w1 < 0 || w2 < 0 || !Valid(N, nObjects_)) return 0;
    int outIndex = nObjects_ + kGazeOut;
    MeshObject &out = *objects_[outIndex];
    const MeshObject &a = *objects_[w1], &b = *objects_[w2], &n = *objects_[N];
    int count = std::min({out.V, a.V, b.V, n.V});
    for (int v = 0; v < count; v++) {
        out.x[v] = a.x[v] + b.x[v] - n.x[v];
        out.y[v] = a.y[v] + b.y[v] - n.y[v];
        out.z[v] = a.z[v] + b.z[v] - n.z[v];
    }
    return outIndex;
}

int BrovanaEngine::setGaze(float degrees, float amount) {
    const float toRad = 3.1415926f / 180;
    if (degrees >= 0 && degrees <= 90) return combineGaze(kEyeUp, kEyeRight, amount, degrees * toRad);
    if (degrees > 90 && degrees <= 180) return combineGaze(kEyeUp, kEyeLeft, amount, (180 - degrees) * toRad);
    if (degrees > 180 && degrees <= 270) return combineGaze(kEyeDown, kEyeLeft, amount, (degrees - 180) * toRad);
    if (degrees > 270 && degrees <= 360) return combineGaze(kEyeDown, kEyeRight, amount, (360 - degrees) * toRad);
    return 0;
}

void BrovanaEngine::addTargetOffset(int v, int t, int base, int a, int b, float p[3]) const {
    int total = (int)objects_.size();
    if (b == 0 || !Valid(t, total) || !Valid(base, total)) return;
    const MeshObject &to = *objects_[t], &bo = *objects_[base];
    if (v < 0 || v >= to.V || v >= bo.V) return;
    p[0] += a * (to.x[v] - bo.x[v]) / b;
    p[1] += a * (to.y[v] - bo.y[v]) / b;
    p[2] += a * (to.z[v] - bo.z[v]) / b;
}

void BrovanaEngine::addTriangleTargetOffset(const int v[3], int t, int base, int a, int b, float p[3][3]) const {
    for (int k = 0; k < 3; k++) addTargetOffset(v[k], t, base, a, b, p[k]);
}

void BrovanaEngine::expressionTriangleOffset(const int v[3], float p[3][3]) const {
    for (int k = 0; k < 3; k++) p[k][0] = p[k][1] = p[k][2] = 0;
    if (!expression_ || !modelLoaded_) return;
    addTriangleTargetOffset(v, composed_, slots_[kNeutralSlot], 1, 1, p);
}

void BrovanaEngine::restoreSwitches() {
    expression_ = savedExpression_;
    expression2_ = savedExpression2_;
    restoreFlag_ = false;
}

// The first `count` members of the expression mix at v, weighted, added to P:
// model objects, or the markup's expression objects.
void BrovanaEngine::addMixPoint(int count, int v, float P[3]) const {
    int total = (int)objects_.size();
    for (int k = 0; k < count; k++) {
        const MeshObject *src = nullptr;
        if (mixSource_ && Valid(mixT_[k], total)) src = objects_[mixT_[k]].get();
        if (!mixSource_ && Valid(mixT_[k], (int)exprObjects_.size())) src = exprObjects_[mixT_[k]].get();
        if (!src) continue;
        const MeshObject &o = *src;
        P[0] += mixW_[k] * o.x[v], P[1] += mixW_[k] * o.y[v], P[2] += mixW_[k] * o.z[v];
    }
}

// The eye pair from the markup's blink track, on the eyes only (component 4).
void BrovanaEngine::addEyePairOffset(int v, float off[3]) const {
    int N = slots_[kNeutralSlot];
    if (!eyeOn_ || !markupTrack_ || comps_[4].empty() || comps_[4][v] == 0 || !Valid(N, nObjects_)) return;
    const MeshObject &n = *objects_[N];
    float Y[3];
    pairPoint(eyeT_, eyeW_, v, Y);
    off[0] += Y[0] - n.x[v], off[1] += Y[1] - n.y[v], off[2] += Y[2] - n.z[v];
}

// w0 * T0.v + w1 * T1.v over model objects; a target that names none adds nothing.
void BrovanaEngine::pairPoint(const int t[2], const float w[2], int v, float S[3]) const {
    S[0] = S[1] = S[2] = 0;
    for (int k = 0; k < 2; k++) {
        if (!Valid(t[k], nObjects_)) continue;
        const MeshObject &o = *objects_[t[k]];
        S[0] += w[k] * o.x[v], S[1] += w[k] * o.y[v], S[2] += w[k] * o.z[v];
    }
}

void BrovanaEngine::pairTargetOffset(int v, float out[3]) const {
    out[0] = out[1] = out[2] = 0;
    int N = slots_[kNeutralSlot];
    if (!modelLoaded_ || !Valid(N, nObjects_) || v < 0 || v >= objects_[N]->V) return;
    const MeshObject &n = *objects_[N];
    addMixPoint(2, v, out);
    out[0] -= n.x[v], out[1] -= n.y[v], out[2] -= n.z[v];
    addEyePairOffset(v, out);
}

void BrovanaEngine::expressionOffset(int v, float *dx, float *dy, float *dz) const {
    *dx = *dy = *dz = 0;
    int N = slots_[kNeutralSlot];
    if (!Valid(N, nObjects_)) return;
    const MeshObject &n = *objects_[N];
    float P[3] = {0, 0, 0};
    addMixPoint(3, v, P);
    float off[3] = {P[0] - n.x[v], P[1] - n.y[v], P[2] - n.z[v]};
    if (!idleOff_) {
        float Q[3];
        pairPoint(idleT_, idleW_, v, Q);
        off[0] += Q[0] - n.x[v], off[1] += Q[1] - n.y[v], off[2] += Q[2] - n.z[v];
    }
    // The eye pair comes from the markup's blink track, on the eyes only.
    int r = regionCode(v);
    bool side = (eyeEven_ && (r == 2 || r == 4)) || (eyeOdd_ && (r == 1 || r == 3));
    if (side) addEyePairOffset(v, off);
    // The second pair (eye rolls) looks at the side only, not component 4.
    bool side2 = (secondEven_ && (r == 2 || r == 4)) || (secondOdd_ && (r == 1 || r == 3));
    if (secondOn_ && markupTrack_ && side2) {
        float S[3];
        pairPoint(secondT_, secondW_, v, S);
        bool both = eyeOn_;
        for (int a = 0; a < 3; a++) {
            float nv = a == 0 ? n.x[v] : a == 1 ? n.y[v] : n.z[v];
            off[a] = both ? (S[a] + off[a] - nv) * 0.5f : off[a] + S[a] - nv;
        }
    }
    *dx = off[0], *dy = off[1], *dz = off[2];
}

void BrovanaEngine::clearHeadOffsets() {
    for (int k = 0; k < 3; k++) idleHead_[k] = headAngles_[k] = 0;
}

void BrovanaEngine::makeIdleTracks() {
    seedRandom();
    float T[31];
    T[0] = 0;
    for (int k = 1; k <= 30; k++) T[k] = 2.0f * k + (2 * randomUnit() - 1);
    float head[31][3] = {{0, 0, 0}};
    for (int k = 1; k <= 30; k++)
        for (int a = 0; a < 3; a++) head[k][a] = randomUnit();
    nIdle_ = (int)(T[30] * 30 + 0.13333334f) + 1;
    for (int k = 0; k < 2; k++) {
        idleWeights_[k].assign(nIdle_, 0.0f);
        idleTargets_[k].assign(nIdle_, 0);
    }
    for (int a = 0; a < 3; a++) idleHeadTab_[a].assign(nIdle_, 0.0f);
    struct Key {
        float t;
        bool blink;
    };
    std::vector<Key> keys = {{0, true}};
    for (int k = 1; k <= 30; k++) {
        if (T[k] - T[k - 1] > 2) keys.push_back({(T[k - 1] + T[k]) / 2, false});
        keys.push_back({T[k], true});
    }
    int m = (int)keys.size() - 1;
    int N = slots_[kNeutralSlot], blink = slots_[kBlinkSlot], brow = slots_[kBrowUpSlot];
    int from = 1;
    for (int f = 0; f < nIdle_; f++) {
        float tau = f * 0.033333335f;
        idleWeights_[0][f] = 1, idleWeights_[1][f] = 0;
        idleTargets_[0][f] = N, idleTargets_[1][f] = blink;
        for (int j = from; j <= m - 1; j++) {
            float K = keys[j].t;
            if (keys[j].blink && K - 0.13333334f <= tau && tau <= K + 0.13333334f) {
                float w = tau <= K ? (tau - K + 0.13333334f) * 7.4999995f : 1 - (tau - K) * 7.4999995f;
                idleWeights_[0][f] = 1 - w, idleWeights_[1][f] = w;
                idleTargets_[1][f] = blink;
                from = j;
                break;
            }
            if (!keys[j].blink && K - 0.33333334f <= tau && tau <= K + 1.0f) {
                float w = tau <= K ? (tau - K + 0.33333334f) * 3 : 1 - (tau - K);
                idleWeights_[0][f] = 1 - w, idleWeights_[1][f] = w;
                if (w > 0.5f) idleWeights_[0][f] = idleWeights_[1][f] = 0.5f;
                idleTargets_[1][f] = brow;
                from = j;
                break;
            }
        }
    }
    float keyTimes[31], zeros[31] = {0};
    float values[31][3];
    const float *vp[31];
    for (int k = 0; k <= 30; k++) {
        keyTimes[k] = T[k] * 1000;
        for (int a = 0; a < 3; a++) values[k][a] = k == 0 ? 0 : 2 * head[k][a] - 1;
        vp[k] = values[k];
    }
    float *out[3] = {idleHeadTab_[0].data(), idleHeadTab_[1].data(), idleHeadTab_[2].data()};
    sampleIdleKeys(nIdle_, 1000.0f / (fps_ > 0 ? fps_ : 30), zeros, zeros, zeros, 31, keyTimes, vp, out, 3, 1);
    idleCounter_ = 0;
}

void BrovanaEngine::applyIdleFrame(int f) {
    if (f < 0 || f >= nIdle_) return;
    int N = slots_[kNeutralSlot];
    for (int k = 0; k < 2; k++) {
        int t = idleTargets_[k][f];
        if ((!eyeblink_ && t == slots_[kBlinkSlot]) || (!pupil_ && t == slots_[kBrowUpSlot])) t = N;
        idleT_[k] = t;
        idleW_[k] = idleWeights_[k][f];
    }
    for (int a = 0; a < 3; a++) idleHead_[a] = headRotateOff_ ? 0 : idleHeadTab_[a][f];
}

void BrovanaEngine::stepIdle() {
    if (nIdle_ < 2) return;
    int f = (int)((int64_t)((double)idleCounter_ / idleSpeed_) % (nIdle_ - 1));
    applyIdleFrame(f);
    idleCounter_++;
    if (idleCounter_ > 10000000000LL) idleCounter_ = 0;
}

void BrovanaEngine::idleAnimate() {
    stepIdle();
    show();
}

}  // namespace brovana
