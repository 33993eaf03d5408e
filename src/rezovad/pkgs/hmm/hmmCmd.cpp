// The `recognizer` and `hmm` commands: recognizer descriptions, model pools
// and lists, training frames, and the training passes of the hmm library.
#include <tcl.h>

#include <cmath>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cmds.h"
#include "container.h"
#include "container_file.h"
#include "halbrin.h"
#include "hmm.h"
#include "hmmCmd.h"
#include "obj.h"
#include "pardel.h"
#include "pick.h"
#include "result.h"
#include "utils.h"
#include "kelmortrain.h"

namespace {

void poolFree(void *r) { Hmm_NukePool(static_cast<HmmPool *>(r)); }
void listFree(void *r) { Hmm_NukeList(static_cast<HmmList *>(r)); }
void heapxFree(void *r) { delete static_cast<HmmHeapx *>(r); }
void dataFree(void *r) { Hmm_NukeData(static_cast<HmmData *>(r)); }
void embedFree(void *r) { delete static_cast<HmmEmbed *>(r); }
void trainFree(void *r) { delete static_cast<HmmTrain *>(r); }
void targetFree(void *r) { delete static_cast<NnTarget *>(r); }

const CntrType kTypes[] = {
    {"hmm/hpool", nullptr, nullptr, poolFree, nullptr, nullptr, nullptr, nullptr},
    {"hmm/hmmlist", nullptr, nullptr, listFree, nullptr, nullptr, nullptr, nullptr},
    {"hmm/heapx", nullptr, nullptr, heapxFree, nullptr, nullptr, nullptr, nullptr},
    {"hmm/hdata", nullptr, nullptr, dataFree, nullptr, nullptr, nullptr, nullptr},
    {"hmm/hembed", nullptr, nullptr, embedFree, nullptr, nullptr, nullptr, nullptr},
    {"hmm/htrain", nullptr, nullptr, trainFree, nullptr, nullptr, nullptr, nullptr},
    {"hmm/hvtbinit", nullptr, nullptr, trainFree, nullptr, nullptr, nullptr, nullptr},
    {"hmm/nntarget", nullptr, nullptr, targetFree, nullptr, nullptr, nullptr, nullptr},
};

int fail(Tcl_Interp *interp, const std::string &text) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj(text.c_str(), -1));
    return TCL_ERROR;
}

template <class T>
T *get(Tcl_Interp *interp, const char *type, const char *name) {
    return static_cast<T *>(Obj_GetData(interp, type, name));
}

Tcl_Obj *real(double v) {
    char buf[TCL_DOUBLE_SPACE];
    return Tcl_NewStringObj(Cmds_DoubleString(v, buf), -1);
}

// The option flags of the re-estimating commands as the library's word.
int flagWord(int transp, int mean, int var, int weight, int state) {
    if (!(transp || mean || var || weight || state)) return HMM_TRANSP | HMM_MEAN | HMM_VAR | HMM_WEIGHT;
    int f = 0;
    if (transp) f |= HMM_TRANSP;
    if (mean) f |= HMM_MEAN;
    if (var) f |= HMM_VAR;
    if (weight) f |= HMM_WEIGHT;
    if (state) f |= HMM_MEAN | HMM_VAR | HMM_WEIGHT;
    return f;
}

// The training state a script variable names: null with *fresh set when the
// variable does not exist; null without it (and an error) when it names
// something else.
void *stateOf(Tcl_Interp *interp, const char *var, const char *type, bool *fresh) {
    const char *v = Tcl_GetVar(interp, var, 0);
    *fresh = v == nullptr;
    if (!v) return nullptr;
    return Obj_GetData(interp, type, v);
}

// Registers a new state and stores its name in the variable; on failure the
// state is released.
int keepState(Tcl_Interp *interp, const char *var, const char *type, void *state, void (*release)(void *)) {
    if (Obj_Create(interp, type, state) != TCL_OK) {
        release(state);
        return TCL_ERROR;
    }
    std::string name = Tcl_GetStringResult(interp);
    if (!Tcl_SetVar(interp, var, name.c_str(), TCL_LEAVE_ERR_MSG)) {
        Obj_Destroy(interp, name.c_str());
        return TCL_ERROR;
    }
    Tcl_SetObjResult(interp, Tcl_NewStringObj(name.c_str(), -1));
    return TCL_OK;
}

// recognizer info descriptionob
// Answers the output name of every entry, in entry order.
int RecognizerInfoCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "descriptionob %s", &name)) return TCL_ERROR;
    HmmDescription *d = get<HmmDescription>(interp, "hmm/description", name);
    if (!d) return TCL_ERROR;
    Tcl_Obj *out = Tcl_NewListObj(0, nullptr);
    for (int i = 0; i < d->numEntries; i++)
        Tcl_ListObjAppendElement(nullptr, out, Tcl_NewStringObj(d->entries[i].name ? d->entries[i].name : "", -1));
    Tcl_SetObjResult(interp, out);
    return TCL_OK;
}

// recognizer load filename ?fieldname?
// Reads a description from field fieldname ("__rr__") of a container file.
int RecognizerLoadCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *file, *field = "__rr__";
    if (Cmds_ParseArgs(interp, 2, argc, argv, "filename %s fieldname ?s", &file, &field)) return TCL_ERROR;
    GS_Result *r = GS_CreateResult();
    CntrFile *f = Cntr_ObjFOpen(r, file, 0);
    if (!f) return Cmds_LibraryError(interp, r, "could not open the description file");
    CntrObj *o = Cntr_ObjFRead(r, f, field);
    Cntr_ObjFClose(r, f);
    if (!o) return Cmds_LibraryError(interp, r, "could not read the description");
    if (!o->type || strcmp(Cntr_Name(o->type), "hmm/description") != 0) {
        std::string what = o->type ? Cntr_Name(o->type) : "?";
        Cntr_ObjDestroy(r, o);
        GS_DeleteResult(r);
        return fail(interp, std::string("field \"") + field + "\" holds a \"" + what + "\", not a description");
    }
    GS_DeleteResult(r);
    void *d = o->data;
    o->data = nullptr;
    Cntr_ObjDestroy(nullptr, o);
    if (Obj_Create(interp, "hmm/description", d) != TCL_OK) {
        HmmDescription_Free(static_cast<HmmDescription *>(d));
        return TCL_ERROR;
    }
    return TCL_OK;
}

