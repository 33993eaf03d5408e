// Robust parser throughput: parses per second of 15-word utterances on a
// grammar of a few hundred words, and the time to load compiled nets
// against compiling the grammar files.
//
//   bench_quorlet [parses]     (prints one line per measure; aims: a parse
//                               under 1 ms, loading ten times faster, also
//                               on a grammar of 100,000 rules; under 100
//                               parses, a smoke run on smaller grammars)
#include <unistd.h>

#include <cctype>
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
  bool Load(const char *name, int status) {
    Release();
    RTN_InitPC(&top);
    top.fRebuild = 1;
    net = RTN_Create(&top, name, ".gra", status);
    if (!net) fprintf(stderr, "%s", top.pres.c_str());
    return net != nullptr;
  }
};

// A grammar of `nrules` rules over four item nets (a net numbers its
// rules in 16 bits): the top net greets and names an item; an item net's
// rule has fifty groups of rules (a rule holds at most 65,535
// alternatives), and each rule one or two words of a vocabulary of 5,000
// (so that no arc outgrows its 65,535 terminals).
static void WriteManyRules(const std::string &dir, int nrules) {
  const int nets = 4, groups = 50;
  auto ruleName = [](const char *prefix, int i) {
    std::string name = prefix + Word(i);
    for (char &c : name) c = (char)toupper((unsigned char)c);
    return name;
  };
  std::string top = "[many]\n(HELLO ITEM PLEASE)\nHELLO (hello) (good morning)\nPLEASE (please)\nITEM";
  for (int k = 0; k < nets; k++) top += " ([item" + std::to_string(k) + "_fs])";
  Put(dir, "many", top + "\n");
  for (int k = 0; k < nets; k++) {
    std::string net = "item" + std::to_string(k) + "_fs";
    std::string text = "[" + net + "]\n(ITEM)\nITEM";
    for (int g = 0; g < groups; g++) text += " (" + ruleName("g", g) + ")";
    text += "\n";
    // Rule i belongs to net i % nets and, there, to group (i / nets) % groups.
    for (int g = 0; g < groups; g++) {
      text += ruleName("g", g);
      for (int i = k + nets * g; i < nrules; i += nets * groups) text += " (" + ruleName("r", i) + ")";
      text += "\n";
    }
    for (int g = 0; g < groups; g++)
      for (int i = k + nets * g; i < nrules; i += nets * groups)
        text += ruleName("r", i) + " (" + Word(i % 5000) + ")" + (i % 3 ? "" : " (" + Word(i % 4999) + ")") + "\n";
    Put(dir, net, text);
  }
}

static int Run(ParserControl *net, const std::vector<std::string> &cities, const std::vector<std::string> &airlines,
               int parses);
static void WriteManyRules(const std::string &dir, int nrules);

int main(int argc, char **argv) {
  int parses = argc > 1 ? atoi(argv[1]) : 2000;
  // The n-best texts are collected, not printed.
  RTN_SetChannelWriter([](void *, const char *) {});
  char home[4096];
  if (!getcwd(home, sizeof home)) return 1;
  // Compile against load: on the parse grammar, on one with 20,000 cities
  // and on one of 100,000 rules.
  struct Grammar {
    const char *top;
    int size;
  } grammars[] = {{"travel", 20000}, {"travel", 320}, {"many", 100000}};
  // A smoke run (a few parses) keeps the large grammars small.
  const bool smoke = parses < 100;
  for (Grammar gr : grammars) {
    if (smoke && gr.size > 1000) gr.size /= 20;
    char tmpl[] = "/tmp/qbenchXXXXXX";
    std::string dir = std::string(mkdtemp(tmpl)) + "/";
    std::vector<std::string> cities, airlines;
    const bool travel = std::string(gr.top) == "travel";
    if (travel) WriteTravelGrammar(dir, cities, airlines, gr.size, 100);
    else WriteManyRules(dir, gr.size);
    // Nets are found, and compiled files written, in the current folder.
    if (chdir(dir.c_str()) != 0) return 1;
    const int rounds = gr.size > 1000 ? 2 : 20;
    Loaded g;
    auto t0 = Clock::now();
    for (int k = 0; k < rounds; k++)
      if (!g.Load(gr.top, RS_GRA)) return 1;
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
      if (!h.Load(gr.top, RS_RTN)) return 1;
    double loadMs = Ms(t0) / rounds;
    if (h.net == &h.top) {
      fprintf(stderr, "compiled files were not loaded\n");
      return 1;
    }
    if (travel)
      printf("%d terminals: ", h.net->TerminalTable->count);
    else
      printf("%d rules, %d terminals: ", gr.size, h.net->TerminalTable->count);
    printf("compile %.3f ms, load compiled %.3f ms, ratio %.1fx\n", compileMs, loadMs, compileMs / loadMs);
    if (travel && gr.size <= 1000 && Run(h.net, cities, airlines, parses)) return 1;
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
