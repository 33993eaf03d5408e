// Coefficient tracks of the 15- and 38-parameter mouths: corpus readers,
// code forms, corpus segmentation, and the tracks themselves, which a numpy
// script recomputes from the generated corpus.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "engine.h"
#include "test_util.h"

using brovana::BrovanaEngine;
using brovana::CorpusSegment;

namespace {

struct Ph {
    const char *symbol;
    float ms;
    const char *word;
};

void Say(BrovanaEngine &e, std::initializer_list<Ph> ph) {
    e.reset();
    for (const Ph &p : ph) e.addPhoneme(p.symbol, p.ms, p.word, false);
    e.prep();
}

// Writes what the engine prepared, for the numpy check.
std::string Dump(const BrovanaEngine &e, const std::string &name) {
    std::string path = ::testing::TempDir() + "/" + name + ".txt";
    std::ofstream out(path);
    out << "fps " << e.frameRate() << "\nnames";
    for (const auto &n : e.modelNames()) out << " " << n;
    out << "\ndurs";
    char buf[64];
    for (float d : e.modelDurations()) snprintf(buf, sizeof buf, " %.9g", d), out << buf;
    out << "\nframes " << e.coefficientFrames() << "\ntags";
    for (int t : e.frameTags()) out << " " << t;
    out << "\n";
    for (const CorpusSegment &s : e.lastSegments())
        out << "segment " << s.entry << " " << s.first << " " << s.last << " " << s.start << "\n";
    for (const auto &track : e.coefficientTracks()) {
        out << "track";
        for (int f = 0; f < e.coefficientFrames(); f++) snprintf(buf, sizeof buf, " %.12g", track[f]), out << buf;
        out << "\n";
    }
    return path;
}

int NumpyCheck(const std::string &character, const std::string &dump) {
    std::string cmd = std::string(FACE_PYTHON " ") + FACE_TESTS_DIR + "/check_coefficients.py " + CharDir(character) +
                      " " + dump;
    return system(cmd.c_str());
}

double Coef(const BrovanaEngine &e, int k, int f) { return e.coefficientTracks()[k][f]; }

}  // namespace

TEST(Corpus, damaged_files_fail_the_load_with_their_name) {
    struct Case {
        const char *dir;
        int type;
        const char *file;
    } cases[] = {
        {"damaged8-missing-twomap", 8, "twomap.txt"}, {"damaged8-bad-twomap", 8, "twomap.txt"},
        {"damaged8-short-pacom", 8, "PacomN.bin"},    {"damaged9-missing-set1", 9, "Set1.txt"},
        {"damaged9-bad-set", 9, "Set2.txt"},          {"damaged9-short-beta", 9, "Beta.bin"},
    };
    BrovanaEngine e;
    for (const Case &c : cases) {
        EXPECT_FALSE(e.load(c.type, CharDir(c.dir).c_str())) << c.dir;
        EXPECT_NE(e.lastError().find(c.file), std::string::npos) << c.dir << ": " << e.lastError();
        EXPECT_FALSE(e.loaded());
    }
    // the engine stays usable, and CR LF lines read like clean ones
    EXPECT_TRUE(e.load(9, CharDir("damaged9-crlf").c_str())) << e.lastError();
    EXPECT_TRUE(e.load(8, CharDir("type8").c_str())) << e.lastError();
}

TEST(Corpus, code_forms) {
    std::string r, g;
    ASSERT_TRUE(BrovanaEngine::toSet1Codes(":wur*o$&%^e9ya87654321khg+lszdtnq>vfmbpix@.", &r));
    ASSERT_TRUE(BrovanaEngine::toSet2Codes(":wur*o$&%^e9ya87654321khg+lszdtnq>vfmbpix@.", &g));
    EXPECT_EQ(r, ":wur**$$$$$$$aa7664444kkkklssdddqqvvmmmii@.");
    EXPECT_EQ(g, ":wur*o$&%^e9ya87664321khg+lssdtnq>vvmmmix@.");
    EXPECT_FALSE(BrovanaEngine::toSet1Codes("mZ", &r));
}

