// Sequences the tokens of a grammar definition text:
//   definitions -> NET | rule | definitions rule ;  rule -> RULE
// Each reduction runs before the lexer is called again, because a rule's
// index is read from the table at reduction time and the next token would
// append the following rule first.
#include <cstdio>

#include "gd.h"
#include "trailer.h"

namespace rtn {

static void GD_error(const char *message) { printf("Error: %s", message); }

int GD_parse(GDLex &lx, GDActions &act, std::string &res) {
  bool haveDefinitions = false;
  for (;;) {
    int tok = GD_lex(lx);
    if (!lx.err.empty()) {
      res += lx.err;
      return 1;
    }
    if (tok == TOK_END) {
      if (haveDefinitions) return 0;
      GD_error("parse error");
      res += "parse error: the text holds no net header or rule: " + RTN_TRAILER;
      return 1;
    }
    if (tok == TOK_NET && !haveDefinitions) {
      haveDefinitions = true;
      if (act.InitNet(lx)) return 1;
      continue;
    }
    if (tok == TOK_RULE) {
      haveDefinitions = true;
      if (act.RewritePattern(lx, (int)lx.rules.size() - 1)) return 1;
      continue;
    }
    GD_error("parse error");
    res += "parse error at line(" + std::to_string(lx.line) + "): " + RTN_TRAILER;
    return 1;
  }
}

}  // namespace rtn
