// The grammar compiler: rules are expanded in place into the states of their
// net, net references become transitions into nets compiled (or loaded) once
// per grammar tree, and the compile driver chooses between a grammar file
// and its compiled forms.
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <cstdio>
#include <set>
#include <unordered_set>

#include "gd.h"
#include "rtn.h"

namespace rtn {

void Net::SetArcs(const std::vector<std::vector<Arc>> &out) {
  first.assign(out.size() + 1, 0);
  arcs.clear();
  for (size_t s = 0; s < out.size(); s++) {
    first[s] = (int32_t)arcs.size();
    arcs.insert(arcs.end(), out[s].begin(), out[s].end());
  }
  first[out.size()] = (int32_t)arcs.size();
}

// Appends t to the chain of terminals that share a side; chains run in
// increasing index order, which a reader of a compiled file checks.
static void LinkSide(GDPC_HashTable &pht, std::vector<int32_t> &next, const std::string &key,
                     int t) {
  bool isNew;
  int e = GDPC_StringCreate(pht, key.data(), key.size(), &isNew);
  if (isNew) {
    pht.entry[e].value = t;
    return;
  }
  int k = pht.entry[e].value;
  while (next[k] >= 0) k = next[k];
  next[k] = t;
}

int Grammar::AddTerminal(const std::string &name) {
  bool isNew;
  int e = GDPC_StringCreate(pht, name.data(), name.size(), &isNew);
  if (!isNew) return pht.entry[e].value;
  int t = (int)termKey.size();
  pht.entry[e].value = t;
  termKey.push_back(e);
  upperNext.push_back(-1);
  lowerNext.push_back(-1);
  size_t c = name.find(':');
  std::string upper = c == std::string::npos ? name : name.substr(0, c);
  std::string lower = c == std::string::npos ? name : name.substr(c + 1);
  LinkSide(pht, upperNext, "U " + upper, t);
  LinkSide(pht, lowerNext, "L " + lower, t);
  return t;
}

std::string Grammar::Upper(int t) const {
  const char *n = TermName(t), *c = strchr(n, ':');
  return c ? std::string(n, c - n) : std::string(n);
}

std::string Grammar::Lower(int t) const {
  const char *n = TermName(t), *c = strchr(n, ':');
  return c ? std::string(c + 1) : std::string(n);
}

int Grammar::FindTerminal(const std::string &name) const {
  // Side keys begin with "U " or "L ", which no terminal name does.
  if (name.size() >= 2 && (name[0] == 'U' || name[0] == 'L') && name[1] == ' ') return -1;
  int e = GDPC_StringFind(pht, name.data(), name.size());
  return e < 0 ? -1 : pht.entry[e].value;
}

int Grammar::FirstBySide(bool upper, const std::string &w) const {
  std::string key = (upper ? "U " : "L ") + w;
  int e = GDPC_StringFind(pht, key.data(), key.size());
  return e < 0 ? -1 : pht.entry[e].value;
}

int Grammar::FindNet(const std::string &bracketed) const {
  auto it = netIndex.find(bracketed);
  return it == netIndex.end() ? -1 : it->second;
}

std::vector<int> Grammar::Subtree(int i) const {
  std::vector<int> order{i};
  std::vector<bool> seen(nets.size());
  seen[i] = true;
  for (size_t k = 0; k < order.size(); k++)
    for (auto &a : nets[order[k]].arcs)
        if (a.kind == ARC_NET && !seen[a.id]) {
          seen[a.id] = true;
          order.push_back(a.id);
        }
  return order;
}

NetKind KindOf(const std::string &n) {
  size_t u = n.find_last_of('_');
  if (u == std::string::npos) return NK_PLAIN;
  std::string s = n.substr(u + 1);
  if (s == "fs]") return NK_FS;
  if (s == "repair]") return NK_REPAIR;
  if (s == "oog]") return NK_OOG;
  if (s == "fi]") return NK_FI;
  return NK_PLAIN;
}

// ---------------------------------------------------------------------------
// File helpers.

static bool MTime(const std::string &path, int64_t *t) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  *t = (int64_t)st.st_mtim.tv_sec * 1000000000 + st.st_mtim.tv_nsec;
  return true;
}

static int ReadText(const std::string &path, std::string &out) {
  FILE *f = fopen(path.c_str(), "rb");
  if (!f) return 1;
  std::string s;
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  bool err = ferror(f);
  fclose(f);
  if (err) return 2;
  out.swap(s);
  return 0;
}

