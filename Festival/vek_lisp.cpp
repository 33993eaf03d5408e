// Lisp boundary helpers: error hand-over and checked argument readers.
#include "vek_lisp.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "EST_error.h"
#include "EST_wave_aux.h"
#include "siod.h"
#include <csetjmp>
#include <cstdlib>
#include "festival_binding.h"

// The interpreter's catch-frame chain, restored after an error lands here.
struct catch_frame;
extern catch_frame *catch_framep;

void Vek_fail(const char *fmt, ...) {
  char buf[1024];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  throw VekError(buf);
}

LISP Vek_raise(const char *msg) {
  if (errjmp_ok && est_errjmp) {
    EST_error("%s", msg);  // does not return
  }
  // No catcher: unwinding would end the process, so report and go on.
  fprintf(stderr, "%s\n(no Lisp error catcher is armed; returning nil)\n", msg);
  return NIL;
}

EST_Utterance *Vek_argUtt(LISP x, const char *fn) {
  if (x == NIL || !utterance_p(x)) Vek_fail("%s: argument is not an utterance", fn);
  return utterance(x);
}

double Vek_argNumber(LISP x, const char *fn, const char *what) {
  if (x == NIL || !FLONUMP(x)) Vek_fail("%s: %s is not a number", fn, what);
  return FLONM(x);
}

const char *Vek_argCText(LISP x, const char *fn, const char *what, char (&buf)[64]) {
  if (x != NIL && (SYMBOLP(x) || STRINGP(x))) return get_c_string(x);
  if (x == NIL) return "nil";
  if (FLONUMP(x)) {
    EST_String printed = siod_sprint(x);
    snprintf(buf, sizeof buf, "%s", (const char *)printed);
    return buf;
  }
  Vek_fail("%s: %s is not a string, symbol or number", fn, what);
}

std::string Vek_argText(LISP x, const char *fn, const char *what) {
  char buf[64];
  return Vek_argCText(x, fn, what, buf);
}

LISP Vek_strcons(const char *p, size_t n) {
  LISP s = strcons((long)n, nullptr);
  memcpy(s->storage_as.string.data, p, n);
  s->storage_as.string.data[n] = '\0';
  return s;
}

int Vek_listLength(LISP l) {
  int n = 0;
  for (; l != NIL; l = CDR(l), ++n)
    if (!CONSP(l)) return -1;
  return n;
}

// The value of (name value) in params, or null when absent.
static LISP paramCell(LISP params, const char *name, const char *fn) {
  for (LISP l = params; l != NIL; l = CDR(l)) {
    if (!CONSP(l)) Vek_fail("%s: parameters are not a list", fn);
    LISP p = CAR(l);
    if (p == NIL || !CONSP(p)) continue;
    LISP k = CAR(p);
    if (k != NIL && (SYMBOLP(k) || STRINGP(k)) && strcmp(get_c_string(k), name) == 0) {
      LISP rest = CDR(p);
      if (rest == NIL || !CONSP(rest)) return NIL;
      return CAR(rest);
    }
  }
  return nullptr;
}

double Vek_paramNumber(LISP params, const char *name, double def, const char *fn) {
  LISP v = paramCell(params, name, fn);
  if (v == nullptr) return def;
  if (v == NIL || !FLONUMP(v)) Vek_fail("%s: parameter %s is not a number", fn, name);
  return FLONM(v);
}

std::string Vek_paramText(LISP params, const char *name, const char *def, const char *fn) {
  LISP v = paramCell(params, name, fn);
  if (v == nullptr) return def;
  return Vek_argText(v, fn, name);
}

LISP Vek_paramLisp(LISP params, const char *name) {
  LISP v = paramCell(params, name, "parameters");
  return v == nullptr ? NIL : v;
}

EST_Wave *Vek_uttWave(EST_Utterance *u, const char *fn) {
  if (!u->relation_present("Wave")) Vek_fail("%s: utterance has no waveform (no relation Wave)", fn);
  EST_Item *it = u->relation("Wave")->head();
  if (it == nullptr || !it->f_present("wave") || it->f("wave").type() != val_type_wave)
    Vek_fail("%s: utterance has no waveform", fn);
  return wave(it->f("wave"));
}

// Nothing in this frame has a destructor: a Lisp error lands here by longjmp.
bool __attribute__((noinline)) Vek_callCaught2(const char *fn, const char *a, const char *b, LISP *out) {
  static LISP holder = NIL;
  static bool protected_ = false;
  if (!protected_) {
    gc_protect(&holder);
    protected_ = true;
  }
  char live;
  jmp_buf *oldJmp = est_errjmp;
  long oldOk = errjmp_ok;
  catch_frame *oldCatch = catch_framep;
  long oldNoInterrupt = nointerrupt;
  jmp_buf *mine = (jmp_buf *)malloc(sizeof(jmp_buf));
  volatile bool ok = false;
  errjmp_ok = 1;
  est_errjmp = mine;
  if (setjmp(*mine) == 0) {
    holder = NIL;
    if (b) holder = cons(strcons(strlen(b), b), holder);
    if (a) holder = cons(strcons(strlen(a), a), holder);
    holder = cons(rintern(fn), holder);
    holder = leval(holder, NIL);
    *out = holder;
    ok = true;
  } else {
    catch_framep = oldCatch;
    nointerrupt = oldNoInterrupt;
    Festival_DropDeadProtections(&live);
  }
  holder = NIL;
  free(mine);
  est_errjmp = oldJmp;
  errjmp_ok = oldOk;
  return ok;
}
