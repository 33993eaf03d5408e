// The texture overlay of the 2-D display's plane view: where a record of the
// overlay grid lies and how it is drawn.
//
// What callers rely on: positions are in the view's unit square, columns
// c0..c1 across (a span below 1 counts as 1), the record's second level
// upwards over `rows` rows and its height as z.  The drawing functions need
// a current OpenGL context.
#pragma once

#include "ltwod_analysis.h"

void LtwodOverlayPoint(const LtwodTextureFeature &f, int c0, int c1, int rows, float out[3]);
// One vertex in the record's colour; between glBegin and glEnd.
void LtwodOverlayVertex(const LtwodTextureFeature &f, int c0, int c1, int rows);
// A line between two records in the first one's colour.
void LtwodDrawOverlayLine(const LtwodTextureFeature &a, const LtwodTextureFeature &b, int c0, int c1, int rows);
