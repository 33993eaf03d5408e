// Records of the hmm library: making and releasing them, scoring frames,
// description lookups and model lists for segment lists.
#include <cmath>
#include <cstring>
#include <limits>

#include "hmm.h"
#include "yastro.h"

const HmmOptions hmmOptions;

namespace {
const double kLog2Pi = std::log(2.0 * M_PI);

double logAdd(double a, double b) {
    if (a < b) std::swap(a, b);
    if (b == -std::numeric_limits<double>::infinity()) return a;
    return a + std::log1p(std::exp(b - a));
}
}  // namespace

HmmPool *Hmm_NewPool() {
    HmmPool *p = new HmmPool();
    p->numMixtures = p->numTrans = 0;
    p->trans = nullptr;
    p->mixtures = nullptr;
    p->nnet = nullptr;
    return p;
}

void Hmm_NukeMixture(HmmMixture *m) { delete m; }
void Hmm_NukeTrans(HmmTrans *t) { delete t; }

void Hmm_NukePool(HmmPool *pool) {
    if (!pool || --pool->refs > 0) return;
    for (HmmMixture *m : pool->mixtureData) Hmm_NukeMixture(m);
    for (HmmTrans *t : pool->transData) Hmm_NukeTrans(t);
    delete pool;
}

HmmMixture *Hmm_NewMixture(int numComponents, int dim) {
    HmmMixture *m = new HmmMixture();
    m->numComponents = static_cast<uint16_t>(numComponents);
    m->dim = static_cast<uint8_t>(dim);
    size_t n = static_cast<size_t>(numComponents) * dim;
    m->meanData.assign(n, 0.0f);
    m->varData.assign(n, 1.0f);
    m->weightData.assign(numComponents, static_cast<float>(-std::log((double)numComponents)));
    m->meanIndexData.assign(numComponents, 0);
    m->gconst.assign(numComponents, 0.0f);
    m->stats.resize(numComponents);
    for (int k = 0; k < numComponents; k++) {
        m->meanRows.push_back(m->meanData.data() + (size_t)k * dim);
        m->varRows.push_back(m->varData.data() + (size_t)k * dim);
    }
    m->means = m->meanRows.data();
    m->invVars = m->varRows.data();
    m->logWeights = m->weightData.data();
    m->meanIndex = m->meanIndexData.data();
    Hmm_Fix(m);
    return m;
}

void Hmm_Fix(HmmMixture *m) {
    for (int k = 0; k < m->numComponents; k++) {
        double g = m->dim * kLog2Pi;
        for (int d = 0; d < m->dim; d++) g -= std::log((double)m->invVars[k][d]);
        m->gconst[k] = static_cast<float>(g);
    }
}

double Hmm_ComponentScores(const HmmMixture *m, const float *x, double *out) {
    double total = -std::numeric_limits<double>::infinity();
    for (int k = 0; k < m->numComponents; k++) {
        const float *mu = m->means[k], *iv = m->invVars[k];
        double s = 0;
        for (int d = 0; d < m->dim; d++) {
            double e = x[d] - mu[d];
            s += e * e * iv[d];
        }
        double c = m->logWeights[k] - 0.5 * (m->gconst[k] + s);
        if (out) out[k] = c;
        total = logAdd(total, c);
    }
    return total;
}

double Hmm_Score(const HmmMixture *m, const float *x) { return Hmm_ComponentScores(m, x, nullptr); }

HmmModel *Hmm_NewModel(const std::string &name, int numStates) {
    HmmModel *m = new HmmModel();
    m->nameData = name;
    m->name = &m->nameData[0];
    m->numStates = static_cast<uint16_t>(numStates);
    m->stateIndexData.assign(numStates, -1);
    m->stateData.assign(numStates, nullptr);
    m->stateIndex = m->stateIndexData.data();
    m->states = m->stateData.data();
    m->category = 0;
    return m;
}

void Hmm_NukeModel(HmmModel *m) {
    if (!m || --m->refs > 0) return;
    Hmm_NukePool(m->pool);
    delete m;
}

