// HistoryStore: the statements on vkthour, vktday and vktoutage; only the upserts differ between backends.
#include "history/historystore.h"

#include "db/common.h"
#include "db/data.h"
#include "platform/strutil.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace {

/// Rows a gathered insert carries: well below the 1,000 rows of a SQL Server VALUES list.
constexpr std::size_t RowsPerInsert = 200;

const char* const FigureColumns =
    "probes, answered, sent, received, rttmin, rttavg, rttmax, upsecs, downsecs, maintsecs";

std::string RollupTable(const char* table, const char* key) {
    return std::string("CREATE TABLE ") + table + " (code varchar(30) NOT NULL, node varchar(64) NOT NULL, " + key +
           " bigint NOT NULL, probes integer NOT NULL, answered integer NOT NULL, sent integer NOT NULL, "
           "received integer NOT NULL, rttmin bigint NOT NULL, rttavg bigint NOT NULL, rttmax bigint NOT NULL, "
           "upsecs integer NOT NULL, downsecs integer NOT NULL, maintsecs integer NOT NULL)";
}

const char* TableOf(HistoryStore::Step step) {
    return step == HistoryStore::Step::Hour ? "vkthour" : "vktday";
}

const char* KeyOf(HistoryStore::Step step) {
    return step == HistoryStore::Step::Hour ? "hour" : "day";
}

std::string Num(long long n) {
    return std::to_string(n);
}

long long Whole(double seconds) {
    return std::llround(seconds);
}

Tally TallyOf(const TDbQuery& q) {
    Tally t;
    t.Probes = q.FieldByName("probes").AsInteger();
    t.Answered = q.FieldByName("answered").AsInteger();
    t.Sent = q.FieldByName("sent").AsInteger();
    t.Received = q.FieldByName("received").AsInteger();
    t.RttMinUs = q.FieldByName("rttmin").AsInteger();
    t.RttAvgUs = q.FieldByName("rttavg").AsInteger();
    t.RttMaxUs = q.FieldByName("rttmax").AsInteger();
    t.UpSeconds = double(q.FieldByName("upsecs").AsInteger());
    t.DownSeconds = double(q.FieldByName("downsecs").AsInteger());
    t.MaintenanceSeconds = double(q.FieldByName("maintsecs").AsInteger());
    return t;
}

std::string FigureValues(const Tally& t) {
    return Num(t.Probes) + ", " + Num(t.Answered) + ", " + Num(t.Sent) + ", " + Num(t.Received) + ", " +
           Num(t.RttMinUs) + ", " + Num(t.RttAvgUs) + ", " + Num(t.RttMaxUs) + ", " + Num(Whole(t.UpSeconds)) + ", " +
           Num(Whole(t.DownSeconds)) + ", " + Num(Whole(t.MaintenanceSeconds));
}

/// The assignments of an upsert's update: `t` names the row in the table, `s` the row offered.
using MergeSet = std::string (*)(const std::string& t, const std::string& s);

/// Counts and seconds summed; the round-trip minimum and maximum over both rows, the average weighted
/// by the echoes of each (rounded as the rollup rounds it; the offered row's values may be typed as
/// integer, so their product is taken as bigint).
std::string AddedFigures(const std::string& t, const std::string& s) {
    std::string set;
    for (const char* c : {"probes", "answered", "sent", "received", "upsecs", "downsecs", "maintsecs"})
        set += std::string(set.empty() ? "" : ", ") + c + " = " + t + "." + c + " + " + s + "." + c;
    const std::string tr = t + ".received", sr = s + ".received", both = "(" + tr + " + " + sr + ")";
    set += ", rttmin = CASE WHEN " + sr + " = 0 THEN " + t + ".rttmin WHEN " + tr + " = 0 OR " + s + ".rttmin < " + t +
           ".rttmin THEN " + s + ".rttmin ELSE " + t + ".rttmin END";
    set += ", rttmax = CASE WHEN " + s + ".rttmax > " + t + ".rttmax THEN " + s + ".rttmax ELSE " + t + ".rttmax END";
    set += ", rttavg = CASE WHEN " + sr + " = 0 THEN " + t + ".rttavg WHEN " + tr + " = 0 THEN " + s +
           ".rttavg ELSE (" + t + ".rttavg * " + tr + " + CAST(" + s + ".rttavg AS bigint) * " + sr + " + " + both +
           " / 2) / " + both + " END";
    return set;
}

