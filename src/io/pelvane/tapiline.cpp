// TapiLine: telephone-line applications. A TapiLine object is one line application;
// its lines are "tapi/line" objects; calls are small numbers local to their line, and
// everything the lines report reaches the script through the line's callback command.
//
// TapiLine create NAME appname          a new application (runs init)
// NAME numdevs | devcaps devid          the line devices
// NAME open devid callback              a "tapi/line" object
// NAME calls | callinfo | callstatus | answer | drop | deallocate | monitordigits |
//      gendigits | audioID LINE ...     calls on a line
// NAME lib libname function | dump ?LINE?   debugging aids (lib: not in safe interpreters)
#include <dlfcn.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "cmds.h"
#include "obj.h"
#include "oo.h"
#include "tapi.h"
#include "yastro.h"

#define TAPI_ALLOC(n) DB_Malloc((n), "src/io/pelvane/tapi", __LINE__)
#define TAPI_FREE(p) DB_Free((p), "src/io/pelvane/tapi", __LINE__)

namespace {

const char *const kLineType = "tapi/line";
const uint32_t kApiVersion = 0x00010004;
const uint32_t kBufSize = 4096;

struct TapiLineRecord;

struct TapiApp {
    Tcl_Interp *interp;
    char *appName;
    HLINEAPP lineApp;
    uint32_t numDevs, apiVersion, extVersion;
    int32_t openLines;
    std::vector<TapiLineRecord *> *lines;   // open lines, to close with the application
};

struct TapiCall {
    TapiCall *next;
    TapiLineRecord *line;
    HCALL call;
    int32_t number;
};

struct TapiLineRecord {
    TapiApp *app;
    char *callback;
    char *name;
    TapiCall *calls;
    HLINE line;
    int32_t nextCallNumber;
};

// Every application alive, so that the process can shut them down as it ends.
std::set<TapiApp *> gApps;

char *Dup(const char *s) {
    char *d = (char *)TAPI_ALLOC(strlen(s) + 1);
    strcpy(d, s);
    return d;
}

int TapiError(Tcl_Interp *interp, int32_t code) {
    static const struct {
        uint32_t code;
        const char *text;
    } kTexts[] = {{0, "ok"},
                  {0x80000001, "device allocated"},
                  {0x80000002, "bad device ID"},
                  {0x80000003, "bearer mode not available"},
                  {0x80000014, "invalid application handle"},
                  {0x80000015, "invalid application name"},
                  {0x80000016, "invalid bearer mode"},
                  {0x80000017, "invalid call completion mode"},
                  {0x80000018, "invalid call handle"},
                  {0x80000019, "invalid call parameters"},
                  {0x8000001A, "invalid call privilege"},
                  {0x8000001B, "invalid call select"},
                  {0x8000001C, "invalid call state"},
                  {0x8000002F, "invalid media mode"},
                  {0x80000035, "invalid pointer"},
                  {0x80000042, "no such device"},
                  {0x80000048, "operation failed"},
                  {0x80000049, "operation not available"},
                  {0x80000050, "tapi not initialized"}};
    for (auto &t : kTexts)
        if (t.code == (uint32_t)code) {
            Tcl_SetResult(interp, (char *)t.text, TCL_STATIC);
            return TCL_ERROR;
        }
    char buf[32];
    snprintf(buf, sizeof buf, "error 0x%x", (unsigned)code);
    Tcl_SetResult(interp, buf, TCL_VOLATILE);
    return TCL_ERROR;
}

void BackgroundTapiError(Tcl_Interp *interp, int32_t code) {
    if (Tcl_InterpDeleted(interp)) return;
    TapiError(interp, code);
    Tcl_BackgroundError(interp);
    Tcl_ResetResult(interp);
}

// TapiCallNumber: the number of a call, listed at the tail when new.
int32_t CallNumber(TapiLineRecord *l, HCALL h) {
    TapiCall **p = &l->calls;
    for (; *p; p = &(*p)->next)
        if ((*p)->call == h) return (*p)->number;
    TapiCall *c = (TapiCall *)TAPI_ALLOC(sizeof(TapiCall));
    c->next = nullptr;
    c->line = l;
    c->call = h;
    c->number = l->nextCallNumber++;
    *p = c;
    return c->number;
}

TapiCall *FindCall(Tcl_Interp *interp, TapiLineRecord *l, int number) {
    for (TapiCall *c = l->calls; c; c = c->next)
        if (c->number == number) return c;
    Tcl_SetResult(interp, (char *)"invalid call number", TCL_STATIC);
    return nullptr;
}

struct Name {
    const char *name;
    uint32_t bit;
};

const Name kStates[] = {{"idle", 0x1},          {"offering", 0x2},     {"accepted", 0x4},
                        {"dialtone", 0x8},      {"dialing", 0x10},     {"ringback", 0x20},
                        {"busy", 0x40},         {"specialinfo", 0x80}, {"connected", 0x100},
                        {"proceeding", 0x200},  {"onhold", 0x400},     {"conferenced", 0x800},
                        {"onholdpendconf", 0x1000}, {"onholdpendtransfer", 0x2000},
                        {"disconnected", 0x4000}, {"unknown", 0x8000}, {nullptr, 0}};
const Name kBearer[] = {{"voice", 0x1}, {"speech", 0x2}, {"multiuse", 0x4}, {"data", 0x8},
                        {"altspeechdata", 0x10}, {"noncallsignaling", 0x20}, {"passthrough", 0x40}, {nullptr, 0}};
const Name kMedia[] = {{"unknown", 0x2},     {"interactive voice", 0x4}, {"automated voice", 0x8},
                       {"datamodem", 0x10},  {"G3 fax", 0x20},           {"G4 fax", 0x80},
                       {"TDD", 0x40},        {"digital data", 0x100},    {"teletex", 0x200},
                       {"videotex", 0x400},  {"telex", 0x800},           {"mixed", 0x1000},
                       {"ADSI", 0x2000},     {"voiceview", 0x4000},      {nullptr, 0}};
const Name kDigit[] = {{"pulse", 0x1}, {"dtfm", 0x2}, {"dtmfend", 0x4}, {nullptr, 0}};
const Name kOrigin[] = {{"outbound", 0x1}, {"internal", 0x2}, {"external", 0x4}, {"unknown", 0x10},
                        {"unavail", 0x20}, {"conference", 0x40}, {nullptr, 0}};
const Name kReason[] = {{"direct", 0x1},     {"fwdbusy", 0x2},         {"fwdnoanswer", 0x4}, {"fwduncond", 0x8},
                        {"pickup", 0x10},    {"unpark", 0x20},         {"redirect", 0x40},   {"callcompletion", 0x80},
                        {"transfer", 0x100}, {"reminder", 0x200},      {"unknown", 0x400},   {"unavail", 0x800},
                        {nullptr, 0}};
const Name kIdFlags[] = {{"blocked", 0x1}, {"outofarea", 0x2}, {"name", 0x4}, {"address", 0x8},
                         {"partial", 0x10}, {"unknown", 0x20}, {"unavail", 0x40}, {nullptr, 0}};
const Name kToneModes[] = {{"custom", 1}, {"ringback", 2}, {"busy", 4}, {"beep", 8}, {"billing", 16}, {nullptr, 0}};
const Name kAddrModes[] = {{"ID", 1}, {"dialable", 2}, {nullptr, 0}};
const Name kCapFlags[] = {{"crossaddrconf", 0x1}, {"highlevcomp", 0x2}, {"lowlevcomp", 0x4}, {"mediacontrol", 0x8},
                          {"multipleaddr", 0x10}, {"closedrop", 0x20}, {"dial billing", 0x40},
                          {"dial quiet", 0x80}, {"dial dialtone", 0x100}, {nullptr, 0}};
const Name kAnswerModes[] = {{"none", 1}, {"drop", 2}, {"hold", 4}, {nullptr, 0}};
const Name kLineStates[] = {
    {"other", 0x1},           {"ringing", 0x2},          {"connected", 0x4},         {"disconnected", 0x8},
    {"msgwaiton", 0x10},      {"msgwaitoff", 0x20},      {"numcompletions", 0x1000}, {"inservice", 0x40},
    {"outofservice", 0x80},   {"maintenance", 0x100},    {"open", 0x200},            {"close", 0x400},
    {"numcalls", 0x800},      {"terminals", 0x2000},     {"roammode", 0x4000},       {"battery", 0x8000},
    {"signal", 0x10000},      {"devspecific", 0x20000},  {"reinit", 0x40000},        {"lock", 0x80000},
    {"capschange", 0x100000}, {"configchange", 0x200000}, {"translatechange", 0x400000},
    {"complcancel", 0x800000}, {"removed", 0x1000000},   {nullptr, 0}};

Tcl_Obj *Flags(const Name *names, uint32_t v) {
    Tcl_Obj *l = Tcl_NewListObj(0, nullptr);
    for (const Name *n = names; n->name; n++)
        if (v & n->bit) Tcl_ListObjAppendElement(nullptr, l, Tcl_NewStringObj(n->name, -1));
    return l;
}

const char *StateName(uint32_t v) {
    for (const Name *n = kStates; n->name; n++)
        if (v == n->bit) return n->name;
    return "notimplemented";
}

const char *ModeName(uint32_t state, uint32_t mode, bool callback) {
    static const Name kOffering[] = {{"active", 1}, {"inactive", 2}, {nullptr, 0}};
    static const Name kDialtone[] = {{"normal", 1}, {"special", 2}, {"internal", 4}, {"external", 8},
                                     {"unknown", 16}, {"unavail", 32}, {nullptr, 0}};
    static const Name kBusy[] = {{"station", 1}, {"trunk", 2}, {"unknown", 4}, {"unavail", 8}, {nullptr, 0}};
    static const Name kSpecial[] = {{"nocircuit", 1}, {"custirreg", 2}, {"reorder", 4}, {"unknown", 8},
                                    {"unavail", 16}, {nullptr, 0}};
    static const Name kDisc[] = {{"normal", 1},        {"unknown", 2},      {"reject", 4},        {"pickup", 8},
                                 {"forwarded", 16},    {"busy", 32},        {"noanswer", 64},     {"badaddress", 128},
                                 {"unreachable", 256}, {"congestion", 512}, {"incompatible", 1024},
                                 {"unavail", 2048},    {"nodialtone", 4096}, {nullptr, 0}};
    const Name *t = nullptr;
    switch (state) {
    case 0x2: case 0x100: t = kOffering; break;
    case 0x8: t = kDialtone; break;
    case 0x40: t = kBusy; break;
    case 0x80: t = kSpecial; break;
    case 0x4000: t = kDisc; break;
    case 0x800: return callback ? "*complicated*" : "";
    default: return "";
    }
    for (const Name *n = t; n->name; n++)
        if (mode == n->bit) return n->name;
    return "";
}

void Append(Tcl_Obj *list, const char *s) { Tcl_ListObjAppendElement(nullptr, list, Tcl_NewStringObj(s, -1)); }

// Evaluates callback followed by the words, at global level; errors go to bgerror.
void RunCallback(TapiLineRecord *l, Tcl_Obj *words) {
    Tcl_Interp *interp = l->app->interp;
    Tcl_IncrRefCount(words);
    std::string script = std::string(l->callback) + " " + Tcl_GetString(words);
    Tcl_DecrRefCount(words);
    if (Tcl_InterpDeleted(interp)) return;
    Tcl_Preserve(interp);
    Tcl_InterpState st = Tcl_SaveInterpState(interp, TCL_OK);
    if (Tcl_EvalEx(interp, script.c_str(), -1, TCL_EVAL_GLOBAL) != TCL_OK) Tcl_BackgroundError(interp);
    Tcl_RestoreInterpState(interp, st);
    Tcl_Release(interp);
}

// The line callback: runs on the interpreter's thread, and never for a closed line.
void LineCallback(uint32_t device, uint32_t message, uintptr_t instance, uintptr_t p1, uintptr_t p2, uintptr_t p3) {
    TapiLineRecord *l = (TapiLineRecord *)instance;
    Tcl_Obj *w = Tcl_NewListObj(0, nullptr);
    switch (message) {
    case LINE_CALLSTATE: {
        Append(w, "callstate");
        Append(w, StateName((uint32_t)p1));
        Append(w, ModeName((uint32_t)p1, (uint32_t)p2, true));
        Append(w, l->name);
        Tcl_ListObjAppendElement(nullptr, w, Tcl_NewIntObj(CallNumber(l, device)));
        Append(w, (p3 & 4) ? "owner" : (p3 & 2) ? "monitor" : "unknown");
        break;
    }
    case LINE_GENERATE:
        Append(w, "generate");
        Append(w, p1 == 1 ? "done" : p1 == 2 ? "cancel" : "unknown");
        break;
    case LINE_MONITORDIGITS: {
        Append(w, "digits");
        Append(w, p2 == 1 ? "pulse" : p2 == 2 ? "dtmf" : p2 == 4 ? "dtmfend" : "unknown");
        Append(w, l->name);
        Tcl_ListObjAppendElement(nullptr, w, Tcl_NewIntObj(CallNumber(l, device)));
        char d[2] = {(char)(p1 & 0xFF), 0};
        Append(w, d);
        break;
    }
    case LINE_REPLY: {
        Tcl_Interp *interp = l->app->interp;
        Append(w, "reply");
        Append(w, l->name);
        Tcl_ListObjAppendElement(nullptr, w, Tcl_NewWideIntObj((Tcl_WideInt)p1));
        Tcl_InterpState st = Tcl_SaveInterpState(interp, TCL_OK);
        TapiError(interp, (int32_t)p2);
        std::string text(Tcl_GetStringResult(interp), 0, 79);
        Tcl_RestoreInterpState(interp, st);
        Append(w, text.c_str());
        break;
    }
    default: {
        Tcl_DecrRefCount(Tcl_NewObj());
        char buf[200];
        snprintf(buf, sizeof buf, "TAPI line callback: %d %d %d %d %d %d\n", (int)device, (int)message,
                 (int)instance, (int)p1, (int)p2, (int)p3);
        Tcl_Channel err = Tcl_GetStdChannel(TCL_STDERR);
        if (err) Tcl_WriteChars(err, buf, -1);
        Tcl_IncrRefCount(w);
        Tcl_DecrRefCount(w);
        return;
    }
    }
    RunCallback(l, w);
}

void FreeLine(void *rec) {
    TapiLineRecord *l = (TapiLineRecord *)rec;
    if (!l) return;
    while (TapiCall *c = l->calls) {
        l->calls = c->next;
        TAPI_FREE(c);
    }
    if (l->callback) TAPI_FREE(l->callback);
    if (l->name) TAPI_FREE(l->name);
    TAPI_FREE(l);
}

const CntrType kLineCntr = {kLineType, nullptr, nullptr, FreeLine, nullptr, nullptr, nullptr, nullptr};

// Closing a line: its calls are dropped, the line closed, and the application shut
// down after its last line (the next method initialises it again).
void LineNuke(ObjEntry *entry) {
    TapiLineRecord *l = (TapiLineRecord *)entry->data;
    if (!l) return;
    TapiApp *a = l->app;
    for (TapiCall *c = l->calls; c; c = c->next) lineDrop(c->call, nullptr, 0);
    int32_t rc = lineClose(l->line);
    if (rc) BackgroundTapiError(a->interp, rc);
    auto &v = *a->lines;
    for (size_t i = 0; i < v.size(); i++)
        if (v[i] == l) {
            v.erase(v.begin() + i);
            break;
        }
    if (--a->openLines == 0 && a->lineApp) {
        rc = lineShutdown(a->lineApp);
        if (rc) BackgroundTapiError(a->interp, rc);
        a->lineApp = 0;
    }
    FreeLine(l);
    entry->data = nullptr;
}

void FreeApp(TapiApp *a) {
    gApps.erase(a);
    if (a->appName) TAPI_FREE(a->appName);
    delete a->lines;
    TAPI_FREE(a);
}

// The object's delete procedure: its lines go first, so none outlives the application.
void AppDelete(ClientData cd) {
    TapiApp *a = (TapiApp *)cd;
    if (!a) return;
    while (!a->lines->empty()) {
        std::string name = a->lines->back()->name;
        size_t before = a->lines->size();
        Obj_Destroy(a->interp, name.c_str());
        if (a->lines->size() == before) a->lines->pop_back();
    }
    if (a->lineApp) {
        int32_t rc = lineShutdown(a->lineApp);
        if (rc) BackgroundTapiError(a->interp, rc);
    }
    FreeApp(a);
}

// TapiGetApp: the application of the object, initialised again when it was shut down.
TapiApp *GetApp(Tcl_Interp *interp, const char *name) {
    OoInfo info;
    if (!Oo_GetInfo(interp, name, &info)) {
        Tcl_ResetResult(interp);
        Tcl_AppendResult(interp, "command \"", name, "\" does not exist", (char *)nullptr);
        return nullptr;
    }
    TapiApp *a = (TapiApp *)info.clientData;
    if (!a || info.deleteProc != AppDelete) {
        Tcl_ResetResult(interp);
        Tcl_AppendResult(interp, "\"", name, "\" has not been initialized", (char *)nullptr);
        return nullptr;
    }
    if (!a->lineApp) {
        int32_t rc = lineInitialize(&a->lineApp, nullptr, LineCallback, a->appName, &a->numDevs);
        if (rc) {
            a->lineApp = 0;
            TapiError(interp, rc);
            return nullptr;
        }
    }
    return a;
}

TapiLineRecord *GetLine(Tcl_Interp *interp, const char *name) {
    return (TapiLineRecord *)Obj_GetData(interp, kLineType, name);
}

#define PARSE(...) \
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, __VA_ARGS__)) return TCL_ERROR

