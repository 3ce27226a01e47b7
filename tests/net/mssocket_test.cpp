// Stream and client sockets against plain loopback peers: line reading, numbered replies,
// connecting, time-outs, cancellation and stream sending.
#include "net/mssocket.h"

#include "loopback.h"

#include <gtest/gtest.h>

#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <sstream>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

using SteadyClock = std::chrono::steady_clock;

double SecondsSince(SteadyClock::time_point start) {
    return std::chrono::duration<double>(SteadyClock::now() - start).count();
}

/// A client whose replies carry three-digit codes, as the mail client reads them.
class NumberedClient : public TmsClientSocket {
public:
    int GetReplyCode(const std::string& line) override {
        int code = 0;
        return line.size() >= 3 && TryCode(line.substr(0, 3), code) ? code : -1;
    }

private:
    static bool TryCode(const std::string& text, int& code) {
        for (char c : text)
            if (c < '0' || c > '9') return false;
        code = std::stoi(text);
        return true;
    }
};

/// A client connected to a plain loopback peer; `peer` is the accepted end.
class Connection : public ::testing::Test {
protected:
    void Open(TmsClientSocket& socket, bool blocking = false) {
        socket.SetHost("127.0.0.1");
        socket.Port = m_listener.port;
        socket.SetBlocking(blocking);
        socket.Connect();
        peer = m_listener.AcceptOne();
        ASSERT_NE(-1, peer);
    }
    void TearDown() override { CloseFd(peer); }

    LoopbackListener m_listener;
    int peer = -1;
};

// --- Line reading -------------------------------------------------------------------------

struct LineCase {
    const char* name;
    std::string bytes;
    bool closeAfter;
    std::vector<std::string> lines;
    bool disconnected;
    friend void PrintTo(const LineCase& c, std::ostream* os) { *os << c.name; }
};

class ReadLineCases : public Connection, public ::testing::WithParamInterface<LineCase> {};

TEST_P(ReadLineCases, BytesGiveLines) {
    TmsClientSocket socket;
    Open(socket);
    SendAll(peer, GetParam().bytes);
    if (GetParam().closeAfter) CloseFd(peer);
    for (const std::string& expected : GetParam().lines)
        EXPECT_EQ(expected, socket.ReadLine());
    EXPECT_EQ(GetParam().disconnected, socket.Disconnected());
}

INSTANTIATE_TEST_SUITE_P(
    EdgeCases, ReadLineCases,
    ::testing::Values(
        LineCase{"CrLf", "HI\r\n", false, {"HI"}, false}, LineCase{"CrInside", "H\rI\n", false, {"HI"}, false},
        LineCase{"OnlyFirstCrRemoved", "A\r\r\n", false, {"A\r"}, false}, LineCase{"BareLf", "\n", false, {""}, false},
        LineCase{"NothingAfterLfIsLost", "one\r\ntwo\r\n", false, {"one", "two"}, false},
        LineCase{"PeerClosesMidLine", "XYZ", true, {"XYZ"}, true}, LineCase{"PeerClosesSilently", "", true, {""}, true},
        LineCase{"LongestLineFits", std::string(2046, 'a') + "\r\n", false, {std::string(2046, 'a')}, false}),
    [](const auto& info) { return info.param.name; });

TEST_F(Connection, LineLongerThanTheBufferIsRefusedNamingTheLimit) {
    TmsClientSocket socket;
    Open(socket);
    SendAll(peer, std::string(2047, 'b') + "\r\n");
    try {
        socket.ReadLine();
        FAIL() << "no error";
    } catch (const EmsLineTooLongError& error) {
        EXPECT_NE(std::string::npos, std::string(error.what()).find("2048"));
    }
}

// --- Numbered replies ---------------------------------------------------------------------

struct ReplyCase {
    const char* name;
    std::string bytes;
    bool closeAfter;
    bool blocking;
    int code;
    std::string lastReply;
    friend void PrintTo(const ReplyCase& c, std::ostream* os) { *os << c.name; }
};

