// The `decoder` command: word-loop decoders ("decoder/decoder") over a model
// list and word graphs, fed with frames of probabilities (one column per
// pool mixture), answering the best word string as a segment list; decoders
// and their lattices saved to files and loaded back.
#include <tcl.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "cmds.h"
#include "container.h"
#include "decoder.h"
#include "halbrin.h"
#include "obj.h"
#include "pardel.h"
#include "result.h"
#include "zandor.h"

namespace {

void decoderFree(void *r) { delete static_cast<DecoderTree *>(r); }
void latticeFree(void *r) { delete static_cast<SevrinLattice *>(r); }

const CntrType kTypes[] = {
    {"decoder/decoder", "decoder", nullptr, decoderFree, nullptr, nullptr, nullptr, nullptr},
    {"decoder/lattice", "lattice", nullptr, latticeFree, nullptr, nullptr, nullptr, nullptr},
};

int fail(Tcl_Interp *interp, const std::string &text) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj(text.c_str(), -1));
    return TCL_ERROR;
}

DecoderTree *getDecoder(Tcl_Interp *interp, const char *name) {
    return static_cast<DecoderTree *>(Obj_GetData(interp, "decoder/decoder", name));
}

// Unigram scores of the decoder's words from an n-gram model whose word i
// is the decoder's word i.
std::vector<float> unigrams(const DecoderTree *d, const ZandorModel *lm) {
    std::vector<float> out(d->numWords, 0.0f);
    for (int i = 0; i < d->numWords; i++)
        if (lm_WordOk(lm, i)) {
            float v = lm_ReadUnigram(lm, i);
            out[i] = v == LM_NO_SCORE ? 0.0f : v;
        }
    return out;
}

// decoder build hmmlistob wordoblist ?-vocab V? ?-zandor Z?
// Answers a new decoder over the words; with -zandor its unigrams score
// the words.
int BuildCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *ln, *wl, *vocab = nullptr, *zn = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "hmmlistob %s wordoblist %s -vocab %s -zandor %s", &ln, &wl, &vocab, &zn))
        return TCL_ERROR;
    HmmList *l = static_cast<HmmList *>(Obj_GetData(interp, "hmm/hmmlist", ln));
    if (!l) return TCL_ERROR;
    if (vocab && !Obj_GetData(interp, "zandor/lmvocab", vocab)) return TCL_ERROR;
    ZandorModel *lm = zn ? static_cast<ZandorModel *>(Obj_GetData(interp, "zandor/zandor", zn)) : nullptr;
    if (zn && !lm) return TCL_ERROR;
    int n;
    const char **v;
    if (Tcl_SplitList(interp, wl, &n, &v) != TCL_OK) return TCL_ERROR;
    std::vector<WordGraph *> words;
    for (int i = 0; i < n; i++) {
        WordGraph *w = static_cast<WordGraph *>(Obj_GetData(interp, "talmok/word", v[i]));
        if (!w) {
            Tcl_Free(reinterpret_cast<char *>(v));
            return TCL_ERROR;
        }
        words.push_back(w);
    }
    Tcl_Free(reinterpret_cast<char *>(v));
    GS_Result *r = GS_CreateResult();
    DecoderTree *d = Decoder_CreateTree(r, l, words.data(), (int)words.size());
    if (!d) return Cmds_LibraryError(interp, r, "");
    if (lm) Decoder_SetUnigram(r, d, unigrams(d, lm));
    GS_DeleteResult(r);
    if (Obj_Create(interp, "decoder/decoder", d) != TCL_OK) {
        delete d;
        return TCL_ERROR;
    }
    return TCL_OK;
}

// decoder set decoderob ?-prior M? ?-lm Z? ?-maxmodel M? ?-hl X?
// Sets the priors (one per pool mixture) that divide the probabilities,
// and the n-gram model whose unigrams score the words.
int SetCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *dn, *lmn = nullptr, *mm = nullptr, *hl = nullptr;
    MxMatrix *prior = Mx_create();
    int code = TCL_ERROR;
    prior->text = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "decoderob %s -prior %s -lm %s -maxmodel %s -hl %s", &dn, &prior->text,
                       &lmn, &mm, &hl) == TCL_OK) {
        DecoderTree *d = getDecoder(interp, dn);
        code = d ? TCL_OK : TCL_ERROR;
        if (d && prior->text) {
            code = TCL_ERROR;
            if (Mx_getReal(interp, prior->text, prior) == 0) {
                std::vector<float> p;
                for (int i = 0; i < prior->rows; i++)
                    for (int j = 0; j < prior->cols; j++) p.push_back(prior->real[i][j]);
                GS_Result *r = GS_CreateResult();
                if (Decoder_SetPrior(r, d, p.data(), (int)p.size()))
                    Cmds_LibraryError(interp, r, "");
                else {
                    GS_DeleteResult(r);
                    code = TCL_OK;
                }
            }
        }
        if (d && code == TCL_OK && lmn) {
            ZandorModel *lm = static_cast<ZandorModel *>(Obj_GetData(interp, "zandor/zandor", lmn));
            code = TCL_ERROR;
            if (lm) {
                GS_Result *r = GS_CreateResult();
                Decoder_SetUnigram(r, d, unigrams(d, lm));
                GS_DeleteResult(r);
                code = TCL_OK;
            }
        }
        if (d && code == TCL_OK && mm) code = Obj_GetData(interp, "hmm/maxmodel", mm) ? TCL_OK : TCL_ERROR;
    }
    Mx_destroy(prior);
    return code;
}

