// The degraded rule's hysteresis, scan by scan.
#include "alert/degradedpolicy.h"

#include <cmath>

namespace {

int LossPercent(int sent, int received) {
    return sent > 0 ? static_cast<int>(std::lround(100.0 * (sent - received) / sent)) : 0;
}

} // namespace

// One echo says nothing about loss: the loss rule needs more than one echo per scan.
bool DegradedPolicy::Over(int sent, int received, int rttMs) const {
    const bool lossy =
        m_settings.DegradedLoss > 0 && sent > 1 && LossPercent(sent, received) >= m_settings.DegradedLoss;
    const bool slow = m_settings.DegradedRtt > 0 && rttMs >= m_settings.DegradedRtt;
    return lossy || slow;
}

DegradedPolicy::Change DegradedPolicy::Answered(const std::string& key, int sent, int received, int rttMs) {
    if (!Active()) return Change::None;
    Site& s = m_sites[key];
    if (Over(sent, received, rttMs) == s.degraded) {
        s.run = 0; // as it stands
        return Change::None;
    }
    if (++s.run < m_settings.DegradedScans) return Change::None;
    s.run = 0;
    s.degraded = !s.degraded;
    if (s.degraded) s.since = (m_clock ? *m_clock : GetClock()).Now();
    return s.degraded ? Change::Degraded : Change::Normal;
}

void DegradedPolicy::Silent(const std::string& key) {
    auto at = m_sites.find(key);
    if (at != m_sites.end()) at->second.run = 0;
}

bool DegradedPolicy::Degraded(const std::string& key) const {
    auto at = m_sites.find(key);
    return Active() && at != m_sites.end() && at->second.degraded;
}

TDateTime DegradedPolicy::Since(const std::string& key) const {
    auto at = m_sites.find(key);
    return at == m_sites.end() ? 0 : at->second.since;
}

LinkQuality DegradedPolicy::Quality(int sent, int received, int rttMs) const {
    return {sent > 1 ? LossPercent(sent, received) : 0, m_settings.DegradedLoss, rttMs, m_settings.DegradedRtt};
}
