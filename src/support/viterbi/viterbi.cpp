// Frame-synchronous Viterbi beam search over a compiled state network.
#include "viterbi.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "cntr_bytes.h"
#include "yastro.h"

namespace {

const double kNone = -std::numeric_limits<double>::infinity();

// Longest stay a state tells apart; longer stays share its last slot.
const int kMaxStays = 128;

struct Arc {
    int to;
    int boundary;
};

struct Node {
    bool emitting;
    int category;
    float minDur, maxDur;
    std::vector<Arc> arcs; // to other states; the self link is selfLoop
    bool selfLoop;
    int exitBoundary; // flag of the link to the end state, -1 when none
    std::string name, word, phoneme;
    bool phoneUnit; // the state is a whole phoneme by itself
    int group = -1; // states with the same arcs share a group
};

struct Trace {
    int state;
    int start;
    int prev;
    int boundary;
    double startScore;
};

struct Token {
    double score;
    int dur;
    int trace; // the token's trace, or its predecessor's while its entry is pending
};

// What the frame loop reads of a state, kept small so that a wide beam
// walks through few cache lines.
struct Hot {
    int category;
    int group;
    float minDur, maxDur;
    bool selfLoop, hasArcs;
};

// An entry into a state's first slot this frame: its trace is made if the
// token survives.
struct Pending {
    double entryScore; // the path's score as it left its last state
    int boundary;      // flag of the entry link
    bool set;
};

void setError(ViterbiRecord *rec, const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(rec->errorText, sizeof rec->errorText, fmt, ap);
    va_end(ap);
}

const char *classValue(const GravlinNet *net, const char *cls, int value) {
    if (value < 0) return nullptr;
    for (int c = 0; c < net->numClasses; c++)
        if (strcmp(net->classes[c].name, cls) == 0 && value < net->classes[c].numValues) return net->classes[c].values[value];
    return nullptr;
}

// The deepest "word" value of a state that names a word: grammar rule
// tokens ("$grammar", "$digit") are not words, so a unit that a grammar
// rule made directly is a word by its own name.
const char *wordOf(const GravlinNet *net, const GravlinState &st) {
    for (int l = st.numLevels - 1; l >= 0; l--) {
        const GravlinClass &c = net->classes[st.levelClasses[l]];
        if (strcmp(c.name, "word") != 0) continue;
        const char *v = c.values[st.levelValues[l]];
        if (v[0] != '$') return v;
    }
    return nullptr;
}

} // namespace

struct ViterbiSearch {
    int numStates = 0, enter = -1, exit = -1;
    std::vector<Node> nodes;
    // Tokens live in slots, one per stay length a state tells apart (see
    // stays()): a path of one length never displaces one of another whose
    // future may be better.
    std::vector<int> slotBase, slotState;
    std::vector<Token> cur, next;
    std::vector<Hot> hot;
    std::vector<Pending> pending;
    std::vector<int> active, nextActive;
    std::vector<char> inNext;
    std::vector<Trace> traces;
    int frame = 0;
    double bestFinal = kNone;

    size_t lastLive = 0;

    std::vector<double> logRow;      // log probabilities of the frame, floored
    std::vector<int> minSlot, marked; // per state: the slot of a stay of min frames; scan last seen
    int scans = 0;

    // Under minmax, a stay that has reached its minimum is never better off
    // longer: of two such tokens in one state, the longer one that scores no
    // better can be dropped (its every future is one the shorter can take
    // at no lower score). Dropped tokens get the score kNone.
    void dropDominated(int frameNo) {
        for (int q : nextActive) {
            int st = slotState[q];
            if (marked[st] == frameNo || slotBase[st + 1] - slotBase[st] < 2) continue;
            marked[st] = frameNo;
            double run = kNone;
            for (int k = slotBase[st] + minSlot[st]; k < slotBase[st + 1]; k++) {
                if (!inNext[k]) continue;
                if (next[k].score <= run)
                    next[k].score = kNone;
                else
                    run = next[k].score;
            }
        }
    }

    // The best way out of each state this frame, over all its stays.
    std::vector<double> leaveScore;
    std::vector<int> leaveTrace, leaveFrom, leaving;

