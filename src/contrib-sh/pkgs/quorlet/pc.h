// The compiled-net record of the robust parser (ParserControl) and the
// grammar-structure tables that hang off it, with the routines that make,
// grow, fill and release them.
//
// Contract:
// - Every table is a Grow<T> (or a record holding Grow<T> members): `table`
//   always has `capacity` slots, `count` of them in use, and the table grows
//   by `step` slots through its GDPC_Alloc... routine when count has reached
//   capacity. New slots are value-initialised (offsets -1, net flags '1'),
//   and a new slot whose record owns sub-tables gets them at once (2 slots,
//   step 4), so every slot below capacity is usable.
// - Cross-references between tables are indices, never addresses. Texts of
//   the string tables are kept both as the key offset in `pht` (what a
//   compiled file stores) and as a copy (`strings`), so that a reader never
//   holds a pointer into a key table that may move.
// - A "null" text (a context term without a terminal, an arc without a
//   next-net text, a term without a name) is the empty string.
// - Every routine returns 0 on success and 1 on failure, appending its
//   failure text to `pres`, innermost first, each line ending in
//   "file(grammarDefinitionParserControl) line(N)\n".
// - Counts that the parse packs into 16 bits (origins, prefixes, arcs,
//   terminals of an arc, context groups of an origin) are checked when a
//   slot is added: going past 65535 fails with a text instead of wrapping.
// - Growth of the tables with a size constant writes one line per growth:
//   on standard output with `fPrintAllocs`, appended to "allocLog.txt" with
//   `fLogAllocs`. A log file that cannot be opened gives a warning on
//   standard error; the compile goes on.
// - Progress dots go to `tclChannel` through the writer installed with
//   GDPC_SetDotWriter (standard output when none is installed), 16 a line.
#ifndef QUORLET_PC_H
#define QUORLET_PC_H

#include <cstdint>
#include <string>
#include <vector>

#include "GDPC_Hash.h"
#include "GD_hash.h"
#include "ul_hash.h"

struct CntrObj;
struct CntrFile;

