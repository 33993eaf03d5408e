/* Hierarchical HMM search: grammars of word positions, word graphs of
 * phones, and each phone a model of the hmm library; frames of features
 * scored by the models' mixtures, one Viterbi step a frame.
 *
 * Contract:
 *  - Sevrin_CreateGrammar copies what it needs of the grammars and words:
 *    nothing it is given is referred to afterwards. The first grammar is
 *    initial, the last final; after a grammar's final positions the search
 *    goes on at the entries of the next grammar. A position naming a word
 *    that is not among the words is refused. With appendSp every word
 *    gets an optional node "sp" (the list's model of that name) after its
 *    final nodes.
 *  - A word node's model is the model list's entry modelIndex when that is
 *    in range, else the list's model of the node's name; the network holds
 *    its models (hmm.h), so destroying the list or pool later leaves
 *    nothing dangling. It is built on the first check after Sevrin_Bind,
 *    the only time the list is read.
 *  - With a triphone table (Sevrin_CreateGrammar's, or one set later) a
 *    phone c between the phones l and r runs the list's model named by the
 *    table's unit of "l-c+r", else its own model; a unit the list lacks is
 *    refused. Contexts cross word ends: a word's first phone sees the last
 *    phone of the word before it and its last phone the first of the word
 *    after it (a silence or short pause when that is what the path passes
 *    through), and ".pau" at the sentence's two ends. Each phone gets a
 *    copy per left context and per group of right contexts sharing a
 *    unit, so every path is scored by its own units.
 *  - Scores are natural logarithms. A word entry costs grammarScale x the
 *    grammar's transition score + ln(shortPen) + crossModel (the initial
 *    entry: grammarScale x the entry score + ln(shortPen)).
 *  - With a language model bound, every word entry also costs grammarScale
 *    x the model's score of the word after the last two model words on the
 *    path (trigram on a three-level model, else bigram; unigram for the
 *    first). A word's model index is its vocabulary entry when a vocabulary
 *    was given, else its place in the word list; a word with no index (or
 *    one the model lacks) costs nothing and leaves the history as it was,
 *    so fillers such as silences stay out of the context. Tokens are kept
 *    apart per history (the last word for a bigram model, the last two for
 *    a trigram one), so the best path is the best under the model and not
 *    only under the histories that won each state.
 *  - Pruning after each frame: tokens below the best by more than beam
 *    are dropped, then all but the active best (active > 0); word ends
 *    below the best word end by more than wordEndBeam are not continued.
 *  - The best hypothesis is the best word end of a final position of the
 *    last grammar at the last frame. Segments are [begin, end) in frames
 *    with the score each added; traceFlags bit 0 words, 1 phones, 2 states.
 *  - Failures append a message to r and answer nonzero (or null).
 */
#ifndef TOVIK_SEVRIN_H
#define TOVIK_SEVRIN_H

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "halbrin.h"
#include "hmm.h"
#include "word.h"
#include "zandor.h"

struct SevrinNet;

/* Word-end records of a search, when one is bound. */
struct SevrinLattice {
    int32_t numCells = 0; /* word ends recorded */
    int32_t numNodes = 0; /* distinct end frames among them */
    int32_t incrCell = 10000, incrNode = 1000;
    struct Cell {
        int32_t word, begin, end;
        float score;
    };
    std::vector<Cell> cells;
    std::vector<int32_t> nodeFrames;
    /* The n-best word strings once generated, and the next one to give. */
    bool generated = false;
    std::vector<std::vector<int>> paths; /* cell indices, first word first */
    std::vector<double> pathScores;
    size_t nextPath = 0;
};
SevrinLattice *Sevrin_NewLattice(int initCell, int incrCell, int initNode, int incrNode);
void Sevrin_ResetLattice(SevrinLattice *l);

