// The `viterbi` command: Viterbi searches ("viterbi/viterbi" objects) over
// state networks, driven by frame-by-category probability matrices.
#include <tcl.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cmds.h"
#include "container.h"
#include "gravlin.h"
#include "obj.h"
#include "records.h"
#include "utils.h"
#include "viterbi.h"
#include "yastro.h"

namespace {

const char *kType = "viterbi/viterbi";

void recordFree(void *record) {
    ViterbiRecord *rec = static_cast<ViterbiRecord *>(record);
    Viterbi_free(rec);
    DB_FREE(rec);
}

void *recordClone(const void *record) {
    ViterbiRecord *copy = static_cast<ViterbiRecord *>(DB_MALLOC(sizeof(ViterbiRecord)));
    Viterbi_clone(copy, static_cast<const ViterbiRecord *>(record));
    return copy;
}

int recordLength(GS_Result *, const void *record, size_t *length) {
    *length = Viterbi_packedLength(static_cast<const ViterbiRecord *>(record));
    return 0;
}

int recordPack(GS_Result *, const void *record, unsigned char *buffer) {
    Viterbi_pack(static_cast<const ViterbiRecord *>(record), buffer);
    return 0;
}

void *recordUnpack(GS_Result *r, const unsigned char *buffer, size_t length) {
    ViterbiRecord *rec = static_cast<ViterbiRecord *>(DB_MALLOC(sizeof(ViterbiRecord)));
    if (Viterbi_unpack(r, rec, buffer, length) == 0) return rec;
    DB_FREE(rec);
    return nullptr;
}

const CntrType kRecordType = {kType,        "viterbi",  nullptr,     recordFree,
                              recordClone, recordLength, recordPack, recordUnpack};

int fail(Tcl_Interp *interp, const std::string &text) {
    fputs(text.c_str(), stderr);
    std::string t = text;
    while (!t.empty() && t.back() == '\n') t.pop_back();
    Tcl_SetObjResult(interp, Tcl_NewStringObj(t.c_str(), -1));
    return TCL_ERROR;
}

int failRecord(Tcl_Interp *interp, const ViterbiRecord *rec) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj(rec->errorText, -1));
    return TCL_ERROR;
}

ViterbiRecord *getRecord(Tcl_Interp *interp, const char *name) {
    return static_cast<ViterbiRecord *>(Obj_GetData(interp, kType, name));
}

GravlinNet *getNet(Tcl_Interp *interp, const char *name) {
    return static_cast<GravlinNet *>(Obj_GetData(interp, "gravlin/gravlin", name));
}

// viterbi init gravlinObj ?-blockSize N? ?-beamThreshold F? ... ?-transProbFactor F?
// A new search over the network; answers its name.
int InitCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *net = nullptr, *model = nullptr;
    int blockSize = 500, targetBeamSize = -1, targetBeamVariance = 10, cutoff = 0;
    float beam = -500.0f, beamAdjust = -5.0f, maxBeam = -50.0f, beamRatio = 0.5f, shortPen = -6.5f, longPen = -1.0f,
          wbPen = -3.0f, probFloor = 0.00001f, transFactor = 1.0f;
    if (Cmds_ParseArgs(interp, 2, argc, argv,
                       "gravlinObj %s -blockSize %i -beamThreshold %f \t\t\t-beamThresholdAdjust %f \t\t\t"
                       "-maxBeamThreshold %f -targetBeamSize %i \t\t\t-targetBeamVariance %i -beamRatio %f \t\t\t"
                       "-durationModel %s -allowWordCutoff %n \t\t\t-durationShortPenalty %f -durationLongPenalty %f "
                       "\t\t\t-wordBoundaryPenalty %f -observationProbFloor %f \t\t\t-transProbFactor %f",
                       &net, &blockSize, &beam, &beamAdjust, &maxBeam, &targetBeamSize, &targetBeamVariance,
                       &beamRatio, &model, &cutoff, &shortPen, &longPen, &wbPen, &probFloor, &transFactor))
        return TCL_ERROR;
    int code = VITERBI_MINMAX;
    if (model) {
        if (strcmp(model, "exponential") == 0)
            code = VITERBI_EXPONENTIAL;
        else if (strcmp(model, "gamma") == 0)
            code = VITERBI_GAMMA;
        else if (strcmp(model, "minmax") == 0)
            code = VITERBI_MINMAX;
        else
            return fail(interp, "Duration model must be one of: {exponential, gamma, minmax}\n");
    }
    GravlinNet *g = getNet(interp, net);
    if (!g) return TCL_ERROR;
    ViterbiRecord *rec = static_cast<ViterbiRecord *>(DB_MALLOC(sizeof(ViterbiRecord)));
    // A search that cannot run is not registered: the caller gets the
    // reason and no half-made object.
    if (Viterbi_init(g, rec, blockSize, beam, beamAdjust, maxBeam, targetBeamSize, targetBeamVariance, beamRatio, code,
                     cutoff, shortPen, longPen, wbPen, probFloor, transFactor)) {
        int rc = failRecord(interp, rec);
        recordFree(rec);
        return rc;
    }
    if (Obj_Create(interp, kType, rec) != TCL_OK) {
        recordFree(rec);
        return TCL_ERROR;
    }
    return TCL_OK;
}

