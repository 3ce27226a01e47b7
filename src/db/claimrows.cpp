// The statements on table vktclaim that a daemon alone needs, and what the group shares with it.
#include "db/claimrows.h"

#include "db/data.h"
#include "platform/datetime.h"

#include <ctime>

namespace {

const char* const RoundKinds = "(kind LIKE 'rem%' OR kind LIKE 'esc%')";

} // namespace

std::string ClaimRows::RoundKind(bool reminder, int round) {
    return (reminder ? "rem" : "esc") + std::to_string(round);
}

long long ClaimRows::SinceKey(TDateTime since) {
    return DaysToSeconds(since);
}

std::string ClaimRows::ServerSeconds(TDbDialect dialect) {
    switch (dialect) {
    case TDbDialect::SQLite:
        return "CAST(strftime('%s', 'now') AS INTEGER)";
    case TDbDialect::PostgreSQL:
        return "CAST(EXTRACT(EPOCH FROM CURRENT_TIMESTAMP) AS BIGINT)";
    case TDbDialect::SqlServer:
        return "CAST(DATEDIFF(second, '19700101', GETUTCDATE()) AS BIGINT)";
    default:
        return std::to_string(static_cast<long long>(std::time(nullptr)));
    }
}

void ClaimRows::EnsureTable() {
    CreateTableIfMissing(m_q, "vktclaim", {Create, Index});
}

bool ClaimRows::Sent(const std::string& code, const std::string& kind, TDateTime since) {
    OpenStatement(m_q, {"SELECT COUNT(*) AS n FROM vktclaim WHERE code = " + SQLLiteral(code) + " AND kind = " +
                        SQLLiteral(kind) + " AND since = " + std::to_string(SinceKey(since)) + " AND sent = 1"});
    return m_q.FieldByName("n").AsInteger() > 0;
}

void ClaimRows::StoreSent(const std::string& code, const std::string& kind, TDateTime since,
                          const std::string& holder) {
    const std::string site = "code = " + SQLLiteral(code) + " AND since = " + std::to_string(SinceKey(since));
    ExecStatement(m_q, {"DELETE FROM vktclaim WHERE " + site + " AND " +
                        (kind.rfind("rem", 0) == 0 ? std::string("kind LIKE 'rem%'") : "kind = " + SQLLiteral(kind))});
    const std::string now = ServerSeconds(m_dialect);
    ExecStatement(m_q, {"INSERT INTO vktclaim (code, kind, since, holder, lease, sent, made) VALUES (" +
                        SQLLiteral(code) + ", " + SQLLiteral(kind) + ", " + std::to_string(SinceKey(since)) + ", " +
                        SQLLiteral(holder) + ", " + now + ", 1, " + now + ")"});
}

void ClaimRows::ClearRounds(const std::string& code) {
    ExecStatement(m_q, {"DELETE FROM vktclaim WHERE code = " + SQLLiteral(code) + " AND " + RoundKinds});
}

void ClaimRows::PurgeRounds(long long seconds) {
    ExecStatement(m_q, {"DELETE FROM vktclaim WHERE made < " + ServerSeconds(m_dialect) + " - " +
                        std::to_string(seconds) + " AND " + RoundKinds});
}
