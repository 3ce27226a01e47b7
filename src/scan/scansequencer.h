// Hands probe results on in site-list order: results arrive in any order from the engine's thread;
// the scan takes each one as soon as every earlier site is done.
#pragma once

#include "scan/siteresult.h"

#include <cstddef>
#include <mutex>
#include <optional>
#include <vector>

class ScanSequencer {
public:
    explicit ScanSequencer(std::size_t sites) : m_results(sites) {}

    /// Stores the result of the site at `index` (any thread; each index once). True when it is the
    /// next one to take, so that whoever takes results is worth waking.
    bool Put(std::size_t index, SiteResult result);
    /// The results from the next site on whose every earlier site is done, in list order, taken out
    /// (at most `most`); empty when the next site is still being probed.
    std::vector<SiteResult> TakeReady(std::size_t most = static_cast<std::size_t>(-1));
    /// Whether the next site's result is there to take.
    bool HasReady() const;
    /// Whether every result has been taken.
    bool Done() const;

private:
    mutable std::mutex m_lock;
    std::vector<std::optional<SiteResult>> m_results;
    std::size_t m_next = 0;
};
