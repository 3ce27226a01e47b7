// Reading the [Scan] section.
#include "scan/scansettings.h"

#include "platform/profile.h"

#include <algorithm>

namespace {

int ReadAtLeast(const std::string& file, const char* key, int def, int least) {
    const int value = GetPrivateProfileInt("Scan", key, def, file);
    return value < least ? def : value;
}

} // namespace

TScanSettings ReadScanSettings(const std::string& iniFile) {
    TScanSettings s;
    s.Parallel = std::min(ReadAtLeast(iniFile, "Parallel", s.Parallel, 0), MaxParallel);
    s.SendInterval = ReadAtLeast(iniFile, "SendInterval", s.SendInterval, 0);
    s.Echoes = ReadAtLeast(iniFile, "Echoes", s.Echoes, 1);
    s.EchoInterval = ReadAtLeast(iniFile, "EchoInterval", s.EchoInterval, 0);
    const std::string family = GetPrivateProfileString("Scan", "Family", "", iniFile);
    s.FamilyGiven = !family.empty();
    if (!ParseAddressFamily(family, s.Family)) s.Family = AddressFamily::Auto;
    return s;
}
