// The phoneme list: symbol rewriting on add, the list itself, and its
// conversion into the prepared arrays (end entries, word ranges, minimum
// durations).
#include <cctype>
#include <cstdio>
#include <cstring>

#include "engine.h"
#include "tables.h"

namespace brovana {

int BrovanaEngine::phonemeRow(const char *symbol) {
    for (int r = 0; r < kPhonemeRows; r++)
        if (strcmp(PhonemeVisemeTable[r].symbol, symbol) == 0) return r;
    return 0;
}

const char *BrovanaEngine::phonemeSymbol(int row) {
    return row >= 0 && row < kPhonemeRows ? PhonemeVisemeTable[row].symbol : nullptr;
}

const char *BrovanaEngine::safeNameAt(int i) { return i >= 0 && i < kSafeNameRows ? SafeNamePairs[i].to : nullptr; }

// The worldbet symbol of a Spanish one; a symbol the table lacks is written
// to standard output and kept.
static void SpanishSymbol(std::string &s) {
    for (const SymbolPair &p : SpanishPairs)
        if (s == p.from) {
            s = p.to;
            return;
        }
    fputs(s.c_str(), stdout);
    fflush(stdout);
}

// A long trill becomes alternating taps of at most 35 ms.
template <typename Add>
static void AddPieces(const std::string &s, float durationMs, Add one) {
    if (s != "9r4r") {
        one(s, durationMs);
        return;
    }
    float r = durationMs;
    for (int i = 1; r > 0; i++) {
        one(i % 2 ? "9r" : "4r", r > 35 ? 35.0f : r);
        r -= 35;
    }
}

void BrovanaEngine::addPhoneme(const char *symbol, float durationMs, const char *word, bool spanish) {
    std::string s = symbol ? symbol : "";
    std::string w = word ? word : "";
    if (s.find("d_") != std::string::npos) s = "t";
    if (spanish) SpanishSymbol(s);
    AddPieces(s, durationMs, [&](std::string piece, float d) {
        if (!mergeClosure(piece, d)) appendPhoneme(piece, d, w);
    });
}

void BrovanaEngine::addTaggedPhoneme(const char *symbol, float durationMs, const char *word, const char *tag,
                                     bool spanish) {
    std::string s = symbol ? symbol : "";
    std::string w = word ? word : "";
    if (spanish) SpanishSymbol(s);
    AddPieces(s, durationMs, [&](const std::string &piece, float d) { appendTaggedPhoneme(piece, d, w, tag); });
}

void BrovanaEngine::appendTaggedPhoneme(const std::string &symbol, float d, const std::string &word,
                                        const char *tag) {
    appendPhoneme(symbol, d, word);
    if (word.empty()) return;
    MarkupWord w;
    w.word = word;
    size_t n = tag ? strlen(tag) : 0;
    if (n > 0 && n <= 50) {
        w.hasTag = true;
        for (size_t i = 0; i < n; i++) {
            unsigned char c = (unsigned char)tag[i];
            if ((c < 128 && isalnum(c)) || strchr("=,()+-", c)) w.tag += (char)c;
        }
    }
    wordTags_.push_back(w);
}

bool BrovanaEngine::mergeClosure(std::string &symbol, float d) {
    size_t L = symbol.size();
    if (L > 1) {
        char last = symbol.back();
        if (last != 'c' && last != 'h') return false;
        symbol.pop_back();
    }
    if (list_.empty() || L < 2) return false;
    if (symbol == list_.back().name) {
        list_.back().duration += d;
        return true;
    }
    return false;
}

void BrovanaEngine::appendPhoneme(const std::string &symbol, float d, const std::string &word) {
    list_.push_back({symbol, d, word});
    N_++;
    if (!word.empty()) Wc_++;
}

void BrovanaEngine::freePhonemeData() {
    names_.clear();
    durs_.clear();
    wordStart_.clear();
    wordEnd_.clear();
    planned_.clear();
    segNames_.clear();
    segTimes_.clear();
    segTotal_ = 0;
}

void BrovanaEngine::buildPhonemeArrays() {
    freePhonemeData();
    int N = (int)list_.size();
    int W = 0;
    for (const PhonemeNode &p : list_)
        if (!p.word.empty()) W++;
    if (N == 0) {
        // Nothing to say: zero entries (padding would copy names of
        // phonemes that do not exist).
        N_ = Wc_ = 0;
        return;
    }
    if (W < 1 || N == 1 || (W == 1 && N < 3)) {
        names_.resize(N + 2);
        durs_.resize(N + 2);
        for (int i = 0; i < N; i++) {
            names_[i + 1] = list_[i].name;
            durs_[i + 1] = list_[i].duration;
        }
        N += 2;
        W = 1;
        names_[0] = names_[1];
        names_[N - 1] = names_[N - 2];
        durs_[0] = durs_[N - 1] = 1.0f;
        wordStart_ = {0};
        wordEnd_ = {N - 1};
    } else {
        for (int i = 0; i < N; i++) {
            names_.push_back(list_[i].name);
            durs_.push_back(list_[i].duration);
            if (!list_[i].word.empty()) wordStart_.push_back(i);
        }
        wordStart_[0] = 0;
        for (int k = 0; k < W; k++) wordEnd_.push_back(k + 1 < W ? wordStart_[k + 1] - 1 : N - 1);
    }
    list_.clear();
    N_ = N;
    Wc_ = W;
    std::vector<float> &d = durs_;
    for (int k = 1; k <= N - 2; k++) {
        float g = 42 - d[k];
        if (g <= 0) continue;
        if (d[k - 1] < d[k + 1] && d[k + 1] - g > 42) {
            d[k] += g;
            d[k + 1] -= g;
        } else if (d[k - 1] > d[k + 1] && d[k - 1] - g > 42) {
            d[k] += g;
            d[k - 1] -= g;
        } else if (d[k - 1] == d[k + 1] && d[k - 1] - g / 2 > 42) {
            d[k] += g;
            d[k - 1] -= g / 2;
            d[k + 1] -= g / 2;
        }
    }
    // A three-entry utterance lasts at least 100 ms; a longer one keeps its
    // durations so that the face stays in step with the audio.
    if (N == 3 && d[0] + d[1] + d[2] < 100) d[1] = 100 - (d[0] + d[2]);
    planned_.assign(N, 0);
}

}  // namespace brovana
