// Switch commands, argument templates, static print buffers, float printing.
#include "cmds.h"

#include "result.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

// ---- switch commands -----------------------------------------------------

struct SubCmd {
    Tcl_CmdProc *proc = nullptr;
    ClientData clientData = nullptr;
    Tcl_CmdDeleteProc *deleteProc = nullptr;
};

struct SwitchCmd {
    std::string name;
    std::map<std::string, SubCmd> subs;
    ClientData clientData = nullptr;
    Tcl_CmdDeleteProc *deleteProc = nullptr;
};

void releaseSub(SubCmd &s) {
    if (s.deleteProc) s.deleteProc(s.clientData);
    s.deleteProc = nullptr;
}

void freeSwitch(char *blockPtr) {
    SwitchCmd *sw = reinterpret_cast<SwitchCmd *>(blockPtr);
    for (auto &kv : sw->subs) releaseSub(kv.second);
    if (sw->deleteProc) sw->deleteProc(sw->clientData);
    delete sw;
}

void deleteSwitch(ClientData cd) { Tcl_EventuallyFree(cd, freeSwitch); }

int switchDispatch(ClientData cd, Tcl_Interp *interp, int argc, const char *argv[]) {
    SwitchCmd *sw = static_cast<SwitchCmd *>(cd);
    if (argc < 2) {
        Tcl_AppendResult(interp, "wrong # args: should be \"", argv[0], " option ?arg ...?\"", (char *)nullptr);
        return TCL_ERROR;
    }
    auto it = sw->subs.find(argv[1]);
    if (it == sw->subs.end()) it = sw->subs.find("*");
    if (it == sw->subs.end()) {
        std::string msg = std::string("bad option \"") + argv[1] + "\": must be ";
        size_t i = 0, n = sw->subs.size();
        for (auto &kv : sw->subs) {
            if (i > 0) msg += (i + 1 == n) ? (n > 2 ? ", or " : " or ") : ", ";
            msg += kv.first;
            i++;
        }
        if (n == 0) msg += "(no sub-commands)";
        Tcl_SetObjResult(interp, Tcl_NewStringObj(msg.c_str(), -1));
        return TCL_ERROR;
    }
    Tcl_Preserve(sw);
    SubCmd sub = it->second;  // a handler may replace its own row
    int code = sub.proc(sub.clientData, interp, argc, argv);
    Tcl_Release(sw);
    return code;
}

SwitchCmd *findSwitch(Tcl_Interp *interp, const char *name) {
    Tcl_CmdInfo info;
    if (!Tcl_GetCommandInfo(interp, name, &info) || info.proc != switchDispatch) return nullptr;
    return static_cast<SwitchCmd *>(info.clientData);
}

// ---- templates -----------------------------------------------------------

struct Token {
    char kind;  // '%', '?', '!'
    char type;  // s i f d n l
};

struct Item {
    std::string name;
    bool option = false;
    std::vector<Token> tokens;
    size_t firstOut = 0;  // index of its first output pointer
};

size_t outCount(const Token &t) {
    if (t.type == 'l' || t.kind == '!') return 2;
    return 1;
}

bool parseTemplate(const char *tmpl, std::vector<Item> &items, size_t &outs) {
    outs = 0;
    const char *p = tmpl;
    while (*p) {
        while (*p == ' ' || *p == '\t') p++;
        if (!*p) break;
        const char *q = p;
        while (*q && *q != ' ' && *q != '\t') q++;
        std::string word(p, q - p);
        p = q;
        if ((word[0] == '%' || word[0] == '?' || word[0] == '!') && word.size() == 2) {
            if (items.empty()) return false;
            Token t{word[0], word[1]};
            if (!strchr("sifdnl", t.type)) return false;
            items.back().tokens.push_back(t);
            outs += outCount(t);
        } else {
            Item it;
            it.name = word;
            it.option = word[0] == '-';
            it.firstOut = outs;
            items.push_back(it);
        }
    }
    return true;
}

bool isNumber(const char *w) {
    if (!*w) return false;
    char *end = nullptr;
    strtod(w, &end);
    return end && *end == '\0';
}

