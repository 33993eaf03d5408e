// The `channel` and `echo` commands: simulated echo paths as "echo/channel"
// objects and line-echo cancellers as "echo/echo" objects. A plug-in for
// `load`: it provides no package.
#include <tcl.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cmds.h"
#include "container.h"
#include "echo.h"
#include "obj.h"
#include "pardel.h"
#include "yastro.h"

namespace {

const char *kSource = "src/rezovad/pkgs/echo/echoCmd";

int fail(Tcl_Interp *interp, const std::string &message) {
  Tcl_SetResult(interp, (char *)message.c_str(), TCL_VOLATILE);
  return TCL_ERROR;
}

void channelFree(void *r) { Channel_Nuke(static_cast<EchoChannel *>(r)); }
void *channelClone(const void *r) {
  const EchoChannel *c = static_cast<const EchoChannel *>(r);
  return Channel_Initialize(c->pulse, c->length);
}
void echoFree(void *r) { Echo_Nuke(static_cast<Echo *>(r)); }

const CntrType kChannelType = {"echo/channel", "channel", nullptr, channelFree, channelClone, nullptr, nullptr, nullptr};
const CntrType kEchoType = {"echo/echo", "echo", nullptr, echoFree, nullptr, nullptr, nullptr, nullptr};

Echo *getEcho(Tcl_Interp *interp, const char *name) { return static_cast<Echo *>(Obj_GetData(interp, "echo/echo", name)); }

// An optional wave word: true when absent or found.
bool optWave(Tcl_Interp *interp, const char *name, WaveRecord **w) {
  *w = nullptr;
  if (!name) return true;
  *w = static_cast<WaveRecord *>(Obj_GetData(interp, "wave", name));
  return *w != nullptr;
}

int registerWave(Tcl_Interp *interp, WaveRecord *w) {
  if (!w) {
    Tcl_ResetResult(interp);
    return TCL_OK;
  }
  int code = Obj_Create(interp, "wave", w);
  if (code != TCL_OK) Wave_Free(w);
  return code;
}

// A new 1 x n arrayF named in the result.
bool newRow(Tcl_Interp *interp, int n, MxMatrix *m) { return Mx_setReal(interp, nullptr, 1, n, m) == 0; }

// 15-bit generator (0 .. 32767) of the C library's classic form, so that
// impulse responses repeat across platforms.
unsigned long randState = 1;
int rand15() {
  randState = randState * 1103515245UL + 12345UL;
  return (int)((randState / 65536UL) % 32768UL);
}

// channel initialize matrix
int ChannelInitializeCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  MxMatrix *m = Mx_create();
  int code = TCL_ERROR;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "channel %s", &m->text) == TCL_OK && Mx_getReal(interp, m->text, m) == 0) {
    EchoChannel *c = m->rows > 0 ? Channel_Initialize(m->real[0], m->cols) : nullptr;
    if (!c) code = fail(interp, "an echo channel needs at least one value");
    else if ((code = Obj_Create(interp, "echo/channel", c)) != TCL_OK) Channel_Nuke(c);
  }
  Mx_destroy(m);
  return code;
}

// channel random npoints nimpulse
int ChannelRandomCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  int n = 0, k = 0;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "npoints %i nimpulse %i", &n, &k)) return TCL_ERROR;
  if (n < 1 || k < 1) return fail(interp, "npoints and nimpulse must be at least 1");
  MxMatrix *m = Mx_create();
  if (!newRow(interp, n, m)) {
    Mx_destroy(m);
    return TCL_ERROR;
  }
  float *out = m->real[0];
  std::fill(out, out + n, 0.0f);
  double *p = static_cast<double *>(DB_Malloc((size_t)k * sizeof(double), kSource, __LINE__));
  for (int i = 0; i < k; i++) p[i] = std::floor(rand15() / 32767.0 * n);
  for (int i = 1; i < k; i++) p[i] += p[i - 1];
  // The rescale divides by the last running sum, which may be 0; every
  // index is held inside the row.
  if (p[k - 1] > 0)
    for (int i = 1; i < k; i++) p[i] = n * p[i] / p[k - 1] - 1;
  for (int i = 0; i < k; i++) {
    long idx = std::lround(std::trunc(p[i]));
    if (idx < 0) idx = 0;
    if (idx > n - 1) idx = n - 1;
    out[idx] = (float)((2.0 * rand15() / 32767.0 - 1.0) * std::exp(-p[i] / n) * 0.2);
  }
  DB_Free(p, kSource, __LINE__);
  Mx_destroy(m);
  return TCL_OK;
}

