// Small text helpers shared by every layer.
#include "platform/strutil.h"

#include "platform/errors.h"

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

std::string Format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string out;
    if (n > 0) {
        out.resize(static_cast<std::size_t>(n) + 1);
        std::vsnprintf(out.data(), out.size(), fmt, args);
        out.resize(static_cast<std::size_t>(n));
    }
    va_end(args);
    return out;
}

static bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

std::string TrimLeft(const std::string& s) {
    std::size_t i = 0;
    while (i < s.size() && IsBlank(s[i]))
        ++i;
    return s.substr(i);
}

std::string TrimRight(const std::string& s) {
    std::size_t n = s.size();
    while (n > 0 && IsBlank(s[n - 1]))
        --n;
    return s.substr(0, n);
}

std::string Trim(const std::string& s) {
    return TrimLeft(TrimRight(s));
}

std::string UpperCase(const std::string& s) {
    std::string r = s;
    for (char& c : r)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return r;
}

std::string LowerCase(const std::string& s) {
    std::string r = s;
    for (char& c : r)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return r;
}

bool SameText(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    return LowerCase(a) == LowerCase(b);
}

std::string SiteCodeKey(const std::string& code) {
    std::size_t end = code.size();
    while (end > 0 && code[end - 1] == ' ')
        --end;
    return LowerCase(code.substr(0, end));
}

bool SameSiteCode(const std::string& a, const std::string& b) {
    return SiteCodeKey(a) == SiteCodeKey(b);
}

bool TryStrToInt(const std::string& s, int& out) {
    std::string t = Trim(s);
    if (t.empty()) return false;
    const char* p = t.c_str();
    std::size_t digitsAt = (*p == '+' || *p == '-') ? 1 : 0;
    if (digitsAt >= t.size()) return false;
    for (std::size_t i = digitsAt; i < t.size(); ++i)
        if (t[i] < '0' || t[i] > '9') return false;
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(p, &end, 10);
    if (errno == ERANGE || v < INT_MIN || v > INT_MAX) return false;
    out = static_cast<int>(v);
    return true;
}

int StrToInt(const std::string& s) {
    int v = 0;
    if (!TryStrToInt(s, v)) throw EConvertError("'" + s + "' is not a valid integer value");
    return v;
}

int StrToIntDef(const std::string& s, int def) {
    int v = 0;
    return TryStrToInt(s, v) ? v : def;
}

std::string IntToStr(long long value) {
    return std::to_string(value);
}

std::vector<std::string> SplitString(const std::string& s, char sep) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        std::size_t at = s.find(sep, start);
        if (at == std::string::npos) {
            parts.push_back(s.substr(start));
            return parts;
        }
        parts.push_back(s.substr(start, at - start));
        start = at + 1;
    }
}

bool StartsWithText(const std::string& s, const std::string& prefix) {
    return s.size() >= prefix.size() && SameText(s.substr(0, prefix.size()), prefix);
}

// A character has at most three continuation bytes (10xxxxxx) after its first byte, which says how
// many it has: the cut goes before that first byte when the character reaches past the width. Stray
// continuation bytes are no UTF-8, and are cut where asked.
std::string CutToBytes(const std::string& text, std::size_t bytes) {
    if (text.size() <= bytes) return text;
    const auto at = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    std::size_t first = bytes; // the first byte left out, then the first byte of its character
    while (first > 0 && bytes - first < 3 && (at(first) & 0xC0) == 0x80)
        --first;
    const std::size_t length = at(first) >= 0xF0 ? 4 : at(first) >= 0xE0 ? 3 : at(first) >= 0xC0 ? 2 : 1;
    const bool straddles = first < bytes && (at(first) & 0xC0) != 0x80 && first + length > bytes;
    return text.substr(0, straddles ? first : bytes);
}
