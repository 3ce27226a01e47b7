// TSocketDeadlines: one thread sleeps until the earliest deadline and shuts down the sockets past
// theirs. shutdown() acts on the socket, not on the number, so the copy made at Watch reaches the
// connection's own descriptor, and the copy is closed only at Unwatch.
#include "api/socketdeadlines.h"

#include <sys/socket.h>
#include <unistd.h>

struct TSocketDeadlines::TWatch {
    int Fd = -1;
    Time Deadline = Never;
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
                // Once is enough: the connection's thread sees the end and closes it.
                if (watch->Fd >= 0) ::shutdown(watch->Fd, SHUT_RDWR);
                watch->Deadline = Never;
            }
            next = std::min(next, watch->Deadline);
        }
        if (next == Never)
            m_wake.wait(lock);
        else
            m_wake.wait_until(lock, next);
    }
}
