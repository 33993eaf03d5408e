#include "container.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "records.h"
#include "yastro.h"

namespace {

std::vector<char> packWave(int len) {
    WaveRecord *w = Wave_New(len, 8000);
    for (int i = 0; i < len; i++) w->samples[i] = static_cast<int16_t>(i - 100);
    GS_Result *r = GS_CreateResult();
    CntrObj *o = Cntr_ObjCreate(r, Cntr_TypeFind("wave"), w);
    int length = 0;
    EXPECT_EQ(Cntr_ObjLength(r, o, &length), 0);
    std::vector<char> buf(length);
    int pos = 0;
    EXPECT_EQ(Cntr_ObjPack(r, o, buf.data(), &pos), 0);
    EXPECT_EQ(pos, length);
    Cntr_ObjDestroy(r, o);
    GS_DeleteResult(r);
    return buf;
}

TEST(Container, packed_objects_name_their_type_and_round_trip) {
    std::vector<char> buf = packWave(200);
    GS_Result *r = GS_CreateResult();
    int pos = 0;
    CntrObj *o = Cntr_ObjUnpack(r, nullptr, buf.data(), &pos, static_cast<int>(buf.size()));
    ASSERT_NE(o, nullptr) << r->text;
    EXPECT_STREQ(Cntr_Name(o->type), "wave");
    WaveRecord *w = static_cast<WaveRecord *>(o->data);
    EXPECT_EQ(w->len, 200);
    EXPECT_EQ(w->samples[0], -100);
    EXPECT_EQ(w->samples[199], 99);
    EXPECT_EQ(pos, static_cast<int>(buf.size()));
    Cntr_ObjDestroy(r, o);
    GS_DeleteResult(r);
}

TEST(Container, unpack_refuses_a_wrong_type) {
    std::vector<char> buf = packWave(3);
    GS_Result *r = GS_CreateResult();
    int pos = 0;
    EXPECT_EQ(Cntr_ObjUnpack(r, Cntr_TypeFind("arrayF"), buf.data(), &pos, static_cast<int>(buf.size())), nullptr);
    EXPECT_STREQ(r->text, "expected a packed \"arrayF\" but found \"wave\"");
    GS_DeleteResult(r);
}

// Every truncation and random damage must be refused, never read past the end.
TEST(Container, truncated_or_damaged_buffers_never_overrun) {
    std::vector<char> good = packWave(64);
    std::mt19937 rng(7);
    for (size_t cut = 0; cut < good.size(); cut++) {
        std::vector<char> part(good.begin(), good.begin() + cut);
        GS_Result *r = GS_CreateResult();
        int pos = 0;
        EXPECT_EQ(Cntr_ObjUnpack(r, nullptr, part.data(), &pos, static_cast<int>(part.size())), nullptr);
        EXPECT_EQ(pos, 0);
        GS_DeleteResult(r);
    }
    for (int trial = 0; trial < 2000; trial++) {
        std::vector<char> bad = good;
        for (int k = 0; k < 3; k++) bad[rng() % bad.size()] = static_cast<char>(rng());
        GS_Result *r = GS_CreateResult();
        int pos = 0;
        CntrObj *o = Cntr_ObjUnpack(r, nullptr, bad.data(), &pos, static_cast<int>(bad.size()));
        if (o) Cntr_ObjDestroy(r, o);
        GS_DeleteResult(r);
    }
}

TEST(Container, arrays_of_doubles_keep_their_precision) {
    ArrayRecord *a = Array_New(2, 2, 2);
    const CntrType *t = Cntr_TypeFind("arrayD");
    GS_Result *r = GS_CreateResult();
    ASSERT_EQ(t->prepare(r, a), 0);
    ArrayD_data(a)[3] = 1.0 / 3.0;
    CntrObj *o = Cntr_ObjCreate(r, t, a);
    int len = 0;
    Cntr_ObjLength(r, o, &len);
    std::vector<char> buf(len);
    int pos = 0;
    Cntr_ObjPack(r, o, buf.data(), &pos);
    pos = 0;
    CntrObj *back = Cntr_ObjUnpack(r, t, buf.data(), &pos, len);
    ASSERT_NE(back, nullptr) << r->text;
    EXPECT_EQ(ArrayD_rows(static_cast<ArrayRecord *>(back->data))[1][1], 1.0 / 3.0);
    Cntr_ObjDestroy(r, o);
    Cntr_ObjDestroy(r, back);
    GS_DeleteResult(r);
}

}  // namespace

// A description's entries come back whole; its payload cut anywhere, or
// with a count larger than its bytes, is refused without reading past it.
TEST(Container, descriptions_round_trip_and_refuse_short_payloads) {
    const CntrType *t = Cntr_TypeFind("hmm/description");
    ASSERT_NE(t, nullptr);
    HmmDescription *d = HmmDescription_New(3);
    const char *specs[] = {"{i:}", "{.garbage}", "{}"};
    for (int i = 0; i < 3; i++) {
        d->entries[i].modelSpec = static_cast<char *>(DB_MALLOC(strlen(specs[i]) + 1));
        strcpy(d->entries[i].modelSpec, specs[i]);
        d->entries[i].modelSpecSize = static_cast<uint16_t>(strlen(specs[i]) + 1);
        d->entries[i].hmmIndex = 10 + i;
    }
    d->entries[1].leftContext = 4;
    GS_Result *r = GS_CreateResult();
    size_t len = 0;
    ASSERT_EQ(t->length(r, d, &len), 0);
    std::vector<unsigned char> buf(len);
    ASSERT_EQ(t->pack(r, d, buf.data()), 0);
    HmmDescription *back = static_cast<HmmDescription *>(t->unpack(r, buf.data(), len));
    ASSERT_NE(back, nullptr) << r->text;
    ASSERT_EQ(back->numEntries, 3);
    for (int i = 0; i < 3; i++) {
        EXPECT_STREQ(back->entries[i].modelSpec, specs[i]);
        EXPECT_STREQ(back->entries[i].name, "");  // a missing name packs as empty
        EXPECT_EQ(back->entries[i].modelSpecSize, strlen(specs[i]) + 1);
        EXPECT_EQ(back->entries[i].hmmIndex, 10 + i);
    }
    EXPECT_EQ(back->entries[1].leftContext, 4);
    EXPECT_EQ(back->entries[0].rightContext, -1);
    HmmDescription *copy = static_cast<HmmDescription *>(t->clone(back));
    t->free(back);
    EXPECT_STREQ(copy->entries[0].modelSpec, "{i:}");
    t->free(copy);
    for (size_t cut = 0; cut < len; cut++) {
        std::vector<unsigned char> part(buf.begin(), buf.begin() + cut);
        EXPECT_EQ(t->unpack(r, part.data(), cut), nullptr) << cut;
    }
    buf[0] = 0x7f;  // far more entries than bytes
    EXPECT_EQ(t->unpack(r, buf.data(), len), nullptr);
    t->free(d);
    GS_DeleteResult(r);
}
