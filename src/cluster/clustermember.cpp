// The group's rows: heartbeats (vktnode), each member's latest result per site row (vktvote) and the
// notice claims (vktclaim). The statements are written once for the embedded database, PostgreSQL and
// SQL Server; only the server's clock and a date value read differently.
#include "cluster/clustermember.h"

#include "cluster/fleetrows.h"
#include "db/alarmrows.h"
#include "db/claimrows.h"
#include "db/common.h"
#include "db/data.h"
#include "platform/datetime.h"
#include "platform/strutil.h"

#include <random>

namespace {

/// A member is live while its heartbeat is younger than three poll intervals and this.
constexpr long long LiveSlackSeconds = 60;
/// Votes older than this belong to members long gone; claims are kept twice as long.
constexpr long long VoteKeepSeconds = SecondsPerDay;
constexpr long long ClaimKeepSeconds = 2 * VoteKeepSeconds;

struct TableDdl {
    const char* Name;
    const char* Create;
    const char* Index;
};

const TableDdl kTables[] = {
    {"vktnode", "CREATE TABLE vktnode (VKTID varchar(20) NOT NULL, node varchar(64) NOT NULL, seen bigint NOT NULL)",
     "CREATE UNIQUE INDEX ixvktnode ON vktnode (VKTID, node)"},
    {"vktvote",
     "CREATE TABLE vktvote (VKTID varchar(20) NOT NULL, node varchar(64) NOT NULL, code varchar(30) NOT NULL, "
     "address varchar(64) NOT NULL, failed integer NOT NULL, seen bigint NOT NULL)",
     "CREATE UNIQUE INDEX ixvktvote ON vktvote (VKTID, node, code, address)"},
    {"vktclaim", ClaimRows::Create, ClaimRows::Index},
};

/// The claim's kind as stored: "problem", "recovery", "rem<n>", "esc<n>" (at most 10 characters).
std::string KindName(ClaimKind kind, int round = 0) {
    switch (kind) {
    case ClaimKind::Problem:
        return "problem";
    case ClaimKind::Recovery:
        return "recovery";
    case ClaimKind::Reminder:
        return ClaimRows::RoundKind(true, round);
    case ClaimKind::Escalation:
        return ClaimRows::RoundKind(false, round);
    }
    return {};
}

/// A claim's outage start as whole seconds, the same on every member that read the same alarm row.
long long SinceKey(TDateTime since) {
    return ClaimRows::SinceKey(since);
}

std::string Num(long long n) {
    return std::to_string(n);
}

} // namespace

ClusterMember::ClusterMember(TDbConnection& connection, TDbDialect dialect)
    : m_connection(connection), m_dialect(dialect), m_q(connection) {}

void ClusterMember::Configure(const ClusterSettings& settings, const std::string& group, int pollDelayMinutes) {
    if (group != m_group || settings.Node != m_settings.Node) m_voted.clear();
    const bool sameFleet = group == m_group && settings.Node == m_settings.Node &&
                           settings.Copies == m_settings.Copies &&
                           settings.HeartbeatSeconds == m_settings.HeartbeatSeconds;
    if (!settings.Fleet() || !sameFleet) {
        if (m_fleet) m_fleet->Leave();
        m_fleet.reset();
    }
    if (settings.Fleet() && !m_fleet) m_fleet = std::make_unique<FleetMember>(m_q, m_dialect, settings, group);
    m_settings = settings;
    m_group = group;
    m_pollDelay = std::max(pollDelayMinutes, 0);
}

// The database server's clock in whole seconds since 1970.
std::string ClusterMember::NowExpr() const {
    return ClaimRows::ServerSeconds(m_dialect);
}

void ClusterMember::EnsureTables() {
    if (m_tablesChecked) return;
    for (const TableDdl& t : kTables)
        CreateTableIfMissing(m_q, t.Name, {t.Create, t.Index});
    m_tablesChecked = true;
}

