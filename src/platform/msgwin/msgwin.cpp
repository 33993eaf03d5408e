// Message windows over the Tcl event queue of the creating thread.
#include "msgwin.h"

#include <tcl.h>

#include <map>
#include <mutex>
#include <string>

struct MsgWin {
    uint64_t id;
    std::string name;
    MsgWinProc *proc;
    void *clientData;
    Tcl_ThreadId thread;
};

namespace {

// Queued messages name their window by a serial number, not a pointer, so that a message
// left behind by a destroyed window can never reach a new window at the same address.
struct Registry {
    std::mutex lock;
    uint64_t nextId = 1;
    std::map<uint64_t, MsgWin *> byId;
    std::map<std::string, MsgWin *> byName;
};

Registry &registry() {
    static Registry *r = new Registry;   // never destroyed: device threads may post at exit
    return *r;
}

struct MsgEvent {
    Tcl_Event header;   // must come first
    uint64_t window;
    unsigned message;
    uintptr_t p0, p1;
};

int DeliverProc(Tcl_Event *ev, int flags) {
    if (!(flags & TCL_WINDOW_EVENTS)) return 0;
    MsgEvent *m = (MsgEvent *)ev;
    MsgWin *win = nullptr;
    {
        Registry &r = registry();
        std::lock_guard<std::mutex> g(r.lock);
        auto it = r.byId.find(m->window);
        if (it != r.byId.end()) win = it->second;
    }
    if (win) win->proc(win, m->message, m->p0, m->p1);
    return 1;
}

int DropFilter(Tcl_Event *ev, ClientData cd) {
    return ev->proc == DeliverProc && ((MsgEvent *)ev)->window == *(uint64_t *)cd;
}

}  // namespace

extern "C" int MsgWin_Create(const char *name, MsgWinProc *proc, void *clientData, MsgWin **out) {
    if (!name || !proc || !out) return MSGWIN_EINVAL;
    Registry &r = registry();
    std::lock_guard<std::mutex> g(r.lock);
    if (r.byName.count(name)) return MSGWIN_EEXIST;
    MsgWin *w = new MsgWin{r.nextId++, name, proc, clientData, Tcl_GetCurrentThread()};
    r.byId[w->id] = w;
    r.byName[w->name] = w;
    *out = w;
    return MSGWIN_OK;
}

extern "C" MsgWin *MsgWin_Find(const char *name) {
    Registry &r = registry();
    std::lock_guard<std::mutex> g(r.lock);
    auto it = r.byName.find(name ? name : "");
    return it == r.byName.end() ? nullptr : it->second;
}

extern "C" int MsgWin_Post(MsgWin *win, unsigned message, uintptr_t p0, uintptr_t p1) {
    Registry &r = registry();
    std::lock_guard<std::mutex> g(r.lock);
    // The pointer is checked against the live windows before it is read.
    bool live = false;
    for (auto &kv : r.byName)
        if (kv.second == win) { live = true; break; }
    if (!live) return MSGWIN_EINVAL;
    MsgEvent *m = (MsgEvent *)Tcl_Alloc(sizeof(MsgEvent));
    m->header.proc = DeliverProc;
    m->header.nextPtr = nullptr;
    m->window = win->id;
    m->message = message;
    m->p0 = p0;
    m->p1 = p1;
    // Queued while the registry lock is held, so a concurrent destroy either sees the
    // message in the queue (and drops it) or the post sees the window gone.
    Tcl_ThreadQueueEvent(win->thread, &m->header, TCL_QUEUE_TAIL);
    Tcl_ThreadAlert(win->thread);
    return MSGWIN_OK;
}

extern "C" intptr_t MsgWin_DefaultProc(MsgWin *, unsigned, uintptr_t, uintptr_t) { return 0; }

extern "C" void *MsgWin_ClientData(MsgWin *win) { return win ? win->clientData : nullptr; }

extern "C" const char *MsgWin_Name(MsgWin *win) { return win ? win->name.c_str() : ""; }

extern "C" int MsgWin_Destroy(MsgWin *win) {
    Registry &r = registry();
    uint64_t id;
    bool ownThread;
    {
        std::lock_guard<std::mutex> g(r.lock);
        auto it = r.byName.find(win ? win->name : std::string());
        if (!win || it == r.byName.end() || it->second != win) return MSGWIN_EINVAL;
        r.byName.erase(it);
        r.byId.erase(win->id);
        id = win->id;
        ownThread = win->thread == Tcl_GetCurrentThread();
        delete win;
    }
    // Messages still queued would find no window and be ignored; on the owning thread
    // they are removed at once so they do not linger in the queue.
    if (ownThread) Tcl_DeleteEvents(DropFilter, &id);
    return MSGWIN_OK;
}

extern "C" const char *MsgWin_ErrorText(int code) {
    switch (code) {
    case MSGWIN_OK: return "the operation completed successfully";
    case MSGWIN_EINVAL: return "invalid window handle";
    case MSGWIN_EEXIST: return "a window of that name already exists";
    case MSGWIN_ENOTCL: return "no event loop on this thread";
    default: return "unknown window error";
    }
}
