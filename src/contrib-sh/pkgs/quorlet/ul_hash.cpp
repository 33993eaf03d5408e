// Pair-keyed flat hash table; see ul_hash.h.
#include "ul_hash.h"

#include "GD_hash.h"

#include <cmath>
#include <cstdio>

#include "GDPC_Hash.h"

namespace rtn {

namespace {
const int kWidth[] = {1, 2, 4, 6, 8, 10, 12, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23};

// Right shift that copies the sign bit, whatever the compiler does with
// negative values.
inline int32_t ShiftRight(int32_t v, int s) {
  s &= 31;
  return v >= 0 ? v >> s : ~(~v >> s);
}

inline uint32_t Word(const UL_HashTable &t, int32_t k) {
  int32_t product = (int32_t)((uint32_t)k * 1103515245u);
  return (uint32_t)ShiftRight(product, t.shift) & t.mask;
}

inline int32_t Bucket(const UL_HashTable &t, int32_t a, int32_t b) {
  return (int32_t)((Word(t, a) + Word(t, b)) % (uint32_t)t.buckets.size());
}

void SetLevel(UL_HashTable &t, int level) {
  int count = GDPC_BucketCount(level);
  if (count < 0) {
    level = t.sizeLevel;
    count = GDPC_BucketCount(level);
  }
  t.sizeLevel = level;
  t.buckets.assign(count, -1);
  t.growAt = (count + 1) / 2;
  t.mask = (uint32_t)((1ull << (kWidth[level] + 3)) - 1);
}
}  // namespace

void UL_InitHashTable(UL_HashTable &t, int sizeHint) {
  int level = sizeHint > 0 ? (int)std::floor(std::log(4.0 * sizeHint) / std::log(4.0)) : 0;
  t.entry.clear();
  SetLevel(t, level);
  t.shift = 33 - kWidth[t.sizeLevel];
  t.entry.reserve(t.growAt + 1);
}

int UL_KeyFind(const UL_HashTable &t, int32_t a, int32_t b) {
  if (t.buckets.empty()) return -1;
  for (int32_t e = t.buckets[Bucket(t, a, b)]; e >= 0; e = t.entry[e].next)
    if (t.entry[e].a == a && t.entry[e].b == b) return e;
  return -1;
}

int UL_KeyCreate(UL_HashTable &t, int32_t a, int32_t b, bool *isNew) {
  if (t.buckets.empty()) UL_InitHashTable(t, 128);
  int32_t bk = Bucket(t, a, b), last = -1;
  for (int32_t e = t.buckets[bk]; e >= 0; e = t.entry[e].next) {
    if (t.entry[e].a == a && t.entry[e].b == b) {
      if (isNew) *isNew = false;
      return e;
    }
    last = e;
  }
  if (isNew) *isNew = true;
  int32_t index = (int32_t)t.entry.size();
  t.entry.push_back({-1, a, b});
  if (last < 0) t.buckets[bk] = index;
  else t.entry[last].next = index;
  if ((int32_t)t.entry.size() >= t.growAt && GDPC_BucketCount(t.sizeLevel + 1) > 0) {
    // Grow: the shift stays, the mask and count follow the new level, and
    // every entry is chained again in index order.
    SetLevel(t, t.sizeLevel + 1);
    std::vector<int32_t> tail(t.buckets.size(), -1);
    for (size_t i = 0; i < t.entry.size(); i++) {
      int32_t c = Bucket(t, t.entry[i].a, t.entry[i].b);
      t.entry[i].next = -1;
      if (tail[c] < 0) t.buckets[c] = (int32_t)i;
      else t.entry[tail[c]].next = (int32_t)i;
      tail[c] = (int32_t)i;
    }
  }
  return index;
}

std::string UL_HashStats(const UL_HashTable &t) { return IndexedHashStats(t); }

}  // namespace rtn
