// The parse over origin tables: state record, steps, walk, pruning and the
// n-best texts. Grammars are small origin tables made by hand here, laid
// out the way the compiler lays them out (origin "net:state", prefixes
// named by their net path, sub-net states named after the state that enters
// them).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "ipc.h"
#include "parse_words.h"

using namespace rtn;

namespace {

std::string g_channel;  // what the parse wrote to its channel
void CaptureWriter(void *, const char *text) { g_channel += text; }

template <class T>
void Init(Grow<T> &g, int cap) {
  g.table.assign((size_t)cap, T());
  g.count = 0;
  g.capacity = cap;
  g.step = 4;
}
template <class T>
T &Push(Grow<T> &g) {
  if (g.count >= (int)g.table.size()) g.table.resize(g.table.size() + 8);
  g.capacity = (int)g.table.size();
  return g.table[g.count++];
}
void Push(StringTable &t, const std::string &s, int32_t off, int32_t tl = -1) {
  t.strings.push_back(s);
  t.offsets.push_back(off);
  t.tlist.push_back(tl);
  t.flags.push_back('1');
  t.count++;
  t.capacity = t.count;
}

// A compiled net made by hand.
struct HandNet {
  ParserControl pc;
  GDPC_HashTable pht;
  GDH_HashTable plht;
  StringTable sym, term, net, upper, lower;
  Grow<TerminalList> tl;
  Grow<TerminalIndex> ti;
  FromTable from;
  InputParserControl ipc;

  explicit HandNet(const std::vector<std::string> &nets) {
    GDPC_InitHashTable(pht, 128);
    GDH_InitHashTable(plht, 0, 2);
    Init(tl, 8);
    Init(ti, 8);
    Init(from, 8);
    pc.pht = &pht;
    pc.plht = &plht;
    pc.SymbolTable = &sym;
    pc.TerminalTable = &term;
    pc.NetTable = &net;
    pc.UpperTable = &upper;
    pc.LowerTable = &lower;
    pc.ptlist = &tl;
    pc.ptindex = &ti;
    pc.From = &from;
    for (const std::string &n : nets) {
      bool isNew;
      int e = GDPC_StringCreate(pht, n.c_str(), n.size(), &isNew);
      pht.entry[e].value = net.count;
      Push(net, n, pht.entry[e].key);
    }
    RTN_ZeroInputParserControl(&ipc);
    RTN_SetChannelWriter(CaptureWriter);
  }
  ~HandNet() {
    RTN_FreeInputParserControl(&ipc, &pc);
    GDH_DeleteHashTable(plht);
    RTN_SetChannelWriter(nullptr);
  }

  int Key(const std::string &k, int32_t value) {
    bool isNew;
    int e = GDPC_StringCreate(pht, k.c_str(), k.size(), &isNew);
    if (isNew) pht.entry[e].value = value;
    return pht.entry[e].value;
  }
  int Symbol(const std::string &name) {
    bool isNew;
    int e = GDPC_StringCreate(pht, name.c_str(), name.size(), &isNew);
    if (isNew) {
      pht.entry[e].value = sym.count;
      Push(sym, name, pht.entry[e].key);
    }
    return pht.entry[e].value;
  }
  void Side(StringTable &t, const char *tag, const std::string &s, int terminal) {
    bool isNew;
    std::string k = std::string(tag) + s;
    int e = GDPC_StringCreate(pht, k.c_str(), k.size(), &isNew);
    TerminalIndex &x = Push(ti);
    x.terminal = terminal;
    x.next = -1;
    int xi = ti.count - 1;
    if (isNew) {
      TerminalList &l = Push(tl);
      l.first = l.last = xi;
      l.count = 1;
      pht.entry[e].value = t.count;
      Push(t, s, pht.entry[e].key, tl.count - 1);
    } else {
      TerminalList &l = tl[t.tlist[pht.entry[e].value]];
      ti[l.last].next = xi;
      l.last = xi;
      l.count++;
    }
  }
  int Terminal(const std::string &name) {
    bool isNew;
    int e = GDPC_StringCreate(pht, name.c_str(), name.size(), &isNew);
    if (!isNew) return pht.entry[e].value;
    int t = term.count;
    pht.entry[e].value = t;
    Push(term, name, pht.entry[e].key);
    size_t c = name.find(':');
    if (c != std::string::npos) {
      Side(upper, "U ", name.substr(0, c), t);
      Side(lower, "L ", name.substr(c + 1), t);
    }
    return t;
  }
  int OriginOf(const std::string &name) {
    bool isNew;
    std::string k = name + " FO";
    int e = GDPC_StringCreate(pht, k.c_str(), k.size(), &isNew);
    if (isNew) {
      pht.entry[e].value = from.count;
      Origin &o = Push(from);
      o.symbol = Symbol(name);
      o.depth = (uint8_t)std::count(name.begin(), name.end(), '_');
      o.fActive = 1;
      Init(o.prefix, 2);
      Init(o.group, 2);
    }
    return pht.entry[e].value;
  }
  // One terminal arc: from origin `origin` under prefix `prefix`, consuming
  // `terminal`, toward toTag:toState (toState 1 ends the net), in context
  // group number `group`.
  void Arc(const std::string &origin, const std::string &prefix, const std::string &terminal,
           const std::string &toTag, int toState, int group) {
    int t = Terminal(terminal);
    int oi = OriginOf(origin);
    int pi = -1;
    {
      Origin &o = from[oi];
      int ps = Symbol(prefix);
      for (int i = 0; i < o.prefix.count; i++)
        if (o.prefix[i].symbol == ps) pi = i;
      if (pi < 0) {
        OriginPrefix &p = Push(o.prefix);
        p.symbol = ps;
        Init(p.arc, 2);
        pi = o.prefix.count - 1;
      }
    }
    int tagSym = Symbol(toTag);
    Origin &o = from[oi];
    OriginPrefix &p = o.prefix[pi];
    int ai = -1;
    for (int i = 0; i < p.arc.count; i++)
      if (p.arc[i].symbol == tagSym && p.arc[i].ToState == toState) ai = i;
    if (ai < 0) {
      PrefixArc &a = Push(p.arc);
      a.symbol = tagSym;
      a.ToState = toState;
      Init(a.terminal, 2);
      ai = p.arc.count - 1;
    }
    Push(p.arc[ai].terminal) = t;
    int gi = -1;
    for (int i = 0; i < o.group.count; i++)
      if (o.group[i].groupNumber == group) gi = i;
    if (gi < 0) {
      ContextGroup &g = Push(o.group);
      g.groupNumber = group;
      Init(g.term, 2);
      Init(g.tpa, 2);
      gi = o.group.count - 1;
    }
    ContextGroup &g = o.group[gi];
    bool has = false;
    for (int i = 0; i < g.term.count; i++) has |= g.term[i] == t;
    if (!has) Push(g.term) = t;
    int tp = -1;
    for (int i = 0; i < g.tpa.count; i++)
      if (g.tpa[i].prefix == pi) tp = i;
    if (tp < 0) {
      TermPrefixArc &x = Push(g.tpa);
      x.prefix = pi;
      Init(x.arc, 2);
      tp = g.tpa.count - 1;
    }
    TermPrefixArc &x = g.tpa[tp];
    bool hasArc = false;
    for (int i = 0; i < x.arc.count; i++) hasArc |= x.arc[i] == ai;
    if (!hasArc) Push(x.arc) = (uint16_t)ai;
  }

