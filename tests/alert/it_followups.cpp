// Degraded links, reminders, escalation and acknowledgement with the real daemon scanning every second:
// a host in a namespace that loses every other echo (nft numgen) or is cut off, aiosmtpd for the mail,
// curl for the board and the acknowledgement.
#include "../integration/scan_daemon.h"
#include "../net/loopback.h"
#include "../web/shellcommand.h"
#include "alertlab.h"

#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <regex>

using namespace std::chrono_literals;

namespace {

class FollowupDaemon : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        if (!CanProbe(why) || !lab.Create(why)) GTEST_SKIP() << why;
        if (!Have("curl")) GTEST_SKIP() << "curl is not installed";
        ASSERT_TRUE(mail.ready) << "aiosmtpd did not start (package python3-aiosmtpd)";
        ASSERT_TRUE(hook.ready) << "the webhook receiver did not start";
        ASSERT_TRUE(db.Connect()) << db.dm.LastConnectionError();
        db.AddSite("D1", "R1", lab.Address(0), "ops@example.org");
    }
    void Start(const std::string& sections) {
        WriteFileText(home.File("vkt.ini"), "[System]\r\nVKTID=D1\r\n" + db.IniLines() +
                                                "PollDelay=0\r\nNetPort=" + std::to_string(port) +
                                                "\r\n[Mail]\r\nServer=127.0.0.1:" + std::to_string(mail.port) +
                                                "\r\nSender=vkt@example.org\r\n" + sections);
        vkt = std::make_unique<VktProcess>(home.Path(), work.Path());
    }
    int Results() const {
        const std::string out = vkt->Output();
        return Occurrences(out, " R1 Responding (") + Occurrences(out, "Unable to contact R1 [");
    }
    bool WaitResults(int n) {
        const auto end = std::chrono::steady_clock::now() + 90s;
        while (Results() < n && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(20ms);
        return Results() >= n;
    }
    /// Scans on for `span` of the daemon's time, so that anything due within it has been sent.
    bool ScanFor(std::chrono::seconds span) {
        const auto end = std::chrono::steady_clock::now() + span;
        while (std::chrono::steady_clock::now() < end)
            if (!WaitResults(Results() + 1)) return false;
        return WaitResults(Results() + 1);
    }
    std::vector<std::string> Subjects() const {
        std::vector<std::string> subjects;
        for (int n = 1; !mail.Received(n).empty(); ++n)
            subjects.push_back(SubjectOf(mail.Received(n)));
        return subjects;
    }
    std::string Get(const std::string& path) const {
        return RunCommand("curl -s --max-time 20 http://127.0.0.1:" + std::to_string(port) + path);
    }

    HostLab lab{1};
    TestMailServer mail;
    TestWebhook hook;
    TempDir dbDir, home, work;
    SharedDb db{"SQLite", dbDir.File("vkt"), ""};
    int port = UnusedPort();
    std::unique_ptr<VktProcess> vkt;
};

} // namespace

TEST_F(FollowupDaemon, SiteLosingHalfItsEchoesIsDegradedNotDownAndNormalAgainOnceTheyAllReturn) {
    Start("[Scan]\r\nParallel=4\r\nEchoes=4\r\nEchoInterval=100\r\n[Alert]\r\nDegradedLoss=40\r\nDegradedScans=2\r\n");
    ASSERT_TRUE(WaitResults(1)) << vkt->Output() << vkt->ErrorOutput();
    lab.Halve({0});
    ASSERT_TRUE(WaitForCount(*vkt, "[MAIL]     Notifying degraded ...", 1, 90s)) << vkt->Output();
    const std::string degraded = mail.WaitReceived(1, 60s);
    ASSERT_TRUE(WaitResults(Results() + 1)) << vkt->Output();
    EXPECT_NE(degraded.find("\r\n  Loss       : 50 % (threshold 40 %) \r\n  RTT        : "), std::string::npos)
        << degraded;
    EXPECT_NE(Get("/status.json").find("\"address\":\"" + lab.Address(0) + "\",\"state\":\"degraded\""),
              std::string::npos);
    EXPECT_NE(Get("/metrics").find("vkt_site_degraded{code=\"R1\",address=\"" + lab.Address(0) + "\"} 1\n"),
              std::string::npos);
    lab.Halve({0}, false);
    ASSERT_FALSE(mail.WaitReceived(2, 90s).empty()) << vkt->Output();
    ASSERT_TRUE(WaitResults(Results() + 2)) << vkt->Output();
    EXPECT_EQ(Subjects(), (std::vector<std::string>{"Sentrova - Degraded contact notification",
                                                    "Sentrova - Normal contact notification"}));
    EXPECT_EQ(Occurrences(vkt->Output(), "Unable to contact R1"), 0);
    EXPECT_EQ(db.Count("SELECT COUNT(*) AS n FROM alarms"), 0);
    EXPECT_NE(Get("/metrics").find("vkt_site_degraded{code=\"R1\",address=\"" + lab.Address(0) + "\"} 0\n"),
              std::string::npos);
}

TEST_F(FollowupDaemon, OutageIsRemindedAndEscalatedUntilAcknowledgedAndTheAcknowledgementEndsWithIt) {
    Start("[Alert]\r\nRecovery=1\r\nRemind=0.05\r\nEscalate=0.1:lead@example.org\r\n[Notify]\r\nWebhook=" + hook.Url() +
          "\r\n");
    ASSERT_TRUE(WaitResults(1)) << vkt->Output() << vkt->ErrorOutput();
    lab.Cut({0});
    // Reminders every 3 s after the notice, the escalation once after 6 s.
    ASSERT_TRUE(WaitForCount(*vkt, "[MAIL]     Notifying reminder ...", 2, 90s)) << vkt->Output();
    ASSERT_TRUE(WaitForCount(*vkt, "[MAIL]     Notifying escalation ...", 1, 90s)) << vkt->Output();
    const std::string answer =
        RunCommand("curl -s -i --max-time 20 --data 'code=r1&comment=on+it' http://127.0.0.1:" + std::to_string(port) +
                   "/status/ack");
    EXPECT_EQ(answer.rfind("HTTP/1.0 303 See Other\r\n", 0), 0u) << answer;
    EXPECT_EQ(db.Count("SELECT COUNT(*) AS n FROM vktack"), 1) << "stored before the answer";
    ASSERT_TRUE(WaitForCount(*vkt, "Outage of R1 acknowledged by 127.0.0.1: on it", 1, 60s)) << vkt->Output();
    const int told = Occurrences(vkt->Output(), "[MAIL]     Notifying ");
    ASSERT_TRUE(ScanFor(8s)) << vkt->Output(); // past two more reminders and a second step's time
    EXPECT_EQ(Occurrences(vkt->Output(), "[MAIL]     Notifying "), told) << vkt->Output();
    EXPECT_EQ(Occurrences(vkt->Output(), "Notifying escalation ..."), 1);
    EXPECT_NE(Get("/status.json").find(",\"acknowledged\":{\"by\":\"127.0.0.1\",\"comment\":\"on it\",\"at\":\""),
              std::string::npos);
    EXPECT_EQ(db.Count("SELECT COUNT(*) AS n FROM vktack"), 1);

    const std::vector<std::string> subjects = Subjects();
    ASSERT_GE(subjects.size(), 4u);
    EXPECT_EQ(subjects[0], "Sentrova - Lost contact notification");
    EXPECT_EQ(subjects[1], "Sentrova - Lost contact reminder");
    for (int n = 1; n <= int(subjects.size()); ++n) {
        const std::string m = mail.Received(n);
        if (SubjectOf(m) == "Sentrova - Lost contact reminder") {
            EXPECT_TRUE(std::regex_search(
                m, std::regex("\\r\\n  Down since : \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d \\r\\n")))
                << m;
        } else if (SubjectOf(m) == "Sentrova - Lost contact escalation") {
            EXPECT_EQ(m.rfind("vkt@example.org\nlead@example.org\n", 0), 0u) << m;
        }
    }

    // The recovery carries the acknowledgement to the webhook; then it is gone.
    lab.Cut({0}, false);
    ASSERT_TRUE(WaitForCount(*vkt, "[MAIL]     Notifying recovery ...", 1, 60s)) << vkt->Output();
    ASSERT_TRUE(WaitResults(Results() + 2)) << vkt->Output();
    EXPECT_EQ(db.Count("SELECT COUNT(*) AS n FROM vktack"), 0);
    EXPECT_EQ(Get("/status.json").find("acknowledged"), std::string::npos);
    bool carried = false;
    for (const std::string& post : hook.WaitReceived(int(subjects.size()), 30s))
        carried = carried ||
                  (post.find("\"kind\": \"recovery\"") != std::string::npos &&
                   post.find("\"acknowledged\": {\"by\": \"127.0.0.1\", \"comment\": \"on it\"") != std::string::npos);
    EXPECT_TRUE(carried);
    // No open outage: refused.
    EXPECT_NE(RunCommand("curl -s -i --max-time 20 --data 'code=R1&comment=x' http://127.0.0.1:" +
                         std::to_string(port) + "/status/ack")
                  .find("409 Conflict"),
              std::string::npos);
}

