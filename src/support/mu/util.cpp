// Utilities: cut, random fill, join, scaling, sorting, extremes, norms,
// covariance and correlation.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "mu.h"

namespace {

int count(int first, int step, int last) { return (int)std::floor((double)(last - first) / step + 1); }

// splitmix64: a small generator with a good spread from any seed.
uint64_t state = 0x853c49e6748fea9bULL;

uint64_t next64() {
    uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

// Uniform in [0, 1) with 53 bits.
double uniform() { return (double)(next64() >> 11) * (1.0 / 9007199254740992.0); }

// The lines a vector-or-matrix routine works on: the whole vector when it is
// one row or one column, else each row (byRows) or each column.
struct Lines {
    int lines, len;
    bool vector, transposed;
    Lines(int rows, int cols, bool byRows) {
        vector = rows == 1 || cols == 1;
        if (vector) {
            lines = 1;
            len = rows * cols;
            transposed = cols == 1 && rows > 1;
        } else {
            lines = byRows ? rows : cols;
            len = byRows ? cols : rows;
            transposed = !byRows;
        }
    }
    float &at(float **m, int line, int k) const {
        if (vector) return transposed ? m[k][0] : m[0][k];
        return transposed ? m[k][line] : m[line][k];
    }
};

// Accumulates the l-norm of a sequence of magnitudes.
struct Norm {
    float l;
    bool inf, mininf;
    double acc;
    Norm(float l, const char *lText)
        : l(l), inf(lText && strcmp(lText, "inf") == 0), mininf(lText && strcmp(lText, "mininf") == 0),
          acc(mininf ? INFINITY : 0.0) {}
    void add(double v) {
        if (inf) acc = std::max(acc, v);
        else if (mininf) acc = std::min(acc, v);
        else acc += l == 1.0f ? v : l == 2.0f ? v * v : std::pow(v, (double)l);
    }
    double result() const {
        if (inf || mininf) return acc;
        return l == 1.0f ? acc : l == 2.0f ? std::sqrt(acc) : std::pow(acc, 1.0 / l);
    }
};

double lineNorm(const Lines &ln, int line, float **a, float l, const char *lText) {
    Norm n(l, lText);
    for (int k = 0; k < ln.len; k++) n.add(std::fabs((double)ln.at(a, line, k)));
    return n.result();
}

// The scatter matrix (sums of products of deviations from the means, upper
// triangle filled) of c variables observed n times: element i of variable
// j is m[i][j], or m[j][i] when transposed.
std::vector<double> scatter(float **m, int n, int c, bool transposed) {
    auto at = [&](int i, int j) { return (double)(transposed ? m[j][i] : m[i][j]); };
    std::vector<double> mean(c, 0.0), d((size_t)n * c), s((size_t)c * c, 0.0);
    for (int i = 0; i < n; i++)
        for (int j = 0; j < c; j++) mean[j] += at(i, j);
    for (int j = 0; j < c; j++) mean[j] /= n;
    for (int i = 0; i < n; i++)
        for (int j = 0; j < c; j++) d[(size_t)i * c + j] = at(i, j) - mean[j];
    for (int i = 0; i < n; i++) {
        const double *r = &d[(size_t)i * c];
        for (int p = 0; p < c; p++)
            for (int q = p; q < c; q++) s[(size_t)p * c + q] += r[p] * r[q];
    }
    return s;
}

} // namespace

extern "C" {

int mu_cut(int rf, int rs, int rl, int cf, int cs, int cl, float **in, float **out) {
    int nr = count(rf, rs, rl), nc = count(cf, cs, cl);
    for (int i = 0; i < nr; i++)
        for (int j = 0; j < nc; j++) out[i][j] = in[rf + i * rs][cf + j * cs];
    return 0;
}

int mu_ccut(int rf, int rs, int rl, int cf, int cs, int cl, float **re, float **im, float **oR, float **oI) {
    mu_cut(rf, rs, rl, cf, cs, cl, re, oR);
    return mu_cut(rf, rs, rl, cf, cs, cl, im, oI);
}

int mu_random(MxMatrix *out, int seed, int intFlag, float low, float high) {
    if (seed != 0) state = (uint64_t)(uint32_t)seed * 0x2545f4914f6cdd1dULL;
    if (low == 0 && high == 0) high = intFlag ? 32767.0f : 1.0f;
    if (high < low) std::swap(low, high);
    for (int i = 0; i < out->rows; i++)
        for (int j = 0; j < out->cols; j++) {
            double u = uniform();
            double v = intFlag ? std::floor(std::floor(low) + u * (std::floor(high) - std::floor(low) + 1))
                               : low + u * ((double)high - low);
            // Rounding to float may reach high itself: stay below it.
            float f = (float)v;
            if (!intFlag && f >= high && high > low) f = std::nextafter(high, low);
            out->real[i][j] = f;
        }
    return 0;
}

int mu_join(MxMatrix **in, MxMatrix *out, int n, int colFlag) {
    int offset = 0;
    for (int k = 0; k < n; k++) {
        MxMatrix *m = in[k];
        for (int i = 0; i < m->rows; i++)
            for (int j = 0; j < m->cols; j++) {
                if (colFlag) out->real[i][offset + j] = m->real[i][j];
                else out->real[offset + i][j] = m->real[i][j];
            }
        offset += colFlag ? m->cols : m->rows;
    }
    return 0;
}

int mu_scale(MxMatrix *a, MxMatrix *b, MxMatrix *out, int rowFlag) {
    Lines v(b->rows, b->cols, true);
    for (int i = 0; i < a->rows; i++)
        for (int j = 0; j < a->cols; j++) out->real[i][j] = a->real[i][j] * v.at(b->real, 0, rowFlag ? i : j);
    return 0;
}

int mu_weigh(MxMatrix *a, MxMatrix *out, float exponent) {
    Lines ln(a->rows, a->cols, true);
    for (int l = 0; l < ln.lines; l++) {
        double norm = lineNorm(ln, l, a->real, 2.0f, nullptr);
        double w = norm > 0 ? std::pow(norm, -(double)exponent) : 0.0;
        for (int k = 0; k < ln.len; k++) ln.at(out->real, l, k) = (float)(ln.at(a->real, l, k) * w);
    }
    return 0;
}

int mu_normalize(MxMatrix *a, MxMatrix *out, float l, const char *lText) {
    Lines ln(a->rows, a->cols, true);
    for (int line = 0; line < ln.lines; line++) {
        double norm = lineNorm(ln, line, a->real, l, lText);
        double w = norm > 0 && std::isfinite(norm) ? 1.0 / norm : 1.0;
        for (int k = 0; k < ln.len; k++) ln.at(out->real, line, k) = (float)(ln.at(a->real, line, k) * w);
    }
    return 0;
}

int mu_norm(MxMatrix *a, MxMatrix *b, float l, const char *lText, float *value) {
    Norm n(l, lText);
    for (int i = 0; i < a->rows; i++)
        for (int j = 0; j < a->cols; j++) n.add(std::fabs((double)a->real[i][j] - (b ? b->real[i][j] : 0.0f)));
    *value = (float)n.result();
    return 0;
}

int mu_qsort(MxMatrix *a, MxMatrix *out, int increasing) {
    // A single row along the row, anything else column by column.
    Lines ln(a->rows, a->cols, a->rows == 1);
    std::vector<float> v(ln.len);
    for (int line = 0; line < ln.lines; line++) {
        for (int k = 0; k < ln.len; k++) v[k] = ln.at(a->real, line, k);
        // NaNs go last either way, so the order is a strict weak one.
        auto less = [](float x, float y) { return std::isnan(y) ? !std::isnan(x) : !std::isnan(x) && x < y; };
        auto more = [](float x, float y) { return std::isnan(y) ? !std::isnan(x) : !std::isnan(x) && x > y; };
        if (increasing) std::sort(v.begin(), v.end(), less);
        else std::sort(v.begin(), v.end(), more);
        for (int k = 0; k < ln.len; k++) ln.at(out->real, line, k) = v[k];
    }
    return 0;
}

int mu_find(MxMatrix *a, int minFlag, int *row, int *col, float *value) {
    int bi = -1, bj = -1;
    float best = 0;
    for (int i = 0; i < a->rows; i++)
        for (int j = 0; j < a->cols; j++) {
            float v = a->real[i][j];
            if (std::isnan(v)) continue;
            if (bi < 0 || (minFlag ? v < best : v > best)) {
                best = v;
                bi = i;
                bj = j;
            }
        }
    if (bi < 0) return -1;
    *row = bi;
    *col = bj;
    *value = best;
    return 0;
}

int mu_cov(MxMatrix *a, MxMatrix *out) {
    // A single row is one variable observed cols times.
    bool oneRow = a->rows == 1;
    int n = oneRow ? a->cols : a->rows, c = oneRow ? 1 : a->cols;
    if (n < 2) return -1;
    std::vector<double> s = scatter(a->real, n, c, oneRow);
    for (int p = 0; p < c; p++)
        for (int q = p; q < c; q++) out->real[p][q] = out->real[q][p] = (float)(s[(size_t)p * c + q] / (n - 1));
    return 1;
}

int mu_corr(MxMatrix *a, MxMatrix *out) {
    int n = a->rows, c = a->cols;
    if (n < 2) return -1;
    std::vector<double> s = scatter(a->real, n, c, false);
    for (int p = 0; p < c; p++)
        if (!(s[(size_t)p * c + p] > 0)) return -1;
    for (int p = 0; p < c; p++)
        for (int q = p; q < c; q++) {
            double r = s[(size_t)p * c + q] / std::sqrt(s[(size_t)p * c + p] * s[(size_t)q * c + q]);
            out->real[p][q] = out->real[q][p] = (float)(p == q ? 1.0 : r);
        }
    return 1;
}

} // extern "C"
