// The hierarchical search: network building, token passing over HMM states
// frame by frame, backtracking into segment lists, and word alignment.
#include "sevrin.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>

namespace {
const double kNegInf = -std::numeric_limits<double>::infinity();
// The context of a sentence's first and last phones, as in expanded words.
const char *const kEdge = ".pau";
}

// One node of one word position, bound to a model. With a triphone table a
// phone gets a copy per left context and per group of right contexts that
// share a model; without one, a copy per phone that any context may use.
struct SevrinNode {
    int grammar, position, node;
    HmmModel *model;
    int firstState;
    std::vector<int> successors; // nodes of the same position
    bool initial, final;
    int phone = -1;     // the phone's id among the context names
    int left = -1;      // the phone it must be entered from; -1: any
    int exitClass = -1; // a final node's class of word ends
};

// What may follow a class of word ends: the final phone and the phones
// allowed after it (any: no contexts).
struct SevrinExit {
    int phone = -1;
    bool any = true;
    std::vector<int> right; // sorted
};

struct SevrinRecord {
    int prev;
    int kind;  // 0 word, 1 phone, 2 state
    int label; // position (word), node (phone), state
    int end;
    double score;
};

// The last two language-model words of a path, older first (-1: none).
struct SevrinHist {
    int w1 = -1, w2 = -1;
    bool operator==(const SevrinHist &o) const { return w1 == o.w1 && w2 == o.w2; }
};

// A state, entry or word end keeps one token per history, so that the
// model's scores of the words to come are exact for every path.
struct SevrinToken {
    double score = kNegInf;
    int rec = -1;
    SevrinHist hist;
    int from = 0; // where it came from, while a step is taken
};
using SevrinTokens = std::vector<SevrinToken>;

struct SevrinNet {
    std::vector<SevrinNode> nodes;
    std::vector<int> stateNode, stateLocal, stateMix;
    std::vector<int> mixPool; // per mixture: its index in the pool
    std::vector<HmmMixture *> mixtures;
    std::vector<std::vector<std::vector<int>>> positionNodes; // [g][p] -> nodes
    std::vector<int> gramBase;  // per grammar: its first position's flat index
    std::vector<int> classBase; // per flat position: its first class; one more at the end
    std::vector<SevrinExit> classes;
    SevrinExit start;           // what the sentence's first word is entered from
    int pau = -1;               // the edge context, when contexts are used
    std::vector<SevrinTokens> tokens, next, entry, exits, ends;
    std::vector<SevrinRecord> records;
    std::vector<HmmModel *> held;
    ~SevrinNet() {
        for (HmmModel *m : held) Hmm_NukeModel(m);
    }
};

SevrinLattice *Sevrin_NewLattice(int initCell, int incrCell, int initNode, int incrNode) {
    SevrinLattice *l = new SevrinLattice();
    l->incrCell = incrCell;
    l->incrNode = incrNode;
    l->cells.reserve(initCell > 0 ? initCell : 0);
    l->nodeFrames.reserve(initNode > 0 ? initNode : 0);
    return l;
}

void Sevrin_ResetLattice(SevrinLattice *l) {
    l->cells.clear();
    l->nodeFrames.clear();
    l->numCells = l->numNodes = 0;
}

SevrinSearch *Sevrin_CreateGrammar(GS_Result *r, WordGrammar *const *grammars, int numGrammars,
                                   WordGraph *const *words, int numWords, const LmVocab *vocab, bool appendSp,
                                   const std::map<std::string, std::string> *triphones) {
    if (numGrammars <= 0) {
        GS_AppendResult(r, "no grammar", (char *)nullptr);
        return nullptr;
    }
    std::unique_ptr<SevrinSearch> s(new SevrinSearch());
    if (triphones) s->triphones = *triphones;
    std::map<std::string, int> byName;
    for (int w = 0; w < numWords; w++) {
        const WordGraph *g = words[w];
        SevrinSearch::Word word;
        word.name = g->name ? g->name : "";
        for (int n = 0; n < g->numNodes; n++) {
            const WordNode &nd = g->nodes[n];
            word.nodeNames.push_back(nd.name ? nd.name : "");
            word.modelIndex.push_back(nd.probIndex);
            std::vector<int> succ(nd.successors, nd.successors + std::max<int>(nd.numSuccessors, 0));
            for (int x : succ)
                if (x < 0 || x >= g->numNodes) {
                    GS_AppendResult(r, "word \"", word.name.c_str(), "\" links outside its nodes", (char *)nullptr);
                    return nullptr;
                }
            word.successors.push_back(succ);
            word.kinds.push_back(nd.kind);
        }
        if (appendSp) {
            // An optional pause after the word: its ends stay ends.
            int sp = static_cast<int>(word.nodeNames.size());
            bool any = false;
            for (int n = 0; n < sp; n++)
                if (word.kinds[n] == WORD_FINAL || word.kinds[n] == WORD_INITFINAL) {
                    word.successors[n].push_back(sp);
                    any = true;
                }
            if (any) {
                word.nodeNames.push_back("sp");
                word.modelIndex.push_back(-1);
                word.successors.emplace_back();
                word.kinds.push_back(WORD_FINAL);
            }
        }
        byName.emplace(word.name, w);
        s->lmWord.push_back(vocab ? lm_vocabLookup(vocab, word.name.c_str()) : w);
        s->words.push_back(std::move(word));
    }
    for (int g = 0; g < numGrammars; g++) {
        const WordGrammar *gr = grammars[g];
        std::vector<SevrinSearch::Position> pos;
        for (int p = 0; p < gr->count; p++) {
            const GrammarPosition &gp = gr->positions[p];
            auto it = byName.find(gp.word ? gp.word : "");
            if (it == byName.end()) {
                GS_AppendResult(r, "grammar \"", gr->name ? gr->name : "", "\" uses the word \"",
                                gp.word ? gp.word : "", "\", which is not among the words", (char *)nullptr);
                return nullptr;
            }
            SevrinSearch::Position q{it->second, gp.initial != 0, gp.final != 0, gp.entryScore, {}, {}};
            for (int k = 0; k < gp.numNext; k++) {
                q.next.push_back(gp.next[k]);
                q.nextScore.push_back(gp.nextScore[k]);
            }
            pos.push_back(q);
        }
        s->grammars.push_back(pos);
    }
    return s.release();
}

