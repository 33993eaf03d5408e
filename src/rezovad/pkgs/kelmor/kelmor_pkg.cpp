// Package Kelmor: training of networks from scripts. The `opt` and `example`
// commands, and create, configure and score added to `nnet`.
#include <tcl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cmds.h"
#include "container.h"
#include "dravin.h"
#include "kelmortrain.h"
#include "matarg.h"
#include "obj.h"
#include "pkghelp.h"
#include "result.h"
#include "yastro.h"

namespace {

using pkghelp::Mat;
using pkghelp::Result;

// Memory from Tcl_SplitList, freed with Tcl_Free.
struct Split {
  int n = 0;
  const char **v = nullptr;
  ~Split() {
    if (v) Tcl_Free((char *)v);
  }
};

struct TransName {
  Tcl_DString ds;
  const char *path = nullptr;
  TransName() { Tcl_DStringInit(&ds); }
  ~TransName() { Tcl_DStringFree(&ds); }
};

// ---- object types ----

void exampleFree(void *rec) { freeExample((ExampleSet *)rec); }
void *exampleClone(const void *rec) { return cloneExample(nullptr, (const ExampleSet *)rec); }
void *exampleUnpack(GS_Result *r, const unsigned char *buf, size_t len) {
  return unpackExample(r, buf, (long)len);
}
void optFree(void *rec) { optim_Nuke((OptimState *)rec); }

const CntrType exampleType = {"kelmor/example", "example", nullptr, exampleFree, exampleClone,
                              pkghelp::PackedLength<ExampleSet, packExample>,
                              pkghelp::PackInto<ExampleSet, packExample>, exampleUnpack};
// Optimiser states hold training history: copies and packing are refused.
const CntrType optType = {"kelmor/opt", "opt", nullptr, optFree, nullptr, nullptr, nullptr, nullptr};

// Registers a set and appends its name to list; frees it on failure.
int registerExample(Tcl_Interp *interp, ExampleSet *set, Tcl_Obj *list) {
  if (Obj_Create(interp, "kelmor/example", set) != TCL_OK) {
    freeExample(set);
    return TCL_ERROR;
  }
  if (list) Tcl_ListObjAppendElement(interp, list, Tcl_GetObjResult(interp));
  return TCL_OK;
}

int posixFail(Tcl_Interp *interp, const char *what, const char *path, const char *sep) {
  Tcl_SetObjResult(interp, Tcl_ObjPrintf("%s%s%s%s", what, path, sep, Tcl_PosixError(interp)));
  return TCL_ERROR;
}

// ---- vector files ----

// opt read FILE ?-blocksize N? ?-nborder? ?-addbias?
// Reads a single-class vector file into example sets of N examples (all in
// one when N is 0); answers the list of their names.
int ReadCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  char *foo;
  int bs = 0, nborder = 0, addbias = 0;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "foo %s -blocksize %i -nborder %n -addbias %n", &foo, &bs, &nborder,
                     &addbias))
    return TCL_ERROR;
  if (bs < 0) {
    Tcl_SetObjResult(interp, Tcl_ObjPrintf("bad block size %d", bs));
    return TCL_ERROR;
  }
  TransName tn;
  if (!(tn.path = Tcl_TranslateFileName(interp, foo, &tn.ds))) return TCL_ERROR;
  int count, dim;
  FILE *f = optOpenForRead(tn.path, nborder, &count, &dim);
  if (!f) return posixFail(interp, "opening data file: ", tn.path, ": ");
  if (bs == 0) bs = count;
  Tcl_Obj *list = Tcl_NewListObj(0, nullptr);
  Tcl_IncrRefCount(list);
  int code = TCL_OK;
  for (int done = 0; done < count && code == TCL_OK;) {
    const int n = count - done < bs ? count - done : bs;
    ExampleSet *set = allocExample(nullptr, n, dim + (addbias ? 1 : 0));
    if (!set) {
      Tcl_SetResult(interp, (char *)"cannot allocate an example set", TCL_STATIC);
      code = TCL_ERROR;
      break;
    }
    errno = 0;
    const int got = optReadBlock(f, n, set->classes, dim, set->rows, nborder);
    if (addbias)
      for (int i = 0; i < n; i++) set->rows[i][dim] = 1.0f;
    if ((code = registerExample(interp, set, list)) != TCL_OK) break;
    if (got != n) {
      if (!errno) errno = EIO;
      code = posixFail(interp, "Error while reading: ", tn.path, ": ");
    }
    done += n;
  }
  fclose(f);
  if (code == TCL_OK) Tcl_SetObjResult(interp, list);
  Tcl_DecrRefCount(list);
  return code;
}

