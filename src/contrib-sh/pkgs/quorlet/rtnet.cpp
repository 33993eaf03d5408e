// The robust parse over a compiled grammar's origin tables; see ipc.h.
#include "ipc.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "GDPC_Hash.h"
#include "trailer.h"

namespace rtn {

namespace {

// ---------------------------------------------------------------------------
// Small helpers

std::string Spf(const char *fmt, ...) {
  // Keys are short: one pass into a buffer on the stack, a second only for
  // a long text.
  char buf[256];
  va_list ap;
  va_start(ap, fmt);
  va_list ap2;
  va_copy(ap2, ap);
  int n = vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  std::string s;
  if (n < (int)sizeof buf) {
    s.assign(buf, n > 0 ? (size_t)n : 0);
  } else {
    s.assign((size_t)n, '\0');
    vsnprintf(&s[0], (size_t)n + 1, fmt, ap2);
  }
  va_end(ap2);
  return s;
}

void ForgetLevels();  // the per-parse cache of symbol levels and net kinds

// Keys are made by the thousand in every parse: they are put together in
// reused buffers, numbers as "%d" writes them.
inline std::string &AddInt(std::string &k, long v) {
  char b[24];
  auto r = std::to_chars(b, b + sizeof b, v);
  k.append(b, r.ptr);
  return k;
}
// "PREFIX N " + name, into k.
inline std::string &NumberedKey(std::string &k, const char *prefix, long n, const std::string &name) {
  k.assign(prefix);
  AddInt(k, n) += ' ';
  return k += name;
}
struct KeyBuffers {
  std::string pt, t, fcg, dp, dor, dor2, ref, gd, pac, po, fo, misc;
} g_k;

// What the parse works out from a symbol's name alone, once per parse.
struct SymbolFacts {
  const ParserControl *pc = nullptr;
  std::vector<int32_t> pruneNet;     // see FindPruneNet; -2: not yet known, -1: none
  std::vector<int32_t> lastNumber;   // the number after the last '_'
  std::vector<uint8_t> numberKnown;
  // Per terminal: the hash of "NAME " (the start of its "PT" keys); 0 in
  // `termState`: not yet known, 1: known, 2: the name holds a NUL.
  std::vector<uint32_t> termHash;
  std::vector<uint8_t> termState;
  // Per terminal: its "PT" entry at position ptPosition (-1: none yet).
  // Entries live until the reset, which forgets these facts too.
  std::vector<GDH_HashEntry *> ptEntry;
  std::vector<int32_t> ptPosition;
  std::vector<GDH_HashEntry *> tEntry;  // per terminal: its "NAME T" entry once made
} g_facts;

void CheckFacts(const ParserControl *pc, int32_t sym) {
  if (g_facts.pc != pc) {
    g_facts = SymbolFacts();
    g_facts.pc = pc;
  }
  if ((int32_t)g_facts.pruneNet.size() <= sym) {
    size_t n = std::max<size_t>((size_t)sym + 1, pc->SymbolTable ? (size_t)pc->SymbolTable->count : 0);
    g_facts.pruneNet.resize(n, -2);
    g_facts.lastNumber.resize(n, 0);
    g_facts.numberKnown.resize(n, 0);
  }
}

// Appends a failure line: head + "file(rtnet) line(N)\n".
int Fail(ParserControl *pc, const std::string &head, int line) {
  pc->pres += head + Trailer("rtnet", line);
  return 1;
}
#define FAIL(pc, head) Fail((pc), (head), __LINE__)

void DefaultWriter(void *, const char *text) {
  fputs(text, stdout);
  fflush(stdout);
}
void (*g_writer)(void *, const char *) = DefaultWriter;

void Out(ParserControl *pc, const std::string &text) { g_writer(pc->tclChannel, text.c_str()); }

const std::string &Sym(const ParserControl *pc, int32_t i) { return pc->SymbolTable->strings[i]; }
const std::string &TermName(const ParserControl *pc, int32_t t) {
  return pc->TerminalTable->strings[t];
}
std::string NetName0(const ParserControl *pc) {
  return pc->NetTable && pc->NetTable->count > 0 ? pc->NetTable->strings[0] : std::string();
}

// Value of a pht key, or -1 when absent.
int32_t PhtValue(const ParserControl *pc, const std::string &key) {
  if (!pc->pht) return -1;
  int e = GDPC_StringFind(*pc->pht, key.c_str(), key.size());
  return e < 0 ? -1 : pc->pht->entry[e].value;
}

std::string UpToLast(const std::string &s, char c) {
  size_t i = s.rfind(c);
  return i == std::string::npos ? s : s.substr(0, i);
}
std::string AfterLast(const std::string &s, char c) {
  size_t i = s.rfind(c);
  return i == std::string::npos ? s : s.substr(i + 1);
}
int CountChar(const std::string &s, char c) { return (int)std::count(s.begin(), s.end(), c); }
bool ProperPrefix(const std::string &a, const std::string &b) {
  return a.size() < b.size() && b.compare(0, a.size(), a) == 0;
}

// Bit p of an element's bit string: byte p / 8, mask 0x80 >> (p % 8).
inline void SetBit(PtoaEntry &e, int p) { e.bits[p / 8] |= (uint8_t)(0x80 >> (p % 8)); }
inline void ClearBit(PtoaEntry &e, int p) { e.bits[p / 8] &= (uint8_t)~(0x80 >> (p % 8)); }

// Growth lines of the parse tables: to the channel with `printallocs`,
// appended to "allocLog.txt" with `logallocs`.
int ReportGrowth(ParserControl *pc, InputParserControl *ipc, const char *fn, const char *constant,
                 int prevSize, int step, int size, int line) {
  std::string text = Spf("%s(%s): prevSize(%d) %s(%d) size(%d)\n", fn, NetName0(pc).c_str(), prevSize,
                         constant, step, size);
  if (ipc->printallocs) Out(pc, text);
  if (ipc->logallocs) {
    FILE *f = fopen("allocLog.txt", "at");
    if (!f) return Fail(pc, std::string("Error: fopen failure for allocLog.txt in ") + fn + ": ", line);
    fputs(text.c_str(), f);
    fclose(f);
  }
  return 0;
}

template <class T>
int GrowBy(ParserControl *pc, InputParserControl *ipc, IpcTable<T> &t, int step, const char *fn,
           const char *constant, int line) {
  int prevSize = t.Capacity();
  int size = prevSize + step;
  try {
    t.table.resize((size_t)size);
  } catch (const std::bad_alloc &) {
    return Fail(pc, std::string("dbrealloc failed in ") + fn + ": ", line);
  }
  for (int i = t.count; i < size; i++) memset(&t.table[i], 0, sizeof(T));
  return ReportGrowth(pc, ipc, fn, constant, prevSize, step, size, line);
}

template <class T>
void MakeTable(IpcTable<T> &t, int capacity) {
  t.table.assign((size_t)capacity, T());
  for (auto &x : t.table) memset(&x, 0, sizeof(T));
  t.count = 0;
}

template <class T>
void ClearUsed(IpcTable<T> &t) {
  for (int i = 0; i < t.count; i++) memset(&t.table[i], 0, sizeof(T));
  t.count = 0;
}

// ---------------------------------------------------------------------------
// Keys made by the parse in plht; each new one is listed for the reset.

int Record(ParserControl *pc, InputParserControl *ipc, GDH_HashEntry *e) {
  auto &te = ipc->terminalEntry;
  if (te.count >= te.size && RTN_AllocEntries(pc, ipc)) return 1;
  te.pointer[te.count++] = e;
  return 0;
}

// Creates key in plht (recording it when new); null after a failure, with
// the text "HEAD KIND(KEY): file(...".
GDH_HashEntry *Create(ParserControl *pc, InputParserControl *ipc, const std::string &key, bool *isNew,
                      const char *head, const char *kind, int line) {
  bool n = false;
  GDH_HashEntry *e = GDH_CreateHashEntry(*pc->plht, key.c_str(), &n);
  if (!e) {
    Fail(pc, std::string(head) + kind + key + "): ", line);
    return nullptr;
  }
  if (n && Record(pc, ipc, e)) return nullptr;
  if (isNew) *isNew = n;
  return e;
}
// Creates the "NAME P PT" key of terminal t at position p.
GDH_HashEntry *CreatePT(ParserControl *pc, InputParserControl *ipc, int32_t t, int p, bool *isNew,
                        const char *head) {
  const std::string &name = pc->TerminalTable->strings[t];
  if (g_facts.pc != pc) {
    g_facts = SymbolFacts();
    g_facts.pc = pc;
  }
  if ((int32_t)g_facts.termState.size() <= t) {
    g_facts.termHash.resize((size_t)pc->TerminalTable->count, 0);
    g_facts.termState.resize((size_t)pc->TerminalTable->count, 0);
    g_facts.ptEntry.resize((size_t)pc->TerminalTable->count, nullptr);
    g_facts.ptPosition.resize((size_t)pc->TerminalTable->count, -1);
    g_facts.tEntry.resize((size_t)pc->TerminalTable->count, nullptr);
  }
  // Every walk that reaches an origin predicts its terms again at the same
  // position: the key made first is the one found.
  if (g_facts.ptPosition[t] == p) {
    if (isNew) *isNew = false;
    return g_facts.ptEntry[t];
  }
  uint8_t &state = g_facts.termState[t];
  if (state == 0) {
    state = memchr(name.data(), 0, name.size()) ? 2 : 1;
    g_facts.termHash[t] = GDH_HashMore(GDH_HashMore(0, name.data(), name.size()), " ", 1);
  }
  std::string &key = g_k.pt;
  if (state == 2) {
    key.assign(name.c_str()) += ' ';
    AddInt(key, p) += " PT";
    return Create(pc, ipc, key, isNew, head, "szPossibleTerminal(", __LINE__);
  }
  const size_t n = name.size();
  if (key.size() < n + 32) key.resize(n + 32);
  char *k = &key[0];
  memcpy(k, name.data(), n);
  k[n] = ' ';
  char *end = std::to_chars(k + n + 1, k + n + 24, p).ptr;
  memcpy(end, " PT", 4);
  const size_t len = (size_t)(end + 3 - k);
  const uint32_t h = GDH_HashMore(g_facts.termHash[t], k + n + 1, len - n - 1);
  bool fresh = false;
  GDH_HashEntry *e = GDH_CreateHashEntryHashed(*pc->plht, k, len, h, &fresh);
  if (!e) {
    Fail(pc, std::string(head) + "szPossibleTerminal(" + std::string(k, len) + "): ", __LINE__);
    return nullptr;
  }
  if (fresh && Record(pc, ipc, e)) return nullptr;
  if (isNew) *isNew = fresh;
  g_facts.ptEntry[t] = e;
  g_facts.ptPosition[t] = p;
  return e;
}

GDH_HashEntry *Find(ParserControl *pc, const std::string &key) {
  return GDH_FindHashEntry(*pc->plht, key.c_str());
}

// The dot-origin word: two 15-bit counters (bits 16-30, bits 0-14) and a
// flag (bit 15). A "GDO" word gives way to a word whose counters are both
// at least its own.
bool DotWordNotNewer(intptr_t gdo, intptr_t dot) {
  return ((gdo >> 16) & 0x7FFF) <= ((dot >> 16) & 0x7FFF) && (gdo & 0x7FFF) <= (dot & 0x7FFF);
}
int UpdateGDO(ParserControl *pc, InputParserControl *ipc, const std::string &name, intptr_t word,
              const char *head, int line) {
  bool isNew = false;
  std::string &key = g_k.dor2;
  key.assign("GDO ") += name;
  GDH_HashEntry *g = Create(pc, ipc, key, &isNew, head, "szGDotOrigin(", line);
  if (!g) return 1;
  if (isNew || DotWordNotNewer(g->value, word)) g->value = word;
  return 0;
}

}  // namespace

void RTN_SetChannelWriter(void (*writer)(void *channel, const char *text)) {
  g_writer = writer ? writer : DefaultWriter;
}

void RTN_ReverseByteBits(const uint8_t *in, uint8_t *out) {
  uint8_t b = *in, r = 0;
  for (int i = 0; i < 8; i++) {
    r = (uint8_t)((r << 1) | (b & 1));
    b >>= 1;
  }
  *out = r;
}

// ---------------------------------------------------------------------------
// The record: making, growing, clearing, releasing

void RTN_ZeroInputParserControl(InputParserControl *ipc) {
  if (ipc->itemPool) mem_Nuke(ipc->itemPool);
  ipc->terminalEntry = TerminalEntryList();
  ipc->ptoa = IpcTable<PtoaEntry>();
  ipc->terminal = IpcTable<TerminalEntry>();
  ipc->ppn = IpcTable<PpnEntry>();
  ipc->pstn = IpcTable<PstnEntry>();
  ipc->ponl = IpcTable<PONLNode>();
  ipc->pon = IpcTable<PONode>();
  ipc->prunePath = IpcTable<ActivePath>();
  ipc->activePath = IpcTable<ActivePath>();
  ipc->activePathBytes = 0;
  ipc->beamItem.clear();
  ipc->beamOwned.clear();
  memset(ipc->finishedTokenList, 0, sizeof ipc->finishedTokenList);
  memset(ipc->finishedTokenPosition, 0, sizeof ipc->finishedTokenPosition);
  memset(ipc->expectHead, 0, sizeof ipc->expectHead);
  memset(ipc->finishedTokenListArrray, 0, sizeof ipc->finishedTokenListArrray);
  ipc->finishedTokenListCount = 0;
  ipc->itemPool = nullptr;
  ipc->inputCount = 0;
  ipc->skipCount = 0;
  ipc->fFinished = 0;
  ipc->symbolCount = 0;
  ipc->prolog = ipc->prettyprint = ipc->nbest = ipc->tail = ipc->hide = ipc->input = ipc->score = 0;
  ipc->canonical = ipc->transcript = ipc->tcl = ipc->showoog = ipc->maxfi = ipc->prune = 0;
  ipc->lookback = ipc->beam = ipc->debug = ipc->printallocs = ipc->logallocs = ipc->upper = 0;
  ipc->dots = ipc->time = ipc->predictionbeam = 0;
  ipc->probbeam = 0;
  ipc->framewindow = 0;
  ipc->gdebug = 0;
  ipc->probfactor = 0;
  ipc->longestFinished = 0;
}

namespace {
void MakeTables(InputParserControl *ipc);
void MakeBeam(InputParserControl *ipc, int width) {
  if (width < 1) width = 1;
  ipc->beamItem.assign((size_t)width, std::vector<BeamCell>(CURRENTPATHARRAY_SIZE));
  ipc->beamOwned.assign((size_t)width, std::vector<uint8_t>(CURRENTPATHARRAY_SIZE, 0));
}
}  // namespace

int RTN_InitInputParserControl(ParserControl *pc, InputParserControl *ipc) {
  int8_t probbeam = ipc->probbeam;
  RTN_ZeroInputParserControl(ipc);
  ipc->probbeam = probbeam;
  try {
    MakeTables(ipc);
  } catch (const std::bad_alloc &) {
    RTN_ZeroInputParserControl(ipc);
    return FAIL(pc, "dbmalloc failed in RTN_InitInputParserControl: ");
  }
  for (int i = 0; i < CURRENTPATHARRAY_SIZE; i++) {
    ipc->finishedTokenListArrray[i] = -1;
    ipc->expectHead[i] = -1;
  }
  return 0;
}

namespace {
void MakeTables(InputParserControl *ipc) {
  MakeTable(ipc->ptoa, PTOATABLE_MEMSIZE);
  MakeTable(ipc->terminal, TERMINALTABLE_MEMSIZE);
  MakeTable(ipc->ppn, PPN_TABLE_SIZE);
  MakeTable(ipc->pstn, PSTN_TABLE_SIZE);
  MakeTable(ipc->ponl, PONLNode_TABLE_SIZE);
  MakeTable(ipc->pon, PONode_TABLE_SIZE);
  MakeTable(ipc->prunePath, ACTIVEPATH_TABLESIZE);
  MakeTable(ipc->activePath, ACTIVEPATH_TABLESIZE);
  // Level items of the scores; the size of the item itself, whatever the
  // width of a pointer.
  ipc->itemPool = mem_Init(512, (int)sizeof(LevelItem), 0);
  MakeBeam(ipc, ipc->probbeam);
  ipc->terminalEntry.pointer.assign(TERMINALENTRY_SIZE, nullptr);
  ipc->terminalEntry.size = TERMINALENTRY_SIZE;
  ipc->terminalEntry.incr = TERMINALENTRY_SIZE;
  ipc->terminalEntry.count = 0;
}
}  // namespace

int RTN_InitParse(ParserControl *pc, InputParserControl *ipc) {
  if (RTN_InitInputParserControl(pc, ipc))
    return FAIL(pc, "RTN_InitInputParserControl failure in RTN_InitParse: ");
  ipc->symbolCount = pc->SymbolTable ? pc->SymbolTable->count : 0;
  ForgetLevels();
  return 0;
}

int RTN_ResetProbBeam(ParserControl *pc, InputParserControl *ipc, int8_t width) {
  if (width < 1) return FAIL(pc, Spf("Error: bad value for probbeam(%d) in RTN_ResetProbBeam: ", width));
  ipc->probbeam = width;
  try {
    MakeBeam(ipc, width);
  } catch (const std::bad_alloc &) {
    return FAIL(pc, "dbmalloc failed in RTN_InitInputParserControl: ");
  }
  return 0;
}

int RTN_AllocTerminalTableMemory(ParserControl *pc, InputParserControl *ipc) {
  return GrowBy(pc, ipc, ipc->terminal, TERMINALTABLE_MEMSIZE, "RTN_AllocTerminalTableMemory",
                "TERMINALTABLE_MEMSIZE", __LINE__);
}
int RTN_AllocPtoaTableMemory(ParserControl *pc, InputParserControl *ipc) {
  return GrowBy(pc, ipc, ipc->ptoa, PTOATABLE_MEMSIZE, "RTN_AllocPtoaTableMemory", "PTOATABLE_MEMSIZE",
                __LINE__);
}
int RTN_AllocPONodeTableMemory(ParserControl *pc, InputParserControl *ipc) {
  return GrowBy(pc, ipc, ipc->pon, PONode_TABLE_SIZE, "RTN_AllocPONodeTableMemory", "PONode_TABLE_SIZE",
                __LINE__);
}
int RTN_AllocPONLNodeTableMemory(ParserControl *pc, InputParserControl *ipc) {
  return GrowBy(pc, ipc, ipc->ponl, PONLNode_TABLE_SIZE, "RTN_AllocPONLNodeTableMemory",
                "PONLNode_TABLE_SIZE", __LINE__);
}
int RTN_AllocPPNTableMemory(ParserControl *pc, InputParserControl *ipc) {
  return GrowBy(pc, ipc, ipc->ppn, PPN_TABLE_SIZE, "RTN_AllocPPNTableMemory", "PPN_TABLE_SIZE", __LINE__);
}
int RTN_AllocPSTNTableMemory(ParserControl *pc, InputParserControl *ipc) {
  return GrowBy(pc, ipc, ipc->pstn, PSTN_TABLE_SIZE, "RTN_AllocPSTNTableMemory", "PSTN_TABLE_SIZE",
                __LINE__);
}
int RTN_AllocActivePaths(ParserControl *pc, InputParserControl *ipc, IpcTable<ActivePath> *table) {
  if (table == &ipc->activePath) ipc->activePathBytes = 0;  // the block is its records again
  return GrowBy(pc, ipc, *table, ACTIVEPATH_TABLESIZE, "RTN_AllocActivePaths", "ACTIVEPATH_TABLESIZE",
                __LINE__);
}
int RTN_AllocEntries(ParserControl *pc, InputParserControl *ipc) {
  auto &te = ipc->terminalEntry;
  try {
    te.pointer.resize((size_t)(te.size + te.incr), nullptr);
  } catch (const std::bad_alloc &) {
    return FAIL(pc, "dbrealloc failed for terminal.table.entry in RTN_AllocEntries: ");
  }
  te.size += te.incr;
  return 0;
}

namespace {
void ReleaseBeam(InputParserControl *ipc) {
  for (auto &slot : ipc->beamItem)
    for (auto &cell : slot) {
      cell.item.clear();
      cell.value.clear();
    }
  for (auto &slot : ipc->beamOwned) std::fill(slot.begin(), slot.end(), 0);
}

void DeleteListedEntries(InputParserControl *ipc) {
  auto &te = ipc->terminalEntry;
  for (int i = 0; i < te.count; i++) GDH_DeleteHashEntry(te.pointer[i]);
  std::fill(te.pointer.begin(), te.pointer.end(), nullptr);
  te.count = 0;
}
}  // namespace

int RTN_ResetParserControls(InputParserControl *ipc, ParserControl *pc) {
  ForgetLevels();
  int held = pc->plht && !IsPreparedMark(pc->plht) ? pc->plht->entryCount : 0;
  if (pc->plht && !IsPreparedMark(pc->plht)) {
    // A table that held entries is made anew, sized by them: deleting it
    // frees every entry, so the listed ones need no deleting one by one.
    auto &te = ipc->terminalEntry;
    if (held > 0) {
      std::fill(te.pointer.begin(), te.pointer.begin() + te.count, nullptr);
      te.count = 0;
    } else {
      DeleteListedEntries(ipc);
    }
    if (pc->GDH_EntryTable && pc->GDH_EntryTable->count > 0) {
      for (int i = 0; i < pc->GDH_EntryTable->count; i++) {
        if (pc->GDH_EntryTable->table[i] && held == 0) GDH_DeleteHashEntry(pc->GDH_EntryTable->table[i]);
        pc->GDH_EntryTable->table[i] = nullptr;
      }
      pc->GDH_EntryTable->count = 0;
    }
    // The string tables hold their own copies of the names: nothing to
    // re-point.
    if (held > 0) {
      GDH_DeleteHashTable(*pc->plht);
      *pc->plht = GDH_HashTable();
      GDH_InitHashTable(*pc->plht, 0, held);
    }
  }
  if (pc->SymbolTable && ipc->symbolCount <= pc->SymbolTable->count)
    pc->SymbolTable->count = ipc->symbolCount;
  memset(ipc->finishedTokenList, 0, sizeof ipc->finishedTokenList);
  memset(ipc->finishedTokenPosition, 0, sizeof ipc->finishedTokenPosition);
  ipc->finishedTokenListCount = 0;
  ClearUsed(ipc->ptoa);
  ClearUsed(ipc->terminal);
  ClearUsed(ipc->ppn);
  ClearUsed(ipc->pstn);
  ClearUsed(ipc->ponl);
  ClearUsed(ipc->pon);
  for (auto &a : ipc->prunePath.table) memset(&a, 0, sizeof a);
  for (auto &a : ipc->activePath.table) memset(&a, 0, sizeof a);
  ipc->prunePath.count = ipc->activePath.count = 0;
  if (ipc->itemPool) mem_Reset(ipc->itemPool);
  ReleaseBeam(ipc);
  ipc->inputCount = 0;
  for (int i = 0; i < CURRENTPATHARRAY_SIZE; i++) {
    ipc->expectHead[i] = -1;
    ipc->finishedTokenListArrray[i] = -1;
  }
  ipc->skipCount = 0;
  ipc->fFinished = 0;
  ipc->longestFinished = 0;
  pc->pres.clear();
  return 0;
}

void RTN_FreeInputParserControl(InputParserControl *ipc, ParserControl *pc) {
  if (!ipc) return;
  ForgetLevels();
  if (pc && pc->plht && !IsPreparedMark(pc->plht)) DeleteListedEntries(ipc);
  if (pc && pc->SymbolTable && ipc->symbolCount <= pc->SymbolTable->count)
    pc->SymbolTable->count = ipc->symbolCount;
  RTN_ZeroInputParserControl(ipc);
}

std::vector<std::string> RTN_Expectations(const ParserControl *pc, const InputParserControl *ipc,
                                          int position) {
  std::vector<std::string> out;
  if (position < 0 || position >= CURRENTPATHARRAY_SIZE) return out;
  for (int e = ipc->expectHead[position]; e >= 0 && e < ipc->pstn.count; e = ipc->pstn[e].next) {
    const std::string &name = TermName(pc, ipc->pstn[e].terminal);
    size_t c = name.find(':');
    if (c == std::string::npos) out.push_back(name);
    else out.push_back(ipc->upper ? name.substr(0, c) : name.substr(c + 1));
  }
  return out;
}

// ---------------------------------------------------------------------------
// Nodes, elements and prune origins

namespace {

// Message heads of the two callers of the prediction.
struct Form {
  bool walk;
  int32_t L;  // walked element (walk form)
  int32_t g;  // first element of L's group (walk form)
  const char *create;   // head of a create failure
  const char *find;     // head of a find failure
  const char *routine;  // "RTN_GetPossibilities" or "RTN_WalkActivePaths"
};

int NewNode(ParserControl *pc, InputParserControl *ipc, int32_t *node) {
  if (ipc->terminal.count >= ipc->terminal.Capacity() && RTN_AllocTerminalTableMemory(pc, ipc)) return 1;
  int32_t n = ipc->terminal.count++;
  TerminalEntry &t = ipc->terminal[n];
  memset(&t, 0, sizeof t);
  t.first = t.last = t.lastGroup = -1;
  t.origin = t.groupIndex = t.contextGroup = -1;
  t.pruneOrigins = t.pruneLinks = -1;
  *node = n;
  return 0;
}

int NewElement(ParserControl *pc, InputParserControl *ipc, int32_t *element) {
  if (ipc->ptoa.count >= ipc->ptoa.Capacity() && RTN_AllocPtoaTableMemory(pc, ipc)) return 1;
  *element = ipc->ptoa.count++;
  return 0;
}

// Appends element e to node n's list.
void ListAppend(InputParserControl *ipc, int32_t n, int32_t e) {
  TerminalEntry &t = ipc->terminal[n];
  PtoaEntry &x = ipc->ptoa[e];
  x.next = -1;
  if (t.first < 0) {
    t.first = t.last = e;
    x.prev = -1;
  } else {
    ipc->ptoa[t.last].next = e;
    x.prev = t.last;
    t.last = e;
  }
  t.count++;
}

// Makes e the first element of a new group at the end of node n.
void StartGroup(InputParserControl *ipc, int32_t n, int32_t e) {
  TerminalEntry &t = ipc->terminal[n];
  int32_t before = t.first < 0 ? -1 : t.lastGroup;
  if (before >= 0) ipc->ptoa[before].nextGroup = e;
  ipc->ptoa[e].prevGroup = before;
  ipc->ptoa[e].nextGroup = -1;
  t.lastGroup = e;
}

// Enters element e of node n under its prune origin "PO n NAME".
int EnterPruneOrigin(ParserControl *pc, InputParserControl *ipc, int32_t n, int32_t e, const Form &f) {
  std::string &key = g_k.po;
  key.assign("PO ");
  AddInt(key, n) += ' ';
  key += Sym(pc, (*pc->From)[ipc->ptoa[e].pruneNet].symbol);
  bool isNew = false;
  GDH_HashEntry *po = Create(pc, ipc, key, &isNew, f.create, "szPruneOrigin(", __LINE__);
  if (!po) return 1;
  if (ipc->pon.count >= ipc->pon.Capacity() && RTN_AllocPONodeTableMemory(pc, ipc)) return 1;
  int32_t pn = ipc->pon.count++;
  ipc->ptoa[e].poNode = pn;
  // A key whose origin was emptied by a group removal starts again.
  if (isNew || po->value < 0 || (po->value & 0x1FFFF) >= pn ||
      ((po->value >> 17) & 0x7FFF) >= ipc->ponl.count) {
    if (ipc->ponl.count >= ipc->ponl.Capacity() && RTN_AllocPONLNodeTableMemory(pc, ipc)) return 1;
    int32_t nl = ipc->ponl.count++;
    if (pn > 0x1FFFF || nl > 0x7FFF)
      return FAIL(pc, std::string("Error: ponc > 0x1FFFF or ponlnc > 0x7FFF in ") + f.routine + ": ");
    ipc->pon[pn] = PONode{-1, e};
    ipc->ponl[nl] = PONLNode{pn, ipc->terminal[n].pruneOrigins};
    ipc->terminal[n].pruneOrigins = nl;
    po->value = (intptr_t)pn | ((intptr_t)nl << 17);
    return 0;
  }
  if (pn > 0x1FFFF)
    return FAIL(pc, std::string("Error: ponc > 0x1FFFF or ponlnc > 0x7FFF in ") + f.routine + ": ");
  int32_t oldHead = (int32_t)(po->value & 0x1FFFF);
  int32_t nl = (int32_t)((po->value >> 17) & 0x7FFF);
  ipc->pon[pn] = PONode{oldHead, e};
  ipc->ponl[nl].head = pn;
  po->value = ((intptr_t)nl << 17) | pn;
  if (ipc->pon[oldHead].next == -1) {
    // The origin now holds two paths: link the node to it for the pruning.
    if (ipc->ponl.count >= ipc->ponl.Capacity() && RTN_AllocPONLNodeTableMemory(pc, ipc)) return 1;
    int32_t link = ipc->ponl.count++;
    if (link > 0x7FFF)
      return FAIL(pc, std::string("Error: ponc > 0x1FFFF or ponlnc > 0x7FFF in ") + f.routine + ": ");
    ipc->ponl[link] = PONLNode{nl, ipc->terminal[n].pruneLinks};
    ipc->terminal[n].pruneLinks = link;
  }
  return 0;
}

// The origin whose name prunes the paths of prefix symbol S: the shortest
// '_'-prefix of S that names an active origin; else the origin of the whole
// name; else `fallback`.
int32_t FindPruneNetOf(const ParserControl *pc, const std::string &S) {
  std::string &key = g_k.fo;
  for (size_t pos = S.find('_'); pos != std::string::npos; pos = S.find('_', pos + 1)) {
    key.assign(S, 0, pos) += " FO";
    int32_t o = PhtValue(pc, key);
    if (o >= 0 && o < pc->From->count && (*pc->From)[o].fActive) return o;
  }
  key.assign(S) += " FO";
  int32_t o = PhtValue(pc, key);
  if (o >= 0 && o < pc->From->count) return o;
  return -1;
}
int32_t FindPruneNet(const ParserControl *pc, int32_t sym, int32_t fallback) {
  CheckFacts(pc, sym);
  int32_t &o = g_facts.pruneNet[sym];
  if (o == -2) o = FindPruneNetOf(pc, Sym(pc, sym));
  return o >= 0 ? o : fallback;
}

// Is prefix P of the repair net? (the number after its symbol's last '_')
bool InRepairNet(const ParserControl *pc, int32_t repairNet, int32_t sym) {
  if (repairNet < 0) return false;
  CheckFacts(pc, sym);
  if (!g_facts.numberKnown[sym]) {
    g_facts.lastNumber[sym] = atoi(AfterLast(Sym(pc, sym), '_').c_str());
    g_facts.numberKnown[sym] = 1;
  }
  return g_facts.lastNumber[sym] == repairNet;
}

int32_t g_repairNet = -1;  // held between parses; looked up again by every set-up call

// Element e's bit string after a late match: the bit of the position it was
// predicted for (q) moves to the current position. `limit` bounds the
// search of a join (-1: none).
void LateMatchBits(InputParserControl *ipc, PtoaEntry &e, int q, int limit, bool join, int mPosition,
                   int mSkipped, int startPosition, bool repair) {
  int ic = ipc->inputCount;
  if (q < 0) q = 0;
  int d = ic - q;
  auto clearLatest = [&](int byteIndex, int fromBit, int budget) {
    // Clears the latest set bit at or before bit fromBit of the byte.
    for (int b = fromBit; b >= 0 && budget != 0; b--, budget--) {
      uint8_t m = (uint8_t)(0x80 >> b);
      if (e.bits[byteIndex] & m) {
        e.bits[byteIndex] &= (uint8_t)~m;
        return true;
      }
    }
    return false;
  };
  // The latest set bit at or before bit `bit` of the byte, or else the
  // last set bit of the byte before.
  auto clearInOrBefore = [&](int byteIndex, int bit) {
    if (e.bits[byteIndex] >= (uint8_t)(0x80 >> bit)) {
      clearLatest(byteIndex, bit, limit);
    } else if (byteIndex > 0 && e.bits[byteIndex - 1]) {
      clearLatest(byteIndex - 1, 7, limit);
    }
  };
  const int qb = q / 8;
  clearInOrBefore(qb, q % 8);
  if (join && d > 8) {
    for (int k = 0; k < d / 8; k++) {
      int pos = ic - 8 * (d / 8 - k);
      if (pos < 0) continue;
      int byteIndex = qb + 1 + k;
      if (byteIndex >= 32) break;
      clearInOrBefore(byteIndex, pos % 8);
    }
  }
  if (ipc->skipCount) {
    int first = ic - ipc->skipCount;
    if (first >= 0) ClearBit(e, first);
    e.bitBytes = (uint16_t)(ic / 8 + 1);
    if (join && mPosition + ipc->skipCount == startPosition && mSkipped != 0 && mPosition - mSkipped >= 0)
      ClearBit(e, mPosition - mSkipped);
  }
  if (!repair) SetBit(e, ic);
  e.bitBytes = (uint16_t)(ic / 8 + 1);
}

// Copies every element of node src to the end of node dst, keeping the
// groups and entering each group's prune source under dst's prune origin.
// lateQ >= 0: update the copies' bit strings as a late match of position lateQ.
int CopyNode(ParserControl *pc, InputParserControl *ipc, int32_t src, int32_t dst, int lateQ,
             const Form &f) {
  int32_t count = ipc->terminal[src].count;
  int32_t s = ipc->terminal[src].first;
  int32_t prevGroupOfPrev = 0, groupFirstSrc = -1, groupFirstCopy = -1;
  for (int visited = 0; s >= 0 && visited < count; visited++) {
    int32_t c;
    if (NewElement(pc, ipc, &c)) return 1;
    ipc->ptoa[c] = ipc->ptoa[s];
    bool newGroup = visited == 0 || ipc->ptoa[s].prevGroup != prevGroupOfPrev;
    prevGroupOfPrev = ipc->ptoa[s].prevGroup;
    ListAppend(ipc, dst, c);
    ipc->ptoa[c].poNode = -1;
    if (newGroup) {
      StartGroup(ipc, dst, c);
      groupFirstSrc = s;
      groupFirstCopy = c;
      ipc->ptoa[c].pruneSource = -1;
    } else {
      ipc->ptoa[c].prevGroup = ipc->ptoa[groupFirstCopy].prevGroup;
      ipc->ptoa[c].nextGroup = -1;
    }
    if (lateQ >= 0) {
      const int32_t S = (*pc->From)[ipc->ptoa[c].net].prefix[ipc->ptoa[c].prefix].symbol;
      LateMatchBits(ipc, ipc->ptoa[c], lateQ, -1, false, 0, 0, 0, InRepairNet(pc, g_repairNet, S));
    }
    if (ipc->ptoa[groupFirstSrc].pruneSource == s) {
      ipc->ptoa[groupFirstCopy].pruneSource = c;
      if (EnterPruneOrigin(pc, ipc, dst, c, f)) return 1;
    }
    s = ipc->ptoa[s].next;
  }
  return 0;
}

// The dot-prefix and dot-origin keys of one prefix (symbol S) of origin O
// in the walk form; *dp receives the "DP" entry, *depth the element depth
// before the step, *firstDO the dot-origin key made for the prefix.
int WalkDotPrefix(ParserControl *pc, InputParserControl *ipc, int32_t O, const std::string &S,
                  const Form &f, GDH_HashEntry **dp, int *depth, std::string *firstDO) {
  const int32_t L = f.L;
  const size_t colon = S.rfind(':');
  const size_t dpLength = colon == std::string::npos ? S.size() : colon;  // of the name up to the last ':'
  std::string &dpKey = g_k.dp;
  dpKey.assign("DP ");
  AddInt(dpKey, L) += ' ';
  dpKey.append(S, 0, dpLength);
  bool isNew = false;
  GDH_HashEntry *e = Create(pc, ipc, dpKey, &isNew, f.create, "szDotPrefix(", __LINE__);
  if (!e) return 1;
  const std::string &oName = Sym(pc, (*pc->From)[O].symbol);
  int d;
  if (!isNew) {
    firstDO->assign("DO ");
    AddInt(*firstDO, L) += ' ';
    *firstDO += oName;
    if (!Create(pc, ipc, *firstDO, nullptr, f.create, "szDotOrigin(", __LINE__)) return 1;
    d = (int)e->value;
  } else {
    // Names of this step, in buffers kept between calls.
    static std::string dpName, N, M, refKey, name;
    dpName.assign(S, 0, dpLength);
    const size_t oColon = oName.rfind(':');
    N.assign(oName, 0, oColon == std::string::npos ? oName.size() : oColon);
    const PtoaEntry Lx = ipc->ptoa[L];
    M.clear();
    if (Lx.dotPrefix) {
      const char *space = strrchr(Lx.dotPrefix->key, ' ');
      M.assign(space ? space + 1 : Lx.dotPrefix->key);
    }
    const bool up = ProperPrefix(N, M);
    const bool down = ProperPrefix(N, dpName);
    NumberedKey(*firstDO, "DO ", L, N);
    bool doNew = false;
    GDH_HashEntry *dk = Create(pc, ipc, *firstDO, &doNew, f.create, "szDotOrigin(", __LINE__);
    if (!dk) return 1;
    // The word continues the one of the state the path came from.
    GDH_HashEntry *ref = nullptr;
    if (up) {
      size_t cut = S.find('_', N.size());
      name.assign(S, 0, cut == std::string::npos ? S.size() : cut);
      for (int32_t X = L; X >= 0 && !ref; X = ipc->ptoa[X].prevStep) {
        NumberedKey(refKey, "DO ", X, name);
        ref = Find(pc, refKey);
      }
    } else {
      NumberedKey(refKey, "DO ", Lx.prevStep,
                  Sym(pc, (*pc->From)[Lx.prevStep < 0 ? Lx.fromNet : Lx.net]
                              .prefix[Lx.prevStep < 0 ? Lx.fromPrefix : Lx.prefix]
                              .symbol));
      ref = Find(pc, refKey);
    }
    intptr_t word = ref ? ref->value : 0;
    if (ref && refKey == *firstDO) {
      word = ref->value + 1;
      ref->value |= 0x8000;
    } else {
      word &= ~(intptr_t)0x8000;
    }
    if (doNew) dk->value = word;
    if (UpdateGDO(pc, ipc, N, dk->value, f.create, __LINE__)) return 1;
    if (down) {
      intptr_t w = dk->value;
      for (size_t pos = dpName.find('_', N.size() + 1);; pos = dpName.find('_', pos + 1)) {
        name.assign(dpName, 0, pos == std::string::npos ? dpName.size() : pos);
        w <<= 16;
        w &= 0x7FFFFFFF;
        bool lvNew = false;
        GDH_HashEntry *lv =
            Create(pc, ipc, NumberedKey(g_k.ref, "DO ", L, name), &lvNew, f.create, "szDotOrigin(", __LINE__);
        if (!lv) return 1;
        if (lvNew) lv->value = w;
        if (UpdateGDO(pc, ipc, name, lv->value, f.create, __LINE__)) return 1;
        if (pos == std::string::npos) break;
      }
    }
    d = (up || down) ? 0 : Lx.depth;
    e->value = d;
  }
  bool gNew = false;
  std::string &gdpKey = g_k.gd;
  gdpKey.assign("GDP ").append(S, 0, dpLength);
  GDH_HashEntry *gdp = Create(pc, ipc, gdpKey, &gNew, f.create, "szGDotPrefix(", __LINE__);
  if (!gdp) return 1;
  if (gNew || gdp->value < d) gdp->value = d;
  *dp = e;
  *depth = d;
  return 0;
}

// The start form's dot prefix and dot origins of prefix symbol S.
int StartDotPrefix(ParserControl *pc, InputParserControl *ipc, const std::string &S, const Form &f,
                   GDH_HashEntry **dp, std::string *firstDO) {
  const std::string dpName = UpToLast(S, ':');
  bool isNew = false;
  GDH_HashEntry *e = Create(pc, ipc, "DP 0 " + dpName, &isNew, f.create, "szDotPrefix(", __LINE__);
  if (!e) return 1;
  e->value = 0;
  GDH_HashEntry *g = Create(pc, ipc, "GDP " + dpName, &isNew, f.create, "szGDotPrefix(", __LINE__);
  if (!g) return 1;
  if (isNew) g->value = 0;
  *dp = e;
  std::string name = S;
  *firstDO = "DO -1 " + S;
  for (;;) {
    bool doNew = false;
    GDH_HashEntry *d = Create(pc, ipc, "DO -1 " + name, &doNew, f.create, "szDotOrigin(", __LINE__);
    if (!d) return 1;
    if (!doNew) break;
    d->value = 0;
    bool gdoNew = false;
    GDH_HashEntry *gdo = Create(pc, ipc, "GDO " + name, &gdoNew, f.create, "szGDotOrigin(", __LINE__);
    if (!gdo) return 1;
    if (gdoNew) gdo->value = 0;
    size_t cut = name.rfind('_');
    if (cut == std::string::npos) break;
    name.resize(cut);
  }
  return 0;
}

// Adds the elements of context group `ai` of origin O to node n: one group
// of elements per term-prefix arc, one element per arc.
int AddGroupElements(ParserControl *pc, InputParserControl *ipc, int32_t O, int ai, int32_t n,
                     const Form &f) {
  const Origin &org = (*pc->From)[O];
  const ContextGroup &a = org.group[ai];
  const int ic = ipc->inputCount;
  for (int ti = 0; ti < a.tpa.count; ti++) {
    const TermPrefixArc &tpa = a.tpa[ti];
    const int32_t P = tpa.prefix;
    if (P < 0 || P >= org.prefix.count) continue;
    const OriginPrefix &prefix = org.prefix[P];
    const std::string &S = Sym(pc, prefix.symbol);
    GDH_HashEntry *dp = nullptr;
    int d = 0;
    std::string &firstDO = g_k.misc;
    if (f.walk ? WalkDotPrefix(pc, ipc, O, S, f, &dp, &d, &firstDO)
               : StartDotPrefix(pc, ipc, S, f, &dp, &firstDO))
      return 1;
    int32_t pruneNet = FindPruneNet(pc, prefix.symbol, O);
    const bool repair = InRepairNet(pc, g_repairNet, prefix.symbol);
    const size_t colon = S.rfind(':');
    const size_t sLength = colon == std::string::npos ? S.size() : colon;  // of the name up to the last ':'
    const int32_t elementIndex = f.walk ? f.L : -1;
    int32_t groupFirst = -1;
    for (int k = 0; k < tpa.arc.count; k++) {
      const int an = tpa.arc[k];
      if (an >= prefix.arc.count) continue;
      const PrefixArc &pa = prefix.arc[an];
      const std::string &I = Sym(pc, pa.symbol);
      uint16_t nextOrigin = ARC_ENDS_NET;
      if (pa.ToState != 1) {
        std::string &toName = g_k.t;
        toName.assign(I.c_str()) += ':';
        AddInt(toName, pa.ToState);
        std::string &foKey = g_k.fo;
        foKey.assign(toName) += " FO";
        int32_t o = PhtValue(pc, foKey);
        if (o < 0)
          return FAIL(pc, "GDPC_FindHashEntry failure for szNextOrigin (" + toName + " FO) in " + f.routine + ": ");
        nextOrigin = (uint16_t)o;
        std::string &doKey = g_k.dor;
        doKey.assign("DO ");
        AddInt(doKey, elementIndex) += ' ';
        doKey += toName;
        bool doNew = false;
        GDH_HashEntry *dk = Create(pc, ipc, doKey, &doNew, f.create, "szDotOrigin(", __LINE__);
        if (!dk) return 1;
        if (doNew) {
          const std::string sName = S.substr(0, sLength);
          if (sName.size() < I.size())
            return FAIL(pc, "Error: a step-down from a prefix(" + S + ") to an origin(" + toName +
                                " FO) has been encountered\nRTN_WalkActivePaths: ");
          std::string refKey = firstDO;
          if (I.size() < sName.size()) {
            size_t cut = sName.find('_', I.size());
            NumberedKey(refKey, "DO ", elementIndex, cut == std::string::npos ? sName : sName.substr(0, cut));
          }
          GDH_HashEntry *ref = Find(pc, refKey);
          intptr_t word = ref ? ref->value : 0;
          if (ref && refKey == doKey) {
            word = ref->value + 1;
            ref->value |= 0x8000;
          } else if (!f.walk && I.size() >= sName.size()) {
            word &= ~(intptr_t)0xFFFF;
          } else {
            word &= ~(intptr_t)0x8000;
          }
          dk->value = word;
          bool gNew = false;
          g_k.gd.assign("GDO ") += toName;
          GDH_HashEntry *gdo = Create(pc, ipc, g_k.gd, &gNew, f.create, "szGDotOrigin(", __LINE__);
          if (!gdo) return 1;
          gdo->value = word;
        }
      }
      int32_t E;
      if (NewElement(pc, ipc, &E)) return 1;
      PtoaEntry &x = ipc->ptoa[E];
      memset(&x, 0, sizeof x);
      if (f.walk) {
        const PtoaEntry &Lx = ipc->ptoa[f.L];
        x.fromNet = Lx.net;
        x.fromPrefix = Lx.prefix;
        x.fromArc = Lx.arc;
        x.prevPosition = (uint16_t)Lx.position;
        x.prevCandidate = (uint16_t)Lx.candidate;
        x.prevLabel = Lx.label;
        x.prevStep = f.L;
        x.steps = Lx.steps + 1;
        x.depth = (uint16_t)(d + 1);
        memcpy(x.bits, Lx.bits, sizeof x.bits);
        if (!repair) SetBit(x, ic);
        x.bitBytes = (uint16_t)(ic / 8 + 1);
      } else {
        x.fromNet = (uint16_t)O;
        x.fromPrefix = (uint16_t)P;
        x.fromArc = (uint16_t)an;
        x.prevPosition = NO_POSITION;
        x.prevCandidate = NO_POSITION;
        x.prevLabel = -1;
        x.prevStep = -1;
        x.steps = 1;
        x.depth = 1;
        x.bitBytes = 1;
        if (!repair) SetBit(x, 0);
      }
      x.net = (uint16_t)O;
      x.prefix = (uint16_t)P;
      x.arc = (uint16_t)an;
      x.nextOrigin = nextOrigin;
      x.position = -1;
      x.candidate = -1;
      x.label = -1;
      x.contextGroup = a.groupNumber;
      x.next = x.prev = x.finishedNext = x.nextGroup = x.prevGroup = -1;
      x.pruneSource = x.poNode = x.activePath = -1;
      x.pruneNet = pruneNet;
      x.dotPrefix = dp;
      ListAppend(ipc, n, E);
      if (groupFirst < 0) {
        StartGroup(ipc, n, E);
        groupFirst = E;
      } else {
        ipc->ptoa[E].prevGroup = ipc->ptoa[groupFirst].prevGroup;
      }
      if (pa.ToState == 1) {
        ipc->ptoa[groupFirst].pruneSource = E;
        if (EnterPruneOrigin(pc, ipc, n, E, f)) return 1;
      }
    }
  }
  return 0;
}

bool SameTerms(const ContextGroup &x, const ContextGroup &y) {
  if (x.term.count != y.term.count) return false;
  for (int i = 0; i < x.term.count; i++)
    if (x.term[i] != y.term[i]) return false;
  return true;
}

// Predicts the terminals of every context group of origin O at the
// position inputCount.
int Predict(ParserControl *pc, InputParserControl *ipc, int32_t O, const Form &f) {
  const int p = ipc->inputCount;
  if (O < 0 || O >= pc->From->count) return FAIL(pc, Spf("Error: origin(%d) out of range in ", O) + f.routine + ": ");
  const Origin &org = (*pc->From)[O];
  for (int ai = 0; ai < org.group.count; ai++) {
    const ContextGroup &a = org.group[ai];
    int32_t groupNode = -1;
    // The group's "FCG" key is the same for every term: once made, later
    // terms find it made. Neighbouring terms mostly lie in the same node, so
    // the last comparison of term lists is kept.
    bool fcgMade = false;
    int32_t sameOrigin = -1, sameGroup = -1;
    bool sameResult = false;
    for (int ti = 0; ti < a.term.count; ti++) {
      const int32_t t = a.term[ti];
      if (t < 0 || t >= pc->TerminalTable->count) continue;
      const std::string &name = TermName(pc, t);
      bool ptNew = false;
      GDH_HashEntry *pt = CreatePT(pc, ipc, t, p, &ptNew, f.create);
      if (!pt) return 1;
      if (ptNew) {
        if (ipc->pstn.count >= ipc->pstn.Capacity() && RTN_AllocPSTNTableMemory(pc, ipc)) return 1;
        int32_t se = ipc->pstn.count++;
        ipc->pstn[se] = PstnEntry{t, ipc->expectHead[p], -1};
        if (ipc->expectHead[p] >= 0) ipc->pstn[ipc->expectHead[p]].prev = se;
        ipc->expectHead[p] = se;
        // The terminal's "T" key is made once a parse; CreatePT made room
        // for it in the facts.
        bool tNew = false;
        GDH_HashEntry *tk = g_facts.tEntry[t];
        if (!tk) {
          g_k.t.assign(name) += " T";
          tk = Create(pc, ipc, g_k.t, &tNew, f.create, "szTerminal(", __LINE__);
          if (!tk) return 1;
          g_facts.tEntry[t] = tk;
        }
        if (ipc->ppn.count >= ipc->ppn.Capacity() && RTN_AllocPPNTableMemory(pc, ipc)) return 1;
        int32_t pn = ipc->ppn.count++;
        PpnEntry &ne = ipc->ppn[pn];
        memset(&ne, 0, sizeof ne);
        ne.position = (uint16_t)p;
        ne.newer = -1;
        ne.older = -1;
        if (!tNew) {
          int32_t o = (int32_t)tk->value;
          ipc->ppn[o].skipped = ipc->skipCount;
          if (ipc->skipCount) ipc->ppn[o].position = (uint16_t)(ipc->ppn[o].position + ipc->skipCount);
          ipc->ppn[pn].older = o;
          ipc->ppn[o].newer = pn;
        }
        tk->value = pn;
        if (groupNode >= 0) {
          pt->value = groupNode;
          continue;
        }
        int32_t N;
        if (NewNode(pc, ipc, &N)) return 1;
        ipc->terminal[N].origin = O;
        ipc->terminal[N].groupIndex = ai;
        ipc->terminal[N].contextGroup = a.groupNumber;
        pt->value = N;
        groupNode = N;
        if (AddGroupElements(pc, ipc, O, ai, N, f)) return 1;
        continue;
      }
      const int32_t N0 = (int32_t)pt->value;
      const TerminalEntry n0 = ipc->terminal[N0];
      bool share = n0.contextGroup == a.groupNumber;
      if (!share && n0.origin >= 0 && n0.origin < pc->From->count) {
        const Origin &o0 = (*pc->From)[n0.origin];
        if (n0.groupIndex >= 0 && n0.groupIndex < o0.group.count) {
          if (n0.origin != sameOrigin || n0.groupIndex != sameGroup) {
            const ContextGroup &g0 = o0.group[n0.groupIndex];
            sameResult = (g0.term.count == 1 && a.term.count == 1) || SameTerms(g0, a);
            sameOrigin = n0.origin;
            sameGroup = n0.groupIndex;
          }
          share = sameResult;
        }
      }
      if (share && !f.walk && n0.origin != O) share = false;
      if (share) {
        bool fNew = false;
        if (!fcgMade) {
          std::string &fcg = g_k.fcg;
          fcg.clear();
          AddInt(fcg, p) += ' ';
          AddInt(fcg, O) += ' ';
          AddInt(fcg, f.walk ? f.g : 0) += ' ';
          AddInt(fcg, a.groupNumber) += " FCG";
          if (!Create(pc, ipc, fcg, &fNew, f.create, "szFoiContextGroup(", __LINE__)) return 1;
          fcgMade = true;
        }
        if (fNew) {
          if (AddGroupElements(pc, ipc, O, ai, N0, f)) return 1;
        } else if (f.walk && ti == 0 && n0.contextGroup != a.groupNumber &&
                   !Find(pc, Spf("%d %d %d %d FCG", p, O, f.g, n0.contextGroup))) {
          if (AddGroupElements(pc, ipc, O, ai, N0, f)) return 1;
        }
        continue;
      }
      // The terminal reaches N0's paths in another context: a node of its own
      // that starts with copies of them.
      int32_t N;
      if (NewNode(pc, ipc, &N)) return 1;
      pt->value = N;
      if (CopyNode(pc, ipc, N0, N, -1, f)) return 1;
      ipc->terminal[N].origin = O;
      ipc->terminal[N].groupIndex = ai;
      ipc->terminal[N].contextGroup = a.groupNumber;
      if (AddGroupElements(pc, ipc, O, ai, N, f)) return 1;
    }
  }
  return 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// One parse step

namespace {

const char *kGPCreate = "GDH_CreateHashEntry failure in RTN_GetPossibilities for ";
const char *kGPFind = "GDH_FindHashEntry failure in RTN_GetPossibilities for ";

// The symbol of an element's state as its dot-origin key names it.
const std::string &DotSymbol(const ParserControl *pc, const PtoaEntry &x) {
  const Origin &o = (*pc->From)[x.prevStep < 0 ? x.fromNet : x.net];
  return Sym(pc, o.prefix[x.prevStep < 0 ? x.fromPrefix : x.prefix].symbol);
}

const std::string &PacKey(std::string &k, int32_t node, const PtoaEntry &x) {
  k.assign("PAC ");
  AddInt(k, node) += ' ';
  AddInt(k, x.net) += ' ';
  AddInt(k, x.prefix) += ' ';
  AddInt(k, x.arc) += ' ';
  AddInt(k, x.steps) += ' ';
  return AddInt(k, x.depth);
}

// The dot-origin word of an element's state ("DO prevStep SYMBOL"), made
// with 0 when the walk left none.
int DotWord(ParserControl *pc, InputParserControl *ipc, const PtoaEntry &x, GDH_HashEntry **out) {
  std::string &key = g_k.ref;
  key.assign("DO ");
  AddInt(key, x.prevStep) += ' ';
  key += DotSymbol(pc, x);
  GDH_HashEntry *e = Find(pc, key);
  if (!e) e = Create(pc, ipc, key, nullptr, kGPCreate, "szDotOrigin(", __LINE__);
  *out = e;
  return e ? 0 : 1;
}

// The bookkeeping of a group's first element when it is matched: its depth
// goes to its "DP" and "GDP" entries, its dot-origin word to "GDO".
int StampGroupFirst(ParserControl *pc, InputParserControl *ipc, int32_t x) {
  PtoaEntry &e = ipc->ptoa[x];
  if (e.dotPrefix) {
    e.dotPrefix->value = e.depth;
    std::string &key = g_k.gd;
    const char *space = strrchr(e.dotPrefix->key, ' ');
    key.assign("GDP ") += space ? space + 1 : e.dotPrefix->key;
    GDH_HashEntry *g = Find(pc, key);
    if (!g) return FAIL(pc, std::string(kGPFind) + "szGDotPrefix(" + key + "): ");
    if (g->value < e.depth) g->value = e.depth;
  }
  GDH_HashEntry *d;
  if (DotWord(pc, ipc, ipc->ptoa[x], &d)) return 1;
  return UpdateGDO(pc, ipc, DotSymbol(pc, ipc->ptoa[x]), d->value, kGPCreate, __LINE__);
}

// Stamps the elements of node n from `from` on as matched by label l,
// candidate cand, and enrols the state of each group's first ("PAC").
int Stamp(ParserControl *pc, InputParserControl *ipc, int32_t n, int32_t from, int l, int cand) {
  int32_t prevGroup = 0;
  bool firstSeen = false;
  for (int32_t x = from; x >= 0; x = ipc->ptoa[x].next) {
    PtoaEntry &e = ipc->ptoa[x];
    e.label = (int8_t)l;
    e.position = ipc->inputCount;
    e.candidate = (int16_t)cand;
    bool groupFirst = !firstSeen || e.prevGroup != prevGroup;
    firstSeen = true;
    prevGroup = e.prevGroup;
    if (!groupFirst) continue;
    if (StampGroupFirst(pc, ipc, x)) return 1;
    bool isNew = false;
    GDH_HashEntry *pac = Create(pc, ipc, PacKey(g_k.pac, n, ipc->ptoa[x]), &isNew,
                                "UL_CreateHashEntry failure for ", "szPrevActiveCheck(", __LINE__);
    if (!pac) return 1;
    if (isNew) pac->value = x;
  }
  return 0;
}

// Bit strings in the order of the pruning: more bytes is greater; else the
// bytes from the last, each with its bits reversed.
int CompareBits(const PtoaEntry &a, const PtoaEntry &b) {
  if (a.bitBytes != b.bitBytes) return a.bitBytes > b.bitBytes ? 1 : -1;
  for (int i = std::min<int>(a.bitBytes, 32) - 1; i >= 0; i--) {
    uint8_t ra, rb;
    RTN_ReverseByteBits(&a.bits[i], &ra);
    RTN_ReverseByteBits(&b.bits[i], &rb);
    if (ra != rb) return ra > rb ? 1 : -1;
  }
  return 0;
}

struct JoinPrediction {
  std::string name;
  int32_t ppn;
  int cand;  // candidate index stamped on the copies
};

// Copies the groups of node src that the dot keys allow into the current
// node `cur`, checking each copy against the state already enrolled there.
int JoinNode(ParserControl *pc, InputParserControl *ipc, int32_t src, int32_t cur, const JoinPrediction &jp,
             int l, int startPosition) {
  const PpnEntry m = ipc->ppn[jp.ppn];
  const int ic = ipc->inputCount;
  const int d = ic - m.position;
  const int limit = std::max<int>(d, m.skipped);
  const Form f{false, -1, 0, kGPCreate, kGPFind, "RTN_GetPossibilities"};
  int32_t count = ipc->terminal[src].count;
  int32_t s = ipc->terminal[src].first;
  int visited = 0;
  while (s >= 0 && visited < count) {
    // One group of src: s .. the element before the next group.
    const int32_t G = s;
    static std::vector<int32_t> members;  // reused: a join visits many groups
    members.clear();
    int32_t pg = ipc->ptoa[G].prevGroup;
    for (int32_t x = G; x >= 0 && visited < count && ipc->ptoa[x].prevGroup == pg; x = ipc->ptoa[x].next) {
      members.push_back(x);
      visited++;
      s = ipc->ptoa[x].next;
    }
    const PtoaEntry g = ipc->ptoa[G];
    bool take = false;
    if (g.dotPrefix && g.depth >= g.dotPrefix->value) {
      std::string &gdpKey = g_k.gd;
      const char *space = strrchr(g.dotPrefix->key, ' ');
      gdpKey.assign("GDP ") += space ? space + 1 : g.dotPrefix->key;
      GDH_HashEntry *gdp = Find(pc, gdpKey);
      if (gdp && gdp->value < g.depth) take = true;
      if (!take && m.position < CURRENTPATHARRAY_SIZE && !ipc->beamItem.empty()) {
        // The same terminal was read there as this candidate.
        const BeamCell &cell = ipc->beamItem[0][m.position];
        if (jp.cand >= 0 && jp.cand < (int)cell.item.size() && cell.item[jp.cand] == jp.name) take = true;
      }
      if (!take) {
        std::string &doKey = g_k.ref;
        doKey.assign("DO ");
        AddInt(doKey, g.prevStep) += ' ';
        doKey += DotSymbol(pc, g);
        GDH_HashEntry *dw = Find(pc, doKey);
        g_k.dor.assign("GDO ") += DotSymbol(pc, g);
        GDH_HashEntry *gw = Find(pc, g_k.dor);
        if (dw && gw && !(dw->value & 0x8000)) {
          intptr_t gh = (gw->value >> 16) & 0x7FFF, dh = (dw->value >> 16) & 0x7FFF;
          if (gh < dh || (gh == dh && (gw->value & 0x7FFF) <= (dw->value & 0x7FFF))) take = true;
        }
      }
      if (take && gdp) gdp->value = g.depth;
    }
    if (!take) continue;
    int32_t copyGroup = -1;
    for (int32_t x : members) {
      int32_t c;
      if (NewElement(pc, ipc, &c)) return 1;
      ipc->ptoa[c] = ipc->ptoa[x];
      {
        const int32_t S = (*pc->From)[ipc->ptoa[c].net].prefix[ipc->ptoa[c].prefix].symbol;
        LateMatchBits(ipc, ipc->ptoa[c], m.position, limit, true, m.position, m.skipped, startPosition,
                      InRepairNet(pc, g_repairNet, S));
      }
      ipc->ptoa[c].label = (int8_t)l;
      ipc->ptoa[c].position = (int16_t)ic;
      ipc->ptoa[c].candidate = (int16_t)jp.cand;
      const std::string &key = PacKey(g_k.pac, cur, ipc->ptoa[c]);
      GDH_HashEntry *pac = Find(pc, key);
      bool keep = true;
      int32_t beaten = -1;
      if (pac) {
        const int32_t X = (int32_t)pac->value;
        const PtoaEntry &xe = ipc->ptoa[X];
        const PtoaEntry &ce = ipc->ptoa[c];
        if (xe.prevStep == ce.prevStep) keep = false;
        else if (xe.nextOrigin != ce.nextOrigin) keep = true;
        else if (ce.bitBytes < xe.bitBytes) keep = false;
        else if (ce.bitBytes == xe.bitBytes) {
          int cmp = CompareBits(ce, xe);
          if (cmp < 0) keep = false;
          else if (cmp > 0) beaten = X;
        }
      }
      if (!keep) {
        memset(&ipc->ptoa[c], 0, sizeof(PtoaEntry));
        ipc->ptoa.count--;
        continue;
      }
      ListAppend(ipc, cur, c);
      ipc->ptoa[c].poNode = -1;
      if (copyGroup < 0) {
        StartGroup(ipc, cur, c);
        copyGroup = c;
        ipc->ptoa[c].pruneSource = -1;
        if (StampGroupFirst(pc, ipc, c)) return 1;
      } else {
        ipc->ptoa[c].prevGroup = ipc->ptoa[copyGroup].prevGroup;
        ipc->ptoa[c].nextGroup = -1;
      }
      if (ipc->ptoa[G].pruneSource == x) {
        ipc->ptoa[copyGroup].pruneSource = c;
        if (EnterPruneOrigin(pc, ipc, cur, c, f)) return 1;
      }
      if (!pac) {
        pac = Create(pc, ipc, key, nullptr, "UL_CreateHashEntry failure for ", "szPrevActiveCheck(", __LINE__);
        if (!pac) return 1;
        pac->value = c;
      } else if (beaten >= 0) {
        pc->pres += Spf("Warning: a lookback ptoao(%d) is more recent than an enrolled ptoao(%d) in "
                        "RTN_GetPossibilities:",
                        c, beaten) +
                    Trailer("rtnet", __LINE__);
        // The beaten element's group goes. It cannot be the group being built
        // (its members share one previous step, so a twin is dropped above):
        // removing that would leave the copy without a group.
        int32_t bg = beaten;
        while (ipc->ptoa[bg].prev >= 0 && ipc->ptoa[ipc->ptoa[bg].prev].prevGroup == ipc->ptoa[beaten].prevGroup)
          bg = ipc->ptoa[bg].prev;
        if (bg == copyGroup)
          return FAIL(pc, Spf("Error: a lookback ptoao(%d)\nbut there is no previous active group: ", c));
        if (RTN_PruneActiveGroup(pc, ipc, cur, beaten, 1))
          return FAIL(pc, "RTN_PruneActiveGroup failure in RTN_GetPossibilities: ");
        pac->value = c;
      }
    }
  }
  return 0;
}

int SkipPosition(InputParserControl *ipc) {
  int ic = ipc->inputCount;
  if (ic + 1 < CURRENTPATHARRAY_SIZE) ipc->expectHead[ic + 1] = ipc->expectHead[ic];
  ipc->expectHead[ic] = -1;
  ipc->inputCount++;
  ipc->skipCount++;
  return 0;
}

// Keeps an input word that matched nothing as the position's first item.
void RecordUnmatched(InputParserControl *ipc, int l, const char *word, int32_t value) {
  BeamCell &cell = ipc->beamItem[l][ipc->inputCount];
  cell.item.assign(1, word);
  cell.value.assign(1, value);
  ipc->beamOwned[l][ipc->inputCount] = 1;
}

bool Rejected(const InputParserControl *ipc, int32_t n) {
  if (n < 0) return true;
  const PpnEntry &p = ipc->ppn[n];
  return ipc->inputCount - p.skipped - p.position + 1 > ipc->framewindow;
}

}  // namespace

int RTN_GetPossibilities(ParserControl *pc, int32_t *inputIndex, int32_t *labelCount,
                         const char *const *labels, const float *scores, InputParserControl *ipc) {
  (void)scores;
  const Form f{false, -1, 0, kGPCreate, kGPFind, "RTN_GetPossibilities"};
  if (!pc->From || !pc->plht || IsPreparedMark(pc->plht) || !pc->pht || IsPreparedMark(pc->pht) ||
      !pc->SymbolTable || !pc->TerminalTable || !pc->NetTable)
    return FAIL(pc, "Error: no compiled network in RTN_GetPossibilities: ");
  if (ipc->ptoa.Capacity() == 0 || ipc->beamItem.empty())
    return FAIL(pc, "Error: the parse state has not been initialised in RTN_GetPossibilities: ");
  if (*inputIndex == 0) {
    std::string stem = NetName0(pc);
    size_t u = stem.rfind('_');
    if (u != std::string::npos && stem.compare(u, std::string::npos, "_type]") == 0) stem.resize(u);
    // A grammar without a repair net must not inherit another's.
    g_repairNet = PhtValue(pc, stem + "_repair]");
    int32_t O = PhtValue(pc, "0:0 FO");
    if (O < 0) return FAIL(pc, "GDPC_FindHashEntry failure in RTN_GetPossibilities for (0:0 FO): ");
    return Predict(pc, ipc, O, f);
  }
  if (!labels || !labelCount || *labelCount < 1 || !labels[0])
    return FAIL(pc, "Error: no label given in RTN_GetPossibilities: ");
  if (strcmp(labels[0], "cq") == 0) {
    ipc->fFinished = 1;
    return 0;
  }
  const int nLabels = std::min<int>(*labelCount, (int)ipc->beamItem.size());
  if (ipc->beam && *inputIndex <= ipc->beam && ipc->beam <= *inputIndex + 6) {
    Out(pc, "Processing Beam (");
    std::string t;
    for (int l = 0; l < *labelCount; l++) t += Spf("%s%s", labels[l], l + 1 < *labelCount ? " " : "");
    Out(pc, t + "\n");
  }
  int32_t cur = -1;
  int matched = 0;
  for (int l = 0; l < nLabels; l++) {
    const bool lastLabel = l == nLabels - 1;
    const char *label = labels[l] ? labels[l] : "";
    if (ipc->dots) Out(pc, Spf("%s ", label));
    if (ipc->inputCount > 253)
      return FAIL(pc, "Error: pipc->inputCount exceeds CURRENTPATHARRAY_SIZE in RTN_GetPossibilities: ");
    const int ic = ipc->inputCount;
    std::vector<std::string> names;
    int startIdx = -1;
    const int32_t side = PhtValue(pc, std::string(ipc->upper ? "U " : "L ") + label);
    const StringTable *sideTable = ipc->upper ? pc->UpperTable : pc->LowerTable;
    if (side >= 0 && sideTable && side < sideTable->count && pc->ptlist && pc->ptindex) {
      int32_t tl = sideTable->tlist[side];
      if (tl >= 0 && tl < pc->ptlist->count)
        for (int32_t k = (*pc->ptlist)[tl].first; k >= 0 && k < pc->ptindex->count; k = (*pc->ptindex)[k].next)
          names.push_back(TermName(pc, (*pc->ptindex)[k].terminal));
      for (size_t i = 0; i < names.size() && startIdx < 0; i++)
        if (Find(pc, names[i] + " T")) startIdx = (int)i;
      if (startIdx < 0) {
        if (lastLabel && cur < 0) {
          RecordUnmatched(ipc, l, label, names.empty() ? -1 : PhtValue(pc, names[0]));
          return SkipPosition(ipc);
        }
        startIdx = 0;
      }
    } else if (Find(pc, std::string(label) + " T")) {
      names.push_back(label);
      startIdx = 0;
    } else {
      RecordUnmatched(ipc, l, label, -1);
      if (!lastLabel) continue;
      if (cur < 0) return SkipPosition(ipc);
      break;
    }
    BeamCell &cell = ipc->beamItem[l][ic];
    cell.item.clear();
    cell.value.clear();
    int accepted = -1;
    int32_t acceptedPpn = -1;
    for (int ci = startIdx; ci < (int)names.size(); ci++) {
      GDH_HashEntry *tk = Find(pc, names[ci] + " T");
      int32_t n = tk ? (int32_t)tk->value : -1;
      if (Rejected(ipc, n)) continue;
      const int32_t tv = PhtValue(pc, names[ci]);
      if (tv < 0)
        return FAIL(pc, "GDPC_FindHashEntry failure for pszTermArray[i](" + names[ci] + ") in RTN_GetPossibilities: ");
      if (cell.item.size() >= 0x7FFF)  // candidate indices are 16-bit
        return FAIL(pc, Spf("Error: more than %d candidates for (%s) in RTN_GetPossibilities: ", 0x7FFF - 1, label));
      cell.item.push_back(names[ci]);
      cell.value.push_back(tv);
      const PpnEntry pn = ipc->ppn[n];
      const std::string ptKey = Spf("%s %d PT", names[ci].c_str(), pn.position - pn.skipped);
      GDH_HashEntry *pt = Find(pc, ptKey);
      if (!pt)
        return FAIL(pc, "GDH_FindHashEntry failure for " + ptKey +
                            " ( ... it should be found because its in the list of active "
                            "prediction-position-nodes for this term) ---in RTN_GetPossibilities: ");
      const int32_t T = (int32_t)pt->value;
      matched++;
      accepted = ci;
      acceptedPpn = n;
      const int cand = (int)cell.item.size() - 1;
      const int e = *inputIndex < 2 ? 0 : ic - (pn.position == 0 ? -1 : (int)pn.position);
      if (e == 0 && cur < 0) {
        cur = T;
        if (Stamp(pc, ipc, cur, ipc->terminal[T].first, l, cand)) return 1;
      } else if (cur != T) {
        if (cur < 0) {
          if (NewNode(pc, ipc, &cur)) return 1;
          ipc->terminal[cur].origin = ipc->terminal[T].origin;
          ipc->terminal[cur].groupIndex = ipc->terminal[T].groupIndex;
          ipc->terminal[cur].contextGroup = ipc->terminal[T].contextGroup;
        }
        const int32_t lastBefore = ipc->terminal[cur].last;
        if (CopyNode(pc, ipc, T, cur, e == 0 ? -1 : std::max(0, ic - e), f)) return 1;
        const int32_t from = lastBefore < 0 ? ipc->terminal[cur].first : ipc->ptoa[lastBefore].next;
        if (from >= 0 && Stamp(pc, ipc, cur, from, l, cand)) return 1;
      }
      break;
    }
    if (accepted < 0) {
      if (cell.item.empty()) RecordUnmatched(ipc, l, label, names.empty() ? -1 : PhtValue(pc, names[0]));
      if (lastLabel && cur < 0) return SkipPosition(ipc);
      continue;
    }
    if (ipc->probbeam <= 1 && ipc->lookback != 0 && cur >= 0) {
      std::vector<JoinPrediction> preds;
      auto take = [&](const std::string &name, int32_t first, int cand) {
        int taken = 0;
        for (int32_t m = first; m >= 0; m = ipc->ppn[m].older) {
          if (ipc->lookback > 0 && taken >= ipc->lookback) break;
          preds.push_back(JoinPrediction{name, m, cand});
          taken++;
        }
      };
      // The older predictions are those of the start candidate, even when the
      // window turned it down and a later candidate was read instead.
      const int acceptedCand = (int)cell.item.size() - 1;
      if (startIdx == accepted) {
        take(names[accepted], ipc->ppn[acceptedPpn].older, acceptedCand);
      } else if (GDH_HashEntry *tk = Find(pc, names[startIdx] + " T")) {
        const int32_t n = (int32_t)tk->value;
        if (n >= 0) take(names[startIdx], ipc->ppn[n].older, acceptedCand);
      }
      for (int ci = startIdx + 1; ci < (int)names.size(); ci++) {
        GDH_HashEntry *tk = Find(pc, names[ci] + " T");
        int32_t n = tk ? (int32_t)tk->value : -1;
        if (Rejected(ipc, n)) continue;
        GDH_HashEntry *pt =
            Find(pc, Spf("%s %d PT", names[ci].c_str(), ipc->ppn[n].position - ipc->ppn[n].skipped));
        if (!pt || (int32_t)pt->value == cur) continue;
        if (ci == accepted) {  // read late: its own node was copied, its older ones join
          take(names[ci], n, acceptedCand);
          continue;
        }
        if (cell.item.size() >= 0x7FFF) break;  // candidate indices are 16-bit
        cell.item.push_back(names[ci]);
        cell.value.push_back(PhtValue(pc, names[ci]));
        take(names[ci], n, (int)cell.item.size() - 1);
      }
      const int startPosition = ipc->ppn[acceptedPpn].position;
      for (const JoinPrediction &jp : preds) {
        const PpnEntry &m = ipc->ppn[jp.ppn];
        GDH_HashEntry *pt = Find(pc, Spf("%s %d PT", jp.name.c_str(), m.position - m.skipped));
        if (!pt || (int32_t)pt->value == cur) continue;
        if (JoinNode(pc, ipc, (int32_t)pt->value, cur, jp, l, startPosition)) return 1;
      }
    }
    // Several label slots gather the paths of every matched label into the
    // one node, unless predictionbeam bounds how many labels match.
    const int limit = ipc->predictionbeam > 0 ? ipc->predictionbeam : ipc->probbeam > 1 ? nLabels : 1;
    if (matched >= limit) break;
  }
  if (cur < 0) return SkipPosition(ipc);
  ipc->inputCount++;
  if (RTN_WalkActivePaths(pc, ipc, cur, labels))
    return FAIL(pc, "RTN_GetPossibilities failure in RTN_GetPossibilities: ");
  ipc->skipCount = 0;
  return 0;
}

// ---------------------------------------------------------------------------
// Walking the active paths of a matched node

int RTN_WalkActivePaths(ParserControl *pc, InputParserControl *ipc, int32_t node, const char *const *labels) {
  const int ic = ipc->inputCount;
  if (ic > 254)
    return FAIL(pc, Spf("Error: pipc->inputCount (%d) >= CURRENTPATHARRAY_SIZE in RTN_WalkActivePaths: ", ic));
  if (ipc->prune && ipc->terminal[node].pruneLinks != -1) {
    if (ipc->beam == 1)
      Out(pc, Spf("\nPruneActive(%s): %d", labels && labels[0] ? labels[0] : "", ipc->terminal[node].count));
    if (RTN_PruneActive(pc, ipc, node)) return FAIL(pc, "RTN_PruneActive failure in RTN_WalkActivePaths: ");
    if (ipc->beam == 1) Out(pc, Spf(" %d\n", ipc->terminal[node].count));
  }
  Form f{true, -1, -1, "GDPC_CreateHashEntry failure in RTN_WalkActivePaths for ",
         "GDH_FindHashEntry failure in RTN_WalkActivePaths for ", "RTN_WalkActivePaths"};
  bool allFinished = true;
  int32_t g = -1, prevGroup = 0;
  int visited = 0;
  for (int32_t L = ipc->terminal[node].first; L >= 0 && visited < ipc->terminal[node].count;
       L = ipc->ptoa[L].next, visited++) {
    if (visited == 0 || ipc->ptoa[L].prevGroup != prevGroup) g = L;
    prevGroup = ipc->ptoa[L].prevGroup;
    if (ipc->ptoa[L].nextOrigin == ARC_ENDS_NET) {
      if (ic > ipc->longestFinished) ipc->longestFinished = (uint16_t)ic;
      int16_t fl = ipc->finishedTokenListArrray[ic];
      ipc->ptoa[L].finishedNext = -1;
      if (fl == -1) {
        if (ipc->finishedTokenListCount >= CURRENTPATHARRAY_SIZE)
          return FAIL(pc, "Error: finishedTokenListCount exceeds CURRENTPATHARRAY_SIZE in RTN_WalkActivePaths: ");
        int32_t F;
        if (NewNode(pc, ipc, &F)) return 1;
        ipc->finishedTokenPosition[ipc->finishedTokenListCount] = ic;
        ipc->finishedTokenList[ipc->finishedTokenListCount] = F;
        ipc->finishedTokenListArrray[ic] = (int16_t)ipc->finishedTokenListCount;
        ipc->finishedTokenListCount++;
        ipc->terminal[F].first = ipc->terminal[F].last = L;
        ipc->terminal[F].count = 1;
      } else {
        int32_t F = ipc->finishedTokenList[fl];
        ipc->ptoa[ipc->terminal[F].last].finishedNext = L;
        ipc->terminal[F].last = L;
        ipc->terminal[F].count++;
      }
      if (L == ipc->terminal[node].last && allFinished) ipc->fFinished = 1;
      continue;
    }
    allFinished = false;
    f.L = L;
    f.g = g;
    if (Predict(pc, ipc, ipc->ptoa[L].nextOrigin, f)) return 1;
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Scores and texts of paths

namespace {

constexpr int kLevels = PARENTSIZE + 1;  // levels 0..24 can be left; 24 cannot be entered

struct PathScore {
  int32_t WordScore = 0, RepairScore = 0, oogScore = 0, FScore = 0, NetScore = 0;
  int lastDepth = 0;
  int maxLevel = 0;
  int32_t fsCount[kLevels] = {};
  int32_t entered[kLevels] = {};
  int32_t left[kLevels] = {};
  bool counted = false;    // a word of the path has been counted
  int W = 1;               // the latest word counts
  bool lastPlain = false;  // the latest net classified is a plain one
  int32_t resumedFrom = -1;

  void ZeroKeepMax() {
    int m = maxLevel;
    *this = PathScore();
    maxLevel = m;
  }
};

std::vector<std::string> SplitLevels(const std::string &sym) {
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    size_t u = sym.find('_', start);
    out.push_back(sym.substr(start, u == std::string::npos ? std::string::npos : u - start));
    if (u == std::string::npos) break;
    start = u + 1;
  }
  return out;
}

// The levels of a prefix symbol and the kind of each net, worked out once
// per parse: scoring reads them for every word of every path.
struct SymbolLevels {
  bool made = false;
  int depth = 0;                // '_' characters
  std::vector<int32_t> nets;    // net index of each level
};
enum NetKind { NK_PLAIN, NK_FS, NK_REPAIR, NK_OOG, NK_FI };
struct LevelCache {
  const ParserControl *pc = nullptr;
  std::vector<SymbolLevels> symbols;
  std::vector<int8_t> kinds;  // -1: not yet known
} g_levelCache;

void ForgetLevels() {
  g_levelCache = LevelCache();
  g_facts = SymbolFacts();
}

const SymbolLevels &LevelsOf(const ParserControl *pc, int32_t sym) {
  if (g_levelCache.pc != pc) {
    g_levelCache = LevelCache();
    g_levelCache.pc = pc;
  }
  if ((int)g_levelCache.symbols.size() <= sym) g_levelCache.symbols.resize((size_t)sym + 1);
  SymbolLevels &l = g_levelCache.symbols[sym];
  if (!l.made) {
    const std::string &name = Sym(pc, sym);
    l.depth = CountChar(name, '_');
    for (const std::string &part : SplitLevels(name)) l.nets.push_back(atoi(part.c_str()));
    l.made = true;
  }
  return l;
}

int KindOf(const ParserControl *pc, int32_t net) {
  if (net < 0 || net >= pc->NetTable->count) return NK_PLAIN;
  if (g_levelCache.pc != pc) {
    g_levelCache = LevelCache();
    g_levelCache.pc = pc;
  }
  if ((int)g_levelCache.kinds.size() <= net) g_levelCache.kinds.resize((size_t)net + 1, -1);
  int8_t &k = g_levelCache.kinds[net];
  if (k < 0) {
    const std::string &name = pc->NetTable->strings[net];
    size_t u = name.rfind('_');
    const std::string suffix = u == std::string::npos ? std::string() : name.substr(u + 1);
    k = suffix == "fs]" ? NK_FS : suffix == "repair]" ? NK_REPAIR : suffix == "oog]" ? NK_OOG
        : suffix == "fi]" ? NK_FI : NK_PLAIN;
  }
  return k;
}

// Builds the scores (and, when asked, the text) of a path word by word.
class PathBuilder {
 public:
  PathBuilder(ParserControl *pc, InputParserControl *ipc, const char *routine, bool withText, bool printPath)
      : pc_(pc), ipc_(ipc), routine_(routine), withText_(withText), printPath_(printPath) {
    transcriptOnly_ = ipc->transcript && !ipc->canonical;
  }

  std::string text;

  // Scores the words path[start..] into s; 0 or 1.
  int Run(const std::vector<int32_t> &path, size_t start, PathScore &s) {
    for (size_t w = start; w < path.size(); w++)
      if (Word(path, w, s)) return 1;
    return 0;
  }

  // The end of the text: the open nets closed.
  void Finish(const PathScore &s) {
    if (!withText_) return;
    if (!text.empty() && text.back() == ',') text.pop_back();
    if (transcriptOnly_) {
      if (!text.empty()) text.pop_back();
      return;
    }
    int n = 0;
    for (int l = 0; l < kLevels; l++) {
      if (s.entered[l] == 0 && s.left[l] == 0) break;
      n += s.entered[l] - s.left[l];
    }
    for (int i = 0; i < n; i++) text += Closing();
  }

 private:
  std::string Closing() const { return ipc_->tail ? "|_]" : "]"; }
  bool TranscriptOnlyNow() const { return transcriptOnly_ && !(printPath_ && firstWord_); }

  std::string NetName(int32_t n) const {
    if (n < 0 || n >= pc_->NetTable->count) return std::string();
    return pc_->NetTable->strings[n];
  }

  // The text of terminal t as a path shows it.
  std::string WordText(int32_t t) const {
    if (t < 0 || t >= pc_->TerminalTable->count) return std::string();
    const std::string &name = TermName(pc_, t);
    size_t c = name.find(':');
    if (c == std::string::npos) return name;
    return ipc_->upper ? name.substr(c + 1) : name.substr(0, c);
  }
  int32_t Terminal(int label, int position, int candidate) const {
    if (label < 0 || label >= (int)ipc_->beamItem.size() || position < 0 || position >= CURRENTPATHARRAY_SIZE)
      return -1;
    const BeamCell &cell = ipc_->beamItem[label][position];
    if (candidate < 0 || candidate >= (int)cell.value.size()) return -1;
    return cell.value[candidate];
  }
  int32_t OwnTerminal(const PtoaEntry &e) const {
    int p = e.position < 0 ? ipc_->inputCount - 1 : e.position;
    return Terminal(e.label, p, e.candidate);
  }
  int32_t FromTerminal(const PtoaEntry &e) const {
    if (e.prevPosition == NO_POSITION) return -1;
    return Terminal(e.prevLabel, e.prevPosition, e.prevCandidate);
  }

  void Open(int32_t net, bool later) {
    if (!withText_ || TranscriptOnlyNow()) return;
    if (later && !text.empty() && text.back() == ']') text += ",";
    std::string name = NetName(net);
    if (name.size() >= 2) name = name.substr(1, name.size() - 2);
    text += name + ":[";
  }

  int DepthFail(int level) {
    return Fail(pc_, Spf("Error: Depth(%d) has overrun PARENTSIZE in %s: ", level, routine_), __LINE__);
  }

  int Special(int level, int32_t net, bool later, PathScore &s, bool plain) {
    if (level >= PARENTSIZE) return DepthFail(level);
    s.entered[level]++;
    s.maxLevel = std::max(s.maxLevel, level);
    if (plain) s.NetScore++;
    else s.FScore++;
    Open(net, later);
    return 0;
  }

  int Classify(int level, int32_t net, bool later, PathScore &s) {
    switch (KindOf(pc_, net)) {
      case NK_FS:
        if (level >= PARENTSIZE) return DepthFail(level);
        s.fsCount[level]++;
        s.entered[level]++;
        s.maxLevel = std::max(s.maxLevel, level);
        Open(net, later);
        if (later) s.W = 1;
        s.lastPlain = false;
        return ipc_->showoog ? Special(level, net, later, s, false) : 0;
      case NK_REPAIR:
        s.RepairScore++;
        s.W = 0;
        s.lastPlain = false;
        return ipc_->showoog ? Special(level, net, later, s, false) : 0;
      case NK_OOG:
        s.oogScore++;
        s.W = ipc_->showoog ? 1 : 0;
        s.lastPlain = false;
        return ipc_->showoog ? Special(level, net, later, s, false) : 0;
      case NK_FI:
        if (later) s.W = 1;
        s.lastPlain = false;
        return Special(level, net, later, s, false);
      default:
        if (later) s.W = 1;
        s.lastPlain = true;
        return Special(level, net, later, s, true);
    }
  }

  // Writes a counted word (or hides it); answers whether it was written.
  bool PutWord(int32_t t, const PathScore &s) {
    if (!withText_) return true;
    bool hide = ipc_->hide && !ipc_->showoog && !s.lastPlain && !(printPath_ && firstWord_);
    if (hide) return false;
    text += WordText(t) + (TranscriptOnlyNow() ? " " : ",");
    return true;
  }

  const SymbolLevels &PrefixLevels(int32_t origin, int32_t prefix) const {
    return LevelsOf(pc_, (*pc_->From)[origin].prefix[prefix].symbol);
  }

  int CheckDepth(const SymbolLevels &sym, int *D) {
    *D = sym.depth;
    if (*D > PARENTSIZE)
      return Fail(pc_, Spf("PARENTSIZE (%d) is less than opiDepth (%d) in %s: ", PARENTSIZE, *D, routine_),
                  __LINE__);
    return 0;
  }

  int Word(const std::vector<int32_t> &path, size_t w, PathScore &s) {
    const PtoaEntry E = ipc_->ptoa[path[w]];
    const SymbolLevels &curSym = PrefixLevels(E.net, E.prefix);
    int D;
    if (CheckDepth(curSym, &D)) return 1;
    if (!s.counted) {
      firstWord_ = true;
      const bool useFrom = w == 0 && E.prevPosition != NO_POSITION;
      for (int pass = useFrom ? 0 : 1; pass < 2; pass++) {
        const SymbolLevels &sym = pass == 0 ? PrefixLevels(E.fromNet, E.fromPrefix) : curSym;
        int Dp;
        if (CheckDepth(sym, &Dp)) return 1;
        const std::vector<int32_t> &nets = sym.nets;
        int startLevel = 0;
        if (ipc_->prolog) {
          startLevel = 1;
          if (w == 0 && pass == (useFrom ? 0 : 1)) {
            const std::string top = NetName(nets[0]);
            if (AfterLast(top, '_') != "type]" || top.find('_') == std::string::npos)
              return Fail(pc_, std::string("Error: The top-level net suffix is not \"_type\" as called for by the "
                                           "conventions of Prolog mode in ") + routine_ + ": ",
                          __LINE__);
            s.fsCount[0]++;
            s.entered[0]++;
            s.maxLevel = 1;
            if (withText_ && !TranscriptOnlyNow())
              text += "[fsType:" + (top.size() >= 2 ? top.substr(1, top.size() - 2) : top) + ",";
          }
        }
        s.W = 1;
        s.lastPlain = false;
        for (int l = startLevel; l <= Dp; l++)
          if (Classify(l, nets[l], false, s)) return 1;
        if (s.W == 0 && pass == 0) continue;
        if (s.W == 1) {
          const int32_t t = pass == 0 ? FromTerminal(E) : OwnTerminal(E);
          const int last = Dp >= startLevel ? Dp : startLevel - 1;
          s.counted = true;
          s.WordScore++;
          if (PutWord(t, s) || !withText_) s.lastDepth = last;
        }
        break;
      }
      firstWord_ = false;
      return 0;
    }
    const SymbolLevels &fromSym = PrefixLevels(E.fromNet, E.fromPrefix);
    int P;
    if (CheckDepth(fromSym, &P)) return 1;
    const int B = (*pc_->From)[E.net].depth;
    const std::vector<int32_t> &nets = curSym.nets;
    for (int l = std::min(P, kLevels - 1); l >= B + 1; l--) {
      if (l == P && l == s.lastDepth && s.left[l] < s.entered[l]) {
        if (withText_ && !TranscriptOnlyNow()) {
          if (!text.empty()) text.pop_back();
          text += Closing();
        }
        s.left[l]++;
      }
      if (s.left[l] < s.entered[l]) {
        if (withText_ && !TranscriptOnlyNow()) text += Closing();
        s.left[l]++;
        s.maxLevel = std::max(s.maxLevel, l);
      }
    }
    if (withText_ && !ipc_->transcript && D == B && B != P && (text.empty() || text.back() != ','))
      text += ",";
    for (int l = B + 1; l <= D; l++)
      if (Classify(l, nets[l], true, s)) return 1;
    if (s.W == 1) {
      s.WordScore++;
      if (PutWord(OwnTerminal(E), s) || !withText_) s.lastDepth = D;
    }
    return 0;
  }

  ParserControl *pc_;
  InputParserControl *ipc_;
  const char *routine_;
  bool withText_;
  bool printPath_;
  bool transcriptOnly_;
  bool firstWord_ = false;
};

// The elements of the path that ends at element e, first step first.
int PathOf(InputParserControl *ipc, int32_t e, std::vector<int32_t> &path) {
  path.clear();
  for (int32_t x = e; x >= 0; x = ipc->ptoa[x].prevStep) {
    path.push_back(x);
    if ((int)path.size() > ipc->ptoa.count) return 1;  // a cycle: never made by the parse
  }
  std::reverse(path.begin(), path.end());
  return 0;
}

void LoadLevels(const LevelItem *head, PathScore &s) {
  int l = 0;
  for (const LevelItem *it = head; it && l < kLevels; it = it->next, l++) {
    s.fsCount[l] = it->fsCount;
    s.entered[l] = it->entered;
    s.left[l] = it->left;
  }
}

void StoreLevels(InputParserControl *ipc, const PathScore &s, LevelItem **head, LevelItem **tail) {
  *head = *tail = nullptr;
  for (int l = 0; l <= s.maxLevel && l < kLevels; l++) {
    LevelItem *it = (LevelItem *)mem_Alloc(ipc->itemPool, 1);
    it->fsCount = s.fsCount[l];
    it->entered = s.entered[l];
    it->left = s.left[l];
    it->next = nullptr;
    it->prev = *tail;
    if (*tail) (*tail)->next = it;
    else *head = it;
    *tail = it;
  }
}

void StoreScore(InputParserControl *ipc, const PathScore &s, ActivePath &a) {
  a.WordScore = s.WordScore;
  a.RepairScore = s.RepairScore;
  a.oogScore = s.oogScore;
  a.FScore = (uint16_t)s.FScore;
  a.NetScore = (uint16_t)s.NetScore;
  a.lastDepth = (uint8_t)s.lastDepth;
  a.maxLevel = (uint8_t)s.maxLevel;
  a.resumedFrom = s.resumedFrom;
  StoreLevels(ipc, s, &a.levelHead, &a.levelTail);
}

void LoadScore(const ActivePath &a, PathScore &s) {
  s.WordScore = a.WordScore;
  s.RepairScore = a.RepairScore;
  s.oogScore = a.oogScore;
  s.FScore = a.FScore;
  s.NetScore = a.NetScore;
  s.lastDepth = a.lastDepth;
  s.maxLevel = a.maxLevel;
  LoadLevels(a.levelHead, s);
}

}  // namespace

// ---------------------------------------------------------------------------
// Pruning of finished paths

namespace {

enum Verdict { LOSE = -1, TIE = 0, WIN = 1 };

// Candidate K against reference R, by the rules of the pruning.
Verdict ComparePaths(const InputParserControl *ipc, const PathScore &K, const PtoaEntry &kE,
                     const PathScore &R, const PtoaEntry &rE) {
  const int bits = CompareBits(kE, rE);
  const bool Kg = bits > 0, Rg = bits < 0;
  const int L = std::min(kLevels, std::max(K.maxLevel, R.maxLevel) + (ipc->prolog ? 1 : 0));
  if (bits == 0) {
    if (K.WordScore > R.WordScore) return K.WordScore <= ipc->inputCount + 1 ? WIN : TIE;
    if (K.WordScore < R.WordScore) return LOSE;
    if (ipc->maxfi && K.FScore != R.FScore) return K.FScore > R.FScore ? WIN : LOSE;
    for (int l = 0; l < L; l++)
      if (K.fsCount[l] != R.fsCount[l]) return K.fsCount[l] < R.fsCount[l] ? WIN : LOSE;
    if (!ipc->maxfi && K.FScore != R.FScore) return K.FScore < R.FScore ? WIN : LOSE;
    if (K.RepairScore != R.RepairScore) return K.RepairScore < R.RepairScore ? WIN : LOSE;
    if (K.oogScore != R.oogScore) return K.oogScore < R.oogScore ? WIN : LOSE;
    if (K.NetScore != R.NetScore) return K.NetScore < R.NetScore ? WIN : LOSE;
    return TIE;
  }
  if (ipc->maxfi && K.FScore != R.FScore) return K.FScore > R.FScore ? WIN : LOSE;
  for (int l = 0; l < L; l++) {
    if (K.fsCount[l] < R.fsCount[l] && !Rg) return WIN;
    if (K.fsCount[l] > R.fsCount[l] && !Kg) return LOSE;
  }
  if (!ipc->maxfi && K.FScore != R.FScore) return K.FScore < R.FScore ? WIN : LOSE;
  if (K.RepairScore != R.RepairScore) return K.RepairScore < R.RepairScore ? WIN : LOSE;
  if (K.oogScore != R.oogScore) return K.oogScore < R.oogScore ? WIN : LOSE;
  if (K.NetScore < R.NetScore && !Rg) return WIN;
  if (K.NetScore > R.NetScore && !Kg) return LOSE;
  return Kg ? WIN : LOSE;
}

// The first element of the group that holds element x.
int32_t GroupFirstOf(const InputParserControl *ipc, int32_t x) {
  const int32_t pg = ipc->ptoa[x].prevGroup;
  if (pg >= 0) return ipc->ptoa[pg].nextGroup;
  int32_t f = x;
  while (ipc->ptoa[f].prev >= 0 && ipc->ptoa[ipc->ptoa[f].prev].prevGroup == pg) f = ipc->ptoa[f].prev;
  return f;
}

// Unlinks the group of element x from node n; the removed elements are
// appended to *removed when given. `routine` names the caller in the texts.
int RemoveGroup(ParserControl *pc, InputParserControl *ipc, int32_t n, int32_t x, bool fromGroupRoutine,
                std::vector<int32_t> *removed) {
  TerminalEntry &t = ipc->terminal[n];
  const int32_t Q = ipc->ptoa[x].prevGroup;
  auto take = [&](int32_t F, int32_t N) {
    for (int32_t e = F; e >= 0 && e != N;) {
      int32_t next = ipc->ptoa[e].next;
      if (removed) removed->push_back(e);
      t.count--;
      e = next;
    }
  };
  if (Q == -1) {
    const int32_t F = t.first;
    const int32_t N = ipc->ptoa[F].nextGroup;
    if (N == -1) {
      if (fromGroupRoutine)
        return Fail(pc, Spf("Error: The first active group(%d) being pruned has no following active group --- in "
                            "RTN_GetPossibilities: ", F), __LINE__);
      return Fail(pc, Spf("Error: The previous active group(%d) being pruned has no following active group --- "
                          "in RTN_PruneActive: ", x), __LINE__);
    }
    take(F, N);
    t.first = N;
    ipc->ptoa[N].prev = -1;
    for (int32_t e = N; e >= 0 && ipc->ptoa[e].prevGroup == F; e = ipc->ptoa[e].next) ipc->ptoa[e].prevGroup = -1;
    return 0;
  }
  const int32_t F = ipc->ptoa[Q].nextGroup;
  const int32_t N = ipc->ptoa[F].nextGroup;
  const int32_t Lp = ipc->ptoa[F].prev;
  if (Lp == -1)
    return Fail(pc, Spf("Error: The current active group(%d) being pruned has a previous active group(%d) but lprev "
                        "of this current active group's first element is -1 --- in RTN_PruneActive: ", F, Q),
                __LINE__);
  take(F, N);
  ipc->ptoa[Q].nextGroup = N;
  if (N != -1) {
    ipc->ptoa[N].prev = Lp;
    ipc->ptoa[Lp].next = N;
    for (int32_t e = N; e >= 0 && ipc->ptoa[e].prevGroup == F; e = ipc->ptoa[e].next) ipc->ptoa[e].prevGroup = Q;
  } else {
    ipc->ptoa[Lp].next = -1;
    ipc->ptoa[Lp].nextGroup = -1;
    t.last = Lp;
    t.lastGroup = Q;  // later appends chain behind the group that is last now
  }
  return 0;
}

// Survivor list and reference of one pruning call.
std::vector<int32_t> g_survivors;

// Removes the prune link of node n whose head is prune origin o.
void DropLink(InputParserControl *ipc, int32_t n, int32_t o) {
  int32_t prev = -1;
  for (int32_t k = ipc->terminal[n].pruneLinks; k >= 0; prev = k, k = ipc->ponl[k].next) {
    if (ipc->ponl[k].head != o) continue;
    if (prev < 0) ipc->terminal[n].pruneLinks = ipc->ponl[k].next;
    else ipc->ponl[prev].next = ipc->ponl[k].next;
    return;
  }
}

int ScorePath(ParserControl *pc, InputParserControl *ipc, int32_t e, PathScore &s) {
  // The path back to the latest step whose score is cached (prune 2 and
  // more), or to its first step.
  std::vector<int32_t> path;
  int32_t cached = -1;
  for (int32_t x = e; x >= 0; x = ipc->ptoa[x].prevStep) {
    path.push_back(x);
    if ((int)path.size() > ipc->ptoa.count)
      return Fail(pc, "Error: a path without a start in RTN_PruneActive: ", __LINE__);
    const int32_t ap = ipc->ptoa[x].activePath;
    if (x != e && ipc->prune >= 2 && ap >= 0 && ap < ipc->activePath.count) {
      cached = ap;
      break;
    }
  }
  std::reverse(path.begin(), path.end());
  s.ZeroKeepMax();
  size_t start = 0;
  // The steps of the path first, then the cached score they resume from.
  if (ipc->debug == 1 || ipc->debug == 2) {
    std::vector<int32_t> whole;
    if (PathOf(ipc, e, whole)) return Fail(pc, "Error: a path without a start in RTN_PruneActive: ", __LINE__);
    std::string t = Spf("%d(-1) ", whole.back());
    for (int i = (int)whole.size() - 2; i >= 0; i--) t += Spf("%d(%d)  ", whole[i], ipc->ptoa[whole[i]].activePath);
    Out(pc, t + "\n");
  }
  if (cached >= 0) {
    LoadScore(ipc->activePath[cached], s);
    s.counted = true;
    s.W = 1;
    s.resumedFrom = cached;
    start = 1;
    if (ipc->debug >= 1 && ipc->debug <= 3)
      Out(pc, Spf("\n\tSaved prevPtoaoCount(%d)\n", ipc->ptoa[path[0]].steps - 1));
  }
  PathBuilder b(pc, ipc, "RTN_PruneActive", false, false);
  return b.Run(path, start, s);
}

// The trace lines of a node's list from element `from` to the end of the
// group that holds `upTo` (-1: the whole list), with "Error" where the
// group links disagree.
std::string TraceList(const InputParserControl *ipc, int32_t n, int32_t from, int32_t upTo) {
  std::string t;
  const int32_t stopGroup = upTo >= 0 ? ipc->ptoa[upTo].prevGroup : INT32_MIN;
  bool inStop = false;
  int32_t groupFirst = -1;
  for (int32_t e = from; e >= 0; e = ipc->ptoa[e].next) {
    const PtoaEntry &x = ipc->ptoa[e];
    const bool boundary = e != from && x.prevGroup != ipc->ptoa[x.prev >= 0 ? x.prev : e].prevGroup;
    if (upTo >= 0 && inStop && boundary) break;
    if (boundary) {
      if (!(groupFirst >= 0 && ipc->ptoa[groupFirst].nextGroup == e && x.prevGroup == groupFirst)) t += "Error\n";
      groupFirst = e;
    } else if (e == from) {
      groupFirst = e;
    }
    if (x.prevGroup == stopGroup) inStop = true;
    t += Spf("%d: %d %d %d %d %d\n", n, x.prevGroup, x.prev, e, x.next, x.nextGroup);
  }
  return t;
}

// Trace of one path before it is scored: its text and the list around it.
void TracePath(ParserControl *pc, InputParserControl *ipc, int32_t n, int32_t e) {
  RTN_PrintPath(pc, ipc, e, n, (uint8_t)ipc->prolog, (uint8_t)ipc->prettyprint, 0, 0);
  Out(pc, "\n");
  int32_t g = GroupFirstOf(ipc, e);
  int32_t from = g;
  for (int k = 0; k < 2 && from >= 0 && ipc->ptoa[from].prevGroup >= 0; k++) from = ipc->ptoa[from].prevGroup;
  if (from < 0) from = ipc->terminal[n].first;
  Out(pc, TraceList(ipc, n, from, e) + "\n");
}

}  // namespace

int RTN_PruneActiveGroup(ParserControl *pc, InputParserControl *ipc, int32_t ptOffset, int32_t element,
                         int unlinkOrigins) {
  const int32_t F = GroupFirstOf(ipc, element);
  if (RemoveGroup(pc, ipc, ptOffset, element, true, nullptr)) return 1;
  if (!unlinkOrigins) return 0;
  const int32_t src = ipc->ptoa[F].pruneSource;
  if (src < 0) return 0;
  const int32_t pono = ipc->ptoa[src].poNode;
  const std::string key = Spf("PO %d ", ptOffset) + Sym(pc, (*pc->From)[ipc->ptoa[F].pruneNet].symbol);
  GDH_HashEntry *po = Find(pc, key);
  if (!po || po->value < 0) return 0;
  TerminalEntry &t = ipc->terminal[ptOffset];
  for (int32_t o = (int32_t)(po->value >> 17); o >= 0; o = ipc->ponl[o].next) {
    int32_t before = -1;
    for (int32_t k = ipc->ponl[o].head; k >= 0; before = k, k = ipc->pon[k].next) {
      if (k != pono) continue;
      if (before < 0) {
        const int32_t rest = ipc->pon[k].next;
        if (rest < 0) {
          ipc->ponl[o].head = -1;
          int32_t prevO = -1;
          for (int32_t q = t.pruneOrigins; q >= 0 && q != o; q = ipc->ponl[q].next) prevO = q;
          const int32_t nextO = ipc->ponl[o].next;
          if (prevO < 0) t.pruneOrigins = nextO;
          else ipc->ponl[prevO].next = nextO;
          if (t.pruneOrigins < 0) t.pruneLinks = -1;
          if (nextO >= 0) po->value = ((intptr_t)nextO << 17) | ipc->ponl[nextO].head;
          else if (prevO < 0) po->value = -1;
          else po->value = ((intptr_t)prevO << 17) | ipc->ponl[prevO].head;
        } else {
          ipc->ponl[o].head = rest;
          if ((po->value >> 17) == o) po->value = ((intptr_t)o << 17) | rest;
          if (ipc->pon[rest].next < 0) DropLink(ipc, ptOffset, o);
        }
      } else {
        ipc->pon[before].next = ipc->pon[k].next;
        if (ipc->pon[ipc->ponl[o].head].next < 0) DropLink(ipc, ptOffset, o);
      }
      return 0;
    }
  }
  return FAIL(pc, Spf("Error: The pono of the current active group(%d) being pruned cannot be found\nin "
                      "RTN_PruneActive: ", F));
}

int RTN_PruneActive(ParserControl *pc, InputParserControl *ipc, int32_t ptOffset) {
  for (auto &a : ipc->prunePath.table) memset(&a, 0, sizeof a);
  ipc->prunePath.count = 0;
  if (ipc->debug == 1)
    Out(pc, "Entering RTN_PruneActive -------------------------------------------------------------\n");
  auto ensurePrune = [&](int i) -> int {
    while (i >= ipc->prunePath.Capacity())
      if (RTN_AllocActivePaths(pc, ipc, &ipc->prunePath)) return 1;
    if (ipc->prunePath.count <= i) ipc->prunePath.count = i + 1;
    return 0;
  };
  PathScore R, K;
  int32_t rElement = -1;
  int runningMax = 0;  // maxLevel carries over from path to path within a call
  g_survivors.clear();
  for (int32_t link = ipc->terminal[ptOffset].pruneLinks; link >= 0; link = ipc->ponl[link].next) {
    const int32_t origin = ipc->ponl[link].head;
    std::vector<int32_t> ptoaos;
    for (int32_t k = ipc->ponl[origin].head; k >= 0; k = ipc->pon[k].next) {
      if ((int)ptoaos.size() >= FPTOAO_SIZE)
        return FAIL(pc, Spf("Error: FPTOAO_SIZE(%d) overrun in RTN_PruneActive: ", FPTOAO_SIZE));
      ptoaos.push_back(ipc->pon[k].element);
    }
    std::reverse(ptoaos.begin(), ptoaos.end());
    if (ptoaos.empty()) continue;
    const int initialCount = ipc->terminal[ptOffset].count;
    if (ipc->debug == 1) {
      std::string t = Spf("BEGIN **** ptOffset(%d) PruneNode(%d) FinishedNode(%d)\n********** ptoaos:\t", ptOffset,
                          link, origin);
      for (int32_t p : ptoaos) t += Spf("%d\t", p);
      Out(pc, t + "\n\n");
    }
    g_survivors.assign(1, ptoaos[0]);
    rElement = -1;
    if (ptoaos.size() > 1) {
      R.maxLevel = runningMax;
      if (ipc->debug == 1) TracePath(pc, ipc, ptOffset, ptoaos[0]);
      if (ScorePath(pc, ipc, ptoaos[0], R)) return 1;
      runningMax = std::max(runningMax, R.maxLevel);
      rElement = ptoaos[0];
      if (ipc->prune >= 2) {
        if (ensurePrune(0)) return 1;
        StoreScore(ipc, R, ipc->prunePath[0]);
      }
      std::vector<int32_t> removed;
      for (size_t j = 1; j < ptoaos.size(); j++) {
        const int32_t k = ptoaos[j];
        if (std::find(removed.begin(), removed.end(), k) != removed.end()) continue;
        g_survivors.push_back(k);
        K.maxLevel = runningMax;
        if (ipc->debug == 1) TracePath(pc, ipc, ptOffset, k);
        if (ScorePath(pc, ipc, k, K)) return 1;
        runningMax = std::max(runningMax, K.maxLevel);
        Verdict v = ComparePaths(ipc, K, ipc->ptoa[k], R, ipc->ptoa[rElement]);
        if (v == WIN) {
          if (ipc->debug == 1)
            Out(pc, Spf("PrunePrevious(%d): start\n", k) + TraceList(ipc, ptOffset, ipc->terminal[ptOffset].first, -1) +
                        Spf("Count: %d\n", ipc->terminal[ptOffset].count));
          for (size_t i = 0; i + 1 < g_survivors.size(); i++)
            if (RemoveGroup(pc, ipc, ptOffset, g_survivors[i], false, &removed)) return 1;
          g_survivors.assign(1, k);
          R = K;
          rElement = k;
          if (ipc->prune >= 2) StoreScore(ipc, K, ipc->prunePath[0]);
          if (ipc->debug == 1)
            Out(pc, Spf("PrunePrevious(%d): end\n", k) + TraceList(ipc, ptOffset, ipc->terminal[ptOffset].first, -1) +
                        Spf("Count: %d\n", ipc->terminal[ptOffset].count));
        } else if (v == LOSE) {
          if (ipc->debug == 1)
            Out(pc, Spf("PruneCurrent(%d): start\n", k) + TraceList(ipc, ptOffset, ipc->terminal[ptOffset].first, -1) +
                        Spf("Count: %d\n", ipc->terminal[ptOffset].count));
          if (RemoveGroup(pc, ipc, ptOffset, k, false, &removed)) return 1;
          g_survivors.pop_back();
          if (ipc->debug == 1)
            Out(pc, Spf("PruneCurrent(%d): end\n", k) + TraceList(ipc, ptOffset, ipc->terminal[ptOffset].first, -1) +
                        Spf("Count: %d\n", ipc->terminal[ptOffset].count));
        } else if (ipc->prune >= 2) {
          R = K;
          rElement = k;
          int i = (int)g_survivors.size() - 1;
          if (ensurePrune(i)) return 1;
          StoreScore(ipc, K, ipc->prunePath[i]);
        }
      }
    }
    // The chain keeps the survivors only.
    int32_t k = ipc->ponl[origin].head, lastKept = -1;
    for (size_t i = 0; i < g_survivors.size() && k >= 0; i++) {
      ipc->pon[k].element = g_survivors[i];
      lastKept = k;
      k = ipc->pon[k].next;
    }
    if (lastKept >= 0) ipc->pon[lastKept].next = -1;
    if (ipc->debug == 1) {
      Out(pc, Spf("Current Un-Pruned Finished Paths for finished node(%d):\n", origin));
      for (size_t i = 0; i < g_survivors.size(); i++) {
        Out(pc, Spf("\nIndex(%d)", (int)i + 1));
        RTN_PrintPath(pc, ipc, g_survivors[i], ptOffset, (uint8_t)ipc->prolog, (uint8_t)ipc->prettyprint, 0, 0);
        Out(pc, "\n");
      }
    }
    if (ipc->debug == 1) {
      std::string t = Spf("END ****** ptOffset(%d) PruneNode(%d) FinishedNode(%d)\n********** initialCount(%d) "
                          "finishedCount(%d)\n********** ptoaos:\t",
                          ptOffset, link, origin, initialCount, ipc->terminal[ptOffset].count);
      for (int32_t p : g_survivors) t += Spf("%d\t", p);
      Out(pc, t + "\n\n");
    }
  }
  if (ipc->prune >= 2 && rElement >= 0) {
    for (size_t i = 0; i < g_survivors.size() && (int)i < ipc->prunePath.count; i++) {
      if (ipc->activePath.count >= ipc->activePath.Capacity() &&
          RTN_AllocActivePaths(pc, ipc, &ipc->activePath))
        return 1;
      const int32_t ap = ipc->activePath.count++;
      ipc->activePath[ap] = ipc->prunePath[i];
      const int32_t first = GroupFirstOf(ipc, g_survivors[i]);
      const int32_t pg = ipc->ptoa[first].prevGroup;
      for (int32_t e = first; e >= 0 && ipc->ptoa[e].prevGroup == pg; e = ipc->ptoa[e].next) {
        ipc->ptoa[e].activePath = ap;
        if (ipc->debug == 1) Out(pc, Spf("\tptoao(%d) papto(%d)\n", e, ap));
      }
    }
  }
  ipc->terminal[ptOffset].pruneLinks = -1;
  if (ipc->debug == 1)
    Out(pc, "\nLeaving RTN_PruneActive -------------------------------------------------------------\n\n");
  return 0;
}

// ---------------------------------------------------------------------------
// Indented and canonical forms of a text

namespace {

bool StartsAt(const std::string &s, size_t i, const char *w) { return s.compare(i, strlen(w), w) == 0; }
bool StartsConj(const std::string &s, size_t i) {
  return StartsAt(s, i, "conj") || StartsAt(s, i, "disj") || StartsAt(s, i, "edit");
}
std::string Tabs(int k) { return std::string((size_t)std::max(0, std::min(k, PARENTSIZE - 1)), '\t'); }

// The indented form (one net ending in "_fs" or "_fi" a line deeper).
int Indent(ParserControl *pc, const std::string &t, bool tail, const char *routine, std::string &out) {
  int open[PARENTSIZE] = {}, close[PARENTSIZE] = {};
  int d = 0;
  bool pending = false;
  // The type (or, for a one-word text, all of it) on the first line.
  size_t i = std::min(t.find(','), t.size());
  out += t.substr(0, i) + ",\n";
  i++;
  open[0]++;
  const std::string closing = tail ? "|_]" : "]";
  auto down = [&]() { d = std::max(0, d - 1); };
  auto afterComma = [&](size_t j) { pending = j < t.size() && StartsConj(t, j); };
  const std::string chainFail = std::string("\nFormat Error: no matching bracket found in ") + routine + ": ";
  const std::string countFail = std::string("Format Error: no matching bracket found in ") + routine + ": ";
  // A closing whose counts balance, and the closings that directly follow it.
  auto chain = [&](size_t &j) -> int {
    open[d] = close[d] = 0;
    down();
    out += closing;
    while (j < t.size() && StartsAt(t, j, closing.c_str())) {
      j += closing.size();
      close[d]++;
      if (open[d] != close[d]) return Fail(pc, tail ? countFail : chainFail, __LINE__);
      open[d] = close[d] = 0;
      down();
      out += closing;
    }
    if (j < t.size() && t[j] == ',') {
      out += ",\n" + Tabs(d);
      j++;
      afterComma(j);
    } else {
      if (open[d] != close[d]) return Fail(pc, countFail, __LINE__);
      out += "\n";
      if (j < t.size()) j++;
    }
    return 0;
  };
  while (i < t.size()) {
    if (StartsAt(t, i, "_fs:") || StartsAt(t, i, "_fi:")) {
      out += "_" + t.substr(i + 1, 2) + ":\n" + Tabs(d + 1);
      d = std::min(d + 1, PARENTSIZE - 1);
      i += 4;
      continue;
    }
    if (!tail && StartsConj(t, i)) {
      size_t r = t.find(']', i);
      size_t end = r == std::string::npos ? t.size() : r + 1;
      out += t.substr(i, end - i);
      i = end;
      if (i < t.size() && t[i] == ',') {
        out += ",";
        i++;
      } else if (i < t.size() && t[i] == ']') {
        while (i < t.size() && t[i] == ']') {
          out += "]";
          close[d]++;
          down();
          i++;
        }
        if (i < t.size()) i++;
      }
      if (pending) {
        out += "\n" + Tabs(d);
        pending = false;
      }
      continue;
    }
    const char c = t[i];
    if (c == '[') {
      open[d]++;
      out += "[";
      i++;
      continue;
    }
    if (!tail && c == ']') {
      close[d]++;
      i++;
      if (open[d] != close[d]) {
        out += "]";
        continue;
      }
      if (i < t.size() && t[i] == ',') {
        open[d] = close[d] = 0;
        down();
        out += "],\n" + Tabs(d);
        i++;
        afterComma(i);
        continue;
      }
      if (chain(i)) return 1;
      continue;
    }
    if (tail && c == '|') {
      if (!StartsAt(t, i, "|_]"))
        return Fail(pc, std::string("Error: improper tail format in ") + routine + ": ", __LINE__);
      close[d]++;
      i += 3;
      if (open[d] != close[d]) {
        out += "|_]";
        continue;
      }
      if (i < t.size() && t[i] == ',') {
        open[d] = close[d] = 0;
        down();
        out += "|_],\n" + Tabs(d);
        i++;
        continue;
      }
      if (chain(i)) return 1;
      continue;
    }
    out += c;
    i++;
  }
  return 0;
}

// Bracket form: a net ending in "_c" stands for its whole bracket.
std::string CanonicalBrackets(const std::string &t) {
  std::string out;
  size_t i = 0;
  for (;;) {
    size_t c = t.find("_c:", i);
    if (c == std::string::npos) {
      out += t.substr(i);
      return out;
    }
    out += t.substr(i, c - i);
    size_t j = c + 3;
    if (j < t.size() && t[j] == '[') {
      // Up to the bracket that closes this net's, nested nets included.
      int depth = 0;
      for (; j < t.size(); j++) {
        if (t[j] == '[') depth++;
        else if (t[j] == ']' && --depth == 0) break;
      }
    } else {
      j = t.find(']', j);
    }
    if (j == std::string::npos || j >= t.size()) return out;
    i = j + 1;
  }
}

// Name form: the names of the "_c" nets, blank-separated, '_' made blank.
int CanonicalNames(ParserControl *pc, const std::string &t, std::string &out) {
  if (t.find("_c:") == std::string::npos) {
    out = t;
    return 0;
  }
  out.clear();
  size_t from = 0;
  for (size_t c = t.find("_c:"); c != std::string::npos; c = t.find("_c:", c + 3)) {
    size_t k = c;
    while (k > from && t[k - 1] != ',' && t[k - 1] != '[') k--;
    if (k == from && !(k > 0 && (t[k - 1] == ',' || t[k - 1] == '[')))
      return Fail(pc, "Error: no previous comma or opening bracket found for canonical net in RTN_PrintFinished: ",
                  __LINE__);
    if (!out.empty()) out += " ";
    out += t.substr(k, c - k);
    from = c + 1;
  }
  std::replace(out.begin(), out.end(), '_', ' ');
  return 0;
}

// A word of the input as the trailer shows it; false when the lower side is
// asked for and the word has none.
std::string TrailerWord(const std::string &w, bool upper) {
  size_t c = w.find(':');
  if (c == std::string::npos) return w;  // a plain word is both of its sides
  return upper ? w.substr(0, c) : w.substr(c + 1);
}

std::string InputTrailer(InputParserControl *ipc, bool release) {
  std::string out;
  for (int s = 0; s < ipc->probbeam && s < (int)ipc->beamItem.size(); s++) {
    out += Spf("\n\nInput[%d]: ", s);
    for (int p = 0; p < CURRENTPATHARRAY_SIZE; p++) {
      BeamCell &cell = ipc->beamItem[s][p];
      if (cell.item.empty()) break;
      std::string w = TrailerWord(cell.item[0], ipc->upper);
      if (ipc->beamOwned[s][p]) {
        out += w + " ";
        if (release) {
          cell.item.clear();
          cell.value.clear();
          ipc->beamOwned[s][p] = 0;
        }
      } else {
        out += "[" + w + "] ";
      }
    }
  }
  return out;
}

}  // namespace

int RTN_PrintPath(ParserControl *pc, InputParserControl *ipc, int32_t element, int32_t ptOffset, uint8_t prolog,
                  uint8_t indented, uint8_t blankLine, int32_t unused) {
  (void)unused;
  (void)prolog;
  std::vector<int32_t> path;
  if (PathOf(ipc, element, path)) return FAIL(pc, "Error: a path without a start in RTN_PrintPath: ");
  PathScore s;
  PathBuilder b(pc, ipc, "RTN_PrintPath", true, true);
  if (b.Run(path, 0, s)) return 1;
  b.Finish(s);
  if (indented) {
    std::string head = Spf("\nptOffset(%d) ptoaOffsetIndex(%d):\n\tWordScore(%d) RepairScore(%d) oogScore(%d) "
                           "FScore(%d) NetScore(%d)\n\t\t",
                           ptOffset, element, s.WordScore, s.RepairScore, s.oogScore, s.FScore, s.NetScore);
    for (int l = 1; l <= s.maxLevel && l < kLevels; l++)
      if (s.fsCount[l]) head += Spf("FsLevelScore(%d:%d) ", l, s.fsCount[l]);
    Out(pc, head + "\n\n");
    if (b.text.find(',') == std::string::npos)
      return FAIL(pc, "Format Error: no comma following the initial type was found in RTN_PrintPath: ");
    std::string out;
    if (Indent(pc, b.text, false, "RTN_PrintPath", out)) return 1;
    Out(pc, out);
  } else {
    Out(pc, b.text + (blankLine ? "\n\n" : "\n"));
  }
  if (ipc->input) Out(pc, InputTrailer(ipc, false));
  if (blankLine) Out(pc, "\n");
  return 0;
}

// ---------------------------------------------------------------------------
// Finished paths and the n-best output

namespace {

struct FinishedPath {
  int32_t prev = -1;
  int32_t text = 0;  // offset in the string table
  int32_t WordScore = 0, RepairScore = 0, oogScore = 0;
  LevelItem *levelHead = nullptr, *levelTail = nullptr;
  int32_t ptoaoIndex = 0;
  int32_t next = -1;
  uint16_t FScore = 0, NetScore = 0;
  uint8_t lastDepth = 0, maxLevel = 0;
  int32_t element = -1;  // the path's last element
  PathScore score;       // the whole running state, to resume a longer path from it
};

enum Order { N_WINS, N_LOSES, GO_ON, BEFORE };

int LevelFs(const FinishedPath &r, int l) { return l <= r.maxLevel && l < kLevels ? r.score.fsCount[l] : 0; }

// Path N against record E of the order list.
Order CompareFinished(const InputParserControl *ipc, const FinishedPath &N, const FinishedPath &E,
                      const std::string &nText, const std::string &eText, bool *levelDecided) {
  *levelDecided = false;
  const int bits = CompareBits(ipc->ptoa[N.element], ipc->ptoa[E.element]);
  const bool Ng = bits > 0, Eg = bits < 0;
  const int L = std::min(kLevels, E.maxLevel > N.maxLevel ? E.maxLevel + 1 : (int)N.maxLevel);
  if (bits == 0) {
    if (N.WordScore > E.WordScore) return N.WordScore <= ipc->inputCount ? N_WINS : N_LOSES;
    if (N.WordScore < E.WordScore) return N_LOSES;
    if (ipc->maxfi && N.FScore != E.FScore) return N.FScore > E.FScore ? N_WINS : N_LOSES;
    for (int l = 0; l < L; l++) {
      int a = LevelFs(N, l), b = LevelFs(E, l);
      if (a != b) {
        *levelDecided = true;
        return a < b ? N_WINS : N_LOSES;
      }
    }
    if (!ipc->maxfi && N.FScore != E.FScore) return N.FScore < E.FScore ? N_WINS : N_LOSES;
    if (N.RepairScore != E.RepairScore) return N.RepairScore < E.RepairScore ? N_WINS : N_LOSES;
    if (N.oogScore != E.oogScore) return N.oogScore < E.oogScore ? N_WINS : N_LOSES;
    if (N.NetScore != E.NetScore) return N.NetScore < E.NetScore ? N_WINS : N_LOSES;
    return nText == eText ? BEFORE : GO_ON;
  }
  if (ipc->maxfi && N.FScore != E.FScore) return N.FScore > E.FScore ? N_WINS : N_LOSES;
  for (int l = 0; l < L; l++) {
    int a = LevelFs(N, l), b = LevelFs(E, l);
    if (a < b && !Eg) {
      *levelDecided = true;
      return N_WINS;
    }
    if (a > b && !Ng) {
      *levelDecided = true;
      return N_LOSES;
    }
  }
  if (!ipc->maxfi && N.FScore != E.FScore) return N.FScore < E.FScore ? N_WINS : N_LOSES;
  if (N.RepairScore != E.RepairScore) return N.RepairScore < E.RepairScore ? N_WINS : N_LOSES;
  if (N.oogScore != E.oogScore) return N.oogScore < E.oogScore ? N_WINS : N_LOSES;
  if (N.NetScore < E.NetScore && !Eg) return N_WINS;
  if (N.NetScore > E.NetScore && !Ng) return N_LOSES;
  return Ng ? N_WINS : N_LOSES;
}

bool SameLevels(const FinishedPath &a, const FinishedPath &b) {
  if (a.maxLevel != b.maxLevel) return false;
  for (int l = 0; l <= a.maxLevel && l < kLevels; l++)
    if (a.score.fsCount[l] != b.score.fsCount[l]) return false;
  return true;
}

int AllocFinishedPaths(ParserControl *pc, InputParserControl *ipc, std::vector<FinishedPath> &records) {
  int prevSize = (int)records.capacity();
  int size = prevSize + FINISHEDPATH_TABLESIZE;
  records.reserve((size_t)size);
  return ReportGrowth(pc, ipc, "RTN_AllocFinishedPaths", "FINISHEDPATH_TABLESIZE", prevSize,
                      FINISHEDPATH_TABLESIZE, size, __LINE__);
}

int AllocStringChars(ParserControl *pc, int32_t *bytes) {
  int prevSize = *bytes;
  int size = prevSize + FPSTRING_TABLEINCR;
  *bytes = size;
  std::string text = Spf("RTN_AllocFinishedPathStringTableChars(%s): prevSize(%d) FPSTRING_TABLEINCR(%d) size(%d)\n",
                         NetName0(pc).c_str(), prevSize, FPSTRING_TABLEINCR, size);
  if (pc->fPrintAllocs) Out(pc, text);
  if (pc->fLogAllocs) {
    FILE *f = fopen("allocLog.txt", "at");
    if (!f)
      return FAIL(pc, "Error: fopen failure for allocLog.txt in RTN_AllocFinishedPathStringTableChars: ");
    fputs(text.c_str(), f);
    fclose(f);
  }
  return 0;
}

}  // namespace

int RTN_PrintFinished(ParserControl *pc, InputParserControl *ipc, int tcl) {
  if (ipc->finishedTokenListCount == 0) {
    if (tcl) pc->pres.clear();
    return 0;
  }
  std::vector<int32_t> collected;
  for (int p = ipc->longestFinished; p >= 0; p--) {
    const int f = ipc->finishedTokenListArrray[p];
    if (f == -1) {
      if (ipc->nbest)
        return FAIL(pc, Spf("Error: pipc->finishedTokenListArrray at the longest finished index(%d) is -1 --- in "
                            "RTN_PrintFinished: ", p));
      continue;
    }
    if (f >= CURRENTPATHARRAY_SIZE)
      return FAIL(pc, Spf("Error: ftlai(%d) exceeds CURRENTPATHARRAY_SIZE --- in RTN_PrintFinished: ", f));
    const int cf = ipc->finishedTokenList[f];
    if (cf < 0 || cf >= ipc->terminal.count)
      return FAIL(pc, Spf("Error: cf(%d) exceeds terminal table size(%d) --- in RTN_PrintFinished: ", cf,
                          ipc->terminal.count));
    const int total = (int)collected.size() + ipc->terminal[cf].count;
    if (total >= PTOAOFFSETINDEXARRAY_SIZE)
      return FAIL(pc, Spf("Error: ptoaoi + pipc->terminal.table[cf].count(%d) exceeds PTOAOFFSETINDEXARRAY_SIZE(%d) "
                          "--- in RTN_PrintFinished: ", total, PTOAOFFSETINDEXARRAY_SIZE));
    int32_t e = ipc->terminal[cf].first;
    for (int k = 0; k < ipc->terminal[cf].count && e >= 0; k++) {
      collected.push_back(e);
      e = ipc->ptoa[e].finishedNext;
    }
    if (ipc->nbest) break;
  }
  // The cached scores of the pruning end here.
  for (auto &a : ipc->activePath.table) memset(&a, 0, sizeof a);
  ipc->activePath.count = 0;
  if (ipc->itemPool) mem_Reset(ipc->itemPool);

  std::vector<FinishedPath> records;
  records.reserve(FINISHEDPATH_TABLESIZE);
  std::string strtab;
  // The texts go where the cached scores were: that block's size decides
  // when it grows.
  int32_t strBytes = ipc->activePathBytes ? ipc->activePathBytes
                                          : ipc->activePath.Capacity() * (int32_t)sizeof(ActivePath);
  const int32_t strBytesAtStart = strBytes;
  auto textOf = [&](int32_t r) { return std::string(strtab.c_str() + records[r].text); };
  int32_t first = -1;
  for (size_t idx = 0; idx < collected.size(); idx++) {
    const int32_t last = collected[idx];
    if ((size_t)strBytes - strtab.size() < 8193 && AllocStringChars(pc, &strBytes)) return 1;
    std::vector<int32_t> path;
    if (PathOf(ipc, last, path)) return FAIL(pc, "Error: a path without a start in RTN_PrintFinished: ");
    if (ipc->debug == 1 || ipc->debug == 2) {
      std::string t = Spf("%d(-1) ", last);
      for (int i = (int)path.size() - 2; i >= 0; i--) {
        int ap = ipc->ptoa[path[i]].activePath;
        t += Spf("%d(%d)  ", path[i], ap < -1 ? -2 - ap : -1);
      }
      Out(pc, t + "\n");
    }
    PathScore s;
    PathBuilder b(pc, ipc, "RTN_PrintFinished", true, false);
    size_t start = 0;
    if (ipc->prune >= 2) {
      for (int i = (int)path.size() - 2; i >= 0; i--) {
        int ap = ipc->ptoa[path[i]].activePath;
        if (ap >= -1) continue;
        int r = -2 - ap;
        if (r >= (int)records.size()) continue;
        if (ipc->debug >= 1 && ipc->debug <= 4) Out(pc, Spf("\n\tSaved prevPtoaoCount(%d)\n", i));
        b.text = textOf(r);
        // The record's text is finished; resume from its running state.
        s = records[r].score;
        s.counted = true;
        s.W = 1;
        start = (size_t)i + 1;
        break;
      }
    }
    if (b.Run(path, start, s)) return 1;
    PathScore running = s;
    b.Finish(s);
    FinishedPath n;
    n.WordScore = s.WordScore;
    n.RepairScore = s.RepairScore;
    n.oogScore = s.oogScore;
    n.FScore = (uint16_t)s.FScore;
    n.NetScore = (uint16_t)s.NetScore;
    n.lastDepth = (uint8_t)s.lastDepth;
    n.maxLevel = (uint8_t)std::min(s.maxLevel, kLevels - 1);
    n.ptoaoIndex = (int32_t)idx;
    n.element = last;
    n.score = running;
    StoreLevels(ipc, s, &n.levelHead, &n.levelTail);
    // Insertion into the order list, best first.
    int32_t dup = -1, before = -1, lastSeen = -1;
    for (int32_t r = first; r >= 0; r = records[r].next) {
      bool levelDecided = false;
      Order o = CompareFinished(ipc, n, records[r], b.text, textOf(r), &levelDecided);
      lastSeen = r;
      if (o == N_WINS || o == BEFORE) {
        before = r;
        break;
      }
      if (o == N_LOSES && !levelDecided && b.text == textOf(r)) {
        dup = r;
        break;
      }
    }
    int32_t rec = -1;
    if (dup < 0) {
      if (records.size() >= records.capacity() && AllocFinishedPaths(pc, ipc, records)) return 1;
      while ((size_t)strBytes - strtab.size() < b.text.size() + 1)  // a text longer than the room kept
        if (AllocStringChars(pc, &strBytes)) return 1;
      rec = (int32_t)records.size();
      n.text = (int32_t)strtab.size();
      strtab += b.text;
      strtab += '\0';
      records.push_back(n);
      if (before >= 0) {
        records[rec].next = before;
        records[rec].prev = records[before].prev;
        if (records[before].prev >= 0) records[records[before].prev].next = rec;
        else first = rec;
        records[before].prev = rec;
      } else if (lastSeen >= 0) {
        if (records[lastSeen].next != -1) return FAIL(pc, "Error: prevrffo's next is not -1 in RTN_PrintFinished: ");
        records[lastSeen].next = rec;
        records[rec].prev = lastSeen;
      } else {
        first = rec;
      }
    }
    ipc->ptoa[last].activePath = ipc->prune >= 2 ? -2 - (dup >= 0 ? dup : rec) : -1;
  }
  if (strBytes != strBytesAtStart) {
    // The grown block stays with the parse state for the next input.
    MakeTable(ipc->activePath, strBytes / (int32_t)sizeof(ActivePath));
    ipc->activePathBytes = strBytes;
  }
  if (ipc->debug == 1 || ipc->debug == 2 || ipc->debug == 4)
    Out(pc, Spf("\nFinished Paths Scored(%d)\n", (int)collected.size()));

  // The records to print.
  int printed = 0;
  int i = 0;
  std::string result;
  for (int32_t r = first; r >= 0; r = records[r].next, i++) {
    if (r != first) {
      const FinishedPath &a = records[first], &c = records[r];
      if (ipc->nbest == 1) {
        if (c.WordScore != a.WordScore || c.RepairScore != a.RepairScore || c.oogScore != a.oogScore ||
            c.FScore != a.FScore || c.NetScore != a.NetScore)
          break;
        if (memcmp(ipc->ptoa[c.element].bits, ipc->ptoa[a.element].bits, 31) != 0) continue;
        if (!SameLevels(a, c)) break;
        if (textOf(r) == textOf(first)) continue;
      } else if (ipc->nbest > 1 && i >= ipc->nbest) {
        break;
      }
    }
    std::string t = textOf(r);
    if (ipc->prettyprint) {
      std::string out;
      if (ipc->score) {
        const FinishedPath &c = records[r];
        out += Spf("\nIndex(%d:%d:%d):\tWordScore(%d) RepairScore(%d) oogScore(%d) FScore(%d) NetScore(%d)\n\t\t", i,
                   c.ptoaoIndex, c.element, c.WordScore, c.RepairScore, c.oogScore, c.FScore, c.NetScore);
        for (int l = 1; l <= c.maxLevel; l++)
          if (c.score.fsCount[l]) out += Spf("FsLevelScore(%d:%d) ", l, c.score.fsCount[l]);
        out += "\n\n";
      }
      if (Indent(pc, t, ipc->tail, "RTN_PrintFinished", out)) return 1;
      t = ipc->canonical ? CanonicalBrackets(out) : out;
    } else if (ipc->canonical) {
      if (ipc->transcript) {
        std::string out;
        if (CanonicalNames(pc, t, out)) return 1;
        t = out;
      } else {
        t = CanonicalBrackets(t);
      }
    }
    if (tcl) {
      result += (printed ? "\n" : "") + t;
    } else {
      Out(pc, ipc->prettyprint ? t : t + "\n\n");
    }
    printed++;
  }
  if (tcl) pc->pres = result;
  if (ipc->input) {
    std::string trailer = InputTrailer(ipc, true);
    trailer += Spf("\nNBest(%d) Number of finished path(s) printed: %d\n\n", ipc->nbest, printed);
    Out(pc, trailer);
  }
  Out(pc, "\n");
  return 0;
}

}  // namespace rtn
