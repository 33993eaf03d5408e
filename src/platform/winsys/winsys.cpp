#include "winsys.h"

#include <X11/Xlib.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

extern char **environ;

namespace {

bool xFailed = false;

int noteError(Display *, XErrorEvent *) {
    xFailed = true;
    return 0;
}

}  // namespace

bool Winsys_SetTopmost(unsigned long window, bool on) {
    Display *d = XOpenDisplay(nullptr);
    if (!d) return false;
    XErrorHandler old = XSetErrorHandler(noteError);
    xFailed = false;
    XWindowAttributes attr;
    bool ok = window != 0 && XGetWindowAttributes(d, window, &attr) != 0;
    XSync(d, False);
    ok = ok && !xFailed;
    if (ok) {
        XEvent ev;
        memset(&ev, 0, sizeof ev);
        ev.xclient.type = ClientMessage;
        ev.xclient.window = window;
        ev.xclient.message_type = XInternAtom(d, "_NET_WM_STATE", False);
        ev.xclient.format = 32;
        ev.xclient.data.l[0] = on ? 1 : 0;  // add or remove
        ev.xclient.data.l[1] = static_cast<long>(XInternAtom(d, "_NET_WM_STATE_ABOVE", False));
        ev.xclient.data.l[3] = 1;  // asked by an application
        XSendEvent(d, attr.root, False, SubstructureRedirectMask | SubstructureNotifyMask, &ev);
        XSync(d, False);
        ok = !xFailed;
    }
    XSetErrorHandler(old);
    XCloseDisplay(d);
    return ok;
}

void Winsys_Logoff() {
    const char *mode = getenv("TOVIK_LOGOFF");
    if (mode && strncmp(mode, "record:", 7) == 0) {
        if (FILE *f = fopen(mode + 7, "a")) {
            fputs("logoff\n", f);
            fclose(f);
        }
        return;
    }
    const char *session = getenv("XDG_SESSION_ID");
    if (!session || !*session) return;
    std::string id = session;
    char *argv[] = {const_cast<char *>("loginctl"), const_cast<char *>("terminate-session"), &id[0], nullptr};
    pid_t pid;
    if (posix_spawnp(&pid, "loginctl", nullptr, nullptr, argv, environ) == 0) waitpid(pid, nullptr, 0);
}
