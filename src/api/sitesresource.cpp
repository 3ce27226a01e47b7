// TSitesResource: JSON in and out of the site store, and the board's view of each site.
#include "api/sitesresource.h"

#include "api/sitebody.h"
#include "api/sitelist.h"
#include "db/ackrows.h"
#include "db/sitetags.h"

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

std::vector<SiteTagChange> TagChanges(const std::string& code, const std::optional<std::vector<std::string>>& tags) {
    if (!tags) return {};
    return {{code, *tags}};
}

TApiResponse Invalid(const ESiteInvalid& e) {
    const FieldError& first = e.Errors().front();
    return ApiError(400, first.Field + " " + first.Message, first.Field);
}

} // namespace

// The first part is read before the answer, so that a database out of reach is still a 503; a page
// is made whole, the whole list is made while it is sent.
TApiResponse TSitesResource::List(const TApiRequest& request) {
    SiteFilter filter;
    if (const auto refused =
            SiteFilter::Read([&request](const std::string& name) { return request.QueryField(name); }, filter))
        return ApiError(400, refused->Message, refused->Field);
    const bool paged = filter.Limit > 0;
    auto listing = std::make_shared<TSiteListing>(m_database, request.QueryField("daemon"), std::move(filter),
                                                  std::make_unique<TBoardIndex>(LoadView, !paged));
    TApiResponse response;
    std::string first;
    for (int piece = 0; piece < 2 && listing->Next(first); ++piece) {
    }
    if (paged) {
        response.Body = std::move(first);
        while (listing->Next(response.Body)) {
        }
        return response;
    }
    response.Stream = [listing, first = std::move(first)](std::string& out) mutable {
        if (first.empty()) return listing->Next(out);
        out += first;
        first.clear();
        return true;
    };
    return response;
}

TApiResponse TSitesResource::Get(const std::string& code) {
    std::vector<std::string> tags;
    const std::optional<SiteFields> site = m_database.With([&](TDbQuery& q) {
        std::optional<SiteFields> found = SiteStore(q, m_database.Dialect()).Find(code);
        if (found) tags = SiteTags(q).Of(found->Code);
        return found;
    });
    if (!site) return ApiError(404, "no site has the code " + code);
    return Answer(200, *site, tags);
}

TApiResponse TSitesResource::Answer(int status, const SiteFields& site, const std::vector<std::string>& tags) const {
    TBoardIndex board(LoadView);
    board.Prepare({site});
    return JsonAnswer(status, SiteJson(site, tags, board));
}

TApiResponse TSitesResource::Create(const TApiRequest& request, const std::string& by) {
    SiteFields site;
    std::optional<std::vector<std::string>> tags;
    TApiResponse refusal;
    if (!ReadSiteFields(request.Body, site, tags, refusal)) return refusal;
    if (site.Daemon.empty() && DaemonId) site.Daemon = DaemonId();
    try {
        m_database.With([&](TDbQuery& q) {
            SiteStore(q, m_database.Dialect()).Apply({{SiteChange::Kind::Create, site}}, TagChanges(site.Code, tags));
        });
    } catch (const ESiteInvalid& e) {
        return Invalid(e);
    } catch (const ESiteExists&) {
        return ApiError(409, "a site has the code " + site.Code + " already", "code");
    }
    WriteLog("API", "Site " + site.Code + " created by " + by + ".");
    TApiResponse response = Answer(201, site, tags.value_or(std::vector<std::string>{}));
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
            std::optional<std::vector<std::string>> tags;
            if (!ReadSiteFields(request.Body, site, tags, refusal)) return refusal;
            if (site.Code != code) return ApiError(400, "code cannot be changed; delete and create the site", "code");
            if (!merge && !tags) tags.emplace(); // PUT: a site without tags
            store.Apply({{SiteChange::Kind::Update, site}}, TagChanges(stored->Code, tags));
            WriteLog("API", "Site " + code + " changed by " + by + ".");
            return Answer(200, site, tags ? *tags : SiteTags(q).Of(stored->Code));
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
    return Answer(200, *site, m_database.With([&](TDbQuery& q) { return SiteTags(q).Of(site->Code); }));
}
