// Asynchronous handlers: keys marked during commands, floating-point faults
// and caught signals, against a real interpreter.
#include <gtest/gtest.h>
#include <signal.h>
#include <tcl.h>

#include <chrono>
#include <string>
#include <thread>

#include "asn.h"

namespace {

const char *kErrorScript = "return -code error -errorcode %k {%s}";

// arith OP A B: computes A OP B in doubles between the fault checks, as a
// numeric command does.
int ArithCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    double a, b;
    if (argc != 4 || Tcl_GetDouble(interp, argv[2], &a) || Tcl_GetDouble(interp, argv[3], &b)) return TCL_ERROR;
    Asn_FpClear();
    volatile double x = a, y = b, r = 0;
    switch (argv[1][0]) {
    case '/': r = x / y; break;
    case '*': r = x * y; break;
    case 'f': r = (float)(x * y); break; // overflow on narrowing
    default: r = x + y;
    }
    Asn_FpCheck(interp, "SIGFPE");
    Tcl_SetObjResult(interp, Tcl_NewDoubleObj(r));
    return TCL_OK;
}

class Asn : public ::testing::Test {
  protected:
    Tcl_Interp *interp = nullptr;
    void SetUp() override {
        interp = Tcl_CreateInterp();
        ASSERT_EQ(Asn_Init(interp), TCL_OK);
        Tcl_CreateCommand(interp, "arith", ArithCmd, nullptr, nullptr);
    }
    void TearDown() override { Tcl_DeleteInterp(interp); }
    int eval(const std::string &s) { return Tcl_Eval(interp, s.c_str()); }
    std::string result() { return Tcl_GetStringResult(interp); }
};

TEST_F(Asn, floating_point_faults_become_errors_of_the_command) {
    ASSERT_EQ(Asn_CreateCmd(interp, "SIGFPE", kErrorScript), TCL_OK);
    struct {
        const char *script;
        int code;
        const char *result;
    } cases[] = {
        {"arith / 1 0", TCL_ERROR, "floating-point division by zero"},
        {"arith / 0 0", TCL_ERROR, "invalid floating-point operation"},
        {"arith * 1e308 1e308", TCL_ERROR, "floating-point overflow"},
        {"arith f 1e30 1e30", TCL_ERROR, "floating-point overflow"},
        {"arith / 1 4", TCL_OK, "0.25"},
        {"proc p {} {arith / 1 0}; p", TCL_ERROR, "floating-point division by zero"}, // compiled body
        {"catch {arith / 1 0} m o; list $m [dict get $o -errorcode]", TCL_OK,
         "{floating-point division by zero} SIGFPE"},
        {"arith + 1 2", TCL_OK, "3.0"}, // nothing left over from the faults before
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.script);
        EXPECT_EQ(eval(c.script), c.code);
        EXPECT_EQ(result(), c.result);
        if (c.code == TCL_ERROR) {
            EXPECT_STREQ(Tcl_GetVar(interp, "errorCode", TCL_GLOBAL_ONLY), "SIGFPE");
        }
    }
}

TEST_F(Asn, without_a_handler_faults_pass_silently) {
    EXPECT_EQ(eval("arith / 1 0"), TCL_OK);
    EXPECT_EQ(result(), "Inf");
}

TEST_F(Asn, a_succeeding_script_leaves_the_commands_result) {
    ASSERT_EQ(Asn_CreateCmd(interp, "SIGFPE", "set ::seen {%k: %s 100%% %x}"), TCL_OK);
    EXPECT_EQ(eval("arith / -1 0"), TCL_OK);
    EXPECT_EQ(result(), "-Inf");
    EXPECT_EQ(eval("set ::seen"), TCL_OK);
    EXPECT_EQ(result(), "SIGFPE: floating-point division by zero 100% %x");
}

TEST_F(Asn, marked_key_runs_after_the_next_command) {
    ASSERT_EQ(Asn_CreateCmd(interp, "mykey", "lappend ::runs %s"), TCL_OK);
    ASSERT_EQ(Asn_MarkCmd(interp, "mykey"), TCL_OK);
    EXPECT_EQ(eval("set x 1"), TCL_OK);
    EXPECT_EQ(result(), "1");
    EXPECT_EQ(eval("set ::runs"), TCL_OK);
    EXPECT_EQ(result(), "marked"); // once only
}