class ReadResponseCases : public Connection, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(ReadResponseCases, ReadsTheWholeReply) {
    NumberedClient socket;
    Open(socket, GetParam().blocking);
    SendAll(peer, GetParam().bytes + "NEXT\r\n");
    if (GetParam().closeAfter) ::shutdown(peer, SHUT_WR);
    EXPECT_EQ(GetParam().code, socket.ReadResponse());
    EXPECT_EQ(GetParam().lastReply, socket.LastReply);
    if (!GetParam().closeAfter) {
        EXPECT_EQ("NEXT", socket.ReadLine()); // the reply took no more than its own lines
    }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ReadResponseCases,
    ::testing::Values(ReplyCase{"MultiLine", "250-X\r\n250-Y\r\n250 Z\r\n", false, false, 250, "250 Z"},
                      ReplyCase{"SingleLine", "220 X\r\n", false, false, 220, "220 X"},
                      ReplyCase{"OtherCodeInside", "250-X\r\n251 Y\r\n250 Z\r\n", false, false, 250, "250 Z"},
                      ReplyCase{"NoCode", "hello\r\n", false, false, -1, "hello"},
                      // A peer that closes inside a continued reply ends it, in either mode.
                      ReplyCase{"PeerClosesInside", "250-X\r\n", true, false, 250, ""},
                      ReplyCase{"PeerClosesInsideBlocking", "250-X\r\n", true, true, 250, ""}),
    [](const auto& info) { return info.param.name; });

struct HostCase {
    const char* text;
    const char* host;
    int port;
    friend void PrintTo(const HostCase& c, std::ostream* os) { *os << c.text; }
};

class SetHostCases : public ::testing::TestWithParam<HostCase> {};

TEST_P(SetHostCases, HostAndPort) {
    TmsClientSocket socket;
    socket.DefaultPort = 25;
    socket.Port = 1;
    socket.SetHost(GetParam().text);
    EXPECT_EQ(GetParam().host, socket.Host());
    EXPECT_EQ(GetParam().port, socket.Port);
}

INSTANTIATE_TEST_SUITE_P(Texts, SetHostCases,
                         ::testing::Values(HostCase{"mail.example:2525", "mail.example", 2525},
                                           HostCase{"mail.example:smtp", "mail.example", 25},
                                           HostCase{"mail.example", "mail.example", 25},
                                           HostCase{"mail.example:99999", "mail.example", 25},
                                           HostCase{"mail.example:", "mail.example", 25}),
                         [](const auto& info) { return "Case" + std::to_string(info.index); });

// --- Connecting ---------------------------------------------------------------------------

TEST(ClientConnect, FailuresCarryTheirTexts) {
    TmsClientSocket socket;
    socket.SetHost("127.0.0.1");
    socket.Port = UnusedPort();
    try {
        socket.Connect();
        FAIL() << "connected";
    } catch (const EWinsockError& error) {
        EXPECT_STREQ("[10061] Connection refused", error.what());
    }
    socket.SetHost("no such host");
    try {
        socket.Connect();
        FAIL() << "connected";
    } catch (const EWinsockError& error) {
        EXPECT_STREQ("[11001] Host not found", error.what());
    }
}

TEST(ClientConnect, EventsAndFlags) {
    LoopbackListener listener;
    TmsClientSocket socket;
    std::vector<std::string> events;
    socket.OnConnecting = [&](TmsSocket*) { events.push_back("connecting"); };
    socket.OnConnected = [&](TmsSocket*) { events.push_back("connected"); };
    socket.OnDisconnected = [&](TmsSocket*) { events.push_back("disconnected"); };
    socket.SetHost("localhost:" + std::to_string(listener.port));
    socket.Connect();
    EXPECT_TRUE(socket.Connected());
    socket.Close();
    socket.Close();
    EXPECT_FALSE(socket.IsOpen());
    EXPECT_EQ((std::vector<std::string>{"connecting", "connected", "disconnected"}), events);
}

TEST(ClientConnect, UnansweredConnectTimesOut) {
    // A listening socket with a full accept queue drops further connection requests unanswered.
    LoopbackListener listener;
    ::listen(listener.fd, 0);
    int queued = ConnectLoopback(listener.port); // fills the queue of one
    TmsClientSocket socket;
    socket.SetHost("127.0.0.1");
    socket.Port = listener.port;
    socket.SetTimeOut(1);
    auto start = SteadyClock::now();
    EXPECT_THROW(socket.Connect(), EmsTimedOutError);
    EXPECT_LT(SecondsSince(start), 20.0) << "the time-out was not kept"; // far from the kernel's own two minutes
    CloseFd(queued);
}

