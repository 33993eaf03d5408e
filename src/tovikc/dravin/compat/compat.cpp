#include "yastro.h"
#include "result.h"
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

void *DB_Malloc(int size, const char *, int) { return malloc(size > 0 ? size : 1); }
void *DB_Realloc(void *p, int size, const char *, int) { return realloc(p, size > 0 ? size : 1); }
void DB_Free(void *p, const char *, int) { free(p); }
int DB_Panic(const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  vfprintf(stderr, fmt, ap);
  va_end(ap);
  abort();
}

GS_Result *GS_CreateResult(void) {
  GS_Result *r = (GS_Result *)calloc(1, sizeof(GS_Result));
  r->text = (char *)calloc(1, 1);
  return r;
}
void GS_AppendResult(GS_Result *r, ...) {
  va_list ap;
  va_start(ap, r);
  for (const char *s; (s = va_arg(ap, const char *)) != nullptr;) {
    size_t n = strlen(s);
    r->text = (char *)realloc(r->text, r->len + n + 1);
    memcpy(r->text + r->len, s, n + 1);
    r->len += (int)n;
  }
  va_end(ap);
}
void GS_ResetResult(GS_Result *r) { r->text[0] = 0; r->len = 0; }
void GS_DeleteResult(GS_Result *r) {
  if (r) { free(r->text); free(r); }
}
