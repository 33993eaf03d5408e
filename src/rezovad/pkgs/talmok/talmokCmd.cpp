// The `word`, `grammar` and `triphone` commands of the word-hypothesis
// package: word graphs ("talmok/word") bound to recognizer descriptions,
// grammars ("talmok/grammar") and triphone tables ("talmok/triphone") for
// the HMM searches.
#include <tcl.h>

#include <cstring>
#include <string>
#include <vector>

#include "cmds.h"
#include "container.h"
#include "obj.h"
#include "result.h"
#include "talmok.h"
#include "word.h"

namespace {

void wordFree(void *r) { freeWord(static_cast<WordGraph *>(r)); }
void grammarFree(void *r) { freeGrammar(static_cast<WordGrammar *>(r)); }
void triphoneFree(void *r) { delete static_cast<TalmokTriphone *>(r); }

const CntrType kTypes[] = {
    {"talmok/word", "word", nullptr, wordFree, nullptr, nullptr, nullptr, nullptr},
    {"talmok/grammar", "grammar", nullptr, grammarFree, nullptr, nullptr, nullptr, nullptr},
    {"talmok/triphone", "triphone", nullptr, triphoneFree, nullptr, nullptr, nullptr, nullptr},
};

int fail(Tcl_Interp *interp, const std::string &text) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj(text.c_str(), -1));
    return TCL_ERROR;
}

struct Split {
    int n = 0;
    const char **v = nullptr;
    ~Split() {
        if (v) Tcl_Free(reinterpret_cast<char *>(v));
    }
    bool of(Tcl_Interp *interp, const char *list) { return Tcl_SplitList(interp, list, &n, &v) == TCL_OK; }
};

// Registers each record in turn, appending its name to out; a refused one
// is released with free and ends the command.
bool keep(Tcl_Interp *interp, const char *type, void *record, void (*release)(void *), Tcl_Obj *out) {
    if (Obj_Create(interp, type, record) != TCL_OK) {
        release(record);
        return false;
    }
    Tcl_ListObjAppendElement(nullptr, out, Tcl_GetObjResult(interp));
    return true;
}

int finish(Tcl_Interp *interp, Tcl_Obj *out, bool ok) {
    if (!ok) {
        Tcl_DecrRefCount(out);
        return TCL_ERROR;
    }
    Tcl_SetObjResult(interp, out);
    return TCL_OK;
}

// Builds a record of each {name text} pair of list with make, registering
// each; a pair of another shape fails with badPair, a refused text with
// what named(name, library text) says.
template <class T, class Make, class Named>
int eachPair(Tcl_Interp *interp, const char *list, const char *badPair, const char *type, void (*release)(void *),
             Make make, Named named) {
    Split items;
    if (!items.of(interp, list)) return TCL_ERROR;
    Tcl_Obj *out = Tcl_NewListObj(0, nullptr);
    Tcl_IncrRefCount(out);
    bool ok = true;
    for (int i = 0; i < items.n && ok; i++) {
        Split pair;
        if (!pair.of(interp, items.v[i]) || pair.n != 2) {
            fail(interp, badPair);
            ok = false;
            break;
        }
        GS_Result *r = GS_CreateResult();
        T *record = make(r, pair.v[1], pair.v[0]);
        if (!record) fail(interp, named(pair.v[0], r->text ? r->text : ""));
        GS_DeleteResult(r);
        ok = record && keep(interp, type, record, release, out);
    }
    int code = finish(interp, out, ok);
    if (ok) Tcl_DecrRefCount(out);
    return code;
}

// word create pronunlist
// Answers new word graphs, one per {name pronunciation} pair.
int WordCreateCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *list;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "pronunlist %s", &list)) return TCL_ERROR;
    return eachPair<WordGraph>(interp, list, "pronunciation specication error", "talmok/word", wordFree, buildWord,
                               [](const char *name, const std::string &why) {
                                   return std::string("word: (") + name + ") " + why;
                               });
}

// Word graphs named by a list; false (with the message) at the first
// missing one or when the list is empty.
bool words(Tcl_Interp *interp, const char *list, const char *empty, std::vector<WordGraph *> &out) {
    Split items;
    if (!items.of(interp, list)) return false;
    if (items.n == 0) {
        fail(interp, empty);
        return false;
    }
    for (int i = 0; i < items.n; i++) {
        WordGraph *w = static_cast<WordGraph *>(Obj_GetData(interp, "talmok/word", items.v[i]));
        if (!w) return false;
        out.push_back(w);
    }
    return true;
}

