// The [Scan] keys as read from vkt.ini, and the hand-over of results in site-list order.
#include "scan/scansequencer.h"
#include "scan/scansettings.h"
#include "testutil.h"

#include <gtest/gtest.h>

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

} // namespace
