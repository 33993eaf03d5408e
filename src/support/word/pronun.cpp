// Word graphs from pronunciations, and their probability entries.
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "expr_int.h"
#include "word.h"
#include "yastro.h"

namespace {

char *copy(const char *s) {
    size_t n = strlen(s) + 1;
    char *p = static_cast<char *>(DB_MALLOC(n));
    memcpy(p, s, n);
    return p;
}

// A graph of n nodes with empty successor lists.
WordGraph *newGraph(int n, const char *name) {
    WordGraph *g = static_cast<WordGraph *>(DB_MALLOC(sizeof(WordGraph)));
    g->nodes = static_cast<WordNode *>(DB_MALLOC(sizeof(WordNode) * (n ? n : 1)));
    memset(g->nodes, 0, sizeof(WordNode) * (n ? n : 1));
    g->name = copy(name ? name : "");
    g->numNodes = (int16_t)n;
    g->numInit = g->numFinal = 0;
    return g;
}

// Context expansion of a word graph over a probability-name table. A
// phone c between l and r becomes the whole unit "l<c>r" when the table
// has it, else the chain of the parts it has: "l<c", "<c>" (or plain c),
// "c>r". Inside the word l and r are the neighbouring phones; at the
// word's edges the neighbour is unknown, so every context the table names
// for c is an alternative, and so is the chain without that side's part.
struct Expansion {
    struct Node {
        int entry;
        std::set<int> next;
        bool in = false, out = false;
    };
    // The chain of new nodes for one (left, right) context of a phone.
    typedef std::vector<int> Chain;

    const WordGraph *word;
    const ProbNames *names;
    std::unordered_map<std::string, int> index; // entry name -> first entry
    std::vector<Node> nodes;
    // Per old node: its chains by (left, right) context ("" = none).
    std::vector<std::map<std::pair<std::string, std::string>, Chain>> chains;

    Expansion(const WordGraph *w, const ProbNames *p) : word(w), names(p) {
        for (int i = p->count - 1; i >= 0; i--) index[p->entries[i].name] = i;
    }

    int find(const std::string &name) const {
        auto it = index.find(name);
        return it == index.end() ? -1 : it->second;
    }

    bool live(int i) const { return i >= 0 && i < word->numNodes && word->nodes[i].kind != WORD_NULL; }

    // The contexts the table names for phone c on one side.
    std::set<std::string> edgeContexts(const std::string &c, bool left) const {
        std::set<std::string> out = {""};
        for (int i = 0; i < names->count; i++) {
            const ProbNameEntry &e = names->entries[i];
            if (!(left ? e.leftContext : e.rightContext) || c != e.modelSpec) continue;
            std::string n = e.name;
            out.insert(left ? n.substr(0, n.find('<')) : n.substr(n.rfind('>') + 1));
        }
        return out;
    }

    Chain parts(const std::string &l, const std::string &c, const std::string &r) const {
        Chain out;
        int w = l.empty() || r.empty() ? -1 : find(l + "<" + c + ">" + r);
        if (w >= 0) return {w};
        int a = l.empty() ? -1 : find(l + "<" + c);
        int m = find("<" + c + ">");
        if (m < 0) m = find(c);
        int b = r.empty() ? -1 : find(c + ">" + r);
        for (int e : {a, m, b})
            if (e >= 0) out.push_back(e);
        return out;
    }

