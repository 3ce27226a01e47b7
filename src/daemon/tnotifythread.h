// The notification worker: collects a lost site's contacts, mails them through the configured
// SMTP server, writes Messenger pop-ups to their mailslots and has the marker row stored.
#pragma once

#include "alert/noticechannel.h"
#include "db/common.h"
#include "db/dbaccess.h"
#include "mail/msmsg.h"
#include "mail/mssmtp.h"

#include <atomic>
#include <functional>
#include <string>
#include <thread>

/// The pop-up bytes for one target: sender, NUL, target, NUL, CR LF, the report text; cut to
/// 420 bytes, with a closing NUL when it fits.
std::string PopupContent(const std::string& target, const std::string& reportTime, const std::string& code,
                         const std::string& siteName, const std::string& address,
                         NoticeKind kind = NoticeKind::Problem);

/// One notification; the creator waits for Done() or Error(), then destroys it (which waits for the
/// thread to end). Statement errors, send errors and a failed marker all end up in Error()/ErrorText().
class TNotifyThread {
public:
    /// Builds the worker on the user-interface thread with its queries on `connection` and starts it;
    /// `onFinished` is called on the worker's thread after Running() turned false. `notice` gives the kind,
    /// the outage's start and the daemon (the site's texts come from its row); only a problem notice
    /// stores the marker. `webhook`, when given, receives the notice too.
    TNotifyThread(TDbConnection& connection, const std::string& code, std::function<void()> onFinished = {},
                  Notice notice = {}, NoticeChannel* webhook = nullptr);
    ~TNotifyThread();
    TNotifyThread(const TNotifyThread&) = delete;
    TNotifyThread& operator=(const TNotifyThread&) = delete;

    bool Done() const { return m_done.load(std::memory_order_acquire); }
    bool Error() const { return m_error.load(std::memory_order_acquire); }
    bool Running() const { return m_running.load(std::memory_order_acquire); }
    /// Stops a mail send in progress (it fails with "Operation has been canceled"). Any thread.
    void Cancel() { m_smtp.Cancel(); }
    /// The message of the last error; read it once the thread has ended.
    const std::string& ErrorText() const { return m_errorText; }
    /// Whether the mail, a pop-up or the webhook was delivered; read it once the thread has ended.
    bool Delivered() const { return m_delivered; }
    /// Why the webhook failed (empty when it did not); read it once the thread has ended.
    const std::string& WebhookError() const { return m_webhookError; }

    /// Seconds of server silence after which a send fails.
    static constexpr int MailTimeOut = 2;

private:
    void Execute();
    void Body();
    void CollectSiteContacts();
    void AddOperatorContact(const std::string& owner);
    void AddContact(const TDbQuery& row);
    void LoadMailSettings();
    void ComposeMail();
    bool SendMail();
    bool SendPopups();
    bool SendPopup(const std::string& target);
    bool SendWebhook();
    void StoreMailedMarker();
    void Failed(const std::string& message);

    TmsSMTPClient m_smtp;
    TmsMessage m_message;
    TDbQuery m_siteQuery;
    TDbQuery m_workQuery;
    TStringList m_mailList;
    TStringList m_popupList;
    std::string m_code;
    std::string m_errorText;
    std::function<void()> m_onFinished;
    Notice m_notice;
    NoticeChannel* m_webhook;
    std::string m_webhookError;
    bool m_delivered = false;
    std::atomic<bool> m_done{false};
    std::atomic<bool> m_error{false};
    std::atomic<bool> m_running{true};
    std::thread m_thread;
};
