// The frame that the waveform, segment-label and time-scale widgets share:
// creation, configure, idle redisplay through an offscreen pixmap, the XOR
// mark line, the scroll protocol, xview, events and destruction. Each widget
// supplies a LyreClass of its differences and keeps a LyreFrame as the first
// member of its record, so that its option table can address both.
//
// What callers rely on: every redisplay is coalesced into one idle call; a
// destroyed widget has no idle call or timer left that reaches its record;
// -resolution must stay a positive number (a configure that breaks it fails
// and keeps the old value).
#pragma once

#include <tcl.h>
#include <tk.h>

#include <cstddef>
#include <string>

struct LyreFrame;

struct LyreClass {
  const char *tkClass;     // "Lw", "LScale"
  long eventMask;
  bool floorRounding;      // time to pixel: floor, else truncation toward zero
  bool copyScroll;         // horizontal scrolling copies the shown pixels
  bool clearMarkPixel;     // after configure: clear the mark pixel, else forget the drawn line
  const char *trailer;     // added to the error information of a failing scroll command
  Tk_ConfigSpec *specs;
  void (*geometry)(LyreFrame *);
  void (*draw)(LyreFrame *, Drawable d, int x0, int x1);
  void (*makeGCs)(LyreFrame *);    // the widget's own graphics contexts, after each configure
  void (*freeData)(LyreFrame *);   // the widget's own data and contexts, at destruction
  bool (*scrollable)(LyreFrame *); // null: the scroll command is always called
};

struct LyreFrame {
  Tk_Window tkwin;
  Display *display;
  Tcl_Interp *interp;
  Tcl_Command widgetCmd;
  const LyreClass *cls;

  // Options common to the three widgets.
  char *xScrollCmd;
  int width, height;
  double resolution, begin;
  Tk_3DBorder border;
  int fitToWindow;
  XColor *markColor;
  Tk_Cursor cursor, cursor2;

  double msPerPixel;
  int totalPixels, firstPixel;
  int drawnFirst;      // first pixel of what the window shows (differs while a scroll is pending)
  double centre;       // requested centre, ms; -1 = none
  double shownCentre;  // time of the window's middle at the last redisplay
  double markTime;
  int markPixel, markDrawn;
  GC markGC;
  int damageX, damageW;
  int redisplayPending, geomDirty, copyAll;
  int scrollShift, scrollPending;
  Pixmap pixmap;
  int pixW, pixH;
  double lastGoodResolution;
};

// Option rows that the widgets share, for a record type T whose first
// member is the LyreFrame f. Each widget lists them in its own order.
#define LYRE_OFF(T, field) offsetof(T, field)
#define LYRE_SPEC_CURSORS(T, def)                                                                               \
  {TK_CONFIG_ACTIVE_CURSOR, "-cursor", "cursor", "Cursor", def, LYRE_OFF(T, f.cursor), TK_CONFIG_NULL_OK, nullptr}, \
  {TK_CONFIG_CURSOR, "-cursor2", "cursor2", "Cursor2", "sb_h_double_arrow", LYRE_OFF(T, f.cursor2), TK_CONFIG_NULL_OK, nullptr}
#define LYRE_SPEC_XSCROLL(T) \
  {TK_CONFIG_STRING, "-xscrollcommand", "xScrollCommand", "XScrollCommand", "", LYRE_OFF(T, f.xScrollCmd), TK_CONFIG_NULL_OK, nullptr}
#define LYRE_SPEC_SIZE(T, heightDefault)                                                                   \
  {TK_CONFIG_INT, "-width", "width", "Width", "400", LYRE_OFF(T, f.width), 0, nullptr},             \
  {TK_CONFIG_INT, "-height", "height", "Height", heightDefault, LYRE_OFF(T, f.height), 0, nullptr}
#define LYRE_SPEC_RESOLUTION(T) \
  {TK_CONFIG_DOUBLE, "-resolution", "resolution", "Resolution", "1.0", LYRE_OFF(T, f.resolution), 0, nullptr}
