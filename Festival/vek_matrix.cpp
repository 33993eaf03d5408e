#include "vek_matrix.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

#include "vek_lisp.h"

static const double kTiny = 2.2250738585072014e-308;
static const double kEps = 2.220446049250313e-16;

Vek_Matrix::Vek_Matrix(int rows, int cols) { resize(rows, cols); }

Vek_Matrix::Vek_Matrix(double x) : rows_(1), cols_(1), data_(1, x) {}

static std::vector<std::string> split(const std::string &s, const char *seps) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < s.size()) {
    size_t b = s.find_first_not_of(seps, i);
    if (b == std::string::npos) break;
    size_t e = s.find_first_of(seps, b);
    if (e == std::string::npos) e = s.size();
    out.push_back(s.substr(b, e - b));
    i = e;
  }
  return out;
}

Vek_Matrix::Vek_Matrix(const std::string &text) {
  const char *blanks = " \t\r\n";
  std::vector<std::string> pieces;
  for (auto &p : split(text, ";"))
    if (!split(p, blanks).empty()) pieces.push_back(p);
  if (pieces.empty()) return;
  int cols = (int)split(pieces[0], blanks).size();
  resize((int)pieces.size(), cols);
  std::vector<std::string> tokens = split(text, " \t\r\n;");
  size_t t = 0;
  for (int i = 0; i < rows_; i++)
    for (int j = 0; j < cols_; j++, t++)
      (*this)(i, j) = t < tokens.size() ? strtod(tokens[t].c_str(), nullptr) : 0.0;
}

void Vek_Matrix::resize(int rows, int cols) {
  if (rows < 0 || cols < 0) Vek_fail("matrix shape %d x %d is negative", rows, cols);
  if (rows == rows_ && cols == cols_) return;
  rows_ = rows;
  cols_ = cols;
  data_.assign((size_t)rows * cols, 0.0);
}

void Vek_Matrix::set_from_rows(const double *a) {
  for (int i = 0; i < rows_; i++)
    for (int j = 0; j < cols_; j++) (*this)(i, j) = a[(size_t)i * cols_ + j];
}

void Vek_Matrix::fill(double x) { std::fill(data_.begin(), data_.end(), x); }
void Vek_Matrix::zeros(int r, int c) { resize(r, c); fill(0); }
void Vek_Matrix::ones(int r, int c) { resize(r, c); fill(1); }

void Vek_Matrix::identity(int n) {
  zeros(n, n);
  for (int i = 0; i < n; i++) (*this)(i, i) = 1;
}

void Vek_Matrix::range(double start, double step, double end) {
  if (step == 0 || (end - start) * step < 0) {
    resize(0, 1);
    return;
  }
  int n = (int)floor((end - start) / step) + 1;
  resize(n, 1);
  double v = start;
  for (int i = 0; i < n; i++, v += step) data_[i] = v;
}

void Vek_Matrix::linspace(double a, double b, int n) {
  resize(std::max(n, 0), 1);
  for (int k = 0; k < n; k++) data_[k] = n == 1 ? b : a + (b - a) * k / (n - 1);
  if (n > 0) data_[n - 1] = b;
}

void Vek_Matrix::toeplitz(const Vek_Matrix &v) {
  int n = v.rows();
  Vek_Matrix t(n, n);
  for (int i = 0; i < n; i++)
    for (int j = 0; j < n; j++) t(i, j) = v.data_[abs(i - j)];
  *this = t;
}

bool Vek_Matrix::is_symmetric() const {
  if (rows_ != cols_) return false;
  for (int i = 0; i < rows_; i++)
    for (int j = 0; j < i; j++)
      if ((*this)(i, j) != (*this)(j, i)) return false;
  return true;
}

template <typename P>
static Vek_Matrix compare(const Vek_Matrix &A, P pred) {
  Vek_Matrix Z(A.rows(), A.cols());
  for (size_t k = 0; k < (size_t)A.rows() * A.cols(); k++) Z.data()[k] = pred(A.data()[k]) ? 1.0 : 0.0;
  return Z;
}
Vek_Matrix Vek_Matrix::eq(double x) const { return compare(*this, [x](double v) { return v == x; }); }
Vek_Matrix Vek_Matrix::ne(double x) const { return compare(*this, [x](double v) { return v != x; }); }
Vek_Matrix Vek_Matrix::le(double x) const { return compare(*this, [x](double v) { return v <= x; }); }
Vek_Matrix Vek_Matrix::lt(double x) const { return compare(*this, [x](double v) { return v < x; }); }
Vek_Matrix Vek_Matrix::ge(double x) const { return compare(*this, [x](double v) { return v >= x; }); }
Vek_Matrix Vek_Matrix::gt(double x) const { return compare(*this, [x](double v) { return v > x; }); }

