// State networks: statement text, rule bodies, expansion, pruning, the
// biphone expansion, specifications, the rule writer and printing. Networks
// are checked by the sentences they accept and by their link invariants.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "gravlin.h"
#include "gravlin_int.h"
#include "yastro.h"

namespace {

struct Stmts {
    char **v = nullptr;
    int n = 0;
    explicit Stmts(const std::vector<std::string> &s) {
        std::vector<const char *> t;
        for (const std::string &x : s) t.push_back(x.c_str());
        n = (int)s.size();
        v = Gravlin_copyStatements(t.data(), n);
    }
    Stmts() = default;
    ~Stmts() { Gravlin_freeStatements(v, n); }
    std::vector<std::string> list() const { return std::vector<std::string>(v, v + n); }
};

struct Net {
    GravlinNet n;
    explicit Net(int collapse = 1, int selfLoops = 0) { Gravlin_init(&n, nullptr, collapse, selfLoops); }
    ~Net() { Gravlin_release(&n); }
    // Further statements for an existing network, as a lexicon would add them.
    int add(const std::vector<std::string> &s, const char *cls) {
        Stmts st(s);
        return Gravlin_readAndExpand(st.v, st.n, &n, cls, nullptr);
    }
    int build(const std::vector<std::string> &s, const char *cls = "word", const char *start = "$grammar") {
        Stmts st(s);
        return Gravlin_readAndExpand(st.v, st.n, &n, cls, start);
    }
    int find(const std::string &name) const {
        for (int i = 0; i < n.numStates; i++)
            if (n.states[i].name && name == n.states[i].name) return i;
        return -1;
    }
    bool link(const std::string &a, const std::string &b) const { return gravlin::hasLink(&n, find(a), find(b)); }
};

std::string tempPath(const std::string &name) {
    const char *b = getenv("TOVIK_BUILD");
    return std::string(b ? b : "/tmp") + "/gravlin_test_" + name;
}

std::string writeFile(const std::string &name, const std::string &text) {
    std::string p = tempPath(name);
    std::ofstream(p, std::ios::binary) << text;
    return p;
}

// Sentences (unit names between start and end) of at most maxLen units,
// with or without the repetitions that self links allow.
std::set<std::string> language(const GravlinNet *net, size_t maxLen = 12, bool selfLinks = true) {
    std::set<std::string> out;
    std::vector<std::string> path;
    std::function<void(int)> walk = [&](int s) {
        if (s == net->exit && path.size() <= maxLen) {
            std::string t;
            for (auto &w : path) t += (t.empty() ? "" : " ") + w;
            out.insert(t);
            return;
        }
        if (path.size() > maxLen) return;
        const GravlinState &st = net->states[s];
        for (int k = 0; k < st.numTo; k++) {
            int q = st.toLinks[k].state;
            if (q == s && !selfLinks) continue;
            bool unit = net->states[q].type == GRAVLIN_ITEM;
            if (unit) path.push_back(net->states[q].name);
            walk(q);
            if (unit) path.pop_back();
        }
    };
    walk(net->enter);
    return out;
}

// Links in both lists with equal flags, ids equal to indices, no retired
// states, start and end at 0 and 1.
void expectSound(const GravlinNet *net) {
    if (net->numStates == 0) return;
    EXPECT_EQ(0, net->enter);
    EXPECT_EQ(1, net->exit);
    for (int i = 0; i < net->numStates; i++) {
        const GravlinState &s = net->states[i];
        EXPECT_EQ(i, s.id);
        EXPECT_NE(GRAVLIN_NOT_USED, s.type) << i;
        EXPECT_NE(GRAVLIN_NULL, s.type) << i;
        for (int k = 0; k < s.numTo; k++) {
            const GravlinState &t = net->states[s.toLinks[k].state];
            int found = 0;
            for (int j = 0; j < t.numFrom; j++)
                if (t.fromLinks[j].state == i) {
                    found++;
                    EXPECT_EQ(s.toLinks[k].wordBoundary, t.fromLinks[j].wordBoundary);
                    EXPECT_EQ(0, t.fromLinks[j].direction);
                }
            EXPECT_EQ(1, found) << i << "->" << s.toLinks[k].state;
            EXPECT_EQ(1, s.toLinks[k].direction);
        }
        int in = 0;
        for (int j = 0; j < net->numStates; j++)
            for (int k = 0; k < net->states[j].numTo; k++) in += net->states[j].toLinks[k].state == i;
        EXPECT_EQ(in, s.numFrom) << i;
    }
}

} // namespace

