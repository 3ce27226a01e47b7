// What the API shows of sites: the board's entries found by code, one site's JSON, and the list of
// GET /api/v1/sites made a part of the tables at a time while the answer is sent.
#pragma once

#include "api/apidatabase.h"
#include "db/sitestore.h"
#include "web/sitefilter.h"
#include "web/statusview.h"

#include <nlohmann/json_fwd.hpp>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

/// The board's entries by code, in a view with the maintenance windows; of a code with several
/// addresses, the one at the site's address. For a few sites the board is read once for just their
/// codes; for every site an index of the whole snapshot is made once and shared by the requests
/// that read the same snapshot.
class TBoardIndex {
public:
    using Index = std::unordered_multimap<std::string_view, const TSiteEntry*>;

    /// `whole`: the board will be asked of every site, so the whole index is worth making.
    TBoardIndex(const std::function<bool(TStatusView&)>& load, bool whole = false);
    /// Makes Find ready for these sites.
    void Prepare(const std::vector<SiteFields>& sites);
    const TSiteEntry* Find(const SiteFields& site) const;
    bool Loaded() const { return m_loaded; }
    const TStatusView& View() const { return m_view; }

private:
    TStatusView m_view;
    bool m_loaded = false;
    bool m_whole = false;
    std::shared_ptr<const Index> m_byCode;
};

/// The API's JSON of a site: its fields and tags, and what the board saw of it (state "unknown"
/// when the board holds no entry of it).
nlohmann::json SiteJson(const SiteFields& site, const std::vector<std::string>& tags, const TBoardIndex& board);

/// GET /api/v1/sites: the sites the filter keeps in code order, read a part at a time, each part
/// written as it is read; a page ends with "next", the path of the page after it, unless last.
class TSiteListing {
public:
    TSiteListing(TApiDatabase& database, std::string daemon, SiteFilter filter, std::unique_ptr<TBoardIndex> board);
    /// Appends the next piece of the body to `out`; false once the body is whole.
    bool Next(std::string& out);

private:
    void ReadPart(std::string& out);
    void Finish(std::string& out);

    TApiDatabase& m_database;
    std::string m_daemon;
    SiteFilter m_filter;
    std::unique_ptr<TBoardIndex> m_board;
    /// Each code's first daemon, read once for a whole list.
    std::optional<std::unordered_map<std::string, std::string>> m_daemons;
    enum class Stage { Head, Sites, Done } m_stage = Stage::Head;
    /// The code of the last row read, where the next part starts, and of the last site listed.
    std::string m_after, m_lastListed;
    std::size_t m_listed = 0;
    std::string m_next;
    bool m_lastPart = false;
};
