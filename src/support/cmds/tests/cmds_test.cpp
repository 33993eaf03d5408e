#include "cmds.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class Interp : public ::testing::Test {
protected:
    Tcl_Interp *interp = Tcl_CreateInterp();
    ~Interp() override { Tcl_DeleteInterp(interp); }
    std::string result() { return Tcl_GetStringResult(interp); }
    int eval(const char *script) { return Tcl_Eval(interp, script); }
};

int echoProc(ClientData cd, Tcl_Interp *interp, int argc, const char *argv[]) {
    std::string s = static_cast<const char *>(cd ? cd : "");
    for (int i = 0; i < argc; i++) s += std::string(" ") + argv[i];
    Tcl_SetObjResult(interp, Tcl_NewStringObj(s.c_str(), -1));
    return TCL_OK;
}

const SubCmdEntry tableA[] = {{"alpha", echoProc}, {nullptr, nullptr}};
const SubCmdEntry tableB[] = {{"beta", echoProc}, {"*", echoProc}, {nullptr, nullptr}};

TEST_F(Interp, two_packages_share_one_switch_command_in_either_order) {
    for (int order = 0; order < 2; order++) {
        const SubCmdEntry *first = order ? tableB : tableA, *second = order ? tableA : tableB;
        Cmds_CreateSwitchCmd(interp, "sw", nullptr, nullptr);
        Cmds_CreateSubCmds(interp, "sw", first);
        Cmds_CreateSwitchCmd(interp, "sw", nullptr, nullptr);
        Cmds_CreateSubCmds(interp, "sw", second);
        ASSERT_EQ(eval("sw alpha 1"), TCL_OK);
        EXPECT_EQ(result(), " sw alpha 1");
        ASSERT_EQ(eval("sw beta"), TCL_OK);
        EXPECT_EQ(result(), " sw beta");
        // The "*" row gets unknown words with the whole word list.
        ASSERT_EQ(eval("sw foo a b"), TCL_OK);
        EXPECT_EQ(result(), " sw foo a b");
        Tcl_DeleteCommand(interp, "sw");
    }
}

TEST_F(Interp, unknown_sub_command_lists_the_choices) {
    Cmds_CreateSwitchCmd(interp, "sw", nullptr, nullptr);
    Cmds_CreateSubCmds(interp, "sw", tableA);
    EXPECT_EQ(eval("sw nope"), TCL_ERROR);
    EXPECT_EQ(result(), "bad option \"nope\": must be alpha");
    EXPECT_EQ(eval("sw"), TCL_ERROR);
    EXPECT_EQ(result(), "wrong # args: should be \"sw option ?arg ...?\"");
}

int deleted = 0;
void countDelete(ClientData) { deleted++; }

TEST_F(Interp, sub_command_client_data_and_delete_procedures_run) {
    deleted = 0;
    Cmds_CreateSwitchCmd(interp, "sw", nullptr, countDelete);
    Cmds_CreateSubCmd(interp, "sw", "one", echoProc, (ClientData) "cd", countDelete);
    ASSERT_EQ(eval("sw one"), TCL_OK);
    EXPECT_EQ(result(), "cd sw one");
    ASSERT_EQ(Cmds_RenameSubCmd(interp, "sw", "one", "two"), TCL_OK);
    ASSERT_EQ(eval("sw two"), TCL_OK);
    Tcl_DeleteCommand(interp, "sw");
    EXPECT_EQ(deleted, 2);
}

// One row of a template case: the words after the command, what parsing must
// answer and the values written.
struct Case {
    const char *tmpl;
    std::vector<const char *> words;
    bool ok;
    std::string expect;  // "a=..;i=..;..." or the error message
};

std::string runCase(Tcl_Interp *interp, const Case &c) {
    std::vector<const char *> argv = {"cmd"};
    argv.insert(argv.end(), c.words.begin(), c.words.end());
    int argc = static_cast<int>(argv.size());
    const char *s1 = "preset", *s2 = "preset";
    int i1 = -7, n1 = 1, given = 9, count = -1;
    float f1 = -1.0f;
    double d1 = -2.0;
    const char **list = nullptr;
    int code = TCL_ERROR;
    std::string t = c.tmpl;
    if (t == "") code = Cmds_ParseArgs(interp, 1, argc, argv.data(), "");
    else if (t == "a %s b ?i")
        code = Cmds_ParseArgs(interp, 1, argc, argv.data(), c.tmpl, &s1, &i1);
    else if (t == "a %s -flag %n -v %f")
        code = Cmds_ParseArgs(interp, 1, argc, argv.data(), c.tmpl, &s1, &n1, &f1);
    else if (t == "-pruning %n !f")
        code = Cmds_ParseArgs(interp, 1, argc, argv.data(), c.tmpl, &n1, &f1, &given);
    else if (t == "x %d rest... %l")
        code = Cmds_ParseArgs(interp, 1, argc, argv.data(), c.tmpl, &d1, &count, &list);
    else if (t == "volume !d")
        code = Cmds_ParseArgs(interp, 1, argc, argv.data(), c.tmpl, &d1, &given);
    else if (t == "-icon %s %i name ?s")
        code = Cmds_ParseArgs(interp, 1, argc, argv.data(), c.tmpl, &s1, &i1, &s2);
    if (code != TCL_OK) return Tcl_GetStringResult(interp);
    char buf[200];
    snprintf(buf, sizeof buf, "s1=%s;s2=%s;i=%d;n=%d;f=%g;d=%g;given=%d;count=%d", s1, s2, i1, n1, f1, d1, given,
             count);
    std::string out = buf;
    if (list) {
        for (int k = 0; k < count; k++) out += std::string(";") + list[k];
    }
    return out;
}

