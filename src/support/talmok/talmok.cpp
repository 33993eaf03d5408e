// Context and triphone expansion, reversal, triphone files and the
// pronunciations of word graphs.
#include "talmok.h"

#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>

#include "hmm.h"
#include "yastro.h"

namespace {

char *copy(const std::string &s) {
    char *p = static_cast<char *>(DB_MALLOC(s.size() + 1));
    memcpy(p, s.c_str(), s.size() + 1);
    return p;
}

// A copy of the graph with new node names and model indices.
WordGraph *renamed(const WordGraph *w, const std::vector<std::string> &names, const std::vector<int> &index) {
    WordGraph *g = static_cast<WordGraph *>(DB_MALLOC(sizeof(WordGraph)));
    *g = *w;
    g->name = copy(w->name ? w->name : "");
    g->nodes = static_cast<WordNode *>(DB_MALLOC(sizeof(WordNode) * (w->numNodes ? w->numNodes : 1)));
    for (int i = 0; i < w->numNodes; i++) {
        const WordNode &s = w->nodes[i];
        WordNode &d = g->nodes[i];
        d = s;
        d.name = copy(names[i]);
        d.successors = static_cast<int16_t *>(DB_MALLOC(sizeof(int16_t) * (s.numSuccessors + 1)));
        if (s.numSuccessors > 0) memcpy(d.successors, s.successors, sizeof(int16_t) * s.numSuccessors);
        d.probIndex = static_cast<int16_t>(index[i]);
    }
    return g;
}

// The single left and right neighbour of each node ("" when several), with
// edge for a node that starts or ends the word.
void neighbours(const WordGraph *w, const std::string &edge, std::vector<std::string> &left,
                std::vector<std::string> &right) {
    int n = w->numNodes;
    left.assign(n, "");
    right.assign(n, "");
    std::vector<int> preds(n, 0);
    for (int i = 0; i < n; i++) {
        const WordNode &s = w->nodes[i];
        if (s.kind == WORD_NULL) continue;
        for (int k = 0; k < s.numSuccessors; k++) {
            int j = s.successors[k];
            if (j < 0 || j >= n) continue;
            preds[j]++;
            left[j] = preds[j] == 1 ? (s.name ? s.name : "") : "";
        }
        bool initial = s.kind == WORD_INITIAL || s.kind == WORD_INITFINAL;
        bool final = s.kind == WORD_FINAL || s.kind == WORD_INITFINAL;
        if (final && s.numSuccessors == 0) right[i] = edge;
        else if (!final && s.numSuccessors == 1) right[i] = w->nodes[s.successors[0]].name;
        if (initial) preds[i] += 100;  // entered from the edge too
    }
    for (int i = 0; i < n; i++) {
        const WordNode &s = w->nodes[i];
        bool initial = s.kind == WORD_INITIAL || s.kind == WORD_INITFINAL;
        if (initial) left[i] = preds[i] == 100 ? edge : "";
    }
}

}  // namespace

WordGraph *Talmok_ContextWord(GS_Result *r, const WordGraph *w, const HmmDescription *d, const char *silence) {
    (void)r;
    std::vector<std::string> left, right, names(w->numNodes);
    std::vector<int> index(w->numNodes, -1);
    neighbours(w, silence ? silence : ".pau", left, right);
    for (int i = 0; i < w->numNodes; i++) {
        std::string c = w->nodes[i].name ? w->nodes[i].name : "";
        names[i] = c;
        if (w->nodes[i].kind == WORD_NULL) continue;
        std::string unit;
        bool found = (!left[i].empty() && !right[i].empty() && Hmm_WholeUnit(d, left[i], c, right[i], &unit)) ||
                     Hmm_MiddlePart(d, c, &unit);
        if (!found) continue;
        names[i] = unit;
        int e = Hmm_FindEntry(d, unit.c_str());
        index[i] = e >= 0 ? d->entries[e].hmmIndex : -1;
    }
    return renamed(w, names, index);
}

WordGraph *Talmok_ReverseWord(const WordGraph *w) {
    int n = w->numNodes;
    std::vector<std::string> names;
    std::vector<int> index;
    for (int i = 0; i < n; i++) {
        names.push_back(w->nodes[i].name ? w->nodes[i].name : "");
        index.push_back(w->nodes[i].probIndex);
    }
    WordGraph *g = renamed(w, names, index);
    std::vector<std::vector<int16_t>> preds(n);
    for (int i = 0; i < n; i++)
        for (int k = 0; k < w->nodes[i].numSuccessors; k++) {
            int j = w->nodes[i].successors[k];
            if (j >= 0 && j < n) preds[j].push_back(static_cast<int16_t>(i));
        }
    for (int i = 0; i < n; i++) {
        WordNode &d = g->nodes[i];
        DB_FREE(d.successors);
        d.successors = static_cast<int16_t *>(DB_MALLOC(sizeof(int16_t) * (preds[i].size() + 1)));
        if (!preds[i].empty()) memcpy(d.successors, preds[i].data(), sizeof(int16_t) * preds[i].size());
        d.numSuccessors = static_cast<int16_t>(preds[i].size());
        if (d.kind == WORD_INITIAL) d.kind = WORD_FINAL;
        else if (d.kind == WORD_FINAL) d.kind = WORD_INITIAL;
    }
    g->numInit = w->numFinal;
    g->numFinal = w->numInit;
    return g;
}

