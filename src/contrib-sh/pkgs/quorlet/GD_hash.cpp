// Chained string-keyed hash table; see GD_hash.h.
#include "GD_hash.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "GDPC_Hash.h"
#include "yastro.h"

namespace rtn {

struct GDH_Block {
  GDH_Block *next;
  void *align;  // entries start pointer-aligned after the header
};

namespace {
const int kWidth[] = {1, 2, 4, 6, 8, 10, 12, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23};

// Hash and length of a NUL-terminated key in one pass.
uint32_t Hash(const char *s, size_t *len) {
  uint32_t h = 0;
  const char *p = s;
  for (; *p; p++) h = h * 9 + (uint32_t)(int32_t)(int8_t)*p;
  *len = (size_t)(p - s);
  return h;
}

// (hash & mask) % bucketCount, the remainder taken by multiplying with a
// stored reciprocal (exact for every 32-bit dividend and divisor).
inline int32_t Index(const GDH_HashTable &t, uint32_t hash) {
  const uint64_t low = t.modMagic * (uint64_t)(hash & t.mask);
  return (int32_t)(((unsigned __int128)low * (uint32_t)t.bucketCount) >> 64);
}

inline bool Same(const GDH_HashEntry *e, const char *key, size_t len, uint32_t hash) {
  return e->hash == hash && e->length == len && memcmp(e->key, key, len) == 0;
}

void SetLevel(GDH_HashTable &t, int level) {
  t.sizeLevel = level;
  t.bucketCount = GDPC_BucketCount(level);
  t.modMagic = UINT64_C(0xFFFFFFFFFFFFFFFF) / (uint32_t)t.bucketCount + 1;
  t.buckets = (GDH_HashEntry **)DB_MALLOC(sizeof(GDH_HashEntry *) * t.bucketCount);
  memset(t.buckets, 0, sizeof(GDH_HashEntry *) * t.bucketCount);
  t.growAt = (t.bucketCount + 1) / 2;
  t.mask = (uint32_t)((1ull << (kWidth[level] + 3)) - 1);
}

void Grow(GDH_HashTable &t) {
  if (GDPC_BucketCount(t.sizeLevel + 1) < 0) {
    t.growAt = 0x7fffffff;  // the series ends: chains grow longer instead
    return;
  }
  GDH_HashEntry **old = t.buckets;
  int32_t oldCount = t.bucketCount;
  SetLevel(t, t.sizeLevel + 1);
  t.shift -= 3 + kWidth[t.sizeLevel];
  for (int32_t b = 0; b < oldCount; b++)
    for (GDH_HashEntry *e = old[b]; e;) {
      GDH_HashEntry *next = e->next;
      GDH_HashEntry **slot = &t.buckets[Index(t, e->hash)];
      e->next = *slot;
      e->bucket = slot;
      *slot = e;
      e = next;
    }
  DB_FREE(old);
}

// Room of an entry whose key has len bytes, a multiple of 8.
inline size_t EntrySize(size_t len) { return (offsetof(GDH_HashEntry, key) + len + 1 + 7) & ~(size_t)7; }

const size_t kBlockBytes = 32768;

GDH_HashEntry *NewEntry(GDH_HashTable &t, size_t len) {
  const size_t size = EntrySize(len);
  const size_t c = size / 8;
  if (c < GDH_SIZE_CLASSES && t.freed[c]) {
    GDH_HashEntry *e = t.freed[c];
    t.freed[c] = e->next;
    return e;
  }
  if (size > t.roomLeft) {
    // A new block; what is left of the old one stays unused.
    const size_t bytes = std::max(kBlockBytes, size + sizeof(GDH_Block));
    GDH_Block *b = (GDH_Block *)DB_MALLOC(bytes);
    b->next = t.blocks;
    t.blocks = b;
    t.room = (char *)b + sizeof(GDH_Block);
    t.roomLeft = bytes - sizeof(GDH_Block);
  }
  GDH_HashEntry *e = (GDH_HashEntry *)t.room;
  t.room += size;
  t.roomLeft -= size;
  return e;
}

void FreeEntry(GDH_HashTable &t, GDH_HashEntry *e) {
  const size_t c = EntrySize(e->length) / 8;
  if (c >= GDH_SIZE_CLASSES) return;  // a long key's room stays until the table goes
  e->next = t.freed[c];
  t.freed[c] = e;
}

void FreeBlocks(GDH_HashTable &t) {
  for (GDH_Block *b = t.blocks; b;) {
    GDH_Block *n = b->next;
    DB_FREE(b);
    b = n;
  }
  t.blocks = nullptr;
  t.room = nullptr;
  t.roomLeft = 0;
  for (auto &f : t.freed) f = nullptr;
}

void CheckLive(const GDH_HashTable &t, const char *what) {
  if (t.deleted || !t.buckets) DB_Panic("called %s on deleted table", what);
}
}  // namespace

void GDH_InitHashTable(GDH_HashTable &t, int keyWords, int sizeHint) {
  int level = sizeHint > 0 ? (int)std::floor(std::log(4.0 * sizeHint) / std::log(4.0)) : 0;
  if (GDPC_BucketCount(level) < 0) level = 11;
  t = GDH_HashTable();
  t.keyWords = keyWords;
  SetLevel(t, level);
  t.shift = 33 - kWidth[level];
}

GDH_HashEntry *GDH_FindHashEntryHashed(const GDH_HashTable &t, const char *key, size_t len, uint32_t hash) {
  CheckLive(t, "GDH_FindHashEntry");
  for (GDH_HashEntry *e = t.buckets[Index(t, hash)]; e; e = e->next)
    if (Same(e, key, len, hash)) return e;
  return nullptr;
}

GDH_HashEntry *GDH_FindHashEntry(const GDH_HashTable &t, const char *key) {
  size_t len;
  uint32_t hash = Hash(key, &len);
  return GDH_FindHashEntryHashed(t, key, len, hash);
}

GDH_HashEntry *GDH_CreateHashEntryHashed(GDH_HashTable &t, const char *key, size_t len, uint32_t hash,
                                         bool *isNew) {
  CheckLive(t, "GDH_CreateHashEntry");
  GDH_HashEntry **slot = &t.buckets[Index(t, hash)];
  for (GDH_HashEntry *e = *slot; e; e = e->next)
    if (Same(e, key, len, hash)) {
      if (isNew) *isNew = false;
      return e;
    }
  if (isNew) *isNew = true;
  GDH_HashEntry *e = NewEntry(t, len);
  e->table = &t;
  e->bucket = slot;
  e->next = *slot;
  e->value = 0;
  e->hash = hash;
  e->length = (uint32_t)len;
  memcpy(e->key, key, len);
  e->key[len] = '\0';
  *slot = e;
  if (++t.entryCount >= t.growAt) Grow(t);
  return e;
}

GDH_HashEntry *GDH_CreateHashEntry(GDH_HashTable &t, const char *key, bool *isNew) {
  size_t len;
  uint32_t hash = Hash(key, &len);
  return GDH_CreateHashEntryHashed(t, key, len, hash, isNew);
}

void GDH_DeleteHashEntry(GDH_HashEntry *entry) {
  GDH_HashTable &t = *entry->table;
  GDH_HashEntry **slot = entry->bucket;
  if (*slot == entry) {
    *slot = entry->next;
  } else {
    GDH_HashEntry *p = *slot;
    while (p && p->next != entry) p = p->next;
    if (!p) DB_Panic("malformed bucket chain in GDH_DeleteHashEntry");
    p->next = entry->next;
  }
  t.entryCount--;
  FreeEntry(t, entry);
}

void GDH_DeleteHashTable(GDH_HashTable &t) {
  FreeBlocks(t);
  if (t.buckets) DB_FREE(t.buckets);
  t.buckets = nullptr;
  t.entryCount = 0;
  t.deleted = true;
}

GDH_HashEntry *GDH_FirstHashEntry(const GDH_HashTable &t, HashWalk &walk) {
  walk = {&t, 0, nullptr};
  return GDH_NextHashEntry(walk);
}

GDH_HashEntry *GDH_NextHashEntry(HashWalk &walk) {
  while (!walk.pending) {
    if (walk.bucket >= walk.table->bucketCount) return nullptr;
    walk.pending = walk.table->buckets[walk.bucket++];
  }
  GDH_HashEntry *e = walk.pending;
  walk.pending = e->next;
  return e;
}

std::string GDH_HashStats(const GDH_HashTable &t) {
  HashChainCounts c;
  for (int32_t b = 0; b < t.bucketCount; b++) {
    int n = 0;
    for (GDH_HashEntry *e = t.buckets[b]; e; e = e->next) n++;
    c.add(n);
  }
  return HashStatsText(c, t.entryCount, t.bucketCount);
}

std::string HashStatsText(const HashChainCounts &c, int entries, int buckets) {
  double average = 0;
  for (int n = 1; n <= 9; n++)
    if (entries) average += c.counter[n] * n * (n + 1) / 2.0 / entries;
  char buf[160];
  std::string s;
  snprintf(buf, sizeof buf, "%d entries in table, %d buckets\n", entries, buckets);
  s += buf;
  for (int n = 0; n <= 9; n++) {
    snprintf(buf, sizeof buf, "number of buckets with %d entries: %d\n", n, c.counter[n]);
    s += buf;
  }
  snprintf(buf, sizeof buf, "number of buckets with %d or more entries: %d\n", 10, c.overflow);
  s += buf;
  snprintf(buf, sizeof buf, "average search distance for entry: %.3f", average);
  return s + buf;
}

}  // namespace rtn
