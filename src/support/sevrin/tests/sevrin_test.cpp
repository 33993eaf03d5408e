#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <random>
#include <unistd.h>

#include "sevrin.h"

namespace {

const double kNegInf = -std::numeric_limits<double>::infinity();

// Three one-dimensional models of two states: A low, B high, S near 0.
const char *kModels = R"(~o <VECSIZE> 1 <USER>
~t "lr" <TRANSP> 4 0 1 0 0  0 0.6 0.4 0  0 0 0.6 0.4  0 0 0 0
~h "A" <BEGINHMM> <NUMSTATES> 4 <STATE> 2 <MEAN> 1 -3 <VARIANCE> 1 0.5
<STATE> 3 <MEAN> 1 -5 <VARIANCE> 1 0.5 ~t "lr" <ENDHMM>
~h "B" <BEGINHMM> <NUMSTATES> 4 <STATE> 2 <MEAN> 1 3 <VARIANCE> 1 0.5
<STATE> 3 <MEAN> 1 5 <VARIANCE> 1 0.5 ~t "lr" <ENDHMM>
~h "S" <BEGINHMM> <NUMSTATES> 4 <STATE> 2 <MEAN> 1 0 <VARIANCE> 1 0.5
<STATE> 3 <MEAN> 1 0 <VARIANCE> 1 0.5 ~t "lr" <ENDHMM>
~h "sp" <BEGINHMM> <NUMSTATES> 4 <STATE> 2 <MEAN> 1 0 <VARIANCE> 1 0.5
<STATE> 3 <MEAN> 1 0 <VARIANCE> 1 0.5 ~t "lr" <ENDHMM>
)";

// Words and their phones; triphone tables.
using Prons = std::vector<std::pair<const char *, const char *>>;
using Table = std::map<std::string, std::string>;

struct Fixture {
    HmmPool *pool = nullptr;
    HmmList *list = nullptr;
    std::vector<WordGraph *> words;
    WordGrammar *grammar = nullptr;
    SevrinSearch *search = nullptr;
    GS_Result *r = GS_CreateResult();

    // Extra words are sounded as "one" ("uno") and "two" ("deux"), so only
    // a language model tells them apart.
    explicit Fixture(const char *grammarText = "$d = one | two; [sil] < $d [sil] >", const LmVocab *vocab = nullptr,
                     bool appendSp = false, std::vector<std::string> models = {"A", "B", "S"},
                     const std::string &modelText = kModels,
                     const Prons &prons = {{"one", "A"}, {"two", "B A"}, {"sil", "S"}, {"uno", "A"}, {"deux", "B A"}},
                     const Table *table = nullptr) {
        EXPECT_EQ(Hmm_Parse(r, modelText, models, &pool, &list), 0) << (r->text ? r->text : "");
        for (auto &p : prons) words.push_back(buildWord(r, p.second, p.first));
        grammar = buildGrammar(r, grammarText, "digits");
        EXPECT_NE(grammar, nullptr) << (r->text ? r->text : "");
        search = Sevrin_CreateGrammar(r, &grammar, 1, words.data(), (int)words.size(), vocab, appendSp, table);
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
        // L and H sit where only the context units below fit.
        static const std::map<char, std::pair<float, float>> means = {
            {'A', {-3, -5}}, {'B', {3, 5}}, {'S', {0, 0}}, {'L', {-12, -12}}, {'H', {12, 12}}};
        float a = means.at(s.first).first, b = means.at(s.first).second;
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

// A back-off model file: unigrams {logP, back-off} by index; bigrams by
// (w1, w2) with {logP, back-off}; trigrams by (w1, w2, w3) with logP. Three
// levels when any trigram is given.
struct LmSpec {
    std::vector<std::pair<float, float>> uni;
    std::map<std::pair<int, int>, std::pair<float, float>> bi;
    std::map<std::vector<int>, float> tri;
};

int32_t bits(float f) {
    int32_t w;
    memcpy(&w, &f, sizeof w);
    return w;
}

ZandorModel *writeLm(GS_Result *r, const LmSpec &m) {
    int levels = m.tri.empty() ? 2 : 3, width = levels == 3 ? 4 : 2;
    int u = (int)m.uni.size();
    std::vector<int32_t> img = {2, -levels, u};
    for (auto &x : m.uni) img.insert(img.end(), {0, bits(x.first), 0, bits(x.second)});
    for (int w1 = 0; w1 < u; w1++) {
        img[3 + 4 * w1 + 2] = (int32_t)img.size();
        std::vector<std::pair<int, size_t>> recs;  // w2 and where its record sits
        img.push_back(-1);
        for (auto &b : m.bi)
            if (b.first.first == w1) {
                img[img[3 + 4 * w1 + 2]]++;
                recs.emplace_back(b.first.second, img.size());
                img.insert(img.end(), {b.first.second, bits(b.second.first)});
                if (width == 4) img.insert(img.end(), {0, bits(b.second.second)});
            }
        if (levels < 3) continue;
        for (auto &rc : recs) {
            img[rc.second + 2] = (int32_t)img.size();
            size_t head = img.size();
            img.push_back(-1);
            for (auto &t : m.tri)
                if (t.first[0] == w1 && t.first[1] == rc.first) {
                    img[head]++;
                    img.insert(img.end(), {t.first[2], bits(t.second)});
                }
        }
    }
    char path[] = "/tmp/sevrin_lm_XXXXXX";
    int fd = mkstemp(path);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, img.data(), img.size() * 4), (ssize_t)(img.size() * 4));
    close(fd);
    ZandorModel *lm = lm_Initialize(r, path);
    unlink(path);
    EXPECT_NE(lm, nullptr) << (r->text ? r->text : "");
    return lm;
}

