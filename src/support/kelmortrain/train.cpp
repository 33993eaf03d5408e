// Back-propagation: the per-example update, the full-batch error and
// gradient, initial weights and scoring.
#include <cerrno>
#include <cmath>
#include <cstring>
#include <vector>

#include "dravin_int.h"
#include "kelmortrain.h"
#include "nnrand.h"

struct OptimPrivate {
  float lrate0, lrate;     // initial and current learning rate
  double vecct;            // training examples seen
  double bestCv;           // best held-out error rate so far
  std::vector<float> prev; // previous weight changes (momentum)
  std::vector<float> negpen, prior;
  OptimSettings s;
  NnRand gen;
};

OptimSettings *optim_Default(void) {
  auto *s = (OptimSettings *)nnet_Calloc(nullptr, 1, sizeof(OptimSettings));
  if (!s) return nullptr;
  s->seed = 1;
  s->iters = 1;
  s->crossValidate = 0;
  s->cvalpha = 0.5f;
  s->cvfrac = 0;
  s->lrate = 0.05f;
  s->momentum = 0;
  s->tau = -1;
  return s;
}

void optim_FreeSettings(OptimSettings *s) {
  if (!s) return;
  nnet_Free(s->negpen);
  nnet_Free(s->prior);
  nnet_Free(s);
}

static int trainable(GS_Result *r, Nnet *net) {
  if (!net->isFloat || !net->fnet) {
    nnet_Err(r, "only float networks can be trained");
    return 0;
  }
  return 1;
}

OptimState *optim_Init(GS_Result *r, const OptimSettings *s, Nnet *net) {
  if (!trainable(r, net)) return nullptr;
  const int nOut = nnet_NumOutputs(net);
  if (s->numNegpen && s->numNegpen != nOut) {
    nnet_Err(r, "%d negative penalties given for a network of %d outputs", (int)s->numNegpen, nOut);
    return nullptr;
  }
  if (s->numPrior && s->numPrior != nOut) {
    nnet_Err(r, "%d priors given for a network of %d outputs", (int)s->numPrior, nOut);
    return nullptr;
  }
  if (s->iters < 0 || !(s->cvfrac >= 0 && s->cvfrac < 1) || !(s->lrate >= 0)) {
    nnet_Err(r, "bad optimiser settings: iterations %d, cross-validation fraction %g, rate %g", (int)s->iters,
             s->cvfrac, s->lrate);
    return nullptr;
  }
  auto *st = (OptimState *)nnet_Calloc(r, 1, sizeof(OptimState));
  if (!st) return nullptr;
  st->gradLen = net->fnet->numWeights;
  st->gradient = (double *)nnet_Calloc(r, st->gradLen, sizeof(double));
  if (!st->gradient) {
    nnet_Free(st);
    return nullptr;
  }
  auto *p = new OptimPrivate();
  p->s = *s;
  p->s.negpen = p->s.prior = nullptr;
  p->negpen.assign(nOut, 1.0f);
  p->prior.assign(nOut, 1.0f);
  for (int k = 0; k < s->numNegpen; k++) p->negpen[k] = s->negpen[k];
  for (int k = 0; k < s->numPrior; k++) p->prior[k] = s->prior[k];
  p->s.crossValidate = s->crossValidate || s->cvfrac > 0;
  st->priv = p;
  optim_Reset(st);
  return st;
}

void optim_Reset(OptimState *st) {
  OptimPrivate *p = st->priv;
  p->lrate0 = p->lrate = p->s.lrate;
  p->vecct = 0;
  p->bestCv = HUGE_VAL;
  p->prev.assign(st->gradLen, 0.0f);
  nnrand_Seed(&p->gen, p->s.seed ? p->s.seed : 1);
  st->error = st->error2 = 0;
}

void optim_Nuke(OptimState *st) {
  if (!st) return;
  delete st->priv;
  nnet_Free(st->gradient);
  nnet_Free(st);
}

