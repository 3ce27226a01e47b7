// HistoryStore: the statements on vkthour, vktday and vktoutage, alike on every backend.
#include "history/historystore.h"

#include "db/common.h"
#include "db/data.h"
#include "platform/strutil.h"

#include <cmath>
#include <map>
#include <set>

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

std::string KeyList(const std::set<long long>& keys) {
    std::string list;
    for (long long key : keys)
        list += (list.empty() ? "" : ", ") + Num(key);
    return list;
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

// The rows of the hours or days at hand are read and written again whole: one select, one delete and a
// few inserts, however many sites.
std::vector<HistoryStore::Row> HistoryStore::Write(Step step,
                                                   const std::unordered_map<std::string, Rollup::Pending>& figures) {
    std::map<std::pair<long long, std::string>, Tally> rows;
    std::set<long long> keys;
    for (const auto& [code, pending] : figures)
        for (const auto& [at, tally] : step == Step::Hour ? pending.Hours : pending.Days) {
            rows[{at, code}].Add(tally);
            keys.insert(at);
        }
    if (keys.empty()) return {};
    const std::string table = TableOf(step), key = KeyOf(step), node = SQLLiteral(m_node);
    const std::string where = " WHERE node = " + node + " AND " + key + " IN (" + KeyList(keys) + ")";
    OpenStatement(m_q, {"SELECT code, " + key + ", " + FigureColumns + " FROM " + table + where});
    for (; !m_q.Eof(); m_q.Next())
        rows[{m_q.FieldByName(key).AsInteger(), VarToStrTrim(m_q.FieldByName("code"))}].Add(TallyOf(m_q));
    ExecStatement(m_q, {"DELETE FROM " + table + where});
    std::vector<Row> written;
    std::string values;
    std::size_t count = 0;
    const std::string head = "INSERT INTO " + table + " (code, node, " + key + ", " + FigureColumns + ") VALUES ";
    for (const auto& [at, tally] : rows) {
        values += (count ? ", (" : "(") + SQLLiteral(at.second) + ", " + node + ", " + Num(at.first) + ", " +
                  FigureValues(tally) + ")";
        written.emplace_back(at.second, at.first, tally);
        if (++count == RowsPerInsert) {
            ExecStatement(m_q, {head + values});
            values.clear();
            count = 0;
        }
    }
    if (count) ExecStatement(m_q, {head + values});
    return written;
}

void HistoryStore::WriteOutages(const std::vector<OutageBook::Change>& changes) {
    for (const OutageBook::Change& change : changes) {
        if (!change.InTable) {
            try {
                InsertOutage(change.Record);
                continue;
            } catch (const EDatabaseError&) {
                // Written already: by another member of the group, or before a restart.
            }
        }
        UpdateOutage(change.Record);
    }
}

void HistoryStore::InsertOutage(const OutageRecord& r) {
    ExecStatement(m_q, {"INSERT INTO vktoutage (code, address, started, ended, cause, notified) VALUES (" +
                        SQLLiteral(Cut(r.Code, 30)) + ", " + SQLLiteral(Cut(r.Address, 64)) + ", " + Num(r.Start) +
                        ", " + (r.Open() ? std::string("NULL") : Num(r.End)) + ", " + SQLLiteral(Cut(r.Cause, 100)) +
                        ", " + (r.Notified ? "1" : "0") + ")"});
}

void HistoryStore::UpdateOutage(const OutageRecord& r) {
    const std::string key = " WHERE code = " + SQLLiteral(Cut(r.Code, 30)) + " AND started = " + Num(r.Start);
    if (r.Notified) ExecStatement(m_q, {"UPDATE vktoutage SET notified = 1" + key});
    if (!r.Open()) ExecStatement(m_q, {"UPDATE vktoutage SET ended = " + Num(r.End) + key + " AND ended IS NULL"});
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

std::unordered_map<std::string, std::string> HistoryStore::SiteNames() {
    std::unordered_map<std::string, std::string> names;
    OpenStatement(m_q, {"SELECT CODE, sitename FROM site"});
    for (; !m_q.Eof(); m_q.Next())
        names.emplace(VarToStrTrim(m_q.FieldByName("CODE")), VarToStrTrim(m_q.FieldByName("sitename")));
    return names;
}
