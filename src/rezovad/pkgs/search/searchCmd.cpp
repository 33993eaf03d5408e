// The `search` command: grammar searches ("search" objects) fed with
// frames of category probabilities, answering the best word string.
#include <tcl.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "cmds.h"
#include "container.h"
#include "halbrin.h"
#include "nevrin.h"
#include "obj.h"
#include "result.h"
#include "search.h"
#include "utils.h"
#include "yastro.h"

namespace {

const char *kType = "search";

void searchFree(void *r) { nukeSearch(static_cast<GrammarSearch *>(r)); }

const CntrType kSearchType = {kType, "search", nullptr, searchFree, nullptr, nullptr, nullptr, nullptr};

int fail(Tcl_Interp *interp, const std::string &text) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj(text.c_str(), -1));
    return TCL_ERROR;
}

GrammarSearch *getSearch(Tcl_Interp *interp, const char *name) {
    return static_cast<GrammarSearch *>(Obj_GetData(interp, kType, name));
}

NevrinPool *getPool(Tcl_Interp *interp, const char *name) {
    return static_cast<NevrinPool *>(Obj_GetData(interp, "btraceheap", name));
}

Tcl_Obj *real(double v) {
    char buf[TCL_DOUBLE_SPACE];
    return Tcl_NewStringObj(Cmds_DoubleString(v, buf), -1);
}

Tcl_Obj *fixed(double v) {
    char buf[64];
    snprintf(buf, sizeof buf, "%f", v);
    return Tcl_NewStringObj(buf, -1);
}

// search create grammarlist wordlist recognizerob ?-pruning F? ?-shortpen F? ?-longpen F? ?-framesize F?
//        ?-phonemebt? ?-grammarscale F? ?-crossmodel F?
// A search over the grammars (first initial, last final) of the
// context-bound words; answers its name.
int CreateCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *glist = nullptr, *wlist = nullptr, *rname = nullptr;
    float pruning = 0.3f, shortpen = 0.0025f, longpen = 0.135f, framesize = 10.0f, gscale = 1.0f, cross = 0.0f;
    int phonemebt = 0;
    if (Cmds_ParseArgs(interp, 2, argc, argv,
                       "grammarlist %s wordlist %s recognizerob %s -pruning %f -shortpen %f -longpen %f -framesize %f "
                       " -phonemebt %n -grammarscale %f -crossmodel %f",
                       &glist, &wlist, &rname, &pruning, &shortpen, &longpen, &framesize, &phonemebt, &gscale, &cross))
        return TCL_ERROR;
    ProbNames *names = static_cast<ProbNames *>(Obj_GetData(interp, "probname", rname));
    if (!names) return TCL_ERROR;
    std::vector<WordGrammar *> grammars;
    std::vector<WordGraph *> words;
    if (!Obj_GetDataList(interp, glist, "grammar", grammars) || !Obj_GetDataList(interp, wlist, "word", words)) return TCL_ERROR;
    GS_Result *r = GS_CreateResult();
    GrammarSearch *s = createSearch(r, names, grammars.data(), (int)grammars.size(), words.data(), (int)words.size(),
                                    pruning, shortpen, longpen, framesize, phonemebt);
    std::string why = r->text ? r->text : "";
    GS_DeleteResult(r);
    if (!s) return fail(interp, why.empty() ? "could not create search" : why);
    s->grammarscale = gscale;
    s->crossmodel = cross;
    if (Obj_Create(interp, kType, s) != TCL_OK) {
        nukeSearch(s);
        return TCL_ERROR;
    }
    return TCL_OK;
}

// search configure searchob ?-pruning ?F?? ?-shortpen ?F?? ?-longpen ?F?? ?-grammarscale ?F?? ?-crossmodel ?F??
// Answers option/value pairs for the options named without a value (all
// five when none is named), then sets those given with a value.
int ConfigureCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr;
    int n[5] = {0}, g[5] = {0};
    float v[5] = {0};
    if (Cmds_ParseArgs(interp, 2, argc, argv,
                       "searchob %s -pruning %n !f -shortpen %n !f -longpen %n !f -grammarscale %n !f -crossmodel %n !f",
                       &name, &n[0], &v[0], &g[0], &n[1], &v[1], &g[1], &n[2], &v[2], &g[2], &n[3], &v[3], &g[3], &n[4],
                       &v[4], &g[4]))
        return TCL_ERROR;
    GrammarSearch *s = getSearch(interp, name);
    if (!s) return TCL_ERROR;
    const char *opts[5] = {"-pruning", "-shortpen", "-longpen", "-grammarscale", "-crossmodel"};
    float *fields[5] = {&s->pruning, &s->shortpen, &s->longpen, &s->grammarscale, &s->crossmodel};
    bool none = !(n[0] || n[1] || n[2] || n[3] || n[4]);
    Tcl_Obj *out = Tcl_NewListObj(0, nullptr);
    for (int i = 0; i < 5; i++)
        if (none || (n[i] && !g[i])) {
            Tcl_ListObjAppendElement(nullptr, out, Tcl_NewStringObj(opts[i], -1));
            Tcl_ListObjAppendElement(nullptr, out, fixed(*fields[i]));
        }
    for (int i = 0; i < 5; i++)
        if (g[i]) *fields[i] = v[i];
    Tcl_SetObjResult(interp, out);
    return TCL_OK;
}

