// Grammar files, rule expansion, sharing of alternatives, net references and
// the compile driver, checked through the origin tables they make.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "gd.h"
#include "pc.h"
#include "rtn_io.h"

using namespace rtn;

namespace {

// A folder of its own per test, made current while the test runs.
class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/nets_testXXXXXX";
    dir_ = mkdtemp(tmpl);
    char buf[4096];
    old_ = getcwd(buf, sizeof buf);
    EXPECT_EQ(0, chdir(dir_.c_str()));
  }
  ~TempDir() {
    if (chdir(old_.c_str())) {
    }
    std::string cmd = "rm -rf '" + dir_ + "'";
    if (system(cmd.c_str())) {
    }
  }
  const std::string &path() const { return dir_; }

 private:
  std::string dir_, old_;
};

void Write(const std::string &path, const std::string &text) {
  std::ofstream f(path, std::ios::binary);
  f << text;
}

std::string Read(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

// Arcs of an origin table, "ORIGIN -> TOTAG:TOSTATE term,term" per arc,
// sorted, one a line.
std::string ArcsOf(const ParserControl &pc) {
  auto sym = [&](int s) { return pc.SymbolTable->strings[s]; };
  std::vector<std::string> lines;
  for (int o = 0; o < pc.From->count; o++) {
    const Origin &org = (*pc.From)[o];
    for (int f = 0; f < org.prefix.count; f++) {
      const OriginPrefix &pre = org.prefix[f];
      for (int a = 0; a < pre.arc.count; a++) {
        const PrefixArc &arc = pre.arc[a];
        std::vector<std::string> terms;
        for (int t = 0; t < arc.terminal.count; t++)
          terms.push_back(pc.TerminalTable->strings[arc.terminal[t]]);
        std::sort(terms.begin(), terms.end());
        terms.erase(std::unique(terms.begin(), terms.end()), terms.end());
        std::string line = sym(org.symbol) + " -> " + sym(arc.symbol) + ":" + std::to_string(arc.ToState) + " ";
        for (size_t i = 0; i < terms.size(); i++) line += (i ? "," : "") + terms[i];
        lines.push_back(line);
      }
    }
  }
  std::sort(lines.begin(), lines.end());
  lines.erase(std::unique(lines.begin(), lines.end()), lines.end());
  std::string out;
  for (auto &l : lines) out += l + "\n";
  return out;
}

// Destinations of arcs that do not end the net but lead to no active origin.
std::vector<std::string> DanglingArcs(const ParserControl &pc) {
  std::vector<std::string> bad;
  for (int o = 0; o < pc.From->count; o++) {
    const Origin &org = (*pc.From)[o];
    for (int f = 0; f < org.prefix.count; f++)
      for (int a = 0; a < org.prefix[f].arc.count; a++) {
        const PrefixArc &arc = org.prefix[f].arc[a];
        if (arc.ToState == 1) continue;
        std::string key = pc.SymbolTable->strings[arc.symbol] + ":" + std::to_string(arc.ToState) + " FO";
        int e = GDPC_StringFind(*pc.pht, key.c_str(), key.size());
        if (e < 0 || !(*pc.From)[pc.pht->entry[e].value].fActive) bad.push_back(key);
      }
  }
  return bad;
}

// The compile of one grammar file up to (not including) the packing of the
// net: what this source builds, nets referenced excepted.
struct Compiled {
  ParserControl pc;
  int rc = -1;
  explicit Compiled(const std::string &name) {
    RTN_InitPC(&pc);
    pc.inputBuf.clear();
    if (GDPC_Init(&pc)) return;
    GDH_InitHashTable(*pc.plht, 0, 128);
    GDPC_InitHashTable(*pc.pht, 128);
    UL_InitHashTable(*pc.pulht, 128);
    std::string path = name + ".gra";
    if (GDPC_BufferizeFile(&pc, path.c_str()))
      rc = 1;
    else if (GD_parse(&pc))
      rc = 2;
    else if (GDPC_ProcessNonTerms(&pc))
      rc = 3;
    else if (GDPC_BackProcessNulls(&pc))
      rc = 4;
    else
      rc = 0;
  }
  ~Compiled() { GDPC_Free(&pc); }
  Compiled(const Compiled &) = delete;
  Compiled &operator=(const Compiled &) = delete;

  std::string Arcs() const { return ArcsOf(pc); }
};

}  // namespace

// A grammar compiled by the driver, nets referenced included.
struct Created {
  ParserControl *pc = new ParserControl();
  ParserControl *net = nullptr;
  Created(const std::string &name, int status = RS_RTN) {
    RTN_InitPC(pc);
    net = RTN_Create(pc, name.c_str(), ".gra", status);
  }
  ~Created() {
    if (net && net != pc) {
      GS_DeleteResult(RTN_Free(net));
      delete net;
    }
    GS_DeleteResult(RTN_Free(pc));
    delete pc;
  }
  Created(const Created &) = delete;
  Created &operator=(const Created &) = delete;
};

