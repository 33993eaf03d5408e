// Segment lists: operations and the text file.
#include "halbrin.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "container.h"
#include "yastro.h"

namespace {

int toFrame(float ms, float msPerFrame) { return (int)std::floor(ms / msPerFrame + 0.5f); }

void recomputeBounds(HalbrinList *l) {
    if (l->count == 0) {
        l->minBegin = l->maxEnd = -1;
        return;
    }
    l->minBegin = l->segments[0].begin;
    l->maxEnd = l->segments[0].end;
    for (int i = 1; i < l->count; i++) {
        l->minBegin = std::min(l->minBegin, l->segments[i].begin);
        l->maxEnd = std::max(l->maxEnd, l->segments[i].end);
    }
}

char *copyLabel(const char *s, size_t n) {
    char *d = static_cast<char *>(DB_MALLOC(n));
    memcpy(d, s, n);
    d[n - 1] = 0;
    return d;
}

// Whole line of any length, without its line end; false at end of file.
bool readLine(FILE *f, std::string &line, bool *error) {
    line.clear();
    int c;
    while ((c = getc(f)) != EOF) {
        if (c == '\n') break;
        line += (char)c;
    }
    if (c == EOF && ferror(f)) *error = true;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return !(c == EOF && line.empty());
}

// "%i" reads an integer with optional sign, 0x hexadecimal, 0 octal.
bool readInt(const char *&p, int *v) {
    while (*p == ' ' || *p == '\t') p++;
    char *end;
    errno = 0;
    long x = strtol(p, &end, 0);
    if (end == p || errno) return false;
    *v = (int)x;
    p = end;
    return true;
}

bool readWord(const char *&p, std::string &w) {
    while (*p == ' ' || *p == '\t') p++;
    const char *s = p;
    while (*p && *p != ' ' && *p != '\t') p++;
    w.assign(s, p - s);
    return !w.empty();
}

bool secondNumber(const std::string &line, float *v) {
    const char *p = line.c_str();
    std::string w;
    if (!readWord(p, w)) return false;
    while (*p == ' ' || *p == '\t') p++;
    char *end;
    double x = strtod(p, &end);
    if (end == p) return false;
    *v = (float)x;
    return true;
}

void fail(GS_Result *r, const char *what, const std::string &line, const char *path) {
    GS_AppendResult(r, what, "\"", line.c_str(), "\nreading \"", path, "\"", (char *)nullptr);
}

} // namespace

