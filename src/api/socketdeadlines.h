// Deadlines for the API listener's connections. A connection has one moment by which it must have
// got on (the head of its request in, its body in, its answer taken); one that is past it is shut
// down from outside, which wakes the thread that serves it and ends the connection. An idle time-out
// alone lets a peer that sends a byte now and then hold a connection for ever.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

class TSocketDeadlines {
public:
    using Time = std::chrono::steady_clock::time_point;
    static constexpr Time Never = Time::max();
    /// One connection watched; only its owner's calls touch it.
    struct TWatch;

    /// `beforeSweeping` runs first on the sweeping thread (to set its priority).
    explicit TSocketDeadlines(void (*beforeSweeping)() = nullptr);
    ~TSocketDeadlines();
    TSocketDeadlines(const TSocketDeadlines&) = delete;
    TSocketDeadlines& operator=(const TSocketDeadlines&) = delete;

    /// Watches the socket `fd` (a copy of it, so that the number cannot pass to another socket
    /// while it is watched) from now on; shut down at `deadline` unless moved before.
    TWatch* Watch(int fd, Time deadline);
    void Move(TWatch* watch, Time deadline);
    /// Ends the watch; `watch` is gone afterwards. Call it before the socket itself is closed.
    void Unwatch(TWatch* watch);

private:
    void Sweep(void (*beforeSweeping)());

    std::mutex m_lock;
    std::condition_variable m_wake;
    std::set<TWatch*> m_watches;
    bool m_stopping = false;
    std::thread m_sweeper;
};
