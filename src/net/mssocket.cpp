// Socket base (mode, time-out, descriptor) and the life of a stream socket: operations on the
// handle, waiting for readiness, close and cancel.
#include "net/mssocket.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>
#include <utility>

EmsLineTooLongError::EmsLineTooLongError()
    : Exception("Line too long: a line may take at most " + std::to_string(TmsSocketBase::LineBufferSize) +
                " bytes with its CR LF") {}

namespace {

void SetDescriptorBlocking(int fd, bool blocking) {
    int flags = fcntl(fd, F_GETFL);
    if (flags == -1) Winsock->RaiseLastError();
    int wanted = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
    if (wanted != flags && fcntl(fd, F_SETFL, wanted) == -1) Winsock->RaiseLastError();
}

[[noreturn]] void RaiseNotSocket() {
    Winsock->SetLastError(WSAENOTSOCK);
    Winsock->RaiseWinsockError(WSAENOTSOCK);
}

// On the message loop's own thread a wait keeps the loop's messages flowing; elsewhere the
// thread sleeps in poll(2) on the descriptor alone.
bool WaitOnLoop(int fd, short events, int timeoutMs, const std::atomic<bool>& canceled) {
    MessageLoop& loop = MainLoop();
    bool ready = false;
    ScopedSocketWatch watch(loop, fd, events, [&ready](short) { ready = true; });
    auto timeout = std::chrono::milliseconds(timeoutMs < 0 ? 1 << 30 : timeoutMs);
    loop.WaitUntil([&] { return ready || canceled.load(); }, timeout);
    return ready;
}

} // namespace

TmsSocketBase::TmsSocketBase() : m_counter(std::make_unique<TmsTimeCounter>(60)) {}

// No call runs on the handle any more here: a stream socket's destructor has waited for its calls,
// and a listener uses its handle on the loop thread only.
TmsSocketBase::~TmsSocketBase() {
    if (m_handle != -1) ::close(m_handle);
}

void TmsSocketBase::SetTimeOut(int seconds) {
    m_timeOut = seconds;
    if (m_counter) m_counter->SetCount(seconds);
}

void TmsSocketBase::ApplyBlocking(bool blocking) {
    const int fd = Handle();
    if (fd == -1) RaiseNotSocket();
    SetDescriptorBlocking(fd, blocking);
    if (blocking)
        m_counter.reset();
    else if (!m_counter)
        m_counter = std::make_unique<TmsTimeCounter>(m_timeOut);
}

void TmsSocketBase::SelectEvents() {
    const int fd = Handle();
    if (!m_blocking && fd != -1) SetDescriptorBlocking(fd, false);
}

bool TmsSocketBase::IsOpen() const {
    return Handle() != -1;
}

int TmsSocketBase::Handle() const {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_handle;
}

void TmsSocketBase::SetHandle(int handle) {
    int previous = -1;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        if (m_busy > 0) throw Exception("The descriptor of a socket cannot be replaced while a call runs on it");
        previous = std::exchange(m_handle, handle);
    }
    if (previous != -1 && previous != handle) ::close(previous);
}

bool TmsSocketBase::TimedOut() const {
    return m_counter && m_counter->TimedOut();
}

TmsSocket::Operation::Operation(TmsSocket& socket) : m_socket(socket) {
    std::lock_guard<std::mutex> hold(socket.m_lock);
    if (socket.m_canceled) throw EmsCanceledError();
    if (socket.m_handle == -1) RaiseNotSocket();
    m_handle = socket.m_handle;
    ++socket.m_busy;
}

TmsSocket::Operation::~Operation() {
    m_socket.EndOperation();
}

// The last call to end closes a descriptor that a Close from another thread left to it. The call
// counts as running until then, so a destructor waiting for it never frees the socket under it.
void TmsSocket::EndOperation() {
    int fd = -1;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        if (m_busy > 1 || !m_closePending) {
            --m_busy;
            m_idle.notify_all();
            return;
        }
        m_closePending = false;
        std::swap(fd, m_handle);
    }
    LastResult = ::close(fd);
    FireDisconnected();
    std::lock_guard<std::mutex> hold(m_lock);
    --m_busy;
    m_idle.notify_all();
}

