// Numeric pieces of the synthesis engine: dense matrices, LSF/LPC conversion
// and filters, each against a tool nobody here wrote (numpy, scipy, SPTK)
// and on the small cases where a slip shows.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "EST_Track.h"
#include "EST_Wave.h"
#include "festival.h"
#include "vek_filter.h"
#include "vek_lisp.h"
#include "vek_lsf.h"
#include "vek_matrix.h"

static std::string tmpPath(const std::string &name) {
  return std::string(testing::TempDir()) + "/num_" + name;
}

// Runs a Python program (numpy/scipy) on the numbers in `in` (one list a
// line, available as `rows` in the program) and reads back every number it
// prints.
static std::vector<double> python(const std::string &prog, const std::vector<std::vector<double>> &in) {
  std::string data = tmpPath("py_in.txt"), script = tmpPath("py.py");
  {
    std::ofstream d(data);
    d.precision(17);
    for (auto &row : in) {
      for (double v : row) d << v << ' ';
      d << '\n';
    }
    std::ofstream s(script);
    s << "import sys\nimport numpy as np\n"
      << "rows = [[float(t) for t in l.split()] for l in open(sys.argv[1])]\n"
      << "def out(v):\n    print(' '.join(repr(float(x)) for x in np.ravel(v)))\n"
      << prog << "\n";
  }
  std::string cmd = "/usr/bin/python3 " + script + " " + data;
  FILE *p = popen(cmd.c_str(), "r");
  std::vector<double> got;
  double v;
  while (p && fscanf(p, "%lf", &v) == 1) got.push_back(v);
  int rc = p ? pclose(p) : -1;
  EXPECT_EQ(rc, 0) << "python3 with numpy and scipy is needed: " << cmd;
  return got;
}

static std::vector<double> flat_rows(const Vek_Matrix &A) {
  std::vector<double> v;
  for (int i = 0; i < A.rows(); i++)
    for (int j = 0; j < A.cols(); j++) v.push_back(A(i, j));
  return v;
}

static void expect_near_all(const std::vector<double> &a, const std::vector<double> &b, double tol,
                            const std::string &what) {
  ASSERT_EQ(a.size(), b.size()) << what;
  for (size_t i = 0; i < a.size(); i++) EXPECT_NEAR(a[i], b[i], tol * (1 + fabs(b[i]))) << what << " at " << i;
}

// ------------------------------------------------------------------ matrices

TEST(Matrix, text_shapes_and_values) {
  struct Case {
    const char *text;
    int rows, cols;
    std::vector<double> by_rows;
  } cases[] = {
      {"1 2; 3 4", 2, 2, {1, 2, 3, 4}},
      {"1 2 3", 1, 3, {1, 2, 3}},
      {"1.5e1 x;-2 7abc", 2, 2, {15, 0, -2, 7}},  // longest numeric prefix, 0 for none
      {"", 0, 0, {}},
  };
  for (auto &c : cases) {
    Vek_Matrix m{std::string(c.text)};
    EXPECT_EQ(m.rows(), c.rows) << c.text;
    EXPECT_EQ(m.cols(), c.cols) << c.text;
    EXPECT_EQ(flat_rows(m), c.by_rows) << c.text;
  }
  // Texts of any length: 120 columns is far beyond a fixed work buffer.
  std::string longText;
  for (int i = 0; i < 120; i++) longText += std::to_string(i) + ".25 ";
  const std::string copy = longText;
  Vek_Matrix big(longText);
  EXPECT_EQ(big.cols(), 120);
  EXPECT_DOUBLE_EQ(big(0, 119), 119.25);
  EXPECT_EQ(longText, copy);
}

