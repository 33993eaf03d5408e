// The `tree` command: isolated-word searches over a lexical tree
// ("treesearch" objects), answering the n best words.
#include <tcl.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "cmds.h"
#include "container.h"
#include "obj.h"
#include "result.h"
#include "tree.h"
#include "utils.h"
#include "yastro.h"

namespace {

const char *kType = "treesearch";

void treeFree(void *r) {
    nukeTreeSearch(static_cast<TreeSearch *>(r));
    DB_FREE(r);
}

const CntrType kTreeType = {kType, "treesearch", nullptr, treeFree, nullptr, nullptr, nullptr, nullptr};

int fail(Tcl_Interp *interp, const std::string &text) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj(text.c_str(), -1));
    return TCL_ERROR;
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

TreeSearch *getTree(Tcl_Interp *interp, const char *name) {
    return static_cast<TreeSearch *>(Obj_GetData(interp, kType, name));
}

// tree build wordmodels anymodel namesob ?-nbest N? ?-pruning F? ?-shortpen F? ?-longpen F? ?-framesize F?
// A tree over the context-bound words with the {name score} any models;
// answers its name.
int BuildCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *wlist = nullptr, *alist = nullptr, *nname = nullptr;
    int nbest = 4;
    float pruning = 0.3f, shortpen = 0.0025f, longpen = 0.135f, framesize = 10.0f;
    if (Cmds_ParseArgs(interp, 2, argc, argv,
                       "wordmodels %s anymodel %s namesob %s -nbest %i -pruning %f -shortpen %f -longpen %f "
                       "-framesize %f",
                       &wlist, &alist, &nname, &nbest, &pruning, &shortpen, &longpen, &framesize))
        return TCL_ERROR;
    if (nbest < 0) return fail(interp, "-nbest must not be negative");
    int n;
    const char **v;
    if (Tcl_SplitList(interp, wlist, &n, &v) != TCL_OK) return TCL_ERROR;
    std::vector<WordGraph *> words;
    bool ok = true;
    for (int i = 0; i < n && ok; i++) {
        WordGraph *w = static_cast<WordGraph *>(Obj_GetData(interp, "word", v[i]));
        if (w) words.push_back(w);
        ok = w != nullptr;
    }
    Tcl_Free(reinterpret_cast<char *>(v));
    if (!ok) return TCL_ERROR;
    if (words.empty()) return fail(interp, "empty word object list");
    ProbNames *names = static_cast<ProbNames *>(Obj_GetData(interp, "probname", nname));
    if (!names) return TCL_ERROR;
    if (Tcl_SplitList(interp, alist, &n, &v) != TCL_OK) return TCL_ERROR;
    std::vector<std::string> anyNames;
    std::vector<TreeAnyInput> any;
    for (int i = 0; i < n && ok; i++) {
        int k;
        const char **pair;
        if (Tcl_SplitList(interp, v[i], &k, &pair) != TCL_OK) {
            ok = false;
            break;
        }
        double score = 0;
        if (k != 2) {
            fail(interp, "any model specificaton error");
            ok = false;
        } else if (Tcl_GetDouble(interp, pair[1], &score) != TCL_OK) {
            ok = false;
        } else {
            anyNames.push_back(pair[0]);
            any.push_back({nullptr, (float)score});
        }
        Tcl_Free(reinterpret_cast<char *>(pair));
    }
    Tcl_Free(reinterpret_cast<char *>(v));
    if (!ok) return TCL_ERROR;
    for (size_t i = 0; i < any.size(); i++) any[i].name = anyNames[i].c_str();
    GS_Result *r = GS_CreateResult();
    TreeSearch *s = nullptr;
    int bad = buildTreeSearch(r, &s, words.data(), (int)words.size(), any.data(), (int)any.size(), nbest, framesize,
                              names);
    std::string why = r->text ? r->text : "";
    GS_DeleteResult(r);
    if (bad) return fail(interp, why);
    initTreeSearch(s, shortpen, longpen, pruning, nbest);
    if (Obj_Create(interp, kType, s) != TCL_OK) {
        treeFree(s);
        return TCL_ERROR;
    }
    return TCL_OK;
}

