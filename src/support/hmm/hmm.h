/* Hidden Markov models: a pool of diagonal Gaussian mixtures and transition
 * matrices, model lists over the pool, model files, and training.
 *
 * Contract:
 *  - A pool owns its mixtures and transition matrices; a model list holds
 *    its models (a model is freed with its last list, so a list built from
 *    another never outlives the models it names), and each model holds the
 *    pool its states point into (a pool is freed with the last of its owner
 *    and its models). Destroying objects in any order leaves nothing
 *    dangling.
 *  - A model of numStates states has a non-emitting entry state 0 and exit
 *    state numStates - 1; stateIndex[i] is the pool index of state i's
 *    mixture (-1 for the two non-emitting states); category is the model's
 *    index in the list it was loaded with.
 *  - Model files are the text model format of the HTK toolkit, restricted to
 *    one stream of diagonal Gaussians: macros ~o (global options), ~s
 *    (state), ~t (transition matrix), ~h (model); keywords <VECSIZE>,
 *    <STREAMINFO>, <DIAGC>, <NULLD>, a parameter kind (<MFCC_E> ...),
 *    <BEGINHMM>, <NUMSTATES>, <STATE>, <NUMMIXES>, <MIXTURE>, <MEAN>,
 *    <VARIANCE>, <GCONST>, <TRANSP>, <ENDHMM>, in any case. Anything else
 *    is refused by name. Mixtures and matrices are numbered in the order
 *    the file defines them. A model list file holds one model name a line.
 *  - Scores are natural logarithms. A component scores
 *    logWeight - (gconst + sum (x - mean)^2 * invVar) / 2, with gconst
 *    dim * ln(2 pi) + sum ln(var); a mixture the log-sum of its components.
 *  - Training statistics live in the pool (per mixture component and per
 *    matrix); the embedded and isolated passes add to them, Hmm_Update
 *    re-estimates from them and clears them.
 *  - Failures append a message to r and return nonzero (or null); nothing
 *    half-made is handed back.
 */
#ifndef TOVIK_HMM_H
#define TOVIK_HMM_H

#include <stdint.h>

#include "halbrin.h"
#include "records.h"
#include "result.h"

#ifdef __cplusplus
#include <string>
#include <vector>

/* Numeric choices of training. */
struct HmmOptions {
    /* A variance never falls below this fraction of the variance of the
     * same dimension over every frame the update has seen. */
    double varFloorFraction = 0.01;
    /* ... nor below this absolute value. */
    double varFloorAbsolute = 1e-6;
    /* A component whose weight falls below this is kept at this weight. */
    double minWeight = 1e-5;
    /* Transition probabilities are kept at least this large where the model
     * allows the transition. */
    double minTrans = 1e-5;
};
extern const HmmOptions hmmOptions;

/* Statistics of one component: occupancy, first and second moments. */
struct HmmCompStats {
    double occ = 0;
    std::vector<double> sum, sqr;
};

struct HmmMixture {
    float **means;       /* one row of dim per component */
    float **invVars;     /* inverse variances, one row per component */
    float *logWeights;   /* natural logarithms of the weights */
    int32_t *meanIndex;  /* per component: its place among the pool's components */
    uint16_t numComponents;
    uint8_t dim;
    /* Below: the library's own. */
    std::string name;      /* ~s macro name; empty for a state defined inline */
    std::vector<float> gconst;
    std::vector<float> meanData, varData, weightData;
    std::vector<float *> meanRows, varRows;
    std::vector<int32_t> meanIndexData;
    std::vector<HmmCompStats> stats;
    std::vector<HmmCompStats> streamStats; /* of a second feature stream */
};

struct HmmTrans {
    int32_t n = 0;
    std::vector<float> logA; /* n x n, -inf where the transition is absent */
    std::string name;        /* ~t macro name; empty when inline */
    std::vector<double> counts; /* n x n expected transition counts */
    float at(int i, int j) const { return logA[(size_t)i * n + j]; }
};

struct HmmModel {
    char *name;
    int32_t *stateIndex;
    uint16_t numStates;
    int32_t category;
    HmmMixture **states;
    /* Below: the library's own. */
    std::string nameData;
    std::vector<int32_t> stateIndexData;
    std::vector<HmmMixture *> stateData;
    int32_t transIndex = -1;
    HmmTrans *trans = nullptr;
    int refs = 1; /* lists holding the model */
    struct HmmPool *pool = nullptr; /* held: its mixtures outlive the model */
};

struct HmmList {
    int32_t numModels;
    HmmModel **models;
    int32_t *sourceIndex; /* per model: its index in the list it came from (null: none) */
    char **logical;       /* per model: the name the list file gave, when it differs (null: none) */
    std::vector<HmmModel *> modelData;
    std::vector<int32_t> sourceData;
};

