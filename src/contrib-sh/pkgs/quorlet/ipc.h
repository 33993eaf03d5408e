// The parse state of the robust parser (InputParserControl) and the parse
// over a compiled grammar's origin tables: one step per input word, the walk
// of the active paths, the pruning of finished paths, and the text and
// n-best output of the finished parses.
//
// Contract:
// - One InputParserControl serves one parse at a time. RTN_InitParse makes
//   its tables (the caller has zeroed it and set `probbeam`);
//   RTN_ResetParserControls clears it before every input; RTN_GetPossibilities
//   is called once with *inputIndex 0 (set-up) and then once per word ("cq"
//   ends the input); RTN_PrintFinished prints or collects the n best parses;
//   RTN_FreeInputParserControl releases it.
// - Every table holds its elements by value and refers to the others by
//   index (-1 = none), so growth never invalidates a reference. Elements past
//   `count` are zero.
// - Every routine returns 0 on success and 1 on failure, appending its text
//   to the ParserControl's `pres`, innermost first, each line ending in
//   "file(rtnet) line(N)\n".
// - Text written "to the channel" goes to the ParserControl's `tclChannel`
//   through the writer installed with RTN_SetChannelWriter (standard output
//   when none is installed).
// - Limits: 254 input positions, 24 nesting levels, 4096 paths at one prune
//   origin, 8191 finished paths printed from one input, 32766 candidate
//   terminals of one word. Texts and words have no length limit.
// - Choices made here:
//   - A path element whose arc ends the net has nextOrigin ARC_ENDS_NET; the
//     walk finishes exactly those paths.
//   - A dot-origin key that a matched element or a join looks for and that
//     the walk did not make is made with the word 0 (the join then decides
//     on the other tests); it is not a failure.
//   - The canonical form drops a "_c" net's whole bracket, nested nets
//     included, so that the text stays balanced.
//   - The input trailer shows a word without ':' whole, whichever side is
//     asked for.
//   - The repair net is looked up anew for every parse; a grammar without
//     one has none.
//   - The trace of a path in the pruning goes to the channel whole.
#ifndef QUORLET_IPC_H
#define QUORLET_IPC_H

#include <cstdint>
#include <string>
#include <vector>

#include "GD_hash.h"
#include "mem.h"
#include "pc.h"

