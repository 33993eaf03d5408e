// Stand-in for the allocator twin while the frame is not in the tree: the same
// names and arguments, over malloc.
#ifndef YASTRO_H
#define YASTRO_H
#include <stddef.h>
void *DB_Malloc(int size, const char *file, int line);
void *DB_Realloc(void *p, int size, const char *file, int line);
void DB_Free(void *p, const char *file, int line);
int DB_Panic(const char *fmt, ...);
#endif