// hmm concat descriptionob hmmlistob halbrinob
// Answers a new model list: the model of each segment's label, in order.
int ConcatCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *dn, *ln, *hn;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "descriptionob %s hmmlistob %s halbrinob %s", &dn, &ln, &hn))
        return TCL_ERROR;
    HmmDescription *d = get<HmmDescription>(interp, "hmm/description", dn);
    HmmList *l = d ? get<HmmList>(interp, "hmm/hmmlist", ln) : nullptr;
    HalbrinList *h = l ? get<HalbrinList>(interp, "halbrin", hn) : nullptr;
    if (!h) return TCL_ERROR;
    GS_Result *r = GS_CreateResult();
    HmmList *out = Hmm_GenList(r, h, d, l);
    if (!out) return Cmds_LibraryError(interp, r, "could not build the model list");
    GS_DeleteResult(r);
    if (Obj_Create(interp, "hmm/hmmlist", out) != TCL_OK) {
        Hmm_NukeList(out);
        return TCL_ERROR;
    }
    return TCL_OK;
}

// hmm count hmmlistob heapxob / hmm setcount hmmlistob heapxob
// Adds the statistics of the list's states to the accumulator, or puts the
// accumulator's back into the pool.
int CountCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *ln, *hn;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "hmmlistob %s heapxob %s", &ln, &hn)) return TCL_ERROR;
    HmmList *l = get<HmmList>(interp, "hmm/hmmlist", ln);
    HmmHeapx *h = l ? get<HmmHeapx>(interp, "hmm/heapx", hn) : nullptr;
    if (!h) return TCL_ERROR;
    if (l->numModels == 0) return TCL_OK;
    HmmPool *pool = l->models[0]->pool;
    GS_Result *r = GS_CreateResult();
    if (strcmp(argv[1], "count") == 0) {
        if (h->mixtures.size() != (size_t)pool->numMixtures) {
            GS_DeleteResult(r);
            return fail(interp, "the accumulator was made for another pool");
        }
        Hmm_Count(pool, l, h);
    } else if (Hmm_SetCount(r, pool, l, h)) {
        return Cmds_LibraryError(interp, r, "setcount failed");
    }
    GS_DeleteResult(r);
    return TCL_OK;
}

// hmm infolist hmmlistob
// Answers the model names in list order.
int InfoListCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *ln;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "hmmlistob %s", &ln)) return TCL_ERROR;
    HmmList *l = get<HmmList>(interp, "hmm/hmmlist", ln);
    if (!l) return TCL_ERROR;
    Tcl_Obj *out = Tcl_NewListObj(0, nullptr);
    for (int i = 0; i < l->numModels; i++) Tcl_ListObjAppendElement(nullptr, out, Tcl_NewStringObj(l->models[i]->name, -1));
    Tcl_SetObjResult(interp, out);
    return TCL_OK;
}

// hmm info descriptionob hmmlistob modelname ?-stateindex? ?-meanidx? ?-mean? ?-variance? ?-weight?
// Answers "name" and the model's name, then per asked item (all when none)
// its key and one value per emitting state.
int InfoCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *dn, *ln, *mn;
    int f[5];
    if (Cmds_ParseArgs(interp, 2, argc, argv,
                       "descriptionob %s hmmlistob %s modelname %s -stateindex %n -meanidx %n -mean %n -variance %n "
                       "-weight %n",
                       &dn, &ln, &mn, &f[0], &f[1], &f[2], &f[3], &f[4]))
        return TCL_ERROR;
    HmmDescription *d = get<HmmDescription>(interp, "hmm/description", dn);
    HmmList *l = d ? get<HmmList>(interp, "hmm/hmmlist", ln) : nullptr;
    if (!l) return TCL_ERROR;
    if (!(f[0] || f[1] || f[2] || f[3] || f[4])) f[0] = f[1] = f[2] = f[3] = f[4] = 1;
    int e = Hmm_FindModelEntry(d, mn);
    int idx = e < 0 ? -1 : d->entries[e].hmmIndex;
    if (e < 0) return fail(interp, std::string("HMM ") + mn + " does not exists");
    if (idx < 0 || idx >= l->numModels)
        return fail(interp, std::string("HMM ") + mn + " is not in the model list");
    const HmmModel *m = l->models[idx];
    Tcl_Obj *out = Tcl_NewListObj(0, nullptr);
    Tcl_ListObjAppendElement(nullptr, out, Tcl_NewStringObj("name", -1));
    Tcl_ListObjAppendElement(nullptr, out, Tcl_NewStringObj(m->name, -1));
    const char *keys[5] = {"stateindex", "meanindex", "mean", "variance", "weight"};
    for (int k = 0; k < 5; k++) {
        if (!f[k]) continue;
        Tcl_Obj *states = Tcl_NewListObj(0, nullptr);
        for (int s = 1; s < m->numStates - 1; s++) {
            const HmmMixture *x = m->states[s];
            if (k == 0) {
                Tcl_ListObjAppendElement(nullptr, states, Tcl_NewIntObj(m->stateIndex[s]));
                continue;
            }
            Tcl_Obj *comps = Tcl_NewListObj(0, nullptr);
            for (int c = 0; c < x->numComponents; c++) {
                if (k == 1) {
                    Tcl_ListObjAppendElement(nullptr, comps, Tcl_NewIntObj(x->meanIndex[c]));
                } else if (k == 4) {
                    Tcl_ListObjAppendElement(nullptr, comps, Cmds_NewFloatObj(std::exp(x->logWeights[c])));
                } else {
                    Tcl_Obj *v = Tcl_NewListObj(0, nullptr);
                    for (int dd = 0; dd < x->dim; dd++)
                        Tcl_ListObjAppendElement(nullptr, v,
                                                 Cmds_NewFloatObj(k == 2 ? x->means[c][dd] : 1.0f / x->invVars[c][dd]));
                    Tcl_ListObjAppendElement(nullptr, comps, v);
                }
            }
            Tcl_ListObjAppendElement(nullptr, states, comps);
        }
        Tcl_ListObjAppendElement(nullptr, out, Tcl_NewStringObj(keys[k], -1));
        Tcl_ListObjAppendElement(nullptr, out, states);
    }
    Tcl_SetObjResult(interp, out);
    return TCL_OK;
}