Vek_Matrix Vek_Matrix::hcat(const Vek_Matrix &o) const {
  int r = rows_ ? rows_ : o.rows_;
  if (o.cols_ && o.rows_ != r) Vek_fail("hcat: %d rows beside %d rows", r, o.rows_);
  Vek_Matrix Z(r, cols_ + o.cols_);
  std::copy(data_.begin(), data_.end(), Z.data_.begin());
  std::copy(o.data_.begin(), o.data_.end(), Z.data_.begin() + data_.size());
  return Z;
}

Vek_Matrix Vek_Matrix::vcat(const Vek_Matrix &o) const {
  int c = cols_ ? cols_ : o.cols_;
  if (o.rows_ && o.cols_ != c) Vek_fail("vcat: %d columns above %d columns", c, o.cols_);
  Vek_Matrix Z(rows_ + o.rows_, c);
  for (int j = 0; j < c; j++) {
    for (int i = 0; i < rows_; i++) Z(i, j) = (*this)(i, j);
    for (int i = 0; i < o.rows_; i++) Z(rows_ + i, j) = o(i, j);
  }
  return Z;
}

// ------------------------------------------------------------ element-wise

template <typename Op>
static void with_vector(const Vek_Matrix &A, const Vek_Matrix &B, Vek_Matrix &Z, Op op, const char *fn) {
  int r = A.rows(), c = A.cols();
  int mode;
  if (B.cols() == 1 && B.rows() == r) mode = 0;
  else if (B.rows() == 1 && B.cols() == c) mode = 1;
  else if (B.rows() == r && B.cols() == c) mode = 2;
  else Vek_fail("%s: %d x %d does not fit %d x %d", fn, B.rows(), B.cols(), r, c);
  Vek_Matrix out(r, c);
  for (int j = 0; j < c; j++)
    for (int i = 0; i < r; i++)
      out(i, j) = op(A(i, j), mode == 0 ? B(i, 0) : mode == 1 ? B(0, j) : B(i, j));
  Z = std::move(out);
}

void matrix_add_vector(const Vek_Matrix &A, const Vek_Matrix &B, Vek_Matrix &Z) {
  with_vector(A, B, Z, [](double a, double b) { return a + b; }, "matrix_add_vector");
}
void matrix_sub_vector(const Vek_Matrix &A, const Vek_Matrix &B, Vek_Matrix &Z) {
  with_vector(A, B, Z, [](double a, double b) { return a - b; }, "matrix_sub_vector");
}
void matrix_mul_elementwise(const Vek_Matrix &A, const Vek_Matrix &B, Vek_Matrix &Z) {
  with_vector(A, B, Z, [](double a, double b) { return a * b; }, "matrix_mul_elementwise");
}

template <typename Op>
static void each(const Vek_Matrix &A, Vek_Matrix &Z, Op op) {
  Z.resize(A.rows(), A.cols());
  for (size_t k = 0; k < (size_t)A.rows() * A.cols(); k++) Z.data()[k] = op(A.data()[k]);
}
void matrix_add_scalar(const Vek_Matrix &A, double x, Vek_Matrix &Z) { each(A, Z, [x](double v) { return v + x; }); }
void matrix_mul_scalar(const Vek_Matrix &A, double x, Vek_Matrix &Z) { each(A, Z, [x](double v) { return v * x; }); }
void matrix_div_scalar(const Vek_Matrix &A, double x, Vek_Matrix &Z) { each(A, Z, [x](double v) { return v / x; }); }
void matrix_pow(const Vek_Matrix &A, double x, Vek_Matrix &Z) { each(A, Z, [x](double v) { return pow(v, x); }); }
void matrix_apply(const Vek_Matrix &A, double (*f)(double), Vek_Matrix &Z) { each(A, Z, f); }

