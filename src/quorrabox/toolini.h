// The INI reader of TQuorraTool: the platform's profile-string reading bound to one file name.
#pragma once

#include <string>

class TToolIni {
public:
    /// A name without a directory refers to a file in the system directory: the Windows directory
    /// there, and here the system's configuration directory (VKT_WINDOWS_DIR when set, else /etc).
    explicit TToolIni(const std::string& fileName);
    /// The value of the key, or `def` when the file, section or key is missing. At most 2047 characters.
    std::string ReadString(const std::string& section, const std::string& key, const std::string& def) const;

private:
    std::string m_fileName;
};
