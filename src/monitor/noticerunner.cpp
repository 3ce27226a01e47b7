// The notification worker and the administrator's mail, each waited for under its guard while the
// message loop keeps serving; the outbox's senders post on threads of their own and are never waited for.
#include "monitor/noticerunner.h"

#include "alert/adminmailchannel.h"
#include "platform/activitylog.h"
#include "monitor/tnotifythread.h"
#include "db/alarmrows.h"
#include "db/common.h"
#include "db/data.h"
#include "platform/datetime.h"
#include "history/maintenancebook.h"
#include "platform/msgloop.h"
#include "platform/strutil.h"
#include "scan/pathtracer.h"
#include "monitor/siteresultsink.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

namespace {

/// The wait for a notification worker ends once 4 minutes have passed, that is more than 3 whole
/// minutes (the worker's own time-outs normally end it within seconds).
constexpr std::chrono::milliseconds NotifyGuard{4 * 60 * 1000};
/// The administrator's mail (2-s server time-out) ends well within this.
constexpr std::chrono::milliseconds AdminNoticeGuard{60000};

/// The worker hands the marker insert to this thread; it is served while we wait here.
void WaitForWorkerEnd(const TNotifyThread& worker) {
    while (!MainLoop().WaitUntil([&] { return !worker.Running(); }, NotifyGuard)) {
    }
}

/// The site's name and address from its row, for a notice that no worker composes.
void FillSiteTexts(const std::string& code, Notice& notice) {
    TDbQuery& q = DataModule()->adoAlarms;
    OpenSiteRows(q, code);
    notice.Code = code;
    if (q.Eof()) return;
    notice.Code = VarToStrTrim(q.FieldByName("code"));
    notice.SiteName = VarToStrTrim(q.FieldByName("sitename"));
    notice.Address = VarToStrTrim(q.FieldByName("IPaddr"));
}

} // namespace

NoticeRunner::NoticeRunner(std::function<void(const std::string&)> showStatus) : m_showStatus(std::move(showStatus)) {}

NoticeRunner::~NoticeRunner() = default;

void NoticeRunner::UseChannels(NoticeOutbox::Settings settings) {
    if (settings.Channels.empty()) {
        m_outbox.reset();
        return;
    }
    if (m_outbox && m_outbox->Config() == settings) return;
    m_outbox.reset(); // its senders end; their rows wait in the table for the new ones
    // The senders hand their outcomes over; this thread counts them (the board may go before they end).
    m_outbox = std::make_unique<NoticeOutbox>(
        std::move(settings), [this](const ChannelSettings& channel, const Notice& told, bool delivered) {
            std::lock_guard<std::mutex> hold(m_outcomeLock);
            m_outcomes.push_back({ChannelKindName(channel.Kind), channel.Name, channel.NotifyWebhook, told, delivered});
        });
}

void NoticeRunner::QueueChannels(const Notice& told) {
    if (!m_outbox) return;
    try {
        TDbQuery query(DataModule()->conMain);
        m_outbox->Queue(query, told);
    } catch (const std::exception& e) {
        LogStepError("Queuing the notice of " + told.Code, e);
    }
}

void NoticeRunner::TellChannels(const std::string& code, const Notice& notice) {
    if (!m_outbox) return;
    try {
        Notice told = notice;
        FillSiteTexts(code, told);
        told.Time = Now();
        told.Daemon = DataModule()->VKTID;
        QueueChannels(told);
    } catch (const std::exception& e) {
        LogStepError("Queuing the notice of " + code, e);
    }
}

bool NoticeRunner::ProblemDue(const std::string& code, TDateTime& since, const NoticeRows* known) {
    const NoticeDue due = known ? AlarmRows::Decide(*known, Now()) : AlarmRows(*DataModule()).ProblemDue(code, Now());
    if (due.Notified) Standing(code);
    if (due.Since != 0) since = due.Since;
    return due.Due && !HeldByMaintenance(code);
}

void NoticeRunner::UseTrace(bool on) {
    if (on && !m_tracer) m_tracer = std::make_unique<PathTracer>();
    if (!on) m_tracer.reset();
}

void NoticeRunner::SiteProbed(const std::string& code, const std::string& address, bool answered) {
    if (!m_tracer) return;
    m_tracer->Record(code, address, answered);
    ShowTraces();
}

void NoticeRunner::ShowTraces() {
    if (!m_tracer) return;
    for (const PathTracer::Finished& f : m_tracer->TakeFinished())
        if (m_board) m_board->SiteTraced(f.Code, f.Address, f.Result->PathEnd(), f.Result->Json());
}

