// Cuts a grammar definition text into net headers and complete rules, and
// fills the record's rewrite tables with the rules, their alternatives and
// their terms as it goes.
//
// The format is strict on purpose: a header must stand at the very first
// byte, a rule is an upper-case name followed by alternatives in
// parentheses, and at most one comment may stand where a token starts, with
// a rule name directly after it (alternatives may follow after more white
// space and one more comment).
#include <cstdio>
#include <cstring>

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

static int At(const ParserControl *pc, size_t i) {
  return i < pc->inputBuf.size() ? (unsigned char)pc->inputBuf[i] : 0;
}

static std::string Line(int n) { return std::to_string(n); }

// Set by a lexical failure: the parser must not take the end token that
// follows it for the end of a good text.
static thread_local bool lexFailed;

static int Fail(ParserControl *pc, const std::string &text) {
  pc->pres += text;
  lexFailed = true;
  return TOK_END;
}

// The parenthesis test: a ')' and a second ')' after it in the rest of the
// text switch prefix and suffix sharing on for the rule.
static uint8_t ParenthesisTest(const ParserControl *pc, size_t from) {
  if (from >= pc->inputBuf.size()) return 0;
  size_t a = pc->inputBuf.find(')', from);
  if (a == std::string::npos) return 0;
  return pc->inputBuf.find(')', a + 1) != std::string::npos ? 1 : 0;
}

// Skips separators (counting line feeds) and at most one comment, and
// returns the character after them, consumed. -1 after an unclosed comment.
static int SkipToToken(ParserControl *pc, int c) {
  while (IsSep(c)) {
    if (c == '\n') pc->line++;
    c = At(pc, pc->index++);
  }
  if (c == '/' && At(pc, pc->index) == '*') {
    size_t end = pc->inputBuf.find("*/", pc->index + 1);
    if (end == std::string::npos) return -1;
    for (size_t i = pc->index; i < end; i++)
      if (pc->inputBuf[i] == '\n') pc->line++;
    pc->index = (int32_t)end + 2;
    c = At(pc, pc->index++);
  }
  return c;
}

// A byte of 128 or above where a token starts: no grammar text holds one.
static int HighByteFail(ParserControl *pc) {
  return Fail(pc, "Error: a byte of 128 or above stands where a token should start in net(" +
                      pc->Rewrite->netName + ") line(" + Line(pc->line) + ") in GD_lex: " + RTN_TRAILER);
}

static int CommentFail(ParserControl *pc) {
  return Fail(pc, "Error: a comment is not closed (no */ after its /*) in net(" +
                      pc->Rewrite->netName + ") line(" + Line(pc->line) + ") in GD_lex: " +
                      RTN_TRAILER);
}

// Reads the alternatives of the last rule of the table; `c` is the '('
// already taken.
static int ReadAlternatives(ParserControl *pc, int c) {
  Rewrite *rw = pc->Rewrite;
  RewriteSide &rule = rw->rhb[rw->rhb.count - 1];
  const std::string &ruleName = rw->lhs[rw->rhb.count - 1];
  for (;;) {
    if (rule.rhs.count >= rule.rhs.capacity && GDPC_AllocRhss(pc, &rule))
      return Fail(pc, "GDPC_AllocRhss failed in FD_lex: " + RTN_TRAILER);
    Rhs &alt = rule.rhs[rule.rhs.count++];
    bool allOptional = true;
    bool closed = false;
    while (!closed) {
      while (IsBlank(c = At(pc, pc->index))) pc->index++;
      if (c == 0)
        return Fail(pc, "Error: the text ends inside an alternative of " + ruleName +
                            " in net(" + rw->netName + ") line(" + Line(pc->line) +
                            ") in GD_lex: " + RTN_TRAILER);
      pc->index++;
      if (alt.term.count >= alt.term.capacity && GDPC_AllocRhsTerms(pc, &alt))
        return Fail(pc, "GDPC_AllocRhsTerms failed in FD_lex: " + RTN_TRAILER);
      RhsTerm &t = alt.term[alt.term.count++];
      t = RhsTerm();
      if (c == '+') {
        t.plus = 1;
        if (At(pc, pc->index) == '*') {
          t.star = 2;
          pc->index++;
        }
        c = At(pc, pc->index++);
      } else if (c == '*') {
        t.star = 2;
        if (At(pc, pc->index) == '+') {
          t.plus = 1;
          pc->index++;
        }
        c = At(pc, pc->index++);
      }
      if (!t.star) allOptional = false;
      size_t after;  // the first character after the name
      if (IsUpper(c) || IsLower(c) || c == '-' || c == '_') {
        t.kind = IsUpper(c) ? TK_RULE : TK_TERMINAL;
        size_t start = pc->index - 1, e = start;
        while (At(pc, e) && !IsWhite(At(pc, e)) && At(pc, e) != ')') e++;
        t.name = pc->inputBuf.substr(start, e - start);
        after = e;
      } else if (c == '[') {
        t.kind = TK_NET;
        size_t s = pc->index;
        while (IsWhite(At(pc, s))) s++;
        size_t close = pc->inputBuf.find(']', s);
        if (close == std::string::npos)
          return Fail(pc, "Error: a net reference has no closing ']' in net(" + rw->netName +
                              ") line(" + Line(pc->line) + ") in GD_lex: " + RTN_TRAILER);
        size_t e = close;
        while (e > s && IsWhite(At(pc, e - 1))) e--;
        if (e == s)
          return Fail(pc, "Error: a net reference without a name in net(" + rw->netName +
                              ") line(" + Line(pc->line) + ") in GD_lex: " + RTN_TRAILER);
        t.name = "[" + pc->inputBuf.substr(s, e - s) + "]";
        if (t.name.find('[', 1) != std::string::npos)
          return Fail(pc, "Error: bad net reference " + t.name + " in net(" + rw->netName +
                              ") line(" + Line(pc->line) + ") in GD_lex: " + RTN_TRAILER);
        after = close + 1;
      } else {
        // A character that starts no term: a nameless term, consumed. The
        // expander refuses it anywhere but first.
        if (c == 0)
          return Fail(pc, "Error: the text ends inside an alternative of " + ruleName +
                              " in net(" + rw->netName + ") line(" + Line(pc->line) +
                              ") in GD_lex: " + RTN_TRAILER);
        continue;
      }
      // Pass white space that is followed by more white space or by ')'.
      size_t p = after;
      while (IsWhite(At(pc, p)) && (IsWhite(At(pc, p + 1)) || At(pc, p + 1) == ')')) p++;
      int r = At(pc, p);
      if (r == 0)
        return Fail(pc, "Error: the text ends inside an alternative of " + ruleName +
                            " in net(" + rw->netName + ") line(" + Line(pc->line) +
                            ") in GD_lex: " + RTN_TRAILER);
      if (t.kind == TK_NET && r != ')' && !IsWhite(r))
        return Fail(pc, "Lexical Error: Missing space after " + t.name + " in net(" +
                            rw->netName + ") line(" + Line(pc->line) + ").\nThe character(" +
                            std::string(1, (char)r) + ") may not follow a net reference in GD_lex: " +
                            RTN_TRAILER);
      if (t.kind == TK_NET && r != ')' && r != ' ')
        // A tab or a line feed ends the reference all the same; say so.
        fprintf(stderr,
                "Lexical Error: Missing space after %s in net(%s) line(%d).\nThe character(%c) was "
                "overwritten with a NULL terminator.\n",
                t.name.c_str(), rw->netName.c_str(), (int)pc->line, r);
      if (r == ')') closed = true;
      pc->index = (int32_t)p + 1;
    }
    if (allOptional)
      // Every term optional would let the alternative match nothing.
      return Fail(pc, "Error: an alternative of " + ruleName + " in net(" + rw->netName +
                          ") line(" + Line(pc->line) +
                          ") has only optional terms in GD_lex: " + RTN_TRAILER);
    c = SkipToToken(pc, At(pc, pc->index++));
    if (c < 0) return CommentFail(pc);
    if (c != '(') {
      pc->index--;  // read again by the next call
      return TOK_RULE;
    }
  }
}

