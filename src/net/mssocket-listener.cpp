// Listener: listening socket watched on the message loop, one server thread per accepted
// connection, the thread-terminated hand-over back to the loop thread, and shutdown.
#include "net/mssocket-listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <limits>
#include <system_error>

namespace {
// Pending connections the listening socket holds while the loop thread is busy: as many as the
// system allows (the kernel caps the request at net.core.somaxconn), so a burst of clients waits
// instead of being turned away.
constexpr int ListenBacklog = std::numeric_limits<int>::max();
// At most this many connections are taken per readiness report, so the loop keeps turning.
constexpr int AcceptsPerWake = 16;
// Pause after an accept failure that leaves the connection pending (no descriptors left).
constexpr std::chrono::milliseconds AcceptBackOff{100};
} // namespace

/// What a server thread still needs from its listener once it ends, kept alive by both.
struct TmsListenerShared {
    std::mutex lock;
    std::condition_variable ended;
    TmsListenerSocket* owner = nullptr;
    MessageLoop* loop = nullptr;

    // Runs on the loop thread: hands the ended thread to its listener, if that still exists.
    static void Deliver(const std::shared_ptr<TmsListenerShared>& shared, TmsServerThread* thread) {
        TmsListenerSocket* owner = nullptr;
        {
            std::lock_guard<std::mutex> hold(shared->lock);
            owner = shared->owner;
        }
        if (owner != nullptr && owner->ConnList.IndexOf(thread) >= 0) owner->ThreadTerminated(thread);
    }
};

void TmsThreadHandle::Start(std::function<void()> body, std::size_t stackSize) {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, stackSize);
    auto* job = new std::function<void()>(std::move(body));
    int error = pthread_create(
        &m_id, &attributes,
        [](void* arg) -> void* {
            std::unique_ptr<std::function<void()>> run(static_cast<std::function<void()>*>(arg));
            (*run)();
            return nullptr;
        },
        job);
    pthread_attr_destroy(&attributes);
    if (error != 0) {
        delete job;
        throw std::system_error(error, std::generic_category(), "pthread_create");
    }
    m_joinable = true;
}

void TmsThreadHandle::join() {
    if (m_joinable) pthread_join(m_id, nullptr);
    m_joinable = false;
}

void TmsThreadHandle::detach() {
    if (m_joinable) pthread_detach(m_id);
    m_joinable = false;
}

TmsServerThread::~TmsServerThread() {
    if (m_thread.joinable()) m_thread.join();
}

void TmsServerThread::CancelSocket() {
    if (Socket != nullptr) Socket->Cancel();
}

void TmsServerThread::Resume() {
    if (m_started.exchange(true)) return;
    m_thread.Start([this] { Run(); }, StackSize);
}

void TmsServerThread::Run() {
    try {
        Execute();
    } catch (const std::exception& error) {
        FatalException = error.what();
    } catch (...) {
        FatalException = "Unknown exception";
    }
    std::shared_ptr<TmsListenerShared> shared = m_shared;
    if (!shared) {
        m_finished = true;
        return;
    }
    std::unique_lock<std::mutex> hold(shared->lock);
    m_finished = true;
    if (m_orphaned) { // the listener is gone and left this thread to free itself
        hold.unlock();
        delete Socket;
        delete this;
        return;
    }
    if (shared->owner != nullptr)
        shared->loop->Post([shared, thread = this] { TmsListenerShared::Deliver(shared, thread); });
    shared->ended.notify_all();
}

int TmsConnList::Add(TmsServerThread* thread) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_list.push_back(thread);
    return int(m_list.size()) - 1;
}

void TmsConnList::Delete(int index) {
    std::lock_guard<std::mutex> hold(m_lock);
    if (index >= 0 && index < int(m_list.size())) m_list.erase(m_list.begin() + index);
}