    bool build(std::string &err) {
        const int n = word->numNodes;
        std::vector<std::set<std::string>> lefts(n), rights(n), edgeLefts(n), edgeRights(n);
        for (int i = 0; i < n; i++) {
            if (!live(i)) continue;
            const WordNode &node = word->nodes[i];
            bool in = node.kind == WORD_INITIAL || node.kind == WORD_INITFINAL;
            bool out = node.kind == WORD_FINAL || node.kind == WORD_INITFINAL;
            if (in) lefts[i] = edgeLefts[i] = edgeContexts(node.name, true);
            if (out) rights[i] = edgeRights[i] = edgeContexts(node.name, false);
            for (int k = 0; k < node.numSuccessors; k++) {
                int s = node.successors[k];
                if (!live(s)) continue;
                rights[i].insert(word->nodes[s].name);
                lefts[s].insert(node.name);
            }
        }
        chains.resize(n);
        for (int i = 0; i < n; i++) {
            if (!live(i)) continue;
            const std::string c = word->nodes[i].name;
            std::map<std::pair<std::string, std::string>, Chain> entries;
            bool whole = false;
            for (const std::string &l : lefts[i])
                for (const std::string &r : rights[i]) {
                    Chain e = parts(l, c, r);
                    if (e.empty()) continue;
                    whole = whole || (e.size() == 1 && !l.empty() && !r.empty() && e[0] == find(l + "<" + c + ">" + r));
                    entries[{l, r}] = e;
                }
            if (entries.empty()) {
                err = "phone (" + c + ") has no recognizer output";
                return false;
            }
            // Parts are shared between contexts (a left part depends on the
            // left context only, and so on), unless a whole unit stands for
            // some context: then each context gets its own chain, so that
            // no path mixes parts for a context that has a whole unit.
            std::map<std::tuple<int, std::string, std::string>, int> made;
            for (auto &kv : entries) {
                const std::string &l = kv.first.first, &r = kv.first.second;
                Chain &chain = chains[i][kv.first];
                for (size_t k = 0; k < kv.second.size(); k++) {
                    int e = kv.second[k];
                    const ProbNameEntry &pe = names->entries[e];
                    bool leftPart = pe.leftContext && !pe.rightContext && k == 0 && !l.empty() && e == find(l + "<" + c);
                    bool rightPart = pe.rightContext && !pe.leftContext && k + 1 == kv.second.size() && !r.empty() &&
                                     e == find(c + ">" + r);
                    std::tuple<int, std::string, std::string> key{
                        e, whole || leftPart ? l : std::string(), whole || rightPart ? r : std::string()};
                    auto it = made.find(key);
                    if (it == made.end()) {
                        if (nodes.size() >= 32000) {
                            err = "context expansion gives too many nodes";
                            return false;
                        }
                        nodes.push_back(Node{e, {}});
                        it = made.emplace(key, (int)nodes.size() - 1).first;
                    }
                    if (!chain.empty()) nodes[chain.back()].next.insert(it->second);
                    chain.push_back(it->second);
                }
            }
        }
        for (int i = 0; i < n; i++) {
            if (!live(i)) continue;
            const WordNode &node = word->nodes[i];
            for (auto &kv : chains[i]) {
                const std::string &l = kv.first.first, &r = kv.first.second;
                if (edgeLefts[i].count(l)) nodes[kv.second.front()].in = true;
                if (edgeRights[i].count(r)) nodes[kv.second.back()].out = true;
                // Into each successor whose phone is this chain's right
                // context, by the chains that have this phone on their left.
                for (int k = 0; k < node.numSuccessors; k++) {
                    int s = node.successors[k];
                    if (!live(s) || r != word->nodes[s].name) continue;
                    for (auto &next : chains[s])
                        if (next.first.first == node.name) nodes[kv.second.back()].next.insert(next.second.front());
                }
            }
        }
        bool anyIn = false, anyOut = false;
        for (const Node &x : nodes) anyIn |= x.in, anyOut |= x.out;
        if (!anyIn || !anyOut) {
            err = "no pronunciation is left after context expansion";
            return false;
        }
        return true;
    }
};

} // namespace

extern "C" {

WordGraph *buildWord(GS_Result *r, const char *pronunciation, const char *name) {
    using namespace wordexpr;
    std::vector<std::string> tok = tokenize(pronunciation ? pronunciation : "", "()[]|");
    Net net;
    Frag f;
    std::string err;
    if (tok.empty()) err = "empty pronunciation";
    if (err.empty() && !parse(tok, 0, tok.size(), false, net, f, err)) err = "pronunciation: " + err;
    if (err.empty() && f.nullable) err = "pronunciation can be empty";
    if (err.empty() && net.labels.size() > 32000) err = "pronunciation has too many phones";
    if (!err.empty()) {
        GS_AppendResult(r, err.c_str(), nullptr);
        return nullptr;
    }
    int n = (int)net.labels.size();
    WordGraph *g = newGraph(n, name);
    std::set<int> first(f.first.begin(), f.first.end()), last(f.last.begin(), f.last.end());
    for (int i = 0; i < n; i++) {
        WordNode &node = g->nodes[i];
        node.name = copy(net.labels[i].c_str());
        node.probIndex = -1;
        node.numSuccessors = (int16_t)net.follow[i].size();
        node.successors = static_cast<int16_t *>(DB_MALLOC(sizeof(int16_t) * (node.numSuccessors + 1)));
        int k = 0;
        for (int s : net.follow[i]) node.successors[k++] = (int16_t)s;
        bool in = first.count(i), out = last.count(i);
        node.kind = in && out ? WORD_INITFINAL : in ? WORD_INITIAL : out ? WORD_FINAL : WORD_INNER;
        g->numInit += in;
        g->numFinal += out;
    }
    return g;
}

WordGraph *expandWord(GS_Result *r, const WordGraph *word, const ProbNames *names) {
    Expansion x(word, names);
    std::string err;
    if (!x.build(err)) {
        GS_AppendResult(r, "word (", word->name, "): ", err.c_str(), nullptr);
        return nullptr;
    }
    int n = (int)x.nodes.size();
    WordGraph *g = newGraph(n, word->name);
    for (int i = 0; i < n; i++) {
        const Expansion::Node &s = x.nodes[i];
        WordNode &d = g->nodes[i];
        d.name = copy(names->entries[s.entry].name);
        d.probIndex = (int16_t)s.entry;
        d.numSuccessors = (int16_t)s.next.size();
        d.successors = static_cast<int16_t *>(DB_MALLOC(sizeof(int16_t) * (s.next.size() + 1)));
        int k = 0;
        for (int t : s.next) d.successors[k++] = (int16_t)t;
        d.kind = s.in && s.out ? WORD_INITFINAL : s.in ? WORD_INITIAL : s.out ? WORD_FINAL : WORD_INNER;
        g->numInit += s.in;
        g->numFinal += s.out;
    }
    return g;
}

void freeWord(WordGraph *word) {
    if (!word) return;
    for (int i = 0; i < word->numNodes; i++) {
        DB_FREE(word->nodes[i].name);
        DB_FREE(word->nodes[i].successors);
    }
    DB_FREE(word->nodes);
    DB_FREE(word->name);
    DB_FREE(word);
}

} // extern "C"
