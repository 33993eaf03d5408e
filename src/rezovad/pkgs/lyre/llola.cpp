// llola: the segment-label widget. A strip of consecutive labelled segments
// on the display widgets' time axis, one of them active, edited from Tcl.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "llola_segments.h"
#include "lyre.h"
#include "lyre_frame.h"
#include "yastro.h"

struct Llola {
  LyreFrame f;
  LlolaSegments *segs;
  double length;
  XColor *active, *fg;
  GC activeGC, textGC;
  Tk_Font font;
};

static Tk_ConfigSpec llolaSpecs[] = {
    LYRE_SPEC_CURSORS(Llola, "arrow"),
    LYRE_SPEC_XSCROLL(Llola),
    LYRE_SPEC_SIZE(Llola, "100"),
    LYRE_SPEC_BEGIN(Llola),
    LYRE_SPEC_RESOLUTION(Llola),
    LYRE_SPEC_BACKGROUND(Llola),
    LYRE_SPEC_COLOR(Llola, "-foreground", "foreground", "Foreground", "black", "black", fg),
    LYRE_SPEC_FIT(Llola),
    LYRE_SPEC_COLOR(Llola, "-active", "active", "Active", "lightBlue", "white", active),
    LYRE_SPEC_MARKCOLOR(Llola),
    {TK_CONFIG_SYNONYM, "-fg", "foreground", nullptr, nullptr, 0, 0, nullptr},
    {TK_CONFIG_FONT, "-font", "font", "Font", "times 9 bold", offsetof(Llola, font), 0, nullptr},
    LYRE_SPEC_END};

static const char *kCommands =
    "activeislast, append, backspace, begincenter, center, cget, configure, cursor1, cursor2, delete, endcenter, get, "
    "getactive, getnearest, height, label, length, load, mark, msectopix, newsegment, nextactive, prevactive,  "
    "pixtomsec, reset, setactive, setbegin, unsetactive, xview, width";

static int Floor(double v) { return Lyre_ToInt(v, true); }

static void Geometry(LyreFrame *f) { Lyre_LengthGeometry(f, reinterpret_cast<Llola *>(f)->length); }

static void Draw(LyreFrame *f, Drawable d, int x0, int x1) {
  Llola *l = reinterpret_cast<Llola *>(f);
  LlolaSegments &s = *l->segs;
  int h = Tk_Height(f->tkwin);
  int i = s.Find((x0 + f->firstPixel) * f->msPerPixel + f->begin);
  if (i < 0) i = 0;
  for (; i < s.Count(); i++) {
    int x = Floor((s.At(i).start - f->begin) / f->msPerPixel) - f->firstPixel;
    if (x >= x1) break;
    if (i == s.active) {
      int e = Floor((s.End(i, l->length) - f->begin) / f->msPerPixel) - f->firstPixel;
      int a = std::max(x, x0), b = std::min(e, x1);
      if (b > a) XFillRectangle(f->display, d, l->activeGC, a, 0, b - a, h);
    }
    XDrawLine(f->display, d, l->textGC, x, 0, x, h);
    const std::string &lab = s.At(i).label;
    Tk_DrawChars(f->display, d, l->textGC, l->font, lab.c_str(), (int)lab.size(), x + 2, h - 5);
  }
}

static void MakeGCs(LyreFrame *f) {
  Llola *l = reinterpret_cast<Llola *>(f);
  Lyre_CopyGC(f, &l->activeGC, l->active->pixel, false);
  Lyre_CopyGC(f, &l->textGC, l->fg->pixel, false, Tk_FontId(l->font));
}

static void FreeData(LyreFrame *f) {
  Llola *l = reinterpret_cast<Llola *>(f);
  delete l->segs;
  if (f->display) {
    if (l->activeGC) Tk_FreeGC(f->display, l->activeGC);
    if (l->textGC) Tk_FreeGC(f->display, l->textGC);
  }
}

static const LyreClass llolaClass = {"LScale",
                                     ExposureMask | StructureNotifyMask | FocusChangeMask,
                                     true,
                                     false,
                                     true,
                                     "\n    (horizontal scrolling command executed by sc)",
                                     llolaSpecs,
                                     Geometry,
                                     Draw,
                                     MakeGCs,
                                     FreeData,
                                     nullptr};

static Tcl_Obj *SegmentObj(const Llola *l, int i) {
  char a[TCL_DOUBLE_SPACE + 320], b[TCL_DOUBLE_SPACE + 320];
  snprintf(a, sizeof a, "%f", (double)l->segs->At(i).start);
  snprintf(b, sizeof b, "%f", l->segs->End(i, l->length));
  Tcl_Obj *el[3] = {Tcl_NewStringObj(a, -1), Tcl_NewStringObj(b, -1),
                    Tcl_NewStringObj(l->segs->At(i).label.c_str(), -1)};
  return Tcl_NewListObj(3, el);
}

