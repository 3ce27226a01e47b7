// The API listener, [Api] of vkt.ini: a second port next to the admin port, on libmicrohttpd, with
// HTTPS when a certificate and key are set. Plain HTTP is taken on a loopback address only, so
// tokens never cross a network in clear. [Web] Allow screens its peers as it does the admin port's.
#pragma once

#include "api/apisettings.h"
#include "db/dbaccess.h"
#include "platform/clock.h"
#include "platform/msgloop.h"

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

class MaintenanceBook;
class TStatusBoard;
class TWebGuard;
class TApiDatabase;
class TApiRouter;
class TSocketDeadlines;
struct MHD_Connection;
struct MHD_Daemon;

class TApiServer {
public:
    TApiServer();
    ~TApiServer();
    TApiServer(const TApiServer&) = delete;
    TApiServer& operator=(const TApiServer&) = delete;

    /// The vkt.ini of [Api], [Web] Allow and the Daemon ID; by default the program's.
    std::string ConfigFile;
    /// The board behind the status paths; none keeps them silent.
    const TStatusBoard* Board = nullptr;
    /// The maintenance windows shown and changed through the API; none: /api/v1/maintenance is not found.
    MaintenanceBook* Maintenance = nullptr;
    /// Hands an outage's acknowledgement (code, by, comment) to the daemon; none: outages are not
    /// acknowledged through the API.
    std::function<void(const std::string& code, const std::string& by, const std::string& comment)> Acknowledge;
    /// Whether the daemon's connection is up; asked on the loop thread once a second.
    std::function<bool()> DatabaseUp;
    /// The pace a connection keeps or is closed: from its start (the TLS handshake included) or its
    /// last answer until the head of its next request is in; from then until the body is in; and
    /// for an answer to be taken. Set before Start.
    std::chrono::milliseconds HeadTime{10000}, BodyTime{30000}, AnswerTime{60000};

    /// Reads [Api] and starts listening when Listen is set; the API opens its own connection to the
    /// database of `connectionString`. Says in the log why it stays off; never throws.
    void Start(const std::string& connectionString, TDbDialect dialect, int pollDelay);
    /// The port listened on; 0 when not listening.
    int Port() const { return m_port; }
    void Stop();

private:
    bool ReadPemFiles();
    bool Launch(const std::string& connectionString, TDbDialect dialect, int pollDelay);
    bool AllowsPeer(const std::string& address);
    void WriteLogLine(const std::string& message);
    /// Moves the connection's deadline.
    void Expect(MHD_Connection* connection, std::chrono::steady_clock::time_point deadline);

    TApiSettings m_settings;
    std::string m_certificate, m_key;
    std::shared_ptr<const TWebGuard> m_guard;
    std::unique_ptr<TApiDatabase> m_database;
    std::unique_ptr<TApiRouter> m_router;
    std::unique_ptr<TSocketDeadlines> m_deadlines;
    MHD_Daemon* m_daemon = nullptr;
    int m_port = 0;
    MessageLoop::TimerId m_poll = 0;
    // Refused peers are logged once a minute at most.
    std::mutex m_refusalLock;
    Clock::MonoTime m_lastRefusalLine{};
    bool m_refusalLogged = false;

    friend struct TApiConnection;
};
