// The `seg` command: frame segmenters as "seg" objects, the selections of
// labelled frames, and segment lists from per-frame speech/silence values.
#include <tcl.h>

#include <cmath>
#include <cstring>
#include <string>

#include "asn.h"
#include "cmds.h"
#include "container.h"
#include "halbrin.h"
#include "obj.h"
#include "pardel.h"
#include "seg.h"
#include "yastro.h"

namespace {

const char *kSource = "src/rezovad/pkgs/seg/segCmd";

int fail(Tcl_Interp *interp, const std::string &message) {
  Tcl_SetResult(interp, (char *)message.c_str(), TCL_VOLATILE);
  return TCL_ERROR;
}

void segFree(void *record) { segNuke(static_cast<SegState *>(record)); }

void *segClone(const void *record) {
  const SegState *s = static_cast<const SegState *>(record);
  SegState *c = static_cast<SegState *>(DB_Malloc(sizeof(SegState), kSource, __LINE__));
  *c = *s;
  c->window = static_cast<float *>(DB_Malloc((size_t)s->params.winsz * sizeof(float), kSource, __LINE__));
  memcpy(c->window, s->window, (size_t)s->params.winsz * sizeof(float));
  return c;
}

const CntrType kSegType = {"seg", "seg", nullptr, segFree, segClone, nullptr, nullptr, nullptr};

SegState *getSeg(Tcl_Interp *interp, const char *name) {
  return static_cast<SegState *>(Obj_GetData(interp, "seg", name));
}

// Reads the frames matrix and checks the segmenter's column is inside it.
bool getFrames(Tcl_Interp *interp, SegState *s, MxMatrix *a) {
  if (Mx_getReal(interp, a->text, a)) return false;
  if (s && s->params.index >= a->cols) {
    fail(interp, std::string("feature index ") + std::to_string(s->params.index) + " is past the " +
                     std::to_string(a->cols) + " columns of " + a->text);
    return false;
  }
  return true;
}

// Labels the frames of a into a new or given 1 x frames matrix.
bool label(Tcl_Interp *interp, SegState *s, MxMatrix *a, const char *out, MxMatrix *labels) {
  if (Mx_setReal(interp, out, 1, a->rows, labels)) return false;
  GS_Result *r = GS_CreateResult();
  int bad = segPipe(r, s, a->rows, a->cols, a->real, labels->real);
  if (bad) fail(interp, r->text ? r->text : "segPipe failed");
  GS_DeleteResult(r);
  return !bad;
}

// seg initialize -framesz n -winsz n -speech f -background f -floor f -ceil f -eps f -index n
int InitializeCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  SegParams *p = segDefault();
  int code = Cmds_ParseArgs(interp, 2, argc, argv,
                            "-framesz %i -winsz %i -speech %f -background %f -floor %f -ceil %f -eps %f -index %i",
                            &p->framesz, &p->winsz, &p->speech, &p->background, &p->floor, &p->ceil, &p->eps,
                            &p->index);
  if (code == TCL_OK) {
    GS_Result *r = GS_CreateResult();
    SegState *s = segInit(r, p);
    if (!s) {
      Tcl_AppendResult(interp, r->text ? r->text : "", (char *)nullptr);
      code = TCL_ERROR;
    } else if ((code = Obj_Create(interp, "seg", s)) != TCL_OK) {
      segNuke(s);
    }
    GS_DeleteResult(r);
  }
  DB_Free(p, kSource, __LINE__);
  return code;
}

// seg reset segob
int ResetCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *name = nullptr;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "segob %s", &name)) return TCL_ERROR;
  SegState *s = getSeg(interp, name);
  if (!s) return TCL_ERROR;
  segReset(s);
  Tcl_SetResult(interp, (char *)name, TCL_VOLATILE);
  return TCL_OK;
}

