// Token-passing Viterbi over a network of word copies, with word-end
// history kept in a backtrace pool.
#include "search.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "yastro.h"

struct SearchState {
    // One entry per node of every grammar, grammar by grammar.
    std::vector<int32_t> offset;     // first global node of each grammar
    std::vector<const SearchNode *> node;
    std::vector<int32_t> grammarOf;
    std::vector<char> endsSentence;  // word-final node of a final position of the last grammar
    std::vector<char> filler;        // a pause or garbage node: longpen per frame
    std::vector<float> score, next;
    std::vector<int32_t> bp, nextBp;
    std::vector<float> recordScore;  // by pool record index
    int32_t frames = 0;
    int32_t pinned = -1;             // a record taken but not yet held by any node
};

namespace {

const float kNone = -INFINITY;

char *copy(const char *s) {
    size_t n = strlen(s) + 1;
    char *p = static_cast<char *>(DB_MALLOC(n));
    memcpy(p, s, n);
    return p;
}

int32_t *intArray(const std::vector<int32_t> &v) {
    int32_t *p = static_cast<int32_t *>(DB_MALLOC(sizeof(int32_t) * (v.size() + 1)));
    for (size_t i = 0; i < v.size(); i++) p[i] = v[i];
    p[v.size()] = -1;
    return p;
}

bool isWordFinal(int kind) { return kind == SN_FINAL || kind == SN_INITFINAL; }

// Takes a free record, freeing unreachable ones or growing the pool when
// none is left; -1 when the pool cannot grow.
int32_t takeRecord(GrammarSearch *s, NevrinPool *pool) {
    SearchState &st = *s->state;
    if (pool->freeHead < 0) {
        std::vector<char> live(pool->capacity, 0);
        for (size_t i = 0; i < st.bp.size(); i++)
            for (int32_t b = st.bp[i]; b >= 0 && b < pool->capacity && !live[b]; b = pool->records[b].linkA)
                live[b] = 1;
        for (int32_t b = st.pinned; b >= 0 && b < pool->capacity && !live[b]; b = pool->records[b].linkA) live[b] = 1;
        for (size_t i = 0; i < st.nextBp.size(); i++)
            for (int32_t b = st.nextBp[i]; b >= 0 && b < pool->capacity && !live[b]; b = pool->records[b].linkA)
                live[b] = 1;
        for (int32_t i = pool->capacity - 1; i >= 0; i--) {
            if (live[i]) continue;
            BacktraceRecord &r = pool->records[i];
            if (r.flag == 0) continue;
            r.flag = 0;
            r.linkA = r.linkB = -1;
            r.nextFree = pool->freeHead;
            pool->freeHead = i;
        }
        if (pool->freeHead < 0 && (pool->capacity > NEVRIN_MAX_CAPACITY / 2 || !nevrinGrow(pool))) return -1;
    }
    int32_t i = pool->freeHead;
    pool->freeHead = pool->records[i].nextFree;
    pool->records[i].nextFree = -1;
    if ((size_t)pool->capacity > st.recordScore.size()) st.recordScore.resize(pool->capacity, 0.0f);
    return i;
}

// A record {in use, link, label, frame} with its score; -1 with the
// search's error text when the pool cannot grow.
int32_t newRecord(GrammarSearch *s, NevrinPool *pool, int32_t link, int32_t label, int32_t frame, float score) {
    int32_t rec = takeRecord(s, pool);
    if (rec < 0) {
        snprintf(s->errorText, sizeof s->errorText, "backtrace pool exhausted");
        return -1;
    }
    BacktraceRecord &r = pool->records[rec];
    r.flag = 1;
    r.linkA = link;
    r.linkB = label;
    r.value = frame;
    s->state->recordScore[rec] = score;
    return rec;
}

bool recordOk(const NevrinPool *pool, int32_t b) {
    return b >= 0 && b < pool->capacity && pool->records[b].flag != 0;
}

} // namespace

