// lwave: the waveform widget. The min/max envelope of a "wave" object per
// pixel column, a region, the mark line, reference lines, pitch-mark ticks
// and a play cursor on the wall clock that scrolls the view by copying.
#include <time.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "lyre.h"
#include "lyre_axis.h"
#include "lyre_frame.h"
#include "obj.h"
#include "records.h"
#include "yastro.h"

struct Lwave {
  LyreFrame f;
  int16_t *samples;  // each stored as its complement, so louder is higher
  int32_t count;
  float rate;
  int hasWave;
  int16_t minS, maxS;
  int16_t rawMin, rawMax;  // of the stored samples
  XColor *fg, *sel;
  GC fgGC, selGC, redGC;
  XColor *red;
  double regStart, regEnd;
  int regPs, regPe, regDrawnS, regDrawnE;
  int32_t startSec;
  uint16_t startMs;
  double from, to;
  float fraction;
  int showCursor, centreFollow, running;
  Tcl_TimerToken timer;
  int tickIdle;
  int urvaneOpt, zeroline, normHeight, highLine, lowLine;
  float *marks;
  int nMarks;
};

static Tk_ConfigSpec lwaveSpecs[] = {
    LYRE_SPEC_CURSORS(Lwave, "crosshair"),
    LYRE_SPEC_XSCROLL(Lwave),
    LYRE_SPEC_SIZE(Lwave, "150"),
    LYRE_SPEC_RESOLUTION(Lwave),
    LYRE_SPEC_BEGIN(Lwave),
    LYRE_SPEC_BACKGROUND(Lwave),
    LYRE_SPEC_COLOR(Lwave, "-foreground", "foreground", "Foreground", "black", "black", fg),
    {TK_CONFIG_SYNONYM, "-fg", "foreground", nullptr, nullptr, 0, 0, nullptr},
    LYRE_SPEC_COLOR(Lwave, "-selection", "selection", "Selection", "#FFFF99", "white", sel),
    LYRE_SPEC_MARKCOLOR(Lwave),
    {TK_CONFIG_SYNONYM, "-sel", "selection", nullptr, nullptr, 0, 0, nullptr},
    LYRE_SPEC_FIT(Lwave),
    {TK_CONFIG_BOOLEAN, "-urvane", "urvane", "Urvane", "0", offsetof(Lwave, urvaneOpt), 0, nullptr},
    {TK_CONFIG_BOOLEAN, "-zeroline", "zeroline", "Zeroline", "0", offsetof(Lwave, zeroline), 0, nullptr},
    {TK_CONFIG_BOOLEAN, "-normWaveHeight", "normWaveHeight", "NormWaveHeight", "0", offsetof(Lwave, normHeight), 0, nullptr},
    {TK_CONFIG_INT, "-highLine", "highLine", "HighLine", "0", offsetof(Lwave, highLine), 0, nullptr},
    {TK_CONFIG_INT, "-lowLine", "lowLine", "LowLine", "0", offsetof(Lwave, lowLine), 0, nullptr},
    LYRE_SPEC_END};

static const char *kCommands =
    "center, cget, configure, cursor1, cursor2, data, height, mark, msectopix, pixtomsec, region, sync, "
    "unsetregion, wave, width or xview";

static int Trunc(double v) { return Lyre_ToInt(v); }

// Vertical range of the stored samples: their own with -normWaveHeight,
// else the whole 16-bit range.
static void SetRange(Lwave *w) {
  bool own = w->normHeight && w->count > 0;
  w->minS = own ? w->rawMin : -32768;
  w->maxS = own ? w->rawMax : 32767;
}

static void FreeMarks(Lwave *w) {
  DB_Free(w->marks, __FILE__, __LINE__);
  w->marks = nullptr;
  w->nMarks = 0;
}