long long ClusterMember::LiveWindow() const {
    return 3LL * 60 * m_pollDelay + LiveSlackSeconds;
}

std::string ClusterMember::BeginScan() {
    EnsureTables();
    if (m_fleet) {
        const FleetMember::Begun begun = m_fleet->BeginScan(m_fleet->LiveMembers() == 0 ? MemberWithoutCopies() : "");
        m_acts = begun.Acts;
        if (m_acts) ReadUnsentClaims();
        return begun.Line;
    }
    if (!m_joined) {
        const std::string refused = RefuseFleet();
        m_acts = refused.empty();
        if (!m_acts) {
            const bool said = refused == m_refused;
            m_refused = refused;
            return said ? std::string() : refused;
        }
        m_joined = true;
    }
    Heartbeat();
    ReadUnsentClaims();
    const int configured = m_settings.Quorum;
    m_quorumInForce = std::min(configured, m_live);
    if (m_quorumInForce >= configured) {
        m_reportedLow = {0, 0};
        return {};
    }
    const std::pair<int, int> low{m_quorumInForce, m_live};
    if (low == m_reportedLow) return {};
    m_reportedLow = low;
    return Format("Cluster quorum lowered to %d: %d members live", m_quorumInForce, m_live);
}

std::string ClusterMember::MemberWithoutCopies() {
    OpenStatement(m_q, {"SELECT node FROM vktnode WHERE VKTID = " + SQLLiteral(m_group) + " AND node <> " +
                        SQLLiteral(m_settings.Node) + " AND seen > " + NowExpr() + " - " + Num(LiveWindow())});
    return m_q.Eof() ? std::string() : VarToStrTrim(m_q.FieldByName("node"));
}

std::string ClusterMember::RefuseFleet() {
    // Only a group that shares its sites has these rows; an older database has not even the table.
    if (!FleetRows(m_q, m_dialect, m_group).AnyMemberWithin(LiveWindow())) return {};
    return "Cluster: refusing to join group " + m_group +
           ": its members share the sites (Copies), this member probes every site (no Copies)";
}

void ClusterMember::Heartbeat() {
    const std::string group = SQLLiteral(m_group), node = SQLLiteral(m_settings.Node);
    const long long window = LiveWindow();
    OpenStatement(m_q, {"SELECT node, " + NowExpr() + " - seen AS age FROM vktnode WHERE VKTID = " + group});
    bool known = false;
    m_live = 1;
    for (; !m_q.Eof(); m_q.Next()) {
        if (VarToStrTrim(m_q.FieldByName("node")) == m_settings.Node)
            known = true;
        else if (m_q.FieldByName("age").AsInteger() < window)
            ++m_live;
    }
    const std::vector<std::string> update{"UPDATE vktnode SET seen = " + NowExpr() + " WHERE VKTID = " + group +
                                          " AND node = " + node};
    if (known) {
        ExecStatement(m_q, update);
        return;
    }
    try {
        ExecStatement(
            m_q, {"INSERT INTO vktnode (VKTID, node, seen) VALUES (" + group + ", " + node + ", " + NowExpr() + ")"});
    } catch (const EDatabaseError&) {
        ExecStatement(m_q, update); // made meanwhile by an earlier run of this member
    }
}

void ClusterMember::ReadUnsentClaims() {
    m_unsent.clear();
    // Only problem and recovery claims are owed across members; a reminder whose sender died is simply
    // taken by whoever finds it due next.
    OpenStatement(m_q, {"SELECT code, kind, since FROM vktclaim WHERE sent = 0 AND lease < " + NowExpr() +
                        " AND kind IN ('problem', 'recovery')"});
    for (; !m_q.Eof(); m_q.Next()) {
        const bool problem = VarToStrTrim(m_q.FieldByName("kind")) == KindName(ClaimKind::Problem);
        m_unsent.push_back({VarToStrTrim(m_q.FieldByName("code")), problem ? ClaimKind::Problem : ClaimKind::Recovery,
                            SecondsToDays(m_q.FieldByName("since").AsInteger())});
    }
}

