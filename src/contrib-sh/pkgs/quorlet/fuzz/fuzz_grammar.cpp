// libFuzzer target: any bytes as a grammar text. Whatever compiles must
// parse, and pack and unpack to the same listing.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "rtn.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static bool quiet = freopen("/dev/null", "w", stdout) != nullptr;
  (void)quiet;
  std::string text((const char *)data, size), name = "g";
  // Take the net name from the header so that valid texts compile.
  size_t close = text.find(']');
  if (!text.empty() && text[0] == '[' && close != std::string::npos && close < 64)
    name = text.substr(1, close - 1);
  rtn::Grammar g;
  std::string res;
  if (rtn::RTN_CompileText(g, name, text, res)) return 0;
  rtn::Parser p(g);
  rtn::ParseOptions o;
  for (int t = 0; t < g.TermCount(); t++) p.Word(g.Upper(t), o, res);
  std::vector<std::string> out;
  p.Finished(o, out, res);
  rtn::Grammar h;
  if (rtn::RTN_Unpack(h, rtn::RTN_Pack(g, g.Subtree(0), true), res) != 0) __builtin_trap();
  if (rtn::RTN_PrintText(h) != rtn::RTN_PrintText(g)) __builtin_trap();
  return 0;
}
