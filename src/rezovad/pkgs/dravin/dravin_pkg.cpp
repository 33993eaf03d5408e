// Package Dravin: the run-time side of the networks, the `nnet` command.
#include <tcl.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "cmds.h"
#include "container.h"
#include "dravin.h"
#include "matarg.h"
#include "obj.h"
#include "pkghelp.h"
#include "result.h"
#include "yastro.h"

namespace {

using pkghelp::Mat;
using pkghelp::Result;

// nnet optload FILE
// Reads an opt network file; answers the name of the new network object.
int OptLoadCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  char *foo;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "foo %s", &foo)) return TCL_ERROR;
  Tcl_DString ds;
  const char *path = Tcl_TranslateFileName(interp, foo, &ds);
  if (!path) return TCL_ERROR;
  Result res;
  Nnet *net = nnet_OptLoad(res.r, path);
  Tcl_DStringFree(&ds);
  if (!net) return res.fail(interp);
  if (Obj_Create(interp, "dravin/nnet", net) != TCL_OK) {
    nnet_Nuke(nullptr, net);
    return TCL_ERROR;
  }
  return TCL_OK;
}

// nnet optsave NNET FILE ?-iters N?
// Writes the network as an opt network file whose header word is N (1).
int OptSaveCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  char *name, *file;
  int iters = 1;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "nnetob %s filename %s -iters %i", &name, &file, &iters))
    return TCL_ERROR;
  auto *net = (Nnet *)Obj_GetData(interp, "dravin/nnet", name);
  if (!net) return TCL_ERROR;
  Result res;
  if (nnet_OptSave(res.r, file, net, iters)) return res.fail(interp);
  Tcl_ResetResult(interp);
  return TCL_OK;
}

// nnet x NNET INPUT ?OUTPUT?
// Runs the network over every row of INPUT; answers the matrix of outputs,
// one row per input row.
int ThinkCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  char *name, *inText, *outText = nullptr;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "nnetob %s invecob %s outvecob ?s", &name, &inText, &outText))
    return TCL_ERROR;
  auto *net = (Nnet *)Obj_GetData(interp, "dravin/nnet", name);
  if (!net) return TCL_ERROR;
  if (!net->isFloat && !net->isDouble) {
    Tcl_SetResult(interp, (char *)"16-bit networks cannot be run", TCL_STATIC);
    return TCL_ERROR;
  }
  Mat in, out;
  if (MatArg_GetReal(interp, inText, &in.m) != TCL_OK) return TCL_ERROR;
  const int nIn = nnet_NumInputs(net), nOut = nnet_NumOutputs(net);
  if (in.m.cols < nIn) {
    Tcl_SetObjResult(interp, Tcl_ObjPrintf("input has %d columns, the network takes %d inputs", in.m.cols, nIn));
    return TCL_ERROR;
  }
  if (MatArg_SetReal(interp, outText, in.m.rows, nOut, &out.m) != TCL_OK) return TCL_ERROR;
  Result res;
  if (nnet_ThinkRows(res.r, net, in.m.rows, in.m.real, out.m.real)) return res.fail(interp);
  return TCL_OK;
}

// nnet prior POSTERIOR PRIOR ?OUTPUT?
// Multiplies every row of POSTERIOR element by element with the first row
// of PRIOR; answers the output matrix.
int PriorCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  char *postText, *priorText, *outText = nullptr;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "posterior %s prior %s output ?s", &postText, &priorText, &outText))
    return TCL_ERROR;
  Mat post, prior, out;
  if (MatArg_GetReal(interp, postText, &post.m) != TCL_OK) return TCL_ERROR;
  if (MatArg_GetReal(interp, priorText, &prior.m) != TCL_OK) return TCL_ERROR;
  const int N = post.m.rows, K = post.m.cols;
  if (prior.m.cols != K || prior.m.rows < 1) {
    Tcl_SetResult(interp, (char *)"Prior Class probabilities does not match input data.", TCL_STATIC);
    return TCL_ERROR;
  }
  // The prior row is copied first: the output may be the same object.
  float *p = (float *)Tcl_Alloc(sizeof(float) * (K > 0 ? K : 1));
  memcpy(p, prior.m.real[0], sizeof(float) * K);
  if (MatArg_SetReal(interp, outText, N, K, &out.m) != TCL_OK) {
    Tcl_Free((char *)p);
    return TCL_ERROR;
  }
  for (int i = 0; i < N; i++)
    for (int j = 0; j < K; j++) out.m.real[i][j] = post.m.real[i][j] * p[j];
  Tcl_Free((char *)p);
  return TCL_OK;
}

const SubCmdEntry nnetCmds[] = {
    {"optload", OptLoadCmd},
    {"optsave", OptSaveCmd},
    {"x", ThinkCmd},
    {"prior", PriorCmd},
    {nullptr, nullptr},
};

}  // namespace

extern "C" int Dravin_Init(Tcl_Interp *interp) {
  int code = Tcl_PkgProvide(interp, "Dravin", "1.0");
  if (code) return code;
  // The network library owns the object type; this registers it.
  if (!nnet_Type(nullptr)) return TCL_ERROR;
  Cmds_CreateSwitchCmd(interp, "nnet", nullptr, nullptr);
  Cmds_CreateSubCmds(interp, "nnet", nnetCmds);
  return Obj_Init(interp);
}

extern "C" int Dravin_SafeInit(Tcl_Interp *interp) {
  int code = Tcl_PkgProvide(interp, "Dravin", "1.0");
  if (code) return code;
  if (!nnet_Type(nullptr)) return TCL_ERROR;
  return Obj_Init(interp);
}
