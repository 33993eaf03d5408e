// Compiled networks: the six container types of a net, the packed snapshot
// and the NAME.rtn / NAME.net files, reading them back, releasing a net
// tree, and the printed listing of a net. See rtn_io.h.
#include "rtn_io.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "container_file.h"
#include "gd.h"
#include "pc.h"
#include "trailer.h"
#include "yastro.h"

namespace rtn {

// Failure texts name this source "rtnet", whatever the file is called.
#define TRAILER Trailer("rtnet", __LINE__)

namespace {

// "file(rtnet) line(N)\n" with ") at line(" in place of ") line(".
std::string AtTrailer(int line) {
  std::string t = Trailer("rtnet", line);
  size_t k = t.find(") line(");
  if (k != std::string::npos) t.replace(k, 7, ") at line(");
  return t;
}
// "line(N), file(rtnet)\n", the order some texts use.
std::string LineFile(int line) { return "line(" + std::to_string(line) + "), file(rtnet)\n"; }
// "file(rtnet), line(N)\n".
std::string FileCommaLine(int line) { return "file(rtnet), line(" + std::to_string(line) + ")\n"; }

std::string ResultText(GS_Result *r) { return r && r->text ? std::string(r->text) : std::string(); }

// The container library reports into a GS_Result; the record's texts are a
// std::string. Runs f with a fresh result and appends what it left.
template <class F>
auto WithResult(ParserControl *pc, F f) -> decltype(f((GS_Result *)nullptr)) {
  GS_Result *r = GS_CreateResult();
  auto v = f(r);
  if (pc) pc->pres += ResultText(r);
  GS_DeleteResult(r);
  return v;
}

std::string &ProcessContainerPath() {
  static std::string path;
  return path;
}

// ---------------------------------------------------------------------------
// Byte streams of the packed forms. Every payload opens with a marker and
// a format version; a reader checks each count against what is left of
// its buffer before it allocates anything.

const char kNetMarker[4] = {'Q', 'R', 'N', 'T'};
const char kTableMarker[4] = {'Q', 'R', 'C', 'T'};
const uint16_t kFormatVersion = 1;

struct Out {
  std::string b;
  bool counting = false;  // only count the bytes (a length query)
  size_t n = 0;
  // Where to write, when the caller's buffer has room for every byte (its
  // length was asked first): a large net is then written once, not grown.
  unsigned char *to = nullptr;
  size_t size() const { return counting || to ? n : b.size(); }
  void u8(uint8_t v) {
    if (counting) n++;
    else if (to) to[n++] = v;
    else b.push_back((char)v);
  }
  void u16(uint16_t v) {
    u8(v & 0xff);
    u8(v >> 8);
  }
  void i32(int32_t v) {
    uint32_t u = (uint32_t)v;
    for (int i = 0; i < 4; i++) u8((u >> (8 * i)) & 0xff);
  }
  void bytes(const void *p, size_t k) {
    if (to && k) memcpy(to + n, p, k);
    if (counting || to) n += k;
    else b.append((const char *)p, k);
  }
  void str(const std::string &s) {
    i32((int32_t)s.size());
    bytes(s.data(), s.size());
  }
  void marker(const char m[4]) {
    bytes(m, 4);
    u16(kFormatVersion);
  }
};

struct In {
  const unsigned char *p, *end;
  std::string why;  // the first fault found
  bool ok() const { return why.empty(); }
  bool fail(const std::string &w) {
    if (why.empty()) why = w;
    p = end;
    return false;
  }
  bool need(size_t n) { return (size_t)(end - p) >= n || fail("the data ends early"); }
  uint8_t u8() { return need(1) ? *p++ : 0; }
  uint16_t u16() {
    if (!need(2)) return 0;
    uint16_t v = (uint16_t)(p[0] | (p[1] << 8));
    p += 2;
    return v;
  }
  int32_t i32() {
    if (!need(4)) return 0;
    uint32_t u = (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
    p += 4;
    return (int32_t)u;
  }
  // A count of elements of at least `unit` bytes each: it must be
  // non-negative and fit in what is left.
  int32_t count(size_t unit, const char *what) {
    int32_t n = i32();
    if (!ok()) return 0;
    if (n < 0 || (unit && (size_t)n > (size_t)(end - p) / unit)) {
      fail(std::string("bad count of ") + what);
      return 0;
    }
    return n;
  }
  std::string str() {
    int32_t n = count(1, "characters");
    if (!ok()) return std::string();
    std::string s((const char *)p, (size_t)n);
    p += n;
    return s;
  }
  void bytes(void *dst, size_t n) {
    // An empty table has no storage to copy into.
    if (n == 0 || !need(n)) return;
    memcpy(dst, p, n);
    p += n;
  }
  bool marker(const char m[4]) {
    if (!need(6) || memcmp(p, m, 4) != 0) return fail("no marker of a compiled network");
    p += 4;
    uint16_t v = u16();
    if (v != kFormatVersion) return fail("compiled network of format version " + std::to_string(v) +
                                         " (this build reads " + std::to_string(kFormatVersion) + ")");
    return true;
  }
  // A value that must lie in [lo, hi).
  // On failure the answer is lo, so that nothing is sized or indexed by a
  // value that was refused.
  int32_t index(int32_t lo, int32_t hi, const char *what) {
    int32_t v = i32();
    if (ok() && (v < lo || v >= hi)) fail(std::string(what) + " " + std::to_string(v) + " out of range");
    return ok() ? v : lo;
  }
};

template <class T>
void SizeGrow(Grow<T> &g, int32_t count, int32_t step) {
  g.table.assign(count > 0 ? count : 0, T());
  g.count = count;
  g.capacity = count;
  g.step = step;
}

// ---------------------------------------------------------------------------
// The five context tables.

void PackNextNet(Out &o, const Grow<char> &t) {
  o.marker(kTableMarker);
  o.i32(t.count);
  o.bytes(t.table.data(), (size_t)t.count);
}
bool UnpackNextNet(In &in, Grow<char> &t) {
  if (!in.marker(kTableMarker)) return false;
  int32_t n = in.count(1, "next-net characters");
  SizeGrow(t, n, NEXTNET_TABLESIZE);
  in.bytes(t.table.data(), (size_t)n);
  // Texts are found by offset and read up to their NUL.
  if (in.ok() && n > 0 && t.table[n - 1] != '\0') in.fail("next-net text without its end");
  return in.ok();
}

void PackLevels(Out &o, const Grow<HierarchyLevel> &t) {
  o.marker(kTableMarker);
  o.i32(t.count);
  for (int i = 0; i < t.count; i++) {
    const HierarchyLevel &l = t[i];
    o.i32(l.net), o.i32(l.rhbi), o.i32(l.rhsi), o.i32(l.rti), o.i32(l.from), o.i32(l.to);
    o.i32(l.cornerStatus), o.i32(l.patternCornerStatus);
  }
}
bool UnpackLevels(In &in, Grow<HierarchyLevel> &t) {
  if (!in.marker(kTableMarker)) return false;
  int32_t n = in.count(32, "hierarchy levels");
  SizeGrow(t, n, HIERARCHY_TABLESIZE);
  for (int i = 0; i < n && in.ok(); i++) {
    HierarchyLevel &l = t[i];
    l.net = in.index(0, 65536, "level net");
    l.rhbi = in.index(-1, 65536, "level rule");
    l.rhsi = in.index(-1, 65536, "level alternative");
    l.rti = in.index(-1, 128, "level term");
    l.from = in.i32(), l.to = in.i32();
    l.cornerStatus = in.i32(), l.patternCornerStatus = in.i32();
  }
  return in.ok();
}

void PackLevelIndices(Out &o, const Grow<HierarchyLevelIndex> &t) {
  o.marker(kTableMarker);
  o.i32(t.count);
  for (int i = 0; i < t.count; i++) o.i32(t[i].level), o.i32(t[i].next), o.i32(t[i].previous);
}
bool UnpackLevelIndices(In &in, Grow<HierarchyLevelIndex> &t) {
  if (!in.marker(kTableMarker)) return false;
  int32_t n = in.count(12, "level indices");
  SizeGrow(t, n, HLINDEX_TABLESIZE);
  for (int i = 0; i < n && in.ok(); i++) {
    t[i].level = in.i32();
    t[i].next = in.index(-1, n, "next level");
    t[i].previous = in.index(-1, n, "previous level");
  }
  return in.ok();
}

void PackContextTerms(Out &o, const Grow<ContextTerm> &t) {
  o.marker(kTableMarker);
  o.i32(t.count);
  for (int i = 0; i < t.count; i++) o.str(t[i].text), o.i32(t[i].terminal), o.i32(t[i].rhsi), o.i32(t[i].next);
}
bool UnpackContextTerms(In &in, Grow<ContextTerm> &t) {
  if (!in.marker(kTableMarker)) return false;
  int32_t n = in.count(16, "context terms");
  SizeGrow(t, n, CONTEXTTERM_TABLESIZE);
  for (int i = 0; i < n && in.ok(); i++) {
    t[i].text = in.str();
    t[i].terminal = in.index(-1, INT32_MAX, "context-term terminal");
    t[i].rhsi = in.i32();
    t[i].next = in.index(-1, n, "next context term");
  }
  return in.ok();
}

void PackContexts(Out &o, const Grow<ContextEntry> &t) {
  o.marker(kTableMarker);
  o.i32(t.count);
  for (int i = 0; i < t.count; i++) {
    const ContextEntry &c = t[i];
    o.i32(c.mode), o.i32(c.nextNet), o.i32(c.withinPatternTermCount), o.i32(c.depth), o.i32(c.hCount);
    o.i32(c.firstLevel), o.i32(c.endLevel), o.i32(c.foi), o.i32(c.groupNumber);
    o.u8(c.fInitialGroupInstance);
    o.i32(c.firstTerm), o.i32(c.lastTerm), o.i32(c.contextTermCount);
  }
}
bool UnpackContexts(In &in, Grow<ContextEntry> &t) {
  if (!in.marker(kTableMarker)) return false;
  int32_t n = in.count(49, "context entries");
  SizeGrow(t, n, CONTEXT_TABLESIZE);
  for (int i = 0; i < n && in.ok(); i++) {
    ContextEntry &c = t[i];
    c.mode = in.i32();
    if (in.ok() && c.mode != MODE_NONTERMS && c.mode != MODE_RULES) in.fail("bad context mode");
    c.nextNet = in.index(0, INT32_MAX, "next-net offset");
    c.withinPatternTermCount = in.index(0, 256, "term count");
    c.depth = in.index(0, 256, "context depth");
    c.hCount = in.index(0, 256, "level count");
    c.firstLevel = in.index(-1, INT32_MAX, "first level");
    c.endLevel = in.index(-1, INT32_MAX, "outermost level");
    c.foi = in.index(0, INT32_MAX, "context origin");
    c.groupNumber = in.i32();
    c.fInitialGroupInstance = in.u8();
    c.firstTerm = in.index(-1, INT32_MAX, "first context term");
    c.lastTerm = in.index(-1, INT32_MAX, "last context term");
    c.contextTermCount = in.index(0, INT32_MAX, "context-term count");
  }
  return in.ok();
}

// Cross-checks of the five tables of one net, once all are at hand: every
// index names an element of the table it points into, and every chain ends.
bool CheckContextTables(const Grow<ContextEntry> &ce, const Grow<ContextTerm> &ct,
                        const Grow<HierarchyLevelIndex> &li, const Grow<HierarchyLevel> &hl,
                        const Grow<char> &nn, int terminalCount, int netCount, int originCount,
                        std::string &why) {
  for (int i = 0; i < hl.count; i++)
    if (netCount >= 0 && hl[i].net >= netCount) {
      why = "hierarchy level " + std::to_string(i) + " names no net";
      return false;
    }
  for (int i = 0; i < li.count; i++)
    if (li[i].level < 0 || li[i].level >= hl.count) {
      why = "level index " + std::to_string(i) + " names no level";
      return false;
    }
  for (int i = 0; i < ct.count; i++)
    if (terminalCount >= 0 && ct[i].terminal >= terminalCount) {
      why = "context term " + std::to_string(i) + " names no terminal";
      return false;
    }
  for (int i = 0; i < ce.count; i++) {
    const ContextEntry &c = ce[i];
    if (c.firstLevel >= li.count || c.endLevel >= li.count || c.firstTerm >= ct.count ||
        c.lastTerm >= ct.count || (c.nextNet > 0 && c.nextNet >= nn.count) ||
        (originCount >= 0 && c.foi > 0 && c.foi >= originCount)) {
      why = "context entry " + std::to_string(i) + " points outside its tables";
      return false;
    }
    int steps = 0;
    for (int l = c.firstLevel; l >= 0; l = li[l].next)
      if (++steps > li.count) {
        why = "context entry " + std::to_string(i) + " has an endless level chain";
        return false;
      }
    steps = 0;
    for (int k = c.firstTerm; k >= 0; k = ct[k].next)
      if (++steps > ct.count) {
        why = "context entry " + std::to_string(i) + " has an endless term chain";
        return false;
      }
  }
  return true;
}

// ---------------------------------------------------------------------------
// The net record.

void PackHash(Out &o, const GDPC_HashTable *t) {
  o.u8(t ? 1 : 0);
  if (!t) return;
  o.i32(t->sizeLevel);
  o.i32((int32_t)t->entry.size());
  for (auto &e : t->entry) o.i32(e.next), o.i32(e.value), o.i32(e.key);
  o.i32((int32_t)t->key.size());
  o.bytes(t->key.data(), t->key.size());
  o.i32((int32_t)t->buckets.size());
  for (int32_t b : t->buckets) o.i32(b);
}
GDPC_HashTable *UnpackHash(In &in) {
  if (!in.u8()) return nullptr;
  GDPC_HashTable *t = new GDPC_HashTable();
  t->sizeLevel = in.i32();
  int32_t n = in.count(12, "string-table entries");
  t->entry.resize(n);
  for (int i = 0; i < n && in.ok(); i++) t->entry[i].next = in.i32(), t->entry[i].value = in.i32(), t->entry[i].key = in.i32();
  int32_t k = in.count(1, "key characters");
  // Every compiled net keys at least its own name: no keys is damage.
  if (in.ok() && k == 0) in.fail("string table without keys");
  t->key.resize(k);
  in.bytes(t->key.data(), (size_t)k);
  int32_t b = in.count(4, "buckets");
  t->buckets.resize(b);
  for (int i = 0; i < b && in.ok(); i++) t->buckets[i] = in.i32();
  std::string why;
  if (in.ok()) {
    if (GDPC_BucketCount(t->sizeLevel) != b) in.fail("string table with a bad bucket count");
    else if (!GDPC_CheckTable(*t, why)) in.fail("string table: " + why);
    else GDPC_SetDerived(*t);
  }
  return t;
}

void PackPairs(Out &o, const UL_HashTable *t) {
  o.u8(t ? 1 : 0);
  if (!t) return;
  o.i32(t->sizeLevel), o.i32(t->shift);
  o.i32((int32_t)t->entry.size());
  for (auto &e : t->entry) o.i32(e.next), o.i32(e.a), o.i32(e.b);
  o.i32((int32_t)t->buckets.size());
  for (int32_t b : t->buckets) o.i32(b);
}
UL_HashTable *UnpackPairs(In &in) {
  if (!in.u8()) return nullptr;
  UL_HashTable *t = new UL_HashTable();
  t->sizeLevel = in.i32();
  t->shift = in.i32();
  int32_t n = in.count(12, "pair entries");
  t->entry.resize(n);
  for (int i = 0; i < n && in.ok(); i++) {
    t->entry[i].next = in.index(-1, n, "pair chain");
    t->entry[i].a = in.i32(), t->entry[i].b = in.i32();
  }
  int32_t b = in.count(4, "pair buckets");
  t->buckets.resize(b);
  for (int i = 0; i < b && in.ok(); i++) t->buckets[i] = in.index(-1, n, "pair bucket");
  if (!in.ok()) return t;
  if (GDPC_BucketCount(t->sizeLevel) != b || b == 0 || t->shift < 0 || t->shift > 32) {
    in.fail("pair table with a bad size");
    return t;
  }
  // The derived fields follow the level as in the string tables.
  GDPC_HashTable probe;
  probe.sizeLevel = t->sizeLevel;
  GDPC_SetDerived(probe);
  t->growAt = probe.growAt;
  t->mask = probe.mask;
  // Every entry must sit on exactly one chain, and where the hash puts it.
  std::vector<char> seen(n, 0);
  for (int32_t head : t->buckets)
    for (int32_t e = head; e >= 0; e = t->entry[e].next) {
      if (seen[e]) {
        in.fail("pair table with crossed chains");
        return t;
      }
      seen[e] = 1;
    }
  for (int32_t e = 0; e < n; e++)
    if (!seen[e] || UL_KeyFind(*t, t->entry[e].a, t->entry[e].b) != e) {
      in.fail("pair table entry " + std::to_string(e) + " is not where it hashes");
      return t;
    }
  return t;
}

enum { ST_TLIST = 1, ST_FLAGS = 2 };

void PackStrings(Out &o, const StringTable *t, int kind) {
  o.u8(t ? 1 : 0);
  if (!t) return;
  o.i32(t->count);
  for (int i = 0; i < t->count; i++) {
    o.str(t->strings[i]);
    o.i32(t->offsets[i]);
    if (kind & ST_TLIST) o.i32(t->tlist[i]);
    if (kind & ST_FLAGS) o.u8((uint8_t)t->flags[i]);
  }
}
StringTable *UnpackStrings(In &in, int kind, int32_t keyChars, int32_t tlists) {
  if (!in.u8()) return nullptr;
  StringTable *t = new StringTable();
  int32_t n = in.count(8, "strings");
  // A table read back has room for exactly its strings.
  t->count = t->capacity = n;
  t->step = 2;
  t->strings.resize(n);
  t->offsets.resize(n);
  if (kind & ST_TLIST) t->tlist.resize(n, -1);
  if (kind & ST_FLAGS) t->flags.resize(n, '1');
  for (int i = 0; i < n && in.ok(); i++) {
    t->strings[i] = in.str();
    t->offsets[i] = in.index(-1, keyChars, "key offset");
    if (kind & ST_TLIST) t->tlist[i] = in.index(-1, tlists, "terminal list");
    if (kind & ST_FLAGS) t->flags[i] = (char)in.u8();
  }
  return t;
}

void PackRewrite(Out &o, const Rewrite *rw) {
  o.u8(rw ? 1 : 0);
  if (!rw) return;
  o.str(rw->netName);
  o.i32(rw->rhb.count);
  for (int r = 0; r < rw->rhb.count; r++) {
    const RewriteSide &side = rw->rhb[r];
    o.i32(side.refCount), o.u8(side.flag), o.i32(side.rhs.count);
    for (int a = 0; a < side.rhs.count; a++) {
      const Rhs &rhs = side.rhs[a];
      o.i32(rhs.term.count);
      for (int k = 0; k < rhs.term.count; k++) {
        const RhsTerm &t = rhs.term[k];
        o.u8(t.plus), o.u8(t.star), o.i32(t.from), o.i32(t.to), o.i32(t.rightState), o.i32(t.kind);
        o.u8(t.cornerStatus), o.u8(t.patternCornerStatus), o.i32(t.rhbi), o.i32(t.rhsi), o.i32(t.rti);
        o.str(t.name);
      }
    }
  }
}
Rewrite *UnpackRewrite(In &in) {
  if (!in.u8()) return nullptr;
  Rewrite *rw = new Rewrite();
  rw->netName = in.str();
  int32_t nr = in.count(9, "rules");
  SizeGrow(rw->rhb, nr, 2);
  rw->lhs.assign(nr, std::string());
  for (int r = 0; r < nr && in.ok(); r++) {
    RewriteSide &side = rw->rhb[r];
    side.refCount = in.i32();
    side.flag = in.u8();
    int32_t na = in.count(4, "alternatives");
    SizeGrow(side.rhs, na, 2);
    for (int a = 0; a < na && in.ok(); a++) {
      Rhs &rhs = side.rhs[a];
      int32_t nt = in.count(40, "terms");
      SizeGrow(rhs.term, nt, 2);
      for (int k = 0; k < nt && in.ok(); k++) {
        RhsTerm &t = rhs.term[k];
        t.plus = in.u8(), t.star = in.u8();
        t.from = in.i32(), t.to = in.i32(), t.rightState = in.i32();
        t.kind = in.i32();
        if (in.ok() && t.kind != TK_NONE && t.kind != TK_NET && t.kind != TK_RULE && t.kind != TK_TERMINAL)
          in.fail("bad term kind");
        t.cornerStatus = in.u8(), t.patternCornerStatus = in.u8();
        t.rhbi = in.index(-1, nr, "referencing rule");
        t.rhsi = in.index(-1, 65536, "referencing alternative");
        t.rti = in.index(-1, 65536, "referencing term");
        t.name = in.str();
      }
    }
  }
  // Referencing alternatives and terms must exist in the rules they name.
  for (int r = 0; r < nr && in.ok(); r++)
    for (int a = 0; a < rw->rhb[r].rhs.count; a++)
      for (int k = 0; k < rw->rhb[r].rhs[a].term.count; k++) {
        const RhsTerm &t = rw->rhb[r].rhs[a].term[k];
        if (t.rhbi < 0) continue;
        const RewriteSide &s = rw->rhb[t.rhbi];
        if (t.rhsi >= s.rhs.count || (t.rhsi >= 0 && t.rti >= s.rhs[t.rhsi].term.count))
          in.fail("term refers to a missing alternative");
      }
  return rw;
}

void PackFrom(Out &o, const FromTable *f) {
  o.u8(f ? 1 : 0);
  if (!f) return;
  o.i32(f->count);
  for (int i = 0; i < f->count; i++) {
    const Origin &org = (*f)[i];
    o.i32(org.symbol), o.u8(org.depth), o.u8(org.fActive);
    o.i32(org.prefix.count);
    for (int p = 0; p < org.prefix.count; p++) {
      const OriginPrefix &pre = org.prefix[p];
      o.i32(pre.symbol), o.u8(pre.value1), o.u8(pre.value2), o.i32(pre.arc.count);
      for (int a = 0; a < pre.arc.count; a++) {
        const PrefixArc &arc = pre.arc[a];
        o.i32(arc.symbol), o.i32(arc.ToState), o.u8(arc.value), o.u8(arc.selfLoopDepth);
        o.i32(arc.terminal.count);
        for (int t = 0; t < arc.terminal.count; t++) o.i32(arc.terminal[t]);
      }
    }
    o.i32(org.group.count);
    for (int g = 0; g < org.group.count; g++) {
      const ContextGroup &grp = org.group[g];
      o.i32(grp.groupNumber), o.i32(grp.term.count);
      for (int t = 0; t < grp.term.count; t++) o.i32(grp.term[t]);
      o.i32(grp.tpa.count);
      for (int k = 0; k < grp.tpa.count; k++) {
        const TermPrefixArc &tpa = grp.tpa[k];
        o.i32(tpa.prefix), o.i32(tpa.arc.count);
        for (int a = 0; a < tpa.arc.count; a++) o.u16(tpa.arc[a]);
      }
    }
  }
}
FromTable *UnpackFrom(In &in, int32_t symbols, int32_t terminals) {
  if (!in.u8()) return nullptr;
  FromTable *f = new FromTable();
  int32_t n = in.count(14, "origins");
  if (n > COUNT16_LIMIT) in.fail("too many origins");
  SizeGrow(*f, in.ok() ? n : 0, 2);
  for (int i = 0; i < f->count && in.ok(); i++) {
    Origin &org = (*f)[i];
    org.symbol = in.index(0, symbols, "origin symbol");
    org.depth = in.u8(), org.fActive = in.u8();
    int32_t np = in.count(10, "prefixes");
    if (np > COUNT16_LIMIT) in.fail("too many prefixes");
    SizeGrow(org.prefix, in.ok() ? np : 0, 2);
    for (int p = 0; p < org.prefix.count && in.ok(); p++) {
      OriginPrefix &pre = org.prefix[p];
      pre.symbol = in.index(0, symbols, "prefix symbol");
      pre.value1 = in.u8(), pre.value2 = in.u8();
      int32_t na = in.count(14, "arcs");
      if (na > COUNT16_LIMIT) in.fail("too many arcs");
      SizeGrow(pre.arc, in.ok() ? na : 0, 2);
      for (int a = 0; a < pre.arc.count && in.ok(); a++) {
        PrefixArc &arc = pre.arc[a];
        arc.symbol = in.index(0, symbols, "arc symbol");
        arc.ToState = in.i32();
        arc.value = in.u8(), arc.selfLoopDepth = in.u8();
        int32_t nt = in.count(4, "arc terminals");
        SizeGrow(arc.terminal, nt, 2);
        for (int t = 0; t < nt && in.ok(); t++) arc.terminal[t] = in.index(0, terminals, "arc terminal");
      }
    }
    int32_t ng = in.count(12, "context groups");
    if (ng > COUNT16_LIMIT) in.fail("too many context groups");
    SizeGrow(org.group, in.ok() ? ng : 0, 2);
    for (int g = 0; g < org.group.count && in.ok(); g++) {
      ContextGroup &grp = org.group[g];
      grp.groupNumber = in.i32();
      int32_t nt = in.count(4, "group terms");
      SizeGrow(grp.term, nt, 2);
      for (int t = 0; t < nt && in.ok(); t++) grp.term[t] = in.index(0, terminals, "group terminal");
      int32_t nk = in.count(8, "group prefixes");
      SizeGrow(grp.tpa, nk, 2);
      for (int k = 0; k < nk && in.ok(); k++) {
        TermPrefixArc &tpa = grp.tpa[k];
        tpa.prefix = in.index(0, org.prefix.count, "group prefix");
        int32_t na = in.count(2, "group arcs");
        SizeGrow(tpa.arc, na, 2);
        int32_t arcs = in.ok() ? org.prefix[tpa.prefix].arc.count : 0;
        for (int a = 0; a < na && in.ok(); a++) {
          tpa.arc[a] = in.u16();
          if (in.ok() && tpa.arc[a] >= arcs) in.fail("group arc out of range");
        }
      }
    }
  }
  return f;
}

void PackPacked(Out &o, const PackedObject *po) {
  int32_t n = po && po->buffer ? po->length : 0;
  o.i32(n);
  if (n) o.bytes(po->buffer, (size_t)n);
}
void UnpackPacked(In &in, PackedObject &po) {
  int32_t n = in.count(1, "packed bytes");
  po.buffer = nullptr;
  po.length = 0;
  if (!in.ok() || n == 0) return;
  po.buffer = (char *)DB_MALLOC((size_t)n);
  po.length = n;
  in.bytes(po.buffer, (size_t)n);
}

void FreePacked(PackedObject &po) {
  if (po.buffer) DB_FREE(po.buffer);
  po.buffer = nullptr;
  po.length = 0;
}

}  // namespace

// The record's stored members in a fixed order (see the contract).
static void PackNet(Out &o, const ParserControl *pc) {
  o.marker(kNetMarker);
  o.u8((uint8_t)pc->depth);
  o.i32(pc->graTimeStamp);
  o.u8(pc->fPrintAllocs), o.u8(pc->fLogAllocs), o.u8(pc->fRebuild), o.u8(pc->fDots);
  o.i32(pc->state), o.i32(pc->group), o.i32(pc->one);
  PackHash(o, pc->pht);
  PackPairs(o, pc->pulht);
  PackStrings(o, pc->TerminalTable, 0);
  PackStrings(o, pc->SymbolTable, 0);
  PackStrings(o, pc->NetTable, ST_FLAGS);
  o.u8(pc->ptindex ? 1 : 0);
  if (pc->ptindex) {
    o.i32(pc->ptindex->count);
    for (int i = 0; i < pc->ptindex->count; i++) o.i32((*pc->ptindex)[i].terminal), o.i32((*pc->ptindex)[i].next);
  }
  o.u8(pc->ptlist ? 1 : 0);
  if (pc->ptlist) {
    o.i32(pc->ptlist->count);
    for (int i = 0; i < pc->ptlist->count; i++)
      o.i32((*pc->ptlist)[i].first), o.i32((*pc->ptlist)[i].last), o.i32((*pc->ptlist)[i].count);
  }
  PackStrings(o, pc->UpperTable, ST_TLIST);
  PackStrings(o, pc->LowerTable, ST_TLIST);
  PackRewrite(o, pc->Rewrite);
  PackFrom(o, pc->From);
  const InternalNet *inet = pc->InternalNet;
  o.u8(inet ? 1 : 0);
  if (inet) {
    int32_t stored = std::min<int32_t>(std::max<int32_t>(inet->count, 1), (int32_t)inet->entries.size());
    o.i32(inet->count);
    o.i32(stored);
    for (int i = 0; i < stored; i++) {
      const InternalNetEntry &e = inet->entries[i];
      o.i32(e.timeStamp), o.u8(e.owned), o.u8(e.linked), o.u8(e.packOwned);
      bool has = e.hasPacked && e.packed;
      o.u8(has ? 1 : 0);
      if (has) PackPacked(o, e.packed);
    }
  }
  const ContextObjectStructure *cos = pc->ContextObjectStructure;
  o.u8(cos ? 1 : 0);
  if (cos) {
    PackPacked(o, &cos->cetpo);
    PackPacked(o, &cos->cttpo);
    PackPacked(o, &cos->hlitpo);
    PackPacked(o, &cos->hltpo);
    PackPacked(o, &cos->nntpo);
    o.u8(cos->ownsPacks), o.u8(cos->unpacked), o.u8(cos->contextAvailable);
  }
}

static void ReleaseMembers(ParserControl *r, GS_Result *res, bool dots);

// Reads a packed context table, which must be of the type named, into
// `table` (absent: an empty table).
template <class T>
static bool ProbeTable(const PackedObject &po, const char *typeName, T &table, std::string &why) {
  if (!po.length) return true;
  GS_Result *r = GS_CreateResult();
  const CntrType *type = nullptr;
  int pos = 0;
  CntrObj *obj = nullptr;
  if (!Cntr_Get(r, typeName, &type)) obj = Cntr_ObjUnpack(r, type, po.buffer, &pos, po.length);
  bool ok = obj != nullptr;
  if (!ok) {
    why = ResultText(r);
  } else {
    table = *static_cast<T *>(obj->data);
    Cntr_ObjDestroy(r, obj);
  }
  GS_DeleteResult(r);
  return ok;
}

static ParserControl *UnpackNet(In &in) {
  ParserControl *pc = new ParserControl();
  if (!in.marker(kNetMarker)) return pc;
  pc->depth = (int8_t)in.u8();
  pc->graTimeStamp = in.i32();
  pc->fPrintAllocs = in.u8(), pc->fLogAllocs = in.u8(), pc->fRebuild = in.u8(), pc->fDots = in.u8();
  pc->state = in.i32(), pc->group = in.i32(), pc->one = in.i32();
  pc->pht = UnpackHash(in);
  if (in.ok() && !pc->pht) in.fail("compiled network without its string table");
  pc->pulht = UnpackPairs(in);
  int32_t keyChars = pc->pht ? (int32_t)pc->pht->key.size() : 0;
  pc->TerminalTable = UnpackStrings(in, 0, keyChars, 0);
  pc->SymbolTable = UnpackStrings(in, 0, keyChars, 0);
  pc->NetTable = UnpackStrings(in, ST_FLAGS, keyChars, 0);
  if (in.ok() && (!pc->TerminalTable || !pc->SymbolTable || !pc->NetTable || pc->NetTable->count < 1))
    in.fail("compiled network without its string tables");
  int32_t terminals = pc->TerminalTable ? pc->TerminalTable->count : 0;
  int32_t symbols = pc->SymbolTable ? pc->SymbolTable->count : 0;
  int32_t nets = pc->NetTable ? pc->NetTable->count : 0;
  if (in.ok() && in.u8()) {
    pc->ptindex = new Grow<TerminalIndex>();
    int32_t n = in.count(8, "terminal indices");
    SizeGrow(*pc->ptindex, n, TINDEX_TABLESIZE);
    for (int i = 0; i < n && in.ok(); i++) {
      (*pc->ptindex)[i].terminal = in.index(-1, terminals, "listed terminal");
      (*pc->ptindex)[i].next = in.index(-1, n, "terminal-list link");
    }
  }
  int32_t indices = pc->ptindex ? pc->ptindex->count : 0;
  if (in.ok() && in.u8()) {
    pc->ptlist = new Grow<TerminalList>();
    int32_t n = in.count(12, "terminal lists");
    SizeGrow(*pc->ptlist, n, TLIST_TABLESIZE);
    for (int i = 0; i < n && in.ok(); i++) {
      TerminalList &l = (*pc->ptlist)[i];
      l.first = in.index(-1, indices, "terminal-list head");
      l.last = in.index(-1, indices, "terminal-list tail");
      l.count = in.index(0, indices + 1, "terminal-list length");
      int steps = 0;
      for (int k = l.first; k >= 0 && in.ok(); k = (*pc->ptindex)[k].next)
        if (++steps > indices) in.fail("endless terminal list");
    }
  }
  int32_t tlists = pc->ptlist ? pc->ptlist->count : 0;
  pc->UpperTable = UnpackStrings(in, ST_TLIST, keyChars, tlists);
  pc->LowerTable = UnpackStrings(in, ST_TLIST, keyChars, tlists);
  pc->Rewrite = UnpackRewrite(in);
  pc->From = UnpackFrom(in, symbols, terminals);
  if (in.ok() && in.u8()) {
    InternalNet *inet = pc->InternalNet = new InternalNet();
    inet->count = in.index(0, nets + 1, "net count");
    int32_t stored = in.index(0, std::max(nets, 1) + 1, "stored nets");
    int32_t slots = in.ok() ? std::max(stored, nets) : 0;
    // No files and no write flags: a record unpacked here has none of its
    // own (whoever links it reads that as "write it").
    inet->entries.resize(slots);
    inet->capacity = slots;
    inet->step = 2;
    for (int i = 0; i < stored && in.ok(); i++) {
      InternalNetEntry &e = inet->entries[i];
      e.timeStamp = in.i32();
      e.owned = in.u8(), e.linked = in.u8(), e.packOwned = in.u8();
      e.hasPacked = in.u8();
      if (e.hasPacked && in.ok()) {
        e.packed = new PackedObject();
        UnpackPacked(in, *e.packed);
        e.packOwned = 1;  // this record made the copy, this record frees it
      }
    }
  }
  if (in.ok() && in.u8()) {
    ContextObjectStructure *cos = pc->ContextObjectStructure = new ContextObjectStructure();
    UnpackPacked(in, cos->cetpo);
    UnpackPacked(in, cos->cttpo);
    UnpackPacked(in, cos->hlitpo);
    UnpackPacked(in, cos->hltpo);
    UnpackPacked(in, cos->nntpo);
    // The buffers were made here and go with the record.
    in.u8();
    cos->ownsPacks = 1;
    cos->unpacked = in.u8();
    cos->contextAvailable = in.u8();
    cos->unpacked = 0;
    if (in.ok() && cos->cetpo.length) {
      Grow<ContextEntry> ce;
      Grow<ContextTerm> ct;
      Grow<HierarchyLevelIndex> li;
      Grow<HierarchyLevel> hl;
      Grow<char> nn;
      std::string why;
      if (!ProbeTable(cos->cetpo, "rtn/ContextTable", ce, why) ||
          !ProbeTable(cos->cttpo, "rtn/ContextTermTable", ct, why) ||
          !ProbeTable(cos->hlitpo, "rtn/HLIndexTable", li, why) ||
          !ProbeTable(cos->hltpo, "rtn/HierarchyLevelTable", hl, why) ||
          !ProbeTable(cos->nntpo, "rtn/NextNetTable", nn, why) ||
          !CheckContextTables(ce, ct, li, hl, nn, terminals, nets, pc->From ? pc->From->count : -1, why))
        in.fail("context tables: " + why);
    }
  }
  if (in.ok() && in.p != in.end) in.fail("bytes after the end of the compiled network");
  if (in.ok()) {
    // Texts of the string tables are read at their key offsets; the stored
    // copies must agree with them.
    auto agree = [&](const StringTable *t) {
      for (int i = 0; t && i < t->count; i++)
        if (t->offsets[i] >= 0 && t->strings[i] != pc->pht->key.data() + t->offsets[i]) return false;
      return true;
    };
    if (!agree(pc->TerminalTable) || !agree(pc->SymbolTable) || !agree(pc->NetTable))
      in.fail("string table texts do not match their keys");
  }
  return pc;
}

// ---------------------------------------------------------------------------
// Container types

namespace {

template <class T, void (*P)(Out &, const T &), bool (*U)(In &, T &)>
struct TableType {
  static void release(void *rec) { delete static_cast<T *>(rec); }
  static int length(GS_Result *, const void *rec, size_t *len) {
    Out o;
    o.counting = true;
    P(o, *static_cast<const T *>(rec));
    *len = o.size();
    return 0;
  }
  static int pack(GS_Result *, const void *rec, unsigned char *buffer) {
    Out o;
    o.to = buffer;
    P(o, *static_cast<const T *>(rec));
    return 0;
  }
  static void *unpack(GS_Result *r, const unsigned char *buffer, size_t len) {
    In in{buffer, buffer + len, {}};
    T *t = new T();
    U(in, *t);
    if (in.ok() && in.p != in.end) in.fail("bytes after the end of the table");
    if (!in.ok()) {
      GS_AppendResult(r, "damaged context table: ", in.why.c_str(), (char *)nullptr);
      delete t;
      return nullptr;
    }
    return t;
  }
};

typedef TableType<Grow<char>, PackNextNet, UnpackNextNet> NextNetType;
typedef TableType<Grow<HierarchyLevel>, PackLevels, UnpackLevels> LevelType;
typedef TableType<Grow<HierarchyLevelIndex>, PackLevelIndices, UnpackLevelIndices> LevelIndexType;
typedef TableType<Grow<ContextTerm>, PackContextTerms, UnpackContextTerms> ContextTermType;
typedef TableType<Grow<ContextEntry>, PackContexts, UnpackContexts> ContextType;

void NetRelease(void *rec) {
  ParserControl *pc = static_cast<ParserControl *>(rec);
  GS_Result *r = GS_CreateResult();
  ReleaseMembers(pc, r, false);
  GS_DeleteResult(r);
  delete pc;
}
// A record that was never handed out: its packed copies are its own.
void DiscardNet(ParserControl *pc) {
  std::vector<PackedObject *> packs;
  if (pc->InternalNet)
    for (auto &e : pc->InternalNet->entries)
      if (e.packed) packs.push_back(e.packed), e.packed = nullptr;
  NetRelease(pc);
  for (PackedObject *po : packs) {
    if (po->buffer) DB_FREE(po->buffer);
    delete po;
  }
}
int NetLength(GS_Result *, const void *rec, size_t *len) {
  Out o;
  o.counting = true;
  PackNet(o, static_cast<const ParserControl *>(rec));
  *len = o.size();
  return 0;
}
int NetPack(GS_Result *, const void *rec, unsigned char *buffer) {
  Out o;
  o.to = buffer;
  PackNet(o, static_cast<const ParserControl *>(rec));
  return 0;
}
void *NetUnpack(GS_Result *r, const unsigned char *buffer, size_t len) {
  In in{buffer, buffer + len, {}};
  ParserControl *pc = UnpackNet(in);
  if (!in.ok()) {
    GS_AppendResult(r, "damaged compiled network: ", in.why.c_str(), "\n", (char *)nullptr);
    DiscardNet(pc);
    return nullptr;
  }
  return pc;
}

const CntrType kTypes[] = {
    {"rtn/NextNetTable", nullptr, nullptr, NextNetType::release, nullptr, NextNetType::length, NextNetType::pack,
     NextNetType::unpack},
    {"rtn/HierarchyLevelTable", nullptr, nullptr, LevelType::release, nullptr, LevelType::length, LevelType::pack,
     LevelType::unpack},
    {"rtn/HLIndexTable", nullptr, nullptr, LevelIndexType::release, nullptr, LevelIndexType::length,
     LevelIndexType::pack, LevelIndexType::unpack},
    {"rtn/ContextTermTable", nullptr, nullptr, ContextTermType::release, nullptr, ContextTermType::length,
     ContextTermType::pack, ContextTermType::unpack},
    {"rtn/ContextTable", nullptr, nullptr, ContextType::release, nullptr, ContextType::length, ContextType::pack,
     ContextType::unpack},
    {"rtn/RTNet", nullptr, nullptr, NetRelease, nullptr, NetLength, NetPack, NetUnpack},
};

}  // namespace

void RTN_RegisterTypes() {
  static bool done = false;
  if (done) return;
  for (auto &t : kTypes) Cntr_RegisterType(&t);
  done = true;
}

void RTN_SetContainerPath(const std::string &path) { ProcessContainerPath() = path; }
const std::string &RTN_ContainerPath() { return ProcessContainerPath(); }

// ---------------------------------------------------------------------------
// Release

namespace {

template <class T>
void Drop(T *&p) {
  delete p;
  p = nullptr;
}

void DropHash(GDH_HashTable *&t) {
  if (t && !IsPreparedMark(t)) {
    GDH_DeleteHashTable(*t);
    delete t;
  }
  t = nullptr;
}

// Every packed copy reachable from a tree of records, each once. Entries of
// several records share one copy after linking, so a tree's copies are
// gathered before the release and freed once after it.
void CollectPacks(ParserControl *r, std::vector<ParserControl *> &seen, std::vector<PackedObject *> &packs) {
  if (!r || std::find(seen.begin(), seen.end(), r) != seen.end()) return;
  seen.push_back(r);
  if (!r->InternalNet) return;
  for (auto &e : r->InternalNet->entries) {
    if (e.packed && std::find(packs.begin(), packs.end(), e.packed) == packs.end()) packs.push_back(e.packed);
    if (e.object && e.object->data) CollectPacks(static_cast<ParserControl *>(e.object->data), seen, packs);
  }
}

enum ReleaseKind { REL_FREE, REL_OBJECT, REL_LOCAL };

// The release sequence of one record; see rtn_io.h. `res` collects the
// texts of failures; REL_LOCAL stops at the first one (answer 1).
int Release(ParserControl *r, GS_Result *res, ReleaseKind kind) {
  if (!r) return 0;
  // Context objects and their packed buffers.
  ContextObjectStructure *cos = r->ContextObjectStructure;
  if (cos) {
    struct {
      CntrObj **obj;
      PackedObject *po;
      void **table;
    } ctx[5] = {
        {&cos->contextObject, &cos->cetpo, (void **)&r->pcontext},
        {&cos->contextTermObject, &cos->cttpo, (void **)&r->pct},
        {&cos->hlIndexObject, &cos->hlitpo, (void **)&r->phli},
        {&cos->hierarchyLevelObject, &cos->hltpo, (void **)&r->phl},
        {&cos->nextNetObject, &cos->nntpo, (void **)&r->pnn},
    };
    for (auto &c : ctx) {
      if (*c.obj) {
        // The table is the object's record: destroying the object frees it.
        if ((*c.obj)->data == *c.table) *c.table = nullptr;
        if (Cntr_ObjDestroy(res, *c.obj)) {
          GS_AppendResult(res, "\r", "Cntr_ObjDestroy failure for in GDPC_Free:", " ",
                          FileCommaLine(__LINE__).c_str(), (char *)nullptr);
          fprintf(stderr, "%s", ResultText(res).c_str());
        }
        *c.obj = nullptr;
      }
      // Packed buffers made for this record go with it, unpacked or not.
      if (cos->ownsPacks) FreePacked(*c.po);
    }
    Drop(r->ContextObjectStructure);
  }
  // Nets known to the record.
  InternalNet *inet = r->InternalNet;
  CntrObj *self = nullptr;
  bool selfReleased = false;
  if (inet && !inet->entries.empty() && inet->entries[0].object && inet->entries[0].object->data == r)
    self = inet->entries[0].object;
  if (inet) {
    inet->fWrite.clear();
    inet->rewrites.clear();
    int last = inet->count > 0 ? inet->count - 1 : 0;
    last = std::min(last, (int)inet->entries.size() - 1);
    int first = kind == REL_LOCAL ? 1 : 0;
    for (int i = last; i >= first && i < (int)inet->cntrfile.size(); i--) {
      InternalNetEntry &e = inet->entries[i];
      if (!e.owned || !inet->cntrfile[i]) continue;
      if (Cntr_ObjFClose(res, inet->cntrfile[i])) {
        if (kind == REL_LOCAL) {
          GS_AppendResult(res, "Cntr_ObjFClose failure for in RTN_FreeLocalRTN: ", FileCommaLine(__LINE__).c_str(),
                          (char *)nullptr);
          return 1;
        }
        fprintf(stderr, "Cntr_ObjFClose failure: file(%s), line(%d)\n%s", "rtnet", __LINE__,
                ResultText(res).c_str());
      }
      inet->cntrfile[i] = nullptr;
      e.owned = 0;
    }
    inet->cntrfile.clear();
    for (int i = last; i >= first; i--) {
      InternalNetEntry &e = inet->entries[i];
      if (e.owned && e.object) {
        if (kind == REL_FREE && r->tclChannel) GDPC_Dot(r);
        ParserControl *sub = static_cast<ParserControl *>(e.object->data);
        if (sub && sub != r && sub->InternalNet)
          for (auto &se : sub->InternalNet->entries)
            if (!se.packOwned) se.hasPacked = 0, se.packed = nullptr;
        if (!e.packOwned) e.hasPacked = 0, e.packed = nullptr;
        if (sub == r) {
          // The record being released wraps itself: only the wrapper goes,
          // and only when no destroy of that very wrapper is under way.
          if (kind == REL_FREE) DB_FREE(e.object);
          selfReleased = true;
        } else if (Cntr_ObjDestroy(res, e.object)) {
          if (kind == REL_LOCAL) {
            GS_AppendResult(res, "Cntr_ObjDestroy failure for in RTN_FreeLocalRTN: ",
                            FileCommaLine(__LINE__).c_str(), (char *)nullptr);
            e.object = nullptr;
            return 1;
          }
          GS_AppendResult(res, "\r", "Cntr_ObjDestroy failure for in GDPC_Free:", " ",
                          FileCommaLine(__LINE__).c_str(), (char *)nullptr);
          fprintf(stderr, "%s", ResultText(res).c_str());
        }
        e.object = nullptr;
      }
      if (e.owned && e.packOwned) {
        // Forgotten here; RTN_Free frees every copy of the tree once.
        e.packed = nullptr;
        e.hasPacked = 0, e.packOwned = 0, e.owned = 0;
        e.timeStamp = 0;
      }
    }
    if (kind == REL_LOCAL) {
      inet->entries.clear();
    } else {
      Drop(r->InternalNet);
    }
  }
  if (self && !selfReleased && kind == REL_FREE) DB_FREE(self);
  // Name, texts and the tree's net table.
  r->szRTNName.clear();
  if (kind != REL_LOCAL) r->pres.clear();
  if (r->depth == 0) DropHash(r->pnht);
  r->pnht = nullptr;
  // The plain tables.
  Drop(r->NetTable);
  Drop(r->TerminalTable);
  Drop(r->UpperTable);
  Drop(r->LowerTable);
  Drop(r->ptlist);
  Drop(r->ptindex);
  Drop(r->SymbolTable);
  Drop(r->GDH_EntryTable);
  if (IsPreparedMark(r->pht)) r->pht = nullptr;
  Drop(r->pht);
  if (IsPreparedMark(r->pulht)) r->pulht = nullptr;
  Drop(r->pulht);
  DropHash(r->plht);
  Drop(r->From);
  Drop(r->nullTo);
  Drop(r->pct);
  Drop(r->phli);
  Drop(r->phl);
  Drop(r->pnn);
  Drop(r->pcontext);
  Drop(r->p);
  Drop(r->nonTerm);
  Drop(r->cNonTerm);
  Drop(r->Rewrite);
  return 0;
}

void FreePacks(std::vector<PackedObject *> &packs) {
  for (PackedObject *po : packs) {
    FreePacked(*po);
    delete po;
  }
  packs.clear();
}

}  // namespace

static void ReleaseMembers(ParserControl *r, GS_Result *res, bool) { Release(r, res, REL_OBJECT); }

GS_Result *RTN_Free(ParserControl *pc) {
  if (!pc) return GS_CreateResult();
  if (pc->tclChannel) GDPC_Dot(pc);
  std::vector<ParserControl *> seen;
  std::vector<PackedObject *> packs;
  CollectPacks(pc, seen, packs);
  GS_Result *res = GS_CreateResult();
  Release(pc, res, REL_FREE);
  GS_DeleteResult(res);
  FreePacks(packs);
  *pc = ParserControl();
  return nullptr;
}

GS_Result *RTN_FreeObject(CntrObj *obj) {
  ParserControl *pc = obj ? static_cast<ParserControl *>(obj->data) : nullptr;
  if (!pc) return GS_CreateResult();
  GS_Result *res = GS_CreateResult();
  Release(pc, res, REL_OBJECT);
  GS_DeleteResult(res);
  *pc = ParserControl();
  return nullptr;
}

void RTN_FreeObjectProc(CntrObj *obj) { GS_DeleteResult(RTN_FreeObject(obj)); }

int RTN_FreeLocalRTN(ParserControl *owner, ParserControl *net) {
  if (!owner || !net) return 0;
  GS_Result *res = GS_CreateResult();
  int rc = Release(net, res, REL_LOCAL);
  owner->pres += ResultText(res);
  GS_DeleteResult(res);
  return rc;
}

// ---------------------------------------------------------------------------
// Packing a compiled net and writing it

namespace {

// Packs `obj` into a new PackedObject (buffer from DB_Malloc).
int PackInto(ParserControl *pc, CntrObj *obj, PackedObject &po, int lengthLine, int packLine) {
  int length = 0;
  if (WithResult(pc, [&](GS_Result *r) { return Cntr_ObjLength(r, obj, &length); })) {
    pc->pres += "Cntr_ObjLength failure in RTN_Containerize: " + LineFile(lengthLine);
    return 1;
  }
  po.buffer = (char *)DB_MALLOC((size_t)std::max(length, 1));
  po.length = length;
  int pos = 0;
  if (WithResult(pc, [&](GS_Result *r) { return Cntr_ObjPack(r, obj, po.buffer, &pos); })) {
    pc->pres += "Cntr_ObjPack failure in GDPC_Containerize: " + LineFile(packLine);
    FreePacked(po);
    return 1;
  }
  return 0;
}

}  // namespace

int RTN_Containerize(ParserControl *pc) {
  RTN_RegisterTypes();
  if (WithResult(pc, [](GS_Result *r) { return Cntr_Init(r); })) {
    pc->pres += "Cntr_Init failure in RTN_Containerize: " + TRAILER;
    return 1;
  }
  Cntr_PathSet(RTN_ContainerPath().c_str(), 0);
  GDPC_Dot(pc);
  if (!pc->ContextObjectStructure) pc->ContextObjectStructure = new ContextObjectStructure();
  ContextObjectStructure *cos = pc->ContextObjectStructure;
  // Tables a record never made are packed empty.
  Grow<char> noChars;
  Grow<HierarchyLevel> noLevels;
  Grow<HierarchyLevelIndex> noIndices;
  Grow<ContextTerm> noTerms;
  Grow<ContextEntry> noEntries;
  struct {
    const char *type, *container;
    void *table;
    PackedObject *po;
  } tables[5] = {
      {"rtn/NextNetTable", "NEXTNET_CONTAINER", pc->pnn ? (void *)pc->pnn : &noChars, &cos->nntpo},
      {"rtn/HierarchyLevelTable", "HIERARCHYLEVEL_CONTAINER", pc->phl ? (void *)pc->phl : &noLevels, &cos->hltpo},
      {"rtn/HLIndexTable", "HLINDEX_CONTAINER", pc->phli ? (void *)pc->phli : &noIndices, &cos->hlitpo},
      {"rtn/ContextTermTable", "CONTEXTTERM_CONTAINER", pc->pct ? (void *)pc->pct : &noTerms, &cos->cttpo},
      {"rtn/ContextTable", "CONTEXTENTRY_CONTAINER", pc->pcontext ? (void *)pc->pcontext : &noEntries,
       &cos->cetpo},
  };
  for (auto &t : tables) {
    const CntrType *type = nullptr;
    if (WithResult(pc, [&](GS_Result *r) { return Cntr_Get(r, t.type, &type); })) {
      pc->pres += std::string("Cntr_Get failure for ") + t.container + " in RTN_Containerize: " + TRAILER;
      return 1;
    }
    CntrObj *obj = WithResult(pc, [&](GS_Result *r) { return Cntr_ObjCreate(r, type, t.table); });
    if (!obj) {
      pc->pres += "Cntr_ObjCreate failure in RTN_Containerize: " + TRAILER;
      return 1;
    }
    FreePacked(*t.po);
    int rc = PackInto(pc, obj, *t.po, __LINE__, __LINE__);
    // The wrapper only served the packing; the table stays the record's.
    DB_FREE(obj);
    if (rc) return 1;
  }
  GDPC_Dot(pc);
  cos->ownsPacks = 1;
  cos->contextAvailable = 1;
  const CntrType *type = nullptr;
  if (WithResult(pc, [&](GS_Result *r) { return Cntr_Get(r, "rtn/RTNet", &type); })) {
    pc->pres += "Cntr_Get failure in RTN_Containerize: " + TRAILER;
    return 1;
  }
  GDPC_Dot(pc);
  InternalNet *inet = pc->InternalNet;
  if (!inet || inet->entries.empty()) {
    pc->pres += "Error: a net without its InternalNet table in RTN_Containerize: " + TRAILER;
    return 1;
  }
  InternalNetEntry &e0 = inet->entries[0];
  if (inet->count && (e0.object || e0.packed)) {
    pc->pres += "Error: a ppc being containerized has a 0'th object and/or 0'th "
                "pPack in GDPC_Containerize: " + TRAILER;
    return 1;
  }
  CntrObj *obj = WithResult(pc, [&](GS_Result *r) { return Cntr_ObjCreate(r, type, pc); });
  if (!obj) {
    pc->pres += "Cntr_ObjCreate failure in RTN_Containerize: " + TRAILER;
    return 1;
  }
  GDPC_Dot(pc);
  e0.object = obj;
  e0.linked = 0;
  obj->freeProc = RTN_FreeObjectProc;
  obj->clientData = nullptr;
  GDPC_Dot(pc);
  PackedObject *po = new PackedObject();
  if (PackInto(pc, obj, *po, __LINE__, __LINE__)) {
    delete po;
    return 1;
  }
  GDPC_Dot(pc);
  e0.packed = po;
  e0.hasPacked = 1, e0.owned = 1, e0.packOwned = 1;
  if (inet->rewrites.empty()) inet->rewrites.assign(inet->entries.size(), nullptr);
  inet->rewrites[0] = pc->Rewrite;
  GDPC_Dot(pc);
  if (pc->NetTable && pc->NetTable->count > 1) inet->count = pc->NetTable->count;
  GDPC_Dot(pc);
  return 0;
}

namespace {

// Name from a NetTable entry "[name]"; empty when it is not bracketed or
// could leave the current directory.
std::string BareName(const std::string &bracketed) {
  if (bracketed.size() < 3 || bracketed[0] != '[') return std::string();
  size_t close = bracketed.find(']');
  if (close == std::string::npos || close < 2) return std::string();
  std::string name = bracketed.substr(1, close - 1);
  if (name[0] == '.' || name.find_first_of("/\\") != std::string::npos) return std::string();
  return name;
}

// Detached packed copies of one write, put back on every path.
struct Detached {
  InternalNet *sub = nullptr;
  ContextObjectStructure *cos = nullptr;
  std::vector<uint8_t> hasPacked;
  std::vector<PackedObject *> packed;
  std::vector<int32_t> length;
  std::vector<char *> buffer;
  int32_t lengths[5] = {};
  bool contextsCleared = false;

