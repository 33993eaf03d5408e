// The `sevrin` command: hierarchical HMM searches ("sevrin/sevrin") over
// grammars and word graphs of the word-hypothesis package, fed with feature
// matrices; and `lattice create/info/reset` for their word-end lattices.
#include <tcl.h>

#include <cstring>
#include <string>
#include <vector>

#include "cmds.h"
#include "container.h"
#include "halbrin.h"
#include "obj.h"
#include "result.h"
#include "sevrin.h"
#include "talmok.h"
#include "utils.h"

namespace {

void searchFree(void *r) { Sevrin_Nuke(static_cast<SevrinSearch *>(r)); }
void latticeFree(void *r) { delete static_cast<SevrinLattice *>(r); }

const CntrType kTypes[] = {
    {"sevrin/sevrin", "sevrin", nullptr, searchFree, nullptr, nullptr, nullptr, nullptr},
    {"sevrin/lattice", "lattice", nullptr, latticeFree, nullptr, nullptr, nullptr, nullptr},
};

// The types of the six bindings, in the order of SevrinSearch::bound.
const char *const kBoundTypes[6] = {"hmm/hpool", "hmm/hmmlist", "talmok/triphone",
                                    "sevrin/lattice", "btraceheap", "zandor/zandor"};

int fail(Tcl_Interp *interp, const std::string &text) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj(text.c_str(), -1));
    return TCL_ERROR;
}

// The search with its bound objects fetched again: a binding whose object
// is gone fails with the registry's message instead of being used.
SevrinSearch *ready(Tcl_Interp *interp, const char *name) {
    SevrinSearch *s = static_cast<SevrinSearch *>(Obj_GetData(interp, "sevrin/sevrin", name));
    if (!s) return nullptr;
    for (int i = 0; i < 6; i++)
        if (!s->bound[i].empty() && !Obj_GetData(interp, kBoundTypes[i], s->bound[i].c_str())) return nullptr;
    // A network not built yet reads the list, which must still be there.
    if (!s->net)
        s->hmmlist = s->bound[1].empty()
                         ? nullptr
                         : static_cast<HmmList *>(Obj_GetData(interp, "hmm/hmmlist", s->bound[1].c_str()));
    s->lattice = s->bound[3].empty()
                     ? nullptr
                     : static_cast<SevrinLattice *>(Obj_GetData(interp, "sevrin/lattice", s->bound[3].c_str()));
    s->lm = s->bound[5].empty()
                ? nullptr
                : static_cast<const ZandorModel *>(Obj_GetData(interp, "zandor/zandor", s->bound[5].c_str()));
    return s;
}

// sevrin grammar grammarlist wordlist ?-triphone T? ?-vocab V? ?-appendsp?
// Answers a new search over the grammars (first initial, last final) and
// the words.
int GrammarCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *gl, *wl, *tri = nullptr, *vocab = nullptr;
    int appendsp = 0;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "grammarlist %s wordlist %s -triphone %s -vocab %s -appendsp %n", &gl,
                       &wl, &tri, &vocab, &appendsp))
        return TCL_ERROR;
    const LmVocab *lv = nullptr;
    if (vocab && !(lv = static_cast<const LmVocab *>(Obj_GetData(interp, "zandor/lmvocab", vocab))))
        return TCL_ERROR;
    const TalmokTriphone *table = nullptr;
    if (tri && !(table = static_cast<const TalmokTriphone *>(Obj_GetData(interp, "talmok/triphone", tri))))
        return TCL_ERROR;
    std::vector<WordGrammar *> grammars;
    std::vector<WordGraph *> words;
    if (!Obj_GetDataList(interp, gl, "talmok/grammar", grammars) || !Obj_GetDataList(interp, wl, "talmok/word", words))
        return TCL_ERROR;
    GS_Result *r = GS_CreateResult();
    SevrinSearch *s = Sevrin_CreateGrammar(r, grammars.data(), (int)grammars.size(), words.data(), (int)words.size(), lv,
                                           appendsp != 0, table ? &table->units : nullptr);
    if (!s) return Cmds_LibraryError(interp, r, "");
    GS_DeleteResult(r);
    if (Obj_Create(interp, "sevrin/sevrin", s) != TCL_OK) {
        Sevrin_Nuke(s);
        return TCL_ERROR;
    }
    return TCL_OK;
}

