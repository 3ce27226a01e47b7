// Occurrences of maintenance windows: a weekly window's candidates are the few local days around a
// moment, each turned into a moment through the zone's offset, so a year of occurrences costs a few
// hundred calendar steps whatever the window's length.
#include "history/maintenance.h"

#include "platform/datetime.h"
#include "platform/strutil.h"

#include <algorithm>
#include <ctime>
#include <limits>

namespace {

constexpr long long Day = SecondsPerDay;

class LibcTimeZone : public TimeZone {
public:
    long long OffsetAt(long long utc) const override {
        const std::time_t t = static_cast<std::time_t>(utc);
        std::tm local{};
        if (::localtime_r(&t, &local) == nullptr) return 0;
        return local.tm_gmtoff;
    }
};

long long FloorDiv(long long a, long long b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

/// Monday 0 to Sunday 6 of a day counted from 1970-01-01, a Thursday.
int WeekdayOf(long long day) {
    return int(((day + 3) % 7 + 7) % 7);
}

/// The end of the window's life: when it was ended early, else never.
long long LastMoment(const MaintenanceWindow& w) {
    return w.Ended != 0 ? w.Ended : std::numeric_limits<long long>::max();
}

std::optional<TimeSpan> Clipped(TimeSpan span, long long from, long long until, long long t) {
    span.Start = std::max(span.Start, from);
    span.End = std::min(span.End, until);
    if (span.End <= span.Start || span.End <= t) return std::nullopt;
    return span;
}

// The candidates are the local days from the one whose occurrence could still run at `t` to a week
// after it; they begin in order, and all last alike, so the first that ends after `t` is the one.
std::optional<TimeSpan> NextWeekly(const MaintenanceWindow& w, long long t, const TimeZone& zone) {
    const long long from = std::max(t, w.Start);
    const long long today = FloorDiv(UtcToLocal(from, zone), Day);
    const long long back = (w.Seconds + Day - 1) / Day;
    for (long long day = today - back; day <= today + 7; ++day) {
        if ((w.Weekdays & (1 << WeekdayOf(day))) == 0) continue;
        const long long start = LocalToUtc(day * Day + w.DayTime, zone);
        if (auto span = Clipped({start, start + w.Seconds}, w.Start, LastMoment(w), from)) return span;
    }
    return std::nullopt;
}

} // namespace

const TimeZone& LocalTimeZone() {
    static const LibcTimeZone zone;
    return zone;
}

// The offsets a day before and a day after are the only ones a wall-clock time can have near a change.
long long LocalToUtc(long long local, const TimeZone& zone) {
    const long long before = zone.OffsetAt(local - Day);
    const long long after = zone.OffsetAt(local + Day);
    long long best = std::numeric_limits<long long>::max();
    for (long long offset : {before, after})
        if (zone.OffsetAt(local - offset) == offset) best = std::min(best, local - offset);
    return best != std::numeric_limits<long long>::max() ? best : local - before;
}

long long UtcToLocal(long long utc, const TimeZone& zone) {
    return utc + zone.OffsetAt(utc);
}

std::string MaintenanceTag(const std::string& target) {
    const std::string key = SiteCodeKey(Trim(target));
    return key.starts_with("tag:") ? key.substr(4) : std::string();
}

bool MaintenanceWindow::Covers(const std::string& code, const std::vector<std::string>& tags) const {
    if (const std::string tag = MaintenanceTag(Code); !tag.empty())
        return std::find(tags.begin(), tags.end(), tag) != tags.end();
    return Trim(Code) == "*" || SameSiteCode(Code, code);
}

std::optional<TimeSpan> NextOccurrence(const MaintenanceWindow& window, long long t, const TimeZone& zone) {
    if (t >= LastMoment(window)) return std::nullopt;
    if (window.Weekly()) return NextWeekly(window, t, zone);
    return Clipped({window.Start, window.End}, window.Start, LastMoment(window), t);
}

bool HoldsAt(const MaintenanceWindow& window, long long t, const TimeZone& zone) {
    const std::optional<TimeSpan> span = NextOccurrence(window, t, zone);
    return span && span->Start <= t;
}

long long MaintenanceSeconds(const std::vector<MaintenanceWindow>& windows, const std::string& code, long long t0,
                             long long t1, const TimeZone& zone, const std::vector<std::string>& tags) {
    std::vector<TimeSpan> spans;
    for (const MaintenanceWindow& w : windows) {
        if (!w.Covers(code, tags)) continue;
        for (long long at = t0; at < t1;) {
            const std::optional<TimeSpan> span = NextOccurrence(w, at, zone);
            if (!span || span->Start >= t1) break;
            spans.push_back({std::max(span->Start, at), std::min(span->End, t1)});
            at = span->End;
        }
    }
    std::sort(spans.begin(), spans.end(), [](const TimeSpan& a, const TimeSpan& b) { return a.Start < b.Start; });
    long long total = 0, covered = t0;
    for (const TimeSpan& s : spans) {
        const long long start = std::max(s.Start, covered);
        if (s.End > start) total += s.End - start;
        covered = std::max(covered, s.End);
    }
    return total;
}