static void SetWave(Lwave *w, const WaveRecord *wave) {
  DB_Free(w->samples, __FILE__, __LINE__);
  w->samples = nullptr;
  FreeMarks(w);
  w->count = wave ? wave->len : 0;
  w->rate = wave && wave->infoCount > 0 ? wave->info[0] : 0;
  w->hasWave = wave != nullptr;
  if (w->count > 0) {
    w->samples = (int16_t *)DB_Malloc(sizeof(int16_t) * w->count, __FILE__, __LINE__);
    LyreAdviseHugePages(w->samples, sizeof(int16_t) * w->count);
    // Local pointers and plain min/max let the compiler vectorise the copy.
    const int16_t *src = wave->samples;
    int16_t *dst = w->samples;
    int16_t lo = 32767, hi = -32768;
    for (int32_t i = 0, n = w->count; i < n; i++) {
      int16_t s = (int16_t)~src[i];
      dst[i] = s;
      lo = s < lo ? s : lo;
      hi = s > hi ? s : hi;
    }
    w->rawMin = (int16_t)lo;
    w->rawMax = (int16_t)hi;
  }
  SetRange(w);
  LyreFrame *f = &w->f;
  if (f->firstPixel > 0 && w->hasWave) {
    int last = Trunc((w->count - 1) * 1000.0 / w->rate / f->msPerPixel) - (f->tkwin ? Tk_Width(f->tkwin) : 0);
    if (f->firstPixel >= last) f->firstPixel = last < 0 ? 0 : last;
  }
  f->markTime = -1.0;
  f->markPixel = f->markDrawn = -1;
  w->regStart = w->regEnd = -1.0;
  w->regPs = w->regPe = w->regDrawnS = w->regDrawnE = -1;
}

static void Geometry(LyreFrame *f) {
  Lwave *w = reinterpret_cast<Lwave *>(f);
  f->msPerPixel = f->resolution;
  SetRange(w);  // -normWaveHeight may have changed
  if (!w->hasWave) {
    f->centre = f->markTime = -1.0;
    f->firstPixel = f->totalPixels = 0;
    w->regPs = w->regPe = f->markPixel = -1;
    return;
  }
  int ww = Tk_Width(f->tkwin);
  if (Tk_IsMapped(f->tkwin)) {
    if (f->fitToWindow) {
      double m = w->count * 1000.0 / ((double)ww * w->rate);
      if (m > 0 && std::isfinite(m)) {
        f->centre = -1.0;
        f->firstPixel = 0;
        f->msPerPixel = m;
      }
    }
    if (f->centre >= 0) f->firstPixel = Trunc((f->centre - f->begin) / f->msPerPixel) - ww / 2;
  }
  f->totalPixels = Trunc((w->count + 1) * 1000.0 / w->rate / f->msPerPixel - 0.001);
  w->regPs = w->regStart < 0 ? -1 : Trunc((w->regStart - f->begin) / f->msPerPixel);
  w->regPe = w->regEnd < 0 ? -1 : Trunc((w->regEnd - f->begin) / f->msPerPixel);
  w->regDrawnS = w->regDrawnE = -1;
  f->markPixel = f->markTime >= 0 ? Trunc((f->markTime - f->begin) / f->msPerPixel) : -1;
}

static void Draw(LyreFrame *f, Drawable d, int x0, int x1) {
  Lwave *w = reinterpret_cast<Lwave *>(f);
  if (!w->hasWave || w->count == 0) return;
  int first = f->drawnFirst, h = Tk_Height(f->tkwin), ww = Tk_Width(f->tkwin);
  if (w->regPe >= 0 && w->regPs < f->totalPixels) {
    int rs = std::max(w->regPs - first, x0), re = std::min(w->regPe - first, x1);
    if (re > x0 && rs < x1) XFillRectangle(f->display, d, w->selGC, rs, 0, re - rs, h);
  }
  w->regDrawnS = w->regPs;
  w->regDrawnE = w->regPe;
  double spp = w->rate * f->msPerPixel * 0.001;
  // A silent wave under -normWaveHeight has no range: draw it at the top.
  float k = (float)h / (w->maxS > w->minS ? (float)(w->maxS - w->minS) : 1.0f);
  int cs = x0 > 0 ? x0 - 1 : x0;
  std::vector<LyrePoint> pts;
  pts.reserve(2 * (ww + 4));
  LyreEnvelope(w->samples, w->count, spp, first, cs, x1, w->minS, k, &pts);
  if (pts.size() > 1) {
    std::vector<XPoint> xp(pts.size());
    for (size_t i = 0; i < pts.size(); i++) xp[i] = {pts[i].x, pts[i].y};
    XDrawLines(f->display, d, w->fgGC, xp.data(), (int)xp.size(), CoordModeOrigin);
  } else if (pts.size() == 1) {
    XDrawPoint(f->display, d, w->fgGC, pts[0].x, pts[0].y);
  }
  auto refLine = [&](double y) {
    int yy = Trunc(y);
    XDrawLine(f->display, d, w->redGC, 0, yy, ww, yy);
  };
  if (w->zeroline) refLine(-(double)w->minS * k);
  if (w->highLine != 0) refLine(-((double)w->highLine + w->minS) * k);
  if (w->lowLine != 0) refLine(-((double)w->lowLine + w->minS) * k);
  if (w->nMarks > 0) {
    double t0 = (cs + first) * f->msPerPixel + f->begin;
    int i = 0;
    while (i < w->nMarks && w->marks[i] < t0) i++;
    double prev = -1.0;
    for (int c = cs; c <= x1 && i < w->nMarks; c++) {
      double t = (c + first) * f->msPerPixel + f->begin;
      if (prev >= 0 && prev < w->marks[i] && w->marks[i] <= t) {
        XDrawLine(f->display, d, w->fgGC, c, 3 * h / 4, c, h);
        i++;
      }
      prev = t;
    }
  }
}

