// THTTPThread beyond the four pages: the Basic login that guards every request when [Web] sets
// one, and the status paths /status, /status.json and /metrics, answered only where none of the
// four pages answers.
#include "web/httpthr.h"
#include "web/statuspages.h"

#include "platform/codepage.h"
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
    SendHead(contentType, body.size());
    Socket->SendBuffer(body.data(), body.size());
}

void THTTPThread::SendHead(const char* contentType, std::size_t length) {
    const std::string head = std::string("HTTP/1.0 200 OK\r\n") + ServerLine + "Content-Type: " + contentType +
                             "\r\nCache-Control: no-store\r\n" + Format("Content-Length: %zu\r\n\r\n", length);
    m_answered = true;
    Socket->SendBuffer(head.data(), head.size());
}

void THTTPThread::RespondWithStatus() {
    std::string path, query;
    if (Board == nullptr || m_requestLines.empty() || !RequestTarget(m_requestLines[0], path, query)) return;
    if (path != "/status" && path != "/status.json" && path != "/metrics") return;
    TStatusView view;
    view.Load(*Board);
    view.DaemonId = AsUtf8(DaemonId);
    view.DatabaseUp = DatabaseUp;
    view.PollDelay = Settings.PollDelay;
    const std::string filter = QueryField(query, "q");
    const bool history = QueryField(query, "history") == "1";
    if (path == "/status")
        SendStatusBody("text/html; charset=utf-8", view, filter.empty(),
                       [&](TBodyOut& out) { WriteStatusPage(view, filter, out); });
    else if (path == "/status.json")
        SendStatusBody("application/json", view, filter.empty() && !history,
                       [&](TBodyOut& out) { WriteStatusJson(view, filter, history, out); });
    else
        SendStatusBody("text/plain; version=0.0.4; charset=utf-8", view, true,
                       [&](TBodyOut& out) { WriteStatusMetrics(view, out); });
}

// Every client of the whole board asks for the same bytes: they are made once per snapshot and
// shared. Any other body is made twice, once to measure it and once to send it block by block, so a
// response never holds more than a block of its own however slowly its client reads.
void THTTPThread::SendStatusBody(const char* contentType, const TStatusView& view, bool shared,
                                 const std::function<void(TBodyOut&)>& write) {
    if (shared) {
        const std::string key = Format("%s\n%s\n%d\n%d\n%lld", contentType, view.DaemonId.c_str(), int(view.DatabaseUp),
                                       view.PollDelay, (long long)view.Summary.Bucket);
        SendGenerated(contentType, *view.Snapshot->Rendered(key, [&] {
            std::string body;
            TBodyOut out([&body](const std::string& block) { body += block; });
            write(out);
            out.Flush();
            return body;
        }));
        return;
    }
    std::size_t length = 0;
    TBodyOut measure([&length](const std::string& block) { length += block.size(); });
    write(measure);
    measure.Flush();
    SendHead(contentType, length);
    TBodyOut send([this](const std::string& block) { Socket->SendBuffer(block.data(), block.size()); });
    write(send);
    send.Flush();
}
