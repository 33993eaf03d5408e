#include "opt.h"

#include <string>

#include "dravin_int.h"

static std::string lastError;

static void keepError(GS_Result *r) { lastError = r->text; }

const char *optLastError(void) { return lastError.c_str(); }

static NNet *wrap(Nnet *net) {
  if (!net) return nullptr;
  auto *n = (NNet *)nnet_Calloc(nullptr, 1, sizeof(NNet));
  if (!n) {
    nnet_Nuke(nullptr, net);
    return nullptr;
  }
  FNnetRep *rep = net->fnet;
  n->numLayers = rep->numLayers;
  n->sizes = rep->sizes;
  n->weights = rep->rows;
  n->outputs = rep->units;
  n->net = net;
  return n;
}

NNet *allocNNet(int numLayers, const int *sizes) {
  GS_Result *r = GS_CreateResult();
  NnetSpec *spec = nnet_Default();
  NNet *result = nullptr;
  if (spec && numLayers >= 2 && numLayers <= NNET_MAX_LAYERS) {
    nnet_Free(spec->sizes);
    nnet_Free(spec->act);
    spec->sizes = (int32_t *)nnet_Calloc(r, numLayers, sizeof(int32_t));
    spec->act = (unsigned char *)nnet_Calloc(r, numLayers, 1);
    if (spec->sizes && spec->act) {
      spec->numLayers = numLayers;
      for (int j = 0; j < numLayers; j++) {
        spec->sizes[j] = sizes[j];
        spec->act[j] = j ? NNET_SIGMOID : NNET_LINEAR;
      }
      spec->sizes[0] -= 1;  // the allocator adds the input bias unit back
      result = wrap(nnet_Alloc(r, spec));
    }
  } else {
    nnet_Err(r, "a network needs 2 to %d layers", NNET_MAX_LAYERS);
  }
  keepError(r);
  nnet_FreeSpec(spec);
  GS_DeleteResult(r);
  return result;
}

NNet *readNNet(const char *path) {
  GS_Result *r = GS_CreateResult();
  NNet *n = wrap(nnet_OptLoad(r, path));
  keepError(r);
  GS_DeleteResult(r);
  return n;
}

int writeNNet(const char *path, NNet *net, int iter) {
  GS_Result *r = GS_CreateResult();
  int code = nnet_OptSave(r, path, net->net, iter);
  keepError(r);
  GS_DeleteResult(r);
  return code;
}

void nnThink(const float *in, float *out, NNet *net) { nnet_Think(net->net, in, out); }

void nnetNuke(NNet *net) {
  if (!net) return;
  nnet_Nuke(nullptr, net->net);
  nnet_Free(net);
}
