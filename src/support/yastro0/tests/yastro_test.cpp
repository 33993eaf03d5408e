#include "yastro.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

namespace {

int quietPanic(const char *, va_list) { return 42; }

TEST(Yastro, realloc_keeps_contents_and_accepts_null) {
    char *p = static_cast<char *>(DB_Realloc(nullptr, 4, __FILE__, __LINE__));
    memcpy(p, "abc", 4);
    p = static_cast<char *>(DB_Realloc(p, 1 << 20, __FILE__, __LINE__));
    EXPECT_STREQ(p, "abc");
    DB_Free(p, __FILE__, __LINE__);
}

TEST(Yastro, panic_procedure_answers_and_nothing_aborts) {
    DB_SetPanicProc(quietPanic);
    EXPECT_EQ(DB_Panic("x %d", 1), 42);
    DB_SetPanicProc(nullptr);
}

TEST(YastroDeath, panic_without_procedure_prints_stamped_message_and_aborts) {
    EXPECT_DEATH(DB_Panic("bad %s", "thing"),
                 "\nPANIC:\n [0-9]{6} [0-9]{2}:[0-9]{2}:[0-9]{2} bad thing\n");
}

TEST(Yastro, debug_log_appends_stamped_lines) {
    EXPECT_EQ(DB_DebugOpen(nullptr), 0);  // nothing open yet
    std::string path = testing::TempDir() + "yastro_debug.log";
    remove(path.c_str());
    ASSERT_EQ(DB_DebugOpen(path.c_str()), 0);
    DB_Debug("first %d", 1);
    DB_Debug("second");
    EXPECT_EQ(DB_DebugOpen(nullptr), 0);
    std::ifstream in(path);
    std::stringstream all;
    all << in.rdbuf();
    std::regex line("[0-9]{6} [0-9:]{8} first 1\n[0-9]{6} [0-9:]{8} second\n");
    EXPECT_TRUE(std::regex_match(all.str(), line)) << all.str();
}

}  // namespace