// tree configure searchob ?-nbest ?N?? ?-shortpen ?F?? ?-longpen ?F?? ?-pruning ?F??
// The named options (all four when none is) with their values before the
// call; then sets the given values (-nbest resizes the n-best arrays).
int ConfigureCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr;
    int nN = 0, nbest = 0, gN = 0, n[3] = {0}, g[3] = {0};
    float v[3] = {0};
    if (Cmds_ParseArgs(interp, 2, argc, argv, "searchob %s -nbest %n !i -shortpen %n !f -longpen %n !f -pruning %n !f",
                       &name, &nN, &nbest, &gN, &n[0], &v[0], &g[0], &n[1], &v[1], &g[1], &n[2], &v[2], &g[2]))
        return TCL_ERROR;
    TreeSearch *s = getTree(interp, name);
    if (!s) return TCL_ERROR;
    if (gN && nbest < 0) return fail(interp, "-nbest must not be negative");
    if (!(nN || n[0] || n[1] || n[2])) nN = n[0] = n[1] = n[2] = 1;
    Tcl_Obj *out = Tcl_NewListObj(0, nullptr);
    const char *opts[3] = {"-shortpen", "-longpen", "-pruning"};
    float *fields[3] = {&s->shortpen, &s->longpen, &s->pruning};
    if (nN) {
        Tcl_ListObjAppendElement(nullptr, out, Tcl_NewStringObj("-nbest", -1));
        Tcl_ListObjAppendElement(nullptr, out, Tcl_NewIntObj(s->nbest));
    }
    for (int i = 0; i < 3; i++)
        if (n[i]) {
            Tcl_ListObjAppendElement(nullptr, out, Tcl_NewStringObj(opts[i], -1));
            Tcl_ListObjAppendElement(nullptr, out, fixed(*fields[i]));
        }
    for (int i = 0; i < 3; i++)
        if (g[i]) *fields[i] = v[i];
    if (gN) {
        resizeTreeNbest(s, nbest);
        resetTreeSearch(s);
    }
    Tcl_SetObjResult(interp, out);
    return TCL_OK;
}

