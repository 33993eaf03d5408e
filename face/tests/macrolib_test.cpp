// Macro libraries (expression, tongue and head) as an editing tool uses
// them, the setters that show an edited record, the script line, the
// tagged phonemes with the automatic blink, and the tongue's air-stream arcs.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <fstream>
#include <sstream>

#include "engine.h"
#include "test_util.h"

using brovana::BrovanaEngine;
using brovana::MarkupError;
using brovana::ParaEditRecord;
using brovana::TongueModel;

namespace {

// A private copy of the type 4 character: the writers change its files.
std::string CopyOfType4(const std::string &name) {
    std::string dir = testing::TempDir() + "macrolib-" + name + "-" + std::to_string(getpid());
    std::string cmd = "rm -rf '" + dir + "' && cp -r '" + CharDir("type4") + "' '" + dir + "'";
    EXPECT_EQ(system(cmd.c_str()), 0);
    return dir;
}

std::string ReadAll(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteAll(const std::string &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

class MacroLibrary : public testing::Test {
protected:
    void SetUp() override {
        dir = CopyOfType4(testing::UnitTest::GetInstance()->current_test_info()->name());
        ASSERT_TRUE(e.load(4, dir.c_str())) << e.lastError();
        e.loadLibraries();
    }
    void TearDown() override { EXPECT_EQ(system(("rm -rf '" + dir + "'").c_str()), 0); }
    std::string lib(const char *file) const { return dir + "/Lib/" + file; }
    BrovanaEngine e;
    std::string dir;
};

ParaEditRecord Numbered() {
    ParaEditRecord r;
    for (int i = 0; i < 44; i++) r.r[i] = 10 + i;
    return r;
}

}  // namespace

TEST_F(MacroLibrary, head_entries_are_stored_plus_90_and_read_back_as_angles) {
    std::string before = ReadAll(lib("Head.lib"));
    const int nod[3] = {10, 0, -5};
    ASSERT_TRUE(e.appendHeadLibEntry("NOD2", nod));
    EXPECT_EQ(ReadAll(lib("Head.lib")), before + "NOD2 100 90 85 \n");
    int last = e.headLibCount() - 1, out[3];
    ASSERT_NE(e.headLibAngles(last, out), nullptr);
    EXPECT_EQ(std::vector<int>(out, out + 3), (std::vector<int>{10, 0, -5}));
    EXPECT_EQ(e.headLibName(last), "NOD2");
    // out of range: the empty answers, and nothing written
    EXPECT_EQ(e.headLibName(-1), "");
    EXPECT_EQ(e.headLibName(e.headLibCount()), "");
    EXPECT_EQ(e.headLibAngles(e.headLibCount(), out), nullptr);
    std::string now = ReadAll(lib("Head.lib"));
    EXPECT_FALSE(e.replaceHeadLibEntry(99, nod));
    EXPECT_FALSE(e.deleteHeadLibEntry(-1));
    EXPECT_EQ(ReadAll(lib("Head.lib")), now);
    // applying an entry turns the head
    e.applyHeadEntry(last);
    EXPECT_FLOAT_EQ(e.headAngles()[2], -5.0f);
}

TEST_F(MacroLibrary, replace_keeps_the_name_and_gives_the_record_back_in_editing_order) {
    ASSERT_GE(e.paraLibCount(), 3);
    std::string name = e.paraLibName(2);
    ParaEditRecord r = Numbered(), back;
    ASSERT_TRUE(e.replaceParaLibEntry(2, r));
    EXPECT_EQ(e.paraLibName(2), name);
    ASSERT_NE(e.paraLibValues(2, &back), nullptr);
    for (int i = 0; i < 44; i++) EXPECT_EQ(back.r[i], r.r[i]) << i;
    // the file holds the values in file order: L2 is r3, L7 is r4, L43 is r40
    std::istringstream file(ReadAll(lib("Para.lib")));
    std::string line, tok;
    for (int i = 0; i <= 2; i++) std::getline(file, line);
    std::istringstream entry(line);
    std::vector<int> L;
    entry >> tok;
    for (int v; entry >> v;) L.push_back(v);
    ASSERT_EQ(L.size(), 44u);
    EXPECT_EQ(tok, name);
    EXPECT_EQ(L[2], r.r[3]);
    EXPECT_EQ(L[7], r.r[4]);
    EXPECT_EQ(L[43], r.r[40]);
}

TEST_F(MacroLibrary, delete_rewrites_the_file_and_the_last_entry_leaves_it_empty) {
    int n = e.tongueParaLibCount();
    ASSERT_GE(n, 1);
    std::string second = n > 1 ? e.tongueParaLibName(1) : "";
    ASSERT_TRUE(e.deleteTongueParaLibEntry(0));
    EXPECT_EQ(e.tongueParaLibCount(), n - 1);
    if (n > 1) {
        EXPECT_EQ(e.tongueParaLibName(0), second);
    }
    while (e.tongueParaLibCount() > 0) ASSERT_TRUE(e.deleteTongueParaLibEntry(0));
    EXPECT_EQ(ReadAll(lib("TonguePara.lib")), "");
    EXPECT_EQ(e.tongueParaLibValues(0), nullptr);
}

TEST_F(MacroLibrary, names_that_the_format_cannot_hold_write_nothing) {
    std::string before = ReadAll(lib("Para.lib"));
    int count = e.paraLibCount();
    for (const char *name : {"", "TWENTYCHARACTERSLONG", "TWO WORDS", "TAB\tNAME"})
        EXPECT_FALSE(e.appendParaLibEntry(name, Numbered())) << name;
    EXPECT_EQ(ReadAll(lib("Para.lib")), before);
    EXPECT_EQ(e.paraLibCount(), count);
    ASSERT_TRUE(e.appendParaLibEntry("NINETEENCHARACTERS1", Numbered()));
    EXPECT_EQ(e.paraLibName(count), "NINETEENCHARACTERS1");
}

TEST_F(MacroLibrary, line_breaks_and_cr_lf_carry_no_meaning_and_a_short_entry_ends_the_library) {
    std::string v3 = "1 2 3", v41;
    for (int i = 4; i <= 44; i++) v41 += std::to_string(i) + (i % 10 ? " " : "\r\n");
    WriteAll(lib("Para.lib"), "NEUT " + v3 + "\r\n" + v41 + "\nCUT 1 2 3\n");
    e.loadLibraries();
    ASSERT_EQ(e.paraLibCount(), 1);
    ParaEditRecord r;
    e.paraLibValues(0, &r);
    EXPECT_EQ(r.r[0], 1);   // L0
    EXPECT_EQ(r.r[40], 44);  // L43
    // an append after a last entry without a line end keeps both entries
    WriteAll(lib("Head.lib"), "UP 100 90 90");
    const int down[3] = {-10, 0, 0};
    ASSERT_TRUE(e.appendHeadLibEntry("DOWN", down));
    ASSERT_EQ(e.headLibCount(), 2);
    EXPECT_EQ(e.headLibName(1), "DOWN");
    // a missing file gives an empty library, and an append creates it
    remove(lib("Head.lib").c_str());
    e.loadLibraries();
    EXPECT_EQ(e.headLibCount(), 0);
    const int a[3] = {0, 0, 0};
    EXPECT_TRUE(e.appendHeadLibEntry("REST", a));
    EXPECT_EQ(e.headLibCount(), 1);
}

// An edited record shows as the same record does once saved and applied.
TEST_F(MacroLibrary, an_edited_record_shows_as_it_plays_once_saved) {
    ParaEditRecord r = Numbered();
    r.r[3] = 75, r.r[11] = 25;  // eyelids
    e.setFaceParameters(r);
    std::vector<float> E(e.expressionValues(), e.expressionValues() + 32);
    std::vector<float> emo(e.emotionWeights(), e.emotionWeights() + 6);
    std::vector<int> gates(e.expressionGates(), e.expressionGates() + 6);
    EXPECT_FLOAT_EQ(E[2], 0.5f);
    EXPECT_FLOAT_EQ(E[24], -0.5f);
    ASSERT_TRUE(e.appendParaLibEntry("EDITED", r));
    e.applyParaEntry(e.paraLibCount() - 1);
    for (int i = 0; i < 32; i++) EXPECT_FLOAT_EQ(e.expressionValues()[i], E[i]) << "E" << i;
    for (int i = 0; i < 6; i++) EXPECT_FLOAT_EQ(e.emotionWeights()[i], emo[i]) << "emotion " << i;
    for (int i = 0; i < 6; i++) EXPECT_EQ(e.expressionGates()[i], gates[i]) << "gate " << i;
}

TEST_F(MacroLibrary, emotion_eyelid_and_eye_setters_scale_their_values) {
    const int emotions[6] = {10, 20, 30, 40, 85, 50};  // sad angry smile fear disgust surprise
    e.setEmotions(emotions);
    const float *w = e.emotionWeights();  // sad surprise smile fear disgust angry
    EXPECT_FLOAT_EQ(w[0], 0.2f);
    EXPECT_FLOAT_EQ(w[1], 1.0f);
    EXPECT_FLOAT_EQ(w[2], 0.6f);
    EXPECT_FLOAT_EQ(w[3], 0.8f);
    EXPECT_NEAR(w[4], 1.0f, 1e-6);
    EXPECT_FLOAT_EQ(w[5], 0.4f);
    for (int k = 0; k < 6; k++) EXPECT_EQ(e.expressionGates()[k], 1);
    e.setEyelids(100);
    EXPECT_FLOAT_EQ(e.expressionValues()[2], 1.0f);
    EXPECT_FLOAT_EQ(e.expressionValues()[24], 1.0f);
    const int eyes[4] = {10, 20, 30, 40};  // down up right left
    e.setEyeDirections(eyes);
    const float *E = e.expressionValues();
    struct Pair {
        int a, b;
        float want;
    } pairs[] = {{7, 31, 0.1f}, {4, 28, 0.2f}, {5, 29, 0.3f}, {6, 30, 0.4f}};
    for (const Pair &p : pairs) {
        EXPECT_FLOAT_EQ(E[p.a], p.want) << p.a;
        EXPECT_FLOAT_EQ(E[p.b], p.want) << p.b;
    }
    const int head[3] = {5, -6, 7};
    e.setHeadAngles(head);
    EXPECT_FLOAT_EQ(e.headAngles()[1], -6.0f);
    e.setHeadAngles(nullptr);
    EXPECT_FLOAT_EQ(e.headAngles()[1], 0.0f);
}

// An edited tongue entry is drawn as the markup draws the same entry.
TEST_F(MacroLibrary, an_edited_tongue_entry_shows_as_the_markup_draws_it) {
    int v[24];
    for (int i = 0; i < 24; i++) v[i] = 100 + 3 * i - 30;
    for (int k = 0; k < 3; k++) v[18 + k] = 120, v[21 + k] = 90;  // tip wider, body narrower
    ASSERT_TRUE(e.appendTongueParaLibEntry("EDIT", v));
    float want[5][9], got[5][9];
    ASSERT_TRUE(e.tongueRestShape(e.tongueParaLibCount() - 1, want[0], want[1], want[2], want[3], want[4]));
    EXPECT_FALSE(e.tongueRestFlag());
    EXPECT_TRUE(e.applyTongueParaEntry(v));
    EXPECT_TRUE(e.tongueRestFlag());
    e.tongueDrawShape(got[0], got[1], got[2], got[3], got[4]);
    for (int a = 0; a < 5; a++)
        for (int i = 0; i < (a < 2 ? 9 : 3); i++) EXPECT_FLOAT_EQ(got[a][i], want[a][i]) << a << " " << i;
}

// ------------------------------------------------------------ script lines

TEST(ScriptLine, reads_the_command_the_character_and_the_word_after_it) {
    BrovanaEngine e;
    ASSERT_TRUE(e.load(4, CharDir("type4").c_str())) << e.lastError();
    const char *ph[][2] = {{".pau", ""}, {"h", "hi"}, {"aI", ""}, {".pau", ""}};
    struct Case {
        const char *line;
        bool more;
        const char *word;
        int start, end;  // start given 3
    } cases[] = {
        {"hello there", true, "HELLO", 0, 5},
        {"", true, "", 0, 0},
        {"create nobody speak", true, "NOBODY", 3 + 6, 6},
        {"CREATE bexlo speak", false, "", 3, -1},
        {"create Bexlo  wave now", true, "WAVE", 12, 16},
    };
    for (const Case &c : cases) {
        for (auto &p : ph) e.addPhoneme(p[0], 100, p[1], false);
        std::string word = "", next;
        int start = 3, end = -1;
        EXPECT_EQ(e.runScriptLine(c.line, &word, &start, &end, &next), c.more) << c.line;
        EXPECT_EQ(word, c.word) << c.line;
        EXPECT_EQ(start, c.start) << c.line;
        EXPECT_EQ(end, c.end) << c.line;
        e.reset();
    }
    // the loaded character is kept and the phonemes prepared
    for (auto &p : ph) e.addPhoneme(p[0], 100, p[1], false);
    std::string word, next;
    int start = 0, end = 0;
    EXPECT_FALSE(e.runScriptLine("create bexlo SPEAK", &word, &start, &end, &next));
    EXPECT_EQ(next, "SPEAK");
    EXPECT_TRUE(e.loaded());
    EXPECT_EQ(e.pendingPhonemes(), 0);
    EXPECT_GT(e.frameCount(), 0);
    // another character is loaded from the same directory: there is none
    // of type 0 there, so the engine is left without one
    EXPECT_TRUE(e.runScriptLine("create tamsel go", &word, &start, &end, &next));
    EXPECT_EQ(word, "GO");
    EXPECT_FALSE(e.loaded());
    EXPECT_EQ(e.characterType(), 0);
}

// ------------------------------------------------------------ automatic blink

namespace {

void SayTagged(BrovanaEngine &e, const char *tags[3]) {
    e.reset();
    const char *ph[][2] = {{"h", "Hello"}, {"E", ""}, {"l", ""}, {"oU", ""}, {"b", "big"}, {"I", ""},
                           {"g", ""},      {"w", "world"}, {"3r", ""}, {"l", ""}, {"d", ""}};
    int w = 0;
    for (auto &p : ph) e.addTaggedPhoneme(p[0], 120, p[1], *p[1] ? tags[w++] : nullptr, false);
}

}  // namespace

TEST(AutoBlink, tags_given_with_the_phonemes_play_and_the_blink_lands_on_the_drawn_word) {
    BrovanaEngine e;
    ASSERT_TRUE(e.load(4, CharDir("type4").c_str())) << e.lastError();
    e.loadLibraries();
    const char *tags[3] = {"FET=SMI LE!", nullptr, ""};
    SayTagged(e, tags);
    e.prep();
    MarkupError err;
    ASSERT_FALSE(e.prepMarkedTextAutoBlink(false, &err)) << err.message;
    int smile = BrovanaEngine::libraryIndex(e.paraLibrary(), "SMILE");
    int neut = BrovanaEngine::libraryIndex(e.paraLibrary(), "NEUT");
    EXPECT_EQ(e.expressionKeyEntries(), (std::vector<int>{neut, smile, neut}));
    EXPECT_FALSE(e.eyePairOn());  // the automatic blink is off

    e.setAutoBlink(true);
    e.setAutoBlinkWords(1, 1);
    e.setAutoBlinkCount(3);
    SayTagged(e, tags);
    e.prep();
    ASSERT_FALSE(e.prepMarkedTextAutoBlink(false, &err)) << err.message;
    EXPECT_EQ(e.lastAutoBlinkWord(), 1);
    EXPECT_EQ(e.tagColumns()[1][1], "3,B");
    ASSERT_TRUE(e.eyePairOn());
    // "big" ends at 840 ms, frame 25.2: the blink is full at its end
    EXPECT_EQ(e.blinkTarget(1, 25), e.slot(20));
    EXPECT_GT(e.blinkWeight(1, 25), 0.9f);
    EXPECT_EQ(e.blinkSide(24), 0);

    // the drawn word stays within the settings
    e.seedRandomWith(7);
    e.setAutoBlinkWords(0, 2);
    for (int i = 0; i < 20; i++) {
        SayTagged(e, tags);
        e.prep();
        ASSERT_FALSE(e.prepMarkedTextAutoBlink(false, &err)) << err.message;
        EXPECT_GE(e.lastAutoBlinkWord(), 0);
        EXPECT_LE(e.lastAutoBlinkWord(), 2);
    }
}

TEST(AutoBlink, errors_have_no_text_to_point_into) {
    BrovanaEngine e;
    ASSERT_TRUE(e.load(4, CharDir("type4").c_str())) << e.lastError();
    e.loadLibraries();
    const char *bad[3] = {"FET=GRIN", nullptr, nullptr};
    SayTagged(e, bad);
    e.prep();
    MarkupError err;
    ASSERT_TRUE(e.prepMarkedTextAutoBlink(false, &err));
    EXPECT_EQ(err.message, "FET");
    EXPECT_EQ(err.start, -1);
    EXPECT_EQ(err.end, -1);
    EXPECT_FALSE(e.markupTrackOn());
    // phonemes not yet prepared have no word times
    const char *ok[3] = {nullptr, nullptr, nullptr};
    SayTagged(e, ok);
    ASSERT_TRUE(e.prepMarkedTextAutoBlink(false, &err));
    EXPECT_EQ(err.message, "the phonemes are not prepared");
    // a tag longer than 50 characters is no tag
    const char *longTag[3] = {"FET=GRINNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNN", nullptr, nullptr};
    SayTagged(e, longTag);
    e.prep();
    EXPECT_FALSE(e.prepMarkedTextAutoBlink(false, &err)) << err.message;
}

// ------------------------------------------------------------ arcs

TEST(TongueArcs, oral_arcs_run_from_start_to_end_and_grow) {
    TongueModel t;
    float L[6][3] = {{0, 0, 0}, {1, 2, 3}, {0, 1, 0}, {0, 0, 1}, {1, 0, 0}, {1, 1, 1}};
    memcpy(t.landmarks, L, sizeof L);
    struct Case {
        int k;
        float u;
        float pos[3], radius, divisor;
    } cases[] = {
        {1, 0, {1.2f, 0.4f, 3.6f}, 2, 2},      // 1.2 of the way, 2 lower
        {1, 1, {3, 1, 9}, 10, 4.5f},           // 3 of the way, 5 lower
        {1, 0.5f, {2.1f, 0.7f, 6.3f}, 6, 3.25f},
        {4, 1, {3, -3, 0}, 10, 4.5f},          // 3 lower
        {5, 1, {2, -7, 3}, 10, 4.5f},          // x twice the way, 10 lower
    };
    for (const Case &c : cases) {
        float pos[3], r, d;
        t.arcPlacement(c.k, c.u, false, pos, &r, &d);
        for (int i = 0; i < 3; i++) EXPECT_NEAR(pos[i], c.pos[i], 1e-5) << c.k << " " << c.u << " " << i;
        EXPECT_FLOAT_EQ(r, c.radius);
        EXPECT_FLOAT_EQ(d, c.divisor);
    }
}

TEST(TongueArcs, nasal_arcs_leave_higher_and_start_turned_about_their_end) {
    TongueModel t;
    float L[6][3] = {{0, 0, 0}, {1, 2, 3}, {0, 1, 0}, {0, 0, 1}, {1, 0, 0}, {1, 1, 1}};
    memcpy(t.landmarks, L, sizeof L);
    float end[3], start[3], r, d;
    t.arcPlacement(1, 1, true, end, &r, &d);
    EXPECT_NEAR(end[0], 3, 1e-5);
    EXPECT_NEAR(end[1], 6 - 25, 1e-5);
    EXPECT_NEAR(end[2], 9 + 10, 1e-5);
    EXPECT_FLOAT_EQ(r, 5);
    EXPECT_FLOAT_EQ(d, 3);
    t.arcPlacement(1, 0, true, start, &r, &d);
    EXPECT_FLOAT_EQ(r, 1);
    EXPECT_FLOAT_EQ(d, 1.5f);
    // the unturned start (1.2, 2.4 - 20, 3.6) keeps its distance from the
    // end and turns by 35 degrees in the y-z plane
    float sy = 2.4f - 20 - end[1], sz = 3.6f - end[2];
    float ty = start[1] - end[1], tz = start[2] - end[2];
    EXPECT_NEAR(start[0], 1.2f, 1e-5);
    EXPECT_NEAR(std::hypot(ty, tz), std::hypot(sy, sz), 1e-4);
    float turned = std::atan2(tz, ty) - std::atan2(sz, sy);
    EXPECT_NEAR(turned * 180 / M_PI, 35.0, 1e-3);
}

TEST(TongueArcs, an_arc_is_a_half_circle_in_the_y_z_plane) {
    std::vector<float> p = TongueModel::arcPoints(2, 50, 180);
    ASSERT_GE(p.size(), 3u * 51);
    EXPECT_NEAR(p[1], -2, 1e-5);  // starts at (0, -r, 0)
    EXPECT_NEAR(p[2], 0, 1e-5);
    EXPECT_NEAR(p[3 * 25 + 2], -2, 1e-5);  // a quarter turn on: (0, 0, -r)
    EXPECT_NEAR(p[3 * 50 + 1], 2, 1e-4);   // half a turn: (0, r, 0)
    for (size_t i = 0; i < p.size(); i += 3) {
        EXPECT_EQ(p[i], 0);
        EXPECT_NEAR(std::hypot(p[i + 1], p[i + 2]), 2, 1e-5);
    }
    EXPECT_TRUE(TongueModel::arcPoints(2, 0, 180).empty());  // no endless loop
}

TEST(TongueMesh, normals_and_unit_vectors) {
    struct Case {
        float in[3], out[3];
    } units[] = {
        {{3, 4, 0}, {0.6f, 0.8f, 0}},
        {{0, 0, -2}, {0, 0, -1}},
        {{0, 0, 0}, {0, 0, 0}},  // no length: stays as it is
    };
    for (const Case &c : units) {
        float v[3] = {c.in[0], c.in[1], c.in[2]};
        TongueModel::normalize(&v[0], &v[1], &v[2]);
        for (int k = 0; k < 3; k++) EXPECT_FLOAT_EQ(v[k], c.out[k]) << c.in[0] << " " << c.in[1] << " " << c.in[2];
    }
    float n[3];
    const float ex[3] = {2, 0, 0}, ey[3] = {0, 3, 0};
    TongueModel::faceNormal(ex, ey, n);
    EXPECT_FLOAT_EQ(n[2], 1);
    TongueModel::faceNormal(ey, ex, n);
    EXPECT_FLOAT_EQ(n[2], -1);
    TongueModel::faceNormal(ex, ex, n);  // parallel edges: the zero normal
    EXPECT_EQ(n[0] * n[0] + n[1] * n[1] + n[2] * n[2], 0.0f);
}

TEST(TongueMesh, scale_and_shift_move_the_rest_mesh_and_so_every_placement) {
    BrovanaEngine e;
    ASSERT_TRUE(e.load(4, CharDir("type4").c_str())) << e.lastError();
    TongueModel t = *e.tongue();
    const TongueModel &before = *e.tongue();
    t.scaleAndShift(2, 1, -1, 0.5);
    for (int v : {0, 93, 192, t.vertexCount - 1}) {
        EXPECT_FLOAT_EQ(t.x[v], 2 * before.x[v] + 1) << v;  // scaled about the origin, then shifted
        EXPECT_FLOAT_EQ(t.y[v], 2 * before.y[v] - 1) << v;
        EXPECT_FLOAT_EQ(t.z[v], 2 * before.z[v] + 0.5f) << v;
    }
    // placed with unit scales and no offsets, the landmarks move the same way
    const float zero9[9] = {0}, one[3] = {1, 1, 1}, none[3] = {0, 0, 0};
    std::vector<float> normals;
    TongueModel a = before;
    a.place(zero9, zero9, one, one, none, &normals);
    t.place(zero9, zero9, one, one, none, &normals);
    EXPECT_FLOAT_EQ(t.landmarks[0][0], 2 * a.landmarks[0][0] + 1);
    EXPECT_FLOAT_EQ(t.landmarks[0][1], 2 * a.landmarks[0][1] - 1);
    TongueModel empty;
    empty.scaleAndShift(2, 1, 1, 1);  // no mesh: nothing to move
    EXPECT_TRUE(empty.x.empty());
}

TEST(TongueArcs, the_switch_gate_time_and_phoneme_choose_the_arcs) {
    BrovanaEngine e;
    ASSERT_TRUE(e.load(4, CharDir("type4").c_str())) << e.lastError();
    for (const char *p : {".pau", "m", "A", ".pau"}) e.addPhoneme(p, 250, "", false);
    e.prep();
    ASSERT_GT(e.duration(), 0);
    struct Case {
        bool on, gate;
        int row;
        float atFraction;
        bool drawn, nasal;
    } cases[] = {
        {false, true, 28, 0.1f, false, false},  // off by default
        {true, false, 28, 0.1f, false, false},  // gate closed
        {true, true, 28, 0.1f, true, true},     // "m"
        {true, true, 6, 0.5f, true, true},
        {true, true, 25, 0.85f, true, true},
        {true, true, 10, 0.5f, true, false},    // an oral phoneme
        {true, true, 10, 0.9f, false, false},   // too late in the utterance
    };
    float fraction;
    bool nasal;
    EXPECT_FALSE(e.tongueArcs(&fraction, &nasal));
    for (const Case &c : cases) {
        e.setTongueArcs(c.on, c.gate);
        e.setArcPhoneme(c.row, c.atFraction * e.duration());
        nasal = !c.nasal;
        EXPECT_EQ(e.tongueArcs(&fraction, &nasal), c.drawn) << c.row << " " << c.atFraction;
        if (c.drawn) {
            EXPECT_EQ(nasal, c.nasal);
            EXPECT_NEAR(fraction, c.atFraction, 1e-5);
        }
    }
}

TEST_F(MacroLibrary, library_entries_go_straight_onto_the_face) {
    int smile = BrovanaEngine::libraryIndex(e.paraLibrary(), "SMILE");
    ASSERT_GE(smile, 0);
    ASSERT_GT(e.headLibCount(), 0);
    int angles[3];
    e.headLibAngles(0, angles);
    e.applyLibraryEntries(smile, 0);
    EXPECT_GT(e.emotionWeights()[2], 0.0f);
    EXPECT_EQ(e.mixTargets()[0], e.composedIndex());
    for (int k = 0; k < 3; k++) EXPECT_FLOAT_EQ(e.headAngles()[k], (float)angles[k]);
    // out of range: neither the expression nor the head changes
    e.setParameters(0, 0, 0, 0, 0, 0);
    e.setHeadAngles(1, 2, 3);
    e.applyLibraryEntries(e.paraLibCount(), -1);
    EXPECT_EQ(e.emotionWeights()[2], 0.0f);
    EXPECT_FLOAT_EQ(e.headAngles()[0], 1.0f);
}

TEST(ProcedureLog, lines_are_appended_in_the_current_directory) {
    char tmpl[] = "/tmp/facelogXXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    char here[4096];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    ASSERT_EQ(chdir(tmpl), 0);
    BrovanaEngine::logProcedure("load", 1);
    BrovanaEngine::logProcedure("prep ", 0);
    BrovanaEngine::logProcedure("show", 1);
    BrovanaEngine::logProcedure(nullptr, 1);
    std::string text = ReadAll("procedurem.txt");
    ASSERT_EQ(chdir(here), 0);
    EXPECT_EQ(text, "load\nprep show\n\n");
    EXPECT_EQ(system((std::string("rm -rf ") + tmpl).c_str()), 0);
}

// The older compositions sum slot targets' displacements into their own work
// objects: the face form on even regions whose teeth do not move, the
// emotion form on every region from 1; the evaluated face stays as it was.
TEST(OlderCompositions, slot_targets_sum_on_their_regions_into_their_own_objects) {
    std::string dir = CopyOfType4("older");
    BrovanaEngine e;
    ASSERT_TRUE(e.load(4, dir.c_str())) << e.lastError();
    const brovana::MeshObject &N = *e.object(e.slot(6)), &face = *e.object(e.evaluatedFace());
    std::vector<float> held(face.z);
    auto dz = [&](int slot, int v) { return e.object(e.slot(slot))->z[v] - N.z[v]; };
    const float w[6] = {1, 0, 0, 0, 0.5f, 0};  // sneer right, surprise at half
    auto sum = [&](int v) { return dz(12, v) + 0.5f * dz(5, v); };
    int out = e.composeFaceTargets(w);
    ASSERT_EQ(out, e.objectCount() + 18);
    const brovana::MeshObject &c = *e.object(out);
    int even = -1, odd = -1;
    for (int v = 0; v < c.V; v++) {
        int r = e.regionCode(v);
        bool acts = r != 0 && r % 2 == 0;
        ASSERT_NEAR(c.z[v], N.z[v] + (acts ? sum(v) : 0), 1e-5) << v;
        if (std::fabs(sum(v)) > 1e-3) (acts ? even : odd) = v;
    }
    ASSERT_GE(even, 0);
    ASSERT_GE(odd, 0);  // a vertex the sum would move but the region keeps
    const float smile[6] = {0, 0, 1, 0, 0, 0};
    e.composeEmotionTargets(smile);
    for (int v = 0; v < c.V; v++) ASSERT_NEAR(c.z[v], N.z[v] + (e.regionCode(v) >= 1 ? dz(2, v) : 0), 1e-5) << v;
    int half = e.blendSlotTargetInPlace(2, 0.5f);
    EXPECT_EQ(half, e.objectCount() + 14);
    EXPECT_NEAR(e.object(half)->z[even], N.z[even] + 0.5f * dz(2, even), 1e-5);
    EXPECT_EQ(e.blendSlotTarget(6, 2, 1), -1);  // no seventh blend
    EXPECT_EQ(e.blendSlotTarget(0, 22, 1), -1);  // no such slot
    EXPECT_EQ(face.z, held);
    // the pair offset: the composed smile from neutral at full weight
    e.setParameters(0, 0, 1, 0, 0, 0);
    float p[3];
    e.pairTargetOffset(even, p);
    EXPECT_NEAR(p[2], e.object(e.composedIndex())->z[even] - N.z[even], 1e-6);
    e.pairTargetOffset(-1, p);
    EXPECT_EQ(p[2], 0);

    // teeth that move keep the vertex out of the face form
    std::string teeth = dir + "/Models/FaceCom/bTeethMotionIndext.bin", t = ReadAll(teeth);
    ASSERT_GE(t.size(), 8u * (even + 1));
    t[8 * even] = 1;
    WriteAll(teeth, t);
    BrovanaEngine moved;
    ASSERT_TRUE(moved.load(4, dir.c_str())) << moved.lastError();
    const brovana::MeshObject &m = *moved.object(moved.composeFaceTargets(w));
    EXPECT_EQ(m.z[even], moved.object(moved.slot(6))->z[even]);
    BrovanaEngine none;
    EXPECT_EQ(none.composeFaceTargets(w), -1);
    EXPECT_EQ(system(("rm -rf '" + dir + "'").c_str()), 0);
}