TEST_F(Asn, handler_of_another_interpreter_runs_there_as_background_work) {
    Tcl_Interp *other = Tcl_CreateInterp();
    ASSERT_EQ(Asn_CreateCmd(other, "k", "set ::hit %k; error oops"), TCL_OK);
    ASSERT_EQ(Tcl_Eval(other, "proc bgerror m {set ::bg $m}"), TCL_OK);
    ASSERT_EQ(Asn_MarkCmd(other, "k"), TCL_OK);
    EXPECT_EQ(eval("set y 2"), TCL_OK); // runs in this interpreter, unaffected
    EXPECT_EQ(result(), "2");
    EXPECT_EQ(Tcl_Eval(other, "set ::hit"), TCL_OK);
    EXPECT_STREQ(Tcl_GetStringResult(other), "k");
    Tcl_Eval(other, "update; set ::bg");
    EXPECT_STREQ(Tcl_GetStringResult(other), "oops");
    Tcl_DeleteInterp(other);
}

TEST_F(Asn, registry_commands_and_their_errors) {
    EXPECT_EQ(Asn_CreateCmd(interp, "b", "s1"), TCL_OK);
    EXPECT_EQ(Asn_CreateCmd(interp, "a", "s2"), TCL_OK);
    EXPECT_EQ(Asn_CreateCmd(interp, "b", "s3"), TCL_OK); // replaces
    EXPECT_EQ(Asn_ListCmd(interp, 0), TCL_OK);
    EXPECT_EQ(result(), "a b");
    EXPECT_EQ(Asn_ListCmd(interp, 1), TCL_OK);
    EXPECT_EQ(result(), "{a s2} {b s3}");
    EXPECT_EQ(Asn_InfoCmd(interp, "b"), TCL_OK);
    EXPECT_EQ(result(), "s3");
    EXPECT_EQ(Asn_DeleteCmd(interp, "a"), TCL_OK);
    struct {
        int code;
        const char *message;
    } errors[] = {
        {Asn_DeleteCmd(interp, "a"), "no handler for key \"a\""},
        {Asn_MarkCmd(interp, "zz"), "no handler for key \"zz\""},
        {Asn_InfoCmd(interp, "zz"), "no handler for key \"zz\""},
    };
    for (auto &e : errors) EXPECT_EQ(e.code, TCL_ERROR);
    EXPECT_EQ(result(), errors[2].message);
    EXPECT_EQ(Asn_CreateCmd(interp, "", "x"), TCL_ERROR);
    EXPECT_EQ(result(), "a handler key must not be empty");
    EXPECT_EQ(Asn_Signals(interp), TCL_OK);
    std::string s = result();
    EXPECT_NE(s.find("SIGINT"), std::string::npos);
    EXPECT_EQ(s.find("SIGFPE"), std::string::npos);
    EXPECT_EQ(s.find("SIGSEGV"), std::string::npos);
}

void (*disposition(int signo))(int) {
    struct sigaction sa;
    sigaction(signo, nullptr, &sa);
    return sa.sa_handler;
}

TEST_F(Asn, caught_signal_runs_its_script_and_the_old_disposition_returns) {
    signal(SIGUSR1, SIG_IGN);
    ASSERT_EQ(Asn_CreateCmd(interp, "SIGUSR1", "lappend ::got {%s}"), TCL_OK);
    EXPECT_NE(disposition(SIGUSR1), SIG_IGN);
    raise(SIGUSR1);
    bool seen = false;
    for (int i = 0; i < 200 && !seen; i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        eval("info exists ::got");
        seen = result() == "1";
    }
    ASSERT_TRUE(seen);
    eval("set ::got");
    EXPECT_EQ(result(), "{received SIGUSR1}");
    EXPECT_EQ(Asn_DeleteCmd(interp, "SIGUSR1"), TCL_OK);
    EXPECT_EQ(disposition(SIGUSR1), SIG_IGN);
    signal(SIGUSR1, SIG_DFL);
}

TEST_F(Asn, deleting_the_interpreter_releases_its_signals) {
    signal(SIGUSR2, SIG_IGN);
    Tcl_Interp *other = Tcl_CreateInterp();
    ASSERT_EQ(Asn_CreateCmd(other, "SIGUSR2", "set x"), TCL_OK);
    ASSERT_EQ(Asn_CreateCmd(interp, "SIGUSR2", "set y"), TCL_OK);
    Tcl_DeleteInterp(other);
    EXPECT_NE(disposition(SIGUSR2), SIG_IGN); // still caught for this interpreter
    ASSERT_EQ(Asn_DeleteCmd(interp, "SIGUSR2"), TCL_OK);
    EXPECT_EQ(disposition(SIGUSR2), SIG_IGN);
    signal(SIGUSR2, SIG_DFL);
}

} // namespace
