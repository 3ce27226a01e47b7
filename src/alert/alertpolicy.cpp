// The notification policy's rules, scan by scan.
#include "alert/alertpolicy.h"

#include "platform/strutil.h"

namespace {

/// Fewer sites than this say nothing about the probe's own uplink.
constexpr int MinSitesForIsolation = 5;

} // namespace

AlertPolicy::SiteState& AlertPolicy::Site(const std::string& code) {
    return m_sites.try_emplace(SiteCodeKey(code), m_settings.FlapScans).first->second;
}

void AlertPolicy::ScanStarted() {
    m_total = m_answered = 0;
    m_failed.clear();
    m_deferred.clear();
    if (m_settings.Dependencies) LoadDependencies();
}

void AlertPolicy::LoadDependencies() {
    std::vector<std::string> cycles;
    try {
        m_deps.Load(m_actions.Dependencies(), cycles);
    } catch (const std::exception& e) {
        m_actions.Log("ERROR", std::string("Reading site dependencies: ") + e.what());
        return; // the graph of the last scan stays
    }
    for (const std::string& cycle : cycles)
        if (m_cyclesLogged.insert(cycle).second) m_actions.Log("WARNING", "Site dependency cycle ignored: " + cycle);
}

void AlertPolicy::Answering(const std::string& code) {
    if (!m_settings.Recovery && !m_settings.Flapping()) return; // nobody asks what the contacts were told
    const OutageRows rows = m_actions.Outage(code);
    if (!rows.Notified) return;
    SiteState& s = Site(code);
    const TDateTime since = rows.Since != 0 ? rows.Since : (m_clock ? *m_clock : GetClock()).Now();
    // A marker stored again keeps the start of the outage its contacts were first told of.
    s.since = s.noticeOut && s.since != 0 && s.since < since ? s.since : since;
    s.noticeOut = true;
    s.markerBack = false; // the daemon clears it now
}

void AlertPolicy::SiteDone(const std::string& code, bool answered) {
    ++m_total;
    if (answered) {
        ++m_answered;
        AnsweredNotices(code);
        return;
    }
    m_failed.insert(UpperCase(code));
    if (DefersFailures())
        m_deferred.push_back(code);
    else
        FailedNotices(code);
}

bool AlertPolicy::RecordFlap(SiteState& s, bool up) {
    if (!m_settings.Flapping()) return false;
    s.history.Record(up);
    const int changes = s.history.Changes();
    if (!s.flapping && changes >= m_settings.FlapChanges) {
        s.flapping = s.flapNoticeOwed = true;
        return true;
    }
    if (s.flapping && changes == 0) s.flapping = s.flapNoticeOwed = false; // steady for FlapScans scans: settled
    return false;
}

void AlertPolicy::FlapNotice(const std::string& code, SiteState& s, bool entered) {
    if (!entered && !(s.flapping && s.flapNoticeOwed)) return;
    if (m_actions.NotifySite(code, NoticeKind::Flapping, 0)) s.flapNoticeOwed = false;
}

void AlertPolicy::AnsweredNotices(const std::string& code) {
    SiteState& s = Site(code);
    s.held = false;
    FlapNotice(code, s, RecordFlap(s, true));
    if (s.flapping || !s.noticeOut) return;
    if (!m_settings.Recovery || m_actions.NotifySite(code, NoticeKind::Recovery, s.since)) s.noticeOut = false;
    // Not delivered: owed, and tried again at the next scan while the site answers.
}

void AlertPolicy::FailedNotices(const std::string& code) {
    SiteState& s = Site(code);
    const bool entered = RecordFlap(s, false);
    if (s.noticeOut && !s.markerBack) {
        // Its contacts were told of the outage and never of its end: it goes on for them.
        m_actions.StoreMarker(code);
        s.markerBack = true;
    }
    FlapNotice(code, s, entered);
    if (s.flapping) return;
    const std::string parent =
        m_deps.FailedAncestor(code, [this](const std::string& c) { return m_failed.count(c) > 0; });
    if (parent.empty()) {
        m_actions.NotifyProblem(code);
        return;
    }
    if (!s.held && m_actions.ProblemDue(code)) {
        m_actions.Log("MAIL", "Notice for " + code + " held: parent " + parent + " down");
        s.held = true;
    }
}

bool AlertPolicy::ScanIsolated() {
    const int failed = m_total - m_answered;
    if (m_settings.IsolationPercent == 0 || m_total < MinSitesForIsolation) return false;
    if (failed * 100 < m_settings.IsolationPercent * m_total) return false;
    for (const std::string& host : m_settings.Uplink)
        if (m_actions.ProbeHost(host)) return false; // the uplink answers: the sites are really down
    return true;
}

void AlertPolicy::ScanEnded() {
    const bool isolated = ScanIsolated();
    if (isolated != m_isolated) {
        m_isolated = isolated;
        const std::string text =
            isolated ? "Probe isolated: " + IntToStr(m_total - m_answered) + " of " + IntToStr(m_total) +
                           " sites silent, site alarms held."
                     : "Probe reconnected: " + IntToStr(m_answered) + " of " + IntToStr(m_total) + " sites answer.";
        m_actions.Log("WARNING", text);
        m_actions.NotifyAdmin(isolated ? NoticeKind::Isolated : NoticeKind::Reconnected, text);
    }
    if (isolated) return; // no alarm row and no notice for what the probe could not reach
    for (const std::string& code : m_deferred) {
        try {
            if (HoldsAlarms()) m_actions.PostAlarm(code);
            FailedNotices(code);
        } catch (const std::exception& e) {
            m_actions.Log("ERROR", "Notifying " + code + ": " + e.what());
        }
    }
    m_deferred.clear();
}
