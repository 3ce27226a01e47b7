// The status page: a summary line, a filter, and one row per site with an inline SVG sparkline of
// its round-trip times over the last 24 hours.
#pragma once

#include "web/statusbody.h"

#include <string>

/// The HTML page: UTF-8, no external assets, refreshed every poll interval. Shows at
/// most MaxRows rows of the sites matching the filter.
class TStatusPage : public TStatusBody {
public:
    static constexpr int MaxRows = 1000;

    TStatusPage(const TStatusView& view, const std::string& filter) : TStatusBody(view), m_filter(filter) {}
    const char* ContentType() const override { return "text/html; charset=utf-8"; }
    bool SameForEveryone() const override { return m_filter.empty(); }
    void Write(TBodyOut& out) const override;

private:
    std::string m_filter;
};
