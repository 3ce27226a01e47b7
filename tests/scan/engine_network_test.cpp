// The probe engine against hosts of the test's own, behind a namespace: a responder that answers
// twice, answers from another address, or answers too late; a host that rejects echo requests with
// "host unreachable"; a name server that never answers, its lookup's guard reached by a clock the
// test advances. Needs root (skipped otherwise).
#include "scan/probeengine.h"
#include "silenthost.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <map>
#include <thread>

using namespace std::chrono_literals;

namespace {

const char* const Rejecting = "198.51.100.7";
const char* const Twice = "198.51.100.10";   // every request answered twice
const char* const Foreign = "198.51.100.11"; // answered from Other instead
const char* const Other = "198.51.100.12";
const char* const Late = "198.51.100.13"; // answered 4.5 s after the request

std::uint16_t Checksum(const std::uint8_t* p, std::size_t n) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < n; i += 2)
        sum += (p[i] << 8) | p[i + 1];
    if (n % 2) sum += p[n - 1] << 8;
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

/// Answers the echo requests that reach the namespace the way each address above asks, with echo
/// replies written whole (IP header included) so that their source can be any address. The
/// constructor returns once the responder's sockets are open inside the namespace: a request sent
/// after that is seen.
class Responder {
public:
    explicit Responder(const SilentHostNamespace& ns) {
        std::promise<bool> listening;
        std::future<bool> ready = listening.get_future();
        m_thread = std::thread([this, &ns, &listening] { Serve(ns.Name(), listening); });
        Ready = ready.get();
    }
    ~Responder() {
        m_stop = true;
        m_thread.join();
    }
    Responder(const Responder&) = delete;
    Responder& operator=(const Responder&) = delete;
    /// Whether the sockets could be opened inside the namespace.
    bool Ready = false;

private:
    void Serve(const std::string& ns, std::promise<bool>& listening) {
        const bool joined = NetLab::Enter(ns);
        const int in = joined ? socket(AF_INET, SOCK_RAW, IPPROTO_ICMP) : -1;
        const int out = joined ? socket(AF_INET, SOCK_RAW, IPPROTO_RAW) : -1;
        listening.set_value(in >= 0 && out >= 0);
        if (in < 0 || out < 0) {
            if (in >= 0) close(in);
            if (out >= 0) close(out);
            return;
        }
        std::multimap<std::chrono::steady_clock::time_point, std::vector<std::uint8_t>> later;
        while (!m_stop) {
            pollfd p{in, POLLIN, 0};
            if (poll(&p, 1, 20) == 1) Answer(in, out, later);
            while (!later.empty() && later.begin()->first <= std::chrono::steady_clock::now()) {
                SendRaw(out, later.begin()->second);
                later.erase(later.begin());
            }
        }
        close(in);
        close(out);
    }

    void Answer(int in, int out,
                std::multimap<std::chrono::steady_clock::time_point, std::vector<std::uint8_t>>& later) {
        std::uint8_t buf[2048];
        const ssize_t n = recv(in, buf, sizeof buf, 0);
        if (n < 28 || buf[20] != 8) return;
        std::uint32_t from, to;
        std::memcpy(&from, buf + 12, 4);
        std::memcpy(&to, buf + 16, 4);
        std::vector<std::uint8_t> icmp(buf + 20, buf + n);
        icmp[0] = 0; // echo reply
        icmp[2] = icmp[3] = 0;
        const std::uint16_t sum = Checksum(icmp.data(), icmp.size());
        icmp[2] = static_cast<std::uint8_t>(sum >> 8);
        icmp[3] = static_cast<std::uint8_t>(sum);
        if (to == inet_addr(Twice)) {
            SendRaw(out, Packet(to, from, icmp));
            SendRaw(out, Packet(to, from, icmp));
        } else if (to == inet_addr(Foreign)) {
            SendRaw(out, Packet(inet_addr(Other), from, icmp));
        } else if (to == inet_addr(Late)) {
            later.emplace(std::chrono::steady_clock::now() + 4500ms, Packet(to, from, icmp));
        }
    }

    static std::vector<std::uint8_t> Packet(std::uint32_t source, std::uint32_t destination,
                                            const std::vector<std::uint8_t>& icmp) {
        std::vector<std::uint8_t> p(20);
        p[0] = 0x45;
        p[8] = 64;
        p[9] = IPPROTO_ICMP; // length, identification and header checksum are the kernel's
        std::memcpy(&p[12], &source, 4);
        std::memcpy(&p[16], &destination, 4);
        p.insert(p.end(), icmp.begin(), icmp.end());
        return p;
    }

