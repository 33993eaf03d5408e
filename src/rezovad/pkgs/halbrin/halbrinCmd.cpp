// The `halbrin` command: segment lists ("halbrin" objects) from files and
// script lists, inspected, edited, saved, and relabelled between state,
// model and context-dependent unit levels through a recognizer description.
// Scripts see milliseconds; the lists hold frames.
#include <tcl.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cmds.h"
#include "container.h"
#include "halbrin.h"
#include "hmm.h"
#include "obj.h"
#include "result.h"
#include "word.h"

namespace {


const char *kPause = ".pau";

struct ListHolder {
    HalbrinList *list;
    explicit ListHolder(float ms) : list(newHalbrin(ms)) {}
    ~ListHolder() { nukeHalbrin(list); }
    HalbrinList *release() {
        HalbrinList *l = list;
        list = nullptr;
        return l;
    }
};

int fail(Tcl_Interp *interp, const std::string &text) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj(text.c_str(), -1));
    return TCL_ERROR;
}

// The library's text, deleting r.
std::string take(GS_Result *r) {
    std::string t = r->text ? r->text : "";
    GS_DeleteResult(r);
    return t;
}

HalbrinList *getList(Tcl_Interp *interp, const char *name) {
    return static_cast<HalbrinList *>(Obj_GetData(interp, "halbrin", name));
}

Tcl_Obj *real(double v) {
    char buf[TCL_DOUBLE_SPACE];
    return Tcl_NewStringObj(Cmds_DoubleString(v, buf), -1);
}

// Registers a finished list as the command's result.
int publish(Tcl_Interp *interp, ListHolder &h) {
    if (Obj_Create(interp, "halbrin", h.list) != TCL_OK) return TCL_ERROR;
    h.release();
    return TCL_OK;
}

bool add(HalbrinList *l, const std::string &label, int begin, int end, float score) {
    Segment s;
    s.label = const_cast<char *>(label.c_str());
    s.labelSize = static_cast<int32_t>(label.size() + 1);
    s.begin = begin;
    s.end = end;
    s.score = score;
    GS_Result *r = GS_CreateResult();
    int bad = appendSegment(r, s, l, 0);
    GS_DeleteResult(r);
    return !bad;
}

std::string label(const HalbrinList *l, int i) { return l->segments[i].label ? l->segments[i].label : ""; }

// A segment from milliseconds {begin end label ?score?}, appended.
int appendItem(Tcl_Interp *interp, HalbrinList *l, int n, const char **w, int order, const std::string &shown) {
    if (n != 3 && n != 4) return fail(interp, "Invalid segment specification" + shown);
    double b, e, sc = 0.0;
    if (Tcl_GetDouble(interp, w[0], &b) != TCL_OK || Tcl_GetDouble(interp, w[1], &e) != TCL_OK ||
        (n == 4 && Tcl_GetDouble(interp, w[3], &sc) != TCL_OK))
        return TCL_ERROR;
    Segment s;
    s.label = const_cast<char *>(w[2]);
    s.labelSize = static_cast<int32_t>(strlen(w[2]) + 1);
    s.begin = static_cast<int32_t>(std::floor(b / l->msPerFrame + 0.5));
    s.end = static_cast<int32_t>(std::floor(e / l->msPerFrame + 0.5));
    s.score = static_cast<float>(sc);
    GS_Result *r = GS_CreateResult();
    if (appendSegment(r, s, l, order)) return fail(interp, take(r));
    GS_DeleteResult(r);
    return TCL_OK;
}

// halbrin read filename
// Answers a new segment list read from the file.
int ReadCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *file;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "filename %s", &file)) return TCL_ERROR;
    Tcl_DString ds;
    const char *native = Tcl_TranslateFileName(interp, file, &ds);
    if (!native) return TCL_ERROR;
    GS_Result *r = GS_CreateResult();
    errno = 0;
    HalbrinList *l = readHalbrin(r, native);
    Tcl_DStringFree(&ds);
    if (!l) {
        std::string why = take(r);
        const char *sys = errno ? Tcl_PosixError(interp) : "";
        return fail(interp, why + ": " + sys);
    }
    GS_DeleteResult(r);
    if (Obj_Create(interp, "halbrin", l) != TCL_OK) {
        nukeHalbrin(l);
        return TCL_ERROR;
    }
    return TCL_OK;
}

