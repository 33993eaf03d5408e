// Reading shared by the training-vector file checkers (veccheck, mveccheck):
// little-endian 32-bit words, features in a sane range, messages on stderr.
#ifndef VECCHECK_VECFILE_H
#define VECCHECK_VECFILE_H

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

static inline bool VecFile_ReadWord(FILE *f, uint32_t *w) {
  unsigned char b[4];
  if (fread(b, 1, 4, f) != 4) return false;
  *w = (uint32_t)b[0] | (uint32_t)b[1] << 8 | (uint32_t)b[2] << 16 | (uint32_t)b[3] << 24;
  return true;
}

// Opens the one file named on the command line and gives its size; says why
// on stderr and answers NULL when it cannot.
static inline FILE *VecFile_Open(int argc, char **argv, int64_t *size) {
  if (argc != 2) {
    fprintf(stderr, "give vec file\n");
    return nullptr;
  }
  struct stat st;
  if (stat(argv[1], &st) != 0) {
    fprintf(stderr, "cannot stat %s\n", argv[1]);
    return nullptr;
  }
  FILE *f = fopen(argv[1], "rb");
  if (!f) {
    fprintf(stderr, "cannot open %s\n", argv[1]);
    return nullptr;
  }
  *size = (int64_t)st.st_size;
  return f;
}

// Reads a header word; says so on stderr when the file ends first.
static inline bool VecFile_ReadHeader(FILE *f, int *v) {
  uint32_t w;
  if (!VecFile_ReadWord(f, &w)) {
    fprintf(stderr, "premature end of file at beginning\n");
    return false;
  }
  *v = (int32_t)w;
  return true;
}

static inline void VecFile_Premature(int i, int count) {
  fprintf(stderr, "premature end of file at vec %d of %d\n", i, count);
}

// Reads the D features of vector i (of count) into into[] when it is not
// NULL; says on stderr and answers false when one is missing or out of range.
static inline bool VecFile_ReadFeatures(FILE *f, int64_t D, int i, int count, float *into) {
  for (int64_t k = 0; k < D; k++) {
    uint32_t w;
    if (!VecFile_ReadWord(f, &w)) {
      VecFile_Premature(i, count);
      return false;
    }
    float v;
    memcpy(&v, &w, 4);
    if (into) into[k] = v;
    if (!(v >= -100.0f && v <= 100.0f)) {
      fprintf(stderr, "input %d in vector %d is %f\n", (int)k, i, v);
      return false;
    }
  }
  return true;
}

#endif
