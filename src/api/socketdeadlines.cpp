// TSocketDeadlines: one thread sleeps until the earliest deadline and shuts down the sockets past
// theirs. shutdown() acts on the socket, not on the number, so the copy made at Watch reaches the
// connection's own descriptor, and the copy is closed only at Unwatch.
#include "api/socketdeadlines.h"

#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A new connection whose bytes still wait in the socket at its first deadline sent them in time: it
// is the server that has not read them yet (its thread not yet started on a busy machine). That
// deadline is put off a little at a time, at most MaxGraces times, so that the peer is judged on what
// it sent, not on the server's own lag. Later deadlines are the server's own moves and stand.
constexpr auto Grace = std::chrono::milliseconds(250);
constexpr int MaxGraces = 8;

bool HasUnreadBytes(int fd) {
    int waiting = 0;
    return fd >= 0 && ::ioctl(fd, FIONREAD, &waiting) == 0 && waiting > 0;
}

} // namespace

struct TSocketDeadlines::TWatch {
    int Fd = -1;
    Time Deadline = Never;
    int Graces = 0;
    bool Moved = false;
};

TSocketDeadlines::TSocketDeadlines(void (*beforeSweeping)())
    : m_sweeper([this, beforeSweeping] { Sweep(beforeSweeping); }) {}

TSocketDeadlines::~TSocketDeadlines() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_stopping = true;
    }
    m_wake.notify_one();
    m_sweeper.join();
    for (TWatch* watch : m_watches) {
        if (watch->Fd >= 0) ::close(watch->Fd);
        delete watch;
    }
}

TSocketDeadlines::TWatch* TSocketDeadlines::Watch(int fd, Time deadline) {
    auto* watch = new TWatch{fd >= 0 ? ::dup(fd) : -1, deadline};
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_watches.insert(watch);
    }
    m_wake.notify_one();
    return watch;
}

void TSocketDeadlines::Move(TWatch* watch, Time deadline) {
    if (watch == nullptr) return;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        watch->Deadline = deadline;
        watch->Moved = true;
    }
    m_wake.notify_one();
}

void TSocketDeadlines::Unwatch(TWatch* watch) {
    if (watch == nullptr) return;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_watches.erase(watch);
    }
    if (watch->Fd >= 0) ::close(watch->Fd);
    delete watch;
}

void TSocketDeadlines::Sweep(void (*beforeSweeping)()) {
    if (beforeSweeping != nullptr) beforeSweeping();
    std::unique_lock<std::mutex> lock(m_lock);
    while (!m_stopping) {
        const Time now = std::chrono::steady_clock::now();
        Time next = Never;
        for (TWatch* watch : m_watches) {
            if (watch->Deadline <= now) {
                if (!watch->Moved && watch->Graces < MaxGraces && HasUnreadBytes(watch->Fd)) {
                    ++watch->Graces;
                    watch->Deadline = now + Grace;
                } else {
                    // Once is enough: the connection's thread sees the end and closes it.
                    if (watch->Fd >= 0) ::shutdown(watch->Fd, SHUT_RDWR);
                    watch->Deadline = Never;
                }
            }
            next = std::min(next, watch->Deadline);
        }
        if (next == Never)
            m_wake.wait(lock);
        else
            m_wake.wait_until(lock, next);
    }
}
