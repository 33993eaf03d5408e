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

// The done-when path offscreen: an utterance plays frame by frame; the mouth
// opens on the open vowels, closes on the bilabial, and the face is at rest
// after the last frame.
TEST_F(RenderTest, speaking_moves_the_mouth_when_the_phonemes_say) {
    loadAndView("type4", 4);
    e.setIdleMotionOff(false);
    e.show();
    Frame rest = grab();
    int restRed = rest.count(Red), restLow = rest.lowestRow(Red);
    // "mama" with pauses: .pau 300, m 300, A 300, m 300, A 300, .pau 300
    e.reset();
    const char *ph[] = {".pau", "m", "A", "m", "A", ".pau"};
    for (int i = 0; i < 6; i++) e.addPhoneme(ph[i], 300, i == 1 ? "mama" : "", false);
    e.prep();
    EXPECT_FLOAT_EQ(e.duration(), 1800.0f);
    int F = e.frameCount();
    ASSERT_GE(F, 54);
    std::vector<int> red(F), low(F);
    for (int n = 0; n < F - 1; n++) {
        e.showFrame(n);
        Frame f = grab();
        red[n] = f.count(Red);
        low[n] = f.lowestRow(Red);
        EXPECT_GT(f.count(Green), 500) << "frame " << n;
    }
    auto frameAt = [&](float ms) { return (int)(ms / (1000.0f / 30)); };
    // middle of each "A": the lower lip is lower than at rest
    for (float ms : {750.0f, 1350.0f}) EXPECT_GT(low[frameAt(ms)], restLow + 2) << ms << " ms";
    // middle of each "m": the lips close, less red than at rest
    for (float ms : {450.0f, 1050.0f}) EXPECT_LT(red[frameAt(ms)], restRed) << ms << " ms";
    // the pauses at both ends look like rest
    EXPECT_NEAR(red[frameAt(100)], restRed, restRed / 10);
    // after the last frame: rest
    e.showFrame(F - 1);
    e.show();
    Frame end = grab();
    EXPECT_NEAR(end.count(Red), restRed, 2);
    EXPECT_EQ(end.lowestRow(Red), restLow);
}

TEST_F(RenderTest, view_uses_the_viewport_aspect_and_alpha_switches_blending) {
    loadAndView("type4", 4);
    e.setPerspective(30, 1, 1, 100);
    e.setViewport(0, 0, 160, 80);
    e.show();
    float p[16];
    glGetFloatv(GL_PROJECTION_MATRIX, p);
    EXPECT_NEAR(p[5] / p[0], 2.0f, 1e-4);  // aspect 160 / 80, not the stored 1
    e.setViewport(0, 0, 160, 0);
    e.show();
    glGetFloatv(GL_PROJECTION_MATRIX, p);
    EXPECT_NEAR(p[5] / p[0], 160.0f, 1e-2);  // height 0: aspect = width
    e.setAlpha(0.99f);
    EXPECT_TRUE(glIsEnabled(GL_BLEND));
    e.setAlpha(1.0f);
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
}

TEST_F(RenderTest, textures_of_the_character_are_uploaded_under_their_names) {
    loadAndView("type1", 1);
    GLint w = 0;
    glBindTexture(GL_TEXTURE_2D, 2);  // type 1's face
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
    EXPECT_EQ(w, 16);
    glBindTexture(GL_TEXTURE_2D, 3);  // and body
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
    EXPECT_EQ(w, 8);
    // character 7 draws no head and no body: only the clear colour
    loadAndView("type7", 7);
    e.show();
    Frame f = grab();
    EXPECT_EQ(f.count(Green) + f.count(Red) + f.count(Blue), 0);
}

TEST_F(RenderTest, every_character_type_draws_without_errors) {
    for (int type = 0; type <= 13; type++) {
        loadAndView("type" + std::to_string(type), type);
        for (int n = 0; n < 3; n++) e.idleAnimate();
        EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR) << "type " << type;
        if (type != 7) {
            Frame f = grab();
            EXPECT_GT(f.count(Green) + f.count(Red), 100) << "type " << type;
        }
    }
}

