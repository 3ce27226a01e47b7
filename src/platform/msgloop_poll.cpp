// The poll(2) message loop. Jobs, timers and watches may re-enter the loop (a job that waits
// with WaitUntil keeps the rest flowing); a timer or watch never runs inside its own handler.
// Every job, timer job and socket handler runs inside its own catch: an exception is reported
// through ReportLoopException and the loop goes on, so one failing handler never stops a timer,
// drops the rest of a batch or ends Run.
#include "platform/msgloop.h"

#include "platform/errors.h"

#include <atomic>
#include <cassert>
#include <cerrno>
#include <cstring>
#include <condition_variable>
#include <deque>
#include <exception>
#include <map>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using SteadyClock = std::chrono::steady_clock;

struct TimerEntry {
    SteadyClock::time_point due;
    std::chrono::milliseconds interval;
    bool periodic = false;
    bool running = false;
    bool alive = true;
    MessageLoop::Job job;
};

struct WatchEntry {
    int fd = -1;
    short events = 0;
    bool running = false;
    bool alive = true;
    MessageLoop::SocketHandler handler;
};

class PollMessageLoop final : public MessageLoop {
public:
    PollMessageLoop() : m_owner(std::this_thread::get_id()), m_wakeFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
        // Without its wake-up descriptor the loop would never notice a job posted by a worker.
        if (m_wakeFd < 0)
            throw Exception(std::string("Cannot create the message loop's wake-up descriptor (eventfd): ") +
                            std::strerror(errno));
    }
    ~PollMessageLoop() override { ::close(m_wakeFd); }

    void Post(Job job) override {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_posted.push_back(std::move(job));
        }
        Wake();
    }

    void RunAndWait(Job job) override { RunHere(std::move(job)); }

    TimerId SetTimer(std::chrono::milliseconds interval, bool periodic, Job job) override {
        assert(IsLoopThread());
        auto t = std::make_shared<TimerEntry>();
        t->interval = interval;
        t->due = SteadyClock::now() + interval;
        t->periodic = periodic;
        t->job = std::move(job);
        TimerId id = ++m_nextId;
        m_timers[id] = t;
        return id;
    }

    void KillTimer(TimerId id) override {
        assert(IsLoopThread());
        auto it = m_timers.find(id);
        if (it == m_timers.end()) return;
        it->second->alive = false;
        m_timers.erase(it);
    }

    WatchId WatchSocket(int fd, short events, SocketHandler handler) override {
        assert(IsLoopThread());
        auto w = std::make_shared<WatchEntry>();
        w->fd = fd;
        w->events = events;
        w->handler = std::move(handler);
        WatchId id = ++m_nextId;
        m_watches[id] = w;
        return id;
    }

    void ChangeWatch(WatchId id, short events) override {
        assert(IsLoopThread());
        auto it = m_watches.find(id);
        if (it != m_watches.end()) it->second->events = events;
    }

    void Unwatch(WatchId id) override {
        assert(IsLoopThread());
        auto it = m_watches.find(id);
        if (it == m_watches.end()) return;
        it->second->alive = false;
        m_watches.erase(it);
    }

    void ProcessMessages() override {
        assert(IsLoopThread());
        RunOnce(0);
    }

    bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) override {
        assert(IsLoopThread());
        const auto deadline = SteadyClock::now() + timeout;
        for (;;) {
            if (condition()) return true;
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
            if (left.count() <= 0) return condition();
            RunOnce(static_cast<int>(std::min<long long>(left.count() + 1, 60000)));
        }
    }

    void Wake() override {
        std::uint64_t one = 1;
        ssize_t n = ::write(m_wakeFd, &one, sizeof(one));
        (void)n;
    }

    void Run() override {
        m_owner = std::this_thread::get_id();
        m_quit = false;
        while (!m_quit)
            RunOnce(-1);
    }

    // Quit is a job like any other: the jobs posted before it still run, and a Quit that comes
    // from another thread before Run has started is not lost when Run begins.
    void Quit() override {
        Post([this] { m_quit = true; });
    }

    bool IsLoopThread() const override { return std::this_thread::get_id() == m_owner.load(); }

