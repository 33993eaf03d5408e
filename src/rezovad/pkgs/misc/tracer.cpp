// cmd trace: a command that prints every command the interpreter runs, and
// cmd loop: a console read-eval-print loop.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cmds.h"
#include "misc.h"

namespace {

struct CmdTracer {
    int pcmd = 0, peval = 1, cmds = 1, procs = 1, indent = 1, level = 2147483647, enabled = 1;
    Tcl_Channel file = nullptr;  // held by a registration of our own
    std::string fileName;        // as the script named it ("stderr")
    std::string call;
    bool hasCall = false;
    Tcl_Interp *interp = nullptr;
    Tcl_Trace trace = nullptr;
};

// The procedure behind every proc, found once from a probe procedure, so
// that a command can be told to be a procedure without private calls.
Tcl_ObjCmdProc *procImplementation(Tcl_Interp *interp) {
    static Tcl_ObjCmdProc *impl = nullptr;
    if (!impl && Tcl_Eval(interp, "proc ::tcl::_miscProcProbe {} {}") == TCL_OK) {
        Tcl_CmdInfo info;
        if (Tcl_GetCommandInfo(interp, "::tcl::_miscProcProbe", &info)) impl = info.objProc;
        Tcl_DeleteCommand(interp, "::tcl::_miscProcProbe");
        Tcl_ResetResult(interp);
    }
    return impl;
}

int traceBoolean(Tcl_Interp *interp, const char *text, int *out) {
    switch (text[0]) {
    case '0': case 'N': case 'n': *out = 0; return TCL_OK;
    case '1': case 'J': case 'Y': case 'j': case 'y': *out = 1; return TCL_OK;
    }
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "bad boolean value \"", text, "\": must be ", "0, 1, no or yes", (char *)nullptr);
    return TCL_ERROR;
}

const char *kOptions[] = {"-pcmd", "-peval", "-file", "-cmds", "-procs", "-indent", "-level", "-call"};

void appendOption(Tcl_Interp *interp, CmdTracer *t, int k) {
    Tcl_AppendElement(interp, kOptions[k]);
    int *flags[] = {&t->pcmd, &t->peval, nullptr, &t->cmds, &t->procs};
    if (k == 2) Tcl_AppendElement(interp, t->fileName.c_str());
    else if (k == 5) Tcl_AppendElement(interp, std::to_string(t->indent).c_str());
    else if (k == 6) Tcl_AppendElement(interp, std::to_string(t->level).c_str());
    else if (k == 7) Tcl_AppendElement(interp, t->hasCall ? t->call.c_str() : "");
    else Tcl_AppendElement(interp, *flags[k] ? "yes" : "no");
}

int setFile(Tcl_Interp *interp, CmdTracer *t, const char *name) {
    int mode;
    Tcl_Channel c = Tcl_GetChannel(interp, name, &mode);
    if (!c) {
        Tcl_ResetResult(interp);
        Tcl_AppendResult(interp, "can not find channel named \"", name, "\"", (char *)nullptr);
        return TCL_ERROR;
    }
    if (!(mode & TCL_WRITABLE)) {
        Tcl_ResetResult(interp);
        Tcl_AppendResult(interp, "channel \"", name, "\" isn't open for writing", (char *)nullptr);
        return TCL_ERROR;
    }
    // Our own registration keeps the channel alive when the script closes it.
    Tcl_RegisterChannel(nullptr, c);
    if (t->file) Tcl_UnregisterChannel(nullptr, t->file);
    t->file = c;
    t->fileName = name;
    return TCL_OK;
}

