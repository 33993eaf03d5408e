// Lisp evaluation for Tcl, and the Lisp functions that reach back into Tcl.
#include "festival_binding.h"

#include <alloca.h>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <pthread.h>
#include <setjmp.h>

#include "festival.h"
#include "EST_error.h"
#include "siod.h"
#include "vek_lisp.h"

// Not declared by the speech tools' headers: the frame list of Lisp's
// *catch, which an error that unwinds past a catch leaves pointing into
// dead stack.
struct catch_frame;
extern catch_frame *catch_framep;

// The interpreter's list of protected locations (its layout in the speech
// tools 2.5). Code that protects a local variable and is then unwound by an
// error never unprotects it, and the next collection reads dead stack.
struct gc_protected {
  LISP *location;
  long length;
  gc_protected *next;
};
extern gc_protected *protected_registers;

// The lowest address of this thread's stack.
static const char *stackLow() {
  static const char *low = nullptr;
  if (low == nullptr) {
    pthread_attr_t attr;
    void *addr = nullptr;
    size_t size = 0;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
      pthread_attr_getstack(&attr, &addr, &size);
      pthread_attr_destroy(&attr);
    }
    low = addr != nullptr ? (const char *)addr : (const char *)&attr - (256L << 20);
  }
  return low;
}

void Festival_DropDeadProtections(const char *live) {
  const char *low = stackLow();
  for (bool again = true; again;) {
    again = false;
    for (gc_protected *p = protected_registers; p != nullptr; p = p->next) {
      const char *loc = (const char *)p->location;
      if (loc >= low && loc < live) {
        gc_unprotect(p->location);
        again = true;
        break;
      }
    }
  }
}

TovikWaveHandoff festival_wave_handoff = {TOVIK_WAVE_HANDOFF_MAGIC, nullptr, 0, 0};

static Tcl_Interp *g_interp = nullptr;
static std::unique_ptr<short[]> g_kept;  // the buffer published for `wave import`

// A deleted interpreter is forgotten, so Lisp never calls into freed memory;
// the next call back makes a new one.
static void forgetInterp(ClientData, Tcl_Interp *interp) {
  if (g_interp == interp) g_interp = nullptr;
}

void set_tcl_interp(Tcl_Interp *interp) {
  if (g_interp == interp) return;
  if (g_interp != nullptr) Tcl_DontCallWhenDeleted(g_interp, forgetInterp, nullptr);
  g_interp = interp;
  if (g_interp != nullptr) Tcl_CallWhenDeleted(g_interp, forgetInterp, nullptr);
}

Tcl_Interp *get_tcl_interp() {
  if (g_interp == nullptr) {
    set_tcl_interp(Tcl_CreateInterp());
    if (Tcl_Init(g_interp) != TCL_OK)
      fprintf(stderr, "festival: Tcl_Init: %s\n", Tcl_GetStringResult(g_interp));
    Festival_CreateEvalCmd(g_interp);
  }
  return g_interp;
}

// ---------------------------------------------------------------------------
// Where the garbage collector looks.
//
// The Lisp collector scans the C stack from the point where the interpreter
// was set up (deep inside festivalInit) downwards. A `festival` command run
// from a shallower frame would keep Lisp values in frames the collector never
// sees, so the evaluation is moved below that point first.

static const char *g_stackBase = nullptr;  // below every frame start-up used
static int g_evalDepth = 0;
static Tcl_ThreadId g_thread = nullptr;  // the synthesiser is not thread-safe

void Festival_MarkStackBase(const char *here) {
  g_thread = Tcl_GetCurrentThread();
  // The interpreter records its base a few frames below `here`; those
  // start-up frames take a few hundred bytes, 8 KiB is ample.
  g_stackBase = here - 8 * 1024;
}

bool Festival_OnStartThread() { return g_thread == nullptr || Tcl_GetCurrentThread() == g_thread; }