// TapiLine create NAME appname  (init)
// Attaches a new line application to the object.
int InitCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *appname = nullptr;
    PARSE("appname %s", &appname);
    OoInfo info;
    if (!Oo_GetInfo(interp, argv[2], &info)) {
        Tcl_ResetResult(interp);
        Tcl_AppendResult(interp, "command \"", argv[2], "\" does not exist", (char *)nullptr);
        return TCL_ERROR;
    }
    if (info.clientData && info.deleteProc == AppDelete) {
        Tcl_AppendResult(interp, argv[2], " cannot be reinitialized", (char *)nullptr);
        return TCL_ERROR;
    }
    TapiApp *a = (TapiApp *)TAPI_ALLOC(sizeof(TapiApp));
    memset(a, 0, sizeof *a);
    a->interp = interp;
    a->appName = Dup(appname);
    a->apiVersion = kApiVersion;
    a->lines = new std::vector<TapiLineRecord *>;
    int32_t rc = lineInitialize(&a->lineApp, nullptr, LineCallback, a->appName, &a->numDevs);
    if (rc) {
        FreeApp(a);
        return TapiError(interp, rc);
    }
    gApps.insert(a);
    info.clientData = a;
    info.deleteProc = AppDelete;
    info.deleteData = a;
    if (!Oo_SetInfo(interp, argv[2], &info)) {
        lineShutdown(a->lineApp);
        FreeApp(a);
        if (!*Tcl_GetStringResult(interp))
            Tcl_AppendResult(interp, "could not attach the application to \"", argv[2], "\"", (char *)nullptr);
        return TCL_ERROR;
    }
    return TCL_OK;
}

