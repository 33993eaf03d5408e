/* Matrix numerics for the mx command: element-wise, complex and polar
 * operators, reductions, products, Cholesky, FFT, statistics and sorting.
 *
 * Contract:
 *  - A matrix is a row table (float **) with its rows and columns; rows need
 *    not be contiguous. Routines write their result through the output's
 *    row table, which the caller has sized (the mx command decides sizes).
 *    An output never shares storage with an input (the matrix-argument
 *    library computes into a temporary when it would); only mu_cholinv is
 *    documented to work in place.
 *  - A complex matrix is a pair of row tables (real, imaginary). Where a
 *    routine takes two operands and one of them is real, its imaginary
 *    table is null and reads as zeros.
 *  - Polar form: the real slot holds the magnitude, the imaginary slot the
 *    angle in radians. A real matrix given to a polar routine is a set of
 *    magnitudes of angle 0, so the polar operators on real matrices act as
 *    their plain counterparts (pmul as mul, padd as add ...).
 *  - Routines return a value >= 0 (1 where a success count is asked for) or
 *    a negative value on failure; they never print and never allocate
 *    anything the caller must free.
 *  - Arithmetic follows IEEE: a division by zero gives an infinity or a NaN
 *    and raises the floating-point flags, which the caller may look at.
 *
 * Numeric choices:
 *  - Sums, means, variances, norms, Cholesky, the solvers and the FFT
 *    accumulate in double and round once to float.
 *  - std and qstd: the population standard deviation (divide by n).
 *  - cov: the unbiased covariance (divide by n - 1) of the columns, the
 *    rows being the observations; a single row is one variable whose
 *    observations are its elements (1 x 1 result). corr: Pearson
 *    correlation of the columns. Both fail with fewer than two observations,
 *    corr also for a column without variance.
 *  - Along-which-dimension rule of zeromean, qsort: a single row is treated
 *    along the row, anything else column by column. normalize and weigh:
 *    a single row or column as a whole, anything else row by row.
 *  - weigh: each row (or the vector) is multiplied by its L2 norm to the
 *    power -exp; a zero row stays zero.
 *  - norm: (sum |x|^l)^(1/l) over all elements of A, or of A - B; "inf" is
 *    the largest |x|, "mininf" the smallest. normalize divides by that norm;
 *    a zero norm leaves the row as it is.
 *  - chol gives the lower factor L with A = L L^T (only the lower triangle
 *    of A is read; the upper triangle of L is zero). cholinv takes L and
 *    gives A^-1; cholsolve takes L and B and gives the X of A X = B.
 *  - fft: each row is transformed on its own, zero-padded to the output's
 *    columns; the inverse divides by the length (so ifft(fft(x)) = x).
 *  - random: a process-wide 64-bit generator; seed 0 continues its
 *    sequence, another seed restarts it. Range 0 0 means [0, 1); with the
 *    int flag, whole numbers from low to high inclusive (0 to 32767 for
 *    range 0 0); otherwise uniform in [low, high).
 *  - find: the first extreme in row-major order.
 *  - tr is the plain transpose (conj conjugates); sign of a complex number
 *    is z / |z| (0 for 0); zeromean subtracts the mean.
 */
#ifndef TOVIK_MU_H
#define TOVIK_MU_H

#include "pardel.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Two-operand operator codes. */
enum {
    MU_PROD = 0,
    MU_MUL = 1,
    MU_DIV = 2,
    MU_REM = 3,
    MU_ADD = 4,
    MU_SUBTR = 5,
    MU_PMUL = 6,
    MU_PDIV = 7,
    MU_PADD = 8,
    MU_PSUBTR = 9
};

typedef double (*MuFunc)(double);

/* ---- two operands ------------------------------------------------------ */

typedef int MuComplex2Proc(int rowsA, int colsA, int rowsB, int colsB, float **realA, float **imagA, float **realB,
                           float **imagB, float **outReal, float **outImag);
typedef int MuSizeProc(int rowsA, int colsA, int rowsB, int colsB, int *rows, int *cols);

