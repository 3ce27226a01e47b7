// The probe against hosts made by the test: network namespaces joined by a veth pair, with a router that
// answers one address with "host unreachable" and silently drops another (the same causes from both
// engines), and a probe without the privilege to open any ICMP socket. Every address lives inside the
// test's own namespaces. Needs root.
#include "daemon/icmp.h"
#include "scan/probeengine.h"
#include "test_icmp_support.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <string>

namespace {

using namespace std::chrono_literals;

const char* const RouterAddress = "192.0.2.254";
const char* const UnreachableAddress = "198.51.100.1"; // the router answers "host unreachable"
const char* const DroppedAddress = "198.51.100.2";     // the router drops what is sent there
const char* const NamePrefix = "vkt-icmp-";

/// Runs a shell command; returns its exit status and, in `output`, what it printed.
int Shell(const std::string& command, std::string* output = nullptr) {
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    if (!p) return -1;
    char buf[512];
    std::string text;
    while (std::fgets(buf, sizeof buf, p))
        text += buf;
    int status = pclose(p);
    if (output) *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

/// Deletes namespaces left behind by earlier runs of these tests that died before cleaning up.
void RemoveStaleNamespaces() {
    DIR* d = opendir("/run/netns");
    if (!d) return;
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name.rfind(NamePrefix, 0) != 0) continue;
        pid_t owner = static_cast<pid_t>(std::atol(name.c_str() + std::strlen(NamePrefix)));
        if (owner > 0 && kill(owner, 0) != 0 && errno == ESRCH) Shell("ip netns del " + name);
    }
    closedir(d);
}

/// Two namespaces: the client, where the probe runs, and a router one hop away. The calling thread
/// enters the client namespace, so the sockets of the probe (and its worker thread) live there.
class NetworkLab {
public:
    NetworkLab() {
        std::string id = std::to_string(getpid());
        m_client = NamePrefix + id + "-c";
        m_router = NamePrefix + id + "-r";
        m_veth = "vki" + id;
    }
    ~NetworkLab() {
        Leave();
        if (m_made) Shell("ip netns del " + m_client + "; ip netns del " + m_router);
    }
    NetworkLab(const NetworkLab&) = delete;
    NetworkLab& operator=(const NetworkLab&) = delete;

    /// Builds the namespaces; false with the reason when this machine does not allow it.
    bool Create(std::string& why) {
        if (geteuid() != 0) {
            why = "network namespaces need root";
            return false;
        }
        RemoveStaleNamespaces();
        if (Shell("ip netns add " + m_client + " && ip netns add " + m_router, &why) != 0) {
            why = "ip netns failed: " + why;
            return false;
        }
        m_made = true;
        return Setup(why);
    }

    bool Setup(std::string& why) {
        const std::string c = "ip -n " + m_client + " ", r = "ip -n " + m_router + " ";
        std::string script = "ip link add " + m_veth + "c netns " + m_client + " type veth peer name " + m_veth +
                             "r netns " + m_router + " && " + c + "link set lo up && " + c + "link set " + m_veth +
                             "c up && " + r + "link set " + m_veth + "r up && " + c + "addr add 192.0.2.1/24 dev " +
                             m_veth + "c && " + r + "addr add " + RouterAddress + "/24 dev " + m_veth + "r && " + c +
                             "route add default via " + RouterAddress + " && " + r + "route add unreachable " +
                             UnreachableAddress + " && " + r + "route add blackhole " + DroppedAddress + " && " +
                             InNamespace(m_router, "echo 1 > /proc/sys/net/ipv4/ip_forward");
        if (Shell(script, &why) != 0) {
            why = "setting up the namespaces failed: " + why;
            return false;
        }
        return true;
    }

    /// Runs `command` with sh inside namespace `ns`.
    static std::string InNamespace(const std::string& ns, const std::string& command) {
        return "ip netns exec " + ns + " sh -c '" + command + "'";
    }
    int InClient(const std::string& command) { return Shell(InNamespace(m_client, command)); }

    /// Moves the calling thread into the client namespace.
    bool Enter() {
        m_home = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        int fd = open(("/run/netns/" + m_client).c_str(), O_RDONLY | O_CLOEXEC);
        bool ok = m_home >= 0 && fd >= 0 && setns(fd, CLONE_NEWNET) == 0;
        if (fd >= 0) close(fd);
        return ok;
    }