  // Default options of `rp init`.
  void Options() {
    ipc.prune = 2;
    ipc.lookback = -1;
    ipc.framewindow = 255;
    ipc.nbest = 1;
    ipc.maxfi = 1;
    ipc.upper = 1;
    ipc.probbeam = 1;
  }

  // As `rp init`: the record is made, then the options are stored.
  int Start() {
    ipc.probbeam = 1;
    if (RTN_InitParse(&pc, &ipc)) return 1;
    Options();
    return 0;
  }

  // Parses the words of `input` (after a reset) and answers the n-best text
  // (tcl flag), or "ERROR: ..." with the failure text.
  std::string Parse(const std::string &input) { return ParseWords(&pc, &ipc, input); }
};

// [greet]: (*HELLO +NAME), HELLO (hello) (hi there), NAME (anna) (bob)
// flattened: 0:0 -hello-> 0:2, 0:0 -hi-> 0:3 -there-> 0:2, names from 0:0
// and 0:2 loop at 0:2 or end the net.
void MakeGreet(HandNet &h) {
  h.Arc("0:0", "0:0", "hello", "0", 2, 1);
  h.Arc("0:0", "0:0", "hi", "0", 3, 2);
  h.Arc("0:3", "0:3", "there", "0", 2, 3);
  for (const char *o : {"0:0", "0:2"}) {
    for (const char *n : {"anna", "bob"}) {
      h.Arc(o, o, n, "0", 4, std::string(o) == "0:0" ? 4 : 5);
      h.Arc(o, o, n, "0", 1, std::string(o) == "0:0" ? 4 : 5);
    }
  }
  for (const char *n : {"anna", "bob"}) {
    h.Arc("0:4", "0:4", n, "0", 4, 6);
    h.Arc("0:4", "0:4", n, "0", 1, 6);
  }
}

// [top] (i [city_fs]) (new york alone), [city_fs] (new york) (boston:BOS):
// the sub-net's states after state 0:2 are named 0:2_1:S.
void MakeFlights(HandNet &h) {
  h.Arc("0:0", "0:0", "i", "0", 2, 1);
  h.Arc("0:2", "0:2_1:0", "new", "0:2_1", 2, 2);
  h.Arc("0:2", "0:2_1:0", "boston:BOS", "0", 1, 3);
  h.Arc("0:2_1:2", "0:2_1:2", "york", "0", 1, 4);
}

}  // namespace

TEST(ReverseByteBits, ReversesTheBitOrder) {
  const struct {
    uint8_t in, out;
  } cases[] = {{0x01, 0x80}, {0xF0, 0x0F}, {0x00, 0x00}, {0xFF, 0xFF}, {0x40, 0x02}, {0xA5, 0xA5}, {0x12, 0x48}};
  for (const auto &c : cases) {
    uint8_t out = 0;
    RTN_ReverseByteBits(&c.in, &out);
    EXPECT_EQ(out, c.out) << std::hex << (int)c.in;
  }
}

TEST(ParseState, InitAndResetLeaveEmptyTables) {
  HandNet h({"[greet]"});
  MakeGreet(h);
  ASSERT_EQ(h.Start(), 0);
  EXPECT_EQ(h.ipc.ptoa.Capacity(), PTOATABLE_MEMSIZE);
  EXPECT_EQ(h.ipc.terminal.Capacity(), TERMINALTABLE_MEMSIZE);
  EXPECT_EQ(h.ipc.ppn.Capacity(), 128);
  EXPECT_EQ(h.ipc.pstn.Capacity(), 256);
  EXPECT_EQ(h.ipc.terminalEntry.size, 24);
  EXPECT_EQ(h.Parse("hello bob"), "greet:[hello,bob]");
  EXPECT_GT(h.plht.entryCount, 0);
  RTN_ResetParserControls(&h.ipc, &h.pc);
  EXPECT_EQ(h.ipc.inputCount, 0);
  EXPECT_EQ(h.ipc.ptoa.count, 0);
  EXPECT_EQ(h.ipc.terminal.count, 0);
  EXPECT_EQ(h.ipc.ppn.count, 0);
  EXPECT_EQ(h.ipc.terminalEntry.count, 0);
  EXPECT_EQ(h.plht.entryCount, 0);
  for (int i = 0; i < CURRENTPATHARRAY_SIZE; i++) {
    EXPECT_EQ(h.ipc.expectHead[i], -1);
    EXPECT_EQ(h.ipc.finishedTokenListArrray[i], -1);
  }
  // The same input again gives the same answer.
  EXPECT_EQ(h.Parse("hello bob"), "greet:[hello,bob]");
}

TEST(ParseState, GrowthLinesOfThePathTable) {
  HandNet h({"[greet]"});
  MakeGreet(h);
  ASSERT_EQ(h.Start(), 0);
  h.ipc.printallocs = 1;
  g_channel.clear();
  h.ipc.ptoa.count = h.ipc.ptoa.Capacity();
  ASSERT_EQ(RTN_AllocPtoaTableMemory(&h.pc, &h.ipc), 0);
  EXPECT_EQ(g_channel, "RTN_AllocPtoaTableMemory([greet]): prevSize(16384) PTOATABLE_MEMSIZE(16384) size(32768)\n");
  EXPECT_EQ(h.ipc.ptoa.Capacity(), 32768);
  EXPECT_EQ(h.ipc.ptoa[20000].steps, 0);
  h.ipc.ptoa.count = 0;
}

// The output's texts are kept in the memory of the cached scores: the first
// output after `rp init` grows it once, and it stays grown for later inputs
// and for the cached scores.
TEST(ParseState, GrowthLinesOfTheOutputStringTable) {
  HandNet h({"[greet]"});
  MakeGreet(h);
  ASSERT_EQ(h.Start(), 0);
  h.pc.fPrintAllocs = 1;
  const int before = h.ipc.activePath.Capacity() * (int)sizeof(ActivePath);
  g_channel.clear();
  EXPECT_EQ(h.Parse("anna"), "greet:[anna]");
  EXPECT_EQ(g_channel, "RTN_AllocFinishedPathStringTableChars([greet]): prevSize(" + std::to_string(before) +
                           ") FPSTRING_TABLEINCR(32768) size(" + std::to_string(before + 32768) + ")\n\n");
  EXPECT_EQ(h.ipc.activePath.Capacity(), (before + 32768) / (int)sizeof(ActivePath));
  g_channel.clear();
  EXPECT_EQ(h.Parse("hello bob"), "greet:[hello,bob]");
  EXPECT_EQ(g_channel, "\n");
  // Growing the cached scores' table makes the block its records again.
  h.ipc.printallocs = 1;
  const int records = h.ipc.activePath.Capacity();
  h.ipc.activePath.count = records;
  ASSERT_EQ(RTN_AllocActivePaths(&h.pc, &h.ipc, &h.ipc.activePath), 0);
  h.ipc.activePath.count = 0;
  EXPECT_EQ(h.ipc.activePathBytes, 0);
  g_channel.clear();
  EXPECT_EQ(h.Parse("anna"), "greet:[anna]");
  EXPECT_EQ(g_channel, "\n");
}