namespace {

HmmModel *listModel(const HmmList *list, const std::string &name) {
    for (int k = 0; k < list->numModels; k++)
        if (name == list->models[k]->name) return list->models[k];
    return nullptr;
}

}  // namespace

HmmModel *Sevrin_NodeModel(const HmmList *list, const SevrinSearch::Word &w, int n) {
    int i = w.modelIndex[n];
    if (i >= 0 && i < list->numModels) return list->models[i];
    return listModel(list, w.nodeNames[n]);
}

namespace {

bool initialKind(int kind) { return kind == WORD_INITIAL || kind == WORD_INITFINAL; }
bool finalKind(int kind) { return kind == WORD_FINAL || kind == WORD_INITFINAL; }

// Where the search goes on after a word end of position (g, p), and the
// grammar's score of going there.
struct Follower {
    int grammar, position;
    float score;
};

std::vector<Follower> followers(const SevrinSearch *s, int g, int p) {
    std::vector<Follower> out;
    const SevrinSearch::Position &q = s->grammars[g][p];
    for (size_t k = 0; k < q.next.size(); k++) out.push_back({g, q.next[k], s->grammarScale * q.nextScore[k]});
    if (q.final && g + 1 < (int)s->grammars.size())
        for (size_t p2 = 0; p2 < s->grammars[g + 1].size(); p2++)
            if (s->grammars[g + 1][p2].initial)
                out.push_back({g + 1, (int)p2, s->grammarScale * s->grammars[g + 1][p2].entryScore});
    return out;
}

bool accepts(const SevrinExit &from, const SevrinNode &n) {
    return (n.left < 0 || n.left == from.phone) &&
           (from.any || std::binary_search(from.right.begin(), from.right.end(), n.phone));
}

bool endsSentence(const SevrinNet &net, const SevrinExit &c) {
    return c.any || std::binary_search(c.right.begin(), c.right.end(), net.pau);
}

// Builds the network. With a triphone table every phone's neighbours are
// gathered first, across word ends too (the edge name at the sentence's
// ends), so that each copy of a phone knows the phones around it.
bool build(GS_Result *r, SevrinSearch *s) {
    auto net = std::make_shared<SevrinNet>();
    const bool ctx = !s->triphones.empty();
    std::map<std::string, int> phoneId;
    std::vector<std::string> phoneName;
    auto id = [&](const std::string &n) {
        auto it = phoneId.emplace(n, (int)phoneName.size());
        if (it.second) phoneName.push_back(n);
        return it.first->second;
    };
    const int G = (int)s->grammars.size();
    int numPos = 0;
    for (int g = 0; g < G; g++) {
        net->gramBase.push_back(numPos);
        numPos += (int)s->grammars[g].size();
    }
    auto wordAt = [&](int g, int p) -> const SevrinSearch::Word & { return s->words[s->grammars[g][p].word]; };
    std::vector<std::vector<std::set<int>>> left(numPos), right(numPos);
    if (ctx) {
        net->pau = id(kEdge);
        std::vector<std::set<int>> firsts(numPos), lasts(numPos);
        for (int g = 0; g < G; g++)
            for (int p = 0; p < (int)s->grammars[g].size(); p++) {
                const SevrinSearch::Word &w = wordAt(g, p);
                int fp = net->gramBase[g] + p, nn = (int)w.nodeNames.size();
                left[fp].resize(nn);
                right[fp].resize(nn);
                for (int n = 0; n < nn; n++) {
                    if (w.kinds[n] == WORD_NULL) continue;
                    if (initialKind(w.kinds[n])) firsts[fp].insert(id(w.nodeNames[n]));
                    if (finalKind(w.kinds[n])) lasts[fp].insert(id(w.nodeNames[n]));
                    for (int x : w.successors[n])
                        if (w.kinds[x] != WORD_NULL) {
                            right[fp][n].insert(id(w.nodeNames[x]));
                            left[fp][x].insert(id(w.nodeNames[n]));
                        }
                }
            }
        for (int g = 0; g < G; g++)
            for (int p = 0; p < (int)s->grammars[g].size(); p++) {
                const SevrinSearch::Word &w = wordAt(g, p);
                int fp = net->gramBase[g] + p;
                const SevrinSearch::Position &q = s->grammars[g][p];
                std::set<int> after;
                for (const Follower &f : followers(s, g, p)) {
                    int fp2 = net->gramBase[f.grammar] + f.position;
                    after.insert(firsts[fp2].begin(), firsts[fp2].end());
                    const SevrinSearch::Word &w2 = wordAt(f.grammar, f.position);
                    for (size_t n = 0; n < w2.nodeNames.size(); n++)
                        if (initialKind(w2.kinds[n])) left[fp2][n].insert(lasts[fp].begin(), lasts[fp].end());
                }
                if (g == G - 1 && q.final) after.insert(net->pau);
                for (size_t n = 0; n < w.nodeNames.size(); n++) {
                    if (finalKind(w.kinds[n])) right[fp][n].insert(after.begin(), after.end());
                    if (g == 0 && q.initial && initialKind(w.kinds[n])) left[fp][n].insert(net->pau);
                }
            }
    }
    // The model of phone n of w between the phones l and rt: the table's
    // unit when it has one, else the phone's own.
    auto modelOf = [&](const SevrinSearch::Word &w, int n, int l, int rt) -> HmmModel * {
        if (ctx && l >= 0 && rt >= 0) {
            std::string key = phoneName[l] + "-" + w.nodeNames[n] + "+" + phoneName[rt];
            auto it = s->triphones.find(key);
            if (it != s->triphones.end()) {
                HmmModel *m = listModel(s->hmmlist, it->second);
                if (!m)
                    GS_AppendResult(r, "no model for the triphone unit \"", it->second.c_str(), "\" of \"",
                                    key.c_str(), "\"", (char *)nullptr);
                return m;
            }
        }
        HmmModel *m = Sevrin_NodeModel(s->hmmlist, w, n);
        if (!m)
            GS_AppendResult(r, "no model for \"", w.nodeNames[n].c_str(), "\" of word \"", w.name.c_str(), "\"",
                            (char *)nullptr);
        return m;
    };
    std::map<HmmMixture *, int> mixIndex;
    std::set<HmmModel *> holding;  // a triphone network has many copies of each model
    int dim = -1;
    auto addNode = [&](SevrinNode nd) -> bool {
        HmmModel *m = nd.model;
        if (holding.insert(m).second) {
            m->refs++;
            net->held.push_back(m);
        }
        nd.firstState = (int)net->stateNode.size();
        for (int st = 1; st < m->numStates - 1; st++) {
            HmmMixture *x = m->states[st];
            if (dim >= 0 && x->dim != dim) {
                GS_AppendResult(r, "the models differ in their feature widths", (char *)nullptr);
                return false;
            }
            dim = x->dim;
            auto it = mixIndex.emplace(x, (int)net->mixtures.size());
            if (it.second) {
                net->mixtures.push_back(x);
                net->mixPool.push_back(m->stateIndex[st]);
            }
            net->stateNode.push_back((int)net->nodes.size());
            net->stateLocal.push_back(st);
            net->stateMix.push_back(it.first->second);
        }
        net->nodes.push_back(nd);
        return true;
    };
    net->positionNodes.resize(G);
    for (int g = 0; g < G; g++) {
        for (int p = 0; p < (int)s->grammars[g].size(); p++) {
            const SevrinSearch::Word &w = wordAt(g, p);
            int fp = net->gramBase[g] + p, base = (int)net->nodes.size();
            std::vector<std::vector<int>> copies(w.nodeNames.size());
            std::vector<std::vector<int>> rights; // per copy, from base
            for (int n = 0; n < (int)w.nodeNames.size(); n++) {
                int kind = w.kinds[n];
                if (kind == WORD_NULL) continue;  // never entered
                SevrinNode nd{g, p, n, nullptr, 0, {}, initialKind(kind), finalKind(kind)};
                if (!ctx) {
                    if (!(nd.model = modelOf(w, n, -1, -1))) return false;
                    copies[n].push_back((int)net->nodes.size());
                    rights.emplace_back();
                    if (!addNode(nd)) return false;
                    continue;
                }
                nd.phone = id(w.nodeNames[n]);
                // A phone nothing leads to is never reached: no copy.
                for (int l : left[fp][n]) {
                    std::vector<std::pair<HmmModel *, std::vector<int>>> groups;
                    for (int rt : right[fp][n]) {
                        HmmModel *m = modelOf(w, n, l, rt);
                        if (!m) return false;
                        auto it = std::find_if(groups.begin(), groups.end(),
                                               [&](const std::pair<HmmModel *, std::vector<int>> &x) { return x.first == m; });
                        if (it == groups.end()) groups.push_back({m, {rt}});
                        else it->second.push_back(rt);
                    }
                    if (groups.empty()) {  // leads nowhere, kept for the paths that end in it
                        HmmModel *m = modelOf(w, n, -1, -1);
                        if (!m) return false;
                        groups.push_back({m, {}});
                    }
                    for (auto &gr : groups) {
                        nd.model = gr.first;
                        nd.left = l;
                        copies[n].push_back((int)net->nodes.size());
                        rights.push_back(gr.second);
                        if (!addNode(nd)) return false;
                    }
                }
            }
            for (int n = 0; n < (int)w.nodeNames.size(); n++)
                for (int a : copies[n])
                    for (int x : w.successors[n])
                        for (int b : copies[x]) {
                            const std::vector<int> &rt = rights[a - base];
                            if (!ctx || (net->nodes[b].left == net->nodes[a].phone &&
                                         std::binary_search(rt.begin(), rt.end(), net->nodes[b].phone)))
                                net->nodes[a].successors.push_back(b);
                        }
            // Final copies that allow the same phones after them end words alike.
            net->classBase.push_back((int)net->classes.size());
            std::vector<int> list;
            for (int i = base; i < (int)net->nodes.size(); i++) {
                list.push_back(i);
                SevrinNode &nd = net->nodes[i];
                if (!nd.final) continue;
                SevrinExit c;
                if (ctx) {
                    c.phone = nd.phone;
                    c.any = false;
                    c.right = rights[i - base];
                }
                int k = net->classBase.back();
                while (k < (int)net->classes.size() &&
                       !(net->classes[k].phone == c.phone && net->classes[k].any == c.any && net->classes[k].right == c.right))
                    k++;
                if (k == (int)net->classes.size()) net->classes.push_back(c);
                nd.exitClass = k;
            }
            net->positionNodes[g].push_back(list);
        }
    }
    net->classBase.push_back((int)net->classes.size());
    if (net->stateNode.empty()) {
        GS_AppendResult(r, "the search has no state", (char *)nullptr);
        return false;
    }
    net->start.phone = net->pau;
    net->tokens.assign(net->stateNode.size(), SevrinTokens());
    s->net = net;
    s->frame = 0;
    return true;
}

void offer(SevrinTokens &v, double score, int rec, const SevrinHist &hist, int from = 0) {
    for (SevrinToken &t : v)
        if (t.hist == hist) {
            if (score > t.score) {
                t.score = score;
                t.rec = rec;
                t.from = from;
            }
            return;
        }
    v.push_back({score, rec, hist, from});
}

// The language model's cost of entering a word after hist, moving hist on;
// a word the model cannot score costs nothing and leaves hist alone. A
// bigram model keeps no older word, so that paths it scores alike share
// their tokens.
double lmEnter(const SevrinSearch *s, int word, SevrinHist &hist) {
    if (!s->lm) return 0;
    int w = s->lmWord.empty() ? word : s->lmWord[word];
    if (!lm_WordOk(s->lm, w)) return 0;
    bool tri = s->lm->levelCount >= 3;
    float v;
    if (hist.w2 < 0) v = lm_ReadUnigram(s->lm, w);
    else if (hist.w1 >= 0 && tri) v = lm_ReadTrigram(s->lm, hist.w1, hist.w2, w);
    else v = lm_ReadBigram(s->lm, hist.w2, w);
    if (v == LM_NO_SCORE) return 0;
    hist.w1 = tri ? hist.w2 : -1;
    hist.w2 = w;
    return s->grammarScale * static_cast<double>(v);
}

int addRecord(SevrinNet &net, int prev, int kind, int label, int end, double score) {
    net.records.push_back({prev, kind, label, end, score});
    return static_cast<int>(net.records.size()) - 1;
}

void clearAll(std::vector<SevrinTokens> &v, size_t n) {
    v.resize(n);
    for (SevrinTokens &x : v) x.clear();
}

// Tokens leaving each node at frame t (the model's exit), with phone and
// state records when traced.
std::vector<SevrinTokens> &exits(SevrinSearch *s, int t) {
    SevrinNet &net = *s->net;
    std::vector<SevrinTokens> &out = net.exits;
    clearAll(out, net.nodes.size());
    for (size_t i = 0; i < net.tokens.size(); i++) {
        if (net.tokens[i].empty()) continue;
        const SevrinNode &nd = net.nodes[net.stateNode[i]];
        double a = nd.model->trans->at(net.stateLocal[i], nd.model->numStates - 1);
        if (a == kNegInf) continue;
        for (const SevrinToken &tk : net.tokens[i]) offer(out[net.stateNode[i]], tk.score + a, tk.rec, tk.hist, (int)i);
    }
    for (size_t n = 0; n < out.size(); n++)
        for (SevrinToken &e : out[n]) {
            if (s->traceFlags & 4) e.rec = addRecord(net, e.rec, 2, e.from, t, e.score);
            if (s->traceFlags & 2) e.rec = addRecord(net, e.rec, 1, (int)n, t, e.score);
        }
    return out;
}

// Word ends of the nodes' exits: per class of word ends.
std::vector<SevrinTokens> &wordEnds(SevrinSearch *s, const std::vector<SevrinTokens> &ex) {
    SevrinNet &net = *s->net;
    clearAll(net.ends, net.classes.size());
    for (size_t n = 0; n < net.nodes.size(); n++)
        if (net.nodes[n].final)
            for (const SevrinToken &e : ex[n]) offer(net.ends[net.nodes[n].exitClass], e.score, e.rec, e.hist);
    return net.ends;
}

void enterWord(SevrinSearch *s, int g, int p, double score, int rec, SevrinHist hist, const SevrinExit &from) {
    SevrinNet &net = *s->net;
    score += lmEnter(s, s->grammars[g][p].word, hist);
    for (int n : net.positionNodes[g][p])
        if (net.nodes[n].initial && accepts(from, net.nodes[n])) offer(net.entry[n], score, rec, hist);
}

}  // namespace

