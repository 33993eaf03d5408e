// The `vq` command: LBG codebooks over arrayF vectors, their cells, code
// strings, distortion, and labelled vector files.
#include <tcl.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cmds.h"
#include "obj.h"
#include "records.h"
#include "utils.h"
#include "vq.h"

namespace {

void setResult(Tcl_Interp *interp, const std::string &s) { Tcl_SetObjResult(interp, Tcl_NewStringObj(s.c_str(), -1)); }

// Row pointers of an array (a 1-D array is one row).
float **rowsOf(ArrayRecord *a) { return a->ndims == 1 ? &a->data : a->rows; }

// Fetches data and codebook; their widths must agree. blame names the
// array the message quotes.
bool getPair(Tcl_Interp *interp, const char *dn, const char *cn, ArrayRecord **d, ArrayRecord **c, const char *blame) {
  if (get2DVecObject(dn, interp, d) || get2DVecObject(cn, interp, c)) return false;
  if (Array_cols(*d) != Array_cols(*c)) {
    setResult(interp, std::string("vector object \"") + blame + "\" has incompatible dimensions!");
    return false;
  }
  return true;
}

int libraryFailure(Tcl_Interp *interp, GS_Result *r) {
  Tcl_AppendResult(interp, " ", r->text, (char *)nullptr);
  GS_DeleteResult(r);
  return TCL_ERROR;
}

// vq lbg dataobj ?codeob? ?-cells M? ?-seed s? ?-iters n? ?-verbose?
// Trains codeob in place, or a new codebook of M cells started from M
// distinct data vectors; answers its name.
int LbgCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *dn = nullptr, *cn = nullptr;
  int M = 128, seed = 1969, iters = 20, verbose = 0;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "dataobj %s codeob ?s -cells %i -seed %i -iters %i -verbose %n", &dn, &cn,
                     &M, &seed, &iters, &verbose))
    return TCL_ERROR;
  ArrayRecord *d = nullptr, *c = nullptr;
  if (cn) {
    if (!getPair(interp, dn, cn, &d, &c, cn)) return TCL_ERROR;
    M = Array_rows(c);
    setResult(interp, cn);
  } else {
    if (get2DVecObject(dn, interp, &d)) return TCL_ERROR;
    const int N = Array_rows(d);
    // Distinct start vectors: more cells than vectors cannot be drawn.
    if (M < 1 || M > N) {
      setResult(interp, "-cells must lie between 1 and the " + std::to_string(N) + " data vectors, not " +
                            std::to_string(M));
      return TCL_ERROR;
    }
    std::vector<int> idx(M);
    VQ_GenerateRndVec(idx.data(), M, N, seed);
    if (maybeReuse2DObject(nullptr, interp, M, Array_cols(d), &c)) return TCL_ERROR;
    for (int i = 0; i < M; i++) std::memcpy(c->rows[i], rowsOf(d)[idx[i]], sizeof(float) * Array_cols(d));
  }
  GS_Result *r = GS_CreateResult();
  if (VQ_LBGCodebook(r, rowsOf(c), rowsOf(d), M, Array_rows(d), Array_cols(d), iters, verbose) != 0)
    return libraryFailure(interp, r);
  GS_DeleteResult(r);
  return TCL_OK;
}

// vq lbgsplit dataobj codeob ?-seed s? ?-verbose?
// A new codebook of twice the cells, split from codeob and trained.
int LbgsplitCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *dn = nullptr, *cn = nullptr;
  int seed = 0, verbose = 0;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "dataobj %s codeob %s -seed %i -verbose %n", &dn, &cn, &seed, &verbose))
    return TCL_ERROR;
  ArrayRecord *d = nullptr, *c = nullptr, *n = nullptr;
  if (!getPair(interp, dn, cn, &d, &c, dn)) return TCL_ERROR;
  const int M = Array_rows(c);
  if (maybeReuse2DObject(nullptr, interp, 2 * M, Array_cols(c), &n)) return TCL_ERROR;
  GS_Result *r = GS_CreateResult();
  if (VQ_LBGSplit(r, rowsOf(c), n->rows, M, rowsOf(d), Array_rows(d), Array_cols(d), verbose, seed) != 0)
    return libraryFailure(interp, r);
  GS_DeleteResult(r);
  return TCL_OK;
}

// vq count dataobj codeob
// The number of data vectors nearest to each cell.
int CountCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *dn = nullptr, *cn = nullptr;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "dataobj %s codeob %s", &dn, &cn)) return TCL_ERROR;
  ArrayRecord *d = nullptr, *c = nullptr;
  if (!getPair(interp, dn, cn, &d, &c, dn)) return TCL_ERROR;
  GS_Result *r = GS_CreateResult();
  const int code = VQ_CellCount(r, rowsOf(c), Array_rows(c), rowsOf(d), Array_rows(d), Array_cols(d));
  setResult(interp, r->text);
  GS_DeleteResult(r);
  return code == 0 ? TCL_OK : TCL_ERROR;
}

// vq codestr dataobj codeob
// The nearest cell of every data vector, each preceded by a blank.
int CodestrCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *dn = nullptr, *cn = nullptr;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "dataobj %s codeob %s", &dn, &cn)) return TCL_ERROR;
  ArrayRecord *d = nullptr, *c = nullptr;
  if (!getPair(interp, dn, cn, &d, &c, cn)) return TCL_ERROR;
  std::string s;
  std::vector<float> work(Array_cols(d));
  for (int i = 0; i < Array_rows(d); i++)
    s += " " + std::to_string(VQ_wcell(rowsOf(d), rowsOf(c), work.data(), i, Array_rows(c), Array_cols(d)));
  setResult(interp, s);
  return TCL_OK;
}

