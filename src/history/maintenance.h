// Maintenance windows and their occurrences: a one-off window from a start to an end, or a weekly one
// that begins on chosen weekdays at a time of day in the daemon's time zone and lasts a fixed time.
// Occurrences are computed from the calendar, never found by stepping through time. Moments are whole
// seconds since 1970 (UTC); the clock and the time zone are the caller's.
#pragma once

#include "platform/datetime.h"

#include <optional>
#include <string>
#include <vector>

/// A time zone as the occurrences need it: its offset from UTC at a moment.
class TimeZone {
public:
    virtual ~TimeZone() = default;
    /// Seconds east of UTC in force at the moment `utc`.
    virtual long long OffsetAt(long long utc) const = 0;
};

/// The process's time zone (TZ, else the system's), read through the C library.
const TimeZone& LocalTimeZone();

/// The moment at which the zone's wall clock shows `local` (seconds since 1970 on that clock). A time
/// shown twice (clocks going back) is its first moment; one never shown (clocks going forward) is the
/// moment the same distance past the change, so 02:30 on the night the clocks jump to 03:00 is 03:30.
long long LocalToUtc(long long local, const TimeZone& zone);
/// What the zone's wall clock shows at `utc`, in seconds since 1970 on that clock.
long long UtcToLocal(long long utc, const TimeZone& zone);

/// The half-open stretch [Start, End) of whole seconds.
struct TimeSpan {
    long long Start = 0;
    long long End = 0;
    bool operator==(const TimeSpan&) const = default;
};

struct MaintenanceWindow {
    /// Chosen by the daemon that made it; unique in the table.
    long long Id = 0;
    /// A site code, "*" for every site of the Daemon ID, or "tag:T" for every site with tag T.
    std::string Code;
    /// One-off: its start. Weekly: when it was made; no occurrence counts before it.
    long long Start = 0;
    /// One-off: its end. Weekly: unused (0).
    long long End = 0;
    /// Weekly: the weekdays it begins on, bit 0 Monday to bit 6 Sunday; 0 for a one-off window.
    int Weekdays = 0;
    /// Weekly: seconds after local midnight at which each occurrence begins.
    int DayTime = 0;
    /// Weekly: how long each occurrence lasts, in seconds of real time.
    int Seconds = 0;
    /// Ended early at this moment (a weekly window for good); 0 while it was not.
    long long Ended = 0;
    std::string Reason;
    /// The [Web] user that made it, or the address the request came from without a login.
    std::string MadeBy;

    bool Weekly() const { return Weekdays != 0; }
    /// Whether the window is for this site (any case), one of its tags, or every site.
    bool Covers(const std::string& code, const std::vector<std::string>& tags = {}) const;
};

/// The longest occurrence of a weekly window: a week.
constexpr int MaxWeeklySeconds = static_cast<int>(7 * SecondsPerDay);

/// The window's occurrence that holds `t`, else the first that begins after it; none when no more comes.
std::optional<TimeSpan> NextOccurrence(const MaintenanceWindow& window, long long t, const TimeZone& zone);
/// Whether the window holds the moment `t`.
bool HoldsAt(const MaintenanceWindow& window, long long t, const TimeZone& zone);
/// The tag a window's target "tag:T" names (lower case); "" for a code or "*".
std::string MaintenanceTag(const std::string& target);

/// The seconds of [t0, t1) that the windows covering `code` (with `tags`) hold; a second held by two
/// counts once.
long long MaintenanceSeconds(const std::vector<MaintenanceWindow>& windows, const std::string& code, long long t0,
                             long long t1, const TimeZone& zone, const std::vector<std::string>& tags = {});
