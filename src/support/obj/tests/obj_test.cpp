#include "obj.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "yastro.h"

namespace {

class Registry : public ::testing::Test {
protected:
    Tcl_Interp *interp = Tcl_CreateInterp();
    Registry() { Obj_Init(interp); }
    ~Registry() override { Tcl_DeleteInterp(interp); }
    std::string result() { return Tcl_GetStringResult(interp); }

    std::string makeArray(int ndims, int rows, int cols) {
        ArrayRecord *a = Array_New(ndims, rows, cols);
        EXPECT_EQ(Obj_Create(interp, "arrayF", a), TCL_OK);
        return result();
    }
    std::string makeWave(int len, float rate) {
        WaveRecord *w = Wave_New(len, rate);
        for (int i = 0; i < len; i++) w->samples[i] = static_cast<int16_t>(i * 3 - 7);
        EXPECT_EQ(Obj_Create(interp, "wave", w), TCL_OK);
        return result();
    }
};

TEST_F(Registry, arrays_get_count_data_and_rows) {
    std::string name = makeArray(2, 3, 4);
    EXPECT_EQ(name.rfind("arrayF", 0), 0u);
    ArrayRecord *a = static_cast<ArrayRecord *>(Obj_GetData(interp, "arrayF", name.c_str()));
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->count, 12);
    EXPECT_EQ(a->rows[2], a->data + 8);
    std::string one = makeArray(1, 1, 5);
    ArrayRecord *b = static_cast<ArrayRecord *>(Obj_GetData(interp, "arrayF", one.c_str()));
    EXPECT_EQ(Array_rows(b), 1);
    EXPECT_EQ(Array_cols(b), 5);
    EXPECT_EQ(b->count, 5);
}

TEST_F(Registry, names_are_unique_have_no_dot_and_never_read_as_numbers) {
    std::string a = makeWave(1, 8000), b = makeWave(1, 8000);
    EXPECT_NE(a, b);
    for (const std::string &n : {a, b}) {
        EXPECT_EQ(n.find('.'), std::string::npos);
        double d;
        EXPECT_EQ(Tcl_GetDouble(nullptr, n.c_str(), &d), TCL_ERROR);
    }
}

TEST_F(Registry, lookups_name_what_was_wrong) {
    std::string w = makeWave(4, 8000);
    const struct {
        const char *type;
        std::string name;
        std::string message;
    } cases[] = {
        {"wave", "x3", "no such wave object \"x3\""},
        {nullptr, "x3", "no such object \"x3\""},
        {"arrayF", w, "object \"" + w + "\" is of type \"wave\", not \"arrayF\""},
    };
    for (auto &c : cases) {
        EXPECT_EQ(Obj_GetData(interp, c.type, c.name.c_str()), nullptr);
        EXPECT_EQ(result(), c.message);
    }
    EXPECT_EQ(Obj_Create(interp, "no/such", nullptr), TCL_ERROR);
    EXPECT_EQ(result(), "unknown object type \"no/such\"");
}

int nukeCalls = 0;
void nukeTakesData(ObjEntry *e) {
    nukeCalls++;
    Wave_Free(static_cast<WaveRecord *>(e->data));
    e->data = nullptr;  // the registry must not free it again
}

TEST_F(Registry, destroy_runs_the_nuke_procedure_first) {
    nukeCalls = 0;
    std::string w = makeWave(4, 8000);
    ObjEntry *e = Obj_Get(interp, nullptr, w.c_str());
    e->nukeProc = nukeTakesData;
    EXPECT_EQ(Obj_Destroy(interp, w.c_str()), TCL_OK);
    EXPECT_EQ(nukeCalls, 1);
    EXPECT_EQ(Obj_Destroy(interp, w.c_str()), TCL_ERROR);
    EXPECT_EQ(Obj_Count(interp), 0);
}

TEST_F(Registry, clone_is_deep_and_keeps_the_nuke_procedure) {
    nukeCalls = 0;
    std::string w = makeWave(5, 16000);
    Obj_Get(interp, nullptr, w.c_str())->nukeProc = nukeTakesData;
    ASSERT_EQ(Obj_Clone(interp, w.c_str()), TCL_OK);
    std::string c = result();
    WaveRecord *a = static_cast<WaveRecord *>(Obj_GetData(interp, "wave", w.c_str()));
    WaveRecord *b = static_cast<WaveRecord *>(Obj_GetData(interp, "wave", c.c_str()));
    ASSERT_NE(a->samples, b->samples);
    EXPECT_EQ(memcmp(a->samples, b->samples, 10), 0);
    EXPECT_EQ(b->info[0], 16000.0f);
    EXPECT_EQ(Obj_Get(interp, nullptr, c.c_str())->nukeProc, nukeTakesData);
    Obj_Destroy(interp, w.c_str());
    Obj_Destroy(interp, c.c_str());
    EXPECT_EQ(nukeCalls, 2);
}

