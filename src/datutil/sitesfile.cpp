// Reading and writing the sites file with the YAML library; its marks give the lines.
#include "datutil/sitesfile.h"

#include "db/siteplan.h"
#include "platform/codepage.h"
#include "platform/strutil.h"

#include <yaml-cpp/yaml.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>

namespace {

const char* const kSiteFields[] = {"code", "name", "address", "downtime", "email", "contactflag"};

int NodeLine(const YAML::Node& node) {
    return node.Mark().line + 1;
}

/// Where a field of the site is kept; nullptr for a key that is not a site field.
std::string* FieldOf(SiteFields& site, const std::string& key) {
    if (key == "code") return &site.Code;
    if (key == "name") return &site.Name;
    if (key == "address") return &site.Address;
    if (key == "downtime") return &site.Downtime;
    if (key == "email") return &site.Email;
    if (key == "contactflag") return &site.ContactFlag;
    return nullptr;
}

/// The line of the first byte that is not part of UTF-8 text; 0 when the text is UTF-8. A character
/// never spans a line break, so each line is checked by itself.
int LineNotUtf8(const std::string& text) {
    int line = 1;
    for (std::size_t start = 0; start < text.size(); ++line) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        if (!IsUtf8(std::string_view(text).substr(start, end - start))) return line;
        start = end + 1;
    }
    return 0;
}

/// The length of the UTF-8 character at `at`; 0 when the bytes there are none.
std::size_t CharacterAt(const std::string& text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = 0;
    if (lead < 0x80)
        length = 1;
    else if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4;
    return length > 0 && at + length <= text.size() && IsUtf8(std::string_view(text).substr(at, length)) ? length : 0;
}

/// The value of a scalar. The YAML library decodes the escapes \N (U+0085) and \_ (U+00A0), which
/// other writers use, to a single byte; the text around them is UTF-8 (the file was checked), so such
/// a byte is the character encoded.
std::string ScalarText(const YAML::Node& node) {
    const std::string& raw = node.Scalar();
    std::string text;
    for (std::size_t at = 0; at < raw.size();) {
        if (const std::size_t length = CharacterAt(raw, at); length > 0) {
            text.append(raw, at, length);
            at += length;
            continue;
        }
        const auto byte = static_cast<unsigned char>(raw[at++]);
        if (byte == 0x85 || byte == 0xA0) text += '\xC2';
        text += static_cast<char>(byte);
    }
    return text;
}

/// The line of the document marker that starts a document whose content is at `contentLine`: the
/// last "---" at the start of a line up to it.
int MarkerLine(const std::string& text, int contentLine) {
    int line = 1, marker = contentLine;
    for (std::size_t start = 0; start < text.size() && line <= contentLine; ++line) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string_view row = std::string_view(text).substr(start, end - start);
        if (row.starts_with("---") && (row.size() == 3 || row[3] == ' ' || row[3] == '\t' || row[3] == '\r'))
            marker = line;
        start = end + 1;
    }
    return marker;
}

/// Whether a reader of YAML 1.1 or of the 1.2 core schema takes `value`, written plain, for something
/// other than the string: null, a boolean, an integer (decimal, octal, hexadecimal, binary,
/// sexagesimal), a float, infinity or not-a-number, a date or a time, or a merge or value key. The
/// test is generous (any letter case, any sign): quoting a string that needed none costs nothing.
bool ReadAsOtherType(const std::string& value) {
    static const std::regex words("y|n|yes|no|true|false|on|off|null|~|=|<<|", std::regex::icase);
    static const std::regex number("[-+]?([0-9][0-9_]*|0b[01_]+|0x[0-9a-f_]+|0o[0-7_]+|"
                                   "[0-9][0-9_]*(:[0-5]?[0-9])+(\\.[0-9_]*)?|([0-9][0-9_]*)?\\.[0-9_]*(e[-+]?[0-9]+)?|"
                                   "[0-9][0-9_]*e[-+]?[0-9]+|\\.(inf|nan))",
                                   std::regex::icase);
    static const std::regex date("[0-9]{4}-[0-9]{1,2}-[0-9]{1,2}(([Tt]|[ \t]+)[0-9]{1,2}:[0-9]{2}:[0-9]{2}(\\.[0-9]*)?"
                                 "([ \t]*(Z|[-+][0-9]{1,2}(:[0-9]{2})?))?)?");
    if (value.size() <= 5 && std::regex_match(value, words)) return true;
    // Every number and date starts with a sign, a digit or a dot; most values are spared the patterns.
    const char first = value.empty() ? ' ' : value[0];
    if (first != '-' && first != '+' && first != '.' && (first < '0' || first > '9')) return false;
    return std::regex_match(value, number) || std::regex_match(value, date);
}

