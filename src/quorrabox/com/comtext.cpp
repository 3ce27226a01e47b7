// Conversions between the UTF-16 text of BSTRs and the 8-bit (UTF-8) text the program holds.
#include "quorrabox/com/comvariant.h"

#include <cstring>

namespace {

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | cp >> 6);
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | cp >> 12);
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | cp >> 18);
        out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

void AppendUtf16(OleString& out, char32_t cp) {
    if (cp < 0x10000) {
        out += static_cast<char16_t>(cp);
    } else {
        cp -= 0x10000;
        out += static_cast<char16_t>(0xD800 | cp >> 10);
        out += static_cast<char16_t>(0xDC00 | (cp & 0x3FF));
    }
}

// Decodes one well-formed UTF-8 sequence at `pos`; returns its length, 0 when it is not one
// (overlong forms, surrogates and values above U+10FFFF are not well formed).
std::size_t DecodeUtf8(const std::string& s, std::size_t pos, char32_t& cp) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    unsigned char lead = byte(pos);
    std::size_t len = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 && lead < 0xE0 ? 2 : 0;
    if (len == 0 || pos + len > s.size()) return 0;
    cp = lead & (0x7F >> len);
    for (std::size_t i = 1; i < len; ++i) {
        if ((byte(pos + i) & 0xC0) != 0x80) return 0;
        cp = cp << 6 | (byte(pos + i) & 0x3F);
    }
    static const char32_t minimum[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < minimum[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

} // namespace

OleString StringToOleStr(const std::string& text) {
    OleString out;
    out.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        char32_t cp = 0;
        std::size_t len = DecodeUtf8(text, pos, cp);
        if (len == 0) {
            cp = static_cast<unsigned char>(text[pos]); // not UTF-8: take the byte as Latin-1
            len = 1;
        }
        AppendUtf16(out, cp);
        pos += len;
    }
    return out;
}

BSTR StringToBstr(const std::string& text) {
    OleString wide = StringToOleStr(text);
    return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

std::string OleStrToString(const OLECHAR* text, std::size_t length) {
    std::string out;
    out.reserve(length);
    for (std::size_t i = 0; i < length; ++i) {
        char32_t cp = text[i];
        bool high = cp >= 0xD800 && cp <= 0xDBFF;
        if (high && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        AppendUtf8(out, cp);
    }
    return out;
}

std::string BstrToString(BSTR bstr) {
    return bstr ? OleStrToString(bstr, SysStringLen(bstr)) : std::string();
}

void ClearExcepInfo(EXCEPINFO* info) {
    if (!info) return;
    SysFreeString(info->bstrSource);
    SysFreeString(info->bstrDescription);
    SysFreeString(info->bstrHelpFile);
    std::memset(info, 0, sizeof *info);
}
