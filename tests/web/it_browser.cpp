// The real daemon's web administration with real clients: curl for the pages and a save, headless
// Chromium clicking through the menu and submitting the settings form.
#include "../integration/vktprocess.h"
#include "net/loopback.h"
#include "shellcommand.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

using namespace std::chrono_literals;

namespace {

class WebDaemon : public ::testing::Test {
protected:
    void SetUp() override {
        m_port = UnusedPort();
        WriteFileText(m_home.File("vkt.ini"), "[System]\r\nDBProvider=SQLite\r\nDataBase=" + m_home.File("web") +
                                                  "\r\nVKTID=alpha\r\nPollDelay=60\r\nNetPort=" +
                                                  std::to_string(m_port) + "\r\nDBPass=a b+c%d=e\r\n");
        m_vkt = std::make_unique<VktProcess>(m_home.Path(), m_work.Path());
        ASSERT_TRUE(m_vkt->WaitForOutput("Database connection successful.", 60s)) << m_vkt->Output();
    }
    void TearDown() override {
        if (!m_vkt) return;
        m_vkt->Signal(SIGTERM);
        EXPECT_EQ(m_vkt->WaitExit(60s), 0);
    }
    std::string Url(const std::string& target) const { return "http://127.0.0.1:" + std::to_string(m_port) + target; }
    std::string Ini() const { return ReadFileText(m_home.File("vkt.ini")); }

    TempDir m_home, m_work;
    int m_port = 0;
    std::unique_ptr<VktProcess> m_vkt;
};

TEST_F(WebDaemon, CurlGetsThePagesAndSaves) {
    if (!Have("curl")) GTEST_SKIP() << "curl is not installed";
    const std::string main = RunCommand("curl -s -i " + Url("/"));
    EXPECT_EQ(main.rfind("HTTP/1.0 200 OK\r\nServer: Korvel Web Server/1.0 \r\n", 0), 0u) << main;
    EXPECT_NE(main.find("\r\nalpha\r\n"), std::string::npos) << main;
    EXPECT_NE(RunCommand("curl -s '" + Url("/RESULT?mode=View+Log") + "'").find("[SYSINIT]"), std::string::npos);
    EXPECT_NE(
        RunCommand("curl -s '" + Url("/RESULT?mode=+Settings+") + "'").find("Name=\"PollDelay\"\r\nVALUE=\"60\" "),
        std::string::npos);
    EXPECT_NE(RunCommand("curl -s '" + Url("/RESULT?PollDelay=7&mode=Save+Changes") + "'").find("saved successfully"),
              std::string::npos);
    EXPECT_NE(Ini().find("PollDelay=7"), std::string::npos) << Ini();
}

TEST_F(WebDaemon, ChromiumClicksThroughTheMenuAndSavesTheForm) {
    if (!Have("chromium")) GTEST_SKIP() << "chromium is not installed";
    const std::string dir = std::string(VKT_BINARY_DIR) + "/Testing/web";
    std::filesystem::create_directories(dir);
    const std::string shot = dir + "/settings-saved.png";
    std::filesystem::remove(shot);
    const std::string out = RunCommand("python3 " + std::string(VKT_SOURCE_DIR) + "/tests/web/browse.py " + Url("/") +
                                       " " + shot + " beta " + m_home.File("vkt.ini") + " 2>&1");
    EXPECT_EQ(out, "ok   main page\nok   log view\nok   settings form\nok   unchanged save keeps vkt.ini\nok   save\n");
    EXPECT_NE(Ini().find("\r\nVKTID=beta\r\n"), std::string::npos) << Ini();
    EXPECT_NE(Ini().find("\r\nDBPass=a b+c%d=e\r\n"), std::string::npos) << Ini();
    EXPECT_TRUE(std::filesystem::exists(shot));
}

// The form as Python's urllib submits it: unchanged, the file stays byte for byte; a typed value
// is stored as typed, whatever the browser's encoding made of it.
TEST_F(WebDaemon, UrllibSubmitsTheFormAsTyped) {
    const std::string submit = "python3 " + std::string(VKT_SOURCE_DIR) + "/tests/web/submit_form.py " + Url("");
    const std::string before = Ini();
    EXPECT_EQ(RunCommand(submit + " 2>&1"), "saved\n");
    EXPECT_EQ(Ini(), before);
    EXPECT_EQ(RunCommand(submit + " 'DBPass=p&q %41+=' 2>&1"), "saved\n");
    EXPECT_NE(Ini().find("\r\nDBPass=p&q %41+=\r\n"), std::string::npos) << Ini();
}

} // namespace

namespace {

TEST(WebDaemonStart, PortInUseIsLoggedAndTheDaemonRunsOn) {
    LoopbackListener taken;
    TempDir home, work;
    WriteFileText(home.File("vkt.ini"), "[System]\r\nDBProvider=SQLite\r\nDataBase=" + home.File("web") +
                                            "\r\nNetPort=" + std::to_string(taken.port) + "\r\n");
    VktProcess vkt(home.Path(), work.Path());
    EXPECT_TRUE(vkt.WaitForOutput("   [WEBSOCK]  [ FAIL ] Failed to initialise web socket. \n", 60s)) << vkt.Output();
    // stderr names the port and why it could not be used
    EXPECT_TRUE(vkt.WaitForErrorOutput("web administration port " + std::to_string(taken.port) + ": ", 60s));
    EXPECT_NE(vkt.ErrorOutput().find("in use"), std::string::npos) << vkt.ErrorOutput();
    vkt.Signal(SIGTERM);
    EXPECT_EQ(vkt.WaitExit(60s), 0);
}

} // namespace
