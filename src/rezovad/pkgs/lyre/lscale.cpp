// lscale: the time ruler of the display widgets. Tick steps follow the zoom
// so that major ticks stay 50 to 250 pixels apart.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "lyre.h"
#include "lyre_axis.h"
#include "lyre_frame.h"
#include "yastro.h"

struct Lscale {
  LyreFrame f;
  double length;
  double minor, major;
  double lastMsPerPixel;
  XColor *fg;
  GC textGC;
  Tk_Font font;
};

#define OFF(field) offsetof(Lscale, field)

static Tk_ConfigSpec lscaleSpecs[] = {
    {TK_CONFIG_STRING, "-xscrollcommand", "xScrollCommand", "XScrollCommand", "", OFF(f.xScrollCmd), TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_INT, "-width", "width", "Width", "400", OFF(f.width), 0, nullptr},
    {TK_CONFIG_INT, "-height", "height", "Height", "20", OFF(f.height), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-resolution", "resolution", "Resolution", "1.0", OFF(f.resolution), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-begin", "begin", "Begin", "0.0", OFF(f.begin), 0, nullptr},
    {TK_CONFIG_BORDER, "-background", "background", "Background", "white", OFF(f.border), TK_CONFIG_COLOR_ONLY, nullptr},
    {TK_CONFIG_BORDER, "-background", "background", "Background", "white", OFF(f.border), TK_CONFIG_MONO_ONLY, nullptr},
    {TK_CONFIG_SYNONYM, "-bg", "background", nullptr, nullptr, 0, 0, nullptr},
    {TK_CONFIG_COLOR, "-foreground", "foreground", "Foreground", "black", OFF(fg), TK_CONFIG_COLOR_ONLY, nullptr},
    {TK_CONFIG_COLOR, "-foreground", "foreground", "Foreground", "black", OFF(fg), TK_CONFIG_MONO_ONLY, nullptr},
    {TK_CONFIG_SYNONYM, "-fg", "foreground", nullptr, nullptr, 0, 0, nullptr},
    {TK_CONFIG_COLOR, "-markcolor", "markColor", "MarkColor", "yellow", OFF(f.markColor), TK_CONFIG_COLOR_ONLY, nullptr},
    {TK_CONFIG_COLOR, "-markcolor", "markColor", "MarkColor", "black", OFF(f.markColor), TK_CONFIG_MONO_ONLY, nullptr},
    {TK_CONFIG_FONT, "-font", "font", "Font", "times 9 bold", OFF(font), 0, nullptr},
    {TK_CONFIG_BOOLEAN, "-fittowindow", "fitToWindow", "FitToWindow", "0", OFF(f.fitToWindow), 0, nullptr},
    {TK_CONFIG_END, nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr}};

static const char *kCommands = "center, cget, configure, height, length, mark, msectopix, pixtomsec, width, xview";

static int Floor(double v) {
  v = std::floor(v);
  return v > 1e9 ? 1000000000 : v < -1e9 ? -1000000000 : (v == v ? (int)v : 0);
}

static void Geometry(LyreFrame *f) {
  Lscale *s = reinterpret_cast<Lscale *>(f);
  if (s->lastMsPerPixel != f->resolution) f->centre = -1.0;  // a new zoom keeps the first pixel
  f->msPerPixel = f->resolution;
  if (Tk_IsMapped(f->tkwin)) {
    int ww = Tk_Width(f->tkwin);
    if (f->fitToWindow && ww > 0 && s->length > 0) {
      f->centre = -1.0;
      f->firstPixel = 0;
      f->msPerPixel = s->length / ww;
    }
    if (f->centre >= 0) f->firstPixel = Floor((f->centre - f->begin) / f->msPerPixel) - ww / 2;
  }
  s->lastMsPerPixel = f->msPerPixel;
  f->totalPixels = Floor((s->length - f->begin) / f->msPerPixel);
  f->markPixel = f->markTime >= 0 ? Floor((f->markTime - f->begin) / f->msPerPixel) : -1;
  f->markDrawn = -1;
  if (!LyreTicks(f->msPerPixel, &s->major, &s->minor)) s->major = s->minor = 0;
}

static void Draw(LyreFrame *f, Drawable d, int x0, int x1) {
  Lscale *s = reinterpret_cast<Lscale *>(f);
  double minor = s->minor, m = f->msPerPixel;
  if (!(minor > 0)) return;
  int h = Tk_Height(f->tkwin);
  std::string fmt = LyreLabelFormat(s->major);
  int p0 = std::max(x0 + f->firstPixel, 0);
  int p1 = std::min(x1 + f->firstPixel, f->totalPixels) + 1;
  double t0 = std::ceil((p0 * m + f->begin) / minor) * minor;
  double t1 = std::ceil((p1 * m + f->begin) / minor) * minor;
  // Counting steps (not adding them up) keeps the times exact and the loop finite.
  long n0 = std::lround(t0 / minor), n1 = std::lround(t1 / minor);
  for (long k = n0; k <= n1; k++) {
    double t = k * minor;
    int x = Floor((t - f->begin) / m) - f->firstPixel;
    long n = (long)(t / minor + 0.1);
    if (n % 5 != 0) {
      XDrawLine(f->display, d, s->textGC, x, 0, x, (int)(h * 0.33));
    } else {
      XDrawLine(f->display, d, s->textGC, x, 0, x, (int)(h * 0.66));
      if (n % 10 != 0) {
        char buf[64];
        snprintf(buf, sizeof buf, fmt.c_str(), t);
        Tk_DrawChars(f->display, d, s->textGC, s->font, buf, (int)strlen(buf), x + 1, h - 2);
      }
    }
  }
}

