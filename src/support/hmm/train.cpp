// Training: forward-backward and Viterbi over concatenated models, the
// statistics they add to the pool, re-estimation, and the isolated-model
// passes built on them.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <set>

#include "hmm.h"

namespace {

const double kNegInf = -std::numeric_limits<double>::infinity();

double logAdd(double a, double b) {
    if (a < b) std::swap(a, b);
    if (b == kNegInf) return a;
    return a + std::log1p(std::exp(b - a));
}

// One transition of the concatenated network, with the matrix cells whose
// counts it adds to (a step from one model into the next passes through
// the exit of the first and the entry of the second).
struct Edge {
    int from, to;
    double logp;
    HmmTrans *t1;
    int i1, j1;
    HmmTrans *t2;
    int i2, j2;
};

struct Net {
    std::vector<HmmMixture *> mix;
    std::vector<int> model;     // per state: the model's place in the sequence
    std::vector<int> local;     // per state: its index in the model
    std::vector<int> pool;      // per state: its mixture's index in the pool
    std::vector<double> init;   // log probability of starting in a state
    std::vector<double> fin;    // log probability of leaving the last model
    std::vector<Edge> edges;    // sorted by target
    std::vector<int> firstIn;   // per state: first edge into it (size S + 1)
    HmmTrans *firstTrans = nullptr, *lastTrans = nullptr;
};

bool buildNet(GS_Result *r, const HmmModel *const *models, int n, int cols, Net &net) {
    std::vector<int> base(n + 1, 0);
    for (int m = 0; m < n; m++) {
        const HmmModel *md = models[m];
        if (!md->trans || md->numStates < 3) {
            GS_AppendResult(r, "model \"", md->name, "\" has no emitting state", (char *)nullptr);
            return false;
        }
        for (int s = 1; s < md->numStates - 1; s++) {
            if (md->states[s]->dim != cols) {
                GS_AppendResult(r, "features of ", std::to_string(cols).c_str(), " columns for model \"", md->name,
                                "\" of ", std::to_string(md->states[s]->dim).c_str(), (char *)nullptr);
                return false;
            }
            net.mix.push_back(md->states[s]);
            net.model.push_back(m);
            net.local.push_back(s);
            net.pool.push_back(md->stateIndex[s]);
        }
        base[m + 1] = static_cast<int>(net.mix.size());
    }
    int S = static_cast<int>(net.mix.size());
    net.init.assign(S, kNegInf);
    net.fin.assign(S, kNegInf);
    if (n == 0) return true;
    const HmmModel *first = models[0], *last = models[n - 1];
    net.firstTrans = first->trans;
    net.lastTrans = last->trans;
    for (int s = 1; s < first->numStates - 1; s++) net.init[base[0] + s - 1] = first->trans->at(0, s);
    for (int s = 1; s < last->numStates - 1; s++)
        net.fin[base[n - 1] + s - 1] = last->trans->at(s, last->numStates - 1);
    for (int m = 0; m < n; m++) {
        const HmmModel *md = models[m];
        HmmTrans *t = md->trans;
        int N = md->numStates;
        for (int i = 1; i < N - 1; i++)
            for (int j = 1; j < N - 1; j++)
                if (t->at(i, j) > kNegInf)
                    net.edges.push_back({base[m] + i - 1, base[m] + j - 1, t->at(i, j), t, i, j, nullptr, 0, 0});
        if (m + 1 < n) {
            const HmmModel *nx = models[m + 1];
            HmmTrans *u = nx->trans;
            for (int i = 1; i < N - 1; i++) {
                double out = t->at(i, N - 1);
                if (out == kNegInf) continue;
                for (int j = 1; j < nx->numStates - 1; j++)
                    if (u->at(0, j) > kNegInf)
                        net.edges.push_back(
                            {base[m] + i - 1, base[m + 1] + j - 1, out + u->at(0, j), t, i, N - 1, u, 0, j});
            }
        }
    }
    std::stable_sort(net.edges.begin(), net.edges.end(), [](const Edge &a, const Edge &b) { return a.to < b.to; });
    net.firstIn.assign(S + 1, 0);
    for (const Edge &e : net.edges) net.firstIn[e.to + 1]++;
    for (int s = 0; s < S; s++) net.firstIn[s + 1] += net.firstIn[s];
    return true;
}

// Emission scores per frame and state, into the state's fstack.
void emissions(const Net &net, float **rows, int T, std::vector<float> &b) {
    size_t S = net.mix.size();
    b.assign(S * T, 0.0f);
    std::map<const HmmMixture *, int> firstOf;
    for (size_t s = 0; s < S; s++) firstOf.emplace(net.mix[s], static_cast<int>(s));
    for (int t = 0; t < T; t++)
        for (size_t s = 0; s < S; s++) {
            int f = firstOf[net.mix[s]];
            b[(size_t)t * S + s] = f < static_cast<int>(s) ? b[(size_t)t * S + f]
                                                           : static_cast<float>(Hmm_Score(net.mix[s], rows[t]));
        }
}

// Forward scores alpha (T x S, log), with states below the best by more than
// beam dropped at each frame; answers the total log likelihood.
double forward(const Net &net, const std::vector<float> &b, int T, double beam, std::vector<double> &alpha) {
    size_t S = net.mix.size();
    alpha.assign(S * T, kNegInf);
    if (T == 0 || S == 0) return kNegInf;
    for (size_t s = 0; s < S; s++) alpha[s] = net.init[s] + b[s];
    for (int t = 0;; t++) {
        double *a = &alpha[(size_t)t * S];
        double best = kNegInf;
        for (size_t s = 0; s < S; s++) best = std::max(best, a[s]);
        if (best == kNegInf) return kNegInf;
        for (size_t s = 0; s < S; s++)
            if (a[s] < best - beam) a[s] = kNegInf;
        if (t + 1 == T) break;
        double *nx = a + S;
        for (size_t j = 0; j < S; j++) {
            double v = kNegInf;
            for (int e = net.firstIn[j]; e < net.firstIn[j + 1]; e++) {
                const Edge &ed = net.edges[e];
                if (a[ed.from] > kNegInf) v = logAdd(v, a[ed.from] + ed.logp);
            }
            nx[j] = v == kNegInf ? v : v + b[(size_t)(t + 1) * S + j];
        }
    }
    double total = kNegInf;
    const double *a = &alpha[(size_t)(T - 1) * S];
    for (size_t s = 0; s < S; s++)
        if (a[s] > kNegInf) total = logAdd(total, a[s] + net.fin[s]);
    return total;
}

void backward(const Net &net, const std::vector<float> &b, int T, const std::vector<double> &alpha,
              std::vector<double> &beta) {
    size_t S = net.mix.size();
    beta.assign(S * T, kNegInf);
    for (size_t s = 0; s < S; s++)
        if (alpha[(size_t)(T - 1) * S + s] > kNegInf) beta[(size_t)(T - 1) * S + s] = net.fin[s];
    for (int t = T - 2; t >= 0; t--) {
        double *bt = &beta[(size_t)t * S];
        const double *nx = &beta[(size_t)(t + 1) * S];
        const float *bn = &b[(size_t)(t + 1) * S];
        for (const Edge &e : net.edges) {
            if (alpha[(size_t)t * S + e.from] == kNegInf || nx[e.to] == kNegInf) continue;
            bt[e.from] = logAdd(bt[e.from], e.logp + bn[e.to] + nx[e.to]);
        }
    }
}

void clearMixture(HmmMixture *m) {
    for (auto &st : m->stats) {
        st.occ = 0;
        st.sum.assign(m->dim, 0.0);
        st.sqr.assign(m->dim, 0.0);
    }
}

void addFrame(HmmMixture *m, const float *x, double weight, std::vector<double> &comp) {
    if (m->stats.empty() || m->stats[0].sum.size() != m->dim) clearMixture(m);
    comp.resize(m->numComponents);
    double total = Hmm_ComponentScores(m, x, comp.data());
    for (int k = 0; k < m->numComponents; k++) {
        double g = weight * std::exp(comp[k] - total);
        if (!(g > 0)) continue;
        HmmCompStats &st = m->stats[k];
        st.occ += g;
        for (int d = 0; d < m->dim; d++) {
            st.sum[d] += g * x[d];
            st.sqr[d] += g * x[d] * x[d];
        }
    }
}

void addCount(HmmTrans *t, int i, int j, double c) {
    if (t->counts.size() != t->logA.size()) t->counts.assign(t->logA.size(), 0.0);
    t->counts[(size_t)i * t->n + j] += c;
}

// Forward-backward over one net, adding statistics; answers the log likelihood
// (-inf when no path fits).
void addStreamFrame(HmmMixture *m, const float *x, const float *y, int ycols, double weight, std::vector<double> &comp) {
    if (m->streamStats.size() != m->numComponents || m->streamStats[0].sum.size() != (size_t)ycols) {
        m->streamStats.assign(m->numComponents, HmmCompStats());
        for (auto &st : m->streamStats) {
            st.sum.assign(ycols, 0.0);
            st.sqr.assign(ycols, 0.0);
        }
    }
    comp.resize(m->numComponents);
    double total = Hmm_ComponentScores(m, x, comp.data());
    for (int k = 0; k < m->numComponents; k++) {
        double g = weight * std::exp(comp[k] - total);
        if (!(g > 0)) continue;
        HmmCompStats &st = m->streamStats[k];
        st.occ += g;
        for (int d = 0; d < ycols; d++) {
            st.sum[d] += g * y[d];
            st.sqr[d] += g * y[d] * y[d];
        }
    }
}

double accumulate(const Net &net, float **rows, int T, double beam, double minModel, HmmEmbed *scratch,
                  bool given = false, std::vector<double> *occupancy = nullptr, float **stream = nullptr,
                  int streamCols = 0) {
    size_t S = net.mix.size();
    std::vector<float> &b = scratch->fstack;
    std::vector<double> &alpha = scratch->dstack;
    std::vector<double> beta;
    if (!given) emissions(net, rows, T, b);
    double P = forward(net, b, T, beam, alpha);
    if (P == kNegInf || !std::isfinite(P)) return kNegInf;
    backward(net, b, T, alpha, beta);
    std::vector<double> comp;
    double floor = -minModel;
    for (int t = 0; t < T; t++)
        for (size_t s = 0; s < S; s++) {
            double lg = alpha[(size_t)t * S + s] + beta[(size_t)t * S + s] - P;
            if (lg == kNegInf || lg < floor) continue;
            double g = std::exp(lg);
            if (occupancy) (*occupancy)[(size_t)t * S + s] = g;
            else if (stream) addStreamFrame(net.mix[s], rows[t], stream[t], streamCols, g, comp);
            else addFrame(net.mix[s], rows[t], g, comp);
        }
    // Entering the first model and leaving the last.
    for (size_t s = 0; s < S; s++) {
        double li = alpha[s] + beta[s] - P;
        if (net.init[s] > kNegInf && li > kNegInf && li >= floor)
            addCount(net.firstTrans, 0, net.local[s], std::exp(li));
        double lf = alpha[(size_t)(T - 1) * S + s] + net.fin[s] - P;
        if (net.fin[s] > kNegInf && lf > kNegInf && lf >= floor)
            addCount(net.lastTrans, net.local[s], net.lastTrans->n - 1, std::exp(lf));
    }
    for (int t = 0; t + 1 < T; t++) {
        const double *a = &alpha[(size_t)t * S];
        const double *bn = &beta[(size_t)(t + 1) * S];
        const float *en = &b[(size_t)(t + 1) * S];
        for (const Edge &e : net.edges) {
            if (a[e.from] == kNegInf || bn[e.to] == kNegInf) continue;
            double lx = a[e.from] + e.logp + en[e.to] + bn[e.to] - P;
            if (lx < floor) continue;
            double x = std::exp(lx);
            addCount(e.t1, e.i1, e.j1, x);
            if (e.t2) addCount(e.t2, e.i2, e.j2, x);
        }
    }
    return P;
}

void updateMixture(HmmMixture *m, int minCount, int flags, const std::vector<double> &floorVar) {
    double total = 0;
    for (auto &st : m->stats) total += st.occ;
    if (total <= 0) return;
    for (int k = 0; k < m->numComponents; k++) {
        HmmCompStats &st = m->stats[k];
        if (st.occ <= 0 || st.occ < minCount || st.sum.size() != m->dim) continue;
        for (int d = 0; d < m->dim; d++) {
            double mean = (flags & HMM_MEAN) ? st.sum[d] / st.occ : m->means[k][d];
            if (flags & HMM_VAR) {
                double v = st.sqr[d] / st.occ - 2 * mean * st.sum[d] / st.occ + mean * mean;
                v = std::max(v, floorVar[d]);
                m->invVars[k][d] = static_cast<float>(1.0 / v);
            }
            m->means[k][d] = static_cast<float>(mean);
        }
    }
    if ((flags & HMM_WEIGHT) && m->numComponents > 1) {
        std::vector<double> w(m->numComponents);
        double sum = 0;
        for (int k = 0; k < m->numComponents; k++) {
            w[k] = std::max(m->stats[k].occ / total, hmmOptions.minWeight);
            sum += w[k];
        }
        for (int k = 0; k < m->numComponents; k++) m->logWeights[k] = static_cast<float>(std::log(w[k] / sum));
    }
    Hmm_Fix(m);
}

void updateTrans(HmmTrans *t) {
    if (t->counts.size() != t->logA.size()) return;
    for (int i = 0; i < t->n - 1; i++) {
        double sum = 0;
        for (int j = 0; j < t->n; j++)
            if (t->at(i, j) > kNegInf) sum += t->counts[(size_t)i * t->n + j];
        if (sum <= 0) continue;
        std::vector<double> p(t->n, 0.0);
        double norm = 0;
        for (int j = 0; j < t->n; j++)
            if (t->at(i, j) > kNegInf) {
                p[j] = std::max(t->counts[(size_t)i * t->n + j] / sum, hmmOptions.minTrans);
                norm += p[j];
            }
        for (int j = 0; j < t->n; j++)
            if (t->at(i, j) > kNegInf) t->logA[(size_t)i * t->n + j] = static_cast<float>(std::log(p[j] / norm));
    }
}

// Floors per dimension from everything the given mixtures saw.
std::vector<double> varianceFloor(const std::vector<HmmMixture *> &mixes, int dim) {
    double occ = 0;
    std::vector<double> sum(dim, 0.0), sqr(dim, 0.0), out(dim, hmmOptions.varFloorAbsolute);
    for (HmmMixture *m : mixes)
        for (auto &st : m->stats) {
            if (st.sum.size() != (size_t)dim) continue;
            occ += st.occ;
            for (int d = 0; d < dim; d++) {
                sum[d] += st.sum[d];
                sqr[d] += st.sqr[d];
            }
        }
    if (occ <= 0) return out;
    for (int d = 0; d < dim; d++) {
        double v = sqr[d] / occ - (sum[d] / occ) * (sum[d] / occ);
        out[d] = std::max(hmmOptions.varFloorAbsolute, hmmOptions.varFloorFraction * v);
    }
    return out;
}

void updateSet(const std::vector<HmmMixture *> &mixes, const std::vector<HmmTrans *> &trans, int minCount,
               int flags) {
    if (!mixes.empty()) {
        std::vector<double> floorVar = varianceFloor(mixes, mixes[0]->dim);
        for (HmmMixture *m : mixes) {
            updateMixture(m, minCount, flags, floorVar);
            clearMixture(m);
        }
    }
    for (HmmTrans *t : trans) {
        if (flags & HMM_TRANSP) updateTrans(t);
        t->counts.assign(t->logA.size(), 0.0);
    }
}

// The emitting mixtures and the matrix of one model, each once.
void modelParts(const HmmModel *m, std::vector<HmmMixture *> &mixes, std::vector<HmmTrans *> &trans) {
    std::set<HmmMixture *> seen;
    for (int s = 1; s < m->numStates - 1; s++)
        if (seen.insert(m->states[s]).second) mixes.push_back(m->states[s]);
    trans.push_back(m->trans);
}

}  // namespace