// sevrin set sevrinob hpool hmmlistob ?-triphone T? ?-lattice L? ?-backtrace B? ?-zandor Z?
// Binds the pool, the model list and the optional objects; an option left
// out clears its binding. A triphone table given here replaces the one the
// search was made with (copied, so it may be destroyed afterwards); left
// out, the search keeps the table it has.
int SetCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *sn, *names[6] = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
    if (Cmds_ParseArgs(interp, 2, argc, argv,
                       "sevrinob %s hpool %s hmmlistob %s -triphone %s -lattice %s -backtrace %s -zandor %s", &sn,
                       &names[0], &names[1], &names[2], &names[3], &names[4], &names[5]))
        return TCL_ERROR;
    SevrinSearch *s = static_cast<SevrinSearch *>(Obj_GetData(interp, "sevrin/sevrin", sn));
    if (!s) return TCL_ERROR;
    for (int i = 0; i < 6; i++)
        if (names[i] && !Obj_GetData(interp, kBoundTypes[i], names[i])) return TCL_ERROR;
    for (int i = 0; i < 6; i++) s->bound[i] = names[i] ? names[i] : "";
    // The table is copied, so its object need not outlive the search.
    if (names[2]) s->triphones = static_cast<TalmokTriphone *>(Obj_GetData(interp, "talmok/triphone", names[2]))->units;
    s->bound[2].clear();
    Sevrin_Bind(s, static_cast<HmmList *>(Obj_GetData(interp, "hmm/hmmlist", names[1])));
    return TCL_OK;
}

// sevrin configure lvob ?-active ?F?? ?-shortpen ?F?? ... ?-traceword? ?-tracephone? ?-tracestate?
// Answers option and value ("%f") for the settings named without a value
// (all nine when none is named), then stores the values given; the trace
// options set their flag.
int ConfigureCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *sn;
    int named[9], given[9], tw = 0, tp = 0, ts = 0;
    float v[9];
    if (Cmds_ParseArgs(interp, 2, argc, argv,
                       "lvob %s -active %n !f -shortpen %n !f -longpen %n !f -framesize %n !f -crossmodel %n !f "
                       "-beam %n !f -wordendbeam %n !f -grammarscale %n !f -fbprune %n !f -traceword %n "
                       "-tracephone %n -tracestate %n",
                       &sn, &named[0], &v[0], &given[0], &named[1], &v[1], &given[1], &named[2], &v[2], &given[2],
                       &named[3], &v[3], &given[3], &named[4], &v[4], &given[4], &named[5], &v[5], &given[5],
                       &named[6], &v[6], &given[6], &named[7], &v[7], &given[7], &named[8], &v[8], &given[8], &tw, &tp,
                       &ts))
        return TCL_ERROR;
    SevrinSearch *s = static_cast<SevrinSearch *>(Obj_GetData(interp, "sevrin/sevrin", sn));
    if (!s) return TCL_ERROR;
    if (tw) s->traceFlags |= 1;
    if (tp) s->traceFlags |= 2;
    if (ts) s->traceFlags |= 4;
    const char *opts[9] = {"-active", "-shortpen", "-longpen", "-framesize", "-crossmodel",
                           "-beam", "-wordendbeam", "-grammarscale", "-fbprune"};
    float *fields[9] = {&s->active, &s->shortPen, &s->longPen, &s->framesize, &s->crossModel,
                        &s->beam, &s->wordEndBeam, &s->grammarScale, &s->fbPrune};
    bool none = true;
    for (int i = 0; i < 9; i++) none = none && !named[i];
    Tcl_Obj *out = Tcl_NewListObj(0, nullptr);
    for (int i = 0; i < 9; i++)
        if (none || (named[i] && !given[i])) {
            char buf[64];
            snprintf(buf, sizeof buf, "%f", *fields[i]);
            Tcl_ListObjAppendElement(nullptr, out, Tcl_NewStringObj(opts[i], -1));
            Tcl_ListObjAppendElement(nullptr, out, Tcl_NewStringObj(buf, -1));
        }
    for (int i = 0; i < 9; i++)
        if (given[i]) *fields[i] = v[i];
    Tcl_SetObjResult(interp, out);
    return TCL_OK;
}

