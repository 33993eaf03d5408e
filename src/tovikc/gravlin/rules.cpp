// Rule table: plain rules, context rules with their token lists, clusters.
#include <cstring>
#include <string>
#include <vector>

#include "gravlin_int.h"

namespace gravlin {

const char *const kWildcard = "!<{*}>!";

std::vector<std::string> splitWords(const std::string &s) {
    std::vector<std::string> w;
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && s[i] == ' ') i++;
        size_t j = i;
        while (j < s.size() && s[j] != ' ') j++;
        if (j > i) w.push_back(s.substr(i, j - i));
        i = j;
    }
    return w;
}

static std::string rtrim(std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

int splitAtSeparator(const char *statement, std::string &left, std::string &right, const char *sep) {
    left.clear();
    right.clear();
    const char *p = strstr(statement, sep);
    if (!p || p[strlen(sep)] == 0) return GRAVLIN_NOT_KIND;
    left = rtrim(std::string(statement, p - statement));
    const char *r = p + strlen(sep);
    while (*r == ' ') r++;
    right = r;
    return 0;
}

int parseContextRule(const char *statement, std::string &token, std::string &body, std::vector<std::string> &tokens) {
    tokens.clear();
    std::string rest;
    if (splitAtSeparator(statement, token, rest, "->")) return GRAVLIN_NOT_KIND;
    size_t c = rest.find("::");
    if (c == std::string::npos || c + 2 >= rest.size()) {
        token.clear();
        body.clear();
        return GRAVLIN_NOT_KIND;
    }
    body = rtrim(rest.substr(0, c));
    std::vector<std::string> words = splitWords(rest.substr(c + 2));
    bool focus = false;
    for (size_t i = 0; i < words.size(); i++) {
        const std::string &w = words[i];
        bool isFocus = w.compare(0, 2, "__") == 0;
        bool mark = w == "/WB" || w == "/NWB";
        if ((isFocus && i == 0) || mark) tokens.push_back(kWildcard);
        if (isFocus) {
            focus = true;
            tokens.push_back("");
        } else {
            tokens.push_back(w);
        }
        if (i + 1 == words.size() && (isFocus || mark)) tokens.push_back(kWildcard);
    }
    if (!focus) {
        token.clear();
        body.clear();
        tokens.clear();
        return GRAVLIN_NOT_KIND;
    }
    return 0;
}

void addClusterMembers(Clusters &c, const std::string &name, const std::string &members) {
    Cluster *k = nullptr;
    for (Cluster &x : c)
        if (x.name == name) k = &x;
    if (!k) {
        c.push_back(Cluster{name, {}});
        k = &c.back();
    }
    for (std::string &w : splitWords(members)) k->members.push_back(w);
}

const Cluster *findCluster(const Clusters &c, const std::string &name) {
    for (const Cluster &x : c)
        if (x.name == name) return &x;
    return nullptr;
}

static int countContext(const std::vector<std::string> &l) {
    int n = 0;
    for (const std::string &t : l)
        if (t != "/WB" && t != "/NWB") n++;
    return n;
}

int buildRuleTable(RuleTable &t, char **statements, int count) {
    t.rules.clear();
    t.index.clear();
    std::string left, right;
    for (int k = 0; k < count; k++) {
        const char *s = statements[k];
        if (splitAtSeparator(s, left, right, ":=") == 0 || splitAtSeparator(s, left, right, "==") == 0) continue;
        if (strstr(s, ":=") || strstr(s, "==")) continue;
        if (splitAtSeparator(s, left, right, "=") == 0) {
            if (const Rule *r = t.find(left)) {
                gWarn("Warning: rule '%s' is superseded by '%s = %s'\n", s, r->token.c_str(), r->alts[0].body.c_str());
                continue;
            }
            Rule r;
            r.token = left;
            r.statement = k;
            r.alts.push_back(Alternative{right, {}, {}, false});
            t.index[left] = (int)t.rules.size();
            t.rules.push_back(std::move(r));
            continue;
        }
        std::string token, body;
        std::vector<std::string> tokens;
        if (parseContextRule(s, token, body, tokens)) continue;
        Alternative a;
        a.body = body;
        a.context = true;
        size_t f = 0;
        while (f < tokens.size() && !tokens[f].empty()) f++;
        if (f == tokens.size()) {
            gErr("Error: token name %s not in context\n", token.c_str());
            return GRAVLIN_FAIL;
        }
        for (size_t i = f; i-- > 0;) a.left.push_back(tokens[i]);
        for (size_t i = f + 1; i < tokens.size(); i++) a.right.push_back(tokens[i]);
        auto it = t.index.find(token);
        if (it == t.index.end()) {
            Rule r;
            r.token = token;
            r.statement = k;
            t.index[token] = (int)t.rules.size();
            t.rules.push_back(std::move(r));
            it = t.index.find(token);
        }
        Rule &r = t.rules[it->second];
        // One kind per token: a plain rule is not mixed with context rules.
        if (!r.alts.empty() && !r.alts[0].context) {
            gWarn("Warning: rule '%s' is superseded by '%s = %s'\n", s, r.token.c_str(), r.alts[0].body.c_str());
            continue;
        }
        r.maxLcon = std::max(r.maxLcon, countContext(a.left));
        r.maxRcon = std::max(r.maxRcon, countContext(a.right));
        r.alts.push_back(std::move(a));
    }
    return 0;
}

} // namespace gravlin
