// TAttemptLimiter: the waits of addresses that keep presenting bad tokens.
#include "api/attemptlimiter.h"

#include <algorithm>

namespace {
// The table never grows past MaxEntries between sweeps.
constexpr std::size_t MaxEntries = 10000;

long long SecondsUntil(Clock::MonoTime until, Clock::MonoTime now) {
    return until <= now ? 0 : std::chrono::ceil<std::chrono::seconds>(until - now).count();
}
} // namespace

long long TAttemptLimiter::WaitSeconds(const std::string& address, Clock::MonoTime now) {
    std::lock_guard<std::mutex> lock(m_lock);
    long long wait = m_windowFailures > FreeFailuresOfAll ? SecondsUntil(m_windowStart + AllWindow, now) : 0;
    if (const auto it = m_entries.find(address); it != m_entries.end())
        wait = std::max(wait, SecondsUntil(it->second.Until, now));
    return wait;
}

void TAttemptLimiter::Failed(const std::string& address, Clock::MonoTime now) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_windowFailures == 0 || now - m_windowStart >= AllWindow) {
        m_windowStart = now;
        m_windowFailures = 0;
    }
    ++m_windowFailures;
    if (m_entries.size() >= MaxEntries) Forget(now);
    Entry& entry = m_entries[address];
    if (entry.Failures > 0 && now - entry.Last >= ForgetAfter) entry.Failures = 0;
    entry.Failures = std::min(entry.Failures + 1, FreeFailures + 16);
    entry.Last = now;
    const int over = entry.Failures - FreeFailures;
    if (over > 0) entry.Until = now + std::chrono::seconds(std::min(MaxWaitSeconds, 1LL << (over - 1)));
}

void TAttemptLimiter::Forget(Clock::MonoTime now) {
    std::erase_if(m_entries, [now](const auto& item) { return now - item.second.Last >= ForgetAfter; });
    if (m_entries.size() >= MaxEntries) m_entries.clear(); // a flood of addresses: the bound on all holds them
}