// seg segob frames ?labels?
int RunCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *name = nullptr, *out = nullptr;
  MxMatrix *a = Mx_create(), *l = Mx_create();
  int code = TCL_ERROR;
  SegState *s = nullptr;
  if (Cmds_ParseArgs(interp, 1, argc, argv, "segob %s inobA %s outobS ?s", &name, &a->text, &out) == TCL_OK &&
      (s = getSeg(interp, name)) && getFrames(interp, s, a) && label(interp, s, a, out, l))
    code = TCL_OK;
  Mx_destroy(l);
  Mx_destroy(a);
  return code;
}

// seg sbg segob frames ?labels? -sbg speech background garbage
int SbgCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *name = nullptr, *out = nullptr, *sp = nullptr, *bg = nullptr, *gb = nullptr;
  MxMatrix *a = Mx_create(), *l = Mx_create(), *ms = Mx_create(), *mb = Mx_create(), *mg = Mx_create();
  int code = TCL_ERROR;
  SegState *s = nullptr;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "segob %s inobA %s outobS ?s -sbg %s %s %s", &name, &a->text, &out, &sp,
                     &bg, &gb) == TCL_OK &&
      (s = getSeg(interp, name)) && getFrames(interp, s, a) && label(interp, s, a, out, l)) {
    code = TCL_OK;
    if (sp) {
      int frames = a->rows, ns = s->speechCount, nb = s->backgroundCount, ng = frames - ns - nb;
      if ((ns > 0 && Mx_setReal(interp, sp, ns, a->cols, ms)) ||
          (nb > 0 && Mx_setReal(interp, bg, nb, a->cols, mb)) ||
          (ng > 0 && Mx_setReal(interp, gb, ng, a->cols, mg))) {
        code = TCL_ERROR;
      } else {
        segCopy(frames, a->cols, a->real, l->real, ns > 0 ? ms->real : nullptr, nb > 0 ? mb->real : nullptr,
                ng > 0 ? mg->real : nullptr);
      }
    }
  }
  Mx_destroy(mg);
  Mx_destroy(mb);
  Mx_destroy(ms);
  Mx_destroy(l);
  Mx_destroy(a);
  return code;
}

// Reads labels (1 x frames) and frames (frames x cols); the label count
// must match the frames.
bool getLabelled(Tcl_Interp *interp, MxMatrix *l, MxMatrix *a) {
  if (Mx_getReal(interp, l->text, l) || Mx_getReal(interp, a->text, a)) return false;
  if (l->rows < 1 || l->cols != a->rows) {
    fail(interp, std::string("labels ") + l->text + " do not match the " + std::to_string(a->rows) + " frames of " +
                     a->text);
    return false;
  }
  return true;
}

// seg map labels frames ?out?
int MapCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *out = nullptr;
  MxMatrix *l = Mx_create(), *a = Mx_create(), *x = Mx_create();
  int code = TCL_ERROR;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "inobS %s inobA %s outobX ?s", &l->text, &a->text, &out) == TCL_OK &&
      getLabelled(interp, l, a) && Mx_setReal(interp, out, a->rows, a->cols, x) == 0) {
    segMap(a->rows, a->cols, a->real, l->real, x->real);
    code = TCL_OK;
  }
  Mx_destroy(x);
  Mx_destroy(a);
  Mx_destroy(l);
  return code;
}

