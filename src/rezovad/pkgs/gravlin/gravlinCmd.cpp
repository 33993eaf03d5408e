// The `gravlin` command: state networks as "gravlin/gravlin" objects built
// from grammar, lexicon and unit statements.
#include <tcl.h>

#include <cstring>
#include <string>

#include "cmds.h"
#include "container.h"
#include "gravlin.h"
#include "obj.h"
#include "yastro.h"

namespace {

const char *kType = "gravlin/gravlin";

void netFree(void *record) {
    Gravlin_release(static_cast<GravlinNet *>(record));
    DB_FREE(record);
}

void *netClone(const void *record) {
    GravlinNet *copy = static_cast<GravlinNet *>(DB_MALLOC(sizeof(GravlinNet)));
    Gravlin_copy(copy, static_cast<const GravlinNet *>(record));
    return copy;
}

int netLength(GS_Result *, const void *record, size_t *length) {
    *length = Gravlin_packedLength(static_cast<const GravlinNet *>(record));
    return 0;
}

int netPack(GS_Result *, const void *record, unsigned char *buffer) {
    Gravlin_pack(static_cast<const GravlinNet *>(record), buffer);
    return 0;
}

void *netUnpack(GS_Result *r, const unsigned char *buffer, size_t length) {
    GravlinNet *net = static_cast<GravlinNet *>(DB_MALLOC(sizeof(GravlinNet)));
    if (Gravlin_unpack(r, net, buffer, length) == 0) return net;
    DB_FREE(net);
    return nullptr;
}

const CntrType kNetType = {kType, "gravlin", nullptr, netFree, netClone, netLength, netPack, netUnpack};

// The library's messages since the call began become the command's result.
int failWith(Tcl_Interp *interp, const char *fallback) {
    std::string t = Gravlin_errorText();
    while (!t.empty() && (t.back() == '\n' || t.back() == ' ')) t.pop_back();
    if (t.empty()) t = fallback;
    Tcl_SetObjResult(interp, Tcl_NewStringObj(t.c_str(), -1));
    return TCL_ERROR;
}

int failText(Tcl_Interp *interp, const char *text) {
    fputs(text, stderr);
    std::string t = text;
    while (!t.empty() && t.back() == '\n') t.pop_back();
    Tcl_SetObjResult(interp, Tcl_NewStringObj(t.c_str(), -1));
    return TCL_ERROR;
}

// Statements from a list argument: a list of one one-word element names a
// file to read; any other list holds one statement per element.
struct Statements {
    char **lines = nullptr;
    int count = 0;
    std::string file;
    bool fromFile = false;
    ~Statements() { Gravlin_freeStatements(lines, count); }
};

int getStatementLines(Tcl_Interp *interp, const char *arg, Statements &st) {
    int n;
    const char **elems;
    if (Tcl_SplitList(interp, arg, &n, &elems) != TCL_OK) return TCL_ERROR;
    if (n == 0) {
        Tcl_Free((char *)elems);
        Tcl_SetResult(interp, (char *)"no statements given: the list is empty", TCL_STATIC);
        return TCL_ERROR;
    }
    int m;
    const char **inner;
    if (Tcl_SplitList(interp, elems[0], &m, &inner) != TCL_OK) {
        Tcl_Free((char *)elems);
        return TCL_ERROR;
    }
    Tcl_Free((char *)inner);
    if (n == 1 && m == 1) {
        if (Tcl_IsSafe(interp)) {
            Tcl_Free((char *)elems);
            Tcl_SetResult(interp, (char *)"a safe interpreter reads no statement files", TCL_STATIC);
            return TCL_ERROR;
        }
        st.file = elems[0];
        st.fromFile = true;
        Tcl_Free((char *)elems);
        Gravlin_clearError();
        if (Gravlin_readFile(st.file.c_str(), &st.lines, &st.count)) return failWith(interp, "cannot read the file");
        return TCL_OK;
    }
    st.lines = Gravlin_copyStatements(elems, n);
    st.count = n;
    Tcl_Free((char *)elems);
    return TCL_OK;
}

// Lexicon includes read files: refused in a safe interpreter.
int checkIncludes(Tcl_Interp *interp, const Statements &st) {
    if (!Tcl_IsSafe(interp)) return TCL_OK;
    for (int i = 0; i < st.count; i++) {
        const char *p = st.lines[i];
        while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r') p++;
        if (strncmp(p, "lexicon", 7) == 0) {
            Tcl_SetResult(interp, (char *)"a safe interpreter reads no lexicon files", TCL_STATIC);
            return TCL_ERROR;
        }
    }
    return TCL_OK;
}

GravlinNet *getNet(Tcl_Interp *interp, const char *name) {
    return static_cast<GravlinNet *>(Obj_GetData(interp, kType, name));
}

int checkFlags(Tcl_Interp *interp, int collapse, int selfLoops) {
    if (collapse != 0 && collapse != 1) return failText(interp, "Error: collapseIdentical must be {0,1}\n");
    if (selfLoops != 0 && selfLoops != 1) return failText(interp, "Error: selfLoops must be {0,1}\n");
    return TCL_OK;
}

// Runs a change on a copy of the network and keeps it only when it
// succeeds, so that a failure leaves the object as it was.
template <typename F> int changeNet(Tcl_Interp *interp, GravlinNet *net, F change, const char *what) {
    GravlinNet work;
    Gravlin_copy(&work, net);
    Gravlin_clearError();
    int rc = change(&work);
    if (rc == 0) Gravlin_swap(&work, net);
    Gravlin_release(&work);
    if (rc != 0) return failWith(interp, what);
    Tcl_ResetResult(interp);
    return TCL_OK;
}

// gravlin create grammar className ?-startToken T? ?-collapseIdentical 0|1? ?-selfLoops 0|1?
// Builds a network from the statements (or the file they name) and its
// lexicons, starting from T ("$grammar"); answers the new object's name.
int CreateCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *grammar = nullptr, *cls = nullptr, *start = nullptr;
    int collapse = 1, selfLoops = 0;
    if (Cmds_ParseArgs(interp, 2, argc, argv,
                       "grammar %s className %s -startToken %s \t\t\t-collapseIdentical %i -selfLoops %i", &grammar,
                       &cls, &start, &collapse, &selfLoops))
        return TCL_ERROR;
    Statements st;
    if (getStatementLines(interp, grammar, st) || checkIncludes(interp, st)) return TCL_ERROR;
    if (checkFlags(interp, collapse, selfLoops)) return TCL_ERROR;
    GravlinNet *net = static_cast<GravlinNet *>(DB_MALLOC(sizeof(GravlinNet)));
    Gravlin_init(net, st.fromFile ? st.file.c_str() : nullptr, collapse, selfLoops);
    Gravlin_clearError();
    int rc = Gravlin_readAndExpand(st.lines, st.count, net, cls, start ? start : "$grammar");
    // A start token without a rule builds nothing: an empty network would
    // only fail later, far from the cause.
    if (rc != 0) {
        netFree(net);
        return failWith(interp, "cannot build the network");
    }
    if (Obj_Create(interp, kType, net) != TCL_OK) {
        netFree(net);
        return TCL_ERROR;
    }
    return TCL_OK;
}