void NoticeRunner::NotifyProblem(const std::string& code, const NoticeRows* known) {
    Notice notice;
    if (!ProblemDue(code, notice.Since, known)) return;
    if (WebhookDelivered(code, NoticeKind::Problem, notice.Since)) {
        StoreMarkerWhileDown(code); // told before a restart that came before its marker
        return;
    }
    // A trace still running is not waited for: the notice goes without it.
    if (const auto trace = m_tracer ? m_tracer->Find(code) : nullptr) {
        notice.PathEnd = trace->PathEnd();
        notice.TraceJson = trace->Json();
    }
    WriteLog("MAIL", "Notifying ...");
    m_showStatus("Notifying..");
    Run(code, notice);
    m_showStatus("");
}

bool NoticeRunner::NotifySite(const std::string& code, NoticeKind kind, TDateTime since) {
    if (WebhookDelivered(code, kind, since)) return true; // the webhook told it after the last try
    if (HeldByMaintenance(code)) return false;            // owed still: told once the window is over
    WriteLog("MAIL", NoticeLogLine(kind));
    m_showStatus("Notifying..");
    Notice notice;
    notice.Kind = kind;
    notice.Since = since;
    const bool delivered = Run(code, notice);
    m_showStatus("");
    return delivered;
}

bool NoticeRunner::NotifyWith(const std::string& code, const Notice& notice) {
    if (WebhookDelivered(code, notice.Kind, notice.Since, notice.Round)) return true;
    WriteLog("MAIL", NoticeLogLine(notice.Kind));
    m_showStatus("Notifying..");
    const bool delivered = Run(code, notice);
    m_showStatus("");
    return delivered;
}

bool NoticeRunner::Escalate(const std::string& code, const Notice& notice, const std::string& address) {
    Notice told = notice;
    FillSiteTexts(code, told);
    told.Time = Now();
    told.Daemon = DataModule()->VKTID;
    const AlertSettings settings = AlertSettings::Read(ConfigFileName());
    WriteLog("MAIL", NoticeLogLine(told.Kind));
    QueueChannels(told);
    AdminMailChannel mail(settings.MailServer, settings.MailSender, address);
    const std::string error = MailAway(mail, told);
    if (m_board && !settings.MailServer.empty()) m_board->NoticeSent(code, "mail", error.empty());
    WriteLog(error.empty() ? "MAIL" : "ERROR", error.empty() ? "Complete." : "Mail fail. " + error);
    return error.empty();
}

std::string NoticeRunner::MailAway(NoticeChannel& channel, const Notice& notice) {
    std::string error;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        if (!channel.Deliver(notice, error) && error.empty()) error = "not delivered";
        done.store(true);
        MainLoop().Wake();
    });
    // The channel is bounded by its own time-outs; the loop keeps serving meanwhile.
    while (!MainLoop().WaitUntil([&] { return done.load(); }, AdminNoticeGuard)) {
    }
    worker.join();
    return error;
}

bool NoticeRunner::Run(const std::string& code, const Notice& notice) {
    Notice told = notice;
    told.Daemon = DataModule()->VKTID;
    if (m_ackOf && told.Since != 0) told.Ack = m_ackOf(code, told.Since);
    TNotifyThread worker(
        DataModule()->conMain, code, [] { MainLoop().Wake(); }, told);
    const bool settled = MainLoop().WaitUntil([&] { return worker.Error() || worker.Done(); }, NotifyGuard);
    // Past the guard the mail still in progress is cancelled, so the worker ends at once and the
    // scan goes on; the notification counts as failed and is tried again at the next scan.
    if (!settled) worker.Cancel();
    // The worker may still be sending pop-ups after a mail error; its text is read once it has ended.
    WaitForWorkerEnd(worker);
    CountNotice(code, worker);
    // The webhook's and the channels' receivers are not waited for: the outbox sends after the scan
    // has gone on.
    if (worker.Composed()) QueueChannels(worker.Told());
    if (!settled) {
        WriteLog("ERROR", "Mail fail. Notification not finished within " + std::to_string(NotifyGuard.count() / 1000) +
                              " seconds");
        return false;
    }
    if (worker.Error()) WriteLog("ERROR", "Mail fail. " + worker.ErrorText());
    for (const std::string& failure : worker.PopupFailures())
        WriteLog("ERROR", "Mail fail. " + failure);
    // A pop-up that went nowhere must not read as done unless something else was delivered.
    if (!worker.Error() && (worker.PopupFailures().empty() || worker.Delivered())) WriteLog("MAIL", "Complete.");
    return worker.Delivered();
}