// seg select type segob labels frames ?out?
int SelectCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  if (argc < 3) return fail(interp, "wrong # args: should be 'seg select type ..'");
  int type;
  if (!strcmp(argv[2], "speech")) type = SEG_SPEECH;
  else if (!strcmp(argv[2], "background")) type = SEG_BACKGROUND;
  else if (!strcmp(argv[2], "garbage")) type = SEG_GARBAGE;
  else return fail(interp, "wrong args: should be 'seg select type, where type is speech, background or garbage'");
  const char *name = nullptr, *out = nullptr;
  MxMatrix *l = Mx_create(), *a = Mx_create(), *x = Mx_create();
  int code = TCL_ERROR;
  SegState *s = nullptr;
  if (Cmds_ParseArgs(interp, 3, argc, argv, "segob %s inobS %s inobA %s outobX ?s", &name, &l->text, &a->text,
                     &out) == TCL_OK &&
      (s = getSeg(interp, name)) && getLabelled(interp, l, a)) {
    // The rows are counted from the labels given, so a label vector from
    // another run never overruns the output.
    int n = segCount(a->rows, l->real, type);
    if (Mx_setReal(interp, out, n > 0 ? n : 0, a->cols, x) == 0) {
      if (n > 0) segSelect(a->rows, a->cols, a->real, l->real, x->real, type);
      code = TCL_OK;
    }
  }
  Mx_destroy(x);
  Mx_destroy(a);
  Mx_destroy(l);
  return code;
}

// seg segment vector -framesize ms -silence ms
// Speech runs (value >= 0) joined over pauses of at most the silence
// length become segments labelled "segment".
int SegmentCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  float framesize = 10.0f, silence = 300.0f;
  MxMatrix *v = Mx_create();
  int code = TCL_ERROR;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "segvec %s -framesize %f -silence %f", &v->text, &framesize, &silence) ||
      Mx_getReal(interp, v->text, v)) {
    Mx_destroy(v);
    return TCL_ERROR;
  }
  if (!(framesize > 0) || !(silence >= 0) || (double)silence / framesize > 2147483647.0) {
    Mx_destroy(v);
    return fail(interp, "framesize must be positive and silence not negative");
  }
  int frames = v->rows > 0 ? v->cols : 0;
  const float *x = frames ? v->real[0] : nullptr;
  int minSil = (int)(silence / framesize);
  HalbrinList *list = newHalbrin((float)framesize);
  enum { START, SPEECH, PAUSE } state = frames && x[0] >= 0 ? SPEECH : START;
  int b = 0, m = 0;
  auto emit = [&](int begin, int end) {
    Segment seg = {(char *)"segment", 8, begin, end, 0.0f};
    appendSegment(nullptr, seg, list, 0);
  };
  for (int i = 0; i < frames; i++) {
    bool speech = x[i] >= 0;
    if (state == START && speech) {
      if (i - m > minSil) b = i;
      state = SPEECH;
    } else if (state == SPEECH && !speech) {
      m = i;
      state = PAUSE;
    } else if (state == PAUSE && speech) {
      if (i - m > minSil) {
        emit(b, m);
        b = i;
      }
      state = SPEECH;
    }
  }
  // The speech before a final pause is kept.
  if (state == SPEECH) emit(b, frames);
  else if (state == PAUSE) emit(b, m);
  code = Obj_Create(interp, "halbrin", list);
  if (code != TCL_OK) nukeHalbrin(list);
  Mx_destroy(v);
  return code;
}

const SubCmdEntry kTable[] = {
    {"initialize", InitializeCmd}, {"reset", ResetCmd}, {"sbg", SbgCmd},   {"map", MapCmd},
    {"select", SelectCmd},         {"segment", SegmentCmd}, {"*", RunCmd}, {nullptr, nullptr},
};

}  // namespace

extern "C" {

int Seg_Init(Tcl_Interp *interp) {
  int code = Tcl_PkgProvide(interp, "Seg", "1.0");
  if (code != TCL_OK) return code;
  Cntr_RegisterType(&kSegType);
  Cntr_RegisterType(Halbrin_Type());
  Cmds_CreateSwitchCmd(interp, "seg", nullptr, nullptr);
  Cmds_CreateSubCmds(interp, "seg", kTable);
  Asn_Init(interp);
  Asn_CreateCmd(interp, "SEGFPE", "return -code error -errorcode %k {%s}");
  return Obj_Init(interp);
}

int Seg_SafeInit(Tcl_Interp *interp) { return Seg_Init(interp); }

}  // extern "C"
