// Animation curves: basis, eases, Hermite segments and samplers.
#include <gtest/gtest.h>

#include <cmath>

#include "engine.h"

using E = brovana::BrovanaEngine;

TEST(Curves, spline_basis_and_guarded_division) {
    const float knots[] = {0, 1, 2, 3, 4};
    EXPECT_EQ(E::splineBasis(0, 0, 0.0f, knots), 1.0f);  // closed on the left
    EXPECT_EQ(E::splineBasis(0, 0, 1.0f, knots), 0.0f);  // open on the right
    EXPECT_FLOAT_EQ(E::splineBasis(0, 1, 1.5f, knots), 0.5f);
    EXPECT_EQ(E::safeDivide(0, 0), 0.0f);
    EXPECT_EQ(E::safeDivide(3, 0), 1e30f);
    float w[2];
    E::splineWeights(0, 1.0f, knots, w);
    EXPECT_EQ(w[0], 1.0f);
    EXPECT_EQ(w[1], 0.0f);
    E::splineWeights(2, -1.0f, knots, w);
    EXPECT_EQ(w[0], 1.0f);
    E::splineWeights(2, 2.25f, knots, w);
    EXPECT_FLOAT_EQ(w[0], 0.75f);
    EXPECT_FLOAT_EQ(w[1], 0.25f);
}

TEST(Curves, eases_run_from_0_to_1_without_jumps) {
    for (auto ease : {E::sineEase, E::parabolicEase}) {
        EXPECT_NEAR(ease(0, 0.25f, 0.75f), 0.0f, 1e-6);
        EXPECT_NEAR(ease(1, 0.25f, 0.75f), 1.0f, 1e-5);
        for (float k : {0.25f, 0.75f}) EXPECT_NEAR(ease(k - 1e-4f, 0.25f, 0.75f), ease(k + 1e-4f, 0.25f, 0.75f), 1e-3);
    }
}

TEST(Curves, hermite_segment_hits_its_keys) {
    const float times[] = {0, 100, 300, 400};
    const float zero[4] = {0};
    float w[3];
    E::hermiteSegment(1, times, zero, zero, zero, 100, w, 1);
    EXPECT_NEAR(w[0], 0, 1e-6); EXPECT_NEAR(w[1], 1, 1e-6); EXPECT_NEAR(w[2], 0, 1e-6);
    E::hermiteSegment(1, times, zero, zero, zero, 200, w, 0);  // smooth off: linear
    EXPECT_FLOAT_EQ(w[1], 0.5f); EXPECT_FLOAT_EQ(w[2], 0.5f); EXPECT_EQ(w[0], 0);
    E::hermiteSegment(0, times, zero, zero, zero, 99.999f, w, 1);
    EXPECT_NEAR(w[0] + w[1] + w[2], 1.0f, 1e-5);
    EXPECT_NEAR(w[2], 1.0f, 1e-3);
    // Kochanek-Bartels tangents from keys j-1, j, j+1 with the time factors
    // d/s and b/s: at u = 0.5 in segment 1, h3 = 0.125 and h4 = -0.125
    E::hermiteSegment(1, times, zero, zero, zero, 200, w, 1);
    float b = 100, d = 200, s = b + d;
    float P = d / s, Q = d / s, R = b / s, S = b / s;
    EXPECT_NEAR(w[0], -(-0.125f * S + 0.125f * Q), 1e-5);
    EXPECT_NEAR(w[1], (S - R) * -0.125f + (Q - P) * 0.125f + 0.5f, 1e-5);
    EXPECT_NEAR(w[2], R * -0.125f + P * 0.125f + 0.5f, 1e-5);
    // the plain-tangent form writes the same triple into one slot of three arrays
    float a[2] = {-1, -1}, m[2] = {-1, -1}, c[2] = {-1, -1};
    float *const out[3] = {a, m, c};
    E::hermiteSegmentAt(1, 1, times, 200, out, 1);
    EXPECT_FLOAT_EQ(a[1], w[0]); EXPECT_FLOAT_EQ(m[1], w[1]); EXPECT_FLOAT_EQ(c[1], w[2]);
    EXPECT_EQ(a[0], -1);  // other slots untouched
    E::hermiteSegmentAt(2, 0, times, 400, out, 1);  // the last segment's end key
    EXPECT_NEAR(c[0], 1, 1e-6); EXPECT_NEAR(m[0], 0, 1e-6);
    E::hermiteSegmentAt(-1, 0, times, 0, out, 1);  // no segment: nothing written
    EXPECT_NEAR(c[0], 1, 1e-6);
}

TEST(Curves, samplers_leave_frames_outside_the_keys_alone) {
    const float times[] = {100, 200};
    const float zero[2] = {0};
    const float k0[1] = {10}, k1[1] = {20};
    const float *vals[2] = {k0, k1};
    float out0[6];
    for (float &v : out0) v = -7;
    float *out[1] = {out0};
    E::sampleIdleKeys(6, 50, zero, zero, zero, 2, times, vals, out, 1, 0);
    EXPECT_EQ(out0[0], -7);  // before the first key
    EXPECT_EQ(out0[1], -7);
    EXPECT_FLOAT_EQ(out0[2], 10);
    EXPECT_FLOAT_EQ(out0[3], 15);
    EXPECT_EQ(out0[4], -7);  // at the last key time
    float one[3] = {-7, -7, -7};
    float *o1[1] = {one};
    E::sampleIdleKeys(3, 50, zero, zero, zero, 1, times, vals, o1, 1, 0);
    EXPECT_EQ(one[2], -7);
    // the pose sampler's integer time grid gives the same values
    float pose[6];
    for (float &v : pose) v = -7;
    float *po[1] = {pose};
    E::samplePoseKeys(6, 50, zero, zero, zero, 2, times, vals, po, 1, 0);
    for (int i = 0; i < 6; i++) EXPECT_EQ(pose[i], out0[i]);
}
