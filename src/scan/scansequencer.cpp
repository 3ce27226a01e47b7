// The in-order hand-over of probe results.
#include "scan/scansequencer.h"

bool ScanSequencer::Put(std::size_t index, SiteResult result) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (index < m_results.size()) m_results[index] = std::move(result);
    return index == m_next;
}

std::vector<SiteResult> ScanSequencer::TakeReady(std::size_t most) {
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<SiteResult> ready;
    while (m_next < m_results.size() && m_results[m_next] && ready.size() < most) {
        ready.push_back(std::move(*m_results[m_next]));
        m_results[m_next++].reset();
    }
    return ready;
}

bool ScanSequencer::HasReady() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_next < m_results.size() && m_results[m_next].has_value();
}

bool ScanSequencer::Done() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_next == m_results.size();
}