// viterbi search viterbiObj gravlinObj probMatrix ?-transProb M -transToFromIdx {{to from} ...}?
// Searches the frames of probMatrix (one row a frame, one column a
// category), continuing the utterance of earlier calls.
int SearchCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr, *net = nullptr, *prob = nullptr, *transName = nullptr, *idx = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv,
                       "viterbiObj %s gravlinObj %s probMatrix %s -transProb %s \t\t\t-transToFromIdx %s", &name, &net,
                       &prob, &transName, &idx))
        return TCL_ERROR;
    ViterbiRecord *rec = getRecord(interp, name);
    if (!rec) return TCL_ERROR;
    GravlinNet *g = getNet(interp, net);
    if (!g) return TCL_ERROR;
    ArrayRecord *p = nullptr, *t = nullptr;
    if (get2DVecObject(prob, interp, &p)) return TCL_ERROR;
    if ((transName != nullptr) != (idx != nullptr))
        return fail(interp, "If using time-dependent transition probabilities, must specify BOTH -transProb and "
                            "-transToFromIdx");
    std::vector<int> table;
    if (transName) {
        if (get2DVecObject(transName, interp, &t)) return TCL_ERROR;
        int n;
        const char **elems;
        if (Tcl_SplitList(interp, idx, &n, &elems) != TCL_OK) return TCL_ERROR;
        for (int i = 0; i < n; i++) {
            int m;
            const char **items;
            if (Tcl_SplitList(nullptr, elems[i], &m, &items) != TCL_OK) {
                std::string msg = sspf(0, "Error splitting list item %d: %s\n", i, elems[i]);
                Tcl_Free((char *)elems);
                return fail(interp, msg);
            }
            int a = 0, b = 0;
            bool ok = m == 2 && Tcl_GetInt(nullptr, items[0], &a) == TCL_OK && Tcl_GetInt(nullptr, items[1], &b) == TCL_OK;
            Tcl_Free((char *)items);
            if (!ok) {
                std::string msg = m != 2 ? sspf(0, "Error: found %d items in sub list '%s'\n", m, elems[i])
                                         : sspf(0, "Error: sub list '%s' does not hold two integers\n", elems[i]);
                Tcl_Free((char *)elems);
                return fail(interp, msg);
            }
            table.push_back(a);
            table.push_back(b);
        }
        Tcl_Free((char *)elems);
        if (Array_rows(t) != Array_rows(p))
            return fail(interp, sspf(0, "Error: cat frame count %d != trans frame count %d\n", Array_rows(p), Array_rows(t)));
        if ((int)table.size() / 2 != Array_cols(t))
            return fail(interp, sspf(0, "Error: length of state trans list (%d) != number of transition categories (%d)\n",
                                     (int)table.size() / 2, Array_cols(t)));
    }
    float *oneRow[1];
    float **rows = p->ndims == 1 ? (oneRow[0] = p->data, oneRow) : p->rows;
    float *oneTrans[1];
    float **trows = t ? (t->ndims == 1 ? (oneTrans[0] = t->data, oneTrans) : t->rows) : nullptr;
    if (Viterbi_search(rec, g, rows, Array_rows(p), Array_cols(p), trows, (int)table.size() / 2,
                       t ? reinterpret_cast<int(*)[2]>(table.data()) : nullptr))
        return failRecord(interp, rec);
    Tcl_ResetResult(interp);
    return TCL_OK;
}

Tcl_Obj *segments(const ViterbiRecord *rec, const HalbrinList *l, bool hideHidden) {
    Tcl_Obj *r = Tcl_NewListObj(0, nullptr);
    int n = l ? l->count : 0;
    for (int i = 0; i < n; i++) {
        const Segment &s = l->segments[i];
        size_t len = strlen(s.label);
        if (hideHidden && len >= 3 && strcmp(s.label + len - 2, "%%") == 0) continue;
        Tcl_Obj *e = Tcl_NewListObj(0, nullptr);
        Tcl_ListObjAppendElement(nullptr, e, Tcl_NewStringObj(sspf(0, "%.0f", s.begin * rec->msPerFrame), -1));
        Tcl_ListObjAppendElement(nullptr, e, Tcl_NewStringObj(sspf(0, "%.0f", s.end * rec->msPerFrame), -1));
        Tcl_ListObjAppendElement(nullptr, e, Tcl_NewStringObj(s.label, -1));
        Tcl_ListObjAppendElement(nullptr, e, Tcl_NewStringObj(sspf(0, "%.3f", s.score), -1));
        Tcl_ListObjAppendElement(nullptr, r, e);
    }
    return r;
}

