// Binding of matrix arguments against a real interpreter and registry.
#include <gtest/gtest.h>
#include <tcl.h>

#include <cstring>
#include <string>
#include <vector>

#include "obj.h"
#include "pardel.h"

namespace {

class Pardel : public ::testing::Test {
  protected:
    Tcl_Interp *interp = nullptr;

    void SetUp() override {
        interp = Tcl_CreateInterp();
        ASSERT_EQ(Obj_Init(interp), TCL_OK);
        Tcl_CreateCommand(interp, "setc", SetComplexCmd, nullptr, nullptr);
    }
    void TearDown() override { Tcl_DeleteInterp(interp); }

    // A 2-D "arrayF" holding 1, 2, 3 ... row after row (or the given values).
    std::string make2D(int rows, int cols, std::vector<float> values = {}) {
        ArrayRecord *a = Array_New(2, rows, cols);
        EXPECT_EQ(Obj_Create(interp, "arrayF", a), TCL_OK);
        for (int i = 0; i < rows * cols; i++) a->data[i] = values.empty() ? float(i + 1) : values[i];
        return Tcl_GetStringResult(interp);
    }
    std::string make1D(int n) {
        ArrayRecord *a = Array_New(1, 1, n);
        EXPECT_EQ(Obj_Create(interp, "arrayF", a), TCL_OK);
        for (int i = 0; i < n; i++) a->data[i] = float(i + 1);
        return Tcl_GetStringResult(interp);
    }
    ArrayRecord *rec(const std::string &name) {
        return static_cast<ArrayRecord *>(Obj_GetData(interp, "arrayF", name.c_str()));
    }
    std::string result() { return Tcl_GetStringResult(interp); }
    std::string eval(const std::string &script) {
        Tcl_Eval(interp, script.c_str());
        return result();
    }

    // Rows of a bound part as "{1 2} {3 4}".
    static std::string dump(float **rows, int r, int c) {
        std::string s;
        for (int i = 0; i < r; i++) {
            s += i ? " {" : "{";
            for (int j = 0; j < c; j++) {
                char buf[32];
                snprintf(buf, sizeof buf, "%s%g", j ? " " : "", rows[i][j]);
                s += buf;
            }
            s += "}";
        }
        return s;
    }
    static std::string dumpObj(ArrayRecord *a) { return dump(a->ndims == 1 ? &a->data : a->rows, Array_rows(a), Array_cols(a)); }

    // setc OUTPUT ROWS COLS: binds a complex output and fills the real part
    // with 1, 2 ... and the imaginary part with -1, -2 ...
    static int SetComplexCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
        MxMatrix *m = Mx_create();
        int code = Mx_setComplex(interp, argv[1][0] ? argv[1] : nullptr, atoi(argv[2]), atoi(argv[3]), m);
        if (code == 0)
            for (int i = 0; i < m->rows; i++)
                for (int j = 0; j < m->cols; j++) {
                    m->real[i][j] = float(i * m->cols + j + 1);
                    m->imag[i][j] = -m->real[i][j];
                }
        Mx_destroy(m);
        return code ? TCL_ERROR : TCL_OK;
    }
};

// ---- inputs ---------------------------------------------------------------

struct InputCase {
    const char *why;
    std::string text; // "A" stands for a 2x3 object, "V" for a 1-D of 5, "M" for 3x3, "C" for 5x1
    int code;
    int rows, cols;
    std::string real; // rows dumped, or the message when code is 1
    std::string imag;
};

std::string substitute(std::string t, const std::vector<std::pair<std::string, std::string>> &names) {
    for (auto &n : names) {
        for (size_t p = 0; (p = t.find("@" + n.first, p)) != std::string::npos;) {
            t.replace(p, n.first.size() + 1, n.second);
            p += n.second.size();
        }
    }
    return t;
}

