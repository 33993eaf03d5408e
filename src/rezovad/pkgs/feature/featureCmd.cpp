// The `feature` and `hmfcc` commands: front-end objects made from a feature
// string turn waves or windows of samples into feature matrices; stream
// filters (deltas, FIR over frames, delay, moving average) and a whitening
// transform work on feature matrices; `hmfcc` computes HTK-style MFCC.
#include <tcl.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "cmds.h"
#include "container.h"
#include "feature.h"
#include "obj.h"
#include "pardel.h"
#include "records.h"
#include "streamcode.h"
#include "utils.h"
#include "yastro.h"

namespace {

template <class T, void (*Nuke)(T *)>
void freeAs(void *record) {
  Nuke(static_cast<T *>(record));
}

const CntrType kTypes[] = {
    {"feature/feature", nullptr, nullptr, freeAs<FeatureRecord, featureNuke>, nullptr, nullptr, nullptr, nullptr},
    {"feature/delta", nullptr, nullptr, freeAs<DeltaFilter, deltaNuke>, nullptr, nullptr, nullptr, nullptr},
    {"feature/fir", nullptr, nullptr, freeAs<FirFilter, filterNuke>, nullptr, nullptr, nullptr, nullptr},
    {"feature/pipedelay", nullptr, nullptr, freeAs<PipeDelay, pipedelayNuke>, nullptr, nullptr, nullptr, nullptr},
    {"feature/avgfilter", nullptr, nullptr, freeAs<AvgFilter, avgfilterNuke>, nullptr, nullptr, nullptr, nullptr},
    {"feature/whiten", nullptr, nullptr, freeAs<Whiten, whitenNuke>, nullptr, nullptr, nullptr, nullptr},
    {"feature/mfcc", nullptr, nullptr, freeAs<MFCCFrontEnd, MFCCNuke>, nullptr, nullptr, nullptr, nullptr},
};

struct FlagWord {
  const char *word;
  int bits;
};

// The feature-string vocabulary; words combine by OR.
const FlagWord kFlagWords[] = {
    {"preemphasis", 0x1},     {"hamming", 0x2},      {"powerspec", 0x4},     {"logspec", 0x8},
    {"invlogspec", 0x10},     {"fbanklinear", 0x20}, {"fbankbark", 0x40},    {"fbankmel", 0x80},
    {"fbanknorm", 0x100},     {"equalloud", 0x200},  {"rasta", 0x400},       {"invdct", 0x800},
    {"invdft", 0x1000},       {"autocorr", 0x2000},  {"durbin", 0x4000},     {"arcepstral", 0x8000},
    {"gexp", 0x10000},        {"wendrel", 0x20000},  {"ar2lsp", 0x40000},    {"lsp2ar", 0x80000},
    {"hanning", 0x100000},    {"rectangle", 0x200000}, {"triangle", 0x400000}, {"lpc", 0x1e003},
    {"mel", 0x1088f},         {"plp", 0x1d246},      {nullptr, 0}};

// The words `feature info` shows, in its order.
const char *const kInfoWords[] = {"preemphasis", "hamming", "hanning", "rectangle", "triangle", "powerspec",
                                  "fbanklinear", "fbankmel", "fbankbark", "logspec", "rasta", "invlogspec",
                                  "equalloud", "invdft", "invdct", "autocorr", "durbin", "arcepstral",
                                  "ar2lsp", "lsp2ar", "gexp", "wendrel", nullptr};

int flagBits(const char *word) {
  for (const FlagWord *f = kFlagWords; f->word; f++)
    if (!std::strcmp(f->word, word)) return f->bits;
  return 0;
}

void setResult(Tcl_Interp *interp, const std::string &s) { Tcl_SetObjResult(interp, Tcl_NewStringObj(s.c_str(), -1)); }

// A wave sampled at another rate than the front end's would give frames of
// the wrong length and filterbanks on the wrong frequencies: refuse it. A
// wave that states no rate is taken at the front end's. Rates within
// tolerance Hz of each other are the same.
int checkRate(Tcl_Interp *interp, const WaveRecord *w, const char *wave, double rate, const char *frontEnd,
              double tolerance = 0.5) {
  if (w->infoCount < 1 || !w->info || w->info[0] <= 0 || std::fabs(w->info[0] - rate) < tolerance) return TCL_OK;
  Tcl_Obj *a = Tcl_NewDoubleObj(w->info[0]), *b = Tcl_NewDoubleObj(rate);
  setResult(interp, std::string("wave \"") + wave + "\" is sampled at " + Tcl_GetString(a) + " Hz, not at the " +
                        Tcl_GetString(b) + " Hz of \"" + frontEnd + "\"");
  Tcl_DecrRefCount(a);
  Tcl_DecrRefCount(b);
  return TCL_ERROR;
}

// Copies a library's message into the interpreter result.
int libraryError(Tcl_Interp *interp, GS_Result *r) {
  setResult(interp, r->text);
  GS_DeleteResult(r);
  return TCL_ERROR;
}

// Holds matrix descriptors for the length of one command.
struct Mx {
  MxMatrix *m = Mx_create();
  ~Mx() { Mx_destroy(m); }
};

// feature initialize featurestring ?-framesize ms? ?-windowsize ms? ?-samplerate hz? ?-rate hz? ?-order n?
//   ?-output n? ?-filters n? ?-exp x? ?-rasta x? ?-iirinit list? ?-firinit list? ?-lfreq hz? ?-ufreq hz?
//   ?-emphasis x? ?-preemphasis x? ?-filtershape triangular|trapesium? ?-scale linear|bark|mel?
// A new front end ("feature/feature"); answers its name.
int InitializeCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  FeatureSettings *s = featureDefault();
  const char *words = nullptr, *iir = nullptr, *fir = nullptr, *shape = nullptr, *scale = nullptr;
  int code = Cmds_ParseArgs(interp, 2, argc, argv,
                            "featurestring %s -framesize %f -windowsize %f -samplerate %i -rate %i -order %i "
                            "-output %i -filters %i -exp %f -rasta %f -iirinit %s -firinit %s -lfreq %f -ufreq %f "
                            "-emphasis %f -preemphasis %f -filtershape %s -scale %s",
                            &words, &s->framesize, &s->windowsize, &s->samplerate, &s->samplerate, &s->order,
                            &s->output, &s->filters, &s->exp, &s->rasta, &iir, &fir, &s->lfreq, &s->ufreq,
                            &s->emphasis, &s->preemphasis, &shape, &scale);
  if (code == TCL_OK) {
    int n;
    const char **list;
    if (Tcl_SplitList(interp, words, &n, &list) != TCL_OK) {
      code = TCL_ERROR;
    } else {
      for (int i = 0; i < n; i++) s->flags |= flagBits(list[i]);
      Tcl_Free((char *)list);
    }
  }
  if (code == TCL_OK && scale) {
    if (!std::strcmp(scale, "linear")) s->scale = 0x20;
    if (!std::strcmp(scale, "bark")) s->scale = 0x40;
    if (!std::strcmp(scale, "mel")) s->scale = 0x80;
  }
  if (code == TCL_OK && shape) {
    if (!std::strcmp(shape, "trapesium")) s->filtershape = 2;
    if (!std::strcmp(shape, "triangular")) s->filtershape = 1;
  }
  if (code == TCL_OK && fir) code = tcl_FloatList(interp, fir, &s->fir, &s->firCount) ? TCL_ERROR : TCL_OK;
  if (code == TCL_OK && iir) code = tcl_FloatList(interp, iir, &s->iir, &s->iirCount) ? TCL_ERROR : TCL_OK;
  FeatureRecord *fe = nullptr;
  if (code == TCL_OK) {
    GS_Result *r = GS_CreateResult();
    fe = featureInit(r, s);
    if (!fe) {
      libraryError(interp, r);
      code = TCL_ERROR;
    } else {
      GS_DeleteResult(r);
    }
  }
  DB_FREE(s->fir);
  DB_FREE(s->iir);
  DB_FREE(s);
  if (code != TCL_OK) return TCL_ERROR;
  if (Obj_Create(interp, "feature/feature", fe) != TCL_OK) {
    featureNuke(fe);
    return TCL_ERROR;
  }
  return TCL_OK;
}

