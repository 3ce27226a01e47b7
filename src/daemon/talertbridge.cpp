// What the alert policy asks of the console: rows of table alarms, notices through the notification
// worker or to the administrator, probes of the uplink, the parent table sitedep.
#include "daemon/talertbridge.h"

#include "alert/adminmailchannel.h"
#include "alert/probewithretries.h"
#include "daemon/activitylog.h"
#include "daemon/tfrmmain.h"
#include "db/data.h"
#include "platform/datetime.h"
#include "platform/msgloop.h"
#include "platform/strutil.h"
#include "web/statusboard.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

namespace {

/// The administrator's mail (2-s server time-out) ends well within this.
constexpr std::chrono::milliseconds AdminNoticeGuard{60000};

/// The key under which the webhook queue knows a site's notice: one per kind and outage.
std::string WebhookKey(const std::string& code, NoticeKind kind, TDateTime since) {
    return std::string(NoticeKindName(kind)) + "|" + UpperCase(Trim(code)) + "|" +
           std::to_string(std::llround(since * 86400.0));
}

} // namespace

void TAlertBridge::ScanStarted() {
    AlertSettings settings = AlertSettings::Read(ConfigFileName());
    if (settings.Webhook != m_webhookUrl) {
        m_webhookUrl = settings.Webhook;
        m_webhooks.reset(); // what it still held is dropped with it
        if (!m_webhookUrl.empty()) m_webhooks = std::make_unique<WebhookQueue>(m_webhookUrl);
    }
    Policy.Configure(settings);
    Policy.ScanStarted();
}

bool TAlertBridge::Probe(const std::string& address, int& rtt) {
    return ProbeWithRetries(
        Policy.Settings().Retries, [&](int& r) { return m_form.PingSite(address, r); }, rtt);
}

void TAlertBridge::Log(const std::string& category, const std::string& message) {
    WriteLog(category, message);
}

OutageRows TAlertBridge::Outage(const std::string& code) {
    TDbQuery& q = DataModule()->adoAlarms;
    OutageRows rows;
    try {
        OpenStatement(q, {"SELECT * FROM alarms WHERE Code = " + SQLLiteral(code + "MAILED") + " "});
        rows.Notified = !q.Eof();
        if (!rows.Notified) return rows;
        OpenStatement(q, {"SELECT * FROM alarms WHERE Code = " + SQLLiteral(code) + " ORDER BY FailTime"});
        if (!q.Eof()) rows.Since = VarToFloatDef(q.FieldByName("failtime"));
    } catch (const std::exception& e) {
        WriteLog("ERROR", "Reading the outage of " + code + ": " + e.what());
    }
    return rows;
}

void TAlertBridge::PostAlarm(const std::string& code) {
    m_form.PostAlarm(code);
}

void TAlertBridge::StoreMarker(const std::string& code) {
    ExecStatement(DataModule()->adoQ2, {"INSERT INTO alarms (Code, FailTime) VALUES (" + SQLLiteral(code + "MAILED") +
                                        ", " + SQLLiteral(FormatSQLDate(false, Now())) + ") "});
    if (m_form.SiteResults) m_form.SiteResults->NoticeStanding(code);
}

void TAlertBridge::QueueWebhook(const std::string& code, const Notice& told, bool toldElsewhere) {
    if (!m_webhooks) return;
    const std::string key = WebhookKey(code, told.Kind, told.Since);
    m_webhooks->Post(told, key); // not again while it is queued, delivered or possibly held by the receiver
    if (toldElsewhere) m_webhooks->Settle(key);
}

bool TAlertBridge::TakeWebhookDelivery(const std::string& code, NoticeKind kind, TDateTime since) {
    const std::string key = WebhookKey(code, kind, since);
    if (!m_webhooks || m_webhooks->Of(key) != WebhookQueue::Standing::Delivered) return false;
    m_webhooks->Settle(key);
    return true;
}

