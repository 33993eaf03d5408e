// Forward pass over many frames: each layer pair of a block of frames is one
// matrix product (BLAS when available), then clamp and activation per frame.
#include <cstring>
#include <vector>

#include "dravin_int.h"

#ifdef DRAVIN_HAVE_CBLAS
#include <cblas.h>
#endif

// Frames per block: large enough for the matrix product to run at full speed
// on several threads, small enough for the layer buffers to stay in cache.
static const int kBlock = 2048;

// Y[m][b] (+)= sum_k A[m][k] * W[b][k] for m < M, b < N, k < K.
static void gemmNT(int M, int N, int K, const float *A, int lda, const float *W, int ldw,
                   float *Y, int ldy, bool accumulate) {
#ifdef DRAVIN_HAVE_CBLAS
  cblas_sgemm(CblasRowMajor, CblasNoTrans, CblasTrans, M, N, K, 1.0f, A, lda, W, ldw,
              accumulate ? 1.0f : 0.0f, Y, ldy);
#else
  for (int m = 0; m < M; m++)
    for (int b = 0; b < N; b++) {
      const float *a = A + (size_t)m * lda, *w = W + (size_t)b * ldw;
      float s = 0;
      for (int k = 0; k < K; k++) s += a[k] * w[k];
      Y[(size_t)m * ldy + b] = accumulate ? Y[(size_t)m * ldy + b] + s : s;
    }
#endif
}

// Runs frames [0, M) of a block whose inputs start at A with stride lda.
static void thinkBlock(FNnetRep *rep, int M, const float *A, int lda,
                       std::vector<std::vector<float>> &buf, float *const *out) {
  const int L = rep->numLayers;
  const float *in = A;
  int ldin = lda;
  for (int j = 0; j < L - 1; j++) {
    const int lower = rep->sizes[j], upper = rep->sizes[j + 1];
    const bool hidden = j + 1 < L - 1;
    // The last lower unit is a constant 1.0 for the input layer and for hidden
    // layers that hold a bias unit: its weights become an added column.
    const bool constLast = j == 0 || rep->bias;
    const int K = constLast ? lower - 1 : lower;
    const int n = upper - (rep->bias && hidden ? 1 : 0);
    float *Y = buf[j].data();
    const float *W = rep->weights + (rep->rows[j][0] - rep->weights);
    if (constLast) {
      for (int m = 0; m < M; m++) {
        float *y = Y + (size_t)m * upper;
        for (int b = 0; b < n; b++) y[b] = rep->rows[j][b][K];
      }
    }
    gemmNT(M, n, K, in, ldin, W, lower, Y, upper, constLast);
    for (int m = 0; m < M; m++) {
      float *y = Y + (size_t)m * upper;
      nnet_ClampF(y, n);
      nnet_ActivateF(y, n, rep->act[j + 1]);
      if (rep->bias && hidden) y[n] = 1.0f;
    }
    in = Y;
    ldin = upper;
  }
  const int nOut = rep->sizes[L - 1];
  for (int m = 0; m < M; m++) memcpy(out[m], in + (size_t)m * nOut, nOut * sizeof(float));
}

int nnet_ThinkRows(GS_Result *r, Nnet *net, int n, const float *const *in, float *const *out) {
  if (net->isShort && !net->isFloat && !net->isDouble) {
    nnet_Err(r, "16-bit networks cannot be run");
    return 1;
  }
  if (!net->isFloat || !net->fnet) {
    for (int i = 0; i < n; i++) nnet_Think(net, in[i], out[i]);
    return 0;
  }
  FNnetRep *rep = net->fnet;
  const int nIn = rep->sizes[0] - 1;
  std::vector<std::vector<float>> buf(rep->numLayers - 1);
  std::vector<float> copy;
  try {
    for (int j = 0; j < rep->numLayers - 1; j++) buf[j].resize((size_t)kBlock * rep->sizes[j + 1]);
  } catch (...) {
    nnet_Err(r, "out of memory in the forward pass");
    return 1;
  }
  for (int i0 = 0; i0 < n; i0 += kBlock) {
    const int M = n - i0 < kBlock ? n - i0 : kBlock;
    // Rows that lie at one stride in memory are used in place; others are
    // gathered first.
    ptrdiff_t stride = M > 1 ? in[i0 + 1] - in[i0] : nIn;
    bool regular = stride >= nIn;
    for (int m = 1; regular && m < M; m++) regular = in[i0 + m] - in[i0 + m - 1] == stride;
    const float *A = in[i0];
    int lda = (int)stride;
    if (!regular || stride > (1 << 30)) {
      if (copy.empty()) copy.resize((size_t)kBlock * (nIn > 0 ? nIn : 1));
      for (int m = 0; m < M; m++) memcpy(&copy[(size_t)m * nIn], in[i0 + m], nIn * sizeof(float));
      A = copy.data();
      lda = nIn > 0 ? nIn : 1;
    }
    if (lda < 1) lda = 1;
    thinkBlock(rep, M, A, lda, buf, out + i0);
  }
  return 0;
}