    void makeSlots(const ViterbiRecord *rec) {
        slotBase.assign(numStates + 1, 0);
        slotState.clear();
        minSlot.assign(numStates, 0);
        for (int i = 0; i < numStates; i++) {
            int k = stays(rec, nodes[i]);
            slotBase[i + 1] = slotBase[i] + k;
            slotState.insert(slotState.end(), k, i);
            minSlot[i] = std::min(k - 1, std::max(0, (int)std::ceil(nodes[i].minDur) - 1));
        }
        int slots = slotBase[numStates];
        cur.resize(slots);
        next.resize(slots);
        inNext.assign(slots, 0);
        std::map<std::vector<std::pair<int, int>>, int> groups;
        for (Node &n : nodes) {
            std::vector<std::pair<int, int>> key;
            for (const Arc &a : n.arcs) key.emplace_back(a.to, a.boundary);
            n.group = groups.emplace(key, (int)groups.size()).first->second;
        }
        size_t keys = std::max<size_t>(numStates, groups.size());
        leaveScore.assign(keys, kNone);
        leaveTrace.assign(keys, -1);
        leaveFrom.assign(keys, -1);
        marked.assign(numStates, -1);
        pending.assign(numStates, Pending{0.0, 0, false});
        hot.resize(numStates);
        for (int i = 0; i < numStates; i++) {
            const Node &n = nodes[i];
            hot[i] = Hot{n.category, n.group, n.minDur, n.maxDur, n.selfLoop, !n.arcs.empty()};
        }
    }

    // Number of token slots of a state: slot d-1 holds the paths that have
    // stayed d frames, the last slot every longer stay. Paths whose futures
    // can differ must not share a slot: under minmax that is every stay
    // short of the maximum (or of the minimum when no maximum is set);
    // under gamma every stay up to well past the mean; the exponential
    // model is memoryless, so one slot is exact.
    int stays(const ViterbiRecord *rec, const Node &n) const {
        if (!n.emitting || !n.selfLoop || (n.minDur < 0 && n.maxDur < 0)) return 1;
        double d = 1;
        if (rec->durationModel == VITERBI_MINMAX) {
            d = std::max(n.minDur, n.maxDur);
        } else if (rec->durationModel == VITERBI_GAMMA) {
            double m = std::max(1.0, (n.minDur + n.maxDur) / 2.0);
            double sd = std::max(0.5, (n.maxDur - n.minDur) / 4.0);
            d = std::max((double)n.maxDur, m + 4 * sd) + 1;
        }
        return (int)std::max(1.0, std::min(std::ceil(d), (double)kMaxStays));
    }

    // Drops the traces that no active token leads back to, so that a long
    // utterance keeps only the paths still alive.
    void collect() {
        std::vector<int> map(traces.size(), -1);
        for (int st : active)
            for (int k = cur[st].trace; k >= 0 && map[k] == -1; k = traces[k].prev) map[k] = 0;
        int n = 0;
        for (size_t k = 0; k < traces.size(); k++)
            if (map[k] == 0) map[k] = n++;
        std::vector<Trace> kept(n);
        for (size_t k = 0; k < traces.size(); k++)
            if (map[k] >= 0) {
                Trace t = traces[k];
                t.prev = t.prev >= 0 ? map[t.prev] : -1;
                kept[map[k]] = t;
            }
        for (int st : active) cur[st].trace = cur[st].trace >= 0 ? map[cur[st].trace] : -1;
        traces.swap(kept);
        lastLive = traces.size();
    }

    template <class N>
    double leaveCost(const ViterbiRecord *rec, const N &n, int d) const {
        if (n.minDur < 0 && n.maxDur < 0) return 0;
        switch (rec->durationModel) {
        case VITERBI_MINMAX:
            return d < n.minDur ? rec->durationShortPenalty * (n.minDur - d) : 0.0;
        case VITERBI_EXPONENTIAL: {
            double m = std::max(1.0, (n.minDur + n.maxDur) / 2.0);
            return std::log(1.0 / m);
        }
        default: {
            double m = std::max(1.0, (n.minDur + n.maxDur) / 2.0);
            double sd = std::max(0.5, (n.maxDur - n.minDur) / 4.0);
            double k = m * m / (sd * sd), th = sd * sd / m;
            double mode = k >= 1 ? (k - 1) * th : 1.0;
            auto lp = [&](double x) { return (k - 1) * std::log(std::max(x, 1e-6)) - x / th; };
            return lp(d) - lp(std::max(mode, 1e-6));
        }
        }
    }

