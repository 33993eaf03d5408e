// The `recognizer`, `word` and `grammar` commands: probability-name tables
// ("probname"), word graphs ("word") and grammars ("grammar").
#include <tcl.h>

#include <string>
#include <vector>

#include "cmds.h"
#include "container.h"
#include "obj.h"
#include "result.h"
#include "word.h"

namespace {

void namesFree(void *r) { freeNames(static_cast<ProbNames *>(r)); }
void wordFree(void *r) { freeWord(static_cast<WordGraph *>(r)); }
void grammarFree(void *r) { freeGrammar(static_cast<WordGrammar *>(r)); }

const CntrType kNamesType = {"probname", "probname", nullptr, namesFree, nullptr, nullptr, nullptr, nullptr};
const CntrType kWordType = {"word", "word", nullptr, wordFree, nullptr, nullptr, nullptr, nullptr};
const CntrType kGrammarType = {"grammar", "grammar", nullptr, grammarFree, nullptr, nullptr, nullptr, nullptr};

int fail(Tcl_Interp *interp, const std::string &text) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj(text.c_str(), -1));
    return TCL_ERROR;
}

// A GS_Result for one command, deleted on every path.
struct Result {
    GS_Result *r = GS_CreateResult();
    ~Result() { GS_DeleteResult(r); }
    std::string text() const { return r->text ? r->text : ""; }
};

// Tcl_SplitList with the list freed on every path.
struct List {
    int n = 0;
    const char **v = nullptr;
    ~List() {
        if (v) Tcl_Free(reinterpret_cast<char *>(v));
    }
    int split(Tcl_Interp *interp, const char *text) { return Tcl_SplitList(interp, text, &n, &v); }
};

// Registers record as a new object and appends its name to names; frees
// it with release when the registry refuses it.
template <class T>
int addObject(Tcl_Interp *interp, const char *type, T *record, void (*release)(T *), Tcl_Obj *names) {
    if (Obj_Create(interp, type, record) != TCL_OK) {
        release(record);
        return TCL_ERROR;
    }
    Tcl_ListObjAppendElement(nullptr, names, Tcl_GetObjResult(interp));
    return TCL_OK;
}

// recognizer describe namestring
// A probability-name table of the recogniser's outputs, in output order.
int DescribeCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *text = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "namestring %s", &text)) return TCL_ERROR;
    Result r;
    ProbNames *p = buildNames(r.r, text);
    if (!p) return fail(interp, r.text());
    if (Obj_Create(interp, "probname", p) != TCL_OK) {
        freeNames(p);
        return TCL_ERROR;
    }
    return TCL_OK;
}

// recognizer info probnameob
// The table's entry names in order.
int RecognizerInfoCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "probnameob %s", &name)) return TCL_ERROR;
    ProbNames *p = static_cast<ProbNames *>(Obj_GetData(interp, "probname", name));
    if (!p) return TCL_ERROR;
    Tcl_Obj *out = Tcl_NewListObj(0, nullptr);
    for (int i = 0; i < p->count; i++)
        Tcl_ListObjAppendElement(nullptr, out, Tcl_NewStringObj(p->entries[i].name, -1));
    Tcl_SetObjResult(interp, out);
    return TCL_OK;
}

// word create pronunlist ?-pau?
// One word graph per {name pronunciation} pair, " [.pau]" appended with
// -pau; answers the new objects' names.
int CreateCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *list = nullptr;
    int pau = 0;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "pronunlist %s -pau %n", &list, &pau)) return TCL_ERROR;
    List words;
    if (words.split(interp, list) != TCL_OK) return TCL_ERROR;
    Tcl_Obj *names = Tcl_NewListObj(0, nullptr);
    Tcl_IncrRefCount(names);
    int code = TCL_OK;
    for (int i = 0; i < words.n && code == TCL_OK; i++) {
        List pair;
        if (pair.split(interp, words.v[i]) != TCL_OK || pair.n != 2) {
            code = fail(interp, "pronunciation specication error");
            break;
        }
        // A string, not a fixed buffer: long pronunciations are not cut.
        std::string pron = pair.v[1];
        if (pau) pron += " [.pau]";
        Result r;
        WordGraph *g = buildWord(r.r, pron.c_str(), pair.v[0]);
        if (!g) {
            code = fail(interp, std::string("word: (") + pair.v[0] + ") " + r.text());
            break;
        }
        code = addObject(interp, "word", g, freeWord, names);
    }
    if (code == TCL_OK) Tcl_SetObjResult(interp, names);
    Tcl_DecrRefCount(names);
    return code;
}