TEST_F(Pardel, binds_inputs_by_table) {
    std::vector<std::pair<std::string, std::string>> names = {
        {"A", make2D(2, 3)}, {"V", make1D(5)}, {"M", make2D(3, 3)}, {"C", make2D(5, 1)}, {"B", make2D(2, 3, {10, 20, 30, 40, 50, 60})}};
    const InputCase cases[] = {
        {"list of two rows", "{{1 2 3} {4 5 6}}", 0, 2, 3, "{1 2 3} {4 5 6}", ""},
        {"a single number", "7.5", 0, 1, 1, "{7.5}", ""},
        {"hex and exponent forms", "{{0x10 1e2}}", 0, 1, 2, "{16 100}", ""},
        {"ragged rows", "{{1 2} {3}}", 1, 0, 0, "row 1 not a valid length", ""},
        {"three items", "1 2 3", 1, 0, 0,
         "input must be an object or a 2 element object list (real and imaginary) but 3 `thing(s)' given 1 2 3", ""},
        {"malformed number", "{{1 x}}", 1, 0, 0, "expected floating-point number but got \"x\"", ""},
        {"empty list", "{}", 1, 0, 0, "expecting a list of rows of numbers, not this: \"\"", ""},
        {"unbalanced brace", "{{1 2}", 1, 0, 0, "unmatched open brace in list", ""},
        {"pair of lists", "{{1 2}} {{3 4}}", 0, 1, 2, "{1 2}", "{3 4}"},
        {"pair of unequal sizes", "{{1 2}} {{3 4} {5 6}}", 1, 0, 0,
         "inconsistent size for real and imaginary components of 2 element object input list {{1 2}} {{3 4} {5 6}}", ""},
        {"object in place", "@A", 0, 2, 3, "{1 2 3} {4 5 6}", ""},
        {"1-D object is one row", "@V", 0, 1, 5, "{1 2 3 4 5}", ""},
        {"transpose", "@A.'", 0, 3, 2, "{1 4} {2 5} {3 6}", ""},
        {"transpose twice", "@A.'.'", 0, 2, 3, "{1 2 3} {4 5 6}", ""},
        {"sub-block", "@A.(0:1,1:2)", 0, 2, 2, "{2 3} {5 6}", ""},
        {"sub-block of a transpose", "@A.'(1:2,0:0)", 0, 2, 1, "{2} {3}", ""},
        {"sub-block of a sub-block", "@M.(1:2,0:2).(0:1,1:2)", 0, 2, 2, "{5 6} {8 9}", ""},
        {"row vector range", "@V.(1:3)", 0, 1, 3, "{2 3 4}", ""},
        {"column vector range", "@C.(1:3)", 0, 3, 1, "{2} {3} {4}", ""},
        {"single index", "@V.(4)", 0, 1, 1, "{5}", ""},
        {"hex range", "@V.(0x1:0x2)", 0, 1, 2, "{2 3}", ""},
        {"matrix takes only the colon", "@M.(:)", 0, 3, 3, "{1 2 3} {4 5 6} {7 8 9}", ""},
        {"matrix refuses a one-dimension range", "@M.(1:2)", 1, 0, 0,
         "bad range specifier 1:2 should be of the form a:b:c,d:e:f", ""},
        {"reverse range", "@V.(2:0)", 1, 0, 0, "for negative steps or reverse indicing \"2:0\" use the \"cut\" command", ""},
        {"stepped range", "@V.(0:2:4)", 1, 0, 0, "for negative steps or reverse indicing \"0:2:4\" use the \"cut\" command",
         ""},
        {"rows out of range", "@A.(0:5,0:1)", 1, 0, 0,
         "mx cut: out of range row index 0:1:5 for vector -- should be in range (0:1)", ""},
        {"negative column", "@A.(0:1,-1:1)", 1, 0, 0,
         "mx cut: out of range column index -1:1:1 for vector -- should be in range (0:2)", ""},
        {"no closing bracket", "@A.(0:1", 1, 0, 0,
         "no closing \")\" bracket for range specifier \"(0:1\" should be of the form (a:b:c) or (a:b:c,d:e:f)", ""},
        {"unknown suffix character", "@A.x", 1, 0, 0, "don't know what to do with \"x\"", ""},
        {"comma and nothing", "@A.(1,)", 1, 0, 0, "bad range specifier 1, should be of the form a:b:c,d:e:f", ""},
        {"bad row character", "@A.(1x,0)", 1, 0, 0, "bad character 'x' in row range specifier", ""},
        {"bad column character", "@A.(0,1y)", 1, 0, 0, "bad character 'y' in column range specifier", ""},
        {"bad character", "@V.(1;2)", 1, 0, 0, "bad character ';' in range specifier", ""},
        {"missing object", "abc", 1, 0, 0,
         "no such arrayF object \"abc\"; expecting a list or 1-D or 2-D arrayf object, not this: \"abc\"", ""},
        {"pair of objects, suffix of the second", "@A @B.'", 0, 3, 2, "{1 4} {2 5} {3 6}", "{-10 -40} {-20 -50} {-30 -60}"},
        {"object and list, suffix of the first", "@A.(0:0,0:1) {{7 8 9} {1 2 3}}", 0, 1, 2, "{1 2}", "{7 8}"},
    };
    for (const InputCase &c : cases) {
        SCOPED_TRACE(c.why);
        std::string text = substitute(c.text, names);
        MxMatrix *m = Mx_create();
        int code = Mx_getComplex(interp, text.c_str(), m);
        EXPECT_EQ(code, c.code);
        if (code == 0 && c.code == 0) {
            EXPECT_EQ(m->rows, c.rows);
            EXPECT_EQ(m->cols, c.cols);
            EXPECT_EQ(dump(m->real, m->rows, m->cols), c.real);
            EXPECT_EQ(m->imag ? dump(m->imag, m->rows, m->cols) : "", c.imag);
        } else if (c.code == 1) {
            EXPECT_EQ(result(), c.real);
        }
        Mx_destroy(m);
        Tcl_ResetResult(interp);
    }
}

