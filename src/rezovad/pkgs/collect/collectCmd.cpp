// The `collect` command: context objects ("context") that stack each
// frame of a feature stream with its neighbours at fixed offsets, holding
// back the frames that future offsets need.
#include <tcl.h>

#include <cstring>
#include <string>
#include <vector>

#include "cmds.h"
#include "container.h"
#include "context.h"
#include "obj.h"
#include "records.h"
#include "streamcode.h"
#include "utils.h"
#include "yastro.h"

namespace {

void contextFree(void *r) { contextNuke(static_cast<ContextRecord *>(r)); }
const CntrType kContextType = {"context", "context", nullptr, contextFree, nullptr, nullptr, nullptr, nullptr};

bool is(const char *a, const char *b) { return !std::strcmp(a, b); }
void setResult(Tcl_Interp *interp, const std::string &s) { Tcl_SetObjResult(interp, Tcl_NewStringObj(s.c_str(), -1)); }

ContextRecord *getContext(Tcl_Interp *interp, const char *name) {
  return static_cast<ContextRecord *>(Obj_GetData(interp, "context", name));
}

// Fetches an input block whose width must be the context's coefficients.
ArrayRecord *getBlock(Tcl_Interp *interp, const ContextRecord *c, const char *name) {
  ArrayRecord *a = nullptr;
  if (get2DVecObject(name, interp, &a)) return nullptr;
  if (Array_cols(a) != c->coeffs) {
    setResult(interp, std::string("vector object \"") + name + "\" has incompatible dimensions!");
    return nullptr;
  }
  return a;
}

// Row pointers of a block (a 1-D array is one row).
float **rowsOf(ArrayRecord *a) { return a->ndims == 1 ? &a->data : a->rows; }

// Writes out stacked frames into features (bound or made) after taking in
// the n rows; the result is the features' name.
int emit(Tcl_Interp *interp, ContextRecord *c, float **rows, int n, const char *features, int out, int flush) {
  ArrayRecord *f = nullptr;
  if (maybeReuse2DObject(features, interp, out, c->coeffs * c->count, &f)) return TCL_ERROR;
  if (context(rows, n, f->rows, c, flush) != out) {
    setResult(interp, "Unexpected # of frames from context");
    return TCL_ERROR;
  }
  return TCL_OK;
}

// collect initialize ?-frames {{offset value} ...}? ?-coeffs n? ?-framesize ms?
int InitializeCmd(Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *frames = nullptr;
  ContextSpec spec = {nullptr, nullptr, 0, 8, 10.0f};
  if (Cmds_ParseArgs(interp, 2, argc, argv, "-frames %s -coeffs %i -framesize %f", &frames, &spec.coeffs,
                     &spec.framesize))
    return TCL_ERROR;
  std::vector<int32_t> offsets{-8, -4, -1, 0, 1, 4, 8}, values(7, 1);
  if (frames) {
    offsets.clear();
    values.clear();
    int n;
    const char **items;
    if (Tcl_SplitList(interp, frames, &n, &items) != TCL_OK) return TCL_ERROR;
    for (int i = 0; i < n; i++) {
      int m, o, v;
      const char **pair;
      if (Tcl_SplitList(interp, items[i], &m, &pair) != TCL_OK) {
        Tcl_Free((char *)items);
        return TCL_ERROR;
      }
      const bool ok = m == 2 && Tcl_GetInt(interp, pair[0], &o) == TCL_OK && Tcl_GetInt(interp, pair[1], &v) == TCL_OK;
      Tcl_Free((char *)pair);
      if (!ok) {
        if (m != 2) setResult(interp, std::string("Expecting 2 elements, not this \"") + items[i] + "\"");
        Tcl_Free((char *)items);
        return TCL_ERROR;
      }
      offsets.push_back(o);
      values.push_back(v);
    }
    Tcl_Free((char *)items);
  }
  spec.offsets = offsets.data();
  spec.values = values.data();
  spec.count = (int32_t)offsets.size();
  GS_Result *r = GS_CreateResult();
  ContextRecord *c = contextInit(r, &spec);
  if (!c) {
    setResult(interp, r->text);
    GS_DeleteResult(r);
    return TCL_ERROR;
  }
  GS_DeleteResult(r);
  if (Obj_Create(interp, "context", c) != TCL_OK) {
    contextNuke(c);
    return TCL_ERROR;
  }
  return TCL_OK;
}

// collect info contextob ?-frames? ?-coeffs? ?-delay?
int InfoCmd(Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *name = nullptr;
  int fr = 0, co = 0, de = 0;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "contextob %s -frames %n -coeffs %n -delay %n", &name, &fr, &co, &de))
    return TCL_ERROR;
  ContextRecord *c = getContext(interp, name);
  if (!c) return TCL_ERROR;
  if (!fr && !co && !de) fr = co = de = 1;
  Tcl_Obj *res = Tcl_NewListObj(0, nullptr);
  auto pair = [&](const char *opt, Tcl_Obj *v) {
    Tcl_Obj *p[2] = {Tcl_NewStringObj(opt, -1), v};
    Tcl_ListObjAppendElement(interp, res, Tcl_NewListObj(2, p));
  };
  if (fr) {
    Tcl_Obj *l = Tcl_NewListObj(0, nullptr);
    for (int i = 0; i < c->count; i++) {
      Tcl_Obj *p[2] = {Tcl_NewIntObj(c->offsets[i]), Tcl_NewIntObj(c->values[i])};
      Tcl_ListObjAppendElement(interp, l, Tcl_NewListObj(2, p));
    }
    pair("-frames", l);
  }
  if (co) pair("-coeffs", Tcl_NewIntObj(c->coeffs));
  if (de) pair("-delay", Tcl_NewDoubleObj(c->delay * (double)c->framesize));
  Tcl_SetObjResult(interp, res);
  return TCL_OK;
}

