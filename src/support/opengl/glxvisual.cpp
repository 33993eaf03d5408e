#include "glxvisual.h"

#include <vector>

namespace {

XVisualInfo *Try(Display *display, int screen, const GlxVisualRequest &req, int depthSize, bool accum) {
  std::vector<int> a = {GLX_RGBA, GLX_RED_SIZE, 8, GLX_GREEN_SIZE, 8, GLX_BLUE_SIZE, 8, GLX_DEPTH_SIZE, depthSize};
  if (req.doubleBuffer) a.push_back(GLX_DOUBLEBUFFER);
  if (accum) a.insert(a.end(), {GLX_ACCUM_RED_SIZE, 8, GLX_ACCUM_GREEN_SIZE, 8, GLX_ACCUM_BLUE_SIZE, 8});
  a.push_back(None);
  XVisualInfo *vi = glXChooseVisual(display, screen, a.data());
  if (vi && req.windowDepth && vi->depth != req.windowDepth) {
    // glXChooseVisual answers its best match only: look through the
    // visuals of the wanted depth for one that offers the same.
    XFree(vi);
    vi = nullptr;
    XVisualInfo templ{};
    templ.screen = screen;
    templ.depth = req.windowDepth;
    int n = 0;
    XVisualInfo *all = XGetVisualInfo(display, VisualScreenMask | VisualDepthMask, &templ, &n);
    for (int i = 0; all && i < n && !vi; i++) {
      int v = 0, dbl = 0, r = 0, g = 0, b = 0, d = 0;
      glXGetConfig(display, &all[i], GLX_USE_GL, &v);
      glXGetConfig(display, &all[i], GLX_RGBA, &r);
      glXGetConfig(display, &all[i], GLX_DOUBLEBUFFER, &dbl);
      glXGetConfig(display, &all[i], GLX_GREEN_SIZE, &g);
      glXGetConfig(display, &all[i], GLX_BLUE_SIZE, &b);
      glXGetConfig(display, &all[i], GLX_DEPTH_SIZE, &d);
      if (!v || !r || g < 8 || b < 8 || d < depthSize || (bool)dbl != req.doubleBuffer) continue;
      int count = 0;
      XVisualInfo one = all[i];
      vi = XGetVisualInfo(display, VisualIDMask | VisualScreenMask, &one, &count);
    }
    if (all) XFree(all);
  }
  return vi;
}

}  // namespace

XVisualInfo *GlxChooseVisual(Display *display, int screen, const GlxVisualRequest &req) {
  static const int kDefault[] = {16, 0};
  const int *sizes = req.depthSizes ? req.depthSizes : kDefault;
  for (int pass = req.accumulation ? 0 : 1; pass < 2; pass++)
    for (const int *s = sizes; *s; s++)
      if (XVisualInfo *vi = Try(display, screen, req, *s, pass == 0)) return vi;
  return nullptr;
}
