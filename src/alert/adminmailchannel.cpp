// The administrator's mail: the site notice's frame, sender and server settings.
#include "alert/adminmailchannel.h"

#include "mail/msident.h"
#include "mail/mssmtp.h"

bool AdminMailChannel::Deliver(const Notice& notice, std::string& error) {
    TmsMessage message;
    message.Recipients().AddAddress(m_admin, "");
    message.Sender().SetName("Sentrova Vigilor System");
    message.Sender().SetAddress(SenderOrDefault(m_sender));
    message.SetSubject(NoticeSubject(notice.Kind));
    for (const std::string& line : NoticeMailBody(notice))
        message.Body().push_back(line);
    if (m_server.empty()) return true;
    TmsSMTPClient smtp;
    smtp.SetTimeOut(2);
    smtp.SetHost(ShortText(m_server));
    smtp.SetMailMessage(&message);
    try {
        smtp.Send();
        return true;
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
}
