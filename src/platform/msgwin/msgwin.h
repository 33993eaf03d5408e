// Message windows: named mailboxes whose procedure runs on the thread that made them.
//
// Stand-in for hidden notification windows. A window is bound to the Tcl thread that
// created it; MsgWin_Post may be called from any thread and queues (message, p0, p1)
// in that thread's mailbox and wakes the thread, so messages are delivered in the
// order posted, one at a time, between Tcl commands, whenever the event loop is served
// with window events (vwait, update, Tcl_DoOneEvent). Each pass of the event loop
// delivers at most the messages that were waiting when it began, after the other
// events of that pass: posts that never stop cannot starve timers or file events.
//
// Callers rely on:
//  - FIFO order per window, and no delivery after MsgWin_Destroy (queued messages are
//    dropped; posting to a destroyed window fails with MSGWIN_EINVAL);
//  - p0 and p1 are pointer-sized, so record addresses travel intact;
//  - errors are small positive codes with a text from MsgWin_ErrorText.
#ifndef TOVIK_PLATFORM_MSGWIN_H
#define TOVIK_PLATFORM_MSGWIN_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct MsgWin MsgWin;

// Window procedure: runs on the window's thread. Its return value is not looked at.
typedef intptr_t (MsgWinProc)(MsgWin *win, unsigned message, uintptr_t p0, uintptr_t p1);

enum {
    MSGWIN_OK = 0,
    MSGWIN_EINVAL = 1,   // no such window, or destroyed
    MSGWIN_EEXIST = 2,   // a window of that name exists
    MSGWIN_ENOTCL = 3    // no Tcl notifier on this thread
};

// Creates the window `name` on the calling thread (which must run a Tcl notifier).
// `*win` receives the window; returns MSGWIN_OK or an error code.
int MsgWin_Create(const char *name, MsgWinProc *proc, void *clientData, MsgWin **win);

// The window of that name, or NULL.
MsgWin *MsgWin_Find(const char *name);

// Queues a message; safe from any thread. Returns MSGWIN_OK or MSGWIN_EINVAL.
int MsgWin_Post(MsgWin *win, unsigned message, uintptr_t p0, uintptr_t p1);

// Default handling of an unknown message: does nothing and answers 0.
intptr_t MsgWin_DefaultProc(MsgWin *win, unsigned message, uintptr_t p0, uintptr_t p1);

void *MsgWin_ClientData(MsgWin *win);
const char *MsgWin_Name(MsgWin *win);

// Destroys the window; call it on the window's thread. Messages still queued are dropped.
int MsgWin_Destroy(MsgWin *win);

// Text of an error code, never NULL.
const char *MsgWin_ErrorText(int code);

#ifdef __cplusplus
}
#endif
#endif