  void detach(int i) {
    InternalNetEntry &e = sub->entries[i];
    hasPacked[i] = e.hasPacked;
    if (!e.hasPacked) return;
    packed[i] = e.packed;
    if (e.packed) {
      length[i] = e.packed->length;
      if (e.packed->length) {
        buffer[i] = e.packed->buffer;
        e.packed->buffer = nullptr;
        e.packed->length = 0;
      }
    }
    e.packed = nullptr;
    e.hasPacked = 0;
  }
  void clearContexts() {
    if (!cos) return;
    PackedObject *p[5] = {&cos->cetpo, &cos->cttpo, &cos->hlitpo, &cos->hltpo, &cos->nntpo};
    for (int i = 0; i < 5; i++) lengths[i] = p[i]->length, p[i]->length = 0;
    contextsCleared = true;
  }
  ~Detached() {
    if (!sub) return;
    for (size_t i = 0; i < hasPacked.size(); i++) {
      InternalNetEntry &e = sub->entries[i];
      if (!hasPacked[i]) continue;
      e.hasPacked = hasPacked[i];
      e.packed = packed[i];
      if (e.packed && buffer[i]) {
        e.packed->buffer = buffer[i];
        e.packed->length = length[i];
      }
    }
    if (contextsCleared) {
      PackedObject *p[5] = {&cos->cetpo, &cos->cttpo, &cos->hlitpo, &cos->hltpo, &cos->nntpo};
      for (int i = 0; i < 5; i++) p[i]->length = lengths[i];
    }
  }
};

// Opens an object file for writing. A file that is there but cannot be
// read as one (damaged, or of an older format) is replaced.
CntrFile *OpenForWrite(ParserControl *pc, const std::string &path) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    pc->pres += "Error: " + path + " is there but is not a file: " + TRAILER;
    return nullptr;
  }
  GS_Result *r = GS_CreateResult();
  CntrFile *f = Cntr_ObjFOpen(r, path.c_str(), 1);
  if (!f) {
    if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && remove(path.c_str()) == 0) {
      GS_ResetResult(r);
      f = Cntr_ObjFOpen(r, path.c_str(), 1);
    }
  }
  if (!f) pc->pres += ResultText(r);
  GS_DeleteResult(r);
  return f;
}

}  // namespace