int configure(Tcl_Interp *interp, CmdTracer *t, int argc, const char *argv[]) {
    if (argc == 0) {
        for (int k = 0; k < 8; k++) appendOption(interp, t, k);
        return TCL_OK;
    }
    for (int i = 0; i < argc; i += 2) {
        int k = 0;
        while (k < 8 && strcmp(argv[i], kOptions[k]) != 0) k++;
        if (k == 8) {
            Tcl_ResetResult(interp);
            Tcl_AppendResult(interp, "bad option \"", argv[i], "\": should be ",
                             "-pcmd, -peval, -cmds, -procs, -file, -indent, ", "-call or -level", (char *)nullptr);
            return TCL_ERROR;
        }
        if (i + 1 == argc) {
            appendOption(interp, t, k);
            return TCL_OK;
        }
        const char *v = argv[i + 1];
        int code = TCL_OK, n;
        switch (k) {
        case 0: code = traceBoolean(interp, v, &t->pcmd); break;
        case 1: code = traceBoolean(interp, v, &t->peval); break;
        case 2: code = setFile(interp, t, v); break;
        case 3: code = traceBoolean(interp, v, &t->cmds); break;
        case 4: code = traceBoolean(interp, v, &t->procs); break;
        case 5:
        case 6:
            code = Tcl_GetInt(interp, v, &n);
            if (code == TCL_OK) (k == 5 ? t->indent : t->level) = n;
            break;
        case 7:
            t->hasCall = *v != 0;
            t->call = v;
            break;
        }
        if (code != TCL_OK) return code;
    }
    return TCL_OK;
}

void CmdTraceProc(ClientData cd, Tcl_Interp *interp, int level, char *command, Tcl_CmdProc *, ClientData, int argc,
                  const char *argv[]) {
    CmdTracer *t = static_cast<CmdTracer *>(cd);
    if (!t->enabled || level > t->level) return;
    Tcl_CmdInfo info;
    bool isProc = Tcl_GetCommandInfo(interp, argv[0], &info) && info.objProc == procImplementation(interp);
    if ((isProc && t->procs) || (!isProc && t->cmds)) {
        int width = t->indent * level;
        if (width < 0) width = 0;
        if (t->pcmd) {
            std::string line(width, '_');
            line += command;
            line += "\n";
            Tcl_WriteChars(t->file, line.c_str(), -1);
            Tcl_Flush(t->file);
        }
        if (t->peval) {
            char *merged = Tcl_Merge(argc, argv);
            std::string line(width, ' ');
            line += merged;
            line += "\n";
            Tcl_Free(merged);
            Tcl_WriteChars(t->file, line.c_str(), -1);
            Tcl_Flush(t->file);
        }
    }
    if (t->hasCall) {
        char *merged = Tcl_Merge(argc, argv);
        Tcl_DString script;
        Tcl_DStringInit(&script);
        Tcl_DStringAppend(&script, t->call.c_str(), -1);
        Tcl_DStringAppendElement(&script, std::to_string(level).c_str());
        Tcl_DStringAppendElement(&script, command);
        Tcl_DStringAppendElement(&script, merged);
        Tcl_Free(merged);
        Tcl_InterpState saved = Tcl_SaveInterpState(interp, TCL_OK);
        t->enabled = 0;
        Tcl_Eval(interp, Tcl_DStringValue(&script));
        t->enabled = 1;
        Tcl_RestoreInterpState(interp, saved);
        Tcl_DStringFree(&script);
    }
}

void CmdTraceDeleted(ClientData cd) {
    CmdTracer *t = static_cast<CmdTracer *>(cd);
    if (!Tcl_InterpDeleted(t->interp)) Tcl_DeleteTrace(t->interp, t->trace);
    if (t->file) Tcl_UnregisterChannel(nullptr, t->file);
    delete t;
}

// TRACER configure ?option ?value ...??
int ConfigureCmd(ClientData cd, Tcl_Interp *interp, int argc, const char *argv[]) {
    return configure(interp, static_cast<CmdTracer *>(cd), argc - 2, argv + 2);
}

int loopEnd = 0;

char *endLoop(ClientData, Tcl_Interp *, const char *, const char *, int) {
    loopEnd = 1;
    return nullptr;
}

// Output goes through the interpreter's own standard channels, so that it
// keeps its order with what the evaluated commands print.
void say(int which, const std::string &text) {
    Tcl_Channel c = Tcl_GetStdChannel(which);
    if (!c) return;
    Tcl_WriteChars(c, text.c_str(), static_cast<int>(text.size()));
    Tcl_Flush(c);
}

