// Quoted-printable conversion between a byte stream and encoded lines.
#include "mail/msmime.h"

#include "platform/strutil.h"

#include <sstream>

namespace {

constexpr int EndOfFile = std::char_traits<char>::eof();

bool IsBreak(int c) {
    return c == '\r' || c == '\n';
}

bool NeedsEscape(unsigned char c) {
    return c < 32 || c == '=' || c >= 128;
}

std::string Escape(std::string_view piece) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(piece.size());
    for (char ch : piece) {
        auto c = static_cast<unsigned char>(ch);
        if (!NeedsEscape(c)) {
            out += ch;
            continue;
        }
        out += '=';
        out += Hex[c >> 4];
        out += Hex[c & 0xF];
    }
    return out;
}

/// Where the next piece of a long remainder ends: before the last space among its first 66
/// characters (that space begins the next piece), or after 65 characters when there is none.
std::size_t PieceEnd(std::string_view rest) {
    for (std::size_t k = std::min(TQuotedPrintable::MaxLineChars, rest.size() - 1); k > 0; --k)
        if (rest[k] == ' ') return k;
    return TQuotedPrintable::MaxLineChars;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

/// Replaces every "=XX" (two hexadecimal digits) by its byte; any other "=" stays.
std::string DecodeEscapes(const std::string& line) {
    std::string out;
    out.reserve(line.size());
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '=' && i + 2 < line.size() && HexValue(line[i + 1]) >= 0 && HexValue(line[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(line[i + 1]) * 16 + HexValue(line[i + 2]));
            i += 2;
        } else {
            out += line[i];
        }
    }
    return out;
}

} // namespace

void TQuotedPrintable::Encode() {
    m_stream.clear();
    m_stream.seekg(0);
    std::string paragraph;
    while (!Cancel && ReadParagraph(paragraph))
        AppendPieces(paragraph);
}

bool TQuotedPrintable::ReadParagraph(std::string& paragraph) {
    std::streambuf& in = *m_stream.rdbuf();
    if (in.sgetc() == EndOfFile) return false;
    paragraph.clear();
    for (int c; (c = in.sgetc()) != EndOfFile;) {
        if (paragraph.size() >= BufferSize) throw Exception("Paragraph is too large");
        in.sbumpc();
        int next = in.sgetc();
        // A break byte that ends the stream is data. CR LF and LF CR are one break; CR CR and
        // LF LF are two, so an empty line between paragraphs survives.
        if (IsBreak(c) && next != EndOfFile) {
            if (IsBreak(next) && next != c) in.sbumpc();
            return true;
        }
        paragraph += static_cast<char>(c);
    }
    return true;
}

void TQuotedPrintable::AppendPieces(const std::string& paragraph) {
    std::string_view rest = paragraph;
    while (rest.size() >= MaxLineChars) {
        std::size_t end = PieceEnd(rest);
        m_lines.push_back(Escape(rest.substr(0, end)) + "=");
        rest.remove_prefix(end);
    }
    m_lines.push_back(Escape(rest));
}

void TQuotedPrintable::Decode() {
    std::size_t next = 0;
    while (!Cancel && next < m_lines.size()) {
        std::string paragraph;
        next = DecodeParagraph(next, paragraph);
        m_stream.write(paragraph.data(), static_cast<std::streamsize>(paragraph.size()));
        if (!m_stream) throw EInOutError("Stream write error");
    }
}

std::size_t TQuotedPrintable::DecodeParagraph(std::size_t first, std::string& paragraph) const {
    std::size_t i = first;
    while (i < m_lines.size()) {
        std::string line = ShortText(m_lines[i++]);
        std::string decoded = DecodeEscapes(line);
        bool soft = !line.empty() && line.back() == '=';
        if (soft) decoded.pop_back();
        if (paragraph.size() + decoded.size() >= BufferSize - 1) throw Exception("Paragraph is too large");
        paragraph += decoded;
        if (!soft) {
            if (paragraph.empty() || paragraph.back() != '\x1A') paragraph += "\r\n";
            break;
        }
    }
    return i;
}

std::string QPDecodeText(std::string_view text) {
    TmsStrings lines{std::string(text)};
    std::stringstream stream;
    TQuotedPrintable(stream, lines).Decode();
    std::string bytes = stream.str();
    return bytes.substr(0, bytes.find_first_of("\r\n"));
}