TDateTime ClusterMember::Unsent(const std::string& code, ClaimKind kind) const {
    for (const UnsentClaim& c : m_unsent)
        if (c.Kind == kind && SameSiteCode(c.Code, code)) return c.Since;
    return 0;
}

bool ClusterMember::Vote(const std::string& code, const std::string& address, bool failed) {
    if (m_fleet) {
        const FleetMember::Verdict verdict = m_fleet->Vote(code, address, failed);
        m_lastFailed = verdict.Failed;
        m_lastKnown = verdict.Known;
        return verdict.Down;
    }
    const std::string key = "VKTID = " + SQLLiteral(m_group) + " AND node = " + SQLLiteral(m_settings.Node) +
                            " AND code = " + SQLLiteral(code) + " AND address = " + SQLLiteral(address);
    const std::string f = failed ? "1" : "0";
    if (m_voted.insert({code, address}).second) {
        // The first vote of this run replaces whatever an earlier run of this member left.
        ExecStatement(m_q, {"DELETE FROM vktvote WHERE " + key});
        ExecStatement(m_q, {"INSERT INTO vktvote (VKTID, node, code, address, failed, seen) VALUES (" +
                            SQLLiteral(m_group) + ", " + SQLLiteral(m_settings.Node) + ", " + SQLLiteral(code) + ", " +
                            SQLLiteral(address) + ", " + f + ", " + NowExpr() + ")"});
    } else {
        ExecStatement(m_q, {"UPDATE vktvote SET failed = " + f + ", seen = " + NowExpr() + " WHERE " + key});
    }
    m_lastFailed = FailedVotes(code, address);
    return m_lastFailed >= std::max(m_quorumInForce, 1);
}

int ClusterMember::FailedVotes(const std::string& code, const std::string& address) {
    OpenStatement(m_q, {"SELECT COUNT(*) AS n FROM vktvote WHERE VKTID = " + SQLLiteral(m_group) +
                        " AND code = " + SQLLiteral(code) + " AND address = " + SQLLiteral(address) +
                        " AND failed = 1 AND seen > " + NowExpr() + " - " + Num(LiveWindow())});
    return static_cast<int>(m_q.FieldByName("n").AsInteger());
}

bool ClusterMember::StillDown(const std::string& code, const std::string& address) {
    if (m_fleet) return m_fleet->StillDown(code, address);
    return FailedVotes(code, address) >= std::max(m_quorumInForce, 1);
}

bool ClusterMember::PostAlarm(const std::string& code, TDateTime moment, std::string& error) {
    // One group scan is one poll interval (a second when scans follow each other at once). The row's
    // time is the moment in whole seconds, as it is written.
    const DateParts p = DecodeDateTime(moment);
    const TDateTime now = EncodeDateTime(p.year, p.month, p.day, p.hour, p.minute, p.second);
    const long long slot = m_pollDelay > 0 ? 60LL * m_pollDelay : 1;
    const long long nowSeconds = DaysToSeconds(now);
    const TDateTime slotStart = SecondsToDays(nowSeconds - nowSeconds % slot);
    AlarmRows rows(m_q);
    try {
        rows.PostIfAbsent(code, now, slotStart, m_dialect);
        return true;
    } catch (const EDatabaseError& e) {
        error = e.what();
    }
    // Two members posting in the same second collide on the alarms index: the row is there.
    try {
        if (rows.PostedSince(code, slotStart)) return true;
    } catch (const EDatabaseError&) {
    }
    return false;
}

void ClusterMember::StoreMarker(const std::string& code, TDateTime now) {
    AlarmRows rows(m_q);
    try {
        rows.StoreMarkerIfAbsent(code, now, m_dialect);
    } catch (const EDatabaseError&) {
        if (!rows.Marker(code)) throw;
    }
}

