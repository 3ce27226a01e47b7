// The status page, its JSON and the Prometheus metrics, built from one snapshot of the board.
#pragma once

#include "web/statusboard.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

/// Everything one response shows: the board's latest snapshot, shared, not copied.
class TStatusView {
public:
    /// The snapshot's summary; its Bucket is the moment the view was taken.
    TScanSummary Summary;
    /// Silent sites first, then those not probed yet, then the answering ones; each group in the
    /// order the scan first probed them. Held by Snapshot.
    std::vector<const TSiteEntry*> Sites;
    std::shared_ptr<const TBoardSnapshot> Snapshot;
    std::string DaemonId;
    bool DatabaseUp = false;
    int PollDelay = 5;
    /// Takes the board's latest snapshot.
    void Load(const TStatusBoard& board);
    int Count(TSiteStatus::TState state) const;
    int NotifiedCount() const;
    /// The lost share of the site's probes of the 24 hours before the view's moment.
    double Loss(const TSiteEntry& site) const { return site.History.LossRatio(Summary.Bucket); }
};

/// Where a body goes while it is made: handed on in blocks of about BlockBytes, so that a large
/// one is never held whole by the response that sends it.
class TBodyOut {
public:
    static constexpr std::size_t BlockBytes = 64 * 1024;
    using Sink = std::function<void(const std::string& block)>;
    explicit TBodyOut(Sink sink) : m_sink(std::move(sink)) {}
    /// Append here; Spill after each part.
    std::string Text;
    void Spill() {
        if (Text.size() >= BlockBytes) Flush();
    }
    void Flush() {
        if (!Text.empty()) m_sink(Text);
        Text.clear();
    }

private:
    Sink m_sink;
};

/// The program's version as the metrics and the JSON name it ("1.1.2.17").
std::string StatusVersion();
/// The value of field `name` in a query ("a=1&q=x"), decoded; empty when absent.
std::string QueryField(const std::string& query, const std::string& name);
/// Whether `filter` (any case) occurs in the site's code, name or address; an empty filter matches.
bool SiteMatches(const TSiteStatus& site, const std::string& filter);
/// A round-trip time for people: "0.084 ms" below 10 ms, whole milliseconds above.
std::string RttText(long long microseconds);

/// The HTML page: UTF-8, no external assets, no script, refreshed every poll interval. Shows at
/// most MaxStatusRows rows of those matching `filter`.
void WriteStatusPage(const TStatusView& view, const std::string& filter, TBodyOut& out);
constexpr int MaxStatusRows = 1000;
/// One JSON object with the summary and one object per matching site; with `history`, each
/// site's 5-minute buckets of the last 24 hours, oldest first.
void WriteStatusJson(const TStatusView& view, const std::string& filter, bool history, TBodyOut& out);
/// Prometheus text format 0.0.4.
void WriteStatusMetrics(const TStatusView& view, TBodyOut& out);

/// The same, whole.
std::string StatusPageHtml(const TStatusView& view, const std::string& filter);
std::string StatusJson(const TStatusView& view, const std::string& filter, bool history);
std::string StatusMetrics(const TStatusView& view);