TEST(Statements, files_split_into_statements) {
    struct Case { const char *text; std::vector<std::string> want; const char *why; } cases[] = {
        {"a = b; c = d", {"a = b"}, "text after the last ';' is dropped"},
        {"x = y // note\nz;", {"x = y z"}, "a line comment and its newline go"},
        {"lexicon <file://dir/lex.txt>;", {"lexicon <file://dir/lex.txt>"}, "'://' is no comment"},
        {"a /* one;\n two */ = b;;", {"a = b"}, "block comments cross statements; empty statements go"},
        {"\n\na = b;\r\nc = d;\r\n", {"a = b", "c = d"}, "CR LF reads as LF"},
    };
    for (const Case &c : cases) {
        std::string p = writeFile("split.txt", c.text);
        char **st;
        int n;
        ASSERT_EQ(0, Gravlin_readFile(p.c_str(), &st, &n));
        Gravlin_cleanLines(st, n, 1);
        EXPECT_EQ(c.want, std::vector<std::string>(st, st + n)) << c.why;
        Gravlin_freeStatements(st, n);
    }
    char **st;
    int n;
    Gravlin_clearError();
    EXPECT_EQ(GRAVLIN_FAIL, Gravlin_readFile("/nonexistent/x.txt", &st, &n));
    EXPECT_STREQ("Error opening file '/nonexistent/x.txt'\n", Gravlin_errorText());
}

TEST(Statements, cleaning_and_grouping) {
    struct Case { const char *in; const char *clean; const char *grouped; } cases[] = {
        {"  a\t=  ( b |c)  ", "a = ( b |c)", "a = (a b | c )a"},
        {"x = \"x  y\" z", "x = x\x0by z", "x = x\x0by z"},
        {"x = \\( y", "x = \x0e y", "x = \x0e y"},
        {"a = [ ( b ) ] { c }", "a = [ ( b ) ] { c }", "a = [a (b b )b ]a {a c }a"},
        {"a = b\\q", "a = bq", "a = bq"},
        {"a =\r\n b |\r\n c\r\n", "a = b | c", "a = b | c"},
    };
    for (const Case &c : cases) {
        Stmts s({c.in});
        Gravlin_cleanLines(s.v, 1, 1);
        EXPECT_STREQ(c.clean, s.v[0]) << c.in;
        EXPECT_EQ(0, Gravlin_groupParentheses(s.v, 1));
        EXPECT_STREQ(c.grouped, s.v[0]) << c.in;
    }
    struct Bad { std::string in; const char *msg; } bad[] = {
        {"a = ( b", "Error: unbalanced parentheses in line 'a = ( b'\n"},
        {"a = b ) ( c", "Error: unbalanced parentheses in 'a = b ) ( c'\n"},
        {"a = " + std::string(27, '('), "Error: brackets nested deeper than 26 levels"},
    };
    for (const Bad &b : bad) {
        Stmts s({b.in});
        Gravlin_clearError();
        EXPECT_EQ(GRAVLIN_FAIL, Gravlin_groupParentheses(s.v, 1));
        EXPECT_EQ(0u, std::string(Gravlin_errorText()).find(b.msg)) << Gravlin_errorText();
    }
    char *o;
    Gravlin_origStateName("x\x0by\x0e", &o);
    EXPECT_STREQ("x\\ y\\(", o);
    DB_FREE(o);
}

