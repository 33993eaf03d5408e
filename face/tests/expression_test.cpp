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
