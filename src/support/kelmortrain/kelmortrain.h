// kelmortrain: training of dravin networks from example sets and vector files.
//
// What callers rely on:
// - Example sets: rows of `dimension` floats with a 0-based class each.
// - Single-class vector files: numvec, then per vector class+1 and D floats;
//   little-endian words, or big-endian throughout when nborder is set. D is
//   derived from the file size; a file whose size is not 4 + numvec*4*(D+1)
//   is refused (errno EINVAL). Multi-target files: see mvec_* below.
// - Training works on the float representation of a network.
// - Failures return NULL or nonzero with a message in the GS_Result.
//
// Numeric choices (this library's own; the call sites leave them open):
// - Loss per example, by the output layer's activation:
//     logistic: sum_k c_k * BCE(out_k, t_k), t = 1 for the example's class and
//       0 for the others, c_k = 1 for the class and negpen_k for the others
//       (negpen_k = 1 when no penalties are given). Its gradient with respect
//       to the net input is c_k * (out_k - t_k), the per-example update of the
//       console trainer.
//     softmax: -log out_class (penalties are not used).
//     linear: 0.5 * sum_k (out_k - t_k)^2.
//   Hidden layers back-propagate through their own derivative (logistic
//   a(1-a), linear 1, softmax its full Jacobian). Net inputs that the forward
//   pass clamped to +-100 still pass the gradient through.
// - Stochastic pass: one update per example, w += -lr * dL/dw (+ momentum *
//   previous change), lr = lrate / (1 + vecct / tau), vecct counting the
//   training examples seen since optim_Init; tau <= 0 means 5 x the number of
//   training examples of the file. Blocks of kOptBlock examples and the
//   examples inside a block are drawn in a seeded order without replacement.
// - Cross-validation (cvfrac > 0): example i of a file is held out when a hash
//   of (seed, i) falls below cvfrac, so the same examples are held out in
//   every pass. error2 is then the frame error rate on the held-out examples
//   after the pass; whenever it did not improve on the best so far, lrate is
//   multiplied by cvalpha. Without it, error2 is the frame error rate of the
//   training examples as they were met during the pass.
// - error (stochastic): mean loss per training example during the pass.
//   error (errfc): total loss over the set; the gradient is its derivative
//   with respect to the float weights, in the weights-array order.
// - Decisions (frame error, scores): class = argmax_k out_k * prior_k, with
//   prior_k = 1 when no priors are given.
// - Initial weights (nnet_Seed): uniform in +-3/sqrt(lower layer size), drawn
//   from the 15-bit generator of nnrand.h; seed < 0 = time of day.
// - Cgrd: Polak-Ribiere conjugate gradient (restarted when the coefficient
//   turns negative or the direction is not downhill) with a line search for
//   the strong Wolfe conditions (c1 = 1e-4, c2 = 0.1). `iters` is the number
//   of line searches; it stops early when one lowers the error by less than
//   tol * max(1, |error|), or when the gradient is zero. The weights end at
//   the best point evaluated.
#ifndef KELMORTRAIN_H
#define KELMORTRAIN_H

#include <stdint.h>
#include <stdio.h>

#include "dravin.h"
#include "result.h"

enum { kOptBlock = 10000 };

// Optimiser settings, with their defaults from optim_Default.
typedef struct OptimSettings {
  int32_t seed;          // 1: seed of example order and held-out choice (< 0: time)
  int32_t iters;         // 1: passes per nnet_StochasticTrain call
  int32_t crossValidate; // 0
  float cvalpha;         // 0.5: lrate factor when the held-out error does not improve
  float cvfrac;          // 0: fraction held out
  float lrate;           // 0.05
  float momentum;        // 0
  float tau;             // -1: 5 x the training examples of the file
  float *negpen;         // NULL (all 1): penalty per output for negatives
  float *prior;          // NULL (all 1): weight per output for decisions
  int32_t numNegpen;     // entries of negpen (0 or the output count)
  int32_t numPrior;      // entries of prior (0 or the output count)
} OptimSettings;

