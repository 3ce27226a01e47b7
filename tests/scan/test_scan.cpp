// The [Scan] keys as read from vkt.ini, site addresses as the probes read them, the hand-over of
// results in site-list order, and when the path tracer traces an outage.
#include "platform/probeaddress.h"
#include "scan/pathtracer.h"
#include "scan/scansequencer.h"
#include "scan/scansettings.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

struct SettingsCase {
    const char* Name;
    const char* Section;
    int Parallel, SendInterval, Echoes, EchoInterval;
};

class ScanSettingsRead : public ::testing::TestWithParam<SettingsCase> {};

TEST_P(ScanSettingsRead, KeysReadWithTheirDefaultsAndBounds) {
    const SettingsCase& c = GetParam();
    TempDir dir;
    WriteFileText(dir.File("vkt.ini"), std::string("[System]\r\nPollDelay=5\r\n") + c.Section);
    const TScanSettings s = ReadScanSettings(dir.File("vkt.ini"));
    EXPECT_EQ(s.Parallel, c.Parallel);
    EXPECT_EQ(s.SendInterval, c.SendInterval);
    EXPECT_EQ(s.Echoes, c.Echoes);
    EXPECT_EQ(s.EchoInterval, c.EchoInterval);
    EXPECT_EQ(s.Concurrent(), c.Parallel > 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ScanSettingsRead,
    ::testing::Values(
        SettingsCase{"Absent", "", 0, 100, 1, 1000},
        SettingsCase{"Set", "[scan]\r\nparallel=500\r\nSendInterval=0\r\nEchoes=3\r\nEchoInterval=250\r\n", 500, 0, 3,
                     250},
        SettingsCase{"NotNumbers", "[Scan]\r\nParallel=many\r\nSendInterval=fast\r\nEchoes=\r\n", 0, 100, 1, 1000},
        SettingsCase{"OutOfRange", "[Scan]\r\nParallel=2000000\r\nSendInterval=-5\r\nEchoes=0\r\n", 1000000, 100, 1,
                     1000},
        SettingsCase{"Negative", "[Scan]\r\nParallel=-1\r\nEchoInterval=-1\r\n", 0, 100, 1, 1000}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(ScanSettingsRead, FamilyKeyAndItsPresence) {
    const std::pair<const char*, AddressFamily> cases[] = {{"", AddressFamily::Auto},
                                                           {"Family=auto\r\n", AddressFamily::Auto},
                                                           {"Family= V6 \r\n", AddressFamily::V6},
                                                           {"family=both\r\n", AddressFamily::Both},
                                                           {"Family=ipv7\r\n", AddressFamily::Auto}};
    for (const auto& [line, family] : cases) {
        TempDir dir;
        WriteFileText(dir.File("vkt.ini"), std::string("[Scan]\r\n") + line);
        const TScanSettings s = ReadScanSettings(dir.File("vkt.ini"));
        EXPECT_EQ(s.Family, family) << line;
        EXPECT_EQ(s.FamilyGiven, *line != '\0') << line;
    }
}

TEST(ProbeAddressParse, LiteralsNamesAndTcpSites) {
    struct Case {
        const char* Address;
        std::string Host;
        int Port;
        const char* Literal; // the literal's text; empty for a name
    };
    for (const Case& c :
         {Case{"10.0.0.1", "10.0.0.1", 0, "10.0.0.1"}, Case{"2001:db8::1", "2001:db8::1", 0, "2001:db8::1"},
          Case{"[2001:db8::1]", "2001:db8::1", 0, "2001:db8::1"}, Case{"255.255.255.255", "255.255.255.255", 0, ""},
          Case{"host.example", "host.example", 0, ""}, Case{"tcp://10.0.0.1:443", "10.0.0.1", 443, "10.0.0.1"},
          Case{"TCP://[::1]:22", "::1", 22, "::1"}, Case{"tcp://db.example:5432", "db.example", 5432, ""},
          Case{"tcp://::1:22", "tcp://::1:22", 0, ""}, Case{"tcp://host:0", "tcp://host:0", 0, ""},
          Case{"tcp://host:65536", "tcp://host:65536", 0, ""}, Case{"tcp://host", "tcp://host", 0, ""}}) {
        const ProbeAddress p = ProbeAddress::Parse(c.Address);
        EXPECT_EQ(p.Host, c.Host) << c.Address;
        EXPECT_EQ(p.Port, c.Port) << c.Address;
        EXPECT_EQ(p.Literal.Text(), c.Literal) << c.Address;
    }
}

TEST(CombineFamilies, AnswersOnlyWhenBothDidAndNamesTheFailedOne) {
    SiteResult up, down;
    up.Answered = true;
    up.Sent = up.Received = 1;
    up.RttMin = up.RttAvg = up.RttMax = 2;
    up.RttAvgUs = 2000;
    up.Probed = "10.0.0.1";
    down.Sent = 1;
    down.LastCause = ProbeCause::TimedOut;
    down.Probed = "2001:db8::1";
    const SiteResult half = CombineFamilies(up, down), both = CombineFamilies(up, up),
                     none = CombineFamilies(down, down);
    EXPECT_FALSE(half.Answered);
    EXPECT_EQ(half.FailedFamily, "v6");
    EXPECT_EQ(half.LastCause, ProbeCause::TimedOut);
    EXPECT_EQ(half.Probed, "10.0.0.1 2001:db8::1");
    EXPECT_EQ(half.Sent, 2);
    EXPECT_EQ(half.Received, 1);
    EXPECT_TRUE(both.Answered);
    EXPECT_EQ(both.RttAvg, 2);
    EXPECT_EQ(both.FailedFamily, "");
    EXPECT_EQ(none.FailedFamily, "v4 v6");
    EXPECT_EQ(CombineFamilies(down, up).FailedFamily, "v4");
}

SiteResult Result(const std::string& address) {
    SiteResult r;
    r.Address = address;
    return r;
}

TEST(ScanSequencer, ResultsLeaveInListOrderOnceEveryEarlierSiteIsDone) {
    ScanSequencer s(4);
    s.Put(2, Result("c"));
    s.Put(1, Result("b"));
    EXPECT_FALSE(s.HasReady());
    EXPECT_TRUE(s.TakeReady().empty());
    s.Put(0, Result("a"));
    std::vector<SiteResult> ready = s.TakeReady();
    ASSERT_EQ(ready.size(), 3u);
    EXPECT_EQ(ready[0].Address + ready[1].Address + ready[2].Address, "abc");
    EXPECT_FALSE(s.Done());
    s.Put(3, Result("d"));
    EXPECT_EQ(s.TakeReady().size(), 1u);
    EXPECT_TRUE(s.Done());
}

TEST(ScanSequencer, TakesAtMostAsManyAsAskedAcrossItsBlocks) {
    const std::size_t sites = 2500;
    ScanSequencer s(sites);
    for (std::size_t i = sites; i-- > 0;)
        s.Put(i, Result(std::to_string(i)));
    std::vector<std::size_t> sizes;
    std::size_t next = 0;
    for (std::vector<SiteResult> ready; !(ready = s.TakeReady(1000)).empty();) {
        sizes.push_back(ready.size());
        for (const SiteResult& r : ready)
            ASSERT_EQ(r.Address, std::to_string(next++));
    }
    EXPECT_EQ(sizes, (std::vector<std::size_t>{1000, 1000, 500}));
    EXPECT_TRUE(s.Done());
}

// One trace per outage of a site address, the first one included when it never answered since the
// start; an answer ends the outage. The loopback address is traced in milliseconds (or fails at once
// without the right to send ICMP: a finished trace all the same).
TEST(PathTracer, TracesEachOutageOnceAlsoWhenNeverAnswered) {
    PathTracer tracer;
    // The traces finished within `wait`, or as soon as `enough` have.
    const auto finished = [&tracer](std::chrono::milliseconds wait, std::size_t enough) {
        std::size_t n = 0;
        for (const auto end = std::chrono::steady_clock::now() + wait;
             n < enough && std::chrono::steady_clock::now() < end;
             std::this_thread::sleep_for(std::chrono::milliseconds(20)))
            n += tracer.TakeFinished().size();
        return n;
    };
    tracer.Record("A1", "127.0.0.1", false);
    EXPECT_EQ(finished(std::chrono::seconds(10), 1), 1u) << "the outage seen first";
    EXPECT_NE(tracer.Find("A1"), nullptr);
    tracer.Record("A1", "127.0.0.1", false);
    EXPECT_EQ(finished(std::chrono::seconds(1), 1), 0u) << "the same outage";
    tracer.Record("A1", "127.0.0.1", true);
    EXPECT_EQ(tracer.Find("A1"), nullptr);
    tracer.Record("A1", "127.0.0.1", false);
    EXPECT_EQ(finished(std::chrono::seconds(10), 1), 1u) << "the next outage";
}

} // namespace
