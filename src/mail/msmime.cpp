// Base64 and the encoded words of header values.
#include "mail/msmime.h"

#include "platform/strutil.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::string_view Base64Alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

/// 6-bit value of a base64 character; "=" counts as 0; -1 for anything else.
int Base64Value(char c) {
    if (c == '=') return 0;
    auto pos = Base64Alphabet.find(c);
    return pos == std::string_view::npos ? -1 : static_cast<int>(pos);
}

void AppendGroup(std::string_view group, std::string& out) {
    unsigned bits = 0;
    for (char c : group) {
        int value = Base64Value(c);
        if (value < 0) throw EInOutError("Invalid Character");
        bits = (bits << 6) | static_cast<unsigned>(value);
    }
    out += static_cast<char>((bits >> 16) & 0xFF);
    out += static_cast<char>((bits >> 8) & 0xFF);
    out += static_cast<char>(bits & 0xFF);
}

/// First "?=" after `start` that ends the encoded word beginning there; the "?=" of a "?Q?=" or
/// "?B?=" (a word whose encoded text begins with "=") is not an end.
std::size_t FindWordEnd(const std::string& text, std::size_t start) {
    for (std::size_t e = start + 2; e + 1 < text.size(); ++e) {
        if (text[e] != '?' || text[e + 1] != '=') continue;
        char letter = static_cast<char>(toupper(static_cast<unsigned char>(text[e - 1])));
        if (!(text[e - 2] == '?' && (letter == 'B' || letter == 'Q'))) return e;
    }
    return std::string::npos;
}

/// Decodes "charset?letter?text"; the charset is ignored, an unknown letter decodes to nothing.
std::string DecodeWord(const std::string& inner) {
    std::size_t mark = inner.find('?');
    if (mark == std::string::npos || mark + 1 >= inner.size()) return std::string();
    char letter = static_cast<char>(toupper(static_cast<unsigned char>(inner[mark + 1])));
    std::string encoded = mark + 3 <= inner.size() ? inner.substr(mark + 3) : std::string();
    if (letter == 'B') return Base64DecodeText(encoded);
    if (letter == 'Q') return QPDecodeText(encoded);
    return std::string();
}

} // namespace

std::string Base64EncodeText(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        unsigned bits = 0;
        for (std::size_t k = 0; k < 3; ++k)
            bits = (bits << 8) | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
        for (std::size_t k = 0; k < 4; ++k)
            out += k <= n ? Base64Alphabet[(bits >> (18 - 6 * k)) & 0x3F] : '=';
    }
    return out;
}

std::string Base64DecodeText(std::string_view text) {
    if (text.size() % 4 != 0) throw EInOutError("Invalid base64 length");
    std::string out;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4)
        AppendGroup(text.substr(i, 4), out);
    std::size_t padding = text.size() - (text.find_last_not_of('=') + 1);
    out.resize(out.size() - std::min(padding, out.size()));
    return out;
}

std::string EncodeWordJIS(std::string_view text) {
    // Not cut to a short text: a cut word would lose its closing "?=" and garble the header.
    if (text.empty() || text.front() != '\x1B') return std::string(text);
    return "=?ISO-2022-JP?B?" + Base64EncodeText(text) + "?=";
}

std::string DecodeWords(std::string_view input) {
    // Each round replaces one word by its shorter decoded form, so the loop ends.
    std::string text(input);
    for (std::size_t start; (start = text.find("=?")) != std::string::npos;) {
        std::size_t end = FindWordEnd(text, start);
        if (end == std::string::npos) break;
        std::string decoded = DecodeWord(text.substr(start + 2, end - start - 2));
        text = ShortText(text.substr(0, start) + decoded + Trim(text.substr(end + 2)));
        std::replace(text.begin(), text.end(), '_', ' ');
    }
    return text;
}