void nnet_Seed(Nnet *net, long seed) {
  NnRand g{};
  nnrand_Seed(&g, seed == 0 ? 1 : seed);
  auto fill = [&](auto *rep) {
    for (int j = 0; j < rep->numLayers - 1; j++) {
      double scale = std::sqrt((double)rep->sizes[j]) / 3.0;
      for (int b = 0; b < rep->sizes[j + 1]; b++)
        for (int a = 0; a < rep->sizes[j]; a++) rep->rows[j][b][a] = nnrand_Uniform(&g) / scale;
    }
  };
  if (net->isFloat && net->fnet) fill(net->fnet);
  if (net->isDouble && net->dnet) fill(net->dnet);
}

namespace {

// Per-unit derivatives of the loss with respect to the net inputs.
struct Deltas {
  std::vector<std::vector<double>> d;
  explicit Deltas(const FNnetRep *rep) : d(rep->numLayers) {
    for (int l = 0; l < rep->numLayers; l++) d[l].assign(rep->sizes[l], 0.0);
  }
};

inline bool isBiasUnit(const FNnetRep *rep, int layer, int unit) {
  return rep->bias && layer > 0 && layer < rep->numLayers - 1 && unit == rep->sizes[layer] - 1;
}

// Loss of the example after a forward pass, and the output deltas.
double outputDeltas(const FNnetRep *rep, int cls, const std::vector<float> &negpen, std::vector<double> &d) {
  const int L = rep->numLayers, nOut = rep->sizes[L - 1];
  const float *o = rep->units[L - 1];
  double loss = 0;
  switch (rep->act[L - 1]) {
    case NNET_SIGMOID:
      for (int k = 0; k < nOut; k++) {
        double ok = o[k];
        if (k == cls) {
          d[k] = ok - 1;
          loss -= std::log(ok > 1e-30 ? ok : 1e-30);
        } else {
          d[k] = negpen[k] * ok;
          loss -= negpen[k] * std::log(1 - ok > 1e-30 ? 1 - ok : 1e-30);
        }
      }
      break;
    case NNET_SOFTMAX:
      for (int k = 0; k < nOut; k++) d[k] = o[k] - (k == cls ? 1.0 : 0.0);
      loss = -std::log(o[cls] > 1e-30 ? o[cls] : 1e-30);
      break;
    default:
      for (int k = 0; k < nOut; k++) {
        d[k] = o[k] - (k == cls ? 1.0 : 0.0);
        loss += 0.5 * d[k] * d[k];
      }
  }
  return loss;
}

// Back-propagates the output deltas to every hidden layer (old weights).
void hiddenDeltas(const FNnetRep *rep, Deltas &D) {
  const int L = rep->numLayers;
  for (int m = L - 1; m >= 2; m--) {
    std::vector<double> &below = D.d[m - 1];
    const int lower = rep->sizes[m - 1];
    std::fill(below.begin(), below.end(), 0.0);
    for (int j = 0; j < rep->sizes[m]; j++) {
      const double dj = D.d[m][j];
      if (dj == 0) continue;
      const float *w = rep->rows[m - 1][j];
      for (int k = 0; k < lower; k++) below[k] += w[k] * dj;
    }
    const float *a = rep->units[m - 1];
    switch (rep->act[m - 1]) {
      case NNET_SIGMOID:
        for (int k = 0; k < lower; k++) below[k] *= (double)a[k] * (1 - a[k]);
        break;
      case NNET_SOFTMAX: {
        const int n = lower - (isBiasUnit(rep, m - 1, lower - 1) ? 1 : 0);
        double s = 0;
        for (int k = 0; k < n; k++) s += a[k] * below[k];
        for (int k = 0; k < n; k++) below[k] = a[k] * (below[k] - s);
        break;
      }
      default:
        break;
    }
    if (isBiasUnit(rep, m - 1, lower - 1)) below[lower - 1] = 0;
  }
}

int decide(const float *out, int nOut, const std::vector<float> &prior) {
  int best = 0;
  double bv = -HUGE_VAL;
  for (int k = 0; k < nOut; k++) {
    double v = (double)out[k] * prior[k];
    if (v > bv) {
      bv = v;
      best = k;
    }
  }
  return best;
}

// Held-out choice: a hash of (seed, index) against the fraction.
bool heldOut(uint32_t seed, int i, float frac) {
  if (frac <= 0) return false;
  uint64_t z = ((uint64_t)seed << 32 | (uint32_t)i) + 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  z ^= z >> 31;
  return (double)(z >> 11) / 9007199254740992.0 < frac;
}

int checkClass(GS_Result *r, int cls, int nOut, const char *where, long index) {
  if (cls < 0 || cls >= nOut) {
    nnet_Err(r, "%s: example %ld has class %d, the network has %d outputs", where, index, cls + 0, nOut);
    return 1;
  }
  return 0;
}

struct VecFile {
  FILE *f = nullptr;
  int count = 0, dim = 0;
  ~VecFile() {
    if (f) fclose(f);
  }
};

int openVec(GS_Result *r, VecFile &v, const char *path, Nnet *net) {
  v.f = optOpenForRead(path, 0, &v.count, &v.dim);
  if (!v.f) {
    nnet_Err(r, "opening data file: %s: %s", path, strerror(errno));
    return 1;
  }
  // A file without vectors has no dimension to compare.
  if (v.count > 0 && v.dim < nnet_NumInputs(net)) {
    nnet_Err(r, "%s has %d features per vector, the network takes %d", path, v.dim, nnet_NumInputs(net));
    return 1;
  }
  return 0;
}

}  // namespace