int RTN_Write(ParserControl *pc, int index) {
  RTN_RegisterTypes();
  InternalNet *inet = pc ? pc->InternalNet : nullptr;
  if (!inet || !pc->NetTable || index < 0 || index >= pc->NetTable->count || index >= (int)inet->entries.size()) {
    if (pc) pc->pres += "Error: no net " + std::to_string(index) + " to write in RTN_Write: " + TRAILER;
    return 1;
  }
  CntrObj *object = inet->entries[index].object;
  ParserControl *net = object ? static_cast<ParserControl *>(object->data) : nullptr;
  if (!net) {
    pc->pres += "Error: net " + pc->NetTable->strings[index] + " has no object to write in RTN_Write: " + TRAILER;
    return 1;
  }
  std::string bracketed = pc->NetTable->strings[index];
  std::string name = BareName(bracketed);
  if (name.empty()) {
    pc->pres += "Error: the net name " + bracketed + " cannot name a file in RTN_Write: " + TRAILER;
    return 1;
  }
  Cntr_PathSet(RTN_ContainerPath().c_str(), 0);
  std::string path = name + ".rtn";
  CntrFile *file = index < (int)inet->cntrfile.size() ? inet->cntrfile[index] : nullptr;
  if (file) {
    // The handle kept from reading is used once and closed here.
    inet->cntrfile[index] = nullptr;
  } else if (!(file = OpenForWrite(pc, path))) {
    pc->pres += "Cntr_ObjFOpen failure for " + path + ": " + TRAILER;
    return 1;
  }
  Detached d;
  d.sub = net->InternalNet;
  d.cos = net->ContextObjectStructure;
  size_t slots = d.sub ? std::max<size_t>(d.sub->entries.size(), 1) : 0;
  d.hasPacked.assign(slots, 0);
  d.packed.assign(slots, nullptr);
  d.length.assign(slots, 0);
  d.buffer.assign(slots, nullptr);
  if (d.sub && !d.sub->entries.empty()) d.detach(0);
  // Stores the net object in the open file and closes it; 1 on failure.
  auto store = [&](const char *ext, int writeLine, int closeLine) {
    GDPC_Dot(pc);
    if (WithResult(pc, [&](GS_Result *r) { return Cntr_ObjFWrite(r, file, "rtn/RTNet", object); })) {
      pc->pres += "Cntr_ObjFWrite failure for " + path + ": " + Trailer("rtnet", writeLine);
      WithResult(pc, [&](GS_Result *r) { return Cntr_ObjFClose(r, file); });
      return 1;
    }
    if (WithResult(pc, [&](GS_Result *r) { return Cntr_ObjFClose(r, file); })) {
      pc->pres += "Cntr_ObjFClose failure for " + bracketed + ext + ": " + LineFile(closeLine);
      return 1;
    }
    return 0;
  };
  if (store(".rtn", __LINE__, __LINE__)) return 1;
  path = name + ".net";
  if (!(file = OpenForWrite(pc, path))) {
    pc->pres += "Cntr_ObjFOpen failure for " + path + ": " + TRAILER;
    return 1;
  }
  if (d.sub)
    for (int i = 1; i < d.sub->count && i < (int)d.sub->entries.size(); i++) d.detach(i);
  d.clearContexts();
  if (store(".net", __LINE__, __LINE__)) return 1;
  if (index < (int)inet->fWrite.size()) inet->fWrite[index] = 0;
  return 0;
}