// Replaces the labelling with {start stop label} elements; a gap between one
// stop and the next start, and the tail up to the length, become segments
// with empty labels.
static int Load(Llola *l, Tcl_Interp *interp, const char *list) {
  LlolaSegments &s = *l->segs;
  s.Clear();
  int n = 0;
  const char **els = nullptr;
  bool ok = Tcl_SplitList(interp, list, &n, &els) == TCL_OK;
  double prevStop = -1.0;
  for (int i = 0; ok && i < n; i++) {
    int m;
    const char **fl;
    if (Tcl_SplitList(interp, els[i], &m, &fl) != TCL_OK) {
      ok = false;
      break;
    }
    if (m >= 3) {
      double start = atof(fl[0]);
      if (prevStop >= 0 && start != prevStop && !s.Insert(prevStop, "")) ok = false;
      if (ok && !s.Insert(start, fl[2])) ok = false;
      if (!ok) Tcl_AppendResult(interp, "duplicate segment", (char *)NULL);
      prevStop = atof(fl[1]);
    } else {
      ok = false;
    }
    Tcl_Free((char *)fl);
  }
  if (els) Tcl_Free((char *)els);
  if (ok && prevStop >= 0 && prevStop < l->length && !s.Insert(prevStop, "")) {
    Tcl_AppendResult(interp, "duplicate segment", (char *)NULL);
    ok = false;
  }
  s.active = -1;
  if (!ok) {
    Tcl_AppendResult(interp, "malformed segment \"", list, "\",should be: {start stop phone} ?{start stop phone}?",
                     (char *)NULL);
    return TCL_ERROR;
  }
  return TCL_OK;
}

