// The sites' tags, table sitetag (code, tag): made when missing, read for one site, for a set of
// sites or for all, and written as a site's whole list (db/tagrule.h says what a tag may be).
#pragma once

#include "db/dbaccess.h"
#include "db/tagrule.h"

#include <string>
#include <unordered_map>
#include <vector>

/// Each site's tags (NormalTags) by SiteCodeKey of its code; sites without tags are absent.
using SiteTagMap = std::unordered_map<std::string, std::vector<std::string>>;

class SiteTags {
public:
    /// Every statement runs on `query`. Reading makes no table: without one, no site has tags.
    explicit SiteTags(TDbQuery& query) : m_query(query) {}

    /// Makes the table when it is missing, before the first tag is written.
    static void EnsureTable(TDbQuery& query);

    /// The tags of the code as the site table holds it (the rows are written under that spelling).
    std::vector<std::string> Of(const std::string& code);
    /// The tags of the codes given as the site table holds them (at most a few thousand at once).
    SiteTagMap OfCodes(const std::vector<std::string>& codes);
    /// Every site's tags.
    SiteTagMap All();
    /// Makes `tags` (valid, NormalTags) the whole list of the site `code` (any case); on a table made
    /// already (inside the caller's transaction).
    static void Write(TDbQuery& query, const std::string& code, const std::vector<std::string>& tags);
    /// Drops the code's rows when the site table no longer holds the code (nothing without the table).
    static void DropOrphaned(TDbQuery& query, const std::string& code);

private:
    SiteTagMap Read(const std::string& where);

    TDbQuery& m_query;
};
