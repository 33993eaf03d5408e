// The grammar search on frames that say a known word string: the words,
// their times, pool growth, and refused networks.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "search.h"
#include "yastro.h"

namespace {

struct Fixture {
    GS_Result *r = GS_CreateResult();
    ProbNames *names = nullptr;
    std::vector<WordGraph *> raw, words;
    WordGrammar *grammar = nullptr;

    Fixture(const char *outputs, std::vector<std::pair<const char *, const char *>> prons, const char *gram) {
        names = buildNames(r, outputs);
        for (auto &p : prons) {
            raw.push_back(buildWord(r, p.second, p.first));
            words.push_back(expandWord(r, raw.back(), names));
        }
        grammar = buildGrammar(r, gram, "g");
    }
    ~Fixture() {
        for (auto *w : raw) freeWord(w);
        for (auto *w : words) freeWord(w);
        freeGrammar(grammar);
        freeNames(names);
        GS_DeleteResult(r);
    }
    GrammarSearch *search(float pruning = 0.3f, float longpen = 0.135f) {
        return createSearch(r, names, &grammar, 1, words.data(), (int)words.size(), pruning, 0.0025f, longpen, 10.0f,
                            0);
    }
};

// Log scores of frames that say the given outputs for the given counts.
std::vector<std::vector<float>> frames(int categories, std::vector<std::pair<int, int>> said) {
    std::vector<std::vector<float>> out;
    for (auto &p : said)
        for (int f = 0; f < p.second; f++) {
            std::vector<float> row(categories, std::log(0.02f));
            row[p.first] = std::log(0.9f);
            out.push_back(row);
        }
    return out;
}

std::string run(GrammarSearch *s, NevrinPool *pool, const std::vector<std::vector<float>> &in) {
    for (auto &row : in)
        if (!updateSearch(s, pool, row.data())) return std::string("failed: ") + s->errorText;
    SearchSegment *w, *p;
    int nw, np;
    float score = 123.0f;
    findSearchBest(s, pool, &w, &nw, &p, &np, &score);
    std::string out;
    for (int i = 0; i < nw; i++)
        out += std::string(out.empty() ? "" : " ") + w[i].label + "@" + std::to_string(w[i].begin) + "-" +
               std::to_string(w[i].end);
    if (w) DB_Free(w, __FILE__, __LINE__);
    if (nw == 0) out = "none " + std::to_string((int)score);
    return out;
}

// Outputs: 0 .pau, 1 w, 2 ^, 3 n, 4 t, 5 u
const char *kOutputs = ".pau w ^ n t u";

TEST(Search, finds_the_said_words_and_their_times) {
    Fixture f(kOutputs, {{"one", "w ^ n"}, {"two", "t u"}, {".pau", ".pau"}}, "[.pau] < ( one | two ) [.pau] >");
    ASSERT_NE(f.grammar, nullptr);
    GrammarSearch *s = f.search();
    ASSERT_NE(s, nullptr) << f.r->text;
    NevrinPool *pool = nevrinInit(2, 1); // tiny: the search must collect and grow it
    EXPECT_EQ(run(s, pool, frames(6, {{0, 5}, {4, 4}, {5, 6}, {1, 3}, {2, 4}, {3, 3}, {0, 4}, {4, 3}, {5, 3}})),
              ".pau@0-5 two@5-15 one@15-25 .pau@25-29 two@29-35");
    EXPECT_GT(pool->capacity, 2);
    // Reset: a new utterance from frame 0.
    resetSearch(s);
    nevrinReset(pool);
    EXPECT_EQ(run(s, pool, frames(6, {{1, 3}, {2, 3}, {3, 3}})), "one@0-9");
    nukeSearch(s);
    nevrinNuke(pool);
}

// Words bound to context parts: each phone is its chain of parts, and
// a word-initial phone may start without its left part.
TEST(Search, searches_words_bound_to_context_parts) {
    // 0 .pau, 1 .pau<t, 2 <t>, 3 t>u, 4 t<u, 5 <u>, 6 <n>, 7 n>u
    Fixture f(".pau .pau<t <t> t>u t<u <u> <n> n>u", {{"two", "t u"}, {"new", "n u"}, {".pau", ".pau"}},
              "< two | new | .pau >");
    GrammarSearch *s = f.search();
    ASSERT_NE(s, nullptr) << f.r->text;
    struct Case {
        std::vector<std::pair<int, int>> said;
        const char *want;
    } cases[] = {
        {{{0, 6}, {1, 2}, {2, 2}, {3, 2}, {4, 2}, {5, 3}}, ".pau@0-6 two@6-17"},
        {{{2, 2}, {3, 2}, {4, 2}, {5, 3}, {6, 3}, {7, 2}, {5, 3}}, "two@0-9 new@9-17"},
    };
    for (const Case &c : cases) {
        NevrinPool *pool = nevrinInit(8, 8);
        resetSearch(s);
        EXPECT_EQ(run(s, pool, frames(8, c.said)), c.want);
        nevrinNuke(pool);
    }
    nukeSearch(s);
}

TEST(Search, nothing_that_ends_a_sentence_gives_no_words) {
    Fixture f(kOutputs, {{"one", "w ^ n"}, {"two", "t u"}}, "one two");
    GrammarSearch *s = f.search();
    NevrinPool *pool = nevrinInit(10, 10);
    // Four frames cannot hold the five phones of "one two".
    EXPECT_EQ(run(s, pool, frames(6, {{1, 2}, {2, 2}})), "none 123");
    nukeSearch(s);
    nevrinNuke(pool);
}

TEST(Search, pruning_keeps_the_answer_of_a_full_search) {
    Fixture f(kOutputs, {{"one", "w ^ n"}, {"two", "t u"}}, "< one | two >");
    auto in = frames(6, {{4, 3}, {5, 3}, {1, 2}, {2, 2}, {3, 2}, {4, 2}, {5, 2}});
    std::string answers[2];
    float prunings[2] = {0.0f, 0.9f};
    for (int k = 0; k < 2; k++) {
        GrammarSearch *s = f.search(prunings[k]);
        NevrinPool *pool = nevrinInit(4, 4);
        answers[k] = run(s, pool, in);
        nukeSearch(s);
        nevrinNuke(pool);
    }
    EXPECT_EQ(answers[0], "two@0-6 one@6-12 two@12-16");
    EXPECT_EQ(answers[1], answers[0]);
}

// The long penalty is paid per frame in a pause: a heavy one makes the
// last phone stretch over a short pause rather than end in it.
TEST(Search, the_long_penalty_is_paid_per_pause_frame) {
    Fixture f(kOutputs, {{"one", "w ^ n"}, {".pau", ".pau"}}, "one [.pau]");
    struct Case {
        int pause;
        float longpen;
        const char *want;
    } cases[] = {
        {2, 1.0f, "one@0-9 .pau@9-11"},   // no penalty: the pause is found
        {2, 0.135f, "one@0-11"},            // the default absorbs a short pause
        {4, 0.135f, "one@0-9 .pau@9-13"},   // but not a longer one
        {4, 0.001f, "one@0-13"},            // a heavy penalty absorbs that too
        {4, std::log(0.001f), "one@0-13"},  // a log counts as given
    };
    for (const Case &c : cases) {
        GrammarSearch *s = f.search(0.3f, c.longpen);
        NevrinPool *pool = nevrinInit(4, 4);
        EXPECT_EQ(run(s, pool, frames(6, {{1, 3}, {2, 3}, {3, 3}, {0, c.pause}})), c.want)
            << c.pause << " " << c.longpen;
        nukeSearch(s);
        nevrinNuke(pool);
    }
}

TEST(Search, refuses_networks_it_cannot_search) {
    Fixture f(kOutputs, {{"one", "w ^ n"}}, "one three");
    GrammarSearch *s = f.search();
    EXPECT_EQ(s, nullptr);
    EXPECT_STREQ(f.r->text, "grammar (g) names word (three) that is not in the word list");
    GS_ResetResult(f.r);
    // A word never bound to the outputs.
    WordGrammar *g = buildGrammar(f.r, "one", "g");
    EXPECT_EQ(createSearch(f.r, f.names, &g, 1, f.raw.data(), 1, 0.3f, 0.0025f, 0.135f, 10.0f, 0), nullptr);
    EXPECT_STREQ(f.r->text, "word (one) is not bound to these recognizer outputs: use word context");
    GS_ResetResult(f.r);
    EXPECT_EQ(createSearch(f.r, f.names, &g, 0, f.words.data(), 1, 0.3f, 0.0025f, 0.135f, 10.0f, 0), nullptr);
    EXPECT_STREQ(f.r->text, "no grammars to search");
    freeGrammar(g);
}

} // namespace