// gravlin add gravlinOb grammar className ?-collapseIdentical 0|1? ?-selfLoops 0|1?
// Expands further statements into the network; flags left out keep the
// network's values.
int AddCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr, *grammar = nullptr, *cls = nullptr;
    int collapse = -1, selfLoops = -1;
    if (Cmds_ParseArgs(interp, 2, argc, argv,
                       "gravlinOb %s grammar %s className %s \t\t\t-collapseIdentical %i -selfLoops %i", &name,
                       &grammar, &cls, &collapse, &selfLoops))
        return TCL_ERROR;
    GravlinNet *net = getNet(interp, name);
    if (!net) return TCL_ERROR;
    Statements st;
    if (getStatementLines(interp, grammar, st) || checkIncludes(interp, st)) return TCL_ERROR;
    if (collapse == -1) collapse = net->collapseIdentical;
    if (selfLoops == -1) selfLoops = net->selfLoops;
    if (checkFlags(interp, collapse, selfLoops)) return TCL_ERROR;
    if (net->numStates == 0)
        return failText(interp, "Error: the network has no start rule to add to\n");
    return changeNet(interp, net, [&](GravlinNet *w) {
        w->collapseIdentical = collapse;
        w->selfLoops = selfLoops;
        return Gravlin_readAndExpand(st.lines, st.count, w, cls, nullptr);
    }, "cannot add the statements");
}

// gravlin addSpec gravlinOb specification className ?-collapseIdentical 0|1? ?-selfLoops 0|1? ?-format F?
// Rewrites the phoneme units into the context-dependent units of a
// multi-state biphone specification.
int AddSpecCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr, *spec = nullptr, *cls = nullptr, *format = "multistatebiphone";
    int collapse = -1, selfLoops = -1;
    if (Cmds_ParseArgs(interp, 2, argc, argv,
                       "gravlinOb %s specification %s className %s \t\t\t-collapseIdentical %i -selfLoops %i -format %s",
                       &name, &spec, &cls, &collapse, &selfLoops, &format))
        return TCL_ERROR;
    GravlinNet *net = getNet(interp, name);
    if (!net) return TCL_ERROR;
    Statements st;
    if (getStatementLines(interp, spec, st)) return TCL_ERROR;
    if (strcmp(format, "multistatebiphone") != 0)
        return failText(interp, "-format option must be one of {'multistatebiphone'}\n");
    if (collapse == -1) collapse = net->collapseIdentical;
    if (selfLoops == -1) selfLoops = net->selfLoops;
    if (checkFlags(interp, collapse, selfLoops)) return TCL_ERROR;
    return changeNet(interp, net, [&](GravlinNet *w) {
        w->collapseIdentical = collapse;
        w->selfLoops = selfLoops;
        Gravlin_cleanLines(st.lines, st.count, 1);
        return Gravlin_expandSpecMultiStateBiphone(st.lines, st.count, cls, w);
    }, "cannot apply the unit specification");
}