// One net and its rules: the origin tables worked out by hand. States: 0 the
// net's start, 1 its end, then 2, 3 ... in the order the expansion makes them.
struct TableCase {
  const char *what;
  const char *grammar;
  const char *arcs;
};

class OriginTable : public ::testing::TestWithParam<TableCase> {};

TEST_P(OriginTable, AsWorkedOut) {
  TempDir d;
  Write("t.gra", GetParam().grammar);
  Compiled c("t");
  ASSERT_EQ(0, c.rc) << c.pc.pres;
  EXPECT_EQ(GetParam().arcs, c.Arcs());
  EXPECT_TRUE(DanglingArcs(c.pc).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Nets, OriginTable,
    ::testing::Values(
        TableCase{"one net", "[t]\n(a b)\n", "0:0 -> 0:2 a\n0:2 -> 0:1 b\n"},
        // A rule expands between the states of its reference; (hi there)
        // gets a state of its own.
        TableCase{"a rule", "[t]\n(HELLO bob)\nHELLO (hello) (hi there)\n",
                  "0:0 -> 0:2 hello\n0:0 -> 0:3 hi\n0:2 -> 0:1 bob\n0:3 -> 0:2 there\n"},
        // '+' first in an alternative: a null arc to a state of its own,
        // which carries the loop.
        TableCase{"+ first", "[t]\n(+a b)\n",
                  "0:0 -> 0:2 a\n0:0 -> 0:3 a\n0:2 -> 0:2 a\n0:2 -> 0:3 a\n0:3 -> 0:1 b\n"},
        // Everything after a is optional: a may end the net at once, and b
        // may too; *b may be skipped.
        TableCase{"* after", "[t]\n(a *b *c)\n",
                  "0:0 -> 0:1 a\n0:0 -> 0:2 a\n0:2 -> 0:1 b\n0:2 -> 0:1 c\n0:2 -> 0:3 b\n"
                  "0:3 -> 0:1 c\n"},
        // +* inside: loop, skip, and the arc itself.
        TableCase{"+* inside", "[t]\n(a +*b c)\n",
                  "0:0 -> 0:2 a\n0:2 -> 0:1 c\n0:2 -> 0:2 b\n0:2 -> 0:3 b\n0:3 -> 0:1 c\n"},
        // A repeated rule: R+ with R = x | x y | z+. The repetition re-enters
        // the states of the first expansion: x and y lead back to 2.
        TableCase{"repeated rule", "[t]\n(+R)\nR (x *y) (+z)\n",
                  "0:0 -> 0:1 x\n0:0 -> 0:1 z\n0:0 -> 0:2 x\n0:0 -> 0:2 z\n0:0 -> 0:3 x\n"
                  "0:0 -> 0:4 z\n0:2 -> 0:1 x\n0:2 -> 0:1 z\n0:2 -> 0:2 x\n0:2 -> 0:2 z\n"
                  "0:2 -> 0:3 x\n0:2 -> 0:4 z\n0:3 -> 0:1 y\n0:3 -> 0:2 y\n0:4 -> 0:1 z\n"
                  "0:4 -> 0:2 z\n0:4 -> 0:4 z\n"},
        // Shared beginning: c and d leave from the same state.
        TableCase{"prefix", "[t]\n(R)\nR (a b c) (a b d)\n",
                  "0:0 -> 0:2 a\n0:2 -> 0:3 b\n0:3 -> 0:1 c,d\n"},
        // Shared ending: y ends where x ends, and both share c.
        TableCase{"suffix", "[t]\n(R)\nR (x c) (y c)\n", "0:0 -> 0:2 x,y\n0:2 -> 0:1 c\n"},
        // Two equal single-term alternatives give one set of arcs.
        TableCase{"duplicate", "[t]\n(R z)\nR (a) (a)\n", "0:0 -> 0:2 a\n0:2 -> 0:1 z\n"},
        // A rule referenced twice: the second reference is a copy with new
        // states after the highest used.
        TableCase{"copy", "[t]\n(R R)\nR (a b)\n",
                  "0:0 -> 0:3 a\n0:2 -> 0:4 a\n0:3 -> 0:2 b\n0:4 -> 0:1 b\n"}),
    [](const ::testing::TestParamInfo<TableCase> &i) {
      std::string n = i.param.what;
      for (char &ch : n)
        if (!isalnum((unsigned char)ch)) ch = '_';
      return n;
    });
