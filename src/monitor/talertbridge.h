// The alert rules wired to the daemon: the policy's requests carried out with the alarm rows, the
// notice runner, the probe and the log, and the channels read from vkt.ini at every scan.
#pragma once

#include "alert/alertpolicy.h"
#include "alert/degradedpolicy.h"
#include "monitor/outagefollowups.h"

#include <functional>
#include <string>

class NoticeRunner;

class TAlertBridge : public AlertActions {
public:
    /// Probes an address once; true when it answered, with the round-trip time (ms).
    using Ping = std::function<bool(const std::string& address, int& rtt)>;
    /// Records one failed probe of a site, logging a failure.
    using PostAlarmFn = std::function<void(const std::string& code)>;

    TAlertBridge(NoticeRunner& notices, Ping ping, PostAlarmFn postAlarm, AckInbox& acks);

    AlertPolicy Policy;
    DegradedPolicy Degraded;
    OutageFollowups Followups;

    /// Reads the alert keys again and starts the policy's scan.
    void ScanStarted();
    void ScanEnded() { Policy.ScanEnded(); }
    /// Counts what the webhook and the channels did since the last call. On the user-interface thread.
    void TakeChannelOutcomes();
    /// A site address's result, for the path traces of [Alert] Trace.
    void SiteProbed(const std::string& code, const std::string& address, bool answered);
    /// A degraded or normal notice to the site's contacts, with the scan's measures; `since`: when the
    /// site became degraded.
    void NotifyQuality(const std::string& code, NoticeKind kind, const LinkQuality& quality, TDateTime since);
    /// Probes an address, again up to [Alert] Retries times while it stays silent.
    bool Probe(const std::string& address, int& rtt);

    void Log(const std::string& category, const std::string& message) override;
    OutageRows Outage(const std::string& code) override;
    void PostAlarm(const std::string& code) override;
    void StoreMarker(const std::string& code) override;
    bool ProblemDue(const std::string& code) override;
    void NotifyProblem(const std::string& code) override;
    bool NotifySite(const std::string& code, NoticeKind kind, TDateTime since) override;
    void NotifyAdmin(NoticeKind kind, const std::string& text) override;
    bool ProbeHost(const std::string& address) override;
    std::vector<SiteDeps::Edge> Dependencies() override;

private:
    void EnsureDependencyTable();

    NoticeRunner& m_notices;
    Ping m_ping;
    PostAlarmFn m_postAlarm;
};
