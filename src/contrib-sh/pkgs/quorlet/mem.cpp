// Item pools; see mem.h.
#include "mem.h"

#include <cstring>

#include "yastro.h"

namespace rtn {

// The hidden link word of an item; pointer-sized, so items start one
// pointer into their slot.
static const int kLink = sizeof(char *);

static MemChunk *NewChunk(int capacity, int slotSize) {
  MemChunk *c = (MemChunk *)DB_MALLOC(sizeof(MemChunk));
  c->next = nullptr;
  c->data = (char *)DB_MALLOC((size_t)capacity * slotSize);
  memset(c->data, 0, (size_t)capacity * slotSize);
  c->used = 0;
  c->capacity = capacity;
  return c;
}

MemPool *mem_Init(int slotsPerChunk, int itemSize, int extraWords) {
  MemPool *p = (MemPool *)DB_MALLOC(sizeof(MemPool));
  memset(p, 0, sizeof *p);
  p->slotsPerChunk = slotsPerChunk > 0 ? slotsPerChunk : 1;
  p->slotSize = itemSize + 4 * extraWords;
  if (p->slotSize < kLink + 1) p->slotSize = kLink + 1;
  p->first = p->current = NewChunk(p->slotsPerChunk, p->slotSize);
  return p;
}

void *mem_Alloc(MemPool *pool, int n) {
  if (n < 1) n = 1;
  MemChunk *c = pool->current;
  if (c->used + n > c->capacity) {
    MemChunk *d = NewChunk(n > pool->slotsPerChunk ? n : pool->slotsPerChunk, pool->slotSize);
    c->next = d;
    pool->current = c = d;
  }
  char *slot = c->data + (size_t)c->used * pool->slotSize;
  c->used += n;
  slot[0] = 0;
  return slot;
}

void *mem_AllocItem(MemPool *pool) {
  char *slot = pool->freeHead;
  if (slot) {
    memcpy(&pool->freeHead, slot, kLink);
    if (!pool->freeHead) pool->freeTail = nullptr;
    memset(slot, 0, pool->slotSize);
  } else {
    slot = (char *)mem_Alloc(pool, 1);
    memset(slot, 0, kLink);
  }
  return slot + kLink;
}

void mem_FreeItem(MemPool *pool, void *item) {
  char *slot = (char *)item - kLink;
  memset(slot, 0, pool->slotSize);
  if (pool->freeTail) memcpy(pool->freeTail, &slot, kLink);
  else pool->freeHead = slot;
  pool->freeTail = slot;
}

void mem_Reset(MemPool *pool) {
  for (MemChunk *c = pool->first->next; c;) {
    MemChunk *n = c->next;
    DB_FREE(c->data);
    DB_FREE(c);
    c = n;
  }
  MemChunk *f = pool->first;
  f->next = nullptr;
  // Only what was used needs clearing: the rest is still zero.
  memset(f->data, 0, (size_t)f->used * pool->slotSize);
  f->used = 0;
  pool->current = f;
  pool->freeHead = pool->freeTail = nullptr;
}

void mem_Nuke(MemPool *pool) {
  if (!pool) return;
  for (MemChunk *c = pool->first; c;) {
    MemChunk *n = c->next;
    DB_FREE(c->data);
    DB_FREE(c);
    c = n;
  }
  DB_FREE(pool);
}

int mem_Size(const MemPool *pool) {
  int n = 0;
  for (MemChunk *c = pool->first; c; c = c->next) n += c->capacity;
  return n;
}

int mem_Used(const MemPool *pool) {
  int n = 0;
  for (MemChunk *c = pool->first; c; c = c->next) n += c->used;
  return n * pool->slotSize;
}

}  // namespace rtn
