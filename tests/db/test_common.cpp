// Conversion and text helpers; settings read by the data module.
#include "db/common.h"
#include "db/data.h"
#include "platform/datetime.h"
#include "platform/errors.h"
#include "platform/strutil.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>

namespace {
constexpr double Second = 1.0 / 86400;
}

TEST(DateDiff, TruncatesTowardZeroInEachUnit) {
    TDateTime t0 = EncodeDateTime(2026, 12, 7, 10, 0, 0);
    EXPECT_EQ(DateDiff('n', t0, t0 + 59.9 * Second), 0);
    EXPECT_EQ(DateDiff('n', t0, t0 - 90 * Second), -1);
    EXPECT_EQ(DateDiff('n', t0, t0 + 300 * Second), 5);
    EXPECT_EQ(DateDiff('s', t0, t0 + 1.0), 86400);
    EXPECT_EQ(DateDiff('h', t0, t0 + 0.5), 12);
    EXPECT_EQ(DateDiff('d', t0, t0 + 2.9), 2);
    EXPECT_EQ(DateDiff('N', t0, t0 + 1.0), 0) << "unit letters are lower case only";
    EXPECT_EQ(DateDiff("nn", t0, t0 + 1.0), 0);
}

TEST(DateDiff, FromTheEpochIsFarAboveAnyPollInterval) {
    long long minutes = DateDiff('n', 0, EncodeDateTime(2026, 12, 7, 10, 0, 0));
    EXPECT_GT(minutes, 66000000);
    EXPECT_LT(minutes, 67000000);
}

TEST(FormatSQLDate, WritesMonthFirstWithoutLeadingZeros) {
    EXPECT_EQ(FormatSQLDate(false, EncodeDateTime(2026, 12, 7, 9, 5, 3)), "12/7/2026 09:05:03");
    EXPECT_EQ(FormatSQLDate(false, EncodeDate(2027, 1, 1)), "1/1/2027 00:00:00");
    EXPECT_EQ(FormatSQLDate(true, EncodeDateTime(2026, 12, 7, 9, 5, 3)), "12/7/2026 09:05:00");
}

struct SplitCase {
    std::string text;
    TStringList fields;
};

class SplitTabsCases : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitTabsCases, SplitsFields) {
    TStringList list{"stale"};
    SplitTabs(GetParam().text, list);
    EXPECT_EQ(list, GetParam().fields);
}

INSTANTIATE_TEST_SUITE_P(Texts, SplitTabsCases,
                         ::testing::Values(SplitCase{"", {}}, SplitCase{"a", {"a"}}, SplitCase{"a\tb", {"a", "b"}},
                                           SplitCase{"a\t\tb", {"a", "", "b"}}, SplitCase{"\ta", {"", "a"}},
                                           SplitCase{"a\t", {"a"}}, SplitCase{"a\t\t", {"a", "", ""}},
                                           SplitCase{"\t", {"", ""}}, SplitCase{"a\t\t\tb", {"a", "", "", "b"}}));

TEST(TextHelpers, StripQuotesAndLookupParallel) {
    EXPECT_EQ(StripQuotes("it's 'quoted'"), "its quoted");
    TStringList names{"VKTID", "DBServer", "vktid"}, values{"a", "b"};
    EXPECT_EQ(LookupParallel("DBServer", names, values), "b");
    EXPECT_EQ(LookupParallel("vktid", names, values), "") << "values list is shorter";
    EXPECT_EQ(LookupParallel("dbserver", names, values), "") << "names compare case-sensitively";
}

TEST(TextHelpers, VersionTextJoinsTheSecondAndThirdNumbers) {
    EXPECT_EQ(VersionTextOf("1.1.2.17"), "1.12");
    EXPECT_EQ(VersionTextOf("2.0"), "2.0");
    EXPECT_EQ(VersionTextOf(""), "");
    EXPECT_EQ(GetVersionText(), "1.12");
}

TEST(TextHelpers, FieldValueConversions) {
    EXPECT_EQ(VarToStrTrim(Variant("  site1 \t")), "site1");
    EXPECT_EQ(VarToStrTrim(Variant::Null()), "");
    EXPECT_EQ(VarToIntDef(Variant::Null()), 0);
    EXPECT_EQ(VarToIntDef(Variant("12")), 12);
    EXPECT_DOUBLE_EQ(VarToFloatDef(Variant(2.5)), 2.5);
    EXPECT_THROW(VarToIntDef(Variant("x")), EConvertError);
}

TEST(DataModule, ReadsSettingsWithDefaultsAndAnySpelling) {
    TempDir dir;
    ScopedEnv home("VKT_HOME", dir.Path());
    WriteFileText(dir.File("vkt.ini"), "[system]\r\ndbuser=op\r\nDBPass=\r\nPollDelay=0x0A\r\nNetPort=abc\r\n"
                                       "VKTID=  north \t\r\n");
    TVKTDataModule dm;
    dm.DataModuleCreate();
    EXPECT_EQ(dm.DBUser, "op");
    EXPECT_EQ(dm.DBPass, "");
    EXPECT_EQ(dm.PollDelay, 10);
    EXPECT_EQ(dm.NetPort, 8000);
    EXPECT_EQ(dm.VKTID, "north");
    EXPECT_EQ(dm.DataBase, "Duskwater");
    EXPECT_EQ(dm.DBProvider, "SQLOLEDB.1");
    EXPECT_EQ(dm.MaxLogFileAgeDays, 10);
    EXPECT_FALSE(dm.DBServer.empty()) << "defaults to the computer name";
    EXPECT_EQ(dm.ConnectionString(true), "Provider=SQLOLEDB.1;Persist Security Info=True;User ID=op;Password=****;"
                                         "Initial Catalog=Duskwater;Data Source=" +
                                             dm.DBServer);
}

// The desktop face's toolkit adopts the user's locale before the data module is created.
TEST(DataModule, NumbersKeepTheDecimalPointUnderACommaLocale) {
    TempDir dir;
    ScopedEnv home("VKT_HOME", dir.Path()), locpath("LOCPATH", dir.Path());
    const std::string make = "localedef -i de_DE -f UTF-8 " + dir.File("de_DE.UTF-8") + " >/dev/null 2>&1";
    if (std::system(make.c_str()) != 0 || !std::setlocale(LC_NUMERIC, "de_DE.UTF-8"))
        GTEST_SKIP() << "no de_DE locale can be made here";
    ASSERT_EQ(Format("%.1f", 2.5), "2,5");
    TVKTDataModule dm;
    dm.DataModuleCreate();
    EXPECT_EQ(Variant(2.5).AsString(), "2.5");
    EXPECT_EQ(Variant(std::string("2.5")).AsFloat(), 2.5);
    std::setlocale(LC_NUMERIC, "C");
}

TEST(DataModule, BackupDirDefaultsToTheProgramDirectory) {
    TempDir dir;
    ScopedEnv home("VKT_HOME", dir.Path());
    EXPECT_EQ(ReadBackupDir(), dir.Path() + "/");
    WriteFileText(dir.File("dwater.ini"), "[System]\nBackUpDir= /srv/backup/ \n");
    EXPECT_EQ(ReadBackupDir(), "/srv/backup/");
}
