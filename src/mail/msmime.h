// Transfer encodings of mail text: base64, quoted-printable and the encoded words of header
// values. Invalid input raises EInOutError "Invalid Character"; an oversized quoted-printable
// paragraph raises Exception "Paragraph is too large".
#pragma once

#include "mail/msmsgcls.h"

#include <iosfwd>
#include <string>
#include <string_view>

/// The base64 form of some bytes, padded with "=" to a multiple of four characters
/// (57 bytes give one 76-character line).
std::string Base64EncodeText(std::string_view bytes);
/// The bytes of one base64 line.
std::string Base64DecodeText(std::string_view text);

/// The header form of a text for the ISO-2022-JP character set: a text that begins with ESC
/// becomes one base64 encoded word; any other text is returned unchanged.
std::string EncodeWordJIS(std::string_view text);
/// A header text with its encoded words ("=?charset?B|Q?text?=") decoded; the text after a word is
/// trimmed and every underscore becomes a space. A "=?" without an end marker stops decoding.
std::string DecodeWords(std::string_view text);
/// One quoted-printable line decoded (the encoded text of a "Q" word).
std::string QPDecodeText(std::string_view text);

/// Quoted-printable conversion between a byte stream and a list of encoded lines, one paragraph
/// (the text between two line breaks) at a time.
class TQuotedPrintable {
public:
    /// The paragraph buffer: a longer paragraph cannot be converted.
    static constexpr std::size_t BufferSize = 0x6000;
    /// Longest encoded source piece of one line (the line itself is at most 3 times that plus "=").
    static constexpr std::size_t MaxLineChars = 65;

    /// Neither the stream nor the list is owned; both must outlive the converter.
    TQuotedPrintable(std::iostream& stream, TmsStrings& lines) : m_stream(stream), m_lines(lines) {}

    /// Reads the stream from its start and appends its encoded lines to the list.
    void Encode();
    /// Decodes every line of the list and writes the bytes to the stream at its current position.
    void Decode();

    /// When set, Encode and Decode stop after the paragraph in progress.
    bool Cancel = false;

private:
    bool ReadParagraph(std::string& paragraph);
    void AppendPieces(const std::string& paragraph);
    std::size_t DecodeParagraph(std::size_t first, std::string& paragraph) const;

    std::iostream& m_stream;
    TmsStrings& m_lines;
};
