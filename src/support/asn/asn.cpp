// Asynchronous handlers bound to keys (see asn.h).
#include "asn.h"

#include <semaphore.h>
#include <signal.h>

#include <atomic>
#include <cerrno>
#include <cfenv>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

const char *kAssocKey = "tovik::asn";

struct Handler {
    Tcl_Interp *interp;
    std::string key;
    std::string script;
    std::string message; // why it was marked; guarded by lock()
    Tcl_AsyncHandler token;
    int signo; // 0 for a plain key
};

struct Table {
    std::map<std::string, Handler *> byKey;
};

// Guards handler messages, tokens being marked and the signal bookkeeping:
// the watcher thread marks handlers while the interpreter's thread may be
// deleting them.
std::mutex &lock() {
    static std::mutex m;
    return m;
}

struct SignalName {
    const char *name;
    int signo;
};

// Asynchronous signals that a script may catch. Synchronous ones (SIGFPE,
// SIGSEGV, SIGBUS, SIGILL) cannot be returned from, and SIGKILL and SIGSTOP
// cannot be caught.
const SignalName kSignals[] = {
    {"SIGHUP", SIGHUP},     {"SIGINT", SIGINT},       {"SIGQUIT", SIGQUIT},   {"SIGPIPE", SIGPIPE},
    {"SIGALRM", SIGALRM},   {"SIGTERM", SIGTERM},     {"SIGUSR1", SIGUSR1},   {"SIGUSR2", SIGUSR2},
    {"SIGCHLD", SIGCHLD},   {"SIGCONT", SIGCONT},     {"SIGTSTP", SIGTSTP},   {"SIGTTIN", SIGTTIN},
    {"SIGTTOU", SIGTTOU},   {"SIGURG", SIGURG},       {"SIGXCPU", SIGXCPU},   {"SIGXFSZ", SIGXFSZ},
    {"SIGVTALRM", SIGVTALRM}, {"SIGPROF", SIGPROF},   {"SIGWINCH", SIGWINCH},
};

int signalOf(const std::string &key) {
    for (const SignalName &s : kSignals)
        if (key == s.name) return s.signo;
    return 0;
}

const char *nameOf(int signo) {
    for (const SignalName &s : kSignals)
        if (s.signo == signo) return s.name;
    return "signal";
}

// ---- signals --------------------------------------------------------------

struct SignalState {
    std::vector<Handler *> handlers; // every handler with a signo, all interpreters
    int users[64] = {};
    struct sigaction previous[64];
};

SignalState &signals() {
    static SignalState s;
    return s;
}

sem_t wakeup;
std::atomic<uint64_t> pending{0};

// Runs in signal context: only lock-free and async-signal-safe calls.
void onSignal(int signo) {
    int saved = errno;
    pending.fetch_or(uint64_t(1) << signo);
    sem_post(&wakeup);
    errno = saved;
}

void watch() {
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
    for (;;) {
        while (sem_wait(&wakeup) != 0) {
        }
        uint64_t mask = pending.exchange(0);
        std::lock_guard<std::mutex> g(lock());
        for (Handler *h : signals().handlers) {
            if (mask & (uint64_t(1) << h->signo)) {
                h->message = std::string("received ") + nameOf(h->signo);
                Tcl_AsyncMark(h->token);
            }
        }
    }
}

void startWatcher() {
    static std::once_flag once;
    std::call_once(once, [] {
        sem_init(&wakeup, 0, 0);
        std::thread(watch).detach();
    });
}

// Called with lock() held.
void catchSignal(Handler *h) {
    SignalState &s = signals();
    s.handlers.push_back(h);
    if (s.users[h->signo]++ == 0) {
        struct sigaction sa = {};
        sa.sa_handler = onSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        sigaction(h->signo, &sa, &s.previous[h->signo]);
    }
}

// Called with lock() held.
void releaseSignal(Handler *h) {
    SignalState &s = signals();
    for (size_t i = 0; i < s.handlers.size(); i++) {
        if (s.handlers[i] == h) {
            s.handlers.erase(s.handlers.begin() + i);
            break;
        }
    }
    if (--s.users[h->signo] == 0) sigaction(h->signo, &s.previous[h->signo], nullptr);
}