namespace rtn {

// ---------------------------------------------------------------------------
// Growable table

template <class T>
struct Grow {
  std::vector<T> table;  // capacity slots
  int32_t count = 0;
  int32_t capacity = 0;
  int32_t step = 0;
  T &operator[](size_t i) { return table[i]; }
  const T &operator[](size_t i) const { return table[i]; }
};

// Initial capacities and steps.
enum {
  TERM_TABLESIZE = 8, TERM_TABLESTEP = 16,           // TerminalTable, UpperTable, LowerTable, SymbolTable
  TLIST_TABLESIZE = 128,                               // ptlist (size and step)
  TINDEX_TABLESIZE = 256,                              // ptindex
  NAME_TABLESIZE = 2, NAME_TABLESTEP = 4,              // NetTable and InternalNet
  SUB_TABLESIZE = 2, SUB_TABLESTEP = 4,                // every sub-table of a record
  ORIGIN_TABLESIZE = 8, ORIGIN_TABLESTEP = 24,         // From
  HLINDEX_TABLESIZE = 512,                             // phli
  HIERARCHY_TABLESIZE = 256,                           // phl
  CONTEXTTERM_TABLESIZE = 512,                         // pct
  CONTEXT_TABLESIZE = 256,                             // pcontext
  NEXTNET_TABLESIZE = 1024,                            // pnn
  NULLTO_TABLESIZE = 8, NULLTO_TABLESTEP = 16,         // nullTo
  ENTRY_TABLESIZE = 8, ENTRY_TABLESTEP = 16,           // GDH_EntryTable
  MAX_HIERARCHY_SLOTS = 24,                            // Rewrite slots of the work record
  COUNT16_LIMIT = 65535                                // 16-bit counts of the origin table
};

// ---------------------------------------------------------------------------
// String tables and terminal lists

// TerminalTable and SymbolTable use strings and offsets; UpperTable and
// LowerTable add tlist (per string the index of its ptlist entry); NetTable
// adds flags (per net '1' when made, 0 or 3 as the compiler marks it).
struct StringTable {
  std::vector<std::string> strings;
  std::vector<int32_t> offsets;  // key offset in pht, -1 when none
  std::vector<int32_t> tlist;
  std::vector<char> flags;
  int32_t count = 0;
  int32_t capacity = 0;
  int32_t step = 0;
};

struct TerminalList {
  int32_t first = -1;  // ptindex entry
  int32_t last = -1;
  int32_t count = 0;
};

struct TerminalIndex {
  int32_t terminal = -1;
  int32_t next = -1;
};

// ---------------------------------------------------------------------------
// Rewrite rules

enum TermKind { TK_NONE = 0, TK_NET = 2, TK_RULE = 6, TK_TERMINAL = 10 };
enum { CORNER_INITIAL = 1, CORNER_FINAL = 2 };

struct RhsTerm {
  uint8_t plus = 0;  // 1 when written with '+'
  uint8_t star = 0;  // 2 when written with '*'
  int32_t from = 0;
  int32_t to = 0;
  int32_t rightState = 0;  // the saved `to`
  int32_t kind = TK_NONE;
  uint8_t cornerStatus = 0;
  uint8_t patternCornerStatus = 0;
  int32_t rhbi = -1;  // the referencing rule, alternative and term
  int32_t rhsi = -1;
  int32_t rti = -1;
  std::string name;  // empty: no name; net references keep their brackets
};

struct Rhs {
  Grow<RhsTerm> term;
};

struct RewriteSide {
  Grow<Rhs> rhs;
  int32_t refCount = 0;  // distinct references to the rule
  uint8_t flag = 0;      // prefix and suffix sharing on
};

struct Rewrite {
  Grow<RewriteSide> rhb;       // rule 0 is the net's own header
  std::vector<std::string> lhs;  // left-hand names, parallel to rhb (capacity slots)
  std::string netName;         // the net's name in brackets
};

// ---------------------------------------------------------------------------
// Non-terminals and the expander's records (compile time only)

struct NTArc {
  int32_t start = 0;
  int32_t end = 0;
  int32_t rhbi = -1;
  int32_t rhsi = -1;
  int32_t rti = -1;
  uint8_t cornerStatus = 0;
  uint8_t patternCornerStatus = 0;
  std::string text;         // next-net text given by the arc, empty for none
  int32_t ownLevel = -1;    // phli index of the arc's own level
  int32_t outerLevel = -1;  // phli index of the last level of its chain
  int32_t chainLength = 0;
  int32_t rwCount = 0;      // alternatives expanded for the referenced rule
};

enum NTKind { NT_NETSTART = 1, NT_NET = 2, NT_RULE = 6 };

struct NT_Array {
  Grow<NTArc> arcs;
  std::string name;
  int32_t kind = 0;
  int32_t value = -1;  // NetTable index of a net; -1 for a rule or when cleared
};

// The reference being expanded by the rewrite-pattern expander.
struct CNonTerm {
  int32_t refCount = 0;
  std::string name;  // the rule's name
  int32_t kind = 0;
  int32_t rhbi = -1;  // the referencing rule, alternative and term
  int32_t rhsi = -1;
  int32_t rti = -1;
  int32_t start = 0;  // start and end states of the reference
  int32_t end = 0;
  int32_t link = 0;   // 1 for rule 0, else the referencing term's rightState
};

// The work record of the arc being added by the non-terminal pass.
struct WorkRecord {
  std::string text;   // text of the first context term, empty for none
  int32_t symbol = 0;  // pht key offset of the origin name's text
  int32_t foi = 0;     // origin index
  int32_t depth = 0;   // depth + 1 of the imported entry (0: a rule's own arc)
  int32_t groupNumber = 0;
  int32_t fInitialGroupInstance = 0;  // group-first flag
  Rewrite *rewrite[MAX_HIERARCHY_SLOTS] = {};  // Rewrite of each level, innermost first
  int32_t firstLevel = -1;  // first phli entry of the import
  int32_t endLevel = -1;    // end of its chain
  int32_t hCount = 0;       // number of levels
  int32_t firstTerm = -1;   // first and last context term (pct)
  int32_t lastTerm = -1;
  int32_t contextTermCount = 0;
};

// ---------------------------------------------------------------------------
// Origin table

struct PrefixArc {
  Grow<int32_t> terminal;  // terminal indices
  int32_t symbol = 0;      // SymbolTable index of the ToTag text
  int32_t ToState = 0;     // 1: the arc ends the net
  uint8_t value = 0;       // the caller's arc value
  uint8_t selfLoopDepth = 0;  // printed as "fSLP"
};

struct OriginPrefix {
  Grow<PrefixArc> arc;
  int32_t symbol = 0;  // SymbolTable index of the prefix text
  uint8_t value1 = 0;  // the caller's two prefix values
  uint8_t value2 = 0;
};

// The arcs of one prefix within a context group.
struct TermPrefixArc {
  Grow<uint16_t> arc;  // arc indices of the prefix
  int32_t prefix = 0;  // prefix index
};

struct ContextGroup {
  Grow<int32_t> term;       // terminal indices
  Grow<TermPrefixArc> tpa;  // prefix entries
  int32_t groupNumber = 0;
};

struct Origin {
  Grow<OriginPrefix> prefix;
  Grow<ContextGroup> group;
  int32_t symbol = 0;  // SymbolTable index of the origin name
  uint8_t depth = 0;   // '_' characters in the origin name
  uint8_t fActive = 0;
};

typedef Grow<Origin> FromTable;

// ---------------------------------------------------------------------------
// Null transitions (compile time only)

struct NullToDestination {
  Grow<int32_t> foi;        // origin indices of the sources
  int32_t destination = 0;  // SymbolTable index of the destination's origin name
};

// ---------------------------------------------------------------------------
// Context tables

enum { MODE_NONTERMS = 200, MODE_RULES = 300 };

struct ContextEntry {
  int32_t mode = 0;     // 300 from rules, 200 from the non-terminal pass
  int32_t nextNet = 0;  // offset of the next-net text in pnn
  int32_t withinPatternTermCount = 0;
  int32_t depth = 0;
  int32_t hCount = 0;      // hierarchy levels
  int32_t firstLevel = -1;  // phli index of the innermost level
  int32_t endLevel = -1;    // phli index of the outermost level of its chain
  int32_t foi = 0;
  int32_t groupNumber = 0;
  uint8_t fInitialGroupInstance = 0;
  int32_t firstTerm = -1;  // pct indices
  int32_t lastTerm = -1;
  int32_t contextTermCount = 0;
};

struct ContextTerm {
  std::string text;     // the terminal's text, empty for none
  int32_t terminal = -1;
  int32_t rhsi = 0;
  int32_t next = -1;
};

struct HierarchyLevel {
  int32_t net = 0;  // NetTable index
  int32_t rhbi = -1;
  int32_t rhsi = -1;
  int32_t rti = -1;
  int32_t from = 0;
  int32_t to = 0;
  int32_t cornerStatus = 0;
  int32_t patternCornerStatus = 0;
};

struct HierarchyLevelIndex {
  int32_t level = -1;     // phl index
  int32_t next = -1;      // the enclosing level's entry, -1 at the top
  int32_t previous = -1;  // the entry of the level below, -1 at the bottom
};

// A packed container object: buffer allocated with DB_Malloc.
struct PackedObject {
  char *buffer = nullptr;
  int32_t length = 0;
};

struct ContextObjectStructure {
  CntrObj *contextObject = nullptr;  // data: pcontext
  CntrObj *contextTermObject = nullptr;  // pct
  CntrObj *hlIndexObject = nullptr;  // phli
  CntrObj *hierarchyLevelObject = nullptr;  // phl
  CntrObj *nextNetObject = nullptr;  // pnn
  PackedObject cetpo;  // "rtn/ContextTable"
  PackedObject cttpo;  // "rtn/ContextTermTable"
  PackedObject hlitpo;  // "rtn/HLIndexTable"
  PackedObject hltpo;  // "rtn/HierarchyLevelTable"
  PackedObject nntpo;  // "rtn/NextNetTable"
  uint8_t ownsPacks = 0;
  uint8_t unpacked = 1;
  uint8_t contextAvailable = 0;
};

// ---------------------------------------------------------------------------
// Nets known to a net

struct InternalNetEntry {
  CntrObj *object = nullptr;  // "rtn/RTNet"; its data is the net's ParserControl
  int32_t timeStamp = 0;
  uint8_t owned = 0;
  uint8_t linked = 0;
  uint8_t packOwned = 0;
  PackedObject *packed = nullptr;  // allocated with new; buffer with DB_Malloc
  uint8_t hasPacked = 0;
};

struct InternalNet {
  std::vector<InternalNetEntry> entries;  // capacity slots, parallel to NetTable
  std::vector<Rewrite *> rewrites;
  std::vector<CntrFile *> cntrfile;
  std::vector<uint8_t> fWrite;
  int32_t count = 0;
  int32_t capacity = 0;
  int32_t step = 0;
};

typedef Grow<GDH_HashEntry *> EntryTable;

// ---------------------------------------------------------------------------
// The record

struct ParserControl {
  GDH_HashTable *pnht = nullptr;     // net table of the whole tree (top-level record owns it)
  ParserControl *ptlpc = nullptr;    // the top-level record
  ParserControl *pParent = nullptr;
  std::string pszNextNet;            // next-net text in force, empty for none
  int8_t depth = 0;
  std::string szRTNName;
  int32_t graTimeStamp = 0;
  uint8_t fPrintAllocs = 0;
  uint8_t fLogAllocs = 0;
  uint8_t fRebuild = 0;
  uint8_t fDots = 0;
  std::string pres;                  // failure texts, innermost first
  GDPC_HashTable *pht = nullptr;     // "prtn->pht"; the mark (1) when prepared
  UL_HashTable *pulht = nullptr;     // "prtn->pulht"; the mark when prepared
  StringTable *TerminalTable = nullptr;
  StringTable *UpperTable = nullptr;
  StringTable *LowerTable = nullptr;
  Grow<TerminalList> *ptlist = nullptr;
  Grow<TerminalIndex> *ptindex = nullptr;
  StringTable *SymbolTable = nullptr;
  StringTable *NetTable = nullptr;
  struct Rewrite *Rewrite = nullptr;
  struct InternalNet *InternalNet = nullptr;
  FromTable *From = nullptr;
  struct ContextObjectStructure *ContextObjectStructure = nullptr;
  Grow<ContextEntry> *pcontext = nullptr;
  Grow<ContextTerm> *pct = nullptr;
  Grow<char> *pnn = nullptr;  // count = characters used
  Grow<HierarchyLevel> *phl = nullptr;
  Grow<HierarchyLevelIndex> *phli = nullptr;
  int32_t state = 0;
  int32_t group = 0;
  int32_t one = 0;
  std::string inputBuf;  // the grammar text; "INIT" once prepared
  int32_t index = 0;
  int32_t line = 0;
  CNonTerm *cNonTerm = nullptr;
  WorkRecord *p = nullptr;
  Grow<NT_Array> *nonTerm = nullptr;
  Grow<NullToDestination> *nullTo = nullptr;
  std::string pszContainerPath;
  EntryTable *GDH_EntryTable = nullptr;
  GDH_HashTable *plht = nullptr;  // the mark (1) when prepared
  void *tclChannel = nullptr;     // receives the progress dots
  int32_t dotCount = 0;           // dots on the current line
};

// The mark that RTN_InitPC leaves in pht, pulht and plht of a prepared record.
template <class T>
inline T *PreparedMark() {
  return reinterpret_cast<T *>(static_cast<uintptr_t>(1));
}
template <class T>
inline bool IsPreparedMark(const T *p) {
  return reinterpret_cast<uintptr_t>(p) == 1;
}

// ---------------------------------------------------------------------------
// Making and releasing

int GDPC_Init(ParserControl *pc);
void GDPC_Free(ParserControl *pc);
void GDPC_FreeNonRTNMembers(ParserControl *pc);
// Makes `nonTerm` when absent: 2 entries of 2 arcs each (steps 4).
int GDPC_NewNonTermTable(ParserControl *pc);

// ---------------------------------------------------------------------------
// Growth family: each grows its table by its step (see the contract).

int GDPC_AllocTerms(ParserControl *pc);
int GDPC_AllocUpperLowerStrings(ParserControl *pc, StringTable *table);
int GDPC_AllocTerminalLists(ParserControl *pc);
int GDPC_AllocTerminalIndicess(ParserControl *pc);
int GDPC_AllocSymbols(ParserControl *pc);
int GDPC_AllocNames(ParserControl *pc);  // NetTable and InternalNet together
int GDPC_AllocNT_Arrays(ParserControl *pc);
int GDPC_AllocNTs(ParserControl *pc, NT_Array *nt);
int GDPC_AllocOriginArrays(ParserControl *pc);
int GDPC_AllocOriginPrefixArrays(ParserControl *pc, Origin *origin);
int GDPC_AllocOriginArcArrays(ParserControl *pc, OriginPrefix *prefix);
int GDPC_AllocTerminals(ParserControl *pc, PrefixArc *arc);
int GDPC_AllocOriginContextGroupArrays(ParserControl *pc, Origin *origin);
int GDPC_AllocOriginContextGroupTis(ParserControl *pc, ContextGroup *group);
int GDPC_AllocOriginTPA_Arrays(ParserControl *pc, ContextGroup *group);
int GDPC_AllocOriginTPGA_Arcs(ParserControl *pc, TermPrefixArc *tpa);
int GDPC_AllocRewriteSides(ParserControl *pc, Rewrite *rw);
int GDPC_AllocRhss(ParserControl *pc, RewriteSide *side);
int GDPC_AllocRhsTerms(ParserControl *pc, Rhs *rhs);
int GDPC_AllocHierarchyLevelIndices(ParserControl *pc);
int GDPC_AllocHierarchyLevels(ParserControl *pc);
int GDPC_AllocContextTerms(ParserControl *pc);
int GDPC_AllocContextEntries(ParserControl *pc);
int GDPC_AllocNextNetTableChars(ParserControl *pc);
int GDPC_AllocNullTos(ParserControl *pc);
int GDPC_AllocNullToFois(ParserControl *pc, NullToDestination *entry);
int GDPC_AllocEntries(ParserControl *pc, EntryTable *table);

// The growth line "ROUTINE(NET): prevSize(P) CONSTANT(S) size(N)\n" of a
// table that reports its growth, printed and/or logged as the record's flags
// say (flags and net name of the top-level record). For every growing table
// of the engine, the parse's included.
void GDPC_ReportGrowth(ParserControl *pc, const char *routine, const char *constant, int prevSize,
                       int step, int size);

// ---------------------------------------------------------------------------
// Progress dots

void GDPC_SetDots(bool on);  // the process-wide switch
bool GDPC_DotsOn();
// Writes text on a record's tclChannel; null restores standard output.
void GDPC_SetDotWriter(void (*writer)(void *channel, const char *text));
// One dot (when the switch is on); before the 17th dot of a line, "\r",
// ten tabs and "\r".
void GDPC_Dot(ParserControl *pc);

// ---------------------------------------------------------------------------
// Keys, symbols and origins

// Text of a pht key by its offset.
const char *GDPC_KeyText(const ParserControl *pc, int32_t offset);
// Appends a string to a string table (growing it); answers its index or -1.
int GDPC_AppendString(ParserControl *pc, StringTable *table, const std::string &text, int32_t offset);
// Finds or makes `name` in pht; a new name becomes a SymbolTable entry whose
// index is the key's value. *symbol receives the value. 0 or 1.
int GDPC_MakeSymbol(ParserControl *pc, const std::string &name, int32_t *symbol);
// Finds or makes the origin of `name` ("%s FO" in pht). A new one is
// appended to From with its symbol (GDPC_MakeSymbol of name) and depth (the
// '_' count of name); its key text becomes a symbol too. *foi receives the
// origin index, *isNew whether it was made. 0 or 1.
int GDPC_MakeOrigin(ParserControl *pc, const std::string &name, int32_t *foi, bool *isNew);
// Appends an origin (with its first sub-tables) to From; -1 on failure.
int GDPC_AppendOrigin(ParserControl *pc);

// ---------------------------------------------------------------------------
// Origin tables, null transitions, levels, contexts and terminal arcs

int GDPC_UpdateFromTable(ParserControl *pc, const char *origin, const char *prefix, int prefixValue1,
                         int fromState, int terminal, const char *toTag, int toNet, int toState,
                         int arcValue, int selfLoopDepth, int contextGroup, int withContextTerms,
                         int prefixValue2);

// source: origin name of the source state; destNet: the destination's net
// string; the destination's origin name is destNet ":" destState.
// sourceState and destNetIndex are not read.
int GDPC_UpdateNullToTable(ParserControl *pc, const char *source, int sourceState, const char *destNet,
                           int destNetIndex, int destState);
int GDPC_BackProcessNulls(ParserControl *pc);
int GDPC_BackTraceNulls(ParserControl *pc, int entry);

// The hierarchy-level chain of the term at (rule, alt, term) of rw: its own
// level and those of the references above it, up to the net. *L0 receives
// the first phli entry, *Lend the last, *count the number of levels.
int GDPC_MakeLevelChain(ParserControl *pc, Rewrite *rw, int rule, int alt, int term, int *L0, int *Lend,
                        int *count);

// The prefix ("P%d_...") and suffix ("S%d_...") keys of the term at (rule,
// alt, term) of the record's own Rewrite; the callers decide when they are
// made.
int GDPC_MakeRedundancyKeys(ParserControl *pc, int rule, int alt, int term);

int GDPC_AddTerminalArc(ParserControl *pc, int rule, int alt, int term, Rewrite *rewrite, int mode,
                        int patternCorner, int corner, const char *nextNet, int selfLoop, int fromNonTerms,
                        int parentRule, int parentAlt, int parentTerm, int noRedundancy, int base);

}  // namespace rtn

#endif
