// Back-off n-gram lookups over a checked in-memory image of the model file.
#include "zandor.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "yastro.h"

namespace {

float asFloat(int32_t w) {
    float f;
    memcpy(&f, &w, sizeof f);
    return f;
}

// The record of `word` in the block at `offset`, or null.
const int32_t *findInBlock(const int32_t *image, int32_t offset, int width, int32_t word) {
    const int32_t *block = image + offset;
    int32_t lo = 0, hi = block[0];
    while (lo <= hi) {
        int32_t mid = (lo + hi) >> 1;
        const int32_t *rec = block + 1 + width * mid;
        if (rec[0] == word) return rec;
        if (word < rec[0])
            hi = mid - 1;
        else
            lo = mid + 1;
    }
    return nullptr;
}

// Checks the block at offset (records of `width` words on `level`, 1 =
// bigrams) and, below the last level, the blocks its records lead to.
bool checkBlock(const ZandorModel *m, int64_t offset, int level, std::string &why) {
    int64_t n = (int64_t)m->imageWords;
    if (offset < 0 || offset >= n) {
        why = "block offset " + std::to_string(offset) + " outside the file";
        return false;
    }
    int width = m->widths[level];
    int64_t count = (int64_t)m->image[offset] + 1;
    if (count < 0 || offset + 1 + count * width > n) {
        why = "block at word " + std::to_string(offset) + " runs past the end of the file";
        return false;
    }
    const int32_t *rec = m->image + offset + 1;
    for (int64_t i = 0; i < count; i++, rec += width) {
        if (rec[0] < 0 || rec[0] >= m->unigramCount) {
            why = "word index " + std::to_string(rec[0]) + " outside the vocabulary";
            return false;
        }
        if (i > 0 && rec[-width] >= rec[0]) {
            why = "block at word " + std::to_string(offset) + " is not sorted";
            return false;
        }
        if (level + 1 < m->levelCount && !checkBlock(m, rec[2], level + 1, why)) return false;
    }
    return true;
}

bool checkImage(ZandorModel *m, std::string &why) {
    int64_t n = (int64_t)m->imageWords;
    if (n < 3) {
        why = "too short";
        return false;
    }
    int64_t k = m->image[0];
    int32_t levels = -m->image[1];
    if (k < 2 || k >= n) {
        why = "header length " + std::to_string(k) + " does not fit the file";
        return false;
    }
    if (levels != 2 && levels != 3) {
        why = "level count must be 2 or 3";
        return false;
    }
    int64_t u = m->image[k];
    if (u < 0 || k + 1 + 4 * u > n) {
        why = "unigram table runs past the end of the file";
        return false;
    }
    m->levelCount = levels;
    m->unigramCount = (int32_t)u;
    m->widths = static_cast<int32_t *>(DB_MALLOC(sizeof(int32_t) * levels));
    for (int i = 0; i < levels; i++) m->widths[i] = i == levels - 1 ? 2 : 4;
    m->unigrams = m->image + k + 1;
    for (int64_t w = 0; w < u; w++)
        if (!checkBlock(m, m->unigrams[4 * w + 2], 1, why)) return false;
    return true;
}

} // namespace

extern "C" {

ZandorModel *lm_Initialize(GS_Result *r, const char *path) {
    struct stat st;
    if (stat(path, &st) != 0) {
        GS_AppendResult(r, "Could not stat file ", path, nullptr);
        return nullptr;
    }
    FILE *f = fopen(path, "rb");
    if (!f) {
        GS_AppendResult(r, "Could not open file ", path, nullptr);
        return nullptr;
    }
    ZandorModel *m = static_cast<ZandorModel *>(DB_MALLOC(sizeof(ZandorModel)));
    memset(m, 0, sizeof *m);
    size_t bytes = (size_t)st.st_size;
    m->imageWords = bytes / 4;
    m->image = static_cast<int32_t *>(DB_MALLOC(bytes ? bytes : 4));
    size_t got = fread(m->image, 1, bytes, f);
    fclose(f);
    std::string why;
    if (got != bytes)
        why = "could not be read whole";
    else if (bytes % 4)
        why = "length is not a whole number of words";
    if (!why.empty() || !checkImage(m, why)) {
        GS_AppendResult(r, "Invalid n-gram file ", path, ": ", why.c_str(), nullptr);
        lm_Nuke(m);
        return nullptr;
    }
    return m;
}

void lm_Nuke(ZandorModel *model) {
    if (!model) return;
    if (model->image) DB_FREE(model->image);
    if (model->widths) DB_FREE(model->widths);
    DB_FREE(model);
}

int lm_WordOk(const ZandorModel *model, int w) { return w >= 0 && w < model->unigramCount; }

float lm_ReadUnigram(const ZandorModel *model, int w) {
    if (!lm_WordOk(model, w)) return LM_NO_SCORE;
    return asFloat(model->unigrams[4 * w + 1]);
}

float lm_ReadBigram(const ZandorModel *model, int w1, int w2) {
    if (!lm_WordOk(model, w1) || !lm_WordOk(model, w2)) return LM_NO_SCORE;
    const int32_t *u1 = model->unigrams + 4 * w1;
    const int32_t *rec = findInBlock(model->image, u1[2], model->widths[1], w2);
    if (rec) return asFloat(rec[1]);
    return asFloat(model->unigrams[4 * w2 + 1]) + asFloat(u1[3]);
}

float lm_ReadTrigram(const ZandorModel *model, int w1, int w2, int w3) {
    if (model->levelCount < 3 || !lm_WordOk(model, w1) || !lm_WordOk(model, w2) || !lm_WordOk(model, w3))
        return LM_NO_SCORE;
    const int32_t *bi = findInBlock(model->image, model->unigrams[4 * w1 + 2], model->widths[1], w2);
    if (!bi) return lm_ReadBigram(model, w2, w3);
    const int32_t *tri = findInBlock(model->image, bi[2], model->widths[2], w3);
    if (tri) return asFloat(tri[1]);
    return lm_ReadBigram(model, w2, w3) + asFloat(bi[3]);
}

LmVocab *lm_createVocab(GS_Result *, char *words[], int count) {
    LmVocab *v = static_cast<LmVocab *>(DB_MALLOC(sizeof(LmVocab)));
    v->count = count < 0 ? 0 : count;
    v->entries = static_cast<LmVocabEntry *>(DB_MALLOC(sizeof(LmVocabEntry) * (v->count ? v->count : 1)));
    for (int i = 0; i < v->count; i++) {
        size_t n = strlen(words[i]) + 1;
        v->entries[i].text = static_cast<char *>(DB_MALLOC(n));
        memcpy(v->entries[i].text, words[i], n);
        v->entries[i].size = (int32_t)n;
    }
    return v;
}

void lm_nukeVocab(LmVocab *vocab) {
    if (!vocab) return;
    for (int i = 0; i < vocab->count; i++) DB_FREE(vocab->entries[i].text);
    DB_FREE(vocab->entries);
    DB_FREE(vocab);
}

int lm_vocabLookup(const LmVocab *vocab, const char *word) {
    for (int i = 0; i < vocab->count; i++)
        if (strcmp(vocab->entries[i].text, word) == 0) return i;
    return -1;
}

} // extern "C"
