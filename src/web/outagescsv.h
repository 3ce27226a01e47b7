// /status/outages.csv: the outages of a span of days, of every site or of one, for reports.
#pragma once

#include "history/outagebook.h"
#include "web/statusbody.h"

#include <string>
#include <unordered_map>
#include <vector>

/// One line per outage that overlaps the span, oldest first, after a header line; an outage that lasts
/// has an empty end and its duration so far.
class TOutagesCsv : public TStatusBody {
public:
    TOutagesCsv(const TStatusView& view, std::vector<OutageRecord> outages,
                std::unordered_map<std::string, std::string> names, long long now)
        : TStatusBody(view), m_outages(std::move(outages)), m_names(std::move(names)), m_now(now) {}
    const char* ContentType() const override { return "text/csv; charset=utf-8"; }
    bool SameForEveryone() const override { return false; }
    void Write(TBodyOut& out) const override;

private:
    std::vector<OutageRecord> m_outages;
    std::unordered_map<std::string, std::string> m_names;
    long long m_now;
};
