// Robust parser throughput: parses per second of 15-word utterances on a
// grammar of a few hundred words, and the time to load compiled nets
// against compiling the grammar files.
//
//   bench_quorlet [parses]     (prints one line per measure; aims: a parse
//                               under 1 ms, loading ten times faster)
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "gd.h"
#include "ipc.h"
#include "pc.h"
#include "rtn_io.h"
#include "travel_grammar.h"

using namespace rtn;
using Clock = std::chrono::steady_clock;

static double Ms(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}


// A compiled or loaded grammar: the record prepared for it and the net
// that the driver answered.
struct Loaded {
  ParserControl top;
  ParserControl *net = nullptr;
  ~Loaded() { Release(); }
  void Release() {
    if (net && net != &top) {
      RTN_Free(net);
      delete net;
    }
    RTN_Free(&top);
    top = ParserControl();
    net = nullptr;
  }
  bool Load(int status) {
    Release();
    RTN_InitPC(&top);
    top.fRebuild = 1;
    net = RTN_Create(&top, "travel", ".gra", status);
    if (!net) fprintf(stderr, "%s", top.pres.c_str());
    return net != nullptr;
  }
};

static int Run(ParserControl *net, const std::vector<std::string> &cities, const std::vector<std::string> &airlines,
               int parses);

int main(int argc, char **argv) {
  int parses = argc > 1 ? atoi(argv[1]) : 2000;
  // The n-best texts are collected, not printed.
  RTN_SetChannelWriter([](void *, const char *) {});
  char home[4096];
  if (!getcwd(home, sizeof home)) return 1;
  // Compile against load, on the parse grammar and on one with 20,000 cities.
  for (int ncities : {20000, 320}) {
    char tmpl[] = "/tmp/qbenchXXXXXX";
    std::string dir = std::string(mkdtemp(tmpl)) + "/";
    std::vector<std::string> cities, airlines;
    WriteTravelGrammar(dir, cities, airlines, ncities, 100);
    // Nets are found, and compiled files written, in the current folder.
    if (chdir(dir.c_str()) != 0) return 1;
    const int rounds = ncities > 1000 ? 2 : 20;
    Loaded g;
    auto t0 = Clock::now();
    for (int k = 0; k < rounds; k++)
      if (!g.Load(RS_GRA)) return 1;
    double compileMs = Ms(t0) / rounds;
    InternalNet *inet = g.net->InternalNet;
    for (int i = 0; i < std::max(inet->count, 1); i++)
      if (inet->fWrite[i] && RTN_Write(g.net, i)) {
        fprintf(stderr, "%s", g.net->pres.c_str());
        return 1;
      }
    g.Release();
    Loaded h;
    t0 = Clock::now();
    for (int k = 0; k < rounds; k++)
      if (!h.Load(RS_RTN)) return 1;
    double loadMs = Ms(t0) / rounds;
    if (h.net == &h.top) {
      fprintf(stderr, "compiled files were not loaded\n");
      return 1;
    }
    printf("%d terminals: compile %.3f ms, load compiled %.3f ms, ratio %.1fx\n", h.net->TerminalTable->count,
           compileMs, loadMs, compileMs / loadMs);
    if (ncities <= 1000 && Run(h.net, cities, airlines, parses)) return 1;
    h.Release();
    if (chdir(home) != 0) return 1;
    system(("rm -rf " + dir).c_str());
  }
  return 0;
}

// One input: the set-up step, the words, the end; the n-best text.
static std::string ParseOne(ParserControl *net, InputParserControl *ipc, const std::vector<std::string> &words) {
  RTN_ResetParserControls(ipc, net);
  int32_t index = 0, labels = 1;
  const char *none[1] = {""};
  RTN_GetPossibilities(net, &index, &labels, none, nullptr, ipc);
  for (auto &w : words) {
    index++;
    const char *label[1] = {w.c_str()};
    if (RTN_GetPossibilities(net, &index, &labels, label, nullptr, ipc)) return "";
  }
  index++;
  const char *end[1] = {"cq"};
  RTN_GetPossibilities(net, &index, &labels, end, nullptr, ipc);
  if (RTN_PrintFinished(net, ipc, 1)) return "";
  return net->pres;
}

static int Run(ParserControl *net, const std::vector<std::string> &cities, const std::vector<std::string> &airlines,
               int parses) {
  // 15-word utterances: in-grammar words with fillers the grammar lacks.
  std::mt19937 rng(1);
  std::vector<std::vector<std::string>> inputs;
  for (int k = 0; k < 64; k++) {
    std::string s = "hello i want to fly from " + cities[rng() % cities.size()] + " um to " +
                    cities[rng() % cities.size()] + " on friday morning with " +
                    airlines[rng() % airlines.size()] + " please";
    std::istringstream in(s);
    std::vector<std::string> w;
    std::string x;
    while (in >> x && w.size() < 15) w.push_back(x);
    while (w.size() < 15) w.push_back("er");
    inputs.push_back(w);
  }
  InputParserControl *ipc = new InputParserControl();
  RTN_ZeroInputParserControl(ipc);
  ipc->probbeam = 1;
  if (RTN_InitParse(net, ipc)) {
    fprintf(stderr, "%s", net->pres.c_str());
    return 1;
  }
  ipc->nbest = 1, ipc->prune = 2, ipc->upper = 1, ipc->lookback = -1, ipc->framewindow = 255, ipc->maxfi = 1;
  ipc->tcl = 1;
  size_t found = 0;
  auto t0 = Clock::now();
  for (int k = 0; k < parses; k++) found += !ParseOne(net, ipc, inputs[k % inputs.size()]).empty();
  double parseMs = Ms(t0) / parses;
  printf("grammar: %d nets, %d terminals\n", net->NetTable->count, net->TerminalTable->count);
  printf("parse: %.4f ms per 15-word utterance, %.0f parses/s, %zu/%d parsed\n", parseMs, 1000.0 / parseMs, found,
         parses);
  std::string sample = ParseOne(net, ipc, inputs[0]);
  if (!sample.empty()) printf("sample: %s\n", sample.c_str());
  RTN_FreeInputParserControl(ipc, net);
  delete ipc;
  return 0;
}
