// Backtrace-record pool: a record array with a free list.
#include "nevrin.h"

#include <cstdlib>

#include "yastro.h"

namespace {

// Chains records from..to-1 as free records in index order, the last one
// leading to next.
void chainFree(BacktraceRecord *r, int32_t from, int32_t to, int32_t next) {
    for (int32_t i = from; i < to; i++) {
        r[i].flag = 0;
        r[i].linkA = -1;
        r[i].linkB = -1;
        r[i].nextFree = i + 1 < to ? i + 1 : next;
    }
}

} // namespace

extern "C" {

NevrinPool *nevrinInit(int size, int blockSize) {
    if (size < 1 || blockSize < 1 || size > NEVRIN_MAX_CAPACITY) return nullptr;
    NevrinPool *pool = static_cast<NevrinPool *>(DB_MALLOC(sizeof(NevrinPool)));
    pool->records = static_cast<BacktraceRecord *>(DB_MALLOC(sizeof(BacktraceRecord) * (size_t)size));
    pool->blockSize = blockSize;
    pool->capacity = size;
    for (int32_t i = 0; i < size; i++) pool->records[i].value = 0;
    nevrinReset(pool);
    return pool;
}

void nevrinReset(NevrinPool *pool) {
    chainFree(pool->records, 0, pool->capacity, -1);
    pool->freeHead = 0;
}

void nevrinNuke(NevrinPool *pool) {
    if (!pool) return;
    if (pool->records) DB_FREE(pool->records);
    DB_FREE(pool);
}

NevrinPool *nevrinResize(NevrinPool *pool, int newSize) {
    if (!pool || newSize <= pool->capacity || newSize > NEVRIN_MAX_CAPACITY) return nullptr;
    // realloc, not DB_Realloc: running out of memory must leave the pool
    // whole rather than end the process.
    void *grown = realloc(pool->records, sizeof(BacktraceRecord) * (size_t)newSize);
    if (!grown) return nullptr;
    pool->records = static_cast<BacktraceRecord *>(grown);
    int32_t old = pool->capacity;
    for (int32_t i = old; i < newSize; i++) pool->records[i].value = 0;
    chainFree(pool->records, old, newSize, pool->freeHead);
    pool->capacity = newSize;
    pool->freeHead = old;
    return pool;
}

NevrinPool *nevrinGrow(NevrinPool *pool) {
    if (!pool) return nullptr;
    int64_t want = (int64_t)pool->capacity + pool->blockSize;
    if (want > NEVRIN_MAX_CAPACITY) return nullptr;
    return nevrinResize(pool, (int)want);
}

} // extern "C"