// Model indices differ from the word list's order, so the vocabulary's
// mapping is what picks the scores.
enum { kSil, kOne, kUno, kTwo, kDeux };

TEST(Sevrin, LanguageModelScoresWordTransitions) {
    const float uniSil = -1.0f, uniOne = -2.0f, uniUno = -1.5f, uniTwo = -2.0f, uniDeux = -2.5f;
    LmSpec unigramOnly{{{uniSil, -0.25f}, {uniOne, -0.5f}, {uniUno, 0}, {uniTwo, 0}, {uniDeux, 0}}, {}, {}};
    LmSpec bigram = unigramOnly;
    bigram.bi[{kSil, kOne}] = {-0.5f, 0};
    bigram.bi[{kOne, kTwo}] = {-0.75f, -0.125f};
    bigram.bi[{kOne, kDeux}] = {-1.75f, 0};
    LmSpec trigram = bigram;
    trigram.tri[{kSil, kOne, kDeux}] = -0.25f;
    struct Case {
        const char *what, *grammar;
        const LmSpec *lm;
        std::vector<std::pair<char, int>> said;
        std::vector<std::string> words;
        float lmScore; // the language model's part of the best path
    } cases[] = {
        // No bigram after sil: back-off(sil) + unigram, and uno's is better.
        {"unigrams", "sil (one | uno)", &unigramOnly, {{'S', 6}, {'A', 6}}, {"sil", "uno"}, uniSil - 0.25f + uniUno},
        {"bigram flips it", "sil (one | uno)", &bigram, {{'S', 6}, {'A', 6}}, {"sil", "one"}, uniSil - 0.5f},
        {"bigram after a word", "sil one (two | deux)", &bigram, {{'S', 6}, {'A', 6}, {'B', 6}, {'A', 6}},
         {"sil", "one", "two"}, uniSil - 0.5f - 0.75f},
        {"trigram flips it", "sil one (two | deux)", &trigram, {{'S', 6}, {'A', 6}, {'B', 6}, {'A', 6}},
         {"sil", "one", "deux"}, uniSil - 0.5f - 0.25f},
    };
    GS_Result *r = GS_CreateResult();
    const char *names[] = {"sil", "one", "uno", "two", "deux"};
    LmVocab *vocab = lm_createVocab(r, const_cast<char **>(names), 5);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ZandorModel *lm = writeLm(r, *c.lm);
        ASSERT_NE(lm, nullptr);
        Fixture plain(c.grammar, vocab), scored(c.grammar, vocab);
        scored.search->lm = lm;
        auto x = frames(c.said);
        HalbrinList *a[3], *b[3];
        ASSERT_EQ(decode(plain, x, a), 0) << plain.r->text;
        ASSERT_EQ(decode(scored, x, b), 0) << scored.r->text;
        EXPECT_EQ(labels(b[0]), c.words);
        // The twins sound alike, so without the model both paths score
        // the same and the model adds exactly its own part.
        EXPECT_NEAR(b[0]->score - a[0]->score, c.lmScore, 1e-3);
        // A saved search keeps its words' model indices.
        std::string text;
        ASSERT_EQ(Sevrin_Format(r, scored.search, &text), 0);
        SevrinSearch *back = Sevrin_Parse(r, text, "saved");
        ASSERT_NE(back, nullptr) << r->text;
        EXPECT_EQ(back->lmWord, scored.search->lmWord);
        Sevrin_Nuke(back);
        nukeHalbrin(a[0]);
        nukeHalbrin(b[0]);
        lm_Nuke(lm);
    }
    lm_nukeVocab(vocab);
    GS_DeleteResult(r);
}

