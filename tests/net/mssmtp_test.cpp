// The mail client: delivery to a real mail server (aiosmtpd), the dialogue's error paths against a
// scripted server, and the refusals that keep unsafe input off the wire.
#include "mail/msident.h"
#include "mail/mssmtp.h"
#include "platform/datetime.h"

#include "loopback.h"
#include "peers.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

void Compose(TmsMessage& message, const std::vector<std::string>& recipients) {
    message.Recipients().Clear();
    for (const std::string& address : recipients)
        message.Recipients().AddAddress(address, "");
    message.Sender().SetName("Sentrova Vigilor System");
    message.Sender().SetAddress("vkt@example.org");
    message.SetSubject("Sentrova - Lost contact notification");
    message.Body() = {"Sentrova reports the following IP address is currently unreachable.",
                      "",
                      "  " + std::string(65, '*'),
                      "  Report Time : 2024-05-06 07:08:09 ",
                      ".",
                      ".x"};
}

std::string Render(TmsMessage& message) {
    std::ostringstream out;
    message.SaveToStream(out);
    return out.str();
}

/// Every test gets its own temporary-files directory, so leftovers of a send are seen. A rendering
/// is compared with what the send delivers: both have one clock and one message identifier.
class SmtpTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_tmp = fs::temp_directory_path() / ("vkt-smtp-" + std::to_string(::getpid()));
        fs::create_directories(m_tmp);
        m_oldTmp = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "";
        ::setenv("TMPDIR", m_tmp.c_str(), 1);
        SetMessageIdSource([] { return std::string("<1@vkt.test>"); });
    }
    void TearDown() override {
        SetMessageIdSource(nullptr);
        EXPECT_TRUE(fs::is_empty(m_tmp)) << "a temporary message file was left behind";
        m_oldTmp.empty() ? ::unsetenv("TMPDIR") : ::setenv("TMPDIR", m_oldTmp.c_str(), 1);
        fs::remove_all(m_tmp);
    }
    ManualClock m_clock{EncodeDateTime(2024, 5, 6, 7, 8, 9)};
    ScopedClock m_installed{&m_clock};
    fs::path m_tmp;
    std::string m_oldTmp;
};

// --- A real mail server ---------------------------------------------------------------------

TEST_F(SmtpTest, NotificationArrivesIntactAtARealServer) {
    TestMailServer server;
    ASSERT_TRUE(server.ready) << "aiosmtpd did not start (package python3-aiosmtpd)";
    TmsMessage message;
    Compose(message, {"ops@example.org", "noc@example.org"});
    std::string rendered = Render(message);
    TmsSMTPClient client;
    client.SetHost("127.0.0.1:" + std::to_string(server.port));
    client.SetTimeOut(2);
    client.SetMailMessage(&message);
    int sent = 0;
    client.OnSent = [&](TmsSMTPClient*) { ++sent; };
    client.Send();
    EXPECT_EQ(1, sent);
    EXPECT_FALSE(client.IsOpen());
    // The server undoes the dot-stuffing; the data ends with the one empty line the client adds.
    std::string unstuffed;
    std::istringstream lines(rendered);
    for (std::string line; std::getline(lines, line);)
        unstuffed += (line.starts_with(".") ? line.substr(1) : line) + "\n";
    EXPECT_EQ("vkt@example.org\nops@example.org noc@example.org\n" + unstuffed + "\r\n", server.Received(1));
}

// --- A scripted server ----------------------------------------------------------------------

/// Answers each client line with the next scripted reply ("SILENT": answer nothing more) and
/// records the lines; after a 354 reply it takes the message data up to the "." line.
class ScriptedServer {
public:
    explicit ScriptedServer(std::vector<std::string> replies) : m_replies(std::move(replies)) {
        m_thread = std::thread([this] { Run(); });
    }
    ~ScriptedServer() { Join(); }
    void Join() {
        if (m_thread.joinable()) m_thread.join();
    }
    int Port() const { return m_listener.port; }
    std::vector<std::string> commands;
    std::string data;

private:
    void Run() {
        int fd = m_listener.AcceptOne();
        bool answerLine = false; // the greeting, and the reply after the data, answer no line
        for (std::size_t next = 0; fd != -1 && next < m_replies.size(); ++next, answerLine = true) {
            if (answerLine && !Record(ReceiveLine(fd))) break;
            if (m_replies[next] == "SILENT") break;
            if (m_replies[next] == "CLOSE") return CloseFd(fd);
            if (m_replies[next].starts_with("ENDLESS")) return Continue(fd, m_replies[next] == "ENDLESS" ? 5ms : 100ms);
            SendAll(fd, m_replies[next] + "\r\n");
            if (!commands.empty() && commands.back() == "DATA" && m_replies[next].starts_with("354")) {
                ReadData(fd);
                SendAll(fd, m_replies[++next] + "\r\n");
            }
        }
        while (fd != -1 && Record(ReceiveLine(fd))) {
        }
        CloseFd(fd);
    }
    // A reply that never ends: continuation lines, one every `pause`, until the client goes.
    void Continue(int& fd, std::chrono::milliseconds pause) {
        for (int i = 0; i < 1000 && !PeerClosed(fd, pause); ++i)
            SendAll(fd, "250-more\r\n");
        CloseFd(fd);
    }
    bool Record(std::string line) {
        if (line.empty()) return false;
        line.erase(line.find_last_not_of("\r\n") + 1);
        commands.push_back(line.starts_with("HELO ") ? "HELO <host>" : line);
        return true;
    }
    void ReadData(int fd) {
        for (std::string line = ReceiveLine(fd); !line.empty() && line != ".\r\n"; line = ReceiveLine(fd))
            data += line;
    }