FeatureRecord *getFrontEnd(Tcl_Interp *interp, const char *name) {
  return static_cast<FeatureRecord *>(Obj_GetData(interp, "feature/feature", name));
}

// feature reset featureob
// Starts a new stream: drops the kept samples. Answers the name as given.
int ResetCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *name = nullptr;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "featureob %s", &name)) return TCL_ERROR;
  FeatureRecord *fe = getFrontEnd(interp, name);
  if (!fe) return TCL_ERROR;
  featureReset(fe);
  setResult(interp, name);
  return TCL_OK;
}

// feature info featureob ?-framesize? ?-windowsize? ... ?-lastfilt?
// The flag words, then {option value} for each option named (all when none).
int InfoCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *name = nullptr;
  int on[15];
  if (Cmds_ParseArgs(interp, 2, argc, argv,
                     "featureob %s -framesize %n -windowsize %n -samplerate %n -order %n -output %n -filters %n "
                     "-exp %n -rasta %n -lfreq %n -ufreq %n -emphasis %n -preemphasis %n -filtershape %n "
                     "-firstgood %n -lastfilt %n",
                     &name, &on[0], &on[1], &on[2], &on[3], &on[4], &on[5], &on[6], &on[7], &on[8], &on[9], &on[10],
                     &on[11], &on[12], &on[13], &on[14]))
    return TCL_ERROR;
  FeatureRecord *fe = getFrontEnd(interp, name);
  if (!fe) return TCL_ERROR;
  bool any = false;
  for (int i = 0; i < 15; i++) any = any || on[i];
  Tcl_Obj *res = Tcl_NewListObj(0, nullptr), *words = Tcl_NewListObj(0, nullptr);
  for (const char *const *w = kInfoWords; *w; w++)
    if (fe->flags & flagBits(*w)) Tcl_ListObjAppendElement(interp, words, Tcl_NewStringObj(*w, -1));
  Tcl_ListObjAppendElement(interp, res, words);
  // Real settings came in as floats: they print in their shortest float form.
  auto real = [](double v) { return Cmds_NewFloatObj((float)v); };
  const char *shapes[] = {"default", "triangular", "trapesium"};
  struct Item {
    const char *opt;
    Tcl_Obj *value;
  };
  Item items[15] = {{"-framesize", real(fe->framesize)},
                    {"-windowsize", real(fe->windowsize)},
                    {"-samplerate", real(fe->samplerate)},
                    {"-order", Tcl_NewIntObj(fe->order)},
                    {"-output", Tcl_NewIntObj(fe->output)},
                    {"-filters", Tcl_NewIntObj(fe->filters)},
                    {"-exp", real(fe->exp)},
                    {"-rasta", real(fe->rasta)},
                    {"-lfreq", real(fe->lfreq)},
                    {"-ufreq", real(fe->ufreq)},
                    {"-emphasis", real(fe->emphasis)},
                    {"-preemphasis", real(fe->preemphasis)},
                    {"-filtershape", fe->filtershape >= 0 && fe->filtershape <= 2
                                         ? Tcl_NewStringObj(shapes[fe->filtershape], -1) : nullptr},
                    {"-firstgood", Tcl_NewIntObj(fe->firstgood)},
                    {"-lastfilt", Tcl_NewIntObj(fe->lastfilt)}};
  for (int i = 0; i < 15; i++) {
    if (any && !on[i]) {
      if (items[i].value) Tcl_DecrRefCount(items[i].value);
      continue;
    }
    Tcl_Obj *pair = Tcl_NewListObj(0, nullptr);
    Tcl_ListObjAppendElement(interp, pair, Tcl_NewStringObj(items[i].opt, -1));
    if (items[i].value) Tcl_ListObjAppendElement(interp, pair, items[i].value);
    Tcl_ListObjAppendElement(interp, res, pair);
  }
  Tcl_SetObjResult(interp, res);
  return TCL_OK;
}