int nnet_StochasticTrain(GS_Result *r, OptimState *st, Nnet *net, const char *path) {
  if (!trainable(r, net)) return 1;
  FNnetRep *rep = net->fnet;
  OptimPrivate *p = st->priv;
  if (rep->numWeights != st->gradLen || nnet_NumOutputs(net) != (int)p->negpen.size()) {
    nnet_Err(r, "the optimiser was made for another network");
    return 1;
  }
  VecFile v;
  if (openVec(r, v, path, net)) return 1;
  const int nOut = nnet_NumOutputs(net), L = rep->numLayers;
  const uint32_t cvSeed = (uint32_t)p->s.seed;
  int numTrain = 0;
  for (int i = 0; i < v.count; i++) numTrain += !heldOut(cvSeed, i, p->s.cvfrac);
  if (numTrain == 0) {
    nnet_Err(r, "%s has no training examples", path);
    return 1;
  }
  const double tau = p->s.tau > 0 ? p->s.tau : 5.0 * numTrain;
  const int bs = v.count < kOptBlock ? (v.count > 0 ? v.count : 1) : kOptBlock;
  const int blocks = (v.count + bs - 1) / bs;
  ExampleSet *block = allocExample(r, bs, v.dim);
  if (!block) return 1;
  Deltas D(rep);
  std::vector<int> order(bs), blockOrder(blocks);
  const int dataStart = 4, vecBytes = 4 * (v.dim + 1);
  // Reads block b (n vectors) of the file into block; false with a message when it cannot.
  auto readBlock = [&](int b, int n) {
    if (fseeko(v.f, dataStart + (off_t)b * bs * vecBytes, SEEK_SET) == 0 &&
        optReadBlock(v.f, n, block->classes, v.dim, block->rows, 0) == n)
      return true;
    nnet_Err(r, "Error while reading: %s: %s", path, errno ? strerror(errno) : "short file");
    return false;
  };
  int code = 0;
  for (int pass = 0; pass < p->s.iters && !code; pass++) {
    double loss = 0;
    long wrong = 0, seen = 0;
    for (int b = 0; b < blocks; b++) blockOrder[b] = b;
    for (int b = blocks - 1; b > 0; b--) std::swap(blockOrder[b], blockOrder[nnrand_Next(&p->gen) % (b + 1)]);
    for (int bi = 0; bi < blocks && !code; bi++) {
      const int b = blockOrder[bi];
      const int n = b == blocks - 1 ? v.count - b * bs : bs;
      if (!readBlock(b, n)) {
        code = 1;
        break;
      }
      for (int e = 0; e < n; e++) order[e] = e;
      for (int e = n - 1; e > 0; e--) {
        long x = nnrand_Next(&p->gen);
        if (e + 1 > NNRAND_MAX + 1) x = x << 15 | nnrand_Next(&p->gen);
        std::swap(order[e], order[x % (e + 1)]);
      }
      for (int ei = 0; ei < n; ei++) {
        const int e = order[ei];
        const long index = (long)b * bs + e;
        if (heldOut(cvSeed, (int)index, p->s.cvfrac)) continue;
        const int cls = block->classes[e];
        if (checkClass(r, cls, nOut, path, index)) {
          code = 1;
          break;
        }
        nnet_Think(net, block->rows[e], nullptr);
        wrong += decide(rep->units[L - 1], nOut, p->prior) != cls;
        seen++;
        loss += outputDeltas(rep, cls, p->negpen, D.d[L - 1]);
        hiddenDeltas(rep, D);
        const double lr = p->lrate / (1 + p->vecct / tau);
        const float mom = p->s.momentum;
        for (int m = L - 1; m >= 1; m--) {
          const float *a = rep->units[m - 1];
          const int lower = rep->sizes[m - 1];
          for (int j = 0; j < rep->sizes[m]; j++) {
            const double step = -lr * D.d[m][j];
            if (step == 0 && mom == 0) continue;
            float *w = rep->rows[m - 1][j];
            float *dp = p->prev.data() + (w - rep->weights);
            if (mom != 0) {
              for (int k = 0; k < lower; k++) {
                float d = (float)(mom * dp[k] + step * a[k]);
                w[k] += d;
                dp[k] = d;
              }
            } else {
              for (int k = 0; k < lower; k++) w[k] += (float)(step * a[k]);
            }
          }
        }
        p->vecct += 1;
      }
    }
    if (code) break;
    st->error = (float)(loss / (seen ? seen : 1));
    st->error2 = (float)((double)wrong / (seen ? seen : 1));
    if (p->s.crossValidate && numTrain < v.count) {
      // Error rate on the held-out examples with the weights after the pass.
      long cvWrong = 0, cvSeen = 0;
      for (int b = 0; b < blocks && !code; b++) {
        const int n = b == blocks - 1 ? v.count - b * bs : bs;
        if (!readBlock(b, n)) {
          code = 1;
          break;
        }
        for (int e = 0; e < n; e++) {
          const long index = (long)b * bs + e;
          if (!heldOut(cvSeed, (int)index, p->s.cvfrac)) continue;
          if (checkClass(r, block->classes[e], nOut, path, index)) {
            code = 1;
            break;
          }
          nnet_Think(net, block->rows[e], nullptr);
          cvWrong += decide(rep->units[L - 1], nOut, p->prior) != block->classes[e];
          cvSeen++;
        }
      }
      if (code) break;
      double rate = (double)cvWrong / (cvSeen ? cvSeen : 1);
      st->error2 = (float)rate;
      if (!(rate < p->bestCv)) p->lrate *= p->s.cvalpha;
      if (rate < p->bestCv) p->bestCv = rate;
    }
  }
  freeExample(block);
  return code;
}