static int Lex(Rewrite **lval, ParserControl *pc) {
  *lval = pc->Rewrite;
  Rewrite *rw = pc->Rewrite;
  int c = At(pc, pc->index);
  if (pc->index < (int32_t)pc->inputBuf.size()) pc->index++;
  if (c == '[') {
    // A header stands exactly where the previous token ended.
    size_t start = pc->index - 1;
    size_t close = pc->inputBuf.find(']', start);
    if (close == std::string::npos)
      return Fail(pc, "Error: the net header has no closing ']' in GD_lex: " + RTN_TRAILER);
    std::string name = pc->inputBuf.substr(start, close - start + 1);
    if (rw->rhb.count >= rw->rhb.capacity && GDPC_AllocRewriteSides(pc, rw))
      return Fail(pc, "GDPC_AllocRewriteSides failed in FD_lex: " + RTN_TRAILER);
    int r = rw->rhb.count++;
    if (r == 0) rw->netName = name;
    rw->lhs[r] = name;
    // The character after ']' ends the header and counts as a line feed.
    pc->index = (int32_t)close + 1;
    if (At(pc, pc->index)) pc->index++;
    pc->line++;
    rw->rhb[r].flag = ParenthesisTest(pc, pc->index);
    return TOK_NET;
  }
  c = SkipToToken(pc, c);
  if (c < 0) return CommentFail(pc);
  if (c == 0) return TOK_END;
  if (c >= 128)
    return HighByteFail(pc);
  if (IsUpper(c)) {
    if (rw->rhb.count >= rw->rhb.capacity && GDPC_AllocRewriteSides(pc, rw))
      return Fail(pc, "GDPC_AllocRewriteSides failed in FD_lex: " + RTN_TRAILER);
    int r = rw->rhb.count++;
    size_t start = pc->index - 1, e = start;
    while (At(pc, e) && !IsWhite(At(pc, e))) e++;
    rw->lhs[r] = pc->inputBuf.substr(start, e - start);
    // The character that ends the name counts as a line feed, whatever it is.
    pc->index = (int32_t)e;
    if (At(pc, pc->index)) {
      pc->index++;
      pc->line++;
    }
    rw->rhb[r].flag = ParenthesisTest(pc, pc->index + 1);
    c = SkipToToken(pc, At(pc, pc->index++));
    if (c < 0) return CommentFail(pc);
    if (c == 0) {
      pc->index--;
      return TOK_END;
    }
    if (c >= 128)
      return HighByteFail(pc);
    if (c != '(') return c;
    return ReadAlternatives(pc, c);
  }
  // Anything else may only lead to alternatives: separators and one more
  // comment are passed before the '(' (a rule name found there is not a
  // token start, and is refused by the parser).
  c = SkipToToken(pc, c);
  if (c < 0) return CommentFail(pc);
  if (c == 0) return TOK_END;
  if (c >= 128)
    return HighByteFail(pc);
  if (c == '(') {
    if (rw->rhb.count == 0) return c;  // no rule to receive it: a syntax error
    return ReadAlternatives(pc, c);
  }
  return c;
}

int GD_lex(Rewrite **lval, ParserControl *pc) {
  lexFailed = false;
  return Lex(lval, pc);
}

bool GD_LexFailed() { return lexFailed; }

}  // namespace rtn
