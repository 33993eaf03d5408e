// The compiled-net record and the compiler's tables, driven directly on small
// hand-made rewrite tables.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "container.h"
#include "pc.h"

using namespace rtn;

namespace {

// A term as the lexer and the expander would leave it.
struct TermSpec {
  const char *name;
  int kind;
  int from, to;
  int plus = 0, star = 0;
  int cs = 0, pcs = 0;
  int rhbi = -1, rhsi = -1, rti = -1;
};

TermSpec Word(const char *name, int from, int to, int cs = 0, int pcs = 0) {
  TermSpec t{name, name && *name ? TK_TERMINAL : TK_NONE, from, to};
  t.cs = cs;
  t.pcs = pcs;
  return t;
}

// One net "[g]" in a freshly made record, with rules written straight into
// its Rewrite table.
class Net : public ::testing::Test {
 protected:
  ParserControl pc;

  void SetUp() override {
    ASSERT_EQ(GDPC_Init(&pc), 0) << pc.pres;
    pc.Rewrite->netName = "[g]";
    ASSERT_EQ(GDPC_NewNonTermTable(&pc), 0);
    NT_Array &nt = (*pc.nonTerm)[0];
    nt.name = "[g]";
    nt.kind = NT_NETSTART;
    nt.value = 0;
    pc.nonTerm->count = 1;
    bool isNew = false;
    GDH_CreateHashEntry(*pc.plht, "[g]", &isNew)->value = 0;
    int e = GDPC_StringCreate(*pc.pht, "[g]", 3, &isNew);
    pc.pht->entry[e].value = 0;
    ASSERT_EQ(GDPC_AppendString(&pc, pc.NetTable, "[g]", pc.pht->entry[e].key), 0);
    pc.cNonTerm->name = "G";
    pc.cNonTerm->start = 0;
    pc.cNonTerm->end = 1;
  }
  void TearDown() override { GDPC_Free(&pc); }

  // Rule r with its alternatives; the tables grow through their routines.
  void SetRule(int r, const std::vector<std::vector<TermSpec>> &alts, uint8_t flag = 0) {
    Rewrite &rw = *pc.Rewrite;
    while (rw.rhb.capacity <= r) ASSERT_EQ(GDPC_AllocRewriteSides(&pc, &rw), 0);
    if (rw.rhb.count <= r) rw.rhb.count = r + 1;
    RewriteSide &side = rw.rhb[r];
    side.flag = flag;
    for (size_t a = 0; a < alts.size(); a++) {
      while (side.rhs.capacity <= (int)a) ASSERT_EQ(GDPC_AllocRhss(&pc, &side), 0);
      Rhs &rhs = side.rhs[a];
      for (size_t k = 0; k < alts[a].size(); k++) {
        while (rhs.term.capacity <= (int)k) ASSERT_EQ(GDPC_AllocRhsTerms(&pc, &rhs), 0);
        const TermSpec &s = alts[a][k];
        RhsTerm &t = rhs.term[k];
        t.name = s.name ? s.name : "";
        t.kind = s.kind;
        t.from = s.from;
        t.to = s.to;
        t.rightState = s.to;
        t.plus = (uint8_t)s.plus;
        t.star = (uint8_t)s.star;
        t.cornerStatus = (uint8_t)s.cs;
        t.patternCornerStatus = (uint8_t)s.pcs;
        t.rhbi = s.rhbi;
        t.rhsi = s.rhsi;
        t.rti = s.rti;
      }
      rhs.term.count = (int)alts[a].size();
    }
    side.rhs.count = (int)alts.size();
  }

  int Arc(int rule, int alt, int term, const char *nextNet = "_", int noRedundancy = 0) {
    const RhsTerm &t = (*pc.Rewrite).rhb[rule].rhs[alt].term[term];
    return GDPC_AddTerminalArc(&pc, rule, alt, term, pc.Rewrite, MODE_RULES, t.patternCornerStatus, t.cornerStatus,
                               nextNet, 0, 0, -1, -1, -1, noRedundancy, 0);
  }

  bool Plht(const std::string &key) { return GDH_FindHashEntry(*pc.plht, key.c_str()) != nullptr; }
  intptr_t PlhtValue(const std::string &key) { return GDH_FindHashEntry(*pc.plht, key.c_str())->value; }
  int Pht(const std::string &key) { return GDPC_StringFind(*pc.pht, key.c_str(), key.size()); }
  int OriginOf(const std::string &name) {
    int e = Pht(name + " FO");
    return e < 0 ? -1 : pc.pht->entry[e].value;
  }
  std::string Sym(int s) { return pc.SymbolTable->strings[s]; }

  // The arcs of an origin as "prefix>toTag:toState[terminal,...]" lines.
  std::string Arcs(int o) {
    std::string out;
    const Origin &org = (*pc.From)[o];
    for (int i = 0; i < org.prefix.count; i++)
      for (int a = 0; a < org.prefix[i].arc.count; a++) {
        const PrefixArc &arc = org.prefix[i].arc[a];
        out += Sym(org.prefix[i].symbol) + ">" + Sym(arc.symbol) + ":" + std::to_string(arc.ToState) + "[";
        for (int k = 0; k < arc.terminal.count; k++) out += (k ? "," : "") + std::to_string(arc.terminal[k]);
        out += "]\n";
      }
    return out;
  }