int Sevrin_Check(GS_Result *r, SevrinSearch *s) {
    if (s->net) return 0;
    if (!s->hmmlist) {
        GS_AppendResult(r, "the search has no model list: bind one with set", (char *)nullptr);
        return 1;
    }
    return build(r, s) ? 0 : 1;
}

void Sevrin_Bind(SevrinSearch *s, HmmList *list) {
    s->hmmlist = list;
    s->net.reset();
    s->frame = 0;
}

void Sevrin_Reset(SevrinSearch *s) {
    if (s->net) {
        clearAll(s->net->tokens, s->net->stateNode.size());
        s->net->records.clear();
    }
    s->frame = 0;
    if (s->lattice) Sevrin_ResetLattice(s->lattice);
}

namespace {

// One frame's score of every mixture of the network.
using Scorer = std::function<double(int mixture, int row)>;

int forwardWith(GS_Result *r, SevrinSearch *s, int numRows, const Scorer &score);

}  // namespace

int Sevrin_Forward(GS_Result *r, SevrinSearch *s, float *const *rows, int numRows, int cols) {
    if (Sevrin_Check(r, s)) return 1;
    SevrinNet &net = *s->net;
    if (cols != net.mixtures[0]->dim) {
        GS_AppendResult(r, "features of ", std::to_string(cols).c_str(), " columns for models of ",
                        std::to_string(net.mixtures[0]->dim).c_str(), (char *)nullptr);
        return 1;
    }
    return forwardWith(r, s, numRows, [&](int m, int row) { return Hmm_Score(net.mixtures[m], rows[row]); });
}

