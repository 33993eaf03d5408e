// Pruning: null junctions bypassed, dead units removed, the array compacted.
#include <vector>

#include "gravlin_int.h"
#include "yastro.h"

using namespace gravlin;

namespace {

// Units that lie on no path from the start to the end state. Without a
// start and end state (a network being built) a unit is dead when it has no
// link in or no link out.
std::vector<int> deadUnits(GravlinNet *net) {
    std::vector<int> dead;
    int n = net->numStates;
    if (net->enter < 0 || net->exit < 0 || net->enter >= n || net->exit >= n) {
        for (int i = 0; i < n; i++) {
            GravlinState &s = net->states[i];
            if (s.type == GRAVLIN_ITEM && (s.numFrom == 0 || s.numTo == 0)) dead.push_back(i);
        }
        return dead;
    }
    std::vector<char> fwd(n, 0), bwd(n, 0);
    std::vector<int> stack{net->enter};
    fwd[net->enter] = 1;
    while (!stack.empty()) {
        int s = stack.back();
        stack.pop_back();
        for (int i = 0; i < net->states[s].numTo; i++) {
            int t = net->states[s].toLinks[i].state;
            if (!fwd[t]) fwd[t] = 1, stack.push_back(t);
        }
    }
    stack.push_back(net->exit);
    bwd[net->exit] = 1;
    while (!stack.empty()) {
        int s = stack.back();
        stack.pop_back();
        for (int i = 0; i < net->states[s].numFrom; i++) {
            int t = net->states[s].fromLinks[i].state;
            if (!bwd[t]) bwd[t] = 1, stack.push_back(t);
        }
    }
    for (int i = 0; i < n; i++)
        if (net->states[i].type == GRAVLIN_ITEM && !(fwd[i] && bwd[i])) dead.push_back(i);
    return dead;
}

// Moves state j into the retired slot l: its fields, and its links renamed
// in place on both sides, which keeps every flag and the order of the
// lists (a self link of j becomes one of l).
void moveState(GravlinNet *net, int j, int l) {
    GravlinState &t = net->states[l];
    releaseStateTexts(&t);
    DB_FREE(t.fromLinks);
    DB_FREE(t.toLinks);
    t = net->states[j];
    t.id = l;
    GravlinState &old = net->states[j];
    old.name = nullptr;
    old.nameLen = old.numLevels = old.numExtras = old.numFrom = old.numTo = 0;
    old.levelClasses = old.levelValues = nullptr;
    old.extras = nullptr;
    old.fromLinks = old.toLinks = nullptr;
    old.type = GRAVLIN_NOT_USED;
    old.expanded = 1;
    GravlinState &m = net->states[l];
    for (int k = 0; k < m.numFrom; k++) {
        GravlinLink &e = m.fromLinks[k];
        if (e.state == j) {
            e.state = l;
            continue;
        }
        GravlinState &n = net->states[e.state];
        for (int q = 0; q < n.numTo; q++)
            if (n.toLinks[q].state == j) n.toLinks[q].state = l;
    }
    for (int k = 0; k < m.numTo; k++) {
        GravlinLink &e = m.toLinks[k];
        if (e.state == j) {
            e.state = l;
            continue;
        }
        GravlinState &n = net->states[e.state];
        for (int q = 0; q < n.numFrom; q++)
            if (n.fromLinks[q].state == j) n.fromLinks[q].state = l;
    }
}

} // namespace

extern "C" int Gravlin_prune(GravlinNet *net) {
    for (int j = 0; j < net->numStates; j++) {
        if (net->states[j].type != GRAVLIN_NULL) continue;
        std::vector<GravlinLink> in(net->states[j].fromLinks, net->states[j].fromLinks + net->states[j].numFrom);
        std::vector<GravlinLink> out(net->states[j].toLinks, net->states[j].toLinks + net->states[j].numTo);
        // A bypass link carries a word boundary when either link it
        // replaces did, whatever the order of the links.
        for (const GravlinLink &p : in) {
            if (p.state == j) continue;
            for (const GravlinLink &s : out)
                if (s.state != j) addLink(net, p.state, s.state, p.wordBoundary | s.wordBoundary);
        }
        if (retireState(net, j, {}, {})) return GRAVLIN_FAIL;
    }
    std::vector<int> dead = deadUnits(net);
    while (!dead.empty()) {
        for (int d : dead)
            if (retireState(net, d, {}, {})) return GRAVLIN_FAIL;
        dead = deadUnits(net);
    }
    int j = net->numStates - 1;
    while (j >= 0 && net->states[j].type == GRAVLIN_NOT_USED) j--;
    for (int l = 0; l < j; l++) {
        if (net->states[l].type != GRAVLIN_NOT_USED) continue;
        moveState(net, j, l);
        while (j > l && net->states[j].type == GRAVLIN_NOT_USED) j--;
    }
    int keep = 0;
    while (keep < net->numStates && net->states[keep].type != GRAVLIN_NOT_USED) keep++;
    truncateStates(net, keep);
    return 0;
}
