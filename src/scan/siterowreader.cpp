// Reading the site list and site rows: by code, or gathered for many codes.
#include "scan/siterowreader.h"

#include "db/common.h"
#include "db/data.h"
#include "scan/tsitebatch.h"

#include <algorithm>
#include <map>
#include <set>

namespace {

/// Codes per gathered site-row statement.
constexpr std::size_t CodesPerRead = 500;

/// One row as the scan probes it; a site table without the name column still scans.
ScanRow RowOf(const TDbQuery& q) {
    ScanRow row;
    row.Code = VarToStrTrim(q.FieldByName("Code"));
    row.Address = VarToStrTrim(q.FieldByName("IPaddr"));
    if (const Variant* name = q.FindField("sitename")) row.Name = VarToStrTrim(*name);
    if (const Variant* rtt = q.FindField("LastRTT"); rtt && !rtt->IsNull()) {
        try {
            row.StoredRtt = static_cast<int>(rtt->AsInteger());
        } catch (const std::exception&) {
            row.StoredRtt = -1; // not a number: written as any other time would be
        }
    }
    return row;
}

} // namespace

SiteResult ScanRow::Attach(SiteResult result) const {
    result.Code = Code;
    result.Address = Address;
    result.Name = Name;
    result.StoredRtt = StoredRtt;
    return result;
}

bool SiteRowReader::ReadList(const std::string& daemonId, std::vector<std::string>& codes) {
    std::vector<std::string> lines{"SELECT VKT.sitecode FROM ", "  VKT "};
    if (!daemonId.empty()) {
        lines.push_back("WHERE ");
        lines.push_back("  VKTID = " + SQLLiteral(daemonId) + " ");
    }
    try {
        OpenStatement(m_query, lines);
        for (; !m_query.Eof(); m_query.Next())
            codes.push_back(VarToStrTrim(m_query.FieldByName("sitecode")));
        return true;
    } catch (const std::exception& e) {
        m_failed("Reading the site list", e);
        return false;
    }
}

bool SiteRowReader::ListFingerprint(const std::string& daemonId, TDbDialect dialect, std::string& print) {
    if (dialect != TDbDialect::PostgreSQL || daemonId.empty()) return false;
    try {
        // Hashed byte for byte ("C"): a change of letter case reads the list again too, and the codes
        // are not run through the case-blind collation a million times.
        OpenStatement(m_query, {"SELECT COUNT(*) AS n, SUM(CAST(hashtext(CAST(sitecode AS TEXT) COLLATE \"C\") AS "
                                "BIGINT)) AS h FROM VKT WHERE VKTID = " +
                                SQLLiteral(daemonId)});
        print = VarToStrTrim(m_query.FieldByName("n")) + " " + VarToStrTrim(m_query.FieldByName("h"));
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool SiteRowReader::ReadGroup(const std::string& daemonId, std::vector<ScanRow>& rows) {
    const std::string from = " FROM site, VKT WHERE VKT.sitecode = site.code AND VKT.VKTID = " + SQLLiteral(daemonId);
    try {
        OpenStatement(m_query,
                      {(NarrowColumns() ? "SELECT " + NarrowList("site.") : std::string("SELECT site.*")) + from});
        for (; !m_query.Eof(); m_query.Next())
            rows.push_back(RowOf(m_query));
        return true;
    } catch (const std::exception& e) {
        m_failed("Reading the group's sites", e);
        return false;
    }
}

bool SiteRowReader::ReadCode(const std::string& code, std::vector<ScanRow>& rows) {
    if (!m_query.Connection().Connected()) return false;
    std::vector<ScanRow> read;
    try {
        OpenStatement(m_query, {"SELECT * FROM ", "  site ", "WHERE ", "  code = " + SQLLiteral(code) + " "});
        for (; !m_query.Eof(); m_query.Next())
            read.push_back(RowOf(m_query));
    } catch (const std::exception& e) {
        m_failed("Reading site " + code, e);
        return m_query.Connection().Connected();
    }
    rows.insert(rows.end(), read.begin(), read.end());
    return true;
}

void SiteRowReader::OpenGathered(const std::vector<std::string>& codes) {
    if (!NarrowColumns()) return OpenSiteRows(m_query, codes);
    std::string list;
    for (const std::string& code : codes)
        list += (list.empty() ? "" : ", ") + SQLLiteral(code);
    OpenStatement(m_query, {"SELECT " + NarrowList("") + " FROM site WHERE code IN (" + list + ") "});
}

// Only the columns a probe and the board need, without the padding of their fixed widths: whole rows,
// with an address column 255 wide, were most of what the server sent for a share of 200,000 sites, and
// a million of them held at once most of a fleet member's memory. Asked once, with a statement that
// reads no row; a site table that lacks one of the columns is read whole.
bool SiteRowReader::NarrowColumns() {
    if (m_narrow) return *m_narrow;
    try {
        OpenStatement(m_query, {"SELECT " + NarrowList("") + " FROM site WHERE 1 = 0"});
        m_narrow = true;
    } catch (const std::exception&) {
        if (!m_query.Connection().Connected()) throw;
        m_narrow = false;
    }
    return *m_narrow;
}

std::string SiteRowReader::NarrowList(const std::string& table) {
    return "RTRIM(" + table + "code) AS Code, RTRIM(" + table + "IPaddr) AS IPaddr, RTRIM(" + table +
           "sitename) AS sitename, " + table + "LastRTT AS LastRTT";
}

std::vector<ScanRow> SiteRowReader::ReadAll(const std::vector<std::string>& codes,
                                            const std::function<void()>& between) {
    std::vector<std::string> gathered;
    for (const std::string& code : codes)
        if (!TSiteBatch::MatchKey(code).empty()) gathered.push_back(code);
    std::map<std::string, std::vector<ScanRow>> byKey;
    std::set<std::string> failed; // codes whose gathered read failed are read one by one
    for (std::size_t from = 0; from < gathered.size(); from += CodesPerRead) {
        const std::size_t to = std::min(gathered.size(), from + CodesPerRead);
        try {
            OpenGathered(std::vector<std::string>(gathered.begin() + static_cast<std::ptrdiff_t>(from),
                                                  gathered.begin() + static_cast<std::ptrdiff_t>(to)));
            for (; !m_query.Eof(); m_query.Next())
                byKey[TSiteBatch::MatchKey(VarToStrTrim(m_query.FieldByName("Code")))].push_back(RowOf(m_query));
        } catch (const std::exception&) {
            failed.insert(gathered.begin() + static_cast<std::ptrdiff_t>(from),
                          gathered.begin() + static_cast<std::ptrdiff_t>(to));
        }
        if (between) between();
    }
    std::vector<ScanRow> rows;
    rows.reserve(codes.size()); // most codes have one row
    for (const std::string& code : codes) {
        const std::string key = TSiteBatch::MatchKey(code);
        if (!key.empty() && !failed.count(code)) {
            auto it = byKey.find(key);
            if (it != byKey.end()) rows.insert(rows.end(), it->second.begin(), it->second.end());
        } else if (!ReadCode(code, rows)) {
            break;
        }
    }
    return rows;
}