TEST(Links, flags_only_rise_and_retiring_relinks) {
    Net net;
    GravlinNet *n = &net.n;
    for (int i = 0; i < 7; i++) gravlin::newState(n, GRAVLIN_ITEM);
    EXPECT_EQ(1e10f, n->states[3].searchReal5);
    EXPECT_EQ(-1.0f, n->states[3].durParam1);
    gravlin::addLink(n, 0, 1, 0);
    gravlin::addLink(n, 0, 1, 1);
    gravlin::addLink(n, 0, 1, 0);
    EXPECT_EQ(1, n->states[0].numTo);
    EXPECT_EQ(1, gravlin::linkFlag(n, 0, 1));
    EXPECT_EQ(1, n->states[1].fromLinks[0].wordBoundary);
    // p1=2, p2=3 -> s=4 -> s1=5, s2=6; target e=0, source x=1
    gravlin::addLink(n, 2, 4, 1);
    gravlin::addLink(n, 3, 4, 0);
    gravlin::addLink(n, 4, 5, 0);
    gravlin::addLink(n, 4, 6, 1);
    EXPECT_EQ(0, gravlin::retireState(n, 4, {0}, {1}));
    EXPECT_EQ(1, gravlin::linkFlag(n, 2, 0));
    EXPECT_EQ(0, gravlin::linkFlag(n, 3, 0));
    EXPECT_EQ(0, gravlin::linkFlag(n, 1, 5));
    EXPECT_EQ(1, gravlin::linkFlag(n, 1, 6));
    EXPECT_EQ(GRAVLIN_NOT_USED, n->states[4].type);
    EXPECT_EQ(0, n->states[4].numFrom + n->states[4].numTo);
    Gravlin_clearError();
    EXPECT_EQ(GRAVLIN_FAIL, gravlin::removeLink(n, 2, 6));
    EXPECT_STREQ("Error: can't find link 2 -> 6\n", Gravlin_errorText());
    // Copying over a linked state would lose its links: refused, not fatal.
    EXPECT_EQ(GRAVLIN_FAIL, gravlin::copyState(n, 5, 2));
}

TEST(Rules, context_token_lists) {
    struct Case { const char *st; std::vector<std::string> left, right; int lcon, rcon; } cases[] = {
        {"x -> y :: __", {"!<{*}>!"}, {"!<{*}>!"}, 1, 1},
        {"x -> y :: p /WB __", {"/WB", "!<{*}>!", "p"}, {"!<{*}>!"}, 2, 1},
        {"x -> y :: a __ b c", {"a"}, {"b", "c"}, 1, 2},
    };
    for (const Case &c : cases) {
        Stmts s({c.st});
        gravlin::RuleTable t;
        ASSERT_EQ(0, gravlin::buildRuleTable(t, s.v, 1));
        ASSERT_EQ(1u, t.rules.size()) << c.st;
        EXPECT_EQ(c.left, t.rules[0].alts[0].left) << c.st;
        EXPECT_EQ(c.right, t.rules[0].alts[0].right) << c.st;
        EXPECT_EQ(c.lcon, t.rules[0].maxLcon);
        EXPECT_EQ(c.rcon, t.rules[0].maxRcon);
    }
    Stmts s({"x -> y :: p q", "x -> y", "a = b", "a = c", "v := a b", "v := c", "x -> z :: a __", "x -> w :: __ b"});
    gravlin::RuleTable t;
    ASSERT_EQ(0, gravlin::buildRuleTable(t, s.v, s.n));
    ASSERT_EQ(2u, t.rules.size());
    EXPECT_EQ("b", t.find("a")->alts[0].body);
    ASSERT_EQ(2u, t.find("x")->alts.size());
    EXPECT_EQ("z", t.find("x")->alts[0].body);
    gravlin::Clusters c;
    gravlin::addClusterMembers(c, "v", "a b");
    gravlin::addClusterMembers(c, "v", "c");
    EXPECT_EQ((std::vector<std::string>{"a", "b", "c"}), gravlin::findCluster(c, "v")->members);
}

TEST(Expansion, bodies_accept_their_sentences) {
    struct Case { std::vector<std::string> st; std::set<std::string> want; } cases[] = {
        {{"$grammar = a b c"}, {"a b c"}},
        {{"$grammar = x a | b y"}, {"x a y", "x b y"}},
        {{"$grammar = a | b | c"}, {"a", "b", "c"}},
        {{"$grammar = [ a b ] c"}, {"a b c", "c"}},
        {{"$grammar = a <+>"}, {"a", "a a", "a a a", "a a a a"}}, // through a self link
        {{"$grammar = x a <*> y"}, {"x y", "x a y", "x a a y"}},
        {{"$grammar = ( a | b ) <+> c"}, {"a c", "b c", "a a c", "a b c", "b a c", "b b c", "a a a c", "a a b c",
                                          "a b a c", "a b b c", "b a a c", "b a b c", "b b a c", "b b b c"}},
        {{"$grammar = x { a b } y"}, {"x y", "x a b y"}},
        {{"$grammar = please [ move | turn ] ( left | right ) [ now ]"},
         {"please move left", "please move right", "please turn left", "please turn right", "please left",
          "please right", "please move left now", "please move right now", "please turn left now",
          "please turn right now", "please left now", "please right now"}},
        {{"$grammar = $yn", "$yn = yes | no"}, {"yes", "no"}},
    };
    for (const Case &c : cases) {
        Net net;
        ASSERT_EQ(0, net.build(c.st)) << c.st[0] << Gravlin_errorText();
        // Sentences of up to four units: loops make the rest endless.
        std::set<std::string> got = language(&net.n, 4);
        std::set<std::string> want;
        for (const std::string &w : c.want)
            if (std::count(w.begin(), w.end(), ' ') < 4) want.insert(w);
        EXPECT_EQ(want, got) << c.st[0];
        expectSound(&net.n);
    }
    Net loop;
    ASSERT_EQ(0, loop.build({"$grammar = a <+>"}));
    EXPECT_TRUE(loop.link("a", "a"));
}

