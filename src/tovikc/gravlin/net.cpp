// Network records: init, states, links, class values, copy and release.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "gravlin_int.h"
#include "yastro.h"

namespace gravlin {

namespace {
thread_local std::string errorText;

// Arrays grow to the next power of two so that appending one element at a
// time stays cheap; the capacity follows from the count alone.
size_t capacityFor(size_t n) {
    size_t c = 1;
    while (c < n) c <<= 1;
    return n ? c : 0;
}

template <typename T> void resizeArray(T *&arr, size_t oldN, size_t newN) {
    size_t oc = capacityFor(oldN), nc = capacityFor(newN);
    if (oc == nc) return;
    if (nc == 0) {
        DB_FREE(arr);
        arr = nullptr;
        return;
    }
    arr = static_cast<T *>(DB_REALLOC(arr, nc * sizeof(T)));
}

GravlinLink *findLink(GravlinLink *links, int n, int state) {
    for (int i = 0; i < n; i++)
        if (links[i].state == state) return &links[i];
    return nullptr;
}

void appendLink(GravlinLink *&links, int32_t &n, int state, int direction, int flag) {
    resizeArray(links, n, n + 1);
    links[n] = GravlinLink{state, direction, 0.0f, flag};
    n++;
}

int dropLink(GravlinLink *&links, int32_t &n, int state) {
    for (int i = 0; i < n; i++) {
        if (links[i].state != state) continue;
        links[i] = links[n - 1];
        resizeArray(links, n, n - 1);
        n--;
        return 0;
    }
    return -1;
}
} // namespace

void gErr(const char *fmt, ...) {
    char buf[4096];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    fputs(buf, stderr);
    errorText += buf;
}

void gWarn(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    vfprintf(stderr, fmt, ap);
    va_end(ap);
}

char *dupText(const char *s) {
    size_t n = strlen(s);
    char *d = static_cast<char *>(DB_MALLOC(n + 1));
    memcpy(d, s, n + 1);
    return d;
}
char *dupText(const std::string &s) { return dupText(s.c_str()); }

void setStateName(GravlinState *s, const char *name) {
    if (s->name) DB_FREE(s->name);
    s->name = dupText(name);
    s->nameLen = (int32_t)strlen(name);
}

int newState(GravlinNet *net, int type) {
    int idx = net->numStates;
    resizeArray(net->states, idx, idx + 1);
    net->numStates++;
    GravlinState *s = &net->states[idx];
    memset(s, 0, sizeof *s);
    s->id = idx;
    s->type = type;
    s->category = s->phonemeValue = s->wordValue = -1;
    s->durParam1 = s->durParam2 = -1.0f;
    s->searchInt1 = s->searchInt2 = s->searchInt3 = -1;
    s->searchReal1 = s->searchReal2 = s->searchReal3 = s->searchReal4 = s->searchReal5 = 1e10f;
    return idx;
}

static void copyStateFields(GravlinState *t, const GravlinState *s) {
    *t = *s;
    t->name = s->nameLen > 0 && s->name ? dupText(s->name) : nullptr;
    if (!t->name) t->nameLen = 0;
    t->levelClasses = t->levelValues = nullptr;
    if (s->numLevels > 0) {
        t->levelClasses = static_cast<int32_t *>(DB_MALLOC(s->numLevels * sizeof(int32_t)));
        t->levelValues = static_cast<int32_t *>(DB_MALLOC(s->numLevels * sizeof(int32_t)));
        memcpy(t->levelClasses, s->levelClasses, s->numLevels * sizeof(int32_t));
        memcpy(t->levelValues, s->levelValues, s->numLevels * sizeof(int32_t));
    }
    t->extras = nullptr;
    if (s->numExtras > 0) {
        t->extras = DB_MALLOC((size_t)s->numExtras * 16);
        memcpy(t->extras, s->extras, (size_t)s->numExtras * 16);
    }
}

void truncateStates(GravlinNet *net, int keep) {
    for (int i = keep; i < net->numStates; i++) {
        GravlinState *s = &net->states[i];
        releaseStateTexts(s);
        DB_FREE(s->fromLinks);
        DB_FREE(s->toLinks);
    }
    resizeArray(net->states, net->numStates, keep);
    net->numStates = keep;
}

int copyState(GravlinNet *net, int src, int dst) {
    GravlinState *t = &net->states[dst];
    if (t->numFrom || t->numTo) {
        // Overwriting would lose the target's links.
        gErr("ERROR: Memory leak overwriting node %d\n", dst);
        return GRAVLIN_FAIL;
    }
    releaseStateTexts(t);
    GravlinState copy;
    copyStateFields(&copy, &net->states[src]);
    copy.numFrom = copy.numTo = 0;
    copy.fromLinks = copy.toLinks = nullptr;
    copy.id = -1;
    net->states[dst] = copy;
    return 0;
}

void addLink(GravlinNet *net, int from, int to, int flag) {
    flag = flag == 1 ? 1 : 0;
    GravlinState *a = &net->states[from];
    GravlinLink *l = findLink(a->toLinks, a->numTo, to);
    if (l) {
        if (l->wordBoundary == 0 && flag == 1) l->wordBoundary = 1;
    } else {
        appendLink(a->toLinks, a->numTo, to, 1, flag);
    }
    GravlinState *b = &net->states[to];
    l = findLink(b->fromLinks, b->numFrom, from);
    if (l) {
        if (l->wordBoundary == 0 && flag == 1) l->wordBoundary = 1;
    } else {
        appendLink(b->fromLinks, b->numFrom, from, 0, flag);
    }
}

int removeLink(GravlinNet *net, int from, int to) {
    GravlinState *a = &net->states[from], *b = &net->states[to];
    if (a->numTo == 0) {
        gErr("Error removing connection: state %d has none\n", from);
        Gravlin_printGravlinNode(net, from);
        return GRAVLIN_FAIL;
    }
    if (b->numFrom == 0) {
        gErr("Error removing connection: state %d has none\n", to);
        Gravlin_printGravlinNode(net, to);
        return GRAVLIN_FAIL;
    }
    if (dropLink(a->toLinks, a->numTo, to)) {
        gErr("Error: can't find link %d -> %d\n", from, to);
        Gravlin_printGravlinNode(net, from);
        Gravlin_printGravlinNode(net, to);
        return GRAVLIN_FAIL;
    }
    b = &net->states[to];
    if (dropLink(b->fromLinks, b->numFrom, from)) {
        gErr("Error: can't find link %d <- %d\n", from, to);
        Gravlin_printGravlinNode(net, from);
        Gravlin_printGravlinNode(net, to);
        return GRAVLIN_FAIL;
    }
    return 0;
}

void releaseStateTexts(GravlinState *s) {
    DB_FREE(s->levelClasses);
    DB_FREE(s->levelValues);
    DB_FREE(s->extras);
    DB_FREE(s->name);
    s->levelClasses = s->levelValues = nullptr;
    s->extras = nullptr;
    s->name = nullptr;
    s->numLevels = s->numExtras = s->nameLen = 0;
}

int retireState(GravlinNet *net, int state, const std::vector<int> &targets, const std::vector<int> &sources) {
    while (net->states[state].numFrom > 0) {
        GravlinLink l = net->states[state].fromLinks[0];
        if (removeLink(net, l.state, state)) return GRAVLIN_FAIL;
        for (int t : targets)
            if (t != state) addLink(net, l.state, t, l.wordBoundary);
    }
    while (net->states[state].numTo > 0) {
        GravlinLink l = net->states[state].toLinks[0];
        if (removeLink(net, state, l.state)) return GRAVLIN_FAIL;
        for (int u : sources)
            if (u != state) addLink(net, u, l.state, l.wordBoundary);
    }
    GravlinState *s = &net->states[state];
    releaseStateTexts(s);
    s->expanded = 1;
    s->type = GRAVLIN_NOT_USED;
    return 0;
}

int addSelfLoop(GravlinNet *net, int state) {
    addLink(net, state, state, 0);
    GravlinState *s = &net->states[state];
    findLink(s->toLinks, s->numTo, state)->wordBoundary = 0;
    findLink(s->fromLinks, s->numFrom, state)->wordBoundary = 0;
    return 0;
}

int linkFlag(const GravlinNet *net, int from, int to) {
    const GravlinState *a = &net->states[from];
    for (int i = 0; i < a->numTo; i++)
        if (a->toLinks[i].state == to) return a->toLinks[i].wordBoundary;
    return -1;
}

bool hasLink(const GravlinNet *net, int from, int to) { return linkFlag(net, from, to) >= 0; }

void findClassValue(GravlinNet *net, const char *className, const char *value, int *classIdx, int *valueIdx) {
    int ci = -1;
    for (int i = 0; i < net->numClasses; i++)
        if (strcmp(net->classes[i].name, className) == 0) {
            ci = i;
            break;
        }
    if (ci < 0) {
        ci = net->numClasses;
        resizeArray(net->classes, ci, ci + 1);
        net->numClasses++;
        GravlinClass &c = net->classes[ci];
        c.name = dupText(className);
        c.nameLen = (int32_t)strlen(className);
        c.numValues = 0;
        c.values = nullptr;
    }
    GravlinClass &c = net->classes[ci];
    int vi = -1;
    for (int i = 0; i < c.numValues; i++)
        if (strcmp(c.values[i], value) == 0) {
            vi = i;
            break;
        }
    if (vi < 0) {
        vi = c.numValues;
        resizeArray(c.values, vi, vi + 1);
        c.values[vi] = dupText(value);
        c.numValues++;
    }
    *classIdx = ci;
    *valueIdx = vi;
}

void ClassIndex::find(GravlinNet *net, const char *className, const char *value, int *ci, int *vi) {
    auto it = classes.find(className);
    int c;
    if (it == classes.end()) {
        int v;
        findClassValue(net, className, value, &c, &v);
        classes[className] = c;
        if ((int)values.size() <= c) values.resize(c + 1);
        GravlinClass &k = net->classes[c];
        for (int i = 0; i < k.numValues; i++) values[c].emplace(k.values[i], i);
        *ci = c;
        *vi = v;
        return;
    }
    c = it->second;
    auto &m = values[c];
    auto v = m.find(value);
    if (v != m.end()) {
        *ci = c;
        *vi = v->second;
        return;
    }
    GravlinClass &k = net->classes[c];
    resizeArray(k.values, k.numValues, k.numValues + 1);
    k.values[k.numValues] = dupText(value);
    m.emplace(value, k.numValues);
    *ci = c;
    *vi = k.numValues++;
}

std::string stateClassValue(const GravlinNet *net, int state, const char *className) {
    if (state < 0) return std::string();
    const GravlinState *s = &net->states[state];
    for (int l = s->numLevels - 1; l >= 0; l--) {
        const GravlinClass &c = net->classes[s->levelClasses[l]];
        if (strcmp(c.name, className) == 0) return c.values[s->levelValues[l]];
    }
    return s->name ? s->name : "";
}

} // namespace gravlin

