// THTTPThread beyond the four pages: the Basic login that guards every request when [Web] sets
// one, and the status paths /status, /status.json and /metrics, answered only where none of the
// four pages answers.
#include "web/httpthr.h"
#include "web/statuspages.h"

#include "platform/strutil.h"

namespace {

const char* const ServerLine = "Server: Korvel Web Server/1.0 \r\n";

// The value of the first header line named `name` (any case); empty when there is none.
std::string HeaderField(const std::vector<std::string>& lines, const char* name) {
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::size_t colon = lines[i].find(':');
        if (colon != std::string::npos && SameText(lines[i].substr(0, colon), name))
            return Trim(lines[i].substr(colon + 1));
    }
    return {};
}

// Splits "GET /path?query HTTP/1.x" into path and query; false for any other request line.
bool RequestTarget(const std::string& line, std::string& path, std::string& query) {
    if (line.rfind("GET /", 0) != 0) return false;
    const std::size_t end = line.find(' ', 4);
    if (end == std::string::npos || line.compare(end + 1, 7, "HTTP/1.") != 0) return false;
    const std::string target = line.substr(4, end - 4);
    const std::size_t mark = target.find('?');
    path = target.substr(0, mark);
    query = mark == std::string::npos ? std::string() : target.substr(mark + 1);
    return true;
}

} // namespace

bool THTTPThread::LoginAccepted() const {
    if (!Guard.LoginRequired()) return true;
    return BasicLoginMatches(HeaderField(m_requestLines, "Authorization"), Guard.User, Guard.PasswordHash);
}

void THTTPThread::SendUnauthorized() {
    const std::string body = "401 Unauthorized\n";
    const std::string bytes = std::string("HTTP/1.0 401 Unauthorized\r\n") + ServerLine +
                              "WWW-Authenticate: Basic realm=\"vkt\"\r\n"
                              "Content-Type: text/plain; charset=utf-8\r\n" +
                              Format("Content-Length: %zu\r\n\r\n", body.size()) + body;
    m_answered = true;
    Socket->SendBuffer(bytes.data(), bytes.size());
}

void THTTPThread::SendGenerated(const char* contentType, const std::string& body) {
    const std::string head = std::string("HTTP/1.0 200 OK\r\n") + ServerLine + "Content-Type: " + contentType +
                             "\r\nCache-Control: no-store\r\n" + Format("Content-Length: %zu\r\n\r\n", body.size());
    m_answered = true;
    Socket->SendBuffer(head.data(), head.size());
    Socket->SendBuffer(body.data(), body.size());
}

void THTTPThread::RespondWithStatus() {
    std::string path, query;
    if (Board == nullptr || m_requestLines.empty() || !RequestTarget(m_requestLines[0], path, query)) return;
    if (path != "/status" && path != "/status.json" && path != "/metrics") return;
    TStatusView view;
    view.Load(*Board);
    view.DaemonId = DaemonId;
    view.DatabaseUp = DatabaseUp;
    view.PollDelay = Settings.PollDelay;
    if (path == "/status")
        SendGenerated("text/html; charset=utf-8", StatusPageHtml(view, QueryField(query, "q")));
    else if (path == "/status.json")
        SendGenerated("application/json",
                      StatusJson(view, QueryField(query, "q"), QueryField(query, "history") == "1"));
    else
        SendGenerated("text/plain; version=0.0.4; charset=utf-8", StatusMetrics(view));
}