TEST(ParseState, ProbBeamWidthGivesSlots) {
  HandNet h({"[greet]"});
  ASSERT_EQ(h.Start(), 0);
  ASSERT_EQ(RTN_ResetProbBeam(&h.pc, &h.ipc, 3), 0);
  EXPECT_EQ(h.ipc.probbeam, 3);
  ASSERT_EQ(h.ipc.beamItem.size(), 3u);
  EXPECT_EQ(h.ipc.beamItem[2].size(), (size_t)CURRENTPATHARRAY_SIZE);
  EXPECT_EQ(RTN_ResetProbBeam(&h.pc, &h.ipc, 0), 1);
}

TEST(ParseStep, OneNetGrammar) {
  HandNet h({"[greet]"});
  MakeGreet(h);
  ASSERT_EQ(h.Start(), 0);
  struct {
    const char *input;
    const char *options;
    const char *expected;
  } cases[] = {
      {"hello bob", "", "greet:[hello,bob]"},
      {"hi there um bob", "", "greet:[hi,there,bob]"},
      {"hi there um bob", "transcript", "hi there bob"},
      {"anna bob", "tail", "greet:[anna,bob|_]"},
      {"hello", "", ""},
      {"", "", ""},
      {"xyzzy", "", ""},
      {"uh uh anna", "", "greet:[anna]"},
  };
  for (const auto &c : cases) {
    h.Options();
    std::string o = c.options;
    h.ipc.transcript = o == "transcript";
    h.ipc.tail = o == "tail";
    EXPECT_EQ(h.Parse(c.input), c.expected) << c.input << " / " << c.options;
  }
}

TEST(ParseStep, UnknownWordIsSkippedAndKept) {
  HandNet h({"[greet]"});
  MakeGreet(h);
  ASSERT_EQ(h.Start(), 0);
  RTN_ResetParserControls(&h.ipc, &h.pc);
  int32_t index = 0, count = 1;
  const char *none[1] = {""};
  ASSERT_EQ(RTN_GetPossibilities(&h.pc, &index, &count, none, nullptr, &h.ipc), 0);
  EXPECT_EQ(h.ipc.inputCount, 0);
  std::vector<std::string> expected = RTN_Expectations(&h.pc, &h.ipc, 0);
  EXPECT_EQ(expected.size(), 4u);  // hello hi anna bob
  index = 1;
  const char *um[1] = {"um"};
  ASSERT_EQ(RTN_GetPossibilities(&h.pc, &index, &count, um, nullptr, &h.ipc), 0);
  EXPECT_EQ(h.ipc.inputCount, 1);
  EXPECT_EQ(h.ipc.skipCount, 1);
  EXPECT_EQ(h.ipc.beamItem[0][0].item.at(0), "um");
  EXPECT_EQ(h.ipc.beamOwned[0][0], 1);
  EXPECT_EQ(h.ipc.expectHead[0], -1);
  EXPECT_EQ(RTN_Expectations(&h.pc, &h.ipc, 1), expected);
  index = 2;
  const char *cq[1] = {"cq"};
  ASSERT_EQ(RTN_GetPossibilities(&h.pc, &index, &count, cq, nullptr, &h.ipc), 0);
  EXPECT_EQ(h.ipc.fFinished, 1);
  EXPECT_EQ(h.ipc.inputCount, 1);
}

TEST(ParseStep, SubNetAndTapes) {
  HandNet h({"[top]", "[city_fs]"});
  MakeFlights(h);
  ASSERT_EQ(h.Start(), 0);
  EXPECT_EQ(h.Parse("uh i um new york"), "top:[i,city_fs:[new,york]]");
  EXPECT_EQ(h.Parse("i boston"), "top:[i,city_fs:[BOS]]");
  h.ipc.transcript = 1;
  EXPECT_EQ(h.Parse("i boston"), "i BOS");
  h.ipc.transcript = 0;
  // The lower side: "BOS" is the word to type, "boston" what is shown.
  h.ipc.upper = 0;
  EXPECT_EQ(h.Parse("i BOS"), "top:[i,city_fs:[boston]]");
  EXPECT_EQ(h.Parse("i boston"), "");
  h.ipc.upper = 1;
  h.ipc.showoog = 1;
  EXPECT_EQ(h.Parse("i new york"), "top:[i,city_fs:[city_fs:[new,york]]]");
}

TEST(ParseStep, FrameWindowCountsSkippedWords) {
  HandNet h({"[greet]"});
  MakeGreet(h);
  ASSERT_EQ(h.Start(), 0);
  const struct {
    int window;
    const char *input;
    const char *expected;
  } cases[] = {
      {255, "hello um um bob", "greet:[hello,bob]"},
      {3, "hello um um bob", "greet:[hello,bob]"},
      {2, "hello um um bob", ""},
  };
  for (const auto &c : cases) {
    h.Options();
    h.ipc.framewindow = (uint16_t)c.window;
    h.ipc.lookback = 0;
    EXPECT_EQ(h.Parse(c.input), c.expected) << c.window;
  }
}

TEST(ParseStep, InputLongerThanThePositionTableFails) {
  HandNet h({"[greet]"});
  MakeGreet(h);
  ASSERT_EQ(h.Start(), 0);
  std::string in = "anna";
  for (int i = 0; i < 260; i++) in += " bob";
  std::string r = h.Parse(in);
  EXPECT_EQ(r.rfind("ERROR: Error: pipc->inputCount exceeds CURRENTPATHARRAY_SIZE in RTN_GetPossibilities: "
                    "file(rtnet) line(",
                    0),
            0u)
      << r.substr(0, 200);
}

TEST(NBest, TclResultAndChannel) {
  HandNet h({"[greet]"});
  MakeGreet(h);
  ASSERT_EQ(h.Start(), 0);
  g_channel.clear();
  EXPECT_EQ(h.Parse("hello anna"), "greet:[hello,anna]");
  EXPECT_EQ(g_channel, "\n");
  // Without the flag the text goes to the channel, followed by a blank line.
  g_channel.clear();
  RTN_ResetParserControls(&h.ipc, &h.pc);
  int32_t index = 0, count = 1;
  for (const char *w : {"", "anna", "cq"}) {
    const char *labels[1] = {w};
    ASSERT_EQ(RTN_GetPossibilities(&h.pc, &index, &count, labels, nullptr, &h.ipc), 0);
    index++;
  }
  ASSERT_EQ(RTN_PrintFinished(&h.pc, &h.ipc, 0), 0);
  EXPECT_EQ(g_channel, "greet:[anna]\n\n\n");
}

TEST(NBest, InputTrailerShowsSkippedWordsBare) {
  HandNet h({"[top]", "[city_fs]"});
  MakeFlights(h);
  ASSERT_EQ(h.Start(), 0);
  h.ipc.input = 1;
  g_channel.clear();
  EXPECT_EQ(h.Parse("i um boston"), "top:[i,city_fs:[BOS]]");
  EXPECT_EQ(g_channel, "\n\nInput[0]: [i] um [boston] \nNBest(1) Number of finished path(s) printed: 1\n\n\n");
}

// ---------------------------------------------------------------------------
// Compiled grammars, end to end: the fixtures' hand-worked parses.

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <regex>

#include "gd.h"
#include "rtn_io.h"