// NAME numdevs
// The number of line devices.
int NumdevsCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    PARSE("");
    TapiApp *a = GetApp(interp, argv[2]);
    if (!a) return TCL_ERROR;
    Tcl_SetObjResult(interp, Tcl_NewIntObj((int)a->numDevs));
    return TCL_OK;
}

std::string Text(const void *rec, uint32_t size, uint32_t offset) {
    uint32_t total = *(const uint32_t *)rec;
    if (!size || !offset || offset >= total) return "";
    uint32_t n = size;
    if (offset + n > total) n = total - offset;
    const char *p = (const char *)rec + offset;
    return std::string(p, strnlen(p, n));
}

void KeyText(Tcl_Obj *l, const char *key, const std::string &v) {
    Append(l, key);
    Append(l, v.c_str());
}
void KeyInt(Tcl_Obj *l, const char *key, uint32_t v) {
    Append(l, key);
    Tcl_ListObjAppendElement(nullptr, l, Tcl_NewIntObj((int)v));
}
void KeyFlags(Tcl_Obj *l, const char *key, const Name *names, uint32_t v) {
    Append(l, key);
    Tcl_ListObjAppendElement(nullptr, l, Flags(names, v));
}

// NAME devcaps devid
// The capabilities of a line device as a key/value list.
int DevcapsCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    int devid = 0;
    PARSE("devid %i", &devid);
    TapiApp *a = GetApp(interp, argv[2]);
    if (!a) return TCL_ERROR;
    std::vector<uint64_t> buf(kBufSize / 8, 0);
    LINEDEVCAPS *c = (LINEDEVCAPS *)buf.data();
    c->dwTotalSize = kBufSize;
    int32_t rc = lineGetDevCaps(a->lineApp, (uint32_t)devid, a->apiVersion, a->extVersion, c);
    if (rc) return TapiError(interp, rc);
    Tcl_Obj *l = Tcl_NewListObj(0, nullptr);
    KeyText(l, "providerInfo", Text(c, c->dwProviderInfoSize, c->dwProviderInfoOffset));
    KeyText(l, "switchInfo", Text(c, c->dwSwitchInfoSize, c->dwSwitchInfoOffset));
    char hex[32];
    snprintf(hex, sizeof hex, "0x%x", c->dwPermanentLineID);
    KeyText(l, "permanentLineID", hex);
    KeyText(l, "lineName", Text(c, c->dwLineNameSize, c->dwLineNameOffset));
    static const char *const kFormats[] = {"unknown", "ascii", "dbcs", "unicode"};
    KeyText(l, "stringFormat", kFormats[c->dwStringFormat <= 3 ? c->dwStringFormat : 0]);
    KeyFlags(l, "addressModes", kAddrModes, c->dwAddressModes);
    KeyFlags(l, "bearerModes", kBearer, c->dwBearerModes);
    KeyInt(l, "maxRate", c->dwMaxRate);
    KeyFlags(l, "mediaModes", kMedia, c->dwMediaModes);
    KeyFlags(l, "generateToneModes", kToneModes, c->dwGenerateToneModes);
    KeyInt(l, "generateToneMaxNumFreq", c->dwGenerateToneMaxNumFreq);
    KeyFlags(l, "generateDigitModes", kDigit, c->dwGenerateDigitModes);
    KeyInt(l, "monitorToneMaxNumFreq", c->dwMonitorToneMaxNumFreq);
    KeyInt(l, "monitorToneMaxNumEntries", c->dwMonitorToneMaxNumEntries);
    KeyFlags(l, "monitorDigitModes", kDigit, c->dwMonitorDigitModes);
    KeyInt(l, "gatherDigitsMinTimeout", c->dwGatherDigitsMinTimeout);
    KeyInt(l, "gatherDigitsMaxTimeout", c->dwGatherDigitsMaxTimeout);
    KeyInt(l, "medCtlDigitMaxListSize", c->dwMedCtlDigitMaxListSize);
    KeyInt(l, "medCtlMediaMaxListSize", c->dwMedCtlMediaMaxListSize);
    KeyInt(l, "medCtlToneMaxListSize", c->dwMedCtlToneMaxListSize);
    KeyInt(l, "medCtlCallStateMaxListSize", c->dwMedCtlCallStateMaxListSize);
    KeyFlags(l, "devCapFlags", kCapFlags, c->dwDevCapFlags);
    KeyInt(l, "maxNumActiveCalls", c->dwMaxNumActiveCalls);
    KeyFlags(l, "answerMode", kAnswerModes, c->dwAnswerMode);
    KeyInt(l, "ringModes", c->dwRingModes);
    KeyFlags(l, "lineStates", kLineStates, c->dwLineStates);
    KeyInt(l, "UUIAcceptSize", c->dwUUIAcceptSize);
    KeyInt(l, "UUIAnswerSize", c->dwUUIAnswerSize);
    KeyInt(l, "UUIDropSize", c->dwUUIDropSize);
    KeyInt(l, "UUISendUserUserInfoSize", c->dwUUISendUserUserInfoSize);
    KeyInt(l, "UUICallInfoSize", c->dwUUICallInfoSize);
    Tcl_SetObjResult(interp, l);
    return TCL_OK;
}