struct HmmPool {
    int32_t numMixtures;
    int32_t numTrans;
    HmmTrans **trans;
    HmmMixture **mixtures;
    void *nnet; /* borrowed "dravin/nnet" */
    /* Below: the library's own. */
    std::vector<HmmMixture *> mixtureData;
    std::vector<HmmTrans *> transData;
    int32_t vecSize = 0;
    std::string parmKind; /* as the model file gave it, e.g. "MFCC_E" */
    int refs = 1; /* its owner and every model that points into it */
    std::string nnetName; /* the network object bound by name, looked up at use */
};

/* Training frames of one model. */
struct HmmData {
    HmmModel *model;
    float **rows;
    int32_t *starts;
    int32_t *ends;
    int32_t numFrames;
    int32_t dim;
    int32_t numExamples;
};

/* Statistics copied out of a pool ("hmm/heapx"), indexed by mixture and
 * matrix; merged with Hmm_Accumulate, put back with Hmm_SetCount. */
struct HmmHeapx {
    std::vector<std::vector<HmmCompStats>> mixtures;
    std::vector<std::vector<double>> trans;
};

/* State of embedded training, continued across utterances. */
struct HmmEmbed {
    /* Scratch of the last pass, reused: edges, log scores, emissions, paths. */
    std::vector<int32_t> istack;
    std::vector<double> dstack;
    std::vector<float> fstack;
    std::vector<void *> pstack;
    int32_t accCount = 0; /* frames seen */
    double accScore = 0;  /* their summed log likelihood */
    double prune = 300.0; /* beam below the best forward score */
    double minModel = 10.0; /* occupancies below exp(-minModel) are not counted */
};

/* Per-frame network targets: for each row the numTargets pool mixtures of
 * highest occupancy (classIds, -1 for an empty slot) and their occupancies. */
struct NnTarget {
    float **targets;
    int32_t **classIds;
    int32_t numRows;
    int32_t numTargets;
    int32_t numFrames;
    std::vector<float> targetData;
    std::vector<int32_t> classData;
    std::vector<float *> targetRows;
    std::vector<int32_t *> classRows;
};

/* State of isolated training and of Viterbi initialisation. */
struct HmmTrain {
    int32_t iterations = 0;
    double lastScore = 0; /* log likelihood per frame of the last iteration */
};

HmmPool *Hmm_NewPool();
void Hmm_NukePool(HmmPool *pool); /* drops one hold */
HmmMixture *Hmm_NewMixture(int numComponents, int dim);
void Hmm_NukeMixture(HmmMixture *m);
void Hmm_NukeTrans(HmmTrans *t);
/* Drops one list's hold on a model; the last frees it (and its pool hold). */
void Hmm_NukeModel(HmmModel *m);
HmmModel *Hmm_NewModel(const std::string &name, int numStates);
HmmList *Hmm_NewList(int numModels);
void Hmm_NukeList(HmmList *list); /* releases the models' holds too */

/* Recomputes a mixture's gconst after its variances changed. */
void Hmm_Fix(HmmMixture *m);
/* Log likelihood of frame x (dim values) under the mixture. */
double Hmm_Score(const HmmMixture *m, const float *x);
/* Component log scores (weights included) into out, answering their log-sum. */
double Hmm_ComponentScores(const HmmMixture *m, const float *x, double *out);

int Hmm_Load(GS_Result *r, const char *modelFile, const char *listFile, HmmPool **pool, HmmList **list);
int Hmm_Save(GS_Result *r, const char *modelFile, const char *listFile, const HmmPool *pool,
             const HmmList *list);
/* The text forms, for files already read. */
int Hmm_Parse(GS_Result *r, const std::string &text, const std::vector<std::string> &names, HmmPool **pool,
              HmmList **list);
std::string Hmm_Format(const HmmPool *pool, const HmmList *list);
/* The list file's text: a line per model, "logical physical" where they differ. */
std::string Hmm_ListText(const HmmList *list);
/* A whole file as bytes, failing with "could not open" naming it. */
int Hmm_ReadFile(GS_Result *r, const char *path, std::string *out);

/* A list of the models that a description's entries name for each label. */

HmmList *Hmm_GenList(GS_Result *r, const HalbrinList *labels, const HmmDescription *d, const HmmList *source);
/* Description lookups. Entry whose name is name, or -1. */
int Hmm_FindEntry(const HmmDescription *d, const char *name);
/* Entry whose model (first word of its stored model text) is name, or -1. */
int Hmm_FindModelEntry(const HmmDescription *d, const char *model);
/* The model text of an entry, without its wrapping and after its first word. */
std::string Hmm_EntryModel(const DescriptionEntry &e);

