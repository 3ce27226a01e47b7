// Who took which outage in hand. An acknowledgement belongs to one outage (its start): it stops that
// outage's reminders and escalation and ends with it; the next outage of the site starts without one.
// Time comes from the injected clock.
#pragma once

#include "alert/notice.h"
#include "platform/clock.h"

#include <map>
#include <string>
#include <vector>

/// One acknowledgement as the table holds it.
struct AckRecord {
    std::string Code;
    /// The start of the outage acknowledged.
    TDateTime Since = 0;
    Acknowledgement Ack;
};

class Acknowledgements {
public:
    explicit Acknowledgements(const Clock* clock = nullptr) : m_clock(clock) {}

    /// A new acknowledgement of the outage begun at `since`, made now.
    AckRecord Make(const std::string& code, TDateTime since, const std::string& by, const std::string& comment) const;
    /// Takes every acknowledgement the table holds (those of the group's other members too).
    void Replace(const std::vector<AckRecord>& all);
    void Add(const AckRecord& record);
    /// The acknowledgement of the site's outage begun at `since` (or earlier: the daily purge moves a
    /// long outage's start); none (At 0) when it has none.
    Acknowledgement Of(const std::string& code, TDateTime since) const;
    /// Whether any acknowledgement of the site is known, so that its end has rows to remove.
    bool Knows(const std::string& code) const;
    /// The site's outage is over: its acknowledgement ends with it.
    void Ended(const std::string& code);

private:
    const Clock* m_clock;
    std::map<std::string, AckRecord> m_acks; ///< by SiteCodeKey
};
