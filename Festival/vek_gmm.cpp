#include "vek_gmm.h"

#include <cmath>
#include <memory>

#include "EST_Track.h"
#include "vek_lisp.h"

void Vek_GMM::init(int n) {
  n_ = n;
  prior.resize(n, 1);
  means.assign(n, Vek_Matrix());
  covs.assign(n, Vek_Matrix());
  weights.assign(n, Vek_Matrix());
  biases.assign(n, Vek_Matrix());
}

void Vek_GMM::clear() {
  means.clear();
  covs.clear();
  weights.clear();
  biases.clear();
  n_ = 0;
}

void Vek_GMM::read(FILE *f, bool swap) {
  int32_t h[2];
  if (fread(h, 4, 2, f) != 2) Vek_fail("Vek_GMM: the file ends inside its header");
  if (swap) {
    h[0] = (int32_t)__builtin_bswap32((uint32_t)h[0]);
    h[1] = (int32_t)__builtin_bswap32((uint32_t)h[1]);
  }
  if (h[0] < 1 || h[0] > 100000) Vek_fail("Vek_GMM: %d components", h[0]);
  if (h[0] != n_) {
    clear();
    init(h[0]);
  }
  dim_ = h[1];
  Vek_Matrix p;
  read_matrix(f, p, swap);
  if (p.rows() * p.cols() != n_) Vek_fail("Vek_GMM: %d priors for %d components", p.rows() * p.cols(), n_);
  prior.resize(n_, 1);
  for (int i = 0; i < n_; i++) prior(i, 0) = p.data()[i];
  for (int i = 0; i < n_; i++) {
    read_matrix(f, means[i], swap);
    read_matrix(f, covs[i], swap);
    read_matrix(f, weights[i], swap);
    read_matrix(f, biases[i], swap);
    int d = means[i].rows(), e = weights[i].rows();
    if (means[i].cols() != 1 || covs[i].rows() != d || covs[i].cols() != d || weights[i].cols() != d ||
        biases[i].rows() != e || biases[i].cols() != 1 || (i > 0 && (d != means[0].rows() || e != weights[0].rows())))
      Vek_fail("Vek_GMM: the matrices of component %d do not fit together", i);
  }
}

bool Vek_GMM::load(const std::string &name) {
  std::string file = name + ".gmm";
  FILE *f = fopen(file.c_str(), "rb");
  if (!f) {
    fprintf(stderr, "Couldn't find file %s", file.c_str());
    return false;
  }
  std::unique_ptr<FILE, int (*)(FILE *)> closer(f, fclose);
  int32_t m;
  bool swap;
  if (fread(&m, 4, 1, f) != 1) m = 0;
  if (m == VEK_GMM_MAGIC)
    swap = false;
  else if ((int32_t)__builtin_bswap32((uint32_t)m) == VEK_GMM_MAGIC)
    swap = true;
  else {
    fprintf(stderr, "File Format invalid %s\n", file.c_str());
    return false;
  }
  Vek_GMM next;
  try {
    next.read(f, swap);
  } catch (const VekError &e) {
    fprintf(stderr, "%s: %s\n", file.c_str(), e.what());
    return false;
  }
  *this = std::move(next);
  return true;
}

void Vek_GMM::write(FILE *f) const {
  int32_t h[2] = {n_, dim_};
  fwrite(h, 4, 2, f);
  write_matrix(f, prior);
  for (int i = 0; i < n_; i++) {
    write_matrix(f, means[i]);
    write_matrix(f, covs[i]);
    write_matrix(f, weights[i]);
    write_matrix(f, biases[i]);
  }
}

void Vek_GMM::print(FILE *f) const {
  Vek_Matrix t;
  fprintf(f, "Prior:\n");
  matrix_transpose(prior, t);
  print_matrix(f, t);
  fprintf(f, "Mean:\n");
  for (int i = 0; i < n_; i++) {
    fprintf(f, "Component %d:\n", i + 1);
    matrix_transpose(means[i], t);
    print_matrix(f, t);
  }
  const char *heads[] = {"Covariance:", "Weight:", "Bias:"};
  const std::vector<Vek_Matrix> *arrays[] = {&covs, &weights, &biases};
  for (int k = 0; k < 3; k++) {
    fprintf(f, "%s\n", heads[k]);
    for (int i = 0; i < n_; i++) {
      fprintf(f, "Component %d:\n", i + 1);
      print_matrix(f, (*arrays[k])[i]);
    }
  }
}