TEST(Sevrin, AppendedShortPauseIsOptionalAfterEveryWord) {
    struct Case {
        bool appendSp;
        std::vector<std::pair<char, int>> said;
        std::vector<std::string> phones;
        int firstEnd; // where "one" ends, with its pause
    } cases[] = {
        {false, {{'A', 6}, {'B', 6}, {'A', 6}}, {"A", "B", "A"}, 6},
        {true, {{'A', 6}, {'S', 6}, {'B', 6}, {'A', 6}}, {"A", "sp", "B", "A"}, 12},
        {true, {{'A', 6}, {'B', 6}, {'A', 6}}, {"A", "B", "A"}, 6},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.phones.size());
        Fixture f("one two", nullptr, c.appendSp, {"A", "B", "S", "sp"});
        f.search->traceFlags = 3;
        HalbrinList *l[3];
        ASSERT_EQ(decode(f, frames(c.said), l), 0) << f.r->text;
        EXPECT_EQ(labels(l[0]), (std::vector<std::string>{"one", "two"}));
        EXPECT_EQ(labels(l[1]), c.phones);
        EXPECT_EQ(l[0]->segments[0].end, c.firstEnd);
        nukeHalbrin(l[0]);
        nukeHalbrin(l[1]);
    }
    // A list without the pause model cannot run such a search.
    Fixture f("one two", nullptr, true);
    EXPECT_NE(Sevrin_Check(f.r, f.search), 0);
    EXPECT_NE(std::string(f.r->text).find("\"sp\""), std::string::npos) << f.r->text;
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

// Context units far from the plain models: a path that earns them by its
// neighbours wins frames no plain model fits.
const char *kUnits = R"(
~h "Ax" <BEGINHMM> <NUMSTATES> 4 <STATE> 2 <MEAN> 1 -12 <VARIANCE> 1 0.5
<STATE> 3 <MEAN> 1 -12 <VARIANCE> 1 0.5 ~t "lr" <ENDHMM>
~h "Bx" <BEGINHMM> <NUMSTATES> 4 <STATE> 2 <MEAN> 1 12 <VARIANCE> 1 0.5
<STATE> 3 <MEAN> 1 12 <VARIANCE> 1 0.5 ~t "lr" <ENDHMM>
)";

using Frames = std::vector<std::vector<float>>;

HmmModel *named(const HmmList *list, const std::string &name) {
    for (int k = 0; k < list->numModels; k++)
        if (name == list->models[k]->name) return list->models[k];
    return nullptr;
}

