// Robust parser: grammar compiler, compiled networks and the robust parse.
//
// Contract:
// - A grammar is a tree of nets, one net per file NAME.gra in the current
//   directory. Rules inside a file are rewrite patterns expanded in place;
//   a reference [x] is a transition into net x. Nets may not reach
//   themselves, rules may not name themselves, and a rule must be referenced
//   earlier in its file than where it is defined.
// - Every routine returns 0 on success and 1 (or null) on failure, with the
//   reason appended to a result text that reads innermost first; each line
//   ends in "file(SOURCE) line(N)\n".
// - Compiled nets are NAME.rtn (the net and every net below it) and NAME.net
//   (the net alone). Both carry a marker, a format version and a CRC-32 of
//   their contents; a file that fails any check is ignored and the grammar
//   is compiled again.
// - The parse reads words one at a time; a word that no expected terminal
//   matches is skipped. Paths that reach the end of the top net are ranked
//   and the best are rendered as bracketed texts such as
//   flights:[i,want,to,fly,to,city_fs:[new,york]].
//
// Numeric choices: nesting of nets is limited to 24 levels, an input to 254
// words, a grammar to 4,000,000 states.
#ifndef QUORLET_RTN_H
#define QUORLET_RTN_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "GDPC_Hash.h"
#include "GD_hash.h"
#include "mem.h"
#include "trailer.h"

namespace rtn {

constexpr int kMaxDepth = 24;      // nets nested below the top net
constexpr int kMaxInput = 254;     // words of one input
constexpr int kMaxStates = 4000000;

// Read statuses of RTN_Create.
enum { RS_FAIL = 0, RS_GRA = 1, RS_RTN = 2, RS_NET = 3 };


enum ArcKind : uint8_t { ARC_NULL = 0, ARC_TERM = 1, ARC_NET = 2 };

struct Arc {
  int32_t to;
  uint8_t kind;
  int32_t id;  // terminal index (ARC_TERM) or net index (ARC_NET) of the Grammar
};

// One compiled net. State 0 is its start, state 1 its end. The arcs leaving
// state s are arcs[first[s]] .. arcs[first[s + 1] - 1].
struct Net {
  std::string name;            // "[city_fs]", brackets included
  std::vector<int32_t> first;  // state count + 1 entries; empty until defined
  std::vector<Arc> arcs;
  int64_t graTime = 0;         // modification time of NAME.gra (ns)
  bool fWrite = false;         // compiled in this session: write back
  bool fromNetFile = false;    // read from NAME.net (no sub-net copies)

  bool Defined() const { return !first.empty(); }
  int States() const { return first.empty() ? 0 : (int)first.size() - 1; }
  const Arc *Begin(int s) const { return arcs.data() + first[s]; }
  const Arc *End(int s) const { return arcs.data() + first[s + 1]; }
  // Sets the arcs from one list per state.
  void SetArcs(const std::vector<std::vector<Arc>> &out);
};

// A tree of nets; net 0 is the top net.
//
// Terminals live in one flat string table `pht`: the key of a terminal is
// its name as written ("boston:BOS", value: its index), and "U side" / "L
// side" name the first terminal with that upper or lower side (value: its
// index; upperNext/lowerNext chain the others). A compiled file stores the
// table as it is.
struct Grammar {
  std::vector<Net> nets;
  std::unordered_map<std::string, int> netIndex;  // "[x]" -> index
  GDPC_HashTable pht;
  std::vector<int32_t> termKey;  // terminal -> its entry in pht
  std::vector<int32_t> upperNext, lowerNext;