// collect byframe contextob input frame
// One stacked vector (a new 1-row arrayF) for one frame of a block.
int ByframeCmd(Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *name = nullptr, *input = nullptr;
  int frame = 0;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "contextob %s input %s frame %i", &name, &input, &frame)) return TCL_ERROR;
  ContextRecord *c = getContext(interp, name);
  if (!c) return TCL_ERROR;
  ArrayRecord *in = getBlock(interp, c, input);
  if (!in) return TCL_ERROR;
  if (frame < 0 || frame >= Array_rows(in)) {
    setResult(interp, "Frame out of range");
    return TCL_ERROR;
  }
  ArrayRecord *out = alloc2DVec(1, c->coeffs * c->count);
  if (Obj_Create(interp, "arrayF", out) != TCL_OK) {
    freeVec(out);
    return TCL_ERROR;
  }
  contextByFrame(rowsOf(in), Array_rows(in), out->rows[0], frame, c);
  return TCL_OK;
}

// collect flush collectob ?features? ?input? ?-break? ?-continue? ?-return?
// Takes in the optional last block and drains every held frame.
int FlushCmd(Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *name = nullptr, *features = nullptr, *input = nullptr;
  int brk = 0, cont = 0, ret = 0;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "collectob %s features ?s input ?s -break %n -continue %n -return %n",
                     &name, &features, &input, &brk, &cont, &ret))
    return TCL_ERROR;
  ContextRecord *c = getContext(interp, name);
  if (!c) return TCL_ERROR;
  ArrayRecord *in = nullptr;
  if (input && !(in = getBlock(interp, c, input))) return TCL_ERROR;
  const int n = in ? Array_rows(in) : 0;
  const int out = n + (c->held < c->delay ? c->held : c->delay);
  if (out < 1) {
    context(in ? rowsOf(in) : nullptr, n, nullptr, c, 0);
    return Stream_Code(brk, cont, ret);
  }
  return emit(interp, c, in ? rowsOf(in) : nullptr, n, features, out, 1);
}

// collect collectob input ?features? ?-break? ?-continue? ?-return? ?-flush?
// Stacked frames of the block once the future offsets are covered; until
// then the block is held and the command ends with the chosen code.
int RunCmd(Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *name = nullptr, *input = nullptr, *features = nullptr;
  int brk = 0, cont = 0, ret = 0, flush = 0;
  if (Cmds_ParseArgs(interp, 1, argc, argv,
                     "collectob %s input %s features ?s -break %n -continue %n -return %n -flush %n", &name, &input,
                     &features, &brk, &cont, &ret, &flush))
    return TCL_ERROR;
  ContextRecord *c = getContext(interp, name);
  if (!c) return TCL_ERROR;
  ArrayRecord *in = getBlock(interp, c, input);
  if (!in) return TCL_ERROR;
  const int n = Array_rows(in);
  int out = c->held < c->delay ? c->held + n - c->delay : n;
  if (flush) out += c->delay;
  if (out < 1) {
    context(rowsOf(in), n, nullptr, c, 0);
    return Stream_Code(brk, cont, ret);
  }
  return emit(interp, c, rowsOf(in), n, features, out, flush);
}

// collect initialize|info|reset|byframe|flush ... , or collect collectob input ...
int CollectCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  if (argc < 2) {
    Tcl_AppendResult(interp, "wrong # args: should be initialize ||", " reset ||", " byframe ||", " info ||",
                     " flush ||", " collectob(string) ?outvector(string)", (char *)nullptr);
    return TCL_ERROR;
  }
  const char *form = argv[1];
  if (is(form, "initialize")) return InitializeCmd(interp, argc, argv);
  if (is(form, "info")) return InfoCmd(interp, argc, argv);
  if (is(form, "byframe")) return ByframeCmd(interp, argc, argv);
  if (is(form, "flush")) return FlushCmd(interp, argc, argv);
  if (is(form, "reset")) {
    const char *name = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "contextob %s", &name)) return TCL_ERROR;
    ContextRecord *c = getContext(interp, name);
    if (!c) return TCL_ERROR;
    contextReset(c);
    setResult(interp, name);
    return TCL_OK;
  }
  return RunCmd(interp, argc, argv);
}

}  // namespace

extern "C" {

int Context_Init(Tcl_Interp *interp) {
  int code = Tcl_PkgProvide(interp, "Context", "1.0");
  if (code != TCL_OK) return code;
  Cntr_RegisterType(&kContextType);
  Tcl_CreateCommand(interp, "collect", CollectCmd, nullptr, nullptr);
  return Obj_Init(interp);
}

int Context_SafeInit(Tcl_Interp *interp) { return Context_Init(interp); }

}  // extern "C"
