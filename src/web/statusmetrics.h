// The status board for a metrics scraper.
#pragma once

#include "web/statusbody.h"

/// The sites (with their maintenance, acknowledgement and probe counts), the last scan, the notices and
/// the database in the Prometheus text format 0.0.4.
class TStatusMetrics : public TStatusBody {
public:
    explicit TStatusMetrics(const TStatusView& view) : TStatusBody(view) {}
    const char* ContentType() const override { return "text/plain; version=0.0.4; charset=utf-8"; }
    bool SameForEveryone() const override { return true; }
    void Write(TBodyOut& out) const override;
};