// ---- handlers -------------------------------------------------------------

std::string substitute(const std::string &script, const std::string &key, const std::string &message) {
    std::string out;
    for (size_t i = 0; i < script.size(); i++) {
        if (script[i] == '%' && i + 1 < script.size()) {
            char c = script[i + 1];
            if (c == 'k' || c == 's' || c == '%') {
                out += c == 'k' ? key : c == 's' ? message : std::string("%");
                i++;
                continue;
            }
        }
        out += script[i];
    }
    return out;
}

// Evaluates a handler script; a "return" in it counts as it would in a
// procedure body, so "return -code error" fails with TCL_ERROR.
int evalScript(Tcl_Interp *interp, const std::string &script) {
    int code = Tcl_EvalEx(interp, script.c_str(), -1, TCL_EVAL_GLOBAL);
    if (code != TCL_RETURN) return code;
    Tcl_Obj *result = Tcl_GetObjResult(interp);
    Tcl_IncrRefCount(result);
    Tcl_Obj *options = Tcl_GetReturnOptions(interp, code);
    Tcl_IncrRefCount(options);
    Tcl_Obj *levelKey = Tcl_NewStringObj("-level", -1);
    Tcl_IncrRefCount(levelKey);
    Tcl_Obj *levelObj = nullptr;
    int level = 1;
    if (Tcl_DictObjGet(nullptr, options, levelKey, &levelObj) == TCL_OK && levelObj)
        Tcl_GetIntFromObj(nullptr, levelObj, &level);
    if (Tcl_IsShared(options)) {
        Tcl_Obj *copy = Tcl_DuplicateObj(options);
        Tcl_IncrRefCount(copy);
        Tcl_DecrRefCount(options);
        options = copy;
    }
    Tcl_DictObjPut(nullptr, options, levelKey, Tcl_NewIntObj(level > 0 ? level - 1 : 0));
    code = Tcl_SetReturnOptions(interp, options);
    Tcl_SetObjResult(interp, result);
    Tcl_DecrRefCount(levelKey);
    Tcl_DecrRefCount(options);
    Tcl_DecrRefCount(result);
    return code;
}

int asyncProc(ClientData cd, Tcl_Interp *interp, int code) {
    Handler *h = static_cast<Handler *>(cd);
    std::string script;
    {
        std::lock_guard<std::mutex> g(lock());
        script = substitute(h->script, h->key, h->message.empty() ? "marked" : h->message);
        h->message.clear();
    }
    // The script may delete this handler: use only copies from here on.
    Tcl_Interp *target = h->interp;
    if (interp == target) {
        Tcl_InterpState state = Tcl_SaveInterpState(interp, code);
        int c = evalScript(interp, script);
        if (c == TCL_OK) return Tcl_RestoreInterpState(interp, state);
        Tcl_DiscardInterpState(state);
        return c;
    }
    // Not inside a command of the handler's interpreter.
    Tcl_Preserve(target);
    Tcl_InterpState state = Tcl_SaveInterpState(target, TCL_OK);
    int c = evalScript(target, script);
    if (c != TCL_OK && c != TCL_BREAK && c != TCL_CONTINUE) Tcl_BackgroundException(target, c);
    Tcl_RestoreInterpState(target, state);
    Tcl_Release(target);
    return code;
}

void deleteHandler(Handler *h) {
    {
        std::lock_guard<std::mutex> g(lock());
        if (h->signo) releaseSignal(h);
        Tcl_AsyncDelete(h->token);
    }
    delete h;
}

void deleteTable(ClientData cd, Tcl_Interp *) {
    Table *t = static_cast<Table *>(cd);
    for (auto &e : t->byKey) deleteHandler(e.second);
    delete t;
}

Table *tableOf(Tcl_Interp *interp) {
    Table *t = static_cast<Table *>(Tcl_GetAssocData(interp, kAssocKey, nullptr));
    if (!t) {
        t = new Table;
        Tcl_SetAssocData(interp, kAssocKey, deleteTable, t);
    }
    return t;
}