namespace {

using Files = std::vector<std::pair<std::string, std::string>>;

std::string FixtureDir() {
  const char *src = getenv("TOVIK_SOURCE");
  if (src) return std::string(src) + "/src/contrib-sh/pkgs/quorlet/tests/fixtures";
  return QUORLET_FIXTURES;
}

// A fixture's grammar files copied into a folder of their own, made current,
// compiled, and ready to parse.
class Grammar {
 public:
  Grammar(const std::string &fixture, const std::string &top) {
    MakeDir();
    std::string cmd = "cp " + FixtureDir() + "/" + fixture + "/*.gra '" + dir_ + "'";
    if (system(cmd.c_str())) ADD_FAILURE() << cmd;
    Compile(top);
  }
  // Grammar files given as texts; the first is the top net.
  explicit Grammar(const Files &files) {
    MakeDir();
    for (const auto &f : files) {
      std::ofstream out(dir_ + "/" + f.first + ".gra", std::ios::binary);
      out << f.second;
    }
    Compile(files.at(0).first);
  }
  void MakeDir() {
    char tmpl[] = "/tmp/parse_testXXXXXX";
    dir_ = mkdtemp(tmpl);
    char buf[4096];
    old_ = getcwd(buf, sizeof buf);
  }
  void Compile(const std::string &top, int readStatus = RS_RTN) {
    if (chdir(dir_.c_str())) ADD_FAILURE() << dir_;
    pc_ = new ParserControl();
    RTN_InitPC(pc_);
    net_ = RTN_Create(pc_, top.c_str(), ".gra", readStatus);
    RTN_ZeroInputParserControl(&ipc_);
    RTN_SetChannelWriter(CaptureWriter);
    if (!net_) return;
    ipc_.probbeam = 1;
    if (RTN_InitParse(net_, &ipc_)) {
      ADD_FAILURE() << net_->pres;
      net_ = nullptr;
    }
  }
  ~Grammar() {
    Release();
    RTN_SetChannelWriter(nullptr);
    if (chdir(old_.c_str())) {
    }
    std::string cmd = "rm -rf '" + dir_ + "'";
    if (system(cmd.c_str())) {
    }
  }
  void Release() {
    RTN_FreeInputParserControl(&ipc_, net_);
    if (net_) GS_DeleteResult(RTN_Free(net_));
    if (net_ && net_ != pc_) delete net_;
    delete pc_;
    net_ = pc_ = nullptr;
  }
  // Writes the compiled nets as `rp uninit` does, releases everything and
  // makes the grammar again from what is in the folder.
  std::string WriteAndReload(const std::string &top, bool dropGrammarFiles = false, int readStatus = RS_RTN) {
    std::string errors;
    for (int i = 0; net_ && i < std::max(1, net_->InternalNet->count); i++)
      if (net_->InternalNet->fWrite[i] && RTN_Write(net_, i)) errors += net_->pres;
    Release();
    // Grammar files that cannot be compiled, older than the compiled ones:
    // only the compiled files can give the net now.
    if (dropGrammarFiles &&
        system("for f in *.gra; do printf 'not a grammar' > $f; touch -d 2000-01-01 $f; done"))
      errors += "cannot spoil the grammar files";
    Compile(top, readStatus);
    return errors;
  }
  bool ok() const { return net_ != nullptr; }
  InputParserControl &ipc() { return ipc_; }
  std::string pres() const { return pc_->pres; }

  // The options of `rp init`, then those of one fixture line ("word value ...").
  void Options(const std::string &words) {
    ipc_.prune = 2;
    ipc_.lookback = -1;
    ipc_.framewindow = 255;
    ipc_.nbest = 1;
    ipc_.maxfi = 1;
    ipc_.upper = 1;
    ipc_.probbeam = 1;
    ipc_.transcript = ipc_.tail = ipc_.hide = ipc_.showoog = ipc_.canonical = ipc_.prolog = 0;
    std::istringstream in(words);
    std::string w;
    int v;
    while (in >> w >> v) {
      std::map<std::string, int8_t *> opt = {
          {"transcript", &ipc_.transcript}, {"tail", &ipc_.tail},       {"hide", &ipc_.hide},
          {"showoog", &ipc_.showoog},       {"lookback", &ipc_.lookback}, {"nbest", &ipc_.nbest},
          {"canonical", &ipc_.canonical},   {"prune", &ipc_.prune},     {"maxfi", &ipc_.maxfi}};
      if (w == "framewindow") ipc_.framewindow = (uint16_t)v;
      else if (opt.count(w)) *opt[w] = (int8_t)v;
      else ADD_FAILURE() << "unknown option " << w;
    }
  }

  std::string Parse(const std::string &input) { return ParseWords(net_, &ipc_, input, &stepText_); }
  // What the steps of the last input left in the result (warnings).
  const std::string &stepText() const { return stepText_; }

