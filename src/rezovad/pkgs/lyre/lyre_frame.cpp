#include "lyre_frame.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>

#include "lyre_axis.h"
#include "yastro.h"

void Lyre_WrongArgs(Tcl_Interp *interp, const char *word, const char *synopsis) {
  Tcl_AppendResult(interp, "wrong # args: should be \"", word, synopsis, "\"", (char *)NULL);
}

void Lyre_Usage(Tcl_Interp *interp, const char *word, const char *synopsis, bool twoBlanks) {
  Tcl_AppendResult(interp, twoBlanks ? "usage:  " : "usage: ", word, synopsis, (char *)NULL);
}

void Lyre_SetInt(Tcl_Interp *interp, long v) {
  char buf[32];
  snprintf(buf, sizeof buf, "%ld", v);
  Tcl_SetResult(interp, buf, TCL_VOLATILE);
}

void Lyre_SetDouble(Tcl_Interp *interp, double v) {
  char buf[TCL_DOUBLE_SPACE + 320];
  snprintf(buf, sizeof buf, "%f", v);
  Tcl_SetResult(interp, buf, TCL_VOLATILE);
}

bool Lyre_Is(const char *word, const char *name) { return word[0] == name[0] && strcmp(word, name) == 0; }

// Pixel arithmetic is done in doubles and brought into int range, so extreme
// times never overflow.
int Lyre_ToInt(double v, bool floorIt) {
  if (floorIt) v = std::floor(v);
  if (!(v == v)) return 0;
  if (v > 1e9) return 1000000000;
  if (v < -1e9) return -1000000000;
  return (int)v;
}

int Lyre_Pixel(const LyreFrame *f, double ms) {
  double p = (ms - f->begin) / f->msPerPixel;
  return Lyre_ToInt(p, f->cls->floorRounding);
}

void Lyre_LengthGeometry(LyreFrame *f, double length) {
  f->msPerPixel = f->resolution;
  if (Tk_IsMapped(f->tkwin)) {
    int ww = Tk_Width(f->tkwin);
    if (f->fitToWindow && ww > 0 && length > 0) {
      f->centre = -1.0;
      f->firstPixel = 0;
      f->msPerPixel = length / ww;
    }
    if (f->centre >= 0) f->firstPixel = Lyre_ToInt((f->centre - f->begin) / f->msPerPixel, true) - ww / 2;
  }
  f->totalPixels = Lyre_ToInt((length - f->begin) / f->msPerPixel, true);
  f->markPixel = f->markTime >= 0 ? Lyre_ToInt((f->markTime - f->begin) / f->msPerPixel, true) : -1;
}

int Lyre_ShownFirst(const LyreFrame *f) { return f->cls->copyScroll ? f->drawnFirst : f->firstPixel; }
int Lyre_WindowWidth(const LyreFrame *f) { return Tk_Width(f->tkwin); }
int Lyre_WindowHeight(const LyreFrame *f) { return Tk_Height(f->tkwin); }

static void DisplayProc(ClientData cd);
static void ScrollProc(ClientData cd);

void Lyre_ScheduleRedisplay(LyreFrame *f) {
  if (!f->tkwin) return;
  if (!f->redisplayPending) {
    f->redisplayPending = 1;
    Tcl_DoWhenIdle(DisplayProc, f);
  }
  f->damageX = -1;
}

void Lyre_ScheduleDamage(LyreFrame *f, int x, int width) {
  if (!f->tkwin || f->redisplayPending) return;
  f->damageX = x;
  f->damageW = width;
  f->redisplayPending = 1;
  Tcl_DoWhenIdle(DisplayProc, f);
}

static void UpdateScrollbar(LyreFrame *f) {
  if (!f->xScrollCmd || !*f->xScrollCmd) return;
  if (f->cls->scrollable && !f->cls->scrollable(f)) return;
  double lo, hi;
  LyreScrollFractions(f->firstPixel, Lyre_WindowWidth(f), f->totalPixels, &lo, &hi);
  char buf[80];
  snprintf(buf, sizeof buf, " %g %g", lo, hi);
  Tcl_Interp *interp = f->interp;
  Tcl_Preserve(interp);
  if (Tcl_VarEval(interp, f->xScrollCmd, buf, (char *)NULL) != TCL_OK) {
    Tcl_AddErrorInfo(interp, f->cls->trailer);
    Tcl_BackgroundError(interp);
  }
  Tcl_Release(interp);
}

