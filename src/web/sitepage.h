// /status/site?code=X: one site's round-trip times and losses over the last 24 hours (per scan), 30
// days (hourly) and a year (daily) as inline SVG, its uptime, and its outages.
#pragma once

#include "history/outagebook.h"
#include "history/rollup.h"
#include "web/statusbody.h"

#include <string>
#include <utility>
#include <vector>

/// What the page shows of the tables, read before it is made.
struct TSiteRecord {
    std::string Code;
    std::vector<std::pair<long long, Tally>> Hours, Days;
    std::vector<OutageRecord> Outages;
    long long Now = 0;
};

class TSitePage : public TStatusBody {
public:
    /// Outages shown, the latest first.
    static constexpr std::size_t MaxOutages = 200;

    TSitePage(const TStatusView& view, TSiteRecord record) : TStatusBody(view), m_record(std::move(record)) {}
    const char* ContentType() const override { return "text/html; charset=utf-8"; }
    bool SameForEveryone() const override { return false; }
    void Write(TBodyOut& out) const override;

private:
    void AddUptime(std::string& page) const;
    void AddCharts(std::string& page) const;
    void AddOutages(std::string& page) const;

    TSiteRecord m_record;
};
