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

#include "rtn.h"

using namespace rtn;
using Clock = std::chrono::steady_clock;

static double Ms(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// Pronounceable made-up words, distinct by construction.
static std::string Word(int i) {
  static const char *syl[] = {"ka", "lo", "mi", "ru", "te", "sa", "no", "vi", "do", "pe"};
  std::string w;
  do {
    w += syl[i % 10];
    i /= 10;
  } while (i);
  return w + "x";
}

static void Put(const std::string &dir, const std::string &name, const std::string &text) {
  std::ofstream(dir + name + ".gra") << text;
}

// Writes the travel grammar: about 450 words over six nets.
static void WriteGrammar(const std::string &dir, std::vector<std::string> &cities,
                         std::vector<std::string> &airlines, int ncities) {
  Put(dir, "travel",
      "[travel]\n(*GREET *WANT [trip_fs] *[when_fs] *[airline_fs] *PLEASE)\n"
      "GREET (hello) (hi there) (good morning)\n"
      "WANT (i want to fly) (i would like to go) (book me a flight) (show me flights)\n"
      "PLEASE (please) (thanks) (thank you)\n");
  Put(dir, "trip_fs", "[trip_fs]\n(*FROM [city_fs] TO [city_fs]) (TO [city_fs])\n"
                      "FROM (from) (leaving from)\nTO (to) (going to) (arriving in)\n");
  std::string c = "[city_fs]\n(CITY)\nCITY";
  for (int i = 0; i < ncities; i++) {
    cities.push_back(i % 8 == 0 ? "new " + Word(i) : Word(i));
    c += " (" + cities.back() + ")";
  }
  Put(dir, "city_fs", c + "\n");
  Put(dir, "when_fs", "[when_fs]\n(*ON [day_fs] *TIME)\nON (on) (next)\n"
                      "TIME (morning) (afternoon) (evening) (at night)\n");
  Put(dir, "day_fs", "[day_fs]\n(monday) (tuesday) (wednesday) (thursday) (friday) "
                     "(saturday) (sunday) (tomorrow) (today)\n");
  std::string a = "[airline_fs]\n(with AIRLINE)\nAIRLINE";
  for (int i = 0; i < 100; i++) {
    airlines.push_back(Word(1000 + i) + " air");
    a += " (" + airlines.back() + ")";
  }
  Put(dir, "airline_fs", a + "\n");
}

static int Run(const Grammar &h, const std::vector<std::string> &cities,
               const std::vector<std::string> &airlines, int parses);

int main(int argc, char **argv) {
  int parses = argc > 1 ? atoi(argv[1]) : 2000;
  std::string res;
  // Compile against load, on the parse grammar and on one with 20,000 cities.
  for (int ncities : {20000, 320}) {
    char tmpl[] = "/tmp/qbenchXXXXXX";
    std::string dir = std::string(mkdtemp(tmpl)) + "/";
    std::vector<std::string> cities, airlines;
    WriteGrammar(dir, cities, airlines, ncities);
    CompileOptions co;
    co.dir = dir;
    co.readStatus = RS_GRA;
    Grammar g;
    const int rounds = ncities > 1000 ? 5 : 200;
    auto t0 = Clock::now();
    for (int k = 0; k < rounds; k++)
      if (RTN_Create(g, "travel", co, res)) {
        fprintf(stderr, "%s", res.c_str());
        return 1;
      }
    double compileMs = Ms(t0) / rounds;
    for (size_t i = 0; i < g.nets.size(); i++) RTN_Write(g, (int)i, dir, res);
    co.readStatus = RS_RTN;
    Grammar h;
    t0 = Clock::now();
    for (int k = 0; k < rounds; k++) RTN_Create(h, "travel", co, res);
    double loadMs = Ms(t0) / rounds;
    if (h.nets.empty() || h.nets[0].fWrite) {
      fprintf(stderr, "compiled files were not loaded\n");
      return 1;
    }
    printf("%zu terminals: compile %.3f ms, load compiled %.3f ms, ratio %.1fx\n", (size_t)h.TermCount(),
           compileMs, loadMs, compileMs / loadMs);
    system(("rm -rf " + dir).c_str());
    if (ncities > 1000) continue;
    Run(h, cities, airlines, parses);
  }
  return 0;
}

static int Run(const Grammar &h, const std::vector<std::string> &cities,
               const std::vector<std::string> &airlines, int parses) {
  std::string res;

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
  ParseOptions o;
  Parser p(h);
  size_t items = 0, found = 0;
  auto t0 = Clock::now();
  for (int k = 0; k < parses; k++) {
    p.Reset();
    for (auto &w : inputs[k % inputs.size()]) p.Word(w, o, res);
    std::vector<std::string> out;
    p.Finished(o, out, res);
    items += p.ItemCount();
    found += !out.empty();
  }
  double parseMs = Ms(t0) / parses;
  printf("grammar: %zu nets, %zu terminals\n", h.nets.size(), (size_t)h.TermCount());
  printf("parse: %.4f ms per 15-word utterance, %.0f parses/s, %.0f path items each, %zu/%d parsed\n",
         parseMs, 1000.0 / parseMs, (double)items / parses, found, parses);
  std::string sample;
  p.Reset();
  for (auto &w : inputs[0]) p.Word(w, o, res);
  std::vector<std::string> out;
  p.Finished(o, out, res);
  if (!out.empty()) printf("sample: %s\n", out[0].c_str());
  return 0;
}
