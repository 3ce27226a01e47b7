// Served files are opened first and checked afterwards by the path the kernel resolved for the
// open descriptor, so a symlink swapped in between cannot lead outside the directory. They are
// read with pread from the start, so the same open file can be measured and then sent.
#include "web/servedfile.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Bytes held per connection while a file is sent.
constexpr std::size_t BlockSize = 64 * 1024;

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

// A file that is there but cannot be opened (no permission, no descriptor left) is a failed load,
// not a missing file; outside the directory it stays "missing", so nothing there can be probed.
TServedFileState OpenFailure(const std::string& path) {
    if (errno == ENOENT || errno == ENOTDIR) return TServedFileState::Missing;
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr || !InsideCurrentDirectory(resolved))
        return TServedFileState::Missing;
    return TServedFileState::Failed;
}

} // namespace

bool HasServedSuffix(const std::string& path, const char* suffix) {
    const std::string tail = suffix;
    return path.size() > tail.size() && path.compare(path.size() - tail.size(), tail.size(), tail) == 0;
}

TServedFile::~TServedFile() {
    Close();
}

void TServedFile::Close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    m_size = 0;
}

TServedFileState TServedFile::Open(const std::string& path) {
    Close();
    if (!AcceptablePathText(path)) return TServedFileState::Missing;
    // O_NONBLOCK: a FIFO planted in the directory must not hang the connection in open().
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return OpenFailure(path);
    m_fd = fd;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || !InsideCurrentDirectory(ResolvedPath(fd))) {
        Close();
        return TServedFileState::Missing;
    }
    m_size = std::uint64_t(info.st_size);
    return TServedFileState::Open;
}

bool TServedFile::ForEachBlock(std::uint64_t limit, const std::function<void(const char*, std::size_t)>& block) const {
    if (m_fd < 0) return false;
    char buffer[BlockSize];
    std::uint64_t offset = 0;
    while (offset < limit) {
        std::size_t want = std::size_t(std::min<std::uint64_t>(sizeof buffer, limit - offset));
        ssize_t n = ::pread(m_fd, buffer, want, off_t(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        block(buffer, std::size_t(n));
        offset += std::uint64_t(n);
    }
    return true;
}

void TTextLines::Add(const char* data, std::size_t size) {
    std::string out;
    out.reserve(size + size / 16 + 2);
    for (std::size_t i = 0; i < size; ++i) {
        char c = data[i];
        if (m_heldCr) {
            m_heldCr = false;
            if (c != '\n') out += '\r';
        }
        if (c == '\r') {
            m_heldCr = true;
            m_inLine = true;
        } else if (c == '\n') {
            out += "\r\n";
            m_inLine = false;
        } else {
            out += c;
            m_inLine = true;
        }
    }
    if (!out.empty()) m_out(out.data(), out.size());
}

void TTextLines::Finish() {
    if (m_inLine) m_out("\r\n", 2);
    m_heldCr = false;
    m_inLine = false;
}