// Integers of an array up to its first negative entry.
Tcl_Obj *upToNegative(const int32_t *a) {
    Tcl_Obj *l = Tcl_NewListObj(0, nullptr);
    for (; a && *a >= 0; a++) Tcl_ListObjAppendElement(nullptr, l, Tcl_NewIntObj(*a));
    return l;
}

// search info searchob ?-pruning? ?-shortpen? ?-longpen? ?-framesize? ?-phonemebt?
// One element per grammar {name kind entries groups nodes}, then the named
// parameters (all when none is named) as {option value} pairs.
int InfoCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr;
    int f[5] = {0};
    if (Cmds_ParseArgs(interp, 2, argc, argv, "searchob %s -pruning %n -shortpen %n -longpen %n -framesize %n -phonemebt %n",
                       &name, &f[0], &f[1], &f[2], &f[3], &f[4]))
        return TCL_ERROR;
    GrammarSearch *s = getSearch(interp, name);
    if (!s) return TCL_ERROR;
    if (!(f[0] || f[1] || f[2] || f[3] || f[4])) f[0] = f[1] = f[2] = f[3] = f[4] = 1;
    Tcl_Obj *out = Tcl_NewListObj(0, nullptr);
    auto add = [](Tcl_Obj *l, Tcl_Obj *e) { Tcl_ListObjAppendElement(nullptr, l, e); };
    for (int gi = 0; gi < s->numGrammars; gi++) {
        const SearchGrammar &g = s->grammars[gi];
        Tcl_Obj *ge = Tcl_NewListObj(0, nullptr);
        add(ge, Tcl_NewStringObj(g.name, -1));
        const char *kind = g.kind == GR_INIT ? "GR_INIT" : g.kind == GR_NORMAL ? "GR_NORMAL"
                           : g.kind == GR_FINAL ? "GR_FINAL" : g.kind == GR_INITFINAL ? "GR_INITFINAL" : "";
        add(ge, Tcl_NewStringObj(kind, -1));
        Tcl_Obj *entries = Tcl_NewListObj(0, nullptr);
        for (int e = 0; e < g.numEntries; e++) add(entries, Tcl_NewIntObj(g.entries[e]));
        add(ge, entries);
        Tcl_Obj *groups = Tcl_NewListObj(0, nullptr);
        for (int k = 0; k < g.numGroups; k++) {
            Tcl_Obj *grp = Tcl_NewListObj(0, nullptr);
            for (int i = 0; i < g.groups[k].count; i++) {
                Tcl_Obj *t[3] = {Tcl_NewIntObj(g.groups[k].targetGrammar[i]), Tcl_NewIntObj(g.groups[k].targetNode[i]),
                                 real(g.groups[k].score[i])};
                add(grp, Tcl_NewListObj(3, t));
            }
            add(groups, grp);
        }
        add(ge, groups);
        Tcl_Obj *nodes = Tcl_NewListObj(0, nullptr);
        for (int n = 0; n < g.numNodes; n++) {
            const SearchNode &sn = g.nodes[n];
            Tcl_Obj *ne = Tcl_NewListObj(0, nullptr);
            add(ne, Tcl_NewIntObj(sn.number));
            bool named = sn.nameIndex >= 0 && sn.nameIndex < s->numNodeNames;
            add(ne, Tcl_NewStringObj(named ? s->nodeNames[sn.nameIndex] : "", -1));
            add(ne, Tcl_NewIntObj(sn.nameIndex));
            add(ne, Tcl_NewIntObj(sn.position));
            add(ne, Tcl_NewIntObj(sn.wordNode));
            add(ne, upToNegative(sn.successors));
            const char *k = sn.kind == SN_INITIAL ? "initial" : sn.kind == SN_NORMAL ? "normal"
                            : sn.kind == SN_FINAL ? "final" : sn.kind == SN_INITFINAL ? "initfinal" : "";
            add(ne, Tcl_NewStringObj(k, -1));
            if (sn.kind == SN_FINAL || sn.kind == SN_INITFINAL) add(ne, upToNegative(sn.exitGroups));
            add(nodes, ne);
        }
        add(ge, nodes);
        add(out, ge);
    }
    const char *opts[5] = {"-pruning", "-shortpen", "-longpen", "-framesize", "-phonemebt"};
    double vals[4] = {s->pruning, s->shortpen, s->longpen, s->framesize};
    for (int i = 0; i < 5; i++) {
        if (!f[i]) continue;
        Tcl_Obj *p[2] = {Tcl_NewStringObj(opts[i], -1), i < 4 ? real(vals[i]) : Tcl_NewIntObj(s->phonemebt)};
        add(out, Tcl_NewListObj(2, p));
    }
    Tcl_SetObjResult(interp, out);
    return TCL_OK;
}

