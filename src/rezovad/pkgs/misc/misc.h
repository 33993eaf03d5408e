/* The command tracer and the console loop of the Misc package (cmd). */
#ifndef TOVIK_MISC_H
#define TOVIK_MISC_H

#include <tcl.h>

int Misc_TraceCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]);
int Misc_LoopCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]);

#endif