// ---------------------------------------------------------------------------
// Reading a compiled net

namespace {

bool FileTime(const std::string &path, int32_t *t) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  *t = (int32_t)st.st_mtime;
  return true;
}

bool IsTopLevel(const ParserControl *n) { return !n->ptlpc || n->ptlpc == n; }

GDH_HashEntry *FindKey(GDH_HashTable *t, const std::string &key) {
  if (!t || IsPreparedMark(t) || t->deleted || !t->buckets) return nullptr;
  return GDH_FindHashEntry(*t, key.c_str());
}

// Registers net m of n (read from NAME.rtn) in the tables of n's ancestors.
int LinkNets(ParserControl *n, ParserControl *pc, std::vector<PackedObject *> &ownPacks) {
  InternalNet *inet = n->InternalNet;
  ParserControl *T = n->ptlpc;
  for (int m = 0; m < n->NetTable->count; m++) {
    if (IsTopLevel(n)) {
      if (m == 0) inet->entries[0].owned = 1;
      continue;
    }
    const std::string bname = n->NetTable->strings[m];
    const std::string key = "{" + bname + "}";
    InternalNetEntry &em = inet->entries[m];
    // Shared: the top-level net holds the net already.
    bool shared = false;
    int idx = -1;
    GDH_HashEntry *he = nullptr;
    if (FindKey(T->pnht, bname) && (he = FindKey(T->plht, key)) && T->InternalNet &&
        (idx = (int)he->value) >= 0 && idx < (int)T->InternalNet->entries.size() &&
        T->InternalNet->entries[idx].object) {
      InternalNetEntry &te = T->InternalNet->entries[idx];
      if (!te.packed) {
        pc->pres += "Error (in RTN_Read): non-term net found in ptlpc->pht "
                    "with no PackedObject: " + LineFile(__LINE__);
        return 1;
      }
      em.object = te.object;
      em.linked = te.linked, em.timeStamp = te.timeStamp, em.hasPacked = te.hasPacked;
      em.packOwned = 0;  // the top-level net's copy
      if (em.packed && em.packed != te.packed) {
        // The file's own copy of the net gives way to the tree's.
        ownPacks.erase(std::remove(ownPacks.begin(), ownPacks.end(), em.packed), ownPacks.end());
        FreePacked(*em.packed);
        delete em.packed;
      }
      em.packed = te.packed;
      inet->cntrfile[m] = idx < (int)T->InternalNet->cntrfile.size() ? T->InternalNet->cntrfile[idx] : nullptr;
      inet->fWrite[m] = idx < (int)T->InternalNet->fWrite.size() ? T->InternalNet->fWrite[idx] : 0;
      inet->rewrites[m] = static_cast<ParserControl *>(te.object->data)->Rewrite;
      shared = true;
    }
    // A private copy of a net that the tree does not hold yet.
    if (m >= 1 && !shared) {
      if (!em.packed || !em.packed->buffer) {
        pc->pres += "Cntr_ObjUnpack failure in RTN_Read: " + LineFile(__LINE__);
        return 1;
      }
      int pos = 0;
      // The file's own check covered the copy when the file was opened.
      CntrObj *o = WithResult(pc, [&](GS_Result *r) {
        return Cntr_ObjUnpackVerified(r, nullptr, em.packed->buffer, &pos, em.packed->length, 0);
      });
      if (!o || !o->type || strcmp(Cntr_Name(o->type), "rtn/RTNet") != 0) {
        if (o) Cntr_ObjDestroy(nullptr, o);
        pc->pres += "Cntr_ObjUnpack failure in RTN_Read: " + LineFile(__LINE__);
        return 1;
      }
      o->freeProc = RTN_FreeObjectProc;
      em.object = o;
      ParserControl *sub = static_cast<ParserControl *>(o->data);
      sub->ptlpc = T, sub->pnht = T->pnht, sub->pParent = n, sub->depth = (int8_t)(n->depth + 1);
      sub->tclChannel = n->tclChannel;
      inet->rewrites[m] = sub->Rewrite;
    }
    // Register net m in the ancestors.
    int steps = shared ? n->depth - 1 : n->depth;
    ParserControl *A = n->pParent;
    InternalNetEntry *src = shared ? &T->InternalNet->entries[idx] : &em;
    CntrFile *srcFile = shared ? inet->cntrfile[m] : inet->cntrfile[m];
    uint8_t srcWrite = inet->fWrite[m];
    char srcFlag = shared && idx < T->NetTable->count ? T->NetTable->flags[idx] : n->NetTable->flags[m];
    CntrObj *obj = m == 0 ? inet->entries[0].object : em.object;
    for (int s = 0; s < steps && A; s++, A = A->pParent) {
      if (!A->plht || IsPreparedMark(A->plht) || !A->pht || IsPreparedMark(A->pht) || !A->NetTable ||
          !A->InternalNet) {
        pc->pres += "GDPC_CreateHashEntry failure for " + key + " in RTN_Read: " + FileCommaLine(__LINE__);
        return 1;
      }
      bool isNew = false;
      GDH_HashEntry *ke = GDH_CreateHashEntry(*A->plht, key.c_str(), &isNew);
      if (!ke) {
        pc->pres += "GDPC_CreateHashEntry failure for " + key + " in RTN_Read: " + FileCommaLine(__LINE__);
        return 1;
      }
      int j = (int)ke->value;
      if (isNew) {
        if (FindKey(A->plht, bname)) {
          pc->pres += "Error: " + key + " exists in pParentPC->plht but " + bname +
                      " does not --- in RTN_Read: " + FileCommaLine(__LINE__);
          return 1;
        }
        GDH_HashEntry *be = GDH_CreateHashEntry(*A->plht, bname.c_str(), nullptr);
        if (!be) {
          pc->pres += "GDPC_CreateHashEntry failure for " + bname + " in RTN_Read: " + FileCommaLine(__LINE__);
          return 1;
        }
        if (GDPC_StringFind(*A->pht, bname.c_str(), bname.size()) >= 0) {
          pc->pres += "Error: " + key + " exists in pParentPC->pht but " + bname +
                      " does not --- in RTN_Read: " + FileCommaLine(__LINE__);
          return 1;
        }
        bool pnew = false;
        int pe = GDPC_StringCreate(*A->pht, bname.c_str(), bname.size(), &pnew);
        if (pe < 0) {
          pc->pres += "GDPC_CreateHashEntry failure for " + bname + " in RTN_Read: " + FileCommaLine(__LINE__);
          return 1;
        }
        j = A->NetTable->count;
        if (GDPC_AppendString(A, A->NetTable, bname, A->pht->entry[pe].key) != j) {
          pc->pres += A->pres;
          return 1;
        }
        while ((int)A->InternalNet->entries.size() < A->NetTable->capacity) A->InternalNet->entries.emplace_back();
        A->InternalNet->rewrites.resize(A->InternalNet->entries.size(), nullptr);
        A->InternalNet->cntrfile.resize(A->InternalNet->entries.size(), nullptr);
        A->InternalNet->fWrite.resize(A->InternalNet->entries.size(), 0);
        A->InternalNet->capacity = (int32_t)A->InternalNet->entries.size();
        A->pht->entry[pe].value = j;
        ke->value = j;
        be->value = -1;
      }
      if (j < 0 || j >= (int)A->InternalNet->entries.size()) {
        pc->pres += "GDPC_CreateHashEntry failure for " + key + " in RTN_Read: " + FileCommaLine(__LINE__);
        return 1;
      }
      // The tree's net table learns a new net.
      if (m >= 1 && !shared && T->pnht && !IsPreparedMark(T->pnht)) {
        GDH_HashEntry *ne = GDH_CreateHashEntry(*T->pnht, bname.c_str(), nullptr);
        if (!ne) {
          pc->pres += "GDPC_CreateHashEntry failure for " + bname + " in ptlpc->pnht in RTN_Read: " +
                      FileCommaLine(__LINE__);
          return 1;
        }
        ne->value = j;
      }
      InternalNetEntry &ae = A->InternalNet->entries[j];
      ae.object = obj;
      ae.packed = src->packed, ae.linked = src->linked, ae.timeStamp = src->timeStamp;
      ae.hasPacked = src->hasPacked;
      A->InternalNet->cntrfile[j] = srcFile;
      A->InternalNet->fWrite[j] = srcWrite;
      A->InternalNet->rewrites[j] = obj && obj->data ? static_cast<ParserControl *>(obj->data)->Rewrite : nullptr;
      A->NetTable->flags[j] = (char)(srcFlag & 1);
      if (IsTopLevel(A)) {
        ae.owned = 1;
        ae.packOwned = em.packOwned;
      }
      A->InternalNet->count = A->NetTable->count;
    }
    if (steps <= 0 && !shared && n->depth == 0) em.owned = 1;
  }
  return 0;
}

}  // namespace