void Hmm_ClearStats(HmmPool *pool) {
    for (int i = 0; i < pool->numMixtures; i++) clearMixture(pool->mixtures[i]);
    for (int i = 0; i < pool->numTrans; i++) pool->trans[i]->counts.assign(pool->trans[i]->logA.size(), 0.0);
}

int Hmm_EmbeddedTrain(GS_Result *r, HmmEmbed *state, const HmmList *list, float **rows, int frames, int cols) {
    Net net;
    if (list->numModels <= 0) {
        GS_AppendResult(r, "the model list is empty", (char *)nullptr);
        return 1;
    }
    if (!buildNet(r, list->models, list->numModels, cols, net)) return 1;
    double P = accumulate(net, rows, frames, state->prune, state->minModel, state);
    if (P == kNegInf) {
        GS_AppendResult(r, "no path of the ", std::to_string(list->numModels).c_str(), " models fits the ",
                        std::to_string(frames).c_str(), " frames", (char *)nullptr);
        return 1;
    }
    state->istack.assign(net.edges.size(), 0);
    state->pstack.assign(net.mix.size(), nullptr);
    state->accScore += P;
    state->accCount += frames;
    return 0;
}

int Hmm_StreamTrain(GS_Result *r, HmmEmbed *state, const HmmList *list, float **oldRows, int frames, int oldCols,
                    float **newRows, int newCols) {
    Net net;
    if (list->numModels <= 0) {
        GS_AppendResult(r, "the model list is empty", (char *)nullptr);
        return 1;
    }
    if (newCols <= 0 || newCols > 255) {
        GS_AppendResult(r, "the new stream's width ", std::to_string(newCols).c_str(), " is out of range 1..255",
                        (char *)nullptr);
        return 1;
    }
    if (!buildNet(r, list->models, list->numModels, oldCols, net)) return 1;
    double P = accumulate(net, oldRows, frames, state->prune, state->minModel, state, false, nullptr, newRows, newCols);
    if (P == kNegInf) {
        GS_AppendResult(r, "no path of the ", std::to_string(list->numModels).c_str(), " models fits the ",
                        std::to_string(frames).c_str(), " frames", (char *)nullptr);
        return 1;
    }
    state->accScore += P;
    state->accCount += frames;
    return 0;
}

