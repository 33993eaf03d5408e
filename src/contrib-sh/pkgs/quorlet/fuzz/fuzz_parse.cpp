// libFuzzer target: any bytes as words to parse against a small grammar
// with nested nets, optional and repeated terms. The first byte picks options.
#include <cstddef>
#include <cstdint>
#include <sstream>

#include "rtn.h"

static const rtn::Grammar &TheGrammar() {
  static rtn::Grammar g = [] {
    // One file cannot reference other files, so the sub-nets are folded in
    // as rules; the test grammar still exercises loops and optional paths.
    rtn::Grammar x;
    std::string res;
    rtn::RTN_CompileText(x, "g",
                         "[g]\n(*WANT +CITY *PLEASE) (+AGAIN)\n"
                         "WANT (i want to fly to) (show me flights to)\n"
                         "CITY (boston:BOS) (new york) (denver)\n"
                         "PLEASE (please)\nAGAIN (a +b) (a c) (*d e)\n",
                         res);
    if (x.nets.empty()) __builtin_trap();
    return x;
  }();
  return g;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  rtn::ParseOptions o;
  o.nbest = data[0] & 3;
  o.upper = (data[0] >> 2) & 1;
  o.transcript = (data[0] >> 3) & 1;
  o.tail = (data[0] >> 4) & 1;
  o.lookback = (data[0] >> 5) & 1 ? 1 : -1;
  o.framewindow = (data[0] >> 6) & 1 ? 3 : 255;
  o.prettyprint = data[0] >> 7;
  std::istringstream in(std::string((const char *)data + 1, size - 1));
  rtn::Parser p(TheGrammar());
  std::string w, res;
  while (in >> w)
    if (p.Word(w, o, res)) break;
  std::vector<std::string> out;
  p.Finished(o, out, res);
  return 0;
}
