// Program directory, computer name and file version.
#include "platform/progdir.h"

#include "platform/strutil.h"

#include <climits>
#include <cstdlib>
#include <unistd.h>

std::string ProgramPath() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    if (n <= 0) return {};
    return std::string(buf, static_cast<std::size_t>(n));
}

std::string ProgramDir() {
    const char* home = std::getenv("VKT_HOME");
    std::string dir;
    if (home && *home) {
        dir = home;
    } else {
        std::string path = ProgramPath();
        std::size_t slash = path.rfind('/');
        dir = slash == std::string::npos ? "." : path.substr(0, slash);
    }
    if (dir.empty() || dir.back() != '/') dir += '/';
    return dir;
}

std::string ComputerName() {
    char buf[256] = {};
    if (gethostname(buf, sizeof(buf) - 1) != 0) return {};
    return buf;
}

std::string FileVersion() {
    return Format("%d.%d.%d.%d", VKT_VERSION_MAJOR, VKT_VERSION_MINOR, VKT_VERSION_PATCH, VKT_VERSION_TWEAK);
}
