#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "hmm.h"

namespace {

// Two left-to-right models over 2-D features: "a" with an inline state and
// a shared matrix, "b" with two components; keywords in mixed case.
const char *kModels = R"(~o <VecSize> 2 <MFCC_E> <DiagC>
~s "sa1"
<MEAN> 2 0.0 0.0
<VARIANCE> 2 1.0 1.0
~t "t3"
<TRANSP> 3
0 1 0
0 0.6 0.4
0 0 0
~h "a"
<BEGINHMM> <NUMSTATES> 4
<STATE> 2 ~s "sa1"
<state> 3
<mean> 2 3.0 3.0
<variance> 2 0.5 2.0
<TRANSP> 4
0 1 0 0
0 0.5 0.5 0
0 0 0.7 0.3
0 0 0 0
<ENDHMM>
~h "b"
<BEGINHMM> <NUMSTATES> 3
<STATE> 2 <NUMMIXES> 2
<MIXTURE> 1 0.25 <MEAN> 2 -3 0 <VARIANCE> 2 1 1 <GCONST> 4.0
<MIXTURE> 2 0.75 <MEAN> 2 -3 4 <VARIANCE> 2 1 1
~t "t3"
<ENDHMM>
)";

struct Loaded {
    HmmPool *pool = nullptr;
    HmmList *list = nullptr;
    ~Loaded() {
        Hmm_NukeList(list);
        Hmm_NukePool(pool);
    }
};

std::string load(const std::string &text, const std::vector<std::string> &names, Loaded &l) {
    GS_Result *r = GS_CreateResult();
    int rc = Hmm_Parse(r, text, names, &l.pool, &l.list);
    std::string why = rc ? (r->text ? r->text : "?") : "";
    GS_DeleteResult(r);
    return why;
}

TEST(HmmModelFile, NumbersMixturesInFileOrderAndCategoriesByList) {
    Loaded l;
    ASSERT_EQ(load(kModels, {"b", "a"}, l), "");
    ASSERT_EQ(l.pool->numMixtures, 3);  // sa1, a's inline state, b's state
    ASSERT_EQ(l.pool->numTrans, 2);
    EXPECT_EQ(std::string(l.list->models[0]->name), "b");
    EXPECT_EQ(l.list->models[0]->category, 0);
    EXPECT_EQ(l.list->models[1]->category, 1);
    const HmmModel *a = l.list->models[1];
    EXPECT_EQ(a->numStates, 4);
    EXPECT_EQ(a->stateIndex[0], -1);
    EXPECT_EQ(a->stateIndex[1], 0);
    EXPECT_EQ(a->stateIndex[2], 1);
    EXPECT_EQ(l.list->models[0]->stateIndex[1], 2);
    const HmmMixture *m = a->states[2];
    EXPECT_FLOAT_EQ(m->invVars[0][0], 2.0f);
    EXPECT_FLOAT_EQ(m->invVars[0][1], 0.5f);
    const HmmMixture *bm = l.list->models[0]->states[1];
    EXPECT_NEAR(std::exp(bm->logWeights[1]), 0.75, 1e-6);
    EXPECT_EQ(bm->meanIndex[0], 2);
    EXPECT_EQ(bm->meanIndex[1], 3);
    EXPECT_EQ(l.pool->parmKind, "MFCC_E");
}

TEST(HmmModelFile, SavedTextLoadsBackIdentically) {
    Loaded l, again;
    ASSERT_EQ(load(kModels, {"a", "b"}, l), "");
    std::string text = Hmm_Format(l.pool, l.list);
    ASSERT_EQ(load(text, {"a", "b"}, again), "");
    EXPECT_EQ(Hmm_Format(again.pool, again.list), text);
    // The scores agree as well, not only the text.
    float x[2] = {-2.5f, 3.0f};
    for (int i = 0; i < l.pool->numMixtures; i++)
        EXPECT_NEAR(Hmm_Score(l.pool->mixtures[i], x), Hmm_Score(again.pool->mixtures[i], x), 1e-5);
}