ParserControl *RTN_Read(ParserControl *pc, const char *name, int *fReadStatus) {
  RTN_RegisterTypes();
  if (*fReadStatus == RS_GRA) {
    if (pc)
      pc->pres += "Useage Error: RTN_Read cannot be called with its third arguement,\n"
                  "fReadStatus, set to RS_GRA --- that would indicate that this\n"
                  "network should NOT be read-in from its .rtn file, but built from its\n"
                  ".gra file: " + TRAILER;
    *fReadStatus = RS_FAILED;
    return nullptr;
  }
  int want = *fReadStatus;
  *fReadStatus = RS_FAILED;
  if (!pc || !pc->pht || pc->nonTerm || (want != RS_RTN && want != RS_NET)) {
    fprintf(stderr,
            "Useage Error: RTN_Read expects a pointer to an allocated,\ninitialized, but empty ParserControl "
            "structure as its first agruement:\nline(%d),\nfile(%s)",
            __LINE__, "rtnet");
    return nullptr;
  }
  if (WithResult(pc, [](GS_Result *r) { return Cntr_Init(r); })) return nullptr;
  Cntr_PathSet(RTN_ContainerPath().c_str(), 0);
  std::string path = std::string(name) + (want == RS_RTN ? ".rtn" : ".net");
  int32_t fileTime = 0;
  if (!FileTime(path, &fileTime)) {
    pc->pres += "Error: cannot find " + path + " in RTN_Read: " + TRAILER;
    return nullptr;
  }
  // A file that cannot be read back whole (damaged, truncated, of another
  // format) is not an error of the grammar: it is compiled again.
  GS_Result *r = GS_CreateResult();
  CntrFile *file = Cntr_ObjFOpen(r, path.c_str(), 1);
  CntrObj *obj = file ? Cntr_ObjFRead(r, file, "rtn/RTNet") : nullptr;
  GS_DeleteResult(r);
  if (obj && (!obj->type || strcmp(Cntr_Name(obj->type), "rtn/RTNet") != 0)) {
    Cntr_ObjDestroy(nullptr, obj);
    obj = nullptr;
  }
  if (!obj) {
    if (file) Cntr_ObjFClose(nullptr, file);
    *fReadStatus = RS_GRA;
    return nullptr;
  }
  ParserControl *n = static_cast<ParserControl *>(obj->data);
  obj->freeProc = RTN_FreeObjectProc;
  // Packed copies that came with the file or are made here: the record's
  // own until the linking hands them on.
  std::vector<PackedObject *> ownPacks;
  if (n->InternalNet)
    for (auto &e : n->InternalNet->entries)
      if (e.packed) ownPacks.push_back(e.packed);
  auto failure = [&]() -> ParserControl * {
    if (n->InternalNet && !n->InternalNet->cntrfile.empty()) n->InternalNet->cntrfile[0] = nullptr;
    Cntr_ObjFClose(nullptr, file);
    // The copies made here are the record's alone; whatever the linking
    // already handed to the records above forgets them again.
    std::vector<PackedObject *> &packs = ownPacks;
    for (ParserControl *a = n->pParent; a; a = a->pParent) {
      if (!a->InternalNet) continue;
      for (auto &e : a->InternalNet->entries) {
        if (e.object == obj) e.object = nullptr, e.owned = 0;
        if (e.packed && std::find(packs.begin(), packs.end(), e.packed) != packs.end())
          e.packed = nullptr, e.hasPacked = 0, e.packOwned = 0;
      }
    }
    n->pnht = nullptr;  // the tree's, not the record's
    if (n->InternalNet)
      for (auto &e : n->InternalNet->entries) e.packed = nullptr, e.hasPacked = 0;
    Cntr_ObjDestroy(nullptr, obj);
    FreePacks(packs);
    return nullptr;
  };
  // What the caller's record gives.
  n->pnht = pc->pnht, n->ptlpc = pc->ptlpc, n->pParent = pc->pParent, n->pszNextNet = pc->pszNextNet;
  n->depth = pc->depth;
  n->tclChannel = pc->tclChannel, n->dotCount = pc->dotCount;
  const ParserControl *flags = pc->ptlpc ? pc->ptlpc : pc;
  n->fPrintAllocs = flags->fPrintAllocs, n->fLogAllocs = flags->fLogAllocs, n->fRebuild = flags->fRebuild;
  n->pszContainerPath = pc->pszContainerPath;
  n->szRTNName.clear();
  n->plht = nullptr;
  if (!n->InternalNet) {
    n->InternalNet = new InternalNet();
  }
  // Entries: no objects; sized to the net table.
  InternalNet *inet = n->InternalNet;
  int nets = n->NetTable->count;
  if ((int)inet->entries.size() < nets) inet->entries.resize(nets);
  inet->rewrites.assign(inet->entries.size(), nullptr);
  inet->cntrfile.assign(inet->entries.size(), nullptr);
  inet->fWrite.assign(inet->entries.size(), 0);
  for (size_t i = 0; i < inet->entries.size(); i++) {
    InternalNetEntry &e = inet->entries[i];
    e.object = nullptr;
    e.linked = 0;
    e.owned = 0;
    auto dropPack = [&](PackedObject *po) {
      if (!po) return;
      ownPacks.erase(std::remove(ownPacks.begin(), ownPacks.end(), po), ownPacks.end());
      FreePacked(*po);
      delete po;
    };
    if (i == 0) dropPack(e.packed);
    if (i == 0) {
      e = InternalNetEntry();
    } else if (want == RS_NET) {
      // A net read from NAME.net carries no copies of the nets below it.
      dropPack(e.packed);
      int32_t t = e.timeStamp;
      e = InternalNetEntry();
      e.timeStamp = t;
    }
  }
  inet->count = inet->capacity = nets;
  inet->step = 2;
  n->NetTable->capacity = nets;
  n->NetTable->step = 2;
  // Entry 0 is the net itself, with the file it was read from.
  inet->entries[0].object = obj;
  inet->entries[0].owned = 1;
  inet->entries[0].linked = 1;
  inet->cntrfile[0] = file;
  for (int i = 1; i < nets; i++) {
    InternalNetEntry &e = inet->entries[i];
    e.owned = 0, e.packOwned = 0;
    if (want == RS_RTN) e.linked = 1, e.hasPacked = e.packed ? 1 : 0;
  }
  // Every net's grammar file against its compiled file.
  for (int m = 0; m < nets; m++) {
    if (!n->fRebuild) continue;
    std::string bare = BareName(n->NetTable->strings[m]);
    if (bare.empty()) {
      pc->pres += "RTN_Create: sprintf failure for " + n->NetTable->strings[m] + ".gra in RTN_Read: " +
                  LineFile(__LINE__);
      return failure();
    }
    int32_t graTime = 0, rtnTime = 0;
    if (!FileTime(bare + ".gra", &graTime)) {
      pc->pres += "Error: No \".gra\" file exists to define a grammar for " + bare + " in RTN_Read: " +
                  LineFile(__LINE__);
      return failure();
    }
    bool haveRtn = FileTime(bare + ".rtn", &rtnTime);
    if (haveRtn && graTime > rtnTime) {
      *fReadStatus = RS_GRA;
      return failure();
    }
    // The net's own stamp is the record's (its entry was cleared above).
    int32_t stamp = m == 0 ? n->graTimeStamp : inet->entries[m].timeStamp;
    if (graTime > stamp) {
      *fReadStatus = RS_RTN;
      return failure();
    }
  }
  // Tape-string tables keep room for two strings even when empty.
  for (StringTable *t : {n->UpperTable, n->LowerTable})
    if (t && t->count == 0) {
      t->strings.assign(2, std::string());
      t->offsets.assign(2, -1);
      t->tlist.assign(2, -1);
      t->capacity = 2;
      t->step = 2;
    }
  // Tables read back have room for exactly what they hold.
  n->pht->entry.reserve(n->pht->entry.size());
  // No context objects until the tables are unpacked.
  ContextObjectStructure *cos = n->ContextObjectStructure;
  if (!cos) cos = n->ContextObjectStructure = new ContextObjectStructure();
  cos->contextObject = cos->contextTermObject = cos->hlIndexObject = cos->hierarchyLevelObject =
      cos->nextNetObject = nullptr;
  cos->unpacked = 0;
  cos->ownsPacks = 1;  // the buffers came with the record read
  inet->entries[0].timeStamp = n->graTimeStamp;
  // A packed copy of itself, for the nets that reference it.
  if (!(want == RS_NET && IsTopLevel(n))) {
    PackedObject *po = new PackedObject();
    int length = 0;
    if (WithResult(pc, [&](GS_Result *rr) { return Cntr_ObjLength(rr, obj, &length); })) {
      delete po;
      pc->pres += "Cntr_ObjLength failure in RTN_Read: " + LineFile(__LINE__);
      return failure();
    }
    po->length = length;
    // No net references the top-level net (a net may not reach itself), so
    // its copy is only ever measured: its bytes, as large as the whole tree
    // with the copies of every net below, are not made.
    int pos = 0;
    if (!IsTopLevel(n)) po->buffer = (char *)DB_MALLOC((size_t)std::max(length, 1));
    if (po->buffer && WithResult(pc, [&](GS_Result *rr) { return Cntr_ObjPack(rr, obj, po->buffer, &pos); })) {
      FreePacked(*po);
      delete po;
      pc->pres += "Cntr_ObjPack failure in GDPC_AddNTArc: " + LineFile(__LINE__);
      return failure();
    }
    ownPacks.push_back(po);
    inet->entries[0].packed = po;
    inet->entries[0].hasPacked = 1;
    inet->entries[0].packOwned = 1;
  }
  inet->rewrites[0] = n->Rewrite;
  // A fresh local table.
  n->plht = new GDH_HashTable();
  GDH_InitHashTable(*n->plht, 0, 128);
  // Only NAME.rtn carries context tables and copies of the nets below.
  if (want == RS_NET) {
    cos->contextAvailable = 0;
  } else {
    cos->contextAvailable = 1;
    if (LinkNets(n, pc, ownPacks)) return failure();
  }
  inet->count = nets >= 2 ? nets : 0;
  *fReadStatus = want;
  return n;
}