// Each channel counts what it did: a mail a server took or refused, pop-ups sent or not; a notice
// without contacts, or a mail that counts as done because no server is set, counts nothing.
void NoticeRunner::CountNotice(const std::string& code, const TNotifyThread& worker) {
    if (worker.MarkerStored()) Standing(code);
    if (!m_board) return;
    using Channel = TNotifyThread::Channel;
    if (worker.Mail() != Channel::Untried) m_board->NoticeSent(code, "mail", worker.Mail() == Channel::Sent);
    if (worker.Popups() != Channel::Untried) m_board->NoticeSent(code, "popup", worker.Popups() == Channel::Sent);
}

void NoticeRunner::NotifyAdmin(const AlertSettings& settings, NoticeKind kind, const std::string& text) {
    Notice notice;
    notice.Kind = kind;
    notice.Text = text;
    notice.Time = Now();
    notice.Daemon = DataModule()->VKTID;
    std::unique_ptr<AdminMailChannel> mail;
    if (!settings.Admin.empty())
        mail = std::make_unique<AdminMailChannel>(settings.MailServer, settings.MailSender, settings.Admin);
    QueueChannels(notice);
    std::string mailError;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        if (mail) mail->Deliver(notice, mailError);
        done.store(true);
        MainLoop().Wake();
    });
    // The mail is bounded by its own time-outs; the loop keeps serving meanwhile.
    while (!MainLoop().WaitUntil([&] { return done.load(); }, AdminNoticeGuard)) {
    }
    worker.join();
    if (!mailError.empty()) WriteLog("ERROR", "Mail fail. " + mailError);
}

void NoticeRunner::StoreMarker(const std::string& code) {
    AlarmRows(*DataModule()).StoreMarker(code, Now());
    m_markerStoredAt = DataModule()->conMain.Uses();
    Standing(code);
}

void NoticeRunner::Standing(const std::string& code) {
    if (m_board) m_board->NoticeStanding(code);
    if (OnNoticeStanding) OnNoticeStanding(code);
}

bool NoticeRunner::WebhookDelivered(const std::string& code, NoticeKind kind, TDateTime since, int round) {
    if (!m_outbox) return false;
    const auto& channels = m_outbox->Config().Channels;
    const auto webhook = std::find_if(channels.begin(), channels.end(), [](const auto& c) { return c.NotifyWebhook; });
    if (webhook == channels.end()) return false;
    Notice notice;
    notice.Kind = kind;
    notice.Code = code;
    notice.Since = since;
    notice.Round = round;
    notice.Daemon = DataModule()->VKTID;
    try {
        TDbQuery query(DataModule()->conMain);
        return m_outbox->Delivered(query, webhook->Name, notice);
    } catch (const std::exception& e) {
        LogStepError("Reading the webhook's notice of " + code, e);
        return false;
    }
}

void NoticeRunner::TakeChannelOutcomes() {
    ShowTraces(); // traces that ended between scans reach the board within a tick
    std::vector<Outcome> outcomes;
    {
        std::lock_guard<std::mutex> hold(m_outcomeLock);
        outcomes.swap(m_outcomes);
    }
    for (const Outcome& o : outcomes) {
        if (!o.NotifyWebhook) {
            if (m_board) m_board->ChannelNoticeSent(o.Kind, o.Channel, o.Delivered);
            continue;
        }
        if (m_board) m_board->NoticeSent(o.Told.Code, "webhook", o.Delivered);
        // A recovery or flapping notice is taken when the rules ask for it again.
        if (!o.Delivered || o.Told.Kind != NoticeKind::Problem || o.Told.Code.empty()) continue;
        try {
            StoreMarkerWhileDown(o.Told.Code);
        } catch (const std::exception& e) {
            LogStepError("Storing the notice of " + o.Told.Code, e); // the next scan finds it delivered
        }
    }
}

void NoticeRunner::StoreMarkerWhileDown(const std::string& code) {
    AlarmRows rows(*DataModule());
    if (rows.Marker(code)) return;       // told another way meanwhile
    if (!rows.OutageStart(code)) return; // the site answered meanwhile: its outage is over
    StoreMarker(code);
}

// The window ends by itself; the daemon then looks at the held sites again at once (MaintenanceKeeper).
bool NoticeRunner::HeldByMaintenance(const std::string& code) {
    if (m_maintenance == nullptr || !m_maintenance->Holds(code)) return false;
    if (m_maintenance->NoteHeld(code)) {
        WriteLog("MAIL", "Notice for " + code + " held: maintenance");
        if (m_outbox) {
            Notice held;
            held.Kind = NoticeKind::Maintenance;
            try {
                const std::optional<TDateTime> since = AlarmRows(*DataModule()).OutageStart(code);
                held.Since = since ? *since : Now();
            } catch (const std::exception&) {
                held.Since = Now(); // the notice still says the window holds it
            }
            TellChannels(code, held);
        }
    }
    return true;
}