TEST(HmmModelFile, ScoresAreDiagonalGaussianLogDensities) {
    Loaded l;
    ASSERT_EQ(load(kModels, {"a", "b"}, l), "");
    float x[2] = {1.0f, 2.0f};
    // State 3 of "a": means 3 3, variances 0.5 and 2.
    double want = -std::log(2 * M_PI) - 0.5 * std::log(0.5 * 2.0) - 0.5 * (4 / 0.5 + 1 / 2.0);
    EXPECT_NEAR(Hmm_Score(l.pool->mixtures[1], x), want, 1e-5);
    // Two components: the log of the weighted sum of the densities.
    double c1 = 0.25 * std::exp(-std::log(2 * M_PI) - 0.5 * (16 + 4));
    double c2 = 0.75 * std::exp(-std::log(2 * M_PI) - 0.5 * (16 + 4));
    EXPECT_NEAR(Hmm_Score(l.pool->mixtures[2], x), std::log(c1 + c2), 1e-5);
}

TEST(HmmModelFile, RefusesWhatItCannotHoldByName) {
    struct Case {
        std::string text;
        std::vector<std::string> names;
        std::string message;
    } cases[] = {
        {"~o <VECSIZE> 2 ~v \"f\" <VARIANCE> 2 1 1", {}, "unsupported macro ~v"},
        {std::string(kModels) + "~h \"c\" <BEGINHMM> <NUMSTATES> 3 <STATE> 2 <TMIX> 1", {}, "unsupported keyword <TMIX>"},
        {kModels, {"a", "zz"}, "the list names model \"zz\", which the model file lacks"},
        {"~o <VECSIZE> 2 ~s \"x\" <MEAN> 3 1 1 1", {}, "<MEAN> of 3 values where the vector size is 2"},
        {"~o <VECSIZE> 2 ~h \"x\" <BEGINHMM> <NUMSTATES> 3 <STATE> 2 ~s \"nope\"", {}, "undefined state macro \"nope\""},
        {"~o <VECSIZE> 2 ~s \"x\" <MEAN> 2 1 1 <VARIANCE> 2 1 0", {}, "variance not above 0 in state \"x\""},
        {"~o <VECSIZE> 2 ~s \"x\" <MEAN> 2 1", {}, "expected a number for <MEAN>, got \"\""},
        {"~o <STREAMINFO> 2 1 1", {}, "only one stream is supported, not 2"},
        {"~o <VECSIZE> 2 ~h \"x\" <BEGINHMM> <NUMSTATES> 4 <STATE> 2 <MEAN> 2 0 0 <VARIANCE> 2 1 1 <TRANSP> 4",
         {}, "state 3 missing in model \"x\""},
    };
    for (const Case &c : cases) {
        Loaded l;
        EXPECT_EQ(load(c.text, c.names, l), c.message) << c.text;
        EXPECT_EQ(l.pool, nullptr);
        EXPECT_EQ(l.list, nullptr);
    }
}

// Forward-backward computed apart, in the probability domain with
// per-frame scaling, over a sequence of left-to-right single-Gaussian models
// given as plain numbers.
struct PlainModel {
    std::vector<std::vector<double>> mean, var;  // per emitting state
    std::vector<std::vector<double>> A;          // full matrix incl. entry/exit
};

double density(const std::vector<double> &m, const std::vector<double> &v, const float *x) {
    double p = 1;
    for (size_t d = 0; d < m.size(); d++)
        p *= std::exp(-0.5 * (x[d] - m[d]) * (x[d] - m[d]) / v[d]) / std::sqrt(2 * M_PI * v[d]);
    return p;
}

struct PlainResult {
    double logLik;
    std::vector<std::vector<double>> gamma;  // frame x concatenated state
};

