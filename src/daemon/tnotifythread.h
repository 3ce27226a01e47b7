// The notification worker: collects a lost site's contacts, mails them through the configured
// SMTP server, writes Messenger pop-ups to their mailslots and has the marker row stored.
#pragma once

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
                         const std::string& siteName, const std::string& address);

/// One notification; the creator waits for Done() or Error(), then destroys it (which waits for the
/// thread to end). Statement errors, send errors and a failed marker all end up in Error()/ErrorText().
class TNotifyThread {
public:
    /// Builds the worker on the user-interface thread with its queries on `connection` and starts it;
    /// `onFinished` is called on the worker's thread after Running() turned false.
    TNotifyThread(TDbConnection& connection, const std::string& code, std::function<void()> onFinished = {});
    ~TNotifyThread();
    TNotifyThread(const TNotifyThread&) = delete;
    TNotifyThread& operator=(const TNotifyThread&) = delete;

    bool Done() const { return m_done.load(std::memory_order_acquire); }
    bool Error() const { return m_error.load(std::memory_order_acquire); }
    bool Running() const { return m_running.load(std::memory_order_acquire); }
    /// The message of the last error; read it once the thread has ended.
    const std::string& ErrorText() const { return m_errorText; }
    /// "Pop-up to <target>: <reason>" for every pop-up that could not be sent; read once the thread has ended.
    const TStringList& PopupFailures() const { return m_popupFailures; }
    /// Whether the mail or a pop-up counted as done (the marker is then stored); read once the thread has ended.
    bool Delivered() const { return m_delivered; }

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
    bool m_delivered = false;
    std::function<void()> m_onFinished;
    std::atomic<bool> m_done{false};
    std::atomic<bool> m_error{false};
    std::atomic<bool> m_running{true};
    std::thread m_thread;
};
