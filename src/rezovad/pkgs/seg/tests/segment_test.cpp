// `seg segment` read back through the object registry: the segments of a
// speech/silence vector at its known boundaries.
#include <gtest/gtest.h>
#include <tcl.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "halbrin.h"
#include "obj.h"

namespace {

class SegSegment : public ::testing::Test {
protected:
    Tcl_Interp *interp = nullptr;
    void SetUp() override {
        interp = Tcl_CreateInterp();
        std::string lib = std::string(getenv("TOVIK_BUILD")) + "/lib/tcl/seg_pkg/libseg_pkg.so";
        ASSERT_EQ(Tcl_Eval(interp, ("load " + lib + " Seg").c_str()), TCL_OK) << Tcl_GetStringResult(interp);
    }
    void TearDown() override { Tcl_DeleteInterp(interp); }

    // Runs `seg segment` on runs of (frames, speech?) and answers the list.
    HalbrinList *segment(const std::vector<std::pair<int, bool>> &runs, const std::string &options = "") {
        std::string v = "{{{";
        for (auto &r : runs)
            for (int i = 0; i < r.first; i++) v += r.second ? " 1" : " -1";
        v += "}}}";
        std::string cmd = "seg segment " + v + " " + options;
        if (Tcl_Eval(interp, cmd.c_str()) != TCL_OK) {
            ADD_FAILURE() << Tcl_GetStringResult(interp);
            return nullptr;
        }
        return static_cast<HalbrinList *>(Obj_GetData(interp, "halbrin", Tcl_GetStringResult(interp)));
    }
};

using Bounds = std::vector<std::pair<int, int>>;

Bounds boundsOf(const HalbrinList *l) {
    Bounds b;
    for (int i = 0; i < l->count; i++) b.push_back({l->segments[i].begin, l->segments[i].end});
    return b;
}

TEST_F(SegSegment, KnownBoundaries) {
    // Default 10 ms frames and 300 ms silence: pauses of 30 frames or fewer
    // are absorbed, 31 split.
    struct Case {
        const char *what;
        std::vector<std::pair<int, bool>> runs;
        Bounds expected;
    } cases[] = {
        {"long leading silence", {{40, false}, {50, true}}, {{40, 90}}},
        {"short leading silence", {{20, false}, {50, true}}, {{0, 70}}},
        {"pause of minSil absorbed", {{10, true}, {30, false}, {10, true}}, {{0, 50}}},
        {"pause of minSil+1 splits", {{10, true}, {31, false}, {10, true}}, {{0, 10}, {41, 51}}},
        {"speech before a final pause is kept", {{10, true}, {40, false}, {20, true}, {35, false}},
         {{0, 10}, {50, 70}}},
        {"no speech gives an empty list", {{25, false}}, {}},
    };
    for (auto &c : cases) {
        HalbrinList *l = segment(c.runs);
        ASSERT_NE(l, nullptr) << c.what;
        EXPECT_EQ(boundsOf(l), c.expected) << c.what;
        EXPECT_EQ(l->msPerFrame, 10.0f) << c.what;
        if (l->count) {
            EXPECT_EQ(l->minBegin, c.expected.front().first) << c.what;
            EXPECT_EQ(l->maxEnd, c.expected.back().second) << c.what;
            EXPECT_STREQ(l->segments[0].label, "segment") << c.what;
        } else {
            EXPECT_EQ(l->minBegin, 0) << c.what;
            EXPECT_EQ(l->maxEnd, 0) << c.what;
        }
    }
}

TEST_F(SegSegment, FrameSizeSetsTheShortestSplittingPause) {
    // 20 ms frames and 100 ms silence: a pause of 6 frames splits.
    HalbrinList *l = segment({{5, true}, {6, false}, {5, true}}, "-framesize 20 -silence 100");
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(boundsOf(l), (Bounds{{0, 5}, {11, 16}}));
    EXPECT_EQ(l->msPerFrame, 20.0f);
}

// A made recording: weak noise with tone bursts at known frames (10 ms at
// 8 kHz), its log energy per frame, labels from the segmenter, then segments
// from the labels. The segmenter streams: it first hears a stretch of both
// levels, as it would the recordings before this one.
TEST_F(SegSegment, LabelsOfAMadeRecording) {
    unsigned seed = 7;
    auto noise = [&] { seed = seed * 1103515245u + 12345u; return ((seed >> 16) % 1000) / 1000.0 - 0.5; };
    auto track = [&](std::vector<std::pair<int, int>> runs) {
        std::string rows;
        long n = 0;
        for (auto &r : runs)
            for (int f = 0; f < r.first; f++) {
                double e = 0;
                for (int k = 0; k < 80; k++, n++) {
                    double x = 60 * noise() + (r.second ? 3000 * std::sin(2 * M_PI * 440 * n / 8000.0) : 0);
                    e += x * x;
                }
                rows += " {" + std::to_string(std::log(e / 80)) + "}";
            }
        return "{{" + rows + "}}";
    };
    std::string script = "set s [seg initialize -framesz 10 -winsz 300]\n"
                         "seg $s " + track({{50, 0}, {50, 1}}) + "\n"
                         "seg $s " + track({{80, 0}, {100, 1}, {60, 0}, {120, 1}, {70, 0}}) + " lab\n"
                         "seg segment $lab";
    ASSERT_EQ(Tcl_Eval(interp, script.c_str()), TCL_OK) << Tcl_GetStringResult(interp);
    auto *l = static_cast<HalbrinList *>(Obj_GetData(interp, "halbrin", Tcl_GetStringResult(interp)));
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(boundsOf(l), (Bounds{{80, 180}, {240, 360}}));
}

}  // namespace