// hmm reset heapxob
// Clears an accumulator.
int ResetCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *hn;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "heapxob %s", &hn)) return TCL_ERROR;
    HmmHeapx *h = get<HmmHeapx>(interp, "hmm/heapx", hn);
    if (!h) return TCL_ERROR;
    Hmm_ResetAcc(h);
    return TCL_OK;
}

// hmm accumulate heapxob1 heapxob2
// Adds the second accumulator's statistics to the first's.
int AccumulateCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *a, *b;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "heapxob1 %s heapxob2 %s", &a, &b)) return TCL_ERROR;
    HmmHeapx *h1 = get<HmmHeapx>(interp, "hmm/heapx", a);
    HmmHeapx *h2 = h1 ? get<HmmHeapx>(interp, "hmm/heapx", b) : nullptr;
    if (!h2) return TCL_ERROR;
    GS_Result *r = GS_CreateResult();
    if (Hmm_Accumulate(r, h1, h2)) return Cmds_LibraryError(interp, r, "accumulate failed");
    GS_DeleteResult(r);
    return TCL_OK;
}

// The embedded state the variable names (or a new one, *fresh set), with
// this call's beam and occupancy floor; null with the registry's message.
HmmEmbed *embedState(Tcl_Interp *interp, const char *var, float prune, float minModel, bool *fresh) {
    HmmEmbed *st = static_cast<HmmEmbed *>(stateOf(interp, var, "hmm/hembed", fresh));
    if (!st && !*fresh) return nullptr;
    if (*fresh) st = new HmmEmbed();
    st->prune = prune;
    st->minModel = minModel;
    return st;
}

// hmm embed|mapembed hmmlistob featureob fbvar ?-prune F? ?-minmodel F?
// hmm streamembed hmmlistob oldfeatureob newfeatureob fbvar ?-prune F? ?-minmodel F?
// One embedded forward-backward pass over the list's models; the state in
// the variable fbvar is continued (or started). streamembed aligns with the
// old features and gathers statistics of the new ones. Answers the log
// likelihood per frame of every frame the state has seen.
int EmbedCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    bool stream = strcmp(argv[1], "streamembed") == 0;
    const char *ln, *fn, *nn = nullptr, *var;
    float prune = 300.0f, minModel = 10.0f;
    int bad = stream ? Cmds_ParseArgs(interp, 2, argc, argv,
                                      "hmmlistob %s oldfeatureob %s newfeatureob %s fbvar %s -prune %f -minmodel %f",
                                      &ln, &fn, &nn, &var, &prune, &minModel)
                     : Cmds_ParseArgs(interp, 2, argc, argv, "hmmlistob %s featureob %s fbvar %s -prune %f -minmodel %f",
                                      &ln, &fn, &var, &prune, &minModel);
    if (bad) return TCL_ERROR;
    HmmList *l = get<HmmList>(interp, "hmm/hmmlist", ln);
    ArrayRecord *a = nullptr, *b = nullptr;
    if (!l || get2DVecObject(fn, interp, &a) != TCL_OK) return TCL_ERROR;
    if (stream && get2DVecObject(nn, interp, &b) != TCL_OK) return TCL_ERROR;
    if (stream && Array_rows(a) != Array_rows(b)) return fail(interp, "Feature stream dimension mismatch.");
    bool fresh;
    HmmEmbed *st = embedState(interp, var, prune, minModel, &fresh);
    if (!st) return TCL_ERROR;
    GS_Result *r = GS_CreateResult();
    float **rows = a->ndims == 1 ? &a->data : a->rows;
    int failed = stream ? Hmm_StreamTrain(r, st, l, rows, Array_rows(a), Array_cols(a),
                                          b->ndims == 1 ? &b->data : b->rows, Array_cols(b))
                        : Hmm_EmbeddedTrain(r, st, l, rows, Array_rows(a), Array_cols(a));
    if (failed) {
        if (fresh) delete st;
        return Cmds_LibraryError(interp, r, "the embedded pass failed");
    }
    GS_DeleteResult(r);
    if (fresh && keepState(interp, var, "hmm/hembed", st, embedFree) != TCL_OK) return TCL_ERROR;
    Tcl_SetObjResult(interp, real(st->accCount ? st->accScore / st->accCount : 0.0));
    return TCL_OK;
}

