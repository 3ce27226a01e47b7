// The mail message classes: content type rules, validation, copying and header reading.
#include "mail/msmsg.h"

#include "mail/mspars.h"
#include "platform/strutil.h"

#include <algorithm>
#include <istream>

namespace {

std::string AttachmentName(const TmsAttItem& item) {
    return LowerCase(ExtractMailFileName(item.FileName()));
}

bool AllAlternative(const TmsAttList& attachments) {
    for (int i = 0; i < attachments.Count(); ++i)
        if (AttachmentName(attachments.Items(i)).rfind("_alt.", 0) != 0) return false;
    return attachments.Count() > 0;
}

bool HasAnyAddress(const TmsAddressList& list) {
    for (int i = 0; i < list.Count(); ++i)
        if (!list.Items(i).Address().empty()) return true;
    return false;
}

/// Parses every single address of the headers called `name` into `list`.
void AddHeaderAddresses(const TmsHeaders& headers, const char* name, TmsAddressList& list) {
    TmsStrings texts;
    GetHeaderAddresses(headers, name, texts);
    for (const auto& text : texts) {
        auto address = std::make_unique<TmsMailAddress>();
        ParseMailAddress(text, *address);
        list.Add(std::move(address));
    }
}

std::string ReadLine(std::istream& stream, bool& ok) {
    std::string line;
    ok = static_cast<bool>(std::getline(stream, line));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

} // namespace

std::string MailString(int id) {
    switch (id) {
    case SSenderRequired:
        return "The address of sender is required";
    case SRecipientRequired:
        return "At least one Recipient, CC or BCC must be entered";
    case SMultipartPreamble:
        return "This is a multipart message in MIME format";
    case SNewsgroupRequired:
        return "Newsgroup header is required";
    case SSubjectRequired:
        return "Subject header is required";
    default:
        return std::string();
    }
}

TmsCustomMessage::~TmsCustomMessage() {
    auto handlers = std::move(m_destroyHandlers);
    for (auto& entry : handlers)
        entry.second();
}

void TmsCustomMessage::SetAttachments(const TmsAttList& attachments) {
    m_attachments.Assign(attachments);
    m_contentType = m_attachments.Count() > 0 ? "multipart/mixed" : "text/plain";
}

std::string TmsCustomMessage::ContentType() const {
    m_contentType = ComputeContentType();
    return m_contentType;
}

void TmsCustomMessage::SetContentType(std::string_view contentType) {
    m_contentType = LowerCase(ShortText(contentType));
}

// The first rule that applies wins: uuencoded messages have none; all-"_alt." attachments make an
// alternative; a lone "_rtfbody.rtf" or "_htmbody.htm" without body text is the body; body text
// with attachments is mixed, without them it keeps the type its user set; without body text a
// single attachment gives its own type.
std::string TmsCustomMessage::ComputeContentType() const {
    int count = m_attachments.Count();
    if (m_encoding == meUU) return std::string();
    if (AllAlternative(m_attachments)) return "multipart/alternative";
    if (count == 1 && m_body.empty()) {
        std::string name = AttachmentName(m_attachments.Items(0));
        if (name == "_rtfbody.rtf") return "text/rtf";
        if (name == "_htmbody.htm") return "text/html";
    }
    if (!m_body.empty()) return count > 0 ? "multipart/mixed" : m_contentType.empty() ? "text/plain" : m_contentType;
    if (count == 1) return m_attachments.Items(0).ContentType();
    return count == 0 ? "text/plain" : "multipart/mixed";
}

void TmsCustomMessage::Validate() const {
    if (m_sender.Address().empty()) throw EMessageError(MailString(SSenderRequired));
}

void TmsCustomMessage::LoadFromStream(std::istream& stream) {
    Clear();
    TmsHeaders headers;
    bool ok = true;
    for (std::string line = ReadLine(stream, ok); ok && !line.empty(); line = ReadLine(stream, ok))
        headers.push_back(line);
    ReadHeaders(headers);
    for (std::string line = ReadLine(stream, ok); ok; line = ReadLine(stream, ok))
        m_body.push_back(line);
}

void TmsCustomMessage::Clear() {
    m_body.clear();
    m_attachments.Clear();
    m_sender.Clear();
    m_headers.clear();
    m_subject.clear();
    m_encoding = meMIME;
    m_charSet = csUSASCII;
    m_contentType.clear();
}

void TmsCustomMessage::Assign(const TmsCustomMessage& source) {
    if (this == &source) return;
    m_sender.Assign(source.m_sender);
    m_subject = source.m_subject;
    m_encoding = source.m_encoding;
    m_charSet = source.m_charSet;
    m_headers = source.m_headers;
    m_body = source.m_body;
    m_attachments.Assign(source.m_attachments);
    m_contentType = source.ContentType();
}

int TmsCustomMessage::AddDestroyHandler(std::function<void()> handler) {
    m_destroyHandlers.emplace_back(++m_nextHandlerKey, std::move(handler));
    return m_nextHandlerKey;
}

void TmsCustomMessage::RemoveDestroyHandler(int key) {
    std::erase_if(m_destroyHandlers, [key](const auto& entry) { return entry.first == key; });
}

void TmsMessage::Validate() const {
    TmsCustomMessage::Validate();
    if (!HasAnyAddress(m_recipients) && !HasAnyAddress(m_cc) && !HasAnyAddress(m_bcc))
        throw EMessageError(MailString(SRecipientRequired));
}

void TmsMessage::SaveToStream(std::ostream& stream) {
    TmsMessageEncoder encoder(*this);
    encoder.Stream = &stream;
    encoder.Render();
}

void TmsMessage::Clear() {
    TmsCustomMessage::Clear();
    m_cc.Clear();
    m_bcc.Clear();
    m_recipients.Clear();
}

void TmsMessage::ReadHeaders(const TmsHeaders& headers) {
    ParseMailAddress(GetHeaderValue(headers, "FROM"), Sender());
    AddHeaderAddresses(headers, "TO", m_recipients);
    AddHeaderAddresses(headers, "CC", m_cc);
    AddHeaderAddresses(headers, "BCC", m_bcc);
    std::string subject = GetHeaderValue(headers, "Subject");
    if (!subject.empty()) SetSubject(subject);
    std::string priority = GetHeaderValue(headers, "X-Priority");
    Priority = priority == "1" ? ptHigh : priority == "5" ? ptLow : ptNormal;
    if (!GetHeaderValue(headers, "Return-receipt-to").empty()) ReturnReceipt = true;
    SetHeaders(headers);
}

void TmsMessage::Assign(const TmsCustomMessage& source) {
    if (const auto* message = dynamic_cast<const TmsMessage*>(&source); message && message != this) {
        m_recipients.Assign(message->m_recipients);
        m_cc.Assign(message->m_cc);
        m_bcc.Assign(message->m_bcc);
        Priority = message->Priority;
        ReturnReceipt = message->ReturnReceipt;
    }
    TmsCustomMessage::Assign(source);
}

void TmsArticle::Validate() const {
    TmsCustomMessage::Validate();
    if (NewsGroups.empty()) throw EMessageError(MailString(SNewsgroupRequired));
    if (Subject().empty()) throw EMessageError(MailString(SSubjectRequired));
}

void TmsArticle::SaveToStream(std::ostream& stream) {
    TmsArticleEncoder encoder(*this);
    encoder.Stream = &stream;
    encoder.Render();
}

void TmsArticle::Clear() {
    TmsCustomMessage::Clear();
    NewsGroups.clear();
    MessageId.clear();
    Path.clear();
}

void TmsArticle::ReadHeaders(const TmsHeaders& headers) {
    ParseMailAddress(GetHeaderValue(headers, "FROM"), Sender());
    Path = GetHeaderValue(headers, "PATH");
    NewsGroups = GetHeaderValue(headers, "NEWSGROUPS");
    MessageId = GetHeaderValue(headers, "MESSAGE-ID");
    std::string subject = GetHeaderValue(headers, "Subject");
    if (!subject.empty()) SetSubject(subject);
    SetHeaders(headers);
}

void TmsArticle::Assign(const TmsCustomMessage& source) {
    if (const auto* article = dynamic_cast<const TmsArticle*>(&source)) NewsGroups = article->NewsGroups;
    TmsCustomMessage::Assign(source);
}