// ---------------------------------------------------------------------------
// The printed listing

namespace {

const std::string &StringAt(const StringTable *t, int i) {
  static const std::string none;
  return t && i >= 0 && i < t->count ? t->strings[i] : none;
}

void PrintStringTable(FILE *out, const char *title, const StringTable *t) {
  fprintf(out, "\n%s:\nIndex\tOffset\tEntry\n-----\t------\t-----\n", title);
  for (int i = 0; t && i < t->count; i++) fprintf(out, "%d\t%d\t%s\n", i, t->offsets[i], t->strings[i].c_str());
  fprintf(out, "\n");
}

void PrintSideTable(FILE *out, const char *title, const ParserControl *pc, const StringTable *t) {
  fprintf(out, "\n%s:\nIndex\tOffset\tEntry\n-----\t------\t-----\n", title);
  for (int i = 0; t && i < t->count; i++) {
    const std::string &text = t->strings[i];
    fprintf(out, "%d\t%d\t%s", i, t->offsets[i], text.c_str());
    size_t tab = text.rfind('\t');
    size_t n = tab == std::string::npos ? text.size() : text.size() - tab;
    fprintf(out, "%s", n > 16 ? "\t" : n > 8 ? "\t\t" : "\t\t\t");
    int list = i < (int)t->tlist.size() ? t->tlist[i] : -1;
    if (pc->ptlist && pc->ptindex && list >= 0 && list < pc->ptlist->count) {
      int steps = 0;
      for (int k = (*pc->ptlist)[list].first; k >= 0 && k < pc->ptindex->count && steps <= pc->ptindex->count;
           k = (*pc->ptindex)[k].next, steps++)
        fprintf(out, "%s ", StringAt(pc->TerminalTable, (*pc->ptindex)[k].terminal).c_str());
    }
    fprintf(out, "\n");
  }
  fprintf(out, "\n");
}

// Net names of a symbol text: its '_'-separated parts, each led by the
// NetTable index of its net.
std::vector<std::pair<std::string, std::string>> Breakdown(const ParserControl *pc, const std::string &text) {
  std::vector<std::pair<std::string, std::string>> parts;
  size_t start = 0;
  for (;;) {
    size_t us = text.find('_', start);
    std::string seg = text.substr(start, us == std::string::npos ? std::string::npos : us - start);
    int idx = atoi(seg.c_str());
    parts.emplace_back(StringAt(pc->NetTable, idx), seg);
    if (us == std::string::npos) break;
    start = us + 1;
  }
  return parts;
}

std::string Tabs(int n) { return std::string((size_t)n, '\t'); }

int PrintOrigins(FILE *out, ParserControl *pc) {
  fprintf(out,
          "\nFrom Structure entries:\nFromTag\t\tFrom\tContextGroup\t\tPrefix\t\t\tToTag\t\t\tToState\tSelf-Loop "
          "Depth\n-------\t\t----\t------------\t\t------\t\t\t-----\t\t\t-------\t---------------\n");
  const FromTable *f = pc->From;
  const std::string rule = "\n" + Tabs(9) + std::string(32, '-') + "\n";
  for (int o = 0; f && o < f->count; o++) {
    const Origin &org = (*f)[o];
    const std::string &oname = StringAt(pc->SymbolTable, org.symbol);
    fprintf(out, "index(%d): ", o);
    fprintf(out, "([fActive(%d)] origin: %s)\n", org.fActive, oname.c_str());
    auto parts = Breakdown(pc, oname);
    for (size_t k = 0; k < parts.size(); k++) {
      const std::string &nm = parts[k].first;
      fprintf(out, "%s%s%s%s", k ? "\n" : "", nm.c_str(), nm.size() > 15 ? "\n\t\t" : nm.size() > 7 ? "\t" : "\t\t",
              parts[k].second.c_str());
    }
    fprintf(out, "\t");
    for (int g = 0; g < org.group.count; g++) {
      const ContextGroup &grp = org.group[g];
      fprintf(out, "cgi #(%s%d:%s%d)\n\t\t\t", g < 10 ? "0" : "", g, grp.groupNumber < 10 ? "0" : "",
              grp.groupNumber);
      fprintf(out, "------------\n\t\t\t");
      for (int j = 0; j < grp.term.count; j++) {
        const std::string &tt = StringAt(pc->TerminalTable, grp.term[j]);
        size_t n = tt.size() + 3;
        fprintf(out, "%s%d %s%s", j < 10 ? "0" : "", j, tt.c_str(),
                j + 1 < grp.term.count ? "\n\t\t\t" : n <= 7 ? "\t\t\t" : n <= 15 ? "\t\t" : "\t");
      }
      for (int k = 0; k < grp.tpa.count; k++) {
        const TermPrefixArc &tpa = grp.tpa[k];
        if (tpa.prefix < 0 || tpa.prefix >= org.prefix.count) continue;
        const OriginPrefix &pre = org.prefix[tpa.prefix];
        const std::string &pname = StringAt(pc->SymbolTable, pre.symbol);
        char lead[32];
        snprintf(lead, sizeof lead, "%-3d ", tpa.prefix);
        size_t n = pname.size();
        fprintf(out, "%s%s%s", lead, pname.c_str(),
                n <= 7 ? "\t\t\t" : n <= 15 ? "\t\t" : n <= 23 ? "\t" : ("\n" + Tabs(9)).c_str());
        for (int a = 0; a < tpa.arc.count; a++) {
          if (tpa.arc[a] >= pre.arc.count) continue;
          const PrefixArc &arc = pre.arc[tpa.arc[a]];
          const std::string &to = StringAt(pc->SymbolTable, arc.symbol);
          fprintf(out, "(to: %s)\n%s", to.c_str(), Tabs(9).c_str());
          auto tp = Breakdown(pc, to);
          for (size_t e = 0; e < tp.size(); e++) {
            const std::string &nm = tp[e].first;
            fprintf(out, "%s%s%s%s", nm.c_str(), nm.size() > 15 ? "\t" : nm.size() > 7 ? "\t\t" : "\t\t\t",
                    tp[e].second.c_str(), e + 1 < tp.size() ? ("\n" + Tabs(9)).c_str() : "");
          }
          std::string sep = a + 1 < tpa.arc.count ? rule + Tabs(9)
                            : k + 1 < grp.tpa.count ? rule + Tabs(6)
                            : g + 1 < org.group.count ? "\n\n\t\t\t"
                                                      : "\n\n";
          std::string depth = arc.selfLoopDepth ? std::to_string(arc.selfLoopDepth) : "";
          fprintf(out, ":%d%s%s%s%s", arc.ToState, arc.selfLoopDepth ? " fSLP(" : "", depth.c_str(),
                  arc.selfLoopDepth ? ")" : "", sep.c_str());
          if (arc.ToState != 1) {
            std::string key = to + ":" + std::to_string(arc.ToState) + " FO";
            int e = pc->pht ? GDPC_StringFind(*pc->pht, key.c_str(), key.size()) : -1;
            if (e < 0) {
              pc->pres += "GDPC_FindHashEntry failure for szActiveFromOrigin(" + key + "): " + TRAILER;
              return 1;
            }
            int dest = pc->pht->entry[e].value;
            if (dest < 0 || dest >= f->count || (*f)[dest].fActive != 1) {
              pc->pres += "Error: an active foi(" + std::to_string(dest) + ") is not flagged as such: " + TRAILER;
              return 1;
            }
          }
        }
      }
    }
  }
  return 0;
}

}  // namespace

