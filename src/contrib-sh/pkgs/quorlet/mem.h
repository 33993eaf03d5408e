// Item pools: fixed-size slots handed out from large zero-filled chunks and
// dropped all at once, so that a parse makes its many small records without
// an allocator call each.
//
// Contract: mem_Alloc(pool, n) answers n consecutive zeroed slots inside one
// chunk; a request that does not fit in the rest of the current chunk starts
// a new chunk of max(slots per chunk, n) slots. Addresses stay valid until
// mem_Reset or mem_Nuke. Items (mem_AllocItem) carry a hidden link word and
// are reused first-freed first.
#ifndef QUORLET_MEM_H
#define QUORLET_MEM_H

#include <cstddef>

namespace rtn {

struct MemChunk {
  MemChunk *next;
  char *data;
  int used;
  int capacity;
};

struct MemPool {
  char *freeHead;
  char *freeTail;
  MemChunk *first;
  MemChunk *current;
  int slotsPerChunk;
  int slotSize;  // item size + 4 x extra words
};

MemPool *mem_Init(int slotsPerChunk, int itemSize, int extraWords);
void *mem_Alloc(MemPool *pool, int n);
void *mem_AllocItem(MemPool *pool);
void mem_FreeItem(MemPool *pool, void *item);
void mem_Reset(MemPool *pool);
void mem_Nuke(MemPool *pool);
int mem_Size(const MemPool *pool);  // capacity of all chunks, in slots
int mem_Used(const MemPool *pool);  // slots handed out x slot size, in bytes

}  // namespace rtn

#endif
