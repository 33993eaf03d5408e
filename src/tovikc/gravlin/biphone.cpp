// Multi-state biphone expansion: phoneme units rewritten into left-context,
// centre and right-context units named by a unit specification.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "gravlin_int.h"
#include "yastro.h"

using namespace gravlin;

namespace {

struct Unit {
    std::string name, base, centre;
    std::vector<std::string> left, right;
};

int findUnit(const std::vector<Unit> &t, const std::string &name) {
    for (size_t i = 0; i < t.size(); i++)
        if (t[i].name == name) return (int)i;
    return -1;
}

bool startsWith(const char *s, const char *p) { return strncmp(s, p, strlen(p)) == 0; }

int parseBiphoneSpec(std::vector<Unit> &t, char **st, int n) {
    std::string l, r;
    for (int k = 0; k < n; k++) {
        const char *s = st[k];
        if (startsWith(s, "duration_model") || startsWith(s, "features") || startsWith(s, "feat_context") ||
            startsWith(s, "frame_size") || startsWith(s, "sampling_freq") || startsWith(s, "map") ||
            splitAtSeparator(s, l, r, ":=") == 0 || strstr(s, ":="))
            continue;
        const char *b = strchr(s, ' ');
        if (!b) {
            gErr("ERROR parsing cat in line %s\n", s);
            return GRAVLIN_FAIL;
        }
        std::string w(s, b - s), ph, ctx;
        int kind; // 0 left, 1 centre, 2 right
        if (w.size() >= 2 && w.front() == '<' && w.back() == '>') {
            kind = 1;
            ph = w.substr(1, w.size() - 2);
        } else if (w.find('>') != std::string::npos || w.find('<') == std::string::npos) {
            size_t p = w.find('>');
            if (p == 0) p = w.find('>', 1);
            if (p == std::string::npos) {
                gErr("Can't parse category '%s'\n", w.c_str());
                return GRAVLIN_FAIL;
            }
            kind = 2;
            ph = w.substr(0, p);
            ctx = w.substr(p + 1);
        } else {
            size_t p = w.find('<');
            kind = 0;
            ctx = w.substr(0, p);
            ph = w.substr(p + 1);
        }
        int u = findUnit(t, ph);
        if (u < 0) {
            t.push_back(Unit{ph, ph, kind == 1 ? ph : "", {}, {}});
            u = (int)t.size() - 1;
        }
        if (kind == 0) t[u].left.push_back(ctx);
        if (kind == 2) t[u].right.push_back(ctx);
        if (kind == 1) t[u].centre = t[u].base;
    }
    return 0;
}

int contextName(GravlinNet *net, const char *cls, int nb, const std::vector<std::string> &list,
                const Clusters &clusters, bool left, const std::string &base, std::string &out) {
    std::string v = stateClassValue(net, nb, cls);
    if (std::find(list.begin(), list.end(), v) != list.end()) {
        out = v;
        return 0;
    }
    for (const Cluster &k : clusters)
        if (std::find(list.begin(), list.end(), k.name) != list.end() &&
            std::find(k.members.begin(), k.members.end(), v) != k.members.end()) {
            out = k.name;
            return 0;
        }
    gErr("Can't find phoneme '%s' in %s context of phoneme '%s'\n", v.c_str(), left ? "left" : "right", base.c_str());
    Gravlin_printGravlinNode(net, nb);
    return GRAVLIN_FAIL;
}

int makeUnit(GravlinNet *net, int parent, const std::string &token, const std::string &name, const char *cls,
             ClassIndex &idx) {
    std::vector<int> created;
    int s = newState(net, GRAVLIN_ITEM);
    fillItemState(net, s, parent, token.c_str(), name.c_str(), created, cls, idx);
    net->states[s].expanded = 1;
    return s;
}

int rewrite(GravlinNet *net, int i, const Unit &e, const Clusters &clusters, const char *cls, ClassIndex &idx) {
    if (e.left.empty() && e.right.empty()) {
        GravlinState *s = &net->states[i];
        s->expanded = 1;
        setStateName(s, ("<" + e.centre + ">").c_str());
        int ci, vi;
        idx.find(net, cls, e.name.c_str(), &ci, &vi);
        s = &net->states[i];
        if (strcmp(cls, "word") == 0) s->wordValue = vi;
        if (strcmp(cls, "phoneme") == 0) s->phonemeValue = vi;
        if (net->selfLoops) addSelfLoop(net, i);
        s = &net->states[i];
        int n = s->numLevels;
        s->levelClasses = static_cast<int32_t *>(DB_REALLOC(s->levelClasses, (n + 1) * sizeof(int32_t)));
        s->levelValues = static_cast<int32_t *>(DB_REALLOC(s->levelValues, (n + 1) * sizeof(int32_t)));
        s->levelClasses[n] = ci;
        s->levelValues[n] = vi;
        s->numLevels = n + 1;
        return 0;
    }
    std::vector<int> lefts, rights;
    std::vector<std::string> leftNames, rightNames;
    std::vector<GravlinLink> in(net->states[i].fromLinks, net->states[i].fromLinks + net->states[i].numFrom);
    std::vector<GravlinLink> out(net->states[i].toLinks, net->states[i].toLinks + net->states[i].numTo);
    for (const GravlinLink &l : in) {
        if (l.state == i) continue;
        if (e.left.empty()) {
            lefts.push_back(l.state);
            continue;
        }
        std::string ctx;
        if (contextName(net, cls, l.state, e.left, clusters, true, e.base, ctx)) return GRAVLIN_FAIL;
        std::string name = ctx + "<" + e.base;
        auto it = std::find(leftNames.begin(), leftNames.end(), name);
        int u;
        if (it != leftNames.end()) {
            u = lefts[it - leftNames.begin()];
        } else {
            u = makeUnit(net, i, e.name, name, cls, idx);
            lefts.push_back(u);
            leftNames.push_back(name);
        }
        addLink(net, l.state, u, l.wordBoundary);
    }
    for (const GravlinLink &l : out) {
        if (l.state == i) continue;
        if (e.right.empty()) {
            rights.push_back(l.state);
            continue;
        }
        std::string ctx;
        if (contextName(net, cls, l.state, e.right, clusters, false, e.base, ctx)) return GRAVLIN_FAIL;
        std::string name = e.base + ">" + ctx;
        auto it = std::find(rightNames.begin(), rightNames.end(), name);
        int u;
        if (it != rightNames.end()) {
            u = rights[it - rightNames.begin()];
        } else {
            u = makeUnit(net, i, e.name, name, cls, idx);
            rights.push_back(u);
            rightNames.push_back(name);
        }
        addLink(net, u, l.state, l.wordBoundary);
    }
    if (!e.centre.empty()) {
        int c = makeUnit(net, i, e.name, "<" + e.centre + ">", cls, idx);
        for (int u : lefts) addLink(net, u, c, 0);
        for (int u : rights) addLink(net, c, u, 0);
    } else {
        for (int u : lefts)
            for (int v : rights) addLink(net, u, v, 0);
    }
    return retireState(net, i, {}, {});
}

} // namespace