TEST(Expansion, lexicon_rules_name_words_and_mark_boundaries) {
    Net net;
    ASSERT_EQ(0, net.build({"$grammar = hello world", "hello = h e l o"}));
    EXPECT_EQ((std::set<std::string>{"h e l o world"}), language(&net.n));
    EXPECT_EQ(7, net.n.numStates);
    const GravlinState &h = net.n.states[net.find("h")];
    ASSERT_EQ(2, h.numLevels);
    EXPECT_STREQ("hello", net.n.classes[h.levelClasses[1]].values[h.levelValues[1]]);
    EXPECT_STREQ("hello", net.n.classes[0].values[h.wordValue]);
    EXPECT_EQ(1, gravlin::linkFlag(&net.n, 0, net.find("h")));
    EXPECT_EQ(0, gravlin::linkFlag(&net.n, net.find("h"), net.find("e")));
    EXPECT_EQ(1, gravlin::linkFlag(&net.n, net.find("o"), net.find("world")));
    EXPECT_EQ(0, net.n.states[net.find("world")].expanded);
    expectSound(&net.n);
    // hello%% is rewritten by the rule for hello and keeps its own name as
    // the class value of what it made.
    Net hidden;
    ASSERT_EQ(0, hidden.build({"$grammar = hello%%", "hello = h i"}));
    const GravlinState &hi = hidden.n.states[hidden.find("h")];
    EXPECT_STREQ("hello%%", hidden.n.classes[0].values[hi.levelValues[1]]);
}

TEST(Expansion, self_loops_stay_on_the_units_that_remain) {
    // A rewritten unit's self link would let its whole expansion repeat:
    // "hello hello world" is not a sentence of the grammar.
    Net net(1, 1);
    ASSERT_EQ(0, net.build({"$grammar = hello world", "hello = h e l o", "world = w er l d"}));
    EXPECT_EQ(10, net.n.numStates);
    EXPECT_EQ((std::set<std::string>{"h e l o w er l d"}), language(&net.n, 12, false));
    EXPECT_FALSE(net.link("o", "h"));
    EXPECT_FALSE(net.link("d", "w"));
    for (const char *u : {"h", "e", "o", "w", "er", "d"}) EXPECT_TRUE(net.link(u, u)) << u;
    expectSound(&net.n);
}

TEST(Expansion, context_rules_rewrite_where_the_context_matches) {
    // Contexts compare a neighbour's value for the rules' class: units the
    // grammar made for class "word" are their own names for "phoneme".
    struct Case { const char *grammar; std::vector<std::string> rules; std::set<std::string> want; } cases[] = {
        {"$grammar = ( a | b ) x c", {"x -> y :: a __"}, {"a y c", "b x c"}},
        {"$grammar = ( a | b | e ) x c", {"v := a e", "x -> y :: v __", "x -> z :: __"}, {"a y c", "e y c", "b z c"}},
        {"$grammar = x ( a | b )", {"x -> y :: __ b"}, {"x a", "y b"}},
        {"$grammar = ( a | b ) x ( c | d )", {"x -> y z :: a __ d"}, {"a y z d", "a x c", "b x c", "b x d"}},
    };
    for (const Case &c : cases) {
        Net net;
        ASSERT_EQ(0, net.build({c.grammar}));
        ASSERT_EQ(0, net.add(c.rules, "phoneme")) << Gravlin_errorText();
        EXPECT_EQ(c.want, language(&net.n)) << c.grammar;
        expectSound(&net.n);
    }
}

