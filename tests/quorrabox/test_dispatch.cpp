// TQuorraTool through IDispatch: name lookup, the call rules of Invoke and their error codes,
// and the INI reads with their own integer and Boolean rules.
#include "serverfixture.h"

namespace {

// ---- name lookup ----

struct NameCase {
    std::u16string name;
    DISPID id;
    HRESULT hr;
    friend void PrintTo(const NameCase& c, std::ostream* os) { *os << OleStrToString(c.name.data(), c.name.size()); }
};

class NameLookup : public ServerTest, public testing::WithParamInterface<NameCase> {};

TEST_P(NameLookup, FindsMembersInAnyCase) {
    std::u16string name = GetParam().name;
    LPOLESTR names[] = {name.data()};
    DISPID id = 77;
    EXPECT_EQ(NewTool()->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), GetParam().hr);
    EXPECT_EQ(id, GetParam().id);
}

INSTANTIATE_TEST_SUITE_P(Table, NameLookup,
                         testing::Values(NameCase{u"ReadIniString", 1, S_OK}, NameCase{u"readiniinteger", 2, S_OK},
                                         NameCase{u"READINIBOOL", 3, S_OK}, NameCase{u"iniClose", 4, S_OK},
                                         NameCase{u"IniFileName", 5, S_OK},
                                         NameCase{u"IniFile", -1, DISP_E_UNKNOWNNAME},
                                         NameCase{u"Read\u0100IniString", -1, DISP_E_UNKNOWNNAME},
                                         NameCase{u"", -1, DISP_E_UNKNOWNNAME}));

TEST_F(ServerTest, NamedArgumentNamesAreNotSupported) {
    std::u16string method = u"ReadIniString", arg = u"Section";
    LPOLESTR names[] = {method.data(), arg.data()};
    DISPID ids[2] = {0, 0};
    EXPECT_EQ(NewTool()->GetIDsOfNames(IID_NULL, names, 2, LOCALE_USER_DEFAULT, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], 1);
    EXPECT_EQ(ids[1], -1);
}

// ---- Invoke rules ----

enum class Named { None, Put, Other };

struct InvokeCase {
    const char* label;
    DISPID id;
    WORD flags;
    void (*args)(Args&);
    Named named;
    bool wantResult;
    HRESULT hr;
    UINT argErr; // 12345: not set
    friend void PrintTo(const InvokeCase& c, std::ostream* os) { *os << c.label; }
};

void NoArgs(Args&) {}
void ThreeStrings(Args& a) {
    a.Str("System").Str("Key").Str("def");
}
void TwoStrings(Args& a) {
    a.Str("System").Str("Key");
}
void OneString(Args& a) {
    a.Str("x");
}
void FirstMissing(Args& a) {
    a.Missing().Str("Key").I4(1);
}
void ThirdNotNumber(Args& a) {
    a.Str("System").Str("Key").Str("abc");
}
void SecondNull(Args& a) {
    a.Str("System").Null().I4(1);
}
void ThirdTooLarge(Args& a) {
    a.Str("System").Str("Key").R8(1e10);
}
void ThirdReal(Args& a) {
    a.Str("System").Str("Key").R8(6.5);
}

class InvokeRules : public ServerTest, public testing::WithParamInterface<InvokeCase> {};

TEST_P(InvokeRules, AnswersWithTheRightCode) {
    const InvokeCase& c = GetParam();
    IDispatch* tool = NewTool();
    ASSERT_EQ(Put(tool, IniFileName, dir.File("none.ini")).hr, S_OK);
    Args args;
    c.args(args);
    std::vector<DISPID> named;
    if (c.named != Named::None) named.push_back(c.named == Named::Put ? DISPID_PROPERTYPUT : 0);
    Call call = Invoke(tool, c.id, c.flags, args, c.wantResult, named);
    EXPECT_EQ(call.hr, c.hr) << HResultToString(call.hr);
    EXPECT_EQ(call.argErr, c.argErr);
}

constexpr WORD M = DISPATCH_METHOD, G = DISPATCH_PROPERTYGET, P = DISPATCH_PROPERTYPUT;