extern "C" int Gravlin_expandSpecMultiStateBiphone(char **statements, int count, const char *className,
                                                   GravlinNet *net) {
    std::vector<Unit> table;
    if (parseBiphoneSpec(table, statements, count)) return GRAVLIN_FAIL;
    Clusters clusters, maps;
    std::string l, r;
    for (int k = 0; k < count; k++) {
        const char *s = statements[k];
        bool isMap = startsWith(s, "map");
        if (splitAtSeparator(s, l, r, ":=") != 0) continue;
        if (!isMap) {
            addClusterMembers(clusters, l, r);
            continue;
        }
        if (l.size() < 4 || l[3] != ' ') {
            gErr("Error in map command '%s' in spec\n", s);
            return GRAVLIN_FAIL;
        }
        addClusterMembers(maps, l.substr(4), r);
    }
    for (const Cluster &m : maps)
        for (const std::string &n : m.members) {
            for (Cluster &k : clusters)
                if (std::find(k.members.begin(), k.members.end(), m.name) != k.members.end()) k.members.push_back(n);
            int p = findUnit(table, m.name);
            if (p < 0) {
                gErr("Error: mapping to unknown phoneme '%s'\n", m.name.c_str());
                return GRAVLIN_FAIL;
            }
            Unit u = table[p];
            u.name = n;
            table.push_back(u);
        }
    ClassIndex idx;
    int n = net->numStates;
    for (int i = 0; i < n; i++) {
        GravlinState *s = &net->states[i];
        if (s->expanded != 0 || s->type != GRAVLIN_ITEM || !s->name) continue;
        int u = findUnit(table, s->name);
        if (u < 0) continue;
        if (rewrite(net, i, table[u], clusters, className, idx)) return GRAVLIN_FAIL;
    }
    return Gravlin_prune(net);
}
