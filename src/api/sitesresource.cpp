// TSitesResource: JSON in and out of the site store, and the board's view of each site.
#include "api/sitesresource.h"

#include "api/sitebody.h"
#include "db/ackrows.h"

#include "platform/activitylog.h"
#include "platform/clock.h"
#include "platform/datetime.h"
#include "platform/strutil.h"
#include "web/ackrules.h"
#include "web/statusjson.h"
#include "web/statusview.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <map>

using nlohmann::json;

namespace {

/// The board's entries by code, in a view with the maintenance windows; of a code with several
/// addresses, the one at the site's address.
class TBoardIndex {
public:
    explicit TBoardIndex(const std::function<bool(TStatusView&)>& load) {
        m_loaded = load && load(m_view);
        for (const TSiteEntry* entry : m_view.Sites)
            m_byCode.emplace(entry->Status.Code, entry);
    }
    const TSiteEntry* Find(const SiteFields& site) const {
        const auto [first, last] = m_byCode.equal_range(site.Code);
        for (auto it = first; it != last; ++it)
            if (it->second->Status.Address == site.Address) return it->second;
        return first == last ? nullptr : first->second;
    }
    bool Loaded() const { return m_loaded; }
    const TStatusView& View() const { return m_view; }

private:
    TStatusView m_view;
    bool m_loaded = false;
    std::multimap<std::string, const TSiteEntry*> m_byCode;
};

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

json SiteJson(const SiteFields& site, const TBoardIndex& board) {
    json out = {{"code", site.Code},       {"name", site.Name},
                {"address", site.Address}, {"downtime", std::stoll(site.Downtime.empty() ? "0" : site.Downtime)},
                {"email", site.Email},     {"contactflag", nullptr},
                {"daemon", site.Daemon},   {"state", "unknown"},
                {"cause", nullptr},        {"rtt_ms", nullptr},
                {"notified", false},       {"maintenance", board.View().InMaintenance(site.Code)}};
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

/// The code as one segment of a path: bytes other than letters, digits and "-._~" percent-encoded.
std::string PathSegment(const std::string& code) {
    std::string out;
    for (unsigned char c : code) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
            c == '_' || c == '~')
            out += char(c);
        else
            out += Format("%%%02X", c);
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
    const TBoardIndex board(LoadView);
    json list = json::array();
    for (const SiteFields& site : sites)
        list.push_back(SiteJson(site, board));
    return JsonAnswer(200, json{{"sites", list}});
}

TApiResponse TSitesResource::Get(const std::string& code) {
    const std::optional<SiteFields> site =
        m_database.With([&](TDbQuery& q) { return SiteStore(q, m_database.Dialect()).Find(code); });
    if (!site) return ApiError(404, "no site has the code " + code);
    return Answer(200, *site);
}

TApiResponse TSitesResource::Answer(int status, const SiteFields& site) const {
    return JsonAnswer(status, SiteJson(site, TBoardIndex(LoadView)));
}

TApiResponse TSitesResource::Create(const TApiRequest& request, const std::string& by) {
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
    WriteLog("API", "Site " + site.Code + " created by " + by + ".");
    TApiResponse response = Answer(201, site);
    response.Headers.emplace_back("Location", "/api/v1/sites/" + PathSegment(site.Code));
    return response;
}

TApiResponse TSitesResource::Change(const std::string& code, const TApiRequest& request, bool merge,
                                    const std::string& by) {
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
            WriteLog("API", "Site " + code + " changed by " + by + ".");
            return Answer(200, site);
        });
    } catch (const ESiteInvalid& e) {
        return Invalid(e);
    } catch (const ESiteMissing&) {
        return ApiError(404, "no site has the code " + code);
    }
}

TApiResponse TSitesResource::Remove(const std::string& code, const std::string& by) {
    try {
        m_database.With([&](TDbQuery& q) { SiteStore(q, m_database.Dialect()).Delete(code); });
    } catch (const ESiteMissing&) {
        return ApiError(404, "no site has the code " + code);
    }
    WriteLog("API", "Site " + code + " deleted by " + by + ".");
    TApiResponse response;
    response.Status = 204;
    response.ContentType.clear();
    return response;
}

// As the status page's form: only while the daemon follows outages up, and only an open outage.
TApiResponse TSitesResource::AckOutage(const std::string& code, const TApiRequest& request, const std::string& by) {
    json body;
    if (TApiResponse refusal; !ReadJsonObject(request.Body.empty() ? "{}" : request.Body, body, refusal))
        return refusal;
    for (const auto& [name, value] : body.items())
        if (name != "comment") return ApiError(400, name + " is not a field of an acknowledgement", name);
    const json comment = body.value("comment", json(""));
    if (!comment.is_string()) return ApiError(400, "comment is not text", "comment");
    const std::optional<SiteFields> site =
        m_database.With([&](TDbQuery& q) { return SiteStore(q, m_database.Dialect()).Find(code); });
    if (!site) return ApiError(404, "no site has the code " + code);
    const std::string text = Trim(comment.get<std::string>());
    if (!AckTextUsable(site->Code, text))
        return ApiError(400, "comment takes at most 255 bytes and no control characters", "comment");
    const TBoardIndex board(LoadView);
    if (!Acknowledge || !board.Loaded() || !board.View().Summary.Acknowledging)
        return ApiError(409, "outages are acknowledged only while [Alert] Remind or Escalate is set");
    const std::string known = OpenOutageCode(*board.View().Snapshot, site->Code);
    if (known.empty()) return ApiError(409, "no open outage of " + site->Code + " to acknowledge");
    // Stored before the answer, so that a stop right after it loses nothing.
    const std::optional<AckRow> row =
        m_database.With([&](TDbQuery& q) { return AckRows(q).Acknowledge(known, by, text, GetClock().Now()); });
    if (!row) return ApiError(409, "no open outage of " + site->Code + " to acknowledge");
    Acknowledge(known, by, text);
    return Answer(200, *site);
}
