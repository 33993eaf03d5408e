// Garbage scoring: N-best medians, max-of columns, the garbage accumulator
// and the rank scorer.
#include "garbage.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>

namespace {

double medianOfBest(const float *row, int cols, int n, std::vector<float> &buf) {
    buf.assign(row, row + cols);
    n = std::max(1, std::min(n, cols));
    std::partial_sort(buf.begin(), buf.begin() + n, buf.end(), std::greater<float>());
    return n % 2 ? buf[n / 2] : 0.5 * (buf[n / 2 - 1] + buf[n / 2]);
}

// Frames of a list's frame size mapped to frames of another size.
int mapFrame(int f, float from, float to) { return (int)std::floor(f * (double)from / to + 0.5); }

}  // namespace

void multiNGarbageByFrame(const float *row, int cols, const int *n, int count, float *out) {
    std::vector<float> buf;
    if (out != row) memmove(out, row, sizeof(float) * cols);
    for (int k = 0; k < count; k++) out[cols + k] = cols > 0 ? (float)medianOfBest(row, cols, n[k], buf) : 0.0f;
}

void multiNGarbage(float *const *rows, int cols, int numRows, const int *n, int count, float *const *out) {
    for (int t = 0; t < numRows; t++) multiNGarbageByFrame(rows[t], cols, n, count, out[t]);
}

Maxof *allocMaxof(GS_Result *r, const ProbNames *names, const char *const *models, int count) {
    Maxof *m = new Maxof();
    for (int i = 0; i < count; i++) {
        int c = modelToCat(names, models[i]);
        if (c < 0) {
            GS_AppendResult(r, "model: ", models[i], " not defined in probability names estimator", (char *)nullptr);
            delete m;
            return nullptr;
        }
        m->columnData.push_back(c);
        m->nameData.push_back(models[i]);
    }
    for (std::string &s : m->nameData) m->namePtrs.push_back(&s[0]);
    m->numModels = count;
    m->columns = m->columnData.data();
    m->names = m->namePtrs.data();
    return m;
}

void nukeMaxof(Maxof *m) { delete m; }

GarbageAcc *garbageInit(int category, float framesize) {
    GarbageAcc *a = new GarbageAcc();
    a->category = category;
    a->framesize = framesize > 0 ? framesize : 10.0f;
    return a;
}

void garbageReset(GarbageAcc *a) { a->scores.clear(); }

void garbageUpdate(GarbageAcc *a, float *const *rows, int numRows, int cols) {
    for (int t = 0; t < numRows; t++) {
        if (a->category >= cols) {
            a->scores.push_back(std::log(1e-30f));
            continue;
        }
        float best = *std::max_element(rows[t], rows[t] + cols);
        a->scores.push_back(
            (float)(std::log(std::max(rows[t][a->category], 1e-30f)) - std::log(std::max(best, 1e-30f))));
    }
}

HalbrinList *garbageQuery(GarbageAcc *a, const HalbrinList *list, float *score) {
    double sum = 0;
    for (float s : a->scores) sum += s;
    *score = a->scores.empty() ? 0.0f : (float)(sum / a->scores.size());
    if (!list) return nullptr;
    HalbrinList *out = cloneHalbrin(const_cast<HalbrinList *>(list));
    int n = (int)a->scores.size();
    for (int i = 0; i < out->count; i++) {
        Segment &s = out->segments[i];
        int b = std::max(0, mapFrame(s.begin, list->msPerFrame, a->framesize));
        int e = std::min(n, mapFrame(s.end, list->msPerFrame, a->framesize));
        double acc = 0;
        for (int f = b; f < e; f++) acc += a->scores[f];
        s.score = e > b ? (float)(acc / (e - b)) : 0.0f;
    }
    return out;
}

void garbageNuke(GarbageAcc *a) { delete a; }

RankScorer *rankInit(const ProbNames *names, float *const *rows, int numRows, int cols, float framesize) {
    RankScorer *k = new RankScorer();
    for (int i = 0; i < names->count; i++) k->outputs.push_back(names->entries[i].name ? names->entries[i].name : "");
    if (numRows > 0) k->table.assign(rows[0], rows[0] + cols);
    k->framesize = framesize > 0 ? framesize : 10.0f;
    return k;
}

HalbrinList *rankScore(GS_Result *r, const RankScorer *k, const HalbrinList *words, const HalbrinList *phones,
                       float *const *rows, int numRows, int cols) {
    if (k->table.empty()) {
        GS_AppendResult(r, "the rank lookup table is empty", (char *)nullptr);
        return nullptr;
    }
    std::vector<int> cat(phones->count, -1);
    for (int i = 0; i < phones->count; i++) {
        const char *l = phones->segments[i].label ? phones->segments[i].label : "";
        for (size_t c = 0; c < k->outputs.size(); c++)
            if (k->outputs[c] == l) {
                cat[i] = (int)c;
                break;
            }
        if (cat[i] < 0 || cat[i] >= cols) {
            GS_AppendResult(r, "phone ", l, " has no output column", (char *)nullptr);
            return nullptr;
        }
    }
    HalbrinList *out = cloneHalbrin(const_cast<HalbrinList *>(words));
    for (int w = 0; w < out->count; w++) {
        double wb = words->segments[w].begin * (double)words->msPerFrame,
               we = words->segments[w].end * (double)words->msPerFrame;
        double sum = 0;
        int n = 0;
        for (int p = 0; p < phones->count; p++) {
            double pb = phones->segments[p].begin * (double)phones->msPerFrame,
                   pe = phones->segments[p].end * (double)phones->msPerFrame;
            if (pb < wb || pe > we) continue;
            int b = std::max(0, (int)std::floor(pb / k->framesize + 0.5));
            int e = std::min(numRows, (int)std::floor(pe / k->framesize + 0.5));
            for (int t = b; t < e; t++) {
                float v = rows[t][cat[p]];
                int rank = 0;
                for (int c = 0; c < cols; c++) rank += rows[t][c] > v;
                sum += k->table[std::min<size_t>(rank, k->table.size() - 1)];
                n++;
            }
        }
        out->segments[w].score = n ? (float)(sum / n) : 0.0f;
    }
    return out;
}
