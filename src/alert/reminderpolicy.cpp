// Reminder and escalation times, counted in whole seconds from the outage's notice.
#include "alert/reminderpolicy.h"

#include "platform/datetime.h"
#include "platform/strutil.h"

#include <cmath>

ReminderPolicy::Outage& ReminderPolicy::Of(const std::string& code, TDateTime since, TDateTime told) {
    const auto [at, made] = m_outages.try_emplace(SiteCodeKey(code));
    Outage& o = at->second;
    if (made || DaysToSeconds(o.since) != DaysToSeconds(since)) { // another outage
        o = Outage{};
        o.since = since;
    }
    if (made || o.told != told) {
        o.told = told;
        o.seen = TheClock().Monotonic();
        o.toldAgeMs = DaysToMilliseconds(TheClock().Now() - told);
    }
    return o;
}

FollowupDue ReminderPolicy::Due(const std::string& code, TDateTime since, TDateTime told, bool acknowledged) {
    FollowupDue due;
    if (acknowledged || told == 0) return due;
    Outage& o = Of(code, since, told);
    const auto counted = std::chrono::duration_cast<std::chrono::milliseconds>(TheClock().Monotonic() - o.seen);
    const long long elapsedMs = o.toldAgeMs + counted.count();
    const long long elapsed = elapsedMs < 0 ? -1 : elapsedMs / 1000; // a notice stamped ahead of the clock
    const long long every = std::llround(m_settings.RemindMinutes * 60);
    if (every > 0 && elapsed / every > o.reminded) due.Reminder = static_cast<int>(elapsed / every);
    for (std::size_t i = 0; i < m_settings.Escalate.size(); ++i) {
        const int step = static_cast<int>(i) + 1;
        if (elapsed >= std::llround(m_settings.Escalate[i].Minutes * 60) && !o.escalated.count(step))
            due.Steps.push_back(step);
    }
    return due;
}

void ReminderPolicy::Reminded(const std::string& code, int round) {
    auto at = m_outages.find(SiteCodeKey(code));
    if (at != m_outages.end() && round > at->second.reminded) at->second.reminded = round;
}

void ReminderPolicy::Escalated(const std::string& code, int step) {
    auto at = m_outages.find(SiteCodeKey(code));
    if (at != m_outages.end()) at->second.escalated.insert(step);
}

void ReminderPolicy::Ended(const std::string& code) {
    m_outages.erase(SiteCodeKey(code));
}
