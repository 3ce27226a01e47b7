// What the history pages and CSVs read: a site's hourly or daily rows and the outages, from the tables
// over a connection of the request's own, with the figures and outages the daemon has not written yet
// added in, so that a report is current to the last scan.
#pragma once

#include "history/historystore.h"
#include "history/uptime.h"

#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

class THistoryReport {
public:
    /// Connects to the tables `history` names; raises the database's error when it cannot.
    explicit THistoryReport(const UptimeView& history);
    ~THistoryReport();
    THistoryReport(const THistoryReport&) = delete;
    THistoryReport& operator=(const THistoryReport&) = delete;

    /// The site's rows from `from` to before `to`, oldest first.
    std::vector<std::pair<long long, Tally>> Rows(HistoryStore::Step step, const std::string& code, long long from,
                                                  long long to);
    /// The outages overlapping [from, to), of one code or (empty) all, oldest first.
    std::vector<OutageRecord> Outages(long long from, long long to, const std::string& code);
    std::unordered_map<std::string, std::string> SiteNames() { return m_store.SiteNames(); }
    /// The code of the site row that `code` names as the database compares codes (case and trailing
    /// blanks aside: "up001 " names UP001); empty when no site has it.
    std::string SiteCode(const std::string& code);

private:
    const UptimeView& m_history;
    TDbConnection m_connection;
    TDbQuery m_query;
    HistoryStore m_store;
};

/// The span a report's query asks for: `from` and `to` as "yyyy-mm-dd" (local days, `to` included);
/// a missing `to` is today, a missing `from` the 30 days up to `to`. Nothing when either is given but
/// is not such a day.
std::optional<std::pair<long long, long long>> ReportSpan(const std::string& from, const std::string& to,
                                                          long long now);
/// A CSV file's first line: a UTF-8 byte-order mark (spreadsheets read the names right by it), the
/// column names, CR LF.
std::string CsvHead(const char* columns);
/// A CSV field: a text a spreadsheet would take for a formula (beginning with "=", "+", "-", "@", a tab
/// or a CR) after an apostrophe; quoted, its quotes doubled, when it holds a comma, a quote or a line
/// break.
std::string CsvField(const std::string& text);
/// "yyyy-mm-dd hh:nn:ss" of seconds since 1970, local time.
std::string ReportTime(long long seconds);
