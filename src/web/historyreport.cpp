// THistoryReport: the tables' rows with the unwritten figures added.
#include "web/historyreport.h"

#include "platform/datetime.h"
#include "platform/strutil.h"

#include <algorithm>
#include <map>
#include <string_view>

THistoryReport::THistoryReport(const UptimeView& history)
    : m_history(history), m_query(m_connection), m_store(m_query, history.Node) {
    m_connection.ConnectionString = history.Database;
    m_connection.Open();
}

THistoryReport::~THistoryReport() = default;

std::vector<std::pair<long long, Tally>> THistoryReport::Rows(HistoryStore::Step step, const std::string& code,
                                                              long long from, long long to) {
    std::map<long long, Tally> rows;
    for (const auto& [at, tally] : m_store.Rows(step, code, from, to))
        rows[at] = tally;
    const auto unwritten = m_history.Unwritten.find(code);
    if (unwritten != m_history.Unwritten.end())
        for (const auto& [at, tally] :
             step == HistoryStore::Step::Hour ? unwritten->second.Hours : unwritten->second.Days)
            if (at >= from && at < to) rows[at].Add(tally);
    return {rows.begin(), rows.end()};
}

std::vector<OutageRecord> THistoryReport::Outages(long long from, long long to, const std::string& code) {
    std::map<std::pair<long long, std::string>, OutageRecord> outages;
    for (const OutageRecord& r : m_store.Outages(from, to, code))
        outages[{r.Start, r.Code}] = r;
    // What the daemon holds is newer than the table: it replaces the row.
    for (const OutageRecord& r : m_history.UnwrittenOutages)
        if ((code.empty() || SameSiteCode(r.Code, code)) && r.Start < to && (r.Open() || r.End >= from))
            outages[{r.Start, r.Code}] = r;
    std::vector<OutageRecord> list;
    for (auto& entry : outages)
        list.push_back(std::move(entry.second));
    return list;
}

std::string THistoryReport::SiteCode(const std::string& code) {
    return m_store.SiteCode(code);
}

namespace {

bool ReadDay(const std::string& text, long long& day) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
    for (std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
        if (text[i] < '0' || text[i] > '9') return false;
    try {
        day = DateTimeToTimeT(StrToDateTime(text));
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace

std::optional<std::pair<long long, long long>> ReportSpan(const std::string& from, const std::string& to,
                                                          long long now) {
    long long last = LocalDayStart(now), first = 0;
    if (!to.empty() && !ReadDay(to, last)) return std::nullopt;
    if (from.empty())
        first = DaysBefore(last, 30);
    else if (!ReadDay(from, first))
        return std::nullopt;
    return std::make_pair(first, NextLocalDay(std::max(first, last)));
}

std::string ReportTime(long long seconds) {
    return FormatDateTime("yyyy-mm-dd hh:nn:ss", DateTimeFromTimeT(seconds));
}

std::string CsvHead(const char* columns) {
    return std::string("\xEF\xBB\xBF") + columns + "\r\n";
}

std::string CsvField(const std::string& text) {
    const bool formula = !text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos;
    const std::string field = formula ? "'" + text : text;
    if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
    std::string quoted = "\"";
    for (char c : field)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}
