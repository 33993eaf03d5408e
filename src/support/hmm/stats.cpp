// Statistics moved between a pool and accumulators, and text dumps of them.
#include <cmath>
#include <cstdio>
#include <set>
#include <string>

#include "hmm.h"

namespace {

// Pool indices of the mixtures and matrices a list's models use.
void usedBy(const HmmPool *pool, const HmmList *list, std::set<int> &mixes, std::set<int> &trans) {
    for (int i = 0; i < list->numModels; i++) {
        const HmmModel *m = list->models[i];
        for (int s = 1; s < m->numStates - 1; s++) mixes.insert(m->stateIndex[s]);
        for (int t = 0; t < pool->numTrans; t++)
            if (pool->trans[t] == m->trans) trans.insert(t);
    }
}

void addStats(std::vector<HmmCompStats> &into, const std::vector<HmmCompStats> &from) {
    if (into.size() < from.size()) into.resize(from.size());
    for (size_t k = 0; k < from.size(); k++) {
        into[k].occ += from[k].occ;
        if (into[k].sum.size() < from[k].sum.size()) {
            into[k].sum.resize(from[k].sum.size(), 0.0);
            into[k].sqr.resize(from[k].sqr.size(), 0.0);
        }
        for (size_t d = 0; d < from[k].sum.size(); d++) {
            into[k].sum[d] += from[k].sum[d];
            into[k].sqr[d] += from[k].sqr[d];
        }
    }
}

}  // namespace

HmmHeapx *Hmm_NewHeapx(const HmmPool *pool) {
    HmmHeapx *h = new HmmHeapx();
    h->mixtures.resize(pool->numMixtures);
    h->trans.resize(pool->numTrans);
    for (int i = 0; i < pool->numTrans; i++) h->trans[i].assign(pool->trans[i]->logA.size(), 0.0);
    return h;
}

void Hmm_ResetAcc(HmmHeapx *h) {
    for (auto &m : h->mixtures) m.clear();
    for (auto &t : h->trans) std::fill(t.begin(), t.end(), 0.0);
}

void Hmm_Count(const HmmPool *pool, const HmmList *list, HmmHeapx *h) {
    std::set<int> mixes, trans;
    usedBy(pool, list, mixes, trans);
    if (h->mixtures.size() < (size_t)pool->numMixtures) h->mixtures.resize(pool->numMixtures);
    if (h->trans.size() < (size_t)pool->numTrans) h->trans.resize(pool->numTrans);
    for (int i : mixes) addStats(h->mixtures[i], pool->mixtures[i]->stats);
    for (int i : trans) {
        const std::vector<double> &c = pool->trans[i]->counts;
        if (h->trans[i].size() < c.size()) h->trans[i].resize(c.size(), 0.0);
        for (size_t j = 0; j < c.size(); j++) h->trans[i][j] += c[j];
    }
}

int Hmm_SetCount(GS_Result *r, HmmPool *pool, const HmmList *list, const HmmHeapx *h) {
    if (h->mixtures.size() != (size_t)pool->numMixtures || h->trans.size() != (size_t)pool->numTrans) {
        GS_AppendResult(r, "the accumulator was made for another pool", (char *)nullptr);
        return 1;
    }
    std::set<int> mixes, trans;
    usedBy(pool, list, mixes, trans);
    for (int i : mixes) {
        HmmMixture *m = pool->mixtures[i];
        for (auto &st : m->stats) {
            st.occ = 0;
            st.sum.assign(m->dim, 0.0);
            st.sqr.assign(m->dim, 0.0);
        }
        addStats(m->stats, h->mixtures[i]);
    }
    for (int i : trans) {
        HmmTrans *t = pool->trans[i];
        t->counts.assign(t->logA.size(), 0.0);
        for (size_t j = 0; j < h->trans[i].size() && j < t->counts.size(); j++) t->counts[j] = h->trans[i][j];
    }
    return 0;
}

int Hmm_Accumulate(GS_Result *r, HmmHeapx *into, const HmmHeapx *from) {
    if (into->mixtures.size() != from->mixtures.size() || into->trans.size() != from->trans.size()) {
        GS_AppendResult(r, "the accumulators were made for different pools", (char *)nullptr);
        return 1;
    }
    for (size_t i = 0; i < from->mixtures.size(); i++) addStats(into->mixtures[i], from->mixtures[i]);
    for (size_t i = 0; i < from->trans.size(); i++) {
        if (into->trans[i].size() < from->trans[i].size()) into->trans[i].resize(from->trans[i].size(), 0.0);
        for (size_t j = 0; j < from->trans[i].size(); j++) into->trans[i][j] += from->trans[i][j];
    }
    return 0;
}

namespace {
FILE *openOut(GS_Result *r, const char *file) {
    FILE *f = fopen(file, "w");
    if (!f) GS_AppendResult(r, "could not open \"", file, "\" for writing", (char *)nullptr);
    return f;
}
}  // namespace

// One line a model: its name and the occupancy of each emitting state.
int Hmm_CountDump(GS_Result *r, const char *file, const HmmList *list) {
    FILE *f = openOut(r, file);
    if (!f) return 1;
    for (int i = 0; i < list->numModels; i++) {
        const HmmModel *m = list->models[i];
        fprintf(f, "%s", m->name);
        for (int s = 1; s < m->numStates - 1; s++) {
            double occ = 0;
            for (auto &st : m->states[s]->stats) occ += st.occ;
            fprintf(f, " %.6g", occ);
        }
        fprintf(f, "\n");
    }
    return fclose(f) ? (GS_AppendResult(r, "could not write \"", file, "\"", (char *)nullptr), 1) : 0;
}

// One line a mixture: its index, component count and per component the
// occupancy seen and the weight.
int Hmm_StateDump(GS_Result *r, const char *file, const HmmPool *pool) {
    FILE *f = openOut(r, file);
    if (!f) return 1;
    for (int i = 0; i < pool->numMixtures; i++) {
        const HmmMixture *m = pool->mixtures[i];
        fprintf(f, "%d %d", i, m->numComponents);
        for (int k = 0; k < m->numComponents; k++)
            fprintf(f, " %.6g %.6g", k < (int)m->stats.size() ? m->stats[k].occ : 0.0, std::exp(m->logWeights[k]));
        fprintf(f, "\n");
    }
    return fclose(f) ? (GS_AppendResult(r, "could not write \"", file, "\"", (char *)nullptr), 1) : 0;
}
