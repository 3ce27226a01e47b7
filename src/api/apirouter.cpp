// TApiRouter: the guards in their order (the wait of an address that failed too often, the token,
// the token's right to write) as soon as the head is in, then the route once the body is.
#include "api/apirouter.h"

#include "api/apitokens.h"
#include "api/sitebody.h"
#include "api/openapi.h"
#include "db/data.h"
#include "history/maintenancetable.h"
#include "platform/activitylog.h"
#include "platform/codepage.h"
#include "platform/profile.h"
#include "platform/strutil.h"
#include "web/statusbody.h"
#include "web/statusview.h"
#include "web/webguard.h"

namespace {

const std::string SitesPath = "/api/v1/sites";
const std::string MaintenancePath = "/api/v1/maintenance";
const std::string OpenApiPath = "/api/v1/openapi.json";

bool IsStatusPath(const std::string& path) {
    return path == "/status" || path == "/status.json" || path == "/metrics";
}

/// The token of "Bearer <token>" (the scheme in any case); empty for anything else.
std::string BearerToken(const std::string& authorization) {
    if (authorization.size() <= 7 || !SameText(authorization.substr(0, 7), "Bearer ")) return "";
    return Trim(authorization.substr(7));
}

bool Reads(const std::string& method) {
    return method == "GET" || method == "HEAD";
}

TApiResponse NotAllowed(const char* allow) {
    TApiResponse response = ApiError(405, "method not allowed here");
    response.Headers.emplace_back("Allow", allow);
    return response;
}

} // namespace

TApiRouter::TApiRouter(TApiDatabase& database, const TStatusBoard* board, std::shared_ptr<const TWebGuard> guard)
    : m_database(database), m_board(board), m_guard(std::move(guard)), m_sites(database) {
    m_sites.DaemonId = [this] { return DaemonId(); };
    m_sites.LoadView = [this](TStatusView& view) { return LoadView(view); };
    m_sites.Acknowledge = [this](const std::string& code, const std::string& by, const std::string& comment) {
        WriteLog("MAIL", "Outage of " + code + " acknowledged by " + by + ": " + comment);
        if (Acknowledge) Acknowledge(code, by, comment);
    };
}

void TApiRouter::UseMaintenance(MaintenanceBook* book) {
    m_book = book;
    m_maintenance.Book = book;
    m_maintenance.Storing = [this](const std::function<void(const MaintenanceBook::Store&)>& work) {
        const std::string daemonId = DaemonId();
        m_database.With([&](TDbQuery& q) { work(TableStore(q, daemonId)); });
    };
}

// The one view the status paths and the sites' state are made from.
bool TApiRouter::LoadView(TStatusView& view) const {
    if (m_board == nullptr) return false;
    view.Load(*m_board);
    if (m_book != nullptr) view.LoadMaintenance(*m_book);
    view.DaemonId = AsUtf8(DaemonId());
    view.DatabaseUp = DatabaseUp;
    view.PollDelay = PollDelay;
    return true;
}

std::string TApiRouter::DaemonId() const {
    return ReadDaemonId(ConfigFile);
}

// A database that cannot be reached is the answer's whole story: the request may be repeated. Its
// cause (a host, a port, a path) is for the log, not for a client that may hold no token.
TApiResponse TApiRouter::Handle(TApiRequest& request) {
    try {
        if (!request.Admitted)
            if (std::optional<TApiResponse> refusal = Admit(request)) return *refusal;
        return Dispatch(request);
    } catch (const EDatabaseError& e) {
        return Unreachable(e);
    }
}

TApiResponse TApiRouter::Unreachable(const EDatabaseError& error) {
    {
        std::lock_guard<std::mutex> lock(m_unreachableLock);
        if (!m_unreachableLogged || MillisecondsSince(m_lastUnreachableLine) >= 60 * 1000) {
            WriteLog("API", std::string("The database is not reachable: ") + error.what());
            m_unreachableLogged = true;
            m_lastUnreachableLine = GetClock().Monotonic();
        }
    }
    return ApiError(503, "the database is not reachable");
}

// Everything that needs no body is decided here, so that a peer without a token is answered
// before it can send (or trickle) one.
std::optional<TApiResponse> TApiRouter::Admit(TApiRequest& request) {
    request.Admitted = true;
    // A NUL would end the code or value early (N1%00junk naming N1): the request is refused whole.
    if (request.EncodedNul || request.Path.find('\0') != std::string::npos)
        return ApiError(400, "the path or query holds a NUL (%00)");
    const bool resource = request.Path.starts_with("/api/") && request.Path != OpenApiPath;
    if (!resource && !IsStatusPath(request.Path)) return std::nullopt;
    const auto now = GetClock().Monotonic();
    if (const long long wait = m_limiter.WaitSeconds(request.Peer, now); wait > 0) {
        TApiResponse response = ApiError(429, "too many failed attempts; try again later");
        response.Headers.emplace_back("Retry-After", IntToStr(wait));
        return response;
    }
    const std::string bearer = BearerToken(request.Authorization);
    // The status paths take a token (a read token will do) in place of the [Web] login, which
    // Status asks for when none is presented.
    if (!resource && bearer.empty()) return std::nullopt;
    std::optional<TApiToken> token;
    try {
        if (!bearer.empty()) token = m_database.With([&](TDbQuery& q) { return TApiTokens(q).Find(bearer); });
    } catch (const EDatabaseError& e) {
        return Unreachable(e);
    }
    if (!token) {
        m_limiter.Failed(request.Peer, now);
        TApiResponse response = ApiError(401, "a valid token is needed");
        response.Headers.emplace_back("WWW-Authenticate", "Bearer realm=\"vkt\"");
        return response;
    }
    if (!Reads(request.Method) && !token->Write) return ApiError(403, "token " + token->Name + " may only read");
    request.Token = token->Name;
    return std::nullopt;
}

