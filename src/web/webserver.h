// The web administration's listener `webSock` and its two thread events: each connection's
// THTTPThread is prepared with the settings and the Daemon ID when it arrives, and connections
// that hold a thread without finishing their request are dropped.
#pragma once

#include "net/mssocket-listener.h"
#include "web/httpthr.h"

#include <functional>
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

    /// Listens on `port` with THTTPThread as the server-thread class; throws when it cannot.
    void Start(int port);

    void webSockServerThreadStart(TmsListenerSocket* Sender, TmsServerThread* ServerThread);
    void webSockServerThreadTerminate(TmsListenerSocket* Sender, TmsServerThread* ServerThread);

private:
    void DropOverdueRequests();
    void MakeRoomForNewConnection();

    MessageLoop::TimerId m_sweep = 0;
};