void putWord(std::vector<unsigned char> &buf, uint32_t w) {
  for (int i = 0; i < 4; i++) buf.push_back((unsigned char)(w >> (8 * i)));
}

// vq optfile dataobj codeob filename
// Writes a single-class vector file whose classes are the nearest cells + 1.
int OptfileCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *dn = nullptr, *cn = nullptr, *file = nullptr;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "dataobj %s codeob %s filename %s", &dn, &cn, &file)) return TCL_ERROR;
  ArrayRecord *d = nullptr, *c = nullptr;
  if (!getPair(interp, dn, cn, &d, &c, cn)) return TCL_ERROR;
  const int N = Array_rows(d), dim = Array_cols(d);
  std::vector<unsigned char> buf;
  putWord(buf, (uint32_t)N);
  std::vector<float> work(dim);
  for (int i = 0; i < N; i++) {
    putWord(buf, (uint32_t)VQ_wcell(rowsOf(d), rowsOf(c), work.data(), i, Array_rows(c), dim) + 1);
    for (int j = 0; j < dim; j++) {
      uint32_t w;
      std::memcpy(&w, &rowsOf(d)[i][j], 4);
      putWord(buf, w);
    }
  }
  FILE *f = std::fopen(file, "wb");
  if (!f || std::fwrite(buf.data(), 1, buf.size(), f) != buf.size() || std::fclose(f) != 0) {
    const int err = errno;
    setResult(interp, std::string("couldn't write \"") + file + "\": " + Tcl_ErrnoMsg(err));
    return TCL_ERROR;
  }
  Tcl_ResetResult(interp);
  return TCL_OK;
}

// vq feature codestr codeob
// A new array whose rows are the cells named by the codes.
int FeatureCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *codes = nullptr, *cn = nullptr;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "codestr %s codeob %s", &codes, &cn)) return TCL_ERROR;
  ArrayRecord *c = nullptr;
  if (get2DVecObject(cn, interp, &c)) return TCL_ERROR;
  int n;
  const char **words;
  if (Tcl_SplitList(interp, codes, &n, &words) != TCL_OK) return TCL_ERROR;
  std::vector<int> k(n);
  for (int i = 0; i < n; i++) {
    if (Tcl_GetInt(interp, words[i], &k[i]) != TCL_OK) {
      Tcl_Free((char *)words);
      return TCL_ERROR;
    }
    // A code outside the codebook would read past it.
    if (k[i] < 0 || k[i] >= Array_rows(c)) {
      setResult(interp, "code " + std::to_string(k[i]) + " is not a cell of the " + std::to_string(Array_rows(c)) +
                            "-cell codebook \"" + cn + "\"");
      Tcl_Free((char *)words);
      return TCL_ERROR;
    }
  }
  Tcl_Free((char *)words);
  ArrayRecord *out = nullptr;
  if (maybeReuse2DObject(nullptr, interp, n, Array_cols(c), &out)) return TCL_ERROR;
  for (int i = 0; i < n; i++) std::memcpy(out->rows[i], rowsOf(c)[k[i]], sizeof(float) * Array_cols(c));
  return TCL_OK;
}

// vq distortion dataobj codeob
// The mean squared distance to the nearest cell per dimension ("%f").
int DistortionCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *dn = nullptr, *cn = nullptr;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "dataobj %s codeob %s", &dn, &cn)) return TCL_ERROR;
  ArrayRecord *d = nullptr, *c = nullptr;
  if (!getPair(interp, dn, cn, &d, &c, cn)) return TCL_ERROR;
  float D = 0;
  for (int i = 0; i < Array_rows(d); i++) D += VQ_NBest(rowsOf(d)[i], rowsOf(c), Array_rows(c), Array_cols(d), 1);
  setResult(interp, sspf(0, "%f", D / ((double)Array_cols(d) * Array_rows(d))));
  return TCL_OK;
}

const SubCmdEntry kTable[] = {{"lbg", LbgCmd},         {"lbgsplit", LbgsplitCmd}, {"count", CountCmd},
                              {"codestr", CodestrCmd}, {"optfile", OptfileCmd},   {"feature", FeatureCmd},
                              {"distortion", DistortionCmd}, {nullptr, nullptr}};

}  // namespace

extern "C" {

int Vq_Init(Tcl_Interp *interp) {
  int code = Tcl_PkgProvide(interp, "Vq", "1.0");
  if (code != TCL_OK) return code;
  Cmds_CreateSwitchCmd(interp, "vq", nullptr, nullptr);
  for (const SubCmdEntry *e = kTable; e->name; e++) Cmds_CreateSubCmd(interp, "vq", e->name, e->proc, nullptr, nullptr);
  // The array services need the registry even when no other package made it.
  return Obj_Init(interp);
}

// Without optfile: a safe interpreter writes no files.
int Vq_SafeInit(Tcl_Interp *interp) {
  int code = Tcl_PkgProvide(interp, "Vq", "1.0");
  if (code != TCL_OK) return code;
  Cmds_CreateSwitchCmd(interp, "vq", nullptr, nullptr);
  for (const SubCmdEntry *e = kTable; e->name; e++)
    if (std::strcmp(e->name, "optfile")) Cmds_CreateSubCmd(interp, "vq", e->name, e->proc, nullptr, nullptr);
  return Obj_Init(interp);
}

}  // extern "C"