void matrix_mult(const Vek_Matrix &A, const Vek_Matrix &B, Vek_Matrix &Z) {
  int m = A.rows(), k = A.cols(), n = B.cols();
  if (B.rows() != k) Vek_fail("matrix_mult: %d x %d times %d x %d", m, k, B.rows(), n);
  std::vector<double> r(m, 0.0), c(n, 0.0);
  for (int i = 0; i < m; i++)
    for (int j = 0; j + 1 < k; j += 2) r[i] += A(i, j) * A(i, j + 1);
  for (int j = 0; j < n; j++)
    for (int i = 0; i + 1 < k; i += 2) c[j] += B(i, j) * B(i + 1, j);
  Vek_Matrix out(m, n);
  for (int i = 0; i < m; i++)
    for (int j = 0; j < n; j++) {
      double s = 0;
      for (int p = 0; p + 1 < k; p += 2) s += (A(i, p) + B(p + 1, j)) * (A(i, p + 1) + B(p, j));
      if (k % 2) s += A(i, k - 1) * B(k - 1, j);
      out(i, j) = s - r[i] - c[j];
    }
  Z = std::move(out);
}

void matrix_transpose(const Vek_Matrix &A, Vek_Matrix &Z) {
  Vek_Matrix out(A.cols(), A.rows());
  for (int i = 0; i < A.rows(); i++)
    for (int j = 0; j < A.cols(); j++) out(j, i) = A(i, j);
  Z = std::move(out);
}

static void check_block(const Vek_Matrix &A, int r0, int r1, int c0, int c1, const char *fn) {
  if (r0 < 0 || c0 < 0 || r1 < r0 || c1 < c0 || r1 >= A.rows() || c1 >= A.cols())
    Vek_fail("%s: block %d..%d, %d..%d outside %d x %d", fn, r0, r1, c0, c1, A.rows(), A.cols());
}

void matrix_get_block(const Vek_Matrix &A, int r0, int r1, int c0, int c1, Vek_Matrix &Z) {
  check_block(A, r0, r1, c0, c1, "matrix_get_block");
  Vek_Matrix out(r1 - r0 + 1, c1 - c0 + 1);
  for (int j = c0; j <= c1; j++)
    for (int i = r0; i <= r1; i++) out(i - r0, j - c0) = A(i, j);
  Z = std::move(out);
}

void matrix_set_block(const Vek_Matrix &A, int r0, int r1, int c0, int c1, Vek_Matrix &Z) {
  check_block(Z, r0, r1, c0, c1, "matrix_set_block");
  if (A.rows() != r1 - r0 + 1 || A.cols() != c1 - c0 + 1)
    Vek_fail("matrix_set_block: %d x %d into a block of %d x %d", A.rows(), A.cols(), r1 - r0 + 1, c1 - c0 + 1);
  for (int j = c0; j <= c1; j++)
    for (int i = r0; i <= r1; i++) Z(i, j) = A(i - r0, j - c0);
}

void matrix_select_columns(const Vek_Matrix &A, const std::vector<double> &v, Vek_Matrix &Z) {
  Vek_Matrix out(A.rows(), (int)v.size());
  for (size_t k = 0; k < v.size(); k++) {
    int j = (int)v[k];
    if (j < 0 || j >= A.cols()) Vek_fail("matrix_select_columns: no column %d in %d", j, A.cols());
    for (int i = 0; i < A.rows(); i++) out(i, (int)k) = A(i, j);
  }
  Z = std::move(out);
}

template <typename Op>
static void reduce(const Vek_Matrix &A, std::vector<double> &out, int dim, double init, Op op) {
  bool rows = dim == 1;
  out.assign(rows ? A.rows() : A.cols(), init);
  for (int i = 0; i < A.rows(); i++)
    for (int j = 0; j < A.cols(); j++) {
      double &o = out[rows ? i : j];
      o = op(o, A(i, j));
    }
}

void matrix_sum(const Vek_Matrix &A, std::vector<double> &out, int dim) {
  reduce(A, out, dim, 0.0, [](double a, double b) { return a + b; });
}
void matrix_prod(const Vek_Matrix &A, std::vector<double> &out, int dim) {
  reduce(A, out, dim, 1.0, [](double a, double b) { return a * b; });
}
void matrix_mean(const Vek_Matrix &A, std::vector<double> &out, int dim) {
  matrix_sum(A, out, dim);
  int n = dim == 1 ? A.cols() : A.rows();
  for (double &v : out) v /= n;
}