// feature featureob inputob ?outputvar? ?-continue? ?-break? ?-return?
// The frames of a wave (kept samples included) or of a matrix whose rows are
// windows of samples. A wave that completes no frame is kept, and the
// command ends with the chosen completion code and an empty result.
int FramesCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *name = nullptr, *input = nullptr, *output = nullptr;
  int cont = 0, brk = 0, ret = 0;
  if (Cmds_ParseArgs(interp, 1, argc, argv, "featureob %s inputob %s outputvar ?s -continue %n -break %n -return %n",
                     &name, &input, &output, &cont, &brk, &ret))
    return TCL_ERROR;
  FeatureRecord *fe = getFrontEnd(interp, name);
  if (!fe) return TCL_ERROR;
  ObjEntry *e = Obj_Get(interp, nullptr, input);
  Tcl_ResetResult(interp);
  if (e && !std::strcmp(Cntr_Name(e->type), "wave")) {
    WaveRecord *w = static_cast<WaveRecord *>(e->data);
    if (checkRate(interp, w, input, fe->samplerate, name)) return TCL_ERROR;
    const int frames = featureFrames(fe, w->len);
    if (frames == 0) {
      featureCompute(fe, w, nullptr);
      return Stream_Code(brk, cont, ret);
    }
    Mx out;
    if (Mx_setReal(interp, output, frames, fe->outputDim, out.m)) return TCL_ERROR;
    featureCompute(fe, w, out.m->real);
    return TCL_OK;
  }
  Mx in, out;
  if (Mx_getReal(interp, input, in.m)) return TCL_ERROR;
  if (in.m->cols != fe->inputDim) {
    setResult(interp, std::string("Input feature array: ") + input + " is not compatible with feature object: " + name);
    return TCL_ERROR;
  }
  if (Mx_setReal(interp, output, in.m->rows, fe->outputDim, out.m)) return TCL_ERROR;
  for (int r = 0; r < in.m->rows; r++) {
    for (int j = 0; j < fe->inputDim; j++) fe->inputBuffer[j] = in.m->real[r][j];
    featureFrame(fe);
    for (int j = 0; j < fe->outputDim; j++) out.m->real[r][j] = (float)fe->outputBuffer[j];
  }
  return TCL_OK;
}

