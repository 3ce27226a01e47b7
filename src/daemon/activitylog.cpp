// The activity log writer.
#include "daemon/activitylog.h"

#include "daemon/tmemo.h"
#include "platform/datetime.h"
#include "platform/strutil.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <unistd.h>

std::atomic<bool> LogFileBusy{false};

namespace {

std::mutex g_fileLock; // held while a line is appended or a reader takes a snapshot
TMemo* g_pane = nullptr;
bool g_echo = false;
bool g_fileFailing = false; // the failure has been reported; report again only after a success

bool AppendToFile(const std::string& fileName, const std::string& data, std::string& error) {
    std::lock_guard<std::mutex> guard(g_fileLock);
    int fd = ::open(fileName.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = n < 0 ? std::strerror(errno) : "short write";
            ::close(fd);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0) {
        error = std::strerror(errno);
        return false;
    }
    return true;
}

void ToPane(const std::string& line) {
    if (g_pane) {
        if (g_pane->LineCount() >= PaneMaxLines) g_pane->DeleteFirstChars(PaneTrimChars);
        g_pane->AddLine(line);
    }
    if (g_echo) {
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
}

// Clears LogFileBusy however the write ends.
struct BusyFlag {
    BusyFlag() { LogFileBusy = true; }
    ~BusyFlag() { LogFileBusy = false; }
};

} // namespace

std::string FormatLogLine(TDateTime when, const std::string& category, const std::string& message) {
    const std::string stamp = FormatDateTime("yyyy-mm-dd hh:nn:ss", when);
    const std::string cat = "[" + category + "]";
    return Format("%-21s %-10s %s ", stamp.c_str(), cat.c_str(), message.c_str());
}

std::string LogFileName(TDateTime when) {
    return FormatDateTime("yyyy-mm-dd", when) + ".log";
}

void WriteLog(const std::string& category, const std::string& message) {
    BusyFlag busy;
    const TDateTime now = Now();
    const std::string fileName = LogFileName(now);
    const std::string line = FormatLogLine(now, category, message);
    std::string error;
    bool written = AppendToFile(fileName, line + "\r\n", error);
    if (!written && !g_fileFailing) {
        g_fileFailing = true;
        ToPane("Unable to write log file " + fileName + ": " + error + " (lines go on to this pane only)");
    } else if (written) {
        g_fileFailing = false;
    }
    ToPane(line);
}

void WritePaneLine(const std::string& line) {
    ToPane(line);
}

bool ReadLogFileSnapshot(const std::string& fileName, std::string& content) {
    std::lock_guard<std::mutex> guard(g_fileLock);
    std::ifstream in(fileName, std::ios::binary);
    if (!in) return false;
    std::stringstream buf;
    buf << in.rdbuf();
    content = buf.str();
    return true;
}

TMemo* SetLogPane(TMemo* pane) {
    TMemo* previous = g_pane;
    g_pane = pane;
    return previous;
}

void SetLogEcho(bool toStdout) {
    g_echo = toStdout;
}