std::string usage(int first, const char **argv, const std::vector<Item> &items) {
    std::string u;
    for (int i = 0; i < first; i++) {
        if (i) u += ' ';
        u += argv[i];
    }
    for (const Item &it : items) {
        bool optional = it.option || it.tokens.empty() || it.tokens[0].kind != '%';
        std::string s = it.name;
        if (it.option) {
            for (const Token &t : it.tokens) {
                if (t.kind == '%' && t.type != 'n' && t.type != 'l') s += " value";
                if (t.kind == '?' && t.type != 'n') s += " ?value?";
                if (t.kind == '!') s += " ?value?";
            }
        } else if (!it.tokens.empty() && it.tokens[0].type == 'l' && s.find("...") == std::string::npos) {
            s += " ...";
        }
        u += ' ';
        u += optional ? "?" + s + "?" : s;
    }
    return u;
}

int usageError(Tcl_Interp *interp, int first, const char **argv, const std::vector<Item> &items) {
    Tcl_ResetResult(interp);
    std::string msg = "wrong # args: should be \"" + usage(first, argv, items) + "\"";
    Tcl_SetObjResult(interp, Tcl_NewStringObj(msg.c_str(), -1));
    return TCL_ERROR;
}

int convert(Tcl_Interp *interp, char type, const char *word, void *out) {
    switch (type) {
        case 's':
            *static_cast<const char **>(out) = word;
            return TCL_OK;
        case 'i':
            return Tcl_GetInt(interp, word, static_cast<int *>(out));
        case 'f': {
            double d;
            if (Tcl_GetDouble(interp, word, &d) != TCL_OK) return TCL_ERROR;
            *static_cast<float *>(out) = static_cast<float>(d);
            return TCL_OK;
        }
        case 'd':
            return Tcl_GetDouble(interp, word, static_cast<double *>(out));
    }
    return TCL_ERROR;
}

}  // namespace

