// One body of the status paths (the page, the JSON, the metrics) made from one view.
#pragma once

#include "web/bodyout.h"
#include "web/sitefilter.h"
#include "web/statusview.h"

#include <functional>
#include <memory>
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

/// The body a status path ("/status", "/status.json", "/metrics") asks for with its filter and the
/// query field `history` (decoded); none for any other path. Both listeners answer through it.
std::unique_ptr<TStatusBody> StatusBodyFor(const std::string& path, const SiteFilter& filter,
                                           const std::string& history, const TStatusView& view);
/// The filter of a status path's query fields (`field` gives each, "" when missing). Only
/// /status.json refuses what it cannot read; the page keeps its text filter and shows every state.
std::optional<SiteFilter::Refusal> StatusFilterFor(const std::string& path,
                                                   const std::function<std::string(const std::string&)>& field,
                                                   SiteFilter& filter);
/// The whole body of the whole board, made once per snapshot and shared by every client that asks
/// for the same bytes (SameForEveryone); the view's daemon, database state and poll interval are part
/// of the key.
std::shared_ptr<const std::string> SharedStatusBody(const TStatusBody& body, const TStatusView& view);

/// Whether `path` is one of the history CSVs (/status/outages.csv, /status/history.csv).
bool IsHistoryCsvPath(const std::string& path);
/// The body of a history CSV, its query fields read through `field`; none when [History] is off or
/// the path is no CSV's, or, with `refusal` saying why, when its days or step cannot be read.
std::unique_ptr<TStatusBody> HistoryBodyFor(const std::string& path,
                                            const std::function<std::string(const std::string&)>& field,
                                            const TStatusView& view, std::string& refusal);