// decoder save filename decoderob
// Writes the decoder, with the models it was built over, to one file.
int SaveCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *file, *dn;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "filename %s decoderob %s", &file, &dn)) return TCL_ERROR;
    DecoderTree *d = getDecoder(interp, dn);
    if (!d) return TCL_ERROR;
    GS_Result *r = GS_CreateResult();
    if (Decoder_Save(r, file, d)) return Cmds_LibraryError(interp, r, "");
    GS_DeleteResult(r);
    return TCL_OK;
}

// decoder load filename
// Answers a new decoder read from a file that decoder save wrote.
int LoadCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *file;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "filename %s", &file)) return TCL_ERROR;
    GS_Result *r = GS_CreateResult();
    DecoderTree *d = Decoder_Load(r, file);
    if (!d) return Cmds_LibraryError(interp, r, "");
    GS_DeleteResult(r);
    if (Obj_Create(interp, "decoder/decoder", d) != TCL_OK) {
        delete d;
        return TCL_ERROR;
    }
    return TCL_OK;
}

// decoder configure decoderob ?-statebeam ?F?? ... ?-heapsize ?N??
// Answers option and value for the options named without a value (all
// thirteen when none is named), then stores the values given.
int ConfigureCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *dn;
    int named[13], given[13];
    float f[9];
    int iv[4];
    if (Cmds_ParseArgs(interp, 2, argc, argv,
                       "decoderob %s -statebeam %n !f -wordendbeam %n !f -posterior %n !f -shortpen %n !f "
                       "-longpen %n !f -crossword %n !f -grammarscale %n !f -garbage %n !i -likelihoodscale %n !f "
                       "-active %n !f -ngram %n !i -nstate %n !i -heapsize %n !i",
                       &dn, &named[0], &f[0], &given[0], &named[1], &f[1], &given[1], &named[2], &f[2], &given[2],
                       &named[3], &f[3], &given[3], &named[4], &f[4], &given[4], &named[5], &f[5], &given[5],
                       &named[6], &f[6], &given[6], &named[7], &iv[0], &given[7], &named[8], &f[7], &given[8],
                       &named[9], &f[8], &given[9], &named[10], &iv[1], &given[10], &named[11], &iv[2], &given[11],
                       &named[12], &iv[3], &given[12]))
        return TCL_ERROR;
    DecoderTree *d = getDecoder(interp, dn);
    if (!d) return TCL_ERROR;
    // Option order of the template; the report runs in its own order.
    const char *opts[13] = {"-statebeam", "-wordendbeam", "-posterior",       "-shortpen", "-longpen",
                            "-crossword", "-grammarscale", "-garbage",        "-likelihoodscale",
                            "-active",    "-ngram",        "-nstate",         "-heapsize"};
    float *floats[13] = {&d->stateBeam, &d->wordEndBeam, &d->posterior, &d->shortPen, &d->longPen,
                         &d->crossWord, &d->grammarScale, nullptr,       &d->likelihoodScale,
                         &d->active,    nullptr,          nullptr,       nullptr};
    int32_t *ints[13] = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &d->garbage, nullptr,
                         nullptr, &d->ngram, &d->nstate, &d->heapSize};
    const float *fv[13] = {&f[0], &f[1], &f[2], &f[3], &f[4], &f[5], &f[6], nullptr, &f[7], &f[8],
                           nullptr, nullptr, nullptr};
    const int *ivp[13] = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &iv[0],
                          nullptr, nullptr, &iv[1],  &iv[2],  &iv[3]};
    bool none = true;
    for (int i = 0; i < 13; i++) none = none && !named[i];
    Tcl_Obj *out = Tcl_NewListObj(0, nullptr);
    const int order[13] = {0, 1, 2, 3, 4, 5, 6, 8, 7, 9, 10, 11, 12};
    for (int k = 0; k < 13; k++) {
        int i = order[k];
        if (!(none || (named[i] && !given[i]))) continue;
        char buf[64];
        if (floats[i]) snprintf(buf, sizeof buf, "%f", *floats[i]);
        else snprintf(buf, sizeof buf, "%d", *ints[i]);
        Tcl_ListObjAppendElement(nullptr, out, Tcl_NewStringObj(opts[i], -1));
        Tcl_ListObjAppendElement(nullptr, out, Tcl_NewStringObj(buf, -1));
    }
    for (int i = 0; i < 13; i++)
        if (given[i]) {
            if (floats[i]) *floats[i] = *fv[i];
            else *ints[i] = *ivp[i];
        }
    // Word scores derive from their base scores, so a repeated configure
    // gives the same scores.
    if (given[5] && given[6]) Decoder_Rescale(d);
    d->likelihoodFactor = static_cast<float>(0.5 * 0.6931471805599453 * d->likelihoodScale);
    Tcl_SetObjResult(interp, out);
    return TCL_OK;
}

