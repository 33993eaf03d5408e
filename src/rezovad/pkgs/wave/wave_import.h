/* `wave import`: takes over the wave that the synthesiser has just made.
 *
 * The Festival package publishes one sample buffer at a time (its Lisp
 * function tovik.wave.info answers "0x<address> <samples> <rate>") and hangs
 * a record of it on its `festival` command (wave_handoff.h). `wave import`
 * copies from that buffer only: an address that is not the published one, or
 * more samples than were published, is refused instead of being read.
 */
#ifndef TOVIK_WAVE_IMPORT_H
#define TOVIK_WAVE_IMPORT_H

#include <tcl.h>

#ifdef __cplusplus
extern "C" {
#endif

/* wave import ADDRESS SAMPLES RATE: a new "wave" object holding a copy of
 * the published samples; its name is the result. */
int Wave_ImportCmd(ClientData clientData, Tcl_Interp *interp, int argc, const char *argv[]);

/* Adds `import` to the switch command `wave` when a `festival` command
 * exists in interp at this moment; call it from Wave_Init after the
 * sub-command table (never from the safe entry). */
void Wave_AddImport(Tcl_Interp *interp);

#ifdef __cplusplus
}
#endif

#endif