TApiResponse TApiRouter::Dispatch(const TApiRequest& request) {
    if (IsStatusPath(request.Path)) return Status(request);
    if (request.Path == OpenApiPath) {
        if (!Reads(request.Method)) return NotAllowed("GET");
        TApiResponse response;
        response.Body = OpenApiDocument();
        return response;
    }
    if (request.Path.starts_with("/api/")) return Resource(request);
    return ApiError(404, "no such path");
}

// The same bodies and the same [Web] rules (Host, login) as on the admin port; a token stands for the login.
TApiResponse TApiRouter::Status(const TApiRequest& request) {
    if (!Reads(request.Method)) return NotAllowed("GET");
    if (m_board == nullptr) return ApiError(404, "no status board");
    if (m_guard) {
        THTTPRequest screened;
        screened.Hosts = request.Hosts;
        if (!request.Authorization.empty()) screened.Authorizations.push_back(request.Authorization);
        // A token that Admit took stands for the login; the Host rule holds all the same.
        TWebGuard::TVerdict verdict = TWebGuard::TVerdict::Silence;
        if (request.Token.empty())
            verdict = m_guard->Screen(screened);
        else if (m_guard->HostAllowed(screened))
            verdict = TWebGuard::TVerdict::Answer;
        if (verdict == TWebGuard::TVerdict::Silence) return TApiResponse{0, "", "", {}, {}};
        if (verdict == TWebGuard::TVerdict::AskLogin) {
            // A login that was given and is wrong counts as a bad token does; none is a first visit.
            if (!request.Authorization.empty()) m_limiter.Failed(request.Peer, GetClock().Monotonic());
            TApiResponse response{401, "text/plain", "401 Unauthorized\n", {}, {}};
            response.Headers.emplace_back("WWW-Authenticate", "Basic realm=\"vkt\"");
            response.Headers.emplace_back("WWW-Authenticate", "Bearer realm=\"vkt\"");
            return response;
        }
    }
    TStatusView view;
    SiteFilter filter;
    if (const auto refused = StatusFilterFor(
            request.Path, [&request](const std::string& name) { return request.QueryField(name); }, filter))
        return ApiError(400, refused->Message, refused->Field);
    const std::unique_ptr<TStatusBody> body = StatusBodyFor(request.Path, filter, request.QueryField("history"), view);
    LoadView(view);
    TApiResponse response;
    response.ContentType = body->ContentType();
    response.Body = body->SameForEveryone() ? *SharedStatusBody(*body, view) : body->Whole();
    response.Headers.emplace_back("Cache-Control", "no-store");
    return response;
}

// Admit has passed the token.
TApiResponse TApiRouter::Resource(const TApiRequest& request) {
    if (request.BodyTooLarge) return ApiError(413, "the body is larger than 1 MB");
    return Route(request, request.Token);
}

TApiResponse TApiRouter::Route(const TApiRequest& request, const std::string& token) {
    if (request.Path == SitesPath || request.Path == SitesPath + "/") {
        if (Reads(request.Method)) return m_sites.List(request);
        if (request.Method == "POST") return m_sites.Create(request, token);
        return NotAllowed("GET, POST");
    }
    if (request.Path.starts_with(SitesPath + "/")) return RouteSite(request, token);
    if (request.Path == MaintenancePath || request.Path.starts_with(MaintenancePath + "/"))
        return RouteMaintenance(request, token);
    return ApiError(404, "no such resource");
}

// /sites/{code} and /sites/{code}/ack.
TApiResponse TApiRouter::RouteSite(const TApiRequest& request, const std::string& token) {
    const std::string& method = request.Method;
    std::string code = request.Path.substr(SitesPath.size() + 1);
    if (code.ends_with("/ack")) {
        code.resize(code.size() - 4);
        if (code.empty() || code.find('/') != std::string::npos) return ApiError(404, "no such resource");
        if (method != "POST") return NotAllowed("POST");
        return m_sites.AckOutage(code, request, token);
    }
    if (code.find('/') != std::string::npos) return ApiError(404, "no such resource");
    if (Reads(method)) return m_sites.Get(code);
    if (method == "PUT") return m_sites.Change(code, request, false, token);
    if (method == "PATCH") return m_sites.Change(code, request, true, token);
    if (method == "DELETE") return m_sites.Remove(code, token);
    return NotAllowed("GET, PUT, PATCH, DELETE");
}

// /maintenance and /maintenance/{id}.
TApiResponse TApiRouter::RouteMaintenance(const TApiRequest& request, const std::string& token) {
    const std::string& method = request.Method;
    const std::string id = request.Path.size() > MaintenancePath.size() + 1
                               ? request.Path.substr(MaintenancePath.size() + 1)
                               : std::string();
    if (id.empty()) {
        if (Reads(method)) return m_maintenance.List(request);
        if (method == "POST") return m_maintenance.Make(request, token);
        return NotAllowed("GET, POST");
    }
    if (method == "DELETE") return m_maintenance.End(id, token);
    return NotAllowed("DELETE");
}