void Lyre_EraseMark(LyreFrame *f) {
  if (!f->tkwin) return;
  int w = Lyre_WindowWidth(f);
  int x = f->markDrawn - Lyre_ShownFirst(f);
  if (f->markDrawn >= 0 && x >= 0 && x < w && Tk_IsMapped(f->tkwin) && f->markGC)
    XDrawLine(f->display, Tk_WindowId(f->tkwin), f->markGC, x, 0, x, Lyre_WindowHeight(f));
  f->markDrawn = -1;
}

void Lyre_DrawMark(LyreFrame *f) {
  if (!f->tkwin || !Tk_IsMapped(f->tkwin)) return;
  Lyre_EraseMark(f);
  if (f->markPixel >= 0 && f->markPixel < f->totalPixels) {
    int x = f->markPixel - Lyre_ShownFirst(f);
    if (x >= 0 && x < Lyre_WindowWidth(f) && f->markGC)
      XDrawLine(f->display, Tk_WindowId(f->tkwin), f->markGC, x, 0, x, Lyre_WindowHeight(f));
    f->markDrawn = f->markPixel;
  }
}

static void Redisplay(LyreFrame *f) {
  Tk_Window tkwin = f->tkwin;
  f->redisplayPending = 0;
  f->scrollPending = 0;
  f->scrollShift = 0;
  f->drawnFirst = f->firstPixel;
  if (!tkwin || !Tk_IsMapped(tkwin)) return;
  if (f->geomDirty) {
    f->geomDirty = 0;
    f->cls->geometry(f);
  }
  int w = Tk_Width(tkwin), h = Tk_Height(tkwin);
  if (w <= 0 || h <= 0) return;
  if (!f->pixmap || f->pixW != w || f->pixH != h) {
    if (f->pixmap) Tk_FreePixmap(f->display, f->pixmap);
    f->pixmap = Tk_GetPixmap(f->display, Tk_WindowId(tkwin), w, h, Tk_Depth(tkwin));
    f->pixW = w;
    f->pixH = h;
    f->damageX = -1;
    f->copyAll = 0;
  }
  int x0 = 0, x1 = w;
  if (f->damageX >= 0) {
    x0 = f->damageX < w ? f->damageX : w;
    x1 = f->damageX + f->damageW < w ? f->damageX + f->damageW : w;
  }
  if (x1 > x0) {
    Tk_Fill3DRectangle(tkwin, f->pixmap, f->border, x0, 0, x1 - x0, h, 0, TK_RELIEF_FLAT);
    f->cls->draw(f, f->pixmap, x0, x1);
  }
  GC copyGC = Tk_GetGC(tkwin, 0, nullptr);
  if (f->copyAll) {
    // A copy scroll moved the whole pixmap: the window follows it whole.
    XCopyArea(f->display, f->pixmap, Tk_WindowId(tkwin), copyGC, 0, 0, w, h, 0, 0);
    f->markDrawn = -1;
    f->copyAll = 0;
  } else if (x1 > x0) {
    XCopyArea(f->display, f->pixmap, Tk_WindowId(tkwin), copyGC, x0, 0, x1 - x0, h, x0, 0);
    if (f->markDrawn >= f->drawnFirst + x0 && f->markDrawn < f->drawnFirst + x1) f->markDrawn = -1;
  }
  Tk_FreeGC(f->display, copyGC);
  Lyre_DrawMark(f);
  f->damageX = -1;
  f->damageW = -1;
  double c = (w / 2 + f->firstPixel) * f->msPerPixel + f->begin;
  if (f->cls->copyScroll) f->shownCentre = c;
  else f->centre = c;
  UpdateScrollbar(f);
}

static void DisplayProc(ClientData cd) { Redisplay(static_cast<LyreFrame *>(cd)); }

