// Package Festival: starts the synthesiser and evaluates Lisp in it.
//
//   festivalInit ?-libdir DIR? ?-heapsize N?   start the synthesiser
//   festival SCHEME_EXPR                       evaluate one Lisp expression
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <setjmp.h>
#include <string>

#include <tcl.h>

#include "festival.h"
#include "EST_error.h"
#include "siod.h"
#include "festival_binding.h"
#include "cmds.h"

static bool g_started = false;
static std::string g_libdir;  // festival_libdir and festival_datadir point here once -libdir was given

// Heap sizes in Lisp cells; -1 lets the synthesiser choose (SIODHEAPSIZE or
// its default). Below the minimum the start-up files do not fit; above the
// maximum the allocation alone would take many gigabytes.
static const long kHeapMin = 100000;
static const long kHeapMax = 100000000;

// Starts the synthesiser under an error catcher, so that an error in the
// start-up files cannot end the process. No destructible locals: a Lisp error
// lands here by longjmp.
static int __attribute__((noinline)) startUnderCatcher(int heap) {
  jmp_buf *oldJmp = est_errjmp;
  long oldOk = errjmp_ok;
  jmp_buf *mine = (jmp_buf *)malloc(sizeof(jmp_buf));
  volatile int ok = 1;
  char live;
  errjmp_ok = 1;
  est_errjmp = mine;
  if (setjmp(*mine) == 0) {
    festival_initialize(1, heap);
  } else {
    Festival_DropDeadProtections(&live);
    ok = 0;
  }
  free(mine);
  est_errjmp = oldJmp;
  errjmp_ok = oldOk;
  return ok;
}

// festivalInit ?-libdir DIR? ?-heapsize N?
// Starts the synthesiser with its library directory and Lisp heap size (in
// cells, -1 for the default), registers the binding's Lisp functions and
// creates `festival` in this interpreter. A second call only makes
// `festival` here and remembers this interpreter. Answers the value of PATH.
static int FestivalInitCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  char *libdir = nullptr;
  int heap = -1;
  if (Cmds_ParseArgs(interp, 1, argc, argv, "-libdir %s -heapsize %i", &libdir, &heap) != 0) return TCL_ERROR;
  if (heap != -1 && (heap < kHeapMin || heap > kHeapMax)) {
    char msg[160];
    snprintf(msg, sizeof msg, "bad heap size %d: must be -1 or between %ld and %ld cells", heap, kHeapMin,
             kHeapMax);
    Tcl_SetObjResult(interp, Tcl_NewStringObj(msg, -1));
    return TCL_ERROR;
  }
  // The speech tools read SIODHEAPSIZE without checking it; a value out of
  // range would crash the start-up, so it gets the same check as -heapsize.
  const char *envHeap = getenv("SIODHEAPSIZE");
  if (!g_started && heap == -1 && envHeap != nullptr) {
    char *end = nullptr;
    errno = 0;
    long v = strtol(envHeap, &end, 10);
    if (errno != 0 || end == envHeap || *end != '\0' || v < kHeapMin || v > kHeapMax) {
      char msg[200];
      snprintf(msg, sizeof msg, "bad SIODHEAPSIZE \"%.40s\": must be between %ld and %ld cells", envHeap,
               kHeapMin, kHeapMax);
      Tcl_SetObjResult(interp, Tcl_NewStringObj(msg, -1));
      return TCL_ERROR;
    }
  }
  if (!Festival_OnStartThread()) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj(
        "festivalInit: the synthesiser was started on another thread and can only be used there", -1));
    return TCL_ERROR;
  }
  // Without a size the speech tools would take SIODHEAPSIZE or their own
  // small default, in which a voice cannot synthesise a sentence; the
  // synthesiser's own default is what its programs use.
  if (heap == -1 && getenv("SIODHEAPSIZE") == nullptr) heap = FESTIVAL_HEAP_SIZE;
  set_tcl_interp(interp);
  if (!g_started) {
    // The synthesiser now keeps its Lisp library (init.scm and the rest) in
    // a data directory apart from its programs; the library directory given
    // here is where that library is, so it serves as both.
    if (libdir != nullptr) {
      g_libdir = libdir;
      festival_libdir = g_libdir.c_str();
      festival_datadir = g_libdir.c_str();
    }
    char here;
    Festival_MarkStackBase(&here);
    g_started = true;
    if (!startUnderCatcher(heap))
      fprintf(stderr, "festivalInit: an error in the start-up files stopped loading them\n");
    Festival_RegisterTovikFunctions();
  }
  Festival_CreateEvalCmd(interp);
  Tcl_Eval(interp, "set ::env(PATH) $::env(PATH)");
  return TCL_OK;
}

extern "C" int Festival_Init(Tcl_Interp *interp) {
  int code = Tcl_PkgProvide(interp, "Festival", "1.4.2");
  if (code != TCL_OK) return code;
  Tcl_CreateCommand(interp, "festivalInit", FestivalInitCmd, nullptr, nullptr);
  return TCL_OK;
}

// A safe interpreter gets the package but no command: the synthesiser's Lisp
// reads and writes files and runs programs.
extern "C" int Festival_SafeInit(Tcl_Interp *interp) {
  return Tcl_PkgProvide(interp, "Festival", "1.4.2");
}
