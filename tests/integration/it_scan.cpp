// The real daemon scanning every second: probes, alarms, the notification mail and pop-up, the marker,
// recovery, re-notification after a purge; PostgreSQL shared by two daemons and stopped mid-run.
#include "../db/pgserver.h"
#include "db/common.h"
#include "platform/datetime.h"
#include "peers.h"
#include "scan_daemon.h"

#include <gtest/gtest.h>

#include <regex>

using namespace std::chrono_literals;
using Events = std::vector<std::string>;

namespace {

constexpr std::size_t PopupContentOffset = 14 + 2 * 34 + 87;

/// The events with every round-trip time written as "N ms" (loopback answers in 0 or 1 ms).
Events WithoutRtt(Events events) {
    for (std::string& e : events)
        e = std::regex_replace(e, std::regex("\\(\\d+ ms\\)"), "(N ms)");
    return events;
}

std::string ReportTimeOf(const std::string& mail) {
    std::smatch m;
    return std::regex_search(mail, m, std::regex("Report Time : (\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d) "))
               ? m[1].str()
               : std::string();
}

} // namespace

class ScanOnSQLite : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        if (!CanProbe(why)) GTEST_SKIP() << why;
        ASSERT_TRUE(mail.ready) << "aiosmtpd did not start (package python3-aiosmtpd)";
        ASSERT_TRUE(db.Connect()) << db.dm.LastConnectionError();
        db.AddSite("D1", "LOOP", "127.0.0.1");
        // Unresolvable without a query (an empty label): no answer, notified at once.
        db.AddSite("D1", "GHOST", "no..such", "ops@example.org", "Smith, Anna");
        db.Exec("INSERT INTO operator (SurName, FirstName, ext, contactflag) VALUES ('Smith', 'Anna', '127.0.0.1', 3)");
    }
    std::unique_ptr<VktProcess> Start() {
        return std::make_unique<VktProcess>(
            daemon.home.Path(), daemon.work.Path(),
            std::vector<std::string>{"VKT_MAILSLOT_PORT=" + std::to_string(popups.port)});
    }
    long long Rows(const std::string& code) {
        return db.Count("SELECT COUNT(*) AS n FROM alarms WHERE Code = " + SQLLiteral(code));
    }

    TestMailServer mail;
    UdpListener popups;
    TempDir dbDir;
    SharedDb db{"SQLite", dbDir.File("vkt"), ""};
    DaemonHome daemon{db, "D1", "Server=127.0.0.1:" + std::to_string(mail.port) + "\r\nSender=vkt@example.org\r\n"};
};

TEST_F(ScanOnSQLite, OutageIsProbedNotifiedOnceClearedAndNotifiedAgainAfterThePurge) {
    auto vkt = Start();
    ASSERT_TRUE(vkt->WaitForOutput("LOOP Responding", 60s)) << vkt->Output();
    EXPECT_EQ(
        WithoutRtt(LogEvents(vkt->Output(), {"POLL", "AWOL", "MAIL"})),
        (Events{"[POLL] Polling GHOST [no..such]", "[AWOL] Unable to contact GHOST [no..such]", "[MAIL] Notifying ...",
                "[MAIL] Complete.", "[POLL] Polling LOOP [127.0.0.1]", "[POLL] LOOP Responding (N ms)"}))
        << vkt->Output();
    const std::string received = mail.WaitReceived(1, 60s);
    const std::string reportTime = ReportTimeOf(received);
    EXPECT_EQ(received, NotificationMail("ops@example.org", "GHOST", "Depot", "no..such", reportTime,
                                         DateAndMessageId(received)));
    const std::string popup = popups.Receive(60s);
    ASSERT_GT(popup.size(), PopupContentOffset);
    // The pop-up is stamped when it is sent, which may be a second after the mail was composed.
    const std::string popupTime = popup.substr(PopupContentOffset + 50, 19);
    EXPECT_GE(popupTime, reportTime);
    EXPECT_EQ(popup.substr(PopupContentOffset),
              std::string("SENTROVA VIGILOR SYSTEM\0"
                          "127.0.0.1\0\r\n Report Time: ",
                          50) +
                  popupTime + "\r\n Lost contact with GHOST - Depot\r\n IP Address no..such" + std::string(1, '\0'));

    // No second notification while the marker exists; one alarm row per failed probe.
    ASSERT_TRUE(WaitForCount(*vkt, "Unable to contact GHOST", 3, 60s)) << vkt->Output();
    EXPECT_EQ(Occurrences(vkt->Output(), "Notifying ..."), 1);
    EXPECT_EQ(Rows("GHOSTMAILED"), 1);
    EXPECT_GE(Rows("GHOST"), 3);
    EXPECT_GE(db.Count("SELECT COUNT(*) AS n FROM site WHERE CODE = 'LOOP' AND LastRTT IS NOT NULL"), 1);

    // The site answers: every row of the outage goes.
    db.Exec("UPDATE site SET IPaddr = '127.0.0.1' WHERE CODE = 'GHOST'");
    ASSERT_TRUE(vkt->WaitForOutput("GHOST Responding", 60s)) << vkt->Output();
    EXPECT_EQ(Rows("GHOST") + Rows("GHOSTMAILED"), 0);

    // A new outage whose marker is older than a day: the purge at the next start removes it.
    vkt->Signal(SIGTERM);
    ASSERT_EQ(vkt->WaitExit(60s), 0);
    db.Exec("UPDATE site SET IPaddr = 'no..such' WHERE CODE = 'GHOST'");
    db.Exec("INSERT INTO alarms (Code, FailTime) VALUES ('GHOST', '1/2/2026 10:00:00')");
    db.Exec("INSERT INTO alarms (Code, FailTime) VALUES ('GHOSTMAILED', '1/2/2026 10:00:05')");
    vkt.reset();
    std::filesystem::remove(daemon.work.File("vkt.stdout")); // no line of the first run may count
    vkt = Start();
    ASSERT_TRUE(vkt->WaitForOutput("[MAIL]     Complete.", 60s)) << vkt->Output();
    EXPECT_FALSE(mail.WaitReceived(2, 60s).empty());
    EXPECT_EQ(Rows("GHOSTMAILED"), 1) << vkt->Output();
}