// Runs make over each word, registering the new graphs.
template <class F>
int eachWord(Tcl_Interp *interp, const std::vector<WordGraph *> &in, F make) {
    Tcl_Obj *out = Tcl_NewListObj(0, nullptr);
    Tcl_IncrRefCount(out);
    bool ok = true;
    for (size_t i = 0; i < in.size() && ok; i++) {
        GS_Result *r = GS_CreateResult();
        WordGraph *w = make(r, in[i]);
        if (!w) fail(interp, r->text ? r->text : "");
        GS_DeleteResult(r);
        ok = w && keep(interp, "talmok/word", w, wordFree, out);
    }
    int code = finish(interp, out, ok);
    if (ok) Tcl_DecrRefCount(out);
    return code;
}

// word context wordlist descriptionob ?-silence NAME?
// Answers the words with each phone named by its unit in the description.
int WordContextCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *list, *dn, *silence = ".pau";
    if (Cmds_ParseArgs(interp, 2, argc, argv, "wordlist %s descriptionob %s -silence %s", &list, &dn, &silence))
        return TCL_ERROR;
    HmmDescription *d = static_cast<HmmDescription *>(Obj_GetData(interp, "hmm/description", dn));
    std::vector<WordGraph *> in;
    if (!d || !words(interp, list, "empty word list", in)) return TCL_ERROR;
    return eachWord(interp, in, [&](GS_Result *r, WordGraph *w) { return Talmok_ContextWord(r, w, d, silence); });
}

// word reverse wordlist
// Answers the words with every link turned round.
int WordReverseCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *list;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "wordlist %s", &list)) return TCL_ERROR;
    std::vector<WordGraph *> in;
    if (!words(interp, list, "empty word list", in)) return TCL_ERROR;
    return eachWord(interp, in, [](GS_Result *, WordGraph *w) { return Talmok_ReverseWord(w); });
}

// word pronun wordob ?descriptionob?
// Answers the pronunciations the graph holds; with a description, a node
// bound to a model is shown by the model's entry name.
int WordPronunCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *wn, *dn = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "wordob %s descriptionob ?s", &wn, &dn)) return TCL_ERROR;
    WordGraph *w = static_cast<WordGraph *>(Obj_GetData(interp, "talmok/word", wn));
    if (!w) return TCL_ERROR;
    HmmDescription *d = nullptr;
    if (dn && !(d = static_cast<HmmDescription *>(Obj_GetData(interp, "hmm/description", dn)))) return TCL_ERROR;
    std::vector<std::string> labels;
    for (int i = 0; i < w->numNodes; i++) {
        std::string l = w->nodes[i].name ? w->nodes[i].name : "";
        int m = w->nodes[i].probIndex;
        if (d && m >= 0)
            for (int e = 0; e < d->numEntries; e++)
                if (d->entries[e].hmmIndex == m) {
                    l = d->entries[e].name ? d->entries[e].name : l;
                    break;
                }
        labels.push_back(l);
    }
    Tcl_Obj *out = Tcl_NewListObj(0, nullptr);
    for (const std::string &p : Talmok_Pronunciations(w, labels))
        Tcl_ListObjAppendElement(nullptr, out, Tcl_NewStringObj(p.c_str(), -1));
    Tcl_SetObjResult(interp, out);
    return TCL_OK;
}

// word info wordob ?-name? ?-numnodes? ?-numinit? ?-numfinal?
// Answers the asked keys and values (all four when none).
int WordInfoCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *wn;
    int f[4];
    if (Cmds_ParseArgs(interp, 2, argc, argv, "wordob %s -name %n -numnodes %n -numinit %n -numfinal %n", &wn, &f[0],
                       &f[1], &f[2], &f[3]))
        return TCL_ERROR;
    WordGraph *w = static_cast<WordGraph *>(Obj_GetData(interp, "talmok/word", wn));
    if (!w) return TCL_ERROR;
    if (!(f[0] || f[1] || f[2] || f[3])) f[0] = f[1] = f[2] = f[3] = 1;
    Tcl_Obj *out = Tcl_NewListObj(0, nullptr);
    const char *keys[4] = {"name", "numnodes", "numinit", "numfinal"};
    int values[4] = {0, w->numNodes, w->numInit, w->numFinal};
    for (int i = 0; i < 4; i++) {
        if (!f[i]) continue;
        Tcl_ListObjAppendElement(nullptr, out, Tcl_NewStringObj(keys[i], -1));
        Tcl_ListObjAppendElement(nullptr, out, i == 0 ? Tcl_NewStringObj(w->name ? w->name : "", -1)
                                                      : Tcl_NewStringObj(std::to_string(values[i]).c_str(), -1));
    }
    Tcl_SetObjResult(interp, out);
    return TCL_OK;
}