    template <class N>
    double stayCost(const ViterbiRecord *rec, const N &n, int d) const {
        if (n.minDur < 0 && n.maxDur < 0) return 0;
        if (rec->durationModel == VITERBI_MINMAX) return n.maxDur > 0 && d + 1 > n.maxDur ? rec->durationLongPenalty : 0.0;
        if (rec->durationModel == VITERBI_EXPONENTIAL) {
            double m = std::max(1.0, (n.minDur + n.maxDur) / 2.0);
            return m > 1 ? std::log(1.0 - 1.0 / m) : std::log(1e-6);
        }
        return 0;
    }
};

// The record's search, when it was initialised for this network as it is.
static ViterbiSearch *searchOf(ViterbiRecord *rec, const GravlinNet *net) {
    ViterbiSearch *s = rec->search;
    if (!s) {
        setError(rec, "search record was never initialised");
        return nullptr;
    }
    if (net->numStates != s->numStates) {
        setError(rec, "network \"%s\" changed since the search was initialised", net->name);
        return nullptr;
    }
    return s;
}

extern "C" {

int Viterbi_init(GravlinNet *net, ViterbiRecord *rec, int blockSize, float beamThreshold, float beamThresholdAdjust,
                 float maxBeamThreshold, int targetBeamSize, int targetBeamVariance, float beamRatio,
                 int durationModel, int allowWordCutoff, float durationShortPenalty, float durationLongPenalty,
                 float wordBoundaryPenalty, float observationProbFloor, float transProbFactor) {
    memset(rec, 0, sizeof *rec);
    rec->msPerFrame = net->frameSize > 0 ? net->frameSize : 10.0f;
    rec->score = -1e10f;
    rec->blockSize = blockSize > 0 ? blockSize : 500;
    rec->beamThreshold = beamThreshold;
    rec->beamThresholdAdjust = beamThresholdAdjust;
    rec->maxBeamThreshold = maxBeamThreshold;
    rec->targetBeamSize = targetBeamSize;
    rec->targetBeamVariance = targetBeamVariance;
    rec->beamRatio = beamRatio;
    rec->durationModel = durationModel;
    rec->allowWordCutoff = allowWordCutoff;
    rec->durationShortPenalty = durationShortPenalty;
    rec->durationLongPenalty = durationLongPenalty;
    rec->wordBoundaryPenalty = wordBoundaryPenalty;
    rec->observationProbFloor = observationProbFloor > 0 ? observationProbFloor : 1e-30f;
    rec->transProbFactor = transProbFactor;
    rec->beam = beamThreshold;
    if (durationModel < 0 || durationModel > 2) {
        setError(rec, "duration model code %d is none of 0, 1, 2", durationModel);
        return 1;
    }
    if (net->numStates == 0 || net->enter < 0 || net->exit < 0) {
        setError(rec, "network \"%s\" has no start and end state", net->name ? net->name : "");
        return 1;
    }
    ViterbiSearch *s = new ViterbiSearch;
    s->numStates = net->numStates;
    s->enter = net->enter;
    s->exit = net->exit;
    s->nodes.resize(net->numStates);
    for (int i = 0; i < net->numStates; i++) {
        const GravlinState &st = net->states[i];
        Node &n = s->nodes[i];
        n.emitting = st.type == GRAVLIN_ITEM;
        n.category = st.category;
        n.minDur = st.durParam1;
        n.maxDur = st.durParam2;
        n.selfLoop = false;
        n.exitBoundary = -1;
        n.name = st.name ? st.name : "";
        const char *w = wordOf(net, st);
        const char *p = classValue(net, "phoneme", st.phonemeValue);
        n.word = w ? w : n.name;
        n.phoneme = p ? p : n.name;
        n.phoneUnit = n.phoneme == n.name;
        if (n.emitting && st.category < 0) {
            setError(rec, "state %d \"%s\" has no category: apply a unit specification first", i, n.name.c_str());
            delete s;
            return 1;
        }
        for (int k = 0; k < st.numTo; k++) {
            int to = st.toLinks[k].state;
            if (to == i) {
                n.selfLoop = true;
                // A self link across a word boundary is also the word said
                // again: leaving and entering anew is a path of its own.
                if (st.toLinks[k].wordBoundary == 1) n.arcs.push_back(Arc{i, 1});
            } else if (to == net->exit) {
                n.exitBoundary = st.toLinks[k].wordBoundary == 1;
            } else if (net->states[to].type == GRAVLIN_ITEM) {
                n.arcs.push_back(Arc{to, st.toLinks[k].wordBoundary == 1});
            }
        }
    }
    s->makeSlots(rec);
    rec->search = s;
    return 0;
}

int Viterbi_reset(ViterbiRecord *rec) {
    ViterbiSearch *s = rec->search;
    if (!s) {
        setError(rec, "search record was never initialised");
        return 1;
    }
    s->active.clear();
    s->traces.clear();
    s->frame = 0;
    rec->framesSearched = 0;
    rec->beam = rec->beamThreshold;
    nukeHalbrin(rec->words);
    nukeHalbrin(rec->phonemes);
    nukeHalbrin(rec->states);
    rec->words = rec->phonemes = rec->states = nullptr;
    rec->score = -1e10f;
    rec->endFrame = 0;
    return 0;
}

void Viterbi_free(ViterbiRecord *rec) {
    nukeHalbrin(rec->words);
    nukeHalbrin(rec->phonemes);
    nukeHalbrin(rec->states);
    rec->words = rec->phonemes = rec->states = nullptr;
    delete rec->search;
    rec->search = nullptr;
}

int Viterbi_search(ViterbiRecord *rec, GravlinNet *net, float **probs, int frames, int categories, float **trans,
                   int numPairs, int (*pairs)[2]) {
    ViterbiSearch *s = searchOf(rec, net);
    if (!s) return 1;
    for (int i = 0; i < s->numStates; i++) {
        const Node &n = s->nodes[i];
        if (n.emitting && n.category >= categories) {
            setError(rec, "state %d \"%s\" has category %d but the probability matrix has %d columns", i,
                     n.name.c_str(), n.category, categories);
            return 1;
        }
    }
    std::unordered_map<long long, int> pairIndex;
    if (trans && pairs) {
        for (int k = 0; k < numPairs; k++) {
            int to = pairs[k][0], from = pairs[k][1];
            if (to < 0 || to >= s->numStates || from < 0 || from >= s->numStates) {
                setError(rec, "transition pair %d {%d %d} names a state outside the network", k, to, from);
                return 1;
            }
            pairIndex[(long long)from * s->numStates + to] = k;
        }
    }
    const double floorP = rec->observationProbFloor;
    for (int f = 0; f < frames; f++) {
        const float *row = probs[f];
        const float *trow = trans && !pairIndex.empty() ? trans[f] : nullptr;
        auto linkCost = [&](int from, int to, int boundary) {
            double c = boundary ? rec->wordBoundaryPenalty : 0.0;
            if (trow) {
                auto it = pairIndex.find((long long)from * s->numStates + to);
                if (it != pairIndex.end()) {
                    double p = trow[it->second];
                    c += rec->transProbFactor * std::log(p > floorP ? p : floorP);
                }
            }
            return c;
        };
        s->nextActive.clear();
        auto offer = [&](int q, double score, int dur, int trace) {
            if (!s->inNext[q]) {
                s->inNext[q] = 1;
                s->nextActive.push_back(q);
            } else if (score <= s->next[q].score) {
                return false;
            }
            s->next[q] = Token{score, dur, trace};
            return true;
        };
        auto enter = [&](int to, double score, double entryScore, int trace, int boundary) {
            if (offer(s->slotBase[to], score, 1, trace)) s->pending[to] = Pending{entryScore, boundary, true};
        };
        if (s->frame == 0) {
            for (const Arc &a : s->nodes[s->enter].arcs)
                enter(a.to, linkCost(s->enter, a.to, a.boundary), 0.0, -1, a.boundary);
        } else {
            s->leaving.clear();
            // Without transition probabilities a link costs the same from
            // every state: states with the same arcs (the ends of the words
            // of one slot of a grammar) are left once, by the best of them.
            const bool shared = trow == nullptr;
            for (int slot : s->active) {
                const Token &t = s->cur[slot];
                int st = s->slotState[slot];
                const Hot &n = s->hot[st];
                if (n.selfLoop) {
                    int last = s->slotBase[st + 1] - 1, q = std::min(slot + 1, last);
                    // A stay that wins a state's only slot is no entry.
                    if (offer(q, t.score + s->stayCost(rec, n, t.dur) + (trow ? linkCost(st, st, 0) : 0.0), t.dur + 1,
                              t.trace) &&
                        q == s->slotBase[st])
                        s->pending[st].set = false;
                }
                if (!n.hasArcs) continue;
                double leave = t.score + s->leaveCost(rec, n, t.dur);
                int key = shared ? n.group : st;
                if (s->leaveScore[key] == kNone) s->leaving.push_back(key);
                if (leave > s->leaveScore[key])
                    s->leaveScore[key] = leave, s->leaveTrace[key] = t.trace, s->leaveFrom[key] = st;
            }
            // Each state is left once, by its best stay: the arcs do not
            // care how long it lasted.
            for (int key : s->leaving) {
                double leave = s->leaveScore[key];
                int trace = s->leaveTrace[key], st = s->leaveFrom[key];
                s->leaveScore[key] = kNone;
                for (const Arc &a : s->nodes[st].arcs)
                    enter(a.to, leave + linkCost(st, a.to, a.boundary), leave, trace, a.boundary);
            }
        }
        s->logRow.resize(categories);
        for (int c = 0; c < categories; c++) s->logRow[c] = std::log(row[c] > floorP ? row[c] : floorP);
        if (rec->durationModel == VITERBI_MINMAX) s->dropDominated(++s->scans);
        double best = kNone;
        for (int q : s->nextActive) {
            Token &t = s->next[q];
            if (t.score == kNone) continue;
            t.score += s->logRow[s->hot[s->slotState[q]].category];
            best = std::max(best, t.score);
        }
        double threshold = best + rec->beam;
        s->active.clear();
        for (int q : s->nextActive) {
            s->inNext[q] = 0;
            Token &t = s->next[q];
            int st = s->slotState[q];
            bool entry = false;
            if (q == s->slotBase[st]) {
                entry = s->pending[st].set;
                s->pending[st].set = false;
            }
            if (t.score == kNone || t.score < threshold) continue;
            if (entry) {
                if (s->traces.size() == s->traces.capacity())
                    s->traces.reserve(s->traces.size() + std::max<size_t>(rec->blockSize, s->traces.size()));
                s->traces.push_back(Trace{st, s->frame, t.trace, s->pending[st].boundary, s->pending[st].entryScore});
                t.trace = (int)s->traces.size() - 1;
            }
            s->cur[q] = t;
            s->active.push_back(q);
        }
        if (s->traces.size() > s->lastLive * 4 + (1u << 20)) s->collect();
        if (rec->targetBeamSize > 0) {
            int n = (int)s->active.size();
            if (n > rec->targetBeamSize + rec->targetBeamVariance)
                rec->beam = std::min(rec->beam - rec->beamThresholdAdjust, rec->maxBeamThreshold);
            else if (n < rec->targetBeamSize - rec->targetBeamVariance)
                rec->beam = std::max(rec->beam + rec->beamThresholdAdjust * rec->beamRatio, rec->beamThreshold);
        }
        s->frame++;
        rec->framesSearched = s->frame;
    }
    return 0;
}

namespace {

HalbrinList *listOf(const ViterbiRecord *rec) { return newHalbrin(rec->msPerFrame); }

void append(HalbrinList *l, const std::string &label, int begin, int end, float score) {
    Segment g{const_cast<char *>(label.c_str()), (int32_t)label.size() + 1, begin, end, score};
    appendSegment(nullptr, g, l, 0);
}

// Fills the record from the trace chain that ends in token t at the last
// frame, with total the path's final score.
void fillAnswer(ViterbiRecord *rec, int trace, double total) {
    ViterbiSearch *s = rec->search;
    std::vector<const Trace *> chain;
    for (int k = trace; k >= 0; k = s->traces[k].prev) chain.push_back(&s->traces[k]);
    std::reverse(chain.begin(), chain.end());
    nukeHalbrin(rec->words);
    nukeHalbrin(rec->phonemes);
    nukeHalbrin(rec->states);
    rec->words = listOf(rec);
    rec->phonemes = listOf(rec);
    rec->states = listOf(rec);
    int end = s->frame;
    auto startScore = [&](size_t i) { return i < chain.size() ? chain[i]->startScore : total; };
    auto startFrame = [&](size_t i) { return i < chain.size() ? chain[i]->start : end; };
    size_t wordStart = 0, phoneStart = 0;
    for (size_t i = 0; i < chain.size(); i++) {
        const Node &n = s->nodes[chain[i]->state];
        append(rec->states, n.name, chain[i]->start, startFrame(i + 1), (float)(startScore(i + 1) - startScore(i)));
        bool last = i + 1 == chain.size();
        const Node *nx = last ? nullptr : &s->nodes[chain[i + 1]->state];
        bool wordEnds = last || chain[i + 1]->boundary || nx->word != n.word;
        bool phoneEnds = wordEnds || nx->phoneme != n.phoneme || nx->phoneUnit;
        if (phoneEnds) {
            append(rec->phonemes, n.phoneme, chain[phoneStart]->start, startFrame(i + 1),
                   (float)(startScore(i + 1) - startScore(phoneStart)));
            phoneStart = i + 1;
        }
        if (wordEnds) {
            append(rec->words, n.word, chain[wordStart]->start, startFrame(i + 1),
                   (float)(startScore(i + 1) - startScore(wordStart)));
            wordStart = i + 1;
        }
    }
    for (HalbrinList *l : {rec->words, rec->phonemes, rec->states}) l->score = (float)total;
    rec->score = (float)total;
    rec->endFrame = end;
}

int answer(ViterbiRecord *rec, GravlinNet *net, bool soFar) {
    ViterbiSearch *s = searchOf(rec, net);
    if (!s) return 1;
    double best = kNone;
    int bestTrace = -1;
    if (!soFar) {
        for (int slot : s->active) {
            const Node &n = s->nodes[s->slotState[slot]];
            if (n.exitBoundary < 0) continue;
            const Token &t = s->cur[slot];
            double v = t.score + s->leaveCost(rec, n, t.dur) + (n.exitBoundary ? rec->wordBoundaryPenalty : 0.0);
            if (v > best) best = v, bestTrace = t.trace;
        }
    }
    if (bestTrace < 0 && (soFar || rec->allowWordCutoff)) {
        for (int st : s->active)
            if (s->cur[st].score > best) best = s->cur[st].score, bestTrace = s->cur[st].trace;
    }
    if (bestTrace < 0) {
        setError(rec, "no path reaches the end of the network after %d frames", s->frame);
        return 1;
    }
    fillAnswer(rec, bestTrace, best);
    return 0;
}

} // namespace

int Viterbi_answer(ViterbiRecord *rec, GravlinNet *net) { return answer(rec, net, false); }
int Viterbi_answerSoFar(ViterbiRecord *rec, GravlinNet *net) { return answer(rec, net, true); }

} // extern "C"