// NAME open devid callback
// Opens a line; answers the "tapi/line" object whose events run callback.
int OpenCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    int devid = 0;
    const char *callback = nullptr;
    PARSE("devid %i callback %s", &devid, &callback);
    TapiApp *a = GetApp(interp, argv[2]);
    if (!a) return TCL_ERROR;
    TapiLineRecord *l = (TapiLineRecord *)TAPI_ALLOC(sizeof(TapiLineRecord));
    memset(l, 0, sizeof *l);
    l->app = a;
    l->callback = Dup(callback);
    l->name = Dup("");
    int32_t rc = lineOpen(a->lineApp, (uint32_t)devid, &l->line, a->apiVersion, a->extVersion, (uintptr_t)l,
                          LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_AUTOMATEDVOICE, nullptr);
    if (rc) {
        FreeLine(l);
        return TapiError(interp, rc);
    }
    if (Obj_Create(interp, kLineType, l) != TCL_OK) {
        lineClose(l->line);
        FreeLine(l);
        return TCL_ERROR;
    }
    TAPI_FREE(l->name);
    l->name = Dup(Tcl_GetStringResult(interp));
    Obj_Get(interp, kLineType, l->name)->nukeProc = LineNuke;
    a->lines->push_back(l);
    a->openLines++;
    Tcl_SetObjResult(interp, Tcl_NewStringObj(l->name, -1));
    return TCL_OK;
}

