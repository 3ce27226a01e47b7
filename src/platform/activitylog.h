// The activity log: one line per event, to the console's log pane, to the day's log file
// "yyyy-mm-dd.log" in the current directory and, headless, to stdout.
#pragma once

#include "platform/clock.h"
#include "platform/scopedinstall.h"

#include <atomic>
#include <exception>
#include <mutex>
#include <string>

class TMemo;

/// True while WriteLog is writing the day's file.
extern std::atomic<bool> LogFileBusy;

/// Writes one log line "%-21s %-10s %s " of the current time, "[category]" and the message.
/// Never throws and never drops a line: when the file cannot be written the line still reaches
/// the pane and stdout, and the failure is reported once on the pane. Callable from any thread:
/// lines reach the file, stdout and the pane in the order they were written; the pane is edited
/// on the message loop's thread (directly when no loop is installed).
void WriteLog(const std::string& category, const std::string& message);
/// The "ERROR" line of a step that failed: the step's name, a colon and the error's message.
void LogStepError(const std::string& step, const std::exception& e);
/// Adds a bare line (no time stamp or category) to the pane and stdout only.
void WritePaneLine(const std::string& line);

/// The log line for a moment, category and message (without line ending).
std::string FormatLogLine(TDateTime when, const std::string& category, const std::string& message);
/// "yyyy-mm-dd.log" of the day of `when`.
std::string LogFileName(TDateTime when);
/// Reads a day's file while no line is being written to it (a consistent snapshot);
/// false when it cannot be read.
bool ReadLogFileSnapshot(const std::string& fileName, std::string& content);

/// While one lives (a scan), the day's file stays open and lines reach it, and stdout, in blocks of
/// whole lines: written once 100 ms have passed since the oldest line waiting, when many wait, before
/// a snapshot is read and when the last one goes. The bytes of the file are the same as line by line.
class ScopedLogBlocks {
public:
    ScopedLogBlocks();
    ~ScopedLogBlocks();
    ScopedLogBlocks(const ScopedLogBlocks&) = delete;
    ScopedLogBlocks& operator=(const ScopedLogBlocks&) = delete;
};

/// Where WriteLog sends its lines: the console pane (may be null) and whether to echo to stdout.
/// Installs the pane and returns the one it replaced. Prefer ScopedLogPane.
TMemo* SetLogPane(TMemo* pane);
using ScopedLogPane = ScopedInstall<TMemo, &SetLogPane>;
void SetLogEcho(bool toStdout);

/// Pane trimming: at this many lines the first TrimChars characters are deleted before a new line.
constexpr std::size_t PaneMaxLines = 200;
constexpr std::size_t PaneTrimChars = 7200;