double matrix_total_sum(const Vek_Matrix &A) {
  double s = 0;
  for (size_t k = 0; k < (size_t)A.rows() * A.cols(); k++) s += A.data()[k];
  return s;
}
double matrix_total_prod(const Vek_Matrix &A) {
  double s = 1;
  for (size_t k = 0; k < (size_t)A.rows() * A.cols(); k++) s *= A.data()[k];
  return s;
}
bool matrix_any(const Vek_Matrix &A) {
  return std::any_of(A.data(), A.data() + (size_t)A.rows() * A.cols(), [](double v) { return v != 0; });
}
bool matrix_all(const Vek_Matrix &A) {
  return std::all_of(A.data(), A.data() + (size_t)A.rows() * A.cols(), [](double v) { return v != 0; });
}

void matrix_normalise_columns(const Vek_Matrix &A, Vek_Matrix &Z) {
  Vek_Matrix out(A.rows(), A.cols());
  for (int j = 0; j < A.cols(); j++) {
    double s = 0;
    for (int i = 0; i < A.rows(); i++) s += A(i, j);
    for (int i = 0; i < A.rows(); i++) out(i, j) = s == 0 ? 1.0 / A.rows() : A(i, j) / s;
  }
  Z = std::move(out);
}

void matrix_diagonal(const Vek_Matrix &A, std::vector<double> &out) {
  out.resize(std::min(A.rows(), A.cols()));
  for (size_t i = 0; i < out.size(); i++) out[i] = A((int)i, (int)i);
}

void matrix_column_distances(const Vek_Matrix &A, const Vek_Matrix &B, Vek_Matrix &Z) {
  if (A.rows() != B.rows()) Vek_fail("matrix_column_distances: %d rows against %d", A.rows(), B.rows());
  Vek_Matrix out(A.cols(), B.cols());
  for (int i = 0; i < A.cols(); i++)
    for (int j = 0; j < B.cols(); j++) {
      double s = 0;
      for (int k = 0; k < A.rows(); k++) s += (A(k, i) - B(k, j)) * (A(k, i) - B(k, j));
      out(i, j) = sqrt(s);
    }
  Z = std::move(out);
}

// ------------------------------------------------------------------- files

void print_matrix(FILE *f, const Vek_Matrix &A) {
  for (int i = 0; i < A.rows(); i++) {
    if (i) fputc('\n', f);
    for (int j = 0; j < A.cols(); j++) fprintf(f, "%14g", A(i, j));
  }
}

void swap_double(double &x) {
  unsigned char *b = reinterpret_cast<unsigned char *>(&x);
  std::reverse(b, b + 8);
}

static void swap_int32(int32_t &x) {
  unsigned char *b = reinterpret_cast<unsigned char *>(&x);
  std::reverse(b, b + 4);
}

bool write_matrix(FILE *f, const Vek_Matrix &A) {
  int32_t rc[2] = {A.rows(), A.cols()};
  if (fwrite(rc, 4, 2, f) != 2) return false;
  for (int i = 0; i < A.rows(); i++)
    for (int j = 0; j < A.cols(); j++) {
      double v = A(i, j);
      if (fwrite(&v, 8, 1, f) != 1) return false;
    }
  return true;
}

void read_matrix(FILE *f, Vek_Matrix &A, bool swap) {
  int32_t rc[2];
  if (fread(rc, 4, 2, f) != 2) Vek_fail("matrix record: the file ends inside its header");
  if (swap) {
    swap_int32(rc[0]);
    swap_int32(rc[1]);
  }
  // The counts decide an allocation: they must fit the bytes that are left.
  long here = ftell(f);
  struct stat st;
  long left = -1;
  if (here >= 0 && fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode)) left = (long)st.st_size - here;
  if (rc[0] < 0 || rc[1] < 0 ||
      (left >= 0 && (uint64_t)rc[0] * (uint64_t)rc[1] * 8 > (uint64_t)left))
    Vek_fail("matrix record: %d x %d does not fit the file", rc[0], rc[1]);
  Vek_Matrix out(rc[0], rc[1]);
  for (int i = 0; i < rc[0]; i++)
    for (int j = 0; j < rc[1]; j++) {
      double v;
      if (fread(&v, 8, 1, f) != 1) Vek_fail("matrix record: the file ends inside its values");
      if (swap) swap_double(v);
      out(i, j) = v;
    }
  A = std::move(out);
}

