// opt: the trainer's network-file library.
//
// What callers rely on:
// - A network of L layers; sizes[l] units per layer, the input layer counting
//   its bias unit (held at 1.0), no other layer having one. The input layer is
//   linear, every other layer logistic.
// - weights[i][j][k]: the weight into unit j of layer i+1 from unit k of
//   layer i (the input bias unit last). Writing to it changes the network.
// - After nnThink, outputs[l][u] holds the output of every unit of every
//   layer, the input bias unit included, for back-propagation.
// - Files are opt network files (big-endian; see dravin.h), the same files
//   `nnet optload` reads.
#ifndef OPT_H
#define OPT_H

#include "dravin.h"

typedef struct NNet {
  int numLayers;
  int *sizes;         // stored sizes, input bias counted
  float ***weights;   // [pair][upper unit][lower unit]
  float **outputs;    // [layer][unit], filled by nnThink
  Nnet *net;          // the network behind the views above
} NNet;

// A network with the given stored sizes (input bias counted) and zero weights;
// NULL when the sizes are impossible.
NNet *allocNNet(int numLayers, const int *sizes);
// NULL when the file cannot be read or is not a network file; optLastError()
// then says why.
NNet *readNNet(const char *path);
// 0 on success, 1 on failure (optLastError() says why). iter is the header word.
int writeNNet(const char *path, NNet *net, int iter);
// Forward pass: in holds sizes[0]-1 values; out (may be NULL) receives the
// outputs of the last layer.
void nnThink(const float *in, float *out, NNet *net);
void nnetNuke(NNet *net);
// Text of the last failure of readNNet, writeNNet or allocNNet.
const char *optLastError(void);

#endif
