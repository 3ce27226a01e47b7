// The activity log writer.
#include "daemon/activitylog.h"

#include "daemon/tmemo.h"
#include "platform/datetime.h"
#include "platform/msgloop.h"
#include "platform/strutil.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <unistd.h>
#include <utility>

std::atomic<bool> LogFileBusy{false};

namespace {

// One line at a time, from any thread: the file, stdout and the pane's queue get the lines in the
// same order. Snapshot readers take it too, so they never see half a line.
std::mutex g_logLock;
bool g_fileFailing = false; // the failure has been reported; report again only after a success
std::atomic<bool> g_echo{false};

// The pane is edited on the loop thread only: lines queue here and the loop thread takes them.
std::mutex g_paneLock;
TMemo* g_pane = nullptr;
std::deque<std::string> g_paneQueue;
bool g_draining = false; // a drain further up the loop thread's stack takes new lines in order

bool AppendToFile(const std::string& fileName, const std::string& data, std::string& error) {
    int fd = ::open(fileName.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    // A line is written whole or not at all: when the disk fills part-way, the file is cut back
    // to where the line began, so the next line does not get glued to a torn one.
    const off_t start = ::lseek(fd, 0, SEEK_END);
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = n < 0 ? std::strerror(errno) : "short write";
            if (done > 0 && start >= 0 && ::ftruncate(fd, start) != 0)
                error += " (the partial line could not be removed)";
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

void ShowOnPane(TMemo& pane, const std::string& line) {
    if (pane.LineCount() >= PaneMaxLines) pane.DeleteFirstChars(PaneTrimChars);
    pane.AddLine(line);
}

// Runs on the loop thread (or wherever lines are written when no loop runs).
void DrainPane() {
    std::unique_lock<std::mutex> hold(g_paneLock);
    if (g_draining) return;
    g_draining = true;
    struct Done {
        std::unique_lock<std::mutex>& hold;
        ~Done() {
            if (!hold.owns_lock()) hold.lock();
            g_draining = false;
        }
    } done{hold};
    while (!g_paneQueue.empty()) {
        std::string line = std::move(g_paneQueue.front());
        g_paneQueue.pop_front();
        TMemo* pane = g_pane;
        if (pane == nullptr) continue;
        hold.unlock(); // the pane's view may read the log state while it repaints
        ShowOnPane(*pane, line);
        hold.lock();
    }
}

// Called with g_logLock held, so the queue keeps the order of writing.
void QueueForPane(std::string line) {
    std::lock_guard<std::mutex> hold(g_paneLock);
    if (g_pane != nullptr) g_paneQueue.push_back(std::move(line));
}

void HandOverToPane() {
    if (!HasMainLoop() || MainLoop().IsLoopThread())
        DrainPane();
    else
        MainLoop().Post(DrainPane);
}

void Echo(const std::string& line) {
    if (!g_echo) return;
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void ToPane(const std::string& line) {
    Echo(line);
    QueueForPane(line);
}

// Clears LogFileBusy however the write ends.
struct BusyFlag {
    BusyFlag() { LogFileBusy = true; }
    ~BusyFlag() { LogFileBusy = false; }
};

} // namespace

// One entry is one line: a CR, LF or other control character in a message (a site code, a
// database error text) becomes a space, so no message can start a line of its own.
static std::string OneLine(std::string text) {
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 32 || c == 127) c = ' ';
    return text;
}

std::string FormatLogLine(TDateTime when, const std::string& category, const std::string& message) {
    const std::string stamp = FormatDateTime("yyyy-mm-dd hh:nn:ss", when);
    const std::string cat = "[" + OneLine(category) + "]";
    return Format("%-21s %-10s %s ", stamp.c_str(), cat.c_str(), OneLine(message).c_str());
}

std::string LogFileName(TDateTime when) {
    return FormatDateTime("yyyy-mm-dd", when) + ".log";
}

void LogStepError(const std::string& step, const std::exception& e) {
    WriteLog("ERROR", step + ": " + e.what());
}

void WriteLog(const std::string& category, const std::string& message) {
    {
        std::lock_guard<std::mutex> hold(g_logLock);
        BusyFlag busy;
        const TDateTime now = Now();
        const std::string fileName = LogFileName(now);
        const std::string line = FormatLogLine(now, category, message);
        std::string error;
        bool written = AppendToFile(fileName, line + "\r\n", error);
        if (!written && !g_fileFailing)
            ToPane("Unable to write log file " + fileName + ": " + error + " (lines go on to this pane only)");
        g_fileFailing = !written;
        ToPane(line);
    }
    HandOverToPane();
}

void WritePaneLine(const std::string& line) {
    {
        std::lock_guard<std::mutex> hold(g_logLock);
        ToPane(line);
    }
    HandOverToPane();
}

bool ReadLogFileSnapshot(const std::string& fileName, std::string& content) {
    std::lock_guard<std::mutex> hold(g_logLock);
    std::ifstream in(fileName, std::ios::binary);
    if (!in) return false;
    std::stringstream buf;
    buf << in.rdbuf();
    content = buf.str();
    return true;
}

TMemo* SetLogPane(TMemo* pane) {
    std::lock_guard<std::mutex> hold(g_paneLock);
    if (pane != g_pane) g_paneQueue.clear(); // lines meant for the pane that goes
    return std::exchange(g_pane, pane);
}

void SetLogEcho(bool toStdout) {
    g_echo = toStdout;
}