// A net name that could name a file outside the grammar directory.
static bool UnsafeNetName(const std::string &bare) {
  return bare.empty() || bare.find('/') != std::string::npos ||
         bare.find('\\') != std::string::npos || bare[0] == '.' ||
         bare.find('\0') != std::string::npos;
}

// ---------------------------------------------------------------------------
// Compiling one net.

struct Builder;

struct CompileState {
  Grammar &g;
  CompileOptions opt;
  std::vector<std::string> inProgress;  // nets being compiled, outermost first
  int dotCount = 0;                     // dots on the current line
  explicit CompileState(Grammar &gr) : g(gr) {}
  void Dots(size_t n) {
    if (!opt.dots || !opt.dotsOut) return;
    for (size_t i = 0; i < n; i++) {
      if (dotCount > 15) {
        dotCount = 0;
        opt.dotsOut("\r\t\t\t\t\t\t\t\t\t\t\r");
      }
      dotCount++;
      opt.dotsOut(".");
    }
  }
  int Ensure(const std::string &bare, int readStatus, int depth, std::string &res);
  int CompileFile(const std::string &bare, int slot, int depth, std::string &res);
  int CompileBuffer(const std::string &bare, const std::string &text, int slot, int depth,
                    std::string &res);
  int ReadCompiled(const std::string &bare, const std::string &path, bool isRtn, int depth,
                   int *status, std::string &res);
};

// The reductions: checks each rule as it arrives and records the references.
struct Compiler : GDActions {
  std::string *res;
  std::unordered_map<std::string, int> defined;     // rule name -> rule index
  std::unordered_map<std::string, int> referenced;  // rule name -> references
  std::vector<std::pair<std::string, int>> late;    // references to defined rules
  std::vector<std::string> order;                   // referenced names, first seen first

  int InitNet(GDLex &lx) override { return 0; }

  int RewritePattern(GDLex &lx, int r) override {
    RewriteSide &rule = lx.rules[r];
    if (r > 0) {
      if (!referenced.count(rule.lhs)) {
        *res += "GDH_FindHashEntry failure for " + rule.lhs + ": " + RTN_TRAILER;
        return 1;
      }
      if (defined.count(rule.lhs)) {
        *res += "Error: rule " + rule.lhs + " is defined twice in GDPC_RewritePattern: " +
                RTN_TRAILER;
        return 1;
      }
    }
    for (auto &alt : rule.rhs)
      for (auto &t : alt.terms) {
        if (t.kind == TK_NONE) {
          *res += "Error: improper NULL string found in pRewrite " + rule.lhs +
                  " line(" + std::to_string(rule.line) + ") in GDPC_RewritePattern: " +
                  RTN_TRAILER;
          return 1;
        }
        if (t.kind != TK_RULE) continue;
        if (t.name == rule.lhs) {
          *res += "Error: A net has been found which includes itself. This program "
                  "requires that recursion be dealt with by each recursive level of the "
                  "same net having a unique name: " + RTN_TRAILER;
          return 1;
        }
        if (defined.count(t.name)) {
          late.emplace_back(t.name, referenced[t.name]);
          continue;
        }
        if (!referenced.count(t.name)) order.push_back(t.name);
        referenced[t.name]++;
      }
    if (r > 0) defined[rule.lhs] = r;
    return 0;
  }
};

struct Builder {
  CompileState &cs;
  GDLex &lx;
  const Compiler &cp;
  std::vector<std::vector<Arc>> out;
  int depth;
  std::string &res;
  std::string bare;

  int NewState() {
    out.emplace_back();
    return (int)out.size() - 1;
  }
  void AddArc(int from, int to, uint8_t kind, int id) { out[from].push_back({to, kind, id}); }

  int Body(const RhsTerm &t, int x, int y) {
    if ((int)out.size() > kMaxStates) {
      res += "Error: net [" + bare + "] grows beyond " + std::to_string(kMaxStates) +
             " states in GDPC_RewritePattern: " + RTN_TRAILER;
      return 1;
    }
    switch (t.kind) {
      case TK_TERMINAL:
        AddArc(x, y, ARC_TERM, cs.g.AddTerminal(t.name));
        return 0;
      case TK_NET: {
        std::string sub = t.name.substr(1, t.name.size() - 2);
        int ni = cs.Ensure(sub, RS_RTN, depth + 1, res);
        if (ni < 0) {
          res += "RTN_Create failure in GDPC_AddNetArc: " + RTN_TRAILER;
          return 1;
        }
        AddArc(x, y, ARC_NET, ni);
        return 0;
      }
      case TK_RULE:
        return Rule(cp.defined.at(t.name), x, y);
    }
    return 1;
  }