// A single-class vector file seen through a channel: the channel is set to
// binary translation, since any other would change the bytes read.
struct ChanFile {
  Tcl_Channel chan = nullptr;
  Tcl_WideInt size = 0;
  int numvec = 0;
  int words = 0;  // per vector, class included

  int open(Tcl_Interp *interp, const char *handle) {
    int mode;
    if (!(chan = Tcl_GetChannel(interp, handle, &mode))) return TCL_ERROR;
    if (Tcl_SetChannelOption(interp, chan, "-translation", "binary") != TCL_OK) return TCL_ERROR;
    Tcl_WideInt here = Tcl_Tell(chan);
    size = Tcl_Seek(chan, 0, SEEK_END);
    if (here < 0 || size < 0) {
      Tcl_SetObjResult(interp, Tcl_ObjPrintf("channel \"%s\" cannot seek", handle));
      return TCL_ERROR;
    }
    Tcl_Seek(chan, here, SEEK_SET);
    return TCL_OK;
  }
  bool word(int32_t *v) {
    unsigned char b[4];
    if (Tcl_Read(chan, (char *)b, 4) != 4) return false;
    *v = (int32_t)((uint32_t)b[0] | (uint32_t)b[1] << 8 | (uint32_t)b[2] << 16 | (uint32_t)b[3] << 24);
    return true;
  }
  // Reads numvec at offset 0 and derives the words per vector; restores the
  // position when `back` is set.
  int header(Tcl_Interp *interp, bool back) {
    Tcl_WideInt here = Tcl_Tell(chan);
    Tcl_Seek(chan, 0, SEEK_SET);
    int32_t n = 0;
    bool ok = word(&n);
    if (back) Tcl_Seek(chan, here, SEEK_SET);
    if (!ok || n <= 0 || (size - 4) / 4 / n < 1) {
      Tcl_SetObjResult(interp, Tcl_ObjPrintf("not a vector file: count %d in a file of %s bytes", ok ? n : 0,
                                             Tcl_GetString(Tcl_NewWideIntObj(size))));
      return TCL_ERROR;
    }
    numvec = n;
    words = (int)((size - 4) / 4 / n);
    return TCL_OK;
  }
};

// opt count CHANNEL
// Counts the classes of the vector file open on CHANNEL; answers
// {numvec {count of class 1 ... count of the largest class}}.
int CountCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  char *handle;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "handle %s", &handle)) return TCL_ERROR;
  ChanFile cf;
  if (cf.open(interp, handle) != TCL_OK || cf.header(interp, false) != TCL_OK) return TCL_ERROR;
  std::vector<int> counts(1000, 0);
  int maxClass = 0;
  for (int i = 0; i < cf.numvec; i++) {
    int32_t c;
    if (Tcl_Seek(cf.chan, 4 + (Tcl_WideInt)i * cf.words * 4, SEEK_SET) < 0 || !cf.word(&c)) {
      Tcl_Seek(cf.chan, 0, SEEK_SET);
      Tcl_SetObjResult(interp, Tcl_ObjPrintf("premature end of file at vector %d of %d", i, cf.numvec));
      return TCL_ERROR;
    }
    if (c < 1 || c > 1000) {
      Tcl_Seek(cf.chan, 0, SEEK_SET);
      Tcl_SetObjResult(interp, Tcl_ObjPrintf("vector %d class %d out of range 1 to 1000", i, c));
      return TCL_ERROR;
    }
    counts[c - 1]++;
    if (c > maxClass) maxClass = c;
  }
  Tcl_Seek(cf.chan, 0, SEEK_SET);
  Tcl_Obj *list = Tcl_NewListObj(0, nullptr);
  for (int c = 0; c < maxClass; c++) Tcl_ListObjAppendElement(interp, list, Tcl_NewIntObj(counts[c]));
  Tcl_Obj *res[2] = {Tcl_NewIntObj(cf.numvec), list};
  Tcl_SetObjResult(interp, Tcl_NewListObj(2, res));
  return TCL_OK;
}

