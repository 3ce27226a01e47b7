// TQuorraTool's INI reader over the system's profile-string functions (Windows build).
#include "quorrabox/toolini.h"

#include "quorrabox/com/comvariant.h"

TToolIni::TToolIni(const std::string& fileName) : m_fileName(fileName) {}

std::string TToolIni::ReadString(const std::string& section, const std::string& key, const std::string& def) const {
    wchar_t buffer[2048];
    OleString wideSection = StringToOleStr(section), wideKey = StringToOleStr(key);
    OleString wideDef = StringToOleStr(def), wideFile = StringToOleStr(m_fileName);
    DWORD length =
        GetPrivateProfileStringW(wideSection.c_str(), wideKey.c_str(), wideDef.c_str(), buffer, 2048, wideFile.c_str());
    // A cut value may end in the first half of a surrogate pair: keep the character whole or not at all.
    if (length > 0 && buffer[length - 1] >= 0xD800 && buffer[length - 1] <= 0xDBFF) --length;
    return OleStrToString(buffer, length);
}
