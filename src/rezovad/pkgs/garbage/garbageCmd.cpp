// The `garbage` command: garbage (out-of-vocabulary) scores from frames of
// phone-classifier outputs: N-best medians, max-of columns, an accumulator
// scoring segments, and a rank-based word scorer.
#include <tcl.h>

#include <cstring>
#include <string>
#include <vector>

#include "cmds.h"
#include "container.h"
#include "garbage.h"
#include "halbrin.h"
#include "obj.h"
#include "result.h"
#include "utils.h"
#include "word.h"

namespace {

void maxofFree(void *r) { nukeMaxof(static_cast<Maxof *>(r)); }
void accFree(void *r) { garbageNuke(static_cast<GarbageAcc *>(r)); }
void rankFree(void *r) { delete static_cast<RankScorer *>(r); }

const CntrType kTypes[] = {
    {"maxof", "maxof", nullptr, maxofFree, nullptr, nullptr, nullptr, nullptr},
    {"garbage", "garbage", nullptr, accFree, nullptr, nullptr, nullptr, nullptr},
    {"rank", "rank", nullptr, rankFree, nullptr, nullptr, nullptr, nullptr},
};

int fail(Tcl_Interp *interp, const std::string &text) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj(text.c_str(), -1));
    return TCL_ERROR;
}

float **rowsOf(ArrayRecord *a) { return a->ndims == 1 ? &a->data : a->rows; }

// garbage median ?-N {N...}? ?-frame F? input ?output?
// Appends per N the median of each frame's N largest values (N 50 when not
// given); answers the output matrix's name.
int MedianCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *ns = nullptr, *in, *outName = nullptr;
    int frame = -1;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "-N %s -frame %i input %s output ?s", &ns, &frame, &in, &outName))
        return TCL_ERROR;
    ArrayRecord *a = nullptr;
    if (get2DVecObject(in, interp, &a) != TCL_OK) return TCL_ERROR;
    int rows = Array_rows(a), cols = Array_cols(a);
    if (frame >= 0 && frame >= rows) return fail(interp, "selected frame is out of range");
    std::vector<int> n;
    if (ns) {
        int c;
        const char **v;
        if (Tcl_SplitList(interp, ns, &c, &v) != TCL_OK) return TCL_ERROR;
        for (int i = 0; i < c; i++) {
            int x;
            if (Tcl_GetInt(interp, v[i], &x) != TCL_OK) {
                Tcl_Free(reinterpret_cast<char *>(v));
                return TCL_ERROR;
            }
            n.push_back(x);
        }
        Tcl_Free(reinterpret_cast<char *>(v));
    } else {
        n.push_back(50);
    }
    // The input may be the output: keep its frames before the output is made.
    std::vector<float> copy;
    for (int t = 0; t < rows; t++) copy.insert(copy.end(), rowsOf(a)[t], rowsOf(a)[t] + cols);
    ArrayRecord *o = nullptr;
    int outRows = frame >= 0 ? 1 : rows;
    if (maybeReuse2DObject(outName, interp, outRows, cols + (int)n.size(), &o)) return TCL_ERROR;
    if (frame >= 0) {
        multiNGarbageByFrame(&copy[(size_t)frame * cols], cols, n.data(), (int)n.size(), o->rows[0]);
    } else {
        std::vector<float *> in2;
        for (int t = 0; t < rows; t++) in2.push_back(&copy[(size_t)t * cols]);
        multiNGarbage(in2.data(), cols, rows, n.data(), (int)n.size(), o->rows);
    }
    return TCL_OK;
}

