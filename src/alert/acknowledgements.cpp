// Acknowledgements by site, each valid for the outage it names.
#include "alert/acknowledgements.h"

#include "platform/datetime.h"
#include "platform/strutil.h"

AckRecord Acknowledgements::Make(const std::string& code, TDateTime since, const std::string& by,
                                 const std::string& comment) const {
    return {code, since, {by, comment, (m_clock ? *m_clock : GetClock()).Now()}};
}

void Acknowledgements::Replace(const std::vector<AckRecord>& all) {
    m_acks.clear();
    for (const AckRecord& record : all)
        Add(record);
}

void Acknowledgements::Add(const AckRecord& record) {
    m_acks[SiteCodeKey(record.Code)] = record;
}

// Outage starts are compared in whole seconds, as the rows store them. The daily purge moves a long
// outage's start (its earliest alarm row) forward; an acknowledgement made before that still holds.
Acknowledgement Acknowledgements::Of(const std::string& code, TDateTime since) const {
    auto at = m_acks.find(SiteCodeKey(code));
    if (at == m_acks.end() || DaysToSeconds(at->second.Since) > DaysToSeconds(since)) return {};
    return at->second.Ack;
}

bool Acknowledgements::Knows(const std::string& code) const {
    return m_acks.count(SiteCodeKey(code)) != 0;
}

void Acknowledgements::Ended(const std::string& code) {
    m_acks.erase(SiteCodeKey(code));
}