// word context wordlist probnameob
// New word graphs whose nodes carry the table's entries; answers their
// names in input order.
int ContextCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *list = nullptr, *pname = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "wordlist %s probnameob %s", &list, &pname)) return TCL_ERROR;
    ProbNames *p = static_cast<ProbNames *>(Obj_GetData(interp, "probname", pname));
    if (!p) return TCL_ERROR;
    List words;
    if (words.split(interp, list) != TCL_OK) return TCL_ERROR;
    if (words.n == 0) return fail(interp, "empty word list");
    Tcl_Obj *names = Tcl_NewListObj(0, nullptr);
    Tcl_IncrRefCount(names);
    int code = TCL_OK;
    for (int i = 0; i < words.n && code == TCL_OK; i++) {
        WordGraph *w = static_cast<WordGraph *>(Obj_GetData(interp, "word", words.v[i]));
        if (!w) {
            code = TCL_ERROR;
            break;
        }
        Result r;
        WordGraph *x = expandWord(r.r, w, p);
        code = x ? addObject(interp, "word", x, freeWord, names) : fail(interp, r.text());
    }
    if (code == TCL_OK) Tcl_SetObjResult(interp, names);
    Tcl_DecrRefCount(names);
    return code;
}

// Depth-first walk of a word graph from node n: at final nodes the labels
// on the stack make one path. A node already on the stack means a cycle.
bool walk(const WordGraph *g, const ProbNames *p, int n, std::vector<int> &stack, Tcl_Obj *out) {
    for (int s : stack)
        if (s == n) return false;
    stack.push_back(n);
    const WordNode &node = g->nodes[n];
    if (node.kind == WORD_FINAL || node.kind == WORD_INITFINAL) {
        Tcl_Obj *path = Tcl_NewListObj(0, nullptr);
        for (int k : stack) {
            const WordNode &m = g->nodes[k];
            const char *label = p && m.probIndex >= 0 && m.probIndex < p->count ? p->entries[m.probIndex].name : m.name;
            Tcl_ListObjAppendElement(nullptr, path, Tcl_NewStringObj(label, -1));
        }
        Tcl_ListObjAppendElement(nullptr, out, path);
    }
    for (int k = 0; k < node.numSuccessors; k++) {
        int s = node.successors[k];
        if (s < 0 || s >= g->numNodes || g->nodes[s].kind == WORD_NULL) continue;
        if (!walk(g, p, s, stack, out)) return false;
    }
    stack.pop_back();
    return true;
}

// word pronun wordob ?namesob?
// Every pronunciation of the graph, one list of labels each; with a
// table, the labels are its entry names.
int PronunCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr, *pname = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "wordob %s namesob ?s", &name, &pname)) return TCL_ERROR;
    WordGraph *g = static_cast<WordGraph *>(Obj_GetData(interp, "word", name));
    if (!g) return TCL_ERROR;
    ProbNames *p = nullptr;
    if (pname && !(p = static_cast<ProbNames *>(Obj_GetData(interp, "probname", pname)))) return TCL_ERROR;
    Tcl_Obj *out = Tcl_NewListObj(0, nullptr);
    for (int i = 0; i < g->numNodes; i++) {
        if (g->nodes[i].kind != WORD_INITIAL && g->nodes[i].kind != WORD_INITFINAL) continue;
        std::vector<int> stack;
        if (!walk(g, p, i, stack, out)) {
            Tcl_DecrRefCount(out);
            return fail(interp, std::string("word (") + g->name + ") has a cycle: its pronunciations cannot be listed");
        }
    }
    Tcl_SetObjResult(interp, out);
    return TCL_OK;
}