TEST(Matrix, range_linspace_and_comparisons) {
  Vek_Matrix r;
  r.range(0, 0.5, 2);
  EXPECT_EQ(r.rows(), 5);
  EXPECT_DOUBLE_EQ(r(4, 0), 2.0);
  for (auto args : {std::vector<double>{2, 1, 0}, std::vector<double>{1, 0, 5}}) {
    r.range(args[0], args[1], args[2]);
    EXPECT_EQ(r.rows(), 0);
    EXPECT_EQ(r.cols(), 1);
  }
  Vek_Matrix l;
  l.linspace(0, 1, 4);
  EXPECT_DOUBLE_EQ(l(1, 0), 1.0 / 3);
  EXPECT_EQ(l(3, 0), 1.0);
  EXPECT_EQ(flat_rows(l.gt(0.4)), (std::vector<double>{0, 0, 1, 1}));
  Vek_Matrix t;
  t.toeplitz(Vek_Matrix(std::string("1;2;3")));
  EXPECT_EQ(flat_rows(t), (std::vector<double>{1, 2, 3, 2, 1, 2, 3, 2, 1}));
  EXPECT_TRUE(t.is_symmetric());
  Vek_Matrix e, one(std::string("1 2"));
  EXPECT_EQ(e.vcat(one).rows(), 1);
  EXPECT_EQ(flat_rows(one.vcat(one)), (std::vector<double>{1, 2, 1, 2}));
  EXPECT_THROW(one.hcat(t), VekError);
}

TEST(Matrix, product_with_odd_even_and_unit_inner_dimension_matches_numpy) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> u(-3, 3);
  for (int k : {1, 2, 3, 5}) {
    Vek_Matrix A(3, k), B(k, 4), Z;
    std::vector<double> a(3 * k), b(k * 4);
    for (auto &v : a) v = u(rng);
    for (auto &v : b) v = u(rng);
    A.set_from_rows(a.data());
    B.set_from_rows(b.data());
    matrix_mult(A, B, Z);
    std::vector<double> want = python(
        "k = int(rows[0][0])\nout(np.array(rows[1]).reshape(3, k) @ np.array(rows[2]).reshape(k, 4))",
        {{double(k)}, a, b});
    expect_near_all(flat_rows(Z), want, 1e-12, "inner " + std::to_string(k));
  }
  Vek_Matrix A(2, 3), B(2, 3), Z;
  EXPECT_THROW(matrix_mult(A, B, Z), VekError);
}

TEST(Matrix, factorisations_match_numpy) {
  // Symmetric positive definite, symmetric indefinite, and unsymmetric.
  struct Case {
    const char *what, *text;
  } cases[] = {
      {"spd", "4 1 0.5; 1 3 0.2; 0.5 0.2 2"},
      {"indefinite", "1 2 0; 2 1 0; 0 0 3"},
      {"general", "0 2 1; 1 1 4; 3 0.5 2"},
  };
  for (auto &c : cases) {
    Vek_Matrix A{std::string(c.text)}, inv, X, B(std::string("1 0; 2 1; 3 -1"));
    matrix_inverse(A, inv);
    matrix_solve(A, B, X);
    double det = matrix_det(A);
    std::vector<double> got = flat_rows(inv);
    for (double v : flat_rows(X)) got.push_back(v);
    got.push_back(det);
    std::vector<double> want = python(
        "A = np.array(rows[0]).reshape(3, 3); B = np.array(rows[1]).reshape(3, 2)\n"
        "out(np.linalg.inv(A)); out(np.linalg.solve(A, B)); out(np.linalg.det(A))",
        {flat_rows(A), flat_rows(B)});
    expect_near_all(got, want, 1e-10, c.what);
  }
  // Cholesky R is numpy's L transposed.
  Vek_Matrix S{std::string("4 1 0.5; 1 3 0.2; 0.5 0.2 2")}, R;
  EXPECT_TRUE(matrix_cholesky(S, R));
  expect_near_all(flat_rows(R), python("out(np.linalg.cholesky(np.array(rows[0]).reshape(3, 3)).T)", {flat_rows(S)}),
                  1e-12, "cholesky");
}

