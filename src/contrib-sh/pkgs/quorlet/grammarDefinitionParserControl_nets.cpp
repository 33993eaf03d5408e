// The grammar side of the compiler: loading a grammar file, the arcs that
// stand for rules and nets, the expansion of rules in place, the
// non-terminal pass that resolves them, and the compile driver.
//
// A rule is a rewrite pattern: it is expanded between the states of every
// term that references it, so a net's own numbered states carry all of its
// rules. A net reference compiles (or loads) the other net once per tree and
// imports the ways in which it can begin, so that a parse may start inside
// it on one of its first words.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "container.h"
#include "container_file.h"
#include "gd.h"
#include "rtn_io.h"
#include "trailer.h"
#include "yastro.h"

namespace rtn {

namespace {

const char *const kSrc = "grammarDefinitionParserControl";

// "file(grammarDefinitionParserControl) line(N)\n"
std::string T(int line) { return Trailer(kSrc, line); }
// "file(grammarDefinitionParserControl), line(N)\n"
std::string TComma(int line) {
  return std::string("file(") + kSrc + "), line(" + std::to_string(line) + ")\n";
}
// "line(N), file(grammarDefinitionParserControl)\n"
std::string TLineFirst(int line) {
  return "line(" + std::to_string(line) + "), file(" + kSrc + ")\n";
}

const int kMaxNetDepth = 24;

std::string Str(int v) { return std::to_string(v); }

bool FileTime(const std::string &path, int64_t *t) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  *t = (int64_t)st.st_mtim.tv_sec * 1000000000 + st.st_mtim.tv_nsec;
  return true;
}

// Creates key in a GDH table; null on failure.
GDH_HashEntry *Create(GDH_HashTable *t, const std::string &key, bool *isNew) {
  bool n = false;
  GDH_HashEntry *e = GDH_CreateHashEntry(*t, key.c_str(), &n);
  if (isNew) *isNew = n;
  return e;
}

GDH_HashEntry *Find(GDH_HashTable *t, const std::string &key) {
  return t ? GDH_FindHashEntry(*t, key.c_str()) : nullptr;
}

int PhtCreate(ParserControl *pc, const std::string &key, bool *isNew) {
  bool n = false;
  int e = GDPC_StringCreate(*pc->pht, key.c_str(), key.size(), &n);
  if (isNew) *isNew = n;
  return e;
}

int PhtFind(ParserControl *pc, const std::string &key) {
  return GDPC_StringFind(*pc->pht, key.c_str(), key.size());
}

RhsTerm &TermAt(Rewrite *rw, int r, int a, int t) { return rw->rhb[r].rhs[a].term[t]; }

// Appends a net name to NetTable (InternalNet follows it); -1 on failure.
int AppendNet(ParserControl *pc, const std::string &name, int32_t offset) {
  int n = GDPC_AppendString(pc, pc->NetTable, name, offset);
  if (n >= 0) pc->InternalNet->count = pc->NetTable->count;
  return n;
}

// Runs a container call with a result of its own and moves its text to pres.
struct TempResult {
  GS_Result *r = GS_CreateResult();
  ~TempResult() { GS_DeleteResult(r); }
  void MoveTo(std::string &pres) {
    if (r && r->text && r->text[0]) pres += r->text;
    GS_ResetResult(r);
  }
};

}  // namespace

bool GDPC_UnsafeNetName(const std::string &name) {
  return name.empty() || name[0] == '.' || name.find('/') != std::string::npos ||
         name.find('\\') != std::string::npos;
}

// ---------------------------------------------------------------------------
// Loading a grammar file

int GDPC_BufferizeFile(ParserControl *pc, const char *path) {
  bool cleaned = false;
  if (!pc->nonTerm) {
    if (GDPC_NewNonTermTable(pc)) return 1;
  } else if (pc->nonTerm->count > 0 && pc->From && pc->From->count == 0) {
    // A previous file of this record left its names in plht: take them back.
    for (int i = 0; i < pc->nonTerm->capacity; i++) {
      NT_Array &nt = (*pc->nonTerm)[i];
      if (nt.kind == NT_RULE || nt.kind == NT_NETSTART) {
        GDH_HashEntry *e = Find(pc->plht, nt.name);
        if (!e) {
          pc->pres += "GDH_FindHashEntry failed for " + nt.name +
                      " in GDPC_CleanLastFileNonTerms: " + T(__LINE__);
          return 1;
        }
        if (nt.kind == NT_NETSTART)
          e->value = nt.value;
        else
          GDH_DeleteHashEntry(e);
      }
      nt.value = -1;
      nt.name.clear();
      nt.kind = 0;
      for (NTArc &a : nt.arcs.table) a = NTArc();
      nt.arcs.count = 0;
    }
    cleaned = true;
  }
  if (cleaned) pc->inputBuf.clear();
  pc->nonTerm->count = 0;
  pc->state = 0;
  pc->index = 0;
  pc->line = 1;

  FILE *f = fopen(path, "rb");
  if (!f) {
    pc->pres += std::string("fopen failure for ") + path + " in GDPC_BufferizeFile: file(" + kSrc +
                ") at line(" + Str(__LINE__) + ")\n";
    return 1;
  }
  std::string text;
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  bool bad = ferror(f) != 0;
  fclose(f);
  if (bad) {
    pc->inputBuf.clear();
    pc->pres += "fread failure: " + T(__LINE__);
    return 1;
  }
  // A NUL byte would end the text there and drop the rest unseen.
  size_t nul = text.find('\0');
  if (nul != std::string::npos) {
    pc->pres += std::string("Error: ") + path + " holds a NUL byte at offset " + std::to_string(nul) +
                " in GDPC_BufferizeFile: " + T(__LINE__);
    return 1;
  }
  // Grammar files may come with CR LF line ends: read them as LF.
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); i++) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  pc->inputBuf.swap(out);
  return 0;
}

// ---------------------------------------------------------------------------
// Net start and non-terminal arcs

int GDPC_InitNet(ParserControl *pc, Rewrite *rewrite) {
  RewriteSide &net = rewrite->rhb[0];
  if (net.rhs.capacity > 0 && net.rhs[0].term.capacity > 0) {
    RhsTerm &t = net.rhs[0].term[0];
    t.from = pc->state;
    t.to = pc->state + 1;
    t.kind = NT_NETSTART;
  }
  pc->state++;
  if (GDPC_AddNTArc(pc, -1, -1, -1, rewrite, nullptr, 3, 3, -1)) {
    pc->pres += "GDPC_AddNTArc failure for " + rewrite->netName + ": " + T(__LINE__);
    return 1;
  }
  return 0;
}

