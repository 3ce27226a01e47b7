// The listener with real clients on loopback: threads per connection, refusal, suspended
// threads, the thread cap, shutdown with live connections, and a peer in another process.
#include "net/mssocket-listener.h"

#include "loopback.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

using namespace std::chrono_literals;

namespace {

/// Answers one line with "echo: <line>" and ends.
class EchoThread : public TmsServerThread {
public:
    void Execute() override { Socket->WriteLine("echo: " + Socket->ReadLine()); }
};

/// Holds its connection until released (or until its socket is canceled), then answers.
class GateThread : public TmsServerThread {
public:
    static inline std::atomic<int> running{0};
    static inline std::atomic<bool> open{false};
    static inline std::atomic<int> canceled{0};

    void Execute() override {
        ++running;
        MainLoop().Wake(); // the test waits on the loop for this count
        try {
            std::string line = Socket->ReadLine(); // the client sends when it wants its answer
            Socket->WriteLine(ClientAddress + " " + line);
        } catch (const EmsCanceledError&) {
            ++canceled;
        }
        --running;
    }
};

class Listener : public LoopTest {
protected:
    void SetUp() override {
        LoopTest::SetUp();
        GateThread::running = 0;
        GateThread::canceled = 0;
        m_listener = std::make_unique<TmsListenerSocket>();
        m_listener->BindAddress = "127.0.0.1";
        m_listener->OnServerThreadTerminate = [this](TmsListenerSocket*, TmsServerThread* thread) {
            EXPECT_TRUE(m_loop->IsLoopThread());
            m_ended.push_back(thread->ClientAddress);
        };
    }
    void TearDown() override {
        m_listener.reset();
        for (int& fd : m_clients)
            CloseFd(fd);
        LoopTest::TearDown();
    }
    template <class T> void Start() {
        m_listener->ServerThreadClass = ServerThreadClassOf<T>();
        m_listener->Listen();
        m_port = m_listener->LocalPort();
    }
    int Client(const char* from = nullptr) {
        m_clients.push_back(ConnectLoopback(m_port, from));
        return m_clients.back();
    }
    // Receives a line while the loop keeps accepting and handing over.
    std::string Answer(int fd) {
        std::string line;
        std::atomic<bool> done{false};
        std::thread reader([&] {
            line = ReceiveLine(fd);
            done = true;
            m_loop->Wake();
        });
        Pump([&] { return done.load(); });
        reader.join();
        return line;
    }
    bool PumpUntilLive(int count) {
        return Pump([&] { return m_listener->ConnList.Count() == count && GateThread::running == count; });
    }