TEST(Matrix, degenerate_factorisations) {
  // A singular matrix factors with a tiny pivot instead of failing.
  Vek_Matrix A{std::string("1 2; 2 4")}, LU;
  std::vector<double> piv;
  double parity;
  matrix_lu(A, LU, piv, parity);
  EXPECT_EQ(LU(1, 1), 2.220446049250313e-16);
  // The indefinite matrix's Cholesky is floored and says so.
  Vek_Matrix R;
  EXPECT_FALSE(matrix_cholesky(Vek_Matrix(std::string("1 2; 2 1")), R));
  Vek_Matrix empty;
  matrix_cholesky(empty, R);
  EXPECT_EQ(matrix_det_from_cholesky(R), 1.0);
  EXPECT_THROW(matrix_det(Vek_Matrix(2, 3)), VekError);
}

TEST(Matrix, gaussian_density_matches_scipy) {
  Vek_Matrix X{std::string("0 1 -1 0.3; 0 0.5 2 -0.7")}, mean{std::string("0.2; -0.1")},
      cov{std::string("1.5 0.3; 0.3 0.8")};
  std::vector<double> pdf;
  matrix_gaussian_pdf(X, mean, cov, pdf);
  std::vector<double> want = python(
      "from scipy.stats import multivariate_normal as mvn\n"
      "X = np.array(rows[0]).reshape(2, 4)\n"
      "out(mvn.pdf(X.T, mean=rows[1], cov=np.array(rows[2]).reshape(2, 2)))",
      {flat_rows(X), flat_rows(mean), flat_rows(cov)});
  expect_near_all(pdf, want, 1e-12, "pdf");
  EXPECT_THROW(matrix_gaussian_pdf(X, cov, cov, pdf), VekError);
}

TEST(Matrix, record_is_row_major_and_refuses_bad_counts) {
  std::string p = tmpPath("m.bin");
  Vek_Matrix A{std::string("1 2 3; 4 5 6")}, B;
  FILE *f = fopen(p.c_str(), "wb");
  ASSERT_TRUE(write_matrix(f, A));
  fclose(f);
  f = fopen(p.c_str(), "rb");
  int32_t rc[2];
  double v[6];
  ASSERT_EQ(fread(rc, 4, 2, f), 2u);
  ASSERT_EQ(fread(v, 8, 6, f), 6u);
  EXPECT_EQ(std::vector<double>(v, v + 6), (std::vector<double>{1, 2, 3, 4, 5, 6}));
  rewind(f);
  read_matrix(f, B, false);
  fclose(f);
  EXPECT_EQ(flat_rows(B), flat_rows(A));

  struct Bad {
    const char *what;
    int32_t rows, cols;
    int values;
  } bad[] = {{"truncated values", 2, 3, 4}, {"huge counts", 1 << 30, 1 << 30, 0},
             {"negative count", -1, 3, 0}, {"header only", 0, 0, -1}};
  for (auto &b : bad) {
    f = fopen(p.c_str(), "wb");
    if (b.values >= 0) {
      int32_t h[2] = {b.rows, b.cols};
      fwrite(h, 4, 2, f);
      for (int i = 0; i < b.values; i++) fwrite(&v[0], 8, 1, f);
    } else {
      fwrite(&b.rows, 4, 1, f);  // a header cut in half
    }
    fclose(f);
    f = fopen(p.c_str(), "rb");
    Vek_Matrix keep{std::string("7")};
    EXPECT_THROW(read_matrix(f, keep, false), VekError) << b.what;
    EXPECT_EQ(keep(0, 0), 7.0) << b.what;
    fclose(f);
  }
}

// ------------------------------------------------------------------- LSF/LPC

TEST(Complex, branches_of_arg_and_sqrt) {
  struct Case {
    Vek_Complex z;
    double arg;
    Vek_Complex root;
  } cases[] = {
      {{-1, 0}, M_PI, {0, 1}},
      {{0, 0}, 0, {0, 0}},
      {{-4, 0}, M_PI, {0, 2}},
      {{-4, -1e-300}, -M_PI, {0, 2}},  // close to +2i, not -2i
      {{0, -4}, -M_PI / 2, {sqrt(2.0), -sqrt(2.0)}},
      {{3, 4}, atan2(4, 3), {2, 1}},
  };
  for (auto &c : cases) {
    EXPECT_NEAR(complex_arg(c.z), c.arg, 1e-15) << c.z.re << "," << c.z.im;
    Vek_Complex r = complex_sqrt(c.z);
    EXPECT_NEAR(r.re, c.root.re, 1e-12) << c.z.re << "," << c.z.im;
    EXPECT_NEAR(r.im, c.root.im, 1e-12) << c.z.re << "," << c.z.im;
  }
}

