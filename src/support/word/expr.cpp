// Position networks from regular expressions over names.
#include "expr_int.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace wordexpr {

std::vector<std::string> tokenize(const std::string &text, const char *marks) {
    std::vector<std::string> out;
    std::string cur;
    auto flush = [&] {
        if (!cur.empty()) out.push_back(cur);
        cur.clear();
    };
    for (char c : text) {
        if (isspace((unsigned char)c)) {
            flush();
        } else if (strchr(marks, c)) {
            flush();
            out.push_back(std::string(1, c));
        } else {
            cur += c;
        }
    }
    flush();
    return out;
}

namespace {

void link(Net &net, const std::vector<int> &from, const std::vector<int> &to) {
    for (int a : from)
        for (int b : to) net.follow[a].insert(b);
}

std::vector<int> join(const std::vector<int> &a, const std::vector<int> &b) {
    std::vector<int> out = a;
    for (int x : b)
        if (std::find(out.begin(), out.end(), x) == out.end()) out.push_back(x);
    return out;
}

struct Parser {
    const std::vector<std::string> &tok;
    size_t pos, end;
    bool braces;
    Net &net;
    std::string &err;
    const std::function<bool(const std::string &)> &isRef;
    const RefProc &ref;

    bool isClose(const std::string &t) {
        return t == ")" || t == "]" || t == "|" || (braces && (t == "}" || t == ">"));
    }

    // alternatives := sequence ("|" sequence)*
    bool alternatives(Frag &out) {
        if (!sequence(out)) return false;
        while (pos < end && tok[pos] == "|") {
            pos++;
            Frag b;
            if (!sequence(b)) return false;
            out.first = join(out.first, b.first);
            out.last = join(out.last, b.last);
            out.nullable = out.nullable || b.nullable;
        }
        return true;
    }

    bool sequence(Frag &out) {
        out = Frag();
        bool any = false;
        while (pos < end && !isClose(tok[pos])) {
            Frag b;
            if (!item(b)) return false;
            link(net, out.last, b.first);
            out.first = out.nullable ? join(out.first, b.first) : out.first;
            out.last = b.nullable ? join(b.last, out.last) : b.last;
            out.nullable = out.nullable && b.nullable;
            any = true;
        }
        if (!any) {
            err = pos < end ? "nothing before \"" + tok[pos] + "\"" : "empty expression";
            return false;
        }
        return true;
    }

    bool group(Frag &out, const char *close) {
        pos++;
        if (!alternatives(out)) return false;
        if (pos >= end || tok[pos] != close) {
            err = std::string("missing \"") + close + "\"";
            return false;
        }
        pos++;
        return true;
    }

    bool item(Frag &out) {
        const std::string &t = tok[pos];
        if (t == "(") return group(out, ")");
        if (t == "[") {
            if (!group(out, "]")) return false;
            out.nullable = true;
            return true;
        }
        if (braces && (t == "{" || t == "<")) {
            bool star = t == "{";
            if (!group(out, star ? "}" : ">")) return false;
            link(net, out.last, out.first);
            if (star) out.nullable = true;
            return true;
        }
        if (t == "=" || t == ";" || (!braces && (t == "{" || t == "}" || t == "<" || t == ">"))) {
            err = "unexpected \"" + t + "\"";
            return false;
        }
        pos++;
        if (isRef && isRef(t)) return ref(t, net, out, err);
        int p = (int)net.labels.size();
        net.labels.push_back(t);
        net.follow.emplace_back();
        out.first = {p};
        out.last = {p};
        out.nullable = false;
        return true;
    }
};

} // namespace

bool parse(const std::vector<std::string> &tokens, size_t from, size_t to, bool braces, Net &net, Frag &out,
           std::string &err, const std::function<bool(const std::string &)> &isRef, const RefProc &ref) {
    Parser p{tokens, from, to, braces, net, err, isRef, ref};
    if (!p.alternatives(out)) return false;
    if (p.pos < to) {
        err = "unexpected \"" + tokens[p.pos] + "\"";
        return false;
    }
    return true;
}

} // namespace wordexpr
