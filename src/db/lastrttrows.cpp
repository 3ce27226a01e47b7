// The gathered LastRTT statement of each kind of database.
#include "db/lastrttrows.h"

#include "platform/strutil.h"

#include <map>

namespace {

/// "('A1', 12), ('B2', 0)": the codes with their times, as rows of a VALUES list.
std::string ValueRows(const std::vector<SiteRtt>& sites) {
    std::string rows;
    for (const SiteRtt& s : sites)
        rows += (rows.empty() ? "(" : ", (") + SQLLiteral(s.Code) + ", " + std::to_string(s.Rtt) + ")";
    return rows;
}

/// "('A1', 'B2')": the codes as a list.
std::string CodeList(const std::vector<SiteRtt>& sites) {
    std::string list;
    for (const SiteRtt& s : sites)
        list += (list.empty() ? "" : ", ") + SQLLiteral(s.Code);
    return "(" + list + ")";
}

/// One statement per distinct time, each naming its codes: what any SQL database takes.
std::vector<std::string> PerValue(const std::vector<SiteRtt>& sites) {
    std::map<int, std::string> lists;
    for (const SiteRtt& s : sites) {
        std::string& list = lists[s.Rtt];
        list += (list.empty() ? "" : ", ") + SQLLiteral(s.Code);
    }
    std::vector<std::string> statements;
    for (const auto& [rtt, list] : lists)
        statements.push_back("UPDATE site SET LastRTT = " + SQLLiteral(IntToStr(rtt)) + " WHERE code IN (" + list +
                             ") ");
    return statements;
}

} // namespace

std::vector<std::string> LastRttStatements(TDbDialect dialect, const std::vector<SiteRtt>& sites) {
    if (sites.empty()) return {};
    const std::string rows = ValueRows(sites);
    switch (dialect) {
    case TDbDialect::SQLite: // no column names on a derived table: a common table expression names them
        return {"WITH v(code, rtt) AS (VALUES " + rows +
                ") UPDATE site SET LastRTT = v.rtt FROM v WHERE site.code = v.code"};
    case TDbDialect::PostgreSQL:
        // Compared as blank-padded text and named in a list as well, the codes are looked up in the site
        // index instead of every site row being hashed.
        return {"UPDATE site SET LastRTT = v.rtt FROM (VALUES " + rows +
                ") AS v(code, rtt) WHERE site.code = CAST(v.code AS bpchar) AND site.code IN " + CodeList(sites)};
    case TDbDialect::SqlServer:
        return {"UPDATE site SET LastRTT = v.rtt FROM site JOIN (VALUES " + rows +
                ") AS v(code, rtt) ON site.code = v.code"};
    default:
        return PerValue(sites);
    }
}
