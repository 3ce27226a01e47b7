// The activity log: line format, daily files, pane trimming and a failing file.
#include "platform/activitylog.h"
#include "platform/tmemo.h"
#include "platform/datetime.h"
#include "platform/msgloop.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <thread>

class ActivityLog : public ::testing::Test {
protected:
    TempDir dir;
    ScopedCwd cwd{dir.Path()};
    ManualClock clock{EncodeDateTime(2026, 12, 7, 23, 59, 58)};
    ScopedClock installClock{&clock};
    TMemo pane;
    ScopedLogPane installPane{&pane};
};

TEST_F(ActivityLog, LineHasPaddedColumnsAndTrailingBlank) {
    EXPECT_EQ(FormatLogLine(EncodeDateTime(2026, 12, 7, 9, 5, 3), "POLL", "Polling A [1.2.3.4]"),
              "2026-12-07 09:05:03   [POLL]     Polling A [1.2.3.4] ");
    EXPECT_EQ(FormatLogLine(EncodeDateTime(2026, 12, 7, 9, 5, 3), "[FAILURE]", "Posting alarm: A"),
              "2026-12-07 09:05:03   [[FAILURE]] Posting alarm: A ");
    // One entry is one line: a code or an error text cannot start a forged line of its own.
    EXPECT_EQ(FormatLogLine(EncodeDateTime(2026, 12, 7, 9, 5, 3), "POLL", "A\r\nFORGED\x01\t\x7f"),
              "2026-12-07 09:05:03   [POLL]     A  FORGED    ");
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

// A disk that fills part-way through a line: the file keeps whole lines only, so the next line
// written once there is room again does not get glued to a torn one. The child process meets a
// real short write: the kernel's file size limit stands in for the full disk.
TEST_F(ActivityLog, LineThatDoesNotFitIsNotLeftTorn) {
    const std::string one = FormatLogLine(Now(), "POLL", "one") + "\r\n";
    pid_t child = ::fork();
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{one.size() * 2 + 10, one.size() * 2 + 10};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        WriteLog("POLL", "one");
        WriteLog("POLL", "one");
        WriteLog("POLL", "a line too long for the room that is left");
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(ReadFileText("2026-12-07.log"), one + one);
}

TEST_F(ActivityLog, SnapshotReadsWholeLines) {
    WriteLog("SYSINIT", "x");
    std::string content;
    ASSERT_TRUE(ReadLogFileSnapshot("2026-12-07.log", content));
    EXPECT_EQ(content, "2026-12-07 23:59:58   [SYSINIT]  x \r\n");
    EXPECT_FALSE(ReadLogFileSnapshot("1999-01-01.log", content));
}

// Workers write while the loop thread waits: the file has every line in the order written, and
// the pane, edited only on the loop thread, shows the same lines in the same order.
TEST_F(ActivityLog, LinesFromManyThreadsKeepOneOrderInFileAndPane) {
    auto loop = CreatePollMessageLoop();
    ScopedMainLoop installLoop(loop.get());
    std::atomic<int> paneEditsOffLoop{0};
    pane.OnChange = [&] {
        if (!loop->IsLoopThread()) ++paneEditsOffLoop;
    };
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([t] {
            for (int i = 0; i < 40; ++i)
                WriteLog("POLL", "writer " + std::to_string(t) + " line " + std::to_string(i));
        });
    for (auto& w : writers)
        w.join();
    EXPECT_TRUE(loop->WaitUntil([&] { return pane.LineCount() == 160; }, std::chrono::seconds(60)));
    EXPECT_EQ(paneEditsOffLoop, 0);
    const std::string file = ReadFileText("2026-12-07.log");
    std::string fromPane;
    for (const std::string& line : pane.Lines())
        fromPane += line + "\r\n";
    EXPECT_EQ(file, fromPane);
    for (int t = 0; t < 4; ++t) { // each writer's lines in its own order
        std::size_t at = 0;
        for (int i = 0; i < 40; ++i) {
            at = file.find("writer " + std::to_string(t) + " line " + std::to_string(i) + " ", at);
            ASSERT_NE(at, std::string::npos) << "writer " << t << " line " << i;
        }
    }
}
