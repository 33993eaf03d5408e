#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "autocall.h"
#include "workbook.h"

namespace {

// Records what a member call received.
struct Recorder : IDispatch {
    int refs = 1;
    int calls = 0;
    uint16_t flags = 0;
    std::vector<VARIANT> args;
    unsigned named = 0;
    HRESULT QueryInterface(const GUID &, void **out) override {
        *out = this;
        return S_OK;
    }
    uint32_t AddRef() override { return ++refs; }
    uint32_t Release() override { return --refs; }
    HRESULT GetTypeInfo(unsigned, LCID, ITypeInfo **) override { return E_FAIL; }
    HRESULT GetIDsOfNames(const GUID &, const OLECHAR **names, unsigned, LCID, DISPID *ids) override {
        if (Auto_FromWide(names[0]) != "Member") return DISP_E_UNKNOWNNAME;
        ids[0] = 7;
        return S_OK;
    }
    HRESULT Invoke(DISPID, const GUID &, LCID, uint16_t f, DISPPARAMS *p, VARIANT *, EXCEPINFO *,
                   unsigned *) override {
        calls++;
        flags = f;
        named = p->cNamedArgs;
        args.assign(p->rgvarg, p->rgvarg + p->cArgs);
        for (VARIANT &v : args)
            if (v.vt == VT_BSTR) v.bstrVal = nullptr;  // freed by the caller after the call
        return S_OK;
    }
};

TEST(Invoke, lays_arguments_out_last_first_by_format) {
    Recorder r;
    ASSERT_EQ(S_OK, Invoke(&r, DISPATCH_METHOD, nullptr, nullptr, nullptr, u"Member", "Is", 7, u"text"));
    ASSERT_EQ(2u, r.args.size());
    EXPECT_EQ(VT_BSTR, r.args[0].vt);
    EXPECT_EQ(VT_I4, r.args[1].vt);
    EXPECT_EQ(7, r.args[1].lVal);

    struct {
        const char *format;
        int value;
        size_t count;
        VARTYPE vt;
        int16_t boolVal;
    } cases[] = {
        {"b", 5, 1, VT_BOOL, -1},   // non-zero becomes true
        {"b", 0, 1, VT_BOOL, 0},
        {"I&", 3, 1, VT_I4, 0},     // a trailing "&" is no argument
        {"Ix", 3, 1, VT_I4, 0},     // nor is a character outside the table
        {"i", 70000, 1, VT_I2, 0},  // low 16 bits
    };
    for (auto &c : cases) {
        Recorder rec;
        ASSERT_EQ(S_OK, Invoke(&rec, DISPATCH_METHOD, nullptr, nullptr, nullptr, u"Member", c.format, c.value))
            << c.format;
        ASSERT_EQ(c.count, rec.args.size()) << c.format;
        EXPECT_EQ(c.vt, rec.args[0].vt) << c.format;
        if (c.vt == VT_BOOL) {
            EXPECT_EQ(c.boolVal, rec.args[0].boolVal);
        }
        if (c.vt == VT_I2) {
            EXPECT_EQ(static_cast<int16_t>(70000), rec.args[0].iVal);
        }
    }
}

TEST(Invoke, refuses_what_cannot_be_called) {
    Recorder r;
    EXPECT_EQ(E_INVALIDARG, Invoke(nullptr, DISPATCH_METHOD, nullptr, nullptr, nullptr, u"Member", nullptr));
    // A put needs a value: refused after the name lookup, before the call.
    EXPECT_EQ(E_INVALIDARG, Invoke(&r, DISPATCH_PROPERTYPUT, nullptr, nullptr, nullptr, u"Member", nullptr));
    EXPECT_EQ(DISP_E_UNKNOWNNAME, Invoke(&r, DISPATCH_METHOD, nullptr, nullptr, nullptr, u"Other", nullptr));
    EXPECT_EQ(0, r.calls);
    ASSERT_EQ(S_OK, Invoke(&r, DISPATCH_PROPERTYPUT, nullptr, nullptr, nullptr, u"Member", "R", 2.5));
    EXPECT_EQ(1u, r.named);
    int32_t flag = 9;
    ASSERT_EQ(S_OK, Invoke(&r, DISPATCH_METHOD, nullptr, nullptr, nullptr, u"Member", "&b", &flag));
    EXPECT_EQ(0, flag);  // cleared before the call
    EXPECT_EQ(VT_BYREF | VT_BOOL, r.args[0].vt);
}

TEST(Format, counts_and_reads_letters) {
    int count = -1;
    EXPECT_EQ(E_INVALIDARG, CountArgsInFormat("Ix", &count));
    EXPECT_EQ(1, count);
    EXPECT_EQ(0, CountArgsInFormat("bcdeiIrRsvDU", &count));
    EXPECT_EQ(12, count);
    VARTYPE vt;
    EXPECT_EQ(nullptr, GetNextVarType("&", &vt));
    EXPECT_EQ(VT_BYREF, vt);
    const char *f = "&R";
    EXPECT_EQ(f + 2, GetNextVarType(f, &vt));
    EXPECT_EQ(VT_BYREF | VT_R8, vt);
}

TEST(Messages, stay_within_the_buffer) {
    char buf[kMsgSize];
    memset(buf, 'x', kMsgSize - 1);
    buf[kMsgSize - 1] = 0;
    SetLastError(2);
    AppendLastErrorText(buf);
    EXPECT_EQ(size_t(kMsgSize - 1), strlen(buf));
    buf[0] = 0;
    AppendLastErrorText(buf);
    EXPECT_EQ(std::string("(") + strerror(2) + "\n), ", buf);
}

TEST(CellText, prints_numbers_as_the_tables_show_them) {
    struct {
        double v;
        const char *text;
    } cases[] = {{3.14, "3.14"}, {3, "3.00"},  {0, ".00"},       {-2, "-2.00"}, {0.5, ".5"},
                 {0.05, ".05"},  {-0.25, "-.25"}, {100, "100.00"}, {12.5, "12.5"}, {1e60, "1.0000000000e+60"}};
    for (auto &c : cases) {
        char text[kTextSize];
        DoubleToCellText(text, c.v);
        EXPECT_STREQ(c.text, text) << c.v;
    }
}

TEST(CellText, reads_the_leading_number_in_the_c_locale) {
    struct {
        const char *text;
        double v;
    } cases[] = {{"12abc", 12}, {"abc", 0}, {" -3.5e1x", -35}, {"+.5", 0.5}, {"1,5", 1}};
    for (auto &c : cases) EXPECT_DOUBLE_EQ(c.v, Wb_LeadingNumber(c.text)) << c.text;
}

}  // namespace

