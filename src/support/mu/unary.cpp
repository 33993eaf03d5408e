// One-operand operators: copies and rearrangements, element functions,
// complex and polar conversions, and row or column reductions.
#include <cmath>
#include <cstring>
#include <vector>

#include "mu.h"
#include "simd.h"

namespace {

template <class Op>
void map(int rows, int cols, float **in, float **out, Op op) {
    for (int i = 0; i < rows; i++) {
        const float *__restrict x = in[i];
        float *__restrict o = out[i];
        for (int j = 0; j < cols; j++) o[j] = op(x[j]);
    }
}

void copyRows(int rows, int cols, float **in, float **out) {
    for (int i = 0; i < rows; i++) memcpy(out[i], in[i], (size_t)cols * sizeof(float));
}

void fill(int rows, int cols, float **out, float v) {
    for (int i = 0; i < rows; i++)
        for (int j = 0; j < cols; j++) out[i][j] = v;
}

bool isVector(int rows, int cols) { return rows < 2 || cols < 2; }

// Applies f to each element of one part.
void uniPart(MuFunc f, int rows, int cols, float **in, float **out) {
    // The common functions have float forms that vectorise; the rest go
    // through the double function.
    void (*kernel)(int, const float *, float *) = f == (MuFunc)std::fabs    ? mu_simd::fabs
                                                  : f == (MuFunc)std::sqrt  ? mu_simd::sqrt
                                                  : f == (MuFunc)std::floor ? mu_simd::floor
                                                  : f == (MuFunc)std::ceil  ? mu_simd::ceil
                                                                            : nullptr;
    if (kernel)
        for (int i = 0; i < rows; i++) kernel(cols, in[i], out[i]);
    else
        map(rows, cols, in, out, [f](float v) { return (float)f(v); });
}

void zeromeanPart(int rows, int cols, float **in, float **out) {
    if (rows == 1) {
        double s = 0;
        for (int j = 0; j < cols; j++) s += in[0][j];
        float mean = (float)(s / cols);
        for (int j = 0; j < cols; j++) out[0][j] = in[0][j] - mean;
        return;
    }
    std::vector<double> s(cols, 0.0);
    for (int i = 0; i < rows; i++)
        for (int j = 0; j < cols; j++) s[j] += in[i][j];
    for (int j = 0; j < cols; j++) s[j] /= rows;
    for (int i = 0; i < rows; i++)
        for (int j = 0; j < cols; j++) out[i][j] = (float)(in[i][j] - s[j]);
}

// A reduction: each column (colFlag) or row of in folded into out, which is
// 1 x cols or rows x 1. Fold gets the values of one line in order.
template <class Init, class Step, class Done>
void reduce(int rows, int cols, float **in, float **out, int colFlag, Init init, Step step, Done done) {
    if (colFlag) {
        using Acc = decltype(init());
        std::vector<Acc> acc(cols, init());
        for (int i = 0; i < rows; i++)
            for (int j = 0; j < cols; j++) step(acc[j], in[i][j]);
        for (int j = 0; j < cols; j++) out[0][j] = done(acc[j], rows);
    } else {
        for (int i = 0; i < rows; i++) {
            auto acc = init();
            for (int j = 0; j < cols; j++) step(acc, in[i][j]);
            out[i][0] = done(acc, cols);
        }
    }
}

void sumPart(int rows, int cols, float **in, float **out, int colFlag, bool mean) {
    reduce(
        rows, cols, in, out, colFlag, [] { return 0.0; }, [](double &a, float v) { a += v; },
        [mean](double a, int n) { return (float)(mean ? a / n : a); });
}

void stdParts(int rows, int cols, float **re, float **im, float **out, int colFlag) {
    // Population standard deviation of |z - mean|: two passes over means.
    int lines = colFlag ? cols : rows, len = colFlag ? rows : cols;
    auto at = [&](float **p, int line, int k) { return colFlag ? p[k][line] : p[line][k]; };
    for (int l = 0; l < lines; l++) {
        double mr = 0, mi = 0;
        for (int k = 0; k < len; k++) {
            mr += at(re, l, k);
            if (im) mi += at(im, l, k);
        }
        mr /= len;
        mi /= len;
        double v = 0;
        for (int k = 0; k < len; k++) {
            double dr = at(re, l, k) - mr, di = im ? at(im, l, k) - mi : 0.0;
            v += dr * dr + di * di;
        }
        float sd = (float)std::sqrt(v / len);
        if (colFlag) out[0][l] = sd;
        else out[l][0] = sd;
    }
}

void extreme(int rows, int cols, float **in, float **out, int colFlag, bool largest) {
    float sign = largest ? -1.0f : 1.0f;
    reduce(
        rows, cols, in, out, colFlag, [sign] { return sign * (float)INFINITY; },
        [largest](float &a, float v) { a = (largest ? v > a : v < a) ? v : a; }, [](float a, int) { return a; });
}

} // namespace