// A daemon alone keeps the reminders and escalation steps it sent in the database: after a restart the
// step is not sent again and the next reminder comes at its time, not at once; the rows go once the
// site answers.
TEST_F(FollowupDaemon, RestartSendsNoStepAgainAndNoReminderBeforeItsTime) {
    Start("[Alert]\r\nRemind=0.1\r\nEscalate=0.05:lead@example.org\r\n");
    ASSERT_TRUE(WaitResults(1)) << vkt->Output() << vkt->ErrorOutput();
    lab.Cut({0});
    ASSERT_TRUE(WaitForCount(*vkt, "[MAIL]     Notifying ...", 1, 90s)) << vkt->Output();
    const auto notified = std::chrono::steady_clock::now();
    // The escalation 3 s after the notice, the first reminder at 6 s, the next at 12 s.
    ASSERT_TRUE(WaitForCount(*vkt, "[MAIL]     Notifying reminder ...", 1, 60s)) << vkt->Output();
    ASSERT_TRUE(WaitForCount(*vkt, "[MAIL]     Complete.", 3, 60s)) << vkt->Output();
    vkt->Signal(SIGTERM);
    ASSERT_EQ(vkt->WaitExit(60s), 0) << vkt->Output();

    TempDir again; // output files of their own: the old ones hold the first run's lines until truncated
    vkt = std::make_unique<VktProcess>(home.Path(), again.Path());
    ASSERT_TRUE(WaitForCount(*vkt, "[MAIL]     Notifying reminder ...", 1, 60s)) << vkt->Output();
    const auto reminded = std::chrono::steady_clock::now();
    const std::string out = vkt->Output();
    EXPECT_EQ(out.find("Notifying "), out.find("Notifying reminder ...")) << out;
    EXPECT_GE(reminded - notified, 11s) << out;
    ASSERT_TRUE(WaitForCount(*vkt, "[MAIL]     Complete.", 1, 60s)) << vkt->Output();
    EXPECT_EQ(Occurrences(vkt->Output(), "Notifying escalation ..."), 0) << vkt->Output();
    ASSERT_FALSE(mail.WaitReceived(4, 30s).empty());
    // The step and the latest reminder, each marked sent.
    EXPECT_EQ(db.Count("SELECT COUNT(*) AS n FROM vktclaim WHERE sent = 1 AND kind IN ('esc1', 'rem2')"), 2);
    EXPECT_EQ(db.Count("SELECT COUNT(*) AS n FROM vktclaim"), 2);

    lab.Cut({0}, false);
    const int results = Results();
    ASSERT_TRUE(WaitForCount(*vkt, " R1 Responding (", 1, 60s)) << vkt->Output();
    ASSERT_TRUE(WaitResults(results + 2)) << vkt->Output();
    EXPECT_EQ(db.Count("SELECT COUNT(*) AS n FROM vktclaim"), 0);
    EXPECT_EQ(Subjects(),
              (std::vector<std::string>{"Sentrova - Lost contact notification", "Sentrova - Lost contact escalation",
                                        "Sentrova - Lost contact reminder", "Sentrova - Lost contact reminder"}));
}