// ------------------------------------------------------- filter family

// What a member of the filter family does, so that one handler runs them all.
struct Member {
  const char *type;
  const char *objWord;   // in the usage text
  const char *outWord;   // "outfeats" or "deltafeats"
  bool hasInfo, hasFlush;
  bool comparesWidth;
  int noFrameCode;       // code when no frame is due and no option chose one
  int (*dim)(void *);
  int (*frames)(void *, int, int);
  int (*run)(void *, float **, int, float **, int);
};

int deltaDimV(void *f) { return deltaDim(static_cast<DeltaFilter *>(f)); }
int deltaFramesV(void *f, int n, int fl) { return deltaBufferFrames(static_cast<DeltaFilter *>(f), n, fl); }
int deltaRunV(void *f, float **in, int n, float **o, int fl) {
  return deltaBufferCompute(static_cast<DeltaFilter *>(f), in, n, o, fl);
}
int firDimV(void *f) { return filterDim(static_cast<FirFilter *>(f)); }
int firFramesV(void *f, int n, int fl) { return filterFrames(static_cast<FirFilter *>(f), n, fl); }
int firRunV(void *f, float **in, int n, float **o, int fl) { return filter(static_cast<FirFilter *>(f), in, n, o, fl); }
int delayDimV(void *f) { return pipedelayDim(static_cast<PipeDelay *>(f)); }
int delayFramesV(void *f, int n, int fl) { return pipedelayFrames(static_cast<PipeDelay *>(f), n, fl); }
int delayRunV(void *f, float **in, int n, float **o, int fl) {
  return pipedelay(static_cast<PipeDelay *>(f), in, n, o, fl);
}
int meanDimV(void *f) { return avgfilterDim(static_cast<AvgFilter *>(f)); }
int meanFramesV(void *f, int n, int fl) { return avgfilterFrames(static_cast<AvgFilter *>(f), n, fl); }
int meanRunV(void *f, float **in, int n, float **o, int fl) {
  return avgfilter(static_cast<AvgFilter *>(f), in, n, o, fl);
}

// Deltas compare the input's width too: a wider input would be read past
// the width the filter keeps.
const Member kDelta = {"feature/delta", "deltaob", "deltafeats", false, true, true, TCL_OK,
                       deltaDimV, deltaFramesV, deltaRunV};
const Member kFir = {"feature/fir", "firob", "outfeats", true, true, true, TCL_ERROR, firDimV, firFramesV, firRunV};
const Member kDelay = {"feature/pipedelay", "delayob", "outfeats", true, false, true, TCL_OK,
                       delayDimV, delayFramesV, delayRunV};
const Member kMean = {"feature/avgfilter", "meanob", "outfeats", true, false, true, TCL_OK,
                      meanDimV, meanFramesV, meanRunV};

