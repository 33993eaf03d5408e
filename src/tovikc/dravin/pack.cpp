// Packed form of a network for the object registry: little-endian words,
// "NNP1", then per representation its type, layer count, bias flag, sizes,
// activation codes (one word each) and weights (8, 4 or 2 bytes each).
#include <cstring>
#include <vector>

#include "dravin_int.h"

namespace {

struct Writer {
  std::vector<unsigned char> b;
  void word(uint32_t v) {
    for (int i = 0; i < 4; i++) b.push_back((unsigned char)(v >> (8 * i)));
  }
  void bytes(const void *p, size_t n, size_t width) {
    // Elements in little-endian order, whatever the host.
    const unsigned char *q = (const unsigned char *)p;
    for (size_t i = 0; i < n; i++) {
      uint64_t v = 0;
      memcpy(&v, q + i * width, width);
      for (size_t k = 0; k < width; k++) b.push_back((unsigned char)(v >> (8 * k)));
    }
  }
};

struct Reader {
  const unsigned char *p;
  long left;
  bool word(int32_t *v) {
    if (left < 4) return false;
    *v = (int32_t)((uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24);
    p += 4;
    left -= 4;
    return true;
  }
  bool bytes(void *dst, int64_t n, size_t width) {
    if (n < 0 || left / (long)width < n) return false;
    unsigned char *d = (unsigned char *)dst;
    for (int64_t i = 0; i < n; i++) {
      uint64_t v = 0;
      for (size_t k = 0; k < width; k++) v |= (uint64_t)p[k] << (8 * k);
      memcpy(d + i * width, &v, width);
      p += width;
    }
    left -= (long)(n * width);
    return true;
  }
};

template <typename T>
void packRep(Writer &w, int type, const NnetRepT<T> *rep) {
  w.word(type);
  w.word(rep->numLayers);
  w.word(rep->bias);
  for (int j = 0; j < rep->numLayers; j++) w.word(rep->sizes[j]);
  for (int j = 0; j < rep->numLayers; j++) w.word(rep->act[j]);
  w.bytes(rep->weights, rep->numWeights, sizeof(T));
}

template <typename T>
NnetRepT<T> *unpackRep(GS_Result *r, Reader &rd) {
  int32_t n, bias, sizes[NNET_MAX_LAYERS], codes;
  unsigned char act[NNET_MAX_LAYERS];
  int64_t w;
  if (!rd.word(&n) || !rd.word(&bias)) return nullptr;
  if (n < 2 || n > NNET_MAX_LAYERS) return nullptr;
  for (int j = 0; j < n; j++)
    if (!rd.word(&sizes[j])) return nullptr;
  for (int j = 0; j < n; j++) {
    if (!rd.word(&codes) || codes < 0 || codes > 255) return nullptr;
    act[j] = (unsigned char)codes;
  }
  if (nnet_CountWeights(r, n, sizes, &w)) return nullptr;
  if (rd.left / (long)sizeof(T) < w) return nullptr;
  NnetRepT<T> *rep = nnet_MakeRep<T>(r, n, sizes, act);
  if (!rep) return nullptr;
  rd.bytes(rep->weights, w, sizeof(T));
  rep->bias = bias != 0;
  return rep;
}

}  // namespace

int nnet_Pack(GS_Result *r, const Nnet *net, unsigned char **bytes, long *len) {
  Writer w;
  w.word(0x31504e4e);  // "NNP1"
  if (net->dnet) packRep(w, NNET_DOUBLE, net->dnet);
  if (net->fnet) packRep(w, NNET_FLOAT, net->fnet);
  if (net->snet) packRep(w, NNET_SHORT, net->snet);
  w.word(0xffffffff);
  unsigned char *p = (unsigned char *)nnet_Calloc(r, (int64_t)w.b.size(), 1);
  if (!p) return 1;
  memcpy(p, w.b.data(), w.b.size());
  *bytes = p;
  *len = (long)w.b.size();
  return 0;
}

Nnet *nnet_Unpack(GS_Result *r, const unsigned char *bytes, long len) {
  Reader rd{bytes, len};
  int32_t magic, type = 0;
  if (!rd.word(&magic) || magic != 0x31504e4e) {
    nnet_Err(r, "not a packed network");
    return nullptr;
  }
  auto *net = (Nnet *)nnet_Calloc(r, 1, sizeof(Nnet));
  if (!net) return nullptr;
  bool ok = true;
  while (ok && rd.word(&type) && type != -1) {
    if (type == NNET_DOUBLE && !net->dnet)
      ok = (net->isDouble = (net->dnet = unpackRep<double>(r, rd)) != nullptr);
    else if (type == NNET_FLOAT && !net->fnet)
      ok = (net->isFloat = (net->fnet = unpackRep<float>(r, rd)) != nullptr);
    else if (type == NNET_SHORT && !net->snet)
      ok = (net->isShort = (net->snet = unpackRep<int16_t>(r, rd)) != nullptr);
    else
      ok = false;
  }
  if (!ok || type != -1 || (!net->dnet && !net->fnet && !net->snet)) {
    nnet_Err(r, "packed network is damaged");
    nnet_Nuke(nullptr, net);
    return nullptr;
  }
  return net;
}