// The memory that the origin table takes, counted with the fixed record
// sizes of the memory report; *empty receives the spare part.
int RTN_FromMemory(const ParserControl *pc, int *empty) {
  const FromTable *f = pc->From;
  *empty = 0;
  if (!f) return 24;
  long size = 24, spare = 0;
  for (int o = 0; o < f->capacity && o < (int)f->table.size(); o++) {
    const Origin &org = (*f)[o];
    size += 32;
    if (o >= f->count) spare += 32;
    for (int p = 0; p < org.prefix.capacity && p < (int)org.prefix.table.size(); p++) {
      const OriginPrefix &pre = org.prefix[p];
      size += 24;
      if (p >= org.prefix.count) spare += 24;
      for (int a = 0; a < pre.arc.capacity && a < (int)pre.arc.table.size(); a++) {
        const PrefixArc &arc = pre.arc[a];
        size += 24 + 4L * arc.terminal.capacity;
        if (a >= pre.arc.count) spare += 24;
        spare += 4L * (arc.terminal.capacity - arc.terminal.count);
      }
    }
    for (int g = 0; g < org.group.capacity && g < (int)org.group.table.size(); g++) {
      const ContextGroup &grp = org.group[g];
      size += 36 + 4L * grp.term.capacity;
      if (g >= org.group.count) spare += 36;
      spare += 4L * (grp.term.capacity - grp.term.count);
      for (int k = 0; k < grp.tpa.capacity && k < (int)grp.tpa.table.size(); k++) {
        const TermPrefixArc &tpa = grp.tpa[k];
        size += 20 + 2L * tpa.arc.capacity;
        if (k >= grp.tpa.count) spare += 20;
        spare += 2L * (tpa.arc.capacity - tpa.arc.count);
      }
    }
  }
  *empty = (int)spare;
  return (int)size;
}