 private:
  std::string stepText_;
  std::string dir_, old_;
  ParserControl *pc_ = nullptr;
  ParserControl *net_ = nullptr;
  InputParserControl ipc_;
};

std::string Trim(const std::string &s) {
  size_t a = s.find_first_not_of(" \t"), b = s.find_last_not_of(" \t");
  return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

void RunFixture(const std::string &fixture, const std::string &top) {
  Grammar g(fixture, top);
  ASSERT_TRUE(g.ok()) << g.pres();
  std::ifstream f(FixtureDir() + "/" + fixture + "/expected.txt");
  ASSERT_TRUE(f.good());
  int cases = 0;
  for (std::string line; std::getline(f, line);) {
    if (line.empty() || line[0] == '#') continue;
    size_t a = line.find('|'), b = line.find('|', a + 1);
    ASSERT_NE(b, std::string::npos) << line;
    g.Options(Trim(line.substr(a + 1, b - a - 1)));
    std::string got = g.Parse(Trim(line.substr(0, a)));
    if (getenv("PARSE_TEST_SHOW")) fprintf(stderr, "%s => %s\n", line.c_str(), got.c_str());
    EXPECT_EQ(got, Trim(line.substr(b + 1))) << fixture << ": " << line;
    cases++;
  }
  EXPECT_GT(cases, 0);
}

}  // namespace

TEST(Fixtures, Flights) { RunFixture("flights", "flights"); }
TEST(Fixtures, Greet) { RunFixture("greet", "greet"); }
TEST(Fixtures, Repair) { RunFixture("repair", "order"); }
TEST(Fixtures, Resume) { RunFixture("resume", "resume"); }
TEST(Fixtures, Oog) { RunFixture("oog", "ask"); }
TEST(Fixtures, Window) { RunFixture("window", "window"); }

TEST(Text, OptionsShapeTheText) {
  Grammar g(Files{{"ask", "[ask]\n([when_c] go)\n"}, {"when_c", "[when_c]\n(at noon)\n"}});
  ASSERT_TRUE(g.ok()) << g.pres();
  const struct {
    const char *options;
    const char *expected;
  } cases[] = {
      {"", "ask:[when_c:[at,noon],go]"},
      {"canonical 1", "ask:[when,go]"},
      {"transcript 1", "at noon go"},
      {"transcript 1 canonical 1", "when"},
      {"tail 1", "ask:[when_c:[at,noon|_],go|_]"},
  };
  for (const auto &c : cases) {
    g.Options(c.options);
    EXPECT_EQ(g.Parse("at noon go"), c.expected) << c.options;
  }
}

TEST(Text, CanonicalNetHoldingANestedNetGoesWhole) {
  // The whole bracket of the "_c" net goes, nested nets and all; the text
  // stays balanced.
  Grammar g(Files{{"t", "[t]\n([a_c] z)\n"}, {"a_c", "[a_c]\n([b] y)\n"}, {"b", "[b]\n(x)\n"}});
  ASSERT_TRUE(g.ok()) << g.pres();
  g.Options("");
  EXPECT_EQ(g.Parse("x y z"), "t:[a_c:[b:[x],y],z]");
  g.Options("canonical 1");
  EXPECT_EQ(g.Parse("x y z"), "t:[a,z]");
}

TEST(Text, PrologModeNeedsATypeNet) {
  {
    Grammar g(Files{{"cmd_type", "[cmd_type]\n(go [dir_fs])\n"}, {"dir_fs", "[dir_fs]\n(left)\n"}});
    ASSERT_TRUE(g.ok()) << g.pres();
    g.Options("");
    g.ipc().prolog = 1;
    EXPECT_EQ(g.Parse("go left"), "[fsType:cmd_type,go,dir_fs:[left]]");
  }
  {
    Grammar g(Files{{"cmd", "[cmd]\n(go)\n"}});
    ASSERT_TRUE(g.ok()) << g.pres();
    g.Options("");
    g.ipc().prolog = 1;
    std::string r = g.Parse("go");
    EXPECT_EQ(r.rfind("ERROR: Error: The top-level net suffix is not \"_type\" as called for by the conventions of "
                      "Prolog mode in RTN_PrintFinished: file(rtnet) line(",
                      0),
              0u)
        << r;
  }
}

TEST(Text, HideKeepsWordsOfPlainNets) {
  Grammar g(Files{{"go", "[go]\n(please [dir_fs] [pace])\n"}, {"dir_fs", "[dir_fs]\n(left)\n"}, {"pace", "[pace]\n(slowly)\n"}});
  ASSERT_TRUE(g.ok()) << g.pres();
  g.Options("");
  EXPECT_EQ(g.Parse("please left slowly"), "go:[please,dir_fs:[left],pace:[slowly]]");
  g.Options("hide 1");
  EXPECT_EQ(g.Parse("please left slowly"), "go:[please,dir_fs:[],pace:[slowly]]");
}

TEST(Text, PrettyPrintIndentsFsNets) {
  Grammar g(Files{{"cmd_type", "[cmd_type]\n(go [dir_fs] now)\n(stop)\n"}, {"dir_fs", "[dir_fs]\n(left)\n"}});
  ASSERT_TRUE(g.ok()) << g.pres();
  const struct {
    int prolog;
    const char *input, *expected;
  } cases[] = {
      {1, "go left now", "[fsType:cmd_type,\ngo,dir_fs:\n\t[left],\nnow]\n"},
      {0, "go left now", "cmd_type:[go,\ndir_fs:\n\t[left],\nnow]\n"},
      // A text without a comma is the first line whole.
      {0, "stop", "cmd_type:[stop],\n"},
  };
  for (const auto &c : cases) {
    g.Options("");
    g.ipc().prolog = (int8_t)c.prolog;
    g.ipc().prettyprint = 1;
    EXPECT_EQ(g.Parse(c.input), c.expected) << c.input << " prolog " << c.prolog;
  }
}

TEST(NBest, TiesArePrintedAndDuplicatesNot) {
  Grammar g(Files{{"amb", "[amb]\n([p])\n([q])\n"}, {"p", "[p]\n(x)\n"}, {"q", "[q]\n(x)\n"}});
  ASSERT_TRUE(g.ok()) << g.pres();
  // Equal scores: both survive the pruning and both are printed, in the
  // order they finished.
  auto sorted = [](std::string t) {
    std::vector<std::string> lines;
    std::istringstream in(t);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    std::sort(lines.begin(), lines.end());
    std::string out;
    for (auto &l : lines) out += l + "|";
    return out;
  };
  g.Options("");
  EXPECT_EQ(sorted(g.Parse("x")), "amb:[p:[x]]|amb:[q:[x]]|");
  g.Options("nbest 2");
  EXPECT_EQ(sorted(g.Parse("x")), "amb:[p:[x]]|amb:[q:[x]]|");
  g.Options("nbest 0");
  EXPECT_EQ(sorted(g.Parse("x")), "amb:[p:[x]]|amb:[q:[x]]|");
  // The two texts become one: the second is not printed again.
  g.Options("transcript 1");
  EXPECT_EQ(g.Parse("x"), "x");
}

TEST(Pruning, KeepsTheBetterPathAtOnePruneOrigin) {
  // "new york" alone, joined from the first position, finishes where the
  // whole sentence does; the pruning drops it, prune 0 keeps it to the end.
  Grammar g("flights", "flights");
  ASSERT_TRUE(g.ok()) << g.pres();
  const char *in = "uh i want to fly to um new york";
  const std::string best = "flights:[i,want,to,fly,to,city_fs:[new,york]]";
  g.Options("nbest 0");
  EXPECT_EQ(g.Parse(in), best);
  g.Options("nbest 0 prune 1");
  EXPECT_EQ(g.Parse(in), best);
  g.Options("nbest 0 prune 0");
  EXPECT_EQ(g.Parse(in), best + "\nflights:[city_fs:[new,york]]");
  g.Options("nbest 0 lookback 0");
  EXPECT_EQ(g.Parse(in), best);
  // The trace of the walk shows the node's count before and after.
  g_channel.clear();
  g.Options("");
  g.ipc().beam = 1;
  EXPECT_EQ(g.Parse(in), best);
  EXPECT_NE(g_channel.find("\nPruneActive(york): "), std::string::npos) << g_channel;
  g_channel.clear();
  g.Options("prune 0");
  g.ipc().beam = 1;
  g.Parse(in);
  EXPECT_EQ(g_channel.find("PruneActive("), std::string::npos) << g_channel;
}

namespace {
// A node of `groups` groups of `size` elements each, made by hand.
int32_t MakeGroups(InputParserControl &ipc, int groups, int size) {
  int32_t n = ipc.terminal.count++;
  TerminalEntry &t = ipc.terminal[n];
  t.first = t.last = t.lastGroup = -1;
  t.pruneOrigins = t.pruneLinks = -1;
  int32_t prevFirst = -1;
  for (int g = 0; g < groups; g++) {
    int32_t first = -1;
    for (int k = 0; k < size; k++) {
      int32_t e = ipc.ptoa.count++;
      PtoaEntry &x = ipc.ptoa[e];
      x.prevGroup = prevFirst;
      x.nextGroup = -1;
      x.pruneSource = -1;
      x.next = -1;
      x.prev = t.last;
      if (t.last >= 0) ipc.ptoa[t.last].next = e;
      else t.first = e;
      t.last = e;
      t.count++;
      if (k == 0) {
        first = e;
        if (prevFirst >= 0) ipc.ptoa[prevFirst].nextGroup = e;
      }
    }
    t.lastGroup = first;
    prevFirst = first;
  }
  return n;
}
std::vector<int32_t> ListOf(const InputParserControl &ipc, int32_t n) {
  std::vector<int32_t> out;
  for (int32_t e = ipc.terminal[n].first; e >= 0; e = ipc.ptoa[e].next) out.push_back(e);
  return out;
}
}  // namespace

TEST(Pruning, RemovingGroupsKeepsTheListWhole) {
  HandNet h({"[greet]"});
  ASSERT_EQ(h.Start(), 0);
  RTN_ResetParserControls(&h.ipc, &h.pc);
  int32_t n = MakeGroups(h.ipc, 3, 2);  // elements 0 1 | 2 3 | 4 5
  ASSERT_EQ(RTN_PruneActiveGroup(&h.pc, &h.ipc, n, 3, 0), 0);
  EXPECT_EQ(ListOf(h.ipc, n), (std::vector<int32_t>{0, 1, 4, 5}));
  EXPECT_EQ(h.ipc.ptoa[4].prevGroup, 0);
  EXPECT_EQ(h.ipc.ptoa[0].nextGroup, 4);
  ASSERT_EQ(RTN_PruneActiveGroup(&h.pc, &h.ipc, n, 5, 0), 0);  // the last group: `last` moves back
  EXPECT_EQ(ListOf(h.ipc, n), (std::vector<int32_t>{0, 1}));
  EXPECT_EQ(h.ipc.terminal[n].last, 1);
  EXPECT_EQ(h.ipc.terminal[n].count, 2);
  EXPECT_EQ(h.ipc.ptoa[1].next, -1);
  EXPECT_EQ(RTN_PruneActiveGroup(&h.pc, &h.ipc, n, 0, 0), 1);  // the only group
  EXPECT_EQ(h.pc.pres.rfind("Error: The first active group(0) being pruned has no following active group --- in "
                            "RTN_GetPossibilities: file(rtnet) line(",
                            0),
            0u)
      << h.pc.pres;
  h.pc.pres.clear();
  int32_t m = MakeGroups(h.ipc, 2, 1);  // elements 6 | 7
  ASSERT_EQ(RTN_PruneActiveGroup(&h.pc, &h.ipc, m, 6, 0), 0);  // the first group
  EXPECT_EQ(ListOf(h.ipc, m), (std::vector<int32_t>{7}));
  EXPECT_EQ(h.ipc.ptoa[7].prevGroup, -1);
  EXPECT_EQ(h.ipc.ptoa[7].prev, -1);
}

TEST(ParseState, GrowthLogThatCannotBeWrittenFails) {
  HandNet h({"[greet]"});
  ASSERT_EQ(h.Start(), 0);
  char tmpl[] = "/tmp/parse_testXXXXXX";
  std::string dir = mkdtemp(tmpl);
  char buf[4096];
  std::string old = getcwd(buf, sizeof buf);
  ASSERT_EQ(mkdir((dir + "/allocLog.txt").c_str(), 0755), 0);  // a folder where the log would go
  ASSERT_EQ(chdir(dir.c_str()), 0);
  h.ipc.logallocs = 1;
  h.ipc.ppn.count = h.ipc.ppn.Capacity();
  EXPECT_EQ(RTN_AllocPPNTableMemory(&h.pc, &h.ipc), 1);
  EXPECT_EQ(h.ipc.ppn.Capacity(), 256);  // grown all the same
  EXPECT_EQ(h.pc.pres.rfind("Error: fopen failure for allocLog.txt in RTN_AllocPPNTableMemory: file(rtnet) line(", 0),
            0u)
      << h.pc.pres;
  h.ipc.ppn.count = 0;
  EXPECT_EQ(chdir(old.c_str()), 0);
  std::string cmd = "rm -rf '" + dir + "'";
  EXPECT_EQ(system(cmd.c_str()), 0);
}

TEST(Robustness, RandomWordSequencesParseWithoutFailure) {
  // Words of the grammar in any order, with unknown ones among them: every
  // input either parses or gives no parse; none fails, whatever the options.
  const struct {
    const char *fixture, *top;
    std::vector<const char *> vocab;
  } grammars[] = {
      {"flights", "flights", {"i", "want", "to", "fly", "go", "show", "me", "flights", "boston", "denver", "new",
                              "york", "san", "francisco", "please", "um", "uh"}},
      {"repair", "order", {"give", "me", "i", "want", "coffee", "tea", "a", "beer", "no", "mean", "um"}},
      {"oog", "ask", {"where", "is", "the", "bank", "station", "blah", "uh", "um"}},
      {"window", "window", {"a", "b", "c", "d", "um"}},
  };
  const char *options[] = {"", "prune 0", "prune 1", "lookback 0", "lookback 2", "nbest 0", "framewindow 3",
                           "showoog 1 hide 1", "tail 1 canonical 1", "nbest 3 transcript 1"};
  unsigned seed = 12345;
  auto rnd = [&](unsigned n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % n;
  };
  for (const auto &gr : grammars) {
    Grammar g(gr.fixture, gr.top);
    ASSERT_TRUE(g.ok()) << g.pres();
    int parsed = 0;
    for (int round = 0; round < 80; round++) {
      std::string in;
      int len = 1 + (int)rnd(30);
      for (int k = 0; k < len; k++) in += std::string(k ? " " : "") + gr.vocab[rnd((unsigned)gr.vocab.size())];
      const char *o = options[rnd(sizeof options / sizeof *options)];
      g.Options(o);
      std::string r = g.Parse(in);
      EXPECT_EQ(r.find("ERROR"), std::string::npos) << in << " / " << o << "\n" << r;
      parsed += !r.empty();
    }
    EXPECT_GT(parsed, 0) << gr.fixture;
  }
}

TEST(Pruning, DebugTraceTellsWhatWasPruned) {
  Grammar g("flights", "flights");
  ASSERT_TRUE(g.ok()) << g.pres();
  g.Options("");
  g.ipc().debug = 1;
  g_channel.clear();
  EXPECT_EQ(g.Parse("uh i want to fly to um new york"), "flights:[i,want,to,fly,to,city_fs:[new,york]]");
  for (const char *line : {"Entering RTN_PruneActive ----", "BEGIN **** ptOffset(", "PruneCurrent(",
                           "Current Un-Pruned Finished Paths for finished node(",
                           "\nIndex(1)flights:[i,want,to,fly,to,city_fs:[new,york]]\n", "END ****** ptOffset(",
                           "\nLeaving RTN_PruneActive ----", "\nFinished Paths Scored(1)\n"})
    EXPECT_NE(g_channel.find(line), std::string::npos) << line << "\n" << g_channel;
  EXPECT_EQ(g_channel.find("Error\n"), std::string::npos) << g_channel;
  if (getenv("PARSE_TEST_SHOW")) fputs(g_channel.c_str(), stderr);
}

TEST(Pruning, DebugTraceOfAResumedScore) {
  // The two readings of "x" tie at the first pruning and keep their scores;
  // "x y" resumes from them at the second, after the trace of its steps.
  Grammar g(Files{{"t", "[t]\n([a] *y *z)\n"}, {"a", "[a]\n([p])\n([q])\n"}, {"p", "[p]\n(x)\n"},
                  {"q", "[q]\n(x)\n"}});
  ASSERT_TRUE(g.ok()) << g.pres();
  g.Options("");
  g.ipc().debug = 1;
  g_channel.clear();
  EXPECT_EQ(g.Parse("x y"), "t:[a:[q:[x]],y]\nt:[a:[p:[x]],y]");
  const std::regex stepsThenSaved("\n[0-9]+\\(-1\\) ([0-9]+\\(-?[0-9]+\\)  )*\n\n\tSaved prevPtoaoCount\\(0\\)\n");
  EXPECT_TRUE(std::regex_search(g_channel, stepsThenSaved)) << g_channel;
}

TEST(Fixtures, CompiledFilesParseTheSame) {
  Grammar g("flights", "flights");
  ASSERT_TRUE(g.ok()) << g.pres();
  g.Options("");
  const char *in = "uh i want to fly to um new york";
  const std::string best = "flights:[i,want,to,fly,to,city_fs:[new,york]]";
  EXPECT_EQ(g.Parse(in), best);
  EXPECT_EQ(g.WriteAndReload("flights", true), "");
  ASSERT_TRUE(g.ok()) << g.pres();
  struct stat st;
  EXPECT_EQ(stat("flights.rtn", &st), 0);
  g.Options("");
  EXPECT_EQ(g.Parse(in), best);
  EXPECT_EQ(g.Parse("i want to fly to boston please"), "flights:[i,want,to,fly,to,city_fs:[BOS],please]");
}

TEST(ParseStep, RefusesAnUnpreparedState) {
  HandNet h({"[greet]"});
  MakeGreet(h);
  int32_t index = 0, count = 1;
  const char *labels[1] = {""};
  EXPECT_EQ(RTN_GetPossibilities(&h.pc, &index, &count, labels, nullptr, &h.ipc), 1);
  EXPECT_EQ(h.pc.pres.rfind("Error: the parse state has not been initialised in RTN_GetPossibilities: file(rtnet) "
                            "line(",
                            0),
            0u)
      << h.pc.pres;
  ParserControl empty;
  h.pc.pres.clear();
  ASSERT_EQ(h.Start(), 0);
  EXPECT_EQ(RTN_GetPossibilities(&empty, &index, &count, labels, nullptr, &h.ipc), 1);
  EXPECT_EQ(empty.pres.rfind("Error: no compiled network in RTN_GetPossibilities: file(rtnet) line(", 0), 0u);
  // Nothing parsed: nothing finished, an empty result.
  h.pc.pres = "old text";
  EXPECT_EQ(RTN_PrintFinished(&h.pc, &h.ipc, 1), 0);
  EXPECT_EQ(h.pc.pres, "");
}

TEST(Prediction, SkippedWordsAdvanceTheOlderPrediction) {
  HandNet h({"[greet]"});
  MakeGreet(h);
  ASSERT_EQ(h.Start(), 0);
  h.ipc.lookback = 0;
  EXPECT_EQ(h.Parse("anna um um bob"), "greet:[anna,bob]");
  GDH_HashEntry *t = GDH_FindHashEntry(h.plht, "bob T");
  ASSERT_TRUE(t);
  const PpnEntry &newest = h.ipc.ppn[(int)t->value];
  EXPECT_EQ(newest.position, 4);
  ASSERT_GE(newest.older, 0);
  const PpnEntry &older = h.ipc.ppn[newest.older];
  EXPECT_EQ(older.skipped, 2);
  EXPECT_EQ(older.position, 1 + 2);
  EXPECT_EQ(older.newer, (int)t->value);
  // Its node is still found under the position it was made for.
  EXPECT_TRUE(GDH_FindHashEntry(h.plht, "bob 1 PT"));
}

TEST(Prediction, TermsOfOneGroupShareOneNode) {
  HandNet h({"[greet]"});
  h.Arc("0:0", "0:0", "anna", "0", 1, 7);
  h.Arc("0:0", "0:0", "bob", "0", 1, 7);
  ASSERT_EQ(h.Start(), 0);
  RTN_ResetParserControls(&h.ipc, &h.pc);
  int32_t index = 0, count = 1;
  const char *labels[1] = {""};
  ASSERT_EQ(RTN_GetPossibilities(&h.pc, &index, &count, labels, nullptr, &h.ipc), 0);
  GDH_HashEntry *a = GDH_FindHashEntry(h.plht, "anna 0 PT"), *b = GDH_FindHashEntry(h.plht, "bob 0 PT");
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->value, b->value);
  EXPECT_EQ(h.ipc.terminal.count, 1);
  EXPECT_EQ(h.ipc.terminal[0].count, 1);  // one element: the group's one arc
  EXPECT_EQ(h.ipc.pstn.count, 2);
}