namespace {

// Links `net` below `parent` in a tree.
void LinkBelow(ParserControl *net, ParserControl *parent) {
  net->depth = (int8_t)(parent->depth + 1);
  net->pParent = parent;
  net->ptlpc = parent->ptlpc;
  net->pnht = parent->pnht;
}

// Releases a record made for a nested compile, or read for one.
void ReleaseNested(ParserControl *c) {
  if (!c) return;
  c->inputBuf.clear();
  // A record read from its compiled file wraps itself in the object of its
  // entry 0, which the release of its tables does not reach once the file
  // kept for it is closed: the wrapper goes here.
  if (c->InternalNet && !c->InternalNet->entries.empty()) {
    InternalNetEntry &e0 = c->InternalNet->entries[0];
    if (e0.object && e0.object->data == c) {
      if (!c->InternalNet->cntrfile.empty() && c->InternalNet->cntrfile[0]) {
        Cntr_ObjFClose(nullptr, c->InternalNet->cntrfile[0]);
        c->InternalNet->cntrfile[0] = nullptr;
      }
      DB_FREE(e0.object);
      e0.object = nullptr;
      e0.owned = 0;
    }
  }
  GDPC_Free(c);
  delete c;
}

// Where an InternalNet entry's contents come from when a net is registered
// in the records above it.
struct NetSource {
  InternalNetEntry entry;
  CntrFile *cntrfile = nullptr;
  int fWrite = 1;
  char flag = '1';
};

NetSource SourceOf(ParserControl *owner, int k, CntrObj *objectOverride) {
  NetSource s;
  s.entry = owner->InternalNet->entries[k];
  if (objectOverride) s.entry.object = objectOverride;
  if (k < (int)owner->InternalNet->cntrfile.size()) s.cntrfile = owner->InternalNet->cntrfile[k];
  if (k < (int)owner->InternalNet->fWrite.size()) s.fWrite = owner->InternalNet->fWrite[k];
  s.flag = (owner->NetTable->flags[k] & 1) ? '1' : 0;
  return s;
}

// Registers net `name` in the records above `from` (levels of them), giving
// each the InternalNet contents of `src`.
int RegisterAbove(ParserControl *pc, ParserControl *from, int levels, const std::string &name,
                  bool entryZero, const NetSource &src) {
  std::string braced = "{" + name + "}";
  ParserControl *top = pc->ptlpc ? pc->ptlpc : pc;
  ParserControl *O = from->pParent;
  for (int l = 0; l < levels && O; l++, O = O->pParent) {
    int idx = -1;
    if (O->plht && !IsPreparedMark(O->plht)) {
      GDH_HashEntry *e = Find(O->plht, braced);
      if (e) {
        idx = (int)e->value;
      } else if (!entryZero && PhtFind(O, name) >= 0) {
        idx = O->pht->entry[PhtFind(O, name)].value;
      } else {
        if (entryZero && Find(O->plht, name)) {
          pc->pres += "Error: " + braced + " exists in pParentPC->pht but " + name +
                      " does not --- in GDPC_AddNTArc: " + T(__LINE__);
          return 1;
        }
        bool isNew;
        GDH_HashEntry *plain = Create(O->plht, name, &isNew);
        GDH_HashEntry *br = Create(O->plht, braced, nullptr);
        if (!plain || !br) {
          pc->pres += "GDH_CreateHashEntry failure for " + name + " in GDPC_AddNTArc: " + T(__LINE__);
          return 1;
        }
        bool phtNew;
        int pe = PhtCreate(O, name, &phtNew);
        if (pe < 0) {
          pc->pres += "GDPC_CreateHashEntry failure for " + name + " in GDPC_AddNTArc: " + T(__LINE__);
          return 1;
        }
        idx = AppendNet(O, name, O->pht->entry[pe].key);
        if (idx < 0) return 1;
        br->value = idx;
        if (isNew) plain->value = -1;
        if (phtNew) O->pht->entry[pe].value = idx;
      }
    } else {
      int pe = O->pht ? PhtFind(O, name) : -1;
      if (pe < 0) {
        pc->pres += "Error: GDPC_FindHashEntry failure for " + name + " in GDPC_AddNTArc: " + T(__LINE__);
        return 1;
      }
      idx = O->pht->entry[pe].value;
    }
    if (idx < 0 || idx >= O->InternalNet->capacity) continue;
    InternalNetEntry &d = O->InternalNet->entries[idx];
    d.object = src.entry.object;
    d.packed = src.entry.packed;
    d.linked = src.entry.linked;
    d.timeStamp = src.entry.timeStamp;
    d.hasPacked = src.entry.hasPacked;
    if (idx < (int)O->InternalNet->cntrfile.size()) O->InternalNet->cntrfile[idx] = src.cntrfile;
    if (idx < (int)O->InternalNet->fWrite.size()) O->InternalNet->fWrite[idx] = (uint8_t)src.fWrite;
    if (idx < (int)O->InternalNet->rewrites.size())
      O->InternalNet->rewrites[idx] =
          src.entry.object ? static_cast<ParserControl *>(src.entry.object->data)->Rewrite : nullptr;
    O->NetTable->flags[idx] = src.flag;
    if (O == top) {
      d.owned = 1;
      d.packOwned = 1;
    }
    O->InternalNet->count = O->NetTable->count;
  }
  return 0;
}

// Copies a context table into a record that has only packed copies, each
// with its capacity cut to its count and a fresh step.
template <class G>
G *CopyTable(const G *src, int step) {
  G *g = new G();
  if (src) {
    g->table.assign(src->table.begin(), src->table.begin() + src->count);
    g->count = src->count;
  }
  g->capacity = g->count;
  g->step = step;
  return g;
}

// The first reference in the tree to net `name`: compiles or loads it, and
// takes it over as the unpacked copy of its packed form. *sOut and *objOut
// receive the record and its object.
int CompileReferencedNet(ParserControl *pc, const std::string &name, const char *nextNet,
                         ParserControl **sOut, CntrObj **objOut) {
  ParserControl *top = pc->ptlpc;
  if (name.size() < 3 || name.front() != '[' || name.back() != ']') {
    pc->pres += "sscanf failure in GDPC_AddNetArc: " + T(__LINE__);
    return 1;
  }
  std::string bare = name.substr(1, name.size() - 2);
  if (GDPC_UnsafeNetName(bare) || bare.find(']') != std::string::npos) {
    pc->pres += "Error: the net name " + name +
                " may not name a file outside the grammar's folder in GDPC_AddNTArc: " + T(__LINE__);
    return 1;
  }
  if (pc->depth + 1 > kMaxNetDepth) {
    pc->pres += "Error: nets are nested deeper than " + Str(kMaxNetDepth) + " at " + name +
                " in GDPC_AddNTArc: " + T(__LINE__);
    return 1;
  }
  // The tree's tables learn the name first, so that a net that references
  // itself finds it while it has no object yet.
  std::string braced = "{" + name + "}";
  bool isNew;
  GDH_HashEntry *br = Create(top->plht, braced, &isNew);
  if (!br) {
    pc->pres += "GDH_CreateHashEntry(plht) failure for szNonTermNet(" + braced +
                ") in GDPC_AddNTArc: " + TComma(__LINE__);
    return 1;
  }
  int g;
  if (isNew) {
    if (Find(top->plht, name)) {
      pc->pres += "Error: " + braced + " does not exist in ppc->ptlpc->plht but " + name +
                  " does --- in GDPC_AddNTArc: " + T(__LINE__);
      return 1;
    }
    GDH_HashEntry *plain = Create(top->plht, name, nullptr);
    if (!plain) {
      pc->pres += "GDH_CreateHashEntry failure for " + name + " in GDPC_AddNetArc: " + T(__LINE__);
      return 1;
    }
    plain->value = -1;
    bool phtNew;
    int pe = PhtCreate(top, name, &phtNew);
    if (pe < 0) {
      pc->pres += "GDPC_CreateHashEntry failure for " + name + " in GDPC_AddNetArc: " + T(__LINE__);
      return 1;
    }
    g = AppendNet(top, name, top->pht->entry[pe].key);
    if (g < 0) return 1;
    br->value = g;
    if (phtNew) top->pht->entry[pe].value = g;
  } else {
    g = (int)br->value;
  }
  GDH_HashEntry *ne = Create(pc->pnht, name, nullptr);
  if (!ne) {
    pc->pres += "GDH_CreateHashEntry failure for " + name + " in ppc->pnht in GDPC_AddNTArc: " +
                T(__LINE__);
    return 1;
  }
  ne->value = g;

  ParserControl *c = new ParserControl();
  c->fDots = GDPC_DotsOn() ? 1 : 0;
  if (RTN_InitPC(c)) {
    pc->pres += "RTN_InitPC failure in GDPC_AddNetArc: " + T(__LINE__);
    ReleaseNested(c);
    return 1;
  }
  c->ptlpc = pc->ptlpc;
  c->pnht = pc->pnht;
  c->pParent = pc;
  c->pszNextNet = (nextNet && strcmp(nextNet, "_") != 0) ? nextNet : "";
  c->depth = (int8_t)(pc->depth + 1);
  c->tclChannel = pc->tclChannel;
  c->dotCount = pc->dotCount;
  ParserControl *r = RTN_Create(c, bare.c_str(), ".gra", RS_RTN);
  pc->dotCount = c->dotCount;
  if (!r) {
    pc->pres += c->pres;
    pc->pres += "RTN_Create failure in GDPC_AddNetArc: " + T(__LINE__);
    ReleaseNested(c);
    return 1;
  }
  InternalNetEntry &own = r->InternalNet->entries[0];
  if (!own.packed || !own.packed->buffer || own.packed->length <= 0) {
    pc->pres += r->pres;
    pc->pres += "Error: a subnet with no PackedObject has been found in GDPC_AddNTArc: " +
                TLineFirst(__LINE__);
    if (r != c) ReleaseNested(r);
    ReleaseNested(c);
    return 1;
  }
  int len = own.packed->length;
  char *copy = static_cast<char *>(DB_MALLOC((size_t)len));
  memcpy(copy, own.packed->buffer, (size_t)len);
  TempResult tr;
  int pos = 0;
  CntrObj *obj = Cntr_ObjUnpack(tr.r, nullptr, copy, &pos, len);
  if (!obj || !obj->data) {
    tr.MoveTo(pc->pres);
    pc->pres += "Cntr_ObjUnpack failure in GDPC_AddNTArc: " + TLineFirst(__LINE__);
    DB_FREE(copy);
    if (r != c) ReleaseNested(r);
    ReleaseNested(c);
    return 1;
  }
  ParserControl *s = static_cast<ParserControl *>(obj->data);
  InternalNetEntry &se = s->InternalNet->entries[0];
  if (se.packed && se.packOwned) {
    if (se.packed->buffer) DB_FREE(se.packed->buffer);
    delete se.packed;
  }
  se.object = nullptr;
  se.timeStamp = r->graTimeStamp;
  se.owned = 0;
  se.linked = 0;
  se.packOwned = 1;
  se.packed = new PackedObject();
  se.packed->buffer = copy;
  se.packed->length = len;
  se.hasPacked = 1;
  s->pnht = r->pnht;
  s->ptlpc = r->ptlpc;
  s->pParent = r->pParent;
  s->depth = r->depth;
  s->graTimeStamp = r->graTimeStamp;
  s->fPrintAllocs = r->fPrintAllocs;
  s->fLogAllocs = r->fLogAllocs;
  s->fRebuild = r->fRebuild;
  s->fDots = r->fDots;
  s->szRTNName.swap(r->szRTNName);
  s->pres.swap(r->pres);
  s->pszNextNet.clear();
  // The context tables as they were compiled, ready for import. A net read
  // from its compiled file has them packed only: the non-terminal pass
  // unpacks them from s's own copies when it needs them.
  if (r->pcontext) {
    delete s->pcontext;
    delete s->pct;
    delete s->pnn;
    delete s->phl;
    delete s->phli;
    s->pcontext = CopyTable(r->pcontext, CONTEXT_TABLESIZE);
    s->pct = CopyTable(r->pct, CONTEXTTERM_TABLESIZE);
    s->pnn = CopyTable(r->pnn, NEXTNET_TABLESIZE);
    s->phl = CopyTable(r->phl, HIERARCHY_TABLESIZE);
    s->phli = CopyTable(r->phli, HLINDEX_TABLESIZE);
  }
  if (s->ContextObjectStructure) {
    ContextObjectStructure &cos = *s->ContextObjectStructure;
    cos.contextObject = cos.contextTermObject = cos.hlIndexObject = cos.hierarchyLevelObject =
        cos.nextNetObject = nullptr;
    cos.unpacked = s->pcontext ? 1 : 0;
  }
  if (r != c) ReleaseNested(r);
  ReleaseNested(c);
  *sOut = s;
  *objOut = obj;
  return 0;
}

// Steps 3 of a net reference new to this net: makes the net available and
// registers it and every net below it in the records above.
int MakeNetAvailable(ParserControl *pc, const std::string &name, const char *nextNet) {
  if (!pc->ptlpc) {
    pc->pnht = new GDH_HashTable();
    GDH_InitHashTable(*pc->pnht, 0, 120);
    pc->ptlpc = pc;
  }
  ParserControl *top = pc->ptlpc;
  GDH_HashEntry *inTree = Find(pc->pnht, name);
  ParserControl *s = nullptr;
  CntrObj *sObj = nullptr;
  bool fromCompile = false;
  if (!inTree) {
    if (CompileReferencedNet(pc, name, nextNet, &s, &sObj)) return 1;
    fromCompile = true;
    LinkBelow(s, pc);
    s->pszNextNet = (nextNet && strcmp(nextNet, "_") != 0) ? nextNet : "";
  } else {
    int g = (int)inTree->value;
    InternalNetEntry *te =
        (g >= 0 && g < top->InternalNet->capacity) ? &top->InternalNet->entries[g] : nullptr;
    if (!te || !te->object || !te->object->data || !te->packed) {
      pc->pres += "Error (in GDPC_AddNTArc): non-term net found in ptlpc->pht "
                  "with no object or PackedObject: " +
                  TLineFirst(__LINE__);
      return 1;
    }
    sObj = te->object;
    s = static_cast<ParserControl *>(sObj->data);
    LinkBelow(s, pc);
    s->pszNextNet = (nextNet && strcmp(nextNet, "_") != 0) ? nextNet : "";
  }
  // Every net that s knows: s itself first, then the nets below it.
  for (int k = 0; k < s->NetTable->count; k++) {
    InternalNetEntry &ke = s->InternalNet->entries[k];
    if (k != 0 && ke.linked) continue;
    if (k == 0 && fromCompile && ke.linked) continue;
    const std::string &kname = s->NetTable->strings[k];
    ParserControl *rr = nullptr;
    bool foundInTree = (k == 0) ? (inTree != nullptr) : false;
    NetSource src;
    if (k == 0) {
      rr = s;
      src = SourceOf(s, 0, sObj);
      if (inTree) {
        int g = (int)inTree->value;
        src = SourceOf(top, g, nullptr);
      }
    } else {
      if (Find(pc->pnht, kname)) {
        foundInTree = true;
        GDH_HashEntry *e = Find(top->plht, "{" + kname + "}");
        if (!e) e = Find(top->plht, kname);
        if (!e) {
          pc->pres += "Error: " + kname + " found in pnht but neither szNonTermNet nor " + kname +
                      " found in plht of top-level net in GDPC_AddNTArc: " + T(__LINE__);
          return 1;
        }
        int num = (int)e->value;
        InternalNetEntry *te =
            (num >= 0 && num < top->InternalNet->capacity) ? &top->InternalNet->entries[num] : nullptr;
        if (!te || !te->object) {
          pc->pres += "Error: top-level subnet with no top-level Object has been found in "
                      "GDPC_AddNTArc: " +
                      TLineFirst(__LINE__);
          return 1;
        }
        if (!te->packed) {
          pc->pres += "Error: a top-level subnet with no top-level PackedObject has been found in "
                      "GDPC_AddNTArc: " +
                      TLineFirst(__LINE__);
          return 1;
        }
        rr = static_cast<ParserControl *>(te->object->data);
        src = SourceOf(top, num, nullptr);
      } else {
        if (!ke.object) {
          pc->pres += "Error: a subnet with no Object has been found in GDPC_AddNTArc: " +
                      TLineFirst(__LINE__);
          return 1;
        }
        if (!ke.packed) {
          pc->pres += "Error: a subnet with no PackedObject has been found in GDPC_AddNTArc: " +
                      TLineFirst(__LINE__);
          return 1;
        }
        rr = static_cast<ParserControl *>(ke.object->data);
        src = SourceOf(s, k, nullptr);
      }
      LinkBelow(rr, s);
      // Only the top-level record owns the nets of the tree: s's entry
      // shares the object and the packed copy that the tree keeps.
      InternalNetEntry &own = s->InternalNet->entries[k];
      if (own.packed && own.packed != src.entry.packed && own.packOwned) {
        if (own.packed->buffer) DB_FREE(own.packed->buffer);
        delete own.packed;
      }
      own.packed = src.entry.packed;
      own.hasPacked = src.entry.hasPacked;
      if (!own.object) own.object = src.entry.object;
      own.packOwned = 0;
      own.owned = 0;
    }
    int levels = rr->depth - (foundInTree ? 1 : 0);
    if (RegisterAbove(pc, rr, levels, kname, k == 0, src)) return 1;
  }
  return 0;
}

}  // namespace