// --- Time-outs and cancellation -----------------------------------------------------------

TEST_F(Connection, SilentPeerTimesOutWithoutSpinning) {
    TmsClientSocket socket;
    Open(socket);
    socket.SetTimeOut(1);
    double cpuBefore = ThreadCpuMs();
    auto start = SteadyClock::now();
    EXPECT_THROW(socket.ReadLine(), EmsTimedOutError);
    double elapsed = SecondsSince(start);
    EXPECT_GE(elapsed, 0.9);
    EXPECT_LT(elapsed, 20.0) << "the time-out was not kept";
    // Polling without waiting would burn most of the second, even with the machine busy.
    EXPECT_LT(ThreadCpuMs() - cpuBefore, 250.0) << "the wait burned CPU";
    // The socket stays usable and the old time-out does not fail the next read at once.
    EXPECT_TRUE(socket.IsOpen());
    SendAll(peer, "late\r\n");
    EXPECT_EQ("late", socket.ReadLine());
}

TEST_F(Connection, ProgressRestartsTheTimeOut) {
    // Each part comes well inside the 3-s time-out (2 s of slack for a busy machine); together they
    // take longer than it.
    TmsClientSocket socket;
    Open(socket);
    socket.SetTimeOut(3);
    std::thread slowPeer([this] {
        for (const char* part : {"a", "b", "c", "d\r\n"}) {
            std::this_thread::sleep_for(1s);
            SendAll(peer, part);
        }
    });
    const auto start = SteadyClock::now();
    EXPECT_EQ("abcd", socket.ReadLine());
    EXPECT_GT(SecondsSince(start), 3.0);
    slowPeer.join();
}

TEST_F(Connection, SendToAPeerThatNeverReadsTimesOut) {
    TmsClientSocket socket;
    Open(socket);
    socket.SetTimeOut(1);
    std::string block(1 << 20, 'x');
    auto start = SteadyClock::now();
    EXPECT_THROW(
        {
            for (int i = 0; i < 256; ++i)
                socket.SendBuffer(block.data(), block.size());
        },
        EmsTimedOutError);
    EXPECT_LT(SecondsSince(start), 20.0) << "the time-out was not kept";
}