static void MakeGCs(LyreFrame *f) {
  Lwave *w = reinterpret_cast<Lwave *>(f);
  Lyre_CopyGC(f, &w->fgGC, w->fg->pixel, true);
  Lyre_CopyGC(f, &w->selGC, w->sel->pixel, true);
  // Reference lines are red on any visual (a fixed pixel value is not).
  if (!w->red) w->red = Tk_GetColor(nullptr, f->tkwin, Tk_GetUid("red"));
  Lyre_CopyGC(f, &w->redGC, w->red ? w->red->pixel : w->fg->pixel, true);
}

static void SyncTick(ClientData cd);

static void StopTimers(Lwave *w) {
  if (w->timer) Tcl_DeleteTimerHandler(w->timer);
  w->timer = nullptr;
  if (w->tickIdle) Tcl_CancelIdleCall(SyncTick, w);
  w->tickIdle = 0;
}

static void FreeData(LyreFrame *f) {
  Lwave *w = reinterpret_cast<Lwave *>(f);
  StopTimers(w);
  DB_Free(w->samples, __FILE__, __LINE__);
  FreeMarks(w);
  if (f->display) {
    if (w->fgGC) Tk_FreeGC(f->display, w->fgGC);
    if (w->selGC) Tk_FreeGC(f->display, w->selGC);
    if (w->redGC) Tk_FreeGC(f->display, w->redGC);
    if (w->red) Tk_FreeColor(w->red);
  }
}

static bool Scrollable(LyreFrame *f) { return reinterpret_cast<Lwave *>(f)->hasWave; }

static const LyreClass lwaveClass = {
    "Lw", ExposureMask | StructureNotifyMask, false, true, false,
    "\n    (horizontal scrolling command executed by lw)", lwaveSpecs, Geometry, Draw, MakeGCs, FreeData, Scrollable};

static void Now(int32_t *sec, uint16_t *ms) {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  *sec = (int32_t)ts.tv_sec;
  *ms = (uint16_t)(ts.tv_nsec / 1000000);
}

static void SyncTick(ClientData cd) {
  Lwave *w = static_cast<Lwave *>(cd);
  LyreFrame *f = &w->f;
  w->timer = nullptr;
  w->tickIdle = 0;
  if (!f->tkwin) return;
  int32_t sec;
  uint16_t ms;
  Now(&sec, &ms);
  double t = w->from + ((double)ms - w->startMs) + ((double)sec - w->startSec) * 1000.0;
  int p = Trunc((t - f->begin) / f->msPerPixel);
  if (t >= w->to || !w->running) {
    if (w->showCursor) {
      f->markTime = w->to;
      f->markPixel = Trunc((w->to - f->begin) / f->msPerPixel);
      if (!w->centreFollow) Lyre_DrawMark(f);
    }
    w->running = 0;
    return;
  }
  if (w->showCursor) {
    f->markTime = t;
    f->markPixel = p;
    if (!w->centreFollow) Lyre_DrawMark(f);
  }
  if (w->fraction > 0 || w->centreFollow) {
    int ww = Tk_Width(f->tkwin);
    int h;
    if (w->centreFollow) h = f->firstPixel + ww / 2 - p;
    else if (p - f->firstPixel < ww) h = p < f->firstPixel ? f->firstPixel - p : 0;
    else {
      h = ww + f->firstPixel - (int)(w->fraction * ww) - p;
      if (h >= 0) h = -1;
    }
    if (h != 0) Lyre_SetFirst(f, f->firstPixel - h);
  }
  w->timer = Tcl_CreateTimerHandler((int)std::max(f->msPerPixel, 1.0), SyncTick, w);
}