void Lyre_DisplayNow(LyreFrame *f) {
  if (f->redisplayPending) Tcl_CancelIdleCall(DisplayProc, f);
  Redisplay(f);
}

// The shown pixels move by the pending shift inside the offscreen pixmap;
// only the uncovered strip is drawn anew, then the window takes the pixmap.
static void ScrollProc(ClientData cd) {
  LyreFrame *f = static_cast<LyreFrame *>(cd);
  f->scrollPending = 0;
  int shift = f->scrollShift;
  f->scrollShift = 0;
  if (shift == 0 || !f->tkwin) return;
  int w = Lyre_WindowWidth(f), h = Lyre_WindowHeight(f);
  if (std::abs(shift) > w || !f->pixmap || f->pixW != w || f->pixH != h) {
    f->damageX = -1;
    Lyre_DisplayNow(f);
    return;
  }
  Lyre_EraseMark(f);
  GC gc = Tk_GetGC(f->tkwin, 0, nullptr);
  if (shift > 0) XCopyArea(f->display, f->pixmap, f->pixmap, gc, 0, 0, w - shift, h, shift, 0);
  else XCopyArea(f->display, f->pixmap, f->pixmap, gc, -shift, 0, w + shift, h, 0, 0);
  Tk_FreeGC(f->display, gc);
  if (shift >= 1) {
    f->damageX = 0;
    f->damageW = shift;
  } else {
    f->damageX = w + shift;
    f->damageW = -shift;
  }
  f->copyAll = 1;
  Lyre_DisplayNow(f);
}

void Lyre_SetFirst(LyreFrame *f, int first) {
  int old = f->firstPixel;
  f->firstPixel = first;
  if (!f->cls->copyScroll) {
    Lyre_ScheduleRedisplay(f);
    return;
  }
  if (f->redisplayPending || old == first) return;
  if (f->scrollPending) {
    f->scrollShift += old - first;
    return;
  }
  f->scrollShift = old - first;
  f->scrollPending = 1;
  Tcl_DoWhenIdle(ScrollProc, f);
}

static void EventProc(ClientData cd, XEvent *ev);
static void CmdDeleted(ClientData cd);

static void FreeRecord(char *mem) {
  LyreFrame *f = reinterpret_cast<LyreFrame *>(mem);
  if (f->display) Tk_FreeOptions(f->cls->specs, mem, f->display, 0);
  if (f->markGC) Tk_FreeGC(f->display, f->markGC);
  if (f->pixmap) Tk_FreePixmap(f->display, f->pixmap);
  f->cls->freeData(f);
  DB_Free(f, __FILE__, __LINE__);
}

static void EventProc(ClientData cd, XEvent *ev) {
  LyreFrame *f = static_cast<LyreFrame *>(cd);
  switch (ev->type) {
    case Expose:
      if (f->redisplayPending) {
        LyreMergeDamage(&f->damageX, &f->damageW, ev->xexpose.x, ev->xexpose.width);
      } else {
        f->damageX = ev->xexpose.x;
        f->damageW = ev->xexpose.width;
        f->redisplayPending = 1;
        Tcl_DoWhenIdle(DisplayProc, f);
      }
      break;
    case ConfigureNotify:
      f->cls->geometry(f);
      // A fitted view changes scale with the window: draw it anew.
      if (f->fitToWindow) Lyre_ScheduleRedisplay(f);
      break;
    case DestroyNotify:
      if (f->tkwin) {
        f->tkwin = nullptr;
        Tcl_DeleteCommandFromToken(f->interp, f->widgetCmd);
      }
      if (f->redisplayPending) Tcl_CancelIdleCall(DisplayProc, f);
      if (f->scrollPending) Tcl_CancelIdleCall(ScrollProc, f);
      f->redisplayPending = f->scrollPending = 0;
      Tcl_EventuallyFree(f, FreeRecord);
      break;
  }
}

static void CmdDeleted(ClientData cd) {
  LyreFrame *f = static_cast<LyreFrame *>(cd);
  if (f->tkwin) {
    Tk_Window w = f->tkwin;
    f->tkwin = nullptr;
    Tk_DestroyWindow(w);
  }
}

