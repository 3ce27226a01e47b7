// The probe against hosts made by the test: network namespaces joined by a veth pair, with a router that
// answers one address with "host unreachable" and silently drops another, on IPv4 and IPv6 (the same
// causes from both engines); TCP sites, and names of the test's own with IPv4, IPv6 or both addresses;
// and a probe without the privilege to open any ICMP socket. Every address lives inside the test's own
// namespaces. Needs root.
#include "scan/icmp.h"
#include "netlab.h"
#include "scan/probeengine.h"
#include "test_icmp_support.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;

const char* const RouterAddress = "192.0.2.254";
const char* const UnreachableAddress = "198.51.100.1"; // the router answers "host unreachable"
const char* const DroppedAddress = "198.51.100.2";     // the router drops what is sent there
const char* const Router6 = "fd00:db8:1::fe";
const char* const Unreachable6 = "fd00:db8:2::1"; // the router answers "no route"
const char* const Dropped6 = "fd00:db8:2::2";     // the router swallows what is sent there

/// Two namespaces: the client, where the probe runs, and a router one hop away. The calling thread
/// enters the client namespace, so the sockets of the probe (and its worker thread) live there.
class NetworkLab {
public:
    NetworkLab() = default;
    ~NetworkLab() { Leave(); }
    NetworkLab(const NetworkLab&) = delete;
    NetworkLab& operator=(const NetworkLab&) = delete;

    /// Builds the namespaces and waits until the client reaches the router; false with the reason when
    /// this machine does not allow it.
    bool Create(std::string& why) {
        if (!m_lab.Open(why)) return false;
        m_client = m_lab.AddNamespace("c");
        const std::string router = m_lab.AddNamespace("r");
        m_lab.Link(m_client, "192.0.2.1", router, RouterAddress, 24, "fd00:db8:1::1", Router6);
        m_lab.DoIn(m_client, std::string("ip route add default via ") + RouterAddress +
                                 " && ip -6 route add default via " + Router6);
        m_lab.DoIn(router, std::string("ip route add unreachable ") + UnreachableAddress +
                               " && ip route add blackhole " + DroppedAddress +
                               " && echo 1 > /proc/sys/net/ipv4/ip_forward && ip -6 route add unreachable " +
                               Unreachable6 + " && ip -6 route add blackhole " + Dropped6 +
                               " && echo 1 > /proc/sys/net/ipv6/conf/all/forwarding");
        return m_lab.Ready(why);
    }
    int InClient(const std::string& command) { return NetLab::In(m_client, command); }

    /// Moves the calling thread into the client namespace.
    bool Enter() {
        m_home = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        return m_home >= 0 && NetLab::Enter(m_client);
    }

    void Leave() {
        if (m_home < 0) return;
        if (setns(m_home, CLONE_NEWNET) != 0) std::perror("setns back");
        close(m_home);
        m_home = -1;
    }

