// The history tables: hourly and daily rows per site (vkthour, vktday) and the outages (vktoutage).
// Every statement on them is written here. Rows of one daemon (its node: the Daemon ID, or in a group
// the member) are written in a few gathered statements that add to the rows of the hours and days at
// hand, or insert them. Errors are raised to the caller.
#pragma once

#include "db/dbaccess.h"
#include "history/outagebook.h"
#include "history/rollup.h"
#include "history/uptime.h"

#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

class HistoryStore {
public:
    HistoryStore(TDbQuery& query, std::string node) : m_q(query), m_node(std::move(node)) {}

    /// Makes the tables that are missing.
    void EnsureTables();

    enum class Step { Hour, Day };
    /// Adds the hourly and daily figures to their rows and writes the outages opened, ended or told of,
    /// all in one transaction: a write that fails leaves the tables as they were. The rows go in
    /// gathered upserts of up to 200 rows each; an end or a notice already written stays (in a group
    /// the first member to see it writes it).
    void Write(TDbDialect dialect, const std::unordered_map<std::string, Rollup::Pending>& figures,
               const std::vector<OutageRecord>& outages);
    /// The outages that have no end.
    std::vector<OutageRecord> OpenOutages();

    /// The hourly rows from `firstHour` into the bases' slots, and today's daily rows.
    void ReadHours(std::unordered_map<std::string, UptimeBase>& bases, long long firstHour, long long lastHour);
    void ReadToday(std::unordered_map<std::string, UptimeBase>& bases, long long today);
    /// The complete days of each day window and the bar's days before today.
    void ReadDays(std::unordered_map<std::string, UptimeBase>& bases, const UptimeMoment& moment);

    /// Deletes hourly rows begun before `hourCutoff`, and daily rows and ended outages before `dayCutoff`.
    void Purge(long long hourCutoff, long long dayCutoff);

    /// This node's rows of `code` from `from` to before `to`, oldest first.
    std::vector<std::pair<long long, Tally>> Rows(Step step, const std::string& code, long long from, long long to);
    /// The outages that overlap [from, to), of one code or (empty) all, oldest first.
    std::vector<OutageRecord> Outages(long long from, long long to, const std::string& code);
    /// The code of the site `code` names as the site table matches codes (case and trailing blanks
    /// aside: "up001 " names UP001); empty when no site has it.
    std::string SiteCode(const std::string& code);
    /// Every site's name by code.
    std::unordered_map<std::string, std::string> SiteNames();

private:
    void WriteFigures(TDbDialect dialect, Step step, const std::unordered_map<std::string, Rollup::Pending>& figures);
    void WriteOutages(TDbDialect dialect, const std::vector<OutageRecord>& outages);

    TDbQuery& m_q;
    std::string m_node;
};
