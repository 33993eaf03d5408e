// context: remote evaluation over TCP. A server context accepts
// connections that log in by challenge and response; a link is the client
// side. After the login each side sends one object per message: requests
// to evaluate, their replies, alias requests, and whatever objects scripts
// send, dispatched by the name of their type.
#include <errno.h>
#include <netdb.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <list>
#include <map>
#include <string>
#include <vector>

#include "auth.h"
#include "cmds.h"
#include "mostrel.h"
#include "net.h"
#include "obj.h"
#include "yastro.h"

namespace {

// Limits on what a peer can make us hold: login lines, and one message.
const size_t kMaxLoginLine = 256;
const size_t kMaxFrame = 64u << 20;
const int kLoginTimeoutMs = 5000;
const int kClientLoginTimeoutMs = 10000;
const char kVersion[] = "1.0.0";

struct NetContext;
struct NetConnection;

// A handler for one container name: built in, or a script.
struct Handler {
    enum Kind { Eval, Alias, LinkEval, Script } kind;
    std::string script;
};
typedef std::map<std::string, Handler> Handlers;

struct NetAlias {
    Tcl_Command token = nullptr;
    NetConnection *owner = nullptr;
    std::string target;
};

struct NetConnection {
    std::string peer;
    NetContext *context = nullptr;
    std::list<NetAlias *> aliases; // newest first
    Tcl_Channel channel = nullptr;
    Tcl_TimerToken timer = nullptr; // set while the login is in progress
    int peerPort = 0;
    int id = -1;
    uint32_t sequence = 0;
    char challenge[AUTH_RAND_LENGTH + 1] = "";
};

struct NetContext {
    std::string host;
    Tcl_Interp *interp = nullptr;
    std::list<NetConnection *> connections;
    NetConnection *current = nullptr;
    Tcl_Command command = nullptr;
    Tcl_Channel listener = nullptr;
    Handlers handlers;
    std::map<std::string, std::string> events;
    int port = 0;
    int nextId = 0;
    char password[12] = "";
    static constexpr const char *eventNames = "connect close die child parent";
};

struct NetLink {
    Tcl_Interp *interp = nullptr;
    Tcl_Command command = nullptr;
    Tcl_Channel channel = nullptr;
    Handlers handlers;
    std::map<std::string, std::string> events;
    uint32_t sequence = 0;
    static constexpr const char *eventNames = "die";
};

template <typename T>
void deleteLater(char *p) {
    delete reinterpret_cast<T *>(p);
}

int fail(Tcl_Interp *interp, const std::string &s) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj(s.c_str(), -1));
    return TCL_ERROR;
}

std::string commandName(Tcl_Interp *interp, Tcl_Command cmd) {
    return cmd ? Tcl_GetCommandName(interp, cmd) : "";
}

// Evaluates script with the words appended as list elements, at global
// level; its code.
int evalWith(Tcl_Interp *interp, const std::string &script, const std::vector<std::string> &words) {
    Tcl_DString cmd;
    Tcl_DStringInit(&cmd);
    Tcl_DStringAppend(&cmd, script.c_str(), -1);
    for (const std::string &w : words) Tcl_DStringAppendElement(&cmd, w.c_str());
    int code = Tcl_GlobalEval(interp, Tcl_DStringValue(&cmd));
    Tcl_DStringFree(&cmd);
    return code;
}

// Element i ({address host port}) of a socket's -sockname or -peername.
bool socketName(Tcl_Channel chan, const char *option, std::string &host, std::string &port) {
    Tcl_DString ds;
    Tcl_DStringInit(&ds);
    bool ok = false;
    if (Tcl_GetChannelOption(nullptr, chan, option, &ds) == TCL_OK) {
        int n = 0;
        const char **items = nullptr;
        if (Tcl_SplitList(nullptr, Tcl_DStringValue(&ds), &n, &items) == TCL_OK) {
            if (n >= 3) {
                host = items[1];
                port = items[2];
                ok = true;
            }
            Tcl_Free(reinterpret_cast<char *>(items));
        }
    }
    Tcl_DStringFree(&ds);
    return ok;
}

// A port given as a number or a service name.
bool getPort(Tcl_Interp *interp, const char *text, int *port) {
    char *end = nullptr;
    long v = strtol(text, &end, 0);
    if (*text && end && *end == '\0') {
        if (v < 0 || v > 65535) return fail(interp, std::string("port \"") + text + "\" out of range"), false;
        *port = static_cast<int>(v);
        return true;
    }
    struct servent *s = getservbyname(text, "tcp");
    if (!s) return fail(interp, std::string("expected integer or service name but got \"") + text + "\""), false;
    *port = ntohs(static_cast<uint16_t>(s->s_port));
    return true;
}

int setStreamOptions(Tcl_Interp *interp, Tcl_Channel chan) {
    if (Tcl_SetChannelOption(interp, chan, "-translation", "binary") != TCL_OK ||
        Tcl_SetChannelOption(interp, chan, "-buffering", "full") != TCL_OK ||
        Tcl_SetChannelOption(interp, chan, "-buffersize", "1000000") != TCL_OK)
        return TCL_ERROR;
    return TCL_OK;
}

void writeText(Tcl_Channel chan, const std::string &s) {
    Tcl_Write(chan, s.data(), static_cast<int>(s.size()));
    Tcl_Flush(chan);
}

// Writes one message and flushes it, so that the peer sees it at once.
int writeMessage(Tcl_Interp *interp, Tcl_Channel chan, const CntrType *type, NetMessage *m) {
    ObjEntry e = {m, nullptr, nullptr, type, type->name};
    if (Obj_Write(interp, chan, &e) != TCL_OK) return TCL_ERROR;
    if (Tcl_Flush(chan) != TCL_OK) return fail(interp, std::string("error writing to peer: ") + Tcl_PosixError(interp));
    return TCL_OK;
}

// Login lines may end in CR LF, as a peer's text channel writes them.
void stripReturn(std::string &line) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
}

// The code of a script evaluated at top level: a return there gives the
// code it asks for, as it would leave a procedure.
int topLevelCode(Tcl_Interp *interp, int code) {
    if (code != TCL_RETURN) return code;
    Tcl_Obj *options = Tcl_GetReturnOptions(interp, code);
    Tcl_IncrRefCount(options);
    Tcl_Obj *key = Tcl_NewStringObj("-code", -1), *levelKey = Tcl_NewStringObj("-level", -1), *value = nullptr;
    Tcl_IncrRefCount(key);
    Tcl_IncrRefCount(levelKey);
    int level = 1, newCode = TCL_OK;
    if (Tcl_DictObjGet(nullptr, options, levelKey, &value) == TCL_OK && value) Tcl_GetIntFromObj(nullptr, value, &level);
    if (Tcl_DictObjGet(nullptr, options, key, &value) == TCL_OK && value) Tcl_GetIntFromObj(nullptr, value, &newCode);
    Tcl_DecrRefCount(key);
    Tcl_DecrRefCount(levelKey);
    Tcl_DecrRefCount(options);
    return level <= 1 ? newCode : TCL_RETURN;
}

