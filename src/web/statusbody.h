// One body of the status paths (the page, the JSON, the metrics) made from one view.
#pragma once

#include "web/bodyout.h"
#include "web/statusview.h"

#include <string>

/// A body made from one view; the view outlives it.
class TStatusBody {
public:
    explicit TStatusBody(const TStatusView& view) : m_view(view) {}
    virtual ~TStatusBody() = default;
    TStatusBody(const TStatusBody&) = delete;
    TStatusBody& operator=(const TStatusBody&) = delete;

    virtual const char* ContentType() const = 0;
    /// Whether every client asking for it gets the same bytes from one snapshot (no filter, no
    /// history), so that one made body can serve them all.
    virtual bool SameForEveryone() const = 0;
    /// Writes the body into `out`, spilling it block by block.
    virtual void Write(TBodyOut& out) const = 0;
    /// The body whole.
    std::string Whole() const;

protected:
    const TStatusView& m_view;
};