// garbage maxof initialize probname modellist | maxof info maxofob | maxof ?-frame F? maxofob invector
// Makes a max-of scorer, lists its models, or writes the largest of each
// selected row's model columns into its last column.
int MaxofCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    if (argc >= 3 && strcmp(argv[2], "initialize") == 0) {
        const char *pn, *ml;
        if (Cmds_ParseArgs(interp, 3, argc, argv, "probname %s modellist %s", &pn, &ml)) return TCL_ERROR;
        ProbNames *p = static_cast<ProbNames *>(Obj_GetData(interp, "probname", pn));
        if (!p) return TCL_ERROR;
        int c;
        const char **v;
        if (Tcl_SplitList(interp, ml, &c, &v) != TCL_OK) return TCL_ERROR;
        GS_Result *r = GS_CreateResult();
        Maxof *m = allocMaxof(r, p, v, c);
        Tcl_Free(reinterpret_cast<char *>(v));
        std::string why = r->text ? r->text : "";
        GS_DeleteResult(r);
        if (!m) return fail(interp, why);
        if (Obj_Create(interp, "maxof", m) != TCL_OK) {
            nukeMaxof(m);
            return TCL_ERROR;
        }
        return TCL_OK;
    }
    if (argc >= 3 && strcmp(argv[2], "info") == 0) {
        const char *mn;
        if (Cmds_ParseArgs(interp, 3, argc, argv, "maxofob %s", &mn)) return TCL_ERROR;
        Maxof *m = static_cast<Maxof *>(Obj_GetData(interp, "maxof", mn));
        if (!m) return TCL_ERROR;
        Tcl_Obj *out = Tcl_NewListObj(0, nullptr);
        for (int i = 0; i < m->numModels; i++) Tcl_ListObjAppendElement(nullptr, out, Tcl_NewStringObj(m->names[i], -1));
        Tcl_SetObjResult(interp, out);
        return TCL_OK;
    }
    const char *mn, *vn;
    int frame = -1;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "-frame %i maxofob %s invector %s", &frame, &mn, &vn)) return TCL_ERROR;
    Maxof *m = static_cast<Maxof *>(Obj_GetData(interp, "maxof", mn));
    if (!m) return TCL_ERROR;
    ArrayRecord *a = nullptr;
    if (get2DVecObject(vn, interp, &a) != TCL_OK) return TCL_ERROR;
    int rows = Array_rows(a), cols = Array_cols(a);
    if (frame >= rows) return fail(interp, "selected frame is out of range");
    for (int i = 0; i < m->numModels; i++)
        if (m->columns[i] >= cols)
            return fail(interp, std::string("model ") + m->names[i] + " has no column in " + vn);
    for (int t = frame >= 0 ? frame : 0; t < (frame >= 0 ? frame + 1 : rows); t++) {
        float *row = rowsOf(a)[t];
        float best = m->numModels ? row[m->columns[0]] : row[cols - 1];
        for (int i = 1; i < m->numModels; i++) best = std::max(best, row[m->columns[i]]);
        row[cols - 1] = best;
    }
    Tcl_SetObjResult(interp, Tcl_NewStringObj(vn, -1));
    return TCL_OK;
}

// garbage accumulate initialize namesob ?-framesize MS? | reset garbageob |
//   query garbageob ?-segmentlist L? | update garbageob invector
// The garbage accumulator: frames in, scores of segments and of all frames out.
int AccumulateCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    if (argc < 3)
        return fail(interp, std::string("wrong # args: should be \"") + argv[0] + " " + argv[1] + " option ?arg ...?\"");
    std::string verb = argv[2];
    if (verb == "initialize") {
        const char *pn;
        float fs = 10.0f;
        if (Cmds_ParseArgs(interp, 3, argc, argv, "namesob %s -framesize %f", &pn, &fs)) return TCL_ERROR;
        ProbNames *p = static_cast<ProbNames *>(Obj_GetData(interp, "probname", pn));
        if (!p) return TCL_ERROR;
        int cat = modelToCat(p, "<.garbage>");
        if (cat < 0) return fail(interp, "model: <.garbage> not defined in probability names estimator");
        GarbageAcc *g = garbageInit(cat, fs);
        if (Obj_Create(interp, "garbage", g) != TCL_OK) {
            garbageNuke(g);
            return TCL_ERROR;
        }
        return TCL_OK;
    }
    if (verb != "reset" && verb != "query" && verb != "update")
        return fail(interp, "unknown operation \"" + verb + "\": should be initialize, query, reset or update");
    const char *gn, *ln = nullptr;
    int bad = verb == "reset"   ? Cmds_ParseArgs(interp, 3, argc, argv, "garbageob %s", &gn)
              : verb == "query" ? Cmds_ParseArgs(interp, 3, argc, argv, "garbageob %s -segmentlist %s", &gn, &ln)
                                : Cmds_ParseArgs(interp, 3, argc, argv, "garbageob %s invector %s", &gn, &ln);
    if (bad) return TCL_ERROR;
    GarbageAcc *g = static_cast<GarbageAcc *>(Obj_GetData(interp, "garbage", gn));
    if (!g) return TCL_ERROR;
    if (verb == "reset") {
        garbageReset(g);
        return TCL_OK;
    }
    if (verb == "update") {
        ArrayRecord *a = nullptr;
        if (get2DVecObject(ln, interp, &a) != TCL_OK) return TCL_ERROR;
        garbageUpdate(g, rowsOf(a), Array_rows(a), Array_cols(a));
        return TCL_OK;
    }
    HalbrinList *list = nullptr;
    if (ln && !(list = static_cast<HalbrinList *>(Obj_GetData(interp, "halbrin", ln)))) return TCL_ERROR;
    float score = 0;
    HalbrinList *out = garbageQuery(g, list, &score);
    std::string text;
    if (out) {
        if (Obj_Create(interp, "halbrin", out) != TCL_OK) {
            nukeHalbrin(out);
            return TCL_ERROR;
        }
        text = Tcl_GetStringResult(interp);
    }
    char buf[32];
    text += std::string(" ") + Cmds_FloatString(score, buf);
    Tcl_SetObjResult(interp, Tcl_NewStringObj(text.c_str(), -1));
    return TCL_OK;
}