  int AddTerminal(const std::string &name);
  int TermCount() const { return (int)termKey.size(); }
  const char *TermName(int t) const { return GDPC_Key(pht, termKey[t]); }
  std::string Upper(int t) const;  // the part before the first ':' (all without one)
  std::string Lower(int t) const;  // the part after the first ':' (all without one)
  int FindTerminal(const std::string &name) const;
  // First terminal whose upper (or lower) side is w, -1 when none; then Next.
  int FirstBySide(bool upper, const std::string &w) const;
  int NextBySide(bool upper, int t) const { return upper ? upperNext[t] : lowerNext[t]; }
  int FindNet(const std::string &bracketed) const;
  // Nets reachable from net i, i first, in a fixed order.
  std::vector<int> Subtree(int i) const;
};

// Reports of table growth: with `print` each line goes to `out`, with `log`
// it is appended to "allocLog.txt" in the current directory.
struct AllocLog {
  bool print = false, log = false;
  std::function<void(const std::string &)> out;
};
// Grows the capacity `cap` by `step` until it holds `count` elements,
// reporting each growth as "FN(NET): prevSize(A) STEPNAME(STEP) size(B)".
// 1 with the reason in res when allocLog.txt cannot be opened.
int RTN_ReportGrowth(const AllocLog &a, const char *fn, const char *stepName, int step,
                     const std::string &net, int &cap, size_t count, std::string &res);

// Options of the compile and of the file choice.
struct CompileOptions {
  AllocLog alloc;           // growth of the terminal string tables of each net compiled
  // Progress dots of a compile: one per rule expanded and eight per net
  // packed, 16 to a line, a full line wiped with "\r", ten tabs and "\r".
  bool dots = false;
  std::function<void(const std::string &)> dotsOut;
  int readStatus = RS_RTN;  // RS_RTN: prefer NAME.rtn, RS_NET: prefer NAME.net
  bool rebuild = true;      // check every net's NAME.gra against a compiled file
  std::string dir;          // directory of the grammar files ("" = current)
};

// Compiles or loads the grammar NAME (base name, no extension) into g.
// Returns 0, or 1 with the reason in res.
int RTN_Create(Grammar &g, const std::string &name, const CompileOptions &opt,
               std::string &res);

// Compiles grammar text directly (no files, no sub-nets); for tests and fuzzing.
int RTN_CompileText(Grammar &g, const std::string &name, const std::string &text,
                    std::string &res);

// Splits a text of several net definitions into one NAME.gra per net.
int RTN_Filize(std::string &res, const std::string &text, const std::string &dir = "");

// Compiled files. Write: NAME.rtn and NAME.net for net i into dir.
int RTN_Write(const Grammar &g, int i, const std::string &dir, std::string &res);
// Reads the packed nets stored in the "rtn/RTNet" field of a compiled file.
int RTN_ReadFile(const std::string &path, std::string &bytes, std::string &res);
// Registers the container type "rtn/RTNet" (once per process).
void RTN_RegisterTypes();
// Serialises the nets of `which` (first = the file's own net) to bytes.
std::string RTN_Pack(const Grammar &g, const std::vector<int> &which, bool withSubnets);
// Reads bytes made by RTN_Pack into g (nets already present by name are kept).
// Returns the index of the file's own net, or -1 with the reason in res.
// verifyCheck 0 skips the payload's CRC, for bytes whose container has just
// checked its own; every count, index and offset is checked all the same.
int RTN_Unpack(Grammar &g, const std::string &bytes, std::string &res,
               std::vector<std::string> *missingSubnets = nullptr, bool verifyCheck = true);

// ----------------------------------------------------------------------------
// The parse.

struct ParseOptions {
  int prune = 2;        // 0: keep every path at a state; >0: keep the best
  int nbest = 1;        // paths printed; 0 = every finished path
  int maxfi = 1;        // rank more "fi" nets first
  int framewindow = 255;
  int lookback = -1;    // predictions of earlier positions joined; -1 = all
  int upper = 1;        // match input on the upper side of terminals
  int canonical = 0, tail = 0, hide = 0, transcript = 0, showoog = 0;
  int prolog = 0, prettyprint = 0, score = 0, input = 0, debug = 0;
  int printallocs = 0, logallocs = 0;
};

struct Score {
  int word = 0, repair = 0, oog = 0, fscore = 0, netscore = 0;
  int maxLevel = 0;
  uint8_t w = 1;         // whether the latest word counted (kept by words that enter no net)
  int8_t lastKind = -1;  // NetKind of the latest net counted, -1 before any
  uint16_t fs[kMaxDepth + 1] = {};
  uint64_t bits[4] = {};  // input positions consumed, position p = bit p
};

struct Frame {
  int16_t net;
  int32_t state;  // current state; for outer frames the state to return to
  int16_t entry;  // input position at which this net was entered
};

struct Item {
  int prev;       // previous item of the path, -1 for the start
  int pos;        // input position consumed, -1 for the start
  int term;       // terminal consumed
  int config;     // interned (net, state) stack after the word
  int depth;      // frames in stack
  Frame *stack;   // in the parser's item pool, valid until its reset
  Score sc;
};

struct Expect {
  int term;
  int config;   // configuration after the terminal
  int kept;     // frames of the predicting stack kept (the rest were left)
};

class Parser {
 public:
  explicit Parser(const Grammar &g);
  ~Parser();
  Parser(const Parser &) = delete;
  Parser &operator=(const Parser &) = delete;
  void Reset();
  // Feeds one word (position = number of words fed before). Returns 0, or 1
  // with the reason in res.
  int Word(const std::string &w, const ParseOptions &o, std::string &res);
  // The n-best texts of the input so far (empty when nothing finished).
  int Finished(const ParseOptions &o, std::vector<std::string> &out, std::string &res);
  // Terminals expected at the next position (upper or lower side).
  std::vector<std::string> Expectations(const ParseOptions &o);
  const std::vector<std::string> &Words() const { return words_; }
  const std::vector<bool> &Matched() const { return matched_; }
  size_t ItemCount() const { return items_.size(); }
  // Where growth lines of the parse tables (printallocs) and the trace
  // (debug) go.
  void SetAllocOutput(std::function<void(const std::string &)> out) { allocOut_ = std::move(out); }