// decoder reset decoderob
// Starts a new utterance.
int ResetCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *dn;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "decoderob %s", &dn)) return TCL_ERROR;
    DecoderTree *d = getDecoder(interp, dn);
    if (!d) return TCL_ERROR;
    Decoder_Reset(d);
    return TCL_OK;
}

// decoder update decoderob probob ?-peak M? ?-flush?
// Pipes frames of probabilities (rows) through the decoder; with -peak a
// frame whose peak is 0 is left out.
int UpdateCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *dn;
    int flush = 0;
    MxMatrix *p = Mx_create(), *k = Mx_create();
    k->text = nullptr;
    int code = TCL_ERROR;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "decoderob %s probob %s -peak %s -flush %n", &dn, &p->text, &k->text,
                       &flush) == TCL_OK) {
        DecoderTree *d = getDecoder(interp, dn);
        if (d && Mx_getReal(interp, p->text, p) == 0 && (!k->text || Mx_getReal(interp, k->text, k) == 0)) {
            if (k->text && k->rows * k->cols != p->rows) {
                fail(interp, "Decoder_updateCmd[0]: Peak object does not match probabilities.");
            } else {
                std::vector<float> peaks;
                if (k->text)
                    for (int i = 0; i < k->rows; i++)
                        for (int j = 0; j < k->cols; j++) peaks.push_back(k->real[i][j]);
                GS_Result *r = GS_CreateResult();
                if (Decoder_Pipe(r, d, p->real, p->rows, p->cols, k->text ? peaks.data() : nullptr))
                    Cmds_LibraryError(interp, r, "");
                else {
                    GS_DeleteResult(r);
                    code = TCL_OK;
                }
            }
        }
    }
    Mx_destroy(k);
    Mx_destroy(p);
    return code;
}

// decoder lattice decoderob
// Answers a new lattice holding the word ends so far.
int LatticeCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *dn;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "decoderob %s", &dn)) return TCL_ERROR;
    DecoderTree *d = getDecoder(interp, dn);
    if (!d) return TCL_ERROR;
    SevrinLattice *l = Decoder_Lattice(d);
    if (Obj_Create(interp, "decoder/lattice", l) != TCL_OK) {
        delete l;
        return TCL_ERROR;
    }
    return TCL_OK;
}

// decoder getbest decoderob
// Answers {score list}: the best word string so far as a segment list.
int GetBestCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *dn;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "decoderob %s", &dn)) return TCL_ERROR;
    DecoderTree *d = getDecoder(interp, dn);
    if (!d) return TCL_ERROR;
    GS_Result *r = GS_CreateResult();
    HalbrinList *l = Decoder_GetBest(r, d);
    GS_DeleteResult(r);
    if (!l) return fail(interp, "No more results");
    char buf[64];
    snprintf(buf, sizeof buf, "%f", l->score);
    if (Obj_Create(interp, "halbrin", l) != TCL_OK) {
        nukeHalbrin(l);
        return TCL_ERROR;
    }
    Tcl_Obj *out = Tcl_NewListObj(0, nullptr);
    Tcl_ListObjAppendElement(nullptr, out, Tcl_NewStringObj(buf, -1));
    Tcl_ListObjAppendElement(nullptr, out, Tcl_GetObjResult(interp));
    Tcl_SetObjResult(interp, out);
    return TCL_OK;
}

// decoder info decoderob
// Writes the decoder's words, frames and word ends to standard error.
int InfoCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *dn;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "decoderob %s", &dn)) return TCL_ERROR;
    DecoderTree *d = getDecoder(interp, dn);
    if (!d) return TCL_ERROR;
    fprintf(stderr, "%s\n", Decoder_Info(d).c_str());
    return TCL_OK;
}