std::string ClusterMember::ClaimKey(const std::string& code, ClaimKind kind, TDateTime since, int round) const {
    return "code = " + SQLLiteral(code) + " AND kind = '" + KindName(kind, round) +
           "' AND since = " + Num(SinceKey(since));
}

NoticeClaim ClusterMember::ClaimRound(const std::string& code, ClaimKind kind, TDateTime since, int round) {
    static std::mt19937 random{std::random_device{}()};
    NoticeClaim claim{code, kind, since, {}, round};
    if (m_fleet && !m_fleet->MayClaim()) return claim; // counted out: its old share is another's now
    const std::string token =
        m_settings.Node + "#" + Format("%08x", static_cast<unsigned>(random())) + "." + Num(++m_claims);
    try {
        ExecStatement(m_q, {"INSERT INTO vktclaim (code, kind, since, holder, lease, sent, made) VALUES (" +
                            SQLLiteral(code) + ", '" + KindName(kind, round) + "', " + Num(SinceKey(since)) + ", " +
                            SQLLiteral(token) + ", " + NowExpr() + " + " + Num(m_settings.LeaseSeconds) + ", 0, " +
                            NowExpr() + ")"});
        claim.Token = token;
    } catch (const EDatabaseError&) {
        // Another member holds it or sent it.
    }
    return claim;
}

NoticeClaim ClusterMember::Claim(const std::string& code, ClaimKind kind, TDateTime since, bool replaceSent) {
    static std::mt19937 random{std::random_device{}()};
    NoticeClaim claim{code, kind, since, {}};
    if (m_fleet && !m_fleet->MayClaim()) return claim; // counted out: its old share is another's now
    const std::string token =
        m_settings.Node + "#" + Format("%08x", static_cast<unsigned>(random())) + "." + Num(++m_claims);
    const std::string lease = NowExpr() + " + " + Num(m_settings.LeaseSeconds);
    try {
        ExecStatement(m_q, {"INSERT INTO vktclaim (code, kind, since, holder, lease, sent, made) VALUES (" +
                            SQLLiteral(code) + ", '" + KindName(kind) + "', " + Num(SinceKey(since)) + ", " +
                            SQLLiteral(token) + ", " + lease + ", 0, " + NowExpr() + ")"});
        claim.Token = token;
        return claim;
    } catch (const EDatabaseError&) {
        // Held already: taken over only when its holder's lease ended before the notice was sent.
    }
    const std::string key = ClaimKey(code, kind, since);
    const std::string take = "UPDATE vktclaim SET holder = " + SQLLiteral(token) + ", lease = " + lease +
                             ", sent = 0 WHERE " + key + " AND ";
    ExecStatement(m_q, {take + "sent = 0 AND lease < " + NowExpr()});
    OpenStatement(m_q, {"SELECT holder, sent FROM vktclaim WHERE " + key});
    if (m_q.Eof()) throw EDatabaseError("Claiming the " + KindName(kind) + " notice of " + code + " failed");
    if (VarToStrTrim(m_q.FieldByName("holder")) == token) {
        claim.Token = token;
        return claim;
    }
    // A claim marked sent whose marker row is gone belongs to an earlier outage begun in the same
    // second. Its holder stored the marker before marking it sent, so the marker is read only now.
    if (!replaceSent || m_q.FieldByName("sent").AsInteger() != 1 || MarkerExists(code)) return claim;
    ExecStatement(m_q, {take + "sent = 1"});
    OpenStatement(m_q, {"SELECT holder FROM vktclaim WHERE " + key});
    if (m_q.Eof() || VarToStrTrim(m_q.FieldByName("holder")) != token) return claim;
    claim.Token = token;
    // That outage's recovery was keyed alike: it must not stand in the way of this one's.
    ExecStatement(m_q, {"DELETE FROM vktclaim WHERE " + ClaimKey(code, ClaimKind::Recovery, since) + " AND sent = 1"});
    return claim;
}