struct SevrinSearch {
    /* Settings, with their defaults. */
    float active = 0;        /* states kept after the beam; 0: all */
    float shortPen = 1.0f;   /* per word entered, as a probability */
    float longPen = 1.0f;    /* kept for callers */
    float grammarScale = 1.0f;
    float crossModel = 0.0f;
    float beam = 300.0f;
    float wordEndBeam = 200.0f;
    float fbPrune = 0.0f;    /* kept for callers */
    float framesize = 10.0f; /* ms per frame of the answers */
    /* Bindings for one call, set by the caller before it. */
    HmmList *hmmlist = nullptr;
    SevrinLattice *lattice = nullptr;
    const ZandorModel *lm = nullptr;
    int32_t traceFlags = 1;
    /* Names of the objects a caller bound (pool, list, triphone, lattice,
     * backtrace, language model), looked up again at each use; the
     * triphone table is copied into triphones instead, so its slot stays
     * empty. */
    std::string bound[6];

    struct Word {
        std::string name;
        std::vector<std::string> nodeNames;
        std::vector<int> modelIndex;
        std::vector<std::vector<int>> successors;
        std::vector<int> kinds;
    };
    struct Position {
        int word;
        bool initial, final;
        float entryScore;
        std::vector<int> next;
        std::vector<float> nextScore;
    };
    std::vector<Word> words;
    std::vector<int> lmWord; /* per word, its model index (-1 none); empty: the word's place */
    /* "l-c+r" -> unit model name; empty: every phone its own model. */
    std::map<std::string, std::string> triphones;
    std::vector<std::vector<Position>> grammars;
    std::shared_ptr<SevrinNet> net; /* built from the bound list */
    int frame = 0;
};

SevrinSearch *Sevrin_CreateGrammar(GS_Result *r, WordGrammar *const *grammars, int numGrammars,
                                   WordGraph *const *words, int numWords, const LmVocab *vocab = nullptr,
                                   bool appendSp = false,
                                   const std::map<std::string, std::string> *triphones = nullptr);
/* The model of a word's node n in a list: the entry modelIndex when in
 * range, else the model of the node's name; null when there is none. */
HmmModel *Sevrin_NodeModel(const HmmList *list, const SevrinSearch::Word &w, int n);
/* Binds a model list; the network is built again on the next check. */
void Sevrin_Bind(SevrinSearch *s, HmmList *list);
/* 0 when the search can run with the bound list (building its network). */
int Sevrin_Check(GS_Result *r, SevrinSearch *s);
void Sevrin_Reset(SevrinSearch *s);
int Sevrin_Forward(GS_Result *r, SevrinSearch *s, float *const *rows, int numRows, int cols);
/* The same with frames of probabilities, one column per pool mixture: a
 * state scores scale x ln(p / prior) of its mixture's column (p and the
 * quotient floored at 1e-30; priors null: 1). */
int Sevrin_ForwardProbs(GS_Result *r, SevrinSearch *s, float *const *rows, int numRows, int cols, float scale,
                        const float *priors);
/* The best hypothesis so far: the lists of the trace flags set (words,
 * phones, states; null where the flag is off), the first list's score the
 * path's. Fails when no hypothesis ends a sentence. */
int Sevrin_Best(GS_Result *r, SevrinSearch *s, HalbrinList **lists);
void Sevrin_Nuke(SevrinSearch *s);

/* The search's words, grammars, settings and triphone table as a text
 * file, and back; a loaded search has no bindings. Names must not hold
 * white space. */
int Sevrin_Save(GS_Result *r, const char *path, const SevrinSearch *s);
SevrinSearch *Sevrin_Load(GS_Result *r, const char *path);
/* The same text in memory; path names the source in messages. */
int Sevrin_Format(GS_Result *r, const SevrinSearch *s, std::string *out);
SevrinSearch *Sevrin_Parse(GS_Result *r, const std::string &text, const char *path);

/* Word alignment of a hypothesis against a reference (edit distance, ties
 * preferring a match, then a substitution): per step a segment "ref hyp"
 * ("*" for a missing side) over step indices, with the counts of correct
 * words, substitutions, deletions and insertions. */
HalbrinList *Sevrin_Align(const std::vector<std::string> &ref, const std::vector<std::string> &hyp, int *correct,
                          int *subs, int *dels, int *ins);

#endif
