// The nuke command against objects made through the registry's C API.
#include <gtest/gtest.h>
#include <tcl.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "obj.h"

namespace {

std::string packageFile() {
    const char *build = getenv("TOVIK_BUILD");
    return std::string(build ? build : ".") + "/lib/tcl/mostrel/libmostrel.so";
}

class Nuke : public ::testing::Test {
  protected:
    Tcl_Interp *interp = nullptr;
    void SetUp() override {
        interp = Tcl_CreateInterp();
        Tcl_Obj *cmd = Tcl_NewListObj(0, nullptr);
        Tcl_ListObjAppendElement(nullptr, cmd, Tcl_NewStringObj("load", -1));
        Tcl_ListObjAppendElement(nullptr, cmd, Tcl_NewStringObj(packageFile().c_str(), -1));
        Tcl_ListObjAppendElement(nullptr, cmd, Tcl_NewStringObj("Mostrel", -1));
        ASSERT_EQ(Tcl_EvalObjEx(interp, cmd, 0), TCL_OK) << Tcl_GetStringResult(interp);
    }
    void TearDown() override { Tcl_DeleteInterp(interp); }

    std::string make() {
        EXPECT_EQ(Obj_Create(interp, "wave", Wave_New(4, 8000)), TCL_OK);
        return Tcl_GetStringResult(interp);
    }
    bool exists(const std::string &name) {
        bool found = Obj_Get(interp, nullptr, name.c_str()) != nullptr;
        Tcl_ResetResult(interp);
        return found;
    }
    int eval(const std::string &s) { return Tcl_Eval(interp, s.c_str()); }
    std::string result() { return Tcl_GetStringResult(interp); }
};

std::string subst(std::string t, const std::vector<std::string> &names) {
    for (size_t i = 0; i < names.size(); i++) {
        std::string key = "@" + std::to_string(i);
        for (size_t p; (p = t.find(key)) != std::string::npos;) t.replace(p, key.size(), names[i]);
    }
    return t;
}

TEST_F(Nuke, destroys_named_objects_and_lists_of_them_by_table) {
    const struct {
        const char *why;
        const char *script; // @0 .. @3 are four objects
        int code;
        const char *result;
        const char *left; // '1' for each object still there
    } cases[] = {
        {"one name", "nuke @0", TCL_OK, "", "0111"},
        {"several names", "nuke @0 @2", TCL_OK, "", "0101"},
        {"nested lists at any depth", "nuke {@0 {@1 {@2 @3}}}", TCL_OK, "", "0000"},
        {"unknown names are skipped", "nuke nosuch {x y} @1", TCL_OK, "", "1011"},
        {"no words at all", "nuke", TCL_OK, "", "1111"},
        {"an empty word", "nuke {}", TCL_OK, "", "1111"},
        {"a one-element list is a name, not a list", "nuke {{@0}}", TCL_OK, "", "1111"},
        {"a malformed list inside a list is ignored", "nuke [list @0 \"{x\" @1]", TCL_OK, "", "0011"},
        {"a malformed word fails and destroys nothing", "nuke @0 \"{x\"", TCL_ERROR, "unmatched open brace in list",
         "1111"},
        {"the same name twice", "nuke @3 @3", TCL_OK, "", "1110"},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.why);
        std::vector<std::string> names = {make(), make(), make(), make()};
        Tcl_SetResult(interp, (char *)"left over", TCL_STATIC);
        EXPECT_EQ(eval(subst(c.script, names)), c.code);
        EXPECT_EQ(result(), c.result);
        std::string left;
        for (auto &n : names) left += exists(n) ? '1' : '0';
        EXPECT_EQ(left, c.left);
        for (auto &n : names) Obj_Destroy(interp, n.c_str());
    }
}

void countingNuke(ObjEntry *e) { ++*static_cast<int *>(e->nukeData); }

TEST_F(Nuke, runs_the_objects_release_procedure_once) {
    std::string w = make();
    int calls = 0;
    ObjEntry *e = Obj_Get(interp, "wave", w.c_str());
    e->nukeProc = countingNuke;
    e->nukeData = &calls;
    EXPECT_EQ(eval("nuke " + w + " " + w), TCL_OK);
    EXPECT_EQ(calls, 1);
}

TEST_F(Nuke, is_there_in_a_safe_interpreter) {
    std::string w = make();
    ASSERT_EQ(eval("interp create -safe s"), TCL_OK);
    Tcl_Interp *s = Tcl_GetSlave(interp, "s");
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(eval("load " + packageFile() + " Mostrel s"), TCL_OK) << result();
    ASSERT_EQ(Obj_Create(s, "wave", Wave_New(1, 8000)), TCL_OK);
    std::string inSafe = Tcl_GetStringResult(s);
    EXPECT_EQ(Tcl_Eval(s, ("nuke " + inSafe + " " + w).c_str()), TCL_OK);
    EXPECT_EQ(Obj_Get(s, nullptr, inSafe.c_str()), nullptr);
    EXPECT_TRUE(exists(w)); // another interpreter's objects are out of reach
    EXPECT_EQ(eval("interp eval s {package present Mostrel}"), TCL_OK);
    EXPECT_EQ(result(), "1.0.0");
}

} // namespace