// garbage rank initialize probnamob lookuptable ?-framesize MS? | rank query rankob wrdsegob phnsegob nnoutob
// The rank scorer: a lookup table of scores by rank, then word scores from
// the ranks of their phones' outputs.
int RankCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    if (argc < 3 || (strcmp(argv[2], "initialize") != 0 && strcmp(argv[2], "query") != 0))
        return fail(interp, "wrong #args: should be initialize || query");
    if (strcmp(argv[2], "initialize") == 0) {
        const char *pn, *tn;
        float fs = 10.0f;
        if (Cmds_ParseArgs(interp, 3, argc, argv, "probnamob %s lookuptable %s -framesize %f", &pn, &tn, &fs))
            return TCL_ERROR;
        ProbNames *p = static_cast<ProbNames *>(Obj_GetData(interp, "probname", pn));
        ArrayRecord *a = nullptr;
        if (!p || get2DVecObject(tn, interp, &a) != TCL_OK) return TCL_ERROR;
        RankScorer *k = rankInit(p, rowsOf(a), Array_rows(a), Array_cols(a), fs);
        if (Obj_Create(interp, "rank", k) != TCL_OK) {
            delete k;
            return TCL_ERROR;
        }
        return TCL_OK;
    }
    const char *kn, *wn, *pn, *on;
    if (Cmds_ParseArgs(interp, 3, argc, argv, "rankob %s wrdsegob %s phnsegob %s nnoutob %s", &kn, &wn, &pn, &on))
        return TCL_ERROR;
    RankScorer *k = static_cast<RankScorer *>(Obj_GetData(interp, "rank", kn));
    HalbrinList *w = k ? static_cast<HalbrinList *>(Obj_GetData(interp, "halbrin", wn)) : nullptr;
    HalbrinList *ph = w ? static_cast<HalbrinList *>(Obj_GetData(interp, "halbrin", pn)) : nullptr;
    ArrayRecord *a = nullptr;
    if (!ph || get2DVecObject(on, interp, &a) != TCL_OK) return TCL_ERROR;
    GS_Result *r = GS_CreateResult();
    HalbrinList *out = rankScore(r, k, w, ph, rowsOf(a), Array_rows(a), Array_cols(a));
    std::string why = r->text ? r->text : "";
    GS_DeleteResult(r);
    if (!out) return fail(interp, why);
    if (Obj_Create(interp, "halbrin", out) != TCL_OK) {
        nukeHalbrin(out);
        return TCL_ERROR;
    }
    return TCL_OK;
}

const SubCmdEntry kTable[] = {{"maxof", MaxofCmd}, {"median", MedianCmd}, {"accumulate", AccumulateCmd},
                              {"rank", RankCmd},   {nullptr, nullptr}};

}  // namespace

extern "C" {

int Garbage_Init(Tcl_Interp *interp) {
    int code = Tcl_PkgProvide(interp, "Garbage", "1.0");
    if (code != TCL_OK) return code;
    for (const CntrType &t : kTypes) Cntr_RegisterType(&t);
    Cntr_RegisterType(Halbrin_Type());
    Cmds_CreateSwitchCmd(interp, "garbage", nullptr, nullptr);
    Cmds_CreateSubCmds(interp, "garbage", kTable);
    return Obj_Init(interp);
}

// Every garbage command works on matrices and objects in memory: none reads
// or writes a file, opens a socket or runs a program, so a safe interpreter
// gets them all.
int Garbage_SafeInit(Tcl_Interp *interp) { return Garbage_Init(interp); }

}  // extern "C"