int RTN_CompareFoiTermEntries(const void *a, const void *b) {
  const FoiTermEntry *x = static_cast<const FoiTermEntry *>(a), *y = static_cast<const FoiTermEntry *>(b);
  if (x->foi > y->foi) return -1;
  if (x->foi < y->foi) return 1;
  return x->term > y->term ? 1 : 0;
}

int RTN_Print(ParserControl *pc, int mask) {
  if (!pc) return 1;
  FILE *out = stdout;
  if (mask & PRINT_TOFILE) {
    out = fopen("fromtable.txt", "w");
    if (!out) {
      pc->pres += "fopen failure for fromtable.txt in RTN_Print: " + AtTrailer(__LINE__);
      return 1;
    }
  }
  int rc = 0;
  auto done = [&](int code) {
    if (out != stdout) fclose(out);
    else fflush(stdout);
    return code;
  };
  if (mask & PRINT_CONTEXTS) {
    if (pc->ContextObjectStructure && pc->ContextObjectStructure->contextAvailable) {
      if (GDPC_PrintContextEntries(pc, out)) return done(1);
    } else {
      fprintf(out, "Context entries are not available. Try an rp init command with the \"rebuild\" flag set to 1.\n");
    }
  }
  if (mask & (PRINT_NETS | PRINT_ALL_STRINGS)) PrintStringTable(out, "NetTable", pc->NetTable);
  if (mask & (PRINT_TERMS | PRINT_ALL_STRINGS)) PrintStringTable(out, "TermTable", pc->TerminalTable);
  if (mask & (PRINT_UPPERS | PRINT_ALL_STRINGS)) PrintSideTable(out, "UpperTable", pc, pc->UpperTable);
  if (mask & (PRINT_LOWERS | PRINT_ALL_STRINGS)) PrintSideTable(out, "LowerTable", pc, pc->LowerTable);
  if (mask & (PRINT_SYMBOLS | PRINT_ALL_STRINGS)) PrintStringTable(out, "SymbolTable", pc->SymbolTable);
  GDH_HashTable *plht = pc->plht && !IsPreparedMark(pc->plht) && !pc->plht->deleted ? pc->plht : nullptr;
  if ((mask & PRINT_LOCALHASH) && plht && plht->entryCount > 0) {
    fprintf(out, "\nLocal Hash Table Entries:\nIndex\tValue\tEntry\n-----\t------\t-----\n");
    HashWalk walk;
    int i = 0;
    for (GDH_HashEntry *e = GDH_FirstHashEntry(*plht, walk); e; e = GDH_NextHashEntry(walk))
      fprintf(out, "%d\t%d\t%s\n", i++, (int)e->value, e->key);
  }
  UL_HashTable *pulht = pc->pulht && !IsPreparedMark(pc->pulht) ? pc->pulht : nullptr;
  if ((mask & PRINT_LEFTCORNERS) && pulht && !pulht->entry.empty()) {
    std::vector<FoiTermEntry> rows;
    for (int b : pulht->buckets)
      for (int e = b; e >= 0; e = pulht->entry[e].next) {
        FoiTermEntry r;
        r.foi = pulht->entry[e].a;
        r.term = pulht->entry[e].b;
        r.termText = StringAt(pc->TerminalTable, r.term).c_str();
        int sym = pc->From && r.foi >= 0 && r.foi < pc->From->count ? (*pc->From)[r.foi].symbol : -1;
        r.originName = StringAt(pc->SymbolTable, sym).c_str();
        rows.push_back(r);
      }
    std::stable_sort(rows.begin(), rows.end(), [](const FoiTermEntry &x, const FoiTermEntry &y) {
      return x.foi != y.foi ? x.foi > y.foi : x.term < y.term;
    });
    fprintf(out, "\nFoi/LeftCorner-Term Hash Table Entries:\nIndex\tfoi\t\t\tterm\n-----\t---\t\t\t----\n");
    for (size_t k = 0; k < rows.size(); k++) {
      if (k && rows[k].foi != rows[k - 1].foi) fprintf(out, "\n");
      size_t n = strlen(rows[k].originName);
      fprintf(out, "%d\t%s%s%s\n", (int)k, rows[k].originName, n > 15 ? "\t" : n > 7 ? "\t\t" : "\t\t\t",
              rows[k].termText);
    }
  }
  if (mask & PRINT_ORIGINCOUNT) {
    int a = 0, c = pc->From ? pc->From->count : 0;
    for (int o = 0; o < c; o++) a += (*pc->From)[o].fActive ? 1 : 0;
    fprintf(out, "\nRun-time States(%d) Compile-time only Connecting States(%d) Total(%d)\n", a, c - a, c);
    int empty = 0, size = RTN_FromMemory(pc, &empty);
    fprintf(out, "Origin Structure Memory Size in bytes(%d) empty(%d)\n\n", size, empty);
  }
  if ((mask & PRINT_ORIGINS) && PrintOrigins(out, pc)) return done(1);
  if (mask & PRINT_STATS) {
    const char *rule = "\n---------------------------------------------\n";
    if (pc->pht && !IsPreparedMark(pc->pht))
      fprintf(out, "%sSerializable Hash Table Statistics:\n%s\n", rule, GDPC_HashStats(*pc->pht).c_str());
    if (pulht) fprintf(out, "%sTerm/Group Serializable Hash Table Statistics:\n%s\n", rule, UL_HashStats(*pulht).c_str());
    if (plht) fprintf(out, "%sLocal Hash Table Statistics:\n%s\n", rule, GDH_HashStats(*plht).c_str());
  }
  return done(rc);
}

}  // namespace rtn
