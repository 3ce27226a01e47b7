// THTTPThread's POST /status/ack: an outage acknowledged from the status page. Guarded like a settings
// save (the login, the Host rule, and no request from another site's page); the acknowledgement is
// handed to the daemon, which stores it, and the browser is sent back to the board.
#include "web/ackrules.h"
#include "web/httpthr.h"
#include "web/responsehead.h"
#include "web/statusboard.h"

#include "platform/strutil.h"

#include <arpa/inet.h>
#include <sys/socket.h>

// Outages are acknowledged only while the daemon follows them up; otherwise the path stays silent.
bool THTTPThread::WantsAckBody(const THTTPRequest& request) const {
    return Acknowledge && Board != nullptr && request.PlainPost && request.TargetPath == "/status/ack" &&
           request.ContentLength >= 0 && request.ContentLength <= MaxAckBody && Board->Current()->Summary.Acknowledging;
}

void THTTPThread::RespondToAck(const THTTPRequest& request) {
    if (!WantsAckBody(request)) return;
    const std::shared_ptr<const TBoardSnapshot> board = Board->Current();
    if (!m_sameSite) return; // a form on another site's page: nothing is stored and nothing sent
    const std::string code = Trim(request.BodyField("code"));
    const std::string comment = Trim(request.BodyField("comment"));
    if (!AckTextUsable(code, comment)) {
        SendAckAnswer("400 Bad Request", "The code or the comment cannot be used.\n", false);
        return;
    }
    const std::string known = OpenOutageCode(*board, code);
    if (known.empty()) {
        SendAckAnswer("409 Conflict", "No open outage of " + code + " to acknowledge.\n", false);
        return;
    }
    const std::string user = Guard ? Guard->LoggedInUser() : std::string();
    Acknowledge(known, user.empty() ? PeerAddress() : user, comment);
    SendAckAnswer("303 See Other", "Acknowledged " + known + ".\n", true);
}

void THTTPThread::SendAckAnswer(const char* status, const std::string& text, bool toBoard) {
    const std::string bytes = std::string("HTTP/1.0 ") + status + "\r\n" + ServerLine + "\r\n" +
                              (toBoard ? "Location: /status\r\n" : "") +
                              "Content-Type: text/plain; charset=utf-8\r\nCache-Control: no-store\r\n" +
                              Format("Content-Length: %zu\r\n\r\n", text.size()) + text;
    m_answered = true;
    Socket->SendBuffer(bytes.data(), bytes.size());
}

// Without a login, the acknowledgement names the address it came from.
std::string THTTPThread::PeerAddress() const {
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    if (::getpeername(Socket->Handle(), reinterpret_cast<sockaddr*>(&peer), &length) != 0) return "unknown";
    char text[INET6_ADDRSTRLEN] = {};
    const void* address = peer.ss_family == AF_INET6
                              ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(&peer)->sin6_addr)
                              : static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(&peer)->sin_addr);
    return ::inet_ntop(peer.ss_family, address, text, sizeof text) ? text : "unknown";
}