static void MakeGCs(LyreFrame *f) {
  Lscale *s = reinterpret_cast<Lscale *>(f);
  XGCValues v;
  v.function = GXcopy;
  v.graphics_exposures = False;
  v.foreground = s->fg->pixel;
  v.font = Tk_FontId(s->font);
  if (s->textGC) Tk_FreeGC(f->display, s->textGC);
  s->textGC = Tk_GetGC(f->tkwin, GCFunction | GCForeground | GCGraphicsExposures | GCFont, &v);
}

static void FreeData(LyreFrame *f) {
  Lscale *s = reinterpret_cast<Lscale *>(f);
  if (f->display && s->textGC) Tk_FreeGC(f->display, s->textGC);
}

static const LyreClass lscaleClass = {"LScale",  ExposureMask | StructureNotifyMask,
                                      true,      false,
                                      true,      "\n    (horizontal scrolling command executed by sc)",
                                      lscaleSpecs, Geometry,
                                      Draw,      MakeGCs,
                                      FreeData,  nullptr};

static int WidgetCmd(ClientData cd, Tcl_Interp *interp, int argc, const char **argv) {
  Lscale *s = static_cast<Lscale *>(cd);
  LyreFrame *f = &s->f;
  if (argc < 2) {
    Lyre_WrongArgs(interp, argv[0], " command ?arg arg ...?");
    Tcl_AppendResult(interp, "\ncommands are: ", kCommands, (char *)NULL);
    return TCL_ERROR;
  }
  Tcl_Preserve(s);
  int code = TCL_OK;
  const char *c = argv[1];
  int ww = Tk_Width(f->tkwin);
  auto usage = [&](const char *syn) {
    Lyre_Usage(interp, argv[0], syn);
    code = TCL_ERROR;
  };
  if (Lyre_Is(c, "center")) {
    if (argc >= 3 && !f->fitToWindow) {
      f->centre = atof(argv[2]);
      Lyre_SetFirst(f, Floor((f->centre - f->begin) / f->msPerPixel) - ww / 2);
    }
    Lyre_SetDouble(interp, f->centre);
  } else if (Lyre_Is(c, "cget")) {
    code = Lyre_CgetCmd(f, argc, argv);
  } else if (Lyre_Is(c, "configure")) {
    code = Lyre_ConfigureCmd(f, argc, argv);
  } else if (Lyre_Is(c, "height") || Lyre_Is(c, "width")) {
    if (argc != 2) {
      Lyre_WrongArgs(interp, argv[0], c[0] == 'h' ? " height" : " width");
      code = TCL_ERROR;
    } else {
      Lyre_SetInt(interp, c[0] == 'h' ? Tk_Height(f->tkwin) : ww);
    }
  } else if (Lyre_Is(c, "length")) {
    if (argc > 3) usage(" length [msec]");
    else {
      if (argc == 3) {
        s->length = atof(argv[2]);
        Geometry(f);
        if (f->firstPixel > f->totalPixels) f->firstPixel = std::max(f->totalPixels - ww, 0);
        Lyre_ScheduleRedisplay(f);
      }
      Lyre_SetDouble(interp, f->totalPixels * f->msPerPixel + f->begin);
    }
  } else if (Lyre_Is(c, "mark")) {
    if (argc > 4) usage(" mark ([x] | [m msec])");
    else code = Lyre_MarkCmd(f, argc, argv);
  } else if (Lyre_Is(c, "msectopix")) {
    if (argc != 3) usage(" msectopix <msec>");
    else Lyre_SetInt(interp, Lyre_Pixel(f, atof(argv[2])) - f->firstPixel);
  } else if (Lyre_Is(c, "pixtomsec")) {
    if (argc != 3) usage(" pixtomsec <x value>");
    else Lyre_SetDouble(interp, (atoi(argv[2]) + f->firstPixel) * f->msPerPixel + f->begin);
  } else if (Lyre_Is(c, "xview")) {
    code = Lyre_XviewCmd(f, argc, argv);
  } else {
    Tcl_AppendResult(interp, "bad command \"", c, "\"; should be", kCommands, (char *)NULL);
    code = TCL_ERROR;
  }
  Tcl_Release(s);
  return code;
}

static double pendingLength;
static void BeforeOptions(LyreFrame *f) {
  Lscale *s = reinterpret_cast<Lscale *>(f);
  s->length = pendingLength;
  s->lastMsPerPixel = 1.0;
}

// lscale pathName length ?option value ...?
// Makes a time ruler for a strip of length ms; answers the path.
int LscaleCmd(ClientData cd, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 3) {
    Lyre_WrongArgs(interp, argv[0], " pathName length ?options?");
    return TCL_ERROR;
  }
  Lscale *s = (Lscale *)DB_Malloc(sizeof(Lscale), __FILE__, __LINE__);
  memset(s, 0, sizeof *s);
  pendingLength = atof(argv[2]);
  return Lyre_Create(interp, static_cast<Tk_Window>(cd), argv[1], &s->f, &lscaleClass, WidgetCmd, argc - 3, argv + 3,
                     BeforeOptions);
}
