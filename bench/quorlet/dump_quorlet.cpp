// Writes everything the parse shows for many generated inputs over the
// fixture grammars and the benchmark's travel grammar: the n-best texts,
// the step texts (warnings, failures), the channel text (traces, growth
// lines, dots) and the local hash table's statistics and walk. Two builds
// that parse alike write the same file, so a change meant only to make the
// parse faster is checked with `cmp`. With `load`, every grammar is
// compiled, written and parsed as loaded back from its compiled files.
//
//   dump_quorlet FIXTURE_DIR OUT_FILE [inputs per grammar and option set] [load]
#include <unistd.h>

#include <algorithm>
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

static std::string g_channel;

struct Options {
  const char *name;
  int8_t prune, lookback, nbest, maxfi, upper, score, input, transcript, canonical, prettyprint, hide, tail,
      showoog, prolog, debug, printallocs, dots, beam, predictionbeam;
  uint16_t framewindow;
  int probbeam;
  int every;  // used for every n-th input only
};

static const Options kOptions[] = {
    // name          pr lb nb mf up sc in tr ca pp hi ta so pl db pa do be pb  fw  probbeam every
    {"default",      2, -1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 255, 1, 1},
    {"nbest-score",  1, -1, 5, 0, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 255, 1, 1},
    {"noprune",      0, 0, 3, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 255, 1, 2},
    {"window",       2, 1, 2, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 4, 1, 1},
    {"lookback2",    2, 2, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 6, 1, 1},
    {"forms",        2, -1, 3, 1, 1, 0, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 255, 1, 2},
    {"pretty-tail",  2, -1, 3, 1, 1, 1, 0, 0, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 255, 1, 2},
    {"showoog",      2, -1, 3, 0, 1, 1, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0, 255, 1, 2},
    {"trace",        2, -1, 2, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 0, 255, 1, 8},
    {"trace2",       3, -1, 2, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 255, 1, 8},
    {"trace4",       2, -1, 2, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 4, 0, 0, 0, 0, 255, 1, 8},
    {"beam2",        2, -1, 2, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 255, 2, 2},
};

static unsigned long long Fnv(const std::string &s, unsigned long long h = 1469598103934665603ull) {
  for (unsigned char c : s) h = (h ^ c) * 1099511628211ull;
  return h;
}

static void Apply(InputParserControl &ipc, const Options &o) {
  ipc.prune = o.prune, ipc.lookback = o.lookback, ipc.nbest = o.nbest, ipc.maxfi = o.maxfi, ipc.upper = o.upper;
  ipc.score = o.score, ipc.input = o.input, ipc.transcript = o.transcript, ipc.canonical = o.canonical;
  ipc.prettyprint = o.prettyprint, ipc.hide = o.hide, ipc.tail = o.tail, ipc.showoog = o.showoog;
  ipc.prolog = o.prolog, ipc.debug = o.debug, ipc.printallocs = o.printallocs, ipc.dots = o.dots;
  ipc.beam = o.beam, ipc.predictionbeam = o.predictionbeam, ipc.framewindow = o.framewindow;
  ipc.tcl = 1;
}

// One input; every label slot after the first holds a random other word.
static std::string Parse(ParserControl *net, InputParserControl &ipc, const std::vector<std::string> &words,
                         const std::vector<std::string> &vocab, std::mt19937 &rng, bool tclOut) {
  std::string out;
  g_channel.clear();
  RTN_ResetParserControls(&ipc, net);
  int32_t index = 0;
  size_t next = 0;
  std::string word;
  for (int guard = 0; guard < 400; guard++) {
    if (ipc.fFinished) {
      if (word == "cq") break;
      ipc.fFinished = 0;
    }
    std::vector<std::string> labels{word};
    for (int k = 1; k < ipc.probbeam; k++) labels.push_back(word == "cq" ? "cq" : vocab[rng() % vocab.size()]);
    std::vector<const char *> p;
    for (auto &l : labels) p.push_back(l.c_str());
    int32_t count = (int32_t)p.size();
    int rc = RTN_GetPossibilities(net, &index, &count, p.data(), nullptr, &ipc);
    out += "step " + std::to_string(index) + " rc " + std::to_string(rc) + " ic " + std::to_string(ipc.inputCount) +
           " fin " + std::to_string(ipc.fFinished) + "\n";
    if (rc) {
      out += "FAIL " + net->pres + "\n";
      return out;
    }
    word = next < words.size() ? words[next++] : "cq";
    index++;
  }
  out += "steps-pres " + net->pres + "\n";
  int rc = RTN_PrintFinished(net, &ipc, tclOut ? 1 : 0);
  out += "print rc " + std::to_string(rc) + "\n" + net->pres + "\n";
  out += "channel " + g_channel + "\n";
  for (int p = 0; p <= ipc.inputCount && p < CURRENTPATHARRAY_SIZE; p++) {
    auto e = RTN_Expectations(net, &ipc, p);
    out += "expect " + std::to_string(p) + ":";
    for (auto &x : e) out += " " + x;
    out += "\n";
  }
  out += "counts ptoa " + std::to_string(ipc.ptoa.count) + " terminal " + std::to_string(ipc.terminal.count) +
         " ppn " + std::to_string(ipc.ppn.count) + " pstn " + std::to_string(ipc.pstn.count) + " pon " +
         std::to_string(ipc.pon.count) + " ponl " + std::to_string(ipc.ponl.count) + " active " +
         std::to_string(ipc.activePath.count) + "\n";
  out += GDH_HashStats(*net->plht) + "\n";
  std::string walk;
  HashWalk w;
  for (GDH_HashEntry *e = GDH_FirstHashEntry(*net->plht, w); e; e = GDH_NextHashEntry(w))
    walk += std::string(e->key) + "=" + std::to_string((long long)(e->value)) + ";";
  char buf[64];
  snprintf(buf, sizeof buf, "walk %016llx\n", Fnv(walk));
  return out + buf;
}

