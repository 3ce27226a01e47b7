// The notices of a site's outage and the administrator's: the notification worker run under its guard,
// the outbox of the [Notify] Webhook and the [Channel] sections beside it, the marker row that says a
// notice stands, and what each channel did counted on the status board. On the user-interface thread;
// the loop keeps serving while it waits.
#pragma once

#include "alert/alertsettings.h"
#include "alert/notice.h"
#include "alert/noticechannel.h"
#include "db/alarmrows.h"
#include "monitor/noticeoutbox.h"
#include "platform/datetime.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class PathTracer;
class MaintenanceBook;
class TNotifyThread;
class TSiteResultSink;

class NoticeRunner {
public:
    /// `showStatus` puts a text on the console's status line.
    explicit NoticeRunner(std::function<void(const std::string&)> showStatus);
    ~NoticeRunner();
    NoticeRunner(const NoticeRunner&) = delete;
    NoticeRunner& operator=(const NoticeRunner&) = delete;

    /// Where the notices and traces are counted (the status board); none: nothing is counted.
    void UseBoard(TSiteResultSink* board) { m_board = board; }
    /// The maintenance windows that hold the sites' notices (none: nothing is held).
    void HoldDuringMaintenance(MaintenanceBook* book) { m_maintenance = book; }

    /// Sends the notices to the [Notify] Webhook and the [Channel] sections through the outbox as well
    /// (no channels: none); a change restarts the senders, whose rows stay queued.
    void UseChannels(NoticeOutbox::Settings settings);

    /// A notice for the [Channel] sections alone (acknowledged, held by maintenance), with the site's
    /// texts; mail and pop-ups never tell it.
    void TellChannels(const std::string& code, const Notice& notice);

    /// Whether the site's problem notice is due; `since` becomes its outage's start. A notice told
    /// already counts as standing on the board. `known`: the site's rows as already read (none: they
    /// are read here). Statement errors are raised.
    bool ProblemDue(const std::string& code, TDateTime& since, const NoticeRows* known = nullptr);
    /// The site's problem notice when it is due: "Notifying ...", the worker, its outcome.
    /// Statement errors are raised.
    void NotifyProblem(const std::string& code, const NoticeRows* known = nullptr);
    /// Whether a marker row was stored here (not by a notification worker, which stores only its own
    /// site's) since the connection's count of uses was `uses`.
    bool MarkerStoredSince(std::uint64_t uses) const { return m_markerStoredAt > uses; }
    /// A notice of `kind` to the site's contacts; true when it was delivered (also by the webhook,
    /// after an earlier try, before a restart too).
    bool NotifySite(const std::string& code, NoticeKind kind, TDateTime since);
    /// Runs a notification worker for the site and logs its outcome; true when it was delivered.
    bool Run(const std::string& code, const Notice& notice);
    /// A notice built by the caller (a reminder, a degraded or normal notice) to the site's contacts:
    /// its "[MAIL]" line, the worker, its outcome; true when it was delivered.
    bool NotifyWith(const std::string& code, const Notice& notice);
    /// An escalation: the notice with the site's texts mailed to `address` alone; true when delivered.
    /// Statement errors are raised.
    bool Escalate(const std::string& code, const Notice& notice, const std::string& address);
    /// How a site notice learns its outage's acknowledgement (none: notices carry none).
    void UseAcknowledgements(std::function<Acknowledgement(const std::string& code, TDateTime since)> ackOf) {
        m_ackOf = std::move(ackOf);
    }
    /// A notice of the daemon's own to the administrator ([Mail] Admin) and the webhook.
    void NotifyAdmin(const AlertSettings& settings, NoticeKind kind, const std::string& text);

    /// With `on`, sites that fail after answering get path traces ([Alert] Trace); off drops them.
    void UseTrace(bool on);
    /// A site address's result, for the traces; finished traces go to the board.
    void SiteProbed(const std::string& code, const std::string& address, bool answered);
    /// Puts the traces finished since the last call on the board.
    void ShowTraces();

    /// Stores the site's marker row without telling anyone; the notice counts as standing.
    void StoreMarker(const std::string& code);
    /// Counts what the webhook and the channels did since the last call; a problem notice that the
    /// webhook delivered gets its marker row while the outage lasts.
    void TakeChannelOutcomes();

    /// Told whenever a site's notice is found or stored as standing (the site's history notes it).
    std::function<void(const std::string& code)> OnNoticeStanding;

private:
    void Standing(const std::string& code);
    void CountNotice(const std::string& code, const TNotifyThread& worker);
    /// Whether the [Notify] Webhook's receiver took this notice (as the outbox has it): then it has
    /// been told. A statement error is logged and counts as not taken.
    bool WebhookDelivered(const std::string& code, NoticeKind kind, TDateTime since, int round = 0);
    /// Sends a mail on a thread of its own while the loop keeps serving; the error text, or empty.
    static std::string MailAway(NoticeChannel& channel, const Notice& notice);
    void StoreMarkerWhileDown(const std::string& code);
    /// Writes the notice's outbox rows for the channels; a statement error is logged, not raised.
    void QueueChannels(const Notice& told);
    /// Whether a maintenance window holds the site's notices now; says so once per hold.
    bool HeldByMaintenance(const std::string& code);

    std::function<void(const std::string&)> m_showStatus;
    TSiteResultSink* m_board = nullptr;
    /// One sender's attempt, handed to this thread (the senders touch nothing else of ours).
    struct Outcome {
        std::string Kind, Channel;
        bool NotifyWebhook = false;
        Notice Told;
        bool Delivered = false;
    };
    std::mutex m_outcomeLock;
    std::vector<Outcome> m_outcomes;
    /// After what its senders report to, so that they have ended before that goes.
    std::unique_ptr<NoticeOutbox> m_outbox;
    std::unique_ptr<PathTracer> m_tracer;
    std::function<Acknowledgement(const std::string& code, TDateTime since)> m_ackOf;
    MaintenanceBook* m_maintenance = nullptr;
    /// The connection's count of uses after the last marker row StoreMarker stored.
    std::uint64_t m_markerStoredAt = 0;
};
