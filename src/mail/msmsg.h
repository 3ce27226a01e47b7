// The mail message classes: the common part (sender, subject, body, attachments, extra header
// lines), the mail message with its recipients, and the news article.
#pragma once

#include "mail/msmsgcls.h"

#include <functional>
#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

/// How a message is rendered: MIME, or plain text with uuencoded attachments.
enum TmsMsgEncoding { meMIME, meUU };
/// Character set of the body text: us-ascii, iso-8859-1, iso-2022-jp.
enum TmsCharSet { csUSASCII, csISO8859, csISO2022jp };
/// Rendered as "X-Priority: 5", nothing, "X-Priority: 1".
enum TmsPriority { ptLow, ptNormal, ptHigh };

/// Identifiers of the mail string table.
enum TmsMailString : int {
    SSenderRequired = 57100,
    SRecipientRequired = 57101,
    SMultipartPreamble = 57106,
    SNewsgroupRequired = 57115,
    SSubjectRequired = 57116,
};
/// The text of a mail string; empty for an unknown identifier.
std::string MailString(int id);

/// A message that is not complete enough to be sent.
class EMessageError : public Exception {
public:
    using Exception::Exception;
};

class TmsCustomMessage {
public:
    TmsCustomMessage() = default;
    virtual ~TmsCustomMessage();
    TmsCustomMessage(const TmsCustomMessage&) = delete;
    TmsCustomMessage& operator=(const TmsCustomMessage&) = delete;

    /// The author; its address is also the envelope sender.
    TmsMailAddress& Sender() { return m_sender; }
    const TmsMailAddress& Sender() const { return m_sender; }
    const std::string& Subject() const { return m_subject; }
    void SetSubject(std::string_view subject) { m_subject = ShortText(subject); }
    TmsMsgEncoding Encoding() const { return m_encoding; }
    void SetEncoding(TmsMsgEncoding encoding) { m_encoding = encoding; }
    TmsCharSet CharSet() const { return m_charSet; }
    void SetCharSet(TmsCharSet charSet) { m_charSet = charSet; }
    /// Extra header lines, written as they stand after the ones the encoder writes itself.
    TmsHeaders& Headers() { return m_headers; }
    const TmsHeaders& Headers() const { return m_headers; }
    void SetHeaders(const TmsHeaders& headers) { m_headers = headers; }
    TmsStrings& Body() { return m_body; }
    const TmsStrings& Body() const { return m_body; }
    void SetBody(const TmsStrings& body) { m_body = body; }
    TmsAttList& Attachments() { return m_attachments; }
    const TmsAttList& Attachments() const { return m_attachments; }
    /// Replaces the attachments by copies of `attachments` and stores "multipart/mixed" when there
    /// are any, else "text/plain".
    void SetAttachments(const TmsAttList& attachments);
    /// The content type the body and attachments call for (stored as the new value): see
    /// ComputeContentType in the source for the rules.
    std::string ContentType() const;
    /// Stores a content type, in lower case; it counts only for a body without attachments.
    void SetContentType(std::string_view contentType);
    std::string Version() const { return "2.02"; }

    /// Throws EMessageError when the message cannot be sent.
    virtual void Validate() const;
    /// Renders the message into `stream` from its start.
    virtual void SaveToStream(std::ostream& stream) = 0;
    /// Reads a stored message: header lines up to the first empty line (through ReadHeaders), then
    /// the body lines as they stand; MIME parts are not taken apart.
    virtual void LoadFromStream(std::istream& stream);
    /// Empties everything and restores the initial encoding and character set.
    virtual void Clear();
    /// Fills the message's fields from header lines.
    virtual void ReadHeaders(const TmsHeaders& headers) = 0;
    /// Deep copy of the common fields and the computed content type.
    virtual void Assign(const TmsCustomMessage& source);

    /// Registers a function called when the message is destroyed (for holders of a non-owning
    /// reference); returns a key for RemoveDestroyHandler.
    int AddDestroyHandler(std::function<void()> handler);
    void RemoveDestroyHandler(int key);

private:
    std::string ComputeContentType() const;

    TmsMailAddress m_sender;
    std::string m_subject;
    TmsMsgEncoding m_encoding = meMIME;
    TmsCharSet m_charSet = csUSASCII;
    TmsHeaders m_headers;
    TmsStrings m_body;
    TmsAttList m_attachments;
    mutable std::string m_contentType = "text/plain";
    std::vector<std::pair<int, std::function<void()>>> m_destroyHandlers;
    int m_nextHandlerKey = 0;
};

/// A mail message: the class the notifications send.
class TmsMessage : public TmsCustomMessage {
public:
    TmsAddressList& Recipients() { return m_recipients; }
    const TmsAddressList& Recipients() const { return m_recipients; }
    void SetRecipients(const TmsAddressList& list) { m_recipients.Assign(list); }
    TmsAddressList& CC() { return m_cc; }
    const TmsAddressList& CC() const { return m_cc; }
    void SetCC(const TmsAddressList& list) { m_cc.Assign(list); }
    /// Blind copies: envelope recipients that never appear in the header.
    TmsAddressList& BCC() { return m_bcc; }
    const TmsAddressList& BCC() const { return m_bcc; }
    void SetBCC(const TmsAddressList& list) { m_bcc.Assign(list); }
    bool ReturnReceipt = false;
    TmsPriority Priority = ptNormal;

    void Validate() const override;
    void SaveToStream(std::ostream& stream) override;
    void Clear() override;
    void ReadHeaders(const TmsHeaders& headers) override;
    void Assign(const TmsCustomMessage& source) override;

private:
    TmsAddressList m_recipients;
    TmsAddressList m_cc;
    TmsAddressList m_bcc;
};

/// A news article.
class TmsArticle : public TmsCustomMessage {
public:
    std::string NewsGroups;
    /// Filled only by ReadHeaders.
    std::string MessageId;
    std::string Path;

    void Validate() const override;
    void SaveToStream(std::ostream& stream) override;
    void Clear() override;
    void ReadHeaders(const TmsHeaders& headers) override;
    void Assign(const TmsCustomMessage& source) override;
};