// The processing form: filterob infeat ?outfeat? ?-flush? ?-error? ?-break? ?-return? ?-continue?
int runMember(const Member &m, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *name = nullptr, *input = nullptr, *output = nullptr;
  int flush = 0, err = 0, brk = 0, ret = 0, cont = 0;
  const std::string tmpl = std::string(m.objWord) + " %s infeat %s " + (m.type == kDelta.type ? "deltafeat" : "outfeat") +
                           " ?s -flush %n -error %n -break %n -return %n -continue %n";
  if (Cmds_ParseArgs(interp, 2, argc, argv, tmpl.c_str(), &name, &input, &output, &flush, &err, &brk, &ret, &cont))
    return TCL_ERROR;
  void *f = Obj_GetData(interp, m.type, name);
  if (!f) return TCL_ERROR;
  Mx in, out;
  if (Mx_getReal(interp, input, in.m)) return TCL_ERROR;
  Tcl_ResetResult(interp);
  const int dim = m.dim(f);
  if (m.comparesWidth && in.m->cols != dim && !(in.m->rows == 0)) {
    setResult(interp, "Input feature dimension does not match preset value.");
    return TCL_ERROR;
  }
  const int frames = m.frames(f, in.m->rows, flush);
  if (frames == 0 && !(m.type == kFir.type && flush)) {
    m.run(f, in.m->real, in.m->rows, nullptr, 0);
    return err ? TCL_ERROR : brk ? TCL_BREAK : ret ? TCL_RETURN : cont ? TCL_CONTINUE : m.noFrameCode;
  }
  if (Mx_setReal(interp, output, frames, dim, out.m)) return TCL_ERROR;
  const int made = m.run(f, in.m->real, in.m->rows, frames ? out.m->real : nullptr, flush);
  if (made != frames) {
    setResult(interp, "Internal frame calculation error\n");
    return TCL_ERROR;
  }
  return TCL_OK;
}

// filterob ?outfeat?: drains what the filter holds.
int flushMember(const Member &m, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *name = nullptr, *output = nullptr;
  const std::string tmpl = std::string(m.objWord) + (m.type == kDelta.type ? " %s deltafeat ?s" : " %s outfeat ?s");
  if (Cmds_ParseArgs(interp, 3, argc, argv, tmpl.c_str(), &name, &output)) return TCL_ERROR;
  void *f = Obj_GetData(interp, m.type, name);
  if (!f) return TCL_ERROR;
  const int frames = m.frames(f, 0, 1);
  Mx out;
  if (Mx_setReal(interp, output, frames, m.dim(f), out.m)) return TCL_ERROR;
  if (m.run(f, nullptr, 0, frames ? out.m->real : nullptr, 1) != frames) {
    setResult(interp, "Internal frame calculation error\n");
    return TCL_ERROR;
  }
  return TCL_OK;
}

int usageMember(const Member &m, Tcl_Interp *interp) {
  setResult(interp, std::string("wrong args: should be initialize || info || reset || flush || ") + m.objWord +
                        " %s infeats %s " + m.outWord + " ?s");
  return TCL_ERROR;
}

int resetMember(const Member &m, Tcl_Interp *interp, int argc, const char *argv[], void (*reset)(void *)) {
  const char *name = nullptr;
  const std::string tmpl = std::string(m.objWord) + " %s";
  if (Cmds_ParseArgs(interp, 3, argc, argv, tmpl.c_str(), &name)) return TCL_ERROR;
  void *f = Obj_GetData(interp, m.type, name);
  if (!f) return TCL_ERROR;
  reset(f);
  setResult(interp, name);
  return TCL_OK;
}

void *getMember(const Member &m, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *name = nullptr;
  const std::string tmpl = std::string(m.objWord) + " %s";
  if (Cmds_ParseArgs(interp, 3, argc, argv, tmpl.c_str(), &name)) return nullptr;
  return Obj_GetData(interp, m.type, name);
}

bool is(const char *a, const char *b) { return !std::strcmp(a, b); }

int registerOr(Tcl_Interp *interp, const char *type, void *record, void (*nuke)(void *)) {
  if (Obj_Create(interp, type, record) != TCL_OK) {
    nuke(record);
    return TCL_ERROR;
  }
  return TCL_OK;
}