// opt readblock CHANNEL ?-blocksize N?
// Reads the next N (1000) vectors of the file open on CHANNEL as an example
// set; answers its name, or fails with an empty result at the end.
int ReadBlockCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  char *handle;
  int bs = 1000;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "handle %s -blocksize %i", &handle, &bs)) return TCL_ERROR;
  ChanFile cf;
  if (cf.open(interp, handle) != TCL_OK) return TCL_ERROR;
  Tcl_WideInt p = Tcl_Tell(cf.chan);
  if (p >= cf.size) return TCL_ERROR;
  if (p == 0) p = Tcl_Seek(cf.chan, 4, SEEK_SET);
  if (cf.header(interp, true) != TCL_OK) return TCL_ERROR;
  const int D = cf.words - 1;
  const Tcl_WideInt left = cf.numvec - (p - 4) / 4 / (D + 1);
  const int n = (int)(bs < left ? bs : left);
  if (n <= 0) {
    Tcl_ResetResult(interp);
    return TCL_ERROR;
  }
  Result res;
  ExampleSet *set = allocExample(res.r, n, D);
  if (!set) return res.fail(interp);
  std::vector<unsigned char> buf(4 * ((size_t)D + 1));
  int got = 0;
  for (; got < n; got++) {
    if (Tcl_Read(cf.chan, (char *)buf.data(), (int)buf.size()) != (int)buf.size()) break;
    const unsigned char *q = buf.data();
    set->classes[got] = (int32_t)((uint32_t)q[0] | (uint32_t)q[1] << 8 | (uint32_t)q[2] << 16 | (uint32_t)q[3] << 24) - 1;
    for (int k = 0; k < D; k++) {
      q += 4;
      uint32_t v = (uint32_t)q[0] | (uint32_t)q[1] << 8 | (uint32_t)q[2] << 16 | (uint32_t)q[3] << 24;
      memcpy(&set->rows[got][k], &v, 4);
    }
  }
  // A short file gives a smaller set, never rows that were not read.
  set->count = set->exampleCount = got;
  return registerExample(interp, set, nullptr);
}

// opt write SETS FILE ?-nborder? ?-stripbias?
// Appends the example sets to a vector file (made when missing); answers the
// file's new total. Every set must have the file's dimension.
int WriteCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  char *examples, *filename;
  int nborder = 0, strip = 0;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "examples %s filename %s -nborder %n -stripbias %n", &examples,
                     &filename, &nborder, &strip))
    return TCL_ERROR;
  Split sets;
  if (Tcl_SplitList(interp, examples, &sets.n, &sets.v) != TCL_OK) return TCL_ERROR;
  TransName tn;
  if (!(tn.path = Tcl_TranslateFileName(interp, filename, &tn.ds))) return TCL_ERROR;
  int total, dim;
  FILE *f = optOpenForWrite(tn.path, nborder, &total, &dim);
  if (!f) return posixFail(interp, "opening data file: ", tn.path, ":");
  for (int i = 0; i < sets.n; i++) {
    auto *set = (ExampleSet *)Obj_GetData(interp, "kelmor/example", sets.v[i]);
    if (!set) {
      fclose(f);
      return TCL_ERROR;
    }
    const int d = set->dimension - (strip ? 1 : 0);
    if (total == 0 && dim == 0) dim = d;
    if (d != dim || d < 0) {
      fclose(f);
      Tcl_SetObjResult(interp, Tcl_ObjPrintf("example set %s has %d features per vector, the file %s has %d",
                                             sets.v[i], d, tn.path, dim));
      return TCL_ERROR;
    }
    total += set->count;
    if (optWriteBlock(f, set->count, set->classes, dim, set->rows, nborder, 0, total)) {
      fclose(f);
      return posixFail(interp, "Error while writing: ", tn.path, ": ");
    }
  }
  if (fclose(f) != 0) return posixFail(interp, "Error while writing: ", tn.path, ": ");
  Tcl_SetObjResult(interp, Tcl_NewIntObj(total));
  return TCL_OK;
}

// ---- optimiser ----

// Copies the first row of a matrix option into a settings vector checked
// against the network's output count.
int vectorOption(Tcl_Interp *interp, const char *text, const char *what, int nOut, float **values, int32_t *count) {
  if (!text) return TCL_OK;
  Mat m;
  if (MatArg_GetReal(interp, text, &m.m) != TCL_OK) return TCL_ERROR;
  if (m.m.rows < 1 || m.m.cols != nOut) {
    Tcl_SetObjResult(interp, Tcl_ObjPrintf("%s has %d values, the network has %d outputs", what,
                                           m.m.rows < 1 ? 0 : m.m.cols, nOut));
    return TCL_ERROR;
  }
  *values = (float *)DB_Malloc(sizeof(float) * (nOut > 0 ? nOut : 1), __FILE__, __LINE__);
  memcpy(*values, m.m.real[0], sizeof(float) * nOut);
  *count = nOut;
  return TCL_OK;
}