// hmm nnembed hmmlistob nnprobob fbvar ?-prune F? ?-minmodel F?
// The embedded pass over frames of network posteriors (one column per pool
// mixture); answers {targets score}: new per-frame targets of the three
// mixtures of highest occupancy, and the state's likelihood per frame.
int NnEmbedCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *ln, *pn, *var;
    float prune = 300.0f, minModel = 10.0f;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "hmmlistob %s nnprobob %s fbvar %s -prune %f -minmodel %f", &ln, &pn,
                       &var, &prune, &minModel))
        return TCL_ERROR;
    HmmList *l = get<HmmList>(interp, "hmm/hmmlist", ln);
    ArrayRecord *a = nullptr;
    if (!l || get2DVecObject(pn, interp, &a) != TCL_OK) return TCL_ERROR;
    bool fresh;
    HmmEmbed *st = embedState(interp, var, prune, minModel, &fresh);
    if (!st) return TCL_ERROR;
    GS_Result *r = GS_CreateResult();
    NnTarget *t = Hmm_EmbeddedKelmor(r, st, l, a->ndims == 1 ? &a->data : a->rows, Array_rows(a), Array_cols(a), 3);
    if (!t) {
        if (fresh) delete st;
        return Cmds_LibraryError(interp, r, "the embedded pass failed");
    }
    GS_DeleteResult(r);
    if (fresh && keepState(interp, var, "hmm/hembed", st, embedFree) != TCL_OK) {
        delete t;
        return TCL_ERROR;
    }
    if (Obj_Create(interp, "hmm/nntarget", t) != TCL_OK) {
        delete t;
        return TCL_ERROR;
    }
    Tcl_Obj *out = Tcl_NewListObj(0, nullptr);
    Tcl_ListObjAppendElement(nullptr, out, Tcl_GetObjResult(interp));
    Tcl_ListObjAppendElement(nullptr, out, real(st->accCount ? st->accScore / st->accCount : 0.0));
    Tcl_SetObjResult(interp, out);
    return TCL_OK;
}

// hmm nnbrowse nntargetob
// Answers a rows x classes matrix holding each row's targets in their
// classes' columns.
int NnBrowseCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *tn;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "nntargetob %s", &tn)) return TCL_ERROR;
    NnTarget *t = get<NnTarget>(interp, "hmm/nntarget", tn);
    if (!t) return TCL_ERROR;
    int top = -1;
    for (int i = 0; i < t->numRows; i++)
        for (int j = 0; j < t->numTargets; j++) top = std::max(top, t->classIds[i][j]);
    int cols = top + 1 > 0 ? top + 1 : 1;
    if (t->numRows <= 0) return fail(interp, "the target set holds no rows");
    MxMatrix *m = Mx_create();
    int code = TCL_ERROR;
    if (Mx_setReal(interp, nullptr, t->numRows, cols, m) == 0) {
        for (int i = 0; i < t->numRows; i++) {
            for (int c = 0; c < cols; c++) m->real[i][c] = 0.0f;
            for (int j = 0; j < t->numTargets; j++)
                if (t->classIds[i][j] >= 0) m->real[i][t->classIds[i][j]] = t->targets[i][j];
        }
        code = TCL_OK;
    }
    Mx_destroy(m);
    return code;
}

// A multi-target example file opened for appending: its count so far, or
// a new file with count 0 and K slots.
struct ExampleFile {
    FILE *f = nullptr;
    int32_t count = 0;
    bool open(const char *path, int32_t k) {
        f = fopen(path, "rb+");
        if (f) {
            if (fread(&count, 4, 1, f) != 1) count = 0;
            return fseek(f, 0, SEEK_END) == 0;
        }
        f = fopen(path, "wb+");
        if (!f) return false;
        int32_t head[2] = {0, k};
        return fwrite(head, 4, 2, f) == 2;
    }
    // Rewrites the count, always, so that written examples are never lost.
    bool close(int32_t added) {
        if (!f) return false;
        count += added;
        bool ok = fseek(f, 0, SEEK_SET) == 0 && fwrite(&count, 4, 1, f) == 1;
        ok = fclose(f) == 0 && ok;
        f = nullptr;
        return ok;
    }
};

// hmm nnwrite outfile targetob ?featureob? ?-selective ITEMS?
// Appends each row (or the rows the items' second elements name) as an
// example: classes, targets and the feature row. Answers the file's count.
int NnWriteCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *file, *tn, *fn = nullptr, *sel = nullptr;
    int selGiven = 0;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "outfile %s targetob %s featureob ?s -selective !s", &file, &tn, &fn,
                       &sel, &selGiven))
        return TCL_ERROR;
    NnTarget *t = get<NnTarget>(interp, "hmm/nntarget", tn);
    if (!t) return TCL_ERROR;
    ArrayRecord *a = nullptr;
    if (fn && get2DVecObject(fn, interp, &a) != TCL_OK) return TCL_ERROR;
    if (a && Array_rows(a) != t->numFrames)
        return fail(interp, "FORBAC: ERROR: mismatch between feature object and target object");
    std::vector<int> rows;
    if (selGiven && sel) {
        int n;
        const char **v;
        if (Tcl_SplitList(interp, sel, &n, &v) != TCL_OK) return TCL_ERROR;
        for (int i = 0; i < n; i++) {
            int c = 0, frame = -1;
            const char **p = nullptr;
            bool split = Tcl_SplitList(interp, v[i], &c, &p) == TCL_OK;
            bool ok = split && c >= 2 && Tcl_GetInt(interp, p[1], &frame) == TCL_OK;
            if (split) Tcl_Free(reinterpret_cast<char *>(p));
            // Items are checked before anything is written.
            if (!ok || frame < 0) {
                Tcl_Free(reinterpret_cast<char *>(v));
                return fail(interp, std::string("bad -selective item \"") + v[i] + "\"");
            }
            rows.push_back(std::min(frame, t->numFrames - 1));
        }
        Tcl_Free(reinterpret_cast<char *>(v));
    } else {
        for (int i = 0; i < t->numFrames; i++) rows.push_back(i);
    }
    ExampleFile ef;
    if (!ef.open(file, t->numTargets)) return fail(interp, "FORBAC: ERROR: could not open optfile");
    bool ok = true;
    int cols = a ? Array_cols(a) : 0;
    for (int i : rows) {
        if (i < 0 || i >= t->numRows) continue;
        ok = ok && fwrite(t->classIds[i], 4, t->numTargets, ef.f) == (size_t)t->numTargets;
        ok = ok && fwrite(t->targets[i], 4, t->numTargets, ef.f) == (size_t)t->numTargets;
        if (a) ok = ok && fwrite((a->ndims == 1 ? &a->data : a->rows)[i], 4, cols, ef.f) == (size_t)cols;
    }
    ok = ef.close(ok ? (int32_t)rows.size() : 0) && ok;
    if (!ok) return fail(interp, std::string("could not write \"") + file + "\"");
    Tcl_SetObjResult(interp, Tcl_NewIntObj(ef.count));
    return TCL_OK;
}

