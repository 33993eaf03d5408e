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

// Messages of the widgets: S is the synopsis after the command word.
void Lyre_WrongArgs(Tcl_Interp *interp, const char *word, const char *synopsis);
void Lyre_Usage(Tcl_Interp *interp, const char *word, const char *synopsis, bool twoBlanks = false);

// Creation for a record allocated (zeroed) by the widget; frees it on failure.
int Lyre_Create(Tcl_Interp *interp, Tk_Window main, const char *path, LyreFrame *f, const LyreClass *cls,
                Tcl_CmdProc *widgetCmd, int argc, const char **argv, void (*beforeOptions)(LyreFrame *) = nullptr);
int Lyre_Configure(LyreFrame *f, int argc, const char **argv, int flags);

// Time axis.
int Lyre_Pixel(const LyreFrame *f, double ms);
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
void Lyre_SetInt(Tcl_Interp *interp, long v);
void Lyre_SetDouble(Tcl_Interp *interp, double v);  // "%f"

// Chooses a sub-command name: the first character picks the candidates,
// the whole word must match.
bool Lyre_Is(const char *word, const char *name);