extern "C" {

GrammarSearch *createSearch(GS_Result *r, const ProbNames *names, WordGrammar **grammars, int numGrammars,
                            WordGraph **words, int numWords, float pruning, float shortpen, float longpen,
                            float framesize, int phonemebt) {
    if (numGrammars < 1) {
        GS_AppendResult(r, "no grammars to search", nullptr);
        return nullptr;
    }
    if (numWords < 1) {
        GS_AppendResult(r, "no words to search", nullptr);
        return nullptr;
    }
    if (!(framesize > 0)) {
        GS_AppendResult(r, "frame size must be above 0", nullptr);
        return nullptr;
    }
    for (int w = 0; w < numWords; w++) {
        const WordGraph *g = words[w];
        for (int n = 0; n < g->numNodes; n++) {
            if (g->nodes[n].kind == WORD_NULL) continue;
            int p = g->nodes[n].probIndex;
            if (p < 0 || p >= names->count) {
                GS_AppendResult(r, "word (", g->name, ") is not bound to these recognizer outputs: use word context",
                                nullptr);
                return nullptr;
            }
        }
    }
    // Word of each grammar position.
    std::vector<std::vector<int>> wordOf(numGrammars);
    for (int gi = 0; gi < numGrammars; gi++) {
        const WordGrammar *g = grammars[gi];
        if (g->count < 1) {
            GS_AppendResult(r, "grammar (", g->name, ") is empty", nullptr);
            return nullptr;
        }
        for (int p = 0; p < g->count; p++) {
            int found = -1;
            for (int w = 0; w < numWords && found < 0; w++)
                if (strcmp(words[w]->name, g->positions[p].word) == 0) found = w;
            if (found < 0) {
                GS_AppendResult(r, "grammar (", g->name, ") names word (", g->positions[p].word,
                                ") that is not in the word list", nullptr);
                return nullptr;
            }
            wordOf[gi].push_back(found);
        }
    }

    GrammarSearch *s = static_cast<GrammarSearch *>(DB_MALLOC(sizeof(GrammarSearch)));
    memset(s, 0, sizeof *s);
    s->state = new SearchState();
    s->pruning = pruning;
    s->shortpen = shortpen;
    s->longpen = longpen;
    s->framesize = framesize;
    s->phonemebt = phonemebt;
    s->grammarscale = 1.0f;
    s->numCategories = names->count;
    s->numWords = numWords;
    s->wordNames = static_cast<char **>(DB_MALLOC(sizeof(char *) * numWords));
    for (int w = 0; w < numWords; w++) s->wordNames[w] = copy(words[w]->name);
    s->numNodeNames = names->count;
    s->nodeNames = static_cast<char **>(DB_MALLOC(sizeof(char *) * names->count));
    for (int i = 0; i < names->count; i++) s->nodeNames[i] = copy(names->entries[i].name);
    s->numGrammars = numGrammars;
    s->grammars = static_cast<SearchGrammar *>(DB_MALLOC(sizeof(SearchGrammar) * numGrammars));

    // First node of each position's word copy, grammar by grammar.
    std::vector<std::vector<int>> first(numGrammars);
    for (int gi = 0; gi < numGrammars; gi++) {
        int n = 0;
        for (int w : wordOf[gi]) {
            first[gi].push_back(n);
            n += words[w]->numNodes;
        }
        first[gi].push_back(n);
    }
    // The initial nodes of a position, as (grammar, node) targets.
    auto entriesOf = [&](int gi, int p, std::vector<int32_t> &tg, std::vector<int32_t> &tn) {
        const WordGraph *w = words[wordOf[gi][p]];
        for (int k = 0; k < w->numNodes; k++)
            if (w->nodes[k].kind == WORD_INITIAL || w->nodes[k].kind == WORD_INITFINAL) {
                tg.push_back(gi);
                tn.push_back(first[gi][p] + k);
            }
    };
    for (int gi = 0; gi < numGrammars; gi++) {
        const WordGrammar *g = grammars[gi];
        SearchGrammar &sg = s->grammars[gi];
        sg.name = copy(g->name);
        bool init = gi == 0, fin = gi == numGrammars - 1;
        sg.kind = init && fin ? GR_INITFINAL : init ? GR_INIT : fin ? GR_FINAL : GR_NORMAL;
        sg.numNodes = first[gi].back();
        sg.nodes = static_cast<SearchNode *>(DB_MALLOC(sizeof(SearchNode) * (sg.numNodes + 1)));
        std::vector<SearchGroup> groups;
        std::vector<int32_t> entries;
        std::vector<float> entryScores;
        for (int p = 0; p < g->count; p++) {
            const GrammarPosition &pos = g->positions[p];
            const WordGraph *w = words[wordOf[gi][p]];
            if (pos.initial) {
                std::vector<int32_t> tg, tn;
                entriesOf(gi, p, tg, tn);
                for (int32_t n : tn) {
                    entries.push_back(n);
                    entryScores.push_back(pos.entryScore);
                }
            }
            // One exit group per position, shared by its word-final nodes.
            std::vector<int32_t> tg, tn;
            std::vector<float> sc;
            for (int k = 0; k < pos.numNext; k++) {
                size_t before = tn.size();
                entriesOf(gi, pos.next[k], tg, tn);
                sc.resize(tn.size(), pos.nextScore[k]);
                (void)before;
            }
            if (pos.final && !fin) {
                const WordGrammar *ng = grammars[gi + 1];
                for (int q = 0; q < ng->count; q++) {
                    if (!ng->positions[q].initial) continue;
                    entriesOf(gi + 1, q, tg, tn);
                    sc.resize(tn.size(), ng->positions[q].entryScore);
                }
            }
            SearchGroup grp;
            grp.count = (int32_t)tn.size();
            grp.targetGrammar = intArray(tg);
            grp.targetNode = intArray(tn);
            grp.score = static_cast<float *>(DB_MALLOC(sizeof(float) * (sc.size() + 1)));
            for (size_t i = 0; i < sc.size(); i++) grp.score[i] = sc[i];
            int32_t groupIndex = (int32_t)groups.size();
            groups.push_back(grp);
            for (int k = 0; k < w->numNodes; k++) {
                const WordNode &wn = w->nodes[k];
                SearchNode &sn = sg.nodes[first[gi][p] + k];
                sn.number = first[gi][p] + k;
                sn.nameIndex = wn.probIndex;
                sn.position = p;
                sn.wordNode = k;
                bool in = wn.kind == WORD_INITIAL || wn.kind == WORD_INITFINAL;
                bool out = wn.kind == WORD_FINAL || wn.kind == WORD_INITFINAL;
                sn.kind = in && out ? SN_INITFINAL : in ? SN_INITIAL : out ? SN_FINAL : SN_NORMAL;
                std::vector<int32_t> succ;
                for (int j = 0; j < wn.numSuccessors; j++)
                    if (wn.successors[j] >= 0 && wn.successors[j] < w->numNodes &&
                        w->nodes[wn.successors[j]].kind != WORD_NULL)
                        succ.push_back(first[gi][p] + wn.successors[j]);
                sn.numSuccessors = (int32_t)succ.size();
                sn.successors = intArray(succ);
                std::vector<int32_t> ex;
                if (out) ex.push_back(groupIndex);
                sn.numExitGroups = (int32_t)ex.size();
                sn.exitGroups = intArray(ex);
                sn.wordIndex = wordOf[gi][p];
                if (wn.kind == WORD_NULL) sn.nameIndex = -1;
            }
        }
        sg.numGroups = (int32_t)groups.size();
        sg.groups = static_cast<SearchGroup *>(DB_MALLOC(sizeof(SearchGroup) * (groups.size() + 1)));
        for (size_t i = 0; i < groups.size(); i++) sg.groups[i] = groups[i];
        sg.numEntries = (int32_t)entries.size();
        sg.entries = intArray(entries);
        sg.entryScores = static_cast<float *>(DB_MALLOC(sizeof(float) * (entryScores.size() + 1)));
        for (size_t i = 0; i < entryScores.size(); i++) sg.entryScores[i] = entryScores[i];
    }
    SearchState &st = *s->state;
    for (int gi = 0; gi < numGrammars; gi++) {
        st.offset.push_back((int32_t)st.node.size());
        const SearchGrammar &sg = s->grammars[gi];
        for (int n = 0; n < sg.numNodes; n++) {
            const SearchNode &sn = sg.nodes[n];
            st.node.push_back(&sn);
            st.grammarOf.push_back(gi);
            bool ends = gi == numGrammars - 1 && isWordFinal(sn.kind) && grammars[gi]->positions[sn.position].final &&
                        sn.nameIndex >= 0;
            st.endsSentence.push_back(ends);
            st.filler.push_back(sn.nameIndex >= 0 && names->entries[sn.nameIndex].modelSpec[0] == '.');
        }
    }
    resetSearch(s);
    return s;
}

float Search_Penalty(float v) { return v > 0 ? std::log(v) : v; }

void Search_LogRow(const float *row, int count, float floor, float *out) {
    for (int c = 0; c < count; c++) out[c] = std::log(row[c] >= floor ? row[c] : floor);
}

void resetSearch(GrammarSearch *s) {
    SearchState &st = *s->state;
    size_t n = st.node.size();
    st.score.assign(n, kNone);
    st.next.assign(n, kNone);
    st.bp.assign(n, -1);
    st.nextBp.assign(n, -1);
    st.frames = 0;
    st.pinned = -1;
}

int updateSearch(GrammarSearch *s, NevrinPool *pool, const float *logs) {
    SearchState &st = *s->state;
    const size_t n = st.node.size();
    const float insertion = Search_Penalty(s->shortpen), filler = Search_Penalty(s->longpen);
    std::fill(st.next.begin(), st.next.end(), kNone);
    std::fill(st.nextBp.begin(), st.nextBp.end(), -1);
    auto offer = [&](size_t to, float v, int32_t b) {
        if (v > st.next[to]) {
            st.next[to] = v;
            st.nextBp[to] = b;
        }
    };
    if (st.frames == 0) {
        for (int gi = 0; gi < s->numGrammars; gi++) {
            const SearchGrammar &sg = s->grammars[gi];
            if (sg.kind != GR_INIT && sg.kind != GR_INITFINAL) continue;
            for (int e = 0; e < sg.numEntries; e++)
                offer(st.offset[gi] + sg.entries[e], s->grammarscale * sg.entryScores[e] + insertion, -1);
        }
    } else {
        for (size_t i = 0; i < n; i++) {
            float v = st.score[i];
            if (v == kNone) continue;
            const SearchNode &sn = *st.node[i];
            int32_t b = st.bp[i];
            int32_t base = st.offset[st.grammarOf[i]];
            offer(i, v, b);
            // With phone backtrace, leaving the node ends its phone: one
            // record, taken only when some move out of the node wins.
            int32_t phoneRec = -1;
            bool failed = false;
            auto phoneEnd = [&]() -> int32_t {
                if (!s->phonemebt) return b;
                if (phoneRec < 0) {
                    phoneRec = newRecord(s, pool, b, -2 - sn.nameIndex, st.frames, v);
                    failed = phoneRec < 0;
                    st.pinned = phoneRec; // the word record may need a collection first
                }
                return phoneRec;
            };
            for (int k = 0; k < sn.numSuccessors; k++) {
                int32_t to = base + sn.successors[k];
                if (!(v > st.next[to])) continue;
                int32_t link = phoneEnd();
                if (failed) return 0;
                offer(to, v, link);
            }
            for (int e = 0; e < sn.numExitGroups; e++) {
                const SearchGroup &grp = s->grammars[st.grammarOf[i]].groups[sn.exitGroups[e]];
                int32_t rec = -1;
                for (int k = 0; k < grp.count; k++) {
                    size_t to = st.offset[grp.targetGrammar[k]] + grp.targetNode[k];
                    float cand = v + s->grammarscale * grp.score[k] + insertion + s->crossmodel;
                    if (!(cand > st.next[to])) continue;
                    if (rec < 0) {
                        int32_t link = phoneEnd();
                        if (failed) return 0;
                        rec = newRecord(s, pool, link, sn.wordIndex, st.frames, v);
                        if (rec < 0) return 0;
                    }
                    offer(to, cand, rec);
                }
            }
            st.pinned = -1;
        }
    }
    float best = kNone;
    for (size_t i = 0; i < n; i++) {
        if (st.next[i] == kNone) continue;
        int c = st.node[i]->nameIndex;
        st.next[i] = c >= 0 && c < s->numCategories ? st.next[i] + logs[c] + (st.filler[i] ? filler : 0.0f) : kNone;
        if (st.next[i] > best) best = st.next[i];
    }
    if (s->pruning > 0 && s->pruning < 1 && best != kNone) {
        float floor = best + SEARCH_BEAM_SCALE * std::log(s->pruning);
        for (size_t i = 0; i < n; i++)
            if (st.next[i] < floor) st.next[i] = kNone;
    }
    st.score.swap(st.next);
    st.bp.swap(st.nextBp);
    st.frames++;
    return 1;
}

const char *findSearchBest(GrammarSearch *s, NevrinPool *pool, SearchSegment **words, int *numWords,
                           SearchSegment **phones, int *numPhones, float *score) {
    SearchState &st = *s->state;
    *words = nullptr;
    *numWords = 0;
    *phones = nullptr;
    *numPhones = 0;
    int best = -1;
    for (size_t i = 0; i < st.node.size(); i++)
        if (st.endsSentence[i] && st.score[i] != kNone && (best < 0 || st.score[i] > st.score[best])) best = (int)i;
    if (best < 0) return nullptr;
    // Records name word ends (label = the word) or, with phone backtrace,
    // phone ends (label = -2 - category); each closes the segment of the
    // word or phone before it.
    std::vector<SearchSegment> words_, phones_;
    struct Open {
        int32_t label, end;
        float endScore;
    } word = {st.node[best]->wordIndex, st.frames, st.score[best]},
      phone = {st.node[best]->nameIndex, st.frames, st.score[best]};
    size_t steps = 0;
    for (int32_t b = st.bp[best]; recordOk(pool, b) && (size_t)b < st.recordScore.size() && steps <= (size_t)pool->capacity;
         b = pool->records[b].linkA, steps++) {
        const BacktraceRecord &r = pool->records[b];
        float sc = st.recordScore[b];
        bool isWord = r.linkB >= 0;
        Open &o = isWord ? word : phone;
        int32_t next = isWord ? r.linkB : -2 - r.linkB;
        if (isWord ? next >= s->numWords : (next < 0 || next >= s->numNodeNames)) break;
        const char *label = isWord ? s->wordNames[o.label] : s->nodeNames[o.label];
        (isWord ? words_ : phones_).push_back({label, o.endScore - sc, r.value, o.end, {0, 0}});
        o = {next, r.value, sc};
    }
    words_.push_back({s->wordNames[word.label], word.endScore, 0, word.end, {0, 0}});
    if (s->phonemebt && phone.label >= 0)
        phones_.push_back({s->nodeNames[phone.label], phone.endScore, 0, phone.end, {0, 0}});
    *score = st.score[best];
    auto give = [](const std::vector<SearchSegment> &v, SearchSegment **out, int *n) {
        *n = (int)v.size();
        if (v.empty()) return;
        *out = static_cast<SearchSegment *>(DB_MALLOC(sizeof(SearchSegment) * v.size()));
        for (size_t i = 0; i < v.size(); i++) (*out)[i] = v[v.size() - 1 - i];
    };
    give(words_, words, numWords);
    give(phones_, phones, numPhones);
    return nullptr;
}

void nukeSearch(GrammarSearch *s) {
    if (!s) return;
    for (int gi = 0; gi < s->numGrammars; gi++) {
        SearchGrammar &g = s->grammars[gi];
        for (int n = 0; n < g.numNodes; n++) {
            DB_FREE(g.nodes[n].successors);
            DB_FREE(g.nodes[n].exitGroups);
        }
        for (int k = 0; k < g.numGroups; k++) {
            DB_FREE(g.groups[k].targetGrammar);
            DB_FREE(g.groups[k].targetNode);
            DB_FREE(g.groups[k].score);
        }
        DB_FREE(g.nodes);
        DB_FREE(g.groups);
        DB_FREE(g.entries);
        DB_FREE(g.entryScores);
        DB_FREE(g.name);
    }
    if (s->grammars) DB_FREE(s->grammars);
    for (int w = 0; w < s->numWords; w++) DB_FREE(s->wordNames[w]);
    if (s->wordNames) DB_FREE(s->wordNames);
    for (int i = 0; i < s->numNodeNames; i++) DB_FREE(s->nodeNames[i]);
    if (s->nodeNames) DB_FREE(s->nodeNames);
    delete s->state;
    DB_FREE(s);
}

} // extern "C"
