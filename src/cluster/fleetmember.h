// This daemon as a member of a fleet ([Cluster] Copies): the live members read before each scan, the
// share of the sites it probes under them (rendezvous hashing, so every member divides alike), its
// failure rows written only when a site's result changes, and the verdict of a site's copies.
#pragma once

#include "cluster/clustersettings.h"
#include "cluster/fleetrows.h"
#include "cluster/fleetshare.h"
#include "cluster/rendezvous.h"
#include "db/dbaccess.h"

#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

class FleetHeartbeat;

class FleetMember {
public:
    /// `query`: on the daemon's connection; the heartbeat thread opens its own to the same database.
    FleetMember(TDbQuery& query, TDbDialect dialect, const ClusterSettings& settings, const std::string& group);
    ~FleetMember();
    FleetMember(const FleetMember&) = delete;
    FleetMember& operator=(const FleetMember&) = delete;

    /// Joins at the first call (after the tables are made), then reads the live members and the
    /// group's failure rows. `withoutCopies`: a live member of the group that probes every site (none:
    /// empty); a group that mixes the two is refused. Returns the line to log when this member does
    /// not act this scan (refused, or counted out), else an empty text. Statement errors are raised.
    struct Begun {
        bool Acts = true;
        /// What to log: why it does not act, said once per reason; empty when nothing is to be said.
        std::string Line;
    };
    Begun BeginScan(const std::string& withoutCopies);
    /// Whether this scan acts on its share: the member is still counted in under the incarnation the
    /// scan began with. A member paused past its window stops at once.
    bool Acting() const;
    /// Whether the live members changed since the last scan read them (the heartbeat saw it).
    bool MembershipChanged() const;
    /// Divides `codes` (every site of the group) under the members read by BeginScan. `listVersion`
    /// names the list: the same list under the same members is not divided again (0: always divided).
    FleetShare Share(const std::vector<std::string>& codes, long long listVersion = 0);

    /// The group's verdict on a site row this member probed: how many of its copies found it silent,
    /// and whether that makes the quorum. This member's own failure row is written or deleted when its
    /// result changed.
    struct Verdict {
        bool Down = false;
        int Failed = 0;
        /// False while a copy that has not probed its share since the members changed could still make
        /// the quorum: the site is neither down nor answering yet.
        bool Known = true;
    };
    Verdict Vote(const std::string& code, const std::string& address, bool failed);
    /// The verdict of the site's `copies` (Copies) on a site row this member does not probe, as their
    /// failure rows stood at the start of the scan; nothing is written.
    Verdict Peek(const std::string& code, const std::string& address, const std::vector<std::string>& copies) const;
    /// Whether the site's copies still count it down, their failure rows read again now; not while the
    /// members changed since the scan began.
    bool StillDown(const std::string& code, const std::string& address);
    /// The scan has probed this member's whole share (`whole`), or all it took over: its votes count from
    /// now on. Taking over is not enough for a member that has not yet probed a whole share under its
    /// incarnation (it just joined, or was counted in again): the rest of its share has no failure rows
    /// of that incarnation yet, and its silence on those sites would read as answers.
    void EndScan(bool whole);
    /// The live members that probe the site.
    std::vector<std::string> Copies(const std::string& code) const;
    /// The live members as the scan began, for asking many sites' copies at once; and copies per site.
    const Rendezvous& LiveRendezvous() const { return m_liveHrw; }
    int CopiesPerSite() const { return m_settings.Copies; }
    /// Whether this member probes the site under the members the sites were last divided among.
    bool Holds(const std::string& code) const;
    /// The names of the live members as the scan began.
    std::vector<std::string> LiveNames() const;
    /// Whether this member stores the round-trip time of a site row it found answering: its first live
    /// copy does, or the next one when the first failed it. Two copies writing their own times in turn
    /// rewrote a million rows a round for times that differ by a millisecond.
    bool StoresRtt(const std::string& code, const std::string& address) const;
    /// Whether this member may claim a notice now (still counted in under this scan's incarnation).
    bool MayClaim();
    int LiveMembers() const { return static_cast<int>(m_live.size()); }
    /// True once after this member joined: the caller gives the others a heartbeat to show up before
    /// the sites are first divided.
    bool TakeJustJoined() { return std::exchange(m_justJoined, false); }
    /// Each live member's name and how many of `codes` it probes (`listVersion` as for Share).
    std::vector<std::pair<std::string, long long>> Shares(const std::vector<std::string>& codes,
                                                          long long listVersion = 0) const;

