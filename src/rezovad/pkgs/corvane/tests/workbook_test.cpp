#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "registry.h"
#include "workbook.h"

namespace {

std::string slurp(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

// A directory with openpyxl-made workbooks and a runtime directory of its
// own for the record of open workbooks.
class Workbooks : public ::testing::Test {
protected:
    std::string dir;
    AvailableFile file;
    AvailableCell cells[kMaxCells];
    char msg[kMsgSize] = "";

    void SetUp() override {
        char tmpl[] = "/tmp/corvaneXXXXXX";
        dir = mkdtemp(tmpl);
        setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
        const char *src = getenv("TOVIK_SOURCE");
        std::string cmd = "/usr/bin/python3 " + std::string(src ? src : ".") +
                          "/src/rezovad/pkgs/corvane/tests/mkbooks.py " + dir + " 2>/dev/null";
        if (system(cmd.c_str()) != 0) GTEST_SKIP() << "openpyxl is needed to make the workbooks";
        describe(file, "book.xlsx");
    }
    void TearDown() override { system(("rm -rf " + dir).c_str()); }

    void describe(AvailableFile &f, const char *name) {
        memset(&f, 0, sizeof f);
        snprintf(f.name, sizeof f.name, "%s", name);
        snprintf(f.path, sizeof f.path, "%s/%s", dir.c_str(), name);
        f.slot = -1;
        f.selectedCell = -1;
    }
    AvailableCell *cell(const char *name) {
        for (int k = 0; k < file.cellCount; k++)
            if (strcmp(cells[k].name, name) == 0) return &cells[k];
        return nullptr;
    }
};

TEST_F(Workbooks, a_failed_save_keeps_the_workbook_and_releases_everything) {
    std::string before = slurp(file.path);
    ASSERT_GE(OpenExcelWorkSheetObject(&file, msg), 0) << msg;
    ASSERT_EQ(0, GetAvailableCells(&file, cells, msg)) << msg;
    ASSERT_NE(nullptr, cell("Total"));
    ASSERT_GE(SetAvailableCellValue(&file, cell("Total"), "12abc", msg), 0) << msg;
    ASSERT_EQ(0, GetAvailableCellValue(&file, cell("Total"), msg));
    EXPECT_STREQ("12.00", cell("Total")->value);
    Auto_FailNext("SaveAs");
    CloseExcelWorkSheetObject(&file, msg, 0, nullptr);
    EXPECT_NE(nullptr, strstr(msg, "SaveAs failed")) << msg;
    EXPECT_EQ(before, slurp(file.path));
    EXPECT_EQ(-1, file.slot);
    EXPECT_EQ(0, Auto_LiveObjects());
    EXPECT_EQ(REG_NOT_FOUND, Reg_OpenKey(kKillKey));  // no workbook open: no record
}

TEST_F(Workbooks, a_second_open_of_a_running_workbook_shares_it) {
    AvailableFile again;
    AvailableCell cells2[kMaxCells];
    describe(again, "book.xlsx");
    ASSERT_GE(OpenExcelWorkSheetObject(&file, msg), 0) << msg;
    ASSERT_GE(OpenExcelWorkSheetObject(&again, msg), 0) << msg;
    ASSERT_EQ(0, GetAvailableCells(&file, cells, msg));
    ASSERT_EQ(0, GetAvailableCells(&again, cells2, msg));
    ASSERT_GE(SetAvailableCellValue(&file, cell("Three"), "7", msg), 0);
    ASSERT_EQ(0, GetAvailableCellValue(&again, &cells2[3], msg));
    EXPECT_STREQ("Three", cells2[3].name);
    EXPECT_STREQ("7.00", cells2[3].value);
    // Closing one keeps the program; the record follows the open count.
    ASSERT_GE(CloseExcelWorkSheetObject(&again, msg, 0, "FALSE"), 0) << msg;
    EXPECT_EQ(0, Reg_OpenKey(kKillKey));
    ASSERT_GE(CloseExcelWorkSheetObject(&file, msg, 0, "FALSE"), 0) << msg;
    EXPECT_EQ(REG_NOT_FOUND, Reg_OpenKey(kKillKey));
    EXPECT_EQ(0, Auto_LiveObjects());
}

TEST_F(Workbooks, the_record_lets_a_later_session_save_and_close_what_is_open) {
    EXPECT_EQ(REG_NOT_FOUND, DeleteExcelKillStructure(msg));
    EXPECT_EQ(-1, MakeVisible(1, msg));
    EXPECT_STREQ("The application is not open, so cannot be shown.", msg);
    ASSERT_GE(OpenExcelWorkSheetObject(&file, msg), 0) << msg;
    ASSERT_EQ(0, GetAvailableCells(&file, cells, msg));
    ASSERT_GE(SetAvailableCellValue(&file, cell("Total"), "-2", msg), 0);
    std::string name, data;
    ASSERT_EQ(0, Reg_EnumValue(kKillKey, 0, name, data));
    EXPECT_EQ(file.path, name);
    EXPECT_EQ(8u, data.size());
    EXPECT_EQ(0, MakeVisible(1, msg));
    EXPECT_EQ(0, DeleteExcelKillStructure(msg)) << msg;
    EXPECT_EQ(REG_NOT_FOUND, Reg_OpenKey(kKillKey));
    EXPECT_EQ(0, Auto_LiveObjects());
    // The change was saved: a new open reads it.
    describe(file, "book.xlsx");
    ASSERT_GE(OpenExcelWorkSheetObject(&file, msg), 0) << msg;
    ASSERT_EQ(0, GetAvailableCells(&file, cells, msg));
    EXPECT_STREQ("-2.00", cell("Total")->value);
    CloseExcelWorkSheetObject(&file, msg, 0, "FALSE");
    EXPECT_EQ(0, Auto_LiveObjects());
}

}  // namespace
