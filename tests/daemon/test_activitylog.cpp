// The activity log: line format, daily files, pane trimming and a failing file.
#include "daemon/activitylog.h"
#include "daemon/tmemo.h"
#include "platform/datetime.h"
#include "testutil.h"

#include <gtest/gtest.h>

class ActivityLog : public ::testing::Test {
protected:
    void SetUp() override {
        SetClock(&clock);
        SetLogPane(&pane);
    }
    void TearDown() override {
        SetLogPane(nullptr);
        SetClock(nullptr);
    }
    TempDir dir;
    ScopedCwd cwd{dir.Path()};
    ManualClock clock{EncodeDateTime(2026, 12, 7, 23, 59, 58)};
    TMemo pane;
};

TEST_F(ActivityLog, LineHasPaddedColumnsAndTrailingBlank) {
    EXPECT_EQ(FormatLogLine(EncodeDateTime(2026, 12, 7, 9, 5, 3), "POLL", "Polling A [1.2.3.4]"),
              "2026-12-07 09:05:03   [POLL]     Polling A [1.2.3.4] ");
    EXPECT_EQ(FormatLogLine(EncodeDateTime(2026, 12, 7, 9, 5, 3), "[FAILURE]", "Posting alarm: A"),
              "2026-12-07 09:05:03   [[FAILURE]] Posting alarm: A ");
}

TEST_F(ActivityLog, FirstLineAfterMidnightStartsTheNextDaysFile) {
    WriteLog("SYSINIT", "before");
    clock.Advance(std::chrono::seconds(3));
    WriteLog("SYSINIT", "after");
    EXPECT_EQ(ReadFileText("2026-12-07.log"), "2026-12-07 23:59:58   [SYSINIT]  before \r\n");
    EXPECT_EQ(ReadFileText("2026-12-08.log"), "2026-12-08 00:00:01   [SYSINIT]  after \r\n");
    EXPECT_EQ(pane.LineCount(), 2u);
}

TEST_F(ActivityLog, PaneTrimsSevenThousandTwoHundredCharactersAtTwoHundredLines) {
    for (int i = 0; i < 199; ++i)
        WriteLog("POLL", "line");
    EXPECT_EQ(pane.LineCount(), 199u);
    WriteLog("POLL", "line 200");
    EXPECT_EQ(pane.LineCount(), 200u);
    const std::size_t before = pane.Text().size();
    WriteLog("POLL", "line 201");
    const std::string added = FormatLogLine(Now(), "POLL", "line 201") + "\r\n";
    EXPECT_EQ(pane.Text().size(), before - 7200 + added.size());
    EXPECT_EQ(pane.Lines().back(), FormatLogLine(Now(), "POLL", "line 201"));
}

TEST_F(ActivityLog, FailingFileStillReachesThePaneAndIsReportedOnce) {
    std::filesystem::create_directory("2026-12-07.log"); // a directory where the file should be
    WriteLog("POLL", "one");
    WriteLog("POLL", "two");
    std::vector<std::string> lines = pane.Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[0].find("Unable to write log file 2026-12-07.log"), std::string::npos);
    EXPECT_EQ(lines[1], FormatLogLine(Now(), "POLL", "one"));
    EXPECT_EQ(lines[2], FormatLogLine(Now(), "POLL", "two"));
    EXPECT_FALSE(LogFileBusy);
}

TEST_F(ActivityLog, SnapshotReadsWholeLines) {
    WriteLog("SYSINIT", "x");
    std::string content;
    ASSERT_TRUE(ReadLogFileSnapshot("2026-12-07.log", content));
    EXPECT_EQ(content, "2026-12-07 23:59:58   [SYSINIT]  x \r\n");
    EXPECT_FALSE(ReadLogFileSnapshot("1999-01-01.log", content));
}