// pathName sync (start ?-b {sec ms}? ?-c? ?-f ms? ?-n? ?-s frac? ?-t ms? | stop)
// Runs the mark as a play cursor on the wall clock; answers the start stamp.
static int SyncCmd(Lwave *w, Tcl_Interp *interp, int argc, const char **argv) {
  LyreFrame *f = &w->f;
  if (!w->hasWave) {
    Tcl_SetResult(interp, (char *)"no wave", TCL_STATIC);
    return TCL_ERROR;
  }
  if (!strcmp(argv[2], "stop")) {
    w->running = 0;
    return TCL_OK;
  }
  if (strcmp(argv[2], "start")) {
    Tcl_SetResult(interp, (char *)"unknown sync command: use start or stop", TCL_STATIC);
    return TCL_ERROR;
  }
  Now(&w->startSec, &w->startMs);
  w->from = 0.0;
  w->to = w->rate > 0 ? w->count * 1000.0 / w->rate : 0.0;
  w->fraction = -1.0f;
  w->showCursor = 1;
  w->centreFollow = 0;
  for (int i = 3; i < argc; i++) {
    if (argv[i][0] != '-') continue;
    switch (argv[i][1]) {
      case 'b': {
        int n;
        const char **el;
        if (i + 1 >= argc || Tcl_SplitList(nullptr, argv[i + 1], &n, &el) != TCL_OK) n = -1, el = nullptr;
        if (n != 2) {
          if (el) Tcl_Free((char *)el);
          Tcl_SetResult(interp, (char *)"-begin requires {sec msec} argument", TCL_STATIC);
          return TCL_ERROR;
        }
        w->startSec = atoi(el[0]);
        w->startMs = (uint16_t)atoi(el[1]);
        Tcl_Free((char *)el);
        i++;
        break;
      }
      case 'c':
        if (!f->fitToWindow) w->centreFollow = 1;
        break;
      case 'f':
        if (i + 1 >= argc) {
          Tcl_SetResult(interp, (char *)"-from requires float msec argument", TCL_STATIC);
          return TCL_ERROR;
        }
        w->from = atof(argv[++i]);
        break;
      case 'n':
        w->showCursor = 0;
        break;
      case 's':
        if (i + 1 >= argc) {
          Tcl_SetResult(interp, (char *)"-scroll requires float % argument", TCL_STATIC);
          return TCL_ERROR;
        }
        if (!f->fitToWindow) w->fraction = (float)atof(argv[i + 1]);
        i++;
        break;
      case 't': {
        if (i + 1 >= argc) {
          Tcl_SetResult(interp, (char *)"-to requires float msec argument", TCL_STATIC);
          return TCL_ERROR;
        }
        double t = atof(argv[++i]);
        if (t <= w->to) w->to = t;
        break;
      }
      default:
        Tcl_AppendResult(interp, "unknown option", argv[i], (char *)NULL);
        return TCL_ERROR;
    }
  }
  // A second start replaces the running chain rather than adding one.
  StopTimers(w);
  w->running = 1;
  char buf[48];
  snprintf(buf, sizeof buf, "%d %d", (int)w->startSec, (int)w->startMs);
  Tcl_SetResult(interp, buf, TCL_VOLATILE);
  w->tickIdle = 1;
  Tcl_DoWhenIdle(SyncTick, w);
  return TCL_OK;
}

