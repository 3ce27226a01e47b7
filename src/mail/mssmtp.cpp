// The SMTP dialogue of one send, the checks that keep unsafe addresses off the wire, and the
// temporary file the message is rendered into.
#include "mail/mssmtp.h"

#include "net/msutils.h"
#include "platform/strutil.h"

namespace {

const char* const SmtpAddressLists[] = {"Recipients", "CC", "BCC"};

const TmsAddressList& AddressList(const TmsMessage& message, int which) {
    return which == 0 ? message.Recipients() : which == 1 ? message.CC() : message.BCC();
}

// Control bytes shown as \r, \n, \0 so that the refusal names the text readably.
std::string Printable(const std::string& text) {
    std::string shown;
    for (char c : text) {
        if (c == '\r')
            shown += "\\r";
        else if (c == '\n')
            shown += "\\n";
        else if (c == '\0')
            shown += "\\0";
        else
            shown += c;
    }
    return shown;
}

// An address or name from a database row must not be able to add commands or header lines.
void CheckAddress(const TmsMailAddress& address, const char* role) {
    const std::string& mailbox = address.Address();
    if (mailbox.find_first_of(std::string("\r\n\0<>", 5)) != std::string::npos)
        throw EmsError(std::string("Mail address refused (") + role +
                       " holds CR, LF, NUL, < or >): " + Printable(mailbox));
    if (address.Name().find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
        throw EmsError(std::string("Mail address refused (") + role +
                       " name holds CR, LF or NUL): " + Printable(address.Name()));
}

} // namespace

TmsSMTPClient::TmsSMTPClient() {
    DefaultPort = 25;
    Port = 25;
}

TmsSMTPClient::~TmsSMTPClient() {
    Forget();
}

void TmsSMTPClient::SetMailMessage(TmsMessage* message) {
    Forget();
    m_message = message;
    if (m_message != nullptr) m_destroyKey = m_message->AddDestroyHandler([this] { m_message = nullptr; });
}

void TmsSMTPClient::Forget() {
    if (m_message != nullptr) m_message->RemoveDestroyHandler(m_destroyKey);
    m_message = nullptr;
}

int TmsSMTPClient::GetReplyCode(const std::string& line) {
    int code = 0;
    return line.size() >= 3 && TryStrToInt(line.substr(0, 3), code) ? code : -1;
}

void TmsSMTPClient::Connect() {
    if (Host().empty()) throw EmsError("Host property must be assigned");
    TmsClientSocket::Connect();
}

void TmsSMTPClient::Send() {
    CheckBeforeSend();
    Connect();
    Greet();
    try {
        Transaction();
        Quit();
    } catch (const EmsServerError&) {
        Quit(); // the server hears QUIT after a refused command; a failing QUIT replaces the error
        throw;
    }
}

void TmsSMTPClient::CheckBeforeSend() const {
    if (Host().empty()) throw EmsError("Host property must be assigned");
    if (m_message == nullptr) throw EmsError("MailMessage property must be assigned");
    CheckAddress(m_message->Sender(), "Sender");
    for (int list = 0; list < 3; ++list)
        for (int i = 0; i < AddressList(*m_message, list).Count(); ++i)
            CheckAddress(AddressList(*m_message, list).Items(i), SmtpAddressLists[list]);
}

void TmsSMTPClient::Greet() {
    if (ReadResponse() != 220) Fail();
    WriteLine("HELO " + Winsock->GetLocalHostName());
    if (ReadResponse() == 250) return;
    WriteLine("HELO");
    int code = ReadResponse();
    if (code < 200 || code > 300) Fail();
}

// Everything between HELO and QUIT; the rendered message lives in a temporary file that is
// deleted when this returns or throws.
void TmsSMTPClient::Transaction() {
    TmsTempFileStream rendered;
    if (OnPreparing) OnPreparing(this);
    m_message->SaveToStream(rendered);
    rendered.flush();
    if (!rendered) throw EInOutError("Cannot write the message to " + rendered.FileName());
    if (OnSending) OnSending(this);
    m_rejected = 0;
    Command("MAIL FROM:<" + m_message->Sender().Address() + ">", 250);
    int offered = SendRecipients();
    if (m_rejected < offered) // every recipient refused (or none at all): no message data
        SendData(rendered);
}

// Returns how many recipients were offered; m_rejected counts those the server refused.
int TmsSMTPClient::SendRecipients() {
    int offered = 0;
    for (int list = 0; list < 3; ++list) {
        const TmsAddressList& addresses = AddressList(*m_message, list);
        for (int i = 0; i < addresses.Count(); ++i, ++offered) {
            const std::string& mailbox = addresses.Items(i).Address();
            WriteLine("RCPT TO:<" + mailbox + ">");
            int code = ReadResponse();
            if (code == 250 || code == 251) continue;
            ++m_rejected;
            bool proceed = false;
            if (OnAddressRejected) OnAddressRejected(this, mailbox, LastReply, proceed);
            if (!proceed) Fail();
        }
    }
    return offered;
}

void TmsSMTPClient::SendData(std::istream& rendered) {
    Command("DATA", 354);
    SendStream(rendered, 0);
    WriteLine("");
    WriteLine(".");
    if (ReadResponse() != 250) Fail();
    if (OnSent) OnSent(this);
}

void TmsSMTPClient::Quit() {
    Command("QUIT", 221);
    Close();
}

void TmsSMTPClient::Command(const std::string& line, int expected) {
    WriteLine(line);
    if (ReadResponse() != expected) Fail();
}

// A server that closes instead of answering leaves no reply line; the error names that instead
// of carrying an empty text.
void TmsSMTPClient::Fail() const {
    if (LastReply.empty() && Disconnected()) throw EmsServerError("Connection closed by the server");
    if (LastReply.empty()) throw EmsServerError("Empty reply from the server");
    throw EmsServerError(LastReply);
}
