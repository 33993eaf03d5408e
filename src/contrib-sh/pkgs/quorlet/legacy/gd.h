// Grammar definition files: the lexer's rewrite tables and the sequencing
// parser. Internal to the robust parser.
#ifndef QUORLET_GD_H
#define QUORLET_GD_H

#include <string>
#include <vector>

namespace rtn {

enum TermKind { TK_NONE = 0, TK_NET = 2, TK_RULE = 6, TK_TERMINAL = 10 };

struct RhsTerm {
  int plus = 0;  // 1 with a '+' mark
  int star = 0;  // 2 with a '*' mark
  int kind = TK_NONE;
  std::string name;  // net references keep their brackets: "[city_fs]"
};

struct Rhs {
  std::vector<RhsTerm> terms;
};

struct RewriteSide {
  std::string lhs;  // rule name; for rule 0 the net header "[name]"
  int line = 0;
  std::vector<Rhs> rhs;
};

// The lexer's state over one grammar text.
struct GDLex {
  std::string buf;  // the whole text, CR LF already turned into LF
  size_t index = 0;
  int line = 1;
  std::string netName;              // "[name]", empty until a header is read
  std::vector<RewriteSide> rules;   // rule 0 is the net itself
  std::string err;                  // a lexical failure ends the text with this
  std::string *res = nullptr;
};

enum { TOK_END = 0, TOK_NET = 258, TOK_RULE = 259 };

int GD_lex(GDLex &lx);

// Callbacks of the two reductions; each returns 0 or 1 (text in res).
struct GDActions {
  virtual ~GDActions() {}
  virtual int InitNet(GDLex &lx) = 0;
  virtual int RewritePattern(GDLex &lx, int rule) = 0;
};

// 0 accepted, 1 syntax error or failed reduction (text appended to res).
int GD_parse(GDLex &lx, GDActions &act, std::string &res);

}  // namespace rtn

#endif