// Reads one object from a peer; its name is the result.
int readObject(Tcl_Interp *interp, Tcl_Channel chan) { return Obj_ReadLimited(interp, chan, kMaxFrame); }

const char *codeName(int code, char *buf) {
    switch (code) {
    case TCL_OK: return "ok";
    case TCL_ERROR: return "error";
    case TCL_RETURN: return "return";
    case TCL_BREAK: return "break";
    case TCL_CONTINUE: return "continue";
    }
    snprintf(buf, 16, "%d", code);
    return buf;
}

// The interpreter's state after an evaluation, as a reply.
void fillReply(Tcl_Interp *interp, int code, NetMessage *reply) {
    reply->number = code;
    if (code == TCL_ERROR) {
        const char *info = Tcl_GetVar(interp, "errorInfo", TCL_GLOBAL_ONLY);
        const char *ecode = Tcl_GetVar(interp, "errorCode", TCL_GLOBAL_ONLY);
        if (info) reply->set(1, info);
        if (ecode) reply->set(2, ecode);
    }
    reply->set(0, Tcl_GetStringResult(interp));
}

// Takes over a reply as this command's outcome: its result, its code and,
// on error, the peer's errorInfo and errorCode.
int takeReply(Tcl_Interp *interp, const NetMessage &reply) {
    Tcl_ResetResult(interp);
    if (reply.number == TCL_ERROR) {
        Tcl_AddErrorInfo(interp, reply.text[1].c_str());
        Tcl_SetObjErrorCode(interp, Tcl_NewStringObj(reply.has[2] ? reply.text[2].c_str() : "NONE", -1));
    }
    Tcl_SetObjResult(interp, Tcl_NewStringObj(reply.text[0].c_str(), -1));
    return reply.number;
}

// ---- dispatch ----------------------------------------------------------------

int serverDispatch(NetConnection *conn, const std::string &name);
int linkDispatch(NetLink *link, const std::string &name);
void closeConnection(NetConnection *conn);
void closeLink(NetLink *link);

// Destroys an object a handler refused, if it is still there, keeping the
// handler's result.
void discard(Tcl_Interp *interp, const std::string &name) {
    Tcl_Obj *saved = Tcl_GetObjResult(interp);
    Tcl_IncrRefCount(saved);
    if (Obj_Get(interp, nullptr, name.c_str())) Obj_Destroy(interp, name.c_str());
    Tcl_SetObjResult(interp, saved);
    Tcl_DecrRefCount(saved);
}

// Waits for the reply of sequence seq on chan; every other object that
// arrives meanwhile is dispatched (so the peer's requests are served at any
// depth). On TCL_OK, reply holds the reply. A failed read answers
// TCL_ERROR with readFailed set.
template <typename Dispatch>
int waitReply(Tcl_Interp *interp, Tcl_Channel chan, uint32_t seq, NetMessage *reply, bool *readFailed,
              Dispatch dispatch) {
    *readFailed = false;
    for (;;) {
        if (readObject(interp, chan) != TCL_OK) {
            *readFailed = true;
            return TCL_ERROR;
        }
        std::string name = Tcl_GetStringResult(interp);
        Tcl_ResetResult(interp);
        ObjEntry *e = Obj_Get(interp, nullptr, name.c_str());
        if (e && e->type == &netResultType && static_cast<NetMessage *>(e->data)->sequence == seq) {
            *reply = *static_cast<NetMessage *>(e->data);
            Obj_Destroy(interp, name.c_str());
            Tcl_ResetResult(interp);
            return TCL_OK;
        }
        int code = dispatch(name);
        if (code != TCL_OK) return code;
    }
}

// The words passed to a script handler for an object of type typeName.
int scriptHandler(Tcl_Interp *interp, const std::string &script, std::vector<std::string> words,
                  const std::string &name) {
    ObjEntry *e = Obj_Get(interp, nullptr, name.c_str());
    if (!e) return TCL_ERROR;
    words.push_back(Cntr_Name(e->type));
    if (e->type == &netResultType) {
        NetMessage m = *static_cast<NetMessage *>(e->data);
        Obj_Destroy(interp, name.c_str());
        char buf[16];
        words.push_back(std::to_string(m.sequence));
        words.push_back(codeName(m.number, buf));
        for (int i = 0; i < 3; i++) words.push_back(m.text[i]);
    } else {
        words.push_back(name);
    }
    Tcl_Preserve(interp);
    int code = evalWith(interp, script, words);
    Tcl_Release(interp);
    return code;
}

// ---- server side -------------------------------------------------------------

NetConnection *findConnection(Tcl_Interp *interp, NetContext *ctx, int id) {
    for (NetConnection *c : ctx->connections)
        if (c->id == id) return c;
    fail(interp, "connection " + std::to_string(id) + " does not exist");
    return nullptr;
}

// Runs the script set for an event (or for "unknown") with the words
// appended, keeping the record alive meanwhile; nothing runs in an
// interpreter being deleted.
int fireScript(Tcl_Interp *interp, ClientData record, const std::map<std::string, std::string> &events,
               const char *event, const std::vector<std::string> &words) {
    if (Tcl_InterpDeleted(interp)) return TCL_OK;
    auto it = events.find(event);
    if (it == events.end()) it = events.find("unknown");
    if (it == events.end()) return TCL_OK;
    std::string script = it->second;
    Tcl_Preserve(interp);
    Tcl_Preserve(record);
    int code = evalWith(interp, script, words);
    Tcl_Release(record);
    Tcl_Release(interp);
    return code;
}

int fireEvent(NetContext *ctx, const char *event, int id) {
    return fireScript(ctx->interp, ctx, ctx->events, event,
                      {commandName(ctx->interp, ctx->command), std::to_string(id), event});
}

void aliasDeleted(ClientData cd) {
    NetAlias *a = static_cast<NetAlias *>(cd);
    if (a->owner) a->owner->aliases.remove(a);
    delete a;
}

int aliasCmd(ClientData cd, Tcl_Interp *interp, int argc, const char *argv[]);

void createAlias(NetConnection *conn, const std::string &name, const std::string &target) {
    NetAlias *a = new NetAlias;
    a->owner = conn;
    a->target = target;
    a->token = Tcl_CreateCommand(conn->context->interp, name.c_str(), aliasCmd, a, aliasDeleted);
    conn->aliases.push_front(a);
}

NetAlias *findAlias(NetConnection *conn, const std::string &name) {
    for (NetAlias *a : conn->aliases)
        if (commandName(conn->context->interp, a->token) == name) return a;
    return nullptr;
}