void Hmm_StreamUpdate(HmmPool *pool, int minCount, int flags) {
    // The new stream's floors come from everything the pool saw of it.
    int dim = 0;
    for (int i = 0; i < pool->numMixtures && !dim; i++)
        if (!pool->mixtures[i]->streamStats.empty()) dim = (int)pool->mixtures[i]->streamStats[0].sum.size();
    if (!dim) return;
    double occ = 0;
    std::vector<double> sum(dim, 0.0), sqr(dim, 0.0), floorVar(dim, hmmOptions.varFloorAbsolute);
    for (int i = 0; i < pool->numMixtures; i++)
        for (auto &st : pool->mixtures[i]->streamStats) {
            if (st.sum.size() != (size_t)dim) continue;
            occ += st.occ;
            for (int d = 0; d < dim; d++) sum[d] += st.sum[d], sqr[d] += st.sqr[d];
        }
    for (int d = 0; d < dim && occ > 0; d++)
        floorVar[d] = std::max(hmmOptions.varFloorAbsolute,
                               hmmOptions.varFloorFraction * (sqr[d] / occ - (sum[d] / occ) * (sum[d] / occ)));
    for (int i = 0; i < pool->numMixtures; i++) {
        HmmMixture *m = pool->mixtures[i];
        std::vector<float> means((size_t)m->numComponents * dim, 0.0f), vars((size_t)m->numComponents * dim, 1.0f);
        for (int k = 0; k < m->numComponents; k++) {
            const HmmCompStats *st = k < (int)m->streamStats.size() && m->streamStats[k].sum.size() == (size_t)dim
                                         ? &m->streamStats[k]
                                         : nullptr;
            for (int d = 0; d < dim; d++) {
                // A component the stream never reached starts at the
                // stream's global mean and variance.
                bool seen = st && st->occ > 0 && st->occ >= minCount;
                double mean = seen ? st->sum[d] / st->occ : (occ > 0 ? sum[d] / occ : 0.0);
                double var = seen ? st->sqr[d] / st->occ - mean * mean
                                  : (occ > 0 ? sqr[d] / occ - (sum[d] / occ) * (sum[d] / occ) : 1.0);
                means[(size_t)k * dim + d] = (float)mean;
                vars[(size_t)k * dim + d] = (float)(1.0 / std::max(var, floorVar[d]));
            }
        }
        m->meanData = means;
        m->varData = vars;
        m->dim = static_cast<uint8_t>(dim);
        for (int k = 0; k < m->numComponents; k++) {
            m->meanRows[k] = m->meanData.data() + (size_t)k * dim;
            m->varRows[k] = m->varData.data() + (size_t)k * dim;
        }
        m->means = m->meanRows.data();
        m->invVars = m->varRows.data();
        m->streamStats.clear();
        clearMixture(m);
        Hmm_Fix(m);
    }
    pool->vecSize = dim;
    for (int i = 0; i < pool->numTrans; i++) {
        if (flags & HMM_TRANSP) updateTrans(pool->trans[i]);
        pool->trans[i]->counts.assign(pool->trans[i]->logA.size(), 0.0);
    }
}

