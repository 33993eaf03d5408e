#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "decoder.h"

namespace {

// Five two-state models; the pool's mixtures are W1 W2 O1 O2 N1 N2 I1 I2 S1 S2.
const char *kModels = R"(~o <VECSIZE> 1 <USER>
~t "lr" <TRANSP> 4 0 1 0 0  0 0.6 0.4 0  0 0 0.6 0.4  0 0 0 0
~h "W" <BEGINHMM> <NUMSTATES> 4 <STATE> 2 <MEAN> 1 1 <VARIANCE> 1 1
<STATE> 3 <MEAN> 1 2 <VARIANCE> 1 1 ~t "lr" <ENDHMM>
~h "O" <BEGINHMM> <NUMSTATES> 4 <STATE> 2 <MEAN> 1 3 <VARIANCE> 1 1
<STATE> 3 <MEAN> 1 4 <VARIANCE> 1 1 ~t "lr" <ENDHMM>
~h "N" <BEGINHMM> <NUMSTATES> 4 <STATE> 2 <MEAN> 1 5 <VARIANCE> 1 1
<STATE> 3 <MEAN> 1 6 <VARIANCE> 1 1 ~t "lr" <ENDHMM>
~h "I" <BEGINHMM> <NUMSTATES> 4 <STATE> 2 <MEAN> 1 7 <VARIANCE> 1 1
<STATE> 3 <MEAN> 1 8 <VARIANCE> 1 1 ~t "lr" <ENDHMM>
~h "S" <BEGINHMM> <NUMSTATES> 4 <STATE> 2 <MEAN> 1 0 <VARIANCE> 1 1
<STATE> 3 <MEAN> 1 0 <VARIANCE> 1 1 ~t "lr" <ENDHMM>
)";

// Words sharing leading models, two of them sounding the same.
const char *kWords[][2] = {{"one", "W O N"}, {"won", "W O N"}, {"onion", "O N I O N"},
                           {"on", "O N"},    {"no", "N O"},     {"sil", "S"}};
const int kNumWords = 6, kCols = 10;

struct Fixture {
    GS_Result *r = GS_CreateResult();
    HmmPool *pool = nullptr;
    HmmList *list = nullptr;
    std::vector<WordGraph *> words;
    DecoderTree *d = nullptr;
    Fixture() {
        EXPECT_EQ(Hmm_Parse(r, kModels, {"W", "O", "N", "I", "S"}, &pool, &list), 0);
        for (auto &w : kWords) words.push_back(buildWord(r, w[1], w[0]));
        d = Decoder_CreateTree(r, list, words.data(), kNumWords);
        EXPECT_NE(d, nullptr) << (r->text ? r->text : "");
    }
    ~Fixture() {
        delete d;
        for (WordGraph *w : words) freeWord(w);
        Hmm_NukeList(list);
        Hmm_NukePool(pool);
        GS_DeleteResult(r);
    }
};

// Every word entered separately, at every frame, no pruning: each word's
// own copy of its models, its score paid on entry.
SevrinSearch *wordLoop(Fixture &f, const std::vector<float> &scores, SevrinLattice *lattice) {
    std::vector<GrammarPosition> pos(kNumWords);
    std::vector<int32_t> all(kNumWords);
    for (int i = 0; i < kNumWords; i++) all[i] = i;
    std::vector<float> next(scores);
    for (int i = 0; i < kNumWords; i++) pos[i] = {f.words[i]->name, 1, 1, scores[i], kNumWords, all.data(), next.data()};
    WordGrammar loop{const_cast<char *>("loop"), kNumWords, pos.data()};
    WordGrammar *gp = &loop;
    SevrinSearch *s = Sevrin_CreateGrammar(f.r, &gp, 1, f.words.data(), kNumWords);
    Sevrin_Bind(s, f.list);
    s->beam = s->wordEndBeam = 1e30f;
    s->lattice = lattice;
    return s;
}

// Frames of probabilities: each said model's two mixtures in turn for
// n frames each, over a noise floor.
std::vector<std::vector<float>> frames(const std::vector<std::pair<int, int>> &said, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> noise(0.01f, 0.2f);
    std::vector<std::vector<float>> out;
    for (auto &s : said)
        for (int half = 0; half < 2; half++)
            for (int i = 0; i < s.second; i++) {
                std::vector<float> row(kCols);
                for (float &x : row) x = noise(rng);
                row[2 * s.first + half] = 0.9f;
                out.push_back(row);
            }
    return out;
}

std::vector<std::string> labels(const HalbrinList *l) {
    std::vector<std::string> out;
    for (int i = 0; i < l->count; i++) out.push_back(std::string(l->segments[i].label) + "@" + std::to_string(l->segments[i].end));
    return out;
}

enum { W, O, N, I, S };