    void Leave() {
        if (m_home < 0) return;
        if (setns(m_home, CLONE_NEWNET) != 0) std::perror("setns back");
        close(m_home);
        m_home = -1;
    }

    const std::string& Client() const { return m_client; }

private:
    std::string m_client, m_router, m_veth;
    bool m_made = false;
    int m_home = -1;
};

/// Which ICMP socket kind the client namespace lets the probe open first.
enum class Kind { Raw, Datagram };
void PrintTo(Kind kind, std::ostream* os) {
    *os << (kind == Kind::Raw ? "raw" : "datagram");
}

class NamespaceProbe : public ::testing::TestWithParam<Kind> {
protected:
    void SetUp() override {
        std::string why;
        if (!lab.Create(why)) GTEST_SKIP() << why;
        // A new namespace keeps datagram ICMP sockets closed to every group; opening them to all groups
        // makes the probe take the datagram socket instead of the raw one.
        if (GetParam() == Kind::Datagram) {
            ASSERT_EQ(lab.InClient("echo 0 2147483647 > /proc/sys/net/ipv4/ping_group_range"), 0);
        }
        ASSERT_TRUE(lab.Enter());
        std::string unused;
        bool datagram = OpenDatagram(unused);
        ASSERT_EQ(datagram, GetParam() == Kind::Datagram) << "the namespace does not offer the socket kind";
    }
    static bool OpenDatagram(std::string& why) {
        try {
            OpenIcmpSocket(IcmpSocketKind::Datagram);
            return true;
        } catch (const EIcmpEchoError& e) {
            why = e.Message();
            return false;
        }
    }
    NetworkLab lab;
};

TEST_P(NamespaceProbe, UnreachableAnswerFromTheRouterCountsAsAnswer) {
    TICMP probe;
    probe.SetAddress(RouterAddress);
    ASSERT_EQ(probe.Ping(), 1) << "the router itself answers";
    EXPECT_EQ(probe.Reply.Status, IpStatus::Success);

    probe.SetAddress(UnreachableAddress);
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(probe.Ping(), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 4000ms) << "waited for the time-out";
    EXPECT_EQ(probe.Reply.Status, IpStatus::DestHostUnreachable);
    EXPECT_EQ(probe.Reply.Address, inet_addr(RouterAddress));
    EXPECT_EQ(probe.LastError, 0);
}

TEST_P(NamespaceProbe, DroppedEchoGivesNoReplyAfterTheFullTimeoutWhileTheLoopRuns) {
    ConsoleWithLoop console;
    std::atomic<int> ticks{0};
    console.loop->SetTimer(100ms, true, [&] { ++ticks; });
    int rtt = -1;
    auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(console.form.PingSite(DroppedAddress, rtt));
    auto elapsed = std::chrono::steady_clock::now() - started;
    EXPECT_GE(elapsed, 4000ms);
    EXPECT_LT(elapsed, 20s) << "the time-out was not kept"; // a hang guard: a busy machine adds seconds
    EXPECT_GE(ticks, 10) << "the console's timer kept firing during the probe";
    EXPECT_EQ(rtt, -1);
    EXPECT_EQ(console.LogFile(), "");
}

TEST_P(NamespaceProbe, BothEnginesGiveTheSameCauseForAFailedSite) {
    const std::vector<std::pair<std::string, std::string>> cases{
        {DroppedAddress, "timed out"},
        {UnreachableAddress, std::string("unreachable (reported by ") + RouterAddress + ")"},
        {UnresolvableName(), "name not found"}};
    std::vector<std::string> addresses;
    for (const auto& c : cases)
        addresses.push_back(c.first);
    std::vector<SiteResult> engine(addresses.size());
    TScanSettings settings;
    settings.Parallel = 10;
    ProbeEngine(settings).Run(addresses, [&](std::size_t i, SiteResult r) { engine[i] = std::move(r); });
    ConsoleWithLoop console;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(DescribeFailure(console.form.ProbeOnce(addresses[i])), cases[i].second) << "one at a time";
        EXPECT_EQ(DescribeFailure(engine[i]), cases[i].second) << "concurrent engine";
    }
}

