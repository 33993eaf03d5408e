// The word-loop decoder: its grammar over the search, word scores and the
// piping of probability frames.
#include "decoder.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <queue>
#include <set>

namespace {

// Entry scores of every position from the words' current scores.
void applyScores(DecoderTree *d) {
    auto &g = d->search->grammars[0];
    for (size_t p = 0; p < g.size(); p++) {
        g[p].entryScore = d->words[p].wordScore;
        for (size_t k = 0; k < g[p].next.size(); k++) g[p].nextScore[k] = d->words[g[p].next[k]].wordScore;
    }
}

// Search settings from the decoder's.
void settle(DecoderTree *d) {
    SevrinSearch *s = d->search.get();
    s->beam = d->stateBeam;
    s->wordEndBeam = d->wordEndBeam;
    s->active = d->active;
    s->shortPen = d->shortPen;
    s->longPen = d->longPen;
    // Word scores already hold the grammar scale and cross-word penalty.
    s->grammarScale = 1.0f;
    s->crossModel = 0.0f;
}

}  // namespace

DecoderTree *Decoder_CreateTree(GS_Result *r, HmmList *list, WordGraph *const *words, int numWords) {
    if (numWords <= 0) {
        GS_AppendResult(r, "no words to decode", (char *)nullptr);
        return nullptr;
    }
    // One position per word, each followed by every word.
    std::vector<GrammarPosition> pos(numWords);
    std::vector<int32_t> all(numWords);
    std::vector<float> zero(numWords, 0.0f);
    for (int i = 0; i < numWords; i++) all[i] = i;
    for (int i = 0; i < numWords; i++)
        pos[i] = {words[i]->name, 1, 1, 0.0f, numWords, all.data(), zero.data()};
    WordGrammar loop{const_cast<char *>("loop"), numWords, pos.data()};
    WordGrammar *gp = &loop;
    SevrinSearch *s = Sevrin_CreateGrammar(r, &gp, 1, words, numWords);
    if (!s) return nullptr;
    std::unique_ptr<DecoderTree> d(new DecoderTree());
    d->search.reset(s);
    d->lattice.reset(Sevrin_NewLattice(1000, 1000, 100, 100));
    s->lattice = d->lattice.get();
    Sevrin_Bind(s, list);
    if (Sevrin_Check(r, s)) return nullptr;
    d->wordData.assign(numWords, {0.0f, 0.0f});
    d->words = d->wordData.data();
    d->numWords = numWords;
    d->likelihoodFactor = static_cast<float>(0.5 * std::log(2.0) * d->likelihoodScale);
    return d.release();
}

int Decoder_SetPrior(GS_Result *r, DecoderTree *d, const float *priors, int count) {
    for (int i = 0; i < count; i++)
        if (!(priors[i] > 0)) {
            GS_AppendResult(r, "prior ", std::to_string(i).c_str(), " is not above 0", (char *)nullptr);
            return 1;
        }
    d->priors.assign(priors, priors + count);
    return 0;
}

int Decoder_SetUnigram(GS_Result *r, DecoderTree *d, const std::vector<float> &scores) {
    if ((int)scores.size() != d->numWords) {
        GS_AppendResult(r, "a score for each of the ", std::to_string(d->numWords).c_str(), " words is needed",
                        (char *)nullptr);
        return 1;
    }
    for (int i = 0; i < d->numWords; i++) d->words[i].baseScore = scores[i];
    Decoder_Rescale(d);
    return 0;
}

void Decoder_Rescale(DecoderTree *d) {
    for (int i = 0; i < d->numWords; i++) d->words[i].wordScore = d->words[i].baseScore * d->grammarScale + d->crossWord;
}

void Decoder_Reset(DecoderTree *d) { Sevrin_Reset(d->search.get()); }

int Decoder_Pipe(GS_Result *r, DecoderTree *d, float *const *rows, int numRows, int cols, const float *peaks) {
    settle(d);
    applyScores(d);
    const float *pri = d->priors.empty() ? nullptr : d->priors.data();
    if (pri && (int)d->priors.size() < cols) pri = nullptr;
    if (!peaks) return Sevrin_ForwardProbs(r, d->search.get(), rows, numRows, cols, d->likelihoodScale, pri);
    std::vector<float *> kept;
    for (int i = 0; i < numRows; i++)
        if (peaks[i] != 0) kept.push_back(rows[i]);
    if (kept.empty()) return 0;
    return Sevrin_ForwardProbs(r, d->search.get(), kept.data(), (int)kept.size(), cols, d->likelihoodScale, pri);
}