#define LYRE_SPEC_BEGIN(T) {TK_CONFIG_DOUBLE, "-begin", "begin", "Begin", "0.0", LYRE_OFF(T, f.begin), 0, nullptr}
#define LYRE_SPEC_BACKGROUND(T)                                                                                        \
  {TK_CONFIG_BORDER, "-background", "background", "Background", "white", LYRE_OFF(T, f.border), TK_CONFIG_COLOR_ONLY, nullptr}, \
  {TK_CONFIG_BORDER, "-background", "background", "Background", "white", LYRE_OFF(T, f.border), TK_CONFIG_MONO_ONLY, nullptr},  \
  {TK_CONFIG_SYNONYM, "-bg", "background", nullptr, nullptr, 0, 0, nullptr}
#define LYRE_SPEC_COLOR(T, opt, db, cls, colour, mono, field)                                     \
  {TK_CONFIG_COLOR, opt, db, cls, colour, LYRE_OFF(T, field), TK_CONFIG_COLOR_ONLY, nullptr}, \
  {TK_CONFIG_COLOR, opt, db, cls, mono, LYRE_OFF(T, field), TK_CONFIG_MONO_ONLY, nullptr}
#define LYRE_SPEC_MARKCOLOR(T) LYRE_SPEC_COLOR(T, "-markcolor", "markColor", "MarkColor", "yellow", "black", f.markColor)
#define LYRE_SPEC_FIT(T) \
  {TK_CONFIG_BOOLEAN, "-fittowindow", "fitToWindow", "FitToWindow", "0", LYRE_OFF(T, f.fitToWindow), 0, nullptr}
#define LYRE_SPEC_END {TK_CONFIG_END, nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr}

// Messages of the widgets: S is the synopsis after the command word.
void Lyre_WrongArgs(Tcl_Interp *interp, const char *word, const char *synopsis);
void Lyre_Usage(Tcl_Interp *interp, const char *word, const char *synopsis, bool twoBlanks = false);

// Creation for a record allocated (zeroed) by the widget; frees it on failure.
int Lyre_Create(Tcl_Interp *interp, Tk_Window main, const char *path, LyreFrame *f, const LyreClass *cls,
                Tcl_CmdProc *widgetCmd, int argc, const char **argv, void (*beforeOptions)(LyreFrame *) = nullptr);
int Lyre_Configure(LyreFrame *f, int argc, const char **argv, int flags);

// Time axis.
int Lyre_Pixel(const LyreFrame *f, double ms);
// A double brought to int range (NaN reads 0), after floor when asked.
int Lyre_ToInt(double v, bool floorIt = false);
// Geometry of a strip of `length` ms under the floor rule (label and ruler
// widgets): scale, fit to the window, centre, total pixels, mark pixel.
void Lyre_LengthGeometry(LyreFrame *f, double length);
int Lyre_ShownFirst(const LyreFrame *f);
int Lyre_WindowWidth(const LyreFrame *f);
int Lyre_WindowHeight(const LyreFrame *f);

void Lyre_ScheduleRedisplay(LyreFrame *f);  // whole window
// Redraws only [x, x + width) unless a redisplay is pending already.
void Lyre_ScheduleDamage(LyreFrame *f, int x, int width);
void Lyre_DisplayNow(LyreFrame *f);
void Lyre_DrawMark(LyreFrame *f);
void Lyre_EraseMark(LyreFrame *f);
// Moves the view so that strip pixel `first` stands at window x 0.
void Lyre_SetFirst(LyreFrame *f, int first);

// Sub-commands that behave alike in the three widgets.
int Lyre_CgetCmd(LyreFrame *f, int argc, const char **argv);
int Lyre_ConfigureCmd(LyreFrame *f, int argc, const char **argv);
int Lyre_MarkCmd(LyreFrame *f, int argc, const char **argv);
int Lyre_XviewCmd(LyreFrame *f, int argc, const char **argv);
int Lyre_CursorCmd(LyreFrame *f, bool second);
// center ?ms? and length ?ms? of the label and ruler widgets.
int Lyre_CenterCmd(LyreFrame *f, int argc, const char **argv);
int Lyre_LengthCmd(LyreFrame *f, double *length, int argc, const char **argv);
// Replaces *gc by a GXcopy context drawing in `pixel` (with `font` unless None).
void Lyre_CopyGC(LyreFrame *f, GC *gc, unsigned long pixel, bool exposures, Font font = None);
void Lyre_SetInt(Tcl_Interp *interp, long v);
void Lyre_SetDouble(Tcl_Interp *interp, double v);  // "%f"

// Chooses a sub-command name: the first character picks the candidates,
// the whole word must match.
bool Lyre_Is(const char *word, const char *name);