// sevrin reset lvob
// Starts a new utterance.
int ResetCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *sn;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "lvob %s", &sn)) return TCL_ERROR;
    SevrinSearch *s = ready(interp, sn);
    if (!s) return TCL_ERROR;
    GS_Result *r = GS_CreateResult();
    if (Sevrin_Check(r, s)) return Cmds_LibraryError(interp, r, "");
    GS_DeleteResult(r);
    Sevrin_Reset(s);
    return TCL_OK;
}

// sevrin forward lvob featureob
// Runs the search over every row (frame) of the feature matrix.
int ForwardCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *sn, *fn;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "lvob %s featureob %s", &sn, &fn)) return TCL_ERROR;
    ArrayRecord *a = nullptr;
    if (get2DVecObject(fn, interp, &a) != TCL_OK) return TCL_ERROR;
    SevrinSearch *s = ready(interp, sn);
    if (!s) return TCL_ERROR;
    GS_Result *r = GS_CreateResult();
    if (Sevrin_Check(r, s) || Sevrin_Forward(r, s, a->ndims == 1 ? &a->data : a->rows, Array_rows(a), Array_cols(a)))
        return Cmds_LibraryError(interp, r, "");
    GS_DeleteResult(r);
    return TCL_OK;
}

// sevrin forwardbest sevrinob
// Answers the best hypothesis's score and its segment lists: words, then
// phones and states when traced.
int ForwardBestCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *sn;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "sevrinob %s", &sn)) return TCL_ERROR;
    SevrinSearch *s = ready(interp, sn);
    if (!s) return TCL_ERROR;
    GS_Result *r = GS_CreateResult();
    HalbrinList *lists[3];
    if (Sevrin_Best(r, s, lists)) return Cmds_LibraryError(interp, r, "");
    GS_DeleteResult(r);
    char buf[TCL_DOUBLE_SPACE];
    Tcl_Obj *out = Tcl_NewListObj(0, nullptr);
    Tcl_IncrRefCount(out);
    Tcl_ListObjAppendElement(nullptr, out, Tcl_NewStringObj(Cmds_DoubleString(lists[0]->score, buf), -1));
    for (int i = 0; i < 3; i++) {
        if (!lists[i]) continue;
        if (Obj_Create(interp, "halbrin", lists[i]) != TCL_OK) {
            for (int k = i; k < 3; k++) nukeHalbrin(lists[k]);
            Tcl_DecrRefCount(out);
            return TCL_ERROR;
        }
        Tcl_ListObjAppendElement(nullptr, out, Tcl_GetObjResult(interp));
    }
    Tcl_SetObjResult(interp, out);
    Tcl_DecrRefCount(out);
    return TCL_OK;
}

// sevrin score refstring hypstring
// Aligns the hypothesis words with the reference words; answers the
// alignment's segment list and the counts of correct words, substitutions,
// deletions and insertions.
int ScoreCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *ref, *hyp;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "refstring %s hypstring %s", &ref, &hyp)) return TCL_ERROR;
    std::vector<std::string> w[2];
    const char *texts[2] = {ref, hyp};
    for (int k = 0; k < 2; k++) {
        int n;
        const char **v;
        if (Tcl_SplitList(interp, texts[k], &n, &v) != TCL_OK) return TCL_ERROR;
        w[k].assign(v, v + n);
        Tcl_Free(reinterpret_cast<char *>(v));
    }
    int c, s, d, i;
    HalbrinList *l = Sevrin_Align(w[0], w[1], &c, &s, &d, &i);
    if (Obj_Create(interp, "halbrin", l) != TCL_OK) {
        nukeHalbrin(l);
        return TCL_ERROR;
    }
    Tcl_Obj *out = Tcl_NewListObj(0, nullptr);
    Tcl_ListObjAppendElement(nullptr, out, Tcl_GetObjResult(interp));
    for (int x : {c, s, d, i}) Tcl_ListObjAppendElement(nullptr, out, Tcl_NewIntObj(x));
    Tcl_SetObjResult(interp, out);
    return TCL_OK;
}

// sevrin save filename sevrinob / sevrin load filename
// Writes a search's words, grammars and settings, or makes a new search of
// a saved one (bind its models with set).
int SaveCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *file, *sn;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "filename %s sevrinob %s", &file, &sn)) return TCL_ERROR;
    SevrinSearch *s = static_cast<SevrinSearch *>(Obj_GetData(interp, "sevrin/sevrin", sn));
    if (!s) return TCL_ERROR;
    GS_Result *r = GS_CreateResult();
    if (Sevrin_Save(r, file, s)) return Cmds_LibraryError(interp, r, "");
    GS_DeleteResult(r);
    return TCL_OK;
}

int LoadCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *file;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "filename %s", &file)) return TCL_ERROR;
    GS_Result *r = GS_CreateResult();
    SevrinSearch *s = Sevrin_Load(r, file);
    if (!s) return Cmds_LibraryError(interp, r, "");
    GS_DeleteResult(r);
    // Released like a search made by grammar.
    if (Obj_Create(interp, "sevrin/sevrin", s) != TCL_OK) {
        Sevrin_Nuke(s);
        return TCL_ERROR;
    }
    return TCL_OK;
}

// lattice create ?-initcell N? ?-incrcell N? ?-initnode N? ?-incrnode N?
// Answers a new, empty word-end lattice.
int LatticeCreateCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    int ic = 10000, xc = 10000, in = 1000, xn = 1000;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "-initcell %i -incrcell %i -initnode %i -incrnode %i", &ic, &xc, &in,
                       &xn))
        return TCL_ERROR;
    if (ic < 0 || xc < 0 || in < 0 || xn < 0) return fail(interp, "lattice sizes must not be negative");
    SevrinLattice *l = Sevrin_NewLattice(ic, xc, in, xn);
    if (Obj_Create(interp, "sevrin/lattice", l) != TCL_OK) {
        delete l;
        return TCL_ERROR;
    }
    return TCL_OK;
}

// lattice info lattice
// Answers "numcells" and "numnodes" with their counts.
int LatticeInfoCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *ln;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "lattice %s", &ln)) return TCL_ERROR;
    SevrinLattice *l = static_cast<SevrinLattice *>(Obj_GetData(interp, "sevrin/lattice", ln));
    if (!l) return TCL_ERROR;
    std::string text = "numcells " + std::to_string(l->numCells) + " numnodes " + std::to_string(l->numNodes);
    Tcl_SetObjResult(interp, Tcl_NewStringObj(text.c_str(), -1));
    return TCL_OK;
}

// lattice reset lattice
// Empties the lattice.
int LatticeResetCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *ln;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "lattice %s", &ln)) return TCL_ERROR;
    SevrinLattice *l = static_cast<SevrinLattice *>(Obj_GetData(interp, "sevrin/lattice", ln));
    if (!l) return TCL_ERROR;
    Sevrin_ResetLattice(l);
    return TCL_OK;
}

const SubCmdEntry kSevrin[] = {{"grammar", GrammarCmd},       {"set", SetCmd},         {"configure", ConfigureCmd},
                               {"reset", ResetCmd},           {"forward", ForwardCmd}, {"forwardbest", ForwardBestCmd},
                               {"score", ScoreCmd},           {"load", LoadCmd},       {"save", SaveCmd},
                               {nullptr, nullptr}};
const SubCmdEntry kLattice[] = {
    {"create", LatticeCreateCmd}, {"info", LatticeInfoCmd}, {"reset", LatticeResetCmd}, {nullptr, nullptr}};

// A safe interpreter gets no command that reads or writes a file.
int init(Tcl_Interp *interp, bool safe) {
    int code = Tcl_PkgProvide(interp, "Sevrin", "1.0");
    if (code != TCL_OK) return code;
    for (const CntrType &t : kTypes) Cntr_RegisterType(&t);
    Cntr_RegisterType(Halbrin_Type());
    static const char *const kFileCmds[] = {"load", "save", nullptr};
    Cmds_CreateSwitchCmd(interp, "sevrin", nullptr, nullptr);
    Cmds_CreateSubCmdsExcept(interp, "sevrin", kSevrin, safe ? kFileCmds : nullptr);
    Cmds_CreateSwitchCmd(interp, "lattice", nullptr, nullptr);
    Cmds_CreateSubCmds(interp, "lattice", kLattice);
    return Obj_Init(interp) ? TCL_ERROR : TCL_OK;
}

}  // namespace

extern "C" {

int Sevrin_Init(Tcl_Interp *interp) { return init(interp, false); }

int Sevrin_SafeInit(Tcl_Interp *interp) { return init(interp, true); }

}  // extern "C"
