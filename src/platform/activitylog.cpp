// The activity log writer.
#include "platform/activitylog.h"

#include "platform/tmemo.h"
#include "platform/datetime.h"
#include "platform/msgloop.h"
#include "platform/strutil.h"

#include <cerrno>
#include <cmath>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <thread>
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

int OpenForAppend(const std::string& fileName, std::string& error) {
    const int fd = ::open(fileName.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) error = std::strerror(errno);
    return fd;
}

/// Whole lines are written whole or not at all: when the disk fills part-way, the file is cut back
/// to where they began, so the next line does not get glued to a torn one.
bool WriteWhole(int fd, const std::string& data, std::string& error) {
    const off_t start = ::lseek(fd, 0, SEEK_END);
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = n < 0 ? std::strerror(errno) : "short write";
            if (done > 0 && start >= 0 && ::ftruncate(fd, start) != 0)
                error += " (the partial line could not be removed)";
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool AppendToFile(const std::string& fileName, const std::string& data, std::string& error) {
    const int fd = OpenForAppend(fileName, error);
    if (fd < 0) return false;
    if (!WriteWhole(fd, data, error)) {
        ::close(fd);
        return false;
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

// Clears LogFileBusy however the write ends.
struct BusyFlag {
    BusyFlag() { LogFileBusy = true; }
    ~BusyFlag() { LogFileBusy = false; }
};

// Lines of a scan in blocks: the day's file open, the lines waiting for it and for stdout.
// Guarded by g_logLock; the flusher thread writes what waits once it is 100 ms old.
struct LogBlocks {
    static constexpr std::size_t WriteAt = 64 * 1024;
    static constexpr std::chrono::milliseconds MaxAge{100};
    int Depth = 0;
    int Fd = -1;
    std::string FileName, File, Echo;
    std::chrono::steady_clock::time_point Oldest;
    bool Stop = false;
    std::condition_variable Wake;
    std::thread Flusher;
};
LogBlocks g_blocks;

void WriteEcho(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void Echo(const std::string& line) {
    if (!g_echo) return;
    if (g_blocks.Depth == 0) return WriteEcho(line + "\n");
    g_blocks.Echo += line;
    g_blocks.Echo += '\n';
}

/// Reports a failure once (until a write succeeds again) on the pane; true when it did.
bool ReportFileResult(const std::string& fileName, bool written, const std::string& error);
void HandOverToPane();

void CloseBlockFile() {
    if (g_blocks.Fd >= 0) ::close(g_blocks.Fd);
    g_blocks.Fd = -1;
    g_blocks.FileName.clear();
}

// With g_logLock held: what waits goes to the day's file and stdout. True when a failure went to the
// pane's queue (the caller hands it over once the lock is free).
bool FlushBlocks() {
    bool reported = false;
    if (!g_blocks.File.empty()) {
        std::string error;
        if (g_blocks.Fd < 0) g_blocks.Fd = OpenForAppend(g_blocks.FileName, error);
        const bool written = g_blocks.Fd >= 0 && WriteWhole(g_blocks.Fd, g_blocks.File, error);
        const std::string fileName = g_blocks.FileName;
        if (!written) CloseBlockFile(); // opened afresh for the next block: the fault may pass
        g_blocks.File.clear();
        reported = ReportFileResult(fileName, written, error);
    }
    if (!g_blocks.Echo.empty()) WriteEcho(g_blocks.Echo);
    g_blocks.Echo.clear();
    return reported;
}

// With g_logLock held: the line waits for its block; a new day's file closes the old one.
void AddToBlock(const std::string& fileName, const std::string& line) {
    if (fileName != g_blocks.FileName) {
        FlushBlocks();
        CloseBlockFile();
        g_blocks.FileName = fileName;
    }
    if (g_blocks.File.empty()) g_blocks.Oldest = std::chrono::steady_clock::now();
    g_blocks.File += line;
    g_blocks.File += "\r\n";
    if (g_blocks.File.size() >= LogBlocks::WriteAt) FlushBlocks();
}

void FlushOldBlocks() {
    std::unique_lock<std::mutex> hold(g_logLock);
    while (!g_blocks.Stop) {
        g_blocks.Wake.wait_for(hold, LogBlocks::MaxAge / 2);
        const bool old = std::chrono::steady_clock::now() - g_blocks.Oldest >= LogBlocks::MaxAge;
        if ((g_blocks.File.empty() || !old) && g_blocks.Echo.empty()) continue;
        bool reported = false;
        {
            BusyFlag busy;
            reported = FlushBlocks();
        }
        if (!reported) continue;
        hold.unlock();
        HandOverToPane();
        hold.lock();
    }
}

void ToPane(const std::string& line) {
    Echo(line);
    QueueForPane(line);
}

} // namespace

// One entry is one line: a CR, LF or other control character in a message (a site code, a
// database error text) becomes a space, so no message can start a line of its own.
static std::string OneLine(std::string text) {
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 32 || c == 127) c = ' ';
    return text;
}

static std::string LineOf(const std::string& stamp, const std::string& category, const std::string& message) {
    std::string cat = "[";
    cat += OneLine(category);
    cat += ']';
    return Format("%-21s %-10s %s ", stamp.c_str(), cat.c_str(), OneLine(message).c_str());
}

std::string FormatLogLine(TDateTime when, const std::string& category, const std::string& message) {
    return LineOf(FormatDateTime("yyyy-mm-dd hh:nn:ss", when), category, message);
}

namespace {

/// The time stamp and file name of the second of the last line: a scan writes thousands of lines
/// within one second. Guarded by g_logLock.
struct StampCache {
    long long Second = -1;
    std::string Stamp, FileName;

    void At(TDateTime when) {
        // The whole second as the formatting reckons it: the day, and the milliseconds rounded.
        const double day = std::trunc(when);
        const long long second = static_cast<long long>(day) * 100000 + DaysToMilliseconds(when - day) / 1000;
        if (second == Second) return;
        Second = second;
        Stamp = FormatDateTime("yyyy-mm-dd hh:nn:ss", when);
        FileName = LogFileName(when);
    }
};
StampCache g_stamp;

} // namespace

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
        g_stamp.At(Now());
        const std::string& fileName = g_stamp.FileName;
        const std::string line = LineOf(g_stamp.Stamp, category, message);
        if (g_blocks.Depth > 0) {
            AddToBlock(fileName, line);
        } else {
            std::string error;
            const bool written = AppendToFile(fileName, line + "\r\n", error);
            ReportFileResult(fileName, written, error);
        }
        ToPane(line);
    }
    HandOverToPane();
}

