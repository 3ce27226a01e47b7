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

/// Seconds of the day at which the first log line holding `text` was written ("YYYY-MM-DD HH:MM:SS ...").
int LoggedAt(const std::string& output, const std::string& text) {
    const std::size_t at = output.find(text);
    if (at == std::string::npos) return -1000000;
    const std::size_t line = output.rfind('\n', at) == std::string::npos ? 0 : output.rfind('\n', at) + 1;
    int h = 0, m = 0, s = 0;
    if (std::sscanf(output.c_str() + line + 11, "%d:%d:%d", &h, &m, &s) != 3) return -1000000;
    return h * 3600 + m * 60 + s;
}
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
    const auto started = std::chrono::steady_clock::now(); // before the daemon: its probe began later
    VktProcess vkt(daemon.home.Path(), daemon.work.Path());
    ASSERT_TRUE(vkt.WaitForOutput("Unable to contact SILENT [203.0.113.2]", 60s)) << vkt.Output();
    EXPECT_GE(std::chrono::steady_clock::now() - started, 4000ms);
    // By the log's own clock (whole seconds): a wait of 4 s spans at least 3 seconds' marks.
    const int logged = LoggedAt(vkt.Output(), "Unable to contact SILENT") - LoggedAt(vkt.Output(), "Polling SILENT");
    EXPECT_GE((logged + 86400) % 86400, 3) << vkt.Output(); // across midnight too
    const std::vector<std::string> events = LogEvents(vkt.Output(), {"POLL", "AWOL"});
    ASSERT_GE(events.size(), 4u);
    EXPECT_EQ(events[0], "[POLL] Polling LOOP [127.0.0.1]");
    EXPECT_EQ(events[1].rfind("[POLL] LOOP Responding (", 0), 0u);
    EXPECT_EQ(events[2], "[POLL] Polling SILENT [203.0.113.2]");
    EXPECT_EQ(events[3], "[AWOL] Unable to contact SILENT [203.0.113.2]");
    EXPECT_EQ(db.Count("SELECT COUNT(*) AS n FROM alarms WHERE Code = 'SILENT'"), 1);
}