// hmm optwrite exampleob filename
// Appends the example set to a multi-target file: its class in the first
// of three slots (target 1), then the features.
int OptWriteCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *en, *file;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "exampleob %s filename %s", &en, &file)) return TCL_ERROR;
    ExampleSet *x = get<ExampleSet>(interp, "kelmor/example", en);
    if (!x) return TCL_ERROR;
    ExampleFile ef;
    if (!ef.open(file, 3)) return fail(interp, "FORBAC: ERROR: could not open optfile");
    bool ok = true;
    int n = std::min(x->exampleCount, x->count);
    for (int i = 0; i < n && ok; i++) {
        int32_t cls[3] = {x->classes[i], -1, -1};
        float tg[3] = {1.0f, 0.0f, 0.0f};
        ok = fwrite(cls, 4, 3, ef.f) == 3 && fwrite(tg, 4, 3, ef.f) == 3 &&
             fwrite(x->rows[i], 4, x->dimension, ef.f) == (size_t)x->dimension;
    }
    ok = ef.close(ok ? n : 0) && ok;
    if (!ok) return fail(interp, std::string("could not write \"") + file + "\"");
    return TCL_OK;
}

// hmm embedinfo fbob
// Answers the sizes of the state's four scratch stacks.
int EmbedInfoCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *n;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "fbob %s", &n)) return TCL_ERROR;
    HmmEmbed *st = get<HmmEmbed>(interp, "hmm/hembed", n);
    if (!st) return TCL_ERROR;
    Tcl_Obj *out = Tcl_NewListObj(0, nullptr);
    const char *keys[4] = {"istack", "dstack", "fstack", "pstack"};
    size_t sizes[4] = {st->istack.size(), st->dstack.size(), st->fstack.size(), st->pstack.size()};
    for (int i = 0; i < 4; i++) {
        Tcl_ListObjAppendElement(nullptr, out, Tcl_NewStringObj(keys[i], -1));
        Tcl_ListObjAppendElement(nullptr, out, Tcl_NewStringObj(std::to_string(sizes[i]).c_str(), -1));
    }
    Tcl_SetObjResult(interp, out);
    return TCL_OK;
}

// hmm train hdataob hpoolob fbvar ?-delta F? ?-iters N? ?-transp? ?-mean? ?-variance? ?-weight? ?-state? ?-verbose?
// hmm vtbinit hdataob hpoolob fwvar ?-delta F? ?-iters N? ?-verbose?
// Isolated Baum-Welch, or Viterbi initialisation, of the data's model.
// Answers a new state's name, or nothing when the variable's state went on.
int TrainCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    bool viterbi = strcmp(argv[1], "vtbinit") == 0;
    const char *dn, *pn, *var;
    float delta = 1.0e-5f;
    int iters = viterbi ? 1 : 5, t = 0, m = 0, v = 0, w = 0, s = 0, verbose = 0;
    int bad = viterbi ? Cmds_ParseArgs(interp, 2, argc, argv,
                                       "hdataob %s hpoolob %s fwvar %s -delta %f -iters %i -verbose %n", &dn, &pn,
                                       &var, &delta, &iters, &verbose)
                      : Cmds_ParseArgs(interp, 2, argc, argv,
                                       "hdataob %s hpoolob %s fbvar %s -delta %f -iters %i -transp %n -mean %n "
                                       "-variance %n -weight %n -state %n -verbose %n",
                                       &dn, &pn, &var, &delta, &iters, &t, &m, &v, &w, &s, &verbose);
    if (bad) return TCL_ERROR;
    HmmData *d = get<HmmData>(interp, "hmm/hdata", dn);
    HmmPool *p = d ? get<HmmPool>(interp, "hmm/hpool", pn) : nullptr;
    if (!p) return TCL_ERROR;
    if (d->model->pool != p) return fail(interp, "the data's model does not live in pool \"" + std::string(pn) + "\"");
    const char *type = viterbi ? "hmm/hvtbinit" : "hmm/htrain";
    bool fresh;
    HmmTrain *st = static_cast<HmmTrain *>(stateOf(interp, var, type, &fresh));
    if (!st && !fresh) return TCL_ERROR;
    GS_Result *r = GS_CreateResult();
    HmmTrain *out = viterbi ? Hmm_ViterbiInit(r, st, d, p, delta, iters, verbose)
                            : Hmm_Train(r, st, d, p, delta, iters, flagWord(t, m, v, w, s), verbose);
    if (!out) return Cmds_LibraryError(interp, r, "training failed");
    GS_DeleteResult(r);
    if (!fresh) return TCL_OK;
    return keepState(interp, var, type, out, trainFree);
}

// hmm vqinit hdataob ?-verbose?
// Initialises the components of the data's model by k-means.
int VqInitCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *dn;
    int verbose = 0;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "hdataob %s -verbose %n", &dn, &verbose)) return TCL_ERROR;
    HmmData *d = get<HmmData>(interp, "hmm/hdata", dn);
    if (!d) return TCL_ERROR;
    GS_Result *r = GS_CreateResult();
    if (Hmm_VqInit(r, d, verbose)) return Cmds_LibraryError(interp, r, "vqinit failed");
    GS_DeleteResult(r);
    return TCL_OK;
}

