// Time-out counter and temporary file stream.
#include "net/msutils.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

void TmsTimeCounter::Start() {
    Reset();
}

void TmsTimeCounter::Reset() {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(m_count);
    m_deadline = deadline.time_since_epoch().count();
    m_timedOut = false;
    m_running = true;
}

bool TmsTimeCounter::TimedOut() {
    if (m_running && RemainingMs() == 0) m_timedOut = true;
    return m_timedOut;
}

int TmsTimeCounter::RemainingMs() const {
    if (!m_running) return -1;
    auto deadline = Time(Time::duration(m_deadline.load()));
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() <= 0 ? 0 : int(std::min<long long>(left.count(), 1 << 30));
}

namespace {

std::string TempTemplate() {
    const char* dir = std::getenv("TMPDIR");
    std::string base = (dir != nullptr && *dir != '\0') ? dir : "/tmp";
    if (base.back() != '/') base += '/';
    return base + "msXXXXXX";
}

} // namespace

TmsTempFileStream::TmsTempFileStream() {
    std::string pattern = TempTemplate();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0) throw EInOutError("Cannot create temporary file " + pattern + ": " + std::strerror(errno));
    ::close(fd);
    m_fileName = name.data();
    open(m_fileName, std::ios::in | std::ios::out | std::ios::binary | std::ios::trunc);
    if (!is_open()) {
        ::unlink(m_fileName.c_str());
        throw EInOutError("Cannot open temporary file " + m_fileName);
    }
}

TmsTempFileStream::~TmsTempFileStream() {
    close();
    ::unlink(m_fileName.c_str());
}
