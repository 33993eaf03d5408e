#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "seg.h"
#include "yastro.h"

namespace {

struct Frames {
    std::vector<float> data;
    std::vector<float *> rows;
    std::vector<float> labels;
    float *labelRow;
    Frames(const std::vector<float> &values) : data(values), labels(values.size()) {
        for (auto &v : data) rows.push_back(&v);
        labelRow = labels.data();
    }
};

SegState *make(int framesz, int winsz) {
    SegParams *p = segDefault();
    p->framesz = framesz;
    p->winsz = winsz;
    SegState *s = segInit(nullptr, p);
    DB_Free(p, __FILE__, __LINE__);
    return s;
}

// A noisy two-level log-energy track: loud stretches are speech, quiet
// ones background, and the labels follow the known stretches.
TEST(Seg, LabelsKnownStretches) {
    std::mt19937 gen(3);
    std::normal_distribution<float> noise(0, 0.3f);
    std::vector<float> v;
    std::vector<int> truth;
    for (int block = 0; block < 6; block++)
        for (int i = 0; i < 50; i++) {
            bool speech = block % 2 == 1;
            v.push_back((speech ? 12.0f : 4.0f) + noise(gen));
            truth.push_back(speech ? 1 : -1);
        }
    Frames f(v);
    SegState *s = make(20, 100);
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(segPipe(nullptr, s, (int)v.size(), 1, f.rows.data(), &f.labelRow), 0);
    int wrong = 0;
    // The first stretch, before any speech was seen, has no second class to
    // tell from; from then on the labels follow the stretches.
    for (size_t i = 50; i < v.size(); i++) wrong += (int)f.labels[i] != truth[i];
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(s->speechCount + s->backgroundCount + segCount((int)v.size(), &f.labelRow, 0), (int)v.size());
    EXPECT_EQ(s->speechCount, segCount((int)v.size(), &f.labelRow, 1));
    segNuke(s);
}

// A constant input has no second class: every frame is garbage, and the
// segmenter neither divides by zero nor invents a class.
TEST(Seg, ConstantInputIsGarbage) {
    Frames f(std::vector<float>(40, 7.0f));
    SegState *s = make(10, 30);
    ASSERT_EQ(segPipe(nullptr, s, 40, 1, f.rows.data(), &f.labelRow), 0);
    for (float l : f.labels) EXPECT_EQ(l, 0.0f);
    EXPECT_EQ(s->speechCount, 0);
    EXPECT_EQ(s->backgroundCount, 0);
    segNuke(s);
}

TEST(Seg, RefusesUnusableSettings) {
    struct Case { const char *what; void (*set)(SegParams *); } cases[] = {
        {"framesz", [](SegParams *p) { p->framesz = 0; }},
        {"winsz", [](SegParams *p) { p->winsz = -1; }},
        {"index", [](SegParams *p) { p->index = -2; }},
        {"floor", [](SegParams *p) { p->floor = 5; p->ceil = 1; }},
        {"eps", [](SegParams *p) { p->eps = -1; }},
    };
    for (auto &c : cases) {
        SegParams *p = segDefault();
        c.set(p);
        GS_Result *r = GS_CreateResult();
        EXPECT_EQ(segInit(r, p), nullptr) << c.what;
        EXPECT_NE(std::string(r->text ? r->text : "").find(c.what), std::string::npos) << c.what;
        GS_DeleteResult(r);
        DB_Free(p, __FILE__, __LINE__);
    }
}

TEST(Seg, IndexPastColumnsIsAnError) {
    SegParams *p = segDefault();
    p->index = 1;
    SegState *s = segInit(nullptr, p);
    DB_Free(p, __FILE__, __LINE__);
    Frames f({1, 2, 3});
    GS_Result *r = GS_CreateResult();
    EXPECT_EQ(segPipe(r, s, 3, 1, f.rows.data(), &f.labelRow), 1);
    GS_DeleteResult(r);
    segNuke(s);
}

TEST(Seg, CopySelectAndMapFollowLabels) {
    std::vector<float> a = {1, 10, 2, 20, 3, 30, 4, 40};
    std::vector<float *> rows = {&a[0], &a[2], &a[4], &a[6]};
    std::vector<float> lab = {1, -1, 0, 1};
    float *l = lab.data();
    float sp[4], bg[2], gb[2];
    float *spr[] = {sp, sp + 2}, *bgr[] = {bg}, *gbr[] = {gb};
    segCopy(4, 2, rows.data(), &l, spr, bgr, gbr);
    EXPECT_EQ(std::vector<float>(sp, sp + 4), (std::vector<float>{1, 10, 4, 40}));
    EXPECT_EQ(std::vector<float>(bg, bg + 2), (std::vector<float>{2, 20}));
    EXPECT_EQ(std::vector<float>(gb, gb + 2), (std::vector<float>{3, 30}));
    EXPECT_EQ(segSelect(4, 2, rows.data(), &l, nullptr, SEG_SPEECH), 2);
    float m[8];
    float *mr[] = {m, m + 2, m + 4, m + 6};
    segMap(4, 2, rows.data(), &l, mr);
    EXPECT_EQ(std::vector<float>(m, m + 8), (std::vector<float>{1, 10, 0, 0, 0, 0, 4, 40}));
}

}  // namespace
