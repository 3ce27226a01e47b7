// The message encoder: renders a message as the header lines, an empty line and the body (plain,
// HTML/RTF, single part, multipart or uuencoded) that an SMTP client sends after DATA. The output
// is already dot-stuffed and every line ends in CR LF.
#pragma once

#include "mail/msmsg.h"

#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>

/// Replaces the random boundary generator (tests use it for reproducible renderings); an empty
/// function restores the generator.
void SetBoundarySource(std::function<std::string()> source);

class TmsCustomEncoder {
public:
    /// Binds the message (not owned) and notes whether any body line is 256 characters or longer.
    explicit TmsCustomEncoder(TmsCustomMessage& message);
    virtual ~TmsCustomEncoder() = default;
    TmsCustomEncoder(const TmsCustomEncoder&) = delete;
    TmsCustomEncoder& operator=(const TmsCustomEncoder&) = delete;

    /// The output (not owned); set before Render.
    std::ostream* Stream = nullptr;

    /// Renders the whole message into Stream, from position 0 where the stream can seek.
    /// Rendering deletes the reserved header names from the message's Headers, and the HTML/RTF
    /// writer replaces its Body by the encoded lines.
    void Render();
    /// Writes one line and CR LF, with one more "." in front of a line that begins with ".".
    /// A text holding CR or LF is written as several lines, each treated the same way, so no
    /// text can end the message data early.
    void EmitLine(std::string_view text);
    /// A fresh boundary: eight digits 0 to 8.
    std::string NewBoundary();

protected:
    virtual void WriteHeaders() = 0;
    /// Writes a header line with every run of CR and LF turned into one space, so a value taken
    /// from stored data cannot start a header line of its own.
    void EmitHeaderLine(std::string_view text);
    /// The text as a header shows it: an encoded word for ISO-2022-JP MIME messages.
    std::string HeaderText(const std::string& text) const;
    /// Deletes the headers the encoder writes itself from the message's Headers, then writes the rest.
    void WriteExtraHeaders();

    TmsCustomMessage& m_message;

private:
    /// Where a multipart rendering stands between its parts.
    struct MultipartState {
        std::string boundary;
        std::string outer;
        bool alternative = false;
        bool nested = false;
        bool htmlBody = false;
        bool rtfBody = false;
    };

    void WriteTextPartHeaders();
    TmsStrings TextPartLines() const;
    void EmitLines(const TmsStrings& lines);
    void WritePlainText();
    void WriteHtmlRtf(const std::string& contentType);
    void WriteSinglePart();
    void WriteMultipart(bool alternative);
    void WriteMultipartStart(MultipartState& state);
    void WriteMultipartPart(int index, MultipartState& state);
    void WriteAttachmentContent(const TmsAttItem& item);
    void WriteUUBody();
    void WriteUUAttachment(const TmsAttItem& item);

    bool m_longLines = false;
};

/// Writes the headers of a TmsMessage.
class TmsMessageEncoder : public TmsCustomEncoder {
public:
    explicit TmsMessageEncoder(TmsMessage& message) : TmsCustomEncoder(message), m_mail(message) {}

protected:
    void WriteHeaders() override;

private:
    /// A display name, quoted when it holds a "." and no double quote, then as HeaderText.
    std::string DisplayName(const std::string& name) const;
    void WriteAddressList(const std::string& name, const TmsAddressList& list);
    /// "Date:" (now, local time with its zone) and "Message-ID:", each unless Headers holds one.
    void WriteDateAndId();

    TmsMessage& m_mail;
};

/// Writes the headers of a TmsArticle.
class TmsArticleEncoder : public TmsCustomEncoder {
public:
    explicit TmsArticleEncoder(TmsArticle& article) : TmsCustomEncoder(article), m_article(article) {}

protected:
    void WriteHeaders() override;

private:
    TmsArticle& m_article;
};
