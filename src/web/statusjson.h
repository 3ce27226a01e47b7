// The status board for scripts: one JSON object with the summary and the sites.
#pragma once

#include "web/sitefilter.h"
#include "web/statusbody.h"

#include <string>

/// One JSON object with the summary and one object per site the filter keeps; with `history`,
/// each site's 5-minute buckets of the last 24 hours, oldest first. A page (a limit or a cursor)
/// lists the sites in code order and ends with "next", the path of the page after it, unless last.
class TStatusJson : public TStatusBody {
public:
    TStatusJson(const TStatusView& view, const std::string& filter, bool history)
        : TStatusJson(view, SiteFilter::OfText(filter), history) {}
    TStatusJson(const TStatusView& view, SiteFilter filter, bool history)
        : TStatusBody(view), m_filter(std::move(filter)), m_history(history) {}
    const char* ContentType() const override { return "application/json"; }
    bool SameForEveryone() const override { return !m_filter.Narrows() && !m_filter.Paged() && !m_history; }
    void Write(TBodyOut& out) const override;

private:
    /// The sites of the page, and the path of the next page ("" on the last).
    std::vector<const TSiteEntry*> Page(std::string& next) const;

    SiteFilter m_filter;
    bool m_history;
};

/// The site's state as /status.json names it: "up", "degraded", "down" or "unknown".
const char* StatusStateName(const TSiteStatus& site);
