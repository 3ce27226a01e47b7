// The SMTP client: delivers one mail message with the greeting, HELO, MAIL FROM, RCPT TO, DATA
// and QUIT dialogue over a client socket.
#pragma once

#include "mail/msmsg.h"
#include "net/mssocket.h"

#include <functional>
#include <string>

/// A mail send that cannot start: no host, no message, an address that is not safe to send.
class EmsError : public Exception {
public:
    using Exception::Exception;
};

/// The server answered with an unexpected code; the message is the server's reply line.
class EmsServerError : public Exception {
public:
    using Exception::Exception;
};

class TmsSMTPClient : public TmsClientSocket {
public:
    using TmsSMTPEvent = std::function<void(TmsSMTPClient* Sender)>;
    /// A recipient the server did not accept; set Proceed to go on with the other recipients.
    using TmsAddressRejectEvent = std::function<void(TmsSMTPClient* Sender, const std::string& TheAddress,
                                                     const std::string& ServerReply, bool& Proceed)>;

    TmsSMTPClient();
    ~TmsSMTPClient() override;

    /// The message to send; not owned, and forgotten when the message is destroyed.
    TmsMessage* MailMessage() const { return m_message; }
    void SetMailMessage(TmsMessage* message);

    /// Before the message is rendered.
    TmsSMTPEvent OnPreparing;
    /// Before MAIL FROM.
    TmsSMTPEvent OnSending;
    /// After the server accepted the message data.
    TmsSMTPEvent OnSent;
    TmsAddressRejectEvent OnAddressRejected;

    /// The value of the reply's first three characters, or -1 when they are not a number.
    int GetReplyCode(const std::string& line) override;
    /// Refuses an empty Host before any network activity, then connects.
    void Connect() override;
    /// Delivers MailMessage; returns when the dialogue ended with QUIT, throws otherwise
    /// (EmsError, EmsServerError, EmsTimedOutError, EmsCanceledError, EWinsockError).
    void Send();

private:
    void CheckBeforeSend() const;
    void Greet();
    void Transaction();
    int SendRecipients();
    void SendData(std::istream& rendered);
    void Quit();
    void Command(const std::string& line, int expected);
    [[noreturn]] void Fail() const;
    void Forget();

    TmsMessage* m_message = nullptr;
    int m_destroyKey = 0;
    int m_rejected = 0;
};