int Hmm_MapUpdate(GS_Result *r, HmmPool *pool, const unsigned char *mask, int flags, int method, double beta) {
    if (method != 0 && method != 1) {
        GS_AppendResult(r, "unknown method ", std::to_string(method).c_str(), ": 0 means, 1 means and variances",
                        (char *)nullptr);
        return 1;
    }
    if (!(beta >= 0)) {
        GS_AppendResult(r, "beta must not be negative", (char *)nullptr);
        return 1;
    }
    for (int i = 0; i < pool->numMixtures; i++) {
        HmmMixture *m = pool->mixtures[i];
        if (mask && !mask[i]) {
            clearMixture(m);
            continue;
        }
        for (int k = 0; k < m->numComponents && k < (int)m->stats.size(); k++) {
            HmmCompStats &st = m->stats[k];
            if (st.occ <= 0 || st.sum.size() != m->dim) continue;
            for (int d = 0; d < m->dim; d++) {
                double old = m->means[k][d], oldVar = 1.0 / m->invVars[k][d];
                double mean = (flags & HMM_MEAN) ? (beta * old + st.sum[d]) / (beta + st.occ) : old;
                if (method == 1 && (flags & HMM_VAR)) {
                    // The prior's second moment around the new mean, plus the data's.
                    double second = beta * (oldVar + old * old) + st.sqr[d];
                    double v = second / (beta + st.occ) - mean * mean;
                    m->invVars[k][d] = (float)(1.0 / std::max(v, hmmOptions.varFloorAbsolute));
                }
                m->means[k][d] = (float)mean;
            }
        }
        Hmm_Fix(m);
        clearMixture(m);
    }
    for (int i = 0; i < pool->numTrans; i++) {
        if (flags & HMM_TRANSP) updateTrans(pool->trans[i]);
        pool->trans[i]->counts.assign(pool->trans[i]->logA.size(), 0.0);
    }
    return 0;
}

