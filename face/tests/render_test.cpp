// Frames drawn offscreen and read back: what should be where.
#include <gtest/gtest.h>

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
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

// A head part drawn from positions evaluated on the spot follows the targets
// it is given, not what the evaluated-face object holds, and welds the
// drawn corners without the head matrix.
TEST_F(RenderTest, evaluated_parts_follow_the_given_targets_and_weld_untransformed) {
    loadAndView("type4", 4);
    e.setIdleMotionOff(true);
    const char *ph[] = {".pau", "m", "A", "m", "A", ".pau"};
    for (int i = 0; i < 6; i++) e.addPhoneme(ph[i], 300, i == 1 ? "mama" : "", false);
    e.prep();
    e.setHeadAngles(0, 0, 30);
    e.showFrame(22);  // middle of the first "A"
    ASSERT_GT(e.weldCount(), 0);
    int W = e.currentWindow();
    std::vector<int> open(e.currentTargets(), e.currentTargets() + W + 1), rest(W + 1, e.slot(6));
    const brovana::MeshObject &ev = *e.object(e.evaluatedFace());
    int v = e.headWeld()[0], slot = e.object(0)->weldSlot[v];
    float hx, hy, hz;
    e.headMatrix().apply(ev.x[v], ev.y[v], ev.z[v], &hx, &hy, &hz);
    const float *weld = e.weldPosition(slot);
    ASSERT_NE(weld, nullptr);
    EXPECT_FLOAT_EQ(weld[0], hx);
    EXPECT_FLOAT_EQ(weld[2], hz);
    ASSERT_GT(std::fabs(hx - ev.x[v]) + std::fabs(hy - ev.y[v]), 0.01f);  // the head is turned
    std::vector<float> held(ev.z);

    int parts = (int)e.object(0)->partLists.size();
    auto drawAll = [&](const std::vector<int> &targets) {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        for (int k = 0; k < parts; k++) e.drawFacePartEvaluated(targets.data(), k, W);
        glFinish();
        return grab();
    };
    Frame a = drawAll(open);
    EXPECT_FLOAT_EQ(weld[0], ev.x[v]);  // welded as evaluated, no head matrix
    EXPECT_FLOAT_EQ(weld[1], ev.y[v]);
    EXPECT_FLOAT_EQ(weld[2], ev.z[v]);
    Frame r = drawAll(rest);
    EXPECT_EQ(ev.z, held);  // the evaluated-face object is left alone
    EXPECT_GT(a.count(Green), 500);
    EXPECT_GT(a.lowestRow(Red), r.lowestRow(Red) + 2);  // the open mouth reaches lower
    e.drawFacePartEvaluated(open.data(), parts, W);  // no such part: nothing, no crash
    e.drawFacePartEvaluated(nullptr, 0, W);
    EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
}

// The tongue drawn on its own: in its material under the current matrix,
// or through a given matrix after the modelview matrix is reset.
TEST_F(RenderTest, tongue_draws_in_its_material_and_through_a_given_matrix) {
    loadAndView("type4", 4);
    brovana::TongueModel t = *e.tongue();
    const float zero9[9] = {0}, one[3] = {1, 1, 1}, none[3] = {0, 0, 0};
    std::vector<float> normals;
    t.place(zero9, zero9, one, one, none, &normals);
    float lo[2] = {1e9f, 1e9f}, hi[2] = {-1e9f, -1e9f};
    for (int i = 0; i < 193; i++)
        for (int k = 0; k < 2; k++) lo[k] = std::min(lo[k], t.placed[3 * i + k]), hi[k] = std::max(hi[k], t.placed[3 * i + k]);
    float size = std::max(hi[0] - lo[0], hi[1] - lo[1]);
    ASSERT_GT(size, 0);
    // a view of four tongue sizes around the origin, unlit: white pixels
    glViewport(0, 0, kW, kH);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-2 * size, 2 * size, -2 * size, 2 * size, -100 * size, 100 * size);
    glMatrixMode(GL_MODELVIEW);
    glDisable(GL_LIGHTING), glDisable(GL_TEXTURE_2D), glDisable(GL_CULL_FACE), glDisable(GL_DEPTH_TEST);
    glColor3f(1, 1, 1);
    struct Box {
        int n = 0;
        double cx = 0, cy = 0, w = 0;
    };
    auto box = [&]() {
        Frame f = grab();
        Box b;
        int x0 = kW, x1 = -1;
        for (int y = 0; y < kH; y++)
            for (int x = 0; x < kW; x++)
                if (f.rgb[(y * kW + x) * 3] > 128) b.n++, b.cx += x, b.cy += y, x0 = std::min(x0, x), x1 = std::max(x1, x);
        if (b.n) b.cx /= b.n, b.cy /= b.n, b.w = x1 - x0 + 1;
        return b;
    };
    auto draw = [&](const float *m) {
        glClear(GL_COLOR_BUFFER_BIT);
        glLoadIdentity();
        glTranslatef(size, 0, 0);  // the plain draw follows it; the transformed one resets it
        if (m)
            t.drawTransformed(zero9, zero9, one, one, none, m);
        else
            t.draw(zero9, zero9, one, one, none, 4);
        glFinish();
        return box();
    };
    float d[4];
    Box plain = draw(nullptr);
    glGetMaterialfv(GL_FRONT, GL_DIFFUSE, d);
    EXPECT_NEAR(d[0], 0.03f * 0.8164f, 1e-5);  // material 4: material 2 darkened
    EXPECT_TRUE(glIsEnabled(GL_NORMALIZE));
    brovana::Mat4 id = brovana::Mat4::identity(), shift = brovana::Mat4::translate(-size, 0, 0), half = id;
    half.m[15] = 2;  // w = 2: every corner halves towards the origin
    Box same = draw(id.m);
    glGetMaterialfv(GL_FRONT, GL_DIFFUSE, d);
    EXPECT_NEAR(d[0], 0.8164f, 1e-5);  // material 2
    Box left = draw(shift.m), small = draw(half.m);
    ASSERT_GT(plain.n, 50);
    const double px = kW / (4.0 * size);  // pixels per unit
    EXPECT_NEAR(plain.cx - same.cx, size * px, 2);
    EXPECT_NEAR(same.cx - left.cx, size * px, 2);
    EXPECT_NEAR(same.cy, left.cy, 1);
    EXPECT_NEAR(small.w, same.w / 2, 2);
    EXPECT_NEAR(small.cx - kW / 2.0, (same.cx - kW / 2.0) / 2, 2);
    EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
}
