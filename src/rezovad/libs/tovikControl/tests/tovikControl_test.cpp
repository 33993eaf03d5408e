// Embedding control as a host program uses it: no interpreter API here.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tovikControl.h"

namespace {

TEST(TovikControl, evaluates_and_reports_results_and_errors) {
    TovikControl *h = tovikControl_Open();
    ASSERT_NE(h, nullptr);
    const struct {
        const char *script;
        int code;
        const char *result;
    } cases[] = {
        {"expr {1 + 1}", 0, "2"},
        {"error {it broke}", 1, "it broke"},
        {"nosuchcommand", 1, "invalid command name \"nosuchcommand\""},
        {"set x 1; incr x", 0, "2"},
        {"break", 1, "invoked \"break\" outside of a loop"},
        {"info exists tcl_library", 0, "1"}, // the standard initialisation ran
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.script);
        EXPECT_EQ(tovikControl_Eval(h, c.script), c.code);
        EXPECT_STREQ(tovikControl_Result(h), c.result);
    }
    tovikControl_Close(h);
}

TEST(TovikControl, handles_are_independent) {
    TovikControl *a = tovikControl_Open(), *b = tovikControl_Open();
    ASSERT_EQ(tovikControl_Eval(a, "set v a"), 0);
    ASSERT_EQ(tovikControl_Eval(b, "set v b"), 0);
    EXPECT_EQ(tovikControl_Eval(a, "set v"), 0);
    EXPECT_STREQ(tovikControl_Result(a), "a");
    tovikControl_Close(a);
    EXPECT_EQ(tovikControl_Eval(b, "set v"), 0);
    EXPECT_STREQ(tovikControl_Result(b), "b");
    tovikControl_Close(b);
}

TEST(TovikControl, finds_the_toolkit_packages_without_settings) {
    unsetenv("TCLLIBPATH");
    TovikControl *h = tovikControl_Open();
    EXPECT_EQ(tovikControl_Eval(h, "package require Thing"), 0) << tovikControl_Result(h);
    tovikControl_Close(h);
}

} // namespace
