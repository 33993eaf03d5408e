// Lexical-tree Viterbi for isolated words between filler models.
#include "tree.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "yastro.h"

struct TreeSearchState {
    std::vector<std::vector<int>> wordsAt; // words ending at each node
    std::vector<float> tok, next;
    std::vector<int32_t> begin, nextBegin;
    std::vector<float> lead0, nextLead0;   // per token: the leading any's score at its entry
    float lead = 0;                        // any over all frames so far
    std::vector<float> trail, endNow;      // per word
    std::vector<int32_t> trailBegin, trailEnd, endBegin;
    std::vector<float> trailLead, trailWord, endLead; // per word: lead at entry, score at the word's end
    int32_t frames = 0;
    std::vector<int> ranked;               // words by falling score, at the first getbest
    std::vector<float> rankedScore;
    std::vector<int32_t> rankedBegin, rankedEnd;
    std::vector<float> rankedLead, rankedWord;
};

namespace {

const float kNone = -INFINITY;
const char *kAnyLabel = "any";

char *copy(const std::string &s) {
    char *p = static_cast<char *>(DB_MALLOC(s.size() + 1));
    memcpy(p, s.c_str(), s.size() + 1);
    return p;
}

int32_t *ints(int n) {
    int32_t *p = static_cast<int32_t *>(DB_MALLOC(sizeof(int32_t) * (n > 0 ? n : 1)));
    memset(p, 0, sizeof(int32_t) * (n > 0 ? n : 1));
    return p;
}

// Category strings of every path through a word graph; false on a cycle.
bool paths(const WordGraph *g, int n, std::vector<int> &stack, std::vector<int> &cats,
           std::vector<std::vector<int>> &out) {
    if (std::find(stack.begin(), stack.end(), n) != stack.end()) return false;
    const WordNode &node = g->nodes[n];
    stack.push_back(n);
    cats.push_back(node.probIndex);
    if (node.kind == WORD_FINAL || node.kind == WORD_INITFINAL) out.push_back(cats);
    for (int k = 0; k < node.numSuccessors; k++) {
        int s = node.successors[k];
        if (s < 0 || s >= g->numNodes || g->nodes[s].kind == WORD_NULL) continue;
        if (!paths(g, s, stack, cats, out)) return false;
    }
    stack.pop_back();
    cats.pop_back();
    return true;
}

void freeHolder(TreeHolder &h) {
    int32_t *arrays[6] = {h.word, h.score, h.begin, h.end, h.leadEnd, h.trailBegin};
    for (int32_t *a : arrays)
        if (a) DB_FREE(a);
}

} // namespace

