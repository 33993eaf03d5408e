#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "dravin_int.h"
#include "kelmortrain.h"
#include "nnet_test_helpers.h"

namespace {

Nnet *makeNet(const std::vector<int> &sizes, const std::vector<int> &act, int hiddenBias = 0) {
  NnetSpec *spec = nnet_Default();
  nnet_Free(spec->sizes);
  nnet_Free(spec->act);
  spec->numLayers = sizes.size();
  spec->sizes = (int32_t *)nnet_Calloc(nullptr, sizes.size(), 4);
  spec->act = (unsigned char *)nnet_Calloc(nullptr, sizes.size(), 1);
  for (size_t j = 0; j < sizes.size(); j++) {
    spec->sizes[j] = sizes[j];
    spec->act[j] = act[j];
  }
  spec->hiddenBias = hiddenBias;
  Nnet *net = nnet_Alloc(nullptr, spec);
  nnet_FreeSpec(spec);
  if (hiddenBias) net->fnet->bias = 1;
  return net;
}

ExampleSet *makeSet(const std::vector<std::vector<float>> &rows, const std::vector<int> &classes) {
  ExampleSet *s = allocExample(nullptr, rows.size(), rows.empty() ? 0 : rows[0].size());
  for (size_t i = 0; i < rows.size(); i++) {
    std::copy(rows[i].begin(), rows[i].end(), s->rows[i]);
    s->classes[i] = classes[i];
  }
  return s;
}

// The loss of the network with weights w, written out independently of the
// library, in double.
double refLoss(const FNnetRep *rep, const std::vector<double> &w, const ExampleSet *ex,
               const std::vector<double> &negpen) {
  const int L = rep->numLayers;
  double total = 0;
  for (int e = 0; e < ex->count; e++) {
    std::vector<double> u(ex->rows[e], ex->rows[e] + rep->sizes[0] - 1);
    u.push_back(1.0);
    size_t at = 0;
    for (int j = 0; j < L - 1; j++) {
      const bool hidden = j + 1 < L - 1;
      const int upper = rep->sizes[j + 1], n = upper - (rep->bias && hidden ? 1 : 0);
      std::vector<double> next(upper, 1.0);
      for (int b = 0; b < upper; b++) {
        double x = 0;
        for (double v : u) x += v * w[at++];
        if (b < n) next[b] = x;
      }
      int code = rep->act[j + 1];
      if (code == NNET_SIGMOID)
        for (int b = 0; b < n; b++) next[b] = 1 / (1 + std::exp(-next[b]));
      if (code == NNET_SOFTMAX) {
        double mx = -1e300, sum = 0;
        for (int b = 0; b < n; b++) mx = std::max(mx, next[b]);
        for (int b = 0; b < n; b++) sum += (next[b] = std::exp(next[b] - mx));
        for (int b = 0; b < n; b++) next[b] /= sum;
      }
      u = next;
    }
    const int cls = ex->classes[e];
    for (int k = 0; k < (int)u.size(); k++) {
      double t = k == cls;
      switch (rep->act[L - 1]) {
        case NNET_SIGMOID: total += t ? -std::log(u[k]) : -negpen[k] * std::log(1 - u[k]); break;
        case NNET_SOFTMAX: total += t ? -std::log(u[k]) : 0; break;
        default: total += 0.5 * (u[k] - t) * (u[k] - t);
      }
    }
  }
  return total;
}

TEST(KelmorGradient, ErrfcMatchesFiniteDifferences) {
  struct {
    const char *why;
    std::vector<int> sizes, act;
    int bias;
    std::vector<float> negpen;
  } cases[] = {
      {"logistic output with penalties", {3, 4, 3}, {0, 1, 1}, 0, {0.5f, 1.0f, 0.25f}},
      {"softmax output", {3, 5, 3}, {0, 1, 2}, 0, {}},
      {"linear output, linear hidden", {3, 4, 2}, {0, 0, 0}, 0, {}},
      {"hidden softmax, two hidden layers", {2, 4, 3, 2}, {0, 2, 1, 1}, 0, {}},
      {"hidden bias units", {3, 4, 3, 2}, {0, 1, 1, 2}, 1, {}},
  };
  std::mt19937 gen(3);
  std::uniform_real_distribution<float> u(-1, 1);
  for (auto &c : cases) {
    Nnet *net = makeNet(c.sizes, c.act, c.bias);
    nnet_Seed(net, 7);
    const int nIn = c.sizes[0], nOut = c.sizes.back();
    std::vector<std::vector<float>> rows;
    std::vector<int> classes;
    for (int i = 0; i < 6; i++) {
      std::vector<float> row(nIn);
      for (auto &v : row) v = 2 * u(gen);
      rows.push_back(row);
      classes.push_back(i % nOut);
    }
    ExampleSet *ex = makeSet(rows, classes);
    OptimSettings *s = optim_Default();
    if (!c.negpen.empty()) {
      s->negpen = (float *)nnet_Calloc(nullptr, c.negpen.size(), 4);
      std::copy(c.negpen.begin(), c.negpen.end(), s->negpen);
      s->numNegpen = c.negpen.size();
    }
    Res res;
    OptimState *st = optim_Init(res.r, s, net);
    ASSERT_TRUE(st) << res.text();
    ASSERT_EQ(nnet_Errfc(res.r, st, net, ex), 0) << res.text();
    std::vector<double> negpen(nOut, 1.0);
    for (size_t k = 0; k < c.negpen.size(); k++) negpen[k] = c.negpen[k];
    const FNnetRep *rep = net->fnet;
    std::vector<double> w(rep->weights, rep->weights + rep->numWeights);
    EXPECT_NEAR(st->error, refLoss(rep, w, ex, negpen), 1e-4 * (1 + std::fabs(st->error))) << c.why;
    for (int i = 0; i < rep->numWeights; i++) {
      std::vector<double> wp = w, wm = w;
      wp[i] += 1e-5;
      wm[i] -= 1e-5;
      double fd = (refLoss(rep, wp, ex, negpen) - refLoss(rep, wm, ex, negpen)) / 2e-5;
      ASSERT_NEAR(st->gradient[i], fd, 1e-4 * (1 + std::fabs(fd))) << c.why << ": weight " << i;
    }
    optim_Nuke(st);
    optim_FreeSettings(s);
    freeExample(ex);
    nnet_Nuke(nullptr, net);
  }
}

// Writes n vectors with classes 1-based in the file through the library.
std::string writeVectors(const std::string &name, const std::vector<std::vector<float>> &rows,
                         const std::vector<int> &classes, int nborder) {
  std::string path = tmpPath(name);
  unlink(path.c_str());
  int count, dim;
  FILE *f = optOpenForWrite(path.c_str(), nborder, &count, &dim);
  EXPECT_TRUE(f);
  ExampleSet *s = makeSet(rows, classes);
  EXPECT_EQ(optWriteBlock(f, s->count, s->classes, s->dimension, s->rows, nborder, 0, s->count), 0);
  fclose(f);
  freeExample(s);
  return path;
}

TEST(KelmorVectorFiles, BothByteOrdersWriteAndReadBack) {
  std::vector<std::vector<float>> rows = {{1.5f, -2}, {0.25f, 8}, {3, 4}};
  std::vector<int> classes = {0, 2, 1};
  for (int nborder = 0; nborder < 2; nborder++) {
    std::string path = writeVectors("bo.vec", rows, classes, nborder);
    auto bytes = readFile(path);
    ASSERT_EQ(bytes.size(), 4u + 3 * 12);
    // numvec 3, then the first class word holds 1 (0-based 0).
    std::vector<unsigned char> three = nborder ? std::vector<unsigned char>{0, 0, 0, 3}
                                               : std::vector<unsigned char>{3, 0, 0, 0};
    EXPECT_TRUE(std::equal(three.begin(), three.end(), bytes.begin())) << nborder;
    EXPECT_EQ(bytes[nborder ? 7 : 4], 1);
    int count, dim;
    FILE *f = optOpenForRead(path.c_str(), nborder, &count, &dim);
    ASSERT_TRUE(f);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(dim, 2);
    ExampleSet *s = allocExample(nullptr, 3, 2);
    EXPECT_EQ(optReadBlock(f, 3, s->classes, 2, s->rows, nborder), 3);
    for (int i = 0; i < 3; i++) {
      EXPECT_EQ(s->classes[i], classes[i]);
      EXPECT_EQ(s->rows[i][0], rows[i][0]);
      EXPECT_EQ(s->rows[i][1], rows[i][1]);
    }
    EXPECT_EQ(optReadBlock(f, 3, s->classes, 2, s->rows, nborder), 0);
    fclose(f);
    // The other byte order does not make sense of the file.
    errno = 0;
    EXPECT_FALSE(optOpenForRead(path.c_str(), !nborder, &count, &dim));
    EXPECT_EQ(errno, EINVAL);
    // Appending continues the count.
    f = optOpenForWrite(path.c_str(), nborder, &count, &dim);
    ASSERT_TRUE(f);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(dim, 2);
    EXPECT_EQ(optWriteBlock(f, 3, s->classes, 2, s->rows, nborder, 0, 6), 0);
    fclose(f);
    f = optOpenForRead(path.c_str(), nborder, &count, &dim);
    ASSERT_TRUE(f);
    EXPECT_EQ(count, 6);
    fclose(f);
    freeExample(s);
    unlink(path.c_str());
  }
}

TEST(KelmorVectorFiles, FuzzedFilesAreRefusedOrReadSafely) {
  std::vector<std::vector<float>> rows;
  std::vector<int> classes;
  for (int i = 0; i < 5; i++) {
    rows.push_back({(float)i, 1, 2});
    classes.push_back(i % 3);
  }
  std::string good = writeVectors("fz.vec", rows, classes, 0);
  auto bytes = readFile(good);
  std::mt19937 gen(11);
  std::string path = tmpPath("fuzz.vec");
  for (int iter = 0; iter < 3000; iter++) {
    auto b = bytes;
    for (int e = 0, n = 1 + gen() % 3; e < n && !b.empty(); e++) {
      size_t at = gen() % b.size();
      switch (gen() % 3) {
        case 0: b[at] = gen(); break;
        case 1: b.resize(at); break;
        default: b.insert(b.begin() + at, 4, gen()); break;
      }
    }
    FILE *w = fopen(path.c_str(), "wb");
    if (!b.empty()) fwrite(b.data(), 1, b.size(), w);
    fclose(w);
    int count = -1, dim = -1;
    FILE *f = optOpenForRead(path.c_str(), gen() % 2, &count, &dim);
    if (!f) continue;
    // Whatever was accepted fits in the file.
    if (count > 0) {
      ASSERT_LE(4 + (int64_t)count * 4 * (dim + 1), (int64_t)b.size());
    }
    ExampleSet *s = allocExample(nullptr, count, dim);
    ASSERT_TRUE(s);
    EXPECT_EQ(optReadBlock(f, count, s->classes, dim, s->rows, 0), count);
    freeExample(s);
    fclose(f);
  }
  unlink(path.c_str());
  unlink(good.c_str());
}

TEST(KelmorVectorFiles, MultiTargetAppendKeepsOneLayout) {
  std::string path = tmpPath("m.mvec");
  unlink(path.c_str());
  Res res;
  int32_t slots[3] = {2, -1, -1};
  float targets[3] = {1, 0, 0}, feats[2] = {0.5f, -0.5f};
  int count;
  for (int round = 0; round < 2; round++) {
    FILE *f = mvec_OpenForAppend(res.r, path.c_str(), 3, &count);
    ASSERT_TRUE(f) << res.text();
    EXPECT_EQ(count, round * 2);
    EXPECT_EQ(mvec_WriteExample(f, 3, slots, targets, 2, feats), 0);
    EXPECT_EQ(mvec_WriteExample(f, 3, slots, targets, 2, feats), 0);
    EXPECT_EQ(mvec_Close(res.r, f, count + 2), 0);
  }
  auto bytes = readFile(path);
  EXPECT_EQ(bytes.size(), 8u + 4 * 4 * 8);
  EXPECT_EQ(bytes[0], 4);
  EXPECT_EQ(bytes[4], 3);
  EXPECT_FALSE(mvec_OpenForAppend(res.r, path.c_str(), 1, &count));
  EXPECT_NE(res.text().find("holds 3 class slots per example, not 1"), std::string::npos) << res.text();
  unlink(path.c_str());
}

TEST(KelmorTraining, StochasticPassesLearnXorAndScoreIt) {
  std::vector<std::vector<float>> rows;
  std::vector<int> classes;
  for (int r = 0; r < 50; r++)
    for (int a = 0; a < 2; a++)
      for (int b = 0; b < 2; b++) {
        rows.push_back({(float)a, (float)b});
        classes.push_back(a ^ b);
      }
  std::string path = writeVectors("xor.vec", rows, classes, 0);
  Nnet *net = makeNet({2, 6, 2}, {0, 1, 1});
  nnet_Seed(net, 5);
  OptimSettings *s = optim_Default();
  s->lrate = 0.5f;
  s->tau = 1e9f;
  s->iters = 100;
  Res res;
  OptimState *st = optim_Init(res.r, s, net);
  ASSERT_TRUE(st);
  ASSERT_EQ(nnet_StochasticTrain(res.r, st, net, path.c_str()), 0) << res.text();
  EXPECT_EQ(st->error2, 0.0f);
  NnetScore *sc = nnet_Score(res.r, net, path.c_str(), nullptr);
  ASSERT_TRUE(sc) << res.text();
  EXPECT_EQ(sc->N, 200);
  EXPECT_EQ(sc->totalCorrect, 200);
  EXPECT_EQ(sc->n[0], 100);
  EXPECT_EQ(sc->correct[1], 100);
  EXPECT_GT(sc->a[1] / sc->n[1], 0.8);
  EXPECT_LT(sc->b[1] / (sc->N - sc->n[1]), 0.2);
  nnet_FreeScore(sc);
  // A prior that favours class 0 by far turns every decision to it.
  float prior[2] = {1e6f, 1};
  sc = nnet_Score(res.r, net, path.c_str(), prior);
  EXPECT_EQ(sc->totalCorrect, 100);
  nnet_FreeScore(sc);
  optim_Nuke(st);
  optim_FreeSettings(s);
  nnet_Nuke(nullptr, net);
  unlink(path.c_str());
}

TEST(KelmorTraining, CrossValidationReportsTheHeldOutErrorRate) {
  // Two noisy Gaussian blobs: the held-out error rate comes near the best
  // possible one.
  std::mt19937 gen(2);
  std::normal_distribution<float> nd(0, 1);
  std::vector<std::vector<float>> rows;
  std::vector<int> classes;
  for (int i = 0; i < 2000; i++) {
    int c = i % 2;
    rows.push_back({nd(gen) + (c ? 1.5f : -1.5f), nd(gen)});
    classes.push_back(c);
  }
  std::string path = writeVectors("blobs.vec", rows, classes, 0);
  Nnet *net = makeNet({2, 4, 2}, {0, 1, 2});
  nnet_Seed(net, 1);
  OptimSettings *s = optim_Default();
  s->cvfrac = 0.2f;
  s->lrate = 0.1f;
  Res res;
  OptimState *st = optim_Init(res.r, s, net);
  float last = 1;
  for (int pass = 0; pass < 8; pass++) {
    ASSERT_EQ(nnet_StochasticTrain(res.r, st, net, path.c_str()), 0) << res.text();
    last = st->error2;
  }
  EXPECT_LT(last, 0.12f);  // the Bayes error of these blobs is about 7%
  optim_Nuke(st);
  optim_FreeSettings(s);
  nnet_Nuke(nullptr, net);
  unlink(path.c_str());
}

TEST(KelmorTraining, BadInputIsReported) {
  Nnet *net = makeNet({2, 3, 2}, {0, 1, 1});
  Res res;
  OptimSettings *s = optim_Default();
  s->negpen = (float *)nnet_Calloc(nullptr, 3, 4);
  s->numNegpen = 3;
  EXPECT_FALSE(optim_Init(res.r, s, net));
  EXPECT_NE(res.text().find("3 negative penalties given for a network of 2 outputs"), std::string::npos);
  s->numNegpen = 0;
  OptimState *st = optim_Init(res.r, s, net);
  ASSERT_TRUE(st);
  // A class beyond the outputs, a file too narrow for the network, a missing file.
  std::string bad = writeVectors("bad.vec", {{1, 2}, {3, 4}}, {0, 5}, 0);
  std::string narrow = writeVectors("narrow.vec", {{1}}, {0}, 0);
  struct {
    std::string path, message;
  } cases[] = {
      {bad, "example 1 has class 5, the network has 2 outputs"},
      {narrow, "has 1 features per vector, the network takes 2"},
      {"/nonexistent/x.vec", "opening data file: /nonexistent/x.vec: No such file"},
  };
  for (auto &c : cases) {
    GS_ResetResult(res.r);
    EXPECT_NE(nnet_StochasticTrain(res.r, st, net, c.path.c_str()), 0);
    EXPECT_NE(res.text().find(c.message), std::string::npos) << res.text();
    GS_ResetResult(res.r);
    EXPECT_FALSE(nnet_Score(res.r, net, c.path.c_str(), nullptr));
    EXPECT_NE(res.text().find(c.message), std::string::npos) << res.text();
  }
  ExampleSet *ex = makeSet({{1}}, {0});
  EXPECT_NE(nnet_Errfc(res.r, st, net, ex), 0);
  freeExample(ex);
  optim_Nuke(st);
  optim_FreeSettings(s);
  nnet_Nuke(nullptr, net);
  unlink(bad.c_str());
  unlink(narrow.c_str());
}

// Rosenbrock's valley: minimum 0 at (1, 1).
int rosenbrock(void *, const float *x, double *g, double *E) {
  double a = x[0], b = x[1];
  *E = (1 - a) * (1 - a) + 100 * (b - a * a) * (b - a * a);
  g[0] = -2 * (1 - a) - 400 * a * (b - a * a);
  g[1] = 200 * (b - a * a);
  return 0;
}

int saves;
int countSave(void *, int) { return ++saves > 1000; }

TEST(KelmorCgrd, FindsTheMinimumOfRosenbrock) {
  float x[2] = {-1.2f, 1.0f};
  CgrdProblem p{nullptr, x, 2};
  int status;
  saves = 0;
  double E = Cgrd(&p, rosenbrock, countSave, 200, 0, 1e-12, &status);
  EXPECT_EQ(status, 0);
  EXPECT_LT(E, 1e-6);
  EXPECT_NEAR(x[0], 1, 2e-3);
  EXPECT_NEAR(x[1], 1, 4e-3);
  EXPECT_GT(saves, 0);
}

int failing(void *, const float *, double *, double *) { return 7; }

TEST(KelmorCgrd, AnAbortingCallbackStopsTheSearch) {
  float x[2] = {3, 4};
  CgrdProblem p{nullptr, x, 2};
  int status;
  Cgrd(&p, failing, nullptr, 10, 0, 1e-5, &status);
  EXPECT_EQ(status, 7);
  EXPECT_EQ(x[0], 3);
}

struct NetProblem {
  Nnet *net;
  OptimState *st;
  ExampleSet *ex;
};

int netErrfc(void *cd, const float *x, double *g, double *E) {
  auto *np = (NetProblem *)cd;
  memcpy(np->net->fnet->weights, x, sizeof(float) * np->net->fnet->numWeights);
  if (nnet_Errfc(nullptr, np->st, np->net, np->ex)) return 1;
  memcpy(g, np->st->gradient, sizeof(double) * np->st->gradLen);
  *E = np->st->error;
  return 0;
}

TEST(KelmorCgrd, TrainsXorThroughTheErrorFunction) {
  Nnet *net = makeNet({2, 8, 2}, {0, 1, 2});
  nnet_Seed(net, 3);
  ExampleSet *ex = makeSet({{0, 0}, {0, 1}, {1, 0}, {1, 1}}, {0, 1, 1, 0});
  OptimSettings *s = optim_Default();
  OptimState *st = optim_Init(nullptr, s, net);
  NetProblem np{net, st, ex};
  std::vector<float> x(net->fnet->weights, net->fnet->weights + net->fnet->numWeights);
  CgrdProblem p{&np, net->fnet->weights, net->fnet->numWeights};
  int status;
  double E = Cgrd(&p, netErrfc, nullptr, 200, 0, 1e-9, &status);
  EXPECT_EQ(status, 0);
  EXPECT_LT(E, 0.05);
  float out[2];
  for (int i = 0; i < 4; i++) {
    nnet_Think(net, ex->rows[i], out);
    EXPECT_EQ(out[1] > out[0], ex->classes[i] == 1) << i;
  }
  optim_Nuke(st);
  optim_FreeSettings(s);
  freeExample(ex);
  nnet_Nuke(nullptr, net);
}

}  // namespace
