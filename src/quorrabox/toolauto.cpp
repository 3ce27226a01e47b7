// TQuorraTool: its members, their DISPIDs and its registration record.
#include "quorrabox/toolauto.h"

#include "platform/errors.h"

namespace {

TQuorraTool& Tool(TAutoObject& self) {
    return static_cast<TQuorraTool&>(self);
}
const std::string& Str(const TAutoArgs& args, std::size_t i) {
    return std::get<std::string>(args[i]);
}
LONG Int(const TAutoArgs& args, std::size_t i) {
    return std::get<LONG>(args[i]);
}

// Profile names end at the first zero character, as the platform's C strings did.
std::string CName(const std::string& s) {
    return s.substr(0, s.find('\0'));
}

TAutoValue CallReadIniString(TAutoObject& self, const TAutoArgs& a) {
    return Tool(self).ReadIniString(Str(a, 0), Str(a, 1), Str(a, 2));
}
TAutoValue CallReadIniInteger(TAutoObject& self, const TAutoArgs& a) {
    return Tool(self).ReadIniInteger(Str(a, 0), Str(a, 1), Int(a, 2));
}
TAutoValue CallReadIniBool(TAutoObject& self, const TAutoArgs& a) {
    return Tool(self).ReadIniBool(Str(a, 0), Str(a, 1), Int(a, 2));
}
TAutoValue CallIniClose(TAutoObject& self, const TAutoArgs&) {
    Tool(self).IniClose();
    return {};
}
TAutoValue PutIniFileName(TAutoObject& self, const TAutoArgs& a) {
    Tool(self).SetIniFileName(Str(a, 0));
    return {};
}

// The published members in the order of their DISPIDs.
const TAutoMember QuorraToolMembers[] = {
    {"ReadIniString", 1, TAutoMemberKind::Method, {VT_BSTR, VT_BSTR, VT_BSTR}, VT_BSTR, CallReadIniString},
    {"ReadIniInteger", 2, TAutoMemberKind::Method, {VT_BSTR, VT_BSTR, VT_I4}, VT_I4, CallReadIniInteger},
    {"ReadIniBool", 3, TAutoMemberKind::Method, {VT_BSTR, VT_BSTR, VT_I4}, VT_I4, CallReadIniBool},
    {"IniClose", 4, TAutoMemberKind::Method, {}, VT_EMPTY, CallIniClose},
    {"IniFileName", 5, TAutoMemberKind::PropertyPut, {VT_BSTR}, VT_EMPTY, PutIniFileName},
};

const TAutoClassMembers QuorraToolTable = {"TQuorraTool", &TAutoObject::BaseMembers, QuorraToolMembers};

int DigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 99;
}

// Digits in `base` from `pos` to the end of `text`; false for anything else, no digit, or more than 32 bits.
bool ParseDigits(const std::string& text, std::size_t pos, int base, std::uint64_t& value) {
    if (pos >= text.size()) return false;
    value = 0;
    for (; pos < text.size(); ++pos) {
        int digit = DigitValue(text[pos]);
        if (digit >= base) return false;
        value = value * base + digit;
        if (value > 0xFFFFFFFFu) return false;
    }
    return true;
}

// Hexadecimal after "0x" covers the full 32-bit pattern: 0xFFFFFFFF is -1.
bool ParseHex(const std::string& text, LONG& out) {
    std::uint64_t value = 0;
    if (!ParseDigits(text, 2, 16, value)) return false;
    out = static_cast<LONG>(static_cast<std::uint32_t>(value));
    return true;
}

bool ParseDecimal(const std::string& text, LONG& out) {
    bool negative = !text.empty() && text[0] == '-';
    std::size_t pos = !text.empty() && (text[0] == '-' || text[0] == '+') ? 1 : 0;
    std::uint64_t value = 0;
    if (!ParseDigits(text, pos, 10, value) || value > (negative ? 0x80000000u : 0x7FFFFFFFu)) return false;
    out = static_cast<LONG>(negative ? -static_cast<std::int64_t>(value) : static_cast<std::int64_t>(value));
    return true;
}

} // namespace

const TAutoClassMembers& TQuorraTool::ClassMembers() const {
    return QuorraToolTable;
}

const TToolIni& TQuorraTool::Reader() const {
    if (!m_iniFile) throw Exception("No INI file name set");
    return *m_iniFile;
}

std::string TQuorraTool::ReadIniString(const std::string& section, const std::string& ident,
                                       const std::string& def) const {
    return Reader().ReadString(CName(section), CName(ident), CName(def));
}

LONG TQuorraTool::ReadIniInteger(const std::string& section, const std::string& ident, LONG def) const {
    return IniTextToInt(Reader().ReadString(CName(section), CName(ident), ""), def);
}

LONG TQuorraTool::ReadIniBool(const std::string& section, const std::string& ident, LONG def) const {
    return ReadIniInteger(section, ident, def != 0 ? 1 : 0) != 0 ? 1 : 0;
}

void TQuorraTool::IniClose() {
    Reader();
    m_iniFile.reset();
}

void TQuorraTool::SetIniFileName(const std::string& fileName) {
    m_iniFile = std::make_unique<TToolIni>(CName(fileName));
}

LONG TQuorraTool::IniTextToInt(const std::string& text, LONG def) {
    LONG value = 0;
    bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    return (hex ? ParseHex(text, value) : ParseDecimal(text, value)) ? value : def;
}

const TAutoClassInfo& QuorraToolClassInfo() {
    static const TAutoClassInfo info = {
        "TQuorraTool",
        "quorrabox.tools",
        {0xC869E000, 0x8E64, 0x11D0, {0xAE, 0xF9, 0x08, 0x00, 0x00, 0x00, 0x21, 0x49}},
        "QuorraSoft ToolBox",
        TAutoInstancing::MultiInstance,
        [] { return std::unique_ptr<TAutoObject>(std::make_unique<TQuorraTool>()); },
    };
    return info;
}
