/* Command frame: switch commands with sub-command tables, argument
 * templates, static print buffers and the printing of float results.
 *
 * Contract:
 *  - Cmds_CreateSwitchCmd keeps an existing switch command of that name with
 *    all its sub-commands, so several packages add to one command in any
 *    order. Sub-command procedures get the whole word list (word 0 the
 *    command, word 1 the sub-command); a "*" row gets every call whose word 1
 *    names no row. Table rows get the switch command's client data. When two
 *    packages add one name, the later one answers.
 *  - Cmds_ParseArgs(interp, first, argc, argv, template, out...) parses
 *    argv[first..argc-1] by the template (see below) and returns 0, or
 *    non-zero with a message in the interpreter result (a usage message of
 *    the form: wrong # args: should be "cmd sub TEMPLATE-AS-USAGE", or the
 *    converter's message for a malformed number). It never succeeds with
 *    text left in the result.
 *  - Template: names each followed by tokens. Positional names; options
 *    "-name". Tokens %s %i %f %d (a value), %n (after an option: 1 when
 *    given, else 0; always written), %l (int count, char** rest: every
 *    remaining word), ?s ?i ?f ?d (optional value, untouched when absent),
 *    ?l (optional rest), ?n (1 when the option is given, else untouched),
 *    !s !i !f !d (value pointer then int given: given 1 with a value word,
 *    0 for the bare name or an absent option; always written).
 *    Options may stand anywhere among the positional words. Option names
 *    match exactly (no abbreviations). A word that reads as a number is
 *    never taken for an option, so negative numbers are values; a word that
 *    begins with "-" and a letter and names no option is refused as an
 *    unknown option when the template has options.
 *  - sspf(slot, format, ...) prints into static buffer slot 0 or 1 (4096
 *    bytes; longer texts are cut) and returns it.
 *  - Float results print in their shortest float form (0.1f reads "0.1",
 *    2.0f reads "2.0"); doubles print as Tcl prints them.
 */
#ifndef TOVIK_CMDS_H
#define TOVIK_CMDS_H

#include <tcl.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct SubCmdEntry {
    const char *name;
    Tcl_CmdProc *proc;
} SubCmdEntry;

Tcl_Command Cmds_CreateSwitchCmd(Tcl_Interp *interp, const char *name, ClientData clientData,
                                 Tcl_CmdDeleteProc *deleteProc);
int Cmds_CreateSubCmds(Tcl_Interp *interp, const char *switchName, const SubCmdEntry *table);
/* As Cmds_CreateSubCmds, but leaves out the sub-commands named in leaveOut
 * (a null-terminated list): the file commands a safe interpreter must not get. */
int Cmds_CreateSubCmdsExcept(Tcl_Interp *interp, const char *switchName, const SubCmdEntry *table,
                             const char *const *leaveOut);
int Cmds_CreateSubCmd(Tcl_Interp *interp, const char *switchName, const char *subName, Tcl_CmdProc *proc,
                      ClientData clientData, Tcl_CmdDeleteProc *deleteProc);
int Cmds_RenameSubCmd(Tcl_Interp *interp, const char *switchName, const char *oldName, const char *newName);

int Cmds_ParseArgs(Tcl_Interp *interp, int first, int argc, const char **argv, const char *tmpl, ...);

/* For a command or method that names a file, where the safe form of its
 * package cannot simply leave it out (a class shared by every interpreter):
 * in a safe interpreter sets the message
 *   "WORD VERB" is not allowed in a safe interpreter
 * and answers 1; elsewhere answers 0 and leaves the result alone. */
int Cmds_RefuseInSafe(Tcl_Interp *interp, const char *word, const char *verb);

/* A plain library's failure as the command's: the result becomes r's text,
 * or fallback when that is empty (a null fallback then leaves the result as
 * it is); r is deleted and TCL_ERROR answered. */
struct GS_Result;
int Cmds_LibraryError(Tcl_Interp *interp, struct GS_Result *r, const char *fallback);

char *sspf(int slot, const char *format, ...)
#ifdef __GNUC__
    __attribute__((format(printf, 2, 3)))
#endif
    ;

/* Shortest text that reads back as the same float; buf holds 32 bytes. */
char *Cmds_FloatString(float value, char *buf);
/* Tcl's own text of a double; buf holds TCL_DOUBLE_SPACE bytes. */
char *Cmds_DoubleString(double value, char *buf);
Tcl_Obj *Cmds_NewFloatObj(float value);
/* Appends a float as one list element of the interpreter result. */
void Cmds_AppendFloatElement(Tcl_Interp *interp, float value);
void Cmds_SetFloatResult(Tcl_Interp *interp, float value);

#ifdef __cplusplus
}
#endif

#endif
