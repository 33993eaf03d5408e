// Networks as bytes, for object files and copies between interpreters.
//
// Layout (little-endian, texts as an i32 length, -1 for none, then bytes):
// name, enter, exit, collapseIdentical, selfLoops, durModel, sampFreq,
// frameSize, featuresURI, contextURI, the three length fields, numClasses, numStates; per class its
// name, value count and values; per state its name, expanded, type,
// category, phonemeValue, wordValue, levels (class, value pairs), incoming
// and outgoing links (state, weight, flag), extras (16 bytes each), the two
// duration parameters and the eight search fields. id and the links'
// direction follow from the position and are not stored.
#include <cstring>
#include <string>

#include "cntr_bytes.h"
#include "gravlin.h"
#include "gravlin_int.h"
#include "yastro.h"

namespace {

const int kExtraBytes = 16;

using Writer = cntr::ByteWriter;
using Reader = cntr::ByteReader;

void write(Writer &w, const GravlinNet *net) {
    w.text(net->name);
    w.i32(net->enter);
    w.i32(net->exit);
    w.i32(net->collapseIdentical);
    w.i32(net->selfLoops);
    w.text(net->durModel);
    w.f32(net->sampFreq);
    w.f32(net->frameSize);
    w.text(net->featuresURI);
    w.text(net->contextURI);
    w.i32(net->durModelLen);
    w.i32(net->featuresURILen);
    w.i32(net->contextURILen);
    w.i32(net->numClasses);
    w.i32(net->numStates);
    for (int c = 0; c < net->numClasses; c++) {
        const GravlinClass &k = net->classes[c];
        w.text(k.name);
        w.i32(k.numValues);
        for (int v = 0; v < k.numValues; v++) w.text(k.values[v]);
    }
    for (int i = 0; i < net->numStates; i++) {
        const GravlinState &s = net->states[i];
        w.text(s.nameLen > 0 ? s.name : nullptr);
        for (int32_t v : {s.expanded, s.type, s.category, s.phonemeValue, s.wordValue, s.numLevels}) w.i32(v);
        for (int l = 0; l < s.numLevels; l++) {
            w.i32(s.levelClasses[l]);
            w.i32(s.levelValues[l]);
        }
        for (int side = 0; side < 2; side++) {
            int n = side ? s.numTo : s.numFrom;
            const GravlinLink *links = side ? s.toLinks : s.fromLinks;
            w.i32(n);
            for (int k = 0; k < n; k++) {
                w.i32(links[k].state);
                w.f32(links[k].weight);
                w.i32(links[k].wordBoundary);
            }
        }
        w.i32(s.numExtras);
        if (s.numExtras > 0) w.bytes(s.extras, (size_t)s.numExtras * kExtraBytes);
        w.f32(s.durParam1);
        w.f32(s.durParam2);
        for (int32_t v : {s.searchInt1, s.searchInt2, s.searchInt3}) w.i32(v);
        for (float v : {s.searchReal1, s.searchReal2, s.searchReal3, s.searchReal4, s.searchReal5}) w.f32(v);
    }
}

// A text of the bytes as the library's own copy (null for none or on failure).
char *readText(Reader &in) {
    std::string t;
    return in.text(t) ? gravlin::dupText(t) : nullptr;
}

// The library grows its arrays in powers of two and expects that capacity.
template <class T>
T *allocArray(int n) {
    if (n <= 0) return nullptr;
    size_t cap = 1;
    while (cap < (size_t)n) cap <<= 1;
    T *a = static_cast<T *>(DB_MALLOC(cap * sizeof(T)));
    memset(a, 0, cap * sizeof(T));
    return a;
}

bool hasMirror(const GravlinLink *links, int n, int state, int flag) {
    for (int k = 0; k < n; k++)
        if (links[k].state == state) return links[k].wordBoundary == flag;
    return false;
}

// Every index in range and every link in both lists with one flag, so that
// nothing that reads the network can step outside it.
bool check(Reader &in, const GravlinNet *net) {
    int N = net->numStates;
    if (N > 0 ? (net->enter < 0 || net->enter >= N || net->exit < 0 || net->exit >= N)
              : (net->enter != -1 || net->exit != -1)) {
        in.fail("start or end state out of range");
        return false;
    }
    for (int i = 0; i < N; i++) {
        const GravlinState &s = net->states[i];
        for (int l = 0; l < s.numLevels; l++) {
            int c = s.levelClasses[l];
            if (c < 0 || c >= net->numClasses || s.levelValues[l] < 0 || s.levelValues[l] >= net->classes[c].numValues) {
                in.fail("state " + std::to_string(i) + " has a class level out of range");
                return false;
            }
        }
        for (int side = 0; side < 2; side++) {
            int n = side ? s.numTo : s.numFrom;
            const GravlinLink *links = side ? s.toLinks : s.fromLinks;
            for (int k = 0; k < n; k++) {
                int o = links[k].state;
                if (o < 0 || o >= N) {
                    in.fail("state " + std::to_string(i) + " links to a state out of range");
                    return false;
                }
                const GravlinState &t = net->states[o];
                if (!(side ? hasMirror(t.fromLinks, t.numFrom, i, links[k].wordBoundary)
                           : hasMirror(t.toLinks, t.numTo, i, links[k].wordBoundary))) {
                    in.fail("the link between states " + std::to_string(i) + " and " + std::to_string(o) +
                            " stands in one list only");
                    return false;
                }
            }
        }
    }
    return true;
}

} // namespace