// feature delta initialize ?-order n? ?-sigmaT2? basefeatdim
// feature delta reset|flush deltaob ?deltafeat?
// feature delta deltaob infeat ?deltafeat? ?-flush? ?-break? ?-error? ?-return? ?-continue?
// Regression deltas over frames (same width as the input), held back by order frames.
int DeltaCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  if (argc == 2) return usageMember(kDelta, interp);
  const char *verb = argv[2];
  if (is(verb, "initialize")) {
    DeltaSettings *s = deltaDefault();
    int dim = 0;
    if (Cmds_ParseArgs(interp, 3, argc, argv, "-order %i -sigmaT2 %n basefeatdim %i", &s->order, &s->sigmaT2, &dim)) {
      DB_FREE(s);
      return TCL_ERROR;
    }
    s->basefeatdim = dim;
    DeltaFilter *f = deltaInit(s);
    DB_FREE(s);
    if (!f) {
      setResult(interp, "delta filter needs an order of 1 to 1000 and a dimension of at least 1");
      return TCL_ERROR;
    }
    return registerOr(interp, kDelta.type, f, freeAs<DeltaFilter, deltaNuke>);
  }
  if (is(verb, "reset"))
    return resetMember(kDelta, interp, argc, argv, [](void *f) { deltaReset(static_cast<DeltaFilter *>(f)); });
  if (is(verb, "flush")) return flushMember(kDelta, interp, argc, argv);
  return runMember(kDelta, interp, argc, argv);
}

// feature fir initialize filterob ?-firstgood n? ?-lastfilt n? ?-causal? ?-feature n?
// feature fir reset|info|flush firob ?outfeat?
// feature fir firob infeat ?outfeat? ?-flush? ...
// Filters channels over time with the rows of a coefficient matrix.
int FirCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  if (argc == 2) return usageMember(kFir, interp);
  const char *verb = argv[2];
  if (is(verb, "initialize")) {
    const char *coeffs = nullptr;
    int first = -1, last = -1, causal = 0, feat = 21;
    if (Cmds_ParseArgs(interp, 3, argc, argv, "filterob %s -firstgood %i -lastfilt %i -causal %n -feature %i", &coeffs,
                       &first, &last, &causal, &feat))
      return TCL_ERROR;
    Mx c;
    if (Mx_getReal(interp, coeffs, c.m)) return TCL_ERROR;
    if (first == -1) first = 0;
    if (last == -1) last = c.m->rows;
    GS_Result *r = GS_CreateResult();
    FirFilter *f = filterInit(r, c.m->real, c.m->rows, c.m->cols, first, last, feat, causal);
    if (!f) return libraryError(interp, r);
    GS_DeleteResult(r);
    return registerOr(interp, kFir.type, f, freeAs<FirFilter, filterNuke>);
  }
  if (is(verb, "reset"))
    return resetMember(kFir, interp, argc, argv, [](void *f) { filterReset(static_cast<FirFilter *>(f)); });
  if (is(verb, "info")) {
    auto *f = static_cast<FirFilter *>(getMember(kFir, interp, argc, argv));
    if (!f) return TCL_ERROR;
    Tcl_Obj *res = Tcl_NewListObj(0, nullptr);
    for (int i = 0; i < filterRows(f); i++) {
      Tcl_Obj *row = Tcl_NewListObj(0, nullptr);
      for (int k = 0; k < filterTaps(f); k++)
        Tcl_ListObjAppendElement(interp, row, Tcl_NewStringObj(sspf(0, "%f", filterCoeff(f, i, k)), -1));
      Tcl_ListObjAppendElement(interp, res, row);
    }
    Tcl_SetObjResult(interp, res);
    return TCL_OK;
  }
  if (is(verb, "flush")) return flushMember(kFir, interp, argc, argv);
  return runMember(kFir, interp, argc, argv);
}

