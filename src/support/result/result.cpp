#include "result.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "yastro.h"

namespace {
const size_t kSpfSize = 4096;
char spfBuffers[2][kSpfSize];
}  // namespace

extern "C" {

GS_Result *GS_CreateResult(void) {
    GS_Result *r = static_cast<GS_Result *>(DB_MALLOC(sizeof(GS_Result)));
    r->cap = 64;
    r->len = 0;
    r->text = static_cast<char *>(DB_MALLOC(r->cap));
    r->text[0] = '\0';
    return r;
}

void GS_AppendResult(GS_Result *r, ...) {
    if (!r) return;
    va_list args;
    va_start(args, r);
    for (const char *s = va_arg(args, const char *); s; s = va_arg(args, const char *)) {
        size_t n = strlen(s);
        if (r->len + n + 1 > r->cap) {
            while (r->len + n + 1 > r->cap) r->cap *= 2;
            r->text = static_cast<char *>(DB_REALLOC(r->text, r->cap));
        }
        memcpy(r->text + r->len, s, n + 1);
        r->len += n;
    }
    va_end(args);
}

void GS_ResetResult(GS_Result *r) {
    if (!r) return;
    r->len = 0;
    r->text[0] = '\0';
}

char *GS_Spf(int slot, const char *format, ...) {
    char *buf = spfBuffers[slot ? 1 : 0];
    va_list args;
    va_start(args, format);
    vsnprintf(buf, kSpfSize, format, args);
    va_end(args);
    return buf;
}

void GS_DeleteResult(GS_Result *r) {
    if (!r) return;
    DB_FREE(r->text);
    DB_FREE(r);
}

}  // extern "C"