// ------------------------------------------------------------ copies and bytes

namespace {

HalbrinList *copyList(HalbrinList *l) { return l ? cloneHalbrin(l) : nullptr; }

using Writer = cntr::ByteWriter;
using Reader = cntr::ByteReader;

void writeList(Writer &w, const HalbrinList *l) {
    w.i32(l ? l->count : -1);
    if (!l) return;
    w.f32(l->score);
    for (int i = 0; i < l->count; i++) {
        const Segment &g = l->segments[i];
        w.text(g.label ? g.label : "");
        w.i32(g.begin);
        w.i32(g.end);
        w.f32(g.score);
    }
}

HalbrinList *readList(Reader &in, float msPerFrame) {
    int32_t n = in.i32();
    if (!in.ok || n == -1) return nullptr;
    if (n < 0 || (size_t)n > (size_t)(in.end - in.p) / 16) {
        in.fail("a segment count runs past the end");
        return nullptr;
    }
    HalbrinList *l = newHalbrin(msPerFrame);
    l->score = in.f32();
    for (int i = 0; in.ok && i < n; i++) {
        std::string label;
        in.text(label);
        int32_t b = in.i32(), e = in.i32();
        float sc = in.f32();
        if (in.ok) append(l, label, b, e, sc);
    }
    return l;
}

void writeRecord(Writer &w, const ViterbiRecord *rec) {
    const ViterbiSearch *s = rec->search;
    w.f32(rec->msPerFrame);
    w.i32(rec->endFrame);
    w.f32(rec->score);
    w.i32(rec->blockSize);
    for (float v : {rec->beamThreshold, rec->beamThresholdAdjust, rec->maxBeamThreshold}) w.f32(v);
    w.i32(rec->targetBeamSize);
    w.i32(rec->targetBeamVariance);
    w.f32(rec->beamRatio);
    w.i32(rec->durationModel);
    w.i32(rec->allowWordCutoff);
    for (float v : {rec->durationShortPenalty, rec->durationLongPenalty, rec->wordBoundaryPenalty,
                    rec->observationProbFloor, rec->transProbFactor, rec->beam})
        w.f32(v);
    w.i32(rec->framesSearched);
    writeList(w, rec->words);
    writeList(w, rec->phonemes);
    writeList(w, rec->states);
    w.i32(s ? s->numStates : -1);
    if (!s) return;
    w.i32(s->enter);
    w.i32(s->exit);
    for (const Node &n : s->nodes) {
        w.i32(n.emitting);
        w.i32(n.category);
        w.f32(n.minDur);
        w.f32(n.maxDur);
        w.i32(n.selfLoop);
        w.i32(n.exitBoundary);
        w.i32(n.phoneUnit);
        w.text(n.name);
        w.text(n.word);
        w.text(n.phoneme);
        w.i32((int32_t)n.arcs.size());
        for (const Arc &a : n.arcs) {
            w.i32(a.to);
            w.i32(a.boundary);
        }
    }
    w.i32(s->frame);
    w.i32((int32_t)s->traces.size());
    for (const Trace &t : s->traces) {
        w.i32(t.state);
        w.i32(t.start);
        w.i32(t.prev);
        w.i32(t.boundary);
        w.f64(t.startScore);
    }
    w.i32((int32_t)s->active.size());
    for (int slot : s->active) {
        const Token &t = s->cur[slot];
        w.i32(slot);
        w.f64(t.score);
        w.i32(t.dur);
        w.i32(t.trace);
    }
}

} // namespace

