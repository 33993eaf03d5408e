// Flat string-keyed hash table; see GDPC_Hash.h.
#include "GDPC_Hash.h"

#include "GD_hash.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace rtn {

namespace {
// Bucket counts and mask widths; past the twelve given levels the counts are
// primes near twice the previous one.
const int32_t kCount[] = {1,      5,      17,      67,      257,     1031,    4099,     16411,
                          65337,  131071, 262139,  524287,  1048573, 2097143, 4194301,  8388593,
                          16777213};
const int kWidth[] = {1, 2, 4, 6, 8, 10, 12, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23};
const int kLevels = sizeof kCount / sizeof kCount[0];

uint32_t Hash(const char *s, size_t len) {
  uint32_t h = 0;
  for (size_t i = 0; i < len; i++) h = h * 9 + (uint32_t)(int32_t)(int8_t)s[i];
  return h;
}

void SetLevel(GDPC_HashTable &t, int level) {
  if (level >= kLevels) level = kLevels - 1;
  t.sizeLevel = level;
  t.buckets.assign(kCount[level], -1);
  t.growAt = (kCount[level] + 1) / 2;
  t.mask = (uint32_t)((1ull << (kWidth[level] + 3)) - 1);
}

int32_t Bucket(const GDPC_HashTable &t, const char *key, size_t len) {
  return (int32_t)((Hash(key, len) & t.mask) % (uint32_t)t.buckets.size());
}

void Rebuild(GDPC_HashTable &t) {
  SetLevel(t, t.sizeLevel + 1);
  std::vector<int32_t> tail(t.buckets.size(), -1);
  for (size_t i = 0; i < t.entry.size(); i++) {
    const char *k = t.key.data() + t.entry[i].key;
    int32_t b = Bucket(t, k, strlen(k));
    t.entry[i].next = -1;
    if (tail[b] < 0) t.buckets[b] = (int32_t)i;
    else t.entry[tail[b]].next = (int32_t)i;
    tail[b] = (int32_t)i;
  }
  t.entry.reserve(t.growAt + 1);
}
}  // namespace

void GDPC_SetDerived(GDPC_HashTable &t) {
  int level = t.sizeLevel < 0 ? 0 : t.sizeLevel >= kLevels ? kLevels - 1 : t.sizeLevel;
  t.growAt = (kCount[level] + 1) / 2;
  t.mask = (uint32_t)((1ull << (kWidth[level] + 3)) - 1);
}

int32_t GDPC_BucketCount(int level) {
  return level >= 0 && level < kLevels ? kCount[level] : -1;
}

void GDPC_InitHashTable(GDPC_HashTable &t, int sizeHint) {
  int level = sizeHint > 0 ? (int)std::floor(std::log(4.0 * sizeHint) / std::log(4.0)) : 0;
  t.entry.clear();
  t.key.clear();
  SetLevel(t, level);
  t.entry.reserve(t.growAt + 1);
  t.key.reserve((t.growAt + 1) * 24);
}

int GDPC_StringFind(const GDPC_HashTable &t, const char *key, size_t len) {
  if (t.buckets.empty()) return -1;
  for (int32_t e = t.buckets[Bucket(t, key, len)]; e >= 0; e = t.entry[e].next) {
    const char *k = t.key.data() + t.entry[e].key;
    if (strncmp(k, key, len) == 0 && k[len] == '\0') return e;
  }
  return -1;
}

int GDPC_StringCreate(GDPC_HashTable &t, const char *key, size_t len, bool *isNew) {
  if (t.buckets.empty()) GDPC_InitHashTable(t, 128);
  int32_t b = Bucket(t, key, len), last = -1;
  for (int32_t e = t.buckets[b]; e >= 0; e = t.entry[e].next) {
    const char *k = t.key.data() + t.entry[e].key;
    if (strncmp(k, key, len) == 0 && k[len] == '\0') {
      if (isNew) *isNew = false;
      return e;
    }
    last = e;
  }
  if (isNew) *isNew = true;
  int32_t index = (int32_t)t.entry.size();
  t.entry.push_back({-1, 0, (int32_t)t.key.size()});
  if (last < 0) t.buckets[b] = index;
  else t.entry[last].next = index;
  t.key.insert(t.key.end(), key, key + len);
  t.key.push_back('\0');
  if ((int32_t)t.entry.size() >= t.growAt) Rebuild(t);
  return index;
}

std::string GDPC_HashStats(const GDPC_HashTable &t) { return IndexedHashStats(t); }

bool GDPC_CheckTable(const GDPC_HashTable &t, std::string &why) {
  int32_t n = (int32_t)t.entry.size();
  if (t.sizeLevel < 0 || t.sizeLevel >= kLevels || (int32_t)t.buckets.size() != kCount[t.sizeLevel]) {
    why = "bad hash table size";
    return false;
  }
  if (t.key.empty() ? n != 0 : t.key.back() != '\0') {
    why = "hash table keys not terminated";
    return false;
  }
  if (n >= (kCount[t.sizeLevel] + 1) / 2) {
    why = "hash table fuller than its size";
    return false;
  }
  for (int32_t b : t.buckets)
    if (b < -1 || b >= n) {
      why = "bad hash bucket";
      return false;
    }
  for (int32_t i = 0; i < n; i++) {
    const GDPC_HashEntry &e = t.entry[i];
    if ((e.next != -1 && (e.next <= i || e.next >= n)) || e.key < 0 ||
        (size_t)e.key >= t.key.size()) {
      why = "bad hash entry";
      return false;
    }
  }
  return true;
}

}  // namespace rtn
