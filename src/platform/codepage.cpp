// Windows-1252 to UTF-8, and the UTF-8 well-formedness check that decides when to convert.
#include "platform/codepage.h"

#include <cstdint>

namespace {

// U+0080..U+009F as Windows-1252 uses them; 0 where the code page defines no character.
constexpr std::uint16_t kHigh[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                     0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                     0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                     0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void AppendUtf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// The length of the well-formed sequence at `at`, or 0 (RFC 3629's table of valid byte ranges).
std::size_t SequenceLength(std::string_view s, std::size_t at) {
    const auto byte = [&](std::size_t i) { return at + i < s.size() ? static_cast<unsigned char>(s[at + i]) : 0u; };
    const auto in = [](unsigned v, unsigned lo, unsigned hi) { return v >= lo && v <= hi; };
    const unsigned b0 = byte(0), b1 = byte(1);
    if (b0 < 0x80) return 1;
    if (in(b0, 0xC2, 0xDF)) return in(b1, 0x80, 0xBF) ? 2 : 0;
    const unsigned lo = b0 == 0xE0 ? 0xA0 : b0 == 0xF0 ? 0x90 : 0x80;
    const unsigned hi = b0 == 0xED ? 0x9F : b0 == 0xF4 ? 0x8F : 0xBF;
    if (in(b0, 0xE0, 0xEF)) return in(b1, lo, hi) && in(byte(2), 0x80, 0xBF) ? 3 : 0;
    if (in(b0, 0xF0, 0xF4)) return in(b1, lo, hi) && in(byte(2), 0x80, 0xBF) && in(byte(3), 0x80, 0xBF) ? 4 : 0;
    return 0;
}

} // namespace

bool IsUtf8(std::string_view bytes) {
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t length = SequenceLength(bytes, at);
        if (length == 0) return false;
        at += length;
    }
    return true;
}

std::string Windows1252ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 4);
    for (char c : bytes) {
        const unsigned char b = static_cast<unsigned char>(c);
        const std::uint16_t high = b >= 0x80 && b < 0xA0 ? kHigh[b - 0x80] : 0;
        AppendUtf8(out, high != 0 ? high : b);
    }
    return out;
}

std::string AsUtf8(std::string_view text) {
    return IsUtf8(text) ? std::string(text) : Windows1252ToUtf8(text);
}
