// Compiled networks (NAME.rtn, NAME.net) and the robust parse over them.
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <set>

#include "container_file.h"
#include "yastro.h"
#include "rtn.h"

namespace rtn {

// ---------------------------------------------------------------------------
// Compiled files.
//
// Layout, little-endian: "QRTN", u16 version, u8 kind (1 .rtn, 2 .net),
// u8 0, u32 payload length, u32 CRC-32 of the payload, then the payload:
// u32 string count, strings (u32 length, bytes); u32 net count; per net:
// u32 name string, i64 grammar time, u32 state count, u32 arc count, arcs
// (u32 from, u32 to, u8 kind, u32 string: terminal or net name).

static const char kMagic[4] = {'Q', 'R', 'T', 'N'};
static const uint16_t kVersion = 1;
static const size_t kHeader = 16;

namespace {
struct Out {
  std::string b;
  void u8(uint8_t v) { b += (char)v; }
  void u16(uint16_t v) { for (int i = 0; i < 2; i++) b += (char)(v >> (8 * i)); }
  void u32(uint32_t v) { for (int i = 0; i < 4; i++) b += (char)(v >> (8 * i)); }
  void i64(int64_t v) { for (int i = 0; i < 8; i++) b += (char)((uint64_t)v >> (8 * i)); }
  void str(const std::string &s) { u32((uint32_t)s.size()); b += s; }
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
  uint32_t u32() { return (uint32_t)le(4); }
  std::string str() {
    uint32_t n = u32();
    if (!need(n)) return "";
    std::string s = b.substr(p, n);
    p += n;
    return s;
  }
};
}  // namespace

std::string RTN_Pack(const Grammar &g, const std::vector<int> &which, bool withSubnets) {
  std::vector<std::string> strings;
  std::unordered_map<std::string, uint32_t> sidx;
  auto S = [&](const std::string &s) {
    auto it = sidx.find(s);
    if (it != sidx.end()) return it->second;
    strings.push_back(s);
    return sidx[s] = (uint32_t)strings.size() - 1;
  };
  Out nets;
  nets.u32((uint32_t)which.size());
  for (int i : which) {
    const Net &n = g.nets[i];
    nets.u32(S(n.name));
    nets.i64(n.graTime);
    nets.u32((uint32_t)n.out.size());
    size_t count = 0;
    for (auto &st : n.out) count += st.size();
    nets.u32((uint32_t)count);
    for (size_t s = 0; s < n.out.size(); s++)
      for (auto &a : n.out[s]) {
        nets.u32((uint32_t)s);
        nets.u32((uint32_t)a.to);
        nets.u8(a.kind);
        nets.u32(a.kind == ARC_TERM  ? S(g.terms[a.id].name)
                 : a.kind == ARC_NET ? S(g.nets[a.id].name)
                                     : 0);
      }
  }
  Out payload;
  payload.u32((uint32_t)strings.size());
  for (auto &s : strings) payload.str(s);
  payload.b += nets.b;
  Out file;
  file.b.append(kMagic, 4);
  file.u16(kVersion);
  file.u8(withSubnets ? 1 : 2);
  file.u8(0);
  file.u32((uint32_t)payload.b.size());
  file.u32((uint32_t)crc32(0, (const Bytef *)payload.b.data(), (uInt)payload.b.size()));
  return file.b + payload.b;
}

int RTN_Unpack(Grammar &g, const std::string &bytes, std::string &res,
               std::vector<std::string> *missingSubnets) {
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
  if (crc != (uint32_t)crc32(0, (const Bytef *)bytes.data() + kHeader, len))
    return bad("compiled network file damaged (checksum)");

  In in(bytes, kHeader);
  uint32_t ns = in.u32();
  if (in.bad || ns > len / 4) return bad("bad string count");
  std::vector<std::string> strings(ns);
  for (auto &s : strings) s = in.str();
  uint32_t nn = in.u32();
  if (in.bad || nn == 0 || nn > 100000) return bad("bad net count");

  struct RawArc { uint32_t from, to; uint8_t kind; uint32_t s; };
  struct RawNet { std::string name; int64_t t; uint32_t states; std::vector<RawArc> arcs; };
  std::vector<RawNet> raw(nn);
  std::set<std::string> inFile;
  for (auto &r : raw) {
    uint32_t si = in.u32();
    r.t = (int64_t)in.le(8);
    r.states = in.u32();
    uint32_t na = in.u32();
    if (in.bad || si >= ns) return bad("bad net record");
    r.name = strings[si];
    if (r.name.size() < 3 || r.name.front() != '[' || r.name.back() != ']')
      return bad("bad net name");
    if (r.states < 2 || r.states > (uint32_t)kMaxStates || na > (len / 13))
      return bad("bad state or arc count in " + r.name);
    if (!inFile.insert(r.name).second) return bad("net " + r.name + " stored twice");
    r.arcs.resize(na);
    for (auto &a : r.arcs) {
      a.from = in.u32();
      a.to = in.u32();
      a.kind = (uint8_t)in.le(1);
      a.s = in.u32();
      if (in.bad) return bad("compiled network file truncated");
      if (a.from >= r.states || a.to >= r.states || a.kind > ARC_NET ||
          (a.kind != ARC_NULL && a.s >= ns))
        return bad("bad arc in " + r.name);
      if (a.kind == ARC_TERM && strings[a.s].empty()) return bad("empty terminal in " + r.name);
      if (a.kind == ARC_NET) {
        const std::string &t = strings[a.s];
        if (t.size() < 3 || t.front() != '[' || t.back() != ']')
          return bad("bad net reference in " + r.name);
      }
    }
  }
  if (in.p != bytes.size()) return bad("trailing bytes after the networks");
  if (kind == 2 && nn != 1) return bad("a .net file holds one net");

  // Merge: nets already in the tree are kept; new nets get the next indices.
  Grammar out = g;
  std::vector<int> idx(nn, -1);
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
  for (uint32_t k = 0; k < nn; k++) {
    int i = out.FindNet(raw[k].name);
    if (i >= 0 && !out.nets[i].out.empty()) {
      idx[k] = -2 - i;  // present already: keep it
      continue;
    }
    idx[k] = placeholder(raw[k].name);
  }
  for (uint32_t k = 0; k < nn; k++) {
    if (idx[k] < -1) continue;
    Net &n = out.nets[idx[k]];
    n.graTime = raw[k].t;
    n.fWrite = false;
    std::vector<std::vector<Arc>> arcs(raw[k].states);
    for (auto &a : raw[k].arcs) {
      int id = 0;
      if (a.kind == ARC_TERM) id = out.AddTerminal(strings[a.s]);
      if (a.kind == ARC_NET) {
        const std::string &t = strings[a.s];
        if (!inFile.count(t) && (out.FindNet(t) < 0 || out.nets[out.FindNet(t)].out.empty())) {
          if (kind == 1) return bad("net " + t + " missing from the file");
          if (std::find(missing.begin(), missing.end(), t) == missing.end()) missing.push_back(t);
        }
        id = placeholder(t);
      }
      arcs[a.from].push_back({(int32_t)a.to, a.kind, id});
    }
    out.nets[idx[k]].out.swap(arcs);
  }
  // Nets may not reach themselves.
  std::vector<int> mark(out.nets.size(), 0);
  std::function<bool(int)> cyclic = [&](int i) {
    if (mark[i] == 1) return true;
    if (mark[i] == 2) return false;
    mark[i] = 1;
    for (auto &st : out.nets[i].out)
      for (auto &a : st)
        if (a.kind == ARC_NET && cyclic(a.id)) return true;
    mark[i] = 2;
    return false;
  };
  for (size_t i = 0; i < out.nets.size(); i++)
    if (cyclic((int)i)) return bad("the nets of the file reach themselves");
  int own = idx[0] < -1 ? -2 - idx[0] : idx[0];
  g = std::move(out);
  if (missingSubnets) *missingSubnets = missing;
  return own;
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
    s += "\n" + n.name + " states(" + std::to_string(n.out.size()) + ")\n";
    for (size_t st = 0; st < n.out.size(); st++)
      for (auto &a : n.out[st]) {
        s += "  " + std::to_string(i) + ":" + std::to_string(st) + " -> " + std::to_string(i) +
             ":" + std::to_string(a.to) + " ";
        if (a.kind == ARC_NULL) s += "(null)";
        if (a.kind == ARC_TERM) s += g.terms[a.id].name;
        if (a.kind == ARC_NET) s += g.nets[a.id].name;
        s += "\n";
      }
  }
  return s;
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

void Parser::Reset() {
  items_.clear();
  configs_.clear();
  configIndex_.clear();
  closures_.clear();
  expectByTerm_.clear();
  finished_.clear();
  words_.clear();
  matched_.clear();
  matchedPositions_.clear();
  skippedAt_.clear();
  skipped_ = 0;
  started_ = false;
}

int Parser::Intern(const std::vector<std::pair<int, int>> &cfg) {
  std::string key;
  key.reserve(cfg.size() * 8);
  for (auto &f : cfg) {
    key.append((const char *)&f.first, sizeof f.first);
    key.append((const char *)&f.second, sizeof f.second);
  }
  auto it = configIndex_.find(key);
  if (it != configIndex_.end()) return it->second;
  configs_.push_back(cfg);
  closures_.emplace_back();
  return configIndex_[key] = (int)configs_.size() - 1;
}

const Parser::Closure &Parser::ClosureOf(int config) {
  if (closures_[config]) return *closures_[config];
  auto c = std::make_unique<Closure>();
  // Follows null arcs, enters nets and leaves finished ones until terminals
  // are reached. `kept` is the number of the starting stack's frames that
  // were never left on the way.
  struct Todo { std::vector<std::pair<int, int>> cfg; int kept; };
  std::vector<Todo> todo{{configs_[config], (int)configs_[config].size()}};
  std::set<std::pair<int, int>> seen;
  std::set<std::tuple<int, int, int>> have;
  while (!todo.empty()) {
    Todo t = std::move(todo.back());
    todo.pop_back();
    int id = Intern(t.cfg);
    if (!seen.insert({id, t.kept}).second) continue;
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
    for (const Arc &a : n.out[top.second]) {
      std::vector<std::pair<int, int>> next = t.cfg;
      next.back().second = a.to;
      if (a.kind == ARC_NULL) {
        todo.push_back({std::move(next), t.kept});
      } else if (a.kind == ARC_TERM) {
        int to = Intern(next);
        if (have.insert({a.id, to, t.kept}).second) c->exp.push_back({a.id, to, t.kept});
      } else if ((int)next.size() <= kMaxDepth) {
        next.push_back({a.id, 0});
        todo.push_back({std::move(next), t.kept});
      }
    }
  }
  closures_[config] = std::move(c);
  return *closures_[config];
}

void Parser::Enroll(int item) {
  int config = items_[item].config;
  const Closure &c = ClosureOf(config);
  if (expectByTerm_.size() < g_.terms.size()) expectByTerm_.resize(g_.terms.size());
  for (size_t e = 0; e < c.exp.size(); e++) expectByTerm_[c.exp[e].term].push_back({item, (int)e});
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
  Item s;
  s.prev = -1;
  s.pos = -1;
  s.term = -1;
  s.config = Intern({{0, 0}});
  s.stack.push_back({0, 0, 0});
  items_.push_back(s);
  Enroll(0);
}

int Parser::Word(const std::string &w, const ParseOptions &o, std::string &res) {
  if (g_.nets.empty() || g_.nets[0].out.empty()) {
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
  skippedAt_.push_back(skipped_);
  const std::vector<int> *cands = nullptr;
  std::vector<int> single;
  auto &side = o.upper ? g_.byUpper : g_.byLower;
  auto it = side.find(w);
  if (it != side.end()) {
    cands = &it->second;
  } else {
    auto t = g_.termIndex.find(w);
    if (t != g_.termIndex.end()) {
      single.push_back(t->second);
      cands = &single;
    }
  }
  int minPos = -1;
  if (o.lookback >= 0 && (int)matchedPositions_.size() > o.lookback)
    minPos = matchedPositions_[matchedPositions_.size() - 1 - o.lookback];
  size_t keep = o.prune ? (size_t)std::max(1, std::min(o.nbest, 16)) : 16;

  // The best few new items per resulting stack.
  std::unordered_map<int, std::vector<Item>> buckets;
  std::vector<int> bucketOrder;
  size_t existing = items_.size();
  if (cands)
    for (int term : *cands) {
      if (term >= (int)expectByTerm_.size()) continue;
      for (auto &pe : expectByTerm_[term]) {
        if ((size_t)pe.first >= existing) continue;
        const Item &from = items_[pe.first];
        // Distance in words the grammar knows: unknown words do not count.
        if (from.pos >= 0 && ((p - skipped_) - (from.pos - skippedAt_[from.pos]) > o.framewindow ||
                              from.pos < minPos))
          continue;
        if (from.pos < 0 && minPos >= 0) continue;
        const Expect &e = closures_[from.config]->exp[pe.second];
        Item n;
        n.prev = pe.first;
        n.pos = p;
        n.term = term;
        n.config = e.config;
        n.sc = from.sc;
        const auto &cfg = configs_[e.config];
        n.stack.resize(cfg.size());
        for (size_t k = 0; k < cfg.size(); k++) {
          bool kept = (int)k < e.kept && from.pos >= 0;
          n.stack[k] = {(int16_t)cfg[k].first, cfg[k].second,
                        (int16_t)(kept ? from.stack[k].entry : p)};
        }
        // Nets entered with this word are counted level by level.
        size_t common = 0;
        if (from.pos >= 0)
          while (common < n.stack.size() && common < from.stack.size() &&
                 n.stack[common].net == from.stack[common].net &&
                 n.stack[common].entry == from.stack[common].entry)
            common++;
        bool counted = true, repair = false;
        for (size_t k = 0; k < n.stack.size(); k++) {
          NetKind kind = KindOf(g_.nets[n.stack[k].net].name);
          if (kind == NK_REPAIR) repair = true;
          if (kind == NK_REPAIR || (kind == NK_OOG && !o.showoog)) counted = false;
          if (k < common) continue;
          if (k > kMaxDepth) continue;
          n.sc.maxLevel = std::max(n.sc.maxLevel, (int)k);
          if (k == 0 && o.prolog) {
            n.sc.fs[0]++;
            n.sc.maxLevel = std::max(n.sc.maxLevel, 1);
            continue;
          }
          switch (kind) {
            case NK_FS: n.sc.fs[k]++; if (o.showoog) n.sc.fscore++; break;
            case NK_REPAIR: n.sc.repair++; if (o.showoog) n.sc.fscore++; break;
            case NK_OOG: n.sc.oog++; if (o.showoog) n.sc.fscore++; break;
            case NK_FI: n.sc.fscore++; break;
            default: n.sc.netscore++; break;
          }
        }
        if (counted) n.sc.word++;
        if (!repair) n.sc.bits[p / 64] |= (uint64_t)1 << (p % 64);
        auto &b = buckets[e.config];
        if (b.empty()) bucketOrder.push_back(e.config);
        size_t at = 0;
        while (at < b.size() && CompareScores(n.sc, b[at].sc, o) <= 0) at++;
        if (at < keep) {
          b.insert(b.begin() + at, std::move(n));
          if (b.size() > keep) b.pop_back();
        }
      }
    }
  matched_.push_back(!bucketOrder.empty());
  if (!cands) skipped_++;
  if (bucketOrder.empty()) return 0;  // skipped: every path stays where it was
  matchedPositions_.push_back(p);
  for (int c : bucketOrder)
    for (auto &n : buckets[c]) {
      items_.push_back(std::move(n));
      Enroll((int)items_.size() - 1);
    }
  return 0;
}

std::vector<std::string> Parser::Expectations(const ParseOptions &o) {
  std::vector<std::string> out;
  if (g_.nets.empty() || g_.nets[0].out.empty()) return out;
  Start();
  int p = (int)words_.size();
  for (size_t t = 0; t < expectByTerm_.size(); t++) {
    bool any = false;
    for (auto &pe : expectByTerm_[t]) {
      int ip = items_[pe.first].pos;
      if (ip < 0 || p - ip <= o.framewindow) { any = true; break; }
    }
    if (any) out.push_back(o.upper ? g_.terms[t].upper : g_.terms[t].lower);
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
      while (common < it.stack.size() && common < prev->stack.size() &&
             it.stack[common].net == prev->stack[common].net &&
             it.stack[common].entry == prev->stack[common].entry)
        common++;
    closeTo(common);
    bool counted = true;
    NetKind inner = NK_PLAIN;
    for (size_t k = 0; k < it.stack.size(); k++) {
      const std::string &name = g_.nets[it.stack[k].net].name;
      NetKind kind = KindOf(name);
      inner = kind;
      if (kind == NK_REPAIR || (kind == NK_OOG && !o.showoog)) counted = false;
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
    const Terminal &t = g_.terms[it.term];
    std::string word = o.upper ? t.lower : t.upper;
    bool hide = o.hide && !o.showoog && inner != NK_PLAIN;
    if (counted && !hide) {
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
  const Score &first = items_[order[0].item].sc;
  std::vector<size_t> chosen{0};
  for (size_t i = 1; i < order.size(); i++) {
    const Score &s = items_[order[i].item].sc;
    if (o.nbest == 1) {
      bool same = s.word == first.word && s.repair == first.repair && s.oog == first.oog &&
                  s.fscore == first.fscore && s.netscore == first.netscore &&
                  CompareBits(s.bits, first.bits) == 0 && s.maxLevel == first.maxLevel &&
                  std::equal(s.fs, s.fs + kMaxDepth + 1, first.fs);
      if (!same) break;
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
