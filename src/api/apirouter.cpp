// TApiRouter: the guards in their order (the wait of an address that failed too often, the token or
// session, the session's CSRF header, the role) as soon as the head is in, then the route once the
// body is.
#include "api/apirouter.h"

#include "api/apitokens.h"
#include "api/apiusers.h"
#include "api/sitebody.h"
#include "api/openapi.h"
#include "api/uiassets.h"
#include "web/basiclogin.h"
#include "web/formfields.h"
#include "db/data.h"
#include "history/maintenancetable.h"
#include "platform/activitylog.h"
#include "platform/codepage.h"
#include "platform/profile.h"
#include "platform/strutil.h"

#include <nlohmann/json.hpp>
#include "web/statusbody.h"
#include "web/statusview.h"
#include "web/webguard.h"

namespace {

const std::string SitesPath = "/api/v1/sites";
const std::string MaintenancePath = "/api/v1/maintenance";
const std::string OpenApiPath = "/api/v1/openapi.json";
const std::string SessionPath = "/api/v1/session";
const std::string UsersPath = "/api/v1/users";
const std::string TokensPath = "/api/v1/tokens";
const std::string SessionCookie = "vkt_session";

bool IsStatusPath(const std::string& path) {
    return path == "/status" || path == "/status.json" || path == "/metrics" || IsHistoryCsvPath(path);
}

/// The token of "Bearer <token>" (the scheme in any case); empty for anything else.
std::string BearerToken(const std::string& authorization) {
    if (authorization.size() <= 7 || !SameText(authorization.substr(0, 7), "Bearer ")) return "";
    return Trim(authorization.substr(7));
}

bool Reads(const std::string& method) {
    return method == "GET" || method == "HEAD";
}

/// The value of cookie `name` in a Cookie header; empty when it is not there.
std::string CookieValue(const std::string& header, const std::string& name) {
    for (std::size_t at = 0; at < header.size();) {
        std::size_t end = header.find(';', at);
        if (end == std::string::npos) end = header.size();
        const std::string pair = Trim(header.substr(at, end - at));
        if (pair.size() > name.size() && pair.compare(0, name.size(), name) == 0 && pair[name.size()] == '=')
            return pair.substr(name.size() + 1);
        at = end + 1;
    }
    return "";
}

/// The segment after `root` + "/" ("" for `root` itself), or none when the path is not under `root`.
std::optional<std::string> Below(const std::string& path, const std::string& root) {
    if (path == root || path == root + "/") return std::string();
    if (!path.starts_with(root + "/")) return std::nullopt;
    return path.substr(root.size() + 1);
}

TApiResponse Forbidden(const std::string& message, TApiRole needed) {
    TApiResponse response = ApiError(403, message);
    nlohmann::json body = nlohmann::json::parse(response.Body);
    body["role"] = RoleName(needed);
    response.Body = body.dump();
    return response;
}

TApiResponse NotAllowed(const char* allow) {
    TApiResponse response = ApiError(405, "method not allowed here");
    response.Headers.emplace_back("Allow", allow);
    return response;
}

} // namespace

TApiRouter::TApiRouter(TApiDatabase& database, const TStatusBoard* board, std::shared_ptr<const TWebGuard> guard)
    : m_database(database), m_board(board), m_guard(std::move(guard)), m_sites(database), m_accounts(database) {
    m_accounts.UserRemoved = [this](const std::string& user) { m_sessions.CloseUser(user); };
    m_accounts.RoleChanged = [this](const std::string& user, TApiRole role) { m_sessions.SetRole(user, role); };
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
    // The status paths take a token (a read token will do) or the pages' session in place of the [Web]
    // login, which Status asks for when neither is presented: the site page reads the outages CSV with
    // its cookie, and a browser must not be asked for the login over it.
    if (!resource && BearerToken(request.Authorization).empty()) {
        if (const std::optional<TApiSession> session = SessionOf(request))
            request.Caller = {"user", session->User, session->Role};
        return std::nullopt;
    }
    // Signing in needs the body; it is judged (and a failure counted) once the body is in.
    if (request.Path == SessionPath && request.Method == "POST") return std::nullopt;
    if (std::optional<TApiResponse> refusal = Authenticate(request, now)) return refusal;
    if (!resource) return std::nullopt; // any role reads the status paths
    const TApiRole needed = request.Path == SessionPath ? TApiRole::Viewer : RoleNeeded(request.Method, request.Path);
    if (request.Caller.Role < needed)
        return Forbidden(std::string("this needs the ") + RoleName(needed) + " role; " + request.Caller.Text() +
                             " is " + RoleName(request.Caller.Role),
                         needed);
    return std::nullopt;
}

