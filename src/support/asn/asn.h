/* Asynchronous handlers: a key bound to a script that runs at the next safe
 * point after the key is marked, in the interpreter that bound it.
 *
 * Contract:
 *  - A key is any non-empty word. Each interpreter has at most one script
 *    per key; binding again replaces it. The script runs with %k replaced by
 *    the key, %s by a message saying why it was marked, and %% by %.
 *  - When the key is marked during a command of that interpreter, the
 *    script runs as the command returns: when it fails (for example
 *    "return -code error -errorcode %k {%s}") the command fails with the
 *    script's message and error code; when it succeeds, the command's own
 *    result stands. Marked outside any command (from the event loop), the
 *    script runs at global level and a failure becomes a background error.
 *  - Floating-point faults: the library never traps them (a trap would have
 *    to unwind through the faulting code). Code that computes calls
 *    Asn_FpClear before and Asn_FpCheck after its arithmetic; a division by
 *    zero, an invalid operation or an overflow in between marks the key it
 *    names ("SIGFPE" for the matrix commands), with the message "floating-
 *    point division by zero", "invalid floating-point operation" or
 *    "floating-point overflow".
 *  - Signals: a key that is the name of a catchable asynchronous signal
 *    (Asn_Signals lists them: "SIGINT", "SIGTERM", "SIGUSR1" ...) also
 *    catches that signal while a script is bound to it in any interpreter;
 *    the message is "received SIGINT". The signal handler only records the
 *    signal; a watcher thread marks the handlers, so nothing unsafe runs in
 *    signal context. When the last script of a signal goes, its previous
 *    disposition comes back. Synchronous signals (SIGFPE, SIGSEGV, SIGBUS,
 *    SIGILL) are never caught: their keys are plain keys.
 *  - Every function returns TCL_OK or TCL_ERROR with a message in the
 *    interpreter result; Asn_ListCmd, Asn_InfoCmd and Asn_Signals answer in
 *    the result. Handlers live until deleted or until their interpreter is.
 */
#ifndef TOVIK_ASN_H
#define TOVIK_ASN_H

#include <tcl.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Prepares the interpreter's handler table; any number of calls. */
int Asn_Init(Tcl_Interp *interp);
int Asn_CreateCmd(Tcl_Interp *interp, const char *key, const char *script);
int Asn_DeleteCmd(Tcl_Interp *interp, const char *key);
/* Marks the key's handler of this interpreter (message "marked"). */
int Asn_MarkCmd(Tcl_Interp *interp, const char *key);
/* The keys bound in this interpreter, sorted; with all, {key script} pairs. */
int Asn_ListCmd(Tcl_Interp *interp, int all);
/* The script bound to key. */
int Asn_InfoCmd(Tcl_Interp *interp, const char *key);
/* The signal names that can be keys of caught signals. */
int Asn_Signals(Tcl_Interp *interp);

/* Marks key in interp with message; 0 when no script is bound to it. May be
 * called from any thread (not from a signal handler). */
int Asn_Raise(Tcl_Interp *interp, const char *key, const char *message);

/* Floating-point faults of the calling thread: see above. Asn_FpCheck
 * answers 1 and clears the flags when a fault happened, else 0. */
void Asn_FpClear(void);
int Asn_FpCheck(Tcl_Interp *interp, const char *key);

#ifdef __cplusplus
}
#endif

#endif