// gravlin prune gravlinOb
// Bypasses null junctions, drops dead units and compacts the states.
int PruneCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "gravlinOb %s", &name)) return TCL_ERROR;
    GravlinNet *net = getNet(interp, name);
    if (!net) return TCL_ERROR;
    return changeNet(interp, net, [](GravlinNet *w) { return Gravlin_prune(w); }, "cannot prune the network");
}

// gravlin specUpdate gravlinOb specification
// Applies settings, categories and durations; every unit must get a
// category.
int SpecUpdateCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr, *spec = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "gravlinOb %s specification %s", &name, &spec)) return TCL_ERROR;
    GravlinNet *net = getNet(interp, name);
    if (!net) return TCL_ERROR;
    Statements st;
    if (getStatementLines(interp, spec, st)) return TCL_ERROR;
    Gravlin_cleanLines(st.lines, st.count, 1);
    return changeNet(interp, net, [&](GravlinNet *w) { return Gravlin_specUpdate(w, st.lines, st.count); },
                     "cannot apply the unit specification");
}

// gravlin writeCDRules parts cdRulesFile
// Writes the statements with substitution classes multiplied out in every
// context rule.
int WriteCDRulesCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *parts = nullptr, *file = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "parts %s cdRulesFile %s", &parts, &file)) return TCL_ERROR;
    Statements st;
    if (getStatementLines(interp, parts, st)) return TCL_ERROR;
    Gravlin_cleanLines(st.lines, st.count, 0);
    Gravlin_clearError();
    if (Gravlin_writeCDRules(st.lines, st.count, file)) return failWith(interp, "cannot write the rules");
    Tcl_ResetResult(interp);
    return TCL_OK;
}

std::string origName(const char *name) {
    char *o;
    Gravlin_origStateName(name ? name : "", &o);
    std::string r = o;
    DB_FREE(o);
    return r;
}

std::string phonemeText(const GravlinNet *net, int i) {
    const GravlinState &s = net->states[i];
    int level = -1;
    for (int l = 0; l < s.numLevels; l++)
        if (strcmp(net->classes[s.levelClasses[l]].name, "phoneme") == 0) level = l;
    if (level < 0 || s.phonemeValue < 0) return "<<N/A>>";
    return origName(net->classes[s.levelClasses[level]].values[s.phonemeValue]);
}

