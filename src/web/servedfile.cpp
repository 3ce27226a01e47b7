// Served files are opened first and checked afterwards by the path the kernel resolved for the
// open descriptor, so a symlink swapped in between cannot lead outside the directory.
#include "web/servedfile.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool AcceptablePathText(const std::string& path) {
    if (path.empty() || path[0] == '/') return false;
    if (path.find('\\') != std::string::npos || path.find('\0') != std::string::npos) return false;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t slash = path.find('/', start);
        if (slash == std::string::npos) slash = path.size();
        if (path.compare(start, slash - start, "..") == 0) return false;
        start = slash + 1;
    }
    return true;
}

std::string ResolvedPath(int fd) {
    char buffer[PATH_MAX];
    std::string link = "/proc/self/fd/" + std::to_string(fd);
    ssize_t n = ::readlink(link.c_str(), buffer, sizeof buffer);
    return n <= 0 || std::size_t(n) >= sizeof buffer ? std::string() : std::string(buffer, std::size_t(n));
}

bool InsideCurrentDirectory(const std::string& resolved) {
    char buffer[PATH_MAX];
    if (::getcwd(buffer, sizeof buffer) == nullptr || resolved.empty()) return false;
    std::string dir = buffer;
    if (dir.back() != '/') dir += '/';
    return resolved.compare(0, dir.size(), dir) == 0;
}

bool ReadAll(int fd, std::string& content) {
    char buffer[16384];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        content.append(buffer, std::size_t(n));
    }
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() {
        if (m_fd >= 0) ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return m_fd; }

private:
    int m_fd;
};

// A file that is there but cannot be opened (no permission, no descriptor left) is a failed load,
// not a missing file; outside the directory it stays "missing", so nothing there can be probed.
TServedFile OpenFailure(const std::string& path) {
    if (errno == ENOENT || errno == ENOTDIR) return TServedFile::Missing;
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr || !InsideCurrentDirectory(resolved)) return TServedFile::Missing;
    return TServedFile::Failed;
}

} // namespace

TServedFile ReadServedFile(const std::string& path, std::string& content) {
    content.clear();
    if (!AcceptablePathText(path)) return TServedFile::Missing;
    // O_NONBLOCK: a FIFO planted in the directory must not hang the connection in open().
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (file.Get() < 0) return OpenFailure(path);
    struct stat info {};
    if (::fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode)) return TServedFile::Missing;
    if (!InsideCurrentDirectory(ResolvedPath(file.Get()))) return TServedFile::Missing;
    return ReadAll(file.Get(), content) ? TServedFile::Read : TServedFile::Failed;
}