// channel simulate channel invec
int ChannelSimulateCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *name = nullptr;
  MxMatrix *in = Mx_create(), *out = Mx_create();
  int code = TCL_ERROR;
  EchoChannel *c = nullptr;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "echoob %s invec %s", &name, &in->text) == TCL_OK &&
      (c = static_cast<EchoChannel *>(Obj_GetData(interp, "echo/channel", name))) &&
      Mx_getReal(interp, in->text, in) == 0) {
    if (in->rows < 1 || in->cols < 1) code = fail(interp, "nothing to pass through the channel");
    else if (newRow(interp, in->cols, out)) {
      Channel_Simulate(c, in->real[0], out->real[0], in->cols);
      code = TCL_OK;
    }
  }
  Mx_destroy(out);
  Mx_destroy(in);
  return code;
}

// echo initialize npoints -delay n -pulse channel
int EchoInitializeCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  EchoParams *p = Echo_Default();
  const char *pulse = nullptr;
  int code = Cmds_ParseArgs(interp, 2, argc, argv, "npoints %i -delay %i -pulse %s", &p->npoints, &p->delay, &pulse);
  if (code == TCL_OK && pulse &&
      !(p->pulse = static_cast<EchoChannel *>(Obj_GetData(interp, "echo/channel", pulse))))
    code = TCL_ERROR;
  if (code == TCL_OK) {
    Echo *e = Echo_Initialize(p);
    if (!e) code = fail(interp, "npoints must be at least 1 and delay not negative");
    else if ((code = Obj_Create(interp, "echo/echo", e)) != TCL_OK) Echo_Nuke(e);
  }
  DB_Free(p, kSource, __LINE__);
  return code;
}

Echo *parseEcho(Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *name = nullptr;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "echoob %s", &name)) return nullptr;
  return getEcho(interp, name);
}

int EchoResetCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  Echo *e = parseEcho(interp, argc, argv);
  if (!e) return TCL_ERROR;
  Echo_Reset(e);
  return TCL_OK;
}

int EchoFlushCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  Echo *e = parseEcho(interp, argc, argv);
  if (!e) return TCL_ERROR;
  return registerWave(interp, Echo_Flush(e));
}

// echo nuke echo: the canceller and its name go together, so a later use
// of the name is an unknown object, never a released record.
int EchoNukeCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *name = nullptr;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "echoob %s", &name) || !getEcho(interp, name)) return TCL_ERROR;
  Obj_Destroy(interp, name);
  Tcl_ResetResult(interp);
  return TCL_OK;
}

int EchoSetCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *name = nullptr, *en = nullptr, *dn = nullptr;
  WaveRecord *ew, *dw;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "echoob %s -echo %s -data %s", &name, &en, &dn)) return TCL_ERROR;
  Echo *e = getEcho(interp, name);
  if (!e || !optWave(interp, dn, &dw) || !optWave(interp, en, &ew)) return TCL_ERROR;
  Buffer_PutWave(&e->data, dw);
  Buffer_PutWave(&e->echo, ew);
  return TCL_OK;
}

int EchoStatsCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  Echo *e = parseEcho(interp, argc, argv);
  if (!e) return TCL_ERROR;
  static const char *names[] = {"ECHO_INIT", "ECHO_UPDATE", "ECHO_FLUSH", "ECHO_OFF"};
  std::string s = std::string("state ") + (e->state >= 0 && e->state < 4 ? names[e->state] : "?") +
                  sspf(0, "%d %d", e->echo.length, e->echo.processed);
  Tcl_SetResult(interp, (char *)s.c_str(), TCL_VOLATILE);
  return TCL_OK;
}

// echo cancel echo -data wave -echo wave -pulse -lms
int EchoCancelCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *name = nullptr, *dn = nullptr, *en = nullptr;
  int pulse = 0, lms = 0;
  WaveRecord *dw, *ew;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "echoob %s -data %s -echo %s -pulse %n -lms %n", &name, &dn, &en, &pulse,
                     &lms))
    return TCL_ERROR;
  Echo *e = getEcho(interp, name);
  if (!e || !optWave(interp, dn, &dw) || !optWave(interp, en, &ew)) return TCL_ERROR;
  if (!pulse && !lms) return fail(interp, "echo cancel: give -lms, -pulse or both");
  if (pulse && !e->pulse) return fail(interp, std::string("canceller ") + name + " has no -pulse channel");
  WaveRecord *w = pulse && lms ? Echo_Cancel(e, dw, ew) : pulse ? Echo_PulseCancel(e, dw, ew) : Echo_LMSCancel(e, dw, ew);
  return registerWave(interp, w);
}