typedef struct ExampleSet {
  int32_t reserved;      // unused leading word
  float **rows;          // count rows of dimension floats
  int32_t *classes;      // count 0-based classes
  int32_t count;
  int32_t dimension;
  int32_t exampleCount;  // examples to write (= count when made)
  float *data;           // the block the rows point into
} ExampleSet;

typedef struct OptimState {
  double *gradient;      // gradLen values after nnet_Errfc
  int32_t gradLen;       // the network's weight count
  float error;
  float error2;
  struct OptimPrivate *priv;
} OptimState;

typedef struct NnetScore {
  float *a;              // per class: summed output of the class's unit over its examples
  float *b;              // per class: summed output of the class's unit over other examples
  int32_t *correct;      // per class: examples of the class decided right
  int32_t *n;            // per class: examples of the class
  int32_t numClasses;
  int32_t totalCorrect;
  int32_t N;
} NnetScore;

// Example sets.
ExampleSet *allocExample(GS_Result *r, int count, int dimension);
void freeExample(ExampleSet *set);
ExampleSet *cloneExample(GS_Result *r, const ExampleSet *set);
int packExample(GS_Result *r, const ExampleSet *set, unsigned char **bytes, long *len);
ExampleSet *unpackExample(GS_Result *r, const unsigned char *bytes, long len);

// Single-class vector files. Open functions return NULL with errno set.
FILE *optOpenForRead(const char *path, int nborder, int *count, int *dimension);
// Opens an existing file for appending (count and dimension from it, position
// at its end) or creates one (count 0, dimension 0).
FILE *optOpenForWrite(const char *path, int nborder, int *count, int *dimension);
// Reads up to n vectors; returns how many were read. Classes come 0-based.
int optReadBlock(FILE *f, int n, int32_t *classes, int dimension, float **rows, int nborder);
// Writes n vectors (classes 0-based in memory), then rewrites the count word
// with total and returns to the end. 0 on success, nonzero with errno.
int optWriteBlock(FILE *f, int n, const int32_t *classes, int dimension, float *const *rows,
                  int nborder, int flag, int total);

// Multi-target example files (little-endian: count, K, then per example K
// class slots (-1 unused), K targets and D features). Appending reads K from
// an existing file and refuses another K, so a file never mixes layouts.
FILE *mvec_OpenForAppend(GS_Result *r, const char *path, int K, int *count);
int mvec_WriteExample(FILE *f, int K, const int32_t *slots, const float *targets, int D,
                      const float *features);
// Rewrites the count word with count + written and closes. 0 on success.
int mvec_Close(GS_Result *r, FILE *f, int total);

// Optimiser.
OptimSettings *optim_Default(void);
void optim_FreeSettings(OptimSettings *s);
OptimState *optim_Init(GS_Result *r, const OptimSettings *s, Nnet *net);
// Back to the state of optim_Init: learning rate, example count, momentum.
void optim_Reset(OptimState *state);
void optim_Nuke(OptimState *state);

// Initial weights.
void nnet_Seed(Nnet *net, long seed);
// One call: settings.iters passes over a single-class file. 0 on success.
int nnet_StochasticTrain(GS_Result *r, OptimState *state, Nnet *net, const char *path);
// Total loss and its gradient over a set into the state. 0 on success.
int nnet_Errfc(GS_Result *r, OptimState *state, Nnet *net, const ExampleSet *examples);

// Conjugate-gradient minimisation of a function of n floats.
typedef struct CgrdProblem {
  void *clientData;
  float *x;              // start point; the best point found on return
  int n;
} CgrdProblem;
// Error at x and its gradient into g (n doubles); nonzero aborts the search.
typedef int(CgrdErrfc)(void *clientData, const float *x, double *g, double *error);
// Called after each line search with its number (from 1); nonzero aborts.
typedef int(CgrdSave)(void *clientData, int iteration);
// Returns the best error; *status is 0, or the nonzero code of a callback that
// aborted (the best point so far is still in x).
double Cgrd(CgrdProblem *p, CgrdErrfc *errfc, CgrdSave *save, int iters, int display, double tol,
            int *status);

// Scoring over a single-class file.
NnetScore *nnet_Score(GS_Result *r, Nnet *net, const char *path, const float *priors);
void nnet_FreeScore(NnetScore *s);

#endif