TEST_F(Interp, templates_parse_every_token_kind) {
    const Case cases[] = {
        {"", {}, true, "s1=preset;s2=preset;i=-7;n=1;f=-1;d=-2;given=9;count=-1"},
        {"", {"extra"}, false, "wrong # args: should be \"cmd\""},
        // Optional positional left untouched when absent, parsed when given.
        {"a %s b ?i", {"x"}, true, "s1=x;s2=preset;i=-7;n=1;f=-1;d=-2;given=9;count=-1"},
        {"a %s b ?i", {"x", "12"}, true, "s1=x;s2=preset;i=12;n=1;f=-1;d=-2;given=9;count=-1"},
        {"a %s b ?i", {}, false, "wrong # args: should be \"cmd a ?b?\""},
        {"a %s b ?i", {"x", "zz"}, false, "expected integer but got \"zz\""},
        // %n is always written: 0 over the preset 1 when the option is absent.
        {"a %s -flag %n -v %f", {"x"}, true, "s1=x;s2=preset;i=-7;n=0;f=-1;d=-2;given=9;count=-1"},
        {"a %s -flag %n -v %f", {"-flag", "x", "-v", "2.5"}, true,
         "s1=x;s2=preset;i=-7;n=1;f=2.5;d=-2;given=9;count=-1"},
        {"a %s -flag %n -v %f", {"x", "-v"}, false, "wrong # args: should be \"cmd a ?-flag? ?-v value?\""},
        {"a %s -flag %n -v %f", {"x", "-bogus"}, false, "bad option \"-bogus\": should be one of -flag -v"},
        // A negative number is a value, not an option.
        {"a %s -flag %n -v %f", {"-6"}, true, "s1=-6;s2=preset;i=-7;n=0;f=-1;d=-2;given=9;count=-1"},
        // Query-or-set: given tells whether a value followed the name.
        {"-pruning %n !f", {"-pruning"}, true, "s1=preset;s2=preset;i=-7;n=1;f=-1;d=-2;given=0;count=-1"},
        {"-pruning %n !f", {"-pruning", "0.5"}, true, "s1=preset;s2=preset;i=-7;n=1;f=0.5;d=-2;given=1;count=-1"},
        {"-pruning %n !f", {}, true, "s1=preset;s2=preset;i=-7;n=0;f=-1;d=-2;given=0;count=-1"},
        // %l takes every remaining word, also none.
        {"x %d rest... %l", {"1.5", "a", "-b"}, true, "s1=preset;s2=preset;i=-7;n=1;f=-1;d=1.5;given=9;count=2;a;-b"},
        {"x %d rest... %l", {"1.5"}, true, "s1=preset;s2=preset;i=-7;n=1;f=-1;d=1.5;given=9;count=0"},
        {"x %d rest... %l", {"abc"}, false, "expected floating-point number but got \"abc\""},
        // An option with two values may stand after the positional word.
        // A positional query-or-set word is optional in the usage.
        {"volume !d", {}, true, "s1=preset;s2=preset;i=-7;n=1;f=-1;d=-2;given=0;count=-1"},
        {"volume !d", {"0.5"}, true, "s1=preset;s2=preset;i=-7;n=1;f=-1;d=0.5;given=1;count=-1"},
        {"volume !d", {"1", "2"}, false, "wrong # args: should be \"cmd ?volume?\""},
        {"-icon %s %i name ?s", {"a", "b"}, false, "wrong # args: should be \"cmd ?-icon value value? ?name?\""},
        {"-icon %s %i name ?s", {"n", "-icon", "f.ico", "3"}, true,
         "s1=f.ico;s2=n;i=3;n=1;f=-1;d=-2;given=9;count=-1"},
    };
    for (const Case &c : cases) {
        Tcl_ResetResult(interp);
        std::string got = runCase(interp, c);
        EXPECT_EQ(got, c.expect) << "template \"" << c.tmpl << "\"";
    }
}

TEST(FloatPrinting, floats_print_in_their_shortest_form) {
    const struct {
        float v;
        const char *text;
    } cases[] = {{0.1f, "0.1"}, {2.0f, "2.0"}, {-0.5f, "-0.5"}, {1e20f, "1e+20"}, {32767.0f / 65535.0f, "0.49999237"}};
    char buf[40];
    for (auto &c : cases) EXPECT_STREQ(Cmds_FloatString(c.v, buf), c.text);
}

TEST(Sspf, two_slots_live_at_once) {
    char *a = sspf(0, "%d-%s", 1, "x");
    char *b = sspf(1, "%s", "y");
    EXPECT_STREQ(a, "1-x");
    EXPECT_STREQ(b, "y");
    std::string big(10000, 'z');
    EXPECT_EQ(strlen(sspf(0, "%s", big.c_str())), 4095u);
}

}  // namespace
