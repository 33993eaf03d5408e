// Frames drawn offscreen and read back: what should be where.
#include <gtest/gtest.h>

#include <GL/gl.h>

#include <cstdlib>
#include <string>

#include "engine.h"
#include "glcontext.h"

using brovana::BrovanaEngine;

namespace {

std::string Char(const std::string &name) {
    const char *d = getenv("FACE_CHARS");
    return std::string(d ? d : "testdata/face") + "/" + name;
}

const int kW = 160, kH = 160;

struct Frame {
    std::vector<unsigned char> rgb;
    int count(bool (*pred)(const unsigned char *)) const {
        int n = 0;
        for (size_t i = 0; i < rgb.size(); i += 3) n += pred(&rgb[i]);
        return n;
    }
    // lowest image row (largest y) holding a pixel that pred accepts; -1: none
    int lowestRow(bool (*pred)(const unsigned char *)) const {
        for (int y = kH - 1; y >= 0; y--)
            for (int x = 0; x < kW; x++)
                if (pred(&rgb[(y * kW + x) * 3])) return y;
        return -1;
    }
};

bool Red(const unsigned char *p) { return p[0] > 80 && p[0] > 2 * p[1] + 20 && p[0] > 2 * p[2] + 20; }
bool Green(const unsigned char *p) { return p[1] > 80 && p[1] > 2 * p[0] + 20 && p[1] > 2 * p[2] + 20; }
bool Blue(const unsigned char *p) { return p[2] > 80 && p[2] > 2 * p[0] + 20 && p[2] > 2 * p[1] + 20; }

class RenderTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string err;
        ctx = GlContext_CreateOffscreen(kW, kH, &err);
        ASSERT_NE(ctx, nullptr) << err;
        e.setGlEnabled(true);
    }
    void TearDown() override { GlContext_Destroy(ctx); }
    void loadAndView(const std::string &name, int type) {
        ASSERT_TRUE(e.load(type, Char(name).c_str())) << e.lastError();
        e.setViewport(0, 0, kW, kH);
        e.setPerspective(30, 1, 1, 100);
        e.setViewpoint(0, -8, -0.6, 0, 0, -0.6);
    }
    Frame grab() {
        Frame f;
        GlContext_ReadFrame(kW, kH, &f.rgb);
        return f;
    }
    GlContext *ctx = nullptr;
    BrovanaEngine e;
};

}  // namespace

TEST_F(RenderTest, rest_face_shows_face_mouth_and_body_in_their_places) {
    loadAndView("type4", 4);
    e.show();
    Frame f = grab();
    if (getenv("FACE_DUMP")) GlContext_WritePpm("rest.ppm", kW, kH, f.rgb);
    EXPECT_GT(f.count(Green), 500);
    EXPECT_GT(f.count(Red), 50);
    EXPECT_GT(f.count(Blue), 50);
    // the mouth lies below the middle of the face, the body below the mouth
    EXPECT_GT(f.lowestRow(Red), kH / 2);
    EXPECT_GT(f.lowestRow(Blue), f.lowestRow(Red));
}
