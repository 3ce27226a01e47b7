// The notification worker: collects a lost site's contacts, mails them through the configured
// SMTP server, writes Messenger pop-ups to their mailslots and has the marker row stored.
#pragma once

#include "alert/notice.h"
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

/// One notification by mail and pop-up; the creator waits for Done() or Error(), then destroys it (which
/// waits for the thread to end). Statement errors, send errors and a failed marker all end up in
/// Error()/ErrorText().
class TNotifyThread {
public:
    /// What a channel did with the notice.
    enum class Channel { Untried, Sent, Failed };

    /// Builds the worker on the user-interface thread with its queries on `connection` and starts it;
    /// `onFinished` is called on the worker's thread after Running() turned false. `notice` gives the kind,
    /// the outage's start and the daemon (the site's texts come from its row); only a problem notice
    /// stores the marker.
    TNotifyThread(TDbConnection& connection, const std::string& code, std::function<void()> onFinished = {},
                  Notice notice = {});
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
    /// Whether the mail or a pop-up was delivered; read it once the thread has ended.
    bool Delivered() const { return m_delivered; }
    /// The mail: Sent only when a server took it (a mail without a server counts as done but is not
    /// sent); read it once the thread has ended.
    Channel Mail() const { return m_mail; }
    /// The pop-ups: Sent when at least one target got its pop-up; read it once the thread has ended.
    Channel Popups() const { return m_popups; }
    /// The notice with the site's texts from its row; false when the row was not found (nothing was
    /// composed). Read them once the thread has ended.
    bool Composed() const { return m_composed; }
    /// The marker row was stored; read it once the thread has ended.
    bool MarkerStored() const { return m_markerStored; }
    const Notice& Told() const { return m_notice; }
    /// "Pop-up to <target>: <reason>" for every pop-up that could not be sent; read once the thread has ended.
    const TStringList& PopupFailures() const { return m_popupFailures; }

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
    TStringList m_popupFailures;
    std::function<void()> m_onFinished;
    Notice m_notice;
    bool m_delivered = false;
    bool m_composed = false;
    bool m_markerStored = false;
    Channel m_mail = Channel::Untried;
    Channel m_popups = Channel::Untried;
    std::atomic<bool> m_done{false};
    std::atomic<bool> m_error{false};
    std::atomic<bool> m_running{true};
    std::thread m_thread;
};
