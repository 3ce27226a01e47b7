// The webhook queue's thread: due notices in turn, back-off on failure, a deadline per notice.
#include "alert/webhookqueue.h"

#include <algorithm>
#include <utility>

WebhookQueue::WebhookQueue(std::string url, std::function<void()> onOutcome)
    : m_channel(std::move(url)), m_onOutcome(std::move(onOutcome)) {
    m_thread = std::thread([this] { Run(); });
}

WebhookQueue::~WebhookQueue() {
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

bool WebhookQueue::Post(const Notice& notice, const std::string& key) {
    {
        std::lock_guard<std::mutex> hold(m_lock);
        const Clock::time_point now = Clock::now();
        Forget(now);
        if (m_entries.count(key)) return false;
        Entry& e = m_entries[key];
        e.Told = notice;
        e.Queued = e.Due = now;
    }
    m_wake.notify_all();
    return true;
}

WebhookQueue::Standing WebhookQueue::Of(const std::string& key) const {
    std::lock_guard<std::mutex> hold(m_lock);
    auto at = m_entries.find(key);
    return at == m_entries.end() ? Standing::None : at->second.State;
}

void WebhookQueue::Settle(const std::string& key) {
    std::lock_guard<std::mutex> hold(m_lock);
    auto at = m_entries.find(key);
    if (at == m_entries.end()) return;
    if (at->second.State == Standing::Queued)
        at->second.Watched = false; // still to be posted: the receiver gets it all the same
    else
        m_entries.erase(at);
}

std::vector<WebhookQueue::Outcome> WebhookQueue::TakeOutcomes() {
    std::lock_guard<std::mutex> hold(m_lock);
    return std::exchange(m_outcomes, {});
}

void WebhookQueue::Forget(Clock::time_point now) {
    std::erase_if(m_entries, [&](const auto& item) {
        return item.second.State != Standing::Queued && now - item.second.Due > Memory;
    });
}

std::map<std::string, WebhookQueue::Entry>::iterator WebhookQueue::NextDue() {
    auto next = m_entries.end();
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it)
        if (it->second.State == Standing::Queued && (next == m_entries.end() || it->second.Due < next->second.Due))
            next = it;
    return next;
}

void WebhookQueue::Run() {
    std::unique_lock<std::mutex> hold(m_lock);
    while (!m_stop) {
        auto next = NextDue();
        if (next == m_entries.end()) {
            m_wake.wait(hold);
            continue;
        }
        if (next->second.Due > Clock::now()) {
            m_wake.wait_until(hold, next->second.Due);
            continue;
        }
        const std::string key = next->first;
        const Notice notice = next->second.Told;
        hold.unlock();
        const WebhookChannel::Attempt attempt = m_channel.Post(notice, &m_stop);
        hold.lock();
        if (m_stop) break;
        Settled(key, attempt);
        hold.unlock();
        if (m_onOutcome) m_onOutcome();
        hold.lock();
    }
}

void WebhookQueue::Settled(const std::string& key, const WebhookChannel::Attempt& attempt) {
    Entry& e = m_entries.at(key); // only this thread removes queued entries
    Outcome outcome{e.Told, key, attempt.Delivered, attempt.Error, e.Watched};
    const Clock::time_point now = Clock::now();
    ++e.Tries;
    if (attempt.Delivered || attempt.MaybeTaken) {
        e.State = attempt.Delivered ? Standing::Delivered : Standing::Unconfirmed;
        e.Due = now; // remembered from now on
        if (attempt.MaybeTaken) outcome.Error += " (no answer to the whole request: not sent again)";
        if (!e.Watched) m_entries.erase(key);
    } else {
        const auto wait = std::min<std::chrono::seconds>(LongestRetry, FirstRetry * (1 << std::min(e.Tries - 1, 10)));
        if (now + wait - e.Queued > Deadline) {
            outcome.Error += " (given up after " + std::to_string(e.Tries) + " tries)";
            m_entries.erase(key);
        } else {
            outcome.Error += " (trying again in " + std::to_string(wait.count()) + " s)";
            e.Due = now + wait;
        }
    }
    m_outcomes.push_back(std::move(outcome));
}