TmsSocket::~TmsSocket() {
    int fd = -1;
    {
        std::unique_lock<std::mutex> hold(m_lock);
        if (m_busy > 0) { // a call still runs in another thread: stop it and let it leave first
            m_canceled = true;
            m_closePending = false; // closed here, without events from a socket that is going
            if (m_handle != -1) ::shutdown(m_handle, SHUT_RDWR);
            m_idle.wait(hold, [this] { return m_busy == 0; });
        }
        std::swap(fd, m_handle);
    }
    if (fd != -1) ::close(fd);
}

void TmsSocket::Close() {
    int fd = -1;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        if (m_handle == -1) return;
        if (m_busy > 0) { // another thread is inside a call on this descriptor: wake it, close after
            ::shutdown(m_handle, SHUT_RDWR);
            m_closePending = true;
            return;
        }
        std::swap(fd, m_handle);
    }
    LastResult = ::close(fd);
    FireDisconnected();
}

void TmsSocket::Cancel() {
    m_canceled = true;
    Close();
}

void TmsSocket::ResetState() {
    m_connected = false;
    m_disconnected = false;
    m_canceled = false;
    LastNotificationError = 0;
    if (Counter() != nullptr) {
        Counter()->Reset();
        Counter()->Stop();
    }
}

void TmsSocket::FireDisconnected() noexcept {
    try {
        if (OnDisconnected) OnDisconnected(this);
    } catch (...) {
        // A handler that throws from a close must not take the closing thread with it.
    }
}

void TmsSocket::StartCounter() {
    if (Counter() != nullptr) Counter()->Start();
}

void TmsSocket::StopCounter() {
    if (Counter() != nullptr) Counter()->Stop();
}

void TmsSocket::ProgressMade() {
    if (Counter() != nullptr) Counter()->Reset();
}

void TmsSocket::Idle() const {
    if (IdleSleep >= 0) std::this_thread::sleep_for(std::chrono::milliseconds(IdleSleep));
}

void TmsSocket::CheckInterrupted() {
    if (m_canceled) throw EmsCanceledError();
    if (TimedOut()) throw EmsTimedOutError();
    if (m_hasDeadline && std::chrono::steady_clock::now() >= m_deadline) throw EmsTimedOutError(m_deadlineText);
}

void TmsSocket::SetDeadline(std::chrono::steady_clock::time_point deadline, std::string text) {
    m_deadline = deadline;
    m_deadlineText = std::move(text);
    m_hasDeadline = true;
}

void TmsSocket::ClearDeadline() {
    m_hasDeadline = false;
}

void TmsSocket::AfterFailure(int fd, short events) {
    int err = errno;
    if (err == EINTR) return;
    if (!Blocking() && (err == EAGAIN || err == EWOULDBLOCK)) {
        WaitReady(fd, events);
        return;
    }
    if (m_canceled) throw EmsCanceledError();
    errno = err;
    Winsock->RaiseLastError();
}

void TmsSocket::WaitReady(int fd, short events) {
    CheckInterrupted();
    int timeoutMs = Counter() != nullptr ? Counter()->RemainingMs() : -1;
    if (m_hasDeadline) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(m_deadline - std::chrono::steady_clock::now());
        int deadlineMs = int(std::max<long long>(0, left.count()));
        timeoutMs = timeoutMs < 0 ? deadlineMs : std::min(timeoutMs, deadlineMs);
    }
    if (HasMainLoop() && MainLoop().IsLoopThread()) {
        WaitOnLoop(fd, events, timeoutMs, m_canceled);
    } else {
        pollfd entry{fd, events, 0};
        ::poll(&entry, 1, timeoutMs);
    }
    CheckInterrupted();
}
