// The notification worker's body: contacts, mail, pop-ups and the marker hand-over.
#include "monitor/tnotifythread.h"

#include "db/alarmrows.h"
#include "db/data.h"
#include "mail/msident.h"
#include "platform/datetime.h"
#include "platform/mailslot.h"
#include "platform/msgloop.h"
#include "platform/profile.h"
#include "platform/strutil.h"

namespace {

constexpr int ContactByMail = 2;
constexpr int ContactByPopup = 3;
/// A mailslot message is at most this long, its closing NUL included.
constexpr std::size_t PopupLimit = 420;

std::string ReportTime() {
    return FormatDateTime("yyyy-mm-dd hh:nn:ss", Now());
}

} // namespace

std::string PopupContent(const std::string& target, const std::string& reportTime, const std::string& code,
                         const std::string& siteName, const std::string& address, NoticeKind kind) {
    Notice notice;
    notice.Kind = kind;
    notice.Code = code;
    notice.SiteName = siteName;
    std::string content = std::string("SENTROVA VIGILOR SYSTEM") + '\0' + target + '\0' + "\r\n" +
                          " Report Time: " + reportTime + "\r\n" + NoticePopupLine(notice) + "\r\n IP Address " +
                          address;
    content.resize(std::min(content.size(), PopupLimit));
    if (content.size() < PopupLimit) content += '\0';
    return content;
}

TNotifyThread::TNotifyThread(TDbConnection& connection, const std::string& code, std::function<void()> onFinished,
                             Notice notice)
    : m_siteQuery(connection), m_workQuery(connection), m_code(code), m_onFinished(std::move(onFinished)),
      m_notice(std::move(notice)) {
    m_smtp.SetTimeOut(MailTimeOut);
    m_thread = std::thread([this] { Execute(); });
}

TNotifyThread::~TNotifyThread() {
    if (m_thread.joinable()) m_thread.join();
}

void TNotifyThread::Execute() {
    try {
        Body();
    } catch (const std::exception& e) {
        Failed(e.what()); // a statement or the marker failed: the notification is retried next scan
    } catch (...) {
        Failed("Unexpected error in the notification worker");
    }
    m_running.store(false, std::memory_order_release);
    if (m_onFinished) m_onFinished();
}

void TNotifyThread::Body() {
    CollectSiteContacts();
    LoadMailSettings();
    OpenSiteRows(m_workQuery, m_code);
    if (!m_workQuery.Eof()) {
        ComposeMail();
        m_composed = true;
        const bool mailed = SendMail();
        const bool popped = SendPopups();
        m_delivered = mailed || popped;
        // A recovery or flapping notice leaves the rows alone: the policy keeps what it owes.
        if (m_delivered && m_notice.Kind == NoticeKind::Problem) {
            MainLoop().RunAndWait([this] { StoreMailedMarker(); });
            m_markerStored = true;
        }
    }
    m_done.store(true, std::memory_order_release);
}

void TNotifyThread::CollectSiteContacts() {
    OpenSiteRows(m_siteQuery, m_code);
    if (m_siteQuery.Eof()) return;
    AddContact(m_siteQuery);
    AddOperatorContact(VarToStrTrim(m_siteQuery.FieldByName("owner")));
}

void TNotifyThread::AddOperatorContact(const std::string& owner) {
    const std::size_t comma = owner.find(',');
    const std::string surname = comma == std::string::npos ? std::string() : Trim(owner.substr(0, comma));
    const std::string firstName = Trim(comma == std::string::npos ? owner : owner.substr(comma + 1));
    OpenStatement(m_workQuery, {"SELECT * FROM operator WHERE surname = " + SQLLiteral(surname) +
                                " AND firstname = " + SQLLiteral(firstName) + " "});
    if (!m_workQuery.Eof()) AddContact(m_workQuery);
}

void TNotifyThread::AddContact(const TDbQuery& row) {
    const long long flag = VarToIntDef(row.FieldByName("contactflag"));
    if (flag == ContactByMail) m_mailList.push_back(VarToStrTrim(row.FieldByName("email")));
    if (flag == ContactByPopup) m_popupList.push_back(VarToStrTrim(row.FieldByName("ext")));
}

void TNotifyThread::LoadMailSettings() {
    TIniFile ini(ConfigFileName());
    m_smtp.SetHost(ShortText(ini.ReadString("Mail", "Server", "")));
    m_message.Sender().SetAddress(SenderOrDefault(ini.ReadString("Mail", "Sender", "")));
}

void TNotifyThread::ComposeMail() {
    m_message.Recipients().Clear();
    for (const std::string& address : m_mailList)
        m_message.Recipients().AddAddress(address, "");
    m_message.Sender().SetName("Sentrova Vigilor System");
    m_message.SetSubject(NoticeSubject(m_notice.Kind));
    const TDbQuery& site = m_workQuery;
    m_notice.Code = VarToStrTrim(site.FieldByName("code"));
    m_notice.SiteName = VarToStrTrim(site.FieldByName("sitename"));
    m_notice.Address = VarToStrTrim(site.FieldByName("IPaddr"));
    m_notice.Time = Now();
    TmsStrings& body = m_message.Body();
    body.clear();
    for (const std::string& line : NoticeMailBody(m_notice))
        body.push_back(line);
}

bool TNotifyThread::SendMail() {
    if (m_message.Recipients().Count() == 0) return false;
    m_smtp.SetMailMessage(&m_message);
    if (m_smtp.Host().empty()) return true; // no server configured: counts as done
    try {
        m_smtp.Send();
        m_mail = Channel::Sent;
        return true;
    } catch (const std::exception& e) {
        m_mail = Channel::Failed;
        Failed(e.what());
        return false;
    }
}

bool TNotifyThread::SendPopups() {
    bool delivered = false;
    for (const std::string& target : m_popupList) {
        try {
            if (SendPopup(target)) delivered = true;
        } catch (const std::exception& e) {
            Failed(e.what());
        }
    }
    if (!m_popupList.empty()) m_popups = delivered ? Channel::Sent : Channel::Failed;
    return delivered;
}

bool TNotifyThread::SendPopup(const std::string& target) {
    const TDbQuery& site = m_workQuery;
    const std::string content = PopupContent(target, ReportTime(), VarToStrTrim(site.FieldByName("code")),
                                             VarToStrTrim(site.FieldByName("sitename")),
                                             VarToStrTrim(site.FieldByName("IPAddr")), m_notice.Kind);
    TMailslotWriter slot;
    const bool sent = slot.Open("\\\\" + target + "\\mailslot\\messngr") && slot.Write(content) == content.size();
    if (!sent) m_popupFailures.push_back("Pop-up to " + target + ": " + slot.LastError());
    slot.Close();
    return sent;
}

void TNotifyThread::StoreMailedMarker() {
    AlarmRows(m_workQuery).StoreMarker(m_code, Now());
}

void TNotifyThread::Failed(const std::string& message) {
    m_errorText = message;
    m_error.store(true, std::memory_order_release);
}