int TmsConnList::IndexOf(TmsServerThread* thread) const {
    std::lock_guard<std::mutex> hold(m_lock);
    for (std::size_t i = 0; i < m_list.size(); ++i)
        if (m_list[i] == thread) return int(i);
    return -1;
}

void TmsConnList::Remove(TmsServerThread* thread) {
    std::lock_guard<std::mutex> hold(m_lock);
    std::erase(m_list, thread);
}

int TmsConnList::Count() const {
    std::lock_guard<std::mutex> hold(m_lock);
    return int(m_list.size());
}

std::vector<TmsServerThread*> TmsConnList::Items() const {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_list;
}

TmsListenerSocket::TmsListenerSocket() : m_shared(std::make_shared<TmsListenerShared>()) {}

TmsListenerSocket::~TmsListenerSocket() {
    Shutdown();
}

void TmsListenerSocket::Listen() {
    StopListening();
    m_loop = &MainLoop();
    {
        std::lock_guard<std::mutex> hold(m_shared->lock);
        m_shared->owner = this;
        m_shared->loop = m_loop;
    }
    OpenListeningSocket();
    m_listening = true;
    UpdateWatch();
    if (OnStart) OnStart(this);
}

void TmsListenerSocket::OpenListeningSocket() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
    if (fd == -1) Winsock->RaiseLastError();
    SetHandle(fd);
    int on = 1; // a restart must not wait for the old connections' TIME_WAIT to pass
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(std::uint16_t(Port));
    address.sin_addr.s_addr = BindAddress.empty() ? htonl(INADDR_ANY) : Winsock->AddressToLong(BindAddress);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == -1) Winsock->RaiseLastError();
    if (::listen(fd, ListenBacklog) == -1) Winsock->RaiseLastError();
}

void TmsListenerSocket::StopListening() {
    m_listening = false;
    UpdateWatch();
    if (m_backOff != 0) m_loop->KillTimer(m_backOff);
    m_backOff = 0;
    int fd = -1;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        std::swap(fd, m_handle);
    }
    if (fd != -1) ::close(fd);
}

int TmsListenerSocket::LocalPort() const {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (!IsOpen() || ::getsockname(Handle(), reinterpret_cast<sockaddr*>(&address), &length) == -1) return 0;
    return ntohs(address.sin_port);
}

bool TmsListenerSocket::AtThreadCap() const {
    return MaxServerThreads > 0 && ConnList.Count() >= MaxServerThreads;
}

// Watches the listening socket exactly while connections should be taken: listening, under the
// thread cap and not backing off. Connections that are not taken wait in the backlog.
void TmsListenerSocket::UpdateWatch() {
    bool wanted = m_listening && m_backOff == 0 && !AtThreadCap();
    if (wanted && m_watch == 0) m_watch = m_loop->WatchSocket(Handle(), POLLIN, [this](short) { OnReadable(); });
    if (!wanted && m_watch != 0) {
        m_loop->Unwatch(m_watch);
        m_watch = 0;
    }
}

void TmsListenerSocket::OnReadable() {
    for (int i = 0; i < AcceptsPerWake && m_listening && !AtThreadCap(); ++i) {
        try {
            if (!Accept()) break;
        } catch (...) {
            ReportException();
            break;
        }
    }
    UpdateWatch();
}

void TmsListenerSocket::BackOff() {
    if (m_backOff != 0) return;
    m_backOff = m_loop->SetTimer(AcceptBackOff, false, [this] {
        m_backOff = 0;
        UpdateWatch();
    });
    UpdateWatch();
}

// Called from a catch block: the error goes to OnException, or to the loop's reporting hook when
// no handler is set (or the error is no standard exception), so none is lost.
void TmsListenerSocket::ReportException() {
    try {
        throw;
    } catch (const std::exception& error) {
        if (OnException) {
            OnException(this, error);
            return;
        }
    } catch (...) {
    }
    ReportLoopException();
}