int Sevrin_ForwardProbs(GS_Result *r, SevrinSearch *s, float *const *rows, int numRows, int cols, float scale,
                        const float *priors) {
    if (Sevrin_Check(r, s)) return 1;
    SevrinNet &net = *s->net;
    int need = *std::max_element(net.mixPool.begin(), net.mixPool.end()) + 1;
    if (cols < need) {
        GS_AppendResult(r, "probabilities of ", std::to_string(cols).c_str(), " columns for models of ",
                        std::to_string(need).c_str(), " mixtures", (char *)nullptr);
        return 1;
    }
    return forwardWith(r, s, numRows, [&](int m, int row) {
        int c = net.mixPool[m];
        double p = std::max((double)rows[row][c], 1e-30);
        if (priors) p = std::max(p / std::max((double)priors[c], 1e-30), 1e-30);
        return scale * std::log(p);
    });
}

namespace {

// Word ends at frame t: records them (and the lattice's cells) and enters
// the words that follow.
void endWords(SevrinSearch *s, int t, double pen, const std::vector<SevrinTokens> &ex) {
    SevrinNet &net = *s->net;
    std::vector<SevrinTokens> &ends = wordEnds(s, ex);
    double best = kNegInf;
    for (const SevrinTokens &v : ends)
        for (const SevrinToken &e : v) best = std::max(best, e.score);
    const double floor = best - s->wordEndBeam;
    for (size_t g = 0; g < s->grammars.size(); g++)
        for (size_t p = 0; p < s->grammars[g].size(); p++) {
            int fp = net.gramBase[g] + (int)p;
            const SevrinToken *top = nullptr;
            for (int k = net.classBase[fp]; k < net.classBase[fp + 1]; k++)
                for (const SevrinToken &e : ends[k])
                    if (e.score >= floor && (!top || e.score > top->score)) top = &e;
            if (!top) continue;
            const SevrinSearch::Position &q = s->grammars[g][p];
            if (s->lattice) {
                int begin = 0;
                for (int k = top->rec; k >= 0; k = net.records[k].prev)
                    if (net.records[k].kind == 0) {
                        begin = net.records[k].end;
                        break;
                    }
                s->lattice->cells.push_back({q.word, begin, t, static_cast<float>(top->score)});
                s->lattice->numCells++;
                if (s->lattice->nodeFrames.empty() || s->lattice->nodeFrames.back() != t) {
                    s->lattice->nodeFrames.push_back(t);
                    s->lattice->numNodes++;
                }
            }
            std::vector<Follower> next = followers(s, (int)g, (int)p);
            for (int k = net.classBase[fp]; k < net.classBase[fp + 1]; k++)
                for (const SevrinToken &e : ends[k]) {
                    if (e.score < floor) continue;
                    int rec = addRecord(net, e.rec, 0, static_cast<int>(g * 0x10000 + p), t, e.score);
                    for (const Follower &f : next)
                        enterWord(s, f.grammar, f.position, e.score + f.score + pen + s->crossModel, rec, e.hist,
                                  net.classes[k]);
                }
        }
}

int forwardWith(GS_Result *r, SevrinSearch *s, int numRows, const Scorer &score) {
    (void)r;
    SevrinNet &net = *s->net;
    const double pen = std::log(std::max(s->shortPen, 1e-30f));
    std::vector<double> emit(net.mixtures.size());
    std::vector<char> done(net.mixtures.size());
    std::vector<double> alive;
    for (int row = 0; row < numRows; row++, s->frame++) {
        int t = s->frame;
        clearAll(net.entry, net.nodes.size());
        if (t == 0) {
            for (size_t p = 0; p < s->grammars[0].size(); p++) {
                const SevrinSearch::Position &q = s->grammars[0][p];
                if (q.initial)
                    enterWord(s, 0, (int)p, s->grammarScale * q.entryScore + pen, -1, SevrinHist(), net.start);
            }
        } else {
            std::vector<SevrinTokens> &ex = exits(s, t);
            for (size_t n = 0; n < net.nodes.size(); n++)
                for (const SevrinToken &e : ex[n])
                    for (int x : net.nodes[n].successors) offer(net.entry[x], e.score, e.rec, e.hist);
            endWords(s, t, pen, ex);
        }
        // The Viterbi step inside the models, then the frame's scores.
        std::vector<SevrinTokens> &next = net.next;
        clearAll(next, net.tokens.size());
        std::fill(done.begin(), done.end(), 0);
        double best = kNegInf;
        for (size_t j = 0; j < next.size(); j++) {
            const SevrinNode &nd = net.nodes[net.stateNode[j]];
            const HmmTrans *tr = nd.model->trans;
            int sj = net.stateLocal[j];
            SevrinTokens &out = next[j];
            for (int si = 1; si < nd.model->numStates - 1; si++) {
                double a = tr->at(si, sj);
                if (a == kNegInf) continue;
                for (const SevrinToken &tk : net.tokens[nd.firstState + si - 1])
                    offer(out, tk.score + a, tk.rec, tk.hist, si);
            }
            double a0 = tr->at(0, sj);
            if (a0 > kNegInf)
                for (const SevrinToken &e : net.entry[net.stateNode[j]]) offer(out, e.score + a0, e.rec, e.hist, 0);
            if (out.empty()) continue;
            int m = net.stateMix[j];
            if (!done[m]) {
                emit[m] = score(m, row);
                done[m] = 1;
            }
            for (SevrinToken &tk : out) {
                if ((s->traceFlags & 4) && tk.from > 0 && tk.from != sj)
                    tk.rec = addRecord(net, tk.rec, 2, nd.firstState + tk.from - 1, t, tk.score);
                tk.score += emit[m];
                best = std::max(best, tk.score);
            }
        }
        double cut = best - s->beam;
        alive.clear();
        for (const SevrinTokens &v : next)
            for (const SevrinToken &tk : v)
                if (tk.score >= cut) alive.push_back(tk.score);
        if (s->active >= 1 && alive.size() > (size_t)s->active) {
            size_t k = static_cast<size_t>(s->active);
            std::nth_element(alive.begin(), alive.begin() + (k - 1), alive.end(), std::greater<double>());
            cut = std::max(cut, alive[k - 1]);
        }
        for (SevrinTokens &v : next)
            v.erase(std::remove_if(v.begin(), v.end(), [&](const SevrinToken &tk) { return tk.score < cut; }),
                    v.end());
        net.tokens.swap(next);
    }
    return 0;
}

}  // namespace

