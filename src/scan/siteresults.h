// The latest result of every site address probed, kept in memory for whatever reports on the sites
// (status page, metrics, alert rules). Written by the scan, read from any thread.
#pragma once

#include "scan/siteresult.h"

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class SiteResults {
public:
    /// Keeps `result` as the latest of its code and address.
    void Put(const SiteResult& result);
    /// The latest result of a code and address, if it was ever probed.
    std::optional<SiteResult> Find(const std::string& code, const std::string& address) const;
    /// Every latest result, ordered by code and address.
    std::vector<SiteResult> Snapshot() const;
    void Clear();

private:
    mutable std::mutex m_lock;
    std::map<std::pair<std::string, std::string>, SiteResult> m_results;
};

/// The results of this daemon's scans.
SiteResults& LatestSiteResults();
