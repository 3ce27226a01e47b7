// The time-weighted uptime: what each result covers, gaps, maintenance, hour boundaries, and the
// windows reckoned from written rows and unwritten figures.
#include "history/uptime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

namespace {

/// An hour boundary that is midnight in UTC: the cases below stay within one local day wherever the
/// test runs, as long as its zone is a whole number of hours off (the day tallies are not compared).
constexpr long long T0 = 1796774400;
constexpr long long MaxHold = 300;

class Windows : public MaintenanceSpans {
public:
    explicit Windows(std::vector<std::pair<long long, long long>> spans) : m_spans(std::move(spans)) {}
    long long SecondsIn(const std::string&, long long from, long long to) const override {
        long long seconds = 0;
        for (const auto& [start, end] : m_spans)
            seconds += std::max(0LL, std::min(to, T0 + end) - std::max(from, T0 + start));
        return seconds;
    }

private:
    std::vector<std::pair<long long, long long>> m_spans;
};

/// 'u' up, 'd' down, 's' an address whose code has not all answered yet, 'x' the daemon stops.
struct Event {
    long long At;
    char What;
};

struct RollupCase {
    const char* Name;
    std::vector<Event> Events;
    std::vector<std::pair<long long, long long>> Maintenance;
    long long End; ///< the figures are taken here
    double Up, Down, InMaintenance;
    std::size_t Hours;
    double Percent; ///< 24 hours; NaN: nothing covered
};

void PrintTo(const RollupCase& c, std::ostream* os) {
    *os << c.Name;
}

class RollupTable : public ::testing::TestWithParam<RollupCase> {};

TEST_P(RollupTable, CoversEachStretchByTheResultBeforeIt) {
    const RollupCase& c = GetParam();
    const Windows windows(c.Maintenance);
    Rollup rollup(windows, MaxHold);
    for (const Event& e : c.Events) {
        if (e.What == 'x') {
            rollup.Stop(T0 + e.At);
            continue;
        }
        const SiteState state = e.What == 'u' ? SiteState::Up : e.What == 'd' ? SiteState::Down : SiteState::Unchanged;
        rollup.Probed("A1", T0 + e.At, ProbeCounts{e.What != 'd', 1, e.What != 'd' ? 1 : 0, 900, 1000, 1100}, state);
    }
    rollup.Advance(T0 + c.End);
    const Rollup::Pending pending = rollup.Unwritten().at("A1");
    Tally total;
    for (const auto& [hour, tally] : pending.Hours)
        total.Add(tally);
    EXPECT_DOUBLE_EQ(total.UpSeconds, c.Up);
    EXPECT_DOUBLE_EQ(total.DownSeconds, c.Down);
    EXPECT_DOUBLE_EQ(total.MaintenanceSeconds, c.InMaintenance);
    EXPECT_EQ(pending.Hours.size(), c.Hours);
    const double percent = ReckonUptime({}, &pending, UptimeMoment::At(T0 + c.End)).Percent[0];
    if (std::isnan(c.Percent))
        EXPECT_TRUE(std::isnan(percent)) << percent;
    else
        EXPECT_NEAR(percent, c.Percent, 1e-9);
}

INSTANTIATE_TEST_SUITE_P(
    Uptime, RollupTable,
    ::testing::Values(
        RollupCase{"EachResultHoldsUntilTheNext", {{0, 'u'}, {100, 'd'}, {160, 'u'}}, {}, 200, 140, 60, 0, 1, 70},
        RollupCase{"StretchBeyondTheLongestHoldIsAGap", {{0, 'u'}, {1000, 'd'}}, {}, 1100, 300, 100, 0, 1, 75},
        RollupCase{"AnAddressStillToAnswerKeepsTheState", {{0, 'd'}, {50, 's'}}, {}, 100, 0, 100, 0, 1, 0},
        RollupCase{"StoppedDaemonLeavesAGap", {{0, 'u'}, {100, 'x'}, {500, 'd'}}, {}, 600, 100, 100, 0, 1, 50},
        RollupCase{"NothingBeforeTheFirstResult", {{200, 's'}}, {}, 300, 0, 0, 0, 1, std::nan("")},
        RollupCase{"MaintenanceCountsNeitherWay", {{0, 'u'}, {300, 'd'}}, {{200, 400}}, 600, 200, 200, 200, 1, 50},
        RollupCase{"WholeOutageInMaintenance", {{0, 'd'}}, {{0, 300}}, 300, 0, 0, 300, 1, std::nan("")},
        RollupCase{"StretchAcrossAnHourIsSplit", {{3500, 'u'}}, {}, 3700, 200, 0, 0, 2, 100}),
    [](const ::testing::TestParamInfo<RollupCase>& info) { return std::string(info.param.Name); });

TEST(UptimeWindows, WrittenRowsAndUnwrittenFiguresMeetInEachWindow) {
    const long long now = T0 + 30 * 60;
    const UptimeMoment moment = UptimeMoment::At(now);
    UptimeBase base;
    base.SetHour(HourStart(now) - 23 * 3600, 900, 100); // the oldest hour of the 24
    base.SetHour(HourStart(now) - 24 * 3600, 0, 3600);  // one hour too old: its slot is taken by no one
    base.TodayStart = moment.Today;
    base.Today = {3000, 0};
    base.Days = {Coverage{1000, 1000}, Coverage{2000, 1000}, Coverage{2000, 1000}, Coverage{2000, 1000}};
    base.Bar[BarDays - 2] = BarCell({1, 1});
    Rollup::Pending unwritten;
    unwritten.Hours[HourStart(now)].UpSeconds = 100;
    unwritten.Days[moment.Today].UpSeconds = 100;
    const SiteUptime uptime = ReckonUptime(base, &unwritten, moment);
    EXPECT_DOUBLE_EQ(uptime.Percent[0], 100.0 * 1000 / 1100);
    EXPECT_DOUBLE_EQ(uptime.Percent[1], 100.0 * 4100 / 5100);
    EXPECT_DOUBLE_EQ(uptime.Percent[2], 100.0 * 5100 / 6100);
    EXPECT_DOUBLE_EQ(BarCellPercent(uptime.Bar[BarDays - 2]), 50.0);
    EXPECT_DOUBLE_EQ(BarCellPercent(uptime.Bar[BarDays - 1]), 100.0);
    EXPECT_EQ(uptime.Bar[0], 0) << "a day without figures";
}

} // namespace