namespace {

TEST(CreateObject, makes_the_application_by_its_name_and_nothing_else) {
    IDispatch *d = reinterpret_cast<IDispatch *>(1);
    EXPECT_EQ(CO_E_CLASSSTRING, CreateObject(u"No.Such.Thing", &d));
    EXPECT_EQ(nullptr, d);
    ASSERT_EQ(0, CreateObject(u"Workbook.Application", &d));
    VARIANT v;
    ASSERT_EQ(S_OK, Invoke(d, DISPATCH_PROPERTYPUT, nullptr, nullptr, nullptr, u"Visible", "b", 1));
    ASSERT_EQ(S_OK, Invoke(d, DISPATCH_PROPERTYGET, &v, nullptr, nullptr, u"Visible", nullptr));
    EXPECT_EQ(VT_BOOL, v.vt);
    EXPECT_EQ(-1, v.boolVal);
    EXCEPINFO ex = {};
    EXPECT_EQ(DISP_E_UNKNOWNNAME, Invoke(d, DISPATCH_METHOD, nullptr, &ex, nullptr, u"NoSuchMember", nullptr));
    cleanROT();  // nothing runs: the walk ends at once and holds nothing
    d->Release();
    EXPECT_EQ(0, Auto_LiveObjects());
}

}  // namespace
