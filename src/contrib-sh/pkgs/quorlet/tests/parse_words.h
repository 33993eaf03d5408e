// The word loop of the tests: one parse of a text over a prepared parse state.
#ifndef QUORLET_TESTS_PARSE_WORDS_H
#define QUORLET_TESTS_PARSE_WORDS_H

#include <sstream>
#include <string>
#include <vector>

#include "ipc.h"

// Clears the parse state, feeds the set-up step, every word of `input` and
// "cq", and answers the n-best text (tcl flag), or "ERROR: " and the failure
// text. `stepText`, when given, receives what the steps left in the result.
inline std::string ParseWords(rtn::ParserControl *pc, rtn::InputParserControl *ipc,
                              const std::string &input, std::string *stepText = nullptr) {
  rtn::RTN_ResetParserControls(ipc, pc);
  std::istringstream in(input);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  int32_t index = 0, count = 1;
  std::string word;
  size_t next = 0;
  for (;;) {
    if (ipc->fFinished) {
      if (word == "cq") break;
      ipc->fFinished = 0;
    }
    const char *labels[1] = {word.c_str()};
    if (rtn::RTN_GetPossibilities(pc, &index, &count, labels, nullptr, ipc)) return "ERROR: " + pc->pres;
    word = next < words.size() ? words[next++] : "cq";
    index++;
  }
  if (stepText) *stepText = pc->pres;
  if (rtn::RTN_PrintFinished(pc, ipc, 1)) return "ERROR: " + pc->pres;
  return pc->pres;
}

#endif
