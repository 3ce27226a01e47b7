// MIME types by file extension, read from a mime.types file ("type ext ext ..." per line,
// "#" comments), the system's type registry on this platform.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class TMimeTypeTable {
public:
    /// Reads a mime.types file; a missing or unreadable file leaves the table empty.
    void LoadFromFile(const std::string& path);
    /// Adds the entries of mime.types text; the first entry for an extension wins.
    void LoadFromText(std::string_view text);
    /// The type of an extension given with or without its dot, in any letter case; empty when unknown.
    std::string Lookup(std::string_view extension) const;
    bool Empty() const { return m_types.empty(); }

private:
    void AddLine(std::string_view line);

    std::unordered_map<std::string, std::string> m_types;
};

/// The system table from /etc/mime.types, read once on first use.
const TMimeTypeTable& SystemMimeTypes();