// feature delay initialize ?delay? ?-feature n?
// feature delay reset|info delayob
// feature delay delayob infeat ?outfeat? ?-flush? ...
// Frames come out unchanged, delay frames late (to line up with other filters).
int DelayCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  if (argc == 2) return usageMember(kDelay, interp);
  const char *verb = argv[2];
  if (is(verb, "initialize")) {
    int delay = 1, feat = 21;
    if (Cmds_ParseArgs(interp, 3, argc, argv, "delay ?i -feature %i", &delay, &feat)) return TCL_ERROR;
    PipeDelay *d = pipedelayInit(delay, feat);
    if (!d) {
      setResult(interp, "delay must lie between 0 and 1048576 frames and -feature must be at least 1");
      return TCL_ERROR;
    }
    return registerOr(interp, kDelay.type, d, freeAs<PipeDelay, pipedelayNuke>);
  }
  if (is(verb, "reset"))
    return resetMember(kDelay, interp, argc, argv, [](void *d) { pipedelayReset(static_cast<PipeDelay *>(d)); });
  if (is(verb, "info")) {
    auto *d = static_cast<PipeDelay *>(getMember(kDelay, interp, argc, argv));
    if (!d) return TCL_ERROR;
    Tcl_SetObjResult(interp, Tcl_NewStringObj(sspf(0, "%f %f", (double)pipedelayDelay(d), (double)pipedelayDim(d)), -1));
    return TCL_OK;
  }
  return runMember(kDelay, interp, argc, argv);
}

// feature mean initialize ?-framesize ms? ?-delay ms? ?-feature n?
// feature mean reset|info meanob
// feature mean meanob infeat ?outfeat? ?-flush? ...
// A centred moving average over the frames within -delay ms either side.
int MeanCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  if (argc == 2) return usageMember(kMean, interp);
  const char *verb = argv[2];
  if (is(verb, "initialize")) {
    AvgSettings *s = avgfilterDefault();
    if (Cmds_ParseArgs(interp, 3, argc, argv, "-framesize %f -delay %f -feature %i", &s->framesize, &s->delay,
                       &s->feature)) {
      DB_FREE(s);
      return TCL_ERROR;
    }
    GS_Result *r = GS_CreateResult();
    AvgFilter *a = avgfilterInit(r, s);
    DB_FREE(s);
    if (!a) return libraryError(interp, r);
    GS_DeleteResult(r);
    return registerOr(interp, kMean.type, a, freeAs<AvgFilter, avgfilterNuke>);
  }
  if (is(verb, "reset"))
    return resetMember(kMean, interp, argc, argv, [](void *a) { avgfilterReset(static_cast<AvgFilter *>(a)); });
  if (is(verb, "info")) {
    auto *a = static_cast<AvgFilter *>(getMember(kMean, interp, argc, argv));
    if (!a) return TCL_ERROR;
    Tcl_SetObjResult(interp, Tcl_NewStringObj(sspf(0, "%f %f %f", (double)avgfilterFramesize(a),
                                                   (double)avgfilterHalfWidth(a), (double)avgfilterDim(a)), -1));
    return TCL_OK;
  }
  return runMember(kMean, interp, argc, argv);
}

// feature whiten initialize wob uob
// feature whiten whitenob infeat ?outfeat?
// Projects each frame on U and scales column j by the j-th value of W.
int WhitenCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  if (argc > 2 && is(argv[2], "initialize")) {
    const char *wn = nullptr, *un = nullptr;
    if (Cmds_ParseArgs(interp, 3, argc, argv, "wob %s uob %s", &wn, &un)) return TCL_ERROR;
    Mx w, u;
    if (Mx_getReal(interp, wn, w.m) || Mx_getReal(interp, un, u.m)) return TCL_ERROR;
    GS_Result *r = GS_CreateResult();
    Whiten *t = whiten_Init(r, w.m->real, w.m->rows, w.m->cols, u.m->real, u.m->rows, u.m->cols);
    if (!t) return libraryError(interp, r);
    GS_DeleteResult(r);
    return registerOr(interp, "feature/whiten", t, freeAs<Whiten, whitenNuke>);
  }
  const char *name = nullptr, *input = nullptr, *output = nullptr;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "whitenob %s infeat %s outfeat ?s", &name, &input, &output))
    return TCL_ERROR;
  auto *t = static_cast<Whiten *>(Obj_GetData(interp, "feature/whiten", name));
  if (!t) return TCL_ERROR;
  Mx in, out;
  if (Mx_getReal(interp, input, in.m)) return TCL_ERROR;
  if (in.m->cols != whitenDim(t)) {
    setResult(interp, std::string("Input feature array: ") + input + " has " + std::to_string(in.m->cols) +
                          " columns, the whitening transform " + name + " takes " + std::to_string(whitenDim(t)));
    return TCL_ERROR;
  }
  if (Mx_setReal(interp, output, in.m->rows, in.m->cols, out.m)) return TCL_ERROR;
  whiten(t, in.m->real, in.m->rows, out.m->real);
  return TCL_OK;
}

