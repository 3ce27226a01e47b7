// TSitesResource: JSON in and out of the site store, and the board's view of each site.
#include "api/sitesresource.h"

#include "api/sitebody.h"

#include "db/sitestore.h"
#include "web/statusboard.h"

#include <nlohmann/json.hpp>

#include <map>

using nlohmann::json;

namespace {

/// The board's entries by code; of a code with several addresses, the one at the site's address.
class TBoardIndex {
public:
    explicit TBoardIndex(const TStatusBoard* board) {
        if (board == nullptr) return;
        m_snapshot = board->Current();
        for (const auto& entry : m_snapshot->Sites)
            m_byCode.emplace(entry->Status.Code, &entry->Status);
    }
    const TSiteStatus* Find(const SiteFields& site) const {
        const auto [first, last] = m_byCode.equal_range(site.Code);
        for (auto it = first; it != last; ++it)
            if (it->second->Address == site.Address) return it->second;
        return first == last ? nullptr : first->second;
    }

private:
    std::shared_ptr<const TBoardSnapshot> m_snapshot;
    std::multimap<std::string, const TSiteStatus*> m_byCode;
};

json SiteJson(const SiteFields& site, const TBoardIndex& board) {
    json out = {{"code", site.Code},       {"name", site.Name},
                {"address", site.Address}, {"downtime", std::stoll(site.Downtime.empty() ? "0" : site.Downtime)},
                {"email", site.Email},     {"contactflag", nullptr},
                {"daemon", site.Daemon},   {"state", "unknown"},
                {"cause", nullptr},        {"rtt_ms", nullptr},
                {"notified", false}};
    if (!site.ContactFlag.empty()) out["contactflag"] = std::stoll(site.ContactFlag);
    if (const TSiteStatus* status = board.Find(site)) {
        out["state"] = status->State == TSiteStatus::Up     ? "up"
                       : status->State == TSiteStatus::Down ? "down"
                                                            : "unknown";
        if (!status->Cause.empty()) out["cause"] = status->Cause;
        if (status->LastRttUs >= 0)
            out["rtt_ms"] = double(status->LastRttUs) / 1000.0;
        else if (status->LastRttMs >= 0)
            out["rtt_ms"] = status->LastRttMs;
        out["notified"] = status->Notified;
    }
    return out;
}

TApiResponse Invalid(const ESiteInvalid& e) {
    const FieldError& first = e.Errors().front();
    return ApiError(400, first.Field + " " + first.Message, first.Field);
}

} // namespace

TApiResponse TSitesResource::List(const TApiRequest& request) {
    const std::string daemon = request.QueryField("daemon");
    const std::vector<SiteFields> sites =
        m_database.With([&](TDbQuery& q) { return SiteStore(q, m_database.Dialect()).List(daemon); });
    const TBoardIndex board(m_board);
    json list = json::array();
    for (const SiteFields& site : sites)
        list.push_back(SiteJson(site, board));
    return JsonAnswer(200, json{{"sites", list}});
}

TApiResponse TSitesResource::Get(const std::string& code) {
    const std::optional<SiteFields> site =
        m_database.With([&](TDbQuery& q) { return SiteStore(q, m_database.Dialect()).Find(code); });
    if (!site) return ApiError(404, "no site has the code " + code);
    return JsonAnswer(200, SiteJson(*site, TBoardIndex(m_board)));
}

TApiResponse TSitesResource::Create(const TApiRequest& request, const std::string& token) {
    SiteFields site;
    TApiResponse refusal;
    if (!ReadSiteFields(request.Body, site, refusal)) return refusal;
    if (site.Daemon.empty() && DaemonId) site.Daemon = DaemonId();
    try {
        m_database.With([&](TDbQuery& q) { SiteStore(q, m_database.Dialect()).Create(site); });
    } catch (const ESiteInvalid& e) {
        return Invalid(e);
    } catch (const ESiteExists&) {
        return ApiError(409, "a site has the code " + site.Code + " already", "code");
    }
    if (Log) Log("Site " + site.Code + " created by token " + token + ".");
    TApiResponse response = JsonAnswer(201, SiteJson(site, TBoardIndex(m_board)));
    response.Headers.emplace_back("Location", "/api/v1/sites/" + site.Code);
    return response;
}

TApiResponse TSitesResource::Change(const std::string& code, const TApiRequest& request, bool merge,
                                    const std::string& token) {
    try {
        return m_database.With([&](TDbQuery& q) {
            SiteStore store(q, m_database.Dialect());
            const std::optional<SiteFields> stored = store.Find(code);
            if (!stored) return ApiError(404, "no site has the code " + code);
            SiteFields site;
            if (merge) site = *stored;
            site.Code = code;
            site.Daemon = stored->Daemon;
            TApiResponse refusal;
            if (!ReadSiteFields(request.Body, site, refusal)) return refusal;
            if (site.Code != code) return ApiError(400, "code cannot be changed; delete and create the site", "code");
            store.Update(site);
            if (Log) Log("Site " + code + " changed by token " + token + ".");
            return JsonAnswer(200, SiteJson(site, TBoardIndex(m_board)));
        });
    } catch (const ESiteInvalid& e) {
        return Invalid(e);
    } catch (const ESiteMissing&) {
        return ApiError(404, "no site has the code " + code);
    }
}

TApiResponse TSitesResource::Remove(const std::string& code, const std::string& token) {
    try {
        m_database.With([&](TDbQuery& q) { SiteStore(q, m_database.Dialect()).Delete(code); });
    } catch (const ESiteMissing&) {
        return ApiError(404, "no site has the code " + code);
    }
    if (Log) Log("Site " + code + " deleted by token " + token + ".");
    TApiResponse response;
    response.Status = 204;
    response.ContentType.clear();
    return response;
}
