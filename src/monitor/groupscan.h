// This daemon as one member of a group of probes ([Cluster]). Each member logs its own probe's lines;
// the alarm rows, the clearing and the notices follow the group's verdict, and a notice goes out only
// from the member that claimed it.
#pragma once

#include "db/common.h"
#include "db/lastrttrows.h"
#include "monitor/siteresultsink.h"
#include "scan/siterowreader.h"
#include "scan/siteresult.h"

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

class ClusterMember;
class FleetMember;
class MonitorHandlers;
class NoticeRunner;
class SiteAlarms;
class TAlertBridge;

class GroupScan {
public:
    /// The group's verdict on one site row: down or not, and how many live members failed it.
    struct Verdict {
        bool Down = false;
        int Failed = 0;
        /// False while the site's copies in a fleet have not all probed it since the members changed
        /// and the verdict could still go either way: its rows are left as they are.
        bool Known = true;
    };

    /// Rows go through the site alarms and notices through the notice runner; the alert rules' settings
    /// say whether recoveries are told. The console's status line says when a notice goes out.
    GroupScan(MonitorHandlers& handlers, SiteAlarms& alarms, TAlertBridge& alert, NoticeRunner& notices);
    ~GroupScan();
    GroupScan(const GroupScan&) = delete;
    GroupScan& operator=(const GroupScan&) = delete;

    /// Whether this daemon scans as a member of a group ([Cluster] Quorum set at the last Start).
    bool Active() const;
    /// This member's name in the group; empty while it works alone.
    std::string Node() const;
    /// Reads [Cluster] and joins the group's scan; false when the group's rows cannot be used, and
    /// this member waits for the database rather than double the group's notices alone.
    bool Start();
    /// The codes this member probes of `codes` (every site of the group): all of them, or with
    /// [Cluster] Copies its share under the live members read by Start; with `inheritedOnly` only the
    /// sites it took over since the last scan. A change of the members is logged in one line.
    /// `listVersion` names the list (0: none): the same list among the same members is not divided again.
    TStringList Share(const TStringList& codes, bool inheritedOnly, long long listVersion = 0);
    /// Of the whole share the last Share gave, the sites this member took over with it (once).
    TStringList TakeInherited() { return std::exchange(m_inherited, {}); }
    /// The scan has probed all it was given (`whole`: the member's whole share, else what it took over):
    /// in a fleet, this member's votes count from now on.
    void EndScan(bool whole);
    /// Whether the fleet's live members changed since the last scan: a scan of what moved is due now.
    bool MembershipChanged() const;
    /// Whether the members changed while this scan acts on its share: what moved is taken over now,
    /// in the middle of the scan, rather than after it.
    bool TakeoverDue() const;
    /// Whether this member still probes the site: false for the sites it handed back in the middle of
    /// the scan (they are left to their new members).
    bool Holds(const std::string& code) const;
    /// Whether this scan still acts on its sites: false from the moment a fleet member finds it missed
    /// its heartbeats (its share may be another member's now), said once.
    bool Acting();
    /// In a fleet, each live member's name and how many of `codes` it probes (empty otherwise).
    std::vector<std::pair<std::string, long long>> Shares(const TStringList& codes, long long listVersion = 0) const;
    /// Whether this daemon scanned as a member of a fleet ([Cluster] Copies) at its last Start.
    bool InFleet() const { return Fleet() != nullptr; }
    /// In a fleet, the rows of `rows` (every site row of the group) that other members probe, with
    /// their verdicts as the scan began (none outside a fleet). Which members probe each row is worked
    /// out again only when the rows or the members changed.
    GroupSites OthersSites(const std::shared_ptr<const std::vector<ScanRow>>& rows);
    /// The members that probe the site in a fleet (empty otherwise).
    std::vector<std::string> ProbedBy(const std::string& code) const;
    /// Stores this member's result of the site row and reads the group's verdict; while the group's
    /// rows cannot be read, this probe's own view (the error logged).
    Verdict Vote(const SiteResult& result);
    /// The rows and notices that follow the group's verdict on the site. Statement errors are raised.
    void Settle(const SiteResult& result, bool down);
    /// Deletes the group's old rows, with the daily purge; raised errors leave the purge due.
    void Purge();
    /// An orderly shutdown leaves the group at once.
    void Leave();

private:
    /// The fleet this member shares the sites with; null outside one.
    FleetMember* Fleet() const;
    void SiteAnswers(const SiteResult& result);
    /// A fleet's site that answers and has no rows to clear and no notice owed: only its round-trip
    /// time is stored, with many others' in one statement. False when its own statements must run.
    bool AnswersQuietly(const SiteResult& result);
    /// Stores the round-trip times gathered so far.
    void StoreRtts();
    void SiteDown(const SiteResult& result);

    MonitorHandlers& m_handlers;
    SiteAlarms& m_alarms;
    TAlertBridge& m_alert;
    NoticeRunner& m_notices;
    std::unique_ptr<ClusterMember> m_cluster; ///< made at the first scan with [Cluster] Quorum set
    bool m_rulesWarned = false;
    bool m_degradedWarned = false;
    bool m_stopped = false;  ///< this scan stopped acting (the member missed its heartbeats)
    bool m_reshared = false; ///< the sites were divided anew in the middle of this scan
    TStringList m_inherited;
    /// In a fleet: the keys of the codes with alarm or marker rows as the scan began (none read: every
    /// site runs its own statements), and the round-trip times not stored yet with their keys.
    bool m_rowsKnown = false;
    std::unordered_set<std::string> m_withRows;
    /// The rows OthersSites last divided, among which members, and each row's members (an index into
    /// m_othersMembers; NotOthers: this member probes it).
    static constexpr std::uint32_t NotOthers = 0xFFFFFFFFu;
    std::shared_ptr<const std::vector<ScanRow>> m_othersRows;
    std::vector<std::uint64_t> m_othersKeys; ///< the rows' Rendezvous keys
    std::vector<std::string> m_othersAmong;
    std::vector<std::uint32_t> m_othersCopies;
    std::vector<std::vector<std::string>> m_othersMembers;
    std::vector<SiteRtt> m_rtts;
    std::unordered_set<std::string> m_rttKeys;
};
