// The word-loop decoder: its grammar over the search, word scores and the
// piping of probability frames.
#include "decoder.h"

#include <cmath>

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
