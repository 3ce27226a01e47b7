// Statements of the fleet's tables; times are whole seconds of the database server's clock.
#include "cluster/fleetrows.h"

#include "db/claimrows.h"
#include "db/common.h"
#include "db/data.h"

#include <cstdint>

namespace {

const char* const CreateMembers = "CREATE TABLE vktfleet (VKTID varchar(20) NOT NULL, node varchar(64) NOT NULL, "
                                  "incarnation bigint NOT NULL, copies integer NOT NULL, seen bigint NOT NULL, "
                                  "scanned bigint NOT NULL)";
const char* const IndexMembers = "CREATE UNIQUE INDEX ixvktfleet ON vktfleet (VKTID, node)";
const char* const CreateFailures =
    "CREATE TABLE vktfail (VKTID varchar(20) NOT NULL, node varchar(64) NOT NULL, incarnation bigint NOT NULL, "
    "code varchar(30) NOT NULL, address varchar(64) NOT NULL, since bigint NOT NULL)";
const char* const IndexFailures = "CREATE UNIQUE INDEX ixvktfail ON vktfail (VKTID, node, code, address)";

std::string Number(long long n) {
    return std::to_string(n);
}

} // namespace

FleetRows::FleetRows(TDbQuery& query, TDbDialect dialect, std::string group)
    : m_q(query), m_dialect(dialect), m_group(std::move(group)) {}

std::string FleetRows::Group() const {
    return "VKTID = " + SQLLiteral(m_group);
}

std::string FleetRows::Now() const {
    return ClaimRows::ServerSeconds(m_dialect);
}

std::string FleetRows::Me(const std::string& node) const {
    return Group() + " AND node = " + SQLLiteral(node);
}

void FleetRows::EnsureTables() {
    CreateTableIfMissing(m_q, "vktfleet", {CreateMembers, IndexMembers});
    CreateTableIfMissing(m_q, "vktfail", {CreateFailures, IndexFailures});
}

std::vector<FleetRow> FleetRows::Members() {
    OpenStatement(m_q, {"SELECT node, incarnation, copies, scanned, " + Now() + " - seen AS age FROM vktfleet WHERE " +
                        Group() + " ORDER BY node"});
    std::vector<FleetRow> rows;
    for (; !m_q.Eof(); m_q.Next())
        rows.push_back({VarToStrTrim(m_q.FieldByName("node")), m_q.FieldByName("incarnation").AsInteger(),
                        static_cast<int>(m_q.FieldByName("copies").AsInteger()), m_q.FieldByName("age").AsInteger(),
                        m_q.FieldByName("scanned").AsInteger()});
    return rows;
}

bool FleetRows::AnyMemberWithin(long long seconds) {
    try {
        OpenStatement(m_q, {"SELECT COUNT(*) AS n FROM vktfleet WHERE " + Group() + " AND seen >= " + Now() + " - " +
                            Number(seconds)});
        return m_q.FieldByName("n").AsInteger() > 0;
    } catch (const EDatabaseError&) {
        return false; // no such table: no group has shared its sites on this database
    }
}

long long FleetRows::Join(const std::string& node, int copies) {
    OpenStatement(m_q, {"SELECT incarnation FROM vktfleet WHERE " + Me(node)});
    const bool known = !m_q.Eof();
    const long long incarnation = known ? m_q.FieldByName("incarnation").AsInteger() + 1 : 1;
    const std::string update = "UPDATE vktfleet SET incarnation = " + Number(incarnation) +
                               ", copies = " + Number(copies) + ", seen = " + Now() + ", scanned = 0 WHERE " + Me(node);
    if (known) {
        ExecStatement(m_q, {update});
    } else {
        try {
            ExecStatement(m_q, {"INSERT INTO vktfleet (VKTID, node, incarnation, copies, seen, scanned) VALUES (" +
                                SQLLiteral(m_group) + ", " + SQLLiteral(node) + ", 1, " + Number(copies) + ", " +
                                Now() + ", 0)"});
        } catch (const EDatabaseError&) {
            ExecStatement(m_q, {update}); // made meanwhile by an earlier run of this member
        }
    }
    ExecStatement(m_q, {"DELETE FROM vktfail WHERE " + Me(node) + " AND incarnation <> " + Number(incarnation)});
    return incarnation;
}