// NAME audioID LINE ?callnumber? ?-in? ?-out?
// The sound devices of a line or call: "in N out M", or one number.
int AudioIDCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *line = nullptr;
    int number = 0, given = 0, in = 0, out = 0;
    PARSE("tapi/line %s callnumber !i -in %n -out %n", &line, &number, &given, &in, &out);
    if (!GetApp(interp, argv[2])) return TCL_ERROR;
    TapiLineRecord *l = GetLine(interp, line);
    if (!l) return TCL_ERROR;
    HCALL call = 0;
    if (given) {
        TapiCall *c = FindCall(interp, l, number);
        if (!c) return TCL_ERROR;
        call = c->call;
    }
    if (!in && !out) in = out = 1;
    Tcl_Obj *res = Tcl_NewListObj(0, nullptr);
    for (int k = 0; k < 2; k++) {
        if (!(k == 0 ? in : out)) continue;
        std::vector<uint64_t> buf(kBufSize / 8, 0);
        VARSTRING *v = (VARSTRING *)buf.data();
        v->dwTotalSize = kBufSize;
        int32_t rc = lineGetID(l->line, 0, call, given ? LINECALLSELECT_CALL : LINECALLSELECT_LINE, v,
                               k == 0 ? "wave/in" : "wave/out");
        if (rc) {
            Tcl_DecrRefCount(Tcl_NewObj());
            Tcl_IncrRefCount(res);
            Tcl_DecrRefCount(res);
            return TapiError(interp, rc);
        }
        uint32_t id = 0;
        if (v->dwStringOffset + 4 <= kBufSize) memcpy(&id, (char *)v + v->dwStringOffset, 4);
        if (in && out) Append(res, k == 0 ? "in" : "out");
        Tcl_ListObjAppendElement(nullptr, res, Tcl_NewIntObj((int)id));
    }
    Tcl_SetObjResult(interp, res);
    return TCL_OK;
}

