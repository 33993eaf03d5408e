/* Word-loop decoder over frames of probabilities: any word may follow any
 * word, each word a graph of phones bound to models of a model list, each
 * model state scored by its pool mixture's column of the frame.
 *
 * Contract:
 *  - The words are kept as a hierarchical search (sevrin.h) of a single
 *    grammar of one position per word, every position initial, final and
 *    followed by every word; that is what a saved decoder holds. Decoding
 *    runs over a prefix tree of the words' pronunciations (lextree.h),
 *    giving that loop's word strings and scores: a word costs its
 *    wordScore, added where it ends. The settings map onto the search:
 *    stateBeam its beam, wordEndBeam, active, shortPen.
 *  - A state scores likelihoodScale x ln(p / prior) of its mixture's
 *    column (priors: 1 until set).
 *  - Word scores: each word keeps its base score (0 unless a unigram
 *    model sets one); Decoder_Rescale sets every wordScore to
 *    base x grammarScale + crossWord, so repeating it changes nothing.
 *  - Decoder_Pipe adds frames until Decoder_Reset; Decoder_GetBest answers
 *    the best word string so far, null when none ends.
 */
#ifndef TOVIK_DECODER_H
#define TOVIK_DECODER_H

#include <memory>
#include <string>
#include <vector>

#include "lextree.h"
#include "sevrin.h"

struct DecoderWord {
    float wordScore;
    float baseScore;
};

struct LexTreeFree {
    void operator()(LexTree *t) const { LexTree_Nuke(t); }
};

struct DecoderTree {
    DecoderWord *words;
    int32_t numWords;
    int32_t garbage = 0, ngram = 0, nstate = 3, heapSize = 100000;
    float shortPen = 1.0f, longPen = 1.0f, active = 0.0f, stateBeam = 300.0f, wordEndBeam = 200.0f,
          likelihoodScale = 1.0f, grammarScale = 1.0f, crossWord = 0.0f, posterior = 0.0f;
    float likelihoodFactor = 0.0f;
    void *lm = nullptr; /* a bound n-gram model; the caller keeps it alive */
    /* The library's own. */
    std::vector<DecoderWord> wordData;
    std::vector<float> priors;
    std::unique_ptr<SevrinSearch> search;
    std::unique_ptr<SevrinLattice> lattice;
    std::unique_ptr<LexTree, LexTreeFree> lex;
    /* The models it was built over, as model and list file texts, so that a
     * saved decoder carries them. */
    std::string modelText, listText;
};

DecoderTree *Decoder_CreateTree(GS_Result *r, HmmList *list, WordGraph *const *words, int numWords);
/* Priors, one per pool mixture (column); 0 on success. */
int Decoder_SetPrior(GS_Result *r, DecoderTree *d, const float *priors, int count);
/* Base scores per word (natural logs), e.g. a unigram model's. */
int Decoder_SetUnigram(GS_Result *r, DecoderTree *d, const std::vector<float> &scores);
void Decoder_Rescale(DecoderTree *d);
void Decoder_Reset(DecoderTree *d);
/* Frames of probabilities; with peaks (one per frame) a frame whose peak
 * is 0 is skipped. */
int Decoder_Pipe(GS_Result *r, DecoderTree *d, float *const *rows, int numRows, int cols, const float *peaks);
HalbrinList *Decoder_GetBest(GS_Result *r, DecoderTree *d);
/* Word ends so far, as a lattice of its own. */
SevrinLattice *Decoder_Lattice(const DecoderTree *d);
std::string Decoder_Info(const DecoderTree *d);
/* The lattice's next best word string (generated on the first call; the
 * lattice keeps its own place), null when there is none left. A word's
 * score is its end's score less the best score of a word ending where it
 * begins; a string's, the sum of its words'; strings come best first, each
 * word sequence once. */
HalbrinList *Decoder_LatticeNext(const DecoderTree *d, SevrinLattice *lattice);

/* A decoder as one file: its settings, word and prior scores, the models
 * it was built over and its search, each part preceded by its length;
 * loading checks the lengths against the file and refuses a damaged file
 * naming the part. A loaded decoder is ready to decode, needing no model
 * list of the caller's. */
int Decoder_Save(GS_Result *r, const char *path, const DecoderTree *d);
DecoderTree *Decoder_Load(GS_Result *r, const char *path);
/* A lattice's word ends as a text file: a header naming the columns, then
 * a line per word end. Loading takes the named column as each word end's
 * score; the word indices are the decoder's that made the lattice. */
int Decoder_LatticeSave(GS_Result *r, const char *path, const SevrinLattice *l);
SevrinLattice *Decoder_LatticeLoad(GS_Result *r, const char *path, const char *field);

#endif
