// The statements on table vktack.
#include "db/ackrows.h"

#include "db/common.h"
#include "db/alarmrows.h"
#include "db/data.h"
#include "platform/datetime.h"
#include "platform/strutil.h"

namespace {

std::string SinceKey(TDateTime since) {
    return std::to_string(DaysToSeconds(since));
}

} // namespace

void AckRows::EnsureTable() {
    CreateTableIfMissing(m_q, "vktack", {Create, Index});
}

void AckRows::Store(const AckRow& row) {
    const std::string code = SQLLiteral(CutToBytes(row.Code, 30));
    ExecStatement(m_q, {"DELETE FROM vktack WHERE code = " + code + " AND since = " + SinceKey(row.Since)});
    ExecStatement(m_q,
                  {"INSERT INTO vktack (code, since, who, note, made) VALUES (" + code + ", " + SinceKey(row.Since) +
                   ", " + SQLLiteral(CutToBytes(row.By, 100)) + ", " + SQLLiteral(CutToBytes(row.Comment, 255)) + ", " +
                   std::to_string(DateTimeToTimeT(row.At)) + ")"});
}

std::optional<AckRow> AckRows::Acknowledge(const std::string& code, const std::string& by, const std::string& comment,
                                           TDateTime at) {
    EnsureTable();
    const std::optional<TDateTime> since = AlarmRows(m_q).OutageStart(code);
    if (!since) return std::nullopt;
    const AckRow row{code, *since, by, comment, at};
    Store(row);
    return row;
}

std::vector<AckRow> AckRows::ReadAll() {
    OpenStatement(m_q, {"SELECT code, since, who, note, made FROM vktack"});
    std::vector<AckRow> rows;
    for (; !m_q.Eof(); m_q.Next())
        rows.push_back({VarToStrTrim(m_q.FieldByName("code")), SecondsToDays(m_q.FieldByName("since").AsInteger()),
                        VarToStrTrim(m_q.FieldByName("who")), VarToStrTrim(m_q.FieldByName("note")),
                        DateTimeFromTimeT(m_q.FieldByName("made").AsInteger())});
    return rows;
}

void AckRows::Clear(const std::string& code) {
    ExecStatement(m_q, {"DELETE FROM vktack WHERE code = " + SQLLiteral(code)});
}