    static void SendRaw(int out, const std::vector<std::uint8_t>& packet) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        std::memcpy(&to.sin_addr.s_addr, &packet[16], 4);
        sendto(out, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }

    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

/// The system's clocks moved forward by what the test skips: the engine runs in real time (answers,
/// pacing) while the test jumps over its long waits.
class SkippingClock : public Clock {
public:
    TDateTime Now() const override { return m_system.Now() + static_cast<double>(m_skipped.load()) / 86400000.0; }
    MonoTime Monotonic() const override { return m_system.Monotonic() + std::chrono::milliseconds(m_skipped.load()); }
    void Skip(std::chrono::milliseconds step) { m_skipped += step.count(); }

private:
    SystemClock m_system;
    std::atomic<long long> m_skipped{0};
};

class EngineOnNamespace : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        if (!lab.Create(why)) GTEST_SKIP() << why;
        ASSERT_TRUE(lab.AddRejectingAddress(Rejecting)) << "nft (package nftables) is needed";
        ASSERT_TRUE(lab.AddAddresses("198.51.100.8/29"));
    }

    /// Runs the engine; the results by address.
    std::map<std::string, SiteResult> Run(const TScanSettings& s, const std::vector<std::string>& addresses) {
        std::map<std::string, SiteResult> results;
        ProbeEngine(s).Run(addresses, [&](std::size_t i, SiteResult r) { results[addresses[i]] = std::move(r); });
        return results;
    }

    SilentHostNamespace lab{"engine"};
};

TEST_F(EngineOnNamespace, OnlyTimelyRepliesFromTheTargetCountAndFailuresSayWhy) {
    Responder responder(lab);
    ASSERT_TRUE(responder.Ready) << "the responder could not open its sockets in the namespace";
    TScanSettings s;
    s.Parallel = 100;
    s.Echoes = 2;
    s.EchoInterval = 200;
    auto r = Run(s, {"127.0.0.1", Twice, Foreign, Late, Rejecting, SilentHostNamespace::Address, "no..such"});
    struct Expected {
        const char* Address;
        int Received;
        ProbeCause Cause;
    };
    for (const Expected& e : {Expected{"127.0.0.1", 2, ProbeCause::None}, Expected{Twice, 2, ProbeCause::None},
                              Expected{Foreign, 0, ProbeCause::TimedOut}, Expected{Late, 0, ProbeCause::TimedOut},
                              Expected{Rejecting, 0, ProbeCause::Unreachable},
                              Expected{SilentHostNamespace::Address, 0, ProbeCause::TimedOut},
                              Expected{"no..such", 0, ProbeCause::NameNotFound}}) {
        const SiteResult& got = r[e.Address];
        EXPECT_EQ(got.Received, e.Received) << e.Address;
        EXPECT_EQ(got.Answered, e.Received > 0) << e.Address;
        EXPECT_EQ(got.Sent, 2) << e.Address;
        EXPECT_EQ(got.LastCause, e.Cause) << e.Address << ": " << DescribeFailure(got);
    }
    EXPECT_EQ(r[Rejecting].Reporter, inet_addr(Rejecting)) << DescribeFailure(r[Rejecting]);
    EXPECT_DOUBLE_EQ(r[Late].LossPercent(), 100.0);
    EXPECT_LE(r["127.0.0.1"].RttMin, r["127.0.0.1"].RttAvg);
    EXPECT_LE(r["127.0.0.1"].RttAvg, r["127.0.0.1"].RttMax);
}

TEST_F(EngineOnNamespace, AStalledNameLookupHoldsNoOtherSiteAndFailsAtTheGuard) {
    // The engine's resolver reads a resolv.conf that sends queries to the namespace, which drops them.
    TempDir dir;
    WriteFileText(dir.File("resolv.conf"), "nameserver 203.0.113.2\noptions timeout:30 attempts:1\n");
    ASSERT_EQ(unshare(CLONE_NEWNS), 0);
    ASSERT_EQ(mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
    ASSERT_EQ(mount(dir.File("resolv.conf").c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr), 0);
    // Time jumps as the sites report: past the echo time-out once loopback has answered, then past the
    // lookup guard once the silent site has timed out.
    SkippingClock clock;
    const Clock::MonoTime started = clock.Monotonic();
    const std::vector<std::string> addresses{"stall.vkt.test", SilentHostNamespace::Address, "127.0.0.1"};
    std::vector<std::string> order;
    std::map<std::string, SiteResult> r;
    std::map<std::string, std::chrono::milliseconds> at;
    TScanSettings s;
    s.Parallel = 10;
    ProbeEngine(s, clock).Run(addresses, [&](std::size_t i, SiteResult result) {
        order.push_back(addresses[i]);
        at[addresses[i]] = std::chrono::duration_cast<std::chrono::milliseconds>(clock.Monotonic() - started);
        r[addresses[i]] = std::move(result);
        if (order.size() == 1) clock.Skip(ProbeEngine::EchoTimeout);
        if (order.size() == 2) clock.Skip(ProbeEngine::LookupGuard - ProbeEngine::EchoTimeout);
    });
    EXPECT_EQ(order, (std::vector<std::string>{"127.0.0.1", SilentHostNamespace::Address, "stall.vkt.test"}));
    EXPECT_TRUE(r["127.0.0.1"].Answered);
    EXPECT_EQ(r[SilentHostNamespace::Address].LastCause, ProbeCause::TimedOut);
    EXPECT_LT(at[SilentHostNamespace::Address], ProbeEngine::LookupGuard) << "held by the stalled lookup";
    EXPECT_GE(at["stall.vkt.test"], ProbeEngine::LookupGuard) << "gave up before the guard";
    EXPECT_EQ(r["stall.vkt.test"].LastCause, ProbeCause::NameTemporary);
}

} // namespace