TEST(Corpus, segmentation_takes_the_shortest_entry_matching_in_both_forms) {
    // 0: reduced match whose merged form differs ("8" is "a" reduced);
    // 1 and 3: longer and equal-length rivals of 2
    std::vector<std::string> s1 = {"ma", ".mama.mama.", ".mama.", ".mama.", "dd"};
    std::vector<std::string> s2 = {"m8", ".mama.mama.", ".mama.", ".mama.", "dd"};
    // ".m" holds a pause and is committed at once; "mama." follows
    auto segs = BrovanaEngine::matchPhonemeSets(".mama.", s1, s2);
    ASSERT_EQ(segs.size(), 2u);
    EXPECT_EQ(segs[0].last - segs[0].first, 2);
    EXPECT_EQ(segs[0].entry, 2);
    EXPECT_EQ(segs[1].entry, 2);
    EXPECT_EQ(segs[1].start, 1);
    EXPECT_EQ(segs[1].end, 6);

    // stretches that the corpus holds only in parts overlap by one code
    segs = BrovanaEngine::matchPhonemeSets("mamd", s1, s2);
    ASSERT_EQ(segs.size(), 2u);
    EXPECT_EQ(segs[0].first, 0);
    EXPECT_EQ(segs[0].last, 3);
    EXPECT_EQ(segs[1].first, 2);
    EXPECT_EQ(segs[1].last, 4);
    EXPECT_EQ(segs[1].entry, -1);  // "md" is nowhere: left at rest

    // two codes give one segment; fewer give none; a pause window stops at once
    segs = BrovanaEngine::matchPhonemeSets("dd", s1, s2);
    ASSERT_EQ(segs.size(), 1u);
    EXPECT_EQ(segs[0].entry, 4);
    EXPECT_TRUE(BrovanaEngine::matchPhonemeSets("m", s1, s2).empty());
}

TEST(ContextModel, tracks_follow_the_recorded_contexts) {
    BrovanaEngine e;
    ASSERT_TRUE(e.load(8, CharDir("type8").c_str())) << e.lastError();
    // the map lists (m, A) twice: the last one counts; (T, T) is missing
    const brovana::PacomRecord *r = e.lookupContext(9, 1);
    ASSERT_NE(r, nullptr);
    EXPECT_LT(r->coef[0], 1.5f);
    EXPECT_EQ(e.lookupContext(12, 12), nullptr);

    Say(e, {{".pau", 200, ""}, {"m", 200, "mama"}, {"A", 300, ""}, {"m", 200, ""}, {"A", 300, ""}, {".pau", 200, ""}});
    // the pauses split in halves; frames cover the model's time
    EXPECT_EQ(e.modelNames().size(), 8u);
    int T = e.coefficientFrames();
    ASSERT_GT(T, 40);
    int mid_m = 300 * 30 / 1000, mid_a = 550 * 30 / 1000;
    EXPECT_GT(Coef(e, 2, mid_m), 0.8);  // closed in "m"
    EXPECT_GT(Coef(e, 1, mid_m), 0.8);  // and narrow
    EXPECT_GT(Coef(e, 0, mid_a), 0.8);  // open in "A"
    EXPECT_NEAR(Coef(e, 0, T - 1), 0.0, 0.05);
    EXPECT_EQ(NumpyCheck("type8", Dump(e, "context")), 0);

    // a pair the map lacks gives rest coefficients, never a stray read
    Say(e, {{"T", 200, "th"}, {"T", 200, ""}, {"T", 200, ""}});
    EXPECT_EQ(NumpyCheck("type8", Dump(e, "context-missing")), 0);
}

