// The scan cycle on an embedded database with the manual clock: what one scan logs and stores, when
// scans, notifications and purges become due, and how failing statements and re-entry are handled.
#include "scan_support.h"
#include "web/statusboard.h"

#include <fcntl.h>
#include <sys/stat.h>

using Lines = std::vector<std::string>;

TEST_F(ScanConsole, ScanLogsEveryProbeStoresRoundTripTimesAndAlarms) {
    TStatusBoard board;
    form.UseBoard(&board);
    AddSite({"A1  ", "127.0.0.1"});     // trailing blanks are trimmed everywhere
    AddSite({"O'B", "10.9.9.9", 15});   // an apostrophe in a code is only a character
    AddSite({"X9", "127.0.0.1"}, "D2"); // another daemon's site
    Exec("INSERT INTO alarms (Code, FailTime) VALUES ('A1MAILED', '" + FormatSQLDate(false, clock.Now()) + "')");
    TickAfter(0);
    EXPECT_EQ(Taken(),
              (Lines{"[MAINTAIN] Performing daily purge..", "[MAINTAIN] Check log file archive.",
                     "[MAINTAIN] Purge complete.", "[POLL] Polling A1 [127.0.0.1]", "[POLL] A1 Responding (7 ms)",
                     "[POLL] Polling O'B [10.9.9.9]", "[AWOL] Unable to contact O'B [10.9.9.9]"}));
    EXPECT_EQ(Count("SELECT LastRTT AS n FROM site WHERE code = 'A1'"), 7);
    TScanSummary summary;
    std::vector<TSiteStatus> sites;
    board.Snapshot(summary, sites);
    ASSERT_EQ(sites.size(), 2u);
    EXPECT_EQ(sites[0].Code + " " + std::to_string(sites[0].LastRttUs), "A1 7300") << "whole ms stored, micro kept";
    EXPECT_EQ(sites[1].Code + " " + sites[1].Cause, "O'B timed out");
    EXPECT_EQ(Alarms("A1MAILED"), 0);
    EXPECT_EQ(Alarms("O'B"), 1);
    EXPECT_EQ(form.barStatus, "");
    EXPECT_EQ(form.trayIcon.ToolTip(), "Sentrova VKT");
    EXPECT_TRUE(form.timMain.Enabled());

    Exec("UPDATE site SET IPaddr = '127.0.0.1' WHERE CODE = 'O''B'");
    TickAfter(5);
    EXPECT_EQ(Taken(), (Lines{"[POLL] Polling A1 [127.0.0.1]", "[POLL] A1 Responding (7 ms)",
                              "[POLL] Polling O'B [127.0.0.1]", "[POLL] O'B Responding (7 ms)"}));
    EXPECT_EQ(Alarms("O'B"), 0);
}

TEST_F(ScanConsole, DaemonIdIsReadAgainBeforeEveryScan) {
    AddSite({"A1", "127.0.0.1"});
    AddSite({"B2", "127.0.0.1"}, "D2");
    TickAfter(0);
    EXPECT_EQ(CountTaken("[POLL] Polling A1"), 1);
    WriteFileText(dir.File("vkt.ini"), "[System]\nVKTID=  D2 \n");
    TickAfter(5);
    EXPECT_EQ(Taken(), (Lines{"[POLL] Polling B2 [127.0.0.1]", "[POLL] B2 Responding (7 ms)"}));
    WriteFileText(dir.File("vkt.ini"), "[System]\n"); // empty: every row of VKT
    TickAfter(5);
    EXPECT_EQ(CountTaken("[POLL] Polling"), 2);
}

struct TimingCase {
    const char* name;
    double minutes;       // after the end of the first scan
    double wallJumpHours; // the wall clock set forward or back meanwhile
    bool force;
    bool scans;
};

class ScanTiming : public ScanConsole, public ::testing::WithParamInterface<TimingCase> {};