// tree info searchob ?-nbest? ?-shortpen? ?-longpen? ?-pruning? ?-framesize? ?-any?
// The named parameters (all when none is), then {-tree {top nodes}}.
int InfoCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr;
    int f[6] = {0};
    if (Cmds_ParseArgs(interp, 2, argc, argv, "searchob %s -nbest %n -shortpen %n -longpen %n -pruning %n -framesize %n -any %n",
                       &name, &f[0], &f[1], &f[2], &f[3], &f[4], &f[5]))
        return TCL_ERROR;
    TreeSearch *s = getTree(interp, name);
    if (!s) return TCL_ERROR;
    if (!(f[0] || f[1] || f[2] || f[3] || f[4] || f[5])) f[0] = f[1] = f[2] = f[3] = f[4] = f[5] = 1;
    Tcl_Obj *out = Tcl_NewListObj(0, nullptr);
    auto add = [](Tcl_Obj *l, Tcl_Obj *e) { Tcl_ListObjAppendElement(nullptr, l, e); };
    auto pair = [&](const char *k, Tcl_Obj *v) {
        Tcl_Obj *p[2] = {Tcl_NewStringObj(k, -1), v};
        add(out, Tcl_NewListObj(2, p));
    };
    if (f[0]) pair("-nbest", Tcl_NewIntObj(s->nbest));
    if (f[1]) pair("-shortpen", real(s->shortpen));
    if (f[2]) pair("-longpen", real(s->longpen));
    if (f[3]) pair("-pruning", real(s->pruning));
    if (f[4]) pair("-framesize", real(s->framesize));
    if (f[5]) {
        Tcl_Obj *l = Tcl_NewListObj(0, nullptr);
        for (int a = 0; a < s->anyCount; a++) {
            Tcl_Obj *q[2] = {Tcl_NewIntObj(s->anyModels[a].model), real(s->anyModels[a].score)};
            add(l, Tcl_NewListObj(2, q));
        }
        pair("-anymodel", l);
    }
    Tcl_Obj *top = Tcl_NewListObj(0, nullptr), *nodes = Tcl_NewListObj(0, nullptr);
    for (int i = 0; i < s->topCount; i++) add(top, Tcl_NewIntObj(s->nodes[i].number));
    for (int i = 0; i < s->nodeCount; i++) {
        const TreeNode &n = s->nodes[i];
        Tcl_Obj *e = Tcl_NewListObj(0, nullptr);
        add(e, Tcl_NewIntObj(n.number));
        add(e, Tcl_NewIntObj(n.category));
        add(e, Tcl_NewIntObj(n.depth));
        add(e, Tcl_NewIntObj(n.numWords));
        Tcl_Obj *succ = Tcl_NewListObj(0, nullptr);
        for (int k = 0; k < n.numSuccessors; k++) add(succ, Tcl_NewIntObj(n.successors[k]));
        add(e, succ);
        Tcl_Obj *nm = Tcl_NewListObj(0, nullptr);
        if (n.nameIndex >= 0 && n.nameIndex < s->numNames) add(nm, Tcl_NewStringObj(s->names[n.nameIndex], -1));
        add(e, nm);
        add(e, Tcl_NewIntObj(n.firstWord));
        add(nodes, e);
    }
    Tcl_Obj *tree[2] = {top, nodes};
    pair("-tree", Tcl_NewListObj(2, tree));
    Tcl_SetObjResult(interp, out);
    return TCL_OK;
}

// tree update treesrchob probob ?-backtrace pool?
// Feeds every frame of the matrix, floored at 1e-10, as natural logs.
int UpdateCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr, *prob = nullptr, *bt = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "treesrchob %s probob %s -backtrace %s", &name, &prob, &bt))
        return TCL_ERROR;
    NevrinPool *pool = nullptr;
    if (bt && !(pool = static_cast<NevrinPool *>(Obj_GetData(interp, "btraceheap", bt)))) return TCL_ERROR;
    TreeSearch *s = getTree(interp, name);
    if (!s) return TCL_ERROR;
    ArrayRecord *a = nullptr;
    if (get2DVecObject(prob, interp, &a)) return TCL_ERROR;
    int rows = Array_rows(a), cols = Array_cols(a);
    if (cols != s->numCategories)
        return fail(interp, "probability matrix has " + std::to_string(cols) + " columns, the tree's recognizer " +
                                std::to_string(s->numCategories));
    std::vector<float> logs(cols);
    for (int t = 0; t < rows; t++) {
        Search_LogRow(a->rows[t], cols, 1e-10f, logs.data());
        if (updateTreeSearch(s, &pool, logs.data()) < 0) return fail(interp, "tree search update failed");
    }
    Tcl_ResetResult(interp);
    return TCL_OK;
}

