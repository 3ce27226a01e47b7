// The statements on table alarms, in the text the daemon has always sent (dates as 'm/d/yyyy hh:nn:ss').
#include "db/alarmrows.h"

#include "db/common.h"
#include "db/data.h"

namespace {

std::string DateLiteral(TDateTime moment) {
    return SQLLiteral(FormatSQLDate(false, moment));
}

/// A date value in an INSERT ... SELECT list: PostgreSQL types a bare literal there as text.
std::string DateValue(TDbDialect dialect, TDateTime moment) {
    const std::string literal = DateLiteral(moment);
    return dialect == TDbDialect::PostgreSQL ? "CAST(" + literal + " AS TIMESTAMP)" : literal;
}

std::string PurgeCutoff(TDbDialect dialect, TDateTime now) {
    const std::string clock = ServerClock(dialect);
    if (clock.empty()) return DateLiteral(now - 1);
    return dialect == TDbDialect::PostgreSQL ? clock + " - INTERVAL '1 day'" : "DATEADD(day, -1, " + clock + ")";
}

std::string PostedSelect(const std::string& code, TDateTime since) {
    return "SELECT * FROM alarms WHERE Code = " + SQLLiteral(code) + " AND FailTime >= " + DateLiteral(since);
}

} // namespace

AlarmRows::AlarmRows(TVKTDataModule& dm) : m_writes(dm.adoQ2), m_reads(dm.adoAlarms), m_purge(dm.adoQ1) {}

AlarmRows::AlarmRows(TDbQuery& query) : m_writes(query), m_reads(query), m_purge(query) {}

std::string AlarmRows::MarkerCode(const std::string& code) {
    return code + "MAILED";
}

void AlarmRows::Post(const std::string& code, TDateTime when) {
    ExecStatement(m_writes,
                  {"INSERT INTO alarms (Code, FailTime) VALUES (" + SQLLiteral(code) + ", " + DateLiteral(when) + ")"});
}

void AlarmRows::Post(const std::vector<std::string>& codes, TDateTime when) {
    const std::string at = DateLiteral(when);
    std::string rows;
    for (const std::string& code : codes)
        rows += (rows.empty() ? "(" : ", (") + SQLLiteral(code) + ", " + at + ")";
    ExecStatement(m_writes, {"INSERT INTO alarms (Code, FailTime) VALUES " + rows});
}

void AlarmRows::PostIfAbsent(const std::string& code, TDateTime when, TDateTime since, TDbDialect dialect) {
    ExecStatement(m_writes, {"INSERT INTO alarms (Code, FailTime) SELECT " + SQLLiteral(code) + ", " +
                             DateValue(dialect, when) + " WHERE NOT EXISTS (" + PostedSelect(code, since) + ")"});
}

bool AlarmRows::PostedSince(const std::string& code, TDateTime since) {
    OpenStatement(m_reads, {PostedSelect(code, since)});
    return !m_reads.Eof();
}

void AlarmRows::Clear(const std::string& code) {
    ExecStatement(m_writes, {"DELETE FROM alarms WHERE code = " + SQLLiteral(code) +
                             " OR code = " + SQLLiteral(MarkerCode(code)) + " "});
}

void AlarmRows::Clear(const std::vector<std::string>& codes) {
    std::string list;
    for (const std::string& code : codes)
        list += (list.empty() ? "" : ", ") + SQLLiteral(code) + ", " + SQLLiteral(MarkerCode(code));
    ExecStatement(m_writes, {"DELETE FROM alarms WHERE code IN (" + list + ") "});
}

void AlarmRows::StoreMarker(const std::string& code, TDateTime when) {
    ExecStatement(m_writes, {"INSERT INTO alarms (Code, FailTime) VALUES (" + SQLLiteral(MarkerCode(code)) + ", " +
                             DateLiteral(when) + ") "});
}

void AlarmRows::StoreMarkerIfAbsent(const std::string& code, TDateTime when, TDbDialect dialect) {
    const std::string marker = SQLLiteral(MarkerCode(code));
    ExecStatement(m_writes, {"INSERT INTO alarms (Code, FailTime) SELECT " + marker + ", " + DateValue(dialect, when) +
                             " WHERE NOT EXISTS (SELECT * FROM alarms WHERE Code = " + marker + ")"});
}

std::optional<TDateTime> AlarmRows::Marker(const std::string& code) {
    OpenStatement(m_reads, {"SELECT * FROM alarms WHERE Code = " + SQLLiteral(MarkerCode(code)) + " "});
    if (m_reads.Eof()) return std::nullopt;
    return VarToFloatDef(m_reads.FieldByName("failtime"));
}

std::optional<TDateTime> AlarmRows::OutageStart(const std::string& code) {
    OpenStatement(m_reads, {"SELECT * FROM alarms WHERE Code = " + SQLLiteral(code) + " ORDER BY FailTime"});
    if (m_reads.Eof()) return std::nullopt;
    return VarToFloatDef(m_reads.FieldByName("failtime"));
}

NoticeDue AlarmRows::ProblemDue(const std::string& code, TDateTime now) {
    NoticeDue due;
    due.Notified = Marker(code).has_value();
    if (due.Notified) return due;
    const std::optional<TDateTime> start = OutageStart(code);
    if (!start) return due;
    due.Since = *start;
    OpenSiteRows(m_reads, code);
    if (m_reads.Eof()) return due;
    const long long allowedDown = VarToIntDef(m_reads.FieldByName("downtime"));
    due.Due = DateDiff('n', due.Since, now) >= allowedDown;
    return due;
}

void AlarmRows::PurgeDayOld(TDbDialect dialect, TDateTime now) {
    ExecStatement(m_purge, {"DELETE FROM alarms WHERE FailTime < " + PurgeCutoff(dialect, now)});
}
