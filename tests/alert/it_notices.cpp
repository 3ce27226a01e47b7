// What a notice really did, with the real daemon scanning every second: a notice nobody received is
// not counted as sent nor shown as notified, a webhook receiver that never answers does not hold the
// scan nor get a notice twice, a notice owed at a stop or a kill is sent after the start (at most
// once more), and a code with two addresses, one of them silent, is told once.
#include "../integration/listenport.h"
#include "../integration/scan_daemon.h"
#include "../web/shellcommand.h"
#include "alertmanager.h"
#include "peers.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <regex>

using namespace std::chrono_literals;

namespace {

/// A loopback TCP port that refuses connections: bound, never listening.
class ClosedPort {
public:
    ClosedPort() : m_fd(BindLoopback(SOCK_STREAM, port)) {}
    ~ClosedPort() { ::close(m_fd); }
    ClosedPort(const ClosedPort&) = delete;
    ClosedPort& operator=(const ClosedPort&) = delete;
    int port = 0;

private:
    int m_fd;
};

/// The seconds of the day of a log line's time stamp ("yyyy-mm-dd hh:nn:ss ...").
int SecondOfDay(const std::string& line) {
    return std::stoi(line.substr(11, 2)) * 3600 + std::stoi(line.substr(14, 2)) * 60 + std::stoi(line.substr(17, 2));
}

/// The time stamps of the output's lines that hold `text`, in order.
std::vector<int> Stamps(const std::string& output, const std::string& text) {
    std::vector<int> stamps;
    for (const std::string& line : SplitString(output, '\n'))
        if (line.find(text) != std::string::npos && line.size() > 19) stamps.push_back(SecondOfDay(line));
    return stamps;
}

std::string Join(const std::vector<std::string>& parts) {
    std::string all;
    for (const std::string& part : parts)
        all += part + "\n";
    return all;
}

/// The body of an HTTP/1.0 GET to a loopback port.
std::string HttpGet(int port, const std::string& target) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    std::string reply;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        const std::string request = "GET " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
        if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == ssize_t(request.size())) {
            char buf[4096];
            for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, 0)) > 0;)
                reply.append(buf, std::size_t(n));
        }
    }
    ::close(fd);
    const std::size_t body = reply.find("\r\n\r\n");
    return body == std::string::npos ? std::string() : reply.substr(body + 4);
}

} // namespace

class NoticeDaemon : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        if (!CanProbe(why)) GTEST_SKIP() << why;
        ASSERT_TRUE(db.Connect()) << db.dm.LastConnectionError();
    }
    /// Starts the daemon with these [Mail] lines and sections after it.
    void Start(const std::string& ini) {
        home = std::make_unique<DaemonHome>(db, "D1", ini);
        vkt = std::make_unique<VktProcess>(home->home.Path(), home->work.Path());
    }
    int Lines(const std::string& text) const { return Occurrences(vkt->Output(), text); }
    /// The admin port the daemon listens on (NetPort=0 takes whatever the system gives).
    int WebPort() const { return ListeningTcpPort(vkt->Pid()); }
    long long Markers(const std::string& code) {
        return db.Count("SELECT COUNT(*) AS n FROM alarms WHERE Code = " + SQLLiteral(code + "MAILED"));
    }

    TempDir dbDir;
    SharedDb db{"SQLite", dbDir.File("vkt"), ""};
    std::unique_ptr<DaemonHome> home;
    std::unique_ptr<VktProcess> vkt;
};

struct Unreceived {
    const char* name;
    bool email;             // the site has a mail contact, and the mail server is a closed port
    bool webhook;           // the webhook is a closed port
    const char* tried;      // the line each failed try logs
    const char* failedKind; // the channel counted as failed; "" for none
};

class UnreceivedNotice : public NoticeDaemon, public ::testing::WithParamInterface<Unreceived> {};