// hmm update|streamupdate hpoolob ?-mincount N? ?-mean? ?-variance? ?-weight? ?-state? ?-transp?
// Re-estimates the pool from its statistics and clears them; streamupdate
// gives the mixtures the second stream's means and variances.
int UpdateCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *pn;
    int minCount = 0, t = 0, m = 0, v = 0, w = 0, s = 0;
    if (Cmds_ParseArgs(interp, 2, argc, argv,
                       "hpoolob %s -mincount %i -mean %n -variance %n -weight %n -state %n -transp %n", &pn, &minCount,
                       &m, &v, &w, &s, &t))
        return TCL_ERROR;
    HmmPool *p = get<HmmPool>(interp, "hmm/hpool", pn);
    if (!p) return TCL_ERROR;
    if (strcmp(argv[1], "streamupdate") == 0)
        Hmm_StreamUpdate(p, minCount, flagWord(t, m, v, w, s));
    else
        Hmm_Update(p, minCount, flagWord(t, m, v, w, s));
    return TCL_OK;
}

// hmm collect pickblockob hmmlistob modelname tclcode ?-verbose?
// Answers new training data of the named model: for each file with picks
// of the model, the script (with the wave name as one more word) gives a
// feature matrix whose rows of each pick become one example.
int CollectCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *bn, *ln, *mn, *script;
    int verbose = 0;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "pickblockob %s hmmlistob %s modelname %s tclcode %s -verbose %n", &bn,
                       &ln, &mn, &script, &verbose))
        return TCL_ERROR;
    PickBlock *b = static_cast<PickBlock *>(Obj_GetData(interp, "pick/pickblock", bn));
    HmmList *l = b ? get<HmmList>(interp, "hmm/hmmlist", ln) : nullptr;
    if (!l) return TCL_ERROR;
    HmmModel *model = nullptr;
    for (int i = 0; i < l->numModels && !model; i++)
        if (strcmp(l->models[i]->name, mn) == 0) model = l->models[i];
    if (!model)
        return fail(interp, std::string("hmm_collectCmd[0]: modelname: ") + mn + " not found in input hmm model list.");
    long total = 0, picks = 0;
    if (b->starts && b->ends)
        for (int p = 0; p < b->numPicks; p++)
            if (b->categories[p] == model->category) {
                total += std::max(0, b->ends[p] - std::max(b->starts[p], 0));
                picks++;
            }
    if (!picks) return fail(interp, std::string("hmm_collectCmd[0]: ") + model->name + " -- no data.");
    int dim = model->states[1]->dim;
    HmmData *d = Hmm_NewData(model, (int)total, dim, (int)picks);
    int used = 0, examples = 0;
    for (int f = 0; f < b->fileCount; f++) {
        const PickFile &pf = b->files[f];
        bool any = false;
        for (int j = 0; j < pf.numFilePicks && !any; j++) any = b->categories[pf.firstCategory + j] == model->category;
        if (!any) continue;
        Tcl_Obj *cmd = Tcl_NewStringObj(script, -1);
        Tcl_IncrRefCount(cmd);
        Tcl_Obj *word = Tcl_NewListObj(0, nullptr);
        Tcl_ListObjAppendElement(nullptr, word, Tcl_NewStringObj(pf.waveName ? pf.waveName : "", -1));
        Tcl_AppendToObj(cmd, " ", 1);
        Tcl_AppendObjToObj(cmd, word);
        Tcl_DecrRefCount(word);
        int code = Tcl_EvalObjEx(interp, cmd, 0);
        Tcl_DecrRefCount(cmd);
        if (code != TCL_OK) {
            Hmm_NukeData(d);
            return code;
        }
        std::string fname = Tcl_GetStringResult(interp);
        ArrayRecord *a = nullptr;
        if (get2DVecObject(fname.c_str(), interp, &a) != TCL_OK) {
            Hmm_NukeData(d);
            return TCL_ERROR;
        }
        if (Array_cols(a) != dim) {
            Obj_Destroy(interp, fname.c_str());
            Hmm_NukeData(d);
            return fail(interp, "Array dimensions do not match");
        }
        int rows = Array_rows(a);
        float **src = a->ndims == 1 ? &a->data : a->rows;
        for (int j = 0; j < pf.numFilePicks; j++) {
            if (b->categories[pf.firstCategory + j] != model->category) continue;
            // A pick reaching the last row keeps it.
            int start = std::max(b->starts[pf.firstStart + j], 0), end = std::min(b->ends[pf.firstEnd + j], rows);
            int n = end - start;
            if (n < model->numStates - 2 || n <= 0 || used + n > total) continue;
            d->starts[examples] = used;
            for (int t = start; t < end; t++) memcpy(d->rows[used++], src[t], sizeof(float) * dim);
            d->ends[examples++] = used;
        }
        Obj_Destroy(interp, fname.c_str());
    }
    d->numFrames = used;
    d->numExamples = examples;
    if (!examples) {
        Hmm_NukeData(d);
        return fail(interp, "Error in data: 0 examples loaded");
    }
    if (verbose) fprintf(stderr, "%s: %d examples loaded. total #frames = %d\n", model->name, examples, used);
    if (Obj_Create(interp, "hmm/hdata", d) != TCL_OK) {
        Hmm_NukeData(d);
        return TCL_ERROR;
    }
    return TCL_OK;
}