extern "C" {

int Viterbi_clone(ViterbiRecord *dst, const ViterbiRecord *src) {
    *dst = *src;
    dst->words = copyList(src->words);
    dst->phonemes = copyList(src->phonemes);
    dst->states = copyList(src->states);
    dst->search = src->search ? new ViterbiSearch(*src->search) : nullptr;
    return 0;
}

size_t Viterbi_packedLength(const ViterbiRecord *rec) {
    Writer w;
    writeRecord(w, rec);
    return w.n;
}

void Viterbi_pack(const ViterbiRecord *rec, unsigned char *buffer) {
    Writer w;
    w.p = buffer;
    writeRecord(w, rec);
}

int Viterbi_unpack(GS_Result *r, ViterbiRecord *rec, const unsigned char *buffer, size_t length) {
    memset(rec, 0, sizeof *rec);
    Reader in{r, buffer, buffer + length, "packed search"};
    rec->msPerFrame = in.f32();
    rec->endFrame = in.i32();
    rec->score = in.f32();
    rec->blockSize = in.i32();
    rec->beamThreshold = in.f32();
    rec->beamThresholdAdjust = in.f32();
    rec->maxBeamThreshold = in.f32();
    rec->targetBeamSize = in.i32();
    rec->targetBeamVariance = in.i32();
    rec->beamRatio = in.f32();
    rec->durationModel = in.index(0, 3, "the duration model");
    rec->allowWordCutoff = in.i32();
    rec->durationShortPenalty = in.f32();
    rec->durationLongPenalty = in.f32();
    rec->wordBoundaryPenalty = in.f32();
    rec->observationProbFloor = in.f32();
    rec->transProbFactor = in.f32();
    rec->beam = in.f32();
    rec->framesSearched = in.i32();
    rec->words = readList(in, rec->msPerFrame);
    rec->phonemes = readList(in, rec->msPerFrame);
    rec->states = readList(in, rec->msPerFrame);
    if (in.ok && !(rec->observationProbFloor > 0)) in.fail("the probability floor is not positive");
    int32_t N = in.i32();
    if (in.ok && N >= 0) {
        if ((size_t)N > (size_t)(in.end - in.p) / 40) in.fail("the state count runs past the end");
        ViterbiSearch *s = new ViterbiSearch;
        rec->search = s;
        s->numStates = in.ok ? N : 0;
        s->enter = in.index(0, std::max(N, 1), "the start or end state");
        s->exit = in.index(0, std::max(N, 1), "the start or end state");
        s->nodes.resize(s->numStates);
        for (Node &n : s->nodes) {
            if (!in.ok) break;
            n.emitting = in.i32() != 0;
            n.category = in.i32();
            n.minDur = in.f32();
            n.maxDur = in.f32();
            n.selfLoop = in.i32() != 0;
            n.exitBoundary = in.i32();
            n.phoneUnit = in.i32() != 0;
            in.text(n.name);
            in.text(n.word);
            in.text(n.phoneme);
            if (in.ok && n.emitting && n.category < 0) in.fail("a unit has no category");
            int32_t arcs = in.count(8, "arc");
            for (int k = 0; in.ok && k < arcs; k++) {
                int32_t to = in.index(0, N, "an arc");
                int32_t b = in.i32();
                n.arcs.push_back(Arc{to, b});
            }
        }
        for (const Node &n : s->nodes)
            for (const Arc &a : n.arcs)
                if (in.ok && !s->nodes[a.to].emitting) in.fail("an arc leads to a state that is no unit");
        if (in.ok) s->makeSlots(rec); // they follow from the nodes and the model
        s->frame = in.i32();
        int32_t traces = in.count(24, "trace");
        for (int k = 0; in.ok && k < traces; k++) {
            Trace t;
            t.state = in.index(0, N, "a trace's state");
            t.start = in.i32();
            t.prev = in.index(-1, k, "a trace's predecessor"); // earlier traces only: no loops
            t.boundary = in.i32();
            t.startScore = in.f64();
            s->traces.push_back(t);
        }
        s->lastLive = s->traces.size();
        int32_t active = in.count(20, "token");
        std::vector<char> seen(s->cur.size(), 0);
        for (int k = 0; in.ok && k < active; k++) {
            int32_t slot = in.index(0, (int32_t)s->cur.size(), "a token's slot");
            Token t{};
            t.score = in.f64();
            t.dur = in.i32();
            t.trace = in.index(-1, (int32_t)s->traces.size(), "a token's trace");
            if (!in.ok) break;
            if (seen[slot]) {
                in.fail("a token slot stands twice");
                break;
            }
            seen[slot] = 1;
            s->cur[slot] = t;
            s->active.push_back(slot);
        }
    } else if (in.ok && N != -1) {
        in.fail("the state count is negative");
    }
    if (in.ok && in.p != in.end) in.fail("bytes left over");
    if (in.ok) return 0;
    Viterbi_free(rec);
    return 1;
}

} // extern "C"
