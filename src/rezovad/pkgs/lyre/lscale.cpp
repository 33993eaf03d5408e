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

static Tk_ConfigSpec lscaleSpecs[] = {
    LYRE_SPEC_XSCROLL(Lscale),
    LYRE_SPEC_SIZE(Lscale, "20"),
    LYRE_SPEC_RESOLUTION(Lscale),
    LYRE_SPEC_BEGIN(Lscale),
    LYRE_SPEC_BACKGROUND(Lscale),
    LYRE_SPEC_COLOR(Lscale, "-foreground", "foreground", "Foreground", "black", "black", fg),
    {TK_CONFIG_SYNONYM, "-fg", "foreground", nullptr, nullptr, 0, 0, nullptr},
    LYRE_SPEC_MARKCOLOR(Lscale),
    {TK_CONFIG_FONT, "-font", "font", "Font", "times 9 bold", offsetof(Lscale, font), 0, nullptr},
    LYRE_SPEC_FIT(Lscale),
    LYRE_SPEC_END};

static const char *kCommands = "center, cget, configure, height, length, mark, msectopix, pixtomsec, width, xview";

static int Floor(double v) { return Lyre_ToInt(v, true); }

static void Geometry(LyreFrame *f) {
  Lscale *s = reinterpret_cast<Lscale *>(f);
  if (s->lastMsPerPixel != f->resolution) f->centre = -1.0;  // a new zoom keeps the first pixel
  Lyre_LengthGeometry(f, s->length);
  s->lastMsPerPixel = f->msPerPixel;
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
  Lyre_CopyGC(f, &s->textGC, s->fg->pixel, false, Tk_FontId(s->font));
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
    code = Lyre_CenterCmd(f, argc, argv);
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
    code = Lyre_LengthCmd(f, &s->length, argc, argv);
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