// log N(x; mean, cov) for every column, through the Cholesky factor.
static void log_densities(const Vek_Matrix &X, const Vek_Matrix &mean, const Vek_Matrix &cov, std::vector<double> &out) {
  int d = mean.rows(), T = X.cols();
  Vek_Matrix R;
  matrix_cholesky(cov, R);
  double logdet = 0;
  for (int k = 0; k < d; k++) logdet += 2 * log(R(k, k));
  std::vector<double> z(d);
  out.resize(T);
  for (int t = 0; t < T; t++) {
    // R^T z = x - mean, forward substitution.
    double q = 0;
    for (int r = 0; r < d; r++) {
      double s = X(r, t) - mean(r, 0);
      for (int k = 0; k < r; k++) s -= R(k, r) * z[k];
      z[r] = s / R(r, r);
      q += z[r] * z[r];
    }
    out[t] = -0.5 * (d * log(2 * M_PI) + logdet + q);
  }
}

void Vek_GMM::posteriors(const Vek_Matrix &X, Vek_Matrix &P) const {
  int T = X.cols();
  if (n_ == 0) Vek_fail("Vek_GMM: no map loaded");
  if (X.rows() != means[0].rows()) Vek_fail("Vek_GMM: %d-dimensional frames for a %d-dimensional map", X.rows(), means[0].rows());
  P.resize(n_, T);
  std::vector<double> ld;
  for (int i = 0; i < n_; i++) {
    log_densities(X, means[i], covs[i], ld);
    double lp = prior(i, 0) > 0 ? log(prior(i, 0)) : -INFINITY;
    for (int t = 0; t < T; t++) P(i, t) = ld[t] + lp;
  }
  for (int t = 0; t < T; t++) {
    double m = -INFINITY;
    for (int i = 0; i < n_; i++) m = std::max(m, P(i, t));
    double s = 0;
    for (int i = 0; i < n_; i++) s += (P(i, t) = std::isfinite(m) ? exp(P(i, t) - m) : 0);
    for (int i = 0; i < n_; i++) P(i, t) = s > 0 ? P(i, t) / s : 1.0 / n_;
  }
}

void Vek_GMM::map(const Vek_Matrix &X, Vek_Matrix &Y) const {
  Vek_Matrix P, Z;
  posteriors(X, P);
  int e = weights[0].rows(), T = X.cols();
  Y.zeros(e, T);
  for (int i = 0; i < n_; i++) {
    matrix_mult(weights[i], X, Z);
    for (int t = 0; t < T; t++)
      for (int r = 0; r < e; r++) Y(r, t) += (Z(r, t) + biases[i](r, 0)) * P(i, t);
  }
}

Vek_GMM &resLPC_vc_map() {
  static Vek_GMM map;
  return map;
}

void resLPC_load_vc_map(const std::string &name) {
  if (!resLPC_vc_map().load(name)) Vek_fail("could not load voice conversion mapping file %s", name.c_str());
}

void resLPC_vc_map_lsf(EST_Track &t, int first, int count) {
  const Vek_GMM &g = resLPC_vc_map();
  if (g.n() == 0) Vek_fail("voice conversion: no map loaded");
  if (g.means[0].rows() != count || g.weights[0].rows() != count)
    Vek_fail("voice conversion: the map converts %d to %d values, the track holds %d LSFs", g.means[0].rows(),
             g.weights[0].rows(), count);
  int T = t.num_frames();
  Vek_Matrix X(count, T), Y;
  for (int i = 0; i < T; i++)
    for (int c = 0; c < count; c++) X(c, i) = 6 * asinh(t.a_no_check(i, first + c) * 2546.4790894703256 / 1200);
  g.map(X, Y);
  for (int i = 0; i < T; i++)
    for (int c = 0; c < count; c++) t.a_no_check(i, first + c) = (float)(1200 * sinh(Y(c, i) / 6) * 0.0003926990816987241);
}