/// An end or a notice once written stays; address and cause are those of the first write.
std::string KeptOutage(const std::string& t, const std::string& s) {
    return "ended = COALESCE(" + t + ".ended, " + s + ".ended), notified = CASE WHEN " + s + ".notified > " + t +
           ".notified THEN " + s + ".notified ELSE " + t + ".notified END";
}

/// Writes `rows` (each "(...)" of `columns`, named as "a, b, c") in statements of up to RowsPerInsert rows: a row whose
/// `key` is in the table is updated by `set`, any other inserted. SQLite and PostgreSQL take
/// INSERT ... ON CONFLICT, the others a MERGE.
void Upsert(TDbQuery& q, TDbDialect dialect, const std::string& table, const std::string& columns,
            const std::vector<const char*>& key, const std::vector<std::string>& rows, MergeSet set) {
    const bool onConflict = dialect == TDbDialect::SQLite || dialect == TDbDialect::PostgreSQL;
    std::string keyList, match, offered;
    for (const char* k : key) {
        keyList += (keyList.empty() ? "" : ", ") + std::string(k);
        match += (match.empty() ? "" : " AND ") + std::string("t.") + k + " = s." + k;
    }
    offered = "s." + columns;
    for (std::size_t at = offered.find(", "); at != std::string::npos; at = offered.find(", ", at + 2))
        offered.replace(at, 2, ", s.");
    for (std::size_t first = 0; first < rows.size(); first += RowsPerInsert) {
        std::string values;
        for (std::size_t i = first; i < std::min(rows.size(), first + RowsPerInsert); ++i)
            values += (i == first ? "" : ", ") + rows[i];
        if (onConflict)
            ExecStatement(q, {"INSERT INTO " + table + " (" + columns + ") VALUES " + values + " ON CONFLICT (" +
                              keyList + ") DO UPDATE SET " + set(table, "excluded")});
        else
            ExecStatement(q, {"MERGE INTO " + table + " AS t USING (VALUES " + values + ") AS s (" + columns + ") ON " +
                              match + " WHEN MATCHED THEN UPDATE SET " + set("t", "s") +
                              " WHEN NOT MATCHED THEN INSERT (" + columns + ") VALUES (" + offered + ");"});
    }
}

OutageRecord OutageOf(const TDbQuery& q) {
    OutageRecord r;
    r.Code = VarToStrTrim(q.FieldByName("code"));
    r.Address = VarToStrTrim(q.FieldByName("address"));
    r.Start = q.FieldByName("started").AsInteger();
    const Variant* ended = q.FindField("ended");
    r.End = ended == nullptr || ended->IsNull() ? 0 : ended->AsInteger();
    r.Cause = VarToStrTrim(q.FieldByName("cause"));
    r.Notified = q.FieldByName("notified").AsInteger() != 0;
    return r;
}

std::string Cut(const std::string& text, std::size_t length) {
    return CutToBytes(text, length);
}

} // namespace

void HistoryStore::EnsureTables() {
    CreateTableIfMissing(m_q, "vkthour",
                         {RollupTable("vkthour", "hour"), "CREATE UNIQUE INDEX ixvkthour ON vkthour (node, hour, code)",
                          "CREATE INDEX ixvkthourcode ON vkthour (code, hour)"});
    CreateTableIfMissing(m_q, "vktday",
                         {RollupTable("vktday", "day"), "CREATE UNIQUE INDEX ixvktday ON vktday (node, day, code)",
                          "CREATE INDEX ixvktdaycode ON vktday (code, day)"});
    CreateTableIfMissing(m_q, "vktoutage",
                         {"CREATE TABLE vktoutage (code varchar(30) NOT NULL, address varchar(64) NOT NULL, "
                          "started bigint NOT NULL, ended bigint NULL, cause varchar(100) NOT NULL, "
                          "notified integer NOT NULL, acknowledged varchar(100) NULL)",
                          "CREATE UNIQUE INDEX ixvktoutage ON vktoutage (code, started)"});
}