// Random LSFs that interlace (a stable, minimum-phase filter), in our
// layout: difference angles descending, then sum angles descending.
static std::vector<double> random_lsf(int p, std::mt19937 &rng) {
  std::uniform_real_distribution<double> u(0.05, M_PI - 0.05 - 0.03 * p);
  std::vector<double> w(p);
  for (auto &v : w) v = u(rng);
  std::sort(w.begin(), w.end());
  for (int i = 1; i < p; i++)
    if (w[i] - w[i - 1] < 0.03) w[i] = w[i - 1] + 0.03;
  std::vector<double> lsf(p);
  for (int j = 0; j < p / 2; j++) {
    lsf[p / 2 - 1 - j] = w[2 * j + 1];  // difference roots sit above the sum roots
    lsf[p - 1 - j] = w[2 * j];
  }
  return lsf;
}

TEST(Lsf, round_trip_for_orders_2_to_24) {
  std::mt19937 rng(3);
  for (int p = 2; p <= 24; p += 2) {
    for (int trial = 0; trial < 5; trial++) {
      std::vector<double> lsf = random_lsf(p, rng), lpc, back(p);
      Vek_LSF_to_LPC(p).convert(lsf, lpc);
      EXPECT_EQ(lpc[0], 1.0);
      ASSERT_EQ(Vek_LPC_to_LSF(p).convert(lpc, back), 1) << "order " << p;
      expect_near_all(back, lsf, 1e-6, "order " + std::to_string(p));
    }
  }
  // Halves given ascending come back descending.
  std::vector<double> asc = {0.5, 1.5, 0.3, 1.2}, lpc, back(4);
  Vek_LSF_to_LPC(4).convert(asc, lpc);
  Vek_LPC_to_LSF(4).convert(lpc, back);
  expect_near_all(back, {1.5, 0.5, 1.2, 0.3}, 1e-9, "ascending halves");
}

TEST(Lsf, agree_with_sptk_and_numpy_roots) {
  std::mt19937 rng(11);
  for (int p : {4, 10, 16}) {
    std::vector<double> lsf = random_lsf(p, rng), lpc, ours(p);
    Vek_LSF_to_LPC(p).convert(lsf, lpc);
    Vek_LPC_to_LSF(p).convert(lpc, ours);
    std::sort(ours.begin(), ours.end());
    // SPTK: float gain then a1..ap in, gain then ascending LSPs out.
    std::string in = tmpPath("lpc.f32"), out = tmpPath("lsp.f32");
    {
      std::ofstream f(in, std::ios::binary);
      float g = 1;
      f.write((char *)&g, 4);
      for (int k = 1; k <= p; k++) {
        float a = (float)lpc[k];
        f.write((char *)&a, 4);
      }
    }
    std::string cmd = "sptk lpc2lsp -m " + std::to_string(p) + " -o 0 " + in + " > " + out;
    ASSERT_EQ(system(cmd.c_str()), 0) << "SPTK is needed: " << cmd;
    std::ifstream f(out, std::ios::binary);
    std::vector<float> s(p + 1);
    ASSERT_TRUE(f.read((char *)s.data(), 4 * (p + 1)));
    std::vector<double> sptk(s.begin() + 1, s.end());
    expect_near_all(ours, sptk, 1e-4, "sptk order " + std::to_string(p));
    // numpy: angles of the sum and difference polynomials' roots in (0, pi).
    std::vector<double> want = python(
        "a = np.array(rows[0]); p = len(a) - 1\n"
        "ap = np.concatenate([a, [0]]); ar = ap[::-1]\n"
        "ang = np.concatenate([np.angle(np.roots(ap + ar)), np.angle(np.roots(ap - ar))])\n"
        "out(np.sort(ang[(ang > 1e-9) & (ang < np.pi - 1e-9)]))",
        {lpc});
    expect_near_all(ours, want, 1e-9, "numpy order " + std::to_string(p));
  }
}

