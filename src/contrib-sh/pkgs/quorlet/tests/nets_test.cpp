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

// The compile of one grammar file up to (not including) the packing of the
// net: what this source builds.
struct Compiled {
  ParserControl pc;
  int rc = -1;
  Compiled(const std::string &name) {
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

  std::string Symbol(int s) const { return pc.SymbolTable->strings[s]; }
  std::string Terminal(int t) const { return pc.TerminalTable->strings[t]; }

  // "ORIGIN -> TOTAG:TOSTATE term,term" per arc, sorted, one per line.
  std::string Arcs() const {
    std::vector<std::string> lines;
    for (int o = 0; o < pc.From->count; o++) {
      const Origin &org = (*pc.From)[o];
      for (int f = 0; f < org.prefix.count; f++) {
        const OriginPrefix &pre = org.prefix[f];
        for (int a = 0; a < pre.arc.count; a++) {
          const PrefixArc &arc = pre.arc[a];
          std::vector<std::string> terms;
          for (int t = 0; t < arc.terminal.count; t++) terms.push_back(Terminal(arc.terminal[t]));
          std::sort(terms.begin(), terms.end());
          std::string line = Symbol(org.symbol) + " -> " + Symbol(arc.symbol) + ":" +
                             std::to_string(arc.ToState) + " ";
          for (size_t i = 0; i < terms.size(); i++) line += (i ? "," : "") + terms[i];
          lines.push_back(line);
        }
      }
    }
    std::sort(lines.begin(), lines.end());
    std::string out;
    for (auto &l : lines) out += l + "\n";
    return out;
  }

  // Every arc that does not end the net leads to an active origin.
  std::vector<std::string> DanglingArcs() const {
    std::vector<std::string> bad;
    for (int o = 0; o < pc.From->count; o++) {
      const Origin &org = (*pc.From)[o];
      for (int f = 0; f < org.prefix.count; f++)
        for (int a = 0; a < org.prefix[f].arc.count; a++) {
          const PrefixArc &arc = org.prefix[f].arc[a];
          if (arc.ToState == 1) continue;
          std::string key = Symbol(arc.symbol) + ":" + std::to_string(arc.ToState) + " FO";
          int e = GDPC_StringFind(*pc.pht, key.c_str(), key.size());
          if (e < 0 || !(*pc.From)[pc.pht->entry[e].value].fActive) bad.push_back(key);
        }
    }
    return bad;
  }
};

}  // namespace

TEST(Smoke, Greet) {
  TempDir d;
  Write("greet.gra", "[greet]\n(*HELLO +NAME)\nHELLO (hello) (hi there)\nNAME (anna) (bob)\n");
  Compiled c("greet");
  ASSERT_EQ(0, c.rc) << c.pc.pres;
  std::cout << c.Arcs();
  EXPECT_TRUE(c.DanglingArcs().empty());
}

TEST(Smoke, Flights) {
  TempDir d;
  Write("flights.gra", "[flights]\n(*WANT [city_fs] *PLEASE)\nWANT (i want to fly to) (i want to go to) (show me flights to)\nPLEASE (please)\n");
  Write("city_fs.gra", "[city_fs]\n(CITY)\nCITY (boston:BOS) (denver) (new york) (san francisco)\n");
  ParserControl *pc = new ParserControl();
  RTN_InitPC(pc);
  ParserControl *r = RTN_Create(pc, "flights", ".gra", RS_RTN);
  ASSERT_TRUE(r) << pc->pres;
  RTN_Print(r, PRINT_ORIGINS | PRINT_NETS);
  RTN_Free(r);
  if (r != pc) delete r;
  delete pc;
}
