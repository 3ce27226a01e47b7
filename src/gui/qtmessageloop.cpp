// Qt message loop. Every job, timer and socket handler runs inside a catch that reports the
// escaped exception and carries on, as a Qt event handler must never throw. A timer or watch
// never runs inside its own handler, even when the handler waits and events keep flowing.
#include "gui/qtmessageloop.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QObject>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <poll.h>

namespace {

void RunGuarded(const MessageLoop::Job& job) {
    try {
        job();
    } catch (...) {
        ReportLoopException();
    }
}

struct QtTimer {
    std::unique_ptr<QTimer> timer;
    bool periodic = false;
    bool running = false;
    bool alive = true;
    MessageLoop::Job job;
};

struct QtWatch {
    int fd = -1;
    short events = 0;
    bool running = false;
    bool alive = true;
    std::unique_ptr<QSocketNotifier> read, write;
    MessageLoop::SocketHandler handler;
};

class QtMessageLoop final : public MessageLoop {
public:
    QtMessageLoop() : m_thread(QThread::currentThread()) {}

    ~QtMessageLoop() override {
        m_timers.clear();
        m_watches.clear();
    }

    void Post(Job job) override {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_posted.push_back(std::move(job));
        }
        // One queued call per job keeps them in order; each drains what is queued by then.
        QMetaObject::invokeMethod(
            &m_context, [this] { RunPosted(); }, Qt::QueuedConnection);
    }

    void RunAndWait(Job job) override { RunHere(std::move(job)); }

    TimerId SetTimer(std::chrono::milliseconds interval, bool periodic, Job job) override {
        TimerId id = ++m_nextId;
        auto t = std::make_shared<QtTimer>();
        t->timer = std::make_unique<QTimer>();
        t->timer->setTimerType(Qt::PreciseTimer);
        t->timer->setSingleShot(true); // periodic timers are re-armed after their job returns
        t->timer->setInterval(static_cast<int>(interval.count()));
        t->periodic = periodic;
        t->job = std::move(job);
        QObject::connect(t->timer.get(), &QTimer::timeout, &m_context, [this, id] { FireTimer(id); });
        t->timer->start();
        m_timers[id] = t;
        return id;
    }

    void KillTimer(TimerId id) override {
        auto it = m_timers.find(id);
        if (it == m_timers.end()) return;
        it->second->alive = false;
        it->second->timer->stop();
        if (it->second->running) it->second->timer.release()->deleteLater(); // still inside its signal
        m_timers.erase(it);
    }

    WatchId WatchSocket(int fd, short events, SocketHandler handler) override {
        WatchId id = ++m_nextId;
        auto w = std::make_shared<QtWatch>();
        w->fd = fd;
        w->handler = std::move(handler);
        w->read = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        w->write = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
        for (QSocketNotifier* n : {w->read.get(), w->write.get()})
            QObject::connect(n, &QSocketNotifier::activated, &m_context, [this, id] { FireWatch(id); });
        m_watches[id] = w;
        ApplyEvents(*w, events);
        return id;
    }

    void ChangeWatch(WatchId id, short events) override {
        auto it = m_watches.find(id);
        if (it != m_watches.end()) ApplyEvents(*it->second, events);
    }

    void Unwatch(WatchId id) override {
        auto it = m_watches.find(id);
        if (it == m_watches.end()) return;
        QtWatch& w = *it->second;
        w.alive = false;
        w.read->setEnabled(false);
        w.write->setEnabled(false);
        if (w.running) {
            w.read.release()->deleteLater();
            w.write.release()->deleteLater();
        }
        m_watches.erase(it);
    }

    void ProcessMessages() override { QCoreApplication::processEvents(QEventLoop::AllEvents); }

    bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) override {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        QTimer guard; // wakes the blocking wait at the deadline
        guard.setSingleShot(true);
        guard.setTimerType(Qt::PreciseTimer);
        QObject::connect(&guard, &QTimer::timeout, [] {});
        for (;;) {
            if (condition()) return true;
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return condition();
            guard.start(static_cast<int>(std::min<long long>(left.count() + 1, 60000)));
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        }
    }

    void Wake() override {
        if (QAbstractEventDispatcher* d = QAbstractEventDispatcher::instance(m_thread)) d->wakeUp();
    }

    // A Quit that came before Run (its job may even have run already, inside a WaitUntil) ends Run
    // at once; the flag is cleared when Run ends, not when it starts, so that Quit is not lost.
    void Run() override {
        while (!m_quit)
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        m_quit = false;
    }

    // Quit is a job like any other: the jobs posted before it still run first.
    void Quit() override {
        Post([this] { m_quit = true; });
    }

    bool IsLoopThread() const override { return QThread::currentThread() == m_thread; }

private:
    void RunPosted() {
        std::deque<Job> jobs;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            jobs.swap(m_posted);
        }
        for (Job& job : jobs)
            RunGuarded(job);
    }

    void FireTimer(TimerId id) {
        auto it = m_timers.find(id);
        if (it == m_timers.end()) return;
        std::shared_ptr<QtTimer> t = it->second;
        if (t->running) return;
        if (!t->periodic) m_timers.erase(it);
        t->running = true;
        Job job = t->job; // the job may kill its own timer
        RunGuarded(job);
        t->running = false;
        if (t->periodic && t->alive) t->timer->start();
    }

    void FireWatch(WatchId id) {
        auto it = m_watches.find(id);
        if (it == m_watches.end()) return;
        std::shared_ptr<QtWatch> w = it->second;
        if (w->running || !w->alive) return;
        // The notifier says only "readable" or "writable"; poll gives the handler the real
        // revents (POLLHUP, POLLERR included), as the poll loop does.
        pollfd p{w->fd, w->events, 0};
        if (::poll(&p, 1, 0) <= 0 || p.revents == 0) return;
        w->running = true;
        w->read->setEnabled(false);
        w->write->setEnabled(false);
        SocketHandler handler = w->handler;
        RunGuarded([&] { handler(p.revents); });
        w->running = false;
        if (w->alive) ApplyEvents(*w, w->events);
    }

    static void ApplyEvents(QtWatch& w, short events) {
        w.events = events;
        if (w.running) return; // re-applied when the handler returns
        w.read->setEnabled((events & POLLIN) != 0);
        w.write->setEnabled((events & POLLOUT) != 0);
    }

    QThread* m_thread;
    QObject m_context; // receiver of the queued calls and signals, on the loop thread
    std::atomic<bool> m_quit{false};
    std::mutex m_lock;
    std::deque<Job> m_posted;
    std::map<TimerId, std::shared_ptr<QtTimer>> m_timers;
    std::map<WatchId, std::shared_ptr<QtWatch>> m_watches;
    TimerId m_nextId = 0;
};

} // namespace

std::unique_ptr<MessageLoop> CreateQtMessageLoop() {
    return std::make_unique<QtMessageLoop>();
}
