#include "ltwod_overlay.h"

#include <GL/gl.h>

void LtwodOverlayPoint(const LtwodTextureFeature &f, int c0, int c1, int rows, float out[3]) {
  double span = c1 - c0 > 0 ? c1 - c0 : 1;
  out[0] = (float)((f.level1 - c0) / span);
  out[1] = (f.level2 + 1) / (float)(rows > 0 ? rows : 1);
  out[2] = f.height;
}

void LtwodOverlayVertex(const LtwodTextureFeature &f, int c0, int c1, int rows) {
  float p[3];
  LtwodOverlayPoint(f, c0, c1, rows, p);
  glColor3f(f.red, f.green, f.blue);
  glVertex3fv(p);
}

void LtwodDrawOverlayLine(const LtwodTextureFeature &a, const LtwodTextureFeature &b, int c0, int c1, int rows) {
  float p[3], q[3];
  LtwodOverlayPoint(a, c0, c1, rows, p);
  LtwodOverlayPoint(b, c0, c1, rows, q);
  glColor3f(a.red, a.green, a.blue);
  glBegin(GL_LINES);
  glVertex3fv(p);
  glVertex3fv(q);
  glEnd();
}