  int From(const char *origin, int terminal, const char *toTag, int toState, int group, int withTerms = 1,
           const char *prefix = nullptr) {
    return GDPC_UpdateFromTable(&pc, origin, prefix ? prefix : origin, 0, 0, terminal, toTag, 0, toState, 0, 0, group,
                                withTerms, 0);
  }
};

// ---------------------------------------------------------------------------
// Making, growing and releasing

TEST_F(Net, a_new_record_has_every_table_at_its_first_capacity) {
  struct {
    const char *table;
    int capacity, step;
  } cases[] = {
      {"TerminalTable", pc.TerminalTable->capacity, pc.TerminalTable->step},
      {"SymbolTable", pc.SymbolTable->capacity, pc.SymbolTable->step},
      {"UpperTable", pc.UpperTable->capacity, pc.UpperTable->step},
      {"NetTable", pc.NetTable->capacity, pc.NetTable->step},
      {"InternalNet", pc.InternalNet->capacity, pc.InternalNet->step},
      {"ptlist", pc.ptlist->capacity, pc.ptlist->step},
      {"ptindex", pc.ptindex->capacity, pc.ptindex->step},
      {"From", pc.From->capacity, pc.From->step},
      {"phl", pc.phl->capacity, pc.phl->step},
      {"phli", pc.phli->capacity, pc.phli->step},
      {"pct", pc.pct->capacity, pc.pct->step},
      {"pcontext", pc.pcontext->capacity, pc.pcontext->step},
      {"pnn", pc.pnn->capacity, pc.pnn->step},
      {"nullTo", pc.nullTo->capacity, pc.nullTo->step},
      {"GDH_EntryTable", pc.GDH_EntryTable->capacity, pc.GDH_EntryTable->step},
      {"Rewrite", pc.Rewrite->rhb.capacity, pc.Rewrite->rhb.step},
  };
  int expected[][2] = {{8, 16}, {8, 16},    {8, 16},    {2, 4},     {2, 4},   {128, 128}, {256, 256}, {8, 24},
                       {256, 256}, {512, 512}, {512, 512}, {256, 256}, {1024, 1024}, {8, 16}, {8, 16}, {2, 4}};
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; i++) {
    EXPECT_EQ(cases[i].capacity, expected[i][0]) << cases[i].table;
    EXPECT_EQ(cases[i].step, expected[i][1]) << cases[i].table;
  }
  // Nested first slots: 2 rules of 2 alternatives of 2 terms; origins with
  // 2 prefixes of 2 arcs of 2 terminals and 2 groups of 2 terms and 2 entries.
  for (int r = 0; r < 2; r++)
    for (int a = 0; a < 2; a++) EXPECT_EQ(pc.Rewrite->rhb[r].rhs[a].term.capacity, 2);
  for (int o = 0; o < 8; o++) {
    const Origin &org = (*pc.From)[o];
    EXPECT_EQ(org.prefix[1].arc[1].terminal.capacity, 2);
    EXPECT_EQ(org.group[1].term.capacity, 2);
    EXPECT_EQ(org.group[1].tpa[1].arc.capacity, 2);
  }
  EXPECT_EQ(pc.NetTable->flags[1], '1');
  EXPECT_EQ(pc.SymbolTable->offsets[7], -1);
  EXPECT_EQ(pc.one, 1);
  EXPECT_EQ(pc.ContextObjectStructure->unpacked, 1);
  EXPECT_EQ(pc.ContextObjectStructure->ownsPacks, 0);
  EXPECT_EQ((int)pc.pht->buckets.size(), 257);
  EXPECT_EQ(pc.plht->bucketCount, 5);
  EXPECT_EQ(pc.pht->entry.size(), 1u);  // "[g]"
}

TEST_F(Net, growth_adds_the_step_and_gives_new_slots_their_sub_tables) {
  ASSERT_EQ(GDPC_AllocTerms(&pc), 0);
  EXPECT_EQ(pc.TerminalTable->capacity, 24);
  ASSERT_EQ(GDPC_AllocOriginArrays(&pc), 0);
  EXPECT_EQ(pc.From->capacity, 32);
  const Origin &o = (*pc.From)[31];
  EXPECT_EQ(o.prefix.capacity, 2);
  EXPECT_EQ(o.prefix[1].arc[1].terminal.capacity, 2);
  EXPECT_EQ(o.group[1].tpa[1].arc.capacity, 2);
  ASSERT_EQ(GDPC_AllocRewriteSides(&pc, pc.Rewrite), 0);
  EXPECT_EQ(pc.Rewrite->rhb.capacity, 6);
  EXPECT_EQ(pc.Rewrite->lhs.size(), 6u);
  EXPECT_EQ(pc.Rewrite->rhb[5].rhs[1].term.capacity, 2);
  ASSERT_EQ(GDPC_AllocNames(&pc), 0);
  EXPECT_EQ(pc.NetTable->capacity, 6);
  EXPECT_EQ(pc.InternalNet->entries.size(), 6u);
  EXPECT_EQ(pc.NetTable->flags[5], '1');
  EXPECT_EQ(pc.NetTable->offsets[5], -1);
  ASSERT_EQ(GDPC_AllocNullTos(&pc), 0);
  EXPECT_EQ(pc.nullTo->capacity, 24);
  EXPECT_EQ((*pc.nullTo)[23].foi.capacity, 2);
  EXPECT_EQ((*pc.nullTo)[23].foi.step, 4);
}

