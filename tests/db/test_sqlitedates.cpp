// The embedded database reads dates by one set of written forms in two places: the triggers that
// store them canonical (which the stock sqlite3 shell runs too) and vkt's own comparisons. They must
// accept and mean the same.
#include "db/dbsession.h"
#include "db/sqlitecollation.h"
#include "db/tablescripts.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

struct DateCase {
    std::string Text;
    std::string Stored; // empty: refused
};

TDbSession& Database() {
    static std::unique_ptr<TDbSession> session = [] {
        auto s = OpenSqliteSession(":memory:");
        CreateMissingTables(*s, TDbDialect::SQLite);
        return s;
    }();
    return *session;
}

std::string Canonical(const TSqlDate& d) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", d.Year, d.Month, d.Day, d.Hour, d.Minute,
                  d.Second);
    return text;
}

} // namespace

class DateForms : public ::testing::TestWithParam<DateCase> {};

TEST_P(DateForms, TriggerAndComparisonAgree) {
    const DateCase& c = GetParam();
    TDbSession& db = Database();
    db.Run("DELETE FROM alarms");
    std::string stored;
    try {
        db.Run("INSERT INTO alarms (Code, FailTime) VALUES ('a', '" + c.Text + "')");
        stored = db.Run("SELECT FailTime || '' AS raw FROM alarms").Rows.at(0).at(0).AsString();
    } catch (const EDatabaseError&) {
        stored.clear();
    }
    EXPECT_EQ(stored, c.Stored) << "trigger, for \"" << c.Text << "\"";
    TSqlDate parsed;
    const bool accepted = ParseSqlDate(c.Text, parsed);
    EXPECT_EQ(accepted, !c.Stored.empty()) << "comparison, for \"" << c.Text << "\"";
    if (accepted) {
        EXPECT_EQ(Canonical(parsed), c.Stored);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, DateForms,
    ::testing::Values(
        DateCase{"12/7/2026 09:05:03", "2026-12-07 09:05:03"}, DateCase{"1/2/2027", "2027-01-02 00:00:00"},
        DateCase{"01/02/2027 9:30", "2027-01-02 09:30:00"}, DateCase{"1/12/2027 10:00", "2027-01-12 10:00:00"},
        DateCase{"2026-12-07 09:05:03", "2026-12-07 09:05:03"}, DateCase{"2026-12-07T09:05", "2026-12-07 09:05:00"},
        DateCase{"2/29/2028 23:59:59", "2028-02-29 23:59:59"}, DateCase{"2/29/2027 00:00:00", ""},
        DateCase{"4/31/2026", ""}, DateCase{"13/1/2026", ""}, DateCase{"0/1/2026", ""},
        DateCase{"1/1/2026 24:00:00", ""}, DateCase{"1/1/2026 10:60", ""}, DateCase{"1/1/26", ""},
        DateCase{"2026-1-2", ""}, DateCase{" 1/1/2026", ""}, DateCase{"1/1/2026 ", ""}, DateCase{"1/1/2026  10:00", ""},
        DateCase{"1/1/2026 10:00:00.5", ""}, DateCase{"1/1/20261", ""}, DateCase{"yesterday", ""}, DateCase{"", ""}));

TEST(Collations, DatesCompareAsDatesAndTextAsOnSqlServer) {
    EXPECT_EQ(CompareDates("12/7/2026 09:05:03", "2026-12-07 09:05:03"), 0);
    EXPECT_LT(CompareDates("12/7/2026", "12/10/2026"), 0);
    EXPECT_LT(CompareDates("12/31/2026 23:59:59", "1/1/2027"), 0);
    EXPECT_LT(CompareDates("2026-12-07 09:05:03", "abc"), 0) << "dates sort before other text";
    EXPECT_EQ(CompareDates("abc  ", "abc"), 0);

    EXPECT_EQ(CompareNoCase("a1 ", "A1"), 0);
    EXPECT_LT(CompareNoCase("a1", "A1X"), 0);
    EXPECT_NE(CompareNoCase(" a1", "a1"), 0);
    EXPECT_LT(CompareNoCase("a", "a!"), 0);
    EXPECT_GT(CompareNoCase("Z", "a"), 0);
}
