// The allocator, panic routine and debug log. Built twice: as yastro0 for the
// plain libraries and programs and as yastrotcl for the packages; both are
// malloc-based so that any block may cross between them.
#include "yastro.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

DB_PanicProc *panicProc = nullptr;
FILE *debugLog = nullptr;

void stamp(char buf[40]) {
    time_t now = time(nullptr);
    struct tm tmv;
    localtime_r(&now, &tmv);
    strftime(buf, 40, "%y%m%d %H:%M:%S ", &tmv);
}

}  // namespace

extern "C" {

void *DB_Malloc(size_t size, const char *file, int line) {
    void *p = malloc(size ? size : 1);
    if (!p) DB_Panic("out of memory: %zu bytes at %s:%d", size, file, line);
    return p;
}

void *DB_Realloc(void *ptr, size_t size, const char *file, int line) {
    void *p = realloc(ptr, size ? size : 1);
    if (!p) DB_Panic("out of memory: %zu bytes at %s:%d", size, file, line);
    return p;
}

void DB_Free(void *ptr, const char *, int) { free(ptr); }

DB_PanicProc *DB_SetPanicProc(DB_PanicProc *proc) {
    panicProc = proc;
    return proc;
}

int DB_Panic(const char *format, ...) {
    va_list args;
    va_start(args, format);
    if (panicProc) {
        int r = panicProc(format, args);
        va_end(args);
        return r;
    }
    char buf[40];
    stamp(buf);
    fprintf(stderr, "\nPANIC:\n %s", buf);
    vfprintf(stderr, format, args);
    fprintf(stderr, "\n");
    va_end(args);
    fflush(stderr);
    abort();
}

int DB_DebugOpen(const char *path) {
    if (!path) {
        int r = 0;
        if (debugLog) r = fclose(debugLog);
        debugLog = nullptr;
        return r;
    }
    FILE *f = fopen(path, "a");
    if (!f) {
        DB_Panic("could not open debug log file %s: %s\n", path, strerror(errno));
        return -1;
    }
    if (setvbuf(f, nullptr, _IOLBF, 0) != 0) {
        DB_Panic("setvbuf failed on %s: %s\n", path, strerror(errno));
    }
    if (debugLog) fclose(debugLog);
    debugLog = f;
    return 0;
}

void DB_Debug(const char *format, ...) {
    FILE *out = debugLog ? debugLog : stderr;
    char buf[40];
    stamp(buf);
    fputs(buf, out);
    va_list args;
    va_start(args, format);
    vfprintf(out, format, args);
    va_end(args);
    fputc('\n', out);
}

}  // extern "C"
