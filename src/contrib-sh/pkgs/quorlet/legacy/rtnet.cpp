// Compiled networks (NAME.rtn, NAME.net) and the robust parse over them.
#include <zlib.h>

#include <algorithm>
#include <unordered_map>
#include <cstdio>
#include <cstring>
#include <functional>
#include <set>

#include "GD_hash.h"
#include "container_file.h"
#include "ul_hash.h"
#include "yastro.h"
#include "rtn.h"

namespace rtn {

// ---------------------------------------------------------------------------
// Compiled files.
//
// Layout, little-endian: "QRTN", u16 version, u8 kind (1 .rtn, 2 .net),
// u8 0, u32 payload length, u32 CRC-32 of the payload, then the payload:
//   u32 own nets, u32 names, names (u32 length, bytes): the file's own nets
//     first, then the nets they reference that the file does not hold;
//   the terminal table as it is in memory: i32 size level, u32 entries,
//     entries (i32 next, value, key), u32 key bytes, keys, u32 buckets,
//     buckets (i32), u32 terminals, terminal keys, upper and lower chains (i32);
//   per own net: i64 grammar time, u32 states, state starts (states + 1
//     i32), u32 arcs, arcs (i32 to, u8 kind, i32 terminal or name index).
// A reader checks every count, index and offset before it uses one.

static const char kMagic[4] = {'Q', 'R', 'T', 'N'};
static const uint16_t kVersion = 2;
static const size_t kHeader = 16;

namespace {
struct Out {
  std::string b;
  void u8(uint8_t v) { b += (char)v; }
  void u16(uint16_t v) { for (int i = 0; i < 2; i++) b += (char)(v >> (8 * i)); }
  void u32(uint32_t v) {
    char c[4] = {(char)v, (char)(v >> 8), (char)(v >> 16), (char)(v >> 24)};
    b.append(c, 4);
  }
  void i64(int64_t v) { for (int i = 0; i < 8; i++) b += (char)((uint64_t)v >> (8 * i)); }
  void str(const std::string &s) { u32((uint32_t)s.size()); b += s; }
  void ints(const std::vector<int32_t> &v) {
    size_t at = b.size();
    b.resize(at + 4 * v.size());
    for (size_t i = 0; i < v.size(); i++) {
      uint32_t x = (uint32_t)v[i];
      b[at + 4 * i] = (char)x;
      b[at + 4 * i + 1] = (char)(x >> 8);
      b[at + 4 * i + 2] = (char)(x >> 16);
      b[at + 4 * i + 3] = (char)(x >> 24);
    }
  }
};
struct In {
  const std::string &b;
  size_t p;
  bool bad = false;
  In(const std::string &s, size_t start) : b(s), p(start) {}
  bool need(size_t n) {
    if (bad || b.size() - p < n) bad = true;
    return !bad;
  }
  uint64_t le(int n) {
    if (!need(n)) return 0;
    uint64_t v = 0;
    for (int i = 0; i < n; i++) v |= (uint64_t)(unsigned char)b[p + i] << (8 * i);
    p += n;
    return v;
  }
  uint32_t u32() {
    if (!need(4)) return 0;
    const unsigned char *q = (const unsigned char *)b.data() + p;
    p += 4;
    return (uint32_t)q[0] | (uint32_t)q[1] << 8 | (uint32_t)q[2] << 16 | (uint32_t)q[3] << 24;
  }
  std::string str() {
    uint32_t n = u32();
    if (!need(n)) return "";
    std::string s = b.substr(p, n);
    p += n;
    return s;
  }
  // n 32-bit values; refuses a count the rest of the bytes cannot hold.
  bool ints(uint32_t n, std::vector<int32_t> &v) {
    if (!need((size_t)n * 4)) return false;
    v.resize(n);
    const unsigned char *q = (const unsigned char *)b.data() + p;
    for (uint32_t i = 0; i < n; i++, q += 4)
      v[i] = (int32_t)((uint32_t)q[0] | (uint32_t)q[1] << 8 | (uint32_t)q[2] << 16 |
                       (uint32_t)q[3] << 24);
    p += (size_t)n * 4;
    return true;
  }
};
}  // namespace

std::string RTN_Pack(const Grammar &g, const std::vector<int> &which, bool withSubnets) {
  // The terminal table goes as it is when the file holds every net;
  // otherwise a table of the terminals that its nets use is made.
  const Grammar *tg = &g;
  Grammar local;
  std::vector<int> termMap;
  bool all = which.size() == g.nets.size();
  if (!all) {
    termMap.assign(g.TermCount(), -1);
    for (int i : which)
      for (auto &a : g.nets[i].arcs)
        if (a.kind == ARC_TERM && termMap[a.id] < 0) termMap[a.id] = local.AddTerminal(g.TermName(a.id));
    tg = &local;
  }
  std::vector<int> nameOf(g.nets.size(), -1);
  std::vector<std::string> names;
  for (int i : which) {
    nameOf[i] = (int)names.size();
    names.push_back(g.nets[i].name);
  }
  for (int i : which)
    for (auto &a : g.nets[i].arcs)
      if (a.kind == ARC_NET && nameOf[a.id] < 0) {
        nameOf[a.id] = (int)names.size();
        names.push_back(g.nets[a.id].name);
      }
  Out o;
  o.u32((uint32_t)which.size());
  o.u32((uint32_t)names.size());
  for (auto &n : names) o.str(n);
  const GDPC_HashTable &t = tg->pht;
  o.u32((uint32_t)t.sizeLevel);
  o.u32((uint32_t)t.entry.size());
  for (auto &e : t.entry) {
    o.u32((uint32_t)e.next);
    o.u32((uint32_t)e.value);
    o.u32((uint32_t)e.key);
  }
  o.u32((uint32_t)t.key.size());
  o.b.append(t.key.data(), t.key.size());
  o.u32((uint32_t)t.buckets.size());
  o.ints(t.buckets);
  o.u32((uint32_t)tg->termKey.size());
  o.ints(tg->termKey);
  o.ints(tg->upperNext);
  o.ints(tg->lowerNext);
  for (int i : which) {
    const Net &n = g.nets[i];
    o.i64(n.graTime);
    o.u32((uint32_t)n.States());
    o.ints(n.first);
    o.u32((uint32_t)n.arcs.size());
    for (auto &a : n.arcs) {
      o.u32((uint32_t)a.to);
      o.u8(a.kind);
      int id = a.kind == ARC_TERM ? (all ? a.id : termMap[a.id]) : a.kind == ARC_NET ? nameOf[a.id] : 0;
      o.u32((uint32_t)id);
    }
  }
  Out file;
  file.b.append(kMagic, 4);
  file.u16(kVersion);
  file.u8(withSubnets ? 1 : 2);
  file.u8(0);
  file.u32((uint32_t)o.b.size());
  file.u32((uint32_t)crc32(0, (const Bytef *)o.b.data(), (uInt)o.b.size()));
  return file.b + o.b;
}

int RTN_Unpack(Grammar &g, const std::string &bytes, std::string &res,
               std::vector<std::string> *missingSubnets, bool verifyCheck) {
  auto bad = [&](const std::string &why) {
    res += "Error: " + why + " in RTN_Read: " + RTN_TRAILER;
    return -1;
  };
  if (bytes.size() < kHeader || memcmp(bytes.data(), kMagic, 4) != 0)
    return bad("not a compiled network file");
  In h(bytes, 4);
  uint16_t version = (uint16_t)h.le(2);
  int kind = (int)h.le(1);
  h.le(1);
  uint32_t len = h.u32(), crc = h.u32();
  if (version != kVersion) return bad("unknown compiled network version " + std::to_string(version));
  if (kind != 1 && kind != 2) return bad("unknown compiled network kind");
  if (len != bytes.size() - kHeader) return bad("compiled network file truncated");
  if (verifyCheck && crc != (uint32_t)crc32(0, (const Bytef *)bytes.data() + kHeader, len))
    return bad("compiled network file damaged (checksum)");

  In in(bytes, kHeader);
  uint32_t own = in.u32(), nn = in.u32();
  if (in.bad || own == 0 || own > nn || nn > len / 4) return bad("bad net count");
  if (kind == 2 && own != 1) return bad("a .net file holds one net");
  std::vector<std::string> names(nn);
  std::set<std::string> seenNames;
  for (auto &n : names) {
    n = in.str();
    if (n.size() < 3 || n.front() != '[' || n.back() != ']' ||
        n.find_first_of("/\\", 0) != std::string::npos || n[1] == '.')
      return bad("bad net name");
    if (!seenNames.insert(n).second) return bad("net " + n + " named twice");
  }

  GDPC_HashTable t;
  t.sizeLevel = (int32_t)in.u32();
  uint32_t ne = in.u32();
  std::vector<int32_t> raw;
  if (in.bad || ne > len / 12 || !in.ints(ne * 3, raw)) return bad("bad terminal table");
  t.entry.resize(ne);
  for (uint32_t i = 0; i < ne; i++) t.entry[i] = {raw[3 * i], raw[3 * i + 1], raw[3 * i + 2]};
  uint32_t nk = in.u32();
  if (!in.need(nk)) return bad("bad terminal table");
  t.key.assign(bytes.begin() + in.p, bytes.begin() + in.p + nk);
  in.p += nk;
  uint32_t nb = in.u32();
  if (in.bad || nb > len / 4 || !in.ints(nb, t.buckets)) return bad("bad terminal table");
  std::string why;
  if (!GDPC_CheckTable(t, why)) return bad(why);
  GDPC_SetDerived(t);
  uint32_t nt = in.u32();
  std::vector<int32_t> termKey, upperNext, lowerNext;
  if (in.bad || nt > ne || !in.ints(nt, termKey) || !in.ints(nt, upperNext) ||
      !in.ints(nt, lowerNext))
    return bad("bad terminal list");
  for (uint32_t i = 0; i < nt; i++) {
    if (termKey[i] < 0 || (uint32_t)termKey[i] >= ne || t.entry[termKey[i]].value != (int32_t)i)
      return bad("bad terminal list");
    for (int32_t nx : {upperNext[i], lowerNext[i]})
      if (nx != -1 && (nx <= (int32_t)i || (uint32_t)nx >= nt)) return bad("bad terminal chain");
  }
  for (auto &e : t.entry)
    if (e.value < 0 || (uint32_t)e.value >= nt) return bad("bad terminal table value");

  struct RawNet { int64_t time; std::vector<int32_t> first; std::vector<Arc> arcs; };
  std::vector<RawNet> rawNets(own);
  for (uint32_t k = 0; k < own; k++) {
    RawNet &r = rawNets[k];
    r.time = (int64_t)in.le(8);
    uint32_t states = in.u32();
    if (in.bad || states < 2 || states > (uint32_t)kMaxStates || !in.ints(states + 1, r.first))
      return bad("bad state count in " + names[k]);
    uint32_t na = in.u32();
    if (in.bad || na > len / 9 || !in.need((size_t)na * 9)) return bad("bad arc count in " + names[k]);
    if (r.first[0] != 0 || r.first[states] != (int32_t)na) return bad("bad arc table in " + names[k]);
    for (uint32_t s = 0; s < states; s++)
      if (r.first[s] > r.first[s + 1]) return bad("bad arc table in " + names[k]);
    r.arcs.resize(na);
    for (auto &a : r.arcs) {
      a.to = (int32_t)in.u32();
      a.kind = (uint8_t)in.le(1);
      a.id = (int32_t)in.u32();
      if (a.to < 0 || (uint32_t)a.to >= states || a.kind > ARC_NET ||
          (a.kind == ARC_TERM && (a.id < 0 || (uint32_t)a.id >= nt)) ||
          (a.kind == ARC_NET && (a.id < 0 || (uint32_t)a.id >= nn)))
        return bad("bad arc in " + names[k]);
    }
  }
  if (in.bad || in.p != bytes.size()) return bad("trailing bytes after the networks");

  // Merge: nets already in the tree are kept; new nets get the next indices.
  // Into an empty tree the terminal table is taken over as it is.
  Grammar out;
  std::vector<int> termMap;
  if (g.nets.empty()) {
    out.pht = std::move(t);
    out.termKey = std::move(termKey);
    out.upperNext = std::move(upperNext);
    out.lowerNext = std::move(lowerNext);
  } else {
    out = g;
    termMap.resize(nt);
    for (uint32_t i = 0; i < nt; i++) termMap[i] = out.AddTerminal(GDPC_Key(t, termKey[i]));
  }
  std::vector<std::string> missing;
  auto placeholder = [&](const std::string &name) {
    int i = out.FindNet(name);
    if (i >= 0) return i;
    Net n;
    n.name = name;
    out.nets.push_back(n);
    out.netIndex[name] = (int)out.nets.size() - 1;
    return (int)out.nets.size() - 1;
  };
  std::vector<int> idx(nn), keep(own, 0);
  for (uint32_t k = 0; k < own; k++) {
    int i = out.FindNet(names[k]);
    keep[k] = i >= 0 && out.nets[i].Defined();
    idx[k] = placeholder(names[k]);
  }
  for (uint32_t k = own; k < nn; k++) {
    idx[k] = placeholder(names[k]);
    if (!out.nets[idx[k]].Defined()) {
      if (kind == 1) return bad("net " + names[k] + " missing from the file");
      missing.push_back(names[k]);
    }
  }
  for (uint32_t k = 0; k < own; k++) {
    if (keep[k]) continue;  // present already: keep it
    Net &n = out.nets[idx[k]];
    n.graTime = rawNets[k].time;
    n.fWrite = false;
    n.first = std::move(rawNets[k].first);
    n.arcs = std::move(rawNets[k].arcs);
    for (auto &a : n.arcs) {
      if (a.kind == ARC_TERM && !termMap.empty()) a.id = termMap[a.id];
      if (a.kind == ARC_NET) a.id = idx[a.id];
    }
  }
  // Nets may not reach themselves.
  std::vector<int> mark(out.nets.size(), 0);
  std::function<bool(int)> cyclic = [&](int i) {
    if (mark[i] == 1) return true;
    if (mark[i] == 2) return false;
    mark[i] = 1;
    for (auto &a : out.nets[i].arcs)
      if (a.kind == ARC_NET && cyclic(a.id)) return true;
    mark[i] = 2;
    return false;
  };
  for (size_t i = 0; i < out.nets.size(); i++)
    if (cyclic((int)i)) return bad("the nets of the file reach themselves");
  int self = idx[0];
  g = std::move(out);
  if (missingSubnets) *missingSubnets = missing;
  return self;
}

// ---------------------------------------------------------------------------
// The "rtn/RTNet" container type: a record holds the packed bytes of a net
// (and, in a .rtn, of the nets below it).

namespace {
struct RTNetRecord {
  std::string bytes;
};

void NetFree(void *rec) { delete static_cast<RTNetRecord *>(rec); }
void *NetClone(const void *rec) { return new RTNetRecord(*static_cast<const RTNetRecord *>(rec)); }
int NetLength(GS_Result *, const void *rec, size_t *length) {
  *length = static_cast<const RTNetRecord *>(rec)->bytes.size();
  return 0;
}
int NetPack(GS_Result *, const void *rec, unsigned char *buffer) {
  const std::string &b = static_cast<const RTNetRecord *>(rec)->bytes;
  memcpy(buffer, b.data(), b.size());
  return 0;
}
// The container has checked the bytes against their check already; the nets
// are validated index by index when RTN_Unpack reads them into a grammar.
void *NetUnpack(GS_Result *r, const unsigned char *buffer, size_t length) {
  if (length < 4 || memcmp(buffer, kMagic, 4) != 0) {
    GS_AppendResult(r, "not a packed network", (char *)nullptr);
    return nullptr;
  }
  return new RTNetRecord{std::string((const char *)buffer, length)};
}

const CntrType kRTNetType = {"rtn/RTNet", "rtnet", nullptr, NetFree, NetClone,
                             NetLength, NetPack, NetUnpack};

struct Result {
  GS_Result *r = GS_CreateResult();
  ~Result() { GS_DeleteResult(r); }
  std::string text() const { return r->text; }
};
}  // namespace

void RTN_RegisterTypes() { Cntr_RegisterType(&kRTNetType); }

static int WriteField(const std::string &path, std::string bytes, std::string &res) {
  Result r;
  CntrFile *f = Cntr_ObjFOpen(r.r, path.c_str(), 1);
  if (!f) {
    // A damaged old file is replaced, not kept.
    remove(path.c_str());
    GS_ResetResult(r.r);
    f = Cntr_ObjFOpen(r.r, path.c_str(), 1);
  }
  if (!f) {
    res += r.text() + "\nError: Cntr_ObjFOpen failure for " + path + " in RTN_Write: " + RTN_TRAILER;
    return 1;
  }
  RTNetRecord rec{std::move(bytes)};
  CntrObj *o = Cntr_ObjCreate(r.r, &kRTNetType, &rec);
  int rc = o ? Cntr_ObjFWrite(r.r, f, "rtn/RTNet", o) : 1;
  if (o) DB_FREE(o);  // the record is ours
  Cntr_ObjFClose(r.r, f);
  if (rc) res += r.text() + "\nError: Cntr_ObjFWrite failure for " + path + " in RTN_Write: " + RTN_TRAILER;
  return rc;
}

int RTN_ReadFile(const std::string &path, std::string &bytes, std::string &res) {
  RTN_RegisterTypes();
  Result r;
  CntrFile *f = Cntr_ObjFOpen(r.r, path.c_str(), 0);
  if (!f) {
    res += r.text() + "\n";
    return 1;
  }
  CntrObj *o = Cntr_ObjFRead(r.r, f, "rtn/RTNet");
  Cntr_ObjFClose(r.r, f);
  if (!o) {
    res += r.text() + "\n";
    return 1;
  }
  if (o->type != &kRTNetType) {
    res += "the field rtn/RTNet holds a " + std::string(Cntr_Name(o->type)) + "\n";
    Cntr_ObjDestroy(r.r, o);
    return 1;
  }
  bytes.swap(static_cast<RTNetRecord *>(o->data)->bytes);
  Cntr_ObjDestroy(r.r, o);
  return 0;
}

int RTN_Write(const Grammar &g, int i, const std::string &dir, std::string &res) {
  RTN_RegisterTypes();
  if (i < 0 || i >= (int)g.nets.size()) {
    res += "Error: no net " + std::to_string(i) + " in RTN_Write: " + RTN_TRAILER;
    return 1;
  }
  std::string d = dir;
  if (!d.empty() && d.back() != '/') d += '/';
  const std::string &n = g.nets[i].name;
  std::string base = d + n.substr(1, n.size() - 2);
  if (WriteField(base + ".rtn", RTN_Pack(g, g.Subtree(i), true), res)) return 1;
  return WriteField(base + ".net", RTN_Pack(g, {i}, false), res);
}

std::string RTN_PrintText(const Grammar &g) {
  std::string s;
  for (size_t i = 0; i < g.nets.size(); i++) s += std::to_string(i) + "\t" + g.nets[i].name + "\n";
  for (size_t i = 0; i < g.nets.size(); i++) {
    const Net &n = g.nets[i];
    s += "\n" + n.name + " states(" + std::to_string(n.States()) + ")\n";
    for (int st = 0; st < n.States(); st++)
      for (const Arc *ap = n.Begin(st); ap != n.End(st); ap++) {
        const Arc &a = *ap;
        s += "  " + std::to_string(i) + ":" + std::to_string(st) + " -> " + std::to_string(i) +
             ":" + std::to_string(a.to) + " ";
        if (a.kind == ARC_NULL) s += "(null)";
        if (a.kind == ARC_TERM) s += g.TermName(a.id);
        if (a.kind == ARC_NET) s += g.nets[a.id].name;
        s += "\n";
      }
  }
  return s;
}

namespace {

// Tab runs that line the listing up: `runs` gives (longer than, text) pairs
// tried in order, `last` the run for short texts.
std::string TabRun(size_t n, std::initializer_list<std::pair<size_t, const char *>> runs,
                   const char *last) {
  for (auto &r : runs)
    if (n > r.first) return r.second;
  return last;
}

// A table listing head: "\nNAME:\nIndex\tOffset\tEntry\n-----\t------\t-----\n".
std::string TableHead(const char *name) {
  return std::string("\n") + name + ":\nIndex\tOffset\tEntry\n-----\t------\t-----\n";
}

// The net names of a symbol such as "0:5_2:0" or "0_2", one line per net.
std::string Breakdown(const Grammar &g, const std::string &sym, bool arcForm) {
  std::string out;
  size_t at = 0;
  bool firstPart = true;
  while (at <= sym.size()) {
    size_t us = sym.find('_', at);
    std::string part = sym.substr(at, us == std::string::npos ? std::string::npos : us - at);
    int net = atoi(part.c_str());
    std::string name = net >= 0 && net < (int)g.nets.size() ? g.nets[net].name : "?";
    if (arcForm) {
      out += name + TabRun(name.size(), {{15, "\t"}, {7, "\t\t"}}, "\t\t\t") + part;
      if (us != std::string::npos) out += "\n\t\t\t\t\t\t\t\t\t";
    } else {
      if (!firstPart) out += "\n";
      out += name + TabRun(name.size(), {{15, "\n\t\t"}, {7, "\t"}}, "\t\t") + part;
    }
    firstPart = false;
    if (us == std::string::npos) break;
    at = us + 1;
  }
  return out;
}

}  // namespace

int RTN_Print(const Grammar &g, int mask, std::string &out, std::string &res) {
  (void)res;
  out.clear();
  const std::string nine(9, '\t');
  // Sides in the order their first terminal appears.
  auto sides = [&](bool upper) {
    std::vector<std::pair<std::string, int>> list;  // side, first terminal
    std::unordered_map<std::string, bool> seen;
    for (int t = 0; t < g.TermCount(); t++) {
      std::string side = upper ? g.Upper(t) : g.Lower(t);
      if (seen.emplace(side, true).second) list.push_back({side, g.FirstBySide(upper, side)});
    }
    return list;
  };
  // The offset of a side's text: it follows "U " or "L " in its key.
  auto keyOffset = [&](const std::string &key) {
    int e = GDPC_StringFind(g.pht, key.data(), key.size());
    return e >= 0 ? (int)g.pht.entry[e].key + 2 : -1;
  };
  if (mask & 0x40) {
    bool fromNet = false;
    for (auto &n : g.nets) fromNet = fromNet || n.fromNetFile;
    if (fromNet)
      out += "Context entries are not available. Try an rp init command with the \"rebuild\" "
             "flag set to 1.\n";
  }
  if (mask & 0x11) {
    // Net names are kept apart from the terminal keys: offsets count
    // through the names, each ended by a zero byte.
    out += TableHead("NetTable");
    int off = 0;
    for (size_t i = 0; i < g.nets.size(); i++) {
      out += std::to_string(i) + "\t" + std::to_string(off) + "\t" + g.nets[i].name + "\n";
      off += (int)g.nets[i].name.size() + 1;
    }
    out += "\n";
  }
  if (mask & 0x81) {
    out += TableHead("TermTable");
    for (int t = 0; t < g.TermCount(); t++)
      out += std::to_string(t) + "\t" + std::to_string(g.pht.entry[g.termKey[t]].key) + "\t" +
             g.TermName(t) + "\n";
    out += "\n";
  }
  for (int upper = 1; upper >= 0; upper--) {
    if (!(mask & (upper ? 0x101 : 0x201))) continue;
    out += TableHead(upper ? "UpperTable" : "LowerTable");
    auto list = sides(upper != 0);
    for (size_t i = 0; i < list.size(); i++) {
      const std::string &text = list[i].first;
      size_t tab = text.rfind('\t');
      size_t n = tab == std::string::npos ? text.size() : text.size() - tab;
      out += std::to_string(i) + "\t" +
             std::to_string(keyOffset((upper ? "U " : "L ") + text)) + "\t" + text +
             TabRun(n, {{16, "\t"}, {8, "\t\t"}}, "\t\t\t");
      for (int t = list[i].second; t >= 0; t = g.NextBySide(upper != 0, t))
        out += std::string(g.TermName(t)) + " ";
      out += "\n";
    }
    out += "\n";
  }
  // Origins are the states of the nets, named "NET:STATE"; the prefix of
  // each is its net, named by its index.
  if (mask & 0x9) {
    out += TableHead("SymbolTable");
    int k = 0, off = 0;
    for (size_t i = 0; i < g.nets.size(); i++) {
      std::vector<std::string> syms{std::to_string(i)};
      for (int st = 0; st < g.nets[i].States(); st++)
        syms.push_back(std::to_string(i) + ":" + std::to_string(st));
      for (auto &sy : syms) {
        out += std::to_string(k++) + "\t" + std::to_string(off) + "\t" + sy + "\n";
        off += (int)sy.size() + 1;
      }
    }
    out += "\n";
  }
  if (mask & 0x800) {
    // Every state is an origin the parse uses. The memory is that of the
    // origin records as they would be laid out: each with its one prefix
    // (holding the state's arcs, a terminal slot list each) and, when
    // terminals leave the state, one context group; every level starts at
    // 2 slots and grows by 4, the origins start at 8 and grow by 24, and
    // unused slots are counted whole.
    auto cap = [](int n, int first, int step) {
      return n <= first ? first : first + step * ((n - first + step - 1) / step);
    };
    const int arcSlot = 24 + 4 * 2, freePrefix = 24 + 2 * arcSlot;
    const int freeTpa = 20 + 2 * 2, freeGroup = 36 + 4 * 2 + 2 * freeTpa;
    const int freeOrigin = 32 + 2 * freePrefix + 2 * freeGroup;
    long size = 24, empty = 0;
    int count = 0;
    for (auto &n : g.nets)
      for (int st = 0; st < n.States(); st++, count++) {
        int arcs = (int)(n.End(st) - n.Begin(st)), termArcs = 0;
        std::vector<int> terms;
        for (const Arc *a = n.Begin(st); a != n.End(st); a++)
          if (a->kind == ARC_TERM) {
            termArcs++;
            if (std::find(terms.begin(), terms.end(), a->id) == terms.end()) terms.push_back(a->id);
          }
        int arcCap = cap(arcs, 2, 4);
        long o = 32 + (24 + arcCap * arcSlot) + freePrefix;
        long e = freePrefix + (arcCap - arcs) * arcSlot + 4L * (2 * arcs - termArcs);
        if (termArcs) {
          int tiCap = cap((int)terms.size(), 2, 4), tpaArcCap = cap(termArcs, 2, 4);
          o += (36 + 4 * tiCap + (20 + 2 * tpaArcCap) + freeTpa) + freeGroup;
          e += freeGroup + 4L * (tiCap - (int)terms.size()) + freeTpa + 2L * (tpaArcCap - termArcs);
        } else {
          o += 2 * freeGroup;
          e += 2 * freeGroup;
        }
        size += o;
        empty += e;
      }
    long spare = (long)(cap(count, 8, 24) - count) * freeOrigin;
    if (count == 0) size = 24;
    else size += spare, empty += spare;
    char line[256];
    snprintf(line, sizeof line,
             "\nRun-time States(%d) Compile-time only Connecting States(%d) Total(%d)\n"
             "Origin Structure Memory Size in bytes(%ld) empty(%ld)\n\n",
             count, 0, count, size, empty);
    out += line;
  }
  if (mask & 0x4) {
    out += "\nFrom Structure entries:\nFromTag\t\tFrom\tContextGroup\t\tPrefix\t\t\tToTag\t\t\t"
           "ToState\tSelf-Loop Depth\n-------\t\t----\t------------\t\t------\t\t\t-----\t\t\t"
           "-------\t---------------\n";
    int o = 0;
    for (size_t i = 0; i < g.nets.size(); i++) {
      const Net &n = g.nets[i];
      std::string prefix = std::to_string(i);
      for (int st = 0; st < n.States(); st++, o++) {
        std::string name = prefix + ":" + std::to_string(st);
        out += "index(" + std::to_string(o) + "): ([fActive(1)] origin: " + name + ")\n";
        out += Breakdown(g, name, false) + "\t";
        // One context group: the terminals that leave the state, directly
        // or after null arcs.
        std::vector<const Arc *> arcs;
        std::vector<int> terms, reach{st};
        for (size_t r = 0; r < reach.size(); r++)
          for (const Arc *a = n.Begin(reach[r]); a != n.End(reach[r]); a++) {
            if (a->kind == ARC_NULL && a->to != 1 &&
                std::find(reach.begin(), reach.end(), a->to) == reach.end())
              reach.push_back(a->to);
            if (a->kind != ARC_TERM) continue;
            arcs.push_back(a);
            if (std::find(terms.begin(), terms.end(), a->id) == terms.end()) terms.push_back(a->id);
          }
        if (arcs.empty()) continue;
        out += "cgi #(00:00)\n\t\t\t------------\n\t\t\t";
        for (size_t j = 0; j < terms.size(); j++) {
          std::string text = g.TermName(terms[j]);
          out += (j < 10 ? "0" : "") + std::to_string(j) + " " + text;
          if (j + 1 < terms.size()) out += "\n\t\t\t";
          else if (text.size() + 3 <= 7) out += "\t\t\t";
          else if (text.size() + 3 <= 15) out += "\t\t";
          else out += "\t";
        }
        char head[16];
        snprintf(head, sizeof head, "%-3d ", 0);
        std::string tpa = head + prefix;
        out += tpa;
        if (tpa.size() <= 7) out += "\t\t\t";
        else if (tpa.size() <= 15) out += "\t\t";
        else if (tpa.size() <= 23) out += "\t";
        else out += "\n" + nine;
        for (size_t k = 0; k < arcs.size(); k++) {
          out += "(to: " + prefix + ")\n" + nine + Breakdown(g, prefix, true) + ":" +
                 std::to_string(arcs[k]->to);
          if (k + 1 < arcs.size()) out += "\n" + nine + std::string(32, '-') + "\n" + nine;
          else out += "\n\n";
        }
      }
    }
  }
  if (mask & 0x2)
    out += "\n---------------------------------------------\nSerializable Hash Table Statistics:\n" +
           GDPC_HashStats(g.pht) + "\n";
  return 0;
}

// ---------------------------------------------------------------------------
// The robust parse.
//
// A path is a chain of items, one per word consumed. An item holds the stack
// of nets the path is in after its word (outermost first; outer frames hold
// the state to return to). Every item stays able to take any later word its
// stack expects, so words that fit nowhere, and words that fit only a worse
// analysis, are skipped. Items that reach the same stack at the same word
// compete and only the best survive.

static int CompareBits(const uint64_t *a, const uint64_t *b) {
  for (int w = 3; w >= 0; w--)
    if (a[w] != b[w]) return a[w] > b[w] ? 1 : -1;
  return 0;
}

int CompareScores(const Score &a, const Score &b, const ParseOptions &o) {
  int bits = CompareBits(a.bits, b.bits);
  int levels = std::max(a.maxLevel, b.maxLevel) + (o.prolog ? 1 : 0);
  if (bits == 0) {
    if (a.word != b.word) return a.word > b.word ? 1 : -1;
    if (o.maxfi && a.fscore != b.fscore) return a.fscore > b.fscore ? 1 : -1;
    for (int l = 0; l < levels && l <= kMaxDepth; l++)
      if (a.fs[l] != b.fs[l]) return a.fs[l] < b.fs[l] ? 1 : -1;
    if (!o.maxfi && a.fscore != b.fscore) return a.fscore < b.fscore ? 1 : -1;
    if (a.repair != b.repair) return a.repair < b.repair ? 1 : -1;
    if (a.oog != b.oog) return a.oog < b.oog ? 1 : -1;
    if (a.netscore != b.netscore) return a.netscore < b.netscore ? 1 : -1;
    return 0;
  }
  bool ag = bits > 0, bg = bits < 0;
  if (o.maxfi && a.fscore != b.fscore) return a.fscore > b.fscore ? 1 : -1;
  for (int l = 0; l < levels && l <= kMaxDepth; l++) {
    if (a.fs[l] < b.fs[l] && !bg) return 1;
    if (a.fs[l] > b.fs[l] && !ag) return -1;
  }
  if (!o.maxfi && a.fscore != b.fscore) return a.fscore < b.fscore ? 1 : -1;
  if (a.repair != b.repair) return a.repair < b.repair ? 1 : -1;
  if (a.oog != b.oog) return a.oog < b.oog ? 1 : -1;
  if (a.netscore < b.netscore && !bg) return 1;
  if (a.netscore > b.netscore && !ag) return -1;
  return ag ? 1 : -1;
}

Parser::Parser(const Grammar &g) : g_(g) {
  GDH_InitHashTable(configIndex_, 0, 128);
  pool_ = mem_Init(512, sizeof(Frame), 0);
}

Parser::~Parser() {
  GDH_DeleteHashTable(configIndex_);
  mem_Nuke(pool_);
}

void Parser::Reset() {
  items_.clear();
  // Stacks and what they expect depend on the grammar alone, so they are
  // kept from one input to the next, unless they have grown very many.
  if (configs_.size() > 200000) {
    configs_.clear();
    closures_.clear();
    GDH_DeleteHashTable(configIndex_);
    GDH_InitHashTable(configIndex_, 0, 128);
  }
  mem_Reset(pool_);
  expectByTerm_.clear();
  lastPrediction_.clear();
  predictions_ = 0;
  finished_.clear();
  words_.clear();
  matched_.clear();
  started_ = false;
}

// A stack of (net, state) pairs is named like an origin: "0:5_2:0".
int Parser::Intern(const std::vector<std::pair<int, int>> &cfg) {
  char key[(kMaxDepth + 2) * 24];
  size_t n = 0;
  for (size_t k = 0; k < cfg.size() && n + 24 < sizeof key; k++)
    n += snprintf(key + n, sizeof key - n, k ? "_%d:%d" : "%d:%d", cfg[k].first, cfg[k].second);
  bool isNew;
  GDH_HashEntry *e = GDH_CreateHashEntry(configIndex_, key, &isNew);
  if (!isNew) return (int)e->value;
  configs_.push_back(cfg);
  closures_.emplace_back();
  e->value = (intptr_t)configs_.size() - 1;
  return (int)e->value;
}

const Parser::Closure &Parser::ClosureOf(int config) {
  if (closures_[config]) return *closures_[config];
  auto c = std::make_unique<Closure>();
  // Follows null arcs, enters nets and leaves finished ones until terminals
  // are reached. `kept` is the number of the starting stack's frames that
  // were never left on the way.
  struct Todo { std::vector<std::pair<int, int>> cfg; int kept; };
  std::vector<Todo> todo{{configs_[config], (int)configs_[config].size()}};
  UL_HashTable seen, have;
  UL_InitHashTable(seen, 8);
  UL_InitHashTable(have, 8);
  bool isNew;
  while (!todo.empty()) {
    Todo t = std::move(todo.back());
    todo.pop_back();
    int id = Intern(t.cfg);
    UL_KeyCreate(seen, id, t.kept, &isNew);
    if (!isNew) continue;
    auto top = t.cfg.back();
    const Net &n = g_.nets[top.first];
    if (top.second == 1) {
      if (t.cfg.size() == 1) {
        c->finishable = true;
      } else {
        Todo up{t.cfg, std::min(t.kept, (int)t.cfg.size() - 1)};
        up.cfg.pop_back();
        todo.push_back(std::move(up));
      }
    }
    for (const Arc *ap = n.Begin(top.second); ap != n.End(top.second); ap++) {
      const Arc &a = *ap;
      std::vector<std::pair<int, int>> next = t.cfg;
      next.back().second = a.to;
      if (a.kind == ARC_NULL) {
        todo.push_back({std::move(next), t.kept});
      } else if (a.kind == ARC_TERM) {
        int to = Intern(next);
        // kept is at most the nesting limit, so it fits beside the stack.
        UL_KeyCreate(have, a.id, to * 32 + t.kept, &isNew);
        if (isNew) c->exp.push_back({a.id, to, t.kept});
      } else if ((int)next.size() <= kMaxDepth) {
        next.push_back({a.id, 0});
        todo.push_back({std::move(next), t.kept});
      }
    }
  }
  closures_[config] = std::move(c);
  return *closures_[config];
}

int RTN_ReportGrowth(const AllocLog &a, const char *fn, const char *stepName, int step,
                     const std::string &net, int &cap, size_t count, std::string &res) {
  while (count > (size_t)cap) {
    char line[512];
    snprintf(line, sizeof line, "%s(%.300s): prevSize(%d) %s(%d) size(%d)\n", fn, net.c_str(), cap,
             stepName, step, cap + step);
    cap += step;
    if (a.print && a.out) a.out(line);
    if (a.log) {
      FILE *f = fopen("allocLog.txt", "a");
      if (!f) {
        res += std::string("Error: fopen failure for allocLog.txt in ") + fn + ": " + RTN_TRAILER;
        return 1;
      }
      fputs(line, f);
      fclose(f);
    }
  }
  return 0;
}

int Parser::ReportGrowth(const ParseOptions &o, std::string &res) {
  if (!o.printallocs && !o.logallocs) return 0;
  AllocLog a;
  a.print = o.printallocs != 0;
  a.log = o.logallocs != 0;
  a.out = allocOut_;
  const std::string &net = g_.nets[0].name;
  return RTN_ReportGrowth(a, "RTN_AllocPtoaTableMemory", "PTOATABLE_MEMSIZE", 16384, net, ptoaCap_,
                          items_.size(), res) ||
         RTN_ReportGrowth(a, "RTN_AllocPPNTableMemory", "PPN_TABLE_SIZE", 128, net, ppnCap_,
                          predictions_, res) ||
         RTN_ReportGrowth(a, "RTN_AllocTerminalTableMemory", "TERMINALTABLE_MEMSIZE", 512, net,
                          nodeCap_, predictions_, res);
}

void Parser::Enroll(int item) {
  int config = items_[item].config;
  const Closure &c = ClosureOf(config);
  if ((int)expectByTerm_.size() < g_.TermCount()) {
    expectByTerm_.resize(g_.TermCount());
    lastPrediction_.resize(g_.TermCount(), -2);
  }
  int q = items_[item].pos + 1;
  for (size_t e = 0; e < c.exp.size(); e++) {
    int t = c.exp[e].term;
    expectByTerm_[t].push_back({item, (int)e});
    if (lastPrediction_[t] != q) {
      lastPrediction_[t] = q;
      predictions_++;
    }
  }
  int pos = items_[item].pos;
  if (c.finishable && pos >= 0) {
    if ((int)finished_.size() <= pos) finished_.resize(pos + 1);
    finished_[pos].push_back(item);
  }
}

// The set-up of an input: one path at the start of the top net.
void Parser::Start() {
  if (started_) return;
  started_ = true;
  // The repair net of a top net "[X_type]" is "[X_repair]".
  repairNet_ = -1;
  const std::string &top = g_.nets[0].name;
  size_t us = top.rfind('_');
  if (us != std::string::npos && top.compare(us, std::string::npos, "_type]") == 0)
    repairNet_ = g_.FindNet(top.substr(0, us) + "_repair]");
  Item s;
  s.prev = -1;
  s.pos = -1;
  s.term = -1;
  s.config = Intern({{0, 0}});
  s.stack = (Frame *)mem_Alloc(pool_, 1);
  s.stack[0] = {0, 0, 0};
  s.depth = 1;
  items_.push_back(s);
  Enroll(0);
}

int Parser::Word(const std::string &w, const ParseOptions &o, std::string &res) {
  if (g_.nets.empty() || !g_.nets[0].Defined()) {
    res += "Error: no grammar is loaded in RTN_GetPossibilities: " + RTN_TRAILER;
    return 1;
  }
  Start();
  int p = (int)words_.size();
  if (p >= kMaxInput) {
    res += "Error: pipc->inputCount exceeds CURRENTPATHARRAY_SIZE in RTN_GetPossibilities: " +
           RTN_TRAILER;
    return 1;
  }
  words_.push_back(w);
  // Candidates: the terminals with this side, else the terminal of that name.
  std::vector<int> cand;
  for (int t = g_.FirstBySide(o.upper != 0, w); t >= 0; t = g_.NextBySide(o.upper != 0, t))
    cand.push_back(t);
  if (cand.empty()) {
    int t = g_.FindTerminal(w);
    if (t >= 0) cand.push_back(t);
  }
  size_t keep = o.prune ? (size_t)std::max(1, std::min(o.nbest, 16)) : 16;

  // A prediction of a terminal is the set of paths that expect it at one
  // position (the position after their last word). The newest prediction of
  // the first candidate that lies within the frame window is taken; with
  // lookback, older predictions of it and the predictions of later
  // candidates are joined, at most `lookback` per candidate (-1: all).
  auto predicted = [&](int term) -> const std::vector<std::pair<int, int>> * {
    if (term >= (int)expectByTerm_.size() || expectByTerm_[term].empty()) return nullptr;
    return &expectByTerm_[term];
  };
  // The newest prediction position of a terminal, and the oldest position
  // taken when `count` predictions are taken from the newest on (-1: all).
  auto newest = [&](int term) { return items_[expectByTerm_[term].back().first].pos + 1; };
  auto oldestTaken = [&](int term, int count) {
    const auto &list = expectByTerm_[term];
    if (count < 0) return items_[list.front().first].pos + 1;
    int seen = 0, q = newest(term);
    for (auto it = list.rbegin(); it != list.rend(); ++it) {
      int at = items_[it->first].pos + 1;
      if (at != q) {
        if (++seen >= count) break;
        q = at;
      }
    }
    return q;
  };
  auto inWindow = [&](int q) { return p - q + 1 <= o.framewindow; };
  std::vector<std::pair<int, int>> taken;  // (terminal, oldest prediction position taken)
  size_t accepted = cand.size();
  for (size_t ci = 0; ci < cand.size(); ci++) {
    if (!predicted(cand[ci]) || !inWindow(newest(cand[ci]))) continue;
    accepted = ci;
    taken.push_back({cand[ci], oldestTaken(cand[ci], o.lookback < 0 ? -1 : o.lookback + 1)});
    break;
  }
  if (o.lookback != 0)
    for (size_t ci = accepted + 1; ci < cand.size(); ci++)
      if (predicted(cand[ci]) && inWindow(newest(cand[ci])))
        taken.push_back({cand[ci], oldestTaken(cand[ci], o.lookback)});

  // The best few new items per resulting stack; a stack's entry in the
  // pair table numbers its bucket.
  UL_HashTable bucketIndex;
  UL_InitHashTable(bucketIndex, 8);
  std::vector<std::vector<Item>> buckets;
  bool isNew;
  for (auto &tq : taken) {
      int term = tq.first;
      // The paths expecting the terminal, newest first, down to the oldest
      // position taken.
      const auto &list = expectByTerm_[term];
      for (auto it = list.rbegin(); it != list.rend(); ++it) {
        const auto &pe = *it;
        const Item &from = items_[pe.first];
        if (from.pos + 1 < tq.second) break;
        const Expect &e = closures_[from.config]->exp[pe.second];
        Item n;
        n.prev = pe.first;
        n.pos = p;
        n.term = term;
        n.config = e.config;
        n.sc = from.sc;
        const auto &cfg = configs_[e.config];
        n.depth = (int)cfg.size();
        n.stack = (Frame *)mem_Alloc(pool_, n.depth);
        for (int k = 0; k < n.depth; k++) {
          bool kept = k < e.kept && from.pos >= 0;
          n.stack[k] = {(int16_t)cfg[k].first, cfg[k].second,
                        (int16_t)(kept ? from.stack[k].entry : p)};
        }
        // Nets entered with this word are counted level by level. Until a
        // word of the path has counted, every level of the stack is counted
        // again; later, only the levels this word enters. A word that enters
        // no net counts as the word before it did.
        int common = 0;
        if (from.pos >= 0)
          while (common < n.depth && common < from.depth &&
                 n.stack[common].net == from.stack[common].net &&
                 n.stack[common].entry == from.stack[common].entry)
            common++;
        bool firstCount = n.sc.word == 0;
        int w = firstCount ? 1 : n.sc.w;
        for (int k = firstCount ? 0 : common; k < n.depth && k <= kMaxDepth; k++) {
          if (k == 0 && o.prolog) {
            if (from.pos < 0) {
              n.sc.fs[0]++;
              n.sc.maxLevel = std::max(n.sc.maxLevel, 1);
            }
            continue;
          }
          NetKind kind = KindOf(g_.nets[n.stack[k].net].name);
          n.sc.lastKind = (int8_t)kind;
          switch (kind) {
            case NK_FS:
              n.sc.fs[k]++;
              if (!firstCount) w = 1;
              if (o.showoog) n.sc.fscore++;
              n.sc.maxLevel = std::max(n.sc.maxLevel, k);
              break;
            case NK_REPAIR:
              n.sc.repair++;
              w = 0;
              if (o.showoog) n.sc.fscore++, n.sc.maxLevel = std::max(n.sc.maxLevel, k);
              break;
            case NK_OOG:
              n.sc.oog++;
              w = o.showoog ? 1 : 0;
              if (o.showoog) n.sc.fscore++, n.sc.maxLevel = std::max(n.sc.maxLevel, k);
              break;
            case NK_FI:
              if (!firstCount) w = 1;
              n.sc.fscore++;
              n.sc.maxLevel = std::max(n.sc.maxLevel, k);
              break;
            default:
              if (!firstCount) w = 1;
              n.sc.netscore++;
              n.sc.maxLevel = std::max(n.sc.maxLevel, k);
              break;
          }
        }
        n.sc.w = (uint8_t)w;
        if (w) n.sc.word++;
        if (n.stack[n.depth - 1].net != repairNet_) n.sc.bits[p / 64] |= (uint64_t)1 << (p % 64);
        int bi = UL_KeyCreate(bucketIndex, e.config, 0, &isNew);
        if (isNew) buckets.emplace_back();
        auto &b = buckets[bi];
        size_t at = 0;
        while (at < b.size() && CompareScores(n.sc, b[at].sc, o) <= 0) at++;
        if (at < keep) {
          b.insert(b.begin() + at, std::move(n));
          if (b.size() > keep) b.pop_back();
        }
      }
    }
  matched_.push_back(!buckets.empty());
  if (buckets.empty()) return ReportGrowth(o, res);  // skipped: every path stays where it was
  for (auto &b : buckets)
    for (auto &n : b) {
      items_.push_back(std::move(n));
      Enroll((int)items_.size() - 1);
    }
  return ReportGrowth(o, res);
}

std::vector<std::string> Parser::Expectations(const ParseOptions &o) {
  std::vector<std::string> out;
  if (g_.nets.empty() || !g_.nets[0].Defined()) return out;
  Start();
  // The terminals predicted by the last word that matched (by the start
  // before any did), in the order they were predicted; skipped words carry
  // them over.
  int last = -1;
  for (int i = (int)matched_.size() - 1; i >= 0; i--)
    if (matched_[i]) { last = i; break; }
  std::vector<bool> listed(g_.TermCount(), false);
  for (size_t id = 0; id < items_.size(); id++) {
    if (items_[id].pos != last) continue;
    for (auto &e : ClosureOf(items_[id].config).exp)
      if (!listed[e.term]) {
        listed[e.term] = true;
        out.push_back(o.upper ? g_.Upper(e.term) : g_.Lower(e.term));
      }
  }
  return out;
}

int Parser::Render(const std::vector<int> &path, const ParseOptions &o, std::string &text,
                   std::string &res) const {
  bool transcriptOnly = o.transcript && !o.canonical;
  bool nameForm = o.transcript && o.canonical;
  std::string close = o.tail ? "|_]" : "]";
  std::vector<bool> hasChild{false};
  struct Open { int brackets; bool collapsed; };
  std::vector<Open> open;
  int suppress = -1;  // level of a canonical net whose contents are not shown
  std::vector<std::string> canonNames, words;
  auto emit = [&](const std::string &s) {
    if (hasChild.back()) text += ",";
    hasChild.back() = true;
    text += s;
  };
  auto closeTo = [&](size_t level) {
    while (open.size() > level) {
      Open f = open.back();
      open.pop_back();
      for (int b = 0; b < f.brackets; b++) {
        if (!transcriptOnly && !nameForm && suppress < 0) text += close;
        hasChild.pop_back();
      }
      if (f.collapsed) suppress = -1;
    }
  };
  if (o.prolog) {
    const std::string &top = g_.nets[0].name;
    if (top.size() < 6 || top.compare(top.size() - 6, 6, "_type]") != 0) {
      res += "Error: The top-level net suffix is not \"_type\" as called for by the "
             "conventions of Prolog mode in RTN_PrintFinished: " + RTN_TRAILER;
      return 1;
    }
  }
  text.clear();
  const Item *prev = nullptr;
  for (int id : path) {
    const Item &it = items_[id];
    size_t common = 0;
    if (prev)
      while (common < (size_t)it.depth && common < (size_t)prev->depth &&
             it.stack[common].net == prev->stack[common].net &&
             it.stack[common].entry == prev->stack[common].entry)
        common++;
    closeTo(common);
    for (size_t k = 0; k < (size_t)it.depth; k++) {
      const std::string &name = g_.nets[it.stack[k].net].name;
      NetKind kind = KindOf(name);
      if (k < common) continue;
      std::string bare = name.substr(1, name.size() - 2);
      Open f{0, false};
      bool hidden = kind == NK_REPAIR || kind == NK_OOG;
      if (hidden && !o.showoog) {
        open.push_back(f);
        continue;
      }
      bool canon = o.canonical && bare.size() > 2 && bare.compare(bare.size() - 2, 2, "_c") == 0;
      if (canon && suppress < 0) {
        canonNames.push_back(bare.substr(0, bare.size() - 2));
        if (!transcriptOnly && !nameForm) emit(bare.substr(0, bare.size() - 2));
        f.collapsed = true;
        suppress = (int)k;
        open.push_back(f);
        continue;
      }
      if (k == 0 && o.prolog) {
        // The type net opens the text as "[fsType:NAME," .
        if (!transcriptOnly && !nameForm) emit("[fsType:" + bare);
        hasChild.push_back(true);
        f.brackets = 1;
        open.push_back(f);
        continue;
      }
      f.brackets = (kind == NK_FS && o.showoog) ? 2 : 1;
      for (int b = 0; b < f.brackets; b++) {
        if (!transcriptOnly && !nameForm && suppress < 0) emit(bare + ":[");
        hasChild.push_back(false);
      }
      open.push_back(f);
    }
    std::string word = o.upper ? g_.Lower(it.term) : g_.Upper(it.term);
    // A word is written when it counted; with hide, only when the latest
    // net counted for the path (by this word or one before) is a plain one.
    bool hide = o.hide && !o.showoog && it.sc.lastKind != NK_PLAIN;
    if (it.sc.w && !hide) {
      words.push_back(word);
      if (!transcriptOnly && !nameForm && suppress < 0) emit(word);
    }
    prev = &it;
  }
  closeTo(0);
  if (transcriptOnly || (nameForm && canonNames.empty())) {
    text.clear();
    for (size_t i = 0; i < words.size(); i++) text += (i ? " " : "") + words[i];
  } else if (nameForm) {
    text.clear();
    for (size_t i = 0; i < canonNames.size(); i++) text += (i ? " " : "") + canonNames[i];
    std::replace(text.begin(), text.end(), '_', ' ');
  }
  return 0;
}

// The indented form: nets ending in "_fs" or "_fi" start a deeper line,
// other nets stay on the line of their parent.
int RTN_PrettyPrint(const std::string &text, bool tail, std::string &out, std::string &res) {
  auto tabs = [](int d) { return std::string(std::max(d, 0), '\t'); };
  int open[kMaxDepth + 2] = {}, shut[kMaxDepth + 2] = {};
  int d = 0;
  bool pending = false;
  out.clear();
  size_t comma = text.find(',');
  if (comma == std::string::npos) {
    out = text + "\n";
    return 0;
  }
  out = text.substr(0, comma) + ",\n";
  open[0]++;
  auto special = [&](size_t i) {
    return text.compare(i, 4, "conj") == 0 || text.compare(i, 4, "disj") == 0 ||
           text.compare(i, 4, "edit") == 0;
  };
  auto unbalanced = [&]() {
    res += "Format Error: no matching bracket found in RTN_PrintFinished: " + RTN_TRAILER;
    return 1;
  };
  auto down = [&]() {
    open[d] = shut[d] = 0;
    if (d > 0) d--;
  };
  std::string closeText = tail ? "|_]" : "]";
  for (size_t i = comma + 1; i < text.size();) {
    if (text.compare(i, 4, "_fs:") == 0 || text.compare(i, 4, "_fi:") == 0) {
      out += text.substr(i, 3) + ":\n" + tabs(d + 1);
      if (d < kMaxDepth) d++;
      i += 4;
    } else if (!tail && special(i)) {
      size_t e = text.find(']', i);
      e = e == std::string::npos ? text.size() : e + 1;
      out += text.substr(i, e - i);
      i = e;
      if (i < text.size() && text[i] == ',') {
        out += ',';
        i++;
      } else if (i < text.size() && text[i] == ']') {
        while (i < text.size() && text[i] == ']') {
          out += ']';
          shut[d]++;
          if (d > 0) d--;
          i++;
        }
        i++;
      }
      if (pending) {
        out += "\n" + tabs(d);
        pending = false;
      }
    } else if (text[i] == '[') {
      open[d]++;
      out += '[';
      i++;
    } else if (text.compare(i, closeText.size(), closeText) == 0 ||
               (tail && text[i] == '|')) {
      if (tail && text.compare(i, 3, "|_]") != 0) {
        res += "Error: improper tail format in RTN_PrintFinished: " + RTN_TRAILER;
        return 1;
      }
      shut[d]++;
      i += closeText.size();
      if (open[d] != shut[d]) {
        out += closeText;
        continue;
      }
      if (i < text.size() && text[i] == ',') {
        down();
        out += closeText + ",\n" + tabs(d);
        i++;
        pending = special(i);
        continue;
      }
      down();
      out += closeText;
      while (text.compare(i, closeText.size(), closeText) == 0) {
        shut[d]++;
        if (open[d] != shut[d]) return unbalanced();
        down();
        out += closeText;
        i += closeText.size();
      }
      if (i < text.size() && text[i] == ',') {
        out += ",\n" + tabs(d);
        i++;
        pending = special(i);
      } else {
        if (open[d] != shut[d]) return unbalanced();
        out += "\n";
        i++;
      }
    } else {
      out += text[i++];
    }
  }
  return 0;
}

int Parser::Finished(const ParseOptions &o, std::vector<std::string> &out, std::string &res) {
  out.clear();
  int longest = -1;
  for (int p = (int)finished_.size() - 1; p >= 0; p--)
    if (!finished_[p].empty()) { longest = p; break; }
  if (longest < 0) return 0;
  struct Rec { int item; int collected; std::string text; };
  std::vector<Rec> order;
  int collected = 0;
  for (int p = longest; p >= 0; p--) {
    if (o.nbest && p != longest) break;
    for (int id : finished_[p]) {
      std::vector<int> path;
      for (int k = id; k > 0; k = items_[k].prev) path.push_back(k);
      std::reverse(path.begin(), path.end());
      Rec r{id, collected++, ""};
      if (Render(path, o, r.text, res)) return 1;
      size_t at = 0;
      bool drop = false;
      for (; at < order.size(); at++) {
        int c = CompareScores(items_[id].sc, items_[order[at].item].sc, o);
        if (c > 0) break;
        if (order[at].text == r.text) { drop = true; break; }
      }
      if (!drop) order.insert(order.begin() + at, r);
    }
  }
  if ((o.debug == 1 || o.debug == 2 || o.debug == 4) && allocOut_)
    allocOut_("\nFinished Paths Scored(" + std::to_string(collected) + ")\n");
  if (o.printallocs || o.logallocs) {
    AllocLog a;
    a.print = o.printallocs != 0;
    a.log = o.logallocs != 0;
    a.out = allocOut_;
    if (RTN_ReportGrowth(a, "RTN_AllocFinishedPaths", "FINISHEDPATH_TABLESIZE", 16384,
                         g_.nets[0].name, finishedCap_, (size_t)collected, res))
      return 1;
  }
  const Score &first = items_[order[0].item].sc;
  std::vector<size_t> chosen{0};
  for (size_t i = 1; i < order.size(); i++) {
    const Score &s = items_[order[i].item].sc;
    if (o.nbest == 1) {
      // Ties of the best are printed: other scores end the list, other
      // words consumed only pass this path over.
      bool same = s.word == first.word && s.repair == first.repair && s.oog == first.oog &&
                  s.fscore == first.fscore && s.netscore == first.netscore &&
                  s.maxLevel == first.maxLevel && std::equal(s.fs, s.fs + kMaxDepth + 1, first.fs);
      if (!same) break;
      if (CompareBits(s.bits, first.bits) != 0) continue;
      if (order[i].text == order[0].text) continue;
      chosen.push_back(i);
    } else if (o.nbest == 0 || (int)i < o.nbest) {
      chosen.push_back(i);
    } else {
      break;
    }
  }
  for (size_t i : chosen) {
    if (!o.prettyprint) {
      out.push_back(order[i].text);
      continue;
    }
    std::string pretty, head;
    if (RTN_PrettyPrint(order[i].text, o.tail, pretty, res)) return 1;
    if (o.score) {
      const Score &s = items_[order[i].item].sc;
      head = "\nIndex(" + std::to_string(i) + ":" + std::to_string(order[i].collected) + ":" +
             std::to_string(order[i].item) + "):\tWordScore(" + std::to_string(s.word) +
             ") RepairScore(" + std::to_string(s.repair) + ") oogScore(" + std::to_string(s.oog) +
             ") FScore(" + std::to_string(s.fscore) + ") NetScore(" + std::to_string(s.netscore) +
             ")\n\t\t";
      for (int l = 1; l <= s.maxLevel && l <= kMaxDepth; l++)
        if (s.fs[l]) head += "FsLevelScore(" + std::to_string(l) + ":" + std::to_string(s.fs[l]) + ") ";
      head += "\n\n";
    }
    out.push_back(head + pretty);
  }
  return 0;
}

}  // namespace rtn