// halbrin write ?-score? ?-from MS? ?-to MS? halbrinob filename
// Writes the segments between from and to (default: all) to the file.
int WriteCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    int score = 0;
    float from = -1.0f, to = -1.0f;
    const char *name, *file;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "-score %n -from %f -to %f halbrinob %s filename %s", &score, &from, &to,
                       &name, &file))
        return TCL_ERROR;
    HalbrinList *l = getList(interp, name);
    if (!l) return TCL_ERROR;
    if (from < 0) from = l->minBegin * l->msPerFrame;
    if (to < 0) to = l->maxEnd * l->msPerFrame;
    if (to <= from) return fail(interp, "Expecting a positive range, got from>=to");
    Tcl_DString ds;
    const char *native = Tcl_TranslateFileName(interp, file, &ds);
    if (!native) return TCL_ERROR;
    GS_Result *r = GS_CreateResult();
    errno = 0;
    int bad = saveHalbrin(r, l, native, score, (float)from, (float)to);
    Tcl_DStringFree(&ds);
    if (bad) {
        std::string why = take(r);
        const char *sys = errno ? Tcl_PosixError(interp) : "";
        return fail(interp, why + ": " + sys);
    }
    GS_DeleteResult(r);
    return TCL_OK;
}

Tcl_Obj *segmentObj(const HalbrinList *l, int i, int score) {
    const Segment &s = l->segments[i];
    Tcl_Obj *o = Tcl_NewListObj(0, nullptr);
    Tcl_ListObjAppendElement(nullptr, o, real(s.begin * (double)l->msPerFrame));
    Tcl_ListObjAppendElement(nullptr, o, real(s.end * (double)l->msPerFrame));
    Tcl_ListObjAppendElement(nullptr, o, Tcl_NewStringObj(s.label ? s.label : "", -1));
    if (score) Tcl_ListObjAppendElement(nullptr, o, Cmds_NewFloatObj(s.score));
    return o;
}

// halbrin print ?-score? ?-index N? halbrinob
// Answers {begin end label ?score?} in milliseconds for every segment, or for
// the one at index.
int PrintCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    int score = 0, index = -1;
    const char *name;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "-score %n -index %i halbrinob %s", &score, &index, &name))
        return TCL_ERROR;
    HalbrinList *l = getList(interp, name);
    if (!l) return TCL_ERROR;
    Tcl_Obj *out = Tcl_NewListObj(0, nullptr);
    if (index >= 0 && index < l->count)
        Tcl_ListObjAppendElement(nullptr, out, segmentObj(l, index, score));
    else
        for (int i = 0; i < l->count; i++) Tcl_ListObjAppendElement(nullptr, out, segmentObj(l, i, score));
    Tcl_SetObjResult(interp, out);
    return TCL_OK;
}