bool FleetRows::Beat(const std::string& node, long long incarnation, long long live) {
    // Renewed only while still counted in: a member paused past its window must not come back under
    // its old incarnation, whose share and votes the others have let go of.
    ExecStatement(m_q, {"UPDATE vktfleet SET seen = " + Now() + " WHERE " + Me(node) +
                        " AND incarnation = " + Number(incarnation) + " AND seen >= " + Now() + " - " + Number(live)});
    return CountedIn(node, incarnation, live);
}

bool FleetRows::CountedIn(const std::string& node, long long incarnation, long long live) {
    OpenStatement(m_q, {"SELECT COUNT(*) AS n FROM vktfleet WHERE " + Me(node) +
                        " AND incarnation = " + Number(incarnation) + " AND seen >= " + Now() + " - " + Number(live)});
    return m_q.FieldByName("n").AsInteger() > 0;
}

void FleetRows::Scanned(const std::string& node, long long incarnation, long long epoch) {
    ExecStatement(m_q, {"UPDATE vktfleet SET scanned = " + Number(epoch) + " WHERE " + Me(node) +
                        " AND incarnation = " + Number(incarnation)});
}

long long FleetRows::Epoch(const std::vector<FleetRow>& live) {
    std::uint64_t h = 14695981039346656037ULL;
    for (const FleetRow& r : live)
        for (const unsigned char c : r.Node + "#" + Number(r.Incarnation) + ";") {
            h ^= c;
            h *= 1099511628211ULL;
        }
    return static_cast<long long>(h >> 1); // positive, and never 0 for a membership of anyone
}

void FleetRows::Leave(const std::string& node) {
    ExecStatement(m_q, {"DELETE FROM vktfail WHERE " + Me(node)});
    ExecStatement(m_q, {"DELETE FROM vktfleet WHERE " + Me(node)});
}

std::vector<FailRow> FleetRows::Failures(const std::string& code, const std::string& address) {
    std::string where = Group();
    if (!code.empty()) where += " AND code = " + SQLLiteral(code) + " AND address = " + SQLLiteral(address);
    OpenStatement(m_q, {"SELECT node, incarnation, code, address FROM vktfail WHERE " + where});
    std::vector<FailRow> rows;
    for (; !m_q.Eof(); m_q.Next())
        rows.push_back({VarToStrTrim(m_q.FieldByName("node")), m_q.FieldByName("incarnation").AsInteger(),
                        VarToStrTrim(m_q.FieldByName("code")), VarToStrTrim(m_q.FieldByName("address"))});
    return rows;
}

void FleetRows::Fail(const std::string& node, long long incarnation, const std::string& code,
                     const std::string& address) {
    const std::string row = Me(node) + " AND code = " + SQLLiteral(code) + " AND address = " + SQLLiteral(address);
    ExecStatement(m_q, {"DELETE FROM vktfail WHERE " + row});
    ExecStatement(m_q, {"INSERT INTO vktfail (VKTID, node, incarnation, code, address, since) VALUES (" +
                        SQLLiteral(m_group) + ", " + SQLLiteral(node) + ", " + Number(incarnation) + ", " +
                        SQLLiteral(code) + ", " + SQLLiteral(address) + ", " + Now() + ")"});
}

void FleetRows::Answer(const std::string& node, const std::string& code, const std::string& address) {
    ExecStatement(m_q, {"DELETE FROM vktfail WHERE " + Me(node) + " AND code = " + SQLLiteral(code) +
                        " AND address = " + SQLLiteral(address)});
}

void FleetRows::Purge() {
    ExecStatement(m_q, {"DELETE FROM vktfail WHERE " + Group() +
                        " AND NOT EXISTS (SELECT 1 FROM vktfleet f WHERE f.VKTID = vktfail.VKTID AND f.node = "
                        "vktfail.node AND f.incarnation = vktfail.incarnation)"});
}
