// Real peers of the notification tests, on loopback (or a test network's host address): a mail server (python3-aiosmtpd
// storing each message in a directory, refusing recipients whose mailbox starts with "refused"), a mail server that
// accepts connections and never answers, a webhook receiver, and a UDP listener that receives pop-up datagrams.
#pragma once

#include "peerprocess.h"
#include "testutil.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <netinet/in.h>
#include <poll.h>
#include <regex>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

/// A socket of `type` bound to `host` (an IPv4 address) on a port the system chooses; `port` receives it.
inline int BindLoopback(int type, int& port, const char* host = "127.0.0.1") {
    int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    ::inet_pton(AF_INET, host, &a.sin_addr);
    socklen_t len = sizeof(a);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        return -1;
    port = ntohs(a.sin_port);
    return fd;
}

inline bool CanConnect(int port, const char* host = "127.0.0.1") {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    ::inet_pton(AF_INET, host, &a.sin_addr);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0;
    ::close(fd);
    return ok;
}

class TestMailServer {
public:
    /// Listens on `host`, an address of this machine, at a port the system chooses; `ready` once it listens.
    explicit TestMailServer(const std::string& host = "127.0.0.1")
        : m_server({"env", "PYTHONPATH=" VKT_SOURCE_DIR "/tests/net:" VKT_SOURCE_DIR "/tests", PeerProcess::Python(),
                    VKT_SOURCE_DIR "/tests/notify_sink.py", host, m_dir.Path()}),
          port(m_server.Port()), ready(port != 0) {}
    TestMailServer(const TestMailServer&) = delete;
    TestMailServer& operator=(const TestMailServer&) = delete;

    /// Envelope sender, recipients and data of the n-th message (1-based); empty when none came.
    std::string Received(int n) const {
        char name[16];
        std::snprintf(name, sizeof name, "%04d.msg", n);
        return ReadFileText(m_dir.File(name));
    }
    /// Waits up to `limit` for the n-th message (a deadline: it returns as soon as the message is there).
    std::string WaitReceived(int n, std::chrono::milliseconds limit) const {
        const auto end = std::chrono::steady_clock::now() + limit;
        std::string text;
        while ((text = Received(n)).empty() && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return text;
    }
    /// While refusing, every recipient gets a temporary failure (451) and no message is stored.
    void SetRefusing(bool refusing) const {
        if (refusing)
            WriteFileText(m_dir.File("refuse"), "");
        else
            std::filesystem::remove(m_dir.File("refuse"));
    }
    /// While holding, each message is stored but its reply waits: the sender cannot know it was delivered.
    void SetHolding(bool holding) const {
        if (holding)
            WriteFileText(m_dir.File("hold"), "");
        else
            std::filesystem::remove(m_dir.File("hold"));
    }

private:
    TempDir m_dir; // before the server, which stores into it
    PeerProcess m_server;

public:
    int port = 0;
    bool ready = false;
};

/// A webhook receiver on a loopback port the system chooses, storing each POST as NNNN.json:
/// tests/webhook_sink.py answers (content type and body stored), tests/webhook_mute.py takes each
/// request whole and never answers (body stored). An answering receiver with an `upstream` base URL
/// passes each request on to it and answers with its status.
class TestWebhook {
public:
    enum class Reply { Answers, Never };
    explicit TestWebhook(Reply reply = Reply::Answers, const std::string& upstream = "")
        : m_server(Command(reply, upstream)), port(m_server.Port()), ready(port != 0) {}
    TestWebhook(const TestWebhook&) = delete;
    TestWebhook& operator=(const TestWebhook&) = delete;