/// Whether `value` holds a character some readers take for a line break (U+0085, U+2028, U+2029) or
/// refuse in a file (the C1 controls, U+FFFE, U+FFFF): written as an escape instead.
bool NeedsEscapes(const std::string& value) {
    for (std::size_t i = 0; i + 1 < value.size(); ++i) {
        const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(value[at]); };
        if (byte(i) == 0xC2 && byte(i + 1) >= 0x80 && byte(i + 1) <= 0x9F) return true;
        if (i + 2 < value.size() && byte(i) == 0xE2 && byte(i + 1) == 0x80 && (byte(i + 2) & 0xFE) == 0xA8) return true;
        if (i + 2 < value.size() && byte(i) == 0xEF && byte(i + 1) == 0xBF && byte(i + 2) >= 0xBE) return true;
    }
    return false;
}

/// A text value as the readers of the file read it back as the same string.
void WriteText(YAML::Emitter& out, const std::string& value) {
    if (NeedsEscapes(value))
        out << YAML::DoubleQuoted << YAML::EscapeNonAscii << value;
    else if (ReadAsOtherType(value))
        out << YAML::DoubleQuoted << value;
    else
        out << value;
}

} // namespace

bool SitesFile::Read(const std::string& path) {
    m_path = path;
    m_daemon.clear();
    m_daemonLine = 1;
    m_sitesLine = 1;
    m_sites.clear();
    m_codeLines.clear();
    m_refusal.clear();
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        m_refusal = path + ": cannot be read: " + std::strerror(errno);
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (const int line = LineNotUtf8(text.str()); line > 0)
        return Refuse(line, "", "not UTF-8 text (save the file as UTF-8)");
    try {
        return Parse(text.str());
    } catch (const YAML::Exception& e) {
        return Refuse(e.mark.line + 1, "", "not YAML: " + e.msg);
    }
}

bool SitesFile::Refuse(int line, const std::string& field, const std::string& message) {
    m_refusal = m_path + ":" + std::to_string(line) + ": " + (field.empty() ? "" : field + ": ") + message;
    return false;
}

std::string SitesFile::RefusalAt(const std::string& field, std::size_t index, const std::string& message) const {
    int line = field == "sites" ? m_sitesLine : m_daemonLine;
    if (field != "daemon" && field != "sites" && index < m_sites.size()) {
        const Entry& entry = m_sites[index];
        const auto it = entry.FieldLines.find(field);
        line = it != entry.FieldLines.end() ? it->second : entry.Line;
    }
    return m_path + ":" + std::to_string(line) + ": " + field + ": " + message;
}

bool SitesFile::Parse(const std::string& text) {
    const std::vector<YAML::Node> documents = YAML::LoadAll(text);
    if (documents.size() > 1)
        return Refuse(MarkerLine(text, NodeLine(documents[1])), "",
                      "a second document: a sites file holds one document, the sites of one daemon");
    const YAML::Node root = documents.empty() ? YAML::Node() : documents.front();
    if (!root.IsMap()) return Refuse(root.IsDefined() ? NodeLine(root) : 1, "", "is not a map with daemon: and sites:");
    bool haveSites = false;
    std::map<std::string, int> keyLines;
    for (const auto& item : root) {
        const std::string key = item.first.Scalar();
        const int line = NodeLine(item.first);
        if (const auto [first, added] = keyLines.emplace(key, line); !added)
            return Refuse(line, key, "is given twice (first on line " + std::to_string(first->second) + ")");
        if (key == "daemon") {
            if (!item.second.IsScalar()) return Refuse(line, key, "is not a single value");
            m_daemon = ScalarText(item.second);
            if (!IsUtf8(m_daemon)) return Refuse(line, key, "is not UTF-8 text");
            m_daemonLine = line;
        } else if (key == "sites") {
            haveSites = true;
            m_sitesLine = line;
            if (item.second.IsNull()) continue;
            if (!item.second.IsSequence()) return Refuse(line, key, "is not a list");
            for (const YAML::Node& site : item.second)
                if (!ParseSite(site)) return false;
        } else {
            return Refuse(line, key, "is not a key of a sites file (daemon, sites)");
        }
    }
    if (m_daemon.empty()) return Refuse(m_daemonLine, "daemon", "is required");
    for (Entry& entry : m_sites)
        entry.Site.Daemon = m_daemon;
    if (!haveSites) return Refuse(NodeLine(root), "sites", "is required");
    return true;
}