// A server alias command: runs its target on the client with the words
// given, and answers the client's result, code and error information.
int aliasCmd(ClientData cd, Tcl_Interp *interp, int argc, const char *argv[]) {
    NetAlias *a = static_cast<NetAlias *>(cd);
    NetConnection *conn = a->owner;
    NetMessage req;
    Tcl_DString script;
    Tcl_DStringInit(&script);
    Tcl_DStringAppend(&script, a->target.c_str(), -1);
    for (int i = 1; i < argc; i++) Tcl_DStringAppendElement(&script, argv[i]);
    req.set(0, Tcl_DStringValue(&script));
    Tcl_DStringFree(&script);
    req.set(1, argv[0]);
    req.number = 1;
    req.sequence = conn->sequence++;
    Tcl_Preserve(conn);
    Tcl_Channel chan = conn->channel;
    NetMessage reply;
    bool readFailed = false;
    int code = writeMessage(interp, chan, &netRequestType, &req);
    bool writeFailed = code != TCL_OK;
    if (!writeFailed)
        code = waitReply(interp, chan, req.sequence, &reply, &readFailed,
                         [conn](const std::string &name) { return serverDispatch(conn, name); });
    // A channel that failed is out of step: nothing more can be read from it.
    if ((writeFailed || readFailed) && conn->channel == chan) {
        std::string msg = Tcl_GetStringResult(interp);
        closeConnection(conn);
        Tcl_SetObjResult(interp, Tcl_NewStringObj(msg.c_str(), -1));
    }
    Tcl_Release(conn);
    if (code != TCL_OK) return code;
    return takeReply(interp, reply);
}

// Evaluation request: evaluates the script and replies (on a connection
// with a channel; a temporary one only evaluates).
int evalRequest(NetConnection *conn, const std::string &name) {
    NetContext *ctx = conn->context;
    Tcl_Interp *interp = ctx->interp;
    NetMessage *req = static_cast<NetMessage *>(Obj_GetData(interp, "mostrel", name.c_str()));
    if (!req) return TCL_ERROR;
    NetMessage reply;
    reply.sequence = req->sequence;
    std::string script = req->text[0];
    Obj_Destroy(interp, name.c_str());
    Tcl_Preserve(interp);
    Tcl_Preserve(conn);
    Tcl_Preserve(ctx);
    NetConnection *previous = ctx->current;
    ctx->current = conn;
    int code = topLevelCode(interp, Tcl_GlobalEval(interp, script.c_str()));
    ctx->current = previous;
    int outcome = code;
    if (conn->channel) {
        fillReply(interp, code, &reply);
        Tcl_ResetResult(interp);
        outcome = writeMessage(interp, conn->channel, &netResultType, &reply);
        if (outcome != TCL_OK) closeConnection(conn);
    }
    Tcl_Release(ctx);
    Tcl_Release(conn);
    Tcl_Release(interp);
    return outcome;
}

// Alias request of a link: look up (0), define or delete (1), list (2).
int aliasRequest(NetConnection *conn, const std::string &name) {
    Tcl_Interp *interp = conn->context->interp;
    if (!conn->channel) return fail(interp, "alias requests need a connection");
    NetMessage *req = static_cast<NetMessage *>(Obj_GetData(interp, "mostrel_alias", name.c_str()));
    if (!req) return TCL_ERROR;
    NetMessage reply;
    reply.sequence = req->sequence;
    const std::string &alias = req->text[0];
    switch (req->number) {
    case 0:
        if (NetAlias *a = findAlias(conn, alias)) reply.set(0, a->target);
        break;
    case 1:
        if (req->has[1]) {
            createAlias(conn, alias, req->text[1]);
            reply.set(0, alias);
        } else if (NetAlias *a = findAlias(conn, alias)) {
            Tcl_DeleteCommandFromToken(interp, a->token);
        } else {
            reply.number = 1;
            reply.set(0, "alias \"" + alias + "\" not found");
        }
        break;
    case 2: {
        Tcl_Obj *list = Tcl_NewListObj(0, nullptr);
        Tcl_IncrRefCount(list);
        for (NetAlias *a : conn->aliases)
            Tcl_ListObjAppendElement(nullptr, list, Tcl_NewStringObj(commandName(interp, a->token).c_str(), -1));
        reply.set(0, Tcl_GetString(list));
        Tcl_DecrRefCount(list);
        break;
    }
    default:
        reply.number = 1;
        reply.set(0, "bad opcode");
    }
    Obj_Destroy(interp, name.c_str());
    Tcl_Preserve(conn);
    int code = writeMessage(interp, conn->channel, &netResultType, &reply);
    if (code != TCL_OK) closeConnection(conn);
    Tcl_Release(conn);
    return code;
}

int serverDispatch(NetConnection *conn, const std::string &name) {
    NetContext *ctx = conn->context;
    Tcl_Interp *interp = ctx->interp;
    ObjEntry *e = Obj_Get(interp, nullptr, name.c_str());
    if (!e) return TCL_ERROR;
    auto it = ctx->handlers.find(Cntr_Name(e->type));
    if (it == ctx->handlers.end()) it = ctx->handlers.find("unknown");
    if (it == ctx->handlers.end()) return Obj_Destroy(interp, name.c_str());
    Handler h = it->second;
    int code;
    switch (h.kind) {
    case Handler::Eval: code = evalRequest(conn, name); break;
    case Handler::Alias: code = aliasRequest(conn, name); break;
    default:
        Tcl_Preserve(ctx);
        code = scriptHandler(interp, h.script, {commandName(interp, ctx->command), std::to_string(conn->id)}, name);
        Tcl_Release(ctx);
    }
    if (code != TCL_OK) discard(interp, name);
    return code;
}

void closeConnection(NetConnection *conn) {
    if (conn->channel) Tcl_Close(nullptr, conn->channel);
}

void connectionClosed(ClientData cd) {
    NetConnection *conn = static_cast<NetConnection *>(cd);
    NetContext *ctx = conn->context;
    if (fireEvent(ctx, "close", conn->id) != TCL_OK) Tcl_BackgroundError(ctx->interp);
    ctx->connections.remove(conn);
    if (conn->timer) Tcl_DeleteTimerHandler(conn->timer);
    conn->timer = nullptr;
    conn->channel = nullptr;
    while (!conn->aliases.empty()) {
        NetAlias *a = conn->aliases.front();
        conn->aliases.pop_front();
        a->owner = nullptr;
        Tcl_DeleteCommandFromToken(ctx->interp, a->token);
    }
    Tcl_EventuallyFree(conn, deleteLater<NetConnection>);
}

void loginTimeout(ClientData cd) {
    NetConnection *conn = static_cast<NetConnection *>(cd);
    conn->timer = nullptr;
    writeText(conn->channel, "timeout waiting for password from " + conn->peer + "\n");
    closeConnection(conn);
}

void denyLogin(NetConnection *conn) {
    writeText(conn->channel, "access denied\n");
    closeConnection(conn);
}

