// The message loop that drives everything of the daemon's own on one thread (the UI thread):
// posted jobs, run-and-wait hand-over from workers, timers, socket readiness watches,
// processing what is pending, and waiting for a condition while messages keep flowing.
#pragma once

#include "platform/scopedinstall.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class MessageLoop {
public:
    using Job = std::function<void()>;
    using TimerId = std::uint64_t;
    using WatchId = std::uint64_t;
    /// Called with the poll(2) revents of the watched descriptor.
    using SocketHandler = std::function<void(short revents)>;

    virtual ~MessageLoop() = default;

    /// Queues a job to run on the loop thread. Safe from any thread.
    virtual void Post(Job job) = 0;
    /// Runs a job on the loop thread and waits until it has run. From the loop thread it runs at once.
    /// An exception thrown by the job is rethrown in the caller.
    virtual void RunAndWait(Job job) = 0;

    // Timers and watches are set, changed and removed on the loop thread only.

    /// One-shot or periodic timer on the loop thread; intervals use the monotonic clock.
    virtual TimerId SetTimer(std::chrono::milliseconds interval, bool periodic, Job job) = 0;
    virtual void KillTimer(TimerId id) = 0;

    /// Calls `handler` on the loop thread whenever `fd` is ready for `events` (POLLIN, POLLOUT...).
    virtual WatchId WatchSocket(int fd, short events, SocketHandler handler) = 0;
    virtual void ChangeWatch(WatchId id, short events) = 0;
    virtual void Unwatch(WatchId id) = 0;

    /// Runs what is ready now (posted jobs, due timers, ready sockets) without blocking.
    virtual void ProcessMessages() = 0;
    /// Processes messages until `condition` holds or `timeout` passes; blocks in between
    /// and is woken by Post or Wake from other threads. Returns whether the condition holds.
    virtual bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) = 0;
    /// Wakes a waiting loop so that it re-checks its condition. Safe from any thread.
    virtual void Wake() = 0;

    /// Runs until Quit.
    virtual void Run() = 0;
    /// Ends Run once the messages posted before it have run. Safe from any thread, also before Run
    /// has started (the Quit is not lost).
    virtual void Quit() = 0;
    /// Whether the calling thread is the loop's thread.
    virtual bool IsLoopThread() const = 0;

protected:
    /// RunAndWait on top of Post: runs at once on the loop thread; from any other thread posts the
    /// job, waits until it has run and rethrows what it threw.
    void RunHere(Job job);
};

/// A socket watch that is removed when the guard goes, also when an exception unwinds past it.
class ScopedSocketWatch {
public:
    ScopedSocketWatch(MessageLoop& loop, int fd, short events, MessageLoop::SocketHandler handler)
        : m_loop(loop), m_id(loop.WatchSocket(fd, events, std::move(handler))) {}
    ~ScopedSocketWatch() { m_loop.Unwatch(m_id); }
    ScopedSocketWatch(const ScopedSocketWatch&) = delete;
    ScopedSocketWatch& operator=(const ScopedSocketWatch&) = delete;

private:
    MessageLoop& m_loop;
    MessageLoop::WatchId m_id;
};

/// The poll(2) implementation used by the headless daemon and the tests.
std::unique_ptr<MessageLoop> CreatePollMessageLoop();

/// The application's loop. Set once at start-up (tests install their own).
MessageLoop& MainLoop();
/// Installs the application's loop and returns the one it replaced. Prefer ScopedMainLoop.
MessageLoop* SetMainLoop(MessageLoop* loop);
bool HasMainLoop();
/// Installs the application's loop for the guard's lifetime.
using ScopedMainLoop = ScopedInstall<MessageLoop, &SetMainLoop>;

/// Where a loop reports an exception that escaped a posted job, a timer job or a socket handler;
/// every loop implementation catches per job and calls ReportLoopException. The daemon connects
/// the reporter to the activity log; without one the message goes to stderr.
using LoopErrorReporter = std::function<void(const std::string& message)>;
/// Sets the reporter and returns the one it replaced.
LoopErrorReporter SetLoopErrorReporter(LoopErrorReporter reporter);
/// Reports the exception being handled; call it from a catch block. Never throws.
void ReportLoopException() noexcept;

/// Connects a reporter for the guard's lifetime and puts the previous one back.
class ScopedLoopErrorReporter {
public:
    explicit ScopedLoopErrorReporter(LoopErrorReporter reporter)
        : m_previous(SetLoopErrorReporter(std::move(reporter))) {}
    ~ScopedLoopErrorReporter() { SetLoopErrorReporter(std::move(m_previous)); }
    ScopedLoopErrorReporter(const ScopedLoopErrorReporter&) = delete;
    ScopedLoopErrorReporter& operator=(const ScopedLoopErrorReporter&) = delete;

private:
    LoopErrorReporter m_previous;
};