/* Unit names by context: the name of the entry that exists for the part,
 * into out (false: none). middle answers "<c>", else plain "c"; left
 * "l<c"; right "c>r"; whole "l<c>r". Flags: bit 0 when c has units after a
 * left context, bit 1 when it has units before a right context. */
int Hmm_PartFlags(const HmmDescription *d, const std::string &center);
bool Hmm_MiddlePart(const HmmDescription *d, const std::string &c, std::string *out);
bool Hmm_LeftPart(const HmmDescription *d, const std::string &c, const std::string &l, std::string *out);
bool Hmm_RightPart(const HmmDescription *d, const std::string &c, const std::string &r, std::string *out);
bool Hmm_WholeUnit(const HmmDescription *d, const std::string &l, const std::string &c, const std::string &r,
                   std::string *out);

void Hmm_ClearStats(HmmPool *pool);
/* Embedded forward-backward over the concatenation of list's models: adds
 * statistics to the pool the models live in; fails when no path of the
 * models fits the frames. */
int Hmm_EmbeddedTrain(GS_Result *r, HmmEmbed *state, const HmmList *list, float **rows, int frames, int cols);
/* The embedded pass with frames of network posteriors (one column per pool
 * mixture) as scaled likelihoods: a state scores ln(p) of its mixture's
 * column. Adds transition counts to the pool and answers the frames'
 * targets (numTargets slots a frame), or null. */
NnTarget *Hmm_EmbeddedKelmor(GS_Result *r, HmmEmbed *state, const HmmList *list, float **rows, int frames, int cols,
                             int numTargets);
/* The embedded pass aligning with the old features and models and adding
 * statistics of the new features (same frames, newCols columns) per
 * component; Hmm_StreamUpdate then gives the mixtures the new stream's
 * means and variances (and its width). */
int Hmm_StreamTrain(GS_Result *r, HmmEmbed *state, const HmmList *list, float **oldRows, int frames, int oldCols,
                    float **newRows, int newCols);
void Hmm_StreamUpdate(HmmPool *pool, int minCount, int flags);
/* Maximum a posteriori update from the statistics, for the mixtures whose
 * mask byte is set (mask null: all): a mean becomes
 * (beta x mean + sum) / (beta + occupancy); method 1 also moves the
 * variances, method 0 the means alone. Clears the statistics. */
int Hmm_MapUpdate(GS_Result *r, HmmPool *pool, const unsigned char *mask, int flags, int method, double beta);
/* Log likelihood of the frames under the concatenated models (forward). */
int Hmm_Forward(GS_Result *r, const HmmList *list, float **rows, int frames, int cols, double *score);
/* Best state path: per frame the index into the concatenated emitting
 * states, answering the path's log score. */
int Hmm_Viterbi(GS_Result *r, const HmmModel *const *models, int numModels, float **rows, int frames,
                int cols, std::vector<int> *path, std::vector<int> *modelOf, double *score);
enum { HMM_TRANSP = 1, HMM_MEAN = 2, HMM_VAR = 4, HMM_WEIGHT = 8 };
/* Re-estimates from the statistics (flags: HMM_*), skipping components that
 * saw fewer than minCount frames, then clears the statistics. */
void Hmm_Update(HmmPool *pool, int minCount, int flags);
/* Isolated Baum-Welch on one model's data; state null starts one. */
HmmTrain *Hmm_Train(GS_Result *r, HmmTrain *state, const HmmData *data, HmmPool *pool, float delta, int iters,
                    int flags, int verbose);
/* Segmental k-means: uniform segmentation first, then Viterbi alignment. */
HmmTrain *Hmm_ViterbiInit(GS_Result *r, HmmTrain *state, const HmmData *data, HmmPool *pool, float delta,
                          int iters, int verbose);
/* Components of each state by k-means over a uniform segmentation. */
int Hmm_VqInit(GS_Result *r, const HmmData *data, int verbose);

void Hmm_NukeData(HmmData *d);
/* An HmmData of rows frames of dim values in one block, examples to fill. */
HmmData *Hmm_NewData(HmmModel *model, int numFrames, int dim, int numExamples);

void Hmm_Count(const HmmPool *pool, const HmmList *list, HmmHeapx *heapx);
int Hmm_SetCount(GS_Result *r, HmmPool *pool, const HmmList *list, const HmmHeapx *heapx);
int Hmm_Accumulate(GS_Result *r, HmmHeapx *into, const HmmHeapx *from);
void Hmm_ResetAcc(HmmHeapx *heapx);
HmmHeapx *Hmm_NewHeapx(const HmmPool *pool);
int Hmm_CountDump(GS_Result *r, const char *file, const HmmList *list);
int Hmm_StateDump(GS_Result *r, const char *file, const HmmPool *pool);

#endif

#endif
