// libFuzzer target: any bytes as a compiled network. Refused or accepted,
// never read out of bounds; an accepted one parses.
#include <cstddef>
#include <cstdint>

#include "rtn.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  rtn::Grammar g;
  std::string res;
  std::vector<std::string> missing;
  int i = rtn::RTN_Unpack(g, std::string((const char *)data, size), res, &missing);
  if (i != 0 || !missing.empty()) return 0;
  rtn::Parser p(g);
  rtn::ParseOptions o;
  for (int t = 0; t < g.TermCount(); t++) p.Word(g.Upper(t), o, res);
  std::vector<std::string> out;
  p.Finished(o, out, res);
  return 0;
}
