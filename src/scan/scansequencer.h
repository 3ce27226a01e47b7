// Hands probe results on in site-list order: results arrive in any order from the engine's thread;
// the scan takes each one as soon as every earlier site is done.
#pragma once

#include "scan/siteresult.h"

#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class ScanSequencer {
public:
    explicit ScanSequencer(std::size_t sites);

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
    /// Results are kept in blocks of this many sites; a block is let go once all of its results are
    /// taken, so that the memory serves what the scan keeps of them while the rest are still probed.
    static constexpr std::size_t BlockSites = 1024;
    using Block = std::unique_ptr<std::optional<SiteResult>[]>;

    std::optional<SiteResult>& Slot(std::size_t index) const {
        return m_blocks[index / BlockSites][index % BlockSites];
    }

    mutable std::mutex m_lock;
    std::vector<Block> m_blocks;
    std::size_t m_size = 0;
    std::size_t m_next = 0;
};