// NAME calls LINE
// The numbers of the line's calls, oldest first.
int CallsCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *line = nullptr;
    PARSE("tapi/line %s", &line);
    if (!GetApp(interp, argv[2])) return TCL_ERROR;
    TapiLineRecord *l = GetLine(interp, line);
    if (!l) return TCL_ERROR;
    Tcl_Obj *res = Tcl_NewListObj(0, nullptr);
    for (TapiCall *c = l->calls; c; c = c->next) Tcl_ListObjAppendElement(nullptr, res, Tcl_NewIntObj(c->number));
    Tcl_SetObjResult(interp, res);
    return TCL_OK;
}

// The line and call of "tapi/line %s callnumber %i" methods.
TapiCall *CallArg(Tcl_Interp *interp, int argc, const char *argv[], const char *tmpl, int *a1 = nullptr,
                  int *a2 = nullptr, int *a3 = nullptr) {
    const char *line = nullptr;
    int number = 0;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, tmpl, &line, &number, a1, a2, a3)) return nullptr;
    if (!GetApp(interp, argv[2])) return nullptr;
    TapiLineRecord *l = GetLine(interp, line);
    if (!l) return nullptr;
    return FindCall(interp, l, number);
}

// NAME monitordigits LINE callnumber ?-dtmf? ?-pulse? ?-dtmfend?
// Turns on the digit events of a call (no option: off).
int MonitordigitsCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    int dtmf = 0, pulse = 0, end = 0;
    TapiCall *c = CallArg(interp, argc, argv, "tapi/line %s callnumber %i -dtmf %n -pulse %n -dtmfend %n", &dtmf,
                          &pulse, &end);
    if (!c) return TCL_ERROR;
    int32_t rc = lineMonitorDigits(c->call, (pulse ? 1 : 0) | (dtmf ? 2 : 0) | (end ? 4 : 0));
    if (rc < 0) return TapiError(interp, rc);
    return TCL_OK;
}

void Party(Tcl_Obj *l, const char *prefix, const LINECALLINFO *info, const LINEPARTY &p) {
    std::string k = prefix;
    KeyFlags(l, (k + "Flags").c_str(), kIdFlags, p.dwFlags);
    KeyText(l, k.c_str(), Text(info, p.dwSize, p.dwOffset));
    KeyText(l, (k + "Name").c_str(), Text(info, p.dwNameSize, p.dwNameOffset));
}