int GDPC_AddNTArc(ParserControl *pc, int rule, int alt, int term, Rewrite *rewrite, const char *nextNet,
                  int patternCorner, int corner, int netStart) {
  int from, to, kind;
  std::string name;
  if (rule == -1) {
    from = 0;
    to = 1;
    kind = (netStart == -1) ? NT_NETSTART : NT_NET;
    name = rewrite->netName;
  } else {
    RhsTerm &t = TermAt(rewrite, rule, alt, term);
    from = t.from;
    to = t.to;
    kind = t.kind;
    name = t.name;
  }
  auto failOut = [&]() {
    if (pc->depth == 0 && pc->pnht && pc->ptlpc == pc) {
      GDH_DeleteHashTable(*pc->pnht);
      delete pc->pnht;
      pc->pnht = nullptr;
    }
    return 1;
  };

  // The name and its non-terminal entry.
  bool isNew;
  GDH_HashEntry *ne = Create(pc->plht, name, &isNew);
  if (!ne) {
    pc->pres += "GDH_CreateHashEntry(plht) failure for " + name + ": " + T(__LINE__);
    return failOut();
  }
  int i;
  bool netNewHere = false;
  if (isNew || ne->value == -1) {
    if (pc->nonTerm->count >= pc->nonTerm->capacity && GDPC_AllocNT_Arrays(pc)) return failOut();
    i = pc->nonTerm->count++;
    NT_Array &nt = (*pc->nonTerm)[i];
    nt.name = name;
    nt.kind = kind;
    nt.arcs.count = 0;
    bool known = !isNew;
    ne->value = i;
    if (kind == NT_NETSTART) {
      bool phtNew;
      int pe = PhtCreate(pc, name, &phtNew);
      if (pe < 0) {
        pc->pres += "GDPC_CreateHashEntry(pht) failure for " + name + ": " + T(__LINE__);
        return failOut();
      }
      int n = AppendNet(pc, name, pc->pht->entry[pe].key);
      if (n < 0) return failOut();
      (*pc->nonTerm)[i].value = n;
      if (phtNew) pc->pht->entry[pe].value = n;
    } else if (kind == NT_RULE) {
      (*pc->nonTerm)[i].value = -1;
    } else if (kind == NT_NET) {
      std::string braced = "{" + name + "}";
      bool brNew;
      GDH_HashEntry *br = Create(pc->plht, braced, &brNew);
      if (!br) {
        pc->pres += "GDH_CreateHashEntry(plht) failure for " + braced + ": " + T(__LINE__);
        return failOut();
      }
      if (!brNew) {
        (*pc->nonTerm)[i].value = (int)br->value;
      } else {
        bool phtNew;
        int pe = PhtCreate(pc, name, &phtNew);
        if (pe < 0) {
          pc->pres += "GDPC_CreateHashEntry(pht) failure for " + name + ": " + T(__LINE__);
          return failOut();
        }
        int n = AppendNet(pc, name, pc->pht->entry[pe].key);
        if (n < 0) return failOut();
        if (phtNew) pc->pht->entry[pe].value = n;
        br->value = n;
        (*pc->nonTerm)[i].value = n;
      }
      netNewHere = !known;
    }
  } else {
    i = (int)ne->value;
  }
  if (netNewHere && MakeNetAvailable(pc, name, nextNet)) return failOut();
  NT_Array *nt = &(*pc->nonTerm)[i];
  if (nt->arcs.count >= nt->arcs.capacity && GDPC_AllocNTs(pc, nt)) return failOut();

  // Beginnings and endings of alternatives, for the sharing of states.
  if (kind != NT_NETSTART && GDPC_MakeRedundancyKeys(pc, rule, alt, term)) return failOut();

  // One arc per kind, name and state pair.
  std::string arcKey = "HtNt " + Str(kind) + " " + Str(i) + " " + Str(from) + " " + Str(to);
  GDH_HashEntry *ak = Create(pc->plht, arcKey, &isNew);
  if (!ak) {
    pc->pres += "GDH_CreateHashEntry failure for " + arcKey + ": " + T(__LINE__);
    return failOut();
  }
  if (!isNew) return 0;
  nt = &(*pc->nonTerm)[i];
  int ai = nt->arcs.count++;
  {
    NTArc &a = nt->arcs[ai];
    a = NTArc();
    a.start = from;
    a.end = to;
    a.rhbi = rule;
    a.rhsi = alt;
    a.rti = term;
    a.cornerStatus = (uint8_t)corner;
    a.patternCornerStatus = (uint8_t)patternCorner;
  }

  int L0 = -1, Lend = -1, count = 0;
  if (GDPC_MakeLevelChain(pc, rewrite, rule, alt, term, &L0, &Lend, &count)) return failOut();

  std::string next;
  if (rule != -1 && term + 1 < rewrite->rhb[rule].rhs[alt].term.count) {
    const RhsTerm &nt2 = TermAt(rewrite, rule, alt, term + 1);
    if (nt2.kind == TK_NET) next = nt2.name;
  } else if (nextNet && strcmp(nextNet, "_") != 0) {
    next = nextNet;
  }
  NTArc &a = (*pc->nonTerm)[i].arcs[ai];
  a.ownLevel = L0;
  a.outerLevel = Lend;
  a.chainLength = count;
  a.text = next;
  return 0;
}

// ---------------------------------------------------------------------------
// Rewrite patterns

namespace {

// "%d.%d.%d.%d" of a term's kind, marks and the plht value of its name;
// false for a term without a name or with a name plht does not know.
bool Signature(ParserControl *pc, const RhsTerm &t, std::string *sig) {
  if (t.name.empty()) return false;
  GDH_HashEntry *e = Find(pc->plht, t.name);
  if (!e) return false;
  *sig = Str(t.kind) + "." + Str(t.plus) + "." + Str(t.star) + "." + Str((int)e->value);
  return true;
}

bool HasKey(ParserControl *pc, const std::string &key) { return Find(pc->plht, key) != nullptr; }

std::string Mark(const char *tag, int r, int m, int j) {
  return std::string(tag) + Str(r) + "." + Str(m) + "." + Str(j);
}

// The expansion of one rule: its state while one reference is expanded.
struct Expansion {
  ParserControl *pc;
  Rewrite *rw;
  int r;
  std::string ruleName;
  int ntIndex;
  int ntKind;
  std::vector<int32_t> offsets;  // per alternative: the state offsets of its copies

  // Of the reference being expanded.
  int i = 0;
  NTArc arc;
  int refR = -1, refA = -1, refT = -1;
  bool firstExp = false, reuse = false, selfLoop = false, offsetWanted = true;
  int offset = 0;
  std::string outerNext;  // the record's next net on entry

  // Of the alternative being expanded.
  int m = 0;
  int initWindow = 0, finalBound = 0;
  enum { RUN_NONE, RUN_PREFIX, RUN_SUFFIX } run = RUN_NONE;
  int runAlt = -1;       // the alternative shared with
  int runLength = 0;     // prefix run: shared length
  int runStart = 0;      // prefix run: p's term aligned with m's term 0
  bool selfDone = false;  // the SELF term of this alternative was moved

  RhsTerm *Ref() { return refR >= 0 ? &TermAt(rw, refR, refA, refT) : nullptr; }
  Rhs &Alt(int a) { return rw->rhb[r].rhs[a]; }
  RhsTerm &Term(int j) { return Alt(m).term[j]; }
  int N() { return Alt(m).term.count; }

  int Fail(const std::string &text) {
    pc->pres += text;
    return 1;
  }

  int NewState() { return ++pc->state; }

  void Window(bool copy) {
    Rhs &alt = Alt(m);
    int n = alt.term.count;
    if (arc.cornerStatus & CORNER_INITIAL) {
      int k = 0;
      while (k < n && (alt.term[k].star || (copy && k == 0 && alt.term[k].name.empty()))) k++;
      initWindow = 1 + k;
    } else {
      initWindow = 0;
    }
    if (arc.cornerStatus & CORNER_FINAL) {
      int last = -1;
      for (int k = 0; k < n; k++)
        if (!alt.term[k].star) last = k;
      finalBound = last - 1;
    } else {
      finalBound = n;
    }
  }

  int PatternCorner(int j) {
    Rhs &alt = Alt(m);
    int n = alt.term.count;
    int firstMand = n - 1;
    for (int k = 0; k <= n - 2; k++)
      if (!alt.term[k].name.empty() && !alt.term[k].star) {
        firstMand = k;
        break;
      }
    int lastMand = -1;
    for (int k = 0; k < n; k++)
      if (!alt.term[k].star) lastMand = k;
    return (j <= firstMand ? CORNER_INITIAL : 0) | (j >= lastMand ? CORNER_FINAL : 0);
  }

