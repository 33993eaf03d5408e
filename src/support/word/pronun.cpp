// Word graphs from pronunciations, and their probability entries.
#include <cstring>
#include <string>

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
    for (int i = 0; i < word->numNodes; i++) {
        if (word->nodes[i].kind == WORD_NULL) continue;
        if (modelToCat(names, word->nodes[i].name) < 0) {
            GS_AppendResult(r, "word (", word->name, "): phone (", word->nodes[i].name, ") has no recognizer output",
                            nullptr);
            return nullptr;
        }
    }
    WordGraph *g = newGraph(word->numNodes, word->name);
    g->numInit = word->numInit;
    g->numFinal = word->numFinal;
    for (int i = 0; i < word->numNodes; i++) {
        const WordNode &s = word->nodes[i];
        WordNode &d = g->nodes[i];
        d = s;
        d.name = copy(s.name);
        d.successors = static_cast<int16_t *>(DB_MALLOC(sizeof(int16_t) * (s.numSuccessors + 1)));
        memcpy(d.successors, s.successors, sizeof(int16_t) * s.numSuccessors);
        d.probIndex = s.kind == WORD_NULL ? -1 : (int16_t)modelToCat(names, s.name);
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
