// INI files with profile-string rules. The file is parsed line by line each call (it is small
// and may be edited by hand or by another process at any time); writes rebuild it beside the
// original and rename it into place, so a crash never leaves half a file.
#include "platform/profile.h"

#include "platform/errors.h"
#include "platform/strutil.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::mutex g_writeLock; // one read-modify-write at a time within the process

struct Line {
    std::string text; // without its line ending
    std::string eol;  // "\r\n", "\n" or "" for a last line without one
};

bool ReadLines(const std::string& fileName, std::vector<Line>& lines) {
    std::ifstream in(fileName, std::ios::binary);
    if (!in) return false;
    std::stringstream buf;
    buf << in.rdbuf();
    const std::string all = buf.str();
    std::size_t start = 0;
    while (start < all.size()) {
        std::size_t nl = all.find('\n', start);
        if (nl == std::string::npos) {
            lines.push_back({all.substr(start), ""});
            break;
        }
        bool cr = nl > start && all[nl - 1] == '\r';
        lines.push_back({all.substr(start, nl - start - (cr ? 1 : 0)), cr ? "\r\n" : "\n"});
        start = nl + 1;
    }
    return true;
}

// The section name of a "[name]" line, or false when the line is no section header.
bool SectionOf(const std::string& text, std::string& name) {
    std::string t = Trim(text);
    if (t.empty() || t[0] != '[') return false;
    std::size_t close = t.find(']');
    name = Trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
    return true;
}

// Splits a "key=value" line; comment lines (";") and lines without "=" are no keys.
bool KeyOf(const std::string& text, std::string& key, std::string& value) {
    std::string t = TrimLeft(text);
    if (t.empty() || t[0] == ';') return false;
    std::size_t eq = t.find('=');
    if (eq == std::string::npos) return false;
    key = Trim(t.substr(0, eq));
    value = Trim(t.substr(eq + 1));
    return true;
}

// Index of the header of the first section named `section`, or -1.
long FindSection(const std::vector<Line>& lines, const std::string& section) {
    std::string name;
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (SectionOf(lines[i].text, name) && SameText(name, section)) return static_cast<long>(i);
    return -1;
}

// Index of the key line within the section starting at `header`, or -1; `end` gets the
// index one past the section's last non-blank line.
long FindKey(const std::vector<Line>& lines, long header, const std::string& key, std::size_t& end) {
    std::string name, k, v;
    end = static_cast<std::size_t>(header) + 1;
    for (std::size_t i = end; i < lines.size(); ++i) {
        if (SectionOf(lines[i].text, name)) break;
        if (!Trim(lines[i].text).empty()) end = i + 1;
        if (KeyOf(lines[i].text, k, v) && SameText(k, key)) return static_cast<long>(i);
    }
    return -1;
}

std::string Unquote(const std::string& v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        return v.substr(1, v.size() - 2);
    return v;
}

// Length in bytes of the well-formed UTF-8 sequence at `at`, or 1 for a byte that does not start one
// (such a byte counts as one character of its own, as a Latin-1 reader would see it).
std::size_t CharacterLength(const std::string& text, std::size_t at) {
    auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 && lead <= 0xDF ? 2 : 1;
    if (lead >= 0xF5 || at + length > text.size()) return 1;
    for (std::size_t i = 1; i < length; ++i)
        if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) return 1;
    return length;
}

// Keeps the first `maxChars` characters: a multi-byte character is kept whole or not at all.
void CutToCharacters(std::string& text, std::size_t maxChars) {
    std::size_t at = 0;
    for (std::size_t count = 0; at < text.size() && count < maxChars; ++count)
        at += CharacterLength(text, at);
    text.resize(at);
}

bool LookUp(const std::string& section, const std::string& key, const std::string& fileName, std::string& value) {
    std::vector<Line> lines;
    if (section.empty() || key.empty() || !ReadLines(fileName, lines)) return false;
    long header = FindSection(lines, section);
    if (header < 0) return false;
    std::size_t end = 0;
    long at = FindKey(lines, header, key, end);
    if (at < 0) return false;
    std::string k;
    KeyOf(lines[static_cast<std::size_t>(at)].text, k, value);
    value = Unquote(value);
    CutToCharacters(value, MaxProfileValue);
    return true;
}

void CheckName(const std::string& what, const std::string& name) {
    if (name.empty()) throw EArgumentError("INI " + what + " name must not be empty");
    if (name.find_first_of(std::string("[]=\r\n\0", 6)) != std::string::npos || Trim(name) != name)
        throw EArgumentError("INI " + what + " name \"" + name + "\" contains a character that is not allowed");
}

std::string DefaultEol(const std::vector<Line>& lines) {
    for (const Line& l : lines)
        if (!l.eol.empty()) return l.eol;
    return "\r\n";
}

