// The compiled-net record: making, growing and releasing its tables, the
// origin table, null transitions and their back-tracing, hierarchy levels,
// context entries and groups, and the entry of terminal arcs.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "container.h"
#include "container_file.h"
#include "pc.h"
#include "trailer.h"
#include "yastro.h"

namespace rtn {

// ---------------------------------------------------------------------------
// Small helpers

#define TR RTN_TRAILER

static std::string Sf(const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  va_list aq;
  va_copy(aq, ap);
  int n = vsnprintf(nullptr, 0, fmt, ap);
  va_end(ap);
  std::string s(n > 0 ? (size_t)n : 0, '\0');
  if (n > 0) vsnprintf(&s[0], (size_t)n + 1, fmt, aq);
  va_end(aq);
  return s;
}

static int CountChar(const std::string &s, char c) {
  int n = 0;
  for (char x : s)
    if (x == c) n++;
  return n;
}

// The number after the last ':' of an origin name.
static int StateOf(const std::string &name) {
  size_t c = name.rfind(':');
  return c == std::string::npos ? -1 : atoi(name.c_str() + c + 1);
}

static ParserControl *Top(ParserControl *pc) { return pc->ptlpc ? pc->ptlpc : pc; }

// A new index of a table whose count the parse keeps in 16 bits.
static int Check16(ParserControl *pc, int index, const char *what, const char *routine, int line) {
  if (index < COUNT16_LIMIT) return 0;
  pc->pres += Sf("Error: \"%s\" exceeds count limit of %d in %s: ", what, COUNT16_LIMIT, routine) +
              Trailer("grammarDefinitionParserControl", line);
  return 1;
}

// ---------------------------------------------------------------------------
// First sub-tables of new slots

template <class T>
static void InitSlot(T &) {}

template <class T>
static void FirstSlots(Grow<T> &g, int capacity, int step) {
  g.table.assign((size_t)capacity, T());
  for (T &x : g.table) InitSlot(x);
  g.count = 0;
  g.capacity = capacity;
  g.step = step;
}

static void InitSlot(PrefixArc &a) { FirstSlots(a.terminal, SUB_TABLESIZE, SUB_TABLESTEP); }
static void InitSlot(OriginPrefix &p) { FirstSlots(p.arc, SUB_TABLESIZE, SUB_TABLESTEP); }
static void InitSlot(TermPrefixArc &t) { FirstSlots(t.arc, SUB_TABLESIZE, SUB_TABLESTEP); }
static void InitSlot(ContextGroup &g) {
  FirstSlots(g.term, SUB_TABLESIZE, SUB_TABLESTEP);
  FirstSlots(g.tpa, SUB_TABLESIZE, SUB_TABLESTEP);
}
static void InitSlot(Origin &o) {
  FirstSlots(o.prefix, SUB_TABLESIZE, SUB_TABLESTEP);
  FirstSlots(o.group, SUB_TABLESIZE, SUB_TABLESTEP);
}
static void InitSlot(Rhs &r) { FirstSlots(r.term, SUB_TABLESIZE, SUB_TABLESTEP); }
static void InitSlot(RewriteSide &s) { FirstSlots(s.rhs, SUB_TABLESIZE, SUB_TABLESTEP); }
static void InitSlot(NT_Array &n) { FirstSlots(n.arcs, SUB_TABLESIZE, SUB_TABLESTEP); }
static void InitSlot(NullToDestination &d) { FirstSlots(d.foi, SUB_TABLESIZE, SUB_TABLESTEP); }

// Grows a table by its step; the new slots get their first sub-tables.
template <class T>
static int GrowTable(ParserControl *pc, Grow<T> &g, const char *failText, int line) {
  int step = g.step > 0 ? g.step : SUB_TABLESTEP;
  try {
    g.table.resize((size_t)g.capacity + (size_t)step);
  } catch (const std::exception &) {
    pc->pres += failText + Trailer("grammarDefinitionParserControl", line);
    return 1;
  }
  for (size_t i = (size_t)g.capacity; i < g.table.size(); i++) InitSlot(g.table[i]);
  g.capacity += step;
  g.step = step;
  return 0;
}
// The same for a table the record may not have made: a missing one fails
// with the growth's own text.
template <class T>
static int GrowTable(ParserControl *pc, Grow<T> *g, const char *failText, int line) {
  if (!g) {
    pc->pres += failText + Trailer("grammarDefinitionParserControl", line);
    return 1;
  }
  return GrowTable(pc, *g, failText, line);
}
#define GROW(pc, g, text) GrowTable(pc, g, text, __LINE__)

static void FirstStrings(StringTable &t, int capacity, int step, bool tlist, bool flags) {
  t.strings.assign((size_t)capacity, std::string());
  t.offsets.assign((size_t)capacity, -1);
  t.tlist.assign(tlist ? (size_t)capacity : 0, 0);
  t.flags.assign(flags ? (size_t)capacity : 0, '1');
  t.count = 0;
  t.capacity = capacity;
  t.step = step;
}

static int GrowStrings(ParserControl *pc, StringTable *t, const char *failText, int line) {
  if (!t) {
    pc->pres += failText + Trailer("grammarDefinitionParserControl", line);
    return 1;
  }
  int step = t->step > 0 ? t->step : TERM_TABLESTEP;
  size_t n = (size_t)t->capacity + (size_t)step;
  try {
    bool tl = !t->tlist.empty() || t == pc->UpperTable || t == pc->LowerTable;
    bool fl = !t->flags.empty() || t == pc->NetTable;
    t->strings.resize(n);
    t->offsets.resize(n, -1);
    if (tl) t->tlist.resize(n, 0);
    if (fl) t->flags.resize(n, '1');
  } catch (const std::exception &) {
    pc->pres += failText + Trailer("grammarDefinitionParserControl", line);
    return 1;
  }
  t->capacity += step;
  t->step = step;
  return 0;
}

// ---------------------------------------------------------------------------
// Growth lines and progress dots

void GDPC_ReportGrowth(ParserControl *pc, const char *routine, const char *constant, int prevSize, int step,
                       int size) {
  if (!pc || (!pc->fPrintAllocs && !pc->fLogAllocs)) return;
  ParserControl *top = Top(pc);
  const char *net = "";
  if (top->NetTable && !top->NetTable->strings.empty()) net = top->NetTable->strings[0].c_str();
  std::string line = Sf("%s(%s): prevSize(%d) %s(%d) size(%d)\n", routine, net, prevSize, constant, step, size);
  if (pc->fPrintAllocs) {
    fputs(line.c_str(), stdout);
    fflush(stdout);
  }
  if (pc->fLogAllocs) {
    FILE *f = fopen("allocLog.txt", "a");
    if (!f) {
      // The table has grown; a log that cannot be written must not fail the compile.
      std::string w = std::string("Error: fopen failure for allocLog.txt in ") + routine + ": " + TR;
      fputs(w.c_str(), stderr);
      return;
    }
    fputs(line.c_str(), f);
    fclose(f);
  }
}

static bool gDotsOn = false;
static void (*gDotWriter)(void *channel, const char *text) = nullptr;

void GDPC_SetDots(bool on) { gDotsOn = on; }
bool GDPC_DotsOn() { return gDotsOn; }
void GDPC_SetDotWriter(void (*writer)(void *channel, const char *text)) { gDotWriter = writer; }

static void DotWrite(ParserControl *pc, const char *text) {
  if (gDotWriter) {
    gDotWriter(pc->tclChannel, text);
  } else {
    fputs(text, stdout);
    fflush(stdout);
  }
}

void GDPC_Dot(ParserControl *pc) {
  if (!gDotsOn || !pc) return;
  if (pc->dotCount > 15) {
    pc->dotCount = 0;
    DotWrite(pc, "\r\t\t\t\t\t\t\t\t\t\t\r");
  }
  DotWrite(pc, ".");
  pc->dotCount++;
}

// ---------------------------------------------------------------------------
// Growth family

int GDPC_AllocTerms(ParserControl *pc) {
  return GrowStrings(pc, pc->TerminalTable, "dbrealloc failure in GDPC_AllocTerms: ", __LINE__);
}

int GDPC_AllocUpperLowerStrings(ParserControl *pc, StringTable *table) {
  return GrowStrings(pc, table, "dbrealloc failure in GDPC_AllocUpperLowerStrings: ", __LINE__);
}

int GDPC_AllocSymbols(ParserControl *pc) {
  return GrowStrings(pc, pc->SymbolTable, "dbrealloc failure in GDPC_AllocSymbols: ", __LINE__);
}

int GDPC_AllocNames(ParserControl *pc) {
  if (GrowStrings(pc, pc->NetTable, "dbrealloc failure in GDPC_AllocNames: ", __LINE__)) return 1;
  InternalNet *in = pc->InternalNet;
  if (!in) return 0;
  int step = in->step > 0 ? in->step : NAME_TABLESTEP;
  size_t n = (size_t)in->capacity + (size_t)step;
  try {
    in->entries.resize(n);
    in->rewrites.resize(n, nullptr);
    in->cntrfile.resize(n, nullptr);
    in->fWrite.resize(n, 0);
  } catch (const std::exception &) {
    pc->pres += std::string("dbrealloc failure in GDPC_AllocNames: ") + TR;
    return 1;
  }
  in->capacity += step;
  in->step = step;
  return 0;
}

#define LOGGED_GROWTH(NAME, MEMBER, CONSTANT, FAILTEXT)                                     \
  int NAME(ParserControl *pc) {                                                            \
    if (!pc->MEMBER) {                                                                     \
      pc->pres += std::string(FAILTEXT) + TR;                                              \
      return 1;                                                                            \
    }                                                                                      \
    int prev = pc->MEMBER->capacity;                                                       \
    if (GROW(pc, *pc->MEMBER, FAILTEXT)) return 1;                                         \
    GDPC_ReportGrowth(pc, #NAME, #CONSTANT, prev, pc->MEMBER->step, pc->MEMBER->capacity); \
    return 0;                                                                              \
  }

LOGGED_GROWTH(GDPC_AllocTerminalLists, ptlist, TLIST_TABLESIZE, "dbrealloc failed in GDPC_AllocTerminalLists: ")
LOGGED_GROWTH(GDPC_AllocTerminalIndicess, ptindex, TINDEX_TABLESIZE,
              "dbrealloc failed in GDPC_AllocTerminalIndices: ")
LOGGED_GROWTH(GDPC_AllocHierarchyLevelIndices, phli, HLINDEX_TABLESIZE,
              "dbrealloc failed in GDPC_AllocHierarchyLevelIndices: ")
LOGGED_GROWTH(GDPC_AllocHierarchyLevels, phl, HIERARCHY_TABLESIZE, "dbrealloc failed in GDPC_AllocHierarchyLevels: ")
LOGGED_GROWTH(GDPC_AllocContextTerms, pct, CONTEXTTERM_TABLESIZE, "dbrealloc failed in GDPC_AllocContextTerms: ")
LOGGED_GROWTH(GDPC_AllocContextEntries, pcontext, CONTEXT_TABLESIZE,
              "dbrealloc failed in GDPC_AllocContextEntries: ")
LOGGED_GROWTH(GDPC_AllocNextNetTableChars, pnn, NEXTNET_TABLESIZE,
              "dbrealloc failure in GDPC_AllocNextNetTableChars: ")

int GDPC_AllocNT_Arrays(ParserControl *pc) {
  return GROW(pc, pc->nonTerm, "dbrealloc failure in GDPC_AllocNT_Arrays: ");
}

int GDPC_AllocNTs(ParserControl *pc, NT_Array *nt) {
  return GROW(pc, nt->arcs, "dbrealloc failure in GDPC_AllocNTs: ");
}

int GDPC_AllocOriginArrays(ParserControl *pc) {
  return GROW(pc, pc->From, "dbmalloc failed in GDPC_AllocOriginArrays: ");
}

int GDPC_AllocOriginPrefixArrays(ParserControl *pc, Origin *origin) {
  return GROW(pc, origin->prefix, "dbmalloc failed in GDPC_AllocOriginPrefixArrays: ");
}

int GDPC_AllocOriginArcArrays(ParserControl *pc, OriginPrefix *prefix) {
  return GROW(pc, prefix->arc, "dbmalloc failed in GDPC_AllocOriginArcArrays: ");
}

int GDPC_AllocTerminals(ParserControl *pc, PrefixArc *arc) {
  return GROW(pc, arc->terminal, "dbmalloc failed in GDPC_AllocTerminals: ");
}

int GDPC_AllocOriginContextGroupArrays(ParserControl *pc, Origin *origin) {
  return GROW(pc, origin->group, "dbrealloc failed in GDPC_AllocOriginContextGroupArrays: ");
}

int GDPC_AllocOriginContextGroupTis(ParserControl *pc, ContextGroup *group) {
  return GROW(pc, group->term, "dbmalloc failed in GDPC_AllocOriginContextGroupTis: ");
}

int GDPC_AllocOriginTPA_Arrays(ParserControl *pc, ContextGroup *group) {
  return GROW(pc, group->tpa, "dbmalloc failed in GDPC_AllocOriginTPA_Arrays: ");
}

int GDPC_AllocOriginTPGA_Arcs(ParserControl *pc, TermPrefixArc *tpa) {
  return GROW(pc, tpa->arc, "dbmalloc failed in GDPC_AllocOriginTPGA_Arcs: ");
}

int GDPC_AllocRewriteSides(ParserControl *pc, Rewrite *rw) {
  if (GROW(pc, rw->rhb, "dbrealloc failed in GDPC_AllocRewriteSides: ")) return 1;
  try {
    rw->lhs.resize((size_t)rw->rhb.capacity);
  } catch (const std::exception &) {
    pc->pres += std::string("dbrealloc failed in GDPC_AllocRewriteSides: ") + TR;
    return 1;
  }
  return 0;
}

int GDPC_AllocRhss(ParserControl *pc, RewriteSide *side) {
  return GROW(pc, side->rhs, "dbmalloc failed in GDPC_AllocRhss: ");
}

int GDPC_AllocRhsTerms(ParserControl *pc, Rhs *rhs) {
  return GROW(pc, rhs->term, "dbmalloc failed in GDPC_AllocRhsTerms: ");
}

int GDPC_AllocNullTos(ParserControl *pc) {
  if (!pc->nullTo) {
    pc->pres += std::string("Error: pNullTo is null in GDPC_AllocNullTos: ") + TR;
    return 1;
  }
  return GROW(pc, *pc->nullTo, "dbrealloc failure in GDPC_AllocNullTos: ");
}

int GDPC_AllocNullToFois(ParserControl *pc, NullToDestination *entry) {
  return GROW(pc, entry->foi, "dbrealloc failure in GDPC_AllocNullToFois: ");
}

int GDPC_AllocEntries(ParserControl *pc, EntryTable *table) {
  return GROW(pc, table, "dbrealloc failed for pHtEntry->pointer in RTN_AllocEntries: ");
}

// ---------------------------------------------------------------------------
// Making and releasing the record

int GDPC_NewNonTermTable(ParserControl *pc) {
  if (pc->nonTerm) return 0;
  try {
    pc->nonTerm = new Grow<NT_Array>();
    FirstSlots(*pc->nonTerm, SUB_TABLESIZE, SUB_TABLESTEP);
  } catch (const std::exception &) {
    delete pc->nonTerm;
    pc->nonTerm = nullptr;
    pc->pres += std::string("dbmalloc failed for array of NT_Array pointers in GDPC_BufferizeFile: ") + TR;
    return 1;
  }
  return 0;
}

static void MakeTables(ParserControl *pc) {
  GDPC_Dot(pc);
  pc->ContextObjectStructure = new ContextObjectStructure();
  pc->ContextObjectStructure->ownsPacks = 0;
  pc->ContextObjectStructure->unpacked = 1;

  pc->Rewrite = new Rewrite();
  FirstSlots(pc->Rewrite->rhb, SUB_TABLESIZE, SUB_TABLESTEP);
  pc->Rewrite->lhs.assign(SUB_TABLESIZE, std::string());
  GDPC_Dot(pc);

  pc->NetTable = new StringTable();
  FirstStrings(*pc->NetTable, NAME_TABLESIZE, NAME_TABLESTEP, false, true);
  pc->TerminalTable = new StringTable();
  FirstStrings(*pc->TerminalTable, TERM_TABLESIZE, TERM_TABLESTEP, false, false);
  pc->UpperTable = new StringTable();
  FirstStrings(*pc->UpperTable, TERM_TABLESIZE, TERM_TABLESTEP, true, false);
  pc->LowerTable = new StringTable();
  FirstStrings(*pc->LowerTable, TERM_TABLESIZE, TERM_TABLESTEP, true, false);
  GDPC_Dot(pc);
  pc->SymbolTable = new StringTable();
  FirstStrings(*pc->SymbolTable, TERM_TABLESIZE, TERM_TABLESTEP, false, false);

  pc->ptlist = new Grow<TerminalList>();
  FirstSlots(*pc->ptlist, TLIST_TABLESIZE, TLIST_TABLESIZE);
  pc->ptindex = new Grow<TerminalIndex>();
  FirstSlots(*pc->ptindex, TINDEX_TABLESIZE, TINDEX_TABLESIZE);

  pc->InternalNet = new InternalNet();
  pc->InternalNet->entries.assign(NAME_TABLESIZE, InternalNetEntry());
  pc->InternalNet->rewrites.assign(NAME_TABLESIZE, nullptr);
  pc->InternalNet->cntrfile.assign(NAME_TABLESIZE, nullptr);
  pc->InternalNet->fWrite.assign(NAME_TABLESIZE, 0);
  pc->InternalNet->capacity = NAME_TABLESIZE;
  pc->InternalNet->step = NAME_TABLESTEP;

  pc->phl = new Grow<HierarchyLevel>();
  FirstSlots(*pc->phl, HIERARCHY_TABLESIZE, HIERARCHY_TABLESIZE);
  pc->phli = new Grow<HierarchyLevelIndex>();
  FirstSlots(*pc->phli, HLINDEX_TABLESIZE, HLINDEX_TABLESIZE);
  pc->pnn = new Grow<char>();
  FirstSlots(*pc->pnn, NEXTNET_TABLESIZE, NEXTNET_TABLESIZE);
  pc->pct = new Grow<ContextTerm>();
  FirstSlots(*pc->pct, CONTEXTTERM_TABLESIZE, CONTEXTTERM_TABLESIZE);
  GDPC_Dot(pc);
  pc->pcontext = new Grow<ContextEntry>();
  FirstSlots(*pc->pcontext, CONTEXT_TABLESIZE, CONTEXT_TABLESIZE);

  pc->From = new FromTable();
  FirstSlots(*pc->From, ORIGIN_TABLESIZE, ORIGIN_TABLESTEP);
  for (int i = 0; i < ORIGIN_TABLESIZE; i++) GDPC_Dot(pc);

  pc->GDH_EntryTable = new EntryTable();
  FirstSlots(*pc->GDH_EntryTable, ENTRY_TABLESIZE, ENTRY_TABLESTEP);
  pc->p = new WorkRecord();
  pc->nullTo = new Grow<NullToDestination>();
  FirstSlots(*pc->nullTo, NULLTO_TABLESIZE, NULLTO_TABLESTEP);
  pc->cNonTerm = new CNonTerm();
}

int GDPC_Init(ParserControl *pc) {
  if (!pc) {
    fputs("GDPC_Init: arg must be address of allocated ParserControl's memory.\n", stderr);
    return 1;
  }
  ParserControl *ptlpc = pc->ptlpc;
  ParserControl *pParent = pc->pParent;
  std::string nextNet = pc->pszNextNet;
  int8_t depth = pc->depth;
  GDH_HashTable *pnht = pc->pnht;
  std::string containerPath = pc->pszContainerPath;
  void *channel = pc->tclChannel;
  ParserControl *flagsFrom = ptlpc ? ptlpc : pc;
  uint8_t fPrintAllocs = flagsFrom->fPrintAllocs;
  uint8_t fLogAllocs = flagsFrom->fLogAllocs;
  uint8_t fRebuild = flagsFrom->fRebuild;
  if (pc->fDots) GDPC_SetDots(true);

  bool prepared = IsPreparedMark(pc->pht);
  bool fresh = depth == 0 && !prepared;
  std::string pres = pc->pres;
  std::string inputBuf = pc->inputBuf;
  int32_t dotCount = pc->dotCount;
  *pc = ParserControl();
  try {
    if (fresh) {
      pc->pht = new GDPC_HashTable();
      GDPC_InitHashTable(*pc->pht, 128);
      pc->plht = new GDH_HashTable();
      GDH_InitHashTable(*pc->plht, 0, 2);
      pc->pulht = new UL_HashTable();
      UL_InitHashTable(*pc->pulht, 128);
    } else {
      // Initialised by the compile driver, or filled from a compiled file.
      pres.swap(pc->pres);
      inputBuf.swap(pc->inputBuf);
      pc->pht = new GDPC_HashTable();
      pc->pulht = new UL_HashTable();
      pc->plht = new GDH_HashTable();
    }
  } catch (const std::exception &) {
    pc->pres += std::string("dbmalloc failed for HashTable* GDPC_Init: ") + TR;
    return 1;
  }
  pc->tclChannel = channel;
  pc->dotCount = dotCount;
  GDPC_Dot(pc);
  try {
    MakeTables(pc);
  } catch (const std::exception &) {
    pc->pres += std::string("dbmalloc failed for top-level pointers in GDPC_Init: ") + TR;
    return 1;
  }
  pc->one = 1;
  if (!fresh) {
    pc->ptlpc = ptlpc;
    pc->depth = depth;
    pc->pnht = pnht;
    pc->pParent = pParent;
    pc->pszNextNet = nextNet;
    pc->pszContainerPath = containerPath;
  }
  if (!fresh) {
    pc->fPrintAllocs = fPrintAllocs;
    pc->fLogAllocs = fLogAllocs;
    pc->fRebuild = fRebuild;
  }
  if (GDPC_DotsOn()) pc->fDots = 1;
  return 0;
}

void GDPC_FreeNonRTNMembers(ParserControl *pc) {
  if (!pc) return;
  std::string().swap(pc->inputBuf);
  delete pc->nonTerm;
  pc->nonTerm = nullptr;
  delete pc->nullTo;
  pc->nullTo = nullptr;
  delete pc->cNonTerm;
  pc->cNonTerm = nullptr;
  delete pc->p;
  pc->p = nullptr;
}

// Destroys a container object; its data is freed by its type.
static void DestroyObject(CntrObj *obj, std::string &res) {
  GS_Result *r = GS_CreateResult();
  if (Cntr_ObjDestroy(r, obj)) {
    res += std::string("\rCntr_ObjDestroy failure for in GDPC_Free:") + " " + TR + (r->text ? r->text : "");
    fputs(res.c_str(), stderr);
  }
  GS_DeleteResult(r);
}

static void DropPack(PackedObject &po) {
  if (po.buffer) DB_FREE(po.buffer);
  po.buffer = nullptr;
  po.length = 0;
}

// Every packed copy that a record and the records it owns own, each once:
// records of a tree share copies after linking, so they are gathered before
// the release and freed once after it. Copies owned elsewhere stay.
static void CollectPacks(ParserControl *r, std::vector<ParserControl *> &seen, std::vector<PackedObject *> &packs) {
  if (!r) return;
  for (ParserControl *x : seen)
    if (x == r) return;
  seen.push_back(r);
  if (!r->InternalNet) return;
  for (InternalNetEntry &e : r->InternalNet->entries) {
    if (e.packed && e.packOwned) {
      bool known = false;
      for (PackedObject *q : packs) known = known || q == e.packed;
      if (!known) packs.push_back(e.packed);
    }
    if (e.owned && e.object && e.object->data)
      CollectPacks(static_cast<ParserControl *>(e.object->data), seen, packs);
  }
}

static void FreeRecord(ParserControl *pc, std::string &res, bool top) {

  // 1. The context objects own their tables.
  if (ContextObjectStructure *cos = pc->ContextObjectStructure) {
    struct {
      CntrObj **obj;
      PackedObject *po;
    } parts[5] = {{&cos->contextObject, &cos->cetpo},
                  {&cos->contextTermObject, &cos->cttpo},
                  {&cos->hlIndexObject, &cos->hlitpo},
                  {&cos->hierarchyLevelObject, &cos->hltpo},
                  {&cos->nextNetObject, &cos->nntpo}};
    for (int i = 0; i < 5; i++) {
      if (*parts[i].obj) {
        CntrObj *o = *parts[i].obj;
        DestroyObject(o, res);
        *parts[i].obj = nullptr;
        // The object's data was this table: it is gone with the object.
        if (i == 0) pc->pcontext = nullptr;
        if (i == 1) pc->pct = nullptr;
        if (i == 2) pc->phli = nullptr;
        if (i == 3) pc->phl = nullptr;
        if (i == 4) pc->pnn = nullptr;
      }
      if (cos->ownsPacks) DropPack(*parts[i].po);
    }
    delete cos;
    pc->ContextObjectStructure = nullptr;
  }

  // 2. The nets this record knows; only owned entries are released here.
  if (InternalNet *in = pc->InternalNet) {
    int n = (int)in->entries.size();
    // A record read from its file wraps itself in entry 0's object and keeps
    // the file there; closing the file clears the entry's mark, so the
    // wrapper is noted first. Only the record being freed drops its own: the
    // wrapper of a record below goes with the owner's destroy of it.
    CntrObj *self = nullptr;
    if (top && n > 0 && in->entries[0].object && in->entries[0].object->data == pc) self = in->entries[0].object;
    for (int i = n - 1; i >= 0; i--) {
      if (in->entries[i].owned && i < (int)in->cntrfile.size() && in->cntrfile[i]) {
        GS_Result *r = GS_CreateResult();
        if (Cntr_ObjFClose(r, in->cntrfile[i]))
          fprintf(stderr, "Cntr_ObjFClose failure: file(%s), line(%d)\n%s", "grammarDefinitionParserControl",
                  __LINE__, r->text ? r->text : "");
        GS_DeleteResult(r);
        in->cntrfile[i] = nullptr;
        in->entries[i].owned = 0;
      }
    }
    for (int i = n - 1; i >= 0; i--) {
      InternalNetEntry &e = in->entries[i];
      if (e.owned && e.object) {
        GDPC_Dot(pc);
        CntrObj *o = e.object;
        if (o->data == pc) {
          // This very record wraps itself: only the wrapper goes.
          DB_FREE(o);
          if (o == self) self = nullptr;
        } else {
          FreeRecord(static_cast<ParserControl *>(o->data), res, false);
          DestroyObject(o, res);
        }
        e.object = nullptr;
      } else if (i == 0 && self && e.object == self) {
        DB_FREE(self);
        self = nullptr;
        e.object = nullptr;
      }
      e.packed = nullptr;  // freed once for the whole tree by GDPC_Free
      e.hasPacked = 0;
      e.owned = e.linked = e.packOwned = 0;
    }
    delete in;
    pc->InternalNet = nullptr;
  }

  // 3. Names and the tree's net table.
  if (pc->depth == 0 && pc->pnht) {
    GDH_DeleteHashTable(*pc->pnht);
    delete pc->pnht;
  }
  pc->pnht = nullptr;

  // 4. String tables and lists.
  delete pc->NetTable;
  delete pc->TerminalTable;
  delete pc->UpperTable;
  delete pc->LowerTable;
  delete pc->ptlist;
  delete pc->ptindex;
  delete pc->SymbolTable;
  delete pc->GDH_EntryTable;

  // 5. Hash tables, unless they still hold the mark of a prepared record.
  if (!IsPreparedMark(pc->pht)) delete pc->pht;
  if (!IsPreparedMark(pc->pulht)) delete pc->pulht;
  if (!IsPreparedMark(pc->plht) && pc->plht) {
    GDH_DeleteHashTable(*pc->plht);
    delete pc->plht;
  }

  // 6. Structure tables.
  delete pc->From;
  delete pc->nullTo;
  delete pc->pct;
  delete pc->phli;
  delete pc->phl;
  delete pc->pnn;
  delete pc->pcontext;
  delete pc->p;
  delete pc->nonTerm;
  delete pc->cNonTerm;
  delete pc->Rewrite;

  // 7. Nothing of the record is left.
  *pc = ParserControl();
}

void GDPC_Free(ParserControl *pc) {
  if (!pc) return;
  std::vector<ParserControl *> seen;
  std::vector<PackedObject *> packs;
  CollectPacks(pc, seen, packs);
  std::string res;  // failures met on the way; only what is printed survives
  FreeRecord(pc, res, true);
  for (PackedObject *po : packs) {
    DropPack(*po);
    delete po;
  }
}

// ---------------------------------------------------------------------------
// Keys, symbols and origins

const char *GDPC_KeyText(const ParserControl *pc, int32_t offset) {
  if (!pc || !pc->pht || IsPreparedMark(pc->pht) || offset < 0 || (size_t)offset >= pc->pht->key.size())
    return "";
  return pc->pht->key.data() + offset;
}

int GDPC_AppendString(ParserControl *pc, StringTable *table, const std::string &text, int32_t offset) {
  if (table->count >= table->capacity) {
    int code;
    if (table == pc->TerminalTable)
      code = GDPC_AllocTerms(pc);
    else if (table == pc->SymbolTable)
      code = GDPC_AllocSymbols(pc);
    else if (table == pc->NetTable)
      code = GDPC_AllocNames(pc);
    else
      code = GDPC_AllocUpperLowerStrings(pc, table);
    if (code) return -1;
  }
  int i = table->count++;
  table->strings[i] = text;
  table->offsets[i] = offset;
  return i;
}

static int PhtCreate(ParserControl *pc, const std::string &key, bool *isNew) {
  return GDPC_StringCreate(*pc->pht, key.c_str(), key.size(), isNew);
}

static int PhtFind(ParserControl *pc, const std::string &key) {
  return GDPC_StringFind(*pc->pht, key.c_str(), key.size());
}

static GDH_HashEntry *PlhtCreate(ParserControl *pc, const std::string &key, bool *isNew) {
  return GDH_CreateHashEntry(*pc->plht, key.c_str(), isNew);
}

static GDH_HashEntry *PlhtFind(ParserControl *pc, const std::string &key) {
  return GDH_FindHashEntry(*pc->plht, key.c_str());
}

// Makes a new pht key's text a symbol.
static int KeySymbol(ParserControl *pc, int e) {
  return GDPC_AppendString(pc, pc->SymbolTable, GDPC_Key(*pc->pht, e), pc->pht->entry[e].key);
}

int GDPC_MakeSymbol(ParserControl *pc, const std::string &name, int32_t *symbol) {
  bool isNew = false;
  int e = PhtCreate(pc, name, &isNew);
  if (e < 0) {
    pc->pres += "GDPC_CreateHashEntry failure for " + name + ": " + TR;
    return 1;
  }
  if (isNew) {
    int s = KeySymbol(pc, e);
    if (s < 0) return 1;
    pc->pht->entry[e].value = s;
  }
  *symbol = pc->pht->entry[e].value;
  return 0;
}

int GDPC_AppendOrigin(ParserControl *pc) {
  FromTable &f = *pc->From;
  if (Check16(pc, f.count, "origins", "GDPC_AppendOrigin", __LINE__)) return -1;
  if (f.count >= f.capacity && GDPC_AllocOriginArrays(pc)) return -1;
  return pc->From->count++;
}

int GDPC_MakeOrigin(ParserControl *pc, const std::string &name, int32_t *foi, bool *isNew) {
  std::string key = name + " FO";
  bool created = false;
  int e = PhtCreate(pc, key, &created);
  if (e < 0) {
    pc->pres += "GDPC_CreateHashEntry failure for " + key + ": " + TR;
    return 1;
  }
  if (isNew) *isNew = created;
  if (!created) {
    *foi = pc->pht->entry[e].value;
    return 0;
  }
  int o = GDPC_AppendOrigin(pc);
  if (o < 0) return 1;
  pc->pht->entry[e].value = o;
  if (KeySymbol(pc, e) < 0) return 1;
  int32_t sym = 0;
  if (GDPC_MakeSymbol(pc, name, &sym)) return 1;
  Origin &org = (*pc->From)[o];
  org.symbol = sym;
  org.depth = (uint8_t)CountChar(name, '_');
  *foi = o;
  return 0;
}

// ---------------------------------------------------------------------------
// Origin table

namespace {
// What the first pass of GDPC_UpdateFromTable found or made, for the passes
// of the further context terms.
struct FromPlace {
  int foi = -1, fopi = -1, arc = -1, cgi = -1;
};
}  // namespace

static int ResolvePlace(ParserControl *pc, const char *origin, const char *prefix, const char *toTag, int toState,
                        int contextGroup, FromPlace &at) {
  int e = PhtFind(pc, std::string(origin) + " FO");
  GDH_HashEntry *p = PlhtFind(pc, Sf("%s %s FOP", origin, prefix));
  GDH_HashEntry *a = PlhtFind(pc, Sf("%s %s %s %d FOPA", origin, prefix, toTag, toState));
  if (e < 0 || !p || !a) return 1;
  at.foi = pc->pht->entry[e].value;
  at.fopi = (int)p->value;
  at.arc = (int)a->value;
  GDH_HashEntry *g = PlhtFind(pc, Sf("%d %d OC", at.foi, contextGroup));
  at.cgi = g ? (int)g->value : -1;
  return 0;
}

// True when a context group of the origin lists the arc and has the
// terminal among its terms: the parse predicts terminals only from groups.
static bool Offered(ParserControl *pc, int foi, int fopi, int arc, int terminal) {
  const Origin &o = (*pc->From)[foi];
  for (int g = 0; g < o.group.count; g++) {
    const ContextGroup &G = o.group[g];
    bool hasTerm = false;
    for (int k = 0; k < G.term.count && !hasTerm; k++) hasTerm = G.term[k] == terminal;
    if (!hasTerm) continue;
    for (int t = 0; t < G.tpa.count; t++) {
      if (G.tpa[t].prefix != fopi) continue;
      for (int k = 0; k < G.tpa[t].arc.count; k++)
        if (G.tpa[t].arc[k] == arc) return true;
    }
  }
  return false;
}

// The same for an arc known by its texts; false when the arc is not there.
static bool OfferedAt(ParserControl *pc, const char *origin, const char *prefix, const char *toTag, int toState,
                      int terminal) {
  FromPlace at;
  if (ResolvePlace(pc, origin, prefix, toTag, toState, 0, at)) return false;
  return Offered(pc, at.foi, at.fopi, at.arc, terminal);
}

// A terminal that reaches an arc through a context whose group does not list
// it (a context shared with another alternative, or a group met again) is
// offered in a group of the arc's own, one per group and arc: every term of
// such a group is on its one arc, so the group's other arcs do not take it.
static int OfferAlone(ParserControl *pc, const FromPlace &at, const std::string &arcKey, int contextGroup,
                      int terminal) {
  std::string sg = Sf("SG %d %s", contextGroup, arcKey.c_str());
  bool isNew = false;
  GDH_HashEntry *se = PlhtCreate(pc, sg, &isNew);
  if (!se) {
    pc->pres += "GDH_CreateHashEntry failure for szSoleTermGroup(" + sg + "): " + TR;
    return 1;
  }
  if (isNew) se->value = Top(pc)->group++;
  int number = (int)se->value;

  std::string oc = Sf("%d %d OC", at.foi, number);
  bool newGroup = false;
  GDH_HashEntry *ge = PlhtCreate(pc, oc, &newGroup);
  if (!ge) {
    pc->pres += "GDH_CreateHashEntry failure in RTN_UpdateFromTable for szOriginContextGroup(" + oc + "): " + TR;
    return 1;
  }
  if (newGroup) {
    Origin &o = (*pc->From)[at.foi];
    if (Check16(pc, o.group.count, "context groups", "GDPC_UpdateFromTable", __LINE__)) return 1;
    if (o.group.count >= o.group.capacity && GDPC_AllocOriginContextGroupArrays(pc, &o)) return 1;
    int g = o.group.count++;
    o.group[g].groupNumber = number;
    ge->value = g;
  }
  int cgi = (int)ge->value;
  std::string ocp = Sf("%d %d %d OCP", at.foi, number, at.fopi);
  bool newEntry = false;
  GDH_HashEntry *pe = PlhtCreate(pc, ocp, &newEntry);
  if (!pe) {
    pc->pres += "GDH_CreateHashEntry failure in RTN_UpdateFromTable for szOriginContextGroupPrefix(" + ocp + "): " + TR;
    return 1;
  }
  int fonti;
  if (newEntry) {
    ContextGroup &g = (*pc->From)[at.foi].group[cgi];
    if (g.tpa.count >= g.tpa.capacity && GDPC_AllocOriginTPA_Arrays(pc, &g)) return 1;
    fonti = g.tpa.count++;
    if (fonti > 65535) {
      pc->pres += std::string("Error: \"fonti\" exceeds hValue limit of 65535 in GDPC_UpdateFromTable: ") + TR;
      return 1;
    }
    if (at.fopi > 65535) {
      pc->pres += std::string("Error: \"fopi\" exceeds hValue limit of 65535 in GDPC_UpdateFromTable: ") + TR;
      return 1;
    }
    pe->value = ((intptr_t)fonti << 16) | (intptr_t)at.fopi;
    g.tpa[fonti].prefix = at.fopi;
  } else {
    fonti = (int)((pe->value >> 16) & 0xFFFF);
  }
  ContextGroup &g = (*pc->From)[at.foi].group[cgi];
  bool hasTerm = false;
  for (int k = 0; k < g.term.count && !hasTerm; k++) hasTerm = g.term[k] == terminal;
  if (!hasTerm) {
    if (g.term.count >= g.term.capacity && GDPC_AllocOriginContextGroupTis(pc, &g)) return 1;
    g.term[g.term.count++] = terminal;
  }
  std::string gk = Sf("%d %s", number, arcKey.c_str());
  bool newGA = false;
  if (!PlhtCreate(pc, gk, &newGA)) {
    pc->pres += "GDH_CreateHashEntry failure for szFromOriginContextGroupPrefixArc(" + gk + "): " + TR;
    return 1;
  }
  if (newGA) {
    TermPrefixArc &t = g.tpa[fonti];
    if (t.arc.count >= t.arc.capacity && GDPC_AllocOriginTPGA_Arcs(pc, &t)) return 1;
    t.arc[t.arc.count++] = (uint16_t)at.arc;
  }
  return 0;
}

int GDPC_UpdateFromTable(ParserControl *pc, const char *origin, const char *prefix, int prefixValue1,
                         int /*fromState*/, int terminal, const char *toTag, int /*toNet*/, int toState,
                         int arcValue, int selfLoopDepth, int contextGroup, int withContextTerms,
                         int prefixValue2) {
  WorkRecord *w = pc->p;
  int passes = 1;
  if (withContextTerms && w && w->contextTermCount > 1) passes = w->contextTermCount;
  std::string arcKey = Sf("%s %s %s %d FOPA", origin, prefix, toTag, toState);
  FromPlace at;
  bool placed = false;
  int ct = w ? w->firstTerm : -1;

  for (int pass = 0; pass < passes; pass++) {
    int term = terminal;
    if (pass > 0) {
      ct = ct >= 0 && ct < pc->pct->count ? (*pc->pct)[ct].next : -1;
      if (ct < 0 || ct >= pc->pct->count) break;
      term = (*pc->pct)[ct].terminal;
    }
    // 1. Known terminal of the arc.
    std::string fopat = Sf("%s %s %s %d %d FOPAT", origin, prefix, toTag, toState, term);
    if (PlhtFind(pc, fopat)) continue;
    bool first = pass == 0;
    bool newOrigin = false, newPrefix = false, newArc = false, newEntry = false;
    if (first) {
      // 2.1 Origin.
      std::string foKey = std::string(origin) + " FO";
      int e = PhtCreate(pc, foKey, &newOrigin);
      if (e < 0) {
        pc->pres += "GDPC_CreateHashEntry failure for " + foKey + ": " + TR;
        return 1;
      }
      if (newOrigin) {
        int o = GDPC_AppendOrigin(pc);
        if (o < 0) return 1;
        pc->pht->entry[e].value = o;
        if (KeySymbol(pc, e) < 0) return 1;
      }
      at.foi = pc->pht->entry[e].value;
      // 2.2 Wanted before it existed.
      if (PlhtFind(pc, Sf("AFO %s 0", origin))) {
        (*pc->From)[at.foi].fActive = 1;
        std::string afo = Sf("AFO %s 1", origin);
        if (!PlhtCreate(pc, afo, nullptr)) {
          pc->pres += "GDH_CreateHashEntry failure for szActiveFromOrigin(" + afo + "): " + TR;
          return 1;
        }
      }
      // 2.3 Prefix.
      std::string fop = Sf("%s %s FOP", origin, prefix);
      GDH_HashEntry *pe = PlhtCreate(pc, fop, &newPrefix);
      if (!pe) {
        pc->pres += "GDH_CreateHashEntry failure for szFromOriginPrefix(" + fop + "): " + TR;
        return 1;
      }
      if (newPrefix) {
        Origin &o = (*pc->From)[at.foi];
        if (Check16(pc, o.prefix.count, "prefixes", "GDPC_UpdateFromTable", __LINE__)) return 1;
        if (o.prefix.count >= o.prefix.capacity && GDPC_AllocOriginPrefixArrays(pc, &o)) return 1;
        pe->value = o.prefix.count++;
      }
      at.fopi = (int)pe->value;
      // 2.4 Arc.
      GDH_HashEntry *ae = PlhtCreate(pc, arcKey, &newArc);
      if (!ae) {
        pc->pres += "GDH_CreateHashEntry failure for szFromOriginPrefixArc(" + arcKey + "): " + TR;
        return 1;
      }
      if (newArc) {
        OriginPrefix &op = (*pc->From)[at.foi].prefix[at.fopi];
        if (Check16(pc, op.arc.count, "arcs", "GDPC_UpdateFromTable", __LINE__)) return 1;
        if (op.arc.count >= op.arc.capacity && GDPC_AllocOriginArcArrays(pc, &op)) return 1;
        ae->value = op.arc.count++;
      }
      at.arc = (int)ae->value;
      placed = true;
    } else if (!placed) {
      // The first terminal was known: find what it was entered under.
      if (ResolvePlace(pc, origin, prefix, toTag, toState, contextGroup, at)) continue;
      placed = true;
    }

    // 3. The terminal's key and slot.
    if (!PlhtCreate(pc, fopat, nullptr)) {
      pc->pres += "GDH_CreateHashEntry failure for szFromOriginPrefixArcTerminal(" + fopat + "): " + TR;
      return 1;
    }
    int slot;
    {
      PrefixArc &arc = (*pc->From)[at.foi].prefix[at.fopi].arc[at.arc];
      if (Check16(pc, arc.terminal.count, "terminals", "GDPC_UpdateFromTable", __LINE__)) return 1;
      if (arc.terminal.count >= arc.terminal.capacity && GDPC_AllocTerminals(pc, &arc)) return 1;
      slot = arc.terminal.count++;
    }

    int fonti = -1;
    if (first) {
      // 4. Context group and its prefix entry.
      std::string oc = Sf("%d %d OC", at.foi, contextGroup);
      bool newGroup = false;
      GDH_HashEntry *ge = PlhtCreate(pc, oc, &newGroup);
      if (!ge) {
        pc->pres += "GDH_CreateHashEntry failure in RTN_UpdateFromTable for szOriginContextGroup(" + oc + "): " + TR;
        return 1;
      }
      if (newGroup) {
        Origin &o = (*pc->From)[at.foi];
        if (Check16(pc, o.group.count, "context groups", "GDPC_UpdateFromTable", __LINE__)) return 1;
        if (o.group.count >= o.group.capacity && GDPC_AllocOriginContextGroupArrays(pc, &o)) return 1;
        int g = o.group.count++;
        o.group[g].groupNumber = contextGroup;
        ge->value = g;
      }
      at.cgi = (int)ge->value;
      std::string ocp = Sf("%d %d %d OCP", at.foi, contextGroup, at.fopi);
      GDH_HashEntry *pe = PlhtCreate(pc, ocp, &newEntry);
      if (!pe) {
        pc->pres +=
            "GDH_CreateHashEntry failure in RTN_UpdateFromTable for szOriginContextGroupPrefix(" + ocp + "): " + TR;
        return 1;
      }
      if (newEntry) {
        ContextGroup &g = (*pc->From)[at.foi].group[at.cgi];
        if (g.tpa.count >= g.tpa.capacity && GDPC_AllocOriginTPA_Arrays(pc, &g)) return 1;
        fonti = g.tpa.count++;
        if (fonti > 65535) {
          pc->pres += std::string("Error: \"fonti\" exceeds hValue limit of 65535 in GDPC_UpdateFromTable: ") + TR;
          return 1;
        }
        if (at.fopi > 65535) {
          pc->pres += std::string("Error: \"fopi\" exceeds hValue limit of 65535 in GDPC_UpdateFromTable: ") + TR;
          return 1;
        }
        pe->value = ((intptr_t)fonti << 16) | (intptr_t)at.fopi;
      } else {
        fonti = (int)((pe->value >> 16) & 0xFFFF);
      }
    }

    // 5. The group's terms.
    if (withContextTerms && at.cgi >= 0) {
      ContextGroup &g = (*pc->From)[at.foi].group[at.cgi];
      if (g.term.count >= g.term.capacity && GDPC_AllocOriginContextGroupTis(pc, &g)) return 1;
      g.term[g.term.count++] = term;
    }

    if (first) {
      // 6. The arc in the group's prefix entry.
      ContextGroup &g = (*pc->From)[at.foi].group[at.cgi];
      if (newEntry) g.tpa[fonti].prefix = at.fopi;
      std::string gk = Sf("%d %s", contextGroup, arcKey.c_str());
      bool newGA = false;
      if (!PlhtCreate(pc, gk, &newGA)) {
        pc->pres += "GDH_CreateHashEntry failure for szFromOriginContextGroupPrefixArc(" + gk + "): " + TR;
        return 1;
      }
      if (newGA) {
        TermPrefixArc &t = g.tpa[fonti];
        if (t.arc.count >= t.arc.capacity && GDPC_AllocOriginTPGA_Arcs(pc, &t)) return 1;
        t.arc[t.arc.count++] = (uint16_t)at.arc;
      }

      // 7. Names and values of what is new, and the destination's activation.
      if (newArc) {
        int32_t sym = 0;
        if (newPrefix && newOrigin) {
          if (GDPC_MakeSymbol(pc, origin, &sym)) return 1;
          Origin &o = (*pc->From)[at.foi];
          o.symbol = sym;
          o.depth = (uint8_t)CountChar(origin, '_');
          o.fActive = 1;
        }
        if (newPrefix) {
          if (GDPC_MakeSymbol(pc, prefix, &sym)) return 1;
          OriginPrefix &op = (*pc->From)[at.foi].prefix[at.fopi];
          op.symbol = sym;
          op.value1 = (uint8_t)prefixValue1;
          op.value2 = (uint8_t)prefixValue2;
        }
        if (GDPC_MakeSymbol(pc, toTag, &sym)) return 1;
        PrefixArc &arc = (*pc->From)[at.foi].prefix[at.fopi].arc[at.arc];
        arc.symbol = sym;
        arc.ToState = toState;
        arc.value = (uint8_t)arcValue;
        arc.selfLoopDepth = (uint8_t)selfLoopDepth;
        if (toState != 1) {
          std::string dest = Sf("%s:%d", toTag, toState);
          if (!PlhtFind(pc, "AFO " + dest + " 1")) {
            int de = PhtFind(pc, dest + " FO");
            std::string afo = "AFO " + dest + (de >= 0 ? " 1" : " 0");
            if (de >= 0) (*pc->From)[pc->pht->entry[de].value].fActive = 1;
            if (!PlhtCreate(pc, afo, nullptr)) {
              pc->pres += "GDH_CreateHashEntry failure for szActiveFromOrigin(" + afo + "): " + TR;
              return 1;
            }
          }
        }
      }
    }

    // 8. The terminal in its slot.
    (*pc->From)[at.foi].prefix[at.fopi].arc[at.arc].terminal[slot] = term;

    // Every terminal of an arc must be offered by a group that lists the arc.
    if (!Offered(pc, at.foi, at.fopi, at.arc, term) && OfferAlone(pc, at, arcKey, contextGroup, term)) return 1;
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Null transitions

int GDPC_UpdateNullToTable(ParserControl *pc, const char *source, int /*sourceState*/, const char *destNet,
                           int /*destNetIndex*/, int destState) {
  // 1. Known transition.
  std::string ntdf = Sf("%s %d %s NTDF", destNet, destState, source);
  if (PlhtFind(pc, ntdf)) return 0;

  // 2. The destination's entry.
  std::string ntd = Sf("%s:%d NTD", destNet, destState);
  bool newDest = false;
  GDH_HashEntry *de = PlhtCreate(pc, ntd, &newDest);
  if (!de) {
    pc->pres += "GDH_CreateHashEntry failure for szNullToDestination(" + ntd + "): " + TR;
    return 1;
  }
  if (newDest) {
    if (pc->nullTo && pc->nullTo->count >= pc->nullTo->capacity && GDPC_AllocNullTos(pc)) return 1;
    if (!pc->nullTo && GDPC_AllocNullTos(pc)) return 1;
    de->value = pc->nullTo->count++;
  }
  int entry = (int)de->value;

  // 3. The source's key and slot.
  if (!PlhtCreate(pc, ntdf, nullptr)) {
    pc->pres += "GDH_CreateHashEntry failure for szNullToDestinationFrom(" + ntdf + "): " + TR;
    return 1;
  }
  int slot;
  {
    NullToDestination &d = (*pc->nullTo)[entry];
    if (d.foi.count >= d.foi.capacity && GDPC_AllocNullToFois(pc, &d)) return 1;
    slot = d.foi.count++;
  }

  // 4. The destination's symbol and origin.
  if (newDest) {
    std::string name = Sf("%s:%d", destNet, destState);
    bool newName = false;
    int ne = PhtCreate(pc, name, &newName);
    if (ne < 0) {
      pc->pres += "GDPC_CreateHashEntry failure for szNullToDestination(" + name + "): " + TR;
      return 1;
    }
    if (newName) {
      int s = KeySymbol(pc, ne);
      if (s < 0) return 1;
      pc->pht->entry[ne].value = s;
      std::string fo = name + " FO";
      bool newFo = false;
      int fe = PhtCreate(pc, fo, &newFo);
      if (fe < 0) {
        pc->pres += "GDPC_CreateHashEntry failure for " + fo + ": " + TR;
        return 1;
      }
      if (newFo) {
        int o = GDPC_AppendOrigin(pc);
        if (o < 0) return 1;
        pc->pht->entry[fe].value = o;
        if (KeySymbol(pc, fe) < 0) return 1;
        Origin &org = (*pc->From)[o];
        org.depth = (uint8_t)CountChar(name, '_');
        org.symbol = s;
        org.fActive = 1;
      }
    } else {
      // Every origin at either end of a null transition is active.
      int fe = PhtFind(pc, name + " FO");
      if (fe >= 0) (*pc->From)[pc->pht->entry[fe].value].fActive = 1;
    }
    (*pc->nullTo)[entry].destination = pc->pht->entry[ne].value;
  }

  // 5. The source's origin.
  int32_t foi = 0;
  std::string fo = std::string(source) + " FO";
  bool newFo = false;
  int fe = PhtCreate(pc, fo, &newFo);
  if (fe < 0) {
    pc->pres += "GDPC_CreateHashEntry failure for " + fo + ": " + TR;
    return 1;
  }
  if (!newFo) {
    foi = pc->pht->entry[fe].value;
    (*pc->From)[foi].fActive = 1;
  } else {
    int o = GDPC_AppendOrigin(pc);
    if (o < 0) return 1;
    pc->pht->entry[fe].value = o;
    if (KeySymbol(pc, fe) < 0) return 1;
    int32_t sym = 0;
    if (GDPC_MakeSymbol(pc, source, &sym)) return 1;
    Origin &org = (*pc->From)[o];
    org.symbol = sym;
    org.depth = (uint8_t)CountChar(source, '_');
    org.fActive = 1;
    foi = o;
  }

  // 6.
  (*pc->nullTo)[entry].foi[slot] = foi;
  return 0;
}

static const std::string &SymbolText(ParserControl *pc, int s) {
  static const std::string none;
  if (s < 0 || s >= pc->SymbolTable->count) return none;
  return pc->SymbolTable->strings[s];
}

// Appends a temporary context term for the back-tracer; -1 on failure.
static int TempTerm(ParserControl *pc, int terminal) {
  if (pc->pct->count >= pc->pct->capacity && GDPC_AllocContextTerms(pc)) return -1;
  int i = pc->pct->count++;
  ContextTerm &t = (*pc->pct)[i];
  t = ContextTerm();
  t.terminal = terminal;
  return i;
}

static void DropTempTerms(ParserControl *pc, int from) {
  for (int i = from; i < pc->pct->count; i++) (*pc->pct)[i] = ContextTerm();
  pc->pct->count = from;
}

// Re-enters one arc of the destination's origin for the source.
static int ReenterArc(ParserControl *pc, const std::string &src, int state, int D, int gi, int ti, int ai,
                      bool firstArc, bool groupNew) {
  ContextGroup &G = (*pc->From)[D].group[gi];
  int g = G.groupNumber;
  int fopi = G.tpa[ti].prefix;
  int arcIndex = G.tpa[ti].arc[ai];
  const OriginPrefix &pre = (*pc->From)[D].prefix[fopi];
  const PrefixArc &arc = pre.arc[arcIndex];
  std::string prefixText = SymbolText(pc, pre.symbol);
  std::string toTag = SymbolText(pc, arc.symbol);
  int toState = arc.ToState, arcValue = arc.value, sld = arc.selfLoopDepth;
  int pv1 = pre.value1, pv2 = pre.value2;
  size_t us = toTag.rfind('_');
  int toNet = atoi(us == std::string::npos ? toTag.c_str() : toTag.c_str() + us + 1);

  // The terminals given: all of the group's terms for its first arc, its
  // first term for the others; a group without terms gives the arc's own.
  std::vector<int> terms;
  if (G.term.count > 0) {
    if (firstArc)
      terms.assign(G.term.table.begin(), G.term.table.begin() + G.term.count);
    else
      terms.push_back(G.term[0]);
  }
  bool fromArc = terms.empty();
  if (fromArc) terms.assign(arc.terminal.table.begin(), arc.terminal.table.begin() + arc.terminal.count);
  if (terms.empty()) return 0;
  // A group that the source had already gets the terms with none of its
  // arcs: those it does not offer yet are recorded one by one below.
  std::vector<int> further;
  if (!fromArc && !groupNew) further.assign(G.term.table.begin() + 1, G.term.table.begin() + G.term.count);

  WorkRecord saved = *pc->p;
  int base = pc->pct->count;
  int code = 0;
  if (fromArc) {
    pc->p->contextTermCount = 0;
    for (int t : terms) {
      code = GDPC_UpdateFromTable(pc, src.c_str(), prefixText.c_str(), pv1, state, t, toTag.c_str(), toNet, toState,
                                  arcValue, sld, g, 0, pv2);
      if (code) break;
    }
  } else {
    int prev = -1;
    for (size_t k = 0; k < terms.size(); k++) {
      int i = TempTerm(pc, terms[k]);
      if (i < 0) {
        code = 1;
        break;
      }
      if (prev >= 0) (*pc->pct)[prev].next = i;
      prev = i;
    }
    if (!code) {
      pc->p->firstTerm = base;
      pc->p->lastTerm = prev;
      pc->p->contextTermCount = (int)terms.size();
      code = GDPC_UpdateFromTable(pc, src.c_str(), prefixText.c_str(), pv1, state, terms[0], toTag.c_str(), toNet,
                                  toState, arcValue, sld, g, firstArc ? (groupNew ? 1 : 0) : 0, pv2);
    }
  }
  DropTempTerms(pc, base);
  *pc->p = saved;
  for (size_t k = 0; k < further.size() && !code; k++) {
    if (further[k] < 0 || OfferedAt(pc, src.c_str(), prefixText.c_str(), toTag.c_str(), toState, further[k])) continue;
    code = GDPC_UpdateFromTable(pc, src.c_str(), prefixText.c_str(), pv1, state, further[k], toTag.c_str(), toNet,
                                toState, arcValue, sld, g, 0, pv2);
  }
  return code;
}

static int BackTrace(ParserControl *pc, int e, std::vector<char> &busy) {
  // 1.
  GDPC_Dot(pc);
  if (e < 0 || e >= pc->nullTo->count) return 0;
  if ((size_t)pc->nullTo->count > busy.size()) busy.resize((size_t)pc->nullTo->count, 0);
  // A cycle of null transitions comes back here: the destination being
  // traced already gives its arcs on the way out.
  if (busy[e]) return 0;
  busy[e] = 1;

  // 2. The destination's origin.
  std::string dname = SymbolText(pc, (*pc->nullTo)[e].destination);
  std::string key = dname + " FO";
  int de = PhtFind(pc, key);
  if (de < 0) {
    busy[e] = 0;
    if (StateOf(dname) == 1) return 0;
    pc->pres += "GDPC_FindHashEntry failure for " + key + " in GDPC_BackTraceNulls: " + TR;
    return 1;
  }
  int D = pc->pht->entry[de].value;

  // 3. Every source receives the destination's arcs.
  for (int f = 0; f < (*pc->nullTo)[e].foi.count; f++) {
    int S = (*pc->nullTo)[e].foi[f];
    std::string N = SymbolText(pc, (*pc->From)[S].symbol);
    int state = StateOf(N);
    for (int gi = 0; gi < (*pc->From)[D].group.count; gi++) {
      int g = (*pc->From)[D].group[gi].groupNumber;
      bool groupNew = PlhtFind(pc, Sf("%d %d OC", S, g)) == nullptr;
      bool firstArc = true;
      for (int ti = 0; ti < (*pc->From)[D].group[gi].tpa.count; ti++) {
        for (int ai = 0; ai < (*pc->From)[D].group[gi].tpa[ti].arc.count; ai++) {
          if (ReenterArc(pc, N, state, D, gi, ti, ai, firstArc, groupNew)) {
            pc->pres += std::string("failure in GDPC_BackTraceNulls: ") + TR;
            busy[e] = 0;
            return 1;
          }
          firstArc = false;
        }
      }
    }
    // 3.2 The source is a destination in turn: pass on what it received.
    if (GDH_HashEntry *se = PlhtFind(pc, N + " NTD")) {
      if (BackTrace(pc, (int)se->value, busy)) {
        pc->pres += std::string("GDPC_BackTraceNulls failure in GDPC_BackTraceNulls: ") + TR;
        busy[e] = 0;
        return 1;
      }
    }
  }
  busy[e] = 0;
  return 0;
}

int GDPC_BackTraceNulls(ParserControl *pc, int entry) {
  std::vector<char> busy;
  return BackTrace(pc, entry, busy);
}

int GDPC_BackProcessNulls(ParserControl *pc) {
  if (!pc->nullTo) return 0;
  for (int e = pc->nullTo->count - 1; e >= 0; e--) {
    if (GDPC_BackTraceNulls(pc, e)) {
      pc->pres += std::string("GDPC_BackTraceNulls failure in GDPC_BackProcessNulls: ") + TR;
      return 1;
    }
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Hierarchy levels

static RhsTerm *TermAt(Rewrite *rw, int rule, int alt, int term) {
  if (!rw || rule < 0 || rule >= rw->rhb.count) return nullptr;
  RewriteSide &s = rw->rhb[rule];
  if (alt < 0 || alt >= s.rhs.count) return nullptr;
  Rhs &a = s.rhs[alt];
  if (term < 0 || term >= a.term.count) return nullptr;
  return &a.term[term];
}

static int AltLength(Rewrite *rw, int rule, int alt) {
  if (!rw || rule < 0 || rule >= rw->rhb.count) return 0;
  RewriteSide &s = rw->rhb[rule];
  if (alt < 0 || alt >= s.rhs.count) return 0;
  return s.rhs[alt].term.count;
}

// The phl entry of a level, made when its seven numbers are new.
static int LevelOf(ParserControl *pc, int rule, int alt, int term, int from, int to, int cs, int pcs) {
  std::string key = Sf("0.%d.%d.%d.%d.%d.%d.%d", rule, alt, term, from, to, cs, pcs);
  bool isNew = false;
  GDH_HashEntry *e = PlhtCreate(pc, key, &isNew);
  if (!e) {
    pc->pres += "GDH_CreateHashEntry failure for szHierarchyLevelCheck(" + key + ") in GDPC_ProcessNonTerms: " + TR;
    return -1;
  }
  if (isNew) {
    if (pc->phl->count >= pc->phl->capacity && GDPC_AllocHierarchyLevels(pc)) return -1;
    int h = pc->phl->count++;
    HierarchyLevel &l = (*pc->phl)[h];
    l.net = 0;
    l.rhbi = rule;
    l.rhsi = alt;
    l.rti = term;
    l.from = from;
    l.to = to;
    l.cornerStatus = cs;
    l.patternCornerStatus = pcs;
    e->value = h;
  }
  return (int)e->value;
}

static int NewLevelIndex(ParserControl *pc) {
  if (pc->phli->count >= pc->phli->capacity && GDPC_AllocHierarchyLevelIndices(pc)) return -1;
  int i = pc->phli->count++;
  (*pc->phli)[i] = HierarchyLevelIndex();
  return i;
}

int GDPC_MakeLevelChain(ParserControl *pc, Rewrite *rw, int rule, int alt, int term, int *L0, int *Lend,
                        int *count) {
  int li = NewLevelIndex(pc);
  if (li < 0) return 1;
  int level;
  const RhsTerm *t = nullptr;
  if (rule == -1) {
    level = LevelOf(pc, -1, alt, term, 0, 1, 3, 3);
  } else {
    t = TermAt(rw, rule, alt, term);
    if (!t) {
      pc->pres += Sf("Error: no term %d.%d.%d in the rewrite table in GDPC_MakeLevelChain: ", rule, alt, term) + TR;
      return 1;
    }
    level = LevelOf(pc, rule, alt, term, t->from, t->to, t->cornerStatus, t->patternCornerStatus);
  }
  if (level < 0) return 1;
  (*pc->phli)[li].level = level;
  *L0 = li;
  int n = 1, prev = li;
  // Rules cannot include themselves, so the climb ends within the rule count.
  int guard = rw ? rw->rhb.count + 2 : 2;
  while (t) {
    if (--guard < 0) {
      pc->pres += std::string("Error: the references above a term form a cycle in GDPC_MakeLevelChain: ") + TR;
      return 1;
    }
    int pr = t->rhbi, pa = t->rhsi, pt = t->rti;
    int ni = NewLevelIndex(pc);
    if (ni < 0) return 1;
    const RhsTerm *parent = nullptr;
    if (pr == -1) {
      level = LevelOf(pc, -1, pa, pt, 0, 1, 3, 3);
    } else {
      parent = TermAt(rw, pr, pa, pt);
      if (!parent) {
        pc->pres += Sf("Error: no term %d.%d.%d in the rewrite table in GDPC_MakeLevelChain: ", pr, pa, pt) + TR;
        return 1;
      }
      level = LevelOf(pc, pr, pa, pt, parent->from, parent->to, parent->cornerStatus, parent->patternCornerStatus);
    }
    if (level < 0) return 1;
    (*pc->phli)[ni].level = level;
    (*pc->phli)[ni].previous = prev;
    (*pc->phli)[prev].next = ni;
    prev = ni;
    n++;
    t = parent;
  }
  *Lend = prev;
  *count = n;
  return 0;
}

// ---------------------------------------------------------------------------
// Prefix and suffix keys

static int Elem(ParserControl *pc, const RhsTerm &t, int star, std::string &out) {
  GDH_HashEntry *e = PlhtFind(pc, t.name);
  if (!e) {
    pc->pres += "GDH_FindHashEntry failure for (" + t.name + "): " + TR;
    return 1;
  }
  out = Sf("%d.%d.%d.%d", t.kind, t.plus, star, (int)e->value);
  return 0;
}

static int RedundancyKey(ParserControl *pc, const std::string &key, int alt, const char *what) {
  bool isNew = false;
  GDH_HashEntry *e = PlhtCreate(pc, key, &isNew);
  if (!e) {
    pc->pres += std::string("GDH_CreateHashEntry failure for ") + what + " (" + key + "): " + TR;
    return 1;
  }
  if (isNew) e->value = alt;
  return 0;
}

int GDPC_MakeRedundancyKeys(ParserControl *pc, int rule, int alt, int term) {
  Rewrite *rw = pc->Rewrite;
  if (!TermAt(rw, rule, alt, term)) {
    pc->pres += Sf("Error: no term %d.%d.%d in the rewrite table in GDPC_MakeRedundancyKeys: ", rule, alt, term) + TR;
    return 1;
  }
  Rhs &a = rw->rhb[rule].rhs[alt];
  int first = a.term[0].name.empty() ? 1 : 0;
  std::string el;
  std::string prefix = Sf("P%d", rule);
  for (int k = first; k <= term; k++) {
    if (a.term[k].name.empty()) continue;
    if (Elem(pc, a.term[k], a.term[k].star, el)) return 1;
    prefix += "_" + el;
  }
  if (RedundancyKey(pc, prefix, alt, "szPrefix")) return 1;

  if (term == a.term.count - 1 && term > first) {
    std::string suffix;
    for (int k = term; k >= first + 1; k--) {
      RhsTerm &t = a.term[k];
      if (t.name.empty()) continue;
      if (Elem(pc, t, t.star, el)) return 1;
      suffix = k == term ? el : el + "_" + suffix;
      if (RedundancyKey(pc, Sf("S%d_", rule) + suffix, alt, "szRedundancyCheck")) return 1;
      if (k == term && t.plus == 1) {
        std::string other;
        if (Elem(pc, t, t.star == 2 ? 0 : 2, other)) return 1;
        if (RedundancyKey(pc, Sf("S%d_", rule) + other, alt, "szRedundancyCheck")) return 1;
      }
    }
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Terminals

// Adds a terminal to the list of a tape string ("U %s" or "L %s").
static int TapeString(ParserControl *pc, StringTable *table, const char *tag, const std::string &s, int terminal) {
  std::string key = std::string(tag) + " " + s;
  bool isNew = false;
  int e = PhtCreate(pc, key, &isNew);
  if (e < 0) {
    pc->pres += std::string("GDPC_CreateHashEntry failure for ") + (table == pc->UpperTable ? "szUpper(" : "szLower(") +
                key + "): " + TR;
    return 1;
  }
  if (pc->ptindex->count >= pc->ptindex->capacity && GDPC_AllocTerminalIndicess(pc)) return 1;
  int ii = pc->ptindex->count++;
  (*pc->ptindex)[ii].terminal = terminal;
  (*pc->ptindex)[ii].next = -1;
  if (isNew) {
    // The string's text is the key's after its tag and blank.
    int ui = GDPC_AppendString(pc, table, s, pc->pht->entry[e].key + (int32_t)strlen(tag) + 1);
    if (ui < 0) return 1;
    if (pc->ptlist->count >= pc->ptlist->capacity && GDPC_AllocTerminalLists(pc)) return 1;
    int li = pc->ptlist->count++;
    TerminalList &l = (*pc->ptlist)[li];
    l.first = l.last = ii;
    l.count = 1;
    table->tlist[ui] = li;
    pc->pht->entry[e].value = ui;
  } else {
    int ui = pc->pht->entry[e].value;
    TerminalList &l = (*pc->ptlist)[table->tlist[ui]];
    (*pc->ptindex)[l.last].next = ii;
    l.last = ii;
    l.count++;
  }
  return 0;
}

// The terminal index of a text, registered when new.
static int RegisterTerminal(ParserControl *pc, const std::string &t, int *terminal) {
  bool isNew = false;
  int e = PhtCreate(pc, t, &isNew);
  if (e < 0) {
    pc->pres += "GDPC_CreateHashEntry failure for " + t + ": " + TR;
    return 1;
  }
  if (!isNew) {
    *terminal = pc->pht->entry[e].value;
    return 0;
  }
  GDH_HashEntry *le = PlhtCreate(pc, t, nullptr);
  if (!le) {
    pc->pres += "GDH_CreateHashEntry failure for " + t + ": " + TR;
    return 1;
  }
  int ti = GDPC_AppendString(pc, pc->TerminalTable, t, pc->pht->entry[e].key);
  if (ti < 0) return 1;
  pc->pht->entry[e].value = ti;
  le->value = ti;
  *terminal = ti;
  size_t colon = t.find(':');
  if (colon != std::string::npos) {
    if (TapeString(pc, pc->UpperTable, "U", t.substr(0, colon), ti)) return 1;
    if (TapeString(pc, pc->LowerTable, "L", t.substr(colon + 1), ti)) return 1;
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Context entries and groups

static int AppendContextTerm(ParserControl *pc, const std::string &text, int terminal, int alt) {
  if (pc->pct->count >= pc->pct->capacity && GDPC_AllocContextTerms(pc)) return -1;
  int i = pc->pct->count++;
  ContextTerm &t = (*pc->pct)[i];
  t.text = text;
  t.terminal = terminal;
  t.rhsi = alt;
  t.next = -1;
  return i;
}

static int NewContextEntry(ParserControl *pc) {
  if (pc->pcontext->count >= pc->pcontext->capacity && GDPC_AllocContextEntries(pc)) return -1;
  int c = pc->pcontext->count++;
  (*pc->pcontext)[c] = ContextEntry();
  return c;
}

// Puts a new context made from a rule into its group.
static int MakeGroup(ParserControl *pc, int c, int net, int term, int from, int altLen, const RhsTerm &t, int base,
                     const std::string &text, int foi) {
  CNonTerm none;
  const CNonTerm &cn = pc->cNonTerm ? *pc->cNonTerm : none;
  int left = term == 0 ? cn.start - from : from - base;
  int right = term == altLen - 1 ? cn.end : t.rightState - base;
  std::string key = Sf("GC %d %s %d %d %d", net, cn.name.c_str(), term, left, right);
  std::string termKey = Sf("%s %d %s", text.empty() ? "NULL" : text.c_str(), foi, key.c_str());
  int groupNumber, first;
  if (GDH_HashEntry *g = PlhtFind(pc, key)) {
    groupNumber = (*pc->pcontext)[(int)g->value].groupNumber;
    bool isNew = false;
    if (!PlhtCreate(pc, termKey, &isNew)) {
      pc->pres += "GDH_CreateHashEntry failure for szGroupTermCheck(" + termKey + ") in GDPC_AddTerminalArc: " + TR;
      return 1;
    }
    first = isNew ? 1 : 0;
  } else {
    first = 1;
    groupNumber = Top(pc)->group++;
    GDH_HashEntry *ge = PlhtCreate(pc, key, nullptr);
    if (!ge) {
      pc->pres += "GDH_CreateHashEntry failure for szGroupCheck(" + key + ") in GDPC_AddTerminalArc: " + TR;
      return 1;
    }
    EntryTable *et = pc->GDH_EntryTable;
    if (et->count >= et->capacity && GDPC_AllocEntries(pc, et)) return 1;
    (*et)[et->count++] = ge;
    ge->value = c;
    if (!PlhtCreate(pc, termKey, nullptr)) {
      pc->pres += "GDH_CreateHashEntry failure for szGroupTermCheck(" + termKey + ") in GDPC_AddTerminalArc: " + TR;
      return 1;
    }
  }
  (*pc->pcontext)[c].groupNumber = groupNumber;
  (*pc->pcontext)[c].fInitialGroupInstance = (uint8_t)first;
  return 0;
}

// The context entry of a terminal arc added from a rule; *c receives it.
static int RuleContext(ParserControl *pc, int mode, int nnOffset, int altLen, int L0, int Lend, int levelCount,
                       int net, int rule, int alt, int term, int from, int to, int corner, int patternCorner,
                       int terminal, const std::string &text, int foi, const RhsTerm &t, int base, int *c) {
  std::string key = Sf("%d.%d", nnOffset, altLen);
  key += Sf(" 0 %d %d.%d.%d.%d.%d.%d.%d.", levelCount, net, rule, term, from, to, corner, patternCorner);
  if (levelCount > 2) {
    int li = (*pc->phli)[L0].next;
    for (int k = 0; k < levelCount - 2 && li >= 0; k++, li = (*pc->phli)[li].next) {
      const HierarchyLevel &h = (*pc->phl)[(*pc->phli)[li].level];
      key += Sf("%d.%d.%d.%d.%d.%d.%d.", h.net, h.rhbi, h.rti, h.from, h.to, h.cornerStatus, h.patternCornerStatus);
    }
  }
  key += Sf(" %d", terminal >= 0 ? 1 : 0);
  bool isNew = false;
  GDH_HashEntry *ce = PlhtCreate(pc, key, &isNew);
  if (!ce) {
    pc->pres += "GDH_CreateHashEntry failure for szContextCheck(" + key + "): in GDPC_AddTerminalArc --- " + TR;
    return 1;
  }
  if (!isNew) {
    int cx = (int)ce->value;
    std::string ctlt = Sf("CTLT %d %d", cx, terminal);
    bool newTerm = false;
    if (!PlhtCreate(pc, ctlt, &newTerm)) {
      pc->pres += "GDH_CreateHashEntry failure for szCtlTerm(" + ctlt + "): in GDPC_AddTerminalArc --- " + TR;
      return 1;
    }
    if (newTerm) {
      int ti = AppendContextTerm(pc, text, terminal, alt);
      if (ti < 0) return 1;
      ContextEntry &ctx = (*pc->pcontext)[cx];
      if (ctx.lastTerm >= 0) (*pc->pct)[ctx.lastTerm].next = ti;
      if (ctx.firstTerm < 0) ctx.firstTerm = ti;
      ctx.lastTerm = ti;
      ctx.contextTermCount++;
    }
    // The shared context has its own chain of levels.
    for (int i = L0; i < pc->phli->count; i++) (*pc->phli)[i] = HierarchyLevelIndex();
    pc->phli->count = L0;
    *c = cx;
    return 0;
  }
  int cx = NewContextEntry(pc);
  if (cx < 0) return 1;
  ce->value = cx;
  int ti = AppendContextTerm(pc, text, terminal, alt);
  if (ti < 0) return 1;
  ContextEntry &ctx = (*pc->pcontext)[cx];
  ctx.mode = mode;
  ctx.nextNet = nnOffset;
  ctx.withinPatternTermCount = altLen;
  ctx.depth = 0;
  ctx.hCount = levelCount;
  ctx.firstLevel = L0;
  ctx.endLevel = Lend;
  ctx.foi = foi;
  ctx.firstTerm = ctx.lastTerm = ti;
  ctx.contextTermCount = 1;
  std::string ctlt = Sf("CTLT %d %d", cx, terminal);
  bool newTerm = false;
  if (!PlhtCreate(pc, ctlt, &newTerm) || !newTerm) {
    pc->pres += "GDH_CreateHashEntry error for szCtlTerm(" + ctlt + "): in GDPC_AddTerminalArc --- " + TR;
    return 1;
  }
  if (MakeGroup(pc, cx, net, term, from, altLen, t, base, text, foi)) return 1;
  *c = cx;
  return 0;
}

// ---------------------------------------------------------------------------
// Terminal arcs

// The number of the next net entered after a state: its NetTable index.
static int NextNetNumber(ParserControl *pc, const std::string &n, bool mustExist, int *number) {
  if (GDH_HashEntry *e = PlhtFind(pc, "{" + n + "}")) {
    *number = (int)e->value;
    return 0;
  }
  int pe = PhtFind(pc, n);
  if (pe >= 0) {
    // A net name's pht value is its NetTable index: the parse reads the
    // number as the net whose instance the states belong to.
    *number = pc->pht->entry[pe].value;
    return 0;
  }
  if (mustExist) {
    pc->pres += "GDPC_FindHashEntry failure in GDPC_AddTerminalArc for " + n + " in call from GDPC_ProcessNonTerms: " + TR;
    return 1;
  }
  *number = pc->NetTable->count;
  return 0;
}

// A null transition from a state into state 0 of an instance of the next net.
static int EnterNextNet(ParserControl *pc, const std::string &tag, int state, const std::string &n, bool mustExist) {
  std::string origin = Sf("%s:%d", tag.c_str(), state);
  int32_t foi = 0;
  if (GDPC_MakeOrigin(pc, origin, &foi, nullptr)) return 1;
  int number = 0;
  if (NextNetNumber(pc, n, mustExist, &number)) return 1;
  if (GDPC_UpdateNullToTable(pc, origin.c_str(), state, Sf("%s_%d", origin.c_str(), number).c_str(), number, 0)) {
    pc->pres += std::string("GDPC_UpdateNullToTable failure in GDPC_AddTerminalArc: ") + TR;
    return 1;
  }
  return 0;
}

static const HierarchyLevel *LevelAt(ParserControl *pc, int li) {
  if (li < 0 || li >= pc->phli->count) return nullptr;
  int l = (*pc->phli)[li].level;
  if (l < 0 || l >= pc->phl->count) return nullptr;
  return &(*pc->phl)[l];
}

static void CutAtLast(std::string &s, char c) {
  size_t i = s.rfind(c);
  if (i != std::string::npos) s.erase(i);
}

// The further terms of the work record's chain reach an arc only with the
// first instance of the arc's group at its origin. For a later instance, each
// term that no group offers on the arc yet is recorded on its own.
static int OfferChainTerms(ParserControl *pc, const char *origin, const char *prefix, int prefixValue1, int from,
                           const char *toTag, int toNet, int toState, int arcValue, int selfLoopDepth, int group,
                           int prefixValue2) {
  const WorkRecord &p = *pc->p;
  int ct = p.firstTerm;
  for (int k = 0; k < p.contextTermCount && ct >= 0 && ct < pc->pct->count; k++, ct = (*pc->pct)[ct].next) {
    int t = (*pc->pct)[ct].terminal;
    if (k == 0 || t < 0 || OfferedAt(pc, origin, prefix, toTag, toState, t)) continue;
    if (GDPC_UpdateFromTable(pc, origin, prefix, prefixValue1, from, t, toTag, toNet, toState, arcValue,
                             selfLoopDepth, group, 0, prefixValue2))
      return 1;
  }
  return 0;
}

int GDPC_AddTerminalArc(ParserControl *pc, int rule, int alt, int term, Rewrite *rewrite, int mode,
                        int patternCorner, int corner, const char *nextNet, int selfLoop, int fromNonTerms,
                        int parentRule, int parentAlt, int parentTerm, int noRedundancy, int base) {
  WorkRecord &p = *pc->p;
  RhsTerm *T = TermAt(rewrite, rule, alt, term);
  if (!T) {
    pc->pres += Sf("Error: no term %d.%d.%d in the rewrite table in GDPC_AddTerminalArc: ", rule, alt, term) + TR;
    return 1;
  }
  const RhsTerm t = *T;  // the tables below may grow; keep what is read
  int altLen = AltLength(rewrite, rule, alt);

  // 1. States and the parent's kind.
  int from, to, ctxDepth;
  if (!fromNonTerms) {
    from = t.from;
    to = t.to;
    ctxDepth = 0;
  } else {
    const HierarchyLevel *h = LevelAt(pc, p.firstLevel);
    if (!h) {
      pc->pres += std::string("Error: the work record names no hierarchy level in GDPC_AddTerminalArc: ") + TR;
      return 1;
    }
    from = h->from;
    to = h->to;
    ctxDepth = p.depth;
  }
  int parentKind = -1;
  if (parentRule != -1) {
    const RhsTerm *pt = TermAt(fromNonTerms ? p.rewrite[1] : rewrite, parentRule, parentAlt, parentTerm);
    if (pt) parentKind = pt->kind;
  }

  // 2. The terminal.
  int terminal = -1;
  std::string text;
  if (!fromNonTerms) {
    text = t.name;
    if (!text.empty() && RegisterTerminal(pc, text, &terminal)) return 1;
  } else {
    text = p.text;
    int ct = p.firstTerm;
    for (int k = 0; k < p.contextTermCount && ct >= 0 && ct < pc->pct->count; k++) {
      std::string s = k == 0 ? p.text : (*pc->pct)[ct].text;
      if (!s.empty()) {
        int ti = -1;
        if (RegisterTerminal(pc, s, &ti)) return 1;
        (*pc->pct)[ct].terminal = ti;
        if (k == 0) terminal = ti;
      }
      ct = (*pc->pct)[ct].next;
    }
    if (p.text.empty()) terminal = -1;
  }

  // 3. Prefix and suffix keys of the alternative.
  if (terminal >= 0 && ctxDepth == 0 && !noRedundancy && rule < pc->Rewrite->rhb.count &&
      pc->Rewrite->rhb[rule].flag && !(t.plus == 1 && t.star != 2 && from == to)) {
    if (GDPC_MakeRedundancyKeys(pc, rule, alt, term)) return 1;
  }

  // 4. The net and the names of the from-state.
  GDH_HashEntry *ne = PlhtFind(pc, rewrite->netName);
  if (!ne) {
    pc->pres += "GDH_FindHashEntry failure for " + rewrite->netName + ": " + TR;
    return 1;
  }
  int net;
  if (mode == MODE_RULES) {
    int v = (int)ne->value;
    if (!pc->nonTerm || v < 0 || v >= pc->nonTerm->capacity) {
      pc->pres += "GDH_FindHashEntry failure for " + rewrite->netName + ": " + TR;
      return 1;
    }
    net = (*pc->nonTerm)[v].value;
  } else if (ctxDepth == 0) {
    net = (int)ne->value;
  } else {
    net = LevelAt(pc, p.firstLevel)->net;
  }
  std::string netString, originName;
  if (ctxDepth == 0) {
    netString = Sf("%d", net);
    originName = Sf("%d:%d", net, from);
  } else {
    // The origin name prepared by the non-terminal pass; its net string names
    // the instance, that is, everything before the state.
    originName = GDPC_KeyText(pc, p.symbol);
    netString = originName;
    CutAtLast(netString, ':');
  }
  std::string prefixName = originName;

  // 5. The next net's text.
  std::string n = nextNet && *nextNet ? nextNet : "_";
  std::string nnKey = n + " NN";
  bool newNN = false;
  GDH_HashEntry *nn = PlhtCreate(pc, nnKey, &newNN);
  if (!nn) {
    pc->pres += "GDH_CreateHashEntry failure for szNextNetCheck(" + nnKey + "): in GDPC_AddTerminalArc --- " + TR;
    return 1;
  }
  if (newNN) {
    // Grown until the name fits, however long it is.
    while (pc->pnn->capacity <= pc->pnn->count + (int)n.size() + 1)
      if (GDPC_AllocNextNetTableChars(pc)) return 1;
    int off = pc->pnn->count;
    memcpy(&(*pc->pnn)[(size_t)off], n.c_str(), n.size() + 1);
    pc->pnn->count += (int)n.size() + 1;
    nn->value = off;
  }
  int nnOffset = (int)nn->value;

  // 6. The origin of the from-state.
  int32_t foi = 0;
  if (!fromNonTerms) {
    if (GDPC_MakeOrigin(pc, originName, &foi, nullptr)) return 1;
  } else {
    foi = p.foi;
  }

  // 7. and 8. Hierarchy levels and the context.
  int c = -1;
  if (!fromNonTerms) {
    int L0 = -1, Lend = -1, levels = 0;
    if (GDPC_MakeLevelChain(pc, rewrite, rule, alt, term, &L0, &Lend, &levels)) return 1;
    // 9. Group, for a new context.
    if (RuleContext(pc, mode, nnOffset, altLen, L0, Lend, levels, net, rule, alt, term, from, to, corner,
                    patternCorner, terminal, text, foi, t, base, &c))
      return 1;
  } else {
    c = NewContextEntry(pc);
    if (c < 0) return 1;
    ContextEntry &ctx = (*pc->pcontext)[c];
    ctx.mode = mode;
    ctx.nextNet = nnOffset;
    ctx.withinPatternTermCount = altLen;
    ctx.depth = p.depth;
    ctx.hCount = p.hCount;
    ctx.firstLevel = p.firstLevel;
    ctx.endLevel = p.endLevel;
    ctx.firstTerm = p.firstTerm;
    ctx.lastTerm = p.lastTerm;
    ctx.contextTermCount = p.contextTermCount;
    ctx.foi = p.foi;
    ctx.groupNumber = p.groupNumber;
    ctx.fInitialGroupInstance = (uint8_t)p.fInitialGroupInstance;
  }
  const ContextEntry ctx = (*pc->pcontext)[c];

  // 10. An arc without terminal is a null transition.
  if (terminal < 0) {
    if (GDPC_UpdateNullToTable(pc, originName.c_str(), from, netString.c_str(), net, to)) {
      pc->pres += std::string("GDPC_UpdateNullToTable failure in GDPC_AddTerminalArc: ") + TR;
      return 1;
    }
    return 0;
  }

  int prefixValue2 = term + (parentKind == TK_RULE ? parentTerm : 0);
  bool lastTerm = term == altLen - 1;
  bool hasNext = n != "_";

  if (ctxDepth == 0) {
    // 11. The levels' rewrite tables, and the entry into a next net.
    if (ctx.hCount >= MAX_HIERARCHY_SLOTS) {
      pc->pres += Sf("Error: %d hierarchy levels exceed the limit of %d in GDPC_AddTerminalArc: ", ctx.hCount,
                     MAX_HIERARCHY_SLOTS - 1) +
                  TR;
      return 1;
    }
    for (int i = 1; i <= ctx.hCount; i++) p.rewrite[i] = rewrite;
    if (to != 1 && hasNext && !lastTerm && EnterNextNet(pc, netString, to, n, false)) return 1;
  } else {
    // 12. An arc of a referenced net, seen from this net.
    if (from == 0) {
      // 12.1 The origins of the nets entered on the way in.
      StringTable &nt = *pc->NetTable;
      for (int k = 0; k < nt.count; k++) {
        if (nt.flags[k] != '1') continue;
        std::string copy = originName;
        size_t at = copy.find(Sf("%d:", k));
        if (at != std::string::npos) {
          size_t us = copy.find('_', at);
          if (us != std::string::npos) copy.erase(us);
          int32_t sym = 0;
          if (GDPC_MakeSymbol(pc, copy, &sym)) return 1;
          std::string fo = copy + " FO";
          bool newFo = false;
          int fe = PhtCreate(pc, fo, &newFo);
          if (fe < 0) {
            pc->pres += "GDPC_CreateHashEntry failure for " + fo + ": " + TR;
            return 1;
          }
          if (newFo) {
            int o = GDPC_AppendOrigin(pc);
            if (o < 0) return 1;
            pc->pht->entry[fe].value = o;
            (*pc->From)[o].symbol = sym;
            (*pc->From)[o].depth = (uint8_t)CountChar(copy, '_');
            if (KeySymbol(pc, fe) < 0) return 1;
          }
        }
        pc->NetTable->flags[k] = 3;
      }
    }
    // 12.2 A final term leaves its nets: climb while the to-state ends one.
    int L = ctx.firstLevel, E = ctx.endLevel;
    int rightDepth = p.depth;
    std::string tag = netString;
    const HierarchyLevel *h = LevelAt(pc, L);
    int curNet = h ? h->net : 0;
    int curTo = to;
    int climbed = 0;
    if (t.cornerStatus & CORNER_FINAL) {
      int Eprev = E >= 0 && E < pc->phli->count ? (*pc->phli)[E].previous : -1;
      while (L != E && curTo == 1) {
        int nx = (*pc->phli)[L].next;
        if (nx < 0) break;
        L = nx;
        climbed++;
        h = LevelAt(pc, L);
        if (!h) break;
        curTo = h->to;
        if (h->net != curNet) {
          rightDepth--;
          CutAtLast(tag, ':');
          curNet = h->net;
          if (L == Eprev) break;
        }
      }
    }
    h = LevelAt(pc, L);
    // 12.3 Leaving a net into a state followed by a next net.
    if (rightDepth != p.depth && curTo != 1 && hasNext && h) {
      Rewrite *rwL = climbed < MAX_HIERARCHY_SLOTS ? p.rewrite[climbed] : nullptr;
      int len = AltLength(rwL, h->rhbi, h->rhsi);
      bool levelLast = h->rhbi < 0 || h->rti == len - 1;
      int nx = (*pc->phli)[L].next;
      const HierarchyLevel *after = LevelAt(pc, nx);
      if (!levelLast && (!after || curTo != after->to) && EnterNextNet(pc, tag, curTo, n, true)) return 1;
    }
    // 12.4 Self-loop depth.
    int sld = 0;
    if (selfLoop == 0) {
      if (!lastTerm) {
        std::string copy = originName;
        size_t at = copy.find(Sf("%d:%d", curNet, curTo));
        if (at != std::string::npos) sld = CountChar(copy.substr(at), '_');
      }
    } else if (h && h->from == h->to) {
      sld = selfLoop;
      if (selfLoop != p.depth - rightDepth) {
        pc->pres += Sf("Error: fSelfLoopPattern(%d) not equal to ppc->p->depth(%d)-rightDepth(%d) = %d in "
                       "GDPC_AddTerminalArc: ",
                       selfLoop, p.depth, rightDepth, p.depth - rightDepth) +
                    TR;
        return 1;
      }
    }
    // 12.5 The arc toward the state reached.
    if (GDPC_UpdateFromTable(pc, originName.c_str(), prefixName.c_str(), p.depth, from, terminal, tag.c_str(), curNet,
                             curTo, 0, curTo == 1 ? 0 : sld, ctx.groupNumber, ctx.fInitialGroupInstance,
                             prefixValue2) ||
        (!ctx.fInitialGroupInstance &&
         OfferChainTerms(pc, originName.c_str(), prefixName.c_str(), p.depth, from, tag.c_str(), curNet, curTo, 0,
                         curTo == 1 ? 0 : sld, ctx.groupNumber, prefixValue2))) {
      pc->pres += std::string("GDPC_UpdateFromTable failure in GDPC_AddTerminalArc: ") + TR;
      return 1;
    }
    if (curTo != 1 && rightDepth == 0 && h && (h->cornerStatus & CORNER_FINAL)) {
      if (GDPC_UpdateFromTable(pc, originName.c_str(), prefixName.c_str(), p.depth, from, terminal, "0", 0, 1, 0, 0,
                               ctx.groupNumber, 0, prefixValue2) ||
          OfferChainTerms(pc, originName.c_str(), prefixName.c_str(), p.depth, from, "0", 0, 1, 0, 0,
                          ctx.groupNumber, prefixValue2)) {
        pc->pres += std::string("GDPC_UpdateFromTable failure in GDPC_AddTerminalArc: ") + TR;
        return 1;
      }
    }
  }

  // 13. The arc itself.
  if (!(ctxDepth > 0 && to == 1)) {
    if (GDPC_UpdateFromTable(pc, originName.c_str(), prefixName.c_str(), p.depth, from, terminal, netString.c_str(),
                             net, to, 0, selfLoop, ctx.groupNumber, ctx.fInitialGroupInstance, prefixValue2) ||
        (fromNonTerms && !ctx.fInitialGroupInstance &&
         OfferChainTerms(pc, originName.c_str(), prefixName.c_str(), p.depth, from, netString.c_str(), net, to, 0,
                         selfLoop, ctx.groupNumber, prefixValue2))) {
      pc->pres += std::string("GDPC_UpdateFromTable failure in GDPC_AddTerminalArc: ") + TR;
      return 1;
    }
  }

  // 14. An initial arc of a referenced net starts it from the enclosing states.
  if (ctxDepth > 0) {
    const HierarchyLevel *h0 = LevelAt(pc, ctx.firstLevel);
    if (h0 && (h0->cornerStatus & CORNER_INITIAL)) {
      std::string copy = originName;
      int rd = p.depth;
      int curNet = h0->net;
      int L = ctx.firstLevel, E = ctx.endLevel;
      while (L != E) {
        int nx = (*pc->phli)[L].next;
        if (nx < 0) break;
        L = nx;
        const HierarchyLevel *h = LevelAt(pc, L);
        if (!h) break;
        if (h->net != curNet) {
          rd--;
          CutAtLast(copy, '_');
          if (GDPC_UpdateNullToTable(pc, copy.c_str(), h->from, netString.c_str(), curNet, 0)) {
            pc->pres += std::string("GDPC_UpdateNullToTable failure in GDPC_AddTerminalArc: ") + TR;
            return 1;
          }
          curNet = h->net;
        }
        if (h->from != 0 && (rd == 0 || !(h->cornerStatus & CORNER_INITIAL))) break;
      }
    }
  }
  return 0;
}

}  // namespace rtn