TEST(Expansion, bad_grammars_fail_with_their_reason) {
    std::string lex = writeFile("lex1.txt", "one = w ah n;\ntwo = t uw;\n");
    struct Case { std::vector<std::string> st; int rc; const char *msg; } cases[] = {
        {{"$other = a"}, -1, "Error: can't find starting token '$grammar'"},
        {{"$grammar = a b", "a = x a"}, GRAVLIN_FAIL, "Error: rule 'a' is recursive"},
        {{"$grammar = a", "a = b", "b = a"}, GRAVLIN_FAIL, "Error: rule 'a' is recursive"},
        {{"$grammar = ( a b"}, GRAVLIN_FAIL, "Error: unbalanced parentheses"},
        {{"$grammar = a |"}, GRAVLIN_FAIL, "Error: group ends with '|'"},
        {{"$grammar = | a"}, GRAVLIN_FAIL, "Error: '|' without an element before it"},
        {{"$grammar = <+> a"}, GRAVLIN_FAIL, "Error: '<+>' without an element before it"},
        {{"$grammar = one three two", "lexicon <" + lex + ">"}, GRAVLIN_FAIL, "Error: no lexicon entry for 'three'"},
        {{"$grammar = one", "lexicon </nonexistent/lex.txt>"}, GRAVLIN_FAIL, "Error opening file"},
    };
    for (const Case &c : cases) {
        Net net;
        Gravlin_clearError();
        EXPECT_EQ(c.rc, net.build(c.st)) << c.st[0];
        EXPECT_NE(std::string::npos, std::string(Gravlin_errorText()).find(c.msg)) << Gravlin_errorText();
    }
}

TEST(Expansion, lexicons_include_lexicons_once) {
    std::string b = tempPath("lexb.txt"), a = tempPath("lexa.txt");
    writeFile("lexb.txt", "two = t uw;\nlexicon <" + a + ">;\n");
    writeFile("lexa.txt", "one = w ah n;\r\nlexicon <" + b + ">;\r\n");
    Net net;
    ASSERT_EQ(0, net.build({"$grammar = one two", "lexicon <" + a + ">"})) << Gravlin_errorText();
    EXPECT_EQ((std::set<std::string>{"w ah n t uw"}), language(&net.n));
    expectSound(&net.n);
}

TEST(Pruning, junctions_bypassed_and_dead_units_dropped) {
    Net net;
    GravlinNet *n = &net.n;
    int bou = gravlin::newState(n, GRAVLIN_BOU), eou = gravlin::newState(n, GRAVLIN_EOU);
    n->enter = bou;
    n->exit = eou;
    auto unit = [&](const char *name) {
        int s = gravlin::newState(n, GRAVLIN_ITEM);
        gravlin::setStateName(&n->states[s], name);
        return s;
    };
    int j2 = gravlin::newState(n, GRAVLIN_NULL);
    int p1 = unit("p1"), p2 = unit("p2");
    int j1 = gravlin::newState(n, GRAVLIN_NULL);
    int s1 = unit("s1"), s2 = unit("s2");
    int dead = unit("dead"), c1 = unit("c1"), c2 = unit("c2");
    gravlin::addLink(n, bou, p1, 0);
    gravlin::addLink(n, bou, p2, 0);
    gravlin::addLink(n, p1, j1, 1);
    gravlin::addLink(n, p2, j1, 0);
    gravlin::addLink(n, j1, j2, 0);
    gravlin::addLink(n, j2, s1, 0);
    gravlin::addLink(n, j2, s2, 0);
    gravlin::addLink(n, s1, eou, 0);
    gravlin::addLink(n, s2, eou, 0);
    gravlin::addLink(n, p1, dead, 0); // reachable, leads nowhere
    gravlin::addLink(n, c1, c2, 0);   // a cycle nobody reaches
    gravlin::addLink(n, c2, c1, 0);
    gravlin::addLink(n, c2, eou, 0);
    ASSERT_EQ(0, Gravlin_prune(n));
    expectSound(n);
    EXPECT_EQ(6, n->numStates);
    EXPECT_EQ(-1, net.find("dead"));
    EXPECT_EQ(-1, net.find("c1"));
    EXPECT_EQ((std::set<std::string>{"p1 s1", "p1 s2", "p2 s1", "p2 s2"}), language(n));
    // Either link carried a boundary: so does the bypass.
    EXPECT_EQ(1, gravlin::linkFlag(n, net.find("p1"), net.find("s2")));
    EXPECT_EQ(0, gravlin::linkFlag(n, net.find("p2"), net.find("s2")));
    (void)j2;
    (void)s1;
    (void)s2;
    (void)p2;
    std::vector<int> before;
    for (int i = 0; i < n->numStates; i++) before.push_back(n->states[i].numTo);
    ASSERT_EQ(0, Gravlin_prune(n));
    for (int i = 0; i < n->numStates; i++) EXPECT_EQ(before[i], n->states[i].numTo);
}