NnTarget *Hmm_EmbeddedKelmor(GS_Result *r, HmmEmbed *state, const HmmList *list, float **rows, int frames, int cols,
                             int numTargets) {
    Net net;
    if (list->numModels <= 0) {
        GS_AppendResult(r, "the model list is empty", (char *)nullptr);
        return nullptr;
    }
    int dim = list->models[0]->numStates > 2 ? list->models[0]->states[1]->dim : 0;
    if (!buildNet(r, list->models, list->numModels, dim, net)) return nullptr;
    size_t S = net.mix.size();
    int top = *std::max_element(net.pool.begin(), net.pool.end());
    if (cols <= top) {
        GS_AppendResult(r, "posteriors of ", std::to_string(cols).c_str(), " columns for ",
                        std::to_string(top + 1).c_str(), " mixtures", (char *)nullptr);
        return nullptr;
    }
    std::vector<float> &b = state->fstack;
    b.assign(S * frames, 0.0f);
    for (int t = 0; t < frames; t++)
        for (size_t s = 0; s < S; s++)
            b[(size_t)t * S + s] = (float)std::log(std::max((double)rows[t][net.pool[s]], 1e-30));
    std::vector<double> occ(S * frames, 0.0);
    double P = accumulate(net, rows, frames, state->prune, state->minModel, state, true, &occ);
    if (P == kNegInf) {
        GS_AppendResult(r, "no path of the ", std::to_string(list->numModels).c_str(), " models fits the ",
                        std::to_string(frames).c_str(), " frames", (char *)nullptr);
        return nullptr;
    }
    state->accScore += P;
    state->accCount += frames;
    NnTarget *out = new NnTarget();
    out->numRows = out->numFrames = frames;
    out->numTargets = numTargets;
    out->targetData.assign((size_t)frames * numTargets, 0.0f);
    out->classData.assign((size_t)frames * numTargets, -1);
    for (int t = 0; t < frames; t++) {
        std::map<int, double> byMixture;
        for (size_t s = 0; s < S; s++)
            if (occ[(size_t)t * S + s] > 0) byMixture[net.pool[s]] += occ[(size_t)t * S + s];
        std::vector<std::pair<double, int>> ranked;
        for (auto &kv : byMixture) ranked.emplace_back(-kv.second, kv.first);
        std::sort(ranked.begin(), ranked.end());
        for (int k = 0; k < numTargets && k < (int)ranked.size(); k++) {
            out->classData[(size_t)t * numTargets + k] = ranked[k].second;
            out->targetData[(size_t)t * numTargets + k] = (float)-ranked[k].first;
        }
        out->targetRows.push_back(out->targetData.data() + (size_t)t * numTargets);
        out->classRows.push_back(out->classData.data() + (size_t)t * numTargets);
    }
    out->targets = out->targetRows.data();
    out->classIds = out->classRows.data();
    return out;
}