int nnet_Errfc(GS_Result *r, OptimState *st, Nnet *net, const ExampleSet *ex) {
  if (!trainable(r, net)) return 1;
  FNnetRep *rep = net->fnet;
  OptimPrivate *p = st->priv;
  const int nOut = nnet_NumOutputs(net), L = rep->numLayers;
  if (rep->numWeights != st->gradLen || nOut != (int)p->negpen.size()) {
    nnet_Err(r, "the optimiser was made for another network");
    return 1;
  }
  if (ex->dimension < nnet_NumInputs(net)) {
    nnet_Err(r, "examples of dimension %d, the network takes %d inputs", (int)ex->dimension, nnet_NumInputs(net));
    return 1;
  }
  for (int i = 0; i < ex->count; i++)
    if (checkClass(r, ex->classes[i], nOut, "example set", i)) return 1;
  std::fill(st->gradient, st->gradient + st->gradLen, 0.0);
  Deltas D(rep);
  double loss = 0;
  for (int i = 0; i < ex->count; i++) {
    nnet_Think(net, ex->rows[i], nullptr);
    loss += outputDeltas(rep, ex->classes[i], p->negpen, D.d[L - 1]);
    hiddenDeltas(rep, D);
    for (int m = L - 1; m >= 1; m--) {
      const float *a = rep->units[m - 1];
      const int lower = rep->sizes[m - 1];
      for (int j = 0; j < rep->sizes[m]; j++) {
        const double dj = D.d[m][j];
        if (dj == 0) continue;
        double *g = st->gradient + (rep->rows[m - 1][j] - rep->weights);
        for (int k = 0; k < lower; k++) g[k] += dj * a[k];
      }
    }
  }
  st->error = (float)loss;
  return 0;
}