// halbrin configure halbrinob ?-framesize ?MS?? ?-score ?F?? ?-begin? ?-end? ?-count?
// Sets the frame size (rescaling the frames) and the score when given, and
// answers {key value} pairs for the named items (all five when none).
int ConfigureCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name;
    float fs = -1.0f, score = 0.0f;
    int fsGiven = 0, fsGiven2 = 0, scoreGiven = 0, begin = 0, end = 0, count = 0;
    float fs2 = -1.0f;
    if (Cmds_ParseArgs(interp, 2, argc, argv,
                       "halbrinob %s -framesz !f -framesize !f -score !f -begin %n -end %n -count %n", &name, &fs,
                       &fsGiven, &fs2, &fsGiven2, &score, &scoreGiven, &begin, &end, &count))
        return TCL_ERROR;
    HalbrinList *l = getList(interp, name);
    if (!l) return TCL_ERROR;
    if (fsGiven2) fs = fs2;
    bool showFs = fsGiven || fsGiven2, showScore = scoreGiven;
    if (!(showFs || showScore || begin || end || count)) {
        showFs = showScore = true;
        begin = end = count = 1;
    }
    Tcl_Obj *out = Tcl_NewListObj(0, nullptr);
    auto pair = [&](const char *k, Tcl_Obj *v) {
        Tcl_Obj *p = Tcl_NewListObj(0, nullptr);
        Tcl_ListObjAppendElement(nullptr, p, Tcl_NewStringObj(k, -1));
        Tcl_ListObjAppendElement(nullptr, p, v);
        Tcl_ListObjAppendElement(nullptr, out, p);
    };
    if (showFs) {
        if (fs != -1.0) {
            GS_Result *r = GS_CreateResult();
            if (setHalbrinFramesize(r, (float)fs, l)) {
                Tcl_DecrRefCount(out);
                return fail(interp, take(r));
            }
            GS_DeleteResult(r);
        }
        pair("-framesize", Cmds_NewFloatObj(l->msPerFrame));
    }
    if (begin) pair("-begin", real(l->minBegin * (double)l->msPerFrame));
    if (end) pair("-end", real(l->maxEnd * (double)l->msPerFrame));
    if (showScore) {
        if (score != 0.0) l->score = (float)score;
        pair("-score", Cmds_NewFloatObj(l->score));
    }
    if (count) pair("-count", Tcl_NewIntObj(l->count));
    Tcl_SetObjResult(interp, out);
    return TCL_OK;
}

// halbrin create ?-framesize MS? ?-score F? ?-nosort? ?{begin end label ?score?} ...?
// Answers a new segment list of the items (milliseconds), ordered by begin
// unless -nosort.
int CreateCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    float fs = -1.0f, fs2 = -1.0f, score = 0.0f;
    int fsGiven = 0, fsGiven2 = 0, scoreGiven = 0, nosort = 0, n = 0;
    char **items = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "-framesz !f -framesize !f -score !f -nosort %n list ?l", &fs, &fsGiven,
                       &fs2, &fsGiven2, &score, &scoreGiven, &nosort, &n, &items))
        return TCL_ERROR;
    if (fsGiven2) fs = fs2;
    float ms = (fsGiven || fsGiven2) ? (float)fs : 1.0f;
    if (!(ms > 0)) return fail(interp, "framesize must be positive");
    ListHolder h(ms);
    h.list->score = scoreGiven ? (float)score : 0.0f;
    for (int i = 0; i < n; i++) {
        int c;
        const char **w;
        if (Tcl_SplitList(interp, items[i], &c, &w) != TCL_OK) return TCL_ERROR;
        int code = appendItem(interp, h.list, c, w, !nosort, std::string(" \"") + items[i] + "\"");
        Tcl_Free(reinterpret_cast<char *>(w));
        if (code != TCL_OK) return code;
    }
    return publish(interp, h);
}

// halbrin append ?-nosort? halbrinob begin end label ?score?
// Adds one segment (milliseconds) to the list.
int AppendCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    int nosort = 0, n = 0;
    const char *name;
    char **words = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "-nosort %n halbrinob %s list %l", &nosort, &name, &n, &words))
        return TCL_ERROR;
    HalbrinList *l = getList(interp, name);
    if (!l) return TCL_ERROR;
    return appendItem(interp, l, n, const_cast<const char **>(words), !nosort, "");
}

// halbrin delete halbrinob index
// Removes the segment at index.
int DeleteCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name;
    int index;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "halbrinob %s index %i", &name, &index)) return TCL_ERROR;
    HalbrinList *l = getList(interp, name);
    if (!l) return TCL_ERROR;
    GS_Result *r = GS_CreateResult();
    if (deleteSegment(r, index, l)) return fail(interp, take(r));
    GS_DeleteResult(r);
    return TCL_OK;
}

// halbrin closest halbrinob time
// Answers the index of the segment closest to time (ms), -1 when empty.
int ClosestCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name;
    float t;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "halbrinob %s time %f", &name, &t)) return TCL_ERROR;
    HalbrinList *l = getList(interp, name);
    if (!l) return TCL_ERROR;
    Tcl_SetObjResult(interp, Tcl_NewIntObj(closestSegment((float)t, l)));
    return TCL_OK;
}