// echo pulse echo wave
int EchoPulseCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *name = nullptr, *wn = nullptr;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "echoob %s echo %s", &name, &wn)) return TCL_ERROR;
  Echo *e = getEcho(interp, name);
  WaveRecord *w = e ? static_cast<WaveRecord *>(Obj_GetData(interp, "wave", wn)) : nullptr;
  if (!w) return TCL_ERROR;
  if (!e->pulse) return fail(interp, std::string("canceller ") + name + " has no -pulse channel");
  if (w->len < 1) return fail(interp, "the wave is empty");
  MxMatrix *a = Mx_create(), *b = Mx_create();
  int blocks = w->len / e->pulseBlock, code = TCL_ERROR;
  std::string names;
  if (newRow(interp, w->len, a)) {
    names = Tcl_GetStringResult(interp);
    if (newRow(interp, blocks, b)) {
      Tcl_Obj *l = Tcl_NewListObj(0, nullptr);
      Tcl_ListObjAppendElement(interp, l, Tcl_NewStringObj(names.c_str(), -1));
      Tcl_ListObjAppendElement(interp, l, Tcl_GetObjResult(interp));
      Echo_PulseConv(e, w, a->real[0], blocks ? b->real[0] : nullptr);
      Tcl_SetObjResult(interp, l);
      code = TCL_OK;
    }
  }
  Mx_destroy(b);
  Mx_destroy(a);
  return code;
}

int EchoSimulateCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *name = nullptr, *dn = nullptr, *en = nullptr;
  WaveRecord *dw, *ew;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "echoob %s -data %s -echo %s", &name, &dn, &en)) return TCL_ERROR;
  Echo *e = getEcho(interp, name);
  if (!e || !optWave(interp, dn, &dw) || !optWave(interp, en, &ew)) return TCL_ERROR;
  if (!e->pulse) return fail(interp, std::string("canceller ") + name + " has no -pulse channel");
  return registerWave(interp, Echo_Simulate(e, dw, ew));
}

// echo zero echo ms: clears the data buffer from ms (at 8000 Hz) on.
int EchoZeroCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *name = nullptr;
  int ms = 0;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "echoob %s time %i", &name, &ms)) return TCL_ERROR;
  Echo *e = getEcho(interp, name);
  if (!e) return TCL_ERROR;
  long t = std::max(0L, (long)ms * 8);
  if (t < e->data.length) memset(e->data.samples + t, 0, (size_t)(e->data.length - t) * sizeof(int16_t));
  return TCL_OK;
}

const SubCmdEntry kChannelTable[] = {
    {"initialize", ChannelInitializeCmd}, {"random", ChannelRandomCmd}, {"simulate", ChannelSimulateCmd}, {nullptr, nullptr}};
const SubCmdEntry kEchoTable[] = {
    {"initialize", EchoInitializeCmd}, {"simulate", EchoSimulateCmd}, {"reset", EchoResetCmd},
    {"flush", EchoFlushCmd},           {"set", EchoSetCmd},           {"stats", EchoStatsCmd},
    {"cancel", EchoCancelCmd},         {"pulse", EchoPulseCmd},       {"zero", EchoZeroCmd},
    {"nuke", EchoNukeCmd},             {nullptr, nullptr}};

}  // namespace

extern "C" {

int Echo_Init(Tcl_Interp *interp) {
  Cntr_RegisterType(&kChannelType);
  Cntr_RegisterType(&kEchoType);
  Cmds_CreateSwitchCmd(interp, "channel", nullptr, nullptr);
  Cmds_CreateSubCmds(interp, "channel", kChannelTable);
  Cmds_CreateSwitchCmd(interp, "echo", nullptr, nullptr);
  Cmds_CreateSubCmds(interp, "echo", kEchoTable);
  return Obj_Init(interp) != TCL_OK ? TCL_ERROR : TCL_OK;
}

int Echo_SafeInit(Tcl_Interp *interp) { return Echo_Init(interp); }

}  // extern "C"
