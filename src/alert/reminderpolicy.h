// What a notified outage is owed while nobody has acknowledged it: a reminder to its contacts every
// [Alert] Remind minutes after its notice, and one mail per [Alert] Escalate step once that step's
// minutes have passed. Time comes from the injected clock: the notice's age is read off the wall clock
// once, when the outage is first seen, and counted on from there on the monotonic clock, so a wall
// clock set back or forward neither pauses the reminders nor hurries them.
#pragma once

#include "alert/alertsettings.h"
#include "platform/clock.h"

#include <map>
#include <set>
#include <string>
#include <vector>

struct FollowupDue {
    /// The number of the reminder due (from 1); 0: none.
    int Reminder = 0;
    /// The escalation steps due (from 1), in order.
    std::vector<int> Steps;
};

class ReminderPolicy {
public:
    explicit ReminderPolicy(const Clock* clock = nullptr) : m_clock(clock) {}

    void Configure(const AlertSettings& settings) { m_settings = settings; }
    /// What the outage begun at `since` and told at `told` is owed now; nothing once acknowledged. A
    /// reminder missed (a scan came late, the daemon was down) is not made up: only the latest is due.
    FollowupDue Due(const std::string& code, TDateTime since, TDateTime told, bool acknowledged);
    /// The reminder or the step went out (or another member of the group sends it).
    void Reminded(const std::string& code, int round);
    void Escalated(const std::string& code, int step);
    /// The outage is over: the next one starts afresh.
    void Ended(const std::string& code);

private:
    struct Outage {
        TDateTime since = 0;
        TDateTime told = 0;
        /// The notice's age in milliseconds at `seen`, by the wall clock.
        long long toldAgeMs = 0;
        Clock::MonoTime seen{};
        int reminded = 0;
        std::set<int> escalated;
    };
    Outage& Of(const std::string& code, TDateTime since, TDateTime told);
    const Clock& TheClock() const { return m_clock ? *m_clock : GetClock(); }

    const Clock* m_clock;
    AlertSettings m_settings;
    std::map<std::string, Outage> m_outages;
};
