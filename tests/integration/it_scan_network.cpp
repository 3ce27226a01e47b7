// The real daemon probing a host in a network namespace of the test's own that drops every echo
// request: the site is logged as unreachable once the 4-second probe time-out has passed. Needs root.
#include "scan_daemon.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sys/wait.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

const char* const HostSide = "203.0.113.1";
const char* const SilentHost = "203.0.113.2";

int Shell(const std::string& command) {
    int status = std::system((command + " >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

/// A namespace joined to this one by a veth pair; inside it the host ignores echo requests.
class SilentHostNamespace {
public:
    SilentHostNamespace() : m_ns("vkt-scan-" + std::to_string(getpid())), m_veth("vks" + std::to_string(getpid())) {}
    ~SilentHostNamespace() {
        if (m_made) Shell("ip link del " + m_veth + "h; ip netns del " + m_ns);
    }
    bool Create(std::string& why) {
        if (geteuid() != 0) {
            why = "network namespaces need root";
            return false;
        }
        if (Shell("ip netns add " + m_ns) != 0) {
            why = "ip netns add failed";
            return false;
        }
        m_made = true;
        const std::string n = "ip -n " + m_ns + " ";
        const std::string script = "ip link add " + m_veth + "h type veth peer name " + m_veth + "n netns " + m_ns +
                                   " && ip addr add " + HostSide + "/30 dev " + m_veth + "h && ip link set " + m_veth +
                                   "h up && " + n + "addr add " + SilentHost + "/30 dev " + m_veth + "n && " + n +
                                   "link set " + m_veth + "n up && " + n + "link set lo up && ip netns exec " + m_ns +
                                   " sh -c 'echo 1 > /proc/sys/net/ipv4/icmp_echo_ignore_all'";
        if (Shell(script) != 0) {
            why = "setting up the namespace failed";
            return false;
        }
        return true;
    }

private:
    std::string m_ns, m_veth;
    bool m_made = false;
};

} // namespace

TEST(ScanNetwork, HostThatDropsEchoRequestsIsUnreachableAfterTheProbeTimeOut) {
    SilentHostNamespace lab;
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