TEST_F(Registry, clone_is_refused_for_types_without_copies) {
    static const CntrType device = {"test/device", nullptr, nullptr, [](void *d) { DB_FREE(d); },
                                    nullptr, nullptr, nullptr, nullptr};
    Cntr_RegisterType(&device);
    ASSERT_EQ(Obj_Create(interp, "test/device", DB_MALLOC(4)), TCL_OK);
    std::string d = result();
    EXPECT_EQ(d.rfind("device", 0), 0u);
    EXPECT_EQ(Obj_Clone(interp, d.c_str()), TCL_ERROR);
    EXPECT_EQ(result(), "objects of type \"test/device\" cannot be copied");
}

TEST_F(Registry, write_and_read_through_a_channel_round_trip) {
    std::string w = makeWave(300, 8000);
    std::string a = makeArray(2, 2, 3);
    ArrayRecord *ar = static_cast<ArrayRecord *>(Obj_GetData(interp, "arrayF", a.c_str()));
    for (int i = 0; i < 6; i++) ar->data[i] = i * 0.5f;
    std::string path = testing::TempDir() + "objects.bin";
    Tcl_Channel ch = Tcl_OpenFileChannel(interp, path.c_str(), "w", 0644);
    Tcl_SetChannelOption(interp, ch, "-translation", "binary");
    ASSERT_EQ(Obj_Write(interp, ch, Obj_Get(interp, nullptr, w.c_str())), TCL_OK);
    ASSERT_EQ(Obj_Write(interp, ch, Obj_Get(interp, nullptr, a.c_str())), TCL_OK);
    Tcl_Close(interp, ch);

    ch = Tcl_OpenFileChannel(interp, path.c_str(), "r", 0);
    Tcl_SetChannelOption(interp, ch, "-translation", "binary");
    ASSERT_EQ(Obj_Read(interp, ch), TCL_OK) << result();
    WaveRecord *w2 = static_cast<WaveRecord *>(Obj_GetData(interp, "wave", result().c_str()));
    ASSERT_EQ(Obj_Read(interp, ch), TCL_OK) << result();
    ArrayRecord *a2 = static_cast<ArrayRecord *>(Obj_GetData(interp, "arrayF", result().c_str()));
    EXPECT_EQ(Obj_Read(interp, ch), TCL_ERROR);  // end of file
    Tcl_Close(interp, ch);
    WaveRecord *w1 = static_cast<WaveRecord *>(Obj_GetData(interp, "wave", w.c_str()));
    ASSERT_EQ(w2->len, 300);
    EXPECT_EQ(memcmp(w1->samples, w2->samples, 600), 0);
    ASSERT_EQ(a2->count, 6);
    EXPECT_EQ(a2->rows[1][2], 2.5f);
}

TEST_F(Registry, damaged_object_files_are_refused) {
    std::string w = makeWave(50, 8000);
    std::string path = testing::TempDir() + "damaged.bin";
    Tcl_Channel ch = Tcl_OpenFileChannel(interp, path.c_str(), "w", 0644);
    Tcl_SetChannelOption(interp, ch, "-translation", "binary");
    Obj_Write(interp, ch, Obj_Get(interp, nullptr, w.c_str()));
    Tcl_Close(interp, ch);
    FILE *f = fopen(path.c_str(), "r+b");
    fseek(f, 40, SEEK_SET);
    fputc(0x55, f);  // one byte of payload
    fclose(f);
    ch = Tcl_OpenFileChannel(interp, path.c_str(), "r", 0);
    Tcl_SetChannelOption(interp, ch, "-translation", "binary");
    EXPECT_EQ(Obj_Read(interp, ch), TCL_ERROR);
    EXPECT_EQ(result(), "packed object of type \"wave\" is damaged (bad check)");
    Tcl_Close(interp, ch);
}

TEST_F(Registry, transfer_moves_an_object_between_interpreters) {
    Tcl_Interp *other = Tcl_CreateInterp();
    Obj_Init(other);
    std::string w = makeWave(3, 8000);
    ASSERT_EQ(Obj_Transfer(interp, interp, w.c_str(), other), TCL_OK);
    EXPECT_EQ(Obj_GetData(interp, "wave", w.c_str()), nullptr);
    EXPECT_NE(Obj_GetData(other, "wave", w.c_str()), nullptr);
    Tcl_DeleteInterp(other);  // frees the moved object
}

TEST_F(Registry, list_answers_names_in_creation_order) {
    std::string a = makeWave(1, 8000), b = makeArray(1, 1, 2);
    Obj_List(interp);
    EXPECT_EQ(result(), a + " " + b);
}

}  // namespace