TEST(ParseStep, TracesOfBeamAndDots) {
  HandNet h({"[greet]"});
  MakeGreet(h);
  ASSERT_EQ(h.Start(), 0);
  g_channel.clear();
  h.ipc.dots = 1;
  EXPECT_EQ(h.Parse("anna um bob"), "greet:[anna,bob]");
  EXPECT_EQ(g_channel, "anna um bob \n");
  g_channel.clear();
  h.ipc.dots = 0;
  h.ipc.beam = 2;
  h.Parse("anna um bob");
  EXPECT_EQ(g_channel, "Processing Beam (anna\nProcessing Beam (um\n\n");
}

TEST(NBest, ZeroTakesEveryFinishingPositionLongestFirst) {
  HandNet h({"[greet]"});
  MakeGreet(h);
  ASSERT_EQ(h.Start(), 0);
  EXPECT_EQ(h.Parse("anna bob"), "greet:[anna,bob]");
  // Every path is printed, best first: "bob" alone (a path that starts at
  // the second word) ranks below "anna bob", and the paths that finished at
  // the first word come last.
  h.ipc.nbest = 0;
  EXPECT_EQ(h.Parse("anna bob"), "greet:[anna,bob]\ngreet:[bob]\ngreet:[anna]");
  h.ipc.lookback = 0;
  EXPECT_EQ(h.Parse("anna bob"), "greet:[anna,bob]\ngreet:[anna]");
}

