#include "bigbuffer.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

#include "yastro.h"

void *Wavefile_bigBuffer(size_t bytes, const char *file, int line) {
  void *p = DB_Malloc(bytes ? bytes : 1, file, line);
#ifdef MADV_HUGEPAGE
  const size_t kHuge = 2u << 20;
  if (bytes >= 2 * kHuge) {
    uintptr_t page = (uintptr_t)sysconf(_SC_PAGESIZE);
    uintptr_t a = ((uintptr_t)p + page - 1) & ~(page - 1);
    uintptr_t b = ((uintptr_t)p + bytes) & ~(page - 1);
    if (b > a) madvise((void *)a, b - a, MADV_HUGEPAGE);  // advice only: failure changes nothing
  }
#endif
  return p;
}