TEST(Lsf, unreachable_roots_repeat_the_previous_frame) {
  // A frame holding NaN defeats the root search: the conversion reports the
  // failure and the track keeps the last good frame (zeros before any).
  EST_Track lpc(3, 5);
  std::vector<double> good = {1.2, 0.4, 2.0, 0.9}, g;
  Vek_LSF_to_LPC(4).convert(good, g);
  for (int i = 0; i < 3; i++) {
    lpc.t(i) = 0.01f * (i + 1);
    lpc.a(i, 0) = 100.0f + i;
    for (int k = 1; k <= 4; k++) lpc.a(i, k) = i == 1 ? 1.0f : (float)g[k];
  }
  lpc.a(0, 2) = NAN;
  lpc.a(2, 2) = NAN;
  lpc.a(1, 0) = 101.0f;
  EST_Track lsf;
  testing::internal::CaptureStdout();
  lpc_track_to_lsf(lpc, lsf);
  std::string said = testing::internal::GetCapturedStdout();
  EXPECT_NE(said.find("Vek_Math warning: too many iterations in laguer \n"), std::string::npos);
  ASSERT_EQ(lsf.num_channels(), 5);
  EXPECT_EQ(std::string(lsf.channel_name(0)), "LSF_0");
  EXPECT_EQ(std::string(lsf.channel_name(3)), "LSF_N");
  EXPECT_EQ(std::string(lsf.channel_name(4)), "E");
  for (int k = 0; k < 4; k++) {
    EXPECT_EQ(lsf.a(0, k), 0.0f);
    EXPECT_EQ(lsf.a(2, k), lsf.a(1, k));
  }
  EXPECT_EQ(lsf.a(2, 4), 102.0f);
  EXPECT_FLOAT_EQ(lsf.t(2), 0.03f);

  // Back to LPC: energy in channel 0 named "E".
  EST_Track back;
  lsf_track_to_lpc(lsf, back);
  EXPECT_EQ(std::string(back.channel_name(0)), "E");
  EXPECT_EQ(back.a(1, 0), 101.0f);
  EXPECT_NEAR(back.a(1, 1), 1.0f, 1e-5);
}

TEST(Lsf, refuses_orders_it_cannot_hold) {
  std::vector<Vek_Complex> poly(101, Vek_Complex{1, 0}), roots(101);
  EXPECT_THROW(poly_roots(poly.data(), 100, roots.data(), false), VekError);
  EXPECT_THROW(Vek_LPC_to_LSF(3), VekError);
  EXPECT_THROW(Vek_LSF_to_LPC(0), VekError);
  std::vector<double> a = {1, 0.5, 0.25, 0.1};
  EXPECT_THROW(Vek_LPC_bwexp(2, 0.9).expand(a), VekError);
  Vek_LPC_bwexp(3, 0.5).expand(a);
  EXPECT_EQ(a, (std::vector<double>{1, 0.25, 0.0625, 0.0125}));
}

// ------------------------------------------------------------------- filters

static EST_Wave wave_of(const std::vector<short> &s) {
  EST_Wave w(s.size(), 1, 16000);
  for (size_t i = 0; i < s.size(); i++) w.a((int)i) = s[i];
  return w;
}