// NAME callinfo LINE callnumber
// What is known of a call (caller ID and the rest) as a key/value list.
int CallinfoCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    TapiCall *c = CallArg(interp, argc, argv, "tapi/line %s callnumber %i");
    if (!c) return TCL_ERROR;
    std::vector<uint64_t> buf(kBufSize / 8, 0);
    LINECALLINFO *i = (LINECALLINFO *)buf.data();
    i->dwTotalSize = kBufSize;
    int32_t rc = lineGetCallInfo(c->call, i);
    if (rc) return TapiError(interp, rc);
    Tcl_Obj *l = Tcl_NewListObj(0, nullptr);
    KeyFlags(l, "bearerMode", kBearer, i->dwBearerMode);
    KeyInt(l, "rate", i->dwRate);
    KeyFlags(l, "mediaMode", kMedia, i->dwMediaMode);
    KeyFlags(l, "callStates", kStates, i->dwCallStates);
    KeyFlags(l, "monitorDigitModes", kDigit, i->dwMonitorDigitModes);
    KeyFlags(l, "monitorMediaModes", kMedia, i->dwMonitorMediaModes);
    KeyFlags(l, "origin", kOrigin, i->dwOrigin);
    KeyFlags(l, "reason", kReason, i->dwReason);
    KeyInt(l, "completionID", i->dwCompletionID);
    KeyInt(l, "numOwners", i->dwNumOwners);
    KeyInt(l, "numMonitors", i->dwNumMonitors);
    KeyInt(l, "countryCode", i->dwCountryCode);
    KeyInt(l, "trunk", i->dwTrunk);
    Party(l, "callerID", i, i->callerID);
    Party(l, "calledID", i, i->calledID);
    Party(l, "connectedID", i, i->connectedID);
    Party(l, "redirectionID", i, i->redirectionID);
    Party(l, "redirectingID", i, i->redirectingID);
    KeyText(l, "appName", Text(i, i->dwAppNameSize, i->dwAppNameOffset));
    KeyText(l, "displayableAddress", Text(i, i->dwDisplayableAddressSize, i->dwDisplayableAddressOffset));
    KeyText(l, "calledParty", Text(i, i->dwCalledPartySize, i->dwCalledPartyOffset));
    KeyText(l, "comment", Text(i, i->dwCommentSize, i->dwCommentOffset));
    Tcl_SetObjResult(interp, l);
    return TCL_OK;
}

// NAME callstatus LINE callnumber
// The call's state, its mode and our privilege.
int CallstatusCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    TapiCall *c = CallArg(interp, argc, argv, "tapi/line %s callnumber %i");
    if (!c) return TCL_ERROR;
    std::vector<uint64_t> buf(kBufSize / 8, 0);
    LINECALLSTATUS *s = (LINECALLSTATUS *)buf.data();
    s->dwTotalSize = kBufSize;
    int32_t rc = lineGetCallStatus(c->call, s);
    if (rc) return TapiError(interp, rc);
    Tcl_Obj *l = Tcl_NewListObj(0, nullptr);
    KeyFlags(l, "callState", kStates, s->dwCallState);
    KeyText(l, "callStateMode", ModeName(s->dwCallState, s->dwCallStateMode, false));
    KeyText(l, "callPrivilege", s->dwCallPrivilege == 2 ? "monitor" : "owner");
    Tcl_SetObjResult(interp, l);
    return TCL_OK;
}

int Request(Tcl_Interp *interp, int32_t rc) {
    if (rc < 0) return TapiError(interp, rc);
    Tcl_SetObjResult(interp, Tcl_NewIntObj(rc));
    return TCL_OK;
}

// NAME drop LINE callnumber
// Drops a call; answers the request id that the " reply" event will carry.
int DropCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    TapiCall *c = CallArg(interp, argc, argv, "tapi/line %s callnumber %i");
    return c ? Request(interp, lineDrop(c->call, nullptr, 0)) : TCL_ERROR;
}

// NAME answer LINE callnumber
// Answers an offered call; answers the request id.
int AnswerCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    TapiCall *c = CallArg(interp, argc, argv, "tapi/line %s callnumber %i");
    return c ? Request(interp, lineAnswer(c->call, nullptr, 0)) : TCL_ERROR;
}

// NAME deallocate LINE callnumber
// Forgets an idle call; its number is never given again.
int DeallocateCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    TapiCall *c = CallArg(interp, argc, argv, "tapi/line %s callnumber %i");
    if (!c) return TCL_ERROR;
    int32_t rc = lineDeallocateCall(c->call);
    if (rc) return TapiError(interp, rc);
    TapiLineRecord *l = c->line;
    for (TapiCall **p = &l->calls; *p; p = &(*p)->next)
        if (*p == c) {
            *p = c->next;
            TAPI_FREE(c);
            break;
        }
    return TCL_OK;
}