int Sevrin_Best(GS_Result *r, SevrinSearch *s, HalbrinList **lists) {
    lists[0] = lists[1] = lists[2] = nullptr;
    if (Sevrin_Check(r, s)) return 1;
    SevrinNet &net = *s->net;
    size_t keep = net.records.size();
    std::vector<SevrinTokens> &ends = wordEnds(s, exits(s, s->frame));
    SevrinToken best;
    int bestPos = -1;
    size_t last = s->grammars.size() - 1;
    for (size_t p = 0; p < s->grammars[last].size(); p++) {
        if (!s->grammars[last][p].final) continue;
        int fp = net.gramBase[last] + (int)p;
        for (int k = net.classBase[fp]; k < net.classBase[fp + 1]; k++)
            if (endsSentence(net, net.classes[k]))
                for (const SevrinToken &e : ends[k])
                    if (e.score > best.score) {
                        best = e;
                        bestPos = (int)p;
                    }
    }
    if (bestPos < 0 || s->frame == 0) {
        net.records.resize(keep);
        GS_AppendResult(r, "no hypothesis ends a sentence", (char *)nullptr);
        return 1;
    }
    int top = addRecord(net, best.rec, 0, static_cast<int>(last * 0x10000 + bestPos), s->frame, best.score);
    std::vector<const SevrinRecord *> chain[3];
    for (int k = top; k >= 0; k = net.records[k].prev) chain[net.records[k].kind].push_back(&net.records[k]);
    for (int kind = 0; kind < 3; kind++) {
        if (!(s->traceFlags & (1 << kind))) continue;
        HalbrinList *l = newHalbrin(s->framesize);
        int begin = 0;
        double before = 0;
        for (auto it = chain[kind].rbegin(); it != chain[kind].rend(); ++it) {
            const SevrinRecord &rc = **it;
            std::string name;
            if (kind == 0) {
                int g = rc.label / 0x10000, p = rc.label % 0x10000;
                name = s->words[s->grammars[g][p].word].name;
            } else if (kind == 1) {
                const SevrinNode &nd = net.nodes[rc.label];
                name = s->words[s->grammars[nd.grammar][nd.position].word].nodeNames[nd.node];
            } else {
                const SevrinNode &nd = net.nodes[net.stateNode[rc.label]];
                name = std::string(nd.model->name) + "[" + std::to_string(net.stateLocal[rc.label] + 1) + "]";
            }
            Segment seg;
            seg.label = &name[0];
            seg.labelSize = static_cast<int32_t>(name.size() + 1);
            seg.begin = begin;
            seg.end = rc.end;
            seg.score = static_cast<float>(rc.score - before);
            appendSegment(r, seg, l, 0);
            begin = rc.end;
            before = rc.score;
        }
        l->score = static_cast<float>(best.score);
        lists[kind] = l;
    }
    net.records.resize(keep);
    // Words first: the first list answered is the first flag set.
    HalbrinList *ordered[3] = {nullptr, nullptr, nullptr};
    int k = 0;
    for (int i = 0; i < 3; i++)
        if (lists[i]) ordered[k++] = lists[i];
    for (int i = 0; i < 3; i++) lists[i] = ordered[i];
    if (!lists[0]) {
        GS_AppendResult(r, "no trace flag is set", (char *)nullptr);
        return 1;
    }
    return 0;
}

