// Webhook notices sent away from the scan: a thread of the queue's own posts them one after another,
// tries a refused or unreachable receiver again with growing back-off until the notice's deadline, and
// never posts a notice again that was delivered or that the receiver may hold already.
#pragma once

#include "alert/notice.h"
#include "alert/webhookchannel.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class WebhookQueue {
public:
    /// Where the notice of a key stands.
    enum class Standing { None, Queued, Delivered, Unconfirmed };
    /// What one POST came to.
    struct Outcome {
        Notice Told;
        std::string Key;
        bool Delivered = false;
        /// Why not, and what the queue does about it.
        std::string Error;
        /// No other way has told the notice yet: its delivery here is what counts.
        bool Watched = true;
    };
    using Clock = std::chrono::steady_clock;

    /// `onOutcome` runs on the queue's thread whenever an outcome is ready to be taken.
    explicit WebhookQueue(std::string url, std::function<void()> onOutcome = {});
    /// A POST in progress is abandoned within about a second; waiting notices are dropped.
    ~WebhookQueue();
    WebhookQueue(const WebhookQueue&) = delete;
    WebhookQueue& operator=(const WebhookQueue&) = delete;

    /// Queues the notice under `key`; false (nothing queued) while that key is queued, delivered or
    /// possibly held by the receiver.
    bool Post(const Notice& notice, const std::string& key);
    Standing Of(const std::string& key) const;
    /// The notice has been told another way, or its delivery here has been taken note of: its record
    /// goes (once its POST has ended, when one is under way).
    void Settle(const std::string& key);
    /// The outcomes since the last call, in order.
    std::vector<Outcome> TakeOutcomes();

    /// The first retry's wait; each further one waits twice as long, up to LongestRetry.
    static constexpr std::chrono::seconds FirstRetry{5};
    static constexpr std::chrono::seconds LongestRetry{300};
    /// A notice not delivered this long after it was queued is given up, and its key forgotten: the
    /// next time the notice is due it is queued anew.
    static constexpr std::chrono::seconds Deadline{600};
    /// How long a delivered or possibly held notice is remembered.
    static constexpr std::chrono::hours Memory{24};

private:
    struct Entry {
        Notice Told;
        Standing State = Standing::Queued;
        bool Watched = true;
        int Tries = 0;
        Clock::time_point Queued, Due;
    };

    void Run();
    /// The queued entry due first (none: end()); the lock is held.
    std::map<std::string, Entry>::iterator NextDue();
    /// Files the attempt's outcome; the lock is held.
    void Settled(const std::string& key, const WebhookChannel::Attempt& attempt);
    void Forget(Clock::time_point now);

    WebhookChannel m_channel;
    std::function<void()> m_onOutcome;
    mutable std::mutex m_lock;
    std::condition_variable m_wake;
    std::map<std::string, Entry> m_entries;
    std::vector<Outcome> m_outcomes;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};
