// dravin: multilayer perceptrons for frame classification.
//
// What callers rely on:
// - A network (Nnet) holds one representation: double, float or 16-bit. Every
//   network made here is float; the 16-bit form only stores weights and its
//   forward pass computes nothing.
// - Layer sizes as stored count the input layer's bias unit (always) and, when
//   the layer description (NnetSpec) asks for hidden bias, one extra unit per hidden layer. The output
//   layer never counts one.
// - Weights are one contiguous array: layer pair 0 first, within a pair the row
//   of upper unit 0 first; a row holds one weight per lower unit, bias last.
// - The forward pass clamps every net input to [-100, 100] (NaN becomes -100),
//   then applies linear (0), logistic (1) or softmax (2). Softmax is computed as
//   exp(x - max) / sum, so it is finite for every clamped input.
// - When a representation's bias flag is set, the last unit of every hidden
//   layer is held at 1.0 and not computed; the output layer is always computed
//   in full.
// - Opt network files are big-endian: header word, n, n sizes, W float weights.
//   Readers check n (2..64), every size (>= 1), and that the file is exactly
//   8 + 4n + 4W bytes before anything is allocated. Only networks without
//   hidden bias units and without the bias flag can be written as opt files,
//   because the file cannot say that a hidden unit is a bias unit.
// - Failures return NULL or nonzero and append a message to the GS_Result.
#ifndef DRAVIN_H
#define DRAVIN_H

#include <stdint.h>
#include "result.h"

enum { NNET_LINEAR = 0, NNET_SIGMOID = 1, NNET_SOFTMAX = 2 };
enum { NNET_DOUBLE = 0, NNET_FLOAT = 1, NNET_SHORT = 2 };
enum { NNET_MAX_LAYERS = 64 };

// Layer description for nnet_Alloc. sizes and act hold numLayers entries.
typedef struct NnetSpec {
  int32_t *sizes;       // units per layer, input first, without bias units
  unsigned char *act;   // activation code per layer
  int32_t numLayers;    // at least 2
  int32_t hiddenBias;   // nonzero: every hidden layer gets a bias unit
  int32_t variant;      // NNET_DOUBLE, NNET_FLOAT or NNET_SHORT
} NnetSpec;

// One representation; T is double, float or int16_t.
template <typename T>
struct NnetRepT {
  int32_t *sizes;       // units per layer as stored (bias units counted)
  unsigned char *act;   // activation code per layer
  T ***rows;            // rows[j][b]: weights into unit b of layer j+1
  T *weights;           // numWeights weights, contiguous
  T **units;            // units[j]: the outputs of layer j (maxUnits each)
  int32_t numLayers;
  int32_t numWeights;
  int32_t numLayers2;   // numLayers again
  int32_t maxUnits;
  int32_t unitTotal;    // numLayers * maxUnits (0 for 16-bit)
  int32_t bias;         // nonzero: last unit of every hidden layer is 1.0
};
typedef NnetRepT<double> DNnetRep;
typedef NnetRepT<float> FNnetRep;
typedef NnetRepT<int16_t> SNnetRep;

typedef struct Nnet {
  DNnetRep *dnet;
  FNnetRep *fnet;
  SNnetRep *snet;
  unsigned char isDouble, isFloat, isShort;
} Nnet;

// A new spec with the defaults: 3 layers of 130, 200, 48 units, codes
// linear, sigmoid, sigmoid, no hidden bias, float. Free with nnet_FreeSpec.
NnetSpec *nnet_Default(void);
void nnet_FreeSpec(NnetSpec *spec);

// A new network of the layer description (which is not changed), weights zero; NULL with a
// message when the description is impossible or memory runs out.
Nnet *nnet_Alloc(GS_Result *r, const NnetSpec *spec);

// Frees a network and everything it owns; NULL is accepted. Returns 0.
int nnet_Nuke(GS_Result *r, Nnet *net);

// A deep copy, or NULL.
Nnet *nnet_Clone(GS_Result *r, const Nnet *net);

// Inputs without the bias unit; output units of the last layer.
int nnet_NumInputs(const Nnet *net);
int nnet_NumOutputs(const Nnet *net);

// Forward pass of one frame: input holds nnet_NumInputs values, output (when
// not NULL) receives nnet_NumOutputs values. Allocates nothing. A 16-bit
// network leaves output untouched.
void nnet_Think(Nnet *net, const float *input, float *output);

// Forward pass of n frames. in[i] holds at least nnet_NumInputs values,
// out[i] receives nnet_NumOutputs. Frames are batched into matrix products;
// results agree with nnet_Think within float rounding. Returns 0, or 1 with a
// message (16-bit network, or memory).
int nnet_ThinkRows(GS_Result *r, Nnet *net, int n, const float *const *in,
                   float *const *out);

// Opt network files.
Nnet *nnet_OptLoad(GS_Result *r, const char *path);
int nnet_OptSave(GS_Result *r, const char *path, Nnet *net, int32_t header);

// Container object files: the network is stored under the field "__nnet__"
// (other fields of the file are kept). nnet_Load answers a new network, or
// NULL with a message when the file cannot be read, the field is missing or
// damaged, or it holds another type; nnet_Save answers 0, or 1 with a message,
// and never leaves a half-written file.
Nnet *nnet_Load(GS_Result *r, const char *path);
int nnet_Save(GS_Result *r, const char *path, Nnet *net);

// The object type "dravin/nnet" (registered on first use); NULL with a
// message when the container library cannot give it.
const struct CntrType *nnet_Type(GS_Result *r);

// Packs a network into a self-describing byte string (host independent,
// little-endian) and back; used by the object registry. Unpack checks every
// count against the length before allocating.
int nnet_Pack(GS_Result *r, const Nnet *net, unsigned char **bytes, long *len);
Nnet *nnet_Unpack(GS_Result *r, const unsigned char *bytes, long len);

// Sizes and weights of a float or double network as W and a weight pointer;
// NULL for other representations.
float *nnet_FloatWeights(Nnet *net, int *count);

#endif
