// Cuts a grammar definition text into net headers and complete rules.
//
// The format is strict on purpose: a header must stand at the very first
// byte, a rule is an upper-case name followed by alternatives in
// parentheses, and at most one comment may stand where a token starts, with
// the token directly after it.
#include "gd.h"
#include "trailer.h"

namespace rtn {

static bool IsWhite(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
static bool IsSep(int c) { return c == ' ' || c == '\t' || c == '\n'; }
static bool IsBlank(int c) { return c == ' ' || c == '\t'; }
static bool IsUpper(int c) { return c >= 'A' && c <= 'Z'; }
static bool IsLower(int c) { return c >= 'a' && c <= 'z'; }

static int At(const GDLex &lx, size_t i) {
  return i < lx.buf.size() ? (unsigned char)lx.buf[i] : 0;
}

static int Fail(GDLex &lx, const std::string &text) {
  lx.err = text;
  return TOK_END;
}

// Skips separators and at most one comment; returns the character after them
// (already consumed), or 0 at the end of the text.
static int SkipToToken(GDLex &lx, bool *bad) {
  int c;
  while (IsSep(c = At(lx, lx.index))) {
    if (c == '\n') lx.line++;
    lx.index++;
  }
  if (c == '/' && At(lx, lx.index + 1) == '*') {
    size_t end = lx.buf.find("*/", lx.index + 2);
    if (end == std::string::npos) {
      *bad = true;
      return 0;
    }
    for (size_t i = lx.index; i < end; i++)
      if (lx.buf[i] == '\n') lx.line++;
    lx.index = end + 2;
  }
  c = At(lx, lx.index);
  lx.index++;
  return c;
}

// Reads the alternatives that follow a rule head or a net header into the
// last rule of the table. `c` is the character already taken.
static int ReadAlternatives(GDLex &lx, int c) {
  RewriteSide &rule = lx.rules.back();
  for (;;) {
    if (c != '(') {
      if (c == 0 || c >= 128) return TOK_END;
      return c;  // a syntax error for the parser
    }
    rule.rhs.emplace_back();
    Rhs &alt = rule.rhs.back();
    bool allOptional = true;
    bool closed = false;
    while (!closed) {
      while (IsBlank(c = At(lx, lx.index))) lx.index++;
      if (c == 0)
        return Fail(lx, "Error: the text ends inside an alternative of " + rule.lhs +
                            " line(" + std::to_string(rule.line) + ") in GD_lex: " +
                            RTN_TRAILER);
      lx.index++;
      alt.terms.emplace_back();
      RhsTerm &t = alt.terms.back();
      if (c == '+') {
        t.plus = 1;
        if (At(lx, lx.index) == '*') { t.star = 2; lx.index++; }
        c = At(lx, lx.index++);
      } else if (c == '*') {
        t.star = 2;
        if (At(lx, lx.index) == '+') { t.plus = 1; lx.index++; }
        c = At(lx, lx.index++);
      }
      if (!t.star) allOptional = false;
      size_t start = lx.index - 1;
      if (IsUpper(c) || IsLower(c) || c == '-' || c == '_') {
        t.kind = IsUpper(c) ? TK_RULE : TK_TERMINAL;
        size_t e = start;
        while (At(lx, e) && !IsWhite(At(lx, e)) && At(lx, e) != ')') e++;
        t.name = lx.buf.substr(start, e - start);
        lx.index = e;
      } else if (c == '[') {
        t.kind = TK_NET;
        size_t s = lx.index;
        while (IsWhite(At(lx, s))) s++;
        size_t close = lx.buf.find(']', s);
        if (close == std::string::npos)
          return Fail(lx, "Error: a net reference has no closing ']' in net(" + lx.netName +
                              ") line(" + std::to_string(lx.line) + ") in GD_lex: " +
                              RTN_TRAILER);
        size_t e = close;
        while (e > s && IsWhite(At(lx, e - 1))) e--;
        t.name = "[" + lx.buf.substr(s, e - s) + "]";
        if (e == s || t.name.find_first_of("[") != 0 ||
            t.name.find('[', 1) != std::string::npos)
          return Fail(lx, "Error: bad net reference " + t.name + " in net(" + lx.netName +
                              ") line(" + std::to_string(lx.line) + ") in GD_lex: " +
                              RTN_TRAILER);
        lx.index = close + 1;
      } else {
        // A character that starts no term: a nameless term, refused later.
        if (c == ')' && alt.terms.size() == 1) {
          // "()" or "( )": nothing in the alternative
        }
        continue;
      }
      // After a name: pass white space that is followed by more white space
      // or by the closing parenthesis.
      size_t p = lx.index;
      while (IsWhite(At(lx, p)) && (IsWhite(At(lx, p + 1)) || At(lx, p + 1) == ')')) p++;
      int r = At(lx, p);
      if (t.kind == TK_NET && r != ')' && r != ' ')
        return Fail(lx, "Lexical Error: Missing space after " + t.name + " in net(" +
                            lx.netName + ") line(" + std::to_string(lx.line) + ").\n" +
                            "in GD_lex: " + RTN_TRAILER);
      if (r == ')') closed = true;
      if (r == 0)
        return Fail(lx, "Error: the text ends inside an alternative of " + rule.lhs +
                            " line(" + std::to_string(rule.line) + ") in GD_lex: " +
                            RTN_TRAILER);
      lx.index = p + 1;
    }
    if (allOptional) {
      // Every term optional would let the rule match nothing at all.
      return Fail(lx, "Error: an alternative of " + rule.lhs + " line(" +
                          std::to_string(rule.line) +
                          ") has only optional terms in GD_lex: " + RTN_TRAILER);
    }
    bool bad = false;
    size_t save = lx.index;
    int saveLine = lx.line;
    c = SkipToToken(lx, &bad);
    if (bad)
      return Fail(lx, "Error: a comment is not closed in net(" + lx.netName +
                          ") in GD_lex: " + RTN_TRAILER);
    if (c != '(') {
      // The character is read again by the next call.
      (void)save;
      (void)saveLine;
      lx.index--;
      return TOK_RULE;
    }
  }
}

int GD_lex(GDLex &lx) {
  if (!lx.err.empty()) return TOK_END;
  if (lx.index >= lx.buf.size()) return TOK_END;
  int c = At(lx, lx.index);
  if (c == '[') {
    // A header must stand exactly where the previous token ended.
    size_t close = lx.buf.find(']', lx.index);
    if (close == std::string::npos)
      return Fail(lx, "Error: the net header has no closing ']' in GD_lex: " + RTN_TRAILER);
    std::string name = lx.buf.substr(lx.index, close - lx.index + 1);
    lx.index = close + 1;
    if (At(lx, lx.index)) {
      if (At(lx, lx.index) == '\n') lx.line++;
      lx.index++;
    }
    if (lx.rules.empty()) {
      lx.netName = name;
      lx.rules.emplace_back();
      lx.rules.back().lhs = name;
      lx.rules.back().line = lx.line;
    } else {
      lx.rules.emplace_back();  // a second header: the parser refuses it
      lx.rules.back().lhs = name;
    }
    return TOK_NET;
  }
  bool bad = false;
  c = SkipToToken(lx, &bad);
  if (bad) return Fail(lx, "Error: a comment is not closed in GD_lex: " + RTN_TRAILER);
  if (c == 0 || c >= 128) return TOK_END;
  if (IsUpper(c)) {
    size_t start = lx.index - 1, e = start;
    while (At(lx, e) && !IsWhite(At(lx, e))) e++;
    lx.rules.emplace_back();
    lx.rules.back().lhs = lx.buf.substr(start, e - start);
    lx.rules.back().line = lx.line;
    lx.index = e;
    if (At(lx, lx.index)) {
      lx.line++;  // the character after the name counts as a line feed
      lx.index++;
    }
    c = SkipToToken(lx, &bad);
    if (bad) return Fail(lx, "Error: a comment is not closed in GD_lex: " + RTN_TRAILER);
    return ReadAlternatives(lx, c);
  }
  if (c == '(') {
    if (lx.rules.empty()) return c;  // no rule to receive it: a syntax error
    return ReadAlternatives(lx, c);
  }
  return c;
}

}  // namespace rtn