// The login line arrives on a non-blocking channel: a half line waits for
// the rest (or the timer) without holding the interpreter.
void loginReadable(NetConnection *conn) {
    Tcl_Channel chan = conn->channel;
    Tcl_DString line;
    Tcl_DStringInit(&line);
    int n = Tcl_Gets(chan, &line);
    std::string text(Tcl_DStringValue(&line), Tcl_DStringLength(&line));
    Tcl_DStringFree(&line);
    stripReturn(text);
    if (n < 0) {
        if (Tcl_Eof(chan)) closeConnection(conn);
        else if (!Tcl_InputBlocked(chan) || static_cast<size_t>(Tcl_InputBuffered(chan)) > kMaxLoginLine)
            denyLogin(conn);
        return;
    }
    NetContext *ctx = conn->context;
    if (text.size() > kMaxLoginLine || !Auth_Check(text.c_str(), conn->challenge, ctx->password)) {
        denyLogin(conn);
        return;
    }
    if (fireEvent(ctx, "connect", conn->id) != TCL_OK) {
        if (conn->channel) {
            writeText(chan, std::string(Tcl_GetStringResult(ctx->interp)) + "\n");
            closeConnection(conn);
        }
        Tcl_ResetResult(ctx->interp);
        return;
    }
    if (!conn->channel) return; // the connect script closed it
    Tcl_DeleteTimerHandler(conn->timer);
    conn->timer = nullptr;
    Tcl_SetChannelOption(nullptr, chan, "-blocking", "1");
    writeText(chan, "OK\n");
}

void serverReadable(ClientData cd, int) {
    NetConnection *conn = static_cast<NetConnection *>(cd);
    Tcl_Preserve(conn);
    if (conn->timer) {
        loginReadable(conn);
    } else {
        Tcl_Interp *interp = conn->context->interp;
        if (readObject(interp, conn->channel) != TCL_OK) {
            closeConnection(conn);
        } else {
            std::string name = Tcl_GetStringResult(interp);
            Tcl_ResetResult(interp);
            if (serverDispatch(conn, name) != TCL_OK) Tcl_BackgroundError(interp);
        }
    }
    Tcl_Release(conn);
}

std::string localTime() {
    char buf[30];
    time_t now = time(nullptr);
    struct tm tm;
    localtime_r(&now, &tm);
    strftime(buf, sizeof buf, "%a %b %d %H:%M:%S %Y", &tm);
    return buf;
}

void acceptProc(ClientData cd, Tcl_Channel chan, char *address, int port) {
    NetContext *ctx = static_cast<NetContext *>(cd);
    Tcl_Interp *interp = ctx->interp;
    if (setStreamOptions(interp, chan) != TCL_OK) {
        writeText(chan, std::string("ERROR: \n") + Tcl_GetStringResult(interp));
        Tcl_BackgroundError(interp);
        Tcl_Close(nullptr, chan);
        return;
    }
    writeText(chan, std::string(GS_Spf(0, "%s(%lu) Mostrel-%s ready at %s\n", Tcl_GetHostName(),
                                       static_cast<unsigned long>(getpid()), kVersion, localTime().c_str())));
    NetConnection *conn = new NetConnection;
    std::string peerPort;
    if (!socketName(chan, "-peername", conn->peer, peerPort)) conn->peer = address;
    conn->channel = chan;
    conn->context = ctx;
    conn->peerPort = port;
    conn->id = ctx->nextId++;
    ctx->connections.push_back(conn);
    Auth_RandString(conn->challenge);
    writeText(chan, std::string(conn->challenge) + "\n");
    Tcl_SetChannelOption(nullptr, chan, "-blocking", "0");
    conn->timer = Tcl_CreateTimerHandler(kLoginTimeoutMs, loginTimeout, conn);
    Tcl_CreateCloseHandler(chan, connectionClosed, conn);
    Tcl_CreateChannelHandler(chan, TCL_READABLE | TCL_EXCEPTION, serverReadable, conn);
}

// ---- context sub-commands -------------------------------------------------------

NetContext *contextOf(ClientData cd) { return static_cast<NetContext *>(cd); }

// CTX list
// The ids of the connections, oldest first.
int ContextListCmd(ClientData cd, Tcl_Interp *interp, int argc, const char *argv[]) {
    if (Cmds_ParseArgs(interp, 2, argc, argv, "")) return TCL_ERROR;
    for (NetConnection *c : contextOf(cd)->connections) Tcl_AppendElement(interp, std::to_string(c->id).c_str());
    return TCL_OK;
}

// CTX nuke ?ID ...?
// Closes the connections with those ids; words that are no id of an open
// connection are skipped.
int ContextNukeCmd(ClientData cd, Tcl_Interp *interp, int argc, const char *argv[]) {
    int count = 0;
    const char **words = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "connection... %l", &count, &words)) return TCL_ERROR;
    NetContext *ctx = contextOf(cd);
    for (int i = 0; i < count; i++) {
        int id = 0;
        if (Tcl_GetInt(nullptr, words[i], &id) != TCL_OK) continue;
        for (NetConnection *c : ctx->connections)
            if (c->id == id) {
                closeConnection(c);
                break;
            }
    }
    Tcl_ResetResult(interp);
    return TCL_OK;
}

// CTX alias ID ?SRCCMD? ?TARGET ...?
// The connection's aliases; one alias's target; or a new alias SRCCMD that
// runs TARGET on the client ({} deletes SRCCMD).
int ContextAliasCmd(ClientData cd, Tcl_Interp *interp, int argc, const char *argv[]) {
    int id = 0, count = 0;
    const char *src = nullptr;
    const char **words = nullptr;
    int bad = argc == 3   ? Cmds_ParseArgs(interp, 2, argc, argv, "connection %i", &id)
              : argc == 4 ? Cmds_ParseArgs(interp, 2, argc, argv, "connection %i srcCmd %s", &id, &src)
                          : Cmds_ParseArgs(interp, 2, argc, argv, "connection %i srcCmd %s targetCmd... %l", &id,
                                           &src, &count, &words);
    if (bad) return TCL_ERROR;
    NetConnection *conn = findConnection(interp, contextOf(cd), id);
    if (!conn) return TCL_ERROR;
    Tcl_ResetResult(interp);
    if (argc == 3) {
        for (NetAlias *a : conn->aliases) Tcl_AppendElement(interp, commandName(interp, a->token).c_str());
        return TCL_OK;
    }
    NetAlias *a = findAlias(conn, src);
    if (argc == 4) {
        if (a) Tcl_SetObjResult(interp, Tcl_NewStringObj(a->target.c_str(), -1));
        return TCL_OK;
    }
    if (count == 1 && words[0][0] == '\0') {
        if (!a) return fail(interp, std::string("alias \"") + src + "\" not found");
        Tcl_DeleteCommandFromToken(interp, a->token);
        return TCL_OK;
    }
    char *target = Tcl_Merge(count, words);
    createAlias(conn, src, target);
    Tcl_Free(target);
    return TCL_OK;
}

// Sends each named object on chan and flushes; a failed write closes it.
template <typename Close>
int sendObjects(Tcl_Interp *interp, Tcl_Channel chan, int count, const char **names, Close close) {
    for (int i = 0; i < count; i++) {
        ObjEntry *e = Obj_Get(interp, nullptr, names[i]);
        if (!e) return TCL_ERROR;
        if (Obj_Write(interp, chan, e) != TCL_OK) {
            std::string msg = Tcl_GetStringResult(interp);
            close();
            return fail(interp, msg);
        }
    }
    if (Tcl_Flush(chan) != TCL_OK) {
        std::string msg = std::string("error writing to peer: ") + Tcl_PosixError(interp);
        close();
        return fail(interp, msg);
    }
    Tcl_ResetResult(interp);
    return TCL_OK;
}