PlainResult plainForwardBackward(const std::vector<PlainModel> &seq, const std::vector<std::vector<float>> &x) {
    std::vector<int> owner, local;
    for (size_t m = 0; m < seq.size(); m++)
        for (size_t s = 0; s < seq[m].mean.size(); s++) {
            owner.push_back((int)m);
            local.push_back((int)s + 1);
        }
    size_t S = owner.size(), T = x.size();
    auto trans = [&](size_t i, size_t j) {
        int mi = owner[i], mj = owner[j];
        const auto &A = seq[mi].A;
        if (mi == mj) return A[local[i]][local[j]];
        if (mj == mi + 1) return A[local[i]][A.size() - 1] * seq[mj].A[0][local[j]];
        return 0.0;
    };
    std::vector<std::vector<double>> a(T, std::vector<double>(S)), b(T, std::vector<double>(S));
    std::vector<double> scale(T);
    double logLik = 0;
    for (size_t t = 0; t < T; t++) {
        double sum = 0;
        for (size_t j = 0; j < S; j++) {
            double in = 0;
            if (t == 0)
                in = owner[j] == 0 ? seq[0].A[0][local[j]] : 0;
            else
                for (size_t i = 0; i < S; i++) in += a[t - 1][i] * trans(i, j);
            a[t][j] = in * density(seq[owner[j]].mean[local[j] - 1], seq[owner[j]].var[local[j] - 1], x[t].data());
            sum += a[t][j];
        }
        for (auto &v : a[t]) v /= sum;
        scale[t] = sum;
        logLik += std::log(sum);
    }
    const PlainModel &last = seq.back();
    double end = 0;
    for (size_t i = 0; i < S; i++) {
        b[T - 1][i] = owner[i] == (int)seq.size() - 1 ? last.A[local[i]][last.A.size() - 1] : 0;
        end += a[T - 1][i] * b[T - 1][i];
    }
    logLik += std::log(end);
    for (size_t t = T - 1; t-- > 0;)
        for (size_t i = 0; i < S; i++) {
            double v = 0;
            for (size_t j = 0; j < S; j++)
                v += trans(i, j) *
                     density(seq[owner[j]].mean[local[j] - 1], seq[owner[j]].var[local[j] - 1], x[t + 1].data()) *
                     b[t + 1][j];
            b[t][i] = v / scale[t + 1];
        }
    PlainResult out{logLik, std::vector<std::vector<double>>(T, std::vector<double>(S))};
    for (size_t t = 0; t < T; t++)
        for (size_t i = 0; i < S; i++) out.gamma[t][i] = a[t][i] * b[t][i] / end;
    return out;
}

const char *kTwoModels = R"(~o <VECSIZE> 1 <USER>
~h "p" <BEGINHMM> <NUMSTATES> 4
<STATE> 2 <MEAN> 1 0.0 <VARIANCE> 1 1.0
<STATE> 3 <MEAN> 1 2.0 <VARIANCE> 1 0.5
<TRANSP> 4 0 1 0 0  0 0.6 0.4 0  0 0 0.7 0.3  0 0 0 0 <ENDHMM>
~h "q" <BEGINHMM> <NUMSTATES> 3
<STATE> 2 <MEAN> 1 -1.0 <VARIANCE> 1 2.0
<TRANSP> 3 0 1 0  0 0.8 0.2  0 0 0 <ENDHMM>
)";

std::vector<PlainModel> plainTwo() {
    PlainModel p{{{0.0}, {2.0}}, {{1.0}, {0.5}}, {{0, 1, 0, 0}, {0, 0.6, 0.4, 0}, {0, 0, 0.7, 0.3}, {0, 0, 0, 0}}};
    PlainModel q{{{-1.0}}, {{2.0}}, {{0, 1, 0}, {0, 0.8, 0.2}, {0, 0, 0}}};
    return {p, q};
}

std::vector<std::vector<float>> frames1(std::initializer_list<float> v) {
    std::vector<std::vector<float>> out;
    for (float f : v) out.push_back({f});
    return out;
}

TEST(HmmTraining, EmbeddedScoreEqualsForwardComputedApart) {
    Loaded l;
    ASSERT_EQ(load(kTwoModels, {"p", "q"}, l), "");
    auto x = frames1({0.1f, -0.3f, 1.9f, 2.2f, 1.5f, -0.8f, -1.2f});
    std::vector<float *> rows;
    for (auto &f : x) rows.push_back(f.data());
    HmmEmbed st;
    GS_Result *r = GS_CreateResult();
    ASSERT_EQ(Hmm_EmbeddedTrain(r, &st, l.list, rows.data(), (int)rows.size(), 1), 0);
    GS_DeleteResult(r);
    PlainResult want = plainForwardBackward(plainTwo(), x);
    EXPECT_NEAR(st.accScore, want.logLik, 1e-5);
    EXPECT_EQ(st.accCount, 7);
}