void TAlertBridge::TakeWebhookOutcomes() {
    if (!m_webhooks) return;
    for (const WebhookQueue::Outcome& o : m_webhooks->TakeOutcomes()) {
        if (m_form.SiteResults) m_form.SiteResults->NoticeSent(o.Told.Code, "webhook", o.Delivered);
        if (!o.Delivered) WriteLog("ERROR", "Webhook fail. " + o.Error);
        // A recovery or flapping notice is taken when the rules ask for it again.
        if (!o.Delivered || !o.Watched || o.Told.Kind != NoticeKind::Problem) continue;
        try {
            StoreMarkerWhileDown(o.Told.Code);
            m_webhooks->Settle(o.Key);
        } catch (const std::exception& e) {
            LogStepError("Storing the notice of " + o.Told.Code, e); // the next outcome or scan tries again
        }
    }
}

void TAlertBridge::StoreMarkerWhileDown(const std::string& code) {
    TDbQuery& q = DataModule()->adoAlarms;
    OpenStatement(q, {"SELECT * FROM alarms WHERE Code = " + SQLLiteral(code + "MAILED") + " "});
    if (!q.Eof()) return; // told another way meanwhile
    OpenStatement(q, {"SELECT * FROM alarms WHERE Code = " + SQLLiteral(code) + " "});
    if (q.Eof()) return; // the site answered meanwhile: its outage is over
    StoreMarker(code);
}

bool TAlertBridge::ProblemDue(const std::string& code) {
    TDateTime since = 0;
    return m_form.NotificationDue(code, since);
}

void TAlertBridge::NotifyProblem(const std::string& code) {
    m_form.Notify(code);
}

bool TAlertBridge::NotifySite(const std::string& code, NoticeKind kind, TDateTime since) {
    if (TakeWebhookDelivery(code, kind, since)) return true; // the webhook told it after the last try
    WriteLog("MAIL", NoticeLogLine(kind));
    m_form.ShowStatus("Notifying..");
    Notice notice;
    notice.Kind = kind;
    notice.Since = since;
    const bool delivered = m_form.RunNotification(code, notice);
    m_form.ShowStatus("");
    return delivered;
}

void TAlertBridge::NotifyAdmin(NoticeKind kind, const std::string& text) {
    const AlertSettings& s = Policy.Settings();
    Notice notice;
    notice.Kind = kind;
    notice.Text = text;
    notice.Time = Now();
    notice.Daemon = DataModule()->VKTID;
    std::unique_ptr<AdminMailChannel> mail;
    if (!s.Admin.empty()) mail = std::make_unique<AdminMailChannel>(s.MailServer, s.MailSender, s.Admin);
    if (m_webhooks) {
        const std::string key = "admin|" + std::to_string(++m_adminNotices);
        m_webhooks->Post(notice, key);
        m_webhooks->Settle(key); // nobody waits for it: forgotten once it is settled
    }
    std::string mailError;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        if (mail) mail->Deliver(notice, mailError);
        done.store(true);
        MainLoop().Wake();
    });
    // Both channels are bounded by their own time-outs; the loop keeps serving meanwhile.
    while (!MainLoop().WaitUntil([&] { return done.load(); }, AdminNoticeGuard)) {
    }
    worker.join();
    if (!mailError.empty()) WriteLog("ERROR", "Mail fail. " + mailError);
}

bool TAlertBridge::ProbeHost(const std::string& address) {
    int rtt = 0;
    return Probe(address, rtt);
}

void TAlertBridge::EnsureDependencyTable() {
    CreateTableIfMissing(DataModule()->adoQ2, "sitedep",
                         {"CREATE TABLE sitedep (CODE varchar(12) not null, parent varchar(12) not null)"});
}

std::vector<SiteDeps::Edge> TAlertBridge::Dependencies() {
    EnsureDependencyTable();
    TDbQuery& q = DataModule()->adoAlarms;
    OpenStatement(q, {"SELECT CODE, parent FROM sitedep"});
    std::vector<SiteDeps::Edge> edges;
    for (; !q.Eof(); q.Next())
        edges.emplace_back(VarToStrTrim(q.FieldByName("CODE")), VarToStrTrim(q.FieldByName("parent")));
    return edges;
}