// opt initialize NNET ?-lrate R? ?-momentum M? ?-tau T? ?-cvalpha A? ?-cvfrac F?
//     ?-iters N? ?-seed S? ?-negpen MATRIX? ?-aprior MATRIX?
// Makes an optimiser for the network; answers its name.
int InitializeCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  OptimSettings *s = optim_Default();
  char *name, *negpen = nullptr, *aprior = nullptr;
  struct Free {
    OptimSettings *s;
    ~Free() { optim_FreeSettings(s); }
  } keep{s};
  if (Cmds_ParseArgs(interp, 2, argc, argv,
                     "nnetob %s -lrate %f -momentum %f -tau %f -cvalpha %f -cvfrac %f -iters %i -seed %i "
                     "-negpen %s -aprior %s",
                     &name, &s->lrate, &s->momentum, &s->tau, &s->cvalpha, &s->cvfrac, &s->iters, &s->seed,
                     &negpen, &aprior))
    return TCL_ERROR;
  if (s->cvfrac > 0) s->crossValidate = 1;
  auto *net = (Nnet *)Obj_GetData(interp, "dravin/nnet", name);
  if (!net) return TCL_ERROR;
  const int nOut = nnet_NumOutputs(net);
  if (vectorOption(interp, negpen, "-negpen", nOut, &s->negpen, &s->numNegpen) != TCL_OK ||
      vectorOption(interp, aprior, "-aprior", nOut, &s->prior, &s->numPrior) != TCL_OK)
    return TCL_ERROR;
  Result res;
  OptimState *st = optim_Init(res.r, s, net);
  if (!st) return res.fail(interp);
  if (Obj_Create(interp, "kelmor/opt", st) != TCL_OK) {
    optim_Nuke(st);
    return TCL_ERROR;
  }
  return TCL_OK;
}

// opt stochastic OPT NNET FILE
// One call of stochastic training over a vector file; answers the training
// error and the frame error rate (held-out when cross-validating).
int StochasticCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  char *optName, *name, *file;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "optob %s nnetob %s optfile %s", &optName, &name, &file))
    return TCL_ERROR;
  auto *st = (OptimState *)Obj_GetData(interp, "kelmor/opt", optName);
  if (!st) return TCL_ERROR;
  auto *net = (Nnet *)Obj_GetData(interp, "dravin/nnet", name);
  if (!net) return TCL_ERROR;
  Result res;
  if (nnet_StochasticTrain(res.r, st, net, file)) return res.fail(interp);
  Tcl_ResetResult(interp);
  Cmds_AppendFloatElement(interp, st->error);
  Cmds_AppendFloatElement(interp, st->error2);
  return TCL_OK;
}

struct CgrdRecord {
  Tcl_Interp *interp;
  std::string netName;
  Nnet *net;
  std::string errfcScript, saveScript;
  float *weights;
  int count;
};

// The network may not go away while the scripts run.
int stillThere(CgrdRecord *c) {
  Nnet *now = (Nnet *)Obj_GetData(c->interp, "dravin/nnet", c->netName.c_str());
  if (now != c->net || !now->isFloat || now->fnet->weights != c->weights) {
    Tcl_SetObjResult(c->interp, Tcl_ObjPrintf("network %s changed while minimising", c->netName.c_str()));
    return 0;
  }
  return 1;
}

int cgrdErrfc(void *cd, const float *x, double *g, double *E) {
  auto *c = (CgrdRecord *)cd;
  Tcl_Interp *interp = c->interp;
  memcpy(c->weights, x, sizeof(float) * c->count);
  if (Tcl_Eval(interp, c->errfcScript.c_str()) != TCL_OK) return TCL_ERROR;
  if (!stillThere(c)) return TCL_ERROR;
  Tcl_Obj *result = Tcl_GetObjResult(interp);
  Tcl_IncrRefCount(result);
  int n;
  Tcl_Obj **items;
  int code = Tcl_ListObjGetElements(interp, result, &n, &items);
  if (code == TCL_OK && n < 1) {
    Tcl_SetResult(interp, (char *)"error script returned no error value", TCL_STATIC);
    code = TCL_ERROR;
  }
  if (code == TCL_OK) code = Tcl_GetDoubleFromObj(interp, items[0], E);
  for (int i = 1; i < n && code == TCL_OK; i++) {
    const char *gname = Tcl_GetString(items[i]);
    // Gradients come as arrayF or arrayD objects (opt info makes arrayD).
    ObjEntry *e = Obj_Get(interp, nullptr, gname);
    if (!e) {
      code = TCL_ERROR;
      break;
    }
    const char *type = Cntr_Name(e->type);
    auto *a = (ArrayRecord *)e->data;
    bool isF = !strcmp(type, "arrayF"), isD = !strcmp(type, "arrayD");
    if ((!isF && !isD) || !a || Array_cols(a) != c->count) {
      Tcl_SetObjResult(interp, Tcl_ObjPrintf("gradient %s must be an arrayF or arrayD of %d values", gname, c->count));
      code = TCL_ERROR;
      break;
    }
    for (int k = 0; k < c->count; k++) g[k] += isD ? ArrayD_data(a)[k] : (double)a->data[k];
    Obj_Destroy(interp, gname);
  }
  Tcl_DecrRefCount(result);
  return code;
}