void HistoryStore::Write(TDbDialect dialect, const std::unordered_map<std::string, Rollup::Pending>& figures,
                         const std::vector<OutageRecord>& outages) {
    if (figures.empty() && outages.empty()) return;
    RunInTransaction(m_q, dialect, [&] {
        WriteFigures(dialect, Step::Hour, figures);
        WriteFigures(dialect, Step::Day, figures);
        WriteOutages(dialect, outages);
    });
}

void HistoryStore::WriteFigures(TDbDialect dialect, Step step,
                                const std::unordered_map<std::string, Rollup::Pending>& figures) {
    std::vector<std::string> rows;
    const std::string node = SQLLiteral(m_node);
    for (const auto& [code, pending] : figures)
        for (const auto& [at, tally] : step == Step::Hour ? pending.Hours : pending.Days)
            rows.push_back("(" + SQLLiteral(code) + ", " + node + ", " + Num(at) + ", " + FigureValues(tally) + ")");
    const std::string key = KeyOf(step);
    Upsert(m_q, dialect, TableOf(step), std::string("code, node, ") + key + ", " + FigureColumns,
           {"node", key.c_str(), "code"}, rows, AddedFigures);
}

void HistoryStore::WriteOutages(TDbDialect dialect, const std::vector<OutageRecord>& outages) {
    // By key, the later change of the same outage winning: one statement must not touch a row twice.
    std::map<std::pair<std::string, long long>, std::string> rows;
    for (const OutageRecord& r : outages) {
        const std::string code = Cut(r.Code, 30);
        rows[{code, r.Start}] = "(" + SQLLiteral(code) + ", " + SQLLiteral(Cut(r.Address, 64)) + ", " + Num(r.Start) +
                                ", " + (r.Open() ? std::string("NULL") : Num(r.End)) + ", " +
                                SQLLiteral(Cut(r.Cause, 100)) + ", " + (r.Notified ? "1" : "0") + ")";
    }
    std::vector<std::string> values;
    for (auto& [key, row] : rows)
        values.push_back(std::move(row));
    Upsert(m_q, dialect, "vktoutage", "code, address, started, ended, cause, notified", {"code", "started"}, values,
           KeptOutage);
}

std::vector<OutageRecord> HistoryStore::OpenOutages() {
    std::vector<OutageRecord> open;
    OpenStatement(m_q, {"SELECT code, address, started, cause, notified FROM vktoutage WHERE ended IS NULL"});
    for (; !m_q.Eof(); m_q.Next())
        open.push_back(OutageOf(m_q));
    return open;
}

// Hour by hour, so that no more than one hour of rows is held at once.
void HistoryStore::ReadHours(std::unordered_map<std::string, UptimeBase>& bases, long long firstHour,
                             long long lastHour) {
    for (long long hour = firstHour; hour <= lastHour; hour += 3600) {
        OpenStatement(m_q, {"SELECT code, upsecs, downsecs FROM vkthour WHERE node = " + SQLLiteral(m_node) +
                            " AND hour = " + Num(hour)});
        for (; !m_q.Eof(); m_q.Next())
            bases[VarToStrTrim(m_q.FieldByName("code"))].SetHour(hour, double(m_q.FieldByName("upsecs").AsInteger()),
                                                                 double(m_q.FieldByName("downsecs").AsInteger()));
    }
}

void HistoryStore::ReadToday(std::unordered_map<std::string, UptimeBase>& bases, long long today) {
    OpenStatement(m_q, {"SELECT code, upsecs, downsecs FROM vktday WHERE node = " + SQLLiteral(m_node) +
                        " AND day = " + Num(today)});
    for (; !m_q.Eof(); m_q.Next()) {
        UptimeBase& base = bases[VarToStrTrim(m_q.FieldByName("code"))];
        base.TodayStart = today;
        base.Today = {double(m_q.FieldByName("upsecs").AsInteger()), double(m_q.FieldByName("downsecs").AsInteger())};
    }
}

