// Sequences the tokens of a grammar definition text:
//   definitions -> NET | rule | definitions rule ;  rule -> RULE
// Each reduction runs before the lexer is called again, because a rule's
// index is read from the table at reduction time and the next token would
// append the following rule first.
#include <cstdio>
#include <cstring>

#include "gd.h"
#include "trailer.h"

namespace rtn {

void GD_error(const char *message) { printf("Error: %s", message); }

void GD_StackCopy(void *to, const void *from, size_t count) {
  if (count) memmove(to, from, count);
}

int GD_parse(ParserControl *pc) {
  bool haveDefinitions = false;
  for (;;) {
    Rewrite *rewrite = nullptr;
    int tok = GD_lex(&rewrite, pc);
    if (GD_LexFailed()) return 1;  // the lexer's text is in pres
    if (tok == TOK_END) {
      if (haveDefinitions) return 0;
      GD_error("parse error");
      pc->pres += "parse error: the text holds no net header or rule in GD_parse: " + RTN_TRAILER;
      return 1;
    }
    if (tok == TOK_NET && !haveDefinitions) {
      haveDefinitions = true;
      if (GDPC_InitNet(pc, rewrite)) {
        if (pc->depth == 0) fputs(pc->pres.c_str(), stderr);
        return 1;
      }
      continue;
    }
    if (tok == TOK_RULE) {
      haveDefinitions = true;
      int r = rewrite->rhb.count - 1;
      int a = rewrite->rhb[r].rhs.count - 1;
      if (GDPC_RewritePattern(pc, r, a, rewrite)) return 1;
      continue;
    }
    GD_error("parse error");
    pc->pres += "parse error at line(" + std::to_string(pc->line) + ") of net(" +
                (rewrite ? rewrite->netName : std::string()) + ") in GD_parse: " + RTN_TRAILER;
    return 1;
  }
}

}  // namespace rtn
