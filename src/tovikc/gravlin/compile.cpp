// Rule bodies into sub-networks between two null junctions.
#include <cstring>
#include <string>
#include <vector>

#include "gravlin_int.h"
#include "yastro.h"

namespace gravlin {

namespace {

int newJunction(GravlinNet *net) {
    int j = newState(net, GRAVLIN_NULL);
    net->states[j].expanded = 1;
    return j;
}

bool isRepetition(const std::string &w) {
    return w.compare(0, 4, "<1->") == 0 || w.compare(0, 4, "<0->") == 0 || w.compare(0, 3, "<+>") == 0 ||
           w.compare(0, 3, "<*>") == 0;
}

int markBoundary(GravlinNet *net, int entry, int exit) {
    GravlinState *e = &net->states[entry];
    for (int i = 0; i < e->numTo; i++) {
        int s = e->toLinks[i].state;
        GravlinState *t = &net->states[s];
        int k = 0;
        while (k < t->numFrom && t->fromLinks[k].state != entry) k++;
        if (k == t->numFrom) {
            gErr("No link %d->%d found.\n", entry, s);
            return GRAVLIN_FAIL;
        }
        e->toLinks[i].wordBoundary = t->fromLinks[k].wordBoundary = 1;
    }
    GravlinState *x = &net->states[exit];
    for (int i = 0; i < x->numFrom; i++) {
        int p = x->fromLinks[i].state;
        GravlinState *t = &net->states[p];
        int k = 0;
        while (k < t->numTo && t->toLinks[k].state != exit) k++;
        if (k == t->numTo) {
            gErr("No link %d->%d found!\n", p, exit);
            return GRAVLIN_FAIL;
        }
        x->fromLinks[i].wordBoundary = t->toLinks[k].wordBoundary = 1;
    }
    return 0;
}

} // namespace

int fillItemState(GravlinNet *net, int state, int parent, const char *token, const char *unit,
                  std::vector<int> &created, const char *className, ClassIndex &idx) {
    setStateName(&net->states[state], unit);
    created.push_back(state);
    if (net->selfLoops) addSelfLoop(net, state);
    int ci, vi;
    idx.find(net, className, token, &ci, &vi);
    GravlinState *s = &net->states[state];
    const GravlinState *p = parent >= 0 ? &net->states[parent] : nullptr;
    if (strcmp(className, "word") == 0)
        s->wordValue = vi;
    else if (p)
        s->wordValue = p->wordValue;
    if (strcmp(className, "phoneme") == 0)
        s->phonemeValue = vi;
    else if (p)
        s->phonemeValue = p->phonemeValue;
    int n = p ? p->numLevels : 0;
    DB_FREE(s->levelClasses);
    DB_FREE(s->levelValues);
    s->levelClasses = static_cast<int32_t *>(DB_MALLOC((n + 1) * sizeof(int32_t)));
    s->levelValues = static_cast<int32_t *>(DB_MALLOC((n + 1) * sizeof(int32_t)));
    if (n) {
        memcpy(s->levelClasses, p->levelClasses, n * sizeof(int32_t));
        memcpy(s->levelValues, p->levelValues, n * sizeof(int32_t));
    }
    s->levelClasses[n] = ci;
    s->levelValues[n] = vi;
    s->numLevels = n + 1;
    return 0;
}

int buildRuleSubnet(GravlinNet *net, int parent, const char *token, const char *body, int groupType, int *entryOut,
                    int *exitOut, const char *className, int depth, std::vector<int> &created, ClassIndex &idx) {
    std::vector<std::string> words = splitWords(body);
    int entry = newJunction(net);
    int exit = newJunction(net);
    *entryOut = entry;
    *exitOut = exit;
    if (groupType == GRAVLIN_OPTIONAL || groupType == GRAVLIN_KLEENE_STAR) addLink(net, entry, exit, 0);
    if (groupType == GRAVLIN_POS_CLOSURE || groupType == GRAVLIN_KLEENE_STAR) addLink(net, exit, entry, 0);
    int curEnd = entry, elemStart = entry, before = -1;
    bool altOpen = false, expectAlt = false;
    int altStart = -1, altEnd = -1;
    for (size_t i = 0; i < words.size(); i++) {
        const std::string &w = words[i];
        char c0 = w[0];
        if (c0 == '(' || c0 == '[' || c0 == '{') {
            if (i + 1 == words.size()) {
                gErr("Error: token %s at end of line %s\n", w.c_str(), body);
                return GRAVLIN_FAIL;
            }
            if (w.size() != 2) {
                gErr("ERROR: BUG IN CODE: EoS expected\n");
                return GRAVLIN_FAIL;
            }
            char close = c0 == '(' ? ')' : c0 == '[' ? ']' : '}';
            size_t j = i + 1;
            while (j < words.size() && !(words[j][0] == close && words[j].size() == 2 && words[j][1] == w[1])) j++;
            if (j == words.size()) {
                gErr("Error: missing symbol '%c' in %s\n", close, body);
                return GRAVLIN_FAIL;
            }
            std::string inner;
            for (size_t k = i + 1; k < j; k++) inner += (inner.empty() ? "" : " ") + words[k];
            int type = c0 == '(' ? GRAVLIN_GROUPING : c0 == '[' ? GRAVLIN_OPTIONAL : GRAVLIN_KLEENE_STAR;
            int ge, gx;
            if (buildRuleSubnet(net, parent, token, inner.c_str(), type, &ge, &gx, className, depth + 1, created, idx))
                return GRAVLIN_FAIL;
            if (expectAlt) {
                addLink(net, altStart, ge, 0);
                addLink(net, gx, altEnd, 0);
                expectAlt = false;
            } else {
                addLink(net, curEnd, ge, 0);
                before = curEnd;
                elemStart = ge;
                curEnd = gx;
                altOpen = false;
            }
            i = j;
            continue;
        }
        if (w == "|" || isRepetition(w)) {
            // Both act on the element before them; without one the body
            // would have nothing to choose between or repeat.
            if (before < 0 || expectAlt) {
                gErr("Error: '%s' without an element before it in '%s'\n", w.c_str(), body);
                return GRAVLIN_FAIL;
            }
            if (w == "|") {
                expectAlt = true;
                if (!altOpen) {
                    altOpen = true;
                    altStart = newJunction(net);
                    altEnd = newJunction(net);
                    if (removeLink(net, before, elemStart)) return GRAVLIN_FAIL;
                    addLink(net, before, altStart, 0);
                    addLink(net, altStart, elemStart, 0);
                    addLink(net, curEnd, altEnd, 0);
                    elemStart = altStart;
                    curEnd = altEnd;
                }
                continue;
            }
            bool zero = w[1] == '0' || w[1] == '*';
            int L = newJunction(net), M = newJunction(net);
            if (removeLink(net, before, elemStart)) return GRAVLIN_FAIL;
            addLink(net, before, L, 0);
            addLink(net, L, elemStart, 0);
            addLink(net, curEnd, M, 0);
            addLink(net, M, L, 0);
            if (zero) addLink(net, L, M, 0);
            elemStart = L;
            curEnd = M;
            altOpen = false;
            continue;
        }
        int s = newState(net, GRAVLIN_ITEM);
        if (!expectAlt) addLink(net, curEnd, s, 0);
        fillItemState(net, s, parent, token, w.c_str(), created, className, idx);
        if (expectAlt) {
            addLink(net, altStart, s, 0);
            addLink(net, s, altEnd, 0);
            expectAlt = false;
        } else {
            before = curEnd;
            elemStart = s;
            curEnd = s;
            altOpen = false;
        }
    }
    if (expectAlt) {
        gErr("Error: group ends with '|' in '%s'\n", body);
        return GRAVLIN_FAIL;
    }
    addLink(net, curEnd, exit, 0);
    if (depth == 0 && strcmp(className, "word") == 0) return markBoundary(net, entry, exit);
    return 0;
}

} // namespace gravlin
