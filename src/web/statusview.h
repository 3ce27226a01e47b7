// What one status response shows: the board's latest snapshot, and which of its sites a filter
// keeps.
#pragma once

#include "history/maintenancebook.h"
#include "web/statusboard.h"

#include <memory>
#include <set>
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
    /// A maintenance window that is running or still to come at the view's moment.
    using TListedWindow = ListedWindow;
    /// The windows a page lists at most.
    static constexpr std::size_t MaintenancePageSize = 100;
    /// The book's windows (holding those listed) and the view's moment; empty without a book.
    MaintenanceBook::Windows Maintenance;
    /// The page of the windows running or to come that the view shows (MaintenancePageSize at most),
    /// how many there are in all, and the cursor of the next page (empty on the last).
    std::vector<TListedWindow> MaintenanceListed;
    std::size_t MaintenanceTotal = 0;
    std::string MaintenanceNext;
    long long MaintenanceMoment = 0;
    const TimeZone* Zone = &LocalTimeZone();
    /// Takes the book's windows at its present moment, the page after the cursor `after` listed.
    void LoadMaintenance(const MaintenanceBook& book, const std::string& after = "");
    /// Whether a window holds the site's notices at the view's moment (a window of a tag: with `tags`).
    bool InMaintenance(const std::string& code, const std::vector<std::string>& tags = {}) const;
    /// Tells apart what the windows make a body show: each listed window's id and next occurrence,
    /// the sites they hold, and the page.
    std::string MaintenanceKey() const;
    /// The lost share of the site's probes of the 24 hours before the view's moment.
    double Loss(const TSiteEntry& site) const { return site.History.LossRatio(Summary.Bucket); }

private:
    /// The entries of the sites other members of a fleet probe, made for this view.
    std::shared_ptr<const std::vector<TSiteEntry>> m_others;
    /// The codes (SiteCodeKey) a window holds at the view's moment; "*" for every site, "tag:T" for
    /// every site with tag T.
    std::set<std::string> m_held;

public:
    /// The sites' history ([History]); none while it is off.
    const UptimeView* History() const { return Snapshot ? Snapshot->History.get() : nullptr; }
    /// The uptime of the site's code; none without history or figures.
    const SiteUptime* Uptime(const TSiteStatus& site) const;
};

/// An uptime in per cent cut (never rounded up) to two decimals: 99.95, 100.
double UptimeCut(double percent);
/// The same as shown: "99.95", "100.00".
std::string UptimeText(double percent);
/// A code as a query value: every byte but letters, digits and "-._~" as %XX.
std::string QueryValue(const std::string& text);

/// The program's version as the metrics and the JSON name it ("1.1.2.17").
std::string StatusVersion();
/// Whether `filter` (any case) occurs in the site's code, name or address; an empty filter matches.
bool SiteMatches(const TSiteStatus& site, const std::string& filter);