TEST_F(Pardel, object_of_another_type_is_refused_by_name) {
    ArrayRecord *d = Array_New(2, 1, 1);
    ASSERT_EQ(Obj_Create(interp, "arrayD", d), TCL_OK);
    std::string name = result();
    MxMatrix *m = Mx_create();
    EXPECT_EQ(Mx_getReal(interp, name.c_str(), m), 1);
    EXPECT_NE(result().find("expecting a list or 1-D or 2-D arrayf object, not this: \"" + name + "\""), std::string::npos);
    Mx_destroy(m);
}

TEST_F(Pardel, getReal_refuses_a_complex_pair) {
    MxMatrix *m = Mx_create();
    EXPECT_EQ(Mx_getReal(interp, "{{1 2}} {{3 4}}", m), 1);
    EXPECT_EQ(result(), "expecting {{1 2}} {{3 4}} to be real");
    Mx_destroy(m);
    m = Mx_create();
    EXPECT_EQ(Mx_getReal(interp, nullptr, m), 1);
    Mx_destroy(m);
}

TEST_F(Pardel, objects_and_sub_blocks_are_bound_in_place) {
    std::string a = make2D(3, 3);
    MxMatrix *m = Mx_create();
    ASSERT_EQ(Mx_getReal(interp, a.c_str(), m), 0);
    EXPECT_EQ(m->realStore, rec(a));
    m->real[0][0] = 100;
    Mx_destroy(m);
    m = Mx_create();
    ASSERT_EQ(Mx_getReal(interp, (a + ".(1:2,1:2)").c_str(), m), 0);
    EXPECT_EQ(m->realStore->ndims, MX_KIND_ALIAS);
    m->real[1][1] = -9; // element [2][2] of the object
    Mx_destroy(m);
    EXPECT_EQ(dumpObj(rec(a)), "{100 2 3} {4 5 6} {7 8 -9}");
}

// ---- ranges ---------------------------------------------------------------

struct RangeCase {
    const char *text;
    int defaults[6]; // rowFirst rowStep rowLast colFirst colStep colLast
    int code;
    int expect[6];
    const char *message;
};