// Reads one object from chan; a failed read closes it.
template <typename Close>
int recvObject(Tcl_Interp *interp, Tcl_Channel chan, Close close) {
    if (readObject(interp, chan) == TCL_OK) return TCL_OK;
    std::string msg = Tcl_GetStringResult(interp);
    close();
    return fail(interp, msg);
}

// CTX send ID ?OBJECT ...?
int ContextSendCmd(ClientData cd, Tcl_Interp *interp, int argc, const char *argv[]) {
    int id = 0, count = 0;
    const char **names = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "connection %i object... %l", &id, &count, &names)) return TCL_ERROR;
    NetConnection *conn = findConnection(interp, contextOf(cd), id);
    if (!conn) return TCL_ERROR;
    if (conn->timer) return fail(interp, "connection " + std::to_string(id) + " has not logged in");
    return sendObjects(interp, conn->channel, count, names, [conn] { closeConnection(conn); });
}

// CTX recv ID
// The next object the connection sends.
int ContextRecvCmd(ClientData cd, Tcl_Interp *interp, int argc, const char *argv[]) {
    int id = 0;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "connection %i", &id)) return TCL_ERROR;
    NetConnection *conn = findConnection(interp, contextOf(cd), id);
    if (!conn) return TCL_ERROR;
    if (conn->timer) return fail(interp, "connection " + std::to_string(id) + " has not logged in");
    return recvObject(interp, conn->channel, [conn] { closeConnection(conn); });
}

// CTX info ?ID?
// The context's host, port, password and fork; or a connection's peer,
// sequence and login state.
int ContextInfoCmd(ClientData cd, Tcl_Interp *interp, int argc, const char *argv[]) {
    int id = 0, haveId = 0;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "connection !i", &id, &haveId)) return TCL_ERROR;
    NetContext *ctx = contextOf(cd);
    std::vector<std::string> words;
    if (!haveId) {
        words = {"hostname", ctx->host, "port", std::to_string(ctx->port), "password", ctx->password, "fork", "0"};
    } else {
        NetConnection *c = findConnection(interp, ctx, id);
        if (!c) return TCL_ERROR;
        words = {"peername",       c->peer,       "peerport",     std::to_string(c->peerPort),
                 "sequence",       std::to_string(c->sequence), "authentication",
                 c->timer ? "in progress" : "successful"};
    }
    Tcl_ResetResult(interp);
    for (const std::string &w : words) Tcl_AppendElement(interp, w.c_str());
    return TCL_OK;
}

// CTX client
// The id of the connection whose request is being evaluated.
int ContextClientCmd(ClientData cd, Tcl_Interp *interp, int argc, const char *argv[]) {
    if (Cmds_ParseArgs(interp, 2, argc, argv, "")) return TCL_ERROR;
    NetContext *ctx = contextOf(cd);
    if (!ctx->current) return fail(interp, std::string("invoked \"") + argv[0] + " " + argv[1] + "\" in parent interpreter");
    Tcl_SetObjResult(interp, Tcl_NewIntObj(ctx->current->id));
    return TCL_OK;
}

// CMD event ?EVENT ?SCRIPT ...??
// The events with scripts; or EVENT's script, set first when SCRIPT words
// are given ({} removes it).
int eventCmd(std::map<std::string, std::string> &events, Tcl_Interp *interp, int argc, const char *argv[]) {
    Tcl_ResetResult(interp);
    if (argc == 2) {
        for (auto &kv : events) Tcl_AppendElement(interp, kv.first.c_str());
        return TCL_OK;
    }
    const char *event = nullptr;
    int count = 0;
    const char **words = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "event %s callbackproc... ?l", &event, &count, &words))
        return TCL_ERROR;
    if (count == 1 && words[0][0] == '\0') {
        events.erase(event);
    } else if (count > 0) {
        char *merged = Tcl_Merge(count, words);
        events[event] = merged;
        Tcl_Free(merged);
    }
    auto it = events.find(event);
    Tcl_SetObjResult(interp, Tcl_NewStringObj(it == events.end() ? "" : it->second.c_str(), -1));
    return TCL_OK;
}

// CMD container ?NAME ?SCRIPT ...??
// The container names with scripts; or NAME's handler, set first when
// SCRIPT words are given ({} removes it). Built-in handlers read as
// "callback is an internal C function".
int containerCmd(Handlers &handlers, Tcl_Interp *interp, int argc, const char *argv[]) {
    Tcl_ResetResult(interp);
    if (argc == 2) {
        for (auto &kv : handlers)
            if (kv.second.kind == Handler::Script) Tcl_AppendElement(interp, kv.first.c_str());
        return TCL_OK;
    }
    const char *name = nullptr;
    int count = 0;
    const char **words = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "container %s callbackproc... ?l", &name, &count, &words))
        return TCL_ERROR;
    if (count == 1 && words[0][0] == '\0') {
        handlers.erase(name);
    } else if (count > 0) {
        char *merged = Tcl_Merge(count, words);
        handlers[name] = Handler{Handler::Script, merged};
        Tcl_Free(merged);
    }
    auto it = handlers.find(name);
    const char *text = it == handlers.end()                   ? ""
                       : it->second.kind == Handler::Script ? it->second.script.c_str()
                                                              : "callback is an internal C function";
    Tcl_SetObjResult(interp, Tcl_NewStringObj(text, -1));
    return TCL_OK;
}

// CMD eventlist
// The events that scripts can be set for.
template <typename Record>
int EventListCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    if (Cmds_ParseArgs(interp, 2, argc, argv, "")) return TCL_ERROR;
    Tcl_SetResult(interp, const_cast<char *>(Record::eventNames), TCL_STATIC);
    return TCL_OK;
}

template <typename Record>
int EventCmd(ClientData cd, Tcl_Interp *interp, int argc, const char *argv[]) {
    return eventCmd(static_cast<Record *>(cd)->events, interp, argc, argv);
}

template <typename Record>
int ContainerCmd(ClientData cd, Tcl_Interp *interp, int argc, const char *argv[]) {
    return containerCmd(static_cast<Record *>(cd)->handlers, interp, argc, argv);
}

// CTX process OBJECT
// Dispatches a local object as if a connection had sent it: the one whose
// request runs, else a connection without channel (id -1) that evaluates
// requests without replying and keeps nothing.
int ContextProcessCmd(ClientData cd, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "object %s", &name)) return TCL_ERROR;
    NetContext *ctx = contextOf(cd);
    if (!Obj_Get(interp, nullptr, name)) return TCL_ERROR;
    Tcl_ResetResult(interp);
    if (ctx->current) return serverDispatch(ctx->current, name);
    NetConnection *temp = new NetConnection;
    temp->context = ctx;
    Tcl_Preserve(temp);
    int code = serverDispatch(temp, name);
    Tcl_Release(temp);
    Tcl_EventuallyFree(temp, deleteLater<NetConnection>);
    return code;
}

