// TWebServer: the [Web] guards as the listener applies them. Listen binds the port to one
// address, Allow closes other peers' connections at accept, and the guard travels to each thread
// for the Host rule and the login.
#include "web/webserver.h"

#include "platform/activitylog.h"
#include "platform/strutil.h"

namespace {
// Refused peers get one log line per minute at most: a scan from outside must not flood the log.
constexpr long long RefusalLineIntervalMs = 60 * 1000;
} // namespace

void TWebServer::ApplyGuard() {
    auto guard = std::make_shared<TWebGuard>();
    for (const std::string& line : guard->Load(ConfigFile))
        WriteLogLine("WEBSOCK", line);
    if (!guard->Listen().empty()) webSock.BindAddress = guard->Listen();
    m_guard = guard;
    if (m_guard->ScreensPeers())
        webSock.OnConnectionRequested = [this](TmsListenerSocket*, const std::string& peer, bool& allow) {
            ScreenPeer(peer, allow);
        };
}

void TWebServer::ScreenPeer(const std::string& peer, bool& allow) {
    allow = m_guard->AllowsPeer(peer);
    if (allow) return;
    if (m_refusalLogged && MillisecondsSince(m_lastRefusalLine) < RefusalLineIntervalMs) {
        ++m_refusalsUnlogged;
        return;
    }
    std::string line = "Refused a connection from " + peer + ": not in [Web] Allow.";
    if (m_refusalsUnlogged > 0) line += " " + IntToStr(m_refusalsUnlogged) + " more refused since the last such line.";
    WriteLogLine("WEBSOCK", line);
    m_refusalLogged = true;
    m_refusalsUnlogged = 0;
    m_lastRefusalLine = GetClock().Monotonic();
}

void TWebServer::WriteLogLine(const std::string& category, const std::string& message) {
    WriteLog(category, message);
}