// gravlin info gravlinOb ?-name? ?-numStates? ... ?-stateTransIdx?
// The asked fields in a fixed order; with no option the eleven settings.
int InfoCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr;
    int f[15];
    if (Cmds_ParseArgs(interp, 2, argc, argv,
                       "gravlinOb %s -name %n \t\t-numStates %n -enter %n -exit %n -collapse %n -selfLoops %n "
                       "\t\t-durModel %n -sampFreq %n -frameSize %n -featuresURI %n \t\t-contextURI %n -states %n "
                       "-phnTrans %n -stateTrans %n \t\t-stateTransIdx %n",
                       &name, &f[0], &f[1], &f[2], &f[3], &f[4], &f[5], &f[6], &f[7], &f[8], &f[9], &f[10], &f[11],
                       &f[12], &f[13], &f[14]))
        return TCL_ERROR;
    GravlinNet *net = getNet(interp, name);
    if (!net) return TCL_ERROR;
    bool any = false;
    for (int i = 0; i < 15; i++) any = any || f[i];
    if (!any)
        for (int i = 0; i < 11; i++) f[i] = 1;
    Tcl_Obj *r = Tcl_NewListObj(0, nullptr);
    auto add = [&](Tcl_Obj *o) { Tcl_ListObjAppendElement(nullptr, r, o); };
    auto str = [](const std::string &s) { return Tcl_NewStringObj(s.c_str(), -1); };
    if (f[0]) add(str(net->name));
    if (f[1]) add(Tcl_NewIntObj(net->numStates));
    if (f[2]) add(Tcl_NewIntObj(net->enter));
    if (f[3]) add(Tcl_NewIntObj(net->exit));
    if (f[4]) add(Tcl_NewIntObj(net->collapseIdentical));
    if (f[5]) add(Tcl_NewIntObj(net->selfLoops));
    if (f[6]) add(str(net->durModel));
    if (f[7]) add(Cmds_NewFloatObj(net->sampFreq));
    if (f[8]) add(Cmds_NewFloatObj(net->frameSize));
    if (f[9]) add(str(net->featuresURI));
    if (f[10]) add(str(net->contextURI));
    if (f[11]) {
        Tcl_Obj *l = Tcl_NewListObj(0, nullptr);
        for (int i = 0; i < net->numStates; i++) Tcl_ListObjAppendElement(nullptr, l, str(origName(net->states[i].name)));
        add(l);
    }
    if (f[12]) {
        Tcl_Obj *l = Tcl_NewListObj(0, nullptr);
        for (int i = 0; i < net->numStates; i++) {
            std::string a = phonemeText(net, i);
            for (int k = 0; k < net->states[i].numTo; k++) {
                std::string b = phonemeText(net, net->states[i].toLinks[k].state);
                Tcl_ListObjAppendElement(nullptr, l, str(a != b ? a + " " + b : "<NTR> " + b));
            }
        }
        add(l);
    }
    if (f[13]) {
        Tcl_Obj *l = Tcl_NewListObj(0, nullptr);
        for (int i = 0; i < net->numStates; i++) {
            const GravlinState &s = net->states[i];
            std::string me = origName(s.name);
            for (int k = 0; k < s.numFrom; k++)
                if (s.fromLinks[k].state != i)
                    Tcl_ListObjAppendElement(nullptr, l, str(me + " " + phonemeText(net, s.fromLinks[k].state) + " -1"));
            for (int k = 0; k < s.numTo; k++)
                if (s.toLinks[k].state != i)
                    Tcl_ListObjAppendElement(nullptr, l, str(me + " " + phonemeText(net, s.toLinks[k].state) + " 1"));
        }
        add(l);
    }
    if (f[14]) {
        Tcl_Obj *l = Tcl_NewListObj(0, nullptr);
        for (int i = 0; i < net->numStates; i++)
            for (int k = 0; k < net->states[i].numTo; k++)
                Tcl_ListObjAppendElement(nullptr, l,
                                         str(std::to_string(i) + " " + std::to_string(net->states[i].toLinks[k].state)));
        add(l);
    }
    Tcl_SetObjResult(interp, r);
    return TCL_OK;
}

// gravlin print gravlinOb
// Dumps the network, state by state, to standard error.
int PrintCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "gravlinOb %s", &name)) return TCL_ERROR;
    GravlinNet *net = getNet(interp, name);
    if (!net) return TCL_ERROR;
    Gravlin_printGravlin(net);
    fflush(stderr);
    Tcl_ResetResult(interp);
    return TCL_OK;
}

// gravlin free gravlinOb
// Releases the network's contents; the object stays, as an empty network.
int FreeCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "gravlinOb %s", &name)) return TCL_ERROR;
    GravlinNet *net = getNet(interp, name);
    if (!net) return TCL_ERROR;
    Gravlin_free(net);
    Tcl_ResetResult(interp);
    return TCL_OK;
}

const SubCmdEntry kTable[] = {{"create", CreateCmd},   {"add", AddCmd},
                              {"addSpec", AddSpecCmd}, {"prune", PruneCmd},
                              {"specUpdate", SpecUpdateCmd}, {"info", InfoCmd},
                              {"writeCDRules", WriteCDRulesCmd}, {"print", PrintCmd},
                              {"free", FreeCmd},       {nullptr, nullptr}};

} // namespace

extern "C" {

int Gravlin_Init(Tcl_Interp *interp) {
    int code = Tcl_PkgProvide(interp, "Gravlin", "1.0");
    if (code != TCL_OK) return code;
    Cntr_RegisterType(&kNetType);
    Cmds_CreateSwitchCmd(interp, "gravlin", nullptr, nullptr);
    for (const SubCmdEntry *e = kTable; e->name; e++)
        Cmds_CreateSubCmd(interp, "gravlin", e->name, e->proc, nullptr, nullptr);
    return Obj_Init(interp);
}

// The safe entry leaves out the one command that writes files; the others
// refuse statement and lexicon files there.
int Gravlin_SafeInit(Tcl_Interp *interp) {
    int code = Tcl_PkgProvide(interp, "Gravlin", "1.0");
    if (code != TCL_OK) return code;
    Cntr_RegisterType(&kNetType);
    Cmds_CreateSwitchCmd(interp, "gravlin", nullptr, nullptr);
    for (const SubCmdEntry *e = kTable; e->name; e++)
        if (strcmp(e->name, "writeCDRules") != 0) Cmds_CreateSubCmd(interp, "gravlin", e->name, e->proc, nullptr, nullptr);
    return Obj_Init(interp);
}

} // extern "C"
