// String-keyed hash table with chained entries, each holding a copy of its
// key. For tables that live only in memory.
//
// Contract: the bucket series and growth rule are those of GDPC_Hash.h and
// keys hash the same way; a growth re-chains every entry at the head of its
// new chain. A deleted table stops the process on its next use.
// Entries come from blocks the table owns (a parse makes thousands of them
// and drops them all at once); a deleted entry's room is reused by a later
// entry of the same size, and every block is freed with the table.
#ifndef QUORLET_GD_HASH_H
#define QUORLET_GD_HASH_H

#include <cstdint>
#include <string>

namespace rtn {

struct GDH_HashTable;

struct GDH_HashEntry {
  GDH_HashEntry *next;
  GDH_HashTable *table;
  GDH_HashEntry **bucket;  // the chain-head slot of its chain
  intptr_t value;          // the caller's, 0 when created
  uint32_t hash;           // of the key, kept so that lookups and growth need not hash again
  uint32_t length;         // of the key, without its NUL
  char key[1];             // NUL-terminated, allocated to fit
};

struct GDH_Block;
enum { GDH_SIZE_CLASSES = 40 };  // free lists by entry size in 8-byte steps

struct GDH_HashTable {
  GDH_HashEntry **buckets = nullptr;
  GDH_Block *blocks = nullptr;  // the entries' room, newest block first
  char *room = nullptr;         // the unused end of the newest block
  size_t roomLeft = 0;
  GDH_HashEntry *freed[GDH_SIZE_CLASSES] = {};  // deleted entries, by size class
  int32_t bucketCount = 0;
  int32_t sizeLevel = 0;
  int32_t entryCount = 0;
  int32_t growAt = 0;
  int32_t shift = 0;
  uint32_t mask = 0;
  uint64_t modMagic = 0;  // turns "% bucketCount" into multiplications
  int32_t keyWords = 0;  // 0: NUL-terminated string keys (the only kind made)
  bool deleted = false;
};

struct HashWalk {
  const GDH_HashTable *table;
  int32_t bucket;
  GDH_HashEntry *pending;
};

void GDH_InitHashTable(GDH_HashTable &t, int keyWords, int sizeHint);
GDH_HashEntry *GDH_FindHashEntry(const GDH_HashTable &t, const char *key);
GDH_HashEntry *GDH_CreateHashEntry(GDH_HashTable &t, const char *key, bool *isNew);
// The hash of a key, and of a key that continues one whose hash is h; for
// callers that make many keys with a common start.
inline uint32_t GDH_HashMore(uint32_t h, const char *s, size_t len) {
  for (size_t i = 0; i < len; i++) h = h * 9 + (uint32_t)(int32_t)(int8_t)s[i];
  return h;
}
// As the two above, for a key of `len` bytes (NUL at key[len]) whose hash is
// GDH_HashMore(0, key, len).
GDH_HashEntry *GDH_FindHashEntryHashed(const GDH_HashTable &t, const char *key, size_t len, uint32_t hash);
GDH_HashEntry *GDH_CreateHashEntryHashed(GDH_HashTable &t, const char *key, size_t len, uint32_t hash,
                                         bool *isNew);
void GDH_DeleteHashEntry(GDH_HashEntry *entry);
void GDH_DeleteHashTable(GDH_HashTable &t);
GDH_HashEntry *GDH_FirstHashEntry(const GDH_HashTable &t, HashWalk &walk);
GDH_HashEntry *GDH_NextHashEntry(HashWalk &walk);
std::string GDH_HashStats(const GDH_HashTable &t);

// Chain lengths of a table's buckets, as the statistics of every hash family
// report them: 0 to 9 entries, and longer.
struct HashChainCounts {
  int counter[10] = {};
  int overflow = 0;
  void add(int n) {
    if (n <= 9) counter[n]++;
    else overflow++;
  }
};
std::string HashStatsText(const HashChainCounts &c, int entries, int buckets);

// The report of a table whose buckets and chains are indices into its entry
// vector (-1 ends a chain).
template <class Table>
std::string IndexedHashStats(const Table &t) {
  HashChainCounts c;
  for (int32_t head : t.buckets) {
    int n = 0;
    for (int32_t e = head; e >= 0; e = t.entry[e].next) n++;
    c.add(n);
  }
  return HashStatsText(c, (int)t.entry.size(), (int)t.buckets.size());
}

}  // namespace rtn

#endif