static int WaveFromName(Tcl_Interp *interp, const char *name, WaveRecord **out) {
  WaveRecord *wave = static_cast<WaveRecord *>(Obj_GetData(interp, "wave", name));
  if (!wave) {
    Tcl_AppendResult(interp, "wave object error", (char *)NULL);
    return TCL_ERROR;
  }
  if (wave->infoCount < 1 || !(wave->info[0] > 0) || !std::isfinite(wave->info[0])) {
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "wave \"", name, "\" has no sample rate", (char *)NULL);
    return TCL_ERROR;
  }
  *out = wave;
  return TCL_OK;
}

static int WidgetCmd(ClientData cd, Tcl_Interp *interp, int argc, const char **argv) {
  Lwave *w = static_cast<Lwave *>(cd);
  LyreFrame *f = &w->f;
  if (argc < 2) {
    Lyre_WrongArgs(interp, argv[0], " option ?arg arg ...?");
    Tcl_AppendResult(interp, "\ncommands are:", kCommands, (char *)NULL);
    return TCL_ERROR;
  }
  Tcl_Preserve(w);
  int code = TCL_OK;
  const char *c = argv[1];
  auto usage = [&](const char *syn, bool two = false) {
    Lyre_Usage(interp, argv[0], syn, two);
    code = TCL_ERROR;
  };
  if (Lyre_Is(c, "center")) {
    if (argc == 2 || f->fitToWindow) Lyre_SetDouble(interp, f->shownCentre);
    else if (w->hasWave) {
      f->centre = atof(argv[2]);
      if (argc == 3)
        Lyre_SetFirst(f, Trunc((f->centre - f->begin) / f->msPerPixel) - Tk_Width(f->tkwin) / 2);
    }
  } else if (Lyre_Is(c, "cget")) {
    code = Lyre_CgetCmd(f, argc, argv);
  } else if (Lyre_Is(c, "configure")) {
    code = Lyre_ConfigureCmd(f, argc, argv);
  } else if (Lyre_Is(c, "cursor1") || Lyre_Is(c, "cursor2")) {
    if (argc != 2) usage(c[6] == '1' ? " cursor1" : " cursor2");
    else code = Lyre_CursorCmd(f, c[6] == '2');
  } else if (Lyre_Is(c, "data")) {
    WaveRecord *wave;
    if (argc != 3) {
      Lyre_WrongArgs(interp, argv[0], " data <waveobj>");
      code = TCL_ERROR;
    } else if ((code = WaveFromName(interp, argv[2], &wave)) == TCL_OK) {
      SetWave(w, wave);
      code = Lyre_Configure(f, 0, nullptr, TK_CONFIG_ARGV_ONLY);
      Lyre_ScheduleRedisplay(f);
    }
  } else if (Lyre_Is(c, "height") || Lyre_Is(c, "width")) {
    if (argc != 2) usage(c[0] == 'h' ? " height" : " width", true);
    else Lyre_SetInt(interp, c[0] == 'h' ? Tk_Height(f->tkwin) : Tk_Width(f->tkwin));
  } else if (Lyre_Is(c, "mark")) {
    if (argc > 4) usage(" mark ([x] | [m msec])");
    else if (argc > 2 && (w->running || !w->hasWave)) Tcl_SetResult(interp, (char *)"-1", TCL_STATIC);
    else code = Lyre_MarkCmd(f, argc, argv);
  } else if (Lyre_Is(c, "msectopix")) {
    if (argc != 3) usage(" msectopix <msec value>");
    else Lyre_SetInt(interp, w->hasWave ? Lyre_Pixel(f, atof(argv[2])) - f->drawnFirst : 0);
  } else if (Lyre_Is(c, "pixtomsec")) {
    if (argc != 3) usage(" pixtomsec <x value>");
    else if (!w->hasWave) Tcl_SetResult(interp, (char *)"0", TCL_STATIC);
    else Lyre_SetDouble(interp, (atoi(argv[2]) + f->drawnFirst) * f->msPerPixel + f->begin);
  } else if (Lyre_Is(c, "region")) {
    if (argc == 2) {
      char buf[2 * TCL_DOUBLE_SPACE + 640];
      snprintf(buf, sizeof buf, "%f %f", w->regStart, w->regEnd);
      Tcl_SetResult(interp, buf, TCL_VOLATILE);
    } else if (argc != 4) {
      usage("  region [<first msec> <last msec>]");
    } else if (w->hasWave) {
      w->regStart = atof(argv[2]);
      w->regEnd = atof(argv[3]);
      int ps = Trunc((w->regStart - f->begin) / f->msPerPixel), pe = Trunc((w->regEnd - f->begin) / f->msPerPixel);
      w->regPs = ps;
      w->regPe = pe;
      if (!f->redisplayPending && w->regDrawnS == ps && w->regDrawnE >= 0) {
        // Only the changed tail needs drawing.
        f->damageX = std::min(w->regDrawnE, pe) - f->drawnFirst;
        f->damageW = std::abs(w->regDrawnE - pe);
        if (f->damageX < 0) {
          f->damageW += f->damageX;
          f->damageX = 0;
        }
        Lyre_ScheduleDamage(f, f->damageX, f->damageW);
      } else {
        Lyre_ScheduleRedisplay(f);
      }
    }
  } else if (Lyre_Is(c, "sync")) {
    if (argc < 3) usage(" sync (start | stop) options");
    else code = SyncCmd(w, interp, argc, argv);
  } else if (Lyre_Is(c, "unsetregion")) {
    if (argc != 2) usage("  unsetregion");
    else {
      w->regStart = w->regEnd = -1.0;
      w->regPs = w->regPe = -1;
      Lyre_ScheduleRedisplay(f);
    }
  } else if (Lyre_Is(c, "urvane")) {
    if (argc != 3) {
      Lyre_WrongArgs(interp, argv[0], " urvane <urvanestring>");
      code = TCL_ERROR;
    } else {
      FreeMarks(w);
      std::vector<float> v;
      for (const char *p = argv[2]; *p;) {
        while (*p == ' ') p++;
        if (!*p) break;
        const char *e = strchr(p, ' ');
        std::string word = e ? std::string(p, e - p) : std::string(p);
        v.push_back((float)atof(word.c_str()));
        p = e ? e : p + word.size();
      }
      if (!v.empty()) {
        w->marks = (float *)DB_Malloc(sizeof(float) * v.size(), __FILE__, __LINE__);
        memcpy(w->marks, v.data(), sizeof(float) * v.size());
        w->nMarks = (int)v.size();
      }
      Lyre_ScheduleRedisplay(f);
    }
  } else if (Lyre_Is(c, "value")) {
    if (argc != 3) usage(" value xpix", true);
    else {
      double idx = std::floor(w->rate * f->msPerPixel * 0.001 * (atoi(argv[2]) + f->drawnFirst));
      long v = 0;
      if (idx >= 0 && idx < w->count) v = ~w->samples[(int64_t)idx];
      Lyre_SetInt(interp, v);
    }
  } else if (Lyre_Is(c, "xview")) {
    code = Lyre_XviewCmd(f, argc, argv);
  } else {
    Tcl_AppendResult(interp, "bad option \"", c, "\": must be ", kCommands, (char *)NULL);
    code = TCL_ERROR;
  }
  Tcl_Release(w);
  return code;
}

static WaveRecord *pendingWave;  // the wave handed to the record before its options
static void BeforeOptions(LyreFrame *f) { SetWave(reinterpret_cast<Lwave *>(f), pendingWave); }

// lwave pathName waveob ?option value ...?
// Makes a waveform widget showing waveob ("" for none); answers the path.
int LwaveCmd(ClientData cd, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 3) {
    Lyre_WrongArgs(interp, argv[0], " pathName waveob ?options?");
    return TCL_ERROR;
  }
  WaveRecord *wave = nullptr;
  if (argv[2][0] && WaveFromName(interp, argv[2], &wave) != TCL_OK) return TCL_ERROR;
  Lwave *w = (Lwave *)DB_Malloc(sizeof(Lwave), __FILE__, __LINE__);
  memset(w, 0, sizeof *w);
  pendingWave = wave;
  return Lyre_Create(interp, static_cast<Tk_Window>(cd), argv[1], &w->f, &lwaveClass, WidgetCmd, argc - 3, argv + 3,
                     BeforeOptions);
}
