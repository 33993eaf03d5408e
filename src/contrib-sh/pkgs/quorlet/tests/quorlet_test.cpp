// Compiler, compiled files and parse of the robust parser, driven directly.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>

#include "rtn.h"
#include "ul_hash.h"

using namespace rtn;

namespace {

std::string Fixtures() {
  const char *src = getenv("TOVIK_SOURCE");
  return std::string(src ? src : ".") + "/src/contrib-sh/pkgs/quorlet/tests/fixtures/";
}

std::string Parse(const Grammar &g, const std::string &input, ParseOptions o = ParseOptions()) {
  Parser p(g);
  std::string res, w;
  std::istringstream in(input);
  while (in >> w) EXPECT_EQ(p.Word(w, o, res), 0) << res;
  std::vector<std::string> out;
  EXPECT_EQ(p.Finished(o, out, res), 0) << res;
  std::string joined;
  for (size_t i = 0; i < out.size(); i++) joined += (i ? "\n" : "") + out[i];
  return joined;
}

Grammar Compile(const std::string &name, const std::string &text) {
  Grammar g;
  std::string res;
  EXPECT_EQ(RTN_CompileText(g, name, text, res), 0) << res;
  return g;
}

std::string Trim(const std::string &s) {
  size_t a = s.find_first_not_of(" \t"), b = s.find_last_not_of(" \t");
  return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

ParseOptions Options(const std::string &words) {
  ParseOptions o;
  std::istringstream in(words);
  std::string k;
  int v;
  while (in >> k >> v) {
    if (k == "transcript") o.transcript = v;
    else if (k == "tail") o.tail = v;
    else if (k == "showoog") o.showoog = v;
    else if (k == "canonical") o.canonical = v;
    else if (k == "hide") o.hide = v;
    else if (k == "nbest") o.nbest = v;
    else if (k == "lookback") o.lookback = v;
    else if (k == "framewindow") o.framewindow = v;
    else ADD_FAILURE() << "unknown option " << k;
  }
  return o;
}

// A scratch directory, removed with its files.
struct TempDir {
  std::string path;
  TempDir() {
    char t[] = "/tmp/quorletXXXXXX";
    path = mkdtemp(t);
    path += "/";
  }
  ~TempDir() { system(("rm -rf " + path).c_str()); }
  void Put(const std::string &name, const std::string &text) {
    std::ofstream(path + name, std::ios::binary) << text;
  }
  std::string Get(const std::string &name) {
    std::ifstream f(path + name, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
  }
};

void CopyFixture(const std::string &dir, TempDir &t) {
  system(("cp " + Fixtures() + dir + "/*.gra " + t.path).c_str());
}

int CreateIn(Grammar &g, const std::string &dir, const std::string &top, std::string &res,
             int status = RS_RTN) {
  CompileOptions co;
  co.dir = dir;
  co.readStatus = status;
  return RTN_Create(g, top, co, res);
}

}  // namespace

// Every fixture directory holds its grammar and a table of inputs, options
// and the parses worked out by hand from the grammar.
TEST(Fixtures, ParsesMatchTheHandWorkedTables) {
  const std::pair<const char *, const char *> dirs[] = {
      {"greet", "greet"}, {"flights", "flights"}, {"repair", "order"}, {"oog", "ask"},
      {"window", "window"}, {"resume", "resume"}};
  for (auto &d : dirs) {
    Grammar g;
    std::string res;
    ASSERT_EQ(CreateIn(g, Fixtures() + d.first, d.second, res, RS_GRA), 0) << res;
    std::ifstream table(Fixtures() + d.first + "/expected.txt");
    std::string line;
    int rows = 0;
    while (std::getline(table, line)) {
      if (line.empty() || line[0] == '#') continue;
      size_t a = line.find('|'), b = line.find('|', a + 1);
      ASSERT_NE(b, std::string::npos) << line;
      std::string input = Trim(line.substr(0, a)), opts = Trim(line.substr(a + 1, b - a - 1)),
                  want = Trim(line.substr(b + 1));
      EXPECT_EQ(Parse(g, input, Options(opts)), want) << d.first << ": " << line;
      rows++;
    }
    EXPECT_GT(rows, 1) << d.first;
  }
}

TEST(Compile, MarksAndSharing) {
  struct Case { const char *grammar, *input, *want; } cases[] = {
      // (+a b): a loop before b
      {"[g]\n(+a b)\n", "a a a b", "g:[a,a,a,b]"},
      // (a *b *c): everything after a is optional
      {"[g]\n(a *b *c)\n", "a", "g:[a]"},
      {"[g]\n(a *b *c)\n", "a c", "g:[a,c]"},
      {"[g]\n(a *b *c)\n", "a b c", "g:[a,b,c]"},
      // +* is zero or more, in either order of the marks
      {"[g]\n(x +*y z)\n", "x z", "g:[x,z]"},
      {"[g]\n(x *+y z)\n", "x y y z", "g:[x,y,y,z]"},
      // shared prefixes and suffixes give the same language
      {"[g]\n(R)\nR (a b c) (a b d) (x c) (y c)\n", "a b d", "g:[a,b,d]"},
      {"[g]\n(R)\nR (a b c) (a b d) (x c) (y c)\n", "y c", "g:[y,c]"},
      // a rule used from two places is copied
      {"[g]\n(N and N)\nN (one) (two)\n", "two and one", "g:[two,and,one]"},
      // upper:lower tapes: matched on the upper side, shown on the lower
      {"[g]\n(go:GO home)\n", "go home", "g:[GO,home]"},
      // a rule referenced from a rule defined after it
      {"[g]\n(A)\nA (B c)\nB (b)\n", "b c", "g:[b,c]"},
      // line feeds inside an alternative
      {"[g]\n(a\n b)\n", "a b", "g:[a,b]"},
      // a comment directly followed by a rule
      {"[g]\n(R)\n/* c */R (r)\n", "r", "g:[r]"},
      // nested optional repetitions: null paths around loops end
      {"[g]\n(+*A z)\nA (+*B c) (+*c B)\nB (*d e) (+e f)\n", "e c c e z", "g:[e,c,c,e,z]"},
      {"[g]\n(+*A z)\nA (+*B c) (+*c B)\nB (*d e) (+e f)\n", "z", "g:[z]"},
      // CR LF line ends read like LF
      {"[g]\r\n(a R)\r\nR (b)\r\n", "a b", "g:[a,b]"},
  };
  for (auto &c : cases) {
    Grammar g = Compile("g", c.grammar);
    EXPECT_EQ(Parse(g, c.input), c.want) << c.grammar;
  }
}

TEST(Compile, BadGrammarsFailWithTheirMessage) {
  struct Case { const char *grammar, *message; } cases[] = {
      {"/* c */\n[g]\n(a)\n", "parse error"},
      {"\n[g]\n(a)\n", "parse error"},
      {"[g]\n(a)\n[h]\n(b)\n", "parse error"},
      {"[g]\n(A)\nA (a)\nB (b)\n", "GDH_FindHashEntry failure for B"},
      {"[g]\n(A)\n", "an rwCount of 0 for arc 0 of A was found (is A defined?)"},
      {"[g]\n(A B)\nB (b)\nA (B)\n", "(is B defined?)"},
      {"[g]\n(A)\nA (x A)\n", "includes itself"},
      {"[g]\n(*a *b)\n", "has only optional terms"},
      {"[g]\n(a [x\n", "no closing ']'"},
      {"[g]\n([x]y)\n", "Lexical Error: Missing space after [x]"},
      {"[g]\n(a 1 b)\n", "improper NULL string"},
      {"[g]\n(a b\n", "ends inside an alternative"},
      {"[h]\n(a)\n", "does not match the name of its definition file"},
      {"", "parse error"},
      {"[g]\n(a)\nR (r)\n/* open", "comment is not closed"},
  };
  for (auto &c : cases) {
    Grammar g;
    std::string res;
    EXPECT_EQ(RTN_CompileText(g, "g", c.grammar, res), 1) << c.grammar;
    EXPECT_NE(res.find(c.message), std::string::npos) << c.grammar << "\n" << res;
    EXPECT_NE(res.find("file("), std::string::npos) << res;
    EXPECT_TRUE(g.nets.empty());
  }
}

TEST(Compile, NetNamesMustNameAFileInTheDirectory) {
  const char *names[] = {"", "../x", "a/b", ".hidden"};
  for (auto n : names) {
    Grammar g;
    std::string res;
    EXPECT_EQ(RTN_CompileText(g, n, "[" + std::string(n) + "]\n(a)\n", res), 1) << n;
    EXPECT_NE(res.find("bad net name"), std::string::npos) << res;
  }
}

TEST(Compile, NetReferencesAcrossFiles) {
  TempDir t;
  // b is used by a and by c: compiled once.
  t.Put("a.gra", "[a]\n([b] [c])\n");
  t.Put("b.gra", "[b]\n(bee)\n");
  t.Put("c.gra", "[c]\n(see *[b])\n");
  Grammar g;
  std::string res;
  ASSERT_EQ(CreateIn(g, t.path, "a", res), 0) << res;
  EXPECT_EQ(g.nets.size(), 3u);
  EXPECT_EQ(g.nets[0].name, "[a]");
  EXPECT_EQ(Parse(g, "bee see bee"), "a:[b:[bee],c:[see,b:[bee]]]");

  // A net reaching itself through another.
  t.Put("x.gra", "[x]\n([y])\n");
  t.Put("y.gra", "[y]\n(w *[x])\n");
  res.clear();
  EXPECT_EQ(CreateIn(g, t.path, "x", res), 1);
  EXPECT_NE(res.find("non-term net found in ptlpc->pht"), std::string::npos) << res;

  // A missing sub-net, and a name that would leave the directory.
  t.Put("m.gra", "[m]\n([nothere])\n");
  res.clear();
  EXPECT_EQ(CreateIn(g, t.path, "m", res), 1);
  EXPECT_NE(res.find("fopen failure for " + t.path + "nothere.gra"), std::string::npos) << res;
  t.Put("e.gra", "[e]\n([../etc])\n");
  res.clear();
  EXPECT_EQ(CreateIn(g, t.path, "e", res), 1);
  EXPECT_NE(res.find("outside the grammar directory"), std::string::npos) << res;
}

TEST(Compile, DeepNestingIsRefused) {
  TempDir t;
  for (int i = 0; i < 30; i++)
    t.Put("n" + std::to_string(i) + ".gra", "[n" + std::to_string(i) + "]\n(w" +
                                                std::to_string(i) + " *[n" +
                                                std::to_string(i + 1) + "])\n");
  t.Put("n30.gra", "[n30]\n(end)\n");
  Grammar g;
  std::string res;
  EXPECT_EQ(CreateIn(g, t.path, "n0", res), 1);
  EXPECT_NE(res.find("nested deeper than 24"), std::string::npos) << res;
  // 20 levels are fine and parse from the top.
  t.Put("n20.gra", "[n20]\n(end)\n");
  res.clear();
  ASSERT_EQ(CreateIn(g, t.path, "n0", res), 0) << res;
  EXPECT_EQ(Parse(g, "w0 w1").substr(0, 15), "n0:[w0,n1:[w1]]");
}

TEST(CompiledFiles, RoundTripGivesTheSameParses) {
  TempDir t;
  CopyFixture("flights", t);
  Grammar g;
  std::string res;
  ASSERT_EQ(CreateIn(g, t.path, "flights", res), 0) << res;
  ASSERT_EQ(RTN_Write(g, 0, t.path, res), 0) << res;
  ASSERT_EQ(RTN_Write(g, 1, t.path, res), 0) << res;
  // Reading from the .rtn: nothing is compiled, so nothing is to be written.
  Grammar h;
  ASSERT_EQ(CreateIn(h, t.path, "flights", res), 0) << res;
  EXPECT_FALSE(h.nets[0].fWrite);
  const char *inputs[] = {"uh i want to fly to um new york", "i want to fly to boston please",
                          "denver", "show me flights to san francisco please"};
  for (auto in : inputs) EXPECT_EQ(Parse(h, in), Parse(g, in)) << in;
  // The .net holds the net alone; its sub-net comes from its own file.
  Grammar n;
  ASSERT_EQ(CreateIn(n, t.path, "flights", res, RS_NET), 0) << res;
  EXPECT_TRUE(n.nets[0].fromNetFile);
  for (auto in : inputs) EXPECT_EQ(Parse(n, in), Parse(g, in)) << in;
  EXPECT_EQ(t.Get("flights.net").size() < t.Get("flights.rtn").size(), true);
}

TEST(CompiledFiles, StaleOrDamagedFilesAreCompiledAgain) {
  TempDir t;
  CopyFixture("flights", t);
  Grammar g;
  std::string res;
  ASSERT_EQ(CreateIn(g, t.path, "flights", res), 0) << res;
  ASSERT_EQ(RTN_Write(g, 0, t.path, res), 0);
  std::string good = t.Get("flights.rtn");

  // A sub-net's grammar changed after the file was written.
  usleep(20000);
  t.Put("city_fs.gra", "[city_fs]\n(CITY)\nCITY (paris) (rome)\n");
  Grammar h;
  ASSERT_EQ(CreateIn(h, t.path, "flights", res), 0) << res;
  EXPECT_TRUE(h.nets[0].fWrite);  // compiled
  EXPECT_EQ(Parse(h, "i want to fly to rome"), "flights:[i,want,to,fly,to,city_fs:[rome]]");

  // Damaged files: every one is refused and the grammar compiled instead.
  ASSERT_EQ(RTN_Write(h, 0, t.path, res), 0);
  good = t.Get("flights.rtn");
  std::mt19937 rng(7);
  for (int k = 0; k < 200; k++) {
    std::string bad = good;
    switch (k % 3) {
      case 0: bad[rng() % bad.size()] ^= (char)(1 + rng() % 255); break;
      case 1: bad.resize(rng() % bad.size()); break;
      case 2: bad.insert(rng() % bad.size(), 1, (char)rng()); break;
    }
    if (bad == good) continue;
    t.Put("flights.rtn", bad);
    Grammar d;
    std::string r;
    testing::internal::CaptureStderr();
    ASSERT_EQ(CreateIn(d, t.path, "flights", r), 0) << r;
    std::string warn = testing::internal::GetCapturedStderr();
    EXPECT_NE(warn.find("flights.rtn"), std::string::npos) << k;
    EXPECT_TRUE(d.nets[0].fWrite) << k;
  }
}

TEST(CompiledFiles, OnlyNewerGrammarFilesAreStale) {
  TempDir t;
  CopyFixture("flights", t);
  Grammar g;
  std::string res;
  ASSERT_EQ(CreateIn(g, t.path, "flights", res), 0) << res;
  for (int i = 0; i < (int)g.nets.size(); i++) ASSERT_EQ(RTN_Write(g, i, t.path, res), 0) << res;
  // A grammar file set back in time (restored from a copy, say) is older
  // than its compiled net: the compiled files are read.
  struct utimbuf past = {time(nullptr) - 3600, time(nullptr) - 3600};
  ASSERT_EQ(utime((t.path + "city_fs.gra").c_str(), &past), 0);
  Grammar h;
  ASSERT_EQ(CreateIn(h, t.path, "flights", res), 0) << res;
  EXPECT_FALSE(h.nets[0].fWrite);
  // A sub-net compiled again on its own: its grammar is newer than the copy
  // inside flights.rtn but not than city_fs.rtn, so flights is compiled
  // and city_fs read from its own file.
  usleep(20000);
  t.Put("city_fs.gra", "[city_fs]\n(CITY)\nCITY (paris) (rome)\n");
  usleep(20000);
  Grammar c;
  ASSERT_EQ(CreateIn(c, t.path, "city_fs", res), 0) << res;
  ASSERT_EQ(RTN_Write(c, 0, t.path, res), 0) << res;
  Grammar k;
  ASSERT_EQ(CreateIn(k, t.path, "flights", res), 0) << res;
  EXPECT_TRUE(k.nets[0].fWrite);
  ASSERT_GE(k.FindNet("[city_fs]"), 0);
  EXPECT_FALSE(k.nets[k.FindNet("[city_fs]")].fWrite);
  EXPECT_EQ(Parse(k, "i want to fly to paris"), "flights:[i,want,to,fly,to,city_fs:[paris]]");
}

TEST(CompiledFiles, UnpackRefusesBadBytesWithoutTouchingTheGrammar) {
  Grammar g = Compile("g", "[g]\n(a B)\nB (b) (c)\n");
  std::string bytes = RTN_Pack(g, {0}, true);
  std::mt19937 rng(11);
  for (int k = 0; k < 3000; k++) {
    std::string bad = bytes;
    int flips = 1 + rng() % 4;
    for (int f = 0; f < flips; f++) bad[rng() % bad.size()] = (char)rng();
    Grammar into = Compile("h", "[h]\n(x)\n");
    std::string res;
    int i = RTN_Unpack(into, bad, res);
    if (i < 0) {
      EXPECT_EQ(into.nets.size(), 1u);
      EXPECT_FALSE(res.empty());
    }
  }
  // Valid bytes from a foreign header are refused.
  std::string res;
  Grammar into;
  EXPECT_LT(RTN_Unpack(into, "QRTN", res), 0);
  EXPECT_LT(RTN_Unpack(into, std::string(64, '\0'), res), 0);
}

TEST(Parse, OptionsShapeTheText) {
  Grammar g = Compile("top", "[top]\n(A *B)\nA (x y)\nB (z)\n");
  EXPECT_EQ(Parse(g, "x y z"), "top:[x,y,z]");
  ParseOptions o;
  o.transcript = 1;
  EXPECT_EQ(Parse(g, "x y z", o), "x y z");
  o = ParseOptions();
  o.upper = 0;  // input matched on the lower side
  Grammar t = Compile("t", "[t]\n(up:low)\n");
  EXPECT_EQ(Parse(t, "low", o), "t:[up]");
  EXPECT_EQ(Parse(t, "up"), "t:[low]");
  EXPECT_EQ(Parse(t, "up:low"), "t:[low]");  // the whole terminal name matches too
}

TEST(Parse, CanonicalAndHiddenNets) {
  TempDir t;
  t.Put("q.gra", "[q]\n([when_c] *[city_fs] x)\n");
  t.Put("when_c.gra", "[when_c]\n(at [hour] *sharp)\n");
  t.Put("hour.gra", "[hour]\n(noon) (nine)\n");
  t.Put("city_fs.gra", "[city_fs]\n(rome) (oslo)\n");
  Grammar g;
  std::string res;
  ASSERT_EQ(CreateIn(g, t.path, "q", res), 0) << res;
  struct Case { const char *opts, *input, *want; } cases[] = {
      {"", "at noon rome x", "q:[when_c:[at,hour:[noon]],city_fs:[rome],x]"},
      // The whole canonical net, nested nets included, reads as its name.
      {"canonical 1", "at noon rome x", "q:[when,city_fs:[rome],x]"},
      {"canonical 1 transcript 1", "at noon sharp x", "when"},
      {"transcript 1", "at noon sharp x", "at noon sharp x"},
      // A word is hidden unless the latest net counted for the path is a
      // plain one: words in an fs net, and the word after it, which enters
      // no net of its own.
      {"hide 1", "at nine oslo x", "q:[when_c:[at,hour:[nine]],city_fs:[]]"},
      {"hide 1", "at nine x", "q:[when_c:[at,hour:[nine]],x]"},
      {"tail 1", "at nine x", "q:[when_c:[at,hour:[nine|_]|_],x|_]"},
  };
  for (auto &c : cases) EXPECT_EQ(Parse(g, c.input, Options(c.opts)), c.want) << c.opts;
}

TEST(Parse, PrologAndIndentedForms) {
  Grammar g = Compile("hotel_type", "[hotel_type]\n(book A)\nA (a room)\n");
  ParseOptions o;
  o.prolog = 1;
  EXPECT_EQ(Parse(g, "book a room", o), "[fsType:hotel_type,book,a,room]");
  Grammar h = Compile("hotel", "[hotel]\n(book)\n");
  Parser p(h);
  std::string res;
  std::vector<std::string> out;
  ASSERT_EQ(p.Word("book", o, res), 0);
  EXPECT_EQ(p.Finished(o, out, res), 1);
  EXPECT_NE(res.find("The top-level net suffix is not \"_type\""), std::string::npos) << res;

  struct Case { const char *text, *indented; } cases[] = {
      {"[fsType:flights_type,city_fs:[boston]]", "[fsType:flights_type,\ncity_fs:\n\t[boston]]\n"},
      {"[fsType:a_type,x,city_fs:[name:[new,york]],y]",
       "[fsType:a_type,\nx,city_fs:\n\t[name:[new,york]],\ny]\n"},
      {"[fsType:a_type,b_fs:[c_fs:[x]],d]", "[fsType:a_type,\nb_fs:\n\t[c_fs:\n\t\t[x]],\nd]\n"},
      {"[fsType:a_type,b_fs:[x|_]|_]", "[fsType:a_type,\nb_fs:\n\t[x|_]|_]\n"},
  };
  for (auto &c : cases) {
    std::string pretty;
    res.clear();
    EXPECT_EQ(RTN_PrettyPrint(c.text, strchr(c.text, '|') != nullptr, pretty, res), 0) << res;
    EXPECT_EQ(pretty, c.indented) << c.text;
  }
  std::string pretty;
  res.clear();
  EXPECT_EQ(RTN_PrettyPrint("[fsType:a_type,b_fs:[x]]]", false, pretty, res), 1);
  EXPECT_NE(res.find("no matching bracket"), std::string::npos);
  res.clear();
  EXPECT_EQ(RTN_PrettyPrint("[fsType:a_type,b_fs:[x|]", true, pretty, res), 1);
  EXPECT_NE(res.find("improper tail format"), std::string::npos);

  // With score, each parse is headed by its scores.
  o = ParseOptions();
  o.prettyprint = 1;
  o.score = 1;
  Grammar f = Compile("q", "[q]\n(a b)\n");
  EXPECT_EQ(Parse(f, "a b", o),
            "\nIndex(0:0:2):\tWordScore(2) RepairScore(0) oogScore(0) FScore(0) NetScore(1)\n\t\t\n\n"
            "q:[a,\nb]\n");
}

TEST(Parse, FrameWindowCountsEveryPosition) {
  // A prediction made for position q serves the word at position p while
  // p - q + 1 is within the window; skipped words count, and paths start
  // from the predictions made for position 0.
  Grammar g = Compile("g", "[g]\n(a d) (b) (c)\n");
  struct Case { int window; const char *input, *want; } cases[] = {
      {255, "a b c d", "g:[a,d]"},
      {2, "a b c d", "g:[b]"},  // c comes 3 after the start, d 3 after a
      {2, "a b d", "g:[a,d]"},
      {1, "a d", "g:[a,d]"},
      {1, "a b d", ""},
      {2, "a um um d", ""},
      {3, "a um um d", "g:[a,d]"},
  };
  for (auto &c : cases) {
    ParseOptions o;
    o.framewindow = c.window;
    EXPECT_EQ(Parse(g, c.input, o), c.want) << c.window << " " << c.input;
  }
}

TEST(Parse, TraceAndGrowthLinesGoToTheOutput) {
  // 130 terminals expected at the start: the prediction table grows once.
  std::string text = "[g]\n(W)\nW";
  for (int i = 0; i < 130; i++) text += " (w" + std::to_string(i) + ")";
  Grammar g = Compile("g", text + "\n");
  struct Case { int debug, printallocs; const char *want; } cases[] = {
      {0, 0, ""},
      {1, 0, "\nFinished Paths Scored(1)\n"},
      {3, 0, ""},
      {0, 1, "RTN_AllocPPNTableMemory([g]): prevSize(128) PPN_TABLE_SIZE(128) size(256)\n"},
  };
  for (auto &c : cases) {
    Parser p(g);
    std::string out, res;
    p.SetAllocOutput([&](const std::string &s) { out += s; });
    ParseOptions o;
    o.debug = c.debug;
    o.printallocs = c.printallocs;
    ASSERT_EQ(p.Word("w3", o, res), 0) << res;
    std::vector<std::string> best;
    ASSERT_EQ(p.Finished(o, best, res), 0) << res;
    EXPECT_EQ(best, std::vector<std::string>{"g:[w3]"});
    EXPECT_EQ(out, c.want) << c.debug << " " << c.printallocs;
    // The table stays grown for the next input.
    out.clear();
    p.Reset();
    ASSERT_EQ(p.Word("w4", o, res), 0) << res;
    if (c.printallocs) {
      EXPECT_EQ(out, "");
    }
  }
}

TEST(Parse, NbestAndTies) {
  // Two analyses of the same words that score alike: both are shown.
  Grammar g = Compile("g", "[g]\n(A) (B)\nA (hi there)\nB (hi there)\n");
  EXPECT_EQ(Parse(g, "hi there"), "g:[hi,there]");
  // Longer finished paths win; nbest 0 lists every position, longest first.
  Grammar h = Compile("h", "[h]\n(a) (a b)\n");
  ParseOptions o;
  o.nbest = 0;
  EXPECT_EQ(Parse(h, "a b", o), "h:[a,b]\nh:[a]");
}

TEST(Parse, LongAndOddInputs) {
  Grammar g = Compile("g", "[g]\n(+w)\n");
  Parser p(g);
  ParseOptions o;
  std::string res;
  for (int i = 0; i < kMaxInput; i++) ASSERT_EQ(p.Word("w", o, res), 0) << res;
  EXPECT_EQ(p.Word("w", o, res), 1);
  EXPECT_NE(res.find("exceeds CURRENTPATHARRAY_SIZE"), std::string::npos);
  // A very long unknown word and odd bytes are skipped.
  EXPECT_EQ(Parse(g, std::string(100000, 'q') + " w \x01\xff w"), "g:[w,w]");
}

TEST(Print, TablesInTheirListingForms) {
  // Keys of the terminal table in order: "up:low" (offset 0), "U up" (7),
  // "L low" (12); a side's text follows its "U " or "L ".
  Grammar g = Compile("t", "[t]\n(up:low)\n");
  std::string out, res;
  const std::string head = "Index\tOffset\tEntry\n-----\t------\t-----\n";
  EXPECT_EQ(RTN_Print(g, 0x400, out, res), 0);
  EXPECT_EQ(out, "");
  RTN_Print(g, 0x1, out, res);
  EXPECT_EQ(out, "\nNetTable:\n" + head + "0\t0\t[t]\n\n" +
                 "\nTermTable:\n" + head + "0\t0\tup:low\n\n" +
                 "\nUpperTable:\n" + head + "0\t9\tup\t\t\tup:low \n\n" +
                 "\nLowerTable:\n" + head + "0\t14\tlow\t\t\tup:low \n\n" +
                 "\nSymbolTable:\n" + head + "0\t0\t0\n1\t2\t0:0\n2\t6\t0:1\n\n");
  // The origin table: state 0 takes up:low to the end state 1; state 1 has
  // no group, so its entry ends after its name.
  RTN_Print(g, 0x4, out, res);
  const std::string nine(9, '\t');
  EXPECT_EQ(out,
            "\nFrom Structure entries:\nFromTag\t\tFrom\tContextGroup\t\tPrefix\t\t\tToTag\t\t\t"
            "ToState\tSelf-Loop Depth\n-------\t\t----\t------------\t\t------\t\t\t-----\t\t\t"
            "-------\t---------------\n"
            "index(0): ([fActive(1)] origin: 0:0)\n[t]\t\t0:0\tcgi #(00:00)\n\t\t\t------------\n"
            "\t\t\t00 up:low\t\t0   0\t\t\t(to: 0)\n" + nine + "[t]\t\t\t0:1\n\n"
            "index(1): ([fActive(1)] origin: 0:1)\n[t]\t\t0:1\t");
  // Origin counts: two states. A used origin takes 392 bytes (32, its
  // prefix with 2 arc slots of 32 and a spare prefix of 88, a group of 92
  // and a spare one of 92): state 0 leaves 246 of them spare, state 1 (no
  // arcs, no group) 336; six spare origins of 392 fill the first 8 slots.
  RTN_Print(g, 0x800, out, res);
  EXPECT_EQ(out, "\nRun-time States(2) Compile-time only Connecting States(0) Total(2)\n"
                 "Origin Structure Memory Size in bytes(3160) empty(2934)\n\n");
  // Terminals reached over null arcs belong to the state's group.
  Grammar h = Compile("h", "[h]\n(*A b)\nA (a)\n");
  RTN_Print(h, 0x4, out, res);
  size_t at = out.find("origin: 0:0)");
  ASSERT_NE(at, std::string::npos);
  const std::string want = "origin: 0:0)\n[h]\t\t0:0\tcgi #(00:00)\n\t\t\t------------\n\t\t\t00 a\n";
  EXPECT_EQ(out.substr(at, want.size()), want);
  EXPECT_NE(out.find("\t\t\t01 b\t\t\t0   0"), std::string::npos) << out;
}

TEST(Fuzz, GrammarReaderNeverCrashes) {
  const std::string seeds[] = {
      "[g]\n(*HELLO +NAME)\nHELLO (hello) (hi there)\nNAME (anna) (bob)\n",
      "[g]\n(A *B)\nA (x y:Y) (x z)\nB (+*w [n])\n/* c */C (c)\n",
  };
  const char alphabet[] = "[]()*+:_- \n\r\tAaZz/\x80";
  std::mt19937 rng(3);
  for (int k = 0; k < 20000; k++) {
    std::string s = seeds[k % 2];
    int edits = 1 + rng() % 6;
    for (int e = 0; e < edits; e++) {
      size_t at = rng() % (s.size() + 1);
      switch (rng() % 3) {
        case 0: if (at < s.size()) s.erase(at, 1); break;
        case 1: s.insert(at, 1, alphabet[rng() % (sizeof alphabet - 1)]); break;
        case 2: if (at < s.size()) s[at] = alphabet[rng() % (sizeof alphabet - 1)]; break;
      }
    }
    Grammar g;
    std::string res;
    testing::internal::CaptureStdout();
    int rc = RTN_CompileText(g, "g", s, res);
    testing::internal::GetCapturedStdout();
    if (rc == 0) {
      // Whatever compiled must parse and round-trip.
      Parse(g, "hello anna x y w c bob");
      Grammar h;
      std::string r;
      ASSERT_EQ(RTN_Unpack(h, RTN_Pack(g, g.Subtree(0), true), r), 0) << r << s;
    } else {
      EXPECT_FALSE(res.empty()) << s;
    }
  }
}

TEST(Filize, SplitsNetsAndRefusesEscapingNames) {
  TempDir t;
  std::string res;
  ASSERT_EQ(RTN_Filize(res, "[a]\nR (x)\n[b]\nS (y)\n", t.path), 0) << res;
  EXPECT_EQ(t.Get("a.gra"), "[a]\nR (x)");
  EXPECT_EQ(t.Get("b.gra"), "[b]\nS (y)\n");
  const char *bad[] = {"/* c */\n[a]\n", " [a]\n", "[../x]\n(a)\n", "[a/b]\n(a)\n", "[]\n"};
  for (auto b : bad) {
    res.clear();
    EXPECT_EQ(RTN_Filize(res, b, t.path), 1) << b;
    EXPECT_FALSE(res.empty());
  }
  struct stat st;
  EXPECT_NE(stat((t.path + "../x.gra").c_str(), &st), 0);
}

TEST(HashTable, GrowsAlongTheSizeSeries) {
  struct Case { int hint, buckets, grownAtEntry, grownBuckets; } cases[] = {
      {128, 257, 129, 1031},
      {120, 257, 129, 1031},
      {2, 5, 3, 17},
  };
  for (auto &c : cases) {
    GDPC_HashTable t;
    GDPC_InitHashTable(t, c.hint);
    EXPECT_EQ((int)t.buckets.size(), c.buckets) << c.hint;
    for (int i = 1; i <= c.grownAtEntry; i++) {
      EXPECT_EQ((int)t.buckets.size(), c.buckets) << "before entry " << i;
      bool isNew;
      std::string k = "key" + std::to_string(i);
      GDPC_StringCreate(t, k.data(), k.size(), &isNew);
      EXPECT_TRUE(isNew);
    }
    EXPECT_EQ((int)t.buckets.size(), c.grownBuckets) << c.hint;
    EXPECT_EQ(t.growAt, (c.grownBuckets + 1) / 2);
    std::string why;
    EXPECT_TRUE(GDPC_CheckTable(t, why)) << why;
    for (int i = 1; i <= c.grownAtEntry; i++) {
      std::string k = "key" + std::to_string(i);
      EXPECT_EQ(GDPC_StringFind(t, k.data(), k.size()), i - 1) << k;
    }
  }
}

TEST(HashTable, KeysAndStatistics) {
  GDPC_HashTable t;
  GDPC_InitHashTable(t, 128);
  EXPECT_EQ(GDPC_HashStats(t),
            "0 entries in table, 257 buckets\n"
            "number of buckets with 0 entries: 257\n"
            "number of buckets with 1 entries: 0\nnumber of buckets with 2 entries: 0\n"
            "number of buckets with 3 entries: 0\nnumber of buckets with 4 entries: 0\n"
            "number of buckets with 5 entries: 0\nnumber of buckets with 6 entries: 0\n"
            "number of buckets with 7 entries: 0\nnumber of buckets with 8 entries: 0\n"
            "number of buckets with 9 entries: 0\n"
            "number of buckets with 10 or more entries: 0\n"
            "average search distance for entry: 0.000");
  bool isNew;
  int empty = GDPC_StringCreate(t, "", 0, &isNew);
  EXPECT_EQ(t.buckets[0], empty);  // the empty key hashes to bucket 0
  int ab = GDPC_StringCreate(t, "ab", 2, &isNew);
  int a = GDPC_StringCreate(t, "a", 1, &isNew);
  EXPECT_NE(a, ab);  // a prefix is another key
  size_t keyBytes = t.key.size();
  EXPECT_EQ(GDPC_StringCreate(t, "ab", 2, &isNew), ab);
  EXPECT_FALSE(isNew);
  EXPECT_EQ(t.key.size(), keyBytes);  // an existing key adds nothing
  EXPECT_STREQ(GDPC_Key(t, ab), "ab");
  EXPECT_EQ(GDPC_StringFind(t, "abc", 3), -1);
  // Signed bytes hash the same on every machine: a key of high bytes is found.
  std::string high = "\xe9t\xe9";
  int h = GDPC_StringCreate(t, high.data(), high.size(), &isNew);
  EXPECT_EQ(GDPC_StringFind(t, high.data(), high.size()), h);
}

TEST(HashTable, DamagedTablesAreRefused) {
  GDPC_HashTable good;
  GDPC_InitHashTable(good, 2);
  bool isNew;
  GDPC_StringCreate(good, "a", 1, &isNew);
  GDPC_StringCreate(good, "b", 1, &isNew);
  std::string why;
  ASSERT_TRUE(GDPC_CheckTable(good, why));
  std::vector<std::function<void(GDPC_HashTable &)>> damage = {
      [](GDPC_HashTable &t) { t.entry[0].next = 0; },  // a chain onto itself
      [](GDPC_HashTable &t) { t.entry[1].key = 1000; },
      [](GDPC_HashTable &t) { t.buckets[0] = 7; },
      [](GDPC_HashTable &t) { t.key.back() = 'x'; },
      [](GDPC_HashTable &t) { t.sizeLevel = 40; },
      [](GDPC_HashTable &t) { t.buckets.pop_back(); },
  };
  for (size_t i = 0; i < damage.size(); i++) {
    GDPC_HashTable t = good;
    damage[i](t);
    EXPECT_FALSE(GDPC_CheckTable(t, why)) << i;
  }
}

TEST(HashTable, PairAndChainedTables) {
  UL_HashTable u;
  UL_InitHashTable(u, 128);
  EXPECT_EQ(u.buckets.size(), 257u);
  EXPECT_EQ(u.shift, 25);
  bool isNew;
  for (int i = 0; i < 600; i++) EXPECT_EQ(UL_KeyCreate(u, i, -i, &isNew), i);
  EXPECT_EQ(u.buckets.size(), 4099u);  // 257 -> 1031 at 129 -> 4099 at 516
  EXPECT_EQ(u.shift, 25);              // growth keeps the shift
  for (int i = 0; i < 600; i++) EXPECT_EQ(UL_KeyFind(u, i, -i), i);
  EXPECT_EQ(UL_KeyFind(u, -1, 1), -1);
  EXPECT_EQ(UL_KeyCreate(u, 7, -7, &isNew), 7);
  EXPECT_FALSE(isNew);

  GDH_HashTable h;
  GDH_InitHashTable(h, 0, 2);
  EXPECT_EQ(h.bucketCount, 5);
  GDH_CreateHashEntry(h, "a", &isNew);
  GDH_CreateHashEntry(h, "b", &isNew);
  EXPECT_EQ(h.bucketCount, 5);
  GDH_HashEntry *c = GDH_CreateHashEntry(h, "c", &isNew);
  EXPECT_EQ(h.bucketCount, 17);  // grows on the third entry
  c->value = 42;
  EXPECT_EQ(GDH_FindHashEntry(h, "c")->value, 42);
  GDH_DeleteHashEntry(GDH_FindHashEntry(h, "a"));
  EXPECT_EQ(GDH_FindHashEntry(h, "a"), nullptr);
  EXPECT_NE(GDH_FindHashEntry(h, "b"), nullptr);
  HashWalk w;
  int n = 0;
  for (GDH_HashEntry *e = GDH_FirstHashEntry(h, w); e; e = GDH_NextHashEntry(w)) n++;
  EXPECT_EQ(n, 2);
  EXPECT_EQ(GDH_HashStats(h).substr(0, 31), "2 entries in table, 17 buckets\n");
  GDH_DeleteHashTable(h);
  EXPECT_DEATH(GDH_FindHashEntry(h, "b"), "called GDH_FindHashEntry on deleted table");
}

TEST(ItemPool, ChunksResetAndFreeList) {
  MemPool *p = mem_Init(512, 20, 0);
  for (int i = 0; i < 512; i++) mem_Alloc(p, 1);
  EXPECT_EQ(mem_Size(p), 512);
  char *s = (char *)mem_Alloc(p, 1);  // the 513th starts a second chunk
  EXPECT_EQ(mem_Size(p), 1024);
  memset(s, 0x5a, 20);
  mem_Alloc(p, 600);  // larger than a chunk: a chunk of exactly that size
  EXPECT_EQ(mem_Size(p), 1624);
  mem_Reset(p);
  EXPECT_EQ(mem_Size(p), 512);
  EXPECT_EQ(mem_Used(p), 0);
  char *z = (char *)mem_Alloc(p, 3);
  for (int i = 0; i < 60; i++) EXPECT_EQ(z[i], 0);
  // A request that does not fit in what is left starts a new chunk.
  mem_Alloc(p, 500);
  mem_Alloc(p, 10);
  EXPECT_EQ(mem_Size(p), 1024);
  // Items come back zeroed, first freed first.
  char *a = (char *)mem_AllocItem(p), *b = (char *)mem_AllocItem(p);
  memset(a, 1, 8);
  memset(b, 2, 8);
  mem_FreeItem(p, a);
  mem_FreeItem(p, b);
  EXPECT_EQ(mem_AllocItem(p), a);
  EXPECT_EQ(mem_AllocItem(p), b);
  EXPECT_EQ(a[0], 0);
  EXPECT_EQ(b[7], 0);
  mem_Nuke(p);
}
