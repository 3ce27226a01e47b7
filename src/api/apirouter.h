// What the API listener answers: the status paths under the [Web] rules, the OpenAPI description,
// the pages under /ui/, and the resources under /api/v1 for bearer tokens and signed-in users, each
// as far as its role reaches.
#pragma once

#include "api/accountsresource.h"
#include "api/apidatabase.h"
#include "api/apirequest.h"
#include "api/apisessions.h"
#include "api/attemptlimiter.h"
#include "api/maintenanceresource.h"
#include "api/sitesresource.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

class MaintenanceBook;
class TStatusBoard;
class TStatusView;
class TWebGuard;

class TApiRouter {
public:
    /// Largest request body taken, in bytes.
    static constexpr std::size_t MaxBody = 1024 * 1024;

    TApiRouter(TApiDatabase& database, const TStatusBoard* board, std::shared_ptr<const TWebGuard> guard);

    /// The vkt.ini the Daemon ID is read from (for the status paths and new sites).
    std::string ConfigFile;
    int PollDelay = 5;
    /// The listener speaks HTTPS: the session cookie is sent Secure.
    bool Secure = false;
    /// Whether the daemon's own connection is up, as the status paths show it.
    std::atomic<bool> DatabaseUp{false};
    /// Hands an outage's acknowledgement (code, by, comment) to the daemon; none: outages are not
    /// acknowledged here.
    std::function<void(const std::string& code, const std::string& by, const std::string& comment)> Acknowledge;

    /// The maintenance windows the status paths show and /api/v1/maintenance lists and changes.
    void UseMaintenance(MaintenanceBook* book);

    /// The guards a request meets as soon as its head is in, before any of its body is read: the
    /// wait of an address that failed too often, and under /api/ the token or session, the CSRF
    /// header of a change made with a session, and the role.
    /// A refusal is the answer to send at once; none lets the body come.
    std::optional<TApiResponse> Admit(TApiRequest& request);
    /// The answer to a whole request (admitted first when Admit has not seen it).
    TApiResponse Handle(TApiRequest& request);

private:
    TApiResponse Dispatch(const TApiRequest& request);
    TApiResponse Status(const TApiRequest& request);
    TApiResponse Resource(const TApiRequest& request);
    std::optional<TApiResponse> Authenticate(TApiRequest& request, Clock::MonoTime now);
    TApiResponse Route(const TApiRequest& request);
    TApiResponse RouteSite(const TApiRequest& request);
    TApiResponse RouteMaintenance(const TApiRequest& request);
    TApiResponse Session(const TApiRequest& request);
    TApiResponse SignIn(const TApiRequest& request);
    std::optional<TApiSession> SessionOf(const TApiRequest& request);
    std::string DaemonId() const;
    bool LoadView(TStatusView& view) const;
    TApiResponse Unreachable(const EDatabaseError& error);

    TApiDatabase& m_database;
    const TStatusBoard* m_board;
    std::shared_ptr<const TWebGuard> m_guard;
    TAttemptLimiter m_limiter;
    MaintenanceBook* m_book = nullptr;
    TSitesResource m_sites;
    TMaintenanceResource m_maintenance;
    TAccountsResource m_accounts;
    TApiSessions m_sessions;
    // The cause of an unreachable database is logged once a minute at most.
    std::mutex m_unreachableLock;
    Clock::MonoTime m_lastUnreachableLine{};
    bool m_unreachableLogged = false;
};