    /// While failing, every POST gets 503 and nothing is stored (the answering receiver).
    void SetFailing(bool failing) const {
        if (failing)
            WriteFileText(m_dir.File("fail"), "");
        else
            std::filesystem::remove(m_dir.File("fail"));
    }
    /// While holding, each request is stored and its answer held until holding ends (the answering
    /// receiver): its sender cannot know yet that it was taken.
    void SetHolding(bool holding) const {
        if (holding)
            WriteFileText(m_dir.File("hold"), "");
        else
            std::filesystem::remove(m_dir.File("hold"));
    }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(port) + "/hook"; }
    /// The receiver's own address, without a path (for a receiver passing requests on).
    std::string Base() const { return "http://127.0.0.1:" + std::to_string(port); }
    /// What was received so far, in order.
    std::vector<std::string> Received() const {
        std::vector<std::string> all;
        for (int n = 1;; ++n) {
            char name[16];
            std::snprintf(name, sizeof name, "%04d.json", n);
            std::string text = ReadFileText(m_dir.File(name));
            if (text.empty()) return all;
            all.push_back(text);
        }
    }
    /// The request line ("PUT /path") and headers of the n-th request (1-based).
    std::string Head(int n) const {
        char name[16];
        std::snprintf(name, sizeof name, "%04d.head", n);
        return ReadFileText(m_dir.File(name));
    }
    /// Waits up to `limit` until `n` posts are there (a deadline: it returns as soon as they are); what came.
    std::vector<std::string> WaitReceived(std::size_t n, std::chrono::milliseconds limit) const {
        const auto end = std::chrono::steady_clock::now() + limit;
        std::vector<std::string> all;
        while ((all = Received()).size() < n && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return all;
    }

private:
    std::vector<std::string> Command(Reply reply, const std::string& upstream) const {
        if (reply == Reply::Never)
            return {PeerProcess::Python(), VKT_SOURCE_DIR "/tests/webhook_mute.py", m_dir.Path()};
        std::vector<std::string> command{PeerProcess::Python(), VKT_SOURCE_DIR "/tests/webhook_sink.py", "0",
                                         m_dir.Path()};
        if (!upstream.empty()) command.push_back(upstream);
        return command;
    }

    TempDir m_dir; // before the server, which stores into it
    PeerProcess m_server;

public:
    int port = 0;
    bool ready = false;
};

/// Accepts connections (the kernel's backlog does) and never says a word.
class SilentMailServer {
public:
    SilentMailServer() : m_fd(BindLoopback(SOCK_STREAM, port)) { ::listen(m_fd, 8); }
    ~SilentMailServer() { ::close(m_fd); }
    SilentMailServer(const SilentMailServer&) = delete;
    SilentMailServer& operator=(const SilentMailServer&) = delete;
    int port = 0;

private:
    int m_fd;
};

/// Greets, then answers the first command with continuation lines ("250-") every 20 ms that never
/// end, until the client goes away.
class EndlessMailServer {
public:
    EndlessMailServer() : m_fd(BindLoopback(SOCK_STREAM, port)) {
        ::listen(m_fd, 8);
        m_thread = std::thread([this] { Serve(); });
    }
    ~EndlessMailServer() {
        ::shutdown(m_fd, SHUT_RDWR);
        m_thread.join();
        ::close(m_fd);
    }
    EndlessMailServer(const EndlessMailServer&) = delete;
    EndlessMailServer& operator=(const EndlessMailServer&) = delete;
    int port = 0;

private:
    void Serve() {
        int client = ::accept(m_fd, nullptr, nullptr);
        if (client < 0) return;
        char buf[512];
        bool alive = ::send(client, "220 hi\r\n", 8, MSG_NOSIGNAL) == 8 && ::recv(client, buf, sizeof buf, 0) > 0;
        for (int i = 0; alive && i < 3000; ++i) {
            alive = ::send(client, "250-more\r\n", 10, MSG_NOSIGNAL) == 10;
            pollfd p{client, POLLIN, 0};
            if (::poll(&p, 1, 20) == 1) alive = false; // the client closed (or spoke): stop
        }
        ::close(client);
    }
    int m_fd;
    std::thread m_thread;
};

/// Receives datagrams on a loopback UDP port.
class UdpListener {
public:
    UdpListener() : m_fd(BindLoopback(SOCK_DGRAM, port)) {}
    ~UdpListener() { ::close(m_fd); }
    UdpListener(const UdpListener&) = delete;
    UdpListener& operator=(const UdpListener&) = delete;

    /// The next datagram, or empty when none arrives within `limit`.
    std::string Receive(std::chrono::milliseconds limit) const {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(limit.count())) != 1) return {};
        char buf[2048];
        ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
        return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
    }
    int port = 0;

private:
    int m_fd;
};

/// The Date and Message-ID lines (with their CR LF) that follow Mime-Version in a received mail, when both
/// are there in their form: a local date with its zone, and 32 hexadecimal digits at a host name. Otherwise
/// a line that says so, which no mail holds.
inline std::string DateAndMessageId(const std::string& mail) {
    static const std::regex lines("\r\nMime-Version: 1\\.0\r\n(Date: (Mon|Tue|Wed|Thu|Fri|Sat|Sun), \\d\\d "
                                  "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) \\d{4} \\d\\d:\\d\\d:\\d\\d "
                                  "[-+]\\d{4}\r\nMessage-ID: <[0-9a-f]{32}@[-.A-Za-z0-9]+>\r\n)");
    std::smatch found;
    return std::regex_search(mail, found, lines) ? found[1].str() : "(no Date and Message-ID lines in their form)\r\n";
}

/// A notification mail as TestMailServer stores it (sender vkt@example.org, one recipient), with the
/// Date and Message-ID lines `dateAndId` (as DateAndMessageId gives them).
inline std::string NotificationMail(const std::string& to, const std::string& code, const std::string& siteName,
                                    const std::string& address, const std::string& reportTime,
                                    const std::string& dateAndId) {
    const std::string stars = "  " + std::string(65, '*') + "\r\n";
    return "vkt@example.org\n" + to + "\nFrom:     Sentrova Vigilor System <vkt@example.org>\r\nTo:        <" + to +
           ">\r\nSubject: Sentrova - Lost contact notification\r\nMime-Version: 1.0\r\n" + dateAndId +
           "Content-Type: text/plain; charset=\"us-ascii\"\r\nContent-Transfer-Encoding: 7bit\r\n\r\n"
           "Sentrova reports the following IP address is currently unreachable.\r\n\r\n" +
           stars + "  Report Time : " + reportTime + " \r\n" + stars + "\r\n  Code       : " + code +
           " \r\n  SiteName   : " + siteName + " \r\n  IP address : " + address + " \r\n\r\n" + stars + "\r\n";
}
