// Choice of a GLX visual for a Tk window that carries an OpenGL context.
//
// What callers rely on: the answer (free it with XFree) is an RGBA visual
// with 8 bits per colour, double-buffered when asked, with the first depth
// buffer size of `depthSizes` (0-ended, tried in order) that the server
// offers; with `windowDepth` non-zero only visuals of that depth are taken,
// so that pixmaps of the screen's default depth copy into the window. Null
// when none fits.
#pragma once

#include <GL/glx.h>

struct GlxVisualRequest {
  bool doubleBuffer = true;
  const int *depthSizes = nullptr;  // 0-ended; null: 16
  bool accumulation = false;        // tried with, then without
  int windowDepth = 0;              // 0: any
};

XVisualInfo *GlxChooseVisual(Display *display, int screen, const GlxVisualRequest &req);