HalbrinList *Decoder_GetBest(GS_Result *r, DecoderTree *d) {
    HalbrinList *lists[3];
    int keep = d->search->traceFlags;
    d->search->traceFlags = 1;
    int bad = Sevrin_Best(r, d->search.get(), lists);
    d->search->traceFlags = keep;
    return bad ? nullptr : lists[0];
}

SevrinLattice *Decoder_Lattice(const DecoderTree *d) { return new SevrinLattice(*d->lattice); }

std::string Decoder_Info(const DecoderTree *d) {
    return "words " + std::to_string(d->numWords) + " frames " + std::to_string(d->search->frame) + " wordends " +
           std::to_string(d->lattice->numCells);
}

namespace {

// Best-first enumeration of word strings backwards from the cells that
// end at the last frame; the bound of a partial string is exact, the best
// score of a word ending where its first word begins.
void generate(SevrinLattice *l) {
    l->generated = true;
    const auto &cells = l->cells;
    if (cells.empty()) return;
    int last = 0;
    std::map<int, std::vector<int>> endingAt;
    std::map<int, double> bestAt;
    for (size_t i = 0; i < cells.size(); i++) {
        last = std::max(last, cells[i].end);
        endingAt[cells[i].end].push_back((int)i);
        auto it = bestAt.find(cells[i].end);
        if (it == bestAt.end() || cells[i].score > it->second) bestAt[cells[i].end] = cells[i].score;
    }
    auto prefix = [&](int frame) { return frame == 0 ? 0.0 : (bestAt.count(frame) ? bestAt[frame] : -1e300); };
    auto segment = [&](int c) { return cells[c].score - prefix(cells[c].begin); };
    struct Partial {
        double bound, sum;
        std::vector<int> path; // last word first
        bool operator<(const Partial &o) const { return bound < o.bound; }
    };
    std::priority_queue<Partial> queue;
    for (int c : endingAt[last]) queue.push({prefix(cells[c].begin) + segment(c), segment(c), {c}});
    std::set<std::vector<int>> seen;
    for (int pops = 0; !queue.empty() && l->paths.size() < 100 && pops < 100000; pops++) {
        Partial p = queue.top();
        queue.pop();
        int first = p.path.back();
        if (cells[first].begin == 0) {
            std::vector<int> words;
            for (auto it = p.path.rbegin(); it != p.path.rend(); ++it) words.push_back(cells[*it].word);
            if (!seen.insert(words).second) continue;
            l->paths.emplace_back(p.path.rbegin(), p.path.rend());
            l->pathScores.push_back(p.sum);
            continue;
        }
        auto it = endingAt.find(cells[first].begin);
        if (it == endingAt.end()) continue;
        for (int c : it->second) {
            Partial q{0, p.sum + segment(c), p.path};
            q.path.push_back(c);
            q.bound = q.sum + prefix(cells[c].begin);
            queue.push(q);
        }
    }
}

}  // namespace

HalbrinList *Decoder_LatticeNext(const DecoderTree *d, SevrinLattice *l) {
    if (!l->generated) generate(l);
    if (l->nextPath >= l->paths.size()) return nullptr;
    const std::vector<int> &path = l->paths[l->nextPath];
    HalbrinList *out = newHalbrin(d->search->framesize);
    GS_Result *r = GS_CreateResult();
    double before = 0;
    for (int c : path) {
        const SevrinLattice::Cell &cell = l->cells[c];
        std::string name = cell.word >= 0 && cell.word < (int)d->search->words.size() ? d->search->words[cell.word].name : "?";
        Segment seg;
        seg.label = &name[0];
        seg.labelSize = (int32_t)name.size() + 1;
        seg.begin = cell.begin;
        seg.end = cell.end;
        seg.score = (float)(cell.score - before);
        before = cell.score;
        appendSegment(r, seg, out, 0);
    }
    GS_DeleteResult(r);
    out->score = (float)l->pathScores[l->nextPath++];
    return out;
}