TEST_F(RenderTest, background_fills_its_power_of_two_viewport_behind_the_face) {
    loadAndView("type4", 4);
    e.setBackgroundImage(300, 200, std::vector<unsigned char>(300 * 200 * 4, 0));
    EXPECT_EQ(e.backgroundPow2Width(), 512);
    EXPECT_EQ(e.backgroundPow2Height(), 256);
    e.setBackgroundImage(0, 10, std::vector<unsigned char>(40, 0));  // refused
    EXPECT_EQ(e.backgroundPow2Width(), 512);
    e.show();
    GLint w = 0;
    glBindTexture(GL_TEXTURE_2D, 20);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
    EXPECT_EQ(w, 1024);
    // a 64 x 32 yellow picture: the bottom-left 64 x 32 pixels of the frame,
    // with the face drawn over it
    std::vector<unsigned char> yellow(64 * 32 * 4);
    for (size_t i = 0; i < yellow.size(); i += 4) yellow[i] = yellow[i + 1] = 255, yellow[i + 2] = 0, yellow[i + 3] = 255;
    e.setBackgroundImage(64, 32, yellow);
    e.show();
    Frame f = grab();
    const unsigned char *in = &f.rgb[((kH - 5) * kW + 5) * 3], *out = &f.rgb[((kH - 40) * kW + 5) * 3];
    EXPECT_EQ(in[0], 255);
    EXPECT_EQ(in[1], 255);
    EXPECT_EQ(in[2], 0);
    EXPECT_EQ(out[0] + out[1] + out[2], 0);
    EXPECT_GT(f.count(Green), 500);
    EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
}

TEST_F(RenderTest, light_rigs_and_display_modes) {
    struct Case {
        int type;
        float cutoff0;  // GL_SPOT_CUTOFF of light 0
        bool whiteSecond;
    } cases[] = {{5, 60, false}, {0, 45, false}, {1, 90, true}, {4, 90, false}};
    for (const Case &c : cases) {
        loadAndView("type" + std::to_string(c.type), c.type);
        e.show();
        float cut = 0, diffuse[4];
        glGetLightfv(GL_LIGHT0, GL_SPOT_CUTOFF, &cut);
        EXPECT_FLOAT_EQ(cut, c.cutoff0) << "type " << c.type;
        glGetLightfv(GL_LIGHT1, GL_DIFFUSE, diffuse);
        EXPECT_FLOAT_EQ(diffuse[0], c.whiteSecond ? 1.0f : 0.6f) << "type " << c.type;
        EXPECT_EQ(diffuse[3], 0.0f);
        // the rig is the same on every frame
        float pos[4], again[4];
        glGetLightfv(GL_LIGHT0, GL_POSITION, pos);
        e.show();
        glGetLightfv(GL_LIGHT0, GL_POSITION, again);
        for (int k = 0; k < 4; k++) EXPECT_EQ(pos[k], again[k]);
        EXPECT_TRUE(glIsEnabled(GL_LIGHTING));
    }
    GLint mode[2];
    e.setDisplayMode(1);
    glGetIntegerv(GL_POLYGON_MODE, mode);
    EXPECT_EQ(mode[0], GL_LINE);
    e.setDisplayMode(3);  // no change
    glGetIntegerv(GL_POLYGON_MODE, mode);
    EXPECT_EQ(mode[0], GL_LINE);
    e.setDisplayMode(0);
    glGetIntegerv(GL_POLYGON_MODE, mode);
    EXPECT_EQ(mode[0], GL_FILL);
}

// The air-stream arcs are drawn with the tongue, in the arcs' material;
// they reach far beyond the small generated head, so the view is from afar.
TEST_F(RenderTest, tongue_arcs_are_drawn_only_when_switched_on_and_in_time) {
    loadAndView("type4", 4);
    e.setPerspective(30, 1, 1, 1000);
    e.setViewpoint(0, -150, -0.6, 0, 0, -0.6);
    for (const char *p : {".pau", "m", "A", ".pau"}) e.addPhoneme(p, 250, "", false);
    e.prep();
    auto frame = [&](bool on, int row, float fraction) {
        e.setTongueArcs(on, true);
        e.setArcPhoneme(row, fraction * e.duration());
        e.showFrame(5);
        return grab();
    };
    auto differ = [](const Frame &a, const Frame &b) {
        int n = 0;
        for (size_t i = 0; i < a.rgb.size(); i += 3)
            n += a.rgb[i] != b.rgb[i] || a.rgb[i + 1] != b.rgb[i + 1] || a.rgb[i + 2] != b.rgb[i + 2];
        return n;
    };
    Frame off = frame(false, 10, 0.1f), oral = frame(true, 10, 0.1f), nasal = frame(true, 28, 0.1f);
    Frame late = frame(true, 10, 0.9f);
    if (getenv("FACE_DUMP")) GlContext_WritePpm("arcs.ppm", kW, kH, oral.rgb);
    EXPECT_GT(differ(off, oral), 100);
    EXPECT_GT(differ(oral, nasal), 100);  // the nasal arcs leave elsewhere
    EXPECT_EQ(differ(off, late), 0);      // too late in the utterance: none
    e.setTongueArcs(false, false);
}

TEST_F(RenderTest, hair_takes_the_colour_it_is_given) {
    loadAndView("type11", 11);  // type 9 with hair above the head
    e.show();
    Frame before = grab();
    e.setHairColor(0, 0, 1);
    e.show();
    Frame blue = grab();
    EXPECT_GT(blue.count(Blue), before.count(Blue) + 200);
    EXPECT_EQ(blue.count(Green), before.count(Green));
}
