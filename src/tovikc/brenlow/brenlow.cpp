// Weighted edit-distance alignment of word strings.
#include "brenlow.h"

#include <cctype>
#include <cstring>
#include <algorithm>
#include <new>

namespace {

enum { CORRECT = 0, SUB = 1, INS = 2, DEL = 3 };

struct Cell {
    float cost;
    int op;
};

std::string cased(const std::string &w, bool upper) {
    std::string out = w;
    for (char &c : out) c = (char)(upper ? toupper((unsigned char)c) : tolower((unsigned char)c));
    return out;
}

} // namespace

std::vector<std::string> Brenlow_Split(const std::string &text, const char *separators) {
    std::vector<std::string> out;
    size_t i = 0;
    while (true) {
        i = text.find_first_not_of(separators, i);
        if (i == std::string::npos) break;
        size_t j = text.find_first_of(separators, i);
        out.push_back(text.substr(i, j == std::string::npos ? std::string::npos : j - i));
        if (j == std::string::npos) break;
        i = j;
    }
    return out;
}

int Brenlow_Align(GS_Result *r, const std::vector<std::string> &ref, const std::vector<std::string> &hyp,
                  BrenlowCounts &counts, std::string &refLine, std::string &hypLine) {
    const size_t n = ref.size(), m = hyp.size();
    std::vector<Cell> cells;
    try {
        cells.assign((n + 1) * (m + 1), Cell{0, 0});
    } catch (const std::bad_alloc &) {
        GS_AppendResult(r, "brenlow: cannot allocate 2D match table", nullptr);
        return 1;
    }
    auto T = [&](size_t i, size_t j) -> Cell & { return cells[i * (m + 1) + j]; };
    for (size_t i = 1; i <= n; i++) T(i, 0) = {3.0f * i, DEL};
    for (size_t j = 1; j <= m; j++) T(0, j) = {3.0f * j, INS};
    for (size_t i = 1; i <= n; i++)
        for (size_t j = 1; j <= m; j++) {
            bool same = ref[i - 1] == hyp[j - 1];
            float left = T(i, j - 1).cost + 3.0f, up = T(i - 1, j).cost + 3.0f,
                  diag = T(i - 1, j - 1).cost + (same ? 0.0f : 4.0f);
            if (left < up && left < diag)
                T(i, j) = {left, INS};
            else if (diag < up)
                T(i, j) = {diag, same ? CORRECT : SUB};
            else
                T(i, j) = {up, DEL};
        }
    counts = BrenlowCounts();
    std::vector<std::string> refCols, hypCols;
    size_t i = n, j = m;
    while (i > 0 || j > 0) {
        int op = T(i, j).op;
        if ((op != INS && i == 0) || (op != DEL && j == 0)) {
            GS_AppendResult(r, "cannot trace the correct path", nullptr);
            return 1;
        }
        const std::string none;
        const std::string &rw = op == INS ? none : ref[i - 1];
        const std::string &hw = op == DEL ? none : hyp[j - 1];
        size_t w = std::max(rw.size(), hw.size());
        auto column = [&](const std::string &word, bool upper) {
            std::string c = word.empty() ? std::string(w, '#') : cased(word, upper);
            c.resize(w, ' ');
            return c;
        };
        bool error = op != CORRECT;
        refCols.push_back(column(rw, error));
        hypCols.push_back(column(hw, error));
        switch (op) {
        case CORRECT: counts.correct++, i--, j--; break;
        case SUB: counts.substitutions++, i--, j--; break;
        case INS: counts.insertions++, j--; break;
        default: counts.deletions++, i--; break;
        }
    }
    if (counts.correct != (int)n - counts.substitutions - counts.deletions ||
        counts.correct != (int)m - counts.insertions - counts.substitutions) {
        GS_AppendResult(r, "Invalid results", nullptr);
        return 1;
    }
    refLine.clear();
    hypLine.clear();
    for (size_t k = refCols.size(); k-- > 0;) {
        refLine += refCols[k] + " ";
        hypLine += hypCols[k] + " ";
    }
    return 0;
}
