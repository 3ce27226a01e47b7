// VariantChangeTypeEx conversions, BSTR text conversions and GUID text forms.
#include "quorrabox/com/comvariant.h"

#include <gtest/gtest.h>

namespace {

// A source variant described in a table row; BSTR sources own their string until the row dies.
struct Source {
    VARTYPE vt;
    LONG i = 0;
    double d = 0;
    const char* s = nullptr;
};

struct ChangeCase {
    const char* label;
    Source src;
    VARTYPE to;
    HRESULT hr;
    const char* text; // expected value as text (the BSTR, or the number in decimal)
    friend void PrintTo(const ChangeCase& c, std::ostream* os) { *os << c.label; }
};

VARIANT Make(const Source& src) {
    VARIANT v;
    VariantInit(&v);
    v.vt = src.vt;
    if (src.vt == VT_I4 || src.vt == VT_ERROR) v.lVal = src.i;
    if (src.vt == VT_I2) v.iVal = static_cast<SHORT>(src.i);
    if (src.vt == VT_BOOL) v.boolVal = src.i ? VARIANT_TRUE : VARIANT_FALSE;
    if (src.vt == VT_R8) v.dblVal = src.d;
    if (src.vt == VT_BSTR) v.bstrVal = StringToBstr(src.s);
    return v;
}

std::string AsText(const VARIANT& v) {
    switch (v.vt) {
    case VT_BSTR:
        return BstrToString(v.bstrVal);
    case VT_I4:
        return std::to_string(v.lVal);
    case VT_BOOL:
        return std::to_string(v.boolVal);
    case VT_R8:
        return std::to_string(v.dblVal);
    default:
        return "vt " + std::to_string(v.vt);
    }
}

class VariantChange : public testing::TestWithParam<ChangeCase> {};

TEST_P(VariantChange, ConvertsOrFails) {
    const ChangeCase& c = GetParam();
    VARIANT src = Make(c.src);
    VARIANT dest;
    VariantInit(&dest);
    dest.vt = VT_I4;
    dest.lVal = 777; // untouched on failure
    EXPECT_EQ(VariantChangeTypeEx(&dest, &src, LOCALE_SYSTEM_DEFAULT, 0, c.to), c.hr);
    if (SUCCEEDED(c.hr)) {
        EXPECT_EQ(dest.vt, c.to);
        EXPECT_EQ(AsText(dest), c.text);
    } else {
        EXPECT_EQ(dest.vt, VT_I4);
        EXPECT_EQ(dest.lVal, 777);
    }
    VariantClear(&src);
    VariantClear(&dest);
}

INSTANTIATE_TEST_SUITE_P(
    Table, VariantChange,
    testing::Values(ChangeCase{"TextToI4", {VT_BSTR, 0, 0, " 42 "}, VT_I4, S_OK, "42"},
                    ChangeCase{"FractionRoundsHalfToEvenDown", {VT_BSTR, 0, 0, "2.5"}, VT_I4, S_OK, "2"},
                    ChangeCase{"FractionRoundsHalfToEvenUp", {VT_BSTR, 0, 0, "-3.5"}, VT_I4, S_OK, "-4"},
                    ChangeCase{"ExponentText", {VT_BSTR, 0, 0, "1e3"}, VT_I4, S_OK, "1000"},
                    ChangeCase{"HexText", {VT_BSTR, 0, 0, "&H1F"}, VT_I4, S_OK, "31"},
                    ChangeCase{"HexTextFullPattern", {VT_BSTR, 0, 0, "&HFFFFFFFF"}, VT_I4, S_OK, "-1"},
                    ChangeCase{"WordIsNoNumber", {VT_BSTR, 0, 0, "12abc"}, VT_I4, DISP_E_TYPEMISMATCH, ""},
                    ChangeCase{"EmptyTextIsNoNumber", {VT_BSTR, 0, 0, ""}, VT_I4, DISP_E_TYPEMISMATCH, ""},
                    ChangeCase{"TextBeyondI4", {VT_BSTR, 0, 0, "2147483648"}, VT_I4, DISP_E_OVERFLOW, ""},
                    ChangeCase{"RealBeyondI4", {VT_R8, 0, 1e10}, VT_I4, DISP_E_OVERFLOW, ""},
                    ChangeCase{"RealToI4", {VT_R8, 0, 2.5}, VT_I4, S_OK, "2"},
                    ChangeCase{"BoolToI4", {VT_BOOL, 1}, VT_I4, S_OK, "-1"},
                    ChangeCase{"I2ToI4", {VT_I2, -7}, VT_I4, S_OK, "-7"},
                    ChangeCase{"EmptyToI4", {VT_EMPTY}, VT_I4, S_OK, "0"},
                    ChangeCase{"NullToI4", {VT_NULL}, VT_I4, DISP_E_TYPEMISMATCH, ""},
                    ChangeCase{"ErrorToText", {VT_ERROR, DISP_E_PARAMNOTFOUND}, VT_BSTR, DISP_E_TYPEMISMATCH, ""},
                    ChangeCase{"I4ToText", {VT_I4, -12}, VT_BSTR, S_OK, "-12"},
                    ChangeCase{"RealToText", {VT_R8, 0, 0.1}, VT_BSTR, S_OK, "0.1"},
                    ChangeCase{"LargeRealToText", {VT_R8, 0, 1e20}, VT_BSTR, S_OK, "1E+20"},
                    ChangeCase{"BoolToText", {VT_BOOL, 1}, VT_BSTR, S_OK, "-1"},
                    ChangeCase{"EmptyToText", {VT_EMPTY}, VT_BSTR, S_OK, ""},
                    ChangeCase{"NullToText", {VT_NULL}, VT_BSTR, DISP_E_TYPEMISMATCH, ""},
                    ChangeCase{"TextToBool", {VT_BSTR, 0, 0, "True"}, VT_BOOL, S_OK, "-1"},
                    ChangeCase{"YesIsNoBool", {VT_BSTR, 0, 0, "yes"}, VT_BOOL, DISP_E_TYPEMISMATCH, ""},
                    ChangeCase{"UnknownTarget", {VT_I4, 1}, 0x0FFF, DISP_E_BADVARTYPE, ""}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(VariantChangeRefs, FollowsByReferenceForms) {
    LONG number = 5;
    VARIANT inner = Make({VT_BSTR, 0, 0, "text"});
    VARIANT byRefI4{}, byRefVariant{}, dest{};
    byRefI4.vt = VT_BYREF | VT_I4;
    byRefI4.plVal = &number;
    byRefVariant.vt = VT_BYREF | VT_VARIANT;
    byRefVariant.pvarVal = &inner;
    ASSERT_EQ(VariantChangeTypeEx(&dest, &byRefI4, LOCALE_SYSTEM_DEFAULT, 0, VT_BSTR), S_OK);
    EXPECT_EQ(BstrToString(dest.bstrVal), "5");
    ASSERT_EQ(VariantChangeTypeEx(&dest, &byRefVariant, LOCALE_SYSTEM_DEFAULT, 0, VT_BSTR), S_OK);
    EXPECT_EQ(BstrToString(dest.bstrVal), "text");
    EXPECT_NE(dest.bstrVal, inner.bstrVal); // a copy: the caller's variable stays the caller's
    VariantClear(&dest);
    VariantClear(&inner);
}

TEST(VariantChangeRefs, ConvertsInPlace) {
    VARIANT v = Make({VT_BSTR, 0, 0, "17"});
    ASSERT_EQ(VariantChangeTypeEx(&v, &v, LOCALE_SYSTEM_DEFAULT, 0, VT_I4), S_OK);
    EXPECT_EQ(v.vt, VT_I4);
    EXPECT_EQ(v.lVal, 17);
}

TEST(Bstr, KeepsLengthAndEmbeddedZeros) {
    const OLECHAR text[] = {u'a', 0, u'b'};
    BSTR b = SysAllocStringLen(text, 3);
    EXPECT_EQ(SysStringLen(b), 3u);
    EXPECT_EQ(b[3], 0);
    EXPECT_EQ(BstrToString(b), std::string("a\0b", 3));
    SysFreeString(b);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(BstrToString(nullptr), "");
}

TEST(Bstr, ConvertsBetweenUtf8AndUtf16) {
    const std::string text = "Gr\xC3\xBC\xC3\x9F"
                             "e \xF0\x9F\x98\x80"; // "Grüße 😀"
    BSTR b = StringToBstr(text);
    EXPECT_EQ(SysStringLen(b), 8u); // the emoji takes a surrogate pair
    EXPECT_EQ(BstrToString(b), text);
    SysFreeString(b);
    EXPECT_EQ(StringToOleStr("caf\xE9"), u"caf\u00E9"); // not UTF-8: the byte is Latin-1
    const OLECHAR lone[] = {u'x', 0xD800, u'y'};
    EXPECT_EQ(OleStrToString(lone, 3), "x\xEF\xBF\xBDy");
}

TEST(Guid, FormatsAndParsesTheRegistryForm) {
    const GUID clsid = {0xC869E000, 0x8E64, 0x11D0, {0xAE, 0xF9, 0x08, 0x00, 0x00, 0x00, 0x21, 0x49}};
    EXPECT_EQ(GuidToString(clsid), "{C869E000-8E64-11D0-AEF9-080000002149}");
    GUID parsed{};
    ASSERT_TRUE(StringToGuid("{c869e000-8e64-11d0-aef9-080000002149}", parsed));
    EXPECT_TRUE(IsEqualGUID(parsed, clsid));
    for (const char* bad : {"C869E000-8E64-11D0-AEF9-080000002149", "{C869E000-8E64-11D0-AEF9-08000000214}",
                            "{C869E000-8E64-11D0-AEF9+080000002149}", "{C869E000-8E64-11D0-AEF9-08000000214G}"})
        EXPECT_FALSE(StringToGuid(bad, parsed)) << bad;
}

TEST(HResult, NamesKnownCodesWithTheirWindowsValues) {
    EXPECT_EQ(HResultToString(DISP_E_UNKNOWNNAME), "DISP_E_UNKNOWNNAME (0x80020006)");
    EXPECT_EQ(HResultToString(CLASS_E_NOAGGREGATION), "CLASS_E_NOAGGREGATION (0x80040110)");
    EXPECT_EQ(HResultToString(MakeHResult(0x80001234)), "0x80001234");
}

} // namespace