// grammar create grammarlist
// Answers new grammars, one per {name grammar-text} pair.
int GrammarCreateCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *list;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "grammarlist %s", &list)) return TCL_ERROR;
    return eachPair<WordGrammar>(interp, list,
                                 "grammar specification error: needs a list of names and associated grammars",
                                 "talmok/grammar", grammarFree, buildGrammar,
                                 [](const char *, const std::string &why) { return why; });
}

// grammar reverse grammarlist
// Answers the grammars with every link turned round.
int GrammarReverseCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *list;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "grammarlist %s", &list)) return TCL_ERROR;
    Split items;
    if (!items.of(interp, list)) return TCL_ERROR;
    if (items.n == 0) return fail(interp, "empty grammar list");
    Tcl_Obj *out = Tcl_NewListObj(0, nullptr);
    Tcl_IncrRefCount(out);
    bool ok = true;
    for (int i = 0; i < items.n && ok; i++) {
        WordGrammar *g = static_cast<WordGrammar *>(Obj_GetData(interp, "talmok/grammar", items.v[i]));
        ok = g && keep(interp, "talmok/grammar", Talmok_ReverseGrammar(g), grammarFree, out);
    }
    int code = finish(interp, out, ok);
    if (ok) Tcl_DecrRefCount(out);
    return code;
}

// triphone load filename
// Answers a new triphone table read from "l-c+r UNIT" lines.
int TriphoneLoadCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *file;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "filename %s", &file)) return TCL_ERROR;
    GS_Result *r = GS_CreateResult();
    TalmokTriphone *t = Talmok_LoadTriphone(r, file);
    std::string why = r->text ? r->text : "";
    GS_DeleteResult(r);
    if (!t) return fail(interp, why);
    if (Obj_Create(interp, "talmok/triphone", t) != TCL_OK) {
        delete t;
        return TCL_ERROR;
    }
    return TCL_OK;
}

// triphone word wordlist triphoneob
// Answers the words with each phone renamed by its triphone unit.
int TriphoneWordCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *list, *tn;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "wordlist %s triphoneob %s", &list, &tn)) return TCL_ERROR;
    TalmokTriphone *t = static_cast<TalmokTriphone *>(Obj_GetData(interp, "talmok/triphone", tn));
    std::vector<WordGraph *> in;
    if (!t || !words(interp, list, "empty word list.", in)) return TCL_ERROR;
    return eachWord(interp, in, [&](GS_Result *r, WordGraph *w) { return Talmok_TriphoneWord(r, w, t); });
}

const SubCmdEntry kWord[] = {{"create", WordCreateCmd}, {"context", WordContextCmd}, {"pronun", WordPronunCmd},
                             {"info", WordInfoCmd},     {"reverse", WordReverseCmd}, {nullptr, nullptr}};
const SubCmdEntry kGrammar[] = {{"create", GrammarCreateCmd}, {"reverse", GrammarReverseCmd}, {nullptr, nullptr}};
const SubCmdEntry kTriphone[] = {{"load", TriphoneLoadCmd}, {"word", TriphoneWordCmd}, {nullptr, nullptr}};

int init(Tcl_Interp *interp, bool safe) {
    int code = Tcl_PkgProvide(interp, "Talmok", "1.0");
    if (code != TCL_OK) return code;
    for (const CntrType &t : kTypes) Cntr_RegisterType(&t);
    Cmds_CreateSwitchCmd(interp, "word", nullptr, nullptr);
    Cmds_CreateSubCmds(interp, "word", kWord);
    Cmds_CreateSwitchCmd(interp, "grammar", nullptr, nullptr);
    Cmds_CreateSubCmds(interp, "grammar", kGrammar);
    Cmds_CreateSwitchCmd(interp, "triphone", nullptr, nullptr);
    static const char *const kFileCmds[] = {"load", nullptr};
    Cmds_CreateSubCmdsExcept(interp, "triphone", kTriphone, safe ? kFileCmds : nullptr);
    if (Obj_Init(interp)) return TCL_ERROR;
    GS_Result *r = GS_CreateResult();
    const CntrType *type = nullptr;
    int bad = Cntr_Get(r, "hmm/description", &type);
    std::string why = r->text ? r->text : "";
    GS_DeleteResult(r);
    if (bad) return fail(interp, why);
    return TCL_OK;
}

}  // namespace

extern "C" {

int Talmok_Init(Tcl_Interp *interp) { return init(interp, false); }

int Talmok_SafeInit(Tcl_Interp *interp) { return init(interp, true); }

}  // extern "C"
