// Two-operand operators: element-wise, complex, polar, with numbers, and
// the matrix product.
#include <cblas.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "mu.h"
#include "simd.h"

namespace {

inline float imagAt(float **imag, int i, int j) { return imag ? imag[i][j] : 0.0f; }

inline float remf(float a, float b) { return a - std::floor(a / b) * b; }

// out = a OP b row by row; the loops are plain so that they vectorise.
template <class Op>
void zip(int rows, int cols, float **a, float **b, float **out, Op op) {
    for (int i = 0; i < rows; i++) {
        const float *__restrict x = a[i];
        const float *__restrict y = b[i];
        float *__restrict o = out[i];
        for (int j = 0; j < cols; j++) o[j] = op(x[j], y[j]);
    }
}

using RowKernel = void (*)(int, const float *, const float *, float *);

// Outputs beyond this many bytes are streamed past the caches.
constexpr size_t kStreamBytes = 16u << 20;

void zipRows(int rows, float **a, float **b, float **out, int cols, RowKernel kernel, RowKernel stream) {
    bool big = (size_t)rows * cols * sizeof(float) > kStreamBytes;
    for (int i = 0; i < rows; i++) (big ? stream : kernel)(cols, a[i], b[i], out[i]);
    if (big) mu_simd::streamFence();
}

template <class Op>
void mapScalar(int rows, int cols, float **a, float **out, Op op) {
    for (int i = 0; i < rows; i++) {
        const float *__restrict x = a[i];
        float *__restrict o = out[i];
        for (int j = 0; j < cols; j++) o[j] = op(x[j]);
    }
}

// Whether a row table is evenly spaced; *ld is then the spacing.
bool strided(float **rows, int n, int cols, int *ld) {
    *ld = cols;
    if (n > 1) *ld = (int)(rows[1] - rows[0]);
    if (*ld < cols) return false;
    for (int i = 2; i < n; i++)
        if (rows[i] != rows[0] + (ptrdiff_t)i * *ld) return false;
    return true;
}

// A contiguous copy of a row table, or the table's own block when it is
// evenly spaced already.
struct Dense {
    std::vector<float> copy;
    const float *data;
    int ld;
    Dense(float **rows, int n, int cols) {
        if (strided(rows, n, cols, &ld)) {
            data = rows[0];
            return;
        }
        copy.resize((size_t)n * cols);
        for (int i = 0; i < n; i++) memcpy(&copy[(size_t)i * cols], rows[i], (size_t)cols * sizeof(float));
        data = copy.data();
        ld = cols;
    }
};

// out (+)= alpha A B through the BLAS, whatever the row tables look like.
void gemm(int m, int k, int n, float alpha, float **a, float **b, float beta, float **out) {
    Dense A(a, m, k), B(b, k, n);
    int ldc;
    if (strided(out, m, n, &ldc)) {
        cblas_sgemm(CblasRowMajor, CblasNoTrans, CblasNoTrans, m, n, k, alpha, A.data, A.ld, B.data, B.ld, beta,
                    out[0], ldc);
        return;
    }
    std::vector<float> c((size_t)m * n);
    if (beta != 0.0f)
        for (int i = 0; i < m; i++) memcpy(&c[(size_t)i * n], out[i], (size_t)n * sizeof(float));
    cblas_sgemm(CblasRowMajor, CblasNoTrans, CblasNoTrans, m, n, k, alpha, A.data, A.ld, B.data, B.ld, beta, c.data(),
                n);
    for (int i = 0; i < m; i++) memcpy(out[i], &c[(size_t)i * n], (size_t)n * sizeof(float));
}

void fillZero(int rows, int cols, float **out) {
    for (int i = 0; i < rows; i++) memset(out[i], 0, (size_t)cols * sizeof(float));
}

// Polar numbers through their cartesian form.
inline void polarAdd(float m1, float a1, float m2, float a2, float sign, float *m, float *a) {
    double x = m1 * std::cos((double)a1) + sign * m2 * std::cos((double)a2);
    double y = m1 * std::sin((double)a1) + sign * m2 * std::sin((double)a2);
    *m = (float)std::hypot(x, y);
    *a = (float)std::atan2(y, x);
}

} // namespace