// The best score of one phone string, worked apart from the search: each
// phone's unit by its neighbours (".pau" at the ends), the units chained
// left to right and aligned to the frames.
double forced(const HmmList *list, const Table &table, const std::vector<std::string> &phones, const Frames &x) {
    struct St {
        const HmmModel *m;
        int k, s;
    };
    std::vector<St> chain;
    std::vector<const HmmModel *> ms;
    for (size_t i = 0; i < phones.size(); i++) {
        std::string key = (i ? phones[i - 1] : ".pau") + "-" + phones[i] + "+" +
                          (i + 1 < phones.size() ? phones[i + 1] : ".pau");
        auto it = table.find(key);
        const HmmModel *m = named(list, it == table.end() ? phones[i] : it->second);
        EXPECT_NE(m, nullptr) << key;
        if (!m) return kNegInf;
        ms.push_back(m);
        for (int s = 1; s < m->numStates - 1; s++) chain.push_back({m, (int)i, s});
    }
    auto exitOf = [](const St &a) { return a.m->trans->at(a.s, a.m->numStates - 1); };
    std::vector<double> cur(chain.size(), kNegInf);
    for (size_t t = 0; t < x.size(); t++) {
        std::vector<double> nxt(chain.size(), kNegInf);
        for (size_t j = 0; j < chain.size(); j++) {
            const St &b = chain[j];
            if (t == 0 && b.k == 0) nxt[j] = b.m->trans->at(0, b.s);
            for (size_t i = 0; t > 0 && i < chain.size(); i++) {
                const St &a = chain[i];
                if (a.k == b.k) nxt[j] = std::max(nxt[j], cur[i] + a.m->trans->at(a.s, b.s));
                else if (a.k + 1 == b.k) nxt[j] = std::max(nxt[j], cur[i] + exitOf(a) + b.m->trans->at(0, b.s));
            }
            nxt[j] += Hmm_Score(b.m->states[b.s], x[t].data());
        }
        cur.swap(nxt);
    }
    double best = kNegInf;
    for (size_t i = 0; i < chain.size(); i++)
        if (chain[i].k + 1 == (int)phones.size()) best = std::max(best, cur[i] + exitOf(chain[i]));
    return best;
}

// A search over single-phone words x (A), y (B), z (S) and the word w (B A),
// with the context units in its list.
struct ContextFixture : Fixture {
    ContextFixture(const char *grammarText, const Table &table, bool appendSp = false)
        : Fixture(grammarText, nullptr, appendSp, {"A", "B", "S", "sp", "Ax", "Bx"}, std::string(kModels) + kUnits,
                  {{"x", "A"}, {"y", "B"}, {"z", "S"}, {"w", "B A"}}, &table) {}
};

