// The in-order hand-over of probe results.
#include "scan/scansequencer.h"

#include <algorithm>

ScanSequencer::ScanSequencer(std::size_t sites) : m_size(sites) {
    for (std::size_t from = 0; from < sites; from += BlockSites)
        m_blocks.push_back(std::make_unique<std::optional<SiteResult>[]>(std::min(BlockSites, sites - from)));
}

bool ScanSequencer::Put(std::size_t index, SiteResult result) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (index < m_size && index >= m_next) Slot(index) = std::move(result);
    return index == m_next;
}

std::vector<SiteResult> ScanSequencer::TakeReady(std::size_t most) {
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<SiteResult> ready;
    while (m_next < m_size && Slot(m_next) && ready.size() < most) {
        ready.push_back(std::move(*Slot(m_next)));
        if (++m_next % BlockSites == 0 || m_next == m_size) m_blocks[(m_next - 1) / BlockSites].reset();
    }
    return ready;
}

bool ScanSequencer::HasReady() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_next < m_size && Slot(m_next).has_value();
}

bool ScanSequencer::Done() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_next == m_size;
}