// hmm mapupdate hpoolob hmmlistob descriptionob ?-statfile F? ?-mean? ?-variance? ?-weight? ?-state? ?-transp?
//   ?-method N? ?-beta F? ?-modellist NAMES?
// Adapts the pool towards its statistics (maximum a posteriori), only the
// mixtures of the named models when -modellist is given.
int MapUpdateCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *pn, *ln, *dn, *statfile = nullptr, *names = nullptr;
    int m = 0, v = 0, w = 0, s = 0, t = 0, method = 0;
    float beta = 1.0f;
    if (Cmds_ParseArgs(interp, 2, argc, argv,
                       "hpoolob %s hmmlistob %s descriptionob %s -statfile %s -mean %n -variance %n -weight %n "
                       "-state %n -transp %n -method %i -beta %f -modellist %s",
                       &pn, &ln, &dn, &statfile, &m, &v, &w, &s, &t, &method, &beta, &names))
        return TCL_ERROR;
    HmmPool *p = get<HmmPool>(interp, "hmm/hpool", pn);
    HmmList *l = p ? get<HmmList>(interp, "hmm/hmmlist", ln) : nullptr;
    HmmDescription *d = l ? get<HmmDescription>(interp, "hmm/description", dn) : nullptr;
    if (!d) return TCL_ERROR;
    if (statfile) return fail(interp, "statistics files are not supported: the statistics live in the pool");
    std::vector<unsigned char> mask;
    if (names) {
        int n;
        const char **list;
        if (Tcl_SplitList(interp, names, &n, &list) != TCL_OK) return TCL_ERROR;
        mask.assign(p->numMixtures, 0);
        for (int i = 0; i < n; i++) {
            int e = Hmm_FindModelEntry(d, list[i]);
            int idx = e < 0 ? -1 : d->entries[e].hmmIndex;
            if (idx < 0 || idx >= l->numModels) {
                std::string name = list[i];
                Tcl_Free(reinterpret_cast<char *>(list));
                return fail(interp, "HMM " + name + " does not exists.");
            }
            const HmmModel *md = l->models[idx];
            for (int j = 1; j < md->numStates - 1; j++)
                if (md->stateIndex[j] >= 0 && md->stateIndex[j] < p->numMixtures) mask[md->stateIndex[j]] = 1;
        }
        Tcl_Free(reinterpret_cast<char *>(list));
    }
    GS_Result *r = GS_CreateResult();
    if (Hmm_MapUpdate(r, p, names ? mask.data() : nullptr, flagWord(t, m, v, w, s), method, beta))
        return Cmds_LibraryError(interp, r, "mapupdate failed");
    GS_DeleteResult(r);
    return TCL_OK;
}

// hmm poolnnet hpoolob nnetob
// Binds a network to the pool by name (looked up again at each use).
int PoolNnetCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *pn, *nn;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "hpoolob %s nnetob %s", &pn, &nn)) return TCL_ERROR;
    HmmPool *p = get<HmmPool>(interp, "hmm/hpool", pn);
    if (!p || !Obj_GetData(interp, "dravin/nnet", nn)) return TCL_ERROR;
    p->nnetName = nn;
    return TCL_OK;
}

// hmm save filename listfile hmmpoolob hmmlistob
// Writes the pool and list as a model file and a model list file.
int SaveCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *fn, *lf, *pn, *ln;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "filename %s listfile %s hmmpoolob %s hmmlistob %s", &fn, &lf, &pn, &ln))
        return TCL_ERROR;
    HmmPool *p = get<HmmPool>(interp, "hmm/hpool", pn);
    HmmList *l = p ? get<HmmList>(interp, "hmm/hmmlist", ln) : nullptr;
    if (!l) return TCL_ERROR;
    for (int i = 0; i < l->numModels; i++)
        if (l->models[i]->pool != p) return fail(interp, "model \"" + std::string(l->models[i]->name) +
                                                             "\" does not live in pool \"" + pn + "\"");
    GS_Result *r = GS_CreateResult();
    if (Hmm_Save(r, fn, lf, p, l)) return Cmds_LibraryError(interp, r, "save failed");
    GS_DeleteResult(r);
    return TCL_OK;
}

// hmm load modelfile listfile hpoolvar hmmlistvar ?-accumulator VAR?
// Reads a model file and a model list; the new pool's and list's names go
// into the variables. Answers the name of the last object made.
int LoadCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *mf, *lf, *pv, *lv, *av = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "modelfile %s listfile %s hpoolvar %s hmmlistvar %s -accumulator %s", &mf,
                       &lf, &pv, &lv, &av))
        return TCL_ERROR;
    GS_Result *r = GS_CreateResult();
    HmmPool *p = nullptr;
    HmmList *l = nullptr;
    if (Hmm_Load(r, mf, lf, &p, &l)) return Cmds_LibraryError(interp, r, "load failed");
    GS_DeleteResult(r);
    HmmHeapx *h = av ? Hmm_NewHeapx(p) : nullptr;
    if (Obj_Create(interp, "hmm/hpool", p) != TCL_OK) {
        Hmm_NukeList(l);
        Hmm_NukePool(p);
        delete h;
        return TCL_ERROR;
    }
    if (!Tcl_SetVar(interp, pv, Tcl_GetStringResult(interp), TCL_LEAVE_ERR_MSG) ||
        Obj_Create(interp, "hmm/hmmlist", l) != TCL_OK) {
        Hmm_NukeList(l);
        delete h;
        return TCL_ERROR;
    }
    if (!Tcl_SetVar(interp, lv, Tcl_GetStringResult(interp), TCL_LEAVE_ERR_MSG)) {
        delete h;
        return TCL_ERROR;
    }
    if (h) {
        if (Obj_Create(interp, "hmm/heapx", h) != TCL_OK) {
            delete h;
            return TCL_ERROR;
        }
        if (!Tcl_SetVar(interp, av, Tcl_GetStringResult(interp), TCL_LEAVE_ERR_MSG)) return TCL_ERROR;
    }
    return TCL_OK;
}