void Sevrin_Nuke(SevrinSearch *s) { delete s; }

HalbrinList *Sevrin_Align(const std::vector<std::string> &ref, const std::vector<std::string> &hyp, int *correct,
                          int *subs, int *dels, int *ins) {
    size_t R = ref.size(), H = hyp.size();
    std::vector<std::vector<int>> d(R + 1, std::vector<int>(H + 1));
    for (size_t i = 0; i <= R; i++) d[i][0] = (int)i;
    for (size_t j = 0; j <= H; j++) d[0][j] = (int)j;
    for (size_t i = 1; i <= R; i++)
        for (size_t j = 1; j <= H; j++)
            d[i][j] = std::min({d[i - 1][j - 1] + (ref[i - 1] == hyp[j - 1] ? 0 : 1), d[i - 1][j] + 1, d[i][j - 1] + 1});
    std::vector<std::pair<std::string, std::string>> steps;
    *correct = *subs = *dels = *ins = 0;
    size_t i = R, j = H;
    while (i > 0 || j > 0) {
        if (i > 0 && j > 0 && d[i][j] == d[i - 1][j - 1] + (ref[i - 1] == hyp[j - 1] ? 0 : 1)) {
            ++*(ref[i - 1] == hyp[j - 1] ? correct : subs);
            steps.emplace_back(ref[i - 1], hyp[j - 1]);
            i--, j--;
        } else if (i > 0 && d[i][j] == d[i - 1][j] + 1) {
            ++*dels;
            steps.emplace_back(ref[i - 1], "*");
            i--;
        } else {
            ++*ins;
            steps.emplace_back("*", hyp[j - 1]);
            j--;
        }
    }
    std::reverse(steps.begin(), steps.end());
    HalbrinList *l = newHalbrin(1.0f);
    GS_Result *r = GS_CreateResult();
    for (size_t k = 0; k < steps.size(); k++) {
        std::string name = steps[k].first + " " + steps[k].second;
        Segment seg;
        seg.label = &name[0];
        seg.labelSize = static_cast<int32_t>(name.size() + 1);
        seg.begin = (int32_t)k;
        seg.end = (int32_t)k + 1;
        seg.score = 0.0f;
        appendSegment(r, seg, l, 0);
    }
    GS_DeleteResult(r);
    return l;
}