// halbrin align halbrinob ?-from MS? ?-to MS?
// Closes the gaps between neighbouring segments inside the range.
int AlignCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name;
    float from = -1.0f, to = -1.0f;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "halbrinob %s -from %f -to %f", &name, &from, &to)) return TCL_ERROR;
    HalbrinList *l = getList(interp, name);
    if (!l) return TCL_ERROR;
    if (from < 0) from = l->minBegin * l->msPerFrame;
    if (to < 0) to = l->maxEnd * l->msPerFrame;
    alignHalbrin(l, (float)from, (float)to);
    return TCL_OK;
}

// What merge needs of an entry: its model text, model name and flags.
struct EntryView {
    std::string spec, model;
    int left, right;
};

// halbrin merge descriptionob halbrinob
// Answers a list of model-level segments: runs of state labels of one model
// become one segment named by the model.
int MergeCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *dn, *hn;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "descriptionob %s halbrinob %s", &dn, &hn)) return TCL_ERROR;
    ObjEntry *o = Obj_Get(interp, nullptr, dn);
    if (!o) return TCL_ERROR;
    const char *type = Cntr_Name(o->type);
    bool isDesc = strcmp(type, "hmm/description") == 0;
    if (!isDesc && strcmp(type, "probname") != 0) {
        Obj_GetData(interp, "hmm/description", dn);
        return TCL_ERROR;
    }
    HalbrinList *src = getList(interp, hn);
    if (!src) return TCL_ERROR;
    auto entryOf = [&](const std::string &lab, EntryView *v) {
        if (isDesc) {
            const HmmDescription *d = static_cast<const HmmDescription *>(o->data);
            int e = Hmm_FindEntry(d, lab.c_str());
            if (e < 0) return false;
            const DescriptionEntry &de = d->entries[e];
            *v = {de.modelSpec ? de.modelSpec : "", Hmm_EntryModel(de), de.leftContext > 0, de.rightContext > 0};
            return true;
        }
        const ProbNames *p = static_cast<const ProbNames *>(o->data);
        for (int i = 0; i < p->count; i++)
            if (p->entries[i].name && lab == p->entries[i].name) {
                const ProbNameEntry &pe = p->entries[i];
                std::string spec = pe.modelSpec ? pe.modelSpec : "";
                *v = {spec, spec.substr(0, spec.find_first_of(" \t")), pe.leftContext > 0, pe.rightContext > 0};
                return true;
            }
        return false;
    };
    ListHolder h(src->msPerFrame);
    for (int i = 0; i < src->count;) {
        EntryView v;
        if (!entryOf(label(src, i), &v))
            return fail(interp, label(src, i) + (isDesc ? " not defined in recognizer description"
                                                        : " not defined in probability names estimator"));
        int last = i;
        if (v.left || v.right) {
            for (int k = i + 1; k < src->count; k++) {
                EntryView w;
                if (!entryOf(label(src, k), &w) || w.spec != v.spec) break;
                last = k;
                if (w.right) break;
            }
        }
        float score = 0.0f;
        if (!isDesc)
            for (int k = i; k <= last; k++) score += src->segments[k].score;
        add(h.list, v.model, src->segments[i].begin, src->segments[last].end, score);
        i = last + 1;
    }
    if (h.list->count) {
        h.list->minBegin = h.list->segments[0].begin;
        h.list->maxEnd = h.list->segments[h.list->count - 1].end;
    }
    return publish(interp, h);
}

