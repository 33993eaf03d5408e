#include <GL/gl.h>
#include <gtest/gtest.h>

#include "glcontext.h"

// An offscreen context draws, and the frame reads back top row first.
TEST(GlContext, offscreen_frame_reads_back_with_rows_top_first) {
    std::string err;
    GlContext *c = GlContext_CreateOffscreen(64, 32, &err);
    ASSERT_NE(c, nullptr) << err;
    glViewport(0, 0, 64, 32);
    glClearColor(0, 0, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, 1, 0, 1, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glColor3f(1, 0, 0);
    glBegin(GL_QUADS);  // upper half red
    glVertex2f(0, 0.5f), glVertex2f(1, 0.5f), glVertex2f(1, 1), glVertex2f(0, 1);
    glEnd();
    std::vector<unsigned char> rgb;
    GlContext_ReadFrame(64, 32, &rgb);
    ASSERT_EQ(rgb.size(), 64u * 32 * 3);
    const unsigned char *top = &rgb[(2 * 64 + 10) * 3], *bottom = &rgb[(29 * 64 + 10) * 3];
    EXPECT_EQ(top[0], 255);
    EXPECT_EQ(top[2], 0);
    EXPECT_EQ(bottom[0], 0);
    EXPECT_EQ(bottom[2], 255);
    GLint depth = 0;
    glGetIntegerv(GL_DEPTH_BITS, &depth);
    EXPECT_GE(depth, 16);
    GlContext_Destroy(c);
}

TEST(GlContext, refuses_an_empty_size) {
    std::string err;
    EXPECT_EQ(GlContext_CreateOffscreen(0, 10, &err), nullptr);
    EXPECT_FALSE(err.empty());
}