    LoopbackListener m_listener;
    std::vector<std::string> m_replies;
    std::thread m_thread;
};

enum class Handler { None, Proceed };

struct DialogueCase {
    const char* name;
    std::vector<std::string> replies;
    std::vector<std::string> recipients;
    Handler handler;
    const char* error; // empty: Send returns normally
    std::vector<std::string> commands;
    friend void PrintTo(const DialogueCase& c, std::ostream* os) { *os << c.name; }
};

class Dialogue : public SmtpTest, public ::testing::WithParamInterface<DialogueCase> {};

TEST_P(Dialogue, RepliesDecideTheCommandsAndTheOutcome) {
    const DialogueCase& c = GetParam();
    ScriptedServer server(c.replies);
    TmsMessage message;
    Compose(message, c.recipients);
    TmsSMTPClient client;
    client.SetHost("127.0.0.1:" + std::to_string(server.Port()));
    client.SetTimeOut(1);
    client.ReplyTimeLimit = 1;
    client.SetMailMessage(&message);
    std::vector<std::string> rejected;
    if (c.handler == Handler::Proceed)
        client.OnAddressRejected = [&](TmsSMTPClient*, const std::string& address, const std::string& reply,
                                       bool& proceed) {
            EXPECT_FALSE(proceed);
            rejected.push_back(address + " " + reply);
            proceed = true;
        };
    std::string error;
    try {
        client.Send();
    } catch (const EmsServerError& e) {
        error = std::string("server: ") + e.what();
    } catch (const std::exception& e) {
        error = e.what();
    }
    client.Close();
    server.Join();
    EXPECT_EQ(c.error, error);
    EXPECT_EQ(c.commands, server.commands);
    bool dataSent = std::find(c.commands.begin(), c.commands.end(), "DATA") != c.commands.end() &&
                    error.find("451") == std::string::npos;
    if (dataSent) {
        EXPECT_EQ(Render(message) + "\r\n", server.data);
    }
    if (c.handler == Handler::Proceed) {
        ASSERT_FALSE(rejected.empty());
        EXPECT_TRUE(rejected.back().starts_with("bad@example.org 550")) << rejected.back();
    }
}

const std::vector<std::string> OneRecipient{"ops@example.org"};
const std::vector<std::string> TwoRecipients{"ops@example.org", "bad@example.org"};
const std::vector<std::string> Delivered{"HELO <host>", "MAIL FROM:<vkt@example.org>", "RCPT TO:<ops@example.org>",
                                         "DATA", "QUIT"};