TEST_F(Net, growth_lines_name_the_routine_the_net_and_the_sizes) {
  pc.fPrintAllocs = 1;
  struct {
    int (*grow)(ParserControl *);
    const char *line;
  } cases[] = {
      {GDPC_AllocContextTerms, "GDPC_AllocContextTerms([g]): prevSize(512) CONTEXTTERM_TABLESIZE(512) size(1024)\n"},
      {GDPC_AllocContextEntries, "GDPC_AllocContextEntries([g]): prevSize(256) CONTEXT_TABLESIZE(256) size(512)\n"},
      {GDPC_AllocHierarchyLevels, "GDPC_AllocHierarchyLevels([g]): prevSize(256) HIERARCHY_TABLESIZE(256) size(512)\n"},
      {GDPC_AllocHierarchyLevelIndices,
       "GDPC_AllocHierarchyLevelIndices([g]): prevSize(512) HLINDEX_TABLESIZE(512) size(1024)\n"},
      {GDPC_AllocNextNetTableChars,
       "GDPC_AllocNextNetTableChars([g]): prevSize(1024) NEXTNET_TABLESIZE(1024) size(2048)\n"},
      {GDPC_AllocTerminalLists, "GDPC_AllocTerminalLists([g]): prevSize(128) TLIST_TABLESIZE(128) size(256)\n"},
      {GDPC_AllocTerminalIndicess, "GDPC_AllocTerminalIndicess([g]): prevSize(256) TINDEX_TABLESIZE(256) size(512)\n"},
  };
  for (auto &c : cases) {
    testing::internal::CaptureStdout();
    ASSERT_EQ(c.grow(&pc), 0) << pc.pres;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.line);
  }
  // Tables without a size constant grow silently.
  testing::internal::CaptureStdout();
  ASSERT_EQ(GDPC_AllocTerms(&pc), 0);
  ASSERT_EQ(GDPC_AllocOriginArrays(&pc), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

class InTempDir {
 public:
  InTempDir() {
    char tmpl[] = "/tmp/compile_testXXXXXX";
    dir_ = mkdtemp(tmpl);
    getcwd(old_, sizeof old_);
    chdir(dir_.c_str());
  }
  ~InTempDir() {
    chdir(old_);
    std::string cmd = "rm -rf " + dir_;
    system(cmd.c_str());
  }

 private:
  std::string dir_;
  char old_[4096];
};

TEST_F(Net, logged_growth_appends_one_line_per_growth) {
  InTempDir tmp;
  pc.fLogAllocs = 1;
  ASSERT_EQ(GDPC_AllocHierarchyLevels(&pc), 0);
  ASSERT_EQ(GDPC_AllocHierarchyLevels(&pc), 0);
  ASSERT_EQ(GDPC_AllocSymbols(&pc), 0);
  std::ifstream in("allocLog.txt");
  std::stringstream ss;
  ss << in.rdbuf();
  EXPECT_EQ(ss.str(),
            "GDPC_AllocHierarchyLevels([g]): prevSize(256) HIERARCHY_TABLESIZE(256) size(512)\n"
            "GDPC_AllocHierarchyLevels([g]): prevSize(512) HIERARCHY_TABLESIZE(256) size(768)\n");
}

// A log that cannot be opened is warned about; the table has grown and the
// compile goes on.
TEST_F(Net, an_unwritable_growth_log_does_not_fail_the_growth) {
  InTempDir tmp;
  mkdir("allocLog.txt", 0700);
  pc.fLogAllocs = 1;
  testing::internal::CaptureStderr();
  EXPECT_EQ(GDPC_AllocContextTerms(&pc), 0);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Error: fopen failure for allocLog.txt in GDPC_AllocContextTerms: file("), std::string::npos)
      << err;
  EXPECT_EQ(pc.pct->capacity, 1024);
  EXPECT_EQ(pc.pres, "");
}

std::string gDots;
void CollectDots(void *, const char *text) { gDots += text; }

TEST(Dots, a_line_holds_sixteen_dots) {
  gDots.clear();
  GDPC_SetDotWriter(CollectDots);
  GDPC_SetDots(true);
  ParserControl pc;
  for (int i = 0; i < 17; i++) GDPC_Dot(&pc);
  GDPC_SetDots(false);
  GDPC_Dot(&pc);
  GDPC_SetDotWriter(nullptr);
  EXPECT_EQ(gDots, std::string(16, '.') + "\r\t\t\t\t\t\t\t\t\t\t\r.");
}

TEST(Dots, making_a_record_writes_thirteen_and_turns_its_switch_on) {
  gDots.clear();
  GDPC_SetDotWriter(CollectDots);
  GDPC_SetDots(false);
  ParserControl pc;
  pc.fDots = 1;
  pc.fPrintAllocs = 1;  // a fresh record starts from nothing
  ASSERT_EQ(GDPC_Init(&pc), 0);
  GDPC_SetDots(false);
  GDPC_SetDotWriter(nullptr);
  EXPECT_EQ(gDots, std::string(13, '.'));
  EXPECT_EQ(pc.fDots, 1);
  EXPECT_EQ(pc.fPrintAllocs, 0);
  GDPC_Free(&pc);
}

TEST(Init, a_prepared_record_keeps_its_links_and_gets_empty_hash_tables) {
  ParserControl top, pc;
  GDH_HashTable pnht;
  pc.pht = PreparedMark<GDPC_HashTable>();
  pc.pulht = PreparedMark<UL_HashTable>();
  pc.plht = PreparedMark<GDH_HashTable>();
  pc.inputBuf = "INIT";
  pc.ptlpc = &top;
  pc.pParent = &top;
  pc.pnht = &pnht;
  pc.depth = 2;
  pc.pszNextNet = "[next]";
  pc.pszContainerPath = "/c";
  top.fLogAllocs = 1;
  ASSERT_EQ(GDPC_Init(&pc), 0);
  EXPECT_FALSE(IsPreparedMark(pc.pht));
  ASSERT_NE(pc.pht, nullptr);
  EXPECT_TRUE(pc.pht->buckets.empty());
  EXPECT_EQ(pc.plht->buckets, nullptr);
  EXPECT_EQ(pc.ptlpc, &top);
  EXPECT_EQ(pc.pParent, &top);
  EXPECT_EQ(pc.pnht, &pnht);
  EXPECT_EQ(pc.depth, 2);
  EXPECT_EQ(pc.pszNextNet, "[next]");
  EXPECT_EQ(pc.pszContainerPath, "/c");
  EXPECT_EQ(pc.inputBuf, "INIT");
  EXPECT_EQ(pc.fLogAllocs, 1);  // from the top-level record
  GDPC_Free(&pc);
  EXPECT_EQ(pc.From, nullptr);
}

TEST(Init, a_null_record_is_refused) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(GDPC_Init(nullptr), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "GDPC_Init: arg must be address of allocated ParserControl's memory.\n");
}

TEST_F(Net, dropping_the_compile_time_members_keeps_the_run_time_ones) {
  pc.inputBuf = "[g]\n(hello)\n";
  ASSERT_EQ(From("0:0", 3, "0", 1, 0), 0);
  GDPC_FreeNonRTNMembers(&pc);
  EXPECT_EQ(pc.nonTerm, nullptr);
  EXPECT_EQ(pc.nullTo, nullptr);
  EXPECT_EQ(pc.p, nullptr);
  EXPECT_EQ(pc.cNonTerm, nullptr);
  EXPECT_EQ(pc.inputBuf, "");
  EXPECT_EQ(pc.From->count, 1);
  EXPECT_EQ(Arcs(0), "0:0>0:1[3]\n");
  EXPECT_NE(pc.pcontext, nullptr);
  EXPECT_EQ(pc.NetTable->strings[0], "[g]");
  EXPECT_TRUE(Plht("[g]"));
}

// ---------------------------------------------------------------------------
// Origin tables

TEST_F(Net, an_arc_terminal_recorded_twice_changes_nothing_the_second_time) {
  ASSERT_EQ(From("0:0", 4, "0", 2, 7), 0);
  ASSERT_EQ(From("0:0", 5, "0", 2, 7), 0);
  size_t keys = pc.plht->entryCount, symbols = pc.SymbolTable->count;
  ASSERT_EQ(From("0:0", 4, "0", 2, 7), 0);
  EXPECT_EQ(pc.plht->entryCount, (int)keys);
  EXPECT_EQ(pc.SymbolTable->count, (int)symbols);
  EXPECT_EQ(pc.From->count, 1);
  EXPECT_EQ(Arcs(0), "0:0>0:2[4,5]\n");
  const ContextGroup &g = (*pc.From)[0].group[0];
  EXPECT_EQ((*pc.From)[0].group.count, 1);
  EXPECT_EQ(g.groupNumber, 7);
  EXPECT_EQ(g.term.count, 2);
  EXPECT_EQ(g.tpa.count, 1);
  EXPECT_EQ(g.tpa[0].prefix, 0);
  EXPECT_EQ(g.tpa[0].arc.count, 1);
  EXPECT_EQ(PlhtValue("0 7 0 OCP"), 0);
  EXPECT_TRUE(Plht("7 0:0 0:0 0 2 FOPA"));
  EXPECT_EQ((*pc.From)[0].depth, 0);
  EXPECT_EQ((*pc.From)[0].fActive, 1);
}

TEST_F(Net, an_origin_wanted_before_it_existed_is_activated_when_made) {
  ASSERT_EQ(From("0:0", 4, "0", 5, 0), 0);
  EXPECT_TRUE(Plht("AFO 0:5 0"));
  EXPECT_EQ(OriginOf("0:5"), -1);
  int32_t foi = -1;
  bool isNew = false;
  ASSERT_EQ(GDPC_MakeOrigin(&pc, "0:5", &foi, &isNew), 0);
  EXPECT_TRUE(isNew);
  EXPECT_EQ((*pc.From)[foi].fActive, 0);
  ASSERT_EQ(From("0:5", 6, "0", 1, 0), 0);
  EXPECT_EQ((*pc.From)[foi].fActive, 1);
  EXPECT_TRUE(Plht("AFO 0:5 1"));
  // An arc that ends the net activates nothing.
  EXPECT_FALSE(Plht("AFO 0:1 0"));
  EXPECT_FALSE(Plht("AFO 0:1 1"));
  // An arc into an existing origin activates it at once.
  ASSERT_EQ(GDPC_MakeOrigin(&pc, "2:3_1:4", &foi, &isNew), 0);
  EXPECT_EQ((*pc.From)[foi].depth, 1);
  ASSERT_EQ(From("0:0", 4, "2:3_1", 4, 0), 0);
  EXPECT_EQ((*pc.From)[foi].fActive, 1);
  EXPECT_TRUE(Plht("AFO 2:3_1:4 1"));
}

TEST_F(Net, further_context_terms_of_the_work_record_join_the_arc_and_the_group) {
  int a = -1, b = -1, c = -1;
  for (int *slot : {&a, &b, &c}) {
    *slot = pc.pct->count++;
    (*pc.pct)[*slot].next = -1;
  }
  (*pc.pct)[a].terminal = 10;
  (*pc.pct)[a].next = b;
  (*pc.pct)[b].terminal = 11;
  (*pc.pct)[b].next = c;
  (*pc.pct)[c].terminal = 12;
  pc.p->firstTerm = a;
  pc.p->lastTerm = c;
  pc.p->contextTermCount = 3;
  ASSERT_EQ(From("0:0", 10, "0", 3, 2), 0);
  EXPECT_EQ(Arcs(0), "0:0>0:3[10,11,12]\n");
  EXPECT_EQ((*pc.From)[0].group[0].term.count, 3);
  // Without context terms the chain is not read.
  ASSERT_EQ(From("0:0", 20, "0", 4, 2, 0), 0);
  EXPECT_EQ(Arcs(0), "0:0>0:3[10,11,12]\n0:0>0:4[20]\n");
}

// A terminal entered under a group that does not list it (a context shared
// with another alternative) is offered in a group of the arc's own, on that
// arc only: the group's other arcs do not take it.
TEST_F(Net, a_terminal_missing_from_its_group_is_offered_alone) {
  ASSERT_EQ(From("0:0", 10, "0", 3, 2), 0);     // opens group 2 with term 10
  ASSERT_EQ(From("0:0", 10, "0", 1, 2, 0), 0);  // term 10 again: group 2 offers it
  EXPECT_EQ((*pc.From)[0].group.count, 1);
  int next = pc.group;
  ASSERT_EQ(From("0:0", 11, "0", 1, 2, 0), 0);  // 11 joins the shared context
  EXPECT_EQ(Arcs(0), "0:0>0:3[10]\n0:0>0:1[10,11]\n");
  ASSERT_EQ((*pc.From)[0].group.count, 2);
  EXPECT_EQ((*pc.From)[0].group[0].term.count, 1);  // 11 is not offered toward 0:3
  EXPECT_EQ(PlhtValue("SG 2 0:0 0:0 0 1 FOPA"), next);
  EXPECT_EQ(pc.group, next + 1);
  // A second such terminal of the arc joins the arc's group.
  ASSERT_EQ(From("0:0", 12, "0", 1, 2, 0), 0);
  {
    const ContextGroup &alone = (*pc.From)[0].group[1];
    EXPECT_EQ(alone.groupNumber, next);
    ASSERT_EQ(alone.term.count, 2);
    EXPECT_EQ(alone.term[0], 11);
    EXPECT_EQ(alone.term[1], 12);
    ASSERT_EQ(alone.tpa.count, 1);
    ASSERT_EQ(alone.tpa[0].arc.count, 1);
    EXPECT_EQ(alone.tpa[0].arc[0], 1);
  }
  // Another arc gets a group of its own.
  ASSERT_EQ(From("0:0", 11, "0", 5, 2, 0), 0);
  ASSERT_EQ((*pc.From)[0].group.count, 3);
  EXPECT_EQ((*pc.From)[0].group[2].groupNumber, next + 1);
  EXPECT_EQ((*pc.From)[0].group[2].term.count, 1);
  EXPECT_EQ((*pc.From)[0].group[2].tpa[0].arc.count, 1);
  EXPECT_EQ((*pc.From)[0].group[2].tpa[0].arc[0], 2);
}

// A source that has the destination's group already gets every term of it
// on the arcs it receives, not only the first.
TEST_F(Net, back_tracing_into_a_group_the_source_has_keeps_every_term) {
  int a = pc.pct->count++, b = pc.pct->count++;
  (*pc.pct)[a].terminal = 10;
  (*pc.pct)[a].next = b;
  (*pc.pct)[b].terminal = 11;
  (*pc.pct)[b].next = -1;
  pc.p->firstTerm = a;
  pc.p->lastTerm = b;
  pc.p->contextTermCount = 2;
  ASSERT_EQ(From("0:2", 10, "0", 5, 3), 0);  // group 3 offers 10 and 11 toward 0:5
  pc.p->contextTermCount = 0;
  pc.pct->count = 0;
  ASSERT_EQ(From("0:1", 10, "0", 6, 3), 0);  // the source's group 3 has 10 only
  ASSERT_EQ(GDPC_UpdateNullToTable(&pc, "0:1", 1, "0", 0, 2), 0);
  ASSERT_EQ(GDPC_BackProcessNulls(&pc), 0) << pc.pres;
  int s = OriginOf("0:1");
  EXPECT_EQ(Arcs(s), "0:1>0:6[10]\n0:2>0:5[10,11]\n");
  const Origin &o = (*pc.From)[s];
  ASSERT_EQ(o.group.count, 2);
  EXPECT_EQ(o.group[0].groupNumber, 3);
  EXPECT_EQ(o.group[0].term.count, 1);  // 11 is not offered toward 0:6
  ASSERT_EQ(o.group[1].term.count, 1);
  EXPECT_EQ(o.group[1].term[0], 11);
  ASSERT_EQ(o.group[1].tpa.count, 1);
  EXPECT_EQ(Sym(o.prefix[o.group[1].tpa[0].prefix].symbol), "0:2");
  EXPECT_EQ(pc.pct->count, 0);
}

TEST_F(Net, prefix_entry_indices_beyond_sixteen_bits_fail) {
  ASSERT_EQ(From("0:0", 1, "0", 2, 0), 0);
  // The group already holds 65536 prefix entries: the next one is refused.
  ContextGroup &g = (*pc.From)[0].group[0];
  g.tpa.table.resize(65536);
  g.tpa.count = g.tpa.capacity = 65536;
  EXPECT_EQ(From("0:0", 1, "0", 2, 0, 1, "0:0b"), 1);
  EXPECT_NE(pc.pres.find("Error: \"fonti\" exceeds hValue limit of 65535 in GDPC_UpdateFromTable: "
                         "file(grammarDefinitionParserControl) line("),
            std::string::npos)
      << pc.pres;
}

TEST_F(Net, counts_kept_in_sixteen_bits_fail_instead_of_wrapping) {
  ASSERT_EQ(From("0:0", 1, "0", 2, 0), 0);
  Origin &o = (*pc.From)[0];
  o.prefix.table.resize(65535);
  o.prefix.count = o.prefix.capacity = 65535;
  EXPECT_EQ(From("0:0", 1, "0", 2, 0, 1, "other"), 1);
  EXPECT_NE(pc.pres.find("Error: \"prefixes\" exceeds count limit of 65535 in GDPC_UpdateFromTable: "),
            std::string::npos)
      << pc.pres;
}

// ---------------------------------------------------------------------------
// Null transitions

TEST_F(Net, null_transitions_share_their_destination_entry) {
  ASSERT_EQ(GDPC_UpdateNullToTable(&pc, "0:2", 2, "0", 0, 5), 0);
  ASSERT_EQ(GDPC_UpdateNullToTable(&pc, "0:2", 2, "0", 0, 5), 0);  // known
  ASSERT_EQ(pc.nullTo->count, 1);
  EXPECT_EQ((*pc.nullTo)[0].foi.count, 1);
  ASSERT_EQ(GDPC_UpdateNullToTable(&pc, "0:3", 3, "0", 0, 5), 0);
  EXPECT_EQ((*pc.nullTo)[0].foi.capacity, 2);
  ASSERT_EQ(GDPC_UpdateNullToTable(&pc, "0:4", 4, "0", 0, 5), 0);
  const NullToDestination &d = (*pc.nullTo)[0];
  EXPECT_EQ(d.foi.count, 3);
  EXPECT_EQ(d.foi.capacity, 6);
  EXPECT_EQ(Sym(d.destination), "0:5");
  EXPECT_EQ(d.foi[0], OriginOf("0:2"));
  EXPECT_EQ(d.foi[1], OriginOf("0:3"));
  EXPECT_EQ(d.foi[2], OriginOf("0:4"));
  for (const char *name : {"0:2", "0:3", "0:4", "0:5"}) {
    ASSERT_GE(OriginOf(name), 0) << name;
    EXPECT_EQ((*pc.From)[OriginOf(name)].fActive, 1) << name;
    EXPECT_EQ(Sym((*pc.From)[OriginOf(name)].symbol), name);
  }
  EXPECT_EQ(PlhtValue("0:5 NTD"), 0);
  EXPECT_TRUE(Plht("0 5 0:4 NTDF"));
}

TEST_F(Net, a_chain_of_null_transitions_passes_arcs_back_to_the_first_source) {
  ASSERT_EQ(From("0:3", 7, "0", 1, 4), 0);
  ASSERT_EQ(GDPC_UpdateNullToTable(&pc, "0:2", 2, "0", 0, 3), 0);
  ASSERT_EQ(GDPC_UpdateNullToTable(&pc, "0:1", 1, "0", 0, 2), 0);
  ASSERT_EQ(GDPC_BackProcessNulls(&pc), 0) << pc.pres;
  EXPECT_EQ(Arcs(OriginOf("0:2")), "0:3>0:1[7]\n");
  EXPECT_EQ(Arcs(OriginOf("0:1")), "0:3>0:1[7]\n");
  const Origin &s1 = (*pc.From)[OriginOf("0:1")];
  ASSERT_EQ(s1.group.count, 1);
  EXPECT_EQ(s1.group[0].groupNumber, 4);
  EXPECT_EQ(s1.group[0].term.count, 1);
  EXPECT_EQ(pc.pct->count, 0);  // the temporary terms are given back
}

TEST_F(Net, a_cycle_of_null_transitions_ends) {
  ASSERT_EQ(From("0:3", 7, "0", 1, 4), 0);
  ASSERT_EQ(GDPC_UpdateNullToTable(&pc, "0:2", 2, "0", 0, 3), 0);
  ASSERT_EQ(GDPC_UpdateNullToTable(&pc, "0:3", 3, "0", 0, 2), 0);
  ASSERT_EQ(GDPC_BackProcessNulls(&pc), 0) << pc.pres;
  EXPECT_EQ(Arcs(OriginOf("0:2")), "0:3>0:1[7]\n");
}

TEST_F(Net, back_tracing_a_destination_without_origin) {
  // Into a net's final state: nothing to pass on.
  ASSERT_EQ(GDPC_UpdateNullToTable(&pc, "0:2", 2, "0", 0, 1), 0);
  // The destination's origin exists (made by the transition); remove its
  // key to stand for a state that never got one.
  EXPECT_EQ(GDPC_BackProcessNulls(&pc), 0) << pc.pres;
  ParserControl other;
  ASSERT_EQ(GDPC_Init(&other), 0);
  ASSERT_EQ(GDPC_UpdateNullToTable(&other, "0:2", 2, "0", 0, 9), 0);
  // Rename the destination's symbol so that its origin key is not found.
  other.SymbolTable->strings[(*other.nullTo)[0].destination] = "0:8";
  EXPECT_EQ(GDPC_BackProcessNulls(&other), 1);
  EXPECT_EQ(other.pres.rfind("GDPC_FindHashEntry failure for 0:8 FO in GDPC_BackTraceNulls: file(", 0), 0u)
      << other.pres;
  EXPECT_NE(other.pres.find("GDPC_BackTraceNulls failure in GDPC_BackProcessNulls: file("), std::string::npos);
  other.SymbolTable->strings[(*other.nullTo)[0].destination] = "0:1";
  other.pres.clear();
  EXPECT_EQ(GDPC_BackProcessNulls(&other), 0) << other.pres;
  GDPC_Free(&other);
}

// ---------------------------------------------------------------------------
// Terminal arcs

TEST_F(Net, a_terminal_of_two_alternatives_is_registered_once) {
  SetRule(0, {{Word("hello", 0, 1, 3, 3)}, {Word("hello", 0, 1, 3, 3)}});
  ASSERT_EQ(Arc(0, 0, 0), 0) << pc.pres;
  ASSERT_EQ(Arc(0, 1, 0), 0) << pc.pres;
  EXPECT_EQ(pc.TerminalTable->count, 1);
  EXPECT_EQ(pc.TerminalTable->strings[0], "hello");
  EXPECT_EQ(std::string(GDPC_KeyText(&pc, pc.TerminalTable->offsets[0])), "hello");
  EXPECT_EQ(PlhtValue("hello"), 0);
  EXPECT_EQ(pc.pht->entry[Pht("hello")].value, 0);
  EXPECT_EQ(Arcs(OriginOf("0:0")), "0:0>0:1[0]\n");
}

TEST_F(Net, tape_strings_list_their_terminals_in_order) {
  SetRule(0, {{Word("big:large", 0, 1)}, {Word("big:huge", 0, 1)}, {Word("small", 0, 1)}});
  for (int a = 0; a < 3; a++) ASSERT_EQ(Arc(0, a, 0), 0) << pc.pres;
  ASSERT_EQ(pc.UpperTable->count, 1);
  EXPECT_EQ(pc.UpperTable->strings[0], "big");
  EXPECT_EQ(std::string(GDPC_KeyText(&pc, pc.UpperTable->offsets[0])), "big");
  const TerminalList &l = (*pc.ptlist)[pc.UpperTable->tlist[0]];
  EXPECT_EQ(l.count, 2);
  EXPECT_EQ((*pc.ptindex)[l.first].terminal, 0);
  EXPECT_EQ((*pc.ptindex)[(*pc.ptindex)[l.first].next].terminal, 1);
  EXPECT_EQ((*pc.ptindex)[l.last].next, -1);
  ASSERT_EQ(pc.LowerTable->count, 2);
  EXPECT_EQ(pc.LowerTable->strings[1], "huge");
  EXPECT_GE(Pht("U big"), 0);
  EXPECT_EQ(Pht("U small"), -1);
  EXPECT_EQ(Pht("L small"), -1);
}

TEST_F(Net, a_term_without_name_is_a_null_transition) {
  SetRule(0, {{Word(nullptr, 0, 2), Word("b", 2, 1)}}, 1);
  ASSERT_EQ(Arc(0, 0, 0), 0) << pc.pres;
  EXPECT_EQ(pc.nullTo->count, 1);
  EXPECT_EQ(Sym((*pc.nullTo)[0].destination), "0:2");
  EXPECT_EQ(pc.TerminalTable->count, 0);
  EXPECT_FALSE(Plht("P0"));
  EXPECT_EQ(pc.pcontext->count, 1);
  EXPECT_EQ((*pc.pct)[(*pc.pcontext)[0].firstTerm].terminal, -1);
  EXPECT_EQ((*pc.pct)[(*pc.pcontext)[0].firstTerm].text, "");
}

TEST_F(Net, prefix_and_suffix_keys_of_an_alternative) {
  TermSpec loop = Word("a", 2, 2);
  loop.plus = 1;
  TermSpec end = Word("c", 3, 1);
  end.plus = 1;
  end.star = 2;
  SetRule(0, {{Word("x", 0, 2), loop, Word("b", 2, 3), end}}, 1);
  for (int k = 0; k < 4; k++) ASSERT_EQ(Arc(0, 0, k), 0) << pc.pres;
  // x=0 a=1 b=2 c=3 in plht; the '+' loop a makes no key of its own.
  EXPECT_TRUE(Plht("P0_10.0.0.0"));
  EXPECT_FALSE(Plht("P0_10.0.0.0_10.1.0.1"));
  EXPECT_TRUE(Plht("P0_10.0.0.0_10.1.0.1_10.0.0.2"));
  EXPECT_TRUE(Plht("P0_10.0.0.0_10.1.0.1_10.0.0.2_10.1.2.3"));
  EXPECT_TRUE(Plht("S0_10.1.2.3"));
  EXPECT_TRUE(Plht("S0_10.1.0.3"));  // the '*' mark cleared
  EXPECT_TRUE(Plht("S0_10.0.0.2_10.1.2.3"));
  EXPECT_TRUE(Plht("S0_10.1.0.1_10.0.0.2_10.1.2.3"));
  EXPECT_FALSE(Plht("S0_10.0.0.0_10.1.0.1_10.0.0.2_10.1.2.3"));
  EXPECT_EQ(PlhtValue("S0_10.1.2.3"), 0);
  // Without the rule's flag no keys are made.
  SetRule(1, {{Word("y", 0, 4)}}, 0);
  ASSERT_EQ(Arc(1, 0, 0), 0);
  EXPECT_FALSE(Plht("P1_10.0.0.4"));
}

TEST_F(Net, next_net_texts_and_the_entry_into_a_next_net) {
  SetRule(0, {{Word("fly", 0, 2), Word("to", 2, 3), Word("end", 3, 1)}});
  ASSERT_EQ(Arc(0, 0, 0, "_"), 0) << pc.pres;
  EXPECT_EQ(PlhtValue("_ NN"), 0);
  EXPECT_EQ(pc.nullTo->count, 0);
  // "[city]" is net 1 of this record.
  bool isNew = false;
  GDH_CreateHashEntry(*pc.plht, "{[city]}", &isNew)->value = 1;
  ASSERT_EQ(Arc(0, 0, 1, "[city]"), 0) << pc.pres;
  EXPECT_EQ(PlhtValue("[city] NN"), 2);
  EXPECT_EQ(std::string(&(*pc.pnn)[2]), "[city]");
  EXPECT_EQ(pc.pnn->count, 9);
  ASSERT_EQ(pc.nullTo->count, 1);
  EXPECT_EQ(Sym((*pc.nullTo)[0].destination), "0:3_1:0");
  EXPECT_EQ((*pc.nullTo)[0].foi[0], OriginOf("0:3"));
  EXPECT_EQ((*pc.From)[OriginOf("0:3_1:0")].depth, 1);
  // The last term of an alternative, or an arc into state 1, enters nothing.
  ASSERT_EQ(Arc(0, 0, 2, "[city]"), 0) << pc.pres;
  EXPECT_EQ(pc.nullTo->count, 1);
  EXPECT_EQ(PlhtValue("[city] NN"), 2);
}

TEST_F(Net, a_long_next_net_name_grows_its_table_until_it_fits) {
  SetRule(0, {{Word("a", 0, 1)}});
  std::string name = "[" + std::string(3000, 'n') + "]";
  ASSERT_EQ(Arc(0, 0, 0, name.c_str()), 0) << pc.pres;
  EXPECT_EQ(pc.pnn->capacity, 3072);
  EXPECT_EQ(std::string(&(*pc.pnn)[0]), name);
}

TEST_F(Net, arcs_of_one_context_share_its_entry) {
  // Two alternatives of one rule, each of one terminal from state 0 to 1:
  // same next net, length and level: one context with two terms.
  SetRule(0, {{Word("yes", 0, 1, 3, 3)}, {Word("yeah", 0, 1, 3, 3)}});
  ASSERT_EQ(Arc(0, 0, 0), 0) << pc.pres;
  int levelIndices = pc.phli->count;
  ASSERT_EQ(Arc(0, 1, 0), 0) << pc.pres;
  ASSERT_EQ(pc.pcontext->count, 1);
  EXPECT_EQ(pc.phli->count, levelIndices);  // given back
  const ContextEntry &c = (*pc.pcontext)[0];
  EXPECT_EQ(c.contextTermCount, 2);
  EXPECT_EQ((*pc.pct)[c.firstTerm].text, "yes");
  EXPECT_EQ((*pc.pct)[c.lastTerm].text, "yeah");
  EXPECT_EQ((*pc.pct)[c.lastTerm].rhsi, 1);
  EXPECT_EQ((*pc.pct)[c.firstTerm].next, c.lastTerm);
  EXPECT_EQ(c.mode, MODE_RULES);
  EXPECT_EQ(c.withinPatternTermCount, 1);
  EXPECT_EQ(c.hCount, 2);
  EXPECT_EQ(c.foi, OriginOf("0:0"));
  // The same arc again adds no term.
  ASSERT_EQ(Arc(0, 1, 0), 0);
  EXPECT_EQ((*pc.pcontext)[0].contextTermCount, 2);
  // Levels: the term's own and the net's, the latter never in the key.
  EXPECT_TRUE(Plht("0.0.0.0.0.1.3.3"));
  EXPECT_TRUE(Plht("0.-1.-1.-1.0.1.3.3"));
  EXPECT_TRUE(Plht("0.1 0 2 0.0.0.0.1.3.3. 1"));
  EXPECT_EQ(pc.phl->count, 3);  // 0.0.0, 0.1.0 and the net's level
}

TEST_F(Net, groups_number_their_first_context_and_share_the_number) {
  pc.cNonTerm->end = 1;
  // A rule of two alternatives (a b) and (c b) from 0 to 1 over state 2.
  SetRule(0, {{Word("a", 0, 2, 1, 1), Word("b", 2, 1, 2, 2)}, {Word("c", 0, 2, 1, 1), Word("b", 2, 1, 2, 2)}});
  ParserControl top;
  top.group = 40;
  pc.ptlpc = &top;
  ASSERT_EQ(Arc(0, 0, 0), 0) << pc.pres;
  ASSERT_EQ(Arc(0, 0, 1), 0) << pc.pres;
  ASSERT_EQ(Arc(0, 1, 0), 0) << pc.pres;
  pc.ptlpc = nullptr;
  EXPECT_EQ(top.group, 42);
  ASSERT_EQ(pc.pcontext->count, 2);
  // (a) and (c) share one context and one group: "a" opened it.
  const ContextEntry &first = (*pc.pcontext)[0];
  EXPECT_EQ(first.groupNumber, 40);
  EXPECT_EQ(first.fInitialGroupInstance, 1);
  EXPECT_EQ(first.contextTermCount, 2);
  EXPECT_EQ((*pc.pcontext)[1].groupNumber, 41);
  EXPECT_TRUE(Plht("GC 0 G 0 0 2"));
  EXPECT_TRUE(Plht("a 0 GC 0 G 0 0 2"));
  EXPECT_FALSE(Plht("c 0 GC 0 G 0 0 2"));  // a shared context joins no group again
  EXPECT_EQ(PlhtValue("GC 0 G 0 0 2"), 0);
  EXPECT_EQ(PlhtValue("GC 0 G 1 2 1"), 1);
  EXPECT_EQ(pc.GDH_EntryTable->count, 2);
  // The origin's group lists the terminals of its first instance.
  const Origin &o = (*pc.From)[OriginOf("0:0")];
  ASSERT_EQ(o.group.count, 1);
  EXPECT_EQ(o.group[0].groupNumber, 40);
  EXPECT_EQ(Arcs(OriginOf("0:0")), "0:0>0:2[0,2]\n");
}

TEST_F(Net, a_rule_referenced_from_the_header_has_a_chain_of_three_levels) {
  // Rule 0's term 0 references rule 1 (states 0 to 1); rule 1's term runs
  // 0 to 1 with its parent (0, 0, 0).
  SetRule(0, {{TermSpec{"A", TK_RULE, 0, 1}}});
  TermSpec inner = Word("w", 0, 1, 3, 3);
  inner.rhbi = 0;
  inner.rhsi = 0;
  inner.rti = 0;
  SetRule(1, {{inner}});
  int L0 = -1, Lend = -1, n = 0;
  ASSERT_EQ(GDPC_MakeLevelChain(&pc, pc.Rewrite, 1, 0, 0, &L0, &Lend, &n), 0) << pc.pres;
  EXPECT_EQ(n, 3);
  const HierarchyLevelIndex &a = (*pc.phli)[L0];
  EXPECT_EQ(a.previous, -1);
  const HierarchyLevelIndex &b = (*pc.phli)[a.next];
  EXPECT_EQ(b.previous, L0);
  EXPECT_EQ(b.next, Lend);
  EXPECT_EQ((*pc.phli)[Lend].next, -1);
  EXPECT_EQ((*pc.phl)[a.level].rhbi, 1);
  EXPECT_EQ((*pc.phl)[b.level].rhbi, 0);
  EXPECT_EQ((*pc.phl)[(*pc.phli)[Lend].level].rhbi, -1);
  // A level met again is not duplicated.
  int levels = pc.phl->count;
  ASSERT_EQ(GDPC_MakeLevelChain(&pc, pc.Rewrite, 1, 0, 0, &L0, &Lend, &n), 0);
  EXPECT_EQ(pc.phl->count, levels);
  EXPECT_EQ(pc.phli->count, 6);
}

TEST_F(Net, failure_texts_name_the_key_and_end_in_the_trailer) {
  SetRule(0, {{Word("a", 0, 1)}});
  pc.Rewrite->netName = "[nowhere]";
  EXPECT_EQ(Arc(0, 0, 0), 1);
  EXPECT_EQ(pc.pres.rfind("GDH_FindHashEntry failure for [nowhere]: file(grammarDefinitionParserControl) line(", 0),
            0u)
      << pc.pres;
  EXPECT_EQ(pc.pres.back(), '\n');
}

// ---------------------------------------------------------------------------
// Arcs of a referenced net, as the non-terminal pass hands them over

// This net "[g]" (net 0) references net 1 with its term 0 of rule 0; the
// referenced net's rule 0 is the single terminal "hi" from 0 to 1. The work
// record describes that terminal seen from here: levels hi -> the reference
// -> the net, origin name "0:0_1:0".
class Import : public Net {
 protected:
  Rewrite sub;
  int i0 = -1, i1 = -1, i2 = -1;

  void Build(int refFrom, int refTo, int refCorner) {
    SetRule(0, {{TermSpec{"[sub]", TK_NET, refFrom, refTo}, Word("end", refTo, 1)}});
    ASSERT_EQ(GDPC_AppendString(&pc, pc.NetTable, "[sub]", -1), 1);
    pc.NetTable->flags[0] = 0;
    sub.netName = "[g]";
    sub.rhb.table.resize(1);
    sub.rhb.count = sub.rhb.capacity = 1;
    sub.rhb[0].rhs.table.resize(1);
    sub.rhb[0].rhs.count = 1;
    RhsTerm hi;
    hi.name = "hi";
    hi.kind = TK_TERMINAL;
    hi.from = 0;
    hi.to = 1;
    hi.cornerStatus = hi.patternCornerStatus = 3;
    sub.rhb[0].rhs[0].term.table.push_back(hi);
    sub.rhb[0].rhs[0].term.count = 1;

    HierarchyLevel levels[3] = {{1, 0, 0, 0, 0, 1, 3, 3},
                                {0, 0, 0, 0, refFrom, refTo, refCorner, refCorner},
                                {0, -1, -1, -1, 0, 1, 3, 3}};
    int idx[3];
    for (int k = 0; k < 3; k++) {
      int h = pc.phl->count++;
      (*pc.phl)[h] = levels[k];
      idx[k] = pc.phli->count++;
      (*pc.phli)[idx[k]] = HierarchyLevelIndex{h, -1, k ? idx[k - 1] : -1};
      if (k) (*pc.phli)[idx[k - 1]].next = idx[k];
    }
    i0 = idx[0], i1 = idx[1], i2 = idx[2];

    int32_t foi = 0;
    ASSERT_EQ(GDPC_MakeOrigin(&pc, "0:0_1:0", &foi, nullptr), 0);
    int ct = pc.pct->count++;
    (*pc.pct)[ct] = ContextTerm{"hi", -1, 0, -1};
    WorkRecord &w = *pc.p;
    w.text = "hi";
    w.symbol = pc.pht->entry[Pht("0:0_1:0")].key;
    w.foi = foi;
    w.depth = 1;
    w.groupNumber = 5;
    w.fInitialGroupInstance = 1;
    w.rewrite[0] = &sub;
    w.rewrite[1] = w.rewrite[2] = pc.Rewrite;
    w.firstLevel = i0;
    w.endLevel = i2;
    w.hCount = 3;
    w.firstTerm = w.lastTerm = ct;
    w.contextTermCount = 1;
  }

  int ImportArc(int selfLoop = 0) {
    return GDPC_AddTerminalArc(&pc, 0, 0, 0, &sub, MODE_NONTERMS, 3, 3, "_", selfLoop, 1, 0, 0, 0, 0, 0);
  }
};

TEST_F(Import, an_initial_and_final_terminal_of_a_referenced_net) {
  Build(0, 2, CORNER_INITIAL);
  ASSERT_EQ(ImportArc(), 0) << pc.pres;
  // Leaving the referenced net at its end leads to the reference's to-state.
  EXPECT_EQ(Arcs(OriginOf("0:0_1:0")), "0:0_1:0>0:2[0]\n");
  EXPECT_EQ(pc.TerminalTable->strings[0], "hi");
  EXPECT_EQ((*pc.pct)[pc.p->firstTerm].terminal, 0);
  // The net entered was marked, its instance's origin is known.
  EXPECT_EQ(pc.NetTable->flags[1], 3);
  // Its start is reached from the enclosing state by a null transition.
  ASSERT_EQ(pc.nullTo->count, 1);
  EXPECT_EQ(Sym((*pc.nullTo)[0].destination), "0:0_1:0");
  EXPECT_EQ((*pc.nullTo)[0].foi[0], OriginOf("0:0"));
  // The context entry is the work record's.
  ASSERT_EQ(pc.pcontext->count, 1);
  const ContextEntry &c = (*pc.pcontext)[0];
  EXPECT_EQ(c.mode, MODE_NONTERMS);
  EXPECT_EQ(c.depth, 1);
  EXPECT_EQ(c.hCount, 3);
  EXPECT_EQ(c.groupNumber, 5);
  EXPECT_EQ(c.firstLevel, i0);
  EXPECT_EQ(c.endLevel, i2);
  EXPECT_EQ((*pc.From)[OriginOf("0:0_1:0")].group[0].groupNumber, 5);
  // Back-tracing gives the enclosing state the arc into the net.
  ASSERT_EQ(GDPC_BackProcessNulls(&pc), 0) << pc.pres;
  EXPECT_EQ(Arcs(OriginOf("0:0")), "0:0_1:0>0:2[0]\n");
}

TEST_F(Import, a_reference_that_ends_its_net_also_ends_this_one) {
  Build(0, 2, CORNER_INITIAL | CORNER_FINAL);
  ASSERT_EQ(ImportArc(), 0) << pc.pres;
  EXPECT_EQ(Arcs(OriginOf("0:0_1:0")), "0:0_1:0>0:2[0]\n0:0_1:0>0:1[0]\n");
}

TEST_F(Import, a_self_loop_depth_must_match_the_nets_left) {
  Build(2, 2, CORNER_FINAL);
  EXPECT_EQ(ImportArc(2), 1);
  EXPECT_EQ(pc.pres.rfind("Error: fSelfLoopPattern(2) not equal to ppc->p->depth(1)-rightDepth(0) = 1 in "
                          "GDPC_AddTerminalArc: file(grammarDefinitionParserControl) line(",
                          0),
            0u)
      << pc.pres;
  pc.pres.clear();
  ASSERT_EQ(ImportArc(1), 0) << pc.pres;
  const Origin &o = (*pc.From)[OriginOf("0:0_1:0")];
  EXPECT_EQ(o.prefix[0].arc[0].selfLoopDepth, 1);
}

// A net linked into another shares its packed copy with it; releasing the
// tree frees the copy once and the linked record with its object.
void FreeTestNet(void *record) {
  ParserControl *pc = static_cast<ParserControl *>(record);
  GDPC_Free(pc);
  delete pc;
}

TEST(Free, a_linked_tree_releases_each_record_and_packed_copy_once) {
  static const CntrType type = {"test/compileNet", nullptr, nullptr, FreeTestNet, nullptr, nullptr, nullptr, nullptr};
  Cntr_RegisterType(&type);
  ParserControl top;
  ASSERT_EQ(GDPC_Init(&top), 0);
  ParserControl *sub = new ParserControl();
  sub->depth = 1;
  ASSERT_EQ(GDPC_Init(sub), 0);
  GS_Result *r = GS_CreateResult();
  CntrObj *obj = Cntr_ObjCreate(r, Cntr_TypeFind("test/compileNet"), sub);
  GS_DeleteResult(r);
  ASSERT_NE(obj, nullptr);
  PackedObject *pack = new PackedObject();
  pack->buffer = static_cast<char *>(malloc(16));
  pack->length = 16;
  InternalNetEntry &own = sub->InternalNet->entries[0];
  own.packed = pack;
  own.hasPacked = own.packOwned = 1;
  InternalNetEntry &e = top.InternalNet->entries[1];
  e.object = obj;
  e.packed = pack;
  e.hasPacked = e.owned = e.packOwned = 1;
  top.InternalNet->count = 2;
  GDPC_Free(&top);  // no double free, nothing left (checked by the sanitizers)
  EXPECT_EQ(top.InternalNet, nullptr);
  EXPECT_EQ(top.pht, nullptr);
}

}  // namespace
