// The probe: what TICMP sends and when it sends nothing, how TPingThread reports, and how PingSite
// waits for it and reports failures. Real echoes go to loopback only.
#include "scan/icmp.h"
#include "test_icmp_support.h"

#include <arpa/inet.h>

#include <condition_variable>
#include <string>

namespace {

using namespace std::chrono_literals;

std::string AsText(const std::vector<std::uint8_t>& data) {
    return std::string(data.begin(), data.end());
}

class ProbeObject : public ::testing::Test {
protected:
    ScopedScriptedEcho echo;
};

TEST_F(ProbeObject, NumericAddressesAreSentWithoutLookupAndTheDefaults) {
    for (const auto& [address, ip] : {std::pair{"127.0.0.1", "127.0.0.1"}, std::pair{"10.1", "10.0.0.1"}}) {
        TICMP probe;
        probe.SetAddress(address);
        EXPECT_EQ(probe.Ping(), 0);
        EXPECT_EQ(probe.HostName, address);
        EXPECT_EQ(probe.HostIP, ip);
        EXPECT_EQ(echo.script->address, inet_addr(ip));
    }
    EXPECT_EQ(echo.script->options.Ttl, 64);
    EXPECT_EQ(echo.script->options.Flags, 0);
    EXPECT_EQ(echo.script->timeout, 4000ms);
    EXPECT_EQ(echo.script->data.size(), 56u);
}

struct EchoDataCase {
    int size;
    std::string expected;
};

std::ostream& operator<<(std::ostream& os, const EchoDataCase& c) {
    return os << "size " << c.size;
}

class EchoData : public ::testing::TestWithParam<EchoDataCase> {
protected:
    ScopedScriptedEcho echo;
};

TEST_P(EchoData, IsTheFixedTextCutOrFilledWithBlanks) {
    TICMP probe;
    probe.Size = GetParam().size;
    probe.SetAddress("127.0.0.1");
    probe.Ping();
    EXPECT_EQ(AsText(echo.script->data), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Sizes, EchoData,
                         ::testing::Values(EchoDataCase{0, ""}, EchoDataCase{10, "VKT reacha"},
                                           EchoDataCase{45, "VKT reachability probe - echo data follows..."},
                                           EchoDataCase{56, "VKT reachability probe - echo data follows..." +
                                                                std::string(11, ' ')}));

TEST_F(ProbeObject, UnresolvableNameSendsNothingAndAnswersAtOnce) {
    TICMP probe;
    probe.SetAddress(UnresolvableName());
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(probe.Ping(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 3s) << "waited for the 4-s time-out";
    EXPECT_EQ(probe.LastError, 11018);
    EXPECT_FALSE(probe.Resolved);
    EXPECT_EQ(echo.script->calls, 0);
}

struct WorkerCase {
    const char* name;
    unsigned replies;
    bool raises;
    int status;
    bool failed;
    int rtt;
};

class PingWorker : public ::testing::TestWithParam<WorkerCase> {
protected:
    ScopedScriptedEcho echo;
};

TEST_P(PingWorker, ReportsStatusErrorAndRoundTripTime) {
    const WorkerCase& c = GetParam();
    echo.script->answer = [c](IcmpEchoReply& reply, std::uint32_t&) -> unsigned {
        if (c.raises) throw EIcmpEchoError("receiving from the ICMP socket failed");
        reply.RoundTripTime = 17;
        return c.replies;
    };
    std::atomic<bool> finished{false};
    TPingThread worker("127.0.0.1", [&] { finished = true; });
    while (!finished)
        std::this_thread::yield();
    // PingSite is woken by the callback and must then see the worker as ended.
    EXPECT_FALSE(worker.Running());
    EXPECT_EQ(worker.Status(), c.status);
    EXPECT_EQ(worker.Failed(), c.failed);
    if (c.failed) {
        EXPECT_EQ(worker.ErrorText(), "receiving from the ICMP socket failed");
    }
    if (c.status == TPingThread::Answered) {
        EXPECT_EQ(worker.RoundTripTime(), c.rtt);
    }
}

std::ostream& operator<<(std::ostream& os, const WorkerCase& c) {
    return os << c.name;
}

INSTANTIATE_TEST_SUITE_P(Outcomes, PingWorker,
                         ::testing::Values(WorkerCase{"Answered", 1, false, 1, false, 17},
                                           WorkerCase{"NoAnswer", 0, false, 50, false, 0},
                                           WorkerCase{"ProbeRaised", 0, true, 0, true, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

class PingSiteScripted : public ::testing::Test {
protected:
    ScopedScriptedEcho echo;
    ConsoleWithLoop console;
    int rtt = -1;
};

TEST_F(PingSiteScripted, AnsweringSiteGivesItsRoundTripTime) {
    echo.script->answer = [](IcmpEchoReply& reply, std::uint32_t&) {
        reply.RoundTripTime = 7;
        return 1u;
    };
    EXPECT_TRUE(console.form.PingSite("127.0.0.1", rtt));
    EXPECT_EQ(rtt, 7);
    EXPECT_EQ(console.form.memLog.LineCount(), 0u);
}

TEST_F(PingSiteScripted, WorkerErrorIsABarePaneLineOnly) {
    echo.script->answer = [](IcmpEchoReply&, std::uint32_t&) -> unsigned {
        throw EIcmpEchoError("receiving from the ICMP socket failed");
    };
    EXPECT_FALSE(console.form.PingSite("127.0.0.1", rtt));
    EXPECT_EQ(console.form.memLog.Lines(), std::vector<std::string>{"receiving from the ICMP socket failed"});
    EXPECT_EQ(console.LogFile(), "");
    EXPECT_EQ(rtt, -1);
}

TEST_F(PingSiteScripted, EveryProbeWithoutHandleLogsTheErrorLine) {
    *echo.openError = "no permission";
    EXPECT_FALSE(console.form.PingSite("127.0.0.1", rtt));
    EXPECT_FALSE(console.form.PingSite("127.0.0.2", rtt));
    const std::string line = "2026-12-07 08:00:00   [ERROR]    Exception during ICMP send echo.Unable to get ping "
                             "handle: no permission \r\n";
    EXPECT_EQ(console.LogFile(), line + line);
}

TEST_F(PingSiteScripted, MessageLoopRunsWhileTheProbeWaits) {
    // The echo answers only once a timer of the console's loop has fired: a loop that stood still during
    // the probe would leave it unanswered after 10 s.
    std::mutex lock;
    std::condition_variable fired;
    bool timerRan = false;
    echo.script->answer = [&](IcmpEchoReply&, std::uint32_t&) {
        std::unique_lock<std::mutex> guard(lock);
        return fired.wait_for(guard, 10s, [&] { return timerRan; }) ? 1u : 0u;
    };
    console.loop->SetTimer(20ms, false, [&] {
        std::lock_guard<std::mutex> guard(lock);
        timerRan = true;
        fired.notify_all();
    });
    EXPECT_TRUE(console.form.PingSite("127.0.0.1", rtt));
}

class PingSiteLoopback : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        if (!CanOpenIcmp(why)) GTEST_SKIP() << why;
    }
    ConsoleWithLoop console;
};

TEST_F(PingSiteLoopback, LoopbackAndLocalhostAnswerWithARoundTripTime) {
    for (const char* address : {"127.0.0.1", "localhost", "127.0.0.2"}) {
        int rtt = -1;
        EXPECT_TRUE(console.form.PingSite(address, rtt)) << address;
        EXPECT_GE(rtt, 0) << address;
        EXPECT_LT(rtt, 1000) << address;
    }
    EXPECT_EQ(console.LogFile(), "");
}

TEST_F(PingSiteLoopback, RefusedAndUnresolvableAddressesDoNotAnswer) {
    for (const std::string& address : {std::string("0.0.0.0"), std::string("255.255.255.255"), UnresolvableName()}) {
        int rtt = -1;
        auto started = std::chrono::steady_clock::now();
        EXPECT_FALSE(console.form.PingSite(address, rtt)) << address;
        EXPECT_LT(std::chrono::steady_clock::now() - started, 3s) << address << ": waited for the 4-s time-out";
    }
}

} // namespace