int cgrdSave(void *cd, int iteration) {
  auto *c = (CgrdRecord *)cd;
  std::string script = c->saveScript + " " + std::to_string(iteration);
  if (Tcl_Eval(c->interp, script.c_str()) != TCL_OK) return TCL_ERROR;
  return stillThere(c) ? TCL_OK : TCL_ERROR;
}

// opt cgrd NNET ERRSCRIPT SAVESCRIPT ?-numiter N? ?-display? ?-tol T?
// Minimises the error that ERRSCRIPT (called with the network's name)
// answers as {error gradient...} by conjugate gradient; SAVESCRIPT runs after
// every iteration with the network's name and the iteration. Answers the
// final error.
int CgrdCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  char *name, *errfc, *save;
  int numiter = 20, display = 0;
  float tol = 0.00001f;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "nnetob %s errfcScript %s saveScript %s -numiter %i -display %n -tol %f",
                     &name, &errfc, &save, &numiter, &display, &tol))
    return TCL_ERROR;
  auto *net = (Nnet *)Obj_GetData(interp, "dravin/nnet", name);
  if (!net) return TCL_ERROR;
  if (!net->isFloat || !net->fnet) {
    Tcl_SetResult(interp, (char *)"only float networks can be trained", TCL_STATIC);
    return TCL_ERROR;
  }
  // The scripts stay as written (they need not be lists); the name is added
  // as one more word.
  auto withName = [name](const char *script) {
    Tcl_DString ds;
    Tcl_DStringInit(&ds);
    Tcl_DStringAppend(&ds, script, -1);
    Tcl_DStringAppendElement(&ds, name);
    std::string text(Tcl_DStringValue(&ds), Tcl_DStringLength(&ds));
    Tcl_DStringFree(&ds);
    return text;
  };
  CgrdRecord c{interp, name, net, withName(errfc), withName(save), net->fnet->weights, net->fnet->numWeights};
  // The search works on a copy: a script that frees the network aborts it,
  // and the best point is written back only to a network that is still there.
  std::vector<float> x(c.weights, c.weights + c.count);
  CgrdProblem p{&c, x.data(), c.count};
  int status;
  double E = Cgrd(&p, cgrdErrfc, cgrdSave, numiter, display, tol, &status);
  Tcl_Obj *msg = Tcl_GetObjResult(interp);
  Tcl_IncrRefCount(msg);
  bool there = stillThere(&c);
  if (there) memcpy(c.weights, x.data(), sizeof(float) * c.count);
  Tcl_SetObjResult(interp, msg);
  Tcl_DecrRefCount(msg);
  if (status || !there) return TCL_ERROR;
  Tcl_SetObjResult(interp, Tcl_ObjPrintf("%f", E));
  return TCL_OK;
}

// opt errfc OPT NNET EXAMPLES
// Computes the total error over the set and its gradient into the optimiser.
int ErrfcCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  char *optName, *name, *exName;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "optob %s nnetob %s exampleob %s", &optName, &name, &exName))
    return TCL_ERROR;
  auto *st = (OptimState *)Obj_GetData(interp, "kelmor/opt", optName);
  auto *net = st ? (Nnet *)Obj_GetData(interp, "dravin/nnet", name) : nullptr;
  auto *ex = net ? (ExampleSet *)Obj_GetData(interp, "kelmor/example", exName) : nullptr;
  if (!ex) return TCL_ERROR;
  Result res;
  if (nnet_Errfc(res.r, st, net, ex)) return res.fail(interp);
  Tcl_ResetResult(interp);
  return TCL_OK;
}

// opt info OPT ?-gradient? ?-error?
// Answers a new 1-row arrayD holding the gradient, and/or the error.
int InfoCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  char *optName;
  int grad = 0, err = 0;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "optob %s -gradient %n -error %n", &optName, &grad, &err))
    return TCL_ERROR;
  auto *st = (OptimState *)Obj_GetData(interp, "kelmor/opt", optName);
  if (!st) return TCL_ERROR;
  Tcl_Obj *list = Tcl_NewListObj(0, nullptr);
  Tcl_IncrRefCount(list);
  if (grad) {
    ArrayRecord *a = Array_New(2, 1, st->gradLen);
    if (Obj_Create(interp, "arrayD", a) != TCL_OK) {
      Array_Free(a);
      Tcl_DecrRefCount(list);
      return TCL_ERROR;
    }
    memcpy(ArrayD_data(a), st->gradient, sizeof(double) * st->gradLen);
    Tcl_ListObjAppendElement(interp, list, Tcl_GetObjResult(interp));
  }
  if (err) Tcl_ListObjAppendElement(interp, list, Cmds_NewFloatObj(st->error));
  Tcl_SetObjResult(interp, list);
  Tcl_DecrRefCount(list);
  return TCL_OK;
}