  // The arc builders. A null arc is a terminal arc of a term whose name is
  // cleared for the call.
  int TerminalArc(int j, int pcs, int cs, const std::string &nn, int noRedundancy, int base) {
    if (GDPC_AddTerminalArc(pc, r, m, j, rw, MODE_RULES, pcs, cs, nn.c_str(), 0, 0, refR, refA, refT,
                            noRedundancy, base)) {
      return Fail("GDPC_AddTerminalArc failure for " + rw->netName + ": " + T(__LINE__));
    }
    return 0;
  }
  int NullArc(int j, const std::string &nn, int base) {
    std::string saved;
    saved.swap(Term(j).name);
    int rc = GDPC_AddTerminalArc(pc, r, m, j, rw, MODE_RULES, 0, 0, nn.c_str(), 0, 0, refR, refA, refT,
                                 0, base);
    Term(j).name.swap(saved);
    if (rc) return Fail("GDPC_AddTerminalArc failure for " + rw->netName + ": " + T(__LINE__));
    return 0;
  }
  int NTArcOf(int j, int pcs, int cs, const std::string &nn, const std::string &who) {
    if (GDPC_AddNTArc(pc, r, m, j, rw, nn.c_str(), pcs, cs, 0))
      return Fail("GDPC_AddNTArc failure for " + who + ": " + T(__LINE__));
    return 0;
  }

  int Expand();
  int ExpandAlternative();
  int SuffixSearch(int j, bool *shared, int *sufCount, bool *sufAll);
  int PrefixSearch(int sufCount, bool sufAll, bool *shared);
  int SelfInsert();
  int Arcs(int j, const std::string &nn, int base);
};

// The suffix search of a first expansion at term j (not the last): an
// earlier alternative that ends with the same terms takes this one in.
int Expansion::SuffixSearch(int j, bool *shared, int *sufCount, bool *sufAll) {
  *shared = false;
  int n = N();
  std::string key = "S" + Str(r) + "_";
  int held = 0;
  for (int k = j + 1; k < n; k++) {
    std::string sig;
    if (!Signature(pc, Term(k), &sig)) break;
    key += (held ? "_" : "") + sig;
    held++;
  }
  *sufCount = held;
  *sufAll = held == n - 1 - j;
  if (!*sufAll || held == 0) return 0;
  GDH_HashEntry *se = Find(pc->plht, key);
  if (!se) return 0;
  int e = (int)se->value;
  if (e == m || e < 0 || e >= rw->rhb[r].rhs.count) return 0;
  for (int k = n - 1; k >= 0; k--)
    if (HasKey(pc, Mark("PPM", r, e, k))) {
      if (j == 0) se->value = m;
      return 0;
    }
  int s = n - 1 - j;
  int eN = Alt(e).term.count;
  int entry = eN - s;
  if (entry < 1) return 0;
  for (const std::string &mk : {Mark("PSM", r, e, entry), Mark("PSM", r, m, j)})
    if (!Create(pc->plht, mk, nullptr))
      return Fail("GDH_CreateHashEntry failure in GDPC_RewritePattern for " + mk + ": " + T(__LINE__));
  Term(j).to = Term(j).rightState = Alt(e).term[entry].from;
  run = RUN_SUFFIX;
  runAlt = e;
  *shared = true;
  return 0;
}

// The prefix search at the first term: an earlier alternative that begins
// with the same terms lends its states.
int Expansion::PrefixSearch(int sufCount, bool sufAll, bool *shared) {
  *shared = false;
  int n = N();
  std::vector<std::string> sigs;
  int limit = sufAll ? n : n - sufCount;
  for (int k = 0; k < n && (int)sigs.size() < limit; k++) {
    std::string sig;
    if (!Signature(pc, Term(k), &sig)) break;
    sigs.push_back(sig);
  }
  for (int L = (int)sigs.size(); L >= 1; L--) {
    std::string key = "P" + Str(r);
    for (int k = 0; k < L; k++) key += "_" + sigs[k];
    GDH_HashEntry *pe = Find(pc->plht, key);
    if (!pe) continue;
    int p = (int)pe->value;
    if (p == m || p < 0 || p >= rw->rhb[r].rhs.count) return 0;
    Rhs &pa = Alt(p);
    int length = L, start = 0;
    if (pa.term.count > 0 && pa.term[0].name.empty()) {
      length = L + 1;
      start = 1;
    }
    // p alone is its start term (behind the nameless term of a loop).
    bool refuse = pa.term.count - start == 1;
    for (int k = 1; !refuse && k < length; k++)
      if (HasKey(pc, Mark("PSM", r, p, k))) refuse = true;
    if (refuse) {
      pe->value = m;
      return 0;
    }
    // The state after p's last term is the end of the reference: this
    // alternative cannot go on from there, so it shares one term less.
    int mCount = n + (Term(0).plus ? 1 : 0);
    if (length >= pa.term.count && mCount > pa.term.count) length = pa.term.count - 1;
    for (const std::string &mk : {Mark("PPM", r, m, 0), Mark("PPM", r, p, 0)})
      if (!Create(pc->plht, mk, nullptr))
        return Fail("GDH_CreateHashEntry failure in GDPC_RewritePattern for " + mk + ": " +
                    T(__LINE__));
    runAlt = p;
    runLength = length;
    runStart = start;
    if (!(length == 1 && start == 0)) run = RUN_PREFIX;
    if (length > pa.term.count) runLength = pa.term.count;
    *shared = true;
    return 0;
  }
  return 0;
}

// A first term with '+' loops: it moves one place right behind a new
// nameless term, so that the loop stands on a state of its own.
int Expansion::SelfInsert() {
  Rhs &alt = Alt(m);
  if (alt.term.count >= alt.term.capacity && GDPC_AllocRhsTerms(pc, &alt))
    return 1;
  int n = ++alt.term.count;
  for (int k = n - 1; k >= 1; k--) {
    RhsTerm &d = alt.term[k];
    const RhsTerm &s = alt.term[k - 1];
    d.plus = s.plus;
    d.star = s.star;
    d.kind = s.kind;
    d.cornerStatus = s.cornerStatus;
    d.patternCornerStatus = s.patternCornerStatus;
    d.name = s.name;
    if (k >= 2) d.from = d.to = d.rightState = 0;
  }
  RhsTerm &z = alt.term[0];
  z.name.clear();
  z.kind = TK_NONE;
  z.plus = z.star = 0;
  z.rhbi = refR;
  z.rhsi = refA;
  z.rti = refT;
  if (run == RUN_PREFIX && runAlt >= 0 && Alt(runAlt).term.count > 1 &&
      Alt(runAlt).term[0].name.empty())
    z.to = Alt(runAlt).term[0].to;
  else if (run == RUN_SUFFIX && runAlt >= 0) {
    if (Alt(runAlt).term.count != n)
      return Fail("Error: An initial SELF term(" + alt.term[1].name +
                  ") with a previous suffix has been found,\n"
                  "but the rhsi and suffixRhsi term counts differ: net(" +
                  rw->netName + ") " + T(__LINE__));
    z.to = Alt(runAlt).term[0].to;
  } else {
    z.to = NewState();
  }
  z.rightState = z.to;
  RhsTerm &t1 = alt.term[1];
  t1.patternCornerStatus |= CORNER_INITIAL;
  t1.from = z.to;
  if (n == 2)
    t1.to = arc.end;
  else if (run == RUN_PREFIX && runAlt >= 0 && Alt(runAlt).term.count > 1 &&
           Alt(runAlt).term[0].name.empty())
    t1.to = Alt(runAlt).term[1].to;
  else if (run == RUN_SUFFIX && runAlt >= 0)
    t1.to = Alt(runAlt).term[1].to;
  else
    t1.to = NewState();
  t1.rightState = t1.to;
  initWindow++;
  finalBound++;
  if (run == RUN_PREFIX) {
    // The run now counts the nameless term too.
    runStart = 0;
  }
  std::string nn = "_";
  if (NullArc(0, nn, offsets[m])) return 1;
  selfDone = true;
  return 0;
}

// The arcs of term j, by its kind and marks.
int Expansion::Arcs(int j, const std::string &nn, int base) {
  int n = N();
  bool last = j == n - 1;
  bool allowed = !(reuse || selfLoop) || last;
  RhsTerm &t = Term(j);
  int kind = t.kind, plus = t.plus, star = t.star;
  int pcs = t.patternCornerStatus, cs = t.cornerStatus;
  int from = t.from;
  std::string name = t.name;
  if (kind == TK_RULE || kind == TK_NET) {
    if (allowed) {
      if (NTArcOf(j, pcs, cs, nn, star ? name : rw->netName)) return 1;
      if (plus) {
        int saved = Term(j).to;
        Term(j).to = from;
        int rc = NTArcOf(j, pcs, cs, nn, rw->netName);
        Term(j).to = saved;
        if (rc) return 1;
      }
      if (star && !last && NullArc(j, nn, base)) return 1;
    }
  } else if (kind == TK_TERMINAL) {
    if (allowed) {
      if (TerminalArc(j, pcs, cs, nn, 0, base)) return 1;
      if (plus) {
        int saved = Term(j).to;
        Term(j).to = from;
        int rc = TerminalArc(j, pcs, cs, nn, 0, base);
        Term(j).to = saved;
        if (rc) return 1;
      }
      if (star && !last && NullArc(j, nn, base)) return 1;
      pc->NetTable->flags[0] = 0;
    }
  } else {
    return Fail(name + " was not recognized in GDPC_RewritePattern: " + T(__LINE__));
  }
  // Everything after a final term is optional: it may also end the
  // reference at once.
  if (!last && (pcs & CORNER_FINAL)) {
    int saved = Term(j).to;
    Term(j).to = arc.end;
    int rc;
    if (kind == TK_TERMINAL)
      rc = TerminalArc(j, pcs, cs, nn, 1, base);
    else
      rc = NTArcOf(j, pcs, cs, nn, rw->netName);
    Term(j).to = saved;
    if (rc) return 1;
  }
  return 0;
}

int Expansion::ExpandAlternative() {
  run = RUN_NONE;
  runAlt = -1;
  selfDone = false;
  bool copy = !firstExp;
  Window(copy);
  {
    Rhs &alt = Alt(m);
    if (alt.term.count == 0) return 0;
    alt.term[0].from = arc.start;
  }
  if (RhsTerm *ref = Ref()) {
    ref->from = arc.start;
    if (selfLoop) ref->to = ref->from;
  }
  int base = offsets[m];
  bool baseTaken = false;
  for (int j = 0; j < N(); j++) {
    int n = N();
    bool last = j == n - 1;
    bool resume = selfDone && j == 1;  // the moved SELF term: states are set
    if (!resume) {
      // Two equal single-term alternatives give one set of arcs.
      if (n == 1 || (n == 2 && j == 1 && Term(0).name.empty())) {
        std::string key = "STP " + Str(r) + " " + Str(i) + " " + Term(j).name + " " +
                          Str(Term(j).star) + " " + Str(Term(j).plus);
        bool isNew;
        if (!Create(pc->plht, key, &isNew))
          return Fail("GDH_CreateHashEntry failure in GDPC_RewritePattern for " + key + ": " +
                      T(__LINE__));
        if (!isNew) continue;
      }
      Term(j).patternCornerStatus = (uint8_t)PatternCorner(j);
      if ((reuse || selfLoop) && !(Term(j).patternCornerStatus & CORNER_FINAL)) continue;
      if (Term(j).name.empty()) {
        if (j == 0) {
          if (!copy && n > 1) Term(1).from = Term(0).from;
          continue;
        }
        return Fail("Error: improper NULL string found in pRewrite  in GDPC_RewritePattern: " +
                    T(__LINE__));
      }
      // States.
      if (!copy) {
        if (Term(j).name == ruleName)
          return Fail("Error: A net has been found which includes itself. This program requires "
                      "that recursion be dealt with by each recursive level of the same net "
                      "having a unique name: " +
                      T(__LINE__));
        if (last && run == RUN_NONE) {
          if (j > 0) {
            Term(j).to = arc.end;
            if (RhsTerm *ref = Ref()) ref->to = arc.end;
          }
        } else if (last) {
          Term(j).to = arc.end;
        } else if (run == RUN_SUFFIX) {
          int eN = Alt(runAlt).term.count;
          Term(j).to = Alt(runAlt).term[j + eN - n].to;
        } else if (run == RUN_PREFIX) {
          int pj = runStart + j;
          if (pj < Alt(runAlt).term.count && j < runLength) {
            Term(j).to = Alt(runAlt).term[pj].to;
            if (j + 1 >= runLength) run = RUN_NONE;
          } else {
            run = RUN_NONE;
            Term(j).to = NewState();
          }
        } else {
          bool shared = false;
          int sufCount = 0;
          bool sufAll = false;
          if (rw->rhb[r].flag) {
            if (SuffixSearch(j, &shared, &sufCount, &sufAll)) return 1;
            if (!shared && j == 0) {
              if (PrefixSearch(sufCount, sufAll, &shared)) return 1;
              if (shared && !Term(0).plus) {
                Term(0).to = Alt(runAlt).term[runStart].to;
                if (run == RUN_PREFIX && runLength <= 1 + runStart) run = RUN_NONE;
              }
            }
          }
          if (!shared && !(j == 0 && Term(0).plus)) Term(j).to = NewState();
        }
        if (!(j == 0 && Term(0).plus)) Term(j).rightState = Term(j).to;
        if (j == 0) {
          if (Term(0).plus) {
            if (SelfInsert()) return 1;
            // The moved term's arcs follow below; the loop goes on after it.
            n = N();
            j = 1;
            last = j == n - 1;
          } else if (n == 1) {
            Term(0).to = arc.end;
            Term(0).rightState = arc.end;
            if (RhsTerm *ref = Ref()) ref->to = arc.end;
          }
        }
      } else {
        // A copy of the first expansion, its states shifted.
        if (j == 0 && Term(0).plus)
          return Fail("Error: Initial SELF term is not preceded by a NULL term in "
                      "GDPC_RewritePattern: " +
                      T(__LINE__));
        if (offsetWanted && n >= 2) {
          int diff = pc->state - Alt(m).term[0].to;
          if (diff == 0) {
            offset = 1;
            pc->state += 1;
          } else {
            offset = diff + 1;
            pc->state += diff;
          }
          offsetWanted = false;
        }
        if (j > 0) Term(j).from += offset;
        if (last) {
          Term(j).to = arc.end;
          if (RhsTerm *ref = Ref()) ref->to = arc.end;
        } else {
          Term(j).to += offset;
          Term(j).rightState = Term(j).to;
        }
        pc->state = std::max(pc->state, std::max(Term(j).from, Term(j).to));
        if (j == 1 && Term(0).name.empty() && Term(1).plus) {
          Term(0).to = Term(0).rightState = Term(1).from;
          if (!baseTaken) {
            offsets[m] += offset;
            base = offsets[m];
            baseTaken = true;
          }
          if (NullArc(0, "_", base)) return 1;
        }
      }
    }
    RhsTerm &t = Term(j);
    // Position in the whole net.
    t.cornerStatus = (uint8_t)((j > finalBound ? CORNER_FINAL : 0) | (j < initWindow ? CORNER_INITIAL : 0));
    // The net that follows the arc.
    std::string nn = "_";
    if (j + 1 < n && Term(j + 1).kind == TK_NET) nn = Term(j + 1).name;
    bool testHere = copy ? last : (j == 0 || (selfDone && j == 1));
    if (testHere && t.to != 1 && refR > 0) {
      Rhs &ra = rw->rhb[refR].rhs[refA];
      if (refT + 1 < ra.term.count && ra.term[refT + 1].kind == TK_NET) nn = ra.term[refT + 1].name;
    }
    // A reference that ends the net is followed by the net that follows it.
    if (t.to == 1 && !outerNext.empty() && (t.kind == TK_RULE || t.kind == TK_NET)) nn = outerNext;
    t.rhbi = refR;
    t.rhsi = refA;
    t.rti = refT;
    t.rightState = t.to;
    if (reuse) {
      if (RhsTerm *ref = Ref()) ref->to = arc.end;
    }
    if (!baseTaken && (j == 0 || (j == 1 && Term(0).name.empty()))) {
      offsets[m] += offset;
      base = offsets[m];
      baseTaken = true;
    }
    if (Arcs(j, nn, base)) return 1;
    if (!copy && j + 1 < N()) Term(j + 1).from = Term(j).to;
  }
  return 0;
}

int Expansion::Expand() {
  NT_Array &nt0 = (*pc->nonTerm)[ntIndex];
  int nArcs = nt0.arcs.count;
  offsets.assign(rw->rhb[r].rhs.count, 0);
  for (i = 0; i < nArcs; i++) {
    arc = (*pc->nonTerm)[ntIndex].arcs[i];
    if (ntKind == NT_NETSTART) {
      refR = refA = refT = -1;
    } else {
      refR = arc.rhbi;
      refA = arc.rhsi;
      refT = arc.rti;
    }
    CNonTerm &cn = *pc->cNonTerm;
    cn.rhbi = refR;
    cn.rhsi = refA;
    cn.rti = refT;
    if (i > 0) cn.refCount++;
    cn.start = arc.start;
    cn.end = arc.end;
    cn.link = (ntKind == NT_NETSTART || !Ref()) ? 1 : Ref()->rightState;

    // Put the referencing terms back as they stood for this reference.
    for (int li = arc.ownLevel; li >= 0 && li < pc->phli->count;) {
      const HierarchyLevelIndex &hx = (*pc->phli)[li];
      const HierarchyLevel &lv = (*pc->phl)[hx.level];
      if (lv.rhbi != -1) {
        RhsTerm &t = TermAt(rw, lv.rhbi, lv.rhsi, lv.rti);
        t.from = lv.from;
        t.to = lv.to;
        t.cornerStatus = (uint8_t)lv.cornerStatus;
        t.patternCornerStatus = (uint8_t)lv.patternCornerStatus;
        if (hx.next >= 0) {
          const HierarchyLevel &up = (*pc->phl)[(*pc->phli)[hx.next].level];
          t.rhbi = up.rhbi;
          t.rhsi = up.rhsi;
          t.rti = up.rti;
        } else {
          t.rhbi = t.rhsi = t.rti = -1;
        }
      }
      li = hx.next;
    }

    firstExp = reuse = selfLoop = false;
    offsetWanted = true;
    offset = 0;
    if (ntKind == NT_RULE) {
      std::string key = "FC " + Str(refR) + " " + Str(refA) + " " + Str(refT);
      bool isNew;
      if (!Create(pc->plht, key, &isNew))
        return Fail("GDH_CreateHashEntry failure for " + key + " in GDPC_RewritePattern: " +
                    T(__LINE__));
      const NTArc *prev = i > 0 ? &(*pc->nonTerm)[ntIndex].arcs[i - 1] : nullptr;
      bool sameStart = prev && prev->start == arc.start;
      if (isNew) {
        rw->rhb[r].refCount++;
        if (i == 0)
          firstExp = true;
        else if (sameStart)
          offsetWanted = false;
      } else if (Ref() && Ref()->plus && arc.start == arc.end) {
        selfLoop = true;
        // The loop re-enters the states of the expansion it repeats.
        if (sameStart) offsetWanted = false;
      } else if (sameStart) {
        offsetWanted = false;
        if (rw->rhb[refR].rhs[refA].term.count > 1) reuse = true;
      }
    } else {
      firstExp = true;
    }
    for (m = 0; m < rw->rhb[r].rhs.count; m++) {
      if (ExpandAlternative()) return 1;
      (*pc->nonTerm)[ntIndex].arcs[i].rwCount++;
    }
  }
  return 0;
}

}  // namespace

