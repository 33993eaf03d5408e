// String-keyed hash table held in three flat arrays (entries, key bytes,
// buckets) linked by indices, so that a compiled network stores it as plain
// data and reads it back without rebuilding it.
//
// Contract:
// - Bucket counts follow the series 1, 5, 17, 67, 257, 1031, 4099, 16411,
//   65337, 131071, 262139, 524287 (then primes near twice the last); a table
//   grows when its entry count reaches half its bucket count.
// - A key hashes as h = h * 9 + c over its bytes taken as signed 8-bit
//   values (32-bit wrap-around); its bucket is (h & mask) % bucketCount.
// - Entries of one chain appear in increasing index order; an entry's index
//   never changes, so callers keep indices, not addresses.
#ifndef QUORLET_GDPC_HASH_H
#define QUORLET_GDPC_HASH_H

#include <cstdint>
#include <string>
#include <vector>

namespace rtn {

struct GDPC_HashEntry {
  int32_t next;   // next entry of the chain, -1 at the end
  int32_t value;  // the caller's, 0 when created
  int32_t key;    // offset of the key's first byte in the key table
};

struct GDPC_HashTable {
  std::vector<GDPC_HashEntry> entry;
  std::vector<char> key;  // every key, NUL-terminated, in creation order
  std::vector<int32_t> buckets;
  int32_t sizeLevel = 0;
  int32_t growAt = 0;
  uint32_t mask = 0;
};

void GDPC_InitHashTable(GDPC_HashTable &t, int sizeHint);
// Index of the entry with this key, or -1.
int GDPC_StringFind(const GDPC_HashTable &t, const char *key, size_t len);
// Index of the entry with this key, made when absent (*isNew tells which).
int GDPC_StringCreate(GDPC_HashTable &t, const char *key, size_t len, bool *isNew);
inline const char *GDPC_Key(const GDPC_HashTable &t, int e) { return t.key.data() + t.entry[e].key; }
// "%d entries in table, %d buckets\n" ... "average search distance for entry: %.3f"
std::string GDPC_HashStats(const GDPC_HashTable &t);
// Checks a table read from a file: every index and offset in range, keys
// NUL-terminated, chains in increasing order (so finite), the size fields
// consistent. Returns false with the reason.
bool GDPC_CheckTable(const GDPC_HashTable &t, std::string &why);
// Sets growAt and mask from sizeLevel (after a table is read back).
void GDPC_SetDerived(GDPC_HashTable &t);
// Bucket count of a size level.
int32_t GDPC_BucketCount(int level);

}  // namespace rtn

#endif