// search update searchob probob backtrace
// Feeds every frame (row) of the probability matrix, floored at 0.00001,
// as natural logs.
int UpdateCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr, *prob = nullptr, *bt = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "searchob %s probob %s backtrace %s", &name, &prob, &bt))
        return TCL_ERROR;
    NevrinPool *pool = getPool(interp, bt);
    if (!pool) return TCL_ERROR;
    GrammarSearch *s = getSearch(interp, name);
    if (!s) return TCL_ERROR;
    ArrayRecord *a = nullptr;
    if (get2DVecObject(prob, interp, &a)) return TCL_ERROR;
    int rows = Array_rows(a), cols = Array_cols(a);
    if (cols != s->numCategories)
        return fail(interp, "probability matrix has " + std::to_string(cols) + " columns, the search's recognizer " +
                                std::to_string(s->numCategories));
    std::vector<float> logs(cols);
    for (int t = 0; t < rows; t++) {
        Search_LogRow(a->rows[t], cols, 0.00001f, logs.data());
        if (!updateSearch(s, pool, logs.data())) return fail(interp, s->errorText);
    }
    Tcl_ResetResult(interp);
    return TCL_OK;
}

// search getbest searchob backtrace ?-score F?
// The best score, then {begin end label score} per word (times in ms);
// the score alone when no hypothesis ends a sentence.
int GetBestCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr, *bt = nullptr;
    float score = 1e10f;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "searchob %s backtrace %s -score %f", &name, &bt, &score))
        return TCL_ERROR;
    GrammarSearch *s = getSearch(interp, name);
    if (!s) return TCL_ERROR;
    NevrinPool *pool = getPool(interp, bt);
    if (!pool) return TCL_ERROR;
    SearchSegment *words, *phones;
    int nw, np;
    const char *text = findSearchBest(s, pool, &words, &nw, &phones, &np, &score);
    Tcl_Obj *out = Tcl_NewListObj(0, nullptr);
    Tcl_ListObjAppendElement(nullptr, out, real(score));
    auto segs = [&](SearchSegment *a, int n) {
        if (!n) return;
        Tcl_Obj *l = Tcl_NewListObj(0, nullptr);
        for (int i = 0; i < n; i++) {
            if (!a[i].label || !*a[i].label) continue;
            Tcl_Obj *q[4] = {Tcl_NewIntObj((int)std::floor(a[i].begin * s->framesize)),
                             Tcl_NewIntObj((int)std::floor(a[i].end * s->framesize)),
                             Tcl_NewStringObj(a[i].label, -1), real(a[i].score)};
            Tcl_ListObjAppendElement(nullptr, l, Tcl_NewListObj(4, q));
        }
        Tcl_ListObjAppendElement(nullptr, out, l);
    };
    segs(words, nw);
    segs(phones, np);
    if (text) Tcl_ListObjAppendElement(nullptr, out, Tcl_NewStringObj(text, -1));
    if (words) DB_FREE(words);
    if (phones) DB_FREE(phones);
    Tcl_SetObjResult(interp, out);
    return TCL_OK;
}

// search getalign searchob backtrace
// New segment lists of the best words (and phones); answers their names.
int GetAlignCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr, *bt = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "searchob %s backtrace %s", &name, &bt)) return TCL_ERROR;
    GrammarSearch *s = getSearch(interp, name);
    if (!s) return TCL_ERROR;
    NevrinPool *pool = getPool(interp, bt);
    if (!pool) return TCL_ERROR;
    SearchSegment *words, *phones;
    int nw, np;
    float score = 0;
    findSearchBest(s, pool, &words, &nw, &phones, &np, &score);
    Tcl_Obj *out = Tcl_NewListObj(0, nullptr);
    Tcl_IncrRefCount(out);
    int code = TCL_OK;
    for (int k = 0; k < 2 && code == TCL_OK; k++) {
        SearchSegment *a = k ? phones : words;
        int n = k ? np : nw;
        if (!n) continue;
        HalbrinList *l = newHalbrin(s->framesize);
        GS_Result *r = GS_CreateResult();
        for (int i = 0; i < n; i++) {
            Segment seg = {const_cast<char *>(a[i].label), (int32_t)strlen(a[i].label) + 1, a[i].begin, a[i].end,
                           a[i].score};
            appendSegment(r, seg, l, 0);
        }
        GS_DeleteResult(r);
        l->score = score;
        if (Obj_Create(interp, "halbrin", l) != TCL_OK) {
            nukeHalbrin(l);
            code = TCL_ERROR;
        } else {
            Tcl_ListObjAppendElement(nullptr, out, Tcl_GetObjResult(interp));
        }
    }
    if (words) DB_FREE(words);
    if (phones) DB_FREE(phones);
    if (code == TCL_OK) Tcl_SetObjResult(interp, out);
    Tcl_DecrRefCount(out);
    return code;
}

