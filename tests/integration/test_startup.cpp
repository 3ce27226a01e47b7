// The real daemon, headless: start-up lines of a halted start and shutdown on signals.
#include "vktprocess.h"

#include "testutil.h"

#include <gtest/gtest.h>

#include <csignal>
#include <ctime>
#include <regex>

using namespace std::chrono_literals;

namespace {

std::string TodaysLogName() {
    time_t now = time(nullptr);
    tm lt{};
    localtime_r(&now, &lt);
    char buf[32];
    strftime(buf, sizeof(buf), "%Y-%m-%d.log", &lt);
    return buf;
}

const char* const HaltedLines = "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d   \\[SYSINIT\\]  "
                                "VKT \\(Daemon Zelto System\\) Started\\. \r\n"
                                "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d   \\[SYSINIT\\]  "
                                "\\[WARNING\\] Unable to connect to database sytem halted\\. \r\n";

} // namespace

class HeadlessDaemon : public ::testing::TestWithParam<int> {};

TEST_P(HeadlessDaemon, HaltedStartLogsExactlyTheStartupLinesAndEndsCleanlyOnSignal) {
    TempDir home, work;
    // A database that cannot be reached: the daemon halts and stays idle.
    WriteFileText(home.File("vkt.ini"), "[System]\r\nDBProvider=NoSuchProvider\r\nDataBase=none\r\n");
    VktProcess vkt(home.Path(), work.Path());
    ASSERT_TRUE(vkt.WaitForOutput("sytem halted.", 60s)) << vkt.Output();
    vkt.Signal(SIGUSR1); // Force Scan is disabled in a halted daemon: nothing happens, and it says so
    EXPECT_TRUE(vkt.WaitForErrorOutput("SIGUSR1 ignored: Force Scan is disabled", 60s)) << vkt.ErrorOutput();
    const auto start = std::chrono::steady_clock::now();
    vkt.Signal(GetParam());
    EXPECT_EQ(vkt.WaitExit(60s), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 20s) << "the signal was not handled at once"; // a hang guard
    const std::string log = ReadFileText(work.File(TodaysLogName()));
    EXPECT_TRUE(std::regex_match(log, std::regex(HaltedLines))) << log;
    EXPECT_FALSE(std::filesystem::exists(home.File(TodaysLogName()))) << "log files go to the working directory";
}

// SIGHUP comes when the terminal or SSH session that started the daemon closes.
INSTANTIATE_TEST_SUITE_P(Signals, HeadlessDaemon, ::testing::Values(SIGTERM, SIGINT, SIGHUP));

TEST(HeadlessDaemonSetup, PendingSetupWithoutTerminalStillStarts) {
    TempDir home, work;
    WriteFileText(home.File("vkt.ini"), "[System]\r\ninstall=1\r\nDBProvider=NoSuchProvider\r\n");
    VktProcess vkt(home.Path(), work.Path());
    ASSERT_TRUE(vkt.WaitForOutput("sytem halted.", 60s)) << vkt.Output();
    vkt.Signal(SIGTERM);
    EXPECT_EQ(vkt.WaitExit(60s), 0);
    EXPECT_NE(ReadFileText(home.File("vkt.ini")).find("install=1"), std::string::npos);
    EXPECT_NE(vkt.ErrorOutput().find("no terminal is attached"), std::string::npos) << vkt.ErrorOutput();
}

TEST(HeadlessDaemonSetup, TerminalSetupAsksWithoutTheNoTerminalNoteAndCtrlCEndsItWritingNothing) {
    TempDir home, work;
    const std::string ini = "[System]\r\ninstall=1\r\nDBProvider=NoSuchProvider\r\n";
    WriteFileText(home.File("vkt.ini"), ini);
    VktProcess vkt(home.Path(), work.Path(), {}, true);
    ASSERT_TRUE(vkt.WaitForOutput("Daemon ID: [daemon] ", 60s)) << vkt.Output();
    EXPECT_EQ(vkt.ErrorOutput().find("no terminal is attached"), std::string::npos) << vkt.ErrorOutput();
    vkt.Signal(SIGINT); // Ctrl-C at a question: the program ends at once instead of asking on
    EXPECT_EQ(vkt.WaitExit(60s), 128 + SIGINT);
    EXPECT_EQ(ReadFileText(home.File("vkt.ini")), ini);
}