extern "C" {

int mu_prod_size(int rowsA, int colsA, int rowsB, int colsB, int *rows, int *cols) {
    if (colsA != rowsB) return -1;
    *rows = rowsA;
    *cols = colsB;
    return 0;
}

int mu_scalar(int code, float a, float b, float *r) {
    switch (code) {
    case MU_PROD:
    case MU_PMUL: *r = b * a; return 0;
    case MU_MUL: *r = a * b; return 0;
    case MU_DIV:
    case MU_PDIV: *r = a / b; return 0;
    case MU_REM: *r = remf(a, b); return 0;
    case MU_ADD:
    case MU_PADD: *r = a + b; return 0;
    case MU_SUBTR:
    case MU_PSUBTR: *r = a - b; return 0;
    default: return -1;
    }
}

int mu_rmrm(int code, int rowsA, int colsA, int rowsB, int colsB, float **a, float **b, float **out) {
    switch (code) {
    case MU_PROD:
        if (colsA != rowsB) return -1;
        gemm(rowsA, colsA, colsB, 1.0f, a, b, 0.0f, out);
        return 0;
    case MU_MUL:
    case MU_PMUL: zipRows(rowsA, a, b, out, colsA, mu_simd::mul, mu_simd::mulStream); return 0;
    case MU_DIV:
    case MU_PDIV: zipRows(rowsA, a, b, out, colsA, mu_simd::div, mu_simd::divStream); return 0;
    case MU_REM: zip(rowsA, colsA, a, b, out, remf); return 0;
    case MU_ADD:
    case MU_PADD: zipRows(rowsA, a, b, out, colsA, mu_simd::add, mu_simd::addStream); return 0;
    case MU_SUBTR:
    case MU_PSUBTR: zipRows(rowsA, a, b, out, colsA, mu_simd::subtr, mu_simd::subStream); return 0;
    default: return -1;
    }
}

int mu_rsrm(int code, int matrixFirst, float x, int rows, int cols, float **m, float **out) {
    switch (code) {
    case MU_PROD:
    case MU_MUL:
    case MU_PMUL: mapScalar(rows, cols, m, out, [x](float v) { return v * x; }); return 0;
    case MU_DIV:
    case MU_PDIV:
        if (matrixFirst) mapScalar(rows, cols, m, out, [x](float v) { return v / x; });
        else mapScalar(rows, cols, m, out, [x](float v) { return x / v; });
        return 0;
    case MU_REM:
        if (matrixFirst) mapScalar(rows, cols, m, out, [x](float v) { return remf(v, x); });
        else mapScalar(rows, cols, m, out, [x](float v) { return remf(x, v); });
        return 0;
    case MU_ADD:
    case MU_PADD: mapScalar(rows, cols, m, out, [x](float v) { return v + x; }); return 0;
    case MU_SUBTR:
    case MU_PSUBTR:
        if (matrixFirst) mapScalar(rows, cols, m, out, [x](float v) { return v - x; });
        else mapScalar(rows, cols, m, out, [x](float v) { return x - v; });
        return 0;
    default: return -1;
    }
}

int mu_rscm(int code, int matrixFirst, float x, int rows, int cols, float **re, float **im, float **oR,
            float **oI) {
    for (int i = 0; i < rows; i++)
        for (int j = 0; j < cols; j++) {
            double a = re[i][j], b = im[i][j];
            double r = a, s = b;
            switch (code) {
            case MU_PROD:
            case MU_MUL: r = a * x; s = b * x; break;
            case MU_DIV:
                if (matrixFirst) {
                    r = a / x;
                    s = b / x;
                } else {
                    double d = a * a + b * b;
                    r = x * a / d;
                    s = -x * b / d;
                }
                break;
            case MU_ADD: r = a + x; break;
            case MU_SUBTR:
                r = matrixFirst ? a - x : x - a;
                s = matrixFirst ? b : -b;
                break;
            case MU_PMUL: r = a * x; break;
            case MU_PDIV:
                r = matrixFirst ? a / x : x / a;
                s = matrixFirst ? b : -b;
                break;
            case MU_PADD:
            case MU_PSUBTR: {
                float m, g;
                float sign = code == MU_PADD ? 1.0f : -1.0f;
                if (matrixFirst) polarAdd((float)a, (float)b, x, 0.0f, sign, &m, &g);
                else polarAdd(x, 0.0f, (float)a, (float)b, sign, &m, &g);
                r = m;
                s = g;
                break;
            }
            default: return -1;
            }
            oR[i][j] = (float)r;
            oI[i][j] = (float)s;
        }
    return 0;
}

// Complex product through four real products: (Ar + i Ai)(Br + i Bi).
int mu_cprod(int rowsA, int colsA, int rowsB, int colsB, float **aR, float **aI, float **bR, float **bI, float **oR,
             float **oI) {
    (void)rowsB;
    int m = rowsA, k = colsA, n = colsB;
    gemm(m, k, n, 1.0f, aR, bR, 0.0f, oR);
    if (aI && bI) gemm(m, k, n, -1.0f, aI, bI, 1.0f, oR);
    if (bI) gemm(m, k, n, 1.0f, aR, bI, 0.0f, oI);
    else fillZero(m, n, oI);
    if (aI) gemm(m, k, n, 1.0f, aI, bR, 1.0f, oI);
    return 0;
}

int mu_cmul(int rows, int cols, int, int, float **aR, float **aI, float **bR, float **bI, float **oR, float **oI) {
    for (int i = 0; i < rows; i++)
        for (int j = 0; j < cols; j++) {
            float a = aR[i][j], b = imagAt(aI, i, j), c = bR[i][j], d = imagAt(bI, i, j);
            oR[i][j] = a * c - b * d;
            oI[i][j] = a * d + b * c;
        }
    return 0;
}

int mu_cdiv(int rows, int cols, int, int, float **aR, float **aI, float **bR, float **bI, float **oR, float **oI) {
    for (int i = 0; i < rows; i++)
        for (int j = 0; j < cols; j++) {
            double a = aR[i][j], b = imagAt(aI, i, j), c = bR[i][j], d = imagAt(bI, i, j);
            double den = c * c + d * d;
            oR[i][j] = (float)((a * c + b * d) / den);
            oI[i][j] = (float)((b * c - a * d) / den);
        }
    return 0;
}

int mu_cadd(int rows, int cols, int, int, float **aR, float **aI, float **bR, float **bI, float **oR, float **oI) {
    for (int i = 0; i < rows; i++)
        for (int j = 0; j < cols; j++) {
            oR[i][j] = aR[i][j] + bR[i][j];
            oI[i][j] = imagAt(aI, i, j) + imagAt(bI, i, j);
        }
    return 0;
}

int mu_csubtr(int rows, int cols, int, int, float **aR, float **aI, float **bR, float **bI, float **oR, float **oI) {
    for (int i = 0; i < rows; i++)
        for (int j = 0; j < cols; j++) {
            oR[i][j] = aR[i][j] - bR[i][j];
            oI[i][j] = imagAt(aI, i, j) - imagAt(bI, i, j);
        }
    return 0;
}

int mu_pmul(int rows, int cols, int, int, float **aR, float **aI, float **bR, float **bI, float **oR, float **oI) {
    for (int i = 0; i < rows; i++)
        for (int j = 0; j < cols; j++) {
            oR[i][j] = aR[i][j] * bR[i][j];
            oI[i][j] = imagAt(aI, i, j) + imagAt(bI, i, j);
        }
    return 0;
}

int mu_pdiv(int rows, int cols, int, int, float **aR, float **aI, float **bR, float **bI, float **oR, float **oI) {
    for (int i = 0; i < rows; i++)
        for (int j = 0; j < cols; j++) {
            oR[i][j] = aR[i][j] / bR[i][j];
            oI[i][j] = imagAt(aI, i, j) - imagAt(bI, i, j);
        }
    return 0;
}

int mu_padd(int rows, int cols, int, int, float **aR, float **aI, float **bR, float **bI, float **oR, float **oI) {
    for (int i = 0; i < rows; i++)
        for (int j = 0; j < cols; j++)
            polarAdd(aR[i][j], imagAt(aI, i, j), bR[i][j], imagAt(bI, i, j), 1.0f, &oR[i][j], &oI[i][j]);
    return 0;
}

int mu_psubtr(int rows, int cols, int, int, float **aR, float **aI, float **bR, float **bI, float **oR, float **oI) {
    for (int i = 0; i < rows; i++)
        for (int j = 0; j < cols; j++)
            polarAdd(aR[i][j], imagAt(aI, i, j), bR[i][j], imagAt(bI, i, j), -1.0f, &oR[i][j], &oI[i][j]);
    return 0;
}

} // extern "C"