int Hmm_Forward(GS_Result *r, const HmmList *list, float **rows, int frames, int cols, double *score) {
    Net net;
    if (!buildNet(r, list->models, list->numModels, cols, net)) return 1;
    std::vector<float> b;
    std::vector<double> alpha;
    emissions(net, rows, frames, b);
    *score = forward(net, b, frames, std::numeric_limits<double>::infinity(), alpha);
    return 0;
}

int Hmm_Viterbi(GS_Result *r, const HmmModel *const *models, int numModels, float **rows, int T, int cols,
                std::vector<int> *path, std::vector<int> *modelOf, double *score) {
    Net net;
    if (!buildNet(r, models, numModels, cols, net)) return 1;
    size_t S = net.mix.size();
    std::vector<float> b;
    emissions(net, rows, T, b);
    std::vector<double> v(S, kNegInf), nv(S);
    std::vector<int> back((size_t)T * S, -1);
    for (size_t s = 0; s < S; s++) v[s] = net.init[s] + b[s];
    for (int t = 1; t < T; t++) {
        for (size_t j = 0; j < S; j++) {
            double best = kNegInf;
            int arg = -1;
            for (int e = net.firstIn[j]; e < net.firstIn[j + 1]; e++) {
                const Edge &ed = net.edges[e];
                double c = v[ed.from] + ed.logp;
                if (c > best) {
                    best = c;
                    arg = ed.from;
                }
            }
            nv[j] = best == kNegInf ? kNegInf : best + b[(size_t)t * S + j];
            back[(size_t)t * S + j] = arg;
        }
        v.swap(nv);
    }
    double best = kNegInf;
    int arg = -1;
    for (size_t s = 0; s < S; s++)
        if (v[s] + net.fin[s] > best) {
            best = v[s] + net.fin[s];
            arg = static_cast<int>(s);
        }
    if (arg < 0 || T == 0) {
        GS_AppendResult(r, "no path of the models fits the ", std::to_string(T).c_str(), " frames", (char *)nullptr);
        return 1;
    }
    path->assign(T, 0);
    for (int t = T - 1; t >= 0; t--) {
        (*path)[t] = arg;
        arg = back[(size_t)t * S + arg];
    }
    if (modelOf) *modelOf = net.model;
    *score = best;
    return 0;
}

