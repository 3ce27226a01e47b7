// The listener: accepts TCP connections on the message loop's thread and runs one server thread
// per connection, with a cap on live threads and an orderly stop.
#pragma once

#include "net/mssocket.h"
#include "platform/msgloop.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <string>
#include <thread>
#include <vector>

class TmsListenerSocket;
struct TmsListenerShared;

/// A joinable thread with a stack of its own size (std::thread always takes the system default,
/// 8 MiB here, and stacks that large fall out of the C library's reuse cache when a few dozen
/// connections come and go, so every connection paid for mapping and clearing a fresh stack).
class TmsThreadHandle {
public:
    /// Starts `body` on a new thread; throws std::system_error when none can be had.
    void Start(std::function<void()> body, std::size_t stackSize);
    bool joinable() const { return m_joinable; }
    void join();
    void detach();

private:
    pthread_t m_id{};
    bool m_joinable = false;
};

/// A thread that serves one accepted connection. Created suspended; Resume starts Execute on a
/// thread of its own. The listener frees it (and its Socket) on the loop thread once it has ended.
class TmsServerThread {
public:
    TmsServerThread() = default;
    virtual ~TmsServerThread();
    TmsServerThread(const TmsServerThread&) = delete;
    TmsServerThread& operator=(const TmsServerThread&) = delete;

    /// The peer's address in dotted form.
    std::string ClientAddress;
    /// The connection; created and freed by the listener.
    TmsSocket* Socket = nullptr;
    /// The message of an exception that escaped Execute, empty when none did.
    std::string FatalException;

    /// The conversation; runs on the thread.
    virtual void Execute() = 0;
    /// Cancels the socket's running operation.
    virtual void CancelSocket();

    /// Starts a suspended thread; does nothing when it already runs or ran.
    void Resume();
    /// Asks Execute to end (it looks at Terminated).
    void Terminate() { m_terminated = true; }
    bool Terminated() const { return m_terminated; }
    bool Suspended() const { return !m_started; }
    /// Whether Execute has returned.
    bool Finished() const { return m_finished; }

private:
    friend class TmsListenerSocket;
    void Run();

    /// Stack of every server thread: ample for a conversation, small enough to be reused.
    static constexpr std::size_t StackSize = 1024 * 1024;

    TmsThreadHandle m_thread;
    std::atomic<bool> m_started{false};
    std::atomic<bool> m_terminated{false};
    std::atomic<bool> m_finished{false};
    bool m_orphaned = false; // left running at shutdown: the thread frees itself (under the shared lock)
    std::shared_ptr<TmsListenerShared> m_shared;
};

/// How the listener makes the thread for a connection.
using TmsServerThreadClass = std::function<std::unique_ptr<TmsServerThread>()>;

template <class T> TmsServerThreadClass ServerThreadClassOf() {
    return [] { return std::make_unique<T>(); };
}

/// The live server threads, under a lock of its own. It owns no thread.
class TmsConnList {
public:
    int Add(TmsServerThread* thread);
    void Delete(int index);
    int IndexOf(TmsServerThread* thread) const;
    void Remove(TmsServerThread* thread);
    int Count() const;
    std::vector<TmsServerThread*> Items() const;

private:
    mutable std::mutex m_lock;
    std::vector<TmsServerThread*> m_list;
};

/// Port and the settings given to every server socket.
class TmsListenerSocketBase : public TmsSocketBase {
public:
    using NotifyEvent = std::function<void(TmsListenerSocket* sender)>;

    /// Port to listen on (0 lets the system choose; LocalPort tells which).
    int Port = 0;
    /// Local address to listen on; empty means every interface.
    std::string BindAddress;
    NotifyEvent OnStart;
    /// TimeOut of every server socket, in seconds.
    int ServerSocketTimeOut = 60;
    /// Mode of every server socket (blocking sockets have no time-out).
    bool BlockingServerSockets = false;

    /// Takes one pending connection; false when none was waiting.
    virtual bool Accept() = 0;
};

/// The listener. Listen, Accept, both thread events and the thread-terminated handling all run on
/// the thread of the application's message loop, one at a time; use the object from that thread.
class TmsListenerSocket : public TmsListenerSocketBase {
public:
    using TmsRequestEvent = std::function<void(TmsListenerSocket* Sender, const std::string& Peer, bool& Allow)>;
    using TmsServerThreadEvent = std::function<void(TmsListenerSocket* Sender, TmsServerThread* ServerThread)>;
    using ErrorEvent = std::function<void(TmsListenerSocket* Sender, const std::exception& error)>;

    TmsListenerSocket();
    ~TmsListenerSocket() override;

    TmsServerThreadClass ServerThreadClass;
    TmsRequestEvent OnConnectionRequested;
    TmsServerThreadEvent OnServerThreadStart;
    TmsServerThreadEvent OnServerThreadTerminate;
    /// An exception from an accept or from a handler of the thread events; listening goes on.
    /// Without a handler such exceptions go to the message loop's reporting hook.
    ErrorEvent OnException;
    TmsConnList ConnList;
    /// New server threads stay suspended until the program resumes them.
    bool SuspendedServer = false;
    /// Live server threads at most; further connections wait in the listen backlog. 0 = no limit.
    int MaxServerThreads = 64;
    /// How long Shutdown waits for canceled server threads to end.
    std::chrono::milliseconds ShutdownWait{5000};

    /// Opens the listening socket on Port and starts accepting; throws EWinsockError on failure.
    void Listen();
    bool Listening() const { return m_listening; }
    /// The port actually bound (useful with Port 0).
    int LocalPort() const;
    bool Accept() override;
    /// Stops accepting, cancels the live threads' sockets and waits up to ShutdownWait for them to
    /// end; threads still running then are left to free themselves. The destructor calls it.
    void Shutdown();

private:
    friend struct TmsListenerShared;
    void OpenListeningSocket();
    void StopListening();
    void WatchListener();
    void UpdateWatch();
    void OnReadable();
    void BackOff();
    void ReportException();
    bool AtThreadCap() const;
    void StartServerThread(int handle, const std::string& peer);
    void ThreadTerminated(TmsServerThread* thread);
    bool ThreadsRunning() const;
    void WaitForThreads();
    void ReleaseThread(TmsServerThread* thread);

    MessageLoop* m_loop = nullptr;
    MessageLoop::WatchId m_watch = 0;
    MessageLoop::TimerId m_backOff = 0;
    bool m_listening = false;
    std::shared_ptr<TmsListenerShared> m_shared;
};
