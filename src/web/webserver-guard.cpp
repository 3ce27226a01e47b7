// TWebServer: the [Web] guards as the listener applies them. Listen binds the port to one
// address, Allow closes other peers' connections at accept, and the login travels to each thread.
#include "web/webserver.h"

#include "platform/strutil.h"

namespace {
// Refused peers get one log line per minute at most: a scan from outside must not flood the log.
constexpr long long RefusalLineIntervalMs = 60 * 1000;
} // namespace

void TWebServer::ApplyGuard() {
    m_guard = ReadWebGuard(ConfigFile);
    if (!m_guard.Listen.empty()) webSock.BindAddress = m_guard.Listen;
    std::vector<std::string> rejected;
    m_allow.Parse(m_guard.Allow, rejected);
    for (const std::string& entry : rejected)
        WriteLogLine("WEBSOCK", "[Web] Allow: \"" + entry + "\" is neither an address nor a CIDR block; left out.");
    if (m_guard.LoginRequired() && !UsableCryptHash(m_guard.PasswordHash))
        WriteLogLine("WEBSOCK", "[Web] Password is no crypt(3) hash: every request will be refused.");
    if (m_allow.Active())
        webSock.OnConnectionRequested = [this](TmsListenerSocket*, const std::string& peer, bool& allow) {
            ScreenPeer(peer, allow);
        };
}

void TWebServer::ScreenPeer(const std::string& peer, bool& allow) {
    allow = m_allow.Allows(peer);
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
    if (Log) Log(category, message);
}