// Writes the prompt of cmd_prompt1 (new command) or cmd_prompt2
// (continuation), or "# " for a new command.
void prompt(Tcl_Interp *interp, bool partial) {
    const char *script = Tcl_GetVar(interp, partial ? "cmd_prompt2" : "cmd_prompt1", TCL_GLOBAL_ONLY);
    if (script) {
        if (Tcl_Eval(interp, script) == TCL_OK) {
            say(TCL_STDOUT, "");
            return;
        }
        say(TCL_STDERR, std::string(Tcl_GetStringResult(interp)) + "\n");
        Tcl_AddErrorInfo(interp, "\n    (script that generates prompt)");
    } else if (partial) {
        say(TCL_STDOUT, "");
        return;
    }
    say(TCL_STDOUT, "# ");
}

}  // namespace

// cmd trace NAME ?-option value ...?
// Makes the tracer command NAME; it prints the commands run, by the options.
int Misc_TraceCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    if (argc < 3) {
        Tcl_AppendResult(interp, "wrong # args: should be \"", argv[0], " ", argv[1], " name ?options?\"",
                         (char *)nullptr);
        return TCL_ERROR;
    }
    CmdTracer *t = new CmdTracer;
    t->interp = interp;
    if (setFile(interp, t, "stderr") != TCL_OK || configure(interp, t, argc - 3, argv + 3) != TCL_OK) {
        if (t->file) Tcl_UnregisterChannel(nullptr, t->file);
        delete t;
        return TCL_ERROR;
    }
    Tcl_ResetResult(interp);
    Cmds_CreateSwitchCmd(interp, argv[2], t, CmdTraceDeleted);
    Cmds_CreateSubCmd(interp, argv[2], "configure", ConfigureCmd, t, nullptr);
    t->trace = Tcl_CreateTrace(interp, 2147483647, CmdTraceProc, t);
    return TCL_OK;
}

// cmd loop ?VARNAME?
// Reads commands from standard input and evaluates them until the input
// ends or VARNAME is written or unset. Lines are read whole, however long.
int Misc_LoopCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *var = nullptr;
    int given = 0;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "name !s", &var, &given)) return TCL_ERROR;
    if (Tcl_IsSafe(interp)) {
        Tcl_SetResult(interp, (char *)"cmd loop reads the console: not in a safe interpreter", TCL_STATIC);
        return TCL_ERROR;
    }
    const int flags = TCL_TRACE_WRITES | TCL_TRACE_UNSETS | TCL_GLOBAL_ONLY;
    int saved = loopEnd;
    loopEnd = 0;
    if (given) Tcl_TraceVar(interp, var, flags, endLoop, nullptr);
    Tcl_DString command;
    Tcl_DStringInit(&command);
    char *line = nullptr;
    size_t cap = 0;
    bool partial = false;
    while (!loopEnd) {
        prompt(interp, partial);
        errno = 0;
        ssize_t n = getline(&line, &cap, stdin);
        if (n < 0) {
            if (ferror(stdin)) {
                if (errno == EINTR) say(TCL_STDOUT, "interrupted\n");
                break;
            }
            if (!partial) break;
            n = 0;  // evaluate the incomplete command once more, as it stands
        }
        Tcl_DStringAppend(&command, line ? line : "", static_cast<int>(n));
        if (n > 0 && !Tcl_CommandComplete(Tcl_DStringValue(&command))) {
            partial = true;
            continue;
        }
        partial = false;
        int code = Tcl_RecordAndEval(interp, Tcl_DStringValue(&command), 0);
        const char *r = Tcl_GetStringResult(interp);
        if (code != TCL_OK) say(TCL_STDERR, std::string(r) + "\n");
        else if (*r) say(TCL_STDOUT, std::string(r) + "\n");
        Tcl_DStringSetLength(&command, 0);
        if (n == 0) break;
    }
    free(line);
    Tcl_DStringFree(&command);
    if (given) Tcl_UntraceVar(interp, var, flags, endLoop, nullptr);
    loopEnd = saved;
    Tcl_ResetResult(interp);
    return TCL_OK;
}