void Hmm_Update(HmmPool *pool, int minCount, int flags) {
    std::vector<HmmMixture *> mixes(pool->mixtures, pool->mixtures + pool->numMixtures);
    std::vector<HmmTrans *> trans(pool->trans, pool->trans + pool->numTrans);
    updateSet(mixes, trans, minCount, flags);
}

HmmTrain *Hmm_Train(GS_Result *r, HmmTrain *state, const HmmData *data, HmmPool *pool, float delta, int iters,
                    int flags, int verbose) {
    (void)pool;
    const HmmModel *model = data->model;
    std::vector<HmmMixture *> mixes;
    std::vector<HmmTrans *> trans;
    modelParts(model, mixes, trans);
    HmmTrain *st = state ? state : new HmmTrain();
    double last = kNegInf;
    for (int it = 0; it < iters; it++) {
        for (HmmMixture *m : mixes) clearMixture(m);
        trans[0]->counts.assign(trans[0]->logA.size(), 0.0);
        double total = 0;
        long frames = 0;
        HmmEmbed scratch;
        HmmList one;
        one.numModels = 1;
        one.modelData.assign(1, const_cast<HmmModel *>(model));
        one.models = one.modelData.data();
        one.sourceIndex = nullptr;
        one.logical = nullptr;
        scratch.prune = std::numeric_limits<double>::infinity();
        scratch.minModel = std::numeric_limits<double>::infinity();
        for (int e = 0; e < data->numExamples; e++) {
            int n = data->ends[e] - data->starts[e];
            if (n <= 0) continue;
            if (Hmm_EmbeddedTrain(r, &scratch, &one, data->rows + data->starts[e], n, data->dim) == 0) {
                total = scratch.accScore;
                frames = scratch.accCount;
            } else {
                GS_ResetResult(r);  // an example no path fits is left out
            }
        }
        if (frames == 0) {
            GS_AppendResult(r, "no example of model \"", model->name, "\" fits it", (char *)nullptr);
            if (!state) delete st;
            return nullptr;
        }
        updateSet(mixes, trans, 0, flags);
        double perFrame = total / frames;
        st->iterations++;
        st->lastScore = perFrame;
        if (verbose) fprintf(stderr, "%s: iteration %d: %g per frame\n", model->name, st->iterations, perFrame);
        if (last > kNegInf && perFrame - last < delta) break;
        last = perFrame;
    }
    return st;
}

