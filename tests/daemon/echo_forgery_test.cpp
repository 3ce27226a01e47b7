// Forged echo replies against both probes (one at a time and the concurrent engine): a forger inside a
// namespace of the test's own answers every request to its silent addresses with a spoofed reply that has
// the request's identifier and sequence but not its data; the sites stay silent, while an exact copy and
// loopback count. Two start-ups of the program send different first identifiers and sequences. Root only.
#include "scan/icmp.h"
#include "scan/probeengine.h"
#include "silenthost.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <future>
#include <map>
#include <memory>
#include <sstream>
#include <thread>

namespace {

using Bytes = std::vector<std::uint8_t>;

/// What the forger sends back for a request to each address: the request's data changed by `Forge`.
struct ForgedAddress {
    const char* Address;
    const char* Name;
    Bytes (*Forge)(Bytes data);
    bool Counts;
};

const ForgedAddress Forged[] = {
    {"100.64.1.1", "exact copy", [](Bytes d) { return d; }, true},
    {"100.64.1.2", "the fixed text without token",
     [](Bytes d) {
         std::fill(d.begin(), d.end(), ' ');
         const std::string text = "VKT reachability probe - echo data follows...";
         std::copy(text.begin(), text.end(), d.begin());
         return d;
     },
     false},
    {"100.64.1.3", "three bytes",
     [](Bytes) {
         return Bytes{'V', 'K', 'T'};
     },
     false},
    {"100.64.1.4", "cut by a byte",
     [](Bytes d) {
         d.pop_back();
         return d;
     },
     false},
    {"100.64.1.5", "one token character changed",
     [](Bytes d) {
         d.back() = d.back() == 'A' ? 'B' : 'A';
         return d;
     },
     false},
};

std::uint16_t Checksum(const Bytes& b) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < b.size(); i += 2)
        sum += (b[i] << 8) | b[i + 1];
    if (b.size() % 2) sum += b.back() << 8;
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

/// Answers every echo request that reaches the namespace for an address of Forged with a reply written
/// whole (IP header included) from that address. Ready once its sockets are open in the namespace.
class Forger {
public:
    explicit Forger(const SilentHostNamespace& ns) : m_thread([this, &ns] { Serve(ns.Name()); }) {}
    ~Forger() {
        m_stop = true;
        m_thread.join();
    }
    /// Waits until the forger listens; false when it could not start.
    bool Ready() { return m_ready.get_future().get(); }

private:
    void Serve(const std::string& ns) {
        const bool entered = NetLab::Enter(ns);
        const int in = entered ? socket(AF_INET, SOCK_RAW, IPPROTO_ICMP) : -1;
        const int out = entered ? socket(AF_INET, SOCK_RAW, IPPROTO_RAW) : -1;
        m_ready.set_value(in >= 0 && out >= 0);
        while (in >= 0 && out >= 0 && !m_stop) {
            pollfd p{in, POLLIN, 0};
            if (poll(&p, 1, 20) == 1) Answer(in, out);
        }
        if (in >= 0) close(in);
        if (out >= 0) close(out);
    }

    static void Answer(int in, int out) {
        std::uint8_t buf[2048];
        const ssize_t n = recv(in, buf, sizeof buf, 0);
        if (n < 28 || buf[0] != 0x45 || buf[20] != 8) return; // echo requests only
        std::uint32_t from, to;
        std::memcpy(&from, buf + 12, 4);
        std::memcpy(&to, buf + 16, 4);
        for (const ForgedAddress& f : Forged) {
            if (to != inet_addr(f.Address)) continue;
            Bytes icmp(buf + 20, buf + 28);
            const Bytes data = f.Forge(Bytes(buf + 28, buf + n));
            icmp.insert(icmp.end(), data.begin(), data.end());
            icmp[0] = 0; // echo reply, identifier and sequence kept
            icmp[2] = icmp[3] = 0;
            const std::uint16_t sum = Checksum(icmp);
            icmp[2] = static_cast<std::uint8_t>(sum >> 8);
            icmp[3] = static_cast<std::uint8_t>(sum);
            Bytes packet(20);
            packet[0] = 0x45;
            packet[8] = 64;
            packet[9] = IPPROTO_ICMP; // length, identification and header checksum are the kernel's
            std::memcpy(&packet[12], &to, 4);
            std::memcpy(&packet[16], &from, 4);
            packet.insert(packet.end(), icmp.begin(), icmp.end());
            sockaddr_in dest{};
            dest.sin_family = AF_INET;
            dest.sin_addr.s_addr = from;
            sendto(out, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&dest), sizeof dest);
        }
    }

    std::promise<bool> m_ready;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

class ForgedReplies : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        if (!lab.Create(why)) GTEST_SKIP() << why;
        ASSERT_TRUE(lab.AddAddresses("100.64.1.0/29"));
        forger = std::make_unique<Forger>(lab);
        ASSERT_TRUE(forger->Ready());
    }
    SilentHostNamespace lab{"forge", "100.64.0"}; // addresses no other test or benchmark routes
    std::unique_ptr<Forger> forger;               // once the namespace is there
};

