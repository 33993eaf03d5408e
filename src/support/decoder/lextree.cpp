// The prefix-tree word loop: building the tree from the words' graphs and
// token passing over its models' states, frame by frame.
#include "lextree.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>

namespace {

const double kNegInf = -std::numeric_limits<double>::infinity();
// Bounds on what a set of word graphs may expand to.
const size_t kMaxNodes = 1000000, kMaxSteps = 10000000;

struct LexNode {
    HmmModel *model;
    int firstState;
    std::vector<int> children;
    std::vector<int> words; // ending here
};

struct LexRecord {
    int prev, word, end;
    double score;
};

struct Entry {
    double score = kNegInf;
    int rec = -1;
};

void offer(Entry &e, double score, int rec) {
    if (score > e.score) {
        e.score = score;
        e.rec = rec;
    }
}

}  // namespace

struct LexTree {
    std::vector<std::string> names;
    std::vector<LexNode> nodes;
    std::vector<int> roots;
    std::vector<int> stateNode, stateLocal, stateCol;
    std::vector<Entry> tokens;
    std::vector<LexRecord> records;
    std::vector<HmmModel *> held;
    int need = 0; // probability columns the states read
    int frame = 0;
    ~LexTree() {
        for (HmmModel *m : held) Hmm_NukeModel(m);
    }
};

namespace {

// The child of a node (or a root, parent -1) for a model, made when new.
int childFor(LexTree &t, int parent, HmmModel *m) {
    std::vector<int> &kids = parent < 0 ? t.roots : t.nodes[parent].children;
    for (int c : kids)
        if (t.nodes[c].model == m) return c;
    if (std::find(t.held.begin(), t.held.end(), m) == t.held.end()) {
        m->refs++;
        t.held.push_back(m);
    }
    LexNode nd{m, (int)t.stateNode.size(), {}, {}};
    for (int st = 1; st < m->numStates - 1; st++) {
        t.stateNode.push_back((int)t.nodes.size());
        t.stateLocal.push_back(st);
        t.stateCol.push_back(m->stateIndex[st]);
        t.need = std::max(t.need, m->stateIndex[st] + 1);
    }
    t.nodes.push_back(nd);
    int c = (int)t.nodes.size() - 1;
    (parent < 0 ? t.roots : t.nodes[parent].children).push_back(c);
    return c;
}

// Exits of every node at the current tokens (leaving through the model's
// last state), with the record they carry.
std::vector<Entry> exits(const LexTree &t) {
    std::vector<Entry> out(t.nodes.size());
    for (size_t i = 0; i < t.tokens.size(); i++) {
        const Entry &tk = t.tokens[i];
        if (tk.score == kNegInf) continue;
        const HmmModel *m = t.nodes[t.stateNode[i]].model;
        double a = m->trans->at(t.stateLocal[i], m->numStates - 1);
        if (a == kNegInf) continue;
        offer(out[t.stateNode[i]], tk.score + a, tk.rec);
    }
    return out;
}

// Per word, its best end among the nodes' exits, its score added.
std::vector<Entry> wordEnds(const LexTree &t, const LexTreeSettings &set, const std::vector<Entry> &ex) {
    const double pen = std::log(std::max(set.shortPen, 1e-30f));
    std::vector<Entry> ends(t.names.size());
    for (size_t n = 0; n < t.nodes.size(); n++)
        if (ex[n].score > kNegInf)
            for (int w : t.nodes[n].words) offer(ends[w], ex[n].score + set.wordScores[w] + pen, ex[n].rec);
    return ends;
}

}  // namespace

LexTree *LexTree_Create(GS_Result *r, const SevrinSearch *s, const HmmList *list) {
    std::unique_ptr<LexTree> t(new LexTree());
    size_t steps = 0;
    for (size_t w = 0; w < s->words.size(); w++) {
        const SevrinSearch::Word &word = s->words[w];
        t->names.push_back(word.name);
        std::vector<char> onPath(word.nodeNames.size(), 0);
        bool ok = true;
        // Every path from an initial node, ending the word at each final one.
        std::function<void(int, int)> walk = [&](int n, int parent) {
            if (!ok) return;
            if (++steps > kMaxSteps || t->nodes.size() >= kMaxNodes) {
                GS_AppendResult(r, "the words' pronunciations are too many for the tree", (char *)nullptr);
                ok = false;
                return;
            }
            HmmModel *m = Sevrin_NodeModel(list, word, n);
            if (!m) {
                GS_AppendResult(r, "no model for \"", word.nodeNames[n].c_str(), "\" of word \"", word.name.c_str(),
                                "\"", (char *)nullptr);
                ok = false;
                return;
            }
            int node = childFor(*t, parent, m);
            int kind = word.kinds[n];
            std::vector<int> &ending = t->nodes[node].words;
            if ((kind == 4 || kind == 5) && std::find(ending.begin(), ending.end(), (int)w) == ending.end())
                ending.push_back((int)w);
            onPath[n] = 1;
            for (int x : word.successors[n]) {
                if (word.kinds[x] == 1) continue;
                if (onPath[x]) {
                    GS_AppendResult(r, "word \"", word.name.c_str(), "\" loops back in its graph", (char *)nullptr);
                    ok = false;
                    break;
                }
                walk(x, node);
                if (!ok) break;
            }
            onPath[n] = 0;
        };
        for (size_t n = 0; n < word.nodeNames.size() && ok; n++)
            if (word.kinds[n] == 2 || word.kinds[n] == 5) walk((int)n, -1);
        if (!ok) return nullptr;
    }
    if (t->stateNode.empty()) {
        GS_AppendResult(r, "the search has no state", (char *)nullptr);
        return nullptr;
    }
    t->tokens.assign(t->stateNode.size(), Entry());
    return t.release();
}

