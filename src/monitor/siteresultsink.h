// Where the scan hands what it learnt about every probed site and what came of it: the status board
// implements it (the web pages, the JSON and the metrics read the board).
#pragma once

#include "db/sitetags.h"
#include "history/uptime.h"
#include "platform/clock.h"
#include "scan/siteresult.h"
#include "scan/siterowreader.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

/// What the monitor decided about one probed site address beyond the probe's own result.
struct SiteVerdict {
    /// The verdict of the probes' group ([Cluster]): -1 alone, 0 answering, 1 down, GroupUnknown not
    /// known yet (the site's probes in a fleet have not all probed it since the members changed);
    /// and how many of its live members failed the site in their latest scan.
    static constexpr int GroupUnknown = 2;
    int GroupDown = -1;
    int GroupFailed = 0;
    /// -1 the degraded rule is off, 0 the site answers normally, 1 it is degraded.
    int Degraded = -1;
    /// The members of a fleet that probe the site ([Cluster] Copies); empty otherwise.
    std::vector<std::string> ProbedBy{};
};

/// The sites of a fleet that this member does not probe, with the verdicts of the members that do. A
/// fleet may share a million: the rows are shared from one showing to the next (they are read far less
/// often than the verdicts change), and each site is held by its row's index.
struct GroupSites {
    struct Site {
        std::uint32_t Row = 0;      ///< its row in Rows
        std::uint32_t ProbedBy = 0; ///< the index of its members in Members
        std::int8_t GroupDown = 0;  ///< SiteVerdict::GroupDown: 0, 1 or GroupUnknown
        std::uint16_t GroupFailed = 0;
    };
    std::shared_ptr<const std::vector<ScanRow>> Rows;
    /// In the rows' order.
    std::vector<Site> Sites;
    /// The lists of members that probe a site, each once.
    std::vector<std::vector<std::string>> Members;
};

/// A fleet's members as one member sees them: each live member's name and how many sites it probes.
using FleetShares = std::vector<std::pair<std::string, long long>>;

/// Where a scan reports its results. The scan calls these on its own thread, in order.
class TSiteResultSink {
public:
    virtual ~TSiteResultSink() = default;
    virtual void ScanBegun() = 0;
    /// One probed site address: the probe's result as the engine handed it on, and the verdicts on it.
    virtual void SiteProbed(const SiteResult& result, const SiteVerdict& verdict) = 0;
    /// The site's outage has been told: its marker row was found or stored.
    virtual void NoticeStanding(const std::string& code) = 0;
    /// One channel (`kind` "mail", "popup" or "webhook") tried a notice for the site: `delivered` when
    /// it was taken, false when it failed. Only counted; whether the site counts as notified follows
    /// NoticeStanding.
    virtual void NoticeSent(const std::string& code, const std::string& kind, bool delivered) = 0;
    /// A [Channel] notice's attempt: the channel's kind and name, whether its receiver took it.
    virtual void ChannelNoticeSent(const std::string& kind, const std::string& channel, bool delivered) {
        (void)kind, (void)channel, (void)delivered;
    }
    virtual void ScanEnded() = 0;
    /// A path trace of the site address's outage ended: where the path ends and the trace as JSON.
    virtual void SiteTraced(const std::string& /*code*/, const std::string& /*address*/, const std::string& /*pathEnd*/,
                            const std::string& /*json*/) {}
    /// The site's current outage was acknowledged (`at` 0: the acknowledgement is gone).
    virtual void Acknowledged(const std::string& /*code*/, const std::string& /*by*/, const std::string& /*comment*/,
                              TDateTime /*at*/) {}
    /// Whether outages can be acknowledged now.
    virtual void AcceptsAcknowledgements(bool /*on*/) {}
    /// A part of a scan (the sites a member of a fleet took over) begins or ends: its results come in
    /// like a scan's, but it is no scan of its own.
    virtual void PartialScan(bool /*running*/) {}
    /// The fleet's live members and their shares, at each scan of a member of a fleet.
    virtual void FleetShown(const FleetShares& /*members*/) {}
    /// The fleet's sites that this member does not probe, with their members' verdicts; replaces the
    /// last list. Sent every few minutes, and when the members changed.
    virtual void GroupSitesShown(GroupSites sites) { (void)sites; }
    /// The sites' tags as read before a scan; they stay until the next read.
    virtual void SiteTagsRead(std::shared_ptr<const SiteTagMap> tags) { (void)tags; }
    /// The sites' history at this moment ([History]); published with the next snapshot.
    virtual void HistoryPublished(std::shared_ptr<const UptimeView> history) { (void)history; }
};