  int Term(const RhsTerm &t, int x, int y) {
    if (t.plus) {
      // One or more: enter a loop state so that the repetition cannot leak
      // into other arcs leaving x.
      int m = NewState();
      AddArc(x, m, ARC_NULL, 0);
      if (Body(t, m, m) || Body(t, m, y)) return 1;
    } else if (Body(t, x, y)) {
      return 1;
    }
    if (t.star) AddArc(x, y, ARC_NULL, 0);
    return 0;
  }

  int Rule(int r, int a, int b) {
    for (auto &alt : lx.rules[r].rhs) {
      int from = a;
      for (size_t j = 0; j < alt.terms.size(); j++) {
        int to = j + 1 == alt.terms.size() ? b : NewState();
        if (Term(alt.terms[j], from, to)) return 1;
        from = to;
      }
    }
    return 0;
  }
};

int CompileState::CompileBuffer(const std::string &bare, const std::string &text, int slot,
                                int depth, std::string &res) {
  std::string path = bare + ".gra";
  if (UnsafeNetName(bare)) {
    res += "Error: bad net name [" + bare + "] in RTN_Create: " + RTN_TRAILER;
    return 1;
  }
  GDLex lx;
  lx.buf.reserve(text.size());
  for (size_t i = 0; i < text.size(); i++)  // CR LF reads as LF
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) lx.buf += text[i];
  lx.res = &res;
  Compiler cp;
  cp.res = &res;
  if (GD_parse(lx, cp, res)) {
    res += "RTN_Create: GD_parse failure for " + path + " in RTN_Create: " + RTN_TRAILER;
    return 1;
  }
  // Every referenced rule must have been expanded.
  for (auto &name : cp.order)
    if (!cp.defined.count(name)) {
      res += "Error: an rwCount of 0 for arc 0 of " + name + " was found (is " + name +
             " defined?) in GDPC_ProcessNonTerms: " + RTN_TRAILER;
      res += "RTN_Create: GDPC_ProcessNonTerms failure for " + path + " in RTN_Create: " +
             RTN_TRAILER;
      return 1;
    }
  for (auto &l : cp.late) {
    res += "Error: an rwCount of 0 for arc " + std::to_string(l.second) + " of " + l.first +
           " was found (is " + l.first + " defined?) in GDPC_ProcessNonTerms: " + RTN_TRAILER;
    res += "RTN_Create: GDPC_ProcessNonTerms failure for " + path + " in RTN_Create: " +
           RTN_TRAILER;
    return 1;
  }
  std::string key = "[" + bare + "]";
  if (lx.netName != key || lx.rules.empty() || lx.rules[0].rhs.empty()) {
    if (!lx.netName.empty() && lx.netName != key)
      res += "RTN_Create: the top-level net's name(" + lx.netName +
             ") does not match the name of its definition file(" + bare +
             ") in RTN_Create: " + RTN_TRAILER;
    else
      res += "RTN_Create: GDPC_FindHashEntry failure for " + key + " in RTN_Create: " +
             RTN_TRAILER;
    return 1;
  }
  Dots(lx.rules.size());
  inProgress.push_back(key);
  Builder b{*this, lx, cp, {}, depth, res, bare};
  b.out.resize(2);
  int rc = b.Rule(0, 0, 1);
  inProgress.pop_back();
  if (rc) return 1;
  // Identical alternatives give identical arcs; keep one of each.
  for (auto &st : b.out) {
    std::set<std::tuple<int, int, int>> seen;
    std::vector<Arc> keep;
    for (auto &a : st)
      if (seen.insert({a.to, a.kind, a.id}).second) keep.push_back(a);
    st.swap(keep);
  }
  g.nets[slot].SetArcs(b.out);
  Dots(8);
  g.nets[slot].fWrite = true;
  g.nets[slot].fromNetFile = false;
  return 0;
}

int CompileState::CompileFile(const std::string &bare, int slot, int depth, std::string &res) {
  std::string path = opt.dir + bare + ".gra";
  std::string text;
  int rc = ReadText(path, text);
  if (rc) {
    res += (rc == 1 ? "fopen failure for " : "fread failure for ") + path +
           " in GDPC_BufferizeFile: " + RTN_TRAILER;
    res += "GDPC_BufferizeFile failure for " + path + " in RTN_Create: " + RTN_TRAILER;
    return 1;
  }
  int64_t t = 0;
  MTime(path, &t);
  if (CompileBuffer(bare, text, slot, depth, res)) return 1;
  g.nets[slot].graTime = t;
  return 0;
}

