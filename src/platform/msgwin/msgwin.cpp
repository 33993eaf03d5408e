// Message windows over the event loop of the creating thread.
#include "msgwin.h"

#include <tcl.h>

#include <algorithm>
#include <deque>
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

struct Message {
    uint64_t window;
    unsigned message;
    uintptr_t p0, p1;
};

// The messages waiting for one thread's windows. They are kept here rather than in
// Tcl's event queue: device threads can post faster than the thread handles them, and
// a Tcl queue that never empties keeps the notifier from ever looking at timers and
// files. An event source hands them over instead: each pass of the event loop queues
// one event per message waiting at that moment, behind the events of that pass.
struct Mailbox {
    Tcl_ThreadId thread;
    std::deque<Message> queue;
    size_t handedOver = 0;   // delivery events waiting in the thread's Tcl queue
    bool source = false;     // the event source is installed on the thread
    int windows = 0;
};

// Queued messages name their window by a serial number, not a pointer, so that a message
// left behind by a destroyed window can never reach a new window at the same address.
struct Registry {
    std::mutex lock;
    uint64_t nextId = 1;
    std::map<uint64_t, MsgWin *> byId;
    std::map<std::string, MsgWin *> byName;
    std::map<Tcl_ThreadId, Mailbox *> mailboxes;   // never freed: queued events point here
};

Registry &registry() {
    static Registry *r = new Registry;   // never destroyed: device threads may post at exit
    return *r;
}

struct DeliveryEvent {
    Tcl_Event header;   // must come first
    Mailbox *box;
};

// Delivers the oldest waiting message. Messages are taken in order when their event
// runs, so a window procedure that serves the event loop itself keeps the order.
int DeliverProc(Tcl_Event *ev, int flags) {
    if (!(flags & TCL_WINDOW_EVENTS)) return 0;
    Mailbox *box = ((DeliveryEvent *)ev)->box;
    Registry &r = registry();
    Message m;
    MsgWin *win = nullptr;
    {
        std::lock_guard<std::mutex> g(r.lock);
        if (box->handedOver > 0) box->handedOver--;
        if (box->queue.empty()) return 1;   // its window was destroyed
        m = box->queue.front();
        box->queue.pop_front();
        auto it = r.byId.find(m.window);
        if (it != r.byId.end()) win = it->second;
    }
    if (win) win->proc(win, m.message, m.p0, m.p1);
    return 1;
}

// Messages not yet handed over make the notifier poll rather than sleep.
void SetupProc(ClientData cd, int flags) {
    if (!(flags & TCL_WINDOW_EVENTS)) return;
    Mailbox *box = (Mailbox *)cd;
    Registry &r = registry();
    std::lock_guard<std::mutex> g(r.lock);
    if (box->queue.size() > box->handedOver) {
        Tcl_Time now = {0, 0};
        Tcl_SetMaxBlockTime(&now);
    }
}

void CheckProc(ClientData cd, int flags) {
    if (!(flags & TCL_WINDOW_EVENTS)) return;
    Mailbox *box = (Mailbox *)cd;
    Registry &r = registry();
    std::lock_guard<std::mutex> g(r.lock);
    for (; box->handedOver < box->queue.size(); box->handedOver++) {
        DeliveryEvent *ev = (DeliveryEvent *)Tcl_Alloc(sizeof(DeliveryEvent));
        ev->header.proc = DeliverProc;
        ev->header.nextPtr = nullptr;
        ev->box = box;
        Tcl_QueueEvent(&ev->header, TCL_QUEUE_TAIL);
    }
}

// A thread that ends takes its event source with it; a later thread that gets the same
// id starts afresh.
void ThreadGone(ClientData cd) {
    Mailbox *box = (Mailbox *)cd;
    Tcl_DeleteEventSource(SetupProc, CheckProc, box);
    Registry &r = registry();
    std::lock_guard<std::mutex> g(r.lock);
    box->source = false;
    box->handedOver = 0;
    box->queue.clear();
}

}  // namespace

extern "C" int MsgWin_Create(const char *name, MsgWinProc *proc, void *clientData, MsgWin **out) {
    if (!name || !proc || !out) return MSGWIN_EINVAL;
    Registry &r = registry();
    Mailbox *box;
    bool install;
    {
        std::lock_guard<std::mutex> g(r.lock);
        if (r.byName.count(name)) return MSGWIN_EEXIST;
        Tcl_ThreadId thread = Tcl_GetCurrentThread();
        Mailbox *&slot = r.mailboxes[thread];
        if (!slot) slot = new Mailbox{thread};
        box = slot;
        box->windows++;
        install = !box->source;
        box->source = true;
        MsgWin *w = new MsgWin{r.nextId++, name, proc, clientData, thread};
        r.byId[w->id] = w;
        r.byName[w->name] = w;
        *out = w;
    }
    if (install) {
        Tcl_CreateEventSource(SetupProc, CheckProc, box);
        Tcl_CreateThreadExitHandler(ThreadGone, box);
    }
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
    r.mailboxes[win->thread]->queue.push_back(Message{win->id, message, p0, p1});
    Tcl_ThreadAlert(win->thread);
    return MSGWIN_OK;
}

extern "C" intptr_t MsgWin_DefaultProc(MsgWin *, unsigned, uintptr_t, uintptr_t) { return 0; }

extern "C" void *MsgWin_ClientData(MsgWin *win) { return win ? win->clientData : nullptr; }

extern "C" const char *MsgWin_Name(MsgWin *win) { return win ? win->name.c_str() : ""; }

extern "C" int MsgWin_Destroy(MsgWin *win) {
    Registry &r = registry();
    Mailbox *uninstall = nullptr;
    {
        std::lock_guard<std::mutex> g(r.lock);
        auto it = r.byName.find(win ? win->name : std::string());
        if (!win || it == r.byName.end() || it->second != win) return MSGWIN_EINVAL;
        r.byName.erase(it);
        r.byId.erase(win->id);
        Mailbox *box = r.mailboxes[win->thread];
        // Its waiting messages go with it.
        uint64_t id = win->id;
        box->queue.erase(std::remove_if(box->queue.begin(), box->queue.end(),
                                        [id](const Message &m) { return m.window == id; }),
                         box->queue.end());
        // The event source can only be removed on its own thread; elsewhere it stays,
        // idle, for the thread's next window.
        if (--box->windows == 0 && box->source && win->thread == Tcl_GetCurrentThread()) {
            box->source = false;
            uninstall = box;
        }
        delete win;
    }
    if (uninstall) {
        Tcl_DeleteEventSource(SetupProc, CheckProc, uninstall);
        Tcl_DeleteThreadExitHandler(ThreadGone, uninstall);
    }
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