int GDPC_RewritePattern(ParserControl *pc, int r, int a, Rewrite *rewrite) {
  (void)a;
  const std::string ruleName = rewrite->lhs[r];
  GDH_HashEntry *e = Find(pc->plht, ruleName);
  if (!e || e->value < 0 || e->value >= pc->nonTerm->count) {
    pc->pres += "GDH_FindHashEntry failure for " + ruleName + ": " + T(__LINE__);
    return 1;
  }
  Expansion x;
  x.pc = pc;
  x.rw = rewrite;
  x.r = r;
  x.ruleName = ruleName;
  x.ntIndex = (int)e->value;
  x.ntKind = (*pc->nonTerm)[x.ntIndex].kind;
  x.outerNext = pc->pszNextNet;
  if (!pc->cNonTerm) pc->cNonTerm = new CNonTerm();
  pc->cNonTerm->kind = x.ntKind;
  pc->cNonTerm->name = ruleName;
  pc->cNonTerm->refCount = 0;
  GDPC_Dot(pc);
  int rc = x.Expand();
  pc->pszNextNet = x.outerNext;
  return rc;
}

// ---------------------------------------------------------------------------
// Non-terminal processing

namespace {

// Unpacks the five context tables of a net read from a compiled file.
int UnpackContexts(ParserControl *pc, ParserControl *net, bool exactCapacity) {
  ContextObjectStructure *cos = net->ContextObjectStructure;
  if (!cos) return 0;
  TempResult tr;
  struct Item {
    PackedObject *po;
    CntrObj **obj;
  } items[5] = {{&cos->nntpo, &cos->nextNetObject},
                {&cos->hltpo, &cos->hierarchyLevelObject},
                {&cos->hlitpo, &cos->hlIndexObject},
                {&cos->cttpo, &cos->contextTermObject},
                {&cos->cetpo, &cos->contextObject}};
  for (Item &it : items) {
    int pos = 0;
    CntrObj *o = it.po->buffer && it.po->length > 0
                     ? Cntr_ObjUnpack(tr.r, nullptr, it.po->buffer, &pos, it.po->length)
                     : nullptr;
    if (!o) {
      tr.MoveTo(pc->pres);
      pc->pres += "Cntr_ObjUnpack failure in GDPC_ProcessNonTerms: " + TLineFirst(__LINE__);
      return 1;
    }
    *it.obj = o;
  }
  net->pnn = static_cast<Grow<char> *>(cos->nextNetObject->data);
  net->phl = static_cast<Grow<HierarchyLevel> *>(cos->hierarchyLevelObject->data);
  net->phli = static_cast<Grow<HierarchyLevelIndex> *>(cos->hlIndexObject->data);
  net->pct = static_cast<Grow<ContextTerm> *>(cos->contextTermObject->data);
  net->pcontext = static_cast<Grow<ContextEntry> *>(cos->contextObject->data);
  if (exactCapacity) {
    net->pnn->capacity = net->pnn->count;
    net->phl->capacity = net->phl->count;
    net->phli->capacity = net->phli->count;
    net->pct->capacity = net->pct->count;
    net->pcontext->capacity = net->pcontext->count;
  }
  cos->unpacked = 1;
  return 0;
}

// Drops the context tables unpacked for a net when the pass fails.
void ReleaseUnpacked(ParserControl *net) {
  ContextObjectStructure *cos = net->ContextObjectStructure;
  if (!cos) return;
  CntrObj **objs[5] = {&cos->contextObject, &cos->contextTermObject, &cos->hlIndexObject,
                       &cos->hierarchyLevelObject, &cos->nextNetObject};
  TempResult tr;
  for (CntrObj **o : objs) {
    if (!*o) continue;
    if (Cntr_ObjDestroy(tr.r, *o)) {
      tr.MoveTo(net->pres);
      fprintf(stderr, "Cntr_ObjDestroy failure in GDPC_ProcessNonTerms: %s", net->pres.c_str());
    }
    *o = nullptr;
  }
  net->pcontext = nullptr;
  net->pct = nullptr;
  net->phli = nullptr;
  net->phl = nullptr;
  net->pnn = nullptr;
  cos->unpacked = 0;
}

struct Import {
  ParserControl *pc;
  ParserControl *ref;  // the referenced net's record
  int n;               // its NetTable index here

