/* Allocator shared by every package, plain library and program.
 *
 * Contract:
 *  - DB_Malloc, DB_Realloc and DB_Free take the caller's file and line so
 *    that reports can name the place; both twins (yastrotcl for packages,
 *    yastro0 for plain libraries and programs) sit on malloc, so a block may
 *    be freed by either and sanitizers see every block.
 *  - Exhaustion never returns null to the caller: DB_Panic is called.
 *  - Memory that Tcl allocates (Tcl_SplitList, Tcl_Alloc) is not ours: free
 *    it with Tcl_Free, never with DB_Free.
 *  - DB_Panic without a panic procedure writes "\nPANIC:\n " with a time
 *    stamp ("%y%m%d %H:%M:%S "), the message and a newline to stderr and
 *    aborts; with one, it returns that procedure's answer.
 */
#ifndef YASTRO_H
#define YASTRO_H

#include <stdarg.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int (DB_PanicProc)(const char *format, va_list args);

void *DB_Malloc(size_t size, const char *file, int line);
void *DB_Realloc(void *ptr, size_t size, const char *file, int line);
void DB_Free(void *ptr, const char *file, int line);
DB_PanicProc *DB_SetPanicProc(DB_PanicProc *proc);
int DB_Panic(const char *format, ...);
int DB_DebugOpen(const char *path);
void DB_Debug(const char *format, ...);

/* Shorthands that pass the call site. */
#define DB_MALLOC(n) DB_Malloc((n), __FILE__, __LINE__)
#define DB_REALLOC(p, n) DB_Realloc((p), (n), __FILE__, __LINE__)
#define DB_FREE(p) DB_Free((p), __FILE__, __LINE__)

#ifdef __cplusplus
}
#endif

#endif
