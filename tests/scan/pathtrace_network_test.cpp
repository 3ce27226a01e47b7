// The path trace through a chain of namespaces of the test's own: client, two routers and a target
// that ignores echo requests. The trace runs in the client, over a raw and over a datagram socket
// (their ICMP errors arrive by different ways). Needs root (skipped otherwise).
#include "netlab.h"
#include "scan/pathtrace.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <future>
#include <sched.h>
#include <unistd.h>

namespace {

/// client 10.27.1.1 -> r1 10.27.1.2 | 10.27.2.1 -> r2 10.27.2.2 | 10.27.3.1 -> target 10.27.3.2
class Chain {
public:
    bool Create(bool datagram, std::string& why) {
        if (!m_lab.Open(why)) return false;
        m_client = m_lab.AddNamespace("c");
        const std::string r1 = m_lab.AddNamespace("r1"), r2 = m_lab.AddNamespace("r2"), t = m_lab.AddNamespace("t");
        m_lab.Link(m_client, "10.27.1.1", r1, "10.27.1.2", 24);
        m_lab.Link(r1, "10.27.2.1", r2, "10.27.2.2", 24);
        m_lab.Link(r2, "10.27.3.1", t, "10.27.3.2", 24);
        m_lab.DoIn(m_client, "ip route add default via 10.27.1.2");
        m_lab.DoIn(r1, "ip route add default via 10.27.2.2");
        m_lab.DoIn(r2, "ip route add 10.27.1.0/24 via 10.27.2.1");
        m_lab.DoIn(t, "ip route add default via 10.27.3.1");
        m_lab.Forward(r1);
        m_lab.Forward(r2);
        if (datagram) m_lab.DoIn(m_client, "echo 0 2147483647 > /proc/sys/net/ipv4/ping_group_range");
        if (!m_lab.Ready(why)) return false; // the target still answers here: every link carries echoes
        if (m_lab.DoIn(t, "echo 1 > /proc/sys/net/ipv4/icmp_echo_ignore_all")) return true;
        why = "the target cannot be made to ignore echo requests";
        return false;
    }
    /// Runs the trace on a thread inside the client namespace.
    PathTraceResult Trace(const std::string& address) {
        return std::async(std::launch::async,
                          [&] {
                              if (!NetLab::Enter(m_client))
                                  return PathTraceResult{address, {}, false, "cannot enter the client namespace"};
                              return PathTrace::Run(address);
                          })
            .get();
    }

private:
    NetLab m_lab{"trace", ""}; // every address lives inside the namespaces
    std::string m_client;
};

class PathTraceChain : public ::testing::TestWithParam<bool> {};

TEST_P(PathTraceChain, NamesTheLastHopThatAnswered) {
    Chain chain;
    std::string why;
    if (!chain.Create(GetParam(), why)) GTEST_SKIP() << why;

    struct Case {
        const char* target;
        bool reached;
        std::size_t hops;
        const char* pathEnd;
    };
    for (const Case& c : {Case{"10.27.3.2", false, 3, "10.27.2.2 (hop 2)"}, // the target drops echoes
                          Case{"10.27.2.2", true, 2, "10.27.2.2 (hop 2)"}}) {
        const PathTraceResult r = chain.Trace(c.target);
        SCOPED_TRACE(c.target);
        ASSERT_EQ(r.ErrorText, "");
        EXPECT_EQ(r.Reached, c.reached);
        ASSERT_EQ(r.Hops.size(), c.hops) << r.Json();
        EXPECT_EQ(r.Hops[0].Address, "10.27.1.2");
        EXPECT_GE(r.Hops[0].RttMs, 0);
        EXPECT_EQ(r.PathEnd(), c.pathEnd);
    }
    const PathTraceResult silent = chain.Trace("10.27.3.2");
    EXPECT_EQ(silent.Hops.back().Address, ""); // the hop where silence begins
    EXPECT_NE(silent.Json().find("\"last_hop\":2,\"last_address\":\"10.27.2.2\""), std::string::npos) << silent.Json();
}

INSTANTIATE_TEST_SUITE_P(Sockets, PathTraceChain, ::testing::Values(false, true),
                         [](const auto& info) { return std::string(info.param ? "Datagram" : "Raw"); });

} // namespace
