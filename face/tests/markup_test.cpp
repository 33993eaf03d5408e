// The markup: word and tag split, tag values, and the tracks the tags make.
#include <gtest/gtest.h>

#include "engine.h"
#include "test_util.h"

using brovana::BrovanaEngine;
using brovana::MarkupError;
using brovana::MarkupWord;

namespace {

// "Hello big world", 120 ms per phoneme, words on their first phoneme.
void SayHelloBigWorld(BrovanaEngine &e) {
    e.reset();
    const char *ph[][2] = {{".pau", ""}, {"h", "Hello"}, {"E", ""}, {"l", ""}, {"oU", ""}, {"b", "big"}, {"I", ""},
                           {"g", ""},    {"w", "world"}, {"3r", ""}, {"l", ""}, {"d", ""}, {".pau", ""}};
    for (auto &p : ph) e.addPhoneme(p[0], 120, p[1], false);
}

}  // namespace

TEST(Markup, split_keeps_one_tag_per_word_and_drops_what_the_filter_drops) {
    std::vector<MarkupWord> w;
    bool leading;
    MarkupError err;
    ASSERT_FALSE(BrovanaEngine::splitMarkup("<FET=SMILE>don't <EYEB=1,R> <HGT=Y,1,300> a.b, c", &w, &leading, &err));
    ASSERT_EQ(w.size(), 5u);
    EXPECT_TRUE(leading);
    EXPECT_EQ(w[0].word, "");
    EXPECT_EQ(w[1].word, "dont");
    EXPECT_EQ(w[1].tag, "HGT=Y,1,300");  // the second tag after a word replaces the first
    EXPECT_EQ(w[2].word, "a");
    EXPECT_EQ(w[3].word, "b");
    std::array<std::string, brovana::kTagKinds> v;
    MarkupWord tagged;
    tagged.hasTag = true;
    tagged.tag = "FET=smile,BEGINEYEB=(2,r)HGT=(y,1,300)";
    BrovanaEngine::parseTagValues(tagged, &v);
    EXPECT_EQ(v[0], "NEUT");  // the keyword overrides the value
    EXPECT_EQ(v[1], "2,r");
    EXPECT_EQ(v[3], "Y,1,300");
}

TEST(Markup, expression_and_head_keys_at_the_ends_of_the_words) {
    BrovanaEngine e;
    ASSERT_TRUE(e.load(4, CharDir("type4").c_str())) << e.lastError();
    SayHelloBigWorld(e);
    MarkupError err;
    ASSERT_FALSE(e.prepMarkedText("Hello <FET=SMILE> big <HGT=Y,2,500> world", false, &err)) << err.message;
    EXPECT_TRUE(e.markupTrackOn());
    int neut = BrovanaEngine::libraryIndex(e.paraLibrary(), "NEUT");
    int smile = BrovanaEngine::libraryIndex(e.paraLibrary(), "SMILE");
    EXPECT_EQ(e.expressionKeyEntries(), (std::vector<int>{neut, smile, neut}));
    // "big" ends at 960 ms, frame 28.8: the nod's first key (20 degrees)
    // lies there, the second (0) 500 ms later
    float atBig = e.headGestureAngle(0, 29), later = e.headGestureAngle(0, 29 + 15);
    EXPECT_NEAR(atBig, 20.0f, 1.0f);
    EXPECT_NEAR(later, 0.0f, 1.0f);
    // prep drops every track
    e.prep();
    EXPECT_FALSE(e.markupTrackOn());
    EXPECT_FALSE(e.expressionTrackOn());
}