NnetScore *nnet_Score(GS_Result *r, Nnet *net, const char *path, const float *priors) {
  if (!net->isFloat && !net->isDouble) {
    nnet_Err(r, "16-bit networks cannot be run");
    return nullptr;
  }
  VecFile v;
  if (openVec(r, v, path, net)) return nullptr;
  const int nOut = nnet_NumOutputs(net);
  std::vector<float> prior(nOut, 1.0f);
  if (priors)
    for (int k = 0; k < nOut; k++) prior[k] = priors[k];
  auto *s = (NnetScore *)nnet_Calloc(r, 1, sizeof(NnetScore));
  if (!s) return nullptr;
  s->numClasses = nOut;
  s->a = (float *)nnet_Calloc(r, nOut, sizeof(float));
  s->b = (float *)nnet_Calloc(r, nOut, sizeof(float));
  s->correct = (int32_t *)nnet_Calloc(r, nOut, sizeof(int32_t));
  s->n = (int32_t *)nnet_Calloc(r, nOut, sizeof(int32_t));
  const int bs = kOptBlock;
  ExampleSet *block = allocExample(r, v.count < bs ? v.count : bs, v.dim);
  if (!s->a || !s->b || !s->correct || !s->n || !block) {
    freeExample(block);
    nnet_FreeScore(s);
    return nullptr;
  }
  std::vector<double> a(nOut, 0.0), b(nOut, 0.0);
  std::vector<float> out(nOut);
  for (int done = 0; done < v.count;) {
    const int n = v.count - done < bs ? v.count - done : bs;
    if (optReadBlock(v.f, n, block->classes, v.dim, block->rows, 0) != n) {
      nnet_Err(r, "Error while reading: %s: %s", path, errno ? strerror(errno) : "short file");
      freeExample(block);
      nnet_FreeScore(s);
      return nullptr;
    }
    for (int e = 0; e < n; e++) {
      const int cls = block->classes[e];
      if (checkClass(r, cls, nOut, path, done + e)) {
        freeExample(block);
        nnet_FreeScore(s);
        return nullptr;
      }
      nnet_Think(net, block->rows[e], out.data());
      s->n[cls]++;
      s->N++;
      if (decide(out.data(), nOut, prior) == cls) {
        s->correct[cls]++;
        s->totalCorrect++;
      }
      for (int k = 0; k < nOut; k++) (k == cls ? a : b)[k] += out[k];
    }
    done += n;
  }
  for (int k = 0; k < nOut; k++) {
    s->a[k] = (float)a[k];
    s->b[k] = (float)b[k];
  }
  freeExample(block);
  return s;
}

void nnet_FreeScore(NnetScore *s) {
  if (!s) return;
  nnet_Free(s->a);
  nnet_Free(s->b);
  nnet_Free(s->correct);
  nnet_Free(s->n);
  nnet_Free(s);
}