extern "C" {

Tcl_Command Cmds_CreateSwitchCmd(Tcl_Interp *interp, const char *name, ClientData clientData,
                                 Tcl_CmdDeleteProc *deleteProc) {
    if (findSwitch(interp, name)) return Tcl_FindCommand(interp, name, nullptr, 0);
    SwitchCmd *sw = new SwitchCmd;
    sw->name = name;
    sw->clientData = clientData;
    sw->deleteProc = deleteProc;
    return Tcl_CreateCommand(interp, name, switchDispatch, sw, deleteSwitch);
}

int Cmds_CreateSubCmd(Tcl_Interp *interp, const char *switchName, const char *subName, Tcl_CmdProc *proc,
                      ClientData clientData, Tcl_CmdDeleteProc *deleteProc) {
    SwitchCmd *sw = findSwitch(interp, switchName);
    if (!sw) {
        Tcl_AppendResult(interp, "no switch command \"", switchName, "\"", (char *)nullptr);
        return TCL_ERROR;
    }
    auto it = sw->subs.find(subName);
    if (it != sw->subs.end()) releaseSub(it->second);
    SubCmd s;
    s.proc = proc;
    s.clientData = clientData;
    s.deleteProc = deleteProc;
    sw->subs[subName] = s;
    return TCL_OK;
}

int Cmds_CreateSubCmds(Tcl_Interp *interp, const char *switchName, const SubCmdEntry *table) {
    return Cmds_CreateSubCmdsExcept(interp, switchName, table, nullptr);
}

int Cmds_CreateSubCmdsExcept(Tcl_Interp *interp, const char *switchName, const SubCmdEntry *table,
                             const char *const *leaveOut) {
    SwitchCmd *sw = findSwitch(interp, switchName);
    if (!sw) {
        Tcl_AppendResult(interp, "no switch command \"", switchName, "\"", (char *)nullptr);
        return TCL_ERROR;
    }
    for (const SubCmdEntry *e = table; e->name && e->proc; e++) {
        bool left = false;
        for (const char *const *l = leaveOut; l && *l && !left; l++) left = strcmp(*l, e->name) == 0;
        if (!left && Cmds_CreateSubCmd(interp, switchName, e->name, e->proc, sw->clientData, nullptr) != TCL_OK)
            return TCL_ERROR;
    }
    return TCL_OK;
}

int Cmds_RenameSubCmd(Tcl_Interp *interp, const char *switchName, const char *oldName, const char *newName) {
    SwitchCmd *sw = findSwitch(interp, switchName);
    if (!sw) {
        Tcl_AppendResult(interp, "no switch command \"", switchName, "\"", (char *)nullptr);
        return TCL_ERROR;
    }
    auto it = sw->subs.find(oldName);
    if (it == sw->subs.end()) {
        Tcl_AppendResult(interp, "no sub-command \"", oldName, "\" in \"", switchName, "\"", (char *)nullptr);
        return TCL_ERROR;
    }
    SubCmd s = it->second;
    sw->subs.erase(it);
    auto old = sw->subs.find(newName);
    if (old != sw->subs.end()) releaseSub(old->second);
    sw->subs[newName] = s;
    return TCL_OK;
}

int Cmds_ParseArgs(Tcl_Interp *interp, int first, int argc, const char **argv, const char *tmpl, ...) {
    std::vector<Item> items;
    size_t nOuts = 0;
    if (!parseTemplate(tmpl ? tmpl : "", items, nOuts)) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj((std::string("bad argument template \"") + tmpl + "\"").c_str(), -1));
        return TCL_ERROR;
    }
    std::vector<void *> outs(nOuts);
    va_list ap;
    va_start(ap, tmpl);
    for (size_t i = 0; i < nOuts; i++) outs[i] = va_arg(ap, void *);
    va_end(ap);

    std::map<std::string, size_t> options;
    std::vector<size_t> positional;
    for (size_t k = 0; k < items.size(); k++) {
        if (items[k].option) options[items[k].name] = k;
        else positional.push_back(k);
    }
    std::vector<bool> seen(items.size(), false);
    auto isOption = [&](const char *w) { return !isNumber(w) && options.count(w); };

    size_t pi = 0;
    int i = first;
    while (i < argc) {
        const char *w = argv[i];
        if (isOption(w)) {
            size_t k = options[w];
            Item &it = items[k];
            seen[k] = true;
            i++;
            size_t o = it.firstOut;
            for (const Token &t : it.tokens) {
                if (t.type == 'n') {
                    *static_cast<int *>(outs[o]) = 1;
                } else if (t.type == 'l') {
                    *static_cast<int *>(outs[o]) = argc - i;
                    *static_cast<const char ***>(outs[o + 1]) = argv + i;
                    i = argc;
                } else if (t.kind == '%') {
                    if (i >= argc) return usageError(interp, first, argv, items);
                    if (convert(interp, t.type, argv[i], outs[o]) != TCL_OK) return TCL_ERROR;
                    i++;
                } else if (t.kind == '?') {
                    if (i < argc && !isOption(argv[i])) {
                        if (convert(interp, t.type, argv[i], outs[o]) != TCL_OK) return TCL_ERROR;
                        i++;
                    }
                } else {  // '!': a value, or a query when none follows
                    int *given = static_cast<int *>(outs[o + 1]);
                    if (i < argc && !isOption(argv[i])) {
                        if (convert(interp, t.type, argv[i], outs[o]) != TCL_OK) return TCL_ERROR;
                        *given = 1;
                        i++;
                    } else {
                        *given = 0;
                    }
                }
                o += outCount(t);
            }
            continue;
        }
        if (!options.empty() && w[0] == '-' && isalpha(static_cast<unsigned char>(w[1])) && !isNumber(w)) {
            Tcl_ResetResult(interp);
            std::string msg = std::string("bad option \"") + w + "\": should be one of";
            for (auto &kv : options) msg += " " + kv.first;
            Tcl_SetObjResult(interp, Tcl_NewStringObj(msg.c_str(), -1));
            return TCL_ERROR;
        }
        if (pi >= positional.size()) return usageError(interp, first, argv, items);
        Item &it = items[positional[pi++]];
        size_t o = it.firstOut;
        for (const Token &t : it.tokens) {
            if (t.type == 'l') {
                *static_cast<int *>(outs[o]) = argc - i;
                *static_cast<const char ***>(outs[o + 1]) = argv + i;
                i = argc;
            } else if (t.type == 'n') {
                *static_cast<int *>(outs[o]) = 1;
            } else {
                if (i >= argc) {
                    if (t.kind == '%') return usageError(interp, first, argv, items);
                    break;
                }
                if (convert(interp, t.type, argv[i], outs[o]) != TCL_OK) return TCL_ERROR;
                if (t.kind == '!') *static_cast<int *>(outs[o + 1]) = 1;
                i++;
            }
            o += outCount(t);
        }
    }
    // Positional names the words did not reach.
    for (; pi < positional.size(); pi++) {
        Item &it = items[positional[pi]];
        size_t o = it.firstOut;
        for (const Token &t : it.tokens) {
            if (t.kind == '%' && t.type == 'l') {
                *static_cast<int *>(outs[o]) = 0;
                *static_cast<const char ***>(outs[o + 1]) = argv + argc;
            } else if (t.kind == '%' && t.type != 'n') {
                return usageError(interp, first, argv, items);
            } else if (t.kind == '!') {
                *static_cast<int *>(outs[o + 1]) = 0;
            }
            o += outCount(t);
        }
    }
    // Options that were not given.
    for (size_t k = 0; k < items.size(); k++) {
        if (!items[k].option || seen[k]) continue;
        size_t o = items[k].firstOut;
        for (const Token &t : items[k].tokens) {
            if (t.kind == '%' && t.type == 'n') *static_cast<int *>(outs[o]) = 0;
            if (t.kind == '!') *static_cast<int *>(outs[o + 1]) = 0;
            o += outCount(t);
        }
    }
    return TCL_OK;
}