TEST(Markup, leading_values_and_unknown_gestures) {
    BrovanaEngine e;
    ASSERT_TRUE(e.load(4, CharDir("type4").c_str())) << e.lastError();
    SayHelloBigWorld(e);
    MarkupError err;
    // a leading head value is the first key; a letter the table lacks holds still
    ASSERT_FALSE(e.prepMarkedText("<HGT=10,0,-5> Hello <HGT=X,2,300> big world", false, &err)) << err.message;
    EXPECT_FLOAT_EQ(e.headGestureAngle(0, 0), 10.0f);
    EXPECT_FLOAT_EQ(e.headGestureAngle(2, 0), -5.0f);
    EXPECT_NEAR(e.headGestureAngle(0, 18), 0.0f, 1e-4);
    // a leading expression that no library holds starts at rest
    SayHelloBigWorld(e);
    ASSERT_FALSE(e.prepMarkedText("<FET=GRIN> Hello <FET=SMILE> big world", false, &err)) << err.message;
    EXPECT_EQ(e.expressionKeyEntries()[0], BrovanaEngine::libraryIndex(e.paraLibrary(), "NEUT"));
}

TEST(Markup, a_blink_ramps_in_and_out_around_the_word_end) {
    BrovanaEngine e;
    ASSERT_TRUE(e.load(4, CharDir("type4").c_str())) << e.lastError();
    SayHelloBigWorld(e);
    MarkupError err;
    // "Hello" ends at 600 ms; 3 frames are 100 ms on each side
    ASSERT_FALSE(e.prepMarkedText("Hello <EYEB=3,L> big world", false, &err)) << err.message;
    ASSERT_TRUE(e.eyePairOn());
    int blink = e.slot(20), neutral = e.slot(6);
    EXPECT_EQ(e.blinkTarget(0, 17), neutral);
    EXPECT_EQ(e.blinkTarget(1, 17), blink);
    EXPECT_NEAR(e.blinkWeight(1, 17), (566.6667f - 500) / 100, 1e-3);
    EXPECT_EQ(e.blinkSide(17), 2);
    EXPECT_EQ(e.blinkTarget(0, 19), blink);
    EXPECT_NEAR(e.blinkWeight(1, 25), e.blinkTarget(1, 25) == neutral ? e.blinkWeight(1, 25) : 0, 1e-6);
    // a text without blinks leaves the eye pair off
    SayHelloBigWorld(e);
    ASSERT_FALSE(e.prepMarkedText("Hello big world", false, &err));
    EXPECT_FALSE(e.eyePairOn());
}

// The face state reset puts the face at rest and stops the tags driving the
// frames, but keeps the tracks (unlike a preparation, which drops them).
TEST(Markup, face_state_reset_rests_the_face_and_stops_the_tag_tracks) {
    BrovanaEngine e;
    ASSERT_TRUE(e.load(4, CharDir("type4").c_str())) << e.lastError();
    SayHelloBigWorld(e);
    MarkupError err;
    ASSERT_FALSE(e.prepMarkedText("<FET=SMILE> Hello <EYEB=1,L> big <HGT=Y,2,500> world", false, &err))
        << err.message;
    e.selectFrame(29);
    ASSERT_NEAR(e.headAngles()[0], 20.0f, 1.0f);
    ASSERT_TRUE(e.expressionTrackOn() && e.headGestureTrackOn() && e.eyePairOn());
    e.coefficients15()[3] = 0.5f;
    size_t columns = e.tagColumns().size();

    e.resetFaceState();
    EXPECT_FALSE(e.expressionTrackOn());
    EXPECT_FALSE(e.headGestureTrackOn());
    EXPECT_FALSE(e.eyePairOn());
    EXPECT_FALSE(e.secondPairOn());
    EXPECT_FALSE(e.poseTrackOn());
    for (int k = 0; k < 3; k++) {
        EXPECT_EQ(e.headAngles()[k], 0.0f);
        EXPECT_EQ(e.idleHead()[k], 0.0f);
        EXPECT_EQ(e.mixTargets()[k], e.slot(6));
    }
    EXPECT_EQ(e.mixWeights()[0], 1.0f);
    EXPECT_EQ(e.mixWeights()[1] + e.mixWeights()[2], 0.0f);
    EXPECT_EQ(e.coefficients15()[3], 0.0f);
    EXPECT_EQ(e.tagColumns().size(), columns);
    // later frames move the lips but no longer the head or the expression
    e.selectFrame(29);
    EXPECT_EQ(e.headAngles()[0], 0.0f);
    EXPECT_EQ(e.mixTargets()[0], e.slot(6));
    EXPECT_TRUE(e.resetExpressionState());
}