// NAME gendigits LINE callnumber ?digits? ?-duration ms?
// Sends touch tones on the call (no digits: stops sending); " generate done" follows.
int GendigitsCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *digits = nullptr;
    int duration = 0;
    const char *line = nullptr;
    int number = 0;
    PARSE("tapi/line %s callnumber %i digits ?s -duration %i", &line, &number, &digits, &duration);
    if (!GetApp(interp, argv[2])) return TCL_ERROR;
    TapiLineRecord *l = GetLine(interp, line);
    if (!l) return TCL_ERROR;
    TapiCall *c = FindCall(interp, l, number);
    if (!c) return TCL_ERROR;
    if (duration < 0) {
        Tcl_SetResult(interp, (char *)"duration must not be negative", TCL_STATIC);
        return TCL_ERROR;
    }
    int32_t rc = lineGenerateDigits(c->call, LINEDIGITMODE_DTMF, digits, (uint32_t)duration);
    if (rc) return TapiError(interp, rc);
    return TCL_OK;
}

// NAME lib libname function
// Loads a library, looks a function up and unloads it; answers the address.
int LibCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *lib = nullptr, *fn = nullptr;
    PARSE("libname %s function %s", &lib, &fn);
    void *h = dlopen(lib, RTLD_NOW | RTLD_LOCAL);
    if (!h) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj(dlerror(), -1));
        return TCL_ERROR;
    }
    dlerror();
    void *p = dlsym(h, fn);
    const char *e = dlerror();
    if (e) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj(e, -1));
        dlclose(h);
        return TCL_ERROR;
    }
    dlclose(h);
    char buf[32];
    snprintf(buf, sizeof buf, "%p", p);
    Tcl_SetResult(interp, buf, TCL_VOLATILE);
    return TCL_OK;
}

// NAME dump ?LINE?
// The application's or a line's records and handles, for debugging.
int DumpCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *line = nullptr;
    int given = 0;
    PARSE("tapi/line !s", &line, &given);
    char buf[64];
    Tcl_Obj *l = Tcl_NewListObj(0, nullptr);
    if (!given) {
        OoInfo info;
        TapiApp *a = Oo_GetInfo(interp, argv[2], &info) && info.deleteProc == AppDelete ? (TapiApp *)info.clientData
                                                                                         : nullptr;
        Tcl_ResetResult(interp);
        snprintf(buf, sizeof buf, "0x%" PRIx32, a ? a->lineApp : 0);
        KeyText(l, "apphandle", buf);
        Dl_info dl;
        snprintf(buf, sizeof buf, "%p", dladdr((void *)&DumpCmd, &dl) ? dl.dli_fbase : nullptr);
        KeyText(l, "module", buf);
        Tcl_SetObjResult(interp, l);
        return TCL_OK;
    }
    TapiLineRecord *r = GetLine(interp, line);
    if (!r) {
        Tcl_DecrRefCount(Tcl_NewObj());
        Tcl_IncrRefCount(l);
        Tcl_DecrRefCount(l);
        return TCL_ERROR;
    }
    snprintf(buf, sizeof buf, "%p", (void *)r->app);
    KeyText(l, "line", buf);
    KeyText(l, "callback", r->callback);
    KeyText(l, "objname", r->name);
    snprintf(buf, sizeof buf, "%p", (void *)r->calls);
    KeyText(l, "calls", buf);
    snprintf(buf, sizeof buf, "0x%" PRIx32, r->line);
    KeyText(l, "h", buf);
    Tcl_SetObjResult(interp, l);
    return TCL_OK;
}

struct Method {
    const char *name;
    Tcl_CmdProc *proc;
    bool safe;
};

const Method kMethods[] = {
    {"init", InitCmd, true},           {"numdevs", NumdevsCmd, true},   {"devcaps", DevcapsCmd, true},
    {"open", OpenCmd, true},           {"audioID", AudioIDCmd, true},   {"calls", CallsCmd, true},
    {"monitordigits", MonitordigitsCmd, true}, {"callinfo", CallinfoCmd, true},
    {"callstatus", CallstatusCmd, true}, {"drop", DropCmd, true},      {"answer", AnswerCmd, true},
    {"deallocate", DeallocateCmd, true}, {"gendigits", GendigitsCmd, true},
    // Loading a library runs its code: never in a safe interpreter.
    {"lib", LibCmd, false},            {"dump", DumpCmd, true},
};

// An exit in the middle of a call: the applications are shut down, so that nothing of
// the line layer calls back while the process ends.
void ExitHandler(ClientData) {
    for (TapiApp *a : gApps)
        if (a->lineApp) {
            lineShutdown(a->lineApp);
            a->lineApp = 0;
        }
}

}  // namespace

void Tapi_RegisterTypes() { Cntr_RegisterType(&kLineCntr); }

int Tapi_Init(Tcl_Interp *interp, int safe) {
    static bool exitHandler = false;
    if (!exitHandler) {
        Tcl_CreateExitHandler(ExitHandler, nullptr);
        exitHandler = true;
    }
    Oo_Create(interp, "TapiLine", nullptr, nullptr);
    Oo_SetIsa(interp, "TapiLine", "Thing");
    for (const Method &m : kMethods)
        if (m.safe || !safe) Oo_CreateMethod(interp, "TapiLine", m.name, m.proc, nullptr, nullptr);
    return TCL_OK;
}
