// The file-backed class registry: one directory per key, the default value in the key's "@" file.
#include "quorrabox/com/classregistry.h"

#include "platform/errors.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// File holding a key's default value. Key names never produce a file name starting with "@"
// (it is escaped), so the value file and its temporary siblings cannot collide with a subkey.
const char* const ValueFile = "@";

bool NeedsEscape(unsigned char c, bool first) {
    return c < 0x20 || c == 0x7F || c == '%' || c == '/' || c == '@' || (first && c == '.');
}

std::string EscapeName(const std::string& name) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < name.size(); ++i) {
        auto c = static_cast<unsigned char>(name[i]);
        if (NeedsEscape(c, i == 0)) {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string UnescapeName(const std::string& file) {
    std::string out;
    for (std::size_t i = 0; i < file.size(); ++i) {
        int hi = i + 2 < file.size() && file[i] == '%' ? HexValue(file[i + 1]) : -1;
        int lo = hi >= 0 ? HexValue(file[i + 2]) : -1;
        if (lo >= 0) {
            out += static_cast<char>(hi << 4 | lo);
            i += 2;
        } else {
            out += file[i];
        }
    }
    return out;
}

bool SameNameAscii(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] + 32) : a[i];
        char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] + 32) : b[i];
        if (x != y) return false;
    }
    return true;
}

// Splits a key path at its backslashes; false when the path is empty or has an empty name part.
bool TrySplitKey(const std::string& key, std::vector<std::string>& parts) {
    std::size_t start = 0;
    while (true) {
        std::size_t end = key.find('\\', start);
        parts.push_back(key.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (parts.back().empty()) return false;
        if (end == std::string::npos) return true;
        start = end + 1;
    }
}

std::vector<std::string> SplitKey(const std::string& key) {
    std::vector<std::string> parts;
    if (!TrySplitKey(key, parts)) throw EArgumentError("Invalid registry key name \"" + key + "\"");
    return parts;
}

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The subkey directory of `dir` named `name` (any letter case), empty when there is none.
std::string FindChild(const std::string& dir, const std::string& name) {
    std::string exact = dir + "/" + EscapeName(name);
    if (IsDirectory(exact)) return exact;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec)) {
        std::string file = entry.path().filename().string();
        if (file[0] != '@' && SameNameAscii(UnescapeName(file), name) && entry.is_directory(ec))
            return entry.path().string();
    }
    return {};
}

std::string ErrnoText() {
    return std::strerror(errno);
}

void WriteAll(int fd, const std::string& data, const std::string& path) {
    const char* p = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw EInOutError("Unable to write to " + path + ": " + ErrnoText());
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}

// Writes the file beside its final name, flushes it to disk and renames it over the old one.
void ReplaceFileAtomically(const std::string& path, const std::string& data) {
    std::string temp = path + "tmp.XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0) throw EInOutError("Unable to write to " + path + ": " + ErrnoText());
    try {
        ::fchmod(fd, 0644);
        WriteAll(fd, data, path);
        if (::fsync(fd) != 0) throw EInOutError("Unable to write to " + path + ": " + ErrnoText());
    } catch (...) {
        ::close(fd);
        ::unlink(temp.c_str());
        throw;
    }
    ::close(fd);
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        std::string reason = ErrnoText();
        ::unlink(temp.c_str());
        throw EInOutError("Unable to write to " + path + ": " + reason);
    }
}

std::string HomeDir() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    const passwd* pw = ::getpwuid(::getuid());
    return pw && pw->pw_dir ? pw->pw_dir : "/tmp";
}

} // namespace

TClassRegistry::TClassRegistry(std::string rootDir) : m_root(std::move(rootDir)) {
    while (m_root.size() > 1 && m_root.back() == '/')
        m_root.pop_back();
}

std::string TClassRegistry::DefaultRoot() {
    if (const char* dir = std::getenv("VKT_CLASS_REGISTRY"); dir && *dir) return dir;
    const char* data = std::getenv("XDG_DATA_HOME");
    std::string base = data && data[0] == '/' ? data : HomeDir() + "/.local/share";
    return base + "/vkt/classes";
}

std::optional<std::string> TClassRegistry::FindKeyDir(const std::string& key) const {
    std::vector<std::string> parts;
    if (!TrySplitKey(key, parts)) return std::nullopt;
    std::string dir = m_root;
    for (const auto& part : parts) {
        dir = FindChild(dir, part);
        if (dir.empty()) return std::nullopt;
    }
    return dir;
}

std::string TClassRegistry::CreateKeyDir(const std::string& key) {
    std::vector<std::string> parts = SplitKey(key);
    std::error_code ec;
    fs::create_directories(m_root, ec);
    if (!IsDirectory(m_root)) throw EInOutError("Unable to write to " + m_root + ": " + ec.message());
    std::string dir = m_root;
    for (const auto& part : parts) {
        std::string child = FindChild(dir, part);
        if (child.empty()) {
            child = dir + "/" + EscapeName(part);
            if (::mkdir(child.c_str(), 0755) != 0 && errno != EEXIST)
                throw EInOutError("Unable to write to " + child + ": " + ErrnoText());
            if (!IsDirectory(child)) throw EInOutError("Unable to write to " + child + ": not a directory");
        }
        dir = child;
    }
    return dir;
}

std::optional<std::string> TClassRegistry::ReadValue(const std::string& key) const {
    std::optional<std::string> dir = FindKeyDir(key);
    if (!dir) return std::nullopt;
    std::ifstream in(*dir + "/" + ValueFile, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void TClassRegistry::WriteValue(const std::string& key, const std::string& value) {
    ReplaceFileAtomically(CreateKeyDir(key) + "/" + ValueFile, value);
}

bool TClassRegistry::DeleteKey(const std::string& key) {
    std::optional<std::string> dir = FindKeyDir(key);
    if (!dir) return false;
    std::error_code ec;
    std::vector<fs::path> own;
    for (const auto& entry : fs::directory_iterator(*dir, ec)) {
        if (entry.path().filename().string()[0] != '@') return false; // a subkey
        own.push_back(entry.path());
    }
    for (const auto& file : own)
        fs::remove(file, ec);
    return ::rmdir(dir->c_str()) == 0;
}

bool TClassRegistry::KeyExists(const std::string& key) const {
    return FindKeyDir(key).has_value();
}

std::vector<std::string> TClassRegistry::SubKeys(const std::string& key) const {
    std::optional<std::string> dir = key.empty() ? std::optional<std::string>(m_root) : FindKeyDir(key);
    std::vector<std::string> names;
    if (!dir) return names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(*dir, ec)) {
        std::string file = entry.path().filename().string();
        if (file[0] != '@' && entry.is_directory(ec)) names.push_back(UnescapeName(file));
    }
    return names;
}

void CreateRegKey(const std::string& key, const std::string& value) {
    TClassRegistry(TClassRegistry::DefaultRoot()).WriteValue(key, value);
}

void DeleteRegKey(const std::string& key) {
    TClassRegistry(TClassRegistry::DefaultRoot()).DeleteKey(key);
}

std::optional<std::string> GetRegStringValue(const std::string& key) {
    return TClassRegistry(TClassRegistry::DefaultRoot()).ReadValue(key);
}
