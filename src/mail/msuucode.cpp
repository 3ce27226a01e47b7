// Uuencoding of single lines.
#include "mail/msuucode.h"

#include "platform/errors.h"

#include <algorithm>

namespace {

char UUChar(unsigned value) {
    return value == 0 ? '`' : static_cast<char>(32 + value);
}

/// Value of one character; a space and a backquote both count as 0.
unsigned UUValue(char c) {
    if (c < ' ' || c > '`') throw EInOutError("Invalid Character");
    return static_cast<unsigned>(c - ' ') & 0x3F;
}

} // namespace

std::string UUEncodeLine(std::string_view bytes) {
    bytes = bytes.substr(0, UULineBytes);
    std::size_t chars = (bytes.size() * 4 + 2) / 3;
    std::string out(1, UUChar(static_cast<unsigned>(bytes.size())));
    for (std::size_t k = 0; k < chars; ++k) {
        // Character k covers bits 6k..6k+5 of the byte string, high bits first.
        std::size_t bit = k * 6, byte = bit / 8, shift = bit % 8;
        unsigned word = static_cast<unsigned char>(bytes[byte]) << 8;
        if (byte + 1 < bytes.size()) word |= static_cast<unsigned char>(bytes[byte + 1]);
        out += UUChar((word >> (10 - shift)) & 0x3F);
    }
    return out;
}

std::string UUDecodeLine(std::string_view line) {
    if (line.empty()) return std::string();
    std::size_t count = UUValue(line[0]);
    std::string_view body = line.substr(1);
    if (count * 4 / 3 == 60) body = body.substr(0, 60);
    std::string out;
    unsigned bits = 0, held = 0;
    for (char c : body) {
        bits = (bits << 6) | UUValue(c);
        held += 6;
        if (held >= 8) {
            held -= 8;
            out += static_cast<char>((bits >> held) & 0xFF);
        }
    }
    out.resize(std::min(out.size(), count));
    return out;
}
