// The status page, its JSON and the Prometheus metrics, built from one snapshot of the board.
#pragma once

#include "web/statusboard.h"

#include <string>
#include <vector>

/// Everything one response shows, taken when the request is answered.
class TStatusView {
public:
    TScanSummary Summary;
    /// Silent sites first, then those not probed yet, then the answering ones; each group in the
    /// order the scan first probed them.
    std::vector<TSiteStatus> Sites;
    std::string DaemonId;
    bool DatabaseUp = false;
    int PollDelay = 5;
    /// Takes the board's snapshot and puts the sites in the order shown.
    void Load(const TStatusBoard& board);
    /// The histories of some of the snapshot's sites, in their order (empty ones without a board).
    std::vector<TRttHistory> HistoriesOf(const std::vector<const TSiteStatus*>& sites) const;
    int Count(TSiteStatus::TState state) const;
    int NotifiedCount() const;

private:
    const TStatusBoard* m_board = nullptr;
};

/// The program's version as the metrics and the JSON name it ("1.1.2.17").
std::string StatusVersion();
/// The value of field `name` in a query ("a=1&q=x"), decoded; empty when absent.
std::string QueryField(const std::string& query, const std::string& name);
/// Whether `filter` (any case) occurs in the site's code, name or address; an empty filter matches.
bool SiteMatches(const TSiteStatus& site, const std::string& filter);

/// The HTML page: UTF-8, no external assets, no script, refreshed every poll interval. Shows at
/// most MaxStatusRows rows of those matching `filter`.
std::string StatusPageHtml(const TStatusView& view, const std::string& filter);
constexpr int MaxStatusRows = 1000;
/// One JSON object with the summary and one object per matching site; with `history`, each
/// site's 5-minute buckets of the last 24 hours, oldest first.
std::string StatusJson(const TStatusView& view, const std::string& filter, bool history);
/// Prometheus text format 0.0.4.
std::string StatusMetrics(const TStatusView& view);
