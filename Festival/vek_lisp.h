// The boundary between our C++ code and the synthesiser's Lisp interpreter.
//
// The interpreter reports errors by longjmp, which must never run across a
// C++ frame that still owns objects. Our rule: engine code throws VekError;
// every Lisp function we register is wrapped by Vek_wrapN, which catches the
// exception, lets every destructor run, and only then hands the message to
// the speech tools' error reporter from a frame that owns nothing.
//
// Anything the interpreter would reject by longjmp (a wrong argument type, a
// missing parameter value of the wrong kind) is checked first by the Vek_arg*
// readers below, which throw instead. Lisp values are made (cons, strcons,
// flocons: they raise when the heap is full) only in frames that own nothing
// with a destructor, typically as the last step of a function.
#pragma once

#include <stdexcept>
#include <string>

#include "festival.h"

struct VekError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Throws VekError with a printf-formatted message.
[[noreturn]] void Vek_fail(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// Hands msg to the speech tools' error reporter, which prints it and unwinds
// to the innermost Lisp error catcher. With no catcher armed the process
// would end, so then the message is only printed and nil is returned.
LISP Vek_raise(const char *msg);

// Runs fn, turning any exception into a message; noexcept so the caller's
// frame stays clean.
template <typename Fn>
bool Vek_guard(Fn &&fn, LISP &out, char *msg, size_t n) noexcept {
  try {
    out = fn();
    return true;
  } catch (const std::exception &e) {
    snprintf(msg, n, "%s", e.what());
  } catch (...) {
    snprintf(msg, n, "unexpected failure");
  }
  return false;
}

template <LISP (*F)(LISP)>
LISP Vek_wrap1(LISP a) {
  char msg[1024];
  LISP out = NIL;
  if (!Vek_guard([a] { return F(a); }, out, msg, sizeof msg)) return Vek_raise(msg);
  return out;
}

template <LISP (*F)(LISP, LISP)>
LISP Vek_wrap2(LISP a, LISP b) {
  char msg[1024];
  LISP out = NIL;
  if (!Vek_guard([a, b] { return F(a, b); }, out, msg, sizeof msg)) return Vek_raise(msg);
  return out;
}

template <LISP (*F)(LISP, LISP, LISP)>
LISP Vek_wrap3(LISP a, LISP b, LISP c) {
  char msg[1024];
  LISP out = NIL;
  if (!Vek_guard([a, b, c] { return F(a, b, c); }, out, msg, sizeof msg)) return Vek_raise(msg);
  return out;
}

// Checked argument readers: each throws VekError naming fn when the value is
// not of the expected kind.
EST_Utterance *Vek_argUtt(LISP x, const char *fn);
double Vek_argNumber(LISP x, const char *fn, const char *what);
// The text of a string, a symbol's name or a number's printed form.
std::string Vek_argText(LISP x, const char *fn, const char *what);
// The same without a C++ object: the interpreter's own text of a string or
// symbol, or a number printed into buf.
const char *Vek_argCText(LISP x, const char *fn, const char *what, char (&buf)[64]);

// A new Lisp string of the n characters at p (which need not end there: the
// interpreter's own strcons copies up to the terminating zero).
LISP Vek_strcons(const char *p, size_t n);

// The length of a proper list, or -1 for anything else.
int Vek_listLength(LISP l);

// Parameter readers over an association list ((name value) ...), with the
// default when the name is absent; a value of the wrong kind throws.
double Vek_paramNumber(LISP params, const char *name, double def, const char *fn);
std::string Vek_paramText(LISP params, const char *name, const char *def, const char *fn);
LISP Vek_paramLisp(LISP params, const char *name);

// The wave of the first item of the utterance's relation "Wave"; throws when
// there is none.
EST_Wave *Vek_uttWave(EST_Utterance *u, const char *fn);

// Calls the Lisp function fn with the string arguments a and b (each left
// out when null) under its own error
// catcher. Returns false, with nothing leaked, when the call raised a Lisp
// error; otherwise *out is its value (protected from the collector only
// until the next allocation).
bool Vek_callCaught2(const char *fn, const char *a, const char *b, LISP *out);
