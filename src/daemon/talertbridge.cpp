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

#include <atomic>
#include <chrono>
#include <thread>

namespace {

/// The administrator's mail (2-s server time-out) and the webhook (5 s) end well within this.
constexpr std::chrono::milliseconds AdminNoticeGuard{60000};

} // namespace

void TAlertBridge::ScanStarted() {
    AlertSettings settings = AlertSettings::Read(ConfigFileName());
    if (settings.Webhook != m_webhookUrl) {
        m_webhookUrl = settings.Webhook;
        m_webhook = m_webhookUrl.empty() ? nullptr : std::make_unique<WebhookChannel>(m_webhookUrl);
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
}

bool TAlertBridge::ProblemDue(const std::string& code) {
    TDateTime since = 0;
    return m_form.NotificationDue(code, since);
}

void TAlertBridge::NotifyProblem(const std::string& code) {
    m_form.Notify(code);
}

bool TAlertBridge::NotifySite(const std::string& code, NoticeKind kind, TDateTime since) {
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
    std::string mailError, hookError;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        if (mail) mail->Deliver(notice, mailError);
        if (m_webhook) m_webhook->Deliver(notice, hookError);
        done.store(true);
        MainLoop().Wake();
    });
    // Both channels are bounded by their own time-outs; the loop keeps serving meanwhile.
    while (!MainLoop().WaitUntil([&] { return done.load(); }, AdminNoticeGuard)) {
    }
    worker.join();
    if (!mailError.empty()) WriteLog("ERROR", "Mail fail. " + mailError);
    if (!hookError.empty()) WriteLog("ERROR", "Webhook fail. " + hookError);
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
