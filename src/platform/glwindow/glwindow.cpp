#include "glwindow.h"

#include <cstdio>

#include "glcontext.h"
#include "glxvisual.h"

static int classRegistered = 0;

int LtwodRegisterWindowClass(Tcl_Interp *) {
  classRegistered = 1;
  return 0;
}

static Tk_ClassProcs glProcs = {sizeof(Tk_ClassProcs), nullptr, LtwodCreateProc, nullptr};

void LtwodPrepareGLWindow(LtwodGLWindow *gl) {
  static const int kDepths[] = {32, 24, 0};
  GlxVisualRequest req;
  req.doubleBuffer = true;
  req.depthSizes = kDepths;
  req.windowDepth = DefaultDepth(gl->display, gl->screen);
  gl->visual = GlxChooseVisual(gl->display, gl->screen, req);
  if (!gl->visual) return;
  gl->doubleBuffer = 1;
  gl->colormap = XCreateColormap(gl->display, RootWindow(gl->display, gl->screen), gl->visual->visual, AllocNone);
  Tk_SetWindowVisual(gl->tkwin, gl->visual->visual, gl->visual->depth, gl->colormap);
  Tk_SetClassProcs(gl->tkwin, &glProcs, gl);
}

Window LtwodCreateProc(Tk_Window tkwin, Window parent, ClientData data) {
  LtwodGLWindow *gl = static_cast<LtwodGLWindow *>(data);
  XSetWindowAttributes atts = *Tk_Attributes(tkwin);
  atts.colormap = gl->colormap;
  unsigned long mask = CWBackPixmap | CWBorderPixel | CWBitGravity | CWWinGravity | CWBackingStore |
                       CWEventMask | CWColormap | CWDontPropagate;
  Window w = XCreateWindow(Tk_Display(tkwin), parent, Tk_X(tkwin), Tk_Y(tkwin), Tk_Width(tkwin) > 0 ? Tk_Width(tkwin) : 1,
                           Tk_Height(tkwin) > 0 ? Tk_Height(tkwin) : 1, 0, gl->visual->depth, InputOutput,
                           gl->visual->visual, mask, &atts);
  gl->window = w;
  XRaiseWindow(Tk_Display(tkwin), w);
  if (oglInitPixmap(gl, 1) != 0) {
    Tcl_Channel err = Tcl_GetStdChannel(TCL_STDERR);
    if (err) {
      Tcl_WriteChars(err, "oglInitPixmap in CreateWindow failed.\n", -1);
      Tcl_WriteChars(err, Tcl_GetStringResult(gl->interp), -1);
      Tcl_WriteChars(err, "\n\n", -1);
    }
  }
  return w;
}

int oglInitPixmap(LtwodGLWindow *gl, int) {
  if (!gl) return 1;
  Window w = gl->window ? gl->window : (gl->tkwin ? Tk_WindowId(gl->tkwin) : None);
  if (!w) {
    Tcl_SetResult(gl->interp, (char *)"oglInitPixmap: could not get hwnd", TCL_STATIC);
    return 1;
  }
  if (!gl->visual) {
    Tcl_SetResult(gl->interp, (char *)"oglInitPixmap: ChoosePixelFormat failed", TCL_STATIC);
    return 1;
  }
  if (!gl->context) gl->context = glXCreateContext(gl->display, gl->visual, nullptr, True);
  if (!gl->context) {
    Tcl_SetResult(gl->interp, (char *)"oglInitPixmap failed", TCL_STATIC);
    return 1;
  }
  return 0;
}

bool LtwodGLMakeCurrent(LtwodGLWindow *gl) {
  if (!gl->tkwin || !Tk_WindowId(gl->tkwin)) return false;
  if (!gl->context && oglInitPixmap(gl, gl->doubleBuffer) != 0) return false;
  if (glXGetCurrentContext() == gl->context && glXGetCurrentDrawable() == Tk_WindowId(gl->tkwin)) return true;
  GlContext_ReleaseCurrent();  // an offscreen context of this thread would block ours
  return glXMakeCurrent(gl->display, Tk_WindowId(gl->tkwin), gl->context);
}

void LtwodGLRelease(LtwodGLWindow *gl) {
  if (gl->context && glXGetCurrentContext() == gl->context) glXMakeCurrent(gl->display, None, nullptr);
}

void LtwodReleaseGLWindow(LtwodGLWindow *gl) {
  LtwodGLRelease(gl);
  if (gl->context) glXDestroyContext(gl->display, gl->context);
  gl->context = nullptr;
  if (gl->visual) XFree(gl->visual);
  gl->visual = nullptr;
  // The colormap belongs to the window until it goes; freed afterwards.
  if (gl->colormap && !gl->tkwin) XFreeColormap(gl->display, gl->colormap);
  gl->colormap = 0;
}
