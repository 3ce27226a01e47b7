// The real daemon on an embedded database file that is deleted while it runs.
#include "vktprocess.h"

#include "testutil.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <thread>

using namespace std::chrono_literals;

TEST(HeadlessDaemonEmbeddedDb, DeletedFileIsNoticedAndRecreated) {
    TempDir home, work;
    WriteFileText(home.File("vkt.ini"), "[System]\r\nDBProvider=SQLite\r\nDataBase=vkt\r\nNetPort=0\r\n");
    VktProcess vkt(home.Path(), work.Path(), {"VKT_HEADLESS=1"});
    ASSERT_TRUE(vkt.WaitForOutput("Database connection successful.", 60s)) << vkt.Output();
    ASSERT_TRUE(std::filesystem::remove(home.File("vkt.db")));
    ASSERT_TRUE(vkt.WaitForOutput("Database connection not avalaible. Attempting to re-establish connection.", 60s))
        << vkt.Output();
    // The line comes before the reopening it announces.
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (!std::filesystem::exists(home.File("vkt.db")) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(std::filesystem::exists(home.File("vkt.db"))) << "the file is made again";
    vkt.Signal(SIGTERM);
    EXPECT_EQ(vkt.WaitExit(60s), 0);
    EXPECT_EQ(vkt.Output().find("Database connection lost."), std::string::npos) << vkt.Output();
}