// opt reset OPT
// Returns the optimiser to its starting rate, example count and momentum.
int ResetCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  char *optName;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "optob %s", &optName)) return TCL_ERROR;
  auto *st = (OptimState *)Obj_GetData(interp, "kelmor/opt", optName);
  if (!st) return TCL_ERROR;
  optim_Reset(st);
  Tcl_ResetResult(interp);
  return TCL_OK;
}

// ---- example sets ----

// example fromvec CLASSES MATRIX | example fromvec {{CLASS ARRAY} ...}
// Makes an example set from a class list and one row per class, or from
// pairs of a class and an arrayF whose first row is taken; answers its name.
int FromVecCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  if (argc == 4) {
    char *classlist, *vecob;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "classlist %s vecob %s", &classlist, &vecob)) return TCL_ERROR;
    Split cls;
    if (Tcl_SplitList(interp, classlist, &cls.n, &cls.v) != TCL_OK) return TCL_ERROR;
    Mat m;
    if (MatArg_GetReal(interp, vecob, &m.m) != TCL_OK) return TCL_ERROR;
    if (m.m.rows != cls.n) {
      Tcl_AppendResult(interp, "Class list and ", vecob, " dimension do not match.", (char *)NULL);
      return TCL_ERROR;
    }
    std::vector<int> classes(cls.n);
    for (int i = 0; i < cls.n; i++)
      if (Tcl_GetInt(interp, cls.v[i], &classes[i]) != TCL_OK) return TCL_ERROR;
    Result res;
    ExampleSet *set = allocExample(res.r, cls.n, m.m.cols);
    if (!set) return res.fail(interp);
    for (int i = 0; i < cls.n; i++) {
      set->classes[i] = classes[i];
      memcpy(set->rows[i], m.m.real[i], sizeof(float) * m.m.cols);
    }
    return registerExample(interp, set, nullptr);
  }
  char *pairlist;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "pairlist %s", &pairlist)) return TCL_ERROR;
  Split pairs;
  if (Tcl_SplitList(interp, pairlist, &pairs.n, &pairs.v) != TCL_OK) return TCL_ERROR;
  if (pairs.n == 0) {
    Tcl_ResetResult(interp);
    return TCL_OK;
  }
  ExampleSet *set = nullptr;
  for (int i = 0; i < pairs.n; i++) {
    Split pair;
    int cls;
    if (Tcl_SplitList(interp, pairs.v[i], &pair.n, &pair.v) != TCL_OK || pair.n != 2 ||
        Tcl_GetInt(interp, pair.v[0], &cls) != TCL_OK) {
      Tcl_ResetResult(interp);
      Tcl_AppendResult(interp, "Expecting a class number and a feature vector, but got: ", pairs.v[i], (char *)NULL);
      freeExample(set);
      return TCL_ERROR;
    }
    auto *a = (ArrayRecord *)Obj_GetData(interp, "arrayF", pair.v[1]);
    if (!a) {
      freeExample(set);
      return TCL_ERROR;
    }
    if (!set) {
      Result res;
      if (!(set = allocExample(res.r, pairs.n, Array_cols(a)))) return res.fail(interp);
    }
    // Every array must hold the dimension the first one set.
    if (Array_cols(a) < set->dimension || Array_rows(a) < 1) {
      Tcl_SetObjResult(interp, Tcl_ObjPrintf("%s has %d values, the example set has dimension %d", pair.v[1],
                                             Array_rows(a) < 1 ? 0 : Array_cols(a), (int)set->dimension));
      freeExample(set);
      return TCL_ERROR;
    }
    set->classes[i] = cls;
    memcpy(set->rows[i], a->data, sizeof(float) * set->dimension);
  }
  return registerExample(interp, set, nullptr);
}

// ---- nnet create, configure, score ----

const char *actNames[] = {"linear", "sigmoid", "softmax"};