// halbrin map descriptionob halbrinob ?-framesize MS?
// Answers a list of context-dependent units: each phone segment split into
// its left, middle and right parts as the description has them.
int MapCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *dn, *hn;
    float fs = 0.0f;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "descriptiobob %s halbrinob %s -framesize %f", &dn, &hn, &fs))
        return TCL_ERROR;
    HmmDescription *d = static_cast<HmmDescription *>(Obj_GetData(interp, "hmm/description", dn));
    if (!d) return TCL_ERROR;
    HalbrinList *src = getList(interp, hn);
    if (!src) return TCL_ERROR;
    // The frames are rescaled to the new size, so the list takes that size.
    ListHolder h(fs > 0 ? (float)fs : src->msPerFrame);
    HalbrinList *out = h.list;
    for (int c = 0; c < src->count; c++) {
        std::string left = c > 0 ? label(src, c - 1) : kPause;
        std::string right = c + 1 < src->count ? label(src, c + 1) : kPause;
        std::string center = label(src, c);
        int b = src->segments[c].begin, e = src->segments[c].end;
        if (fs > 0) {
            b = (int)std::floor(b * (double)src->msPerFrame / fs);
            e = (int)std::floor(e * (double)src->msPerFrame / fs);
        }
        int dd = e - b;
        std::string whole, L, M, R;
        if (Hmm_WholeUnit(d, left, center, right, &whole)) {
            add(out, whole, b, e, 0.0f);
            continue;
        }
        bool hl = Hmm_LeftPart(d, center, left, &L), hm = Hmm_MiddlePart(d, center, &M),
             hr = Hmm_RightPart(d, center, right, &R);
        int flags = Hmm_PartFlags(d, center);
        int third = (int)std::floor(dd * 0.333), half = (int)std::floor(dd * 0.5);
        if (hl && hm && hr) {
            add(out, L, b, b + third, 0);
            add(out, M, b + third, b + 2 * third, 0);
            add(out, R, b + 2 * third, e, 0);
        } else if (hl && hm) {
            int x = (flags & 2) ? third : half;
            add(out, L, b, b + x, 0);
            add(out, M, b + x, (flags & 2) ? b + 2 * x : e, 0);
        } else if (hm && hr) {
            int x = (flags & 1) ? third : half;
            if (flags & 1) {
                add(out, M, b + x, b + 2 * x, 0);
                add(out, R, b + 2 * x, e, 0);
            } else {
                add(out, M, b, b + x, 0);
                add(out, R, b + x, e, 0);
            }
        } else if (hl && hr) {
            add(out, L, b, b + half, 0);
            add(out, R, b + half, e, 0);
        } else if (hm) {
            if (flags & 1)
                add(out, M, b, b + half, 0);
            else if (flags & 2)
                add(out, M, b + half, e, 0);
            else
                add(out, M, b, e, 0);
        } else if (hr) {
            add(out, R, (flags & 1) ? b + half : b, e, 0);
        } else if (hl) {
            add(out, L, b, (flags & 2) ? b + half : e, 0);
        }
    }
    // appendSegment keeps the true bounds of what was added.
    if (src->count && out->count) {
        int e = src->segments[src->count - 1].end;
        out->maxEnd = fs > 0 ? (int)std::floor(e * (double)src->msPerFrame / fs) : e;
    }
    return publish(interp, h);
}

// The model names of every label, through a description's entries; false
// (with the command's message) at the first label without an entry.
bool modelsOf(Tcl_Interp *interp, const HmmDescription *d, const HalbrinList *src, std::vector<int> &entries,
              std::vector<std::string> &models) {
    for (int i = 0; i < src->count; i++) {
        int e = Hmm_FindEntry(d, label(src, i).c_str());
        if (e < 0) {
            fail(interp, label(src, i) + " not defined in recognizer description");
            return false;
        }
        entries.push_back(e);
        models.push_back(Hmm_EntryModel(d->entries[e]));
    }
    return true;
}