Handler *find(Tcl_Interp *interp, const char *key) {
    Table *t = tableOf(interp);
    auto it = t->byKey.find(key ? key : "");
    return it == t->byKey.end() ? nullptr : it->second;
}

int noHandler(Tcl_Interp *interp, const char *key) {
    Tcl_SetObjResult(interp, Tcl_ObjPrintf("no handler for key \"%s\"", key ? key : ""));
    return TCL_ERROR;
}

} // namespace

extern "C" {

int Asn_Init(Tcl_Interp *interp) {
    tableOf(interp);
    return TCL_OK;
}

int Asn_CreateCmd(Tcl_Interp *interp, const char *key, const char *script) {
    if (!key || !*key) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj("a handler key must not be empty", -1));
        return TCL_ERROR;
    }
    if (Handler *h = find(interp, key)) {
        std::lock_guard<std::mutex> g(lock());
        h->script = script ? script : "";
        return TCL_OK;
    }
    Handler *h = new Handler;
    h->interp = interp;
    h->key = key;
    h->script = script ? script : "";
    h->token = Tcl_AsyncCreate(asyncProc, h);
    h->signo = signalOf(key);
    if (h->signo) {
        startWatcher();
        std::lock_guard<std::mutex> g(lock());
        catchSignal(h);
    }
    tableOf(interp)->byKey[key] = h;
    return TCL_OK;
}

int Asn_DeleteCmd(Tcl_Interp *interp, const char *key) {
    Handler *h = find(interp, key);
    if (!h) return noHandler(interp, key);
    tableOf(interp)->byKey.erase(key);
    deleteHandler(h);
    return TCL_OK;
}

int Asn_Raise(Tcl_Interp *interp, const char *key, const char *message) {
    Handler *h = find(interp, key);
    if (!h) return 0;
    std::lock_guard<std::mutex> g(lock());
    h->message = message ? message : "";
    Tcl_AsyncMark(h->token);
    return 1;
}

int Asn_MarkCmd(Tcl_Interp *interp, const char *key) {
    if (!Asn_Raise(interp, key, "marked")) return noHandler(interp, key);
    return TCL_OK;
}

int Asn_ListCmd(Tcl_Interp *interp, int all) {
    Tcl_Obj *list = Tcl_NewListObj(0, nullptr);
    std::lock_guard<std::mutex> g(lock());
    for (auto &e : tableOf(interp)->byKey) {
        Tcl_Obj *key = Tcl_NewStringObj(e.first.c_str(), -1);
        if (all) {
            Tcl_Obj *pair[2] = {key, Tcl_NewStringObj(e.second->script.c_str(), -1)};
            Tcl_ListObjAppendElement(nullptr, list, Tcl_NewListObj(2, pair));
        } else {
            Tcl_ListObjAppendElement(nullptr, list, key);
        }
    }
    Tcl_SetObjResult(interp, list);
    return TCL_OK;
}

int Asn_InfoCmd(Tcl_Interp *interp, const char *key) {
    Handler *h = find(interp, key);
    if (!h) return noHandler(interp, key);
    std::lock_guard<std::mutex> g(lock());
    Tcl_SetObjResult(interp, Tcl_NewStringObj(h->script.c_str(), -1));
    return TCL_OK;
}

int Asn_Signals(Tcl_Interp *interp) {
    Tcl_Obj *list = Tcl_NewListObj(0, nullptr);
    for (const SignalName &s : kSignals) Tcl_ListObjAppendElement(nullptr, list, Tcl_NewStringObj(s.name, -1));
    Tcl_SetObjResult(interp, list);
    return TCL_OK;
}

void Asn_FpClear(void) { feclearexcept(FE_ALL_EXCEPT); }

int Asn_FpCheck(Tcl_Interp *interp, const char *key) {
    int raised = fetestexcept(FE_DIVBYZERO | FE_INVALID | FE_OVERFLOW);
    if (!raised) return 0;
    feclearexcept(FE_ALL_EXCEPT);
    const char *message = raised & FE_DIVBYZERO ? "floating-point division by zero"
                          : raised & FE_INVALID ? "invalid floating-point operation"
                                                : "floating-point overflow";
    Asn_Raise(interp, key, message);
    return 1;
}

} // extern "C"
