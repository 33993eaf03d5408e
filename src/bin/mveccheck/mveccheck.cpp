// mveccheck FILE
// Checks a multi-target example file (little-endian: count, K, then per
// example K class slots, K targets and D features) and prints the count of
// every class named by a slot.
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

static bool readWord(FILE *f, uint32_t *w) {
  unsigned char b[4];
  if (fread(b, 1, 4, f) != 4) return false;
  *w = (uint32_t)b[0] | (uint32_t)b[1] << 8 | (uint32_t)b[2] << 16 | (uint32_t)b[3] << 24;
  return true;
}

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "give vec file\n");
    return 1;
  }
  struct stat st;
  if (stat(argv[1], &st) != 0) {
    fprintf(stderr, "cannot stat %s\n", argv[1]);
    return 1;
  }
  FILE *f = fopen(argv[1], "rb");
  if (!f) {
    fprintf(stderr, "cannot open %s\n", argv[1]);
    return 1;
  }
  uint32_t w;
  if (!readWord(f, &w)) {
    fprintf(stderr, "premature end of file at beginning\n");
    return 1;
  }
  int count = (int32_t)w;
  if (!readWord(f, &w)) {
    fprintf(stderr, "premature end of file at beginning\n");
    return 1;
  }
  int K = (int32_t)w;
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
  int64_t D = ((int64_t)st.st_size - 8) / (4 * (int64_t)count) - 2 * (int64_t)K;
  if (D < 0) D = 0;  // too short for its count: fails at the first missing word
  printf("numinputs: %d\n", (int)D);
  const int kMaxClass = 10000;
  std::vector<int> counts(kMaxClass, 0);
  std::vector<int32_t> slots(K > 0 ? K : 1);
  int maxClass = 0;
  for (int i = 0; i < count; i++) {
    for (int k = 0; k < 2 * K; k++) {
      if (!readWord(f, &w)) {
        fprintf(stderr, "premature end of file at vec %d of %d\n", i, count);
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
    for (int64_t k = 0; k < D; k++) {
      if (!readWord(f, &w)) {
        fprintf(stderr, "premature end of file at vec %d of %d\n", i, count);
        return 1;
      }
      float v;
      memcpy(&v, &w, 4);
      if (!(v >= -100.0f && v <= 100.0f)) {
        fprintf(stderr, "input %d in vector %d is %f\n", (int)k, i, v);
        return 1;
      }
    }
  }
  for (int k = 0; k < (K > 0 ? K : 1); k++)
    if (readWord(f, &w)) {
      fprintf(stderr, "after %d vectors, input remains\n", count - 1);
      return 1;
    }
  for (int c = 0; c <= maxClass; c++) printf("%3d: %6d\n", c, counts[c]);
  printf("\n%d vectors with %d features\n", count, (int)D);
  fclose(f);
  return 0;
}