// tree getbest treesrchob ?-backtrace pool?
// Up to nbest {word score ?segments summary?} in falling score.
int GetBestCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr, *bt = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "treesrchob %s -backtrace %s", &name, &bt)) return TCL_ERROR;
    NevrinPool *pool = nullptr;
    if (bt && !(pool = static_cast<NevrinPool *>(Obj_GetData(interp, "btraceheap", bt)))) return TCL_ERROR;
    TreeSearch *s = getTree(interp, name);
    if (!s) return TCL_ERROR;
    Tcl_Obj *out = Tcl_NewListObj(0, nullptr);
    int e = -1;
    for (int k = 0; k < s->nbest; k++) {
        SearchSegment *segs;
        int count;
        float score;
        e = searchTreeNextBest(s, pool, &segs, &count, &score);
        if (e < 0) break;
        Tcl_Obj *h = Tcl_NewListObj(0, nullptr);
        Tcl_ListObjAppendElement(nullptr, h, Tcl_NewStringObj(s->names[e], -1));
        Tcl_ListObjAppendElement(nullptr, h, real(score));
        if (pool && count > 0) {
            Tcl_Obj *l = Tcl_NewListObj(0, nullptr);
            double total = 0;
            for (int i = 0; i < count; i++) {
                Tcl_Obj *q[4] = {Tcl_NewIntObj((int)std::floor(segs[i].begin * s->framesize)),
                                 Tcl_NewIntObj((int)std::floor(segs[i].end * s->framesize)),
                                 Tcl_NewStringObj(segs[i].label, -1), real(segs[i].score)};
                Tcl_ListObjAppendElement(nullptr, l, Tcl_NewListObj(4, q));
                total += segs[i].score;
            }
            Tcl_ListObjAppendElement(nullptr, h, l);
            Tcl_Obj *q[4] = {Tcl_NewIntObj((int)std::floor(segs[0].begin * s->framesize)),
                             Tcl_NewIntObj((int)std::floor(segs[count - 1].end * s->framesize)),
                             Tcl_NewStringObj(s->names[e], -1), real(total)};
            Tcl_Obj *summary = Tcl_NewListObj(4, q);
            Tcl_ListObjAppendElement(nullptr, h, Tcl_NewListObj(1, &summary));
        }
        if (segs) DB_FREE(segs);
        Tcl_ListObjAppendElement(nullptr, out, h);
    }
    s->nextBest = 0;
    if (e == -2) {
        Tcl_DecrRefCount(out);
        return fail(interp, "tree getbest error -- Cause unkown");
    }
    Tcl_SetObjResult(interp, out);
    return TCL_OK;
}

// tree reset treesrchob ?-shortpen F? ?-longpen F? ?-pruning F?
// Starts a new utterance; positive values replace the parameters.
int ResetCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr;
    float sp = -1.0f, lp = -1.0f, pr = -1.0f;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "treesrchob %s -shortpen %f -longpen %f -pruning %f", &name, &sp, &lp,
                       &pr))
        return TCL_ERROR;
    TreeSearch *s = getTree(interp, name);
    if (!s) return TCL_ERROR;
    resetTreeSearch(s);
    if (pr > 0) s->pruning = pr;
    // Stored as logs: the library reads a value <= 0 as a log already.
    if (sp > 0) s->shortpen = std::log(std::max(sp, 0.00001f));
    if (lp > 0) s->longpen = std::log(std::max(lp, 0.00001f));
    return TCL_OK;
}

const SubCmdEntry kTable[] = {{"build", BuildCmd},   {"info", InfoCmd},       {"configure", ConfigureCmd},
                              {"update", UpdateCmd}, {"getbest", GetBestCmd}, {"reset", ResetCmd},
                              {nullptr, nullptr}};

} // namespace

extern "C" {

int Tree_Init(Tcl_Interp *interp) {
    if (!Tcl_PkgRequire(interp, "Backtrace", "1.0", 0)) return TCL_ERROR;
    if (Tcl_Eval(interp, "auto_load backtrace") == TCL_ERROR) return TCL_ERROR;
    int code = Tcl_PkgProvide(interp, "Tree", "1.0");
    if (code != TCL_OK) return code;
    Cntr_RegisterType(&kTreeType);
    Cmds_CreateSwitchCmd(interp, "tree", nullptr, nullptr);
    Cmds_CreateSubCmds(interp, "tree", kTable);
    return Obj_Init(interp);
}

int Tree_SafeInit(Tcl_Interp *interp) { return Tree_Init(interp); }

} // extern "C"