void contextClosed(ClientData cd) {
    NetContext *ctx = static_cast<NetContext *>(cd);
    if (fireEvent(ctx, "die", -1) != TCL_OK) Tcl_BackgroundError(ctx->interp);
    while (!ctx->connections.empty()) {
        NetConnection *c = ctx->connections.front();
        size_t before = ctx->connections.size();
        closeConnection(c);
        if (ctx->connections.size() == before) ctx->connections.pop_front();
    }
    ctx->listener = nullptr;
    // The context command holds the record until it is deleted.
    if (!ctx->command) Tcl_EventuallyFree(ctx, deleteLater<NetContext>);
}

void contextDeleted(ClientData cd) {
    NetContext *ctx = static_cast<NetContext *>(cd);
    ctx->command = nullptr;
    if (ctx->listener) Tcl_Close(nullptr, ctx->listener);
    else Tcl_EventuallyFree(ctx, deleteLater<NetContext>);
}

const SubCmdEntry contextCommands[] = {
    {"list", ContextListCmd},           {"nuke", ContextNukeCmd},   {"alias", ContextAliasCmd},
    {"send", ContextSendCmd},           {"recv", ContextRecvCmd},   {"info", ContextInfoCmd},
    {"client", ContextClientCmd},       {"event", EventCmd<NetContext>}, {"eventlist", EventListCmd<NetContext>},
    {"container", ContainerCmd<NetContext>}, {"process", ContextProcessCmd}, {nullptr, nullptr},
};

// A switch command of that name over record, replacing any command there.
Tcl_Command makeSwitch(Tcl_Interp *interp, const char *name, ClientData record, Tcl_CmdDeleteProc *deleted,
                       const SubCmdEntry *table) {
    Tcl_CmdInfo info;
    if (Tcl_GetCommandInfo(interp, name, &info)) Tcl_DeleteCommand(interp, name);
    Tcl_Command cmd = Cmds_CreateSwitchCmd(interp, name, record, deleted);
    for (const SubCmdEntry *e = table; e->name; e++) Cmds_CreateSubCmd(interp, name, e->name, e->proc, record, nullptr);
    return cmd;
}

// context tcp NAME ?-port PORT? ?-password TEXT? ?-myaddr ADDRESS?
// A server context listening on PORT (any free one by default); answers
// the port. Without -password one is made (see NAME info).
int TcpCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr, *portText = nullptr, *password = nullptr, *myaddr = nullptr;
    int havePort = 0, havePassword = 0, haveAddr = 0;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "name %s -port %s %n -password %s %n -myaddr %s %n", &name, &portText,
                       &havePort, &password, &havePassword, &myaddr, &haveAddr))
        return TCL_ERROR;
    int port = 0;
    if (havePort && !getPort(interp, portText, &port)) return TCL_ERROR;
    if (havePassword && !*password) return fail(interp, "the password must not be empty");
    NetContext *ctx = new NetContext;
    ctx->interp = interp;
    ctx->listener = Tcl_OpenTcpServer(interp, port, haveAddr ? myaddr : nullptr, acceptProc, ctx);
    if (!ctx->listener) {
        delete ctx;
        return TCL_ERROR;
    }
    std::string portElement;
    if (!socketName(ctx->listener, "-sockname", ctx->host, portElement)) {
        Tcl_Close(nullptr, ctx->listener);
        delete ctx;
        return fail(interp, "could not read the address of the listening socket");
    }
    ctx->port = atoi(portElement.c_str());
    if (havePassword) snprintf(ctx->password, sizeof ctx->password, "%.8s", password);
    else Auth_RandString(ctx->password);
    ctx->handlers["mostrel"] = Handler{Handler::Eval, ""};
    ctx->handlers["mostrel_alias"] = Handler{Handler::Alias, ""};
    Tcl_CreateCloseHandler(ctx->listener, contextClosed, ctx);
    ctx->command = makeSwitch(interp, name, ctx, contextDeleted, contextCommands);
    Tcl_SetObjResult(interp, Tcl_NewIntObj(ctx->port));
    return TCL_OK;
}

// ---- client side ---------------------------------------------------------------

NetLink *linkOf(ClientData cd) { return static_cast<NetLink *>(cd); }

int fireLinkEvent(NetLink *link, const char *event) {
    return fireScript(link->interp, link, link->events, event, {commandName(link->interp, link->command), event});
}

void closeLink(NetLink *link) {
    if (link->channel) Tcl_Close(nullptr, link->channel);
}

// Evaluation request from the server: a script (flag 0), or a command and
// its words called without further substitution (flag 1, an alias call).
int linkEvalRequest(NetLink *link, const std::string &name) {
    Tcl_Interp *interp = link->interp;
    NetMessage *req = static_cast<NetMessage *>(Obj_GetData(interp, "mostrel", name.c_str()));
    if (!req) return TCL_ERROR;
    NetMessage reply;
    reply.sequence = req->sequence;
    Tcl_Preserve(interp);
    Tcl_Preserve(link);
    int code;
    if (req->number != 1) {
        code = topLevelCode(interp, Tcl_GlobalEval(interp, req->text[0].c_str()));
    } else {
        Tcl_Obj *list = Tcl_NewStringObj(req->text[0].c_str(), -1);
        Tcl_IncrRefCount(list);
        int n = 0;
        Tcl_Obj **words = nullptr;
        Tcl_CmdInfo info;
        if (Tcl_ListObjGetElements(interp, list, &n, &words) != TCL_OK) {
            code = TCL_ERROR;
        } else if (n == 0 || !Tcl_GetCommandInfo(interp, Tcl_GetString(words[0]), &info)) {
            code = fail(interp, std::string("alias target \"") + (n ? Tcl_GetString(words[0]) : "") + "\" for \"" +
                                    req->text[1] + "\" not found");
            Tcl_AddErrorInfo(interp, "");
        } else {
            code = Tcl_EvalObjv(interp, n, words, TCL_EVAL_GLOBAL);
        }
        Tcl_DecrRefCount(list);
    }
    fillReply(interp, code, &reply);
    Tcl_ResetResult(interp);
    int outcome = TCL_OK;
    if (link->channel) {
        outcome = writeMessage(interp, link->channel, &netResultType, &reply);
        if (outcome != TCL_OK) closeLink(link);
    }
    if (Obj_Get(interp, nullptr, name.c_str())) Obj_Destroy(interp, name.c_str());
    if (outcome == TCL_OK) Tcl_ResetResult(interp);
    Tcl_Release(link);
    Tcl_Release(interp);
    return outcome;
}