TEST_F(Pardel, splits_ranges_by_table) {
    const RangeCase cases[] = {
        {"1:2,0:1", {0, 1, 4, 0, 1, 4}, 0, {1, 1, 2, 0, 1, 1}, ""},
        {"3", {0, 1, 0, 0, 1, 9}, 0, {0, 1, 0, 3, 1, 3}, ""},          // one row: the columns
        {"3", {0, 1, 9, 0, 1, 0}, 0, {3, 1, 3, 0, 1, 0}, ""},          // one column: the rows
        {"", {0, 1, 9, 0, 1, 0}, 0, {0, 1, 0, 0, 1, 0}, ""},           // empty: index 0
        {":", {0, 1, 4, 0, 1, 4}, 0, {0, 1, 4, 0, 1, 4}, ""},          // everything
        {"2:", {0, 1, 9, 0, 1, 0}, 0, {2, 1, 9, 0, 1, 0}, ""},         // last keeps its default
        {":5", {0, 1, 9, 0, 1, 0}, 0, {0, 1, 5, 0, 1, 0}, ""},
        {"8:-2:0", {0, 1, 9, 0, 1, 0}, 0, {8, -2, 0, 0, 1, 0}, ""},    // steps are the caller's to check
        {"010:0x1:012", {0, 1, 20, 0, 1, 0}, 0, {8, 1, 10, 0, 1, 0}, ""}, // base 0: octal and hex
        {",1", {0, 1, 4, 0, 1, 4}, 0, {0, 1, 0, 1, 1, 1}, ""},
        {"1, 2", {0, 1, 4, 0, 1, 4}, 1, {}, "bad range specifier 1, 2 should be of the form a:b:c,d:e:f"},
        {"1:2", {0, 1, 4, 0, 1, 4}, 1, {}, "bad range specifier 1:2 should be of the form a:b:c,d:e:f"},
        {"1:2:3:4", {0, 1, 9, 0, 1, 0}, 1, {}, "bad character ':' in range specifier"},
        {"a", {0, 1, 9, 0, 1, 0}, 1, {}, "bad character 'a' in range specifier"},
        {"1-2,0", {0, 1, 4, 0, 1, 4}, 1, {}, "bad character '-' in row range specifier"},
    };
    for (const RangeCase &c : cases) {
        SCOPED_TRACE(c.text);
        int v[6];
        memcpy(v, c.defaults, sizeof v);
        int code = Mx_rangeSplit(interp, c.text, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]);
        EXPECT_EQ(code, c.code);
        if (c.code == 0) {
            for (int i = 0; i < 6; i++) EXPECT_EQ(v[i], c.expect[i]) << "field " << i;
        } else {
            EXPECT_EQ(result(), c.message);
        }
        Tcl_ResetResult(interp);
    }
}

// ---- outputs --------------------------------------------------------------

TEST_F(Pardel, output_without_a_word_makes_a_zero_object) {
    MxMatrix *m = Mx_create();
    ASSERT_EQ(Mx_setReal(interp, nullptr, 2, 3, m), 0);
    std::string name = result();
    ArrayRecord *a = rec(name);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(m->realStore, a);
    EXPECT_EQ(dumpObj(a), "{0 0 0} {0 0 0}");
    Mx_destroy(m);
}

TEST_F(Pardel, output_into_a_missing_variable_sets_it) {
    MxMatrix *m = Mx_create();
    ASSERT_EQ(Mx_setReal(interp, "v", 2, 2, m), 0);
    std::string name = result();
    EXPECT_EQ(eval("set v"), name);
    Mx_destroy(m);
    // Again through the variable: the same object, used in place.
    rec(name)->data[0] = 5;
    m = Mx_create();
    ASSERT_EQ(Mx_setReal(interp, "v", 2, 2, m), 0);
    EXPECT_EQ(result(), name);
    EXPECT_EQ(m->real[0][0], 5); // not cleared
    Mx_destroy(m);
}