TEST(Biphone, phonemes_become_context_units) {
    Stmts spec({"a<b 1 10 100 -", "v<b 2 10 100 -", "<b> 3 10 100 -", "b>d 4 10 100 -", "v := e",
                "<d> 5 10 10 -", "map b := bb"});
    Gravlin_cleanLines(spec.v, spec.n, 1);
    Net net;
    ASSERT_EQ(0, net.build({"$grammar = ( a | e ) ( b | bb ) d"}));
    ASSERT_EQ(0, Gravlin_expandSpecMultiStateBiphone(spec.v, spec.n, "phoneme", &net.n)) << Gravlin_errorText();
    // a and e keep their names (no units of their own); b and its map bb
    // share units; d has only a centre and is renamed in place.
    EXPECT_EQ((std::set<std::string>{"a a<b <b> b>d <d>", "e v<b <b> b>d <d>"}), language(&net.n));
    EXPECT_EQ(-1, net.find("bb"));
    const GravlinState &c = net.n.states[net.find("<b>")];
    EXPECT_STREQ("phoneme", net.n.classes[c.levelClasses[c.numLevels - 1]].name);
    expectSound(&net.n);
    Net bad;
    ASSERT_EQ(0, bad.build({"$grammar = ( a | o ) b d"}));
    Gravlin_clearError();
    EXPECT_EQ(GRAVLIN_FAIL, Gravlin_expandSpecMultiStateBiphone(spec.v, spec.n, "phoneme", &bad.n));
    EXPECT_NE(std::string::npos,
              std::string(Gravlin_errorText()).find("Can't find phoneme 'o' in left context of phoneme 'b'"));
}

TEST(SpecUpdate, categories_and_durations_in_frames) {
    Net net;
    ASSERT_EQ(0, net.build({"$grammar = a b b c"}));
    Stmts spec({"frame_size 10", "duration_model minmax", "features <file://f.cfg>", "a 0 25 104 -", "b 1 20 200 -",
                "c 5 10 20 t", "t 7 0 0 -"});
    ASSERT_EQ(0, Gravlin_specUpdate(&net.n, spec.v, spec.n));
    const GravlinState &a = net.n.states[net.find("a")];
    EXPECT_EQ(3.0f, a.durParam1);
    EXPECT_EQ(10.0f, a.durParam2);
    EXPECT_EQ(7, net.n.states[net.find("c")].category);
    int bs = 0;
    for (int i = 0; i < net.n.numStates; i++)
        if (net.n.states[i].name && std::string(net.n.states[i].name) == "b") bs += net.n.states[i].category == 1;
    EXPECT_EQ(2, bs);
    EXPECT_STREQ("minmax", net.n.durModel);
    EXPECT_STREQ("file://f.cfg", net.n.featuresURI);
    EXPECT_EQ(10.0f, net.n.frameSize);
    struct Bad { std::vector<std::string> st; int rc; const char *msg; } bad[] = {
        {{"a 0 25 104 -"}, GRAVLIN_FAIL, "Error: frame size is -1.000000 in spec file"},
        {{"frame_size 10", "a 0 25 104 -", "b 1 1 1 -"}, -1, "Error: 'c' is unknown to classifier"},
        {{"frame_size 10", "a 0 25 104 zz"}, GRAVLIN_FAIL, "Error: can't find tie category 'zz'"},
        {{"frame_size x"}, GRAVLIN_FAIL, "Error: can't parse frame size 'x'"},
    };
    for (const Bad &b : bad) {
        Net n2;
        ASSERT_EQ(0, n2.build({"$grammar = a b c"}));
        Stmts s(b.st);
        Gravlin_clearError();
        EXPECT_EQ(b.rc, Gravlin_specUpdate(&n2.n, s.v, s.n));
        EXPECT_NE(std::string::npos, std::string(Gravlin_errorText()).find(b.msg)) << Gravlin_errorText();
    }
}