// A bearer token first; else the session cookie, whose changes must repeat the session's CSRF value.
// A session that expired is no guess: it does not count as a failure, or a page left open would lock
// its address out of signing in again.
std::optional<TApiResponse> TApiRouter::Authenticate(TApiRequest& request, Clock::MonoTime now) {
    const std::string bearer = BearerToken(request.Authorization);
    if (bearer.empty() && !CookieValue(request.Cookie, SessionCookie).empty()) {
        const std::optional<TApiSession> session = SessionOf(request);
        if (!session) return ApiError(401, "the session has ended; sign in again");
        request.Caller = {"user", session->User, session->Role};
        if (!Reads(request.Method) && !SameBytes(request.CsrfToken, session->Csrf))
            return ApiError(403, "a change made with a session needs its X-CSRF-Token header");
        return std::nullopt;
    }
    std::optional<TApiToken> token;
    try {
        if (!bearer.empty()) token = m_database.With([&](TDbQuery& q) { return TApiTokens(q).Find(bearer); });
    } catch (const EDatabaseError& e) {
        return Unreachable(e);
    }
    if (!token) {
        // The pages ask who is signed in before anyone is: asking is no guess.
        if (bearer.empty() && request.Path == SessionPath) return ApiError(401, "nobody is signed in");
        m_limiter.Failed(request.Peer, now);
        TApiResponse response = ApiError(401, "a valid token is needed");
        response.Headers.emplace_back("WWW-Authenticate", "Bearer realm=\"vkt\"");
        return response;
    }
    request.Caller = {"token", token->Name, token->Role};
    return std::nullopt;
}

std::optional<TApiSession> TApiRouter::SessionOf(const TApiRequest& request) {
    const std::string id = CookieValue(request.Cookie, SessionCookie);
    if (id.empty()) return std::nullopt;
    return m_sessions.Find(id, GetClock().Monotonic());
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
    if (request.Path == "/ui" || request.Path.starts_with("/ui/")) {
        if (!Reads(request.Method)) return NotAllowed("GET");
        return UiAnswer(request.Path);
    }
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
        if (request.Caller.Name.empty())
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
    std::unique_ptr<TStatusBody> body = StatusBodyFor(request.Path, filter, request.QueryField("history"), view);
    LoadView(view);
    if (!body) {
        std::string refusal;
        body = HistoryBodyFor(
            request.Path, [&request](const std::string& name) { return request.QueryField(name); }, view, refusal);
        if (!refusal.empty()) return TApiResponse{400, "text/plain", refusal, {}, {}};
        if (!body) return ApiError(404, "no history is kept here ([History] is off)");
    }
    TApiResponse response;
    response.ContentType = body->ContentType();
    response.Body = body->SameForEveryone() ? *SharedStatusBody(*body, view) : body->Whole();
    response.Headers.emplace_back("Cache-Control", "no-store");
    return response;
}

// Admit has passed the token or session and its role.
TApiResponse TApiRouter::Resource(const TApiRequest& request) {
    if (request.BodyTooLarge) return ApiError(413, "the body is larger than 1 MB");
    return Route(request);
}

TApiResponse TApiRouter::Route(const TApiRequest& request) {
    if (request.Path == SitesPath || request.Path == SitesPath + "/") {
        if (Reads(request.Method)) return m_sites.List(request);
        if (request.Method == "POST") return m_sites.Create(request, request.Caller.Text());
        return NotAllowed("GET, POST");
    }
    if (request.Path.starts_with(SitesPath + "/")) return RouteSite(request);
    if (request.Path == MaintenancePath || request.Path.starts_with(MaintenancePath + "/"))
        return RouteMaintenance(request);
    if (request.Path == SessionPath) return Session(request);
    if (const std::optional<std::string> name = Below(request.Path, UsersPath)) return m_accounts.Users(request, *name);
    if (const std::optional<std::string> name = Below(request.Path, TokensPath))
        return m_accounts.Tokens(request, *name);
    return ApiError(404, "no such resource");
}