TEST_F(ForgedReplies, CountOnlyWithTheRequestsWholeDataInBothProbes) {
    std::vector<std::string> addresses{"127.0.0.1"};
    for (const ForgedAddress& f : Forged)
        addresses.push_back(f.Address);
    // The one-at-a-time probe, one worker per address so that the time-outs run side by side.
    std::vector<std::future<std::pair<int, long long>>> sequential;
    for (const std::string& a : addresses) {
        sequential.push_back(std::async(std::launch::async, [a] {
            std::promise<void> finished;
            TPingThread worker(a, [&] { finished.set_value(); });
            finished.get_future().wait();
            return std::pair{worker.Status(), worker.RoundTripTimeUs()};
        }));
    }
    std::map<std::string, SiteResult> engine;
    TScanSettings s;
    s.Parallel = 10;
    ProbeEngine(s).Run(addresses, [&](std::size_t i, SiteResult r) { engine[addresses[i]] = std::move(r); });

    for (std::size_t i = 0; i < addresses.size(); ++i) {
        const bool counts = i == 0 || Forged[i - 1].Counts;
        const std::string what = addresses[i] + (i == 0 ? "" : std::string(" (") + Forged[i - 1].Name + ")");
        const auto [status, rttUs] = sequential[i].get();
        EXPECT_EQ(status, counts ? TPingThread::Answered : TPingThread::NoAnswer) << "one at a time: " << what;
        EXPECT_EQ(engine[addresses[i]].Answered, counts) << "engine: " << what;
        if (!counts) {
            EXPECT_EQ(engine[addresses[i]].LastCause, ProbeCause::TimedOut) << what;
        }
        if (i == 0) {
            EXPECT_GT(rttUs, 0) << "loopback's round trip in microseconds, one at a time";
            EXPECT_GT(engine[addresses[i]].RttAvgUs, 0) << "loopback's round trip in microseconds, engine";
        }
    }
}

/// Identifier and sequence of the first echo request of each probe, as a child run printed them.
struct FirstRequests {
    std::uint16_t EngineId = 0, EngineSeq = 0, ProbeId = 0, ProbeSeq = 0;
};

/// Runs only in the children of the test below, each a fresh start of the program in a network namespace
/// of its own with loopback up and datagram ICMP sockets allowed: one engine probe and one probe of the
/// one-at-a-time kind to loopback, read back by a raw socket and printed.
TEST(EchoStartChild, PrintsTheFirstRequests) {
    if (!std::getenv("VKT_ECHO_START_CHILD")) GTEST_SKIP() << "runs in the children of EchoStart";
    const int sniffer = socket(AF_INET, SOCK_RAW | SOCK_NONBLOCK, IPPROTO_ICMP);
    ASSERT_GE(sniffer, 0);
    ProbeEngine(TScanSettings{}).Run({"127.0.0.1"}, [](std::size_t, SiteResult r) { ASSERT_TRUE(r.Answered); });
    TICMP probe;
    probe.SetAddress("127.0.0.1");
    ASSERT_EQ(probe.Ping(), 1);
    std::vector<std::pair<std::uint16_t, std::uint16_t>> requests;
    std::uint8_t buf[2048];
    for (ssize_t n; (n = recv(sniffer, buf, sizeof buf, 0)) >= 28;) {
        if (buf[20] == 8) requests.emplace_back((buf[24] << 8) | buf[25], (buf[26] << 8) | buf[27]);
    }
    close(sniffer);
    ASSERT_EQ(requests.size(), 2u);
    std::printf("first requests %u %u %u %u\n", requests[0].first, requests[0].second, requests[1].first,
                requests[1].second);
}

FirstRequests StartChild() {
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return {};
    self[n] = '\0';
    const std::string command = "VKT_ECHO_START_CHILD=1 unshare --net sh -c 'ip link set lo up && echo 0 2147483647 "
                                "> /proc/sys/net/ipv4/ping_group_range && exec \"" +
                                std::string(self) + "\" --gtest_filter=EchoStartChild.PrintsTheFirstRequests' 2>&1";
    FILE* p = popen(command.c_str(), "r");
    if (!p) return {};
    std::string text;
    char line[512];
    while (std::fgets(line, sizeof line, p))
        text += line;
    pclose(p);
    FirstRequests r;
    const auto at = text.find("first requests ");
    EXPECT_NE(at, std::string::npos) << text;
    if (at == std::string::npos) return r;
    std::istringstream in(text.substr(at + 15));
    in >> r.EngineId >> r.EngineSeq >> r.ProbeId >> r.ProbeSeq;
    return r;
}

/// How far `b` lies after `a` in 16-bit arithmetic: a counter gives 1 or a few.
int Gap(std::uint16_t a, std::uint16_t b) {
    return static_cast<std::uint16_t>(b - a);
}

TEST(EchoStart, TwoStartsSendDifferentFirstIdentifiersAndSequences) {
    if (geteuid() != 0) GTEST_SKIP() << "the children need a network namespace of their own";
    const FirstRequests first = StartChild(), second = StartChild();
    EXPECT_NE(first.EngineSeq, second.EngineSeq);
    EXPECT_NE(first.ProbeSeq, second.ProbeSeq);
    // Identifiers the kernel hands out count up across the host: two sockets of one start would lie
    // next to each other, and two starts a few apart.
    EXPECT_GT(Gap(first.EngineId, first.ProbeId), 8) << first.EngineId << " then " << first.ProbeId;
    EXPECT_GT(Gap(first.EngineId, second.EngineId), 8) << first.EngineId << " then " << second.EngineId;
    EXPECT_GT(Gap(first.ProbeId, second.ProbeId), 8) << first.ProbeId << " then " << second.ProbeId;
}

} // namespace