TEST(HmmTraining, OnePassAndUpdateGiveBaumWelchMeans) {
    Loaded l;
    ASSERT_EQ(load(kTwoModels, {"p", "q"}, l), "");
    auto x = frames1({0.1f, -0.3f, 1.9f, 2.2f, 1.5f, -0.8f, -1.2f});
    auto y = frames1({0.4f, 2.5f, 1.0f, -2.0f});
    PlainResult gx = plainForwardBackward(plainTwo(), x), gy = plainForwardBackward(plainTwo(), y);
    std::vector<double> num(3, 0), den(3, 0);
    for (auto pair : {std::make_pair(&gx, &x), std::make_pair(&gy, &y)})
        for (size_t t = 0; t < pair.second->size(); t++)
            for (int s = 0; s < 3; s++) {
                num[s] += pair.first->gamma[t][s] * (*pair.second)[t][0];
                den[s] += pair.first->gamma[t][s];
            }
    HmmEmbed st;
    st.minModel = 1e9;  // count every occupancy
    GS_Result *r = GS_CreateResult();
    for (auto *f : {&x, &y}) {
        std::vector<float *> rows;
        for (auto &v : *f) rows.push_back(v.data());
        ASSERT_EQ(Hmm_EmbeddedTrain(r, &st, l.list, rows.data(), (int)rows.size(), 1), 0);
    }
    GS_DeleteResult(r);
    Hmm_Update(l.pool, 0, HMM_MEAN);
    for (int s = 0; s < 3; s++) EXPECT_NEAR(l.pool->mixtures[s]->means[0][0], num[s] / den[s], 1e-4) << s;
    // Variances were not asked for and stay.
    EXPECT_FLOAT_EQ(l.pool->mixtures[1]->invVars[0][0], 2.0f);
}

TEST(HmmTraining, FramesTooFewForTheModelsFail) {
    Loaded l;
    ASSERT_EQ(load(kTwoModels, {"p", "q"}, l), "");
    auto x = frames1({0.1f, 2.0f});  // three emitting states need three frames
    std::vector<float *> rows{x[0].data(), x[1].data()};
    HmmEmbed st;
    GS_Result *r = GS_CreateResult();
    EXPECT_NE(Hmm_EmbeddedTrain(r, &st, l.list, rows.data(), 2, 1), 0);
    EXPECT_STREQ(r->text, "no path of the 2 models fits the 2 frames");
    EXPECT_EQ(st.accCount, 0);
    GS_ResetResult(r);
    EXPECT_NE(Hmm_EmbeddedTrain(r, &st, l.list, rows.data(), 2, 3), 0);  // wrong width
    GS_DeleteResult(r);
}

// Frames sampled from a known model sequence; a flat start (every state the
// global mean and variance) must climb in likelihood each pass and end near
// the true means.
TEST(HmmTraining, FlatStartClimbsAndRecoversMeans) {
    const char *flat = R"(~o <VECSIZE> 1 <USER>
~h "p" <BEGINHMM> <NUMSTATES> 4
<STATE> 2 <MEAN> 1 0.0 <VARIANCE> 1 10.0
<STATE> 3 <MEAN> 1 0.0 <VARIANCE> 1 10.0
<TRANSP> 4 0 1 0 0  0 0.5 0.5 0  0 0 0.5 0.5  0 0 0 0 <ENDHMM>
~h "q" <BEGINHMM> <NUMSTATES> 3
<STATE> 2 <MEAN> 1 0.0 <VARIANCE> 1 10.0
<TRANSP> 3 0 1 0  0 0.5 0.5  0 0 0 <ENDHMM>
)";
    Loaded l;
    ASSERT_EQ(load(flat, {"p", "q"}, l), "");
    std::mt19937 rng(7);
    std::normal_distribution<float> n01(0, 1);
    const float trueMean[3] = {-4, 4, 0};  // p1, p2, q
    std::vector<std::vector<std::vector<float>>> utts;
    std::vector<std::vector<int>> seqs;
    for (int u = 0; u < 20; u++) {
        std::vector<int> seq = {0, 1};
        if (u % 2) seq = {0, 1, 0};
        std::vector<std::vector<float>> f;
        for (int m : seq) {
            if (m == 0) {
                for (int k = 0; k < 6; k++) f.push_back({trueMean[0] + 0.5f * n01(rng)});
                for (int k = 0; k < 6; k++) f.push_back({trueMean[1] + 0.5f * n01(rng)});
            } else {
                for (int k = 0; k < 6; k++) f.push_back({trueMean[2] + 0.5f * n01(rng)});
            }
        }
        utts.push_back(f);
        seqs.push_back(seq);
    }
    // Equal means in "p" stay equal under Baum-Welch: the entry state starts
    // a little lower, as a script's first segmentation would leave it.
    l.pool->mixtures[0]->means[0][0] = -1.0f;
    l.pool->mixtures[1]->means[0][0] = 1.0f;
    double previous = -1e30;
    GS_Result *r = GS_CreateResult();
    for (int pass = 0; pass < 8; pass++) {
        HmmEmbed st;
        for (size_t u = 0; u < utts.size(); u++) {
            HmmList *list = Hmm_NewList((int)seqs[u].size());
            for (size_t k = 0; k < seqs[u].size(); k++) {
                list->models[k] = l.list->models[seqs[u][k]];
                list->models[k]->refs++;
            }
            std::vector<float *> rows;
            for (auto &v : utts[u]) rows.push_back(v.data());
            ASSERT_EQ(Hmm_EmbeddedTrain(r, &st, list, rows.data(), (int)rows.size(), 1), 0) << r->text;
            Hmm_NukeList(list);
        }
        double perFrame = st.accScore / st.accCount;
        EXPECT_GE(perFrame, previous - 1e-5) << "pass " << pass;
        previous = perFrame;
        Hmm_Update(l.pool, 0, HMM_TRANSP | HMM_MEAN | HMM_VAR | HMM_WEIGHT);
    }
    GS_DeleteResult(r);
    for (int s = 0; s < 3; s++) EXPECT_NEAR(l.pool->mixtures[s]->means[0][0], trueMean[s], 0.2) << s;
    EXPECT_NEAR(1.0 / l.pool->mixtures[2]->invVars[0][0], 0.25, 0.1);
}

