// The status board for scripts: one JSON object with the summary and the sites.
#pragma once

#include "web/statusbody.h"

#include <string>

/// One JSON object with the summary and one object per site matching the filter; with `history`,
/// each site's 5-minute buckets of the last 24 hours, oldest first.
class TStatusJson : public TStatusBody {
public:
    TStatusJson(const TStatusView& view, const std::string& filter, bool history)
        : TStatusBody(view), m_filter(filter), m_history(history) {}
    const char* ContentType() const override { return "application/json"; }
    bool SameForEveryone() const override { return m_filter.empty() && !m_history; }
    void Write(TBodyOut& out) const override;

private:
    std::string m_filter;
    bool m_history;
};

/// The site's state as /status.json names it: "up", "degraded", "down" or "unknown".
const char* StatusStateName(const TSiteStatus& site);