static std::vector<std::string> Vocabulary(ParserControl *net) {
  std::vector<std::string> v;
  for (int t = 0; t < net->TerminalTable->count; t++) {
    const std::string &n = net->TerminalTable->strings[t];
    size_t c = n.find(':');
    if (c == std::string::npos) v.push_back(n);
    else {
      v.push_back(n.substr(0, c));
      v.push_back(n.substr(c + 1));
    }
  }
  for (const char *f : {"um", "er", "zzz", "the"}) v.push_back(f);
  return v;
}

static std::vector<std::string> Split(const std::string &s) {
  std::istringstream in(s);
  std::vector<std::string> w;
  for (std::string x; in >> x;) w.push_back(x);
  return w;
}

int main(int argc, char **argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: dump_quorlet FIXTURE_DIR OUT_FILE [inputs] [load]\n");
    return 2;
  }
  std::string fixtures = argv[1];
  FILE *out = fopen(argv[2], "w");
  if (!out) return 1;
  int perSet = argc > 3 ? atoi(argv[3]) : 60;
  const bool load = argc > 4 && std::string(argv[4]) == "load";
  RTN_SetChannelWriter([](void *, const char *t) { g_channel += t; });
  char home[4096];
  if (!getcwd(home, sizeof home)) return 1;
  struct G {
    const char *fixture, *top;
  } grammars[] = {{"flights", "flights"}, {"greet", "greet"},   {"oog", "ask"},     {"repair", "order"},
                  {"resume", "resume"},   {"window", "window"}, {nullptr, "travel"}};
  for (const G &g : grammars) {
    char tmpl[] = "/tmp/qdumpXXXXXX";
    std::string dir = std::string(mkdtemp(tmpl)) + "/";
    std::vector<std::vector<std::string>> seeds;
    if (g.fixture) {
      if (system(("cp " + fixtures + "/" + g.fixture + "/*.gra " + dir).c_str())) return 1;
      std::ifstream f(fixtures + "/" + g.fixture + "/expected.txt");
      for (std::string line; std::getline(f, line);)
        if (!line.empty() && line[0] != '#') seeds.push_back(Split(line.substr(0, line.find('|'))));
    } else {
      std::vector<std::string> cities, airlines;
      WriteTravelGrammar(dir, cities, airlines, 40, 10);
      seeds.push_back(Split("hello i want to fly from new kax to lox on friday morning with kakakalox air please"));
      seeds.push_back(Split("show me flights going to mix next tuesday at night thanks"));
    }
    if (chdir(dir.c_str())) return 1;
    ParserControl top;
    RTN_InitPC(&top);
    top.fRebuild = 1;
    ParserControl *net = RTN_Create(&top, g.top, ".gra", RS_GRA);
    if (net && load) {
      // Written as `rp uninit` writes, then read back as `rp init` reads.
      for (int i = 0; i < std::max(net->InternalNet->count, 1); i++)
        if (net->InternalNet->fWrite[i] && RTN_Write(net, i)) return 1;
      if (net != &top) {
        RTN_Free(net);
        delete net;
      }
      RTN_Free(&top);
      top = ParserControl();
      RTN_InitPC(&top);
      top.fRebuild = 1;
      net = RTN_Create(&top, g.top, ".gra", RS_RTN);
      if (net == &top) fprintf(out, "grammar %s: compiled again, not loaded\n", g.top);
    }
    if (!net) {
      fprintf(out, "grammar %s: no net\n%s\n", g.top, top.pres.c_str());
      continue;
    }
    std::vector<std::string> vocab = Vocabulary(net);
    std::mt19937 rng(7);
    for (const Options &o : kOptions) {
      InputParserControl *ipc = new InputParserControl();
      RTN_ZeroInputParserControl(ipc);
      ipc->probbeam = 1;
      if (RTN_InitParse(net, ipc)) return 1;
      if (o.probbeam > 1 && RTN_ResetProbBeam(net, ipc, (int8_t)o.probbeam)) return 1;
      Apply(*ipc, o);
      for (int k = 0; k < perSet; k += o.every) {
        // Seeds as they are, mutated seeds, and random word strings.
        std::vector<std::string> w;
        int kind = k % 3;
        if (kind == 0 || seeds.empty()) {
          int n = 1 + rng() % 16;
          for (int i = 0; i < n; i++) w.push_back(vocab[rng() % vocab.size()]);
        } else {
          w = seeds[rng() % seeds.size()];
          if (kind == 2) {
            int edits = 1 + rng() % 4;
            for (int e = 0; e < edits; e++) {
              int op = rng() % 3;
              size_t at = w.empty() ? 0 : rng() % w.size();
              if (op == 0 || w.empty()) w.insert(w.begin() + at, vocab[rng() % vocab.size()]);
              else if (op == 1) w.erase(w.begin() + at);
              else std::swap(w[at], w[rng() % w.size()]);
            }
          }
        }
        std::string in;
        for (auto &x : w) in += x + " ";
        std::string r = Parse(net, *ipc, w, vocab, rng, k % 5 != 4);
        fprintf(out, "=== %s %s [%s]\n%s", g.top, o.name, in.c_str(), r.c_str());
      }
      RTN_FreeInputParserControl(ipc, net);
      delete ipc;
    }
    if (net != &top) {
      RTN_Free(net);
      delete net;
    }
    RTN_Free(&top);
    if (chdir(home)) return 1;
    if (system(("rm -rf " + dir).c_str())) return 1;
  }
  fclose(out);
  return 0;
}
