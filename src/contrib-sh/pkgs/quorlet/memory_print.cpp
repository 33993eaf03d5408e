// The memory report of a ParserControl (rp print memory | map | string).
//
// Sizes are counted with the record layout the report has always shown
// (fixed header and element sizes per table), whatever the layout of our
// own records; capacities are those of the tables' growth rules. Addresses
// are whole 64-bit values in hex.
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "GDPC_Hash.h"
#include "pc.h"
#include "rtn_io.h"

namespace rtn {

namespace {

struct Report {
  FILE *out;
  int level;  // 0 sizes, 1 with addresses, 2 with every string
  long total = 52, empty = 0;

  void Size(const char *name, long s, long e, bool counted = true) {
    fprintf(out, "%s(%ld) empty(%ld)\n", name, s, e);
    if (counted) total += s, empty += e;
  }
  // A member's width, added to nothing.
  template <class T>
  void Scalar(const char *name, int width, const T *member) {
    fprintf(out, "%s(%d)\n", name, width);
    Span(member, sizeof *member);
  }
  void Span(const void *p, size_t n) {
    if (level) fprintf(out, "  %" PRIxPTR " %" PRIxPTR "\n", (uintptr_t)p, (uintptr_t)p + n);
  }
  // "  (%d) first past" of a member or a header.
  void Part(int width, const void *p, size_t n) {
    if (level) fprintf(out, "  (%d) %" PRIxPTR " %" PRIxPTR "\n", width, (uintptr_t)p, (uintptr_t)p + n);
  }
  void Array(const char *title, long used, long size, const void *first) {
    if (!level || size <= 0) return;
    uintptr_t a = (uintptr_t)first;
    fprintf(out, "  %s (%ld:%ld) %" PRIxPTR " %" PRIxPTR " %" PRIxPTR "\n", title, used, size, a, a + used, a + size);
  }
  // A table member: its pointer, then its header when it exists.
  template <class T>
  void Table(T *const *member, int header) {
    Part(4, member, sizeof *member);
    if (*member) Part(header, *member, (size_t)header);
  }
  void Strings(const StringTable *t) {
    if (level < 2 || !t) return;
    for (int i = 0; i < t->count; i++) {
      const std::string &s = t->strings[i];
      uintptr_t a = (uintptr_t)s.c_str();
      fprintf(out, "    key(%d): (%d) %" PRIxPTR " %" PRIxPTR " (%s)\n", i, (int)s.size() + 1, a, a + s.size() + 1,
              s.c_str());
    }
  }
};

template <class T>
long Spare(const Grow<T> &g) {
  return (long)g.capacity - g.count;
}

// Key storage of a string table as its growth rule sizes it: the keys,
// replayed in creation order from a table made with room for 128.
long KeyTableSize(const GDPC_HashTable &t) {
  GDPC_HashTable shape;
  GDPC_InitHashTable(shape, 128);
  long size = (long)(shape.growAt + 1) * 24, used = 0, count = 0;
  int32_t growAt = shape.growAt, level = shape.sizeLevel;
  for (const GDPC_HashEntry &e : t.entry) {
    size_t len = e.key >= 0 && (size_t)e.key < t.key.size() ? strlen(t.key.data() + e.key) : 0;
    long needed = used + (long)len + 1;
    while (needed >= size) size *= 2;
    used = needed;
    if (++count >= growAt) {
      GDPC_HashTable next;
      next.sizeLevel = ++level;
      GDPC_SetDerived(next);
      size = size / (growAt + 1) * (next.growAt + 1);
      growAt = next.growAt;
    }
  }
  return size;
}

bool Real(const void *p) { return p && reinterpret_cast<uintptr_t>(p) != 1; }

}  // namespace

void RTN_PrintMemory(const ParserControl *pc, FILE *out, int level) {
  Report r{out, level};
  // 1
  if (Real(pc->pnht)) {
    long b = pc->pnht->bucketCount > 0 ? pc->pnht->bucketCount : 0;
    r.Size("pnht", 44 + 4 * b, 4 * b);
  } else {
    r.Size("pnht", 4, 0);
  }
  r.Scalar("ptlpc", 4, &pc->ptlpc);
  r.Scalar("pParent", 4, &pc->pParent);
  r.Scalar("pszNextNet", 4, &pc->pszNextNet);
  r.Scalar("depth", 1, &pc->depth);
  r.Scalar("szRTNName", 4, &pc->szRTNName);
  r.Scalar("graTimeStamp", 4, &pc->graTimeStamp);
  r.Scalar("fPrintAllocs", 1, &pc->fPrintAllocs);
  r.Scalar("fLogAllocs", 1, &pc->fLogAllocs);
  r.Scalar("fRebuild", 1, &pc->fRebuild);
  r.Scalar("fDots", 1, &pc->fDots);
  r.Scalar("pres", 4, &pc->pres);
  // 13 to 15: the string table; its two detail lines count once, in 15.
  if (Real(pc->pht)) {
    const GDPC_HashTable &t = *pc->pht;
    long es = t.growAt + 1, eu = (long)t.entry.size();
    long s1 = 12 * es, e1 = 12 * (es - eu);
    r.Size("prtn->pht->entry.table", s1, e1, false);
    r.Part(12, &t.entry, sizeof t.entry);
    r.Array("table:", 12 * eu, s1, t.entry.data());
    long ks = KeyTableSize(t), ku = (long)t.key.size();
    r.Size("prtn->pht->key.table", ks, ks - ku, false);
    r.Part(12, &t.key, sizeof t.key);
    r.Array("table:", ku, ks, t.key.data());
    r.Size("prtn->pht", s1 + 4 * (long)t.buckets.size() + 64 + ks, e1 + ks - ku);
  } else {
    r.Size("prtn->pht", 4, 0);
  }
  // 16, 17
  if (Real(pc->pulht)) {
    const UL_HashTable &t = *pc->pulht;
    long es = t.growAt + 1, eu = (long)t.entry.size();
    long s1 = 12 * es, e1 = 12 * (es - eu);
    r.Size("prtn->pulht->entry.table", s1, e1, false);
    r.Part(12, &t.entry, sizeof t.entry);
    r.Array("table:", 12 * eu, s1, t.entry.data());
    r.Size("prtn->pulht", s1 + 4 * (long)t.buckets.size() + 4, e1);
  } else {
    r.Size("prtn->pulht", 4, 0);
  }
  // 18 to 24
  auto strings = [&](const char *name, StringTable *const *m, int head, int elem, int header, bool tapes) {
    const StringTable *t = *m;
    if (t) r.Size(name, head + (long)elem * t->capacity, (long)elem * (t->capacity - t->count));
    else r.Size(name, 4, 0);
    r.Table(m, header);
    if (!t) return;
    const char *title = strcmp(name, "NetTable") == 0 ? "name:" : "string:";
    r.Array(title, 4L * t->count, 4L * t->capacity, t->strings.data());
    r.Strings(t);
    if (tapes) r.Array("term: ", 4L * t->count, 4L * t->capacity, t->tlist.data());
  };
  strings("TerminalTable", &pc->TerminalTable, 24, 4, 20, false);
  strings("UpperTable", &pc->UpperTable, 28, 8, 24, true);
  strings("LowerTable", &pc->LowerTable, 28, 8, 24, true);
  auto grow = [&](const char *name, auto *const *m, long head, long elem, int header, const char *title) {
    auto *t = *m;
    if (t) r.Size(name, head + elem * t->capacity, elem * Spare(*t));
    else r.Size(name, 4, 0);
    r.Table(m, header);
    if (t && title) r.Array(title, elem * t->count, elem * t->capacity, t->table.data());
  };
  grow("ptlist", &pc->ptlist, 20, 12, 16, "table:");
  grow("ptindex", &pc->ptindex, 20, 8, 16, "table:");
  strings("SymbolTable", &pc->SymbolTable, 24, 4, 20, false);
  strings("NetTable", &pc->NetTable, 28, 5, 24, false);
  // 25
  if (const Rewrite *rw = pc->Rewrite) {
    long s = 36, e = 24 * Spare(rw->rhb);
    for (int i = 0; i < rw->rhb.capacity && i < (int)rw->rhb.table.size(); i++) {
      const RewriteSide &side = rw->rhb.table[i];
      s += 24;
      e += 16 * Spare(side.rhs);
      for (int a = 0; a < side.rhs.capacity && a < (int)side.rhs.table.size(); a++) {
        s += 16 + 40L * side.rhs.table[a].term.capacity;
        e += 40 * Spare(side.rhs.table[a].term);
      }
    }
    r.Size("Rewrite", s, e);
  } else {
    r.Size("Rewrite", 4, 0);
  }
  // 26
  if (const InternalNet *in = pc->InternalNet) {
    long s = 32 + 12L * in->capacity;
    for (int i = 0; i < in->capacity && i < (int)in->entries.size(); i++) {
      const InternalNetEntry &e = in->entries[i];
      s += 20 + (e.hasPacked && e.packed ? 8 + e.packed->length : e.packed ? 8 : 0);
    }
    r.Size("InternalNet", s, 32L * (in->capacity - in->count));
  } else {
    r.Size("InternalNet", 4, 0);
  }
  // 27: counted, with no empty part.
  if (const ContextObjectStructure *c = pc->ContextObjectStructure) {
    const PackedObject *po[5] = {&c->cetpo, &c->cttpo, &c->hlitpo, &c->hltpo, &c->nntpo};
    long s = 104;
    for (const PackedObject *p : po) s += p->length;
    fprintf(out, "ContextObjectStructure(%ld)\n", s);
    r.total += s;
    r.Table(&pc->ContextObjectStructure, 64);
    static const char *names[5] = {"  cetpo:  ", "  cttpo:  ", "  hlitpo: ", "  hltpo:  ", "  nntpo:  "};
    for (int i = 0; r.level && i < 5; i++) {
      fprintf(out, "%s(8) %" PRIxPTR " %" PRIxPTR "\n", names[i], (uintptr_t)po[i], (uintptr_t)po[i] + 8);
      uintptr_t b = (uintptr_t)po[i]->buffer;
      fprintf(out, "    string: (%d) %" PRIxPTR " %" PRIxPTR "\n", po[i]->length, b, b + po[i]->length);
    }
  } else {
    fprintf(out, "ContextObjectStructure(%d)\n", 4);
    r.total += 4;
    r.Table(&pc->ContextObjectStructure, 64);
  }
  // 28: as rp print origincount counts it.
  if (pc->From) {
    int spare = 0, size = RTN_FromMemory(pc, &spare);
    r.Size("From", size, spare);
  } else {
    r.Size("From", 12, 0);
  }
  // 29 to 33
  if (pc->pcontext) r.Size("pcontext", 20 + 44L * pc->pcontext->capacity, 44 * Spare(*pc->pcontext));
  else r.Size("pcontext", 4, 0);
  r.Table(&pc->pcontext, 16);
  if (pc->pcontext)
    r.Array("entry:", 44L * pc->pcontext->count, 44L * pc->pcontext->capacity, pc->pcontext->table.data());
  grow("pct", &pc->pct, 20, 16, 16, "table:");
  grow("pnn", &pc->pnn, 4, 1, 16, "table:");
  grow("phl", &pc->phl, 20, 20, 16, "table:");
  grow("phli", &pc->phli, 20, 12, 16, "table:");
  // 34 to 41
  r.Scalar("state", 4, &pc->state);
  r.Scalar("group", 4, &pc->group);
  r.Scalar("one", 4, &pc->one);
  r.Scalar("inputBuf", 4, &pc->inputBuf);
  r.Scalar("index", 4, &pc->index);
  r.Scalar("line", 4, &pc->line);
  fprintf(out, "cNonTerm(%d)\n", pc->cNonTerm ? 44 : 4);
  r.total += pc->cNonTerm ? 44 : 4;
  r.Span(&pc->cNonTerm, sizeof pc->cNonTerm);
  if (pc->cNonTerm) r.Span(pc->cNonTerm, 44);
  fprintf(out, "p(%d)\n", pc->p ? 148 : 4);
  r.total += pc->p ? 148 : 4;
  r.Span(&pc->p, sizeof pc->p);
  if (pc->p) r.Span(pc->p, 148);
  // 42, 43: entries of 28 bytes, each with its own array.
  auto entries = [&](const char *name, const auto *t, long elem, auto sub) {
    if (!t) return r.Size(name, 4, 0);
    long s = 20, e = 28 * Spare(*t);
    for (int i = 0; i < t->capacity && i < (int)t->table.size(); i++) {
      s += 28 + elem * sub(t->table[i]).capacity;
      e += elem * Spare(sub(t->table[i]));
    }
    r.Size(name, s, e);
  };
  entries("nonTerm", pc->nonTerm, 44, [](const NT_Array &a) -> const Grow<NTArc> & { return a.arcs; });
  entries("nullTo", pc->nullTo, 4, [](const NullToDestination &d) -> const Grow<int32_t> & { return d.foi; });
  fprintf(out, "pszContainerPath(%d)\n", 4);
  // 45, 46
  if (pc->GDH_EntryTable)
    r.Size("GDH_EntryTable", 20 + 4L * pc->GDH_EntryTable->capacity, 4 * Spare(*pc->GDH_EntryTable));
  else r.Size("GDH_EntryTable", 4, 0);
  if (Real(pc->plht)) {
    const GDH_HashTable &t = *pc->plht;
    long b = t.bucketCount > 0 ? t.bucketCount : 0, n = 0, s = 44 + 4 * b;
    for (long i = 0; i < b && t.buckets; i++)
      for (const GDH_HashEntry *e = t.buckets[i]; e; e = e->next) n++, s += 20 + (long)strlen(e->key);
    r.Size("plht", s, 4 * (b - n));
  } else {
    r.Size("plht", 4, 0);
  }
  r.Scalar("tclChannel", 4, &pc->tclChannel);
  r.Scalar("one", 1, &pc->dotCount);
  fprintf(out, "\nTotal(%ld) Used(%ld) Empty(%ld)\n", r.total, r.total - r.empty, r.empty);
  fflush(out);
}

}  // namespace rtn
