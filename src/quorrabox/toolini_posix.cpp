// TQuorraTool's INI reader over the platform's profile-string functions.
#include "quorrabox/toolini.h"

#include "platform/profile.h"

#include <cstdlib>

namespace {

std::string SystemDirectory() {
    const char* dir = std::getenv("VKT_WINDOWS_DIR");
    return dir && *dir ? dir : "/etc";
}

} // namespace

TToolIni::TToolIni(const std::string& fileName) : m_fileName(fileName) {
    if (fileName.find('/') == std::string::npos) m_fileName = SystemDirectory() + "/" + fileName;
}

std::string TToolIni::ReadString(const std::string& section, const std::string& key, const std::string& def) const {
    return GetPrivateProfileString(section, key, def, m_fileName);
}