// ---------------------------------------------------------- factorisations

static void check_square(const Vek_Matrix &A, const char *fn) {
  if (A.rows() != A.cols()) Vek_fail("%s: %d x %d is not square", fn, A.rows(), A.cols());
}

void matrix_lu(const Vek_Matrix &A, Vek_Matrix &LU, std::vector<double> &pivots, double &parity) {
  check_square(A, "matrix_lu");
  int n = A.rows();
  if (&LU != &A) LU = A;
  std::vector<double> scale(n);
  parity = 1;
  pivots.assign(n, 0.0);
  for (int i = 0; i < n; i++) {
    double big = 0;
    for (int j = 0; j < n; j++) big = std::max(big, fabs(LU(i, j)));
    scale[i] = 1.0 / (big == 0 ? kTiny : big);
  }
  for (int j = 0; j < n; j++) {
    for (int i = 0; i < j; i++) {
      double s = LU(i, j);
      for (int k = 0; k < i; k++) s -= LU(i, k) * LU(k, j);
      LU(i, j) = s;
    }
    double big = 0;
    int imax = j;
    for (int i = j; i < n; i++) {
      double s = LU(i, j);
      for (int k = 0; k < j; k++) s -= LU(i, k) * LU(k, j);
      LU(i, j) = s;
      double d = scale[i] * fabs(s);
      if (d >= big) {
        big = d;
        imax = i;
      }
    }
    if (imax != j) {
      for (int k = 0; k < n; k++) std::swap(LU(imax, k), LU(j, k));
      parity = -parity;
      scale[imax] = scale[j];
    }
    pivots[j] = imax;
    if (LU(j, j) == 0) LU(j, j) = kEps;
    for (int i = j + 1; i < n; i++) LU(i, j) /= LU(j, j);
  }
}

void matrix_lu_backsubst(const Vek_Matrix &LU, const std::vector<double> &pivots, const double *b,
                         double *x) {
  int n = LU.rows();
  if (x != b) std::copy(b, b + n, x);
  int first = -1;
  for (int i = 0; i < n; i++) {
    int ip = (int)pivots[i];
    double s = x[ip];
    x[ip] = x[i];
    if (first >= 0) {
      for (int j = first; j < i; j++) s -= LU(i, j) * x[j];
    } else if (s != 0) {
      first = i;
    }
    x[i] = s;
  }
  for (int i = n - 1; i >= 0; i--) {
    double s = x[i];
    for (int j = i + 1; j < n; j++) s -= LU(i, j) * x[j];
    x[i] = s / LU(i, i);
  }
}

bool matrix_cholesky(const Vek_Matrix &A, Vek_Matrix &R) {
  check_square(A, "matrix_cholesky");
  int n = A.rows();
  Vek_Matrix out(n, n);
  out.fill(0);
  bool definite = true;
  for (int i = 0; i < n; i++)
    for (int j = i; j < n; j++) {
      double x = A(i, j);
      for (int k = 0; k < i; k++) x -= out(k, i) * out(k, j);
      if (j == i) {
        if (x > 0) {
          out(i, i) = sqrt(x);
        } else {
          out(i, i) = sqrt(2.220446e-16);
          definite = false;
        }
      } else {
        out(i, j) = x / out(i, i);
        out(j, i) = 0;
      }
    }
  R = std::move(out);
  return definite;
}

void matrix_cholesky_backsubst(const Vek_Matrix &R, const double *b, double *x) {
  int n = R.rows();
  std::vector<double> y(n);
  for (int i = 0; i < n; i++) {
    double s = b[i];
    for (int k = 0; k < i; k++) s -= R(k, i) * y[k];
    y[i] = s / R(i, i);
  }
  for (int i = n - 1; i >= 0; i--) {
    double s = y[i];
    for (int k = i + 1; k < n; k++) s -= R(i, k) * x[k];
    x[i] = s / R(i, i);
  }
}