TEST(Filters, small_cases) {
  std::vector<double> x(6, 0.0);
  x[0] = 1;
  iir_filter_dvector({1}, {1, -0.9}, x);
  expect_near_all(x, {1, 0.9, 0.81, 0.729, 0.6561, 0.59049}, 1e-12, "first-order IIR");

  std::vector<double> f(11, 0.0);
  f[5] = 1;
  fir_filter_dvector({0.25, 0.5, 0.25}, f);
  expect_near_all(f, {0, 0, 0, 0, 0.25, 0.5, 0.25, 0, 0, 0, 0}, 0, "centred FIR");

  // Zero phase: a symmetric response stays centred on the impulse.
  std::vector<double> z(201, 0.0);
  z[100] = 1;
  filtfilt_dvector({0.3}, {1, -0.7}, z);
  for (int k = 1; k < 100; k++) EXPECT_NEAR(z[100 - k], z[100 + k], 1e-12);
  EXPECT_GT(z[100], z[99]);

  // den[0] is divided out whatever the filter's length.
  std::vector<double> h1 = {2, 4}, h2 = {2, 4};
  iir_filter_dvector({1}, {2}, h1);
  iir_filter_dvector({1, 0}, {2, 0}, h2);
  EXPECT_EQ(h1, (std::vector<double>{1, 2}));
  EXPECT_EQ(h2, h1);
  EXPECT_THROW(iir_filter_dvector({1}, {0, 1}, h1), VekError);
}

TEST(Filters, waves_clip_instead_of_wrapping) {
  struct Case {
    const char *what;
    std::vector<short> in, out;
  } cases[] = {
      {"iir gain", {-20000, 20000, 100}, {-32767, 32767, 200}},
      {"fir gain", {-20000, 10, 20000}, {-32767, 20, 32767}},
      {"preemphasis", {0, 32000, -32000}, {0, 32767, -32000}},
  };
  for (auto &c : cases) {
    EST_Wave w = wave_of(c.in);
    std::string what = c.what;
    if (what == "iir gain") iir_filter_wave({2}, {1}, w);
    if (what == "fir gain") fir_filter_wave({2}, w);
    if (what == "preemphasis") preemphasis_wave(w, -0.5);  // y = 2x + x[-1]
    for (size_t i = 0; i < c.out.size(); i++) EXPECT_EQ(w.a((int)i), c.out[i]) << c.what << " " << i;
  }
}

TEST(Filters, match_scipy_lfilter_and_numpy_convolve) {
  std::mt19937 rng(5);
  std::normal_distribution<double> g(0, 1000);
  std::vector<double> x(200);
  for (auto &v : x) v = g(rng);
  std::vector<double> num = {0.2, 0.3, 0.1}, den = {1.5, -0.6, 0.2}, h = {0.1, -0.2, 0.6, 0.3, 0.05};
  std::vector<double> iir = x, ff = x, fir = x;
  iir_filter_dvector(num, den, iir);
  filtfilt_dvector(num, den, ff);
  fir_filter_dvector(h, fir);
  std::vector<double> got = iir;
  got.insert(got.end(), ff.begin(), ff.end());
  got.insert(got.end(), fir.begin(), fir.end());
  std::vector<double> want = python(
      "from scipy.signal import lfilter\n"
      "x, b, a, h = (np.array(r) for r in rows)\n"
      "out(lfilter(b, a, x))\n"
      "out(lfilter(b, a, lfilter(b, a, x)[::-1])[::-1])\n"
      "out(np.convolve(x, h, 'same'))",
      {x, num, den, h});
  expect_near_all(got, want, 1e-9, "scipy");

  // The LPC pair undoes itself.
  std::vector<double> a = {1, -1.2, 0.5, 0.1}, e(200), y(200);
  lpc_inverse_filter(x.data(), a.data(), 4, e.data(), 200);
  lpc_synth_filter(e.data(), a.data(), 4, y.data(), 200);
  expect_near_all(y, x, 1e-9, "inverse then synthesis");
  std::vector<double> want_e = python("from scipy.signal import lfilter\nout(lfilter(rows[1], [1], rows[0]))", {x, a});
  expect_near_all(e, want_e, 1e-9, "inverse filter");
}

TEST(Filters, coefficients_from_lisp_text) {
  festival_initialize(0, -1);
  std::vector<double> num, den;
  get_filter_coefs("((1 2 3) (1 -0.5))", num, den);
  EXPECT_EQ(num, (std::vector<double>{1, 2, 3}));
  EXPECT_EQ(den, (std::vector<double>{1, -0.5, 0}));
  for (const char *bad : {"((1 2)", "(1 2)", "((1 a) (1))", "((1))"})
    EXPECT_THROW(get_filter_coefs(bad, num, den), VekError) << bad;
}