static int lispToTclResult(Tcl_Interp *interp, LISP v) {
  if (v == NIL) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj("nil", -1));
  } else if (SYMBOLP(v)) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj(PNAME(v), -1));
  } else if (FLONUMP(v)) {
    char buf[TCL_DOUBLE_SPACE];
    Tcl_PrintDouble(interp, FLONM(v), buf);
    Tcl_SetObjResult(interp, Tcl_NewStringObj(buf, -1));
  } else if (STRINGP(v)) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj(get_c_string(v), -1));
  } else {
    Tcl_SetObjResult(interp, Tcl_NewStringObj("LISP object does not have a string representation", -1));
    return TCL_ERROR;
  }
  return TCL_OK;
}

// Runs under a fresh error catcher. Nothing in this frame has a destructor:
// a Lisp error lands here by longjmp.
static int __attribute__((noinline)) evalUnderCatcher(Tcl_Interp *interp, const char *text) {
  static LISP holders[256];  // one per nesting level, protected while in use
  if (g_evalDepth >= 256) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj("festival: nested too deeply", -1));
    return TCL_ERROR;
  }
  char live;  // frames below this one are dead after an error
  LISP *holder = &holders[g_evalDepth];
  *holder = NIL;
  gc_protect(holder);

  jmp_buf *oldJmp = est_errjmp;
  long oldOk = errjmp_ok;
  catch_frame *oldCatch = catch_framep;
  long oldNoInterrupt = nointerrupt;
  jmp_buf *mine = (jmp_buf *)malloc(sizeof(jmp_buf));
  volatile int code = TCL_ERROR;
  ++g_evalDepth;
  errjmp_ok = 1;
  est_errjmp = mine;
  if (setjmp(*mine) == 0) {
    *holder = read_from_string(text);
    *holder = leval(*holder, NIL);
    code = lispToTclResult(interp, *holder);
  } else {
    catch_framep = oldCatch;
    nointerrupt = oldNoInterrupt;
    Festival_DropDeadProtections(&live);
    Tcl_SetObjResult(interp, Tcl_NewStringObj("SIOD error", -1));
    code = TCL_ERROR;
  }
  --g_evalDepth;
  *holder = NIL;
  gc_unprotect(holder);
  free(mine);
  est_errjmp = oldJmp;
  errjmp_ok = oldOk;
  return code;
}

int Festival_EvalLisp(Tcl_Interp *interp, const char *text) {
  char here;
  if (g_evalDepth == 0 && g_stackBase != nullptr && &here > g_stackBase) {
    size_t pad = (size_t)(&here - g_stackBase) + 256;
    volatile char *p = (volatile char *)alloca(pad);
    p[0] = 0;
    return evalUnderCatcher(interp, text);
  }
  return evalUnderCatcher(interp, text);
}

// festival SCHEME_EXPR
// Evaluates the first Lisp expression of SCHEME_EXPR and answers its text
// form: nil, a symbol's name, a number, a string's characters. A Lisp error
// answers "SIOD error" (the detail went to the error stream).
static int FestivalCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
  if (objc != 2) {
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "wrong # args: should be \"", Tcl_GetString(objv[0]), " scheme_command\"",
                     (char *)NULL);
    return TCL_ERROR;
  }
  if (!Festival_OnStartThread()) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj(
        "festival: the synthesiser can only be used from the thread that started it", -1));
    return TCL_ERROR;
  }
  return Festival_EvalLisp(interp, Tcl_GetString(objv[1]));
}

void Festival_CreateEvalCmd(Tcl_Interp *interp) {
  Tcl_CreateObjCommand(interp, "festival", FestivalCmd, (ClientData)&festival_wave_handoff, nullptr);
}

// ---------------------------------------------------------------------------
// Lisp functions of the binding.

// (tovik.slash PATH): PATH with every backslash turned into a slash, as a new
// string. The argument itself is left alone: writing into a Lisp string or a
// symbol's name would corrupt the interpreter's symbol table.
static LISP tovikSlash(LISP path) {
  char num[64];
  const char *text = Vek_argCText(path, "tovik.slash", "PATH", num);
  LISP r = Vek_strcons(text, strlen(text));
  for (char *c = r->storage_as.string.data; *c; ++c)
    if (*c == '\\') *c = '/';
  return r;
}

