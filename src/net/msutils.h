// Helpers of the socket and mail layers: the time-out counter of a socket operation and a
// self-deleting temporary file stream. Ticks on the message loop come from TTimer.
#pragma once

#include "platform/errors.h"
#include "platform/ttimer.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <string>

/// The time-out of one socket operation: `Count` seconds without progress. It keeps a deadline on
/// the monotonic clock instead of counting ticks, so the thread that waits can sleep in poll(2)
/// right up to it; every `Reset` (a byte of progress) moves the deadline. Safe to read from any
/// thread; started, reset and stopped by the thread that runs the operation.
class TmsTimeCounter {
public:
    using Time = std::chrono::steady_clock::time_point;

    explicit TmsTimeCounter(int count = 60) : m_count(count) {}

    int Count() const { return m_count; }
    /// Takes effect at the next Start or Reset.
    void SetCount(int seconds) { m_count = seconds; }
    /// Starts counting from now. A stale time-out of an earlier operation is cleared as well, so a
    /// new operation never fails at once for an old silence.
    void Start();
    void Stop() { m_running = false; }
    /// Progress: counts again from now and clears TimedOut.
    void Reset();
    bool Running() const { return m_running; }
    /// Whether the deadline has passed while counting; once set it stays set until Start or Reset.
    bool TimedOut();
    /// Milliseconds left until the deadline (0 when passed; -1 when not counting).
    int RemainingMs() const;

private:
    int m_count;
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_timedOut{false};
    std::atomic<Time::rep> m_deadline{0};
};

/// A new, unique temporary file (prefix "ms" in $TMPDIR or /tmp), open for writing and reading;
/// the file is deleted when the stream is destroyed.
class TmsTempFileStream : public std::fstream {
public:
    TmsTempFileStream();
    ~TmsTempFileStream() override;
    TmsTempFileStream(const TmsTempFileStream&) = delete;
    TmsTempFileStream& operator=(const TmsTempFileStream&) = delete;

    const std::string& FileName() const { return m_fileName; }

private:
    std::string m_fileName;
};