  int Fail(const std::string &t) {
    pc->pres += t;
    return 1;
  }

  // This record's NetTable index of a net of the referenced record.
  int NetIndex(const std::string &netName, int *idx) {
    bool isNew;
    GDH_HashEntry *e = Create(pc->plht, netName, &isNew);
    if (!e)
      return Fail("GDH_CreateHashEntry(plht) failure for " + netName + " in GDPC_ProcessNonTerms: " +
                  T(__LINE__));
    if (isNew) {
      std::string braced = "{" + netName + "}";
      GDH_HashEntry *b = Create(pc->plht, braced, nullptr);
      if (!b)
        return Fail("GDH_CreateHashEntry failure for szTempNetName in GDPC_ProcessNonTerms: " +
                    T(__LINE__));
      bool phtNew;
      int pe = PhtCreate(pc, netName, &phtNew);
      if (pe < 0)
        return Fail("GDPC_CreateHashEntry(pht) failure for " + netName + " in GDPC_ProcessNonTerms: " +
                    T(__LINE__));
      int k = AppendNet(pc, netName, pc->pht->entry[pe].key);
      if (k < 0) return 1;
      e->value = k;
      b->value = k;
      if (phtNew) pc->pht->entry[pe].value = k;
      GDH_HashEntry *te = Find(pc->pnht, netName);
      if (!te)
        return Fail("GDH_FindHashEntry(pnht) failure for " + netName +
                    " in ppc->pnhtin GDPC_ProcessNonTerms: " + T(__LINE__));
      ParserControl *top = pc->ptlpc ? pc->ptlpc : pc;
      int g = (int)te->value;
      if (g < 0 || g >= top->InternalNet->capacity || !top->InternalNet->entries[g].object ||
          !top->InternalNet->entries[g].packed)
        return Fail("Error (in GDPC_ProcessNonTerms): net found in ppc->plht with no object or "
                    "PackedObject: " +
                    TLineFirst(__LINE__));
      NetSource src = SourceOf(top, g, nullptr);
      InternalNetEntry &d = pc->InternalNet->entries[k];
      d.object = src.entry.object;
      d.packed = src.entry.packed;
      d.linked = src.entry.linked;
      d.timeStamp = src.entry.timeStamp;
      d.hasPacked = src.entry.hasPacked;
      if (k < (int)pc->InternalNet->cntrfile.size()) pc->InternalNet->cntrfile[k] = src.cntrfile;
      if (k < (int)pc->InternalNet->fWrite.size()) pc->InternalNet->fWrite[k] = (uint8_t)src.fWrite;
      if (k < (int)pc->InternalNet->rewrites.size())
        pc->InternalNet->rewrites[k] = static_cast<ParserControl *>(d.object->data)->Rewrite;
      pc->NetTable->flags[k] = src.flag;
      pc->InternalNet->count = pc->NetTable->count;
      *idx = k;
      return 0;
    }
    GDH_HashEntry *b = Find(pc->plht, "{" + netName + "}");
    if (!b)
      return Fail("GDH_FindHashEntry failed for {" + netName + "} in GDPC_ProcessNonTerms: " +
                  T(__LINE__));
    *idx = (int)b->value;
    return 0;
  }

  Rewrite *RewriteOf(int idx) {
    if (idx == 0) return pc->Rewrite;
    return idx < (int)pc->InternalNet->rewrites.size() ? pc->InternalNet->rewrites[idx] : nullptr;
  }

  int AppendLevelIndex(int level, int previous) {
    if (pc->phli->count >= pc->phli->capacity && GDPC_AllocHierarchyLevelIndices(pc)) return -1;
    int x = pc->phli->count++;
    (*pc->phli)[x] = HierarchyLevelIndex{level, -1, previous};
    if (previous >= 0) (*pc->phli)[previous].next = x;
    return x;
  }