bool SitesFile::ParseSite(const YAML::Node& node) {
    if (!node.IsMap()) return Refuse(NodeLine(node), "sites", "an entry is not a map of site fields");
    Entry entry;
    entry.Line = NodeLine(node);
    for (const auto& item : node) {
        const std::string key = item.first.Scalar();
        const int line = NodeLine(item.first);
        std::string* value = FieldOf(entry.Site, key);
        if (value == nullptr && key != "tags")
            return Refuse(line, key, "is not a site field (code, name, address, downtime, email, contactflag, tags)");
        if (const auto first = entry.FieldLines.find(key); first != entry.FieldLines.end())
            return Refuse(line, key, "is given twice (first on line " + std::to_string(first->second) + ")");
        if (value == nullptr) {
            if (!ParseTags(item.second, line, entry)) return false;
            continue;
        }
        if (!item.second.IsNull() && !item.second.IsScalar()) return Refuse(line, key, "is not a single value");
        entry.FieldLines[key] = line;
        if (item.second.IsScalar()) *value = ScalarText(item.second);
        // Text that is not UTF-8 never reaches the database, whatever an escape decoded to.
        if (!IsUtf8(*value)) return Refuse(line, key, "is not UTF-8 text");
    }
    if (!entry.Site.Code.empty()) {
        const int line = entry.FieldLines["code"];
        if (const auto [first, added] = m_codeLines.emplace(SiteCodeKey(entry.Site.Code), line); !added)
            return Refuse(line, "code", "is listed twice (first on line " + std::to_string(first->second) + ")");
    }
    m_sites.push_back(std::move(entry));
    return true;
}

bool SitesFile::ParseTags(const YAML::Node& node, int line, Entry& entry) {
    entry.FieldLines["tags"] = line;
    std::vector<std::string> tags;
    if (!node.IsNull() && !node.IsSequence()) return Refuse(line, "tags", "is not a list");
    for (const YAML::Node& tag : node.IsSequence() ? node : YAML::Node()) {
        if (!tag.IsScalar()) return Refuse(NodeLine(tag), "tags", "a tag is not a single value");
        const std::string text = ScalarText(tag);
        if (const std::string problem = TagProblem(text); !problem.empty())
            return Refuse(NodeLine(tag), "tags", "the tag \"" + text + "\" " + problem);
        tags.push_back(text);
    }
    entry.Tags = NormalTags(std::move(tags));
    return true;
}

std::string SitesFile::Write(const std::string& daemon, const std::vector<SiteFields>& sites, const SiteTagMap& tags) {
    YAML::Emitter out;
    out << YAML::BeginMap << YAML::Key << "daemon" << YAML::Value;
    WriteText(out, daemon);
    out << YAML::Key << "sites" << YAML::Value;
    if (sites.empty()) out << YAML::Flow; // "sites: []" on the key's line
    out << YAML::BeginSeq;
    for (const SiteFields& site : sites) {
        SiteFields copy = site;
        out << YAML::BeginMap;
        for (const char* field : kSiteFields) {
            const std::string* value = FieldOf(copy, field);
            if (value->empty()) continue;
            out << YAML::Key << field << YAML::Value;
            // The two numbers are written as numbers; every other field is text.
            if (value == &copy.Downtime || value == &copy.ContactFlag)
                out << *value;
            else
                WriteText(out, *value);
        }
        if (const auto found = tags.find(SiteCodeKey(site.Code)); found != tags.end() && !found->second.empty()) {
            out << YAML::Key << "tags" << YAML::Value << YAML::Flow << YAML::BeginSeq;
            for (const std::string& tag : found->second)
                WriteText(out, tag);
            out << YAML::EndSeq;
        }
        out << YAML::EndMap;
    }
    out << YAML::EndSeq << YAML::EndMap;
    return std::string(out.c_str()) + "\n";
}