int linkDispatch(NetLink *link, const std::string &name) {
    Tcl_Interp *interp = link->interp;
    ObjEntry *e = Obj_Get(interp, nullptr, name.c_str());
    if (!e) return TCL_ERROR;
    auto it = link->handlers.find(Cntr_Name(e->type));
    if (it == link->handlers.end()) it = link->handlers.find("unknown");
    if (it == link->handlers.end()) return Obj_Destroy(interp, name.c_str());
    Handler h = it->second;
    int code;
    if (h.kind == Handler::LinkEval) {
        code = linkEvalRequest(link, name);
    } else {
        Tcl_Preserve(link);
        code = scriptHandler(interp, h.script, {commandName(interp, link->command)}, name);
        Tcl_Release(link);
    }
    if (code != TCL_OK) discard(interp, name);
    return code;
}

void linkReadable(ClientData cd, int) {
    NetLink *link = linkOf(cd);
    Tcl_Interp *interp = link->interp;
    Tcl_Preserve(link);
    if (readObject(interp, link->channel) != TCL_OK) {
        closeLink(link);
    } else {
        std::string name = Tcl_GetStringResult(interp);
        Tcl_ResetResult(interp);
        if (linkDispatch(link, name) != TCL_OK) Tcl_BackgroundError(interp);
    }
    Tcl_Release(link);
}

void linkClosed(ClientData cd) {
    NetLink *link = linkOf(cd);
    link->channel = nullptr;
    if (fireLinkEvent(link, "die") != TCL_OK) Tcl_BackgroundError(link->interp);
    if (link->command) {
        Tcl_Command cmd = link->command;
        link->command = nullptr;
        Tcl_DeleteCommandFromToken(link->interp, cmd);
    }
    Tcl_EventuallyFree(link, deleteLater<NetLink>);
}

void linkDeleted(ClientData cd) {
    NetLink *link = linkOf(cd);
    if (!link->command) return;
    link->command = nullptr;
    closeLink(link);
}

// Sends a request of the link and waits for its reply; a failed read or
// write closes the link.
int linkRequest(Tcl_Interp *interp, NetLink *link, const CntrType *type, NetMessage *req, NetMessage *reply) {
    if (!link->channel) return fail(interp, "link is closed");
    req->sequence = link->sequence++;
    Tcl_Preserve(link);
    int code = writeMessage(interp, link->channel, type, req);
    bool readFailed = false;
    if (code != TCL_OK) {
        std::string msg = Tcl_GetStringResult(interp);
        closeLink(link);
        fail(interp, msg);
    } else {
        code = waitReply(interp, link->channel, req->sequence, reply, &readFailed,
                         [link](const std::string &name) { return linkDispatch(link, name); });
        if (readFailed) {
            std::string msg = Tcl_GetStringResult(interp);
            closeLink(link);
            fail(interp, msg);
        }
    }
    Tcl_Release(link);
    return code;
}

// LINK alias ?SRCCMD? ?TARGET ...?
// In the server's interpreter: the aliases of this link, the target of one,
// or a new alias SRCCMD that runs TARGET here ({} deletes SRCCMD).
int LinkAliasCmd(ClientData cd, Tcl_Interp *interp, int argc, const char *argv[]) {
    NetMessage req, reply;
    const char *src = nullptr;
    int count = 0;
    const char **words = nullptr;
    if (argc == 2) {
        if (Cmds_ParseArgs(interp, 2, argc, argv, "")) return TCL_ERROR;
        req.number = 2;
    } else if (argc == 3) {
        if (Cmds_ParseArgs(interp, 2, argc, argv, "srcCmd %s", &src)) return TCL_ERROR;
        req.number = 0;
        req.set(0, src);
    } else {
        if (Cmds_ParseArgs(interp, 2, argc, argv, "srcCmd %s target... %l", &src, &count, &words)) return TCL_ERROR;
        req.number = 1;
        req.set(0, src);
        if (count == 1 && words[0][0] != '\0') {
            req.set(1, words[0]);
        } else if (count > 1) {
            char *merged = Tcl_Merge(count, words);
            req.set(1, merged);
            Tcl_Free(merged);
        }
    }
    int code = linkRequest(interp, linkOf(cd), &netAliasType, &req, &reply);
    if (code != TCL_OK) return code;
    Tcl_SetObjResult(interp, Tcl_NewStringObj(reply.text[0].c_str(), -1));
    return reply.number;
}

// LINK send ?OBJECT ...?
int LinkSendCmd(ClientData cd, Tcl_Interp *interp, int argc, const char *argv[]) {
    int count = 0;
    const char **names = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "object... %l", &count, &names)) return TCL_ERROR;
    NetLink *link = linkOf(cd);
    if (!link->channel) return fail(interp, "link is closed");
    return sendObjects(interp, link->channel, count, names, [link] { closeLink(link); });
}

// LINK recv
// The next object the server sends.
int LinkRecvCmd(ClientData cd, Tcl_Interp *interp, int argc, const char *argv[]) {
    if (Cmds_ParseArgs(interp, 2, argc, argv, "")) return TCL_ERROR;
    NetLink *link = linkOf(cd);
    if (!link->channel) return fail(interp, "link is closed");
    return recvObject(interp, link->channel, [link] { closeLink(link); });
}

std::string concatWords(int count, const char **words) {
    char *joined = Tcl_Concat(count, words);
    std::string s = joined;
    Tcl_Free(joined);
    return s;
}

// LINK eval ARG ...
// Evaluates the words, joined, in the server's interpreter; answers its
// result and code, with errorInfo and errorCode on error.
int LinkEvalCmd(ClientData cd, Tcl_Interp *interp, int argc, const char *argv[]) {
    int count = 0;
    const char **words = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "commands... %l", &count, &words)) return TCL_ERROR;
    NetMessage req, reply;
    req.set(0, concatWords(count, words));
    int code = linkRequest(interp, linkOf(cd), &netRequestType, &req, &reply);
    if (code != TCL_OK) return code;
    return takeReply(interp, reply);
}

// LINK async ARG ...
// Sends the words for evaluation without waiting; answers the request's
// sequence number. The reply arrives as a "mostrel_result" object.
int LinkAsyncCmd(ClientData cd, Tcl_Interp *interp, int argc, const char *argv[]) {
    int count = 0;
    const char **words = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "commands... %l", &count, &words)) return TCL_ERROR;
    NetLink *link = linkOf(cd);
    if (!link->channel) return fail(interp, "link is closed");
    NetMessage req;
    req.set(0, concatWords(count, words));
    req.sequence = link->sequence++;
    if (writeMessage(interp, link->channel, &netRequestType, &req) != TCL_OK) {
        std::string msg = Tcl_GetStringResult(interp);
        closeLink(link);
        return fail(interp, msg);
    }
    Tcl_SetObjResult(interp, Tcl_NewWideIntObj(req.sequence));
    return TCL_OK;
}