TEST_P(UnreceivedNotice, IsNeitherCountedAsSentNorShownAsNotified) {
    const Unreceived& c = GetParam();
    ClosedPort closed;
    db.AddSite("D1", "N1", "no..such", c.email ? "ops@example.org" : "");
    std::string ini = c.email ? "Server=127.0.0.1:" + std::to_string(closed.port) + "\r\n" : "";
    if (c.webhook) ini += "[Notify]\r\nWebhook=http://127.0.0.1:" + std::to_string(closed.port) + "/hook\r\n";
    Start(ini);
    const int port = WebPort();
    ASSERT_NE(port, 0) << vkt->Output();
    // Nothing was delivered, so the next scan tries again.
    ASSERT_TRUE(WaitForCount(*vkt, "Notifying ...", 2, 30s)) << vkt->Output();
    ASSERT_TRUE(WaitForCount(*vkt, c.tried, 1, 30s)) << vkt->Output();
    ASSERT_TRUE(WaitForCount(*vkt, "Unable to contact N1", Lines("Unable to contact N1") + 1, 30s));
    const std::string metrics = HttpGet(port, "/metrics");
    ASSERT_NE(metrics.find("vkt_notifications_total"), std::string::npos) << metrics;
    EXPECT_FALSE(std::regex_search(metrics, std::regex("result=\"sent\"\\} [1-9]"))) << metrics;
    if (*c.failedKind) {
        const std::string failed = std::string("kind=\"") + c.failedKind + "\",result=\"failed\"\\} [1-9]";
        EXPECT_TRUE(std::regex_search(metrics, std::regex(failed))) << metrics;
    }
    const std::string status = HttpGet(port, "/status.json");
    EXPECT_NE(status.find("\"code\":\"N1\""), std::string::npos) << status;
    EXPECT_EQ(status.find("\"notified\":true"), std::string::npos) << status;
    EXPECT_EQ(Markers("N1"), 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, UnreceivedNotice,
                         ::testing::Values(Unreceived{"NoContact", false, false, "[MAIL]     Complete.", ""},
                                           Unreceived{"WebhookToClosedPort", false, true, "Webhook fail. ", "webhook"},
                                           Unreceived{"MailToClosedPort", true, false, "Mail fail. ", "mail"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(NoticeDaemon, WebhookThatNeverAnswersHoldsNoScanAndGetsNoNoticeTwice) {
    TestWebhook hook(TestWebhook::Reply::Never);
    ASSERT_TRUE(hook.ready) << "the receiver did not start";
    for (int i = 10; i < 30; ++i)
        db.AddSite("D1", "S" + std::to_string(i), "no..such");
    Start("[Notify]\r\nWebhook=" + hook.Url() + "\r\n");
    // Held, a scan takes 5 s per due notice: 100 s for the first.
    ASSERT_TRUE(WaitForCount(*vkt, "Unable to contact S29", 3, 60s)) << vkt->Output();
    const std::string out = vkt->Output();
    const std::vector<int> begun = Stamps(out, "Polling S10 "), ended = Stamps(out, "Unable to contact S29 ");
    ASSERT_GE(begun.size(), 3u);
    for (std::size_t scan = 0; scan < 3; ++scan)
        EXPECT_LT((ended[scan] - begun[scan] + 86400) % 86400, 15) << "scan " << scan << "\n" << out;
    EXPECT_GE(Lines("Notifying ..."), 2 * 20); // every scan: none was delivered
    // The receiver may hold what it never answered: no later scan or retry posts it again.
    ASSERT_TRUE(
        vkt->WaitForOutput("Webhook fail. Timeout was reached (no answer to the whole request: not sent again)", 30s))
        << vkt->Output();
    ASSERT_TRUE(WaitForCount(*vkt, "Unable to contact S29", Lines("Unable to contact S29") + 2, 30s));
    std::vector<std::string> posts = hook.Received();
    EXPECT_FALSE(posts.empty());
    for (int i = 10; i < 30; ++i)
        EXPECT_LE(Occurrences(Join(posts), "\"code\": \"S" + std::to_string(i) + "\""), 1) << Join(posts);
    // A stuck receiver does not hold the shutdown either.
    vkt->Signal(SIGTERM);
    EXPECT_EQ(vkt->WaitExit(15s), 0) << vkt->Output();
}

struct Owed {
    const char* name;
    const char* section; // the ini lines before the receiver's URL
    const char* refused; // the line a refused try logs
    const char* counted; // the metric of the one delivery
    bool tells;          // the delivery tells the problem (its marker row is stored)
};

class ChannelNoticeOwedThroughARestart : public NoticeDaemon, public ::testing::WithParamInterface<Owed> {};

// A notice owed when the daemon stops, its receiver refusing, is sent once after the start: a
// [Channel] section's and the [Notify] Webhook's alike.
TEST_P(ChannelNoticeOwedThroughARestart, IsSentOnce) {
    const Owed& c = GetParam();
    TestWebhook hook;
    ASSERT_TRUE(hook.ready) << "the receiver did not start";
    hook.SetFailing(true);
    db.AddSite("D1", "S1", "no..such");
    Start(c.section + hook.Url() + "\r\n");
    ASSERT_TRUE(vkt->WaitForOutput(c.refused, 60s)) << vkt->Output();
    vkt->Signal(SIGTERM);
    ASSERT_EQ(vkt->WaitExit(15s), 0) << vkt->Output() << vkt->ErrorOutput();
    hook.SetFailing(false);
    vkt = std::make_unique<VktProcess>(home->home.Path(), home->work.Path());
    ASSERT_EQ(hook.WaitReceived(1, 60s).size(), 1u) << vkt->Output();
    ASSERT_TRUE(WaitForCount(*vkt, "Unable to contact S1", Lines("Unable to contact S1") + 3, 60s));
    const std::vector<std::string> posts = hook.Received();
    ASSERT_EQ(posts.size(), 1u) << Join(posts);
    EXPECT_NE(posts[0].find("S1"), std::string::npos) << posts[0];
    EXPECT_NE(HttpGet(WebPort(), "/metrics").find(c.counted), std::string::npos);
    EXPECT_EQ(Markers("S1"), c.tells ? 1 : 0) << vkt->Output();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ChannelNoticeOwedThroughARestart,
    ::testing::Values(Owed{"Slack", "[Channel ops]\r\nKind=slack\r\nUrl=",
                           "Notice for S1 to ops failed: HTTP status 503 (trying again in 5 s)",
                           "vkt_notifications_total{kind=\"slack\",channel=\"ops\",result=\"sent\"} 1", false},
                      Owed{"NotifyWebhook",
                           "[Notify]\r\nWebhook=", "Webhook fail. HTTP status 503 (trying again in 5 s)",
                           "vkt_notifications_total{kind=\"webhook\",result=\"sent\"} 1", true}),
    [](const auto& info) { return std::string(info.param.name); });

class KilledBetweenSendingAndMarking : public NoticeDaemon, public ::testing::WithParamInterface<bool> {};

// A daemon killed while its receiver holds the answer to a notice (sent, not marked) sends it again
// once it is started: at most one duplicate, and none that a deduplicating receiver shows.
TEST_P(KilledBetweenSendingAndMarking, CostsAtMostOneDuplicate) {
    std::unique_ptr<TestAlertmanager> am;
    if (GetParam()) {
        am = std::make_unique<TestAlertmanager>();
        ASSERT_TRUE(am->ready) << am->Log();
    }
    TestWebhook hook(TestWebhook::Reply::Answers, am ? am->Url() : ""); // in front of Alertmanager
    ASSERT_TRUE(hook.ready) << "the receiver did not start";
    hook.SetHolding(true);
    db.AddSite("D1", "S1", "no..such");
    Start(am ? "[Channel ops]\r\nKind=alertmanager\r\nUrl=" + hook.Base() + "\r\n"
             : "[Channel ops]\r\nKind=slack\r\nUrl=" + hook.Url() + "\r\n");
    ASSERT_EQ(hook.WaitReceived(1, 60s).size(), 1u) << vkt->Output();
    vkt->Signal(SIGKILL);
    ASSERT_EQ(vkt->WaitExit(15s), 128 + SIGKILL);
    hook.SetHolding(false);
    vkt = std::make_unique<VktProcess>(home->home.Path(), home->work.Path());
    ASSERT_TRUE(vkt->WaitForOutput("Notice for S1 sent to ops.", 60s)) << vkt->Output();
    ASSERT_TRUE(WaitForCount(*vkt, "Unable to contact S1", Lines("Unable to contact S1") + 3, 60s));
    const std::vector<std::string> posts = hook.Received();
    if (!am) {
        EXPECT_EQ(posts.size(), 2u) << Join(posts); // the one it never knew was taken, and again
        return;
    }
    EXPECT_GE(posts.size(), 2u) << Join(posts);
    EXPECT_EQ(am->Alerts("S1").size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Receivers, KilledBetweenSendingAndMarking, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Alertmanager" : "Slack"; });

struct TwoAddresses {
    const char* name;
    const char* ini;
};

class CodeWithTwoAddresses : public NoticeDaemon, public ::testing::WithParamInterface<TwoAddresses> {};

TEST_P(CodeWithTwoAddresses, OneSilentIsOneOutageToldOnce) {
    // No mail server: a mail to a contact counts as done, and its marker is stored.
    db.AddSite("D1", "TWO", "127.0.0.1", "ops@example.org");
    db.Exec("INSERT INTO site (CODE, sitename, IPaddr, Downtime, email, contactflag) VALUES "
            "('TWO', 'Depot', 'no..such', 0, 'ops@example.org', 2)");
    db.AddSite("D1", "ONE", "127.0.0.1");
    Start(GetParam().ini);
    ASSERT_TRUE(WaitForCount(*vkt, "Unable to contact TWO [no..such]", 5, 30s)) << vkt->Output();
    ASSERT_TRUE(WaitForCount(*vkt, "ONE Responding", 5, 30s)) << vkt->Output();
    EXPECT_EQ(Lines("TWO Responding ("), Lines("Unable to contact TWO ")) << vkt->Output();
    EXPECT_EQ(Lines("Notifying ..."), 1) << vkt->Output();
    EXPECT_EQ(Lines("Notifying recovery"), 0) << vkt->Output();
    EXPECT_EQ(Markers("TWO"), 1);
    EXPECT_GE(db.Count("SELECT COUNT(*) AS n FROM alarms WHERE Code = 'TWO'"), 4);
    // Both addresses answer: the outage ends.
    db.Exec("UPDATE site SET IPaddr = '127.0.0.2' WHERE IPaddr = 'no..such'");
    ASSERT_TRUE(WaitForCount(*vkt, "TWO Responding (", Lines("TWO Responding (") + 4, 30s)) << vkt->Output();
    EXPECT_EQ(db.Count("SELECT COUNT(*) AS n FROM alarms WHERE Code IN ('TWO', 'TWOMAILED')"), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Engines, CodeWithTwoAddresses,
    ::testing::Values(TwoAddresses{"OneAtATime", ""}, TwoAddresses{"Concurrent", "[Scan]\r\nParallel=4\r\n"},
                      TwoAddresses{"OneAtATimeWithRules", "[Alert]\r\nRecovery=1\r\n"},
                      TwoAddresses{"ConcurrentWithRules", "[Scan]\r\nParallel=4\r\n[Alert]\r\nRecovery=1\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });
