// Dense double matrices stored by columns: element (i, j) is data[i + j*rows].
//
// Callers rely on: results may alias inputs (Z may be A); factorisations and
// solves keep their scratch per call, so the library is re-entrant; every
// shape mismatch throws VekError instead of reading outside a matrix.
// Numeric choices: LU is Crout's with implicit pivoting (a zero pivot becomes
// 2.220446049250313e-16, so a singular matrix still factors); Cholesky floors
// a non-positive pivot at sqrt(2.220446e-16), which only the Gaussian density
// relies on: the inverse, solve and determinant use Cholesky for a symmetric
// matrix only while it is positive definite and fall back to LU otherwise.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

class Vek_Matrix {
 public:
  Vek_Matrix() = default;
  Vek_Matrix(int rows, int cols);
  // Blank-separated numbers, rows separated by ";", of any length. A number
  // is read as its longest numeric prefix (0 when there is none).
  explicit Vek_Matrix(const std::string &text);
  explicit Vek_Matrix(double x);

  int rows() const { return rows_; }
  int cols() const { return cols_; }
  double *data() { return data_.data(); }
  const double *data() const { return data_.data(); }
  double &operator()(int i, int j) { return data_[i + (size_t)j * rows_]; }
  double operator()(int i, int j) const { return data_[i + (size_t)j * rows_]; }

  // Reshapes; values are kept only when the shape does not change.
  void resize(int rows, int cols);
  void assign(const Vek_Matrix &o) { *this = o; }
  // array is read by rows.
  void set_from_rows(const double *array);
  void fill(double x);
  void zeros(int r, int c);
  void ones(int r, int c);
  void identity(int n);
  // start, start + step, .. up to end; empty (0 x 1) when step is 0 or
  // points away from end.
  void range(double start, double step, double end);
  void linspace(double a, double b, int n);
  void toeplitz(const Vek_Matrix &v);
  bool is_symmetric() const;

  Vek_Matrix eq(double x) const;
  Vek_Matrix ne(double x) const;
  Vek_Matrix le(double x) const;
  Vek_Matrix lt(double x) const;
  Vek_Matrix ge(double x) const;
  Vek_Matrix gt(double x) const;
  Vek_Matrix hcat(const Vek_Matrix &o) const;
  Vek_Matrix vcat(const Vek_Matrix &o) const;

 private:
  int rows_ = 0, cols_ = 0;
  std::vector<double> data_;
};

// B: one column of A's rows, one row of A's columns, or A's shape.
void matrix_add_vector(const Vek_Matrix &A, const Vek_Matrix &B, Vek_Matrix &Z);
void matrix_sub_vector(const Vek_Matrix &A, const Vek_Matrix &B, Vek_Matrix &Z);
void matrix_mul_elementwise(const Vek_Matrix &A, const Vek_Matrix &B, Vek_Matrix &Z);
void matrix_add_scalar(const Vek_Matrix &A, double x, Vek_Matrix &Z);
void matrix_mul_scalar(const Vek_Matrix &A, double x, Vek_Matrix &Z);
void matrix_div_scalar(const Vek_Matrix &A, double x, Vek_Matrix &Z);
void matrix_pow(const Vek_Matrix &A, double x, Vek_Matrix &Z);
void matrix_apply(const Vek_Matrix &A, double (*f)(double), Vek_Matrix &Z);
// Z = A B (inner products after Winograd).
void matrix_mult(const Vek_Matrix &A, const Vek_Matrix &B, Vek_Matrix &Z);
void matrix_transpose(const Vek_Matrix &A, Vek_Matrix &Z);
// Inclusive ranges.
void matrix_get_block(const Vek_Matrix &A, int r0, int r1, int c0, int c1, Vek_Matrix &Z);
void matrix_set_block(const Vek_Matrix &A, int r0, int r1, int c0, int c1, Vek_Matrix &Z);
void matrix_select_columns(const Vek_Matrix &A, const std::vector<double> &v, Vek_Matrix &Z);
// dim 1: per row; otherwise per column.
void matrix_sum(const Vek_Matrix &A, std::vector<double> &out, int dim);
void matrix_prod(const Vek_Matrix &A, std::vector<double> &out, int dim);
void matrix_mean(const Vek_Matrix &A, std::vector<double> &out, int dim);
double matrix_total_sum(const Vek_Matrix &A);
double matrix_total_prod(const Vek_Matrix &A);
bool matrix_any(const Vek_Matrix &A);
bool matrix_all(const Vek_Matrix &A);
// Each column divided by its sum; a zero-sum column becomes 1 / rows.
void matrix_normalise_columns(const Vek_Matrix &A, Vek_Matrix &Z);
void matrix_diagonal(const Vek_Matrix &A, std::vector<double> &out);
void matrix_column_distances(const Vek_Matrix &A, const Vek_Matrix &B, Vek_Matrix &Z);

void print_matrix(FILE *f, const Vek_Matrix &A);
// int32 rows, int32 cols, then float64 values row by row, in the machine's
// order; the reader swaps bytes when swap is set and refuses a record whose
// counts are negative or larger than the file's remaining bytes.
bool write_matrix(FILE *f, const Vek_Matrix &A);
void read_matrix(FILE *f, Vek_Matrix &A, bool swap);
void swap_double(double &x);

// Factorisations (A square n x n).
void matrix_lu(const Vek_Matrix &A, Vek_Matrix &LU, std::vector<double> &pivots, double &parity);
void matrix_lu_backsubst(const Vek_Matrix &LU, const std::vector<double> &pivots,
                         const double *b, double *x);
// Upper-triangular R with A = R^T R. Returns false when a pivot was floored
// (A is not positive definite).
bool matrix_cholesky(const Vek_Matrix &A, Vek_Matrix &R);
void matrix_cholesky_backsubst(const Vek_Matrix &R, const double *b, double *x);
void matrix_inverse_from_lu(const Vek_Matrix &LU, const std::vector<double> &pivots, Vek_Matrix &Z);
void matrix_inverse_from_cholesky(const Vek_Matrix &R, Vek_Matrix &Z);
void matrix_solve_from_lu(const Vek_Matrix &LU, const std::vector<double> &pivots,
                          const Vek_Matrix &B, Vek_Matrix &X);
void matrix_solve_from_cholesky(const Vek_Matrix &R, const Vek_Matrix &B, Vek_Matrix &X);
double matrix_det_from_lu(const Vek_Matrix &LU, double parity);
double matrix_det_from_cholesky(const Vek_Matrix &R);
void matrix_inverse(const Vek_Matrix &A, Vek_Matrix &Z);
void matrix_solve(const Vek_Matrix &A, const Vek_Matrix &B, Vek_Matrix &X);
double matrix_det(const Vek_Matrix &A);
// out[t] = N(X(:, t); mean, cov), X d x T, mean d x 1, cov d x d.
void matrix_gaussian_pdf(const Vek_Matrix &X, const Vek_Matrix &mean, const Vek_Matrix &cov,
                         std::vector<double> &out);