TEST(ContextModel, short_utterances_are_tripled_and_smoothing_keeps_pause_edges) {
    BrovanaEngine e;
    ASSERT_TRUE(e.load(8, CharDir("type8").c_str())) << e.lastError();
    Say(e, {{"A", 98, "a"}});  // padded to 1, 98, 1 ms, then tripled
    EXPECT_EQ(e.modelDurations().size(), 3u);
    EXPECT_FLOAT_EQ(e.modelDurations()[1], 294.0f);
    EXPECT_EQ(e.coefficientFrames(), 10);

    std::vector<double> x = {0, 0, 9, 0, 0};
    brovana::BrovanaEngine::smoothTrack(&x, {8, 8, 1, 0, 8}, 5);
    EXPECT_DOUBLE_EQ(x[0], 0);
    EXPECT_DOUBLE_EQ(x[2], (2 * 25.0 * 9 + 0) / (2 * 25.0 + 1));  // pause on the left only
    EXPECT_DOUBLE_EQ(x[3], 9 / 4.0);
}

TEST(TrajectoryModel, stretches_of_the_corpus_and_their_smoothing) {
    BrovanaEngine e;
    ASSERT_TRUE(e.load(9, CharDir("type9").c_str())) << e.lastError();
    Say(e, {{".pau", 200, ""}, {"m", 200, "mama"}, {"A", 300, ""}, {"m", 200, ""}, {"A", 300, ""}, {".pau", 200, ""}});
    // the pause halves make ". . m a m a . ." of which the corpus holds
    // "mama." best in entry 2
    bool used2 = false;
    for (const CorpusSegment &s : e.lastSegments()) {
        used2 |= s.entry == 2;
        EXPECT_NE(s.entry, 0);
    }
    EXPECT_TRUE(used2);
    int T = e.coefficientFrames();
    EXPECT_GT(Coef(e, 2, 300 * 30 / 1000), 0.8);  // closed in "m"
    EXPECT_GT(Coef(e, 0, 550 * 30 / 1000), 0.8);      // open in "A"
    EXPECT_NEAR(Coef(e, 0, T - 1), 0.0, 0.05);
    EXPECT_EQ(NumpyCheck("type9", Dump(e, "trajectory")), 0);

    // many short stretches (more than six) are smoothed by dominance kernels
    Say(e, {{".pau", 100, ""}, {"s", 90, "w"}, {"d", 80, ""}, {"k", 90, ""}, {"l", 100, ""}, {"s", 90, ""},
            {"d", 80, ""}, {"k", 90, ""}, {"l", 100, ""}, {"A", 120, ""}, {".pau", 100, ""}});
    EXPECT_GT(e.lastSegments().size(), 6u);
    EXPECT_EQ(NumpyCheck("type9", Dump(e, "trajectory-smoothed")), 0);

    // a codeless symbol gives its time to its neighbour; one code alone is rest
    Say(e, {{".pau", 100, ""}, {"@@", 150, "w"}, {"m", 100, ""}, {".pau", 100, ""}});
    std::string codes;
    std::vector<float> durs;
    e.encodePhonemes(&codes, &durs);
    EXPECT_EQ(codes.size(), durs.size());
    float total = 0, dsum = 0;
    for (float d : durs) dsum += d;
    for (float d : e.modelDurations()) total += d;
    EXPECT_FLOAT_EQ(dsum, total);
    Say(e, {{"m", 300, "m"}});
    for (int f = 0; f < e.coefficientFrames(); f++) EXPECT_EQ(Coef(e, 0, f), 0.0);
}

TEST(TrajectoryModel, frames_show_the_coefficients_and_rest_past_the_tracks) {
    BrovanaEngine e;
    ASSERT_TRUE(e.load(9, CharDir("type9").c_str())) << e.lastError();
    Say(e, {{".pau", 200, ""}, {"m", 200, "mama"}, {"A", 300, ""}, {"m", 200, ""}, {"A", 300, ""}, {".pau", 200, ""}});
    int f = 550 * 30 / 1000;
    e.showFrame(f);
    EXPECT_FLOAT_EQ(e.coefficients38()[0], (float)Coef(e, 0, f));
    e.showFrame(e.frameCount() + 5);  // out of range: rest
    EXPECT_EQ(e.coefficients38()[0], 0.0f);
}
