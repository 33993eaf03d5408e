#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "container.h"
#include "container_file.h"
#include "dravin.h"
#include "records.h"
#include "yastro.h"
#include "dravin_int.h"
#include "nnet_test_helpers.h"
#include "nnrand.h"

namespace {

void putBig(std::vector<unsigned char> &b, uint32_t v) {
  b.push_back(v >> 24);
  b.push_back(v >> 16);
  b.push_back(v >> 8);
  b.push_back(v);
}
void putBigF(std::vector<unsigned char> &b, float f) {
  uint32_t v;
  memcpy(&v, &f, 4);
  putBig(b, v);
}

std::vector<unsigned char> optBytes(const std::vector<int> &sizes, const std::vector<float> &w,
                                    uint32_t header = 1) {
  std::vector<unsigned char> b;
  putBig(b, header);
  putBig(b, sizes.size());
  for (int s : sizes) putBig(b, s);
  for (float f : w) putBigF(b, f);
  return b;
}

void writeFile(const std::string &path, const std::vector<unsigned char> &b) {
  FILE *f = fopen(path.c_str(), "wb");
  ASSERT_TRUE(f);
  if (!b.empty()) fwrite(b.data(), 1, b.size(), f);
  fclose(f);
}

double sig(double x) { return 1 / (1 + std::exp(-x)); }

// A hand-built XOR network: hidden unit 0 is OR, unit 1 is AND, the output is
// OR and not AND. The file has no hidden bias units, so hidden unit 2 is
// driven to 1 by its bias weight and serves as one. Rows are {x1, x2, bias}.
const std::vector<float> kXorWeights = {20, 20, -10, 20, 20, -30, 0, 0, 50, 20, -20, -10};

TEST(DravinOptFile, HandMadeXorNetworkGivesItsKnownOutputs) {
  std::string path = tmpPath("xor.net");
  writeFile(path, optBytes({3, 3, 1}, kXorWeights));
  Res res;
  Nnet *net = nnet_OptLoad(res.r, path.c_str());
  ASSERT_TRUE(net) << res.text();
  EXPECT_EQ(nnet_NumInputs(net), 2);
  EXPECT_EQ(nnet_NumOutputs(net), 1);
  const float cases[4][2] = {{0, 0}, {0, 1}, {1, 0}, {1, 1}};
  for (auto &c : cases) {
    double h0 = sig(20 * c[0] + 20 * c[1] - 10), h1 = sig(20 * c[0] + 20 * c[1] - 30);
    double want = sig(20 * h0 - 20 * h1 - 10 * sig(50));
    float out = -1;
    nnet_Think(net, c, &out);
    EXPECT_NEAR(out, want, 1e-6) << c[0] << " " << c[1];
    EXPECT_EQ(out > 0.5f, (c[0] != c[1]));
  }
  nnet_Nuke(nullptr, net);
  unlink(path.c_str());
}

TEST(DravinOptFile, SaveAfterLoadGivesTheSameBytes) {
  std::string in = tmpPath("rt_in.net"), out = tmpPath("rt_out.net");
  std::vector<float> w(14 * 20 + 20 * 3);
  for (size_t i = 0; i < w.size(); i++) w[i] = std::sin(i * 0.37f) * 3;
  auto bytes = optBytes({14, 20, 3}, w, 7);
  EXPECT_EQ(bytes.size(), 1380u);
  writeFile(in, bytes);
  Res res;
  Nnet *net = nnet_OptLoad(res.r, in.c_str());
  ASSERT_TRUE(net) << res.text();
  EXPECT_EQ(net->fnet->numWeights, 340);
  EXPECT_EQ(net->fnet->act[0], NNET_LINEAR);
  EXPECT_EQ(net->fnet->act[2], NNET_SIGMOID);
  EXPECT_EQ(nnet_OptSave(res.r, out.c_str(), net, 7), 0) << res.text();
  EXPECT_EQ(readFile(out), bytes);
  nnet_Nuke(nullptr, net);
  unlink(in.c_str());
  unlink(out.c_str());
}

TEST(DravinOptFile, BadFilesAreRefusedWithAMessage) {
  std::vector<float> w9(9, 0.5f);
  auto good = optBytes({3, 2, 1}, w9);
  std::vector<unsigned char> littleEndian = good;
  for (size_t i = 0; i + 4 <= littleEndian.size(); i += 4)
    std::reverse(littleEndian.begin() + i, littleEndian.begin() + i + 4);
  auto trailing = good;
  trailing.push_back(0);
  struct Case {
    const char *why;
    std::vector<unsigned char> bytes;
    const char *message;
  } cases[] = {
      {"empty", {}, "too short"},
      {"header only", std::vector<unsigned char>(good.begin(), good.begin() + 6), "too short"},
      {"truncated sizes", std::vector<unsigned char>(good.begin(), good.begin() + 14), "truncated"},
      {"truncated weights", std::vector<unsigned char>(good.begin(), good.end() - 1), "bytes"},
      {"trailing byte", trailing, "bytes"},
      {"one layer", optBytes({3}, {}), "number of layers"},
      {"65 layers", optBytes(std::vector<int>(65, 1), std::vector<float>(64, 0)), "number of layers"},
      {"size zero", optBytes({3, 0, 1}, {}), "impossible size"},
      {"negative size", optBytes({3, -2, 1}, {}), "impossible size"},
      {"sizes overflow", optBytes({1 << 19, 1 << 19, 1 << 19}, {}), "too many weights"},
      {"wrong byte order", littleEndian, "byte order"},
  };
  std::string path = tmpPath("bad.net");
  for (auto &c : cases) {
    writeFile(path, c.bytes);
    Res res;
    Nnet *net = nnet_OptLoad(res.r, path.c_str());
    EXPECT_FALSE(net) << c.why;
    EXPECT_NE(res.text().find(c.message), std::string::npos) << c.why << ": " << res.text();
    nnet_Nuke(nullptr, net);
  }
  Res res;
  EXPECT_FALSE(nnet_OptLoad(res.r, "/nonexistent/dir/x.net"));
  EXPECT_NE(res.text().find("cannot read"), std::string::npos);
  unlink(path.c_str());
}

TEST(DravinOptFile, FuzzedFilesNeverCrash) {
  std::vector<float> w(5 * 4 + 4 * 3);
  for (size_t i = 0; i < w.size(); i++) w[i] = (float)i;
  auto good = optBytes({5, 4, 3}, w);
  std::mt19937 gen(42);
  std::string path = tmpPath("fuzz.net");
  int loaded = 0;
  for (int iter = 0; iter < 3000; iter++) {
    auto b = good;
    int edits = 1 + gen() % 4;
    for (int e = 0; e < edits; e++) {
      size_t at = gen() % b.size();
      switch (gen() % 4) {
        case 0: b[at] = gen(); break;
        case 1: b.resize(at); break;
        case 2: b.insert(b.begin() + at, gen() % 256); break;
        default: b[at] ^= 1 << (gen() % 8); break;
      }
      if (b.empty()) break;
    }
    writeFile(path, b);
    Res res;
    Nnet *net = nnet_OptLoad(res.r, path.c_str());
    if (net) {
      loaded++;
      float in[16] = {0}, out[64];
      nnet_Think(net, in, out);
    } else {
      EXPECT_FALSE(res.text().empty());
    }
    nnet_Nuke(nullptr, net);
  }
  EXPECT_GT(loaded, 0);
  unlink(path.c_str());
}

TEST(DravinOptFile, SaveRefusesBiasFlagAndUnwritablePaths) {
  NnetSpec *spec = nnet_Default();
  spec->sizes[0] = 2;
  spec->sizes[1] = 3;
  spec->sizes[2] = 1;
  Res res;
  Nnet *net = nnet_Alloc(res.r, spec);
  ASSERT_TRUE(net);
  EXPECT_EQ(nnet_OptSave(res.r, "/nonexistent/dir/x.net", net, 1), 1);
  EXPECT_NE(res.text().find("cannot write"), std::string::npos);
  net->fnet->bias = 1;
  std::string path = tmpPath("bias.net");
  EXPECT_EQ(nnet_OptSave(res.r, path.c_str(), net, 1), 1);
  EXPECT_NE(res.text().find("bias"), std::string::npos);
  nnet_Nuke(nullptr, net);
  nnet_FreeSpec(spec);
}

TEST(DravinAlloc, HiddenBiasAddsUnitsWithoutChangingTheSpec) {
  NnetSpec *spec = nnet_Default();
  EXPECT_EQ(spec->sizes[0], 130);
  spec->sizes[0] = 13;
  spec->sizes[1] = 20;
  spec->sizes[2] = 3;
  spec->hiddenBias = 1;
  Res res;
  Nnet *net = nnet_Alloc(res.r, spec);
  ASSERT_TRUE(net) << res.text();
  EXPECT_TRUE(net->isFloat);
  EXPECT_EQ(net->fnet->sizes[0], 14);
  EXPECT_EQ(net->fnet->sizes[1], 21);
  EXPECT_EQ(net->fnet->sizes[2], 3);
  EXPECT_EQ(net->fnet->numWeights, 357);
  EXPECT_EQ(net->fnet->bias, 0);
  EXPECT_EQ(spec->sizes[0], 13);
  EXPECT_EQ(spec->sizes[1], 20);
  // Rows point into the one weights array, row by row.
  EXPECT_EQ(net->fnet->rows[0][1] - net->fnet->rows[0][0], 14);
  EXPECT_EQ(net->fnet->rows[1][0] - net->fnet->weights, 14 * 21);
  nnet_Nuke(nullptr, net);

  spec->sizes[1] = 0;
  EXPECT_FALSE(nnet_Alloc(res.r, spec));
  spec->sizes[1] = 20;
  spec->numLayers = 1;
  EXPECT_FALSE(nnet_Alloc(res.r, spec));
  EXPECT_FALSE(res.text().empty());
  nnet_FreeSpec(spec);
}

Nnet *randomNet(const std::vector<int> &sizes, const std::vector<int> &act, unsigned seed,
                float scale = 1) {
  NnetSpec *spec = nnet_Default();
  nnet_Free(spec->sizes);
  nnet_Free(spec->act);
  spec->sizes = (int32_t *)nnet_Calloc(nullptr, sizes.size(), 4);
  spec->act = (unsigned char *)nnet_Calloc(nullptr, sizes.size(), 1);
  spec->numLayers = sizes.size();
  for (size_t j = 0; j < sizes.size(); j++) {
    spec->sizes[j] = sizes[j];
    spec->act[j] = act[j];
  }
  Nnet *net = nnet_Alloc(nullptr, spec);
  nnet_FreeSpec(spec);
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> u(-scale, scale);
  for (int i = 0; i < net->fnet->numWeights; i++) net->fnet->weights[i] = u(gen);
  return net;
}

TEST(DravinThink, ClampSoftmaxAndBiasRules) {
  // One input straight to one linear output: the net input is w*x + bias.
  Nnet *lin = randomNet({1, 1}, {0, 0}, 1);
  lin->fnet->weights[0] = 1;
  lin->fnet->weights[1] = 0;
  struct {
    float in, want;
  } cases[] = {{150, 100}, {-150, -100}, {NAN, -100}, {100, 100}, {-3.5f, -3.5f}};
  for (auto &c : cases) {
    float out = 0;
    nnet_Think(lin, &c.in, &out);
    EXPECT_EQ(out, c.want) << c.in;
  }
  nnet_Nuke(nullptr, lin);

  // Large net inputs into softmax stay finite and sum to 1.
  Nnet *sm = randomNet({4, 5}, {0, 2}, 2, 40);
  float in[4] = {3, -2, 4, 1}, out[5];
  nnet_Think(sm, in, out);
  double sum = 0;
  for (float o : out) {
    EXPECT_TRUE(std::isfinite(o));
    sum += o;
  }
  EXPECT_NEAR(sum, 1.0, 1e-6);
  nnet_Nuke(nullptr, sm);

  // With the bias flag set, hidden bias units read 1.0 and every output is
  // computed (none is overwritten).
  Nnet *b = randomNet({2, 3, 2}, {0, 1, 0}, 3);
  b->fnet->bias = 1;
  float x[2] = {0.3f, -0.7f}, y[2];
  nnet_Think(b, x, y);
  EXPECT_EQ(b->fnet->units[1][2], 1.0f);
  for (int k = 0; k < 2; k++) {
    double s = 0;
    for (int a = 0; a < 3; a++) s += (double)b->fnet->units[1][a] * b->fnet->rows[1][k][a];
    EXPECT_NEAR(y[k], s, 1e-5);
  }
  nnet_Nuke(nullptr, b);
}

TEST(DravinThink, ShortNetworksLeaveTheOutputUntouched) {
  NnetSpec *spec = nnet_Default();
  spec->variant = NNET_SHORT;
  {
    Nnet *net = nnet_Alloc(nullptr, spec);
    ASSERT_TRUE(net && net->isShort);
    std::vector<float> in(130, 1), out(48, 7);
    nnet_Think(net, in.data(), out.data());
    for (float o : out) EXPECT_EQ(o, 7);
    Res res;
    const float *rows[1] = {in.data()};
    float *outs[1] = {out.data()};
    EXPECT_EQ(nnet_ThinkRows(res.r, net, 1, rows, outs), 1);
    EXPECT_NE(res.text().find("16-bit"), std::string::npos);
    nnet_Nuke(nullptr, net);
  }
  nnet_FreeSpec(spec);
}

TEST(DravinThink, BatchedPassAgreesWithOneFrameAtATime) {
  struct {
    std::vector<int> sizes, act;
    int bias;
  } nets[] = {
      {{13, 20, 3}, {0, 1, 1}, 0},
      {{130, 200, 48}, {0, 1, 2}, 0},
      {{7, 9, 8, 5}, {0, 1, 0, 2}, 1},
      {{1, 1}, {0, 1}, 0},
  };
  std::mt19937 gen(7);
  std::normal_distribution<float> nd(0, 2);
  for (auto &c : nets) {
    Nnet *net = randomNet(c.sizes, c.act, 11, 0.5f);
    net->fnet->bias = c.bias;
    int nIn = c.sizes[0], nOut = c.sizes.back();
    const int N = 700, cols = nIn + 3;  // wider rows: the extra columns are ignored
    std::vector<float> X((size_t)N * cols);
    for (auto &v : X) v = nd(gen);
    std::vector<const float *> rows(N);
    for (int i = 0; i < N; i++) rows[i] = &X[(size_t)i * cols];
    std::swap(rows[5], rows[300]);  // one irregular block
    std::vector<float> Y((size_t)N * nOut), one(nOut);
    std::vector<float *> outs(N);
    for (int i = 0; i < N; i++) outs[i] = &Y[(size_t)i * nOut];
    Res res;
    ASSERT_EQ(nnet_ThinkRows(res.r, net, N, rows.data(), outs.data()), 0) << res.text();
    for (int i = 0; i < N; i++) {
      nnet_Think(net, rows[i], one.data());
      for (int k = 0; k < nOut; k++) ASSERT_NEAR(outs[i][k], one[k], 2e-5) << i << " " << k;
    }
    nnet_Nuke(nullptr, net);
  }
}

TEST(DravinThink, FastExpIsAccurate) {
  for (float x = -87.0f; x < 88.0f; x += 0.0137f) {
    double want = std::exp((double)x);
    EXPECT_NEAR(nnet_ExpF(x) / want, 1.0, 4e-7) << x;
  }
  EXPECT_LT(nnet_ExpF(-100.0f), 1.2e-38f);
  EXPECT_EQ(nnet_ExpF(0.0f), 1.0f);
}

TEST(DravinPack, RoundTripAndDamagedBytes) {
  Nnet *net = randomNet({6, 4, 2}, {0, 1, 2}, 5);
  net->fnet->bias = 1;
  Res res;
  unsigned char *bytes = nullptr;
  long len = 0;
  ASSERT_EQ(nnet_Pack(res.r, net, &bytes, &len), 0);
  Nnet *back = nnet_Unpack(res.r, bytes, len);
  ASSERT_TRUE(back) << res.text();
  EXPECT_EQ(back->fnet->bias, 1);
  EXPECT_EQ(back->fnet->act[2], NNET_SOFTMAX);
  EXPECT_EQ(0, memcmp(back->fnet->weights, net->fnet->weights, 4 * net->fnet->numWeights));
  nnet_Nuke(nullptr, back);
  for (long cut = 0; cut < len; cut += 3) EXPECT_FALSE(nnet_Unpack(res.r, bytes, cut)) << cut;
  Nnet *copy = nnet_Clone(res.r, net);
  ASSERT_TRUE(copy);
  EXPECT_NE(copy->fnet->weights, net->fnet->weights);
  EXPECT_EQ(copy->fnet->weights[3], net->fnet->weights[3]);
  nnet_Nuke(nullptr, copy);
  nnet_Free(bytes);
  nnet_Nuke(nullptr, net);
}

// Stores a "raw" object of the given bytes under a field of an object file.
void putRawField(const std::string &path, const char *field, const std::string &bytes) {
  Res res;
  CntrFile *f = Cntr_ObjFOpen(res.r, path.c_str(), 1);
  ASSERT_TRUE(f) << res.text();
  auto *raw = (RawBuffer *)DB_MALLOC(sizeof(RawBuffer));
  raw->data = (unsigned char *)DB_MALLOC(bytes.size() + 1);
  memcpy(raw->data, bytes.data(), bytes.size() + 1);
  raw->length = (int32_t)bytes.size();
  const CntrType *rawType = nullptr;
  ASSERT_EQ(Cntr_Get(res.r, "raw", &rawType), 0);
  CntrObj *obj = Cntr_ObjCreate(res.r, rawType, raw);
  EXPECT_EQ(Cntr_ObjFWrite(res.r, f, field, obj), 0) << res.text();
  Cntr_ObjDestroy(nullptr, obj);
  Cntr_ObjFClose(nullptr, f);
}

TEST(DravinObjectFile, SaveAndLoadKeepEveryRepresentationAndTheOtherFields) {
  std::string path = tmpPath("net.cntr");
  unlink(path.c_str());
  putRawField(path, "notes", "kept");
  Nnet *net = randomNet({5, 7, 3}, {0, 1, 2}, 9);
  net->fnet->bias = 1;
  Res res;
  ASSERT_EQ(nnet_Save(res.r, path.c_str(), net), 0) << res.text();
  // Saving again replaces the field rather than adding a second one.
  net->fnet->weights[0] = 0.25f;
  ASSERT_EQ(nnet_Save(res.r, path.c_str(), net), 0) << res.text();
  Nnet *back = nnet_Load(res.r, path.c_str());
  ASSERT_TRUE(back) << res.text();
  ASSERT_TRUE(back->isFloat && back->fnet);
  EXPECT_FALSE(back->dnet || back->snet);
  EXPECT_EQ(back->fnet->numLayers, 3);
  EXPECT_EQ(back->fnet->sizes[0], 6);
  EXPECT_EQ(back->fnet->act[2], NNET_SOFTMAX);
  EXPECT_EQ(back->fnet->bias, 1);
  EXPECT_EQ(back->fnet->weights[0], 0.25f);
  EXPECT_EQ(0, memcmp(back->fnet->weights, net->fnet->weights, 4 * net->fnet->numWeights));
  float in[5] = {0.1f, -0.2f, 0.3f, 0.4f, -0.5f}, a[3], b[3];
  nnet_Think(net, in, a);
  nnet_Think(back, in, b);
  EXPECT_EQ(0, memcmp(a, b, sizeof a));
  CntrFile *f = Cntr_ObjFOpen(res.r, path.c_str(), 0);
  ASSERT_TRUE(f);
  GS_ResetResult(res.r);
  Cntr_ObjFFields(res.r, f);
  EXPECT_EQ(res.text(), "notes __nnet__");
  Cntr_ObjFClose(nullptr, f);
  nnet_Nuke(nullptr, back);
  nnet_Nuke(nullptr, net);
  unlink(path.c_str());
}

TEST(DravinObjectFile, BadFilesAndFieldsAreRefusedWithAMessage) {
  std::string good = tmpPath("good.cntr"), other = tmpPath("other.cntr"), wrong = tmpPath("wrong.cntr");
  for (auto *p : {&good, &other, &wrong}) unlink(p->c_str());
  Nnet *net = randomNet({2, 3, 1}, {0, 1, 1}, 4);
  Res res;
  ASSERT_EQ(nnet_Save(res.r, good.c_str(), net), 0) << res.text();
  std::vector<unsigned char> bytes = readFile(good);
  putRawField(other, "weights", "x");
  putRawField(wrong, "__nnet__", "not a network");
  struct Case {
    std::string name, path, message;
  } cases[] = {
      {"missing file", tmpPath("absent.cntr"), "cannot open"},
      {"no such field", other, "no field \"__nnet__\""},
      {"field of another type", wrong, "holds a \"raw\", not a network"},
  };
  for (const Case &c : cases) {
    Res r;
    EXPECT_FALSE(nnet_Load(r.r, c.path.c_str())) << c.name;
    EXPECT_NE(r.text().find(c.message), std::string::npos) << c.name << ": " << r.text();
  }
  // Every flipped byte and every cut is caught by the file's checks.
  std::string bad = tmpPath("bad.cntr");
  for (size_t i = 0; i < bytes.size(); i += 7) {
    std::vector<unsigned char> b = bytes;
    b[i] ^= 0x40;
    writeFile(bad, b);
    Res r;
    Nnet *n = nnet_Load(r.r, bad.c_str());
    EXPECT_FALSE(n) << "byte " << i;
    EXPECT_FALSE(r.text().empty()) << "byte " << i;
    nnet_Nuke(nullptr, n);
    writeFile(bad, std::vector<unsigned char>(bytes.begin(), bytes.begin() + i));
    EXPECT_FALSE(nnet_Load(r.r, bad.c_str())) << "cut at " << i;
  }
  // A damaged file is not overwritten by a save; a file in a missing folder fails.
  {
    std::vector<unsigned char> b = bytes;
    b[b.size() / 2] ^= 1;
    writeFile(bad, b);
    Res r;
    EXPECT_EQ(nnet_Save(r.r, bad.c_str(), net), 1);
    EXPECT_EQ(readFile(bad), b);
    EXPECT_EQ(nnet_Save(r.r, "/nonexistent/dir/x.cntr", net), 1);
    EXPECT_FALSE(r.text().empty());
  }
  nnet_Nuke(nullptr, net);
  for (auto *p : {&good, &other, &wrong, &bad}) unlink(p->c_str());
}

TEST(NnRand, SeededStreamsRepeatAndStayInRange) {
  NnRand a{}, b{};
  nnrand_Seed(&a, 5);
  nnrand_Seed(&b, 5);
  int lo = NNRAND_MAX, hi = 0;
  double mean = 0;
  for (int i = 0; i < 100000; i++) {
    int x = nnrand_Next(&a);
    ASSERT_EQ(x, nnrand_Next(&b));
    ASSERT_GE(x, 0);
    ASSERT_LE(x, NNRAND_MAX);
    lo = std::min(lo, x);
    hi = std::max(hi, x);
    mean += 2.0 * x / NNRAND_MAX - 1;
  }
  EXPECT_LT(lo, 10);
  EXPECT_GT(hi, NNRAND_MAX - 10);
  EXPECT_NEAR(mean / 100000, 0, 0.01);
  nnrand_Seed(&b, 6);
  int same = 0;
  for (int i = 0; i < 100; i++) same += nnrand_Next(&a) == nnrand_Next(&b);
  EXPECT_LT(same, 5);
}

}  // namespace
