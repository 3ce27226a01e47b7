// TBoardIndex, SiteJson and TSiteListing: one pass over the site rows in code order, with the
// board's entries found by code and each site's JSON written once, straight into the body.
#include "api/sitelist.h"

#include "db/sitetags.h"
#include "platform/datetime.h"
#include "platform/json.h"
#include "platform/strutil.h"
#include "web/statusjson.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <mutex>
#include <unordered_set>

using nlohmann::json;

namespace {

/// A part of the tables read at once: enough for a page of the longest limit and its neighbour.
constexpr std::size_t PartRows = 2000;

/// The index of the snapshot, made by the first request that reads it.
std::shared_ptr<const TBoardIndex::Index> IndexOf(const TStatusView& view) {
    static std::mutex lock;
    static std::weak_ptr<const TBoardSnapshot> indexed;
    static std::shared_ptr<const TBoardIndex::Index> index;
    std::lock_guard<std::mutex> hold(lock);
    if (index && view.Snapshot && indexed.lock() == view.Snapshot) return index;
    auto made = std::make_shared<TBoardIndex::Index>(view.Sites.size());
    for (const TSiteEntry* entry : view.Sites)
        made->emplace(entry->Status.Code, entry);
    indexed = view.Snapshot;
    index = made;
    return made;
}

/// What /status.json shows of the site: its state (with "degraded"), acknowledgement and uptime.
void AddShownStatus(json& out, const TSiteEntry& entry, const TStatusView& view) {
    const TSiteStatus& status = entry.Status;
    out["state"] = StatusStateName(status);
    if (status.AckAt != 0)
        out["acknowledged"] = {{"by", status.AckBy},
                               {"comment", status.AckComment},
                               {"at", FormatDateTime("yyyy-mm-dd hh:nn:ss", status.AckAt)}};
    if (const SiteUptime* uptime = view.Uptime(status)) {
        json windows = json::object();
        for (int w = 0; w < UptimeWindows; ++w) {
            const double percent = uptime->Percent[w];
            windows[UptimeWindowNames[w]] = std::isnan(percent) ? json() : json(UptimeCut(percent));
        }
        out["uptime"] = windows;
    }
}

} // namespace

TBoardIndex::TBoardIndex(const std::function<bool(TStatusView&)>& load, bool whole) : m_whole(whole) {
    m_loaded = load && load(m_view);
    m_byCode = std::make_shared<const Index>();
}

void TBoardIndex::Prepare(const std::vector<SiteFields>& sites) {
    if (!m_loaded) return;
    if (m_whole) {
        if (m_byCode->empty()) m_byCode = IndexOf(m_view);
        return;
    }
    std::unordered_set<std::string_view> wanted;
    for (const SiteFields& site : sites)
        wanted.insert(site.Code);
    auto part = std::make_shared<Index>();
    for (const TSiteEntry* entry : m_view.Sites)
        if (wanted.contains(entry->Status.Code)) part->emplace(entry->Status.Code, entry);
    m_byCode = part;
}

const TSiteEntry* TBoardIndex::Find(const SiteFields& site) const {
    const auto [first, last] = m_byCode->equal_range(site.Code);
    for (auto it = first; it != last; ++it)
        if (it->second->Status.Address == site.Address) return it->second;
    return first == last ? nullptr : first->second;
}

json SiteJson(const SiteFields& site, const std::vector<std::string>& tags, const TBoardIndex& board) {
    json out = {{"code", site.Code},
                {"name", site.Name},
                {"address", site.Address},
                {"downtime", std::stoll(site.Downtime.empty() ? "0" : site.Downtime)},
                {"email", site.Email},
                {"contactflag", nullptr},
                {"daemon", site.Daemon},
                {"state", "unknown"},
                {"cause", nullptr},
                {"rtt_ms", nullptr},
                {"notified", false},
                {"maintenance", board.View().InMaintenance(site.Code, tags)},
                {"tags", tags}};
    if (!site.ContactFlag.empty()) out["contactflag"] = std::stoll(site.ContactFlag);
    if (const TSiteEntry* entry = board.Find(site)) {
        const TSiteStatus& status = entry->Status;
        if (!status.Cause.empty()) out["cause"] = status.Cause;
        if (status.LastRttUs >= 0)
            out["rtt_ms"] = double(status.LastRttUs) / 1000.0;
        else if (status.LastRttMs >= 0)
            out["rtt_ms"] = status.LastRttMs;
        out["notified"] = status.Notified;
        AddShownStatus(out, *entry, board.View());
    }
    return out;
}

