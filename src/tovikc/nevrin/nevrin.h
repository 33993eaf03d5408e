/* Backtrace-record pool shared by the word searches.
 *
 * Contract:
 *  - A pool is a growable array of records addressed by index, with a free
 *    list through nextFree that starts at freeHead and ends at -1. The
 *    searches take records from the free list and fill flag, linkA, linkB
 *    and value; the pool touches only the free-state fields.
 *  - nevrinInit(size, blockSize) makes a reset pool; size and blockSize
 *    must be at least 1 (null otherwise, as when memory runs out).
 *  - nevrinReset frees every record and chains them in index order; value
 *    fields are kept.
 *  - nevrinResize only grows. The new records are chained in index order
 *    in front of whatever was still free, so no free record is lost.
 *    A size not above the capacity, or one that cannot be allocated,
 *    returns null and leaves the pool exactly as it was (the caller still
 *    owns it).
 *  - nevrinGrow adds blockSize records.
 */
#ifndef TOVIK_NEVRIN_H
#define TOVIK_NEVRIN_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct BacktraceRecord {
    int16_t flag;
    int32_t linkA;
    int32_t linkB;
    int32_t nextFree;
    int32_t value;
} BacktraceRecord;

typedef struct NevrinPool {
    int32_t freeHead;
    int32_t blockSize;
    int32_t capacity;
    BacktraceRecord *records;
} NevrinPool;

/* The largest capacity a pool may reach. */
#define NEVRIN_MAX_CAPACITY (INT32_MAX / 2)

NevrinPool *nevrinInit(int size, int blockSize);
void nevrinReset(NevrinPool *pool);
void nevrinNuke(NevrinPool *pool);
NevrinPool *nevrinResize(NevrinPool *pool, int newSize);
NevrinPool *nevrinGrow(NevrinPool *pool);

#ifdef __cplusplus
}
#endif

#endif
