#include "seg.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "yastro.h"

namespace {

const char *kSource = "src/support/seg/seg";

int labelOf(float v) { return v > 0.5f ? SEG_SPEECH : v < -0.5f ? SEG_BACKGROUND : SEG_GARBAGE; }

// 2-means over the window from the current means.
void reestimate(SegState *s) {
    int n = s->filled;
    if (n == 0) return;
    double sp = s->speechMean, bg = s->backgroundMean;
    for (int it = 0; it < 30; it++) {
        double ss = 0, sb = 0;
        int ns = 0, nb = 0;
        for (int i = 0; i < n; i++) {
            double x = s->window[i];
            if (std::fabs(x - sp) < std::fabs(x - bg)) {
                ss += x;
                ns++;
            } else {
                sb += x;
                nb++;
            }
        }
        if (ns == 0 || nb == 0) {
            // A class left empty starts again from the data.
            const float *lo = std::min_element(s->window, s->window + n);
            const float *hi = std::max_element(s->window, s->window + n);
            if (*hi == *lo) {
                sp = bg = *hi;
                break;
            }
            sp = *hi;
            bg = *lo;
            continue;
        }
        double nsp = ss / ns, nbg = sb / nb;
        bool done = nsp == sp && nbg == bg;
        sp = nsp;
        bg = nbg;
        if (done) break;
    }
    if (sp < bg) std::swap(sp, bg);
    s->speechMean = (float)sp;
    s->backgroundMean = (float)bg;
}

}  // namespace

extern "C" {

SegParams *segDefault(void) {
    SegParams *p = static_cast<SegParams *>(DB_Malloc(sizeof(SegParams), kSource, __LINE__));
    p->index = 0;
    p->framesz = 100;
    p->winsz = 300;
    p->speech = 0.0f;
    p->background = -3.0f;
    p->ceil = 1e30f;
    p->floor = -1e30f;
    p->eps = 0.5f;
    return p;
}

SegState *segInit(GS_Result *r, const SegParams *p) {
    const char *why = nullptr;
    if (p->framesz < 1) why = "framesz must be at least 1";
    else if (p->winsz < 1) why = "winsz must be at least 1";
    else if (p->index < 0) why = "index must not be negative";
    else if (!(p->floor <= p->ceil)) why = "floor must not be above ceil";
    else if (!(p->eps >= 0)) why = "eps must not be negative";
    else if (std::isnan(p->speech) || std::isnan(p->background)) why = "speech and background must be numbers";
    if (why) {
        if (r) GS_AppendResult(r, "segInit: ", why, (char *)nullptr);
        return nullptr;
    }
    SegState *s = static_cast<SegState *>(DB_Malloc(sizeof(SegState), kSource, __LINE__));
    s->params = *p;
    s->window = static_cast<float *>(DB_Malloc((size_t)p->winsz * sizeof(float), kSource, __LINE__));
    segReset(s);
    return s;
}

void segReset(SegState *s) {
    s->speechCount = s->backgroundCount = 0;
    s->speechMean = s->params.speech;
    s->backgroundMean = s->params.background;
    if (s->speechMean < s->backgroundMean) std::swap(s->speechMean, s->backgroundMean);
    s->filled = s->next = 0;
    s->seen = 0;
}

void segNuke(SegState *s) {
    if (!s) return;
    DB_Free(s->window, kSource, __LINE__);
    DB_Free(s, kSource, __LINE__);
}

int segPipe(GS_Result *r, SegState *s, int frames, int cols, float **rows, float **labels) {
    const SegParams &p = s->params;
    if (p.index >= cols) {
        if (r) GS_AppendResult(r, "segPipe: feature index past the frame's columns", (char *)nullptr);
        return 1;
    }
    s->speechCount = s->backgroundCount = 0;
    for (int i = 0; i < frames; i++) {
        float x = std::min(std::max(rows[i][p.index], p.floor), p.ceil);
        if (std::isnan(x)) x = p.floor;
        s->window[s->next] = x;
        s->next = (s->next + 1) % p.winsz;
        if (s->filled < p.winsz) s->filled++;
        s->seen++;
        if (s->seen < p.framesz || s->seen % p.framesz == 0) reestimate(s);
        float label;
        if (s->speechMean - s->backgroundMean < p.eps) {
            label = SEG_GARBAGE;
        } else if (std::fabs(x - s->speechMean) < std::fabs(x - s->backgroundMean)) {
            label = SEG_SPEECH;
            s->speechCount++;
        } else {
            label = SEG_BACKGROUND;
            s->backgroundCount++;
        }
        labels[0][i] = label;
    }
    return 0;
}

void segCopy(int frames, int cols, float **rows, float **labels, float **speech, float **background,
             float **garbage) {
    int ns = 0, nb = 0, ng = 0;
    for (int i = 0; i < frames; i++) {
        float **to = nullptr;
        int *k = nullptr;
        switch (labelOf(labels[0][i])) {
            case SEG_SPEECH: to = speech; k = &ns; break;
            case SEG_BACKGROUND: to = background; k = &nb; break;
            default: to = garbage; k = &ng; break;
        }
        if (to) memcpy(to[(*k)++], rows[i], (size_t)cols * sizeof(float));
    }
}

int segSelect(int frames, int cols, float **rows, float **labels, float **out, int type) {
    int k = 0;
    for (int i = 0; i < frames; i++)
        if (labelOf(labels[0][i]) == type) {
            if (out) memcpy(out[k], rows[i], (size_t)cols * sizeof(float));
            k++;
        }
    return k;
}

void segMap(int frames, int cols, float **rows, float **labels, float **out) {
    for (int i = 0; i < frames; i++) {
        if (labelOf(labels[0][i]) == SEG_SPEECH) memcpy(out[i], rows[i], (size_t)cols * sizeof(float));
        else std::fill(out[i], out[i] + cols, 0.0f);
    }
}

int segCount(int frames, float **labels, int type) {
    int k = 0;
    for (int i = 0; i < frames; i++) k += labelOf(labels[0][i]) == type;
    return k;
}

}  // extern "C"