TEST(Robustness, LongInputsStayQuick) {
  // Long inputs, every older prediction joined: the looping net joins each
  // word's older predictions, so its cost grows with the square of the length.
  Grammar g("flights", "flights");
  ASSERT_TRUE(g.ok()) << g.pres();
  std::string in;
  for (int i = 0; i < 35; i++) in += "i want to fly to new york ";
  g.Options("");
  clock_t c0 = clock();
  std::string r = g.Parse(in);
  if (getenv("PARSE_TEST_SHOW")) fprintf(stderr, "flights %ld ms, %d elements\n", (long)((clock() - c0) * 1000 / CLOCKS_PER_SEC), g.ipc().ptoa.count);
  EXPECT_EQ(r.find("ERROR"), std::string::npos) << r.substr(0, 300);
  Grammar greet("greet", "greet");
  ASSERT_TRUE(greet.ok()) << greet.pres();
  in = "hello";
  for (int i = 0; i < (getenv("PARSE_TEST_LONG") ? 250 : 120); i++) in += " bob";
  greet.Options("");
  c0 = clock();
  r = greet.Parse(in);
  if (getenv("PARSE_TEST_SHOW")) fprintf(stderr, "greet %ld ms, %d elements\n", (long)((clock() - c0) * 1000 / CLOCKS_PER_SEC), greet.ipc().ptoa.count);
  EXPECT_EQ(r.find("ERROR"), std::string::npos) << r.substr(0, 300);
  EXPECT_EQ(r.substr(0, 20), "greet:[hello,bob,bob");
}