INSTANTIATE_TEST_SUITE_P(SocketKinds, NamespaceProbe, ::testing::Values(Kind::Raw, Kind::Datagram),
                         [](const auto& info) { return info.param == Kind::Raw ? "Raw" : "Datagram"; });

/// Replies received according to a ping summary "N packets transmitted, M received".
long Received(const std::string& summary) {
    auto at = summary.find(" received");
    if (at == std::string::npos) return -1;
    auto start = summary.rfind(' ', at - 1);
    return std::atol(summary.c_str() + start + 1);
}

class ForeignPings : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        if (!lab.Create(why)) GTEST_SKIP() << why;
        if (Shell("command -v ping") != 0) GTEST_SKIP() << "ping (iputils-ping) is not installed";
        // 127.0.0.2 answers only requests marked with TOS 0x10 (the foreign pinger's): the replies to our
        // unmarked requests are dropped, while the foreign replies carry the same source address.
        ASSERT_EQ(Shell("ip -n " + lab.Client() + " rule add pref 10 from 127.0.0.2 tos 0x10 lookup local && ip -n " +
                        lab.Client() + " rule add pref 20 from 127.0.0.2 blackhole && ip -n " + lab.Client() +
                        " rule add pref 100 lookup local && ip -n " + lab.Client() + " rule del pref 0"),
                  0);
        ASSERT_TRUE(lab.Enter());
    }
    NetworkLab lab;
};

TEST_F(ForeignPings, FloodFromAnotherProcessNeverAnswersOurProbe) {
    // Another process floods 127.0.0.2 for 5 s (its own deadline) while our probe waits for its answer.
    FILE* flood = popen(("ip netns exec " + lab.Client() + " ping -f -q -w 5 -Q 0x10 127.0.0.2").c_str(), "r");
    ASSERT_NE(flood, nullptr);
    TICMP probe; // the namespace allows no datagram socket: the raw socket sees every foreign reply
    probe.SetAddress("127.0.0.2");
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(probe.Ping(), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - started, 4000ms);
    EXPECT_EQ(probe.LastError, static_cast<int>(IpStatus::ReqTimedOut));
    std::string summary;
    char buf[512];
    while (std::fgets(buf, sizeof buf, flood))
        summary += buf;
    pclose(flood);
    EXPECT_GT(Received(summary), 100) << "the foreign pinger got its replies meanwhile: " << summary;
}

/// Runs only in the child started by the test below: no CAP_NET_RAW, a namespace closing datagram sockets.
TEST(Unprivileged, EveryProbeFailsWithTheReasonOnTheErrorLine) {
    if (!std::getenv("VKT_ICMP_UNPRIVILEGED_CHILD")) GTEST_SKIP() << "runs in the child of UnprivilegedProbe";
    std::string why;
    ASSERT_FALSE(CanOpenIcmp(why));
    ConsoleWithLoop console;
    int rtt = -1;
    EXPECT_FALSE(console.form.PingSite("127.0.0.1", rtt));
    EXPECT_FALSE(console.form.PingSite("localhost", rtt));
    const std::string line = "2026-12-07 08:00:00   [ERROR]    Exception during ICMP send echo.Unable to get ping "
                             "handle: " +
                             why + " \r\n";
    EXPECT_EQ(console.LogFile(), line + line);
    EXPECT_NE(why.find("CAP_NET_RAW"), std::string::npos) << why;
    EXPECT_NE(why.find("net.ipv4.ping_group_range (now 1 0)"), std::string::npos) << why;
}

TEST(UnprivilegedProbe, DroppingCapNetRawLeavesEveryProbeFailing) {
    if (geteuid() != 0) GTEST_SKIP() << "dropping capabilities in a new namespace needs root";
    if (Shell("command -v setpriv && command -v unshare") != 0) GTEST_SKIP() << "setpriv/unshare not installed";
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(n, 0);
    self[n] = '\0';
    std::string output;
    int rc = Shell(std::string("VKT_ICMP_UNPRIVILEGED_CHILD=1 unshare --net setpriv --inh-caps=-net_raw "
                               "--bounding-set=-net_raw -- '") +
                       self + "' --gtest_filter=Unprivileged.EveryProbeFailsWithTheReasonOnTheErrorLine",
                   &output);
    EXPECT_EQ(rc, 0) << output;
    EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
}

} // namespace