// nnet create SIZES ?-activation WORDS? ?-bias? ?-seed S? ?-prior MATRIX?
// Makes a float network of the layer sizes (inputs first, without bias
// units) with seeded initial weights; answers its name.
int CreateCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  char *size, *activation = nullptr, *prior = nullptr;
  int bias = 0, seed = -1;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "size %s -activation %s -bias %n -seed %i -prior %s", &size, &activation,
                     &bias, &seed, &prior))
    return TCL_ERROR;
  Split sizes, acts;
  if (Tcl_SplitList(interp, size, &sizes.n, &sizes.v) != TCL_OK) return TCL_ERROR;
  if (activation && Tcl_SplitList(interp, activation, &acts.n, &acts.v) != TCL_OK) return TCL_ERROR;
  if (prior) {
    Mat m;
    if (MatArg_GetReal(interp, prior, &m.m) != TCL_OK) return TCL_ERROR;
  }
  const int n = sizes.n ? sizes.n : 3;
  if (n < 2 || n > NNET_MAX_LAYERS) {
    Tcl_SetObjResult(interp, Tcl_ObjPrintf("a network needs 2 to %d layers, not %d", NNET_MAX_LAYERS, n));
    return TCL_ERROR;
  }
  if (activation && acts.n != n) {
    Tcl_SetObjResult(interp, Tcl_ObjPrintf("%d activation words for %d layers", acts.n, n));
    return TCL_ERROR;
  }
  NnetSpec *spec = nnet_Default();
  struct Free {
    NnetSpec *s;
    ~Free() { nnet_FreeSpec(s); }
  } keep{spec};
  if (sizes.n) {
    DB_Free(spec->sizes, __FILE__, __LINE__);
    DB_Free(spec->act, __FILE__, __LINE__);
    spec->sizes = (int32_t *)DB_Malloc(sizeof(int32_t) * n, __FILE__, __LINE__);
    spec->act = (unsigned char *)DB_Malloc(n, __FILE__, __LINE__);
    spec->numLayers = n;
    for (int j = 0; j < n; j++) {
      int v;
      if (Tcl_GetInt(interp, sizes.v[j], &v) != TCL_OK) return TCL_ERROR;
      spec->sizes[j] = v;
      spec->act[j] = j ? NNET_SIGMOID : NNET_LINEAR;
    }
  }
  for (int j = 0; j < acts.n; j++) {
    int code = -1;
    for (int k = 0; k < 3; k++)
      if (!strcmp(acts.v[j], actNames[k])) code = k;
    if (code < 0) {
      Tcl_SetObjResult(interp, Tcl_ObjPrintf("bad activation \"%s\": must be linear, sigmoid or softmax", acts.v[j]));
      return TCL_ERROR;
    }
    spec->act[j] = (unsigned char)code;
  }
  spec->hiddenBias = bias;
  Result res;
  Nnet *net = nnet_Alloc(res.r, spec);
  if (!net) return res.fail(interp);
  // Hidden bias units are held at 1.0 rather than computed.
  if (bias && n > 2) net->fnet->bias = 1;
  nnet_Seed(net, seed);
  if (Obj_Create(interp, "dravin/nnet", net) != TCL_OK) {
    nnet_Nuke(nullptr, net);
    return TCL_ERROR;
  }
  return TCL_OK;
}

template <typename T>
void configureRep(Tcl_Interp *interp, const NnetRepT<T> *rep, int act, int bias) {
  Tcl_Obj *list = Tcl_NewListObj(0, nullptr), *sizes = Tcl_NewListObj(0, nullptr);
  for (int j = 0; j < rep->numLayers; j++) Tcl_ListObjAppendElement(interp, sizes, Tcl_NewIntObj(rep->sizes[j]));
  Tcl_ListObjAppendElement(interp, list, sizes);
  if (act) {
    Tcl_Obj *acts = Tcl_NewListObj(0, nullptr);
    for (int j = 0; j < rep->numLayers; j++)
      if (rep->act[j] <= NNET_SOFTMAX) Tcl_ListObjAppendElement(interp, acts, Tcl_NewStringObj(actNames[rep->act[j]], -1));
    Tcl_ListObjAppendElement(interp, list, Tcl_NewStringObj("-activation", -1));
    Tcl_ListObjAppendElement(interp, list, acts);
  }
  if (bias && rep->bias) Tcl_ListObjAppendElement(interp, list, Tcl_NewStringObj("-bias", -1));
  Tcl_SetObjResult(interp, list);
}

