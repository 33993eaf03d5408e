// Wave and vector object services against a real interpreter and registry.
#include <gtest/gtest.h>
#include <tcl.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "obj.h"
#include "utils.h"
#include "yastro.h"

namespace {

class Utils : public ::testing::Test {
  protected:
    Tcl_Interp *interp = nullptr;
    void SetUp() override {
        interp = Tcl_CreateInterp();
        ASSERT_EQ(Obj_Init(interp), TCL_OK);
    }
    void TearDown() override { Tcl_DeleteInterp(interp); }
    std::string result() { return Tcl_GetStringResult(interp); }
    ArrayRecord *array(const std::string &name) {
        return static_cast<ArrayRecord *>(Obj_GetData(interp, "arrayF", name.c_str()));
    }
};

TEST_F(Utils, createWave_owns_the_given_samples_and_copies_info) {
    int16_t *s = static_cast<int16_t *>(DB_MALLOC(3 * sizeof(int16_t)));
    s[0] = 1, s[1] = -2, s[2] = 3;
    float info[2] = {16000, 0};
    WaveRecord *w = nullptr;
    ASSERT_EQ(createWave(interp, 3, 2, info, s, &w), 0);
    info[0] = 1; // the wave keeps its own copy
    EXPECT_EQ(static_cast<WaveRecord *>(Obj_GetData(interp, "wave", result().c_str())), w);
    EXPECT_EQ(w->samples, s);
    EXPECT_EQ(w->info[0], 16000);
    EXPECT_EQ(w->infoCount, 2);
}

TEST_F(Utils, createWave_without_samples_gives_a_silent_buffer) {
    float info[2] = {8000, 0};
    WaveRecord *w = nullptr;
    ASSERT_EQ(createWave(interp, 8000, 2, info, nullptr, &w), 0);
    ASSERT_EQ(w->len, 8000);
    for (int i = 0; i < w->len; i++) ASSERT_EQ(w->samples[i], 0);
    // A wave of rate 8000 and 8000 samples lasts one second.
    EXPECT_EQ(1000.0 * w->len / w->info[0], 1000.0);
}

TEST_F(Utils, createWave_refuses_bad_sizes_and_frees_the_buffer) {
    WaveRecord *w = reinterpret_cast<WaveRecord *>(1);
    int16_t *s = static_cast<int16_t *>(DB_MALLOC(4));
    EXPECT_EQ(createWave(interp, -1, 2, nullptr, s, &w), 1); // the buffer is freed: ASan would see a leak
    EXPECT_EQ(result(), "wave length must not be negative");
    EXPECT_EQ(w, nullptr);
    EXPECT_EQ(createWave(interp, 2, 2, nullptr, nullptr, &w), 1);
    EXPECT_EQ(Obj_Count(interp), 0);
}

TEST_F(Utils, maybeReuseWaveObject_reuses_only_a_wave_of_that_length) {
    WaveRecord *w = nullptr;
    ASSERT_EQ(maybeReuseWaveObject(nullptr, interp, 10, 8000, &w), 0);
    std::string name = result();
    w->samples[0] = 7;
    struct {
        const char *why;
        std::string name;
        int len;
        bool reused;
    } cases[] = {
        {"same length", name, 10, true},
        {"other length", name, 11, false},
        {"no such object", "wave99999", 10, false},
        {"not a wave", "", 10, false},
    };
    ArrayRecord *a = nullptr;
    ASSERT_EQ(maybeReuse2DObject(nullptr, interp, 1, 10, &a), 0);
    cases[3].name = result();
    for (auto &c : cases) {
        SCOPED_TRACE(c.why);
        int before = Obj_Count(interp);
        WaveRecord *got = nullptr;
        ASSERT_EQ(maybeReuseWaveObject(c.name.c_str(), interp, c.len, 16000, &got), 0);
        EXPECT_EQ(got == w, c.reused);
        EXPECT_EQ(result() == name, c.reused);
        EXPECT_EQ(Obj_Count(interp), before + (c.reused ? 0 : 1));
        if (!c.reused) {
            EXPECT_EQ(got->len, c.len);
            EXPECT_EQ(got->info[0], 16000);
            EXPECT_EQ(got->info[1], 0);
        }
    }
    EXPECT_EQ(w->samples[0], 7); // reuse does not clear
}

TEST_F(Utils, get2DVecObject_finds_arrays_and_names_what_is_wrong) {
    ArrayRecord *a = nullptr;
    ASSERT_EQ(maybeReuse2DObject(nullptr, interp, 2, 3, &a), 0);
    std::string name = result();
    ArrayRecord *got = nullptr;
    ASSERT_EQ(get2DVecObject(name.c_str(), interp, &got), 0);
    EXPECT_EQ(got, a);
    EXPECT_EQ(get2DVecObject("nothing", interp, &got), 1);
    EXPECT_EQ(result(), "no such arrayF object \"nothing\"");
    EXPECT_EQ(got, nullptr);
    WaveRecord *w = nullptr;
    ASSERT_EQ(maybeReuseWaveObject(nullptr, interp, 1, 8000, &w), 0);
    std::string wave = result();
    EXPECT_EQ(get2DVecObject(wave.c_str(), interp, &got), 1);
    EXPECT_EQ(result(), "object \"" + wave + "\" is of type \"wave\", not \"arrayF\"");
}

TEST_F(Utils, maybeReuse2DObject_reuses_only_that_shape) {
    ArrayRecord *a = nullptr;
    ASSERT_EQ(maybeReuse2DObject(nullptr, interp, 4, 1, &a), 0);
    std::string name = result();
    EXPECT_EQ(a->ndims, 2);
    EXPECT_EQ(a->count, 4);
    for (int i = 0; i < 4; i++) EXPECT_EQ(a->data[i], 0);
    ArrayRecord *got = nullptr;
    ASSERT_EQ(maybeReuse2DObject(name.c_str(), interp, 4, 1, &got), 0);
    EXPECT_EQ(got, a);
    EXPECT_EQ(result(), name);
    ASSERT_EQ(maybeReuse2DObject(name.c_str(), interp, 1, 4, &got), 0);
    EXPECT_NE(got, a);
    EXPECT_NE(result(), name);
    EXPECT_EQ(maybeReuse2DObject(nullptr, interp, -1, 4, &got), 1);
    EXPECT_EQ(result(), "array dimensions must not be negative");
}

TEST_F(Utils, wave_to_vector_and_back_in_order) {
    float info[2] = {8000, 0};
    int16_t *s = static_cast<int16_t *>(DB_MALLOC(4 * sizeof(int16_t)));
    s[0] = -32768, s[1] = 0, s[2] = 5, s[3] = 32767;
    WaveRecord *w = nullptr;
    ASSERT_EQ(createWave(interp, 4, 2, info, s, &w), 0);
    for (int dim = 1; dim <= 2; dim++) {
        SCOPED_TRACE(dim);
        ArrayRecord *a = nullptr;
        ASSERT_EQ(cloneVecFromWave(interp, w, dim, &a), 0);
        EXPECT_EQ(array(result()), a);
        EXPECT_EQ(a->ndims, dim);
        EXPECT_EQ(Array_rows(a), 1);
        EXPECT_EQ(Array_cols(a), 4);
        EXPECT_EQ(a->data[0], -32768.0f);
        EXPECT_EQ(a->data[3], 32767.0f);
        WaveRecord *back = nullptr;
        float info2[2] = {11025, 0};
        ASSERT_EQ(cloneWaveFromVec(interp, a, 2, info2, &back), 0);
        ASSERT_EQ(back->len, 4);
        EXPECT_EQ(memcmp(back->samples, w->samples, 4 * sizeof(int16_t)), 0);
        EXPECT_EQ(back->info[0], 11025);
    }
    ArrayRecord *a = nullptr;
    EXPECT_EQ(cloneVecFromWave(interp, w, 3, &a), 1);
    EXPECT_EQ(result(), "dimension must be 1 or 2, not 3");
}

TEST_F(Utils, vector_to_wave_rounds_and_clips_never_wraps) {
    const struct {
        float in;
        int16_t out;
    } cases[] = {
        {0.4f, 0},           {0.5f, 1},          {-0.5f, -1},           {1.6f, 2},
        {-1.6f, -2},         {32766.6f, 32767},  {32767.4f, 32767},     {40000.0f, 32767},
        {-32768.4f, -32768}, {-40000.0f, -32768}, {65536.0f, 32767},    {1e30f, 32767},
        {std::numeric_limits<float>::infinity(), 32767}, {-std::numeric_limits<float>::infinity(), -32768},
        {std::numeric_limits<float>::quiet_NaN(), 0},
    };
    const int n = sizeof cases / sizeof cases[0];
    ArrayRecord *a = alloc2DVec(1, n);
    ASSERT_NE(a, nullptr);
    for (int i = 0; i < n; i++) a->data[i] = cases[i].in;
    float info[2] = {8000, 0};
    WaveRecord *w = nullptr;
    ASSERT_EQ(cloneWaveFromVec(interp, a, 2, info, &w), 0);
    for (int i = 0; i < n; i++) EXPECT_EQ(w->samples[i], cases[i].out) << "input " << cases[i].in;
    freeVec(a);
}

TEST_F(Utils, float_lists_parse_or_name_the_bad_word) {
    float *v = nullptr;
    int n = -1;
    ASSERT_EQ(tcl_FloatList(interp, "1 -2.5 0x10 1e3", &v, &n), 0);
    ASSERT_EQ(n, 4);
    EXPECT_EQ(v[1], -2.5f);
    EXPECT_EQ(v[2], 16.0f);
    EXPECT_EQ(v[3], 1000.0f);
    DB_FREE(v);
    ASSERT_EQ(tcl_FloatList(interp, "", &v, &n), 0);
    EXPECT_EQ(n, 0);
    DB_FREE(v);
    EXPECT_EQ(tcl_FloatList(interp, "1 two 3", &v, &n), 1);
    EXPECT_EQ(result(), "expected floating-point number but got \"two\"");
    EXPECT_EQ(v, nullptr);
    EXPECT_EQ(tcl_FloatList(interp, "1 {2", &v, &n), 1);
    EXPECT_EQ(result(), "unmatched open brace in list");
}

TEST_F(Utils, alloc2DVec_record_can_be_registered) {
    ArrayRecord *a = alloc2DVec(1, 6);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->count, 6);
    float *data = a->data;
    data[5] = 9;
    ASSERT_EQ(Obj_Create(interp, "arrayF", a), TCL_OK);
    EXPECT_EQ(a->data, data); // registration keeps the block
    EXPECT_EQ(array(result())->rows[0][5], 9);
}

} // namespace
