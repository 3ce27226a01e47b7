// Uptime over the last 24 hours, 7, 30, 90 and 365 days and a 90-day bar, reckoned from what the
// hourly and daily rows hold (kept here as a base) and the figures not written yet.
#pragma once

#include "history/outagebook.h"
#include "history/rollup.h"

#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

constexpr int UptimeWindows = 5;
/// The windows' names as /status.json and /metrics give them.
extern const char* const UptimeWindowNames[UptimeWindows];
/// The days of the status page's bar, today included.
constexpr int BarDays = 90;

/// The local midnight `n` days before the one at `dayStart`.
long long DaysBefore(long long dayStart, int n);

/// Seconds a site's results covered, up and down.
struct Coverage {
    double Up = 0, Down = 0;
    void Add(double up, double down) {
        Up += up;
        Down += down;
    }
    /// Up over covered, in per cent; NaN when nothing was covered.
    double Percent() const;
};

/// A bar cell: 0 when nothing was covered, else 1 + the per cent doubled and rounded (1 to 201).
std::uint8_t BarCell(const Coverage& day);
/// The per cent of a cell other than 0.
double BarCellPercent(std::uint8_t cell);

/// What the tables hold of one site for its windows.
struct UptimeBase {
    /// The written hourly rows of the last 24 hours, each in the slot of its hour.
    struct HourSlot {
        long long Start = -1;
        float Up = 0, Down = 0;
    };
    std::array<HourSlot, 24> Hours{};
    /// Today's written daily row.
    long long TodayStart = 0;
    Coverage Today;
    /// The complete days before today within the 7-, 30-, 90- and 365-day windows.
    std::array<Coverage, UptimeWindows - 1> Days{};
    /// The days before today, oldest first (the last cell is yesterday's).
    std::array<std::uint8_t, BarDays - 1> Bar{};

    /// Puts a written hourly row in its slot.
    void SetHour(long long start, double up, double down);
    /// Adds written figures to their hour's slot and, from today on, to today's row.
    void AddHour(long long start, double up, double down);
    void AddDay(long long start, double up, double down);
};

/// A site's uptime per window in per cent (NaN: nothing covered) and its bar, oldest day first.
struct SiteUptime {
    std::array<double, UptimeWindows> Percent{};
    std::array<std::uint8_t, BarDays> Bar{};
};

/// The moment the windows are reckoned at: where each begins.
struct UptimeMoment {
    long long FirstHour = 0, Today = 0;
    std::array<long long, UptimeWindows - 1> FirstDay{};
    static UptimeMoment At(long long now);
};

/// The site's uptime at `moment`: its base and its figures not written yet (none: nullptr).
SiteUptime ReckonUptime(const UptimeBase& base, const Rollup::Pending* unwritten, const UptimeMoment& moment);

/// History as the status pages see it at one moment: every site's uptime, the figures and outages not
/// yet written, and where the tables are read.
struct UptimeView {
    std::unordered_map<std::string, SiteUptime> Sites;
    std::unordered_map<std::string, Rollup::Pending> Unwritten;
    std::vector<OutageRecord> UnwrittenOutages;
    /// The connection string of the database holding the tables, and this daemon's rows' node.
    std::string Database;
    std::string Node;

    const SiteUptime* Find(const std::string& code) const {
        const auto at = Sites.find(code);
        return at == Sites.end() ? nullptr : &at->second;
    }
};