int Lyre_Configure(LyreFrame *f, int argc, const char **argv, int flags) {
  double oldRes = f->resolution;
  if (Tk_ConfigureWidget(f->interp, f->tkwin, f->cls->specs, argc, argv, (char *)f, flags) != TCL_OK) return TCL_ERROR;
  if (!(f->resolution > 0) || !std::isfinite(f->resolution)) {
    // A zero or negative scale would divide by zero or never end a loop.
    char buf[TCL_DOUBLE_SPACE];
    Tcl_PrintDouble(nullptr, f->resolution, buf);
    f->resolution = oldRes > 0 ? oldRes : 1.0;
    Tcl_ResetResult(f->interp);
    Tcl_AppendResult(f->interp, "bad resolution \"", buf, "\": must be a positive number", (char *)NULL);
    return TCL_ERROR;
  }
  f->cls->geometry(f);
  if (f->cls->clearMarkPixel) f->markPixel = -1;
  else f->markDrawn = -1;
  Tk_SetWindowBackground(f->tkwin, Tk_3DBorderColor(f->border)->pixel);
  XGCValues v;
  v.function = GXxor;
  v.foreground = f->markColor->pixel;
  v.graphics_exposures = False;
  if (f->markGC) Tk_FreeGC(f->display, f->markGC);
  f->markGC = Tk_GetGC(f->tkwin, GCFunction | GCForeground | GCGraphicsExposures, &v);
  f->cls->makeGCs(f);
  Tk_GeometryRequest(f->tkwin, f->width, f->height);
  Tk_SetInternalBorder(f->tkwin, 0);
  Lyre_ScheduleRedisplay(f);
  return TCL_OK;
}

int Lyre_Create(Tcl_Interp *interp, Tk_Window main, const char *path, LyreFrame *f, const LyreClass *cls,
                Tcl_CmdProc *widgetCmd, int argc, const char **argv, void (*beforeOptions)(LyreFrame *)) {
  Tk_Window tkwin = Tk_CreateWindowFromPath(interp, main, path, nullptr);
  if (!tkwin) {
    cls->freeData(f);
    DB_Free(f, __FILE__, __LINE__);
    return TCL_ERROR;
  }
  Tk_SetClass(tkwin, cls->tkClass);
  f->tkwin = tkwin;
  f->display = Tk_Display(tkwin);
  f->interp = interp;
  f->cls = cls;
  f->markPixel = f->markDrawn = f->damageX = f->damageW = -1;
  f->markTime = f->centre = f->shownCentre = -1.0;
  f->geomDirty = 1;
  f->resolution = f->msPerPixel = 1.0;
  f->widgetCmd = Tcl_CreateCommand(interp, Tk_PathName(tkwin), widgetCmd, f, CmdDeleted);
  Tk_CreateEventHandler(tkwin, cls->eventMask, EventProc, f);
  if (beforeOptions) beforeOptions(f);
  if (Lyre_Configure(f, argc, argv, 0) != TCL_OK) {
    // Destroying the window deletes the command and frees the record once.
    Tcl_Obj *msg = Tcl_GetObjResult(interp);
    Tcl_IncrRefCount(msg);
    Tk_DestroyWindow(tkwin);
    Tcl_SetObjResult(interp, msg);
    Tcl_DecrRefCount(msg);
    return TCL_ERROR;
  }
  Tcl_SetResult(interp, (char *)Tk_PathName(tkwin), TCL_VOLATILE);
  return TCL_OK;
}

int Lyre_CgetCmd(LyreFrame *f, int argc, const char **argv) {
  if (argc != 3) {
    Lyre_WrongArgs(f->interp, argv[0], " cget option");
    return TCL_ERROR;
  }
  return Tk_ConfigureValue(f->interp, f->tkwin, f->cls->specs, (char *)f, argv[2], 0);
}

