// What the alert policy asks of the daemon: rows of table alarms, notices through the notice runner,
// probes of the uplink, the parent table sitedep.
#include "monitor/talertbridge.h"

#include "alert/channel.h"
#include "alert/probewithretries.h"
#include "platform/activitylog.h"
#include "monitor/noticerunner.h"
#include "db/alarmrows.h"
#include "db/common.h"
#include "db/data.h"
#include "platform/datetime.h"

TAlertBridge::TAlertBridge(NoticeRunner& notices, Ping ping, PostAlarmFn postAlarm, AckInbox& acks)
    : Policy(*this), Followups(notices, acks), m_notices(notices), m_ping(std::move(ping)),
      m_postAlarm(std::move(postAlarm)) {}

void TAlertBridge::ScanStarted() {
    AlertSettings settings = AlertSettings::Read(ConfigFileName());
    TVKTDataModule& dm = *DataModule();
    std::vector<ChannelSettings> channels = ReadChannels(ConfigFileName());
    if (!settings.Webhook.empty()) channels.insert(channels.begin(), NotifyWebhookChannel(settings.Webhook));
    m_notices.UseChannels({dm.ConnectionString(), dm.Dialect(), dm.VKTID, std::move(channels),
                           NoticeOutbox::ReadGiveUp(ConfigFileName())});
    m_notices.UseTrace(settings.Trace);
    Policy.Configure(settings);
    Degraded.Configure(settings);
    Followups.ScanStarted(settings);
    Policy.ScanStarted();
}

void TAlertBridge::SiteProbed(const std::string& code, const std::string& address, bool answered) {
    m_notices.SiteProbed(code, address, answered);
}

void TAlertBridge::NotifyQuality(const std::string& code, NoticeKind kind, const LinkQuality& quality,
                                 TDateTime since) {
    Notice notice;
    notice.Kind = kind;
    notice.Since = since;
    notice.Quality = quality;
    m_notices.NotifyWith(code, notice);
}

void TAlertBridge::TakeChannelOutcomes() {
    m_notices.TakeChannelOutcomes();
}

bool TAlertBridge::Probe(const std::string& address, int& rtt) {
    return ProbeWithRetries(
        Policy.Settings().Retries, [&](int& r) { return m_ping(address, r); }, rtt);
}

void TAlertBridge::Log(const std::string& category, const std::string& message) {
    WriteLog(category, message);
}

OutageRows TAlertBridge::Outage(const std::string& code) {
    AlarmRows alarms(*DataModule());
    OutageRows rows;
    try {
        rows.Notified = alarms.Marker(code).has_value();
        if (!rows.Notified) return rows;
        rows.Since = alarms.OutageStart(code).value_or(0);
    } catch (const std::exception& e) {
        WriteLog("ERROR", "Reading the outage of " + code + ": " + e.what());
    }
    return rows;
}

void TAlertBridge::PostAlarm(const std::string& code) {
    m_postAlarm(code);
}

void TAlertBridge::StoreMarker(const std::string& code) {
    m_notices.StoreMarker(code);
}

bool TAlertBridge::ProblemDue(const std::string& code) {
    TDateTime since = 0;
    return m_notices.ProblemDue(code, since);
}

void TAlertBridge::NotifyProblem(const std::string& code) {
    m_notices.NotifyProblem(code);
}

bool TAlertBridge::NotifySite(const std::string& code, NoticeKind kind, TDateTime since) {
    return m_notices.NotifySite(code, kind, since);
}

void TAlertBridge::NotifyAdmin(NoticeKind kind, const std::string& text) {
    m_notices.NotifyAdmin(Policy.Settings(), kind, text);
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
