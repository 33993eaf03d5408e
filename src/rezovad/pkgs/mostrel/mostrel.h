// The Mostrel package: generic commands over the objects of the registry,
// whatever package made them, raw byte buffers, and remote evaluation.
// Each concern registers its own commands.
#ifndef TOVIK_MOSTREL_H
#define TOVIK_MOSTREL_H

#include <tcl.h>

// Object commands (obj.cpp): the full set, and the set for safe
// interpreters (no file access, no search path). Both answer an
// interpreter code.
int ObjRegisterCommands(Tcl_Interp *interp);
int ObjRegisterSafeCommands(Tcl_Interp *interp);

// The channel of that name, when it is open for want (TCL_READABLE or
// TCL_WRITABLE); else null with the message in the result.
Tcl_Channel MostrelChannel(Tcl_Interp *interp, const char *name, int want);

// The raw command (raw.cpp), in normal and safe interpreters alike.
int RawInit(Tcl_Interp *interp);

// The context command (net.cpp): servers and links over TCP. Not for safe
// interpreters, which may open no socket.
int NetInit(Tcl_Interp *interp);

// Register the record types of the package's objects: "objfile", and the
// three messages of remote evaluation.
void ObjRegisterTypes();
void NetRegisterTypes();

#endif
