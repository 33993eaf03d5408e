// mveccheck FILE
// Checks a multi-target example file (little-endian: count, K, then per
// example K class slots, K targets and D features) and prints the count of
// every class named by a slot.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "vecfile.h"

int main(int argc, char **argv) {
  int64_t size;
  FILE *f = VecFile_Open(argc, argv, &size);
  if (!f) return 1;
  int count, K;
  if (!VecFile_ReadHeader(f, &count) || !VecFile_ReadHeader(f, &K)) return 1;
  printf("numvec: %d\nnumactive: %d\n", count, K);
  // The slot and target tables hold at most 1000 entries; a count of 0 or
  // less leaves the dimension undefined.
  if (K < 0 || K > 1000) {
    fprintf(stderr, "numactive %d out of range 0 to 1000\n", K);
    return 1;
  }
  if (count <= 0) {
    fprintf(stderr, "bad vector count %d\n", count);
    return 1;
  }
  int64_t D = (size - 8) / (4 * (int64_t)count) - 2 * (int64_t)K;
  if (D < 0) D = 0;  // too short for its count: fails at the first missing word
  printf("numinputs: %d\n", (int)D);
  const int kMaxClass = 10000;
  std::vector<int> counts(kMaxClass, 0);
  std::vector<int32_t> slots(K > 0 ? K : 1);
  int maxClass = 0;
  uint32_t w;
  for (int i = 0; i < count; i++) {
    for (int k = 0; k < 2 * K; k++) {
      if (!VecFile_ReadWord(f, &w)) {
        VecFile_Premature(i, count);
        return 1;
      }
      if (k < K) slots[k] = (int32_t)w;
    }
    for (int k = 0; k < K; k++) {
      int c = slots[k];
      if (c < -1 || c >= kMaxClass) {
        fprintf(stderr, "vector %d class %d out of range 1 to %d\n", i, c, kMaxClass);
        return 1;
      }
      if (c >= 0) {
        counts[c]++;
        if (c > maxClass) maxClass = c;
      }
    }
    if (!VecFile_ReadFeatures(f, D, i, count, nullptr)) return 1;
  }
  for (int k = 0; k < (K > 0 ? K : 1); k++)
    if (VecFile_ReadWord(f, &w)) {
      fprintf(stderr, "after %d vectors, input remains\n", count - 1);
      return 1;
    }
  for (int c = 0; c <= maxClass; c++) printf("%3d: %6d\n", c, counts[c]);
  printf("\n%d vectors with %d features\n", count, (int)D);
  fclose(f);
  return 0;
}