HmmList *Hmm_NewList(int numModels) {
    HmmList *l = new HmmList();
    l->numModels = numModels;
    l->modelData.assign(numModels, nullptr);
    l->models = l->modelData.data();
    l->sourceIndex = nullptr;
    l->logical = nullptr;
    return l;
}

void Hmm_NukeList(HmmList *list) {
    if (!list) return;
    for (HmmModel *m : list->modelData) Hmm_NukeModel(m);
    if (list->logical) {
        for (int i = 0; i < list->numModels; i++) DB_FREE(list->logical[i]);
        DB_FREE(list->logical);
    }
    delete list;
}

std::string Hmm_EntryModel(const DescriptionEntry &e) {
    std::string spec = e.modelSpec ? e.modelSpec : "";
    // The stored text is wrapped in one character on each side.
    if (e.modelSpecSize >= 3 && spec.size() >= 2) {
        size_t end = std::min<size_t>(e.modelSpecSize - 2, spec.size());
        spec = spec.substr(1, end - 1);
    }
    size_t a = spec.find_first_not_of(" \t");
    if (a == std::string::npos) return "";
    size_t b = spec.find_first_of(" \t", a);
    return spec.substr(a, b == std::string::npos ? std::string::npos : b - a);
}

int Hmm_FindEntry(const HmmDescription *d, const char *name) {
    for (int i = 0; i < d->numEntries; i++)
        if (d->entries[i].name && strcmp(d->entries[i].name, name) == 0) return i;
    return -1;
}

int Hmm_FindModelEntry(const HmmDescription *d, const char *model) {
    for (int i = 0; i < d->numEntries; i++)
        if (Hmm_EntryModel(d->entries[i]) == model) return i;
    return -1;
}

HmmList *Hmm_GenList(GS_Result *r, const HalbrinList *labels, const HmmDescription *d, const HmmList *source) {
    HmmList *out = Hmm_NewList(labels->count);
    out->sourceData.assign(labels->count, -1);
    out->sourceIndex = out->sourceData.data();
    for (int i = 0; i < labels->count; i++) {
        const char *label = labels->segments[i].label ? labels->segments[i].label : "";
        int e = Hmm_FindEntry(d, label);
        int idx = e < 0 ? -1 : d->entries[e].hmmIndex;
        if (e < 0 || idx < 0 || idx >= source->numModels) {
            GS_AppendResult(r, e < 0 ? "no entry for label \"" : "no model for label \"", label, "\"",
                            (char *)nullptr);
            out->numModels = i;
            Hmm_NukeList(out);
            return nullptr;
        }
        HmmModel *m = source->models[idx];
        m->refs++;
        out->models[i] = m;
        out->sourceIndex[i] = idx;
    }
    return out;
}

void Hmm_NukeData(HmmData *d) {
    if (!d) return;
    if (d->rows) DB_FREE(d->rows[0]);
    DB_FREE(d->rows);
    DB_FREE(d->starts);
    DB_FREE(d->ends);
    DB_FREE(d);
}

HmmData *Hmm_NewData(HmmModel *model, int numFrames, int dim, int numExamples) {
    HmmData *d = static_cast<HmmData *>(DB_MALLOC(sizeof(HmmData)));
    d->model = model;
    d->numFrames = numFrames;
    d->dim = dim;
    d->numExamples = numExamples;
    d->rows = static_cast<float **>(DB_MALLOC(sizeof(float *) * (numFrames > 0 ? numFrames : 1)));
    float *block = static_cast<float *>(DB_MALLOC(sizeof(float) * ((size_t)numFrames * dim + 1)));
    d->rows[0] = block;
    for (int i = 0; i < numFrames; i++) d->rows[i] = block + (size_t)i * dim;
    d->starts = static_cast<int32_t *>(DB_MALLOC(sizeof(int32_t) * (numExamples > 0 ? numExamples : 1)));
    d->ends = static_cast<int32_t *>(DB_MALLOC(sizeof(int32_t) * (numExamples > 0 ? numExamples : 1)));
    for (int i = 0; i < numExamples; i++) d->starts[i] = d->ends[i] = 0;
    return d;
}
