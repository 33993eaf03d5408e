// veccheck FILE
// Checks a single-class training-vector file (little-endian: numvec, then per
// vector a 1-based class and D features) and prints the count of every class.
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

static bool readFloat(FILE *f, float *v) {
  uint32_t w;
  if (!readWord(f, &w)) return false;
  memcpy(v, &w, 4);
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
  int numvec = (int32_t)w;
  // A count of 0 or less leaves the dimension undefined.
  if (numvec <= 0) {
    fprintf(stderr, "bad vector count %d\n", numvec);
    return 1;
  }
  int64_t D = ((int64_t)st.st_size - 4) / (4 * (int64_t)numvec) - 1;
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
  for (int i = 0; i < numvec; i++) {
    if (!readWord(f, &w)) {
      fprintf(stderr, "premature end of file at vec %d of %d\n", i, numvec);
      return 1;
    }
    int c = (int32_t)w;
    if (c < 1 || c >= kMaxClass) {
      fprintf(stderr, "vector %d class %d out of range 1 to %d\n", i, c, kMaxClass);
      return 1;
    }
    counts[c]++;
    if (c > maxClass) maxClass = c;
    for (int64_t k = 0; k < D; k++) {
      if (!readFloat(f, &inputs[k])) {
        fprintf(stderr, "premature end of file at vec %d of %d\n", i, numvec);
        return 1;
      }
      float v = inputs[k];
      if (!(v >= -100.0f && v <= 100.0f)) {
        fprintf(stderr, "input %d in vector %d is %f\n", (int)k, i, v);
        return 1;
      }
    }
  }
  if (readWord(f, &w)) {
    fprintf(stderr, "after %d vectors, input remains\n", numvec - 1);
    return 1;
  }
  for (int c = 1; c <= maxClass; c++) printf("%3d: %6d\n", c, counts[c]);
  printf("\n%d vectors with %d features\n", numvec, (int)D);
  fclose(f);
  return 0;
}
