// The real daemon probing a host in a network namespace of the test's own that drops every echo
// request: the site is logged as unreachable once the 4-second probe time-out has passed. Needs root.
#include "scan_daemon.h"
#include "silenthost.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sys/wait.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {
const char* const SilentHost = SilentHostNamespace::Address;
} // namespace

TEST(ScanNetwork, HostThatDropsEchoRequestsIsUnreachableAfterTheProbeTimeOut) {
    SilentHostNamespace lab("scan");
    std::string why;
    if (!lab.Create(why)) GTEST_SKIP() << why;
    TempDir dbDir;
    SharedDb db("SQLite", dbDir.File("vkt"), "");
    ASSERT_TRUE(db.Connect()) << db.dm.LastConnectionError();
    db.AddSite("D1", "LOOP", "127.0.0.1");
    db.AddSite("D1", "SILENT", SilentHost);
    DaemonHome daemon(db, "D1");
    VktProcess vkt(daemon.home.Path(), daemon.work.Path());
    ASSERT_TRUE(vkt.WaitForOutput("Polling SILENT", 10s)) << vkt.Output();
    const auto polled = std::chrono::steady_clock::now();
    ASSERT_TRUE(vkt.WaitForOutput("Unable to contact SILENT [203.0.113.2]", 10s)) << vkt.Output();
    EXPECT_GE(std::chrono::steady_clock::now() - polled, 3500ms);
    const std::vector<std::string> events = LogEvents(vkt.Output(), {"POLL", "AWOL"});
    ASSERT_GE(events.size(), 4u);
    EXPECT_EQ(events[0], "[POLL] Polling LOOP [127.0.0.1]");
    EXPECT_EQ(events[1].rfind("[POLL] LOOP Responding (", 0), 0u);
    EXPECT_EQ(events[2], "[POLL] Polling SILENT [203.0.113.2]");
    EXPECT_EQ(events[3], "[AWOL] Unable to contact SILENT [203.0.113.2]");
    EXPECT_EQ(db.Count("SELECT COUNT(*) AS n FROM alarms WHERE Code = 'SILENT'"), 1);
}