bool ClusterMember::MarkerExists(const std::string& code) {
    return AlarmRows(m_q).Marker(code).has_value();
}

void ClusterMember::MarkSent(const NoticeClaim& claim) {
    ExecStatement(m_q,
                  {"UPDATE vktclaim SET sent = 1 WHERE " + ClaimKey(claim.Code, claim.Kind, claim.Since, claim.Round) +
                   " AND holder = " + SQLLiteral(claim.Token)});
}

void ClusterMember::Release(const NoticeClaim& claim) {
    const std::string where =
        ClaimKey(claim.Code, claim.Kind, claim.Since, claim.Round) + " AND holder = " + SQLLiteral(claim.Token);
    if (claim.Kind != ClaimKind::Recovery)
        ExecStatement(m_q, {"DELETE FROM vktclaim WHERE " + where});
    else
        ExecStatement(m_q, {"UPDATE vktclaim SET lease = 0 WHERE " + where});
}

TDateTime ClusterMember::OwedRecovery(const std::string& code) const {
    return Unsent(code, ClaimKind::Recovery);
}

TDateTime ClusterMember::UnsettledProblem(const std::string& code) const {
    return Unsent(code, ClaimKind::Problem);
}

void ClusterMember::DropUnsettledProblem(const std::string& code, TDateTime since) {
    OpenStatement(m_q, {"SELECT COUNT(*) AS n FROM vktclaim WHERE " + ClaimKey(code, ClaimKind::Recovery, since)});
    if (m_q.FieldByName("n").AsInteger() == 0) return;
    ExecStatement(m_q, {"DELETE FROM vktclaim WHERE " + ClaimKey(code, ClaimKind::Problem, since) +
                        " AND sent = 0 AND lease < " + NowExpr()});
}

bool ClusterMember::DropOwedRecovery(const std::string& code) {
    const TDateTime since = OwedRecovery(code);
    if (since == 0) return false;
    std::erase_if(m_unsent,
                  [&](const UnsentClaim& c) { return c.Kind == ClaimKind::Recovery && SameSiteCode(c.Code, code); });
    const std::string key = ClaimKey(code, ClaimKind::Recovery, since);
    // Settled without a notice rather than deleted: a member that read it as owed at the start of its
    // scan could otherwise insert the claim anew and tell of a recovery while the outage goes on, after
    // this member stored the marker that keeps the outage's problem notice from going out again.
    const std::string token = m_settings.Node + "#dropped." + Num(++m_claims);
    ExecStatement(m_q, {"UPDATE vktclaim SET holder = " + SQLLiteral(token) + ", sent = 1 WHERE " + key +
                        " AND sent = 0 AND lease < " + NowExpr()});
    OpenStatement(m_q, {"SELECT holder FROM vktclaim WHERE " + key});
    return !m_q.Eof() && VarToStrTrim(m_q.FieldByName("holder")) == token;
}

void ClusterMember::Purge() {
    EnsureTables();
    ExecStatement(m_q, {"DELETE FROM vktvote WHERE seen < " + NowExpr() + " - " + Num(VoteKeepSeconds)});
    ExecStatement(m_q, {"DELETE FROM vktclaim WHERE made < " + NowExpr() + " - " + Num(ClaimKeepSeconds)});
    if (m_fleet) m_fleet->Purge();
}

void ClusterMember::Leave() {
    if (m_fleet) m_fleet->Leave();
    if (!m_tablesChecked) return; // never joined
    const std::string me = "VKTID = " + SQLLiteral(m_group) + " AND node = " + SQLLiteral(m_settings.Node);
    ExecStatement(m_q, {"DELETE FROM vktvote WHERE " + me});
    ExecStatement(m_q, {"DELETE FROM vktnode WHERE " + me});
    m_voted.clear();
}