static int WidgetCmd(ClientData cd, Tcl_Interp *interp, int argc, const char **argv) {
  Llola *l = static_cast<Llola *>(cd);
  LyreFrame *f = &l->f;
  LlolaSegments &s = *l->segs;
  if (argc < 2) {
    Lyre_WrongArgs(interp, argv[0], " command ?arg arg ...?");
    Tcl_AppendResult(interp, "\ncommands are: ", kCommands, (char *)NULL);
    return TCL_ERROR;
  }
  Tcl_Preserve(l);
  int code = TCL_OK;
  bool changed = false;
  const char *c = argv[1];
  auto usage = [&](const char *syn, bool two = false) {
    Lyre_Usage(interp, argv[0], syn, two);
    code = TCL_ERROR;
  };
  // Sub-commands on the active segment share their count check and its absence.
  auto needActive = [&](int words, const char *syn) {
    if (argc != words) {
      usage(syn);
      return false;
    }
    if (s.active < 0) {
      Tcl_SetResult(interp, (char *)"no active segment", TCL_STATIC);
      code = TCL_ERROR;
      return false;
    }
    return true;
  };
  int ww = Tk_Width(f->tkwin);
  if (Lyre_Is(c, "activeislast")) {
    if (needActive(2, " activeislast")) Lyre_SetInt(interp, s.active == s.Count() - 1);
  } else if (Lyre_Is(c, "append")) {
    if (needActive(3, " append <string>")) {
      s.At(s.active).label += argv[2];
      changed = true;
    }
  } else if (Lyre_Is(c, "backspace")) {
    if (needActive(2, " backspace")) {
      std::string &lab = s.At(s.active).label;
      if (!lab.empty()) lab.pop_back();
      changed = true;
    }
  } else if (Lyre_Is(c, "begincenter")) {
    if (argc != 2) usage(" begincenter");
    else Lyre_SetDouble(interp, (ww / 2) * f->msPerPixel + f->begin);
  } else if (Lyre_Is(c, "center")) {
    code = Lyre_CenterCmd(f, argc, argv);
  } else if (Lyre_Is(c, "cget")) {
    code = Lyre_CgetCmd(f, argc, argv);
  } else if (Lyre_Is(c, "configure")) {
    code = Lyre_ConfigureCmd(f, argc, argv);
  } else if (Lyre_Is(c, "cursor1") || Lyre_Is(c, "cursor2")) {
    if (argc != 2) usage(c[6] == '1' ? " cursor1" : " cursor2");
    else code = Lyre_CursorCmd(f, c[6] == '2');
  } else if (Lyre_Is(c, "delete")) {
    if (needActive(2, " delete")) {
      s.Erase(s.active);
      changed = true;
    }
  } else if (Lyre_Is(c, "endcenter")) {
    if (argc != 2) usage(" endcenter");
    else Lyre_SetDouble(interp, (Floor((l->length - f->begin) / f->msPerPixel) - ww / 2) * f->msPerPixel + f->begin);
  } else if (Lyre_Is(c, "get")) {
    if (argc != 2) usage(" get");
    else {
      Tcl_Obj *r = Tcl_NewListObj(0, nullptr);
      for (int i = 0; i < s.Count(); i++)
        if (!s.At(i).label.empty()) Tcl_ListObjAppendElement(nullptr, r, SegmentObj(l, i));
      Tcl_SetObjResult(interp, r);
    }
  } else if (Lyre_Is(c, "getactive")) {
    if (argc != 2) usage(" getactive");
    else if (s.active >= 0) Tcl_SetObjResult(interp, SegmentObj(l, s.active));
  } else if (Lyre_Is(c, "getnearest")) {
    if (argc != 3) usage(" getnearest <msec>");
    else {
      int i = s.Nearest(atof(argv[2]));
      if (i >= 0) Tcl_SetObjResult(interp, SegmentObj(l, i));
    }
  } else if (Lyre_Is(c, "height") || Lyre_Is(c, "width")) {
    if (argc != 2) usage(c[0] == 'h' ? " height" : " width", true);
    else Lyre_SetInt(interp, c[0] == 'h' ? Tk_Height(f->tkwin) : ww);
  } else if (Lyre_Is(c, "label")) {
    if (argc > 3) usage(" label [<string>]");
    else if (needActive(argc, "")) {
      if (argc == 3) {
        s.At(s.active).label = argv[2];
        changed = true;
      }
      Tcl_SetResult(interp, (char *)s.At(s.active).label.c_str(), TCL_VOLATILE);
    }
  } else if (Lyre_Is(c, "length")) {
    code = Lyre_LengthCmd(f, &l->length, argc, argv);
  } else if (Lyre_Is(c, "load")) {
    if (argc != 3) usage(" load <lola>");
    else {
      code = Load(l, interp, argv[2]);
      f->markTime = -1.0;
      f->markPixel = -1;
      Lyre_EraseMark(f);
      changed = true;
    }
  } else if (Lyre_Is(c, "mark")) {
    if (argc > 4) usage(" mark ([x] | [m msec])");
    else code = Lyre_MarkCmd(f, argc, argv);
  } else if (Lyre_Is(c, "msectopix")) {
    if (argc != 3) usage(" msectopix <msec value>");
    else Lyre_SetInt(interp, Lyre_Pixel(f, atof(argv[2])) - f->firstPixel);
  } else if (Lyre_Is(c, "newsegment")) {
    if (argc != 3) usage(" newsegment <msec>");
    else {
      int at;
      if (!s.Insert(atof(argv[2]), "", &at)) {
        Tcl_AppendResult(interp, "duplicate segment", (char *)NULL);
        code = TCL_ERROR;
      } else {
        s.active = at;
        changed = true;
      }
    }
  } else if (Lyre_Is(c, "nextactive")) {
    if (needActive(2, " nextactive")) {
      s.active = s.active + 1 < s.Count() ? s.active + 1 : -1;
      changed = true;
    }
  } else if (Lyre_Is(c, "prevactive")) {
    if (needActive(2, " prevactive")) {
      s.active--;
      changed = true;
    }
  } else if (Lyre_Is(c, "pixtomsec")) {
    if (argc != 3) usage(" pixtomsec <x value>", true);
    else Lyre_SetDouble(interp, (atoi(argv[2]) + f->firstPixel) * f->msPerPixel + f->begin);
  } else if (Lyre_Is(c, "reset")) {
    if (argc != 2) usage(" reset");
    else {
      s.Clear();
      changed = true;
    }
  } else if (Lyre_Is(c, "setactive")) {
    if (argc != 3) usage(" setactive <msec>");
    else {
      s.active = s.Find(atof(argv[2]));
      changed = true;
    }
  } else if (Lyre_Is(c, "setbegin")) {
    if (needActive(3, " setbegin <msec>")) {
      double t = atof(argv[2]);
      int a = s.active;
      if (t >= 0 && t < l->length && (a == 0 || t > s.At(a - 1).start) && (a + 1 >= s.Count() || t < s.At(a + 1).start)) {
        s.At(a).start = (float)t;
        changed = true;
      }
    }
  } else if (Lyre_Is(c, "unsetactive")) {
    if (argc != 2) usage(" unsetactive");
    else {
      s.active = -1;
      changed = true;
    }
  } else if (Lyre_Is(c, "xview")) {
    code = Lyre_XviewCmd(f, argc, argv);
  } else {
    Tcl_AppendResult(interp, "bad command \"", c, "\"; should be", kCommands, (char *)NULL);
    code = TCL_ERROR;
  }
  if (changed) Lyre_ScheduleRedisplay(f);
  Tcl_Release(l);
  return code;
}

static double pendingLength;
static void BeforeOptions(LyreFrame *f) {
  Llola *l = reinterpret_cast<Llola *>(f);
  l->length = pendingLength;
  l->segs = new LlolaSegments;
}

// llola pathName length ?option value ...?
// Makes a segment-label widget for a strip of length ms; answers the path.
int LlolaCmd(ClientData cd, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 3) {
    Lyre_WrongArgs(interp, argv[0], " pathName length ?options?");
    return TCL_ERROR;
  }
  Llola *l = (Llola *)DB_Malloc(sizeof(Llola), __FILE__, __LINE__);
  memset(l, 0, sizeof *l);
  pendingLength = atof(argv[2]);
  return Lyre_Create(interp, static_cast<Tk_Window>(cd), argv[1], &l->f, &llolaClass, WidgetCmd, argc - 3, argv + 3,
                     BeforeOptions);
}
