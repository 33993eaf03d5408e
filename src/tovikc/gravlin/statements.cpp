// Statement text: reading files into statements, cleaning, bracket grouping,
// lexicon includes and the display form of state names.
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "gravlin_int.h"
#include "yastro.h"

using namespace gravlin;

namespace {

// Private codes that escaped characters become inside names.
const char kEscaped[] = " ()[]{}<>'\"\\/:;|=%$";
const char kCodes[] = {11, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31};

int codeFor(char c) {
    const char *p = strchr(kEscaped, c);
    return p && c ? kCodes[p - kEscaped] : -1;
}

char **toArray(const std::vector<std::string> &v) {
    char **a = static_cast<char **>(DB_MALLOC((v.size() ? v.size() : 1) * sizeof(char *)));
    for (size_t i = 0; i < v.size(); i++) a[i] = dupText(v[i]);
    return a;
}

} // namespace

extern "C" {

void Gravlin_freeStatements(char **statements, int count) {
    if (!statements) return;
    for (int i = 0; i < count; i++) DB_FREE(statements[i]);
    DB_FREE(statements);
}

char **Gravlin_copyStatements(const char *const *texts, int count) {
    char **a = static_cast<char **>(DB_MALLOC((count > 0 ? count : 1) * sizeof(char *)));
    for (int i = 0; i < count; i++) a[i] = dupText(texts[i]);
    return a;
}

int Gravlin_readFile(const char *path, char ***statements, int *count) {
    *statements = nullptr;
    *count = 0;
    FILE *f = fopen(path, "rb");
    if (!f) {
        gErr("Error opening file '%s'\n", path);
        return GRAVLIN_FAIL;
    }
    std::string text;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    fclose(f);
    std::vector<std::string> out;
    std::string cur;
    bool lineComment = false, blockComment = false;
    char prev = 0;
    for (size_t i = 0; i < text.size(); i++) {
        char c = text[i];
        // Line ends written as CR LF read as LF.
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        if (lineComment) {
            if (c == '\n') lineComment = false;
            prev = c;
            continue;
        }
        if (blockComment) {
            if (prev == '*' && c == '/') {
                blockComment = false;
                c = 0;
            }
            prev = c;
            continue;
        }
        if (prev == '/' && c == '*' && !cur.empty() && cur.back() == '/') {
            cur.pop_back();
            blockComment = true;
            prev = 0;
            continue;
        }
        if (prev == '/' && c == '/' && !cur.empty() && cur.back() == '/') {
            // "://" keeps both slashes: a URI, not a comment.
            if (!(cur.size() >= 2 && cur[cur.size() - 2] == ':')) {
                cur.pop_back();
                lineComment = true;
                prev = 0;
                continue;
            }
        }
        prev = c;
        if (c == ';') {
            if (!cur.empty()) {
                out.push_back(cur);
                cur.clear();
            }
            continue;
        }
        if (c == '\n' && cur.empty()) continue;
        cur += c;
    }
    *statements = toArray(out);
    *count = (int)out.size();
    return 0;
}

int Gravlin_cleanLines(char **statements, int count, int escapes) {
    bool quoting = false;
    for (int k = 0; k < count; k++) {
        std::string s = statements[k];
        size_t i = 0;
        bool openedAtStart = false;
        while (i < s.size()) {
            char c = s[i];
            char prev = i > 0 ? s[i - 1] : 0;
            // A carriage return (CR LF text given as a list) is a blank too.
            if (c == '\t' || c == '\n' || c == '\r') s[i] = c = ' ';
            if (c == ' ' && !quoting && (prev == ' ' || prev == 11)) {
                s.erase(i, 1);
                continue;
            }
            if (c == '"') {
                if (escapes && prev == '\\') {
                    s.erase(i - 1, 1);
                    s[i - 1] = 23;
                    continue;
                }
                quoting = !quoting;
                s.erase(i, 1);
                openedAtStart = quoting && i == 0;
                if (!quoting && i > 0 && s[i - 1] == 11) {
                    s.erase(i - 1, 1);
                    i--;
                }
                continue;
            }
            if (quoting && (c == ' ' || c == 11)) {
                // One code stands for a run of blanks inside quotes.
                if (prev == 11 || (openedAtStart && i == 0)) {
                    s.erase(i, 1);
                    continue;
                }
                s[i] = 11;
                i++;
                continue;
            }
            if (c == ' ' && i == 0) {
                s.erase(i, 1);
                continue;
            }
            if (escapes && prev == '\\') {
                int code = codeFor(c);
                s.erase(i - 1, 1);
                if (code >= 0) s[i - 1] = (char)code;
                continue; // the replaced character now stands at i-1; go on at i
            }
            i++;
        }
        while (!s.empty() && s.back() == ' ') s.pop_back();
        DB_FREE(statements[k]);
        statements[k] = dupText(s);
    }
    return 0;
}

int Gravlin_groupParentheses(char **statements, int count) {
    for (int k = 0; k < count; k++) {
        const char *src = statements[k];
        size_t n = strlen(src);
        if (n == 0) continue;
        std::string out;
        int level = 0;
        for (size_t i = 0; i < n; i++) {
            char c = src[i];
            if (!strchr("()[]{}|", c)) {
                out += c;
                continue;
            }
            if (i > 0 && !out.empty() && out.back() != ' ') out += ' ';
            out += c;
            if (c == '(' || c == '[' || c == '{') {
                if (level >= 26) {
                    gErr("Error: brackets nested deeper than 26 levels in '%s'\n", src);
                    return GRAVLIN_FAIL;
                }
                out += (char)('a' + level);
                level++;
            } else if (c != '|') {
                level--;
                if (level < 0) {
                    gErr("Error: unbalanced parentheses in '%s'\n", src);
                    return GRAVLIN_FAIL;
                }
                out += (char)('a' + level);
            }
            if (i + 1 < n && src[i + 1] != ' ') out += ' ';
        }
        if (level != 0) {
            gErr("Error: unbalanced parentheses in line '%s'\n", src);
            return GRAVLIN_FAIL;
        }
        DB_FREE(statements[k]);
        statements[k] = dupText(out);
    }
    return 0;
}

int Gravlin_getURIfiles(char **statements, int count, int *numLex, char ***uris, char ***classNames) {
    std::vector<std::string> u;
    for (int k = 0; k < count; k++) {
        const char *s = statements[k];
        size_t n = strlen(s);
        if (n < 9 || strncmp(s, "lexicon ", 8) != 0 || s[n - 1] != '>') continue;
        if (s[8] != '<') {
            gErr("Error: lexicon statement without '<' after the keyword: '%s'\n", s);
            return GRAVLIN_FAIL;
        }
        const char *e = strchr(s + 9, '>');
        std::string uri(s + 9, e - (s + 9));
        gWarn("FOUND LEXICON '%s'\n", uri.c_str());
        u.push_back(uri);
    }
    *numLex = (int)u.size();
    *uris = toArray(u);
    *classNames = toArray(std::vector<std::string>(u.size(), "word"));
    return 0;
}

int Gravlin_origStateName(const char *name, char **out) {
    std::string r;
    for (const char *p = name; *p; p++) {
        int code = -1;
        for (size_t i = 0; i < sizeof kCodes; i++)
            if (*p == kCodes[i]) code = (int)i;
        if (code >= 0) {
            r += '\\';
            r += kEscaped[code];
        } else {
            r += *p;
        }
    }
    *out = dupText(r);
    return 0;
}

} // extern "C"