extern "C" {

HalbrinList *newHalbrin(float msPerFrame) {
    HalbrinList *l = static_cast<HalbrinList *>(DB_MALLOC(sizeof(HalbrinList)));
    memset(l, 0, sizeof *l);
    l->msPerFrame = msPerFrame;
    return l;
}

void nukeHalbrin(HalbrinList *list) {
    if (!list) return;
    if (list->segments) {
        for (int i = 0; i < list->count; i++)
            if (list->segments[i].labelSize) DB_FREE(list->segments[i].label);
        DB_FREE(list->segments);
    }
    DB_FREE(list);
}

int orderHalbrin(GS_Result *, HalbrinList *list) {
    if (list->count > 1)
        std::stable_sort(list->segments, list->segments + list->count,
                         [](const Segment &a, const Segment &b) { return a.begin < b.begin; });
    for (int i = 0; i < list->count; i++) {
        list->minBegin = std::min(list->minBegin, list->segments[i].begin);
        list->maxEnd = std::max(list->maxEnd, list->segments[i].end);
    }
    return 0;
}

int appendSegment(GS_Result *r, Segment segment, HalbrinList *list, int order) {
    int n = list->count;
    list->segments = static_cast<Segment *>(DB_REALLOC(list->segments, (n + 1) * sizeof(Segment)));
    if (n == 0) {
        list->minBegin = segment.begin;
        list->maxEnd = segment.end;
    } else {
        list->minBegin = std::min(list->minBegin, segment.begin);
        list->maxEnd = std::max(list->maxEnd, segment.end);
    }
    if (segment.labelSize) segment.label = copyLabel(segment.label, segment.labelSize);
    list->segments[n] = segment;
    list->count = n + 1;
    return order ? orderHalbrin(r, list) : 0;
}

int deleteSegment(GS_Result *r, int index, HalbrinList *list) {
    if (index < 0 || index >= list->count) {
        GS_AppendResult(r, "segment not in segment list", (char *)nullptr);
        return 1;
    }
    if (list->segments[index].labelSize) DB_FREE(list->segments[index].label);
    memmove(list->segments + index, list->segments + index + 1, (list->count - index - 1) * sizeof(Segment));
    list->count--;
    recomputeBounds(list);
    return 0;
}

HalbrinList *readHalbrin(GS_Result *r, const char *path) {
    FILE *f = fopen(path, "rb");
    if (!f) {
        GS_AppendResult(r, "readHalbrin: Could not open file \"", path, "\"", (char *)nullptr);
        return nullptr;
    }
    HalbrinList *l = newHalbrin(1.0f);
    std::string line;
    bool header = true, scored = false, error = false;
    while (readLine(f, line, &error)) {
        if (header) {
            if (line.compare(0, 21, "MillisecondsPerFrame:") == 0) {
                if (!secondNumber(line, &l->msPerFrame)) {
                    fail(r, "readHalbrin: Invalid frame size ", line, path);
                    goto bad;
                }
            } else if (line.compare(0, 5, "Score") == 0) {
                if (!secondNumber(line, &l->score)) {
                    fail(r, "readHalbrin: Invalid score ", line, path);
                    goto bad;
                }
                scored = true;
            } else if (line.compare(0, 13, "END OF HEADER") == 0) {
                header = false;
            }
            continue;
        }
        {
            const char *p = line.c_str();
            Segment s{nullptr, 0, 0, 0, 0.0f};
            std::string label;
            bool ok = readInt(p, &s.begin) && readInt(p, &s.end) && readWord(p, label);
            if (ok && scored) {
                while (*p == ' ' || *p == '\t') p++;
                char *end;
                double x = strtod(p, &end);
                ok = end != p;
                s.score = (float)x;
            }
            if (!ok) {
                fail(r, "readHalbrin: Invalid label ", line, path);
                goto bad;
            }
            s.label = const_cast<char *>(label.c_str());
            s.labelSize = (int32_t)label.size() + 1;
            appendSegment(r, s, l, 0);
        }
    }
    if (error) {
        GS_AppendResult(r, "readHalbrin: error while reading \"", path, "\"", (char *)nullptr);
        goto bad;
    }
    fclose(f);
    return l;
bad:
    fclose(f);
    nukeHalbrin(l);
    return nullptr;
}

int saveHalbrin(GS_Result *r, HalbrinList *list, const char *path, int withScore, float fromMs, float toMs) {
    FILE *f = fopen(path, "w");
    if (!f) {
        GS_AppendResult(r, "saveHalbrin: Could not open file \"", path, "\"", (char *)nullptr);
        return 1;
    }
    fprintf(f, "MillisecondsPerFrame: %f\n", list->msPerFrame);
    if (withScore) fprintf(f, "Score: %f\n", list->score);
    fprintf(f, "END OF HEADER\n");
    int from = toFrame(fromMs, list->msPerFrame), to = toFrame(toMs, list->msPerFrame);
    for (int i = 0; i < list->count; i++) {
        const Segment &s = list->segments[i];
        if (s.end < from || s.begin > to) continue;
        int b = std::max(s.begin, from), e = std::min(s.end, to);
        int n = withScore ? fprintf(f, "%i %i %s %f\n", b, e, s.label, s.score) : fprintf(f, "%i %i %s\n", b, e, s.label);
        if (n < 0) {
            GS_AppendResult(r, "saveHalbrin: error while writing to \"", path, "\"", (char *)nullptr);
            fclose(f);
            return 1;
        }
    }
    if (fclose(f) != 0) {
        GS_AppendResult(r, "saveHalbrin: error while writing to \"", path, "\"", (char *)nullptr);
        return 1;
    }
    return 0;
}

int closestSegment(float timeMs, HalbrinList *list) {
    if (list->count == 0) return -1;
    int f = toFrame(timeMs, list->msPerFrame);
    if (f < list->minBegin || list->count == 1) return 0;
    for (int i = 0; i + 1 < list->count; i++) {
        const Segment &a = list->segments[i], &b = list->segments[i + 1];
        if (a.begin <= f && f < a.end) return i;
        if (a.end <= f && f < b.begin) return std::abs(f - a.end) < std::abs(b.begin - f) ? i : i + 1;
    }
    return list->count - 1;
}

int setHalbrinFramesize(GS_Result *r, float msPerFrame, HalbrinList *list) {
    if (!(msPerFrame > 0)) {
        GS_AppendResult(r, "framesize must be positive", (char *)nullptr);
        return 1;
    }
    float ratio = list->msPerFrame / msPerFrame;
    auto conv = [ratio](int32_t v) { return (int32_t)std::floor(v * ratio + 0.5f); };
    list->minBegin = conv(list->minBegin);
    list->maxEnd = conv(list->maxEnd);
    for (int i = 0; i < list->count; i++) {
        list->segments[i].begin = conv(list->segments[i].begin);
        list->segments[i].end = conv(list->segments[i].end);
    }
    list->msPerFrame = msPerFrame;
    return 0;
}

int scaleHalbrin(GS_Result *r, float msPerFrame, HalbrinList *list) {
    if (!(msPerFrame > 0)) {
        GS_AppendResult(r, "scale factor must be positive", (char *)nullptr);
        return 1;
    }
    list->msPerFrame = msPerFrame;
    return 0;
}

int alignHalbrin(HalbrinList *list, float fromMs, float toMs) {
    for (int i = 0; i + 1 < list->count; i++) {
        float e = list->segments[i].end * list->msPerFrame;
        float b = (float)(list->segments[i + 1].begin * list->msPerFrame);
        if (fromMs <= e && e <= toMs && fromMs <= b && b <= toMs) list->segments[i].end = list->segments[i + 1].begin;
    }
    return list->count - 1;
}

HalbrinList *cloneHalbrin(HalbrinList *list) {
    HalbrinList *c = newHalbrin(list->msPerFrame);
    *c = *list;
    c->segments = nullptr;
    if (list->count) {
        c->segments = static_cast<Segment *>(DB_MALLOC(list->count * sizeof(Segment)));
        for (int i = 0; i < list->count; i++) {
            c->segments[i] = list->segments[i];
            const char *lab = list->segments[i].label ? list->segments[i].label : "";
            c->segments[i].label = copyLabel(lab, strlen(lab) + 1);
            // The copy owns every label it holds.
            if (!c->segments[i].labelSize) c->segments[i].labelSize = (int32_t)strlen(lab) + 1;
        }
    }
    return c;
}

static void halbrinFree(void *r) { nukeHalbrin(static_cast<HalbrinList *>(r)); }
static void *halbrinClone(const void *r) {
    return cloneHalbrin(const_cast<HalbrinList *>(static_cast<const HalbrinList *>(r)));
}

const CntrType *Halbrin_Type(void) {
    static const CntrType type = {"halbrin", "halbrin", nullptr, halbrinFree, halbrinClone,
                                  nullptr,   nullptr,   nullptr};
    return &type;
}

} // extern "C"
