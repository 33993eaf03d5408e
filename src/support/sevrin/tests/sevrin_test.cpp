#include <gtest/gtest.h>

#include <random>

#include "sevrin.h"

namespace {

// Three one-dimensional models of two states: A low, B high, S near 0.
const char *kModels = R"(~o <VECSIZE> 1 <USER>
~t "lr" <TRANSP> 4 0 1 0 0  0 0.6 0.4 0  0 0 0.6 0.4  0 0 0 0
~h "A" <BEGINHMM> <NUMSTATES> 4 <STATE> 2 <MEAN> 1 -3 <VARIANCE> 1 0.5
<STATE> 3 <MEAN> 1 -5 <VARIANCE> 1 0.5 ~t "lr" <ENDHMM>
~h "B" <BEGINHMM> <NUMSTATES> 4 <STATE> 2 <MEAN> 1 3 <VARIANCE> 1 0.5
<STATE> 3 <MEAN> 1 5 <VARIANCE> 1 0.5 ~t "lr" <ENDHMM>
~h "S" <BEGINHMM> <NUMSTATES> 4 <STATE> 2 <MEAN> 1 0 <VARIANCE> 1 0.5
<STATE> 3 <MEAN> 1 0 <VARIANCE> 1 0.5 ~t "lr" <ENDHMM>
)";

struct Fixture {
    HmmPool *pool = nullptr;
    HmmList *list = nullptr;
    std::vector<WordGraph *> words;
    WordGrammar *grammar = nullptr;
    SevrinSearch *search = nullptr;
    GS_Result *r = GS_CreateResult();

    explicit Fixture(const char *grammarText = "$d = one | two; [sil] < $d [sil] >") {
        EXPECT_EQ(Hmm_Parse(r, kModels, {"A", "B", "S"}, &pool, &list), 0);
        const char *prons[][2] = {{"one", "A"}, {"two", "B A"}, {"sil", "S"}};
        for (auto &p : prons) words.push_back(buildWord(r, p[1], p[0]));
        grammar = buildGrammar(r, grammarText, "digits");
        EXPECT_NE(grammar, nullptr) << (r->text ? r->text : "");
        search = Sevrin_CreateGrammar(r, &grammar, 1, words.data(), (int)words.size());
        EXPECT_NE(search, nullptr) << (r->text ? r->text : "");
        Sevrin_Bind(search, list);
    }
    ~Fixture() {
        Sevrin_Nuke(search);
        for (WordGraph *w : words) freeWord(w);
        freeGrammar(grammar);
        Hmm_NukeList(list);
        Hmm_NukePool(pool);
        GS_DeleteResult(r);
    }
};

// Frames of the given models, each state for the given frames.
std::vector<std::vector<float>> frames(const std::vector<std::pair<char, int>> &said, unsigned seed = 1) {
    std::mt19937 rng(seed);
    std::normal_distribution<float> noise(0, 0.3f);
    std::vector<std::vector<float>> out;
    for (auto &s : said) {
        float a = s.first == 'A' ? -3 : s.first == 'B' ? 3 : 0, b = s.first == 'A' ? -5 : s.first == 'B' ? 5 : 0;
        for (int i = 0; i < s.second; i++) out.push_back({(i < s.second / 2 ? a : b) + noise(rng)});
    }
    return out;
}

std::vector<std::string> labels(const HalbrinList *l) {
    std::vector<std::string> out;
    for (int i = 0; i < l->count; i++) out.push_back(l->segments[i].label);
    return out;
}

int decode(Fixture &f, const std::vector<std::vector<float>> &x, HalbrinList **lists, int pieces = 1) {
    std::vector<float *> rows;
    for (auto &v : x) rows.push_back(const_cast<float *>(v.data()));
    int n = (int)rows.size();
    for (int k = 0; k < pieces; k++) {
        int a = n * k / pieces, b = n * (k + 1) / pieces;
        if (Sevrin_Forward(f.r, f.search, rows.data() + a, b - a, 1)) return 1;
    }
    return Sevrin_Best(f.r, f.search, lists);
}

TEST(Sevrin, DecodesTheSaidWordsWithTheirFrames) {
    Fixture f;
    // sil one two one sil: "two" is B then A.
    auto x = frames({{'S', 6}, {'A', 6}, {'B', 6}, {'A', 6}, {'A', 6}, {'S', 6}});
    HalbrinList *lists[3];
    ASSERT_EQ(decode(f, x, lists), 0) << f.r->text;
    ASSERT_NE(lists[0], nullptr);
    EXPECT_EQ(labels(lists[0]), (std::vector<std::string>{"sil", "one", "two", "one", "sil"}));
    int ends[] = {6, 12, 24, 30, 36};
    for (int i = 0; i < 5 && i < lists[0]->count; i++) EXPECT_EQ(lists[0]->segments[i].end, ends[i]) << i;
    float sum = 0;
    for (int i = 0; i < lists[0]->count; i++) sum += lists[0]->segments[i].score;
    EXPECT_NEAR(sum, lists[0]->score, 1e-2);
    EXPECT_EQ(lists[1], nullptr);
    nukeHalbrin(lists[0]);
}