bool TmsListenerSocket::Accept() {
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    int flags = SOCK_CLOEXEC | (BlockingServerSockets ? 0 : SOCK_NONBLOCK);
    int h = ::accept4(Handle(), reinterpret_cast<sockaddr*>(&peer), &length, flags);
    if (h == -1) {
        int err = errno;
        if (err == EAGAIN || err == EWOULDBLOCK || err == EINTR || err == ECONNABORTED) return false;
        BackOff(); // the connection stays pending: without a pause poll would report it at once again
        errno = err;
        Winsock->RaiseLastError();
    }
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
    bool allow = true;
    try {
        if (OnConnectionRequested) OnConnectionRequested(this, text, allow);
    } catch (...) {
        ::close(h);
        throw;
    }
    if (!allow || !ServerThreadClass)
        ::close(h);
    else
        StartServerThread(h, text);
    return true;
}

void TmsListenerSocket::StartServerThread(int handle, const std::string& peer) {
    auto socket = std::make_unique<TmsSocket>();
    socket->SetHandle(handle);
    socket->SetTimeOut(ServerSocketTimeOut);
    socket->IdleSleep = IdleSleep;
    if (BlockingServerSockets) {
        socket->SetBlocking(true);
        socket->ApplyBlocking(true);
    }
    socket->SelectEvents();
    std::unique_ptr<TmsServerThread> thread = ServerThreadClass();
    if (!thread) return;
    thread->ClientAddress = peer;
    thread->Socket = socket.get();
    thread->m_shared = m_shared;
    if (OnServerThreadStart) OnServerThreadStart(this, thread.get());
    ConnList.Add(thread.get());
    socket.release();
    TmsServerThread* started = thread.release();
    if (SuspendedServer) return;
    try {
        started->Resume();
    } catch (...) { // no thread could be had: end this connection as if its thread had run
        ThreadTerminated(started);
        throw;
    }
}

void TmsListenerSocket::ThreadTerminated(TmsServerThread* thread) {
    try {
        if (OnServerThreadTerminate) OnServerThreadTerminate(this, thread);
    } catch (...) {
        ReportException();
    }
    ReleaseThread(thread);
    if (m_listening) UpdateWatch();
}

void TmsListenerSocket::ReleaseThread(TmsServerThread* thread) {
    if (thread->m_thread.joinable()) thread->m_thread.join();
    delete thread->Socket;
    thread->Socket = nullptr;
    ConnList.Remove(thread);
    delete thread;
}

void TmsListenerSocket::Shutdown() {
    StopListening();
    for (TmsServerThread* thread : ConnList.Items()) {
        thread->Terminate();
        if (thread->m_started) thread->CancelSocket();
    }
    WaitForThreads();
    for (TmsServerThread* thread : ConnList.Items()) {
        std::unique_lock<std::mutex> hold(m_shared->lock);
        if (!thread->m_started || thread->m_finished) {
            hold.unlock();
            ThreadTerminated(thread);
        } else { // still running past the wait: it frees itself (and its socket) when it ends
            thread->m_orphaned = true;
            thread->m_thread.detach();
            ConnList.Remove(thread);
        }
    }
    std::lock_guard<std::mutex> hold(m_shared->lock);
    m_shared->owner = nullptr;
}

bool TmsListenerSocket::ThreadsRunning() const {
    for (TmsServerThread* thread : ConnList.Items())
        if (thread->m_started && !thread->m_finished) return true;
    return false;
}

void TmsListenerSocket::WaitForThreads() {
    if (!ThreadsRunning()) return;
    if (m_loop != nullptr && m_loop->IsLoopThread()) {
        m_loop->WaitUntil([this] { return !ThreadsRunning(); }, ShutdownWait);
        return;
    }
    std::unique_lock<std::mutex> hold(m_shared->lock);
    m_shared->ended.wait_for(hold, ShutdownWait, [this] { return !ThreadsRunning(); });
}
