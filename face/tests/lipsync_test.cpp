// Lip-sync tracks: segments, frame count and dominance-weighted windows.
#include <gtest/gtest.h>

#include <cmath>

#include "engine.h"
#include "test_util.h"

using brovana::BrovanaEngine;

namespace {

void Say(BrovanaEngine &e, std::initializer_list<std::tuple<const char *, float, const char *>> ph) {
    e.reset();
    for (auto &p : ph) e.addPhoneme(std::get<0>(p), std::get<1>(p), std::get<2>(p), false);
    e.prep();
}

}  // namespace

TEST(LipSync, frame_count_and_duration) {
    BrovanaEngine e;
    Say(e, {{".pau", 998, ""}});  // end entries of 1 ms make 1000 ms
    EXPECT_FLOAT_EQ(e.duration(), 1000.0f);
    EXPECT_EQ(e.frameCount(), 31);
    e.setFrameRate(25);
    Say(e, {{".pau", 998, ""}});
    EXPECT_EQ(e.frameCount(), 26);
}

TEST(LipSync, segments_of_split_phonemes) {
    BrovanaEngine e;
    Say(e, {{".pau", 100, "w"}, {"i:", 100, ""}, {"dZ", 100, ""}, {".pau", 100, ""}});
    const auto &n = e.segmentNames();
    const auto &t = e.segmentTimes();
    // ".pau" (first of its word) stays one segment, "i:" becomes I 70 + j 30,
    // "dZ" 15 equal "Z" segments
    ASSERT_GE(n.size(), 4u);
    EXPECT_EQ(n[0], ".pau");
    EXPECT_EQ(n[1], "I");
    EXPECT_EQ(n[2], "j");
    EXPECT_NEAR(t[2] - t[1], 70, 1e-3);
    EXPECT_NEAR(t[3] - t[2], 30, 1e-3);
    int z = 0;
    for (const auto &s : n) z += s == "Z";
    EXPECT_EQ(z, 15);
    EXPECT_EQ(n.back(), ".pau");
}

TEST(LipSync, planned_counts_follow_the_word_position) {
    BrovanaEngine e;
    // "m" first of its word: 15 segments; "m" later in a word: 31
    Say(e, {{"m", 300, "m"}, {"A", 300, "am"}, {"m", 300, ""}});
    int m = 0;
    for (const auto &s : e.segmentNames()) m += s == "m";
    EXPECT_EQ(m, 15 + 31);
}

TEST(LipSync, dominance_shapes) {
    BrovanaEngine e;
    const float t[] = {0, 100, 200, 300};
    // interior vowel at e = 0.5: lip exp(-0.87 * 0.5^0.2), tongue exp(-0.87 * 0.5^0.8)
    EXPECT_NEAR(e.lipDominance(20, 1, 125, t, 3), std::exp(-0.87 * std::pow(0.5, 0.2)), 1e-5);
    EXPECT_NEAR(e.tongueDominance(20, 1, 125, t, 3), std::exp(-0.87 * std::pow(0.5, 0.8)), 1e-5);
    // closure plateau on the lips only
    EXPECT_FLOAT_EQ(e.lipDominance(28, 1, 140, t, 3), 10.0f);
    EXPECT_LT(e.tongueDominance(28, 1, 140, t, 3), 1.0f);
    // the first segment owns the time before its centre
    EXPECT_NEAR(e.lipDominance(20, 0, 0, t, 3), std::exp(25.0), std::exp(25.0) * 1e-5);
    // a zero-length segment has no dominance instead of an undefined one
    const float z[] = {0, 100, 100, 200};
    EXPECT_EQ(e.lipDominance(20, 1, 100, z, 3), 0.0f);
}

TEST(LipSync, windows_sum_to_one_and_start_before_the_first_segment) {
    BrovanaEngine e;
    Say(e, {{".pau", 200, "w"}, {"A", 100, ""}, {"m", 400, ""}, {"A", 100, ""}, {".pau", 200, ""}});
    int W = e.windowSize();
    for (int f = 0; f < e.frameCount() - 1; f++) {
        float lip = 0, tongue = 0;
        for (int s = 0; s <= W; s++) {
            lip += e.trackLip(s, f);
            tongue += e.trackTongue(s, f);
            ASSERT_FALSE(std::isnan(e.trackLip(s, f)));
        }
        EXPECT_NEAR(lip, 1.0f, 1e-4) << "frame " << f;
        EXPECT_NEAR(tongue, 1.0f, 1e-4) << "frame " << f;
    }
    // frame 0: slots before the first segment hold -9 .. -1
    for (int s = 0; s < W - 1; s++) {
        EXPECT_EQ(e.trackRow(s, 0), s - (W - 1));
        EXPECT_EQ(e.trackLip(s, 0), 0.0f);
    }
    // the middle of the long "m" run: every slot on an "m" segment
    int mid = (int)((200 + 100 + 200) / (1000.0f / 30));
    for (int s = 0; s <= W; s++) EXPECT_EQ(e.trackRow(s, mid), 28) << "slot " << s;
}

// A phoneme of no length must not poison the frame's weights.
TEST(LipSync, zero_length_phoneme_keeps_weights_finite) {
    BrovanaEngine e;
    Say(e, {{".pau", 100, "w"}, {"A", 0, ""}, {"A", 100, ""}, {".pau", 100, ""}});
    for (int f = 0; f < e.frameCount(); f++)
        for (int s = 0; s <= e.windowSize(); s++) {
            ASSERT_TRUE(std::isfinite(e.trackLip(s, f)));
            ASSERT_TRUE(std::isfinite(e.trackTongue(s, f)));
        }
}

TEST(LipSync, out_of_range_frames_select_nothing) {
    BrovanaEngine e;
    Say(e, {{".pau", 300, ""}});
    int before = e.currentTargets()[0];
    e.selectFrame(-1);
    e.selectFrame(e.frameCount());
    EXPECT_EQ(e.currentTargets()[0], before);
    e.showFrame(-5);  // rest pose, no read before the tracks
    e.showFrame(1 << 30);
    EXPECT_EQ(e.currentWindow(), e.windowSize());
}
