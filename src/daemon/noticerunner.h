// The notices of a site's outage and the administrator's: the notification worker run under its guard,
// the webhook queue beside it, the marker row that says a notice stands, and what each channel did
// counted on the status board. On the user-interface thread; the loop keeps serving while it waits.
#pragma once

#include "alert/alertsettings.h"
#include "alert/notice.h"
#include "alert/webhookqueue.h"
#include "platform/datetime.h"

#include <functional>
#include <memory>
#include <string>

class TNotifyThread;
class TSiteResultSink;

class NoticeRunner {
public:
    /// `showStatus` puts a text on the console's status line; `board` is the console's status board
    /// pointer, read at every use (null: nothing is counted).
    NoticeRunner(std::function<void(const std::string&)> showStatus, TSiteResultSink* const& board);
    ~NoticeRunner();
    NoticeRunner(const NoticeRunner&) = delete;
    NoticeRunner& operator=(const NoticeRunner&) = delete;

    /// Sends notices to the webhook at `url` as well (empty: none); a changed address drops what the
    /// old queue still held.
    void UseWebhook(const std::string& url);

    /// Whether the site's problem notice is due; `since` becomes its outage's start. A notice told
    /// already counts as standing on the board. Statement errors are raised.
    bool ProblemDue(const std::string& code, TDateTime& since);
    /// The site's problem notice when it is due: "Notifying ...", the worker, its outcome.
    /// Statement errors are raised.
    void NotifyProblem(const std::string& code);
    /// A notice of `kind` to the site's contacts; true when it was delivered (also by the webhook,
    /// after an earlier try).
    bool NotifySite(const std::string& code, NoticeKind kind, TDateTime since);
    /// Runs a notification worker for the site and logs its outcome; true when it was delivered.
    bool Run(const std::string& code, const Notice& notice);
    /// A notice of the daemon's own to the administrator ([Mail] Admin) and the webhook.
    void NotifyAdmin(const AlertSettings& settings, NoticeKind kind, const std::string& text);

    /// Stores the site's marker row without telling anyone; the notice counts as standing.
    void StoreMarker(const std::string& code);
    /// Logs and counts what the webhook did since the last call; a problem notice that it alone
    /// delivered gets its marker row while the outage lasts.
    void TakeWebhookOutcomes();

    /// Told whenever a site's notice is found or stored as standing (the site's history notes it).
    std::function<void(const std::string& code)> OnNoticeStanding;

private:
    void Standing(const std::string& code);
    void CountNotice(const std::string& code, const TNotifyThread& worker);
    /// Whether the webhook delivered this notice, which no other way did: then it has been told.
    bool TakeWebhookDelivery(const std::string& code, NoticeKind kind, TDateTime since);
    /// Queues a site's notice for the webhook; `toldElsewhere`: the mail or a pop-up delivered it.
    void QueueWebhook(const std::string& code, const Notice& told, bool toldElsewhere);
    void StoreMarkerWhileDown(const std::string& code);

    std::function<void(const std::string&)> m_showStatus;
    TSiteResultSink* const& m_board;
    std::unique_ptr<WebhookQueue> m_webhooks;
    std::string m_webhookUrl;
    long long m_adminNotices = 0;
};