extern "C" {

size_t Gravlin_packedLength(const GravlinNet *net) {
    Writer w;
    write(w, net);
    return w.n;
}

void Gravlin_pack(const GravlinNet *net, unsigned char *buffer) {
    Writer w;
    w.p = buffer;
    write(w, net);
}

int Gravlin_unpack(GS_Result *r, GravlinNet *net, const unsigned char *buffer, size_t length) {
    Gravlin_init(net, nullptr, 1, 0);
    Reader in{r, buffer, buffer + length, "packed network"};
    DB_FREE(net->name);
    net->name = readText(in);
    net->enter = in.i32();
    net->exit = in.i32();
    net->collapseIdentical = in.i32();
    net->selfLoops = in.i32();
    DB_FREE(net->durModel);
    net->durModel = readText(in);
    net->sampFreq = in.f32();
    net->frameSize = in.f32();
    DB_FREE(net->featuresURI);
    net->featuresURI = readText(in);
    DB_FREE(net->contextURI);
    net->contextURI = readText(in);
    // Texts must stand even when the rest fails, for the release below.
    for (char **t : {&net->name, &net->durModel, &net->featuresURI, &net->contextURI})
        if (!*t) *t = gravlin::dupText("");
    net->nameLen = (int32_t)strlen(net->name);
    net->durModelLen = in.i32();
    net->featuresURILen = in.i32();
    net->contextURILen = in.i32();
    int32_t classes = in.count(8, "class");
    int32_t states = in.count(60, "state");
    net->classes = allocArray<GravlinClass>(classes);
    for (int c = 0; in.ok && c < classes; c++) {
        GravlinClass &k = net->classes[c];
        net->numClasses = c + 1;
        k.name = readText(in);
        if (in.ok && !k.name) in.fail("a class without a name");
        k.nameLen = k.name ? (int32_t)strlen(k.name) : 0;
        int32_t n = in.count(4, "value");
        k.values = allocArray<char *>(n);
        for (int v = 0; in.ok && v < n; v++) {
            k.values[v] = readText(in);
            if (in.ok && !k.values[v]) in.fail("a class value without text");
            if (in.ok) k.numValues = v + 1;
        }
    }
    net->states = allocArray<GravlinState>(states);
    for (int i = 0; in.ok && i < states; i++) {
        GravlinState &s = net->states[i];
        net->numStates = i + 1;
        s.id = i;
        s.name = readText(in);
        s.nameLen = s.name ? (int32_t)strlen(s.name) : 0;
        s.expanded = in.i32();
        s.type = in.i32();
        s.category = in.i32();
        s.phonemeValue = in.i32();
        s.wordValue = in.i32();
        int32_t levels = in.count(8, "class level");
        s.levelClasses = allocArray<int32_t>(levels);
        s.levelValues = allocArray<int32_t>(levels);
        if (in.ok) s.numLevels = levels;
        for (int l = 0; in.ok && l < levels; l++) {
            s.levelClasses[l] = in.i32();
            s.levelValues[l] = in.i32();
        }
        for (int side = 0; in.ok && side < 2; side++) {
            int32_t n = in.count(12, "link");
            GravlinLink *links = allocArray<GravlinLink>(n);
            (side ? s.toLinks : s.fromLinks) = links;
            (side ? s.numTo : s.numFrom) = n;
            for (int k = 0; in.ok && k < n; k++) {
                links[k].state = in.i32();
                links[k].direction = side;
                links[k].weight = in.f32();
                links[k].wordBoundary = in.i32();
            }
        }
        int32_t extras = in.count(kExtraBytes, "extra");
        if (in.ok && extras > 0) {
            s.extras = DB_MALLOC((size_t)extras * kExtraBytes);
            in.bytes(s.extras, (size_t)extras * kExtraBytes);
            s.numExtras = extras;
        }
        s.durParam1 = in.f32();
        s.durParam2 = in.f32();
        s.searchInt1 = in.i32();
        s.searchInt2 = in.i32();
        s.searchInt3 = in.i32();
        s.searchReal1 = in.f32();
        s.searchReal2 = in.f32();
        s.searchReal3 = in.f32();
        s.searchReal4 = in.f32();
        s.searchReal5 = in.f32();
    }
    if (in.ok && in.p != in.end) in.fail("bytes left over");
    if (in.ok && net->numStates != states) in.fail("truncated");
    if (in.ok && check(in, net)) return 0;
    Gravlin_release(net);
    return GRAVLIN_FAIL;
}

} // extern "C"
