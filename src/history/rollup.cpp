// Rollup: counts per hour and day, and the time-weighted coverage of each site's results.
#include "history/rollup.h"

#include <algorithm>
#include <cmath>
#include <ctime>

long long HourStart(long long t) {
    return t - ((t % 3600) + 3600) % 3600;
}

long long LocalDayStart(long long t) {
    const std::time_t at = static_cast<std::time_t>(t);
    std::tm local{};
    localtime_r(&at, &local);
    local.tm_hour = local.tm_min = local.tm_sec = 0;
    local.tm_isdst = -1; // midnight may lie on the other side of a daylight-saving change
    return static_cast<long long>(std::mktime(&local));
}

long long NextLocalDay(long long dayStart) {
    // 30 hours on lands inside the next day whether this one has 23, 24 or 25 hours.
    return LocalDayStart(dayStart + 30 * 3600);
}

void Tally::AddProbe(const ProbeCounts& probe) {
    Tally one;
    one.Probes = 1;
    one.Answered = probe.Answered ? 1 : 0;
    one.Sent = probe.Sent;
    one.Received = probe.Received;
    if (probe.Received > 0) {
        one.RttAvgUs = probe.RttAvgUs;
        // Minimum and maximum may be known only to the millisecond: they never cross the average.
        one.RttMinUs = std::min(probe.RttMinUs > 0 ? probe.RttMinUs : probe.RttAvgUs, probe.RttAvgUs);
        one.RttMaxUs = std::max(probe.RttMaxUs, probe.RttAvgUs);
    }
    Add(one);
}

void Tally::Add(const Tally& o) {
    if (o.Received > 0) {
        RttMinUs = Received > 0 ? std::min(RttMinUs, o.RttMinUs) : o.RttMinUs;
        RttMaxUs = std::max(RttMaxUs, o.RttMaxUs);
        RttAvgUs = std::llround((double(RttAvgUs) * double(Received) + double(o.RttAvgUs) * double(o.Received)) /
                                double(Received + o.Received));
    }
    Probes += o.Probes;
    Answered += o.Answered;
    Sent += o.Sent;
    Received += o.Received;
    UpSeconds += o.UpSeconds;
    DownSeconds += o.DownSeconds;
    MaintenanceSeconds += o.MaintenanceSeconds;
}

double Tally::UptimePercent() const {
    const double covered = UpSeconds + DownSeconds;
    return covered > 0 ? 100.0 * UpSeconds / covered : std::nan("");
}

void Rollup::Probed(const std::string& code, long long when, const ProbeCounts& probe, SiteState state) {
    Pending& pending = m_pending[code];
    pending.Hours[HourStart(when)].AddProbe(probe);
    pending.Days[DayOf(when)].AddProbe(probe);
    Held& held = m_held[code];
    Credit(code, held, when);
    if (state == SiteState::Unchanged) return;
    held = {when, state == SiteState::Up, true};
}

void Rollup::Advance(long long now) {
    for (auto& [code, held] : m_held)
        Credit(code, held, now);
}

void Rollup::Stop(long long now) {
    Advance(now);
    m_held.clear();
}

std::unordered_map<std::string, Rollup::Pending> Rollup::Take() {
    std::unordered_map<std::string, Pending> taken;
    taken.swap(m_pending);
    return taken;
}

void Rollup::Return(const std::unordered_map<std::string, Pending>& taken) {
    for (const auto& [code, back] : taken) {
        Pending& pending = m_pending[code];
        for (const auto& [hour, tally] : back.Hours)
            pending.Hours[hour].Add(tally);
        for (const auto& [day, tally] : back.Days)
            pending.Days[day].Add(tally);
    }
}

// The stretch from the held result to `until`, cut at every hour and day boundary.
void Rollup::Credit(const std::string& code, Held& held, long long until) {
    if (!held.Known || until <= held.Since) return;
    const long long end = std::min(until, held.Since + m_maxHold);
    for (long long from = held.Since; from < end;) {
        DayOf(from);
        const long long to = std::min({end, HourStart(from) + 3600, m_dayEnd});
        CreditPiece(code, held.Up, from, to);
        from = to;
    }
    held.Since = until;
}

void Rollup::CreditPiece(const std::string& code, bool up, long long from, long long to) {
    const double length = double(to - from);
    const double maintenance = std::clamp(double(m_maintenance->SecondsIn(code, from, to)), 0.0, length);
    Pending& pending = m_pending[code];
    for (Tally* tally : {&pending.Hours[HourStart(from)], &pending.Days[DayOf(from)]}) {
        (up ? tally->UpSeconds : tally->DownSeconds) += length - maintenance;
        tally->MaintenanceSeconds += maintenance;
    }
}

long long Rollup::DayOf(long long t) {
    if (t < m_dayStart || t >= m_dayEnd) {
        m_dayStart = LocalDayStart(t);
        m_dayEnd = NextLocalDay(m_dayStart);
    }
    return m_dayStart;
}