// search reset searchob
// Starts a new utterance.
int ResetCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "searchob %s", &name)) return TCL_ERROR;
    GrammarSearch *s = getSearch(interp, name);
    if (!s) return TCL_ERROR;
    resetSearch(s);
    return TCL_OK;
}

// search bigram searchob bigram_list
// Sets each word-to-word transition to ln P for its "w1,w2" key of the flat
// key/value list, -1e19 for pairs not in it.
int BigramCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr, *list = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "searchob %s bigram_list %s", &name, &list)) return TCL_ERROR;
    GrammarSearch *s = getSearch(interp, name);
    if (!s) return TCL_ERROR;
    int n;
    const char **v;
    if (Tcl_SplitList(interp, list, &n, &v) != TCL_OK) return TCL_ERROR;
    struct Free {
        const char **v;
        ~Free() { Tcl_Free(reinterpret_cast<char *>(v)); }
    } freeV{v};
    if (n % 2) return fail(interp, "bigram list needs key value pairs");
    std::vector<double> probs(n / 2);
    for (int i = 0; i < n / 2; i++)
        if (Tcl_GetDouble(interp, v[2 * i + 1], &probs[i]) != TCL_OK) return TCL_ERROR;
    for (int gi = 0; gi < s->numGrammars; gi++) {
        SearchGrammar &g = s->grammars[gi];
        for (int m = 0; m < g.numNodes; m++) {
            const SearchNode &mn = g.nodes[m];
            for (int e = 0; e < mn.numExitGroups; e++) {
                SearchGroup &grp = g.groups[mn.exitGroups[e]];
                for (int i = 0; i < grp.count; i++) {
                    const SearchGrammar &tg = s->grammars[grp.targetGrammar[i]];
                    const SearchNode *b = &tg.nodes[grp.targetNode[i]];
                    // The word the transition enters: walk on to a node
                    // that ends a word, and stop where none is reachable.
                    // A target that ends a word itself (a one-phone word)
                    // is scored too, not left unchanged.
                    int steps = 0;
                    for (int j = 0;; j++) {
                        while (b->numExitGroups == 0 && j < b->numSuccessors && steps++ <= tg.numNodes)
                            b = &tg.nodes[b->successors[j]];
                        if (b->numExitGroups == 0) break;
                        std::string key = std::string(s->wordNames[mn.wordIndex]) + "," + s->wordNames[b->wordIndex];
                        double score = -1e19;
                        for (int k = 0; k < n / 2; k++)
                            if (key == v[2 * k]) {
                                score = std::log(probs[k]);
                                break;
                            }
                        grp.score[i] = (float)score;
                        if (j + 1 >= b->numSuccessors) break;
                    }
                }
            }
        }
    }
    Tcl_ResetResult(interp);
    return TCL_OK;
}

const SubCmdEntry kTable[] = {{"create", CreateCmd},       {"update", UpdateCmd},   {"getbest", GetBestCmd},
                              {"getalign", GetAlignCmd},   {"reset", ResetCmd},     {"info", InfoCmd},
                              {"configure", ConfigureCmd}, {"bigram", BigramCmd},   {nullptr, nullptr}};

} // namespace

extern "C" {

int Search_Init(Tcl_Interp *interp) {
    if (!Tcl_PkgRequire(interp, "Backtrace", "1.0", 0)) return TCL_ERROR;
    if (Tcl_Eval(interp, "auto_load backtrace") == TCL_ERROR) return TCL_ERROR;
    int code = Tcl_PkgProvide(interp, "Search", "1.0");
    if (code != TCL_OK) return code;
    Cntr_RegisterType(&kSearchType);
    Cntr_RegisterType(Halbrin_Type());
    Cmds_CreateSwitchCmd(interp, "search", nullptr, nullptr);
    Cmds_CreateSubCmds(interp, "search", kTable);
    return Obj_Init(interp);
}

int Search_SafeInit(Tcl_Interp *interp) { return Search_Init(interp); }

} // extern "C"