TEST(Sevrin, FedInPiecesGivesTheSameAnswerAndTracesPhonesAndStates) {
    Fixture whole, pieces;
    auto x = frames({{'B', 6}, {'A', 6}, {'A', 8}});
    HalbrinList *a[3], *b[3];
    pieces.search->traceFlags = 7;
    ASSERT_EQ(decode(whole, x, a), 0);
    ASSERT_EQ(decode(pieces, x, b, 3), 0) << pieces.r->text;
    EXPECT_EQ(labels(a[0]), labels(b[0]));
    EXPECT_EQ(labels(b[1]), (std::vector<std::string>{"B", "A", "A"}));
    ASSERT_NE(b[2], nullptr);
    EXPECT_EQ(b[2]->count, 6);
    EXPECT_EQ(std::string(b[2]->segments[0].label), "B[2]");
    EXPECT_EQ(b[2]->segments[5].end, 20);
    for (HalbrinList *l : {a[0], b[0], b[1], b[2]}) nukeHalbrin(l);
}

TEST(Sevrin, RefusesWhatCannotRun) {
    {
        Fixture f;
        Sevrin_Bind(f.search, nullptr);
        HalbrinList *l[3];
        EXPECT_NE(decode(f, frames({{'A', 4}}), l), 0);
        EXPECT_STREQ(f.r->text, "the search has no model list: bind one with set");
    }
    {
        Fixture f;
        HalbrinList *l[3];
        // One frame is too short for any two-state word.
        EXPECT_NE(decode(f, frames({{'A', 1}}), l), 0);
        EXPECT_STREQ(f.r->text, "no hypothesis ends a sentence");
    }
    {
        GS_Result *r = GS_CreateResult();
        WordGraph *w = buildWord(r, "A", "one");
        WordGrammar *g = buildGrammar(r, "one three", "g");
        EXPECT_EQ(Sevrin_CreateGrammar(r, &g, 1, &w, 1), nullptr);
        EXPECT_STREQ(r->text, "grammar \"g\" uses the word \"three\", which is not among the words");
        freeWord(w);
        freeGrammar(g);
        GS_DeleteResult(r);
    }
}

TEST(Sevrin, NetworkOutlivesTheListItWasBuiltFrom) {
    Fixture f;
    HalbrinList *l[3];
    ASSERT_EQ(decode(f, frames({{'A', 6}}), l), 0);
    nukeHalbrin(l[0]);
    Hmm_NukeList(f.list);
    Hmm_NukePool(f.pool);
    f.list = nullptr;
    f.pool = nullptr;
    Sevrin_Reset(f.search);
    // The search still runs on the models its network holds.
    ASSERT_EQ(decode(f, frames({{'B', 6}, {'A', 6}}), l), 0);
    EXPECT_EQ(labels(l[0]), (std::vector<std::string>{"two"}));
    nukeHalbrin(l[0]);
}

TEST(Sevrin, AlignsWordStringsAsEditDistance) {
    struct Case {
        std::vector<std::string> ref, hyp;
        int c, s, d, i;
        std::vector<std::string> steps;
    } cases[] = {
        {{"a", "b", "c"}, {"a", "x", "c"}, 2, 1, 0, 0, {"a a", "b x", "c c"}},
        {{"a", "b", "c"}, {"a", "c"}, 2, 0, 1, 0, {"a a", "b *", "c c"}},
        {{"a", "b"}, {"a", "b", "d"}, 2, 0, 0, 1, {"a a", "b b", "* d"}},
        {{"a"}, {}, 0, 0, 1, 0, {"a *"}},
        {{}, {}, 0, 0, 0, 0, {}},
    };
    for (const Case &c : cases) {
        int a, b, d, i;
        HalbrinList *l = Sevrin_Align(c.ref, c.hyp, &a, &b, &d, &i);
        EXPECT_EQ(std::vector<int>({a, b, d, i}), std::vector<int>({c.c, c.s, c.d, c.i}));
        EXPECT_EQ(labels(l), c.steps);
        nukeHalbrin(l);
    }
}

}  // namespace
