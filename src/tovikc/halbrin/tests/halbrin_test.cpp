// Segment lists: the text file both ways, lookups, frame-size changes,
// ordering and deletion with the list's bounds.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>

#include "halbrin.h"

namespace {

std::string path(const std::string &name) {
    const char *b = getenv("TOVIK_BUILD");
    return std::string(b ? b : "/tmp") + "/halbrin_test_" + name;
}

std::string write(const std::string &name, const std::string &text) {
    std::string p = path(name);
    std::ofstream(p, std::ios::binary) << text;
    return p;
}

std::string slurp(const std::string &p) {
    std::ifstream f(p);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

struct R {
    GS_Result *r = GS_CreateResult();
    ~R() { GS_DeleteResult(r); }
    std::string text() const { return r->text; }
};

HalbrinList *make(std::initializer_list<std::tuple<int, int, const char *, float>> segs, float ms = 10.0f) {
    HalbrinList *l = newHalbrin(ms);
    for (auto &t : segs) {
        Segment s{const_cast<char *>(std::get<2>(t)), (int32_t)strlen(std::get<2>(t)) + 1, std::get<0>(t),
                  std::get<1>(t), std::get<3>(t)};
        appendSegment(nullptr, s, l, 0);
    }
    return l;
}

std::string dump(const HalbrinList *l) {
    std::string s;
    for (int i = 0; i < l->count; i++)
        s += std::to_string(l->segments[i].begin) + "-" + std::to_string(l->segments[i].end) + ":" +
             l->segments[i].label + " ";
    return s;
}

} // namespace

TEST(HalbrinFile, reads_what_the_format_allows) {
    struct Case { const char *text; const char *want; float ms, score; const char *why; } cases[] = {
        {"", "", 1.0f, 0.0f, "empty file"},
        {"MillisecondsPerFrame: 10\nno end of header\n", "", 10.0f, 0.0f, "header only"},
        {"MillisecondsPerFrame: 10\nEND OF HEADER\n010 0x20 a\n", "8-32:a ", 10.0f, 0.0f, "%i: octal and hex"},
        {"Scores 2.5\nEND OF HEADER\n0 3 a 1.5\r\n3 9 b -2\r\n", "0-3:a 3-9:b ", 1.0f, 2.5f, "Scores is a score line; CR LF"},
        {"END OF HEADER\n5 9 x\n0 5 w\n", "5-9:x 0-5:w ", 1.0f, 0.0f, "read order is kept"},
    };
    for (const Case &c : cases) {
        R r;
        HalbrinList *l = readHalbrin(r.r, write("read.seg", c.text).c_str());
        ASSERT_NE(nullptr, l) << c.why << r.text();
        EXPECT_EQ(c.want, dump(l)) << c.why;
        EXPECT_EQ(c.ms, l->msPerFrame) << c.why;
        EXPECT_EQ(c.score, l->score) << c.why;
        nukeHalbrin(l);
    }
    struct Bad { const char *text; const char *msg; } bad[] = {
        {"END OF HEADER\n\n", "readHalbrin: Invalid label \"\nreading \""},
        {"MillisecondsPerFrame: x\n", "readHalbrin: Invalid frame size \"MillisecondsPerFrame: x\nreading \""},
        {"Score:\nEND OF HEADER\n", "readHalbrin: Invalid score "},
        {"Score: 1\nEND OF HEADER\n0 1 a\n", "readHalbrin: Invalid label \"0 1 a\n"},
    };
    for (const Bad &b : bad) {
        R r;
        EXPECT_EQ(nullptr, readHalbrin(r.r, write("bad.seg", b.text).c_str()));
        EXPECT_EQ(0u, r.text().find(b.msg)) << r.text();
    }
    R r;
    EXPECT_EQ(nullptr, readHalbrin(r.r, "/nonexistent/x.seg"));
    EXPECT_EQ("readHalbrin: Could not open file \"/nonexistent/x.seg\"", r.text());
}

TEST(HalbrinFile, saved_lists_read_back) {
    // The score stands after the label on both sides; a label far longer
    // than any line buffer survives whole.
    std::string longLabel(20000, 'q');
    HalbrinList *l = make({{0, 10, "a", 1.5f}, {10, 25, longLabel.c_str(), -2.25f}});
    l->score = 3.0f;
    R r;
    std::string p = path("round.seg");
    ASSERT_EQ(0, saveHalbrin(r.r, l, p.c_str(), 1, 0.0f, 1e6f));
    HalbrinList *b = readHalbrin(r.r, p.c_str());
    ASSERT_NE(nullptr, b) << r.text();
    ASSERT_EQ(2, b->count);
    EXPECT_EQ(longLabel, b->segments[1].label);
    EXPECT_EQ(-2.25f, b->segments[1].score);
    EXPECT_EQ(3.0f, b->score);
    EXPECT_EQ(10.0f, b->msPerFrame);
    nukeHalbrin(b);
    nukeHalbrin(l);
}

TEST(HalbrinFile, windowed_save_clips_to_the_window) {
    HalbrinList *l = make({{0, 4, "before", 0}, {5, 20, "a", 0}, {20, 100, "long", 0}, {120, 130, "after", 0}});
    R r;
    std::string p = path("win.seg");
    ASSERT_EQ(0, saveHalbrin(r.r, l, p.c_str(), 0, 100.0f, 300.0f));
    EXPECT_EQ("MillisecondsPerFrame: 10.000000\nEND OF HEADER\n10 20 a\n20 30 long\n", slurp(p));
    // A window inside one long segment still writes it, clipped.
    ASSERT_EQ(0, saveHalbrin(r.r, l, p.c_str(), 0, 400.0f, 500.0f));
    EXPECT_EQ("MillisecondsPerFrame: 10.000000\nEND OF HEADER\n40 50 long\n", slurp(p));
    EXPECT_EQ(1, saveHalbrin(r.r, l, "/nonexistent/dir/x.seg", 0, 0, 1));
    nukeHalbrin(l);
}

TEST(HalbrinList, closest_segment_by_time) {
    HalbrinList *l = make({{0, 10, "a", 0}, {20, 30, "b", 0}}, 1.0f);
    struct Case { float ms; int want; } cases[] = {{-5, 0}, {5, 0}, {12, 0}, {15, 1}, {18, 1}, {25, 1}, {40, 1}};
    for (const Case &c : cases) EXPECT_EQ(c.want, closestSegment(c.ms, l)) << c.ms;
    HalbrinList *e = newHalbrin(1.0f);
    EXPECT_EQ(-1, closestSegment(3, e));
    nukeHalbrin(e);
    nukeHalbrin(l);
}

TEST(HalbrinList, ordering_deleting_and_bounds) {
    HalbrinList *l = make({{30, 40, "c", 0}, {10, 20, "a", 0}, {10, 15, "a2", 0}, {0, 50, "wide", 0}});
    R r;
    l->minBegin = 30;
    l->maxEnd = 40;
    orderHalbrin(r.r, l);
    EXPECT_EQ("0-50:wide 10-20:a 10-15:a2 30-40:c ", dump(l));
    // One segment that widens both ends moves both bounds.
    EXPECT_EQ(0, l->minBegin);
    EXPECT_EQ(50, l->maxEnd);
    EXPECT_EQ(1, deleteSegment(r.r, l->count, l));
    EXPECT_EQ("segment not in segment list", r.text());
    ASSERT_EQ(0, deleteSegment(r.r, 0, l));
    EXPECT_EQ(10, l->minBegin);
    EXPECT_EQ(40, l->maxEnd);
    while (l->count) deleteSegment(r.r, 0, l);
    EXPECT_EQ(-1, l->minBegin);
    EXPECT_EQ(-1, l->maxEnd);
    nukeHalbrin(l);
}

TEST(HalbrinList, frame_size_changes_align_and_clone) {
    HalbrinList *l = make({{3, 7, "a", 0}, {9, 12, "b", 0}});
    R r;
    HalbrinList *c = cloneHalbrin(l);
    ASSERT_EQ(0, setHalbrinFramesize(r.r, 5.0f, l));
    EXPECT_EQ("6-14:a 18-24:b ", dump(l));
    ASSERT_EQ(0, setHalbrinFramesize(r.r, 3.0f, c));
    EXPECT_EQ("10-23:a 30-40:b ", dump(c));
    EXPECT_EQ(1, setHalbrinFramesize(r.r, 0.0f, c));
    EXPECT_EQ("framesize must be positive", r.text());
    EXPECT_EQ("10-23:a 30-40:b ", dump(c));
    EXPECT_EQ(1, scaleHalbrin(r.r, -1.0f, c));
    ASSERT_EQ(0, scaleHalbrin(r.r, 2.0f, c));
    EXPECT_EQ(2.0f, c->msPerFrame);
    EXPECT_EQ(1, alignHalbrin(c, 0.0f, 100.0f));
    EXPECT_EQ("10-30:a 30-40:b ", dump(c));
    EXPECT_EQ(1, alignHalbrin(l, 0.0f, 10.0f));
    EXPECT_EQ("6-14:a 18-24:b ", dump(l));
    nukeHalbrin(c);
    nukeHalbrin(l);
}
