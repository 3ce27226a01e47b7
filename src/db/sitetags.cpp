// SiteTags: codes are matched without regard to letter case, as the site table matches them.
#include "db/sitetags.h"

#include "db/common.h"
#include "db/data.h"
#include "db/dbsession.h"
#include "platform/strutil.h"

#include <algorithm>
#include <cctype>

namespace {

std::string CodeIs(const std::string& code) {
    return "UPPER(code) = UPPER(" + SQLLiteral(code) + ")";
}

} // namespace

void SiteTags::EnsureTable(TDbQuery& query) {
    CreateTableIfMissing(query, "sitetag",
                         {"CREATE TABLE sitetag (code varchar(20) NOT NULL, tag varchar(64) NOT NULL, "
                          "PRIMARY KEY (code, tag))"});
}

std::vector<std::string> SiteTags::Of(const std::string& code) {
    SiteTagMap found = Read("code = " + SQLLiteral(code));
    return found.empty() ? std::vector<std::string>{} : std::move(found.begin()->second);
}

SiteTagMap SiteTags::OfCodes(const std::vector<std::string>& codes) {
    if (codes.empty()) return {};
    std::string list;
    for (const std::string& code : codes)
        list += (list.empty() ? "" : ", ") + SQLLiteral(code);
    return Read("code IN (" + list + ")");
}

SiteTagMap SiteTags::All() {
    return Read("");
}

SiteTagMap SiteTags::Read(const std::string& where) {
    if (!m_query.Connection().Session().TableExists("sitetag")) return {};
    OpenStatement(m_query,
                  {"SELECT code, tag FROM sitetag" + (where.empty() ? "" : " WHERE " + where) + " ORDER BY code, tag"});
    SiteTagMap tags;
    for (; !m_query.Eof(); m_query.Next())
        tags[SiteCodeKey(VarToStrTrim(m_query.FieldByName("code")))].push_back(
            VarToStrTrim(m_query.FieldByName("tag")));
    for (auto& [code, list] : tags)
        list = NormalTags(std::move(list));
    return tags;
}

void SiteTags::Write(TDbQuery& query, const std::string& code, const std::vector<std::string>& tags) {
    ExecStatement(query, {"DELETE FROM sitetag WHERE " + CodeIs(code)});
    // Under the code as the site table spells it, whatever case `code` was given in.
    for (const std::string& tag : tags)
        ExecStatement(query, {"INSERT INTO sitetag (code, tag) SELECT MIN(CODE), " + SQLLiteral(tag) +
                              " FROM site WHERE UPPER(CODE) = UPPER(" + SQLLiteral(code) + ") HAVING COUNT(*) > 0"});
}

void SiteTags::DropOrphaned(TDbQuery& query, const std::string& code) {
    if (!query.Connection().Session().TableExists("sitetag")) return; // no site was ever tagged
    ExecStatement(query, {"DELETE FROM sitetag WHERE " + CodeIs(code) + " AND NOT EXISTS (SELECT * FROM site WHERE " +
                          "UPPER(site.CODE) = UPPER(" + SQLLiteral(code) + "))"});
}
