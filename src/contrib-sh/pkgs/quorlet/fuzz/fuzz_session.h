// A compile-and-parse session for the fuzz targets: grammar texts are
// written into a folder of their own, compiled from there, and parsed.
#ifndef QUORLET_FUZZ_SESSION_H
#define QUORLET_FUZZ_SESSION_H

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "gd.h"
#include "ipc.h"
#include "pc.h"
#include "rtn_io.h"

namespace fuzz {

// Enters a private scratch folder once per process.
inline void EnterScratch() {
  static bool done = false;
  if (done) return;
  char tmpl[] = "/tmp/qfuzzXXXXXX";
  if (!mkdtemp(tmpl) || chdir(tmpl) != 0) abort();
  done = true;
}

inline void WriteFile(const std::string &path, const std::string &text) {
  FILE *f = fopen(path.c_str(), "wb");
  if (!f) abort();
  fwrite(text.data(), 1, text.size(), f);
  fclose(f);
}

// Parses the words as one input; the n-best text, or "" when none.
inline std::string Parse(rtn::ParserControl *net, const std::vector<std::string> &words, int options = 0) {
  rtn::InputParserControl *ipc = new rtn::InputParserControl();
  rtn::RTN_ZeroInputParserControl(ipc);
  ipc->probbeam = 1;
  std::string text;
  if (rtn::RTN_InitParse(net, ipc) == 0) {
    ipc->nbest = (int8_t)(options & 3), ipc->prune = 2, ipc->upper = (int8_t)!((options >> 2) & 1);
    ipc->transcript = (int8_t)((options >> 3) & 1), ipc->tail = (int8_t)((options >> 4) & 1);
    ipc->lookback = (options >> 5) & 1 ? 1 : -1, ipc->framewindow = (options >> 6) & 1 ? 3 : 255;
    ipc->prettyprint = (int8_t)((options >> 7) & 1), ipc->maxfi = 1, ipc->tcl = 1;
    int32_t index = 0, labels = 1;
    const char *none[1] = {""};
    bool ok = rtn::RTN_GetPossibilities(net, &index, &labels, none, nullptr, ipc) == 0;
    for (size_t i = 0; ok && i < words.size(); i++) {
      index++;
      const char *label[1] = {words[i].c_str()};
      ok = rtn::RTN_GetPossibilities(net, &index, &labels, label, nullptr, ipc) == 0;
    }
    if (ok) {
      index++;
      const char *end[1] = {"cq"};
      rtn::RTN_GetPossibilities(net, &index, &labels, end, nullptr, ipc);
      if (rtn::RTN_PrintFinished(net, ipc, 1) == 0) text = net->pres;
    }
  }
  rtn::RTN_FreeInputParserControl(ipc, net);
  delete ipc;
  return text;
}

}  // namespace fuzz

#endif