TEST(Decoder, TreeSearchMatchesAnExhaustiveWordLoop) {
    struct Case {
        const char *what;
        std::vector<std::pair<int, int>> said;
        std::vector<float> scores; // per word
        float shortPen;
        unsigned seed;
    } cases[] = {
        {"one word of a shared prefix", {{S, 2}, {O, 3}, {N, 3}, {S, 2}}, {0, 0, 0, 0, 0, 0}, 1.0f, 1},
        {"the longer word through the shorter's nodes", {{O, 2}, {N, 2}, {I, 3}, {O, 2}, {N, 3}}, {0, 0, 0, 0, 0, 0}, 1.0f, 2},
        {"homophones parted by their scores", {{W, 3}, {O, 2}, {N, 3}}, {-2, -0.5f, 0, 0, 0, 0}, 1.0f, 3},
        {"scores and an entry penalty change the split",
         {{O, 2}, {N, 2}, {I, 2}, {O, 2}, {N, 2}, {N, 2}, {O, 2}},
         {-1, -1, -6, -0.2f, -0.3f, -1},
         0.05f,
         4},
        {"noise alone", {{S, 1}, {I, 1}, {W, 1}, {N, 2}, {O, 1}}, {-0.1f, -0.2f, -0.3f, -0.4f, -0.5f, -0.6f}, 0.5f, 5},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Fixture f;
        ASSERT_NE(f.d, nullptr);
        ASSERT_EQ(Decoder_SetUnigram(f.r, f.d, c.scores), 0);
        f.d->shortPen = c.shortPen;
        f.d->stateBeam = f.d->wordEndBeam = 1e30f;
        std::unique_ptr<SevrinLattice> loopLattice(Sevrin_NewLattice(100, 100, 10, 10));
        SevrinSearch *s = wordLoop(f, c.scores, loopLattice.get());
        s->shortPen = c.shortPen;
        auto x = frames(c.said, c.seed);
        std::vector<float *> rows;
        for (auto &v : x) rows.push_back(v.data());
        // In two pieces, so that the tree carries its tokens over.
        int half = (int)rows.size() / 2;
        ASSERT_EQ(Decoder_Pipe(f.r, f.d, rows.data(), half, kCols, nullptr), 0);
        ASSERT_EQ(Decoder_Pipe(f.r, f.d, rows.data() + half, (int)rows.size() - half, kCols, nullptr), 0);
        ASSERT_EQ(Sevrin_ForwardProbs(f.r, s, rows.data(), (int)rows.size(), kCols, 1.0f, nullptr), 0);
        HalbrinList *lists[3];
        ASSERT_EQ(Sevrin_Best(f.r, s, lists), 0) << f.r->text;
        HalbrinList *tree = Decoder_GetBest(f.r, f.d);
        ASSERT_NE(tree, nullptr) << f.r->text;
        EXPECT_EQ(labels(tree), labels(lists[0]));
        EXPECT_NEAR(tree->score, lists[0]->score, 1e-3 * std::fabs(lists[0]->score));
        ASSERT_EQ(tree->count, lists[0]->count);
        for (int i = 0; i < tree->count; i++)
            EXPECT_NEAR(tree->segments[i].score, lists[0]->segments[i].score, 1e-3);
        // Every word end the loop saw, in the same order and scores.
        const SevrinLattice &a = *f.d->lattice, &b = *loopLattice;
        ASSERT_EQ(a.cells.size(), b.cells.size());
        for (size_t i = 0; i < a.cells.size(); i++) {
            EXPECT_EQ(a.cells[i].word, b.cells[i].word) << i;
            EXPECT_EQ(a.cells[i].begin, b.cells[i].begin) << i;
            EXPECT_EQ(a.cells[i].end, b.cells[i].end) << i;
            EXPECT_NEAR(a.cells[i].score, b.cells[i].score, 1e-3 * std::fabs(b.cells[i].score)) << i;
        }
        nukeHalbrin(tree);
        nukeHalbrin(lists[0]);
        Sevrin_Nuke(s);
    }
}

TEST(Decoder, WordsShareTheirLeadingModels) {
    Fixture f;
    ASSERT_NE(f.d, nullptr);
    // one/won: W O N once; onion and on: O N I O N; no: N O; sil: S.
    EXPECT_EQ(LexTree_NumNodes(f.d->lex.get()), 3 + 5 + 2 + 1);
}

TEST(Decoder, RefusesAWordThatLoopsBackInItsGraph) {
    GS_Result *r = GS_CreateResult();
    HmmPool *pool = nullptr;
    HmmList *list = nullptr;
    ASSERT_EQ(Hmm_Parse(r, kModels, {"W", "O", "N", "I", "S"}, &pool, &list), 0);
    WordGraph *w = buildWord(r, "W O", "wo");
    ASSERT_NE(w, nullptr);
    // O back to W.
    int16_t back[] = {0};
    int16_t *keep = w->nodes[1].successors;
    int16_t keepCount = w->nodes[1].numSuccessors;
    w->nodes[1].successors = back;
    w->nodes[1].numSuccessors = 1;
    DecoderTree *d = Decoder_CreateTree(r, list, &w, 1);
    w->nodes[1].successors = keep;
    w->nodes[1].numSuccessors = keepCount;
    EXPECT_EQ(d, nullptr);
    EXPECT_NE(std::string(r->text ? r->text : "").find("loops back"), std::string::npos) << (r->text ? r->text : "");
    delete d;
    freeWord(w);
    Hmm_NukeList(list);
    Hmm_NukePool(pool);
    GS_DeleteResult(r);
}

}  // namespace