namespace {

bool ReportFileResult(const std::string& fileName, bool written, const std::string& error) {
    const bool report = !written && !g_fileFailing;
    if (report) ToPane("Unable to write log file " + fileName + ": " + error + " (lines go on to this pane only)");
    g_fileFailing = !written;
    return report;
}

} // namespace

ScopedLogBlocks::ScopedLogBlocks() {
    std::lock_guard<std::mutex> hold(g_logLock);
    if (g_blocks.Depth++ > 0) return;
    g_blocks.Stop = false;
    g_blocks.Flusher = std::thread(FlushOldBlocks);
}

ScopedLogBlocks::~ScopedLogBlocks() {
    std::thread flusher;
    bool reported = false;
    {
        std::lock_guard<std::mutex> hold(g_logLock);
        if (--g_blocks.Depth > 0) return;
        BusyFlag busy;
        reported = FlushBlocks();
        CloseBlockFile();
        g_blocks.Stop = true;
        flusher = std::move(g_blocks.Flusher);
    }
    g_blocks.Wake.notify_all();
    flusher.join();
    if (reported) HandOverToPane();
}

void WritePaneLine(const std::string& line) {
    {
        std::lock_guard<std::mutex> hold(g_logLock);
        ToPane(line);
    }
    HandOverToPane();
}

bool ReadLogFileSnapshot(const std::string& fileName, std::string& content) {
    bool reported = false, read = false;
    {
        std::lock_guard<std::mutex> hold(g_logLock);
        reported = FlushBlocks(); // the lines of a running scan are in the file the reader sees
        std::ifstream in(fileName, std::ios::binary);
        if (in) {
            std::stringstream buf;
            buf << in.rdbuf();
            content = buf.str();
            read = true;
        }
    }
    if (reported) HandOverToPane();
    return read;
}

TMemo* SetLogPane(TMemo* pane) {
    std::lock_guard<std::mutex> hold(g_paneLock);
    if (pane != g_pane) g_paneQueue.clear(); // lines meant for the pane that goes
    return std::exchange(g_pane, pane);
}

void SetLogEcho(bool toStdout) {
    g_echo = toStdout;
}