class ScanOnPostgreSQL : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        if (!CanProbe(why)) GTEST_SKIP() << why;
        TestPgServer& server = TestPgServer::Shared();
        db = std::make_unique<SharedDb>("PostgreSQL", server.CreateDatabase(),
                                        "127.0.0.1," + std::to_string(server.Port()));
        ASSERT_TRUE(db->Connect()) << db->dm.LastConnectionError();
    }
    std::unique_ptr<SharedDb> db;
};

TEST_F(ScanOnPostgreSQL, TwoDaemonsProbeOnlyTheirOwnSitesAndRideOutAServerStop) {
    db->AddSite("A", "SITE-A", "127.0.0.1");
    db->AddSite("B", "SITE-B", "127.0.0.1");
    DaemonHome homeA(*db, "A"), homeB(*db, "B");
    VktProcess a(homeA.home.Path(), homeA.work.Path()), b(homeB.home.Path(), homeB.work.Path());
    ASSERT_TRUE(WaitForCount(a, "SITE-A Responding", 2, 60s)) << a.Output();
    ASSERT_TRUE(WaitForCount(b, "SITE-B Responding", 2, 60s)) << b.Output();
    EXPECT_EQ(Occurrences(a.Output(), "SITE-B"), 0);
    EXPECT_EQ(Occurrences(b.Output(), "SITE-A"), 0);

    TestPgServer::Shared().Stop();
    const auto stopped = std::chrono::steady_clock::now();
    ASSERT_TRUE(WaitForCount(a, "Database connection lost.", 3, 60s)) << a.Output();
    EXPECT_GE(std::chrono::steady_clock::now() - stopped, 1500ms) << "reconnection is tried once per tick";
    const std::string down = a.Output();
    const std::string outage = down.substr(down.find("Database connection not avalaible."));
    EXPECT_EQ(Occurrences(outage, "Polling"), 0) << "no scan while the server is down";
    // Once the server is gone every tick logs the pair, and nothing else.
    Events lines = LogEvents(down.substr(0, down.rfind("[WARNING]") + 40), {"ERROR", "WARNING", "POLL"});
    ASSERT_GE(lines.size(), 4u);
    const Events pair{"[ERROR] Database connection not avalaible. Attempting to re-establish connection.",
                      "[WARNING] Database connection lost."};
    EXPECT_EQ(Events(lines.end() - 4, lines.end()), (Events{pair[0], pair[1], pair[0], pair[1]})) << down;
    const int polls = Occurrences(down, "SITE-A Responding");
    TestPgServer::Shared().Start();
    ASSERT_TRUE(WaitForCount(a, "SITE-A Responding", polls + 1, 60s)) << a.Output();
    ASSERT_TRUE(WaitForCount(b, "SITE-B Responding", Occurrences(b.Output(), "SITE-B Responding") + 1, 60s));
}

// A daemon whose clock is a day ahead and which has no sites of its own purges the shared alarms
// table by the server's clock: the other daemons' alarm and marker rows stay, and it says once that
// its clock is off.
TEST_F(ScanOnPostgreSQL, DailyPurgeGoesByTheServersClock) {
    const std::string now = FormatSQLDate(false, Now());
    db->Exec("INSERT INTO alarms (Code, FailTime) VALUES ('OTHER', '" + now + "')");
    db->Exec("INSERT INTO alarms (Code, FailTime) VALUES ('OTHERMAILED', '" + now + "')");
    DaemonHome home(*db, "SKEWED");
    VktProcess vkt(home.home.Path(), home.work.Path(),
                   {"LD_PRELOAD=/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1", "FAKETIME=+1d",
                    "FAKETIME_DONT_FAKE_MONOTONIC=1", "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0"});
    ASSERT_TRUE(WaitForCount(vkt, "Purge complete.", 1, 60s)) << vkt.Output();
    EXPECT_EQ(Occurrences(vkt.Output(), "[WARNING] This computer's clock is 1440 minutes ahead of the database "
                                        "server's; alarms are purged by the server's clock."),
              1)
        << vkt.Output();
    EXPECT_EQ(db->Count("SELECT COUNT(*) AS n FROM alarms WHERE code IN ('OTHER', 'OTHERMAILED')"), 2);
}