namespace {

// Hard estimation of one model from frames assigned to its emitting states
// (state index per frame, -1 for none): components by k-means inside each
// state, transitions from the state sequence of each example.
void estimateHard(const HmmData *data, const std::vector<int> &stateOf, bool withTrans, bool kmeansFromScratch) {
    const HmmModel *model = data->model;
    int N = model->numStates, dim = data->dim;
    std::vector<HmmMixture *> mixes;
    std::vector<HmmTrans *> trans;
    modelParts(model, mixes, trans);
    for (HmmMixture *m : mixes) clearMixture(m);
    for (int s = 1; s < N - 1; s++) {
        HmmMixture *m = model->states[s];
        std::vector<const float *> frames;
        for (int f = 0; f < data->numFrames; f++)
            if (stateOf[f] == s) frames.push_back(data->rows[f]);
        if (frames.empty()) continue;
        int K = m->numComponents;
        std::vector<int> comp(frames.size(), 0);
        if (K > 1) {
            if (kmeansFromScratch) {
                // Seeds spread along the state's frames, then nearest-mean rounds.
                for (int k = 0; k < K; k++) {
                    const float *x = frames[(frames.size() * (2 * k + 1)) / (2 * K)];
                    for (int d = 0; d < dim; d++) m->means[k][d] = x[d];
                }
            }
            for (int round = 0; round < 10; round++) {
                for (size_t i = 0; i < frames.size(); i++) {
                    double best = std::numeric_limits<double>::infinity();
                    for (int k = 0; k < K; k++) {
                        double dd = 0;
                        for (int d = 0; d < dim; d++) {
                            double e = frames[i][d] - m->means[k][d];
                            dd += e * e;
                        }
                        if (dd < best) {
                            best = dd;
                            comp[i] = k;
                        }
                    }
                }
                std::vector<double> cnt(K, 0.0), sum((size_t)K * dim, 0.0);
                for (size_t i = 0; i < frames.size(); i++) {
                    cnt[comp[i]]++;
                    for (int d = 0; d < dim; d++) sum[(size_t)comp[i] * dim + d] += frames[i][d];
                }
                for (int k = 0; k < K; k++)
                    if (cnt[k] > 0)
                        for (int d = 0; d < dim; d++) m->means[k][d] = static_cast<float>(sum[(size_t)k * dim + d] / cnt[k]);
            }
        }
        if (m->stats.empty() || m->stats[0].sum.size() != (size_t)dim) clearMixture(m);
        for (size_t i = 0; i < frames.size(); i++) {
            HmmCompStats &st = m->stats[comp[i]];
            st.occ += 1;
            for (int d = 0; d < dim; d++) {
                st.sum[d] += frames[i][d];
                st.sqr[d] += (double)frames[i][d] * frames[i][d];
            }
        }
    }
    HmmTrans *t = trans[0];
    t->counts.assign(t->logA.size(), 0.0);
    if (withTrans) {
        for (int e = 0; e < data->numExamples; e++) {
            int a = data->starts[e], b = data->ends[e];
            if (b <= a || stateOf[a] < 0) continue;
            addCount(t, 0, stateOf[a], 1);
            for (int f = a; f + 1 < b; f++)
                if (stateOf[f] >= 0 && stateOf[f + 1] >= 0) addCount(t, stateOf[f], stateOf[f + 1], 1);
            if (stateOf[b - 1] >= 0) addCount(t, stateOf[b - 1], N - 1, 1);
        }
    }
    updateSet(mixes, trans, 0, (withTrans ? HMM_TRANSP : 0) | HMM_MEAN | HMM_VAR | HMM_WEIGHT);
}

// Each example's frames split evenly over the emitting states.
std::vector<int> uniformSegmentation(const HmmData *data) {
    int E = data->model->numStates - 2;
    std::vector<int> stateOf(data->numFrames, -1);
    for (int e = 0; e < data->numExamples; e++) {
        int a = data->starts[e], n = data->ends[e] - a;
        if (n < E) continue;
        for (int f = 0; f < n; f++) stateOf[a + f] = 1 + (int)((long)f * E / n);
    }
    return stateOf;
}

bool anyAssigned(const std::vector<int> &s) {
    return std::any_of(s.begin(), s.end(), [](int v) { return v >= 0; });
}

}  // namespace

HmmTrain *Hmm_ViterbiInit(GS_Result *r, HmmTrain *state, const HmmData *data, HmmPool *pool, float delta, int iters,
                          int verbose) {
    (void)pool;
    const HmmModel *model = data->model;
    HmmTrain *st = state ? state : new HmmTrain();
    double last = kNegInf;
    for (int it = 0; it < iters; it++) {
        std::vector<int> stateOf;
        double total = 0;
        long frames = 0;
        if (st->iterations == 0) {
            stateOf = uniformSegmentation(data);
            if (!anyAssigned(stateOf)) {
                GS_AppendResult(r, "no example of model \"", model->name, "\" is as long as its states",
                                (char *)nullptr);
                if (!state) delete st;
                return nullptr;
            }
            estimateHard(data, stateOf, true, true);
        } else {
            stateOf.assign(data->numFrames, -1);
            for (int e = 0; e < data->numExamples; e++) {
                int a = data->starts[e], n = data->ends[e] - a;
                std::vector<int> path;
                double score;
                if (n <= 0 || Hmm_Viterbi(r, &model, 1, data->rows + a, n, data->dim, &path, nullptr, &score)) {
                    GS_ResetResult(r);
                    continue;
                }
                for (int f = 0; f < n; f++) stateOf[a + f] = path[f] + 1;
                total += score;
                frames += n;
            }
            if (frames == 0) {
                GS_AppendResult(r, "no example of model \"", model->name, "\" fits it", (char *)nullptr);
                if (!state) delete st;
                return nullptr;
            }
            estimateHard(data, stateOf, true, false);
        }
        st->iterations++;
        if (frames) {
            double perFrame = total / frames;
            st->lastScore = perFrame;
            if (verbose) fprintf(stderr, "%s: alignment %d: %g per frame\n", model->name, st->iterations, perFrame);
            if (last > kNegInf && perFrame - last < delta) break;
            last = perFrame;
        }
    }
    return st;
}

int Hmm_VqInit(GS_Result *r, const HmmData *data, int verbose) {
    std::vector<int> stateOf = uniformSegmentation(data);
    if (!anyAssigned(stateOf)) {
        GS_AppendResult(r, "no example of model \"", data->model->name, "\" is as long as its states",
                        (char *)nullptr);
        return 1;
    }
    estimateHard(data, stateOf, false, true);
    if (verbose) fprintf(stderr, "%s: components initialised\n", data->model->name);
    return 0;
}