TEST_P(ScanTiming, NextScanStartsOncePollDelayMinutesPassedOnTheMonotonicClock) {
    const TimingCase& c = GetParam();
    AddSite({"A1", "127.0.0.1"});
    TickAfter(0);
    Taken();
    clock.SetNow(clock.Now() + c.wallJumpHours / 24);
    if (c.force) form.mnuForceClick();
    TickAfter(c.minutes);
    EXPECT_EQ(CountTaken("[POLL] Polling A1"), c.scans ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, ScanTiming,
                         ::testing::Values(TimingCase{"BeforePollDelay", 4.99, 0, false, false},
                                           TimingCase{"AtPollDelay", 5, 0, false, true},
                                           TimingCase{"WallClockSetBackAnHour", 5, -1, false, true},
                                           TimingCase{"WallClockSetForwardADay", 1, 24, false, false},
                                           TimingCase{"ForceScan", 0.02, 0, true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// A fleet's members begin their scans at the clock's poll intervals, whenever their last scan ended.
TEST_F(ScanConsole, AFleetMembersScansBeginAtTheClocksPollIntervals) {
    WriteIni("[Cluster]\nCopies=1\nNode=n1\n");
    AddSite({"A1", "127.0.0.1"});
    clock.SetNow(EncodeDateTime(2026, 12, 10, 10, 2, 30));
    std::vector<int> scans;
    for (double minutes : {0.0, 2.4, 0.2, 4.0, 1.0, 0.5})
        scans.push_back((TickAfter(minutes), CountTaken("[POLL] Polling A1")));
    // 10:02:30 (the first), 10:04:54, 10:05:06, 10:09:06, 10:10:06, 10:10:36
    EXPECT_EQ(scans, (std::vector<int>{1, 0, 1, 0, 1, 0}));
    // A scan begun at 10:15:06 runs past its interval, to 10:20:06: the next one follows at once.
    TickAfter(4.3);
    onProbe = [this] { clock.Advance(std::chrono::minutes(5)); };
    TickAfter(0.2);
    onProbe = nullptr;
    TickAfter(0.01);
    EXPECT_EQ(CountTaken("[POLL] Polling A1"), 2);
}

struct NotifyCase {
    const char* name;
    int downtime;
    int contactflag;
    std::vector<bool> notifiedAt; // scans every 5 minutes from 0 on
    long long markers;
};

class NotifyTiming : public ScanConsole, public ::testing::WithParamInterface<NotifyCase> {};

TEST_P(NotifyTiming, OutageIsNotifiedOnceItLastedItsDownTimeAndOnlyOnceWhenSomethingWasSent) {
    const NotifyCase& c = GetParam();
    // A mail contact without a mail server counts as done: the marker is stored.
    AddSite({"B2", "10.9.9.9", c.downtime, "ops@example.org", c.contactflag});
    for (std::size_t scan = 0; scan < c.notifiedAt.size(); ++scan) {
        TickAfter(scan == 0 ? 0 : 5);
        Lines lines = Taken();
        const bool notified = std::find(lines.begin(), lines.end(), "[MAIL] Notifying ...") != lines.end();
        EXPECT_EQ(notified, c.notifiedAt[scan]) << "scan at minute " << scan * 5;
        if (notified) {
            EXPECT_EQ(lines.back(), "[MAIL] Complete.");
        }
    }
    EXPECT_EQ(Alarms("B2MAILED"), c.markers);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NotifyTiming,
    ::testing::Values(NotifyCase{"DownTime15NoContactRetriesEveryScan", 15, 0, {false, false, false, true, true}, 0},
                      NotifyCase{"DownTime15MailOnce", 15, 2, {false, false, false, true, false}, 1},
                      NotifyCase{"DownTime0MailAtOnce", 0, 2, {true, false, false}, 1}),
    [](const auto& info) { return std::string(info.param.name); });

namespace {

void SetFileAge(const std::string& path, TDateTime when) {
    WriteFileText(path, "old\r\n");
    timespec times[2] = {{DateTimeToTimeT(when), 0}, {DateTimeToTimeT(when), 0}};
    utimensat(AT_FDCWD, path.c_str(), times, 0);
}

} // namespace

TEST_F(ScanConsole, DailyPurgeDeletesDayOldAlarmsAndLogFilesPastTheirAge) {
    const TDateTime now = clock.Now();
    for (const auto& [code, age] : {std::pair{"OLD", 1.001}, std::pair{"OLDMAILED", 2.0}, std::pair{"NEW", 0.99}})
        Exec("INSERT INTO alarms (Code, FailTime) VALUES ('" + std::string(code) + "', '" +
             FormatSQLDate(false, now - age) + "')");
    SetFileAge(dir.File("kept.log"), now - 10);               // exactly MaxLogFileAgeDays old
    SetFileAge(dir.File("gone.LOG"), now - 10 - 2.0 / 86400); // two seconds older
    SetFileAge(dir.File("other.txt"), now - 30);              // not a log file
    SetFileAge(dir.File("future.log"), now + 11);             // the age counts either way
    TickAfter(0);
    EXPECT_EQ(Taken(), (Lines{"[MAINTAIN] Performing daily purge..", "[MAINTAIN] Check log file archive.",
                              "[MAINTAIN] Deleteting future.log", "[MAINTAIN] Deleteting gone.LOG",
                              "[MAINTAIN] Purge complete."}));
    EXPECT_EQ(Alarms("OLD") + Alarms("OLDMAILED"), 0);
    EXPECT_EQ(Alarms("NEW"), 1);
    EXPECT_TRUE(std::filesystem::exists(dir.File("kept.log")));
    EXPECT_TRUE(std::filesystem::exists(dir.File("other.txt")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("gone.LOG")));
}

TEST_F(ScanConsole, DailyPurgeRunsBeforeTheFirstScanMoreThanADayAfterThePreviousOne) {
    dm.PollDelay = 0; // a scan at every tick
    TickAfter(0);
    EXPECT_EQ(CountTaken("[MAINTAIN] Performing"), 1);
    clock.SetNow(clock.Now() + 3); // a wall-clock jump alone does not make it due
    TickAfter(0.02);
    EXPECT_EQ(CountTaken("[MAINTAIN] Performing"), 0);
    TickAfter(24 * 60 - 0.02);
    EXPECT_EQ(CountTaken("[MAINTAIN] Performing"), 0) << "exactly one day later is not yet due";
    TickAfter(0.02);
    EXPECT_EQ(CountTaken("[MAINTAIN] Performing"), 1);
}

struct FaultCase {
    const char* name;
    const char* breaking;
    Lines expected; // in this order among the lines of the tick
};

class FailingStatement : public ScanConsole, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(FailingStatement, EndsOrSkipsItsStepWithOneLineAndTheTimerRunsOn) {
    AddSite({"A1", "127.0.0.1"});
    AddSite({"B2", "10.9.9.9"});
    Exec(GetParam().breaking);
    TickAfter(0);
    Lines lines = Taken();
    auto at = lines.begin();
    for (const std::string& prefix : GetParam().expected) {
        at = std::find_if(at, lines.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
        ASSERT_NE(at, lines.end()) << "no line starting with " << prefix << " in order";
        ++at;
    }
    EXPECT_TRUE(form.timMain.Enabled());
    EXPECT_FALSE(form.Scanning());
    EXPECT_EQ(form.barStatus, "");
}

INSTANTIATE_TEST_SUITE_P(Cases, FailingStatement,
                         ::testing::Values(FaultCase{"SiteList", "DROP TABLE VKT", {"[ERROR] Reading the site list: "}},
                                           FaultCase{"SiteRow",
                                                     "DROP TABLE site",
                                                     {"[ERROR] Reading site A1: ", "[ERROR] Reading site B2: "}},
                                           FaultCase{"Alarms",
                                                     "DROP TABLE alarms",
                                                     {"[MAINTAIN] Check log file archive.", "[ERROR] Daily purge: ",
                                                      "[[FAILURE]] Clearing active alarms: ", "[POLL] A1 Responding",
                                                      "[ERROR] Notifying A1: ", "[[FAILURE]] Posting alarm: ",
                                                      "[AWOL] Unable to contact B2", "[ERROR] Notifying B2: "}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ScanConsole, TickInsideARunningScanStartsNoSecondScanAndShutdownWaitsForTheEnd) {
    AddSite({"A1", "127.0.0.1"});
    AddSite({"B2", "127.0.0.1"});
    int inside = 0;
    onProbe = [&] {
        loop->Post([&] {
            if (inside++) return;
            form.timMain.SetEnabled(true); // as the Data Utilities window does when it closes
            form.timMainTimer();
            form.ShutDownModule1Click();
            EXPECT_EQ(terminated, 0) << "shutdown must wait for the running scan";
        });
    };
    TickAfter(0);
    EXPECT_EQ(CountTaken("[POLL] Polling"), 2);
    EXPECT_EQ(terminated, 1);
    EXPECT_FALSE(form.timMain.Enabled());
}
