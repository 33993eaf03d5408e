// Example sets and the two training-vector file formats.
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

#include "dravin_int.h"
#include "kelmortrain.h"

ExampleSet *allocExample(GS_Result *r, int count, int dimension) {
  if (count < 0 || dimension < 0 || (int64_t)count * (dimension > 0 ? dimension : 1) > (INT_MAX / 4 - 16)) {
    nnet_Err(r, "impossible example set of %d examples of dimension %d", count, dimension);
    return nullptr;
  }
  auto *s = (ExampleSet *)nnet_Calloc(r, 1, sizeof(ExampleSet));
  if (!s) return nullptr;
  s->count = s->exampleCount = count;
  s->dimension = dimension;
  s->data = (float *)nnet_Calloc(r, (int64_t)count * dimension, sizeof(float));
  s->rows = (float **)nnet_Calloc(r, count, sizeof(float *));
  s->classes = (int32_t *)nnet_Calloc(r, count, sizeof(int32_t));
  if (!s->data || !s->rows || !s->classes) {
    freeExample(s);
    return nullptr;
  }
  for (int i = 0; i < count; i++) s->rows[i] = s->data + (size_t)i * dimension;
  return s;
}

void freeExample(ExampleSet *s) {
  if (!s) return;
  nnet_Free(s->data);
  nnet_Free(s->rows);
  nnet_Free(s->classes);
  nnet_Free(s);
}

ExampleSet *cloneExample(GS_Result *r, const ExampleSet *src) {
  ExampleSet *s = allocExample(r, src->count, src->dimension);
  if (!s) return nullptr;
  for (int i = 0; i < src->count; i++)
    memcpy(s->rows[i], src->rows[i], sizeof(float) * (size_t)src->dimension);
  memcpy(s->classes, src->classes, sizeof(int32_t) * (size_t)src->count);
  s->exampleCount = src->exampleCount;
  return s;
}

