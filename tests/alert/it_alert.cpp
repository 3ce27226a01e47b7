// The alert rules with the real daemon scanning every second: hosts in a namespace cut off and let
// back by nft, aiosmtpd for the mail and a local receiver for the webhook.
#include "../integration/scan_daemon.h"
#include "alertlab.h"

#include <gtest/gtest.h>

#include <memory>
#include <regex>

using namespace std::chrono_literals;

namespace {

const std::string TimeRe = "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d";

std::string Capture(const std::string& text, const std::string& re) {
    std::smatch m;
    return std::regex_search(text, m, std::regex(re)) ? m[1].str() : std::string();
}

} // namespace

class AlertDaemon : public ::testing::Test {
protected:
    explicit AlertDaemon(int hosts = 1) : lab(hosts) {}
    void SetUp() override {
        std::string why;
        if (!CanProbe(why) || !lab.Create(why)) GTEST_SKIP() << why;
        ASSERT_TRUE(mail.ready) << "aiosmtpd did not start (package python3-aiosmtpd)";
        ASSERT_TRUE(hook.ready) << "the webhook receiver did not start";
        ASSERT_TRUE(db.Connect()) << db.dm.LastConnectionError();
    }
    /// Starts the daemon with the [Mail] server of the test and the extra ini lines.
    void Start(const std::string& extra) {
        home = std::make_unique<DaemonHome>(
            db, "D1", "Server=127.0.0.1:" + std::to_string(mail.port) + "\r\nSender=vkt@example.org\r\n" + extra);
        vkt = std::make_unique<VktProcess>(home->home.Path(), home->work.Path());
    }
    /// Result lines of a site so far.
    int Results(const std::string& code) const {
        const std::string out = vkt->Output();
        return Occurrences(out, " " + code + " Responding (") + Occurrences(out, "Unable to contact " + code + " [");
    }
    /// Waits until the site has `n` result lines: the scan that made the n-th is past its probe.
    bool WaitResults(const std::string& code, int n) {
        const auto end = std::chrono::steady_clock::now() + 60s;
        while (Results(code) < n && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(20ms);
        return Results(code) >= n;
    }
    int Lines(const std::string& text) const { return Occurrences(vkt->Output(), text); }
    /// Subjects of the mails received so far.
    std::vector<std::string> Subjects() const {
        std::vector<std::string> subjects;
        for (int n = 1; !mail.Received(n).empty(); ++n)
            subjects.push_back(SubjectOf(mail.Received(n)));
        return subjects;
    }

    HostLab lab;
    TestMailServer mail;
    TestWebhook hook;
    TempDir dbDir;
    SharedDb db{"SQLite", dbDir.File("vkt"), ""};
    std::unique_ptr<DaemonHome> home;
    std::unique_ptr<VktProcess> vkt;
};

TEST_F(AlertDaemon, OneOutageGetsOneProblemAndOneRecoveryNoticeAFailedOneIsRetriedNotDoubled) {
    db.AddSite("D1", "R1", lab.Address(0), "ops@example.org");
    Start("[Alert]\r\nRecovery=1\r\n[Notify]\r\nWebhook=" + hook.Url() + "\r\n");
    ASSERT_TRUE(WaitResults("R1", 1)) << vkt->Output() << vkt->ErrorOutput();
    lab.Cut({0});
    ASSERT_TRUE(vkt->WaitForOutput("[MAIL]     Complete.", 60s)) << vkt->Output();
    const std::string problem = mail.WaitReceived(1, 60s);
    ASSERT_EQ(hook.WaitReceived(1, 60s).size(), 1u) << "the problem's post, before the receiver fails";
    // Mail server and webhook refuse: the recovery notice is owed, and told at the next scan they answer.
    mail.SetRefusing(true);
    hook.SetFailing(true);
    lab.Cut({0}, false);
    // The webhook's queue tries again on its own, waiting longer each time; both come back just after
    // its second try, long before its third (a webhook delivered alone would count as the recovery told).
    ASSERT_TRUE(WaitForCount(*vkt, "Webhook fail. HTTP status 503 (trying again in 10 s)", 1, 60s)) << vkt->Output();
    mail.SetRefusing(false);
    hook.SetFailing(false);
    EXPECT_EQ(Lines("Webhook fail. HTTP status 503 (trying again in 5 s)"), 1) << vkt->Output();
    const std::string recovery = mail.WaitReceived(2, 60s);
    ASSERT_FALSE(recovery.empty()) << vkt->Output();
    ASSERT_TRUE(WaitResults("R1", Results("R1") + 2)) << vkt->Output();
    EXPECT_EQ(Subjects(), (std::vector<std::string>{"Sentrova - Lost contact notification",
                                                    "Sentrova - Regained contact notification"}));
    EXPECT_EQ(Lines("Notifying ..."), 1);
    EXPECT_EQ(Lines("Notifying recovery ..."), Lines("Mail fail. 451 4.3.0 Mail system busy, try again later") + 1)
        << vkt->Output();

    // The recovery mail: the problem mail's frame, its own first line, and when the outage began.
    const std::string reportTime = Capture(recovery, "Report Time : (" + TimeRe + ") ");
    const std::string downSince = Capture(recovery, "\\r\\n  Down since : (" + TimeRe + ") \\r\\n");
    EXPECT_LE(downSince, Capture(problem, "Report Time : (" + TimeRe + ") "));
    std::string expected =
        NotificationMail("ops@example.org", "R1", "Depot", lab.Address(0), reportTime, DateAndMessageId(recovery));
    expected = std::regex_replace(expected, std::regex("Lost contact"), "Regained contact");
    expected = std::regex_replace(expected, std::regex("is currently unreachable"), "is reachable again");
    expected.insert(expected.find("\r\n", expected.find("Report Time")) + 2, "  Down since : " + downSince + " \r\n");
    EXPECT_EQ(recovery, expected);

    // The webhook gets the recovery with its third try, and only once.
    hook.WaitReceived(2, 20s);
    ASSERT_TRUE(WaitResults("R1", Results("R1") + 2)) << vkt->Output();
    const std::vector<std::string> posts = hook.Received();
    ASSERT_EQ(posts.size(), 2u) << vkt->Output();
    const std::string site = "\"code\": \"R1\", \"sitename\": \"Depot\", \"address\": \"" + lab.Address(0) + "\"";
    EXPECT_TRUE(std::regex_match(posts[0], std::regex("application/json\n\\{\"kind\": \"problem\", " + site +
                                                      ", \"since\": \"" + TimeRe + "\", \"time\": \"" + TimeRe +
                                                      "\", \"daemon\": \"D1\", \"text\": \"Sentrova: lost contact "
                                                      "with R1 - Depot \\[[0-9.]+\\] since " +
                                                      TimeRe + "\"\\}")))
        << posts[0];
    EXPECT_NE(posts[1].find("{\"kind\": \"recovery\", " + site + ", \"since\": \"" + downSince + "\""),
              std::string::npos)
        << posts[1];
}

TEST_F(AlertDaemon, SiteTogglingEveryScanForHalfAnHourThenSteadyGetsOneNoticeOfEachKind) {
    db.AddSite("D1", "F1", lab.Address(0), "ops@example.org");
    // On the concurrent engine: its gathered statements must not clear an outage before the rules
    // have seen that it was notified.
    Start("[Alert]\r\nRecovery=1\r\nFlapChanges=3\r\nFlapScans=4\r\n[Scan]\r\nParallel=4\r\n");
    ASSERT_TRUE(WaitResults("F1", 1)) << vkt->Output();
    for (int scan = 0; scan < 30; ++scan) {
        lab.Cut({0}, scan % 2 == 0);
        ASSERT_TRUE(WaitResults("F1", scan + 2)) << vkt->Output();
    }
    lab.Cut({0}, false);
    ASSERT_TRUE(WaitResults("F1", 32 + 5)) << vkt->Output(); // steady for more than FlapScans scans: settled
    EXPECT_EQ(Subjects(), (std::vector<std::string>{"Sentrova - Lost contact notification",
                                                    "Sentrova - Regained contact notification",
                                                    "Sentrova - Flapping notification"}));
    EXPECT_EQ(Lines("Notifying flapping ..."), 1);
    EXPECT_NE(mail.Received(3).find("\r\n\r\nSentrova reports the following IP address keeps changing between "
                                    "reachable and unreachable.\r\n"),
              std::string::npos);
}

class AlertDaemonOfMany : public AlertDaemon {
protected:
    AlertDaemonOfMany() : AlertDaemon(21) {}
    std::vector<std::string> AddSites(const std::string& prefix, int count) {
        std::vector<std::string> codes;
        for (int i = 0; i < count; ++i) {
            codes.push_back(prefix + std::to_string(i + 10));
            db.AddSite("D1", codes.back(), lab.Address(i), "ops@example.org");
        }
        return codes;
    }
};

TEST_F(AlertDaemonOfMany, IsolatedProbePostsNoAlarmsAndTellsTheAdministratorTwice) {
    const std::vector<std::string> sites = AddSites("I", 10);
    Start("Admin=admin@example.org\r\n[Alert]\r\nIsolationPercent=80\r\n[Notify]\r\nWebhook=" + hook.Url() + "\r\n");
    ASSERT_TRUE(WaitResults("I19", 1)) << vkt->Output();
    lab.Cut(lab.All());
    ASSERT_TRUE(vkt->WaitForOutput("[WARNING]  Probe isolated: 10 of 10 sites silent, site alarms held.", 60s))
        << vkt->Output();
    ASSERT_TRUE(WaitResults("I19", Results("I19") + 1)) << vkt->Output();
    EXPECT_EQ(db.Count("SELECT COUNT(*) AS n FROM alarms"), 0);
    EXPECT_EQ(Lines("Unable to contact I10 ["), Results("I10") - 1);
    lab.Cut(lab.All(), false);
    ASSERT_TRUE(vkt->WaitForOutput("[WARNING]  Probe reconnected: 10 of 10 sites answer.", 60s)) << vkt->Output();
    ASSERT_FALSE(mail.WaitReceived(2, 60s).empty());
    EXPECT_EQ(Subjects(), (std::vector<std::string>{"Sentrova - Probe isolated notification",
                                                    "Sentrova - Probe reconnected notification"}));
    EXPECT_EQ(mail.Received(1).substr(0, 34), "vkt@example.org\nadmin@example.org\n");
    EXPECT_NE(mail.Received(1).find("\r\n\r\nProbe isolated: 10 of 10 sites silent, site alarms held.\r\n"),
              std::string::npos);
    EXPECT_EQ(Lines("Notifying"), 0);
    // The webhook's queue posts both notices off the scan's path: wait for the second.
    const std::vector<std::string> posts = hook.WaitReceived(2, 20s);
    ASSERT_EQ(posts.size(), 2u) << vkt->Output();
    EXPECT_NE(posts[0].find("\"kind\": \"isolated\""), std::string::npos);
    EXPECT_NE(posts[1].find("\"text\": \"Sentrova D1: Probe reconnected: 10 of 10 sites answer.\""), std::string::npos);
}

TEST_F(AlertDaemonOfMany, ChildrenOfACutParentAreHeldAndThoseStillDownAreNotifiedOnceItAnswers) {
    const std::vector<std::string> children = AddSites("C", 20); // listed before their parent
    db.AddSite("D1", "P", lab.Address(20), "ops@example.org");
    Start("[Alert]\r\nDependencies=1\r\n");
    ASSERT_TRUE(WaitResults("P", 1)) << vkt->Output(); // the first scan made table sitedep
    for (const std::string& child : children)
        db.Exec("INSERT INTO sitedep (CODE, parent) VALUES (" + SQLLiteral(child) + ", 'P')");
    lab.Cut(lab.All());
    ASSERT_TRUE(vkt->WaitForOutput("[MAIL]     Complete.", 60s)) << vkt->Output();
    ASSERT_TRUE(WaitResults("P", Results("P") + 1)) << vkt->Output();
    EXPECT_EQ(Lines("Notifying ..."), 1);
    EXPECT_EQ(Lines("held: parent P down"), 20);
    EXPECT_EQ(Lines("[MAIL]     Notice for C29 held: parent P down"), 1);
    std::vector<int> back;
    for (int i = 3; i <= 20; ++i)
        back.push_back(i);
    lab.Cut(back, false); // the parent and all children but C10, C11, C12
    ASSERT_TRUE(WaitForCount(*vkt, "[MAIL]     Complete.", 4, 60s)) << vkt->Output();
    ASSERT_TRUE(WaitResults("P", Results("P") + 2)) << vkt->Output();
    EXPECT_EQ(Lines("Notifying ..."), 4);
    EXPECT_EQ(Lines("held: parent P down"), 20);
    ASSERT_FALSE(mail.WaitReceived(4, 60s).empty());
    for (int n = 2; n <= 4; ++n)
        EXPECT_NE(mail.Received(n).find("  Code       : C1" + std::to_string(n - 2) + " "), std::string::npos);
}

TEST_F(AlertDaemonOfMany, RetriesKeepAHostThatLosesHalfItsEchoesUpInNineScansOfTen) {
    const std::vector<std::string> sites = AddSites("L", 20);
    lab.MakeLossy(lab.All());
    Start("[Alert]\r\nRetries=4\r\n");
    ASSERT_TRUE(WaitResults("L29", 10)) << vkt->Output();
    vkt->Signal(SIGTERM);
    ASSERT_EQ(vkt->WaitExit(60s), 0);
    const int results = Lines(" Responding (") + Lines("Unable to contact ");
    EXPECT_GE(results, 200);
    EXPECT_EQ(Lines("Polling "), results) << "one Polling and one result line per site and scan";
    // Five lost echoes in a row: 1 in 32.
    EXPECT_LT(Lines("Unable to contact ") * 10, results) << vkt->Output();
}