namespace {

bool plainName(const std::string &n) { return !n.empty() && n.find_first_of(" \t\r\n") == std::string::npos; }

}  // namespace

int Sevrin_Format(GS_Result *r, const SevrinSearch *s, std::string *out) {
    std::ostringstream o;
    o.precision(9);
    o << "sevrin 1\n"
      << "settings " << s->active << " " << s->shortPen << " " << s->longPen << " " << s->grammarScale << " "
      << s->crossModel << " " << s->beam << " " << s->wordEndBeam << " " << s->fbPrune << " " << s->framesize << " "
      << s->traceFlags << "\n";
    o << "words " << s->words.size() << "\n";
    for (const SevrinSearch::Word &w : s->words) {
        if (!plainName(w.name)) {
            GS_AppendResult(r, "word name \"", w.name.c_str(), "\" cannot be saved", (char *)nullptr);
            return 1;
        }
        o << "word " << w.name << " " << w.nodeNames.size() << "\n";
        for (size_t n = 0; n < w.nodeNames.size(); n++) {
            if (!plainName(w.nodeNames[n])) {
                GS_AppendResult(r, "phone name \"", w.nodeNames[n].c_str(), "\" cannot be saved", (char *)nullptr);
                return 1;
            }
            o << "node " << w.nodeNames[n] << " " << w.modelIndex[n] << " " << w.kinds[n] << " "
              << w.successors[n].size();
            for (int x : w.successors[n]) o << " " << x;
            o << "\n";
        }
    }
    o << "grammars " << s->grammars.size() << "\n";
    for (const auto &g : s->grammars) {
        o << "grammar " << g.size() << "\n";
        for (const SevrinSearch::Position &p : g) {
            o << "pos " << p.word << " " << p.initial << " " << p.final << " " << p.entryScore << " " << p.next.size();
            for (size_t k = 0; k < p.next.size(); k++) o << " " << p.next[k] << " " << p.nextScore[k];
            o << "\n";
        }
    }
    // Only when it differs from the words' places, so files without it read alike.
    bool placed = true;
    for (size_t w = 0; w < s->lmWord.size(); w++) placed = placed && s->lmWord[w] == (int)w;
    if (!placed) {
        o << "lmwords " << s->lmWord.size();
        for (int x : s->lmWord) o << " " << x;
        o << "\n";
    }
    for (const auto &t : s->triphones) {
        if (!plainName(t.first) || !plainName(t.second)) {
            GS_AppendResult(r, "triphone \"", t.first.c_str(), "\" cannot be saved", (char *)nullptr);
            return 1;
        }
        o << "triphone " << t.first << " " << t.second << "\n";
    }
    *out = o.str();
    return 0;
}

