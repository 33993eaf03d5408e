// The face a frame shows: mouth layer, composed expressions and idle motion,
// checked against the known displacements of the generated targets.
#include <gtest/gtest.h>

#include <cmath>

#include "engine.h"
#include "test_util.h"

using brovana::BrovanaEngine;

namespace {

class FaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(e.load(4, CharDir("type4").c_str())) << e.lastError();
        e.setIdleMotionOff(true);  // keep blinks out of the numbers
        base = e.object(0);
    }
    // a vertex of the given region code away from the middle line
    int vertexIn(int code, float minAbsX = 0) const {
        for (int v : e.faceVertices())
            if (e.regionCode(v) == code && std::fabs(base->x[v]) >= minAbsX) return v;
        return -1;
    }
    BrovanaEngine e;
    const brovana::MeshObject *base = nullptr;
};

}  // namespace

TEST_F(FaceTest, long_m_shows_exactly_the_m_viseme) {
    e.reset();
    for (auto p : {std::make_pair(".pau", 200.0f), {"m", 600.0f}, {".pau", 200.0f}})
        e.addPhoneme(p.first, p.second, p.first[0] == '.' && p.second == 200.0f && e.phonemeCount() == 0 ? "w" : "", false);
    e.prep();
    e.showFrame(15);  // 500 ms: the middle of "m"
    e.updateFaceVertices(e.currentTargets(), e.currentWindow());
    const brovana::MeshObject *face = e.object(e.evaluatedFace());
    int lip = vertexIn(7);
    ASSERT_GE(lip, 0);
    float dz = ManifestDz("type4", "BXVIS_m");
    ASSERT_NE(dz, 0.0f);
    EXPECT_NEAR(face->z[lip], base->z[lip] + dz, 1e-4);
    int border = -1;
    for (int v = 0; v < base->V; v++)
        if (e.regionCode(v) == 0) border = v;
    EXPECT_EQ(face->z[border], base->z[border]);
    // past the end: the rest mouth
    e.showFrame(e.frameCount() - 1);
    e.updateFaceVertices(e.currentTargets(), e.currentWindow());
    EXPECT_NEAR(face->z[lip], base->z[lip], 1e-5);
}

TEST_F(FaceTest, parameters_compose_emotions_on_their_regions) {
    int corner = vertexIn(5, 0.3f), brow = vertexIn(1);
    ASSERT_GE(corner, 0);
    ASSERT_GE(brow, 0);
    const brovana::MeshObject *composed;
    struct Case {
        double p1, p3;
        float cornerDz;
    } cases[] = {
        {0, 0, 0},
        {0, 1, 2.5f * ManifestDz("type4", "BX_SMILE")},
        {0.02, 0, 0.05f * ManifestDz("type4", "BX_SAD")},  // sad 0.05 acts
        {0.012, 0, 0},                                     // sad 0.03 does not
    };
    for (const Case &c : cases) {
        e.setParameters(c.p1, 0, c.p3, 0, 0, 0);
        composed = e.object(e.composedIndex());
        EXPECT_NEAR(composed->z[corner] - base->z[corner], c.cornerDz, 1e-5) << c.p1 << " " << c.p3;
        EXPECT_EQ(composed->z[brow], base->z[brow]);
        EXPECT_EQ(e.mixTargets()[0], e.composedIndex());
    }
    for (int v = 0; v < base->V; v++) {
        if (e.regionCode(v) == 0) {
            ASSERT_EQ(composed->z[v], base->z[v]);
        }
    }
    // the expression shows in the evaluated face, on the mouth at rest; the
    // rest mouth after an utterance puts the mix back to neutral
    e.showFrame(-1);
    e.setParameters(0, 0, 1, 0, 0, 0);
    e.updateFaceVertices(e.currentTargets(), e.currentWindow());
    const brovana::MeshObject *face = e.object(e.evaluatedFace());
    EXPECT_NEAR(face->z[corner] - base->z[corner], 2.5f * ManifestDz("type4", "BX_SMILE"), 1e-5);
    e.showFrame(-1);
    e.updateFaceVertices(e.currentTargets(), e.currentWindow());
    EXPECT_NEAR(face->z[corner], base->z[corner], 1e-6);
}

TEST_F(FaceTest, idle_tables_cycle_and_respect_the_switches) {
    e.seedRandomWith(12345);
    e.makeIdleTracks();
    int frames = e.idleFrameCount();
    e.seedRandomWith(12345);
    e.makeIdleTracks();
    EXPECT_EQ(e.idleFrameCount(), frames);  // the same seed, the same tables
    EXPECT_GE(e.idleFrameCount(), 59 * 30);
    EXPECT_LE(e.idleFrameCount(), 61 * 30 + 1);
    // the head stays still until headrotate turns it on
    bool blinkSeen = false;
    for (int i = 0; i < e.idleFrameCount(); i++) {
        e.stepIdle();
        ASSERT_EQ(e.idleHead()[0], 0.0f);
        if (e.idleTarget(1) == e.slot(20) && e.idleWeight(1) > 0.5f) blinkSeen = true;
    }
    EXPECT_TRUE(blinkSeen);
    e.setEyeblink(0);
    for (int i = 0; i < e.idleFrameCount(); i++) {
        e.stepIdle();
        ASSERT_NE(e.idleTarget(1), e.slot(20));
    }
    e.toggleHeadRotate();
    float most = 0;
    for (int i = 0; i < e.idleFrameCount(); i++) {
        e.stepIdle();
        most = std::max(most, std::fabs(e.idleHead()[1]));
    }
    EXPECT_GT(most, 0.0f);
    EXPECT_LE(most, 1.5f);  // keys in [-1, 1]; the spline may overshoot a little
    e.toggleHeadRotate();
    e.toggleHeadRotate();
    EXPECT_FALSE(e.headRotateOff());
}

