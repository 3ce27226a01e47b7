// The message encoder: line output, boundaries, body writer choice and the single-part writers.
#include "mail/mspars.h"

#include "mail/msmime.h"
#include "mail/msuucode.h"
#include "platform/clock.h"
#include "platform/strutil.h"

#include <algorithm>
#include <mutex>
#include <ostream>
#include <random>
#include <sstream>

namespace {

std::mutex boundaryLock;
std::function<std::string()> boundarySource;

std::string RandomBoundary() {
    // Seeded once per thread: reseeding from the clock on every call would give the outer and a
    // nested boundary of one rendering the same digits.
    thread_local std::mt19937 generator = [] {
        std::random_device device;
        auto now = GetClock().Monotonic().time_since_epoch().count();
        std::seed_seq seed{device(), static_cast<unsigned>(now), static_cast<unsigned>(now >> 32)};
        return std::mt19937(seed);
    }();
    std::uniform_int_distribution<int> digit(0, 8);
    std::string boundary;
    for (int i = 0; i < 8; ++i)
        boundary += static_cast<char>('0' + digit(generator));
    return boundary;
}

/// The body saved as text: every line followed by CR LF.
std::string BodyText(const TmsStrings& body) {
    std::string text;
    for (const auto& line : body)
        text += line + "\r\n";
    return text;
}

TmsStrings EncodeQuotedPrintable(const std::string& bytes) {
    std::stringstream stream(bytes);
    TmsStrings lines;
    TQuotedPrintable(stream, lines).Encode();
    return lines;
}

bool HasLongLine(const TmsStrings& body) {
    return std::any_of(body.begin(), body.end(), [](const std::string& l) { return l.size() >= 256; });
}

const char* CharSetName(TmsCharSet charSet) {
    switch (charSet) {
    case csISO8859:
        return "iso-8859-1";
    case csISO2022jp:
        return "iso-2022-jp";
    default:
        return "us-ascii";
    }
}

bool IsBodyAttachment(const TmsCustomMessage& message) {
    if (message.Attachments().Count() != 1 || !message.Body().empty()) return false;
    std::string name = LowerCase(ExtractMailFileName(message.Attachments().Items(0).FileName()));
    return name == "_htmbody.htm" || name == "_rtfbody.rtf";
}

} // namespace

void SetBoundarySource(std::function<std::string()> source) {
    std::lock_guard<std::mutex> guard(boundaryLock);
    boundarySource = std::move(source);
}

TmsCustomEncoder::TmsCustomEncoder(TmsCustomMessage& message)
    : m_message(message), m_longLines(HasLongLine(message.Body())) {}

std::string TmsCustomEncoder::NewBoundary() {
    {
        std::lock_guard<std::mutex> guard(boundaryLock);
        if (boundarySource) return boundarySource();
    }
    return RandomBoundary();
}

void TmsCustomEncoder::EmitLine(std::string_view text) {
    std::ostream& out = *Stream;
    for (;;) {
        std::size_t end = text.find_first_of("\r\n");
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.front() == '.') out << '.';
        out << line << "\r\n";
        if (end == std::string_view::npos) break;
        // CR LF is one break; any other CR or LF is a break of its own.
        end += text.compare(end, 2, "\r\n") == 0 ? 2 : 1;
        text.remove_prefix(end);
    }
    if (!out) throw EInOutError("Stream write error");
}

void TmsCustomEncoder::EmitHeaderLine(std::string_view text) {
    std::string line;
    line.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        bool isBreak = text[i] == '\r' || text[i] == '\n';
        if (!isBreak)
            line += text[i];
        else if (i == 0 || (text[i - 1] != '\r' && text[i - 1] != '\n'))
            line += ' ';
    }
    EmitLine(line);
}

void TmsCustomEncoder::EmitLines(const TmsStrings& lines) {
    for (const auto& line : lines)
        EmitLine(line);
}

std::string TmsCustomEncoder::HeaderText(const std::string& text) const {
    if (m_message.CharSet() == csISO2022jp && m_message.Encoding() == meMIME) return EncodeWordJIS(text);
    return text;
}

void TmsCustomEncoder::WriteExtraHeaders() {
    static const char* const Reserved[] = {
        "From",    "To",           "CC",           "BCC",        "Return-Receipt-To",        "X-Priority",
        "Subject", "Mime-Version", "Content-Type", "X-Encoding", "Content-Transfer-Encoding"};
    for (const char* name : Reserved)
        DeleteHeader(m_message.Headers(), name);
    for (const auto& line : m_message.Headers())
        EmitHeaderLine(line);
}

void TmsCustomEncoder::Render() {
    if (Stream == nullptr) throw EInOutError("No output stream");
    if (Stream->tellp() > 0) Stream->seekp(0);
    WriteHeaders();
    if (m_message.Encoding() == meUU) return WriteUUBody();
    std::string type = m_message.ContentType();
    if (type == "multipart/mixed")
        WriteMultipart(false);
    else if (type == "multipart/alternative")
        WriteMultipart(true);
    else if (type == "text/plain" && m_message.Attachments().Count() == 0)
        WritePlainText();
    else if ((type == "text/html" || type == "text/rtf") && !IsBodyAttachment(m_message))
        WriteHtmlRtf(type);
    else
        // A lone "_htmbody.htm" or "_rtfbody.rtf" without body text is the body itself: the
        // single-part writer carries its content, where the HTML/RTF writer would send nothing.
        WriteSinglePart();
}

void TmsCustomEncoder::WriteTextPartHeaders() {
    TmsCharSet charSet = m_message.CharSet();
    EmitLine(std::string("Content-Type: text/plain; charset=\"") + CharSetName(charSet) + "\"");
    bool quoted = charSet == csISO8859 || m_longLines;
    EmitLine(quoted ? "Content-Transfer-Encoding: quoted-printable" : "Content-Transfer-Encoding: 7bit");
}

TmsStrings TmsCustomEncoder::TextPartLines() const {
    if (m_message.CharSet() == csISO8859 || m_longLines) return EncodeQuotedPrintable(BodyText(m_message.Body()));
    return m_message.Body();
}

void TmsCustomEncoder::WritePlainText() {
    WriteTextPartHeaders();
    EmitLine("");
    EmitLines(TextPartLines());
}

void TmsCustomEncoder::WriteHtmlRtf(const std::string& contentType) {
    std::string line = contentType == "text/html" ? "Content-Type: text/html" : "Content-Type: text/rtf";
    if (m_message.CharSet() != csUSASCII) line += "; charset=\"iso-8859-1\"";
    EmitLine(line);
    EmitLine("Content-Transfer-Encoding: quoted-printable");
    EmitLine("");
    m_message.SetBody(EncodeQuotedPrintable(BodyText(m_message.Body())));
    EmitLines(m_message.Body());
}

void TmsCustomEncoder::WriteUUBody() {
    EmitLine("");
    EmitLines(m_message.Body());
    for (int i = 0; i < m_message.Attachments().Count(); ++i)
        WriteUUAttachment(m_message.Attachments().Items(i));
}

void TmsCustomEncoder::WriteUUAttachment(const TmsAttItem& item) {
    EmitLine("");
    EmitHeaderLine("begin 600 " + ExtractMailFileName(item.FileName()));
    std::string_view data = item.Data();
    for (std::size_t pos = 0;; pos += UULineBytes) {
        std::string_view chunk = data.substr(std::min(pos, data.size()), UULineBytes);
        EmitLine(UUEncodeLine(chunk));
        if (chunk.size() < UULineBytes) break;
    }
    EmitLine("`");
    EmitLine("end");
}