// Reserves the net's index so that the top net is 0 and references made while
// it compiles point at it.
static int Slot(Grammar &g, const std::string &key) {
  int i = g.FindNet(key);
  if (i >= 0) return i;
  Net n;
  n.name = key;
  g.nets.push_back(n);
  g.netIndex[key] = (int)g.nets.size() - 1;
  return (int)g.nets.size() - 1;
}

int CompileState::ReadCompiled(const std::string &bare, const std::string &path, bool isRtn,
                               int depth, int *status, std::string &res) {
  std::string bytes, why;
  if (RTN_ReadFile(path, bytes, why)) {
    fprintf(stderr, "Warning: %s is refused (%s); compiling %s.gra instead\n", path.c_str(),
            why.substr(0, why.find('\n')).c_str(), bare.c_str());
    *status = RS_GRA;
    return -1;
  }
  Grammar trial = g;  // the tree stays unchanged when the file is refused
  std::vector<std::string> missing;
  // The container checked the field's bytes as it read them.
  int i = RTN_Unpack(trial, bytes, why, &missing, false);
  if (i >= 0 && trial.nets[i].name != "[" + bare + "]") {
    why = "it holds net " + trial.nets[i].name + "\n";
    i = -1;
  }
  if (i < 0) {
    fprintf(stderr, "Warning: %s is damaged (%s); compiling %s.gra instead\n", path.c_str(),
            why.substr(0, why.find('\n')).c_str(), bare.c_str());
    *status = RS_GRA;
    return -1;
  }
  if (opt.rebuild) {
    // Every net read must not be older than its grammar file: a grammar
    // newer than the net's own .rtn asks for a compile, one newer than the
    // time the net was compiled from asks for the .rtn files instead. A
    // file that cannot be looked at counts as newer.
    for (auto &n : trial.nets) {
      if (g.FindNet(n.name) >= 0 && g.nets[g.FindNet(n.name)].Defined()) continue;
      if (!n.Defined()) continue;
      int64_t t, tr;
      std::string nb = n.name.substr(1, n.name.size() - 2);
      if (!MTime(opt.dir + nb + ".gra", &t) || !MTime(opt.dir + nb + ".rtn", &tr) || t > tr) {
        *status = RS_GRA;
        return -1;
      }
      if (t > n.graTime) {
        *status = RS_RTN;
        return -1;
      }
    }
  }
  g = std::move(trial);
  if (!isRtn) g.nets[i].fromNetFile = true;
  for (auto &m : missing) {
    std::string mb = m.substr(1, m.size() - 2);
    if (Ensure(mb, RS_RTN, depth + 1, res) < 0) {
      res += "RTN_Create failure in GDPC_AddNetArc: " + RTN_TRAILER;
      *status = RS_FAIL;
      return -1;
    }
  }
  return i;
}

int CompileState::Ensure(const std::string &bare, int status, int depth, std::string &res) {
  std::string key = "[" + bare + "]";
  int have = g.FindNet(key);
  if (have >= 0 && g.nets[have].Defined()) return have;
  if (std::find(inProgress.begin(), inProgress.end(), key) != inProgress.end()) {
    res += "Error (in GDPC_AddNTArc): non-term net found in ptlpc->pht with no object or "
           "PackedObject: " + RTN_TRAILER;
    return -1;
  }
  if (UnsafeNetName(bare)) {
    res += "Error: net name " + key + " may not name a file outside the grammar directory "
           "in GDPC_AddNTArc: " + RTN_TRAILER;
    return -1;
  }
  if (depth > kMaxDepth) {
    res += "Error: nets are nested deeper than " + std::to_string(kMaxDepth) + " at " + key +
           " in GDPC_AddNTArc: " + RTN_TRAILER;
    return -1;
  }
  std::string gra = opt.dir + bare + ".gra", rtnp = opt.dir + bare + ".rtn",
              netp = opt.dir + bare + ".net";
  int64_t tg = 0, tr = 0, tn = 0;
  bool hg = MTime(gra, &tg), hr = MTime(rtnp, &tr), hn = MTime(netp, &tn);
  if (status == RS_NET) {
    if (!hn) {
      status = hr ? RS_RTN : RS_GRA;
    } else if (!hg) {
      res += "There was no grammar definition file found for " + gra + " in RTN_Create: " +
             RTN_TRAILER;
      return -1;
    } else if (tg >= tn) {
      status = RS_GRA;
    } else {
      int i = ReadCompiled(bare, netp, false, depth, &status, res);
      if (i >= 0) return i;
      if (status == RS_FAIL) {
        res += "RTN_Create: RTN_Read failure for " + netp + " in RTN_Create: " + RTN_TRAILER;
        return -1;
      }
    }
  }
  if (status == RS_RTN) {
    if (hr) {
      if (!hg) {
        res += "There was no grammar definition file found for " + gra + " in RTN_Create: " +
               RTN_TRAILER;
        return -1;
      }
      if (tg < tr) {
        int i = ReadCompiled(bare, rtnp, true, depth, &status, res);
        if (i >= 0) return i;
        if (status == RS_FAIL) {
          res += "RTN_Create: RTN_Read failure for " + rtnp + " in RTN_Create: " + RTN_TRAILER;
          return -1;
        }
      }
    }
    status = RS_GRA;
  }
  if (status != RS_GRA) return -1;
  int slot = Slot(g, key);
  if (CompileFile(bare, slot, depth, res)) return -1;
  return slot;
}