TEST(Text, NetsEnteredAndLeftSeveralAtOnce) {
  Grammar g(Files{{"t", "[t]\n([a] z)\n(w [a])\n"}, {"a", "[a]\n([b])\n"}, {"b", "[b]\n(x y)\n"}});
  ASSERT_TRUE(g.ok()) << g.pres();
  const struct {
    const char *input, *options, *expected;
  } cases[] = {
      {"x y z", "", "t:[a:[b:[x,y]],z]"},
      {"w x y", "", "t:[w,a:[b:[x,y]]]"},
      {"w x y", "tail 1", "t:[w,a:[b:[x,y|_]|_]|_]"},
      {"x y z", "transcript 1", "x y z"},
      {"um x um y z", "", "t:[a:[b:[x,y]],z]"},
  };
  for (const auto &c : cases) {
    g.Options(c.options);
    EXPECT_EQ(g.Parse(c.input), c.expected) << c.input << " / " << c.options;
  }
}

TEST(Fixtures, NetFilesParseTheSame) {
  // The files without context tables (`rebuild 0`) give the same parses.
  Grammar g("flights", "flights");
  ASSERT_TRUE(g.ok()) << g.pres();
  g.Options("");
  EXPECT_EQ(g.Parse("denver please"), "flights:[city_fs:[denver],please]");
  EXPECT_EQ(g.WriteAndReload("flights", true, RS_NET), "");
  ASSERT_TRUE(g.ok()) << g.pres();
  g.Options("");
  EXPECT_EQ(g.Parse("denver please"), "flights:[city_fs:[denver],please]");
  EXPECT_EQ(g.Parse("uh i want to fly to um new york"), "flights:[i,want,to,fly,to,city_fs:[new,york]]");
}

TEST(NBest, ScoreHeaderWithPrettyPrint) {
  Grammar g(Files{{"cmd_type", "[cmd_type]\n(go [dir_fs] now)\n"}, {"dir_fs", "[dir_fs]\n(left)\n"}});
  ASSERT_TRUE(g.ok()) << g.pres();
  g.Options("");
  g.ipc().prolog = 1;
  g.ipc().prettyprint = 1;
  g.ipc().score = 1;
  std::string r = g.Parse("go left now");
  EXPECT_EQ(r.rfind("\nIndex(0:0:", 0), 0u) << r;
  EXPECT_NE(r.find("):\tWordScore(3) RepairScore(0) oogScore(0) FScore(0) NetScore(0)\n\t\tFsLevelScore(1:1) \n\n"
                   "[fsType:cmd_type,\ngo,dir_fs:\n\t[left],\nnow]\n"),
            std::string::npos)
      << r;
}

TEST(Prediction, PruneOriginLimit) {
  HandNet h({"[greet]"});
  MakeGreet(h);
  ASSERT_EQ(h.Start(), 0);
  RTN_ResetParserControls(&h.ipc, &h.pc);
  while (h.ipc.pon.Capacity() <= 0x20001) ASSERT_EQ(RTN_AllocPONodeTableMemory(&h.pc, &h.ipc), 0);
  h.ipc.pon.count = 0x20000;
  int32_t index = 0, count = 1;
  const char *labels[1] = {""};
  EXPECT_EQ(RTN_GetPossibilities(&h.pc, &index, &count, labels, nullptr, &h.ipc), 1);
  EXPECT_EQ(h.pc.pres.rfind("Error: ponc > 0x1FFFF or ponlnc > 0x7FFF in RTN_GetPossibilities: file(rtnet) line(", 0),
            0u)
      << h.pc.pres;
}

TEST(ParseState, FreeWithoutRecordOrNet) {
  RTN_FreeInputParserControl(nullptr, nullptr);
  HandNet h({"[greet]"});
  MakeGreet(h);
  ASSERT_EQ(h.Start(), 0);
  EXPECT_EQ(h.Parse("anna"), "greet:[anna]");
  RTN_FreeInputParserControl(&h.ipc, nullptr);
  EXPECT_EQ(h.ipc.ptoa.Capacity(), 0);
  EXPECT_EQ(h.ipc.itemPool, nullptr);
  EXPECT_TRUE(h.ipc.beamItem.empty());
}

// Alternatives whose first terms may each end the rule share the context of
// the arcs that end it at once. Each first word still starts a sentence on
// its own, in the net itself and in a net that references it, and only the
// word that an alternative follows with a word takes that word.
TEST(Prediction, EveryFirstWordOfSharedContextsIsPredicted) {
  const struct {
    const char *name;
    Files files;
    const char *wrap;  // the text around a parse of R's words
  } grammars[] = {
      {"rule", Files{{"g", "[g]\n(*x R)\nR (a *b)(d *c)\n"}}, "g:[%s]"},
      {"referenced net", Files{{"g", "[g]\n(*x [n])\n"}, {"n", "[n]\n(R)\nR (a *b)(d *c)\n"}}, "g:[n:[%s]]"},
      {"net header", Files{{"g", "[g]\n(*x [n])\n"}, {"n", "[n]\n(a *b)(d *c)\n"}}, "g:[n:[%s]]"},
  };
  const struct {
    const char *input, *words;
  } cases[] = {
      {"d", "d"}, {"a", "a"}, {"d c", "d,c"}, {"a b", "a,b"}, {"d b", "d"}, {"a c", "a"},
  };
  for (const auto &gr : grammars) {
    Grammar g(gr.files);
    ASSERT_TRUE(g.ok()) << gr.name << ": " << g.pres();
    for (const auto &c : cases) {
      g.Options("");
      char want[64];
      snprintf(want, sizeof want, gr.wrap, c.words);
      EXPECT_EQ(g.Parse(c.input), want) << gr.name << ": " << c.input;
    }
    // The same from the compiled files.
    EXPECT_EQ(g.WriteAndReload("g"), "") << gr.name;
    ASSERT_TRUE(g.ok()) << gr.name << ": " << g.pres();
    g.Options("");
    char want[64];
    snprintf(want, sizeof want, gr.wrap, "d");
    EXPECT_EQ(g.Parse("d"), want) << gr.name;
  }
}

// [g]: (a *a p) (a *a c q), where the word "w" is read as p or as q.
// With a window of 1 the newest prediction of p (the first candidate) is
// too old at "w", so q is read; the older predictions of p still join, and
// their copies carry the candidate that was read.
TEST(Lookback, JoinsTheOlderPredictionsOfTheCandidateTheWindowTurnedDown) {
  HandNet h({"[g]"});
  h.Arc("0:0", "0:0", "a", "0", 2, 1);
  h.Arc("0:2", "0:2", "a", "0", 2, 2);
  h.Arc("0:2", "0:2", "w:p", "0", 1, 3);
  h.Arc("0:2", "0:2", "c", "0", 3, 4);
  h.Arc("0:3", "0:3", "w:q", "0", 1, 5);
  ASSERT_EQ(h.Start(), 0);
  const struct {
    int window, lookback;
    const char *expected;
  } cases[] = {
      {255, -1, "g:[a,a,c,q]\ng:[a,a,p]"},
      {1, -1, "g:[a,a,c,q]\ng:[a,q]"},
      {1, 0, "g:[a,a,c,q]"},
  };
  for (const auto &c : cases) {
    h.Options();
    h.ipc.nbest = 0;
    h.ipc.framewindow = (uint16_t)c.window;
    h.ipc.lookback = (int8_t)c.lookback;
    EXPECT_EQ(h.Parse("a a c w"), c.expected) << c.window << " " << c.lookback;
  }
}