// nnet configure NNET ?-activation? ?-bias?
// Answers the stored layer sizes, then the activation words and -bias when
// asked for (both when neither is named).
int ConfigureCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  char *name;
  int act = 0, bias = 0;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "nnetob %s -activation %n -bias %n", &name, &act, &bias))
    return TCL_ERROR;
  auto *net = (Nnet *)Obj_GetData(interp, "dravin/nnet", name);
  if (!net) return TCL_ERROR;
  if (!act && !bias) act = bias = 1;
  Tcl_ResetResult(interp);
  if (net->isDouble && net->dnet)
    configureRep(interp, net->dnet, act, bias);
  else if (net->isFloat && net->fnet)
    configureRep(interp, net->fnet, act, bias);
  return TCL_OK;
}

// nnet score NNET FILE ?-aprior MATRIX?
// Runs the network over a vector file; answers the fraction right, then per
// class the fraction right, the mean output of the class's unit on its own
// examples and on the others.
int ScoreCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  char *name, *file, *aprior = nullptr;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "nnetob %s filename %s -aprior %s", &name, &file, &aprior))
    return TCL_ERROR;
  auto *net = (Nnet *)Obj_GetData(interp, "dravin/nnet", name);
  if (!net) return TCL_ERROR;
  float *priors = nullptr;
  int32_t np = 0;
  if (vectorOption(interp, aprior, "-aprior", nnet_NumOutputs(net), &priors, &np) != TCL_OK) return TCL_ERROR;
  Result res;
  NnetScore *s = nnet_Score(res.r, net, file, priors);
  if (priors) DB_Free(priors, __FILE__, __LINE__);
  if (!s) return res.fail(interp);
  auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
  Tcl_Obj *list = Tcl_NewListObj(0, nullptr);
  Tcl_ListObjAppendElement(interp, list, Tcl_NewDoubleObj(ratio(s->totalCorrect, s->N)));
  Tcl_Obj *c = Tcl_NewListObj(0, nullptr), *a = Tcl_NewListObj(0, nullptr), *b = Tcl_NewListObj(0, nullptr);
  // The mean outputs are single-precision figures: they print in their
  // shortest float form.
  for (int i = 0; i < s->numClasses; i++) {
    Tcl_ListObjAppendElement(interp, c, Tcl_NewDoubleObj(ratio(s->correct[i], s->n[i])));
    Tcl_ListObjAppendElement(interp, a, Cmds_NewFloatObj((float)ratio(s->a[i], s->n[i])));
    Tcl_ListObjAppendElement(interp, b, Cmds_NewFloatObj((float)ratio(s->b[i], s->N - s->n[i])));
  }
  Tcl_ListObjAppendElement(interp, list, c);
  Tcl_ListObjAppendElement(interp, list, a);
  Tcl_ListObjAppendElement(interp, list, b);
  nnet_FreeScore(s);
  Tcl_SetObjResult(interp, list);
  return TCL_OK;
}

const SubCmdEntry optCmds[] = {
    {"read", ReadCmd},           {"count", CountCmd},   {"readblock", ReadBlockCmd},
    {"write", WriteCmd},         {"initialize", InitializeCmd}, {"stochastic", StochasticCmd},
    {"cgrd", CgrdCmd},           {"errfc", ErrfcCmd},   {"info", InfoCmd},
    {"reset", ResetCmd},         {nullptr, nullptr},
};
const SubCmdEntry exampleCmds[] = {{"fromvec", FromVecCmd}, {nullptr, nullptr}};
const SubCmdEntry nnetCmds[] = {
    {"create", CreateCmd}, {"configure", ConfigureCmd}, {"score", ScoreCmd}, {nullptr, nullptr}};

}  // namespace

extern "C" int Kelmor_Init(Tcl_Interp *interp) {
  if (!Tcl_PkgRequire(interp, "Dravin", "1.0", 0)) return TCL_ERROR;
  int code = Tcl_Eval(interp, "auto_load nnet");
  if (code != TCL_OK) return code;
  if ((code = Tcl_PkgProvide(interp, "Kelmor", "1.0"))) return code;
  Cntr_RegisterType(&exampleType);
  Cntr_RegisterType(&optType);
  Cmds_CreateSwitchCmd(interp, "opt", nullptr, nullptr);
  Cmds_CreateSubCmds(interp, "opt", optCmds);
  Cmds_CreateSwitchCmd(interp, "example", nullptr, nullptr);
  Cmds_CreateSubCmds(interp, "example", exampleCmds);
  Cmds_CreateSwitchCmd(interp, "nnet", nullptr, nullptr);
  Cmds_CreateSubCmds(interp, "nnet", nnetCmds);
  return Obj_Init(interp);
}

extern "C" int Kelmor_SafeInit(Tcl_Interp *interp) {
  int code = Tcl_PkgProvide(interp, "Kelmor", "1.0");
  if (code) return code;
  Cntr_RegisterType(&exampleType);
  Cntr_RegisterType(&optType);
  return Obj_Init(interp);
}