TEST_F(Pardel, output_of_another_size_is_resized_under_its_name) {
    std::string o = make2D(2, 2);
    int before = Obj_Count(interp);
    MxMatrix *m = Mx_create();
    ASSERT_EQ(Mx_setReal(interp, o.c_str(), 3, 4, m), 0);
    EXPECT_EQ(result(), o);
    ArrayRecord *a = rec(o);
    EXPECT_EQ(a->dims[0], 3);
    EXPECT_EQ(a->dims[1], 4);
    EXPECT_EQ(a->count, 12);
    EXPECT_EQ(a->rows[2], a->data + 8);
    EXPECT_EQ(m->real, a->rows);
    m->real[2][3] = 1;
    Mx_destroy(m);
    EXPECT_EQ(dumpObj(a), "{0 0 0 0} {0 0 0 0} {0 0 0 1}");
    EXPECT_EQ(Obj_Count(interp), before);
    // No stray variable named after the object.
    EXPECT_EQ(eval("info exists " + o), "0");
}

struct OutputErrorCase {
    const char *why;
    std::string output;
    int rows, cols;
    std::string message;
};

TEST_F(Pardel, bad_outputs_fail_and_change_nothing) {
    std::string o = make2D(3, 3);
    WaveRecord *w = Wave_New(10, 8000);
    ASSERT_EQ(Obj_Create(interp, "wave", w), TCL_OK);
    std::string wave = result();
    std::vector<std::pair<std::string, std::string>> names = {{"O", o}, {"W", wave}};
    const OutputErrorCase cases[] = {
        {"two words for a real output", "x y", 2, 2, "output must be a 1 element object (real) but 2 `thing(s)' given x y"},
        {"object of another type", "@W", 2, 2, "expecting a 2-D arrayf object, not this: \"@W\""},
        {"sub-block of the wrong size", "@O.(0:1,0:1)", 3, 3,
         "range specification inconsistent with operator result for object @O"},
        {"transposed output", "@O.'", 3, 3, "cannot write through a transposed output \"@O\""},
        {"range out of the object", "@O.(0:5,0:1)", 6, 2,
         "mx cut: out of range row index 0:1:5 for vector -- should be in range (0:2)"},
        {"malformed list", "{x", 2, 2, "unmatched open brace in list"},
        {"size too large", "y", 100000, 100000, "cannot make a matrix of 100000 x 100000"},
    };
    int count = Obj_Count(interp);
    for (const OutputErrorCase &c : cases) {
        SCOPED_TRACE(c.why);
        MxMatrix *m = Mx_create();
        EXPECT_EQ(Mx_setReal(interp, substitute(c.output, names).c_str(), c.rows, c.cols, m), 1);
        EXPECT_EQ(result(), substitute(c.message, names));
        EXPECT_EQ(m->real, nullptr);
        Mx_destroy(m);
        EXPECT_EQ(Obj_Count(interp), count);
        EXPECT_EQ(dumpObj(rec(o)), "{1 2 3} {4 5 6} {7 8 9}");
        Tcl_ResetResult(interp);
    }
    EXPECT_EQ(eval("list [info exists x] [info exists y]"), "0 0");
}

TEST_F(Pardel, output_sub_block_writes_into_the_object) {
    std::string o = make2D(3, 3);
    MxMatrix *m = Mx_create();
    ASSERT_EQ(Mx_setReal(interp, (o + ".(1:2,0:1)").c_str(), 2, 2, m), 0);
    EXPECT_EQ(result(), o);
    for (int i = 0; i < 2; i++)
        for (int j = 0; j < 2; j++) m->real[i][j] = 0;
    Mx_destroy(m);
    EXPECT_EQ(dumpObj(rec(o)), "{1 2 3} {0 0 6} {0 0 9}");
}

TEST_F(Pardel, output_named_by_a_1D_object_is_made_anew) {
    std::string v = make1D(4);
    MxMatrix *m = Mx_create();
    ASSERT_EQ(Mx_setReal(interp, v.c_str(), 1, 4, m), 0);
    std::string name = result();
    EXPECT_NE(name, v);
    EXPECT_NE(rec(v), nullptr); // left alone
    Mx_destroy(m);
}