extern "C" {

int mu_copy(MuFunc, int rows, int cols, float **in, float **out) {
    copyRows(rows, cols, in, out);
    return 0;
}

int mu_ccopy(MuFunc, int rows, int cols, float **re, float **im, float **oR, float **oI) {
    copyRows(rows, cols, re, oR);
    copyRows(rows, cols, im, oI);
    return 0;
}

int mu_size(MuFunc, int rows, int cols, float **, float **out) {
    out[0][0] = (float)rows;
    out[0][1] = (float)cols;
    return 0;
}

int mu_csize(MuFunc f, int rows, int cols, float **re, float **, float **out) { return mu_size(f, rows, cols, re, out); }

int mu_tr(MuFunc, int rows, int cols, float **in, float **out) {
    for (int i = 0; i < rows; i++)
        for (int j = 0; j < cols; j++) out[j][i] = in[i][j];
    return 0;
}

int mu_ctr(MuFunc f, int rows, int cols, float **re, float **im, float **oR, float **oI) {
    mu_tr(f, rows, cols, re, oR);
    return mu_tr(f, rows, cols, im, oI);
}

int mu_diag(MuFunc, int rows, int cols, float **in, float **out) {
    if (isVector(rows, cols)) {
        int n = rows * cols;
        fill(n, n, out, 0.0f);
        for (int k = 0; k < n; k++) out[k][k] = rows == 1 ? in[0][k] : in[k][0];
    } else {
        int n = rows < cols ? rows : cols;
        for (int k = 0; k < n; k++) out[0][k] = in[k][k];
    }
    return 0;
}

int mu_cdiag(MuFunc f, int rows, int cols, float **re, float **im, float **oR, float **oI) {
    mu_diag(f, rows, cols, re, oR);
    return mu_diag(f, rows, cols, im, oI);
}

int mu_trace(MuFunc, int rows, int cols, float **in, float **out) {
    double s = 0;
    for (int k = 0; k < rows && k < cols; k++) s += in[k][k];
    out[0][0] = (float)s;
    return 0;
}

int mu_ctrace(MuFunc f, int rows, int cols, float **re, float **im, float **oR, float **oI) {
    mu_trace(f, rows, cols, re, oR);
    return mu_trace(f, rows, cols, im, oI);
}

int mu_unwrap(MuFunc, int rows, int cols, float **in, float **out) {
    for (int i = 0; i < rows; i++) memcpy(out[0] + (size_t)i * cols, in[i], (size_t)cols * sizeof(float));
    return 0;
}

int mu_cunwrap(MuFunc f, int rows, int cols, float **re, float **im, float **oR, float **oI) {
    mu_unwrap(f, rows, cols, re, oR);
    return mu_unwrap(f, rows, cols, im, oI);
}

int mu_flipud(MuFunc, int rows, int cols, float **in, float **out) {
    for (int i = 0; i < rows; i++) memcpy(out[rows - 1 - i], in[i], (size_t)cols * sizeof(float));
    return 0;
}

int mu_cflipud(MuFunc f, int rows, int cols, float **re, float **im, float **oR, float **oI) {
    mu_flipud(f, rows, cols, re, oR);
    return mu_flipud(f, rows, cols, im, oI);
}

int mu_fliplr(MuFunc, int rows, int cols, float **in, float **out) {
    for (int i = 0; i < rows; i++)
        for (int j = 0; j < cols; j++) out[i][cols - 1 - j] = in[i][j];
    return 0;
}

int mu_cfliplr(MuFunc f, int rows, int cols, float **re, float **im, float **oR, float **oI) {
    mu_fliplr(f, rows, cols, re, oR);
    return mu_fliplr(f, rows, cols, im, oI);
}

int mu_zero(MuFunc, int rows, int cols, float **, float **out) {
    fill(rows, cols, out, 0.0f);
    return 0;
}

int mu_czero(MuFunc, int rows, int cols, float **, float **, float **oR, float **oI) {
    fill(rows, cols, oR, 0.0f);
    fill(rows, cols, oI, 0.0f);
    return 0;
}

int mu_one(MuFunc, int rows, int cols, float **, float **out) {
    fill(rows, cols, out, 1.0f);
    return 0;
}

int mu_cone(MuFunc, int rows, int cols, float **, float **, float **oR, float **oI) {
    fill(rows, cols, oR, 1.0f);
    fill(rows, cols, oI, 0.0f);
    return 0;
}

int mu_zerodiag(MuFunc, int rows, int cols, float **in, float **out) {
    copyRows(rows, cols, in, out);
    for (int k = 0; k < rows && k < cols; k++) out[k][k] = 0.0f;
    return 0;
}

int mu_onediag(MuFunc, int rows, int cols, float **in, float **out) {
    copyRows(rows, cols, in, out);
    for (int k = 0; k < rows && k < cols; k++) out[k][k] = 1.0f;
    return 0;
}

int mu_zeromean(MuFunc, int rows, int cols, float **in, float **out) {
    zeromeanPart(rows, cols, in, out);
    return 0;
}

int mu_czeromean(MuFunc, int rows, int cols, float **re, float **im, float **oR, float **oI) {
    zeromeanPart(rows, cols, re, oR);
    zeromeanPart(rows, cols, im, oI);
    return 0;
}

int mu_uni(MuFunc f, int rows, int cols, float **in, float **out) {
    uniPart(f, rows, cols, in, out);
    return 0;
}

int mu_cuni(MuFunc f, int rows, int cols, float **re, float **im, float **oR, float **oI) {
    uniPart(f, rows, cols, re, oR);
    uniPart(f, rows, cols, im, oI);
    return 0;
}

int mu_angle(MuFunc, int rows, int cols, float **in, float **out) {
    map(rows, cols, in, out, [](float v) { return v < 0 ? (float)M_PI : v == v ? 0.0f : v; });
    return 0;
}

int mu_sqr(MuFunc, int rows, int cols, float **in, float **out) {
    map(rows, cols, in, out, [](float v) { return v * v; });
    return 0;
}

int mu_sign(MuFunc, int rows, int cols, float **in, float **out) {
    map(rows, cols, in, out, [](float v) { return v > 0 ? 1.0f : v < 0 ? -1.0f : v == v ? 0.0f : v; });
    return 0;
}

int mu_cconj(MuFunc, int rows, int cols, float **re, float **im, float **oR, float **oI) {
    copyRows(rows, cols, re, oR);
    map(rows, cols, im, oI, [](float v) { return -v; });
    return 0;
}

int mu_c2p(MuFunc, int rows, int cols, float **re, float **im, float **oR, float **oI) {
    for (int i = 0; i < rows; i++)
        for (int j = 0; j < cols; j++) {
            double x = re[i][j], y = im[i][j];
            oR[i][j] = (float)std::hypot(x, y);
            oI[i][j] = (float)std::atan2(y, x);
        }
    return 0;
}

int mu_p2c(MuFunc, int rows, int cols, float **re, float **im, float **oR, float **oI) {
    for (int i = 0; i < rows; i++)
        for (int j = 0; j < cols; j++) {
            double m = re[i][j], a = im[i][j];
            oR[i][j] = (float)(m * std::cos(a));
            oI[i][j] = (float)(m * std::sin(a));
        }
    return 0;
}

int mu_csqr(MuFunc, int rows, int cols, float **re, float **im, float **oR, float **oI) {
    for (int i = 0; i < rows; i++)
        for (int j = 0; j < cols; j++) {
            float x = re[i][j], y = im[i][j];
            oR[i][j] = x * x - y * y;
            oI[i][j] = 2 * x * y;
        }
    return 0;
}

int mu_psqr(MuFunc, int rows, int cols, float **re, float **im, float **oR, float **oI) {
    for (int i = 0; i < rows; i++)
        for (int j = 0; j < cols; j++) {
            oR[i][j] = re[i][j] * re[i][j];
            oI[i][j] = 2 * im[i][j];
        }
    return 0;
}

int mu_csign(MuFunc, int rows, int cols, float **re, float **im, float **oR, float **oI) {
    for (int i = 0; i < rows; i++)
        for (int j = 0; j < cols; j++) {
            double x = re[i][j], y = im[i][j], m = std::hypot(x, y);
            oR[i][j] = m > 0 ? (float)(x / m) : 0.0f;
            oI[i][j] = m > 0 ? (float)(y / m) : 0.0f;
        }
    return 0;
}

int mu_cabs(MuFunc, int rows, int cols, float **re, float **im, float **out) {
    for (int i = 0; i < rows; i++)
        for (int j = 0; j < cols; j++) out[i][j] = (float)std::hypot((double)re[i][j], (double)im[i][j]);
    return 0;
}

int mu_cangle(MuFunc, int rows, int cols, float **re, float **im, float **out) {
    for (int i = 0; i < rows; i++)
        for (int j = 0; j < cols; j++) out[i][j] = (float)std::atan2((double)im[i][j], (double)re[i][j]);
    return 0;
}

int mu_creal(MuFunc, int rows, int cols, float **re, float **, float **out) {
    copyRows(rows, cols, re, out);
    return 0;
}

int mu_cimag(MuFunc, int rows, int cols, float **, float **im, float **out) {
    copyRows(rows, cols, im, out);
    return 0;
}

int mu_pabs(MuFunc, int rows, int cols, float **re, float **, float **out) {
    map(rows, cols, re, out, [](float v) { return std::fabs(v); });
    return 0;
}

int mu_pangle(MuFunc, int rows, int cols, float **, float **im, float **out) {
    copyRows(rows, cols, im, out);
    return 0;
}

int mu_preal(MuFunc, int rows, int cols, float **re, float **im, float **out) {
    for (int i = 0; i < rows; i++)
        for (int j = 0; j < cols; j++) out[i][j] = (float)(re[i][j] * std::cos((double)im[i][j]));
    return 0;
}

int mu_pimag(MuFunc, int rows, int cols, float **re, float **im, float **out) {
    for (int i = 0; i < rows; i++)
        for (int j = 0; j < cols; j++) out[i][j] = (float)(re[i][j] * std::sin((double)im[i][j]));
    return 0;
}

int mu_sum(MuFunc, int rows, int cols, float **in, float **out, int colFlag) {
    sumPart(rows, cols, in, out, colFlag, false);
    return 0;
}

int mu_mean(MuFunc, int rows, int cols, float **in, float **out, int colFlag) {
    sumPart(rows, cols, in, out, colFlag, true);
    return 0;
}

int mu_csum(MuFunc, int rows, int cols, float **re, float **im, float **oR, float **oI, int colFlag) {
    sumPart(rows, cols, re, oR, colFlag, false);
    sumPart(rows, cols, im, oI, colFlag, false);
    return 0;
}

int mu_cmean(MuFunc, int rows, int cols, float **re, float **im, float **oR, float **oI, int colFlag) {
    sumPart(rows, cols, re, oR, colFlag, true);
    sumPart(rows, cols, im, oI, colFlag, true);
    return 0;
}

int mu_min(MuFunc, int rows, int cols, float **in, float **out, int colFlag) {
    extreme(rows, cols, in, out, colFlag, false);
    return 0;
}

int mu_max(MuFunc, int rows, int cols, float **in, float **out, int colFlag) {
    extreme(rows, cols, in, out, colFlag, true);
    return 0;
}

int mu_qstd(MuFunc, int rows, int cols, float **in, float **out, int colFlag) {
    stdParts(rows, cols, in, nullptr, out, colFlag);
    return 0;
}

int mu_cqstd(MuFunc, int rows, int cols, float **re, float **im, float **oR, float **oI, int colFlag) {
    stdParts(rows, cols, re, im, oR, colFlag);
    int n = colFlag ? 1 : rows, m = colFlag ? cols : 1;
    fill(n, m, oI, 0.0f);
    return 0;
}

} // extern "C"