// hmfcc initialize ?-mfccWindow t? ?-mfccSmpPeriod t? ?-mfccFramePeriod t? ?-mfccChlNum n?
// A new MFCC front end ("feature/mfcc"); times in 100 ns units.
int HmfccInitCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  MFCCSettings *s = MFCCDefault();
  if (Cmds_ParseArgs(interp, 2, argc, argv, "-mfccWindow %i -mfccSmpPeriod %i -mfccFramePeriod %i -mfccChlNum %i",
                     &s->window, &s->samplePeriod, &s->framePeriod, &s->channels)) {
    DB_FREE(s);
    return TCL_ERROR;
  }
  GS_Result *r = GS_CreateResult();
  MFCCFrontEnd *fe = MFCCInitParam(r, s);
  DB_FREE(s);
  if (!fe) return libraryError(interp, r);
  GS_DeleteResult(r);
  if (MFCCInitFBank(fe, 1.0) != 0) {
    MFCCNuke(fe);
    setResult(interp, "cannot build the MFCC filter bank");
    return TCL_ERROR;
  }
  return registerOr(interp, "feature/mfcc", fe, freeAs<MFCCFrontEnd, MFCCNuke>);
}

// hmfcc mfccob waveob
// The MFCC frames (c1..c12 and normalised energy) of the wave's whole windows.
int HmfccCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *name = nullptr, *wn = nullptr;
  if (Cmds_ParseArgs(interp, 1, argc, argv, "mfccob %s waveob %s", &name, &wn)) return TCL_ERROR;
  auto *fe = static_cast<MFCCFrontEnd *>(Obj_GetData(interp, "feature/mfcc", name));
  if (!fe) return TCL_ERROR;
  auto *w = static_cast<WaveRecord *>(Obj_GetData(interp, "wave", wn));
  if (!w) return TCL_ERROR;
  // The sample period is a whole number of 100 ns: 48 kHz is 208.
  const double rate = MFCCRate(fe);
  if (checkRate(interp, w, wn, rate, name, rate * rate / 1e7)) return TCL_ERROR;
  const int frames = MFCCFrameNum(fe, w->len);
  ArrayRecord *a = nullptr;
  if (maybeReuse2DObject(nullptr, interp, frames, MFCCCepDim(fe), &a)) return TCL_ERROR;
  const int16_t *start = w->samples;
  for (int f = 0; f < frames; f++, start += MFCCFramePeriod(fe)) {
    const double e = MFCCApplyFFT(fe, start, MFCCWork(fe));
    MFCCFinal(fe, MFCCWork(fe), e, a->rows[f]);
  }
  MFCCNormEnergy(fe, a->rows, frames);
  return TCL_OK;
}

const SubCmdEntry kFeatureTable[] = {{"initialize", InitializeCmd}, {"reset", ResetCmd}, {"info", InfoCmd},
                                     {"delta", DeltaCmd},           {"fir", FirCmd},     {"delay", DelayCmd},
                                     {"mean", MeanCmd},             {"whiten", WhitenCmd}, {"*", FramesCmd},
                                     {nullptr, nullptr}};
const SubCmdEntry kHmfccTable[] = {{"initialize", HmfccInitCmd}, {"*", HmfccCmd}, {nullptr, nullptr}};

}  // namespace

extern "C" {

int Feature_Init(Tcl_Interp *interp) {
  int code = Tcl_PkgProvide(interp, "Feature", "1.0");
  if (code != TCL_OK) return code;
  for (const CntrType &t : kTypes) Cntr_RegisterType(&t);
  Cmds_CreateSwitchCmd(interp, "feature", nullptr, nullptr);
  Cmds_CreateSubCmds(interp, "feature", kFeatureTable);
  Cmds_CreateSwitchCmd(interp, "hmfcc", nullptr, nullptr);
  Cmds_CreateSubCmds(interp, "hmfcc", kHmfccTable);
  return Obj_Init(interp);
}

int Feature_SafeInit(Tcl_Interp *interp) { return Feature_Init(interp); }

}  // extern "C"