extern "C" {

int buildTreeSearch(GS_Result *r, TreeSearch **search, WordGraph **words, int numWords, const TreeAnyInput *any,
                    int anyCount, int nbest, float framesize, const ProbNames *names) {
    *search = nullptr;
    if (numWords < 1) {
        GS_AppendResult(r, "no words to search", nullptr);
        return 1;
    }
    if (nbest < 0) {
        GS_AppendResult(r, "n-best count must not be negative", nullptr);
        return 1;
    }
    // Trie over category strings: children by category, words ending.
    struct Trie {
        std::map<int, int> child;
        std::vector<int> words;
        int cat, depth, parent;
    };
    std::vector<Trie> trie(1, Trie{{}, {}, -1, 0, -1});
    for (int w = 0; w < numWords; w++) {
        const WordGraph *g = words[w];
        std::vector<std::vector<int>> prons;
        for (int i = 0; i < g->numNodes; i++) {
            const WordNode &n = g->nodes[i];
            if (n.kind == WORD_NULL) continue;
            if (n.probIndex < 0 || n.probIndex >= names->count) {
                GS_AppendResult(r, "word (", g->name, ") is not bound to these recognizer outputs: use word context",
                                nullptr);
                return 1;
            }
        }
        for (int i = 0; i < g->numNodes; i++) {
            if (g->nodes[i].kind != WORD_INITIAL && g->nodes[i].kind != WORD_INITFINAL) continue;
            std::vector<int> stack, cats;
            if (!paths(g, i, stack, cats, prons)) {
                GS_AppendResult(r, "word (", g->name, ") has a cycle", nullptr);
                return 1;
            }
        }
        for (const auto &p : prons) {
            int at = 0;
            for (int c : p) {
                auto it = trie[at].child.find(c);
                if (it == trie[at].child.end()) {
                    trie.push_back(Trie{{}, {}, c, trie[at].depth + 1, at});
                    it = trie[at].child.emplace(c, (int)trie.size() - 1).first;
                }
                at = it->second;
            }
            if (std::find(trie[at].words.begin(), trie[at].words.end(), w) == trie[at].words.end())
                trie[at].words.push_back(w);
        }
    }
    // Breadth-first numbering, so the root's children come first.
    std::vector<int> order, number(trie.size(), -1);
    std::vector<int> queue = {0};
    for (size_t q = 0; q < queue.size(); q++)
        for (auto &c : trie[queue[q]].child) {
            number[c.second] = (int)order.size();
            order.push_back(c.second);
            queue.push_back(c.second);
        }
    std::vector<int16_t> anyModel(anyCount);
    for (int a = 0; a < anyCount; a++) {
        if (strcmp(any[a].name, "*") == 0) {
            anyModel[a] = -1;
            continue;
        }
        int c = modelToCat(names, any[a].name);
        if (c < 0) {
            GS_AppendResult(r, "any model (", any[a].name, ") is not a recognizer output", nullptr);
            return 1;
        }
        anyModel[a] = (int16_t)c;
    }

    TreeSearch *s = static_cast<TreeSearch *>(DB_MALLOC(sizeof(TreeSearch)));
    memset(s, 0, sizeof *s);
    s->state = new TreeSearchState();
    s->framesize = framesize;
    s->numWords = numWords;
    s->numCategories = names->count;
    s->anyCount = anyCount;
    s->anyModels = static_cast<TreeAnyModel *>(DB_MALLOC(sizeof(TreeAnyModel) * (anyCount + 1)));
    for (int a = 0; a < anyCount; a++) s->anyModels[a] = {any[a].score, anyModel[a]};
    s->numNames = numWords + names->count;
    s->names = static_cast<char **>(DB_MALLOC(sizeof(char *) * s->numNames));
    for (int w = 0; w < numWords; w++) s->names[w] = copy(words[w]->name);
    for (int c = 0; c < names->count; c++) s->names[numWords + c] = copy(names->entries[c].name);
    s->nodeCount = (int32_t)order.size();
    s->topCount = (int32_t)trie[0].child.size();
    s->nodes = static_cast<TreeNode *>(DB_MALLOC(sizeof(TreeNode) * (order.size() + 1)));
    s->state->wordsAt.resize(order.size());
    for (size_t i = 0; i < order.size(); i++) {
        const Trie &t = trie[order[i]];
        TreeNode &n = s->nodes[i];
        n.numSuccessors = (int32_t)t.child.size();
        n.successors = ints(n.numSuccessors);
        int k = 0;
        for (auto &c : t.child) n.successors[k++] = number[c.second];
        n.category = (int16_t)t.cat;
        n.depth = (int16_t)t.depth;
        n.numWords = (int16_t)t.words.size();
        n.parent = (int16_t)(t.parent > 0 ? number[t.parent] : -1);
        n.number = (int32_t)i;
        n.nameIndex = numWords + t.cat;
        n.firstWord = (int16_t)(t.words.empty() ? -1 : t.words[0]);
        s->state->wordsAt[i] = t.words;
    }
    s->holderCount = 1;
    s->holders = static_cast<TreeHolder *>(DB_MALLOC(sizeof(TreeHolder)));
    memset(s->holders, 0, sizeof(TreeHolder));
    s->nbest = 0;
    resizeTreeNbest(s, nbest);
    resetTreeSearch(s);
    *search = s;
    return 0;
}

void resizeTreeNbest(TreeSearch *s, int nbest) {
    if (nbest < 0) nbest = 0;
    for (int h = 0; h < s->holderCount; h++) {
        TreeHolder &hd = s->holders[h];
        freeHolder(hd);
        hd.word = ints(nbest), hd.score = ints(nbest), hd.begin = ints(nbest);
        hd.end = ints(nbest), hd.leadEnd = ints(nbest), hd.trailBegin = ints(nbest);
        hd.size = (int16_t)nbest;
    }
    int32_t *arrays[3] = {s->bestWord, s->bestScore, s->bestRank};
    for (int32_t *a : arrays)
        if (a) DB_FREE(a);
    s->bestWord = ints(nbest), s->bestScore = ints(nbest), s->bestRank = ints(nbest);
    s->nbest = nbest;
}

void initTreeSearch(TreeSearch *s, float shortpen, float longpen, float pruning, int nbest) {
    s->shortpen = shortpen;
    s->longpen = longpen;
    s->pruning = pruning;
    if (nbest != s->nbest) resizeTreeNbest(s, nbest);
    resetTreeSearch(s);
}

void resetTreeSearch(TreeSearch *s) {
    TreeSearchState &st = *s->state;
    st.tok.assign(s->nodeCount, kNone);
    st.next.assign(s->nodeCount, kNone);
    st.begin.assign(s->nodeCount, 0);
    st.nextBegin.assign(s->nodeCount, 0);
    st.lead0.assign(s->nodeCount, 0.0f);
    st.nextLead0.assign(s->nodeCount, 0.0f);
    st.lead = 0;
    st.trail.assign(s->numWords, kNone);
    st.endNow.assign(s->numWords, kNone);
    st.trailBegin.assign(s->numWords, 0);
    st.trailEnd.assign(s->numWords, 0);
    st.endBegin.assign(s->numWords, 0);
    st.trailLead.assign(s->numWords, 0.0f);
    st.trailWord.assign(s->numWords, 0.0f);
    st.endLead.assign(s->numWords, 0.0f);
    st.frames = 0;
    st.ranked.clear();
    s->nextBest = 0;
}

int updateTreeSearch(TreeSearch *s, NevrinPool **, const float *logs) {
    TreeSearchState &st = *s->state;
    const int32_t t = st.frames;
    float best = kNone;
    for (int c = 0; c < s->numCategories; c++) best = std::max(best, logs[c]);
    float anyS = kNone;
    for (int a = 0; a < s->anyCount; a++) {
        const TreeAnyModel &m = s->anyModels[a];
        anyS = std::max(anyS, (m.model < 0 ? best : logs[m.model]) + m.score);
    }
    const float lp = Search_Penalty(s->longpen), sp = Search_Penalty(s->shortpen);
    // Trailing fillers: a word that ended before this frame may go on in any.
    for (int w = 0; w < s->numWords; w++) {
        if (st.endNow[w] > st.trail[w]) {
            st.trail[w] = st.endNow[w];
            st.trailBegin[w] = st.endBegin[w];
            st.trailEnd[w] = t;
            st.trailLead[w] = st.endLead[w];
            st.trailWord[w] = st.endNow[w];
        }
        if (st.trail[w] != kNone) st.trail[w] += anyS + lp;
    }
    std::fill(st.next.begin(), st.next.end(), kNone);
    auto offer = [&](int n, float v, int32_t b, float lead0) {
        if (v > st.next[n]) {
            st.next[n] = v;
            st.nextBegin[n] = b;
            st.nextLead0[n] = lead0;
        }
    };
    if (t == 0 || st.lead != kNone)
        for (int n = 0; n < s->topCount; n++) offer(n, st.lead + sp, t, st.lead);
    for (int n = 0; n < s->nodeCount; n++) {
        if (st.tok[n] == kNone) continue;
        offer(n, st.tok[n], st.begin[n], st.lead0[n]);
        const TreeNode &node = s->nodes[n];
        for (int k = 0; k < node.numSuccessors; k++) offer(node.successors[k], st.tok[n], st.begin[n], st.lead0[n]);
    }
    float top = kNone;
    for (int n = 0; n < s->nodeCount; n++) {
        if (st.next[n] == kNone) continue;
        st.next[n] += logs[s->nodes[n].category];
        top = std::max(top, st.next[n]);
    }
    if (s->pruning > 0 && s->pruning < 1 && top != kNone) {
        float floor = top + TREE_BEAM_SCALE * std::log(s->pruning);
        for (float &v : st.next)
            if (v < floor) v = kNone;
    }
    st.tok.swap(st.next);
    st.begin.swap(st.nextBegin);
    st.lead0.swap(st.nextLead0);
    st.lead = s->anyCount ? st.lead + anyS + lp : kNone;
    std::fill(st.endNow.begin(), st.endNow.end(), kNone);
    for (int n = 0; n < s->nodeCount; n++) {
        if (st.tok[n] == kNone) continue;
        for (int w : st.wordsAt[n])
            if (st.tok[n] > st.endNow[w]) {
                st.endNow[w] = st.tok[n];
                st.endBegin[w] = st.begin[n];
                st.endLead[w] = st.lead0[n];
            }
    }
    st.frames++;
    st.ranked.clear();
    return 0;
}

int searchTreeNextBest(TreeSearch *s, NevrinPool *pool, SearchSegment **segments, int *count, float *score) {
    TreeSearchState &st = *s->state;
    *segments = nullptr;
    *count = 0;
    if (s->nextBest == 0) {
        st.ranked.clear();
        st.rankedScore.clear();
        st.rankedBegin.clear();
        st.rankedEnd.clear();
        st.rankedLead.clear();
        st.rankedWord.clear();
        std::vector<std::pair<float, int>> all;
        for (int w = 0; w < s->numWords; w++) {
            float v = std::max(st.trail[w], st.endNow[w]);
            if (v != kNone) all.push_back({-v, w});
        }
        std::stable_sort(all.begin(), all.end());
        for (auto &a : all) {
            int w = a.second;
            bool endsNow = st.endNow[w] >= st.trail[w];
            st.ranked.push_back(w);
            st.rankedScore.push_back(-a.first);
            st.rankedBegin.push_back(endsNow ? st.endBegin[w] : st.trailBegin[w]);
            st.rankedEnd.push_back(endsNow ? st.frames : st.trailEnd[w]);
            st.rankedLead.push_back(endsNow ? st.endLead[w] : st.trailLead[w]);
            st.rankedWord.push_back(endsNow ? st.endNow[w] : st.trailWord[w]);
        }
        TreeHolder &h = s->holders[0];
        for (int k = 0; k < s->nbest; k++) {
            bool have = k < (int)st.ranked.size();
            float v = have ? st.rankedScore[k] : 0.0f;
            h.word[k] = have ? st.ranked[k] : -1;
            memcpy(&h.score[k], &v, sizeof v);
            h.begin[k] = h.leadEnd[k] = have ? st.rankedBegin[k] : 0;
            h.end[k] = h.trailBegin[k] = have ? st.rankedEnd[k] : 0;
            s->bestWord[k] = h.word[k];
            s->bestScore[k] = h.score[k];
            s->bestRank[k] = k;
        }
    }
    int k = s->nextBest;
    if (k >= s->nbest || k >= (int)st.ranked.size()) return -1;
    s->nextBest++;
    int w = st.ranked[k];
    *score = st.rankedScore[k];
    if (pool) {
        // Leading filler, word, trailing filler, each with the score it
        // added (the word's includes its entry penalty); empty stretches,
        // which add nothing, are left out.
        int32_t b = st.rankedBegin[k], e = st.rankedEnd[k];
        float lead = st.rankedLead[k], word = st.rankedWord[k];
        std::vector<SearchSegment> segs;
        if (b > 0) segs.push_back({kAnyLabel, lead, 0, b, {0, 0}});
        segs.push_back({s->names[w], word - lead, b, e, {0, 0}});
        if (e < st.frames) segs.push_back({kAnyLabel, *score - word, e, st.frames, {0, 0}});
        *segments = static_cast<SearchSegment *>(DB_MALLOC(sizeof(SearchSegment) * segs.size()));
        for (size_t i = 0; i < segs.size(); i++) (*segments)[i] = segs[i];
        *count = (int)segs.size();
    }
    return w;
}

void nukeTreeSearch(TreeSearch *s) {
    if (!s) return;
    for (int n = 0; n < s->nodeCount; n++) DB_FREE(s->nodes[n].successors);
    DB_FREE(s->nodes);
    for (int h = 0; h < s->holderCount; h++) freeHolder(s->holders[h]);
    DB_FREE(s->holders);
    int32_t *arrays[3] = {s->bestWord, s->bestScore, s->bestRank};
    for (int32_t *a : arrays)
        if (a) DB_FREE(a);
    for (int i = 0; i < s->numNames; i++) DB_FREE(s->names[i]);
    DB_FREE(s->names);
    DB_FREE(s->anyModels);
    delete s->state;
}

} // extern "C"
