#include "container_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "records.h"

namespace {

std::string tempPath() {
    char t[] = "/tmp/cntrfileXXXXXX";
    int fd = mkstemp(t);
    close(fd);
    unlink(t);
    return t;
}

std::string slurp(const std::string &p) {
    std::ifstream f(p, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

CntrObj *waveObj(GS_Result *r, int len) {
    WaveRecord *w = Wave_New(len, 8000);
    for (int i = 0; i < len; i++) w->samples[i] = static_cast<int16_t>(3 * i);
    return Cntr_ObjCreate(r, Cntr_TypeFind("wave"), w);
}

}  // namespace

TEST(ObjectFile, fields_are_written_replaced_read_and_removed) {
    std::string path = tempPath();
    GS_Result *r = GS_CreateResult();
    CntrFile *f = Cntr_ObjFOpen(r, path.c_str(), 1);
    ASSERT_NE(f, nullptr) << r->text;
    CntrObj *a = waveObj(r, 10), *b = waveObj(r, 20);
    ASSERT_EQ(Cntr_ObjFWrite(r, f, "one", a), 0) << r->text;
    ASSERT_EQ(Cntr_ObjFWrite(r, f, "two", a), 0) << r->text;
    ASSERT_EQ(Cntr_ObjFWrite(r, f, "one", b), 0) << r->text;  // replaces
    Cntr_ObjFClose(r, f);

    f = Cntr_ObjFOpen(r, path.c_str(), 0);
    ASSERT_NE(f, nullptr) << r->text;
    CntrObj *o = Cntr_ObjFRead(r, f, "one");
    ASSERT_NE(o, nullptr) << r->text;
    EXPECT_EQ(static_cast<WaveRecord *>(o->data)->len, 20);
    EXPECT_EQ(static_cast<WaveRecord *>(o->data)->samples[19], 57);
    Cntr_ObjDestroy(r, o);
    GS_ResetResult(r);
    Cntr_ObjFFields(r, f);
    EXPECT_STREQ(r->text, "one two");
    GS_ResetResult(r);
    int packed = 0;
    Cntr_ObjLength(r, a, &packed);
    EXPECT_EQ(Cntr_ObjFInfo(r, f, "two"), 0);
    EXPECT_EQ(std::string(r->text), "field two type wave length " + std::to_string(packed));
    GS_ResetResult(r);
    EXPECT_EQ(Cntr_ObjFWrite(r, f, "three", a), 1);  // read-only
    EXPECT_EQ(Cntr_ObjFRead(r, f, "nothere"), nullptr);
    Cntr_ObjFClose(r, f);

    // Opened for writing, a file reads like one opened for reading, and its
    // other fields survive a change of one.
    f = Cntr_ObjFOpen(r, path.c_str(), 1);
    o = Cntr_ObjFRead(r, f, "one");
    ASSERT_NE(o, nullptr) << r->text;
    EXPECT_EQ(static_cast<WaveRecord *>(o->data)->len, 20);
    Cntr_ObjDestroy(r, o);
    EXPECT_EQ(Cntr_ObjFDestroy(r, f, "one"), 0);
    GS_ResetResult(r);
    Cntr_ObjFFields(r, f);
    EXPECT_STREQ(r->text, "two");
    ASSERT_EQ(Cntr_ObjFWrite(r, f, "three", b), 0) << r->text;
    for (const char *field : {"two", "three"}) {
        o = Cntr_ObjFRead(r, f, field);
        ASSERT_NE(o, nullptr) << field << r->text;
        EXPECT_EQ(static_cast<WaveRecord *>(o->data)->samples[9], 27) << field;
        Cntr_ObjDestroy(r, o);
    }
    Cntr_ObjFClose(r, f);
    f = Cntr_ObjFOpen(r, path.c_str(), 0);
    GS_ResetResult(r);
    Cntr_ObjFFields(r, f);
    EXPECT_STREQ(r->text, "two three");
    Cntr_ObjFClose(r, f);
    Cntr_ObjDestroy(r, a);
    Cntr_ObjDestroy(r, b);
    GS_DeleteResult(r);
    unlink(path.c_str());
}

TEST(ObjectFile, missing_damaged_or_truncated_files_are_refused) {
    std::string path = tempPath();
    GS_Result *r = GS_CreateResult();
    EXPECT_EQ(Cntr_ObjFOpen(r, path.c_str(), 0), nullptr);
    CntrFile *f = Cntr_ObjFOpen(r, path.c_str(), 1);
    CntrObj *a = waveObj(r, 30);
    ASSERT_EQ(Cntr_ObjFWrite(r, f, "w", a), 0);
    Cntr_ObjFClose(r, f);
    Cntr_ObjDestroy(r, a);
    std::string good = slurp(path);
    std::mt19937 rng(5);
    for (int k = 0; k < 500; k++) {
        std::string bad = good;
        if (k % 2) bad.resize(rng() % bad.size());
        else bad[rng() % bad.size()] ^= static_cast<char>(1 + rng() % 255);
        std::ofstream(path, std::ios::binary) << bad;
        GS_ResetResult(r);
        CntrFile *d = Cntr_ObjFOpen(r, path.c_str(), 0);
        EXPECT_EQ(d, nullptr) << k;
        EXPECT_NE(r->text[0], '\0');
        if (d) Cntr_ObjFClose(r, d);
    }
    unlink(path.c_str());
    // A folder opens with fopen; it is refused in either mode.
    ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
    for (int mode : {0, 1}) {
        GS_ResetResult(r);
        EXPECT_EQ(Cntr_ObjFOpen(r, path.c_str(), mode), nullptr) << mode;
        EXPECT_NE(std::string(r->text).find("cannot read object file"), std::string::npos) << r->text;
    }
    rmdir(path.c_str());
    GS_DeleteResult(r);
}
