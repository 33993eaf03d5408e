// veccheck FILE
// Checks a single-class training-vector file (little-endian: numvec, then per
// vector a 1-based class and D features) and prints the count of every class.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "vecfile.h"

int main(int argc, char **argv) {
  int64_t size;
  FILE *f = VecFile_Open(argc, argv, &size);
  if (!f) return 1;
  int numvec;
  if (!VecFile_ReadHeader(f, &numvec)) return 1;
  // A count of 0 or less leaves the dimension undefined.
  if (numvec <= 0) {
    fprintf(stderr, "bad vector count %d\n", numvec);
    return 1;
  }
  int64_t D = (size - 4) / (4 * (int64_t)numvec) - 1;
  // A file too short for its count fails at its first missing word below.
  if (D < 0) D = 0;
  std::vector<float> inputs;
  try {
    inputs.resize(D > 0 ? D : 1);
  } catch (...) {
    fprintf(stderr, "cannot malloc inputs\n");
    return 1;
  }
  const int kMaxClass = 10000;
  std::vector<int> counts(kMaxClass, 0);
  int maxClass = 0;
  uint32_t w;
  for (int i = 0; i < numvec; i++) {
    if (!VecFile_ReadWord(f, &w)) {
      VecFile_Premature(i, numvec);
      return 1;
    }
    int c = (int32_t)w;
    if (c < 1 || c >= kMaxClass) {
      fprintf(stderr, "vector %d class %d out of range 1 to %d\n", i, c, kMaxClass);
      return 1;
    }
    counts[c]++;
    if (c > maxClass) maxClass = c;
    if (!VecFile_ReadFeatures(f, D, i, numvec, inputs.data())) return 1;
  }
  if (VecFile_ReadWord(f, &w)) {
    fprintf(stderr, "after %d vectors, input remains\n", numvec - 1);
    return 1;
  }
  for (int c = 1; c <= maxClass; c++) printf("%3d: %6d\n", c, counts[c]);
  printf("\n%d vectors with %d features\n", numvec, (int)D);
  fclose(f);
  return 0;
}
