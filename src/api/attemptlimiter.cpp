// TAttemptLimiter: the waits of addresses that keep presenting bad tokens.
#include "api/attemptlimiter.h"

#include <algorithm>

namespace {
// An address silent this long is forgotten; the table never grows past MaxEntries between sweeps.
constexpr std::chrono::minutes ForgetAfter{10};
constexpr std::size_t MaxEntries = 10000;
} // namespace

long long TAttemptLimiter::WaitSeconds(const std::string& address, Clock::MonoTime now) {
    std::lock_guard<std::mutex> lock(m_lock);
    auto it = m_entries.find(address);
    if (it == m_entries.end() || it->second.Until <= now) return 0;
    return std::chrono::ceil<std::chrono::seconds>(it->second.Until - now).count();
}

void TAttemptLimiter::Failed(const std::string& address, Clock::MonoTime now) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_entries.size() >= MaxEntries) Forget(now);
    Entry& entry = m_entries[address];
    entry.Failures = std::min(entry.Failures + 1, FreeFailures + 16);
    entry.Last = now;
    const int over = entry.Failures - FreeFailures;
    if (over > 0) entry.Until = now + std::chrono::seconds(std::min(MaxWaitSeconds, 1LL << (over - 1)));
}

void TAttemptLimiter::Succeeded(const std::string& address) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_entries.erase(address);
}

void TAttemptLimiter::Forget(Clock::MonoTime now) {
    std::erase_if(m_entries, [now](const auto& item) { return now - item.second.Last >= ForgetAfter; });
    if (m_entries.size() >= MaxEntries) m_entries.clear(); // a flood of addresses: start afresh
}