// word info wordob ?-name? ?-numnodes? ?-numinit? ?-numfinal?
// Key/value pairs in that order; all four when none is named.
int InfoCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr;
    int fName = 0, fNodes = 0, fInit = 0, fFinal = 0;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "wordob %s -name %n -numnodes %n -numinit %n -numfinal %n", &name,
                       &fName, &fNodes, &fInit, &fFinal))
        return TCL_ERROR;
    WordGraph *g = static_cast<WordGraph *>(Obj_GetData(interp, "word", name));
    if (!g) return TCL_ERROR;
    if (!(fName || fNodes || fInit || fFinal)) fName = fNodes = fInit = fFinal = 1;
    Tcl_Obj *out = Tcl_NewListObj(0, nullptr);
    auto add = [&](const char *key, Tcl_Obj *v) {
        Tcl_ListObjAppendElement(nullptr, out, Tcl_NewStringObj(key, -1));
        Tcl_ListObjAppendElement(nullptr, out, v);
    };
    if (fName) add("name", Tcl_NewStringObj(g->name, -1));
    if (fNodes) add("numnodes", Tcl_NewIntObj(g->numNodes));
    if (fInit) add("numinit", Tcl_NewIntObj(g->numInit));
    if (fFinal) add("numfinal", Tcl_NewIntObj(g->numFinal));
    Tcl_SetObjResult(interp, out);
    return TCL_OK;
}

int grammars(Tcl_Interp *interp, int argc, const char *argv[],
             WordGrammar *(*build)(GS_Result *, const char *, const char *)) {
    const char *list = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "grammarlist %s", &list)) return TCL_ERROR;
    List items;
    if (items.split(interp, list) != TCL_OK) return TCL_ERROR;
    Tcl_Obj *names = Tcl_NewListObj(0, nullptr);
    Tcl_IncrRefCount(names);
    int code = TCL_OK;
    for (int i = 0; i < items.n && code == TCL_OK; i++) {
        List pair;
        if (pair.split(interp, items.v[i]) != TCL_OK || pair.n != 2) {
            code = fail(interp, "grammar specification error: needs a list of names and associated grammars");
            break;
        }
        Result r;
        WordGrammar *g = build(r.r, pair.v[1], pair.v[0]);
        code = g ? addObject(interp, "grammar", g, freeGrammar, names) : fail(interp, r.text());
    }
    if (code == TCL_OK) Tcl_SetObjResult(interp, names);
    Tcl_DecrRefCount(names);
    return code;
}

// grammar build grammarlist
// One grammar per {name text} pair; answers the new objects' names.
int BuildCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    return grammars(interp, argc, argv, buildGrammar);
}

// grammar byhand grammarlist
// As build, from "from to word ?prob?" / "initial s" / "final s" lines.
int ByHandCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    return grammars(interp, argc, argv, buildGrammarByHand);
}

const SubCmdEntry kRecognizer[] = {{"describe", DescribeCmd}, {"info", RecognizerInfoCmd}, {nullptr, nullptr}};
const SubCmdEntry kWord[] = {
    {"create", CreateCmd}, {"context", ContextCmd}, {"pronun", PronunCmd}, {"info", InfoCmd}, {nullptr, nullptr}};
const SubCmdEntry kGrammar[] = {{"build", BuildCmd}, {"byhand", ByHandCmd}, {nullptr, nullptr}};

} // namespace

extern "C" {

int Word_Init(Tcl_Interp *interp) {
    int code = Tcl_PkgProvide(interp, "Word", "1.0");
    if (code != TCL_OK) return code;
    Cntr_RegisterType(&kNamesType);
    Cntr_RegisterType(&kWordType);
    Cntr_RegisterType(&kGrammarType);
    Cmds_CreateSwitchCmd(interp, "recognizer", nullptr, nullptr);
    Cmds_CreateSubCmds(interp, "recognizer", kRecognizer);
    Cmds_CreateSwitchCmd(interp, "word", nullptr, nullptr);
    Cmds_CreateSubCmds(interp, "word", kWord);
    Cmds_CreateSwitchCmd(interp, "grammar", nullptr, nullptr);
    Cmds_CreateSubCmds(interp, "grammar", kGrammar);
    return Obj_Init(interp);
}

int Word_SafeInit(Tcl_Interp *interp) { return Word_Init(interp); }

} // extern "C"