namespace {

// Tokens defined by plain or context rules of a statement list.
void ruleTokens(char **st, int n, std::set<std::string> &out) {
    RuleTable t;
    if (buildRuleTable(t, st, n) == 0)
        for (const Rule &r : t.rules) out.insert(r.token);
}

// Names of the units a grammar leaves for its lexicons.
void unexpandedUnits(const GravlinNet *net, std::vector<std::string> &out) {
    std::set<std::string> seen;
    for (int i = 0; i < net->numStates; i++) {
        const GravlinState &s = net->states[i];
        if (s.type == GRAVLIN_ITEM && s.expanded == 0 && s.name && seen.insert(s.name).second) out.push_back(s.name);
    }
}

std::string openablePath(const std::string &uri) {
    return uri.compare(0, 7, "file://") == 0 ? uri.substr(7) : uri;
}

} // namespace

extern "C" int Gravlin_readAndExpand(char **statements, int count, GravlinNet *net, const char *className,
                                     const char *startToken) {
    int nLex = 0;
    char **uris = nullptr, **classes = nullptr;
    int rc = Gravlin_cleanLines(statements, count, 1);
    if (!rc) rc = Gravlin_getURIfiles(statements, count, &nLex, &uris, &classes);
    std::vector<std::pair<std::string, std::string>> work;
    for (int i = 0; i < nLex; i++) work.emplace_back(uris[i], classes[i]);
    Gravlin_freeStatements(uris, nLex);
    Gravlin_freeStatements(classes, nLex);
    if (!rc) rc = Gravlin_groupParentheses(statements, count);
    // Units left from earlier statements (the phones of a network that is
    // being added to) are not this grammar's words.
    std::vector<std::string> before, after, words;
    unexpandedUnits(net, before);
    std::set<std::string> old(before.begin(), before.end());
    if (!rc) rc = Gravlin_expand(statements, count, startToken, className, net);
    if (rc) return rc;
    unexpandedUnits(net, after);
    for (const std::string &w : after)
        if (!old.count(w)) words.push_back(w);
    std::set<std::string> defined, read;
    for (size_t w = 0; w < work.size(); w++) {
        std::string uri = work[w].first, cls = work[w].second;
        // A lexicon named again (or naming itself) is read once.
        if (!read.insert(uri).second) continue;
        gWarn("READING URI file '%s'\n", uri.c_str());
        char **st = nullptr;
        int n = 0;
        rc = Gravlin_readFile(openablePath(uri).c_str(), &st, &n);
        if (!rc) rc = Gravlin_cleanLines(st, n, 1);
        if (!rc) rc = Gravlin_groupParentheses(st, n);
        if (!rc) {
            char **u2 = nullptr, **c2 = nullptr;
            int n2 = 0;
            rc = Gravlin_getURIfiles(st, n, &n2, &u2, &c2);
            if (!rc) {
                for (int i = 0; i < n2; i++) work.emplace_back(u2[i], c2[i]);
                Gravlin_freeStatements(u2, n2);
                Gravlin_freeStatements(c2, n2);
                ruleTokens(st, n, defined);
                rc = Gravlin_expand(st, n, nullptr, cls.c_str(), net);
            }
        }
        Gravlin_freeStatements(st, n);
        if (rc) return rc;
    }
    if (!read.empty()) {
        // A word the grammar uses but no lexicon spells out would stay a
        // unit no classifier knows.
        std::string missing;
        int k = 0;
        for (const std::string &w : words)
            if (!defined.count(w) && k++ < 10) missing += (missing.empty() ? "" : ", ") + ("'" + w + "'");
        if (k) {
            gErr("Error: no lexicon entry for %s%s\n", missing.c_str(), k > 10 ? " and more" : "");
            return GRAVLIN_FAIL;
        }
    }
    return 0;
}
