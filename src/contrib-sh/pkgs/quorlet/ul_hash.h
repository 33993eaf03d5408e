// Hash table of pairs of 32-bit integers held in two flat arrays (entries,
// buckets) linked by indices. An entry carries no value: its index, which
// never changes, identifies the pair.
//
// Contract: the bucket series and growth rule are those of GDPC_Hash.h; a
// key word k maps to ((k * 1103515245 as a 32-bit product) >> shift,
// arithmetic) & mask, where shift is fixed when the table is made, and a
// pair's bucket is the sum of its two words' values modulo the bucket count.
#ifndef QUORLET_UL_HASH_H
#define QUORLET_UL_HASH_H

#include <cstdint>
#include <string>
#include <vector>

namespace rtn {

struct UL_HashEntry {
  int32_t next;  // next entry of the chain, -1 at the end
  int32_t a, b;  // the pair
};

struct UL_HashTable {
  std::vector<UL_HashEntry> entry;
  std::vector<int32_t> buckets;
  int32_t sizeLevel = 0;
  int32_t growAt = 0;
  int32_t shift = 0;
  uint32_t mask = 0;
};

void UL_InitHashTable(UL_HashTable &t, int sizeHint);
int UL_KeyFind(const UL_HashTable &t, int32_t a, int32_t b);
int UL_KeyCreate(UL_HashTable &t, int32_t a, int32_t b, bool *isNew);
std::string UL_HashStats(const UL_HashTable &t);

}  // namespace rtn

#endif
