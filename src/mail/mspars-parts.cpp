// The message encoder's writers for attachments: single part, multipart (mixed, alternative and
// a nested alternative section) and the attachment content by transfer encoding.
#include "mail/mspars.h"

#include "mail/msmime.h"
#include "platform/strutil.h"

#include <algorithm>
#include <sstream>

namespace {

constexpr std::size_t Base64LineBytes = 57;

const char* EncodingToken(TmsAttEncoding encoding) {
    switch (encoding) {
    case aeBase64:
        return "Base64";
    case aeQuotedPrintable:
        return "Quoted-Printable";
    default:
        return "7bit";
    }
}

std::string LowerName(const TmsAttItem& item) {
    return LowerCase(ExtractMailFileName(item.FileName()));
}

bool IsAlternativeName(const std::string& lowerName) {
    return lowerName.rfind("_alt.", 0) == 0;
}

/// Text lines of 7bit content: CR LF, LF or CR end a line; a final line end adds no empty line.
TmsStrings TextLines(const std::string& text) {
    TmsStrings lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
    return lines;
}

} // namespace

void TmsCustomEncoder::WriteSinglePart() {
    const TmsAttList& attachments = m_message.Attachments();
    const TmsAttItem& item = attachments.Items(0);
    std::string name = ExtractMailFileName(item.FileName());
    std::string lower = LowerCase(name);
    bool bodyFile = attachments.Count() == 1 && (lower == "_htmbody.htm" || lower == "_rtfbody.rtf");
    if (bodyFile)
        EmitLine(lower == "_htmbody.htm" ? "Content-Type: text/html" : "Content-Type: text/rtf");
    else
        EmitHeaderLine("Content-Type: " + item.ContentType() + "; name=\"" + name + "\"");
    EmitLine(std::string("Content-Transfer-Encoding: ") + EncodingToken(item.Encoding()));
    if (!bodyFile) EmitHeaderLine("Content-Disposition: attachment; filename=\"" + name + "\"");
    EmitLine("");
    WriteAttachmentContent(item);
}

void TmsCustomEncoder::WriteMultipart(bool alternative) {
    // Reading the first attachment fails with the list's index error when there is none.
    std::string first = LowerName(m_message.Attachments().Items(0));
    MultipartState state;
    state.alternative = alternative;
    state.nested = IsAlternativeName(first);
    state.htmlBody = m_message.Body().empty() && first == "_htmbody.htm";
    state.rtfBody = m_message.Body().empty() && first == "_rtfbody.rtf";
    WriteMultipartStart(state);
    if (!m_message.Body().empty()) {
        WriteTextPartHeaders();
        EmitLine("");
        EmitLines(TextPartLines());
        EmitLine("");
        EmitLine("--" + state.boundary);
    }
    for (int i = 0; i < m_message.Attachments().Count(); ++i)
        WriteMultipartPart(i, state);
}

void TmsCustomEncoder::WriteMultipartStart(MultipartState& state) {
    state.boundary = NewBoundary();
    EmitHeaderLine("Content-Type: " + m_message.ContentType() + "; boundary=\"" + state.boundary + "\"");
    EmitLine("");
    EmitLine(MailString(SMultipartPreamble));
    EmitLine("");
    EmitLine("--" + state.boundary);
    if (!state.nested || state.alternative) return;
    // The leading "_alt." attachments (and the body text) form an alternative inside the mix.
    state.outer = state.boundary;
    state.boundary = NewBoundary();
    EmitLine("Content-Type:  multipart/alternative; boundary=\"" + state.boundary + "\"");
    EmitLine("Content-Transfer-Encoding: 7bit");
    EmitLine("");
    EmitLine("--" + state.boundary);
}

void TmsCustomEncoder::WriteMultipartPart(int index, MultipartState& state) {
    const TmsAttList& attachments = m_message.Attachments();
    const TmsAttItem& item = attachments.Items(index);
    std::string name = ExtractMailFileName(item.FileName());
    if (index > 0) {
        EmitLine("");
        EmitLine("--" + state.boundary);
        state.htmlBody = state.rtfBody = false;
    }
    bool bare = state.alternative || state.nested || state.htmlBody || state.rtfBody;
    std::string type = "Content-Type: " + item.ContentType();
    if (!bare && !item.FileName().empty()) type += "; name=\"" + name + "\"";
    EmitHeaderLine(type);
    EmitLine(std::string("Content-Transfer-Encoding: ") + EncodingToken(item.Encoding()));
    if (!bare && !name.empty()) EmitHeaderLine("Content-Disposition: attachment; filename=\"" + name + "\"");
    EmitLine("");
    WriteAttachmentContent(item);
    EmitLine("");
    if (index + 1 == attachments.Count()) {
        EmitLine("--" + state.boundary + "--");
    } else if (state.nested && !IsAlternativeName(LowerName(attachments.Items(index + 1)))) {
        state.nested = false;
        EmitLine("--" + state.boundary + "--");
        state.boundary = state.outer;
    }
}

void TmsCustomEncoder::WriteAttachmentContent(const TmsAttItem& item) {
    const std::string& data = item.Data();
    switch (item.Encoding()) {
    case aeBase64:
        // A size that is a multiple of 57 (also 0) ends with one empty line.
        for (std::size_t pos = 0;; pos += Base64LineBytes) {
            std::string_view chunk = std::string_view(data).substr(std::min(pos, data.size()), Base64LineBytes);
            EmitLine(Base64EncodeText(chunk));
            if (chunk.size() < Base64LineBytes) break;
        }
        break;
    case aeQuotedPrintable: {
        std::stringstream stream(data);
        TmsStrings lines;
        TQuotedPrintable(stream, lines).Encode();
        EmitLines(lines);
        break;
    }
    default:
        EmitLines(TextLines(data));
    }
}
