// The in-memory store of the latest per-site results.
#include "scan/siteresults.h"

void SiteResults::Put(const SiteResult& result) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_results[{result.Code, result.Address}] = result;
}

std::optional<SiteResult> SiteResults::Find(const std::string& code, const std::string& address) const {
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_results.find({code, address});
    if (it == m_results.end()) return std::nullopt;
    return it->second;
}

std::vector<SiteResult> SiteResults::Snapshot() const {
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<SiteResult> all;
    all.reserve(m_results.size());
    for (const auto& [key, result] : m_results)
        all.push_back(result);
    return all;
}

void SiteResults::Clear() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_results.clear();
}

SiteResults& LatestSiteResults() {
    static SiteResults results;
    return results;
}
