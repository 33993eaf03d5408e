// Grammar definition files and the compile driver: the lexer that fills a
// net's rewrite tables, the sequencing parser whose reductions start the net
// and expand each rule, the non-terminal arcs and net references, the
// non-terminal pass, and the driver that turns a grammar name into a net.
//
// Contract:
// - A grammar file NAME.gra holds one net: the header "[NAME]" at its very
//   first byte, the net's alternatives "(...)", then rules "RULE (...)...".
//   Rules must be referenced before they are defined.
// - Names, keys and texts are unbounded std::strings: nothing is cut.
// - Failures append their text to the record's pres, innermost first, each
//   line ending in a "file(...) line(N)\n" trailer, and return 1 (or null).
// - Faults the lexer refuses with a message where a looser reader would go
//   on: an alternative of optional terms only, a text that ends inside an
//   alternative or a comment, a '[' without its ']', a net reference
//   followed by anything but white space or ')', a byte of 128 or above
//   where a token should start, and a NUL byte anywhere in the file.
// - Net names that would name a file outside the grammar's folder (empty,
//   holding '/' or '\\', or beginning with '.') are refused, and nets nest
//   at most 24 deep.
#ifndef QUORLET_GD_H
#define QUORLET_GD_H

#include <cstddef>
#include <cstdio>
#include <string>

#include "pc.h"
#include "result.h"

namespace rtn {

// Tokens of the lexer besides single characters.
enum { TOK_END = 0, TOK_NET = 258, TOK_RULE = 259 };

// Reads the grammar file whole into inputBuf (CR LF read as LF), after
// preparing the non-terminal table. 0 or 1.
int GDPC_BufferizeFile(ParserControl *pc, const char *path);
// The next token; *lval always receives the record's Rewrite table.
int GD_lex(Rewrite **lval, ParserControl *pc);
// True when the last GD_lex call ended the text on a failure (text in pres).
bool GD_LexFailed();
// 0 accepted, 1 syntax error or failed reduction, 2 parser stack overflow.
int GD_parse(ParserControl *pc);
void GD_StackCopy(void *to, const void *from, size_t count);
// "Error: %s" on standard output, no line feed.
void GD_error(const char *message);

// Reductions of the parser.
int GDPC_InitNet(ParserControl *pc, Rewrite *rewrite);
int GDPC_RewritePattern(ParserControl *pc, int r, int a, Rewrite *rewrite);

// A non-terminal arc for the term at (rule, alt, term) of rewrite; rule -1
// with netStart -1 is the net's own start arc.
int GDPC_AddNTArc(ParserControl *pc, int rule, int alt, int term, Rewrite *rewrite,
                  const char *nextNet, int patternCorner, int corner, int netStart);

// Resolves the rule and net references of a parsed net. 0 or 1.
int GDPC_ProcessNonTerms(ParserControl *pc);
// The context-entry table in its fixed layout. 0 or 1.
int GDPC_PrintContextEntries(ParserControl *pc, FILE *out);

// The compile driver.
int RTN_InitPC(ParserControl *pc);
// name: the grammar's base name, ext ".gra"; fReadStatus RS_GRA, RS_RTN or
// RS_NET (rtn_io.h). The returned record is pc after a compile, the record
// read after a read; null on failure.
ParserControl *RTN_Create(ParserControl *pc, const char *name, const char *ext, int fReadStatus);
// One NAME.gra per "[NAME]" definition of text, in the current directory.
int RTN_Filize(GS_Result *result, const char *text);

// True for a net name that may not name a file: empty, holding '/' or '\\',
// or beginning with '.'.
bool GDPC_UnsafeNetName(const std::string &name);

}  // namespace rtn

#endif