static void putLE(std::vector<unsigned char> &b, uint32_t v) {
  for (int i = 0; i < 4; i++) b.push_back((unsigned char)(v >> (8 * i)));
}
static uint32_t getLE(const unsigned char *p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

int packExample(GS_Result *r, const ExampleSet *s, unsigned char **bytes, long *len) {
  std::vector<unsigned char> b;
  putLE(b, (uint32_t)s->count);
  putLE(b, (uint32_t)s->dimension);
  putLE(b, (uint32_t)s->exampleCount);
  for (int i = 0; i < s->count; i++) {
    putLE(b, (uint32_t)s->classes[i]);
    for (int k = 0; k < s->dimension; k++) {
      uint32_t v;
      memcpy(&v, &s->rows[i][k], 4);
      putLE(b, v);
    }
  }
  unsigned char *p = (unsigned char *)nnet_Calloc(r, (int64_t)b.size(), 1);
  if (!p) return 1;
  memcpy(p, b.data(), b.size());
  *bytes = p;
  *len = (long)b.size();
  return 0;
}

ExampleSet *unpackExample(GS_Result *r, const unsigned char *p, long len) {
  if (len < 12) {
    nnet_Err(r, "packed example set is damaged");
    return nullptr;
  }
  int count = (int32_t)getLE(p), dim = (int32_t)getLE(p + 4), ec = (int32_t)getLE(p + 8);
  if (count < 0 || dim < 0 || (len - 12) / 4 / ((int64_t)dim + 1) != count || (len - 12) % (4 * ((int64_t)dim + 1))) {
    nnet_Err(r, "packed example set is damaged");
    return nullptr;
  }
  ExampleSet *s = allocExample(r, count, dim);
  if (!s) return nullptr;
  s->exampleCount = ec;
  const unsigned char *q = p + 12;
  for (int i = 0; i < count; i++) {
    s->classes[i] = (int32_t)getLE(q);
    q += 4;
    for (int k = 0; k < dim; k++, q += 4) {
      uint32_t v = getLE(q);
      memcpy(&s->rows[i][k], &v, 4);
    }
  }
  return s;
}

// Word order of a file: little-endian, or big-endian with nborder.
static uint32_t decode(const unsigned char *p, int nborder) {
  if (nborder) return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
  return getLE(p);
}
static void encode(uint32_t v, unsigned char *p, int nborder) {
  for (int i = 0; i < 4; i++) p[nborder ? 3 - i : i] = (unsigned char)(v >> (8 * i));
}

// Reads the header of a single-class file and derives the dimension; the
// file position is left after the count word. EINVAL for a damaged file.
// Closes a file the caller gives up on, keeping the errno that says why; answers NULL.
static FILE *closeFailed(FILE *f) {
  int e = errno;
  fclose(f);
  errno = e;
  return nullptr;
}

static int readHeader(FILE *f, int nborder, int *count, int *dimension) {
  struct stat st;
  if (fstat(fileno(f), &st) != 0) return 1;
  *count = *dimension = 0;
  if (st.st_size == 0) return 0;
  unsigned char b[4];
  if (fread(b, 1, 4, f) != 4) {
    errno = EINVAL;
    return 1;
  }
  int32_t n = (int32_t)decode(b, nborder);
  if (n < 0 || (n == 0 && st.st_size != 4)) {
    errno = EINVAL;
    return 1;
  }
  if (n == 0) return 0;
  int64_t words = ((int64_t)st.st_size - 4) / 4;
  int64_t D = words / n - 1;
  if (D < 0 || D > INT_MAX / 8 || 4 + (int64_t)n * 4 * (D + 1) != (int64_t)st.st_size) {
    errno = EINVAL;
    return 1;
  }
  *count = n;
  *dimension = (int)D;
  return 0;
}

FILE *optOpenForRead(const char *path, int nborder, int *count, int *dimension) {
  FILE *f = fopen(path, "rb");
  if (!f) return nullptr;
  if (readHeader(f, nborder, count, dimension)) return closeFailed(f);
  if (*count == 0) fseeko(f, 0, SEEK_END);
  return f;
}

FILE *optOpenForWrite(const char *path, int nborder, int *count, int *dimension) {
  FILE *f = fopen(path, "rb+");
  if (f) {
    if (readHeader(f, nborder, count, dimension) || fseeko(f, 0, SEEK_END) != 0) return closeFailed(f);
    return f;
  }
  f = fopen(path, "wb+");
  if (!f) return nullptr;
  *count = *dimension = 0;
  unsigned char b[4];
  encode(0, b, nborder);
  if (fwrite(b, 1, 4, f) != 4) return closeFailed(f);
  return f;
}

int optReadBlock(FILE *f, int n, int32_t *classes, int dimension, float **rows, int nborder) {
  std::vector<unsigned char> buf(4 * ((size_t)dimension + 1));
  int i = 0;
  for (; i < n; i++) {
    if (fread(buf.data(), 1, buf.size(), f) != buf.size()) break;
    classes[i] = (int32_t)decode(buf.data(), nborder) - 1;
    for (int k = 0; k < dimension; k++) {
      uint32_t v = decode(buf.data() + 4 * (k + 1), nborder);
      memcpy(&rows[i][k], &v, 4);
    }
  }
  return i;
}

int optWriteBlock(FILE *f, int n, const int32_t *classes, int dimension, float *const *rows, int nborder,
                  int flag, int total) {
  std::vector<unsigned char> buf(4 * ((size_t)dimension + 1));
  for (int i = 0; i < n; i++) {
    encode((uint32_t)(classes[i] + 1), buf.data(), nborder);
    for (int k = 0; k < dimension; k++) {
      uint32_t v;
      memcpy(&v, &rows[i][k], 4);
      encode(v, buf.data() + 4 * (k + 1), nborder);
    }
    if (fwrite(buf.data(), 1, buf.size(), f) != buf.size()) return 1;
  }
  unsigned char b[4];
  encode((uint32_t)total, b, nborder);
  if (fseeko(f, 0, SEEK_SET) != 0 || fwrite(b, 1, 4, f) != 4 || fseeko(f, 0, SEEK_END) != 0 || fflush(f) != 0)
    return 1;
  return 0;
}

FILE *mvec_OpenForAppend(GS_Result *r, const char *path, int K, int *count) {
  if (K < 0 || K > 1000) {
    nnet_Err(r, "%s: %d class slots per example; at most 1000 are allowed", path, K);
    return nullptr;
  }
  unsigned char b[8];
  FILE *f = fopen(path, "rb+");
  if (f) {
    if (fread(b, 1, 8, f) != 8) {
      nnet_Err(r, "%s: not a multi-target example file", path);
      fclose(f);
      return nullptr;
    }
    int32_t fileK = (int32_t)getLE(b + 4);
    if (fileK != K) {
      // Examples of another width would make the whole file unreadable.
      nnet_Err(r, "%s holds %d class slots per example, not %d", path, fileK, K);
      fclose(f);
      return nullptr;
    }
    *count = (int32_t)getLE(b);
    fseeko(f, 0, SEEK_END);
    return f;
  }
  f = fopen(path, "wb+");
  if (!f) {
    nnet_Err(r, "cannot write %s: %s", path, strerror(errno));
    return nullptr;
  }
  encode(0, b, 0);
  encode((uint32_t)K, b + 4, 0);
  if (fwrite(b, 1, 8, f) != 8) {
    nnet_Err(r, "cannot write %s: %s", path, strerror(errno));
    fclose(f);
    return nullptr;
  }
  *count = 0;
  return f;
}

int mvec_WriteExample(FILE *f, int K, const int32_t *slots, const float *targets, int D, const float *features) {
  std::vector<unsigned char> b(4 * (2 * (size_t)K + D));
  unsigned char *p = b.data();
  for (int k = 0; k < K; k++, p += 4) encode((uint32_t)slots[k], p, 0);
  for (int k = 0; k < K; k++, p += 4) {
    uint32_t v;
    memcpy(&v, &targets[k], 4);
    encode(v, p, 0);
  }
  for (int k = 0; k < D; k++, p += 4) {
    uint32_t v;
    memcpy(&v, &features[k], 4);
    encode(v, p, 0);
  }
  return fwrite(b.data(), 1, b.size(), f) != b.size();
}

int mvec_Close(GS_Result *r, FILE *f, int total) {
  unsigned char b[4];
  encode((uint32_t)total, b, 0);
  int bad = fseeko(f, 0, SEEK_SET) != 0 || fwrite(b, 1, 4, f) != 4;
  if (fclose(f) != 0) bad = 1;
  if (bad) nnet_Err(r, "cannot finish multi-target file: %s", strerror(errno));
  return bad;
}
