// The tracer's queue and threads.
#include "scan/pathtracer.h"

#include <utility>

PathTracer::~PathTracer() {
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_stop = true;
        m_queue.clear();
    }
    m_wake.notify_all();
    for (std::thread& t : m_threads)
        t.join();
}

void PathTracer::Record(const std::string& code, const std::string& address, bool answered) {
    std::lock_guard<std::mutex> hold(m_lock);
    const auto key = std::make_pair(code, address);
    if (answered) {
        m_failing.erase(key);
        m_outage.erase(code);
        m_results.erase(code);
        return;
    }
    if (!m_failing.insert(key).second || m_queue.size() >= QueueLimit) return; // traced once per outage
    m_outage.insert(code);
    m_queue.push_back(key);
    if (m_threads.size() < Workers) m_threads.emplace_back([this] { Work(); });
    m_wake.notify_one();
}

std::shared_ptr<const PathTraceResult> PathTracer::Find(const std::string& code) const {
    std::lock_guard<std::mutex> hold(m_lock);
    const auto at = m_results.find(code);
    return at == m_results.end() ? nullptr : at->second;
}

std::vector<PathTracer::Finished> PathTracer::TakeFinished() {
    std::lock_guard<std::mutex> hold(m_lock);
    return std::exchange(m_finished, {});
}

void PathTracer::Work() {
    std::unique_lock<std::mutex> hold(m_lock);
    for (;;) {
        m_wake.wait(hold, [&] { return m_stop || !m_queue.empty(); });
        if (m_stop) return;
        const auto [code, address] = m_queue.front();
        m_queue.pop_front();
        hold.unlock();
        auto result = std::make_shared<const PathTraceResult>(PathTrace::Run(address));
        hold.lock();
        if (!m_outage.count(code)) continue; // the site answered again meanwhile
        m_results[code] = result;
        m_finished.push_back({code, address, result});
    }
}