int RTN_Create(Grammar &g, const std::string &name, const CompileOptions &opt,
               std::string &res) {
  g = Grammar();
  CompileState cs(g);
  cs.opt = opt;
  if (!cs.opt.dir.empty() && cs.opt.dir.back() != '/') cs.opt.dir += '/';
  int i = cs.Ensure(name, opt.readStatus, 0, res);
  if (i < 0) {
    g = Grammar();
    return 1;
  }
  if (i != 0) {
    res += "Error: non-zero net" + std::to_string(i) +
           " before call to RTN_Containerize in RTN_Create: " + RTN_TRAILER;
    g = Grammar();
    return 1;
  }
  if (opt.alloc.print || opt.alloc.log) {
    // Each net compiled here listed the upper and lower sides of the
    // terminals under it, and each side its terminals; nets below first.
    for (int k = (int)g.nets.size() - 1; k >= 0; k--) {
      if (!g.nets[k].fWrite) continue;
      std::unordered_set<std::string> sides;
      size_t terms = 0;
      std::vector<bool> seen(g.TermCount(), false);
      for (int n : g.Subtree(k))
        for (auto &a : g.nets[n].arcs)
          if (a.kind == ARC_TERM && !seen[a.id]) {
            seen[a.id] = true;
            terms++;
            sides.insert("U " + g.Upper(a.id));
            sides.insert("L " + g.Lower(a.id));
          }
      int lists = 128, indices = 256;
      if (RTN_ReportGrowth(opt.alloc, "GDPC_AllocTerminalLists", "TLIST_TABLESIZE", 128,
                           g.nets[k].name, lists, sides.size(), res) ||
          RTN_ReportGrowth(opt.alloc, "GDPC_AllocTerminalIndicess", "TINDEX_TABLESIZE", 256,
                           g.nets[k].name, indices, 2 * terms, res)) {
        g = Grammar();
        return 1;
      }
    }
  }
  return 0;
}

int RTN_CompileText(Grammar &g, const std::string &name, const std::string &text,
                    std::string &res) {
  g = Grammar();
  CompileState cs(g);
  int slot = Slot(g, "[" + name + "]");
  if (cs.CompileBuffer(name, text, slot, 0, res)) {
    g = Grammar();
    return 1;
  }
  return 0;
}

int RTN_Filize(std::string &res, const std::string &text, const std::string &dir) {
  size_t seg = 0;
  for (;;) {
    size_t next = text.find("\n[", seg);
    std::string s = text.substr(seg, next == std::string::npos ? std::string::npos : next - seg);
    size_t close = s.find(']');
    if (s.empty() || s[0] != '[' || close == std::string::npos || close == 1) {
      res += "\rError: sscanf failure for szFileName in pszFileContent:\n" + s +
             "\nin RTN_Filize: " + RTN_TRAILER;
      return 1;
    }
    std::string name = s.substr(1, close - 1);
    if (UnsafeNetName(name)) {
      res += "\rError: net name [" + name +
             "] would write outside the directory in RTN_Filize: " + RTN_TRAILER;
      return 1;
    }
    std::string path = dir + name + ".gra";
    FILE *f = fopen(path.c_str(), "w");
    if (!f) {
      res += "\rError: cannot create " + path + " in RTN_Filize: " + RTN_TRAILER;
      return 1;
    }
    bool ok = fwrite(s.data(), 1, s.size(), f) == s.size();
    ok = fclose(f) == 0 && ok;
    if (!ok) {
      res += "\rError: cannot write " + path + " in RTN_Filize: " + RTN_TRAILER;
      return 1;
    }
    if (next == std::string::npos) return 0;
    seg = next + 1;
  }
}

}  // namespace rtn