TEST(Sevrin, TriphoneUnitsFollowTheirNeighboursAcrossWords) {
    struct Case {
        const char *what, *grammar;
        Table table;
        bool appendSp;
        std::vector<std::pair<char, int>> said;
        std::vector<std::vector<std::string>> sentences; // every phone string the grammar allows
        std::vector<std::string> words;
        const char *unit; // a unit the best path runs, or null
    } cases[] = {
        {"a first phone sees the last phone of the word before", "(x | z) y", {{"A-B+.pau", "Bx"}}, false,
         {{'S', 6}, {'H', 6}}, {{"A", "B"}, {"S", "B"}}, {"x", "y"}, "Bx"},
        {"without the table the plain models win", "(x | z) y", {}, false, {{'S', 6}, {'H', 6}},
         {{"A", "B"}, {"S", "B"}}, {"z", "y"}, nullptr},
        {"units that are the phones' own models change nothing", "(x | z) y",
         {{"A-B+.pau", "B"}, {"S-B+.pau", "B"}, {".pau-A+B", "A"}, {".pau-S+B", "S"}}, false, {{'S', 6}, {'H', 6}},
         {{"A", "B"}, {"S", "B"}}, {"z", "y"}, nullptr},
        {"a unit of another left context is not used", "(x | z) y", {{"S-B+.pau", "Bx"}, {"A-B+.pau", "Ax"}}, false,
         {{'A', 6}, {'H', 6}}, {{"A", "B"}, {"S", "B"}}, {"z", "y"}, "Bx"},
        {"a last phone sees the first phone of the word after", "x (y | z)", {{".pau-A+B", "Ax"}}, false,
         {{'L', 6}, {'S', 6}}, {{"A", "B"}, {"A", "S"}}, {"x", "y"}, "Ax"},
        {"a silence word between is the context", "x [z] y", {{"S-B+.pau", "Bx"}}, false,
         {{'A', 6}, {'S', 6}, {'H', 6}}, {{"A", "B"}, {"A", "S", "B"}}, {"x", "z", "y"}, "Bx"},
        {"a short pause taken is the context", "x y", {{"sp-B+.pau", "Bx"}}, true, {{'A', 6}, {'S', 6}, {'H', 6}},
         {{"A", "B"}, {"A", "sp", "B"}, {"A", "B", "sp"}, {"A", "sp", "B", "sp"}}, {"x", "y"}, "Bx"},
        {"inside a word", "w | (y z)", {{"B-A+.pau", "Ax"}}, false, {{'B', 6}, {'L', 6}},
         {{"B", "A"}, {"B", "S"}}, {"w"}, "Ax"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ContextFixture f(c.grammar, c.table, c.appendSp);
        f.search->traceFlags = 5;
        Frames x = frames(c.said);
        double best = kNegInf;
        for (auto &phones : c.sentences) best = std::max(best, forced(f.list, c.table, phones, x));
        HalbrinList *l[3];
        ASSERT_EQ(decode(f, x, l), 0) << f.r->text;
        EXPECT_EQ(labels(l[0]), c.words);
        EXPECT_NEAR(l[0]->score, best, 1e-3 * std::fabs(best) + 1e-3);
        bool ran = false;
        for (auto &s : labels(l[1])) ran = ran || (c.unit && s.rfind(std::string(c.unit) + "[", 0) == 0);
        EXPECT_EQ(ran, c.unit != nullptr);
        nukeHalbrin(l[0]);
        nukeHalbrin(l[1]);
    }
}

TEST(Sevrin, TriphoneTableIsSavedAndAMissingUnitRefused) {
    ContextFixture f("x y", {{"A-B+.pau", "Bx"}, {".pau-A+B", "Gone"}});
    EXPECT_NE(Sevrin_Check(f.r, f.search), 0);
    EXPECT_STREQ(f.r->text, "no model for the triphone unit \"Gone\" of \".pau-A+B\"");
    std::string text;
    ASSERT_EQ(Sevrin_Format(f.r, f.search, &text), 0);
    SevrinSearch *back = Sevrin_Parse(f.r, text, "saved");
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->triphones, f.search->triphones);
    Sevrin_Nuke(back);
    EXPECT_EQ(Sevrin_Parse(f.r, text + "triphone A-B+.pau\n", "cut"), nullptr);
}

TEST(Sevrin, TrigramBestPathEqualsRescoringEverySentence) {
    // a and b sound alike and both lead to c; the model likes a better
    // alone but d only after b c, so a token at c keeping just the better
    // history would lose the best sentence.
    enum { kA, kB, kC, kD };
    LmSpec spec{{{-1, 0}, {-2, 0}, {-2, 0}, {-2, 0}}, {}, {}};
    spec.bi[{kA, kC}] = {-0.5f, 0};
    spec.bi[{kB, kC}] = {-0.5f, 0};
    spec.bi[{kC, kD}] = {-5, 0};
    spec.tri[{kB, kC, kD}] = -0.1f;
    Fixture f("(a | b) c d", nullptr, false, {"A", "B", "S"}, kModels, {{"a", "A"}, {"b", "A"}, {"c", "B"}, {"d", "A"}});
    ZandorModel *lm = writeLm(f.r, spec);
    ASSERT_NE(lm, nullptr);
    f.search->lm = lm;
    Frames x = frames({{'A', 6}, {'B', 6}, {'A', 6}});
    HalbrinList *l[3];
    ASSERT_EQ(decode(f, x, l), 0) << f.r->text;
    double best = kNegInf;
    std::vector<std::string> bestWords;
    for (int first : {kA, kB}) {
        double score = forced(f.list, {}, {"A", "B", "A"}, x) + lm_ReadUnigram(lm, first) +
                       lm_ReadBigram(lm, first, kC) + lm_ReadTrigram(lm, first, kC, kD);
        if (score > best) {
            best = score;
            bestWords = {first == kA ? "a" : "b", "c", "d"};
        }
    }
    EXPECT_EQ(labels(l[0]), bestWords);
    EXPECT_EQ(bestWords[0], "b");
    EXPECT_NEAR(l[0]->score, best, 1e-3 * std::fabs(best));
    nukeHalbrin(l[0]);
    lm_Nuke(lm);
}

}  // namespace
