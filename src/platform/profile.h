// Profile-string access to INI files: section and key names matched without regard to case,
// missing versus present-but-empty values, at most 2047 whole characters of a value, integers read
// as decimal or "0x"/"$" hexadecimal. Writes replace the file atomically and keep the rest of it.
#pragma once

#include <string>
#include <vector>

/// Reads a string value; `def` when the section or key is missing (or the file is).
std::string GetPrivateProfileString(const std::string& section, const std::string& key, const std::string& def,
                                    const std::string& fileName);
/// Reads an integer value; `def` when missing, empty or not a whole number.
int GetPrivateProfileInt(const std::string& section, const std::string& key, int def, const std::string& fileName);
/// Whether the key is present in the section (even with an empty value).
bool ProfileKeyExists(const std::string& section, const std::string& key, const std::string& fileName);
/// Whether the section is present (even without keys): an opt-in section switches on by its header alone.
bool ProfileSectionExists(const std::string& section, const std::string& fileName);
/// The names of the file's sections in file order (none when the file is missing).
std::vector<std::string> ProfileSections(const std::string& fileName);
/// Writes a value, creating the file, the section or the key as needed.
/// Throws EArgumentError for a section or key name that would corrupt the file and
/// EInOutError "Unable to write to <path>" when the file cannot be replaced.
void WritePrivateProfileString(const std::string& section, const std::string& key, const std::string& value,
                               const std::string& fileName);
/// Converts INI integer text with the profile rules; `def` for anything that is not a whole number.
int ProfileTextToInt(const std::string& text, int def);

/// Longest value a reader sees, in characters (the rest of a longer value is cut after a whole
/// character; a byte that is not part of a UTF-8 sequence counts as one character).
constexpr std::size_t MaxProfileValue = 2047;

/// Object-style access to one INI file, the way the daemon opens, reads and closes it.
class TIniFile {
public:
    explicit TIniFile(std::string fileName) : m_fileName(std::move(fileName)) {}
    std::string ReadString(const std::string& section, const std::string& key, const std::string& def) const;
    int ReadInteger(const std::string& section, const std::string& key, int def) const;
    bool ValueExists(const std::string& section, const std::string& key) const;
    void WriteString(const std::string& section, const std::string& key, const std::string& value);
    void WriteInteger(const std::string& section, const std::string& key, int value);
    const std::string& FileName() const { return m_fileName; }

private:
    std::string m_fileName;
};