// /sites/{code} and /sites/{code}/ack.
TApiResponse TApiRouter::RouteSite(const TApiRequest& request) {
    const std::string& method = request.Method;
    const std::string by = request.Caller.Text();
    std::string code = request.Path.substr(SitesPath.size() + 1);
    if (code.ends_with("/ack")) {
        code.resize(code.size() - 4);
        if (code.empty() || code.find('/') != std::string::npos) return ApiError(404, "no such resource");
        if (method != "POST") return NotAllowed("POST");
        return m_sites.AckOutage(code, request, request.Caller.Name);
    }
    if (code.find('/') != std::string::npos) return ApiError(404, "no such resource");
    if (Reads(method)) return m_sites.Get(code);
    if (method == "PUT") return m_sites.Change(code, request, false, by);
    if (method == "PATCH") return m_sites.Change(code, request, true, by);
    if (method == "DELETE") return m_sites.Remove(code, by);
    return NotAllowed("GET, PUT, PATCH, DELETE");
}

// /maintenance and /maintenance/{id}: made and ended in the name of the token or user.
TApiResponse TApiRouter::RouteMaintenance(const TApiRequest& request) {
    const std::string& method = request.Method;
    const std::string id = request.Path.size() > MaintenancePath.size() + 1
                               ? request.Path.substr(MaintenancePath.size() + 1)
                               : std::string();
    if (id.empty()) {
        if (Reads(method)) return m_maintenance.List(request);
        if (method == "POST") return m_maintenance.Make(request, request.Caller.Name);
        return NotAllowed("GET, POST");
    }
    if (method == "DELETE") return m_maintenance.End(id, request.Caller.Name);
    return NotAllowed("DELETE");
}

// GET: who is signed in; DELETE: signs out (Admit found the session and its CSRF header).
TApiResponse TApiRouter::Session(const TApiRequest& request) {
    if (request.Method == "POST") return SignIn(request);
    if (request.Caller.Kind != "user") return ApiError(404, "a token has no session");
    if (Reads(request.Method)) {
        const std::optional<TApiSession> session = SessionOf(request);
        if (!session) return ApiError(401, "the session has ended; sign in again");
        return JsonAnswer(
            200, nlohmann::json{{"user", session->User}, {"role", RoleName(session->Role)}, {"csrf", session->Csrf}});
    }
    if (request.Method != "DELETE") return NotAllowed("GET, POST, DELETE");
    m_sessions.Close(CookieValue(request.Cookie, SessionCookie));
    WriteLog("API", "User " + request.Caller.Name + " signed out.");
    TApiResponse response;
    response.Status = 204;
    response.ContentType.clear();
    response.Headers.emplace_back("Set-Cookie", SessionCookie + "=; Max-Age=0; Path=/; HttpOnly; SameSite=Strict" +
                                                    (Secure ? "; Secure" : ""));
    return response;
}

// The user name and password as JSON or as a form; a failure counts as a bad token does.
TApiResponse TApiRouter::SignIn(const TApiRequest& request) {
    if (request.BodyTooLarge) return ApiError(413, "the body is larger than 1 MB");
    std::string user, password;
    // curl -d sends JSON as a form: the body's first character tells which it is.
    if (request.ContentType.starts_with("application/x-www-form-urlencoded") && !request.Body.starts_with("{")) {
        TFormFields fields;
        if (!ReadFormFields(request.Body, fields)) return ApiError(400, "the form is too long");
        for (const auto& [name, value] : fields) {
            if (name == "user" && user.empty()) user = value;
            if (name == "password" && password.empty()) password = value;
        }
    } else {
        nlohmann::json body;
        if (TApiResponse refusal; !ReadJsonObject(request.Body, body, refusal)) return refusal;
        if (!body.value("user", nlohmann::json()).is_string() || !body.value("password", nlohmann::json()).is_string())
            return ApiError(400, "user and password are text");
        user = body["user"].get<std::string>();
        password = body["password"].get<std::string>();
    }
    const std::optional<TApiUser> found =
        m_database.With([&](TDbQuery& q) { return TApiUsers(q).SignIn(user, password); });
    if (!found) {
        m_limiter.Failed(request.Peer, GetClock().Monotonic());
        return ApiError(401, "the user name or the password is wrong");
    }
    const TApiSession session = m_sessions.Open(found->Name, found->Role, GetClock().Monotonic());
    WriteLog("API", "User " + found->Name + " signed in from " + request.Peer + ".");
    TApiResponse response =
        JsonAnswer(200, nlohmann::json{{"user", found->Name}, {"role", RoleName(found->Role)}, {"csrf", session.Csrf}});
    response.Headers.emplace_back("Set-Cookie", SessionCookie + "=" + session.Id +
                                                    "; Path=/; HttpOnly; SameSite=Strict" + (Secure ? "; Secure" : ""));
    response.Headers.emplace_back("Cache-Control", "no-store");
    return response;
}
