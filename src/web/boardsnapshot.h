// The status board at one moment: every probed site's state and its day of round-trip times and
// losses, the last scan and the notification counts; shared by the responses that show it.
#pragma once

#include "db/sitetags.h"
#include "history/uptime.h"
#include "monitor/siteresultsink.h"
#include "platform/clock.h"
#include "scan/rtthistory.h"

#include <cstdint>
#include <functional>
#include <map>
#include <tuple>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

/// One site address as shown.
struct TSiteStatus {
    std::string Code, Name, Address;
    enum TState { Unknown, Up, Down };
    TState State = Unknown;
    TDateTime Since = 0; ///< when the current state began (as far as this run saw)
    TDateTime LastProbe = 0;
    int LastRttMs = -1;    ///< the last answer's round-trip time; -1 before any answer
    double Loss = 0;       ///< lost share of the last 24 hours' probes
    std::string Cause;     ///< why the last failed probe failed
    bool Notified = false; ///< a notice of the current outage went out
    long long Scan = 0;    ///< the scan that probed it last (1 = the first of this run)
    std::size_t Slot = 0;  ///< its place on the board, to ask for its history
    int GroupDown = -1;    ///< the group's verdict: -1 this probe works alone, 0 answering, 1 down, 2 not known yet
    int GroupFailed = 0;   ///< members that failed it in their latest scan
    /// The group's verdict as a word: "up", "down" or "unknown".
    const char* GroupState() const { return GroupDown == 1 ? "down" : GroupDown == 0 ? "up" : "unknown"; }

    long long LastRttUs = -1; ///< the last answer's round-trip time in microseconds
    /// The address last probed and the family that failed (scan/siteresult.h SiteResult).
    std::string Probed, FailedFamily;
    /// Whether the probed address is worth showing beside the site's own: an IPv6 one, or one per
    /// family. The board of IPv4 sites reads as it always did.
    bool ShowsProbed() const { return !FailedFamily.empty() || Probed.find_first_of(": ") != std::string::npos; }
    /// The path trace of the current outage ([Alert] Trace): "192.0.2.7 (hop 2)" and its JSON.
    std::string PathEnd, TraceJson;
    int Degraded = -1; ///< -1 the degraded rule is off, 0 normal, 1 degraded
    /// The members of a fleet that probe the site; empty outside a fleet.
    std::vector<std::string> ProbedBy;
    /// The site's tags, in order; empty when it has none.
    std::vector<std::string> Tags;
    /// Who acknowledged the current outage, with the comment; AckAt 0: nobody.
    std::string AckBy, AckComment;
    TDateTime AckAt = 0;
    /// Probes of the address in this run, and those that got no answer; they only grow, so that a
    /// scraper's increase() works over any window.
    long long Probes = 0, ProbeFailures = 0;
};

struct TScanSummary {
    TDateTime LastScanEnd = 0; ///< 0 before the first scan has ended
    double LastScanSeconds = 0;
    bool Scanning = false;
    long long Scans = 0;        ///< scans completed
    int LastScanSites = 0;      ///< site addresses the last completed scan probed
    std::int64_t Bucket = 0;    ///< the running bucket number of the snapshot's moment
    bool Acknowledging = false; ///< outages can be acknowledged (reminders or escalation are on)
    /// A fleet's live members with the number of sites each probes; empty outside a fleet.
    std::vector<std::pair<std::string, long long>> Fleet;
    /// Notices by (kind, result), result "sent" or "failed".
    std::map<std::pair<std::string, std::string>, long long> Notices;
    /// [Channel] notices by (kind, channel, result).
    std::map<std::tuple<std::string, std::string, std::string>, long long> ChannelNotices;
};

/// One site on the board as a snapshot holds it; never changed once a snapshot shares it.
struct TSiteEntry {
    TSiteStatus Status;
    TRttHistory History;
};

/// The sites other members of a fleet probe, held compact (a fleet may share a million): made into
/// entries only for a response that shows them.
struct TOthersBoard {
    /// The group's site rows the sites are of (shared with the monitor, never changed).
    std::shared_ptr<const std::vector<ScanRow>> Rows;
    /// Down first, then those not known yet, then the answering ones.
    std::vector<GroupSites::Site> Sites;
    /// The lists of members that probe a site, each once.
    std::vector<std::vector<std::string>> Members;
    /// The sites' tags as the board last read them; none: no tags.
    std::shared_ptr<const SiteTagMap> Tags;

    /// The sites as entries: their own state unknown (this member did not probe them), the group's
    /// verdict and members set.
    std::vector<TSiteEntry> Entries() const;
};

/// The site code's tags in `tags`; empty when it has none.
const std::vector<std::string>& TagsIn(const SiteTagMap* tags, const std::string& code);

/// The board at one moment: made by the writers once per change, then only read, by any number of
/// responses at once. Sites unchanged between two snapshots are shared by both.
struct TBoardSnapshot {
    TScanSummary Summary;
    /// The sites the last completed scan probed (or the running one has), silent first, then those
    /// not probed yet, then the answering ones; each group in the order first probed.
    std::vector<std::shared_ptr<const TSiteEntry>> Sites;
    /// The sites' history ([History]); none while it is off.
    std::shared_ptr<const UptimeView> History;
    /// In a fleet, the sites other members probe; none outside a fleet.
    std::shared_ptr<const TOthersBoard> Others;

    /// A body made from this snapshot under `key`, made by `make` for the first request that asks;
    /// the ones after it share it. A few keys are kept.
    std::shared_ptr<const std::string> Rendered(const std::string& key, const std::function<std::string()>& make) const;

private:
    mutable std::mutex m_renderLock;
    mutable std::map<std::string, std::shared_ptr<const std::string>> m_rendered;
};