TEST_F(Pardel, empty_result_binds_nothing) {
    MxMatrix *m = Mx_create();
    Tcl_SetResult(interp, (char *)"junk", TCL_STATIC);
    ASSERT_EQ(Mx_setReal(interp, "v", 0, 3, m), 0);
    EXPECT_EQ(result(), "");
    EXPECT_EQ(m->real, nullptr);
    EXPECT_EQ(eval("info exists v"), "0");
    Mx_destroy(m);
}

// ---- outputs that are also inputs -----------------------------------------

// A command that transposes its input into its output, reading the input
// while it writes the output, the way every routine does.
void transposeInto(MxMatrix *in, MxMatrix *out) {
    for (int i = 0; i < in->rows; i++)
        for (int j = 0; j < in->cols; j++) out->real[j][i] = in->real[i][j];
}

TEST_F(Pardel, transpose_onto_its_own_input_resizes_safely) {
    for (int outputFirst = 0; outputFirst < 2; outputFirst++) {
        SCOPED_TRACE(outputFirst ? "output destroyed first" : "input destroyed first");
        std::string a = make2D(2, 3);
        MxMatrix *in = Mx_create(), *out = Mx_create();
        ASSERT_EQ(Mx_getReal(interp, a.c_str(), in), 0);
        ASSERT_EQ(Mx_setReal(interp, a.c_str(), 3, 2, out), 0);
        EXPECT_EQ(result(), a);
        // The input still reads the object as it was.
        EXPECT_EQ(dump(in->real, in->rows, in->cols), "{1 2 3} {4 5 6}");
        transposeInto(in, out);
        if (outputFirst) {
            Mx_destroy(out);
            Mx_destroy(in);
        } else {
            Mx_destroy(in);
            Mx_destroy(out);
        }
        EXPECT_EQ(dumpObj(rec(a)), "{1 4} {2 5} {3 6}");
        EXPECT_EQ(result(), a);
    }
}

TEST_F(Pardel, square_product_into_an_input_reads_the_old_values) {
    std::string a = make2D(2, 2, {1, 2, 3, 4});
    std::string b = make2D(2, 2, {0, 1, 1, 0});
    MxMatrix *ma = Mx_create(), *mb = Mx_create(), *out = Mx_create();
    ASSERT_EQ(Mx_getReal(interp, a.c_str(), ma), 0);
    ASSERT_EQ(Mx_getReal(interp, b.c_str(), mb), 0);
    ASSERT_EQ(Mx_setReal(interp, a.c_str(), 2, 2, out), 0);
    EXPECT_EQ(out->real[1][1], 4); // the temporary starts with the object's values
    for (int i = 0; i < 2; i++)
        for (int j = 0; j < 2; j++) {
            float s = 0;
            for (int k = 0; k < 2; k++) s += ma->real[i][k] * mb->real[k][j];
            out->real[i][j] = s;
        }
    Mx_destroy(ma);
    Mx_destroy(mb);
    Mx_destroy(out);
    EXPECT_EQ(dumpObj(rec(a)), "{2 1} {4 3}");
}

TEST_F(Pardel, shifting_rows_within_one_object) {
    // Output row 1 from input row 0 of the same object: both through aliases.
    std::string a = make2D(2, 3);
    MxMatrix *in = Mx_create(), *out = Mx_create();
    ASSERT_EQ(Mx_getReal(interp, (a + ".(0:1,0:1)").c_str(), in), 0);
    ASSERT_EQ(Mx_setReal(interp, (a + ".(0:1,1:2)").c_str(), 2, 2, out), 0);
    for (int i = 0; i < 2; i++)
        for (int j = 0; j < 2; j++) out->real[i][j] = in->real[i][j] * 10;
    Mx_destroy(out);
    Mx_destroy(in);
    EXPECT_EQ(dumpObj(rec(a)), "{1 10 20} {4 40 50}");
}

TEST_F(Pardel, transposed_input_is_a_copy_so_output_is_in_place) {
    std::string a = make2D(2, 2, {1, 2, 3, 4});
    MxMatrix *in = Mx_create(), *out = Mx_create();
    ASSERT_EQ(Mx_getReal(interp, (a + ".'").c_str(), in), 0);
    ASSERT_EQ(Mx_setReal(interp, a.c_str(), 2, 2, out), 0);
    EXPECT_EQ(out->realStore, rec(a));
    Mx_destroy(in);
    Mx_destroy(out);
}