    std::unique_ptr<TmsListenerSocket> m_listener;
    std::vector<std::string> m_ended;
    std::vector<int> m_clients;
    int m_port = 0;
};

TEST_F(Listener, ServesAConnectionAndFreesItsThread) {
    int started = 0;
    m_listener->OnServerThreadStart = [&](TmsListenerSocket*, TmsServerThread* thread) {
        EXPECT_TRUE(m_loop->IsLoopThread());
        EXPECT_TRUE(thread->Suspended());
        EXPECT_EQ(60, thread->Socket->TimeOut());
        ++started;
    };
    Start<EchoThread>();
    int fd = Client();
    SendAll(fd, "ping\r\n");
    EXPECT_EQ("echo: ping\r\n", Answer(fd));
    EXPECT_TRUE(Pump([&] { return m_ended.size() == 1; }));
    EXPECT_EQ(1, started);
    EXPECT_EQ(0, m_listener->ConnList.Count());
}

// A handler that throws, with and without OnException: the error reaches one of the two, never
// nowhere, and the next connection is still served.
struct HandlerErrorCase {
    const char* name;
    bool inRequest; // thrown by OnConnectionRequested, else by OnServerThreadTerminate
    bool withOnException;
};

class HandlerErrorCases : public Listener, public ::testing::WithParamInterface<HandlerErrorCase> {};

TEST_P(HandlerErrorCases, ErrorsReachOnExceptionOrTheLoopsReporter) {
    std::vector<std::string> viaHandler, viaLoop;
    ScopedLoopErrorReporter reporter([&](const std::string& message) { viaLoop.push_back(message); });
    if (GetParam().withOnException)
        m_listener->OnException = [&](TmsListenerSocket*, const std::exception& e) { viaHandler.push_back(e.what()); };
    int failures = 1;
    auto fail = [&failures] {
        if (failures-- > 0) throw std::runtime_error("handler failed");
    };
    if (GetParam().inRequest)
        m_listener->OnConnectionRequested = [&](TmsListenerSocket*, const std::string&, bool&) { fail(); };
    else
        m_listener->OnServerThreadTerminate = [&](TmsListenerSocket*, TmsServerThread*) { fail(); };
    Start<EchoThread>();
    int first = Client();
    SendAll(first, "one\r\n");
    ASSERT_TRUE(Pump([&] { return viaHandler.size() + viaLoop.size() == 1; }));
    int second = Client();
    SendAll(second, "two\r\n");
    EXPECT_EQ("echo: two\r\n", Answer(second));
    m_listener.reset(); // its handlers use this test's locals
    const std::vector<std::string> expected{"handler failed"};
    EXPECT_EQ(GetParam().withOnException ? expected : std::vector<std::string>{}, viaHandler);
    EXPECT_EQ(GetParam().withOnException ? std::vector<std::string>{} : expected, viaLoop);
}

INSTANTIATE_TEST_SUITE_P(Handlers, HandlerErrorCases,
                         ::testing::Values(HandlerErrorCase{"Request", true, true},
                                           HandlerErrorCase{"RequestWithoutOnException", true, false},
                                           HandlerErrorCase{"Terminate", false, true},
                                           HandlerErrorCase{"TerminateWithoutOnException", false, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Listener, PortInUseRaisesItsText) {
    Start<EchoThread>();
    TmsListenerSocket second;
    second.BindAddress = "127.0.0.1";
    second.Port = m_port;
    try {
        second.Listen();
        FAIL() << "listening twice";
    } catch (const EWinsockError& error) {
        EXPECT_STREQ("[10048] Address already in use", error.what());
    }
}

// A burst of clients waits in the backlog instead of being turned away: the listener asks for as
// many pending connections as the system allows (ss shows a listener's backlog as its Send-Q).
TEST_F(Listener, BacklogIsTheSystemsMaximum) {
    Start<EchoThread>();
    std::string shown;
    if (FILE* ss = ::popen(("ss -Hltn 'sport = :" + std::to_string(m_port) + "' 2>/dev/null").c_str(), "r")) {
        char line[256] = {};
        if (std::fgets(line, sizeof line, ss) != nullptr) shown = line;
        ::pclose(ss);
    }
    if (shown.empty()) GTEST_SKIP() << "ss (iproute2) is not installed";
    std::istringstream fields(shown);
    std::string state, receiveQueue, backlog;
    fields >> state >> receiveQueue >> backlog;
    std::ifstream somaxconn("/proc/sys/net/core/somaxconn");
    std::string maximum;
    somaxconn >> maximum;
    EXPECT_EQ(backlog, maximum);
}

TEST_F(Listener, ConcurrentClientsGetTheirOwnThreads) {
    Start<GateThread>();
    int first = Client("127.0.0.1");
    int second = Client("127.0.0.2");
    ASSERT_TRUE(PumpUntilLive(2)) << "both threads run at once";
    SendAll(first, "a\r\n");
    SendAll(second, "b\r\n");
    EXPECT_EQ("127.0.0.1 a\r\n", Answer(first));
    EXPECT_EQ("127.0.0.2 b\r\n", Answer(second));
    EXPECT_TRUE(Pump([&] { return m_ended.size() == 2; }));
    EXPECT_EQ((std::set<std::string>{"127.0.0.1", "127.0.0.2"}), std::set<std::string>(m_ended.begin(), m_ended.end()));
}

TEST_F(Listener, RefusedConnectionIsClosedWithoutData) {
    std::string peer;
    m_listener->OnConnectionRequested = [&](TmsListenerSocket*, const std::string& address, bool& allow) {
        peer = address;
        allow = false;
    };
    Start<EchoThread>();
    int fd = Client();
    std::string received = "unset";
    std::atomic<bool> done{false};
    std::thread reader([&] {
        received = ReceiveAll(fd);
        done = true;
        m_loop->Wake();
    });
    Pump([&] { return done.load(); });
    reader.join();
    EXPECT_EQ("127.0.0.1", peer);
    EXPECT_EQ("", received);
    EXPECT_EQ(0, m_listener->ConnList.Count());
}

TEST_F(Listener, SuspendedThreadRunsOnlyWhenResumed) {
    m_listener->SuspendedServer = true;
    Start<EchoThread>();
    int fd = Client();
    SendAll(fd, "wake\r\n");
    ASSERT_TRUE(Pump([&] { return m_listener->ConnList.Count() == 1; }));
    TmsServerThread* thread = m_listener->ConnList.Items().front();
    EXPECT_FALSE(Pump([&] { return thread->Finished(); }, 200ms));
    EXPECT_TRUE(thread->Suspended());
    thread->Resume();
    EXPECT_EQ("echo: wake\r\n", Answer(fd));
}

TEST_F(Listener, ThreadCapKeepsFurtherConnectionsWaiting) {
    m_listener->MaxServerThreads = 2;
    Start<GateThread>();
    int first = Client();
    Client();
    int third = Client();
    ASSERT_TRUE(PumpUntilLive(2));
    EXPECT_FALSE(Pump([&] { return m_listener->ConnList.Count() > 2; }, 300ms)) << "cap exceeded";
    SendAll(third, "waiting\r\n"); // queued in the backlog; answered once a thread is free
    SendAll(first, "done\r\n");
    EXPECT_EQ("127.0.0.1 done\r\n", Answer(first));
    EXPECT_EQ("127.0.0.1 waiting\r\n", Answer(third));
    EXPECT_LE(m_listener->ConnList.Count(), 2);
}

class ShutdownCases : public Listener, public ::testing::WithParamInterface<bool> {};

TEST_P(ShutdownCases, ShutdownCancelsLiveConnections) {
    m_listener->BlockingServerSockets = GetParam();
    Start<GateThread>();
    int first = Client();
    int second = Client();
    ASSERT_TRUE(PumpUntilLive(2));
    m_listener->ShutdownWait = 60s;
    auto start = std::chrono::steady_clock::now();
    m_listener->Shutdown();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s) << "the threads were not canceled";
    EXPECT_EQ(2u, m_ended.size());
    EXPECT_EQ(2, GateThread::canceled);
    EXPECT_EQ(0, m_listener->ConnList.Count());
    EXPECT_TRUE(PeerClosed(first));
    EXPECT_TRUE(PeerClosed(second));
    EXPECT_EQ(-1, ConnectLoopback(m_port)) << "still accepting";
}

INSTANTIATE_TEST_SUITE_P(Modes, ShutdownCases, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Blocking" : "NonBlocking"; });

/// Ignores cancellation until the test releases it, as a thread busy with something else would.
class StubbornThread : public TmsServerThread {
public:
    static inline std::atomic<bool> done{false};
    static inline std::atomic<bool> freed{false};
    static inline std::atomic<bool> released{false};
    ~StubbornThread() override {
        freed = true;
        MainLoop().Wake();
    }
    void Execute() override {
        const auto guard = std::chrono::steady_clock::now() + 60s; // a hang guard, should the test fail first
        while (!released && std::chrono::steady_clock::now() < guard)
            std::this_thread::sleep_for(5ms);
        done = true;
    }
};

TEST_F(Listener, ShutdownLeavesAStuckThreadToFreeItself) {
    StubbornThread::done = false;
    StubbornThread::freed = false;
    StubbornThread::released = false;
    m_listener->ShutdownWait = 100ms;
    Start<StubbornThread>();
    Client();
    ASSERT_TRUE(Pump([&] { return m_listener->ConnList.Count() == 1; }));
    m_listener.reset();
    EXPECT_FALSE(StubbornThread::done);
    StubbornThread::released = true;
    // The thread ends on its own later and frees itself; nothing touches the freed listener.
    EXPECT_TRUE(Pump([] { return StubbornThread::freed.load(); }));
    EXPECT_TRUE(StubbornThread::done);
}

TEST_F(Listener, PeerInAnotherProcess) {
    Start<EchoThread>();
    std::string command = "python3 -c \"import socket; s = socket.create_connection(('127.0.0.1', " +
                          std::to_string(m_port) +
                          ")); s.sendall(b'from python\\r\\n'); "
                          "print(s.makefile('rb').readline().decode().strip())\"";
    std::string output;
    std::atomic<bool> exited{false};
    std::thread client([&] {
        FILE* pipe = ::popen(command.c_str(), "r");
        char buffer[256] = {};
        while (pipe != nullptr && std::fgets(buffer, sizeof buffer, pipe) != nullptr)
            output += buffer;
        if (pipe != nullptr) ::pclose(pipe);
        exited = true;
        m_loop->Wake();
    });
    Pump([&] { return exited && m_ended.size() == 1; }, 60s);
    client.join();
    EXPECT_EQ("echo: from python\n", output);
}

} // namespace
