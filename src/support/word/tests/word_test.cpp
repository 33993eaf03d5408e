// Pronunciation graphs, grammar networks and name tables, with the
// messages for the inputs they refuse.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <set>
#include <string>

#include "word.h"

namespace {

// Every phone string the graph accepts (graphs here are acyclic).
void walk(const WordGraph *g, int n, std::string path, std::set<std::string> &out) {
    path += (path.empty() ? "" : " ") + std::string(g->nodes[n].name);
    if (g->nodes[n].kind == WORD_FINAL || g->nodes[n].kind == WORD_INITFINAL) out.insert(path);
    for (int k = 0; k < g->nodes[n].numSuccessors; k++) walk(g, g->nodes[n].successors[k], path, out);
}

std::set<std::string> strings(const WordGraph *g) {
    std::set<std::string> out;
    for (int i = 0; i < g->numNodes; i++)
        if (g->nodes[i].kind == WORD_INITIAL || g->nodes[i].kind == WORD_INITFINAL) walk(g, i, "", out);
    return out;
}

TEST(Word, pronunciations_give_the_strings_they_describe) {
    struct Case {
        const char *pron;
        std::set<std::string> want;
    } cases[] = {
        {"D ^", {"D ^"}},
        {"D ( ^ | & )", {"D ^", "D &"}},
        {"w ^ n [.pau]", {"w ^ n", "w ^ n .pau"}},
        {"[ a ] b [ c ]", {"b", "a b", "b c", "a b c"}},
        {"( a [ b ] | c ) d", {"a d", "a b d", "c d"}},
        {"x", {"x"}},
    };
    for (const Case &c : cases) {
        GS_Result *r = GS_CreateResult();
        WordGraph *g = buildWord(r, c.pron, "w");
        ASSERT_NE(g, nullptr) << c.pron << ": " << (r->text ? r->text : "");
        EXPECT_EQ(strings(g), c.want) << c.pron;
        freeWord(g);
        GS_DeleteResult(r);
    }
}

TEST(Word, bad_pronunciations_are_refused_with_a_message) {
    struct Case {
        const char *pron, *msg;
    } cases[] = {
        {"", "empty pronunciation"},
        {"[ a ]", "pronunciation can be empty"},
        {"( a | b", "pronunciation: missing \")\""},
        {"a ) b", "pronunciation: unexpected \")\""},
        {"| a", "pronunciation: nothing before \"|\""},
        {"a { b }", "pronunciation: unexpected \"{\""},
    };
    for (const Case &c : cases) {
        GS_Result *r = GS_CreateResult();
        EXPECT_EQ(buildWord(r, c.pron, "w"), nullptr) << c.pron;
        EXPECT_STREQ(r->text, c.msg) << c.pron;
        GS_DeleteResult(r);
    }
}

TEST(Word, names_parse_context_forms_and_map_phones) {
    GS_Result *r = GS_CreateResult();
    ProbNames *p = buildNames(r, "<.pau> w l<^ ^>n s<aI>v n");
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(p->count, 6);
    struct Want {
        const char *spec;
        int left, right;
    } want[] = {{".pau", 0, 0}, {"w", 0, 0}, {"^", 1, 0}, {"^", 0, 1}, {"aI", 1, 1}, {"n", 0, 0}};
    for (int i = 0; i < 6; i++) {
        EXPECT_STREQ(p->entries[i].modelSpec, want[i].spec) << i;
        EXPECT_EQ(p->entries[i].leftContext, want[i].left) << i;
        EXPECT_EQ(p->entries[i].rightContext, want[i].right) << i;
    }
    EXPECT_EQ(modelToCat(p, ".pau"), 0);
    EXPECT_EQ(modelToCat(p, "<.pau>"), 0);
    EXPECT_EQ(modelToCat(p, "n"), 5);
    EXPECT_EQ(modelToCat(p, "^"), -1); // only context forms exist
    WordGraph *w = buildWord(r, "w l", "wl");
    EXPECT_EQ(expandWord(r, w, p), nullptr);
    EXPECT_STREQ(r->text, "word (wl): phone (l) has no recognizer output");
    GS_ResetResult(r);
    WordGraph *pau = buildWord(r, ".pau [ w ]", "p");
    WordGraph *x = expandWord(r, pau, p);
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(x->nodes[0].probIndex, 0);
    EXPECT_EQ(x->nodes[1].probIndex, 1);
    EXPECT_EQ(x->nodes[0].kind, WORD_INITFINAL);
    freeWord(x);
    freeWord(pau);
    freeWord(w);
    freeNames(p);
    EXPECT_EQ(buildNames(r, "  "), nullptr);
    GS_DeleteResult(r);
}

// Context expansion: which entry strings each pronunciation becomes.
TEST(Word, context_expansion_chains_the_parts_the_table_has) {
    struct Case {
        const char *names, *pron;
        std::set<std::string> want;
    } cases[] = {
        // Context-free entries only: the same strings, entry names.
        {"<.pau> w ^ n", "w ^ n [.pau]", {"w ^ n", "w ^ n <.pau>"}},
        // Parts inside the word follow the neighbours; at the edges each
        // context the table names is an alternative, as is no context.
        {".pau<w <w> w>^ w<^ <^> ^>n ^<n <n> n>.pau",
         "w ^ n",
         {".pau<w <w> w>^ w<^ <^> ^>n ^<n <n> n>.pau", "<w> w>^ w<^ <^> ^>n ^<n <n> n>.pau",
          ".pau<w <w> w>^ w<^ <^> ^>n ^<n <n>", "<w> w>^ w<^ <^> ^>n ^<n <n>"}},
        // A whole unit stands for its context only; the other context
        // keeps the parts.
        {"<a> a<b>c <b> b>d <c> <d>", "a b ( c | d )", {"<a> a<b>c <c>", "<a> <b> b>d <d>"}},
        // Only parts for some contexts: a phone without a middle entry is
        // its context parts alone.
        {"s k>s s<k <s>", "s k s", {"<s> s<k k>s <s>"}},
        // Alternatives meet: each path keeps its own contexts.
        {"<a> <b> <c> a<c", "( a | b ) c", {"<a> a<c <c>", "<b> <c>"}},
    };
    for (const Case &c : cases) {
        GS_Result *r = GS_CreateResult();
        ProbNames *p = buildNames(r, c.names);
        WordGraph *w = buildWord(r, c.pron, "w");
        ASSERT_NE(p, nullptr);
        ASSERT_NE(w, nullptr);
        WordGraph *x = expandWord(r, w, p);
        ASSERT_NE(x, nullptr) << c.pron << ": " << (r->text ? r->text : "");
        EXPECT_EQ(strings(x), c.want) << c.names << " / " << c.pron;
        for (int i = 0; i < x->numNodes; i++)
            EXPECT_STREQ(x->nodes[i].name, p->entries[x->nodes[i].probIndex].name);
        // Expanding again changes nothing: entry names map to themselves.
        WordGraph *y = expandWord(r, x, p);
        ASSERT_NE(y, nullptr);
        EXPECT_EQ(strings(y), c.want);
        freeWord(y);
        freeWord(x);
        freeWord(w);
        freeNames(p);
        GS_DeleteResult(r);
    }
}

// The word strings of up to maxLen words that a grammar accepts.
std::set<std::string> sentences(const WordGrammar *g, size_t maxLen) {
    std::set<std::string> out;
    std::function<void(int, std::string, size_t)> go = [&](int p, std::string s, size_t n) {
        s += (s.empty() ? "" : " ") + std::string(g->positions[p].word);
        if (g->positions[p].final) out.insert(s);
        if (n == maxLen) return;
        for (int k = 0; k < g->positions[p].numNext; k++) go(g->positions[p].next[k], s, n + 1);
    };
    for (int i = 0; i < g->count; i++)
        if (g->positions[i].initial) go(i, "", 1);
    return out;
}

TEST(Word, grammars_accept_their_language) {
    struct Case {
        const char *text;
        std::set<std::string> want;
    } cases[] = {
        {"$d = one | two; [.pau] $d [.pau]", {"one", "two", ".pau one", ".pau two", "one .pau", "two .pau",
                                              ".pau one .pau", ".pau two .pau"}},
        {"a < b >", {"a b", "a b b", "a b b b"}},
        {"a { b } c", {"a c", "a b c", "a b b c"}},
        {"$x = p; $y = $x q; ( $y | r ) ;", {"p q", "r"}},
    };
    for (const Case &c : cases) {
        GS_Result *r = GS_CreateResult();
        WordGrammar *g = buildGrammar(r, c.text, "g");
        ASSERT_NE(g, nullptr) << c.text << ": " << (r->text ? r->text : "");
        EXPECT_EQ(sentences(g, 4), c.want) << c.text;
        freeGrammar(g);
        GS_DeleteResult(r);
    }
}

TEST(Word, bad_grammars_are_refused_with_a_message) {
    struct Case {
        const char *text, *msg;
    } cases[] = {
        {"", "grammar (g): no sentence expression"},
        {"$a = x;", "grammar (g): no sentence expression"},
        {"a; b", "grammar (g): more than one sentence expression"},
        {"$a = x $a; $a", "grammar (g): rule $a refers to itself"},
        {"$b", "grammar (g): undefined rule $b"},
        {"[ a ]", "grammar (g): the sentence can be empty"},
        {"a ( b", "grammar (g): missing \")\""},
    };
    for (const Case &c : cases) {
        GS_Result *r = GS_CreateResult();
        EXPECT_EQ(buildGrammar(r, c.text, "g"), nullptr) << c.text;
        EXPECT_STREQ(r->text, c.msg) << c.text;
        GS_DeleteResult(r);
    }
}

TEST(Word, grammars_by_hand_keep_their_scores) {
    GS_Result *r = GS_CreateResult();
    WordGrammar *g = buildGrammarByHand(r, "initial 0\nfinal 2\n0 1 hello 0.5\n1 2 world\n1 2 there 0.25\n", "h");
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(sentences(g, 3), (std::set<std::string>{"hello world", "hello there"}));
    EXPECT_FLOAT_EQ(g->positions[0].entryScore, std::log(0.5f));
    ASSERT_EQ(g->positions[0].numNext, 2);
    EXPECT_FLOAT_EQ(g->positions[0].nextScore[1], std::log(0.25f));
    freeGrammar(g);
    struct Case {
        const char *text, *msg;
    } bad[] = {
        {"", "grammar (h): no transitions"},
        {"0 1 a\n", "grammar (h): needs an initial and a final state"},
        {"initial 0\nfinal 1\n0 1 a -2\n", "grammar (h): line 3: probability must be a number above 0"},
        {"initial 5\nfinal 1\n0 1 a\n", "grammar (h): no transition leaves an initial state"},
        {"initial 0\nfinal 1\n0 1\n", "grammar (h): line 3: expected \"from to word ?prob?\", \"initial state\" or \"final state\""},
    };
    for (const Case &c : bad) {
        GS_ResetResult(r);
        EXPECT_EQ(buildGrammarByHand(r, c.text, "h"), nullptr) << c.text;
        EXPECT_STREQ(r->text, c.msg) << c.text;
    }
    GS_DeleteResult(r);
}

} // namespace