  int Run(int ntIndex);
  int One(int ntIndex, int j, const ContextEntry &k, bool firstForArc, int *levels);
};

int Import::One(int ntIndex, int j, const ContextEntry &k, bool firstForArc, int *levelsOut) {
  WorkRecord &p = *pc->p;
  NTArc arc = (*pc->nonTerm)[ntIndex].arcs[j];
  // The context terms.
  while (pc->pct->capacity <= pc->pct->count + ref->pct->count)
    if (GDPC_AllocContextTerms(pc)) return 1;
  int firstTerm = -1, lastTerm = -1;
  for (int ct = k.firstTerm; ct >= 0 && ct < ref->pct->count; ct = (*ref->pct)[ct].next) {
    const ContextTerm &src = (*ref->pct)[ct];
    int x = pc->pct->count++;
    ContextTerm &d = (*pc->pct)[x];
    d = ContextTerm();
    if (src.terminal >= 0 && src.terminal < ref->TerminalTable->count)
      d.text = ref->TerminalTable->strings[src.terminal];
    else
      d.text = src.text;
    d.terminal = -1;
    d.rhsi = src.rhsi;
    d.next = -1;
    if (lastTerm >= 0) (*pc->pct)[lastTerm].next = x;
    if (firstTerm < 0) firstTerm = x;
    lastTerm = x;
    if (ct == k.lastTerm) break;
  }
  p.firstTerm = firstTerm;
  p.lastTerm = lastTerm;
  p.contextTermCount = k.contextTermCount;

  // The levels of the entry, up to (not including) the referenced net's
  // own top level, whose place the referencing arc's levels take.
  while (pc->phli->capacity <= pc->phli->count + k.hCount - 1)
    if (GDPC_AllocHierarchyLevelIndices(pc)) return 1;
  int slot = 0, first = -1, prev = -1, count = 0;
  for (int li = k.firstLevel; li >= 0 && li != k.endLevel && li < ref->phli->count;
       li = (*ref->phli)[li].next) {
    const HierarchyLevel &lv = (*ref->phl)[(*ref->phli)[li].level];
    if (lv.net < 0 || lv.net >= ref->NetTable->count)
      return Fail("Error: a hierarchy level names no net in GDPC_ProcessNonTerms: " + T(__LINE__));
    int idx;
    if (NetIndex(ref->NetTable->strings[lv.net], &idx)) return 1;
    if (slot >= MAX_HIERARCHY_SLOTS)
      return Fail("Error: nets and rules are nested deeper than " + Str(MAX_HIERARCHY_SLOTS) +
                  " levels in GDPC_ProcessNonTerms: " + T(__LINE__));
    p.rewrite[slot++] = RewriteOf(idx);
    std::string key = Str(idx) + "." + Str(lv.rhbi) + "." + Str(lv.rhsi) + "." + Str(lv.rti) + "." +
                      Str(lv.from) + "." + Str(lv.to) + "." + Str(lv.cornerStatus) + "." +
                      Str(lv.patternCornerStatus) + ".";
    bool isNew;
    GDH_HashEntry *e = Create(pc->plht, key, &isNew);
    if (!e)
      return Fail("GDH_CreateHashEntry(plht) failure for szHierarchyLevelCheck(" + key +
                  ") in GDPC_ProcessNonTerms: " + T(__LINE__));
    if (isNew) {
      if (pc->phl->count >= pc->phl->capacity && GDPC_AllocHierarchyLevels(pc)) return 1;
      int h = pc->phl->count++;
      (*pc->phl)[h] = lv;
      (*pc->phl)[h].net = idx;
      e->value = h;
    }
    int x = AppendLevelIndex((int)e->value, prev);
    if (x < 0) return 1;
    if (first < 0) first = x;
    prev = x;
    count++;
  }
  if (first < 0)
    return Fail("Error: a context entry without levels in GDPC_ProcessNonTerms: " + T(__LINE__));
  // The referencing arc's own chain of levels completes it.
  int end = prev;
  if (firstForArc) {
    (*pc->phli)[prev].next = arc.ownLevel;
    if (arc.ownLevel >= 0) (*pc->phli)[arc.ownLevel].previous = prev;
    int li = arc.ownLevel;
    while (li >= 0) {
      if (slot >= MAX_HIERARCHY_SLOTS)
        return Fail("Error: nets and rules are nested deeper than " + Str(MAX_HIERARCHY_SLOTS) +
                    " levels in GDPC_ProcessNonTerms: " + T(__LINE__));
      p.rewrite[slot++] = pc->Rewrite;
      end = li;
      count++;
      li = (*pc->phli)[li].next;
    }
  } else {
    while (pc->phli->capacity <= pc->phli->count + arc.chainLength)
      if (GDPC_AllocHierarchyLevelIndices(pc)) return 1;
    for (int li = arc.ownLevel; li >= 0; li = (*pc->phli)[li].next) {
      if (slot >= MAX_HIERARCHY_SLOTS)
        return Fail("Error: nets and rules are nested deeper than " + Str(MAX_HIERARCHY_SLOTS) +
                    " levels in GDPC_ProcessNonTerms: " + T(__LINE__));
      p.rewrite[slot++] = pc->Rewrite;
      int x = AppendLevelIndex((*pc->phli)[li].level, end);
      if (x < 0) return 1;
      end = x;
      count++;
    }
  }
  p.firstLevel = first;
  p.endLevel = end;
  p.hCount = count;
  *levelsOut = count;

  // The origin: the first level's state, behind the states where each
  // enclosing net was entered.
  const HierarchyLevel &l0 = (*pc->phl)[(*pc->phli)[first].level];
  std::string origin = Str(l0.net) + ":" + Str(l0.from);
  int curNet = l0.net;
  bool loopFlag = l0.from != l0.to && (l0.cornerStatus & CORNER_FINAL);
  int netsLeft = 0, loopDepth = 0;
  const HierarchyLevel *prevLv = &l0;
  for (int li = (*pc->phli)[first].next; li >= 0; li = (*pc->phli)[li].next) {
    const HierarchyLevel &lv = (*pc->phl)[(*pc->phli)[li].level];
    if (lv.net != curNet) {
      origin = Str(lv.net) + ":" + Str(lv.from) + "_" + origin;
      curNet = lv.net;
      netsLeft++;
    }
    if (loopFlag && (prevLv->cornerStatus & CORNER_FINAL) && lv.from == lv.to) {
      loopFlag = false;
      loopDepth = netsLeft;
    }
    prevLv = &lv;
    if (li == end) break;
  }
  std::string nn = "_";
  if (k.nextNet >= 0 && k.nextNet < ref->pnn->count) nn = &(*ref->pnn)[k.nextNet];
  if (!arc.text.empty() && arc.text != nn) nn = arc.text;

  std::string foKey = origin + " FO";
  bool isNew;
  int fe = PhtCreate(pc, foKey, &isNew);
  if (fe < 0)
    return Fail("GDPC_CreateHashEntry(pht) failure for " + foKey + ": " + T(__LINE__));
  int foi;
  if (isNew) {
    foi = GDPC_AppendOrigin(pc);
    if (foi < 0) return 1;
    pc->pht->entry[fe].value = foi;
    if (GDPC_AppendString(pc, pc->SymbolTable, foKey, pc->pht->entry[fe].key) < 0) return 1;
    int32_t sym;
    if (GDPC_MakeSymbol(pc, origin, &sym))
      return Fail("GDPC_CreateHashEntry failure for " + origin + ": " + T(__LINE__));
    (*pc->From)[foi].symbol = sym;
    (*pc->From)[foi].depth = (uint8_t)(k.depth + 1);
  } else {
    foi = pc->pht->entry[fe].value;
  }
  int oe = PhtFind(pc, origin);
  ParserControl *top = pc->ptlpc ? pc->ptlpc : pc;
  std::string pgn = "PGN " + Str(l0.net) + " " + Str(k.groupNumber);
  GDH_HashEntry *ge = Create(pc->plht, pgn, &isNew);
  if (!ge) return Fail("GDH_CreateHashEntry(plht) failure for " + pgn + ": " + T(__LINE__));
  if (isNew) ge->value = top->group++;
  int group = (int)ge->value;
  std::string fg = "FG " + Str(foi) + " " + Str(group);
  bool fgNew;
  if (!Create(pc->plht, fg, &fgNew))
    return Fail("GDH_CreateHashEntry(plht) failure for " + fg + ": " + T(__LINE__));

  p.text = firstTerm >= 0 ? (*pc->pct)[firstTerm].text : std::string();
  p.symbol = oe >= 0 ? pc->pht->entry[oe].key : 0;
  p.foi = foi;
  p.depth = k.depth + 1;
  p.groupNumber = group;
  p.fInitialGroupInstance = fgNew ? 1 : 0;
  Rewrite *rw0 = p.rewrite[0];
  if (!rw0) return Fail("Error: a level without its rewrite table in GDPC_ProcessNonTerms: " + T(__LINE__));
  rw0->netName = pc->NetTable->strings[0];
  int pr = -1, pa = -1, pt = -1;
  int second = (*pc->phli)[first].next;
  if (second >= 0) {
    const HierarchyLevel &l1 = (*pc->phl)[(*pc->phli)[second].level];
    pr = l1.rhbi;
    pa = l1.rhsi;
    pt = l1.rti;
  }
  if (GDPC_AddTerminalArc(pc, l0.rhbi, l0.rhsi, l0.rti, rw0, MODE_NONTERMS, arc.patternCornerStatus,
                          arc.cornerStatus, nn.c_str(), loopDepth, 1, pr, pa, pt, 0, 0))
    return Fail("GDPC_AddTerminalArc failed GDPC_ProcessNonTerms: " + T(__LINE__));
  return 0;
}

int Import::Run(int ntIndex) {
  int arcCount = (*pc->nonTerm)[ntIndex].arcs.count;
  int notedState = -1, notedArc = -1, notedH = -1;
  bool haveState = false;
  for (int j = 0; j < arcCount; j++) {
    const NTArc arc = (*pc->nonTerm)[ntIndex].arcs[j];
    if (!haveState || arc.start != notedState) {
      notedState = arc.start;
      notedArc = j;
      haveState = true;
    }
    bool firstForArc = true;
    for (int ki = 0; ki < ref->pcontext->count; ki++) {
      const ContextEntry k = (*ref->pcontext)[ki];
      if (notedH < 0) notedH = k.hCount;
      bool take = false, hChanged = false;
      if (j == 0 || j == notedArc) {
        take = true;
      } else if (k.hCount != notedH) {
        take = true;
        hChanged = true;
      } else {
        int L = k.firstLevel;
        if (k.hCount >= 3 && k.endLevel >= 0) L = (*ref->phli)[k.endLevel].previous;
        if (L >= 0 && L < ref->phli->count) {
          const HierarchyLevel &lv = (*ref->phl)[(*ref->phli)[L].level];
          bool finalMark = (lv.cornerStatus & CORNER_FINAL) || (lv.patternCornerStatus & CORNER_FINAL);
          if (finalMark && lv.from != lv.to && (!(lv.cornerStatus & CORNER_FINAL) || lv.to == 1))
            take = true;
        }
      }
      if (!take) continue;
      int levels = 0;
      if (One(ntIndex, j, k, firstForArc, &levels)) return 1;
      firstForArc = false;
      if (hChanged) notedH = levels;
    }
  }
  return 0;
}

}  // namespace

int GDPC_ProcessNonTerms(ParserControl *pc) {
  if (!pc->p) pc->p = new WorkRecord();
  int entries = pc->nonTerm->count;
  for (int i = 0; i < entries; i++) {
    GDPC_Dot(pc);
    NT_Array &nt = (*pc->nonTerm)[i];
    if (nt.kind == NT_NET) {
      int n = nt.value;
      GDH_HashEntry *ne = (n >= 0 && n < pc->NetTable->count) ? Find(pc->plht, pc->NetTable->strings[n])
                                                              : nullptr;
      if (ne) ne->value = n;
      InternalNetEntry *ie = (n >= 0 && n < pc->InternalNet->capacity) ? &pc->InternalNet->entries[n]
                                                                         : nullptr;
      if (!ie || !ie->object || !ie->object->data) {
        pc->pres += "Error (in GDPC_ProcessNonTerms): net found in ppc->plht with no object or "
                    "PackedObject: " +
                    TLineFirst(__LINE__);
        return 1;
      }
      ParserControl *ref = static_cast<ParserControl *>(ie->object->data);
      bool unpackedHere = false;
      if (!ref->pcontext) {
        if (!ref->ContextObjectStructure || !ref->ContextObjectStructure->contextAvailable) {
          if (!ref->ContextObjectStructure || !ref->ContextObjectStructure->cetpo.buffer) {
            pc->pres += "Context info is not available. Try starting your grammar "
                        "with the rebuild flag set to 1. This will force the .rtn "
                        "file to be read-in which does contain contextual info.\n";
            pc->pres += "Cntr_ObjUnpack failure in GDPC_ProcessNonTerms: " + TLineFirst(__LINE__);
            return 1;
          }
        }
        if (UnpackContexts(pc, ref, false)) {
          ReleaseUnpacked(ref);
          return 1;
        }
        unpackedHere = true;
      }
      GDH_HashEntry *n0 = Find(pc->plht, pc->NetTable->strings[0]);
      if (!n0 || n0->value != 0) {
        pc->pres += "Error: parentSi not equal to 0 in GDPC_ProcessNonTerms: " + T(__LINE__);
        if (unpackedHere) ReleaseUnpacked(ref);
        return 1;
      }
      Import im{pc, ref, n};
      if (im.Run(i)) {
        if (unpackedHere) ReleaseUnpacked(ref);
        return 1;
      }
    } else if (nt.kind == NT_RULE || nt.kind == NT_NETSTART) {
      for (int j = 0; j < nt.arcs.count; j++)
        if (nt.arcs[j].rwCount == 0) {
          pc->pres += "Error: an rwCount of 0 for arc " + Str(j) + " of " + nt.name +
                      " was found (is " + nt.name + " defined?) in GDPC_ProcessNonTerms: " +
                      T(__LINE__);
          return 1;
        }
      GDH_HashEntry *e = Find(pc->plht, nt.name);
      if (!e) {
        pc->pres += "GDH_FindHashEntry(plht) failed for " + nt.name + " in GDPC_ProcessNonTerms: " +
                    T(__LINE__);
        return 1;
      }
      if (nt.kind == NT_NETSTART) e->value = nt.value;
    }
    NT_Array &c = (*pc->nonTerm)[i];
    for (NTArc &a : c.arcs.table) a = NTArc();
    c.name.clear();
    c.kind = 0;
    c.value = -1;
    c.arcs.count = 0;
    pc->nonTerm->count--;
  }
  return 0;
}

