// The alert rules wired to the console: the policy's requests carried out with the console's rows,
// notification workers, probe and log, and the channels read from vkt.ini at every scan.
#pragma once

#include "alert/alertpolicy.h"
#include "alert/webhookchannel.h"

#include <memory>
#include <string>

class TfrmMain;

class TAlertBridge : public AlertActions {
public:
    explicit TAlertBridge(TfrmMain& form) : Policy(*this), m_form(form) {}

    AlertPolicy Policy;

    /// Reads the alert keys again and starts the policy's scan.
    void ScanStarted();
    void ScanEnded() { Policy.ScanEnded(); }
    /// The webhook every notice goes to; nullptr when none is configured.
    NoticeChannel* Webhook() const { return m_webhook.get(); }
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

    TfrmMain& m_form;
    std::unique_ptr<WebhookChannel> m_webhook;
    std::string m_webhookUrl;
};
