// The Mostrel package: generic commands over the objects of the registry,
// whatever package made them. Each concern registers its own commands.
#ifndef TOVIK_MOSTREL_H
#define TOVIK_MOSTREL_H

#include <tcl.h>

// Object commands (obj.cpp): the full set, and the set for safe
// interpreters (no file access). Both answer an interpreter code.
int ObjRegisterCommands(Tcl_Interp *interp);
int ObjRegisterSafeCommands(Tcl_Interp *interp);

#endif
