// Small helpers the network packages (Dravin, Kelmor) share in their commands.
#ifndef DRAVIN_PKGHELP_H
#define DRAVIN_PKGHELP_H

#include <tcl.h>

#include <cstddef>
#include <cstring>

#include "matarg.h"
#include "result.h"
#include "yastro.h"

namespace pkghelp {

// Result texts of a command: created per call, deleted on every path.
struct Result {
  GS_Result *r = GS_CreateResult();
  Result() = default;
  Result(const Result &) = delete;
  Result &operator=(const Result &) = delete;
  ~Result() { GS_DeleteResult(r); }
  int fail(Tcl_Interp *interp) const {
    if (r->text[0]) Tcl_SetResult(interp, r->text, TCL_VOLATILE);
    return TCL_ERROR;
  }
};

// A matrix argument, freed on every path.
struct Mat {
  MatArg m{};
  Mat() = default;
  Mat(const Mat &) = delete;
  Mat &operator=(const Mat &) = delete;
  ~Mat() { MatArg_Free(&m); }
};

// The length and pack entries of an object type whose record packs into a
// buffer of its own (allocated with DB_Malloc).
template <class T>
using Packer = int (*)(GS_Result *, const T *, unsigned char **, long *);

template <class T, Packer<T> pack>
int PackedLength(GS_Result *r, const void *rec, size_t *len) {
  unsigned char *b;
  long n;
  if (pack(r, (const T *)rec, &b, &n)) return 1;
  DB_Free(b, __FILE__, __LINE__);
  *len = (size_t)n;
  return 0;
}

template <class T, Packer<T> pack>
int PackInto(GS_Result *r, const void *rec, unsigned char *buf) {
  unsigned char *b;
  long n;
  if (pack(r, (const T *)rec, &b, &n)) return 1;
  memcpy(buf, b, n);
  DB_Free(b, __FILE__, __LINE__);
  return 0;
}

}  // namespace pkghelp

#endif
