// Word grammars: regular-expression text with named rules, or networks
// written by hand, both as networks of word positions.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>

#include "expr_int.h"
#include "word.h"
#include "yastro.h"

namespace {

char *copy(const std::string &s) {
    char *p = static_cast<char *>(DB_MALLOC(s.size() + 1));
    memcpy(p, s.c_str(), s.size() + 1);
    return p;
}

struct Pos {
    std::string word;
    bool initial = false, final = false;
    float entry = 0;
    std::vector<std::pair<int, float>> next;
};

WordGrammar *make(const std::vector<Pos> &pos, const char *name) {
    WordGrammar *g = static_cast<WordGrammar *>(DB_MALLOC(sizeof(WordGrammar)));
    g->name = copy(name ? name : "");
    g->count = (int32_t)pos.size();
    g->positions = static_cast<GrammarPosition *>(DB_MALLOC(sizeof(GrammarPosition) * (pos.size() + 1)));
    for (size_t i = 0; i < pos.size(); i++) {
        GrammarPosition &p = g->positions[i];
        p.word = copy(pos[i].word);
        p.initial = pos[i].initial;
        p.final = pos[i].final;
        p.entryScore = pos[i].entry;
        p.numNext = (int32_t)pos[i].next.size();
        p.next = static_cast<int32_t *>(DB_MALLOC(sizeof(int32_t) * (p.numNext + 1)));
        p.nextScore = static_cast<float *>(DB_MALLOC(sizeof(float) * (p.numNext + 1)));
        for (int k = 0; k < p.numNext; k++) {
            p.next[k] = pos[i].next[k].first;
            p.nextScore[k] = pos[i].next[k].second;
        }
    }
    return g;
}

WordGrammar *refuse(GS_Result *r, const char *name, const std::string &why) {
    GS_AppendResult(r, "grammar (", name ? name : "", "): ", why.c_str(), nullptr);
    return nullptr;
}

} // namespace

extern "C" {

WordGrammar *buildGrammar(GS_Result *r, const char *text, const char *name) {
    using namespace wordexpr;
    std::vector<std::string> tok = tokenize(text ? text : "", "()[]|{}<>=;");
    // Statements end at ";"; "$name = ..." defines a rule.
    std::map<std::string, std::pair<size_t, size_t>> rules;
    std::vector<std::pair<size_t, size_t>> sentences;
    for (size_t i = 0; i < tok.size();) {
        size_t j = i;
        while (j < tok.size() && tok[j] != ";") j++;
        if (j > i) {
            if (j - i >= 2 && tok[i][0] == '$' && tok[i + 1] == "=") {
                if (rules.count(tok[i])) return refuse(r, name, "rule " + tok[i] + " defined twice");
                rules[tok[i]] = {i + 2, j};
            } else {
                sentences.push_back({i, j});
            }
        }
        i = j + 1;
    }
    if (sentences.size() != 1)
        return refuse(r, name, sentences.empty() ? "no sentence expression" : "more than one sentence expression");
    std::vector<std::string> active;
    std::function<bool(const std::string &)> isRef = [](const std::string &t) { return t[0] == '$'; };
    RefProc ref = [&](const std::string &t, Net &net, Frag &out, std::string &err) -> bool {
        auto it = rules.find(t);
        if (it == rules.end()) {
            err = "undefined rule " + t;
            return false;
        }
        if (std::find(active.begin(), active.end(), t) != active.end()) {
            err = "rule " + t + " refers to itself";
            return false;
        }
        active.push_back(t);
        bool ok = parse(tok, it->second.first, it->second.second, true, net, out, err, isRef, ref);
        active.pop_back();
        return ok;
    };
    Net net;
    Frag f;
    std::string err;
    if (!parse(tok, sentences[0].first, sentences[0].second, true, net, f, err, isRef, ref)) return refuse(r, name, err);
    if (f.nullable) return refuse(r, name, "the sentence can be empty");
    std::vector<Pos> pos(net.labels.size());
    for (size_t i = 0; i < pos.size(); i++) {
        pos[i].word = net.labels[i];
        for (int s : net.follow[i]) pos[i].next.push_back({s, 0.0f});
    }
    for (int i : f.first) pos[i].initial = true;
    for (int i : f.last) pos[i].final = true;
    return make(pos, name);
}

WordGrammar *buildGrammarByHand(GS_Result *r, const char *text, const char *name) {
    struct Arc {
        std::string from, to, word;
        float score;
    };
    std::vector<Arc> arcs;
    std::vector<std::string> initial, final;
    std::istringstream in(text ? text : "");
    std::string line;
    int lineNo = 0;
    while (std::getline(in, line)) {
        lineNo++;
        std::istringstream ls(line);
        std::vector<std::string> w;
        for (std::string t; ls >> t;) w.push_back(t);
        if (w.empty()) continue;
        std::string at = "line " + std::to_string(lineNo) + ": ";
        if (w[0] == "initial" || w[0] == "final") {
            if (w.size() != 2) return refuse(r, name, at + w[0] + " needs one state");
            (w[0] == "initial" ? initial : final).push_back(w[1]);
        } else if (w.size() == 3 || w.size() == 4) {
            float score = 0;
            if (w.size() == 4) {
                char *end;
                double p = strtod(w[3].c_str(), &end);
                if (*end || !(p > 0)) return refuse(r, name, at + "probability must be a number above 0");
                score = (float)std::log(p);
            }
            arcs.push_back({w[0], w[1], w[2], score});
        } else {
            return refuse(r, name, at + "expected \"from to word ?prob?\", \"initial state\" or \"final state\"");
        }
    }
    if (arcs.empty()) return refuse(r, name, "no transitions");
    if (initial.empty() || final.empty()) return refuse(r, name, "needs an initial and a final state");
    auto has = [](const std::vector<std::string> &v, const std::string &s) {
        return std::find(v.begin(), v.end(), s) != v.end();
    };
    // Each arc is a word position: it may follow the arcs into its source.
    std::vector<Pos> pos(arcs.size());
    bool anyInitial = false;
    for (size_t i = 0; i < arcs.size(); i++) {
        pos[i].word = arcs[i].word;
        pos[i].initial = has(initial, arcs[i].from);
        pos[i].final = has(final, arcs[i].to);
        pos[i].entry = arcs[i].score;
        anyInitial = anyInitial || pos[i].initial;
        for (size_t j = 0; j < arcs.size(); j++)
            if (arcs[j].from == arcs[i].to) pos[i].next.push_back({(int)j, arcs[j].score});
    }
    if (!anyInitial) return refuse(r, name, "no transition leaves an initial state");
    return make(pos, name);
}

void freeGrammar(WordGrammar *grammar) {
    if (!grammar) return;
    for (int i = 0; i < grammar->count; i++) {
        DB_FREE(grammar->positions[i].word);
        DB_FREE(grammar->positions[i].next);
        DB_FREE(grammar->positions[i].nextScore);
    }
    DB_FREE(grammar->positions);
    DB_FREE(grammar->name);
    DB_FREE(grammar);
}

} // extern "C"
