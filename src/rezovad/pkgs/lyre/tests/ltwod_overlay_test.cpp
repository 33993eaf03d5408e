// The plane view's texture overlay, drawn offscreen and read back.
#include <gtest/gtest.h>

#include <GL/gl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "glcontext.h"
#include "ltwod_overlay.h"

TEST(LtwodOverlay, records_lie_by_column_span_rows_and_height) {
  struct Case {
    LtwodTextureFeature f;
    int c0, c1, rows;
    float x, y, z;
  } cases[] = {
      {{2, 3, 0.25f, 1, 0, 0}, 0, 8, 8, 0.25f, 0.5f, 0.25f},
      {{12, 0, 0.5f, 1, 0, 0}, 10, 14, 4, 0.5f, 0.25f, 0.5f},
      {{5, 1, 0.1f, 1, 0, 0}, 3, 3, 2, 2.0f, 1.0f, 0.1f},   // no span: counts as one column
      {{0, 0, 0.0f, 1, 0, 0}, 0, 4, 0, 0.0f, 1.0f, 0.0f},  // no rows: no division by zero
  };
  for (const Case &c : cases) {
    float p[3];
    LtwodOverlayPoint(c.f, c.c0, c.c1, c.rows, p);
    EXPECT_FLOAT_EQ(p[0], c.x) << c.c0 << " " << c.c1;
    EXPECT_FLOAT_EQ(p[1], c.y) << c.c0 << " " << c.c1;
    EXPECT_FLOAT_EQ(p[2], c.z) << c.c0 << " " << c.c1;
  }
}

TEST(LtwodOverlay, a_line_runs_between_two_records_in_the_first_ones_colour) {
  const int W = 64, H = 64;
  std::string err;
  GlContext *ctx = GlContext_CreateOffscreen(W, H, &err);
  ASSERT_NE(ctx, nullptr) << err;
  glViewport(0, 0, W, H);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0, 1, 0, 1, -1, 1);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glDisable(GL_LIGHTING);
  glClearColor(0, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  // columns 0..8 across, 8 rows: from (0.25, 0.5) to (0.75, 0.5)
  LtwodTextureFeature a{2, 3, 0.2f, 1, 0, 0}, b{6, 3, 0.4f, 0, 0, 1};
  LtwodDrawOverlayLine(a, b, 0, 8, 8);
  glFinish();
  std::vector<unsigned char> rgb;
  GlContext_ReadFrame(W, H, &rgb);
  int red = 0, other = 0, minX = W, maxX = -1, minY = H, maxY = -1;
  for (int y = 0; y < H; y++)
    for (int x = 0; x < W; x++) {
      const unsigned char *p = &rgb[(y * W + x) * 3];
      if (p[0] > 200 && p[1] < 50 && p[2] < 50) {
        red++;
        minX = std::min(minX, x), maxX = std::max(maxX, x);
        minY = std::min(minY, y), maxY = std::max(maxY, y);
      } else if (p[0] || p[1] || p[2]) {
        other++;
      }
    }
  GlContext_Destroy(ctx);
  EXPECT_EQ(other, 0);  // nothing in the second record's colour
  EXPECT_GE(red, 30);
  EXPECT_NEAR(minX, 16, 1);
  EXPECT_NEAR(maxX, 47, 1);
  EXPECT_NEAR(minY, 31, 1);
  EXPECT_LE(maxY - minY, 1);  // one horizontal line
}
