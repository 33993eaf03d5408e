// Grammar expansion: the start rule, then plain and context rules applied to
// unexpanded units until nothing changes.
#include <algorithm>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "gravlin_int.h"

using namespace gravlin;

namespace {

// Transient mark of a unit kept through a copy of itself because no context
// alternative matched: not taken up again in this call, open to later ones.
const int kKeptUnparsed = 2;

using Path = std::deque<int>;

struct Copy {
    int source;
    int flagIn;
    int flagOut;
};

struct Record {
    int alt = -1;
    int leftAnchor = -1, rightAnchor = -1;
    int entry = -1, exit = -1;
    int leftFlag = 0, rightFlag = 0;
    std::vector<Copy> left, right;
    std::vector<std::string> leftNames, rightNames;
};

struct Ctx {
    GravlinNet *net;
    const char *cls;
    Clusters clusters;
    ClassIndex idx;
    std::vector<int> created;
    std::vector<Record> cache;
};

void collect(GravlinNet *net, int cur, int depth, int want, std::vector<Path> &paths, bool left,
             std::vector<int> &guard, std::vector<Path> &result) {
    if (cur >= 0 && std::find(guard.begin(), guard.end(), cur) != guard.end()) return;
    if (depth > want) {
        result.insert(result.end(), paths.begin(), paths.end());
        return;
    }
    int n = cur >= 0 ? (left ? net->states[cur].numFrom : net->states[cur].numTo) : 0;
    if (n == 0) {
        for (Path &p : paths) left ? p.push_front(-1) : p.push_back(-1);
        collect(net, -1, depth + 1, want, paths, left, guard, result);
        for (Path &p : paths) left ? p.pop_front() : p.pop_back();
        return;
    }
    for (int k = 0; k < n; k++) {
        int nb = left ? net->states[cur].fromLinks[k].state : net->states[cur].toLinks[k].state;
        if (net->states[nb].type == GRAVLIN_NULL) {
            guard.push_back(cur);
            collect(net, nb, depth, want, paths, left, guard, result);
            continue;
        }
        for (Path &p : paths) left ? p.push_front(nb) : p.push_back(nb);
        collect(net, nb, depth + 1, want, paths, left, guard, result);
        for (Path &p : paths) left ? p.pop_front() : p.pop_back();
    }
}

std::vector<Path> buildContextPaths(GravlinNet *net, int state, int ldepth, int rdepth) {
    std::vector<Path> start{Path{state}}, lefts, all;
    std::vector<int> guard;
    collect(net, state, 1, ldepth, start, true, guard, lefts);
    guard.clear();
    collect(net, state, 1, rdepth, lefts, false, guard, all);
    return all;
}

int isWordBoundaryLink(GravlinNet *net, int from, int to, std::vector<int> &visited) {
    if (from < 0 || to < 0) return -1;
    if (net->states[from].type != GRAVLIN_NULL) {
        int f = linkFlag(net, from, to);
        if (f >= 0) return f == 1 ? 1 : 0;
    }
    for (int k = 0; k < net->states[from].numTo; k++) {
        int s = net->states[from].toLinks[k].state;
        if (std::find(visited.begin(), visited.end(), s) != visited.end()) continue;
        if (net->states[s].type != GRAVLIN_NULL) continue;
        visited.push_back(s);
        int r = isWordBoundaryLink(net, s, to, visited);
        if (r == 0) return net->states[from].toLinks[k].wordBoundary == 1 ? 1 : 0;
        if (r == 1) return 1;
    }
    return -1;
}

int boundary(GravlinNet *net, int from, int to) {
    std::vector<int> v;
    return isWordBoundaryLink(net, from, to, v);
}

bool matchToken(Ctx &c, int state, const std::string &tok) {
    if (tok == kWildcard) return true;
    if (state < 0) return false;
    std::string v = stateClassValue(c.net, state, c.cls);
    if (v == tok) return true;
    const Cluster *k = findCluster(c.clusters, tok);
    return k && std::find(k->members.begin(), k->members.end(), v) != k->members.end();
}

// Walks one side of the context; the anchor is the outermost examined
// position that holds a state. 1 match, 0 no match, -666 a malformed path.
int matchSide(Ctx &c, const Path &path, int centre, const std::vector<std::string> &tokens, bool left,
              int *anchor) {
    int pos = left ? centre - 1 : centre + 1;
    int last = left ? centre - 1 : centre + 1;
    size_t t = 0;
    while (t < tokens.size()) {
        if (pos < 0 || pos >= (int)path.size()) {
            gErr("prog. err: context reaches beyond its path of %d states\n", (int)path.size());
            return GRAVLIN_FAIL;
        }
        const std::string &tok = tokens[t];
        if (tok == "/WB" || tok == "/NWB") {
            int prev = left ? (pos - 1 >= 0 ? path[pos - 1] : -1) : path[pos - 1];
            int from = left ? prev : prev, to = path[pos];
            int wb = boundary(c.net, from, to);
            bool ok = tok == "/WB" ? wb != 0 : wb == 0;
            if (!ok) return 0;
            t += 2;
        } else {
            if (!matchToken(c, path[pos], tok)) return 0;
            t++;
        }
        if (path[pos] >= 0) last = pos;
        pos += left ? -1 : 1;
    }
    *anchor = last;
    return 1;
}

int matchRuleContext(Ctx &c, const Path &path, int centre, const Alternative &a, int altIdx, Record &rec) {
    int la, ra;
    int r = matchSide(c, path, centre, a.left, true, &la);
    if (r != 1) return r;
    r = matchSide(c, path, centre, a.right, false, &ra);
    if (r != 1) return r;
    GravlinNet *net = c.net;
    rec = Record();
    rec.alt = altIdx;
    rec.leftAnchor = path[la];
    rec.rightAnchor = path[ra];
    rec.leftFlag = boundary(net, path[centre - 1], path[centre]) == 1;
    rec.rightFlag = boundary(net, path[centre], path[centre + 1]) == 1;
    for (int p = centre - 1; p > la; p--) {
        rec.left.push_back(Copy{path[p], linkFlag(net, path[p - 1], path[p]) == 1, linkFlag(net, path[p], path[p + 1]) == 1});
        rec.leftNames.push_back(net->states[path[p]].name ? net->states[path[p]].name : "");
    }
    for (int p = centre + 1; p < ra; p++) {
        rec.right.push_back(Copy{path[p], linkFlag(net, path[p - 1], path[p]) == 1, linkFlag(net, path[p], path[p + 1]) == 1});
        rec.rightNames.push_back(net->states[path[p]].name ? net->states[path[p]].name : "");
    }
    return 1;
}

int copyUnit(GravlinNet *net, int src) {
    int c = newState(net, GRAVLIN_ITEM);
    if (copyState(net, src, c)) return -1;
    net->states[c].id = c;
    return c;
}

void replaceInCache(Ctx &c, Record *rec, int from, int to) {
    auto fix = [&](Record &r) {
        if (r.entry == from) r.entry = to;
        if (r.exit == from) r.exit = to;
    };
    if (rec) fix(*rec);
    for (Record &r : c.cache) fix(r);
}

// Neighbours on one side, without the state itself.
std::vector<int> neighbours(const GravlinNet *net, int s, bool from) {
    const GravlinState &st = net->states[s];
    std::vector<int> v;
    for (int k = 0; k < (from ? st.numFrom : st.numTo); k++) {
        int o = from ? st.fromLinks[k].state : st.toLinks[k].state;
        if (o != s) v.push_back(o);
    }
    std::sort(v.begin(), v.end());
    return v;
}

// Two units of one name are merged only where that adds no sentence: they
// must share all their predecessors or all their successors, else paths
// that crossed from one to the other would appear.
bool mergeable(const GravlinNet *net, int a, int b) {
    if (hasLink(net, a, a) != hasLink(net, b, b)) return false;
    return neighbours(net, a, true) == neighbours(net, b, true) ||
           neighbours(net, a, false) == neighbours(net, b, false);
}

int mergeIdenticalState(Ctx &c, int state, Record *rec) {
    GravlinNet *net = c.net;
    const char *name = net->states[state].name;
    if (!name) return 0;
    for (int o : c.created) {
        if (o == state || net->states[o].type != GRAVLIN_ITEM || !net->states[o].name) continue;
        if (strcmp(net->states[o].name, name) != 0 || !mergeable(net, o, state)) continue;
        replaceInCache(c, rec, state, o);
        return retireState(net, state, {o}, {o});
    }
    return 0;
}

bool sameNeighbours(GravlinNet *net, int i, int j) {
    const GravlinState &a = net->states[i];
    for (int k = 0; k < a.numFrom; k++)
        if (!hasLink(net, a.fromLinks[k].state, j)) return false;
    for (int k = 0; k < a.numTo; k++)
        if (!hasLink(net, j, a.toLinks[k].state)) return false;
    return true;
}

int expandPathAlternative(Ctx &c, int centre, const Alternative &a, Record &rec) {
    GravlinNet *net = c.net;
    std::vector<int> units;
    std::string token = net->states[centre].name;
    int e, x;
    if (buildRuleSubnet(net, centre, token.c_str(), a.body.c_str(), 1, &e, &x, c.cls, 0, units, c.idx))
        return GRAVLIN_FAIL;
    int prev = rec.leftAnchor;
    for (size_t k = rec.left.size(); k-- > 0;) {
        int cp = copyUnit(net, rec.left[k].source);
        if (cp < 0) return GRAVLIN_FAIL;
        addLink(net, prev, cp, rec.left[k].flagIn);
        prev = cp;
    }
    addLink(net, prev, e, rec.leftFlag);
    prev = x;
    for (size_t k = 0; k < rec.right.size(); k++) {
        int cp = copyUnit(net, rec.right[k].source);
        if (cp < 0) return GRAVLIN_FAIL;
        addLink(net, prev, cp, rec.right[k].flagIn);
        prev = cp;
    }
    int lastIn = rec.right.empty() ? rec.rightFlag : rec.right.back().flagOut;
    addLink(net, prev, rec.rightAnchor, lastIn);
    rec.entry = e;
    rec.exit = x;
    if (net->collapseIdentical)
        for (int u : units)
            if (net->states[u].type == GRAVLIN_ITEM && mergeIdenticalState(c, u, &rec)) return GRAVLIN_FAIL;
    std::vector<int> junctions;
    for (int i = 0; i < net->numStates; i++)
        if (net->states[i].type == GRAVLIN_NULL) junctions.push_back(i);
    for (size_t p = 0; p < junctions.size(); p++) {
        int i = junctions[p];
        if (net->states[i].type != GRAVLIN_NULL) continue;
        for (size_t q = p + 1; q < junctions.size(); q++) {
            int j = junctions[q];
            if (net->states[j].type != GRAVLIN_NULL || !sameNeighbours(net, i, j)) continue;
            replaceInCache(c, &rec, j, i);
            if (retireState(net, j, {i}, {i})) return GRAVLIN_FAIL;
        }
    }
    for (int u : units)
        if (net->states[u].type == GRAVLIN_ITEM) c.created.push_back(u);
    return 0;
}

// A cached body is shared only when it was built without context copies:
// joining new anchors straight to a body that has copies would skip them.
const Record *findCachedExpansion(Ctx &c, const Record &r) {
    if (!r.left.empty() || !r.right.empty()) return nullptr;
    for (const Record &k : c.cache)
        if (k.alt == r.alt && k.leftFlag == r.leftFlag && k.rightFlag == r.rightFlag && k.left.empty() &&
            k.right.empty())
            return &k;
    return nullptr;
}

int expandUnparsedPath(Ctx &c, int state, const Path &path, int centre) {
    GravlinNet *net = c.net;
    int ln = path[centre - 1], rn = path[centre + 1];
    int f1 = linkFlag(net, ln, state), f2 = linkFlag(net, state, rn);
    if (f1 < 0 || f2 < 0) {
        if (f1 < 0)
            gErr("Error: can't find %d in state %d 'from' node\n", ln, state);
        else
            gErr("Error: can't find %d in state %d 'to' nodes\n", rn, state);
        Gravlin_printGravlinNode(net, state);
        return GRAVLIN_FAIL;
    }
    int cp = copyUnit(net, state);
    if (cp < 0) return GRAVLIN_FAIL;
    net->states[cp].expanded = kKeptUnparsed;
    // A self link of the unit stays with each copy.
    if (hasLink(net, state, state)) addSelfLoop(net, cp);
    addLink(net, ln == state ? cp : ln, cp, f1);
    addLink(net, cp, rn == state ? cp : rn, f2);
    if (net->collapseIdentical && mergeIdenticalState(c, cp, nullptr)) return GRAVLIN_FAIL;
    if (net->states[cp].type == GRAVLIN_ITEM) c.created.push_back(cp);
    return 0;
}

// True when the unit was made, directly or through other rules, by the rule
// that would now rewrite it: expanding it again would never end.
bool recursive(Ctx &c, int state, const std::string &token, const std::string &full) {
    GravlinNet *net = c.net;
    const GravlinState &s = net->states[state];
    for (int l = 0; l < s.numLevels; l++) {
        const GravlinClass &k = net->classes[s.levelClasses[l]];
        if (strcmp(k.name, c.cls) != 0) continue;
        const char *v = k.values[s.levelValues[l]];
        if (token == v || full == v) return true;
    }
    return false;
}

int expandContext(Ctx &c, int state, const Rule &rule) {
    GravlinNet *net = c.net;
    std::vector<Path> paths = buildContextPaths(net, state, rule.maxLcon, rule.maxRcon);
    int centre = rule.maxLcon;
    bool changed = false;
    for (const Path &path : paths) {
        if (path[centre - 1] < 0 || path[centre + 1] < 0) {
            gErr("Error in path: unit '%s' has no neighbour on one side\n", net->states[state].name);
            return GRAVLIN_FAIL;
        }
        bool matched = false;
        for (size_t a = 0; a < rule.alts.size() && !matched; a++) {
            Record rec;
            int m = matchRuleContext(c, path, centre, rule.alts[a], (int)a, rec);
            if (m < 0) return GRAVLIN_FAIL;
            if (m == 0) continue;
            matched = true;
            net->states[state].expanded = 1;
            changed = true;
            if (const Record *k = findCachedExpansion(c, rec)) {
                addLink(net, rec.leftAnchor, k->entry, rec.leftFlag);
                addLink(net, k->exit, rec.rightAnchor, rec.rightFlag);
            } else {
                if (expandPathAlternative(c, state, rule.alts[a], rec)) return GRAVLIN_FAIL;
                c.cache.push_back(rec);
            }
        }
        if (!matched) {
            std::string p;
            for (size_t i = 0; i < path.size(); i++) {
                int s = path[i];
                const char *nm = s >= 0 && net->states[s].name ? net->states[s].name : "";
                p += std::string(nm) + "(" + std::to_string(s) + ")" + (i + 1 < path.size() ? " -> " : "\n");
            }
            gWarn("Warning: no parse for '%s' in path\n\t%s\n", net->states[state].name, p.c_str());
            if (expandUnparsedPath(c, state, path, centre)) return GRAVLIN_FAIL;
            net->states[state].expanded = 1;
        }
    }
    if (net->states[state].expanded == 1) {
        if (retireState(net, state, {}, {})) return GRAVLIN_FAIL;
        if (Gravlin_prune(net)) return GRAVLIN_FAIL;
    }
    return changed ? 1 : 0;
}

} // namespace

