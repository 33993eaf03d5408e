// libFuzzer target: any bytes as a grammar text. Whatever compiles must
// pack and unpack, print, and parse.
#include <cstddef>
#include <cstdint>
#include <cctype>
#include <cstdio>

#include "fuzz_session.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static bool quiet = freopen("/dev/null", "w", stdout) != nullptr;
  (void)quiet;
  fuzz::EnterScratch();
  std::string text((const char *)data, size), name = "g";
  // Take the net name from the header so that valid texts compile.
  size_t close = text.find(']');
  if (!text.empty() && text[0] == '[' && close != std::string::npos && close > 1 && close < 64)
    name = text.substr(1, close - 1);
  // Only names that can be file names are tried.
  for (char c : name)
    if (!isalnum((unsigned char)c) && c != '_' && c != '-') return 0;
  fuzz::WriteFile(name + ".gra", text);
  rtn::ParserControl top;
  rtn::RTN_InitPC(&top);
  rtn::ParserControl *net = rtn::RTN_Create(&top, name.c_str(), ".gra", rtn::RS_GRA);
  if (net) {
    std::vector<std::string> words;
    for (int t = 0; t < net->TerminalTable->count; t++) words.push_back(net->TerminalTable->strings[t]);
    fuzz::Parse(net, words);
    if (rtn::RTN_Print(net, rtn::PRINT_ALL_STRINGS | rtn::PRINT_ORIGINS | rtn::PRINT_CONTEXTS)) __builtin_trap();
    if (rtn::RTN_Write(net, 0)) __builtin_trap();
  }
  rtn::RTN_Free(&top);
  remove((name + ".gra").c_str());
  return 0;
}