/* Matrix product sizes: colsA must equal rowsB; -1 otherwise. */
int mu_prod_size(int rowsA, int colsA, int rowsB, int colsB, int *rows, int *cols);
MuComplex2Proc mu_cprod, mu_cmul, mu_cdiv, mu_cadd, mu_csubtr, mu_pmul, mu_pdiv, mu_padd, mu_psubtr;
int mu_rmrm(int code, int rowsA, int colsA, int rowsB, int colsB, float **realA, float **realB, float **outReal);
int mu_rsrm(int code, int matrixFirst, float x, int rows, int cols, float **real, float **outReal);
int mu_rscm(int code, int matrixFirst, float x, int rows, int cols, float **real, float **imag, float **outReal,
            float **outImag);
/* The operator on two numbers; 0 ok, -1 for an unknown code. */
int mu_scalar(int code, float a, float b, float *result);

/* ---- one operand ------------------------------------------------------- */

typedef int MuRealProc(MuFunc f, int rows, int cols, float **real, float **outReal);
typedef int MuComplexProc(MuFunc f, int rows, int cols, float **real, float **imag, float **outReal, float **outImag);
typedef int MuC2RProc(MuFunc f, int rows, int cols, float **real, float **imag, float **outReal);
/* Reductions: colFlag 1 reduces each column (1 x cols), 0 each row. */
typedef int MuRealRedProc(MuFunc f, int rows, int cols, float **real, float **outReal, int colFlag);
typedef int MuComplexRedProc(MuFunc f, int rows, int cols, float **real, float **imag, float **outReal,
                             float **outImag, int colFlag);

MuRealProc mu_copy, mu_size, mu_tr, mu_diag, mu_trace, mu_unwrap, mu_flipud, mu_fliplr, mu_zero, mu_one,
    mu_zerodiag, mu_onediag, mu_zeromean, mu_uni, mu_angle, mu_sqr, mu_sign;
MuComplexProc mu_ccopy, mu_ctr, mu_cdiag, mu_ctrace, mu_cunwrap, mu_cflipud, mu_cfliplr, mu_czero, mu_cone,
    mu_czeromean, mu_cconj, mu_c2p, mu_p2c, mu_csqr, mu_psqr, mu_cuni, mu_csign;
MuC2RProc mu_csize, mu_cabs, mu_cangle, mu_creal, mu_cimag, mu_pabs, mu_pangle, mu_preal, mu_pimag;
MuRealRedProc mu_mean, mu_sum, mu_min, mu_max, mu_qstd;
MuComplexRedProc mu_cmean, mu_csum, mu_cqstd;

/* ---- utilities --------------------------------------------------------- */

/* Element [rowFirst + i*rowStep][colFirst + j*colStep] of the input goes to
 * [i][j]; the counts come from the ranges (the caller has checked them). */
int mu_cut(int rowFirst, int rowStep, int rowLast, int colFirst, int colStep, int colLast, float **real,
           float **outReal);
int mu_ccut(int rowFirst, int rowStep, int rowLast, int colFirst, int colStep, int colLast, float **real,
            float **imag, float **outReal, float **outImag);
int mu_random(MxMatrix *out, int seed, int intFlag, float low, float high);
int mu_join(MxMatrix **in, MxMatrix *out, int count, int colFlag);
int mu_scale(MxMatrix *a, MxMatrix *b, MxMatrix *out, int rowFlag);
int mu_weigh(MxMatrix *a, MxMatrix *out, float exponent);
int mu_qsort(MxMatrix *a, MxMatrix *out, int increasing);
int mu_find(MxMatrix *a, int minFlag, int *row, int *col, float *value);
int mu_normalize(MxMatrix *a, MxMatrix *out, float l, const char *lText);
int mu_norm(MxMatrix *a, MxMatrix *b, float l, const char *lText, float *value);
/* 1 ok; -1 when a is not positive definite. */
int mu_choldecompose(int n, float **real, float **outReal);
/* From the factor L to A^-1; real may be outReal. 1 ok, -1 singular. */
int mu_cholinv(int n, float **real, float **outReal);
/* X of (L L^T) X = B for B of rows x cols. 1 ok, -1 singular. */
int mu_cholsolve(int rows, int cols, float **factor, float **realB, float **outReal);
/* out is complex; in real or complex. 0 ok, -1 when out of memory. */
int mu_fft(MxMatrix *in, MxMatrix *out, int inverse);
/* 1 ok; -1 when indeterminate. */
int mu_cov(MxMatrix *a, MxMatrix *out);
int mu_corr(MxMatrix *a, MxMatrix *out);

#ifdef __cplusplus
}
#endif

#endif
