// Stream and client sockets: one TCP connection with line and stream transfer, time-outs that
// restart on progress, cancellation from another thread, and numbered server replies.
#pragma once

#include "net/msutils.h"
#include "net/mswsock.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <chrono>
#include <mutex>
#include <string>

/// No progress for the socket's TimeOut seconds.
class EmsTimedOutError : public Exception {
public:
    EmsTimedOutError() : Exception("Operation timed out") {}
    explicit EmsTimedOutError(const std::string& message) : Exception(message) {}
};

/// The operation was stopped by Cancel.
class EmsCanceledError : public Exception {
public:
    EmsCanceledError() : Exception("Operation has been canceled") {}
};

/// A received line does not fit the line buffer; the bytes read so far are dropped.
class EmsLineTooLongError : public Exception {
public:
    EmsLineTooLongError();
};

/// Mode, time-out and descriptor of a socket. Non-blocking sockets (the default) wait in poll(2)
/// on their own descriptor until it is ready, the time-out runs out or the operation is canceled;
/// blocking sockets wait inside the system call and have no time-out.
class TmsSocketBase {
public:
    /// Size of the buffer that one received line, CR LF included, must fit.
    static constexpr std::size_t LineBufferSize = 2048;

    TmsSocketBase();
    virtual ~TmsSocketBase();
    TmsSocketBase(const TmsSocketBase&) = delete;
    TmsSocketBase& operator=(const TmsSocketBase&) = delete;

    /// Always "2.02".
    std::string Version() const { return "2.02"; }
    /// Pause in milliseconds after each pass of a transfer loop; -1 = none.
    int IdleSleep = -1;
    int TimeOut() const { return m_timeOut; }
    /// Stores the time-out in seconds; it takes effect at the next operation.
    void SetTimeOut(int seconds);
    bool Blocking() const { return m_blocking; }
    /// Only stores the flag; Connect (or the listener) applies the mode.
    void SetBlocking(bool blocking) { m_blocking = blocking; }
    /// Puts the descriptor into the given mode; a blocking socket loses its time-out counter.
    void ApplyBlocking(bool blocking);
    /// Makes sure a non-blocking socket's descriptor is in non-blocking mode (readiness is then
    /// polled on the descriptor itself; there is nothing else to register).
    void SelectEvents();

    bool IsOpen() const;
    int Handle() const;
    /// Adopts an open descriptor (the listener hands over each accepted connection this way); a
    /// descriptor the socket held before is closed. Refused while a call runs on the socket.
    void SetHandle(int handle);
    /// Result of the last send, recv, connect or close.
    std::atomic<long> LastResult{0};
    /// Error of the last asynchronous event (a failed connect), as a Windows Sockets error number.
    std::atomic<std::uint16_t> LastNotificationError{0};
    /// Whether the current (or last) non-blocking operation ran out of time.
    bool TimedOut() const;

protected:
    TmsTimeCounter* Counter() const { return m_counter.get(); }

    mutable std::mutex m_lock;      // guards the handle against a close from another thread
    std::condition_variable m_idle; // signalled whenever a call on the handle ends
    int m_handle = -1;
    int m_busy = 0;              // operations running on the handle
    bool m_closePending = false; // a close that waits for the running operation

private:
    int m_timeOut = 60;
    bool m_blocking = false;
    std::unique_ptr<TmsTimeCounter> m_counter;
};

/// One connected stream. Used by one thread at a time; Cancel (and Close) may come from any thread:
/// while an operation runs, the descriptor is shut down at once to wake it and closed when that
/// operation has ended, so it is never closed under a thread that still uses its number. The
/// destructor cancels a call still running in another thread and waits until it has left.
class TmsSocket : public TmsSocketBase {
public:
    using NotifyEvent = std::function<void(TmsSocket* sender)>;
    using TmsProgressEvent = std::function<void(TmsSocket* sender, int Perc, std::int64_t ByteCount, int LineCount)>;

    /// Bytes per pass of SendStream.
    static constexpr std::size_t StreamBlockSize = 32768;

    TmsSocket() = default;
    ~TmsSocket() override;

    NotifyEvent OnDisconnected;
    NotifyEvent OnConnected;
    TmsProgressEvent OnTransferProgress;
    /// Passed to every send and recv.
    int Flags = 0;
    int SocketType = 1; // stream
    int Protocol = 0;