// viterbi answer viterbiObj gravlinObj ?-score 0|1? ?-words 0|1? ?-phonemes 0|1? ?-states 0|1? ?-name 0|1?
// The best path so far as {score words phonemes states name}, each part
// only when asked; segments are {startMs endMs label score}.
int AnswerCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr, *net = nullptr;
    int score = 1, words = 1, phonemes = 0, states = 1, withName = 1;
    if (Cmds_ParseArgs(interp, 2, argc, argv,
                       "viterbiObj %s gravlinObj %s \t\t\t-score %i -words %i -phonemes %i -states %i -name %i", &name,
                       &net, &score, &words, &phonemes, &states, &withName))
        return TCL_ERROR;
    ViterbiRecord *rec = getRecord(interp, name);
    if (!rec) return TCL_ERROR;
    GravlinNet *g = getNet(interp, net);
    if (!g) return TCL_ERROR;
    int rc = Viterbi_answer(rec, g);
    if (rc) {
        rec->score = -1e10f;
        for (HalbrinList **l : {&rec->words, &rec->phonemes, &rec->states}) {
            nukeHalbrin(*l);
            *l = nullptr;
        }
    }
    Tcl_Obj *r = Tcl_NewListObj(0, nullptr);
    if (score) Tcl_ListObjAppendElement(nullptr, r, Tcl_NewStringObj(sspf(0, "%.3f", rec->score), -1));
    if (words) Tcl_ListObjAppendElement(nullptr, r, segments(rec, rec->words, true));
    if (phonemes) Tcl_ListObjAppendElement(nullptr, r, segments(rec, rec->phonemes, false));
    if (states) Tcl_ListObjAppendElement(nullptr, r, segments(rec, rec->states, false));
    if (withName)
        Tcl_ListObjAppendElement(nullptr, r, g->name ? Tcl_NewStringObj(g->name, -1) : Tcl_NewListObj(0, nullptr));
    if (rc) {
        // The reason, not the empty answer, is what a script needs to see.
        Tcl_DecrRefCount(r);
        Tcl_SetObjResult(interp, Tcl_NewStringObj(rec->errorText, -1));
        return TCL_ERROR;
    }
    Tcl_SetObjResult(interp, r);
    return TCL_OK;
}

// viterbi answerSoFar viterbiObj gravlinObj
// Traces the best partial path into the record; answers nothing.
int AnswerSoFarCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr, *net = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "viterbiObj %s gravlinObj %s", &name, &net)) return TCL_ERROR;
    ViterbiRecord *rec = getRecord(interp, name);
    if (!rec) return TCL_ERROR;
    GravlinNet *g = getNet(interp, net);
    if (!g) return TCL_ERROR;
    Viterbi_answerSoFar(rec, g);
    Tcl_ResetResult(interp);
    return TCL_OK;
}

// viterbi reset viterbiObj   (also: viterbi free viterbiObj)
// Forgets the frames searched so far; the object stays.
int ResetCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "viterbiObj %s", &name)) return TCL_ERROR;
    ViterbiRecord *rec = getRecord(interp, name);
    if (!rec) return TCL_ERROR;
    if (Viterbi_reset(rec)) return failRecord(interp, rec);
    Tcl_ResetResult(interp);
    return TCL_OK;
}

const SubCmdEntry kTable[] = {{"init", InitCmd},   {"search", SearchCmd}, {"answer", AnswerCmd},
                              {"answerSoFar", AnswerSoFarCmd}, {"reset", ResetCmd}, {"free", ResetCmd},
                              {nullptr, nullptr}};

} // namespace

extern "C" {

int Viterbi_Init(Tcl_Interp *interp) {
    int code = Tcl_PkgProvide(interp, "Viterbi", "1.0");
    if (code != TCL_OK) return code;
    Cntr_RegisterType(&kRecordType);
    Cmds_CreateSwitchCmd(interp, "viterbi", nullptr, nullptr);
    for (const SubCmdEntry *e = kTable; e->name; e++)
        Cmds_CreateSubCmd(interp, "viterbi", e->name, e->proc, nullptr, nullptr);
    return Obj_Init(interp);
}

int Viterbi_SafeInit(Tcl_Interp *interp) { return Viterbi_Init(interp); }

} // extern "C"
