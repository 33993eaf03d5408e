// The binding between Tcl and the synthesiser's Lisp: the remembered
// interpreter, Lisp evaluation for the `festival` command, and the Lisp
// functions that call back into Tcl or publish a wave.
#pragma once

#include <tcl.h>

#include "wave_handoff.h"

// The interpreter that Lisp calls back into.
void set_tcl_interp(Tcl_Interp *interp);
// The remembered interpreter; made (with `festival` in it) when there is none.
Tcl_Interp *get_tcl_interp();

// Whether the caller runs on the thread that started the synthesiser (true
// before it is started).
bool Festival_OnStartThread();

// Creates the `festival` command in interp.
void Festival_CreateEvalCmd(Tcl_Interp *interp);

// Registers tovik.slash, tovik.quote and tovik.wave.info.
void Festival_RegisterTovikFunctions();

// Registers tcl_eval and proclaims the module "tcl".
void tcl_module_init();

// Evaluates the first Lisp expression of text under its own error catcher
// and leaves the outcome in interp's result.
int Festival_EvalLisp(Tcl_Interp *interp, const char *text);

// Remembers where start-up ran so that later evaluations run where the Lisp
// garbage collector scans the stack.
void Festival_MarkStackBase(const char *here);

// After an error unwound to a catcher whose frame holds `live`: forgets the
// garbage-collector protections of the frames below it, which are gone.
void Festival_DropDeadProtections(const char *live);

// The record that `wave import` reads.
extern TovikWaveHandoff festival_wave_handoff;
