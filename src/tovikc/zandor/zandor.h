/* Back-off n-gram language models (up to three words) read from a binary
 * file held in memory as one image, and vocabularies that map words to the
 * model's word indices.
 *
 * File: 32-bit words in machine order. Word 0 is K (the header length),
 * word 1 is -L (L = 2 or 3 levels), word K is U (the unigram count), then U
 * unigram records {unused, logP, child offset, back-off}. A block (the
 * bigrams of a unigram, the trigrams of a bigram) is {count - 1, records
 * sorted by word index}; records are 4 words wide on every level but the
 * last, 2 words on the last: {word, logP[, child offset, back-off]}.
 * Offsets are word indices from the start of the file. Scores are added as
 * they stand, in whatever log base the file was written with.
 *
 * Contract:
 *  - lm_Initialize checks the whole image once (header, every block and
 *    record inside the file, word indices below U, blocks sorted) and
 *    refuses a damaged or truncated file with a message; lookups then read
 *    in place without allocating.
 *  - Lookups with a word index outside 0..U-1, or a trigram lookup on a
 *    two-level model, answer LM_NO_SCORE; callers that can say why check
 *    lm_WordOk / levelCount first.
 *  - Bigram (w1, w2) absent: unigram(w2) + back-off(w1). Trigram absent
 *    under a present (w1, w2): bigram(w2, w3) + back-off(w1, w2); (w1, w2)
 *    absent: bigram(w2, w3) with no weight added.
 *  - lm_vocabLookup answers the first entry equal to the word, -1 if none.
 */
#ifndef TOVIK_ZANDOR_H
#define TOVIK_ZANDOR_H

#include <stddef.h>
#include <stdint.h>

#include "result.h"

#ifdef __cplusplus
extern "C" {
#endif

#define LM_NO_SCORE (-1.0e30f)

typedef struct ZandorModel {
    int32_t *image;      /* the whole file */
    size_t imageWords;   /* its length in 32-bit words */
    int32_t unigramCount;
    int32_t levelCount;
    int32_t *widths;     /* record width per level */
    int32_t *unigrams;   /* into image, at word K+1 */
} ZandorModel;

typedef struct LmVocabEntry {
    char *text;
    int32_t size; /* length + 1 */
} LmVocabEntry;

typedef struct LmVocab {
    LmVocabEntry *entries;
    int32_t count;
} LmVocab;

ZandorModel *lm_Initialize(GS_Result *r, const char *path);
void lm_Nuke(ZandorModel *model);
int lm_WordOk(const ZandorModel *model, int w);
float lm_ReadUnigram(const ZandorModel *model, int w);
float lm_ReadBigram(const ZandorModel *model, int w1, int w2);
float lm_ReadTrigram(const ZandorModel *model, int w1, int w2, int w3);

LmVocab *lm_createVocab(GS_Result *r, char *words[], int count);
void lm_nukeVocab(LmVocab *vocab);
int lm_vocabLookup(const LmVocab *vocab, const char *word);

#ifdef __cplusplus
}
#endif

#endif