extern "C" int Gravlin_expand(char **statements, int count, const char *startToken, const char *className,
                              GravlinNet *net) {
    RuleTable table;
    if (buildRuleTable(table, statements, count)) return GRAVLIN_FAIL;
    Ctx c;
    c.net = net;
    c.cls = className;
    std::string left, right;
    for (int k = 0; k < count; k++)
        if (splitAtSeparator(statements[k], left, right, ":=") == 0) addClusterMembers(c.clusters, left, right);
    if (net->numStates == 0) {
        const Rule *r = startToken ? table.find(startToken) : nullptr;
        if (!r) {
            gErr("Error: can't find starting token '%s'\n", startToken ? startToken : "");
            return -1;
        }
        if (r->maxLcon > 0 || r->maxRcon > 0)
            gWarn("Error: start token '%s' has context-dependent rule '%s'\n", r->token.c_str(), r->alts[0].body.c_str());
        int e, x;
        if (buildRuleSubnet(net, -1, r->token.c_str(), r->alts[0].body.c_str(), 1, &e, &x, className, 0, c.created,
                            c.idx)) {
            gErr("Error creating state at line\n%s\n", statements[r->statement]);
            return GRAVLIN_FAIL;
        }
        net->states[e].type = GRAVLIN_BOU;
        setStateName(&net->states[e], "/BOU");
        net->states[x].type = GRAVLIN_EOU;
        setStateName(&net->states[x], "/EOU");
        net->enter = e;
        net->exit = x;
    }
    bool changed = true;
    int rc = 0;
    while (changed && !rc) {
        changed = false;
        int n = net->numStates;
        for (int i = 0; i < n && i < net->numStates && !rc; i++) {
            GravlinState *s = &net->states[i];
            if (s->expanded != 0 || s->type != GRAVLIN_ITEM || !s->name) continue;
            c.created.clear();
            c.cache.clear();
            std::string full = s->name, key = full;
            if (key.size() > 2 && key.compare(key.size() - 2, 2, "%%") == 0) key.resize(key.size() - 2);
            const Rule *r = table.find(key);
            if (!r) continue;
            if (recursive(c, i, key, full)) {
                gErr("Error: rule '%s' is recursive: it rewrites a unit it made\n", key.c_str());
                rc = GRAVLIN_FAIL;
                break;
            }
            if (r->maxLcon == 0 && r->maxRcon == 0) {
                s->expanded = 1;
                changed = true;
                int e, x;
                if (buildRuleSubnet(net, i, full.c_str(), r->alts[0].body.c_str(), 1, &e, &x, className, 0, c.created,
                                    c.idx)) {
                    rc = GRAVLIN_FAIL;
                    break;
                }
                // The unit's own self link is not carried to the expansion:
                // it would let the whole expansion repeat.
                if (hasLink(net, i, i) && removeLink(net, i, i)) rc = GRAVLIN_FAIL;
                if (!rc && retireState(net, i, {e}, {x})) rc = GRAVLIN_FAIL;
                continue;
            }
            // Contexts are read from direct neighbours: junctions left by
            // the rules applied so far are bypassed first.
            bool junctions = false;
            for (int k = 0; k < net->numStates && !junctions; k++) junctions = net->states[k].type == GRAVLIN_NULL;
            if (junctions) {
                if (Gravlin_prune(net)) {
                    rc = GRAVLIN_FAIL;
                    break;
                }
                n = net->numStates;
                i = -1;
                continue;
            }
            int m = expandContext(c, i, *r);
            if (m < 0) {
                rc = GRAVLIN_FAIL;
                break;
            }
            // Pruning renumbered the states: walk again from the start so
            // that no unit moved below the walk is missed.
            if (m == 1) changed = true;
            n = net->numStates;
            i = -1;
        }
    }
    for (int i = 0; i < net->numStates; i++)
        if (net->states[i].expanded == kKeptUnparsed) net->states[i].expanded = 0;
    if (rc) return rc;
    return Gravlin_prune(net);
}