    const std::string& Client() const { return m_client; }

private:
    NetLab m_lab{"icmp", ""}; // every address lives inside the namespaces
    std::string m_client;
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

/// A name server on the client's loopback that answers every query "no such name", serving until the
/// object ends; the constructor returns once it listens (on the calling thread's namespace).
class NoSuchNameServer {
public:
    NoSuchNameServer() {
        m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(53);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        Ready = m_fd >= 0 && bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        if (Ready) m_thread = std::thread([this] { Serve(); });
    }
    ~NoSuchNameServer() {
        m_stop = true;
        if (m_thread.joinable()) m_thread.join();
        if (m_fd >= 0) close(m_fd);
    }
    bool Ready = false;

private:
    void Serve() {
        while (!m_stop) {
            pollfd p{m_fd, POLLIN, 0};
            if (poll(&p, 1, 20) != 1) continue;
            unsigned char q[512];
            sockaddr_in from{};
            socklen_t len = sizeof from;
            const ssize_t n = recvfrom(m_fd, q, sizeof q, 0, reinterpret_cast<sockaddr*>(&from), &len);
            if (n < 12) continue;
            q[2] |= 0x80;             // a response
            q[3] = (q[3] & 0xf0) | 3; // NXDOMAIN
            sendto(m_fd, q, static_cast<std::size_t>(n), 0, reinterpret_cast<sockaddr*>(&from), len);
        }
    }
    int m_fd = -1;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

/// Names of the test's own for this process: a hosts file and a resolv.conf naming the loopback bound
/// over the system's in a mount namespace of its own (the files of the machine stay as they are).
bool UseOwnNames(const std::string& hosts, std::string& why) {
    static const std::string dir = [] {
        char tmpl[] = "/tmp/vkt-names-XXXXXX";
        return std::string(mkdtemp(tmpl) ? tmpl : "");
    }();
    for (const auto& [name, text] : {std::pair<std::string, std::string>{"hosts", hosts},
                                     {"resolv.conf", "nameserver 127.0.0.1\noptions attempts:1 timeout:2\n"}}) {
        FILE* f = std::fopen((dir + "/" + name).c_str(), "w");
        if (!f) return (why = "cannot write " + dir + "/" + name), false;
        std::fputs(text.c_str(), f);
        std::fclose(f);
    }
    if (unshare(CLONE_NEWNS) != 0 || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount((dir + "/hosts").c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr) != 0 ||
        mount((dir + "/resolv.conf").c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) != 0)
        return (why = std::string("cannot bind the test's name files: ") + std::strerror(errno)), false;
    return true;
}

/// A TCP port that accepts (listening on both families) and one that refuses (bound, not listening).
struct TcpPorts {
    TcpPorts() : Open(Bound(true, m_open)), Closed(Bound(false, m_closed)) {}
    ~TcpPorts() {
        close(m_open);
        close(m_closed);
    }
    static std::string Bound(bool listening, int& fd) {
        fd = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int off = 0;
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
        sockaddr_in6 a{};
        a.sin6_family = AF_INET6;
        socklen_t len = sizeof a;
        if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || (listening && listen(fd, 16) != 0) ||
            getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            return "0";
        return std::to_string(ntohs(a.sin6_port));
    }
    int m_open = -1, m_closed = -1;
    std::string Open, Closed;
};

TEST_P(NamespaceProbe, BothEnginesProbeIPv6TcpSitesAndEachFamilyAlike) {
    std::string why;
    // Not ::1 for the names' IPv6 address: the C library's hosts lookup gives 127.0.0.1 for it to an IPv4 query.
    ASSERT_TRUE(UseOwnNames(std::string("127.0.0.1 localhost four.vkt.test dual.vkt.test half.vkt.test\n") + Router6 +
                                " six.vkt.test dual.vkt.test\n" + Dropped6 + " half.vkt.test\n",
                            why))
        << why;
    NoSuchNameServer names;
    ASSERT_TRUE(names.Ready);
    TcpPorts tcp;
    struct Case {
        std::string Address;
        AddressFamily Family;
        std::string Probed, Failure, FailedFamily;
    };
    const std::string unreachable6 = std::string("unreachable (reported by ") + Router6 + ")";
    const std::vector<Case> cases{
        {Router6, AddressFamily::Auto, Router6, "none", ""},
        {Unreachable6, AddressFamily::Auto, Unreachable6, unreachable6, ""},
        {Dropped6, AddressFamily::Both, Dropped6, "timed out", ""},
        {"tcp://127.0.0.1:" + tcp.Open, AddressFamily::Auto, "127.0.0.1", "none", ""},
        {"tcp://[::1]:" + tcp.Open, AddressFamily::Auto, "::1", "none", ""},
        {"tcp://127.0.0.1:" + tcp.Closed, AddressFamily::Auto, "127.0.0.1", "connection refused", ""},
        {std::string("tcp://") + DroppedAddress + ":80", AddressFamily::Auto, DroppedAddress, "connection timed out",
         ""},
        {"six.vkt.test", AddressFamily::Auto, Router6, "none", ""},
        {"dual.vkt.test", AddressFamily::Auto, "127.0.0.1", "none", ""},
        {"dual.vkt.test", AddressFamily::V6, Router6, "none", ""},
        {"dual.vkt.test", AddressFamily::Both, std::string("127.0.0.1 ") + Router6, "none", ""},
        {"half.vkt.test", AddressFamily::Both, std::string("127.0.0.1 ") + Dropped6, "timed out", "v6"},
        {"four.vkt.test", AddressFamily::V6, "", "name not found", ""},
    };
    std::vector<std::string> addresses;
    std::vector<AddressFamily> families;
    for (const Case& c : cases) {
        addresses.push_back(c.Address);
        families.push_back(c.Family);
    }
    std::vector<SiteResult> engine(cases.size());
    TScanSettings settings;
    settings.Parallel = 20;
    ProbeEngine(settings).Run(
        addresses, [&](std::size_t i, SiteResult r) { engine[i] = std::move(r); }, nullptr, families);
    ConsoleWithLoop console;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        for (const auto& [who, r] : {std::pair<const char*, SiteResult>{"concurrent engine", engine[i]},
                                     {"one at a time", console.form.ProbeOnce(c.Address, c.Family)}}) {
            EXPECT_EQ(DescribeFailure(r), c.Failure) << who << ": " << c.Address;
            EXPECT_EQ(r.Answered, c.Failure == "none") << who << ": " << c.Address;
            EXPECT_EQ(r.Probed, c.Probed) << who << ": " << c.Address;
            EXPECT_EQ(r.FailedFamily, c.FailedFamily) << who << ": " << c.Address;
        }
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
        if (NetLab::Run("command -v ping") != 0) GTEST_SKIP() << "ping (iputils-ping) is not installed";
        // 127.0.0.2 answers only requests marked with TOS 0x10 (the foreign pinger's): the replies to our
        // unmarked requests are dropped, while the foreign replies carry the same source address.
        ASSERT_EQ(NetLab::Run("ip -n " + lab.Client() +
                              " rule add pref 10 from 127.0.0.2 tos 0x10 lookup local && ip -n " + lab.Client() +
                              " rule add pref 20 from 127.0.0.2 blackhole && ip -n " + lab.Client() +
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
    if (NetLab::Run("command -v setpriv && command -v unshare") != 0) GTEST_SKIP() << "setpriv/unshare not installed";
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(n, 0);
    self[n] = '\0';
    std::string output;
    int rc = NetLab::Run(std::string("VKT_ICMP_UNPRIVILEGED_CHILD=1 unshare --net setpriv --inh-caps=-net_raw "
                                     "--bounding-set=-net_raw -- '") +
                             self + "' --gtest_filter=Unprivileged.EveryProbeFailsWithTheReasonOnTheErrorLine",
                         &output);
    EXPECT_EQ(rc, 0) << output;
    EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
}

} // namespace