namespace rtn {

enum {
  PTOATABLE_MEMSIZE = 16384,
  TERMINALTABLE_MEMSIZE = 512,
  PPN_TABLE_SIZE = 128,
  PSTN_TABLE_SIZE = 256,
  PONLNode_TABLE_SIZE = 256,
  PONode_TABLE_SIZE = 256,
  ACTIVEPATH_TABLESIZE = 128,
  FINISHEDPATH_TABLESIZE = 16384,
  FPSTRING_TABLEINCR = 32768,
  CURRENTPATHARRAY_SIZE = 255,  // per-position arrays
  PARENTSIZE = 24,              // nesting levels of a path
  FPTOAO_SIZE = 4096,           // paths at one prune origin
  PTOAOFFSETINDEXARRAY_SIZE = 8192,  // finished paths collected for output
  TERMINALENTRY_SIZE = 24       // first capacity and step of terminalEntry
};

constexpr uint16_t NO_POSITION = 0xFFFF;  // prevPosition: no step before
constexpr uint16_t ARC_ENDS_NET = 0xFFFF;  // nextOrigin: the arc ends its net

// A terminal node: the path elements that continue with one terminal
// predicted at one position, or a finished token list.
struct TerminalEntry {
  int32_t count;
  int32_t first;
  int32_t last;
  int32_t origin;        // origin whose context group predicted the terminal
  int32_t groupIndex;    // that group's index within the origin
  int32_t contextGroup;  // its context group number
  int32_t lastGroup;     // first element of the node's last group
  int32_t pruneOrigins;  // PONLNode list of prune origins made at this node
  int32_t pruneLinks;    // PONLNode list linking to prune origins elsewhere
};

// A path element: one step of one partial path, in the list of the
// terminal node whose terminal the step consumes.
struct PtoaEntry {
  uint16_t fromNet;  // state the step started from (origin, prefix, arc)
  uint16_t fromPrefix;
  uint16_t fromArc;
  uint16_t prevPosition;  // position of the previous step's terminal, NO_POSITION
  uint16_t prevCandidate;
  uint16_t net;  // current origin, prefix and arc
  uint16_t prefix;
  uint16_t arc;
  uint16_t nextOrigin;  // ARC_ENDS_NET when the arc ends the net
  int16_t position;     // position consumed, -1 before the match
  int16_t candidate;
  uint16_t bitBytes;
  int32_t contextGroup;
  int32_t next;  // node list
  int32_t prev;
  int32_t finishedNext;
  int32_t nextGroup;  // first element of the next group (read at a group's first)
  int32_t prevGroup;  // first element of the previous group
  int32_t prevStep;   // the path one step back
  int32_t pruneNet;   // origin whose name forms the "PO" key
  int32_t pruneSource;
  int32_t poNode;
  GDH_HashEntry *dotPrefix;  // the element's "DP" entry
  int32_t activePath;        // cached score; below -1: -2 - FinishedPath record
  int32_t steps;
  uint8_t bits[32];  // one bit per position, position 0 = 0x80 of byte 0
  uint16_t depth;    // steps at the current nesting level
  int8_t label;
  int8_t prevLabel;
};

// A prediction of one terminal; the chain's newest node is the value of
// the terminal's "%s T" key.
struct PpnEntry {
  uint16_t position;
  int16_t upperIndex;
  int16_t lowerIndex;
  uint16_t skipped;
  int32_t newer;
  int32_t older;
};

// One expected terminal of a position (a list per position, newest first).
struct PstnEntry {
  int32_t terminal;  // TerminalTable index
  int32_t next;
  int32_t prev;
};

struct PONode {
  int32_t next;
  int32_t element;
};

struct PONLNode {
  int32_t head;
  int32_t next;
};

// Counts of one nesting level of a scored path, kept in a list per cached
// score; items come from the parse's item pool.
struct LevelItem {
  int32_t fsCount;
  int32_t entered;
  int32_t left;
  LevelItem *next;
  LevelItem *prev;
};

// The score of a path prefix.
struct ActivePath {
  int32_t WordScore;
  int32_t RepairScore;
  int32_t oogScore;
  LevelItem *levelHead;
  LevelItem *levelTail;
  int32_t resumedFrom;
  uint16_t FScore;
  uint16_t NetScore;
  uint8_t lastDepth;
  uint8_t maxLevel;
};

// A growable table of records held by value; `table` always has capacity
// slots and the slots from `count` on are zero.
template <class T>
struct IpcTable {
  std::vector<T> table;
  int32_t count = 0;
  int32_t Capacity() const { return (int32_t)table.size(); }
  T &operator[](size_t i) { return table[i]; }
  const T &operator[](size_t i) const { return table[i]; }
};

// The plht entries that a parse made, deleted again at reset.
struct TerminalEntryList {
  std::vector<GDH_HashEntry *> pointer;
  int32_t count = 0;
  int32_t size = 0;
  int32_t incr = 0;
};

// What the input was at one position and label slot.
struct BeamCell {
  std::vector<std::string> item;  // candidate terminal names; empty = none
  std::vector<int32_t> value;     // their TerminalTable indices
};

struct InputParserControl {
  TerminalEntryList terminalEntry;
  IpcTable<PtoaEntry> ptoa;
  IpcTable<TerminalEntry> terminal;
  int32_t finishedTokenList[CURRENTPATHARRAY_SIZE];
  int32_t finishedTokenPosition[CURRENTPATHARRAY_SIZE];
  int32_t finishedTokenListCount;
  IpcTable<PpnEntry> ppn;
  IpcTable<PstnEntry> pstn;
  IpcTable<PONLNode> ponl;
  IpcTable<PONode> pon;
  IpcTable<ActivePath> prunePath;
  IpcTable<ActivePath> activePath;
  // The output's string table lives in the activePath memory: its size in
  // bytes once the output has grown it (0: the table's own size).
  int32_t activePathBytes = 0;
  MemPool *itemPool = nullptr;
  int16_t inputCount;
  // Per label slot, CURRENTPATHARRAY_SIZE positions each.
  std::vector<std::vector<BeamCell>> beamItem;
  std::vector<std::vector<uint8_t>> beamOwned;  // 1: item[0] is an unmatched input word
  uint16_t skipCount;
  int32_t expectHead[CURRENTPATHARRAY_SIZE];
  uint8_t fFinished;
  int32_t symbolCount;
  // Parse options.
  int8_t prolog, prettyprint, nbest, tail, hide, input, score, canonical, transcript, tcl, showoog,
      maxfi, prune, lookback, beam, debug, printallocs, logallocs, upper, dots, time, predictionbeam;
  int8_t probbeam;  // label slots per position
  uint16_t framewindow;
  int32_t gdebug;
  double probfactor;
  uint16_t longestFinished;
  int16_t finishedTokenListArrray[CURRENTPATHARRAY_SIZE];
};

// Sets every member to its zero state (what `rp init` does before
// RTN_InitParse); the tables are released.
void RTN_ZeroInputParserControl(InputParserControl *ipc);

int RTN_InitParse(ParserControl *pc, InputParserControl *ipc);
int RTN_InitInputParserControl(ParserControl *pc, InputParserControl *ipc);
int RTN_ResetProbBeam(ParserControl *pc, InputParserControl *ipc, int8_t width);
int RTN_ResetParserControls(InputParserControl *ipc, ParserControl *pc);
void RTN_FreeInputParserControl(InputParserControl *ipc, ParserControl *pc);

int RTN_AllocTerminalTableMemory(ParserControl *pc, InputParserControl *ipc);
int RTN_AllocPtoaTableMemory(ParserControl *pc, InputParserControl *ipc);
int RTN_AllocPONodeTableMemory(ParserControl *pc, InputParserControl *ipc);
int RTN_AllocPONLNodeTableMemory(ParserControl *pc, InputParserControl *ipc);
int RTN_AllocPPNTableMemory(ParserControl *pc, InputParserControl *ipc);
int RTN_AllocPSTNTableMemory(ParserControl *pc, InputParserControl *ipc);
int RTN_AllocActivePaths(ParserControl *pc, InputParserControl *ipc, IpcTable<ActivePath> *table);
int RTN_AllocEntries(ParserControl *pc, InputParserControl *ipc);

// One parse step (see the contract); labels holds *labelCount labels.
int RTN_GetPossibilities(ParserControl *pc, int32_t *inputIndex, int32_t *labelCount,
                         const char *const *labels, const float *scores, InputParserControl *ipc);
int RTN_WalkActivePaths(ParserControl *pc, InputParserControl *ipc, int32_t node,
                        const char *const *labels);
int RTN_PruneActive(ParserControl *pc, InputParserControl *ipc, int32_t ptOffset);
int RTN_PruneActiveGroup(ParserControl *pc, InputParserControl *ipc, int32_t ptOffset, int32_t element,
                         int unlinkOrigins);
void RTN_ReverseByteBits(const uint8_t *in, uint8_t *out);
int RTN_PrintPath(ParserControl *pc, InputParserControl *ipc, int32_t element, int32_t ptOffset,
                  uint8_t prolog, uint8_t indented, uint8_t blankLine, int32_t unused);
// tcl nonzero: the texts become pc->pres (reset first), separated by "\n".
int RTN_PrintFinished(ParserControl *pc, InputParserControl *ipc, int tcl);

// Where channel text goes: writer(pc->tclChannel, text). Null restores the
// default (standard output).
void RTN_SetChannelWriter(void (*writer)(void *channel, const char *text));

// The terminals expected at a position (names as the `upper` option shows
// them), newest first; for console prompts.
std::vector<std::string> RTN_Expectations(const ParserControl *pc, const InputParserControl *ipc,
                                          int position);

}  // namespace rtn

#endif
