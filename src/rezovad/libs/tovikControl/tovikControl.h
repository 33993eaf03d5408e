/* Embedding control: lets a program that does not link the interpreter open
 * one, evaluate scripts in it and read the results.
 *
 * Contract:
 *  - tovikControl_Open makes an interpreter with the standard
 *    initialisation (a failure of it is not reported) and with the
 *    toolkit's package folder on auto_path: the "tcl" folder beside this
 *    library (lib/tcl of a build or install tree), after the folders of
 *    TCLLIBPATH.
 *  - tovikControl_Eval answers the interpreter's completion code (0 ok,
 *    1 error, ...); tovikControl_Result the result text, valid until the
 *    next call on that handle.
 *  - Handles are independent, each with its own interpreter, and belong to
 *    the thread that opened them. No locks are taken.
 */
#ifndef TOVIK_CONTROL_H
#define TOVIK_CONTROL_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct TovikControl TovikControl;

TovikControl *tovikControl_Open(void);
int tovikControl_Eval(TovikControl *handle, const char *script);
const char *tovikControl_Result(TovikControl *handle);
void tovikControl_Close(TovikControl *handle);

#ifdef __cplusplus
}
#endif

#endif
