// The rows of table alarms on an embedded database: what each write leaves, and what the outage
// read and the due check make of it, for site S1 with a down time of 15 minutes, read site by site and
// gathered with other sites, and which of those others have rows.
#include "db/alarmrows.h"
#include "db/common.h"
#include "db/data.h"
#include "platform/strutil.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace {

const TDateTime kNow = EncodeDateTime(2026, 3, 4, 12, 0, 0);

const double kSecond = 1.0 / 86400;

TDateTime Ago(double minutes) {
    return kNow - minutes / (24 * 60);
}

struct RowsCase {
    const char* Name;
    std::function<void(AlarmRows&, TVKTDataModule&)> Act;
    std::vector<std::string> Left; // the codes of the rows left, sorted
    bool Notified;
    bool Due;
    int SinceMinutes; // the earliest alarm row, minutes before now; -1: none
};

const RowsCase kCases[] = {
    {"PostOpensAnOutage", [](AlarmRows& r, TVKTDataModule&) { r.Post("S1", Ago(20)); }, {"S1"}, false, true, 20},
    {"EarliestAlarmStartsTheOutageDueAtTheDownTime",
     [](AlarmRows& r, TVKTDataModule&) {
         r.Post("S1", Ago(5));
         r.Post("S1", Ago(15));
     },
     {"S1", "S1"},
     false,
     true,
     15},
    {"YoungerThanTheDownTimeNotDue",
     [](AlarmRows& r, TVKTDataModule&) { r.Post("S1", Ago(14)); },
     {"S1"},
     false,
     false,
     14},
    {"DownTimeZeroDueAtOnce",
     [](AlarmRows& r, TVKTDataModule& dm) {
         ExecStatement(dm.adoQ1, {"UPDATE site SET Downtime = 0"});
         r.Post("S1", kNow);
     },
     {"S1"},
     false,
     true,
     0},
    {"NoSiteRowNeverDue",
     [](AlarmRows& r, TVKTDataModule& dm) {
         ExecStatement(dm.adoQ1, {"DELETE FROM site"});
         r.Post("S1", Ago(20));
     },
     {"S1"},
     false,
     false,
     20},
    {"MarkerSaysNotified",
     [](AlarmRows& r, TVKTDataModule&) {
         r.Post("S1", Ago(20));
         r.StoreMarker("S1", Ago(1));
         EXPECT_NEAR(r.Marker("S1").value_or(0), Ago(1), kSecond);
     },
     {"S1", "S1MAILED"},
     true,
     false,
     20},
    {"ClearTakesThatCodesAlarmsAndMarkerWhateverTheCase",
     [](AlarmRows& r, TVKTDataModule&) {
         r.Post("S1", Ago(20));
         r.StoreMarker("S1", Ago(1));
         r.Post("S2", Ago(20));
         r.Clear("s1");
     },
     {"S2"},
     false,
     false,
     -1},
    {"GatheredClear",
     [](AlarmRows& r, TVKTDataModule&) {
         for (const char* code : {"S1", "S2", "S3"})
             r.Post(code, Ago(20));
         r.StoreMarker("S2", Ago(1));
         r.Clear(std::vector<std::string>{"S1", "s2"});
     },
     {"S3"},
     false,
     false,
     -1},
    {"GatheredPostAllOrNone",
     [](AlarmRows& r, TVKTDataModule&) {
         r.Post("S2", Ago(20));
         EXPECT_ANY_THROW(r.Post(std::vector<std::string>{"S1", "S2"}, Ago(20))); // S2 collides: S1 is not posted
         EXPECT_FALSE(r.OutageStart("S1").has_value());
         r.Post(std::vector<std::string>{"S1", "S3"}, Ago(20));
     },
     {"S1", "S2", "S3"},
     false,
     true,
     20},
    {"PostIfAbsentOncePerWindow",
     [](AlarmRows& r, TVKTDataModule&) {
         r.PostIfAbsent("S1", Ago(3), Ago(5), TDbDialect::SQLite);
         r.PostIfAbsent("S1", Ago(2), Ago(5), TDbDialect::SQLite); // posted already in this window
         EXPECT_TRUE(r.PostedSince("S1", Ago(5)));
         EXPECT_FALSE(r.PostedSince("S1", Ago(2.5)));
         r.PostIfAbsent("S1", Ago(1), Ago(2.5), TDbDialect::SQLite);
     },
     {"S1", "S1"},
     false,
     false,
     3},
    {"StoreMarkerIfAbsentOnce",
     [](AlarmRows& r, TVKTDataModule&) {
         r.StoreMarkerIfAbsent("S1", Ago(2), TDbDialect::SQLite);
         r.StoreMarkerIfAbsent("S1", Ago(1), TDbDialect::SQLite);
         EXPECT_NEAR(r.Marker("S1").value_or(0), Ago(2), kSecond);
     },
     {"S1MAILED"},
     true,
     false,
     -1},
    {"PurgeTakesRowsOlderThanADay",
     [](AlarmRows& r, TVKTDataModule&) {
         r.Post("S1", Ago(2 * 24 * 60));
         r.StoreMarker("S1", Ago(2 * 24 * 60));
         r.Post("S1", Ago(60));
         r.PurgeDayOld(TDbDialect::SQLite, kNow);
     },
     {"S1"},
     false,
     true,
     60},
};