int GDPC_PrintContextEntries(ParserControl *pc, FILE *out) {
  if (!pc->pcontext) {
    if (!pc->ContextObjectStructure || !pc->ContextObjectStructure->contextAvailable) {
      pc->pres += "Context info is not available. Try starting your grammar "
                  "with the rebuild flag set to 1. This will force the .rtn "
                  "file to be read-in which does contain contextual info.\n";
      return 1;
    }
    if (UnpackContexts(pc, pc, true)) {
      pc->pres += "Error: the context tables could not be unpacked in GDPC_PrintContextEntries: " +
                  T(__LINE__);
      ReleaseUnpacked(pc);
      return 1;
    }
  }
  std::string dash(204, '-');
  fprintf(out, "key:\n%s\n", dash.c_str());
  fprintf(out, "%s\n",
          "[nextNet] withinPatternTermCount:rti depth hCount "
          "(net.rhbi.rhsi.rti.from.to.cornerStatus.patternCornerStatus) "
          "foi~groupNumber-fInitialGroupInstance contextTermCount (term rhbi rhsi "
          "rti)..................");
  fprintf(out, "%s\n",
          "--------- ----------------------:--- ----- ------ -----(hCount number of hierarchy "
          "levels)-------------------- ---~--------------------------------- ---------------- "
          "--(contextTermCount number of terms)--");
  fprintf(out, "%s\n",
          "[time]                         4:3   2     4      15  .0   .0   .3  .4   .1  .2          "
          ".2                    65 ~59         -0                     1                after 0    "
          "0    3                     ");
  fprintf(out, "%s\n\n", dash.c_str());
  for (int c = 0; c < pc->pcontext->count; c++) {
    const ContextEntry &ce = (*pc->pcontext)[c];
    std::string nn = (ce.nextNet >= 0 && ce.nextNet < pc->pnn->count) ? &(*pc->pnn)[ce.nextNet] : "";
    const HierarchyLevel *l0 =
        (ce.firstLevel >= 0 && ce.firstLevel < pc->phli->count)
            ? &(*pc->phl)[(*pc->phli)[ce.firstLevel].level]
            : nullptr;
    int rti = l0 ? l0->rti : -1, rhbi = l0 ? l0->rhbi : -1;
    std::string line = nn + " " + Str(ce.withinPatternTermCount) + ":" + Str(rti) + " " +
                       Str(ce.depth) + " " + Str(ce.hCount) + " ";
    std::string levels;
    int guard = 0;
    for (int li = ce.firstLevel; li >= 0 && li < pc->phli->count && guard <= pc->phli->count;
         li = (*pc->phli)[li].next, guard++) {
      const HierarchyLevel &lv = (*pc->phl)[(*pc->phli)[li].level];
      levels += Str(lv.net) + "." + Str(lv.rhbi) + "." + Str(lv.rhsi) + "." + Str(lv.rti) + "." +
                Str(lv.from) + "." + Str(lv.to) + "." + Str(lv.cornerStatus) + "." +
                Str(lv.patternCornerStatus) + ";";
      if (li == ce.endLevel) break;
    }
    line += levels + " " + Str(ce.foi) + "~" + Str(ce.groupNumber) + "-" +
            Str(ce.fInitialGroupInstance) + " " + Str(ce.contextTermCount) + " ";
    guard = 0;
    for (int t = ce.firstTerm; t >= 0 && t < pc->pct->count && guard <= pc->pct->count;
         t = (*pc->pct)[t].next, guard++) {
      const ContextTerm &ct = (*pc->pct)[t];
      line += (ct.text.empty() ? std::string("NULL") : ct.text) + " " + Str(rhbi) + " " +
              Str(ct.rhsi) + " " + Str(rti) + " ";
      if (t == ce.lastTerm) break;
    }
    fprintf(out, "%s\n", line.c_str());
  }
  return 0;
}

// ---------------------------------------------------------------------------
// The compile driver

int RTN_InitPC(ParserControl *pc) {
  bool dots = pc->fDots != 0;
  GDPC_SetDots(dots);
  *pc = ParserControl();
  pc->pht = PreparedMark<GDPC_HashTable>();
  pc->pulht = PreparedMark<UL_HashTable>();
  pc->plht = PreparedMark<GDH_HashTable>();
  pc->inputBuf = std::string("INIT", 4);
  if (GDPC_DotsOn()) pc->fDots = 1;
  return 0;
}

ParserControl *RTN_Create(ParserControl *pc, const char *name, const char *ext, int fReadStatus) {
  if (!pc || !pc->pht || pc->inputBuf != std::string("INIT", 4)) {
    fprintf(stderr,
            "RTN_Create: Useage error. The ParserControl (PC) arguement\nmust be passed to "
            "RTN_InitPC (which will zero-out its memory, and create its\nGS_Result member) before "
            "being passed to this function:\nline(%d),\nfile(%s)",
            __LINE__, kSrc);
    return nullptr;
  }
  pc->inputBuf.clear();
  if (!ext || strcmp(ext, ".gra") != 0) {
    pc->pres += std::string("Error: szGraFileName(") + (name ? name : "") + (ext ? ext : "") +
                ") does not have a .gra extension in RTN_Create: file(" + kSrc + ") line(" +
                Str(__LINE__) + ")\n";
    return nullptr;
  }
  if (!name) name = "";
  if (pc->depth == 0) RTN_SetContainerPath(pc->pszContainerPath);
  std::string gra = std::string(name) + ".gra";
  int64_t tg = 0;
  bool readTried = false;
  int status = fReadStatus;
  auto noGrammar = [&](int line) {
    pc->pres += "There was no grammar definition file found for " + gra + " in RTN_Create: " + T(line);
    return nullptr;
  };
  auto read = [&](int *st) -> ParserControl * {
    readTried = true;
    return RTN_Read(pc, name, st);
  };
  // Reads NAME.ext when it is newer than the grammar file. Without a net it
  // sets `status` to what to try next (RS_FAILED: stop, reason in pres).
  auto tryCompiled = [&](int want, const char *ext, int missing) -> ParserControl * {
    std::string path = std::string(name) + ext;
    int64_t tc = 0;
    if (!FileTime(path, &tc)) {
      status = missing;
      return nullptr;
    }
    status = RS_FAILED;
    if (!FileTime(gra, &tg)) return noGrammar(__LINE__);
    if (tg >= tc) {
      status = RS_GRA;
      return nullptr;
    }
    int st = want;
    if (ParserControl *got = read(&st)) return got;
    if (st == 0) {
      pc->pres += "RTN_Create: RTN_Read failure for " + path + "in RTN_Create: " + T(__LINE__);
      return nullptr;
    }
    // A .net that cannot serve falls back to the .rtn; a .rtn to the grammar.
    if (st == RS_RTN || st == RS_GRA) status = want == RS_NET ? st : RS_GRA;
    return nullptr;
  };
  if (status == RS_NET) {
    if (ParserControl *got = tryCompiled(RS_NET, ".net", RS_RTN)) return got;
  }
  if (status == RS_RTN) {
    if (ParserControl *got = tryCompiled(RS_RTN, ".rtn", RS_GRA)) return got;
  }
  if (status != RS_GRA) return nullptr;

  if (GDPC_Init(pc)) {
    pc->pres += "GDPC_Init failure in RTN_Create: " + T(__LINE__);
    return nullptr;
  }
  GDH_InitHashTable(*pc->plht, 0, 128);
  GDPC_InitHashTable(*pc->pht, 128);
  UL_InitHashTable(*pc->pulht, 128);
  if (GDPC_BufferizeFile(pc, gra.c_str())) {
    pc->pres += "GDPC_BufferizeFile failure for " + gra + " in RTN_Create: " + T(__LINE__);
    return nullptr;
  }
  if (GD_parse(pc)) {
    pc->pres += "RTN_Create: GD_parse failure for " + gra + " in RTN_Create: " + T(__LINE__);
    return nullptr;
  }
  if (GDPC_ProcessNonTerms(pc)) {
    pc->pres += "RTN_Create: GDPC_ProcessNonTerms failure for " + gra + " in RTN_Create: " +
                T(__LINE__);
    return nullptr;
  }
  pc->szRTNName = name;
  if (GDPC_BackProcessNulls(pc)) {
    pc->pres += "RTN_Create: GDPC_BackProcessNulls failure in RTN_Create: " + T(__LINE__);
    return nullptr;
  }
  std::string key = "[" + std::string(name) + "]";
  int ke = PhtFind(pc, key);
  if (ke < 0) {
    std::string cut = gra.substr(0, gra.find('.'));
    if (cut != name)
      pc->pres += "RTN_Create: the top-level net's name(" + pc->Rewrite->netName +
                  ") does not match the name of its definition file(" + cut + ") in RTN_Create: " +
                  T(__LINE__);
    else
      pc->pres += "RTN_Create: GDPC_FindHashEntry failure for " + key + " in RTN_Create: " + T(__LINE__);
    return nullptr;
  }
  int netIndex = pc->pht->entry[ke].value;
  GDPC_FreeNonRTNMembers(pc);
  if (netIndex != 0) {
    pc->pres += "Error: non-zero net" + Str(netIndex) + " before call to RTN_Containerize in RTN_Create: " +
                T(__LINE__);
    return nullptr;
  }
  if (RTN_Containerize(pc)) {
    pc->pres += "RTN_Create: RTN_Containerize failure in RTN_Create: " + T(__LINE__);
    return nullptr;
  }
  if (pc->InternalNet->fWrite.size() > 0) pc->InternalNet->fWrite[0] = 1;
  if (!readTried || tg == 0) {
    if (!FileTime(gra, &tg)) {
      pc->pres += "There was no grammar definition file found for " + gra + " in RTN_Create: " +
                  TLineFirst(__LINE__);
      return nullptr;
    }
  }
  int32_t stamp = (int32_t)(tg / 1000000000);
  pc->InternalNet->entries[0].timeStamp = stamp;
  pc->graTimeStamp = stamp;
  int fo = PhtFind(pc, "0:0 FO");
  if (fo < 0) {
    pc->pres += "GDPC_FindHashEntry failure for 0:0 FO in RTN_Create: " + TLineFirst(__LINE__);
    return nullptr;
  }
  (*pc->From)[pc->pht->entry[fo].value].fActive = 1;
  return pc;
}

int RTN_Filize(GS_Result *result, const char *text) {
  std::string all = text ? text : "";
  size_t seg = 0;
  for (;;) {
    size_t next = all.find("\n[", seg);
    std::string s = all.substr(seg, next == std::string::npos ? std::string::npos : next - seg);
    size_t close = s.find(']');
    if (s.empty() || s[0] != '[' || close == std::string::npos || close == 1) {
      std::string t = "Error: sscanf failure for szFileName in pszFileContent:\n" + s +
                      "\nin RTN_Filize: " + T(__LINE__);
      GS_AppendResult(result, "\r", t.c_str(), (char *)nullptr);
      return 1;
    }
    std::string netName = s.substr(1, close - 1);
    if (GDPC_UnsafeNetName(netName)) {
      std::string t = "Error: the net name [" + netName +
                      "] may not name a file outside the current folder in RTN_Filize: " + T(__LINE__);
      GS_AppendResult(result, "\r", t.c_str(), (char *)nullptr);
      return 1;
    }
    std::string path = netName + ".gra";
    FILE *f = fopen(path.c_str(), "w");
    if (!f) {
      std::string t = "Error: cannot create " + path + " in RTN_Filize: " + T(__LINE__);
      GS_AppendResult(result, "\r", t.c_str(), (char *)nullptr);
      return 1;
    }
    bool ok = fwrite(s.data(), 1, s.size(), f) == s.size();
    ok = fclose(f) == 0 && ok;
    if (!ok) {
      std::string t = "Error: cannot write " + path + " in RTN_Filize: " + T(__LINE__);
      GS_AppendResult(result, "\r", t.c_str(), (char *)nullptr);
      return 1;
    }
    if (next == std::string::npos) return 0;
    seg = next + 1;
  }
}

}  // namespace rtn
