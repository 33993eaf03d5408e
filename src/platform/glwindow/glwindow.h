// The OpenGL child window of the 2-D display widget: a Tk child window of
// class "OGL3DWINDOW" made with a GLX visual (RGBA 24, depth buffer 32 else
// 24, of the screen's default depth so that the widget's pixmaps copy into
// it) and a GLX rendering context on it.
//
// What callers rely on: LtwodPrepareGLWindow runs before the window exists
// (it chooses the visual and installs LtwodCreateProc); oglInitPixmap
// answers 0, or 1 with a static message in the interpreter result; the
// context is released by LtwodReleaseGLWindow, after which the record can
// be deleted.
#pragma once

#include <GL/glx.h>
#include <tcl.h>
#include <tk.h>

struct LtwodGLWindow {
  Tk_Window tkwin;
  Display *display;
  Tcl_Interp *interp;
  int screen;
  XVisualInfo *visual;
  Colormap colormap;
  GLXContext context;
  Window window;
  int doubleBuffer;  // of the context's visual
};

// Once per process; there is no class to register under X, so this only
// keeps the flag. 0 always.
int LtwodRegisterWindowClass(Tcl_Interp *interp);
// Chooses the visual, gives it to the Tk window and installs the create
// procedure; without a GL visual the window stays an ordinary one.
void LtwodPrepareGLWindow(LtwodGLWindow *gl);
Window LtwodCreateProc(Tk_Window tkwin, Window parent, ClientData data);
int oglInitPixmap(LtwodGLWindow *gl, int doubleBuffer);
// Makes the context current on the window; false when it cannot.
bool LtwodGLMakeCurrent(LtwodGLWindow *gl);
void LtwodGLRelease(LtwodGLWindow *gl);  // no context current
void LtwodReleaseGLWindow(LtwodGLWindow *gl);