WordGrammar *Talmok_ReverseGrammar(const WordGrammar *gr) {
    int n = gr->count;
    WordGrammar *g = static_cast<WordGrammar *>(DB_MALLOC(sizeof(WordGrammar)));
    g->name = copy(gr->name ? gr->name : "");
    g->count = n;
    g->positions = static_cast<GrammarPosition *>(DB_MALLOC(sizeof(GrammarPosition) * (n ? n : 1)));
    std::vector<std::vector<std::pair<int32_t, float>>> preds(n);
    for (int i = 0; i < n; i++)
        for (int k = 0; k < gr->positions[i].numNext; k++) {
            int j = gr->positions[i].next[k];
            if (j >= 0 && j < n) preds[j].emplace_back(i, gr->positions[i].nextScore[k]);
        }
    for (int i = 0; i < n; i++) {
        const GrammarPosition &s = gr->positions[i];
        GrammarPosition &d = g->positions[i];
        d.word = copy(s.word ? s.word : "");
        d.initial = s.final;
        d.final = s.initial;
        d.entryScore = 0.0f;
        d.numNext = static_cast<int32_t>(preds[i].size());
        d.next = static_cast<int32_t *>(DB_MALLOC(sizeof(int32_t) * (preds[i].size() + 1)));
        d.nextScore = static_cast<float *>(DB_MALLOC(sizeof(float) * (preds[i].size() + 1)));
        for (size_t k = 0; k < preds[i].size(); k++) {
            d.next[k] = preds[i][k].first;
            d.nextScore[k] = preds[i][k].second;
        }
    }
    return g;
}

TalmokTriphone *Talmok_LoadTriphone(GS_Result *r, const char *path) {
    std::ifstream in(path);
    if (!in) {
        GS_AppendResult(r, "could not open triphone file \"", path, "\"", (char *)nullptr);
        return nullptr;
    }
    TalmokTriphone *t = new TalmokTriphone();
    int line = 0;
    for (std::string text; std::getline(in, text);) {
        line++;
        if (!text.empty() && text.back() == '\r') text.pop_back();
        std::istringstream ls(text);
        std::string key, unit, extra;
        ls >> key >> unit >> extra;
        if (key.empty() || key[0] == '#') continue;
        size_t minus = key.find('-'), plus = key.rfind('+');
        if (unit.empty() || !extra.empty() || minus == std::string::npos || plus == std::string::npos ||
            plus < minus + 2) {
            GS_AppendResult(r, path, ": line ", std::to_string(line).c_str(), " is not \"l-c+r UNIT\"",
                            (char *)nullptr);
            delete t;
            return nullptr;
        }
        t->units[key] = unit;
    }
    return t;
}

WordGraph *Talmok_TriphoneWord(GS_Result *r, const WordGraph *w, const TalmokTriphone *table) {
    (void)r;
    std::vector<std::string> left, right, names(w->numNodes);
    std::vector<int> index(w->numNodes, -1);
    neighbours(w, ".pau", left, right);
    for (int i = 0; i < w->numNodes; i++) {
        std::string c = w->nodes[i].name ? w->nodes[i].name : "";
        names[i] = c;
        if (left[i].empty() || right[i].empty()) continue;
        auto it = table->units.find(left[i] + "-" + c + "+" + right[i]);
        if (it != table->units.end()) names[i] = it->second;
    }
    return renamed(w, names, index);
}

std::vector<std::string> Talmok_Pronunciations(const WordGraph *w, const std::vector<std::string> &labels) {
    std::vector<std::string> out;
    std::vector<int> path;
    // Depth first from each initial node; a path ends at a final node.
    std::function<void(int)> walk = [&](int i) {
        if ((int)path.size() > w->numNodes + 1) return;  // a loop through inner nodes
        path.push_back(i);
        const WordNode &n = w->nodes[i];
        if (n.kind == WORD_FINAL || n.kind == WORD_INITFINAL) {
            std::string s;
            for (int k : path) s += (s.empty() ? "" : " ") + labels[k];
            out.push_back(s);
        }
        for (int k = 0; k < n.numSuccessors; k++) {
            int j = n.successors[k];
            if (j >= 0 && j < w->numNodes && w->nodes[j].kind != WORD_NULL) walk(j);
        }
        path.pop_back();
    };
    for (int i = 0; i < w->numNodes; i++)
        if (w->nodes[i].kind == WORD_INITIAL || w->nodes[i].kind == WORD_INITFINAL) walk(i);
    return out;
}
