// The alert rules wired to the console: the policy's requests carried out with the console's rows,
// notification workers, probe and log, and the channels read from vkt.ini at every scan.
#pragma once

#include "alert/alertpolicy.h"
#include "alert/webhookqueue.h"

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
    /// Queues a site's notice for the webhook, when one is configured; `toldElsewhere`: the mail or a
    /// pop-up delivered it, so its delivery here counts for nothing more.
    void QueueWebhook(const std::string& code, const Notice& told, bool toldElsewhere);
    /// Logs and counts what the webhook did since the last call; a problem notice that it alone delivered
    /// gets its marker row while the outage lasts. On the user-interface thread.
    void TakeWebhookOutcomes();
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
    /// Whether the webhook delivered this notice, which no other way did: then it has been told.
    bool TakeWebhookDelivery(const std::string& code, NoticeKind kind, TDateTime since);
    void StoreMarkerWhileDown(const std::string& code);

    TfrmMain& m_form;
    std::unique_ptr<WebhookQueue> m_webhooks;
    long long m_adminNotices = 0;
    std::string m_webhookUrl;
};