void LexTree_Nuke(LexTree *t) { delete t; }

void LexTree_Reset(LexTree *t) {
    t->tokens.assign(t->stateNode.size(), Entry());
    t->records.clear();
    t->frame = 0;
}

int LexTree_Frames(const LexTree *t) { return t->frame; }
int LexTree_NumNodes(const LexTree *t) { return (int)t->nodes.size(); }

int LexTree_Forward(GS_Result *r, LexTree *t, const LexTreeSettings &set, float *const *rows, int numRows, int cols,
                    SevrinLattice *lattice) {
    if (cols < t->need) {
        GS_AppendResult(r, "probabilities of ", std::to_string(cols).c_str(), " columns for models of ",
                        std::to_string(t->need).c_str(), " mixtures", (char *)nullptr);
        return 1;
    }
    std::vector<double> emit(t->need);
    std::vector<char> done(t->need);
    for (int row = 0; row < numRows; row++, t->frame++) {
        int f = t->frame;
        std::vector<Entry> entry(t->nodes.size());
        if (f == 0) {
            for (int c : t->roots) offer(entry[c], 0.0, -1);
        } else {
            std::vector<Entry> ex = exits(*t);
            for (size_t n = 0; n < t->nodes.size(); n++)
                if (ex[n].score > kNegInf)
                    for (int c : t->nodes[n].children) offer(entry[c], ex[n].score, ex[n].rec);
            std::vector<Entry> ends = wordEnds(*t, set, ex);
            double best = kNegInf;
            for (const Entry &e : ends) best = std::max(best, e.score);
            Entry again;
            for (size_t w = 0; w < ends.size(); w++) {
                const Entry &e = ends[w];
                if (e.score == kNegInf || e.score < best - set.wordEndBeam) continue;
                t->records.push_back({e.rec, (int)w, f, e.score});
                int rec = (int)t->records.size() - 1;
                if (lattice) {
                    int begin = e.rec >= 0 ? t->records[e.rec].end : 0;
                    lattice->cells.push_back({(int32_t)w, begin, f, static_cast<float>(e.score)});
                    lattice->numCells++;
                    if (lattice->nodeFrames.empty() || lattice->nodeFrames.back() != f) {
                        lattice->nodeFrames.push_back(f);
                        lattice->numNodes++;
                    }
                }
                offer(again, e.score, rec);
            }
            if (again.score > kNegInf)
                for (int c : t->roots) offer(entry[c], again.score, again.rec);
        }
        // The Viterbi step inside the models, then the frame's scores.
        std::vector<Entry> next(t->tokens.size());
        std::fill(done.begin(), done.end(), 0);
        double best = kNegInf;
        for (size_t j = 0; j < next.size(); j++) {
            const LexNode &nd = t->nodes[t->stateNode[j]];
            const HmmTrans *tr = nd.model->trans;
            int sj = t->stateLocal[j];
            Entry &out = next[j];
            for (int si = 1; si < nd.model->numStates - 1; si++) {
                const Entry &tk = t->tokens[nd.firstState + si - 1];
                double a = tr->at(si, sj);
                if (tk.score == kNegInf || a == kNegInf) continue;
                offer(out, tk.score + a, tk.rec);
            }
            const Entry &e = entry[t->stateNode[j]];
            double a0 = tr->at(0, sj);
            if (e.score > kNegInf && a0 > kNegInf) offer(out, e.score + a0, e.rec);
            if (out.score == kNegInf) continue;
            int c = t->stateCol[j];
            if (!done[c]) {
                double p = std::max((double)rows[row][c], 1e-30);
                if (set.priors) p = std::max(p / std::max((double)set.priors[c], 1e-30), 1e-30);
                emit[c] = set.scale * std::log(p);
                done[c] = 1;
            }
            out.score += emit[c];
            best = std::max(best, out.score);
        }
        std::vector<double> alive;
        for (Entry &tk : next)
            if (tk.score < best - set.beam) tk.score = kNegInf;
            else alive.push_back(tk.score);
        if (set.active >= 1 && alive.size() > (size_t)set.active) {
            size_t k = static_cast<size_t>(set.active);
            std::nth_element(alive.begin(), alive.begin() + (k - 1), alive.end(), std::greater<double>());
            double cut = alive[k - 1];
            for (Entry &tk : next)
                if (tk.score < cut) tk.score = kNegInf;
        }
        t->tokens.swap(next);
    }
    return 0;
}

HalbrinList *LexTree_Best(GS_Result *r, LexTree *t, const LexTreeSettings &set, float framesize) {
    std::vector<Entry> ends = wordEnds(*t, set, exits(*t));
    Entry best;
    int bestWord = -1;
    for (size_t w = 0; w < ends.size(); w++)
        if (ends[w].score > best.score) {
            best = ends[w];
            bestWord = (int)w;
        }
    if (bestWord < 0 || t->frame == 0) {
        GS_AppendResult(r, "no hypothesis ends a sentence", (char *)nullptr);
        return nullptr;
    }
    std::vector<LexRecord> chain{{best.rec, bestWord, t->frame, best.score}};
    for (int k = best.rec; k >= 0; k = t->records[k].prev) chain.push_back(t->records[k]);
    HalbrinList *l = newHalbrin(framesize);
    int begin = 0;
    double before = 0;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        std::string name = t->names[it->word];
        Segment seg;
        seg.label = &name[0];
        seg.labelSize = static_cast<int32_t>(name.size() + 1);
        seg.begin = begin;
        seg.end = it->end;
        seg.score = static_cast<float>(it->score - before);
        appendSegment(r, seg, l, 0);
        begin = it->end;
        before = it->score;
    }
    l->score = static_cast<float>(best.score);
    return l;
}