    /// Deletes failure rows of incarnations gone (the daily purge).
    void Purge();
    /// Leaves the fleet (an orderly shutdown), so the others take over at once.
    void Leave();

private:
    /// Why this member may not join the group as it is now, or empty.
    std::string Mixed(const std::string& withoutCopies);
    void Join();
    long long Live() const;
    /// Whether a failure row counts for a site held by `copies`.
    bool Counts(const FailRow& row, const std::vector<std::string>& copies) const;
    /// The site row's failure rows of its live `copies`, read now.
    int FailedNow(const std::string& code, const std::string& address, const std::vector<std::string>& copies);
    /// Whether the live members are still those the scan began with, read now.
    bool MembersUnchanged();
    /// The verdict of `failed` failure rows of the site's `copies`.
    Verdict Judge(const std::vector<std::string>& copies, int failed) const;
    /// Whether member `node` has probed its whole share under the live members of this scan.
    bool Current(const std::string& node) const;
    std::vector<std::pair<std::string, long long>> CountShares(const std::vector<std::uint64_t>& keys,
                                                               const std::vector<std::string>& names) const;
    /// The codes' Rendezvous keys; kept for the list `listVersion` names (0: none kept).
    const std::vector<std::uint64_t>& KeysOf(const std::vector<std::string>& codes, long long listVersion) const;
    bool m_justJoined = false;
    using SiteRow = std::pair<std::string, std::string>; ///< code key, address

    TDbQuery& m_q;
    TDbDialect m_dialect;
    ClusterSettings m_settings;
    std::string m_group;
    FleetRows m_rows;
    std::unique_ptr<FleetHeartbeat> m_heartbeat;
    /// The incarnation this scan works under (0 before joining).
    long long m_incarnation = 0;
    /// The live members this scan works with, and the names the last share was divided among.
    std::vector<FleetRow> m_live;
    long long m_epoch = 0;
    std::vector<std::string> m_sharedAmong;
    /// The sites' members among the live members, and among those the sites were last divided among.
    Rendezvous m_liveHrw{{}}, m_sharedHrw{{}};
    /// The last site asked for and its members among the live members.
    mutable std::pair<std::string, std::vector<std::string>> m_copiesOf;
    long long m_sharedUnder = 0;
    /// The incarnation under which this member last probed its whole share (0: none yet).
    long long m_wholeUnder = 0;
    /// The list the last share was divided from (0: none kept), and what this member held of it.
    long long m_sharedVersion = 0;
    std::vector<std::string> m_held;
    /// The last count of each member's sites: of which list, among which members.
    mutable long long m_countedVersion = 0;
    mutable std::vector<std::string> m_countedAmong;
    mutable std::vector<std::pair<std::string, long long>> m_counted;
    /// The keys of the last list divided or counted: at a million codes, hashing them is most of a change.
    mutable long long m_keysVersion = 0;
    mutable std::vector<std::uint64_t> m_keys;
    /// Why the last scan did not act (said once), or empty.
    std::string m_idle;
    /// The group's failure rows by site row, as read at the start of the scan.
    std::map<SiteRow, std::vector<FailRow>> m_failures;
    /// The site rows this member has a failure row of, under its incarnation.
    std::set<SiteRow> m_failing;
};