char *sspf(int slot, const char *format, ...) {
    static char buffers[2][4096];
    char *buf = buffers[slot ? 1 : 0];
    va_list ap;
    va_start(ap, format);
    vsnprintf(buf, sizeof buffers[0], format, ap);
    va_end(ap);
    return buf;
}

char *Cmds_FloatString(float value, char *buf) {
    if (std::isnan(value)) {
        strcpy(buf, "NaN");
        return buf;
    }
    if (std::isinf(value)) {
        strcpy(buf, value > 0 ? "Inf" : "-Inf");
        return buf;
    }
    auto res = std::to_chars(buf, buf + 31, value);
    *res.ptr = '\0';
    // Keep Tcl's habit of marking integral reals as reals.
    if (!strpbrk(buf, ".e")) strcat(buf, ".0");
    return buf;
}

int Cmds_RefuseInSafe(Tcl_Interp *interp, const char *word, const char *verb) {
    if (!Tcl_IsSafe(interp)) return 0;
    Tcl_SetObjResult(interp, Tcl_ObjPrintf("\"%s %s\" is not allowed in a safe interpreter", word, verb));
    return 1;
}

int Cmds_LibraryError(Tcl_Interp *interp, GS_Result *r, const char *fallback) {
    const char *text = r->text && *r->text ? r->text : fallback;
    if (text) Tcl_SetObjResult(interp, Tcl_NewStringObj(text, -1));
    GS_DeleteResult(r);
    return TCL_ERROR;
}

char *Cmds_DoubleString(double value, char *buf) {
    Tcl_PrintDouble(nullptr, value, buf);
    return buf;
}

Tcl_Obj *Cmds_NewFloatObj(float value) {
    char buf[40];
    return Tcl_NewStringObj(Cmds_FloatString(value, buf), -1);
}

void Cmds_AppendFloatElement(Tcl_Interp *interp, float value) {
    char buf[40];
    Tcl_AppendElement(interp, Cmds_FloatString(value, buf));
}

void Cmds_SetFloatResult(Tcl_Interp *interp, float value) { Tcl_SetObjResult(interp, Cmds_NewFloatObj(value)); }

}  // extern "C"
