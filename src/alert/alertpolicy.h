// The notification policy: fed each site's result of a scan, in site-list order, it decides which
// notices go out — recovery notices paired with problem notices, one flapping notice instead of a
// flood, nothing for a probe that lost its own uplink, children held while their parent is down.
// What it needs done (rows, notices, probes) it asks of the daemon through AlertActions.
#pragma once

#include "alert/alertsettings.h"
#include "alert/flaphistory.h"
#include "alert/notice.h"
#include "alert/sitedeps.h"
#include "platform/clock.h"

#include <map>
#include <set>
#include <string>
#include <vector>

/// What the rows of table alarms say about a site's outage.
struct OutageRows {
    /// Its marker row exists: the contacts were told.
    bool Notified = false;
    /// The earliest alarm row's time (0 when there is none).
    TDateTime Since = 0;
};

class AlertActions {
public:
    virtual ~AlertActions() = default;
    virtual void Log(const std::string& category, const std::string& message) = 0;
    virtual OutageRows Outage(const std::string& code) = 0;
    virtual void PostAlarm(const std::string& code) = 0;
    /// Stores the marker row without telling anyone: the contacts already know of this outage.
    virtual void StoreMarker(const std::string& code) = 0;
    /// Whether the site's problem notice is due (no marker, down time passed).
    virtual bool ProblemDue(const std::string& code) = 0;
    /// The problem notice, when due; statement errors are raised.
    virtual void NotifyProblem(const std::string& code) = 0;
    /// A recovery or flapping notice to the site's contacts; true when it was delivered.
    virtual bool NotifySite(const std::string& code, NoticeKind kind, TDateTime since) = 0;
    /// An isolation notice to the administrator (and the webhook).
    virtual void NotifyAdmin(NoticeKind kind, const std::string& text) = 0;
    /// Probes a host with the configured retries; true when it answered.
    virtual bool ProbeHost(const std::string& address) = 0;
    /// The (child, parent) rows of table sitedep.
    virtual std::vector<SiteDeps::Edge> Dependencies() = 0;
};

class AlertPolicy {
public:
    /// Reads time from `clock`, or from the clock in force when none is given.
    explicit AlertPolicy(AlertActions& actions, const Clock* clock = nullptr) : m_actions(actions), m_clock(clock) {}

    /// Takes new settings; what it knows of the sites stays.
    void Configure(const AlertSettings& settings) { m_settings = settings; }
    const AlertSettings& Settings() const { return m_settings; }
    bool Active() const { return m_settings.Active(); }
    /// Failed sites post their alarm rows at the end of the scan, once it is known whether the probe
    /// itself was cut off; until then the daemon posts none.
    bool HoldsAlarms() const { return m_settings.IsolationPercent > 0; }
    bool Isolated() const { return m_isolated; }

    void ScanStarted();
    /// Before the daemon clears the rows of a site that answered: notes what its contacts were told.
    void Answering(const std::string& code);
    /// After the site's result line: its notices, now or (when they depend on the whole scan) at its end.
    /// Statement errors of the notices made now are raised.
    void SiteDone(const std::string& code, bool answered);
    /// Isolation, held alarms and the notices that waited for the whole scan; one failing site never
    /// stops the others.
    void ScanEnded();

private:
    struct SiteState {
        explicit SiteState(int flapScans) : history(flapScans) {}
        FlapHistory history;
        bool flapping = false;
        bool flapNoticeOwed = false;
        /// A problem notice went out and no recovery notice since.
        bool noticeOut = false;
        /// The marker of that notice is stored again (the site failed before its recovery was told).
        bool markerBack = false;
        TDateTime since = 0;
        bool held = false;
    };

    SiteState& Site(const std::string& code);
    bool DefersFailures() const { return m_settings.IsolationPercent > 0 || m_settings.Dependencies; }
    /// Records the result; true when the site starts flapping with it.
    bool RecordFlap(SiteState& s, bool up);
    void AnsweredNotices(const std::string& code);
    void FailedNotices(const std::string& code);
    void FlapNotice(const std::string& code, SiteState& s, bool entered);
    bool ScanIsolated();
    void LoadDependencies();

    AlertActions& m_actions;
    const Clock* m_clock;
    AlertSettings m_settings;
    std::map<std::string, SiteState> m_sites;
    SiteDeps m_deps;
    std::set<std::string> m_cyclesLogged;
    bool m_isolated = false;
    // This scan.
    int m_total = 0;
    int m_answered = 0;
    std::set<std::string> m_failed;
    std::vector<std::string> m_deferred;
};