void PrintTo(const RowsCase& c, std::ostream* os) {
    *os << c.Name;
}

class AlarmRowsOf : public ::testing::TestWithParam<RowsCase> {
protected:
    void SetUp() override {
        dm.DBProvider = "SQLite";
        dm.DataBase = dir.File("vkt.db");
        ASSERT_TRUE(dm.ActivateConnection()) << dm.LastConnectionError();
        ExecStatement(dm.adoQ1, {"INSERT INTO site (CODE, IPaddr, Downtime) VALUES ('S1', '127.0.0.1', 15)"});
    }
    std::vector<std::string> Left() {
        std::vector<std::string> codes;
        OpenStatement(dm.adoQ1, {"SELECT Code FROM alarms"});
        for (; !dm.adoQ1.Eof(); dm.adoQ1.Next())
            codes.push_back(VarToStrTrim(dm.adoQ1.FieldByName("Code")));
        std::sort(codes.begin(), codes.end());
        return codes;
    }

    TempDir dir;
    ScopedEnv home{"VKT_HOME", dir.Path()};
    TVKTDataModule dm;
};

} // namespace

TEST_P(AlarmRowsOf, LeaveRowsTheOutageReadAndDueCheckAgreeWith) {
    const RowsCase& c = GetParam();
    AlarmRows rows(dm);
    c.Act(rows, dm);
    EXPECT_EQ(Left(), c.Left);
    const NoticeDue due = rows.ProblemDue("S1", kNow);
    EXPECT_EQ(due.Notified, c.Notified);
    EXPECT_EQ(due.Due, c.Due);
    EXPECT_EQ(rows.OutageStart("S1").has_value(), c.SinceMinutes >= 0);
    if (c.SinceMinutes >= 0 && !c.Notified) {
        EXPECT_NEAR(due.Since, Ago(c.SinceMinutes), kSecond);
    }
    const auto gathered = rows.OutagesOf({"S1", "S4"});
    ASSERT_TRUE(gathered.has_value());
    const NoticeDue read = AlarmRows::Decide(gathered->at("S1"), kNow);
    EXPECT_EQ(read.Notified, due.Notified);
    EXPECT_EQ(read.Due, due.Due);
    EXPECT_EQ(read.Since, due.Since);
    // Read with other sites' codes: which of them have rows.
    const std::vector<std::string> others{"s2", "S3"};
    const auto withOthers = rows.RowsOf({"S1"}, others);
    ASSERT_TRUE(withOthers.has_value());
    EXPECT_EQ(withOthers->Outages.at("S1").Start, gathered->at("S1").Start);
    for (const std::string& other : others) {
        const bool hasRows = std::any_of(c.Left.begin(), c.Left.end(), [&](const std::string& code) {
            return SiteCodeKey(code) == SiteCodeKey(other) ||
                   SiteCodeKey(code) == SiteCodeKey(AlarmRows::MarkerCode(other));
        });
        EXPECT_EQ(withOthers->WithRows.count(other) != 0, hasRows) << other;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, AlarmRowsOf, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<RowsCase>& info) { return info.param.Name; });