INSTANTIATE_TEST_SUITE_P(
    Cases, Dialogue,
    ::testing::Values(
        DialogueCase{"Delivered",
                     {"220 ready", "250 hi", "250 ok", "250 ok", "354 go", "250 queued", "221 bye"},
                     OneRecipient,
                     Handler::None,
                     "",
                     Delivered},
        DialogueCase{"Greeting554", {"554 no service"}, OneRecipient, Handler::None, "server: 554 no service", {}},
        DialogueCase{"ReplyWithoutCode", {"hello there"}, OneRecipient, Handler::None, "server: hello there", {}},
        DialogueCase{"TwoLineGreeting",
                     {"220-first\r\n220 second", "250 hi", "250 ok", "250 ok", "354 go", "250 queued", "221 bye"},
                     OneRecipient,
                     Handler::None,
                     "",
                     Delivered},
        DialogueCase{
            "HeloRefusedBareHeloAccepted",
            {"220 ready", "500 what", "250 hi", "250 ok", "250 ok", "354 go", "250 queued", "221 bye"},
            OneRecipient,
            Handler::None,
            "",
            {"HELO <host>", "HELO", "MAIL FROM:<vkt@example.org>", "RCPT TO:<ops@example.org>", "DATA", "QUIT"}},
        DialogueCase{"BothHelosRefused",
                     {"220 ready", "500 first", "500 second"},
                     OneRecipient,
                     Handler::None,
                     "server: 500 second",
                     {"HELO <host>", "HELO"}},
        DialogueCase{"OneOfTwoRejected",
                     {"220 r", "250 h", "250 s", "250 a", "550 no such user", "221 bye"},
                     TwoRecipients,
                     Handler::None,
                     "server: 550 no such user",
                     {"HELO <host>", "MAIL FROM:<vkt@example.org>", "RCPT TO:<ops@example.org>",
                      "RCPT TO:<bad@example.org>", "QUIT"}},
        DialogueCase{"OneOfTwoRejectedHandlerProceeds",
                     {"220 r", "250 h", "250 s", "250 a", "550 no such user", "354 go", "250 queued", "221 bye"},
                     TwoRecipients,
                     Handler::Proceed,
                     "",
                     {"HELO <host>", "MAIL FROM:<vkt@example.org>", "RCPT TO:<ops@example.org>",
                      "RCPT TO:<bad@example.org>", "DATA", "QUIT"}},
        DialogueCase{"AllRejectedHandlerProceeds",
                     {"220 r", "250 h", "250 s", "550 a", "550 b", "221 bye"},
                     TwoRecipients,
                     Handler::Proceed,
                     "",
                     {"HELO <host>", "MAIL FROM:<vkt@example.org>", "RCPT TO:<ops@example.org>",
                      "RCPT TO:<bad@example.org>", "QUIT"}},
        DialogueCase{"NoRecipients",
                     {"220 r", "250 h", "250 s", "221 bye"},
                     {},
                     Handler::None,
                     "",
                     {"HELO <host>", "MAIL FROM:<vkt@example.org>", "QUIT"}},
        DialogueCase{"Data451",
                     {"220 r", "250 h", "250 s", "250 a", "451 try later", "221 bye"},
                     OneRecipient,
                     Handler::None,
                     "server: 451 try later",
                     Delivered},
        DialogueCase{
            "QuitRefusedIsSentAgain",
            {"220 r", "250 h", "250 s", "250 a", "354 go", "250 queued", "500 not now", "221 bye"},
            OneRecipient,
            Handler::None,
            "server: 500 not now",
            {"HELO <host>", "MAIL FROM:<vkt@example.org>", "RCPT TO:<ops@example.org>", "DATA", "QUIT", "QUIT"}},
        DialogueCase{"SecondQuitFailureWins",
                     {"220 r", "250 h", "550 sender refused", "500 quit refused"},
                     OneRecipient,
                     Handler::None,
                     "server: 500 quit refused",
                     {"HELO <host>", "MAIL FROM:<vkt@example.org>", "QUIT"}},
        DialogueCase{"ClosedAfterGreeting",
                     {"220 r", "CLOSE"},
                     OneRecipient,
                     Handler::None,
                     "server: Connection closed by the server",
                     {"HELO <host>"}},
        DialogueCase{"EndlessReplyStopsAtTheLineBound",
                     {"220 r", "ENDLESS"},
                     OneRecipient,
                     Handler::None,
                     "Reply too long: more than 100 lines",
                     {"HELO <host>"}},
        DialogueCase{"SlowEndlessReplyStopsAtTheTimeLimit",
                     {"220 r", "ENDLESS-SLOW"},
                     OneRecipient,
                     Handler::None,
                     "Reply not complete within 1 seconds",
                     {"HELO <host>"}},
        DialogueCase{"SilentServerTimesOutWithoutQuit",
                     {"220 r", "250 h", "SILENT"},
                     OneRecipient,
                     Handler::None,
                     "Operation timed out",
                     {"HELO <host>", "MAIL FROM:<vkt@example.org>"}}),
    [](const auto& info) { return info.param.name; });

// --- Refusals before any network activity ---------------------------------------------------

std::string SendError(TmsSMTPClient& client) {
    try {
        client.Send();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

TEST_F(SmtpTest, SendRefusesWhatItCannotSendSafely) {
    TmsMessage message;
    Compose(message, {"ops@example.org"});
    TmsSMTPClient client;
    client.SetMailMessage(&message);
    EXPECT_EQ("Host property must be assigned", SendError(client));
    // Nothing listens on this port: reaching the network would fail with "[10061] ...".
    client.SetHost("127.0.0.1:" + std::to_string(UnusedPort()));
    message.Recipients().AddAddress("evil@example.org>\r\nRCPT TO:<victim@example.org", "");
    EXPECT_EQ("Mail address refused (Recipients holds CR, LF, NUL, < or >): "
              "evil@example.org>\\r\\nRCPT TO:<victim@example.org",
              SendError(client));
    Compose(message, {"ops@example.org"});
    message.Sender().SetName("Vigilor\nBcc: victim@example.org");
    EXPECT_EQ("Mail address refused (Sender name holds CR, LF or NUL): Vigilor\\nBcc: victim@example.org",
              SendError(client));
    client.SetMailMessage(nullptr);
    EXPECT_EQ("MailMessage property must be assigned", SendError(client));
}

TEST_F(SmtpTest, RefusedConnectionAndForgottenMessage) {
    auto message = std::make_unique<TmsMessage>();
    Compose(*message, {"ops@example.org"});
    TmsSMTPClient client;
    client.SetHost("127.0.0.1:" + std::to_string(UnusedPort()));
    client.SetMailMessage(message.get());
    EXPECT_EQ("[10061] Connection refused", SendError(client));
    message.reset();
    EXPECT_EQ(nullptr, client.MailMessage());
}

} // namespace
