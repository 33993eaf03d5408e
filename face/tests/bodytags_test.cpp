// Eye rolls, tongue shapes and body poses from the markup's tags, and the
// gesture and sequence libraries they draw on.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <sstream>
#include <filesystem>
#include <fstream>

#include "engine.h"
#include "test_util.h"

using brovana::BrovanaEngine;
using brovana::MarkupError;
namespace fs = std::filesystem;

namespace {

// "Hello big world", 120 ms per phoneme: the words end at 600, 960 and
// 1440 ms, the utterance at 1560 ms (47 frames at 30 per second).
void Say(BrovanaEngine &e) {
    e.reset();
    const char *ph[][2] = {{".pau", ""}, {"h", "Hello"}, {"E", ""}, {"l", ""}, {"oU", ""}, {"b", "big"}, {"I", ""},
                           {"g", ""},    {"w", "world"}, {"3r", ""}, {"l", ""}, {"d", ""}, {".pau", ""}};
    for (auto &p : ph) e.addPhoneme(p[0], 120, p[1], false);
}

// A scratch copy of a generated character, removed afterwards.
struct ScratchChar {
    fs::path dir;
    explicit ScratchChar(const std::string &name) {
        dir = fs::temp_directory_path() / ("bodytags-" + std::to_string(getpid()) + "-" + name);
        fs::remove_all(dir);
        fs::copy(CharDir(name), dir, fs::copy_options::recursive);
    }
    ~ScratchChar() { fs::remove_all(dir); }
    void write(const std::string &rel, const std::string &text) const {
        fs::create_directories((dir / rel).parent_path());
        std::ofstream(dir / rel, std::ios::binary) << text;
    }
    std::string read(const std::string &rel) const {
        std::ifstream in(dir / rel, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
};

int Node(BrovanaEngine &e, const char *name) { return e.findNode(name); }

}  // namespace

TEST(EyeRolls, two_revolutions_from_the_word_end_forward_and_reversed) {
    BrovanaEngine e;
    ASSERT_TRUE(e.load(4, CharDir("type4").c_str())) << e.lastError();
    const int up = e.slot(15), right = e.slot(18), neutral = e.slot(6);
    // "Hello" ends at 600 ms = frame 18; 2 revolutions take 7 * 2 + 4 frames
    struct Case {
        const char *mode;
        int frame, t0, t1;
        float w1;
        int side;
    } cases[] = {
        {"A", 17, neutral, neutral, 0, 0},  // before: rest, both sides
        {"A", 18, neutral, up, 0, 1},       // ramp in
        {"A", 19, neutral, up, 1, 1},
        {"A", 20, up, right, 0, 1},  // first revolution, angle 0
        {"A", 21, up, right, std::sin(1.0f) * std::sin(1.0f), 1},
        {"A", 35, neutral, up, 1, 1},  // ramp out ends on the last frame
        {"A", 36, neutral, neutral, 0, 0},
        {"C", 18, neutral, up, 1, 1},  // reversed: the last frame first
        {"C", 35, neutral, up, 0, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.mode) + " frame " + std::to_string(c.frame));
        Say(e);
        MarkupError err;
        std::string text = std::string("Hello <EYEM=100,2,") + c.mode + ",R> big world";
        ASSERT_FALSE(e.prepMarkedText(text, false, &err)) << err.message;
        ASSERT_TRUE(e.secondPairOn());
        EXPECT_EQ(e.rollTarget(0, c.frame), c.t0);
        EXPECT_EQ(e.rollTarget(1, c.frame), c.t1);
        EXPECT_NEAR(e.rollWeight(1, c.frame), c.w1, 1e-5);
        EXPECT_NEAR(e.rollWeight(0, c.frame) + e.rollWeight(1, c.frame), 1.0f, 1e-5);
        EXPECT_EQ(e.rollSide(c.frame), c.side);
    }
    // an eye roll near the end is cut at the last frame, not written past it
    Say(e);
    MarkupError err;
    ASSERT_FALSE(e.prepMarkedText("Hello big <EYEM=0,900,A,B> world", false, &err)) << err.message;
    // "big" ends at 960 ms: frame 29 (28.8 rounded up); frame 46 is the
    // last, the second frame of the third revolution
    ASSERT_EQ(e.frameCount(), 47);
    EXPECT_EQ(e.rollTarget(1, 30), up);
    EXPECT_EQ(e.rollTarget(0, 46), up);
    EXPECT_EQ(e.rollTarget(1, 46), right);
    Say(e);
    EXPECT_TRUE(e.prepMarkedText("Hello big <EYEM=0,100000000,A,B> world", false, &err));
    EXPECT_EQ(err.message, "EYEM");
    // prep drops it
    e.prep();
    EXPECT_FALSE(e.secondPairOn());
}

TEST(TongueTags, library_shape_around_the_word_end_blended_with_the_window) {
    BrovanaEngine e;
    ASSERT_TRUE(e.load(4, CharDir("type4").c_str())) << e.lastError();
    Say(e);
    MarkupError err;
    // 3 frames are 100 ms either side of 600 ms
    ASSERT_FALSE(e.prepMarkedText("Hello <TON=TIP,3> big world", false, &err)) << err.message;
    ASSERT_TRUE(e.tongueTrackOn());
    int tip = BrovanaEngine::libraryIndex(e.tongueLibrary(), "TIP");
    ASSERT_GE(tip, 0);
    EXPECT_EQ(e.tongueKeyEntry(0, 16), -1);
    EXPECT_EQ(e.tongueKeyEntry(1, 16), tip);
    EXPECT_NEAR(e.tongueKeyWeight(1, 16), (533.3333f - 500) / 100, 1e-3);
    EXPECT_EQ(e.tongueKeyEntry(0, 18), tip);
    EXPECT_NEAR(e.tongueKeyWeight(0, 18), 1.0f, 1e-3);
    EXPECT_EQ(e.tongueKeyEntry(0, 25), -1);
    EXPECT_EQ(e.tongueKeyEntry(1, 25), -1);

    // the rest shape of TIP (all first-band values 130: LA = 0.3) for type 4
    float y[9], z[9], t[3], b[3], r[3];
    ASSERT_TRUE(e.tongueRestShape(tip, y, z, t, b, r));
    const float *R = e.tongueTableRow(0);
    for (int i = 0; i < 9; i++) EXPECT_NEAR(y[i], R[3 + i] - std::fabs(R[2]) * 0.5f * 0.3f, 1e-5) << i;
    for (int k = 0; k < 3; k++) EXPECT_NEAR(t[k], R[12 + k], 1e-5);

    // at the word end the drawn tongue is the library shape; far from it
    // the window's own shape
    float dy[9], dz[9], dt[3], db[3], dr[3];
    e.selectFrame(18);
    e.tongueDrawShape(dy, dz, dt, db, dr);
    for (int i = 0; i < 9; i++) EXPECT_NEAR(dy[i], y[i], 1e-5);
    e.selectFrame(30);
    float S[18];
    e.tongueShapeFromVisemes(e.currentRows(), e.currentTargets(), e.currentTongue(), e.currentWindow(), S);
    e.tongueDrawShape(dy, dz, dt, db, dr);
    for (int i = 0; i < 9; i++) EXPECT_NEAR(dy[i], S[3 + i], 1e-5);
}

TEST(TongueTags, no_rest_shape_beyond_the_five_tongue_characters) {
    BrovanaEngine e;
    ASSERT_TRUE(e.load(9, CharDir("type9").c_str())) << e.lastError();
    float y[9], z[9], t[3], b[3], r[3];
    EXPECT_FALSE(e.tongueRestShape(0, y, z, t, b, r));
    Say(e);
    MarkupError err;
    ASSERT_FALSE(e.prepMarkedText("Hello <TON=TIP,3> big world", false, &err)) << err.message;
    e.selectFrame(18);
    // the tongue pair is not applied: the window shape stays
    EXPECT_EQ(e.currentTongueEntries()[0], -1);
}

TEST(BodyTags, posture_reaches_the_gesture_at_the_word_end_and_returns) {
    BrovanaEngine e;
    ASSERT_TRUE(e.load(4, CharDir("type4").c_str())) << e.lastError();
    int arm = Node(e, "Bip01 R UpperArm");
    ASSERT_GE(arm, 0);
    Say(e);
    MarkupError err;
    // the file is "raise.ges"; the tag's name is upper-cased
    ASSERT_FALSE(e.prepMarkedText("Hello <POST=raise> big world", false, &err)) << err.message;
    ASSERT_TRUE(e.poseTrackOn());
    // keys: 10 at 0, 80 at 600, 10 at the end of the last word (its pause
    // included, 1560 ms), linear, sampled every 33 ms
    struct {
        int frame;
        float z;
    } cases[] = {{0, 10}, {9, 10 + 70 * 297 / 600.0f}, {18, 10 + 70 * 594 / 600.0f},
                 {30, 80 - 70 * (990 - 600) / 960.0f}, {46, 80 - 70 * (1518 - 600) / 960.0f}};
    for (auto &c : cases) EXPECT_NEAR(e.postureTrack(arm, 2, c.frame), c.z, 0.05f) << c.frame;
    e.selectFrame(18);
    EXPECT_NEAR(e.node(arm)->rotation[2], 10 + 70 * 594 / 600.0f, 0.05f);
    // prep and reset put the body back at rest
    e.prep();
    EXPECT_FALSE(e.poseTrackOn());
    EXPECT_NEAR(e.node(arm)->rotation[2], 10, 1e-4);
}

TEST(BodyTags, sequence_keys_from_the_word_end_stretched_to_a_length) {
    BrovanaEngine e;
    ASSERT_TRUE(e.load(4, CharDir("type4").c_str())) << e.lastError();
    int arm = Node(e, "Bip01 R UpperArm");
    struct Case {
        const char *text;
        int frame;
        float z;
    } cases[] = {
        // neu, RAISE, neu at 600, 850, 1100 ms
        {"Hello <BODY=ARMS,500> big world", 25, 10 + 70 * (825 - 600) / 250.0f},
        {"Hello <BODY=ARMS,500> big world", 30, 80 - 70 * (990 - 850) / 250.0f},
        // 1000 ms apart: RAISE at 1600, past the last word's end: cut there
        {"Hello <BODY=ARMS> big world", 30, 10},
        // a sequence past the next tagged word is cut there: neu at 600 and
        // 960, RAISE at 1960 dropped, then ARMS again from 960
        {"Hello <BODY=ARMS> big <BODY=ARMS,300> world", 20, 10},
        {"Hello <BODY=ARMS> big <BODY=ARMS,300> world", 33, 10 + 70 * (1089 - 960) / 150.0f},
        // a leading tag's first key is at 0
        {"<BODY=arms> Hello big world", 0, 10},
        {"<BODY=arms> Hello big world", 15, 10 + 70 * 495 / 1000.0f},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        Say(e);
        MarkupError err;
        ASSERT_FALSE(e.prepMarkedText(c.text, false, &err)) << err.message;
        ASSERT_TRUE(e.poseTrackOn());
        EXPECT_NEAR(e.bodyTrack(arm, 2, c.frame), c.z, 0.05f);
    }
    EXPECT_EQ(e.sequenceKeyCount(), 3);
    EXPECT_EQ(e.sequenceDurations()[1], 1000);
}

TEST(Libraries, listing_sorted_without_regard_to_case) {
    ScratchChar ch("type4");
    ch.write("Models/obriksign/B.GES", ch.read("Models/obriksign/neu.ges"));
    ch.write("Models/obriksign/notes.txt", "x");
    BrovanaEngine e;
    ASSERT_TRUE(e.load(4, ch.dir.c_str())) << e.lastError();
    // B.GES, neu.ges, raise.ges, wave.ges
    ASSERT_EQ(e.gestureCount(), 4);
    EXPECT_EQ(e.gestureName(0), "B");
    EXPECT_EQ(e.gestureName(2), "raise");
    EXPECT_EQ(e.gestureName(4), "");
    EXPECT_EQ(e.gestureIndex("b.ges"), 0);
    EXPECT_EQ(e.gestureIndex("RAISE.GES"), 2);
    EXPECT_EQ(e.gestureIndex("raise"), -1);
    EXPECT_EQ(e.handShapeCount(), 0);
    EXPECT_EQ(e.sequenceName(0), "ARMS");
    EXPECT_EQ(e.deleteGesture(0), 0);
    EXPECT_EQ(e.gestureCount(), 3);
    EXPECT_EQ(e.deleteGesture(7), -1);
}

TEST(Libraries, sequence_files_written_and_read_back) {
    ScratchChar ch("type4");
    BrovanaEngine e;
    ASSERT_TRUE(e.load(4, ch.dir.c_str())) << e.lastError();
    // gestures: 0 neu, 1 raise, 2 wave
    const int gestures[10] = {1, 0, -1, 5, 5, 5, 5, 5, 5, 5};
    const int durations[9] = {500};
    e.saveSequence("two", gestures, durations);
    EXPECT_EQ(ch.read("Models/obrikkeyframe/two.sqe"), "2\nraise.ges\nneu.ges\n500\n");
    struct Case {
        const char *text;
        int g[3], d[2];
    } cases[] = {
        {"2\r\nraise.ges\r\nneu.ges\r\n500\r\n", {1, 0, -1}, {500, 0}},
        {"2\nraise.ges\nneu.ges", {1, 0, -1}, {1000, 0}},          // no durations
        {"3\nRAISE.ges\nmissing.ges\nwave.ges\n0\n200\n", {1, -1, 2}, {1000, 200}},
        {"neu.ges\nwave.ges\n", {0, 2, -1}, {1000, 0}},            // no count line
        {"99\nneu.ges\n", {0, -1, -1}, {0, 0}},                    // count past the names
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        ch.write("Models/obrikkeyframe/two.sqe", c.text);
        int g[10], d[10];
        e.loadSequence(e.sequenceCount() - 1, g, d);  // "two" sorts last
        for (int k = 0; k < 3; k++) EXPECT_EQ(g[k], c.g[k]) << k;
        for (int k = 0; k < 2; k++) EXPECT_EQ(d[k], c.d[k]) << k;
    }
    // the tag's reader: CR LF count line, key table in key order
    ch.write("Models/obrikkeyframe/two.sqe", "2\r\nneu.ges\r\nraise.ges\r\n");
    ASSERT_TRUE(e.readSequence((ch.dir / "Models/obrikkeyframe/TWO.sqe").string()));
    EXPECT_EQ(e.sequenceKeyCount(), 2);
    int arm = e.findNode("Bip01 R UpperArm");
    EXPECT_NEAR(e.sequenceKey(arm, 0)[2], 10, 1e-4);
    EXPECT_NEAR(e.sequenceKey(arm, 1)[2], 80, 1e-4);
    EXPECT_FALSE(e.readSequence((ch.dir / "Models/obrikkeyframe/none.sqe").string()));
}

TEST(Libraries, sequence_player_reaches_every_key_on_time) {
    BrovanaEngine e;
    ASSERT_TRUE(e.load(4, CharDir("type4").c_str())) << e.lastError();
    int arm = e.findNode("Bip01 R UpperArm");
    int raise = e.gestureIndex("raise.ges"), neu = e.gestureIndex("neu.ges");
    e.applyGesture(0, neu);
    e.applyGesture(1, raise);
    e.applyGesture(2, neu);
    // key k follows key k - 1 by durations[k - 1]: 0, 600, 1000 ms
    const int durations[10] = {600, 400};
    e.startSequence(3, durations);
    const float *t = e.sequenceKeyTimes();
    EXPECT_FLOAT_EQ(t[1], 600);
    EXPECT_FLOAT_EQ(t[2], 1000);
    EXPECT_EQ(e.sequenceLength(), 30);
    // frame 18 is the second key, frame 30 the last
    EXPECT_NEAR(e.bodyTrack(arm, 2, 18), 80, 1e-3);
    EXPECT_NEAR(e.bodyTrack(arm, 2, 30), 10, 1e-3);
    e.sequenceFrame(18);
    EXPECT_NEAR(e.node(arm)->rotation[2], 80, 1e-3);
}

TEST(Libraries, pose_records_and_hand_shapes) {
    ScratchChar ch("type4");
    // a hook shape: every finger segment of the left hand at (40, 20, -60)
    std::string pose = ch.read("Models/obriksign/neu.ges"), hook;
    std::istringstream in(pose);
    for (std::string line; std::getline(in, line);) {
        if (line.find("Finger") != std::string::npos) line = line.substr(0, line.find(':')) + ":40,20,-60";
        hook += line + "\n";
    }
    ch.write("Models/obrikhandshape/BexloHookNew.ges", hook);
    BrovanaEngine e;
    ASSERT_TRUE(e.load(4, ch.dir.c_str())) << e.lastError();
    const bool fingers[5] = {true, false, false, false, false};
    e.applyHandShape(2, 180, fingers);
    for (int s = 0; s < 3; s++) {
        EXPECT_NEAR(e.bodyPoseValue(9 + s)[0], 20, 1e-3) << s;
        EXPECT_NEAR(e.bodyPoseValue(9 + s)[2], -30, 1e-3) << s;
    }
    EXPECT_NEAR(e.bodyPoseValue(12)[0], 0, 1e-6);  // finger 1 untouched
    // records: groups in record order, truncated toward zero
    int body[60], hand[45];
    e.setBodyPoseValue(25, 1.9f, -2.9f, 3.0f);
    e.getBodyPose(body);
    EXPECT_EQ(body[12], 1);
    EXPECT_EQ(body[13], -2);
    e.getHandPose(hand);
    EXPECT_EQ(hand[6], 20);   // finger 0's first segment
    EXPECT_EQ(hand[8], -30);
    int back[60];
    body[0] = 33;
    e.setBodyPose(body);
    e.getBodyPose(back);
    EXPECT_EQ(std::vector<int>(back, back + 60), std::vector<int>(body, body + 60));
    // a saved gesture lists and reads back as it was saved
    ASSERT_TRUE(e.saveGesture("mine"));
    int n = e.gestureIndex("MINE.ges");
    ASSERT_GE(n, 0);
    int b2[60], h2[45];
    e.setBodyPoseValue(6, 0, 0, 0);
    e.loadGesture(n, true, true, b2, h2);
    EXPECT_EQ(b2[0], 33);
    // names that would reach outside the library's folder write nothing
    int before = e.gestureCount();
    const int gestures[10] = {0, -1, -1, -1, -1, -1, -1, -1, -1, -1};
    const int durations[9] = {0};
    for (const char *bad : {"../escape", "sub/x", "..", "", "/tmp/abs"}) {
        EXPECT_FALSE(e.saveGesture(bad)) << bad;
        EXPECT_FALSE(e.saveHandShape(bad)) << bad;
        e.saveSequence(bad, gestures, durations);
    }
    EXPECT_EQ(e.gestureCount(), before);
    EXPECT_FALSE(fs::exists(ch.dir / "Models/escape.ges"));
    EXPECT_FALSE(fs::exists(ch.dir / "Models/escape.sqe"));
}

TEST(Libraries, hand_shapes_saved_overwritten_loaded_per_side_and_deleted) {
    ScratchChar ch("type4");
    BrovanaEngine e;
    ASSERT_TRUE(e.load(4, ch.dir.c_str())) << e.lastError();
    ASSERT_EQ(e.handShapeCount(), 0);
    // a hand with every finger segment at a distinct angle
    int hand[45];
    for (int i = 0; i < 45; i++) hand[i] = (i % 3 == 0 ? 1 : -1) * (i + 5);
    e.setHandPose(hand);
    EXPECT_FALSE(e.saveHandShape("Grip"));  // the character has no hand-shape folder
    fs::create_directories(ch.dir / "Models/obrikhandshape");
    ASSERT_TRUE(e.saveHandShape("Grip"));
    ASSERT_EQ(e.handShapeCount(), 1);
    EXPECT_EQ(e.handShapeName(0), "Grip");
    EXPECT_FALSE(e.overwriteHandShape(1));
    // another pose over it, then the saved one back
    int other[45] = {0}, got[45];
    e.setHandPose(other);
    ASSERT_TRUE(e.saveHandShape("zero"));
    e.setHandPose(hand);
    ASSERT_TRUE(e.overwriteHandShape(1));  // "zero" now holds the hand too
    e.setHandPose(other);
    e.loadHandShape(1, true, false, got);
    // a file holds two segments a finger: the third takes the second's
    // angles (record order: second, third, first segment)
    std::vector<int> want(hand, hand + 45);
    for (int f = 0; f < 5; f++)
        for (int a = 0; a < 3; a++) want[9 * f + 3 + a] = hand[9 * f + a];
    EXPECT_EQ(std::vector<int>(got, got + 45), want);
    // the right hand takes the left's shape mirrored: (x, -y, -z)
    e.setHandPose(other);
    e.loadHandShape(0, false, true, got);
    const float *r = e.node(e.findNode("Bip01 R Finger0"))->pose;
    EXPECT_NEAR(r[0], (float)hand[6], 1e-4);
    EXPECT_NEAR(r[1], (float)-hand[7], 1e-4);
    EXPECT_NEAR(r[2], (float)-hand[8], 1e-4);
    EXPECT_NEAR(e.node(e.findNode("Bip01 L Finger0"))->pose[0], 0, 1e-6);  // the left hand stays
    EXPECT_EQ(e.deleteHandShape(0), 0);
    EXPECT_EQ(e.handShapeCount(), 1);
    EXPECT_EQ(e.deleteHandShape(5), -1);
}
