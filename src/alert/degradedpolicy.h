// When an answering site counts as degraded: its scan lost at least [Alert] DegradedLoss per cent of
// its echoes (only with [Scan] Echoes > 1) or averaged at least DegradedRtt ms. DegradedScans such
// scans in a row make it degraded, as many under both thresholds make it normal again, so one slow
// scan neither raises nor ends it.
#pragma once

#include "alert/alertsettings.h"
#include "alert/notice.h"
#include "platform/clock.h"

#include <map>
#include <string>

class DegradedPolicy {
public:
    enum class Change { None, Degraded, Normal };

    /// Reads time from `clock`, or from the clock in force when none is given.
    explicit DegradedPolicy(const Clock* clock = nullptr) : m_clock(clock) {}

    void Configure(const AlertSettings& settings) { m_settings = settings; }
    bool Active() const { return m_settings.Degrading(); }

    /// One answering scan of a site address (`key`): its echoes sent and answered and their average
    /// round-trip time. Returns what the scan changed.
    Change Answered(const std::string& key, int sent, int received, int rttMs);
    /// A silent scan breaks a run in either direction; the site keeps its state.
    void Silent(const std::string& key);
    bool Degraded(const std::string& key) const;
    /// When the site last became degraded (0: never).
    TDateTime Since(const std::string& key) const;
    /// The scan's measures against the thresholds, for the notice.
    LinkQuality Quality(int sent, int received, int rttMs) const;

private:
    struct Site {
        bool degraded = false;
        int run = 0; ///< scans in a row that point the other way
        TDateTime since = 0;
    };
    bool Over(int sent, int received, int rttMs) const;

    const Clock* m_clock;
    AlertSettings m_settings;
    std::map<std::string, Site> m_sites;
};