// decoder unigram decoderob lm
// Scores the words by the n-gram model's unigrams.
int UnigramCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *dn, *ln;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "decoderob %s lm %s", &dn, &ln)) return TCL_ERROR;
    DecoderTree *d = getDecoder(interp, dn);
    ZandorModel *lm = d ? static_cast<ZandorModel *>(Obj_GetData(interp, "zandor/zandor", ln)) : nullptr;
    if (!lm) return TCL_ERROR;
    GS_Result *r = GS_CreateResult();
    Decoder_SetUnigram(r, d, unigrams(d, lm));
    GS_DeleteResult(r);
    return TCL_OK;
}

// lattice getbest decoderob latticeob
// Answers the lattice's next best word string as a segment list; the
// lattice keeps its own place, so two lattices can be read in turn.
int LatticeGetBestCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *dn, *ln;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "decoderob %s latticeob %s", &dn, &ln)) return TCL_ERROR;
    DecoderTree *d = getDecoder(interp, dn);
    SevrinLattice *l = d ? static_cast<SevrinLattice *>(Obj_GetData(interp, "decoder/lattice", ln)) : nullptr;
    if (!l) return TCL_ERROR;
    HalbrinList *out = Decoder_LatticeNext(d, l);
    if (!out) return fail(interp, "No more results");
    if (Obj_Create(interp, "halbrin", out) != TCL_OK) {
        nukeHalbrin(out);
        return TCL_ERROR;
    }
    return TCL_OK;
}

// lattice load filename field
// Answers a new lattice read from a file of lattice save, each word end
// scored by the named column.
int LatticeLoadCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *file, *field;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "filename %s field %s", &file, &field)) return TCL_ERROR;
    GS_Result *r = GS_CreateResult();
    SevrinLattice *l = Decoder_LatticeLoad(r, file, field);
    if (!l) return Cmds_LibraryError(interp, r, "");
    GS_DeleteResult(r);
    if (Obj_Create(interp, "decoder/lattice", l) != TCL_OK) {
        delete l;
        return TCL_ERROR;
    }
    return TCL_OK;
}

// lattice save filename latticeob
int LatticeSaveCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *file, *ln;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "filename %s latticeob %s", &file, &ln)) return TCL_ERROR;
    SevrinLattice *l = static_cast<SevrinLattice *>(Obj_GetData(interp, "decoder/lattice", ln));
    if (!l) return TCL_ERROR;
    GS_Result *r = GS_CreateResult();
    if (Decoder_LatticeSave(r, file, l)) return Cmds_LibraryError(interp, r, "");
    GS_DeleteResult(r);
    return TCL_OK;
}

const SubCmdEntry kLattice[] = {
    {"load", LatticeLoadCmd}, {"save", LatticeSaveCmd}, {"getbest", LatticeGetBestCmd}, {nullptr, nullptr}};

const SubCmdEntry kDecoder[] = {{"build", BuildCmd},     {"set", SetCmd},         {"save", SaveCmd},
                                {"load", LoadCmd},       {"configure", ConfigureCmd},
                                {"reset", ResetCmd},     {"update", UpdateCmd},   {"lattice", LatticeCmd},
                                {"getbest", GetBestCmd}, {"info", InfoCmd},       {"unigram", UnigramCmd},
                                {nullptr, nullptr}};

// A safe interpreter gets no command that reads or writes a file.
const char *const kFileCmds[] = {"load", "save", nullptr};

int init(Tcl_Interp *interp, bool safe) {
    int code = Tcl_PkgProvide(interp, "Decoder", "1.0");
    if (code != TCL_OK) return code;
    for (const CntrType &t : kTypes) Cntr_RegisterType(&t);
    Cntr_RegisterType(Halbrin_Type());
    const char *const *leaveOut = safe ? kFileCmds : nullptr;
    Cmds_CreateSwitchCmd(interp, "decoder", nullptr, nullptr);
    Cmds_CreateSubCmdsExcept(interp, "decoder", kDecoder, leaveOut);
    Cmds_CreateSwitchCmd(interp, "lattice", nullptr, nullptr);
    Cmds_CreateSubCmdsExcept(interp, "lattice", kLattice, leaveOut);
    return Obj_Init(interp) ? TCL_ERROR : TCL_OK;
}

}  // namespace

extern "C" {

int Decoder_Init(Tcl_Interp *interp) { return init(interp, false); }

int Decoder_SafeInit(Tcl_Interp *interp) { return init(interp, true); }

}  // extern "C"