template <typename Solve>
static void solve_columns(int n, const Vek_Matrix &B, Vek_Matrix &X, Solve solve) {
  if (B.rows() != n) Vek_fail("solve: %d rows on the right for %d unknowns", B.rows(), n);
  Vek_Matrix out(n, B.cols());
  for (int j = 0; j < B.cols(); j++) solve(B.data() + (size_t)j * n, out.data() + (size_t)j * n);
  X = std::move(out);
}

void matrix_solve_from_lu(const Vek_Matrix &LU, const std::vector<double> &pivots, const Vek_Matrix &B,
                          Vek_Matrix &X) {
  solve_columns(LU.rows(), B, X, [&](const double *b, double *x) { matrix_lu_backsubst(LU, pivots, b, x); });
}

void matrix_solve_from_cholesky(const Vek_Matrix &R, const Vek_Matrix &B, Vek_Matrix &X) {
  solve_columns(R.rows(), B, X, [&](const double *b, double *x) { matrix_cholesky_backsubst(R, b, x); });
}

void matrix_inverse_from_lu(const Vek_Matrix &LU, const std::vector<double> &pivots, Vek_Matrix &Z) {
  Vek_Matrix I;
  I.identity(LU.rows());
  matrix_solve_from_lu(LU, pivots, I, Z);
}

void matrix_inverse_from_cholesky(const Vek_Matrix &R, Vek_Matrix &Z) {
  Vek_Matrix I;
  I.identity(R.rows());
  matrix_solve_from_cholesky(R, I, Z);
}

double matrix_det_from_lu(const Vek_Matrix &LU, double parity) {
  double d = parity;
  for (int i = 0; i < LU.rows(); i++) d *= LU(i, i);
  return d;
}

double matrix_det_from_cholesky(const Vek_Matrix &R) {
  double d = 1;
  for (int i = 0; i < R.rows(); i++) d *= R(i, i);
  return d * d;
}

// Cholesky for a symmetric positive definite A (R set, true); else false.
static bool try_cholesky(const Vek_Matrix &A, Vek_Matrix &R) {
  check_square(A, "matrix");
  return A.is_symmetric() && matrix_cholesky(A, R);
}

void matrix_inverse(const Vek_Matrix &A, Vek_Matrix &Z) {
  Vek_Matrix R;
  if (try_cholesky(A, R)) return matrix_inverse_from_cholesky(R, Z);
  std::vector<double> piv;
  double parity;
  matrix_lu(A, R, piv, parity);
  matrix_inverse_from_lu(R, piv, Z);
}

void matrix_solve(const Vek_Matrix &A, const Vek_Matrix &B, Vek_Matrix &X) {
  Vek_Matrix R;
  if (try_cholesky(A, R)) return matrix_solve_from_cholesky(R, B, X);
  std::vector<double> piv;
  double parity;
  matrix_lu(A, R, piv, parity);
  matrix_solve_from_lu(R, piv, B, X);
}

double matrix_det(const Vek_Matrix &A) {
  Vek_Matrix R;
  if (try_cholesky(A, R)) return matrix_det_from_cholesky(R);
  std::vector<double> piv;
  double parity;
  matrix_lu(A, R, piv, parity);
  return matrix_det_from_lu(R, parity);
}

void matrix_gaussian_pdf(const Vek_Matrix &X, const Vek_Matrix &mean, const Vek_Matrix &cov,
                         std::vector<double> &out) {
  int d = X.rows();
  if (mean.rows() != d || mean.cols() != 1 || cov.rows() != d || cov.cols() != d)
    Vek_fail("matrix_gaussian_pdf: %d-dimensional data, mean %d x %d, covariance %d x %d", d,
             mean.rows(), mean.cols(), cov.rows(), cov.cols());
  Vek_Matrix R, S;
  matrix_cholesky(cov, R);
  double det = matrix_det_from_cholesky(R);
  matrix_inverse_from_cholesky(R, S);
  double norm = pow(2 * M_PI, d * 0.5) * sqrt(det);
  out.assign(X.cols(), 0.0);
  std::vector<double> u(d);
  for (int t = 0; t < X.cols(); t++) {
    for (int i = 0; i < d; i++) u[i] = X(i, t) - mean(i, 0);
    double q = 0;
    for (int i = 0; i < d; i++)
      for (int j = 0; j < d; j++) q += S(i, j) * u[i] * u[j];
    out[t] = exp(-0.5 * q) / norm;
  }
}