TEST(HmmTraining, VarianceFloorHoldsOnConstantData) {
    Loaded l;
    ASSERT_EQ(load(kTwoModels, {"p", "q"}, l), "");
    HmmModel *q = l.list->models[1];
    HmmData *d = Hmm_NewData(q, 6, 1, 2);
    for (int i = 0; i < 6; i++) d->rows[i][0] = i < 3 ? 1.0f : 1.0f;
    d->starts[0] = 0, d->ends[0] = 3, d->starts[1] = 3, d->ends[1] = 6;
    GS_Result *r = GS_CreateResult();
    HmmTrain *t = Hmm_ViterbiInit(r, nullptr, d, l.pool, 1e-5f, 2, 0);
    ASSERT_NE(t, nullptr) << r->text;
    EXPECT_FLOAT_EQ(q->states[1]->means[0][0], 1.0f);
    double var = 1.0 / q->states[1]->invVars[0][0];
    EXPECT_GE(var, hmmOptions.varFloorAbsolute * 0.999);
    EXPECT_TRUE(std::isfinite(Hmm_Score(q->states[1], d->rows[0])));
    delete t;
    Hmm_NukeData(d);
    GS_DeleteResult(r);
}

TEST(HmmTraining, ViterbiInitAndIsolatedTrainingFindTheStates) {
    Loaded l;
    ASSERT_EQ(load(kTwoModels, {"p", "q"}, l), "");
    HmmModel *p = l.list->models[0];
    std::mt19937 rng(3);
    std::normal_distribution<float> n01(0, 1);
    const int ex = 10, len = 12;
    HmmData *d = Hmm_NewData(p, ex * len, 1, ex);
    for (int e = 0; e < ex; e++) {
        d->starts[e] = e * len;
        d->ends[e] = (e + 1) * len;
        for (int f = 0; f < len; f++) d->rows[e * len + f][0] = (f < 5 ? 5.0f : -5.0f) + 0.3f * n01(rng);
    }
    GS_Result *r = GS_CreateResult();
    HmmTrain *t = Hmm_ViterbiInit(r, nullptr, d, l.pool, 1e-5f, 4, 0);
    ASSERT_NE(t, nullptr) << r->text;
    EXPECT_NEAR(p->states[1]->means[0][0], 5.0, 0.2);
    EXPECT_NEAR(p->states[2]->means[0][0], -5.0, 0.2);
    // Five frames in the first state: its self loop near 4/5.
    EXPECT_NEAR(std::exp(p->trans->at(1, 1)), 0.8, 0.05);
    HmmTrain *bw = Hmm_Train(r, nullptr, d, l.pool, 1e-6f, 5, HMM_MEAN | HMM_VAR | HMM_TRANSP, 0);
    ASSERT_NE(bw, nullptr) << r->text;
    EXPECT_NEAR(p->states[1]->means[0][0], 5.0, 0.2);
    EXPECT_GT(bw->lastScore, -2.0);
    delete t;
    delete bw;
    Hmm_NukeData(d);
    GS_DeleteResult(r);
}

}  // namespace
