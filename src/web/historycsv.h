// /status/history.csv: one site's hourly or daily figures over a span of days, for reports.
#pragma once

#include "history/rollup.h"
#include "web/statusbody.h"

#include <string>
#include <utility>
#include <vector>

/// A header line, then one line per hour or day that has figures, oldest first.
class THistoryCsv : public TStatusBody {
public:
    THistoryCsv(const TStatusView& view, std::string code, std::vector<std::pair<long long, Tally>> rows)
        : TStatusBody(view), m_code(std::move(code)), m_rows(std::move(rows)) {}
    const char* ContentType() const override { return "text/csv; charset=utf-8"; }
    bool SameForEveryone() const override { return false; }
    void Write(TBodyOut& out) const override;

private:
    std::string m_code;
    std::vector<std::pair<long long, Tally>> m_rows;
};
