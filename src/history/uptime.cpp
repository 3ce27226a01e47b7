// Uptime windows and the bar from the base and the unwritten figures.
#include "history/uptime.h"

#include "platform/datetime.h"
#include <algorithm>
#include <cmath>

const char* const UptimeWindowNames[UptimeWindows] = {"24h", "7d", "30d", "90d", "365d"};

namespace {

/// The days of each day window.
constexpr int WindowDays[UptimeWindows - 1] = {7, 30, 90, 365};

} // namespace

long long DaysBefore(long long dayStart, int n) {
    // Midday of the day sought: a daylight-saving hour either way still lands in it.
    return LocalDayStart(dayStart - n * SecondsPerDay + 12 * 3600);
}

double Coverage::Percent() const {
    const double covered = Up + Down;
    return covered > 0 ? 100.0 * Up / covered : std::nan("");
}

std::uint8_t BarCell(const Coverage& day) {
    const double percent = day.Percent();
    return std::isnan(percent) ? 0 : static_cast<std::uint8_t>(1 + std::lround(percent * 2));
}

double BarCellPercent(std::uint8_t cell) {
    return (cell - 1) / 2.0;
}

void UptimeBase::SetHour(long long start, double up, double down) {
    HourSlot& slot = Hours[static_cast<std::size_t>((start / 3600) % 24)];
    slot = {start, float(up), float(down)};
}

void UptimeBase::AddHour(long long start, double up, double down) {
    HourSlot& slot = Hours[static_cast<std::size_t>((start / 3600) % 24)];
    if (slot.Start != start) slot = {start, 0, 0};
    slot.Up += float(up);
    slot.Down += float(down);
}

void UptimeBase::AddDay(long long start, double up, double down) {
    if (start < TodayStart) return;
    if (start > TodayStart) {
        TodayStart = start;
        Today = {};
    }
    Today.Add(up, down);
}

UptimeMoment UptimeMoment::At(long long now) {
    UptimeMoment moment;
    moment.FirstHour = HourStart(now) - 23 * 3600;
    moment.Today = LocalDayStart(now);
    for (int w = 0; w < UptimeWindows - 1; ++w)
        moment.FirstDay[w] = DaysBefore(moment.Today, WindowDays[w] - 1);
    return moment;
}

SiteUptime ReckonUptime(const UptimeBase& base, const Rollup::Pending* unwritten, const UptimeMoment& moment) {
    std::array<Coverage, UptimeWindows> windows{};
    for (const UptimeBase::HourSlot& slot : base.Hours)
        if (slot.Start >= moment.FirstHour) windows[0].Add(slot.Up, slot.Down);
    Coverage todays;
    if (base.TodayStart == moment.Today) todays = base.Today;
    for (int w = 1; w < UptimeWindows; ++w) {
        windows[w] = base.Days[w - 1];
        windows[w].Add(todays.Up, todays.Down);
    }
    if (unwritten) {
        for (const auto& [hour, tally] : unwritten->Hours)
            if (hour >= moment.FirstHour) windows[0].Add(tally.UpSeconds, tally.DownSeconds);
        for (const auto& [day, tally] : unwritten->Days) {
            for (int w = 1; w < UptimeWindows; ++w)
                if (day >= moment.FirstDay[w - 1]) windows[w].Add(tally.UpSeconds, tally.DownSeconds);
            if (day == moment.Today) todays.Add(tally.UpSeconds, tally.DownSeconds);
        }
    }
    SiteUptime uptime;
    for (int w = 0; w < UptimeWindows; ++w)
        uptime.Percent[w] = windows[w].Percent();
    std::copy(base.Bar.begin(), base.Bar.end(), uptime.Bar.begin());
    uptime.Bar.back() = BarCell(todays);
    return uptime;
}