// halbrin remap descriptionob halbrinob
// Answers the list with each label named as its context-dependent unit:
// "<c>", "c>r", "l<c" or "l<c>r" by the label's entry.
int RemapCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *dn, *hn;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "descriptionob %s halbrinob %s", &dn, &hn)) return TCL_ERROR;
    HmmDescription *d = static_cast<HmmDescription *>(Obj_GetData(interp, "hmm/description", dn));
    if (!d) return TCL_ERROR;
    HalbrinList *src = getList(interp, hn);
    if (!src) return TCL_ERROR;
    std::vector<int> entries;
    std::vector<std::string> models;
    if (!modelsOf(interp, d, src, entries, models)) return TCL_ERROR;
    ListHolder h(src->msPerFrame);
    for (int i = 0; i < src->count; i++) {
        const DescriptionEntry &e = d->entries[entries[i]];
        std::string prev = i > 0 ? models[i - 1] : kPause, next = i + 1 < src->count ? models[i + 1] : kPause;
        bool l = e.leftContext > 0, r = e.rightContext > 0;
        std::string name = l && r ? prev + "<" + models[i] + ">" + next
                           : l   ? prev + "<" + models[i]
                           : r   ? models[i] + ">" + next
                                 : "<" + models[i] + ">";
        add(h.list, name, src->segments[i].begin, src->segments[i].end, src->segments[i].score);
    }
    h.list->minBegin = src->minBegin;
    h.list->maxEnd = src->maxEnd;
    h.list->score = src->score;
    return publish(interp, h);
}

// halbrin rename baseob mapob halbrinob
// Answers the list with each label renamed through the map description: the
// base gives each label's model and context flags, the map the unit's name.
int RenameCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *bn, *mn, *hn;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "baseob %s mapob %s halbrinob %s", &bn, &mn, &hn)) return TCL_ERROR;
    HmmDescription *base = static_cast<HmmDescription *>(Obj_GetData(interp, "hmm/description", bn));
    if (!base) return TCL_ERROR;
    HmmDescription *map = static_cast<HmmDescription *>(Obj_GetData(interp, "hmm/description", mn));
    if (!map) return TCL_ERROR;
    HalbrinList *src = getList(interp, hn);
    if (!src) return TCL_ERROR;
    std::vector<int> entries;
    std::vector<std::string> models;
    if (!modelsOf(interp, base, src, entries, models)) return TCL_ERROR;
    ListHolder h(src->msPerFrame);
    for (int i = 0; i < src->count; i++) {
        const DescriptionEntry &e = base->entries[entries[i]];
        std::string prev = i > 0 ? models[i - 1] : kPause, next = i + 1 < src->count ? models[i + 1] : kPause;
        bool l = e.leftContext > 0, r = e.rightContext > 0, found;
        std::string name;
        if (l && r)
            found = Hmm_WholeUnit(map, prev, models[i], next, &name);
        else if (l)
            found = Hmm_LeftPart(map, models[i], prev, &name);
        else if (r)
            found = Hmm_RightPart(map, models[i], next, &name);
        else
            found = Hmm_MiddlePart(map, models[i], &name);
        // A segment without a name would leave a hole in the list.
        if (!found) return fail(interp, "no name in the map description for label \"" + label(src, i) + "\"");
        add(h.list, name, src->segments[i].begin, src->segments[i].end, src->segments[i].score);
    }
    h.list->minBegin = src->minBegin;
    h.list->maxEnd = src->maxEnd;
    h.list->score = src->score;
    return publish(interp, h);
}

const SubCmdEntry kTable[] = {{"read", ReadCmd},       {"write", WriteCmd},   {"print", PrintCmd},
                              {"configure", ConfigureCmd}, {"create", CreateCmd}, {"append", AppendCmd},
                              {"delete", DeleteCmd},   {"closest", ClosestCmd}, {"align", AlignCmd},
                              {"map", MapCmd},         {"merge", MergeCmd},   {"remap", RemapCmd},
                              {"rename", RenameCmd},   {nullptr, nullptr}};

int init(Tcl_Interp *interp, bool safe) {
    int code = Tcl_PkgProvide(interp, "Halbrin", "1.0");
    if (code != TCL_OK) return code;
    Cntr_RegisterType(Halbrin_Type());
    Cmds_CreateSwitchCmd(interp, "halbrin", nullptr, nullptr);
    static const char *const kFileCmds[] = {"read", "write", nullptr};
    Cmds_CreateSubCmdsExcept(interp, "halbrin", kTable, safe ? kFileCmds : nullptr);
    return Obj_Init(interp);
}

}  // namespace

extern "C" {

int Halbrin_Init(Tcl_Interp *interp) { return init(interp, false); }

int Halbrin_SafeInit(Tcl_Interp *interp) { return init(interp, true); }

}  // extern "C"