using namespace gravlin;

extern "C" {

int Gravlin_init(GravlinNet *net, const char *name, int collapseIdentical, int selfLoops) {
    memset(net, 0, sizeof *net);
    net->name = dupText(name ? name : "grammar");
    net->nameLen = (int32_t)strlen(net->name);
    net->enter = net->exit = -1;
    net->collapseIdentical = collapseIdentical;
    net->selfLoops = selfLoops;
    net->durModelLen = 1;
    net->durModel = dupText("");
    net->sampFreq = -1.0f;
    net->frameSize = -1.0f;
    net->featuresURILen = 1;
    net->featuresURI = dupText("");
    net->contextURILen = 1;
    net->contextURI = dupText("");
    return 0;
}

void Gravlin_free(GravlinNet *net) {
    for (int i = 0; i < net->numStates; i++) {
        GravlinState *s = &net->states[i];
        releaseStateTexts(s);
        DB_FREE(s->fromLinks);
        DB_FREE(s->toLinks);
    }
    DB_FREE(net->states);
    for (int i = 0; i < net->numClasses; i++) {
        GravlinClass &c = net->classes[i];
        for (int v = 0; v < c.numValues; v++) DB_FREE(c.values[v]);
        DB_FREE(c.values);
        DB_FREE(c.name);
    }
    DB_FREE(net->classes);
    DB_FREE(net->durModel);
    DB_FREE(net->featuresURI);
    DB_FREE(net->contextURI);
    std::string name = net->name ? net->name : "grammar";
    DB_FREE(net->name);
    // What is left reads as an empty network of the same name and flags.
    int ci = net->collapseIdentical, sl = net->selfLoops;
    Gravlin_init(net, name.c_str(), ci, sl);
}

void Gravlin_release(GravlinNet *net) {
    Gravlin_free(net);
    DB_FREE(net->name);
    DB_FREE(net->durModel);
    DB_FREE(net->featuresURI);
    DB_FREE(net->contextURI);
    net->name = net->durModel = net->featuresURI = net->contextURI = nullptr;
}

void Gravlin_copy(GravlinNet *dst, const GravlinNet *src) {
    *dst = *src;
    dst->name = dupText(src->name ? src->name : "");
    dst->durModel = dupText(src->durModel ? src->durModel : "");
    dst->featuresURI = dupText(src->featuresURI ? src->featuresURI : "");
    dst->contextURI = dupText(src->contextURI ? src->contextURI : "");
    dst->states = nullptr;
    dst->classes = nullptr;
    size_t ns = capacityFor(src->numStates);
    if (ns) dst->states = static_cast<GravlinState *>(DB_MALLOC(ns * sizeof(GravlinState)));
    for (int i = 0; i < src->numStates; i++) {
        const GravlinState *s = &src->states[i];
        GravlinState *t = &dst->states[i];
        copyStateFields(t, s);
        t->fromLinks = t->toLinks = nullptr;
        if (s->numFrom) {
            t->fromLinks = static_cast<GravlinLink *>(DB_MALLOC(capacityFor(s->numFrom) * sizeof(GravlinLink)));
            memcpy(t->fromLinks, s->fromLinks, s->numFrom * sizeof(GravlinLink));
        }
        if (s->numTo) {
            t->toLinks = static_cast<GravlinLink *>(DB_MALLOC(capacityFor(s->numTo) * sizeof(GravlinLink)));
            memcpy(t->toLinks, s->toLinks, s->numTo * sizeof(GravlinLink));
        }
    }
    size_t nc = capacityFor(src->numClasses);
    if (nc) dst->classes = static_cast<GravlinClass *>(DB_MALLOC(nc * sizeof(GravlinClass)));
    for (int i = 0; i < src->numClasses; i++) {
        const GravlinClass &c = src->classes[i];
        GravlinClass &d = dst->classes[i];
        d = c;
        d.name = dupText(c.name);
        d.values = nullptr;
        if (c.numValues) d.values = static_cast<char **>(DB_MALLOC(capacityFor(c.numValues) * sizeof(char *)));
        for (int v = 0; v < c.numValues; v++) d.values[v] = dupText(c.values[v]);
    }
}

void Gravlin_swap(GravlinNet *a, GravlinNet *b) {
    GravlinNet t = *a;
    *a = *b;
    *b = t;
}

const char *Gravlin_errorText(void) { return errorText.c_str(); }
void Gravlin_clearError(void) { errorText.clear(); }

} // extern "C"