// hmm dumpcount filename hmmlistob / hmm dumpstate filename hpoolob
// Writes the state occupancies of the list's models, or the pool's mixtures.
int DumpCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    bool count = strcmp(argv[1], "dumpcount") == 0;
    const char *fn, *on;
    if (Cmds_ParseArgs(interp, 2, argc, argv, count ? "filename %s hmmlistob %s" : "filename %s hpoolob %s", &fn, &on))
        return TCL_ERROR;
    void *o = Obj_GetData(interp, count ? "hmm/hmmlist" : "hmm/hpool", on);
    if (!o) return TCL_ERROR;
    GS_Result *r = GS_CreateResult();
    int bad = count ? Hmm_CountDump(r, fn, static_cast<HmmList *>(o)) : Hmm_StateDump(r, fn, static_cast<HmmPool *>(o));
    if (bad) return Cmds_LibraryError(interp, r, "dump failed");
    GS_DeleteResult(r);
    return TCL_OK;
}

// hmm data-> hdataob ?-verbose?
// Answers a new matrix holding every frame of the data.
int DataOutCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *dn;
    int verbose = 0;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "hdataob %s -verbose %n", &dn, &verbose)) return TCL_ERROR;
    HmmData *d = get<HmmData>(interp, "hmm/hdata", dn);
    if (!d) return TCL_ERROR;
    if (d->numFrames <= 0) return fail(interp, "the data holds no frames");
    MxMatrix *m = Mx_create();
    int code = TCL_ERROR;
    if (Mx_setReal(interp, nullptr, d->numFrames, d->dim, m) == 0) {
        for (int i = 0; i < d->numFrames; i++) memcpy(m->real[i], d->rows[i], sizeof(float) * d->dim);
        code = TCL_OK;
    }
    Mx_destroy(m);
    return code;
}

// hmm <-data hmmlistob dataob modelname
// Answers new training data of the named model: the whole matrix as one
// example.
int DataInCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *ln, *an, *mn;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "hmmlistob %s dataob %s modelname %s", &ln, &an, &mn)) return TCL_ERROR;
    HmmList *l = get<HmmList>(interp, "hmm/hmmlist", ln);
    ArrayRecord *a = nullptr;
    if (!l || get2DVecObject(an, interp, &a) != TCL_OK) return TCL_ERROR;
    HmmModel *model = nullptr;
    for (int i = 0; i < l->numModels && !model; i++)
        if (strcmp(l->models[i]->name, mn) == 0) model = l->models[i];
    if (!model)
        return fail(interp, std::string("hmm_datainCmd[0]: modelname: ") + mn + " not found in input hmm model list.");
    int rows = Array_rows(a), cols = Array_cols(a);
    int dim = model->numStates > 2 ? model->states[1]->dim : cols;
    if (cols != dim) return fail(interp, "Array dimensions do not match");
    HmmData *d = Hmm_NewData(model, rows, cols, 1);
    for (int i = 0; i < rows; i++) memcpy(d->rows[i], a->rows[i], sizeof(float) * cols);
    d->starts[0] = 0;
    d->ends[0] = rows;
    if (Obj_Create(interp, "hmm/hdata", d) != TCL_OK) {
        Hmm_NukeData(d);
        return TCL_ERROR;
    }
    return TCL_OK;
}

const SubCmdEntry kRecognizer[] = {{"info", RecognizerInfoCmd}, {"load", RecognizerLoadCmd}, {nullptr, nullptr}};

const SubCmdEntry kHmm[] = {{"poolnnet", PoolNnetCmd}, {"concat", ConcatCmd},     {"count", CountCmd},        {"setcount", CountCmd},
                            {"infolist", InfoListCmd}, {"info", InfoCmd},          {"reset", ResetCmd},
                            {"accumulate", AccumulateCmd}, {"embed", EmbedCmd},    {"mapembed", EmbedCmd},    {"streamembed", EmbedCmd}, {"nnembed", NnEmbedCmd},  {"embedinfo", EmbedInfoCmd},
                            {"train", TrainCmd},       {"vtbinit", TrainCmd},      {"vqinit", VqInitCmd},
                            {"update", UpdateCmd},     {"mapupdate", MapUpdateCmd}, {"streamupdate", UpdateCmd},     {"save", SaveCmd},          {"load", LoadCmd},
                            {"collect", CollectCmd},  {"dumpcount", DumpCmd},    {"dumpstate", DumpCmd},     {"data->", DataOutCmd},
                            {"<-data", DataInCmd},     {"nnwrite", NnWriteCmd},    {"nnbrowse", NnBrowseCmd},
                            {"optwrite", OptWriteCmd}, {nullptr, nullptr}};

// Sub-commands that read or write files, left out of safe interpreters.
bool namesFile(const char *cmd, const char *sub) {
    static const char *const files[] = {"recognizer load", "hmm save",    "hmm load",    "hmm dumpcount",
                                        "hmm dumpstate",   "hmm nnwrite", "hmm optwrite"};
    std::string w = std::string(cmd) + " " + sub;
    for (const char *f : files)
        if (w == f) return true;
    return strcmp(cmd, "htk") == 0;
}

int init(Tcl_Interp *interp, bool safe) {
    int code = Tcl_PkgProvide(interp, "Hmm", "1.0");
    if (code != TCL_OK) return code;
    for (const CntrType &t : kTypes) Cntr_RegisterType(&t);
    Cntr_RegisterType(Halbrin_Type());
    const std::pair<const char *, const SubCmdEntry *> tables[] = {
        {"recognizer", kRecognizer}, {"hmm", kHmm}, {"htk", Htk_Commands()}};
    for (const auto &t : tables) {
        Cmds_CreateSwitchCmd(interp, t.first, nullptr, nullptr);
        for (const SubCmdEntry *e = t.second; e->name; e++)
            if (!safe || !namesFile(t.first, e->name))
                Cmds_CreateSubCmd(interp, t.first, e->name, e->proc, nullptr, nullptr);
    }
    return Obj_Init(interp) ? TCL_ERROR : TCL_OK;
}

}  // namespace

extern "C" {

int Hmm_Init(Tcl_Interp *interp) { return init(interp, false); }

int Hmm_SafeInit(Tcl_Interp *interp) { return init(interp, true); }

}  // extern "C"