private:
    // Milliseconds until the next timer is due (capped by `limit`; -1 = no limit).
    int NextTimeout(int limit) const {
        int best = limit;
        const auto now = SteadyClock::now();
        for (const auto& [id, t] : m_timers) {
            if (t->running) continue;
            auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t->due - now).count();
            int wait = ms <= 0 ? 0 : static_cast<int>(std::min<long long>(ms + 1, 60000));
            if (best < 0 || wait < best) best = wait;
        }
        return best;
    }

    bool HasPosted() {
        std::lock_guard<std::mutex> guard(m_lock);
        return !m_posted.empty();
    }

    void RunOnce(int timeoutMs) {
        std::vector<pollfd> fds{{m_wakeFd, POLLIN, 0}};
        std::vector<std::shared_ptr<WatchEntry>> polled;
        for (const auto& [id, w] : m_watches) {
            if (w->running || w->events == 0) continue;
            fds.push_back({w->fd, w->events, 0});
            polled.push_back(w);
        }
        int wait = HasPosted() ? 0 : NextTimeout(timeoutMs);
        int n = ::poll(fds.data(), fds.size(), wait);
        if (n > 0 && (fds[0].revents & POLLIN)) {
            std::uint64_t count = 0;
            ssize_t r = ::read(m_wakeFd, &count, sizeof(count));
            (void)r;
        }
        RunPosted();
        RunDueTimers();
        for (std::size_t i = 1; n > 0 && i < fds.size(); ++i)
            if (fds[i].revents) Dispatch(polled[i - 1], fds[i].revents);
    }

    void RunPosted() {
        std::deque<Job> jobs;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            jobs.swap(m_posted);
        }
        while (!jobs.empty()) {
            Job job = std::move(jobs.front());
            jobs.pop_front();
            try {
                job();
            } catch (...) {
                ReportLoopException();
            }
        }
    }

    void RunDueTimers() {
        const auto now = SteadyClock::now();
        std::vector<std::shared_ptr<TimerEntry>> due;
        std::vector<TimerId> ended;
        for (const auto& [id, t] : m_timers)
            if (!t->running && t->due <= now) {
                due.push_back(t);
                if (!t->periodic) ended.push_back(id);
            }
        for (TimerId id : ended)
            m_timers.erase(id);
        for (auto& t : due) {
            if (!t->alive) continue;
            t->running = true;
            Job job = t->job; // the job may kill its own timer
            try {
                job();
            } catch (...) {
                ReportLoopException();
            }
            t->running = false;
            t->due = SteadyClock::now() + t->interval;
        }
    }

    void Dispatch(const std::shared_ptr<WatchEntry>& w, short revents) {
        if (!w->alive || w->running) return;
        w->running = true;
        SocketHandler handler = w->handler; // the handler may remove its own watch
        try {
            handler(revents);
        } catch (...) {
            ReportLoopException();
        }
        w->running = false;
    }

    std::atomic<std::thread::id> m_owner; // changed by Run, read by IsLoopThread from any thread
    int m_wakeFd;
    std::atomic<bool> m_quit{false};
    std::mutex m_lock;
    std::deque<Job> m_posted;
    std::map<TimerId, std::shared_ptr<TimerEntry>> m_timers;
    std::map<WatchId, std::shared_ptr<WatchEntry>> m_watches;
    TimerId m_nextId = 0;
};

std::atomic<MessageLoop*> g_mainLoop{nullptr};

} // namespace

std::unique_ptr<MessageLoop> CreatePollMessageLoop() {
    return std::make_unique<PollMessageLoop>();
}

MessageLoop& MainLoop() {
    MessageLoop* loop = g_mainLoop.load();
    if (!loop) {
        // A process that never installed a loop (a tool, a test) gets one owned by the first caller's thread.
        static std::unique_ptr<MessageLoop> fallback = CreatePollMessageLoop();
        MessageLoop* expected = nullptr;
        g_mainLoop.compare_exchange_strong(expected, fallback.get());
        loop = g_mainLoop.load();
    }
    return *loop;
}

MessageLoop* SetMainLoop(MessageLoop* loop) {
    return g_mainLoop.exchange(loop);
}

bool HasMainLoop() {
    return g_mainLoop.load() != nullptr;
}
