// The web administration's listener `webSock` and its two thread events: each connection's
// THTTPThread is prepared with the settings and the Daemon ID when it arrives, and connections
// that hold a thread without finishing their request are dropped.
#pragma once

#include "net/mssocket-listener.h"
#include "web/httpthr.h"
#include "web/webguard.h"

#include <functional>
#include <memory>
#include <string>

class TWebServer {
public:
    TWebServer();
    ~TWebServer();
    TWebServer(const TWebServer&) = delete;
    TWebServer& operator=(const TWebServer&) = delete;

    TmsListenerSocket webSock;
    /// How each connection reads the day's log file; by default the file is read as it is.
    TLogFileReader ReadLogFile;
    /// The settings the pages show; by default those of the application's data module.
    std::function<TWebSettings()> ReadSettings;
    /// The vkt.ini read for the Daemon ID and written by a save; by default the program's.
    std::string ConfigFile;
    /// The status board behind /status, /status.json and /metrics; none keeps them silent.
    const TStatusBoard* Board = nullptr;
    /// The maintenance windows the status paths show and change; none keeps them out.
    MaintenanceBook* Maintenance = nullptr;
    /// Whether the database is connected (asked on the loop thread at every connection).
    std::function<bool()> DatabaseUp;
    /// Takes an outage's acknowledgement from POST /status/ack (code, by, comment), on the connection's
    /// thread; none keeps that path silent.
    std::function<void(const std::string& code, const std::string& by, const std::string& comment)> Acknowledge;

    /// Listens on `port` with THTTPThread as the server-thread class; throws when it cannot.
    void Start(int port);

    void webSockServerThreadStart(TmsListenerSocket* Sender, TmsServerThread* ServerThread);
    void webSockServerThreadTerminate(TmsListenerSocket* Sender, TmsServerThread* ServerThread);

private:
    std::string ReadDaemonId();
    // The [Web] guards (webserver-guard.cpp).
    void ApplyGuard();
    void ScreenPeer(const std::string& peer, bool& allow);
    void WriteLogLine(const std::string& category, const std::string& message);
    void DropOverdueRequests();
    void MakeRoomForNewConnection();

    MessageLoop::TimerId m_sweep = 0;
    /// Made anew at each start; the threads of earlier connections keep the one they were given.
    std::shared_ptr<const TWebGuard> m_guard;
    // The Daemon ID is read from the file at every connection; the parse is skipped while the
    // file is the same one (same inode, size and modification time) as at the last read.
    struct FileStamp {
        unsigned long long device = 0, inode = 0, size = 0;
        long long seconds = 0, nanoseconds = 0;
        bool operator==(const FileStamp&) const = default;
    };
    FileStamp m_idStamp;
    bool m_idKnown = false;
    std::string m_daemonId;
    // Refused peers are logged once a minute at most; the next line counts those left out.
    Clock::MonoTime m_lastRefusalLine{};
    bool m_refusalLogged = false;
    int m_refusalsUnlogged = 0;
};
