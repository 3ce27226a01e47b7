// The header writers of the mail message and news article encoders.
#include "mail/mspars.h"

#include "mail/msident.h"
#include "platform/strutil.h"

#include <algorithm>

namespace {

constexpr std::size_t LabelWidth = 10;

std::string Mailbox(const TmsMailAddress& address) {
    return " <" + address.Address() + ">";
}

bool HasHeader(const TmsHeaders& headers, const std::string& name) {
    return std::any_of(headers.begin(), headers.end(),
                       [&](const std::string& line) { return StartsWithText(line, name + ":"); });
}

} // namespace

std::string TmsMessageEncoder::DisplayName(const std::string& name) const {
    bool quote = name.find('.') != std::string::npos && name.find('"') == std::string::npos;
    return HeaderText(quote ? "\"" + name + "\"" : name);
}

void TmsMessageEncoder::WriteAddressList(const std::string& name, const TmsAddressList& list) {
    std::string label = name.empty() || name.back() != ':' ? name + ":" : name;
    label.resize(std::max(label.size(), LabelWidth), ' ');
    for (int i = 0; i < list.Count(); ++i) {
        const TmsMailAddress& address = list.Items(i);
        std::string line = i == 0 ? label : std::string(LabelWidth, ' ');
        line += DisplayName(address.Name()) + Mailbox(address);
        if (i + 1 < list.Count()) line += ',';
        EmitHeaderLine(line);
    }
}

void TmsMessageEncoder::WriteHeaders() {
    const TmsMailAddress& sender = m_mail.Sender();
    EmitHeaderLine("From:     " + DisplayName(sender.Name()) + Mailbox(sender));
    WriteAddressList("To", m_mail.Recipients());
    WriteAddressList("CC", m_mail.CC());
    if (m_mail.ReturnReceipt) EmitHeaderLine("Return-Receipt-To: <" + sender.Address() + ">");
    if (m_mail.Priority == ptHigh)
        EmitLine("X-Priority: 1");
    else if (m_mail.Priority == ptLow)
        EmitLine("X-Priority: 5");
    WriteExtraHeaders();
    if (!m_mail.Subject().empty()) EmitHeaderLine("Subject: " + HeaderText(m_mail.Subject()));
    if (m_mail.Encoding() == meMIME) EmitLine("Mime-Version: 1.0");
    WriteDateAndId();
}

// Receivers refuse or drop mail without a date or an identifier; extra header lines that carry
// their own (a stored message sent again) keep them.
void TmsMessageEncoder::WriteDateAndId() {
    if (!HasHeader(m_mail.Headers(), "Date")) EmitLine("Date: " + MailDate(GetClock().Now()));
    if (!HasHeader(m_mail.Headers(), "Message-ID")) EmitLine("Message-ID: " + NewMessageId());
}

void TmsArticleEncoder::WriteHeaders() {
    const TmsMailAddress& sender = m_article.Sender();
    EmitHeaderLine("From:     " + HeaderText(sender.Name()) + Mailbox(sender));
    EmitHeaderLine("Newsgroups: " + m_article.NewsGroups);
    WriteExtraHeaders();
    if (!m_article.Subject().empty()) EmitHeaderLine("Subject:  " + HeaderText(m_article.Subject()));
    if (m_article.Encoding() == meMIME) EmitLine("Mime-Version: 1.0");
}