int Lyre_ConfigureCmd(LyreFrame *f, int argc, const char **argv) {
  if (argc == 2) return Tk_ConfigureInfo(f->interp, f->tkwin, f->cls->specs, (char *)f, nullptr, 0);
  if (argc == 3) return Tk_ConfigureInfo(f->interp, f->tkwin, f->cls->specs, (char *)f, argv[2], 0);
  if (Lyre_Configure(f, argc - 2, argv + 2, TK_CONFIG_ARGV_ONLY) != TCL_OK) return TCL_ERROR;
  Lyre_ScheduleRedisplay(f);
  return TCL_OK;
}

int Lyre_CursorCmd(LyreFrame *f, bool second) {
  Tk_DefineCursor(f->tkwin, second ? f->cursor2 : f->cursor);
  return TCL_OK;
}

int Lyre_MarkCmd(LyreFrame *f, int argc, const char **argv) {
  if (argc == 3) {
    int x = atoi(argv[2]);
    if (x < 0) {
      f->markPixel = -1;
    } else {
      f->markPixel = x + Lyre_ShownFirst(f);
      f->markTime = f->markPixel * f->msPerPixel + f->begin;
    }
    Lyre_DrawMark(f);
  } else if (argc == 4) {
    f->markTime = atof(argv[3]);
    f->markPixel = Lyre_Pixel(f, f->markTime);
    Lyre_DrawMark(f);
  }
  Lyre_SetDouble(f->interp, f->markTime);
  return TCL_OK;
}

int Lyre_XviewCmd(LyreFrame *f, int argc, const char **argv) {
  if (!f->cls->copyScroll && f->fitToWindow) return TCL_OK;
  if (argc < 4) {
    if (f->cls->copyScroll) {
      Tcl_AppendResult(f->interp, "xview confusion: ", (char *)NULL);
      for (int i = 0; i < argc; i++) Tcl_AppendResult(f->interp, argv[i], "; ", (char *)NULL);
    } else {
      Tcl_SetResult(f->interp, (char *)"xview confusion", TCL_STATIC);
    }
    return TCL_ERROR;
  }
  double frac;
  int count;
  int w = Lyre_WindowWidth(f);
  int first = f->firstPixel;
  switch (Tk_GetScrollInfo(f->interp, argc, argv, &frac, &count)) {
    case TK_SCROLL_ERROR:
      return TCL_ERROR;
    case TK_SCROLL_MOVETO:
      first = (int)std::fmin(std::fmax(f->totalPixels * frac, -1e9), 1e9);
      break;
    case TK_SCROLL_PAGES:
      first += count * (w / 3);
      break;
    case TK_SCROLL_UNITS:
      first += count * (w / 10);
      break;
  }
  Lyre_SetFirst(f, LyreClampFirst(first, w, f->totalPixels));
  return TCL_OK;
}

int Lyre_CenterCmd(LyreFrame *f, int argc, const char **argv) {
  if (argc >= 3 && !f->fitToWindow) {
    f->centre = atof(argv[2]);
    Lyre_SetFirst(f, Lyre_ToInt((f->centre - f->begin) / f->msPerPixel, true) - Lyre_WindowWidth(f) / 2);
  }
  Lyre_SetDouble(f->interp, f->centre);
  return TCL_OK;
}

int Lyre_LengthCmd(LyreFrame *f, double *length, int argc, const char **argv) {
  if (argc > 3) {
    Lyre_Usage(f->interp, argv[0], " length [msec]");
    return TCL_ERROR;
  }
  if (argc == 3) {
    *length = atof(argv[2]);
    f->cls->geometry(f);
    if (f->firstPixel > f->totalPixels) f->firstPixel = std::max(f->totalPixels - Lyre_WindowWidth(f), 0);
    Lyre_ScheduleRedisplay(f);
  }
  Lyre_SetDouble(f->interp, f->totalPixels * f->msPerPixel + f->begin);
  return TCL_OK;
}

void Lyre_CopyGC(LyreFrame *f, GC *gc, unsigned long pixel, bool exposures, Font font) {
  XGCValues v;
  v.function = GXcopy;
  v.graphics_exposures = exposures;
  v.foreground = pixel;
  v.font = font;
  if (*gc) Tk_FreeGC(f->display, *gc);
  *gc = Tk_GetGC(f->tkwin, GCFunction | GCForeground | GCGraphicsExposures | (font != None ? GCFont : 0), &v);
}