 private:
  struct Closure {
    std::vector<Expect> exp;
    bool finishable = false;
  };
  void Start();
  int Intern(const std::vector<std::pair<int, int>> &cfg);
  const Closure &ClosureOf(int config);
  void Enroll(int item);
  int Render(const std::vector<int> &path, const ParseOptions &o, std::string &text,
             std::string &res) const;

  const Grammar &g_;
  std::vector<Item> items_;
  std::vector<std::vector<std::pair<int, int>>> configs_;
  GDH_HashTable configIndex_;  // stack name ("0:5_2:0") -> index in configs_
  MemPool *pool_;              // the frames of the items of one input
  std::vector<std::unique_ptr<Closure>> closures_;
  std::vector<std::vector<std::pair<int, int>>> expectByTerm_;  // term -> (item, exp index)
  std::vector<std::vector<int>> finished_;                       // per position
  std::vector<std::string> words_;
  std::vector<bool> matched_;
  int ReportGrowth(const ParseOptions &o, std::string &res);
  std::function<void(const std::string &)> allocOut_;
  // Capacities of the parse tables; they grow and stay grown until the
  // parser is released. Predictions are counted per terminal and position.
  int ptoaCap_ = 16384, ppnCap_ = 128, nodeCap_ = 512, finishedCap_ = 16384;
  size_t predictions_ = 0;
  std::vector<int> lastPrediction_;  // terminal -> position of its newest prediction
  int repairNet_ = -1;  // "[X_repair]" of a top net "[X_type]": its words leave no bit
  bool started_ = false;
};

// Ranking of two finished or competing paths: >0 a better, <0 b better, 0 tie.
int CompareScores(const Score &a, const Score &b, const ParseOptions &o);

// The indented form of a parse text; 1 with the reason in res when its
// brackets do not balance.
int RTN_PrettyPrint(const std::string &text, bool tail, std::string &out, std::string &res);

// Net name kinds, by the text after the last '_' of "[name]".
enum NetKind { NK_PLAIN, NK_FS, NK_REPAIR, NK_OOG, NK_FI };
NetKind KindOf(const std::string &bracketed);

// A readable listing of the nets (net table, then arcs per state).
std::string RTN_PrintText(const Grammar &g);

// The tables of the grammar chosen by a mask: 0x1 every string table, 0x2
// hash statistics, 0x4 the origin table (one origin per state of a net),
// 0x8 symbols, 0x10 nets, 0x40 context entries, 0x80 terminals, 0x100 upper
// and 0x200 lower sides, 0x800 origin counts and memory. The text goes to
// `out`; 0 always.
int RTN_Print(const Grammar &g, int mask, std::string &out, std::string &res);

}  // namespace rtn

#endif
