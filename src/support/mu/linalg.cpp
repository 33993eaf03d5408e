// Cholesky factor, inverse and solve.
#include <cmath>
#include <vector>

#include "mu.h"

extern "C" {

int mu_choldecompose(int n, float **a, float **out) {
    std::vector<double> L((size_t)n * n, 0.0);
    for (int j = 0; j < n; j++) {
        double d = a[j][j];
        for (int k = 0; k < j; k++) d -= L[(size_t)j * n + k] * L[(size_t)j * n + k];
        if (!(d > 0) || !std::isfinite(d)) return -1;
        double ljj = std::sqrt(d);
        L[(size_t)j * n + j] = ljj;
        for (int i = j + 1; i < n; i++) {
            double s = a[i][j];
            for (int k = 0; k < j; k++) s -= L[(size_t)i * n + k] * L[(size_t)j * n + k];
            L[(size_t)i * n + j] = s / ljj;
        }
    }
    for (int i = 0; i < n; i++)
        for (int j = 0; j < n; j++) out[i][j] = (float)L[(size_t)i * n + j];
    return 1;
}

int mu_cholinv(int n, float **l, float **out) {
    // M = L^-1 (lower), then A^-1 = M^T M.
    std::vector<double> M((size_t)n * n, 0.0);
    for (int j = 0; j < n; j++) {
        if (!(l[j][j] != 0) || !std::isfinite(l[j][j])) return -1;
        M[(size_t)j * n + j] = 1.0 / l[j][j];
        for (int i = j + 1; i < n; i++) {
            double s = 0;
            for (int k = j; k < i; k++) s -= l[i][k] * M[(size_t)k * n + j];
            M[(size_t)i * n + j] = s / l[i][i];
        }
    }
    for (int i = 0; i < n; i++)
        for (int j = 0; j <= i; j++) {
            double s = 0;
            for (int k = i; k < n; k++) s += M[(size_t)k * n + i] * M[(size_t)k * n + j];
            out[i][j] = out[j][i] = (float)s;
        }
    return 1;
}

int mu_cholsolve(int rows, int cols, float **l, float **b, float **out) {
    int n = rows;
    for (int i = 0; i < n; i++)
        if (!(l[i][i] != 0) || !std::isfinite(l[i][i])) return -1;
    std::vector<double> y(n);
    for (int c = 0; c < cols; c++) {
        for (int i = 0; i < n; i++) {
            double s = b[i][c];
            for (int k = 0; k < i; k++) s -= l[i][k] * y[k];
            y[i] = s / l[i][i];
        }
        for (int i = n - 1; i >= 0; i--) {
            double s = y[i];
            for (int k = i + 1; k < n; k++) s -= l[k][i] * y[k];
            y[i] = s / l[i][i];
        }
        for (int i = 0; i < n; i++) out[i][c] = (float)y[i];
    }
    return 1;
}

} // extern "C"
