// Reading and writing the sites file with the YAML library; its marks give the lines.
#include "daemon/sitesfile.h"

#include "platform/strutil.h"

#include <yaml-cpp/yaml.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

const char* const kSiteFields[] = {"code", "name", "address", "downtime", "email", "contactflag"};

int LineOf(const YAML::Node& node) {
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

} // namespace

bool SitesFile::Read(const std::string& path) {
    m_path = path;
    m_daemon.clear();
    m_sites.clear();
    m_refusal.clear();
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        m_refusal = path + ": cannot be read: " + std::strerror(errno);
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
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
    int line = m_daemonLine;
    if (field != "daemon" && index < m_sites.size()) {
        const Entry& entry = m_sites[index];
        const auto it = entry.FieldLines.find(field);
        line = it != entry.FieldLines.end() ? it->second : entry.Line;
    }
    return m_path + ":" + std::to_string(line) + ": " + field + ": " + message;
}

bool SitesFile::Parse(const std::string& text) {
    const YAML::Node root = YAML::Load(text);
    if (!root.IsMap()) return Refuse(root.IsDefined() ? LineOf(root) : 1, "", "is not a map with daemon: and sites:");
    bool haveSites = false;
    for (const auto& item : root) {
        const std::string key = item.first.Scalar();
        const int line = LineOf(item.first);
        if (key == "daemon") {
            if (!item.second.IsScalar()) return Refuse(line, key, "is not a single value");
            m_daemon = item.second.Scalar();
            m_daemonLine = line;
        } else if (key == "sites") {
            haveSites = true;
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
    if (!haveSites) return Refuse(LineOf(root), "sites", "is required");
    return true;
}

bool SitesFile::ParseSite(const YAML::Node& node) {
    if (!node.IsMap()) return Refuse(LineOf(node), "sites", "an entry is not a map of site fields");
    Entry entry;
    entry.Line = LineOf(node);
    for (const auto& item : node) {
        const std::string key = item.first.Scalar();
        const int line = LineOf(item.first);
        std::string* value = FieldOf(entry.Site, key);
        if (value == nullptr)
            return Refuse(line, key, "is not a site field (code, name, address, downtime, email, contactflag)");
        if (entry.FieldLines.contains(key)) return Refuse(line, key, "is given twice");
        if (!item.second.IsNull() && !item.second.IsScalar()) return Refuse(line, key, "is not a single value");
        entry.FieldLines[key] = line;
        if (item.second.IsScalar()) *value = item.second.Scalar();
    }
    for (const Entry& earlier : m_sites)
        if (SameText(earlier.Site.Code, entry.Site.Code) && !entry.Site.Code.empty())
            return Refuse(entry.FieldLines["code"], "code",
                          "is listed twice (first on line " + std::to_string(earlier.FieldLines.at("code")) + ")");
    m_sites.push_back(std::move(entry));
    return true;
}

std::string SitesFile::Write(const std::string& daemon, const std::vector<SiteFields>& sites) {
    YAML::Emitter out;
    out << YAML::BeginMap << YAML::Key << "daemon" << YAML::Value << daemon;
    out << YAML::Key << "sites" << YAML::Value;
    if (sites.empty()) out << YAML::Flow; // "sites: []" on the key's line
    out << YAML::BeginSeq;
    for (const SiteFields& site : sites) {
        SiteFields copy = site;
        out << YAML::BeginMap;
        for (const char* field : kSiteFields)
            if (const std::string* value = FieldOf(copy, field); !value->empty())
                out << YAML::Key << field << YAML::Value << *value;
        out << YAML::EndMap;
    }
    out << YAML::EndSeq << YAML::EndMap;
    return std::string(out.c_str()) + "\n";
}
