// Creation commands of the display widgets.
#pragma once

#include <tcl.h>

int LwaveCmd(ClientData mainWindow, Tcl_Interp *interp, int argc, const char **argv);
int LlolaCmd(ClientData mainWindow, Tcl_Interp *interp, int argc, const char **argv);
int LscaleCmd(ClientData mainWindow, Tcl_Interp *interp, int argc, const char **argv);
int LtwodCmd(ClientData mainWindow, Tcl_Interp *interp, int argc, const char **argv);