// LINK info
// hostname and hostport of this end; peername, peerport and sequence.
int LinkInfoCmd(ClientData cd, Tcl_Interp *interp, int argc, const char *argv[]) {
    if (Cmds_ParseArgs(interp, 2, argc, argv, "")) return TCL_ERROR;
    NetLink *link = linkOf(cd);
    if (!link->channel) return fail(interp, "link is closed");
    std::string host, port, peer, peerPort;
    Tcl_ResetResult(interp);
    socketName(link->channel, "-sockname", host, port);
    for (const std::string &w : {std::string("hostname"), host, std::string("hostport"), port})
        Tcl_AppendElement(interp, w.c_str());
    if (socketName(link->channel, "-peername", peer, peerPort)) {
        for (const std::string &w : {std::string("peername"), peer, std::string("peerport"), peerPort,
                                     std::string("sequence"), std::to_string(link->sequence)})
            Tcl_AppendElement(interp, w.c_str());
    }
    return TCL_OK;
}

// LINK process OBJECT
// Dispatches a local object as if the server had sent it.
int LinkProcessCmd(ClientData cd, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "object %s", &name)) return TCL_ERROR;
    if (!Obj_Get(interp, nullptr, name)) return TCL_ERROR;
    Tcl_ResetResult(interp);
    return linkDispatch(linkOf(cd), name);
}

// LINK buffered
// The number of input bytes buffered on the link's channel.
int LinkBufferedCmd(ClientData cd, Tcl_Interp *interp, int argc, const char *argv[]) {
    if (Cmds_ParseArgs(interp, 2, argc, argv, "")) return TCL_ERROR;
    NetLink *link = linkOf(cd);
    Tcl_SetObjResult(interp, Tcl_NewIntObj(link->channel ? Tcl_InputBuffered(link->channel) : 0));
    return TCL_OK;
}

const SubCmdEntry linkCommands[] = {
    {"alias", LinkAliasCmd},     {"send", LinkSendCmd},           {"recv", LinkRecvCmd},
    {"eval", LinkEvalCmd},       {"async", LinkAsyncCmd},         {"info", LinkInfoCmd},
    {"event", EventCmd<NetLink>}, {"eventlist", EventListCmd<NetLink>}, {"container", ContainerCmd<NetLink>},
    {"process", LinkProcessCmd}, {"buffered", LinkBufferedCmd},   {nullptr, nullptr},
};

// Reads one login line within the deadline without blocking past it; a
// line over the limit is refused. -1 with errno set when none came.
int readLoginLine(Tcl_Channel chan, std::string &line, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        Tcl_DString ds;
        Tcl_DStringInit(&ds);
        int n = Tcl_Gets(chan, &ds);
        line.assign(Tcl_DStringValue(&ds), Tcl_DStringLength(&ds));
        Tcl_DStringFree(&ds);
        if (n >= 0) {
            if (line.size() > kMaxLoginLine) return Tcl_SetErrno(EMSGSIZE), -1;
            stripReturn(line);
            return static_cast<int>(line.size());
        }
        if (Tcl_Eof(chan)) return Tcl_SetErrno(ECONNRESET), -1;
        if (!Tcl_InputBlocked(chan)) return -1;
        if (static_cast<size_t>(Tcl_InputBuffered(chan)) > kMaxLoginLine) return Tcl_SetErrno(EMSGSIZE), -1;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return Tcl_SetErrno(ETIMEDOUT), -1;
        ClientData handle = nullptr;
        if (Tcl_GetChannelHandle(chan, TCL_READABLE, &handle) != TCL_OK) return Tcl_SetErrno(EBADF), -1;
        struct pollfd p = {static_cast<int>(reinterpret_cast<intptr_t>(handle)), POLLIN, 0};
        poll(&p, 1, static_cast<int>(left.count()));
    }
}

// context link NAME HOST PORT PASSWORD ?-myport PORT? ?-myaddr ADDRESS?
// Connects to a server context and logs in; NAME becomes the link command.
int LinkCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr, *host = nullptr, *portText = nullptr, *password = nullptr, *myport = nullptr,
               *myaddr = nullptr;
    int haveMyport = 0, haveAddr = 0;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "name %s host %s port %s password %s -myport %s %n -myaddr %s %n", &name,
                       &host, &portText, &password, &myport, &haveMyport, &myaddr, &haveAddr))
        return TCL_ERROR;
    int port = 0, localPort = 0;
    if (haveMyport && !getPort(interp, myport, &localPort)) return TCL_ERROR;
    if (!getPort(interp, portText, &port)) return TCL_ERROR;
    Tcl_Channel chan = Tcl_OpenTcpClient(interp, port, host, haveAddr ? myaddr : nullptr, localPort, 0);
    if (!chan) return TCL_ERROR;
    if (setStreamOptions(interp, chan) != TCL_OK || Tcl_SetChannelOption(interp, chan, "-blocking", "0") != TCL_OK) {
        Tcl_Close(nullptr, chan);
        return TCL_ERROR;
    }
    // A silent or slow server gives up the login after a while, not never.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kClientLoginTimeoutMs);
    std::string greeting, challenge, answer;
    auto lost = [&]() {
        std::string msg = Tcl_PosixError(interp);
        Tcl_Close(nullptr, chan);
        return fail(interp, msg);
    };
    if (readLoginLine(chan, greeting, deadline) < 0 || readLoginLine(chan, challenge, deadline) <= 0) return lost();
    char response[AUTH_RESPONSE_LENGTH + 1];
    writeText(chan, std::string(Auth_Do(challenge.c_str(), password, response)) + "\n");
    if (readLoginLine(chan, answer, deadline) <= 0) return lost();
    if (answer != "OK") {
        Tcl_Close(nullptr, chan);
        return fail(interp, answer);
    }
    Tcl_SetChannelOption(nullptr, chan, "-blocking", "1");
    NetLink *link = new NetLink;
    link->interp = interp;
    link->channel = chan;
    link->handlers["mostrel"] = Handler{Handler::LinkEval, ""};
    Tcl_CreateCloseHandler(chan, linkClosed, link);
    Tcl_CreateChannelHandler(chan, TCL_READABLE | TCL_EXCEPTION, linkReadable, link);
    link->command = makeSwitch(interp, name, link, linkDeleted, linkCommands);
    Tcl_ResetResult(interp);
    return TCL_OK;
}

const SubCmdEntry netCommands[] = {{"tcp", TcpCmd}, {"link", LinkCmd}, {nullptr, nullptr}};

// Collects the children that scripts started and left, for the life of the
// thread.
void reapTimer(ClientData cd) {
    Tcl_ReapDetachedProcs();
    Tcl_CreateTimerHandler(static_cast<int>(reinterpret_cast<intptr_t>(cd)), reapTimer, cd);
}

} // namespace

int NetInit(Tcl_Interp *interp) {
    Cmds_CreateSwitchCmd(interp, "context", nullptr, nullptr);
    int code = Cmds_CreateSubCmds(interp, "context", netCommands);
    // One reaping chain per thread, however many interpreters load us.
    static thread_local bool reaping = false;
    if (!reaping) {
        reaping = true;
        Tcl_CreateTimerHandler(10000, reapTimer, reinterpret_cast<ClientData>(intptr_t(10000)));
    }
    return code;
}