int Sevrin_Save(GS_Result *r, const char *path, const SevrinSearch *s) {
    std::string text;
    if (Sevrin_Format(r, s, &text)) return 1;
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << text;
    f.flush();
    if (!f) {
        GS_AppendResult(r, "could not write \"", path, "\"", (char *)nullptr);
        return 1;
    }
    return 0;
}

SevrinSearch *Sevrin_Load(GS_Result *r, const char *path) {
    std::string text;
    if (Hmm_ReadFile(r, path, &text)) return nullptr;
    return Sevrin_Parse(r, text, path);
}

SevrinSearch *Sevrin_Parse(GS_Result *r, const std::string &text, const char *path) {
    std::istringstream f(text);
    std::unique_ptr<SevrinSearch> s(new SevrinSearch());
    std::string tag;
    int version = 0;
    size_t nw = 0, ng = 0;
    auto bad = [&](const char *what) {
        GS_AppendResult(r, path, ": not a search file (", what, ")", (char *)nullptr);
        return nullptr;
    };
    if (!(f >> tag >> version) || tag != "sevrin" || version != 1) return bad("header");
    if (!(f >> tag >> s->active >> s->shortPen >> s->longPen >> s->grammarScale >> s->crossModel >> s->beam >>
          s->wordEndBeam >> s->fbPrune >> s->framesize >> s->traceFlags) ||
        tag != "settings")
        return bad("settings");
    if (!(f >> tag >> nw) || tag != "words" || nw > 1000000) return bad("words");
    for (size_t i = 0; i < nw; i++) {
        SevrinSearch::Word w;
        size_t nn = 0;
        if (!(f >> tag >> w.name >> nn) || tag != "word" || nn > 32767) return bad("word");
        for (size_t n = 0; n < nn; n++) {
            std::string name;
            int model, kind;
            size_t ns;
            if (!(f >> tag >> name >> model >> kind >> ns) || tag != "node" || ns > nn) return bad("node");
            std::vector<int> succ(ns);
            for (size_t k = 0; k < ns; k++)
                if (!(f >> succ[k]) || succ[k] < 0 || succ[k] >= (int)nn) return bad("successor");
            w.nodeNames.push_back(name);
            w.modelIndex.push_back(model);
            w.kinds.push_back(kind);
            w.successors.push_back(succ);
        }
        s->words.push_back(w);
    }
    if (!(f >> tag >> ng) || tag != "grammars" || ng == 0 || ng > 100000) return bad("grammars");
    for (size_t g = 0; g < ng; g++) {
        size_t np;
        if (!(f >> tag >> np) || tag != "grammar" || np > 10000000) return bad("grammar");
        std::vector<SevrinSearch::Position> pos;
        for (size_t p = 0; p < np; p++) {
            SevrinSearch::Position q;
            size_t nx;
            if (!(f >> tag >> q.word >> q.initial >> q.final >> q.entryScore >> nx) || tag != "pos" || q.word < 0 ||
                q.word >= (int)nw || nx > np)
                return bad("position");
            for (size_t k = 0; k < nx; k++) {
                int to;
                float sc;
                if (!(f >> to >> sc) || to < 0 || to >= (int)np) return bad("transition");
                q.next.push_back(to);
                q.nextScore.push_back(sc);
            }
            pos.push_back(q);
        }
        s->grammars.push_back(pos);
    }
    bool lmwords = false;
    while (f >> tag) {
        if (tag == "triphone") {
            std::string key, unit;
            if (!(f >> key >> unit)) return bad("triphone");
            s->triphones[key] = unit;
            continue;
        }
        size_t n;
        if (tag != "lmwords" || lmwords || !s->triphones.empty() || !(f >> n) || n != nw) return bad("model words");
        lmwords = true;
        s->lmWord.resize(n);
        for (size_t w = 0; w < n; w++)
            if (!(f >> s->lmWord[w]) || s->lmWord[w] < -1) return bad("model words");
    }
    return s.release();
}
