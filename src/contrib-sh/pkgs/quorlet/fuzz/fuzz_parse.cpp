// libFuzzer target: any bytes as words to parse against a small grammar
// with a sub-net, optional and repeated terms. The first byte picks options.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <sstream>

#include "fuzz_session.h"

static rtn::ParserControl *TheNet() {
  static rtn::ParserControl top;
  static rtn::ParserControl *net = [] {
    fuzz::EnterScratch();
    fuzz::WriteFile("g.gra", "[g]\n(*WANT +[city_fs] *PLEASE) (+AGAIN)\n"
                             "WANT (i want to fly to) (show me flights to)\n"
                             "PLEASE (please)\nAGAIN (a +b) (a c) (*d e)\n");
    fuzz::WriteFile("city_fs.gra", "[city_fs]\n(CITY)\nCITY (boston:BOS) (new york) (denver)\n");
    rtn::RTN_InitPC(&top);
    rtn::ParserControl *n = rtn::RTN_Create(&top, "g", ".gra", rtn::RS_GRA);
    if (!n) __builtin_trap();
    return n;
  }();
  return net;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static bool quiet = freopen("/dev/null", "w", stdout) != nullptr;
  (void)quiet;
  if (size == 0) return 0;
  std::istringstream in(std::string((const char *)data + 1, size - 1));
  std::vector<std::string> words;
  std::string w;
  while (in >> w) words.push_back(w);
  fuzz::Parse(TheNet(), words, data[0]);
  return 0;
}
