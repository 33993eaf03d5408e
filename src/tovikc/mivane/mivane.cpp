// Co-articulation engine: targets with dominance curves, overlap
// resolution, the deformation check, key emission and audio hold-back.
#include "mivane.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "yastro.h"

namespace {

const char *const kVisemes[MIVANE_VISEMES] = {
    "vis_ao", "vis_p", "vis_a", "vis_r", "vis_s", "vis_S",       "vis_T", "vis_d", "vis_u",
    "vis_U",  "vis_E", "vis_f", "vis_w", "vis_i", "vis_neutral", "vis_l", "vis_m", "vis_blink"};

struct Row {
    double magnitude, peak, onRate, offRate, deform;
    int viseme;
};

const Row kRows[48] = {
    {0.96, 0.5, 0.013, 0.013, 60, 0},  {0.92, 0, 0.021, 0.021, 95, 1},     {0.9, 0, 0.021, 0.022, 95, 1},
    {0.95, 0.5, 0.013, 0.013, 35, 2},  {0.94, 0.5, 0.013, 0.013, 80, 2},   {0.94, 0.2, 0.015, 0.015, 85, 3},
    {0.93, 0.2, 0.013, 0.013, 85, 3},  {0.88, 0.1, 0.014, 0.013, 50, 4},   {0.88, 0.1, 0.014, 0.013, 50, 4},
    {0.93, 0.1, 0.013, 0.013, 80, 4},  {0.95, 0.1, 0.014, 0.013, 80, 5},   {0.92, 0, 0.013, 0.013, 80, 5},
    {0.94, 0, 0.013, 0.013, 80, 5},    {0.95, 0, 0.013, 0.014, 80, 6},     {0.93, 0, 0.013, 0.013, 80, 6},
    {0.86, 0.2, 0.021, 0.021, 40, 7},  {0.83, 0, 0.021, 0.023, 40, 7},     {0.86, 0.1, 0.015, 0.015, 40, 7},
    {0.91, 0.1, 0.013, 0.013, 10, 7},  {0.89, 0, 0.021, 0.021, 10, 7},     {0.9, 0, 0.021, 0.022, 10, 7},
    {0.91, 0.3, 0.013, 0.013, 10, 7},  {0.92, 0, 0.013, 0.013, 10, 7},     {0.93, 0.5, 0.014, 0.013, 85, 8},
    {0.95, 0.4, 0.013, 0.013, 35, 8},  {0.93, 0.5, 0.013, 0.013, 10, 8},   {0.96, 0.5, 0.013, 0.013, 85, 9},
    {0.93, 0.5, 0.013, 0.013, 35, 10}, {0.95, 0.5, 0.013, 0.013, 35, 10},  {0.93, 0, 0.013, 0.013, 95, 11},
    {0.93, 0, 0.013, 0.013, 95, 11},   {0.95, 0, 0.013, 0.013, 85, 12},    {0.91, 0.5, 0.013, 0.013, 80, 13},
    {0.93, 0.5, 0.013, 0.013, 80, 13}, {0.89, 0.5, 0.013, 0.013, 25, 14},  {0.89, 0.5, 0.013, 0.013, 25, 14},
    {0.89, 0.5, 0.013, 0.013, 100, 14}, {0.89, 0.5, 0.013, 0.013, 100, 14}, {0.89, 0.5, 0.013, 0.013, 100, 14},
    {0.89, 0.5, 0.013, 0.013, 100, 14}, {0.89, 0.5, 0.013, 0.013, 100, 14}, {0.89, 0.5, 0.013, 0.013, 100, 14},
    {0.89, 0.5, 0.013, 0.013, 100, 14}, {0.89, 0.5, 0.013, 0.013, 100, 14}, {0.89, 0.5, 0.013, 0.013, 100, 14},
    {0.89, 0.5, 0.013, 0.013, 100, 14}, {0.82, 0.5, 0.013, 0.013, 40, 15}, {0.94, 0.5, 0.013, 0.013, 95, 16},
};

struct Diphthong {
    int first, second;
    double share;
};

// Codes -10 to -15.
const Diphthong kDiphthongs[6] = {{3, 26, 0.564341085271},  {4, 26, 0.594516594517}, {32, 26, 0.561622464899},
                                  {4, 33, 0.651898734177},  {27, 32, 0.424920127796}, {0, 32, 0.557195571956}};

double q(const MivaneEngine *e) { return e->stpow < 0.001 ? 0.001 : e->stpow; }

double dom(const MivaneEngine *e, double a, double b, double t) { return Mivane_Dominance(a, b, t, q(e)); }

// Distance in seconds at which the dominance with rate b falls by factor
// exp(-level).
double reach(const MivaneEngine *e, double level, double b) { return 0.001 * std::pow(level / b, 1.0 / e->stpow); }

bool neutral(const MivaneTarget *t) { return t->viseme == MIVANE_NEUTRAL; }

void addTarget(MivaneEngine *e, int row, double d) {
    const Row &w = kRows[row];
    MivaneTarget *t = static_cast<MivaneTarget *>(DB_MALLOC(sizeof(MivaneTarget)));
    std::memset(t, 0, sizeof *t);
    t->viseme = w.viseme;
    t->prev = e->last;
    if (e->last) e->last->next = t; else e->first = t;
    e->last = t;
    if (!e->pending) e->pending = t;
    double T0 = e->phoneTime;
    double M = w.magnitude * e->global * 100;
    t->magnitude = M;
    t->threshold = e->deformlimit + (1 - 0.01 * e->deformlimit) * w.deform * M * 0.01;
    t->onRate = w.onRate;
    t->offRate = w.offRate;
    double ln2 = std::log(2.0);
    t->peakStart = dom(e, 1, w.onRate, w.peak * d) > 0.5 ? T0 + w.peak * d : T0 + reach(e, ln2, w.onRate);
    t->peakEnd = dom(e, 1, w.offRate, (1 - w.peak) * d) > 0.5 ? T0 + w.peak * d
                                                                : T0 + d - reach(e, ln2, w.offRate);
    t->excStart = t->peakStart;
    t->excEnd = t->peakEnd;
    if (e->minexcitation < M) {
        double L = std::log(M / e->minexcitation);
        t->excStart -= reach(e, L, w.onRate);
        t->excEnd += reach(e, L, w.offRate);
    }
    e->phoneTime += d;
}

void excitation(const MivaneEngine *e, MivaneTarget *x) {
    x->left = 0;
    for (MivaneTarget *p = x->prev; p && p->excEnd > x->peakStart; p = p->prev) {
        if (neutral(p) || p->viseme == x->viseme) continue;
        x->left = std::max(x->left, dom(e, p->magnitude, p->offRate, x->peakStart - p->peakEnd));
    }
    x->right = 0;
    for (MivaneTarget *n = x->next; n && n->excStart < x->peakEnd; n = n->next) {
        if (neutral(n) || n->viseme == x->viseme) continue;
        x->right = std::max(x->right, dom(e, n->magnitude, n->onRate, n->peakStart - x->peakEnd));
    }
    x->largest = std::max(x->left, x->right);
    x->excess = std::max(0.0, x->largest - x->threshold);
}

void allExcitations(const MivaneEngine *e) {
    for (MivaneTarget *x = e->pending; x; x = x->next) excitation(e, x);
}

void resolveOverlaps(MivaneEngine *e) {
    double s = e->framePeriod;
    for (int v = 0; v < e->visemeCount; v++) {
        for (MivaneTarget *a = e->pending; a; a = a->next) {
            if (a->viseme != v) continue;
            for (MivaneTarget *b = a->next; b; b = b->next) {
                if (b->viseme != v || !(b->excStart < a->excEnd)) continue;
                double gap = b->peakStart - a->peakEnd;
                for (long k = 1;; k++) {
                    double x = k * s, y = gap - x;
                    if (!(y > 0)) break;
                    if (dom(e, a->magnitude, a->offRate, x) < dom(e, b->magnitude, b->onRate, y)) {
                        a->excEnd = a->peakEnd + x - s;
                        b->excStart = b->peakStart - y;
                        break;
                    }
                }
            }
        }
    }
}

bool narrowPass(MivaneEngine *e) {
    allExcitations(e);
    bool changed = false;
    for (MivaneTarget *x = e->pending; x; x = x->next) {
        double W = x->peakEnd - x->peakStart;
        if (!(W > 0) || neutral(x)) continue;
        double sL = 0, sR = 0;
        for (MivaneTarget *p = x->prev; p && sL == 0 && x->excStart < p->peakEnd; p = p->prev) {
            if (neutral(p) || p->right == 0 || !(p->excess > 0)) continue;
            double v = dom(e, 1, x->onRate, x->peakStart - p->peakEnd) * (1 - dom(e, 1, x->onRate, W)) * x->magnitude;
            sL = v > p->excess ? W * p->excess / v : W;
        }
        for (MivaneTarget *n = x->next; n && sR == 0 && n->peakStart < x->excEnd; n = n->next) {
            if (neutral(n) || n->left == 0 || !(n->excess > 0)) continue;
            double v = dom(e, 1, x->offRate, n->peakStart - x->peakEnd) * (1 - dom(e, 1, x->offRate, W)) * x->magnitude;
            sR = v > n->excess ? W * n->excess / v : W;
        }
        if (sL + sR > W) {
            sL = sL * W / (sL + sR);
            sR = W - sL;
        }
        if (sL != 0 || sR != 0) {
            x->peakStart += sL;
            x->excStart += sL;
            x->peakEnd -= sR;
            x->excEnd -= sR;
            changed = true;
        }
    }
    return changed;
}

bool weakenPass(MivaneEngine *e) {
    bool changed = false;
    for (MivaneTarget *x = e->pending; x; x = x->next) {
        if (neutral(x)) continue;
        double small = 0.05 * x->magnitude, ex = 0;
        MivaneTarget *p = x->prev, *n = x->next;
        if (p && p->right > 0) ex = std::max(ex, std::min(dom(e, small, x->onRate, x->peakStart - p->peakEnd), p->right));
        if (n && n->left > 0) ex = std::max(ex, std::min(dom(e, small, x->offRate, n->peakStart - x->peakEnd), n->left));
        double lim = small;
        if (!(x->largest > 0)) lim = small + x->largest > 0 ? small + x->largest : 0;
        if (ex > 0 && ex > lim) {
            x->magnitude *= 0.95;
            changed = true;
        }
    }
    return changed;
}

bool sharpenPass(MivaneEngine *e) {
    bool changed = false;
    for (MivaneTarget *x = e->pending; x; x = x->next) {
        if (neutral(x)) continue;
        if (x->prev && x->prev->right > 0) { x->onRate *= 1.05; changed = true; }
        if (x->next && x->next->left > 0) { x->offRate *= 1.05; changed = true; }
    }
    return changed;
}

void checkDeform(MivaneEngine *e) {
    if (!e->checkdeform) return;
    for (int i = 0; i < 5 && narrowPass(e); i++) {}
    allExcitations(e);
    for (int i = 0; i < 10 && weakenPass(e); i++) allExcitations(e);
    for (int i = 0; i < e->sharpeniterations && sharpenPass(e); i++) allExcitations(e);
}

long r(double x) { return static_cast<long>(std::floor(x + 0.5)); }

MivaneTrack *trackOf(int v, MivaneTrack **tracks, int *count) {
    for (int i = 0; i < *count; i++)
        if ((*tracks)[i].viseme == v) return &(*tracks)[i];
    *tracks = static_cast<MivaneTrack *>(DB_REALLOC(*tracks, (*count + 1) * sizeof(MivaneTrack)));
    MivaneTrack *t = &(*tracks)[(*count)++];
    t->viseme = v;
    t->keys = nullptr;
    return t;
}

// Keys appended at the end of a track, kept with their tail pointer.
struct Appender {
    MivaneKey **tail;
    explicit Appender(MivaneTrack *t) : tail(&t->keys) {
        while (*tail) tail = &(*tail)->next;
    }
    void add(const MivaneEngine *e, double time, double value) {
        MivaneKey *k = static_cast<MivaneKey *>(DB_MALLOC(sizeof(MivaneKey)));
        k->time = static_cast<int32_t>(r(time * 1000));
        k->value = static_cast<float>(value < e->minexcitation ? 0.0 : value);
        k->next = nullptr;
        *tail = k;
        tail = &k->next;
    }
};

void emitTarget(const MivaneEngine *e, const MivaneTarget *x, MivaneTrack *track) {
    double s = e->framePeriod;
    long f0 = r(x->excStart / s), f1 = r(x->peakStart / s), f2 = std::max(r(x->peakEnd / s), f1),
         f3 = r(x->excEnd / s);
    Appender out(track);
    double last = 0;
    for (long f = f0; f <= f1; f++) {
        last = dom(e, x->magnitude, x->onRate, (f1 - f) * s);
        out.add(e, f * s, last);
    }
    for (long f = f1 + 1; f <= f2 - 1; f++) out.add(e, f * s, last);
    for (long f = f2 == f1 ? f2 + 1 : f2; f <= f3; f++)
        out.add(e, f * s, dom(e, x->magnitude, x->offRate, (f - f2) * s));
}

// Sorts a track by time (stable) and merges keys of one time to the larger
// value.
void sortMerge(MivaneTrack *t) {
    std::vector<MivaneKey *> keys;
    for (MivaneKey *k = t->keys; k; k = k->next) keys.push_back(k);
    std::stable_sort(keys.begin(), keys.end(), [](const MivaneKey *a, const MivaneKey *b) { return a->time < b->time; });
    std::vector<MivaneKey *> kept;
    for (size_t i = 0; i < keys.size(); i++) {
        MivaneKey *k = keys[i];
        if (i + 1 < keys.size() && keys[i + 1]->time == k->time) {
            k->value = std::max(k->value, keys[i + 1]->value);
            DB_FREE(keys[i + 1]);
            kept.push_back(k);
            i++;
            continue;
        }
        kept.push_back(k);
    }
    // A third key of one time survives the walk: merge again until stable.
    t->keys = nullptr;
    MivaneKey **tail = &t->keys;
    for (MivaneKey *k : kept) {
        *tail = k;
        tail = &k->next;
    }
    *tail = nullptr;
    for (size_t i = 1; i < kept.size(); i++)
        if (kept[i]->time == kept[i - 1]->time) return sortMerge(t);
}

void normalise(MivaneTrack *tracks, int count) {
    // Every distinct time of the new tracks' keys, with the keys at it.
    std::vector<std::pair<int32_t, MivaneKey *>> all;
    for (int i = 0; i < count; i++)
        for (MivaneKey *k = tracks[i].keys; k; k = k->next) all.push_back({k->time, k});
    std::stable_sort(all.begin(), all.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    for (size_t i = 0; i < all.size();) {
        size_t j = i;
        double sum = 0, mx = 0;
        int nonzero = 0;
        for (; j < all.size() && all[j].first == all[i].first; j++) {
            sum += all[j].second->value;
            mx = std::max(mx, static_cast<double>(all[j].second->value));
            if (all[j].second->value != 0) nonzero++;
        }
        if (nonzero > 1 && sum - mx > 0) {
            double f = (100 - mx) / (sum - mx);
            for (size_t k = i; k < j; k++)
                if (all[k].second->value != mx) all[k].second->value = static_cast<float>(all[k].second->value * f);
        }
        i = j;
    }
}

void prune(const MivaneEngine *e, MivaneTrack *t) {
    long T = r(static_cast<float>(e->framePeriod) * 1000.0);
    MivaneKey *a = t->keys;
    while (a && a->next && a->next->next) {
        MivaneKey *b = a->next, *c = b->next;
        bool close = b->time - a->time <= T && c->time - b->time <= T;
        bool flat = (a->value > b->value && b->value > c->value && a->value - c->value < e->prune) ||
                    (a->value < b->value && b->value < c->value && c->value - a->value < e->prune) ||
                    (a->value == b->value && b->value == c->value);
        if (close && flat) {
            a->next = c;
            DB_FREE(b);
        } else {
            a = b;
        }
    }
}

// Emits the keys of the targets from the first pending one on (all of them,
// or those whose keys are final), then the per-call passes.
void emitKeys(const MivaneEngine *e, bool all, MivaneTrack **tracks, int *count) {
    for (int v = 0; v < e->visemeCount; v++) {
        for (MivaneTarget *x = e->pending; x; x = x->next)
            if (x->viseme == v && (all || x->state != 0)) emitTarget(e, x, trackOf(v, tracks, count));
        for (int i = 0; i < *count; i++) sortMerge(&(*tracks)[i]);
    }
    if (e->normalize) normalise(*tracks, *count);
    for (int i = 0; i < *count; i++) {
        for (MivaneKey *k = (*tracks)[i].keys; e->limit && k; k = k->next)
            if (k->value > 100) k->value = 100;
        if (e->prune >= 0.001f) prune(e, &(*tracks)[i]);
    }
}

void releaseTargets(MivaneEngine *e, bool all) {
    MivaneTarget *t = e->first;
    while (t) {
        MivaneTarget *next = t->next;
        if (all || t->state == 2) {
            if (t->prev) t->prev->next = t->next; else e->first = t->next;
            if (t->next) t->next->prev = t->prev; else e->last = t->prev;
            DB_FREE(t);
        }
        t = next;
    }
    e->pending = nullptr;
    for (t = e->first; t; t = t->next)
        if (t->state == 0) {
            e->pending = t;
            break;
        }
}

void holdBack(MivaneEngine *e, short **audio, int *audioLength) {
    int32_t previous = e->audioTotal;
    int len = *audioLength;
    e->audioTotal += len;
    MivaneTarget *x = e->pending;
    while (x && x->state != 0) x = x->next;
    if (!x) return;
    double cutAt = std::floor(e->sampleRate * x->peakStart - previous);
    long keep = len - static_cast<long>(std::max(-1e9, std::min(1e9, cutAt)));
    keep = std::max(0L, std::min<long>(keep, len));
    if (e->spareCapacity < keep) {
        e->spare = static_cast<int16_t *>(DB_REALLOC(e->spare, (keep + 1024) * sizeof(int16_t)));
        e->spareCapacity = static_cast<int32_t>(keep + 1024);
    }
    if (keep > 0) std::memcpy(e->spare, *audio + (len - keep), keep * sizeof(int16_t));
    int out = e->heldLength + static_cast<int>(len - keep);
    if (out > len || !*audio) *audio = static_cast<short *>(DB_REALLOC(*audio, (out > 0 ? out : 1) * sizeof(short)));
    std::memmove(*audio + e->heldLength, *audio, (len - keep) * sizeof(short));
    if (e->heldLength > 0) std::memcpy(*audio, e->held, e->heldLength * sizeof(short));
    *audioLength = out;
    std::swap(e->held, e->spare);
    std::swap(e->heldCapacity, e->spareCapacity);
    e->heldLength = static_cast<int32_t>(keep);
}

void freeTargets(MivaneEngine *e) {
    while (e->first) {
        MivaneTarget *n = e->first->next;
        DB_FREE(e->first);
        e->first = n;
    }
    e->last = e->pending = nullptr;
}

void fail(GS_Result *r, const char *a, const char *b, const char *c) {
    if (r) GS_AppendResult(r, a, b, c, (char *)nullptr);
}

}  // namespace

extern "C" {

double Mivane_Dominance(double a, double b, double t, double qq) {
    if (qq < 0.001) qq = 0.001;
    double ms = 1000 * t;
    double p = ms < 0 ? -std::pow(-ms, qq) : std::pow(ms, qq);
    return a * std::min(10.0, std::exp(-b * p));
}

int Mivane_PhoneCode(const char *p) {
    switch (p[0]) {
    case '3': return 6;
    case '9': return 5;
    case '@': return 28;
    case 'A': return 3;
    case 'D': return 14;
    case 'E': return 27;
    case 'I': return 33;
    case 'N': return 18;
    case 'S': return 10;
    case 'T': return 13;
    case 'U': return 26;
    case 'Z': return 9;
    case '^': return 4;
    case 'f': return 29;
    case 'h': return 21;
    case 'j': return 22;
    case 'l': return 46;
    case 'm': return 47;
    case 'n': return 17;
    case 's': return 7;
    case 'w': return 31;
    case 'z': return 8;
    case 'e': return -14;
    case 'o': return -10;
    case '&': return p[1] == 0 ? 25 : p[1] == 'r' ? 24 : -1;
    case '.': return p[1] == 'p' ? 34 : p[1] == 'g' ? 35 : -1;
    case '>': return p[1] == 0 ? 0 : p[1] == 'i' ? -15 : -1;
    case 'a': return p[1] == 'I' ? -13 : p[1] == 'U' ? -11 : -1;
    case 'b': return p[1] == 0 ? 2 : p[1] == 'c' ? 36 : -1;
    case 'g': return p[1] == 0 ? 20 : p[1] == 'c' ? 38 : -1;
    case 'u': return p[1] == 0 ? 23 : p[1] == 'c' ? 45 : -1;
    case 'v': return p[1] == 0 ? 30 : p[1] == 'c' ? 44 : -1;
    case 'd':
        if (p[1] == 0) return 16;
        if (p[1] == 'Z') return p[2] == 0 ? 12 : (p[2] == 'c' && p[3] == 0) ? 39 : -1;
        return p[1] == 'c' ? 37 : -1;
    case 'i': return p[1] == ':' ? 32 : p[1] == 'U' ? -12 : -1;
    case 'k': return p[1] == 'c' ? 42 : p[1] == 'h' ? 19 : -1;
    case 'p': return p[1] == 'a' ? 34 : p[1] == 'c' ? 40 : p[1] == 'h' ? 1 : -1;
    case 't':
        if (p[1] == 'S') return p[2] == 0 ? 11 : (p[2] == 'c' && p[3] == 0) ? 43 : -1;
        return p[1] == 'c' ? 41 : p[1] == 'h' ? 15 : -1;
    default: return -1;
    }
}

MivaneEngine *Mivane_Constructor(void) {
    MivaneEngine *e = static_cast<MivaneEngine *>(DB_MALLOC(sizeof(MivaneEngine)));
    std::memset(e, 0, sizeof *e);
    e->limit = 1;
    e->checkdeform = 1;
    e->framePeriod = 0.01f;
    e->stpow = 1.05f;
    e->global = 1.0;
    e->prune = 2.0f;
    e->minexcitation = 1.0f;
    e->deformlimit = 20.0f;
    e->sampleRate = 8000;
    e->visemeCount = MIVANE_VISEMES;
    return e;
}

int Mivane_Initialize(GS_Result *, MivaneEngine *e) {
    freeTargets(e);
    DB_FREE(e->held);
    DB_FREE(e->spare);
    e->held = e->spare = nullptr;
    e->heldLength = e->heldCapacity = e->spareCapacity = 0;
    e->phoneTime = 0;
    e->audioTotal = 0;
    if (e->stpow < 0.00001f) e->stpow = 0.00001f;
    return 0;
}

int Mivane_Pipe(GS_Result *r, MivaneEngine *e, const char **phones, const float *durations, int count,
                MivaneTrack **tracks, int *trackCount, short **audio, int *audioLength) {
    for (int i = 0; i < count; i++) {
        double d = durations[i];
        if (!(d >= 0 && d <= MIVANE_MAX_DURATION)) {
            fail(r, "Bad duration for phone \"", phones[i], "\"");
            return 1;
        }
        int code = Mivane_PhoneCode(phones[i]);
        if (code >= 0) {
            addTarget(e, code, d);
        } else if (code <= -10) {
            const Diphthong &dp = kDiphthongs[-code - 10];
            float share = static_cast<float>(dp.share);
            addTarget(e, dp.first, static_cast<float>(d * share));
            addTarget(e, dp.second, (1 - share) * d);
        } else {
            fail(r, "Could not add phone \"", phones[i], "\"");
            return 1;
        }
    }
    if (!e->pending) {
        // No target waits: the sound goes back as it came, and still counts.
        if (audio && audioLength) e->audioTotal += *audioLength;
        return 0;
    }
    resolveOverlaps(e);
    checkDeform(e);
    int follow = 0;
    for (MivaneTarget *x = e->pending->next; x; x = x->next) follow++;
    for (MivaneTarget *x = e->pending; x; x = x->next, follow--)
        x->state = follow >= 4 ? 2 : follow >= 2 ? 1 : x->state;
    for (MivaneTarget *x = e->first; x && x != e->pending; x = x->next)
        x->state = std::max(x->state, e->pending->state);
    emitKeys(e, false, tracks, trackCount);
    if (audio && audioLength) holdBack(e, audio, audioLength);
    releaseTargets(e, false);
    return 0;
}

int Mivane_Flush(GS_Result *, MivaneEngine *e, MivaneTrack **tracks, int *trackCount, short **audio,
                 int *audioLength) {
    checkDeform(e);
    for (MivaneTarget *x = e->pending; x; x = x->next) x->state = 2;
    emitKeys(e, true, tracks, trackCount);
    releaseTargets(e, true);
    if (audio && audioLength && e->heldLength > 0) {
        int len = *audioLength, out = len + e->heldLength;
        *audio = static_cast<short *>(DB_REALLOC(*audio, out * sizeof(short)));
        std::memmove(*audio + e->heldLength, *audio, len * sizeof(short));
        std::memcpy(*audio, e->held, e->heldLength * sizeof(short));
        *audioLength = out;
        e->heldLength = 0;
    }
    return 0;
}

void Mivane_Reset(MivaneEngine *e) {
    freeTargets(e);
    e->phoneTime = 0;
    e->audioTotal = 0;
    e->heldLength = 0;
}

void Mivane_Destructor(MivaneEngine *e) {
    if (!e) return;
    freeTargets(e);
    DB_FREE(e->held);
    DB_FREE(e->spare);
    DB_FREE(e);
}

void Mivane_FreeKeys(MivaneTrack *tracks, int count) {
    for (int i = 0; tracks && i < count; i++) {
        MivaneKey *k = tracks[i].keys;
        while (k) {
            MivaneKey *n = k->next;
            DB_FREE(k);
            k = n;
        }
    }
    DB_FREE(tracks);
}

int Mivane_VisemeIndex(const char *name) {
    for (int i = 0; i < MIVANE_VISEMES; i++)
        if (std::strcmp(kVisemes[i], name) == 0) return i;
    return -1;
}

const char *Mivane_VisemeName(int index) {
    return index >= 0 && index < MIVANE_VISEMES ? kVisemes[index] : nullptr;
}
}