/// Waits until the other side has read everything sent to `fd`'s socket (30 s at most).
bool WaitUntilReceiveQueueEmpty(int fd) {
    const auto deadline = SteadyClock::now() + 30s;
    int queued = -1;
    while ((::ioctl(fd, FIONREAD, &queued) != 0 || queued > 0) && SteadyClock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    return queued == 0;
}

class CancelCases : public Connection, public ::testing::WithParamInterface<bool> {};

TEST_P(CancelCases, CancelFromAnotherThreadStopsARead) {
    TmsClientSocket socket;
    Open(socket, GetParam());
    socket.SetTimeOut(30);
    // Half a line: once the reader has taken it, it waits inside ReadLine for the rest.
    std::thread canceller([this, &socket, fd = socket.Handle()] {
        SendAll(peer, "ab");
        WaitUntilReceiveQueueEmpty(fd);
        socket.Cancel();
    });
    auto start = SteadyClock::now();
    EXPECT_THROW(socket.ReadLine(), EmsCanceledError);
    EXPECT_LT(SecondsSince(start), 25.0) << "ended by the 30-s time-out, not by Cancel";
    canceller.join();
    EXPECT_TRUE(socket.Canceled());
    EXPECT_FALSE(socket.IsOpen());
    EXPECT_TRUE(PeerClosed(peer));
    EXPECT_THROW(socket.WriteLine("after"), EmsCanceledError);
}

INSTANTIATE_TEST_SUITE_P(Modes, CancelCases, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Blocking" : "NonBlocking"; });

// Close and the destructor from another thread against a read blocked in the middle of a line: the
// descriptor is closed only once the read has left it, and the socket outlives the read.
struct CloseCase {
    const char* name;
    bool destroy; // false: Close
    bool blocking;
};

class CloseRaceCases : public Connection, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(CloseRaceCases, CloseFromAnotherThreadWaitsForABlockedRead) {
    auto socket = std::make_unique<TmsClientSocket>();
    Open(*socket, GetParam().blocking);
    socket->SetTimeOut(30);
    std::string line, error;
    bool canceled = false;
    std::thread reader([&, s = socket.get()] {
        try {
            line = s->ReadLine();
        } catch (const EmsCanceledError&) {
            canceled = true;
        } catch (const std::exception& e) {
            error = e.what();
        }
    });
    SendAll(peer, "ab"); // half a line: once the reader has taken it, it waits inside ReadLine for the rest
    const bool taken = WaitUntilReceiveQueueEmpty(socket->Handle());
    if (GetParam().destroy) {
        socket.reset();
    } else {
        socket->Close();
    }
    reader.join();
    EXPECT_TRUE(taken);
    EXPECT_EQ("", error);
    EXPECT_TRUE(PeerClosed(peer));
    if (GetParam().destroy) {
        EXPECT_TRUE(canceled);
    } else {
        EXPECT_EQ("ab", line);
        EXPECT_TRUE(socket->Disconnected());
        EXPECT_FALSE(socket->IsOpen());
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, CloseRaceCases,
                         ::testing::Values(CloseCase{"Close", false, false}, CloseCase{"CloseBlocking", false, true},
                                           CloseCase{"Destroy", true, false}, CloseCase{"DestroyBlocking", true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Connection, AdoptingADescriptorClosesTheOneHeldBefore) {
    int first = ConnectLoopback(m_listener.port);
    int firstPeer = m_listener.AcceptOne();
    int second = ConnectLoopback(m_listener.port);
    TmsSocket socket;
    socket.SetHandle(first);
    socket.SetHandle(second);
    EXPECT_TRUE(PeerClosed(firstPeer));
    EXPECT_EQ(second, socket.Handle());
    CloseFd(firstPeer);
}

// --- Sending ------------------------------------------------------------------------------

struct Progress {
    int perc;
    std::int64_t bytes;
    bool operator==(const Progress&) const = default;
};

TEST_F(Connection, StreamOfOneBlockGoesInTwoPasses) {
    TmsClientSocket socket;
    Open(socket);
    std::vector<Progress> events;
    socket.OnTransferProgress = [&](TmsSocket*, int perc, std::int64_t bytes, int lines) {
        events.push_back({perc, bytes});
        EXPECT_EQ(-1, lines);
    };
    std::stringstream stream(std::string(32768, 'q'));
    socket.SendStream(stream, 0);
    socket.Close();
    EXPECT_EQ(std::string(32768, 'q'), ReceiveAll(peer));
    EXPECT_EQ((std::vector<Progress>{{100, 32768}, {100, 32768}}), events);
}

TEST_F(Connection, StreamFromAPositionReportsItsShare) {
    TmsClientSocket socket;
    Open(socket);
    std::vector<Progress> events;
    socket.OnTransferProgress = [&](TmsSocket*, int perc, std::int64_t bytes, int) { events.push_back({perc, bytes}); };
    std::string data(40000, 'r');
    data[4] = 'S';
    std::stringstream stream(data);
    socket.SendStream(stream, 4);
    socket.Close();
    EXPECT_EQ(data.substr(4), ReceiveAll(peer));
    // 32772 of 40000 bytes is 81.93 %.
    EXPECT_EQ((std::vector<Progress>{{82, 32772}, {100, 40000}}), events);
}

TEST_F(Connection, LargeBufferArrivesWhole) {
    TmsClientSocket socket;
    Open(socket);
    std::string data(8 << 20, '\0');
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = char(i * 7 % 251);
    std::string received;
    std::thread reader([&] { received = ReceiveAll(peer); });
    socket.SendBuffer(data.data(), data.size());
    socket.Close();
    reader.join();
    EXPECT_TRUE(received == data) << "received " << received.size() << " bytes";
}

// --- On the message loop's thread ---------------------------------------------------------

class LoopConnection : public LoopTest {
protected:
    LoopbackListener m_listener;
};

TEST_F(LoopConnection, WaitOnTheLoopThreadKeepsMessagesFlowing) {
    TmsClientSocket socket;
    socket.SetHost("127.0.0.1");
    socket.Port = m_listener.port;
    socket.Connect();
    int peer = m_listener.AcceptOne();
    // Only the loop can deliver the line: a timer job on it writes the peer's answer.
    m_loop->SetTimer(100ms, false, [peer] { SendAll(peer, "from the loop\r\n"); });
    EXPECT_EQ("from the loop", socket.ReadLine());
    CloseFd(peer);
}

} // namespace