    bool Canceled() const { return m_canceled; }
    bool Connected() const { return m_connected; }
    bool Disconnected() const { return m_disconnected; }

    /// Sends all bytes or throws.
    void SendBuffer(const void* data, std::size_t length);
    /// Sends the text followed by CR LF.
    void WriteLine(const std::string& text);
    /// Reads one line up to and including LF; returns it without the LF and without its first CR.
    /// A peer that closes ends the line with what it sent (empty when nothing) and sets Disconnected.
    /// A line that does not fit LineBufferSize bytes raises EmsLineTooLongError.
    std::string ReadLine();
    /// Reads exactly `count` bytes (a request's body); fewer when the peer closes first.
    std::string ReadBytes(std::size_t count);
    /// Sends the stream from `start` to its end in StreamBlockSize passes, reporting each pass.
    void SendStream(std::istream& stream, std::int64_t start);
    /// Closes the socket when it is open and fires OnDisconnected.
    void Close();
    /// Stops the running operation (it raises EmsCanceledError) and closes. Safe from any thread.
    void Cancel();
    /// Clears Connected, Disconnected, Canceled, the notification error and the time-out.
    virtual void ResetState();

protected:
    /// Marks one operation on the handle; refuses to start after Cancel.
    class Operation {
    public:
        explicit Operation(TmsSocket& socket);
        ~Operation();
        Operation(const Operation&) = delete;
        Operation& operator=(const Operation&) = delete;
        int Handle() const { return m_handle; }

    private:
        TmsSocket& m_socket;
        int m_handle;
    };

    /// After a failed call (errno set): waits for `events` when it would block, otherwise throws.
    void AfterFailure(int fd, short events);
    /// Waits until fd is ready for `events`, the counter runs out or Cancel is called.
    void WaitReady(int fd, short events);
    /// Throws EmsCanceledError or EmsTimedOutError when either happened.
    void CheckInterrupted();
    void StartCounter();
    void StopCounter();
    void ProgressMade();
    void Idle() const;
    void FireDisconnected() noexcept;

    /// When set, waits end at this moment with EmsTimedOutError(m_deadlineText).
    void SetDeadline(std::chrono::steady_clock::time_point deadline, std::string text);
    void ClearDeadline();

    std::atomic<bool> m_canceled{false};
    std::atomic<bool> m_connected{false};
    std::atomic<bool> m_disconnected{false};

private:
    std::string ReadLineBytes(int fd);
    bool m_hasDeadline = false;
    std::chrono::steady_clock::time_point m_deadline;
    std::string m_deadlineText;
    void ReportProgress(std::int64_t position, std::int64_t size);
    void EndOperation();
};

/// A socket that connects to Host:Port and reads numbered server replies.
class TmsClientSocket : public TmsSocket {
public:
    using NotifyEvent = TmsSocket::NotifyEvent;

    const std::string& Host() const { return m_host; }
    /// "name:port" sets both; a port that is not a number, or no port, gives DefaultPort (when > 0).
    void SetHost(const std::string& text);
    int Port = 0;
    /// Port used by SetHost when the text names none.
    int DefaultPort = 0;
    NotifyEvent OnConnecting;
    /// The last line read by ReadReply.
    std::string LastReply;

    /// The code of a reply line; 1 here, descendants read their protocol's numbers.
    virtual int GetReplyCode(const std::string& line);
    /// Opens a connection to Host:Port; returns only when connected, throws on any failure.
    virtual void Connect();
    /// Reads one line into LastReply and returns its code.
    int ReadReply();
    /// Reads a reply that may span lines ("250-..." up to "250 ..."); returns the first line's code,
    /// LastReply holds the last line. A reply is bounded: at most MaxReplyLines lines (more raise
    /// EmsReplyTooLongError) and all of it within ReplyTimeLimit seconds (EmsTimedOutError), so a
    /// server that keeps sending continuation lines cannot hold the client for ever.
    int ReadResponse();
    static constexpr int MaxReplyLines = 100;
    /// Seconds a whole reply may take, however steadily its bytes arrive; 0 = no limit.
    int ReplyTimeLimit = 30;

private:
    void OpenHandle();
    void WaitConnected(int fd);
    std::string m_host;
};

/// A server reply with more lines than a client reads.
class EmsReplyTooLongError : public Exception {
public:
    EmsReplyTooLongError();
};