// (tovik.quote STRING): STRING as one proper Tcl list element, through the
// global variable ::TOVIK/QUOTE.
static LISP tovikQuote(LISP str) {
  char num[64];
  const char *text = Vek_argCText(str, "tovik.quote", "STRING", num);
  Tcl_Interp *interp = get_tcl_interp();
  // Tcl's list-element flag on a plain write empties a variable that already
  // exists, so the element is quoted here: a one-element list's string form.
  Tcl_Obj *elem = Tcl_NewStringObj(text, -1);
  Tcl_Obj *list = Tcl_NewListObj(1, &elem);
  Tcl_IncrRefCount(list);
  Tcl_Obj *set = Tcl_SetVar2Ex(interp, "::TOVIK/QUOTE", nullptr, Tcl_NewStringObj(Tcl_GetString(list), -1),
                               TCL_GLOBAL_ONLY | TCL_LEAVE_ERR_MSG);
  Tcl_DecrRefCount(list);
  if (set == nullptr) Vek_fail("tovik.quote: %s", Tcl_GetStringResult(interp));
  const char *v = Tcl_GetVar(interp, "::TOVIK/QUOTE", TCL_GLOBAL_ONLY);
  if (v == nullptr) Vek_fail("tovik.quote: cannot read ::TOVIK/QUOTE back");
  return Vek_strcons(v, strlen(v));
}

// (tovik.wave.info UTT): copies channel 0 of UTT's wave into the published
// buffer and answers "0x<address> <samples> <rate>".
static LISP tovikWaveInfo(LISP utt) {
  EST_Utterance *u = Vek_argUtt(utt, "tovik.wave.info");
  EST_Wave *w = Vek_uttWave(u, "tovik.wave.info");
  long n = w->num_samples();
  // The previous buffer goes first, so it can never be read after this call.
  festival_wave_handoff.data = nullptr;
  festival_wave_handoff.samples = 0;
  g_kept.reset();
  g_kept.reset(new short[n > 0 ? n : 1]);
  for (long i = 0; i < n; ++i) g_kept[i] = w->a_no_check((int)i, 0);
  festival_wave_handoff.data = g_kept.get();
  festival_wave_handoff.samples = n;
  festival_wave_handoff.rate = w->sample_rate();
  char reply[1024];
  snprintf(reply, sizeof reply, "0x%" PRIXPTR " %ld %d", (uintptr_t)g_kept.get(), n, w->sample_rate());
  return Vek_strcons(reply, strlen(reply));
}

// (tcl_eval STRING): evaluates STRING in the remembered interpreter and
// answers its result; a Tcl error prints the result text and raises a Lisp
// error.
static LISP tclEval(LISP str) {
  char num[64];
  const char *script = Vek_argCText(str, "tcl_eval", "STRING", num);
  Tcl_Interp *interp = get_tcl_interp();
  if (Tcl_Eval(interp, script) != TCL_OK) {
    fprintf(stderr, "%s\n", Tcl_GetStringResult(interp));
    Vek_fail("tcl_eval: Tcl command failed");
  }
  const char *r = Tcl_GetStringResult(interp);
  return Vek_strcons(r, strlen(r));
}

void Festival_RegisterTovikFunctions() {
  init_subr_1("tovik.slash", Vek_wrap1<tovikSlash>,
              "(tovik.slash PATH)\n"
              "  Substitutes all \\s in PATH with /s");
  init_subr_1("tovik.quote", Vek_wrap1<tovikQuote>,
              "(tovik.quote STRING)\n"
              "  Converts STRING to a properly quoted Tcl list");
  init_subr_1("tovik.wave.info", Vek_wrap1<tovikWaveInfo>,
              "(tovik.wave.info UTT)\n"
              "  Returns the data address, number of samples and sample rate of the wave\n"
              "  associated with UTT in a string. Used with \"wave import\"");
}

void tcl_module_init() {
  init_subr_1("tcl_eval", Vek_wrap1<tclEval>,
              "(tcl_eval STRING)\n"
              "  Evaluates STRING as a Tcl command, returns the result as a LISP string");
  proclaim_module("tcl");
}

// The synthesiser calls this during its start-up, after its own built-in
// functions and before the module list.
void festival_tcl_init() { tcl_module_init(); }
