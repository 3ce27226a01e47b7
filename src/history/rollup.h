// Every site's probes rolled up per hour and per local day: probe and echo counts, round-trip times,
// and the seconds its results covered. Each result holds until the next one of the site: the stretch
// in between counts as up or down by that result, less the seconds in maintenance; a stretch longer
// than the longest a result may hold, and any time before a site's first result of this run, counts
// neither way.
#pragma once

#include "history/uptimemaintenance.h"

#include <map>
#include <string>
#include <unordered_map>

/// Seconds since 1970 of the hour `t` falls in, and of the local midnight that begins its day.
long long HourStart(long long t);
long long LocalDayStart(long long t);
/// The local midnight after the one at `dayStart` (days of 23 or 25 hours included).
long long NextLocalDay(long long dayStart);

/// One probe of one site address, as the rollup counts it.
struct ProbeCounts {
    bool Answered = false;
    int Sent = 0, Received = 0;
    long long RttMinUs = 0, RttAvgUs = 0, RttMaxUs = 0; ///< over the replies; 0 without any
};

/// A site's figures over one hour or one day.
struct Tally {
    long long Probes = 0, Answered = 0, Sent = 0, Received = 0;
    long long RttMinUs = 0, RttAvgUs = 0, RttMaxUs = 0; ///< over the received echoes; 0 without any
    double UpSeconds = 0, DownSeconds = 0, MaintenanceSeconds = 0;

    void AddProbe(const ProbeCounts& probe);
    /// Adds another tally of the same site and span (the averages weighted by their echoes).
    void Add(const Tally& other);
    /// Up seconds over covered seconds, in per cent; NaN when nothing was covered.
    double UptimePercent() const;
};

/// What a site's result says of it from now on.
enum class SiteState {
    Unchanged, ///< one address of a code answered while another is still to answer
    Up,
    Down
};

class Rollup {
public:
    /// `maxHoldSeconds`: the longest a result holds; the rest of a longer stretch is a gap.
    Rollup(const MaintenanceSpans& maintenance, long long maxHoldSeconds)
        : m_maintenance(&maintenance), m_maxHold(maxHoldSeconds) {}
    void UseMaintenance(const MaintenanceSpans& maintenance) { m_maintenance = &maintenance; }
    void SetMaxHold(long long seconds) { m_maxHold = seconds; }

    /// Counts a probe of `code` at `when` and lets `state` hold from then on.
    void Probed(const std::string& code, long long when, const ProbeCounts& probe, SiteState state);
    /// Credits every site's held result up to `now` (a flush, so that the hour holds its time).
    void Advance(long long now);
    /// Credits up to `now`, then forgets the held results: what follows until the next result is a gap
    /// (the daemon stopping, or leaving history off).
    void Stop(long long now);

    /// A site's figures not yet written, per hour and per day start.
    struct Pending {
        std::map<long long, Tally> Hours, Days;
    };
    const std::unordered_map<std::string, Pending>& Unwritten() const { return m_pending; }
    /// Hands the unwritten figures over and starts afresh (the held results stay).
    std::unordered_map<std::string, Pending> Take();
    /// Takes back figures whose write failed, to be written with the next ones.
    void Return(const std::unordered_map<std::string, Pending>& taken);

private:
    struct Held {
        long long Since = 0;
        bool Up = false;
        bool Known = false;
    };
    void Credit(const std::string& code, Held& held, long long until);
    void CreditPiece(const std::string& code, bool up, long long from, long long to);
    /// The day start of `t`, cached for the day being rolled up.
    long long DayOf(long long t);

    const MaintenanceSpans* m_maintenance;
    long long m_maxHold;
    std::unordered_map<std::string, Held> m_held;
    std::unordered_map<std::string, Pending> m_pending;
    long long m_dayStart = 0, m_dayEnd = 0;
};