INSTANTIATE_TEST_SUITE_P(
    Table, InvokeRules,
    testing::Values(
        InvokeCase{"MethodWithGetFlag", ReadIniString, M | G, ThreeStrings, Named::None, true, S_OK, 12345},
        InvokeCase{"GetOfWriteOnlyProperty", IniFileName, G, NoArgs, Named::None, true, DISP_E_MEMBERNOTFOUND, 12345},
        InvokeCase{"MethodCalledAsPut", ReadIniString, P, ThreeStrings, Named::Put, false, DISP_E_MEMBERNOTFOUND,
                   12345},
        InvokeCase{"UnknownDispId", 99, M, NoArgs, Named::None, false, DISP_E_MEMBERNOTFOUND, 12345},
        InvokeCase{"ResultAskedOfMethodWithout", IniClose, M, NoArgs, Named::None, true, DISP_E_MEMBERNOTFOUND, 12345},
        InvokeCase{"ResultAskedOfPut", IniFileName, P, OneString, Named::Put, true, DISP_E_MEMBERNOTFOUND, 12345},
        InvokeCase{"PutByReference", IniFileName, DISPATCH_PROPERTYPUTREF, OneString, Named::Put, false, S_OK, 12345},
        InvokeCase{"NamedArgumentOnMethod", ReadIniString, M, ThreeStrings, Named::Other, true, DISP_E_NONAMEDARGS,
                   12345},
        InvokeCase{"PutWithoutNamedValue", IniFileName, P, OneString, Named::None, false, DISP_E_NONAMEDARGS, 12345},
        InvokeCase{"PutWithOtherName", IniFileName, P, OneString, Named::Other, false, DISP_E_NONAMEDARGS, 12345},
        InvokeCase{"TooFewArguments", ReadIniString, M, TwoStrings, Named::None, true, DISP_E_BADPARAMCOUNT, 12345},
        InvokeCase{"ArgumentsForNone", IniClose, M, OneString, Named::None, false, DISP_E_BADPARAMCOUNT, 12345},
        InvokeCase{"MissingArgument", ReadIniInteger, M, FirstMissing, Named::None, true, DISP_E_PARAMNOTOPTIONAL, 2},
        InvokeCase{"TextForInteger", ReadIniInteger, M, ThirdNotNumber, Named::None, true, DISP_E_TYPEMISMATCH, 0},
        InvokeCase{"NullForText", ReadIniBool, M, SecondNull, Named::None, true, DISP_E_TYPEMISMATCH, 1},
        InvokeCase{"IntegerOverflow", ReadIniInteger, M, ThirdTooLarge, Named::None, true, DISP_E_OVERFLOW, 0},
        InvokeCase{"RealForInteger", ReadIniInteger, M, ThirdReal, Named::None, true, S_OK, 12345}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(ServerTest, FailedConversionCallsNothing) {
    WriteFileText(dir.File("a.ini"), "[S]\nk=from a\n");
    IDispatch* tool = NewTool();
    ASSERT_EQ(Put(tool, IniFileName, dir.File("a.ini")).hr, S_OK);
    Args bad;
    bad.Null();
    EXPECT_EQ(Invoke(tool, IniFileName, P, bad, false, {DISPID_PROPERTYPUT}).hr, DISP_E_TYPEMISMATCH);
    Args read;
    read.Str("S").Str("k").Str("");
    EXPECT_EQ(Method(tool, ReadIniString, read).Text(), "from a"); // still bound to a.ini
}

// ---- reads ----

TEST_F(ServerTest, ReadsStringsWithDefaultsAndCaseFreeNames) {
    WriteFileText(dir.File("t.ini"), "[System]\nDBServer=dbhost\nEmpty=\nName=Gr\xC3\xBC\xC3\x9F"
                                     "e\n");
    IDispatch* tool = NewTool();
    ASSERT_EQ(Put(tool, IniFileName, dir.File("t.ini")).hr, S_OK);
    auto read = [&](const char* section, const char* key) {
        Args args;
        args.Str(section).Str(key).Str("dflt");
        return Method(tool, ReadIniString, args).Text();
    };
    EXPECT_EQ(read("system", "dbserver"), "dbhost");
    EXPECT_EQ(read("System", "Empty"), "");
    EXPECT_EQ(read("System", "Missing"), "dflt");
    EXPECT_EQ(read("Other", "DBServer"), "dflt");
    EXPECT_EQ(read("System", "Name"), "Gr\xC3\xBC\xC3\x9F"
                                      "e");
}

TEST_F(ServerTest, CutsLongValuesTo2047WholeCharacters) {
    std::string value;
    for (int i = 0; i < 2100; ++i)
        value += "\xC3\xBC";
    WriteFileText(dir.File("long.ini"), "[S]\nk=" + value + "\n");
    IDispatch* tool = NewTool();
    ASSERT_EQ(Put(tool, IniFileName, dir.File("long.ini")).hr, S_OK);
    Args args;
    args.Str("S").Str("k").Str("");
    EXPECT_EQ(Method(tool, ReadIniString, args).Text(), value.substr(0, 2047 * 2));
}

struct NumberCase {
    const char* value; // nullptr: key missing
    LONG def;
    LONG integer; // ReadIniInteger
    LONG boolean; // ReadIniBool
    friend void PrintTo(const NumberCase& c, std::ostream* os) {
        *os << (c.value ? c.value : "(missing)") << " default " << c.def;
    }
};

class NumberReads : public ServerTest, public testing::WithParamInterface<NumberCase> {};

TEST_P(NumberReads, FollowTheObjectsOwnRules) {
    const NumberCase& c = GetParam();
    WriteFileText(dir.File("n.ini"), c.value ? std::string("[S]\nk=") + c.value + "\n" : "[S]\n");
    IDispatch* tool = NewTool();
    ASSERT_EQ(Put(tool, IniFileName, dir.File("n.ini")).hr, S_OK);
    Args a1, a2;
    a1.Str("S").Str("k").I4(c.def);
    a2.Str("S").Str("k").I4(c.def);
    EXPECT_EQ(Method(tool, ReadIniInteger, a1).Int(), c.integer);
    EXPECT_EQ(Method(tool, ReadIniBool, a2).Int(), c.boolean);
}

INSTANTIATE_TEST_SUITE_P(Table, NumberReads,
                         testing::Values(NumberCase{"0x1F", 5, 31, 1}, NumberCase{"0X10", 5, 16, 1},
                                         NumberCase{"12abc", 5, 5, 1}, NumberCase{"yes", 7, 7, 1},
                                         NumberCase{"yes", 0, 0, 0}, NumberCase{"2", 0, 2, 1}, NumberCase{"0", 9, 0, 0},
                                         NumberCase{"-1", 0, -1, 1}, NumberCase{"0x", 4, 4, 1},
                                         NumberCase{"$10", 4, 4, 1}, NumberCase{"0xFFFFFFFF", 0, -1, 1},
                                         NumberCase{"0x100000000", 3, 3, 1}, NumberCase{"2147483648", 3, 3, 1},
                                         NumberCase{"-2147483648", 0, INT32_MIN, 1}, NumberCase{"", 6, 6, 1},
                                         NumberCase{nullptr, 0, 0, 0}));

TEST_F(ServerTest, TwoObjectsReadTwoFilesIndependently) {
    WriteFileText(dir.File("a.ini"), "[S]\nk=a\n");
    WriteFileText(dir.File("b.ini"), "[S]\nk=b\n");
    IDispatch* first = NewTool();
    IDispatch* second = NewTool();
    ASSERT_EQ(Put(first, IniFileName, dir.File("a.ini")).hr, S_OK);
    ASSERT_EQ(Put(second, IniFileName, dir.File("b.ini")).hr, S_OK);
    Args none;
    EXPECT_EQ(Invoke(first, IniClose, M, none, false).hr, S_OK);
    Args args;
    args.Str("S").Str("k").Str("");
    EXPECT_EQ(Method(second, ReadIniString, args).Text(), "b");
    EXPECT_EQ(Method(first, ReadIniString, args).hr, DISP_E_EXCEPTION);
}

TEST_F(ServerTest, NamesWithoutDirectoryLiveInTheSystemDirectory) {
    WriteFileText(dir.File("rel.ini"), "[S]\nk=found\n");
    ScopedEnv windir("VKT_WINDOWS_DIR", dir.Path());
    IDispatch* tool = NewTool();
    ASSERT_EQ(Put(tool, IniFileName, "rel.ini").hr, S_OK);
    Args args;
    args.Str("S").Str("k").Str("");
    EXPECT_EQ(Method(tool, ReadIniString, args).Text(), "found");
}

TEST_F(ServerTest, ReadsWithoutFileNameRaiseAnException) {
    WriteFileText(dir.File("a.ini"), "[S]\nk=a\n");
    IDispatch* tool = NewTool();
    Args args;
    args.Str("S").Str("k").Str("");
    Args none;
    auto expectNoFile = [&](Call call) {
        EXPECT_EQ(call.hr, DISP_E_EXCEPTION);
        EXPECT_EQ(BstrToString(call.info.bstrSource), "TQuorraTool");
        EXPECT_EQ(BstrToString(call.info.bstrDescription), "No INI file name set");
        EXPECT_EQ(call.info.scode, E_FAIL);
        EXPECT_EQ(call.info.wCode, 0);
        EXPECT_EQ(call.info.bstrHelpFile, nullptr);
    };
    expectNoFile(Method(tool, ReadIniString, args));
    expectNoFile(Invoke(tool, IniClose, M, none, false));
    ASSERT_EQ(Put(tool, IniFileName, dir.File("a.ini")).hr, S_OK);
    EXPECT_EQ(Method(tool, ReadIniString, args).Text(), "a");
    EXPECT_EQ(Invoke(tool, IniClose, M, none, false).hr, S_OK);
    expectNoFile(Method(tool, ReadIniString, args));
    expectNoFile(Invoke(tool, IniClose, M, none, false));
}

} // namespace
