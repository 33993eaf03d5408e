// Regular expressions over names (phones of a pronunciation, words of a
// grammar) compiled to position networks: one position per name
// occurrence, with the positions that may follow it, and no null nodes.
#ifndef TOVIK_WORD_EXPR_INT_H
#define TOVIK_WORD_EXPR_INT_H

#include <functional>
#include <set>
#include <string>
#include <vector>

namespace wordexpr {

struct Net {
    std::vector<std::string> labels;
    std::vector<std::set<int>> follow;
    std::set<int> first, last;
    bool nullable = true;
};

// Splits text at blanks, with every character of `marks` a token of its own.
std::vector<std::string> tokenize(const std::string &text, const char *marks);

// Resolves a reference token (e.g. "$rule") by parsing its body into the
// same net; answers false with a message to refuse it.
using RefProc = std::function<bool(const std::string &token, Net &net, struct Frag &out, std::string &err)>;

struct Frag {
    std::vector<int> first, last;
    bool nullable = true;
};

// Parses tokens[from, to) as one expression into net (adding positions);
// "|", "( )", "[ ]" always, "{ }" and "< >" when braces is set. Tokens for
// which isRef answers true go to ref. Answers false with err set.
bool parse(const std::vector<std::string> &tokens, size_t from, size_t to, bool braces, Net &net, Frag &out,
           std::string &err, const std::function<bool(const std::string &)> &isRef = nullptr,
           const RefProc &ref = nullptr);

} // namespace wordexpr

#endif
