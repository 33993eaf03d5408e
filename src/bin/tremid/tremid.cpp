// tremid [options] num-iter train-file
// Trains a multilayer perceptron by per-example back-propagation over a
// multi-target example file, writing the network as basename.iteration.
#include <sys/stat.h>

#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "nnrand.h"
#include "opt.h"

namespace {

struct Options {
  int dumpFreq = 1;
  bool balance = false;
  int cont = -1;
  bool haveCont = false;
  int blockSize = 50000;
  double negWeight = 1.0;
  double tau = -1;
  double rate = 0.05;
  double momentum = 0;
  std::vector<int> arch;
  long seedNet = -1;
  long seedOrder = -1;
  std::string base = "nnet";
};

NnRand gen;

void usage(const Options &o) {
  fprintf(stderr, "tremid [options] <num iter> <train file>\n");
  fprintf(stderr, "  -i   count\t dump frequency [%d]\n", o.dumpFreq);
  fprintf(stderr, "  -l        \t balance category frequency with neg penalty\n");
  fprintf(stderr, "  -c   iter\t continue from iter (file basename.iter)\n");
  fprintf(stderr, "  -b   size\t number of vectors in memory (more is better) [%d]\n", o.blockSize);
  fprintf(stderr, "  -n   weight\t weight for negative training [%f]\n", 1.0);
  fprintf(stderr, "  -t   tau\t learn rate annealed by rate/(1 + vecct/tau) [5 x numvec]\n");
  fprintf(stderr, "  -r   rate\t learn rate [%f]\n", o.rate);
  fprintf(stderr, "  -m   momentum\t [%f]\n", o.momentum);
  fprintf(stderr, "  -a   <num layers> <size 1> .. <size n>\t architecture\n");
  fprintf(stderr, "  -sn  seed\t random seed (long int) for setting init weights\n");
  fprintf(stderr, "  -sv  seed\t random seed (long int) order of evaluation\n");
  fprintf(stderr, "Default seeds for -sn -sv are based on time of day\n");
  fprintf(stderr, "  -f   basename\t basename of all dumped nnets [%s]\n", o.base.c_str());
  exit(1);
}

void fail(const char *fmt, const char *arg = nullptr) {
  fprintf(stderr, fmt, arg);
  exit(1);
}

// Draw without replacement. Remaining counts above the generator's range take
// two draws, so that every entry can come first.
struct Pool {
  std::vector<int> entry;
  int remaining = 0;
  void make(int total, long seed) {
    entry.resize(total);
    for (int i = 0; i < total; i++) entry[i] = i;
    remaining = total;
    if (seed) nnrand_Seed(&gen, seed);
  }
  void refill() { remaining = (int)entry.size(); }
  int draw() {
    if (remaining == 0) return -1;
    long x = nnrand_Next(&gen);
    if (remaining > NNRAND_MAX + 1) x = x << 15 | nnrand_Next(&gen);
    int r = (int)(x % remaining);
    int v = entry[r];
    entry[r] = entry[remaining - 1];
    entry[remaining - 1] = v;
    remaining--;
    return v;
  }
};

bool readWords(FILE *f, void *dst, size_t n) {
  unsigned char *p = (unsigned char *)dst;
  if (fread(p, 4, n, f) != n) return false;
  // The file is little-endian whatever the host.
  for (size_t i = 0; i < n; i++, p += 4) {
    uint32_t v = (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
    memcpy(p, &v, 4);
  }
  return true;
}

std::string netName(const std::string &base, int iter) {
  char buf[32];
  snprintf(buf, sizeof buf, ".%1d", iter);
  return base + buf;
}

void writeNet(const std::string &path, NNet *net, int iter) {
  if (writeNNet(path.c_str(), net, iter)) {
    fprintf(stderr, "could not write %s: %s\n", path.c_str(), optLastError());
    exit(1);
  }
}

bool allDigitsOrBlanks(const char *s) {
  if (!*s) return false;
  for (; *s; s++)
    if (!isdigit((unsigned char)*s) && *s != ' ') return false;
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  Options o;
  int i = 1;
  for (; i < argc && argv[i][0] == '-'; i++) {
    const char *w = argv[i];
    auto value = [&]() -> const char * {
      if (i + 1 >= argc) usage(o);
      return argv[++i];
    };
    switch (w[1]) {
      case 'a': {
        int n = atoi(value());
        if (n < 2 || n > 10) fail("illegal number of layers\n");
        if (i + n >= argc) usage(o);
        o.arch.clear();
        for (int k = 0; k < n; k++) {
          const char *s = argv[++i];
          if (!allDigitsOrBlanks(s)) fail("bad architecture specification\n");
          o.arch.push_back(atoi(s));
        }
        o.arch[0] += 1;
        break;
      }
      case 'b': o.blockSize = atoi(value()); break;
      case 'c': o.cont = atoi(value()); o.haveCont = true; break;
      case 'f': o.base = value(); break;
      case 'i': o.dumpFreq = atoi(value()); break;
      case 'l': o.balance = true; break;
      case 'm': o.momentum = atof(value()); break;
      case 'n': value(); fail("negWeight temporarily disabled\n"); break;
      case 'r': o.rate = atof(value()); break;
      case 's':
        if (!strcmp(w, "-sn"))
          o.seedNet = atol(value());
        else if (!strcmp(w, "-sv"))
          o.seedOrder = atol(value());
        else
          usage(o);
        break;
      case 't': o.tau = atof(value()); break;
      default: usage(o);
    }
  }
  if (argc - i != 2) usage(o);
  const int numIter = atoi(argv[i]);
  const char *trainFile = argv[i + 1];
  if (o.blockSize < 1 || o.dumpFreq < 1) usage(o);

  NNet *net;
  int iteration;
  struct Nuke {
    void operator()(NNet *n) const { nnetNuke(n); }
  };
  std::unique_ptr<NNet, Nuke> owner;
  if (!o.haveCont) {
    if (o.arch.empty()) fail("must use either -a or -c option to define architecture\n");
    for (int s : o.arch)
      if (s < 1) fail("bad architecture specification\n");
    net = allocNNet((int)o.arch.size(), o.arch.data());
    if (!net) fail("could not make the network: %s\n", optLastError());
    owner.reset(net);
    if (o.seedNet < 0)
      printf("creating net with seed from time of day\n");
    else
      printf("creating net with seed %ld\n", o.seedNet);
    nnrand_Seed(&gen, o.seedNet);
    for (int p = 0; p < net->numLayers - 1; p++) {
      double scale = std::sqrt((double)net->sizes[p]) / 3.0;
      for (int j = 0; j < net->sizes[p + 1]; j++)
        for (int k = 0; k < net->sizes[p]; k++)
          net->weights[p][j][k] = (float)(nnrand_Uniform(&gen) / scale);
    }
    iteration = 0;
    writeNet(netName(o.base, 0), net, 0);
  } else {
    iteration = o.cont;
    if (!o.arch.empty()) fprintf(stderr, "Warning: -a ignored with -c option\n");
    std::string path = netName(o.base, o.cont);
    net = readNNet(path.c_str());
    if (!net) {
      fprintf(stderr, "could not read %s\n", path.c_str());
      return 1;
    }
    owner.reset(net);
    printf("continuing from %s\n", path.c_str());
  }

  const int L = net->numLayers;
  const int D = net->sizes[0] - 1;
  const int nOut = net->sizes[L - 1];

  FILE *f = fopen(trainFile, "rb");
  if (!f) fail("could not open %s\n", trainFile);
  std::unique_ptr<FILE, int (*)(FILE *)> fileOwner(f, fclose);
  int32_t head[2];
  if (!readWords(f, head, 2)) fail("premature end of data\n");
  const int count = head[0], K = head[1];
  printf("numvec: %d\nnumactive:%d\n", count, K);
  // Sizes come from the file: check them against its length before using
  // them, and refuse a file whose examples are not as wide as the network.
  struct stat st;
  if (fstat(fileno(f), &st) != 0) fail("could not open %s\n", trainFile);
  if (count <= 0) fail("%s holds no examples\n", trainFile);
  if (K < 0 || K > 1000) {
    fprintf(stderr, "numactive %d out of range 0 to 1000\n", K);
    return 1;
  }
  const int64_t fileD = ((int64_t)st.st_size - 8) / (4 * (int64_t)count) - 2 * (int64_t)K;
  if (fileD != D) {
    fprintf(stderr, "%s has %lld features per example, the network takes %d\n", trainFile,
            (long long)fileD, D);
    return 1;
  }
  if (o.tau < 0) o.tau = 5.0 * count;

  const int bs = o.blockSize < count ? o.blockSize : count;
  int blocks = count / bs;
  int last = count % bs;
  if (last == 0)
    last = bs;
  else
    blocks++;
  const size_t stride = 2 * (size_t)K + D;  // words per example

  std::vector<double> negpen(nOut, 1.0);
  if (o.balance) {
    std::vector<double> c(nOut, 0.0);
    std::vector<int32_t> ex(stride > 0 ? stride : 1);
    for (int e = 0; e < count; e++) {
      if (!readWords(f, ex.data(), stride)) fail("premature end of data");
      for (int k = 0; k < K; k++) {
        int slot = ex[k];
        if (slot < -1 || slot >= nOut) {
          printf("%d %d %d\n", K > 0 ? ex[0] : -1, K > 1 ? ex[1] : -1, K > 2 ? ex[2] : -1);
          fprintf(stderr, "warning class %d out of range\n", slot);
          fprintf(stderr, "disabling as training vector");
          continue;
        }
        if (slot >= 0) {
          float t;
          memcpy(&t, &ex[K + k], 4);
          c[slot] += t;
        }
      }
    }
    for (int k = 0; k < nOut; k++) {
      double v = (nOut - 1) * c[k] / (count - c[k]);
      if (!(v >= 0.0001)) v = 0.0001;
      if (v > 1) v = 1;
      negpen[k] = v;
      printf("negpen %d is %f\n", k, v);
    }
    rewind(f);
  }

  Pool blockPool;
  blockPool.make(blocks, o.seedOrder);
  printf("%d layers: ", L);
  for (int l = 0; l < L; l++) printf("%d ", net->sizes[l]);
  printf("\n");
  printf("learning rate %f\nmomentum %f\n", o.rate, o.momentum);
  printf("negative weight %f\n", 1.0);
  printf("training file %s\n", trainFile);
  printf("numvec: %d; tau: %f\n", count, o.tau);
  if (o.seedOrder < 0)
    printf("vectors chosen in %d blocks of %d with seed from time of day\n", blocks, bs);
  else
    printf("vectors chosen in %d blocks of %d with seed %d\n", blocks, bs, (int)o.seedOrder);
  fflush(stdout);

  // Training state: previous changes laid out like the weights, one error
  // per unit, one block of examples.
  int numWeights = net->net->fnet->numWeights;
  float *weights0 = net->net->fnet->weights;
  std::vector<float> prev(numWeights);
  std::vector<std::vector<double>> err(L);
  for (int l = 0; l < L; l++) err[l].assign(net->sizes[l], 0.0);
  std::vector<int32_t> block((size_t)bs * stride + 1);
  std::vector<float> out(nOut);
  Pool exPool;
  int loadedBlock = -1;
  bool warnedSlot = false;

  for (int p = 0; p < numIter; p++) {
    blockPool.refill();
    double E = 0;
    std::fill(prev.begin(), prev.end(), 0.0f);
    double vecct = (double)count * iteration;
    int done = 0;
    while (done < count) {
      int b = blockPool.draw();
      int n = b == blocks - 1 ? last : bs;
      // A file of one block is read once and kept.
      if (b != loadedBlock) {
        off_t at = 8 + (off_t)b * bs * (off_t)stride * 4;
        if (fseeko(f, at, SEEK_SET) != 0 || !readWords(f, block.data(), (size_t)n * stride))
          fail("premature end of data");
        for (int e = 0; e < n; e++)
          for (int k = 0; k < K; k++) {
            int slot = block[(size_t)e * stride + k];
            if (slot < -1 || slot > nOut) {
              fprintf(stderr, "class %d out of range\n", slot);
              return 1;
            }
            if (slot == nOut && !warnedSlot) {
              fprintf(stderr, "warning class %d out of range\n", slot);
              warnedSlot = true;
            }
          }
        loadedBlock = b;
      }
      exPool.make(n, 0);
      for (int v; (v = exPool.draw()) >= 0;) {
        const int32_t *ex = &block[(size_t)v * stride];
        const float *targets = (const float *)(ex + K);
        const float *inputs = (const float *)(ex + 2 * K);
        nnThink(inputs, out.data(), net);
        std::vector<double> &eo = err[L - 1];
        for (int k = 0; k < nOut; k++) {
          int s = -1;
          for (int q = 0; q < K; q++)
            if (ex[q] == k) s = q;
          if (s >= 0) {
            eo[k] = out[k] - targets[s];
            E += eo[k] * eo[k];
          } else {
            eo[k] = negpen[k] * out[k];
            E += negpen[k] * out[k] * out[k];
          }
        }
        const double lr = o.rate / (vecct / o.tau + 1);
        for (int m = L - 1; m >= 1; m--) {
          std::vector<double> &below = err[m - 1];
          if (m > 1) std::fill(below.begin(), below.end(), 0.0);
          const float *a = net->outputs[m - 1];
          const int lower = net->sizes[m - 1];
          for (int j = 0; j < net->sizes[m]; j++) {
            double ej = err[m][j];
            if (m < L - 1) {
              double aj = net->outputs[m][j];
              ej *= aj * (1 - aj);
              err[m][j] = ej;
            }
            const double step = -lr * ej;
            float *w = net->weights[m - 1][j];
            float *dp = prev.data() + (w - weights0);
            for (int k = 0; k < lower; k++) {
              if (m > 1) below[k] += w[k] * ej;
              if (o.momentum != 0) {
                double d = o.momentum * dp[k] + step * a[k];
                w[k] += (float)d;
                dp[k] = (float)d;
              } else {
                w[k] += (float)(step * a[k]);
              }
            }
          }
        }
        done++;
        vecct += 1;
      }
    }
    printf("learn_rate %f; total error is %f\n", o.rate / (vecct / o.tau + 1), E);
    fflush(stdout);
    iteration++;
    if (iteration % o.dumpFreq == 0) writeNet(netName(o.base, iteration), net, iteration);
  }
  writeNet(netName(o.base, iteration), net, iteration);
  return 0;
}