TSiteListing::TSiteListing(TApiDatabase& database, std::string daemon, SiteFilter filter,
                           std::unique_ptr<TBoardIndex> board)
    : m_database(database), m_daemon(std::move(daemon)), m_filter(std::move(filter)), m_board(std::move(board)),
      m_after(m_filter.After) {}

bool TSiteListing::Next(std::string& out) {
    switch (m_stage) {
    case Stage::Head:
        out += "{\"sites\":[";
        m_stage = Stage::Sites;
        return true;
    case Stage::Sites:
        if (m_lastPart)
            Finish(out);
        else
            ReadPart(out);
        return true;
    case Stage::Done:
        break;
    }
    return false;
}

// A page reads one row past its limit to know whether another follows.
void TSiteListing::ReadPart(std::string& out) {
    const std::size_t rows = m_filter.Limit > 0 && !m_filter.Narrows() ? m_filter.Limit - m_listed + 1 : PartRows;
    std::vector<SiteFields> sites;
    SiteTagMap tags;
    // A whole list reads every code's daemon in one pass rather than a pass for each part.
    const bool whole = m_filter.Limit == 0 && m_daemon.empty();
    m_database.With([&](TDbQuery& q) {
        SiteStore store(q, m_database.Dialect());
        if (whole && !m_daemons) m_daemons = store.FirstDaemons();
        sites = store.ListAfter(m_daemon, m_after, rows, whole ? &*m_daemons : nullptr);
        std::vector<std::string> codes;
        for (const SiteFields& site : sites)
            codes.push_back(site.Code);
        tags = SiteTags(q).OfCodes(codes);
    });
    if (sites.empty()) m_lastPart = true;
    m_board->Prepare(sites);
    static const std::vector<std::string> none;
    const auto tagsOf = [&tags](const SiteFields& site) -> const std::vector<std::string>& {
        const auto found = tags.find(SiteCodeKey(site.Code));
        return found == tags.end() ? none : found->second;
    };
    std::vector<SiteFields> kept;
    for (const SiteFields& site : sites) {
        const TSiteEntry* entry = m_board->Find(site);
        const std::string state = entry ? StatusStateName(entry->Status) : "unknown";
        if (!m_filter.Keeps(state, site.Code, site.Name, site.Address, tagsOf(site))) continue;
        if (m_filter.Limit > 0 && m_listed + kept.size() == m_filter.Limit) {
            m_lastPart = true;
            m_next = "/api/v1/sites?" + m_filter.NextQuery(kept.empty() ? m_lastListed : kept.back().Code) +
                     (m_daemon.empty() ? "" : "&daemon=" + QueryValue(m_daemon));
            break;
        }
        kept.push_back(site);
    }
    // A page looks up the daemons of the sites it shows only.
    if (!whole && m_daemon.empty() && !kept.empty())
        m_database.With([&](TDbQuery& q) { SiteStore(q, m_database.Dialect()).AddFirstDaemons(kept); });
    for (const SiteFields& site : kept) {
        out += m_listed++ == 0 ? "\n" : ",\n";
        out += JsonText(SiteJson(site, tagsOf(site), *m_board));
        m_lastListed = site.Code;
    }
    if (!sites.empty()) m_after = sites.back().Code;
}

void TSiteListing::Finish(std::string& out) {
    out += "]";
    if (!m_next.empty()) out += ",\"next\":" + JsonText(nlohmann::json(m_next));
    out += "}";
    m_stage = Stage::Done;
}
