// Client socket: host and port, connecting with a time-out, numbered replies.
#include "net/mssocket.h"

#include "platform/strutil.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <unistd.h>

void TmsClientSocket::SetHost(const std::string& text) {
    auto colon = text.find(':');
    if (colon == std::string::npos) {
        m_host = text;
        if (DefaultPort > 0) Port = DefaultPort;
        return;
    }
    m_host = text.substr(0, colon);
    int port = 0;
    bool valid = TryStrToInt(text.substr(colon + 1), port) && port >= 0 && port <= 0xFFFF;
    Port = valid ? port : DefaultPort;
}

int TmsClientSocket::GetReplyCode(const std::string&) {
    return 1;
}

void TmsClientSocket::Connect() {
    ResetState();
    if (OnConnecting) OnConnecting(this);
    OpenHandle();
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(std::uint16_t(Port));
    address.sin_addr.s_addr = Winsock->AddressToLong(Winsock->ResolveHost(m_host));
    ApplyBlocking(Blocking());
    SelectEvents();
    {
        Operation op(*this);
        int r = ::connect(op.Handle(), reinterpret_cast<sockaddr*>(&address), sizeof address);
        LastResult = r;
        bool pending = r == -1 && !Blocking() && (errno == EINPROGRESS || errno == EAGAIN || errno == EINTR);
        if (r == -1 && !pending) Winsock->RaiseLastError();
        if (pending && SocketType == SOCK_STREAM && Protocol == 0) WaitConnected(op.Handle());
        m_connected = true;
        if (OnConnected) OnConnected(this);
    }
}

// A connection left open by an earlier failed conversation is closed before the new one.
void TmsClientSocket::OpenHandle() {
    Close();
    int fd = ::socket(AF_INET, SocketType | SOCK_CLOEXEC, Protocol);
    if (fd == -1) Winsock->RaiseLastError();
    try {
        SetHandle(fd);
    } catch (...) {
        ::close(fd);
        throw;
    }
    // A client writes a command in pieces and then waits for the answer: without this the last
    // piece waits for the peer's delayed acknowledgement (tens of milliseconds per command).
    int on = 1;
    if (SocketType == SOCK_STREAM) ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

void TmsClientSocket::WaitConnected(int fd) {
    StartCounter();
    for (pollfd entry{fd, POLLOUT, 0}; ::poll(&entry, 1, 0) == 0;)
        WaitReady(fd, POLLOUT);
    StopCounter();
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == -1) Winsock->RaiseLastError();
    CheckInterrupted();
    if (error != 0) {
        LastNotificationError = std::uint16_t(WsaErrorFromErrno(error));
        Winsock->SetLastError(LastNotificationError);
        Winsock->RaiseWinsockError(LastNotificationError);
    }
}

int TmsClientSocket::ReadReply() {
    LastReply = ReadLine();
    return GetReplyCode(LastReply);
}

EmsReplyTooLongError::EmsReplyTooLongError()
    : Exception("Reply too long: more than " + std::to_string(TmsClientSocket::MaxReplyLines) + " lines") {}

int TmsClientSocket::ReadResponse() {
    struct DeadlineScope {
        TmsClientSocket& socket;
        ~DeadlineScope() { socket.ClearDeadline(); }
    } scope{*this};
    if (ReplyTimeLimit > 0)
        SetDeadline(std::chrono::steady_clock::now() + std::chrono::seconds(ReplyTimeLimit),
                    "Reply not complete within " + std::to_string(ReplyTimeLimit) + " seconds");
    int code = ReadReply();
    if (code <= 0 || LastReply.find('-') != 3) return code;
    // A peer that closes in the middle of a continued reply ends it, whatever the mode.
    for (int lines = 1;; ++lines) {
        if (lines >= MaxReplyLines) throw EmsReplyTooLongError();
        int next = ReadReply();
        if (Disconnected() || (next == code && LastReply.find(' ') == 3)) return code;
    }
}
