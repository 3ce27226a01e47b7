// Plain loopback peers and the message loop fixture of the socket tests.
#include "loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

namespace {

sockaddr_in LoopbackAddress(int port, const char* address = "127.0.0.1") {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(std::uint16_t(port));
    inet_pton(AF_INET, address, &a.sin_addr);
    return a;
}

bool Readable(int fd, std::chrono::milliseconds wait) {
    pollfd entry{fd, POLLIN, 0};
    return ::poll(&entry, 1, int(wait.count())) > 0;
}

} // namespace

LoopbackListener::LoopbackListener() {
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = LoopbackAddress(0);
    socklen_t length = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 16) != 0)
        ADD_FAILURE() << "cannot listen on loopback";
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    port = ntohs(a.sin_port);
}

LoopbackListener::~LoopbackListener() {
    CloseFd(fd);
}

int LoopbackListener::AcceptOne() const {
    if (!Readable(fd, std::chrono::seconds(30))) return -1;
    return ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
}

int ConnectLoopback(int port, const char* from) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (from != nullptr) {
        sockaddr_in local = LoopbackAddress(0, from);
        ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
    }
    sockaddr_in a = LoopbackAddress(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) CloseFd(fd);
    return fd;
}

void SendAll(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        long n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return;
        sent += std::size_t(n);
    }
}

std::string ReceiveAll(int fd, std::chrono::milliseconds wait) {
    std::string bytes;
    char buffer[65536];
    while (Readable(fd, wait)) {
        long n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        bytes.append(buffer, std::size_t(n));
    }
    return bytes;
}

std::string ReceiveLine(int fd) {
    std::string line;
    char c = 0;
    while (Readable(fd, std::chrono::seconds(30)) && ::recv(fd, &c, 1, 0) == 1) {
        line += c;
        if (c == '\n') break;
    }
    return line;
}

bool PeerClosed(int fd, std::chrono::milliseconds wait) {
    char c = 0;
    return Readable(fd, wait) && ::recv(fd, &c, 1, MSG_DONTWAIT) == 0;
}

int UnusedPort() {
    LoopbackListener probe;
    return probe.port;
}

void CloseFd(int& fd) {
    if (fd != -1) ::close(fd);
    fd = -1;
}

double ThreadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1000.0 + double(t.tv_nsec) / 1e6;
}

void LoopTest::SetUp() {
    m_loop = CreatePollMessageLoop();
    m_installLoop = std::make_unique<ScopedMainLoop>(m_loop.get());
}

void LoopTest::TearDown() {
    m_installLoop.reset();
    m_loop.reset();
}

bool LoopTest::Pump(const std::function<bool()>& condition, std::chrono::milliseconds wait) {
    return m_loop->WaitUntil(condition, wait);
}