void SetValue(std::vector<Line>& lines, const std::string& section, const std::string& key, const std::string& value) {
    const std::string eol = DefaultEol(lines);
    long header = FindSection(lines, section);
    if (header < 0) {
        if (!lines.empty() && lines.back().eol.empty()) lines.back().eol = eol;
        lines.push_back({"[" + section + "]", eol});
        lines.push_back({key + "=" + value, eol});
        return;
    }
    std::size_t end = 0;
    long at = FindKey(lines, header, key, end);
    if (at >= 0) {
        Line& l = lines[static_cast<std::size_t>(at)];
        std::string lead = l.text.substr(0, l.text.find_first_not_of(" \t"));
        std::string oldKey = Trim(l.text.substr(0, l.text.find('=')));
        l.text = lead + oldKey + "=" + value;
        return;
    }
    if (end > 0 && lines[end - 1].eol.empty()) lines[end - 1].eol = eol;
    lines.insert(lines.begin() + static_cast<long>(end), {key + "=" + value, eol});
}

bool IsReadOnly(const std::string& fileName, mode_t& mode) {
    struct stat st {};
    if (stat(fileName.c_str(), &st) != 0) {
        mode = 0644;
        return false;
    }
    mode = st.st_mode & 07777;
    return (st.st_mode & 0222) == 0;
}

bool WriteAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void ReplaceFile(const std::string& fileName, const std::vector<Line>& lines) {
    const EInOutError failure("Unable to write to " + fileName);
    mode_t mode = 0644;
    if (IsReadOnly(fileName, mode)) throw failure;
    std::string data;
    for (const Line& l : lines)
        data += l.text + l.eol;
    std::string tmp = fileName + ".XXXXXX";
    int fd = mkstemp(tmp.data());
    if (fd < 0) throw failure;
    bool ok = WriteAll(fd, data) && fchmod(fd, mode) == 0 && fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (!ok || std::rename(tmp.c_str(), fileName.c_str()) != 0) {
        ::unlink(tmp.c_str());
        throw failure;
    }
}

} // namespace

int ProfileTextToInt(const std::string& text, int def) {
    std::string t = Trim(text);
    bool negative = !t.empty() && t[0] == '-';
    std::string body = (!t.empty() && (t[0] == '-' || t[0] == '+')) ? t.substr(1) : t;
    std::size_t digitsAt = 0;
    if (body.size() > 2 && body[0] == '0' && (body[1] == 'x' || body[1] == 'X'))
        digitsAt = 2;
    else if (body.size() > 1 && body[0] == '$')
        digitsAt = 1;
    if (digitsAt == 0) return StrToIntDef(t, def);
    std::string hex = body.substr(digitsAt);
    if (hex.size() > 8 || hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return def;
    unsigned long v = std::stoul(hex, nullptr, 16);
    int value = static_cast<int>(static_cast<unsigned int>(v)); // eight hex digits wrap like a 32-bit register
    return negative ? -value : value;
}

std::string GetPrivateProfileString(const std::string& section, const std::string& key, const std::string& def,
                                    const std::string& fileName) {
    std::string value;
    return LookUp(section, key, fileName, value) ? value : def;
}

int GetPrivateProfileInt(const std::string& section, const std::string& key, int def, const std::string& fileName) {
    std::string value;
    if (!LookUp(section, key, fileName, value)) return def;
    return ProfileTextToInt(value, def);
}

bool ProfileKeyExists(const std::string& section, const std::string& key, const std::string& fileName) {
    std::string value;
    return LookUp(section, key, fileName, value);
}

bool ProfileSectionExists(const std::string& section, const std::string& fileName) {
    std::vector<Line> lines;
    return !section.empty() && ReadLines(fileName, lines) && FindSection(lines, section) >= 0;
}

std::vector<std::string> ProfileSections(const std::string& fileName) {
    std::vector<Line> lines;
    std::vector<std::string> names;
    std::string name;
    if (ReadLines(fileName, lines))
        for (const Line& line : lines)
            if (SectionOf(line.text, name)) names.push_back(name);
    return names;
}

void WritePrivateProfileString(const std::string& section, const std::string& key, const std::string& value,
                               const std::string& fileName) {
    CheckName("section", section);
    CheckName("key", key);
    if (value.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
        throw EArgumentError("INI value for key \"" + key + "\" contains a line break or NUL");
    std::lock_guard<std::mutex> guard(g_writeLock);
    std::vector<Line> lines;
    ReadLines(fileName, lines);
    SetValue(lines, section, key, value);
    ReplaceFile(fileName, lines);
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key, const std::string& def) const {
    return GetPrivateProfileString(section, key, def, m_fileName);
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key, int def) const {
    return GetPrivateProfileInt(section, key, def, m_fileName);
}

bool TIniFile::ValueExists(const std::string& section, const std::string& key) const {
    return ProfileKeyExists(section, key, m_fileName);
}

void TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
    WritePrivateProfileString(section, key, value, m_fileName);
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, int value) {
    WritePrivateProfileString(section, key, std::to_string(value), m_fileName);
}
