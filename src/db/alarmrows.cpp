// The statements on table alarms, in the text the daemon has always sent (dates as 'm/d/yyyy hh:nn:ss').
#include "db/alarmrows.h"

#include "db/common.h"
#include "db/data.h"
#include "platform/strutil.h"

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

std::string InList(const std::vector<std::string>& codes) {
    std::string list;
    for (const std::string& code : codes)
        list += (list.empty() ? "" : ", ") + SQLLiteral(code);
    return "(" + list + ")";
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
    std::vector<std::string> both;
    for (const std::string& code : codes) {
        both.push_back(code);
        both.push_back(MarkerCode(code));
    }
    ExecStatement(m_writes, {"DELETE FROM alarms WHERE code IN " + InList(both) + " "});
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

std::unordered_set<std::string> AlarmRows::CodeKeys() {
    std::unordered_set<std::string> keys;
    OpenStatement(m_reads, {"SELECT DISTINCT Code FROM alarms "});
    for (; !m_reads.Eof(); m_reads.Next())
        keys.insert(SiteCodeKey(VarToStrTrim(m_reads.FieldByName("Code"))));
    return keys;
}

std::optional<TDateTime> AlarmRows::OutageStart(const std::string& code) {
    OpenStatement(m_reads, {"SELECT * FROM alarms WHERE Code = " + SQLLiteral(code) + " ORDER BY FailTime"});
    if (m_reads.Eof()) return std::nullopt;
    return VarToFloatDef(m_reads.FieldByName("failtime"));
}

NoticeDue AlarmRows::ProblemDue(const std::string& code, TDateTime now) {
    NoticeRows rows;
    rows.Marker = Marker(code);
    if (!rows.Marker) rows.Start = OutageStart(code);
    if (rows.Start) {
        OpenSiteRows(m_reads, code);
        if (!m_reads.Eof()) rows.AllowedDown = VarToIntDef(m_reads.FieldByName("downtime"));
    }
    return Decide(rows, now);
}

NoticeDue AlarmRows::Decide(const NoticeRows& rows, TDateTime now) {
    NoticeDue due;
    due.Notified = rows.Marker.has_value();
    if (due.Notified || !rows.Start) return due;
    due.Since = *rows.Start;
    due.Due = rows.AllowedDown && DateDiff('n', due.Since, now) >= *rows.AllowedDown;
    return due;
}

std::optional<std::unordered_map<std::string, NoticeRows>> AlarmRows::OutagesOf(const std::vector<std::string>& codes) {
    std::optional<GatheredRows> read = RowsOf(codes, {});
    if (!read) return std::nullopt;
    return std::move(read->Outages);
}

std::optional<GatheredRows> AlarmRows::RowsOf(const std::vector<std::string>& codes,
                                              const std::vector<std::string>& others) {
    GatheredRows gathered;
    std::unordered_map<std::string, NoticeRows*> alarmsOf, markerOf; // by key
    std::unordered_map<std::string, const std::string*> otherOf;     // by key of the code and of its marker
    std::vector<std::string> listed;
    for (const std::string& code : codes) {
        NoticeRows* rows = &gathered.Outages[code];
        alarmsOf[SiteCodeKey(code)] = rows;
        markerOf[SiteCodeKey(MarkerCode(code))] = rows;
        listed.push_back(code);
        listed.push_back(MarkerCode(code));
    }
    for (const std::string& code : others) {
        otherOf[SiteCodeKey(code)] = otherOf[SiteCodeKey(MarkerCode(code))] = &code;
        listed.push_back(code);
        listed.push_back(MarkerCode(code));
    }
    if (listed.empty()) return gathered;
    const auto find = [](const auto& of, const std::string& key) {
        const auto found = key.empty() ? of.end() : of.find(key);
        return found == of.end() ? nullptr : found->second;
    };
    OpenStatement(m_reads, {"SELECT Code, FailTime FROM alarms WHERE Code IN " + InList(listed) + " "});
    for (; !m_reads.Eof(); m_reads.Next()) {
        const std::string key = SiteCodeKey(VarToStrTrim(m_reads.FieldByName("Code")));
        const TDateTime time = VarToFloatDef(m_reads.FieldByName("failtime"));
        if (NoticeRows* rows = find(alarmsOf, key)) {
            if (!rows->Start || time < *rows->Start) rows->Start = time;
        } else if (NoticeRows* marked = find(markerOf, key)) {
            if (!marked->Marker) marked->Marker = time;
        } else if (const std::string* other = find(otherOf, key)) {
            gathered.WithRows.insert(*other);
        } else {
            return std::nullopt;
        }
    }
    if (codes.empty()) return gathered;
    OpenSiteRows(m_reads, codes);
    for (; !m_reads.Eof(); m_reads.Next()) {
        NoticeRows* rows = find(alarmsOf, SiteCodeKey(VarToStrTrim(m_reads.FieldByName("code"))));
        if (!rows || rows->AllowedDown) return std::nullopt;
        rows->AllowedDown = VarToIntDef(m_reads.FieldByName("downtime"));
    }
    return gathered;
}

void AlarmRows::PurgeDayOld(TDbDialect dialect, TDateTime now) {
    ExecStatement(m_purge, {"DELETE FROM alarms WHERE FailTime < " + PurgeCutoff(dialect, now)});
}
