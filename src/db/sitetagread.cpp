// Reading a site's tags.
#include "db/sitetagread.h"

#include "db/common.h"
#include "db/data.h"
#include "db/dbsession.h"

std::vector<std::string> SiteTagsOf(TDbQuery& query, const std::string& code) {
    std::vector<std::string> tags;
    if (!query.Connection().Session().TableExists("sitetag")) return tags;
    OpenStatement(query, {"SELECT tag FROM sitetag WHERE code = " + SQLLiteral(code) + " ORDER BY tag"});
    for (; !query.Eof(); query.Next())
        tags.push_back(VarToStrTrim(query.FieldByName("tag")));
    return tags;
}