// The gaze blends the two eye targets around a direction into its own work
// object; the targets' known displacements give the expected shape.
TEST_F(FaceTest, gaze_blends_the_eye_targets_by_direction) {
    const int up = 15, down = 16, left = 17, right = 18;
    for (int s : {up, down, left, right}) ASSERT_GE(e.slot(s), 0) << s;
    const brovana::MeshObject &N = *e.object(e.slot(6));
    // displacement from neutral of slot s at vertex v
    auto dx = [&](int s, int v) { return e.object(e.slot(s))->x[v] - N.x[v]; };
    auto dz = [&](int s, int v) { return e.object(e.slot(s))->z[v] - N.z[v]; };
    struct Case {
        float degrees, amount;
        int first, second;  // sine and cosine targets
        float a;            // angle of the pair in degrees
    } cases[] = {
        {0, 1, up, right, 0},      {45, 1, up, right, 45},    {90, 0.5f, up, right, 90},
        {135, 1, up, left, 45},    {180, 1, up, left, 0},     {200, 0.8f, down, left, 20},
        {300, 1, down, right, 60}, {360, 1, down, right, 0},
    };
    for (const Case &c : cases) {
        int out = e.setGaze(c.degrees, c.amount);
        ASSERT_EQ(out, e.objectCount() + 11) << c.degrees;
        const brovana::MeshObject &g = *e.object(out);
        float s = c.amount * std::sin(c.a * 3.1415926f / 180), k = c.amount * std::cos(c.a * 3.1415926f / 180);
        int moved = 0;
        for (int v = 0; v < base->V; v++) {
            ASSERT_NEAR(g.x[v], N.x[v] + s * dx(c.first, v) + k * dx(c.second, v), 1e-4) << c.degrees << " " << v;
            ASSERT_NEAR(g.z[v], N.z[v] + s * dz(c.first, v) + k * dz(c.second, v), 1e-4) << c.degrees << " " << v;
            moved += std::fabs(g.x[v] - N.x[v]) + std::fabs(g.z[v] - N.z[v]) > 1e-4;
        }
        EXPECT_GT(moved, 0) << c.degrees;  // the eyes do move
    }
    EXPECT_EQ(e.setGaze(-0.5f, 1), 0);
    EXPECT_EQ(e.setGaze(360.5f, 1), 0);
    EXPECT_EQ(e.blendEyeTarget(14, 1), -1);  // not an eye slot
    BrovanaEngine none;
    EXPECT_EQ(none.setGaze(10, 1), 0);  // no character: nothing to blend
}

TEST_F(FaceTest, target_offsets_add_a_fraction_of_a_targets_displacement) {
    int corner = vertexIn(5, 0.3f), N = e.slot(6), smile = e.slot(2);
    ASSERT_GE(corner, 0);
    float full = e.object(smile)->z[corner] - e.object(N)->z[corner];
    ASSERT_NE(full, 0);
    struct Case {
        int v, t, a, b;
        float dz;
    } cases[] = {
        {corner, smile, 1, 1, full},      {corner, smile, 3, 4, 0.75f * full}, {corner, smile, -1, 2, -0.5f * full},
        {corner, smile, 1, 0, 0},         // no divisor: nothing added
        {corner, -1, 1, 1, 0},            {corner, 100000, 1, 1, 0}, {-1, smile, 1, 1, 0}, {base->V, smile, 1, 1, 0},
    };
    for (const Case &c : cases) {
        float p[3] = {1, 2, 3};
        e.addTargetOffset(c.v, c.t, N, c.a, c.b, p);
        EXPECT_FLOAT_EQ(p[2], 3 + c.dz) << c.v << " " << c.t << " " << c.a << "/" << c.b;
    }
    // a triangle of the composed expression: smile at the corner, nothing
    // while the expression switch is off
    e.setParameters(0, 0, 1, 0, 0, 0);
    int tri[3] = {corner, corner, vertexIn(1)};
    float p[3][3];
    e.expressionTriangleOffset(tri, p);
    EXPECT_NEAR(p[0][2], 2.5f * ManifestDz("type4", "BX_SMILE"), 1e-5);
    EXPECT_FLOAT_EQ(p[1][2], p[0][2]);
    EXPECT_FLOAT_EQ(p[2][2], 0);  // a brow vertex: the smile does not reach it
    e.setExpression(0);
    e.expressionTriangleOffset(tri, p);
    EXPECT_FLOAT_EQ(p[0][2], 0);
}
