// A daemon's sites as a YAML file, the form `vkt-datutil apply` reads and `export` writes:
//
//   daemon: probe1
//   sites:
//     - code: a1
//       name: Alpha
//       address: 10.0.0.1
//       downtime: 5
//       email: ops@example.org
//       contactflag: 2
//       tags: [core, wan]
//
// Values are taken as written (no YAML type guessing), so the site store checks them as it checks
// any other input; every site keeps the line of each of its fields for the messages. The file is
// UTF-8 text of one document, each key once; Write quotes every value another reader would take
// for a number, a boolean, a date or null.
#pragma once

#include "db/sitestore.h"
#include "db/sitetags.h"

#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace YAML {
class Node;
}

class SitesFile {
public:
    struct Entry {
        SiteFields Site;
        /// The site's whole list of tags (NormalTags); none when the entry has no tags key, which
        /// leaves the site's tags as they are.
        std::optional<std::vector<std::string>> Tags;
        /// The line of the entry's first field, and of each field given.
        int Line = 0;
        std::map<std::string, int> FieldLines;
    };

    /// Reads the file; false when it cannot be read or is not such a file (Refusal() says where).
    bool Read(const std::string& path);
    /// "FILE:LINE: FIELD: MESSAGE" of the last Read that failed.
    const std::string& Refusal() const { return m_refusal; }
    /// The refusal of a field of the daemon or of site `index`, at the field's line (the entry's
    /// when the field is missing); "daemon" and "sites" are refused at their keys' lines.
    std::string RefusalAt(const std::string& field, std::size_t index, const std::string& message) const;

    /// The YAML text of a daemon's sites with their tags; empty fields and lists are left out.
    static std::string Write(const std::string& daemon, const std::vector<SiteFields>& sites,
                             const SiteTagMap& tags = {});

    const std::string& Daemon() const { return m_daemon; }
    const std::vector<Entry>& Sites() const { return m_sites; }

private:
    bool Parse(const std::string& text);
    bool ParseSite(const YAML::Node& node);
    bool ParseTags(const YAML::Node& node, int line, Entry& entry);
    bool Refuse(int line, const std::string& field, const std::string& message);

    std::string m_path;
    std::string m_daemon;
    int m_daemonLine = 1;
    int m_sitesLine = 1;
    std::vector<Entry> m_sites;
    /// The line of each listed code, by SiteCodeKey.
    std::unordered_map<std::string, int> m_codeLines;
    std::string m_refusal;
};