void HistoryStore::ReadDays(std::unordered_map<std::string, UptimeBase>& bases, const UptimeMoment& moment) {
    for (auto& [code, base] : bases) {
        base.Days = {};
        base.Bar = {};
    }
    // The windows summed by the server: a year of 10,000 sites is millions of rows.
    std::string sums;
    for (int w = 0; w < UptimeWindows - 1; ++w) {
        const std::string since = "day >= " + Num(moment.FirstDay[w]);
        sums += ", SUM(CASE WHEN " + since + " THEN upsecs ELSE 0 END) AS up" + Num(w) + ", SUM(CASE WHEN " + since +
                " THEN downsecs ELSE 0 END) AS down" + Num(w);
    }
    const std::string mine = " FROM vktday WHERE node = " + SQLLiteral(m_node);
    OpenStatement(m_q, {"SELECT code" + sums + mine + " AND day >= " + Num(moment.FirstDay.back()) + " AND day < " +
                        Num(moment.Today) + " GROUP BY code"});
    for (; !m_q.Eof(); m_q.Next()) {
        UptimeBase& base = bases[VarToStrTrim(m_q.FieldByName("code"))];
        for (int w = 0; w < UptimeWindows - 1; ++w)
            base.Days[w] = {double(m_q.FieldByName("up" + Num(w)).AsInteger()),
                            double(m_q.FieldByName("down" + Num(w)).AsInteger())};
    }
    // The bar day by day, so that no more than one day of rows is held at once.
    for (int ago = 1; ago < BarDays; ++ago) {
        OpenStatement(m_q,
                      {"SELECT code, upsecs, downsecs" + mine + " AND day = " + Num(DaysBefore(moment.Today, ago))});
        for (; !m_q.Eof(); m_q.Next())
            bases[VarToStrTrim(m_q.FieldByName("code"))].Bar[BarDays - 1 - ago] = BarCell(
                {double(m_q.FieldByName("upsecs").AsInteger()), double(m_q.FieldByName("downsecs").AsInteger())});
    }
}

void HistoryStore::Purge(long long hourCutoff, long long dayCutoff) {
    ExecStatement(m_q, {"DELETE FROM vkthour WHERE hour < " + Num(hourCutoff)});
    ExecStatement(m_q, {"DELETE FROM vktday WHERE day < " + Num(dayCutoff)});
    ExecStatement(m_q, {"DELETE FROM vktoutage WHERE ended IS NOT NULL AND ended < " + Num(dayCutoff)});
}

std::vector<std::pair<long long, Tally>> HistoryStore::Rows(Step step, const std::string& code, long long from,
                                                            long long to) {
    const std::string key = KeyOf(step);
    OpenStatement(m_q, {"SELECT " + key + ", " + FigureColumns + " FROM " + TableOf(step) +
                        " WHERE code = " + SQLLiteral(code) + " AND node = " + SQLLiteral(m_node) + " AND " + key +
                        " >= " + Num(from) + " AND " + key + " < " + Num(to) + " ORDER BY " + key});
    std::vector<std::pair<long long, Tally>> rows;
    for (; !m_q.Eof(); m_q.Next())
        rows.emplace_back(m_q.FieldByName(key).AsInteger(), TallyOf(m_q));
    return rows;
}

std::vector<OutageRecord> HistoryStore::Outages(long long from, long long to, const std::string& code) {
    std::string where = " WHERE started < " + Num(to) + " AND (ended IS NULL OR ended >= " + Num(from) + ")";
    if (!code.empty()) where += " AND code = " + SQLLiteral(code);
    OpenStatement(m_q, {"SELECT code, address, started, ended, cause, notified FROM vktoutage" + where +
                        " ORDER BY started, code"});
    std::vector<OutageRecord> outages;
    for (; !m_q.Eof(); m_q.Next())
        outages.push_back(OutageOf(m_q));
    return outages;
}

std::string HistoryStore::SiteCode(const std::string& code) {
    if (code.empty() || code.size() > 30) return {}; // longer than any code column
    for (unsigned char c : code)
        if (c < 32 || c == 127) return {};
    OpenStatement(m_q, {"SELECT CODE FROM site WHERE CODE = " + SQLLiteral(code)});
    return m_q.Eof() ? std::string() : VarToStrTrim(m_q.FieldByName("CODE"));
}

std::unordered_map<std::string, std::string> HistoryStore::SiteNames() {
    std::unordered_map<std::string, std::string> names;
    OpenStatement(m_q, {"SELECT CODE, sitename FROM site"});
    for (; !m_q.Eof(); m_q.Next())
        names.emplace(VarToStrTrim(m_q.FieldByName("CODE")), VarToStrTrim(m_q.FieldByName("sitename")));
    return names;
}
