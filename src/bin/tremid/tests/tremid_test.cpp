// One tremid update on one example equals a gradient step w - lr * dL/dw,
// with L = sum_k c_k * BCE(out_k, t_k), checked against finite differences.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "dravin.h"

namespace {

const float kInput[3] = {0.5f, -1.25f, 2.0f};
const int kSlots[2] = {1, -1};
const float kTargets[2] = {0.8f, 0.0f};

// Loss of the network given by its float weights, evaluated in double.
double loss(const FNnetRep *rep, const std::vector<double> &w) {
  std::vector<double> units(kInput, kInput + 3);
  units.push_back(1.0);
  size_t at = 0;
  for (int j = 0; j < rep->numLayers - 1; j++) {
    std::vector<double> next;
    for (int b = 0; b < rep->sizes[j + 1]; b++) {
      double x = 0;
      for (double u : units) x += u * w[at++];
      next.push_back(1 / (1 + std::exp(-x)));
    }
    units = next;
  }
  double L = 0;
  for (int k = 0; k < (int)units.size(); k++) {
    double t = k == kSlots[0] ? kTargets[0] : 0.0;
    L += -t * std::log(units[k]) - (1 - t) * std::log(1 - units[k]);
  }
  return L;
}

TEST(Tremid, OneUpdateIsAGradientStep) {
  std::string dir = "/tmp/tremid_test_" + std::to_string(getpid());
  std::string file = dir + ".mvec", base = dir + "_net";
  FILE *f = fopen(file.c_str(), "wb");
  ASSERT_TRUE(f);
  int32_t head[2] = {1, 2};
  fwrite(head, 4, 2, f);
  fwrite(kSlots, 4, 2, f);
  fwrite(kTargets, 4, 2, f);
  fwrite(kInput, 4, 3, f);
  fclose(f);
  const double rate = 0.7;
  std::string cmd = std::string(getenv("TOVIK_BUILD")) + "/bin/tremid -a 3 3 4 2 -r 0.7 -t 1e12 -sn 5 -sv 5 -f " +
                    base + " 1 " + file + " > /dev/null";
  ASSERT_EQ(system(cmd.c_str()), 0);
  GS_Result *r = GS_CreateResult();
  Nnet *before = nnet_OptLoad(r, (base + ".0").c_str());
  Nnet *after = nnet_OptLoad(r, (base + ".1").c_str());
  ASSERT_TRUE(before && after);
  const FNnetRep *rep = before->fnet;
  std::vector<double> w(rep->weights, rep->weights + rep->numWeights);
  for (int i = 0; i < rep->numWeights; i++) {
    const double h = 1e-5;
    std::vector<double> wp = w, wm = w;
    wp[i] += h;
    wm[i] -= h;
    double g = (loss(rep, wp) - loss(rep, wm)) / (2 * h);
    EXPECT_NEAR(after->fnet->weights[i], w[i] - rate * g, 2e-6 + 1e-6 * std::fabs(w[i])) << "weight " << i;
  }
  nnet_Nuke(nullptr, before);
  nnet_Nuke(nullptr, after);
  GS_DeleteResult(r);
  unlink(file.c_str());
  unlink((base + ".0").c_str());
  unlink((base + ".1").c_str());
}

}  // namespace
