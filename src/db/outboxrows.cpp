// Statements of the outbox.
#include "db/outboxrows.h"

#include "db/claimrows.h"
#include "db/common.h"
#include "db/data.h"

namespace {

const char* const Create =
    "CREATE TABLE vktoutbox (VKTID varchar(20) NOT NULL, okey varchar(250) NOT NULL, channel varchar(64) NOT NULL, "
    "code varchar(30) NOT NULL, kind varchar(20) NOT NULL, notice text NOT NULL, made bigint NOT NULL, "
    "due bigint NOT NULL, tries integer NOT NULL, state integer NOT NULL, holder varchar(100) NOT NULL, "
    "error varchar(250) NOT NULL)";
const char* const Index = "CREATE UNIQUE INDEX ixvktoutbox ON vktoutbox (VKTID, okey)";
const char* const Columns = "okey, channel, code, kind, notice, made, tries, state, error";

OutboxRow Read(const TDbQuery& q) {
    OutboxRow r;
    r.Key = VarToStrTrim(q.FieldByName("okey"));
    r.Channel = VarToStrTrim(q.FieldByName("channel"));
    r.Code = VarToStrTrim(q.FieldByName("code"));
    r.Kind = VarToStrTrim(q.FieldByName("kind"));
    r.Notice = q.FieldByName("notice").AsString();
    r.Made = q.FieldByName("made").AsInteger();
    r.Tries = static_cast<int>(q.FieldByName("tries").AsInteger());
    r.State = static_cast<int>(q.FieldByName("state").AsInteger());
    r.Error = VarToStrTrim(q.FieldByName("error"));
    return r;
}

std::string Short(const std::string& text) {
    return SQLLiteral(text.substr(0, 250));
}

} // namespace

OutboxRows::OutboxRows(TDbQuery& query, TDbDialect dialect, std::string group)
    : m_q(query), m_dialect(dialect), m_group(std::move(group)) {}

std::string OutboxRows::Row(const std::string& key) const {
    return "VKTID = " + SQLLiteral(m_group) + " AND okey = " + SQLLiteral(key);
}

std::string OutboxRows::Now() const {
    return ClaimRows::ServerSeconds(m_dialect);
}

void OutboxRows::EnsureTable() {
    CreateTableIfMissing(m_q, "vktoutbox", {Create, Index});
}

bool OutboxRows::Add(const OutboxRow& row) {
    OutboxRow known;
    if (Find(row.Key, known)) return false; // a notice asked for again at each scan is queued once
    try {
        ExecStatement(m_q, {"INSERT INTO vktoutbox (VKTID, okey, channel, code, kind, notice, made, due, tries, state, "
                            "holder, error) VALUES (" +
                            SQLLiteral(m_group) + ", " + SQLLiteral(row.Key) + ", " + SQLLiteral(row.Channel) + ", " +
                            SQLLiteral(row.Code) + ", " + SQLLiteral(row.Kind) + ", " + SQLLiteral(row.Notice) + ", " +
                            Now() + ", " + Now() + ", 0, 0, '', '')"});
        return true;
    } catch (const EDatabaseError&) {
        if (Find(row.Key, known)) return false; // another member queued it at the same moment
        throw;
    }
}

std::vector<OutboxRow> OutboxRows::Due(const std::string& channel) {
    OpenStatement(m_q, {std::string("SELECT ") + Columns + " FROM vktoutbox WHERE VKTID = " + SQLLiteral(m_group) +
                        " AND channel = " + SQLLiteral(channel) + " AND state IN (0, 3) AND due <= " + Now() +
                        " ORDER BY made, okey"});
    std::vector<OutboxRow> rows;
    for (; !m_q.Eof(); m_q.Next())
        rows.push_back(Read(m_q));
    return rows;
}

bool OutboxRows::Take(const std::string& key, const std::string& holder, long long lease) {
    ExecStatement(m_q, {"UPDATE vktoutbox SET holder = " + SQLLiteral(holder) + ", due = " + Now() + " + " +
                        std::to_string(lease) + " WHERE " + Row(key) + " AND state IN (0, 3) AND due <= " + Now()});
    OpenStatement(m_q, {"SELECT holder FROM vktoutbox WHERE " + Row(key)});
    return !m_q.Eof() && VarToStrTrim(m_q.FieldByName("holder")) == holder;
}

void OutboxRows::MarkDelivered(const std::string& key, long long repeatSeconds) {
    ExecStatement(m_q, {"UPDATE vktoutbox SET state = " + std::to_string(repeatSeconds > 0 ? Repeating : Delivered) +
                        ", tries = tries + 1, error = '', holder = '', due = " + Now() + " + " +
                        std::to_string(repeatSeconds) + " WHERE " + Row(key)});
}

void OutboxRows::MarkFailed(const std::string& key, const std::string& error, long long retrySeconds) {
    ExecStatement(m_q, {"UPDATE vktoutbox SET tries = tries + 1, error = " + Short(error) +
                        ", holder = '', due = " + Now() + " + " + std::to_string(retrySeconds) + " WHERE " + Row(key)});
}

void OutboxRows::MarkGivenUp(const std::string& key, const std::string& error) {
    ExecStatement(m_q, {"UPDATE vktoutbox SET state = 2, tries = tries + 1, holder = '', error = " + Short(error) +
                        " WHERE " + Row(key)});
}

void OutboxRows::MarkUnconfirmed(const std::string& key, const std::string& error) {
    ExecStatement(m_q, {"UPDATE vktoutbox SET state = " + std::to_string(Unconfirmed) +
                        ", tries = tries + 1, holder = '', error = " + Short(error) + " WHERE " + Row(key)});
}

std::vector<std::pair<std::string, std::string>> OutboxRows::Held(const std::string& channel) {
    OpenStatement(m_q, {"SELECT okey, holder FROM vktoutbox WHERE VKTID = " + SQLLiteral(m_group) +
                        " AND channel = " + SQLLiteral(channel) + " AND state IN (0, 3) AND holder <> ''"});
    std::vector<std::pair<std::string, std::string>> held;
    for (; !m_q.Eof(); m_q.Next())
        held.emplace_back(VarToStrTrim(m_q.FieldByName("okey")), VarToStrTrim(m_q.FieldByName("holder")));
    return held;
}

void OutboxRows::Release(const std::string& key, const std::string& holder) {
    ExecStatement(m_q, {"UPDATE vktoutbox SET holder = '', due = " + Now() + " WHERE " + Row(key) +
                        " AND holder = " + SQLLiteral(holder)});
}

void OutboxRows::StopRepeating(const std::string& key) {
    ExecStatement(m_q, {"UPDATE vktoutbox SET state = 1, holder = '' WHERE " + Row(key) + " AND state = 3"});
}

bool OutboxRows::Find(const std::string& key, OutboxRow& row) {
    OpenStatement(m_q, {std::string("SELECT ") + Columns + " FROM vktoutbox WHERE " + Row(key)});
    if (m_q.Eof()) return false;
    row = Read(m_q);
    return true;
}

long long OutboxRows::AgeOf(const OutboxRow& row) {
    OpenStatement(
        m_q, {"SELECT " + Now() + " - " + std::to_string(row.Made) + " AS age FROM vktoutbox WHERE " + Row(row.Key)});
    return m_q.Eof() ? 0 : m_q.FieldByName("age").AsInteger();
}

void OutboxRows::Purge(long long seconds) {
    ExecStatement(m_q, {"DELETE FROM vktoutbox WHERE VKTID = " + SQLLiteral(m_group) +
                        " AND state IN (1, 2, 4) AND made < " + Now() + " - " + std::to_string(seconds)});
}
