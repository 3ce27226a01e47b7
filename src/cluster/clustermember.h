// One member of a group of probes that share a Daemon ID and a database. The database is the only
// coordinator: each member writes a heartbeat row and its latest result per site row, reads the
// group's verdict from the results of the live members, posts one alarm row per failed group scan,
// and claims each notice before it sends it, so that exactly one member tells the contacts.
//
// Times in the group's tables are whole seconds of the database server's clock (of this machine's
// for the embedded file), so members on machines with different clocks agree on ages and leases.
#pragma once

#include "cluster/clustersettings.h"
#include "cluster/fleetmember.h"
#include "db/dbaccess.h"
#include "platform/datetime.h"

#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

/// The notices a member claims: the problem notice of an outage, its recovery notice, and each of its
/// reminders and escalation steps.
enum class ClaimKind { Problem, Recovery, Reminder, Escalation };

/// A claim this member holds; empty Token: not held.
struct NoticeClaim {
    std::string Code;
    ClaimKind Kind = ClaimKind::Problem;
    TDateTime Since = 0;
    std::string Token;
    /// The reminder's number or the escalation's step; 0 for the others.
    int Round = 0;
    bool Held() const { return !Token.empty(); }
};

class ClusterMember {
public:
    ClusterMember(TDbConnection& connection, TDbDialect dialect);

    /// Takes the settings, the group (the Daemon ID) and the poll interval in minutes.
    void Configure(const ClusterSettings& settings, const std::string& group, int pollDelayMinutes);
    const ClusterSettings& Settings() const { return m_settings; }
    bool Active() const { return m_settings.Active(); }

    /// Makes the group's tables when they are missing, writes this member's heartbeat, counts the live
    /// members and reads the recoveries owed. Returns the text to log when the quorum in force changed
    /// to below the configured one ("Cluster quorum lowered to ..."), else an empty text.
    /// Statement errors are raised.
    /// With [Cluster] Copies the member joins the fleet instead: see FleetMember::BeginScan.
    std::string BeginScan();
    /// Whether this scan acts on its sites: false while the member refuses a group that mixes members
    /// with and without Copies, or while a fleet member is counted out.
    bool Acts() const { return m_acts; }
    /// The fleet this member shares the sites with; null without [Cluster] Copies.
    FleetMember* Fleet() { return m_fleet.get(); }
    /// The quorum in force: the configured one, or the number of live members when fewer are live.
    int QuorumInForce() const { return m_quorumInForce; }
    int LiveMembers() const { return m_live; }

    /// Stores this member's latest result of a site row and returns whether the group counts the site
    /// down: at least the quorum in force of live members failed it in their latest scan.
    bool Vote(const std::string& code, const std::string& address, bool failed);
    /// Whether the group still counts the site row down, the members' latest results read again now: a
    /// verdict read from results that a member has since replaced (it answers again) is not acted on.
    bool StillDown(const std::string& code, const std::string& address);
    /// The members (this one included) that failed the site row in their latest scan, as the last Vote read.
    int LastFailedVotes() const { return m_lastFailed; }
    /// Whether the last Vote's verdict is known: false in a fleet while a copy of the site that has
    /// not probed it yet could still make the quorum.
    bool LastVerdictKnown() const { return m_lastKnown; }

    /// Posts the site's alarm row for this group scan (a window of one poll interval) unless a member
    /// posted it already. False with `error` set when the insert failed for another reason.
    bool PostAlarm(const std::string& code, TDateTime now, std::string& error);
    /// Stores the site's marker row (its outage was notified) unless one exists.
    void StoreMarker(const std::string& code, TDateTime now);

    /// Claims a notice: wins when no member holds it, or when its holder's lease ended before it was
    /// marked sent. With `replaceSent` (a problem notice) a claim marked sent is won too when the site
    /// has no marker row: that claim was of an earlier outage that began in the same second.
    /// Statement errors other than the claim being taken are raised.
    NoticeClaim Claim(const std::string& code, ClaimKind kind, TDateTime since, bool replaceSent = false);
    /// Claims a reminder or an escalation step of an outage: held by one member of the group only.
    NoticeClaim ClaimRound(const std::string& code, ClaimKind kind, TDateTime since, int round);
    /// The notice was delivered: nobody sends it again.
    void MarkSent(const NoticeClaim& claim);
    /// The notice was not delivered: a problem notice is given up (tried again at a later scan, by any
    /// member), a recovery notice stays owed and may be taken by any member at once.
    void Release(const NoticeClaim& claim);
    /// The outage start of the site's recovery that is owed and held by no one (0 when none), as read
    /// at the start of the scan.
    TDateTime OwedRecovery(const std::string& code) const;
    /// The outage start of the site's problem notice whose holder's lease ended before it was marked
    /// sent (0 when none), as read at the start of the scan: it may have gone out.
    TDateTime UnsettledProblem(const std::string& code) const;
    /// Removes that unsettled problem claim once its outage's recovery is claimed, by this member or
    /// another (held, or told already); otherwise it stays.
    void DropUnsettledProblem(const std::string& code, TDateTime since);
    /// Drops an owed recovery that no member holds: the site failed again before it was told, so for
    /// its contacts the outage goes on. False when a member holds it meanwhile (it is being sent).
    bool DropOwedRecovery(const std::string& code);

    /// Deletes old votes and claims (the daily purge).
    void Purge();
    /// Leaves the group (an orderly shutdown): removes this member's heartbeat and votes, so the others
    /// count it out at once instead of after the live window.
    void Leave();

private:
    std::string NowExpr() const;
    /// A live member of the group that probes every site, other than this one (empty: none).
    std::string MemberWithoutCopies();
    /// Why this member, which probes every site, may not join the group (its members share the
    /// sites), or empty.
    std::string RefuseFleet();
    void EnsureTables();
    /// Seconds a heartbeat or a vote counts: three poll intervals and a minute.
    long long LiveWindow() const;
    void Heartbeat();
    void ReadUnsentClaims();
    int FailedVotes(const std::string& code, const std::string& address);
    TDateTime Unsent(const std::string& code, ClaimKind kind) const;
    bool MarkerExists(const std::string& code);
    /// The key of a claim's row in WHERE form.
    std::string ClaimKey(const std::string& code, ClaimKind kind, TDateTime since, int round = 0) const;

    TDbConnection& m_connection;
    TDbDialect m_dialect;
    TDbQuery m_q;
    ClusterSettings m_settings;
    std::string m_group;
    int m_pollDelay = 5;
    bool m_tablesChecked = false;
    int m_live = 1;
    int m_quorumInForce = 0;
    int m_lastFailed = 0;
    bool m_lastKnown = true;
    /// The (quorum, live) last reported as lowered; reset once the full quorum is back.
    std::pair<int, int> m_reportedLow{0, 0};
    /// Site rows this member has a vote row of in this run.
    std::set<std::pair<std::string, std::string>> m_voted;
    /// Claims not marked sent whose lease has ended, read at the start of the scan.
    struct UnsentClaim {
        std::string Code;
        ClaimKind Kind;
        TDateTime Since;
    };
    std::vector<UnsentClaim> m_unsent;
    unsigned m_claims = 0;
    std::unique_ptr<FleetMember> m_fleet;
    bool m_acts = true;
    bool m_joined = false;
    std::string m_refused; ///< the refusal said last
};
