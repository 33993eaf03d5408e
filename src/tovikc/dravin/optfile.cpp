// Opt network files (big-endian) and the packed form used by the registry.
#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "dravin_int.h"

static uint32_t fromBig(const unsigned char *p) {
  return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}
static void toBig(uint32_t v, unsigned char *p) {
  p[0] = v >> 24;
  p[1] = v >> 16;
  p[2] = v >> 8;
  p[3] = v;
}

Nnet *nnet_OptLoad(GS_Result *r, const char *path) {
  FILE *f = fopen(path, "rb");
  if (!f) {
    nnet_Err(r, "cannot read %s: %s", path, strerror(errno));
    return nullptr;
  }
  struct stat st;
  Nnet *net = nullptr;
  unsigned char head[8];
  int32_t sizes[NNET_MAX_LAYERS];
  int64_t w = 0;
  int n = 0;
  if (fstat(fileno(f), &st) != 0 || fread(head, 1, 8, f) != 8) {
    nnet_Err(r, "%s: not a network file (too short)", path);
    goto done;
  }
  n = (int32_t)fromBig(head + 4);
  if (n < 2 || n > NNET_MAX_LAYERS) {
    nnet_Err(r, "%s: impossible number of layers %d (wrong byte order?)", path, n);
    goto done;
  }
  {
    unsigned char sz[4 * NNET_MAX_LAYERS];
    if (fread(sz, 4, n, f) != (size_t)n) {
      nnet_Err(r, "%s: truncated network file", path);
      goto done;
    }
    for (int j = 0; j < n; j++) sizes[j] = (int32_t)fromBig(sz + 4 * j);
  }
  if (nnet_CountWeights(r, n, sizes, &w)) {
    nnet_Err(r, " in %s", path);
    goto done;
  }
  if ((int64_t)st.st_size != 8 + 4 * (int64_t)n + 4 * w) {
    nnet_Err(r, "%s: file holds %lld bytes, layers %d", path, (long long)st.st_size, (int)sizes[0]);
    for (int j = 1; j < n; j++) nnet_Err(r, "-%d", (int)sizes[j]);
    nnet_Err(r, " need %lld", (long long)(8 + 4 * (int64_t)n + 4 * w));
    goto done;
  }
  {
    unsigned char act[NNET_MAX_LAYERS];
    act[0] = NNET_LINEAR;
    for (int j = 1; j < n; j++) act[j] = NNET_SIGMOID;
    auto *net0 = (Nnet *)nnet_Calloc(r, 1, sizeof(Nnet));
    if (!net0) goto done;
    net0->fnet = nnet_MakeRep<float>(r, n, sizes, act);
    if (!net0->fnet) {
      nnet_Free(net0);
      goto done;
    }
    net0->isFloat = 1;
    FNnetRep *rep = net0->fnet;
    // The weights array is read in place as big-endian words and then turned.
    unsigned char *raw = (unsigned char *)rep->weights;
    if (fread(raw, 4, (size_t)w, f) != (size_t)w) {
      nnet_Err(r, "%s: truncated network file", path);
      nnet_Nuke(nullptr, net0);
      goto done;
    }
    for (int64_t i = 0; i < w; i++) {
      uint32_t v = fromBig(raw + 4 * i);
      memcpy(&rep->weights[i], &v, 4);
    }
    net = net0;
  }
done:
  fclose(f);
  return net;
}

template <typename T>
static int writeRep(FILE *f, const NnetRepT<T> *rep) {
  unsigned char buf[4 * 1024];
  toBig((uint32_t)rep->numLayers, buf);
  if (fwrite(buf, 4, 1, f) != 1) return 1;
  for (int j = 0; j < rep->numLayers; j++) {
    toBig((uint32_t)rep->sizes[j], buf);
    if (fwrite(buf, 4, 1, f) != 1) return 1;
  }
  for (int i = 0; i < rep->numWeights;) {
    int k = 0;
    for (; k < 1024 && i < rep->numWeights; k++, i++) {
      float v = (float)rep->weights[i];
      uint32_t u;
      memcpy(&u, &v, 4);
      toBig(u, buf + 4 * k);
    }
    if (fwrite(buf, 4, k, f) != (size_t)k) return 1;
  }
  return 0;
}

int nnet_OptSave(GS_Result *r, const char *path, Nnet *net, int32_t header) {
  int32_t bias = net->isDouble && net->dnet ? net->dnet->bias
               : net->isFloat && net->fnet ? net->fnet->bias
               : net->isShort && net->snet ? net->snet->bias : 0;
  if (!(net->isDouble && net->dnet) && !(net->isFloat && net->fnet) && !(net->isShort && net->snet)) {
    nnet_Err(r, "network has no representation to write");
    return 1;
  }
  if (bias) {
    // An opt file cannot mark a unit as a bias unit: it would reload as a
    // different network.
    nnet_Err(r, "a network with hidden bias units cannot be written as an opt file");
    return 1;
  }
  FILE *f = fopen(path, "wb");
  if (!f) {
    nnet_Err(r, "cannot write %s: %s", path, strerror(errno));
    return 1;
  }
  unsigned char h[4];
  toBig((uint32_t)header, h);
  int bad = fwrite(h, 4, 1, f) != 1;
  if (!bad) {
    if (net->isDouble && net->dnet)
      bad = writeRep(f, net->dnet);
    else if (net->isFloat && net->fnet)
      bad = writeRep(f, net->fnet);
    else
      bad = writeRep(f, net->snet);
  }
  if (fclose(f) != 0) bad = 1;
  if (bad) {
    nnet_Err(r, "cannot write %s: %s", path, strerror(errno));
    return 1;
  }
  return 0;
}