TEST(Writer, substitution_classes_multiplied_out) {
    std::string p = tempPath("cd.txt");
    Stmts s({"V == a e", "x -> y :: V __", "q := r s", "x -> z", "k = l"});
    ASSERT_EQ(0, Gravlin_writeCDRules(s.v, s.n, p.c_str()));
    std::ifstream f(p);
    std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    EXPECT_EQ("\n// x -> y :: V __ ;\nx -> y :: a __ ;\nx -> y :: e __ ;\nq := r s ;\n\n// x -> z ;\nx = z ;\nk = l ;\n",
              text);
    EXPECT_EQ(GRAVLIN_FAIL, Gravlin_writeCDRules(s.v, s.n, "/nonexistent/dir/x"));
}

TEST(Network, copy_print_and_free) {
    Net net(1, 1);
    ASSERT_EQ(0, net.build({"$grammar = one two", "one = w ah n"}));
    EXPECT_EQ((std::set<std::string>{"w ah n two", "w w ah n two", "w ah ah n two", "w ah n n two", "w ah n two two"}),
              language(&net.n, 5));
    GravlinNet copy;
    Gravlin_copy(&copy, &net.n);
    EXPECT_EQ(language(&net.n), language(&copy));
    expectSound(&copy);
    testing::internal::CaptureStderr();
    EXPECT_EQ(copy.numStates, Gravlin_printGravlin(&copy));
    std::string out = testing::internal::GetCapturedStderr();
    EXPECT_EQ(0u, out.find("Gravlin 'grammar' has 6 states\nEnter Node = 0, Exit Node = 1\n"));
    EXPECT_NE(std::string::npos, out.find("\tname    = ah\n\tcategory= -1\n\texpanded= 0\n\tword    = one\n\ttype    = ITEM\n"));
    EXPECT_EQ(std::string::npos, out.find("durParam"));
    Gravlin_free(&copy);
    EXPECT_EQ(0, copy.numStates);
    EXPECT_EQ(0, copy.numClasses);
    EXPECT_STREQ("grammar", copy.name);
    Gravlin_release(&copy);
}

TEST(Network, packed_bytes_come_back_whole_and_damage_is_refused) {
    Net net(1, 1);
    ASSERT_EQ(0, net.build({"$grammar = [ please ] ( yes | no ) <+>", "yes = y eh s", "no = n ow"}));
    net.n.states[net.find("y")].durParam2 = 7.0f;
    std::vector<unsigned char> b(Gravlin_packedLength(&net.n));
    Gravlin_pack(&net.n, b.data());
    GS_Result *r = GS_CreateResult();
    GravlinNet back;
    ASSERT_EQ(0, Gravlin_unpack(r, &back, b.data(), b.size())) << r->text;
    std::vector<unsigned char> again(Gravlin_packedLength(&back));
    Gravlin_pack(&back, again.data());
    EXPECT_EQ(b, again);
    EXPECT_STREQ(net.n.name, back.name);
    EXPECT_EQ(7.0f, back.states[net.find("y")].durParam2);
    Gravlin_release(&back);
    // Every shorter or longer buffer, and link and level indices pointing
    // outside the network, are refused with a message and nothing kept.
    struct Damage { const char *why; std::function<void(std::vector<unsigned char> &)> change; } cases[] = {
        {"one byte more", [](std::vector<unsigned char> &v) { v.push_back(0); }},
        {"a link to a state out of range",
         [&](std::vector<unsigned char> &v) {
             // The last state's last outgoing link is the 12 bytes before its
             // extras count and the 40 bytes of its tail.
             size_t at = v.size() - 4 - 40 - 12;
             v[at] = 0x7f;
         }},
        {"a link in one list only",
         [&](std::vector<unsigned char> &v) { v[v.size() - 4 - 40 - 4] ^= 1; }},
    };
    for (const Damage &d : cases) {
        std::vector<unsigned char> v = b;
        d.change(v);
        GS_ResetResult(r);
        EXPECT_EQ(GRAVLIN_FAIL, Gravlin_unpack(r, &back, v.data(), v.size())) << d.why;
        EXPECT_NE(nullptr, strstr(r->text, "packed network")) << d.why << ": " << r->text;
    }
    for (size_t n = 0; n < b.size(); n++) {
        GS_ResetResult(r);
        ASSERT_EQ(GRAVLIN_FAIL, Gravlin_unpack(r, &back, b.data(), n)) << n;
    }
    GS_DeleteResult(r);
}