// ---- complex outputs ------------------------------------------------------

TEST_F(Pardel, complex_output_sets_both_variables_in_the_callers_scope) {
    EXPECT_EQ(eval("proc p {} {setc {re im} 1 2; list [info exists re] [info exists im] [info exists ::im]}; p"),
              "1 1 0");
    EXPECT_EQ(eval("setc {re im} 1 2; llength [list $re $im]"), "2");
    EXPECT_EQ(eval("setc {re im} 1 2"), eval("list $re $im"));
}

TEST_F(Pardel, complex_output_reuses_and_resizes_both_parts) {
    std::string re = make2D(1, 1), im = make2D(1, 1);
    ASSERT_EQ(Tcl_Eval(interp, ("setc {" + re + " " + im + "} 2 2").c_str()), TCL_OK);
    EXPECT_EQ(result(), re + " " + im);
    EXPECT_EQ(dumpObj(rec(re)), "{1 2} {3 4}");
    EXPECT_EQ(dumpObj(rec(im)), "{-1 -2} {-3 -4}");
}

TEST_F(Pardel, complex_output_errors) {
    std::string a = make2D(2, 2), b = make2D(3, 3);
    int count = Obj_Count(interp);
    struct {
        std::string script, message;
    } cases[] = {
        {"setc x 2 2", "output must be a 2 element object list (real and imaginary) but 1 `thing(s)' given x"},
        {"setc {" + a + " " + b + "} 2 2", "real and imaginary parts must have the same size for object " + a + " " + b},
        {"setc {" + a + " " + a + "} 2 2", "real and imaginary parts must be different objects for object " + a + " " + a},
        {"setc {" + a + " " + a + ".(0:0,0:0)} 2 2", "real and imaginary parts must be different objects for object " + a + " " + a + ".(0:0,0:0)"},
        {"setc {" + b + " z.(0:0,0:0)} 3 3", "range specification inconsistent with operator result for object " + b},
    };
    for (int i = 0; i < 5; i++) {
        SCOPED_TRACE(cases[i].script);
        EXPECT_EQ(Tcl_Eval(interp, cases[i].script.c_str()), TCL_ERROR);
        EXPECT_EQ(result(), cases[i].message);
        EXPECT_EQ(Obj_Count(interp), count);
    }
    // When the second part cannot be made, the first is left as it was,
    // although its size differs from the result's.
    std::string c = make2D(1, 1);
    count = Obj_Count(interp);
    EXPECT_EQ(Tcl_Eval(interp, ("array set arr {x 1}; setc {" + c + " arr} 2 2").c_str()), TCL_ERROR);
    EXPECT_EQ(result(), "can't set \"arr\": variable is array");
    EXPECT_EQ(rec(c)->count, 1);
    EXPECT_EQ(Obj_Count(interp), count);
}

// ---- storages -------------------------------------------------------------

TEST_F(Pardel, storages_free_by_kind) {
    EXPECT_EQ(Mx_freeTmpAlias(nullptr), 0);
    std::string a = make2D(2, 2);
    EXPECT_EQ(Mx_freeTmpAlias(rec(a)), MX_KIND_OBJ2D);
    ArrayRecord *t = Mx_allocTmp(3, 4);
    EXPECT_EQ(t->ndims, MX_KIND_TMP);
    EXPECT_EQ(t->rows[2], t->data + 8);
    int rows = 0, cols = 4;
    float **r = Mx_allocAlias(interp, &t, 1, 2, 1, 3, &rows, &cols);
    EXPECT_EQ(rows, 2);
    EXPECT_EQ(cols, 3);
    EXPECT_EQ(t->ndims, MX_KIND_ALIAS);
    EXPECT_EQ(r, t->rows);
    // The alias owns the temporary it replaced: one call frees both.
    EXPECT_EQ(Mx_freeTmpAlias(t), MX_KIND_ALIAS);
}

} // namespace
